#include "datasetmodel.h"

#include "datasource.h"

#include <erpfw/core/messageservice.h>

namespace erp {

DataSetModel::DataSetModel(QObject *parent)
    : QAbstractTableModel(parent)
{}

void DataSetModel::setDataSource(DataSource *source)
{
    for (const auto &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_source = source;
    if (source) {
        m_connections = {
            connect(source, &DataSource::dataSetAssigned, this, &DataSetModel::reload),
            connect(source, &DataSource::dataSetChanged, this, &DataSetModel::reload),
            connect(source, &DataSource::rowChanged, this, &DataSetModel::rowChanged),
            // entering and leaving edit state changes what the current row shows
            connect(source, &DataSource::stateChanged, this, [this] {
                if (const ClientDataSet *ds = m_source ? m_source->dataSet() : nullptr)
                    rowChanged(ds->recNo() - 1);
            }),
        };
    }
    reload();
}

void DataSetModel::setColumns(const QStringList &fieldNames)
{
    m_columns = fieldNames;
    m_resolvedFrom = nullptr;
    reload();
}

void DataSetModel::reload()
{
    const ClientDataSet *ds = m_source ? m_source->dataSet() : nullptr;
    QList<QPointer<Field>> fields;
    if (m_columns.isEmpty()) {
        if (ds)
            for (Field *f : ds->fields())
                if (f->visible())
                    fields.append(f);
    } else if (ds && ds == m_resolvedFrom && ds->fieldsVersion() == m_resolvedVersion) {
        fields = m_fields; // a reload of rows: the columns' fields are the ones found before
    } else {
        fields.reserve(m_columns.size());
        for (const QString &name : std::as_const(m_columns))
            fields.append(ds ? ds->findField(name) : nullptr);
    }
    m_resolvedFrom = ds;
    m_resolvedVersion = ds ? ds->fieldsVersion() : 0;
    const int rows = ds ? ds->recordCount() : 0;
    if (fields != m_fields || m_fields.isEmpty()) {
        beginResetModel();
        m_fields = fields;
        m_rows = rows;
        endResetModel();
        return;
    }
    // the same columns: new rows in place, so that a view keeps its layout (one row moved to
    // reloads the adjustments of the next)
    if (rows < m_rows) {
        beginRemoveRows({}, rows, m_rows - 1);
        m_rows = rows;
        endRemoveRows();
    } else if (rows > m_rows) {
        beginInsertRows({}, m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    }
    if (m_rows > 0)
        emit dataChanged(index(0, 0), index(m_rows - 1, int(m_fields.size()) - 1));
}

void DataSetModel::rowChanged(int row)
{
    if (row >= 0 && row < m_rows && !m_fields.isEmpty())
        emit dataChanged(index(row, 0), index(row, int(m_fields.size()) - 1));
}

Field *DataSetModel::fieldAt(int column) const
{
    return column >= 0 && column < m_fields.size() ? m_fields[column].data() : nullptr;
}

int DataSetModel::columnOf(const QString &fieldName) const
{
    for (int c = 0; c < m_fields.size(); ++c)
        if (m_fields[c] && wire::sameFieldName(m_fields[c]->fieldName(), fieldName))
            return c;
    return -1;
}

int DataSetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DataSetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_fields.size());
}

QVariant DataSetModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Field *f = fieldAt(index.column());
    const ClientDataSet *ds = m_source ? m_source->dataSet() : nullptr;
    if (!f || !ds || index.row() >= ds->recordCount())
        return {};
    switch (role) {
    case Qt::TextAlignmentRole: return int(f->alignment());
    case FieldNameRole: return f->fieldName();
    case Qt::DisplayRole:
    case TextRole:
    case ValueRole: break;
    default: return {};
    }
    try {
        const ClientDataSet::RowScope scope(*ds, index.row());
        if (role == Qt::DisplayRole)
            return f->displayText();
        if (role == TextRole)
            return f->text();
        return f->value();
    } catch (...) {
        // a failing get-text or calculation must not escape a paint; tell the user once,
        // after the paint
        if (!m_errorPending) {
            m_errorPending = true;
            QMetaObject::invokeMethod(
                const_cast<DataSetModel *>(this),
                [this, e = std::current_exception()] {
                    m_errorPending = false;
                    handleException(e);
                },
                Qt::QueuedConnection);
        }
        return {};
    }
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section >= 0 && section < m_fields.size()) {
        const Field *f = fieldAt(section);
        if (role == Qt::DisplayRole)
            return f ? f->displayLabel() : m_columns.value(section);
        if (role == FieldNameRole)
            return f ? f->fieldName() : m_columns.value(section);
        return {};
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags DataSetModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace erp
