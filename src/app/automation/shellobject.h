#pragma once

#include <QJSValue>
#include <QObject>
#include <QStringList>

#include <functional>

class QMainWindow;
class QPixmap;

namespace erp::app::automation {

class ScriptSession;

// The global `shell` of a script: opens screens, finds forms, answers questions and reads
// what the session recorded.
class ShellObject final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QJSValue messages READ messages)
    Q_PROPERTY(QJSValue serverCalls READ serverCalls)
    Q_PROPERTY(QJSValue openedScreens READ openedScreens)
    Q_PROPERTY(int cursor READ cursor)
    Q_PROPERTY(QStringList busyEvents READ busyEvents)
    Q_PROPERTY(QString today READ today)

public:
    using OpenScreen = std::function<void(const QString &code)>;
    ShellObject(ScriptSession &session, QMainWindow &window, OpenScreen openScreen);

    Q_INVOKABLE void open(const QString &code);
    Q_INVOKABLE QJSValue form(const QString &name);
    Q_INVOKABLE void onModal(const QString &formName, const QJSValue &fn);
    // fn(overlay) runs once inside every server call's wait, when its overlay shows.
    Q_INVOKABLE void onBusy(const QJSValue &fn);
    // shell.answer(...) hands its arguments over as one list.
    Q_INVOKABLE void answerList(const QStringList &buttons);
    QJSValue messages() const;
    Q_INVOKABLE void clearMessages();
    QJSValue serverCalls() const;
    Q_INVOKABLE void clearServerCalls();
    QJSValue openedScreens() const;
    Q_INVOKABLE void clearOpenedScreens();
    int cursor() const;
    QStringList busyEvents() const;
    QString today() const;
    // A PNG of the main window, with the dialogs open over it.
    Q_INVOKABLE void screenshot(const QString &path);
    Q_INVOKABLE void processEvents();
    // For ms milliseconds, timers included.
    Q_INVOKABLE void processEvents(int ms);

private:
    QPixmap snapshot() const;

    ScriptSession &m_session;
    QMainWindow &m_window;
    OpenScreen m_openScreen;
};

// The helpers behind the globals assert and log.
class ScriptHelpers final : public QObject
{
    Q_OBJECT

public:
    explicit ScriptHelpers(ScriptSession &session) : m_session(session) {}

    Q_INVOKABLE void check(const QJSValue &condition, const QJSValue &message);
    Q_INVOKABLE void print(const QString &line);

private:
    ScriptSession &m_session;
};

} // namespace erp::app::automation
