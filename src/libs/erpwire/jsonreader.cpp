// A JSON-RPC reply read straight from its bytes: no JSON tree, a text cell copied once into its
// packet column. It takes only the usual shape; whatever it is not sure to read exactly as the
// tree path does (errors, escapes of surrogates, odd numbers, repeated keys...) it leaves to it.
#include "json.h"
#include "textscan.h"

#include <array>
#include <atomic>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace erp::wire {

namespace {

struct Unsure
{};

constexpr int kMaxDepth = 500;

// Bytes a JSON string carries as they are, one UTF-16 unit each: printable ASCII but the quote
// and the backslash.
constexpr auto kPlainAscii = [] {
    std::array<bool, 256> t{};
    for (int c = 0x20; c < 0x80; ++c)
        t[size_t(c)] = c != '"' && c != '\\';
    return t;
}();

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

int twoDigits(const char *t)
{
    return t[0] >= '0' && t[0] <= '9' && t[1] >= '0' && t[1] <= '9' ? (t[0] - '0') * 10 + (t[1] - '0') : -1;
}

// "YYYY-MM-DD", or "YYYY-MM-DDThh:mm:ss" (a date field: "T00:00:00" only), as a packet keeps it:
// days for a date, seconds for a date-time. Nothing for any other text, which parseDate and
// parseDateTime then refuse with their reasons.
std::optional<qint64> stampOf(const char *t, qsizetype n, FieldType type)
{
    if ((n != 10 && n != 19) || t[4] != '-' || t[7] != '-')
        return std::nullopt;
    const int hi = twoDigits(t), lo = twoDigits(t + 2), m = twoDigits(t + 5), d = twoDigits(t + 8);
    const int y = hi * 100 + lo;
    if (hi < 0 || lo < 0 || y <= 0 || !QDate::isValid(y, m, d))
        return std::nullopt;
    int seconds = 0;
    if (n == 19) {
        const int h = twoDigits(t + 11), mi = twoDigits(t + 14), s = twoDigits(t + 17);
        if (t[10] != 'T' || t[13] != ':' || t[16] != ':' || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
            return std::nullopt;
        seconds = h * 3600 + mi * 60 + s;
        if (type == FieldType::Date && seconds != 0)
            return std::nullopt;
    }
    constexpr qint64 kEpochJulianDay = 2440588; // 1970-01-01
    const qint64 days = QDate(y, m, d).toJulianDay() - kEpochJulianDay;
    return type == FieldType::Date ? days : days * 86400 + seconds;
}

class Reader
{
public:
    Reader(const char *data, qsizetype size)
        : p(data)
        , end(data + size)
    {}
    // Over bytes that arrive while it reads: they never move, and more come when it runs out.
    Reader(ByteStream &in, std::atomic<qint64> *rowsRead)
        : p(in.data())
        , end(in.data() + in.size())
        , m_in(&in)
        , m_rowsRead(rowsRead)
    {}

    struct Str
    {
        const char *begin;
        const char *stop;
        bool escaped;
        qsizetype units; // UTF-16 code units, as the fields' sizes count
        bool is(const char *word) const
        {
            const size_t n = std::strlen(word);
            return !escaped && size_t(stop - begin) == n && std::memcmp(begin, word, n) == 0;
        }
    };

    // More bytes after end, from the stream; false at its end.
    bool fill()
    {
        if (!m_in || !m_in->more())
            return false;
        end = m_in->data() + m_in->size();
        return true;
    }
    bool avail() { return p < end || fill(); }
    // At least n bytes from p on.
    bool need(qsizetype n)
    {
        while (end - p < n)
            if (!fill())
                return false;
        return true;
    }

    void ws()
    {
        for (;;) {
            while (p < end && (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t'))
                ++p;
            if (p < end || !fill())
                return;
        }
    }
    bool take(char c)
    {
        ws();
        if (p < end && *p == c) {
            ++p;
            return true;
        }
        return false;
    }
    void expect(char c)
    {
        if (!take(c))
            throw Unsure{};
    }
    char peek()
    {
        ws();
        if (p >= end)
            throw Unsure{};
        return *p;
    }
    bool word(const char *w, size_t n)
    {
        ws();
        if (need(qsizetype(n)) && std::memcmp(p, w, n) == 0) {
            p += n;
            return true;
        }
        return false;
    }
    bool atEnd()
    {
        ws();
        return p == end;
    }

    Str string()
    {
        expect('"');
        Str s{p, nullptr, false, 0};
        for (;;) {
            // Most text is plain ASCII: a run of it is passed over in one tight loop.
            const char *q = skipPlainText<true>(p, end);
            // the last bytes of the buffer; at a byte that ends the run it stops at once
            while (q < end && kPlainAscii[static_cast<unsigned char>(*q)])
                ++q;
            s.units += q - p;
            p = q;
            if (!avail())
                throw Unsure{};
            const auto c = static_cast<unsigned char>(*p);
            if (c == '"') {
                s.stop = p++;
                return s;
            }
            if (c == '\\') {
                s.escaped = true;
                if (!need(2))
                    throw Unsure{};
                const char e = p[1];
                p += 2;
                if (e == 'u') {
                    need(4);
                    const int v = hex4(p, end);
                    if (v < 0 || (v >= 0xD800 && v <= 0xDFFF))
                        throw Unsure{};
                    p += 4;
                } else if (!std::strchr("\"\\/bfnrt", e) || e == 0) {
                    throw Unsure{};
                }
                ++s.units;
            } else if (c < 0x20) {
                throw Unsure{};
            } else if (c < 0x80) {
                ++p;
                ++s.units;
            } else {
                const char32_t cp = utf8();
                s.units += cp >= 0x10000 ? 2 : 1;
            }
        }
    }

    // The text of an escaped string, as UTF-8.
    static void unescape(const Str &s, QByteArray &out)
    {
        out.clear();
        for (const char *q = s.begin; q < s.stop;) {
            if (*q != '\\') {
                const char *run = q;
                while (q < s.stop && *q != '\\')
                    ++q;
                out.append(run, q - run);
                continue;
            }
            const char e = q[1];
            q += 2;
            switch (e) {
            case 'b': out.append('\b'); break;
            case 'f': out.append('\f'); break;
            case 'n': out.append('\n'); break;
            case 'r': out.append('\r'); break;
            case 't': out.append('\t'); break;
            case 'u': {
                const int v = hex4(q, s.stop);
                q += 4;
                if (v < 0x80) {
                    out.append(char(v));
                } else if (v < 0x800) {
                    out.append(char(0xC0 | (v >> 6))).append(char(0x80 | (v & 0x3F)));
                } else {
                    out.append(char(0xE0 | (v >> 12))).append(char(0x80 | ((v >> 6) & 0x3F))).append(char(0x80 | (v & 0x3F)));
                }
                break;
            }
            default: out.append(e);
            }
        }
    }

    double number()
    {
        ws();
        const char *s = p;
        if (avail() && *p == '-')
            ++p;
        if (avail() && *p == '0')
            ++p;
        else if (!digits())
            throw Unsure{};
        bool integral = true;
        if (avail() && *p == '.') {
            integral = false;
            ++p;
            if (!digits())
                throw Unsure{};
        }
        if (avail() && (*p == 'e' || *p == 'E')) {
            integral = false;
            ++p;
            if (avail() && (*p == '+' || *p == '-'))
                ++p;
            if (!digits())
                throw Unsure{};
        }
        if (const char *q = s; p - s <= 16) {
            // up to 15 digits and no exponent: the digits and a power of ten are exact doubles,
            // so their quotient is the nearest double, as from_chars would read it
            const bool negative = *q == '-';
            q += negative;
            std::uint64_t digitsValue = 0;
            int decimals = -1, count = 0;
            for (; q < p; ++q) {
                if (*q == '.') {
                    decimals = 0;
                    continue;
                }
                if (*q < '0' || *q > '9')
                    break;
                digitsValue = digitsValue * 10 + std::uint64_t(*q - '0');
                ++count;
                decimals += decimals >= 0;
            }
            if (q == p && count <= 15) {
                if (digitsValue == 0)
                    return 0.0; // "-0" and "0.00" are the integer 0
                const double v = double(digitsValue) / kPowersOfTen[decimals < 0 ? 0 : decimals];
                return negative ? -v : v;
            }
        }
        if (integral) {
            long long n = 0;
            const auto r = std::from_chars(s, p, n);
            if (r.ec == std::errc() && r.ptr == p)
                return double(n); // "-0" is the integer 0
        }
        double d = 0;
        const auto r = std::from_chars(s, p, d);
        if (r.ec != std::errc() || r.ptr != p || !std::isfinite(d) || (d != 0 && std::fabs(d) < DBL_MIN))
            throw Unsure{};
        if (d == 0) {
            // an underflow to zero is refused by the tree path; a plain zero is an integer there
            for (const char *q = s; q < p && *q != 'e' && *q != 'E'; ++q)
                if (*q >= '1' && *q <= '9')
                    throw Unsure{};
            return 0.0;
        }
        return d;
    }

    // Any value, only checked.
    void skip(int depth = 0)
    {
        if (depth > kMaxDepth)
            throw Unsure{};
        switch (peek()) {
        case '"': string(); return;
        case '[':
            ++p;
            if (take(']'))
                return;
            do
                skip(depth + 1);
            while (take(','));
            expect(']');
            return;
        case '{':
            ++p;
            if (take('}'))
                return;
            do {
                string();
                expect(':');
                skip(depth + 1);
            } while (take(','));
            expect('}');
            return;
        default:
            if (word("true", 4) || word("false", 5) || word("null", 4))
                return;
            number();
        }
    }

    // decodeValue's kinds: QString, double, bool, null, QVariantList, Packet.
    QVariant value(int depth = 0)
    {
        if (depth > kMaxDepth)
            throw Unsure{};
        switch (peek()) {
        case '"': {
            const Str s = string();
            if (!s.escaped)
                return QString::fromUtf8(s.begin, s.stop - s.begin);
            unescape(s, m_text);
            return QString::fromUtf8(m_text);
        }
        case '[': {
            ++p;
            QVariantList list;
            if (take(']'))
                return list;
            do
                list.append(value(depth + 1));
            while (take(','));
            expect(']');
            return list;
        }
        case '{': return QVariant::fromValue(packet());
        default:
            if (word("true", 4))
                return true;
            if (word("false", 5))
                return false;
            if (word("null", 4))
                return {};
            return number();
        }
    }

    const char *p;
    const char *end;

private:
    bool digits()
    {
        const char *s = p;
        while (avail() && *p >= '0' && *p <= '9')
            ++p;
        return p != s;
    }

    static int hex4(const char *q, const char *end)
    {
        if (end - q < 4)
            return -1;
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = q[i];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= c - '0';
            else if (c >= 'a' && c <= 'f')
                v |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                v |= c - 'A' + 10;
            else
                return -1;
        }
        return v;
    }

    // One well-formed UTF-8 character that is not a noncharacter; p moves past it.
    char32_t utf8()
    {
        need(4); // the longest character; fewer at the end of the stream are checked below
        const auto *q = reinterpret_cast<const unsigned char *>(p);
        const auto *e = reinterpret_cast<const unsigned char *>(end);
        const unsigned char c = q[0];
        int n = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
            if (c == 0xE0)
                lo = 0xA0;
            if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
            if (c == 0xF0)
                lo = 0x90;
            if (c == 0xF4)
                hi = 0x8F;
        } else {
            throw Unsure{};
        }
        if (e - q <= n)
            throw Unsure{};
        for (int i = 1; i <= n; ++i) {
            const unsigned char t = q[i];
            if (t < (i == 1 ? lo : 0x80) || t > (i == 1 ? hi : 0xBF))
                throw Unsure{};
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE)
            throw Unsure{};
        p += n + 1;
        return cp;
    }

    static bool sameAscii(const QString &name, const Str &v)
    {
        const qsizetype n = v.stop - v.begin;
        if (name.size() != n)
            return false;
        for (qsizetype i = 0; i < n; ++i) {
            const auto c = static_cast<unsigned char>(v.begin[i]);
            if (c >= 0x80 || name[i].unicode() != c)
                return false;
        }
        return true;
    }

    // A screen asks for the same fields call after call: the list read last on this thread is
    // shared again when its text comes again (a whole array: its bytes decide where it ends),
    // and an equal list in other words keeps the names decoded before.
    QList<FieldDef> fieldDefs()
    {
        thread_local std::string lastText;
        thread_local QList<FieldDef> last;
        ws();
        if (!lastText.empty() && need(qsizetype(lastText.size()))
            && std::memcmp(p, lastText.data(), lastText.size()) == 0) {
            p += lastText.size();
            return last;
        }
        const char *from = p;
        expect('[');
        struct Def
        {
            Str name;
            FieldType type;
            int size;
        };
        std::vector<Def> read;
        if (take(']')) {
            lastText.clear();
            return {};
        }
        do {
            expect('{');
            Str name{nullptr, nullptr, false, 0};
            std::optional<FieldType> type;
            double size = -1;
            bool seen[3] = {};
            if (!take('}')) {
                do {
                    const Str k = string();
                    expect(':');
                    const int which = k.is("name") ? 0 : k.is("type") ? 1 : k.is("size") ? 2 : -1;
                    if (k.escaped || (which >= 0 && seen[which]))
                        throw Unsure{};
                    if (which >= 0)
                        seen[which] = true;
                    if (which == 0 && peek() == '"') {
                        name = string();
                        if (name.escaped)
                            throw Unsure{};
                    } else if (which == 1 && peek() == '"') {
                        const Str v = string();
                        if (v.escaped)
                            throw Unsure{};
                        type = fieldTypeFromName(QLatin1String(v.begin, v.stop - v.begin)); // other bytes match none
                    } else if (which == 2 && peek() != '"' && peek() != '[' && peek() != '{' && peek() != 't'
                               && peek() != 'f' && peek() != 'n') {
                        size = number();
                    } else {
                        skip();
                    }
                } while (take(','));
                expect('}');
            }
            if (name.begin == name.stop || !type)
                throw Unsure{};
            Def f{name, *type, 0};
            if (isStringType(*type)) {
                if (size < 1 || size > 1e9 || size != std::floor(size))
                    throw Unsure{};
                f.size = int(size);
            }
            read.push_back(f);
        } while (take(','));
        expect(']');
        lastText.assign(from, size_t(p - from));
        bool same = qsizetype(read.size()) == last.size();
        for (size_t i = 0; same && i < read.size(); ++i) {
            const FieldDef &l = last[qsizetype(i)];
            same = l.type == read[i].type && l.size == read[i].size && sameAscii(l.name, read[i].name);
        }
        if (same)
            return last;
        QList<FieldDef> defs;
        defs.reserve(qsizetype(read.size()));
        for (size_t i = 0; i < read.size(); ++i) {
            const Def &r = read[i];
            const bool known = qsizetype(i) < last.size() && sameAscii(last[qsizetype(i)].name, r.name);
            defs.append({known ? last[qsizetype(i)].name : QString::fromUtf8(r.name.begin, r.name.stop - r.name.begin),
                         r.type, r.size});
        }
        last = defs;
        return defs;
    }

    // One cell of the row being filled, appended to its column.
    void cell(Packet &packet, int row, int col, FieldType type, int size)
    {
        // whatever else starts with n is refused below by every type
        if (peek() == 'n' && word("null", 4))
            return packet.appendNull(col);
        switch (type) {
        case FieldType::String:
        case FieldType::FixedString: {
            if (*p != '"')
                throw Unsure{};
            const Str s = string();
            if (s.units > size)
                throw Unsure{};
            if (s.escaped) {
                unescape(s, m_text);
                packet.appendUtf8(col, m_text.constData(), m_text.size());
            } else {
                packet.appendUtf8(col, s.begin, s.stop - s.begin);
            }
            return;
        }
        case FieldType::Float:
        case FieldType::Integer: {
            const char c = peek();
            if (c != '-' && (c < '0' || c > '9'))
                throw Unsure{};
            return packet.appendNumber(col, number());
        }
        case FieldType::Boolean:
            if (word("true", 4))
                return packet.appendBoolean(col, true);
            if (word("false", 5))
                return packet.appendBoolean(col, false);
            throw Unsure{};
        case FieldType::Date:
        case FieldType::DateTime: {
            if (peek() != '"')
                throw Unsure{};
            const Str s = string();
            const qsizetype n = s.stop - s.begin;
            if (s.escaped || n > 19)
                throw Unsure{};
            if (const auto stamp = stampOf(s.begin, n, type))
                return packet.appendStamp(col, *stamp);
            // not a date as the server writes them: the parse says what is wrong with it
            char16_t buf[19];
            for (qsizetype i = 0; i < n; ++i)
                buf[i] = static_cast<unsigned char>(s.begin[i]); // ASCII, or the parse refuses it
            const QStringView text(buf, n);
            packet.appendNull(col);
            if (type == FieldType::Date)
                packet.setDate(row, col, parseDate(text));
            else
                packet.setDateTime(row, col, parseDateTime(text));
            return;
        }
        }
    }

    void rows(Packet &packet)
    {
        expect('[');
        if (take(']'))
            return;
        std::vector<std::pair<FieldType, int>> layout;
        for (const FieldDef &f : packet.fields())
            layout.emplace_back(f.type, f.size);
        const int nf = int(layout.size());
        const char *first = p;
        constexpr int kSample = 256;
        do {
            expect('[');
            const int row = packet.beginRow();
            for (int c = 0; c < nf; ++c) {
                if (c)
                    expect(',');
                cell(packet, row, c, layout[size_t(c)].first, layout[size_t(c)].second);
            }
            expect(']');
            if (m_rowsRead)
                m_rowsRead->store(row + 1, std::memory_order_relaxed);
            if (row + 1 == kSample && !m_in && end - p > (1 << 20)) {
                // room for the rest, guessed from the first rows, so that a long list neither
                // doubles its columns nor copies them on the way
                const double perRow = double(p - first) / kSample;
                packet.reserveScaled((kSample + double(end - p) / perRow) * 1.02 / kSample);
            }
        } while (take(','));
        expect(']');
    }

public:
    // Only "fields" then "rows", each once; any other key is passed over as the tree path does.
    Packet packet()
    {
        expect('{');
        std::optional<Packet> packet;
        bool haveRows = false;
        if (take('}'))
            throw Unsure{};
        do {
            const Str k = string();
            expect(':');
            if (k.escaped)
                throw Unsure{};
            if (k.is("fields")) {
                if (packet)
                    throw Unsure{};
                const QList<FieldDef> defs = fieldDefs();
                // the empty packet of the fields read last, shared: an answer with no rows (most
                // adjustments) builds no columns at all
                thread_local Packet shape;
                if (shape.fields().constData() != defs.constData() || shape.fieldCount() != defs.size())
                    shape = Packet(defs);
                packet.emplace(shape);
            } else if (k.is("rows")) {
                if (!packet || haveRows)
                    throw Unsure{};
                rows(*packet);
                haveRows = true;
            } else {
                skip();
            }
        } while (take(','));
        expect('}');
        if (!packet || !haveRows)
            throw Unsure{};
        if (packet->rowCount() > 0) // an empty one has nothing to give back, and stays shared
            packet->squeeze();
        return *packet;
    }

private:
    QByteArray m_text;
    ByteStream *m_in = nullptr;
    std::atomic<qint64> *m_rowsRead = nullptr;
};

std::optional<QVariant> readRpcResult(Reader &r, double id)
{
    try {
        r.expect('{');
        bool version = false, haveId = false, haveResult = false;
        QVariant result;
        if (r.take('}'))
            return std::nullopt;
        do {
            const Reader::Str k = r.string();
            r.expect(':');
            if (k.escaped)
                return std::nullopt;
            if (k.is("jsonrpc")) {
                if (version || r.peek() != '"' || !r.string().is("2.0"))
                    return std::nullopt;
                version = true;
            } else if (k.is("id")) {
                const char c = r.peek();
                if (haveId || (c != '-' && (c < '0' || c > '9')) || r.number() != id)
                    return std::nullopt;
                haveId = true;
            } else if (k.is("result")) {
                if (haveResult)
                    return std::nullopt;
                result = r.value();
                haveResult = true;
            } else if (k.is("error")) {
                return std::nullopt;
            } else {
                r.skip();
            }
        } while (r.take(','));
        r.expect('}');
        if (!r.atEnd() || !version || !haveId || !haveResult)
            return std::nullopt;
        return result;
    } catch (const Unsure &) {
    } catch (const WireError &) {
    }
    return std::nullopt;
}

} // namespace

std::optional<QVariant> readRpcResult(const char *data, qsizetype size, double id)
{
    Reader r(data, size);
    return readRpcResult(r, id);
}

std::optional<QVariant> readRpcResult(ByteStream &in, double id, std::atomic<qint64> *rowsRead)
{
    while (in.size() == 0)
        if (!in.more())
            return std::nullopt;
    Reader r(in, rowsRead);
    return readRpcResult(r, id);
}

namespace {

std::optional<Packet> readPacketJson(Reader &r, qsizetype *consumed)
{
    try {
        const char *from = r.p;
        Packet packet = r.packet();
        *consumed = r.p - from;
        return packet;
    } catch (const Unsure &) {
    } catch (const WireError &) {
    }
    return std::nullopt;
}

} // namespace

std::optional<Packet> readPacketJson(const char *data, qsizetype size, qsizetype *consumed)
{
    Reader r(data, size);
    return readPacketJson(r, consumed);
}

std::optional<Packet> readPacketJson(ByteStream &in, qsizetype from, qsizetype *consumed)
{
    Reader r(in, nullptr);
    r.p += from;
    return readPacketJson(r, consumed);
}

} // namespace erp::wire
