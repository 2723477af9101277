#pragma once

#include <erpfwui/forms/form.h>

#include <QMap>

namespace erp {

class Messages;
class TButtonFlat;
class TGroupBox;
class TLabel;
class TPageControl;
class TPanel;

// The base of the shell's filter dialogs: shown modally, only hidden when closed. Its saved
// options are name=value pairs kept per operator and screen in the shell's data folder: the
// values of the dialog's controls plus any option the screen sets before saving
// (setOption) or reads after loading (option).
class ERPFWUI_EXPORT TfrmFiltroPadrao : public Form
{
    Q_OBJECT

public:
    explicit TfrmFiltroPadrao(QWidget *parent = nullptr);

    Q_INVOKABLE virtual ERP_HANDLER void FormCreate(QObject *sender);
    // Only hides the dialog: it keeps its state for the next showing.
    Q_INVOKABLE virtual ERP_HANDLER void FormClose(QObject *sender, erp::CloseAction &action);
    // Confirms: closes the modal dialog with OK.
    Q_INVOKABLE virtual ERP_HANDLER void sbtConfirmaClick(QObject *sender);
    // Stores the controls and the options in the operator's file for this screen.
    Q_INVOKABLE virtual ERP_HANDLER void btfSaveOpcClick(QObject *sender);
    // Restores them; with nothing saved it says so and ends silently (nothing changes).
    Q_INVOKABLE virtual ERP_HANDLER void btfLoadOpcClick(QObject *sender);
    Q_INVOKABLE virtual ERP_HANDLER void sbtFecharClick(QObject *sender);

    // An absent name reads empty.
    QString option(const QString &name) const { return m_options.value(name); }
    void setOption(const QString &name, const QString &value) { m_options.insert(name, value); }
    // <data folder>/opcoes/<operator>/<screen code>.txt
    QString optionsFile() const;

    TLabel *lblCodTela = nullptr;
    TPanel *panMenu = nullptr;
    TButtonFlat *sbtConfirma = nullptr;
    TButtonFlat *btfSaveOpc = nullptr;
    TButtonFlat *btfLoadOpc = nullptr;
    TButtonFlat *sbtFechar = nullptr;
    TGroupBox *grbFiltroPadrao = nullptr;
    TPageControl *pgcPadrao = nullptr;
    Messages *msgPadrao = nullptr;

protected:
    void bindComponents() override;

private:
    QMap<QString, QString> controlValues() const;
    void restoreControls(const QMap<QString, QString> &values);

    QMap<QString, QString> m_options;
};

} // namespace erp
