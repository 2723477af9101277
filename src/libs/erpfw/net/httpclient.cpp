#include "httpclient.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace erp {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kMaxHeadBytes = 64 * 1024;
constexpr std::string_view kCrlf = "\r\n";

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x | 0x20) == (y | 0x20);
           });
}

bool containsNoCase(std::string_view text, std::string_view word)
{
    for (size_t i = 0; i + word.size() <= text.size(); ++i)
        if (equalsNoCase(text.substr(i, word.size()), word))
            return true;
    return false;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

HttpFailure socketFailure(int error, HttpFailure otherwise)
{
    return error == EAGAIN || error == EWOULDBLOCK ? HttpFailure::Timeout : otherwise;
}

int pollOne(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    int n;
    do
        n = ::poll(&p, 1, timeoutMs);
    while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : n == 0 ? 0 : p.revents;
}

} // namespace

HttpClient::HttpClient(std::string host, int port)
    : m_host(std::move(host)), m_port(port)
{}

HttpClient::~HttpClient()
{
    disconnect();
}

void HttpClient::setTimeoutMs(int ms)
{
    m_timeoutMs = std::max(ms, 1);
    if (m_fd < 0)
        return;
    const timeval tv{m_timeoutMs / 1000, (m_timeoutMs % 1000) * 1000};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void HttpClient::disconnect()
{
    {
        const std::lock_guard lock(m_fdMutex);
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    m_idleLimit = std::chrono::steady_clock::duration::max();
    m_buf.clear();
    m_pos = 0;
}

void HttpClient::cancel()
{
    m_cancelled = true;
    const std::lock_guard lock(m_fdMutex);
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_RDWR); // a blocking send or recv returns at once
}

HttpFailure HttpClient::cancelledOr(HttpFailure f) const
{
    return m_cancelled && f != HttpFailure::None ? HttpFailure::Cancelled : f;
}

HttpFailure HttpClient::connectSocket()
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (::getaddrinfo(m_host.c_str(), std::to_string(m_port).c_str(), &hints, &list) != 0)
        return HttpFailure::Connect;
    HttpFailure result = HttpFailure::Connect;
    for (const addrinfo *a = list; a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0)
            continue;
        bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        if (!connected && errno == EINPROGRESS) {
            const int ready = pollOne(fd, POLLOUT, m_timeoutMs);
            int error = 0;
            socklen_t len = sizeof error;
            if (ready == 0)
                result = HttpFailure::Timeout;
            else if (ready > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
                connected = true;
        }
        if (!connected) {
            ::close(fd);
            continue;
        }
        // Blocking from here on: the socket's own timeouts bound every wait.
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        {
            const std::lock_guard lock(m_fdMutex);
            m_fd = fd;
        }
        setTimeoutMs(m_timeoutMs);
        ::freeaddrinfo(list);
        return m_cancelled ? HttpFailure::Cancelled : HttpFailure::None; // a cancel that found no socket yet
    }
    ::freeaddrinfo(list);
    return result;
}

HttpFailure HttpClient::exchange(std::string_view method, std::string_view path, std::string_view headers,
                                 std::string_view body, HttpAnswer &answer, void (*whileWaiting)())
{
    answer = {};
    if (m_cancelled)
        return HttpFailure::Cancelled;
    // Readable while idle means the server closed it (or sent what nobody asked for); near the end
    // of the idle time the server announced, it may be closing it as the request goes out.
    if (m_fd >= 0 && (pollOne(m_fd, POLLIN, 0) != 0 || std::chrono::steady_clock::now() - m_lastAnswer >= m_idleLimit))
        disconnect();
    if (m_fd < 0)
        if (const HttpFailure f = connectSocket(); f != HttpFailure::None) {
            disconnect();
            return f;
        }

    std::string head;
    head.reserve(128 + path.size() + headers.size());
    head.append(method).append(" ").append(path).append(" HTTP/1.1\r\nHost: ");
    if (m_host.find(':') != std::string::npos)
        head.append("[").append(m_host).append("]");
    else
        head.append(m_host);
    head.append(":").append(std::to_string(m_port)).append(kCrlf).append(headers);
    if (!body.empty() || method == "POST")
        head.append("Content-Length: ").append(std::to_string(body.size())).append(kCrlf);
    head.append(kCrlf);

    HttpFailure f = send(head, body);
    bool keepAlive = false;
    if (f == HttpFailure::None) {
        if (whileWaiting) {
            try {
                whileWaiting();
            } catch (...) {
                disconnect(); // its answer will not be read
                throw;
            }
        }
        f = readAnswer(answer, keepAlive);
    }
    f = cancelledOr(f);
    if (f != HttpFailure::None || !keepAlive || m_pos != m_buf.size())
        disconnect(); // out of step with the server: the next exchange starts afresh
    m_lastAnswer = std::chrono::steady_clock::now();
    m_buf.clear();
    m_pos = 0;
    return f;
}

HttpFailure HttpClient::send(std::string_view head, std::string_view body)
{
    iovec parts[2] = {{const_cast<char *>(head.data()), head.size()}, {const_cast<char *>(body.data()), body.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = body.empty() ? 1 : 2;
    while (message.msg_iovlen > 0) {
        ssize_t n = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return socketFailure(errno, HttpFailure::Write);
        }
        while (n > 0) {
            iovec &first = message.msg_iov[0];
            const size_t taken = std::min(size_t(n), first.iov_len);
            first.iov_base = static_cast<char *>(first.iov_base) + taken;
            first.iov_len -= taken;
            n -= ssize_t(taken);
            if (first.iov_len == 0) {
                ++message.msg_iov;
                --message.msg_iovlen;
            }
        }
    }
    return HttpFailure::None;
}

HttpFailure HttpClient::fill()
{
    if (m_pos == m_buf.size()) {
        m_buf.clear();
        m_pos = 0;
    }
    char chunk[kReadChunk];
    for (;;) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            m_received.fetch_add(n, std::memory_order_relaxed);
            m_buf.append(chunk, size_t(n));
            return HttpFailure::None;
        }
        if (n == 0)
            return HttpFailure::Read;
        if (errno != EINTR)
            return socketFailure(errno, HttpFailure::Read);
    }
}

HttpFailure HttpClient::readExactly(std::string &body, size_t n)
{
    const size_t buffered = std::min(n, m_buf.size() - m_pos);
    body.append(m_buf, m_pos, buffered);
    m_pos += buffered;
    n -= buffered;
    // the rest goes straight into the body, without passing through the buffer
    size_t at = body.size();
    body.resize(at + n);
    while (n > 0) {
        const ssize_t got = ::recv(m_fd, body.data() + at, n, 0);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            body.resize(at);
            return got == 0 ? HttpFailure::Read : socketFailure(errno, HttpFailure::Read);
        }
        m_received.fetch_add(got, std::memory_order_relaxed);
        at += size_t(got);
        n -= size_t(got);
    }
    return HttpFailure::None;
}

HttpFailure HttpClient::readChunked(std::string &body)
{
    const auto line = [this](std::string_view &out) {
        size_t end;
        while ((end = m_buf.find(kCrlf, m_pos)) == std::string::npos) {
            if (m_buf.size() - m_pos > kMaxHeadBytes)
                return HttpFailure::Protocol;
            if (const HttpFailure f = fill(); f != HttpFailure::None)
                return f;
        }
        out = std::string_view(m_buf).substr(m_pos, end - m_pos);
        m_pos = end + kCrlf.size();
        return HttpFailure::None;
    };
    for (;;) {
        std::string_view sizeLine;
        if (const HttpFailure f = line(sizeLine); f != HttpFailure::None)
            return f;
        sizeLine = trimmed(sizeLine.substr(0, sizeLine.find(';')));
        size_t size = 0;
        const auto [end, error] = std::from_chars(sizeLine.data(), sizeLine.data() + sizeLine.size(), size, 16);
        if (error != std::errc() || end != sizeLine.data() + sizeLine.size() || sizeLine.empty())
            return HttpFailure::Protocol;
        if (size == 0) {
            for (std::string_view trailer = "-"; !trailer.empty();)
                if (const HttpFailure f = line(trailer); f != HttpFailure::None)
                    return f;
            return HttpFailure::None;
        }
        if (const HttpFailure f = readExactly(body, size); f != HttpFailure::None)
            return f;
        std::string_view rest;
        if (const HttpFailure f = line(rest); f != HttpFailure::None)
            return f;
        if (!rest.empty())
            return HttpFailure::Protocol;
    }
}

HttpFailure HttpClient::readAnswer(HttpAnswer &answer, bool &keepAlive)
{
    std::string_view head;
    for (;;) {
        size_t end;
        while ((end = m_buf.find("\r\n\r\n", m_pos)) == std::string::npos) {
            const std::string_view start = std::string_view(m_buf).substr(m_pos, 7);
            if (m_buf.size() - m_pos > kMaxHeadBytes || start != std::string_view("HTTP/1.").substr(0, start.size()))
                return HttpFailure::Protocol;
            if (const HttpFailure f = fill(); f != HttpFailure::None)
                return f;
        }
        head = std::string_view(m_buf).substr(m_pos, end - m_pos);
        m_pos = end + 4;
        // "HTTP/1.x SSS reason"
        if (head.size() < 12 || head.substr(0, 7) != "HTTP/1." || head[8] != ' ')
            return HttpFailure::Protocol;
        const auto [p, error] = std::from_chars(head.data() + 9, head.data() + 12, answer.status);
        if (error != std::errc() || p != head.data() + 12 || answer.status < 100)
            return HttpFailure::Protocol;
        keepAlive = head[7] == '1';
        if (answer.status >= 200)
            break; // an interim answer is followed by the real one
    }

    bool chunked = false;
    bool sized = false;
    size_t length = 0;
    for (size_t at = head.find(kCrlf); at != std::string_view::npos;) {
        const size_t next = head.find(kCrlf, at + 2);
        const std::string_view field = head.substr(at + 2, next == std::string_view::npos ? next : next - at - 2);
        at = next;
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos)
            return HttpFailure::Protocol;
        const std::string_view name = trimmed(field.substr(0, colon));
        const std::string_view value = trimmed(field.substr(colon + 1));
        if (equalsNoCase(name, "Content-Length")) {
            size_t n = 0;
            const auto [p, error] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (error != std::errc() || p != value.data() + value.size() || value.empty() || (sized && n != length))
                return HttpFailure::Protocol;
            sized = true;
            length = n;
        } else if (equalsNoCase(name, "Transfer-Encoding")) {
            chunked = containsNoCase(value, "chunked");
        } else if (equalsNoCase(name, "Keep-Alive")) {
            // "timeout=5, max=100": past its timeout the server may close the connection at any moment
            const size_t at = value.find("timeout=");
            int seconds = 0;
            if (at != std::string_view::npos)
                std::from_chars(value.data() + at + 8, value.data() + value.size(), seconds);
            m_idleLimit = seconds > 0 ? std::chrono::steady_clock::duration(std::chrono::milliseconds(seconds * 1000 - 500))
                                       : std::chrono::steady_clock::duration::max();
        } else if (equalsNoCase(name, "Connection")) {
            if (containsNoCase(value, "close"))
                keepAlive = false;
            else if (containsNoCase(value, "keep-alive"))
                keepAlive = true;
        }
    }

    if (chunked)
        return readChunked(answer.body);
    if (sized)
        return readExactly(answer.body, length);
    if (answer.status == 204 || answer.status == 304)
        return HttpFailure::None;
    // no length: the body runs to the end of the connection
    keepAlive = false;
    answer.body.assign(m_buf, m_pos);
    m_pos = m_buf.size();
    for (char chunk[kReadChunk];;) {
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n == 0)
            return HttpFailure::None;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return socketFailure(errno, HttpFailure::Read);
        m_received.fetch_add(n, std::memory_order_relaxed);
        answer.body.append(chunk, size_t(n));
    }
}

} // namespace erp
