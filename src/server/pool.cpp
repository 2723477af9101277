#include "pool.h"

namespace erp::server {

Lease::~Lease()
{
    if (m_c && m_pool)
        m_pool->release(std::move(m_c));
}

Lease ConnectionPool::acquire()
{
    {
        std::lock_guard lock(m_mutex);
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
    auto c = db::connect(m_url);
    if (m_checkpointer)
        m_checkpointer->adopt(*c);
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
    if (c->inTransaction())
        return; // a call left it mid-transaction: do not hand that on
    std::lock_guard lock(m_mutex);
    if (m_idle.size() < m_keepIdle)
        m_idle.push_back(std::move(c));
}

} // namespace erp::server
