#pragma once

#include <QJSValue>
#include <QObject>
#include <QPointer>

namespace erp {
class ClientDataSet;
}

namespace erp::app::automation {

class ScriptSession;

// A client dataset or the rows of a query, as scripts read and move them.
class DataSetObject final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(bool active READ active)
    Q_PROPERTY(QString state READ state)
    Q_PROPERTY(int recordCount READ recordCount)
    Q_PROPERTY(int recNo READ recNo)
    Q_PROPERTY(bool isEmpty READ isEmpty)
    Q_PROPERTY(QJSValue fields READ fields)

public:
    DataSetObject(ClientDataSet *dataSet, const QString &name, ScriptSession &session);

    QString name() const { return m_name; }
    bool active() const;
    QString state() const;
    int recordCount() const;
    int recNo() const;
    bool isEmpty() const;
    QJSValue fields() const;

    // Dates as "YYYY-MM-DD", date-times with a time as "YYYY-MM-DDThh:mm:ss", null for none.
    Q_INVOKABLE QJSValue value(const QString &field);
    Q_INVOKABLE QString text(const QString &field);
    Q_INVOKABLE QString displayText(const QString &field);
    Q_INVOKABLE void first();
    Q_INVOKABLE void next();
    Q_INVOKABLE void moveTo(int recNo);
    Q_INVOKABLE QJSValue rows();

private:
    ClientDataSet *dataSet() const; // throws when freed

    QPointer<ClientDataSet> m_dataSet;
    QString m_name;
    ScriptSession &m_session;
};

} // namespace erp::app::automation
