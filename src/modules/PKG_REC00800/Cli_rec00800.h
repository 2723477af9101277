#pragma once

#include <erpfwui/screens/tfrmpadrao.h>

#include <QPointer>

// REC00800: the recalculation of the receivables' accounting.
class TfrmRecCont : public erp::TfrmPadrao
{
    Q_OBJECT

public:
    explicit TfrmRecCont(QWidget *parent = nullptr);

    // The base frees the screen; the unit then knows it is gone.
    void FormClose(QObject *sender, erp::CloseAction &action) override;
};

namespace Cli_rec00800 {

// The one recalculation screen, or none; boIdCriado is true while it lives.
extern Q_DECL_EXPORT QPointer<TfrmRecCont> frmRecCont;
extern Q_DECL_EXPORT bool boIdCriado;

void initialization();

} // namespace Cli_rec00800
