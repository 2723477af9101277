#include "datasetobject.h"

#include "scriptsession.h"

#include <erpfw/core/error.h>
#include <erpfw/data/clientdataset.h>
#include <erpfwui/widgets/events.h>

#include <QJSEngine>

namespace erp::app::automation {

DataSetObject::DataSetObject(ClientDataSet *dataSet, const QString &name, ScriptSession &session)
    : m_dataSet(dataSet)
    , m_name(name)
    , m_session(session)
{
}

ClientDataSet *DataSetObject::dataSet() const
{
    if (!m_dataSet)
        throw Error(QStringLiteral("O conjunto de dados %1 não existe mais (seu formulário foi fechado).").arg(m_name));
    return m_dataSet;
}

bool DataSetObject::active() const
{
    bool result = false;
    m_session.call([&] { result = dataSet()->active(); });
    return result;
}

QString DataSetObject::state() const
{
    QString result;
    m_session.call([&] { result = dataSet()->stateName(); });
    return result;
}

int DataSetObject::recordCount() const
{
    int result = 0;
    m_session.call([&] { result = dataSet()->active() ? dataSet()->recordCount() : 0; });
    return result;
}

int DataSetObject::recNo() const
{
    int result = 0;
    m_session.call([&] { result = dataSet()->active() && !dataSet()->isEmpty() ? dataSet()->recNo() : 0; });
    return result;
}

bool DataSetObject::isEmpty() const
{
    bool result = true;
    m_session.call([&] { result = !dataSet()->active() || dataSet()->isEmpty(); });
    return result;
}

QJSValue DataSetObject::fields() const
{
    QJSEngine &engine = m_session.engine();
    QJSValue list = engine.newArray();
    m_session.call([&] {
        quint32 i = 0;
        for (const Field *f : dataSet()->fields()) {
            QJSValue o = engine.newObject();
            o.setProperty(QStringLiteral("name"), f->fieldName());
            o.setProperty(QStringLiteral("type"), f->dataTypeName());
            o.setProperty(QStringLiteral("size"), f->size());
            o.setProperty(QStringLiteral("label"), f->displayLabel());
            o.setProperty(QStringLiteral("visible"), f->visible());
            o.setProperty(QStringLiteral("calculated"), f->calculated());
            list.setProperty(i++, o);
        }
    });
    return list;
}

QJSValue DataSetObject::value(const QString &field)
{
    QJSValue result;
    m_session.call([&] {
        const QVariant v = dataSet()->fieldByName(field)->value();
        if (!v.isValid() || v.isNull()) {
            result = QJSValue(QJSValue::NullValue);
        } else if (v.typeId() == QMetaType::QDate) {
            result = v.toDate().toString(Qt::ISODate);
        } else if (v.typeId() == QMetaType::QDateTime) {
            const QDateTime dt = v.toDateTime();
            result = dt.time() == QTime(0, 0) ? dt.date().toString(Qt::ISODate)
                                              : dt.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        } else if (v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int) {
            result = double(v.toLongLong());
        } else {
            result = m_session.engine().toScriptValue(v);
        }
    });
    return result;
}

QString DataSetObject::text(const QString &field)
{
    QString result;
    m_session.call([&] { result = dataSet()->fieldByName(field)->text(); });
    return result;
}

QString DataSetObject::displayText(const QString &field)
{
    QString result;
    m_session.call([&] { result = dataSet()->fieldByName(field)->displayText(); });
    return result;
}

void DataSetObject::first()
{
    m_session.act([this] {
        ClientDataSet *ds = dataSet();
        dispatch([ds] { ds->first(); });
    });
}

void DataSetObject::next()
{
    m_session.act([this] {
        ClientDataSet *ds = dataSet();
        dispatch([ds] { ds->next(); });
    });
}

void DataSetObject::moveTo(int recNo)
{
    m_session.act([&] {
        ClientDataSet *ds = dataSet();
        const int count = ds->active() ? ds->recordCount() : 0;
        if (recNo < 1 || recNo > count)
            throw Error(QStringLiteral("%1 não tem o registro %2 (tem %3).").arg(m_name).arg(recNo).arg(count));
        dispatch([ds, recNo] { ds->moveTo(recNo); });
    });
}

QJSValue DataSetObject::rows()
{
    QJSEngine &engine = m_session.engine();
    QJSValue list = engine.newArray();
    m_session.call([&] {
        ClientDataSet *ds = dataSet();
        if (!ds->active())
            return;
        for (int row = 0; row < ds->recordCount(); ++row) {
            ClientDataSet::RowScope scope(*ds, row);
            QJSValue o = engine.newObject();
            for (const Field *f : ds->fields())
                o.setProperty(f->fieldName(), f->text());
            list.setProperty(quint32(row), o);
        }
    });
    return list;
}

} // namespace erp::app::automation
