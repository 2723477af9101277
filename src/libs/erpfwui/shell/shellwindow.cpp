#include "shellwindow.h"

#include <erpfw/core/error.h>
#include <erpfwui/widgets/events.h>

#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>

namespace erp {
namespace {

// Turns the MDI area's activations into the screens' activations. The area also reports an
// activation when the application window regains the focus (after a message box or a modal
// dialog closed); those are not a switch of screens and are dropped.
class ActivationFilter final : public QObject
{
public:
    explicit ActivationFilter(QMdiArea *area)
        : QObject(area)
    {
        connect(area, &QMdiArea::subWindowActivated, this, &ActivationFilter::onActivated);
    }

    void onActivated(QMdiSubWindow *window)
    {
        if (!window || window == m_current)
            return;
        m_current = window;
        if (QWidget *screen = window->widget())
            activateScreen(screen);
    }

private:
    static void activateScreen(QWidget *screen)
    {
        dispatch([screen] { QMetaObject::invokeMethod(screen, "FormActivate", Qt::DirectConnection); });
    }

    QPointer<QMdiSubWindow> m_current;
};

QPointer<QMainWindow> g_mainWindow;
QPointer<QMdiArea> g_mdiArea;

const char *const kHostProperty = "_erp_mdiChild";

} // namespace

void setShellWindow(QMainWindow *mainWindow, QMdiArea *mdiArea)
{
    g_mainWindow = mainWindow;
    g_mdiArea = mdiArea;
    if (mdiArea)
        new ActivationFilter(mdiArea);
}

QMainWindow *shellMainWindow()
{
    return g_mainWindow;
}

QMdiArea *shellMdiArea()
{
    return g_mdiArea;
}

QMdiSubWindow *screenWindow(const QWidget *screen)
{
    return screen ? qobject_cast<QMdiSubWindow *>(screen->property(kHostProperty).value<QObject *>())
                  : nullptr;
}

QMdiSubWindow *showScreen(QWidget *screen)
{
    QMdiSubWindow *window = screenWindow(screen);
    if (!window) {
        if (!g_mdiArea)
            throw Error(QStringLiteral("A tela \"%1\" não pode ser mostrada: a janela principal do "
                                       "sistema não está aberta.")
                            .arg(screen->windowTitle()));
        const QSize size = screen->size();
        window = g_mdiArea->addSubWindow(screen);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowTitle(screen->windowTitle());
        window->setWindowIcon(screen->windowIcon());
        window->resize(window->sizeHint().expandedTo(size));
        screen->setProperty(kHostProperty, QVariant::fromValue<QObject *>(window));
        QObject::connect(screen, &QWidget::windowTitleChanged, window, &QWidget::setWindowTitle);
        // A screen that frees itself takes its frame along.
        QObject::connect(screen, &QObject::destroyed, window, &QObject::deleteLater);
    }
    window->showNormal();
    window->raise();
    g_mdiArea->setActiveSubWindow(window);
    return window;
}

} // namespace erp
