#pragma once

#include <erpwire/erpwire_global.h>

#include <QByteArray>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <zlib.h>

namespace erp::wire {

class ERPWIRE_EXPORT GzipError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Inflates a gzip body piece by piece into `out`, never past `limit` bytes in all: a small body
// that inflates to gigabytes is refused as it grows, not after.
class ERPWIRE_EXPORT GzipInflater
{
public:
    explicit GzipInflater(std::size_t limit);
    ~GzipInflater();
    GzipInflater(const GzipInflater &) = delete;
    GzipInflater &operator=(const GzipInflater &) = delete;
    // False when the inflated size would pass the limit; throws GzipError for a corrupt stream.
    bool feed(const char *data, std::size_t size, QByteArray &out);
    // Whether the gzip stream came to its end (a body cut short did not).
    bool finished() const { return m_finished; }

private:
    z_stream m_z{};
    std::size_t m_limit;
    bool m_finished = false;
};

// Deflates an answer in gzip format piece by piece; each piece can be sent as it is.
class ERPWIRE_EXPORT GzipDeflater
{
public:
    GzipDeflater();
    ~GzipDeflater();
    GzipDeflater(const GzipDeflater &) = delete;
    GzipDeflater &operator=(const GzipDeflater &) = delete;
    // Appends to out what the input makes so far; `last` ends the stream.
    void feed(const char *data, std::size_t size, bool last, std::string &out);
    // The same without flushing: out gets only what the stream has ready, which packs better
    // where nobody waits on each piece (a request's body). feed with last ends it.
    void write(const char *data, std::size_t size, std::string &out);

private:
    void deflateInto(const char *data, std::size_t size, int flush, std::string &out);
    z_stream m_z{};
};

// A whole text in gzip at the fastest level (JSON packs well at any level; the CPU is better
// spent elsewhere), and back; gunzipped throws GzipError for a corrupt or cut-short stream.
ERPWIRE_EXPORT std::string gzipped(std::string_view data);
ERPWIRE_EXPORT std::string gunzipped(std::string_view data);

} // namespace erp::wire
