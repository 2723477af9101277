// Speed of the server against the database's own C API, printed as ratios:
//  - GetContRec of every account of company 01 (the query to the last byte of the response)
//    against reading the same rows with sqlite3 / libpq, and the server's peak memory growth;
//  - SetConfirmar of N marked accounts against a bulk insert of as many ledger and
//    apportionment rows in one transaction.
// Usage: server_bench [--db URL] [--accounts N] [--confirm N]  (default: a new SQLite file)
#include "harness.h"

#include <server/auth.h>
#include <server/schema.h>
#include <server/seed.h>

#include <httplib.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <QJsonDocument>
#include <QTemporaryDir>

#include <chrono>
#include <fstream>
#include <iostream>
#include <set>

using namespace erp::server;
using namespace erp::server::test;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

long peakKb()
{
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// The server's account query, as the server runs it for a company and no other restriction.
const char *kAccountsSql =
    "SELECT 'N', C.DTATUAVENREC, C.NRPARCELAREC, CL.NMRAZSOCCLIE, C.IDSTATREC, C.VRATUAREC, N.CDSERIE, "
    "N.NRNOTAFISC, CL.IDTPIJURCLIE, C.CDFILIAL, C.NRLANCTONF, C.NRSEQVENREC, C.DSCONTAREC, T.DSTPCTRECEB, "
    "N.CDFILIEMIT, CL.NRINSJURCLIE, C.CDMOTIPROR, C.CDMOTIPARC, C.CDTPCTRECEB, C.NRLANCTBDOC, C.CDEMPRESA, "
    "N.IDSTATUS, N.VRNOTAFISC, N.DTENTRSAID, C.CDCLIENTE, CL.NMFANTCLIE, C.IDCTBLCTREC "
    "FROM CONTRECEBER C JOIN NOTAFISCAL N ON N.CDFILIAL = C.CDFILIAL AND N.NRLANCTONF = C.NRLANCTONF "
    "JOIN CLIENTE CL ON CL.CDCLIENTE = C.CDCLIENTE LEFT JOIN TIPOCTRECEBER T ON T.CDTPCTRECEB = C.CDTPCTRECEB "
    "WHERE C.CDEMPRESA = '01' ORDER BY C.DTATUAVENREC, CL.NMRAZSOCCLIE, C.CDFILIAL, C.NRPARCELAREC, "
    "C.NRLANCTONF, C.NRSEQVENREC";

// Reads every column of every row as the C API gives it; returns rows and bytes touched.
std::pair<long, long> readWithCApi(const db::DbUrl &url)
{
    long rows = 0, bytes = 0;
    if (url.kind == db::Kind::Sqlite) {
        sqlite3 *h = nullptr;
        sqlite3_open_v2(url.path.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(h, kAccountsSql, -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < 27; ++c) {
                sqlite3_column_text(st, c);
                bytes += sqlite3_column_bytes(st, c);
            }
            ++rows;
        }
        sqlite3_finalize(st);
        sqlite3_close(h);
    } else {
        PGconn *h = PQconnectdb(url.conninfo.c_str());
        PQsendQuery(h, kAccountsSql);
        PQsetSingleRowMode(h);
        while (PGresult *r = PQgetResult(h)) {
            if (PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
                for (int c = 0; c < 27; ++c)
                    bytes += PQgetlength(r, 0, c);
                ++rows;
            }
            PQclear(r);
        }
        PQfinish(h);
    }
    return {rows, bytes};
}

// Inserts as many postings, ledger and apportionment rows as the recalculation wrote, into the
// same tables, in one transaction; removes them again afterwards.
double bulkInsert(const db::DbUrl &url, long postings, long items, long shares)
{
    auto c = db::connect(url);
    const auto t = Clock::now();
    {
        db::Transaction tx(*c, db::TxMode::Write);
        auto head = c->bulk("LANCCTB", {"NRLANCCTB", "CDEMPRESA", "DTLANCCTB", "CDORIGLANC", "CDLANCCTBCOME",
                                        "CDDOCUCONT", "NMOPERADOR", "DTINCLLANC", "CDASSINATURA"});
        for (long i = 0; i < postings; ++i)
            head->row({"B" + std::to_string(i), std::string("01"), std::string("2025-06-01"), std::string("REC"),
                       std::string("01010100000012301"), std::string("NF 0001234/1 P01"), std::string("ana"),
                       std::string("2025-06-15 10:00:00"), std::string("0123456789abcdef")});
        head->finish();
        auto bi = c->bulk("ITLANCCTB", {"NRLANCCTB", "NRSEQLANCCTB", "CDCONTCTBL", "IDDEBCRED", "VRLANCCTB",
                                        "CDHISTPADR", "DSHISTCTB"});
        for (long i = 0; i < items; ++i)
            bi->row({"B" + std::to_string(i / 2 % postings), std::int64_t(i / (2 * postings) * 2 + i % 2 + 1),
                     std::string("1.1.2.01.0001"), std::string(i % 2 ? "C" : "D"), std::string("1234.56"),
                     std::string("H001"), std::string("Venda a prazo NF 0001234/1 P01 - Comercial Exemplo Ltda")});
        bi->finish();
        auto br = c->bulk("RATLANCCTB", {"NRLANCCTB", "NRSEQLANCCTB", "NRSEQRATCTB", "CDFILIAL", "CDCENTCUST",
                                         "VRLANCCUST"});
        for (long i = 0; i < shares; ++i) {
            const long item = i % items;
            br->row({"B" + std::to_string(item / 2 % postings), std::int64_t(item / (2 * postings) * 2 + item % 2 + 1),
                     std::int64_t(i / items + 1), std::string("0101"), std::string("0002"), std::string("411.52")});
        }
        br->finish();
        tx.commit();
    }
    const double elapsed = since(t);
    db::Transaction tx(*c, db::TxMode::Write);
    c->execScript("DELETE FROM RATLANCCTB WHERE NRLANCCTB LIKE 'B%'; DELETE FROM ITLANCCTB WHERE NRLANCCTB LIKE 'B%'; "
                  "DELETE FROM LANCCTB WHERE NRLANCCTB LIKE 'B%'");
    tx.commit();
    return elapsed;
}

} // namespace

int main(int argc, char **argv)
{
    std::string url;
    long accounts = 200000, confirmCount = 10000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--db")
            url = argv[i + 1];
        else if (a == "--accounts")
            accounts = std::stol(argv[i + 1]);
        else if (a == "--confirm")
            confirmCount = std::stol(argv[i + 1]);
    }
    QTemporaryDir dir;
    if (url.empty())
        url = "sqlite:" + dir.filePath("bench.db").toStdString();
    const db::DbUrl dbUrl = db::DbUrl::parse(url);
    {
        auto c = db::connect(dbUrl);
        migrate(*c);
        if (!db::queryInt(*c, "SELECT COUNT(*) FROM EMPRESA")) {
            SeedOptions o;
            o.accounts = accounts;
            o.today = kToday;
            const auto t = Clock::now();
            seed(*c, o);
            std::cout << "seed of " << accounts << " accounts: " << since(t) << " s\n";
        }
        saveOperator(*c, "ana", "segredo");
    }

    RunningServer server(dbUrl, 2);
    httplib::Client http("127.0.0.1", server.port());
    http.set_read_timeout(600);
    http.set_basic_auth("ana", "segredo");
    const QByteArray body =
        QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "GetContRec"}, {"params", Filter{}.params()}})
            .toJson(QJsonDocument::Compact);

    // Warm both paths once so that the figures compare cached reads.
    readWithCApi(dbUrl);
    const auto t0 = Clock::now();
    const auto [rows, bytes] = readWithCApi(dbUrl);
    const double capi = since(t0);

    resetPeak();
    const long peakBefore = peakKb();
    long received = 0;
    const auto t1 = Clock::now();
    auto res = http.Post("/rpc/REC00800.rdmRecCont", httplib::Headers{}, body.toStdString(), "application/json");
    (void)res;
    const double served = since(t1);
    // Again without keeping the body, to see the server's own memory.
    resetPeak();
    const long peakStart = peakKb();
    httplib::Request req;
    req.method = "POST";
    req.path = "/rpc/REC00800.rdmRecCont";
    req.body = body.toStdString();
    req.set_header("Content-Type", "application/json");
    req.set_header("Authorization", "Basic " + QByteArray("ana:segredo").toBase64().toStdString());
    req.content_receiver = [&](const char *, size_t n, uint64_t, uint64_t) {
        received += long(n);
        return true;
    };
    httplib::Response discard;
    httplib::Error err;
    http.send(req, discard, err);
    const long peakGrowth = peakKb() - peakStart;
    (void)peakBefore;

    std::cout << "GetContRec: " << rows << " rows (" << bytes / 1024 << " KiB of column text, " << received / 1024
              << " KiB of JSON)\n"
              << "  C API read " << capi << " s; server to last byte " << served << " s; ratio " << served / capi
              << "\n  server peak memory growth while streaming " << peakGrowth << " KiB\n";

    // SetConfirmar of confirmCount accounts without accounting errors.
    RpcClient client(server.port());
    Filter f;
    f.postingBranches = "0101;0102";
    f.types = "DUP;BOL";
    QJsonObject packet = client.result("GetContRec", f.params()).toObject();
    QJsonArray listRows = packet["rows"].toArray();
    if (listRows.size() > confirmCount) {
        while (listRows.size() > confirmCount)
            listRows.removeLast();
    }
    for (int i = 0; i < listRows.size(); ++i) {
        QJsonArray r = listRows[i].toArray();
        r[0] = "S";
        listRows[i] = r;
    }
    packet["rows"] = listRows;
    {
        // A new history text, so that every posting is rewritten as in a real recalculation.
        auto c = db::connect(dbUrl);
        c->execScript("UPDATE HISTPADRAO SET DSHISTPADR = DSHISTPADR || '.' WHERE CDHISTPADR IN ('H001', 'H004')");
    }
    const std::string confirmBody =
        QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", 2}, {"method", "SetConfirmar"},
                                  {"params", QJsonArray{packet, "ana", "01"}}})
            .toJson(QJsonDocument::Compact)
            .toStdString();
    const auto t2 = Clock::now();
    const HttpReply reply = client.post(confirmBody);
    const double confirm = since(t2);
    const QJsonArray result = reply.json().value("result").toArray();
    const long items = long(result[1].toObject()["rows"].toArray().size());
    const long shares = long(result[2].toObject()["rows"].toArray().size());
    std::set<QString> numbers;
    for (const QJsonValue &e : result[1].toObject()["rows"].toArray())
        numbers.insert(e.toArray()[3].toString());
    const double bulk = bulkInsert(dbUrl, long(numbers.size()), items, shares);
    std::cout << "SetConfirmar: " << listRows.size() << " accounts, status " << result[0].toString().toStdString()
              << ", " << result[3].toObject()["rows"].toArray().size() << " errors, " << items << " entries, " << shares
              << " shares\n  server " << confirm << " s; bulk insert of the same rows " << bulk << " s; ratio "
              << confirm / bulk << "\n";
    return 0;
}
