#pragma once

#include <erpfwui/erpfwui_global.h>

#include <erpfw/core/messageservice.h>

namespace erp {

// Message dialogs as message boxes with Portuguese buttons and the icon of their type.
class ERPFWUI_EXPORT MessageBoxPresenter : public MessagePresenter
{
public:
    Button present(DialogType type, const QString &text, Buttons buttons) override;
};

} // namespace erp
