#include "busyindicator.h"

#include "shellwindow.h"

#include <QBasicTimer>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QTimerEvent>
#include <QMainWindow>
#include <QWidget>

namespace erp {
namespace {

// A translucent cover with a turning arc. Painted at once on show, since the caller is about
// to block the event loop with a synchronous call.
class BusyOverlay final : public QWidget
{
public:
    explicit BusyOverlay(QWidget *host)
        : QWidget(host)
    {
        setObjectName(QStringLiteral("busyAnimation"));
        host->installEventFilter(this);
        setGeometry(host->rect());
    }

    void start()
    {
        setGeometry(parentWidget()->rect());
        show();
        raise();
        m_timer.start(80, this);
        repaint();
    }

    void stop()
    {
        m_timer.stop();
        hide();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parentWidget() && event->type() == QEvent::Resize)
            setGeometry(parentWidget()->rect());
        return false;
    }

    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() != m_timer.timerId())
            return QWidget::timerEvent(event);
        m_angle = (m_angle + 30) % 360;
        update();
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), QColor(255, 255, 255, 160));
        const int side = 48;
        const QRect arc(width() / 2 - side / 2, height() / 2 - side, side, side);
        p.setPen(QPen(palette().color(QPalette::Highlight), 5, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(arc, -m_angle * 16, 270 * 16);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRect(0, arc.bottom() + 12, width(), 24), Qt::AlignHCenter | Qt::AlignTop,
                   QStringLiteral("Processando, aguarde..."));
    }

private:
    QBasicTimer m_timer;
    int m_angle = 0;
};

QPointer<BusyOverlay> g_overlay;
QStringList g_events;

} // namespace

void ActiveShowAvi(QWidget *mainForm, int kind)
{
    g_events << QStringLiteral("show:%1").arg(kind);
    QWidget *host = mainForm ? mainForm : static_cast<QWidget *>(shellMainWindow());
    if (!host)
        return; // no window to cover (a screen driven without the shell)
    if (g_overlay && g_overlay->parentWidget() != host)
        delete g_overlay;
    if (!g_overlay)
        g_overlay = new BusyOverlay(host);
    g_overlay->start();
}

void DeactiveShowAvi()
{
    g_events << QStringLiteral("hide");
    if (g_overlay)
        g_overlay->stop();
}

bool busyAnimationVisible()
{
    return g_overlay && g_overlay->isVisible();
}

QStringList busyEvents()
{
    return g_events;
}

void clearBusyEvents()
{
    g_events.clear();
}

} // namespace erp
