#include "mainwindow.h"

#include <erpfw/core/messageservice.h>
#include <erpfwui/shell/help.h>
#include <erpfwui/shell/icons.h>
#include <erpfwui/shell/moduleloader.h>
#include <erpfwui/widgets/events.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenuBar>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QToolBar>

namespace erp::app {

MainWindow::MainWindow()
    : m_mdiArea(new QMdiArea(this))
    , m_screenCode(new QLineEdit(this))
    , m_session(new QLabel(this))
{
    setObjectName(QStringLiteral("frmPrincipal"));
    m_session->setTextFormat(Qt::PlainText); // a database path is not markup
    setWindowTitle(QStringLiteral("ERP"));
    m_mdiArea->setObjectName(QStringLiteral("mdiTelas"));
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdiArea);

    auto *bar = addToolBar(QStringLiteral("Tela"));
    bar->setObjectName(QStringLiteral("tlbTela"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(16, 16));
    auto *label = new QLabel(QStringLiteral(" &Tela: "), bar);
    label->setBuddy(m_screenCode);
    m_screenCode->setObjectName(QStringLiteral("edtTela"));
    m_screenCode->setMaxLength(32);
    m_screenCode->setFixedWidth(110);
    m_screenCode->setPlaceholderText(QStringLiteral("REC00800"));
    m_screenCode->setToolTip(QStringLiteral("Código da tela; Enter abre"));
    m_screenCode->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9]*")), m_screenCode));
    connect(m_screenCode, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_screenCode->setText(text.toUpper()); });
    connect(m_screenCode, &QLineEdit::returnPressed, this, &MainWindow::openTypedScreen);
    bar->addWidget(label);
    bar->addWidget(m_screenCode);
    QAction *open = bar->addAction(QStringLiteral("Abrir"), this, &MainWindow::openTypedScreen);
    open->setObjectName(QStringLiteral("actAbrirTela"));

    m_session->setObjectName(QStringLiteral("lblSessao"));
    statusBar()->addPermanentWidget(m_session);

    buildMenus();
    applyComponentIcons(this);
    resize(1024, 700);
}

void MainWindow::buildMenus()
{
    QMenu *system = menuBar()->addMenu(QStringLiteral("&Sistema"));
    QAction *find = system->addAction(QStringLiteral("&Abrir tela pelo código"), this, [this] {
        m_screenCode->setFocus(Qt::ShortcutFocusReason);
        m_screenCode->selectAll();
    });
    find->setObjectName(QStringLiteral("mnuAbrirTela"));
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    system->addSeparator();
    QAction *quit = system->addAction(QStringLiteral("&Sair"), this, &QWidget::close);
    quit->setObjectName(QStringLiteral("mnuSair"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu *receivables = menuBar()->addMenu(QStringLiteral("&Contas a Receber"));
    QAction *rec = receivables->addAction(
        QStringLiteral("REC00800 - &Recálculo da Contabilização de Contas a Receber"), this,
        [this] { openScreen(QStringLiteral("REC00800")); });
    rec->setObjectName(QStringLiteral("mnuREC00800"));

    QMenu *accounting = menuBar()->addMenu(QStringLiteral("C&ontabilidade"));
    QAction *history = accounting->addAction(QStringLiteral("CTB10300 - &Histórico de Recálculos da Contabilização"),
                                             this, [this] { openScreen(QStringLiteral("CTB10300")); });
    history->setObjectName(QStringLiteral("mnuCTB10300"));

    QMenu *windows = menuBar()->addMenu(QStringLiteral("&Janela"));
    windows->addAction(QStringLiteral("&Cascata"), m_mdiArea, &QMdiArea::cascadeSubWindows);
    windows->addAction(QStringLiteral("&Lado a lado"), m_mdiArea, &QMdiArea::tileSubWindows);
    QAction *next = windows->addAction(QStringLiteral("&Próxima tela"), m_mdiArea,
                                       &QMdiArea::activateNextSubWindow);
    next->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F6));
    windows->addAction(QStringLiteral("&Fechar todas"), m_mdiArea, &QMdiArea::closeAllSubWindows);

    QMenu *help = menuBar()->addMenu(QStringLiteral("Aj&uda"));
    // F1 itself is taken application-wide (installHelpKey), so that it works in modal dialogs too.
    QAction *screenHelp = help->addAction(QStringLiteral("&Ajuda da tela\tF1"), this,
                                          [] { showHelp(QApplication::focusWidget()); });
    screenHelp->setObjectName(QStringLiteral("mnuAjudaTela"));
    help->addAction(QStringLiteral("&Módulos carregados"), this, &MainWindow::showLoadedModules);
    help->addSeparator();
    QAction *about = help->addAction(QStringLiteral("&Sobre"), this, &MainWindow::showAbout);
    about->setObjectName(QStringLiteral("mnuSobre"));
}

void MainWindow::showAbout()
{
    MessageService::show(
        DialogType::Information,
        QStringLiteral("ERP - Recálculo da Contabilização de Contas a Receber\n"
                       "Versão %1 (Qt %2)\n\n"
                       "Licenças:\n"
                       "- Qt: GNU LGPL versão 3.\n"
                       "- Ícones do tema Breeze: GNU LGPL versão 3 ou posterior.\n"
                       "- SQLite: domínio público; libpq (PostgreSQL): licença PostgreSQL;\n"
                       "  libsodium: licença ISC; OpenSSL: licença Apache 2.0.")
            .arg(QStringLiteral(ERP_VERSION), QString::fromLatin1(qVersion())));
}

void MainWindow::openScreen(const QString &code)
{
    dispatch([&] { LoadBPL(code); });
}

void MainWindow::openTypedScreen()
{
    const QString code = m_screenCode->text().trimmed();
    if (code.isEmpty()) {
        MessageService::show(DialogType::Warning, QStringLiteral("Informe o código da tela."));
        m_screenCode->setFocus();
        return;
    }
    openScreen(code);
}

void MainWindow::showLoadedModules()
{
    QStringList lines;
    for (const LoadedModule &m : ModuleLoader::instance().loadedModules()) {
        lines << QStringLiteral("%1 (%2)").arg(m.name, m.file);
        if (!m.units.isEmpty())
            lines << QStringLiteral("    unidades: %1").arg(m.units.join(QStringLiteral(", ")));
    }
    MessageService::show(DialogType::Information,
                         lines.isEmpty() ? QStringLiteral("Nenhum módulo carregado.") : lines.join(QLatin1Char('\n')));
}

void MainWindow::setSessionInfo(const QString &server, const QString &database,
                                const QString &operatorName, const QString &branch)
{
    setWindowTitle(QStringLiteral("ERP - Operador: %1 - Filial: %2").arg(operatorName, branch));
    m_session->setText(QStringLiteral("Servidor: %1    Banco: %2").arg(server, database));
}

} // namespace erp::app
