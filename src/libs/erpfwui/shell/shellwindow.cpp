#include "shellwindow.h"

#include "layoutstore.h"
#include "waitoverlay.h"

#include <erpfw/core/error.h>
#include <erpfwui/forms/form.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/focus.h>

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
        if (auto *screen = qobject_cast<Form *>(window->widget()))
            screen->activate();
    }

private:
    QPointer<QMdiSubWindow> m_current;
};

QPointer<QMainWindow> g_mainWindow;
QPointer<QMdiArea> g_mdiArea;

const char *const kHostProperty = "_erp_mdiChild";

// The width a grid has, or would have on its page when that page is not the one shown: a
// hidden page is laid out as the page shown beside it.
int gridRoom(const TDBGrid *grid, const Form *screen)
{
    if (grid->isVisibleTo(screen))
        return grid->width();
    for (const QWidget *w = grid; w && w != screen; w = w->parentWidget()) {
        const QWidget *parent = w->parentWidget();
        if (w->isHidden() && parent && parent->isVisibleTo(screen)) {
            for (const QWidget *sibling : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                if (sibling != w && sibling->isVisibleTo(screen) && sibling->geometry().intersects(w->geometry()))
                    return grid->width() + sibling->width() - w->width();
            return -1;
        }
    }
    return -1;
}

// A screen's design width leaves no room for its grid's vertical scroll bar, and the mark
// column would hide under it: the screen opens wider by what its widest grid lacks to show
// every column, on every page, as far as the MDI area allows, growing leftwards where the area
// ends. Its height and its design data stay.
void widenToShowGrids(QMdiSubWindow *window, Form *screen)
{
    int missing = 0;
    for (const TDBGrid *grid : screen->findChildren<TDBGrid *>()) {
        if (grid->isHidden())
            continue;
        const int room = gridRoom(grid, screen);
        if (room >= 0)
            missing = qMax(missing, grid->widthShowingColumns() - room);
    }
    const int area = g_mdiArea->viewport()->width();
    missing = qMin(missing, area - window->width());
    if (missing <= 0)
        return;
    QRect geometry = window->geometry();
    const int past = geometry.right() + 1 + missing - area;
    geometry.moveLeft(qMax(0, geometry.left() - qMax(0, qMin(past, missing))));
    geometry.setWidth(geometry.width() + missing);
    window->setGeometry(geometry);
}

} // namespace

void setShellWindow(QMainWindow *mainWindow, QMdiArea *mdiArea)
{
    g_mainWindow = mainWindow;
    g_mdiArea = mdiArea;
    enableServerWaitOverlay(mainWindow != nullptr);
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

void keepInView(QWidget *screen)
{
    QMdiSubWindow *window = screenWindow(screen);
    if (!window || !g_mdiArea || window->isMaximized())
        return;
    const QRect room = g_mdiArea->viewport()->rect();
    QRect frame = window->geometry();
    frame.moveLeft(qMax(0, qMin(frame.left(), room.right() + 1 - frame.width())));
    frame.moveTop(qMax(0, qMin(frame.top(), room.bottom() + 1 - frame.height())));
    window->move(frame.topLeft());
}

QMdiSubWindow *showScreen(Form *screen)
{
    QMdiSubWindow *window = screenWindow(screen);
    const bool first = !window;
    if (!window) {
        if (!g_mdiArea)
            throw Error(QStringLiteral("A tela \"%1\" não pode ser mostrada: a janela principal do "
                                       "sistema não está aberta.")
                            .arg(screen->windowTitle()));
        const QSize size = screen->size();
        window = g_mdiArea->addSubWindow(screen);
        // The child follows the screen's own window state from its event filter; the focus
        // manager must hear the change before that filter acts on it.
        FocusManager::setScope(screen);
        window->setWindowTitle(screen->windowTitle());
        window->setWindowIcon(screen->windowIcon());
        window->resize(window->size() - window->contentsRect().size() + size);
        screen->setProperty(kHostProperty, QVariant::fromValue<QObject *>(window));
        QObject::connect(screen, &QWidget::windowTitleChanged, window, &QWidget::setWindowTitle);
        QObject::connect(screen, &Form::closedWith, window, [window](CloseAction action) {
            if (action == CloseAction::Minimize)
                window->showMinimized();
            else
                window->hide();
        });
        QObject::connect(screen, &QObject::destroyed, window, &QObject::deleteLater);
    }
    // A minimised screen is restored before it is shown, so that Qt's refocusing on the way
    // counts as the window state change it is and runs no exit or enter.
    if (window->isMinimized())
        window->showNormal();
    screen->show();
    window->showNormal();
    if (first && !rememberScreenLayout(window, screen))
        widenToShowGrids(window, screen);
    window->raise();
    g_mdiArea->setActiveSubWindow(window);
    return window;
}

} // namespace erp
