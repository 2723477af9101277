#pragma once

#include <erpfw/erpfw_global.h>

#include <QDate>
#include <QString>

namespace erp {

// What the shell knows about the session: server address, branch, operator, credentials,
// database and data folder. Filled once by the shell at start-up; read by every screen.
class ERPFW_EXPORT ShellContext
{
public:
    static ShellContext &instance();

    QString webUrl() const { return m_webUrl; }
    void setWebUrl(const QString &host) { m_webUrl = host; }
    int webPort() const { return m_webPort; }
    void setWebPort(int port) { m_webPort = port; }
    QString filiProc() const { return m_filiProc; }
    void setFiliProc(const QString &branch) { m_filiProc = branch; }
    QString operador() const { return m_operador; }
    void setOperador(const QString &name) { m_operador = name; }
    QString password() const { return m_password; }
    void setPassword(const QString &password) { m_password = password; }
    // When set, server calls carry it as a bearer token instead of the operator's password.
    QString token() const { return m_token; }
    void setToken(const QString &token) { m_token = token; }
    // TLS: the authorities that vouch for an https server; empty: the system's.
    QString caFile() const { return m_caFile; }
    void setCaFile(const QString &file) { m_caFile = file; }
    // gzip bodies to and from the server; Auto: everywhere but on loopback.
    enum class Compression { Auto, On, Off };
    Compression compression() const { return m_compression; }
    void setCompression(Compression c) { m_compression = c; }
    QString dbUrl() const { return m_dbUrl; }
    void setDbUrl(const QString &url) { m_dbUrl = url; }
    QString dataDir() const { return m_dataDir; }
    void setDataDir(const QString &dir) { m_dataDir = dir; }
    // An invalid date means "the system date".
    QDate todayOverride() const { return m_today; }
    void setTodayOverride(QDate date) { m_today = date; }

private:
    ShellContext() = default;
    QString m_webUrl;
    int m_webPort = 0;
    QString m_filiProc;
    QString m_operador;
    QString m_password;
    QString m_token;
    QString m_caFile;
    Compression m_compression = Compression::Auto;
    QString m_dbUrl;
    QString m_dataDir;
    QDate m_today;
};

// The date the screens take as today: the --today override, or the system date.
ERPFW_EXPORT QDate today();

// The shell's functions under the names the screens know.
ERPFW_EXPORT QString webUrl();
ERPFW_EXPORT int webPort();
ERPFW_EXPORT QString filiProc();
ERPFW_EXPORT QString operador();

} // namespace erp
