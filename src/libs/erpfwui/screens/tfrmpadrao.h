#pragma once

#include <erpfwui/forms/form.h>
#include <erpfwui/widgets/events.h>

namespace erp {

class DataSource;
class Messages;
class TButtonFlat;
class TDBGrid;
class TDBText;
class TLabel;
class TMainMenu;
class TMenuItem;
class TPageControl;
class TPanel;
class TTabSheet;

// The base of the shell's working screens (an MDI child): tool bar, data and record pages,
// navigator, menus, data source and message table. A screen derives from it in C++ (its
// handlers override these, calling the base first where the screen wants the base's work)
// and in its form file ("inherits": "TfrmPadrao").
class ERPFWUI_EXPORT TfrmPadrao : public Form
{
    Q_OBJECT

public:
    explicit TfrmPadrao(QWidget *parent = nullptr);

    Q_INVOKABLE virtual ERP_HANDLER void FormCreate(QObject *sender);
    // Runs on real activations only (see Form::activate): puts the focus in the grid when no
    // control of the screen has it.
    Q_INVOKABLE virtual ERP_HANDLER void FormActivate(QObject *sender);
    // Frees the screen.
    Q_INVOKABLE virtual ERP_HANDLER void FormClose(QObject *sender, erp::CloseAction &action);
    // Return opens the record page when the record command is enabled.
    Q_INVOKABLE virtual ERP_HANDLER void dbgPadraoKeyDown(QObject *sender, int &key, erp::ShiftState shift);
    // Keeps the record command and the navigator in step with dtsPadrao.
    Q_INVOKABLE virtual ERP_HANDLER void dtsPadraoStateChange(QObject *sender);
    // Posts a pending edit of dtsPadrao's dataset.
    Q_INVOKABLE virtual ERP_HANDLER void sbtConfirmarClick(QObject *sender);
    // Shows the data again as the dataset holds it.
    Q_INVOKABLE virtual ERP_HANDLER void sbtVerificarClick(QObject *sender);
    // The search dialog on dtsPadrao's dataset, when it is open.
    Q_INVOKABLE virtual ERP_HANDLER void sbtProcurarClick(QObject *sender);
    // The record command: shows the record page.
    Q_INVOKABLE virtual ERP_HANDLER void sbtFormularioClick(QObject *sender);
    // The manual of this screen, as F1 shows it.
    Q_INVOKABLE virtual ERP_HANDLER void sbtAjudaClick(QObject *sender);
    Q_INVOKABLE virtual ERP_HANDLER void sbtFecharClick(QObject *sender);

    TLabel *lblCodTela = nullptr;
    TPanel *panMenu = nullptr;
    TButtonFlat *sbtConfirmar = nullptr;
    TButtonFlat *sbtVerificar = nullptr;
    TButtonFlat *sbtProcurar = nullptr;
    TButtonFlat *sbtFormulario = nullptr;
    TButtonFlat *sbtImprimir = nullptr;
    TButtonFlat *sbtAjuda = nullptr;
    TButtonFlat *sbtFechar = nullptr;
    TPageControl *pgcPadrao = nullptr;
    TTabSheet *tshFolhaDados = nullptr;
    TTabSheet *tshFormulario = nullptr;
    TDBGrid *dbgPadrao = nullptr;
    TPanel *panNavigator = nullptr;
    TDBText *dbtNome = nullptr;
    TMainMenu *mnuMenu = nullptr;
    TMenuItem *mnuConfirmar = nullptr;
    TMenuItem *mnuVerificar = nullptr;
    TMenuItem *mnuProcurar = nullptr;
    TMenuItem *mnuFormulario = nullptr;
    TMenuItem *mnuListagem = nullptr;
    TMenuItem *mnuConfigImpressora = nullptr;
    TMenuItem *mnuManutencao = nullptr;
    DataSource *dtsPadrao = nullptr;
    Messages *msgPadrao = nullptr;

protected:
    void bindComponents() override;
    // The base's rules for the record command (enabled in browse state with rows; its tool
    // button follows the menu item) and for the navigator (browse state only).
    void updateBaseCommands();
};

} // namespace erp
