// The embedded server on a database that already exists, SQLite and PostgreSQL (the latter
// when ERP_TEST_PG_URL names a superuser): served as it is, refused when its schema is not
// current, real operators' passwords left alone; and erp-shell running a session on it.
#include "shellrun.h"

#include <erpfw/core/error.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/net/netconnection.h>

#include <server/db/schema.h>
#include <server/demo/seed.h>
#include <server/embedded/embedded.h>
#include <server/http/auth.h>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <unistd.h>

using namespace erp;
namespace db = erp::server::db;

namespace {

enum class Backend { Sqlite, Postgres };

std::string pgAdminUrl()
{
    return qEnvironmentVariable("ERP_TEST_PG_URL").toStdString();
}

// A throw-away database: a file in a temporary folder, or a database of its own on the
// PostgreSQL of ERP_TEST_PG_URL, dropped at the end.
class ScratchDatabase
{
public:
    explicit ScratchDatabase(Backend backend)
    {
        if (backend == Backend::Sqlite) {
            url = "sqlite:" + m_dir.filePath(QStringLiteral("erp.sqlite")).toStdString();
            return;
        }
        static std::atomic<int> counter{0};
        m_pgName = "shell_embedded_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
        admin("DROP DATABASE IF EXISTS " + m_pgName + " WITH (FORCE)");
        admin("CREATE DATABASE " + m_pgName);
        const std::string base = pgAdminUrl();
        url = base.substr(0, base.rfind('/') + 1) + m_pgName;
    }
    ~ScratchDatabase()
    {
        if (!m_pgName.empty()) {
            try {
                admin("DROP DATABASE IF EXISTS " + m_pgName + " WITH (FORCE)");
            } catch (...) {
            }
        }
    }

    std::unique_ptr<db::Connection> connect() const { return db::connect(db::DbUrl::parse(url)); }

    // The current schema and demo data made by the server library, as rec-appserver seed does.
    void prepare(long accounts)
    {
        auto c = connect();
        server::migrate(*c);
        server::SeedOptions o;
        o.accounts = accounts;
        o.seed = 5;
        o.today = QDate(2024, 3, 15);
        server::seed(*c, o);
    }

    std::string scalar(const std::string &sql, std::initializer_list<db::Value> params = {}) const
    {
        auto c = connect();
        return db::queryText(*c, sql, params);
    }

    std::string url;

private:
    static void admin(const std::string &sql) { db::connect(db::DbUrl::parse(pgAdminUrl()))->execScript(sql); }

    QTemporaryDir m_dir;
    std::string m_pgName;
};

std::string startError(const server::EmbeddedOptions &options)
{
    try {
        server::EmbeddedServer refused(options);
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return "(o servidor começou)";
}

server::EmbeddedOptions existing(const std::string &url)
{
    server::EmbeddedOptions o;
    o.databaseUrl = url;
    o.workers = 2;
    o.log = [](const std::string &) {};
    return o;
}

// One call through the shell's own connection, with the credential the server handed out.
ServerResult callThrough(const server::EmbeddedServer &server)
{
    ShellContext &context = ShellContext::instance();
    context.setOperador(QString::fromStdString(server.operatorName()));
    context.setPassword(QString::fromStdString(server.password()));
    NetConnection connection;
    connection.setServerName(QStringLiteral("REC00800.rdmRecCont"));
    connection.setHost(QString::fromStdString(server.host()));
    connection.setPort(server.port());
    return connection.call(QStringLiteral("GetTipoCtReceber")).value<ServerResult>();
}

class EmbeddedOnExisting : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        if (GetParam() == Backend::Postgres && pgAdminUrl().empty())
            GTEST_SKIP() << "ERP_TEST_PG_URL não definida";
        database = std::make_unique<ScratchDatabase>(GetParam());
    }
    std::unique_ptr<ScratchDatabase> database;
};

const char kHashOf[] = "SELECT DSHASHSENHA FROM OPERADOR WHERE NMOPERADOR = ?";

} // namespace

TEST_P(EmbeddedOnExisting, ServesTheDatabaseAsItIsAndLeavesRealOperatorsPasswordsAlone)
{
    database->prepare(60);
    {
        auto c = database->connect();
        server::saveOperator(*c, "ana", "segredo");
    }
    const std::string accounts = database->scalar("SELECT COUNT(*) FROM CONTRECEBER");
    const std::string anaHash = database->scalar(kHashOf, {std::string("ana")});

    // The demo operator belongs to the demo database: nothing is written to this one.
    std::string error = startError(existing(database->url));
    EXPECT_NE(error.find("informe a senha do operador \"demo\""), std::string::npos) << error;
    EXPECT_EQ(database->scalar("SELECT COUNT(*) FROM OPERADOR WHERE NMOPERADOR = 'demo'"), "0");
    EXPECT_EQ(database->scalar("SELECT COUNT(*) FROM CONTRECEBER"), accounts) << "no demo data added";

    // A real operator comes with the password that is already the operator's.
    server::EmbeddedOptions ana = existing(database->url);
    ana.operatorName = "ana";
    ana.password = "segredo";
    {
        server::EmbeddedServer session(ana);
        EXPECT_EQ(session.databaseUrl(), database->url);
        EXPECT_EQ(session.password(), "segredo");
        const ServerResult r = callThrough(session);
        EXPECT_TRUE(r.ok) << r.errorMessage.toStdString();
    }

    ana.password = "errada";
    error = startError(ana);
    EXPECT_NE(error.find("operador \"ana\" ou senha inválidos"), std::string::npos) << error;
    ana.password.clear();
    error = startError(ana);
    EXPECT_NE(error.find("informe a senha do operador \"ana\""), std::string::npos) << error;
    EXPECT_EQ(database->scalar(kHashOf, {std::string("ana")}), anaHash);
}

TEST_P(EmbeddedOnExisting, RefusesADatabaseWhoseSchemaIsNotCurrentAndChangesNothing)
{
    const int latest = server::latestSchemaVersion();
    const auto refusal = [this] {
        const std::string e = startError(existing(database->url));
        EXPECT_NE(e.find("Não foi possível iniciar o servidor embutido com o banco"), std::string::npos) << e;
        return e;
    };

    std::string error = refusal();
    if (GetParam() == Backend::Sqlite) {
        EXPECT_NE(error.find("o arquivo não existe"), std::string::npos) << error;
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(database->url.substr(7)))) << "nothing is created";
        database->connect(); // an empty file
        error = refusal();
    }
    EXPECT_NE(error.find("não tem as tabelas do sistema"), std::string::npos) << error;
    EXPECT_EQ(database->scalar("SELECT COUNT(*) FROM " +
                               std::string(GetParam() == Backend::Sqlite ? "sqlite_master" : "pg_tables WHERE schemaname = 'public'")),
              "0");

    database->prepare(20);
    auto c = database->connect();
    c->execScript("DELETE FROM VERSAOESQUEMA WHERE NRVERSAO = " + std::to_string(latest));
    error = refusal();
    EXPECT_NE(error.find("versão " + std::to_string(latest - 1) + " do esquema e o sistema precisa da versão " +
                         std::to_string(latest)),
              std::string::npos)
        << error;
    EXPECT_NE(error.find("rec-appserver migrate"), std::string::npos) << error;
    EXPECT_EQ(server::schemaVersion(*c), latest - 1) << "an old database is not upgraded behind the user's back";
    EXPECT_EQ(database->scalar("SELECT COUNT(*) FROM OPERADOR"), "0") << "nor given an operator";

    c->execScript("INSERT INTO VERSAOESQUEMA (NRVERSAO, DTAPLICACAO) VALUES (" + std::to_string(latest) + ", '2024-01-01'), (" +
                  std::to_string(latest + 1) + ", '2024-01-01')");
    error = refusal();
    EXPECT_NE(error.find("mais nova"), std::string::npos) << error;
}

// erp-shell --db URL without --server: the embedded server on that database, a session that
// loads a company's accounts and recalculates one.
TEST_P(EmbeddedOnExisting, ShellRunsAScriptedSessionOnIt)
{
    database->prepare(300);
    server::saveOperator(*database->connect(), "ana", "segredo");
    QTemporaryDir home;
    // The password from a file only its owner reads: never on the command line.
    const QString passwordFile = home.filePath(QStringLiteral("senha"));
    shelltest::writeFile(passwordFile, "segredo\n");
    QFile::setPermissions(passwordFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString script = home.filePath(QStringLiteral("session.js"));
    shelltest::writeFile(script, R"(
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("1");
var grid = screen.control("dbgPadrao");
grid.focus();
var accounts = screen.dataset("cdsContRec");
assert(accounts.recordCount > 0 && accounts.rows().every(function (r) { return r.CDEMPRESA === "01"; }),
       "company 01's accounts: " + accounts.recordCount);
var rows = accounts.rows(), row = -1;
for (var i = 0; i < rows.length && row < 0; ++i)
    if (rows[i].CDTPCTRECEB === "DUP" && rows[i].IDCTBLCTREC === "N")
        row = i;
assert(row >= 0, "an account to recalculate");
var key = rows[row].NRLANCTONF + "/" + rows[row].NRPARCELAREC;
grid.setCurrentRow(row);
grid.key("Space");
screen.control("sbtConfirmar").click();
assert(shell.messages.length === 1 && shell.messages[0].type === "information", JSON.stringify(shell.messages));
var after = accounts.rows().filter(function (r) { return r.NRLANCTONF + "/" + r.NRPARCELAREC === key; });
assert(after.length >= 1 && after[0].IDCTBLCTREC === "S", "accounted: " + JSON.stringify(after[0]));
log("recalculada " + key);
)");
    const shelltest::ShellRun run = shelltest::runShell(
        {QStringLiteral("--script"), script, QStringLiteral("--db"), QString::fromStdString(database->url),
         QStringLiteral("--data-dir"), home.filePath(QStringLiteral("dados")), QStringLiteral("--today"),
         QStringLiteral("2024-03-15"), QStringLiteral("--branch"), QStringLiteral("0101"), QStringLiteral("--operator"),
         QStringLiteral("ana"), QStringLiteral("--password-file"), passwordFile},
        home.path());
    ASSERT_EQ(run.status, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("recalculada "))) << run.out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(home.filePath(QStringLiteral("dados/demo.sqlite")))) << "no demo database beside it";
    EXPECT_EQ(database->scalar("SELECT COUNT(*) FROM AUDITORIA WHERE NMOPERADOR = 'ana'"), "1");
    EXPECT_EQ(database->scalar("SELECT COUNT(*) FROM OPERADOR"), "1") << "no demo operator";

    // A database without the schema ends the start with its reason.
    ScratchDatabase empty(GetParam());
    const shelltest::ShellRun refused = shelltest::runShell(
        {QStringLiteral("--script"), script, QStringLiteral("--db"), QString::fromStdString(empty.url),
         QStringLiteral("--data-dir"), home.filePath(QStringLiteral("dados"))},
        home.path());
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("servidor embutido"))) << refused.err.toStdString();
}

// A read cancelled while the server works on it (its query held up by a lock until then): the
// call ends at once with its message, and the server, once it can go on, finds the connection
// gone, stops streaming and says so in its log.
TEST_P(EmbeddedOnExisting, ACancelledReadEndsAtOnceAndTheServerStopsItsWork)
{
    if (GetParam() != Backend::Postgres)
        GTEST_SKIP() << "a table lock that holds readers up is PostgreSQL's";
    database->prepare(300);
    server::saveOperator(*database->connect(), "ana", "segredo");
    std::mutex mutex;
    std::vector<std::string> lines;
    server::EmbeddedOptions options = existing(database->url);
    options.operatorName = "ana";
    options.password = "segredo";
    options.log = [&](const std::string &line) {
        const std::lock_guard lock(mutex);
        lines.push_back(line);
    };
    server::EmbeddedServer session(options);
    ShellContext &context = ShellContext::instance();
    context.setOperador(QString::fromStdString(session.operatorName()));
    context.setPassword(QString::fromStdString(session.password()));
    NetConnection connection;
    connection.setServerName(QStringLiteral("REC00800.rdmRecCont"));
    connection.setHost(QString::fromStdString(session.host()));
    connection.setPort(session.port());
    connection.describeCall(QStringLiteral("GetContRec"), QStringLiteral("Lendo contas a receber..."), true);
    connection.open();

    auto holder = database->connect();
    holder->begin(db::TxMode::Write);
    holder->execScript("LOCK TABLE LISTACTREC IN ACCESS EXCLUSIVE MODE");
    setServerWaitHandler([](ServerWait &wait) {
        QEventLoop loop;
        QObject::connect(&wait, &ServerWait::done, &loop, &QEventLoop::quit);
        QTimer::singleShot(300, &loop, [&wait] { wait.cancel(); });
        if (!wait.finished())
            loop.exec();
    });
    const QVariantList all{QStringLiteral("01"), QString(), QString(), QVariant(), QVariant(), QVariant(), QVariant(),
                           QString(), QString(), 0.0, 0.0, QString(), QVariant(), QVariant(), QString(), 0.0, 0.0, 0.0,
                           0.0, false, false, QString(), QStringLiteral("T"), QStringLiteral("5")};
    bool aborted = false;
    try {
        connection.call(QStringLiteral("GetContRec"), all);
    } catch (const Abort &) {
        aborted = true;
    }
    setServerWaitHandler(nullptr);
    EXPECT_TRUE(aborted);
    EXPECT_FALSE(connection.connected());
    holder->rollback();

    const auto logged = [&] {
        const std::lock_guard lock(mutex);
        for (const std::string &line : lines)
            if (line.find("GetContRec") != std::string::npos)
                return line;
        return std::string();
    };
    for (int i = 0; i < 1000 && logged().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(logged().find("interrompido (cliente desconectou)"), std::string::npos) << logged();
}

INSTANTIATE_TEST_SUITE_P(Databases, EmbeddedOnExisting, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto &info) { return info.param == Backend::Sqlite ? "SQLite" : "PostgreSQL"; });
