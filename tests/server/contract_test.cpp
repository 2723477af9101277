// The packets of every method against the datasets the screens load them into: field names,
// types and sizes in the datasets' order, and every value of every row within its field.
#include "harness.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QRegularExpression>

using namespace erp::server;
using namespace erp::server::test;

namespace {

struct Field
{
    const char *name;
    const char *type;
    int size = 0;
};

// Transcribed from the screens' dataset definitions, not from the server's layouts.
const std::vector<Field> kGeralRec{{"CDGERALREC", "string", 1}, {"QTDIAANTLANR", "float"}, {"QTDIAAPOLANR", "float"}};
const std::vector<Field> kParamFilial{{"NRTAMNUMNFUT", "float"}};
const std::vector<Field> kParExp{{"IDCTRLVENEXP", "string", 1}};
const std::vector<Field> kTipoCtReceber{
    {"IDMARCADO", "fixedstring", 1}, {"CDTPCTRECEB", "string", 6}, {"DSTPCTRECEB", "string", 40}};
const std::vector<Field> kContRec{
    {"IDMARCADO", "fixedstring", 1}, {"DTATUAVENREC", "datetime"},   {"NRPARCELAREC", "string", 2},
    {"NMRAZSOCCLIE", "string", 50},  {"IDSTATREC", "string", 1},     {"VRATUAREC", "float"},
    {"CDSERIE", "string", 5},        {"NRNOTAFISC", "string", 20},   {"IDTPIJURCLIE", "string", 1},
    {"CDFILIAL", "string", 4},       {"NRLANCTONF", "string", 10},   {"NRSEQVENREC", "string", 2},
    {"DSCONTAREC", "string", 100},   {"DSTPCTRECEB", "string", 40},  {"CDFILIEMIT", "string", 4},
    {"NRINSJURCLIE", "string", 20},  {"CDMOTIPROR", "string", 2},    {"CDMOTIPARC", "string", 2},
    {"CDTPCTRECEB", "string", 6},    {"NRLANCTBDOC", "string", 12},  {"CDEMPRESA", "string", 2},
    {"IDSTATUS", "string", 1},       {"VRNOTAFISC", "float"},        {"DTENTRSAID", "datetime"},
    {"CDCLIENTE", "string", 21},     {"NMFANTCLIE", "string", 50},   {"IDCTBLCTREC", "string", 1}};
const std::vector<Field> kAjusCont{
    {"CDFILIAL", "string", 4},     {"NRLANCTONF", "string", 10},  {"NRSEQVENREC", "string", 2},
    {"NRPARCELAREC", "string", 2}, {"DTAJUSTEREC", "datetime"},   {"CDAJUCTREC", "string", 4},
    {"IDAJUCTREC", "string", 1},   {"DSAJUCTREC", "string", 40},  {"DSAJUSTEREC", "string", 20},
    {"VRAJUSTEREC", "float"},      {"CDECTBAJREC", "string", 2},  {"NRLCTBAJREC", "string", 12},
    {"CDCLASSFINA", "string", 6},  {"CDEMMFAJCNTR", "string", 2}, {"CDFIMFAJCNTR", "string", 4},
    {"DTMOVFLUXO", "datetime"},    {"IDMOVFLUXO", "string", 1}};
const std::vector<Field> kLancContTemp{
    {"CDEMPRESA", "string", 2},     {"CDCONTREDU", "string", 20},   {"NMCONTCTBL", "string", 40},
    {"NRLANCCTBTEMP", "string", 20}, {"NRSEQCTBTEMP", "string", 6}, {"CDCONTCTBL", "string", 20},
    {"CDHISTPADR", "string", 4},    {"DSHISTCTB", "string", 200},   {"DTLANCCTBTEMP", "datetime"},
    {"VRLANCCTBTEMP", "float"},     {"IDLANCCTBCOME", "string", 1}, {"CDLANCCTBCOME", "string", 21},
    {"NMEMPRESA", "string", 40},    {"CDDOCUCONT", "string", 40}};
const std::vector<Field> kRateio{
    {"CDFILIAL", "string", 4},      {"NMFILIAL", "string", 30},      {"CDCENTCUST", "string", 4},
    {"NMCENTCUST", "string", 40},   {"VRLANCCUST", "float"},         {"NRSEQCTBTEMP", "string", 6},
    {"NRLANCCTBTEMP", "string", 12}, {"DTCOMPCTBTEMP", "datetime"},  {"CDEMPRESA", "string", 2},
    {"NRSEQRATTEMP", "string", 5}};
const std::vector<Field> kErrosTemp{{"CDERROTEMP", "string", 3}, {"NRSEQCTBTEMP", "string", 5}};

// Rows checked; fails the test for the first difference of each kind.
int expectPacket(const QJsonValue &value, const std::vector<Field> &want, const char *what)
{
    const QJsonObject packet = value.toObject();
    const QJsonArray fields = packet.value("fields").toArray();
    EXPECT_EQ(fields.size(), qsizetype(want.size())) << what;
    for (size_t i = 0; i < want.size() && i < size_t(fields.size()); ++i) {
        const QJsonObject f = fields[qsizetype(i)].toObject();
        EXPECT_EQ(f.value("name").toString().toStdString(), want[i].name) << what << " field " << i;
        EXPECT_EQ(f.value("type").toString().toStdString(), want[i].type) << what << " " << want[i].name;
        EXPECT_EQ(f.value("size").toInt(), want[i].size) << what << " " << want[i].name;
    }
    static const QRegularExpression dateTime("^\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}$");
    const QJsonArray rows = packet.value("rows").toArray();
    for (const QJsonValue &rv : rows) {
        const QJsonArray r = rv.toArray();
        if (r.size() != qsizetype(want.size())) {
            ADD_FAILURE() << what << ": row of " << r.size() << " values";
            return int(rows.size());
        }
        for (size_t i = 0; i < want.size(); ++i) {
            const QJsonValue v = r[qsizetype(i)];
            if (v.isNull())
                continue;
            const std::string type = want[i].type;
            bool fits = true;
            if (type == "string" || type == "fixedstring")
                fits = v.isString() && v.toString().size() <= want[i].size &&
                       (type == "string" || v.toString().size() == want[i].size);
            else if (type == "float")
                fits = v.isDouble();
            else if (type == "datetime")
                fits = v.isString() && dateTime.match(v.toString()).hasMatch();
            if (!fits) {
                ADD_FAILURE() << what << " " << want[i].name << ": "
                              << QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).toStdString();
                return int(rows.size());
            }
        }
    }
    return int(rows.size());
}

class Contract : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        database = TestDatabase::create(GetParam());
        if (!database)
            GTEST_SKIP() << "ERP_TEST_PG_URL não definida";
        database->prepareDemo(600);
        server = std::make_unique<RunningServer>(database->url());
        client = std::make_unique<RpcClient>(server->port());
    }
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<RunningServer> server;
    std::unique_ptr<RpcClient> client;
};

Filter everything(const QString &company)
{
    Filter f;
    f.company = company;
    f.dueFrom = kToday.addDays(-400).toString(Qt::ISODate);
    f.dueTo = kToday.addDays(400).toString(Qt::ISODate);
    return f;
}

QJsonObject markedFirst(QJsonObject packet, int n)
{
    QJsonArray rows = packet["rows"].toArray();
    for (int i = 0; i < n && i < rows.size(); ++i) {
        QJsonArray r = rows[i].toArray();
        r[0] = "S";
        rows[i] = r;
    }
    packet["rows"] = rows;
    return packet;
}

} // namespace

TEST_P(Contract, EveryPacketHasItsDatasetsFieldsAndEveryValueFits)
{
    EXPECT_EQ(expectPacket(client->result("GetGeralRec", {}), kGeralRec, "GetGeralRec"), 1);
    EXPECT_EQ(expectPacket(client->result("GetParamFilial", {"0101"}), kParamFilial, "GetParamFilial"), 1);
    EXPECT_EQ(expectPacket(client->result("GetParamFilial", {"9999"}), kParamFilial, "GetParamFilial"), 0);
    EXPECT_EQ(expectPacket(client->result("GetParExp", {"0101"}), kParExp, "GetParExp"), 1);
    EXPECT_GT(expectPacket(client->result("GetTipoCtReceber", {}), kTipoCtReceber, "GetTipoCtReceber"), 0);

    int accounts = 0, adjustments = 0, entries = 0, shares = 0, errors = 0;
    for (const QString company : {"01", "02", "03"}) {
        const QJsonObject list = client->result("GetContRec", everything(company).params()).toObject();
        accounts += expectPacket(list, kContRec, "GetContRec");
        for (const QJsonValue &rv : list.value("rows").toArray()) {
            const QJsonArray r = rv.toArray();
            const QJsonValue adj = client->result("GetAjusCont", {r[9], r[10], r[11], r[2]});
            adjustments += expectPacket(adj, kAjusCont, "GetAjusCont");
            if (adjustments > 40)
                break;
        }
        // Companies 02 and 03 have faults on purpose: their answers carry errors.
        const QJsonArray answer = client->result("SetConfirmar", {markedFirst(list, 60), "ana", company}).toArray();
        ASSERT_EQ(answer.size(), 4);
        EXPECT_TRUE(answer[0].isString());
        entries += expectPacket(answer[1], kLancContTemp, "SetConfirmar entries");
        shares += expectPacket(answer[2], kRateio, "SetConfirmar apportionment");
        errors += expectPacket(answer[3], kErrosTemp, "SetConfirmar errors");
    }
    EXPECT_GT(accounts, 0);
    EXPECT_GT(adjustments, 0);
    EXPECT_GT(entries, 0);
    EXPECT_GT(shares, 0);
    EXPECT_GT(errors, 0);

    // A refused recalculation still answers with the three packets' fields.
    const QJsonObject list = client->result("GetContRec", everything("01").params()).toObject();
    const QJsonArray stale = client->result("SetConfirmar", {[&] {
                                                                 QJsonObject p = markedFirst(list, 1);
                                                                 QJsonArray rows = p["rows"].toArray();
                                                                 QJsonArray r = rows[0].toArray();
                                                                 r[5] = r[5].toDouble() + 1;
                                                                 rows[0] = r;
                                                                 p["rows"] = rows;
                                                                 return p;
                                                             }(),
                                                             "ana", "01"})
                                 .toArray();
    ASSERT_EQ(stale.size(), 4);
    EXPECT_EQ(stale[0].toString(), "Valor da conta foi alterado por outro usuário.");
    EXPECT_EQ(expectPacket(stale[1], kLancContTemp, "refused entries"), 0);
    EXPECT_EQ(expectPacket(stale[2], kRateio, "refused apportionment"), 0);
    EXPECT_EQ(expectPacket(stale[3], kErrosTemp, "refused errors"), 0);
}

INSTANTIATE_TEST_SUITE_P(Databases, Contract, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto &info) { return backendName(info.param); });
