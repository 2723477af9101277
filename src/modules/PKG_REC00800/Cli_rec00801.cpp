#include "Cli_rec00801.h"

namespace Cli_rec00801 {

QPointer<TfrmFiltroRecalLancContReceber> frmFiltroRecalLancContReceber;
bool boIdCriado = false;

void initialization()
{
    boIdCriado = false;
}

} // namespace Cli_rec00801

TfrmFiltroRecalLancContReceber::TfrmFiltroRecalLancContReceber(QWidget *parent)
    : erp::TfrmFiltroPadrao(parent)
{
}
