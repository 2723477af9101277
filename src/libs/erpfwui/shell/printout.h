#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QString>

class QPagedPaintDevice;

namespace erp {

// The screens' printouts, laid out from HTML in a small type: on a printer the user chose, or
// as a landscape A4 PDF written whole or not at all (erp::Error names the file).
ERPFWUI_EXPORT void printHtml(QPagedPaintDevice *device, const QString &html);
ERPFWUI_EXPORT void writeHtmlPdf(const QString &path, const QString &title, const QString &html);

} // namespace erp
