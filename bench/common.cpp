#include "common.h"

#include <server/db/schema.h>
#include <server/demo/seed.h>
#include <server/http/auth.h>

#include <httplib.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <QDate>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <thread>

namespace bench {

namespace db = erp::server::db;

const char *kDueFrom = "1990-01-01";
const char *kDueTo = "2099-12-31";

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

double medianOf(int reps, const std::function<void()> &fn)
{
    std::vector<double> times;
    for (int i = 0; i < reps; ++i) {
        const auto t = Clock::now();
        fn();
        times.push_back(since(t));
    }
    return median(times);
}

long statusKb(const char *field, long pid)
{
    std::ifstream f(pid ? "/proc/" + std::to_string(pid) + "/status" : std::string("/proc/self/status"));
    const std::string key = std::string(field) + ":";
    std::string line;
    while (std::getline(f, line))
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    return 0;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double peakRssMb() { return statusKb("VmHWM") / 1024.0; }

void print(const Result &r)
{
    char line[512];
    std::snprintf(line, sizeof line,
                  "{\"metric\": \"%s\", \"n\": %ld, \"median_s\": %.6f, \"floor_s\": %.6f, \"ratio\": %.3f, "
                  "\"target\": %.2f, \"peak_rss_mb\": %.1f",
                  r.metric.c_str(), r.n, r.median, r.floor, r.ratio, r.target, r.peakMb);
    std::cout << line << (r.extra.empty() ? "" : ", ") << r.extra << "}" << std::endl;
}

namespace {

void seedInto(db::Connection &c, long accounts, std::uint64_t seed)
{
    erp::server::migrate(c);
    erp::server::SeedOptions o;
    o.accounts = accounts;
    o.seed = seed;
    o.today = QDate(2025, 6, 15);
    const auto t = Clock::now();
    erp::server::seed(c, o);
    erp::server::saveOperator(c, "bench", "bench");
    std::cerr << "bench: " << accounts << " contas geradas em " << since(t) << " s\n";
}

} // namespace

std::string sqliteDemo(const std::string &dataDir, long accounts, std::uint64_t seed)
{
    std::filesystem::create_directories(dataDir);
    const std::string file = dataDir + "/sqlite-" + std::to_string(accounts) + "-s" + std::to_string(seed) + ".db";
    if (std::filesystem::exists(file)) {
        // seeded by an older build: the server serves only the current schema
        erp::server::migrate(*db::connect(db::DbUrl::parse("sqlite:" + file)));
        return "sqlite:" + file;
    }
    const std::string partial = file + ".partial";
    std::filesystem::remove(partial);
    {
        auto c = db::connect(db::DbUrl::parse("sqlite:" + partial));
        seedInto(*c, accounts, seed);
        c->execScript("ANALYZE");
    }
    std::filesystem::rename(partial, file); // a run cut short leaves no half-made file behind
    return "sqlite:" + file;
}

std::string postgresDemo(const std::string &adminUrl, long accounts, std::uint64_t seed)
{
    const std::string name = "bench_" + std::to_string(accounts) + "_s" + std::to_string(seed);
    const std::string url = adminUrl.substr(0, adminUrl.rfind('/') + 1) + name;
    auto admin = db::connect(db::DbUrl::parse(adminUrl));
    const bool exists = db::queryInt(*admin, "SELECT COUNT(*) FROM pg_database WHERE datname = ?", {name}) > 0;
    if (exists) {
        auto c = db::connect(db::DbUrl::parse(url));
        // the operator is saved last: without it the seeding did not finish
        if (db::queryInt(*c, "SELECT COUNT(*) FROM information_schema.tables WHERE lower(table_name) = 'operador'") > 0
            && db::queryInt(*c, "SELECT COUNT(*) FROM OPERADOR WHERE NMOPERADOR = 'bench'") > 0) {
            // seeded by an older build: the server serves only the current schema
            if (erp::server::migrate(*c) > 0)
                c->execScript("VACUUM ANALYZE");
            return url;
        }
        c.reset();
        admin->execScript("DROP DATABASE " + name + " WITH (FORCE)");
    }
    admin->execScript("CREATE DATABASE " + name);
    auto c = db::connect(db::DbUrl::parse(url));
    seedInto(*c, accounts, seed);
    // as autovacuum leaves a table after a load: a read from an index alone skips its pages
    c->execScript("VACUUM ANALYZE");
    return url;
}

namespace {
// One connection per database for the whole run, as the server keeps its pool: the floor
// reads from a warm cache too.
std::map<std::string, sqlite3 *> sqliteHandles;
std::map<std::string, PGconn *> pgHandles;
} // namespace

void closeAccountReaders()
{
    for (auto &[path, h] : sqliteHandles)
        sqlite3_close(h);
    for (auto &[conninfo, h] : pgHandles)
        PQfinish(h);
    sqliteHandles.clear();
    pgHandles.clear();
}

long scanAccountsWithCApi(const db::DbUrl &url)
{
    long rows = 0;
    if (url.kind == db::Kind::Sqlite) {
        sqlite3 *&h = sqliteHandles[url.path];
        if (!h) {
            // as the server opens it
            sqlite3_open_v2(url.path.c_str(), &h, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
            sqlite3_exec(h, "PRAGMA mmap_size=1073741824", nullptr, nullptr, nullptr);
        }
        sqlite3_stmt *st = nullptr;
        // NOT INDEXED: the company's index would read every row by rowid
        if (sqlite3_prepare_v2(h, "SELECT * FROM CONTRECEBER NOT INDEXED WHERE CDEMPRESA = '01'", -1, &st, nullptr)
            != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(h));
        const int columns = sqlite3_column_count(st);
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < columns; ++c)
                sqlite3_column_text(st, c);
            ++rows;
        }
        sqlite3_finalize(st);
    } else {
        PGconn *&h = pgHandles[url.conninfo];
        if (!h)
            h = PQconnectdb(url.conninfo.c_str());
        PQsendQuery(h, "SELECT * FROM CONTRECEBER WHERE CDEMPRESA = '01'");
        PQsetSingleRowMode(h);
        while (PGresult *r = PQgetResult(h)) {
            if (PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
                for (int c = 0; c < PQnfields(r); ++c)
                    PQgetvalue(r, 0, c);
                ++rows;
            }
            PQclear(r);
        }
    }
    return rows;
}

std::string Args::get(const std::string &name, const std::string &fallback) const
{
    for (size_t i = 0; i + 1 < values.size(); ++i)
        if (values[i] == "--" + name)
            return values[i + 1];
    return fallback;
}

std::vector<long> Args::sizes(const std::string &name, const std::string &fallback) const
{
    std::vector<long> out;
    std::string text = get(name, fallback);
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find(',', start);
        const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty())
            out.push_back(std::stol(part));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return out;
}

Args parseArgs(int argc, char **argv)
{
    Args a;
    for (int i = 1; i < argc; ++i)
        a.values.emplace_back(argv[i]);
    return a;
}

struct RequestSink::Impl
{
    httplib::Server server;
    std::thread serving;
    std::unique_ptr<httplib::Client> client;
};

RequestSink::RequestSink() : d(std::make_unique<Impl>())
{
    d->server.set_payload_max_length(std::size_t(1) << 31);
    d->server.Post("/rpc/REC00800.rdmRecCont", [](const httplib::Request &, httplib::Response &res) {
        res.set_content("{}", "application/json");
    });
    const int port = d->server.bind_to_any_port("127.0.0.1");
    d->serving = std::thread([this] { d->server.listen_after_bind(); });
    d->client = std::make_unique<httplib::Client>("127.0.0.1", port);
    d->client->set_write_timeout(600);
    d->client->set_read_timeout(600);
}

RequestSink::~RequestSink()
{
    d->server.stop();
    d->serving.join();
}

void RequestSink::post(const std::string &body, const std::vector<std::pair<std::string, std::string>> &headers)
{
    const httplib::Headers h(headers.begin(), headers.end());
    if (auto r = d->client->Post("/rpc/REC00800.rdmRecCont", h, body, "application/json"); !r || r->status != 200)
        throw std::runtime_error("o sorvedouro não respondeu");
}

} // namespace bench
