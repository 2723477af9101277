#include "appserver.h"
#include "auth.h"
#include "incomingbody.h"
#include "server/db/pool.h"
#include "server/db/schema.h"
#include "server/rpc/rpc.h"
#include "server/util/textutil.h"

#include <erpwire/gzip.h>
#include <erpwire/json.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <QByteArray>

#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <future>
#include <list>
#include <malloc.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <utility>

namespace erp::server {

namespace asio = boost::asio;
namespace ssl = asio::ssl;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

using Clock = std::chrono::steady_clock;

const char *kVersion = "0.1.0";

// A client may keep its connection idle this long between calls (it costs no thread), but
// must send a request's head within kHead once it began, and never stall its body for kBody.
constexpr auto kIdle = std::chrono::seconds(120);
constexpr auto kHead = std::chrono::seconds(10);
constexpr auto kBody = std::chrono::seconds(30);
constexpr auto kWrite = std::chrono::seconds(60);
// After a refusal the rest of the request is read and thrown away for a moment, so the client
// reads the answer instead of a reset.
constexpr auto kLinger = std::chrono::seconds(2);
constexpr std::uint32_t kHeaderLimit = 64 * 1024;
constexpr std::size_t kPiece = 64 * 1024;
// A streamed answer's first pieces are small, so the client reads while the rest is made; the
// later ones larger, so that a long list pays for fewer hand-overs between the threads.
constexpr qsizetype kChunk = 64 * 1024, kLongChunk = 128 * 1024;
constexpr int kShortPieces = 16;
// A body larger than this is read as a call while it still arrives, by one of a few readers of
// their own: a slow sender then holds a reader, never a worker.
constexpr qsizetype kStreamFrom = 256 * 1024;
constexpr int kStreamedReads = 2;
// Connections past the limit are answered 503 while there are at most this many of them;
// beyond, they are closed unanswered.
constexpr int kRefusing = 64;

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

const char *reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

// Every answer says that gzip'd request bodies are welcome.
std::string responseHead(int status, std::optional<std::size_t> length, bool gzip, bool close,
                         const std::string &extra = {})
{
    std::string h = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) +
                    "\r\nContent-Type: application/json\r\nAccept-Encoding: gzip\r\n";
    if (length)
        h += "Content-Length: " + std::to_string(*length) + "\r\n";
    else
        h += "Transfer-Encoding: chunked\r\n";
    if (gzip)
        h += "Content-Encoding: gzip\r\n";
    if (close)
        h += "Connection: close\r\n";
    return h + extra + "\r\n";
}

bool hasToken(std::string_view list, std::string_view token)
{
    // enough for "gzip", "gzip, deflate", "deflate;q=0.5, gzip;q=1"; a q of 0 is not honoured
    for (size_t at = 0; at < list.size();) {
        size_t end = list.find(',', at);
        if (end == std::string_view::npos)
            end = list.size();
        std::string_view item = list.substr(at, end - at);
        item = item.substr(0, item.find(';'));
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        if (beast::iequals(item, token))
            return true;
        at = end + 1;
    }
    return false;
}

struct AuthOutcome
{
    enum Kind { Allowed, Denied, Throttled, Unavailable } kind = Denied;
    std::string operatorName;
    int retryAfterSeconds = 0;
};

// A large request read while it arrives: the reader gives the call when it is the usual one
// (texts, numbers and packets), nothing when the whole body must go to the document.
struct StreamedRequest
{
    explicit StreamedRequest(std::size_t limit) : body(limit) {}
    IncomingBody body;
    std::promise<std::optional<RpcCall>> readDone;
    std::future<std::optional<RpcCall>> read = readDone.get_future();
};

struct SessionBase
{
    virtual ~SessionBase() = default;
    // On stopping: a connection waiting for its next request is closed.
    virtual void closeIfIdle() = 0;
    virtual void closeNow() = 0;
};

} // namespace

class AppServer::Impl
{
public:
    explicit Impl(ServeOptions o)
        : options(std::move(o)), pool(withTimeout(options), size_t(std::max(1, options.workers))),
          auth(pool, authOptions()), workers(size_t(std::max(1, options.workers)))
    {
        {
            Lease c = pool.acquire();
            try {
                requireCurrentSchema(*c);
            } catch (const std::runtime_error &e) {
                throw std::runtime_error(options.db.text + ": " + e.what());
            }
        }
        if (!options.tlsCertFile.empty() || !options.tlsKeyFile.empty()) {
            tls.emplace(ssl::context::tls_server);
            tls->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                             ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
            try {
                tls->use_certificate_chain_file(options.tlsCertFile);
                tls->use_private_key_file(options.tlsKeyFile, ssl::context::pem);
            } catch (const boost::system::system_error &e) {
                throw std::runtime_error("Não foi possível carregar o certificado TLS (" + options.tlsCertFile + ", " +
                                         options.tlsKeyFile + "): " + e.code().message());
            }
        }
        pool.startCheckpoints([this](const std::string &line) { writeLine(line); });
    }

    AuthOptions authOptions()
    {
        AuthOptions a;
        a.trustWindow = options.trustWindow;
        a.maxHashing = std::max(1, options.workers / 2);
        a.log = [this](const std::string &line) { writeLine(line); };
        return a;
    }

    static db::DbUrl withTimeout(const ServeOptions &o)
    {
        db::DbUrl u = o.db;
        u.timeout = std::chrono::seconds(std::max(1, o.statementTimeoutSeconds));
        return u;
    }

    // The one place a request's credentials are judged; runs on a worker.
    AuthOutcome authorize(const std::string &header, const std::string &peer)
    {
        try {
            const AuthResult r = auth.authenticate(header, peer);
            switch (r.kind) {
            case AuthResult::Kind::Allowed: return {AuthOutcome::Allowed, r.operatorName, 0};
            case AuthResult::Kind::Throttled: return {AuthOutcome::Throttled, r.operatorName, r.retryAfterSeconds};
            case AuthResult::Kind::Denied: break;
            }
        } catch (const db::DbError &e) {
            writeLine(localSecond().text + std::string(" autenticação sem banco: ") + e.what());
            return {AuthOutcome::Unavailable, {}, 0};
        }
        return {AuthOutcome::Denied, {}, 0};
    }

    struct Answer
    {
        QByteArray json; // the whole answer, or the start of a stream
        std::unique_ptr<ResultStream> stream;
    };

    // A reader for a large body, or nothing when every reader is taken.
    std::shared_ptr<StreamedRequest> streamRequest()
    {
        if (streamedReads.fetch_add(1) >= kStreamedReads) {
            --streamedReads;
            return nullptr;
        }
        auto request = std::make_shared<StreamedRequest>(options.maxBodyBytes);
        asio::post(readers, [this, request] {
            std::optional<RpcCall> call;
            try {
                call.emplace();
                if (!readUsualCall(request->body, *call))
                    call.reset();
            } catch (const std::exception &) {
                call.reset(); // the document reads it again, and words the failure
            }
            --streamedReads;
            request->readDone.set_value(std::move(call));
        });
        return request;
    }

    // Reads and runs one call on a worker; the body is dropped as soon as it is read. read: the
    // call already read from a body that was streamed.
    Answer runCall(QByteArray body, const std::string &object, const std::string &operatorName, CallLog &log,
                   std::optional<RpcCall> read = std::nullopt)
    {
        RpcCall call;
        const auto fail = [&](int code, const QString &message) {
            log.outcome = "erro " + std::to_string(code);
            return Answer{errorJson(call.id, code, message), nullptr};
        };
        try {
            if (read) {
                call = *std::move(read);
                bindCall(object, call);
            } else {
                parseCall(body, object, call);
            }
        } catch (const RpcError &e) {
            if (!call.method.isNull())
                log.method = call.method.left(60).toStdString();
            return fail(e.code(), e.message());
        }
        body = QByteArray();
        log.method = call.method.left(60).toStdString();
        std::optional<CallContext> ctx;
        try {
            ctx.emplace(CallContext{pool.acquire(), operatorName, options.today ? *options.today : localToday()});
            MethodResult result = (*call.handler)(*ctx, Params(call.method, call.params, call.packets));
            const QByteArray prefix = "{\"jsonrpc\":\"2.0\",\"id\":" + call.id + ",\"result\":";
            if (result.stream)
                return Answer{prefix, std::move(result.stream)};
            result.json.prepend(prefix);
            result.json.append('}');
            log.outcome = "ok";
            return Answer{std::move(result.json), nullptr};
        } catch (const RpcError &e) {
            return fail(e.code(), e.message());
        } catch (const db::DbError &e) {
            if (e.lockConflict())
                return fail(rpc::Refused, QStringLiteral("Operação bloqueada. Documento em alteração por outro usuário."));
            if (ctx)
                ctx->db.discard();
            log.operatorName += " [" + std::string(e.what()) + "]";
            if (e.timedOut())
                return fail(rpc::Refused, QStringLiteral("O banco de dados não respondeu em %1 s; a operação foi "
                                                         "cancelada e nada foi gravado. Tente novamente.")
                                              .arg(std::max(1, options.statementTimeoutSeconds)));
            return fail(rpc::Internal, QString::fromUtf8(kInternal));
        } catch (const std::exception &e) {
            if (ctx)
                ctx->db.discard();
            log.operatorName += " [" + std::string(e.what()) + "]";
            return fail(rpc::Internal, QString::fromUtf8(kInternal));
        }
    }

    // /health: a trivial query on a connection of its own, which answers within a second or
    // the database counts as down. A probe stuck on a dead database is never waited for twice.
    void checkHealth(std::function<void(bool)> done)
    {
        struct Waiter
        {
            std::function<void(bool)> done;
            std::atomic<bool> fired{false};
            // The answer lets go of its session at once: the second's timer keeps the waiter
            // alive, and a session held that long keeps a stopping server waiting for it.
            void fire(bool ok)
            {
                if (!fired.exchange(true))
                    std::exchange(done, nullptr)(ok);
            }
        };
        auto w = std::make_shared<Waiter>();
        w->done = std::move(done);
        {
            std::lock_guard lock(healthMutex);
            healthWaiters.push_back(w);
            if (!probing) {
                probing = true;
                asio::post(healthThread, [this] {
                    const bool ok = probe();
                    std::vector<std::shared_ptr<Waiter>> ws;
                    {
                        std::lock_guard lock(healthMutex);
                        probing = false;
                        for (auto &p : healthWaiters)
                            ws.push_back(std::static_pointer_cast<Waiter>(p));
                        healthWaiters.clear();
                    }
                    for (auto &x : ws)
                        x->fire(ok);
                });
            }
        }
        auto timer = std::make_shared<asio::steady_timer>(io, std::chrono::seconds(1));
        timer->async_wait([w, timer](const boost::system::error_code &) { w->fire(false); });
    }

    bool probe()
    {
        try {
            if (!healthConnection) {
                db::DbUrl u = options.db;
                u.timeout = std::chrono::seconds(2);
                healthConnection = db::connect(u);
            }
            return db::queryInt(*healthConnection, "SELECT 1") == 1;
        } catch (const std::exception &) {
            healthConnection.reset();
            return false;
        }
    }

    void writeLog(const CallLog &log, long rows)
    {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - log.start).count();
        char duration[32];
        const auto written = std::to_chars(duration, duration + sizeof duration, ms, std::chars_format::fixed, 1);
        std::string line = std::string(localSecond().text) + " " + printable(log.method) + " operador=" + printable(log.operatorName, 4000) +
                           " " +
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

    // Calls under way, so that stopping can let them end.
    void enter() { ++active; }
    void leave()
    {
        if (--active == 0) {
            {
                std::lock_guard lock(activeMutex);
                idle.notify_all();
            }
            scheduleTrim();
        }
    }

    // glibc keeps what a burst freed; once nothing runs for a moment it goes back to the system.
    void scheduleTrim()
    {
        if (trimScheduled.exchange(true))
            return;
        auto timer = std::make_shared<asio::steady_timer>(io, std::chrono::milliseconds(500));
        timer->async_wait([this, timer](const boost::system::error_code &ec) {
            trimScheduled = false;
            if (!ec && active == 0)
                malloc_trim(0);
        });
    }

    void accept();
    template <class Stream> void startSession(tcp::socket socket, bool overLimit);

    ServeOptions options;
    ConnectionPool pool;
    Authenticator auth;
    asio::thread_pool workers;
    asio::thread_pool healthThread{1};
    // Before io: a reader still waiting on a body ends when the session holding it is destroyed.
    asio::thread_pool readers{kStreamedReads};
    std::atomic<int> streamedReads{0};
    std::optional<ssl::context> tls;
    std::mutex healthMutex;
    bool probing = false;
    std::vector<std::shared_ptr<void>> healthWaiters;
    std::unique_ptr<db::Connection> healthConnection;
    std::mutex logMutex;
    std::atomic<int> port{0};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> trimScheduled{false};
    std::atomic<int> connections{0}, refusing{0};

    std::mutex sessionsMutex;
    std::list<std::weak_ptr<SessionBase>> sessions;

    std::atomic<int> active{0};
    std::mutex activeMutex;
    std::condition_variable idle;

    // Last, so destroyed first: the sessions its handlers still hold end while the rest of
    // the server, which they count themselves in, is there.
    asio::io_context io;
    std::optional<tcp::acceptor> acceptor;
};

namespace {

// Impl is a parameter only because the server's implementation is private to it.
template <class Stream, class Impl>
class Session : public SessionBase, public std::enable_shared_from_this<Session<Stream, Impl>>
{
public:
    template <class... Args>
    Session(Impl &srv, bool overLimit, tcp::socket &&socket, Args &&...args)
        : m_srv(srv), m_stream(std::move(socket), std::forward<Args>(args)...), m_overLimit(overLimit)
    {
        ++(overLimit ? srv.refusing : srv.connections);
    }
    ~Session() override
    {
        endStreamedBody(false);
        if (m_callActive)
            m_srv.leave();
        --(m_overLimit ? m_srv.refusing : m_srv.connections);
    }

    void start()
    {
        if constexpr (kTls) {
            lowest().expires_after(kHead);
            m_stream.async_handshake(ssl::stream_base::server, [self = this->shared_from_this()](beast::error_code ec) {
                if (ec)
                    return self->lowest().close();
                self->afterHandshake();
            });
        } else {
            afterHandshake();
        }
    }

    void closeIfIdle() override
    {
        asio::post(m_stream.get_executor(), [self = this->shared_from_this()] {
            if (self->m_state != State::Busy)
                self->lowest().close();
        });
    }
    void closeNow() override
    {
        asio::post(m_stream.get_executor(), [self = this->shared_from_this()] { self->lowest().close(); });
    }

private:
    static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;
    enum class State { Idle, Head, Busy };

    beast::tcp_stream &lowest() { return beast::get_lowest_layer(m_stream); }
    auto self() { return this->shared_from_this(); }

    // A reader that went away (a cancelled list) is noticed before its next piece: the kernel
    // takes the first writes after its FIN without complaint, and the query would run on.
    bool peerGone()
    {
        char byte;
        const ssize_t n = ::recv(lowest().socket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    }

    void afterHandshake()
    {
        if (m_overLimit) {
            m_log.outcome = "recusado 503 (conexões demais)";
            return refuse(503, "{\"erro\":\"Servidor ocupado: conexões demais. Tente de novo em instantes.\"}");
        }
        nextRequest();
    }

    void nextRequest()
    {
        m_state = State::Idle;
        if (m_srv.stopRequested)
            return shutdown();
        if (m_buffer.size() > 0) // pipelined
            return readHead();
        lowest().expires_after(kIdle);
        m_stream.async_read_some(m_buffer.prepare(4096), [self = self()](beast::error_code ec, std::size_t n) {
            self->m_buffer.commit(n);
            if (ec)
                return self->lowest().close();
            self->readHead();
        });
    }

    void readHead()
    {
        m_state = State::Head;
        m_parser.emplace();
        m_parser->header_limit(kHeaderLimit);
        m_parser->body_limit(m_srv.options.maxBodyBytes);
        lowest().expires_after(kHead);
        http::async_read_header(m_stream, m_buffer, *m_parser,
                                [self = self()](beast::error_code ec, std::size_t) { self->onHead(ec); });
    }

    void onHead(beast::error_code ec)
    {
        m_state = State::Busy;
        m_log = CallLog{};
        if (ec == http::error::body_limit) {
            m_log.outcome = "recusado HTTP 413";
            return refuse(413, "{\"erro\":\"Requisição grande demais.\"}");
        }
        if (ec && ec.category() == http::make_error_code(http::error::bad_target).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message) {
            m_log.outcome = "recusado HTTP 400";
            return refuse(400, "{\"erro\":\"Requisição HTTP inválida.\"}");
        }
        if (ec)
            return lowest().close(); // gone, or too slow to say what it wants
        const auto &req = m_parser->get();
        m_keepAlive = req.keep_alive();
        m_gzipAnswer = hasToken(req[http::field::accept_encoding], "gzip");
        const std::string_view target = req.target();
        m_log.method = std::string(target.substr(0, 60));
        if (target == "/health" && req.method() == http::verb::get)
            return health();
        static constexpr std::string_view kRpc = "/rpc/";
        if (req.method() != http::verb::post || !target.starts_with(kRpc) || target.size() == kRpc.size() ||
            target.find('/', kRpc.size()) != std::string_view::npos) {
            m_log.outcome = "recusado HTTP 404";
            return refuse(404, "{\"erro\":\"Recurso inexistente.\"}");
        }
        m_object = std::string(target.substr(kRpc.size()));
        m_log.method = "-";
        m_srv.enter();
        m_callActive = true;
        if (m_srv.stopRequested) {
            m_log.outcome = "recusado 503 (encerrando)";
            return refuse(503, "{\"erro\":\"Servidor encerrando.\"}");
        }
        const std::string_view encoding = req[http::field::content_encoding];
        m_inflater.reset();
        if (beast::iequals(encoding, "gzip")) {
            m_inflater = std::make_unique<wire::GzipInflater>(m_srv.options.maxBodyBytes);
        } else if (!encoding.empty() && !beast::iequals(encoding, "identity")) {
            m_log.outcome = "recusado HTTP 415";
            return refuse(415, "{\"erro\":\"Codificação do corpo não suportada (use gzip).\"}");
        }
        std::string header(req[http::field::authorization]);
        if (header.rfind("Basic ", 0) == 0) // the name is in the log even when refused
            if (const auto basic = parseBasicAuth(header))
                m_log.operatorName = basic->first;
        std::string peer;
        beast::error_code ignored;
        const auto endpoint = lowest().socket().remote_endpoint(ignored);
        if (!ignored)
            peer = endpoint.address().to_string();
        // A session's calls after its first need neither the database nor the hash to be let in:
        // judged here, they save the trip to a worker and back.
        if (std::optional<std::string> known = m_srv.auth.recall(header))
            return onAuthorized({AuthOutcome::Allowed, std::move(*known), 0});
        asio::post(m_srv.workers, [self = self(), header = std::move(header), peer = std::move(peer)] {
            AuthOutcome outcome = self->m_srv.authorize(header, peer);
            asio::post(self->m_stream.get_executor(),
                       [self, outcome = std::move(outcome)]() mutable { self->onAuthorized(std::move(outcome)); });
        });
    }

    void onAuthorized(AuthOutcome outcome)
    {
        switch (outcome.kind) {
        case AuthOutcome::Allowed: break;
        case AuthOutcome::Denied:
            m_log.outcome = "recusado 401";
            return refuse(401, "{\"erro\":\"Acesso negado.\"}",
                          "WWW-Authenticate: Basic realm=\"rec-appserver\", charset=\"UTF-8\"\r\n"
                          "WWW-Authenticate: Bearer realm=\"rec-appserver\"\r\n");
        case AuthOutcome::Throttled:
            m_log.outcome = "recusado 429";
            return refuse(429, "{\"erro\":\"Tentativas demais. Aguarde para tentar de novo.\"}",
                          "Retry-After: " + std::to_string(outcome.retryAfterSeconds) + "\r\n");
        case AuthOutcome::Unavailable:
            m_log.outcome = "recusado 503 (banco indisponível)";
            return refuse(503, "{\"erro\":\"Banco de dados indisponível.\"}");
        }
        m_operator = std::move(outcome.operatorName);
        m_log.operatorName = m_operator;
        m_body = QByteArray();
        const auto length = m_parser->content_length();
        if (length && !m_inflater && qsizetype(*length) < kStreamFrom)
            m_body.reserve(qsizetype(*length));
        if (beast::iequals(m_parser->get()[http::field::expect], "100-continue")) {
            m_out = "HTTP/1.1 100 Continue\r\n\r\n";
            lowest().expires_after(kWrite);
            return asio::async_write(m_stream, asio::buffer(m_out), [self = self()](beast::error_code ec, std::size_t) {
                if (ec)
                    return self->abandon("interrompido (cliente desconectou)");
                self->readBody();
            });
        }
        readBody();
    }

    void readBody()
    {
        if (m_parser->is_done())
            return bodyRead();
        auto &b = m_parser->get().body();
        b.data = piece();
        b.size = kPiece;
        lowest().expires_after(kBody);
        http::async_read_some(m_stream, m_buffer, *m_parser, [self = self()](beast::error_code ec, std::size_t) {
            self->onBody(ec);
        });
    }

    void onBody(beast::error_code ec)
    {
        if (ec == http::error::need_buffer)
            ec = {};
        if (ec == http::error::body_limit) {
            m_log.outcome = "recusado HTTP 413";
            return refuse(413, "{\"erro\":\"Requisição grande demais.\"}");
        }
        if (ec)
            return abandon("interrompido (corpo incompleto)");
        const std::size_t n = kPiece - m_parser->get().body().size;
        const auto tooLarge = [this] {
            m_log.outcome = "recusado HTTP 413";
            refuse(413, "{\"erro\":\"Requisição grande demais.\"}");
        };
        // a streamed body gets each piece as it is inflated
        QByteArray &out = m_streamed ? m_inflated : m_body;
        if (m_inflater) {
            try {
                if (!m_inflater->feed(m_piece.get(), n, out))
                    return tooLarge();
            } catch (const wire::GzipError &) {
                m_log.outcome = "recusado HTTP 400 (gzip inválido)";
                return refuse(400, "{\"erro\":\"Corpo gzip inválido.\"}");
            }
        }
        if (m_streamed) {
            const bool fits = m_inflater ? m_streamed->body.append(m_inflated.constData(), std::size_t(m_inflated.size()))
                                         : m_streamed->body.append(m_piece.get(), n);
            m_inflated.resize(0);
            if (!fits)
                return tooLarge();
        } else {
            if (!m_inflater)
                m_body.append(m_piece.get(), qsizetype(n));
            if (m_body.size() >= kStreamFrom && !m_parser->is_done() && (m_streamed = m_srv.streamRequest())) {
                if (!m_streamed->body.append(m_body.constData(), std::size_t(m_body.size())))
                    return tooLarge();
                m_body = QByteArray();
            }
        }
        readBody();
    }

    void bodyRead()
    {
        if (m_inflater && !m_inflater->finished()) {
            m_log.outcome = "recusado HTTP 400 (gzip incompleto)";
            return refuse(400, "{\"erro\":\"Corpo gzip incompleto.\"}");
        }
        m_inflater.reset();
        m_piece.reset();
        m_inflated = QByteArray();
        std::shared_ptr<StreamedRequest> request = std::exchange(m_streamed, nullptr);
        if (request)
            request->body.end(true);
        asio::post(m_srv.workers, [self = self(), request]() mutable {
            std::optional<RpcCall> read;
            QByteArray body;
            if (!request) {
                body = std::move(self->m_body);
            } else if ((read = request->read.get())) {
                request.reset(); // its bytes are not needed while the method runs
            } else {
                // unread, the body goes to the document as it is: no copy
                const std::string_view all = request->body.all();
                body = QByteArray::fromRawData(all.data(), qsizetype(all.size()));
            }
            auto answer = std::make_shared<typename Impl::Answer>(self->m_srv.runCall(
                std::move(body), self->m_object, self->m_operator, self->m_log, std::move(read)));
            asio::post(self->m_stream.get_executor(), [self, answer] { self->answer(std::move(*answer)); });
        });
    }

    void answer(typename Impl::Answer a)
    {
        if (a.stream) {
            m_result = std::move(a.stream);
            m_pending = std::move(a.json);
            if (m_gzipAnswer)
                m_deflater = std::make_unique<wire::GzipDeflater>();
            m_piecesMade = 0;
            m_writeFailed = false;
            m_producing = true;
            return asio::post(m_srv.workers, [self = self()] { self->produce(); });
        }
        const bool close = !m_keepAlive || m_srv.stopRequested;
        if (m_gzipAnswer && a.json.size() > 256) {
            std::string body;
            wire::GzipDeflater d;
            d.feed(a.json.constData(), std::size_t(a.json.size()), true, body);
            m_out = responseHead(200, body.size(), true, close) + body;
        } else {
            m_gzipAnswer = false;
            m_out = responseHead(200, std::size_t(a.json.size()), false, close);
            m_outBody = std::move(a.json); // written after the head as it is
        }
        write([self = self(), close] {
            self->finishCall(-1);
            close ? self->shutdown() : self->nextRequest();
        });
    }

    // On a worker: the next piece of a streamed answer, as a chunk. Pieces are made one at a
    // time, the next while the last is being written, so the database and the socket overlap.
    void produce()
    {
        Piece piece;
        try {
            QByteArray buf = std::move(m_pending);
            m_pending = QByteArray();
            bool more = true;
            const bool first = m_piecesMade == 0;
            const qsizetype wanted = m_piecesMade++ < kShortPieces ? kChunk : kLongChunk;
            while (more && buf.size() < wanted)
                more = m_result->produce(buf);
            if (!more) {
                buf.append('}');
                piece.last = true;
            }
            if (m_deflater) {
                std::string compressed;
                m_deflater->feed(buf.constData(), std::size_t(buf.size()), piece.last, compressed);
                buf = QByteArray(compressed.data(), qsizetype(compressed.size()));
            }
            // the chunk's framing around the payload, which is written from where it was made
            if (first)
                piece.head = responseHead(200, std::nullopt, bool(m_deflater), !m_keepAlive || m_srv.stopRequested);
            if (!buf.isEmpty()) {
                char size[20];
                const auto w = std::to_chars(size, size + sizeof size, buf.size(), 16);
                piece.head.append(size, w.ptr).append("\r\n");
                piece.tail = "\r\n";
                piece.payload = std::move(buf);
            }
            if (piece.last)
                piece.tail.append("0\r\n\r\n");
        } catch (const std::exception &e) {
            piece.failure = e.what();
        }
        asio::post(m_stream.get_executor(), [self = self(), piece = std::move(piece)]() mutable {
            self->m_producing = false;
            self->m_ready = std::move(piece);
            if (self->m_writeFailed)
                return self->endStream("interrompido (cliente desconectou)", false);
            if (!self->m_writing)
                self->writePiece();
        });
    }

    void writePiece()
    {
        Piece piece = std::move(*m_ready);
        m_ready.reset();
        if (!piece.failure.empty())
            return endStream("interrompido: " + piece.failure, false);
        if (peerGone())
            return endStream("interrompido (cliente desconectou)", false);
        m_out = std::move(piece.head);
        m_outBody = std::move(piece.payload);
        m_outTail = std::move(piece.tail);
        m_writing = true;
        if (!piece.last) {
            m_producing = true;
            asio::post(m_srv.workers, [self = self()] { self->produce(); });
        }
        lowest().expires_after(kWrite);
        asio::async_write(m_stream, outBuffers(),
                          [self = self(), last = piece.last](beast::error_code ec, std::size_t) {
                              self->clearOut();
                              self->m_writing = false;
                              if (ec) {
                                  // the piece being made still uses the result: it ends the stream
                                  self->m_writeFailed = true;
                                  if (!self->m_producing)
                                      self->endStream("interrompido (cliente desconectou)", false);
                                  return;
                              }
                              if (last)
                                  return self->endStream("ok", true);
                              if (self->m_ready)
                                  self->writePiece();
                          });
    }

    void endStream(std::string outcome, bool complete)
    {
        m_ready.reset();
        m_log.outcome = std::move(outcome);
        const long rows = m_result->rows();
        // ending a query may wait on the database: never on this thread
        asio::post(m_srv.workers, [self = self(), result = std::move(m_result), rows, complete]() mutable {
            result.reset();
            asio::post(self->m_stream.get_executor(), [self, rows, complete] {
                self->m_deflater.reset();
                self->finishCall(rows);
                if (!complete)
                    return self->lowest().close();
                (!self->m_keepAlive || self->m_srv.stopRequested) ? self->shutdown() : self->nextRequest();
            });
        });
    }

    void finishCall(long rows)
    {
        m_srv.writeLog(m_log, rows);
        if (m_callActive) {
            m_callActive = false;
            m_srv.leave();
        }
    }

    std::array<asio::const_buffer, 3> outBuffers() const
    {
        return {asio::buffer(m_out), asio::buffer(m_outBody.constData(), std::size_t(m_outBody.size())),
                asio::buffer(m_outTail)};
    }
    void clearOut()
    {
        m_out = std::string();
        m_outBody = QByteArray();
        m_outTail = std::string();
    }

    template <class Then> void write(Then then)
    {
        lowest().expires_after(kWrite);
        asio::async_write(m_stream, outBuffers(), [self = self(), then](beast::error_code ec, std::size_t) {
            self->clearOut();
            if (ec) {
                if (self->m_result)
                    return self->endStream("interrompido (cliente desconectou)", false);
                self->abandon("interrompido (cliente desconectou)");
                return;
            }
            then();
        });
    }

    void health()
    {
        m_srv.checkHealth([self = self()](bool ok) {
            asio::post(self->m_stream.get_executor(), [self, ok] {
                const auto &o = self->m_srv.options;
                const std::string body =
                    ok ? std::string("{\"server\":\"") + kServerObject + "\",\"version\":\"" + kVersion +
                             "\",\"database\":\"" + (o.db.kind == db::Kind::Sqlite ? "sqlite" : "postgresql") + "\"}"
                       : std::string("{\"erro\":\"O banco de dados não responde.\"}");
                const bool close = !self->m_keepAlive || self->m_srv.stopRequested || !self->m_parser->is_done();
                self->m_out = responseHead(ok ? 200 : 503, body.size(), false, close) + body;
                self->write([self, close] { close ? self->shutdown() : self->nextRequest(); });
            });
        });
    }

    // Answers at once and closes: the rest of the request is never buffered.
    void refuse(int status, const std::string &body, const std::string &extra = {})
    {
        endStreamedBody(false);
        m_srv.writeLog(m_log, -1);
        if (m_callActive) {
            m_callActive = false;
            m_srv.leave();
        }
        m_out = responseHead(status, body.size(), false, true, extra) + body;
        write([self = self()] { self->shutdown(); });
    }

    void abandon(const std::string &outcome)
    {
        endStreamedBody(false);
        m_log.outcome = outcome;
        finishCall(-1);
        lowest().close();
    }

    // Closes after the answer: the sending side first, then whatever the client still sends is
    // read and dropped for a moment.
    void shutdown()
    {
        m_state = State::Busy;
        if constexpr (kTls) {
            lowest().expires_after(kLinger);
            m_stream.async_shutdown([self = self()](beast::error_code) { self->lowest().close(); });
        } else {
            beast::error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            lowest().expires_after(kLinger);
            m_buffer.clear();
            drain();
        }
    }
    void drain()
    {
        lowest().async_read_some(asio::buffer(piece(), kPiece), [self = self()](beast::error_code ec, std::size_t) {
            if (ec)
                return self->lowest().close();
            self->drain();
        });
    }

    // The reader of a body cut short is let go; its bytes go with the last holder.
    void endStreamedBody(bool whole)
    {
        if (m_streamed)
            std::exchange(m_streamed, nullptr)->body.end(whole);
    }

    Impl &m_srv;
    Stream m_stream;
    bool m_overLimit;
    State m_state = State::Idle;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::buffer_body>> m_parser;
    // Where a body is read, only while one is: not zero-filled, every call would clear 64 KB.
    std::unique_ptr<char[]> m_piece;
    char *piece()
    {
        if (!m_piece)
            m_piece.reset(new char[kPiece]);
        return m_piece.get();
    }
    CallLog m_log;
    bool m_keepAlive = true;
    bool m_gzipAnswer = false;
    bool m_callActive = false;
    std::string m_object, m_operator;
    QByteArray m_body;
    std::unique_ptr<wire::GzipInflater> m_inflater;
    std::shared_ptr<StreamedRequest> m_streamed;
    QByteArray m_inflated; // a piece of a streamed body, inflated

    std::string m_out; // what is being written: m_out, then m_outBody, then m_outTail
    QByteArray m_outBody;
    std::string m_outTail;
    std::unique_ptr<ResultStream> m_result;
    QByteArray m_pending;
    std::unique_ptr<wire::GzipDeflater> m_deflater;
    struct Piece
    {
        std::string head;   // the response's head before the first, the chunk's size line
        QByteArray payload;
        std::string tail;   // the chunk's end, and the last chunk after the last
        bool last = false;
        std::string failure;
    };
    std::optional<Piece> m_ready;    // made, waiting for the piece before it to be written
    int m_piecesMade = 0;            // the workers' own: pieces are made one at a time
    bool m_producing = false, m_writing = false, m_writeFailed = false;
};

} // namespace

template <class Stream> void AppServer::Impl::startSession(tcp::socket socket, bool overLimit)
{
    std::shared_ptr<Session<Stream, Impl>> s;
    if constexpr (std::is_same_v<Stream, beast::tcp_stream>)
        s = std::make_shared<Session<Stream, Impl>>(*this, overLimit, std::move(socket));
    else
        s = std::make_shared<Session<Stream, Impl>>(*this, overLimit, std::move(socket), *tls);
    {
        std::lock_guard lock(sessionsMutex);
        // forget the ended ones now and then, so the list stays the size of the open ones
        if (sessions.size() > 64 && sessions.size() > size_t(connections) * 2)
            sessions.remove_if([](const std::weak_ptr<SessionBase> &w) { return w.expired(); });
        sessions.push_back(s);
    }
    s->start();
}

void AppServer::Impl::accept()
{
    acceptor->async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor->is_open())
            return;
        if (!ec) {
            socket.set_option(tcp::no_delay(true), ec);
            const bool overLimit = connections >= options.maxConnections;
            if (overLimit && refusing >= kRefusing) {
                socket.close(ec);
            } else if (tls) {
                startSession<beast::ssl_stream<beast::tcp_stream>>(std::move(socket), overLimit);
            } else {
                startSession<beast::tcp_stream>(std::move(socket), overLimit);
            }
        } else if (ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space) {
            // out of file descriptors: wait a moment instead of spinning
            auto timer = std::make_shared<asio::steady_timer>(io, std::chrono::milliseconds(50));
            return timer->async_wait([this, timer](const boost::system::error_code &) { accept(); });
        }
        accept();
    });
}

AppServer::AppServer(ServeOptions options) : d(std::make_unique<Impl>(std::move(options))) {}

AppServer::~AppServer()
{
    stop();
    d->workers.join();
    d->healthThread.join();
}

int AppServer::bind()
{
    boost::system::error_code ec;
    const auto address = asio::ip::make_address(d->options.host, ec);
    if (!ec) {
        const tcp::endpoint endpoint(address, static_cast<unsigned short>(d->options.port));
        d->acceptor.emplace(d->io);
        d->acceptor->open(endpoint.protocol(), ec);
        if (!ec)
            d->acceptor->set_option(asio::socket_base::reuse_address(true), ec);
        if (!ec)
            d->acceptor->bind(endpoint, ec);
        if (!ec)
            d->acceptor->listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec)
        throw std::runtime_error("Não foi possível escutar em " + d->options.host + ":" +
                                 std::to_string(d->options.port) + " (" + ec.message() + ").");
    d->port = d->acceptor->local_endpoint().port();
    return d->port;
}

void AppServer::run()
{
    if (d->stopRequested || !d->acceptor)
        return;
    d->accept();
    // Two threads for the connections: reading, writing, TLS and gzip; the database work is the
    // workers'.
    auto guard = asio::make_work_guard(d->io);
    std::thread second([this] { d->io.run(); });
    d->io.run();
    second.join();
}

void AppServer::stop()
{
    if (d->stopRequested.exchange(true))
        return;
    asio::post(d->io, [this] {
        if (d->acceptor)
            d->acceptor->close();
        std::lock_guard lock(d->sessionsMutex);
        for (auto &w : d->sessions)
            if (auto s = w.lock())
                s->closeIfIdle();
    });
    // The calls under way end first, streamed answers included.
    {
        std::unique_lock lock(d->activeMutex);
        d->idle.wait_for(lock, std::chrono::seconds(120), [this] { return d->active == 0; });
    }
    {
        std::lock_guard lock(d->sessionsMutex);
        for (auto &w : d->sessions)
            if (auto s = w.lock())
                s->closeNow();
    }
    // let the closing sessions end before the loop stops
    for (int i = 0; i < 200 && d->connections + d->refusing > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    d->io.stop();
    d->pool.stopCheckpoints();
}

int AppServer::port() const { return d->port; }

} // namespace erp::server
