#include "ctb10200report.h"

#include "Cli_ctb10200.h"

#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/core/messages.h>
#include <erpfw/core/ptbr.h>
#include <erpfw/core/shellcontext.h>

namespace {

QString cell(const QString &tag, const QString &text)
{
    return QStringLiteral("<%1>%2</%1>").arg(tag, text.toHtmlEscaped());
}

// "Total a débito: 1.234,50" as two cells.
QString csvPair(const QString &text)
{
    const qsizetype colon = text.indexOf(QStringLiteral(": "));
    if (colon < 0)
        return erp::csvCell(text, true);
    return erp::csvCell(text.left(colon), true) + QLatin1Char(';') + erp::csvCell(text.mid(colon + 2), false);
}

} // namespace

// The pages in the order of their tabs; the differences only with a preview's.
std::vector<std::pair<erp::TTabSheet *, erp::TDBGrid *>> Ctb10200Report::pages(const TfrmCTB10200 &s)
{
    std::vector<std::pair<erp::TTabSheet *, erp::TDBGrid *>> list{
        {s.tshLancamentos, s.dbgLancamentos}, {s.tshRateio, s.dbgRateio}, {s.tshErros, s.dbgErros}};
    if (s.pgcCTB10200->isTabVisible(s.pgcCTB10200->indexOf(s.tshDiferencas)))
        list.emplace_back(s.tshDiferencas, s.dbgDiferencas);
    return list;
}

Ctb10200Report::Ctb10200Report(TfrmCTB10200 *screen)
    : erp::HtmlReport(screen), m_screen(screen)
{
    setObjectName(QStringLiteral("rptCTB10200"));
}

QString Ctb10200Report::title() const
{
    return m_screen->msgCTB10200->msg(QStringLiteral("Rel_Titulo"));
}

QString Ctb10200Report::html() const
{
    const TfrmCTB10200 &s = *m_screen;
    const auto msg = [&s](const char *key) { return s.msgCTB10200->msg(QString::fromLatin1(key)); };
    QString html = QStringLiteral("<html><body>") + cell(QStringLiteral("h2"), title());
    html += QStringLiteral("<p>") + msg("Rel_Empresa").arg(s.edtCdEmpresa->text(), s.edtNmEmpresa->text()).toHtmlEscaped();
    if (!s.edtNrLancto->text().isEmpty())
        html += QStringLiteral("<br>") + msg("Rel_Lancto").arg(s.edtNrLancto->text()).toHtmlEscaped();
    if (!s.lblOrigem->text().isEmpty())
        html += QStringLiteral("<br>") + s.lblOrigem->text().toHtmlEscaped();
    html += QStringLiteral("<br>")
            + msg("Rel_Emissao").arg(erp::formatDate(erp::today()), erp::ShellContext::instance().operador()).toHtmlEscaped()
            + QStringLiteral("</p>");
    for (const auto &[page, grid] : pages(s)) {
        html += cell(QStringLiteral("h3"), page->caption());
        html += grid->htmlTable();
        if (page == s.tshDiferencas)
            html += QStringLiteral("<p>") + s.lblDifAntes->text().toHtmlEscaped() + QStringLiteral("<br>")
                    + s.lblDifDepois->text().toHtmlEscaped() + QStringLiteral("</p>");
    }
    html += QStringLiteral("<p>") + s.lblTotDebito->text().toHtmlEscaped() + QStringLiteral("<br>")
            + s.lblTotCredito->text().toHtmlEscaped();
    if (s.lblDiferenca->isVisibleTo(m_screen))
        html += QStringLiteral("<br>") + s.lblDiferenca->text().toHtmlEscaped();
    return html + QStringLiteral("</p></body></html>");
}

QString Ctb10200Report::csv() const
{
    const TfrmCTB10200 &s = *m_screen;
    const auto msg = [&s](const char *key) { return s.msgCTB10200->msg(QString::fromLatin1(key)); };
    const QString end = QStringLiteral("\r\n");
    QString text = erp::csvCell(title(), true) + end;
    text += csvPair(msg("Rel_Empresa").arg(s.edtCdEmpresa->text(), s.edtNmEmpresa->text())) + end;
    if (!s.edtNrLancto->text().isEmpty())
        text += csvPair(msg("Rel_Lancto").arg(s.edtNrLancto->text())) + end;
    if (!s.lblOrigem->text().isEmpty())
        text += erp::csvCell(s.lblOrigem->text(), true) + end;
    text += erp::csvCell(msg("Rel_Emissao").arg(erp::formatDate(erp::today()), erp::ShellContext::instance().operador()),
                         true)
            + end;
    for (const auto &[page, grid] : pages(s)) {
        text += end + erp::csvCell(page->caption(), true) + end + grid->csvLines();
        if (page == s.tshDiferencas)
            text += erp::csvCell(s.lblDifAntes->text(), true) + end + erp::csvCell(s.lblDifDepois->text(), true) + end;
    }
    text += end + csvPair(s.lblTotDebito->text()) + end + csvPair(s.lblTotCredito->text()) + end;
    if (s.lblDiferenca->isVisibleTo(m_screen))
        text += csvPair(s.lblDiferenca->text()) + end;
    return text;
}
