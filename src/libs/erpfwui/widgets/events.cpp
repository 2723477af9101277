#include "events.h"

#include <erpfw/core/messageservice.h>

#include <QCoreApplication>
#include <QTimer>

namespace erp {

bool dispatch(const std::function<void()> &handler)
{
    if (std::exception_ptr error = capture(handler)) {
        try {
            handleException(error);
        } catch (...) {
            // A presenter that fails must not take the event loop down with it.
        }
        return false;
    }
    return true;
}

std::exception_ptr capture(const std::function<void()> &code)
{
    try {
        code();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

void reportLater(std::exception_ptr error)
{
    QTimer::singleShot(0, QCoreApplication::instance(), [error] { dispatch([&] { std::rethrow_exception(error); }); });
}

} // namespace erp
