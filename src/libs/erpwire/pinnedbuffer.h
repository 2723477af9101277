#pragma once

#include <erpwire/erpwire_global.h>

#include <cstddef>
#include <string_view>

namespace erp::wire {

// Bytes in one contiguous block that never moves while it grows, so that a reader may keep
// pointers into it while more arrive: the address space of the limit is reserved up front and
// its pages committed as the bytes come.
class ERPWIRE_EXPORT PinnedBuffer
{
public:
    static constexpr std::size_t kDefaultLimit = std::size_t(4) << 30;

    explicit PinnedBuffer(std::size_t limit = kDefaultLimit);
    ~PinnedBuffer();
    PinnedBuffer(const PinnedBuffer &) = delete;
    PinnedBuffer &operator=(const PinnedBuffer &) = delete;

    const char *data() const { return m_data; }
    std::size_t size() const { return m_size; }
    std::string_view view() const { return {m_data, m_size}; }

    // Room for at least n more bytes after size(); false when the bytes would pass the limit.
    bool reserveMore(std::size_t n);
    char *tail() { return m_data + m_size; }
    std::size_t room() const { return m_committed - m_size; }
    void grow(std::size_t n) { m_size += n; }
    bool append(const char *bytes, std::size_t n);
    void clear();

private:
    char *m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_committed = 0;
    std::size_t m_limit;
};

} // namespace erp::wire
