#pragma once

#include <erpfwui/shell/printout.h>

#include <utility>
#include <vector>

class TfrmCTB10200;
namespace erp {
class TDBGrid;
class TTabSheet;
} // namespace erp

// What CTB10200 shows, on paper, in a PDF or in a spreadsheet: company, posting, the date and
// operator of the printout, the entries, their apportionment, the errors and a preview's
// differences as their grids show them, and the totals. A child of the screen named
// "rptCTB10200".
class Ctb10200Report final : public erp::HtmlReport
{
    Q_OBJECT

public:
    explicit Ctb10200Report(TfrmCTB10200 *screen);

    QString title() const override;
    QString html() const override;
    QString csv() const override;

private:
    static std::vector<std::pair<erp::TTabSheet *, erp::TDBGrid *>> pages(const TfrmCTB10200 &screen);
    TfrmCTB10200 *m_screen;
};
