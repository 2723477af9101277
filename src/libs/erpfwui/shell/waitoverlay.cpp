#include "waitoverlay.h"

#include "busyindicator.h"
#include "shellwindow.h"

#include <erpfw/core/error.h>
#include <erpfw/core/ptbr.h>
#include <erpfw/net/netconnection.h>
#include <erpfwui/forms/form.h>
#include <erpfwui/widgets/focus.h>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace erp {
namespace {

constexpr int kShowAfterMs = 500;
constexpr int kProgressEveryMs = 250;

std::function<void(Form *)> g_hook;

// The cover over the main window, with what the call is doing.
class WaitOverlay final : public Form
{
public:
    WaitOverlay(QWidget *host, ServerWait &wait)
        : Form(host)
        , m_wait(wait)
    {
        setObjectName(QStringLiteral("frmAguarde"));
        setWindowTitle(QStringLiteral("Aguarde"));
        hide();
        auto *box = new QFrame(this);
        box->setFrameShape(QFrame::StyledPanel);
        box->setAutoFillBackground(true);
        auto *layout = new QVBoxLayout(box);
        m_spinner = new BusySpinner(box);
        m_spinner->setObjectName(QStringLiteral("aniAguarde"));
        m_label = new QLabel(box);
        m_label->setObjectName(QStringLiteral("lblAguarde"));
        m_label->setTextFormat(Qt::PlainText);
        m_label->setAlignment(Qt::AlignCenter);
        m_label->setMinimumWidth(320);
        m_cancel = new QPushButton(QStringLiteral("Cancelar"), box);
        m_cancel->setObjectName(QStringLiteral("btnCancelar"));
        // Taking the focus would run the screen's exit handlers in the middle of its call.
        m_cancel->setFocusPolicy(Qt::NoFocus);
        m_cancel->setEnabled(wait.cancellable());
        QObject::connect(m_cancel, &QPushButton::clicked, this, [this] { m_wait.cancel(); });
        layout->addWidget(m_spinner, 0, Qt::AlignHCenter);
        layout->addWidget(m_label);
        layout->addWidget(m_cancel, 0, Qt::AlignHCenter);
        m_box = box;
        host->installEventFilter(this);
        m_spinner->start();
        refresh();
    }

    QPushButton *cancelButton() const { return m_cancel; }

    void showOver()
    {
        place();
        show();
        raise();
        repaint();
    }

    void refresh()
    {
        QString text = m_wait.text();
        if (m_wait.cancelled())
            text = QStringLiteral("Cancelando...");
        // a list read counts its rows; any other answer its bytes
        const qint64 rows = m_wait.rowsRead();
        const qint64 bytes = m_wait.receivedBytes();
        if (rows > 0)
            text += QStringLiteral(" %1 %2").arg(ptBR().toString(rows), rows == 1 ? QStringLiteral("linha") : QStringLiteral("linhas"));
        else if (bytes > 0)
            text += QStringLiteral(" %1 MB recebidos").arg(ptBR().toString(double(bytes) / (1024.0 * 1024.0), 'f', 1));
        text += QStringLiteral(" (%1 s)").arg(m_wait.elapsedMs() / 1000);
        if (!m_wait.cancellable())
            text += QStringLiteral("\nEsta operação não pode ser interrompida.");
        m_label->setText(text);
        m_cancel->setEnabled(m_wait.cancellable() && !m_wait.cancelled());
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == parentWidget() && event->type() == QEvent::Resize)
            place();
        return Form::eventFilter(watched, event);
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(rect(), QColor(255, 255, 255, 120));
    }

private:
    void place()
    {
        setGeometry(parentWidget()->rect());
        m_box->adjustSize();
        m_box->move((width() - m_box->width()) / 2, (height() - m_box->height()) / 2);
    }

    ServerWait &m_wait;
    QFrame *m_box = nullptr;
    BusySpinner *m_spinner = nullptr;
    QLabel *m_label = nullptr;
    QPushButton *m_cancel = nullptr;
};

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::Close: // the window's close button
        return true;
    default: return false;
    }
}

// While installed, input reaches only the overlay's Cancelar; Esc anywhere cancels.
class InputBlocker final : public QObject
{
public:
    // overlay: null until it shows
    InputBlocker(ServerWait &wait, const QPointer<WaitOverlay> &overlay)
        : m_wait(wait)
        , m_overlay(overlay)
    {
        qApp->installEventFilter(this);
    }
    ~InputBlocker() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!isInput(event->type()))
            return false;
        const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
        if (key && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            // accepted, so that no shortcut of the screen's takes the key first
            event->accept();
            m_wait.cancel();
            if (m_overlay)
                m_overlay->refresh();
            return true;
        }
        // The window system's events reach the window first and its widgets next: decided there.
        if (watched->isWindowType())
            return false;
        if (event->type() == QEvent::Close)
            event->ignore(); // an accepted close would still close the window
        const bool toCancel = m_overlay && m_overlay->isVisible() && watched == m_overlay->cancelButton()
                              && event->type() != QEvent::Close;
        return !toCancel;
    }

private:
    ServerWait &m_wait;
    const QPointer<WaitOverlay> &m_overlay;
};

void waitForServer(ServerWait &wait)
{
    if (wait.finished())
        return;
    QEventLoop loop;
    QObject::connect(&wait, &ServerWait::done, &loop, &QEventLoop::quit);
    // Made only for a call that lasts: most calls end long before.
    QPointer<WaitOverlay> overlay;
    const InputBlocker blocker(wait, overlay);
    const FocusManager::Hold focusHeld;
    std::exception_ptr failure;
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, &loop, [&] {
        if (overlay)
            overlay->refresh();
    });
    QTimer showing;
    showing.setSingleShot(true);
    QObject::connect(&showing, &QTimer::timeout, &loop, [&] {
        QMainWindow *host = shellMainWindow();
        if (!host || wait.finished())
            return;
        overlay = new WaitOverlay(host, wait);
        overlay->showOver();
        progress.start(kProgressEveryMs);
        if (const auto hook = g_hook)
            failure = capture([&] { hook(overlay); }); // raised once the call has ended
    });
    showing.start(int(qMax<qint64>(0, kShowAfterMs - wait.elapsedMs())));
    if (!wait.finished())
        loop.exec();
    delete overlay.data();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

void enableServerWaitOverlay(bool on)
{
    setServerWaitHandler(on ? ServerWaitHandler(&waitForServer) : ServerWaitHandler());
}

void setServerWaitHook(std::function<void(Form *)> hook)
{
    g_hook = std::move(hook);
}

} // namespace erp
