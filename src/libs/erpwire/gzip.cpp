#include "gzip.h"

#include <limits>
#include <string>

namespace erp::wire {

namespace {
constexpr int kGzipWindow = 15 + 16; // gzip header and trailer, not zlib's
}

GzipInflater::GzipInflater(std::size_t limit) : m_limit(limit)
{
    if (inflateInit2(&m_z, kGzipWindow) != Z_OK)
        throw GzipError("zlib: inflateInit2");
}

GzipInflater::~GzipInflater() { inflateEnd(&m_z); }

bool GzipInflater::feed(const char *data, std::size_t size, QByteArray &out)
{
    m_z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    m_z.avail_in = uInt(size);
    while (m_z.avail_in > 0 && !m_finished) {
        if (std::size_t(out.size()) >= m_limit)
            return false;
        const std::size_t room = std::min<std::size_t>(std::max<qsizetype>(out.size(), 1 << 16), m_limit - out.size());
        const qsizetype before = out.size();
        out.resize(before + qsizetype(room));
        m_z.next_out = reinterpret_cast<Bytef *>(out.data() + before);
        m_z.avail_out = uInt(room);
        const int rc = inflate(&m_z, Z_NO_FLUSH);
        out.resize(before + qsizetype(room - m_z.avail_out));
        if (rc == Z_STREAM_END)
            m_finished = true;
        else if (rc != Z_OK && rc != Z_BUF_ERROR)
            throw GzipError(m_z.msg ? m_z.msg : "gzip inválido");
    }
    if (m_finished && m_z.avail_in > 0)
        throw GzipError("dados após o fim do gzip");
    return true;
}

GzipDeflater::GzipDeflater()
{
    if (deflateInit2(&m_z, Z_BEST_SPEED, Z_DEFLATED, kGzipWindow, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw GzipError("zlib: deflateInit2");
}

GzipDeflater::~GzipDeflater() { deflateEnd(&m_z); }

void GzipDeflater::feed(const char *data, std::size_t size, bool last, std::string &out)
{
    deflateInto(data, size, last ? Z_FINISH : Z_SYNC_FLUSH, out);
}

void GzipDeflater::write(const char *data, std::size_t size, std::string &out)
{
    if (size > 0) // nothing to do is no progress, which zlib calls an error
        deflateInto(data, size, Z_NO_FLUSH, out);
}

void GzipDeflater::deflateInto(const char *data, std::size_t size, int flush, std::string &out)
{
    m_z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    m_z.avail_in = uInt(size);
    for (;;) {
        const std::size_t before = out.size();
        const std::size_t room = deflateBound(&m_z, m_z.avail_in) + 64;
        out.resize(before + room);
        m_z.next_out = reinterpret_cast<Bytef *>(out.data() + before);
        m_z.avail_out = uInt(room);
        const int rc = deflate(&m_z, flush);
        out.resize(before + room - m_z.avail_out);
        if (rc == Z_STREAM_END || (rc == Z_OK && m_z.avail_out > 0 && m_z.avail_in == 0 && flush != Z_FINISH))
            return;
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            throw GzipError("zlib: deflate");
    }
}

std::string gzipped(std::string_view data)
{
    std::string out;
    GzipDeflater().feed(data.data(), data.size(), true, out);
    return out;
}

std::string gunzipped(std::string_view data)
{
    GzipInflater inflater(std::numeric_limits<std::size_t>::max());
    QByteArray out;
    inflater.feed(data.data(), data.size(), out);
    if (!inflater.finished())
        throw GzipError("gzip incompleto");
    return out.toStdString();
}

} // namespace erp::wire
