#pragma once

#include <erpfwui/widgets/events.h>

#include <Qt>

class QKeyEvent;

namespace erp {

// Handlers see the desktop toolkit's virtual key codes (32 Space, 13 Return, 65 "A", 112 F1).
enum VirtualKey {
    VK_BACK = 8, VK_TAB = 9, VK_RETURN = 13, VK_ESCAPE = 27, VK_SPACE = 32,
    VK_PRIOR = 33, VK_NEXT = 34, VK_END = 35, VK_HOME = 36,
    VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40,
    VK_INSERT = 45, VK_DELETE = 46, VK_F1 = 112, VK_F12 = 123,
};

// 0 for a key without a code.
ERPFWUI_EXPORT int virtualKey(int qtKey);
// Qt::Key_unknown for a code without a key.
ERPFWUI_EXPORT int qtKey(int virtualKey);
ERPFWUI_EXPORT ShiftState shiftState(Qt::KeyboardModifiers modifiers);

// Runs a control's key-down handler for a key event from the event loop; true when the
// handler consumed the key (set it to 0) or raised, so the control must not act on it.
ERPFWUI_EXPORT bool keyDownConsumed(const KeyEvent &handler, QObject *sender, QKeyEvent *event);

} // namespace erp
