#include "keys.h"

#include <QKeyEvent>

#include <array>
#include <utility>

namespace erp {
namespace {

constexpr std::array<std::pair<int, int>, 14> kNamed{{
    {Qt::Key_Backspace, VK_BACK}, {Qt::Key_Tab, VK_TAB}, {Qt::Key_Return, VK_RETURN},
    {Qt::Key_Escape, VK_ESCAPE}, {Qt::Key_Space, VK_SPACE}, {Qt::Key_PageUp, VK_PRIOR},
    {Qt::Key_PageDown, VK_NEXT}, {Qt::Key_End, VK_END}, {Qt::Key_Home, VK_HOME},
    {Qt::Key_Left, VK_LEFT}, {Qt::Key_Up, VK_UP}, {Qt::Key_Right, VK_RIGHT},
    {Qt::Key_Down, VK_DOWN}, {Qt::Key_Delete, VK_DELETE},
}};

} // namespace

int virtualKey(int key)
{
    if (key == Qt::Key_Enter)
        return VK_RETURN;
    if (key == Qt::Key_Backtab)
        return VK_TAB;
    if (key == Qt::Key_Insert)
        return VK_INSERT;
    for (const auto &[qt, vk] : kNamed)
        if (qt == key)
            return vk;
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return key; // the same codes
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return VK_F1 + (key - Qt::Key_F1);
    return 0;
}

int qtKey(int vk)
{
    if (vk == VK_INSERT)
        return Qt::Key_Insert;
    for (const auto &[qt, code] : kNamed)
        if (code == vk)
            return qt;
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
        return vk;
    if (vk >= VK_F1 && vk <= VK_F12)
        return Qt::Key_F1 + (vk - VK_F1);
    return Qt::Key_unknown;
}

ShiftState shiftState(Qt::KeyboardModifiers modifiers)
{
    ShiftState state;
    if (modifiers & Qt::ShiftModifier)
        state |= ShiftKey::Shift;
    if (modifiers & Qt::AltModifier)
        state |= ShiftKey::Alt;
    if (modifiers & Qt::ControlModifier)
        state |= ShiftKey::Ctrl;
    return state;
}

bool keyDownConsumed(const KeyEvent &handler, QObject *sender, QKeyEvent *event)
{
    if (!handler)
        return false;
    int key = virtualKey(event->key());
    if (key == 0)
        return false;
    const bool ran = dispatch([&] { handler(sender, key, shiftState(event->modifiers())); });
    if (ran && key != 0)
        return false;
    event->accept();
    return true;
}

} // namespace erp
