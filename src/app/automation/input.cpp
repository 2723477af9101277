#include "input.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QKeySequence>
#include <QPointer>
#include <QTest>
#include <QWidget>

namespace erp::app::automation {
namespace {

// The innermost visible child under pos, and pos in its coordinates.
std::pair<QWidget *, QPoint> target(QWidget *widget, QPoint pos)
{
    if (pos.isNull())
        pos = widget->rect().center();
    QWidget *child = widget->childAt(pos);
    if (!child)
        return {widget, pos};
    return {child, child->mapFrom(widget, pos)};
}

// The text a key produces by itself: letters, digits, blanks, Return and Tab.
QString keyText(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier))
        return QString();
    switch (key) {
    case Qt::Key_Space: return QStringLiteral(" ");
    case Qt::Key_Return:
    case Qt::Key_Enter: return QStringLiteral("\r");
    case Qt::Key_Tab: return QStringLiteral("\t");
    case Qt::Key_Backspace: return QStringLiteral("\b");
    case Qt::Key_Escape: return QString(QChar(27));
    default: break;
    }
    if (key >= Qt::Key_Exclam && key <= Qt::Key_ydiaeresis) {
        const QChar c(static_cast<char16_t>(key));
        return QString(modifiers & Qt::ShiftModifier ? c.toUpper() : c.toLower());
    }
    return QString();
}

} // namespace

std::optional<Qt::Key> keyFromName(const QString &name)
{
    const QKeySequence sequence = QKeySequence::fromString(name.trimmed(), QKeySequence::PortableText);
    if (sequence.count() != 1 || sequence[0].keyboardModifiers() != Qt::NoModifier)
        return std::nullopt;
    const Qt::Key key = sequence[0].key();
    if (key == Qt::Key_unknown || key == 0)
        return std::nullopt;
    return key;
}

std::optional<Qt::KeyboardModifiers> modifiersFromNames(const QStringList &names)
{
    Qt::KeyboardModifiers modifiers;
    for (const QString &name : names) {
        const QString n = name.trimmed().toLower();
        if (n == QLatin1String("ctrl"))
            modifiers |= Qt::ControlModifier;
        else if (n == QLatin1String("shift"))
            modifiers |= Qt::ShiftModifier;
        else if (n == QLatin1String("alt"))
            modifiers |= Qt::AltModifier;
        else
            return std::nullopt;
    }
    return modifiers;
}

void pressKey(QWidget *widget, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::sendKeyEvent(QTest::Click, widget, key, keyText(key, modifiers), modifiers);
}

void typeCharacter(QWidget *widget, QChar character)
{
    // Latin-1 characters have keys of their own (the key of the upper-case letter); others
    // arrive as text only, as an input method delivers them.
    const QChar upper = character.toUpper();
    Qt::Key key = Qt::Key_unknown;
    if (upper.unicode() > 0x20 && upper.unicode() < 0x100)
        key = Qt::Key(upper.unicode());
    else if (character == QLatin1Char(' '))
        key = Qt::Key_Space;
    else if (character == QLatin1Char('\n') || character == QLatin1Char('\r'))
        key = Qt::Key_Return;
    else if (character == QLatin1Char('\t'))
        key = Qt::Key_Tab;
    else if (character == QLatin1Char('\b'))
        key = Qt::Key_Backspace;
    if (key == Qt::Key_Return || key == Qt::Key_Tab || key == Qt::Key_Backspace) {
        pressKey(widget, key, Qt::NoModifier);
        return;
    }
    const Qt::KeyboardModifiers modifiers = character.isUpper() ? Qt::ShiftModifier : Qt::NoModifier;
    QTest::sendKeyEvent(QTest::Click, widget, key, QString(character), modifiers);
}

void click(QWidget *widget, QPoint pos)
{
    const auto [receiver, at] = target(widget, pos);
    QPointer<QWidget> alive(receiver);
    QTest::mousePress(receiver, Qt::LeftButton, Qt::NoModifier, at);
    if (alive) // the press may have closed the window
        QTest::mouseRelease(receiver, Qt::LeftButton, Qt::NoModifier, at);
}

void doubleClick(QWidget *widget, QPoint pos)
{
    // The window system's sequence: press, release, double click, release.
    const auto [receiver, at] = target(widget, pos);
    QPointer<QWidget> alive(receiver);
    QTest::mousePress(receiver, Qt::LeftButton, Qt::NoModifier, at);
    if (alive)
        QTest::mouseRelease(receiver, Qt::LeftButton, Qt::NoModifier, at);
    if (alive)
        QTest::mouseDClick(receiver, Qt::LeftButton, Qt::NoModifier, at);
    if (alive)
        QTest::mouseRelease(receiver, Qt::LeftButton, Qt::NoModifier, at);
}

void settle()
{
    // Until a round finds nothing to do; a handler that keeps posting work cannot hold the
    // script forever.
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    for (int round = 0; round < 50; ++round) {
        const bool worked = dispatcher && dispatcher->processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!worked && round >= 2)
            break;
    }
}

} // namespace erp::app::automation
