#include "appserver.h"
#include "auth.h"
#include "pool.h"
#include "rpc.h"
#include "schema.h"

#include <erpwire/json.h>
#include <httplib.h>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace erp::server {

namespace {

using Clock = std::chrono::steady_clock;

const char *kVersion = "0.1.0";
constexpr size_t kIdleConnections = 64;

// The local time, worked out once a second per thread: converting the clock through the time
// zone on every log line was a visible part of a short call, and asking Qt for the date reads
// the zone file each time.
struct LocalSecond
{
    std::time_t second = -1;
    std::tm parts{};
    char text[32] = {};
};

const LocalSecond &localSecond()
{
    thread_local LocalSecond s;
    const std::time_t now = std::time(nullptr);
    if (now != s.second) {
        localtime_r(&now, &s.parts);
        std::strftime(s.text, sizeof s.text, "%Y-%m-%d %H:%M:%S", &s.parts);
        s.second = now;
    }
    return s;
}

std::string localTimeText()
{
    return localSecond().text;
}

QDate localToday()
{
    const std::tm &t = localSecond().parts;
    return QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
}

const char *kInternal = "Erro interno no servidor. Os detalhes foram registrados no log do servidor.";

QByteArray errorJson(const QByteArray &id, int code, const QString &message)
{
    QByteArray out = "{\"jsonrpc\":\"2.0\",\"id\":" + id + ",\"error\":{\"code\":" + QByteArray::number(code) +
                     ",\"message\":";
    wire::appendJsonString(out, message);
    out.append("}}");
    return out;
}

// What the log line of a call says.
struct CallLog
{
    Clock::time_point start = Clock::now();
    std::string method = "-";
    std::string operatorName = "-";
    std::string outcome;
};

} // namespace

class AppServer::Impl
{
public:
    explicit Impl(ServeOptions o) : options(std::move(o)), pool(options.db, size_t(std::max(1, options.workers)))
    {
        Lease c = pool.acquire();
        try {
            requireCurrentSchema(*c);
        } catch (const std::runtime_error &e) {
            throw std::runtime_error(options.db.text + ": " + e.what());
        }
        pool.startCheckpoints([this](const std::string &line) { writeLine(line); });
        setUp();
    }

    void setUp()
    {
        // A kept-alive connection holds one of httplib's threads while its client is idle: past
        // the calls that may run at once (the pool's limit), room for that many idle clients, or
        // the next client would wait for an idle one to time out.
        const size_t threads = size_t(std::max(1, options.workers)) + kIdleConnections;
        http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        http.set_payload_max_length(options.maxBodyBytes);
        http.set_keep_alive_max_count(10000);
        http.set_keep_alive_timeout(5);
        // Headers and body leave in separate writes; without this each answer waits for a delayed ACK.
        http.set_tcp_nodelay(true);
        http.Get("/health", [this](const httplib::Request &, httplib::Response &res) {
            const QByteArray body = QByteArray("{\"server\":\"") + kServerObject + "\",\"version\":\"" + kVersion +
                                    "\",\"database\":\"" +
                                    (options.db.kind == db::Kind::Sqlite ? "sqlite" : "postgresql") + "\"}";
            res.set_content(body.constData(), size_t(body.size()), "application/json");
        });
        http.Post(R"(/rpc/([^/]+))", [this](const httplib::Request &req, httplib::Response &res) {
            CallLog log;
            if (!enter()) {
                res.status = 503;
                res.set_header("Connection", "close");
                res.set_content("{\"erro\":\"Servidor encerrando.\"}", "application/json");
                log.outcome = "recusado 503 (encerrando)";
                writeLog(log, -1);
                return;
            }
            try {
                handle(req, res, log);
            } catch (const std::exception &e) {
                // Only a failure outside every call's own handling gets here.
                log.outcome = "erro interno: " + std::string(e.what());
                res.status = 500;
            }
            if (!log.outcome.empty()) {
                writeLog(log, -1);
                leave();
            } // else a stream: its end leaves
        });
        // Refusals that httplib makes itself (too large, unknown path) still get their line.
        http.set_logger([this](const httplib::Request &req, const httplib::Response &res) {
            if (res.status == 413 || res.status == 404 || res.status == 400) {
                CallLog log;
                log.method = req.path;
                log.outcome = "recusado HTTP " + std::to_string(res.status);
                writeLog(log, -1);
            }
        });
    }

    void handle(const httplib::Request &req, httplib::Response &res, CallLog &log)
    {
        const std::string header = req.get_header_value("Authorization");
        const auto basic = parseBasicAuth(header);
        const auto bearer = basic ? std::nullopt : parseBearerAuth(header);
        if (basic)
            log.operatorName = basic->first;
        Lease lease = pool.acquire();
        std::string operatorName;
        if (basic && auth.check(*lease, basic->first, basic->second))
            operatorName = basic->first;
        else if (bearer)
            operatorName = auth.checkToken(*lease, *bearer);
        if (operatorName.empty()) {
            res.status = 401;
            res.set_header("WWW-Authenticate", "Basic realm=\"rec-appserver\", charset=\"UTF-8\"");
            res.set_header("WWW-Authenticate", "Bearer realm=\"rec-appserver\"");
            res.set_content("{\"erro\":\"Acesso negado.\"}", "application/json");
            log.outcome = "recusado 401";
            return;
        }
        log.operatorName = operatorName;

        RpcCall call;
        const auto fail = [&](int code, const QString &message) {
            const QByteArray body = errorJson(call.id, code, message);
            res.set_content(body.constData(), size_t(body.size()), "application/json");
            log.outcome = "erro " + std::to_string(code);
        };
        try {
            parseCall(QByteArray::fromStdString(req.body), req.matches[1].str(), call);
        } catch (const RpcError &e) {
            if (!call.method.isNull())
                log.method = call.method.left(60).toStdString();
            return fail(e.code(), e.message());
        }
        log.method = call.method.left(60).toStdString();
        const Method *method = call.handler;
        const QByteArray &id = call.id;

        CallContext ctx{std::move(lease), operatorName, options.today ? *options.today : localToday()};
        MethodResult result;
        try {
            result = (*method)(ctx, Params(call.method, call.params, call.packets));
        } catch (const RpcError &e) {
            return fail(e.code(), e.message());
        } catch (const db::DbError &e) {
            if (e.lockConflict())
                return fail(rpc::Refused, QStringLiteral("Operação bloqueada. Documento em alteração por outro usuário."));
            ctx.db.discard();
            log.operatorName += " [" + std::string(e.what()) + "]";
            return fail(rpc::Internal, QString::fromUtf8(kInternal));
        } catch (const std::exception &e) {
            ctx.db.discard();
            log.operatorName += " [" + std::string(e.what()) + "]";
            return fail(rpc::Internal, QString::fromUtf8(kInternal));
        }

        const QByteArray prefix = "{\"jsonrpc\":\"2.0\",\"id\":" + id + ",\"result\":";
        if (!result.stream) {
            // One copy of an answer that may run to megabytes: set_content would copy it again.
            std::string body;
            body.reserve(size_t(prefix.size() + result.json.size() + 1));
            body.append(prefix.constData(), size_t(prefix.size()))
                .append(result.json.constData(), size_t(result.json.size()))
                .push_back('}');
            result.json.clear();
            res.set_content("", 0, "application/json");
            res.body = std::move(body);
            log.outcome = "ok";
            return;
        }
        stream(res, prefix, std::move(result.stream), log);
        log.outcome.clear(); // the stream's end writes the line
    }

    // The result goes out in chunks as the stream produces it; the line is logged at its end.
    void stream(httplib::Response &res, const QByteArray &prefix, std::unique_ptr<ResultStream> s, const CallLog &log)
    {
        struct State
        {
            std::unique_ptr<ResultStream> s;
            QByteArray prefix;
            CallLog log;
            std::string failure;
            bool complete = false;
            std::once_flag released;
        };
        auto st = std::make_shared<State>();
        st->s = std::move(s);
        st->prefix = prefix;
        st->log = log;
        res.set_chunked_content_provider(
            "application/json",
            [st](size_t, httplib::DataSink &sink) {
                try {
                    QByteArray buf = std::move(st->prefix);
                    st->prefix.clear();
                    const bool more = st->s->produce(buf);
                    if (!more)
                        buf.append('}');
                    if (!buf.isEmpty() && !sink.write(buf.constData(), size_t(buf.size())))
                        return false;
                    if (!more) {
                        st->complete = true;
                        sink.done();
                    }
                    return true;
                } catch (const std::exception &e) {
                    st->failure = e.what();
                    return false;
                }
            },
            [this, st](bool) {
                std::call_once(st->released, [&] {
                    const long rows = st->s ? st->s->rows() : 0;
                    st->s.reset();
                    st->log.outcome = st->complete ? "ok"
                                      : st->failure.empty() ? "interrompido (cliente desconectou)"
                                                            : "interrompido: " + st->failure;
                    writeLog(st->log, rows);
                    leave();
                });
            });
    }

    void writeLog(const CallLog &log, long rows)
    {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - log.start).count();
        char duration[32];
        const auto written = std::to_chars(duration, duration + sizeof duration, ms, std::chars_format::fixed, 1);
        std::string line = localTimeText() + " " + log.method + " operador=" + log.operatorName + " " +
                           std::string(duration, written.ptr) + " ms " + log.outcome;
        if (rows >= 0)
            line += " linhas=" + std::to_string(rows);
        writeLine(line);
    }

    void writeLine(const std::string &line)
    {
        if (options.log) {
            options.log(line);
            return;
        }
        const std::string text = line + '\n'; // one write: the lines of concurrent calls never interleave
        std::lock_guard lock(logMutex);
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    }

    ServeOptions options;
    ConnectionPool pool;
    Authenticator auth;
    httplib::Server http;
    std::mutex logMutex;
    std::atomic<int> port{0};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> runActive{false};

    // Calls under way, so that stopping can let them end.
    bool enter()
    {
        ++active;
        if (!stopRequested)
            return true;
        leave();
        return false;
    }
    void leave()
    {
        if (--active == 0) {
            std::lock_guard lock(activeMutex);
            idle.notify_all();
        }
    }
    void waitForCalls(std::chrono::seconds limit)
    {
        std::unique_lock lock(activeMutex);
        idle.wait_for(lock, limit, [this] { return active == 0; });
    }
    std::atomic<int> active{0};
    std::mutex activeMutex;
    std::condition_variable idle;
};

AppServer::AppServer(ServeOptions options) : d(std::make_unique<Impl>(std::move(options))) {}

AppServer::~AppServer() { stop(); }

int AppServer::bind()
{
    const int p = d->options.port == 0 ? d->http.bind_to_any_port(d->options.host)
                                       : (d->http.bind_to_port(d->options.host, d->options.port) ? d->options.port : -1);
    if (p <= 0)
        throw std::runtime_error("Não foi possível escutar em " + d->options.host + ":" +
                                 std::to_string(d->options.port) + " (endereço em uso ou inválido).");
    d->port = p;
    return p;
}

void AppServer::run()
{
    d->runActive = true;
    if (!d->stopRequested)
        d->http.listen_after_bind();
    d->runActive = false;
}

void AppServer::stop()
{
    d->stopRequested = true;
    // httplib abandons a chunked answer once stopped: the calls under way end first.
    d->waitForCalls(std::chrono::seconds(120));
    // httplib ignores a stop that comes before its loop runs.
    while (d->runActive && !d->http.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->http.stop();
    d->pool.stopCheckpoints();
}

int AppServer::port() const { return d->port; }

} // namespace erp::server
