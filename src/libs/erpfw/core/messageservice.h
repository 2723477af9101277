#pragma once

#include <erpfw/erpfw_global.h>

#include <QFlags>
#include <QString>

#include <exception>

namespace erp {

enum class DialogType { Error, Warning, Information, Confirmation };

enum class Button { None = 0, Yes = 1, No = 2, OK = 4, Cancel = 8 };
Q_DECLARE_FLAGS(Buttons, Button)
Q_DECLARE_OPERATORS_FOR_FLAGS(Buttons)

ERPFW_EXPORT QString dialogTypeName(DialogType type); // "error", "warning", "information", "confirmation"
ERPFW_EXPORT QString buttonName(Button button);       // "Yes", "No", "OK", "Cancel", ""

// Shows one message dialog and gives the button pressed. The widgets library installs a
// message-box presenter; scripted runs install one that records and answers from a queue.
class ERPFW_EXPORT MessagePresenter
{
public:
    virtual ~MessagePresenter();
    virtual Button present(DialogType type, const QString &text, Buttons buttons) = 0;
};

// The one way message dialogs go, so that every message can be seen and answered by scripts.
class ERPFW_EXPORT MessageService
{
public:
    // Not owned. nullptr restores the default presenter (standard error; answers the first
    // of OK, Yes, Cancel, No that the dialog offers).
    static void setPresenter(MessagePresenter *presenter);
    static MessagePresenter *presenter();

    static Button show(DialogType type, const QString &text, Buttons buttons = Button::OK);
    static Button ask(const QString &text, Buttons buttons = Buttons(Button::Yes) | Button::No);
};

// Shows the text as an error once, then raises the silent abort, so nothing shows it twice.
[[noreturn]] ERPFW_EXPORT void mensErro(const QString &text);
// The same; with raise false it only shows the text and returns.
ERPFW_EXPORT void mensErro(const QString &text, bool raise);

// The shell's default handling of an exception that ends a handler: Abort shows nothing,
// anything else shows its message once as an error.
ERPFW_EXPORT void handleException(std::exception_ptr error);

} // namespace erp
