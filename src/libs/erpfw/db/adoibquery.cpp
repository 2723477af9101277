#include "adoibquery.h"

#include "database.h"

#include <erpfw/core/error.h>
#include <erpfw/data/clientdataset.h>
#include <erpwire/json.h>

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace erp {

using wire::FieldDef;
using wire::FieldType;

namespace {

struct ParamUse
{
    QString name;
    qsizetype start; // the ':'
    qsizetype end;
};

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// The ":NAME" parameters of a text, outside quotes, comments and "::" casts.
QList<ParamUse> scanParams(const QString &sql)
{
    QList<ParamUse> uses;
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype end = sql.indexOf(c, i + 1);
            i = end < 0 ? n : end;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            const qsizetype end = sql.indexOf(QLatin1Char('\n'), i);
            i = end < 0 ? n : end;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 1;
        } else if (c == QLatin1Char(':')) {
            if (i + 1 < n && sql[i + 1] == QLatin1Char(':')) {
                ++i;
                continue;
            }
            qsizetype j = i + 1;
            while (j < n && isNameChar(sql[j]))
                ++j;
            if (j > i + 1 && !sql[i + 1].isDigit())
                uses.append({sql.mid(i + 1, j - i - 1), i, j});
            i = j - 1;
        }
    }
    return uses;
}

FieldType typeOf(const QSqlField &f)
{
    switch (f.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return FieldType::Integer;
    case QMetaType::Double: return FieldType::Float;
    case QMetaType::Bool: return FieldType::Boolean;
    case QMetaType::QDate: return FieldType::Date;
    case QMetaType::QDateTime: return FieldType::DateTime;
    default: return FieldType::String;
    }
}

// A database value as the packet keeps it for a field of that type.
QVariant toFieldValue(const QVariant &v, FieldType type)
{
    if (!v.isValid() || v.isNull())
        return {};
    switch (type) {
    case FieldType::Date:
    case FieldType::DateTime:
        if (v.typeId() == QMetaType::QDate)
            return v.toDate();
        if (v.typeId() == QMetaType::QDateTime) {
            const QDateTime dt = v.toDateTime();
            return QDateTime(dt.date(), dt.time(), Qt::UTC);
        }
        // SQLite keeps dates as text
        return wire::parseDateTime(v.toString().replace(QLatin1Char(' '), QLatin1Char('T')));
    case FieldType::Boolean: return v.toBool();
    case FieldType::Float:
    case FieldType::Integer: {
        bool ok = false;
        const double d = v.toDouble(&ok);
        if (!ok)
            throw wire::WireError(QStringLiteral("\"%1\" não é um número").arg(v.toString()));
        return d;
    }
    case FieldType::String:
    case FieldType::FixedString: return v.toString();
    }
    return {};
}

} // namespace

AdoIbQuery::AdoIbQuery(QObject *parent)
    : QObject(parent)
    , m_dataSet(new ClientDataSet(this))
{
    // fields are named after the query ("qryEmpresaCDEMPRESA")
    connect(this, &QObject::objectNameChanged, m_dataSet, [this](const QString &name) { m_dataSet->setObjectName(name); });
}

AdoIbQuery::~AdoIbQuery() = default;

void AdoIbQuery::setSql(const QString &text)
{
    m_sql = text;
    textChanged();
}

void AdoIbQuery::setSqlOracle(const QString &text)
{
    m_sqlOracle = text;
    textChanged();
}

void AdoIbQuery::setSqlMssql(const QString &text)
{
    m_sqlMssql = text;
    textChanged();
}

void AdoIbQuery::setSqlIb(const QString &text)
{
    m_sqlIb = text;
    textChanged();
}

void AdoIbQuery::textChanged()
{
    std::vector<std::unique_ptr<QueryParam>> params;
    for (const QString *text : {&m_sql, &m_sqlOracle, &m_sqlMssql, &m_sqlIb}) {
        for (const ParamUse &use : scanParams(*text)) {
            const auto same = [&](const std::unique_ptr<QueryParam> &p) {
                return p->name().compare(use.name, Qt::CaseInsensitive) == 0;
            };
            if (std::any_of(params.begin(), params.end(), same))
                continue;
            // a parameter that stays keeps its value
            const auto old = std::find_if(m_params.begin(), m_params.end(), same);
            params.push_back(old != m_params.end() ? std::move(*old) : std::make_unique<QueryParam>(use.name));
        }
    }
    m_params = std::move(params);
}

QueryParam *AdoIbQuery::paramByName(const QString &name)
{
    for (const auto &p : m_params)
        if (p->name().compare(name, Qt::CaseInsensitive) == 0)
            return p.get();
    throw Error(QStringLiteral("Parâmetro %1 não encontrado na consulta %2.").arg(name, objectName()));
}

QStringList AdoIbQuery::paramNames() const
{
    QStringList names;
    for (const auto &p : m_params)
        names.append(p->name());
    return names;
}

QString AdoIbQuery::textFor(const Database &db) const
{
    QString text;
    switch (db.dialect().text()) {
    case SqlText::Oracle: text = m_sqlOracle; break;
    case SqlText::Mssql: text = m_sqlMssql; break;
    case SqlText::InterBase: text = m_sqlIb; break;
    case SqlText::Sql: break;
    }
    return text.trimmed().isEmpty() ? m_sql : text;
}

void AdoIbQuery::open()
{
    if (active())
        return;
    Database *db = m_database ? m_database : Database::defaultDatabase();
    if (!db)
        throw Error(QStringLiteral("A consulta %1 não tem conexão com o banco de dados.").arg(objectName()));
    const QString text = textFor(*db);
    if (text.trimmed().isEmpty())
        throw Error(QStringLiteral("A consulta %1 não tem texto SQL.").arg(objectName()));

    QString sql;
    QList<QueryParam *> bound;
    qsizetype from = 0;
    for (const ParamUse &use : scanParams(text)) {
        sql += QStringView(text).mid(from, use.start - from);
        sql += QLatin1Char('?');
        bound.append(paramByName(use.name));
        from = use.end;
    }
    sql += QStringView(text).mid(from);

    const auto dbError = [&](const QSqlError &e) {
        return Error(QStringLiteral("Erro no banco de dados ao abrir a consulta %1: %2").arg(objectName(), e.text()));
    };
    QSqlQuery q(db->connection());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw dbError(q.lastError());
    for (QueryParam *p : std::as_const(bound)) {
        // an empty text is no value, as the Oracle-style texts take it
        const bool none = p->isNull() || (p->value().typeId() == QMetaType::QString && p->value().toString().isEmpty());
        q.addBindValue(none ? QVariant(QMetaType::fromType<QString>()) : p->value());
    }
    if (!q.exec())
        throw dbError(q.lastError());

    const QSqlRecord rec = q.record();
    QList<FieldDef> defs = m_dataSet->dataFieldDefs();
    QList<int> columns; // record column of each packet field
    for (const FieldDef &d : std::as_const(defs)) {
        const int col = rec.indexOf(d.name); // any letter case: PostgreSQL folds to lower case
        if (col < 0)
            throw Error(QStringLiteral("A consulta %1 não devolveu o campo %2.").arg(objectName(), d.name));
        columns.append(col);
    }
    const bool fromQuery = defs.isEmpty();
    if (fromQuery) {
        for (int c = 0; c < rec.count(); ++c) {
            defs.append({rec.fieldName(c).toUpper(), typeOf(rec.field(c)), 0});
            columns.append(c);
        }
    }

    QList<QVariantList> rows;
    int row = 0;
    try {
        while (q.next()) {
            ++row;
            QVariantList values;
            values.reserve(defs.size());
            for (int i = 0; i < defs.size(); ++i) {
                QVariant v = toFieldValue(q.value(columns[i]), defs[i].type);
                if (fromQuery && wire::isStringType(defs[i].type))
                    defs[i].size = qMax(defs[i].size, int(v.toString().size()));
                values.append(std::move(v));
            }
            rows.append(std::move(values));
        }
        if (q.lastError().isValid())
            throw dbError(q.lastError());
        if (fromQuery)
            for (int i = 0; i < defs.size(); ++i)
                if (wire::isStringType(defs[i].type))
                    defs[i].size = qMax(defs[i].size, qMax(1, rec.field(columns[i]).length()));
        wire::Packet packet(defs);
        packet.reserve(int(rows.size()));
        row = 0;
        for (const QVariantList &values : std::as_const(rows)) {
            ++row;
            packet.appendRow(values);
        }
        m_dataSet->setPacket(packet);
    } catch (const wire::WireError &e) {
        throw Error(QStringLiteral("Consulta %1, linha %2: %3").arg(objectName()).arg(row).arg(e.message()));
    }
}

void AdoIbQuery::close()
{
    m_dataSet->close();
}

bool AdoIbQuery::active() const
{
    return m_dataSet->active();
}

bool AdoIbQuery::isEmpty() const
{
    return m_dataSet->isEmpty();
}

} // namespace erp
