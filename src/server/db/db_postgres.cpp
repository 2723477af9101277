#include "db.h"
#include "db_backends.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>
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
    const auto reason = isLockState(state)                       ? DbError::Reason::LockConflict
                        : state && !std::strcmp(state, "57014") ? DbError::Reason::Timeout // statement_timeout
                                                                : DbError::Reason::Other;
    PQclear(res);
    throw DbError(msg, reason);
}

// The connection's socket, nonblocking, with a deadline on every wait: a server that stops
// answering (stopped, cut off) fails the statement with a timeout instead of holding the call
// for ever, and the connection is given up. The server's own statement_timeout cannot help
// when it is the server that stopped.
class PgLink
{
public:
    PgLink(PGconn *conn, std::chrono::milliseconds timeout) : m_conn(conn), m_timeout(timeout) {}
    PGconn *conn() const { return m_conn; }
    bool timedOut() const { return m_timedOut; }

    // Sends what libpq holds for the server.
    void flush()
    {
        for (;;) {
            const int r = PQflush(m_conn);
            if (r == 0)
                return;
            if (r < 0)
                failResult(nullptr, m_conn, "Erro ao enviar ao PostgreSQL");
            if (wait(POLLOUT | POLLIN) & POLLIN)
                consume();
        }
    }
    // The next result of the command under way; null once it is complete.
    PGresult *result()
    {
        flush();
        while (PQisBusy(m_conn)) {
            wait(POLLIN);
            consume();
        }
        return PQgetResult(m_conn);
    }
    void drain()
    {
        while (PGresult *r = result())
            PQclear(r);
    }
    // The results of a command sent whole; the first failure is thrown after the rest is read.
    void finish(const std::string &what, ExecStatusType expected = PGRES_COMMAND_OK)
    {
        PGresult *failed = nullptr;
        while (PGresult *r = result()) {
            const ExecStatusType st = PQresultStatus(r);
            if (!failed && st != expected && st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
                failed = r;
            else
                PQclear(r);
        }
        if (failed)
            failResult(failed, m_conn, what);
    }
    // COPY data, waiting while libpq's buffer is full.
    void putCopyData(const char *data, int size)
    {
        for (;;) {
            const int r = PQputCopyData(m_conn, data, size);
            if (r == 1)
                return;
            if (r < 0)
                failResult(nullptr, m_conn, "Erro ao enviar carga");
            if (wait(POLLOUT | POLLIN) & POLLIN)
                consume();
            flush();
        }
    }
    void putCopyEnd(const char *error)
    {
        for (;;) {
            const int r = PQputCopyEnd(m_conn, error);
            if (r == 1)
                return flush();
            if (r < 0)
                failResult(nullptr, m_conn, "Erro ao concluir carga");
            wait(POLLOUT);
        }
    }

private:
    void consume()
    {
        if (!PQconsumeInput(m_conn))
            failResult(nullptr, m_conn, "Conexão com o PostgreSQL perdida");
    }
    short wait(short events)
    {
        if (m_timedOut)
            throw DbError("Conexão com o PostgreSQL abandonada após um tempo esgotado", DbError::Reason::Timeout);
        pollfd p{PQsocket(m_conn), events, 0};
        const int ms = m_timeout.count() > 0 ? int(m_timeout.count()) : -1;
        for (;;) {
            const int rc = poll(&p, 1, ms);
            if (rc > 0)
                return p.revents & (POLLERR | POLLHUP) ? short(POLLIN) : p.revents; // libpq reads the error
            if (rc == 0) {
                m_timedOut = true;
                throw DbError("O PostgreSQL não respondeu em " + std::to_string(m_timeout.count()) + " ms",
                              DbError::Reason::Timeout);
            }
            if (errno != EINTR)
                throw DbError(std::string("Erro ao esperar o PostgreSQL: ") + std::strerror(errno));
        }
    }

    PGconn *m_conn;
    std::chrono::milliseconds m_timeout;
    bool m_timedOut = false;
};

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
    PgStatement(PgLink &link, const std::string &sql, const std::string &name)
        : m_link(link), m_conn(link.conn()), m_name(name)
    {
        int count = 0;
        const std::string text = numberPlaceholders(sql, count);
        if (!PQsendPrepare(m_conn, name.c_str(), text.c_str(), 0, nullptr))
            failResult(nullptr, m_conn, "Erro ao preparar comando SQL");
        m_link.finish("Erro ao preparar comando SQL");
        m_values.resize(size_t(count));
        m_nulls.assign(size_t(count), true);
    }
    ~PgStatement() override
    {
        reset();
        if (m_link.timedOut() || PQstatus(m_conn) != CONNECTION_OK)
            return;
        const std::string sql = "DEALLOCATE \"" + m_name + "\"";
        try {
            if (PQsendQuery(m_conn, sql.c_str()))
                m_link.drain();
        } catch (const DbError &) {
        }
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
        m_row = nullptr;
        m_row = m_link.result();
        const ExecStatusType st = PQresultStatus(m_row);
        if (st == PGRES_SINGLE_TUPLE)
            return true;
        PGresult *last = m_row;
        m_row = nullptr;
        m_finished = true;
        if (st == PGRES_TUPLES_OK || st == PGRES_COMMAND_OK) {
            PQclear(last);
            m_link.drain();
            return false;
        }
        try {
            m_link.drain();
        } catch (const DbError &) {
            PQclear(last);
            throw;
        }
        failResult(last, m_conn, "Erro ao executar comando SQL");
    }

    std::int64_t exec() override
    {
        discardResult();
        std::vector<const char *> params = paramPointers();
        if (!PQsendQueryPrepared(m_conn, m_name.c_str(), int(params.size()), params.data(), nullptr, nullptr, 0))
            failResult(nullptr, m_conn, "Erro ao executar comando SQL");
        PGresult *res = m_link.result();
        const ExecStatusType st = PQresultStatus(res);
        if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
            m_link.drain();
            failResult(res, m_conn, "Erro ao executar comando SQL");
        }
        const char *n = PQcmdTuples(res);
        const std::int64_t changed = n && *n ? std::atoll(n) : 0;
        PQclear(res);
        m_link.drain();
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
        if (m_started && !m_finished) {
            try {
                m_link.drain();
            } catch (const DbError &) {
                // the link is given up; the pool will not hand it on
            }
        }
        m_started = m_finished = false;
    }

    PgLink &m_link;
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
    PgBulk(PgLink &link, const std::string &table, const std::vector<std::string> &columns)
        : m_link(link), m_conn(link.conn())
    {
        std::string sql = "COPY " + table + " (";
        for (size_t i = 0; i < columns.size(); ++i)
            sql += (i ? "," : "") + columns[i];
        sql += ") FROM STDIN";
        if (!PQsendQuery(m_conn, sql.c_str()))
            failResult(nullptr, m_conn, "Erro ao iniciar carga em " + table);
        PGresult *res = m_link.result();
        if (PQresultStatus(res) != PGRES_COPY_IN) {
            m_link.drain();
            failResult(res, m_conn, "Erro ao iniciar carga em " + table);
        }
        PQclear(res);
        m_buf.reserve(kFlushAt + 4096);
    }
    ~PgBulk() override
    {
        if (!m_done && !m_link.timedOut()) {
            try {
                m_link.putCopyEnd("carga interrompida");
                m_link.drain();
            } catch (const DbError &) {
            }
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
        m_link.putCopyEnd(nullptr);
        m_link.finish("Erro na carga de dados");
    }

private:
    static constexpr size_t kFlushAt = 1 << 18;
    void flush()
    {
        if (!m_buf.empty())
            m_link.putCopyData(m_buf.data(), int(m_buf.size()));
        m_buf.clear();
    }

    PgLink &m_link;
    PGconn *m_conn;
    std::string m_buf;
    bool m_rowStart = true;
    bool m_done = false;
};

class PgConnection final : public Connection
{
public:
    PgConnection(const std::string &conninfo, const std::string &display, std::chrono::milliseconds timeout)
    {
        // A dead host or a stopped server is given up on at connection too, and a peer that
        // vanished without a word is found by the keepalives.
        const std::string connectTimeout =
            std::to_string(std::clamp<long long>(std::chrono::duration_cast<std::chrono::seconds>(timeout).count(), 2, 10));
        const char *keys[] = {"dbname", "connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval",
                              "keepalives_count", nullptr};
        const char *values[] = {conninfo.c_str(), connectTimeout.c_str(), "1", "30", "10", "3", nullptr};
        if (timeout.count() <= 0)
            keys[1] = nullptr; // libpq's own default: wait as long as the system does
        m_conn = PQconnectdbParams(keys, values, 1);
        if (PQstatus(m_conn) != CONNECTION_OK) {
            std::string msg = PQerrorMessage(m_conn);
            while (!msg.empty() && msg.back() == '\n')
                msg.pop_back();
            PQfinish(m_conn);
            throw DbError("Não foi possível conectar ao PostgreSQL " + display + ": " + msg);
        }
        PQsetNoticeProcessor(m_conn, [](void *, const char *) {}, nullptr);
        PQsetnonblocking(m_conn, 1);
        m_link = std::make_unique<PgLink>(m_conn, timeout);
        // The pages the server reads are cached or on solid state: priced as on spinning disks,
        // a short account list was read whole and sorted by name, three times the time of its key.
        std::string setup =
            "SET client_encoding = 'UTF8'; SET DateStyle = 'ISO, YMD'; SET TimeZone = 'UTC'; SET random_page_cost = 1.1";
        if (timeout.count() > 0)
            setup += "; SET statement_timeout = " + std::to_string(timeout.count());
        execScript(setup);
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
        if (PQstatus(m_conn) != CONNECTION_OK || m_link->timedOut())
            return true;
        pollfd p{PQsocket(m_conn), POLLIN, 0};
        return poll(&p, 1, 0) != 0;
    }

    void execScript(const std::string &sql) override
    {
        if (!PQsendQuery(m_conn, sql.c_str()))
            failResult(nullptr, m_conn, "Erro no PostgreSQL");
        m_link->finish("Erro no PostgreSQL");
    }

    std::unique_ptr<BulkWriter> bulk(const std::string &table, const std::vector<std::string> &columns) override
    {
        return std::make_unique<PgBulk>(*m_link, table, columns);
    }

    void begin(TxMode mode) override
    {
        // A writer never waits long on a row another process holds: it is refused instead.
        execScript(mode == TxMode::Read ? "BEGIN" : "BEGIN; SET LOCAL lock_timeout = '10s'");
        m_inTransaction = true;
    }

    std::string lockRowsNoWait(const std::string &alias) const override { return " FOR UPDATE OF " + alias + " NOWAIT"; }

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
        return std::make_unique<PgStatement>(*m_link, sql, "s" + std::to_string(++m_statementCount));
    }

private:
    PGconn *m_conn = nullptr;
    std::unique_ptr<PgLink> m_link;
    int m_statementCount = 0;
};

} // namespace

std::unique_ptr<Connection> connectPostgres(const std::string &conninfo, const std::string &displayUrl,
                                            std::chrono::milliseconds timeout)
{
    return std::make_unique<PgConnection>(conninfo, displayUrl, timeout);
}

} // namespace erp::server::db
