#include "keylist.h"

#include <algorithm>

namespace erp {

KeyList::KeyList(QObject *parent)
    : QObject(parent)
{}

void KeyList::add(const QString &key, const QVariant &value)
{
    const auto it = m_entries.find(key);
    if (it != m_entries.end()) {
        it->value = value;
        return;
    }
    m_entries.insert(key, {value, m_next++});
    emit countChanged(count());
}

void KeyList::remove(const QString &key)
{
    if (m_entries.remove(key))
        emit countChanged(count());
}

void KeyList::clear()
{
    if (m_entries.isEmpty())
        return;
    m_entries.clear();
    emit countChanged(0);
}

QVariant KeyList::value(const QString &key) const
{
    const auto it = m_entries.constFind(key);
    return it == m_entries.cend() ? QVariant() : it->value;
}

QStringList KeyList::keys() const
{
    QList<std::pair<quint64, QString>> ordered;
    ordered.reserve(m_entries.size());
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it)
        ordered.append({it->order, it.key()});
    std::sort(ordered.begin(), ordered.end());
    QStringList out;
    out.reserve(ordered.size());
    for (const auto &p : ordered)
        out.append(p.second);
    return out;
}

} // namespace erp
