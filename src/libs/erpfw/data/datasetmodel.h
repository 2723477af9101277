#pragma once

#include <erpfw/erpfw_global.h>

#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>

namespace erp {

class ClientDataSet;
class DataSource;
class Field;

// The rows of a data source's dataset as a table for grids: one column per field name,
// cells as the fields' display texts. Each cell costs the same whatever the row count:
// nothing is done per row when a dataset loads.
class ERPFW_EXPORT DataSetModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Role {
        FieldNameRole = Qt::UserRole + 1, // the column's field name
        ValueRole,                        // the field's value
        TextRole,                         // the field's text (for editing)
    };

    explicit DataSetModel(QObject *parent = nullptr);

    DataSource *dataSource() const { return m_source; }
    void setDataSource(DataSource *source);
    // Field names of the columns; empty: every visible field of the dataset.
    QStringList columns() const { return m_columns; }
    void setColumns(const QStringList &fieldNames);
    // nullptr when the column's field is absent or the dataset has none yet.
    Field *fieldAt(int column) const;
    int columnOf(const QString &fieldName) const; // -1 when absent

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    void reload();
    void rowChanged(int row);

    QPointer<DataSource> m_source;
    QStringList m_columns;
    QList<QPointer<Field>> m_fields; // resolved again when the columns or the fields change
    QPointer<const ClientDataSet> m_resolvedFrom;
    quint64 m_resolvedVersion = 0;
    int m_rows = 0;
    mutable bool m_errorPending = false;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace erp
