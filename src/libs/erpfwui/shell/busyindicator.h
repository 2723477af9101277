#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QBasicTimer>
#include <QStringList>
#include <QWidget>

namespace erp {

// A turning arc that plays by itself while started: its frame advances on its own timer, also
// while a server call keeps the screen's code waiting.
class ERPFWUI_EXPORT BusySpinner : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int frame READ frame)

public:
    explicit BusySpinner(QWidget *parent = nullptr);

    int frame() const { return m_frame; }
    void start();
    void stop();

protected:
    void timerEvent(QTimerEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QBasicTimer m_timer;
    int m_frame = 0;
};

// The busy animation over the main window while a long synchronous call runs. A second show
// only changes the kind; a hide with nothing shown does nothing. A null mainForm means the
// shell's main window.
ERPFWUI_EXPORT void ActiveShowAvi(QWidget *mainForm, int kind);
ERPFWUI_EXPORT void DeactiveShowAvi();

ERPFWUI_EXPORT bool busyAnimationVisible();

// Every call so far, oldest first: "show:<kind>" and "hide" (for scripted runs and support).
ERPFWUI_EXPORT QStringList busyEvents();
ERPFWUI_EXPORT void clearBusyEvents();

} // namespace erp
