#include "db.h"
#include "db_backends.h"

#include <erpdb/dburl.h>

#include <charconv>
#include <cstdlib>

namespace erp::server::db {

DbUrl DbUrl::parse(std::string_view url)
{
    const DatabaseUrl parsed = DatabaseUrl::parse(url);
    DbUrl u;
    u.kind = parsed.kind == DatabaseUrl::Kind::Sqlite ? Kind::Sqlite : Kind::Postgres;
    u.path = parsed.path;
    if (u.kind == Kind::Postgres)
        u.conninfo = parsed.url;
    u.text = parsed.text;
    return u;
}

std::string centsText(std::int64_t cents)
{
    const bool negative = cents < 0;
    const std::uint64_t abs = negative ? std::uint64_t(-(cents + 1)) + 1 : std::uint64_t(cents);
    std::string s = std::to_string(abs / 100);
    const unsigned frac = unsigned(abs % 100);
    s += '.';
    s += char('0' + frac / 10);
    s += char('0' + frac % 10);
    return negative ? "-" + s : s;
}

void Statement::bindAll(std::initializer_list<Value> values)
{
    int i = 1;
    for (const Value &v : values)
        bind(i++, v);
}

double Statement::real(int col) const
{
    const std::string_view t = text(col);
    double v = 0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (res.ec != std::errc())
        throw DbError("Valor numérico inválido lido do banco: \"" + std::string(t) + "\"");
    return v;
}

std::int64_t Statement::integer(int col) const
{
    const std::string_view t = text(col);
    std::int64_t v = 0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), v);
    if (res.ec != std::errc()) {
        // SQLite may hand back an integral column as "12.0".
        return std::int64_t(real(col));
    }
    return v;
}

Statement &Connection::prepare(const std::string &sql)
{
    auto it = m_statements.find(sql);
    if (it == m_statements.end())
        it = m_statements.emplace(sql, makeStatement(sql)).first;
    it->second->reset();
    return *it->second;
}

void Connection::commit()
{
    execScript("COMMIT");
    m_inTransaction = false;
}

void Connection::rollback()
{
    m_inTransaction = false;
    execScript("ROLLBACK");
}

std::unique_ptr<Connection> connect(const DbUrl &url)
{
    return url.kind == Kind::Sqlite ? connectSqlite(url.path, url.timeout)
                                    : connectPostgres(url.conninfo, url.text, url.timeout);
}

std::string queryText(Connection &c, const std::string &sql, std::initializer_list<Value> params)
{
    Statement &st = c.prepare(sql);
    st.bindAll(params);
    std::string out = st.next() && !st.isNull(0) ? st.string(0) : std::string();
    st.reset();
    return out;
}

std::int64_t queryInt(Connection &c, const std::string &sql, std::initializer_list<Value> params)
{
    Statement &st = c.prepare(sql);
    st.bindAll(params);
    const std::int64_t out = st.next() && !st.isNull(0) ? st.integer(0) : 0;
    st.reset();
    return out;
}

} // namespace erp::server::db
