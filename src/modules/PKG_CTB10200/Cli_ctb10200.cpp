#include "Cli_ctb10200.h"

#include "ctb10200report.h"

#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/core/error.h>
#include <erpfw/core/messages.h>
#include <erpfw/core/ptbr.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/db/adoibquery.h>

#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

#include <cmath>
#include <memory>

using erp::Error;
using erp::wire::FieldDef;
using erp::wire::Packet;

namespace {

const char *const kParamNames[] = {"empresa", "lançamento", "lançamentos temporários", "rateio", "erros", "diferenças"};

QString paramName(int index)
{
    return QString::fromUtf8(kParamNames[index]);
}

QString typeOf(const QVariant &value)
{
    return value.isValid() ? QString::fromLatin1(value.typeName()) : QStringLiteral("nulo");
}

QString textParam(const QVariantList &params, int index)
{
    const QVariant &value = params.at(index);
    if (value.typeId() != QMetaType::QString)
        throw Error(QStringLiteral("Tela CTB10200: o parâmetro %1 (%2) deve ser um texto, mas é %3.")
                        .arg(index)
                        .arg(paramName(index), typeOf(value)));
    return value.toString().trimmed();
}

Packet packetParam(const QVariantList &params, int index)
{
    const QVariant &value = params.at(index);
    if (value.typeId() != qMetaTypeId<Packet>())
        throw Error(QStringLiteral("Tela CTB10200: o parâmetro %1 (%2) deve ser um pacote de dados, mas é %3.")
                        .arg(index)
                        .arg(paramName(index), typeOf(value)));
    return value.value<Packet>();
}

// The packet laid out as the dataset takes it. A dataset that was never opened hands over a
// packet without fields: that is no rows, not a fault.
Packet fitted(const erp::ClientDataSet &target, const Packet &packet, int param)
{
    const QList<FieldDef> defs = target.dataFieldDefs();
    if (packet.fieldCount() == 0 && packet.isEmpty())
        return Packet(defs);
    try {
        return erp::wire::fitPacket(packet, defs, target.objectName());
    } catch (const erp::wire::WireError &e) {
        throw Error(QStringLiteral("Tela CTB10200, parâmetro %1 (%2): %3")
                        .arg(param)
                        .arg(paramName(param), e.message()));
    }
}

qint64 cents(double value)
{
    return std::llround(value * 100.0);
}

QString money(qint64 cents)
{
    return erp::formatFloat(QStringLiteral("#,##0.00"), double(cents) / 100.0);
}

} // namespace

namespace Cli_ctb10200 {

QPointer<TfrmCTB10200> frmCTB10200;

Handover Handover::fromParams(const QVariantList &params)
{
    if (params.size() != 5 && params.size() != 6)
        throw Error(QStringLiteral("A tela CTB10200 recebe 5 parâmetros (empresa, lançamento, lançamentos "
                                   "temporários, rateio e erros), ou 6 com as diferenças de uma simulação, "
                                   "mas recebeu %1.")
                        .arg(params.size()));
    Handover h;
    h.company = textParam(params, 0);
    h.posting = textParam(params, 1);
    h.entries = packetParam(params, 2);
    h.shares = packetParam(params, 3);
    h.errors = packetParam(params, 4);
    if (params.size() == 6)
        h.differences = packetParam(params, 5);
    return h;
}

bool Handover::hasNoRows() const
{
    return entries.isEmpty() && shares.isEmpty() && errors.isEmpty() && (!differences || differences->isEmpty());
}

void CriaCTB10200(const Handover &handover)
{
    if (frmCTB10200) {
        frmCTB10200->display(handover);
        erp::showScreen(frmCTB10200);
    } else {
        std::unique_ptr<TfrmCTB10200> screen(erp::createForm<TfrmCTB10200>());
        screen->display(handover);
        erp::showScreen(screen.get());
        frmCTB10200 = screen.release(); // the shell's MDI area holds it now
        erp::keepInView(frmCTB10200);
    }
    frmCTB10200->focusActiveGrid();
}

} // namespace Cli_ctb10200

struct TfrmCTB10200::Content
{
    enum class Source { Nothing, Temporary, Stored, NotFound, Preview };
    Source source = Source::Nothing;
    QString company;
    QString companyName;
    QString posting;
    Packet entries;
    Packet shares;
    Packet errors;
    Packet differences;
    QHash<QString, QString> descriptions;
};

TfrmCTB10200::TfrmCTB10200(QWidget *parent)
    : erp::Form(parent)
{
}

void TfrmCTB10200::bindComponents()
{
    edtCdEmpresa = component<erp::TEdit>(QStringLiteral("edtCdEmpresa"));
    edtNmEmpresa = component<erp::TEdit>(QStringLiteral("edtNmEmpresa"));
    edtNrLancto = component<erp::TEdit>(QStringLiteral("edtNrLancto"));
    lblOrigem = component<erp::TLabel>(QStringLiteral("lblOrigem"));
    lblTotDebito = component<erp::TLabel>(QStringLiteral("lblTotDebito"));
    lblTotCredito = component<erp::TLabel>(QStringLiteral("lblTotCredito"));
    lblDiferenca = component<erp::TLabel>(QStringLiteral("lblDiferenca"));
    btnFechar = component<erp::TButton>(QStringLiteral("btnFechar"));
    pgcCTB10200 = component<erp::TPageControl>(QStringLiteral("pgcCTB10200"));
    tshLancamentos = component<erp::TTabSheet>(QStringLiteral("tshLancamentos"));
    tshRateio = component<erp::TTabSheet>(QStringLiteral("tshRateio"));
    tshErros = component<erp::TTabSheet>(QStringLiteral("tshErros"));
    lblSemLancamentos = component<erp::TLabel>(QStringLiteral("lblSemLancamentos"));
    lblSemRateio = component<erp::TLabel>(QStringLiteral("lblSemRateio"));
    lblSemErros = component<erp::TLabel>(QStringLiteral("lblSemErros"));
    tshDiferencas = component<erp::TTabSheet>(QStringLiteral("tshDiferencas"));
    chkSoAlteradas = component<erp::TCheckBox>(QStringLiteral("chkSoAlteradas"));
    lblSemDiferencas = component<erp::TLabel>(QStringLiteral("lblSemDiferencas"));
    lblDifAntes = component<erp::TLabel>(QStringLiteral("lblDifAntes"));
    lblDifDepois = component<erp::TLabel>(QStringLiteral("lblDifDepois"));
    dbgDiferencas = component<erp::TDBGrid>(QStringLiteral("dbgDiferencas"));
    cdsDiferencas = component<erp::ClientDataSet>(QStringLiteral("cdsDiferencas"));
    dbgLancamentos = component<erp::TDBGrid>(QStringLiteral("dbgLancamentos"));
    dbgRateio = component<erp::TDBGrid>(QStringLiteral("dbgRateio"));
    dbgErros = component<erp::TDBGrid>(QStringLiteral("dbgErros"));
    cdsLancContTemp = component<erp::ClientDataSet>(QStringLiteral("cdsLancContTemp"));
    cdsRateio = component<erp::ClientDataSet>(QStringLiteral("cdsRateio"));
    cdsErrosTemp = component<erp::ClientDataSet>(QStringLiteral("cdsErrosTemp"));
    qryEmpresa = component<erp::AdoIbQuery>(QStringLiteral("qryEmpresa"));
    qryErros = component<erp::AdoIbQuery>(QStringLiteral("qryErros"));
    qryLancamento = component<erp::AdoIbQuery>(QStringLiteral("qryLancamento"));
    qryRateio = component<erp::AdoIbQuery>(QStringLiteral("qryRateio"));
    msgCTB10200 = component<erp::Messages>(QStringLiteral("msgCTB10200"));
    m_report = new Ctb10200Report(this);

    // A stored posting is read straight into the shape of the hand-over's datasets.
    for (const auto &[query, dataSet] : {std::pair{qryLancamento, cdsLancContTemp}, std::pair{qryRateio, cdsRateio}})
        for (const FieldDef &d : dataSet->dataFieldDefs())
            query->query()->addField(d.name, d.type, d.size);
}

void TfrmCTB10200::display(const Cli_ctb10200::Handover &handover)
{
    apply(prepare(handover));
}

TfrmCTB10200::Content TfrmCTB10200::prepare(const Cli_ctb10200::Handover &handover)
{
    Content c;
    c.company = handover.company;
    c.posting = handover.posting;
    c.entries = fitted(*cdsLancContTemp, handover.entries, 2);
    c.shares = fitted(*cdsRateio, handover.shares, 3);
    c.errors = fitted(*cdsErrosTemp, handover.errors, 4);
    c.differences = fitted(*cdsDiferencas, handover.differences.value_or(Packet()), 5);
    c.companyName = companyName(handover.company);
    if (handover.differences) {
        c.source = Content::Source::Preview;
    } else if (!handover.hasNoRows()) {
        c.source = Content::Source::Temporary;
    } else if (!handover.posting.isEmpty()) {
        c.entries = stored(qryLancamento, handover);
        c.shares = stored(qryRateio, handover);
        c.source = c.entries.isEmpty() ? Content::Source::NotFound : Content::Source::Stored;
    }
    if (!c.errors.isEmpty())
        c.descriptions = errorDescriptions();
    return c;
}

QString TfrmCTB10200::companyName(const QString &company)
{
    if (company.isEmpty())
        return QString();
    qryEmpresa->close();
    qryEmpresa->paramByName(QStringLiteral("CDEMPRESA"))->setValue(company);
    qryEmpresa->open();
    const QString name = qryEmpresa->isEmpty() ? msgCTB10200->msg(QStringLiteral("Emp_NaoCad"))
                                               : qryEmpresa->query()->fieldByName(u"NMEMPRESA")->asString();
    qryEmpresa->close();
    return name;
}

QHash<QString, QString> TfrmCTB10200::errorDescriptions()
{
    qryErros->close();
    qryErros->open();
    const Packet rows = qryErros->query()->packet();
    qryErros->close();
    const int code = rows.indexOf(u"CDERROCTB");
    const int text = rows.indexOf(u"DSERROCTB");
    QHash<QString, QString> descriptions;
    for (int r = 0; r < rows.rowCount(); ++r)
        descriptions.insert(rows.string(r, code).trimmed(), rows.string(r, text));
    return descriptions;
}

Packet TfrmCTB10200::stored(erp::AdoIbQuery *query, const Cli_ctb10200::Handover &handover)
{
    query->close();
    query->paramByName(QStringLiteral("NRLANCCTB"))->setValue(handover.posting);
    query->paramByName(QStringLiteral("CDEMPRESA"))->setValue(handover.company);
    query->open();
    const Packet rows = query->query()->packet();
    query->close();
    return rows;
}

void TfrmCTB10200::apply(const Content &c)
{
    using Source = Content::Source;
    const auto msg = [this](const char *key) { return msgCTB10200->msg(QString::fromLatin1(key)); };

    edtCdEmpresa->setText(c.company);
    edtNmEmpresa->setText(c.companyName);
    edtNrLancto->setText(c.posting);

    m_descriptions = c.descriptions;
    m_entries.clear();
    const int seq = c.entries.indexOf(u"NRSEQCTBTEMP");
    const int ledger = c.entries.indexOf(u"CDCONTCTBL");
    const int commercial = c.entries.indexOf(u"CDLANCCTBCOME");
    for (int r = 0; r < c.entries.rowCount(); ++r)
        m_entries.insert(c.entries.string(r, seq).trimmed(), {c.entries.string(r, ledger), c.entries.string(r, commercial)});

    cdsLancContTemp->setPacket(c.entries);
    cdsRateio->setPacket(c.shares);
    cdsErrosTemp->setPacket(c.errors);
    m_differences = c.differences;

    switch (c.source) {
    case Source::Temporary:
        lblOrigem->setText(msg(c.errors.isEmpty() ? "Orig_Temp" : "Orig_TempErro"));
        break;
    case Source::Preview:
        lblOrigem->setText(msg(c.errors.isEmpty() ? "Orig_Sim" : "Orig_SimErro"));
        break;
    case Source::Stored:
        lblOrigem->setText(msg("Orig_Grav").arg(c.posting,
                                                erp::formatDate(c.entries.date(0, c.entries.indexOf(u"DTLANCCTBTEMP")))));
        break;
    case Source::NotFound:
    case Source::Nothing:
        lblOrigem->clear(); // the entries' page says it
        break;
    }
    lblSemLancamentos->setText(c.source == Source::NotFound ? msg("Lanc_NaoEnc").arg(c.posting) : msg("Lanc_Nenhum"));
    lblSemLancamentos->setVisible(c.entries.isEmpty());
    lblSemRateio->setText(msg("Rat_Nenhum"));
    lblSemRateio->setVisible(c.shares.isEmpty());
    lblSemErros->setText(msg("Erro_Nenhum"));
    lblSemErros->setVisible(c.errors.isEmpty());

    tshLancamentos->setCaption(msg("Tab_Lanc").arg(c.entries.rowCount()));
    tshRateio->setCaption(msg("Tab_Rat").arg(c.shares.rowCount()));
    tshErros->setCaption(msg("Tab_Erro").arg(c.errors.rowCount()));
    const bool preview = c.source == Source::Preview;
    pgcCTB10200->setTabVisible(pgcCTB10200->indexOf(tshDiferencas), preview);
    showDifferences();
    pgcCTB10200->setActivePage(preview ? tshDiferencas : c.errors.isEmpty() ? tshLancamentos : tshErros);
    showTotals();
}

void TfrmCTB10200::showDifferences()
{
    const bool changedOnly = chkSoAlteradas->isChecked();
    const int status = m_differences.indexOf(u"IDSITUACAO");
    const Packet shown = m_differences.rowsWhere(
        [&](int r) { return !changedOnly || m_differences.string(r, status) != QLatin1String("igual"); });
    cdsDiferencas->setPacket(shown);

    qint64 totals[4] = {};
    const int columns[4] = {shown.indexOf(u"VRDEBANT"), shown.indexOf(u"VRCREDANT"), shown.indexOf(u"VRDEBNOVO"),
                            shown.indexOf(u"VRCREDNOVO")};
    for (int r = 0; r < shown.rowCount(); ++r)
        for (int i = 0; i < 4; ++i)
            totals[i] += cents(shown.number(r, columns[i]));
    const auto msg = [this](const char *key) { return msgCTB10200->msg(QString::fromLatin1(key)); };
    lblDifAntes->setText(msg("Dif_Antes").arg(money(totals[0]), money(totals[1])));
    lblDifDepois->setText(msg("Dif_Depois").arg(money(totals[2]), money(totals[3])));
    lblSemDiferencas->setText(m_differences.isEmpty() ? msg("Dif_Nenhuma") : msg("Dif_Iguais"));
    lblSemDiferencas->setVisible(shown.isEmpty());
    tshDiferencas->setCaption(msg("Tab_Dif").arg(shown.rowCount()));
}

void TfrmCTB10200::chkSoAlteradasClick(QObject *)
{
    showDifferences();
}

void TfrmCTB10200::showTotals()
{
    const Packet entries = cdsLancContTemp->packet();
    const int side = entries.indexOf(u"IDLANCCTBCOME");
    const int value = entries.indexOf(u"VRLANCCTBTEMP");
    qint64 debits = 0;
    qint64 credits = 0;
    for (int r = 0; r < entries.rowCount(); ++r) {
        const QString s = entries.string(r, side).trimmed().toUpper();
        if (s == QLatin1String("D"))
            debits += cents(entries.number(r, value));
        else if (s == QLatin1String("C"))
            credits += cents(entries.number(r, value));
    }
    lblTotDebito->setText(msgCTB10200->msg(QStringLiteral("Tot_Deb")).arg(money(debits)));
    lblTotCredito->setText(msgCTB10200->msg(QStringLiteral("Tot_Cred")).arg(money(credits)));
    lblDiferenca->setText(msgCTB10200->msg(QStringLiteral("Tot_Dif")).arg(money(debits - credits)));
    lblDiferenca->setVisible(debits != credits);
}

void TfrmCTB10200::focusActiveGrid()
{
    erp::TTabSheet *page = pgcCTB10200->activePage();
    erp::focusControl(page == tshErros        ? dbgErros
                      : page == tshRateio     ? dbgRateio
                      : page == tshDiferencas ? dbgDiferencas
                                              : dbgLancamentos);
}

void TfrmCTB10200::FormClose(QObject *, erp::CloseAction &action)
{
    action = erp::CloseAction::Free;
    // A hand-over that comes before the deletion gets a new screen.
    if (Cli_ctb10200::frmCTB10200 == this)
        Cli_ctb10200::frmCTB10200 = nullptr;
}

void TfrmCTB10200::btnFecharClick(QObject *)
{
    close();
}

QString TfrmCTB10200::askFile(const char *titleKey, const QString &suffix, const QString &filter)
{
    const QString name = QStringLiteral("CTB10200-%1%2.%3")
                             .arg(edtCdEmpresa->text(), edtNrLancto->text().isEmpty() ? QString() : QLatin1Char('-') + edtNrLancto->text(), suffix);
    return QFileDialog::getSaveFileName(this, msgCTB10200->msg(QString::fromLatin1(titleKey)), name, filter);
}

void TfrmCTB10200::btnImprimirClick(QObject *)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setDocName(msgCTB10200->msg(QStringLiteral("Rel_Titulo")));
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted)
        m_report->print(&printer);
}

void TfrmCTB10200::btnSalvarPdfClick(QObject *)
{
    const QString path = askFile("Rel_Pdf", QStringLiteral("pdf"), QStringLiteral("Documento PDF (*.pdf)"));
    if (!path.isEmpty())
        m_report->writePdf(path);
}

void TfrmCTB10200::btnExportarCsvClick(QObject *)
{
    const QString path = askFile("Rel_Csv", QStringLiteral("csv"), QStringLiteral("Planilha CSV (*.csv)"));
    if (!path.isEmpty())
        m_report->writeCsv(path);
}

void TfrmCTB10200::cdsErrosTempCalcFields(erp::ClientDataSet *dataSet)
{
    const QString code = dataSet->fieldByName(u"CDERROTEMP")->asString().trimmed();
    dataSet->fieldByName(u"DSERROCTB")
        ->setValue(m_descriptions.value(code, msgCTB10200->msg(QStringLiteral("Erro_SemDesc"))));
    const EntryRef entry = m_entries.value(dataSet->fieldByName(u"NRSEQCTBTEMP")->asString().trimmed());
    dataSet->fieldByName(u"CDCONTCTBL")->setValue(entry.ledger);
    dataSet->fieldByName(u"CDLANCCTBCOME")->setValue(entry.commercial);
}
