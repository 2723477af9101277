#pragma once

#include <QMainWindow>

class QLabel;
class QLineEdit;
class QMdiArea;

namespace erp::app {

// The shell's main window: the MDI area that hosts the screens, the menu, and the "Tela" field
// that opens a screen by its code.
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow();

    QMdiArea *mdiArea() const { return m_mdiArea; }

    // Opens the screen through its module; a failure is shown and the shell stays usable.
    void openScreen(const QString &code);

    // Shows where the session runs: server, database, operator and branch.
    void setSessionInfo(const QString &server, const QString &database, const QString &operatorName,
                        const QString &branch);

private:
    void buildMenus();
    void openTypedScreen();
    void showLoadedModules();
    void showAbout();

    QMdiArea *m_mdiArea;
    QLineEdit *m_screenCode;
    QLabel *m_session;
};

} // namespace erp::app
