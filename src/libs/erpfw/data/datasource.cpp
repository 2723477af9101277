#include "datasource.h"

namespace erp {

DataSource::DataSource(QObject *parent)
    : QObject(parent)
{}

DataSource::~DataSource()
{
    if (m_dataSet)
        m_dataSet->detach(this);
}

void DataSource::setDataSet(ClientDataSet *dataSet)
{
    if (m_dataSet == dataSet)
        return;
    for (const auto &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    if (m_dataSet)
        m_dataSet->detach(this);
    m_dataSet = dataSet;
    if (dataSet) {
        dataSet->attach(this);
        m_connections = {
            connect(dataSet, &ClientDataSet::dataSetChanged, this, &DataSource::dataSetChanged),
            connect(dataSet, &ClientDataSet::currentRowChanged, this, &DataSource::currentRowChanged),
            connect(dataSet, &ClientDataSet::rowChanged, this, &DataSource::rowChanged),
        };
    }
    emit dataSetAssigned();
}

ClientDataSet::State DataSource::state() const
{
    return m_dataSet ? m_dataSet->state() : ClientDataSet::State::Inactive;
}

void DataSource::stateChangedByDataSet()
{
    const Handler h = onStateChange;
    if (h)
        h(*this);
    emit stateChanged(state());
}

} // namespace erp
