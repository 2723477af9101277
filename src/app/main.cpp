#include "mainwindow.h"
#include "shellapplication.h"
#include "shellconfig.h"

#include <erpfw/core/error.h>
#include <erpfw/core/messageservice.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/db/database.h>
#include <erpfwui/shell/moduleloader.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/widgets/messagebox.h>

#include <QDir>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

using namespace erp;
using namespace erp::app;

namespace {

void printError(const QString &text)
{
    std::fprintf(stderr, "erp-shell: %s\n", qUtf8Printable(text));
}

// Without a window system to show a message box on, messages go to standard error, and a
// run that showed an error ends with a failure status.
class ConsolePresenter final : public MessagePresenter
{
public:
    Button present(DialogType type, const QString &text, Buttons buttons) override
    {
        std::fprintf(stderr, "erp-shell: [%s] %s\n", qUtf8Printable(dialogTypeName(type)),
                     qUtf8Printable(text));
        if (type == DialogType::Error)
            ++errors;
        for (Button b : {Button::OK, Button::Yes, Button::Cancel, Button::No}) {
            if (buttons.testFlag(b))
                return b;
        }
        return Button::None;
    }
    int errors = 0;
};

bool headless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

QString prepareDataDir(const ShellConfig &config)
{
    const QString dir = config.dataDir.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        : QDir(config.dataDir).absolutePath();
    if (!QDir().mkpath(dir))
        throw Error(QStringLiteral("Não foi possível criar a pasta de dados %1.").arg(dir));
    return dir;
}

int run(ShellApplication &app, const ShellConfig &config)
{
    ConsolePresenter console;
    MessageBoxPresenter boxes;
    const bool toConsole = headless() || !config.screenshotFile.isEmpty();
    MessageService::setPresenter(toConsole ? static_cast<MessagePresenter *>(&console) : &boxes);

    ShellContext &context = ShellContext::instance();
    context.setDataDir(prepareDataDir(config));
    context.setTodayOverride(config.today);
    context.setFiliProc(config.branch);
    context.setOperador(config.operatorName);
    context.setPassword(config.password);
    context.setWebUrl(config.serverHost);
    context.setWebPort(config.serverPort);
    context.setDbUrl(config.dbUrl);

    Database database(config.dbUrl);
    Database::setDefaultDatabase(&database);

    auto window = std::make_unique<MainWindow>();
    setShellWindow(window.get(), window->mdiArea());
    window->setSessionInfo(QStringLiteral("%1:%2").arg(context.webUrl()).arg(context.webPort()),
                           database.displayUrl(), context.operador(), context.filiProc());
    window->show();
    window->openScreen(config.openCode);

    int status = 0;
    if (!config.screenshotFile.isEmpty()) {
        QApplication::processEvents();
        if (!window->grab().save(config.screenshotFile, "PNG")) {
            printError(QStringLiteral("não foi possível gravar a imagem %1.").arg(config.screenshotFile));
            status = 1;
        }
        if (console.errors > 0)
            status = 1;
    } else {
        status = app.exec();
    }

    // The modules' windows go first; then the modules finish, then the connections.
    setShellWindow(nullptr, nullptr);
    window.reset();
    ModuleLoader::instance().finalizeAll();
    Database::setDefaultDatabase(nullptr);
    MessageService::setPresenter(nullptr);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication::setApplicationName(QStringLiteral("erp-shell"));
    ShellApplication app(argc, argv);

    ShellConfig config;
    try {
        config = parseShellConfig(QCoreApplication::arguments());
    } catch (const Error &e) {
        printError(e.message());
        std::fprintf(stderr, "Use --help para ver as opções.\n");
        return 2;
    }
    if (config.help) {
        std::fputs(qUtf8Printable(usageText()), stdout);
        return 0;
    }
    if (!config.scriptFile.isEmpty()) {
        printError(QStringLiteral("--script: a execução de roteiros ainda não está disponível nesta versão."));
        return 2;
    }

    try {
        return run(app, config);
    } catch (const std::exception &e) {
        const QString text = QString::fromUtf8(e.what());
        printError(text);
        if (!headless())
            QMessageBox::critical(nullptr, QStringLiteral("ERP"), text);
        return 1;
    }
}
