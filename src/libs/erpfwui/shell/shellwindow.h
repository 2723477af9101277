#pragma once

#include <erpfwui/erpfwui_global.h>

class QMainWindow;
class QMdiArea;
class QMdiSubWindow;
class QWidget;

namespace erp {

class Form;

// The shell's main window and the MDI area that hosts the screens. The application registers
// them once at start; null before that (a screen driven without the shell). While a main
// window is registered, server calls wait with the shell's wait overlay (waitoverlay.h).
ERPFWUI_EXPORT void setShellWindow(QMainWindow *mainWindow, QMdiArea *mdiArea);
ERPFWUI_EXPORT QMainWindow *shellMainWindow();
ERPFWUI_EXPORT QMdiArea *shellMdiArea();

// Hosts the screen as an MDI child on its first call, then shows it in normal state in front,
// so a minimised screen comes back and an open one is brought forward. The child follows the
// screen's close action (freed, hidden, minimised or kept) and goes when the screen is freed.
// The screen's activate() runs on real activations only: its first showing and a switch from
// another screen, never the return from a message box or a modal dialog.
// Throws erp::Error when no MDI area is registered.
ERPFWUI_EXPORT QMdiSubWindow *showScreen(Form *screen);

// The MDI child that hosts the screen, or null.
ERPFWUI_EXPORT QMdiSubWindow *screenWindow(const QWidget *screen);

// Moves the screen's MDI child, when not maximised, so that the whole of it is in view: the
// area places a new child where it overlaps least, which may be past the area's right edge.
ERPFWUI_EXPORT void keepInView(QWidget *screen);

} // namespace erp
