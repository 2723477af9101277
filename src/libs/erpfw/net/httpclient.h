#pragma once

#include <erpfw/erpfw_global.h>
#include <erpwire/pinnedbuffer.h>

#include <QByteArray>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
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
    Protocol,    // the answer is not HTTP/1.x, or its body cannot be decoded
    Tls,         // the TLS handshake failed: HttpClient::failureDetail says why
    Cancelled,   // HttpClient::cancel ended it
};

struct HttpAnswer
{
    int status = 0;
    wire::PinnedBuffer body;
};

struct HttpOptions
{
    bool tls = false;
    std::string caFile;    // TLS: the authorities trusted; empty: the system's
    bool compress = false; // ask for gzip answers, and send large bodies in gzip once the server accepts it
};

// What the answer's body is read with while it arrives. more() waits for the next bytes and
// gives false at the body's end or on a failure (then the exchange gives the failure).
class HttpBodyStream
{
public:
    virtual const wire::PinnedBuffer &body() const = 0;
    virtual bool more() = 0;

protected:
    ~HttpBodyStream() = default;
};
using HttpBodyReader = std::function<void(int status, HttpBodyStream &)>;

// A request's body written by one thread while another sends it, block by block. The writer
// never waits for the network (the user interface's wait starts once the body is written, as
// with a whole body): at worst the blocks not yet sent add up to the whole text.
class ERPFW_EXPORT HttpBodyBlocks
{
public:
    // The writer's side. push: false once the sender gave up (the request failed or was
    // cancelled), so that the rest need not be written. Ends with finish or, when the body will
    // never be whole, abandon: then the request is dropped, never completed.
    bool push(QByteArray block);
    void finish();
    void abandon();

    // The sender's side. next: false at the end, which whole() tells apart from an abandoned body.
    bool next(QByteArray &block);
    bool whole() const;
    void giveUp();

private:
    enum class State { Writing, Whole, Abandoned };
    mutable std::mutex m_mutex;
    std::condition_variable m_changed; // for the sender
    std::deque<QByteArray> m_blocks;
    State m_state = State::Writing;
    bool m_gaveUp = false;
};

// One keep-alive HTTP/1.1 connection (plain or TLS) to one host and port, used by one thread at
// a time; cancel() may come from any thread. The timeout applies to connecting and to each wait
// for the peer, not to the whole exchange.
class ERPFW_EXPORT HttpClient
{
public:
    HttpClient(std::string host, int port, HttpOptions options = {});
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;

    void setTimeoutMs(int ms);

    // headers: complete lines, each ending in CRLF. A connection the server closed while idle
    // is replaced before the request goes out; a request is never sent twice. whileWaiting runs
    // once the request is out, before the answer is read. With a reader, the body is given to
    // it as it arrives, once the head is read; what it leaves unread is read after it.
    HttpFailure exchange(std::string_view method, std::string_view path, std::string_view headers,
                         std::string_view body, HttpAnswer &answer, const std::function<void()> &whileWaiting = {},
                         const HttpBodyReader &reader = {});

    // The halves of exchange, for a caller that may read the answer on another thread than the
    // one that sent the request (one after the other, never both at once). readyToSend: the
    // connection is open and idle, so that a request goes out without connecting (a stale one
    // is closed here). answerArrived, after sendRequest: waits up to waitMs for the answer to
    // start coming; true when all of a short answer is already there, so that readAnswer takes
    // it without waiting at all.
    bool readyToSend();
    HttpFailure sendRequest(std::string_view method, std::string_view path, std::string_view headers,
                            std::string_view body);
    // The same with a body sent as it is written (chunked, gzip'd when compressing): for a body
    // too large to wait for its last byte before the first goes out. Gives up on body when it fails.
    HttpFailure sendRequest(std::string_view method, std::string_view path, std::string_view headers,
                            HttpBodyBlocks &body);
    bool answerArrived(int waitMs);
    HttpFailure readAnswer(HttpAnswer &answer, const HttpBodyReader &reader = {});

    // From any thread: the exchange under way, and every later one, ends with
    // HttpFailure::Cancelled and drops the connection. A cancelled client stays so: its owner
    // makes a new one.
    void cancel();

    // Bytes of answers received so far, from any thread.
    std::int64_t receivedBytes() const;

    // For HttpFailure::Tls: why, in Portuguese.
    std::string failureDetail() const;

    // The body was sent compressed (the server said it accepts gzip): for tests and logs.
    bool lastRequestCompressed() const;

    void disconnect();

private:
    HttpFailure beginRequest();
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Loopback addresses: there compression costs more than it saves.
ERPFW_EXPORT bool isLoopbackHost(std::string_view host);

} // namespace erp
