#include <erpfwui/forms/form.h>
#include <erpfwui/screens/tfrmfiltropadrao.h>
#include <erpfwui/screens/tfrmpadrao.h>
#include <erpfwui/shell/shellwindow.h>

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

using namespace erp;

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
