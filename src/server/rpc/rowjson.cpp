#include "rowjson.h"
#include "server/util/textutil.h"

#include <erpwire/json.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace erp::server {

using wire::FieldType;

namespace {

// The text as its field takes it: one longer than the field is cut to it, in cut's storage.
std::string_view fitted(std::string_view text, int size, std::string &cut)
{
    if (text.size() <= size_t(size) || utf8Length(text) <= size_t(size))
        return text;
    cut = truncateUtf8(std::string(text), size_t(size));
    return cut;
}

constexpr qsizetype kDateTimeRoom = 21; // "YYYY-MM-DDThh:mm:ss" with its quotes

// Dates come as "YYYY-MM-DD", time stamps as "YYYY-MM-DD hh:mm:ss[.fff]"; gives the end of
// what it wrote at p.
char *writeDateTime(char *p, std::string_view text, bool withTime)
{
    if (text.size() < 10) {
        std::memcpy(p, "null", 4);
        return p + 4;
    }
    *p++ = '"';
    std::memcpy(p, text.data(), 10);
    p += 10;
    if (withTime) {
        if (text.size() >= 19) {
            *p = 'T';
            std::memcpy(p + 1, text.data() + 11, 8);
        } else {
            std::memcpy(p, "T00:00:00", 9);
        }
        p += 9;
    }
    *p++ = '"';
    return p;
}

bool numeric(FieldType t) { return t == FieldType::Float || t == FieldType::Integer || t == FieldType::Boolean; }

// Row is a statement or a copied row: isNull, integer, real and textOrNull of a column.
template<typename Row>
void writeRow(QByteArray &out, const Row &st, const RowShape &shape)
{
    const QList<wire::FieldDef> &layout = shape.layout();
    // Cells are written through a pointer into room made ahead, and the array resized once a
    // row: a resize a cell was a third of writing a long list.
    qsizetype end = out.size();
    const auto room = [&](qsizetype bytes) {
        bytes += 2; // the separator and the row's closing bracket
        if (out.size() - end < bytes) // room for some 60 rows; the array grows geometrically
            out.resize(end + std::max<qsizetype>(bytes, 16384));
        return out.data() + end;
    };
    char *p = room(1);
    *p++ = '[';
    end = p - out.constData();
    for (int c = 0; c < layout.size(); ++c) {
        const wire::FieldDef &f = layout[c];
        const int col = shape.column(c);
        if (numeric(f.type)) {
            p = room(32);
            if (c)
                *p++ = ',';
            if (st.isNull(col)) {
                std::memcpy(p, "null", 4);
                p += 4;
            } else if (f.type == FieldType::Boolean) {
                const bool b = st.integer(col) != 0;
                std::memcpy(p, b ? "true" : "false", b ? 4 : 5);
                p += b ? 4 : 5;
            } else {
                const double v = st.real(col);
                if (std::isfinite(v)) {
                    p = wire::writeJsonNumber(p, v);
                } else {
                    std::memcpy(p, "null", 4);
                    p += 4;
                }
            }
        } else {
            const std::string_view text = col < 0 ? std::string_view(shape.fixed(c)) : st.textOrNull(col);
            if (!text.data()) {
                p = room(5);
                if (c)
                    *p++ = ',';
                std::memcpy(p, "null", 4);
                p += 4;
            } else if (f.type == FieldType::Date || f.type == FieldType::DateTime) {
                p = room(kDateTimeRoom);
                if (c)
                    *p++ = ',';
                p = writeDateTime(p, text, f.type == FieldType::DateTime);
            } else {
                std::string cut;
                const std::string_view v = fitted(text, f.size, cut);
                p = room(6 * qsizetype(v.size()) + 3);
                if (c)
                    *p++ = ',';
                p = wire::writeJsonUtf8String(p, v.data(), qsizetype(v.size()));
            }
        }
        end = p - out.constData();
    }
    *p++ = ']';
    out.resize(p - out.constData());
}

} // namespace

// What writeRow reads of a copied row: the same calls as of the statement it came from.
class BatchRow
{
public:
    BatchRow(const RowBatch &b, size_t row) : m_cells(&b.m_cells[row * size_t(b.m_shape->columns())]), m_text(b.m_text)
    {}
    bool isNull(int c) const { return m_cells[c].null; }
    std::int64_t integer(int c) const { return m_cells[c].word; }
    double real(int c) const { return std::bit_cast<double>(m_cells[c].word); }
    std::string_view textOrNull(int c) const
    {
        const RowBatch::Cell &cell = m_cells[c];
        return cell.null ? std::string_view() : std::string_view(m_text.data() + cell.word, cell.size);
    }

private:
    const RowBatch::Cell *m_cells;
    const std::string &m_text;
};

RowShape::RowShape(const QList<wire::FieldDef> &layout, const std::map<int, std::string> &fixed)
    : m_layout(&layout), m_column(size_t(layout.size())), m_fixed(size_t(layout.size()))
{
    for (int c = 0; c < layout.size(); ++c) {
        const auto it = fixed.find(c);
        if (it == fixed.end()) {
            m_column[size_t(c)] = m_columns++;
            continue;
        }
        if (!wire::isStringType(layout[c].type))
            throw std::logic_error("RowShape: campo fixo não é texto: " + layout[c].name.toStdString());
        m_column[size_t(c)] = -1;
        m_fixed[size_t(c)] = it->second;
    }
    if (m_columns == 0)
        throw std::logic_error("RowShape: nenhum campo lido do comando");
}

void appendRowJson(QByteArray &out, const db::Statement &st, const RowShape &shape)
{
    writeRow(out, st, shape);
}

void RowBatch::copyRow(const db::Statement &st)
{
    const QList<wire::FieldDef> &layout = m_shape->layout();
    for (int f = 0; f < layout.size(); ++f) {
        const int c = m_shape->column(f);
        if (c < 0)
            continue;
        const FieldType t = layout[f].type;
        Cell cell;
        if (numeric(t)) {
            cell.null = st.isNull(c);
            if (!cell.null && t == FieldType::Boolean)
                cell.word = st.integer(c);
            else if (!cell.null)
                cell.word = std::bit_cast<std::int64_t>(st.real(c));
        } else {
            const std::string_view text = st.textOrNull(c);
            cell.null = !text.data();
            cell.word = std::int64_t(m_text.size());
            cell.size = std::uint32_t(text.size());
            m_text.append(text);
        }
        m_cells.push_back(cell);
    }
}

void RowBatch::clear()
{
    m_cells.clear();
    m_text.clear();
}

void RowBatch::appendRowJson(QByteArray &out, size_t row) const { writeRow(out, BatchRow(*this, row), *m_shape); }

PacketWriter::PacketWriter(QByteArray &out, const QList<wire::FieldDef> &layout) : m_out(out), m_layout(layout)
{
    m_out.append("{\"fields\":");
    wire::appendFieldsJson(m_out, layout);
    m_out.append(",\"rows\":[");
    m_end = m_out.size();
}

PacketWriter::~PacketWriter()
{
    if (!m_finished)
        m_out.resize(m_end);
}

char *PacketWriter::cell(qsizetype bytes)
{
    bytes += 3; // ",[" before, "]" after
    if (m_out.size() - m_end < bytes)
        m_out.resize(std::max(m_end + bytes, m_out.size() * 2)); // grows only here: no copy per cell
    char *p = m_out.data() + m_end;
    if (m_col == 0) {
        if (m_anyRow)
            *p++ = ',';
        *p++ = '[';
        m_anyRow = true;
    } else {
        *p++ = ',';
    }
    return p;
}

void PacketWriter::done(char *end)
{
    if (++m_col == m_layout.size()) {
        *end++ = ']';
        m_col = 0;
    }
    m_end = end - m_out.constData();
}

void PacketWriter::string(std::string_view text)
{
    std::string cut;
    const std::string_view v = fitted(text, m_layout[m_col].size, cut);
    done(wire::writeJsonUtf8String(cell(6 * qsizetype(v.size()) + 2), v.data(), qsizetype(v.size())));
}

void PacketWriter::number(double value)
{
    if (!std::isfinite(value))
        return null();
    done(wire::writeJsonNumber(cell(32), value));
}

void PacketWriter::cents(std::int64_t value)
{
    done(wire::writeJsonCents(cell(32), value));
}

void PacketWriter::date(std::string_view isoDate)
{
    done(writeDateTime(cell(kDateTimeRoom), isoDate, m_layout[m_col].type == FieldType::DateTime));
}

void PacketWriter::null()
{
    char *p = cell(4);
    std::memcpy(p, "null", 4);
    done(p + 4);
}

void PacketWriter::finish()
{
    m_out.resize(m_end);
    m_out.append("]}");
    m_finished = true;
}

std::string jsonStringArray(const std::vector<std::string> &values)
{
    QByteArray out("[");
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            out.append(',');
        wire::appendJsonUtf8String(out, values[i].data(), qsizetype(values[i].size()));
    }
    out.append(']');
    return out.toStdString();
}

void appendPacketJson(QByteArray &out, db::Statement &st, const QList<wire::FieldDef> &layout)
{
    out.append("{\"fields\":");
    wire::appendFieldsJson(out, layout);
    out.append(",\"rows\":[");
    const RowShape shape(layout);
    bool first = true;
    while (st.next()) {
        if (!first)
            out.append(',');
        first = false;
        appendRowJson(out, st, shape);
    }
    out.append("]}");
}

} // namespace erp::server
