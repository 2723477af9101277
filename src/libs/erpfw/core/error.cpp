#include "error.h"

namespace erp {

Error::Error(QString message)
    : m_message(std::move(message))
    , m_utf8(m_message.toUtf8())
{}

const char *Error::what() const noexcept
{
    return m_utf8.constData();
}

const char *Abort::what() const noexcept
{
    return "Operação cancelada.";
}

void abortSilently()
{
    throw Abort();
}

} // namespace erp
