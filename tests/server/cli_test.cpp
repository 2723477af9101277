// rec-appserver as scripts run it: the subcommands' forms and exit statuses, and serve ending
// cleanly on SIGTERM and SIGINT.
#include "harness.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <filesystem>
#include <thread>

using namespace erp::server;
using namespace erp::server::test;

namespace {

QString program()
{
    return QString::fromStdString((std::filesystem::read_symlink("/proc/self/exe").parent_path() / "rec-appserver").string());
}

struct Outcome
{
    int status = -1;
    QString out, err;
};

Outcome run(const QStringList &args, const QByteArray &input = {})
{
    QProcess p;
    p.start(program(), args);
    EXPECT_TRUE(p.waitForStarted()) << program().toStdString();
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

class Cli : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString db(const char *name = "erp.db") { return "sqlite:" + dir.filePath(name); }
};

// Below the kernel's ephemeral range (32768 up): a port it may give to any connection of the
// tests running alongside would keep serve from listening.
int freePort()
{
    static int next = 20000 + (getpid() % 12000);
    return next++;
}

} // namespace

TEST_F(Cli, BadOptionsExitWithStatus2AndSayWhy)
{
    const QString badConf = dir.filePath("ruim.conf");
    {
        QFile f(badConf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("db = " + db().toUtf8() + "\nporta = 8080\n");
    }
    const QList<QStringList> bad{{},
                                 {"explode"},
                                 {"migrate"},
                                 {"migrate", "--db", "mysql://x/y"},
                                 {"migrate", "--db", "sqlite:"},
                                 {"migrate", "--db", db(), "--extra", "1"},
                                 {"migrate", "--db", db(), "solto"},
                                 {"migrate", "--db"},
                                 {"seed", "--db", db()},
                                 {"seed", "--db", db(), "--accounts", "muitas"},
                                 {"seed", "--db", db(), "--accounts", "0"},
                                 {"seed", "--db", db(), "--accounts", "10", "--today", "2025-02-30"},
                                 {"seed", "--db", db(), "--accounts", "10", "--seed", "-1"},
                                 {"add-operator", "--db", db()},
                                 {"add-operator", "--db", db(), "a:b"},
                                 {"serve", "--db", db()},
                                 {"serve", "--db", db(), "--listen", "semporta"},
                                 {"serve", "--db", db(), "--listen", "127.0.0.1:99999"},
                                 {"serve", "--db", db(), "--listen", "127.0.0.1:8080", "--workers", "0"},
                                 {"serve", "--config", dir.filePath("nenhum.conf"), "--listen", "127.0.0.1:8080"},
                                 {"serve", "--config", badConf, "--listen", "127.0.0.1:8080"}};
    for (const QStringList &args : bad) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("Uso:")) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("erp.db"))) << "bad options touch nothing";
    EXPECT_EQ(run({"--help"}).status, 0);
    EXPECT_EQ(run({"serve", "--help"}).status, 0) << "help before the command's own options";
    const Outcome version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.startsWith("rec-appserver ")) << version.out.toStdString();
}

TEST_F(Cli, MigrateSeedAndAddOperatorReportFailuresWithStatus1)
{
    EXPECT_EQ(run({"migrate", "--db", db()}).status, 0);
    EXPECT_EQ(run({"migrate", "--db", db()}).status, 0);
    const Outcome seeded = run({"seed", "--db", db(), "--accounts", "300", "--seed", "3", "--today", "2025-06-15"});
    EXPECT_EQ(seeded.status, 0) << seeded.err.toStdString();
    EXPECT_TRUE(seeded.out.contains("300 contas")) << seeded.out.toStdString();
    EXPECT_EQ(run({"seed", "--db", db(), "--accounts", "300"}).status, 1) << "never over existing data";

    EXPECT_EQ(run({"add-operator", "--db", db(), "ana"}, "").status, 2) << "empty password";
    EXPECT_EQ(run({"add-operator", "--db", db(), "ana"}, "segredo\n").status, 0);
    auto c = db::connect(db::DbUrl::parse(db().toStdString()));
    const std::string hash = db::queryText(*c, "SELECT DSHASHSENHA FROM OPERADOR WHERE NMOPERADOR = 'ana'");
    EXPECT_TRUE(hash.starts_with("$argon2id$")) << hash;
    EXPECT_EQ(hash.find("segredo"), std::string::npos);

    EXPECT_EQ(run({"add-operator", "--db", db("vazio.db"), "ana"}, "x\n").status, 1) << "no schema there";
    EXPECT_EQ(run({"serve", "--db", db("vazio.db"), "--listen", "127.0.0.1:" + QString::number(freePort())}).status, 1);
    EXPECT_EQ(run({"migrate", "--db", "postgresql://ninguem@127.0.0.1:1/nada"}).status, 1);
    if (!TestDatabase::pgAdminUrl().empty()) {
        auto pg = TestDatabase::create(Backend::Postgres);
        EXPECT_EQ(run({"seed", "--db", QString::fromStdString(pg->url().conninfo), "--accounts", "200"}).status, 0);
    }
}

TEST_F(Cli, ServeAnswersUntilASignalThenExitsCleanly)
{
    ASSERT_EQ(run({"seed", "--db", db(), "--accounts", "200", "--today", "2025-06-15"}).status, 0);
    ASSERT_EQ(run({"add-operator", "--db", db(), "ana"}, "segredo\n").status, 0);
    // The second run takes its database and workers from a configuration file, as the service does.
    const QString conf = dir.filePath("serve.conf");
    {
        QFile f(conf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("# servidor\n\ndb = " + db().toUtf8() + "\n  workers=2  \n");
    }
    for (int sig : {SIGTERM, SIGINT}) {
        const int port = freePort();
        QProcess p;
        const QStringList where = sig == SIGTERM ? QStringList{"--db", db(), "--workers", "2"} : QStringList{"--config", conf};
        p.start(program(), QStringList{"serve"} + where +
                               QStringList{"--listen", "127.0.0.1:" + QString::number(port), "--today", "2025-06-15"});
        ASSERT_TRUE(p.waitForStarted());
        {
            RpcClient client(port);
            int health = 0;
            for (int i = 0; i < 400 && health != 200; ++i) { // a loaded machine may take seconds to start it
                health = client.get("/health").status;
                if (health != 200)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            ASSERT_EQ(health, 200) << p.readAllStandardError().toStdString();
            EXPECT_EQ(client.result("GetGeralRec", {}).toObject().value("rows").toArray().size(), 1);
        }
        ::kill(pid_t(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(15000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
        const QString log = QString::fromUtf8(p.readAllStandardError());
        EXPECT_TRUE(log.contains(QRegularExpression("GetGeralRec operador=ana [0-9.]+ ms ok"))) << log.toStdString();
        EXPECT_FALSE(log.contains("segredo"));
    }
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
