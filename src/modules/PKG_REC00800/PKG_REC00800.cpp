#include "PKG_REC00800.h"

#include "Cli_rec00800.h"
#include "Cli_rec00801.h"

#include <erpfw/core/error.h>
#include <erpfwui/shell/screencursor.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/widgets/controls.h>

#include <QMainWindow>

namespace {

const char *const kUnits[] = {"PKG_REC00800", "Cli_rec00801", "Cli_rec00800"};
const erp::PackageInfoTable kPackageInfo{3, kUnits};

// REC00800 as its filter sees it; none while it is closed.
AccountListHost *accountList()
{
    return Cli_rec00800::frmRecCont.data();
}

} // namespace

void IniProc()
{
    CriaRecCont();
}

void CriaRecCont()
{
    erp::HourglassCursor hourglass; // the default cursor comes back however this ends
    using namespace Cli_rec00800;
    if (!boIdCriado || !frmRecCont) {
        frmRecCont = erp::createForm<TfrmRecCont>();
        boIdCriado = true;
        try {
            erp::showScreen(frmRecCont);
        } catch (...) {
            // Never hosted, so nothing else owns it.
            delete frmRecCont;
            boIdCriado = false;
            throw;
        }
        return;
    }
    erp::showScreen(frmRecCont);
}

void CriaFiltroRecalLancContReceber(const QString &mode)
{
    erp::HourglassCursor hourglass;
    using namespace Cli_rec00801;
    if (!boIdCriado || !frmFiltroRecalLancContReceber) {
        // Making the dialog already asks the server through REC00800's connection.
        if (!accountList())
            throw erp::Error(QStringLiteral("O filtro de recálculo (REC00801) precisa da tela REC00800 aberta."));
        frmFiltroRecalLancContReceber
            = erp::createForm<TfrmFiltroRecalLancContReceber>(&accountList, erp::shellMainWindow());
        if (!frmFiltroRecalLancContReceber->parametersRead()) {
            // Without the server's parameters it would query with no due-date range; its
            // create handler has shown why, and the next use makes it again.
            delete frmFiltroRecalLancContReceber.data();
            erp::abortSilently();
        }
        boIdCriado = true;
    }
    TfrmFiltroRecalLancContReceber *filter = frmFiltroRecalLancContReceber;
    if (mode == QLatin1String("BOTAO_FILTRO")) {
        erp::setScreenCursor(erp::crDefault); // the user works in the dialog now
        filter->showModal();
    } else if (mode == QLatin1String("ESCONDE_FILTRO")) {
        filter->runStoredFilter();
    }
}

void Initialize()
{
    Cli_rec00801::initialization();
    Cli_rec00800::initialization();
}

void Finalize()
{
    // The units hold nothing to finish: the shell owns and frees both screens.
}

const erp::PackageInfoTable *GetPackageInfoTable()
{
    return &kPackageInfo;
}
