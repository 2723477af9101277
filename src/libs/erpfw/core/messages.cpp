#include "messages.h"

#include "error.h"

namespace erp {

Messages::Messages(QObject *parent)
    : QObject(parent)
{}

void Messages::setLines(const QStringList &lines)
{
    QHash<QString, QString> texts;
    for (const QString &line : lines) {
        const qsizetype bar = line.indexOf(QLatin1Char('|'));
        if (bar <= 0)
            throw Error(QStringLiteral("Linha inválida na tabela de mensagens %1: \"%2\".")
                            .arg(objectName(), line));
        const QString key = line.left(bar).toLower();
        // the first line of a key wins, as a lookup from the top would find it
        if (!texts.contains(key))
            texts.insert(key, line.mid(bar + 1));
    }
    m_lines = lines;
    m_texts = std::move(texts);
}

QString Messages::msg(const QString &key) const
{
    return m_texts.value(key.toLower(), key);
}

bool Messages::contains(const QString &key) const
{
    return m_texts.contains(key.toLower());
}

Button Messages::showMsg(const QString &key, DialogType type, Buttons buttons, int) const
{
    return MessageService::show(type, msg(key), buttons);
}

} // namespace erp
