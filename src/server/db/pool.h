#pragma once

#include "db.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace erp::server {

class ConnectionPool;

// A connection borrowed for one call; goes back to the pool unless discarded.
class Lease
{
public:
    Lease(ConnectionPool *pool, std::unique_ptr<db::Connection> c) : m_pool(pool), m_c(std::move(c)) {}
    Lease(Lease &&other) noexcept : m_pool(std::exchange(other.m_pool, nullptr)), m_c(std::move(other.m_c)) {}
    Lease &operator=(Lease &&) = delete;
    ~Lease();
    db::Connection &operator*() const { return *m_c; }
    db::Connection *operator->() const { return m_c.get(); }
    // After an unexpected failure the connection's state is unknown: close it.
    void discard() { m_c.reset(); }

private:
    ConnectionPool *m_pool;
    std::unique_ptr<db::Connection> m_c;
};

// At most `limit` connections lent at once, as many kept idle: a call beyond the limit waits
// for one to come back.
class ConnectionPool
{
public:
    ConnectionPool(db::DbUrl url, size_t limit) : m_url(std::move(url)), m_limit(limit) {}
    const db::DbUrl &url() const { return m_url; }
    Lease acquire();
    // SQLite: from now on the pool's connections leave their checkpoints to a thread of the pool.
    void startCheckpoints(std::function<void(const std::string &)> log);
    // The final checkpoint; the calls must be over.
    void stopCheckpoints();

private:
    friend class Lease;
    void release(std::unique_ptr<db::Connection> c); // c is null when its lease discarded it

    db::DbUrl m_url;
    size_t m_limit;
    size_t m_lent = 0;
    std::condition_variable m_returned;
    std::unique_ptr<db::WalCheckpointer> m_checkpointer;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<db::Connection>> m_idle;
};

} // namespace erp::server
