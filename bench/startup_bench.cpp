// Shell start to REC00800 shown (`erp-shell --screenshot`: opens the first screen on the demo
// data, draws it and ends) against a bare Qt widgets program that shows one window the same way.
// startup_bench --shell PATH --bare PATH --data-dir DIR --reps 5
#include "common.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <iostream>

using namespace bench;

namespace {

double run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    const auto t = Clock::now();
    p.start(program, args);
    if (!p.waitForStarted() || !p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit
        || p.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " falhou (código " + std::to_string(p.exitCode()) + ")");
    return since(t);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Args a = parseArgs(argc, argv);
    const QString shell = QString::fromStdString(a.get("shell"));
    const QString bare = QString::fromStdString(a.get("bare"));
    const QString dataDir = QString::fromStdString(a.get("data-dir"));
    const int reps = std::stoi(a.get("reps", "5"));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString picture = QDir(dataDir).filePath(QStringLiteral("start.png"));
    const QStringList shellArgs{"--data-dir", dataDir, "--today", "2025-06-15", "--screenshot", picture};
    const QStringList bareArgs{"--screenshot", picture};
    try {
        run(shell, shellArgs); // the first start makes the demo database
        run(bare, bareArgs);
        std::vector<double> s, b;
        for (int i = 0; i < reps; ++i) {
            s.push_back(run(shell, shellArgs));
            b.push_back(run(bare, bareArgs));
        }
        const double m = median(s), f = median(b);
        print({"shell_start_to_rec00800", 0, m, f, m / f, 3, 0, "\"data\": \"demo\""});
    } catch (const std::exception &e) {
        std::cerr << "startup_bench: " << e.what() << "\n";
        return 2;
    }
    return 0;
}
