#pragma once

#include "harness.h"

#include <gtest/gtest.h>

#include <QJsonObject>

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace erp::server::test {

struct CommandResult
{
    int status = -1; // exit status; -1 when killed by a signal or not finished in time
    std::string out, err;
};
// rec-appserver of this build with the arguments, input on its standard input.
CommandResult runAppServer(const std::vector<std::string> &args, const std::string &input = {});

// rec-appserver serve as its own process on a free loopback port, standard error in a file.
class ServerProcess
{
public:
    // extra: more options of serve (a TLS server is not waited for over plain HTTP)
    explicit ServerProcess(const db::DbUrl &url, int workers = 4, const std::vector<std::string> &extra = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    void kill(); // SIGKILL, reaped
    // SIGTERM, then waits; the exit status, or -1 for a signal or no exit within the time.
    int terminate(int timeoutMs = 20000);
    std::string log() const;

private:
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_logFile;
};

// Resident memory of a process (VmRSS), in KB.
long residentKb(pid_t pid);

// A TCP connection to 127.0.0.1:port with a 5 s receive timeout; -1 when refused.
int connectLoopback(int port);

// A test run once per database kind on a fresh demo database (PostgreSQL skipped when unset).
class OnDemoDatabase : public ::testing::TestWithParam<Backend>
{
protected:
    virtual long demoAccounts() const { return 700; }
    void SetUp() override
    {
        database = TestDatabase::create(GetParam());
        if (!database)
            GTEST_SKIP() << "ERP_TEST_PG_URL não definida";
        database->prepareDemo(demoAccounts());
        sql = database->connect();
    }
    std::unique_ptr<TestDatabase> database;
    std::unique_ptr<db::Connection> sql;
};

// Column indexes of the account packet and of the entries packet.
enum AccountColumn { Mark = 0, Due = 1, Instalment = 2, Branch = 9, Entry = 10, DueSeq = 11, Posting = 19 };
enum EntryColumn { EntryPosting = 3, EntryHistoryText = 7, EntryKey = 11 };

inline const QString kOk = QStringLiteral("OK");
inline const QString kLocked = QStringLiteral("Operação bloqueada. Documento em alteração por outro usuário.");

// Accounts of company 01 whose rules are complete, so that a recalculation posts them.
Filter cleanAccounts();
// The account packet with the rows that pred accepts marked "S".
QJsonObject markRows(QJsonObject packet, const std::function<bool(int row, const QJsonArray &)> &pred);
// branch|entry|dueSeq|instalment of an account row.
std::string accountKey(const QJsonArray &row);
// The same key as postings keep it (CDLANCCTBCOME): branch, instalment, entry, due sequence.
std::string commercialKey(const QJsonArray &row);

// What must hold for the ledger whatever happened: each posting balanced and apportioned to
// the cent, each accounted account or adjustment pointing at a posting of its own that
// exists, no posting that nothing points at, the counters ahead of every number used, and the
// audit's last word on each account being its current posting. Empty when all holds.
std::vector<std::string> ledgerProblems(db::Connection &c);

// Everything a refused or failed call must leave as it was.
std::string ledgerSnapshot(db::Connection &c);

} // namespace erp::server::test
