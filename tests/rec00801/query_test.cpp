// The account query: the 24 arguments, the record kept only after the server answered, both
// modes, and the real server on a demo database.
#include "support.h"

#include <erpfwui/shell/screencursor.h>

#include <erpfw/core/shellcontext.h>
#include <erpfw/net/netconnection.h>
#include <server/embedded/embedded.h>

#include <QApplication>
#include <QTest>

using namespace erp;
using namespace rec00801test;

namespace {

using Dialog = TfrmFiltroRecalLancContReceber;

} // namespace

using Query = FilterTest;

TEST_F(Query, ConfirmingSendsTheTwentyFourArgumentsAndOnlyThenKeepsTheFilter)
{
    runModal([&](Dialog &d) {
        d.nedVrLiquidoIni->setNumber(5);
        d.nedVrLiquidoFin->setNumber(1234.5);
        d.rbtTipoContLista->setChecked(true);
        d.stTpConta = QStringLiteral("DUP");
        d.chbAVencer->setChecked(true);
        d.cbbStatus->select(1);
        d.rdgCtbl->select(0);
        d.depVencIni->setDate(QDate(2024, 5, 1));
        d.depVencFin->setDate(QDate(2024, 5, 31));

        d.rbtListaClie->setChecked(true);
        d.stCliente = QStringLiteral("C1;C2");
        d.medNrDocuIni->setText(QStringLiteral("123"));
        d.depDtEmissaoIni->setDate(QDate(2024, 4, 1));
        d.depDtEmissaoFin->setDate(QDate(2024, 4, 30));
        d.rbtListaFiliOrig->setChecked(true);
        d.stFiliOrig = QStringLiteral("0001;0002");
        // A list picked, then "Todas" chosen again: kept for "Lista", not sent.
        d.rbtListaFiliLanc->setChecked(true);
        d.stFiliLanc = QStringLiteral("0003");
        d.rbtTodasFiliLanc->setChecked(true);
        d.nedVrDocuIni->setNumber(10);
        d.nedVrDocuFin->setText(QStringLiteral("2000,5"));
        d.rbtVendLista->setChecked(true);
        d.stVendedor = QStringLiteral("V1");
        confirm(d);
        EXPECT_EQ(m_messages.texts, QStringList());
        EXPECT_FALSE(d.isInModalLoop());
    });

    const QJsonArray expected{"01",         "0000123",   "0000123", "2024-04-01", "2024-04-30", QJsonValue::Null,
                              QJsonValue::Null, "0001;0002", "",      10.0,         2000.5,       "V1",
                              "2024-05-01", "2024-05-31", "DUP",   0.0,          0.0,          5.0,
                              1234.5,       true,        false,     "C1;C2",      "C",          "1"};
    EXPECT_EQ(lastContRecParams(), expected);

    Dialog *d = dialog();
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(d->cdsGeralRec->active()) << "closing the dialog closes its parameters";
    EXPECT_EQ(recCont()->cdsContRec->recordCount(), 1);
    const TFILTRO &f = d->Filtro;
    EXPECT_EQ(f.Documento.NrDocuFin, QStringLiteral("0000123"));
    EXPECT_FALSE(f.Cliente.Todos);
    EXPECT_EQ(f.Cliente.Lista, QStringLiteral("C1;C2"));
    EXPECT_TRUE(f.FiliLanc.Todos);
    EXPECT_EQ(f.FiliLanc.Lista, QStringLiteral("0003")) << "the record keeps the list";
    EXPECT_FALSE(f.DtSaidaIni.isValid());
    EXPECT_EQ(f.VrDocuFin, 2000.5);
    EXPECT_EQ(f.Status, 1);
    EXPECT_EQ(f.Ctbl, 0);

    ASSERT_TRUE(runHidden());
    EXPECT_EQ(lastContRecParams(), expected) << "the hidden run sends the stored filter alike";

    runModal([&](Dialog &d) {
        d.rbtListaFiliLanc->setChecked(true);
        EXPECT_EQ(d.stFiliLanc, QStringLiteral("0003")) << "back on \"Lista\", the kept list shows";
        EXPECT_TRUE(d.btnFiliLanc->isEnabled());
    });
}

TEST_F(Query, AccountingAndStatusAreSentByTheirCodes)
{
    Dialog *d = dialog();
    const QList<std::pair<int, QString>> accounting{{0, "C"}, {1, "N"}, {2, "T"}, {-1, "T"}};
    for (const auto &[item, code] : accounting) {
        d->Filtro.Ctbl = item;
        ASSERT_TRUE(runHidden());
        EXPECT_EQ(lastContRecParams()[22], code) << item;
    }
    for (int status = 0; status <= 5; ++status) {
        d->Filtro.Status = status;
        ASSERT_TRUE(runHidden());
        EXPECT_EQ(lastContRecParams()[23], QString::number(status));
    }
}

TEST_F(Query, TheHiddenRunSendsTheStoredFilterWithTheCurrentTicks)
{
    ASSERT_TRUE(runHidden());
    const QJsonArray defaults{"01", "", "", QJsonValue::Null, QJsonValue::Null, QJsonValue::Null, QJsonValue::Null,
                              "", "", 0.0, 0.0, "", "2024-04-15", "2024-05-15", "", 0.0, 0.0, 0.0, 0.0,
                              false, false, "", "T", "5"};
    EXPECT_EQ(lastContRecParams(), defaults);
    EXPECT_FALSE(dialog()->isVisible());
    EXPECT_EQ(screenCursor(), crDefault);

    // Ticked before "Baixada" was picked: disabled, still sent as ticked.
    runModal([&](Dialog &d) {
        d.chbAVencer->setChecked(true);
        d.chbVencidas->setChecked(true);
        d.cbbStatus->select(0);
        EXPECT_FALSE(d.chbAVencer->isEnabled());
        confirm(d);
    });
    ASSERT_TRUE(runHidden());
    EXPECT_EQ(lastContRecParams()[19], true);
    EXPECT_EQ(lastContRecParams()[20], true);
    EXPECT_EQ(lastContRecParams()[23], QStringLiteral("0"));
}

TEST_F(Query, AServerErrorLeavesListRecordAndDialogAsTheyWere)
{
    ASSERT_TRUE(runHidden());
    ClientDataSet *accounts = recCont()->cdsContRec;
    ASSERT_EQ(accounts->recordCount(), 1);
    const TFILTRO stored = dialog()->Filtro;

    m_server.fail(QStringLiteral("GetContRec"), QStringLiteral("Conta bloqueada para consulta."));
    runModal([&](Dialog &d) {
        d.medNrDocuIni->setText(QStringLiteral("8"));
        confirm(d);
        EXPECT_EQ(m_messages.texts, QStringList{QStringLiteral("Conta bloqueada para consulta.")});
        EXPECT_TRUE(d.isInModalLoop());
    });
    EXPECT_EQ(dialog()->Filtro, stored);
    EXPECT_EQ(accounts->recordCount(), 1);

    // Hidden, the same failure reaches the caller, and the default cursor comes back.
    m_messages.clear();
    EXPECT_FALSE(runHidden());
    EXPECT_EQ(m_messages.texts, QStringList{QStringLiteral("Conta bloqueada para consulta.")});
    EXPECT_EQ(screenCursor(), crDefault);
    EXPECT_EQ(accounts->recordCount(), 1);
    EXPECT_EQ(dialog()->Filtro, stored);

    // A failed parameter call on the hidden road ends it before the query.
    m_server.reply(QStringLiteral("GetContRec"), oneAccount());
    m_server.fail(QStringLiteral("GetParExp"), QStringLiteral("Parâmetros de expedição indisponíveis."));
    m_server.clearCalls();
    m_messages.clear();
    EXPECT_FALSE(runHidden());
    EXPECT_EQ(m_messages.texts, QStringList{QStringLiteral("Parâmetros de expedição indisponíveis.")});
    EXPECT_TRUE(m_server.callsOf(QStringLiteral("GetContRec")).isEmpty());
    EXPECT_EQ(screenCursor(), crDefault);
    EXPECT_EQ(accounts->recordCount(), 1);
    EXPECT_EQ(dialog()->Filtro, stored);
}

TEST_F(Query, AHiddenRunStoppedByValidationShowsItsMessageAndRestoresTheCursor)
{
    dialog()->Filtro.Cliente = {{false, QString()}};
    // The user is in REC00800's company field when its panel is left.
    recCont()->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(recCont()->window()));
    recCont()->medCdEmpresa->setFocus();
    EXPECT_FALSE(runHidden());
    EXPECT_EQ(QApplication::focusWidget(), recCont()->medCdEmpresa) << "the hidden dialog takes no focus";
    EXPECT_EQ(m_messages.texts, QStringList{QStringLiteral("Cliente deve ser informado.")});
    EXPECT_EQ(screenCursor(), crDefault);
    EXPECT_FALSE(dialog()->isVisible());
    EXPECT_TRUE(m_server.callsOf(QStringLiteral("GetContRec")).isEmpty());
}

TEST_F(Query, AgainstTheRealServerTheListFollowsTheFilter)
{
    server::EmbeddedOptions options;
    options.databasePath = m_dir.filePath(QStringLiteral("demo.db")).toStdString();
    options.operatorName = "teste";
    options.today = "2024-05-15";
    options.demoAccounts = 400;
    options.workers = 2;
    options.log = [](const std::string &) {};
    server::EmbeddedServer real(options);
    ShellContext &session = ShellContext::instance();
    session.setWebUrl(QString::fromStdString(real.host()));
    session.setWebPort(real.port());
    session.setPassword(QString::fromStdString(real.password()));
    recCont()->netRecCont->close(); // the next call connects to the real server

    ASSERT_TRUE(runHidden()) << m_messages.texts.join('\n').toStdString();
    ClientDataSet *accounts = recCont()->cdsContRec;
    ASSERT_GT(accounts->recordCount(), 0);
    const auto eachRow = [&](const std::function<void()> &check) {
        for (int recNo = 1; recNo <= accounts->recordCount(); ++recNo) {
            accounts->moveTo(recNo);
            check();
        }
    };
    eachRow([&] {
        EXPECT_EQ(accounts->fieldByName(QStringLiteral("CDEMPRESA"))->asString(), QStringLiteral("01"));
        const QDate due = accounts->fieldByName(QStringLiteral("DTATUAVENREC"))->asDate();
        EXPECT_TRUE(due >= QDate(2024, 4, 15) && due <= QDate(2024, 6, 14)) << due.toString().toStdString();
    });

    runModal([&](Dialog &d) {
        d.cbbStatus->select(0);
        d.rdgCtbl->select(1);
        confirm(d);
        EXPECT_EQ(m_messages.texts, QStringList());
    });
    eachRow([&] {
        EXPECT_EQ(accounts->fieldByName(QStringLiteral("IDSTATREC"))->asString(), QStringLiteral("B"));
        EXPECT_EQ(accounts->fieldByName(QStringLiteral("IDCTBLCTREC"))->asString(), QStringLiteral("N"));
    });
    recCont()->netRecCont->close();
}
