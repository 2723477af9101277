#include "harness.h"

#include <server/db/schema.h>
#include <server/demo/seed.h>
#include <server/http/auth.h>

#include <httplib.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <atomic>
#include <unistd.h>

namespace erp::server::test {

std::string backendName(Backend b) { return b == Backend::Sqlite ? "SQLite" : "PostgreSQL"; }

std::string TestDatabase::pgAdminUrl()
{
    const char *u = std::getenv("ERP_TEST_PG_URL");
    return u ? u : "";
}

std::string TestDatabase::pgUrlFor(const std::string &database)
{
    const std::string admin = pgAdminUrl();
    return admin.substr(0, admin.rfind('/') + 1) + database;
}

std::unique_ptr<TestDatabase> TestDatabase::create(Backend b)
{
    static std::atomic<int> counter{0};
    auto t = std::unique_ptr<TestDatabase>(new TestDatabase);
    if (b == Backend::Sqlite) {
        QTemporaryDir dir(QDir::tempPath() + "/rec-server-test-XXXXXX");
        dir.setAutoRemove(false);
        t->m_dir = dir.path().toStdString();
        t->m_url = db::DbUrl::parse("sqlite:" + t->m_dir + "/erp.db");
        return t;
    }
    if (pgAdminUrl().empty())
        return nullptr;
    t->m_pgName = "rec_test_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    auto admin = db::connect(db::DbUrl::parse(pgAdminUrl()));
    admin->execScript("DROP DATABASE IF EXISTS " + t->m_pgName + " WITH (FORCE)");
    admin->execScript("CREATE DATABASE " + t->m_pgName);
    t->m_url = db::DbUrl::parse(pgUrlFor(t->m_pgName));
    return t;
}

TestDatabase::~TestDatabase()
{
    if (!m_pgName.empty()) {
        try {
            db::connect(db::DbUrl::parse(pgAdminUrl()))->execScript("DROP DATABASE IF EXISTS " + m_pgName + " WITH (FORCE)");
        } catch (...) {
        }
    }
    if (!m_dir.empty())
        QDir(QString::fromStdString(m_dir)).removeRecursively();
}

void TestDatabase::prepareDemo(long accounts)
{
    auto c = connect();
    migrate(*c);
    SeedOptions o;
    o.accounts = accounts;
    o.seed = 7;
    o.today = kToday;
    seed(*c, o);
    saveOperator(*c, "ana", "segredo");
}

RunningServer::RunningServer(const db::DbUrl &url, int workers)
{
    ServeOptions o;
    o.db = url;
    o.workers = workers;
    o.today = kToday;
    o.maxBodyBytes = 4u << 20;
    o.log = [](const std::string &) {};
    m_server = std::make_unique<AppServer>(o);
    m_port = m_server->bind();
    m_thread = std::thread([this] { m_server->run(); });
}

RunningServer::~RunningServer()
{
    m_server->stop();
    m_thread.join();
}

QJsonObject HttpReply::json() const
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

struct RpcClient::Impl
{
    explicit Impl(int port) : http("127.0.0.1", port) {}
    httplib::Client http;
    std::string user, password;
    int nextId = 1;
};

RpcClient::RpcClient(int port, std::string user, std::string password) : d(std::make_unique<Impl>(port))
{
    d->http.set_keep_alive(true);
    d->http.set_tcp_nodelay(true); // headers and body go in two writes: no waiting for an ACK between them
    d->http.set_read_timeout(60);
    setCredentials(std::move(user), std::move(password));
}

RpcClient::~RpcClient() = default;

void RpcClient::setCredentials(std::string user, std::string password)
{
    d->user = std::move(user);
    d->password = std::move(password);
}

HttpReply RpcClient::post(const std::string &body, bool withAuth, const std::string &path)
{
    httplib::Headers headers;
    if (withAuth)
        headers.emplace("Authorization", "Basic " + QByteArray::fromStdString(d->user + ":" + d->password).toBase64().toStdString());
    auto res = d->http.Post(path.c_str(), headers, body, "application/json");
    if (!res)
        return {0, "transport error " + httplib::to_string(res.error())};
    return {res->status, res->body};
}

HttpReply RpcClient::get(const std::string &path)
{
    auto res = d->http.Get(path.c_str());
    if (!res)
        return {0, "transport error " + httplib::to_string(res.error())};
    return {res->status, res->body};
}

QJsonObject RpcClient::call(const QString &method, const QJsonArray &params, const std::string &object)
{
    const QJsonObject req{{"jsonrpc", "2.0"}, {"id", d->nextId++}, {"method", method}, {"params", params}};
    const HttpReply r = post(QJsonDocument(req).toJson(QJsonDocument::Compact).toStdString(), true, "/rpc/" + object);
    EXPECT_EQ(r.status, 200) << r.body;
    return r.json();
}

QJsonValue RpcClient::result(const QString &method, const QJsonArray &params)
{
    const QJsonObject o = call(method, params);
    EXPECT_FALSE(o.contains("error")) << method.toStdString() << ": "
                                      << QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString();
    return o.value("result");
}

int RpcClient::errorCode(const QString &method, const QJsonArray &params)
{
    const QJsonObject o = call(method, params);
    return o.contains("error") ? o.value("error").toObject().value("code").toInt() : 0;
}

QJsonArray Filter::params() const
{
    return {company,  docFrom,  docTo,  issueFrom, issueTo,   exitFrom,  exitTo, originBranches,
            postingBranches, docValueFrom, docValueTo, salesmen, dueFrom, dueTo, types, origFrom,
            origTo,   netFrom,  netTo,  notDue,    overdue,   customers, ctbl,   status};
}

std::vector<std::string> accountKeys(const QJsonObject &packet)
{
    std::vector<std::string> keys;
    for (const QJsonValue &row : packet.value("rows").toArray()) {
        const QJsonArray r = row.toArray();
        keys.push_back((r[9].toString() + "|" + r[10].toString() + "|" + r[11].toString() + "|" + r[2].toString())
                           .toStdString());
    }
    return keys;
}

std::vector<std::string> keysWhere(db::Connection &c, const std::string &condition,
                                   std::initializer_list<db::Value> params)
{
    db::Statement &st = c.prepare("SELECT C.CDFILIAL, C.NRLANCTONF, C.NRSEQVENREC, C.NRPARCELAREC FROM CONTRECEBER C "
                                  "JOIN NOTAFISCAL N ON N.CDFILIAL = C.CDFILIAL AND N.NRLANCTONF = C.NRLANCTONF "
                                  "WHERE " + condition);
    st.bindAll(params);
    std::vector<std::string> keys;
    while (st.next())
        keys.push_back(st.string(0) + "|" + st.string(1) + "|" + st.string(2) + "|" + st.string(3));
    st.reset();
    std::sort(keys.begin(), keys.end());
    return keys;
}

std::int64_t count(db::Connection &c, const std::string &sql, std::initializer_list<db::Value> params)
{
    return db::queryInt(c, sql, params);
}

} // namespace erp::server::test
