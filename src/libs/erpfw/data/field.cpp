#include "field.h"

#include "clientdataset.h"

#include <erpfw/core/error.h>
#include <erpfw/core/ptbr.h>
#include <erpfw/core/utils.h>
#include <erpwire/json.h>

#include <cmath>

namespace erp {

using wire::FieldType;

Field::Field(ClientDataSet *dataSet, const QString &name, FieldType type, int size, bool calculated)
    : QObject(dataSet)
    , m_dataSet(dataSet)
    , m_name(name)
    , m_type(type)
    , m_size(wire::isStringType(type) ? size : 0)
    , m_calculated(calculated)
{
    setObjectName(dataSet->objectName() + name);
}

int Field::index() const
{
    return int(m_dataSet->fields().indexOf(const_cast<Field *>(this)));
}

QString Field::dataTypeName() const
{
    return wire::fieldTypeName(m_type);
}

bool Field::isStringField() const
{
    return wire::isStringType(m_type);
}

bool Field::isNumericField() const
{
    return m_type == FieldType::Float || m_type == FieldType::Integer;
}

QString Field::displayLabel() const
{
    return m_label.isEmpty() ? m_name : m_label;
}

int Field::displayWidth() const
{
    if (m_displayWidth > 0)
        return m_displayWidth;
    switch (m_type) {
    case FieldType::String:
    case FieldType::FixedString: return m_size;
    case FieldType::Date: return 10;
    case FieldType::DateTime: return 18;
    case FieldType::Boolean: return 5;
    case FieldType::Float:
    case FieldType::Integer: return 10;
    }
    return 10;
}

Qt::Alignment Field::alignment() const
{
    if (m_alignment)
        return m_alignment;
    return (isNumericField() ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

QVariant Field::value() const
{
    return m_calculated ? m_dataSet->readCalculated(*this) : m_dataSet->readData(*this);
}

bool Field::isNull() const
{
    const QVariant v = value();
    return !v.isValid() || v.isNull();
}

namespace {

bool isNullValue(const QVariant &v)
{
    if (!v.isValid() || v.isNull())
        return true;
    if (v.typeId() == QMetaType::QDate)
        return !v.toDate().isValid();
    if (v.typeId() == QMetaType::QDateTime)
        return !v.toDateTime().isValid();
    return false;
}

bool isNumberType(int id)
{
    switch (id) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort: return true;
    default: return false;
    }
}

QDateTime wallClock(const QDateTime &dt)
{
    return QDateTime(dt.date(), dt.time(), Qt::UTC);
}

} // namespace

QVariant Field::converted(const QVariant &value) const
{
    if (isNullValue(value))
        return {};
    const auto refuse = [&] {
        return Error(QStringLiteral("Valor \"%1\" inválido para o campo %2 (%3).")
                         .arg(value.toString(), m_name, dataTypeName()));
    };
    const int id = value.typeId();
    switch (m_type) {
    case FieldType::String:
    case FieldType::FixedString: {
        QString s = value.toString();
        if (s.size() > m_size) {
            if (!m_calculated)
                throw Error(QStringLiteral("O valor \"%1\" excede o tamanho de %2 caracteres do campo %3.")
                                .arg(s)
                                .arg(m_size)
                                .arg(m_name));
            s.truncate(m_size); // a composed text is cut to its field
        }
        return s;
    }
    case FieldType::Float:
    case FieldType::Integer: {
        double v = 0;
        if (isNumberType(id)) {
            v = value.toDouble();
        } else if (id == QMetaType::QString) {
            const auto parsed = parseNumber(value.toString());
            if (!parsed)
                throw refuse();
            v = *parsed;
        } else {
            throw refuse();
        }
        if (!std::isfinite(v))
            throw refuse();
        if (m_type == FieldType::Float)
            return v;
        if (v != std::trunc(v) || std::fabs(v) > 9.0e18)
            throw refuse();
        return QVariant::fromValue<qint64>(qint64(v));
    }
    case FieldType::Boolean:
        if (id != QMetaType::Bool)
            throw refuse();
        return value.toBool();
    case FieldType::Date:
    case FieldType::DateTime: {
        QDateTime dt;
        if (id == QMetaType::QDate) {
            dt = QDateTime(value.toDate(), QTime(0, 0), Qt::UTC);
        } else if (id == QMetaType::QDateTime) {
            dt = wallClock(value.toDateTime());
        } else if (id == QMetaType::QString) {
            const QString s = value.toString();
            dt = wallClock(parseDateTime(s));
            if (!dt.isValid()) {
                try {
                    dt = wallClock(wire::parseDateTime(s));
                } catch (const wire::WireError &) {
                    throw refuse();
                }
            }
        } else {
            throw refuse();
        }
        if (!dt.isValid())
            throw refuse();
        if (m_type == FieldType::Date)
            return dt.date();
        return dt;
    }
    }
    throw refuse();
}

void Field::setValue(const QVariant &value)
{
    if (!m_dataSet->active())
        throw Error(QStringLiteral("O conjunto de dados %1 está fechado: não é possível alterar o campo %2.")
                        .arg(m_dataSet->objectName(), m_name));
    if (m_calculated) {
        m_dataSet->writeCalculated(*this, converted(value));
        return;
    }
    const auto state = m_dataSet->state();
    if (state != ClientDataSet::State::Edit && state != ClientDataSet::State::Insert)
        throw Error(QStringLiteral("O conjunto de dados %1 não está em edição: não é possível alterar o campo %2.")
                        .arg(m_dataSet->objectName(), m_name));
    if (m_readOnly)
        throw Error(QStringLiteral("O campo %1 não pode ser alterado.").arg(m_name));
    m_dataSet->writeData(*this, converted(value));
}

QString Field::asString() const
{
    if (!m_calculated && isStringField())
        return m_dataSet->readString(*this); // the hot path of calculations: no QVariant on the way
    const QVariant v = value();
    if (isNullValue(v))
        return {};
    switch (m_type) {
    case FieldType::String:
    case FieldType::FixedString: return v.toString();
    case FieldType::Float: return floatToStr(v.toDouble());
    case FieldType::Integer: return QString::number(v.toLongLong());
    case FieldType::Boolean: return v.toBool() ? QStringLiteral("Sim") : QStringLiteral("Não");
    case FieldType::Date: return formatDate(v.toDate());
    case FieldType::DateTime: return formatDateTime(v.toDateTime());
    }
    return {};
}

void Field::setAsString(const QString &text)
{
    if (text.isEmpty()) {
        setValue(QVariant());
        return;
    }
    switch (m_type) {
    case FieldType::String:
    case FieldType::FixedString:
        setValue(text);
        return;
    case FieldType::Float:
    case FieldType::Integer: {
        const auto v = parseNumber(text);
        if (!v)
            throw Error(QStringLiteral("\"%1\" não é um número válido para o campo %2.").arg(text, m_name));
        setValue(*v);
        return;
    }
    case FieldType::Boolean: {
        const QString t = text.trimmed().toUpper();
        if (t == QLatin1String("SIM") || t == QLatin1String("S") || t == QLatin1String("TRUE") || t == QLatin1String("1"))
            setValue(true);
        else if (t == QStringLiteral("NÃO") || t == QLatin1String("N") || t == QLatin1String("FALSE") || t == QLatin1String("0"))
            setValue(false);
        else
            throw Error(QStringLiteral("\"%1\" não é um valor lógico válido para o campo %2.").arg(text, m_name));
        return;
    }
    case FieldType::Date:
    case FieldType::DateTime: {
        const QDateTime dt = parseDateTime(text);
        if (!dt.isValid())
            throw Error(QStringLiteral("\"%1\" não é uma data válida para o campo %2.").arg(text, m_name));
        setValue(dt);
        return;
    }
    }
}

double Field::asFloat() const
{
    const QVariant v = value();
    if (isNullValue(v))
        return 0;
    if (!isNumericField())
        throw Error(QStringLiteral("O campo %1 não é numérico.").arg(m_name));
    return v.toDouble();
}

void Field::setAsFloat(double value)
{
    setValue(value);
}

qint64 Field::asInteger() const
{
    return qint64(std::llround(asFloat()));
}

QDateTime Field::asDateTime() const
{
    const QVariant v = value();
    if (isNullValue(v))
        return {};
    if (m_type == FieldType::Date)
        return QDateTime(v.toDate(), QTime(0, 0), Qt::UTC);
    if (m_type == FieldType::DateTime)
        return v.toDateTime();
    throw Error(QStringLiteral("O campo %1 não é data.").arg(m_name));
}

QDate Field::asDate() const
{
    return asDateTime().date();
}

void Field::setAsDateTime(const QDateTime &value)
{
    setValue(value);
}

bool Field::asBoolean() const
{
    const QVariant v = value();
    if (isNullValue(v))
        return false;
    if (m_type != FieldType::Boolean)
        throw Error(QStringLiteral("O campo %1 não é lógico.").arg(m_name));
    return v.toBool();
}

QString Field::formattedText(bool display) const
{
    switch (m_type) {
    case FieldType::String:
    case FieldType::FixedString: {
        const QString s = asString();
        return display && !m_editMask.isEmpty() && !s.isEmpty() ? formatMaskText(m_editMask, s) : s;
    }
    case FieldType::Float:
    case FieldType::Integer: {
        const QString format = display || m_editFormat.isEmpty() ? m_displayFormat : m_editFormat;
        return formatFloat(format, asFloat());
    }
    case FieldType::Date:
    case FieldType::DateTime:
        return m_displayFormat.isEmpty() ? asString() : formatDateTime(m_displayFormat, asDateTime());
    case FieldType::Boolean: return asString();
    }
    return {};
}

QString Field::handlerText(bool display) const
{
    QString text;
    onGetText(const_cast<Field &>(*this), text, display);
    return text;
}

QString Field::text() const
{
    return onGetText ? handlerText(false) : formattedText(false);
}

QString Field::displayText() const
{
    return onGetText ? handlerText(true) : formattedText(true);
}

} // namespace erp
