#include "database.h"

#include <erpfw/core/error.h>

#include <erpdb/dburl.h>
#include <erpdb/sqlitenvl.h>

#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>
#include <QVariant>

#include <sqlite3.h>

#include <atomic>
#include <stdexcept>

namespace erp {

SqlDialect::SqlDialect(const QString &driverName)
    : m_driver(driverName)
{
    if (driverName == QLatin1String("QSQLITE") || driverName == QLatin1String("QPSQL")
        || driverName == QLatin1String("QOCI"))
        m_text = SqlText::Oracle;
    else if (driverName == QLatin1String("QTDS") || driverName == QLatin1String("QODBC"))
        m_text = SqlText::Mssql;
    else if (driverName == QLatin1String("QIBASE"))
        m_text = SqlText::InterBase;
    else
        m_text = SqlText::Sql;
}

namespace {

Database *g_default = nullptr;
std::atomic<int> g_next{0};

struct Parsed
{
    QString driver;
    QString databaseName;
    QString host;
    int port = -1;
    QString user;
    QString password;
    QString options;
    QString display;
};

Parsed parseUrl(const QString &url)
{
    DatabaseUrl parsed;
    try {
        parsed = DatabaseUrl::parse(url.toStdString());
    } catch (const std::invalid_argument &e) {
        throw Error(QString::fromStdString(e.what()));
    }
    Parsed p;
    p.display = QString::fromStdString(parsed.text);
    if (parsed.kind == DatabaseUrl::Kind::Sqlite) {
        p.driver = QStringLiteral("QSQLITE");
        p.databaseName = QString::fromStdString(parsed.path);
        // the application server may write the same file: wait for its locks
        p.options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000");
        return p;
    }
    // The driver takes the parts one by one.
    const QUrl u(url);
    p.driver = QStringLiteral("QPSQL");
    p.host = u.host();
    p.port = u.port(5432);
    p.user = u.userName(QUrl::FullyDecoded);
    p.password = u.password(QUrl::FullyDecoded);
    p.databaseName = u.path().mid(1);
    // libpq's own parameters (passfile, sslmode...), so the password need not be in the URL.
    p.options = u.query(QUrl::FullyDecoded).replace(QLatin1Char('&'), QLatin1Char(';'));
    return p;
}

} // namespace

Database::Database(const QString &url)
    : m_dialect(QString())
{
    const Parsed p = parseUrl(url);
    m_displayUrl = p.display;
    m_dialect = SqlDialect(p.driver);
    m_name = QStringLiteral("erp-db-%1").arg(g_next++);
    QSqlDatabase db = QSqlDatabase::addDatabase(p.driver, m_name);
    db.setDatabaseName(p.databaseName);
    if (!p.host.isEmpty())
        db.setHostName(p.host);
    if (p.port > 0)
        db.setPort(p.port);
    if (!p.user.isEmpty())
        db.setUserName(p.user);
    if (!p.password.isEmpty())
        db.setPassword(p.password);
    db.setConnectOptions(p.options);
    if (!db.open()) {
        const QString why = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw Error(QStringLiteral("Não foi possível abrir o banco de dados %1: %2").arg(m_displayUrl, why));
    }
    if (p.driver == QLatin1String("QSQLITE")) {
        const QVariant handle = db.driver()->handle();
        sqlite3 *h = handle.isValid() ? *static_cast<sqlite3 *const *>(handle.constData()) : nullptr;
        if (!h || !registerSqliteNvl(h)) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_name);
            throw Error(QStringLiteral("Não foi possível preparar o banco de dados %1 (função NVL).").arg(m_displayUrl));
        }
    }
}

Database::~Database()
{
    if (g_default == this)
        g_default = nullptr;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase Database::connection() const
{
    return QSqlDatabase::database(m_name, false);
}

Database *Database::defaultDatabase()
{
    return g_default;
}

void Database::setDefaultDatabase(Database *database)
{
    g_default = database;
}

} // namespace erp
