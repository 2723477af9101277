#include "printout.h"

#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/events.h>

#include <QBuffer>
#include <QPageLayout>
#include <QPdfWriter>
#include <QTextDocument>

namespace erp {

void printHtml(QPagedPaintDevice *device, const QString &html)
{
    QTextDocument document;
    QFont font = document.defaultFont();
    font.setPointSizeF(7);
    document.setDefaultFont(font);
    document.setHtml(html);
    document.print(device);
}

void writeHtmlPdf(const QString &path, const QString &title, const QString &html)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("erp-shell"));
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10),
                                         QPageLayout::Millimeter));
        printHtml(&writer, html);
    }
    writeFileAtomically(path, buffer.data());
}

void HtmlReport::print(QPagedPaintDevice *device) const
{
    printHtml(device, html());
}

void HtmlReport::writePdf(const QString &path) const
{
    writeHtmlPdf(path, title(), html());
}

void HtmlReport::writeCsv(const QString &path) const
{
    writeFileAtomically(path, QByteArrayLiteral("\xEF\xBB\xBF") + csv().toUtf8());
}

bool HtmlReport::savePdf(const QString &path)
{
    return dispatch([&] { writePdf(path); });
}

bool HtmlReport::saveCsv(const QString &path)
{
    return dispatch([&] { writeCsv(path); });
}

} // namespace erp
