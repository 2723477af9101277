#include "support.h"

#include <erpfw/core/deferredwork.h>
#include <erpfw/core/error.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/net/netconnection.h>
#include <erpwire/packet.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

using namespace erp;

namespace {

// A small application server over loopback: Basic "operador:senha" only; methods Echo (gives
// its params back), Recusa (a business refusal), Lento (answers after a second), Quebrado
// (a body that is not JSON-RPC), Falha500, Espera (answers once released, true if within 5 s).
class LoopbackServer
{
public:
    LoopbackServer()
    {
        m_server.Get("/health", [](const httplib::Request &, httplib::Response &res) {
            res.set_content(R"({"server":"teste"})", "application/json");
        });
        m_server.Post("/rpc/REC00800.rdmRecCont", [this](const httplib::Request &req, httplib::Response &res) {
            {
                std::lock_guard lock(m_mutex);
                m_clientPorts.insert(req.remote_port);
            }
            if (req.get_header_value("Authorization") != "Basic " + QByteArray("operador:senha").toBase64().toStdString()) {
                res.status = 401;
                return;
            }
            const QJsonObject call = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
            const QString method = call.value(QLatin1String("method")).toString();
            QJsonObject reply{{"jsonrpc", "2.0"}, {"id", call.value(QLatin1String("id"))}};
            if (method == QLatin1String("Echo")) {
                reply.insert(QLatin1String("result"), call.value(QLatin1String("params")));
            } else if (method == QLatin1String("Recusa")) {
                reply.insert(QLatin1String("error"), QJsonObject{{"code", -32000}, {"message", QStringLiteral("Conta bloqueada.")}});
            } else if (method == QLatin1String("Lento")) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1200));
                reply.insert(QLatin1String("result"), true);
            } else if (method == QLatin1String("Espera")) {
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while (!m_released && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                reply.insert(QLatin1String("result"), m_released.exchange(false));
            } else if (method == QLatin1String("Quebrado")) {
                res.set_content("<html>proxy</html>", "text/html");
                return;
            } else if (method == QLatin1String("Falha500")) {
                res.status = 500;
                return;
            } else {
                reply.insert(QLatin1String("error"), QJsonObject{{"code", -32601}, {"message", QStringLiteral("Método inexistente.")}});
            }
            res.set_content(QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString(), "application/json");
        });
        m_server.set_keep_alive_max_count(1000);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackServer()
    {
        m_server.stop();
        m_thread.join();
    }
    int port() const { return m_port; }
    void release() { m_released = true; }
    size_t clientConnections()
    {
        std::lock_guard lock(m_mutex);
        return m_clientPorts.size();
    }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::set<int> m_clientPorts;
    std::atomic<bool> m_released{false};
};

struct Net : ::testing::Test
{
    LoopbackServer server;
    NetConnection net;
    int connects = 0;

    void SetUp() override
    {
        ShellContext &ctx = ShellContext::instance();
        ctx.setWebUrl(QStringLiteral("127.0.0.1"));
        ctx.setWebPort(server.port());
        ctx.setOperador(QStringLiteral("operador"));
        ctx.setPassword(QStringLiteral("senha"));
        net.setServerName(QStringLiteral("REC00800.rdmRecCont"));
        net.setHost(QStringLiteral("10.255.255.1")); // the design-time address is never used
        net.setPort(211);
        net.beforeConnect = [this](NetConnection &c) {
            ++connects;
            c.setHost(webUrl());
            c.setPort(webPort());
        };
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server.port()); }
};

} // namespace

TEST_F(Net, CallsGoByNameWithPositionalValuesOverOneConnection)
{
    QStringList seen;
    setServerCallObserver([&](const QString &method, const QByteArray &params) {
        seen << method + QLatin1Char(' ') + QString::fromUtf8(params);
    });
    EXPECT_FALSE(net.connected());
    wire::Packet packet({{"IDMARCADO", wire::FieldType::FixedString, 1}});
    packet.appendRow({"S"});
    const QVariant result = net.call(QStringLiteral("Echo"),
                                     {QStringLiteral("0001"), 12.5, true, QDate(2024, 2, 29), QDate(),
                                      QVariant::fromValue(packet)});
    setServerCallObserver(nullptr);
    EXPECT_TRUE(net.connected());
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(seen, QStringList({QStringLiteral(R"(Echo ["0001",12.5,true,"2024-02-29",null,)"
                                                R"({"fields":[{"name":"IDMARCADO","type":"fixedstring","size":1}],"rows":[["S"]]}])")}));

    const QVariantList values = checkResultServ(result, true, 0).toList();
    ASSERT_EQ(values.size(), 6);
    EXPECT_EQ(values[0].toString(), QStringLiteral("0001"));
    EXPECT_EQ(values[1].toDouble(), 12.5);
    EXPECT_EQ(values[2].toBool(), true);
    EXPECT_EQ(values[3].toString(), QStringLiteral("2024-02-29"));
    EXPECT_TRUE(values[4].isNull());
    EXPECT_EQ(values[5].value<wire::Packet>().string(0, 0), QStringLiteral("S"));

    for (int i = 0; i < 5; ++i)
        net.call(QStringLiteral("Echo"));
    EXPECT_EQ(server.clientConnections(), 1u); // keep-alive
    EXPECT_EQ(connects, 1);

    net.close();
    net.call(QStringLiteral("Echo"));
    EXPECT_EQ(connects, 2); // a closed connection opens again, with its before-connect
}

// Screen work deferred over a call runs once, while the server works on the call; with no call
// a message or the end of its scope runs it; it may not call the same server.
TEST_F(Net, DeferredViewWorkRunsWhileTheCallIsOut)
{
    int runs = 0;
    {
        const DeferredViewWork work([&] {
            ++runs;
            server.release();
        });
        const QVariant result = net.call(QStringLiteral("Espera"));
        EXPECT_EQ(runs, 1);
        EXPECT_TRUE(checkResultServ(result, true, 0).toBool()) << "the server answered before the work ran";
    }
    EXPECT_EQ(runs, 1);

    QStringList order;
    test::RecordingPresenter ui;
    {
        const DeferredViewWork outer([&] { order << QStringLiteral("outer"); });
        const DeferredViewWork inner([&] { order << QStringLiteral("inner"); });
        MessageService::show(DialogType::Information, QStringLiteral("Aviso."), Button::OK);
        order << QStringLiteral("message %1").arg(ui.shown.size());
    }
    {
        const DeferredViewWork last([&] { order << QStringLiteral("scope"); });
    }
    EXPECT_EQ(order, QStringList({"outer", "inner", "message 1", "scope"}));

    {
        const DeferredViewWork calling([&] { net.call(QStringLiteral("Echo")); });
        EXPECT_EQ(ERP_ERROR_TEXT(net.call(QStringLiteral("Echo"))),
                  QStringLiteral("O servidor REC00800.rdmRecCont foi chamado enquanto outra chamada a ele esperava a resposta."));
    }
    const QVariant after = net.call(QStringLiteral("Echo"), {QStringLiteral("depois")});
    EXPECT_EQ(checkResultServ(after, true, 0).toList().value(0).toString(), QStringLiteral("depois"));
}

TEST_F(Net, AServerErrorIsShownOnceByCheckResultServ)
{
    test::RecordingPresenter ui;
    const QVariant refused = net.call(QStringLiteral("Recusa"), {QStringLiteral("x")});
    bool aborted = false;
    try {
        checkResultServ(refused);
    } catch (const Abort &) {
        aborted = true;
    }
    EXPECT_TRUE(aborted);
    ASSERT_EQ(ui.shown.size(), 1);
    EXPECT_EQ(ui.shown[0].type, DialogType::Error);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Conta bloqueada."));

    // without showing, the message travels in the error
    EXPECT_EQ(ERP_ERROR_TEXT(checkResultServ(refused, false)), QStringLiteral("Conta bloqueada."));
    EXPECT_EQ(ui.shown.size(), 1);
    EXPECT_EQ(refused.value<ServerResult>().errorCode, -32000);
}

TEST_F(Net, TransportFailuresNameHostAndPort)
{
    const QString broken = ERP_ERROR_TEXT(net.call(QStringLiteral("Quebrado")));
    EXPECT_TRUE(broken.contains(address()) && broken.contains(QStringLiteral("Quebrado"))) << broken.toStdString();
    const QString status = ERP_ERROR_TEXT(net.call(QStringLiteral("Falha500")));
    EXPECT_TRUE(status.contains(address()) && status.contains(QStringLiteral("500"))) << status.toStdString();

    ShellContext::instance().setPassword(QStringLiteral("errada"));
    const QString denied = ERP_ERROR_TEXT(net.call(QStringLiteral("Echo")));
    ShellContext::instance().setPassword(QStringLiteral("senha"));
    EXPECT_TRUE(denied.startsWith(QStringLiteral("Acesso negado ao servidor REC00800.rdmRecCont"))) << denied.toStdString();

    net.setTimeoutMs(300);
    net.close();
    const QString slow = ERP_ERROR_TEXT(net.call(QStringLiteral("Lento")));
    EXPECT_TRUE(slow.contains(address()) && slow.contains(QStringLiteral("tempo esgotado"))) << slow.toStdString();
    EXPECT_FALSE(net.connected());
}

TEST_F(Net, ARefusedPortIsNamedAtOpen)
{
    // a port that was free a moment ago, with nothing listening on it
    int freePort = 0;
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), len), 0);
        ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len), 0);
        freePort = ntohs(addr.sin_port);
        ::close(fd);
    }
    ShellContext::instance().setWebPort(freePort);
    const QString refused = ERP_ERROR_TEXT(net.open());
    EXPECT_TRUE(refused.contains(QStringLiteral("127.0.0.1:%1").arg(freePort))) << refused.toStdString();
    EXPECT_FALSE(net.connected());

    ShellContext::instance().setWebPort(0);
    EXPECT_FALSE(ERP_ERROR_TEXT(net.open()).isEmpty());
}

TEST_F(Net, ATokenThatWouldBreakTheRequestHeadIsRefusedBeforeItLeaves)
{
    ShellContext::instance().setToken(QStringLiteral("abc\r\nX-Operador: admin"));
    const QString refused = ERP_ERROR_TEXT(net.call(QStringLiteral("Echo")));
    ShellContext::instance().setToken(QString());
    EXPECT_TRUE(refused.contains(QStringLiteral("caracteres de controle"))) << refused.toStdString();
    EXPECT_EQ(server.clientConnections(), 0u) << "no call reached the server";
}

// With a wait handler the exchange runs on a worker thread while the handler's loop runs here;
// a cancelled read drops the connection at once, says so and aborts silently; a call that
// cannot be cancelled runs to its end; the next call connects afresh.
TEST_F(Net, AWaitedCallRunsOffTheCallingThreadAndOnlyAReadCanBeCancelled)
{
    net.describeCall(QStringLiteral("Espera"), QStringLiteral("Esperando..."), true);
    QStringList seen;
    bool cancel = true;
    setServerWaitHandler([&](ServerWait &wait) {
        seen << QStringLiteral("%1|%2|%3").arg(wait.method(), wait.text()).arg(wait.cancellable());
        QEventLoop loop;
        QObject::connect(&wait, &ServerWait::done, &loop, &QEventLoop::quit);
        QTimer::singleShot(100, &loop, [&] {
            if (cancel)
                wait.cancel();
            else
                server.release();
        });
        if (!wait.finished())
            loop.exec();
    });
    test::RecordingPresenter ui;
    int deferred = 0;
    QElapsedTimer clock;
    clock.start();
    bool aborted = false;
    try {
        const DeferredViewWork work([&] { ++deferred; });
        net.call(QStringLiteral("Espera"));
    } catch (const Abort &) {
        aborted = true;
    }
    const qint64 cancelledAfter = clock.elapsed();
    server.release(); // the server's handler would otherwise hold the next Espera
    EXPECT_TRUE(aborted);
    EXPECT_EQ(deferred, 1);
    EXPECT_LT(cancelledAfter, 4000) << "the cancel ended the wait, not the server";
    ASSERT_EQ(ui.shown.size(), 1);
    EXPECT_EQ(ui.shown[0].type, DialogType::Information);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Leitura cancelada pelo usuário."));
    EXPECT_FALSE(net.connected());

    EXPECT_TRUE(checkResultServ(net.call(QStringLiteral("Lento")), true, 0).toBool()) << "not a read: no cancel";
    cancel = false;
    EXPECT_TRUE(checkResultServ(net.call(QStringLiteral("Espera")), true, 0).toBool());
    setServerWaitHandler(nullptr);
    EXPECT_EQ(ui.shown.size(), 1);
    EXPECT_EQ(seen, QStringList({QStringLiteral("Espera|Esperando...|1"),
                                 QStringLiteral("Lento|Aguardando o servidor REC00800.rdmRecCont...|0"),
                                 QStringLiteral("Espera|Esperando...|1")}));
}
