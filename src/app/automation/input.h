#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace erp::app::automation {

// One key by its QKeySequence name ("Space", "Return", "F5", "L"); nothing for a name that is
// not exactly one key without modifiers.
std::optional<Qt::Key> keyFromName(const QString &name);

// "Ctrl", "Shift", "Alt" (any letter case); nothing when a name is none of them.
std::optional<Qt::KeyboardModifiers> modifiersFromNames(const QStringList &names);

// A press and a release of the key as the keyboard sends them: shortcuts first, then the
// widget's key handling (its key filters).
void pressKey(QWidget *widget, Qt::Key key, Qt::KeyboardModifiers modifiers);

// The key press of one typed character.
void typeCharacter(QWidget *widget, QChar character);

// Mouse clicks at pos (the widget's centre when null), delivered to the innermost child there,
// as the window system does.
void click(QWidget *widget, QPoint pos = {});
void doubleClick(QWidget *widget, QPoint pos = {});

// Lets the events an action caused run: posted events, timers that are due, repaints and
// deferred deletions.
void settle();

} // namespace erp::app::automation
