#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QIcon>

class QString;
class QWidget;

namespace erp {

// The shell's icon set. One table maps a component's name (a button, a menu item or a form)
// to its icon, so a button added to a form needs one line there.

// The icon of the component named so; a null icon when the table has none.
ERPFWUI_EXPORT QIcon componentIcon(const QString &name);

// Gives the form's window, and each of its buttons and menu items named in the table, its icon.
// Names and texts stay as they are.
ERPFWUI_EXPORT void applyComponentIcons(QWidget *form);

// The shell's own icon (windows that have none of their own show it).
ERPFWUI_EXPORT QIcon applicationIcon();

} // namespace erp
