#include "Cli_rec00801.h"

#include <erpfwui/screens/btnpesquisa.h>
#include <erpfwui/screens/dialogs.h>
#include <erpfwui/shell/busyindicator.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/focus.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/core/error.h>
#include <erpfw/core/messages.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/core/utils.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/datasource.h>
#include <erpfw/db/adoibquery.h>
#include <erpfw/net/netconnection.h>

#include <cmath>

namespace Cli_rec00801 {

QPointer<TfrmFiltroRecalLancContReceber> frmFiltroRecalLancContReceber;
bool boIdCriado = false;

void initialization()
{
    boIdCriado = false;
}

} // namespace Cli_rec00801

using namespace erp;

namespace {

const QString kStCliente = QStringLiteral("stCliente");
const QString kStFiliOrig = QStringLiteral("stFiliOrig");
const QString kStFiliLanc = QStringLiteral("stFiliLanc");
const QString kStTpConta = QStringLiteral("stTpConta");
const QString kStVendedor = QStringLiteral("stVendedor");

// Document numbers when the branch has no length of its own.
constexpr int kDefaultNumberLength = 7;
constexpr int kMaxNumberLength = 32767; // the longest text an edit holds
// Integer and decimal digits a value edit takes.
constexpr int kValueIntDigits = 10;
constexpr int kValueDecDigits = 2;

// A server parameter on the dataset's first row: no row or no value reads as "" and as 0.
Field *parameterField(ClientDataSet *dataSet, const QString &name)
{
    if (!dataSet->active() || dataSet->isEmpty())
        return nullptr;
    Field *field = dataSet->fieldByName(name);
    return field->isNull() ? nullptr : field;
}

QString parameterText(ClientDataSet *dataSet, const QString &name)
{
    Field *field = parameterField(dataSet, name);
    return field ? field->asString() : QString();
}

double parameterNumber(ClientDataSet *dataSet, const QString &name)
{
    Field *field = parameterField(dataSet, name);
    return field ? field->asFloat() : 0.0;
}

// Today moved by a number of days that may carry a fraction: the day that moment falls on.
QDate shiftedToday(double days)
{
    return erp::today().addDays(static_cast<qint64>(std::floor(days)));
}

// The busy animation while the block runs, hidden on every way out.
class BusyAnimation
{
public:
    explicit BusyAnimation(int kind) { ActiveShowAvi(nullptr, kind); }
    ~BusyAnimation() { DeactiveShowAvi(); }
    BusyAnimation(const BusyAnimation &) = delete;
    BusyAnimation &operator=(const BusyAnimation &) = delete;
};

void setSelection(TRadioButton *all, TRadioButton *list, bool todos)
{
    all->setChecked(todos);
    list->setChecked(!todos);
}

void setDateEdit(TDateEditPlus *edit, QDate date)
{
    edit->clear();
    edit->setDate(date);
}

} // namespace

TfrmFiltroRecalLancContReceber::TfrmFiltroRecalLancContReceber(std::function<AccountListHost *()> host,
                                                               QWidget *parent)
    : erp::TfrmFiltroPadrao(parent)
    , m_host(std::move(host))
{
}

void TfrmFiltroRecalLancContReceber::bindComponents()
{
    TfrmFiltroPadrao::bindComponents();
    sbtLimpa = component<TButtonFlat>(QStringLiteral("sbtLimpa"));
    mnuDesfazer = component<TMenuItem>(QStringLiteral("mnuDesfazer"));
    tshContReceber = component<TTabSheet>(QStringLiteral("tshContReceber"));
    tshDocumento = component<TTabSheet>(QStringLiteral("tshDocumento"));

    depVencIni = component<TDateEditPlus>(QStringLiteral("depVencIni"));
    depVencFin = component<TDateEditPlus>(QStringLiteral("depVencFin"));
    rbtTodosTipoCont = component<TRadioButton>(QStringLiteral("rbtTodosTipoCont"));
    rbtTipoContLista = component<TRadioButton>(QStringLiteral("rbtTipoContLista"));
    btnTpConta = component<TBtnPesquisa>(QStringLiteral("btnTpConta"));
    nedVrOriginalIni = component<TNumberEdit>(QStringLiteral("nedVrOriginalIni"));
    nedVrOriginalFin = component<TNumberEdit>(QStringLiteral("nedVrOriginalFin"));
    nedVrLiquidoIni = component<TNumberEdit>(QStringLiteral("nedVrLiquidoIni"));
    nedVrLiquidoFin = component<TNumberEdit>(QStringLiteral("nedVrLiquidoFin"));
    grbSituacao = component<TGroupBox>(QStringLiteral("grbSituacao"));
    chbAVencer = component<TCheckBox>(QStringLiteral("chbAVencer"));
    chbVencidas = component<TCheckBox>(QStringLiteral("chbVencidas"));
    cbbStatus = component<TComboBox>(QStringLiteral("cbbStatus"));
    rdgCtbl = component<TRadioGroup>(QStringLiteral("rdgCtbl"));

    rbtTodosClie = component<TRadioButton>(QStringLiteral("rbtTodosClie"));
    rbtListaClie = component<TRadioButton>(QStringLiteral("rbtListaClie"));
    btnListClie = component<TBtnPesquisa>(QStringLiteral("btnListClie"));
    medNrDocuIni = component<TMaskEdit>(QStringLiteral("medNrDocuIni"));
    medNrDocuFin = component<TMaskEdit>(QStringLiteral("medNrDocuFin"));
    depDtEmissaoIni = component<TDateEditPlus>(QStringLiteral("depDtEmissaoIni"));
    depDtEmissaoFin = component<TDateEditPlus>(QStringLiteral("depDtEmissaoFin"));
    depDtSaidaIni = component<TDateEditPlus>(QStringLiteral("depDtSaidaIni"));
    depDtSaidaFin = component<TDateEditPlus>(QStringLiteral("depDtSaidaFin"));
    rbtTodasFiliOrig = component<TRadioButton>(QStringLiteral("rbtTodasFiliOrig"));
    rbtListaFiliOrig = component<TRadioButton>(QStringLiteral("rbtListaFiliOrig"));
    btnFiliOrig = component<TBtnPesquisa>(QStringLiteral("btnFiliOrig"));
    rbtTodasFiliLanc = component<TRadioButton>(QStringLiteral("rbtTodasFiliLanc"));
    rbtListaFiliLanc = component<TRadioButton>(QStringLiteral("rbtListaFiliLanc"));
    btnFiliLanc = component<TBtnPesquisa>(QStringLiteral("btnFiliLanc"));
    nedVrDocuIni = component<TNumberEdit>(QStringLiteral("nedVrDocuIni"));
    nedVrDocuFin = component<TNumberEdit>(QStringLiteral("nedVrDocuFin"));
    rgpTipo = component<TRadioGroup>(QStringLiteral("rgpTipo"));
    grbVendedor = component<TGroupBox>(QStringLiteral("grbVendedor"));
    rbtVendTodos = component<TRadioButton>(QStringLiteral("rbtVendTodos"));
    rbtVendLista = component<TRadioButton>(QStringLiteral("rbtVendLista"));
    btnPesqVend = component<TBtnPesquisa>(QStringLiteral("btnPesqVend"));

    cdsGeralRec = component<ClientDataSet>(QStringLiteral("cdsGeralRec"));
    cdsParamFilial = component<ClientDataSet>(QStringLiteral("cdsParamFilial"));
    cdsParExp = component<ClientDataSet>(QStringLiteral("cdsParExp"));
    cdsTipoCtReceber = component<ClientDataSet>(QStringLiteral("cdsTipoCtReceber"));
    dtsTipoCtReceber = component<DataSource>(QStringLiteral("dtsTipoCtReceber"));
    qryCliente = component<AdoIbQuery>(QStringLiteral("qryCliente"));
    dtsCliente = component<DataSource>(QStringLiteral("dtsCliente"));
    qryFilial = component<AdoIbQuery>(QStringLiteral("qryFilial"));
    dtsFilial = component<DataSource>(QStringLiteral("dtsFilial"));
    qryVendedor = component<AdoIbQuery>(QStringLiteral("qryVendedor"));
    dtsVendedor = component<DataSource>(QStringLiteral("dtsVendedor"));
    qryClienteNRINSJURCLIE = qryCliente->query()->fieldByName(QStringLiteral("NRINSJURCLIE"));
    qryClienteIDTPIJURCLIE = qryCliente->query()->fieldByName(QStringLiteral("IDTPIJURCLIE"));
}

AccountListHost &TfrmFiltroRecalLancContReceber::host() const
{
    AccountListHost *host = m_host();
    if (!host)
        throw Error(QStringLiteral("O filtro de recálculo (REC00801) precisa da tela REC00800 aberta."));
    return *host;
}

QVariant TfrmFiltroRecalLancContReceber::callServer(const QString &method, const QVariantList &params) const
{
    return checkResultServ(host().connection()->call(method, params), true, 0);
}

void TfrmFiltroRecalLancContReceber::loadGeralRec()
{
    cdsGeralRec->setData(callServer(QStringLiteral("GetGeralRec")));
}

QDate TfrmFiltroRecalLancContReceber::dueFromDefault() const
{
    return shiftedToday(-parameterNumber(cdsGeralRec, QStringLiteral("QTDIAANTLANR")));
}

QDate TfrmFiltroRecalLancContReceber::dueToDefault() const
{
    return shiftedToday(parameterNumber(cdsGeralRec, QStringLiteral("QTDIAAPOLANR")));
}

void TfrmFiltroRecalLancContReceber::FormCreate(QObject *sender)
{
    m_parametersRead = false;
    TfrmFiltroPadrao::FormCreate(sender);
    pgcPadrao->setActivePage(tshContReceber);
    loadGeralRec();
    cdsParamFilial->setData(callServer(QStringLiteral("GetParamFilial"), {filiProc()}));

    int numberLength = kDefaultNumberLength;
    if (!emptyString(parameterText(cdsParamFilial, QStringLiteral("NRTAMNUMNFUT")))) {
        // Zero would take no number at all; a length beyond any edit's is no length.
        const double length = parameterNumber(cdsParamFilial, QStringLiteral("NRTAMNUMNFUT"));
        if (length >= 1 && length <= kMaxNumberLength)
            numberLength = int(length);
    }
    m_numberLength = numberLength;
    medNrDocuIni->setMaxLength(numberLength);
    medNrDocuFin->setMaxLength(numberLength);

    Filtro = TFILTRO{};
    Filtro.DtVencIni = dueFromDefault();
    Filtro.DtVencFin = dueToDefault();
    m_parametersRead = true;
}

void TfrmFiltroRecalLancContReceber::FormActivate(QObject *)
{
    update();
    rgpTipo->setEnabled(false);

    setSelection(rbtTodosClie, rbtListaClie, Filtro.Cliente.Todos);
    stCliente = Filtro.Cliente.Lista;
    medNrDocuIni->setText(Filtro.Documento.NrDocuIni);
    medNrDocuFin->setText(Filtro.Documento.NrDocuFin);
    setDateEdit(depDtEmissaoIni, Filtro.DtEmissaoIni);
    setDateEdit(depDtEmissaoFin, Filtro.DtEmissaoFin);
    setDateEdit(depDtSaidaIni, Filtro.DtSaidaIni);
    setDateEdit(depDtSaidaFin, Filtro.DtSaidaFin);
    setSelection(rbtTodasFiliOrig, rbtListaFiliOrig, Filtro.FiliOrig.Todos);
    stFiliOrig = Filtro.FiliOrig.Lista;
    setSelection(rbtTodasFiliLanc, rbtListaFiliLanc, Filtro.FiliLanc.Todos);
    stFiliLanc = Filtro.FiliLanc.Lista;
    nedVrDocuIni->setNumber(Filtro.VrDocuIni);
    nedVrDocuFin->setNumber(Filtro.VrDocuFin);
    rgpTipo->setItemIndex(Filtro.Tipo);
    setDateEdit(depVencIni, Filtro.DtVencIni);
    setDateEdit(depVencFin, Filtro.DtVencFin);
    setSelection(rbtTodosTipoCont, rbtTipoContLista, Filtro.TipoConta.Todos);
    stTpConta = Filtro.TipoConta.Lista;
    nedVrOriginalIni->setNumber(Filtro.VrOriginalIni);
    nedVrOriginalFin->setNumber(Filtro.VrOriginalFin);
    nedVrLiquidoIni->setNumber(Filtro.VrLiquidoIni);
    nedVrLiquidoFin->setNumber(Filtro.VrLiquidoFin);
    cbbStatus->setItemIndex(Filtro.Status);
    setSelection(rbtVendTodos, rbtVendLista, Filtro.Vendedor.Todos);
    stVendedor = Filtro.Vendedor.Lista;
    rdgCtbl->setItemIndex(Filtro.Ctbl);

    loadParExp();
    if (parameterText(cdsParExp, QStringLiteral("IDCTRLVENEXP")) == QLatin1String("S")) {
        SetChildEnabled(grbVendedor, true);
        if (rbtVendTodos->isChecked())
            btnPesqVend->setEnabled(false);
    } else {
        SetChildEnabled(grbVendedor, false);
    }
}

void TfrmFiltroRecalLancContReceber::loadParExp()
{
    cdsParExp->setData(callServer(QStringLiteral("GetParExp"), {filiProc()}));
}

void TfrmFiltroRecalLancContReceber::FormClose(QObject *sender, CloseAction &action)
{
    TfrmFiltroPadrao::FormClose(sender, action); // hides: the filter lives for the next use
    cdsGeralRec->close();
    qryCliente->close();
    qryFilial->close();
    cdsTipoCtReceber->close();
}

void TfrmFiltroRecalLancContReceber::sbtLimpaClick(QObject *)
{
    loadGeralRec();
    setSelection(rbtTodosClie, rbtListaClie, true);
    stCliente.clear();
    medNrDocuIni->clear();
    medNrDocuFin->clear();
    for (TDateEditPlus *edit : {depDtEmissaoIni, depDtEmissaoFin, depDtSaidaIni, depDtSaidaFin})
        setDateEdit(edit, QDate());
    setSelection(rbtTodasFiliOrig, rbtListaFiliOrig, true);
    stFiliOrig.clear();
    setSelection(rbtTodasFiliLanc, rbtListaFiliLanc, true);
    stFiliLanc.clear();
    nedVrDocuIni->setNumber(0);
    nedVrDocuFin->setNumber(0);
    rgpTipo->setItemIndex(0);
    setDateEdit(depVencIni, dueFromDefault());
    setDateEdit(depVencFin, dueToDefault());
    setSelection(rbtTodosTipoCont, rbtTipoContLista, true);
    stTpConta.clear();
    for (TNumberEdit *edit : {nedVrOriginalIni, nedVrOriginalFin, nedVrLiquidoIni, nedVrLiquidoFin})
        edit->setNumber(0);
    cbbStatus->setItemIndex(0);
    setSelection(rbtVendTodos, rbtVendLista, true);
    stVendedor.clear();
}

void TfrmFiltroRecalLancContReceber::cbbStatusClick(QObject *)
{
    const bool enabled = cbbStatus->currentIndex() != 0; // "Baixada" has no due situation
    grbSituacao->setEnabled(enabled);
    chbAVencer->setEnabled(enabled);
    chbVencidas->setEnabled(enabled);
}

void TfrmFiltroRecalLancContReceber::btfSaveOpcClick(QObject *sender)
{
    setOption(kStCliente, stCliente);
    setOption(kStFiliOrig, stFiliOrig);
    setOption(kStFiliLanc, stFiliLanc);
    setOption(kStTpConta, stTpConta);
    setOption(kStVendedor, stVendedor);
    TfrmFiltroPadrao::btfSaveOpcClick(sender);
}

void TfrmFiltroRecalLancContReceber::btfLoadOpcClick(QObject *sender)
{
    TfrmFiltroPadrao::btfLoadOpcClick(sender);
    stCliente = option(kStCliente);
    stFiliOrig = option(kStFiliOrig);
    stFiliLanc = option(kStFiliLanc);
    stTpConta = option(kStTpConta);
    stVendedor = option(kStVendedor);
}

void TfrmFiltroRecalLancContReceber::sbtConfirmaClick(QObject *)
{
    TFILTRO filter = filterFromControls();
    const std::optional<FilterFault> fault = validateFilter(filter, m_numberLength);
    showChecked(filter, fault);
    if (fault)
        showFault(*fault);
    runFilter(filter);
}

void TfrmFiltroRecalLancContReceber::runStoredFilter()
{
    // Read as the shown dialog reads them on activation: a branch without them stops here.
    loadParExp();
    TFILTRO filter = Filtro;
    if (const std::optional<FilterFault> fault = validateFilter(filter, m_numberLength))
        showFault(*fault);
    runFilter(filter);
}

void TfrmFiltroRecalLancContReceber::runFilter(const TFILTRO &filter)
{
    AccountListHost &list = host();
    const Situation situation{chbAVencer->isChecked(), chbVencidas->isChecked()};
    list.loadAccounts(callServer(QStringLiteral("GetContRec"), contRecArguments(filter, list.company(), situation)));
    Filtro = filter;

    const bool modal = isInModalLoop();
    setModalResult(mrOk); // ends the modal loop, closing the dialog
    if (!modal)
        close();
}

TFILTRO TfrmFiltroRecalLancContReceber::filterFromControls() const
{
    TFILTRO f;
    f.Cliente = {{rbtTodosClie->isChecked(), stCliente}};
    f.Documento = {medNrDocuIni->text(), medNrDocuFin->text()};
    f.DtEmissaoIni = depDtEmissaoIni->getDate();
    f.DtEmissaoFin = depDtEmissaoFin->getDate();
    f.DtSaidaIni = depDtSaidaIni->getDate();
    f.DtSaidaFin = depDtSaidaFin->getDate();
    f.FiliOrig = {{rbtTodasFiliOrig->isChecked(), stFiliOrig}};
    f.FiliLanc = {{rbtTodasFiliLanc->isChecked(), stFiliLanc}};
    f.VrDocuIni = nedVrDocuIni->getNumber();
    f.VrDocuFin = nedVrDocuFin->getNumber();
    f.Tipo = rgpTipo->itemIndex();
    f.DtVencIni = depVencIni->getDate();
    f.DtVencFin = depVencFin->getDate();
    f.TipoConta = {{rbtTodosTipoCont->isChecked(), stTpConta}};
    f.VrOriginalIni = nedVrOriginalIni->getNumber();
    f.VrOriginalFin = nedVrOriginalFin->getNumber();
    f.VrLiquidoIni = nedVrLiquidoIni->getNumber();
    f.VrLiquidoFin = nedVrLiquidoFin->getNumber();
    f.Status = cbbStatus->currentIndex();
    f.Vendedor = {{rbtVendTodos->isChecked(), stVendedor}};
    f.Ctbl = rdgCtbl->itemIndex();
    return f;
}

// Validation --------------------------------------------------------------------------------

void TfrmFiltroRecalLancContReceber::fail(const QString &key) const
{
    mensErro(msgPadrao->msg(key));
}

void TfrmFiltroRecalLancContReceber::showChecked(const TFILTRO &filter, const std::optional<FilterFault> &fault)
{
    // A date edit's text is checked where the rules reach its pair, so an earlier rule's
    // message comes first.
    const auto reached = [&](FilterField field) { return !fault || fault->field >= field; };
    const auto checkDates = [&](FilterField field, TDateEditPlus *from, TDateEditPlus *to) {
        if (reached(field)) {
            from->checkValidDate();
            to->checkValidDate();
        }
    };
    const auto zeroIfEmpty = [&](FilterField field, TNumberEdit *from, TNumberEdit *to) {
        for (TNumberEdit *edit : {from, to})
            if (reached(field) && emptyString(edit->text()))
                edit->setText(QStringLiteral("0"));
    };
    const auto showNumber = [](TMaskEdit *edit, const QString &number) {
        if (edit->text() != number)
            edit->setText(number);
    };
    checkDates(FilterField::DtVencIni, depVencIni, depVencFin);
    zeroIfEmpty(FilterField::VrOriginalIni, nedVrOriginalIni, nedVrOriginalFin);
    zeroIfEmpty(FilterField::VrLiquidoIni, nedVrLiquidoIni, nedVrLiquidoFin);
    showNumber(medNrDocuIni, filter.Documento.NrDocuIni);
    showNumber(medNrDocuFin, filter.Documento.NrDocuFin);
    checkDates(FilterField::DtEmissaoIni, depDtEmissaoIni, depDtEmissaoFin);
    checkDates(FilterField::DtSaidaIni, depDtSaidaIni, depDtSaidaFin);
    zeroIfEmpty(FilterField::VrDocuIni, nedVrDocuIni, nedVrDocuFin);
}

void TfrmFiltroRecalLancContReceber::showFault(const FilterFault &fault)
{
    // In FilterField's order.
    QWidget *const controls[] = {depVencIni,      depVencFin,       rbtTipoContLista, nedVrOriginalIni,
                                 nedVrLiquidoIni, rbtListaClie,     medNrDocuIni,     medNrDocuFin,
                                 depDtEmissaoIni, depDtEmissaoFin,  depDtSaidaIni,    depDtSaidaFin,
                                 rbtListaFiliOrig, rbtListaFiliLanc, nedVrDocuIni,    rbtVendLista};
    try {
        fail(fault.key);
    } catch (...) {
        pgcPadrao->setActivePage(fault.field < FilterField::Cliente ? tshContReceber : tshDocumento);
        // The hidden run has no field to go back to; focusing there would take the focus
        // from the screen underneath.
        if (isVisible())
            focusControl(controls[int(fault.field)]);
        throw;
    }
}

void TfrmFiltroRecalLancContReceber::checkDate(TTabSheet *page, TDateEditPlus *edit)
{
    try {
        edit->checkValidDate();
    } catch (...) {
        pgcPadrao->setActivePage(page);
        if (isVisible())
            focusControl(edit);
        throw;
    }
}

void TfrmFiltroRecalLancContReceber::fitNumber(TMaskEdit *edit)
{
    edit->setText(ajusta(edit->text(), m_numberLength));
}

// Field events ------------------------------------------------------------------------------

void TfrmFiltroRecalLancContReceber::depDtEmissaoIniExit(QObject *)
{
    checkDate(tshDocumento, depDtEmissaoIni);
}

void TfrmFiltroRecalLancContReceber::depDtEmissaoFinExit(QObject *)
{
    checkDate(tshDocumento, depDtEmissaoFin);
}

void TfrmFiltroRecalLancContReceber::depDtSaidaIniExit(QObject *)
{
    checkDate(tshDocumento, depDtSaidaIni);
}

void TfrmFiltroRecalLancContReceber::depDtSaidaFinExit(QObject *)
{
    checkDate(tshDocumento, depDtSaidaFin);
}

void TfrmFiltroRecalLancContReceber::depVencIniExit(QObject *)
{
    checkDate(tshContReceber, depVencIni);
}

void TfrmFiltroRecalLancContReceber::depVencFinExit(QObject *)
{
    checkDate(tshContReceber, depVencFin);
}

void TfrmFiltroRecalLancContReceber::medNrDocuIniExit(QObject *)
{
    fitNumber(medNrDocuIni);
    if (emptyString(medNrDocuFin->text()))
        medNrDocuFin->setText(medNrDocuIni->text());
}

void TfrmFiltroRecalLancContReceber::medNrDocuFinExit(QObject *)
{
    fitNumber(medNrDocuFin);
}

void TfrmFiltroRecalLancContReceber::filterValueKey(TNumberEdit *edit, QChar &key)
{
    if (key == QLatin1Char('-'))
        key = QChar(0);
    const int caret = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
    const int selected = edit->hasSelectedText() ? int(edit->selectedText().size()) : 0;
    if (!maxNumber(edit->text(), kValueIntDigits, kValueDecDigits, key, caret, selected))
        key = QChar(0);
}

void TfrmFiltroRecalLancContReceber::nedVrDocuIniKeyPress(QObject *, QChar &key)
{
    filterValueKey(nedVrDocuIni, key);
}

void TfrmFiltroRecalLancContReceber::nedVrDocuFinKeyPress(QObject *, QChar &key)
{
    filterValueKey(nedVrDocuFin, key);
}

void TfrmFiltroRecalLancContReceber::nedVrOriginalIniKeyPress(QObject *, QChar &key)
{
    filterValueKey(nedVrOriginalIni, key);
}

void TfrmFiltroRecalLancContReceber::nedVrOriginalFinKeyPress(QObject *, QChar &key)
{
    filterValueKey(nedVrOriginalFin, key);
}

void TfrmFiltroRecalLancContReceber::nedVrLiquidoIniKeyPress(QObject *, QChar &key)
{
    filterValueKey(nedVrLiquidoIni, key);
}

void TfrmFiltroRecalLancContReceber::nedVrLiquidoFinKeyPress(QObject *, QChar &key)
{
    filterValueKey(nedVrLiquidoFin, key);
}

// List selections ---------------------------------------------------------------------------

void TfrmFiltroRecalLancContReceber::rbtListaClieClick(QObject *)
{
    btnListClie->setEnabled(rbtListaClie->isChecked());
}

void TfrmFiltroRecalLancContReceber::rbtListaFiliOrigClick(QObject *)
{
    btnFiliOrig->setEnabled(rbtListaFiliOrig->isChecked());
}

void TfrmFiltroRecalLancContReceber::rbtListaFiliLancClick(QObject *)
{
    btnFiliLanc->setEnabled(rbtListaFiliLanc->isChecked());
}

void TfrmFiltroRecalLancContReceber::rbtTipoContListaClick(QObject *)
{
    btnTpConta->setEnabled(rbtTipoContLista->isChecked());
}

// A salesman group disabled by the branch keeps its button disabled also when loaded
// options select "Lista".
void TfrmFiltroRecalLancContReceber::rbtVendTodosClick(QObject *)
{
    btnPesqVend->setEnabled(rbtVendLista->isChecked() && rbtVendLista->isEnabled());
}

void TfrmFiltroRecalLancContReceber::rbtVendListaClick(QObject *)
{
    btnPesqVend->setEnabled(rbtVendLista->isChecked() && rbtVendLista->isEnabled());
}

void TfrmFiltroRecalLancContReceber::pickFromQuery(AdoIbQuery *query, DataSource *source, const QString &keyField,
                                                   const QString &titleKey, const QString &emptyKey, QString &list)
{
    // Read afresh at every click: the lists change while the dialog lives.
    query->close();
    query->open();
    if (query->isEmpty())
        fail(emptyKey);
    PesquisaLista(source, keyField, msgPadrao->msg(titleKey), false, list);
}

void TfrmFiltroRecalLancContReceber::btnListClieClick(QObject *)
{
    pickFromQuery(qryCliente, dtsCliente, QStringLiteral("CDCLIENTE"), QStringLiteral("Cliente"),
                  QStringLiteral("Cliente_Empty"), stCliente);
}

void TfrmFiltroRecalLancContReceber::btnFiliOrigClick(QObject *)
{
    pickFromQuery(qryFilial, dtsFilial, QStringLiteral("CDFILIAL"), QStringLiteral("Filial_origem"),
                  QStringLiteral("Filial_Empty"), stFiliOrig);
}

void TfrmFiltroRecalLancContReceber::btnFiliLancClick(QObject *)
{
    pickFromQuery(qryFilial, dtsFilial, QStringLiteral("CDFILIAL"), QStringLiteral("Filial_Lanc"),
                  QStringLiteral("Filial_Empty"), stFiliLanc);
}

void TfrmFiltroRecalLancContReceber::btnPesqVendClick(QObject *)
{
    pickFromQuery(qryVendedor, dtsVendedor, QStringLiteral("CDVENDEDOR"), QStringLiteral("Vendedor"),
                  QStringLiteral("Vendedor_Empty"), stVendedor);
}

void TfrmFiltroRecalLancContReceber::btnTpContaClick(QObject *)
{
    {
        BusyAnimation busy(6);
        cdsTipoCtReceber->setData(callServer(QStringLiteral("GetTipoCtReceber")));
    }
    if (cdsTipoCtReceber->isEmpty())
        fail(QStringLiteral("TipoCont_Empty"));
    PesquisaLista(dtsTipoCtReceber, QStringLiteral("CDTPCTRECEB"), msgPadrao->msg(QStringLiteral("Tipo_Conta")), false,
                  stTpConta);
}

void TfrmFiltroRecalLancContReceber::ADOIBQuery1NRINSJURCLIEGetText(Field *, QString &text, bool)
{
    text = formatMaskText(pictPess(qryClienteIDTPIJURCLIE->asString()), qryClienteNRINSJURCLIE->asString());
}
