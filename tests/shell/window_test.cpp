#include <erpfw/core/error.h>
#include <erpfw/net/netconnection.h>
#include <erpfwui/forms/form.h>
#include <erpfwui/screens/tfrmfiltropadrao.h>
#include <erpfwui/screens/tfrmpadrao.h>
#include <erpfwui/shell/icons.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/shell/waitoverlay.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/focus.h>

#include <erpfw/core/shellcontext.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QHeaderView>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

using namespace erp;

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

struct Shell
{
    Shell()
    {
        area = new QMdiArea(&window);
        window.setCentralWidget(area);
        window.resize(900, 650);
        setShellWindow(&window, area);
        window.show();
        window.activateWindow();
        waitUntil([this] { return QApplication::activeWindow() == &window; });
    }
    ~Shell() { setShellWindow(nullptr, nullptr); }

    static void waitUntil(const std::function<bool()> &done)
    {
        for (int i = 0; i < 200 && !done(); ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }

    QMainWindow window;
    QMdiArea *area;
};

struct CountedScreen
{
    explicit CountedScreen(const QString &caption)
        : form(createForm<TfrmPadrao>())
    {
        form->setWindowTitle(caption);
        QObject::connect(form, &Form::activated, form, [this] { ++activations; });
    }
    QPointer<TfrmPadrao> form;
    int activations = 0;
};

} // namespace

TEST(ScreenActivation, FirstShowingAndSwitchesOnlyNotMessagesOrModalDialogs)
{
    Shell shell;
    CountedScreen a(QStringLiteral("Tela A"));
    CountedScreen b(QStringLiteral("Tela B"));

    showScreen(a.form);
    EXPECT_EQ(a.activations, 1) << "first showing";
    showScreen(b.form);
    EXPECT_EQ(b.activations, 1);
    showScreen(a.form);
    EXPECT_EQ(a.activations, 2) << "switch back";
    showScreen(a.form);
    EXPECT_EQ(a.activations, 2) << "already the active screen";

    // A message box takes the activation away from the shell and gives it back.
    bool boxWasActive = false;
    QTimer::singleShot(50, [&] {
        boxWasActive = qobject_cast<QMessageBox *>(QApplication::activeWindow()) != nullptr;
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    QMessageBox::information(&shell.window, QStringLiteral("ERP"), QStringLiteral("Aviso"));
    Shell::waitUntil([&] { return QApplication::activeWindow() == &shell.window; });
    EXPECT_TRUE(boxWasActive);
    EXPECT_EQ(a.activations, 2) << "a message box is not an activation";

    // Where the window system takes the activation from the whole area, the area announces its
    // window again when the shell gets it back: still the same screen.
    QSignalSpy areaActivations(shell.area, &QMdiArea::subWindowActivated);
    shell.area->setActiveSubWindow(nullptr);
    shell.area->setActiveSubWindow(screenWindow(a.form));
    ASSERT_GE(areaActivations.count(), 2);
    EXPECT_EQ(areaActivations.first().at(0).value<QMdiSubWindow *>(), nullptr);
    EXPECT_EQ(areaActivations.last().at(0).value<QMdiSubWindow *>(), screenWindow(a.form));
    EXPECT_EQ(a.activations, 2);

    // Nor is a modal dialog closing.
    auto *dialog = createForm<TfrmFiltroPadrao>(&shell.window);
    Form::setModalHook([](Form *form) { form->close(); });
    dialog->showModal();
    Form::setModalHook(nullptr);
    Shell::waitUntil([&] { return QApplication::activeWindow() == &shell.window; });
    EXPECT_EQ(a.activations, 2);
    EXPECT_EQ(b.activations, 1);

    // Closing the active screen hands the activation to the one left.
    screenWindow(a.form)->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(a.form.isNull()) << "the base screen frees itself on close";
    EXPECT_EQ(b.activations, 2);
    EXPECT_EQ(shell.area->subWindowList().size(), 1);
}

TEST(ScreenHosting, ChildWindowFollowsTheScreensCloseAction)
{
    Shell shell;
    CountedScreen a(QStringLiteral("Tela A"));
    QMdiSubWindow *window = showScreen(a.form);
    EXPECT_EQ(a.form->size(), QSize(542, 371)) << "the design size is the screen's, not its frame's";

    a.form->onClose = [](QObject *, CloseAction &action) { action = CloseAction::None; };
    window->close();
    EXPECT_TRUE(window->isVisible()) << "a refused close keeps the screen";

    a.form->onClose = [](QObject *, CloseAction &action) { action = CloseAction::Minimize; };
    a.form->close();
    EXPECT_TRUE(window->isMinimized());

    a.form->onClose = [](QObject *, CloseAction &action) { action = CloseAction::Hide; };
    a.form->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(a.form.isNull());
    EXPECT_FALSE(window->isVisible()) << "a hidden screen leaves no empty frame";
    EXPECT_EQ(showScreen(a.form), window) << "and comes back in the same frame";
    EXPECT_TRUE(window->isVisible() && a.form->isVisible() && !window->isMinimized());

    QPointer<QMdiSubWindow> frame = window;
    delete a.form;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(frame.isNull()) << "a freed screen takes its frame along";
}

// A screen whose grid lacks room for its columns beside the vertical scroll bar opens wider by
// just that, once; its height stays and a screen whose grid fits keeps its design size.
TEST(ScreenHosting, ScreenOpensWideEnoughToShowEveryColumnOfItsGrid)
{
    Shell shell;
    CountedScreen fits(QStringLiteral("Tela A"));
    auto *small = fits.form->findChild<TDBGrid *>(QStringLiteral("dbgPadrao"));
    small->addColumn(QStringLiteral("A"))->setWidth(200);
    showScreen(fits.form);
    EXPECT_EQ(fits.form->size(), QSize(542, 371));

    CountedScreen wide(QStringLiteral("Tela B"));
    auto *grid = wide.form->findChild<TDBGrid *>(QStringLiteral("dbgPadrao"));
    for (int width : {67, 249, 64, 63, 70, 20})
        grid->addColumn(QStringLiteral("C%1").arg(width))->setWidth(width);
    EXPECT_EQ(grid->columnsWidth(), 533) << "a 20-pixel column keeps its width against the style's minimum";
    QMdiSubWindow *window = showScreen(wide.form);
    EXPECT_GT(wide.form->width(), 542);
    EXPECT_EQ(wide.form->height(), 371);
    EXPECT_EQ(grid->width(), grid->widthShowingColumns());
    EXPECT_EQ(grid->horizontalHeader()->length(), 533);
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible()) << "an empty grid whose columns fit has no scroll bar";

    const QSize opened = wide.form->size();
    window->resize(400, 300);
    showScreen(wide.form);
    EXPECT_EQ(window->size(), QSize(400, 300)) << "a size the user gave stays when the screen comes forward";
    EXPECT_NE(wide.form->size(), opened);
}

// Minimising, maximising and restoring a screen is no focus change of its controls: the
// company panel's exit does not run (with an empty field it would say "Empresa deve ser
// informada."), and the focus comes back to the field it left. Real moves still run every event.
TEST(ScreenWindowState, ChangesRunNoExitOrEnterAndTheFocusComesBackWhereItWas)
{
    Shell shell;
    CountedScreen screen(QStringLiteral("Tela A"));
    auto *panel = new TPanel(screen.form);
    panel->setObjectName(QStringLiteral("panEmpresa"));
    panel->setGeometry(5, 40, 300, 40);
    auto *company = new TMaskEdit(panel);
    company->setObjectName(QStringLiteral("medCdEmpresa"));
    company->setGeometry(5, 5, 60, 22);
    auto *grid = screen.form->findChild<TDBGrid *>(QStringLiteral("dbgPadrao"));
    ASSERT_NE(grid, nullptr);
    QStringList log;
    QStringList errors;
    panel->onExit = [&](QObject *) {
        log << QStringLiteral("panEmpresa.exit");
        if (company->text().isEmpty())
            errors << QStringLiteral("Empresa deve ser informada.");
    };
    company->onExit = [&](QObject *) { log << QStringLiteral("medCdEmpresa.exit"); };
    company->onEnter = [&](QObject *) { log << QStringLiteral("medCdEmpresa.enter"); };
    grid->onEnter = [&](QObject *) { log << QStringLiteral("dbgPadrao.enter"); };

    QMdiSubWindow *window = showScreen(screen.form);
    focusControl(company);
    Shell::waitUntil([&] { return QApplication::focusWidget() == company; });
    ASSERT_EQ(QApplication::focusWidget(), company);
    log.clear();

    const auto settle = [] { Shell::waitUntil([] { return false; }); };
    window->showMinimized();
    settle();
    EXPECT_TRUE(window->isMinimized());
    window->showNormal();
    settle();
    window->showMaximized();
    settle();
    window->showNormal();
    settle();
    screen.form->setWindowState(Qt::WindowMinimized); // the form's own state, as code may set it
    screen.form->setWindowState(Qt::WindowNoState);
    window->showMinimized();
    settle();
    showScreen(screen.form); // opening it again restores it
    settle();

    EXPECT_TRUE(log.isEmpty()) << log.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char(',')).toStdString();
    EXPECT_EQ(screen.form->focusedControl(), QStringLiteral("medCdEmpresa"));
    EXPECT_EQ(QApplication::focusWidget(), company);
    EXPECT_EQ(screen.activations, 1) << "a state change is not an activation";

    // The next real move runs the whole chain.
    focusControl(grid);
    EXPECT_EQ(log, QStringList({QStringLiteral("medCdEmpresa.exit"), QStringLiteral("panEmpresa.exit"),
                                QStringLiteral("dbgPadrao.enter")}));
    EXPECT_EQ(errors, QStringList{QStringLiteral("Empresa deve ser informada.")});
}

// With a data folder, a screen comes back where its operator left it (inside the area when the
// area is smaller now), with its grid's columns; each operator keeps their own.
TEST(ScreenLayout, ComesBackAsTheOperatorLeftItInsideTheArea)
{
    Shell shell;
    QTemporaryDir dir;
    ShellContext &context = ShellContext::instance();
    context.setDataDir(dir.path());
    context.setOperador(QStringLiteral("ana"));
    const auto open = [] {
        auto *screen = createForm<TfrmPadrao>();
        screen->findChild<TDBGrid *>(QStringLiteral("dbgPadrao"))->addColumn(QStringLiteral("A"))->setWidth(80);
        return screen;
    };

    QPointer<TfrmPadrao> first = open();
    QMdiSubWindow *window = showScreen(first);
    window->setGeometry(40, 30, 600, 400);
    first->findChild<TDBGrid *>(QStringLiteral("dbgPadrao"))->resizeColumn(QStringLiteral("A"), 150);
    delete first;

    TfrmPadrao *again = open();
    window = showScreen(again);
    EXPECT_EQ(window->geometry(), QRect(40, 30, 600, 400));
    EXPECT_EQ(again->findChild<TDBGrid *>(QStringLiteral("dbgPadrao"))->columnLayout(), QStringList{QStringLiteral("A=150")});
    window->setGeometry(500, 400, 700, 500); // past the area's corner
    delete again;

    TfrmPadrao *clamped = open();
    const QRect room = shell.area->viewport()->rect();
    EXPECT_TRUE(room.contains(showScreen(clamped)->geometry())) << "inside the area";
    delete clamped;

    context.setOperador(QStringLiteral("bia"));
    TfrmPadrao *other = open();
    EXPECT_NE(showScreen(other)->geometry(), QRect(40, 30, 600, 400)) << "another operator's own layout";
    EXPECT_EQ(other->findChild<TDBGrid *>(QStringLiteral("dbgPadrao"))->columnLayout(), QStringList{QStringLiteral("A=80")});
    delete other;
    context.setDataDir(QString());
}

// The shell's icons read their files when first drawn; they draw what Qt's own icon of the
// file draws, disabled too and at a high-DPI ratio, and a name without one has none.
TEST(ShellIcons, DrawWhatTheirFilesDraw)
{
    const QIcon icon = componentIcon(QStringLiteral("sbtConfirmar"));
    const QIcon file(QStringLiteral(":/icons/confirm.svg"));
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(componentIcon(QStringLiteral("sbtSemIcone")).isNull());
    for (const qreal ratio : {1.0, 2.0})
        for (const QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled})
            EXPECT_EQ(icon.pixmap(QSize(16, 16), ratio, mode).toImage(), file.pixmap(QSize(16, 16), ratio, mode).toImage())
                << "ratio " << ratio << ", mode " << mode;
}

namespace {

// A server that answers the health check and then holds every call until the client goes.
class HoldingServer
{
public:
    HoldingServer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&addr), len);
        ::listen(m_listener, 1);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
        m_thread = std::thread([this] {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            std::string in;
            char buf[4096];
            ssize_t n;
            while (in.find("\r\n\r\n") == std::string::npos && (n = ::recv(fd, buf, sizeof buf, 0)) > 0)
                in.append(buf, size_t(n));
            const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
            ::send(fd, ok.data(), ok.size(), MSG_NOSIGNAL);
            while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
            }
            clientWent = true;
            ::close(fd);
        });
    }
    ~HoldingServer()
    {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        ::close(m_listener);
    }
    int port = 0;
    std::atomic<bool> clientWent{false};

private:
    int m_listener = -1;
    std::thread m_thread;
};

} // namespace

// Through the window system, as a user does: closing the main window is held off while a call
// waits, and a click on the overlay's Cancelar ends the call, dropping its connection.
TEST(ServerWaitOverlay, TheWindowStaysAndCancelarEndsTheCall)
{
    Shell shell;
    HoldingServer server;
    NetConnection net;
    net.setServerName(QStringLiteral("REC00800.rdmRecCont"));
    net.setPort(server.port);
    net.describeCall(QStringLiteral("GetContRec"), QStringLiteral("Lendo contas a receber..."), true);
    bool stayed = false;
    setServerWaitHook([&](Form *overlay) {
        shell.window.close();
        QApplication::processEvents();
        stayed = shell.window.isVisible();
        auto *cancel = overlay->findChild<QPushButton *>(QStringLiteral("btnCancelar"));
        ASSERT_TRUE(cancel && cancel->isEnabled());
        QTest::mouseClick(shell.window.windowHandle(), Qt::LeftButton, {},
                          cancel->mapTo(&shell.window, cancel->rect().center()));
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(net.call(QStringLiteral("GetContRec")), Abort);
    setServerWaitHook(nullptr);
    EXPECT_TRUE(stayed);
    EXPECT_LT(clock.elapsed(), 20000) << "the cancel, not the timeout, ended it";
    // the server's thread sees the connection end when the machine lets it run
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.clientWent.load(); }, 5000));
}
