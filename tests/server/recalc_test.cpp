// SetConfirmar over loopback, on SQLite and PostgreSQL: the recalculation with and without
// accounting errors, the checks against the list the client holds, refusals while another call
// holds the accounts, and all-or-nothing writes.
#include "harness.h"

#include <server/rpc/rowjson.h>
#include <server/util/textutil.h>

#include <erpwire/json.h>

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <atomic>
#include <map>
#include <set>

using namespace erp::server;
using namespace erp::server::test;

namespace {

const QString kOk = "OK";
const QString kLocked = "Operação bloqueada. Documento em alteração por outro usuário.";

// Column indexes of the account packet.
enum { Mark = 0, Due = 1, Instalment = 2, Value = 5, Branch = 9, Entry = 10, DueSeq = 11, Type = 18, Posting = 19 };
// Of the entries packet.
enum { EntryPosting = 3, EntrySeq = 4, EntryLedger = 5, EntryValue = 9, EntrySide = 10, EntryKey = 11 };

class Recalc : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        database = TestDatabase::create(GetParam());
        if (!database)
            GTEST_SKIP() << "ERP_TEST_PG_URL não definida";
        database->prepareDemo(900);
        sql = database->connect();
        server = std::make_unique<RunningServer>(database->url());
        client = std::make_unique<RpcClient>(server->port());
    }

    QJsonObject list(Filter f)
    {
        if (f.dueFrom.isNull()) {
            f.dueFrom = kToday.addDays(-400).toString(Qt::ISODate);
            f.dueTo = kToday.addDays(400).toString(Qt::ISODate);
        }
        return client->result("GetContRec", f.params()).toObject();
    }

    // Marks up to n rows (all when n is 0) that pred accepts.
    static QJsonObject mark(QJsonObject packet, int n, const std::function<bool(const QJsonArray &)> &pred = {})
    {
        QJsonArray rows = packet.value("rows").toArray();
        int marked = 0;
        for (int i = 0; i < rows.size() && (n == 0 || marked < n); ++i) {
            QJsonArray r = rows[i].toArray();
            if (pred && !pred(r))
                continue;
            r[Mark] = "S";
            rows[i] = r;
            ++marked;
        }
        packet["rows"] = rows;
        return packet;
    }

    static std::vector<QJsonArray> markedRows(const QJsonObject &packet)
    {
        std::vector<QJsonArray> out;
        for (const QJsonValue &v : packet.value("rows").toArray())
            if (v.toArray()[Mark].toString() == "S")
                out.push_back(v.toArray());
        return out;
    }

    QJsonArray confirm(const QJsonObject &packet, const QString &company = "01", const QString &op = "ana")
    {
        return client->result("SetConfirmar", {packet, op, company}).toArray();
    }

    static QJsonArray rowsOf(const QJsonArray &result, int i) { return result[i].toObject().value("rows").toArray(); }

    std::int64_t n(const std::string &q, std::initializer_list<db::Value> p = {}) { return count(*sql, q, p); }

    // Everything a refused or failed recalculation must leave as it was.
    std::vector<std::string> state() { return state(*sql); }
    static std::vector<std::string> state(db::Connection &c)
    {
        std::vector<std::string> s;
        db::Statement &st = c.prepare("SELECT CDFILIAL, NRLANCTONF, NRSEQVENREC, NRPARCELAREC, "
                                         "COALESCE(NRLANCTBDOC, '-'), IDCTBLCTREC FROM CONTRECEBER ORDER BY 1, 2, 3, 4");
        while (st.next())
            s.push_back(st.string(0) + st.string(1) + st.string(2) + st.string(3) + st.string(4) + st.string(5));
        st.reset();
        for (const char *q : {"SELECT COUNT(*) FROM LANCCTB", "SELECT COUNT(*) FROM ITLANCCTB",
                              "SELECT COUNT(*) FROM RATLANCCTB", "SELECT COUNT(*) FROM AUDITORIA",
                              "SELECT NRULTIMO FROM NUMERADOR WHERE CDNUMERADOR = 'LANCCTB'",
                              "SELECT COUNT(*) FROM AJCTRECEBER WHERE NRLCTBAJREC IS NOT NULL"})
            s.push_back(std::to_string(count(c, q)));
        return s;
    }

    // The raw request, for comparing answers byte for byte.
    static std::string confirmBody(const QJsonObject &packet, int id)
    {
        const QJsonArray params{packet, "ana", "01"};
        return QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", id}, {"method", "SetConfirmar"}, {"params", params}})
            .toJson(QJsonDocument::Compact)
            .toStdString();
    }

    // Every posting balanced, and every entry's apportionment adds up to it exactly.
    void expectLedgerConsistent()
    {
        EXPECT_EQ(n("SELECT COUNT(*) FROM (SELECT NRLANCCTB FROM ITLANCCTB GROUP BY NRLANCCTB HAVING "
                    "ABS(SUM(CASE WHEN IDDEBCRED = 'D' THEN VRLANCCTB ELSE -VRLANCCTB END)) > 0.001) X"),
                  0);
        // (SQLite keeps decimals as binary floating point: compare to well under a cent.)
        EXPECT_EQ(n("SELECT COUNT(*) FROM ITLANCCTB I WHERE ABS(I.VRLANCCTB - (SELECT SUM(R.VRLANCCUST) FROM "
                    "RATLANCCTB R WHERE R.NRLANCCTB = I.NRLANCCTB AND R.NRSEQLANCCTB = I.NRSEQLANCCTB)) > 0.001"),
                  0);
        // Each accounted account points at exactly one posting, which exists.
        EXPECT_EQ(n("SELECT COUNT(*) FROM CONTRECEBER C WHERE C.IDCTBLCTREC = 'S' AND NOT EXISTS "
                    "(SELECT 1 FROM LANCCTB L WHERE L.NRLANCCTB = C.NRLANCTBDOC)"),
                  0);
        EXPECT_EQ(n("SELECT COUNT(*) FROM (SELECT CDLANCCTBCOME, CDDOCUCONT FROM LANCCTB "
                    "GROUP BY CDLANCCTBCOME, CDDOCUCONT HAVING COUNT(*) > 1) X"),
                  0);
    }

    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<db::Connection> sql;
    std::unique_ptr<RunningServer> server;
    std::unique_ptr<RpcClient> client;
};

Filter cleanAccounts()
{
    Filter f;
    f.postingBranches = "0101;0102";
    f.types = "DUP;BOL";
    return f;
}

std::string keyOf(const QJsonArray &r)
{
    return (r[Branch].toString() + r[Instalment].toString() + r[Entry].toString() + r[DueSeq].toString()).toStdString();
}

} // namespace

TEST_P(Recalc, PostsTheMarkedAccountsBalancedAndApportionedToTheCent)
{
    // A new history text changes every posting of these accounts, so each is replaced.
    sql->execScript("UPDATE HISTPADRAO SET DSHISTPADR = 'Venda {DOC} venc. {VENC}' WHERE CDHISTPADR = 'H001'");
    const QJsonObject packet = mark(list(cleanAccounts()), 25);
    const std::vector<QJsonArray> marked = markedRows(packet);
    ASSERT_EQ(marked.size(), 25u);
    std::set<std::string> oldNumbers;
    for (const QJsonArray &r : marked)
        if (!r[Posting].isNull())
            oldNumbers.insert(r[Posting].toString().toStdString());
    ASSERT_FALSE(oldNumbers.empty()) << "some of the demo accounts are already accounted";
    const std::int64_t unmarkedAccounted = n("SELECT COUNT(*) FROM CONTRECEBER WHERE IDCTBLCTREC = 'S'");

    const QJsonArray result = confirm(packet);
    ASSERT_EQ(result.size(), 4);
    EXPECT_EQ(result[0].toString(), kOk);
    EXPECT_TRUE(rowsOf(result, 3).isEmpty()) << QJsonDocument(result[3].toObject()).toJson().toStdString();

    // Two entries per account and per adjustment; each account's posting is stored on it.
    const QJsonArray entries = rowsOf(result, 1);
    std::map<std::string, std::set<QString>> postingsByKey;
    std::map<QString, double> balance;
    for (const QJsonValue &v : entries) {
        const QJsonArray e = v.toArray();
        postingsByKey[e[EntryKey].toString().toStdString()].insert(e[EntryPosting].toString());
        balance[e[EntryPosting].toString()] += (e[EntrySide].toString() == "D" ? 1 : -1) * e[EntryValue].toDouble();
    }
    for (const auto &[posting, b] : balance)
        EXPECT_NEAR(b, 0, 1e-9) << posting.toStdString();
    for (const QJsonArray &r : marked) {
        const std::string number =
            db::queryText(*sql, "SELECT NRLANCTBDOC FROM CONTRECEBER WHERE CDFILIAL = ? AND NRLANCTONF = ? AND "
                                "NRSEQVENREC = ? AND NRPARCELAREC = ? AND IDCTBLCTREC = 'S'",
                          {r[Branch].toString().toStdString(), r[Entry].toString().toStdString(),
                           r[DueSeq].toString().toStdString(), r[Instalment].toString().toStdString()});
        ASSERT_FALSE(number.empty());
        EXPECT_TRUE(postingsByKey[keyOf(r)].count(QString::fromStdString(number))) << keyOf(r);
        EXPECT_EQ(n("SELECT COUNT(*) FROM ITLANCCTB WHERE NRLANCCTB = ?", {number}), 2);
    }
    EXPECT_EQ(n("SELECT COUNT(*) FROM CONTRECEBER WHERE IDCTBLCTREC = 'S'"),
              unmarkedAccounted + std::int64_t(std::count_if(marked.begin(), marked.end(), [](const QJsonArray &r) {
                  return r[26].toString() != "S";
              })));

    // The apportionment of the answer adds up to each entry.
    std::map<QString, double> shared;
    for (const QJsonValue &v : rowsOf(result, 2))
        shared[v.toArray()[5].toString()] += v.toArray()[4].toDouble();
    for (const QJsonValue &v : entries)
        EXPECT_NEAR(shared[v.toArray()[EntrySeq].toString()], v.toArray()[EntryValue].toDouble(), 1e-6);

    // The replaced postings are gone; the audit names the operator, the accounts and the numbers.
    for (const std::string &old : oldNumbers)
        EXPECT_EQ(n("SELECT COUNT(*) FROM LANCCTB WHERE NRLANCCTB = ?", {old}), 0) << old;
    EXPECT_EQ(n("SELECT COUNT(*) FROM AUDITORIA WHERE NMOPERADOR = 'ana' AND QTCONTAS = 25"), 1);
    std::set<QString> numbers;
    for (const QJsonValue &v : entries)
        numbers.insert(v.toArray()[EntryPosting].toString());
    EXPECT_EQ(n("SELECT COUNT(*) FROM AUDITCONTA"), std::int64_t(numbers.size()));
    EXPECT_EQ(n("SELECT COUNT(*) FROM AUDITCONTA WHERE NRSEQAJUREC IS NULL AND NRLANCANT IS NOT NULL"),
              std::int64_t(oldNumbers.size()));
    expectLedgerConsistent();
}

// Amounts go out from their cents without the shortest-float search; the text must be the one
// the number encoder gives for the same value, fractions, signs and whole values alike.
TEST(AnswerAmounts, CentsAreWrittenAsTheNumberEncoderWritesThem)
{
    const QList<erp::wire::FieldDef> layout{{"VRLANCCTB", erp::wire::FieldType::Float, 0}};
    std::vector<std::int64_t> values;
    for (std::int64_t v = -200000; v <= 200000; ++v)
        values.push_back(v);
    for (std::int64_t v : {std::int64_t(100000000), std::int64_t(123456789012345), std::int64_t(999999999999999),
                           std::int64_t(1000000000000000), std::int64_t(1000000000000001), std::int64_t(-999999999999901),
                           std::int64_t(450000000000005)})
        values.insert(values.end(), {v, -v});
    QByteArray fast, reference;
    {
        PacketWriter cents(fast, layout), number(reference, layout);
        for (const std::int64_t v : values) {
            cents.cents(v);
            number.number(double(v) / 100.0);
        }
        cents.finish();
        number.finish();
    }
    EXPECT_EQ(fast, reference);
    EXPECT_TRUE(reference.contains("[1e+06]")) << "whole values are the encoder's to write";
    EXPECT_TRUE(fast.contains("[-0.05],[-0.04]"));
}

// The answer's packets are written cell by cell; the bytes must be what the client's own encoder
// writes for the same packets, escapes, multi-byte text and cut texts included.
TEST_P(Recalc, TheAnswerIsWrittenAsThePacketEncoderWritesIt)
{
    db::Statement &up = sql->prepare("UPDATE HISTPADRAO SET DSHISTPADR = ? WHERE CDHISTPADR = 'H001'");
    up.bindAll({std::string("Aspas \" barra \\ tab\t nova\nlinha \x01 ção {DOC} {CLIENTE} ") + std::string(120, 'x') +
                "ãé {VENC}"});
    up.exec();
    const HttpReply reply = client->post(confirmBody(mark(list(cleanAccounts()), 30), 7));
    ASSERT_EQ(reply.status, 200) << reply.body;
    const QJsonArray result = reply.json().value("result").toArray();
    ASSERT_EQ(result.size(), 4) << reply.body.substr(0, 300);
    ASSERT_EQ(result[0].toString(), kOk);
    ASSERT_GT(rowsOf(result, 1).size(), 0);
    ASSERT_GT(rowsOf(result, 2).size(), 0);
    bool cut = false, escaped = false;
    for (const QJsonValue &e : rowsOf(result, 1)) {
        const QString text = e.toArray()[7].toString();
        escaped = escaped || text.contains('"');
        cut = cut || text.size() == 200;
    }
    EXPECT_TRUE(escaped);
    EXPECT_TRUE(cut) << "some history texts are longer than their field";

    QByteArray expected = "{\"jsonrpc\":\"2.0\",\"id\":7,\"result\":[";
    erp::wire::appendJsonString(expected, result[0].toString());
    for (int i = 1; i < 4; ++i) {
        expected.append(',');
        erp::wire::appendPacketJson(expected, erp::wire::decodePacket(result[i]));
    }
    expected.append("]}");
    EXPECT_EQ(reply.body, expected.toStdString());
    // The escapes as the protocol has them, whoever writes them.
    EXPECT_NE(reply.body.find(R"("Aspas \" barra \\ tab\t nova\nlinha \u0001 ção )"), std::string::npos);
}

// Version 3's indexes on the accounts' and adjustments' postings change nothing in what a
// recalculation answers or stores.
TEST_P(Recalc, TheOldPostingIndexesChangeNeitherTheAnswerNorTheRows)
{
    const auto old = TestDatabase::create(GetParam());
    old->prepareDemo(900);
    old->connect()->execScript("CREATE INDEX IXCONTRECEBER_LANC ON CONTRECEBER (NRLANCTBDOC); "
                               "CREATE INDEX IXAJCTRECEBER_LANC ON AJCTRECEBER (NRLCTBAJREC)");
    RunningServer oldServer(old->url());
    RpcClient oldClient(oldServer.port());

    const std::string body = confirmBody(mark(list(cleanAccounts()), 60), 3);
    const HttpReply now = client->post(body), withIndexes = oldClient.post(body);
    ASSERT_EQ(now.status, 200);
    EXPECT_EQ(now.json().value("result").toArray()[0].toString(), kOk) << now.body.substr(0, 300);
    EXPECT_EQ(now.body, withIndexes.body);
    EXPECT_EQ(state(), state(*old->connect()));
}

// A list in a shape other than the usual one (rows before fields) is read the same: the
// unchanged accounts get the same entries again.
TEST_P(Recalc, AListInAnUnusualShapeIsReadTheSame)
{
    const QJsonObject packet = mark(list(cleanAccounts()), 12);
    const QJsonArray first = confirm(packet);
    ASSERT_EQ(first[0].toString(), kOk);
    const auto compact = [](const QJsonArray &a) { return QJsonDocument(a).toJson(QJsonDocument::Compact).toStdString(); };
    const std::string body = R"({"jsonrpc":"2.0","id":5,"method":"SetConfirmar","params":[{"rows":)" +
                             compact(packet["rows"].toArray()) +
                             R"(,"fields":)" + compact(packet["fields"].toArray()) + R"(},"ana","01"]})";
    const HttpReply again = client->post(body);
    ASSERT_EQ(again.status, 200);
    const QJsonArray result = again.json().value("result").toArray();
    ASSERT_EQ(result.size(), 4) << again.body.substr(0, 300);
    EXPECT_EQ(result[0].toString(), kOk);
    EXPECT_EQ(rowsOf(result, 1), rowsOf(first, 1));
    EXPECT_EQ(rowsOf(result, 2), rowsOf(first, 2));
}

TEST_P(Recalc, RecalculatingAnUnchangedAccountGivesTheSameEntries)
{
    const QJsonObject packet = mark(list(cleanAccounts()), 15);
    const QJsonArray first = confirm(packet);
    ASSERT_EQ(first[0].toString(), kOk);
    const auto before = state();
    const QJsonArray again = confirm(mark(list(cleanAccounts()), 15));
    EXPECT_EQ(again[0].toString(), kOk);
    EXPECT_EQ(rowsOf(again, 1), rowsOf(first, 1)) << "same entries, same posting numbers";
    EXPECT_EQ(rowsOf(again, 2), rowsOf(first, 2));
    std::vector<std::string> after = state();
    // Only the audit of the second call is new.
    EXPECT_EQ(std::stoll(after[after.size() - 3]), std::stoll(before[before.size() - 3]) + 1);
    after[after.size() - 3] = before[before.size() - 3];
    EXPECT_EQ(after, before);

    // A changed adjustment gets a new posting of its own; the account's stays.
    const QJsonArray r = markedRows(packet).front();
    db::Statement &ins = sql->prepare(
        "INSERT INTO AJCTRECEBER (CDFILIAL, NRLANCTONF, NRSEQVENREC, NRPARCELAREC, NRSEQAJUREC, DTAJUSTEREC, "
        "CDAJUCTREC, DSAJUSTEREC, VRAJUSTEREC) VALUES (?, ?, ?, ?, '900', ?, 'AJ01', 'Desc. teste', 12.34)");
    ins.bindAll({r[Branch].toString().toStdString(), r[Entry].toString().toStdString(),
                 r[DueSeq].toString().toStdString(), r[Instalment].toString().toStdString(),
                 kToday.toString(Qt::ISODate).toStdString()});
    ins.exec();
    const QJsonArray third = confirm(mark(list(cleanAccounts()), 15));
    ASSERT_EQ(third[0].toString(), kOk);
    EXPECT_EQ(rowsOf(third, 1).size(), rowsOf(first, 1).size() + 2);
    EXPECT_EQ(n("SELECT COUNT(*) FROM LANCCTB"), std::stoll(before[before.size() - 6]) + 1);
    EXPECT_EQ(n("SELECT COUNT(*) FROM ITLANCCTB WHERE VRLANCCTB = 12.34"), 2);
    expectLedgerConsistent();
}

TEST_P(Recalc, ConfigurationFaultsAreCodedErrorsAndNothingIsWritten)
{
    struct Case
    {
        const char *code;
        QString company;
        Filter filter;
    };
    std::vector<Case> cases;
    const auto add = [&](const char *code, const char *company, auto set) {
        Filter f;
        f.company = company;
        set(f);
        cases.push_back({code, company, f});
    };
    add("001", "02", [](Filter &f) { f.types = "CONV"; });
    add("003", "02", [](Filter &f) { f.types = "DEP"; f.postingBranches = "0201"; });
    add("004", "01", [](Filter &f) { f.types = "PROM"; });
    add("005", "03", [](Filter &f) { f.types = "DEP"; });
    add("006", "03", [](Filter &f) { f.postingBranches = "0302"; });
    add("007", "02", [](Filter &f) { f.postingBranches = "0202"; });
    add("008", "03", [](Filter &f) { f.postingBranches = "0301"; f.types = "DUP"; f.exitTo = "2024-12-31"; f.exitFrom = "2024-01-01"; });
    const auto before = state();
    for (const Case &c : cases) {
        const QJsonObject packet = mark(list(c.filter), 5);
        ASSERT_FALSE(markedRows(packet).empty()) << c.code;
        const QJsonArray result = confirm(packet, c.company);
        ASSERT_EQ(result.size(), 4) << c.code;
        EXPECT_EQ(result[0].toString(), kOk);
        const QJsonArray errors = rowsOf(result, 3);
        std::set<std::string> codes;
        std::set<QString> entrySeqs;
        for (const QJsonValue &e : rowsOf(result, 1))
            entrySeqs.insert(e.toArray()[EntrySeq].toString());
        for (const QJsonValue &e : errors) {
            codes.insert(e.toArray()[0].toString().toStdString());
            EXPECT_TRUE(entrySeqs.count(e.toArray()[1].toString())) << "an error names an entry of the answer";
            EXPECT_FALSE(db::queryText(*sql, "SELECT DSERROCTB FROM ERROCTB WHERE CDERROCTB = ?",
                                       {e.toArray()[0].toString().toStdString()})
                             .empty());
        }
        EXPECT_TRUE(codes.count(c.code)) << "expected error " << c.code;
    }
    // An adjustment type without a rule (company 03, AJ04).
    const std::string key = db::queryText(
        *sql, "SELECT A.NRLANCTONF FROM AJCTRECEBER A JOIN CONTRECEBER C ON C.CDFILIAL = A.CDFILIAL AND "
              "C.NRLANCTONF = A.NRLANCTONF AND C.NRSEQVENREC = A.NRSEQVENREC AND C.NRPARCELAREC = A.NRPARCELAREC "
              "WHERE C.CDEMPRESA = '03' AND A.CDAJUCTREC = 'AJ04' ORDER BY 1");
    if (!key.empty()) {
        Filter f;
        f.company = "03";
        const QJsonArray result = confirm(mark(list(f), 0, [&](const QJsonArray &r) {
                                              return r[Entry].toString().toStdString() == key;
                                          }),
                                          "03");
        bool found = false;
        for (const QJsonValue &e : rowsOf(result, 3))
            found = found || e.toArray()[0].toString() == "002";
        EXPECT_TRUE(found);
    }
    EXPECT_EQ(state(), before);
}

TEST_P(Recalc, AStaleListIsRefusedWithTheTextOfWhatChanged)
{
    const QJsonObject packet = mark(list(cleanAccounts()), 3);
    const QJsonArray r = markedRows(packet)[1];
    const std::string where = " WHERE CDFILIAL = '" + r[Branch].toString().toStdString() + "' AND NRLANCTONF = '" +
                              r[Entry].toString().toStdString() + "' AND NRSEQVENREC = '" +
                              r[DueSeq].toString().toStdString() + "' AND NRPARCELAREC = '" +
                              r[Instalment].toString().toStdString() + "'";
    const struct
    {
        std::string change, undo;
        QString text;
    } cases[] = {
        {"UPDATE CONTRECEBER SET VRATUAREC = VRATUAREC + 1", "UPDATE CONTRECEBER SET VRATUAREC = VRATUAREC - 1",
         "Valor da conta foi alterado por outro usuário."},
        {"UPDATE CONTRECEBER SET DTATUAVENREC = '2031-01-01'",
         "UPDATE CONTRECEBER SET DTATUAVENREC = '" + r[Due].toString().left(10).toStdString() + "'",
         "Conta foi prorrogada por outro usuário."},
        {"UPDATE CONTRECEBER SET CDTPCTRECEB = 'CHQ'",
         "UPDATE CONTRECEBER SET CDTPCTRECEB = '" + r[Type].toString().toStdString() + "'",
         "Tipo do documento foi alterado por outro usuário."},
        {"UPDATE CONTRECEBER SET CDMOTIPARC = '09'", "UPDATE CONTRECEBER SET CDMOTIPARC = NULL",
         "Conta foi parcelada por outro usuário."},
    };
    const auto before = state();
    for (const auto &c : cases) {
        sql->execScript(c.change + where);
        const QJsonArray result = confirm(packet);
        EXPECT_EQ(result[0].toString(), c.text);
        EXPECT_TRUE(rowsOf(result, 1).isEmpty());
        sql->execScript(c.undo + where);
    }
    sql->execScript("DELETE FROM AJCTRECEBER" + where);
    sql->execScript("UPDATE CONTRECEBER SET NRLANCTBDOC = NULL" + where);
    const auto afterAdjustments = state();
    sql->execScript("DELETE FROM CONTRECEBER" + where);
    EXPECT_EQ(confirm(packet)[0].toString(), "Documento foi excluído por outro usuário.");
    EXPECT_EQ(n("SELECT COUNT(*) FROM AUDITORIA"), std::stoll(before[before.size() - 3]));
    EXPECT_EQ(n("SELECT COUNT(*) FROM LANCCTB"), std::stoll(afterAdjustments[afterAdjustments.size() - 6]));
}

TEST_P(Recalc, AccountsHeldByAnotherRecalculationAreRefused)
{
    const QJsonObject packet = mark(list(cleanAccounts()), 4);
    const QJsonArray r = markedRows(packet)[2];
    const auto before = state();
    {
        // Another writer holds the accounts: an open write transaction on SQLite, the account's
        // row locked on PostgreSQL (as another server process would).
        auto other = database->connect();
        db::Transaction tx(*other, db::TxMode::Write);
        other->execScript("SELECT 1 FROM CONTRECEBER WHERE CDFILIAL = '" + r[Branch].toString().toStdString() +
                          "' AND NRLANCTONF = '" + r[Entry].toString().toStdString() + "' AND NRSEQVENREC = '" +
                          r[DueSeq].toString().toStdString() + "' AND NRPARCELAREC = '" +
                          r[Instalment].toString().toStdString() + "'" + other->lockRowsNoWait("CONTRECEBER"));
        const QJsonArray result = confirm(packet);
        EXPECT_EQ(result[0].toString(), kLocked);
        EXPECT_TRUE(rowsOf(result, 1).isEmpty());
        EXPECT_EQ(state(), before);
    }
    EXPECT_EQ(confirm(packet)[0].toString(), kOk) << "the lock died with its transaction";
}

TEST_P(Recalc, OverlappingRecalculationsFromTwoServersCommitOnceEach)
{
    RunningServer second(database->url());
    const QJsonObject packet = mark(list(cleanAccounts()), 40);
    std::atomic<int> ok{0}, locked{0}, other{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            RpcClient c(t % 2 ? second.port() : server->port());
            for (int round = 0; round < 3; ++round) {
                const QJsonArray res = c.result("SetConfirmar", {packet, "ana", "01"}).toArray();
                const QString status = res.isEmpty() ? QString() : res[0].toString();
                (status == kOk ? ok : status == kLocked ? locked : other)++;
            }
        });
    }
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(other, 0);
    EXPECT_GE(ok, 1);
    EXPECT_EQ(ok + locked, 18);
    for (const QJsonArray &r : markedRows(packet))
        EXPECT_EQ(n("SELECT COUNT(*) FROM LANCCTB WHERE CDLANCCTBCOME = ? AND CDDOCUCONT NOT LIKE '% AJ %'",
                    {keyOf(r)}),
                  1)
            << keyOf(r);
    expectLedgerConsistent();
}

TEST_P(Recalc, AFailureWhileWritingLeavesEverythingAsItWas)
{
    if (GetParam() == Backend::Sqlite) {
        sql->execScript("CREATE TRIGGER FALHA BEFORE INSERT ON AUDITCONTA BEGIN SELECT RAISE(ABORT, 'falha'); END");
    } else {
        sql->execScript("CREATE FUNCTION falha() RETURNS trigger LANGUAGE plpgsql AS "
                        "$$BEGIN RAISE EXCEPTION 'falha'; END$$; "
                        "CREATE TRIGGER FALHA BEFORE INSERT ON AUDITCONTA FOR EACH ROW EXECUTE FUNCTION falha()");
    }
    const QJsonObject packet = mark(list(cleanAccounts()), 10);
    const auto before = state();
    EXPECT_EQ(client->errorCode("SetConfirmar", {packet, "ana", "01"}), -32603);
    EXPECT_EQ(state(), before);
    sql->execScript("DROP TRIGGER FALHA" + std::string(GetParam() == Backend::Sqlite ? "" : " ON AUDITCONTA"));
    EXPECT_EQ(confirm(packet)[0].toString(), kOk) << "the server recovers";
}

TEST_P(Recalc, OnlyTheAuthenticatedOperatorsMarkedRowsOfTheCompanyAreTaken)
{
    const QJsonObject listed = list(cleanAccounts());
    const auto before = state();
    EXPECT_EQ(client->errorCode("SetConfirmar", {mark(listed, 3), "bruno", "01"}), -32000);
    EXPECT_EQ(client->errorCode("SetConfirmar", {listed, "ana", "01"}), -32000) << "nothing marked";
    EXPECT_EQ(client->errorCode("SetConfirmar", {mark(listed, 3), "ana", "02"}), -32602) << "rows of another company";
    EXPECT_EQ(client->errorCode("SetConfirmar", {mark(listed, 3), "ana", "77"}), -32602);
    EXPECT_EQ(client->errorCode("SetConfirmar", {"pacote", "ana", "01"}), -32602);
    QJsonObject wrongFields = mark(listed, 1);
    QJsonArray fields = wrongFields["fields"].toArray();
    fields.removeLast();
    wrongFields["fields"] = fields;
    EXPECT_EQ(client->errorCode("SetConfirmar", {wrongFields, "ana", "01"}), -32602);
    QJsonObject tooLong = mark(listed, 1);
    QJsonArray rows = tooLong["rows"].toArray();
    QJsonArray first = rows[0].toArray();
    first[Branch] = "01010";
    rows[0] = first;
    tooLong["rows"] = rows;
    EXPECT_EQ(client->errorCode("SetConfirmar", {tooLong, "ana", "01"}), -32602);
    EXPECT_EQ(state(), before);

    // Marks other than "S" are not marks.
    QJsonObject lower = listed;
    rows = lower["rows"].toArray();
    first = rows[0].toArray();
    first[Mark] = "s";
    rows[0] = first;
    QJsonArray second = rows[1].toArray();
    second[Mark] = "S";
    rows[1] = second;
    lower["rows"] = rows;
    const QJsonArray result = confirm(lower);
    ASSERT_EQ(result[0].toString(), kOk);
    std::set<std::string> keys;
    for (const QJsonValue &e : rowsOf(result, 1))
        keys.insert(e.toArray()[EntryKey].toString().toStdString());
    EXPECT_EQ(keys, std::set<std::string>{keyOf(second)});
}

// Of the differences packet of SimConfirmar.
enum { DiffBranch = 0, DiffEntry = 1, DiffDueSeq = 2, DiffInstalment = 3, DiffStatus = 7, DiffOld = 8, DiffOldDebit = 9,
       DiffNew = 12, DiffNewDebit = 13, DiffNewCredit = 14, DiffChanges = 16 };

// Every row of the tables a recalculation writes, as one digest.
std::string ledgerDigest(db::Connection &c)
{
    std::string all;
    for (const auto &[q, columns] : std::initializer_list<std::pair<const char *, int>>{
             {"SELECT NRLANCCTB, CDEMPRESA, DTLANCCTB, CDLANCCTBCOME, CDDOCUCONT, CDASSINATURA FROM LANCCTB ORDER BY 1", 6},
             {"SELECT NRLANCCTB, NRSEQLANCCTB, CDCONTCTBL, IDDEBCRED, VRLANCCTB, DSHISTCTB FROM ITLANCCTB ORDER BY 1, 2", 6},
             {"SELECT NRLANCCTB, NRSEQLANCCTB, NRSEQRATCTB, CDCENTCUST, VRLANCCUST FROM RATLANCCTB ORDER BY 1, 2, 3", 5},
             {"SELECT CDFILIAL, NRLANCTONF, NRSEQVENREC, NRPARCELAREC, NRLANCTBDOC, IDCTBLCTREC FROM CONTRECEBER "
              "ORDER BY 1, 2, 3, 4", 6},
             {"SELECT CDFILIAL, NRLANCTONF, NRSEQVENREC, NRPARCELAREC, NRSEQAJUREC, NRLCTBAJREC FROM AJCTRECEBER "
              "ORDER BY 1, 2, 3, 4, 5", 6},
             {"SELECT CDNUMERADOR, NRULTIMO FROM NUMERADOR ORDER BY 1", 2},
             {"SELECT NRAUDITORIA, NRSEQAUDIT, NRLANCANT, NRLANCNOVO FROM AUDITCONTA ORDER BY 1, 2", 4}}) {
        db::Statement &st = c.prepare(q);
        while (st.next())
            for (int col = 0; col < columns; ++col)
                all.append(st.isNull(col) ? "~" : st.string(col)).push_back('|');
        st.reset();
    }
    return hex64(fnv1a64(all)) + "/" + std::to_string(all.size());
}

// The preview answers what the confirm then answers and writes, row for row, and writes nothing.
TEST_P(Recalc, APreviewIsWhatTheConfirmThenWritesAndWritesNothing)
{
    // Ten accounts recalculated as they stand; then type BOL credits another ledger account.
    ASSERT_EQ(confirm(mark(list(cleanAccounts()), 10))[0].toString(), kOk);
    const std::string rule = "FROM REGCTBTPREC WHERE CDEMPRESA = '01' AND CDTPCTRECEB = 'BOL'";
    const std::string other = db::queryText(
        *sql, "SELECT MIN(CDCONTCTBL) FROM PLANOCONTA WHERE CDEMPRESA = '01' AND IDCONTANALI = 'S' AND CDCONTCTBL NOT IN "
              "(SELECT CDCONTDEB " + rule + ") AND CDCONTCTBL NOT IN (SELECT CDCONTCRED " + rule + ")");
    ASSERT_FALSE(other.empty());
    sql->execScript("UPDATE REGCTBTPREC SET CDCONTCRED = '" + other + "' WHERE CDEMPRESA = '01' AND CDTPCTRECEB = 'BOL'");

    const QJsonObject packet = mark(list(cleanAccounts()), 40);
    const std::vector<QJsonArray> marked = markedRows(packet);
    const auto before = state();
    const std::string digest = ledgerDigest(*sql);
    const QJsonArray preview = client->result("SimConfirmar", {packet, "ana", "01"}).toArray();
    ASSERT_EQ(preview.size(), 5);
    EXPECT_EQ(ledgerDigest(*sql), digest);
    EXPECT_EQ(state(), before);

    const QJsonArray result = confirm(packet);
    ASSERT_EQ(result[0].toString(), kOk);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(preview[i], result[i]) << "element " << i;

    const QJsonArray diffs = rowsOf(preview, 4);
    ASSERT_EQ(diffs.size(), int(marked.size()));
    std::map<QString, int> statuses;
    bool otherLedgerShown = false;
    for (int i = 0; i < diffs.size(); ++i) {
        const QJsonArray d = diffs[i].toArray();
        const QJsonArray &r = marked[size_t(i)];
        ASSERT_EQ(d[DiffEntry], r[Entry]);
        const std::vector<db::Value> key{r[Branch].toString().toStdString(), r[Entry].toString().toStdString(),
                                         r[DueSeq].toString().toStdString(), r[Instalment].toString().toStdString()};
        const std::string where = " WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQVENREC = ? AND NRPARCELAREC = ?";
        // The account's posting now is the first of the new numbers, then its adjustments'.
        const std::string now = db::queryText(*sql, "SELECT NRLANCTBDOC FROM CONTRECEBER" + where,
                                              {key[0], key[1], key[2], key[3]});
        const QStringList fresh = d[DiffNew].toString().split(' ');
        EXPECT_EQ(fresh.value(0).toStdString(), now);
        EXPECT_EQ(d[DiffOld].toString().split(' ').value(0), r[Posting].toString());
        std::int64_t debit = 0;
        for (const QString &number : fresh)
            debit += n("SELECT CAST(ROUND(SUM(VRLANCCTB) * 100) AS BIGINT) FROM ITLANCCTB WHERE IDDEBCRED = 'D' AND "
                       "NRLANCCTB = ?",
                       {number.toStdString()});
        EXPECT_EQ(std::llround(d[DiffNewDebit].toDouble() * 100), debit);
        EXPECT_DOUBLE_EQ(d[DiffNewDebit].toDouble(), d[DiffNewCredit].toDouble());
        const QString status = d[DiffStatus].toString();
        ++statuses[status];
        if (r[Posting].isNull())
            EXPECT_EQ(status, "novo");
        else
            EXPECT_EQ(status, d[DiffOld] == d[DiffNew] ? "igual" : "alterado") << i;
        EXPECT_EQ(d[DiffChanges].toString().isEmpty(), status == "igual");
        otherLedgerShown = otherLedgerShown || d[DiffChanges].toString().contains(QString::fromStdString(other + " C"));
    }
    EXPECT_GT(statuses["igual"], 0);
    EXPECT_GT(statuses["alterado"], 0);
    EXPECT_GT(statuses["novo"], 0);
    EXPECT_TRUE(otherLedgerShown);

    // The history keeps what the preview showed: per posting the one replaced and the one
    // written, with their totals; the recalculation first in its period.
    const QString day = QDate::currentDate().toString(Qt::ISODate);
    const QJsonArray recalcs =
        client->result("GetHistRecalc", {"01", QDate::currentDate().addDays(-1).toString(Qt::ISODate), day, "ana"})
            .toObject()
            .value("rows")
            .toArray();
    ASSERT_EQ(recalcs.size(), 2);
    const QJsonArray last = recalcs[0].toArray();
    EXPECT_EQ(last[1].toString().left(10), day);
    EXPECT_EQ(last[2].toString(), "ana");
    EXPECT_EQ(last[5].toDouble(), double(marked.size()));
    const QJsonArray lines =
        client->result("GetHistRecalcContas", {last[0].toString()}).toObject().value("rows").toArray();
    std::map<QString, std::pair<double, double>> totals; // by account: before, after
    const auto account = [](const QJsonArray &row) { return row[0].toString() + row[1].toString() + row[2].toString() + row[3].toString(); };
    std::int64_t changed = 0;
    for (const QJsonValue &v : lines) {
        const QJsonArray l = v.toArray();
        totals[account(l)].first += l[9].toDouble();
        totals[account(l)].second += l[11].toDouble();
        changed += l[7].toString() != "igual";
        EXPECT_EQ(l[7].toString(), l[8].isNull() ? "novo" : l[8] == l[10] ? "igual" : "alterado");
        EXPECT_NEAR(l[12].toDouble(), l[11].toDouble() - l[9].toDouble(), 0.001);
    }
    EXPECT_EQ(last[6].toDouble(), double(changed));
    double was = 0, will = 0;
    for (const QJsonValue &v : diffs) {
        const QJsonArray d = v.toArray();
        EXPECT_NEAR(totals[account(d)].first, d[DiffOldDebit].toDouble(), 0.001);
        EXPECT_NEAR(totals[account(d)].second, d[DiffNewDebit].toDouble(), 0.001);
        was += d[DiffOldDebit].toDouble();
        will += d[DiffNewDebit].toDouble();
    }
    EXPECT_NEAR(last[7].toDouble(), was, 0.001);
    EXPECT_NEAR(last[8].toDouble(), will, 0.001);
    EXPECT_EQ(client->errorCode("GetHistRecalc", {"01", day, QDate::currentDate().addDays(-1).toString(Qt::ISODate), ""}),
              -32602);
    EXPECT_EQ(client->errorCode("GetHistRecalcContas", {"1 OR 1=1"}), -32602);
}

// Refusals, stale lists, held accounts and accounting errors: the preview answers as the confirm.
TEST_P(Recalc, APreviewIsRefusedAndFailsAsTheConfirmDoes)
{
    const QJsonObject listed = list(cleanAccounts());
    const auto before = state();
    const std::string digest = ledgerDigest(*sql);
    for (const QJsonArray &params : {QJsonArray{mark(listed, 3), "bruno", "01"}, QJsonArray{listed, "ana", "01"},
                                     QJsonArray{mark(listed, 3), "ana", "02"}, QJsonArray{"pacote", "ana", "01"}})
        EXPECT_EQ(client->errorCode("SimConfirmar", params), client->errorCode("SetConfirmar", params));

    Filter faulty;
    faulty.company = "02";
    faulty.types = "CONV";
    const QJsonObject withErrors = mark(list(faulty), 6);
    const QJsonArray preview = client->result("SimConfirmar", {withErrors, "ana", "02"}).toArray();
    const QJsonArray confirmed = confirm(withErrors, "02");
    ASSERT_EQ(preview.size(), 5);
    ASSERT_FALSE(rowsOf(confirmed, 3).isEmpty());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(preview[i], confirmed[i]) << "element " << i;
    for (const QJsonValue &d : rowsOf(preview, 4))
        EXPECT_EQ(d.toArray()[DiffStatus].toString(), "sem lançamento");

    const QJsonObject packet = mark(listed, 4);
    const QJsonArray r = markedRows(packet)[2];
    const std::string where = " WHERE CDFILIAL = '" + r[Branch].toString().toStdString() + "' AND NRLANCTONF = '" +
                              r[Entry].toString().toStdString() + "' AND NRSEQVENREC = '" +
                              r[DueSeq].toString().toStdString() + "' AND NRPARCELAREC = '" +
                              r[Instalment].toString().toStdString() + "'";
    sql->execScript("UPDATE CONTRECEBER SET VRATUAREC = VRATUAREC + 1" + where);
    const QJsonArray stale = client->result("SimConfirmar", {packet, "ana", "01"}).toArray();
    EXPECT_EQ(stale[0].toString(), "Valor da conta foi alterado por outro usuário.");
    EXPECT_TRUE(rowsOf(stale, 4).isEmpty());
    sql->execScript("UPDATE CONTRECEBER SET VRATUAREC = VRATUAREC - 1" + where);
    {
        auto other = database->connect();
        db::Transaction tx(*other, db::TxMode::Write);
        other->execScript("SELECT 1 FROM CONTRECEBER" + where + other->lockRowsNoWait("CONTRECEBER"));
        EXPECT_EQ(client->result("SimConfirmar", {packet, "ana", "01"}).toArray()[0].toString(), kLocked);
    }
    EXPECT_EQ(state(), before);
    EXPECT_EQ(ledgerDigest(*sql), digest);
}

INSTANTIATE_TEST_SUITE_P(Databases, Recalc, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto &info) { return backendName(info.param); });
