#pragma once

#include <erpfwui/erpfwui_global.h>

class QWidget;

namespace erp {

// The desktop's painting lock: the window and its children stop painting until the lock is
// released with nullptr, then repaint once. One window at a time: locking another while one is
// locked fails and gives false. Releasing with nothing locked does nothing.
ERPFWUI_EXPORT bool LockWindowUpdate(QWidget *window);
ERPFWUI_EXPORT QWidget *lockedWindow();

} // namespace erp
