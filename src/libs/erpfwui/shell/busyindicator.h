#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QStringList>

class QWidget;

namespace erp {

// The busy animation over the main window while a long synchronous call runs. A second show
// only changes the kind; a hide with nothing shown does nothing. A null mainForm means the
// shell's main window.
ERPFWUI_EXPORT void ActiveShowAvi(QWidget *mainForm, int kind);
ERPFWUI_EXPORT void DeactiveShowAvi();

ERPFWUI_EXPORT bool busyAnimationVisible();

// Every call so far, oldest first: "show:<kind>" and "hide" (for scripted runs and support).
ERPFWUI_EXPORT QStringList busyEvents();
ERPFWUI_EXPORT void clearBusyEvents();

} // namespace erp
