#include "Cli_ctb10300.h"

#include <erpfwui/shell/printout.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/events.h>

#include <erpfw/core/error.h>
#include <erpfw/core/messages.h>
#include <erpfw/core/ptbr.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/field.h>
#include <erpfw/net/netconnection.h>

#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>

#include <cmath>
#include <memory>

using erp::wire::Packet;

namespace {

QString money(qint64 cents)
{
    return erp::formatFloat(QStringLiteral("#,##0.00"), double(cents) / 100.0);
}

} // namespace

namespace Cli_ctb10300 {

QPointer<TfrmCTB10300> frmCTB10300;

void CriaCTB10300()
{
    if (!frmCTB10300) {
        std::unique_ptr<TfrmCTB10300> screen(erp::createForm<TfrmCTB10300>());
        erp::showScreen(screen.get());
        frmCTB10300 = screen.release(); // the shell's MDI area holds it now
        erp::keepInView(frmCTB10300);
        frmCTB10300->search();
    } else {
        erp::showScreen(frmCTB10300);
    }
    frmCTB10300->focusList();
}

} // namespace Cli_ctb10300

TfrmCTB10300::TfrmCTB10300(QWidget *parent)
    : erp::Form(parent)
{
}

void TfrmCTB10300::bindComponents()
{
    medCdEmpresa = component<erp::TMaskEdit>(QStringLiteral("medCdEmpresa"));
    depInicio = component<erp::TDateEditPlus>(QStringLiteral("depInicio"));
    depFim = component<erp::TDateEditPlus>(QStringLiteral("depFim"));
    edtOperador = component<erp::TEdit>(QStringLiteral("edtOperador"));
    lblResumo = component<erp::TLabel>(QStringLiteral("lblResumo"));
    lblTotais = component<erp::TLabel>(QStringLiteral("lblTotais"));
    chkSoAlteradas = component<erp::TCheckBox>(QStringLiteral("chkSoAlteradas"));
    dbgRecalculos = component<erp::TDBGrid>(QStringLiteral("dbgRecalculos"));
    dbgContas = component<erp::TDBGrid>(QStringLiteral("dbgContas"));
    cdsRecalculos = component<erp::ClientDataSet>(QStringLiteral("cdsRecalculos"));
    cdsContas = component<erp::ClientDataSet>(QStringLiteral("cdsContas"));
    netCTB10300 = component<erp::NetConnection>(QStringLiteral("netCTB10300"));
    msgCTB10300 = component<erp::Messages>(QStringLiteral("msgCTB10300"));
    m_report = new Ctb10300Report(this);
    netCTB10300->describeCall(QStringLiteral("GetHistRecalc"), QStringLiteral("Lendo os recálculos..."), true);
    netCTB10300->describeCall(QStringLiteral("GetHistRecalcContas"), QStringLiteral("Lendo as contas do recálculo..."), true);
}

QVariant TfrmCTB10300::callServer(const QString &method, const QVariantList &params)
{
    return erp::checkResultServ(netCTB10300->call(method, params), true, 0);
}

void TfrmCTB10300::netCTB10300BeforeConnect(QObject *)
{
    netCTB10300->setHost(erp::webUrl());
    netCTB10300->setPort(erp::webPort());
}

void TfrmCTB10300::search()
{
    depInicio->checkValidDate();
    depFim->checkValidDate();
    const QVariant found = callServer(QStringLiteral("GetHistRecalc"),
                                      {medCdEmpresa->text().trimmed(), depInicio->getDate(), depFim->getDate(),
                                       edtOperador->text().trimmed()});
    cdsRecalculos->setData(found); // its first row's postings come with the scroll
    if (cdsRecalculos->isEmpty())
        cdsRecalculosAfterScroll(cdsRecalculos);
    lblResumo->setText(cdsRecalculos->isEmpty()
                           ? msgCTB10300->msg(QStringLiteral("Res_Nenhum"))
                           : msgCTB10300->msg(QStringLiteral("Res_Qtde")).arg(cdsRecalculos->recordCount()));
}

void TfrmCTB10300::focusList()
{
    erp::focusControl(dbgRecalculos);
}

void TfrmCTB10300::cdsRecalculosAfterScroll(erp::ClientDataSet *)
{
    if (cdsRecalculos->isEmpty()) {
        m_lines = Packet(cdsContas->dataFieldDefs()); // no rows, but the fields to lay them out
    } else {
        m_lines = callServer(QStringLiteral("GetHistRecalcContas"),
                             {cdsRecalculos->fieldByName(u"NRAUDITORIA")->asString()})
                      .value<Packet>();
    }
    showLines();
}

void TfrmCTB10300::showLines()
{
    const bool changedOnly = chkSoAlteradas->isChecked();
    const int status = m_lines.indexOf(u"IDSITUACAO");
    const Packet shown
        = m_lines.rowsWhere([&](int r) { return !changedOnly || m_lines.string(r, status) != QLatin1String("igual"); });
    cdsContas->setPacket(shown);
    qint64 totals[3] = {}; // in cents, as the amounts were kept
    const int columns[3] = {shown.indexOf(u"VRLANCANT"), shown.indexOf(u"VRLANCNOVO"), shown.indexOf(u"VRDIFERENCA")};
    for (int r = 0; r < shown.rowCount(); ++r)
        for (int i = 0; i < 3; ++i)
            totals[i] += std::llround(shown.number(r, columns[i]) * 100.0);
    lblTotais->setText(shown.isEmpty() ? QString()
                                       : msgCTB10300->msg(QStringLiteral("Tot_Contas"))
                                             .arg(money(totals[0]), money(totals[1]), money(totals[2])));
}

void TfrmCTB10300::chkSoAlteradasClick(QObject *)
{
    showLines();
}

void TfrmCTB10300::btnPesquisarClick(QObject *)
{
    search();
    focusList();
}

void TfrmCTB10300::FormClose(QObject *, erp::CloseAction &action)
{
    action = erp::CloseAction::Free;
    netCTB10300->close();
    if (Cli_ctb10300::frmCTB10300 == this)
        Cli_ctb10300::frmCTB10300 = nullptr;
}

void TfrmCTB10300::btnFecharClick(QObject *)
{
    close();
}

QString TfrmCTB10300::askFile(const char *titleKey, const QString &suffix, const QString &filter)
{
    const QString number = cdsRecalculos->isEmpty() ? QString() : cdsRecalculos->fieldByName(u"NRAUDITORIA")->asString();
    const QString name = QStringLiteral("CTB10300%1.%2").arg(number.isEmpty() ? QString() : QLatin1Char('-') + number, suffix);
    return QFileDialog::getSaveFileName(this, msgCTB10300->msg(QString::fromLatin1(titleKey)), name, filter);
}

void TfrmCTB10300::btnImprimirClick(QObject *)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setDocName(msgCTB10300->msg(QStringLiteral("Rel_Titulo")));
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted)
        m_report->print(&printer);
}

void TfrmCTB10300::btnSalvarPdfClick(QObject *)
{
    const QString path = askFile("Rel_Pdf", QStringLiteral("pdf"), QStringLiteral("Documento PDF (*.pdf)"));
    if (!path.isEmpty())
        m_report->writePdf(path);
}

void TfrmCTB10300::btnExportarCsvClick(QObject *)
{
    const QString path = askFile("Rel_Csv", QStringLiteral("csv"), QStringLiteral("Planilha CSV (*.csv)"));
    if (!path.isEmpty())
        m_report->writeCsv(path);
}

Ctb10300Report::Ctb10300Report(TfrmCTB10300 *screen)
    : erp::HtmlReport(screen), m_screen(screen)
{
    setObjectName(QStringLiteral("rptCTB10300"));
}

QString Ctb10300Report::title() const
{
    return m_screen->msgCTB10300->msg(QStringLiteral("Rel_Titulo"));
}

QStringList Ctb10300Report::heading() const
{
    const TfrmCTB10300 &s = *m_screen;
    const auto msg = [&s](const char *key) { return s.msgCTB10300->msg(QString::fromLatin1(key)); };
    const auto orAll = [&](const QString &text) { return text.trimmed().isEmpty() ? msg("Rel_Todos") : text.trimmed(); };
    QStringList lines{msg("Rel_Filtro").arg(orAll(s.medCdEmpresa->text()), orAll(erp::formatDate(s.depInicio->getDate())),
                                            orAll(erp::formatDate(s.depFim->getDate())), orAll(s.edtOperador->text()))};
    if (!s.cdsRecalculos->isEmpty()) {
        const auto field = [&s](const char16_t *name) { return s.cdsRecalculos->fieldByName(name)->displayText(); };
        lines << msg("Rel_Recalculo").arg(field(u"NRAUDITORIA"), field(u"DTOPERACAO"), field(u"NMOPERADOR"),
                                          field(u"CDEMPRESA"), field(u"NMEMPRESA"));
    }
    lines << msg("Rel_Emissao").arg(erp::formatDate(erp::today()), erp::ShellContext::instance().operador());
    return lines;
}

QString Ctb10300Report::html() const
{
    QStringList lines = heading();
    for (QString &line : lines)
        line = line.toHtmlEscaped();
    return QStringLiteral("<html><body><h2>%1</h2><p>%2</p>").arg(title().toHtmlEscaped(), lines.join(QStringLiteral("<br>")))
           + m_screen->dbgContas->htmlTable() + QStringLiteral("<p>%1</p></body></html>").arg(m_screen->lblTotais->text().toHtmlEscaped());
}

QString Ctb10300Report::csv() const
{
    const QString end = QStringLiteral("\r\n");
    QString text = erp::csvCell(title(), true) + end;
    for (const QString &line : heading())
        text += erp::csvCell(line, true) + end;
    text += end + m_screen->dbgContas->csvLines();
    if (!m_screen->lblTotais->text().isEmpty())
        text += end + erp::csvCell(m_screen->lblTotais->text(), true) + end;
    return text;
}
