// The database side: migrations, NVL, the read-only role, the demo data, the apportionment
// arithmetic, the WAL checkpoints of the pool and the embedded server.
#include "harness.h"

#include <server/db/pool.h>
#include <server/db/schema.h>
#include <server/demo/brdocs.h>
#include <server/demo/seed.h>
#include <server/embedded/embedded.h>
#include <server/recalc/accounting.h>

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <thread>
#include <unistd.h>

using namespace erp::server;
using namespace erp::server::test;

namespace {

class Platform : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        database = TestDatabase::create(GetParam());
        if (!database)
            GTEST_SKIP() << "ERP_TEST_PG_URL não definida";
        c = database->connect();
    }
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<db::Connection> c;
};

std::string contents(db::Connection &c)
{
    std::string s;
    for (const char *q : {"SELECT CDFILIAL || NRLANCTONF || NRPARCELAREC || CDCLIENTE || CDTPCTRECEB || DTATUAVENREC "
                          "|| CAST(VRATUAREC * 100 AS INTEGER) || IDCTBLCTREC || COALESCE(NRLANCTBDOC, '') "
                          "FROM CONTRECEBER ORDER BY CDFILIAL, NRLANCTONF, NRSEQVENREC, NRPARCELAREC",
                          "SELECT CDCLIENTE || NMRAZSOCCLIE || NRINSJURCLIE FROM CLIENTE ORDER BY CDCLIENTE",
                          "SELECT NRLANCCTB || CDASSINATURA FROM LANCCTB ORDER BY NRLANCCTB"}) {
        db::Statement &st = c.prepare(q);
        while (st.next())
            s += st.string(0) + '\n';
        st.reset();
    }
    return s;
}

} // namespace

TEST_P(Platform, MigrationsBringAnyDatabaseToTheCurrentVersionOnce)
{
    EXPECT_EQ(schemaVersion(*c), 0);
    EXPECT_THROW(RunningServer(database->url()), std::runtime_error) << "serving needs the current schema";
    EXPECT_EQ(migrate(*c), latestSchemaVersion());
    EXPECT_EQ(migrate(*c), 0);
    EXPECT_EQ(schemaVersion(*c), latestSchemaVersion());
    // The error codes of the recalculation have their descriptions.
    EXPECT_EQ(count(*c, "SELECT COUNT(*) FROM ERROCTB WHERE CDERROCTB IN ('001','002','003','004','005','006','007',"
                        "'008','009','010') AND DSERROCTB <> ''"),
              10);
}

// Version 3 indexed the posting of every account and adjustment, which no query looks up.
TEST_P(Platform, AVersion3DatabaseLosesThePostingIndexesAndKeepsItsRows)
{
    database->prepareDemo(300);
    const int latest = latestSchemaVersion();
    ASSERT_GE(latest, 4);
    const bool pg = GetParam() == Backend::Postgres;
    const std::string indexes = pg ? "SELECT COUNT(*) FROM pg_indexes WHERE indexname IN ('ixcontreceber_lanc', "
                                     "'ixajctreceber_lanc')"
                                   : "SELECT COUNT(*) FROM sqlite_master WHERE type = 'index' AND name IN "
                                     "('IXCONTRECEBER_LANC', 'IXAJCTRECEBER_LANC')";
    EXPECT_EQ(count(*c, indexes), 0) << "a new database never keeps them";

    // The database as version 3 left it.
    c->execScript(pg ? "DROP FUNCTION TGLISTACTREC_CONTA() CASCADE; DROP FUNCTION TGLISTACTREC_NOTA() CASCADE; "
                       "DROP FUNCTION TGLISTACTREC_CLIENTE() CASCADE; DROP FUNCTION TGLISTACTREC_TIPO() CASCADE; "
                       "DROP VIEW VLISTACTREC; DROP TABLE LISTACTREC"
                     : "DROP TRIGGER TRLISTACTREC_CONTA_INS; DROP TRIGGER TRLISTACTREC_CONTA_DEL; "
                       "DROP TRIGGER TRLISTACTREC_CONTA_UPD; DROP TRIGGER TRLISTACTREC_CONTA_MOV; "
                       "DROP TRIGGER TRLISTACTREC_CONTA_CTB; "
                       "DROP TRIGGER TRLISTACTREC_NOTA; DROP TRIGGER TRLISTACTREC_CLIENTE; "
                       "DROP TRIGGER TRLISTACTREC_TIPO; DROP VIEW VLISTACTREC; DROP TABLE LISTACTREC");
    c->execScript("CREATE INDEX IXCONTRECEBER_LANC ON CONTRECEBER (NRLANCTBDOC); "
                  "CREATE INDEX IXAJCTRECEBER_LANC ON AJCTRECEBER (NRLCTBAJREC); "
                  "DELETE FROM VERSAOESQUEMA WHERE NRVERSAO >= 4; DROP TABLE AUDITACESSO; "
                  "ALTER TABLE AUDITCONTA DROP COLUMN VRLANCANT; ALTER TABLE AUDITCONTA DROP COLUMN VRLANCNOVO; "
                  "ALTER TABLE AUDITORIA DROP COLUMN QTLANCALTER; ALTER TABLE AUDITORIA DROP COLUMN VRTOTANT; "
                  "ALTER TABLE AUDITORIA DROP COLUMN VRTOTNOVO; ALTER TABLE LANCCTB DROP COLUMN VRTOTLANC; "
                  "DROP INDEX IXAUDITORIA_DATA; "
                  "INSERT INTO AUDITORIA (NRAUDITORIA, NMOPERADOR, DTOPERACAO, CDEMPRESA, NMOPERACAO, QTCONTAS) "
                  "VALUES (1, 'ana', '2025-06-01 10:00:00', '01', 'SetConfirmar', 1); "
                  "INSERT INTO AUDITCONTA (NRAUDITORIA, NRSEQAUDIT, CDFILIAL, NRLANCTONF, NRSEQVENREC, NRPARCELAREC, "
                  "NRLANCNOVO) VALUES (1, 1, '0101', '1', '01', '01', '7')");
    ASSERT_EQ(count(*c, indexes), 2);
    ASSERT_EQ(schemaVersion(*c), 3);
    const std::string before = contents(*c);
    const std::int64_t adjustments = count(*c, "SELECT COUNT(*) FROM AJCTRECEBER WHERE NRLCTBAJREC IS NOT NULL");
    ASSERT_GT(adjustments, 0);

    EXPECT_EQ(migrate(*c), latest - 3);
    EXPECT_EQ(schemaVersion(*c), latest);
    EXPECT_EQ(count(*c, indexes), 0);
    EXPECT_EQ(contents(*c), before);
    EXPECT_EQ(count(*c, "SELECT COUNT(*) FROM AJCTRECEBER WHERE NRLCTBAJREC IS NOT NULL"), adjustments);
    // Every posting gets its debit total; an audit of before version 7 keeps its numbers,
    // without the totals it never had.
    EXPECT_EQ(count(*c, "SELECT COUNT(*) FROM LANCCTB L WHERE VRTOTLANC IS NULL OR ABS(VRTOTLANC - (SELECT SUM(I.VRLANCCTB) "
                        "FROM ITLANCCTB I WHERE I.NRLANCCTB = L.NRLANCCTB AND I.IDDEBCRED = 'D')) > 0.001"),
              0);
    EXPECT_EQ(count(*c, "SELECT COUNT(*) FROM AUDITCONTA WHERE NRLANCNOVO = '7' AND VRLANCANT IS NULL AND "
                        "VRLANCNOVO IS NULL"),
              1);
    // The list's table is filled with every account the join gives.
    EXPECT_EQ(count(*c, "SELECT COUNT(*) FROM LISTACTREC"), count(*c, "SELECT COUNT(*) FROM CONTRECEBER"));
    EXPECT_EQ(migrate(*c), 0);
}

TEST_P(Platform, NvlTakesTheColumnWhenTheParameterIsNull)
{
    migrate(*c);
    c->execScript("INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES ('01', 'Um'); "
                  "INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES ('02', 'Dois')");
    const std::string sql = "SELECT COUNT(*) FROM EMPRESA WHERE CDEMPRESA = NVL(?, CDEMPRESA)";
    EXPECT_EQ(count(*c, sql, {db::null()}), 2);
    EXPECT_EQ(count(*c, sql, {std::string("02")}), 1);
    EXPECT_EQ(count(*c, sql, {std::string("03")}), 0);
    EXPECT_EQ(db::queryText(*c, "SELECT NVL(NULL, 'x')"), "x");

    if (GetParam() != Backend::Postgres)
        return;
    // The shell's QtSql connection binds the same text with a named parameter.
    const QUrl url(QString::fromStdString(database->url().conninfo));
    {
        QSqlDatabase qdb = QSqlDatabase::addDatabase("QPSQL", "nvl");
        qdb.setHostName(url.host());
        qdb.setPort(url.port());
        qdb.setUserName(url.userName());
        qdb.setDatabaseName(url.path().mid(1));
        ASSERT_TRUE(qdb.open()) << qdb.lastError().text().toStdString();
        QSqlQuery q(qdb);
        ASSERT_TRUE(q.prepare("SELECT CDEMPRESA FROM EMPRESA WHERE CDEMPRESA = NVL(:P_CDEMPRESA,CDEMPRESA) ORDER BY CDEMPRESA"));
        q.bindValue(":P_CDEMPRESA", QVariant(QMetaType::fromType<QString>()));
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
        int rows = 0;
        while (q.next())
            ++rows;
        EXPECT_EQ(rows, 2);
        q.bindValue(":P_CDEMPRESA", QString("02"));
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
        ASSERT_TRUE(q.next());
        EXPECT_EQ(q.value(0).toString(), "02");
        EXPECT_FALSE(q.next());
    }
    QSqlDatabase::removeDatabase("nvl");
}

TEST_P(Platform, TheReferenceQueriesRoleCanOnlyRead)
{
    if (GetParam() != Backend::Postgres)
        GTEST_SKIP() << "roles are a PostgreSQL matter";
    migrate(*c);
    c->execScript("INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES ('01', 'Um')");
    const std::string role = "leitor_" + std::to_string(getpid());
    c->execScript("DROP ROLE IF EXISTS " + role + "; CREATE ROLE " + role + " LOGIN PASSWORD 'leitura' IN ROLE " +
                  kReadOnlyRole);
    const std::string admin = database->url().conninfo;
    const std::string readerUrl = "postgresql://" + role + ":leitura@" + admin.substr(admin.find('@') + 1);
    {
        auto reader = db::connect(db::DbUrl::parse(readerUrl));
        EXPECT_EQ(db::queryText(*reader, "SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = NVL(?, CDEMPRESA)",
                                {std::string("01")}),
                  "Um");
        EXPECT_THROW(reader->execScript("INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES ('09', 'X')"), db::DbError);
        EXPECT_THROW(reader->execScript("UPDATE CONTRECEBER SET IDCTBLCTREC = 'S'"), db::DbError);
        EXPECT_THROW(db::queryText(*reader, "SELECT DSHASHSENHA FROM OPERADOR"), db::DbError)
            << "operators' password hashes are not for the shell";
    }
    c->execScript("DROP ROLE " + role);
}

TEST_P(Platform, DemoDataIsTheSameForTheSameSeedAndRealistic)
{
    migrate(*c);
    SeedOptions o;
    o.accounts = 2000;
    o.seed = 42;
    o.today = kToday;
    const SeedSummary s = seed(*c, o);
    EXPECT_EQ(s.accounts, 2000);
    EXPECT_EQ(count(*c, "SELECT COUNT(*) FROM CONTRECEBER"), 2000);
    EXPECT_GE(s.companies, 2);
    EXPECT_GE(count(*c, "SELECT COUNT(*) FROM FILIAL WHERE CDEMPRESA = '01'"), 2);
    EXPECT_THROW(seed(*c, o), std::runtime_error) << "never seeds over data";

    // Every customer's registration number has valid check digits for its kind.
    db::Statement &st = c->prepare("SELECT IDTPIJURCLIE, NRINSJURCLIE FROM CLIENTE");
    int persons = 0, companies = 0;
    while (st.next()) {
        const bool person = st.string(0) == "F";
        (person ? persons : companies)++;
        EXPECT_TRUE(person ? brdocs::validCpf(st.string(1)) : brdocs::validCnpj(st.string(1))) << st.string(1);
    }
    st.reset();
    EXPECT_GT(persons, 0);
    EXPECT_GT(companies, 0);
    EXPECT_TRUE(brdocs::validCpf("52998224725"));
    EXPECT_FALSE(brdocs::validCpf("52998224726"));
    EXPECT_FALSE(brdocs::validCpf("11111111111"));
    EXPECT_TRUE(brdocs::validCnpj("11444777000161"));
    EXPECT_FALSE(brdocs::validCnpj("11444777000162"));

    // Due dates lie on both sides of today, and within the default window.
    const std::string t = kToday.toString(Qt::ISODate).toStdString();
    EXPECT_GT(count(*c, "SELECT COUNT(*) FROM CONTRECEBER WHERE DTATUAVENREC < ?",
                    {kToday.addDays(-30).toString(Qt::ISODate).toStdString()}),
              0);
    EXPECT_GT(count(*c, "SELECT COUNT(*) FROM CONTRECEBER WHERE DTATUAVENREC BETWEEN ? AND ?",
                    {kToday.addDays(-30).toString(Qt::ISODate).toStdString(),
                     kToday.addDays(30).toString(Qt::ISODate).toStdString()}),
              100);
    EXPECT_GT(count(*c, "SELECT COUNT(*) FROM CONTRECEBER WHERE DTATUAVENREC > ?", {t}), 0);
    // Both directions of adjustment, accounted and unaccounted accounts.
    EXPECT_GT(count(*c, "SELECT COUNT(*) FROM AJCTRECEBER A JOIN TIPOAJRECEBER T ON T.CDAJUCTREC = A.CDAJUCTREC "
                        "WHERE T.IDAJUCTREC = 'D'"),
              0);
    EXPECT_GT(count(*c, "SELECT COUNT(*) FROM AJCTRECEBER A JOIN TIPOAJRECEBER T ON T.CDAJUCTREC = A.CDAJUCTREC "
                        "WHERE T.IDAJUCTREC = 'A'"),
              0);
    EXPECT_GT(count(*c, "SELECT COUNT(*) FROM CONTRECEBER WHERE IDCTBLCTREC = 'S'"), 0);
    EXPECT_GT(count(*c, "SELECT COUNT(*) FROM CONTRECEBER WHERE IDCTBLCTREC = 'N'"), 0);

    // The same seed on another database of the same kind gives the same data.
    auto other = TestDatabase::create(GetParam());
    auto oc = other->connect();
    migrate(*oc);
    seed(*oc, o);
    EXPECT_EQ(contents(*oc), contents(*c));
    auto third = TestDatabase::create(GetParam());
    auto tc = third->connect();
    migrate(*tc);
    o.seed = 43;
    seed(*tc, o);
    EXPECT_NE(contents(*tc), contents(*c));
}

INSTANTIATE_TEST_SUITE_P(Databases, Platform, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto &info) { return backendName(info.param); });

TEST(Apportionment, SharesAddUpToTheEntryWithTheRemainderOnTheLast)
{
    using accounting::apportion;
    EXPECT_EQ(apportion(100, {333333, 333333, 333334}), (std::vector<accounting::Cents>{33, 33, 34}));
    EXPECT_EQ(apportion(1, {500000, 500000}), (std::vector<accounting::Cents>{1, 0}));
    EXPECT_EQ(apportion(1001, {1000000}), (std::vector<accounting::Cents>{1001}));
    EXPECT_TRUE(apportion(500, {}).empty());
    // Large amounts do not overflow, and every split adds up exactly.
    const std::vector<std::int64_t> pcts{123456, 234567, 345678, 296299};
    for (accounting::Cents total : {accounting::Cents(1), accounting::Cents(99999), accounting::Cents(999999999999999),
                                    accounting::Cents(-250)}) {
        const auto parts = apportion(total, pcts);
        EXPECT_EQ(std::accumulate(parts.begin(), parts.end(), accounting::Cents(0)), total);
    }
    EXPECT_EQ(accounting::toCents(0.29), 29);
    EXPECT_EQ(accounting::toCents(1234567.895), 123456790);
}

// The WAL's last frame and how far checkpoints have copied it back, from the shared index.
std::pair<std::uint32_t, std::uint32_t> walProgress(const std::string &path)
{
    std::ifstream shm(path + "-shm", std::ios::binary);
    char buf[100] = {};
    shm.read(buf, sizeof buf);
    std::uint32_t last = 0, backfilled = 0;
    std::memcpy(&last, buf + 16, 4);
    std::memcpy(&backfilled, buf + 96, 4);
    return {last, backfilled};
}

bool checkpointedWithin(const std::string &path, std::chrono::seconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        const auto [last, backfilled] = walProgress(path);
        if (last > 0 && backfilled == last)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(WalCheckpoints, PooledCommitsAreCheckpointedAwayFromTheCallsAndTheLogEmptiedAtStop)
{
    auto t = TestDatabase::create(Backend::Sqlite);
    const std::string path = t->url().path;
    // Open throughout, so that no close checkpoints in the pool's place.
    auto watcher = t->connect();
    watcher->execScript("CREATE TABLE T (ID INTEGER PRIMARY KEY, B BLOB)");
    std::vector<std::string> lines;
    ConnectionPool pool(t->url(), 2);
    pool.startCheckpoints([&](const std::string &l) { lines.push_back(l); });
    const auto write = [&](int rows) {
        Lease c = pool.acquire();
        db::Transaction tx(*c, db::TxMode::Write);
        db::Statement &st = c->prepare("WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < ?) "
                                       "INSERT INTO T (B) SELECT randomblob(3000) FROM N");
        st.bindAll({std::int64_t(rows)});
        st.exec();
        tx.commit();
    };
    write(1500); // past the threshold: the commit wakes the checkpointer
    EXPECT_TRUE(checkpointedWithin(path, std::chrono::seconds(10)));
    const auto walSize = std::filesystem::file_size(path + "-wal");
    // The log restarts from its beginning instead of growing.
    for (int i = 0; i < 4; ++i) {
        write(1500);
        ASSERT_TRUE(checkpointedWithin(path, std::chrono::seconds(10)));
    }
    EXPECT_LE(std::filesystem::file_size(path + "-wal"), walSize + walSize / 2);

    // A reader holds the frames it may still need; the timer finishes the work once it is gone.
    watcher->begin(db::TxMode::Read);
    EXPECT_EQ(count(*watcher, "SELECT COUNT(*) FROM T"), 1500 * 5);
    write(1500);
    write(10); // below the threshold
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto [last, backfilled] = walProgress(path);
    EXPECT_LT(backfilled, last);
    watcher->rollback();
    EXPECT_TRUE(checkpointedWithin(path, std::chrono::seconds(10)));

    write(10);
    pool.stopCheckpoints();
    EXPECT_EQ(std::filesystem::file_size(path + "-wal"), 0u);
    EXPECT_EQ(count(*watcher, "SELECT COUNT(*) FROM T"), 1500 * 6 + 20);
    EXPECT_TRUE(lines.empty());
}

TEST(EmbeddedServer, MakesItsDemoDatabaseAndServesWithARandomCredential)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("demo/erp.db").toStdString();
    EmbeddedOptions o;
    o.databasePath = path;
    o.operatorName = "caixa";
    o.today = "2025-06-15";
    o.demoAccounts = 400;
    o.log = [](const std::string &) {};
    std::string firstPassword;
    {
        EmbeddedServer server(o);
        EXPECT_EQ(server.host(), "127.0.0.1");
        EXPECT_GT(server.port(), 0);
        EXPECT_EQ(server.operatorName(), "caixa");
        EXPECT_GE(server.password().size(), 24u);
        EXPECT_EQ(server.databaseUrl(), "sqlite:" + path);
        firstPassword = server.password();
        RpcClient client(server.port(), "caixa", server.password());
        Filter f;
        f.dueFrom = kToday.addDays(-30).toString(Qt::ISODate);
        f.dueTo = kToday.addDays(30).toString(Qt::ISODate);
        EXPECT_FALSE(client.result("GetContRec", f.params()).toObject().value("rows").toArray().isEmpty());
        client.setCredentials("caixa", "outra");
        EXPECT_EQ(client.post(R"({"jsonrpc":"2.0","id":1,"method":"GetGeralRec","params":[]})").status, 401);
    }
    // Started again on the same file: the data stays, the credential is new.
    EmbeddedServer again(o);
    EXPECT_NE(again.password(), firstPassword);
    auto c = db::connect(db::DbUrl::parse(again.databaseUrl()));
    EXPECT_EQ(count(*c, "SELECT COUNT(*) FROM CONTRECEBER"), 400);
    RpcClient client(again.port(), "caixa", firstPassword);
    EXPECT_EQ(client.post(R"({"jsonrpc":"2.0","id":1,"method":"GetGeralRec","params":[]})").status, 401);

    o.today = "2025-02-30";
    EXPECT_THROW(EmbeddedServer bad(o), std::runtime_error);
}
