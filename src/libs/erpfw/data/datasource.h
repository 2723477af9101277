#pragma once

#include <erpfw/data/clientdataset.h>

#include <QObject>
#include <QPointer>

#include <functional>

namespace erp {

// Links a dataset to data-aware controls; reports every state change of its dataset.
class ERPFW_EXPORT DataSource : public QObject
{
    Q_OBJECT
    Q_PROPERTY(erp::ClientDataSet *dataSet READ dataSet WRITE setDataSet NOTIFY dataSetAssigned)
    Q_PROPERTY(erp::ClientDataSet::State state READ state)

public:
    using Handler = std::function<void(DataSource &)>;

    explicit DataSource(QObject *parent = nullptr);
    ~DataSource() override;

    ClientDataSet *dataSet() const { return m_dataSet; }
    void setDataSet(ClientDataSet *dataSet);
    ClientDataSet::State state() const; // Inactive without a dataset

    // Runs at every state change of the dataset, except while its controls are disabled;
    // enabling them again reports the current state once. An exception goes on to whoever
    // changed the state.
    Handler onStateChange;

signals:
    void dataSetAssigned();
    void dataSetChanged();
    void currentRowChanged(int row);
    void rowChanged(int row);
    void stateChanged(erp::ClientDataSet::State state);

private:
    friend class ClientDataSet;
    void stateChangedByDataSet();

    QPointer<ClientDataSet> m_dataSet;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace erp
