#include "automation/scriptrunner.h"
#include "mainwindow.h"
#include "shellapplication.h"
#include "shellconfig.h"

#include <erpfw/core/error.h>
#include <erpfw/core/messageservice.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/db/database.h>
#include <erpfwui/shell/help.h>
#include <erpfwui/shell/icons.h>
#include <erpfwui/shell/layoutstore.h>
#include <erpfwui/shell/moduleloader.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/widgets/messagebox.h>
#include <server/cli/secrets.h>
#include <server/embedded/embedded.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTranslator>

#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <string_view>

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

// The toolkit's own texts (context menus, standard dialogs, the command line's help) in
// Portuguese; without the translations installed they stay in English.
void loadToolkitTranslations(QCoreApplication &app)
{
    auto *translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qt"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
    else
        delete translator;
}

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

// The in-process server's call log, kept in the data folder: one line per call, written from
// the server's threads.
class ServerLog
{
public:
    explicit ServerLog(const QString &path)
        : m_file(std::fopen(QFile::encodeName(path).constData(), "a"))
    {
    }
    ~ServerLog()
    {
        if (m_file)
            std::fclose(m_file);
    }
    void write(const std::string &line)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_file)
            return;
        std::fputs(line.c_str(), m_file);
        std::fputc('\n', m_file);
        std::fflush(m_file);
    }

private:
    std::FILE *m_file;
    std::mutex m_mutex;
};

// The shell only reads (writes go through the application server): its own connection is kept
// from writing, and on PostgreSQL takes the read-only role when its login may.
void restrictToReading(Database &database)
{
    QSqlQuery q(database.connection());
    const auto run = [&](const QString &sql) {
        if (!q.exec(sql))
            throw Error(QStringLiteral("Não foi possível restringir à leitura a conexão do sistema com o banco %1: %2")
                            .arg(database.displayUrl(), q.lastError().text()));
    };
    if (database.dialect().driverName() == QLatin1String("QSQLITE")) {
        run(QStringLiteral("PRAGMA query_only = ON"));
        return;
    }
    run(QStringLiteral("SELECT CASE WHEN EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'erp_leitura') "
                       "THEN pg_has_role(current_user, 'erp_leitura', 'MEMBER') ELSE false END"));
    if (q.next() && q.value(0).toBool())
        run(QStringLiteral("SET ROLE erp_leitura"));
    run(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"));
}

int runScript(QMainWindow &window, const automation::ScriptRunner::OpenScreen &openScreen, const QString &file)
{
    QLibrary library(QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/erp-shell-script.so")));
    const auto entry = reinterpret_cast<automation::RunScriptEntry>(library.resolve(automation::kRunScriptEntry));
    if (!entry)
        throw Error(QStringLiteral("Não foi possível carregar o executor de roteiros: %1.").arg(library.errorString()));
    return entry(window, openScreen, file);
}

// The demo branch the embedded database is made with, for a session that names none.
const QString kDemoBranch = QStringLiteral("0101");

QString demoDatabase(const QString &dataDir)
{
    return QDir(dataDir).filePath(QStringLiteral("demo.sqlite"));
}

std::unique_ptr<server::EmbeddedServer> startEmbeddedServer(const ShellConfig &config, const QString &dataDir,
                                                            ServerLog &log)
{
    server::EmbeddedOptions options;
    if (config.dbUrl.isEmpty())
        options.databasePath = demoDatabase(dataDir).toStdString();
    else
        options.databaseUrl = config.dbUrl.toStdString();
    if (!config.operatorName.isEmpty())
        options.operatorName = config.operatorName.toStdString();
    options.password = config.password.toStdString();
    if (config.today.isValid())
        options.today = config.today.toString(Qt::ISODate).toStdString();
    options.log = [&log](const std::string &line) { log.write(line); };
    return std::make_unique<server::EmbeddedServer>(options);
}

int run(ShellApplication &app, const ShellConfig &config)
{
    ConsolePresenter console;
    MessageBoxPresenter boxes;
    const bool toConsole = headless() || !config.screenshotFile.isEmpty();
    MessageService::setPresenter(toConsole ? static_cast<MessagePresenter *>(&console) : &boxes);

    const QString dataDir = prepareDataDir(config);
    ShellContext &context = ShellContext::instance();
    context.setDataDir(dataDir);
    context.setTodayOverride(config.today);
    context.setFiliProc(config.branch);
    context.setOperador(config.operatorName);
    context.setPassword(config.password);
    context.setToken(config.token);
    // the screens take the host as WebURL: a TLS server is named with its scheme
    context.setWebUrl(config.serverTls ? QStringLiteral("https://") + config.serverHost : config.serverHost);
    context.setWebPort(config.serverPort);
    context.setCaFile(config.caFile);
    context.setCompression(config.gzip == QLatin1String("on")    ? ShellContext::Compression::On
                           : config.gzip == QLatin1String("off") ? ShellContext::Compression::Off
                                                                 : ShellContext::Compression::Auto);
    context.setDbUrl(config.dbUrl);

    // The embedded server starts (its database opened, the session's operator written to disk)
    // while the window is made.
    ServerLog serverLog(QDir(dataDir).filePath(QStringLiteral("servidor.log")));
    const bool embedding = config.serverHost.isEmpty();
    // Making the demo database takes seconds, and checking a real operator's password a tenth of
    // one; a demo database made before is served within milliseconds, sooner than the window
    // could be painted to say so.
    const bool slowStart = embedding && (!config.dbUrl.isEmpty() || !QFileInfo::exists(demoDatabase(dataDir)));
    std::future<std::unique_ptr<server::EmbeddedServer>> starting;
    if (embedding)
        starting = std::async(std::launch::async, [&] { return startEmbeddedServer(config, dataDir, serverLog); });

    auto window = std::make_unique<MainWindow>();
    setShellWindow(window.get(), window->mdiArea());
    window->show();

    std::unique_ptr<server::EmbeddedServer> embedded;
    if (embedding) {
        if (slowStart) {
            window->statusBar()->showMessage(QStringLiteral("Preparando o servidor e o banco de demonstração..."));
            QApplication::processEvents();
        }
        embedded = starting.get();
        window->statusBar()->clearMessage();
        context.setWebUrl(QString::fromStdString(embedded->host()));
        context.setWebPort(embedded->port());
        context.setOperador(QString::fromStdString(embedded->operatorName()));
        context.setPassword(QString::fromStdString(embedded->password()));
        context.setDbUrl(QString::fromStdString(embedded->databaseUrl()));
        if (config.branch.isEmpty())
            context.setFiliProc(kDemoBranch);
    }

    Database database(context.dbUrl());
    restrictToReading(database);
    Database::setDefaultDatabase(&database);
    window->setSessionInfo(QStringLiteral("%1:%2%3")
                               .arg(context.webUrl())
                               .arg(context.webPort())
                               .arg(embedded ? QStringLiteral(" (embutido)") : QString()),
                           database.displayUrl(), context.operador(), context.filiProc());
    rememberMainWindow(window.get()); // the operator is known only now
    int status = 0;
    if (!config.scriptFile.isEmpty()) {
        // The script opens what it needs; nothing is opened for it.
        status = runScript(*window, [&window](const QString &code) { window->openScreen(code); }, config.scriptFile);
    } else {
        window->openScreen(config.openCode);
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
    }

    // The modules' windows go first, then the modules finish, then the connections.
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
    QCoreApplication::setApplicationName(QStringLiteral("erp-shell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ERP_VERSION));
    // --help and --version answer without a window system.
    bool version = false;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        version = version || arg == "-v" || arg == "--version";
        help = help || arg == "-h" || arg == "--help" || arg == "--help-all";
    }
    if (version || help) {
        QCoreApplication core(argc, argv);
        loadToolkitTranslations(core);
        std::fputs(qUtf8Printable(version ? versionText() : usageText()), stdout);
        return 0;
    }

    ShellApplication app(argc, argv);
    loadToolkitTranslations(app);
    QApplication::setWindowIcon(applicationIcon());
    installHelpKey();

    ShellConfig config;
    try {
        config = parseShellConfig(QCoreApplication::arguments());
    } catch (const Error &e) {
        printError(e.message());
        std::fprintf(stderr, "Use --help para ver as opções.\n");
        return 2;
    }
    for (const std::string &warning : server::hideSecretArguments(argc, argv, {"password", "token"}))
        printError(QString::fromStdString(warning));
    for (const QString &warning : config.warnings)
        printError(warning);
    if (!config.scriptFile.isEmpty()) {
        QString bad;
        if (!QFileInfo(config.scriptFile).isFile())
            bad = QStringLiteral("--script: roteiro %1 não encontrado.").arg(config.scriptFile);
        else if (!config.screenshotFile.isEmpty())
            bad = QStringLiteral("--script e --screenshot não podem ser usados juntos (use shell.screenshot no roteiro).");
        if (!bad.isEmpty()) {
            printError(bad);
            return 2;
        }
    }

    try {
        return run(app, config);
    } catch (const std::exception &e) {
        const QString text = QString::fromUtf8(e.what());
        printError(text);
        if (!headless() && config.scriptFile.isEmpty()) // a scripted run has nobody to click OK
            QMessageBox::critical(nullptr, QStringLiteral("ERP"), text);
        return 1;
    }
}
