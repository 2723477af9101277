#pragma once

#include <erpfw/data/field.h>

#include <QList>
#include <QObject>
#include <QVariant>

#include <functional>
#include <vector>

namespace erp {

class DataSource;

// An in-memory table of typed fields over a data packet. Rows live in the packet (column
// storage, implicitly shared), so loading and taking a packet copies nothing; calculated
// fields are computed per row when read and never stored.
class ERPFW_EXPORT ClientDataSet : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool active READ active WRITE setActive)
    Q_PROPERTY(erp::ClientDataSet::State state READ state)
    Q_PROPERTY(QString stateName READ stateName)
    Q_PROPERTY(int recordCount READ recordCount)
    Q_PROPERTY(int recNo READ recNo)
    Q_PROPERTY(bool isEmpty READ isEmpty)
    Q_PROPERTY(bool controlsDisabled READ controlsDisabled)

public:
    enum class State { Inactive, Browse, Edit, Insert };
    Q_ENUM(State)
    using Handler = std::function<void(ClientDataSet &)>;

    explicit ClientDataSet(QObject *parent = nullptr);
    ~ClientDataSet() override;

    // Field definitions (before the dataset is opened). The field object is named after
    // the dataset and the field ("cdsContRecVRATUAREC"). Strings need a size.
    Field *addField(const QString &name, FieldType type, int size = 0);
    Field *addCalculatedField(const QString &name, FieldType type, int size = 0);
    const QList<Field *> &fields() const { return m_fields; }
    int fieldCount() const { return int(m_fields.size()); }
    Field *findField(QStringView name) const; // nullptr when absent; any letter case
    Field *fieldByName(QStringView name) const; // erp::Error naming the field when absent
    quint64 fieldsVersion() const { return m_fieldsVersion; } // changes when a field comes or goes
    QList<wire::FieldDef> dataFieldDefs() const; // the fields a packet brings, in their order

    // Loads a packet (a QVariant holding a wire::Packet): closes, then opens with its rows.
    // The packet's fields must be the dataset's data fields (name, type, size); a dataset
    // without data fields takes the packet's. A packet that does not fit is an erp::Error
    // and leaves the dataset as it was.
    void setData(const QVariant &packet);
    void setPacket(const wire::Packet &packet);
    // The data fields and rows, in the dataset's order; {"fields":[],"rows":[]} when closed.
    QVariant data() const;
    wire::Packet packet() const;
    void emptyDataSet();

    bool active() const { return m_state != State::Inactive; }
    void setActive(bool active);
    // Opens with the rows loaded before, or none.
    void open();
    void close();
    State state() const { return m_state; }
    QString stateName() const; // "inactive", "browse", "edit", "insert"
    bool isEmpty() const { return recordCount() == 0; }
    int recordCount() const;
    int recNo() const { return m_row + 1; } // 1-based; 0 when empty or closed
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }

    void edit();   // the current row into edit state
    void append(); // a new row, written at the end by post
    void post();
    void cancel();

    // A move first posts a pending edit. Before-scroll runs, then the move, then
    // after-scroll when the row changed (always on first() of a non-empty dataset).
    void first();
    void next();
    void prior();
    void last();
    void moveTo(int recNo);

    // Nesting counter: while above zero, data sources and controls hear nothing (dataset
    // events still run). Back at zero the controls refresh and the state is reported once.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return m_disabled > 0; }

    // Makes row (0-based) the active record for reading, without moving the current row or
    // running scroll events: what a grid does to paint a row. Calculated fields are computed
    // for that row when read.
    class ERPFW_EXPORT RowScope
    {
    public:
        RowScope(const ClientDataSet &dataSet, int row);
        ~RowScope();
        RowScope(const RowScope &) = delete;
        RowScope &operator=(const RowScope &) = delete;

    private:
        ClientDataSet &m_dataSet;
        int m_saved;
    };

    Handler beforeOpen;
    Handler afterOpen;
    Handler beforeClose;
    Handler afterClose;
    Handler beforePost;
    Handler afterPost;
    Handler afterCancel;
    Handler beforeScroll;
    Handler afterScroll;
    Handler onCalcFields;

signals:
    // For data-aware controls; none of them is emitted while controls are disabled.
    void dataSetChanged();          // opened, closed, reloaded, emptied, rows added, refreshed
    void currentRowChanged(int row); // 0-based; -1 when none
    void rowChanged(int row);        // values of a row changed (posted, or being edited)
    void stateChanged(erp::ClientDataSet::State state);

private:
    friend class Field;
    friend class DataSource;
    enum class Buffer { None, Row, Edit };

    Field *createField(const QString &name, FieldType type, int size, bool calculated);
    void checkFieldDefinition(const QString &name, FieldType type, int size) const;
    wire::Packet fittedPacket(const wire::Packet &packet) const;
    void openWith(const wire::Packet &packet);
    void setState(State state);
    void notifyState();
    void notifyReload();
    void notifyRow(int row);
    void notifyCurrent();
    void run(const Handler &handler);
    void checkActive() const;
    void checkBrowseMode();
    void scrollTo(int row, bool forceAfterScroll, bool bof, bool eof);
    Buffer activeBuffer(int *row) const;
    QVariant editValue(int slot) const;
    QVariant readData(const Field &field) const;
    QString readString(const Field &field) const; // a string data field's asString
    void writeData(const Field &field, const QVariant &value);
    QVariant readCalculated(const Field &field) const;
    void writeCalculated(const Field &field, const QVariant &value);
    void ensureCalculated() const;
    void invalidateCalc() { ++m_generation; }
    void attach(DataSource *source);
    void detach(DataSource *source);

    QList<Field *> m_fields;
    QList<Field *> m_dataFields;
    int m_calcCount = 0;
    bool m_fieldsFromPacket = false;
    quint64 m_fieldsVersion = 0;
    wire::Packet m_packet;
    State m_state = State::Inactive;
    int m_row = -1;
    bool m_bof = true;
    bool m_eof = true;
    QVariantList m_editBuffer;
    std::vector<bool> m_editWritten; // per data field: written since edit/append
    int m_editRow = -1; // the row being edited; -1 for an appended row
    mutable int m_scopeRow = -1;
    // calculated values of one record, valid for (m_calcKey, m_calcGeneration)
    mutable QVariantList m_calcValues;
    mutable qint64 m_calcKey = -2;
    mutable quint64 m_calcGeneration = 0;
    mutable bool m_calculating = false;
    quint64 m_generation = 1;
    int m_disabled = 0;
    bool m_holdReload = false;
    QList<DataSource *> m_sources;
};

} // namespace erp
