#pragma once

#include <erpfwui/erpfwui_global.h>

class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QWidget;

namespace erp {

// The shell's main window and the MDI area that hosts the screens. The application registers
// them once at start; null before that (a screen driven without the shell).
ERPFWUI_EXPORT void setShellWindow(QMainWindow *mainWindow, QMdiArea *mdiArea);
ERPFWUI_EXPORT QMainWindow *shellMainWindow();
ERPFWUI_EXPORT QMdiArea *shellMdiArea();

// Hosts the screen as an MDI child on its first call, then shows it in normal state in front,
// so a minimised screen comes back and an open one is brought forward. Closing the child
// closes the screen; a screen that is destroyed takes its child window along.
// Throws erp::Error when no MDI area is registered.
ERPFWUI_EXPORT QMdiSubWindow *showScreen(QWidget *screen);

// The MDI child that hosts the screen, or null.
ERPFWUI_EXPORT QMdiSubWindow *screenWindow(const QWidget *screen);

} // namespace erp
