#include "scriptsession.h"

#include "formobject.h"
#include "input.h"

#include <erpfw/core/error.h>
#include <erpfwui/forms/form.h>

#include <QJSEngine>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTest>

namespace erp::app::automation {
namespace {

QList<Button> offeredButtons(Buttons buttons)
{
    QList<Button> list;
    for (Button b : {Button::Yes, Button::No, Button::OK, Button::Cancel})
        if (buttons.testFlag(b))
            list.append(b);
    return list;
}

// The answer that changes nothing, for a question the script did not answer.
Button harmlessButton(const QList<Button> &offered)
{
    for (Button b : {Button::Cancel, Button::No, Button::OK})
        if (offered.contains(b))
            return b;
    return offered.value(0, Button::None);
}

QString buttonList(const QList<Button> &buttons)
{
    QStringList names;
    for (Button b : buttons)
        names.append(buttonName(b));
    return names.join(QStringLiteral(", "));
}

} // namespace

QString errorText(const QJSValue &error)
{
    return error.toString();
}

ScriptSession::ScriptSession(QJSEngine &engine)
    : m_engine(engine)
{
}

ScriptSession::~ScriptSession() = default;

Button ScriptSession::present(DialogType type, const QString &text, Buttons buttons)
{
    const QList<Button> offered = offeredButtons(buttons);
    Button chosen = offered.value(0, Button::OK);
    if (offered.size() > 1) {
        chosen = harmlessButton(offered);
        if (m_failed) {
            // The run is ending: nobody answers any more.
        } else if (m_answers.isEmpty()) {
            fail(QStringLiteral("Pergunta sem resposta na fila (use shell.answer): \"%1\" [%2].")
                     .arg(text, buttonList(offered)));
        } else if (const Button queued = m_answers.takeFirst(); !offered.contains(queued)) {
            fail(QStringLiteral("A resposta %1 não é um botão da pergunta \"%2\" [%3].")
                     .arg(buttonName(queued), text, buttonList(offered)));
        } else {
            chosen = queued;
        }
    }
    m_messages.append({type, text, buttonName(chosen)});
    return chosen;
}

QJSValue ScriptSession::messages() const
{
    QJSValue list = m_engine.newArray(uint(m_messages.size()));
    for (qsizetype i = 0; i < m_messages.size(); ++i) {
        QJSValue m = m_engine.newObject();
        m.setProperty(QStringLiteral("type"), dialogTypeName(m_messages[i].type));
        m.setProperty(QStringLiteral("text"), m_messages[i].text);
        m.setProperty(QStringLiteral("answer"), m_messages[i].answer);
        list.setProperty(quint32(i), m);
    }
    return list;
}

QStringList ScriptSession::messageLog() const
{
    QStringList lines;
    for (const Message &m : m_messages)
        lines.append(QStringLiteral("[%1] %2 -> %3").arg(dialogTypeName(m.type), m.text, m.answer));
    return lines;
}

void ScriptSession::recordServerCall(const QString &method, const QByteArray &paramsJson)
{
    m_serverCalls.append({method, paramsJson});
}

QJSValue ScriptSession::serverCalls() const
{
    QJSValue list = m_engine.newArray(uint(m_serverCalls.size()));
    for (qsizetype i = 0; i < m_serverCalls.size(); ++i) {
        QJSValue c = m_engine.newObject();
        c.setProperty(QStringLiteral("method"), m_serverCalls[i].method);
        c.setProperty(QStringLiteral("params"),
                      m_engine.toScriptValue(QJsonDocument::fromJson(m_serverCalls[i].params).array()));
        list.setProperty(quint32(i), c);
    }
    return list;
}

void ScriptSession::setModalHandler(const QString &formName, const QJSValue &fn)
{
    if (fn.isUndefined() || fn.isNull())
        m_modalHandlers.remove(formName);
    else
        m_modalHandlers.insert(formName, fn);
}

void ScriptSession::modalShown(Form *form)
{
    QPointer<Form> alive(form);
    const QString name = form->objectName();
    const QJSValue handler = m_modalHandlers.value(name);
    if (m_failed) {
        // The run is ending: the dialog goes at once.
    } else if (!handler.isCallable()) {
        fail(QStringLiteral("O formulário modal %1 (\"%2\") foi aberto sem um tratador shell.onModal.")
                 .arg(name, form->windowTitle()));
    } else {
        if (!form->isActiveWindow()) {
            form->activateWindow();
            static_cast<void>(QTest::qWaitForWindowActive(form, 2000)); // the focus moves also without it
        }
        const QJSValue outcome = m_runner.call({handler, m_engine.newQObject(new FormObject(form, *this))});
        if (outcome.isObject() && outcome.hasOwnProperty(QStringLiteral("thrown"))) {
            const QJSValue thrown = outcome.property(QStringLiteral("thrown"));
            fail(errorText(thrown));
            locate(thrown);
        } else {
            settle();
            if (alive && alive->isInModalLoop())
                fail(QStringLiteral("O formulário modal %1 continua aberto ao fim do seu tratador shell.onModal.")
                         .arg(name));
        }
    }
    if (alive && alive->isInModalLoop()) {
        alive->close();
        if (alive && alive->isInModalLoop())
            alive->abandonModal();
    }
}

void ScriptSession::busyShown(Form *overlay)
{
    if (m_failed || !m_busyHandler.isCallable())
        return;
    const QJSValue outcome = m_runner.call({m_busyHandler, m_engine.newQObject(new FormObject(overlay, *this))});
    if (outcome.isObject() && outcome.hasOwnProperty(QStringLiteral("thrown"))) {
        const QJSValue thrown = outcome.property(QStringLiteral("thrown"));
        fail(errorText(thrown));
        locate(thrown);
    }
}

void ScriptSession::fail(const QString &message)
{
    if (m_failed)
        return;
    m_failed = true;
    m_failure.message = message;
}

void ScriptSession::locate(const QJSValue &error)
{
    if (!m_failed || m_failure.line > 0 || !error.isError())
        return;
    m_failure.line = error.property(QStringLiteral("lineNumber")).toInt();
    m_failure.fileUrl = error.property(QStringLiteral("fileName")).toString();
}

void ScriptSession::throwError(const QString &text)
{
    QJSValue error = m_engine.newErrorObject(QJSValue::GenericError, text);
    locate(error);
    m_engine.throwError(error);
}

bool ScriptSession::call(const std::function<void()> &code)
{
    try {
        code();
        return true;
    } catch (const Error &e) {
        throwError(e.message());
    } catch (const Abort &) {
        throwError(QStringLiteral("A ação foi interrompida."));
    } catch (const std::exception &e) {
        throwError(QString::fromUtf8(e.what()));
    } catch (...) {
        throwError(QStringLiteral("Erro inesperado."));
    }
    return false;
}

bool ScriptSession::act(const std::function<void()> &action)
{
    if (!m_failed) {
        if (!call(action))
            return false;
        settle();
    }
    if (m_failed) {
        throwError(m_failure.message);
        return false;
    }
    return true;
}

} // namespace erp::app::automation
