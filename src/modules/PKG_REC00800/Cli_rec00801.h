#pragma once

#include "AccountFilter.h"
#include "AccountListHost.h"

#include <erpfwui/screens/tfrmfiltropadrao.h>

#include <QPointer>
#include <QString>

#include <functional>

namespace erp {
class AdoIbQuery;
class ClientDataSet;
class DataSource;
class Field;
class NetConnection;
class TBtnPesquisa;
class TButtonFlat;
class TCheckBox;
class TComboBox;
class TDateEditPlus;
class TGroupBox;
class TMaskEdit;
class TMenuItem;
class TNumberEdit;
class TRadioButton;
class TRadioGroup;
class TTabSheet;
} // namespace erp

// REC00801: the filter of the accounts that REC00800 lists. Only ever hidden, so it keeps
// its filter while the shell runs.
class TfrmFiltroRecalLancContReceber : public erp::TfrmFiltroPadrao
{
    Q_OBJECT

public:
    // host gives the screen whose list the dialog fills, or none while it is closed: the
    // dialog outlives it.
    explicit TfrmFiltroRecalLancContReceber(std::function<AccountListHost *()> host, QWidget *parent = nullptr);

    // Written only after the server has answered a confirmation.
    TFILTRO Filtro;
    // The lists being edited, one per selection group.
    QString stCliente;
    QString stFiliOrig;
    QString stFiliLanc;
    QString stTpConta;
    QString stVendedor;

    void FormCreate(QObject *sender) override;
    // False when the create handler could not read the server's parameters: such a dialog
    // has no defaults and is not to be used.
    bool parametersRead() const { return m_parametersRead; }
    void FormClose(QObject *sender, erp::CloseAction &action) override;
    // Validates, asks the server for the accounts, loads them into REC00800, keeps the filter
    // and closes; the first fault stops it with its message, page and focus.
    void sbtConfirmaClick(QObject *sender) override;
    // The same with the stored filter, the dialog hidden and its controls left alone.
    void runStoredFilter();
    void btfSaveOpcClick(QObject *sender) override;
    void btfLoadOpcClick(QObject *sender) override;

    // The stored filter into the controls; the salesman group by the branch's parameter.
    Q_INVOKABLE ERP_HANDLER void FormActivate(QObject *sender);
    // "Desfazer": the controls and lists back to the defaults; the stored filter stays.
    Q_INVOKABLE ERP_HANDLER void sbtLimpaClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void cbbStatusClick(QObject *sender);

    Q_INVOKABLE ERP_HANDLER void depDtEmissaoIniExit(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void depDtEmissaoFinExit(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void depDtSaidaIniExit(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void depDtSaidaFinExit(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void depVencIniExit(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void depVencFinExit(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void medNrDocuIniExit(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void medNrDocuFinExit(QObject *sender);

    Q_INVOKABLE ERP_HANDLER void nedVrDocuIniKeyPress(QObject *sender, QChar &key);
    Q_INVOKABLE ERP_HANDLER void nedVrDocuFinKeyPress(QObject *sender, QChar &key);
    Q_INVOKABLE ERP_HANDLER void nedVrOriginalIniKeyPress(QObject *sender, QChar &key);
    Q_INVOKABLE ERP_HANDLER void nedVrOriginalFinKeyPress(QObject *sender, QChar &key);
    Q_INVOKABLE ERP_HANDLER void nedVrLiquidoIniKeyPress(QObject *sender, QChar &key);
    Q_INVOKABLE ERP_HANDLER void nedVrLiquidoFinKeyPress(QObject *sender, QChar &key);

    Q_INVOKABLE ERP_HANDLER void rbtListaClieClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void rbtListaFiliOrigClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void rbtListaFiliLancClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void rbtTipoContListaClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void rbtVendTodosClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void rbtVendListaClick(QObject *sender);

    Q_INVOKABLE ERP_HANDLER void btnListClieClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void btnFiliOrigClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void btnFiliLancClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void btnTpContaClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void btnPesqVendClick(QObject *sender);

    // The customer's registration number laid out by the mask of its registration type.
    Q_INVOKABLE ERP_HANDLER void ADOIBQuery1NRINSJURCLIEGetText(erp::Field *sender, QString &text, bool displayText);

    erp::TButtonFlat *sbtLimpa = nullptr;
    erp::TMenuItem *mnuDesfazer = nullptr;
    erp::TTabSheet *tshContReceber = nullptr;
    erp::TTabSheet *tshDocumento = nullptr;

    erp::TDateEditPlus *depVencIni = nullptr;
    erp::TDateEditPlus *depVencFin = nullptr;
    erp::TRadioButton *rbtTodosTipoCont = nullptr;
    erp::TRadioButton *rbtTipoContLista = nullptr;
    erp::TBtnPesquisa *btnTpConta = nullptr;
    erp::TNumberEdit *nedVrOriginalIni = nullptr;
    erp::TNumberEdit *nedVrOriginalFin = nullptr;
    erp::TNumberEdit *nedVrLiquidoIni = nullptr;
    erp::TNumberEdit *nedVrLiquidoFin = nullptr;
    erp::TGroupBox *grbSituacao = nullptr;
    erp::TCheckBox *chbAVencer = nullptr;
    erp::TCheckBox *chbVencidas = nullptr;
    erp::TComboBox *cbbStatus = nullptr;
    erp::TRadioGroup *rdgCtbl = nullptr;

    erp::TRadioButton *rbtTodosClie = nullptr;
    erp::TRadioButton *rbtListaClie = nullptr;
    erp::TBtnPesquisa *btnListClie = nullptr;
    erp::TMaskEdit *medNrDocuIni = nullptr;
    erp::TMaskEdit *medNrDocuFin = nullptr;
    erp::TDateEditPlus *depDtEmissaoIni = nullptr;
    erp::TDateEditPlus *depDtEmissaoFin = nullptr;
    erp::TDateEditPlus *depDtSaidaIni = nullptr;
    erp::TDateEditPlus *depDtSaidaFin = nullptr;
    erp::TRadioButton *rbtTodasFiliOrig = nullptr;
    erp::TRadioButton *rbtListaFiliOrig = nullptr;
    erp::TBtnPesquisa *btnFiliOrig = nullptr;
    erp::TRadioButton *rbtTodasFiliLanc = nullptr;
    erp::TRadioButton *rbtListaFiliLanc = nullptr;
    erp::TBtnPesquisa *btnFiliLanc = nullptr;
    erp::TNumberEdit *nedVrDocuIni = nullptr;
    erp::TNumberEdit *nedVrDocuFin = nullptr;
    erp::TRadioGroup *rgpTipo = nullptr;
    erp::TGroupBox *grbVendedor = nullptr;
    erp::TRadioButton *rbtVendTodos = nullptr;
    erp::TRadioButton *rbtVendLista = nullptr;
    erp::TBtnPesquisa *btnPesqVend = nullptr;

    erp::ClientDataSet *cdsGeralRec = nullptr;
    erp::ClientDataSet *cdsParamFilial = nullptr;
    erp::ClientDataSet *cdsParExp = nullptr;
    erp::ClientDataSet *cdsTipoCtReceber = nullptr;
    erp::DataSource *dtsTipoCtReceber = nullptr;
    erp::AdoIbQuery *qryCliente = nullptr;
    erp::DataSource *dtsCliente = nullptr;
    erp::AdoIbQuery *qryFilial = nullptr;
    erp::DataSource *dtsFilial = nullptr;
    erp::AdoIbQuery *qryVendedor = nullptr;
    erp::DataSource *dtsVendedor = nullptr;
    erp::Field *qryClienteNRINSJURCLIE = nullptr;
    erp::Field *qryClienteIDTPIJURCLIE = nullptr;

protected:
    void bindComponents() override;

private:
    bool m_parametersRead = false;
    int m_numberLength = 0;

    std::function<AccountListHost *()> m_host;

    AccountListHost &host() const;
    QVariant callServer(const QString &method, const QVariantList &params = {}) const;
    void loadGeralRec();
    QDate dueFromDefault() const;
    QDate dueToDefault() const;

    [[noreturn]] void fail(const QString &key) const;
    void loadParExp();
    TFILTRO filterFromControls() const;
    // The controls as the checks leave them, up to the broken rule: date texts checked, empty
    // values shown as 0, document numbers fitted.
    void showChecked(const TFILTRO &filter, const std::optional<FilterFault> &fault);
    // The message, then the rule's page and control.
    [[noreturn]] void showFault(const FilterFault &fault);
    void runFilter(const TFILTRO &filter);
    // Leaving a date edit rejects only a text that is no date, keeping the focus on its page.
    void checkDate(erp::TTabSheet *page, erp::TDateEditPlus *edit);
    void fitNumber(erp::TMaskEdit *edit);
    void filterValueKey(erp::TNumberEdit *edit, QChar &key);
    void pickFromQuery(erp::AdoIbQuery *query, erp::DataSource *source, const QString &keyField,
                       const QString &titleKey, const QString &emptyKey, QString &list);
};

namespace Cli_rec00801 {

// The filter dialog once made; boIdCriado is true from then on.
extern Q_DECL_EXPORT QPointer<TfrmFiltroRecalLancContReceber> frmFiltroRecalLancContReceber;
extern Q_DECL_EXPORT bool boIdCriado;

void initialization();

} // namespace Cli_rec00801
