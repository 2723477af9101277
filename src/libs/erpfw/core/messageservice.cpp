#include "messageservice.h"

#include "deferredwork.h"
#include "error.h"

#include <erpwire/packet.h>

#include <cstdio>

namespace erp {

QString dialogTypeName(DialogType type)
{
    switch (type) {
    case DialogType::Error: return QStringLiteral("error");
    case DialogType::Warning: return QStringLiteral("warning");
    case DialogType::Information: return QStringLiteral("information");
    case DialogType::Confirmation: return QStringLiteral("confirmation");
    }
    return {};
}

QString buttonName(Button button)
{
    switch (button) {
    case Button::Yes: return QStringLiteral("Yes");
    case Button::No: return QStringLiteral("No");
    case Button::OK: return QStringLiteral("OK");
    case Button::Cancel: return QStringLiteral("Cancel");
    case Button::None: break;
    }
    return {};
}

MessagePresenter::~MessagePresenter() = default;

namespace {

// Without a user interface: the message goes to standard error and the harmless button
// is taken.
class StderrPresenter : public MessagePresenter
{
public:
    Button present(DialogType type, const QString &text, Buttons buttons) override
    {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(dialogTypeName(type)), qPrintable(text));
        for (Button b : {Button::OK, Button::Yes, Button::Cancel, Button::No})
            if (buttons.testFlag(b))
                return b;
        return Button::None;
    }
};

StderrPresenter g_stderrPresenter;
MessagePresenter *g_presenter = nullptr;

} // namespace

void MessageService::setPresenter(MessagePresenter *presenter)
{
    g_presenter = presenter;
}

MessagePresenter *MessageService::presenter()
{
    return g_presenter ? g_presenter : &g_stderrPresenter;
}

Button MessageService::show(DialogType type, const QString &text, Buttons buttons)
{
    DeferredViewWork::runPending(); // the screen under the message as it stands
    return presenter()->present(type, text, buttons);
}

Button MessageService::ask(const QString &text, Buttons buttons)
{
    return show(DialogType::Confirmation, text, buttons);
}

void mensErro(const QString &text)
{
    MessageService::show(DialogType::Error, text, Button::OK);
    abortSilently();
}

void mensErro(const QString &text, bool raise)
{
    if (raise)
        mensErro(text);
    MessageService::show(DialogType::Error, text, Button::OK);
}

void handleException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Abort &) {
    } catch (const Error &e) {
        MessageService::show(DialogType::Error, e.message());
    } catch (const wire::WireError &e) {
        MessageService::show(DialogType::Error, e.message());
    } catch (const std::exception &e) {
        MessageService::show(DialogType::Error, QString::fromUtf8(e.what()));
    } catch (...) {
        MessageService::show(DialogType::Error, QStringLiteral("Erro inesperado."));
    }
}

} // namespace erp
