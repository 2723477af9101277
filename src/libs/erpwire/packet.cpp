#include "packet.h"

#include <QTimeZone>

#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

namespace erp::wire {

WireError::WireError(const QString &message)
    : std::runtime_error(message.toStdString())
{}

QString fieldTypeName(FieldType type)
{
    switch (type) {
    case FieldType::String: return QStringLiteral("string");
    case FieldType::FixedString: return QStringLiteral("fixedstring");
    case FieldType::Float: return QStringLiteral("float");
    case FieldType::Integer: return QStringLiteral("integer");
    case FieldType::Boolean: return QStringLiteral("boolean");
    case FieldType::Date: return QStringLiteral("date");
    case FieldType::DateTime: return QStringLiteral("datetime");
    }
    return {};
}

std::optional<FieldType> fieldTypeFromName(QAnyStringView name)
{
    static const FieldType all[] = {FieldType::String, FieldType::FixedString, FieldType::Float,
                                    FieldType::Integer, FieldType::Boolean, FieldType::Date,
                                    FieldType::DateTime};
    for (FieldType t : all)
        if (name == fieldTypeName(t))
            return t;
    return std::nullopt;
}

bool sameFieldName(QStringView a, QStringView b)
{
    // simple case folding maps one UTF-16 unit to one: names of other lengths never match
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a[i].unicode(), y = b[i].unicode();
        if (x == y)
            continue;
        if (x >= 0x80 || y >= 0x80)
            return a.compare(b, Qt::CaseInsensitive) == 0;
        if (x >= 'a' && x <= 'z')
            x -= 'a' - 'A';
        if (y >= 'a' && y <= 'z')
            y -= 'a' - 'A';
        if (x != y)
            return false;
    }
    return true;
}

namespace {

constexpr qint64 kNullInt = std::numeric_limits<qint64>::min();

// Dates are kept as days, date-times as seconds, both counted from the epoch in UTC so that
// no time zone ever moves a date.
const QDate kEpoch(1970, 1, 1);

struct Column
{
    FieldType type;
    // strings: the cells' text one after the other. While every cell has the same length (codes,
    // flags, branches) a cell is found by its row alone (`width` bytes each, nulls included); the
    // first text of another length gives each cell its end offset (4 bytes a cell besides the
    // text, as in the JSON). A cell rewritten with another length moves to the spill area.
    std::vector<char> arena;
    qint32 width = 0;     // the cells' length; -1: each ends at its `end`
    bool sized = false;   // a text was written: the width no longer follows the next one
    std::vector<quint32> end;
    std::vector<bool> null; // one a row in either layout
    std::vector<char> spill;
    std::unordered_map<quint32, std::pair<quint32, quint32>> moved; // row -> offset, length in spill
    // numbers, booleans, dates: one 64-bit slot per row
    std::vector<qint64> ints;    // Integer, Boolean, Date (days), DateTime (seconds); kNullInt = null
    std::vector<double> floats;  // Float
    std::vector<bool> floatNull;

    bool even() const { return width >= 0; }
    size_t count() const { return null.size(); }
    void appendNull()
    {
        if (isStringType(type)) {
            if (even())
                arena.resize(arena.size() + size_t(width));
            else
                end.push_back(quint32(arena.size()));
            null.push_back(true);
        } else if (type == FieldType::Float) {
            floats.push_back(0);
            floatNull.push_back(true);
        } else {
            ints.push_back(kNullInt);
        }
    }
    void reserve(size_t n)
    {
        if (isStringType(type)) {
            if (!even())
                end.reserve(n);
            null.reserve(n);
        } else if (type == FieldType::Float) {
            floats.reserve(n);
            floatNull.reserve(n);
        } else {
            ints.reserve(n);
        }
    }
    void squeeze()
    {
        arena.shrink_to_fit();
        end.shrink_to_fit();
        null.shrink_to_fit();
        spill.shrink_to_fit();
        ints.shrink_to_fit();
        floats.shrink_to_fit();
        floatNull.shrink_to_fit();
    }
    void reserveScaled(double factor)
    {
        const auto grow = [factor](auto &v) { v.reserve(size_t(double(v.size()) * factor) + 1); };
        grow(arena);
        grow(end);
        grow(null);
        grow(ints);
        grow(floats);
        grow(floatNull);
    }
    size_t start(size_t row) const
    {
        if (even())
            return row * size_t(width);
        return row ? end[row - 1] : 0;
    }
    quint32 length(size_t row) const { return even() ? quint32(width) : end[row] - quint32(start(row)); }
    // Where the text of a cell is (not null).
    std::pair<const char *, quint32> text(size_t row) const
    {
        if (!moved.empty()) {
            const auto it = moved.find(quint32(row));
            if (it != moved.end())
                return {spill.data() + it->second.first, it->second.second};
        }
        return {arena.data() + start(row), length(row)};
    }
    // The cells so far all null: they take the width of the first text.
    void takeWidth(qsizetype size)
    {
        width = qint32(size);
        arena.assign(count() * size_t(size), '\0');
    }
    // Each cell gets its end offset: a text of another length is coming.
    void uneven()
    {
        end.reserve(null.capacity()); // the rows the reader expects, not a doubling
        end.resize(count());
        for (size_t r = 0; r < end.size(); ++r)
            end[r] = quint32((r + 1) * size_t(width));
        width = -1;
    }
    void dropLast()
    {
        const size_t row = count() - 1;
        arena.resize(start(row));
        if (!even())
            end.pop_back();
        null.pop_back();
        moved.erase(quint32(row));
    }
    void clear()
    {
        arena.clear();
        width = 0;
        sized = false;
        end.clear();
        null.clear();
        spill.clear();
        moved.clear();
        ints.clear();
        floats.clear();
        floatNull.clear();
    }
    qsizetype bytes() const
    {
        return qsizetype(arena.capacity() + end.capacity() * 4 + null.capacity() / 8 + spill.capacity()
                         + moved.size() * 32
                         + ints.capacity() * 8 + floats.capacity() * 8 + floatNull.capacity() / 8);
    }
};

} // namespace

class PacketData : public QSharedData
{
public:
    QList<FieldDef> fields;
    std::vector<Column> columns;
    int rows = 0;
};

Packet::Packet()
    : d(new PacketData)
{}

Packet::Packet(const QList<FieldDef> &fields)
    : d(new PacketData)
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const FieldDef &f = fields[i];
        if (f.name.isEmpty())
            throw WireError(QStringLiteral("Campo sem nome no pacote de dados."));
        if (isStringType(f.type) && f.size <= 0)
            throw WireError(QStringLiteral("Campo %1 sem tamanho no pacote de dados.").arg(f.name));
        for (qsizetype j = 0; j < i; ++j)
            if (sameFieldName(fields[j].name, f.name))
                throw WireError(QStringLiteral("Campo %1 repetido no pacote de dados.").arg(f.name));
    }
    d->fields = fields; // shared, not copied
    d->columns.resize(size_t(fields.size()));
    for (qsizetype i = 0; i < fields.size(); ++i)
        d->columns[size_t(i)].type = fields[i].type;
}

Packet::Packet(const Packet &) = default;
Packet::Packet(Packet &&) noexcept = default;
Packet &Packet::operator=(const Packet &) = default;
Packet &Packet::operator=(Packet &&) noexcept = default;
Packet::~Packet() = default;

const QList<FieldDef> &Packet::fields() const { return d->fields; }
int Packet::fieldCount() const { return int(d->fields.size()); }
int Packet::rowCount() const { return d->rows; }

int Packet::indexOf(QStringView name) const
{
    for (int i = 0; i < d->fields.size(); ++i)
        if (sameFieldName(d->fields[i].name, name))
            return i;
    return -1;
}

void Packet::reserve(int rows)
{
    for (Column &c : d->columns)
        c.reserve(size_t(rows));
}

void Packet::squeeze()
{
    for (Column &c : d->columns)
        c.squeeze();
}

void Packet::reserveScaled(double factor)
{
    for (Column &c : d->columns)
        c.reserveScaled(factor);
}

int Packet::appendRow()
{
    for (Column &c : d->columns)
        c.appendNull();
    return d->rows++;
}

int Packet::beginRow()
{
    return d->rows++;
}

namespace {

// The column a filled row's next cell goes to.
Column &columnToFill(PacketData &d, int col)
{
    if (col < 0 || col >= d.fields.size()) [[unlikely]]
        throw WireError(QStringLiteral("Campo %1 fora do pacote de dados.").arg(col));
    return d.columns[size_t(col)];
}

// A column's texts are found by 32-bit offsets: `size` more bytes after `total` must fit them.
void checkOffsets(const PacketData &d, int col, size_t total, size_t size)
{
    if (total + size > std::numeric_limits<quint32>::max())
        throw WireError(QStringLiteral("Pacote de dados grande demais no campo %1.").arg(d.fields[col].name));
}

} // namespace

void Packet::appendNull(int col)
{
    columnToFill(*d, col).appendNull();
}

void Packet::appendUtf8(int col, const char *data, qsizetype size)
{
    PacketData &pd = *d;
    Column &c = columnToFill(pd, col);
    if (!isStringType(c.type))
        throw WireError(QStringLiteral("Campo %1 não é texto.").arg(pd.fields[col].name));
    const size_t n = size_t(size);
    const auto tooBig = [&](size_t total) { checkOffsets(pd, col, total, n); };
    if (c.even() && !c.sized) {
        tooBig(c.count() * n);
        c.takeWidth(size);
    } else if (c.even() && size_t(c.width) != n) {
        tooBig(c.arena.size());
        c.uneven();
    }
    if (!c.even())
        tooBig(c.arena.size());
    c.arena.insert(c.arena.end(), data, data + n);
    if (!c.even())
        c.end.push_back(quint32(c.arena.size()));
    c.null.push_back(false);
    c.sized = true;
}

void Packet::appendNumber(int col, double value)
{
    PacketData &pd = *d;
    Column &c = columnToFill(pd, col);
    if (c.type == FieldType::Float) {
        c.floats.push_back(value);
        c.floatNull.push_back(false);
        return;
    }
    c.appendNull();
    setNumber(pd.rows - 1, col, value); // an integer is checked there
}

void Packet::appendBoolean(int col, bool value)
{
    PacketData &pd = *d;
    Column &c = columnToFill(pd, col);
    if (c.type != FieldType::Boolean)
        throw WireError(QStringLiteral("Campo %1 não é lógico.").arg(pd.fields[col].name));
    c.ints.push_back(value ? 1 : 0);
}

void Packet::appendStamp(int col, qint64 value)
{
    PacketData &pd = *d;
    Column &c = columnToFill(pd, col);
    if (c.type != FieldType::Date && c.type != FieldType::DateTime)
        throw WireError(QStringLiteral("Campo %1 não é data.").arg(pd.fields[col].name));
    c.ints.push_back(value);
}

Packet Packet::rowsWhere(const std::function<bool(int row)> &keep) const
{
    Packet out(fields());
    for (int r = 0; r < rowCount(); ++r) {
        if (!keep(r))
            continue;
        QVariantList values;
        values.reserve(fieldCount());
        for (int c = 0; c < fieldCount(); ++c)
            values.append(value(r, c));
        out.appendRow(values);
    }
    return out;
}

void Packet::appendRow(const QVariantList &values)
{
    if (values.size() != fieldCount())
        throw WireError(QStringLiteral("Linha com %1 valores para %2 campos.")
                            .arg(values.size())
                            .arg(fieldCount()));
    const int row = appendRow();
    try {
        for (int c = 0; c < values.size(); ++c)
            setValue(row, c, values[c]);
    } catch (...) {
        // nothing half-loaded: the row goes with the error
        for (Column &col : d->columns) {
            if (isStringType(col.type)) {
                col.dropLast();
            } else if (col.type == FieldType::Float) {
                col.floats.pop_back();
                col.floatNull.pop_back();
            } else {
                col.ints.pop_back();
            }
        }
        --d->rows;
        throw;
    }
}

void Packet::removeAllRows()
{
    for (Column &c : d->columns)
        c.clear();
    d->rows = 0;
}

// Kept apart so that the check, made for every cell, is inlined where it is made.
void Packet::badCell(int row, int col) const
{
    throw WireError(QStringLiteral("Posição inválida no pacote de dados (linha %1, campo %2).").arg(row).arg(col));
}

inline void Packet::checkCell(int row, int col) const
{
    if (row < 0 || row >= d->rows || col < 0 || col >= d->fields.size()) [[unlikely]]
        badCell(row, col);
}

bool Packet::isNull(int row, int col) const
{
    checkCell(row, col);
    const Column &c = d->columns[size_t(col)];
    if (isStringType(c.type))
        return c.null[size_t(row)];
    if (c.type == FieldType::Float)
        return c.floatNull[size_t(row)];
    return c.ints[size_t(row)] == kNullInt;
}

void Packet::setNull(int row, int col)
{
    checkCell(row, col);
    Column &c = d->columns[size_t(col)];
    if (isStringType(c.type)) {
        c.null[size_t(row)] = true;
    } else if (c.type == FieldType::Float) {
        c.floats[size_t(row)] = 0;
        c.floatNull[size_t(row)] = true;
    } else {
        c.ints[size_t(row)] = kNullInt;
    }
}

QVariant Packet::value(int row, int col) const
{
    if (isNull(row, col))
        return {};
    switch (d->fields[col].type) {
    case FieldType::String:
    case FieldType::FixedString: return string(row, col);
    case FieldType::Float: return number(row, col);
    case FieldType::Integer: return QVariant::fromValue<qint64>(d->columns[size_t(col)].ints[size_t(row)]);
    case FieldType::Boolean: return boolean(row, col);
    case FieldType::Date: return date(row, col);
    case FieldType::DateTime: return dateTime(row, col);
    }
    return {};
}

void Packet::setValue(int row, int col, const QVariant &value)
{
    checkCell(row, col);
    const FieldDef &f = d->fields[col];
    const bool zeroDate = (value.typeId() == QMetaType::QDate && !value.toDate().isValid())
                          || (value.typeId() == QMetaType::QDateTime && !value.toDateTime().isValid());
    if (!value.isValid() || value.isNull() || zeroDate) {
        // the zero date travels as null
        setNull(row, col);
        return;
    }
    const auto bad = [&] {
        return WireError(QStringLiteral("Valor de tipo %1 inválido para o campo %2 (%3).")
                             .arg(QString::fromLatin1(value.typeName()), f.name, fieldTypeName(f.type)));
    };
    switch (f.type) {
    case FieldType::String:
    case FieldType::FixedString:
        if (value.typeId() != QMetaType::QString && !value.canConvert<QString>())
            throw bad();
        setString(row, col, value.toString());
        return;
    case FieldType::Float:
    case FieldType::Integer: {
        bool ok = false;
        const double v = value.toDouble(&ok);
        if (!ok || value.typeId() == QMetaType::QString || value.typeId() == QMetaType::Bool)
            throw bad();
        setNumber(row, col, v);
        return;
    }
    case FieldType::Boolean:
        if (value.typeId() != QMetaType::Bool)
            throw bad();
        setBoolean(row, col, value.toBool());
        return;
    case FieldType::Date:
    case FieldType::DateTime:
        if (value.typeId() == QMetaType::QDate) {
            if (f.type == FieldType::Date)
                setDate(row, col, value.toDate());
            else
                setDateTime(row, col, value.toDate().startOfDay(Qt::UTC));
            return;
        }
        if (value.typeId() == QMetaType::QDateTime) {
            if (f.type == FieldType::Date)
                setDate(row, col, value.toDateTime().date());
            else
                setDateTime(row, col, value.toDateTime());
            return;
        }
        throw bad();
    }
}

std::pair<const char *, qsizetype> Packet::textOf(int row, int col) const
{
    checkCell(row, col);
    const Column &c = d->columns[size_t(col)];
    if (!isStringType(c.type))
        throw WireError(QStringLiteral("Campo %1 não é texto.").arg(d->fields[col].name));
    if (c.null[size_t(row)])
        return {nullptr, 0};
    const auto [data, len] = c.text(size_t(row));
    return {data, qsizetype(len)};
}

QString Packet::string(int row, int col) const
{
    // decoded from the column itself: no copy of the bytes on the way
    const auto [data, len] = textOf(row, col);
    return len == 0 ? QString() : QString::fromUtf8(data, len);
}

QByteArray Packet::utf8(int row, int col) const
{
    const auto [data, len] = textOf(row, col);
    return len == 0 ? QByteArray() : QByteArray(data, len);
}

QByteArrayView Packet::utf8View(int row, int col) const
{
    const auto [data, len] = textOf(row, col);
    // an empty column's arena has no bytes, and callers may hand the pointer to memcpy
    return len == 0 ? QByteArrayView("", 0) : QByteArrayView(data, len);
}

double Packet::number(int row, int col) const
{
    checkCell(row, col);
    const Column &c = d->columns[size_t(col)];
    if (c.type == FieldType::Float)
        return c.floats[size_t(row)];
    if (c.type == FieldType::Integer) {
        const qint64 v = c.ints[size_t(row)];
        return v == kNullInt ? 0.0 : double(v);
    }
    throw WireError(QStringLiteral("Campo %1 não é numérico.").arg(d->fields[col].name));
}

bool Packet::boolean(int row, int col) const
{
    checkCell(row, col);
    const Column &c = d->columns[size_t(col)];
    if (c.type != FieldType::Boolean)
        throw WireError(QStringLiteral("Campo %1 não é lógico.").arg(d->fields[col].name));
    return c.ints[size_t(row)] == 1;
}

QDate Packet::date(int row, int col) const
{
    checkCell(row, col);
    const Column &c = d->columns[size_t(col)];
    const qint64 v = c.type == FieldType::Date || c.type == FieldType::DateTime
                         ? c.ints[size_t(row)]
                         : throw WireError(QStringLiteral("Campo %1 não é data.").arg(d->fields[col].name));
    if (v == kNullInt)
        return {};
    if (c.type == FieldType::Date)
        return kEpoch.addDays(v);
    return QDateTime::fromSecsSinceEpoch(v, Qt::UTC).date();
}

QDateTime Packet::dateTime(int row, int col) const
{
    checkCell(row, col);
    const Column &c = d->columns[size_t(col)];
    if (c.type == FieldType::Date) {
        const QDate dt = date(row, col);
        return dt.isValid() ? dt.startOfDay(Qt::UTC) : QDateTime();
    }
    if (c.type != FieldType::DateTime)
        throw WireError(QStringLiteral("Campo %1 não é data.").arg(d->fields[col].name));
    const qint64 v = c.ints[size_t(row)];
    return v == kNullInt ? QDateTime() : QDateTime::fromSecsSinceEpoch(v, Qt::UTC);
}

void Packet::setString(int row, int col, QStringView text)
{
    checkCell(row, col);
    const FieldDef &f = d->fields[col];
    if (!isStringType(f.type))
        throw WireError(QStringLiteral("Campo %1 não é texto.").arg(f.name));
    if (text.size() > f.size)
        throw WireError(QStringLiteral("Valor com %1 caracteres excede o tamanho %2 do campo %3.")
                            .arg(text.size())
                            .arg(f.size)
                            .arg(f.name));
    const QByteArray b = text.toUtf8();
    setUtf8(row, col, b.constData(), b.size());
}

namespace {

// An empty text into a column without any bytes yet copies from or to no storage at all,
// which memcpy does not allow even for no bytes.
void copyBytes(char *to, const char *from, qsizetype size)
{
    if (size > 0)
        std::memcpy(to, from, size_t(size));
}

} // namespace

void Packet::setUtf8(int row, int col, const char *data, qsizetype size)
{
    checkCell(row, col);
    Column &c = d->columns[size_t(col)];
    if (!isStringType(c.type))
        throw WireError(QStringLiteral("Campo %1 não é texto.").arg(d->fields[col].name));
    const size_t r = size_t(row);
    const auto tooBig = [&](size_t total) { checkOffsets(*d, col, total, size_t(size)); };
    // a lookup in an empty map still divides by its bucket count: a cell is read for each
    const auto spilled = c.moved.empty() ? c.moved.end() : c.moved.find(quint32(r));
    if (spilled != c.moved.end()) {
        auto &[at, len] = spilled->second;
        if (quint32(size) > len) {
            tooBig(c.spill.size());
            at = quint32(c.spill.size());
            c.spill.resize(c.spill.size() + size_t(size));
        }
        copyBytes(c.spill.data() + at, data, size);
        len = quint32(size);
    } else if (c.even() && !c.sized) {
        tooBig(c.count() * size_t(size) - size_t(size));
        c.takeWidth(size);
        copyBytes(c.arena.data() + c.start(r), data, size);
    } else if (c.length(r) == quint32(size)) {
        // the same length in place: marking a row rewrites one character
        copyBytes(c.arena.data() + c.start(r), data, size);
    } else if (r + 1 == c.count()) {
        if (c.even()) {
            tooBig(c.arena.size()); // every offset must fit
            c.uneven();
        }
        // the last row (a packet being filled) grows or shrinks at the arena's end
        tooBig(c.start(r));
        c.arena.resize(c.start(r) + size_t(size));
        copyBytes(c.arena.data() + c.start(r), data, size);
        c.end[r] = quint32(c.arena.size());
    } else {
        tooBig(c.spill.size());
        c.moved[quint32(r)] = {quint32(c.spill.size()), quint32(size)};
        c.spill.insert(c.spill.end(), data, data + size);
    }
    c.sized = true;
    c.null[r] = false;
}

void Packet::setNumber(int row, int col, double value)
{
    checkCell(row, col);
    Column &c = d->columns[size_t(col)];
    if (c.type == FieldType::Float) {
        c.floats[size_t(row)] = value;
        c.floatNull[size_t(row)] = false;
    } else if (c.type == FieldType::Integer) {
        // outside the 64-bit range the conversion itself is undefined; the lowest value is null
        constexpr double kLimit = 9223372036854775808.0; // 2^63
        if (!(value > -kLimit && value < kLimit) || value != std::trunc(value))
            throw WireError(QStringLiteral("Valor %1 não é inteiro para o campo %2.").arg(value).arg(d->fields[col].name));
        c.ints[size_t(row)] = qint64(value);
    } else {
        throw WireError(QStringLiteral("Campo %1 não é numérico.").arg(d->fields[col].name));
    }
}

void Packet::setBoolean(int row, int col, bool value)
{
    checkCell(row, col);
    Column &c = d->columns[size_t(col)];
    if (c.type != FieldType::Boolean)
        throw WireError(QStringLiteral("Campo %1 não é lógico.").arg(d->fields[col].name));
    c.ints[size_t(row)] = value ? 1 : 0;
}

void Packet::setDate(int row, int col, QDate value)
{
    checkCell(row, col);
    Column &c = d->columns[size_t(col)];
    if (c.type == FieldType::DateTime) {
        setDateTime(row, col, value.isValid() ? value.startOfDay(Qt::UTC) : QDateTime());
        return;
    }
    if (c.type != FieldType::Date)
        throw WireError(QStringLiteral("Campo %1 não é data.").arg(d->fields[col].name));
    c.ints[size_t(row)] = value.isValid() ? kEpoch.daysTo(value) : kNullInt;
}

void Packet::setDateTime(int row, int col, const QDateTime &value)
{
    checkCell(row, col);
    Column &c = d->columns[size_t(col)];
    if (c.type == FieldType::Date) {
        setDate(row, col, value.isValid() ? value.date() : QDate());
        return;
    }
    if (c.type != FieldType::DateTime)
        throw WireError(QStringLiteral("Campo %1 não é data.").arg(d->fields[col].name));
    if (!value.isValid()) {
        c.ints[size_t(row)] = kNullInt;
        return;
    }
    // the wall-clock reading is what travels; keep it as if it were UTC
    const QDateTime wall(value.date(), value.time(), Qt::UTC);
    c.ints[size_t(row)] = wall.toSecsSinceEpoch();
}

qsizetype Packet::byteSize() const
{
    qsizetype n = 0;
    for (const Column &c : d->columns)
        n += c.bytes();
    return n;
}

// ---- fitting

namespace {

int indexIn(const QList<FieldDef> &fields, QStringView name)
{
    for (qsizetype i = 0; i < fields.size(); ++i)
        if (sameFieldName(fields[i].name, name))
            return int(i);
    return -1;
}

} // namespace

Packet fitPacket(const Packet &packet, const QList<FieldDef> &fields, const QString &owner)
{
    const QList<FieldDef> &given = packet.fields();
    // what the server sends is nearly always these very fields in this order
    if (given == fields)
        return packet;
    for (const FieldDef &pf : given)
        if (indexIn(fields, pf.name) < 0)
            throw WireError(QStringLiteral("O pacote de dados traz o campo %1, que o conjunto de dados %2 não tem.")
                                .arg(pf.name, owner));
    QList<int> source;
    source.reserve(fields.size());
    bool sameOrder = given.size() == fields.size();
    for (const FieldDef &f : fields) {
        const int col = packet.indexOf(f.name);
        if (col < 0)
            throw WireError(QStringLiteral("Falta o campo %1 de %2 no pacote de dados.").arg(f.name, owner));
        const FieldDef &pf = given.at(col);
        if (pf.type != f.type || pf.size != f.size)
            throw WireError(QStringLiteral("O campo %1 é %2 (%3) no pacote de dados e %4 (%5) no conjunto de dados %6.")
                                .arg(f.name, fieldTypeName(pf.type))
                                .arg(pf.size)
                                .arg(fieldTypeName(f.type))
                                .arg(f.size)
                                .arg(owner));
        sameOrder = sameOrder && col == source.size();
        source.append(col);
    }
    if (sameOrder)
        return packet;
    Packet ordered(fields);
    ordered.reserve(packet.rowCount());
    for (int r = 0; r < packet.rowCount(); ++r) {
        const int row = ordered.appendRow();
        for (int c = 0; c < source.size(); ++c)
            ordered.setValue(row, c, packet.value(r, source[c]));
    }
    return ordered;
}

} // namespace erp::wire
