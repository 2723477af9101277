#pragma once

#include <erpfwui/screens/tfrmfiltropadrao.h>

#include <QPointer>

// REC00801: the filter of the accounts that REC00800 lists. Only ever hidden, so it keeps
// its filter while the shell runs.
class TfrmFiltroRecalLancContReceber : public erp::TfrmFiltroPadrao
{
    Q_OBJECT

public:
    explicit TfrmFiltroRecalLancContReceber(QWidget *parent = nullptr);
};

namespace Cli_rec00801 {

// The filter dialog once made; boIdCriado is true from then on.
extern Q_DECL_EXPORT QPointer<TfrmFiltroRecalLancContReceber> frmFiltroRecalLancContReceber;
extern Q_DECL_EXPORT bool boIdCriado;

void initialization();

} // namespace Cli_rec00801
