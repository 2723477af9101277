#include "db.h"
#include "db_backends.h"

#include <erpdb/sqlitenvl.h>

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace erp::server::db {

namespace {

constexpr int kBusyTimeoutMs = 5000;
// SQLite's own automatic threshold: below it a checkpoint waits for the timer.
constexpr int kCheckpointFrames = 1000;
constexpr auto kCheckpointInterval = std::chrono::seconds(1);
// About 80 MB of 4 KiB pages: past it, readers are holding the WAL back.
constexpr int kLargeWalFrames = 20000;
// A WAL reset keeps the file's size; a commit after one trims it back to this.
constexpr const char *kWalSizeLimit = "PRAGMA journal_size_limit=67108864";

// Shared by the checkpointer and the connections whose commits wake it.
struct WalState
{
    std::mutex mutex;
    std::condition_variable wake;
    bool dirty = false; // committed frames not yet all checkpointed
    bool full = false;  // the WAL passed kCheckpointFrames
    bool stopping = false;
};

int walCommitted(void *arg, sqlite3 *, const char *, int frames)
{
    auto *st = static_cast<WalState *>(arg);
    bool wake = false;
    {
        std::lock_guard lock(st->mutex);
        st->dirty = true;
        if (frames >= kCheckpointFrames && !st->full)
            wake = st->full = true;
    }
    if (wake)
        st->wake.notify_one();
    return SQLITE_OK;
}

DbError::Reason reasonOf(int rc)
{
    const int primary = rc & 0xff;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return DbError::Reason::LockConflict;
    return primary == SQLITE_INTERRUPT ? DbError::Reason::Timeout : DbError::Reason::Other;
}

[[noreturn]] void fail(sqlite3 *db, int rc, const std::string &what)
{
    const std::string msg = what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    throw DbError(msg, reasonOf(rc));
}

// A step that runs past the connection's timeout is interrupted (SQLITE_INTERRUPT).
struct StepClock
{
    std::chrono::milliseconds timeout{0};
    std::chrono::steady_clock::time_point start;
    void restart() { start = std::chrono::steady_clock::now(); }
    static int check(void *arg)
    {
        const auto *c = static_cast<const StepClock *>(arg);
        return std::chrono::steady_clock::now() - c->start > c->timeout ? 1 : 0;
    }
};

class SqliteStatement final : public Statement
{
public:
    SqliteStatement(sqlite3 *db, const std::string &sql, StepClock *clock = nullptr) : m_db(db), m_clock(clock)
    {
        const int rc = sqlite3_prepare_v3(db, sql.c_str(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &m_st, nullptr);
        if (rc != SQLITE_OK)
            fail(db, rc, "Erro ao preparar comando SQL");
    }
    ~SqliteStatement() override { sqlite3_finalize(m_st); }

    void bind(int index, const Value &value) override
    {
        int rc = SQLITE_OK;
        if (std::holds_alternative<std::monostate>(value))
            rc = sqlite3_bind_null(m_st, index);
        else if (const auto *s = std::get_if<std::string>(&value))
            rc = sqlite3_bind_text(m_st, index, s->data(), int(s->size()), SQLITE_TRANSIENT);
        else if (const auto *d = std::get_if<double>(&value))
            rc = sqlite3_bind_double(m_st, index, *d);
        else
            rc = sqlite3_bind_int64(m_st, index, std::get<std::int64_t>(value));
        if (rc != SQLITE_OK)
            fail(m_db, rc, "Erro ao associar parâmetro " + std::to_string(index));
    }

    bool next() override
    {
        if (m_clock)
            m_clock->restart();
        const int rc = sqlite3_step(m_st);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        const int err = rc;
        sqlite3_reset(m_st);
        fail(m_db, err, "Erro ao executar comando SQL");
    }

    std::int64_t exec() override
    {
        while (next()) {
        }
        const std::int64_t n = sqlite3_changes64(m_db);
        reset();
        return n;
    }

    void reset() override
    {
        sqlite3_reset(m_st);
        sqlite3_clear_bindings(m_st);
    }

    bool isNull(int col) const override { return sqlite3_column_type(m_st, col) == SQLITE_NULL; }
    std::string_view text(int col) const override
    {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_st, col));
        return p ? std::string_view(p, size_t(sqlite3_column_bytes(m_st, col))) : std::string_view();
    }
    std::string_view textOrNull(int col) const override { return text(col); } // NULL has no text pointer
    double real(int col) const override { return sqlite3_column_double(m_st, col); }
    std::int64_t integer(int col) const override { return sqlite3_column_int64(m_st, col); }

private:
    sqlite3 *m_db;
    StepClock *m_clock;
    sqlite3_stmt *m_st = nullptr;
};

class SqliteBulk final : public BulkWriter
{
public:
    SqliteBulk(sqlite3 *db, const std::string &table, const std::vector<std::string> &columns)
    {
        std::string sql = "INSERT INTO " + table + " (";
        std::string marks;
        for (size_t i = 0; i < columns.size(); ++i) {
            sql += (i ? "," : "") + columns[i];
            marks += i ? ",?" : "?";
        }
        sql += ") VALUES (" + marks + ")";
        m_st = std::make_unique<SqliteStatement>(db, sql);
    }
    void add(const Value &value) override { m_st->bind(++m_col, value); }
    void endRow() override
    {
        m_st->exec();
        m_col = 0;
    }
    void finish() override {}

private:
    std::unique_ptr<SqliteStatement> m_st;
    int m_col = 0;
};

class SqliteConnection final : public Connection
{
public:
    SqliteConnection(const std::string &path, std::chrono::milliseconds timeout)
    {
        const int rc = sqlite3_open_v2(path.c_str(), &m_db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            const std::string msg = "Não foi possível abrir o banco SQLite \"" + path + "\": " +
                                    (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
            sqlite3_close(m_db);
            throw DbError(msg);
        }
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        sqlite3_extended_result_codes(m_db, 1);
        if (timeout.count() > 0) {
            m_clock = std::make_unique<StepClock>();
            m_clock->timeout = timeout;
            m_clock->restart();
            sqlite3_progress_handler(m_db, 10000, &StepClock::check, m_clock.get());
        }
        if (!registerSqliteNvl(m_db)) {
            sqlite3_close(m_db);
            throw DbError("Não foi possível registrar a função NVL no banco SQLite.");
        }
        // temp_store: a recalculation's statement journal and key tables stay in memory; in a
        // temporary file, every page its statements touched cost two more writes.
        execScript("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; PRAGMA mmap_size=1073741824; "
                   "PRAGMA temp_store=MEMORY");
    }
    ~SqliteConnection() override
    {
        dropStatements();
        sqlite3_close_v2(m_db);
    }

    Kind kind() const override { return Kind::Sqlite; }

    // The hook replaces SQLite's automatic checkpoint on this connection.
    void handCheckpointsTo(const std::shared_ptr<WalState> &st)
    {
        if (m_wal == st)
            return;
        execScript(kWalSizeLimit);
        sqlite3_wal_hook(m_db, walCommitted, st.get());
        m_wal = st;
    }

    void execScript(const std::string &sql) override
    {
        char *err = nullptr;
        if (m_clock)
            m_clock->restart();
        const int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &err);
        if (rc != SQLITE_OK) {
            const std::string msg = err ? err : sqlite3_errstr(rc);
            sqlite3_free(err);
            throw DbError("Erro no banco SQLite: " + msg,
                          (rc & 0xff) == SQLITE_BUSY ? DbError::Reason::LockConflict : reasonOf(rc));
        }
    }

    std::unique_ptr<BulkWriter> bulk(const std::string &table, const std::vector<std::string> &columns) override
    {
        return std::make_unique<SqliteBulk>(m_db, table, columns);
    }

    void begin(TxMode mode) override
    {
        if (mode == TxMode::Read) {
            execScript("BEGIN");
        } else if (mode == TxMode::Write) {
            execScript("BEGIN IMMEDIATE");
        } else {
            sqlite3_busy_timeout(m_db, 0);
            try {
                execScript("BEGIN IMMEDIATE");
            } catch (...) {
                sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
                throw;
            }
            sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        }
        m_inTransaction = true;
    }

    std::string lockRowsNoWait(const std::string &) const override { return {}; }

    std::string jsonTextList() const override { return "(SELECT value AS V FROM json_each(?))"; }
    std::string jsonRows(int columns) const override
    {
        std::string s = "(SELECT ";
        for (int i = 0; i < columns; ++i)
            s += (i ? ", " : "") + std::string("json_extract(value, '$[") + std::to_string(i) + "]') AS K" +
                 std::to_string(i);
        return s + " FROM json_each(?))";
    }

protected:
    std::unique_ptr<Statement> makeStatement(const std::string &sql) override
    {
        return std::make_unique<SqliteStatement>(m_db, sql, m_clock.get());
    }

private:
    std::unique_ptr<StepClock> m_clock; // outlives m_db, whose handler points to it
    sqlite3 *m_db = nullptr;
    std::shared_ptr<WalState> m_wal; // outlives m_db, which its hook points to
};

class SqliteCheckpointer final : public WalCheckpointer
{
public:
    SqliteCheckpointer(const std::string &path, std::function<void(const std::string &)> log)
        : m_path(path), m_log(std::move(log))
    {
        const int rc = sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK) {
            const std::string msg = "Não foi possível abrir o banco SQLite \"" + path + "\" para os checkpoints: " +
                                    (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
            sqlite3_close(m_db);
            throw DbError(msg);
        }
        // Only the final checkpoint waits, and not for long: what it leaves, the next open recovers.
        sqlite3_busy_timeout(m_db, 1000);
        // Until it has read the file, a connection does not know it is in WAL mode and checkpoints nothing.
        sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        m_thread = std::thread([this] { run(); });
    }
    ~SqliteCheckpointer() override
    {
        stop();
        sqlite3_close_v2(m_db);
    }

    void adopt(Connection &c) override
    {
        if (auto *s = dynamic_cast<SqliteConnection *>(&c))
            s->handCheckpointsTo(m_state);
    }

    void stop() override
    {
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->stopping)
                return;
            m_state->stopping = true;
        }
        m_state->wake.notify_one();
        m_thread.join();
        sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    }

private:
    void run()
    {
        std::unique_lock lock(m_state->mutex);
        for (;;) {
            m_state->wake.wait_for(lock, kCheckpointInterval, [this] { return m_state->stopping || m_state->full; });
            if (m_state->stopping)
                return;
            if (!m_state->dirty)
                continue;
            m_state->dirty = m_state->full = false;
            lock.unlock();
            int frames = 0, done = 0;
            const int rc = sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &frames, &done);
            lock.lock();
            // Readers still on older frames (or another checkpoint): the timer tries again.
            if (rc != SQLITE_OK || done < frames)
                m_state->dirty = true;
            if (frames >= kLargeWalFrames && !m_warned && m_log) {
                m_warned = true;
                lock.unlock();
                m_log("WAL de " + m_path + " com " + std::to_string(frames) + " páginas (" + std::to_string(done) +
                      " já no banco): leituras longas impedem que ele recomece.");
                lock.lock();
            } else if (frames < kLargeWalFrames / 2) {
                m_warned = false;
            }
        }
    }

    std::string m_path;
    std::function<void(const std::string &)> m_log;
    sqlite3 *m_db = nullptr;
    std::shared_ptr<WalState> m_state = std::make_shared<WalState>();
    bool m_warned = false; // touched by the thread only
    std::thread m_thread;
};

} // namespace

std::unique_ptr<Connection> connectSqlite(const std::string &path, std::chrono::milliseconds timeout)
{
    return std::make_unique<SqliteConnection>(path, timeout);
}

std::unique_ptr<WalCheckpointer> startWalCheckpointer(const DbUrl &url,
                                                      std::function<void(const std::string &)> log)
{
    if (url.kind != Kind::Sqlite)
        return nullptr;
    return std::make_unique<SqliteCheckpointer>(url.path, std::move(log));
}

} // namespace erp::server::db
