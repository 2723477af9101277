#pragma once

#include "AccountListHost.h"

#include <erpfwui/screens/tfrmpadrao.h>

#include <QPointer>
#include <QVariantList>

namespace erp {
class AdoIbQuery;
class ClientDataSet;
class DataSource;
class Field;
class GridColumn;
class KeyList;
class NetConnection;
class TBtnPesquisa;
class TButtonFlat;
class TEdit;
class TImage;
class TMaskEdit;
class TMenuItem;
class TPanel;
} // namespace erp

// REC00800: the user picks a company, marks receivable accounts and has the server recalculate
// their accounting; accounting errors go to the accounting screen CTB10200.
class TfrmRecCont : public erp::TfrmPadrao, public AccountListHost
{
    Q_OBJECT

public:
    explicit TfrmRecCont(QWidget *parent = nullptr);

    // Opens the connection, starts an empty marked list and goes to the company field.
    void FormActivate(QObject *sender) override;
    // The base frees the screen; the unit then knows it is gone.
    void FormClose(QObject *sender, erp::CloseAction &action) override;
    // Space toggles the current account's mark.
    void dbgPadraoKeyDown(QObject *sender, int &key, erp::ShiftState shift) override;
    void dtsPadraoStateChange(QObject *sender) override;
    // Sends every account, marks included, for recalculation.
    void sbtConfirmarClick(QObject *sender) override;
    // Runs the stored filter again without showing it.
    void sbtVerificarClick(QObject *sender) override;
    // Searches the accounts, or the adjustments when their page is showing.
    void sbtProcurarClick(QObject *sender) override;

    Q_INVOKABLE ERP_HANDLER void netRecContBeforeConnect(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void btpEmpresaBeforePesq(QObject *sender, bool &proceed);
    Q_INVOKABLE ERP_HANDLER void btpEmpresaAfterPesq(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void medCdEmpresaChange(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void medCdEmpresaExit(QObject *sender);
    // Entering the company panel closes the account list; leaving it validates the company
    // and loads the list with the stored filter.
    Q_INVOKABLE ERP_HANDLER void panFiltroEnter(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void panFiltroExit(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void sbtFiltroClick(QObject *sender);
    // Opens CTB10200 on the posting of the current account, or of the current adjustment.
    Q_INVOKABLE ERP_HANDLER void sbtContabClick(QObject *sender);
    // Sends the list as the confirm would, for a recalculation that writes nothing, and opens
    // CTB10200 on what would change. Enabled with the confirm.
    Q_INVOKABLE ERP_HANDLER void sbtSimularClick(QObject *sender);

    // Keeps klContMarcadas in step with the current row's mark.
    Q_INVOKABLE ERP_HANDLER void cdsContRecAfterPost(erp::ClientDataSet *dataSet);
    Q_INVOKABLE ERP_HANDLER void cdsContRecAfterOpen(erp::ClientDataSet *dataSet);
    Q_INVOKABLE ERP_HANDLER void cdsContRecAfterClose(erp::ClientDataSet *dataSet);
    // Loads the current account's adjustments.
    Q_INVOKABLE ERP_HANDLER void cdsContRecAfterScroll(erp::ClientDataSet *dataSet);
    Q_INVOKABLE ERP_HANDLER void cdsContRecCalcFields(erp::ClientDataSet *dataSet);
    Q_INVOKABLE ERP_HANDLER void cdsAjusContIDAJUCTRECGetText(erp::Field *sender, QString &text, bool displayText);
    Q_INVOKABLE ERP_HANDLER void cdsAjusContCDAJUCTRECGetText(erp::Field *sender, QString &text, bool displayText);

    Q_INVOKABLE ERP_HANDLER void dbgPadraoDrawColumnCell(QObject *sender, QRect rect, int dataCol,
                                                         erp::GridColumn *column, erp::GridDrawState state);
    Q_INVOKABLE ERP_HANDLER void dbgPadraoDblClick(QObject *sender);
    // The mark column's title marks, or unmarks, every account after a question.
    Q_INVOKABLE ERP_HANDLER void dbgPadraoTitleClick(erp::GridColumn *column);

    // With required false (leaving the field) an empty code passes.
    void Vd_Empresa(bool required);
    // The confirm command is available while at least one account is marked.
    void Bot_Confirma();

    QString company() const override;
    erp::NetConnection *connection() const override;
    void loadAccounts(const QVariant &packet) override;
    // "N contas, M marcadas" beside the navigator's text; not while the list's controls are
    // off (a mark-all), whose end shows it once.
    void showCounts();

    erp::TPanel *panFiltro = nullptr;
    erp::TMaskEdit *medCdEmpresa = nullptr;
    erp::TBtnPesquisa *btpEmpresa = nullptr;
    erp::TEdit *edtNmEmpresa = nullptr;
    erp::TButtonFlat *sbtFiltro = nullptr;
    erp::TButtonFlat *sbtContab = nullptr;
    erp::TButtonFlat *sbtSimular = nullptr;
    erp::TMenuItem *mnuSimular = nullptr;
    erp::TMenuItem *mnuFiltro = nullptr;
    erp::TDBGrid *dbgAjusRec = nullptr;
    erp::TImage *imgCheck = nullptr;
    erp::TImage *imgUncheck = nullptr;
    erp::KeyList *klContMarcadas = nullptr;
    erp::TLabel *lblContagem = nullptr;
    erp::NetConnection *netRecCont = nullptr;
    erp::ClientDataSet *cdsContRec = nullptr;
    erp::ClientDataSet *cdsAjusCont = nullptr;
    erp::ClientDataSet *cdsLancContTemp = nullptr;
    erp::ClientDataSet *cdsRateio = nullptr;
    erp::ClientDataSet *cdsErrosTemp = nullptr;
    erp::DataSource *dtsAjusCont = nullptr;
    erp::AdoIbQuery *qryEmpresa = nullptr;
    erp::DataSource *dtsEmpresa = nullptr;

protected:
    void bindComponents() override;

private:
    QVariant callServer(const QString &method, const QVariantList &params);
    QString accountKey() const;
    // The parameters CTB10200 is opened with: company, posting number, entries,
    // apportionment and errors.
    QVariantList accountingParams(const QString &postingNumber) const;
    // SetConfirmar or SimConfirmar of the list: the answer's elements when its status is "OK";
    // another status is shown as the error it is, and ends the handler.
    QVariantList recalculation(const QString &method, int elements);
    // Undoes the freeze of a confirmation; harmless when run again.
    void restoreAfterConfirm();

    erp::Field *cdsContRecIDMARCADO = nullptr;
    erp::Field *cdsContRecDTATUAVENREC = nullptr;
    erp::Field *cdsContRecNRPARCELAREC = nullptr;
    erp::Field *cdsContRecVRATUAREC = nullptr;
    erp::Field *cdsContRecDOCUMENTO = nullptr;
    erp::Field *cdsContRecCDSERIE = nullptr;
    erp::Field *cdsContRecNRNOTAFISC = nullptr;
    erp::Field *cdsContRecCDFILIAL = nullptr;
    erp::Field *cdsContRecNRLANCTONF = nullptr;
    erp::Field *cdsContRecNRSEQVENREC = nullptr;
    erp::Field *cdsContRecDSCONTAREC = nullptr;
    erp::Field *cdsContRecDSTPCTRECEB = nullptr;
    erp::Field *cdsContRecIDCONTA = nullptr;
    erp::Field *cdsContRecNRLANCTBDOC = nullptr;
    erp::Field *cdsAjusContCDAJUCTREC = nullptr;
    erp::Field *cdsAjusContDSAJUCTREC = nullptr;
    erp::Field *cdsAjusContNRLCTBAJREC = nullptr;
};

namespace Cli_rec00800 {

// The one recalculation screen, or none; boIdCriado is true while it lives.
extern Q_DECL_EXPORT QPointer<TfrmRecCont> frmRecCont;
extern Q_DECL_EXPORT bool boIdCriado;

void initialization();

} // namespace Cli_rec00800
