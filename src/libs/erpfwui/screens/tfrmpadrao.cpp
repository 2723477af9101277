#include "tfrmpadrao.h"

#include "dialogs.h"

#include <erpfwui/shell/help.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/keys.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/core/messages.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/datasource.h>

namespace erp {

TfrmPadrao::TfrmPadrao(QWidget *parent)
    : Form(parent)
{
}

void TfrmPadrao::bindComponents()
{
    lblCodTela = component<TLabel>(QStringLiteral("lblCodTela"));
    panMenu = component<TPanel>(QStringLiteral("panMenu"));
    sbtConfirmar = component<TButtonFlat>(QStringLiteral("sbtConfirmar"));
    sbtVerificar = component<TButtonFlat>(QStringLiteral("sbtVerificar"));
    sbtProcurar = component<TButtonFlat>(QStringLiteral("sbtProcurar"));
    sbtFormulario = component<TButtonFlat>(QStringLiteral("sbtFormulario"));
    sbtImprimir = component<TButtonFlat>(QStringLiteral("sbtImprimir"));
    sbtAjuda = component<TButtonFlat>(QStringLiteral("sbtAjuda"));
    sbtFechar = component<TButtonFlat>(QStringLiteral("sbtFechar"));
    pgcPadrao = component<TPageControl>(QStringLiteral("pgcPadrao"));
    tshFolhaDados = component<TTabSheet>(QStringLiteral("tshFolhaDados"));
    tshFormulario = component<TTabSheet>(QStringLiteral("tshFormulario"));
    dbgPadrao = component<TDBGrid>(QStringLiteral("dbgPadrao"));
    panNavigator = component<TPanel>(QStringLiteral("panNavigator"));
    dbtNome = component<TDBText>(QStringLiteral("dbtNome"));
    mnuMenu = component<TMainMenu>(QStringLiteral("mnuMenu"));
    mnuConfirmar = component<TMenuItem>(QStringLiteral("mnuConfirmar"));
    mnuVerificar = component<TMenuItem>(QStringLiteral("mnuVerificar"));
    mnuProcurar = component<TMenuItem>(QStringLiteral("mnuProcurar"));
    mnuFormulario = component<TMenuItem>(QStringLiteral("mnuFormulario"));
    mnuListagem = component<TMenuItem>(QStringLiteral("mnuListagem"));
    mnuConfigImpressora = component<TMenuItem>(QStringLiteral("mnuConfigImpressora"));
    mnuManutencao = component<TMenuItem>(QStringLiteral("mnuManutencao"));
    dtsPadrao = component<DataSource>(QStringLiteral("dtsPadrao"));
    msgPadrao = component<Messages>(QStringLiteral("msgPadrao"));
    // Emptying or reloading the rows changes no state, yet the record command depends on them.
    connect(dtsPadrao, &DataSource::dataSetChanged, this, &TfrmPadrao::updateBaseCommands);
}

void TfrmPadrao::updateBaseCommands()
{
    ClientDataSet *dataSet = dtsPadrao->dataSet();
    const bool browsing = dtsPadrao->state() == ClientDataSet::State::Browse;
    mnuFormulario->setEnabled(browsing && dataSet && !dataSet->isEmpty());
    sbtFormulario->setEnabled(mnuFormulario->isEnabled());
    panNavigator->setEnabled(browsing);
}

void TfrmPadrao::FormCreate(QObject *)
{
    pgcPadrao->setActivePage(tshFolhaDados);
    updateBaseCommands();
}

void TfrmPadrao::FormActivate(QObject *)
{
    if (focusedControl().isEmpty() && dbgPadrao->isEnabled())
        focusControl(dbgPadrao);
}

void TfrmPadrao::FormClose(QObject *, CloseAction &action)
{
    action = CloseAction::Free;
}

void TfrmPadrao::dbgPadraoKeyDown(QObject *, int &key, ShiftState shift)
{
    if (key == VK_RETURN && shift == ShiftState() && mnuFormulario->isEnabled()) {
        sbtFormularioClick(sbtFormulario);
        key = 0;
    }
}

void TfrmPadrao::dtsPadraoStateChange(QObject *)
{
    updateBaseCommands();
}

void TfrmPadrao::sbtConfirmarClick(QObject *)
{
    ClientDataSet *dataSet = dtsPadrao->dataSet();
    if (dataSet && (dataSet->state() == ClientDataSet::State::Edit || dataSet->state() == ClientDataSet::State::Insert))
        dataSet->post();
}

void TfrmPadrao::sbtVerificarClick(QObject *)
{
    if (ClientDataSet *dataSet = dtsPadrao->dataSet()) {
        dataSet->disableControls();
        dataSet->enableControls();
    }
}

void TfrmPadrao::sbtProcurarClick(QObject *)
{
    ClientDataSet *dataSet = dtsPadrao->dataSet();
    if (dataSet && dataSet->active())
        Procura(dataSet);
}

void TfrmPadrao::sbtFormularioClick(QObject *)
{
    if (tshFormulario->isEnabled())
        pgcPadrao->setActivePage(tshFormulario);
}

void TfrmPadrao::sbtAjudaClick(QObject *)
{
    showHelp(this);
}

void TfrmPadrao::sbtFecharClick(QObject *)
{
    close();
}

} // namespace erp
