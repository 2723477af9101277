#include "editmask.h"

namespace erp {

namespace {

constexpr QChar kSep = QLatin1Char(';');
constexpr QChar kEscape = QLatin1Char('\\');

bool isSlotChar(QChar c, EditMask::Slot *slot)
{
    switch (c.unicode()) {
    case '0': *slot = EditMask::Slot::Digit; return true;
    case '9': *slot = EditMask::Slot::DigitOpt; return true;
    case '#': *slot = EditMask::Slot::DigitOrSign; return true;
    case 'L': *slot = EditMask::Slot::Letter; return true;
    case 'l': *slot = EditMask::Slot::LetterOpt; return true;
    case 'A': *slot = EditMask::Slot::Alnum; return true;
    case 'a': *slot = EditMask::Slot::AlnumOpt; return true;
    case 'C': *slot = EditMask::Slot::Any; return true;
    case 'c': *slot = EditMask::Slot::AnyOpt; return true;
    default: return false;
    }
}

} // namespace

EditMask::EditMask(const QString &mask)
    : m_source(mask)
{
    // The last two unescaped ';' split off the keep-literals flag and the blank character.
    QList<qsizetype> seps;
    for (qsizetype i = 0; i < mask.size(); ++i) {
        if (mask[i] == kEscape)
            ++i;
        else if (mask[i] == kSep)
            seps.append(i);
    }
    QString body = mask;
    if (seps.size() >= 2) {
        const qsizetype a = seps[seps.size() - 2];
        const qsizetype b = seps.last();
        body = mask.left(a);
        m_keepLiterals = mask.mid(a + 1, b - a - 1).trimmed() != QLatin1String("0");
        const QString blank = mask.mid(b + 1);
        if (!blank.isEmpty())
            m_blank = blank[0];
    } else if (seps.size() == 1) {
        body = mask.left(seps[0]);
        m_keepLiterals = mask.mid(seps[0] + 1).trimmed() != QLatin1String("0");
    } else {
        m_keepLiterals = true;
    }

    Case letterCase = Case::AsTyped;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        Slot slot;
        if (c == QLatin1Char('!')) {
            m_blanksFirst = true;
        } else if (c == QLatin1Char('<') && i + 1 < body.size() && body[i + 1] == QLatin1Char('>')) {
            letterCase = Case::AsTyped;
            ++i;
        } else if (c == QLatin1Char('>')) {
            letterCase = Case::Upper;
        } else if (c == QLatin1Char('<')) {
            letterCase = Case::Lower;
        } else if (c == kEscape) {
            if (++i < body.size())
                m_positions.append({Slot::Literal, body[i], letterCase});
        } else if (isSlotChar(c, &slot)) {
            m_positions.append({slot, QChar(), letterCase});
        } else {
            // ':' and '/' are the pt-BR separators, which are themselves
            m_positions.append({Slot::Literal, c, letterCase});
        }
    }
}

bool EditMask::isRequired(int pos) const
{
    switch (m_positions.at(pos).slot) {
    case Slot::Digit:
    case Slot::Letter:
    case Slot::Alnum:
    case Slot::Any: return true;
    default: return false;
    }
}

int EditMask::editableCount() const
{
    int n = 0;
    for (const Position &p : m_positions)
        n += p.slot != Slot::Literal;
    return n;
}

int EditMask::nextEditable(int pos) const
{
    for (int i = qMax(pos, 0); i < size(); ++i)
        if (!isLiteral(i))
            return i;
    return -1;
}

int EditMask::previousEditable(int pos) const
{
    for (int i = qMin(pos, size() - 1); i >= 0; --i)
        if (!isLiteral(i))
            return i;
    return -1;
}

bool EditMask::accepts(int pos, QChar c) const
{
    if (pos < 0 || pos >= size() || c.isNull())
        return false;
    switch (m_positions.at(pos).slot) {
    case Slot::Literal: return false;
    case Slot::Digit:
    case Slot::DigitOpt: return c.isDigit();
    case Slot::DigitOrSign: return c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-');
    case Slot::Letter:
    case Slot::LetterOpt: return c.isLetter();
    case Slot::Alnum:
    case Slot::AlnumOpt: return c.isLetterOrNumber();
    case Slot::Any:
    case Slot::AnyOpt: return c.isPrint();
    }
    return false;
}

QChar EditMask::convert(int pos, QChar c) const
{
    switch (m_positions.at(pos).letterCase) {
    case Case::Upper: return c.toUpper();
    case Case::Lower: return c.toLower();
    case Case::AsTyped: break;
    }
    return c;
}

QString EditMask::layout(const QString &value) const
{
    QString out(size(), m_blank);
    for (int i = 0; i < size(); ++i)
        if (isLiteral(i))
            out[i] = m_positions[i].literal;

    // A value that already carries the literals in their places is taken as laid out.
    bool withLiterals = m_keepLiterals;
    if (!withLiterals && value.size() == size()) {
        withLiterals = true;
        for (int i = 0; i < size() && withLiterals; ++i)
            withLiterals = !isLiteral(i) || value[i] == m_positions[i].literal;
    }

    if (withLiterals) {
        for (int i = 0; i < size() && i < value.size(); ++i)
            if (!isLiteral(i) && accepts(i, value[i]))
                out[i] = convert(i, value[i]);
        return out;
    }

    QList<int> editable;
    for (int i = 0; i < size(); ++i)
        if (!isLiteral(i))
            editable.append(i);
    const qsizetype n = qMin(value.size(), editable.size());
    // "!" puts the blanks first: the value fills the last positions
    const qsizetype first = m_blanksFirst ? editable.size() - n : 0;
    for (qsizetype k = 0; k < n; ++k) {
        const int pos = editable[first + k];
        if (accepts(pos, value[k]))
            out[pos] = convert(pos, value[k]);
    }
    return out;
}

QString EditMask::text(const QString &display) const
{
    return m_keepLiterals ? textWithLiterals(display) : textWithoutLiterals(display);
}

namespace {

QString trimBlanks(QString s, bool leading)
{
    qsizetype end = s.size();
    while (end > 0 && s[end - 1] == QLatin1Char(' '))
        --end;
    s.truncate(end);
    if (leading) {
        qsizetype start = 0;
        while (start < s.size() && s[start] == QLatin1Char(' '))
            ++start;
        s.remove(0, start);
    }
    return s;
}

} // namespace

QString EditMask::textOf(const QString &display, bool withLiterals) const
{
    if (isEmpty())
        return display;
    QString out;
    out.reserve(size());
    for (int i = 0; i < size(); ++i) {
        if (isLiteral(i)) {
            if (withLiterals)
                out += m_positions[i].literal;
            continue;
        }
        const QChar c = i < display.size() ? display[i] : m_blank;
        out += c == m_blank ? QLatin1Char(' ') : c;
    }
    return trimBlanks(out, m_blanksFirst);
}

QString EditMask::textWithLiterals(const QString &display) const
{
    return textOf(display, true);
}

QString EditMask::textWithoutLiterals(const QString &display) const
{
    return textOf(display, false);
}

bool EditMask::isUntouched(const QString &display) const
{
    for (int i = 0; i < size() && i < display.size(); ++i)
        if (!isLiteral(i) && display[i] != m_blank && display[i] != QLatin1Char(' '))
            return false;
    return true;
}

bool EditMask::isComplete(const QString &display) const
{
    for (int i = 0; i < size(); ++i) {
        if (!isRequired(i))
            continue;
        if (i >= display.size() || display[i] == m_blank || display[i] == QLatin1Char(' '))
            return false;
    }
    return true;
}

} // namespace erp
