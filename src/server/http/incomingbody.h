#pragma once

#include <erpwire/json.h>
#include <erpwire/pinnedbuffer.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string_view>

namespace erp::server {

// A request's body read while it arrives: the connection's thread appends what comes, a reader
// on another thread reads what has come so far and waits for the rest.
class IncomingBody final : public wire::ByteStream
{
public:
    explicit IncomingBody(std::size_t limit) : m_bytes(limit) {}

    // The connection's side. append: false when the body would pass the limit.
    bool append(const char *data, std::size_t size);
    // No more bytes: the body is whole, or it will never be (then the reader's more() says so
    // at once, whatever it has not read yet).
    void end(bool whole);
    // Once ended whole, on any thread that the ending thread handed the body to.
    std::string_view all() const { return m_bytes.view(); }

    // The reader's side. The bytes never move once the first came, so only their count is
    // handed over.
    const char *data() const override { return m_bytes.data(); }
    qsizetype size() const override { return m_seen; }
    bool more() override;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    wire::PinnedBuffer m_bytes; // the connection's: the reader sees only what is published
    std::size_t m_published = 0;
    bool m_ended = false, m_whole = false;
    qsizetype m_seen = 0;
};

} // namespace erp::server
