#include "json.h"
#include "textscan.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace erp::wire {

namespace {

const QString kFields = QStringLiteral("fields");
const QString kRows = QStringLiteral("rows");

QString dateText(QDate d) { return d.toString(Qt::ISODate); }
QString dateTimeText(const QDateTime &dt)
{
    return dt.date().toString(Qt::ISODate) + QLatin1Char('T') + dt.time().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

namespace {

// Digits only: toInt would also take a sign or blanks, and a year such as "-024" has no
// "YYYY-MM-DD" to go back as. -1 when any is not a digit.
int digits(QStringView t, qsizetype from, qsizetype n)
{
    int v = 0;
    for (qsizetype i = from; i < from + n; ++i) {
        if (t[i] < u'0' || t[i] > u'9')
            return -1;
        v = v * 10 + (t[i].unicode() - u'0');
    }
    return v;
}

} // namespace

QDate parseDate(QStringView text)
{
    QStringView t = text;
    if (t.size() == 19 && t.endsWith(u"T00:00:00"))
        t = t.left(10);
    const auto digits = [&](qsizetype from, qsizetype n) { return wire::digits(t, from, n); };
    if (t.size() == 10 && t[4] == u'-' && t[7] == u'-') {
        const int y = digits(0, 4);
        const int m = digits(5, 2);
        const int d = digits(8, 2);
        const QDate date(y, m, d);
        if (y > 0 && m > 0 && d > 0 && date.isValid())
            return date;
    }
    throw WireError(QStringLiteral("Data inválida: \"%1\" (esperado AAAA-MM-DD).").arg(text.left(40)));
}

QDateTime parseDateTime(QStringView text)
{
    if (text.size() == 10)
        return parseDate(text).startOfDay(Qt::UTC);
    if (text.size() == 19 && text[10] == u'T') {
        const QDate d = parseDate(text.left(10));
        // read by hand: QTime::fromString was most of the time of reading a list of date-times
        const int h = digits(text, 11, 2), m = digits(text, 14, 2), sec = digits(text, 17, 2);
        const QTime t = text[13] == u':' && text[16] == u':' && h >= 0 && m >= 0 && sec >= 0 ? QTime(h, m, sec) : QTime();
        if (t.isValid())
            return QDateTime(d, t, Qt::UTC);
    }
    throw WireError(QStringLiteral("Data e hora inválidas: \"%1\" (esperado AAAA-MM-DDThh:mm:ss).").arg(text.left(40)));
}

QJsonValue encodePacket(const Packet &packet)
{
    QJsonArray fields;
    for (const FieldDef &f : packet.fields()) {
        QJsonObject o{{QStringLiteral("name"), f.name}, {QStringLiteral("type"), fieldTypeName(f.type)}};
        if (isStringType(f.type))
            o.insert(QStringLiteral("size"), f.size);
        fields.append(o);
    }
    QJsonArray rows;
    for (int r = 0; r < packet.rowCount(); ++r) {
        QJsonArray row;
        for (int c = 0; c < packet.fieldCount(); ++c) {
            if (packet.isNull(r, c)) {
                row.append(QJsonValue::Null);
                continue;
            }
            switch (packet.fields()[c].type) {
            case FieldType::String:
            case FieldType::FixedString: row.append(packet.string(r, c)); break;
            case FieldType::Float:
            case FieldType::Integer: row.append(packet.number(r, c)); break;
            case FieldType::Boolean: row.append(packet.boolean(r, c)); break;
            case FieldType::Date: row.append(dateText(packet.date(r, c))); break;
            case FieldType::DateTime: row.append(dateTimeText(packet.dateTime(r, c))); break;
            }
        }
        rows.append(row);
    }
    return QJsonObject{{kFields, fields}, {kRows, rows}};
}

Packet decodePacket(const QJsonValue &json)
{
    if (!json.isObject())
        throw WireError(QStringLiteral("Pacote de dados inválido: esperado um objeto."));
    const QJsonObject o = json.toObject();
    if (!o.value(kFields).isArray() || !o.value(kRows).isArray())
        throw WireError(QStringLiteral("Pacote de dados inválido: faltam \"fields\" ou \"rows\"."));
    QList<FieldDef> defs;
    for (const QJsonValue &fv : o.value(kFields).toArray()) {
        const QJsonObject fo = fv.toObject();
        const QString name = fo.value(QStringLiteral("name")).toString();
        const auto type = fieldTypeFromName(fo.value(QStringLiteral("type")).toString());
        if (!fv.isObject() || name.isEmpty())
            throw WireError(QStringLiteral("Pacote de dados inválido: campo sem nome."));
        if (!type)
            throw WireError(QStringLiteral("Pacote de dados inválido: tipo desconhecido \"%1\" no campo %2.")
                                .arg(fo.value(QStringLiteral("type")).toString(), name));
        FieldDef f{name, *type, 0};
        if (isStringType(*type)) {
            const QJsonValue size = fo.value(QStringLiteral("size"));
            if (!size.isDouble() || size.toDouble() < 1 || size.toDouble() != std::floor(size.toDouble()))
                throw WireError(QStringLiteral("Pacote de dados inválido: tamanho do campo %1.").arg(name));
            f.size = size.toInt();
        }
        defs.append(f);
    }
    Packet packet(defs);
    const QJsonArray rows = o.value(kRows).toArray();
    packet.reserve(int(rows.size()));
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QJsonValue rv = rows.at(r);
        if (!rv.isArray() || rv.toArray().size() != defs.size())
            throw WireError(QStringLiteral("Pacote de dados inválido: linha %1 não tem %2 valores.")
                                .arg(r + 1)
                                .arg(defs.size()));
        const QJsonArray row = rv.toArray();
        const int ri = packet.appendRow();
        for (int c = 0; c < defs.size(); ++c) {
            const QJsonValue v = row.at(c);
            if (v.isNull())
                continue;
            const FieldDef &f = defs[c];
            const auto bad = [&] {
                return WireError(QStringLiteral("Pacote de dados inválido: valor do campo %1 na linha %2.")
                                     .arg(f.name)
                                     .arg(r + 1));
            };
            switch (f.type) {
            case FieldType::String:
            case FieldType::FixedString:
                if (!v.isString())
                    throw bad();
                packet.setString(ri, c, v.toString());
                break;
            case FieldType::Float:
            case FieldType::Integer:
                if (!v.isDouble())
                    throw bad();
                packet.setNumber(ri, c, v.toDouble());
                break;
            case FieldType::Boolean:
                if (!v.isBool())
                    throw bad();
                packet.setBoolean(ri, c, v.toBool());
                break;
            case FieldType::Date:
                if (!v.isString())
                    throw bad();
                packet.setDate(ri, c, parseDate(v.toString()));
                break;
            case FieldType::DateTime:
                if (!v.isString())
                    throw bad();
                packet.setDateTime(ri, c, parseDateTime(v.toString()));
                break;
            }
        }
    }
    packet.squeeze(); // a list of a million rows must not keep its growth slack
    return packet;
}

QJsonValue encodeValue(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QJsonValue::Null;
    switch (value.typeId()) {
    case QMetaType::QString: return value.toString();
    case QMetaType::Bool: return value.toBool();
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return value.toDouble();
    case QMetaType::QDate:
        return value.toDate().isValid() ? QJsonValue(dateText(value.toDate())) : QJsonValue::Null;
    case QMetaType::QDateTime:
        return value.toDateTime().isValid() ? QJsonValue(dateTimeText(value.toDateTime())) : QJsonValue::Null;
    case QMetaType::QVariantList: {
        QJsonArray a;
        for (const QVariant &v : value.toList())
            a.append(encodeValue(v));
        return a;
    }
    case QMetaType::QStringList: {
        QJsonArray a;
        for (const QString &s : value.toStringList())
            a.append(s);
        return a;
    }
    default:
        break;
    }
    if (value.canConvert<Packet>() && value.metaType() == QMetaType::fromType<Packet>())
        return encodePacket(value.value<Packet>());
    throw WireError(QStringLiteral("Valor de tipo %1 não pode ser enviado ao servidor.")
                        .arg(QString::fromLatin1(value.typeName())));
}

QVariant decodeValue(const QJsonValue &json)
{
    switch (json.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined: return {};
    case QJsonValue::Bool: return json.toBool();
    case QJsonValue::Double: return json.toDouble();
    case QJsonValue::String: return json.toString();
    case QJsonValue::Array: {
        QVariantList l;
        for (const QJsonValue &v : json.toArray())
            l.append(decodeValue(v));
        return l;
    }
    case QJsonValue::Object: return QVariant::fromValue(decodePacket(json));
    }
    return {};
}

namespace {

// What a JSON string escapes: the control characters, the quote and the backslash.
constexpr std::array<bool, 256> kEscaped = [] {
    std::array<bool, 256> t{};
    for (int ch = 0; ch < 0x20; ++ch)
        t[size_t(ch)] = true;
    t['"'] = t['\\'] = true;
    return t;
}();

constexpr char kHex[] = "0123456789abcdef";

// The first byte from i on that JSON escapes, or size.
qsizetype nextEscaped(const char *data, qsizetype i, qsizetype size)
{
    // a list's texts are most of what the server writes
    const char *q = skipPlainText<false>(data + i, data + size);
    while (q < data + size && !kEscaped[static_cast<unsigned char>(*q)])
        ++q;
    return q - data;
}

// A string's escaped UTF-8, without its quotes.
char *writeJsonUtf8Body(char *out, const char *data, qsizetype size)
{
    qsizetype start = 0;
    for (qsizetype i = nextEscaped(data, 0, size); i < size; i = nextEscaped(data, i + 1, size)) {
        const unsigned char ch = static_cast<unsigned char>(data[i]);
        std::memcpy(out, data + start, size_t(i - start));
        out += i - start;
        *out++ = '\\';
        switch (ch) {
        case '"': *out++ = '"'; break;
        case '\\': *out++ = '\\'; break;
        case '\n': *out++ = 'n'; break;
        case '\r': *out++ = 'r'; break;
        case '\t': *out++ = 't'; break;
        default:
            *out++ = 'u';
            *out++ = '0';
            *out++ = '0';
            *out++ = kHex[ch >> 4];
            *out++ = kHex[ch & 15];
        }
        start = i + 1;
    }
    std::memcpy(out, data + start, size_t(size - start));
    return out + (size - start);
}

// The same for a UTF-16 text with no surrogate out of its pair.
void appendJsonBody(QByteArray &out, QStringView text)
{
    const QByteArray b = text.toUtf8();
    const qsizetype at = out.size();
    out.resize(at + 6 * b.size());
    out.resize(writeJsonUtf8Body(out.data() + at, b.constData(), b.size()) - out.constData());
}

} // namespace

char *writeJsonUtf8String(char *out, const char *data, qsizetype size)
{
    *out++ = '"';
    out = writeJsonUtf8Body(out, data, size);
    *out++ = '"';
    return out;
}

void appendJsonUtf8String(QByteArray &out, const char *data, qsizetype size)
{
    const qsizetype at = out.size();
    out.resize(at + 6 * size + 2);
    out.resize(writeJsonUtf8String(out.data() + at, data, size) - out.constData());
}

void appendJsonString(QByteArray &out, QStringView text)
{
    // Codes, keys and names are ASCII with nothing to escape: written straight, with no UTF-8 copy.
    const char16_t *chars = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && chars[i] >= 0x20 && chars[i] < 0x80 && chars[i] != u'"' && chars[i] != u'\\')
        ++i;
    if (i == n) {
        const qsizetype at = out.size();
        out.resize(at + n + 2);
        char *to = out.data() + at;
        *to++ = '"';
        for (qsizetype k = 0; k < n; ++k)
            to[k] = char(chars[k]);
        to[n] = '"';
        return;
    }
    // A surrogate without its pair has no UTF-8 (the conversion makes it '?'); JSON carries it
    // as an escape, as the tree writer does.
    out.append('"');
    qsizetype from = 0;
    for (qsizetype k = i; k < n; ++k) {
        if (!QChar::isSurrogate(chars[k]))
            continue;
        if (QChar::isHighSurrogate(chars[k]) && k + 1 < n && QChar::isLowSurrogate(chars[k + 1])) {
            ++k;
            continue;
        }
        appendJsonBody(out, text.sliced(from, k - from));
        const char escape[] = {'\\', 'u', kHex[chars[k] >> 12], kHex[(chars[k] >> 8) & 15],
                               kHex[(chars[k] >> 4) & 15], kHex[chars[k] & 15]};
        out.append(escape, sizeof escape);
        from = k + 1;
    }
    appendJsonBody(out, text.sliced(from));
    out.append('"');
}

char *writeJsonCents(char *out, std::int64_t value)
{
    // A value of 15 digits or fewer with cents reads shortest as its own digits in fixed
    // notation, as to_chars writes it; whole values may go exponential (1e+06): left to it.
    constexpr std::int64_t kLimit = 1'000'000'000'000'000;
    if (value % 100 == 0 || value >= kLimit || value <= -kLimit)
        return std::to_chars(out, out + 32, double(value) / 100.0).ptr;
    if (value < 0)
        *out++ = '-';
    const std::uint64_t a = value < 0 ? std::uint64_t(-value) : std::uint64_t(value);
    out = std::to_chars(out, out + 20, a / 100).ptr;
    const int fraction = int(a % 100);
    *out++ = '.';
    *out++ = char('0' + fraction / 10);
    if (fraction % 10)
        *out++ = char('0' + fraction % 10);
    return out;
}

char *writeJsonNumber(char *out, double value)
{
    // Most numbers are money: one with cents is the nearest double to its own digits, and
    // those digits are the shortest that read back as it (doubles under 1e13 lie closer than a
    // cent), which is what to_chars finds at several times the cost.
    const double scaled = std::round(value * 100.0);
    if (std::fabs(scaled) < 1e15) {
        const auto cents = std::int64_t(scaled);
        if (cents % 100 != 0 && double(cents) / 100.0 == value)
            return writeJsonCents(out, cents);
    }
    return std::to_chars(out, out + 32, value).ptr;
}

void appendJsonNumber(QByteArray &out, double value)
{
    if (!std::isfinite(value)) {
        out.append("null");
        return;
    }
    char buf[32];
    out.append(buf, writeJsonNumber(buf, value) - buf);
}

void appendJsonDate(QByteArray &out, QDate date)
{
    if (!date.isValid()) {
        out.append("null");
        return;
    }
    out.append('"').append(dateText(date).toLatin1()).append('"');
}

void appendJsonDateTime(QByteArray &out, const QDateTime &value)
{
    if (!value.isValid()) {
        out.append("null");
        return;
    }
    out.append('"').append(dateTimeText(value).toLatin1()).append('"');
}

void appendFieldsJson(QByteArray &out, const QList<FieldDef> &fields)
{
    // A server answers the same few layouts call after call, and writing one out cost more than
    // the rows of a short answer: the last one's text is kept, per thread.
    thread_local QList<FieldDef> lastFields;
    thread_local QByteArray lastJson;
    if (lastJson.isEmpty() || fields != lastFields) {
        lastJson = "[";
        for (qsizetype i = 0; i < fields.size(); ++i) {
            const FieldDef &f = fields[i];
            if (i)
                lastJson.append(',');
            lastJson.append("{\"name\":");
            appendJsonString(lastJson, f.name);
            lastJson.append(",\"type\":\"").append(fieldTypeName(f.type).toLatin1()).append('"');
            if (isStringType(f.type))
                lastJson.append(",\"size\":").append(QByteArray::number(f.size));
            lastJson.append('}');
        }
        lastJson.append(']');
        lastFields = fields;
    }
    out.append(lastJson);
}

namespace {

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:mm:ss" with its quotes straight into the text at p (21 bytes of
// room): through QString's formatting it was most of a list's encoding. Null for years that
// format does not cover.
char *writeIsoDigits(char *p, QDate date, const QTime *time = nullptr)
{
    int y = 0, m = 0, d = 0;
    date.getDate(&y, &m, &d);
    if (y < 0 || y > 9999)
        return nullptr;
    const char head[11] = {'"', char('0' + y / 1000), char('0' + y / 100 % 10), char('0' + y / 10 % 10),
                           char('0' + y % 10), '-', char('0' + m / 10), char('0' + m % 10), '-',
                           char('0' + d / 10), char('0' + d % 10)};
    std::memcpy(p, head, sizeof head);
    p += sizeof head;
    if (time) {
        const int parts[] = {time->hour(), time->minute(), time->second()};
        for (int i = 0; i < 3; ++i) {
            *p++ = i ? ':' : 'T';
            *p++ = char('0' + parts[i] / 10);
            *p++ = char('0' + parts[i] % 10);
        }
    }
    *p++ = '"';
    return p;
}

} // namespace

void appendPacketJson(QByteArray &out, const Packet &packet)
{
    appendPacketJson(out, packet, std::numeric_limits<qsizetype>::max(), {});
}

void appendPacketJson(QByteArray &out, const Packet &packet, qsizetype blockBytes, const BlockSpill &spill)
{
    out.append("{\"fields\":");
    appendFieldsJson(out, packet.fields());
    out.append(",\"rows\":[");
    const int nf = packet.fieldCount();
    std::vector<FieldType> types;
    types.reserve(size_t(nf));
    for (const FieldDef &f : packet.fields())
        types.push_back(f.type);
    // Cells are written through a pointer into room made ahead, the text's size set once a row:
    // an append a token was half of encoding a long list.
    qsizetype end = out.size();
    const auto room = [&](qsizetype bytes) {
        bytes += 2; // the separator and the row's closing bracket
        if (out.size() - end < bytes)
            out.resize(end + std::max<qsizetype>(bytes, 16384));
        return out.data() + end;
    };
    for (int r = 0; r < packet.rowCount(); ++r) {
        if (end >= blockBytes) {
            out.resize(end);
            spill(out);
            end = out.size();
        }
        char *p = room(2);
        if (r)
            *p++ = ',';
        *p++ = '[';
        end = p - out.constData();
        for (int c = 0; c < nf; ++c) {
            // room for a cell of up to bytes after its separator, which counts as written
            const auto cell = [&](qsizetype bytes) {
                char *at = room(bytes + 1);
                if (c)
                    *at++ = ',';
                end = at - out.constData();
                return at;
            };
            // a value the direct writing does not cover goes through the appending one
            const auto appended = [&](const auto &append) {
                out.resize(end);
                append();
                end = out.size();
                return out.data() + end;
            };
            const auto null = [](char *at) {
                std::memcpy(at, "null", 4);
                return at + 4;
            };
            if (packet.isNull(r, c)) {
                p = null(cell(4));
            } else {
                switch (types[size_t(c)]) {
                case FieldType::String:
                case FieldType::FixedString: {
                    const QByteArrayView b = packet.utf8View(r, c);
                    p = writeJsonUtf8String(cell(6 * b.size() + 2), b.data(), b.size());
                    break;
                }
                case FieldType::Float:
                case FieldType::Integer: {
                    const double v = packet.number(r, c);
                    p = std::isfinite(v) ? writeJsonNumber(cell(32), v) : null(cell(4));
                    break;
                }
                case FieldType::Boolean: {
                    const bool b = packet.boolean(r, c);
                    p = cell(5);
                    std::memcpy(p, b ? "true" : "false", b ? 4 : 5);
                    p += b ? 4 : 5;
                    break;
                }
                case FieldType::Date: {
                    const QDate d = packet.date(r, c);
                    p = writeIsoDigits(cell(21), d);
                    if (!p)
                        p = appended([&] { appendJsonDate(out, d); });
                    break;
                }
                case FieldType::DateTime: {
                    const QDateTime dt = packet.dateTime(r, c);
                    const QTime time = dt.time();
                    p = writeIsoDigits(cell(21), dt.date(), &time);
                    if (!p)
                        p = appended([&] { appendJsonDateTime(out, dt); });
                    break;
                }
                }
            }
            end = p - out.constData();
        }
        p = room(1);
        *p++ = ']';
        end = p - out.constData();
    }
    out.resize(end);
    out.append("]}");
}

} // namespace erp::wire
