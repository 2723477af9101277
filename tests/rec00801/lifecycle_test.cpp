// The filter record, its defaults from the server's parameters, activation, "Desfazer",
// the status rule and the saved options.
#include "support.h"

#include <erpfw/core/error.h>
#include <erpfwui/shell/screencursor.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTest>

using namespace erp;
using namespace rec00801test;

namespace {

class Lifecycle : public FilterTest
{
protected:
    // A new module life: the next use makes the dialog again, reading the parameters again.
    void remake()
    {
        delete Cli_rec00801::frmFiltroRecalLancContReceber.data();
        Cli_rec00801::initialization();
    }
};

} // namespace

TEST_F(Lifecycle, FirstShowingHoldsTheDefaultsFromTheServersParameters)
{
    TFILTRO expected;
    expected.DtVencIni = today().addDays(-30);
    expected.DtVencFin = today();
    EXPECT_EQ(dialog()->Filtro, expected);
    EXPECT_EQ(m_server.callsOf(QStringLiteral("GetParamFilial")).value(0).params, QJsonArray{"0001"});

    runModal([&](TfrmFiltroRecalLancContReceber &d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Filtro de Recálculo de Contas a Receber"));
        EXPECT_EQ(d.lblCodTela->text(), QStringLiteral("REC00801"));
        EXPECT_EQ(d.helpContext(), 12611002);
        EXPECT_EQ(d.pgcPadrao->activePage(), d.tshContReceber);
        EXPECT_EQ(d.pgcPadrao->pages(), (QList<TTabSheet *>{d.tshContReceber, d.tshDocumento}));
        for (TRadioButton *all : {d.rbtTodosClie, d.rbtTodasFiliOrig, d.rbtTodasFiliLanc, d.rbtTodosTipoCont, d.rbtVendTodos})
            EXPECT_TRUE(all->isChecked()) << all->objectName().toStdString();
        for (TBtnPesquisa *lookup : {d.btnListClie, d.btnFiliOrig, d.btnFiliLanc, d.btnTpConta, d.btnPesqVend})
            EXPECT_FALSE(lookup->isEnabled()) << lookup->objectName().toStdString();
        EXPECT_EQ(d.medNrDocuIni->text(), QString());
        EXPECT_EQ(d.medNrDocuIni->maxLength(), 7);
        for (TDateEditPlus *date : {d.depDtEmissaoIni, d.depDtEmissaoFin, d.depDtSaidaIni, d.depDtSaidaFin})
            EXPECT_FALSE(date->getDate().isValid());
        EXPECT_EQ(d.depVencIni->getDate(), today().addDays(-30));
        EXPECT_EQ(d.depVencFin->getDate(), today());
        EXPECT_EQ(d.nedVrDocuFin->text(), QStringLiteral("0,00"));
        EXPECT_EQ(d.rgpTipo->itemIndex(), 0);
        EXPECT_FALSE(d.rgpTipo->isEnabled());
        EXPECT_EQ(d.cbbStatus->currentText(), QStringLiteral("Todas"));
        EXPECT_EQ(d.rdgCtbl->items().value(d.rdgCtbl->itemIndex()), QStringLiteral("Ambos"));
        EXPECT_FALSE(d.chbAVencer->isChecked() || d.chbVencidas->isChecked());
        EXPECT_TRUE(d.grbSituacao->isEnabled());
    });
}

TEST_F(Lifecycle, NumberLengthAndDueDatesComeFromTheParametersOfTheDialogsCreation)
{
    m_server.reply(QStringLiteral("GetParamFilial"), paramFilial({QJsonArray{9}}));
    m_server.reply(QStringLiteral("GetGeralRec"), geralRec(5, 10));
    EXPECT_EQ(dialog()->medNrDocuFin->maxLength(), 9);
    EXPECT_EQ(dialog()->Filtro.DtVencIni, today().addDays(-5));
    EXPECT_EQ(dialog()->Filtro.DtVencFin, today().addDays(10));

    // Seen only by a dialog made again.
    m_server.reply(QStringLiteral("GetParamFilial"), paramFilial({QJsonArray{QJsonValue::Null}}));
    m_server.reply(QStringLiteral("GetGeralRec"), geralRec(QJsonValue::Null, QJsonValue::Null));
    runHidden();
    EXPECT_EQ(dialog()->medNrDocuIni->maxLength(), 9);

    remake();
    EXPECT_EQ(dialog()->medNrDocuIni->maxLength(), 7) << "a null length";
    EXPECT_EQ(dialog()->Filtro.DtVencIni, today());
    EXPECT_EQ(dialog()->Filtro.DtVencFin, today());

    m_server.reply(QStringLiteral("GetParamFilial"), paramFilial({}));
    remake();
    EXPECT_EQ(dialog()->medNrDocuIni->maxLength(), 7) << "no parameter row";

    // No edit takes zero or a negative count of characters, nor more than any text holds.
    for (double length : {0.0, -3.0, 1e12}) {
        m_server.reply(QStringLiteral("GetParamFilial"), paramFilial({QJsonArray{length}}));
        remake();
        EXPECT_EQ(dialog()->medNrDocuIni->maxLength(), 7) << length;
    }
}

TEST_F(Lifecycle, ADialogThatCouldNotReadItsParametersIsDroppedAndMadeAgainAtTheNextUse)
{
    ASSERT_TRUE(runHidden());
    ClientDataSet *accounts = recCont()->cdsContRec;
    ASSERT_EQ(accounts->recordCount(), 1);
    remake();
    m_server.clearCalls();

    m_server.fail(QStringLiteral("GetGeralRec"), QStringLiteral("Parâmetros gerais indisponíveis."));
    EXPECT_FALSE(runHidden());
    EXPECT_EQ(m_messages.texts, QStringList{QStringLiteral("Parâmetros gerais indisponíveis.")});
    EXPECT_TRUE(m_server.callsOf(QStringLiteral("GetContRec")).isEmpty()) << "no query without the due-date range";
    EXPECT_FALSE(Cli_rec00801::frmFiltroRecalLancContReceber);
    EXPECT_FALSE(Cli_rec00801::boIdCriado);
    EXPECT_EQ(screenCursor(), crDefault);
    EXPECT_EQ(accounts->recordCount(), 1);

    m_messages.clear();
    m_server.reply(QStringLiteral("GetGeralRec"), geralRec(3, 4));
    m_server.fail(QStringLiteral("GetParamFilial"), QStringLiteral("Filial sem parâmetros."));
    bool shown = false;
    Form::setModalHook([&](Form *form) {
        shown = true;
        form->close();
    });
    try {
        CriaFiltroRecalLancContReceber(QStringLiteral("BOTAO_FILTRO"));
        ADD_FAILURE() << "the entry must end with the failure";
    } catch (...) {
        handleException(std::current_exception());
    }
    Form::setModalHook(nullptr);
    EXPECT_FALSE(shown) << "no dialog without its defaults";
    EXPECT_EQ(m_messages.texts, QStringList{QStringLiteral("Filial sem parâmetros.")});
    EXPECT_FALSE(Cli_rec00801::frmFiltroRecalLancContReceber);
    EXPECT_EQ(screenCursor(), crDefault);

    m_server.reply(QStringLiteral("GetParamFilial"), paramFilial({QJsonArray{9}}));
    ASSERT_TRUE(runHidden());
    EXPECT_EQ(lastContRecParams()[12], QStringLiteral("2024-05-12"));
    EXPECT_EQ(lastContRecParams()[13], QStringLiteral("2024-05-19"));
    EXPECT_EQ(dialog()->medNrDocuIni->maxLength(), 9);
}

TEST_F(Lifecycle, SalesmanGroupFollowsTheBranchsExpeditionParameter)
{
    const auto groupEnabled = [&] {
        bool enabled = false;
        runModal([&](TfrmFiltroRecalLancContReceber &d) {
            enabled = d.rbtVendTodos->isEnabled() && d.rbtVendLista->isEnabled();
            EXPECT_EQ(d.btnPesqVend->isEnabled(), enabled && d.rbtVendLista->isChecked());
        });
        return enabled;
    };
    EXPECT_TRUE(groupEnabled());
    for (const Rows &rows : {Rows{QJsonArray{"s"}}, Rows{QJsonArray{""}}, Rows{}}) {
        m_server.reply(QStringLiteral("GetParExp"), parExp(rows));
        EXPECT_FALSE(groupEnabled()) << QJsonDocument(rows.value(0)).toJson().toStdString();
    }

    // Loaded options may select "Lista" in a group the branch has disabled: its lookup stays
    // disabled, and the list still goes to the server.
    m_server.reply(QStringLiteral("GetParExp"), parExp({QJsonArray{"N"}}));
    runModal([&](TfrmFiltroRecalLancContReceber &d) {
        QFile file(d.optionsFile());
        ASSERT_TRUE(QDir().mkpath(QFileInfo(file).absolutePath()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("rbtVendLista=1\nstVendedor=V4\n");
        file.close();
        d.btfLoadOpc->click();
        EXPECT_TRUE(d.rbtVendLista->isChecked());
        EXPECT_FALSE(d.btnPesqVend->isEnabled());
        EXPECT_EQ(d.stVendedor, QStringLiteral("V4"));
        confirm(d);
    });
    EXPECT_EQ(lastContRecParams()[11], QStringLiteral("V4"));

    m_server.reply(QStringLiteral("GetParExp"), parExp({QJsonArray{"S"}}));
    dialog()->Filtro.Vendedor = {{false, QStringLiteral("V1")}};
    runModal([&](TfrmFiltroRecalLancContReceber &d) {
        EXPECT_TRUE(d.rbtVendLista->isChecked());
        EXPECT_TRUE(d.btnPesqVend->isEnabled());
        EXPECT_EQ(d.stVendedor, QStringLiteral("V1"));
    });
}

TEST_F(Lifecycle, ClosingWithoutConfirmingBringsTheStoredFilterBackButKeepsTheTicks)
{
    const TFILTRO stored = dialog()->Filtro;
    runModal([&](TfrmFiltroRecalLancContReceber &d) {
        d.medNrDocuIni->setText(QStringLiteral("55"));
        d.depDtSaidaIni->setDate(QDate(2024, 1, 2));
        d.rbtListaClie->setChecked(true);
        d.stCliente = QStringLiteral("C9");
        d.nedVrLiquidoFin->setNumber(80);
        d.cbbStatus->select(2);
        d.rdgCtbl->select(0);
        d.chbVencidas->setChecked(true);
        d.sbtFechar->click();
    });
    EXPECT_EQ(dialog()->Filtro, stored);
    EXPECT_TRUE(m_server.callsOf(QStringLiteral("GetContRec")).isEmpty());

    runModal([&](TfrmFiltroRecalLancContReceber &d) {
        EXPECT_EQ(d.medNrDocuIni->text(), QString());
        EXPECT_FALSE(d.depDtSaidaIni->getDate().isValid());
        EXPECT_TRUE(d.rbtTodosClie->isChecked());
        EXPECT_FALSE(d.btnListClie->isEnabled());
        EXPECT_EQ(d.stCliente, QString());
        EXPECT_EQ(d.nedVrLiquidoFin->getNumber(), 0.0);
        EXPECT_EQ(d.cbbStatus->currentIndex(), 5);
        EXPECT_EQ(d.rdgCtbl->itemIndex(), 2);
        EXPECT_TRUE(d.chbVencidas->isChecked()) << "the situation boxes live only in the controls";
    });
}

TEST_F(Lifecycle, TheConfirmedFilterOutlivesAClosedAndReopenedRecalculationScreen)
{
    runModal([&](TfrmFiltroRecalLancContReceber &d) {
        d.pgcPadrao->setActivePage(d.tshDocumento);
        d.medNrDocuIni->setText(QStringLiteral("77"));
        d.rbtListaFiliLanc->setChecked(true);
        d.stFiliLanc = QStringLiteral("0002");
        confirm(d);
    });
    const QJsonArray sent = lastContRecParams();
    ASSERT_EQ(sent.size(), 24);
    EXPECT_EQ(sent[1], QStringLiteral("0000077"));
    const TfrmFiltroRecalLancContReceber *made = dialog();

    closeRecCont();
    CriaRecCont();
    recCont()->medCdEmpresa->setText(QStringLiteral("01"));
    ASSERT_TRUE(runHidden());
    EXPECT_EQ(dialog(), made);
    EXPECT_EQ(lastContRecParams(), sent);
}

TEST_F(Lifecycle, DesfazerResetsTheControlsFromFreshParametersButNotTheRecord)
{
    dialog()->Filtro.Cliente = {{false, QStringLiteral("C1")}};
    const TFILTRO stored = dialog()->Filtro;
    m_server.reply(QStringLiteral("GetGeralRec"), geralRec(10, 5));
    runModal([&](TfrmFiltroRecalLancContReceber &d) {
        d.medNrDocuIni->setText(QStringLiteral("1"));
        d.depDtEmissaoIni->setDate(QDate(2024, 3, 1));
        d.rbtListaFiliOrig->setChecked(true);
        d.stFiliOrig = QStringLiteral("0001");
        d.nedVrOriginalFin->setNumber(99);
        d.rdgCtbl->select(1);
        d.chbAVencer->setChecked(true);
        const int before = int(m_server.callsOf(QStringLiteral("GetGeralRec")).size());

        d.sbtLimpa->click();
        EXPECT_EQ(m_server.callsOf(QStringLiteral("GetGeralRec")).size(), before + 1);
        EXPECT_TRUE(d.rbtTodosClie->isChecked());
        EXPECT_TRUE(d.rbtTodasFiliOrig->isChecked());
        EXPECT_FALSE(d.btnFiliOrig->isEnabled());
        EXPECT_EQ(d.stCliente + d.stFiliOrig, QString());
        EXPECT_EQ(d.medNrDocuIni->text(), QString());
        EXPECT_FALSE(d.depDtEmissaoIni->getDate().isValid());
        EXPECT_EQ(d.nedVrOriginalFin->getNumber(), 0.0);
        EXPECT_EQ(d.depVencIni->getDate(), today().addDays(-10));
        EXPECT_EQ(d.depVencFin->getDate(), today().addDays(5));
        EXPECT_EQ(d.cbbStatus->currentText(), QStringLiteral("Baixada"));
        EXPECT_TRUE(d.grbSituacao->isEnabled()) << "set from code, the status runs no handler";
        EXPECT_EQ(d.rdgCtbl->itemIndex(), 1) << "left as it was";
        EXPECT_TRUE(d.chbAVencer->isChecked());

        d.cbbStatus->select(0);
        EXPECT_FALSE(d.grbSituacao->isEnabled() || d.chbAVencer->isEnabled() || d.chbVencidas->isEnabled());
        EXPECT_TRUE(d.chbAVencer->isChecked());
        d.cbbStatus->select(3);
        EXPECT_TRUE(d.grbSituacao->isEnabled() && d.chbAVencer->isEnabled() && d.chbVencidas->isEnabled());

        // Ctrl+D from any control does the same.
        d.medNrDocuFin->setText(QStringLiteral("12"));
        d.rbtListaClie->setChecked(true);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
        d.medNrDocuFin->setFocus();
        QTest::keyClick(d.medNrDocuFin, Qt::Key_D, Qt::ControlModifier);
        EXPECT_EQ(d.medNrDocuFin->text(), QString());
        EXPECT_TRUE(d.rbtTodosClie->isChecked());
        EXPECT_FALSE(d.mnuDesfazer->isVisible());
    });
    EXPECT_EQ(dialog()->Filtro, stored);
}

TEST_F(Lifecycle, SavedOptionsCarryTheFiveLists)
{
    runModal([&](TfrmFiltroRecalLancContReceber &d) {
        d.pgcPadrao->setActivePage(d.tshDocumento);
        d.rbtListaClie->setChecked(true);
        d.stCliente = QStringLiteral("C1;C2");
        d.stFiliOrig = QStringLiteral("0001");
        d.stFiliLanc = QStringLiteral("0002;0003");
        d.stTpConta = QStringLiteral("DUP");
        d.stVendedor = QStringLiteral("V7");
        d.btfSaveOpc->click();
        d.sbtLimpa->click();
        EXPECT_EQ(d.stCliente + d.stFiliOrig + d.stFiliLanc + d.stTpConta + d.stVendedor, QString());

        d.btfLoadOpc->click();
        EXPECT_EQ(d.stCliente, QStringLiteral("C1;C2"));
        EXPECT_EQ(d.stFiliOrig, QStringLiteral("0001"));
        EXPECT_EQ(d.stFiliLanc, QStringLiteral("0002;0003"));
        EXPECT_EQ(d.stTpConta, QStringLiteral("DUP"));
        EXPECT_EQ(d.stVendedor, QStringLiteral("V7"));
        EXPECT_TRUE(d.rbtListaClie->isChecked());
        EXPECT_TRUE(d.btnListClie->isEnabled());

        // Options saved before the lists existed hold none of them.
        QFile file(d.optionsFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("medNrDocuIni=0000042\n");
        file.close();
        d.btfLoadOpc->click();
        EXPECT_EQ(d.medNrDocuIni->text(), QStringLiteral("0000042"));
        EXPECT_EQ(d.stCliente + d.stFiliOrig + d.stFiliLanc + d.stTpConta + d.stVendedor, QString());
    });
    EXPECT_TRUE(dialog()->Filtro.Cliente.Todos) << "options never touch the record";
}

TEST_F(Lifecycle, AFailedParameterCallEndsItsHandlerAndChangesNothingFurther)
{
    m_server.reply(QStringLiteral("GetParamFilial"), paramFilial({QJsonArray{0}}));
    m_server.fail(QStringLiteral("GetParExp"), QStringLiteral("Parâmetros de expedição indisponíveis."));
    runModal([&](TfrmFiltroRecalLancContReceber &d) {
        EXPECT_EQ(m_messages.texts, QStringList{QStringLiteral("Parâmetros de expedição indisponíveis.")});
        EXPECT_EQ(d.depVencIni->getDate(), today().addDays(-30)) << "the controls were filled before the call";
        EXPECT_TRUE(d.rbtVendTodos->isEnabled()) << "the salesman group keeps its state";
        EXPECT_EQ(d.medNrDocuIni->maxLength(), 7) << "a length of zero would take no number at all";

        m_server.fail(QStringLiteral("GetGeralRec"), QStringLiteral("Parâmetros gerais indisponíveis."));
        d.medNrDocuIni->setText(QStringLiteral("12"));
        d.rbtListaClie->setChecked(true);
        d.sbtLimpa->click();
        EXPECT_EQ(m_messages.texts.value(1), QStringLiteral("Parâmetros gerais indisponíveis."));
        EXPECT_EQ(d.medNrDocuIni->text(), QStringLiteral("12"));
        EXPECT_TRUE(d.rbtListaClie->isChecked());
    });
}
