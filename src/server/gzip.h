#pragma once

#include <QByteArray>

#include <cstddef>
#include <stdexcept>
#include <zlib.h>

namespace erp::server {

class GzipError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Inflates a gzip body piece by piece into `out`, never past `limit` bytes in all: a small body
// that inflates to gigabytes is refused as it grows, not after.
class GzipInflater
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
class GzipDeflater
{
public:
    GzipDeflater();
    ~GzipDeflater();
    GzipDeflater(const GzipDeflater &) = delete;
    GzipDeflater &operator=(const GzipDeflater &) = delete;
    // Appends to out what the input makes so far; `last` ends the stream.
    void feed(const char *data, std::size_t size, bool last, std::string &out);

private:
    z_stream m_z{};
};

} // namespace erp::server
