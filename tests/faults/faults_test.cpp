// Every server call the screens make, with the server refusing connections, dying or closing
// the connection mid-call, or answering after the connection's timeout: the screens end the
// action with one Portuguese message naming the server and stay usable as they were.
#include "support.h"

#include <erpfw/core/error.h>
#include <erpfw/data/keylist.h>
#include <erpfw/net/netconnection.h>
#include <erpfwui/forms/form.h>
#include <erpfwui/shell/busyindicator.h>
#include <erpfwui/shell/screencursor.h>
#include <erpfwui/shell/windowlock.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpwire/json.h>
#include <server/rpc/layouts.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTest>

#include <cstdio>

using namespace erp;
using namespace rec00801test;

namespace {

using Fault = ScriptedServer::Fault;
using Dialog = TfrmFiltroRecalLancContReceber;

constexpr int kTimeoutMs = 800;
constexpr int kSlowMs = 2500;
// A call may take its timeout once, plus the work around it.
constexpr int kMaxActionMs = kTimeoutMs + 1200;

enum class Kind { Refused, Dies, Drop, Slow };

struct Case
{
    const char *method;
    Kind kind;
};

// Every kind of fault on the method; Refused only where the method starts the user's action.
std::vector<Case> faultsOn(const char *method, bool refused = true)
{
    std::vector<Case> cases;
    for (Kind kind : {Kind::Refused, Kind::Dies, Kind::Drop, Kind::Slow})
        if (refused || kind != Kind::Refused)
            cases.push_back({method, kind});
    return cases;
}

std::string caseName(const testing::TestParamInfo<Case> &info)
{
    static const char *const kinds[] = {"Recusada", "ServidorMorre", "ConexaoFechada", "Lento"};
    return std::string(info.param.method) + "_" + kinds[int(info.param.kind)];
}

QJsonValue twoAccounts()
{
    QJsonObject p = oneAccount().toObject();
    QJsonArray rows = p.value("rows").toArray();
    QJsonArray second = rows.at(0).toArray();
    const QJsonArray fields = p.value("fields").toArray();
    for (int i = 0; i < fields.size(); ++i) {
        const QString name = fields[i].toObject().value("name").toString();
        if (name == QLatin1String("NRLANCTONF"))
            second[i] = "101";
        else if (name == QLatin1String("NMRAZSOCCLIE"))
            second[i] = QStringLiteral("Mercearia Boa Vista");
    }
    rows.append(second);
    p.insert("rows", rows);
    return p;
}

QJsonValue adjustments(const QString &description)
{
    return packet({{"CDFILIAL", "string", 4},     {"NRLANCTONF", "string", 10}, {"NRSEQVENREC", "string", 2},
                   {"NRPARCELAREC", "string", 2}, {"DTAJUSTEREC", "datetime", 0}, {"CDAJUCTREC", "string", 4},
                   {"IDAJUCTREC", "string", 1},   {"DSAJUCTREC", "string", 40}, {"DSAJUSTEREC", "string", 20},
                   {"VRAJUSTEREC", "float", 0},   {"CDECTBAJREC", "string", 2}, {"NRLCTBAJREC", "string", 12},
                   {"CDCLASSFINA", "string", 6},  {"CDEMMFAJCNTR", "string", 2}, {"CDFIMFAJCNTR", "string", 4},
                   {"DTMOVFLUXO", "datetime", 0}, {"IDMOVFLUXO", "string", 1}},
                  {QJsonArray{"0001", "100", "01", "01", "2024-05-02T00:00:00", "AJ01", "D", "Desconto", description,
                              5.5, QJsonValue(), QJsonValue(), QJsonValue(), QJsonValue(), QJsonValue(), QJsonValue(),
                              QJsonValue()}});
}

class ServerFaults : public FilterTest, public testing::WithParamInterface<Case>
{
protected:
    void SetUp() override
    {
        FilterTest::SetUp();
        if (HasFatalFailure())
            return;
        // A short timeout, also for the connection REC00800 opened when it was activated.
        ASSERT_TRUE(recCont()->netRecCont->connected());
        recCont()->netRecCont->setTimeoutMs(kTimeoutMs);
    }

    void TearDown() override
    {
        m_server.clearFaults();
        if (!m_server.running())
            m_server.restart();
        FilterTest::TearDown();
    }

    QString method() const { return QString::fromLatin1(GetParam().method); }

    // The fault of this case on its method; Refused takes the server down at once.
    void injectFault()
    {
        m_messages.clear();
        m_server.clearCalls();
        switch (GetParam().kind) {
        case Kind::Refused: m_server.shutDown(); break;
        case Kind::Dies: m_server.fault(method(), Fault::Dies); break;
        case Kind::Drop: m_server.fault(method(), Fault::Drop); break;
        case Kind::Slow: m_server.fault(method(), Fault::Slow, kSlowMs); break;
        }
        m_clock.start();
    }

    // The server as it was: the next use must work.
    void healServer()
    {
        m_server.clearFaults();
        if (!m_server.running())
            m_server.restart();
        m_messages.clear();
    }

    void expectNoMessage() const
    {
        EXPECT_TRUE(m_messages.texts.isEmpty()) << m_messages.texts.join(QStringLiteral(" | ")).toStdString();
    }

    // One message, in Portuguese, naming the server and where it was sought; nothing frozen.
    void expectReportedAndUsable()
    {
        const qint64 elapsed = m_clock.elapsed();
        std::printf("FIGURES %s: %lld ms, \"%s\"\n", testing::UnitTest::GetInstance()->current_test_info()->name(),
                    elapsed, qUtf8Printable(m_messages.texts.value(0)));
        EXPECT_LT(elapsed, kMaxActionMs) << "a failed call must not hang past the connection's timeout";
        ASSERT_EQ(m_messages.texts.size(), 1) << m_messages.texts.join(QStringLiteral(" | ")).toStdString();
        const QString text = m_messages.texts.first();
        EXPECT_EQ(m_messages.types.first(), DialogType::Error);
        EXPECT_TRUE(text.contains(QStringLiteral("REC00800.rdmRecCont"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("127.0.0.1:%1").arg(m_server.port()))) << text.toStdString();
        EXPECT_TRUE(text.startsWith(QStringLiteral("Falha na comunicação com o servidor")) ||
                    text.startsWith(QStringLiteral("Não foi possível conectar ao servidor")))
            << text.toStdString();
        static const char *const english[] = {"Read", "Write", "Connection", "Timeout", "Unknown", "Canceled"};
        for (const char *word : english)
            EXPECT_FALSE(text.contains(QLatin1String(word))) << text.toStdString();
        if (GetParam().kind == Kind::Slow) {
            EXPECT_TRUE(text.endsWith(QStringLiteral("sem resposta em 0,8 s (tempo esgotado)."))) << text.toStdString();
        }

        EXPECT_FALSE(busyAnimationVisible());
        EXPECT_EQ(lockedWindow(), nullptr);
        EXPECT_EQ(screenCursor(), crDefault);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(recCont()->isEnabled());
        EXPECT_FALSE(recCont()->cdsContRec->controlsDisabled());
    }

    QElapsedTimer m_clock;
};

} // namespace

// Making the filter dialog: the general and the branch parameters (REC00801 create), then the
// expedition parameter of its activation.
class CreatingTheFilter : public ServerFaults
{
};

TEST_P(CreatingTheFilter, EndsWithOneMessageAndTheNextUseMakesTheDialog)
{
    ASSERT_TRUE(runHidden());
    ClientDataSet *accounts = recCont()->cdsContRec;
    ASSERT_EQ(accounts->recordCount(), 1);
    delete Cli_rec00801::frmFiltroRecalLancContReceber.data();
    Cli_rec00801::initialization();

    injectFault();
    bool shown = false;
    bool modal = false;
    Form::setModalHook([&](Form *form) {
        shown = true;
        modal = form->isInModalLoop();
        form->close();
    });
    try {
        CriaFiltroRecalLancContReceber(QStringLiteral("BOTAO_FILTRO"));
    } catch (...) {
        handleException(std::current_exception());
    }
    Form::setModalHook(nullptr);
    expectReportedAndUsable();
    if (method() == QLatin1String("GetParExp")) {
        // The activation failed; the dialog holds its defaults and is there for the user.
        EXPECT_TRUE(shown);
        EXPECT_TRUE(modal);
    } else {
        EXPECT_FALSE(shown) << "no dialog without its parameters";
        EXPECT_FALSE(Cli_rec00801::frmFiltroRecalLancContReceber);
    }
    EXPECT_EQ(accounts->recordCount(), 1);

    healServer();
    EXPECT_TRUE(runHidden());
    expectNoMessage();
    EXPECT_EQ(accounts->recordCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, CreatingTheFilter,
                         testing::ValuesIn([] {
                             std::vector<Case> cases = faultsOn("GetGeralRec");
                             for (const char *method : {"GetParamFilial", "GetParExp"})
                                 for (const Case &c : faultsOn(method, false))
                                     cases.push_back(c);
                             return cases;
                         }()),
                         caseName);

// The account-type lookup of the open dialog.
class LookingUpAccountTypes : public ServerFaults
{
};

TEST_P(LookingUpAccountTypes, LeavesTheDialogOpenWithItsListAndTheButtonWorksAgain)
{
    bool picked = false;
    onPicker([&](Form &picker) {
        picked = true;
        picker.close();
    });
    runModal([&](Dialog &d) {
        d.rbtTipoContLista->setChecked(true);
        d.stTpConta = QStringLiteral("DUP");
        injectFault();
        d.btnTpConta->click();
        expectReportedAndUsable();
        EXPECT_FALSE(picked);
        EXPECT_TRUE(d.isInModalLoop());
        EXPECT_TRUE(d.btnTpConta->isEnabled());
        EXPECT_EQ(d.stTpConta, QStringLiteral("DUP"));

        healServer();
        d.btnTpConta->click();
        EXPECT_TRUE(picked);
        expectNoMessage();
    });
}

INSTANTIATE_TEST_SUITE_P(Faults, LookingUpAccountTypes,
                         testing::ValuesIn(faultsOn("GetTipoCtReceber")),
                         caseName);

// The account query, from the dialog and hidden (REC00800's panel and the verify command).
class QueryingAccounts : public ServerFaults
{
};

TEST_P(QueryingAccounts, InTheDialogKeepsListFilterAndDialog)
{
    ASSERT_TRUE(runHidden());
    ClientDataSet *accounts = recCont()->cdsContRec;
    ASSERT_EQ(accounts->recordCount(), 1);
    const TFILTRO stored = dialog()->Filtro;
    m_server.reply(QStringLiteral("GetContRec"), twoAccounts());

    runModal([&](Dialog &d) {
        d.medNrDocuIni->setText(QStringLiteral("8"));
        injectFault();
        confirm(d);
        expectReportedAndUsable();
        EXPECT_TRUE(d.isInModalLoop());
        EXPECT_TRUE(d.sbtConfirma->isEnabled());
        EXPECT_EQ(d.Filtro, stored);
        EXPECT_EQ(accounts->recordCount(), 1);

        healServer();
        confirm(d);
        expectNoMessage();
    });
    EXPECT_EQ(accounts->recordCount(), 2);
}

TEST_P(QueryingAccounts, HiddenKeepsListAndFilter)
{
    ASSERT_TRUE(runHidden());
    ClientDataSet *accounts = recCont()->cdsContRec;
    const TFILTRO stored = dialog()->Filtro;
    m_server.reply(QStringLiteral("GetContRec"), twoAccounts());

    injectFault();
    EXPECT_FALSE(runHidden());
    expectReportedAndUsable();
    EXPECT_EQ(accounts->recordCount(), 1);
    EXPECT_EQ(dialog()->Filtro, stored);
    EXPECT_FALSE(dialog()->isVisible());

    healServer();
    EXPECT_TRUE(runHidden());
    EXPECT_EQ(accounts->recordCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Faults, QueryingAccounts,
                         testing::ValuesIn(faultsOn("GetContRec")),
                         caseName);

// REC00800: the adjustments read as the grid moves to another account.
class ScrollingAccounts : public ServerFaults
{
};

TEST_P(ScrollingAccounts, TheMoveStandsAndTheNextMoveReadsAgain)
{
    m_server.reply(QStringLiteral("GetContRec"), twoAccounts());
    m_server.reply(QStringLiteral("GetAjusCont"), adjustments(QStringLiteral("primeira")));
    ASSERT_TRUE(runHidden());
    TfrmRecCont *screen = recCont();
    ClientDataSet *accounts = screen->cdsContRec;
    ASSERT_EQ(accounts->recordCount(), 2);
    ASSERT_EQ(accounts->recNo(), 1);
    screen->dbgPadrao->setFocus();

    injectFault();
    QTest::keyClick(screen->dbgPadrao, Qt::Key_Down);
    expectReportedAndUsable();
    EXPECT_EQ(accounts->recNo(), 2) << "the move stands";
    EXPECT_EQ(accounts->recordCount(), 2);
    EXPECT_EQ(accounts->fieldByName(u"NMRAZSOCCLIE")->asString(), QStringLiteral("Mercearia Boa Vista"));
    // As the screen is meant to: the adjustments page keeps the previous account's rows.
    EXPECT_EQ(screen->cdsAjusCont->fieldByName(u"DSAJUSTEREC")->asString(), QStringLiteral("primeira"));

    healServer();
    m_server.reply(QStringLiteral("GetAjusCont"), adjustments(QStringLiteral("de novo")));
    QTest::keyClick(screen->dbgPadrao, Qt::Key_Up);
    expectNoMessage();
    EXPECT_EQ(accounts->recNo(), 1);
    EXPECT_EQ(screen->cdsAjusCont->fieldByName(u"DSAJUSTEREC")->asString(), QStringLiteral("de novo"));
}

INSTANTIATE_TEST_SUITE_P(Faults, ScrollingAccounts,
                         testing::ValuesIn(faultsOn("GetAjusCont")),
                         caseName);

// REC00800: the recalculation of the marked accounts.
class ConfirmingTheRecalculation : public ServerFaults
{
};

TEST_P(ConfirmingTheRecalculation, KeepsListMarksAndResultsAndUnfreezesTheScreen)
{
    m_server.reply(QStringLiteral("GetContRec"), twoAccounts());
    ASSERT_TRUE(runHidden());
    TfrmRecCont *screen = recCont();
    ClientDataSet *accounts = screen->cdsContRec;
    dispatch([&] { screen->dbgPadraoDblClick(screen->dbgPadrao); });
    ASSERT_EQ(screen->klContMarcadas->count(), 1);
    ASSERT_TRUE(screen->sbtConfirmar->isEnabled());
    const bool resultsOpen = screen->cdsErrosTemp->active();

    injectFault();
    screen->sbtConfirmar->click();
    expectReportedAndUsable();
    EXPECT_EQ(accounts->recordCount(), 2);
    EXPECT_EQ(screen->klContMarcadas->count(), 1) << "the marks stay";
    EXPECT_EQ(screen->cdsErrosTemp->active(), resultsOpen) << "the results keep what they held";
    EXPECT_TRUE(m_server.callsOf(QStringLiteral("GetContRec")).isEmpty()) << "no reload after a failure";

    healServer();
    const auto empty = [](const QList<wire::FieldDef> &layout) { return wire::encodePacket(wire::Packet(layout)); };
    m_server.reply(QStringLiteral("SetConfirmar"), QJsonArray{"OK", empty(server::layouts::lancContTemp()),
                                                              empty(server::layouts::rateio()),
                                                              empty(server::layouts::errosTemp())});
    dispatch([&] { screen->dbgPadraoDblClick(screen->dbgPadrao); });
    dispatch([&] { screen->dbgPadraoDblClick(screen->dbgPadrao); });
    ASSERT_TRUE(screen->sbtConfirmar->isEnabled());
    screen->sbtConfirmar->click();
    ASSERT_EQ(m_messages.texts.size(), 1) << m_messages.texts.join(QStringLiteral(" | ")).toStdString();
    EXPECT_TRUE(m_messages.texts.first().contains(QStringLiteral("sucesso"))) << m_messages.texts.first().toStdString();
    EXPECT_FALSE(busyAnimationVisible());
    EXPECT_EQ(lockedWindow(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Faults, ConfirmingTheRecalculation,
                         testing::ValuesIn(faultsOn("SetConfirmar")),
                         caseName);
