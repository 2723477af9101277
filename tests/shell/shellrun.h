#pragma once

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace erp::shelltest {

struct ShellRun
{
    int status = -1;
    QString out;
    QString err;
};

// The real executable on the offscreen platform, with a config folder of its own so the
// user's settings stay out.
inline ShellRun runShell(const QStringList &args, const QString &configHome)
{
    QProcess shell;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    shell.setProcessEnvironment(env);
    shell.start(qEnvironmentVariable("ERP_BUILD_DIR") + QStringLiteral("/bin/erp-shell"), args);
    if (!shell.waitForFinished(120000)) {
        shell.kill();
        shell.waitForFinished();
    }
    return {shell.exitStatus() == QProcess::NormalExit ? shell.exitCode() : -1,
            QString::fromUtf8(shell.readAllStandardOutput()), QString::fromUtf8(shell.readAllStandardError())};
}

inline void writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

} // namespace erp::shelltest
