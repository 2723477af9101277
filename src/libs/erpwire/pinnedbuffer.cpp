#include "pinnedbuffer.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include <sys/mman.h>
#include <unistd.h>

namespace erp::wire {

namespace {

constexpr std::size_t kCommitStep = std::size_t(4) << 20;

std::size_t pageSize()
{
    static const std::size_t size = std::size_t(::sysconf(_SC_PAGESIZE));
    return size;
}

// The space of a small buffer, kept for the next one (calls run on worker threads, so one for
// the process): most answers are small, and mapping space for each would cost more than reading it.
constexpr std::size_t kKeptCommitted = 1 << 20;
struct KeptSpace
{
    std::mutex mutex;
    char *data = nullptr;
    std::size_t committed = 0;
    ~KeptSpace()
    {
        if (data)
            ::munmap(data, PinnedBuffer::kDefaultLimit);
    }
};
KeptSpace g_kept;

} // namespace

PinnedBuffer::PinnedBuffer(std::size_t limit) : m_limit(limit) {}

PinnedBuffer::~PinnedBuffer()
{
    if (!m_data)
        return;
    if (m_limit == kDefaultLimit && m_committed <= kKeptCommitted) {
        const std::lock_guard lock(g_kept.mutex);
        if (!g_kept.data) {
            g_kept.data = m_data;
            g_kept.committed = m_committed;
            return;
        }
    }
    ::munmap(m_data, m_limit);
}

bool PinnedBuffer::reserveMore(std::size_t n)
{
    if (m_committed - m_size >= n)
        return true;
    if (n > m_limit - m_size)
        return false;
    if (!m_data && m_limit == kDefaultLimit) {
        const std::lock_guard lock(g_kept.mutex);
        m_data = std::exchange(g_kept.data, nullptr);
        m_committed = m_data ? g_kept.committed : 0;
    }
    if (m_committed - m_size >= n)
        return true;
    if (!m_data) {
        void *at = ::mmap(nullptr, m_limit, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (at == MAP_FAILED)
            throw std::bad_alloc();
        m_data = static_cast<char *>(at);
    }
    // small buffers double from a page; large ones grow by steps
    std::size_t want =
        std::max(m_size + n, std::min(std::max(m_committed * 2, pageSize()), m_committed + kCommitStep));
    want = std::min((want + pageSize() - 1) / pageSize() * pageSize(), m_limit);
    if (::mprotect(m_data + m_committed, want - m_committed, PROT_READ | PROT_WRITE) != 0)
        throw std::bad_alloc();
    m_committed = want;
    return true;
}

bool PinnedBuffer::append(const char *bytes, std::size_t n)
{
    if (!reserveMore(n))
        return false;
    std::memcpy(m_data + m_size, bytes, n);
    m_size += n;
    return true;
}

void PinnedBuffer::clear() { m_size = 0; }

} // namespace erp::wire
