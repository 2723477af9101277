// The client's HTTP/1.1 exchange against a peer that writes raw bytes: framing of every kind,
// answers cut or dribbled, connections the peer closes, and what goes out on the wire.
#include <erpfw/net/httpclient.h>

#include <gtest/gtest.h>

#include <erpwire/gzip.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace erp;

namespace {

// Accepts connections one after another; each runs the script with the socket, then closes.
class RawPeer
{
public:
    using Script = std::function<void(int fd, int connection)>;

    explicit RawPeer(Script script) : m_script(std::move(script))
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), len);
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        ::listen(m_listen, 8);
        m_thread = std::thread([this] {
            for (int n = 0;; ++n) {
                pollfd p{m_listen, POLLIN, 0};
                while (!m_stop && ::poll(&p, 1, 20) == 0) {
                }
                if (m_stop)
                    return;
                const int fd = ::accept(m_listen, nullptr, nullptr);
                m_script(fd, n);
                ::close(fd);
            }
        });
    }
    ~RawPeer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    int port() const { return m_port; }

    // One request: the head, then as many body bytes as its Content-Length says.
    static std::string readRequest(int fd, int *reads = nullptr)
    {
        std::string got;
        char buf[65536];
        for (;;) {
            const size_t end = got.find("\r\n\r\n");
            if (end != std::string::npos) {
                const size_t at = got.find("Content-Length: ");
                const size_t length = at == std::string::npos ? 0 : std::stoul(got.substr(at + 16));
                if (got.size() >= end + 4 + length)
                    return got;
            }
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return got;
            got.append(buf, size_t(n));
            if (reads)
                ++*reads;
        }
    }

    static void write(int fd, const std::string &bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

private:
    Script m_script;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::string okAnswer(const std::string &body, const std::string &extra = {})
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

HttpFailure post(HttpClient &client, const std::string &body, HttpAnswer &answer)
{
    return client.exchange("POST", "/rpc/X", "Authorization: Basic eDp5\r\n", body, answer);
}

} // namespace

TEST(Http, ARequestLeavesInOneWriteAndTheAnswerIsFramedByItsLengthOrItsChunks)
{
    std::mutex m;
    std::vector<std::string> requests;
    std::vector<int> reads;
    const std::string big(3 * 1024 * 1024 + 17, 'x');
    RawPeer peer([&](int fd, int) {
        for (int i = 0;; ++i) {
            // the whole request must be there at once: wait until the first bytes arrive
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            int n = 0;
            const std::string request = RawPeer::readRequest(fd, &n);
            if (request.empty())
                return;
            {
                std::lock_guard lock(m);
                requests.push_back(request);
                reads.push_back(n);
            }
            if (i == 0) {
                RawPeer::write(fd, okAnswer(R"({"a":1})"));
            } else if (i == 1) {
                // chunks with an extension and a trailer, dribbled a few bytes at a time
                const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                            "4;ext=1\r\n{\"b\"\r\n9\r\n:[1,2,3]}\r\n0\r\nX-Trailer: t\r\n\r\n";
                for (size_t at = 0; at < chunked.size(); at += 3) {
                    RawPeer::write(fd, chunked.substr(at, 3));
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            } else if (i == 2) {
                RawPeer::write(fd, okAnswer(big));
            } else {
                // an interim answer before the real one
                RawPeer::write(fd, "HTTP/1.1 100 Continue\r\n\r\n" + okAnswer("fim"));
            }
        }
    });
    HttpClient client("127.0.0.1", peer.port());
    HttpAnswer answer;
    const std::string body = R"({"jsonrpc":"2.0","id":1,"method":"M","params":[]})";
    ASSERT_EQ(post(client, body, answer), HttpFailure::None);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body.view(), R"({"a":1})");
    ASSERT_EQ(post(client, body, answer), HttpFailure::None);
    EXPECT_EQ(answer.body.view(), R"({"b":[1,2,3]})");
    ASSERT_EQ(post(client, body, answer), HttpFailure::None);
    EXPECT_EQ(answer.body.size(), big.size());
    EXPECT_EQ(answer.body.view(), big);
    ASSERT_EQ(client.exchange("GET", "/health", {}, {}, answer), HttpFailure::None);
    EXPECT_EQ(answer.body.view(), "fim");

    std::lock_guard lock(m);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0], "POST /rpc/X HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(peer.port()) +
                               "\r\nAuthorization: Basic eDp5\r\nContent-Length: " + std::to_string(body.size()) +
                               "\r\n\r\n" + body);
    EXPECT_EQ(reads[0], 1) << "headers and body in one write";
    EXPECT_EQ(requests[3].substr(0, 21), "GET /health HTTP/1.1\r");
    EXPECT_EQ(requests[3].find("Content-Length"), std::string::npos);
}

TEST(Http, AConnectionThePeerClosedIsReplacedAndNoRequestGoesTwice)
{
    std::atomic<int> served{0};
    RawPeer peer([&](int fd, int connection) {
        const std::string request = RawPeer::readRequest(fd);
        if (request.empty())
            return;
        ++served;
        if (connection == 0)
            RawPeer::write(fd, okAnswer("um")); // then closes while the client keeps it
        else if (connection == 1)
            RawPeer::write(fd, okAnswer("dois", "Connection: close\r\n"));
        else if (connection == 2)
            RawPeer::write(fd, "HTTP/1.1 200 OK\r\n\r\nate o fim");
        else if (connection == 3)
            RawPeer::write(fd, okAnswer("0123456789").substr(0, 60)); // dies mid-answer
        else if (connection == 4)
            RawPeer::write(fd, "<html>proxy</html>");
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(600)); // says nothing
    });
    HttpClient client("127.0.0.1", peer.port());
    HttpAnswer answer;
    ASSERT_EQ(post(client, "1", answer), HttpFailure::None);
    EXPECT_EQ(answer.body.view(), "um");
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the peer has closed by now
    ASSERT_EQ(post(client, "2", answer), HttpFailure::None);
    EXPECT_EQ(answer.body.view(), "dois");
    ASSERT_EQ(post(client, "3", answer), HttpFailure::None);
    EXPECT_EQ(answer.body.view(), "ate o fim");
    EXPECT_EQ(served.load(), 3) << "each request served once";

    EXPECT_EQ(post(client, "4", answer), HttpFailure::Read);
    EXPECT_EQ(post(client, "5", answer), HttpFailure::Protocol);
    client.setTimeoutMs(200);
    EXPECT_EQ(post(client, "6", answer), HttpFailure::Timeout);
}

TEST(Http, NobodyListeningIsAConnectFailure)
{
    int port = 0;
    {
        RawPeer gone([](int, int) {});
        port = gone.port();
    }
    HttpClient client("127.0.0.1", port);
    HttpAnswer answer;
    EXPECT_EQ(post(client, "x", answer), HttpFailure::Connect);
}

TEST(Http, PastTheIdleTimeTheServerAnnouncedTheNextRequestTakesANewConnection)
{
    RawPeer peer([](int fd, int connection) {
        while (!RawPeer::readRequest(fd).empty())
            RawPeer::write(fd, okAnswer(std::to_string(connection), "Keep-Alive: timeout=1, max=5\r\n"));
    });
    HttpClient client("127.0.0.1", peer.port());
    HttpAnswer answer;
    ASSERT_EQ(post(client, "a", answer), HttpFailure::None);
    EXPECT_EQ(answer.body.view(), "0");
    ASSERT_EQ(post(client, "b", answer), HttpFailure::None);
    EXPECT_EQ(answer.body.view(), "0");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ASSERT_EQ(post(client, "c", answer), HttpFailure::None);
    EXPECT_EQ(answer.body.view(), "1");
}

TEST(Http, LargeBodiesGoInGzipOnceThePeerAcceptsItAndGzipAnswersAreInflated)
{
    std::mutex m;
    std::vector<std::string> heads, bodies;
    std::string list = "[";
    for (int i = 0; i < 20000; ++i)
        list += "[\"" + std::to_string(i) + "\",\"CLIENTE\",12.5],";
    list.back() = ']';
    RawPeer peer([&](int fd, int) {
        for (int i = 0;; ++i) {
            const std::string request = RawPeer::readRequest(fd);
            if (request.empty())
                return;
            const size_t end = request.find("\r\n\r\n");
            std::string body = request.substr(end + 4);
            if (request.find("Content-Encoding: gzip") != std::string::npos)
                body = wire::gunzipped(body);
            {
                std::lock_guard lock(m);
                heads.push_back(request.substr(0, end));
                bodies.push_back(body);
            }
            if (i == 0) { // the list, gzip in chunks cut anywhere
                const std::string packed = wire::gzipped(list);
                std::string answer = "HTTP/1.1 200 OK\r\nAccept-Encoding: gzip\r\nContent-Encoding: gzip\r\n"
                                     "Transfer-Encoding: chunked\r\n\r\n";
                for (size_t at = 0; at < packed.size(); at += 777) {
                    const std::string part = packed.substr(at, 777);
                    char size[16];
                    std::snprintf(size, sizeof size, "%zx\r\n", part.size());
                    answer += size + part + "\r\n";
                }
                RawPeer::write(fd, answer + "0\r\n\r\n");
            } else if (i == 1) {
                RawPeer::write(fd, okAnswer("ok", "Accept-Encoding: gzip\r\n"));
            } else {
                RawPeer::write(fd, okAnswer(wire::gzipped(list).substr(0, 100), "Content-Encoding: gzip\r\n")); // cut short
            }
        }
    });
    HttpClient client("127.0.0.1", peer.port(), {.tls = false, .caFile = {}, .compress = true});
    HttpAnswer answer;
    ASSERT_EQ(post(client, list, answer), HttpFailure::None);
    EXPECT_FALSE(client.lastRequestCompressed()) << "not before the peer said it takes gzip";
    EXPECT_EQ(answer.body.view(), list);
    ASSERT_EQ(post(client, list, answer), HttpFailure::None);
    EXPECT_TRUE(client.lastRequestCompressed());
    EXPECT_EQ(answer.body.view(), "ok");
    EXPECT_EQ(post(client, "[1]", answer), HttpFailure::Protocol) << "a gzip answer cut short";
    EXPECT_FALSE(client.lastRequestCompressed()) << "a small body goes as it is";

    std::lock_guard lock(m);
    ASSERT_EQ(bodies.size(), 3u);
    EXPECT_EQ(bodies[0], list);
    EXPECT_EQ(bodies[1], list);
    EXPECT_NE(heads[0].find("Accept-Encoding: gzip"), std::string::npos);
    EXPECT_EQ(heads[0].find("Content-Encoding"), std::string::npos);
    EXPECT_NE(heads[1].find("Content-Encoding: gzip"), std::string::npos);
}

// The calling thread reads an answer itself only when all of it has come: what is still on its
// way, framed by its length or by chunks, is left to a reader that may wait.
TEST(Http, AnAnswerCountsAsArrivedOnlyWhenAllOfItIsThere)
{
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n{\"c\"\r\n4\r\n:[]}\r\n0\r\n\r\n";
    const std::vector<std::string> answers{okAnswer(R"({"a":1})"), okAnswer(R"({"a":1})"), chunked, chunked};
    RawPeer peer([&](int fd, int) {
        for (size_t i = 0; i < answers.size(); ++i) {
            if (RawPeer::readRequest(fd).empty())
                return;
            if (i % 2 == 0) {
                // its last bytes well after the rest
                const size_t part = answers[i].size() - 6;
                RawPeer::write(fd, answers[i].substr(0, part));
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                RawPeer::write(fd, answers[i].substr(part));
            } else {
                RawPeer::write(fd, answers[i]);
            }
        }
    });
    HttpClient client("127.0.0.1", peer.port());
    HttpAnswer answer;
    for (size_t i = 0; i < answers.size(); ++i) {
        ASSERT_EQ(client.sendRequest("POST", "/rpc/X", "Authorization: Basic eDp5\r\n", "{}"), HttpFailure::None);
        EXPECT_EQ(client.answerArrived(2000), i % 2 == 1) << i;
        ASSERT_EQ(client.readAnswer(answer), HttpFailure::None);
        EXPECT_EQ(answer.body.view(), i < 2 ? R"({"a":1})" : R"({"c":[]})");
    }
}
