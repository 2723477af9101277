#include "ptbr.h"

#include <QRegularExpression>
#include <QVarLengthArray>

#include <algorithm>
#include <charconv>
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

using Digits = QVarLengthArray<char16_t, 64>;

// The integer and decimal digits of a non-negative value rounded half up to decimals places,
// taken from its 15 significant digits: 0.995 is "1,00" as a person rounds it, not the
// "0,99" that its binary neighbour 0.99499... would give.
void roundedDigits(double value, int decimals, Digits *intDigits, Digits *decDigits)
{
    char sci[32]; // d.dddddddddddddde±x
    const char *end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific, 14).ptr;
    const char *e = std::find(static_cast<const char *>(sci), end, 'e');
    Digits all;
    for (const char *c = sci; c < e; ++c)
        if (*c != '.')
            all.append(char16_t(*c));
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
    // digits with the decimal point after `point` of them
    int point = exponent + 1;
    if (point <= 0) {
        all.insert(all.cbegin(), qsizetype(1 - point), u'0');
        point = 1;
    }
    const int wanted = point + decimals;
    if (all.size() < wanted)
        all.insert(all.cend(), qsizetype(wanted - all.size()), u'0');
    const bool up = all.size() > wanted && all[wanted] >= u'5';
    all.resize(wanted);
    if (up) {
        int i = wanted - 1;
        for (; i >= 0; --i) {
            if (all[i] == u'9') {
                all[i] = u'0';
            } else {
                ++all[i];
                break;
            }
        }
        if (i < 0) {
            all.insert(all.cbegin(), u'1');
            ++point;
        }
    }
    qsizetype from = 0;
    while (point - from > 1 && all[from] == u'0')
        ++from;
    intDigits->clear();
    intDigits->append(all.constData() + from, point - from);
    decDigits->clear();
    decDigits->append(all.constData() + point, all.size() - point);
}

// A section of a display format taken apart: the literals around its number part and what
// the placeholders ask for.
struct Section
{
    bool given = false; // not an empty text between the semicolons
    bool number = false;
    QString prefix; // the whole literal text when there is no number part
    QString suffix;
    bool grouping = false;
    int minInt = 0;
    int minDec = 0;
    int maxDec = 0;
};

Section parseSection(const QString &section)
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
    Section s;
    s.given = !section.isEmpty();
    if (first < 0) {
        s.prefix = literal(section);
        return s;
    }
    const QStringView number = QStringView(section).mid(first, last - first + 1);
    const qsizetype point = number.indexOf(QLatin1Char('.'));
    const QStringView intPart = point < 0 ? number : number.left(point);
    const QStringView decPart = point < 0 ? QStringView() : number.mid(point + 1);
    s.number = true;
    s.prefix = literal(QStringView(section).left(first));
    s.suffix = literal(QStringView(section).mid(last + 1));
    s.grouping = intPart.contains(QLatin1Char(','));
    s.minInt = int(intPart.count(QLatin1Char('0')));
    s.minDec = int(decPart.count(QLatin1Char('0')));
    s.maxDec = s.minDec + int(decPart.count(QLatin1Char('#')));
    return s;
}

// A grid formats every row of a column with the same format: the last one is kept parsed.
const QList<Section> &parsedFormat(const QString &format)
{
    thread_local QString lastFormat;
    thread_local QList<Section> lastSections;
    if (lastSections.isEmpty() || lastFormat != format) {
        QList<Section> sections;
        for (const QString &piece : splitSections(format))
            sections.append(parseSection(piece));
        lastSections = sections;
        lastFormat = format;
    }
    return lastSections;
}

QString formatSection(const Section &s, double value)
{
    if (!s.number)
        return s.prefix;
    Digits ip;
    Digits dp;
    roundedDigits(value, s.maxDec, &ip, &dp);
    while (dp.size() > s.minDec && dp.back() == u'0')
        dp.removeLast();
    if (ip.size() == 1 && ip[0] == u'0' && s.minInt == 0)
        ip.clear();
    const qsizetype pad = qMax<qsizetype>(s.minInt - ip.size(), 0);
    const qsizetype digits = pad + ip.size();
    QString out;
    out.reserve(s.prefix.size() + digits + digits / 3 + 1 + dp.size() + s.suffix.size());
    out += s.prefix;
    for (qsizetype i = 0; i < digits; ++i) {
        if (s.grouping && i > 0 && (digits - i) % 3 == 0)
            out += QLatin1Char('.');
        out += i < pad ? QChar(u'0') : QChar(ip[i - pad]);
    }
    if (!dp.isEmpty()) {
        out += QLatin1Char(',');
        out.append(reinterpret_cast<const QChar *>(dp.constData()), dp.size());
    }
    out += s.suffix;
    return out;
}

} // namespace

QString formatFloat(const QString &format, double value)
{
    if (format.isEmpty() || !std::isfinite(value))
        return floatToStr(value);
    const QList<Section> &sections = parsedFormat(format);
    if (value == 0 && sections.size() >= 3 && sections[2].given)
        return formatSection(sections[2], 0);
    if (value < 0 && sections.size() >= 2 && sections[1].given)
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
