#include "edits.h"

#include "keys.h"

#include <erpfw/core/error.h>
#include <erpfw/core/ptbr.h>
#include <erpfw/core/shellcontext.h>

#include <QApplication>
#include <QCalendarWidget>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QShortcut>

namespace erp {

EditBase::EditBase(QWidget *parent)
    : QLineEdit(parent)
{
    // Paste, cut, undo and drops reach the text without passing our keys.
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (m_quiet)
            return;
        dispatch([this] { fire(onChange, this); });
    });
}

void EditBase::setDisplay(const QString &display)
{
    const bool quiet = std::exchange(m_quiet, true);
    QLineEdit::setText(display);
    m_quiet = quiet;
}

void EditBase::setText(const QString &text)
{
    const QString before = QLineEdit::text();
    setDisplay(displayFor(text));
    textReplaced();
    if (QLineEdit::text() != before)
        fire(onChange, this);
}

bool EditBase::insertChar(QChar c)
{
    const QString before = QLineEdit::text();
    insert(QString(c));
    return QLineEdit::text() != before;
}

void EditBase::typeChar(QChar key)
{
    dispatch([&] { pressChar(key); });
}

bool EditBase::pressChar(QChar key)
{
    fire(onKeyPress, this, key);
    if (key.isNull() || isReadOnly())
        return false;
    const QString before = QLineEdit::text();
    const bool quiet = std::exchange(m_quiet, true);
    bool accepted = true;
    if (key == QLatin1Char('\b'))
        eraseBack();
    else
        accepted = insertChar(key);
    m_quiet = quiet;
    if (QLineEdit::text() != before)
        fire(onChange, this);
    return accepted;
}

void EditBase::keyPressEvent(QKeyEvent *event)
{
    if (keyDownConsumed(onKeyDown, this, event))
        return;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    const QString typed = event->text();
    QChar key;
    if (event->key() == Qt::Key_Backspace && mods == Qt::NoModifier)
        key = QLatin1Char('\b');
    else if (typed.size() == 1 && typed[0].isPrint() && (mods == Qt::NoModifier || mods == (Qt::ControlModifier | Qt::AltModifier)))
        key = typed[0];
    if (!key.isNull()) {
        event->accept();
        dispatch([&] { pressChar(key); });
        return;
    }
    if (event->key() == Qt::Key_Delete && mods == Qt::NoModifier && !isReadOnly()) {
        event->accept();
        const QString before = QLineEdit::text();
        const bool quiet = std::exchange(m_quiet, true);
        eraseForward();
        m_quiet = quiet;
        if (QLineEdit::text() != before)
            dispatch([this] { fire(onChange, this); });
        return;
    }
    QLineEdit::keyPressEvent(event);
}

bool EditBase::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const QKeySequence keys(static_cast<QKeyEvent *>(event)->keyCombination());
        for (QWidget *w = parentWidget(); w; w = w->parentWidget()) {
            const auto shortcuts = w->findChildren<QShortcut *>(Qt::FindDirectChildrenOnly);
            for (const QShortcut *shortcut : shortcuts)
                if (shortcut->isEnabled() && shortcut->key() == keys)
                    return true; // not taken here: the shortcut runs
            if (w->isWindow())
                break;
        }
    }
    return QLineEdit::event(event);
}

TEdit::TEdit(QWidget *parent)
    : EditBase(parent)
{
}

TMaskEdit::TMaskEdit(QWidget *parent)
    : EditBase(parent)
{
}

void TMaskEdit::setEditMask(const QString &mask)
{
    const QString value = valueText();
    m_mask = EditMask(mask);
    if (m_mask.isEmpty()) {
        setContextMenuPolicy(Qt::DefaultContextMenu);
        setDisplay(value);
        return;
    }
    // The mask keeps its positions only if nothing edits the text behind its back.
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    setMaxLength(m_mask.size());
    setDisplay(m_mask.layout(value));
    placeCursor();
}

void TMaskEdit::textReplaced()
{
    if (!m_mask.isEmpty())
        placeCursor();
}

bool TMaskEdit::isUntouched() const
{
    return m_mask.isEmpty() ? QLineEdit::text().isEmpty() : m_mask.isUntouched(QLineEdit::text());
}

QString TMaskEdit::valueText() const
{
    return m_mask.isEmpty() ? QLineEdit::text() : m_mask.text(QLineEdit::text());
}

QString TMaskEdit::displayFor(const QString &value) const
{
    return m_mask.isEmpty() ? value : m_mask.layout(value);
}

bool TMaskEdit::clearSelection()
{
    if (!hasSelectedText())
        return false;
    QString display = QLineEdit::text();
    const int start = selectionStart();
    const int end = start + int(selectedText().size());
    for (int p = start; p < end && p < display.size(); ++p)
        if (!m_mask.isLiteral(p))
            display[p] = m_mask.blank();
    setDisplay(display);
    setCursorPosition(start);
    return true;
}

bool TMaskEdit::insertChar(QChar c)
{
    if (m_mask.isEmpty())
        return EditBase::insertChar(c);
    clearSelection();
    const int pos = cursorPosition();
    const int p = m_mask.nextEditable(pos);
    if (p < 0 || !m_mask.accepts(p, c)) {
        // Typing a literal goes past the next one, as the separators of a date.
        for (int q = pos; q < m_mask.size(); ++q) {
            if (m_mask.isLiteral(q) && m_mask.position(q).literal == c) {
                setCursorPosition(q + 1);
                return true;
            }
        }
        return false;
    }
    QString display = QLineEdit::text();
    display[p] = m_mask.convert(p, c);
    setDisplay(display);
    const int next = m_mask.nextEditable(p + 1);
    setCursorPosition(next < 0 ? m_mask.size() : next);
    return true;
}

void TMaskEdit::eraseBack()
{
    if (m_mask.isEmpty()) {
        EditBase::eraseBack();
        return;
    }
    if (clearSelection())
        return;
    const int p = m_mask.previousEditable(cursorPosition() - 1);
    if (p < 0)
        return;
    QString display = QLineEdit::text();
    display[p] = m_mask.blank();
    setDisplay(display);
    setCursorPosition(p);
}

void TMaskEdit::eraseForward()
{
    if (m_mask.isEmpty()) {
        EditBase::eraseForward();
        return;
    }
    if (clearSelection())
        return;
    const int pos = cursorPosition();
    const int p = m_mask.nextEditable(pos);
    if (p < 0)
        return;
    QString display = QLineEdit::text();
    display[p] = m_mask.blank();
    setDisplay(display);
    setCursorPosition(pos);
}

void TMaskEdit::placeCursor()
{
    const QString display = QLineEdit::text();
    int last = -1;
    for (int p = 0; p < m_mask.size() && p < display.size(); ++p)
        if (!m_mask.isLiteral(p) && display[p] != m_mask.blank())
            last = p;
    const int next = m_mask.nextEditable(last + 1);
    setCursorPosition(next < 0 ? m_mask.size() : next);
}

void TMaskEdit::focusInEvent(QFocusEvent *event)
{
    EditBase::focusInEvent(event);
    if (!m_mask.isEmpty() && !hasSelectedText() && event->reason() != Qt::MouseFocusReason)
        placeCursor();
}

void TMaskEdit::mousePressEvent(QMouseEvent *event)
{
    EditBase::mousePressEvent(event);
    if (!m_mask.isEmpty() && event->button() == Qt::LeftButton && !hasSelectedText() && isUntouched())
        placeCursor();
}

void TMaskEdit::keyPressEvent(QKeyEvent *event)
{
    if (m_mask.isEmpty() || isReadOnly()) {
        EditBase::keyPressEvent(event);
        return;
    }
    if (event->matches(QKeySequence::Paste)) {
        event->accept();
        const QString pasted = QApplication::clipboard()->text();
        for (QChar c : pasted)
            typeChar(c);
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        event->accept();
        copy();
        const QString before = QLineEdit::text();
        clearSelection();
        if (QLineEdit::text() != before)
            dispatch([this] { fire(onChange, this); });
        return;
    }
    EditBase::keyPressEvent(event);
}

TDateEditPlus::TDateEditPlus(QWidget *parent)
    : TMaskEdit(parent)
{
    setEditMask(QStringLiteral("99/99/9999;1; "));
    connect(this, &QLineEdit::textChanged, this, &TDateEditPlus::refreshLook);
    refreshLook();
}

QDate TDateEditPlus::getDate() const
{
    if (isUntouched())
        return {};
    return parseDate(text().remove(QLatin1Char(' ')));
}

void TDateEditPlus::setDate(QDate date)
{
    setText(date.isValid() ? formatDate(date) : QString());
}

void TDateEditPlus::checkValidDate() const
{
    if (!isUntouched() && !getDate().isValid())
        throw Error(QStringLiteral("Data inválida: %1").arg(text().trimmed()));
}

QString TDateEditPlus::weekdayName(QDate date)
{
    static const char *const names[] = {"Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado", "Domingo"};
    return date.isValid() ? QString::fromUtf8(names[date.dayOfWeek() - 1]) : QString();
}

QString TDateEditPlus::weekday() const
{
    return weekdayName(getDate());
}

void TDateEditPlus::popupCalendar()
{
    if (isReadOnly() || !isEnabled())
        return;
    auto *calendar = new QCalendarWidget(this);
    calendar->setObjectName(QStringLiteral("calDataPopup"));
    calendar->setWindowFlags(Qt::Popup);
    calendar->setAttribute(Qt::WA_DeleteOnClose);
    calendar->setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    calendar->setFirstDayOfWeek(Qt::Sunday);
    const QDate current = getDate();
    calendar->setSelectedDate(current.isValid() ? current : today());
    connect(calendar, &QCalendarWidget::activated, this, [this, calendar](QDate date) {
        calendar->close();
        const QString before = QLineEdit::text();
        setDisplay(displayFor(formatDate(date)));
        if (QLineEdit::text() != before)
            dispatch([this] { fire(onChange, this); });
    });
    calendar->move(mapToGlobal(QPoint(0, height())));
    calendar->show();
    calendar->setFocus();
}

void TDateEditPlus::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F4 || (event->key() == Qt::Key_Down && event->modifiers() == Qt::AltModifier)) {
        event->accept();
        popupCalendar();
        return;
    }
    TMaskEdit::keyPressEvent(event);
}

void TDateEditPlus::refreshLook()
{
    const QDate date = getDate();
    QPalette look = palette();
    look.setColor(QPalette::Text, date.isValid() ? QColor(Qt::blue) : QApplication::palette(this).color(QPalette::Text));
    setPalette(look);
    setToolTip(weekdayName(date));
}

TNumberEdit::TNumberEdit(QWidget *parent)
    : EditBase(parent)
{
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void TNumberEdit::setDecimals(int decimals)
{
    m_decimals = qBound(0, decimals, 10);
}

void TNumberEdit::setThousands(bool on)
{
    m_thousands = on;
}

QString TNumberEdit::format(double value) const
{
    QString pattern = m_thousands ? QStringLiteral("#,##0") : QStringLiteral("0");
    if (m_decimals > 0)
        pattern += QLatin1Char('.') + QString(m_decimals, QLatin1Char('0'));
    return formatFloat(pattern, value);
}

double TNumberEdit::getNumber() const
{
    return parseNumber(text()).value_or(0.0);
}

void TNumberEdit::setNumber(double value)
{
    setText(format(value));
}

bool TNumberEdit::insertChar(QChar c)
{
    if (c == QLatin1Char('.'))
        c = QLatin1Char(',');
    QString rest = QLineEdit::text();
    int at = cursorPosition();
    if (hasSelectedText()) {
        at = selectionStart();
        rest.remove(at, selectedText().size());
    }
    if (c == QLatin1Char(',')) {
        if (m_decimals == 0 || rest.contains(QLatin1Char(',')))
            return false;
    } else if (c == QLatin1Char('-')) {
        if (at != 0 || rest.startsWith(QLatin1Char('-')))
            return false;
    } else if (!c.isDigit()) {
        return false;
    }
    return EditBase::insertChar(c);
}

void TNumberEdit::focusOutEvent(QFocusEvent *event)
{
    EditBase::focusOutEvent(event);
    if (QLineEdit::text().trimmed().isEmpty())
        return;
    const QString normal = format(getNumber());
    if (normal != QLineEdit::text()) {
        setDisplay(normal);
        dispatch([this] { fire(onChange, this); });
    }
}

} // namespace erp
