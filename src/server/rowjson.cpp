#include "rowjson.h"
#include "textutil.h"

#include <erpwire/json.h>

namespace erp::server {

using wire::FieldType;

namespace {

void appendString(QByteArray &out, std::string_view text, int size)
{
    if (text.size() > size_t(size) && utf8Length(text) > size_t(size)) {
        const std::string cut = truncateUtf8(std::string(text), size_t(size));
        wire::appendJsonUtf8String(out, cut.data(), qsizetype(cut.size()));
        return;
    }
    wire::appendJsonUtf8String(out, text.data(), qsizetype(text.size()));
}

// Dates come as "YYYY-MM-DD", time stamps as "YYYY-MM-DD hh:mm:ss[.fff]".
void appendDateTime(QByteArray &out, std::string_view text, bool withTime)
{
    if (text.size() < 10) {
        out.append("null");
        return;
    }
    out.append('"').append(text.data(), 10);
    if (withTime) {
        if (text.size() >= 19)
            out.append('T').append(text.data() + 11, 8);
        else
            out.append("T00:00:00");
    }
    out.append('"');
}

} // namespace

void appendRowJson(QByteArray &out, const db::Statement &st, const QList<wire::FieldDef> &layout)
{
    out.append('[');
    for (int c = 0; c < layout.size(); ++c) {
        if (c)
            out.append(',');
        if (st.isNull(c)) {
            out.append("null");
            continue;
        }
        const wire::FieldDef &f = layout[c];
        switch (f.type) {
        case FieldType::String:
        case FieldType::FixedString: appendString(out, st.text(c), f.size); break;
        case FieldType::Float:
        case FieldType::Integer: wire::appendJsonNumber(out, st.real(c)); break;
        case FieldType::Boolean: out.append(st.integer(c) ? "true" : "false"); break;
        case FieldType::Date: appendDateTime(out, st.text(c), false); break;
        case FieldType::DateTime: appendDateTime(out, st.text(c), true); break;
        }
    }
    out.append(']');
}

PacketWriter::PacketWriter(QByteArray &out, const QList<wire::FieldDef> &layout) : m_out(out), m_layout(layout)
{
    m_out.append("{\"fields\":");
    wire::appendFieldsJson(m_out, layout);
    m_out.append(",\"rows\":[");
}

void PacketWriter::next()
{
    if (m_col == 0)
        m_out.append(m_anyRow ? ",[" : "[");
    else
        m_out.append(',');
    m_anyRow = true;
}

void PacketWriter::done()
{
    if (++m_col == m_layout.size()) {
        m_out.append(']');
        m_col = 0;
    }
}

void PacketWriter::string(std::string_view text)
{
    next();
    appendString(m_out, text, m_layout[m_col].size);
    done();
}

void PacketWriter::number(double value)
{
    next();
    wire::appendJsonNumber(m_out, value);
    done();
}

void PacketWriter::date(std::string_view isoDate)
{
    next();
    appendDateTime(m_out, isoDate, m_layout[m_col].type == FieldType::DateTime);
    done();
}

void PacketWriter::null()
{
    next();
    m_out.append("null");
    done();
}

void PacketWriter::finish() { m_out.append("]}"); }

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
    bool first = true;
    while (st.next()) {
        if (!first)
            out.append(',');
        first = false;
        appendRowJson(out, st, layout);
    }
    out.append("]}");
}

} // namespace erp::server
