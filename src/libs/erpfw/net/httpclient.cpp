#include "httpclient.h"

#include <erpwire/gzip.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace erp {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using boost::system::error_code;

namespace {

constexpr size_t kReadChunk = 256 * 1024;
constexpr std::uint32_t kMaxHeadBytes = 64 * 1024;
// Below this a compressed body saves less time than compressing it costs.
constexpr size_t kCompressFrom = 64 * 1024;
// The most of an answer looked at before it is read (answerArrived): short answers only.
constexpr int kPeekLimit = 64 * 1024;


// gzip in, bytes out into the body.
class Inflater
{
public:
    Inflater() { m_ok = inflateInit2(&m_z, 16 + MAX_WBITS) == Z_OK; }
    ~Inflater() { inflateEnd(&m_z); }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    bool write(wire::PinnedBuffer &body, const char *data, size_t size)
    {
        m_z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_z.avail_in = uInt(size);
        while (m_ok && m_z.avail_in > 0) {
            if (m_ended)
                return false; // bytes after the end of the gzip stream
            if (body.room() == 0 && !body.reserveMore(kReadChunk))
                return false;
            const size_t room = std::min<size_t>(body.room(), 1u << 30);
            m_z.next_out = reinterpret_cast<Bytef *>(body.tail());
            m_z.avail_out = uInt(room);
            const int rc = inflate(&m_z, Z_NO_FLUSH);
            body.grow(room - m_z.avail_out);
            if (rc == Z_STREAM_END)
                m_ended = true;
            else if (rc != Z_OK && rc != Z_BUF_ERROR)
                m_ok = false;
        }
        return m_ok;
    }
    bool finished() const { return m_ended; }

private:
    z_stream m_z{};
    bool m_ok = false;
    bool m_ended = false;
};


// Where the parser puts the body's bytes: straight into the answer's body, inflated on the way
// when the answer is gzip.
struct BodySink
{
    wire::PinnedBuffer *body = nullptr;
    std::optional<Inflater> inflater;
    bool failed = false;

    bool write(const char *data, size_t size)
    {
        if (!(inflater ? inflater->write(*body, data, size) : body->append(data, size)))
            failed = true;
        return !failed;
    }
};

struct SinkBody
{
    using value_type = BodySink *;

    class reader
    {
    public:
        template<bool isRequest, class Fields>
        reader(http::header<isRequest, Fields> &, value_type &sink) : m_sink(sink)
        {}
        void init(const boost::optional<std::uint64_t> &, error_code &ec) { ec = {}; }
        template<class Buffers>
        size_t put(const Buffers &buffers, error_code &ec)
        {
            size_t n = 0;
            for (const auto b : beast::buffers_range_ref(buffers)) {
                if (!m_sink->write(static_cast<const char *>(b.data()), b.size())) {
                    ec = http::error::body_limit;
                    return n;
                }
                n += b.size();
            }
            ec = {};
            return n;
        }
        void finish(error_code &ec) { ec = {}; }

    private:
        value_type &m_sink;
    };
};

using Parser = http::response_parser<SinkBody>;

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

std::string verifyFailure(long result, const std::string &host)
{
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return "o certificado do servidor está vencido";
    case X509_V_ERR_CERT_NOT_YET_VALID: return "o certificado do servidor ainda não é válido";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return "o certificado do servidor não é do host " + host;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_SIGNATURE_FAILURE: // an authority of that name, but not the one that signed it
        return "o certificado do servidor não foi emitido por uma autoridade certificadora confiável";
    case X509_V_ERR_CERT_REVOKED: return "o certificado do servidor foi revogado";
    default: return std::string("o certificado do servidor não pôde ser verificado (") + X509_verify_cert_error_string(result) + ")";
    }
}

} // namespace

// ---- HttpBodyBlocks

bool HttpBodyBlocks::push(QByteArray block)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_gaveUp)
            return false;
        m_blocks.push_back(std::move(block));
    }
    m_changed.notify_one();
    return true;
}

void HttpBodyBlocks::finish()
{
    {
        const std::lock_guard lock(m_mutex);
        m_state = State::Whole;
    }
    m_changed.notify_one();
}

void HttpBodyBlocks::abandon()
{
    {
        const std::lock_guard lock(m_mutex);
        m_state = State::Abandoned;
    }
    m_changed.notify_one();
}

bool HttpBodyBlocks::next(QByteArray &block)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_blocks.empty() || m_state != State::Writing; });
    if (m_blocks.empty() || m_state == State::Abandoned) {
        block.clear();
        return false;
    }
    block = std::move(m_blocks.front());
    m_blocks.pop_front();
    return true;
}

bool HttpBodyBlocks::whole() const
{
    const std::lock_guard lock(m_mutex);
    return m_state == State::Whole;
}

void HttpBodyBlocks::giveUp()
{
    const std::lock_guard lock(m_mutex);
    m_gaveUp = true;
    m_blocks.clear();
}

// ---- HttpClient

struct HttpClient::Impl : HttpBodyStream
{
    Impl(std::string host, int port, HttpOptions options)
        : host(std::move(host)), port(port), options(std::move(options))
    {}

    std::string host;
    int port;
    HttpOptions options;
    std::chrono::milliseconds timeout{30000};
    asio::io_context ioc{1};
    std::optional<ssl::context> tlsContext;
    std::optional<beast::tcp_stream> plain;
    std::optional<beast::ssl_stream<beast::tcp_stream>> secure;
    beast::flat_buffer buffer;
    std::chrono::steady_clock::time_point lastAnswer;
    std::chrono::steady_clock::duration idleLimit = std::chrono::steady_clock::duration::max();
    bool peerAcceptsGzip = false;
    bool lastCompressed = false;
    std::string detail;

    std::atomic<bool> cancelled{false};
    std::atomic<std::int64_t> received{0};

    // the answer being read
    std::optional<Parser> parser;
    size_t parsed = 0; // bytes of this answer the parser took
    BodySink sink;
    HttpFailure bodyFailure = HttpFailure::None;

    bool isOpen() const { return plain || secure; }
    beast::tcp_stream &lowest() { return secure ? secure->next_layer() : *plain; }

    void close()
    {
        secure.reset();
        plain.reset();
        idleLimit = std::chrono::steady_clock::duration::max();
        buffer.clear();
    }

    // Runs the operation started by start to its end on this thread.
    template<class Start>
    error_code run(Start start)
    {
        error_code result = asio::error::operation_aborted;
        start([&result](error_code ec, auto &&...) { result = ec; });
        ioc.restart();
        ioc.run();
        return result;
    }

    HttpFailure failed(error_code ec, HttpFailure otherwise) const
    {
        if (cancelled)
            return HttpFailure::Cancelled;
        return ec == beast::error::timeout ? HttpFailure::Timeout : otherwise;
    }

    bool ensureTlsContext()
    {
        if (tlsContext)
            return true;
        ssl::context context(ssl::context::tls_client);
        SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION);
        context.set_verify_mode(ssl::verify_peer);
        error_code ec;
        if (options.caFile.empty())
            context.set_default_verify_paths(ec);
        else
            context.load_verify_file(options.caFile, ec);
        if (ec) {
            detail = options.caFile.empty() ? "as autoridades certificadoras do sistema não puderam ser lidas"
                                            : "o arquivo de autoridades certificadoras " + options.caFile + " não pôde ser lido";
            return false;
        }
        tlsContext.emplace(std::move(context));
        return true;
    }

    HttpFailure connect()
    {
        detail.clear();
        if (options.tls && !ensureTlsContext())
            return HttpFailure::Tls;
        tcp::resolver resolver(ioc);
        error_code ec;
        const auto endpoints = resolver.resolve(host, std::to_string(port), ec);
        if (ec)
            return HttpFailure::Connect;
        if (options.tls)
            secure.emplace(ioc, *tlsContext);
        else
            plain.emplace(ioc);
        lowest().expires_after(timeout);
        ec = run([&](auto handler) { lowest().async_connect(endpoints, std::move(handler)); });
        if (ec) {
            close();
            return failed(ec, HttpFailure::Connect);
        }
        lowest().socket().set_option(tcp::no_delay(true), ec);
        if (!secure)
            return HttpFailure::None;

        SSL *ssl = secure->native_handle();
        asio::ip::make_address(host, ec);
        if (ec) { // a name: sent for the server to choose its certificate, and checked against it
            SSL_set_tlsext_host_name(ssl, host.c_str());
            SSL_set1_host(ssl, host.c_str());
        } else {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
        }
        lowest().expires_after(timeout);
        ec = run([&](auto handler) { secure->async_handshake(ssl::stream_base::client, std::move(handler)); });
        if (ec) {
            const long verified = SSL_get_verify_result(ssl);
            const HttpFailure f = failed(ec, HttpFailure::Tls);
            if (f == HttpFailure::Tls)
                detail = verified != X509_V_OK ? verifyFailure(verified, host)
                                               : "o servidor não estabeleceu uma conexão segura (" + ec.message() + ")";
            close();
            return f;
        }
        return HttpFailure::None;
    }

    template<class Buffers>
    HttpFailure write(const Buffers &parts)
    {
        if (cancelled)
            return HttpFailure::Cancelled;
        lowest().expires_after(timeout);
        const error_code ec = run([&](auto handler) {
            if (secure)
                asio::async_write(*secure, parts, std::move(handler));
            else
                asio::async_write(*plain, parts, std::move(handler));
        });
        return ec ? failed(ec, HttpFailure::Write) : HttpFailure::None;
    }

    HttpFailure send(std::string_view head, std::string_view body)
    {
        // Given as a two-element array, a head and a large body written to the TLS stream reached
        // the server as the head alone on a quiet machine; a vector takes the general path.
        return write(std::vector<asio::const_buffer>{asio::buffer(head.data(), head.size()), asio::buffer(body.data(), body.size())});
    }

    // One chunk of a chunked body (none when piece is empty: that would end it), after what
    // is left of the head; last ends the body.
    HttpFailure sendChunk(std::string_view head, std::string_view piece, bool last)
    {
        std::array<char, 24> sizeLine{};
        char *end = std::to_chars(sizeLine.data(), sizeLine.data() + 16, piece.size(), 16).ptr;
        *end++ = '\r';
        *end++ = '\n';
        std::array<asio::const_buffer, 5> parts;
        size_t n = 0;
        if (!head.empty())
            parts[n++] = asio::buffer(head.data(), head.size());
        if (!piece.empty()) {
            parts[n++] = asio::buffer(sizeLine.data(), size_t(end - sizeLine.data()));
            parts[n++] = asio::buffer(piece.data(), piece.size());
            parts[n++] = asio::buffer("\r\n", 2);
        }
        if (last)
            parts[n++] = asio::buffer("0\r\n\r\n", 5);
        return n == 0 ? HttpFailure::None : write(std::vector<asio::const_buffer>(parts.begin(), parts.begin() + n));
    }

    std::string requestHead(std::string_view method, std::string_view path, std::string_view headers, bool gzip) const
    {
        std::string head;
        head.reserve(192 + path.size() + headers.size());
        head.append(method).append(" ").append(path).append(" HTTP/1.1\r\nHost: ");
        if (host.find(':') != std::string::npos)
            head.append("[").append(host).append("]");
        else
            head.append(host);
        head.append(":").append(std::to_string(port)).append("\r\n").append(headers);
        if (options.compress)
            head.append("Accept-Encoding: gzip\r\n");
        if (gzip)
            head.append("Content-Encoding: gzip\r\n");
        return head;
    }

    // One wait for the peer; what arrived is appended to buffer.
    HttpFailure readSome(bool &eof)
    {
        eof = false;
        const auto room = buffer.prepare(kReadChunk);
        lowest().expires_after(timeout);
        size_t got = 0;
        error_code ec = asio::error::operation_aborted;
        const auto done = [&](error_code e, size_t n) {
            ec = e;
            got = n;
        };
        if (secure)
            secure->async_read_some(room, done);
        else
            plain->async_read_some(room, done);
        ioc.restart();
        ioc.run();
        buffer.commit(got);
        received.fetch_add(std::int64_t(got), std::memory_order_relaxed);
        if (ec == asio::error::eof || ec == ssl::error::stream_truncated) {
            eof = true;
            return cancelled ? HttpFailure::Cancelled : HttpFailure::None;
        }
        return ec ? failed(ec, HttpFailure::Read) : HttpFailure::None;
    }

    // Feeds what is buffered to the parser, reading when it needs more; stops once it made
    // progress (stop(): head done, body grown, or the answer's end).
    template<class Stop>
    HttpFailure parseUntil(Stop stop)
    {
        for (;;) {
            if (cancelled)
                return HttpFailure::Cancelled;
            error_code ec;
            if (buffer.size() > 0) {
                const size_t used = parser->put(buffer.data(), ec);
                buffer.consume(used);
                parsed += used;
                if (sink.failed)
                    return HttpFailure::Protocol;
                if (ec && ec != http::error::need_more)
                    return HttpFailure::Protocol;
                if (stop() || parser->is_done())
                    return HttpFailure::None;
                if (!ec && used > 0)
                    continue; // a structured element done, more in the buffer
            }
            if (parsed == 0) {
                // the answer must start as HTTP/1.x does: anything else will not become so later
                const std::string_view start(static_cast<const char *>(buffer.data().data()), std::min<size_t>(buffer.size(), 7));
                if (start != std::string_view("HTTP/1.").substr(0, start.size()))
                    return HttpFailure::Protocol;
            }
            bool eof = false;
            if (const HttpFailure f = readSome(eof); f != HttpFailure::None)
                return f;
            if (eof) {
                if (!parser->got_some() && buffer.size() == 0)
                    return HttpFailure::Read;
                parser->put_eof(ec);
                if (ec)
                    return ec == http::error::partial_message ? HttpFailure::Read : HttpFailure::Protocol;
                return HttpFailure::None;
            }
        }
    }

    HttpFailure readHead(HttpAnswer &answer, bool &keepAlive)
    {
        for (;;) {
            parser.emplace();
            parsed = 0;
            parser->header_limit(kMaxHeadBytes);
            parser->body_limit(boost::none);
            sink.body = &answer.body;
            sink.inflater.reset();
            sink.failed = false;
            parser->get().body() = &sink;
            if (const HttpFailure f = parseUntil([this] { return parser->is_header_done(); }); f != HttpFailure::None)
                return f;
            if (!parser->is_header_done())
                return HttpFailure::Read;
            answer.status = int(parser->get().result_int());
            if (answer.status >= 200)
                break; // an interim answer is followed by the real one
        }
        const auto &head = parser->get();
        keepAlive = head.keep_alive();
        if (const auto it = head.find("Keep-Alive"); it != head.end()) {
            // "timeout=5, max=100": past its timeout the server may close the connection at any moment
            const std::string_view value = it->value();
            const size_t at = value.find("timeout=");
            int seconds = 0;
            if (at != std::string_view::npos)
                std::from_chars(value.data() + at + 8, value.data() + value.size(), seconds);
            idleLimit = seconds > 0 ? std::chrono::steady_clock::duration(std::chrono::milliseconds(seconds * 1000 - 500))
                                    : std::chrono::steady_clock::duration::max();
        }
        if (const auto it = head.find(http::field::accept_encoding); it != head.end())
            peerAcceptsGzip = containsNoCase(it->value(), "gzip");
        if (const auto it = head.find(http::field::content_encoding); it != head.end()) {
            const std::string_view coding = it->value();
            if (equalsNoCase(coding, "gzip"))
                sink.inflater.emplace();
            else if (!coding.empty() && !equalsNoCase(coding, "identity"))
                return HttpFailure::Protocol;
        }
        parser->eager(true);
        return HttpFailure::None;
    }

    // HttpBodyStream
    const wire::PinnedBuffer &body() const override { return *sink.body; }
    bool more() override
    {
        if (bodyFailure != HttpFailure::None || parser->is_done())
            return false;
        const size_t before = sink.body->size();
        bodyFailure = parseUntil([&] { return sink.body->size() > before; });
        if (bodyFailure == HttpFailure::None && parser->is_done() && sink.inflater && !sink.inflater->finished())
            bodyFailure = HttpFailure::Protocol; // the gzip stream was cut short
        return bodyFailure == HttpFailure::None && sink.body->size() > before;
    }

    HttpFailure readAnswer(HttpAnswer &answer, bool &keepAlive, const HttpBodyReader &reader)
    {
        bodyFailure = readHead(answer, keepAlive);
        if (bodyFailure != HttpFailure::None)
            return bodyFailure;
        if (reader)
            reader(answer.status, *this);
        while (more()) {
        }
        if (bodyFailure == HttpFailure::None && parser->need_eof())
            keepAlive = false;
        return bodyFailure;
    }
};

HttpClient::HttpClient(std::string host, int port, HttpOptions options)
    : d(std::make_unique<Impl>(std::move(host), port, std::move(options)))
{}

HttpClient::~HttpClient() = default;

void HttpClient::setTimeoutMs(int ms)
{
    d->timeout = std::chrono::milliseconds(std::max(ms, 1));
}

void HttpClient::disconnect()
{
    d->close();
}

void HttpClient::cancel()
{
    d->cancelled = true;
    // runs on the thread of the exchange, inside its wait: the pending operation ends at once
    asio::post(d->ioc, [impl = d.get()] {
        if (impl->isOpen())
            impl->lowest().close();
    });
}

std::int64_t HttpClient::receivedBytes() const
{
    return d->received.load(std::memory_order_relaxed);
}

std::string HttpClient::failureDetail() const
{
    return d->detail;
}

bool HttpClient::lastRequestCompressed() const
{
    return d->lastCompressed;
}

bool HttpClient::readyToSend()
{
    Impl &c = *d;
    // Readable while idle means the server closed it (or sent what nobody asked for); near the end
    // of the idle time the server announced, it may be closing it as the request goes out.
    if (c.isOpen()) {
        pollfd p{c.lowest().socket().native_handle(), POLLIN, 0};
        if (::poll(&p, 1, 0) != 0 || std::chrono::steady_clock::now() - c.lastAnswer >= c.idleLimit)
            c.close();
    }
    return c.isOpen() && !c.cancelled;
}

HttpFailure HttpClient::beginRequest()
{
    Impl &c = *d;
    if (c.cancelled) {
        c.close();
        return HttpFailure::Cancelled;
    }
    if (!readyToSend())
        return c.connect();
    return HttpFailure::None;
}

HttpFailure HttpClient::sendRequest(std::string_view method, std::string_view path, std::string_view headers,
                                    std::string_view body)
{
    Impl &c = *d;
    if (const HttpFailure f = beginRequest(); f != HttpFailure::None)
        return f;

    std::optional<std::string> compressed;
    if (c.options.compress && c.peerAcceptsGzip && body.size() > kCompressFrom)
        compressed = wire::gzipped(body);
    c.lastCompressed = compressed.has_value();
    const std::string_view sent = compressed ? std::string_view(*compressed) : body;

    std::string head = c.requestHead(method, path, headers, c.lastCompressed);
    if (!sent.empty() || method == "POST")
        head.append("Content-Length: ").append(std::to_string(sent.size())).append("\r\n");
    head.append("\r\n");

    const HttpFailure f = c.send(head, sent);
    if (f != HttpFailure::None) {
        c.close();
        c.lastAnswer = std::chrono::steady_clock::now();
    }
    return f;
}

HttpFailure HttpClient::sendRequest(std::string_view method, std::string_view path, std::string_view headers,
                                    HttpBodyBlocks &body)
{
    Impl &c = *d;
    struct GiveUp
    {
        HttpBodyBlocks &body;
        ~GiveUp() { body.giveUp(); }
    } giveUp{body};
    HttpFailure f = beginRequest();
    if (f != HttpFailure::None)
        return f;

    std::optional<wire::GzipDeflater> deflater;
    if (c.options.compress && c.peerAcceptsGzip)
        deflater.emplace();
    c.lastCompressed = deflater.has_value();
    std::string head = c.requestHead(method, path, headers, c.lastCompressed);
    head.append("Transfer-Encoding: chunked\r\n\r\n");

    QByteArray block;
    std::string packed;
    for (bool more = true; more && f == HttpFailure::None;) {
        more = body.next(block);
        if (!more && !body.whole()) {
            f = HttpFailure::Write; // the writer failed: the server must not see the body's end
            break;
        }
        std::string_view piece(block.constData(), size_t(block.size()));
        if (deflater) {
            packed.clear();
            if (more)
                deflater->write(piece.data(), piece.size(), packed);
            else
                deflater->feed(nullptr, 0, true, packed);
            piece = packed;
        }
        f = c.sendChunk(head, piece, !more);
        head.clear();
    }
    if (f != HttpFailure::None) {
        c.close();
        c.lastAnswer = std::chrono::steady_clock::now();
    }
    return f;
}

bool HttpClient::answerArrived(int waitMs)
{
    Impl &c = *d;
    // TLS bytes cannot be looked at before they are decrypted
    if (!c.plain || c.buffer.size() != 0)
        return false;
    const int fd = c.plain->socket().native_handle();
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0)
        return false;
    int available = 0;
    if (::ioctl(fd, FIONREAD, &available) != 0 || available <= 0 || available > kPeekLimit)
        return false;
    std::string bytes(size_t(available), '\0');
    const ssize_t got = ::recv(fd, bytes.data(), bytes.size(), MSG_PEEK);
    if (got <= 0)
        return false;
    http::response_parser<http::string_body> whole;
    whole.eager(true);
    error_code ec;
    size_t used = 0;
    while (!ec && !whole.is_done() && used < size_t(got))
        used += whole.put(asio::buffer(bytes.data() + used, size_t(got) - used), ec);
    return !ec && whole.is_done();
}

HttpFailure HttpClient::readAnswer(HttpAnswer &answer, const HttpBodyReader &reader)
{
    Impl &c = *d;
    answer.status = 0;
    answer.body.clear();
    struct Done
    {
        Impl &c;
        ~Done() { c.parser.reset(); }
    } done{c};
    bool keepAlive = false;
    HttpFailure f;
    try {
        f = c.readAnswer(answer, keepAlive, reader);
    } catch (...) {
        c.close();
        throw;
    }
    if (f != HttpFailure::None || !keepAlive || c.buffer.size() != 0)
        c.close(); // out of step with the server: the next exchange starts afresh
    c.lastAnswer = std::chrono::steady_clock::now();
    return f;
}

HttpFailure HttpClient::exchange(std::string_view method, std::string_view path, std::string_view headers,
                                 std::string_view body, HttpAnswer &answer, const std::function<void()> &whileWaiting,
                                 const HttpBodyReader &reader)
{
    answer.status = 0;
    answer.body.clear();
    if (const HttpFailure f = sendRequest(method, path, headers, body); f != HttpFailure::None)
        return f;
    if (whileWaiting) {
        try {
            whileWaiting();
        } catch (...) {
            d->close(); // its answer will not be read
            throw;
        }
    }
    return readAnswer(answer, reader);
}

bool isLoopbackHost(std::string_view host)
{
    if (equalsNoCase(host, "localhost"))
        return true;
    error_code ec;
    const auto address = asio::ip::make_address(std::string(host), ec);
    return !ec && address.is_loopback();
}

} // namespace erp
