#pragma once

#include <erpfwui/erpfwui_global.h>

#include <functional>

namespace erp {

class Form;

// The shell's way of waiting for a server call (see ServerWait): the screen's code stays in
// its call, the shell keeps painting and the animations play, and no input reaches the
// screens. After half a second the form frmAguarde covers the main window: the spinner
// aniAguarde, what is happening and how far it got (lblAguarde), and btnCancelar (Esc too)
// for a call that can be cancelled. On while a main window is registered (setShellWindow).
ERPFWUI_EXPORT void enableServerWaitOverlay(bool on);

// hook(overlay) runs once inside each wait, when the overlay shows (scripted runs).
// nullptr removes it.
ERPFWUI_EXPORT void setServerWaitHook(std::function<void(Form *overlay)> hook);

} // namespace erp
