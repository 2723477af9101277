#pragma once

#include <erpfw/erpfw_global.h>

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QVariant>

namespace erp {

// A set of keys with a value each, one entry per key, in the order first added.
class ERPFW_EXPORT KeyList : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(QStringList keys READ keys NOTIFY countChanged)

public:
    explicit KeyList(QObject *parent = nullptr);

    // Adding a present key replaces its value and keeps one entry.
    Q_INVOKABLE void add(const QString &key, const QVariant &value = {});
    // Removing an absent key does nothing.
    Q_INVOKABLE void remove(const QString &key);
    Q_INVOKABLE void clear();
    Q_INVOKABLE bool contains(const QString &key) const { return m_entries.contains(key); }
    Q_INVOKABLE QVariant value(const QString &key) const;
    int count() const { return int(m_entries.size()); }
    QStringList keys() const;

signals:
    void countChanged(int count);

private:
    struct Entry
    {
        QVariant value;
        quint64 order;
    };
    QHash<QString, Entry> m_entries;
    quint64 m_next = 0;
};

} // namespace erp
