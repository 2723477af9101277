#pragma once

#include <erpfwui/widgets/events.h>

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QWidget>

namespace erp {

// The enter and exit events of a control or of a container (panel, group box). Controls
// inherit it beside their Qt class; the focus manager finds it with dynamic_cast.
class ERPFWUI_EXPORT FocusEvents
{
public:
    virtual ~FocusEvents();
    NotifyEvent onEnter;
    NotifyEvent onExit;
    // Containers hear the focus entering and leaving any control inside them.
    virtual bool isFocusContainer() const { return false; }
};

// Runs the exit and enter events when the focus moves inside a form, in the toolkit's order:
// the old control's exit, the exits of the containers left (innermost first), the enters of
// the containers entered (outermost first), the new control's enter. An exception in an exit
// ends the chain and the focus stays where the handler put it (back in the control when the
// handler did not move it). Each form keeps its own current control, so a message box or
// another screen taking the focus runs nothing; nor does minimising, maximising or restoring
// the form, after which the focus goes back to that control.
class ERPFWUI_EXPORT FocusManager : public QObject
{
    Q_OBJECT

public:
    static FocusManager &instance();

    // Marks the widget that bounds a focus chain (a form); by default the top-level window.
    // Calling it again puts the manager's event filter before those installed since.
    static void setScope(QWidget *root);

    // Moves the focus as a click or Tab would, with every exit and enter event, also when
    // the window is not the active one. The exception of a handler comes back to the caller.
    void moveFocus(QWidget *widget);

    // The control the events last reached in the scope of widget (nullptr when none).
    QWidget *currentControl(QWidget *widget) const;

    // While a server call is out the window system's events still arrive (the window made
    // active, another one closed) and move the focus; the exit and enter events of those moves
    // wait until no call is out and the event loop runs again, so no screen code runs inside
    // the call.
    class ERPFWUI_EXPORT Hold
    {
    public:
        Hold();
        ~Hold();
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;
    };

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Scope
    {
        QPointer<QWidget> control;
        QList<QPointer<QWidget>> containers; // outermost first
    };

    FocusManager();
    void focusChanged(QWidget *old, QWidget *now);
    void sync(QWidget *root);
    bool keepControl(QWidget *root, Scope &scope);
    void settled(QWidget *root);
    void transition(QWidget *root, Scope &scope);
    bool run(QWidget *control, bool enter);
    static QWidget *scopeOf(QWidget *widget);
    static QWidget *currentFocus(QWidget *root);
    static QWidget *logicalControl(QWidget *focus, QWidget *root);
    static QList<QPointer<QWidget>> containersOf(QWidget *control, QWidget *root);

    QHash<QWidget *, Scope> m_scopes;
    // Forms whose window state is changing: Qt moves their focus around, the user does not.
    QSet<QWidget *> m_settling;
    void runHeld();

    bool m_busy = false;
    bool m_fromCode = false;
    int m_holds = 0;
    QList<QPointer<QWidget>> m_held; // forms whose focus moved while held
    std::exception_ptr m_captured;
};

// focus() on a control: moves the focus with every exit and enter event.
inline void focusControl(QWidget *widget) { FocusManager::instance().moveFocus(widget); }

} // namespace erp
