// The server's HTTP transport against crowds, slow and hostile clients, big bodies, TLS and a
// database that stops answering: a real rec-appserver over loopback each time.
#include "support.h"

#include <erpfw/core/error.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/net/netconnection.h>
#include <erpwire/packet.h>

#include <QByteArray>
#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <erpwire/gzip.h>

using namespace erp::server;
using namespace erp::server::test;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kAuth = "Basic " + QByteArray("ana:segredo").toBase64().toStdString();

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

bool sendAll(int fd, const std::string &bytes)
{
    for (size_t at = 0; at < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        at += size_t(n);
    }
    return true;
}

struct Reply
{
    int status = 0;
    std::string head, body; // body de-chunked, still gzip'd when sent so
};

// One HTTP response from fd, or status 0 when the connection ends first.
Reply readReply(int fd, std::string &pending)
{
    Reply r;
    char buf[65536];
    const auto more = [&] {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        pending.append(buf, size_t(n));
        return true;
    };
    size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos)
        if (!more())
            return r;
    r.head = pending.substr(0, end + 2);
    pending.erase(0, end + 4);
    std::sscanf(r.head.c_str(), "HTTP/1.1 %d", &r.status);
    const auto length = r.head.find("Content-Length: ");
    if (length != std::string::npos) {
        const size_t n = std::stoul(r.head.substr(length + 16));
        while (pending.size() < n)
            if (!more())
                return Reply{};
        r.body = pending.substr(0, n);
        pending.erase(0, n);
        return r;
    }
    for (;;) { // chunked
        size_t line;
        while ((line = pending.find("\r\n")) == std::string::npos)
            if (!more())
                return Reply{};
        const size_t n = std::stoul(pending.substr(0, line), nullptr, 16);
        while (pending.size() < line + 2 + n + 2)
            if (!more())
                return Reply{};
        r.body += pending.substr(line + 2, n);
        pending.erase(0, line + 2 + n + 2);
        if (n == 0)
            return r;
    }
}

Reply exchange(int port, const std::string &request)
{
    const int fd = connectLoopback(port);
    std::string pending;
    Reply r;
    if (fd >= 0 && sendAll(fd, request))
        r = readReply(fd, pending);
    if (fd >= 0)
        close(fd);
    return r;
}

std::string post(const std::string &body, const std::string &extraHeaders = {})
{
    return "POST /rpc/REC00800.rdmRecCont HTTP/1.1\r\nHost: x\r\nAuthorization: " + kAuth +
           "\r\nContent-Type: application/json\r\n" + extraHeaders + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::string rpc(const QString &method, const QJsonArray &params)
{
    return QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}


int errorCodeOf(const std::string &body)
{
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
    if (!o.contains("result") && !o.contains("error"))
        return 1;
    return o.value("error").toObject().value("code").toInt();
}

void raiseOwnFileLimit()
{
    rlimit r{};
    getrlimit(RLIMIT_NOFILE, &r);
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_NOFILE, &r);
}

class Transport : public OnDemoDatabase
{
protected:
    long demoAccounts() const override { return 400; }
};

} // namespace

// A thousand idle kept-alive clients and 64 that send their heads a byte at a time hold up no
// honest call; the connection past the limit gets 503; when they leave, the memory goes back.
TEST_P(Transport, ACrowdOfIdleAndSlowConnectionsHoldsUpNoCall)
{
    if (GetParam() == Backend::Postgres)
        GTEST_SKIP() << "the crowd is the transport's, the same on either database";
    raiseOwnFileLimit();
    rlimit r{};
    getrlimit(RLIMIT_NOFILE, &r);
    if (r.rlim_cur < 1300)
        GTEST_SKIP() << "RLIMIT_NOFILE " << r.rlim_cur << " is too small for the crowd";
    constexpr int kIdle = 1000, kSlow = 64, kLimit = kIdle + kSlow + 1;
    ServerProcess server(database->url(), 8, {"--max-connections", std::to_string(kLimit)});
    RpcClient honest(server.port());
    ASSERT_EQ(honest.errorCode("GetParamFilial", {"0101"}), 0);
    const long idleKb = residentKb(server.pid());

    const std::string health = "GET /health HTTP/1.1\r\nHost: x\r\n\r\n";
    std::vector<int> idle, slow;
    for (int i = 0; i < kIdle; ++i) {
        const int fd = connectLoopback(server.port());
        ASSERT_GE(fd, 0) << i;
        idle.push_back(fd);
    }
    int kept = 0;
    for (int fd : idle) { // each has been answered once and stays open
        std::string pending;
        kept += sendAll(fd, health) && readReply(fd, pending).status == 200;
    }
    EXPECT_EQ(kept, kIdle);
    const std::string head = "POST /rpc/REC00800.rdmRecCont HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < kSlow; ++i) {
        const int fd = connectLoopback(server.port());
        ASSERT_GE(fd, 0);
        slow.push_back(fd);
    }
    std::atomic<bool> attacking{true};
    std::thread slowloris([&] {
        for (size_t at = 0; attacking && at < head.size(); ++at) {
            for (int fd : slow)
                (void)!::send(fd, head.data() + at, 1, MSG_NOSIGNAL);
            for (int i = 0; i < 10 && attacking; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    std::vector<double> ms;
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
        const auto t = Clock::now();
        answered += honest.errorCode("GetParamFilial", {"0101"}) == 0;
        ms.push_back(msSince(t));
    }
    std::sort(ms.begin(), ms.end());
    EXPECT_EQ(answered, 200);
    EXPECT_LT(ms.back(), 2000.0) << "no honest call waits on the crowd";

    // past the limit: 503, then closed
    int refused = 0;
    std::vector<int> extra;
    for (int i = 0; i < 3; ++i) {
        const int fd = connectLoopback(server.port());
        if (fd < 0)
            continue;
        extra.push_back(fd);
        std::string pending;
        const Reply reply = (sendAll(fd, health), readReply(fd, pending));
        if (reply.status == 503) {
            ++refused;
            char c;
            EXPECT_LE(::read(fd, &c, 1), 0) << "closed after the 503";
        }
    }
    EXPECT_GE(refused, 2);
    const long crowdKb = residentKb(server.pid());

    attacking = false;
    slowloris.join();
    for (int fd : idle)
        close(fd);
    for (int fd : slow)
        close(fd);
    for (int fd : extra)
        close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(honest.errorCode("GetParamFilial", {"0101"}), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const long afterKb = residentKb(server.pid());
    EXPECT_LT(afterKb - idleKb, 20 * 1024) << "the memory of the crowd is given back";
    std::printf("FIGURES %s: %d idle + %d slowloris connections, 8 workers: 200 calls, p50 %.1f ms, p99 %.1f ms, "
                "max %.1f ms; %d of 3 past the limit refused 503; resident %ld MB idle, %ld MB crowded, %ld MB after\n",
                backendName(GetParam()).c_str(), kIdle, kSlow, ms[100], ms[197], ms.back(), refused, idleKb / 1024,
                crowdKb / 1024, afterKb / 1024);
}

// Credentials are judged on the head: a 400 MiB chunked body without them, or with wrong
// ones, is refused at once and never read into memory.
TEST_P(Transport, ABodyWithoutValidCredentialsIsRefusedBeforeItIsRead)
{
    ServerProcess server(database->url(), 2);
    const long idleKb = residentKb(server.pid());
    long peakKb = idleKb;
    for (const std::string &authorization : {std::string(), "Authorization: Basic " +
                                                                 QByteArray("ana:errada").toBase64().toStdString() +
                                                                 "\r\n"}) {
        const int fd = connectLoopback(server.port());
        ASSERT_GE(fd, 0);
        const auto start = Clock::now();
        ASSERT_TRUE(sendAll(fd, "POST /rpc/REC00800.rdmRecCont HTTP/1.1\r\nHost: x\r\n" + authorization +
                                    "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"));
        const std::string chunk = "100000\r\n" + std::string(1 << 20, '[') + "\r\n";
        size_t sent = 0;
        pollfd p{fd, POLLIN, 0};
        while (sent < (400u << 20) && poll(&p, 1, 0) == 0 && sendAll(fd, chunk))
            sent += 1u << 20;
        std::string pending;
        const Reply reply = readReply(fd, pending);
        const double ms = msSince(start);
        close(fd);
        EXPECT_EQ(reply.status, 401);
        EXPECT_LT(ms, 2000.0);
        peakKb = std::max(peakKb, residentKb(server.pid()));
        std::printf("FIGURES %s: %s: 401 after %.1f ms, %zu MiB sent\n", backendName(GetParam()).c_str(),
                    authorization.empty() ? "no credentials" : "wrong credentials", ms, sent >> 20);
    }
    EXPECT_LT(peakKb - idleKb, 16 * 1024) << "the refused bodies were never buffered";
    std::printf("FIGURES %s: resident growth while refusing %ld KB\n", backendName(GetParam()).c_str(),
                peakKb - idleKb);
}

// Bodies well over the old 64 MiB limit, plain and gzip'd, reach the method whole; answers
// come gzip'd when asked; every answer says it takes gzip; pipelined calls answer in order.
TEST_P(Transport, BigBodiesTravelPlainAndGzippedAndPipelinedCallsAnswerInOrder)
{
    ServerProcess server(database->url(), 2);
    RpcClient client(server.port());
    const long idleKb = residentKb(server.pid());
    const QJsonObject list = client.result("GetContRec", cleanAccounts().params()).toObject();
    const QJsonObject marked = markRows(list, [](int i, const QJsonArray &) { return i < 3; });
    std::string body = rpc("SetConfirmar", {marked, "ana", "01"});
    // the whole list of a large company: here the rows of the demo set, spaced out past 64 MiB
    body.insert(body.find("\"rows\":[") + 8, (80u << 20) - body.size(), ' ');

    const Reply plain = exchange(server.port(), post(body, "Accept-Encoding: gzip\r\n"));
    ASSERT_EQ(plain.status, 200) << plain.head;
    EXPECT_NE(plain.head.find("Content-Encoding: gzip"), std::string::npos);
    const QJsonArray answer =
        QJsonDocument::fromJson(QByteArray::fromStdString(erp::wire::gunzipped(plain.body))).object()["result"].toArray();
    ASSERT_FALSE(answer.isEmpty()) << erp::wire::gunzipped(plain.body).substr(0, 300);
    EXPECT_EQ(answer[0].toString(), kOk);

    body = rpc("SetConfirmar", {markRows(client.result("GetContRec", cleanAccounts().params()).toObject(),
                                         [](int i, const QJsonArray &) { return i >= 3 && i < 6; }),
                                "ana", "01"});
    body.insert(body.find("\"rows\":[") + 8, (80u << 20) - body.size(), ' ');
    const std::string packed = erp::wire::gzipped(body);
    const Reply zipped = exchange(server.port(), post(packed, "Content-Encoding: gzip\r\n"));
    ASSERT_EQ(zipped.status, 200) << zipped.head;
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(zipped.body)).object()["result"].toArray().at(0),
              kOk)
        << zipped.body.substr(0, 300);
    std::printf("FIGURES %s: SetConfirmar body %zu MiB plain, %zu KiB gzip'd\n", backendName(GetParam()).c_str(),
                body.size() >> 20, packed.size() >> 10);
    body = std::string();

    // a gzip bomb: tiny on the wire, over the limit inflated
    ServerProcess small(database->url(), 1, {"--max-body", "8"});
    const Reply bomb = exchange(small.port(), post(erp::wire::gzipped(std::string(9u << 20, ' ')), "Content-Encoding: gzip\r\n"));
    EXPECT_EQ(bomb.status, 413);
    EXPECT_NE(bomb.head.find("Connection: close"), std::string::npos);
    EXPECT_NE(bomb.head.find("Accept-Encoding: gzip"), std::string::npos);

    // two calls in one write, answered in their order on one connection
    const std::string first = rpc("GetParamFilial", {"0101"}), second = rpc("GetGeralRec", {});
    const int fd = connectLoopback(server.port());
    ASSERT_TRUE(sendAll(fd, post(first) + post(second) + "GET /health HTTP/1.1\r\nHost: x\r\n\r\n"));
    std::string pending;
    const Reply a = readReply(fd, pending), b = readReply(fd, pending), c = readReply(fd, pending);
    close(fd);
    EXPECT_EQ(errorCodeOf(a.body), 0);
    EXPECT_EQ(errorCodeOf(b.body), 0);
    EXPECT_NE(a.body, b.body);
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(a.body)).object()["result"],
              client.call("GetParamFilial", {"0101"})["result"]);
    EXPECT_EQ(c.status, 200);
    for (const Reply *r : {&a, &b, &c})
        EXPECT_NE(r->head.find("Accept-Encoding: gzip"), std::string::npos);

    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    const long afterKb = residentKb(server.pid());
    EXPECT_LT(afterKb - idleKb, 50 * 1024) << "back near idle after the big bodies";
    std::printf("FIGURES %s: resident %ld MB idle, %ld MB after two 80 MiB calls\n", backendName(GetParam()).c_str(),
                idleKb / 1024, afterKb / 1024);

    // Large bodies cut short, more than the server reads at once while they arrive: each is
    // dropped, the next one is read whole, and nothing is left to hold the server when it stops.
    body = rpc("SetConfirmar", {marked, "ana", "01"});
    body.insert(body.find("\"rows\":[") + 8, (4u << 20) - body.size(), ' ');
    const std::string request = post(body);
    for (int i = 0; i < 3; ++i) {
        const int cut = connectLoopback(server.port());
        ASSERT_TRUE(sendAll(cut, request.substr(0, request.size() / 2)));
        close(cut);
    }
    const Reply whole = exchange(server.port(), request);
    ASSERT_EQ(whole.status, 200) << whole.head;
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(whole.body)).object()["result"].toArray().at(0), kOk)
        << whole.body.substr(0, 300);
    EXPECT_EQ(server.terminate(), 0);
}

// serve --tls-cert: curl trusts it through a CA made here; plain HTTP to the port gets no answer.
TEST_P(Transport, TlsServesClientsThatTrustItsCaAndRefusesPlainHttp)
{
    if (GetParam() == Backend::Postgres)
        GTEST_SKIP() << "TLS is the transport's, the same on either database";
    if (std::system("command -v curl >/dev/null && command -v openssl >/dev/null") != 0)
        GTEST_SKIP() << "curl or openssl missing (scripts/deps.sh)";
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    const std::string make =
        "cd " + d + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=ca "
        ">/dev/null 2>&1 && openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj /CN=server "
        ">/dev/null 2>&1 && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > san && openssl x509 -req -in "
        "server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile san >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const std::string db = "sqlite:" + database->url().path;
    const CommandResult open = runAppServer({"serve", "--db", db, "--listen", "0.0.0.0:0"});
    EXPECT_EQ(open.status, 2) << "no plain HTTP beyond loopback unless asked";
    EXPECT_NE(open.err.find("--tls-cert"), std::string::npos) << open.err;
    ServerProcess server(database->url(), 2, {"--tls-cert", d + "/server.pem", "--tls-key", d + "/server.key"});
    EXPECT_NE(server.log().find("(TLS)"), std::string::npos);
    const auto curl = [&](const std::string &args) {
        const std::string out = d + "/out";
        const std::string cmd = "curl -s -o " + out + " -w '%{http_code}' --max-time 10 " + args + " > " + d + "/code";
        (void)!std::system(cmd.c_str());
        QFile f(QString::fromStdString(d + "/code"));
        f.open(QIODevice::ReadOnly);
        QFile o(QString::fromStdString(out));
        o.open(QIODevice::ReadOnly);
        return std::make_pair(f.readAll().toStdString(), o.readAll().toStdString());
    };
    const std::string url = "https://127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(curl("--cacert " + d + "/ca.pem " + url + "/health").first, "200");
    const auto call = curl("--cacert " + d + "/ca.pem --compressed -H 'Authorization: " + kAuth +
                           "' -H 'Content-Type: application/json' --data '" + rpc("GetParamFilial", {"0101"}) + "' " +
                           url + "/rpc/REC00800.rdmRecCont");
    EXPECT_EQ(call.first, "200");
    EXPECT_EQ(errorCodeOf(call.second), 0) << call.second;
    EXPECT_EQ(curl(url + "/health").first, "000") << "an unknown certificate is not trusted";

    const Reply plain = exchange(server.port(), "GET /health HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(plain.status, 0) << "plain HTTP gets no HTTP answer: " << plain.head;
}

// The shell's own client as the shell configures it (https:// host, CA file, gzip on) against
// serve --tls-cert: calls go through with the CA that signed the server's certificate, gzip
// both ways, and another CA is refused with a message that names the server.
TEST_P(Transport, TheShellsClientCallsATlsServerItsCaVouchesForAndRefusesAnyOther)
{
    if (GetParam() == Backend::Postgres)
        GTEST_SKIP() << "TLS is the transport's, the same on either database";
    if (std::system("command -v openssl >/dev/null") != 0)
        GTEST_SKIP() << "openssl missing (scripts/deps.sh)";
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    const std::string make =
        "cd " + d + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=ca "
        ">/dev/null 2>&1 && openssl req -x509 -newkey rsa:2048 -nodes -keyout other.key -out other.pem -days 2 "
        "-subj /CN=other >/dev/null 2>&1 && openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr "
        "-subj /CN=server >/dev/null 2>&1 && printf 'subjectAltName=IP:127.0.0.1\\n' > san && openssl x509 -req -in "
        "server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile san >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    ServerProcess server(database->url(), 2, {"--tls-cert", d + "/server.pem", "--tls-key", d + "/server.key"});

    erp::ShellContext &ctx = erp::ShellContext::instance();
    ctx.setWebUrl(QStringLiteral("https://127.0.0.1"));
    ctx.setWebPort(server.port());
    ctx.setOperador(QStringLiteral("ana"));
    ctx.setPassword(QStringLiteral("segredo"));
    ctx.setCompression(erp::ShellContext::Compression::On);
    struct Restore
    {
        ~Restore()
        {
            erp::ShellContext::instance().setCaFile(QString());
            erp::ShellContext::instance().setCompression(erp::ShellContext::Compression::Auto);
        }
    } restore;
    erp::NetConnection net;
    net.setServerName(QStringLiteral("REC00800.rdmRecCont"));
    net.beforeConnect = [](erp::NetConnection &c) {
        c.setHost(erp::webUrl());
        c.setPort(erp::webPort());
    };

    ctx.setCaFile(QString::fromStdString(d + "/ca.pem"));
    const QVariant types = erp::checkResultServ(net.call(QStringLiteral("GetTipoCtReceber")), false);
    EXPECT_GT(types.value<erp::wire::Packet>().rowCount(), 0);
    // a body well over what is worth compressing: the server must read it inflated to judge it
    const QString longBranch(100000, QLatin1Char('9'));
    const QVariant refused = net.call(QStringLiteral("GetParamFilial"), {longBranch});
    EXPECT_FALSE(refused.value<erp::ServerResult>().ok);
    EXPECT_EQ(refused.value<erp::ServerResult>().errorCode, -32602) << refused.value<erp::ServerResult>().errorMessage.toStdString();
    // a list long enough to go out gzip'd while it is written is judged as the same list sent
    // whole (an observer sees it whole); one dropped after its first blocks left is never run
    erp::wire::Packet list({{"CDCONTA", erp::wire::FieldType::String, 20}, {"VLSALDO", erp::wire::FieldType::Float, 0}});
    for (int i = 0; i < 60000; ++i)
        list.appendRow({QStringLiteral("01.%1").arg(i), i * 0.5});
    const auto judged = [&](const QVariantList &params) {
        const erp::ServerResult r = net.call(QStringLiteral("GetParamFilial"), params).value<erp::ServerResult>();
        return std::to_string(r.errorCode) + " " + r.errorMessage.toStdString();
    };
    const std::string streamed = judged({QVariant::fromValue(list)});
    erp::setServerCallObserver([](const QString &, const QByteArray &) {});
    EXPECT_EQ(streamed, judged({QVariant::fromValue(list)}));
    erp::setServerCallObserver(nullptr);
    EXPECT_EQ(streamed.rfind("-32602 ", 0), 0u) << streamed;
    EXPECT_THROW(net.call(QStringLiteral("GetParamFilial"), {QVariant::fromValue(list), QByteArray("x")}), erp::Error);
    EXPECT_EQ(judged({QVariant::fromValue(list)}), streamed);
    net.close();

    ctx.setCaFile(QString::fromStdString(d + "/other.pem"));
    QString text;
    try {
        net.open();
    } catch (const erp::Error &e) {
        text = e.message();
    }
    EXPECT_TRUE(text.contains(QStringLiteral("REC00800.rdmRecCont em 127.0.0.1:%1").arg(server.port()))
                && text.contains(QStringLiteral("autoridade certificadora confiável")))
        << text.toStdString();
    EXPECT_FALSE(net.connected());
}

// A byte pump between the server and PostgreSQL that can stop passing bytes, as a stopped
// database server or a cut-off network looks to the application server.
class Stall
{
public:
    explicit Stall(int upstreamPort) : m_upstream(upstreamPort)
    {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a);
        listen(m_listen, 64);
        socklen_t len = sizeof a;
        getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_acceptor = std::thread([this] {
            for (;;) {
                const int client = accept(m_listen, nullptr, nullptr);
                if (client < 0 || m_done)
                    return;
                m_pumps.emplace_back([this, client] { pump(client); });
            }
        });
    }
    ~Stall()
    {
        m_done = true;
        shutdown(m_listen, SHUT_RDWR);
        close(m_listen);
        m_acceptor.join();
        for (auto &t : m_pumps)
            t.join();
    }
    int port() const { return m_port; }
    void stall(bool on) { m_stalled = on; }

private:
    void pump(int client)
    {
        const int server = connectLoopback(m_upstream);
        char buf[65536];
        while (!m_done && server >= 0) {
            if (m_stalled) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (poll(p, 2, 50) <= 0 || m_stalled)
                continue;
            bool open = true;
            for (int i = 0; i < 2 && open; ++i) {
                if (!p[i].revents)
                    continue;
                const ssize_t n = read(p[i].fd, buf, sizeof buf);
                open = n > 0 && sendAll(p[1 - i].fd, std::string(buf, size_t(n)));
            }
            if (!open)
                break;
        }
        close(client);
        if (server >= 0)
            close(server);
    }

    int m_upstream, m_listen, m_port = 0;
    std::atomic<bool> m_done{false}, m_stalled{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_pumps;
};

// The database stops answering: a call ends with the timeout's message instead of hanging and
// /health says 503 within about a second; both recover when it answers again.
TEST_P(Transport, AStalledDatabaseTimesCallsOutAndHealthSays503)
{
    if (GetParam() != Backend::Postgres)
        GTEST_SKIP() << "a database server that stops is a PostgreSQL matter";
    const std::string url = database->url().conninfo;
    const size_t colon = url.rfind(':'), slash = url.find('/', colon);
    Stall stall(std::stoi(url.substr(colon + 1, slash - colon - 1)));
    const auto through = db::DbUrl::parse(url.substr(0, colon + 1) + std::to_string(stall.port()) + url.substr(slash));
    ServerProcess server(through, 2, {"--statement-timeout", "2"});
    RpcClient client(server.port());
    ASSERT_EQ(client.errorCode("GetParamFilial", {"0101"}), 0);

    stall.stall(true);
    auto t = Clock::now();
    const QJsonObject timedOut = client.call("GetParamFilial", {"0101"});
    const double callMs = msSince(t);
    EXPECT_EQ(timedOut["error"].toObject()["code"].toInt(), -32000);
    EXPECT_TRUE(timedOut["error"].toObject()["message"].toString().contains("não respondeu"));
    EXPECT_LT(callMs, 15000.0);
    t = Clock::now();
    EXPECT_EQ(exchange(server.port(), "GET /health HTTP/1.1\r\nHost: x\r\n\r\n").status, 503);
    const double healthMs = msSince(t);
    EXPECT_LT(healthMs, 5000.0);

    stall.stall(false);
    int healthy = 0, served = 0;
    for (int i = 0; i < 50 && !(healthy && served); ++i) {
        healthy = exchange(server.port(), "GET /health HTTP/1.1\r\nHost: x\r\n\r\n").status == 200;
        served = client.errorCode("GetParamFilial", {"0101"}) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(healthy);
    EXPECT_TRUE(served);
    std::printf("FIGURES stalled database: call refused after %.0f ms (--statement-timeout 2), /health 503 after "
                "%.0f ms\n",
                callMs, healthMs);
}

INSTANTIATE_TEST_SUITE_P(Databases, Transport, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto &info) { return backendName(info.param); });
