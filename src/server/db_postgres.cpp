#include "db.h"
#include "db_backends.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstring>
#include <poll.h>

namespace erp::server::db {

namespace {

bool isLockState(const char *state)
{
    // lock_not_available, serialization_failure, deadlock_detected
    return state && (!std::strcmp(state, "55P03") || !std::strcmp(state, "40001") || !std::strcmp(state, "40P01"));
}

[[noreturn]] void failResult(PGresult *res, PGconn *conn, const std::string &what)
{
    const char *state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
    std::string msg = what + ": " + (res ? PQresultErrorMessage(res) : PQerrorMessage(conn));
    while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' '))
        msg.pop_back();
    const bool lock = isLockState(state);
    PQclear(res);
    throw DbError(msg, lock ? DbError::Reason::LockConflict : DbError::Reason::Other);
}

void drain(PGconn *conn)
{
    while (PGresult *r = PQgetResult(conn))
        PQclear(r);
}

// `?` placeholders become $1, $2, ... (quoted text is left alone).
std::string numberPlaceholders(const std::string &sql, int &count)
{
    std::string out;
    out.reserve(sql.size() + 16);
    char quote = 0;
    count = 0;
    for (char ch : sql) {
        if (quote) {
            if (ch == quote)
                quote = 0;
            out += ch;
        } else if (ch == '\'' || ch == '"') {
            quote = ch;
            out += ch;
        } else if (ch == '?') {
            out += '$' + std::to_string(++count);
        } else {
            out += ch;
        }
    }
    return out;
}

void appendNumber(std::string &out, double v)
{
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

std::string valueText(const Value &value, bool &isNull)
{
    isNull = false;
    if (std::holds_alternative<std::monostate>(value)) {
        isNull = true;
        return {};
    }
    if (const auto *s = std::get_if<std::string>(&value))
        return *s;
    std::string out;
    if (const auto *d = std::get_if<double>(&value))
        appendNumber(out, *d);
    else
        out = std::to_string(std::get<std::int64_t>(value));
    return out;
}

class PgStatement final : public Statement
{
public:
    PgStatement(PGconn *conn, const std::string &sql, const std::string &name) : m_conn(conn), m_name(name)
    {
        int count = 0;
        const std::string text = numberPlaceholders(sql, count);
        PGresult *res = PQprepare(conn, name.c_str(), text.c_str(), 0, nullptr);
        if (PQresultStatus(res) != PGRES_COMMAND_OK)
            failResult(res, conn, "Erro ao preparar comando SQL");
        PQclear(res);
        m_values.resize(size_t(count));
        m_nulls.assign(size_t(count), true);
    }
    ~PgStatement() override
    {
        reset();
        const std::string sql = "DEALLOCATE \"" + m_name + "\"";
        PQclear(PQexec(m_conn, sql.c_str()));
    }

    void bind(int index, const Value &value) override
    {
        if (index < 1 || size_t(index) > m_values.size())
            throw DbError("Parâmetro " + std::to_string(index) + " fora do comando SQL");
        bool isNull = false;
        m_values[size_t(index - 1)] = valueText(value, isNull);
        m_nulls[size_t(index - 1)] = isNull;
    }

    bool next() override
    {
        if (m_finished)
            return false;
        if (!m_started) {
            std::vector<const char *> params = paramPointers();
            if (!PQsendQueryPrepared(m_conn, m_name.c_str(), int(params.size()), params.data(), nullptr, nullptr, 0))
                failResult(nullptr, m_conn, "Erro ao executar comando SQL");
            PQsetSingleRowMode(m_conn);
            m_started = true;
        }
        PQclear(m_row);
        m_row = PQgetResult(m_conn);
        const ExecStatusType st = PQresultStatus(m_row);
        if (st == PGRES_SINGLE_TUPLE)
            return true;
        PGresult *last = m_row;
        m_row = nullptr;
        m_finished = true;
        if (st == PGRES_TUPLES_OK || st == PGRES_COMMAND_OK) {
            PQclear(last);
            drain(m_conn);
            return false;
        }
        drain(m_conn);
        failResult(last, m_conn, "Erro ao executar comando SQL");
    }

    std::int64_t exec() override
    {
        discardResult();
        std::vector<const char *> params = paramPointers();
        PGresult *res = PQexecPrepared(m_conn, m_name.c_str(), int(params.size()), params.data(), nullptr, nullptr, 0);
        const ExecStatusType st = PQresultStatus(res);
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
            failResult(res, m_conn, "Erro ao executar comando SQL");
        const char *n = PQcmdTuples(res);
        const std::int64_t changed = n && *n ? std::atoll(n) : 0;
        PQclear(res);
        clearBindings();
        return changed;
    }

    void reset() override
    {
        discardResult();
        clearBindings();
    }

    bool isNull(int col) const override { return PQgetisnull(m_row, 0, col); }
    std::string_view text(int col) const override
    {
        return std::string_view(PQgetvalue(m_row, 0, col), size_t(PQgetlength(m_row, 0, col)));
    }

private:
    std::vector<const char *> paramPointers() const
    {
        std::vector<const char *> p(m_values.size());
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = m_nulls[i] ? nullptr : m_values[i].c_str();
        return p;
    }
    void clearBindings() { m_nulls.assign(m_nulls.size(), true); }
    void discardResult()
    {
        PQclear(m_row);
        m_row = nullptr;
        if (m_started && !m_finished)
            drain(m_conn);
        m_started = m_finished = false;
    }

    PGconn *m_conn;
    std::string m_name;
    std::vector<std::string> m_values;
    std::vector<bool> m_nulls;
    PGresult *m_row = nullptr;
    bool m_started = false;
    bool m_finished = false;
};

class PgBulk final : public BulkWriter
{
public:
    PgBulk(PGconn *conn, const std::string &table, const std::vector<std::string> &columns) : m_conn(conn)
    {
        std::string sql = "COPY " + table + " (";
        for (size_t i = 0; i < columns.size(); ++i)
            sql += (i ? "," : "") + columns[i];
        sql += ") FROM STDIN";
        PGresult *res = PQexec(conn, sql.c_str());
        if (PQresultStatus(res) != PGRES_COPY_IN)
            failResult(res, conn, "Erro ao iniciar carga em " + table);
        PQclear(res);
        m_buf.reserve(kFlushAt + 4096);
    }
    ~PgBulk() override
    {
        if (!m_done) {
            PQputCopyEnd(m_conn, "carga interrompida");
            drain(m_conn);
        }
    }

    void add(const Value &value) override
    {
        if (!m_rowStart)
            m_buf += '\t';
        m_rowStart = false;
        if (std::holds_alternative<std::monostate>(value)) {
            m_buf += "\\N";
        } else if (const auto *s = std::get_if<std::string>(&value)) {
            for (char ch : *s) {
                switch (ch) {
                case '\\': m_buf += "\\\\"; break;
                case '\t': m_buf += "\\t"; break;
                case '\n': m_buf += "\\n"; break;
                case '\r': m_buf += "\\r"; break;
                default: m_buf += ch;
                }
            }
        } else if (const auto *d = std::get_if<double>(&value)) {
            appendNumber(m_buf, *d);
        } else {
            m_buf += std::to_string(std::get<std::int64_t>(value));
        }
    }

    void endRow() override
    {
        m_buf += '\n';
        m_rowStart = true;
        if (m_buf.size() >= kFlushAt)
            flush();
    }

    void finish() override
    {
        flush();
        m_done = true;
        if (PQputCopyEnd(m_conn, nullptr) != 1)
            failResult(nullptr, m_conn, "Erro ao concluir carga");
        PGresult *res = PQgetResult(m_conn);
        if (PQresultStatus(res) != PGRES_COMMAND_OK) {
            drain(m_conn);
            failResult(res, m_conn, "Erro na carga de dados");
        }
        PQclear(res);
        drain(m_conn);
    }

private:
    static constexpr size_t kFlushAt = 1 << 18;
    void flush()
    {
        if (!m_buf.empty() && PQputCopyData(m_conn, m_buf.data(), int(m_buf.size())) != 1)
            failResult(nullptr, m_conn, "Erro ao enviar carga");
        m_buf.clear();
    }

    PGconn *m_conn;
    std::string m_buf;
    bool m_rowStart = true;
    bool m_done = false;
};

class PgConnection final : public Connection
{
public:
    PgConnection(const std::string &conninfo, const std::string &display)
    {
        m_conn = PQconnectdb(conninfo.c_str());
        if (PQstatus(m_conn) != CONNECTION_OK) {
            std::string msg = PQerrorMessage(m_conn);
            while (!msg.empty() && msg.back() == '\n')
                msg.pop_back();
            PQfinish(m_conn);
            throw DbError("Não foi possível conectar ao PostgreSQL " + display + ": " + msg);
        }
        PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
        execScript("SET client_encoding = 'UTF8'; SET DateStyle = 'ISO, YMD'; SET TimeZone = 'UTC'");
    }
    ~PgConnection() override
    {
        dropStatements();
        PQfinish(m_conn);
    }

    Kind kind() const override { return Kind::Postgres; }

    bool broken() override
    {
        // Idle, a connection is sent nothing unasked but the notice of its end and the EOF.
        if (PQstatus(m_conn) != CONNECTION_OK)
            return true;
        pollfd p{PQsocket(m_conn), POLLIN, 0};
        return poll(&p, 1, 0) != 0;
    }

    void execScript(const std::string &sql) override
    {
        PGresult *res = PQexec(m_conn, sql.c_str());
        const ExecStatusType st = PQresultStatus(res);
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
            failResult(res, m_conn, "Erro no PostgreSQL");
        PQclear(res);
    }

    std::unique_ptr<BulkWriter> bulk(const std::string &table, const std::vector<std::string> &columns) override
    {
        return std::make_unique<PgBulk>(m_conn, table, columns);
    }

    void begin(TxMode mode) override
    {
        // A writer never waits long on a row another process holds: it is refused instead.
        execScript(mode == TxMode::Read ? "BEGIN" : "BEGIN; SET LOCAL lock_timeout = '10s'");
        m_inTransaction = true;
    }

    bool tryLockKeys(const std::vector<std::int64_t> &keys) override
    {
        std::string array = "{";
        for (size_t i = 0; i < keys.size(); ++i)
            array += (i ? "," : "") + std::to_string(keys[i]);
        array += '}';
        return queryInt(*this,
                        "SELECT COUNT(*) FROM unnest(CAST(? AS bigint[])) AS k WHERE NOT pg_try_advisory_xact_lock(k)",
                        {array}) == 0;
    }

    std::string jsonTextList() const override { return "(SELECT json_array_elements_text(CAST(? AS json)) AS V)"; }
    std::string jsonRows(int columns) const override
    {
        std::string s = "(SELECT ";
        for (int i = 0; i < columns; ++i)
            s += (i ? ", " : "") + std::string("e->>") + std::to_string(i) + " AS K" + std::to_string(i);
        return s + " FROM json_array_elements(CAST(? AS json)) AS e)";
    }

protected:
    std::unique_ptr<Statement> makeStatement(const std::string &sql) override
    {
        return std::make_unique<PgStatement>(m_conn, sql, "s" + std::to_string(++m_statementCount));
    }

private:
    PGconn *m_conn = nullptr;
    int m_statementCount = 0;
};

} // namespace

std::unique_ptr<Connection> connectPostgres(const std::string &conninfo, const std::string &displayUrl)
{
    return std::make_unique<PgConnection>(conninfo, displayUrl);
}

} // namespace erp::server::db
