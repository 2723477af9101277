#include "symbolfont.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QHash>
#include <QStringList>

namespace erp {
namespace {

// The dingbat layout: most codes sit at U+2700 + (code - 0x20); these were encoded elsewhere.
char32_t dingbat(char16_t code)
{
    switch (code) {
    case 0x25: return U'\u260E';
    case 0x2A: return U'\u261B';
    case 0x2B: return U'\u261E';
    case 0x48: return U'\u2605';
    case 0x6C: return U'\u25CF';
    case 0x6E: return U'\u25A0';
    case 0x73: return U'\u25B2';
    case 0x74: return U'\u25BC';
    case 0x75: return U'\u25C6';
    case 0x77: return U'\u25D7';
    default: break;
    }
    if (code > 0x20 && code < 0x7F)
        return char32_t(0x2700 + (code - 0x20));
    return code;
}

QString substituteFamily()
{
    static const QString chosen = [] {
        const QStringList candidates{QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans Symbols2"),
                                     QStringLiteral("Symbola"), QStringLiteral("FreeSerif")};
        for (const QString &family : candidates) {
            if (!QFontDatabase::hasFamily(family))
                continue;
            if (QFontMetrics(QFont(family)).inFont(QChar(0x2714)))
                return family;
        }
        return QFont().family();
    }();
    return chosen;
}

} // namespace

bool isDingbatFamily(const QString &family)
{
    return family.compare(QLatin1String("Monotype Sorts"), Qt::CaseInsensitive) == 0
        || family.compare(QLatin1String("ZapfDingbats"), Qt::CaseInsensitive) == 0;
}

SymbolText mapSymbolFont(const QFont &font, const QString &text)
{
    const QString family = font.family();
    if (!isDingbatFamily(family))
        return {font, text};
    // Asked for every symbol label and grid title drawn; a family the system lacks costs the
    // font configuration a whole match each time.
    static QHash<QString, bool> installed;
    auto known = installed.constFind(family);
    if (known == installed.constEnd())
        known = installed.insert(family, QFontDatabase::hasFamily(family));
    if (*known)
        return {font, text};
    static const bool substituted = [family] {
        QFont::insertSubstitution(family, substituteFamily());
        return true;
    }();
    Q_UNUSED(substituted);
    QFont mapped = font;
    mapped.setFamily(substituteFamily());
    QString shown;
    for (QChar c : text) {
        const char32_t u = dingbat(c.unicode());
        shown += QString::fromUcs4(&u, 1);
    }
    return {mapped, shown};
}

} // namespace erp
