#pragma once

#include <QJSValue>
#include <QObject>
#include <QPointer>

namespace erp {
class Form;
}

namespace erp::app::automation {

class ScriptSession;

// A form as scripts see it (`shell.form(name)` and the argument of an onModal handler).
class FormObject final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(QString caption READ caption)
    Q_PROPERTY(bool visible READ visible)
    Q_PROPERTY(QString windowState READ windowState)
    Q_PROPERTY(QString focused READ focused)

public:
    FormObject(Form *form, ScriptSession &session);

    QString name() const { return m_name; }
    QString caption() const;
    // A freed form reads as not visible.
    bool visible() const;
    QString windowState() const; // "normal", "minimized", "maximized"
    QString focused() const;

    Q_INVOKABLE void setWindowState(const QString &state);
    Q_INVOKABLE void close();
    // Each throws when the form has no component of that name (or not of that kind).
    Q_INVOKABLE QJSValue control(const QString &name);
    Q_INVOKABLE QJSValue dataset(const QString &name);
    Q_INVOKABLE QJSValue component(const QString &name);

    // The form of that name that is alive, visible ones first; nullptr when none.
    static Form *find(const QString &name);

private:
    // The form, or a script error when it was freed.
    Form *form() const;
    QObject *findNamed(const QString &name) const;

    QPointer<Form> m_form;
    QString m_name;
    ScriptSession &m_session;
};

} // namespace erp::app::automation
