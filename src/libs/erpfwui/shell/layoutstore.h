#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QString>

class QMainWindow;
class QMdiSubWindow;
class QSettings;

namespace erp {

class Form;

// Where each operator's window sizes and grid columns are kept:
// <data folder>/opcoes/<operator>/janelas.ini, or nothing without a data folder (a screen
// driven without the shell remembers nothing and keeps its design).
ERPFWUI_EXPORT QString layoutFile();

// The main window comes back with the size and place it had, and keeps them from now on.
ERPFWUI_EXPORT void rememberMainWindow(QMainWindow *window);

// Gives the screen's grids the columns its operator left them with and, from now on, keeps
// every change of them and of the screen's window. True when a window geometry was restored;
// otherwise the grids show every title whole (the first opening) and the caller sizes the
// window.
ERPFWUI_EXPORT bool rememberScreenLayout(QMdiSubWindow *window, Form *screen);

} // namespace erp
