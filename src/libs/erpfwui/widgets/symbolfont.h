#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QFont>
#include <QString>

namespace erp {

// Forms name symbol fonts of the desktop they were drawn on ("Monotype Sorts" shows a check
// mark for "4"). Where such a font is not installed, the text is drawn with the Unicode
// characters that the font's glyphs stand for, in an installed font that has them.
struct SymbolText
{
    QFont font;
    QString text;
};

ERPFWUI_EXPORT SymbolText mapSymbolFont(const QFont &font, const QString &text);
ERPFWUI_EXPORT bool isDingbatFamily(const QString &family);

} // namespace erp
