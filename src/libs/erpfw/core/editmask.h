#pragma once

#include <erpfw/erpfw_global.h>

#include <QList>
#include <QString>

namespace erp {

// An edit mask: "mask;keep-literals;blank", e.g. "999.999.999-99;0;_" or "99;0; ".
// Positions are the mask's character slots (literals included); the display text has one
// character per position, the text is what the edit gives its owner.
class ERPFW_EXPORT EditMask
{
public:
    enum class Slot {
        Literal,
        Digit,       // 0
        DigitOpt,    // 9
        DigitOrSign, // #
        Letter,      // L
        LetterOpt,   // l
        Alnum,       // A
        AlnumOpt,    // a
        Any,         // C
        AnyOpt,      // c
    };
    enum class Case { AsTyped, Upper, Lower };
    struct Position
    {
        Slot slot = Slot::Literal;
        QChar literal; // the character shown, for literals
        Case letterCase = Case::AsTyped;
    };

    EditMask() = default;
    explicit EditMask(const QString &mask);

    bool isEmpty() const { return m_positions.isEmpty(); }
    QString source() const { return m_source; }
    bool keepLiterals() const { return m_keepLiterals; }
    QChar blank() const { return m_blank; }
    // "!": optional characters are blanks at the start instead of the end.
    bool blanksFirst() const { return m_blanksFirst; }

    int size() const { return int(m_positions.size()); }
    const Position &position(int pos) const { return m_positions.at(pos); }
    bool isLiteral(int pos) const { return m_positions.at(pos).slot == Slot::Literal; }
    bool isRequired(int pos) const;
    int editableCount() const;
    // The first editable position at or after / before pos; -1 when none.
    int nextEditable(int pos) const;
    int previousEditable(int pos) const;

    // Whether c may stand at pos, and the character stored for it (case conversion).
    bool accepts(int pos, QChar c) const;
    QChar convert(int pos, QChar c) const;

    // The display text for a value: the value's characters laid into the positions
    // (with literals when keepLiterals, else into the editable positions only), blanks
    // for the positions left; a character that a position refuses leaves it blank.
    QString layout(const QString &value) const;
    // The edit's text for a display text: literals dropped unless kept, blanks as spaces,
    // trailing blanks removed.
    QString text(const QString &display) const;
    QString textWithLiterals(const QString &display) const;
    QString textWithoutLiterals(const QString &display) const;
    // Only blanks and literals: the user has typed nothing.
    bool isUntouched(const QString &display) const;
    // Every required position holds a character.
    bool isComplete(const QString &display) const;

private:
    QString textOf(const QString &display, bool withLiterals) const;

    QString m_source;
    QList<Position> m_positions;
    bool m_keepLiterals = false;
    bool m_blanksFirst = false;
    QChar m_blank = QLatin1Char('_');
};

} // namespace erp
