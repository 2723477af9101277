#pragma once

#include <erpfwui/erpfwui_global.h>

namespace erp {

// Screen cursor codes as the screens pass them.
enum ScreenCursorCode : int { crDefault = 0, crHourGlass = -11 };

// The cursor shown over the whole application; crDefault lets each widget show its own.
// An unknown code is an erp::Error naming it.
ERPFWUI_EXPORT void setScreenCursor(int code);
ERPFWUI_EXPORT int screenCursor();

// The hourglass for the lifetime of the guard. The entries hold one so that the default cursor
// comes back on every way out, an exception included.
class ERPFWUI_EXPORT HourglassCursor
{
public:
    HourglassCursor();
    ~HourglassCursor();
    HourglassCursor(const HourglassCursor &) = delete;
    HourglassCursor &operator=(const HourglassCursor &) = delete;
};

} // namespace erp
