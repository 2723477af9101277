#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QString>

class QWidget;

namespace erp {

// The manual page of the screen that holds the widget: ":/help/<code>.html" for the screen code
// its lblCodTela shows (each module ships its screens' pages), else the shell's own page.
ERPFWUI_EXPORT QString helpPage(const QWidget *from);

// Shows that page in the help window (form frmAjuda), which stays usable over a modal dialog.
ERPFWUI_EXPORT void showHelp(QWidget *from);

// From now on F1 shows the help of the screen that has the focus, wherever the focus is.
ERPFWUI_EXPORT void installHelpKey();

} // namespace erp
