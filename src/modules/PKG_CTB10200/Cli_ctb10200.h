#pragma once

#include <erpfwui/forms/form.h>

#include <erpwire/packet.h>

#include <QHash>
#include <QPointer>
#include <QVariantList>

#include <optional>

namespace erp {
class AdoIbQuery;
class ClientDataSet;
class Messages;
class TButton;
class TCheckBox;
class TDBGrid;
class TEdit;
class TLabel;
class TPageControl;
class TTabSheet;
} // namespace erp

namespace Cli_ctb10200 {

// What another screen hands over with "CTB10200": the company, a posting number and the data
// of its temporary entries, their apportionment and the accounting errors; a recalculation's
// preview also its differences per account.
struct Handover
{
    QString company;
    QString posting;
    erp::wire::Packet entries;
    erp::wire::Packet shares;
    erp::wire::Packet errors;
    std::optional<erp::wire::Packet> differences;

    // From the five or six parameters, in that order. Another count, a code that is not a text
    // or a packet that is not a data packet is an erp::Error naming CTB10200 and the parameter.
    static Handover fromParams(const QVariantList &params);
    // No rows in any of the three packets.
    bool hasNoRows() const;
};

} // namespace Cli_ctb10200

// CTB10200: the accounting entries, their apportionment over branches and cost centres and
// the accounting errors, read-only. Shows the hand-over's rows or, when it brings none, the
// stored posting of its number.
class Ctb10200Report;

class TfrmCTB10200 : public erp::Form
{
    Q_OBJECT

public:
    explicit TfrmCTB10200(QWidget *parent = nullptr);

    // Replaces what the screen shows. Everything that can fail (the database, a packet whose
    // fields differ from the screen's) runs before anything changes, so a failure leaves the
    // screen as it was.
    void display(const Cli_ctb10200::Handover &handover);
    // The grid of the page shown gets the focus.
    void focusActiveGrid();

    Q_INVOKABLE ERP_HANDLER void FormClose(QObject *sender, erp::CloseAction &action);
    Q_INVOKABLE ERP_HANDLER void btnFecharClick(QObject *sender);
    // The printout through the printer dialog; a PDF or a CSV file where the user says.
    Q_INVOKABLE ERP_HANDLER void btnImprimirClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void btnSalvarPdfClick(QObject *sender);
    Q_INVOKABLE ERP_HANDLER void btnExportarCsvClick(QObject *sender);
    // The description of each error code and the entry that it names.
    Q_INVOKABLE ERP_HANDLER void cdsErrosTempCalcFields(erp::ClientDataSet *dataSet);
    // Shows only the accounts whose postings change, or all again.
    Q_INVOKABLE ERP_HANDLER void chkSoAlteradasClick(QObject *sender);

protected:
    void bindComponents() override;

private:
    friend class Ctb10200Report;
    struct Content;
    // A file name the user picks, "" when the dialog is cancelled.
    QString askFile(const char *titleKey, const QString &suffix, const QString &filter);
    struct EntryRef
    {
        QString ledger;
        QString commercial;
    };

    Content prepare(const Cli_ctb10200::Handover &handover);
    void apply(const Content &content);
    QString companyName(const QString &company);
    QHash<QString, QString> errorDescriptions();
    erp::wire::Packet stored(erp::AdoIbQuery *query, const Cli_ctb10200::Handover &handover);
    void showTotals();
    void showDifferences();

    erp::TEdit *edtCdEmpresa = nullptr;
    erp::TEdit *edtNmEmpresa = nullptr;
    erp::TEdit *edtNrLancto = nullptr;
    erp::TLabel *lblOrigem = nullptr;
    erp::TLabel *lblTotDebito = nullptr;
    erp::TLabel *lblTotCredito = nullptr;
    erp::TLabel *lblDiferenca = nullptr;
    erp::TButton *btnFechar = nullptr;
    erp::TPageControl *pgcCTB10200 = nullptr;
    erp::TTabSheet *tshLancamentos = nullptr;
    erp::TTabSheet *tshRateio = nullptr;
    erp::TTabSheet *tshErros = nullptr;
    erp::TLabel *lblSemLancamentos = nullptr;
    erp::TLabel *lblSemRateio = nullptr;
    erp::TLabel *lblSemErros = nullptr;
    erp::TTabSheet *tshDiferencas = nullptr;
    erp::TCheckBox *chkSoAlteradas = nullptr;
    erp::TLabel *lblSemDiferencas = nullptr;
    erp::TLabel *lblDifAntes = nullptr;
    erp::TLabel *lblDifDepois = nullptr;
    erp::TDBGrid *dbgDiferencas = nullptr;
    erp::ClientDataSet *cdsDiferencas = nullptr;
    erp::TDBGrid *dbgLancamentos = nullptr;
    erp::TDBGrid *dbgRateio = nullptr;
    erp::TDBGrid *dbgErros = nullptr;
    erp::ClientDataSet *cdsLancContTemp = nullptr;
    erp::ClientDataSet *cdsRateio = nullptr;
    erp::ClientDataSet *cdsErrosTemp = nullptr;
    erp::AdoIbQuery *qryEmpresa = nullptr;
    erp::AdoIbQuery *qryErros = nullptr;
    erp::AdoIbQuery *qryLancamento = nullptr;
    erp::AdoIbQuery *qryRateio = nullptr;
    erp::Messages *msgCTB10200 = nullptr;
    Ctb10200Report *m_report = nullptr;

    QHash<QString, QString> m_descriptions; // error code -> text
    QHash<QString, EntryRef> m_entries;      // entry sequence -> what the errors show of it
    erp::wire::Packet m_differences;         // all of them, whatever the filter shows
};

namespace Cli_ctb10200 {

// The one accounting screen, or none.
extern QPointer<TfrmCTB10200> frmCTB10200;

// Opens the screen with the hand-over, or, when it is open, shows the new content in it and
// brings it forward.
void CriaCTB10200(const Handover &handover);

} // namespace Cli_ctb10200
