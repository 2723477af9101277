#pragma once

#include <server/db/db.h>
#include <server/http/appserver.h>

#include <QDate>
#include <QJsonArray>
#include <QJsonObject>

#include <memory>
#include <string>
#include <thread>

namespace erp::server::test {

enum class Backend { Sqlite, Postgres };
std::string backendName(Backend b);

inline const QDate kToday(2025, 6, 15);

// A throw-away database: a SQLite file in a temporary folder, or a uniquely named database on
// the PostgreSQL of ERP_TEST_PG_URL. create() gives nullptr for PostgreSQL when that is unset.
class TestDatabase
{
public:
    static std::unique_ptr<TestDatabase> create(Backend b);
    ~TestDatabase();
    const db::DbUrl &url() const { return m_url; }
    std::unique_ptr<db::Connection> connect() const { return db::connect(m_url); }
    // Migrated and seeded with the demo data (kToday), with operator "ana"/"segredo".
    void prepareDemo(long accounts = 1200);

    static std::string pgAdminUrl(); // empty when unset
    static std::string pgUrlFor(const std::string &database);

private:
    db::DbUrl m_url;
    std::string m_dir;
    std::string m_pgName;
};

// The real server over loopback, in background threads.
class RunningServer
{
public:
    explicit RunningServer(const db::DbUrl &url, int workers = 4);
    ~RunningServer();
    int port() const { return m_port; }

private:
    std::unique_ptr<AppServer> m_server;
    std::thread m_thread;
    int m_port = 0;
};

struct HttpReply
{
    int status = 0;
    std::string body;
    QJsonObject json() const;
};

class RpcClient
{
public:
    RpcClient(int port, std::string user = "ana", std::string password = "segredo");
    ~RpcClient();
    // The whole JSON-RPC response object.
    QJsonObject call(const QString &method, const QJsonArray &params, const std::string &object = "REC00800.rdmRecCont");
    // The result, failing the test on an error response.
    QJsonValue result(const QString &method, const QJsonArray &params);
    // The error code (0 when the call succeeded).
    int errorCode(const QString &method, const QJsonArray &params);
    HttpReply post(const std::string &body, bool withAuth = true, const std::string &path = "/rpc/REC00800.rdmRecCont");
    HttpReply get(const std::string &path);
    void setCredentials(std::string user, std::string password);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The 24 arguments of GetContRec; the defaults restrict nothing but the company.
struct Filter
{
    QString company = "01";
    QString docFrom, docTo;
    QJsonValue issueFrom, issueTo, exitFrom, exitTo;
    QString originBranches, postingBranches;
    double docValueFrom = 0, docValueTo = 0;
    QString salesmen;
    QJsonValue dueFrom, dueTo;
    QString types;
    double origFrom = 0, origTo = 0, netFrom = 0, netTo = 0;
    bool notDue = false, overdue = false;
    QString customers;
    QString ctbl = "T";
    QString status = "5";
    QJsonArray params() const;
};

// Keys (branch|entry|dueSeq|instalment) of the rows of a GetContRec packet, in order.
std::vector<std::string> accountKeys(const QJsonObject &packet);
// Keys that a SQL query over CONTRECEBER C (JOIN NOTAFISCAL N) selects, sorted.
std::vector<std::string> keysWhere(db::Connection &c, const std::string &condition,
                                   std::initializer_list<db::Value> params = {});
std::int64_t count(db::Connection &c, const std::string &sql, std::initializer_list<db::Value> params = {});

} // namespace erp::server::test
