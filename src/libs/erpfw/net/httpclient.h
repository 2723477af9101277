#pragma once

#include <erpfw/erpfw_global.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

namespace erp {

// Why an HTTP exchange did not complete.
enum class HttpFailure {
    None,
    Connect,     // refused, unreachable or the name does not resolve
    Timeout,     // no connection, or nothing to read or write, within the timeout
    Write,       // the connection closed while the request went out
    Read,        // the connection closed before the whole answer
    Protocol,    // the answer is not HTTP/1.x
    Cancelled,   // cancel() was called
};

struct HttpAnswer
{
    int status = 0;
    std::string body;
};

// One keep-alive HTTP/1.1 connection to one host and port, used by one thread (cancel() aside). A request goes
// out in one write: headers and body in separate segments cost the server a second wake-up and
// the call a second pass through the loopback stack. The timeout applies to connecting and to
// each wait for the peer, not to the whole exchange.
class ERPFW_EXPORT HttpClient
{
public:
    HttpClient(std::string host, int port);
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    void setTimeoutMs(int ms);

    // headers: complete lines, each ending in CRLF. A connection the server closed while idle
    // is replaced before the request goes out; a request is never sent twice. whileWaiting runs
    // once the request is out, before the answer is read.
    HttpFailure exchange(std::string_view method, std::string_view path, std::string_view headers,
                         std::string_view body, HttpAnswer &answer, void (*whileWaiting)() = nullptr);

    void disconnect();

    // From any thread: the exchange under way, and every later one, ends with
    // HttpFailure::Cancelled and drops the connection. A cancelled client stays so: its owner
    // makes a new one.
    void cancel();

    // Bytes of answers received so far, from any thread.
    qint64 receivedBytes() const { return m_received.load(std::memory_order_relaxed); }

private:
    HttpFailure cancelledOr(HttpFailure f) const;

    HttpFailure connectSocket();
    HttpFailure send(std::string_view head, std::string_view body);
    HttpFailure fill(); // reads more into m_buf
    HttpFailure readAnswer(HttpAnswer &answer, bool &keepAlive);
    HttpFailure readChunked(std::string &body);
    HttpFailure readExactly(std::string &body, size_t n);

    std::string m_host;
    int m_port;
    int m_timeoutMs = 30000;
    std::atomic<int> m_fd{-1};
    std::atomic<bool> m_cancelled{false};
    std::atomic<qint64> m_received{0};
    std::mutex m_fdMutex; // a cancel never shuts a number that disconnect() has just closed
    std::string m_buf; // bytes read and not yet consumed, from m_pos
    size_t m_pos = 0;
    std::chrono::steady_clock::time_point m_lastAnswer;
    std::chrono::steady_clock::duration m_idleLimit = std::chrono::steady_clock::duration::max();
};

} // namespace erp
