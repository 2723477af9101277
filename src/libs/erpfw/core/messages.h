#pragma once

#include <erpfw/core/messageservice.h>

#include <QHash>
#include <QObject>
#include <QStringList>

namespace erp {

// A screen's message table: lines "KEY|Text"; code refers to messages by key.
class ERPFW_EXPORT Messages : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList lines READ lines WRITE setLines)

public:
    explicit Messages(QObject *parent = nullptr);

    QStringList lines() const { return m_lines; }
    // A line without "|" is an error naming the table and the line.
    void setLines(const QStringList &lines);

    // Keys match without regard to case; a key the table lacks gives the key itself.
    Q_INVOKABLE QString msg(const QString &key) const;
    Q_INVOKABLE bool contains(const QString &key) const;

    Button showMsg(const QString &key, DialogType type, Buttons buttons, int helpContext = 0) const;

private:
    QStringList m_lines;
    QHash<QString, QString> m_texts; // lower-case key -> text
};

} // namespace erp
