#pragma once

#include <erpfw/erpfw_global.h>

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace erp {

enum class HttpFailure;
class HttpClient;
struct HttpAnswer;
class HttpBodyStream;
class NetConnection;
using HttpBodyReader = std::function<void(int status, HttpBodyStream &)>;

// A server call waiting for its answer, as the user interface shows it. The call's exchange
// runs on a worker thread meanwhile; this object lives on the calling thread.
class ERPFW_EXPORT ServerWait : public QObject
{
    Q_OBJECT

public:
    ServerWait(const QString &method, const QString &text, bool cancellable, HttpClient &http,
               const NetConnection &connection);

    QString method() const { return m_method; }
    QString text() const { return m_text; } // what is happening: "Lendo contas a receber..."
    bool cancellable() const { return m_cancellable; }
    qint64 receivedBytes() const; // of answers on this connection so far
    qint64 rowsRead() const; // of the answer's packet so far
    bool finished() const;
    qint64 elapsedMs() const { return m_clock.elapsed(); } // since the call went out
    bool cancelled() const;
    HttpFailure result() const;

    // Ends a cancellable call that has not finished: its connection is dropped, which stops the
    // server's work on it. Does nothing otherwise. Any thread.
    void cancel();
    // The worker's end of the exchange.
    void finish(HttpFailure result);

signals:
    // From the worker thread, once.
    void done();

private:
    const QString m_method;
    const QString m_text;
    const bool m_cancellable;
    HttpClient &m_http;
    const NetConnection &m_connection;
    qint64 m_startBytes;
    QElapsedTimer m_clock;
    mutable QMutex m_mutex;
    bool m_finished = false;
    bool m_cancelled = false;
    HttpFailure m_result;
};

// How the calling thread waits for a call that has not ended within a moment (most calls end
// within it, and run no event at all): the user interface keeps painting and playing its
// animations without letting input reach the screens. It returns once wait.finished() (the
// done signal says when). Without one, the call simply blocks.
using ServerWaitHandler = std::function<void(ServerWait &wait)>;
ERPFW_EXPORT void setServerWaitHandler(ServerWaitHandler handler);

// What a server call gives back: the payload, or the server's error code and message.
struct ERPFW_EXPORT ServerResult
{
    bool ok = false;
    QVariant payload;
    int errorCode = 0;
    QString errorMessage;
};

// The connection to an application server object, called late-bound by method name with
// positional values (JSON-RPC 2.0 over HTTP/1.1, keep-alive, Basic or Bearer credentials of
// the shell). The host may be given as https://HOST: TLS, verified against the shell's CA file
// or the system's authorities. Transport failures are erp::Error naming host and port.
class ERPFW_EXPORT NetConnection : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString serverName READ serverName WRITE setServerName)
    Q_PROPERTY(QString host READ host WRITE setHost)
    Q_PROPERTY(int port READ port WRITE setPort)
    Q_PROPERTY(int timeoutMs READ timeoutMs WRITE setTimeoutMs)
    Q_PROPERTY(bool connected READ connected)

public:
    using Handler = std::function<void(NetConnection &)>;

    explicit NetConnection(QObject *parent = nullptr);
    ~NetConnection() override;

    QString serverName() const { return m_serverName; }
    void setServerName(const QString &name) { m_serverName = name; }
    QString host() const { return m_host; }
    void setHost(const QString &host) { m_host = host; }
    int port() const { return m_port; }
    void setPort(int port) { m_port = port; }
    int timeoutMs() const { return m_timeoutMs; } // 30 s unless set
    // Also for the calls of a connection already open.
    void setTimeoutMs(int ms);

    // Runs before every connect; the screens set host and port from the shell here.
    Handler beforeConnect;

    // Runs beforeConnect and checks that the server answers (GET /health).
    void open();
    void close();
    bool connected() const;

    // Opens first when closed. Gives a QVariant holding a ServerResult. A cancelled read
    // says so and raises the silent abort.
    QVariant call(const QString &method, const QVariantList &params = {});

    // What the wait says while a call of that method is out, and whether the user may
    // cancel it: only reads, which leave nothing half done. Others say "Aguardando o
    // servidor..." and cannot be cancelled.
    void describeCall(const QString &method, const QString &text, bool cancellable);

    // From any thread: rows of the answer's packet read so far in the call under way.
    qint64 progressRows() const { return m_progressRows.load(std::memory_order_relaxed); }

private:
    struct CallDescription
    {
        QString text;
        bool cancellable = false;
    };

    // Writes a call's body into out, handing each full block to spill as it goes.
    using BodyWriter = std::function<void(QByteArray &out, const std::function<void(QByteArray &)> &spill)>;
    // An exchange on the call thread, and what it threw.
    struct PendingCall;

    void post(const QString &method, const BodyWriter &write, HttpAnswer &answer, const HttpBodyReader &reader);
    HttpFailure exchangeWaiting(const QString &method, const std::string &path, std::string_view headers,
                                std::string_view body, HttpAnswer &answer, const HttpBodyReader &reader);
    CallDescription describedCall(const QString &method) const;
    void startCall(PendingCall &call, std::function<HttpFailure()> job);
    // Runs meanwhile, then waits for the call (as the user interface does, with uiWait).
    HttpFailure awaitCall(PendingCall &call, bool uiWait, const std::function<void()> &meanwhile);
    void applyTimeout();
    QString address() const;
    QString failure(HttpFailure f) const;

    QString m_serverName;
    QString m_host = QStringLiteral("127.0.0.1");
    int m_port = 0;
    int m_timeoutMs = 30000;
    qint64 m_nextId = 1;
    QHash<QString, CallDescription> m_descriptions;
    struct Client;
    std::unique_ptr<Client> m_client;
    std::atomic<qint64> m_progressRows{0};
};

// The payload of a successful call. A failed call: with show, its message is shown once as
// an error and the silent abort is raised; without, an erp::Error with the message is raised.
ERPFW_EXPORT QVariant checkResultServ(const QVariant &result, bool show = true, int helpContext = 0);

// Sees every server call before it goes out: method name and params in the wire encoding.
using ServerCallObserver = std::function<void(const QString &method, const QByteArray &paramsJson)>;
ERPFW_EXPORT void setServerCallObserver(ServerCallObserver observer);

} // namespace erp

Q_DECLARE_METATYPE(erp::ServerResult)
