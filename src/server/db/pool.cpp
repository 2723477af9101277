#include "pool.h"

namespace erp::server {

Lease::~Lease()
{
    if (m_pool)
        m_pool->release(std::move(m_c));
}

Lease ConnectionPool::acquire()
{
    {
        std::unique_lock lock(m_mutex);
        m_returned.wait(lock, [this] { return m_lent < m_limit; });
        ++m_lent;
        while (!m_idle.empty()) {
            auto c = std::move(m_idle.back());
            m_idle.pop_back();
            if (!c->broken()) {
                if (m_checkpointer)
                    m_checkpointer->adopt(*c);
                return Lease(this, std::move(c));
            }
        }
    }
    std::unique_ptr<db::Connection> c;
    try {
        c = db::connect(m_url);
        if (m_checkpointer)
            m_checkpointer->adopt(*c);
    } catch (...) {
        release(nullptr); // the place it took
        throw;
    }
    return Lease(this, std::move(c));
}

void ConnectionPool::startCheckpoints(std::function<void(const std::string &)> log)
{
    m_checkpointer = db::startWalCheckpointer(m_url, std::move(log));
}

void ConnectionPool::stopCheckpoints()
{
    if (m_checkpointer)
        m_checkpointer->stop();
}

void ConnectionPool::release(std::unique_ptr<db::Connection> c)
{
    {
        std::lock_guard lock(m_mutex);
        --m_lent;
        // one a call left mid-transaction is not handed on
        if (c && !c->inTransaction() && m_idle.size() < m_limit)
            m_idle.push_back(std::move(c));
    }
    m_returned.notify_one();
}

} // namespace erp::server
