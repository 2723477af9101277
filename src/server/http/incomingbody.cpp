#include "incomingbody.h"

namespace erp::server {

bool IncomingBody::append(const char *data, std::size_t size)
{
    if (!m_bytes.append(data, size))
        return false;
    {
        const std::lock_guard lock(m_mutex);
        m_published = m_bytes.size();
    }
    m_changed.notify_one();
    return true;
}

void IncomingBody::end(bool whole)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_ended)
            return;
        m_ended = true;
        m_whole = whole;
    }
    m_changed.notify_one();
}

bool IncomingBody::more()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_ended || m_published > std::size_t(m_seen); });
    if ((m_ended && !m_whole) || m_published == std::size_t(m_seen))
        return false;
    m_seen = qsizetype(m_published);
    return true;
}

} // namespace erp::server
