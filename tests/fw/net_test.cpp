#include "support.h"

#include <erpfw/core/deferredwork.h>
#include <erpfw/core/error.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/net/netconnection.h>
#include <erpwire/json.h>
#include <erpwire/packet.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QFile>
#include <QTemporaryDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <httplib.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

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
                m_framings.push_back(req.get_header_value("Transfer-Encoding"));
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
    // Each request's Transfer-Encoding, in order (empty: a Content-Length).
    std::vector<std::string> framings()
    {
        std::lock_guard lock(m_mutex);
        return m_framings;
    }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::set<int> m_clientPorts;
    std::vector<std::string> m_framings;
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

// A list longer than a block goes out while it is written and comes back as the same list
// written whole first (as for an observer) does. A value that cannot be sent, written after
// blocks already left, drops the request unfinished: the server never runs it, and the next call
// goes out on a new connection.
TEST_F(Net, ALongListGoesOutWhileItIsWrittenAndComesBackAsAWholeOneDoes)
{
    wire::Packet packet({{"CDCONTA", wire::FieldType::String, 20},
                         {"NMCLIENTE", wire::FieldType::String, 60},
                         {"VLSALDO", wire::FieldType::Float, 0}});
    for (int i = 0; i < 20000; ++i)
        packet.appendRow({QString::number(i), QStringLiteral("CLIENTE ÇÃO %1 LTDA").arg(i), i * 0.25});
    QByteArray sent;
    wire::appendPacketJson(sent, packet);
    ASSERT_GT(sent.size(), 1 << 19);
    const auto echoed = [&] {
        const QVariantList values =
            checkResultServ(net.call(QStringLiteral("Echo"), {QVariant::fromValue(packet), QStringLiteral("fim")}), false).toList();
        EXPECT_EQ(values.value(1).toString(), QStringLiteral("fim"));
        QByteArray json;
        wire::appendPacketJson(json, values.value(0).value<wire::Packet>());
        return json;
    };
    EXPECT_EQ(echoed(), sent);
    setServerCallObserver([](const QString &, const QByteArray &) {});
    EXPECT_EQ(echoed(), sent);
    setServerCallObserver(nullptr);
    EXPECT_EQ(server.framings(), (std::vector<std::string>{"chunked", ""}));

    QString text;
    try {
        net.call(QStringLiteral("Echo"), {QVariant::fromValue(packet), QByteArray("x")});
    } catch (const Error &e) {
        text = e.message();
    }
    EXPECT_EQ(text, QStringLiteral("Valor de tipo QByteArray não pode ser enviado ao servidor."));
    EXPECT_EQ(checkResultServ(net.call(QStringLiteral("Echo"), {1}), false).toList(), QVariantList{1.0});
    EXPECT_EQ(server.framings().size(), 3u) << "the dropped request never reached the method";
    EXPECT_EQ(connects, 2);
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

namespace {

// A certificate authority made for the test, and server certificates it signs.
struct Issued
{
    std::string cert, key; // PEM
};

class TestAuthority
{
public:
    explicit TestAuthority(const char *name) : m_key(EVP_EC_gen("P-256")), m_cert(make(m_key, name, nullptr, nullptr, 0, 86400, nullptr))
    {}
    ~TestAuthority()
    {
        X509_free(m_cert);
        EVP_PKEY_free(m_key);
    }
    std::string certPem() const { return pem(m_cert); }
    // alt: "IP:127.0.0.1" or "DNS:name"; valid from and to, in seconds from now
    Issued issue(const char *alt, long from = 0, long to = 86400) const
    {
        EVP_PKEY *key = EVP_EC_gen("P-256");
        X509 *cert = make(key, "servidor", m_cert, m_key, from, to, alt);
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
        Issued issued{pem(cert), drain(bio)};
        X509_free(cert);
        EVP_PKEY_free(key);
        return issued;
    }

private:
    static X509 *make(EVP_PKEY *key, const char *cn, X509 *issuer, EVP_PKEY *issuerKey, long from, long to, const char *alt)
    {
        static long serial = 1;
        X509 *x = X509_new();
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
        X509_gmtime_adj(X509_getm_notBefore(x), from - 60);
        X509_gmtime_adj(X509_getm_notAfter(x), to);
        X509_set_pubkey(x, key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(cn), -1, -1, 0);
        X509_set_issuer_name(x, X509_get_subject_name(issuer ? issuer : x));
        X509V3_CTX ctx;
        X509V3_set_ctx(&ctx, issuer ? issuer : x, x, nullptr, nullptr, 0);
        const auto extend = [&](int nid, const char *value) {
            X509_EXTENSION *e = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
            X509_add_ext(x, e, -1);
            X509_EXTENSION_free(e);
        };
        extend(NID_basic_constraints, alt ? "critical,CA:FALSE" : "critical,CA:TRUE");
        if (alt)
            extend(NID_subject_alt_name, alt);
        X509_sign(x, issuerKey ? issuerKey : key, EVP_sha256());
        return x;
    }
    static std::string drain(BIO *bio)
    {
        char *data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        std::string text(data, size_t(n));
        BIO_free(bio);
        return text;
    }
    static std::string pem(X509 *cert)
    {
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(bio, cert);
        return drain(bio);
    }

    EVP_PKEY *m_key;
    X509 *m_cert;
};

// An HTTPS peer on loopback, one connection at a time: /health, and any call answered true.
class TlsPeer
{
public:
    explicit TlsPeer(const Issued &identity)
        : m_context(boost::asio::ssl::context::tls_server)
        , m_acceptor(m_io, {boost::asio::ip::make_address("127.0.0.1"), 0})
    {
        m_context.use_certificate_chain(boost::asio::buffer(identity.cert));
        m_context.use_private_key(boost::asio::buffer(identity.key), boost::asio::ssl::context::pem);
        m_thread = std::thread([this] { serve(); });
    }
    ~TlsPeer()
    {
        m_stop = true;
        boost::asio::ip::tcp::socket wake(m_io);
        boost::system::error_code ec;
        wake.connect(m_acceptor.local_endpoint(), ec);
        m_thread.join();
    }
    int port() const { return m_acceptor.local_endpoint().port(); }

private:
    void serve()
    {
        namespace http = boost::beast::http;
        while (!m_stop) {
            boost::asio::ssl::stream<boost::asio::ip::tcp::socket> stream(m_io, m_context);
            boost::system::error_code ec;
            m_acceptor.accept(stream.next_layer(), ec);
            if (!m_stop && !ec)
                stream.handshake(boost::asio::ssl::stream_base::server, ec);
            if (m_stop || ec)
                continue; // a client that refused the certificate
            boost::beast::flat_buffer buffer;
            for (;;) {
                http::request<http::string_body> request;
                http::read(stream, buffer, request, ec);
                if (ec)
                    break;
                const QJsonObject call = QJsonDocument::fromJson(QByteArray::fromStdString(request.body())).object();
                http::response<http::string_body> answer(http::status::ok, 11);
                answer.body() = request.target() == "/health"
                                    ? std::string(R"({"server":"tls"})")
                                    : QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", call.value(QLatin1String("id"))}, {"result", true}})
                                          .toJson(QJsonDocument::Compact)
                                          .toStdString();
                answer.prepare_payload();
                http::write(stream, answer, ec);
                if (ec)
                    break;
            }
        }
    }

    boost::asio::io_context m_io;
    boost::asio::ssl::context m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

TEST_F(Net, AnHttpsServerIsCalledOnlyWhenItsCertificateVerifies)
{
    const TestAuthority authority("Autoridade de teste"), stranger("Outra autoridade"), twin("Autoridade de teste");
    QTemporaryDir dir;
    const auto writePem = [&](const char *name, const std::string &text) {
        const QString path = dir.filePath(QLatin1String(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.data(), qint64(text.size()));
        return path;
    };
    const QString trusted = writePem("ca.pem", authority.certPem());
    const QString other = writePem("outra.pem", stranger.certPem());
    const QString twinFile = writePem("gemea.pem", twin.certPem());
    ShellContext &ctx = ShellContext::instance();
    struct Restore
    {
        ~Restore() { ShellContext::instance().setCaFile(QString()); }
    } restore;
    const auto refusal = [&](const Issued &identity, const QString &caFile) {
        TlsPeer peer(identity);
        ctx.setWebUrl(QStringLiteral("https://127.0.0.1"));
        ctx.setWebPort(peer.port());
        ctx.setCaFile(caFile);
        net.close();
        const QString text = ERP_ERROR_TEXT(net.open());
        EXPECT_FALSE(net.connected());
        EXPECT_TRUE(text.contains(QStringLiteral("REC00800.rdmRecCont em 127.0.0.1:%1: conexão segura (TLS) recusada: ").arg(peer.port())))
            << text.toStdString();
        return text;
    };

    {
        TlsPeer peer(authority.issue("IP:127.0.0.1"));
        ctx.setWebUrl(QStringLiteral("https://127.0.0.1"));
        ctx.setWebPort(peer.port());
        ctx.setCaFile(trusted);
        EXPECT_TRUE(checkResultServ(net.call(QStringLiteral("Qualquer")), true, 0).toBool());
        EXPECT_TRUE(checkResultServ(net.call(QStringLiteral("Qualquer")), true, 0).toBool());
        net.close();
    }
    const Issued good = authority.issue("IP:127.0.0.1");
    EXPECT_TRUE(refusal(good, other).contains(QStringLiteral("autoridade certificadora confiável")));
    EXPECT_TRUE(refusal(good, twinFile).contains(QStringLiteral("autoridade certificadora confiável")))
        << "an authority of the same name and another key";
    EXPECT_TRUE(refusal(good, QString()).contains(QStringLiteral("autoridade certificadora confiável")))
        << "the system's authorities do not know the test's";
    EXPECT_TRUE(refusal(authority.issue("DNS:outro.exemplo"), trusted).contains(QStringLiteral("não é do host 127.0.0.1")));
    EXPECT_TRUE(refusal(authority.issue("IP:127.0.0.1", -7200, -3600), trusted).contains(QStringLiteral("vencido")));
}
