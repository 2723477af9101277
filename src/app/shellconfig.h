#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

namespace erp::app {

// How the shell was asked to run: the settings file first, the command line over it.
struct ShellConfig
{
    QString configFile;   // the settings file read, empty when there was none
    QString dbUrl;        // empty: the demo database in dataDir
    QString serverHost;   // empty: the application server runs in-process
    int serverPort = 0;
    bool serverTls = false; // https://
    QString caFile;       // TLS: the authorities trusted; empty: the system's
    QString gzip = QStringLiteral("auto"); // auto (off on loopback), on, off
    QString operatorName;
    QString password;
    QString token;        // when set, server calls carry it (Bearer) instead of the password
    QString branch;
    QDate today;          // invalid: the system date
    QString dataDir;      // empty: the user's application data folder
    QString scriptFile;
    QString openCode = QStringLiteral("REC00800");
    QString screenshotFile;
    QStringList warnings; // for standard error: secrets kept where others may read them
};

// The settings file used when --config is not given.
QString defaultConfigFile();

// arguments as QCoreApplication gives them (program name first, Qt's own options removed).
// Throws erp::Error with a message in Portuguese for an unknown option, a missing or bad
// value, or an unreadable settings file.
ShellConfig parseShellConfig(const QStringList &arguments);

// What --help and --version print (an application object must exist).
QString usageText();
QString versionText();

} // namespace erp::app
