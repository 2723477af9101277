#include "ptbr.h"

#include <QRegularExpression>

#include <cmath>

namespace erp {

const QLocale &ptBR()
{
    static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

namespace {

QStringList splitSections(const QString &format)
{
    QStringList sections;
    QString current;
    QChar quote;
    for (QChar c : format) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (c == QLatin1Char(';')) {
            sections.append(current);
            current.clear();
            continue;
        }
        current += c;
    }
    sections.append(current);
    return sections;
}

bool isPlaceholder(QChar c)
{
    return c == QLatin1Char('0') || c == QLatin1Char('#');
}

// Literal text of a format piece: quotes removed.
QString literal(QStringView piece)
{
    QString out;
    QChar quote;
    for (QChar c : piece) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            else
                out += c;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else {
            out += c;
        }
    }
    return out;
}

// The integer and decimal digits of a non-negative value rounded half up to decimals places,
// taken from its 15 significant digits: 0.995 is "1,00" as a person rounds it, not the
// "0,99" that its binary neighbour 0.99499... would give.
void roundedDigits(double value, int decimals, QString *intDigits, QString *decDigits)
{
    const QString sci = QString::number(value, 'e', 14); // d.dddddddddddddde±x
    const qsizetype e = sci.indexOf(QLatin1Char('e'));
    QString mantissa = sci.left(e);
    mantissa.remove(QLatin1Char('.'));
    const int exponent = sci.mid(e + 1).toInt();
    // digits with the decimal point after `point` of them
    QString all = mantissa;
    int point = exponent + 1;
    if (point <= 0) {
        all.prepend(QString(1 - point, QLatin1Char('0')));
        point = 1;
    }
    const int wanted = point + decimals;
    if (all.size() < wanted)
        all += QString(wanted - all.size(), QLatin1Char('0'));
    const bool up = all.size() > wanted && all[wanted] >= QLatin1Char('5');
    all.truncate(wanted);
    if (up) {
        int i = wanted - 1;
        for (; i >= 0; --i) {
            if (all[i] == QLatin1Char('9')) {
                all[i] = QLatin1Char('0');
            } else {
                all[i] = QChar(all[i].unicode() + 1);
                break;
            }
        }
        if (i < 0) {
            all.prepend(QLatin1Char('1'));
            ++point;
        }
    }
    QString ip = all.left(point);
    while (ip.size() > 1 && ip.startsWith(QLatin1Char('0')))
        ip.remove(0, 1);
    *intDigits = ip;
    *decDigits = all.mid(point);
}

QString formatSection(const QString &section, double value)
{
    // The number part runs from the first to the last placeholder outside quotes.
    qsizetype first = -1;
    qsizetype last = -1;
    QChar quote;
    for (qsizetype i = 0; i < section.size(); ++i) {
        const QChar c = section[i];
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (isPlaceholder(c)) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first < 0)
        return literal(section);

    const QStringView number = QStringView(section).mid(first, last - first + 1);
    const qsizetype point = number.indexOf(QLatin1Char('.'));
    const QStringView intPart = point < 0 ? number : number.left(point);
    const QStringView decPart = point < 0 ? QStringView() : number.mid(point + 1);
    const bool grouping = intPart.contains(QLatin1Char(','));
    const int minInt = int(intPart.count(QLatin1Char('0')));
    const int minDec = int(decPart.count(QLatin1Char('0')));
    const int maxDec = minDec + int(decPart.count(QLatin1Char('#')));

    QString ip;
    QString dp;
    roundedDigits(value, maxDec, &ip, &dp);
    while (dp.size() > minDec && dp.endsWith(QLatin1Char('0')))
        dp.chop(1);
    if (ip == QLatin1String("0") && minInt == 0)
        ip.clear();
    if (ip.size() < minInt)
        ip = QString(minInt - ip.size(), QLatin1Char('0')) + ip;
    if (grouping)
        for (qsizetype i = ip.size() - 3; i > 0; i -= 3)
            ip.insert(i, QLatin1Char('.'));
    QString out = ip;
    if (!dp.isEmpty())
        out += QLatin1Char(',') + dp;
    return literal(QStringView(section).left(first)) + out + literal(QStringView(section).mid(last + 1));
}

} // namespace

QString formatFloat(const QString &format, double value)
{
    if (format.isEmpty() || !std::isfinite(value))
        return floatToStr(value);
    const QStringList sections = splitSections(format);
    if (value == 0 && sections.size() >= 3 && !sections[2].isEmpty())
        return formatSection(sections[2], 0);
    if (value < 0 && sections.size() >= 2 && !sections[1].isEmpty())
        return formatSection(sections[1], -value);
    const QString text = formatSection(sections[0], std::fabs(value));
    // no "-0,00": the sign goes only with a digit that is not zero
    const bool shownNonZero = std::any_of(text.begin(), text.end(),
                                          [](QChar c) { return c.isDigit() && c != QLatin1Char('0'); });
    return value < 0 && shownNonZero ? QLatin1Char('-') + text : text;
}

QString floatToStr(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    QString s = QString::number(value, 'g', 15);
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    return s;
}

QString formatDate(QDate date)
{
    if (!date.isValid())
        return QString();
    int y = 0, m = 0, d = 0;
    date.getDate(&y, &m, &d);
    if (y < 1 || y > 9999) // a sign or a fifth digit: as QDate writes them
        return date.toString(QStringLiteral("dd/MM/yyyy"));
    // every calculated row writes dates: digit by digit, not through a format parser
    const char16_t text[10] = {char16_t('0' + d / 10), char16_t('0' + d % 10), u'/',
                               char16_t('0' + m / 10), char16_t('0' + m % 10), u'/',
                               char16_t('0' + y / 1000), char16_t('0' + y / 100 % 10),
                               char16_t('0' + y / 10 % 10), char16_t('0' + y % 10)};
    return QString(reinterpret_cast<const QChar *>(text), 10);
}

QString formatDateTime(const QDateTime &dt)
{
    if (!dt.isValid())
        return {};
    if (dt.time() == QTime(0, 0))
        return formatDate(dt.date());
    return dt.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
}

QString formatDateTime(const QString &format, const QDateTime &dt)
{
    if (!dt.isValid())
        return {};
    if (format.isEmpty())
        return formatDateTime(dt);
    QString out;
    bool afterHour = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        const QChar lc = c.toLower();
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            const qsizetype end = format.indexOf(c, i + 1);
            out += format.mid(i + 1, (end < 0 ? format.size() : end) - i - 1);
            i = end < 0 ? format.size() : end + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run].toLower() == lc)
            ++run;
        const auto pad = [&](int v) { return QString::number(v).rightJustified(run >= 2 ? 2 : 1, QLatin1Char('0')); };
        switch (lc.unicode()) {
        case 'd':
            if (run >= 4)
                out += ptBR().dayName(dt.date().dayOfWeek(), QLocale::LongFormat);
            else if (run == 3)
                out += ptBR().dayName(dt.date().dayOfWeek(), QLocale::ShortFormat);
            else
                out += pad(dt.date().day());
            break;
        case 'm':
            if (afterHour && run <= 2) {
                out += pad(dt.time().minute()); // "hh:mm" means minutes
            } else if (run >= 4) {
                out += ptBR().monthName(dt.date().month(), QLocale::LongFormat);
            } else if (run == 3) {
                out += ptBR().monthName(dt.date().month(), QLocale::ShortFormat);
            } else {
                out += pad(dt.date().month());
            }
            break;
        case 'y':
            out += run <= 2 ? QString::number(dt.date().year() % 100).rightJustified(2, QLatin1Char('0'))
                            : QString::number(dt.date().year());
            break;
        case 'h': out += pad(dt.time().hour()); break;
        case 'n': out += pad(dt.time().minute()); break;
        case 's': out += pad(dt.time().second()); break;
        default: out += format.mid(i, run); break;
        }
        if (lc.isLetter())
            afterHour = lc == QLatin1Char('h');
        i += run;
    }
    return out;
}

std::optional<double> parseNumber(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[+-]?(\\d{1,3}(\\.\\d{3})+|\\d*)(,\\d*)?$"));
    const QString t = text.trimmed();
    if (t.isEmpty() || !re.match(t).hasMatch())
        return std::nullopt;
    QString c = t;
    c.remove(QLatin1Char('.'));
    c.replace(QLatin1Char(','), QLatin1Char('.'));
    if (c == QLatin1String(".") || c == QLatin1String("+") || c == QLatin1String("-"))
        return std::nullopt;
    bool ok = false;
    const double v = c.toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

QDate parseDate(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{2}|\\d{4})$"));
    const auto m = re.match(text.trimmed());
    if (!m.hasMatch())
        return {};
    int year = m.captured(3).toInt();
    if (m.captured(3).size() == 2)
        year += year < 50 ? 2000 : 1900;
    return QDate(year, m.captured(2).toInt(), m.captured(1).toInt());
}

QDateTime parseDateTime(const QString &text)
{
    const QString t = text.trimmed();
    const qsizetype space = t.indexOf(QLatin1Char(' '));
    const QDate date = parseDate(space < 0 ? t : t.left(space));
    if (!date.isValid())
        return {};
    if (space < 0)
        return QDateTime(date, QTime(0, 0));
    QTime time = QTime::fromString(t.mid(space + 1).trimmed(), QStringLiteral("H:mm:ss"));
    if (!time.isValid())
        time = QTime::fromString(t.mid(space + 1).trimmed(), QStringLiteral("H:mm"));
    return time.isValid() ? QDateTime(date, time) : QDateTime();
}

} // namespace erp
