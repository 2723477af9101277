#include "scriptrunner.h"

#include "input.h"
#include "scriptsession.h"
#include "shellobject.h"

#include <erpfw/core/messageservice.h>
#include <erpfw/net/netconnection.h>
#include <erpfwui/forms/form.h>
#include <erpfwui/shell/waitoverlay.h>

#include <QFile>
#include <QFileInfo>
#include <QJSEngine>
#include <QMainWindow>
#include <QTest>
#include <QUrl>

#include <cstdio>
#include <type_traits>

namespace erp::app::automation {
namespace {

// The globals that need JavaScript of their own, and the trampoline that runs an onModal
// handler and hands back what it threw.
const char kPrelude[] = R"JS(
(function (global, shell, helpers) {
    shell.answer = function () {
        shell.answerList(Array.prototype.map.call(arguments, String));
    };
    global.shell = shell;
    global.assert = helpers.check;
    global.log = function () {
        helpers.print(Array.prototype.map.call(arguments, function (v) {
            if (typeof v === "string")
                return v;
            if (v !== null && typeof v === "object") {
                try { return JSON.stringify(v); } catch (e) { return String(v); }
            }
            return String(v);
        }).join(" "));
    };
    return function (fn, form) {
        try { fn(form); } catch (e) { return { thrown: e }; }
    };
})
)JS";

// Hooks of the framework that point at the session while the script runs.
class SessionHooks
{
public:
    explicit SessionHooks(ScriptSession &session)
        : m_previousPresenter(MessageService::presenter())
    {
        MessageService::setPresenter(&session);
        setServerCallObserver([&session](const QString &method, const QByteArray &params) {
            session.recordServerCall(method, params);
        });
        Form::setModalHook([&session](Form *form) { session.modalShown(form); });
        setServerWaitHook([&session](Form *overlay) { session.busyShown(overlay); });
    }
    ~SessionHooks()
    {
        setServerWaitHook(nullptr);
        Form::setModalHook(nullptr);
        setServerCallObserver(nullptr);
        MessageService::setPresenter(m_previousPresenter);
    }
    SessionHooks(const SessionHooks &) = delete;
    SessionHooks &operator=(const SessionHooks &) = delete;

private:
    MessagePresenter *m_previousPresenter;
};

void printError(const QString &text)
{
    std::fprintf(stderr, "erp-shell: %s\n", qUtf8Printable(text));
}

// The line of the script a stack trace ("function:line:column:file" frames) passes through.
int lineInTrace(const QStringList &trace, const QString &scriptUrl)
{
    for (const QString &frame : trace) {
        const QStringList parts = frame.split(QLatin1Char(':'));
        if (parts.size() >= 4 && frame.endsWith(scriptUrl))
            return parts.at(1).toInt();
    }
    return 0;
}

} // namespace

ScriptRunner::ScriptRunner(QMainWindow &window, OpenScreen openScreen)
    : m_window(window)
    , m_openScreen(std::move(openScreen))
{
}

int ScriptRunner::run(const QString &scriptFile)
{
    QFile file(scriptFile);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("%1: não foi possível ler o roteiro: %2.").arg(scriptFile, file.errorString()));
        return 1;
    }
    const QString source = QString::fromUtf8(file.readAll());
    const QString path = QFileInfo(scriptFile).absoluteFilePath();
    const QString scriptUrl = QUrl::fromLocalFile(path).toString();

    QJSEngine engine;
    ScriptSession session(engine);
    SessionHooks hooks(session);
    auto *shell = new ShellObject(session, m_window, m_openScreen);
    auto *helpers = new ScriptHelpers(session);
    const QJSValue install = engine.evaluate(QString::fromUtf8(kPrelude), QStringLiteral("erp-shell:prelude"));
    session.setHandlerRunner(install.call({engine.globalObject(), engine.newQObject(shell), engine.newQObject(helpers)}));

    // Keys and clicks reach a window the way they reach the one the user works in.
    m_window.activateWindow();
    static_cast<void>(QTest::qWaitForWindowActive(&m_window, 5000)); // the focus moves also without it
    settle();

    QStringList trace;
    const QJSValue result = engine.evaluate(source, path, 1, &trace);
    const bool threw = !trace.isEmpty(); // the engine gives a trace only for a value thrown out of the script
    settle();
    if (!threw && !session.failed())
        return 0;

    QString message = session.failed() ? session.failure().message : errorText(result);
    int line = session.failed() ? session.failure().line : 0;
    QString where = session.failed() && line > 0 ? session.failure().fileUrl : QString();
    if (line == 0 && threw) {
        if (result.isError() && result.property(QStringLiteral("fileName")).toString() == scriptUrl)
            line = result.property(QStringLiteral("lineNumber")).toInt();
        if (line == 0)
            line = lineInTrace(trace, scriptUrl);
        where = scriptUrl;
    }
    const QString shownFile = where.isEmpty() || where == scriptUrl ? scriptFile : QUrl(where).toLocalFile();
    printError(line > 0 ? QStringLiteral("%1:%2: %3").arg(shownFile).arg(line).arg(message)
                        : QStringLiteral("%1: %2").arg(shownFile, message));
    const QStringList shown = session.messageLog();
    if (!shown.isEmpty())
        std::fprintf(stderr, "Mensagens mostradas:\n  %s\n", qUtf8Printable(shown.join(QStringLiteral("\n  "))));
    return 1;
}

} // namespace erp::app::automation

extern "C" Q_DECL_EXPORT int erpShellRunScript(QMainWindow &window,
                                               const erp::app::automation::ScriptRunner::OpenScreen &openScreen,
                                               const QString &scriptFile)
{
    static_assert(std::is_same_v<decltype(&erpShellRunScript), erp::app::automation::RunScriptEntry>);
    return erp::app::automation::ScriptRunner(window, openScreen).run(scriptFile);
}
