#include "focus.h"

#include <erpfw/core/messageservice.h>

#include <QApplication>
#include <QTimer>
#include <QWindowStateChangeEvent>

#include <utility>

namespace erp {
namespace {

const char kScopeProperty[] = "erpFocusScope";
// Handlers that keep moving the focus back and forth must not hang the application.
constexpr int kMaxTransitions = 32;

bool startsWith(const QList<QPointer<QWidget>> &path, const QList<QPointer<QWidget>> &prefix)
{
    if (prefix.size() > path.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i)
        if (prefix[i] != path[i])
            return false;
    return true;
}

} // namespace

FocusEvents::~FocusEvents() = default;

FocusManager &FocusManager::instance()
{
    static FocusManager *manager = new FocusManager; // lives as long as the application
    return *manager;
}

FocusManager::FocusManager()
{
    connect(qApp, &QApplication::focusChanged, this, &FocusManager::focusChanged);
}

void FocusManager::setScope(QWidget *root)
{
    root->setProperty(kScopeProperty, true);
    root->installEventFilter(&instance());
}

bool FocusManager::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::WindowStateChange || !watched->isWidgetType())
        return false;
    constexpr Qt::WindowStates sizeStates = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    auto *root = static_cast<QWidget *>(watched);
    const auto *change = static_cast<QWindowStateChangeEvent *>(event);
    if (((change->oldState() ^ root->windowState()) & sizeStates) && !m_settling.contains(root)) {
        // Qt hides, shows and refocuses the form's widgets until the change is done.
        m_settling.insert(root);
        QTimer::singleShot(0, this, [this, root, form = QPointer<QWidget>(root)] {
            m_settling.remove(root);
            if (form)
                settled(form);
        });
    }
    return false;
}

QWidget *FocusManager::scopeOf(QWidget *widget)
{
    for (QWidget *w = widget; w; w = w->parentWidget()) {
        if (w->property(kScopeProperty).toBool() || w->isWindow())
            return w;
    }
    return nullptr;
}

QWidget *FocusManager::currentFocus(QWidget *root)
{
    QWidget *focus = root->window()->focusWidget();
    if (focus && (focus == root || root->isAncestorOf(focus)) && scopeOf(focus) == root)
        return focus;
    return nullptr;
}

QWidget *FocusManager::logicalControl(QWidget *focus, QWidget *root)
{
    for (QWidget *w = focus; w && w != root; w = w->parentWidget()) {
        if (auto *events = dynamic_cast<FocusEvents *>(w))
            return events->isFocusContainer() ? focus : w;
    }
    return focus;
}

QList<QPointer<QWidget>> FocusManager::containersOf(QWidget *control, QWidget *root)
{
    QList<QPointer<QWidget>> path;
    if (!control)
        return path;
    for (QWidget *w = control->parentWidget(); w && w != root; w = w->parentWidget()) {
        auto *events = dynamic_cast<FocusEvents *>(w);
        if (events && events->isFocusContainer())
            path.prepend(w);
    }
    return path;
}

QWidget *FocusManager::currentControl(QWidget *widget) const
{
    QWidget *root = scopeOf(widget);
    auto it = m_scopes.constFind(root);
    return it == m_scopes.cend() ? nullptr : it->control.data();
}

void FocusManager::focusChanged(QWidget *, QWidget *now)
{
    if (now)
        if (QWidget *root = scopeOf(now))
            sync(root);
}

void FocusManager::moveFocus(QWidget *widget)
{
    QWidget *root = scopeOf(widget);
    if (m_busy || !root || !root->isVisible()) {
        // Inside a chain the running chain follows the move; a hidden form gets its events
        // when it is shown and the control really takes the focus.
        widget->setFocus(Qt::OtherFocusReason);
        return;
    }
    const bool outer = !m_fromCode;
    m_fromCode = true;
    widget->setFocus(Qt::OtherFocusReason);
    sync(root); // an inactive window hears no focus change from Qt
    if (!outer)
        return;
    m_fromCode = false;
    if (std::exception_ptr error = std::exchange(m_captured, nullptr))
        std::rethrow_exception(error);
}

// While the form's window state changes, the focus goes back to the form's own control without
// any event. False when that control can no longer take it.
bool FocusManager::keepControl(QWidget *root, Scope &scope)
{
    QWidget *control = scope.control;
    if (!control || !control->isVisible() || !control->isEnabled() || control->focusPolicy() == Qt::NoFocus)
        return !root->isVisible() && control; // hidden with the form: it comes back with it
    QWidget *target = logicalControl(currentFocus(root), root);
    if (target && target != control) {
        m_busy = true;
        control->setFocus(Qt::OtherFocusReason);
        m_busy = false;
    }
    return true;
}

void FocusManager::settled(QWidget *root)
{
    auto it = m_scopes.find(root);
    if (it == m_scopes.end() || m_busy || !keepControl(root, *it))
        sync(root);
}

FocusManager::Hold::Hold()
{
    ++instance().m_holds;
}

FocusManager::Hold::~Hold()
{
    FocusManager &m = instance();
    if (--m.m_holds == 0 && !m.m_held.isEmpty())
        // the screen code that made the call is still running: after it, from the event loop
        QMetaObject::invokeMethod(&m, &FocusManager::runHeld, Qt::QueuedConnection);
}

void FocusManager::runHeld()
{
    const QList<QPointer<QWidget>> held = std::exchange(m_held, {});
    for (const QPointer<QWidget> &root : held)
        if (root)
            sync(root); // held again if another call is out by now
}

void FocusManager::sync(QWidget *root)
{
    if (m_busy)
        return; // the running chain re-reads the focus after each handler
    if (m_holds > 0 && !m_fromCode) {
        if (!m_held.contains(root))
            m_held.append(root);
        return;
    }
    if (!m_scopes.contains(root))
        connect(root, &QObject::destroyed, this, [this, root] { m_scopes.remove(root); });
    Scope &scope = m_scopes[root];
    if (!m_fromCode && m_settling.contains(root) && keepControl(root, scope))
        return;
    m_busy = true;
    for (int i = 0; i < kMaxTransitions; ++i) {
        QWidget *target = logicalControl(currentFocus(root), root);
        if (!target || target == scope.control)
            break;
        transition(root, scope);
    }
    m_busy = false;
}

// Returns false when the handler raised; the exception goes to the caller of moveFocus, or
// to the default handling when the user moved the focus.
bool FocusManager::run(QWidget *control, bool enter)
{
    auto *events = dynamic_cast<FocusEvents *>(control);
    if (!events)
        return true;
    const NotifyEvent &handler = enter ? events->onEnter : events->onExit;
    if (!handler)
        return true;
    std::exception_ptr error = capture([&] { handler(control); });
    if (!error)
        return true;
    if (m_fromCode && !m_captured)
        m_captured = error;
    else if (!m_fromCode)
        dispatch([&] { std::rethrow_exception(error); });
    return false;
}

void FocusManager::transition(QWidget *root, Scope &scope)
{
    auto focusTarget = [root] { return logicalControl(currentFocus(root), root); };
    QPointer<QWidget> target = focusTarget();

    // The chain ends: the focus stays where the handler put it, or goes back to where it was.
    auto stop = [&](QWidget *back) {
        if (back && focusTarget() == target)
            back->setFocus(Qt::OtherFocusReason);
        scope.control = focusTarget();
    };

    const QPointer<QWidget> previous = scope.control;
    if (QPointer<QWidget> old = scope.control) {
        if (!run(old, false)) {
            stop(old);
            return;
        }
        scope.control = nullptr;
        if (!old)
            return;
        target = focusTarget();
        if (target == old) { // the handler kept the focus
            scope.control = old;
            return;
        }
    }

    QList<QPointer<QWidget>> path = containersOf(target, root);
    while (!startsWith(path, scope.containers)) {
        QPointer<QWidget> left = scope.containers.last();
        if (left && !run(left, false)) {
            stop(previous);
            return;
        }
        scope.containers.removeLast();
        target = focusTarget();
        path = containersOf(target, root);
    }
    while (scope.containers.size() < path.size()) {
        QPointer<QWidget> entered = path[scope.containers.size()];
        scope.containers.append(entered);
        if (entered && !run(entered, true)) {
            scope.control = focusTarget();
            return;
        }
        target = focusTarget();
        path = containersOf(target, root);
        if (!startsWith(path, scope.containers))
            return; // the handler sent the focus out again: the next transition leaves
    }
    scope.control = target;
    if (target)
        run(target, true);
}

} // namespace erp
