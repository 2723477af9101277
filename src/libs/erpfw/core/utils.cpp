#include "utils.h"

#include "editmask.h"

namespace erp {

bool emptyString(const QString &text)
{
    for (QChar c : text)
        if (c.isLetterOrNumber())
            return false;
    return true;
}

QString ajusta(const QString &text, int length)
{
    const QString code = text.trimmed();
    if (code.isEmpty() || code.size() >= length)
        return code;
    return QString(length - code.size(), QLatin1Char('0')) + code;
}

bool maxNumber(const QString &text, int intDigits, int decDigits, QChar key, int selStart, int selLength)
{
    if (key.unicode() < 0x20)
        return true; // the null key and control keys (backspace) add no digit
    const bool separator = key == QLatin1Char(',') || key == QLatin1Char('.');
    if (!separator && !key.isDigit())
        return true;

    const int start = qBound(0, selStart, int(text.size()));
    const int length = qBound(0, selLength, int(text.size()) - start);
    QString result = text;
    result.remove(start, length);
    if (separator) {
        if (decDigits <= 0 || result.contains(QLatin1Char(',')))
            return false;
        result.insert(start, QLatin1Char(','));
    } else {
        result.insert(start, key);
    }

    const qsizetype comma = result.indexOf(QLatin1Char(','));
    int ints = 0;
    int decs = 0;
    for (qsizetype i = 0; i < result.size(); ++i) {
        if (!result[i].isDigit())
            continue;
        if (comma < 0 || i < comma)
            ++ints;
        else
            ++decs;
    }
    return ints <= intDigits && decs <= decDigits;
}

bool maxNumber(const QString &text, int intDigits, int decDigits, const QString &key, int selStart, int selLength)
{
    return maxNumber(text, intDigits, decDigits, key.isEmpty() ? QChar() : key[0], selStart, selLength);
}

QString pictPess(const QString &personType)
{
    const QString type = personType.trimmed().toUpper();
    if (type == QLatin1String("F"))
        return QStringLiteral("999.999.999-99;0;_");
    if (type == QLatin1String("J"))
        return QStringLiteral("99.999.999/9999-99;0;_");
    return {};
}

QString formatMaskText(const QString &mask, const QString &value)
{
    const EditMask m(mask);
    return m.isEmpty() ? value : m.layout(value);
}

} // namespace erp
