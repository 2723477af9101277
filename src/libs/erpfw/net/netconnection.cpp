#include "netconnection.h"

#include "httpclient.h"

#include <erpfw/core/deferredwork.h>
#include <erpfw/core/error.h>
#include <erpfw/core/messageservice.h>
#include <erpfw/core/ptbr.h>
#include <erpfw/core/shellcontext.h>
#include <erpwire/json.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QScopedValueRollback>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace erp {

namespace {

ServerCallObserver g_observer;
ServerWaitHandler g_waitHandler;
// A call that ends within this returns as a blocking call would, with no event run meanwhile.
constexpr int kQuietWaitMs = 100;
// A request this small fits the socket's buffer: writing it never waits for the peer.
constexpr size_t kSentAtOnceBytes = 16 * 1024;
// A body longer than this goes out in blocks of it while the rest is written.
constexpr qsizetype kBlockBytes = 256 * 1024;
// Thrown through the body's writer when the request failed: the rest need not be written.
struct SenderGaveUp
{};

// Params are written as they go out, so that a packet of many rows never becomes a JSON tree.
void appendValueJson(QByteArray &out, const QVariant &v, const wire::BlockSpill &spill)
{
    if (!v.isValid() || v.isNull()) {
        out.append("null");
        return;
    }
    switch (v.typeId()) {
    case QMetaType::QString: wire::appendJsonString(out, v.toString()); return;
    case QMetaType::Bool: out.append(v.toBool() ? "true" : "false"); return;
    case QMetaType::QDate: wire::appendJsonDate(out, v.toDate()); return;
    case QMetaType::QDateTime: wire::appendJsonDateTime(out, v.toDateTime()); return;
    case QMetaType::QVariantList: {
        out.append('[');
        const QVariantList list = v.toList();
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (i)
                out.append(',');
            appendValueJson(out, list[i], spill);
        }
        out.append(']');
        return;
    }
    default: break;
    }
    if (v.typeId() == QMetaType::fromType<wire::Packet>().id()) {
        if (spill)
            wire::appendPacketJson(out, v.value<wire::Packet>(), kBlockBytes, spill);
        else
            wire::appendPacketJson(out, v.value<wire::Packet>());
        return;
    }
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok || v.typeId() == QMetaType::QByteArray)
        throw Error(QStringLiteral("Valor de tipo %1 não pode ser enviado ao servidor.").arg(QString::fromLatin1(v.typeName())));
    wire::appendJsonNumber(out, d);
}

struct BodyBytes final : wire::ByteStream
{
    explicit BodyBytes(HttpBodyStream &in) : in(in) {}
    const char *data() const override { return in.body().data(); }
    qsizetype size() const override { return qsizetype(in.body().size()); }
    bool more() override { return in.more(); }
    HttpBodyStream &in;
};

// The thread a connection's exchanges run on while the user interface waits, kept between calls:
// a thread started for each call cost more than most calls (and the scheduler holds a new
// thread back longest when the machine is busy).
class CallThread
{
public:
    CallThread() : m_thread([this] { loop(); }) {}
    ~CallThread()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    // Only once the previous job has returned.
    void start(std::function<void()> job)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_job = std::move(job);
        }
        m_wake.notify_all();
    }

    // True once the job has returned; nothing of it runs after. ms < 0: no limit.
    bool waitIdle(int ms)
    {
        std::unique_lock lock(m_mutex);
        const auto idle = [this] { return !m_job; };
        if (ms < 0) {
            m_wake.wait(lock, idle);
            return true;
        }
        return m_wake.wait_for(lock, std::chrono::milliseconds(ms), idle);
    }

private:
    void loop()
    {
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_job || m_stop; });
                if (!m_job)
                    return;
            }
            m_job();
            {
                const std::lock_guard lock(m_mutex);
                m_job = nullptr;
            }
            m_wake.notify_all(); // unlocked: the waiter does not wake into a held mutex
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake; // both ways: a job came, a job ended
    std::function<void()> m_job;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace

ServerWait::ServerWait(const QString &method, const QString &text, bool cancellable, HttpClient &http,
                       const NetConnection &connection)
    : m_method(method)
    , m_text(text)
    , m_cancellable(cancellable)
    , m_http(http)
    , m_connection(connection)
    , m_startBytes(http.receivedBytes())
    , m_result(HttpFailure::None)
{
    m_clock.start();
}

qint64 ServerWait::receivedBytes() const
{
    return m_http.receivedBytes() - m_startBytes;
}

qint64 ServerWait::rowsRead() const
{
    return m_connection.progressRows();
}

bool ServerWait::finished() const
{
    const QMutexLocker lock(&m_mutex);
    return m_finished;
}

bool ServerWait::cancelled() const
{
    const QMutexLocker lock(&m_mutex);
    return m_cancelled;
}

HttpFailure ServerWait::result() const
{
    const QMutexLocker lock(&m_mutex);
    return m_cancelled ? HttpFailure::Cancelled : m_result;
}

void ServerWait::cancel()
{
    const QMutexLocker lock(&m_mutex);
    if (!m_cancellable || m_finished || m_cancelled)
        return;
    m_cancelled = true;
    m_http.cancel();
}

void ServerWait::finish(HttpFailure result)
{
    {
        const QMutexLocker lock(&m_mutex);
        m_finished = true;
        m_result = result;
    }
    emit done();
}

void setServerWaitHandler(ServerWaitHandler handler)
{
    g_waitHandler = std::move(handler);
}

struct NetConnection::Client
{
    Client(const QString &host, int port, const HttpOptions &options)
        : http(host.toStdString(), port, options), host(host), port(port)
    {}
    HttpClient http;
    QString host;
    int port = 0;
    bool waiting = false; // a request is out: work run meanwhile must not send another on it
    std::optional<CallThread> calls; // made by the first call the user interface waits for
};

NetConnection::NetConnection(QObject *parent)
    : QObject(parent)
{}

NetConnection::~NetConnection() = default;

bool NetConnection::connected() const
{
    return m_client != nullptr;
}

void NetConnection::setTimeoutMs(int ms)
{
    m_timeoutMs = ms;
    applyTimeout();
}

void NetConnection::applyTimeout()
{
    if (m_client)
        m_client->http.setTimeoutMs(m_timeoutMs);
}

QString NetConnection::address() const
{
    return m_client ? QStringLiteral("%1:%2").arg(m_client->host).arg(m_client->port)
                    : QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

void NetConnection::open()
{
    if (m_client)
        return;
    const Handler h = beforeConnect;
    if (h)
        h(*this);
    QString host = m_host.trimmed();
    HttpOptions options;
    if (host.startsWith(QLatin1String("http://"))) {
        host = host.mid(7);
    } else if (host.startsWith(QLatin1String("https://"))) {
        host = host.mid(8);
        options.tls = true;
    }
    while (host.endsWith(QLatin1Char('/')))
        host.chop(1);
    if (host.isEmpty() || host.contains(QLatin1Char('/')) || host.contains(QLatin1String("://")))
        throw Error(QStringLiteral("Endereço inválido (\"%1\") para o servidor %2.").arg(m_host, m_serverName));
    if (m_port < 1 || m_port > 65535)
        throw Error(QStringLiteral("Porta inválida (%1) para o servidor %2 em %3.").arg(m_port).arg(m_serverName, host));

    const ShellContext &ctx = ShellContext::instance();
    options.caFile = ctx.caFile().toStdString();
    options.compress = ctx.compression() == ShellContext::Compression::On
        || (ctx.compression() == ShellContext::Compression::Auto && !isLoopbackHost(host.toStdString()));

    m_client = std::make_unique<Client>(host, m_port, options);
    applyTimeout();
    // the health check needs no credentials: it proves that the server answers
    HttpAnswer answer;
    if (const HttpFailure f = m_client->http.exchange("GET", "/health", {}, {}, answer); f != HttpFailure::None) {
        const QString where = address();
        const QString why = failure(f);
        m_client.reset();
        throw Error(QStringLiteral("Não foi possível conectar ao servidor %1 em %2: %3.").arg(m_serverName, where, why));
    }
}

QString NetConnection::failure(HttpFailure f) const
{
    switch (f) {
    case HttpFailure::Timeout:
        return QStringLiteral("sem resposta em %1 s (tempo esgotado)").arg(ptBR().toString(m_timeoutMs / 1000.0));
    case HttpFailure::Connect: return QStringLiteral("conexão recusada ou servidor inacessível");
    case HttpFailure::Read: return QStringLiteral("a conexão foi encerrada antes da resposta completa");
    case HttpFailure::Write: return QStringLiteral("a conexão foi encerrada durante o envio da chamada");
    case HttpFailure::Protocol: return QStringLiteral("a resposta não segue o protocolo HTTP");
    case HttpFailure::Cancelled: return QStringLiteral("chamada cancelada");
    case HttpFailure::Tls:
        return QStringLiteral("conexão segura (TLS) recusada: %1")
            .arg(m_client ? QString::fromStdString(m_client->http.failureDetail()) : QString());
    case HttpFailure::None: break;
    }
    return {};
}

void NetConnection::close()
{
    m_client.reset();
}

void NetConnection::describeCall(const QString &method, const QString &text, bool cancellable)
{
    m_descriptions.insert(method, {text, cancellable});
}

struct NetConnection::PendingCall
{
    PendingCall(const QString &method, const CallDescription &described, HttpClient &http, const NetConnection &connection)
        : wait(method, described.text, described.cancellable, http, connection)
    {}
    ServerWait wait;
    std::exception_ptr thrown; // by the reader: raised on the calling thread
};

void NetConnection::startCall(PendingCall &call, std::function<HttpFailure()> job)
{
    if (!m_client->calls)
        m_client->calls.emplace();
    m_client->calls->start([&call, job = std::move(job)] {
        HttpFailure f = HttpFailure::Read;
        try {
            f = job();
        } catch (...) {
            call.thrown = std::current_exception();
        }
        call.wait.finish(f);
    });
}

HttpFailure NetConnection::awaitCall(PendingCall &call, bool uiWait, const std::function<void()> &meanwhile)
{
    CallThread &calls = *m_client->calls;
    try {
        if (meanwhile)
            meanwhile();
        if (uiWait && !calls.waitIdle(int(std::max<qint64>(0, kQuietWaitMs - call.wait.elapsedMs())))) {
            const ServerWaitHandler handler = g_waitHandler;
            handler(call.wait);
        }
    } catch (...) {
        m_client->http.cancel(); // its answer will not be read
        calls.waitIdle(-1);
        throw;
    }
    calls.waitIdle(-1); // done is out before the job returns
    if (call.thrown)
        std::rethrow_exception(call.thrown);
    return call.wait.result();
}

HttpFailure NetConnection::exchangeWaiting(const QString &method, const std::string &path, std::string_view headers,
                                           std::string_view body, HttpAnswer &answer, const HttpBodyReader &reader)
{
    HttpClient &http = m_client->http;
    PendingCall call(method, describedCall(method), http, *this);
    // A small request on an open connection leaves from here at once, and a short answer that
    // is all there within the quiet wait is read here too, as a blocking call would: handing a
    // short call to the other thread and back woke two threads more (and their cores) on its way.
    const bool sentHere = body.size() <= kSentAtOnceBytes && http.readyToSend();
    if (sentHere) {
        if (const HttpFailure f = http.sendRequest("POST", path, headers, body); f != HttpFailure::None)
            return f;
        try {
            // the screen's deferred work overlaps the server's, on this thread as before
            DeferredViewWork::runPending();
        } catch (...) {
            http.cancel(); // its answer will not be read
            throw;
        }
        if (http.answerArrived(kQuietWaitMs))
            return http.readAnswer(answer, reader);
    }
    startCall(call, [&] {
        return sentHere ? http.readAnswer(answer, reader) : http.exchange("POST", path, headers, body, answer, {}, reader);
    });
    return awaitCall(call, true, sentHere ? std::function<void()>() : &DeferredViewWork::runPending);
}

NetConnection::CallDescription NetConnection::describedCall(const QString &method) const
{
    return m_descriptions.value(method, {QStringLiteral("Aguardando o servidor %1...").arg(m_serverName), false});
}

void NetConnection::post(const QString &method, const BodyWriter &write, HttpAnswer &answer, const HttpBodyReader &reader)
{
    const ShellContext &ctx = ShellContext::instance();
    // both go into the request's head as they stand: a line break would start a header of its own
    const auto unsafe = [](const QString &text) {
        return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= ' ' || c.unicode() == 0x7f; });
    };
    if (unsafe(ctx.token()))
        throw Error(QStringLiteral("O token de acesso ao servidor %1 contém espaços ou caracteres de controle.").arg(m_serverName));
    if (unsafe(m_serverName))
        throw Error(QStringLiteral("Nome de servidor inválido: \"%1\".").arg(m_serverName));
    const QByteArray headers =
        "Authorization: " +
        (ctx.token().isEmpty() ? "Basic " + (ctx.operador() + QLatin1Char(':') + ctx.password()).toUtf8().toBase64()
                               : "Bearer " + ctx.token().toUtf8()) +
        "\r\nContent-Type: application/json\r\n";
    const std::string path = "/rpc/" + m_serverName.toStdString();
    if (m_client->waiting)
        throw Error(QStringLiteral("O servidor %1 foi chamado enquanto outra chamada a ele esperava a resposta.").arg(m_serverName));
    HttpFailure f;
    try {
        const QScopedValueRollback waiting(m_client->waiting, true);
        const std::string_view headerText(headers.constData(), size_t(headers.size()));
        HttpClient &http = m_client->http;
        // the user interface waits on its own thread only; any other thread blocks as before
        const QCoreApplication *app = QCoreApplication::instance();
        const bool uiWait = g_waitHandler && app && QThread::currentThread() == app->thread();

        // A body that fits in one block goes out whole once written, as ever; a longer one goes
        // out block by block from the call thread while this one writes the rest.
        QByteArray body;
        HttpBodyBlocks blocks;
        std::optional<PendingCall> streamed;
        try {
            write(body, [&](QByteArray &full) {
                if (!streamed)
                    startCall(streamed.emplace(method, describedCall(method), http, *this), [&] {
                        const HttpFailure sent = http.sendRequest("POST", path, headerText, blocks);
                        return sent != HttpFailure::None ? sent : http.readAnswer(answer, reader);
                    });
                if (!blocks.push(std::exchange(full, QByteArray())))
                    throw SenderGaveUp();
                full.reserve(kBlockBytes + kBlockBytes / 8);
            });
        } catch (const SenderGaveUp &) {
            // the request failed: its failure is the call's
        } catch (...) {
            if (streamed) {
                blocks.abandon(); // never completed: the server does not run half a call
                m_client->calls->waitIdle(-1);
            }
            throw;
        }
        if (streamed) {
            blocks.push(std::move(body));
            blocks.finish();
            f = awaitCall(*streamed, uiWait, &DeferredViewWork::runPending);
        } else {
            const std::string_view bodyText(body.constData(), size_t(body.size()));
            f = uiWait ? exchangeWaiting(method, path, headerText, bodyText, answer, reader)
                       : http.exchange("POST", path, headerText, bodyText, answer, &DeferredViewWork::runPending, reader);
        }
    } catch (...) {
        m_client.reset(); // its answer was not read
        throw;
    }
    if (f == HttpFailure::Cancelled) {
        m_client.reset(); // dropped: the server stops its work on it
        MessageService::show(DialogType::Information, QStringLiteral("Leitura cancelada pelo usuário."));
        abortSilently();
    }
    if (f != HttpFailure::None) {
        const QString where = address();
        const QString why = failure(f);
        m_client.reset(); // the next call connects afresh
        throw Error(QStringLiteral("Falha na comunicação com o servidor %1 em %2: %3.").arg(m_serverName, where, why));
    }
    if (answer.status == 401)
        throw Error(QStringLiteral("Acesso negado ao servidor %1 em %2: %3.")
                        .arg(m_serverName, address(),
                             ctx.token().isEmpty() ? QStringLiteral("operador ou senha inválidos")
                                                   : QStringLiteral("token de acesso inválido ou vencido")));
    if (answer.status != 200)
        throw Error(QStringLiteral("O servidor %1 em %2 respondeu com o código HTTP %3.")
                        .arg(m_serverName, address())
                        .arg(answer.status));
}

QVariant NetConnection::call(const QString &method, const QVariantList &params)
{
    open();
    const qint64 id = m_nextId++;
    QByteArray head = R"({"jsonrpc":"2.0","id":)" + QByteArray::number(id) + R"(,"method":)";
    wire::appendJsonString(head, method);
    head.append(R"(,"params":)");
    // an observer sees the params whole, so then they are written whole first
    QByteArray paramsJson;
    const bool observed = bool(g_observer);
    if (observed) {
        appendValueJson(paramsJson, QVariant(params), {});
        g_observer(method, paramsJson);
    }
    const auto write = [&](QByteArray &out, const wire::BlockSpill &spill) {
        out.reserve(64 + head.size() + paramsJson.size());
        out.append(head);
        if (observed)
            out.append(paramsJson);
        else
            appendValueJson(out, QVariant(params), spill);
        out.append('}');
    };

    // the answer is read as it arrives, so that reading it overlaps the server's writing it
    std::optional<QVariant> payload;
    m_progressRows.store(0, std::memory_order_relaxed);
    HttpAnswer answer;
    post(method, write, answer, [&](int status, HttpBodyStream &in) {
        if (status != 200)
            return;
        BodyBytes bytes{in};
        payload = wire::readRpcResult(bytes, double(id), &m_progressRows);
    });
    paramsJson = QByteArray();
    const std::string_view reply = answer.body.view();
    if (payload) {
        ServerResult result;
        result.ok = true;
        result.payload = std::move(*payload);
        return QVariant::fromValue(result);
    }
    // errors and unusual replies: the tree says exactly what is wrong
    const auto invalid = [&](const QString &why) {
        return Error(QStringLiteral("Resposta inválida do servidor %1 em %2 à chamada %3: %4.")
                         .arg(m_serverName, address(), method, why));
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromRawData(reply.data(), qsizetype(reply.size())), &parseError);
    if (!doc.isObject())
        throw invalid(QStringLiteral("não é JSON-RPC"));
    const QJsonObject o = doc.object();
    if (o.value(QLatin1String("jsonrpc")).toString() != QLatin1String("2.0"))
        throw invalid(QStringLiteral("não é JSON-RPC 2.0"));
    if (o.value(QLatin1String("id")).toDouble(-1) != double(id))
        throw invalid(QStringLiteral("identificador trocado"));

    ServerResult result;
    if (o.contains(QLatin1String("error"))) {
        const QJsonObject e = o.value(QLatin1String("error")).toObject();
        result.errorCode = e.value(QLatin1String("code")).toInt();
        result.errorMessage = e.value(QLatin1String("message")).toString();
        if (!e.value(QLatin1String("code")).isDouble())
            throw invalid(QStringLiteral("erro sem código"));
    } else if (o.contains(QLatin1String("result"))) {
        try {
            result.payload = wire::decodeValue(o.value(QLatin1String("result")));
        } catch (const wire::WireError &e) {
            throw invalid(e.message());
        }
        result.ok = true;
    } else {
        throw invalid(QStringLiteral("sem resultado nem erro"));
    }
    return QVariant::fromValue(result);
}

QVariant checkResultServ(const QVariant &result, bool show, int)
{
    if (result.typeId() != QMetaType::fromType<ServerResult>().id())
        throw Error(QStringLiteral("Resultado de servidor inválido (%1).")
                        .arg(QString::fromLatin1(result.isValid() ? result.typeName() : "nulo")));
    const ServerResult r = result.value<ServerResult>();
    if (r.ok)
        return r.payload;
    const QString text = r.errorMessage.trimmed().isEmpty()
                             ? QStringLiteral("Erro no servidor (código %1).").arg(r.errorCode)
                             : r.errorMessage;
    if (show)
        mensErro(text);
    throw Error(text);
}

void setServerCallObserver(ServerCallObserver observer)
{
    g_observer = std::move(observer);
}

} // namespace erp
