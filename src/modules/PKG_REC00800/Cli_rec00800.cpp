#include "Cli_rec00800.h"

namespace Cli_rec00800 {

QPointer<TfrmRecCont> frmRecCont;
bool boIdCriado = false;

void initialization()
{
    boIdCriado = false;
}

} // namespace Cli_rec00800

TfrmRecCont::TfrmRecCont(QWidget *parent)
    : erp::TfrmPadrao(parent)
{
}

void TfrmRecCont::FormClose(QObject *sender, erp::CloseAction &action)
{
    erp::TfrmPadrao::FormClose(sender, action);
    Cli_rec00800::boIdCriado = false;
}
