#include "textutil.h"

#include <cstdio>

namespace erp::server {

void replaceAll(std::string &s, std::string_view from, std::string_view to)
{
    for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
}

size_t utf8Length(std::string_view s)
{
    size_t n = 0;
    for (unsigned char ch : s)
        n += (ch & 0xC0) != 0x80;
    return n;
}

std::string truncateUtf8(const std::string &s, size_t maxChars)
{
    size_t chars = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && chars++ == maxChars)
            return s.substr(0, i);
    }
    return s;
}

std::uint64_t fnv1a64(std::string_view s)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char ch : s) {
        h ^= ch;
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string hex64(std::uint64_t v)
{
    static const char digits[] = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, v >>= 4)
        out[size_t(i)] = digits[v & 15];
    return out;
}

std::string isoDate(QDate d)
{
    int y = 0, m = 0, day = 0;
    d.getDate(&y, &m, &day);
    if (y < 1 || y > 9999)
        return d.toString(Qt::ISODate).toStdString();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, day);
    return buf;
}

std::string printable(const std::string &s, size_t maxChars)
{
    std::string out = truncateUtf8(s, maxChars);
    for (char &ch : out)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            ch = '?';
    return out;
}

std::string centsPtBr(std::int64_t cents)
{
    const bool negative = cents < 0;
    const std::uint64_t abs = negative ? std::uint64_t(-(cents + 1)) + 1 : std::uint64_t(cents);
    const std::string whole = std::to_string(abs / 100);
    std::string s;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i && (whole.size() - i) % 3 == 0)
            s += '.';
        s += whole[i];
    }
    const unsigned frac = unsigned(abs % 100);
    s += ',';
    s += char('0' + frac / 10);
    s += char('0' + frac % 10);
    return negative ? "-" + s : s;
}

} // namespace erp::server
