#include "Cli_rec00800.h"

#include "PKG_REC00800.h"

#include <erpfwui/screens/btnpesquisa.h>
#include <erpfwui/screens/dialogs.h>
#include <erpfwui/shell/busyindicator.h>
#include <erpfwui/shell/moduleloader.h>
#include <erpfwui/shell/screencursor.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/shell/windowlock.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/keys.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/core/error.h>
#include <erpfw/core/messages.h>
#include <erpfw/core/ptbr.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/core/utils.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/datasource.h>
#include <erpfw/data/field.h>
#include <erpfw/data/keylist.h>
#include <erpfw/db/adoibquery.h>
#include <erpfw/net/netconnection.h>

#include <QColor>
#include <QMainWindow>
#include <QStringBuilder>

#include <utility>

namespace Cli_rec00800 {

QPointer<TfrmRecCont> frmRecCont;
bool boIdCriado = false;

void initialization()
{
    boIdCriado = false;
}

} // namespace Cli_rec00800

using namespace erp;

namespace {

const QString kMarked = QStringLiteral("S");
const QString kUnmarked = QStringLiteral("N");
const QString kMarkField = QStringLiteral("IDMARCADO");
const QString kAccountingScreen = QStringLiteral("CTB10200");
// The mark pictures' background, which lets the cell show through.
const QColor kPictureBackground(128, 128, 0);

// Runs every step even when one fails; the first failure goes on afterwards.
void runAll(std::initializer_list<std::function<void()>> steps)
{
    std::exception_ptr first;
    for (const auto &step : steps) {
        if (std::exception_ptr error = capture(step); error && !first)
            first = error;
    }
    if (first)
        std::rethrow_exception(first);
}

} // namespace

TfrmRecCont::TfrmRecCont(QWidget *parent)
    : TfrmPadrao(parent)
{
}

void TfrmRecCont::bindComponents()
{
    TfrmPadrao::bindComponents();
    panFiltro = component<TPanel>(QStringLiteral("panFiltro"));
    medCdEmpresa = component<TMaskEdit>(QStringLiteral("medCdEmpresa"));
    btpEmpresa = component<TBtnPesquisa>(QStringLiteral("btpEmpresa"));
    edtNmEmpresa = component<TEdit>(QStringLiteral("edtNmEmpresa"));
    sbtFiltro = component<TButtonFlat>(QStringLiteral("sbtFiltro"));
    sbtContab = component<TButtonFlat>(QStringLiteral("sbtContab"));
    mnuFiltro = component<TMenuItem>(QStringLiteral("mnuFiltro"));
    sbtSimular = component<TButtonFlat>(QStringLiteral("sbtSimular"));
    mnuSimular = component<TMenuItem>(QStringLiteral("mnuSimular"));
    // The preview goes with the confirm, whichever way the confirm is enabled or disabled.
    connect(mnuConfirmar, &QAction::enabledChanged, this, [this](bool enabled) {
        mnuSimular->setEnabled(enabled);
        sbtSimular->setEnabled(enabled);
    });
    dbgAjusRec = component<TDBGrid>(QStringLiteral("dbgAjusRec"));
    imgCheck = component<TImage>(QStringLiteral("imgCheck"));
    imgUncheck = component<TImage>(QStringLiteral("imgUncheck"));
    klContMarcadas = component<KeyList>(QStringLiteral("klContMarcadas"));
    lblContagem = component<TLabel>(QStringLiteral("lblContagem"));
    netRecCont = component<NetConnection>(QStringLiteral("netRecCont"));
    // Reads may be cancelled while they wait: a cancelled read leaves the screen as it was.
    netRecCont->describeCall(QStringLiteral("GetContRec"), QStringLiteral("Lendo contas a receber..."), true);
    netRecCont->describeCall(QStringLiteral("GetAjusCont"), QStringLiteral("Lendo ajustes da conta..."), true);
    netRecCont->describeCall(QStringLiteral("GetTipoCtReceber"), QStringLiteral("Lendo tipos de conta a receber..."), true);
    netRecCont->describeCall(QStringLiteral("GetGeralRec"), QStringLiteral("Lendo parâmetros gerais..."), true);
    netRecCont->describeCall(QStringLiteral("GetParamFilial"), QStringLiteral("Lendo parâmetros da filial..."), true);
    netRecCont->describeCall(QStringLiteral("GetParExp"), QStringLiteral("Lendo parâmetros de exportação..."), true);
    netRecCont->describeCall(QStringLiteral("SetConfirmar"), QStringLiteral("Recalculando a contabilização..."), false);
    netRecCont->describeCall(QStringLiteral("SimConfirmar"), QStringLiteral("Simulando o recálculo..."), true);
    cdsContRec = component<ClientDataSet>(QStringLiteral("cdsContRec"));
    cdsAjusCont = component<ClientDataSet>(QStringLiteral("cdsAjusCont"));
    cdsLancContTemp = component<ClientDataSet>(QStringLiteral("cdsLancContTemp"));
    cdsRateio = component<ClientDataSet>(QStringLiteral("cdsRateio"));
    cdsErrosTemp = component<ClientDataSet>(QStringLiteral("cdsErrosTemp"));
    dtsAjusCont = component<DataSource>(QStringLiteral("dtsAjusCont"));
    qryEmpresa = component<AdoIbQuery>(QStringLiteral("qryEmpresa"));
    dtsEmpresa = component<DataSource>(QStringLiteral("dtsEmpresa"));

    cdsContRecIDMARCADO = cdsContRec->fieldByName(kMarkField);
    cdsContRecDTATUAVENREC = cdsContRec->fieldByName(u"DTATUAVENREC");
    cdsContRecNRPARCELAREC = cdsContRec->fieldByName(u"NRPARCELAREC");
    cdsContRecVRATUAREC = cdsContRec->fieldByName(u"VRATUAREC");
    cdsContRecDOCUMENTO = cdsContRec->fieldByName(u"DOCUMENTO");
    cdsContRecCDSERIE = cdsContRec->fieldByName(u"CDSERIE");
    cdsContRecNRNOTAFISC = cdsContRec->fieldByName(u"NRNOTAFISC");
    cdsContRecCDFILIAL = cdsContRec->fieldByName(u"CDFILIAL");
    cdsContRecNRLANCTONF = cdsContRec->fieldByName(u"NRLANCTONF");
    cdsContRecNRSEQVENREC = cdsContRec->fieldByName(u"NRSEQVENREC");
    cdsContRecDSCONTAREC = cdsContRec->fieldByName(u"DSCONTAREC");
    cdsContRecDSTPCTRECEB = cdsContRec->fieldByName(u"DSTPCTRECEB");
    cdsContRecIDCONTA = cdsContRec->fieldByName(u"IDCONTA");
    cdsContRecNRLANCTBDOC = cdsContRec->fieldByName(u"NRLANCTBDOC");
    cdsAjusContCDAJUCTREC = cdsAjusCont->fieldByName(u"CDAJUCTREC");
    cdsAjusContDSAJUCTREC = cdsAjusCont->fieldByName(u"DSAJUCTREC");
    cdsAjusContNRLCTBAJREC = cdsAjusCont->fieldByName(u"NRLCTBAJREC");
}

QVariant TfrmRecCont::callServer(const QString &method, const QVariantList &params)
{
    return checkResultServ(netRecCont->call(method, params), true, 0);
}

QString TfrmRecCont::company() const
{
    return medCdEmpresa->text();
}

NetConnection *TfrmRecCont::connection() const
{
    return netRecCont;
}

void TfrmRecCont::loadAccounts(const QVariant &packet)
{
    cdsContRec->setData(packet);
}

// ---- lifecycle

void TfrmRecCont::FormActivate(QObject *)
{
    repaint();
    netRecCont->open();
    klContMarcadas->clear();
    focusControl(medCdEmpresa);
}

void TfrmRecCont::FormClose(QObject *sender, CloseAction &action)
{
    TfrmPadrao::FormClose(sender, action);
    Cli_rec00800::boIdCriado = false;
    netRecCont->close();
    klContMarcadas->clear();
}

void TfrmRecCont::netRecContBeforeConnect(QObject *)
{
    netRecCont->setHost(webUrl());
    netRecCont->setPort(webPort());
}

// ---- company

void TfrmRecCont::Vd_Empresa(bool required)
{
    try {
        if (emptyString(medCdEmpresa->text())) {
            if (required) {
                focusControl(medCdEmpresa);
                mensErro(msgPadrao->msg(QStringLiteral("Emp_Deve")), true);
            }
            return;
        }
        medCdEmpresa->setText(ajusta(medCdEmpresa->text(), 2));
        qryEmpresa->close();
        qryEmpresa->paramByName(QStringLiteral("P_CDEMPRESA"))->setAsString(medCdEmpresa->text());
        qryEmpresa->open();
        if (qryEmpresa->isEmpty()) {
            focusControl(medCdEmpresa);
            mensErro(msgPadrao->msg(QStringLiteral("Emp_Nc")), true);
        }
        edtNmEmpresa->setText(qryEmpresa->query()->fieldByName(u"NMEMPRESA")->asString());
    } catch (...) {
        focusControl(medCdEmpresa);
        throw;
    }
}

void TfrmRecCont::btpEmpresaBeforePesq(QObject *, bool &)
{
    qryEmpresa->close();
    qryEmpresa->paramByName(QStringLiteral("P_CDEMPRESA"))->clear();
    qryEmpresa->open();
}

void TfrmRecCont::btpEmpresaAfterPesq(QObject *)
{
    ClientDataSet *companies = qryEmpresa->query();
    medCdEmpresa->setText(companies->fieldByName(u"CDEMPRESA")->asString());
    edtNmEmpresa->setText(companies->fieldByName(u"NMEMPRESA")->asString());
}

void TfrmRecCont::medCdEmpresaChange(QObject *)
{
    edtNmEmpresa->clear();
}

void TfrmRecCont::medCdEmpresaExit(QObject *)
{
    Vd_Empresa(false);
}

void TfrmRecCont::panFiltroEnter(QObject *)
{
    sbtFiltro->setEnabled(false);
    mnuFiltro->setEnabled(sbtFiltro->isEnabled());
    cdsContRec->close();
    pgcPadrao->setActivePage(tshFolhaDados);
    tshFormulario->setEnabled(false);
    sbtContab->setEnabled(false);
    focusControl(medCdEmpresa);
}

void TfrmRecCont::panFiltroExit(QObject *)
{
    Vd_Empresa(true);
    CriaFiltroRecalLancContReceber(QStringLiteral("ESCONDE_FILTRO"));
    sbtFiltro->setEnabled(true);
    mnuFiltro->setEnabled(sbtFiltro->isEnabled());
    sbtContab->setEnabled(true);
}

// ---- commands

void TfrmRecCont::sbtFiltroClick(QObject *)
{
    CriaFiltroRecalLancContReceber(QStringLiteral("BOTAO_FILTRO"));
}

void TfrmRecCont::sbtVerificarClick(QObject *)
{
    CriaFiltroRecalLancContReceber(QStringLiteral("ESCONDE_FILTRO"));
}

void TfrmRecCont::sbtProcurarClick(QObject *)
{
    DataSource *source = pgcPadrao->activePage() == tshFolhaDados ? dtsPadrao : dtsAjusCont;
    ClientDataSet *dataSet = source->dataSet();
    if (dataSet && dataSet->active())
        Procura(dataSet);
}

void TfrmRecCont::Bot_Confirma()
{
    mnuConfirmar->setEnabled(klContMarcadas->count() > 0);
    sbtConfirmar->setEnabled(mnuConfirmar->isEnabled());
    showCounts();
}

void TfrmRecCont::showCounts()
{
    if (cdsContRec->controlsDisabled())
        return;
    if (!cdsContRec->active()) {
        lblContagem->clear();
        return;
    }
    const int listed = cdsContRec->recordCount();
    const int marked = klContMarcadas->count();
    const auto number = [](int n) { return formatFloat(QStringLiteral("#,##0"), n); };
    lblContagem->setText(QStringLiteral("%1 %2, %3 %4")
                             .arg(number(listed), listed == 1 ? QStringLiteral("conta") : QStringLiteral("contas"),
                                  number(marked), marked == 1 ? QStringLiteral("marcada") : QStringLiteral("marcadas")));
}

void TfrmRecCont::dtsPadraoStateChange(QObject *)
{
    cdsContRecAfterPost(cdsContRec);
    Bot_Confirma();
    updateBaseCommands();
    tshFormulario->setEnabled(!cdsContRec->isEmpty());
}

// ---- the account list and its marks

QString TfrmRecCont::accountKey() const
{
    return cdsContRecCDFILIAL->asString() + cdsContRecNRPARCELAREC->asString() + cdsContRecNRLANCTONF->asString()
           + cdsContRecNRSEQVENREC->asString();
}

void TfrmRecCont::cdsContRecAfterPost(ClientDataSet *)
{
    if (cdsContRecIDMARCADO->asString() == kMarked)
        klContMarcadas->add(accountKey(), 0);
    else
        klContMarcadas->remove(accountKey());
    Bot_Confirma();
}

void TfrmRecCont::cdsContRecAfterOpen(ClientDataSet *)
{
    klContMarcadas->clear();
    showCounts();
}

void TfrmRecCont::cdsContRecAfterClose(ClientDataSet *)
{
    klContMarcadas->clear();
    Bot_Confirma();
}

void TfrmRecCont::dbgPadraoDrawColumnCell(QObject *, QRect rect, int, GridColumn *column, GridDrawState)
{
    if (cdsContRec->isEmpty() || cdsContRec->state() != ClientDataSet::State::Browse)
        return;
    const TImage *image = cdsContRecIDMARCADO->asString() == kMarked ? imgCheck : imgUncheck;
    if (column && column->fieldName() == kMarkField)
        InsereImagem(dbgPadrao, rect, image->picture(), kPictureBackground);
}

void TfrmRecCont::dbgPadraoDblClick(QObject *)
{
    if (cdsContRec->isEmpty())
        return;
    cdsContRec->edit();
    cdsContRecIDMARCADO->setValue(cdsContRecIDMARCADO->asString() == kMarked ? kUnmarked : kMarked);
    cdsContRec->post();
}

void TfrmRecCont::dbgPadraoKeyDown(QObject *sender, int &key, ShiftState shift)
{
    TfrmPadrao::dbgPadraoKeyDown(sender, key, shift);
    if (key == VK_SPACE)
        dbgPadraoDblClick(dbgPadrao);
}

void TfrmRecCont::dbgPadraoTitleClick(GridColumn *column)
{
    // A closed list (the company panel has the focus) has nothing to mark.
    if (!column || column->fieldName() != kMarkField || !cdsContRec->active())
        return;
    cdsContRec->disableControls();
    const ClientDataSet::Handler afterScroll = std::exchange(cdsContRec->afterScroll, nullptr);
    const std::exception_ptr error = capture([&] {
        const bool unmark = klContMarcadas->count() > 0;
        const QString question = unmark ? QStringLiteral("DESMARCA_CONTA") : QStringLiteral("MARCA_CONTA");
        if (msgPadrao->showMsg(question, DialogType::Confirmation, Buttons(Button::Yes) | Button::No, 0) == Button::Yes) {
            repaint();
            const QString from = unmark ? kMarked : kUnmarked;
            const QString to = unmark ? kUnmarked : kMarked;
            cdsContRec->first();
            while (!cdsContRec->eof()) {
                if (cdsContRecIDMARCADO->asString() == from) {
                    cdsContRec->edit();
                    cdsContRecIDMARCADO->setValue(to);
                    cdsContRec->post();
                }
                cdsContRec->next();
            }
        }
        dtsPadraoStateChange(dtsPadrao);
    });
    runAll({[&] { cdsContRec->afterScroll = afterScroll; },
            [&] {
                if (cdsContRec->state() != ClientDataSet::State::Browse) // a refused post leaves its edit behind
                    cdsContRec->cancel();
                cdsContRec->first();
            },
            [&] { cdsContRec->enableControls(); }});
    if (error)
        std::rethrow_exception(error);
    cdsContRecAfterPost(cdsContRec);
}

// ---- calculated fields and adjustments

void TfrmRecCont::cdsContRecCalcFields(ClientDataSet *)
{
    if (cdsContRec->state() != ClientDataSet::State::Edit) {
        const QString description = emptyString(cdsContRecDSCONTAREC->asString()) ? cdsContRecDSTPCTRECEB->asString()
                                                                                   : cdsContRecDSCONTAREC->asString();
        // built in one piece: every row the grid or the label shows computes it
        const QString id = msgPadrao->msg(QStringLiteral("Filial")) % cdsContRecCDFILIAL->asString()
                           % QStringLiteral(" - ") % msgPadrao->msg(QStringLiteral("Conta"))
                           % cdsContRecNRSEQVENREC->asString() % QLatin1Char('.')
                           % cdsContRecNRPARCELAREC->asString() % QLatin1Char(' ')
                           % formatDate(cdsContRecDTATUAVENREC->asDate()) % QLatin1Char(' ')
                           % cdsContRecVRATUAREC->text() % QLatin1Char(' ') % description;
        cdsContRecIDCONTA->setValue(id);
    }
    if (emptyString(cdsContRecCDSERIE->asString()))
        cdsContRecDOCUMENTO->setValue(cdsContRecNRNOTAFISC->asString());
    else
        cdsContRecDOCUMENTO->setValue(QString(cdsContRecNRNOTAFISC->asString() % QLatin1Char('/') % cdsContRecCDSERIE->asString()));
}

void TfrmRecCont::cdsContRecAfterScroll(ClientDataSet *)
{
    const QVariant adjustments = callServer(QStringLiteral("GetAjusCont"),
                                            {cdsContRecCDFILIAL->asString(), cdsContRecNRLANCTONF->asString(),
                                             cdsContRecNRSEQVENREC->asString(), cdsContRecNRPARCELAREC->asString()});
    cdsAjusCont->setData(adjustments);
}

void TfrmRecCont::cdsAjusContIDAJUCTRECGetText(Field *sender, QString &text, bool)
{
    const QString direction = sender->asString();
    if (direction == QLatin1String("D"))
        text = msgPadrao->msg(QStringLiteral("Desc"));
    else if (direction == QLatin1String("A"))
        text = msgPadrao->msg(QStringLiteral("Acres"));
    else
        text.clear();
}

void TfrmRecCont::cdsAjusContCDAJUCTRECGetText(Field *, QString &text, bool)
{
    if (!emptyString(cdsAjusContCDAJUCTREC->asString()))
        text = cdsAjusContDSAJUCTREC->asString();
    else
        text.clear();
}

// ---- recalculation and accounting

QVariantList TfrmRecCont::accountingParams(const QString &postingNumber) const
{
    return {medCdEmpresa->text(), postingNumber, cdsLancContTemp->data(), cdsRateio->data(), cdsErrosTemp->data()};
}

void TfrmRecCont::restoreAfterConfirm()
{
    runAll({[&] { cdsContRec->enableControls(); }, [] { LockWindowUpdate(nullptr); }, [] { DeactiveShowAvi(); },
            [&] {
                mnuConfirmar->setEnabled(false);
                sbtConfirmar->setEnabled(mnuConfirmar->isEnabled());
            }});
}

QVariantList TfrmRecCont::recalculation(const QString &method, int elements)
{
    const QVariantList parts
        = callServer(method, {cdsContRec->data(), operador(), medCdEmpresa->text()}).toList();
    if (parts.size() != elements)
        throw Error(QStringLiteral("O servidor %1 respondeu a %2 com %3 elementos em vez de %4.")
                        .arg(netRecCont->serverName(), method)
                        .arg(parts.size())
                        .arg(elements));
    const QString status = parts[0].toString();
    if (!emptyString(status) && status != QLatin1String("OK"))
        mensErro(status, true);
    return parts;
}

void TfrmRecCont::sbtConfirmarClick(QObject *sender)
{
    TfrmPadrao::sbtConfirmarClick(sender);
    try {
        ActiveShowAvi(shellMainWindow(), 1);
        cdsContRec->disableControls();
        LockWindowUpdate(this);
        ActiveShowAvi(shellMainWindow(), 6);
        const QVariantList parts = recalculation(QStringLiteral("SetConfirmar"), 4);
        cdsLancContTemp->setData(parts[1]);
        cdsRateio->setData(parts[2]);
        cdsErrosTemp->setData(parts[3]);
        DeactiveShowAvi();
        if (!cdsErrosTemp->isEmpty()) {
            LoadBPL(kAccountingScreen, accountingParams(QString()));
            abortSilently();
        }
        restoreAfterConfirm();
        CriaFiltroRecalLancContReceber(QStringLiteral("ESCONDE_FILTRO"));
        msgPadrao->showMsg(QStringLiteral("ReCt_Suc"), DialogType::Information, Button::OK, 0);
    } catch (...) {
        restoreAfterConfirm();
        throw;
    }
    restoreAfterConfirm();
}

void TfrmRecCont::sbtSimularClick(QObject *sender)
{
    TfrmPadrao::sbtConfirmarClick(sender); // an edit under way goes into the list first
    HourglassCursor hourglass;
    const QVariantList parts = recalculation(QStringLiteral("SimConfirmar"), 5);
    LoadBPL(kAccountingScreen, {medCdEmpresa->text(), QString(), parts[1], parts[2], parts[3], parts[4]});
}

void TfrmRecCont::sbtContabClick(QObject *)
{
    for (ClientDataSet *temporary : {cdsLancContTemp, cdsRateio, cdsErrosTemp})
        if (temporary->active())
            temporary->emptyDataSet();
    const QString postingNumber = pgcPadrao->activePage() == tshFolhaDados ? cdsContRecNRLANCTBDOC->asString()
                                                                            : cdsAjusContNRLCTBAJREC->asString();
    LoadBPL(kAccountingScreen, accountingParams(postingNumber));
}
