#include "busyindicator.h"

#include "shellwindow.h"

#include <QBasicTimer>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QTimerEvent>
#include <QMainWindow>

namespace erp {

BusySpinner::BusySpinner(QWidget *parent)
    : QWidget(parent)
{
    setFixedSize(56, 56);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void BusySpinner::start()
{
    if (!m_timer.isActive())
        m_timer.start(80, this);
}

void BusySpinner::stop()
{
    m_timer.stop();
}

void BusySpinner::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId())
        return QWidget::timerEvent(event);
    ++m_frame;
    update();
}

void BusySpinner::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int angle = (m_frame * 30) % 360;
    p.setPen(QPen(palette().color(QPalette::Highlight), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(rect().adjusted(4, 4, -4, -4), -angle * 16, 270 * 16);
}

namespace {

// A translucent cover with the spinner. Painted at once on show, so that it is there before
// the call that follows starts to wait.
class BusyOverlay final : public QWidget
{
public:
    explicit BusyOverlay(QWidget *host)
        : QWidget(host)
        , m_spinner(new BusySpinner(this))
    {
        setObjectName(QStringLiteral("busyAnimation"));
        host->installEventFilter(this);
        place();
    }

    void start()
    {
        place();
        show();
        raise();
        m_spinner->start();
        repaint();
    }

    void stop()
    {
        m_spinner->stop();
        hide();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parentWidget() && event->type() == QEvent::Resize)
            place();
        return false;
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), QColor(255, 255, 255, 160));
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QRect(0, m_spinner->geometry().bottom() + 8, width(), 24), Qt::AlignHCenter | Qt::AlignTop,
                   QStringLiteral("Processando, aguarde..."));
    }

private:
    void place()
    {
        setGeometry(parentWidget()->rect());
        m_spinner->move(width() / 2 - m_spinner->width() / 2, height() / 2 - m_spinner->height());
    }

    BusySpinner *m_spinner;
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
