#include "shellapplication.h"

#include <erpfw/core/messageservice.h>

namespace erp::app {

ShellApplication::ShellApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool ShellApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        handleException(std::current_exception());
        return false;
    }
}

} // namespace erp::app
