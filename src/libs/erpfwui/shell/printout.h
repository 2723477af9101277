#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QObject>
#include <QString>

class QPagedPaintDevice;

namespace erp {

// The screens' printouts, laid out from HTML in a small type: on a printer the user chose, or
// as a landscape A4 PDF written whole or not at all (erp::Error names the file).
ERPFWUI_EXPORT void printHtml(QPagedPaintDevice *device, const QString &html);
ERPFWUI_EXPORT void writeHtmlPdf(const QString &path, const QString &title, const QString &html);

// What a screen shows, on paper, in a PDF or in a spreadsheet; a screen's child that scripts
// reach by its name and call savePdf and saveCsv on, where the screen's buttons ask the user
// for a file.
class ERPFWUI_EXPORT HtmlReport : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual QString title() const = 0;
    virtual QString html() const = 0;
    virtual QString csv() const = 0; // without the byte-order mark

    void print(QPagedPaintDevice *device) const;
    // Both throw erp::Error naming the file when it cannot be written; nothing half-written
    // is left behind.
    void writePdf(const QString &path) const;
    void writeCsv(const QString &path) const;

    // As the buttons, without the file dialog; a failure is shown as the buttons' would be,
    // and gives false.
    Q_INVOKABLE bool savePdf(const QString &path);
    Q_INVOKABLE bool saveCsv(const QString &path);
};

} // namespace erp
