#pragma once

#include <erpfw/core/messageservice.h>

#include <QByteArray>
#include <QHash>
#include <QJSValue>
#include <QList>
#include <QString>

#include <functional>

class QJSEngine;

namespace erp {
class Form;
}

namespace erp::app::automation {

// Where a script went wrong: the message, and the script's file and line when known.
struct ScriptFailure
{
    QString message;
    QString fileUrl; // as the engine names files: "file:///..."
    int line = 0;    // 0: not known yet
};

// The state of one scripted run: what the screens showed (messages, server calls) and what
// the script owes them (answers to questions, handlers of modal forms). A question without an
// answer, a modal form without a handler or left open, and a script error inside a handler end
// the run; the first of them is the one reported.
class ScriptSession final : public MessagePresenter
{
public:
    explicit ScriptSession(QJSEngine &engine);
    ~ScriptSession() override;
    ScriptSession(const ScriptSession &) = delete;
    ScriptSession &operator=(const ScriptSession &) = delete;

    QJSEngine &engine() const { return m_engine; }

    // Answers from the queue; a dialog with one button is answered with it.
    Button present(DialogType type, const QString &text, Buttons buttons) override;
    void queueAnswers(const QList<Button> &answers) { m_answers.append(answers); }
    QJSValue messages() const;
    void clearMessages() { m_messages.clear(); }

    void recordServerCall(const QString &method, const QByteArray &paramsJson);
    QJSValue serverCalls() const;
    void clearServerCalls() { m_serverCalls.clear(); }

    // fn(form) runs inside the modal loop of every form of that name; an undefined or null fn
    // removes the handler.
    void setModalHandler(const QString &formName, const QJSValue &fn);
    // fn(overlay) runs when the wait overlay of a server call shows; null removes it.
    void setBusyHandler(const QJSValue &fn) { m_busyHandler = fn; }
    // Called from inside the wait of a server call, when its overlay shows.
    void busyShown(Form *overlay);
    // The trampoline that calls a handler and hands back what it threw ({thrown: e}).
    void setHandlerRunner(const QJSValue &runner) { m_runner = runner; }
    // Called from inside the modal loop of every modal form.
    void modalShown(Form *form);

    bool failed() const { return m_failed; }
    const ScriptFailure &failure() const { return m_failure; }
    // The first failure stands; later ones are dropped.
    void fail(const QString &message);
    // Gives a failure without a place the place of a script error.
    void locate(const QJSValue &error);

    // Runs code for the script: an erp::Error (a misuse such as an unknown name) becomes a
    // script error. False when it threw.
    bool call(const std::function<void()> &code);
    // A user's action: runs it, lets the events it caused run, then ends the script when the
    // run has failed meanwhile. False when the script must stop.
    bool act(const std::function<void()> &action);
    // Throws a script error with the text at the script's current line.
    void throwError(const QString &text);

    // What the user saw, oldest first (for the report of a failed run).
    QStringList messageLog() const;

private:
    struct Message
    {
        DialogType type;
        QString text;
        QString answer;
    };
    struct ServerCall
    {
        QString method;
        QByteArray params;
    };

    QJSEngine &m_engine;
    QList<Button> m_answers;
    QList<Message> m_messages;
    QList<ServerCall> m_serverCalls;
    QHash<QString, QJSValue> m_modalHandlers;
    QJSValue m_busyHandler;
    QJSValue m_runner;
    bool m_failed = false;
    ScriptFailure m_failure;
};

// The text of a thrown value ("Error: ..." for error objects).
QString errorText(const QJSValue &error);

} // namespace erp::app::automation
