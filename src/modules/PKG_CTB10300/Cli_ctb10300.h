#pragma once

#include <erpfwui/forms/form.h>
#include <erpfwui/shell/printout.h>

#include <erpwire/packet.h>

#include <QPointer>

namespace erp {
class ClientDataSet;
class Messages;
class NetConnection;
class TCheckBox;
class TDateEditPlus;
class TDBGrid;
class TEdit;
class TLabel;
class TMaskEdit;
} // namespace erp

class Ctb10300Report;

// CTB10300: the recalculations of the accounting, newest first, as the server's audit keeps
// them (by company, period and operator), and for the one chosen the posting each account and
// adjustment had and the one it got, with their totals. Read-only.
class TfrmCTB10300 : public erp::Form
{
    Q_OBJECT

public:
    explicit TfrmCTB10300(QWidget *parent = nullptr);

    // Lists the recalculations the filter asks for; the first one's postings below.
    void search();
    // The grid of the recalculations gets the focus.
    void focusList();

    Q_INVOKABLE ERP_HANDLER void FormClose(QObject *sender, erp::CloseAction &action);
    Q_INVOKABLE ERP_HANDLER void btnPesquisarClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void btnFecharClick(QObject *sender);
    // The printout through the printer dialog; a PDF or a CSV file where the user says.
    Q_INVOKABLE ERP_HANDLER void btnImprimirClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void btnSalvarPdfClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void btnExportarCsvClick(QObject *sender);
    // Shows only the postings that a recalculation replaced, or all again.
    Q_INVOKABLE ERP_HANDLER void chkSoAlteradasClick(QObject *sender);
    // The postings of the recalculation the list is on.
    Q_INVOKABLE ERP_HANDLER void cdsRecalculosAfterScroll(erp::ClientDataSet *dataSet);
    Q_INVOKABLE ERP_HANDLER void netCTB10300BeforeConnect(QObject *sender);

protected:
    void bindComponents() override;

private:
    friend class Ctb10300Report;
    QVariant callServer(const QString &method, const QVariantList &params);
    void showLines();
    // A file name the user picks, "" when the dialog is cancelled.
    QString askFile(const char *titleKey, const QString &suffix, const QString &filter);

    erp::TMaskEdit *medCdEmpresa = nullptr;
    erp::TDateEditPlus *depInicio = nullptr;
    erp::TDateEditPlus *depFim = nullptr;
    erp::TEdit *edtOperador = nullptr;
    erp::TLabel *lblResumo = nullptr;
    erp::TLabel *lblTotais = nullptr;
    erp::TCheckBox *chkSoAlteradas = nullptr;
    erp::TDBGrid *dbgRecalculos = nullptr;
    erp::TDBGrid *dbgContas = nullptr;
    erp::ClientDataSet *cdsRecalculos = nullptr;
    erp::ClientDataSet *cdsContas = nullptr;
    erp::NetConnection *netCTB10300 = nullptr;
    erp::Messages *msgCTB10300 = nullptr;
    Ctb10300Report *m_report = nullptr;

    erp::wire::Packet m_lines; // of the current recalculation, whatever the filter shows
};

// What CTB10300 shows of the chosen recalculation, on paper, in a PDF or in a spreadsheet:
// the filter, the recalculation, its postings as the grid shows them and their totals. A child
// of the screen named "rptCTB10300".
class Ctb10300Report final : public erp::HtmlReport
{
    Q_OBJECT

public:
    explicit Ctb10300Report(TfrmCTB10300 *screen);

    QString title() const override;
    QString html() const override;
    QString csv() const override;

private:
    // The lines under the title: filter, recalculation, date and operator of the printout.
    QStringList heading() const;
    TfrmCTB10300 *m_screen;
};

namespace Cli_ctb10300 {

// The one history screen, or none.
extern QPointer<TfrmCTB10300> frmCTB10300;

// Opens the screen listing every recalculation, or brings the open one forward.
void CriaCTB10300();

} // namespace Cli_ctb10300
