#pragma once

#include <erpfw/erpfw_global.h>

#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace erp {

class ClientDataSet;
class Database;

// A named parameter (":P_CDEMPRESA" is "P_CDEMPRESA"); a cleared parameter binds NULL.
class ERPFW_EXPORT QueryParam
{
public:
    explicit QueryParam(const QString &name) : m_name(name) {}
    QString name() const { return m_name; }
    QVariant value() const { return m_value; }
    void setValue(const QVariant &value) { m_value = value; }
    void clear() { m_value = QVariant(); }
    bool isNull() const { return !m_value.isValid() || m_value.isNull(); }
    QString asString() const { return isNull() ? QString() : m_value.toString(); }
    void setAsString(const QString &text) { m_value = text; }

private:
    QString m_name;
    QVariant m_value;
};

// A read-only query with one SQL text per database kind; the database's dialect picks the
// text (the plain SQL text when that kind's is empty). Its rows are read into a client
// dataset (query()), whose field definitions the form may give beforehand.
class ERPFW_EXPORT AdoIbQuery : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString sql READ sql WRITE setSql)
    Q_PROPERTY(QString sqlOracle READ sqlOracle WRITE setSqlOracle)
    Q_PROPERTY(QString sqlMssql READ sqlMssql WRITE setSqlMssql)
    Q_PROPERTY(QString sqlIb READ sqlIb WRITE setSqlIb)
    Q_PROPERTY(bool active READ active)
    Q_PROPERTY(bool isEmpty READ isEmpty)

public:
    explicit AdoIbQuery(QObject *parent = nullptr);
    ~AdoIbQuery() override;

    QString sql() const { return m_sql; }
    void setSql(const QString &text);
    QString sqlOracle() const { return m_sqlOracle; }
    void setSqlOracle(const QString &text);
    QString sqlMssql() const { return m_sqlMssql; }
    void setSqlMssql(const QString &text);
    QString sqlIb() const { return m_sqlIb; }
    void setSqlIb(const QString &text);

    // nullptr: Database::defaultDatabase() at open.
    Database *database() const { return m_database; }
    void setDatabase(Database *database) { m_database = database; }

    // The parameters named in any of the texts; an unknown name is an erp::Error.
    QueryParam *paramByName(const QString &name);
    QStringList paramNames() const;

    // Runs the text of the database's kind with the parameters. A database error is an
    // erp::Error with the driver's text; nothing is loaded then.
    void open();
    void close();
    bool active() const;
    bool isEmpty() const;

    // The rows, as a dataset named after the query.
    ClientDataSet *query() const { return m_dataSet; }

private:
    void textChanged();
    QString textFor(const Database &db) const;

    QString m_sql;
    QString m_sqlOracle;
    QString m_sqlMssql;
    QString m_sqlIb;
    Database *m_database = nullptr;
    std::vector<std::unique_ptr<QueryParam>> m_params;
    ClientDataSet *m_dataSet;
};

} // namespace erp
