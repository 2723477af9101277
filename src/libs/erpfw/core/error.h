#pragma once

#include <erpfw/erpfw_global.h>

#include <QByteArray>
#include <QString>

#include <exception>

namespace erp {

// A failure the user is told about: the shell's default handling shows its message once.
class ERPFW_EXPORT Error : public std::exception
{
public:
    explicit Error(QString message);
    const QString &message() const { return m_message; }
    const char *what() const noexcept override;

private:
    QString m_message;
    QByteArray m_utf8;
};

// The silent abort: ends the current operation; the shell's default handling shows nothing.
class ERPFW_EXPORT Abort : public std::exception
{
public:
    const char *what() const noexcept override;
};

[[noreturn]] ERPFW_EXPORT void abortSilently();

} // namespace erp
