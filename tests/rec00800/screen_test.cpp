// REC00800's frame: layout, company, the company panel, calculated fields and adjustments.
#include "support.h"

#include "PKG_REC00800.h"

#include <erpfwui/screens/btnpesquisa.h>
#include <erpfwui/screens/dialogs.h>
#include <erpfwui/shell/screencursor.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/data/clientdataset.h>
#include <erpfw/data/field.h>
#include <erpfw/data/keylist.h>
#include <erpfw/net/netconnection.h>
#include <erpwire/json.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QHeaderView>
#include <QImage>

namespace rec {
namespace {

using namespace erp;

using FrameTest = ScreenTest;

TEST_F(FrameTest, MarkTitleAndPicturesLookAsDescribed)
{
    startServer();
    openScreen();
    ASSERT_NE(frm, nullptr);
    GridColumn *markColumn = frm->dbgPadrao->columnOf(QStringLiteral("IDMARCADO"));
    EXPECT_EQ(markColumn->title(), QStringLiteral("4"));
    EXPECT_EQ(markColumn->titleFont().family(), QStringLiteral("Monotype Sorts"));
    // Where the symbol font is missing the title still shows its check mark.
    EXPECT_EQ(frm->dbgPadrao->titleDisplayText(markColumn->index()), QStringLiteral("✔"));

    const QImage check = frm->imgCheck->picture().pixmap().toImage();
    const QImage uncheck = frm->imgUncheck->picture().pixmap().toImage();
    ASSERT_EQ(check.size(), QSize(16, 16));
    ASSERT_EQ(uncheck.size(), QSize(16, 16));
    EXPECT_EQ(QColor(check.pixel(0, 0)), QColor(128, 128, 0));
    EXPECT_EQ(QColor(check.pixel(3, 3)), QColor(Qt::black));
    EXPECT_EQ(QColor(uncheck.pixel(8, 8)), QColor(Qt::white));
    EXPECT_EQ(QColor(uncheck.pixel(13, 8)), QColor(192, 192, 192));
    EXPECT_EQ(QColor(check.pixel(8, 9)), QColor(Qt::black));
    EXPECT_EQ(check.copy(4, 4, 9, 9).allGray(), true);
    EXPECT_NE(check, uncheck);
}

TEST_F(FrameTest, CompanyIsFittedValidatedAndLookedUp)
{
    startServer();
    openScreen();
    EXPECT_EQ(frm->focusedControl(), QStringLiteral("medCdEmpresa"));

    // One digit is fitted to two before the lookup, and stays so.
    frm->medCdEmpresa->setText(QStringLiteral("1"));
    dispatch([&] { frm->Vd_Empresa(false); });
    EXPECT_EQ(frm->medCdEmpresa->text(), QStringLiteral("01"));
    EXPECT_EQ(frm->edtNmEmpresa->text(), QStringLiteral("Comercial Aurora Distribuidora Ltda"));

    // Every change clears the name at once.
    frm->medCdEmpresa->setText(QStringLiteral("9"));
    EXPECT_TRUE(frm->edtNmEmpresa->text().isEmpty());

    // An unknown code stops the panel's exit with its message; the focus stays in the field.
    leavePanel();
    EXPECT_EQ(presenter.texts(), QStringList{QStringLiteral("Empresa não cadastrada.")});
    EXPECT_EQ(frm->focusedControl(), QStringLiteral("medCdEmpresa"));
    EXPECT_TRUE(frm->edtNmEmpresa->text().isEmpty());
    EXPECT_FALSE(frm->sbtFiltro->isEnabled());
    EXPECT_FALSE(frm->cdsContRec->active());

    // An empty code passes the field's own check but not the panel's.
    presenter.shown.clear();
    frm->medCdEmpresa->setText(QString());
    dispatch([&] { frm->medCdEmpresaExit(frm->medCdEmpresa); });
    EXPECT_TRUE(presenter.shown.isEmpty());
    leavePanel();
    EXPECT_EQ(presenter.texts(), QStringList{QStringLiteral("Empresa deve ser informada.")});
    EXPECT_EQ(frm->focusedControl(), QStringLiteral("medCdEmpresa"));
    EXPECT_FALSE(frm->sbtContab->isEnabled());
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 0);

    // The lookup offers every company in code order whatever is typed, and fills code and name.
    frm->medCdEmpresa->setText(QStringLiteral("03"));
    QStringList listed;
    Form::setModalHook([&](Form *form) {
        auto *grid = form->component<TDBGrid>(QStringLiteral("dbgPesquisa"));
        // The two-digit code's column still shows its title whole.
        EXPECT_GT(grid->columnOf(QStringLiteral("CDEMPRESA"))->width(),
                  grid->horizontalHeader()->fontMetrics().horizontalAdvance(QStringLiteral("Código")));
        for (int row = 0; row < grid->rowCount(); ++row)
            listed.append(grid->cellText(row, QStringLiteral("CDEMPRESA")));
        grid->setCurrentRow(1);
        form->component<TButton>(QStringLiteral("btnOk"))->click();
    });
    dispatch([&] { frm->btpEmpresa->execute(); });
    Form::setModalHook(nullptr);
    EXPECT_EQ(listed, (QStringList{QStringLiteral("01"), QStringLiteral("02"), QStringLiteral("03")}));
    EXPECT_EQ(frm->medCdEmpresa->text(), QStringLiteral("02"));
    EXPECT_EQ(frm->edtNmEmpresa->text(), QStringLiteral("Indústria Vale Verde S.A."));
}

TEST_F(FrameTest, LeavingThePanelLoadsTheListAndEnteringItClosesIt)
{
    startServer();
    openScreen();
    chooseCompany(QStringLiteral("1"));
    ASSERT_TRUE(presenter.shown.isEmpty()) << presenter.texts().join('\n').toStdString();
    EXPECT_EQ(frm->medCdEmpresa->text(), QStringLiteral("01"));
    ASSERT_TRUE(frm->cdsContRec->active());
    EXPECT_GT(frm->cdsContRec->recordCount(), 0);
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 1);
    EXPECT_TRUE(frm->sbtFiltro->isEnabled());
    EXPECT_TRUE(frm->mnuFiltro->isEnabled());
    EXPECT_TRUE(frm->sbtContab->isEnabled());
    EXPECT_TRUE(frm->tshFormulario->isEnabled());
    EXPECT_FALSE(frm->sbtConfirmar->isEnabled());
    // The first row's adjustments came with the list.
    EXPECT_EQ(calls(QStringLiteral("GetAjusCont")), 1);
    EXPECT_TRUE(frm->cdsAjusCont->active());
    EXPECT_FALSE(frm->dbtNome->text().isEmpty());

    dispatch([&] { frm->dbgPadraoDblClick(frm->dbgPadrao); });
    EXPECT_EQ(frm->klContMarcadas->count(), 1);
    EXPECT_TRUE(frm->sbtConfirmar->isEnabled());
    EXPECT_TRUE(frm->mnuConfirmar->isEnabled());
    // The record command shows the adjustments page; the list stays although the grid that
    // had the focus is hidden.
    frm->dbgPadrao->viewport()->grab();
    ASSERT_EQ(frm->focusedControl(), QStringLiteral("dbgPadrao"));
    frm->sbtFormulario->click();
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFormulario);
    EXPECT_TRUE(frm->cdsContRec->active());
    EXPECT_EQ(frm->klContMarcadas->count(), 1);

    enterPanel();
    EXPECT_FALSE(frm->cdsContRec->active());
    EXPECT_EQ(frm->klContMarcadas->count(), 0);
    EXPECT_FALSE(frm->sbtConfirmar->isEnabled());
    EXPECT_EQ(frm->pgcPadrao->activePage(), frm->tshFolhaDados);
    EXPECT_FALSE(frm->tshFormulario->isEnabled());
    EXPECT_FALSE(frm->sbtFiltro->isEnabled());
    EXPECT_FALSE(frm->mnuFiltro->isEnabled());
    EXPECT_FALSE(frm->sbtContab->isEnabled());
    // Ctrl+L does nothing while the filter item is disabled.
    frm->mnuFiltro->click();

    // Leaving again reloads with the stored filter although the company did not change.
    leavePanel();
    EXPECT_TRUE(frm->cdsContRec->active());
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 2);

    // Verify reloads without a dialog and the marks go.
    dispatch([&] { frm->dbgPadraoDblClick(frm->dbgPadrao); });
    ASSERT_EQ(frm->klContMarcadas->count(), 1);
    frm->sbtVerificar->click();
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 3);
    EXPECT_EQ(frm->klContMarcadas->count(), 0);
    EXPECT_FALSE(frm->sbtConfirmar->isEnabled());
    EXPECT_TRUE(presenter.shown.isEmpty()) << presenter.texts().join('\n').toStdString();
}

TEST_F(FrameTest, FilterDialogAndQuestionsAreNoActivations)
{
    startServer();
    openScreen();
    int activations = 0;
    QObject::connect(frm, &Form::activated, frm, [&] { ++activations; });
    chooseCompany(QStringLiteral("01"));
    ASSERT_TRUE(frm->cdsContRec->active());

    bool shown = false;
    Form::setModalHook([&](Form *form) {
        shown = form->objectName() == QLatin1String("frmFiltroRecalLancContReceber");
        form->findChild<QAbstractButton *>(QStringLiteral("sbtConfirma"))->click();
    });
    frm->sbtFiltro->click();
    Form::setModalHook(nullptr);
    QCoreApplication::processEvents();
    EXPECT_TRUE(shown);
    EXPECT_EQ(activations, 0);
    EXPECT_TRUE(frm->cdsContRec->active()) << "o fim do diálogo fechou a lista que ele carregou";
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 2);

    presenter.answers = {Button::Yes};
    frm->dbgPadrao->titleClick(QStringLiteral("IDMARCADO"));
    QCoreApplication::processEvents();
    EXPECT_EQ(activations, 0);
    EXPECT_EQ(frm->klContMarcadas->count(), frm->cdsContRec->recordCount());
}

TEST_F(FrameTest, ClosingAndReopeningStartsAfreshAndTheHourglassAlwaysGoes)
{
    startServer();
    openScreen();
    chooseCompany(QStringLiteral("02"));
    ASSERT_TRUE(frm->cdsContRec->active());
    QPointer<TfrmRecCont> first(frm);
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_FALSE(Cli_rec00800::boIdCriado);

    openScreen();
    EXPECT_NE(frm, nullptr);
    EXPECT_TRUE(Cli_rec00800::boIdCriado);
    EXPECT_TRUE(frm->medCdEmpresa->text().isEmpty());
    EXPECT_FALSE(frm->cdsContRec->active());
    EXPECT_EQ(screenCursor(), crDefault);

    // A server that went away: the panel's exit fails with the connection's message and the
    // cursor comes back all the same.
    frm->medCdEmpresa->setText(QStringLiteral("01"));
    frm->netRecCont->close();
    server.reset();
    leavePanel();
    ASSERT_FALSE(presenter.shown.isEmpty());
    for (const ShownMessage &m : presenter.shown)
        EXPECT_TRUE(m.text.contains(QStringLiteral("REC00800.rdmRecCont"))) << m.text.toStdString();
    EXPECT_EQ(screenCursor(), crDefault);
    EXPECT_FALSE(frm->sbtFiltro->isEnabled());
    EXPECT_FALSE(frm->sbtContab->isEnabled());
}

TEST_F(FrameTest, CalculatedFieldsComposeAndCut)
{
    startServer();
    openScreen();
    loadAccounts({
        {{"IDMARCADO", "N"}, {"NRNOTAFISC", "123"}, {"CDSERIE", ""}, {"CDFILIAL", "0101"}, {"NRSEQVENREC", "01"},
         {"NRPARCELAREC", "02"}, {"DTATUAVENREC", QDateTime(QDate(2024, 6, 30), QTime())}, {"VRATUAREC", 1234.5},
         {"DSCONTAREC", ""}, {"DSTPCTRECEB", "Duplicata mercantil"}},
        {{"IDMARCADO", "N"}, {"NRNOTAFISC", "123"}, {"CDSERIE", "1"}, {"DSCONTAREC", "Venda balcão"}},
        {{"IDMARCADO", "N"}, {"NRNOTAFISC", "12345678901234567890"}, {"CDSERIE", "ABCDE"},
         {"DSCONTAREC", QString(100, QLatin1Char('x'))}},
        {{"IDMARCADO", "N"}},
    });
    ClientDataSet *ds = frm->cdsContRec;
    Field *doc = ds->fieldByName(u"DOCUMENTO");
    Field *id = ds->fieldByName(u"IDCONTA");
    ds->moveTo(1);
    EXPECT_EQ(doc->asString(), QStringLiteral("123"));
    EXPECT_EQ(id->asString(), QStringLiteral("Filial0101 - Conta01.02 30/06/2024 1.234,50 Duplicata mercantil"));
    EXPECT_EQ(frm->dbtNome->text(), id->asString());
    ds->moveTo(2);
    EXPECT_EQ(doc->asString(), QStringLiteral("123/1"));
    EXPECT_TRUE(id->asString().endsWith(QStringLiteral(" Venda balcão")));
    ds->moveTo(3);
    EXPECT_EQ(doc->asString(), QStringLiteral("12345678901234567890/AB"));
    EXPECT_EQ(id->asString().size(), 75);
    // Empty texts still get their separators.
    ds->moveTo(4);
    EXPECT_EQ(doc->asString(), QString());
    EXPECT_EQ(id->asString(), QStringLiteral("Filial - Conta.  0,00 "));
    // While a row is edited the account line is left alone.
    ds->edit();
    EXPECT_EQ(id->asString(), QString());
    ds->cancel();
}

TEST_F(FrameTest, AdjustmentsFollowTheCurrentAccountAndShowTheirTranslations)
{
    startServer();
    useProxy();
    openScreen();
    chooseCompany(QStringLiteral("01"));
    ASSERT_GE(frm->cdsContRec->recordCount(), 12);
    clearCalls();
    for (int row = 1; row <= 10; ++row)
        frm->dbgPadrao->setCurrentRow(row);
    EXPECT_EQ(calls(QStringLiteral("GetAjusCont")), 10);
    EXPECT_EQ(m_calls.last().params,
              QStringLiteral("[\"%1\",\"%2\",\"%3\",\"%4\"]")
                  .arg(rowValue(10, QStringLiteral("CDFILIAL")), rowValue(10, QStringLiteral("NRLANCTONF")),
                       rowValue(10, QStringLiteral("NRSEQVENREC")), rowValue(10, QStringLiteral("NRPARCELAREC")))
                  .toUtf8());

    const QList<wire::FieldDef> layout = [&] {
        QList<wire::FieldDef> f;
        for (Field *field : frm->cdsAjusCont->fields())
            f.append({field->fieldName(), field->dataType(), field->size()});
        return f;
    }();
    const wire::Packet adjustments = packetOf(layout, {
        {{"CDAJUCTREC", "AJ01"}, {"IDAJUCTREC", "D"}, {"DSAJUCTREC", "Desconto comercial"}, {"NRLCTBAJREC", "L1"}},
        {{"CDAJUCTREC", "AJ03"}, {"IDAJUCTREC", "A"}, {"DSAJUCTREC", "Juros de mora"}},
        {{"CDAJUCTREC", ""}, {"IDAJUCTREC", "d"}, {"DSAJUCTREC", "Sem tipo"}},
        {{"CDAJUCTREC", "AJ05"}, {"IDAJUCTREC", ""}},
    });
    QByteArray json;
    wire::appendPacketJson(json, adjustments);
    proxy->answer(QStringLiteral("GetAjusCont"), "\"result\":" + json);
    frm->dbgPadrao->setCurrentRow(11);
    auto *grid = frm->component<TDBGrid>(QStringLiteral("dbgAjusRec"));
    ASSERT_EQ(grid->rowCount(), 4);
    EXPECT_EQ(grid->cellText(0, QStringLiteral("IDAJUCTREC")), QStringLiteral("Desconto"));
    EXPECT_EQ(grid->cellText(1, QStringLiteral("IDAJUCTREC")), QStringLiteral("Acréscimo"));
    EXPECT_EQ(grid->cellText(2, QStringLiteral("IDAJUCTREC")), QString());
    EXPECT_EQ(grid->cellText(3, QStringLiteral("IDAJUCTREC")), QString());
    EXPECT_EQ(grid->cellText(0, QStringLiteral("CDAJUCTREC")), QStringLiteral("Desconto comercial"));
    EXPECT_EQ(grid->cellText(2, QStringLiteral("CDAJUCTREC")), QString());

    // A failing server leaves the move standing and the previous adjustments shown.
    proxy->answer(QStringLiteral("GetAjusCont"),
                  "\"error\":{\"code\":-32000,\"message\":\"Ajustes indisponíveis no momento.\"}");
    frm->dbgPadrao->setCurrentRow(5);
    QCoreApplication::processEvents();
    EXPECT_EQ(frm->dbgPadrao->currentRow(), 5);
    EXPECT_EQ(frm->cdsContRec->recNo(), 6);
    EXPECT_EQ(grid->rowCount(), 4);
    EXPECT_EQ(presenter.texts(), QStringList{QStringLiteral("Ajustes indisponíveis no momento.")});

    // Searching on the adjustments page searches the adjustments.
    proxy->clear();
    frm->pgcPadrao->setActivePage(frm->tshFormulario);
    QStringList offered;
    Form::setModalHook([&](Form *form) {
        offered = form->component<TComboBox>(QStringLiteral("cbbCampo"))->items();
        form->close();
    });
    frm->sbtProcurar->click();
    Form::setModalHook(nullptr);
    EXPECT_TRUE(offered.join(' ').contains(QStringLiteral("Tipo de Ajuste"))) << offered.join(',').toStdString();
}

} // namespace
} // namespace rec
