// Faults against real rec-appserver processes: killed at random points of a recalculation,
// cut off from the database in the middle of a call, stopped while calls are under way.
#include "support.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <future>
#include <map>
#include <set>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace erp::server;
using namespace erp::server::test;

namespace {

class Faults : public OnDemoDatabase
{
protected:
    void SetUp() override
    {
        OnDemoDatabase::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(ledgerProblems(*sql), std::vector<std::string>{}) << "the demo data starts consistent";
    }

    std::string postingOf(const std::string &key)
    {
        const auto bar = [&](int i) {
            size_t from = 0;
            for (int k = 0; k < i; ++k)
                from = key.find('|', from) + 1;
            return key.substr(from, key.find('|', from) - from);
        };
        return db::queryText(*sql, "SELECT COALESCE(NRLANCTBDOC, '') FROM CONTRECEBER WHERE CDFILIAL = ? AND "
                                   "NRLANCTONF = ? AND NRSEQVENREC = ? AND NRPARCELAREC = ?",
                             {bar(0), bar(1), bar(2), bar(3)});
    }
    std::string historyOf(const std::string &posting)
    {
        return db::queryText(*sql, "SELECT MIN(DSHISTCTB) FROM ITLANCCTB WHERE NRLANCCTB = ?", {posting});
    }
    // A killed server's PostgreSQL sessions outlive it until their backends see the closed
    // socket; a COMMIT sent just before the kill still lands, so wait for them before reading.
    void waitForServerSessionsToEnd()
    {
        if (GetParam() != Backend::Postgres)
            return;
        for (int i = 0; i < 1000 && count(*sql, "SELECT COUNT(*) FROM pg_stat_activity WHERE datname = "
                                                "current_database() AND pid <> pg_backend_pid()");
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};

// The account-level posting of each account of a recalculation's answer.
std::map<std::string, std::string> postingsOfAnswer(const QJsonArray &answer, const std::vector<QJsonArray> &rows)
{
    std::map<std::string, std::string> byCommercial;
    for (const QJsonValue &v : answer[1].toObject().value("rows").toArray()) {
        const QJsonArray e = v.toArray();
        if (!e[13].toString().contains(" AJ "))
            byCommercial[e[EntryKey].toString().toStdString()] = e[EntryPosting].toString().toStdString();
    }
    std::map<std::string, std::string> out;
    for (const QJsonArray &r : rows)
        out[accountKey(r)] = byCommercial[commercialKey(r)];
    return out;
}

// The body of a raw HTTP/1.1 response with chunked transfer coding; empty when cut short.
std::string dechunk(const std::string &raw)
{
    size_t at = raw.find("\r\n\r\n");
    if (at == std::string::npos)
        return {};
    at += 4;
    std::string body;
    for (;;) {
        const size_t eol = raw.find("\r\n", at);
        if (eol == std::string::npos)
            return {};
        const size_t size = std::stoul(raw.substr(at, eol - at), nullptr, 16);
        if (size == 0)
            return body;
        if (eol + 2 + size > raw.size())
            return {};
        body += raw.substr(eol + 2, size);
        at = eol + 2 + size + 2;
    }
}

} // namespace

// SIGKILL at random moments while one client sends recalculation after recalculation, each
// with a new history text so that every account's posting is replaced. After each restart every
// account holds the posting of the last call the client saw succeed, or, when the call under
// way at the kill included it, that call's posting; and the ledger and the audit agree.
TEST_P(Faults, KilledAtRandomPointsOfARecalculationLosesNothing)
{
    std::mt19937 rng(20250615 + int(GetParam()));
    std::vector<QJsonArray> rows;
    {
        ServerProcess server(database->url(), 3);
        RpcClient client(server.port());
        for (const QJsonValue &v : client.result("GetContRec", cleanAccounts().params()).toObject().value("rows").toArray())
            rows.push_back(v.toArray());
    }
    ASSERT_GE(rows.size(), 60u);
    QJsonObject packet;
    {
        ServerProcess server(database->url(), 3);
        RpcClient client(server.port());
        packet = client.result("GetContRec", cleanAccounts().params()).toObject();
    }
    std::map<std::string, std::string> acknowledged; // account -> posting the client was told
    for (const QJsonArray &r : rows)
        acknowledged[accountKey(r)] = postingOf(accountKey(r));

    const int kills = 12;
    int killedMidCall = 0, committedCalls = 0, inFlightCommitted = 0;
    for (int k = 0; k <= kills; ++k) {
        ServerProcess server(database->url(), 3);
        const std::vector<std::string> problems = ledgerProblems(*sql);
        ASSERT_EQ(problems, std::vector<std::string>{}) << "after kill " << k;
        if (k == kills)
            break;

        std::atomic<bool> stop{false};
        std::atomic<int> answered{0};
        std::set<std::string> inFlight;
        std::string inFlightMark;
        bool transportFailed = false;
        std::uniform_int_distribution<int> pick(0, int(rows.size()) - 1);
        std::vector<std::set<int>> batches;
        for (int b = 0; b < 40; ++b) {
            std::set<int> batch;
            while (batch.size() < 25)
                batch.insert(pick(rng));
            batches.push_back(batch);
        }
        std::thread worker([&] {
            RpcClient client(server.port());
            auto writer = database->connect();
            for (size_t b = 0; b < batches.size() && !stop; ++b) {
                const std::string mark = "k" + std::to_string(k) + "b" + std::to_string(b);
                writer->execScript("UPDATE HISTPADRAO SET DSHISTPADR = '" + mark + " Venda {DOC}' WHERE CDHISTPADR = 'H001'");
                std::vector<QJsonArray> marked;
                for (int i : batches[b])
                    marked.push_back(rows[size_t(i)]);
                inFlight.clear();
                for (const QJsonArray &r : marked)
                    inFlight.insert(accountKey(r));
                inFlightMark = mark;
                const QJsonObject body{{"jsonrpc", "2.0"}, {"id", int(b)}, {"method", "SetConfirmar"},
                                       {"params", QJsonArray{markRows(packet, [&](int i, const QJsonArray &) {
                                                                 return batches[b].count(i) > 0;
                                                             }),
                                                             "ana", "01"}}};
                const HttpReply reply = client.post(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString());
                if (reply.status != 200) {
                    transportFailed = true;
                    return;
                }
                const QJsonArray answer = reply.json().value("result").toArray();
                if (answer.isEmpty() || answer[0].toString() != kOk) {
                    ADD_FAILURE() << reply.body.substr(0, 300);
                    return;
                }
                for (const auto &[key, posting] : postingsOfAnswer(answer, marked))
                    acknowledged[key] = posting;
                inFlight.clear();
                ++committedCalls;
                ++answered;
            }
        });
        // The first call also pays the password's KDF: the kill lands at a random point after it.
        for (int i = 0; i < 3000 && !answered; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 150000)(rng)));
        server.kill();
        stop = true;
        worker.join();
        if (transportFailed)
            ++killedMidCall;
        waitForServerSessionsToEnd();

        // Each account: the acknowledged posting, or the one of the call cut short.
        bool tookInFlight = false;
        for (const auto &[key, posting] : acknowledged) {
            const std::string now = postingOf(key);
            if (now == posting)
                continue;
            ASSERT_TRUE(inFlight.count(key)) << key << " lost its posting " << posting << " (now " << now << ")";
            EXPECT_EQ(historyOf(now).substr(0, inFlightMark.size()), inFlightMark) << key;
            acknowledged[key] = now;
            tookInFlight = true;
        }
        if (tookInFlight) {
            ++inFlightCommitted;
            // All of the call or none of it.
            for (const std::string &key : inFlight)
                EXPECT_EQ(historyOf(postingOf(key)).substr(0, inFlightMark.size()), inFlightMark) << key;
        }
    }
    {
        ServerProcess server(database->url(), 3);
        RpcClient client(server.port());
        const QJsonArray again = client.result("SetConfirmar", {markRows(packet, [](int i, const QJsonArray &) {
                                                                    return i < 10;
                                                                }),
                                                                "ana", "01"})
                                     .toArray();
        EXPECT_EQ(again[0].toString(), kOk) << "the server works after the last kill";
    }
    EXPECT_GE(killedMidCall, kills / 2) << "most kills should land during a call";
    std::printf("FIGURES %s: %d kills, %d during a call, %d calls committed and kept, %d cut calls found "
                "committed whole\n",
                backendName(GetParam()).c_str(), kills, killedMidCall, committedCalls, inFlightCommitted);
}

// SIGTERM while a client still reads a long answer: the answer arrives whole and the server
// exits 0.
TEST_P(Faults, StoppedWithSigtermFinishesTheCallsUnderWay)
{
    ServerProcess server(database->url(), 3);
    const QByteArray body = QJsonDocument(QJsonObject{{"jsonrpc", "2.0"},
                                                      {"id", 1},
                                                      {"method", "GetContRec"},
                                                      {"params", [] {
                                                           Filter f;
                                                           f.dueFrom = kToday.addDays(-400).toString(Qt::ISODate);
                                                           f.dueTo = kToday.addDays(400).toString(Qt::ISODate);
                                                           return f.params();
                                                       }()}})
                                .toJson(QJsonDocument::Compact);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int small = 2048;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(server.port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    const std::string request = "POST /rpc/REC00800.rdmRecCont HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                                "Authorization: Basic " +
                                QByteArray("ana:segredo").toBase64().toStdString() +
                                "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\n\r\n" + body.toStdString();
    ASSERT_EQ(write(fd, request.data(), request.size()), ssize_t(request.size()));
    std::string reply(1024, '\0');
    const ssize_t first = read(fd, reply.data(), reply.size());
    ASSERT_GT(first, 0) << "the answer has begun";
    reply.resize(size_t(first));

    // Also a recalculation held in the database for a while (PostgreSQL can sleep in a trigger).
    std::thread slowWrite;
    QJsonArray slowAnswer;
    if (GetParam() == Backend::Postgres) {
        sql->execScript("CREATE FUNCTION devagar() RETURNS trigger LANGUAGE plpgsql AS "
                        "$$BEGIN PERFORM pg_sleep(1.5); RETURN NULL; END$$; "
                        "CREATE TRIGGER DEVAGAR AFTER INSERT ON AUDITORIA FOR EACH STATEMENT EXECUTE FUNCTION devagar()");
        slowWrite = std::thread([&] {
            RpcClient client(server.port());
            Filter f = cleanAccounts();
            const QJsonObject list = client.result("GetContRec", f.params()).toObject();
            slowAnswer = client.result("SetConfirmar", {markRows(list, [](int i, const QJsonArray &) { return i < 5; }),
                                                        "ana", "01"})
                             .toArray();
        });
        for (int i = 0; i < 500 && !count(*sql, "SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event = 'PgSleep'");
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto stopped = std::async(std::launch::async, [&] { return server.terminate(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string rest;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
        rest.append(buf, size_t(n));
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    close(fd);
    EXPECT_EQ(stopped.get(), 0) << "exit status after SIGTERM";
    const std::string whole = reply + rest;
    const QJsonObject answer = QJsonDocument::fromJson(QByteArray::fromStdString(dechunk(whole))).object();
    EXPECT_GT(answer.value("result").toObject().value("rows").toArray().size(), 100) << "the streamed answer came whole";
    if (slowWrite.joinable()) {
        slowWrite.join();
        ASSERT_FALSE(slowAnswer.isEmpty());
        EXPECT_EQ(slowAnswer[0].toString(), kOk) << "the recalculation under way was answered";
        EXPECT_EQ(count(*sql, "SELECT COUNT(*) FROM AUDITORIA"), 1) << "and committed";
        sql->execScript("DROP TRIGGER DEVAGAR ON AUDITORIA");
    }
    EXPECT_EQ(ledgerProblems(*sql), std::vector<std::string>{});
}


// The database drops the server's connections: a call cut off gets an error and leaves nothing
// half-written; the calls after it, on connections the pool held, are served again.
TEST_P(Faults, ALostDatabaseConnectionFailsOnlyTheCallItCut)
{
    // A worker serves one keep-alive connection at a time: one for each client here.
    ServerProcess server(database->url(), 6);
    RpcClient client(server.port());
    const QJsonObject list = client.result("GetContRec", cleanAccounts().params()).toObject();
    const QJsonObject marked = markRows(list, [](int i, const QJsonArray &) { return i < 20; });
    const std::string before = ledgerSnapshot(*sql);

    if (GetParam() == Backend::Sqlite) {
        // Another process holds the database's write lock: a refusal in plain words, at once.
        auto other = database->connect();
        other->execScript("BEGIN EXCLUSIVE");
        const QJsonArray refused = client.result("SetConfirmar", {marked, "ana", "01"}).toArray();
        ASSERT_FALSE(refused.isEmpty());
        EXPECT_EQ(refused[0].toString(), kLocked);
        other->execScript("ROLLBACK");
        EXPECT_EQ(ledgerSnapshot(*sql), before);
        EXPECT_EQ(client.result("SetConfirmar", {marked, "ana", "01"}).toArray()[0].toString(), kOk);
        EXPECT_EQ(ledgerProblems(*sql), std::vector<std::string>{});
        return;
    }

    const std::string dbName = database->url().conninfo.substr(database->url().conninfo.rfind('/') + 1);
    auto admin = db::connect(db::DbUrl::parse(TestDatabase::pgAdminUrl()));
    const auto terminate = [&](const std::string &extra) {
        return db::queryInt(*admin, "SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE datname = ? "
                                    "AND pid <> pg_backend_pid()" + extra,
                            {dbName});
    };

    // Cut in the middle of the write: the trigger holds the call until the backend is ended.
    sql->execScript("CREATE FUNCTION devagar() RETURNS trigger LANGUAGE plpgsql AS "
                    "$$BEGIN PERFORM pg_sleep(30); RETURN NULL; END$$; "
                    "CREATE TRIGGER DEVAGAR AFTER INSERT ON AUDITORIA FOR EACH STATEMENT EXECUTE FUNCTION devagar()");
    int code = 0;
    std::thread call([&] {
        RpcClient c(server.port());
        code = c.errorCode("SetConfirmar", {marked, "ana", "01"});
    });
    int waited = 0;
    while (!count(*admin, "SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event = 'PgSleep' AND datname = ?",
                  {dbName}) &&
           waited++ < 1000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(terminate(" AND wait_event = 'PgSleep'"), 1);
    call.join();
    EXPECT_EQ(code, -32603) << "an internal error, its details in the log";
    sql->execScript("DROP TRIGGER DEVAGAR ON AUDITORIA");
    EXPECT_EQ(ledgerSnapshot(*sql), before) << "nothing half-written";

    // Every connection the pool keeps is ended while idle (a database restart looks the same).
    std::vector<std::unique_ptr<RpcClient>> clients;
    for (int i = 0; i < 4; ++i)
        clients.push_back(std::make_unique<RpcClient>(server.port()));
    for (auto &c : clients)
        EXPECT_EQ(c->errorCode("GetGeralRec", {}), 0);
    EXPECT_GE(terminate(""), 2);
    sql = database->connect(); // ended with the rest
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int failed = 0;
    for (int round = 0; round < 3; ++round)
        for (auto &c : clients)
            failed += c->errorCode("GetTipoCtReceber", {}) != 0;
    EXPECT_EQ(failed, 0) << "calls after the loss are served on fresh connections";
    EXPECT_EQ(client.result("SetConfirmar", {marked, "ana", "01"}).toArray()[0].toString(), kOk);
    EXPECT_EQ(ledgerProblems(*sql), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Databases, Faults, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto &info) { return backendName(info.param); });
