#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QFlags>
#include <QMetaType>
#include <QObject>
#include <QRect>

#include <functional>
#include <utility>

namespace erp {

class GridColumn;

// The keyboard state of a key or mouse event, as handlers see it.
enum class ShiftKey { Shift = 1, Alt = 2, Ctrl = 4, Left = 8, Right = 16, Middle = 32, Double = 64 };
Q_DECLARE_FLAGS(ShiftState, ShiftKey)
Q_DECLARE_OPERATORS_FOR_FLAGS(ShiftState)

// What closing a form does, as its close handler decides.
enum class CloseAction { None, Hide, Free, Minimize };

enum class GridDrawFlag { Selected = 1, Focused = 2, Fixed = 4 };
Q_DECLARE_FLAGS(GridDrawState, GridDrawFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(GridDrawState)

// Handler types of the controls' events. A control fires an event with fire(): from code the
// exception of a handler goes on to the caller; from the event loop the control runs it
// through dispatch().
using NotifyEvent = std::function<void(QObject *sender)>;
using KeyPressEvent = std::function<void(QObject *sender, QChar &key)>;
using KeyEvent = std::function<void(QObject *sender, int &key, ShiftState shift)>;
using CloseEvent = std::function<void(QObject *sender, CloseAction &action)>;
using BeforePesqEvent = std::function<void(QObject *sender, bool &proceed)>;
using DrawColumnCellEvent = std::function<void(QObject *sender, const QRect &rect, int dataCol,
                                               GridColumn *column, GridDrawState state)>;
using TitleClickEvent = std::function<void(GridColumn *column)>;

template <typename Fn, typename... Args>
void fire(const Fn &handler, Args &&...args)
{
    if (handler)
        handler(std::forward<Args>(args)...);
}

// Runs a handler that the event loop reached: an exception never goes further. Abort ends it
// silently, anything else shows its message once. Returns whether the handler ran to its end.
ERPFWUI_EXPORT bool dispatch(const std::function<void()> &handler);

// Runs code whose exception must reach a caller outside Qt's frames: catches it and hands it
// back (nullptr when none).
ERPFWUI_EXPORT std::exception_ptr capture(const std::function<void()> &code);

// Hands an exception to the default handling once the event loop is free again: for code
// that runs where no dialog may open (painting, signals of the data).
ERPFWUI_EXPORT void reportLater(std::exception_ptr error);

} // namespace erp

Q_DECLARE_METATYPE(erp::ShiftState)
Q_DECLARE_METATYPE(erp::GridDrawState)
Q_DECLARE_METATYPE(erp::CloseAction)
