#pragma once

#include <QObject>
#include <QString>

#include <utility>
#include <vector>

class QPagedPaintDevice;
class TfrmCTB10200;
namespace erp {
class TDBGrid;
class TTabSheet;
} // namespace erp

// What CTB10200 shows, on paper, in a PDF or in a spreadsheet: company, posting, the date and
// operator of the printout, the entries, their apportionment and the errors as their grids show
// them, and the totals. A child of the screen named "rptCTB10200": scripts call savePdf and
// saveCsv with a path, where the screen's buttons ask the user for one.
class Ctb10200Report final : public QObject
{
    Q_OBJECT

public:
    explicit Ctb10200Report(TfrmCTB10200 *screen);

    QString html() const;
    QString csv() const; // without the byte-order mark
    // Lays the pages out on the device (a printer or a PDF writer).
    void print(QPagedPaintDevice *device) const;

    // Both throw erp::Error naming the file when it cannot be written; nothing half-written
    // is left behind.
    void writePdf(const QString &path) const;
    void writeCsv(const QString &path) const;

    // For scripts: as the buttons, without the file dialog; a failure is shown as the
    // buttons' would be, and gives false.
    Q_INVOKABLE bool savePdf(const QString &path);
    Q_INVOKABLE bool saveCsv(const QString &path);

private:
    static std::vector<std::pair<erp::TTabSheet *, erp::TDBGrid *>> pages(const TfrmCTB10200 &screen);
    TfrmCTB10200 *m_screen;
};
