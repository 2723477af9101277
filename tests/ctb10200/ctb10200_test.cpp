// CTB10200 as another screen opens it: LoadBPL with the five parameters into the real module,
// hosted in a shell window, reading a demo database on SQLite and PostgreSQL. The temporary
// packets come from a real recalculation over loopback or are laid out as the server lays them.
#include "../server/harness.h"

#include <server/rpc/layouts.h>

#include <erpfw/core/error.h>
#include <erpfw/core/messageservice.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/db/database.h>
#include <erpfwui/forms/form.h>
#include <erpfwui/shell/moduleloader.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/pages.h>
#include <erpwire/json.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QLocale>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

using namespace erp;
using namespace erp::server::test;
using erp::wire::Packet;
namespace db = erp::server::db;
namespace layouts = erp::server::layouts;

namespace {

const QString kCode = QStringLiteral("CTB10200");

class Recorder : public MessagePresenter
{
public:
    Recorder() { MessageService::setPresenter(this); }
    ~Recorder() override { MessageService::setPresenter(nullptr); }
    Button present(DialogType, const QString &text, Buttons) override
    {
        shown << text;
        return Button::OK;
    }
    QStringList shown;
};

QVariantList handover(const QString &company, const QString &posting, const Packet &entries = {},
                      const Packet &shares = {}, const Packet &errors = {})
{
    return {company, posting, QVariant::fromValue(entries), QVariant::fromValue(shares), QVariant::fromValue(errors)};
}

QString errorOf(const QVariantList &params)
{
    try {
        LoadBPL(kCode, params);
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

QList<Form *> screens()
{
    QList<Form *> found;
    for (QMdiSubWindow *window : shellMdiArea()->subWindowList())
        if (auto *form = qobject_cast<Form *>(window->widget()); form && form->objectName() == QLatin1String("frmCTB10200"))
            found << form;
    return found;
}

Form *screen()
{
    const QList<Form *> found = screens();
    return found.size() == 1 ? found.first() : nullptr;
}

QVariant prop(const char *component, const char *property = "text")
{
    return screen()->findComponent(QString::fromLatin1(component))->property(property);
}

TDBGrid *grid(const char *name)
{
    return screen()->component<TDBGrid>(QString::fromLatin1(name));
}

QString money(double value)
{
    static const QLocale br(QLocale::Portuguese, QLocale::Brazil);
    return br.toString(value, 'f', 2);
}

void processDeletions()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

// Debit and credit totals of an entries packet.
std::pair<double, double> totals(const Packet &entries)
{
    const int side = entries.indexOf(u"IDLANCCTBCOME"), value = entries.indexOf(u"VRLANCCTBTEMP");
    double debits = 0, credits = 0;
    for (int r = 0; r < entries.rowCount(); ++r)
        (entries.string(r, side) == QLatin1String("D") ? debits : credits) += entries.number(r, value);
    return {debits, credits};
}

void expectTotals(double debits, double credits)
{
    EXPECT_EQ(prop("lblTotDebito").toString(), QStringLiteral("Total a débito: ") + money(debits));
    EXPECT_EQ(prop("lblTotCredito").toString(), QStringLiteral("Total a crédito: ") + money(credits));
    EXPECT_EQ(prop("lblDiferenca", "visible").toBool(), qRound64(debits * 100) != qRound64(credits * 100));
}

// Two entries of one posting, laid out as the server sends them.
Packet twoEntries()
{
    Packet p(layouts::lancContTemp());
    p.appendRow({"01", "11201", "Duplicatas a receber", "", "1", "1.1.2.01.0001", "H001", "Venda a prazo",
                 QDateTime(QDate(2025, 6, 2), QTime(), Qt::UTC), 1234.5, "D", "010100000012301", "Empresa", "NF 123"});
    p.appendRow({"01", "", "", "", "2", "3.1.1.01.0009", "H001", "Venda a prazo",
                 QDateTime(QDate(2025, 6, 2), QTime(), Qt::UTC), 1200.25, "C", "010100000012301", "Empresa", "NF 123"});
    return p;
}

// The list of the filter over every due date, its first n rows marked.
QJsonObject markedList(RpcClient &client, Filter filter, int n)
{
    filter.dueFrom = kToday.addDays(-400).toString(Qt::ISODate);
    filter.dueTo = kToday.addDays(400).toString(Qt::ISODate);
    QJsonObject list = client.result("GetContRec", filter.params()).toObject();
    QJsonArray rows = list.value("rows").toArray();
    for (int i = 0; i < rows.size() && i < n; ++i) {
        QJsonArray row = rows[i].toArray();
        row[0] = "S";
        rows[i] = row;
    }
    list["rows"] = rows;
    return list;
}

class Ctb10200 : public ::testing::TestWithParam<Backend>
{
protected:
    struct Demo
    {
        std::unique_ptr<TestDatabase> database;
        std::unique_ptr<db::Connection> sql;
        Packet entries, shares, errors; // a recalculation that found accounting errors
    };

    static void TearDownTestSuite() { demos().clear(); }

    void SetUp() override
    {
        demo = &prepared(GetParam());
        if (!demo->database)
            GTEST_SKIP() << "ERP_TEST_PG_URL não definida";
        const db::DbUrl &url = demo->database->url();
        database = std::make_unique<Database>(QString::fromStdString(
            url.kind == db::Kind::Sqlite ? "sqlite:" + url.path : url.conninfo));
        Database::setDefaultDatabase(database.get());
    }

    void TearDown() override
    {
        for (Form *form : screens())
            form->close();
        processDeletions();
        Database::setDefaultDatabase(nullptr);
    }

    QString text(const std::string &sql, std::initializer_list<db::Value> params = {})
    {
        return QString::fromStdString(db::queryText(*demo->sql, sql, params));
    }

    Demo *demo = nullptr;
    std::unique_ptr<Database> database;

private:
    static std::map<Backend, Demo> &demos()
    {
        static std::map<Backend, Demo> all;
        return all;
    }

    static Demo &prepared(Backend backend)
    {
        Demo &d = demos()[backend];
        if (d.database || (backend == Backend::Postgres && TestDatabase::pgAdminUrl().empty()))
            return d;
        d.database = TestDatabase::create(backend);
        d.database->prepareDemo(600);
        d.sql = d.database->connect();
        // Company 02 has no accounting rule for account type CONV: error 001 on every entry.
        RunningServer server(d.database->url());
        RpcClient client(server.port());
        Filter filter;
        filter.company = "02";
        filter.types = "CONV";
        const QJsonArray result = client.result("SetConfirmar", {markedList(client, filter, 3), "ana", "02"}).toArray();
        d.entries = wire::decodePacket(result[1]);
        d.shares = wire::decodePacket(result[2]);
        d.errors = wire::decodePacket(result[3]);
        return d;
    }
};

} // namespace

void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

TEST_P(Ctb10200, ARecalculationsErrorsShowWithTheirDescriptionsAndEntries)
{
    ASSERT_FALSE(demo->errors.isEmpty()) << "the demo data must give accounting errors";
    Recorder messages;
    LoadBPL(kCode, handover("02", "", demo->entries, demo->shares, demo->errors));
    ASSERT_TRUE(screen());
    EXPECT_TRUE(screen()->isVisible());
    EXPECT_EQ(shellMdiArea()->activeSubWindow()->widget(), screen());

    EXPECT_EQ(prop("edtCdEmpresa").toString(), "02");
    EXPECT_EQ(prop("edtNmEmpresa").toString(), text("SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = '02'"));
    EXPECT_EQ(grid("dbgLancamentos")->rowCount(), demo->entries.rowCount());
    EXPECT_EQ(grid("dbgRateio")->rowCount(), demo->shares.rowCount());

    TDBGrid *errors = grid("dbgErros");
    ASSERT_EQ(errors->rowCount(), demo->errors.rowCount());
    const int seqCol = demo->entries.indexOf(u"NRSEQCTBTEMP"), keyCol = demo->entries.indexOf(u"CDLANCCTBCOME");
    for (int r = 0; r < errors->rowCount(); ++r) {
        const QString code = errors->cellText(r, "CDERROTEMP");
        EXPECT_EQ(code, "001");
        EXPECT_EQ(errors->cellText(r, "DSERROCTB"),
                  text("SELECT DSERROCTB FROM ERROCTB WHERE CDERROCTB = ?", {code.toStdString()}));
        QString key;
        for (int e = 0; e < demo->entries.rowCount(); ++e)
            if (demo->entries.string(e, seqCol) == errors->cellText(r, "NRSEQCTBTEMP"))
                key = demo->entries.string(e, keyCol);
        EXPECT_FALSE(key.isEmpty());
        EXPECT_EQ(errors->cellText(r, "CDLANCCTBCOME"), key);
    }

    // The errors are what the user came for: their page is shown, its grid has the focus.
    EXPECT_EQ(prop("pgcCTB10200", "activePage").toString(), "tshErros");
    EXPECT_EQ(prop("tshErros", "caption").toString(), QStringLiteral("Erros (%1)").arg(demo->errors.rowCount()));
    EXPECT_EQ(screen()->focusedControl(), "dbgErros");
    EXPECT_EQ(prop("lblOrigem").toString(),
              "Lançamentos calculados pela contabilização, não gravados: há erros de contabilização.");
    EXPECT_FALSE(prop("lblSemLancamentos", "visible").toBool());
    EXPECT_FALSE(prop("lblSemErros", "visible").toBool());
    const auto [debits, credits] = totals(demo->entries);
    EXPECT_GT(debits, 0);
    expectTotals(debits, credits);
    EXPECT_TRUE(messages.shown.isEmpty()) << messages.shown.join('\n').toStdString();
}

TEST_P(Ctb10200, AnUnknownErrorCodeAndAnUnbalancedHandOverAreShownAsSuch)
{
    Packet errors(layouts::errosTemp());
    errors.appendRow({"009", "2"});
    errors.appendRow({"999", "7"});
    LoadBPL(kCode, handover("01", "", twoEntries(), Packet(layouts::rateio()), errors));
    ASSERT_TRUE(screen());
    TDBGrid *shown = grid("dbgErros");
    EXPECT_EQ(shown->cellText(0, "DSERROCTB"), text("SELECT DSERROCTB FROM ERROCTB WHERE CDERROCTB = '009'"));
    EXPECT_EQ(shown->cellText(0, "CDCONTCTBL"), "3.1.1.01.0009");
    EXPECT_EQ(shown->cellText(1, "DSERROCTB"), "Erro sem descrição cadastrada.");
    EXPECT_EQ(shown->cellText(1, "CDCONTCTBL"), ""); // no entry 7
    EXPECT_EQ(grid("dbgLancamentos")->cellText(0, "VRLANCCTBTEMP"), "1.234,50");
    EXPECT_EQ(grid("dbgLancamentos")->cellText(0, "DTLANCCTBTEMP"), "02/06/2025");
    expectTotals(1234.5, 1200.25);
    EXPECT_EQ(prop("lblDiferenca").toString(), "Diferença: 34,25");
    EXPECT_TRUE(prop("lblSemRateio", "visible").toBool());
    EXPECT_EQ(prop("lblSemRateio").toString(), "Nenhum rateio a exibir.");
}

TEST_P(Ctb10200, APostingNumberWithEmptyDataShowsTheStoredPosting)
{
    const QString number = text("SELECT MIN(NRLANCCTB) FROM LANCCTB WHERE CDEMPRESA = '01'");
    ASSERT_FALSE(number.isEmpty());
    const std::string n = number.toStdString();
    const int items = text("SELECT COUNT(*) FROM ITLANCCTB WHERE NRLANCCTB = ?", {n}).toInt();
    const int shares = text("SELECT COUNT(*) FROM RATLANCCTB WHERE NRLANCCTB = ?", {n}).toInt();
    const QDate date = QDate::fromString(text("SELECT DTLANCCTB FROM LANCCTB WHERE NRLANCCTB = ?", {n}).left(10), Qt::ISODate);
    ASSERT_GT(items, 1);
    ASSERT_GT(shares, 0);

    // Datasets that were never opened, then datasets emptied: both are "no rows".
    for (const QVariantList &params :
         {handover("01", number), handover("01", number, Packet(layouts::lancContTemp()), Packet(layouts::rateio()),
                                           Packet(layouts::errosTemp()))}) {
        LoadBPL(kCode, params);
        ASSERT_TRUE(screen());
        EXPECT_EQ(prop("edtNrLancto").toString(), number);
        EXPECT_EQ(prop("lblOrigem").toString(),
                  QStringLiteral("Lançamento contábil %1 (gravado), data %2.").arg(number, date.toString("dd/MM/yyyy")));
        TDBGrid *entries = grid("dbgLancamentos");
        ASSERT_EQ(entries->rowCount(), items);
        for (int r = 0; r < items; ++r) {
            const std::string seq = std::to_string(r + 1);
            EXPECT_EQ(entries->cellText(r, "CDCONTCTBL"),
                      text("SELECT CDCONTCTBL FROM ITLANCCTB WHERE NRLANCCTB = ? AND NRSEQLANCCTB = " + seq, {n}));
            EXPECT_EQ(entries->cellText(r, "IDLANCCTBCOME"),
                      text("SELECT IDDEBCRED FROM ITLANCCTB WHERE NRLANCCTB = ? AND NRSEQLANCCTB = " + seq, {n}));
            EXPECT_EQ(entries->cellText(r, "NMCONTCTBL"),
                      text("SELECT P.NMCONTCTBL FROM ITLANCCTB I JOIN PLANOCONTA P ON P.CDEMPRESA = '01' AND "
                           "P.CDCONTCTBL = I.CDCONTCTBL WHERE I.NRLANCCTB = ? AND I.NRSEQLANCCTB = " + seq, {n}));
        }
        EXPECT_EQ(grid("dbgRateio")->rowCount(), shares);
        const double total = text("SELECT SUM(VRLANCCTB) FROM ITLANCCTB WHERE NRLANCCTB = ? AND IDDEBCRED = 'D'", {n}).toDouble();
        expectTotals(total, total);
        EXPECT_EQ(prop("pgcCTB10200", "activePage").toString(), "tshLancamentos");
        EXPECT_EQ(screen()->focusedControl(), "dbgLancamentos");
        EXPECT_TRUE(prop("lblSemErros", "visible").toBool());
    }

    // The same number under another company is not that company's posting.
    LoadBPL(kCode, handover("02", number));
    EXPECT_EQ(grid("dbgLancamentos")->rowCount(), 0);
    EXPECT_EQ(grid("dbgRateio")->rowCount(), 0);
    EXPECT_EQ(prop("lblSemLancamentos").toString(), QStringLiteral("O lançamento contábil %1 não foi encontrado.").arg(number));
    EXPECT_TRUE(prop("lblSemLancamentos", "visible").toBool());
    expectTotals(0, 0);
}

TEST_P(Ctb10200, NothingToShowIsSaidInWords)
{
    LoadBPL(kCode, handover("", ""));
    ASSERT_TRUE(screen());
    EXPECT_EQ(prop("edtNmEmpresa").toString(), "");
    for (const auto &[label, words] : {std::pair{"lblSemLancamentos", "Nenhum lançamento a exibir."},
                                       std::pair{"lblSemRateio", "Nenhum rateio a exibir."},
                                       std::pair{"lblSemErros", "Nenhum erro de contabilização."}}) {
        EXPECT_TRUE(prop(label, "visible").toBool()) << label;
        EXPECT_EQ(prop(label).toString(), QString::fromUtf8(words));
    }
    EXPECT_EQ(prop("lblOrigem").toString(), "");
    EXPECT_EQ(prop("tshLancamentos", "caption").toString(), "Lançamentos (0)");
    expectTotals(0, 0);

    LoadBPL(kCode, handover("99", "000000000000"));
    EXPECT_EQ(prop("edtNmEmpresa").toString(), "Empresa não cadastrada.");
    EXPECT_EQ(prop("lblSemLancamentos").toString(), "O lançamento contábil 000000000000 não foi encontrado.");
}

TEST_P(Ctb10200, BadParametersAreRefusedNamingTheScreenAndLeaveItAsItWas)
{
    const auto expectError = [](const QVariantList &params, const QStringList &words) {
        const QString message = errorOf(params);
        EXPECT_TRUE(message.contains(kCode)) << message.toStdString();
        for (const QString &w : words)
            EXPECT_TRUE(message.contains(w)) << message.toStdString() << " lacks " << w.toStdString();
    };
    expectError({}, {"5 parâmetros", "recebeu 0"});
    expectError(handover("01", "").mid(0, 4), {"5 parâmetros", "recebeu 4"});
    expectError(handover("01", "") << QString() << QString(), {"recebeu 7"});
    expectError(handover("01", "") << QString(), {"parâmetro 5", "diferenças", "pacote de dados"});
    QVariantList notAPacket = handover("01", "");
    notAPacket[3] = QStringLiteral("{\"fields\":[],\"rows\":[]}");
    expectError(notAPacket, {"parâmetro 3", "rateio", "pacote de dados"});
    notAPacket[3] = QVariant();
    expectError(notAPacket, {"parâmetro 3", "nulo"});
    QVariantList notAText = handover("01", "");
    notAText[0] = 1;
    expectError(notAText, {"parâmetro 0", "empresa", "texto"});
    // The widths of the errors' sequence differ between the datasets (5 here, 6 in the entries).
    Packet misfit({{"CDERROTEMP", wire::FieldType::String, 3}, {"NRSEQCTBTEMP", wire::FieldType::String, 6}});
    misfit.appendRow({"001", "1"});
    expectError(handover("01", "", twoEntries(), Packet(), misfit), {"parâmetro 4", "erros", "NRSEQCTBTEMP"});
    EXPECT_TRUE(screens().isEmpty());

    LoadBPL(kCode, handover("01", "", twoEntries()));
    ASSERT_TRUE(screen());
    expectError(handover("02", "", Packet(), Packet(), misfit), {"parâmetro 4"});
    ASSERT_TRUE(screen());
    EXPECT_EQ(prop("edtCdEmpresa").toString(), "01");
    EXPECT_EQ(grid("dbgLancamentos")->rowCount(), 2);
    expectTotals(1234.5, 1200.25);
}

// A recalculation's preview from the real server: its differences page first, filtered to
// the accounts that change, totalled, and in the report; a hand-over without it hides the page.
TEST_P(Ctb10200, APreviewOpensOnItsDifferencesFilteredTotalledAndReported)
{
    RunningServer server(demo->database->url());
    RpcClient client(server.port());
    Filter filter;
    filter.postingBranches = "0101;0102";
    const QJsonArray result = client.result("SimConfirmar", {markedList(client, filter, 30), "ana", "01"}).toArray();
    ASSERT_EQ(result.size(), 5);
    const Packet differences = wire::decodePacket(result[4]);
    ASSERT_EQ(differences.rowCount(), 30);
    QVariantList params = handover("01", "", wire::decodePacket(result[1]), wire::decodePacket(result[2]),
                                   wire::decodePacket(result[3]));
    LoadBPL(kCode, params << QVariant::fromValue(differences));
    ASSERT_TRUE(screen());
    EXPECT_EQ(prop("pgcCTB10200", "activePage").toString(), "tshDiferencas");
    EXPECT_EQ(screen()->focusedControl(), "dbgDiferencas");
    EXPECT_TRUE(prop("lblOrigem").toString().startsWith("Simulação do recálculo: nada foi gravado."));

    const int status = differences.indexOf(u"IDSITUACAO");
    const auto expectShown = [&](bool changedOnly) {
        double sums[4] = {};
        int count = 0;
        for (int r = 0; r < differences.rowCount(); ++r) {
            if (changedOnly && differences.string(r, status) == "igual")
                continue;
            ++count;
            int i = 0;
            for (const char16_t *field : {u"VRDEBANT", u"VRCREDANT", u"VRDEBNOVO", u"VRCREDNOVO"})
                sums[i++] += differences.number(r, differences.indexOf(field));
        }
        EXPECT_EQ(grid("dbgDiferencas")->rowCount(), count);
        EXPECT_EQ(prop("tshDiferencas", "caption").toString(), QStringLiteral("Diferenças (%1)").arg(count));
        EXPECT_EQ(prop("lblDifAntes").toString(), QStringLiteral("Antes: débito %1, crédito %2").arg(money(sums[0]), money(sums[1])));
        EXPECT_EQ(prop("lblDifDepois").toString(), QStringLiteral("Depois: débito %1, crédito %2").arg(money(sums[2]), money(sums[3])));
        return count;
    };
    expectShown(false);
    EXPECT_EQ(grid("dbgDiferencas")->cellText(0, "IDSITUACAO"), differences.string(0, status));
    QTest::mouseClick(screen()->component<QWidget>(QStringLiteral("chkSoAlteradas")), Qt::LeftButton, {}, QPoint(6, 9));
    ASSERT_TRUE(prop("chkSoAlteradas", "checked").toBool());
    const int changed = expectShown(true);
    EXPECT_GT(changed, 0);

    const QString path = QDir::temp().filePath(QStringLiteral("ctb10200-diferencas-%1.csv").arg(QCoreApplication::applicationPid()));
    bool saved = false;
    QMetaObject::invokeMethod(screen()->findChild<QObject *>("rptCTB10200"), "saveCsv", Q_RETURN_ARG(bool, saved),
                              Q_ARG(QString, path));
    ASSERT_TRUE(saved);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString csv = QString::fromUtf8(file.readAll());
    file.remove();
    EXPECT_TRUE(csv.contains(QStringLiteral("Diferenças (%1)").arg(changed)));
    EXPECT_TRUE(csv.contains(prop("lblDifAntes").toString())) << csv.toStdString();

    LoadBPL(kCode, handover("01", "", twoEntries()));
    EXPECT_FALSE(screen()->component<TPageControl>(QStringLiteral("pgcCTB10200"))->isTabVisible(3));
    EXPECT_EQ(prop("pgcCTB10200", "activePage").toString(), "tshLancamentos");
}

TEST_P(Ctb10200, OpeningAgainReusesTheScreenAndEscapeClosesIt)
{
    LoadBPL(kCode, handover("01", "", twoEntries()));
    Form *first = screen();
    ASSERT_TRUE(first);

    // Another screen in front; the next hand-over brings CTB10200 back with the new content.
    auto *other = shellMdiArea()->addSubWindow(new QWidget);
    other->show();
    shellMdiArea()->setActiveSubWindow(other);
    LoadBPL(kCode, handover("", ""));
    EXPECT_EQ(screen(), first);
    EXPECT_EQ(shellMdiArea()->activeSubWindow()->widget(), first);
    EXPECT_EQ(grid("dbgLancamentos")->rowCount(), 0);
    EXPECT_EQ(prop("edtCdEmpresa").toString(), "");
    delete other;

    QTest::keyClick(grid("dbgLancamentos"), Qt::Key_Escape);
    processDeletions();
    EXPECT_TRUE(screens().isEmpty());

    LoadBPL(kCode, handover("01", "", twoEntries()));
    ASSERT_TRUE(screen());
    EXPECT_EQ(grid("dbgLancamentos")->rowCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Databases, Ctb10200, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto &info) { return backendName(info.param); });

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    auto *area = new QMdiArea;
    window.setCentralWidget(area);
    erp::setShellWindow(&window, area);
    window.show();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
