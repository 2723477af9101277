#include "windowlock.h"

#include <QPointer>
#include <QWidget>

namespace erp {
namespace {

QPointer<QWidget> g_locked;

} // namespace

bool LockWindowUpdate(QWidget *window)
{
    if (!window) {
        if (QWidget *locked = g_locked.data())
            locked->setUpdatesEnabled(true);
        g_locked = nullptr;
        return true;
    }
    if (g_locked)
        return g_locked == window;
    g_locked = window;
    window->setUpdatesEnabled(false);
    return true;
}

QWidget *lockedWindow()
{
    return g_locked.data();
}

} // namespace erp
