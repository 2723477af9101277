#pragma once

#include <QDate>

#include <cstdint>
#include <string>
#include <string_view>

namespace erp::server {

void replaceAll(std::string &s, std::string_view from, std::string_view to);
// At most maxChars characters (code points) of UTF-8 text.
std::string truncateUtf8(const std::string &s, size_t maxChars);
size_t utf8Length(std::string_view s);
// Text that came from outside, fit for one log line: at most maxChars characters, control
// characters shown as '?' so that nobody can forge a line.
std::string printable(const std::string &s, size_t maxChars = 60);
// Stable across processes and machines: content signatures.
std::uint64_t fnv1a64(std::string_view s);
std::string hex64(std::uint64_t v);
// As the screens show money: 123456 -> "1.234,56".
std::string centsPtBr(std::int64_t cents);
// "YYYY-MM-DD", as the database keeps dates.
std::string isoDate(QDate d);

} // namespace erp::server
