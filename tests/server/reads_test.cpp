// The read methods over loopback, on SQLite and PostgreSQL: packet layouts, every restriction of
// the account query, authentication, and a corpus of bad requests that must change nothing.
#include "harness.h"

#include <server/db/pool.h>
#include <server/methods/accountlist.h>
#include <server/rpc/layouts.h>
#include <server/rpc/rowjson.h>
#include <server/rpc/rpc.h>

#include <erpwire/json.h>

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QRegularExpression>

#include <future>
#include <map>

using namespace erp::server;
using namespace erp::server::test;

namespace {

struct Env
{
    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<RunningServer> server;
    std::unique_ptr<db::Connection> sql;
};

class Reads : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        static std::map<Backend, std::unique_ptr<Env>> envs;
        std::unique_ptr<Env> &e = envs[GetParam()];
        if (!e) {
            auto database = TestDatabase::create(GetParam());
            if (!database)
                GTEST_SKIP() << "ERP_TEST_PG_URL não definida";
            // company 01 lists some 1,600 accounts: long enough for a list to be read apart from its JSON
            database->prepareDemo(3000);
            e = std::make_unique<Env>();
            e->server = std::make_unique<RunningServer>(database->url());
            e->sql = database->connect();
            e->db = std::move(database);
        }
        env = e.get();
        client = std::make_unique<RpcClient>(env->server->port());
    }

    QJsonObject accounts(const Filter &f) { return client->result("GetContRec", f.params()).toObject(); }

    // The server's keys for the filter against the keys an independent query selects.
    void expectSame(const Filter &f, const std::string &condition, std::initializer_list<db::Value> params,
                    bool expectRows = true)
    {
        std::vector<std::string> got = accountKeys(accounts(f));
        std::sort(got.begin(), got.end());
        const std::vector<std::string> want = keysWhere(*env->sql, "C.CDEMPRESA = '01' AND " + condition, params);
        EXPECT_EQ(got, want) << condition;
        if (expectRows) {
            EXPECT_FALSE(want.empty()) << "the demo data should have rows for: " << condition;
        }
    }

    Env *env = nullptr;
    std::unique_ptr<RpcClient> client;
};

std::vector<std::string> fieldNames(const QJsonObject &packet)
{
    std::vector<std::string> names;
    for (const QJsonValue &f : packet.value("fields").toArray())
        names.push_back(f.toObject().value("name").toString().toStdString());
    return names;
}

QString day(int offset) { return kToday.addDays(offset).toString(Qt::ISODate); }

} // namespace

TEST_P(Reads, ParameterPacketsCarryOneRowOrNone)
{
    const QJsonObject geral = client->result("GetGeralRec", {}).toObject();
    EXPECT_EQ(QJsonDocument(geral).toJson(QJsonDocument::Compact),
              R"({"fields":[{"name":"CDGERALREC","size":1,"type":"string"},{"name":"QTDIAANTLANR","type":"float"},)"
              R"({"name":"QTDIAAPOLANR","type":"float"}],"rows":[["1",30,30]]})");
    EXPECT_EQ(client->result("GetParamFilial", {"0101"}).toObject().value("rows").toArray(), QJsonArray({QJsonArray{7}}));
    EXPECT_EQ(client->result("GetParExp", {"0101"}).toObject().value("rows").toArray(), QJsonArray({QJsonArray{"S"}}));
    EXPECT_EQ(client->result("GetParExp", {"0102"}).toObject().value("rows").toArray(), QJsonArray({QJsonArray{"N"}}));
    // Nothing configured: an empty packet that still carries its fields.
    const QJsonObject none = client->result("GetParamFilial", {"9999"}).toObject();
    EXPECT_TRUE(none.value("rows").toArray().isEmpty());
    EXPECT_EQ(fieldNames(none), std::vector<std::string>{"NRTAMNUMNFUT"});
    EXPECT_TRUE(client->result("GetParExp", {""}).toObject().value("rows").toArray().isEmpty());

    const QJsonObject types = client->result("GetTipoCtReceber", {}).toObject();
    EXPECT_EQ(types.value("fields").toArray().first().toObject(),
              QJsonObject({{"name", "IDMARCADO"}, {"type", "fixedstring"}, {"size", 1}}));
    const QJsonArray rows = types.value("rows").toArray();
    ASSERT_EQ(rows.size(), 7);
    for (const QJsonValue &r : rows)
        EXPECT_EQ(r.toArray().first().toString(), "N");
}

TEST_P(Reads, AccountPacketHasTheStoredFieldsOfTheAccountList)
{
    Filter f;
    f.dueFrom = day(-30);
    f.dueTo = day(30);
    const QJsonObject p = accounts(f);
    const std::vector<std::string> expected{
        "IDMARCADO",   "DTATUAVENREC", "NRPARCELAREC", "NMRAZSOCCLIE", "IDSTATREC",  "VRATUAREC",    "CDSERIE",
        "NRNOTAFISC",  "IDTPIJURCLIE", "CDFILIAL",     "NRLANCTONF",   "NRSEQVENREC", "DSCONTAREC",  "DSTPCTRECEB",
        "CDFILIEMIT",  "NRINSJURCLIE", "CDMOTIPROR",   "CDMOTIPARC",   "CDTPCTRECEB", "NRLANCTBDOC", "CDEMPRESA",
        "IDSTATUS",    "VRNOTAFISC",   "DTENTRSAID",   "CDCLIENTE",    "NMFANTCLIE",  "IDCTBLCTREC"};
    EXPECT_EQ(fieldNames(p), expected);
    const QJsonArray fields = p.value("fields").toArray();
    EXPECT_EQ(fields[0].toObject().value("type").toString(), "fixedstring");
    EXPECT_EQ(fields[1].toObject().value("type").toString(), "datetime");
    EXPECT_EQ(fields[5].toObject().value("type").toString(), "float");
    EXPECT_EQ(fields[23].toObject().value("type").toString(), "datetime");
    EXPECT_EQ(fields[3].toObject().value("size").toInt(), 50);
    EXPECT_EQ(fields[26].toObject().value("size").toInt(), 1);

    const QJsonArray rows = p.value("rows").toArray();
    ASSERT_FALSE(rows.isEmpty()) << "the default due-date window finds accounts";
    const QRegularExpression dateTime("^\\d{4}-\\d{2}-\\d{2}T00:00:00$");
    QString lastDue, lastName;
    for (const QJsonValue &rv : rows) {
        const QJsonArray r = rv.toArray();
        ASSERT_EQ(r.size(), 27);
        EXPECT_EQ(r[0].toString(), "N");
        EXPECT_TRUE(dateTime.match(r[1].toString()).hasMatch()) << r[1].toString().toStdString();
        EXPECT_EQ(r[20].toString(), "01");
        // Ordered by due date, then customer name.
        const QString due = r[1].toString(), name = r[3].toString();
        EXPECT_TRUE(due > lastDue || (due == lastDue && name >= lastName)) << due.toStdString() << name.toStdString();
        lastDue = due;
        lastName = name;
    }
}

TEST_P(Reads, EachRestrictionKeepsExactlyTheMatchingAccounts)
{
    db::Connection &c = *env->sql;
    expectSame(Filter{}, "1 = 1", {});

    Filter doc;
    doc.docFrom = "0000050";
    doc.docTo = "0000120";
    expectSame(doc, "N.NRNOTAFISC >= '0000050' AND N.NRNOTAFISC <= '0000120'", {});
    Filter lone;
    lone.docFrom = "0000100";
    expectSame(lone, "N.NRNOTAFISC >= '0000100'", {});

    Filter issue;
    issue.issueFrom = day(-90);
    issue.issueTo = day(-60);
    expectSame(issue, "N.DTEMISSAO >= ? AND N.DTEMISSAO <= ?", {day(-90).toStdString(), day(-60).toStdString()});
    Filter exit;
    exit.exitFrom = day(-20);
    exit.exitTo = day(-5);
    expectSame(exit, "N.DTENTRSAID >= ? AND N.DTENTRSAID <= ?", {day(-20).toStdString(), day(-5).toStdString()});

    Filter origin;
    origin.originBranches = "0102;0103";
    expectSame(origin, "N.CDFILIEMIT IN ('0102', '0103')", {});
    Filter posting;
    posting.postingBranches = "0101";
    expectSame(posting, "C.CDFILIAL = '0101'", {});

    Filter value;
    value.docValueFrom = 1000;
    value.docValueTo = 5000;
    expectSame(value, "N.VRNOTAFISC >= 1000 AND N.VRNOTAFISC <= 5000", {});
    Filter openAbove;
    openAbove.docValueFrom = 20000;
    expectSame(openAbove, "N.VRNOTAFISC >= 20000", {});

    Filter salesmen;
    salesmen.salesmen = "V001;V002;V003";
    expectSame(salesmen, "N.CDVENDEDOR IN ('V001', 'V002', 'V003')", {});

    Filter due;
    due.dueFrom = day(-30);
    due.dueTo = day(30);
    expectSame(due, "C.DTATUAVENREC >= ? AND C.DTATUAVENREC <= ?", {day(-30).toStdString(), day(30).toStdString()});

    Filter types;
    types.types = "DUP;CRT";
    expectSame(types, "C.CDTPCTRECEB IN ('DUP', 'CRT')", {});

    Filter orig;
    orig.origFrom = 500;
    orig.origTo = 2500;
    expectSame(orig, "C.VRORIGREC >= 500 AND C.VRORIGREC <= 2500", {});
    Filter net;
    net.netFrom = 100;
    net.netTo = 900.5;
    expectSame(net, "C.VRLIQREC >= 100 AND C.VRLIQREC <= 900.5", {});

    Filter notDue;
    notDue.notDue = true;
    expectSame(notDue, "C.DTATUAVENREC >= ?", {day(0).toStdString()});
    Filter overdue;
    overdue.overdue = true;
    expectSame(overdue, "C.DTATUAVENREC < ?", {day(0).toStdString()});
    Filter both;
    both.notDue = both.overdue = true;
    expectSame(both, "1 = 1", {});

    const std::string customers = db::queryText(c, "SELECT MIN(CDCLIENTE) FROM CONTRECEBER WHERE CDEMPRESA = '01'") +
                                  ";" + db::queryText(c, "SELECT MAX(CDCLIENTE) FROM CONTRECEBER WHERE CDEMPRESA = '01'");
    Filter cust;
    cust.customers = QString::fromStdString(customers);
    expectSame(cust, "C.CDCLIENTE IN (?, ?)",
               {customers.substr(0, customers.find(';')), customers.substr(customers.find(';') + 1)});

    Filter accounted;
    accounted.ctbl = "C";
    expectSame(accounted, "C.IDCTBLCTREC = 'S'", {});
    Filter notAccounted;
    notAccounted.ctbl = "N";
    expectSame(notAccounted, "C.IDCTBLCTREC = 'N'", {});

    const char *statuses[] = {"B", "D", "A", "P", "I"};
    for (int i = 0; i < 5; ++i) {
        Filter s;
        s.status = QString::number(i);
        expectSame(s, std::string("C.IDSTATREC = '") + statuses[i] + "'", {});
    }

    Filter combined;
    combined.postingBranches = "0101;0102";
    combined.types = "DUP;BOL";
    combined.dueFrom = day(-120);
    combined.dueTo = day(60);
    combined.ctbl = "N";
    combined.status = "2";
    expectSame(combined,
               "C.CDFILIAL IN ('0101', '0102') AND C.CDTPCTRECEB IN ('DUP', 'BOL') AND C.DTATUAVENREC >= ? AND "
               "C.DTATUAVENREC <= ? AND C.IDCTBLCTREC = 'N' AND C.IDSTATREC = 'A'",
               {day(-120).toStdString(), day(60).toStdString()});
}

// The list as its plain text, the accounts joined to their invoices and customers and sorted
// whole, gives the same packet; and its own plan is one ordered read of the list's table,
// with no join and no sort.
TEST_P(Reads, AccountListIsThePlainQueryReadWithoutARowLookupPerAccount)
{
    db::Connection &c = *env->sql;
    const auto plain = [&](const std::string &condition, std::initializer_list<db::Value> params) {
        db::Statement &st = c.prepare(
            "SELECT 'N', C.DTATUAVENREC, C.NRPARCELAREC, CL.NMRAZSOCCLIE, C.IDSTATREC, C.VRATUAREC, N.CDSERIE, "
            "N.NRNOTAFISC, CL.IDTPIJURCLIE, C.CDFILIAL, C.NRLANCTONF, C.NRSEQVENREC, C.DSCONTAREC, T.DSTPCTRECEB, "
            "N.CDFILIEMIT, CL.NRINSJURCLIE, C.CDMOTIPROR, C.CDMOTIPARC, C.CDTPCTRECEB, C.NRLANCTBDOC, C.CDEMPRESA, "
            "N.IDSTATUS, N.VRNOTAFISC, N.DTENTRSAID, C.CDCLIENTE, CL.NMFANTCLIE, C.IDCTBLCTREC FROM CONTRECEBER C " +
            std::string(GetParam() == Backend::Sqlite ? "NOT INDEXED " : "") +
            "JOIN NOTAFISCAL N ON N.CDFILIAL = C.CDFILIAL AND N.NRLANCTONF = C.NRLANCTONF "
            "JOIN CLIENTE CL ON CL.CDCLIENTE = C.CDCLIENTE LEFT JOIN TIPOCTRECEBER T ON T.CDTPCTRECEB = C.CDTPCTRECEB "
            "WHERE C.CDEMPRESA = '01' AND " + condition +
            " ORDER BY C.DTATUAVENREC, CL.NMRAZSOCCLIE, C.CDFILIAL, C.NRPARCELAREC, C.NRLANCTONF, C.NRSEQVENREC");
        st.bindAll(params);
        QByteArray json;
        appendPacketJson(json, st, layouts::contRec());
        st.reset();
        return QJsonDocument::fromJson(json).object();
    };
    Filter widest;
    widest.dueFrom = "1990-01-01";
    widest.dueTo = "2099-12-31";
    const QJsonObject all = accounts(widest);
    EXPECT_EQ(all, plain("C.DTATUAVENREC >= '1990-01-01'", {}));
    EXPECT_EQ(all.value("rows").toArray().size(), count(c, "SELECT COUNT(*) FROM CONTRECEBER WHERE CDEMPRESA = '01'"));
    Filter some;
    some.postingBranches = "0101;0103";
    some.overdue = true;
    some.status = "2";
    EXPECT_EQ(accounts(some), plain("C.CDFILIAL IN ('0101', '0103') AND C.DTATUAVENREC < ? AND C.IDSTATREC = 'A'",
                                     {day(0).toStdString()}));

    AccountFilter f;
    f.company = "01";
    f.dueFrom = QDate(1990, 1, 1);
    f.dueTo = QDate(2099, 12, 31);
    const SqlQuery q = accountListQuery(c, f, kToday);
    std::string plan;
    db::Transaction tx(c, db::TxMode::Read);
    if (GetParam() == Backend::Sqlite) {
        db::Statement &st = c.prepare("EXPLAIN QUERY PLAN " + q.sql);
        st.bindAll({q.params[0], q.params[1], q.params[2]});
        while (st.next())
            plan += st.string(3) + "\n";
        st.reset();
        EXPECT_EQ(plan, "SEARCH LISTACTREC USING PRIMARY KEY (CDEMPRESA=? AND DTATUAVENREC>? AND DTATUAVENREC<?)\n");
    } else {
        // as the server reads it: the key gives the list's order and every column by itself (no
        // page of the table read a row)
        beginAccountListRead(c);
        db::Statement &st = c.prepare("EXPLAIN " + q.sql);
        st.bindAll({q.params[0], q.params[1], q.params[2]});
        while (st.next())
            plan += st.string(0) + "\n";
        st.reset();
        EXPECT_EQ(plan.find("Sort"), std::string::npos) << plan;
        EXPECT_NE(plan.find("Index Only Scan using listactrec_pkey on listactrec"), std::string::npos) << plan;
    }
}

// A list given up half-way, with rows still being read apart from the JSON, lets its
// connection go at once; the same list read to its end is the server's answer.
TEST_P(Reads, AListGivenUpHalfWayLetsItsConnectionGo)
{
    Filter widest;
    widest.dueFrom = "1990-01-01";
    widest.dueTo = "2099-12-31";
    QList<QJsonValue> params;
    for (const QJsonValue v : widest.params())
        params.append(v);
    ConnectionPool pool(env->db->url(), 1);
    const auto open = [&] {
        CallContext ctx{pool.acquire(), "ana", kToday};
        return (*findMethod("GetContRec"))(ctx, Params("GetContRec", params)).stream;
    };
    QByteArray json;
    for (std::unique_ptr<ResultStream> whole = open(); whole->produce(json);) {
    }
    EXPECT_EQ(QJsonDocument::fromJson(json).object(), accounts(widest));

    std::unique_ptr<ResultStream> left = open();
    QByteArray part;
    ASSERT_TRUE(left->produce(part));
    ASSERT_TRUE(left->produce(part)) << "the list should outlast its first two pieces";
    auto gone = std::async(std::launch::async, [&] { left.reset(); });
    ASSERT_EQ(gone.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    auto next = std::async(std::launch::async, [&] { return pool.acquire(); });
    EXPECT_EQ(next.wait_for(std::chrono::seconds(30)), std::future_status::ready);
}

// Every write to the tables the list is made from is in the list's table at once: an account
// added, moved to another due date, changed in place and removed; an invoice, a customer and a
// type renamed.
TEST_P(Reads, TheListTableFollowsEveryWriteItIsMadeFrom)
{
    db::Connection &c = *env->sql;
    const auto rows = [&](const std::string &from) {
        std::vector<std::string> out;
        db::Statement &st = c.prepare("SELECT * FROM " + from + " ORDER BY 1, 2, 3, 4, 5, 6, 7");
        while (st.next()) {
            std::string row;
            for (int i = 0; i < 30; ++i)
                row += (st.isNull(i) ? std::string("<null>") : st.string(i)) + "|";
            out.push_back(row);
        }
        st.reset();
        return out;
    };
    db::Transaction tx(c, db::TxMode::Write); // rolled back: the other cases read the demo as it was
    const std::string key = db::queryText(c, "SELECT CDFILIAL || '/' || NRLANCTONF FROM CONTRECEBER "
                                             "WHERE NRSEQVENREC = '01' AND NRPARCELAREC = '01' ORDER BY 1 LIMIT 1");
    const std::string branch = key.substr(0, key.find('/')), invoice = key.substr(key.find('/') + 1);
    const std::string customer =
        db::queryText(c, "SELECT CDCLIENTE FROM NOTAFISCAL WHERE CDFILIAL = ? AND NRLANCTONF = ?", {branch, invoice});
    const auto run = [&](const std::string &sql, std::initializer_list<db::Value> params) {
        db::Statement &st = c.prepare(sql);
        st.bindAll(params);
        st.exec();
    };
    run("INSERT INTO CONTRECEBER (CDFILIAL, NRLANCTONF, NRSEQVENREC, NRPARCELAREC, CDEMPRESA, CDCLIENTE, CDTPCTRECEB, "
        "DTVENCORIG, DTATUAVENREC, VRORIGREC, VRATUAREC, VRLIQREC, IDSTATREC, IDCTBLCTREC) "
        "SELECT CDFILIAL, NRLANCTONF, '99', '99', CDEMPRESA, CDCLIENTE, CDTPCTRECEB, DTVENCORIG, DTATUAVENREC, "
        "VRORIGREC, VRATUAREC, VRLIQREC, IDSTATREC, 'N' FROM CONTRECEBER WHERE CDFILIAL = ? AND NRLANCTONF = ? "
        "AND NRSEQVENREC = '01' AND NRPARCELAREC = '01'",
        {branch, invoice});
    run("UPDATE CONTRECEBER SET DTATUAVENREC = ? WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQVENREC = '99'",
        {day(400).toStdString(), branch, invoice});
    run("UPDATE CONTRECEBER SET IDCTBLCTREC = 'S', NRLANCTBDOC = '999999', VRATUAREC = 12.34 "
        "WHERE CDFILIAL = ? AND NRLANCTONF = ?",
        {branch, invoice});
    run("UPDATE NOTAFISCAL SET VRNOTAFISC = 98765.43, CDSERIE = NULL WHERE CDFILIAL = ? AND NRLANCTONF = ?",
        {branch, invoice});
    run("UPDATE CLIENTE SET NMRAZSOCCLIE = 'AAA PRIMEIRO NA ORDEM', NMFANTCLIE = NULL WHERE CDCLIENTE = ?",
        {customer});
    run("UPDATE TIPOCTRECEBER SET DSTPCTRECEB = 'TIPO RENOMEADO' WHERE CDTPCTRECEB = 'DUP'", {});
    const std::vector<std::string> changed = rows("LISTACTREC");
    EXPECT_EQ(changed, rows("VLISTACTREC"));
    run("DELETE FROM CONTRECEBER WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQVENREC = '99'", {branch, invoice});
    EXPECT_EQ(rows("LISTACTREC"), rows("VLISTACTREC"));
    EXPECT_EQ(rows("LISTACTREC").size() + 1, changed.size());
}

TEST_P(Reads, AdjustmentsComeWithTheirTypesDirectionAndDescription)
{
    db::Connection &c = *env->sql;
    db::Statement &st = c.prepare("SELECT CDFILIAL, NRLANCTONF, NRSEQVENREC, NRPARCELAREC, COUNT(*) FROM AJCTRECEBER "
                                  "GROUP BY CDFILIAL, NRLANCTONF, NRSEQVENREC, NRPARCELAREC HAVING COUNT(*) = 2 "
                                  "ORDER BY 1, 2, 3, 4");
    ASSERT_TRUE(st.next());
    const QJsonArray key{QString::fromStdString(st.string(0)), QString::fromStdString(st.string(1)),
                         QString::fromStdString(st.string(2)), QString::fromStdString(st.string(3))};
    st.reset();
    const QJsonObject p = client->result("GetAjusCont", key).toObject();
    EXPECT_EQ(p.value("fields").toArray().size(), 17);
    const QJsonArray rows = p.value("rows").toArray();
    ASSERT_EQ(rows.size(), 2);
    for (const QJsonValue &rv : rows) {
        const QJsonArray r = rv.toArray();
        EXPECT_EQ(r[0], key[0]);
        EXPECT_EQ(r[3], key[3]);
        const std::string type = r[5].toString().toStdString();
        EXPECT_EQ(r[6].toString().toStdString(),
                  db::queryText(c, "SELECT IDAJUCTREC FROM TIPOAJRECEBER WHERE CDAJUCTREC = ?", {type}));
        EXPECT_EQ(r[7].toString().toStdString(),
                  db::queryText(c, "SELECT DSAJUCTREC FROM TIPOAJRECEBER WHERE CDAJUCTREC = ?", {type}));
        EXPECT_GT(r[9].toDouble(), 0);
    }
    EXPECT_TRUE(client->result("GetAjusCont", {"0101", "9999999999", "01", "01"}).toObject().value("rows").toArray().isEmpty());
}

TEST_P(Reads, OnlyOperatorsWithTheirPasswordGetIn)
{
    const std::string body = R"({"jsonrpc":"2.0","id":1,"method":"GetGeralRec","params":[]})";
    EXPECT_EQ(client->post(body, false).status, 401);
    client->setCredentials("ana", "errada");
    EXPECT_EQ(client->post(body).status, 401);
    client->setCredentials("ninguem", "segredo");
    EXPECT_EQ(client->post(body).status, 401);
    client->setCredentials("", "segredo");
    EXPECT_EQ(client->post(body).status, 401);
    client->setCredentials("ana", "segredo");
    EXPECT_EQ(client->post(body).status, 200);
    // The cached credential must not let a wrong password through.
    client->setCredentials("ana", "segredo2");
    EXPECT_EQ(client->post(body).status, 401);

    // Health needs no credentials.
    const HttpReply health = client->get("/health");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.json().value("server").toString(), "REC00800.rdmRecCont");
    EXPECT_EQ(health.json().value("database").toString(), GetParam() == Backend::Sqlite ? "sqlite" : "postgresql");
}

TEST_P(Reads, BadRequestsGetTheirErrorCodeAndChangeNothing)
{
    db::Connection &c = *env->sql;
    const auto snapshot = [&] {
        return std::vector<std::int64_t>{count(c, "SELECT COUNT(*) FROM CONTRECEBER"),
                                         count(c, "SELECT COUNT(*) FROM LANCCTB"),
                                         count(c, "SELECT COUNT(*) FROM AUDITORIA"),
                                         count(c, "SELECT COUNT(*) FROM CONTRECEBER WHERE IDCTBLCTREC = 'S'")};
    };
    const auto before = snapshot();

    const std::vector<std::pair<std::string, int>> raw{
        {"isto não é json", -32700},
        {R"({"jsonrpc":"2.0","id":1,"method":"GetGeralRec","params":[})", -32700},
        {R"([{"jsonrpc":"2.0","id":1,"method":"GetGeralRec"}])", -32600},
        {R"({"id":1,"method":"GetGeralRec","params":[]})", -32600},
        {R"({"jsonrpc":"1.0","id":1,"method":"GetGeralRec","params":[]})", -32600},
        {R"({"jsonrpc":"2.0","id":1,"method":7,"params":[]})", -32600},
        {R"({"jsonrpc":"2.0","id":{"a":1},"method":"GetGeralRec","params":[]})", -32600},
        {R"({"jsonrpc":"2.0","id":1,"method":"DropEverything","params":[]})", -32601},
        {R"({"jsonrpc":"2.0","id":1,"method":"GetParExp","params":{"filial":"0101"}})", -32602},
        {R"({"jsonrpc":"2.0","id":1,"method":"GetGeralRec","params":[1]})", -32602},
    };
    for (const auto &[body, code] : raw) {
        const HttpReply r = client->post(body);
        ASSERT_EQ(r.status, 200) << body;
        EXPECT_EQ(r.json().value("error").toObject().value("code").toInt(), code) << body;
        EXPECT_FALSE(r.json().value("error").toObject().value("message").toString().isEmpty());
    }
    EXPECT_EQ(client->call("GetGeralRec", {}, "OUTRO.Objeto").value("error").toObject().value("code").toInt(), -32601);

    const auto contRec = [](auto change) {
        QJsonArray p = Filter{}.params();
        change(p);
        return p;
    };
    const std::vector<std::pair<QJsonArray, int>> params{
        {contRec([](QJsonArray &p) { p.removeLast(); }), -32602},
        {contRec([](QJsonArray &p) { p.append("x"); }), -32602},
        {contRec([](QJsonArray &p) { p[0] = 1; }), -32602},
        {contRec([](QJsonArray &p) { p[0] = "001"; }), -32602},
        {contRec([](QJsonArray &p) { p[0] = ""; }), -32602},
        {contRec([](QJsonArray &p) { p[0] = "99"; }), -32602},
        {contRec([](QJsonArray &p) { p[1] = QString(21, '1'); }), -32602},
        {contRec([](QJsonArray &p) { p[1] = QString("12\u00013"); }), -32602},
        {contRec([](QJsonArray &p) { p[1] = "0000200"; p[2] = "0000100"; }), -32602},
        {contRec([](QJsonArray &p) { p[3] = "2025-13-01"; }), -32602},
        {contRec([](QJsonArray &p) { p[3] = "15/06/2025"; }), -32602},
        {contRec([](QJsonArray &p) { p[3] = 20250615; }), -32602},
        {contRec([](QJsonArray &p) { p[12] = "2025-06-20"; p[13] = "2025-06-10"; }), -32602},
        {contRec([](QJsonArray &p) { p[9] = -1; }), -32602},
        {contRec([](QJsonArray &p) { p[9] = "100"; }), -32602},
        {contRec([](QJsonArray &p) { p[16] = 1e20; }), -32602},
        {contRec([](QJsonArray &p) { p[15] = 50; p[16] = 10; }), -32602},
        {contRec([](QJsonArray &p) { p[19] = "true"; }), -32602},
        {contRec([](QJsonArray &p) { p[22] = "X"; }), -32602},
        {contRec([](QJsonArray &p) { p[23] = "9"; }), -32602},
        {contRec([](QJsonArray &p) { p[23] = ""; }), -32602},
        {contRec([](QJsonArray &p) { p[7] = "0101;"; }), -32602},
        {contRec([](QJsonArray &p) { p[7] = "0101;;0102"; }), -32602},
        {contRec([](QJsonArray &p) { p[8] = "0101 ;0102"; }), -32602},
        {contRec([](QJsonArray &p) { p[8] = "0101';DROP TABLE CONTRECEBER;--"; }), -32602},
        {contRec([](QJsonArray &p) { p[21] = "1' OR '1'='1"; }), -32602},
        {contRec([](QJsonArray &p) { p[14] = 7; }), -32602},
        {{"0101", "0000000001", "01"}, -32602},
        {{"01010", "0000000001", "01", "01"}, -32602},
    };
    for (size_t i = 0; i < params.size(); ++i) {
        const QString method = params[i].first.size() == 3 || params[i].first.size() == 4 ? "GetAjusCont" : "GetContRec";
        EXPECT_EQ(client->errorCode(method, params[i].first), params[i].second)
            << i << ": " << QJsonDocument(params[i].first).toJson(QJsonDocument::Compact).toStdString();
    }

    // Quotes that fit a code are only data: no rows, no harm.
    Filter quoted;
    quoted.customers = "1'OR'1'='1";
    quoted.types = "DUP'--";
    quoted.postingBranches = "01'\"";
    EXPECT_TRUE(accounts(quoted).value("rows").toArray().isEmpty());

    // A body over the limit is refused before it is read.
    EXPECT_EQ(client->post(std::string(5u << 20, ' ')).status, 413);

    EXPECT_EQ(snapshot(), before);
    EXPECT_FALSE(accounts(Filter{}).value("rows").toArray().isEmpty()) << "the server still serves";
}

INSTANTIATE_TEST_SUITE_P(Databases, Reads, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto &info) { return backendName(info.param); });

namespace {

// A body that arrives a byte at a time: every token of it is cut somewhere.
struct Trickle final : erp::wire::ByteStream
{
    explicit Trickle(const char *text) : text(text) {}
    const char *data() const override { return text.data(); }
    qsizetype size() const override { return shown; }
    bool more() override { return shown < qsizetype(text.size()) && ++shown; }
    std::string text;
    qsizetype shown = 0;
};

} // namespace

// A body read while it arrives is read as the whole body is: the same calls taken, alike.
TEST(Requests, UsualCallsAreReadDirectlyAsTheDocumentReadsThem)
{
    const char *usual[] = {
        R"({"jsonrpc":"2.0","id":7,"method":"GetAjusCont","params":["0101","0000000101","01","01"]})",
        R"( { "method" : "GetContRec" , "params" : [ "01" , null , true , false , 0 , -12 , 1.5 , 2e3 , -0.25 ] ,
            "id" : "abc" , "jsonrpc" : "2.0" } )",
        R"({"jsonrpc":"2.0","id":1000000,"method":"M","params":[]})",
        R"({"jsonrpc":"2.0","id":-3.5,"method":"M","params":[123456789012345]})",
        R"({"jsonrpc":"2.0","method":"M","params":["~ DEL\u007f"]})",
        R"({"jsonrpc":"2.0","id":null,"method":"M","params":[1E-7]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[50001e13,1.0,-0.0,2.5e1,-7e0]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[{"fields":[],"rows":[]}]})",
        R"({"jsonrpc":"2.0","id":2,"method":"SetConfirmar","params":[{"fields":[{"name":"N","type":"string","size":4},
            {"name":"V","type":"float"},{"name":"D","type":"date"}],"rows":[["Ação",1.5,"2024-02-29"],[null,-2,null]]},
            "ana","01"]})",
    };
    for (const char *text : usual) {
        const QByteArray body(text);
        RpcCall direct, viaDocument;
        const bool taken = readUsualCall(body, direct);
        readCallDocument(body, viaDocument);
        Trickle trickle(text);
        RpcCall streamed;
        EXPECT_EQ(readUsualCall(trickle, streamed), taken) << text;
        if (!taken)
            continue; // an escape in a text: the document's alone
        EXPECT_TRUE(readAlike(direct, viaDocument)) << text;
        EXPECT_TRUE(readAlike(streamed, viaDocument)) << text;
    }
    for (const char *text : {usual[0], usual[std::size(usual) - 1]}) {
        RpcCall c;
        EXPECT_TRUE(readUsualCall(text, c)) << "the usual calls are the direct reader's: " << text;
    }

    // anything else is left to the document, which words the refusals
    const char *unusual[] = {
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":["a\"b"]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":["Ação"]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[{"rows":[],"fields":[]}]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[{"fields":[{"name":"N","type":"string","size":1}],"rows":[[1]]}]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[[1]]})",
        R"({"jsonrpc":"2.0","id":1,"id":2,"method":"M","params":[]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[12345678901234567]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[-0]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[01]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[1,]})",
        R"({"jsonrpc":"2.0","id":1,"method":"M"})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[],"extra":1})",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[]} x)",
        R"({"jsonrpc":"2.0","id":1,"method":"M","params":[nul]})",
    };
    for (const char *text : unusual) {
        RpcCall c;
        EXPECT_FALSE(readUsualCall(text, c)) << text;
        Trickle trickle(text);
        EXPECT_FALSE(readUsualCall(trickle, c)) << text;
        EXPECT_TRUE(c.method.isEmpty() && c.params.isEmpty()) << text;
    }
}
