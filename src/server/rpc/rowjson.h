#pragma once

#include "server/db/db.h"

#include <erpwire/packet.h>

#include <QByteArray>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace erp::server {

// The fields of a packet row as a statement gives them: each field is the statement's next
// column, or a text the same in every row that the database need not send (a list's mark, the
// company it was asked for). Fixed fields are string fields; one at least is read.
class RowShape
{
public:
    explicit RowShape(const QList<wire::FieldDef> &layout, const std::map<int, std::string> &fixed = {});
    const QList<wire::FieldDef> &layout() const { return *m_layout; }
    int column(int field) const { return m_column[size_t(field)]; } // -1 for a fixed field
    const std::string &fixed(int field) const { return m_fixed[size_t(field)]; }
    int columns() const { return m_columns; } // read from the statement

private:
    const QList<wire::FieldDef> *m_layout;
    std::vector<int> m_column;
    std::vector<std::string> m_fixed;
    int m_columns = 0;
};

// Appends the current row of st as a packet row of the shape. Strings longer than their field
// are cut to it, so the packet always loads.
void appendRowJson(QByteArray &out, const db::Statement &st, const RowShape &shape);

// Rows of a statement copied out as appendRowJson reads them, so that one thread can step the
// statement while another writes the JSON of the rows already read.
class RowBatch
{
public:
    explicit RowBatch(const RowShape &shape) : m_shape(&shape) {}
    void copyRow(const db::Statement &st);
    size_t rows() const { return m_cells.size() / size_t(m_shape->columns()); }
    void clear();
    void appendRowJson(QByteArray &out, size_t row) const;

private:
    struct Cell // 16 bytes: a long list keeps a few batches of these in memory
    {
        std::int64_t word = 0; // the integer, the real's bits, or where the text starts in m_text
        std::uint32_t size = 0; // of the text
        bool null = false;
    };
    friend class BatchRow;
    const RowShape *m_shape;
    std::vector<Cell> m_cells;
    std::string m_text;
};

// A packet written value by value, in the layout's order; strings are cut to their field.
// Cells are written straight into out's memory: until finish(), out also holds the room not yet
// written, and nothing else may append to it.
class PacketWriter
{
public:
    PacketWriter(QByteArray &out, const QList<wire::FieldDef> &layout);
    ~PacketWriter();
    PacketWriter(const PacketWriter &) = delete;
    PacketWriter &operator=(const PacketWriter &) = delete;
    void string(std::string_view text);
    void number(double value);
    void cents(std::int64_t value); // what number(value / 100.0) writes
    void date(std::string_view isoDate); // as the field's type wants it
    void null();
    void finish();

private:
    char *cell(qsizetype bytes); // the separator written, room for bytes more
    void done(char *end);
    QByteArray &m_out;
    const QList<wire::FieldDef> &m_layout;
    qsizetype m_end = 0; // of what is written
    int m_col = 0;
    bool m_anyRow = false;
    bool m_finished = false;
};

// ["a","b",...]: a list bound as one parameter (see Connection::jsonTextList).
std::string jsonStringArray(const std::vector<std::string> &values);

// A whole packet from every row of st.
void appendPacketJson(QByteArray &out, db::Statement &st, const QList<wire::FieldDef> &layout);

} // namespace erp::server
