#include "help.h"

#include "icons.h"
#include "shellwindow.h"

#include <erpfwui/forms/form.h>

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace erp {
namespace {

const QString kShellPage = QStringLiteral(":/help/erp-shell.html");

class HelpForm final : public Form
{
public:
    explicit HelpForm(QWidget *owner)
        : Form(owner)
        , m_browser(new QTextBrowser(this))
    {
        setObjectName(QStringLiteral("frmAjuda"));
        setWindowFlags(Qt::Window);
        setAttribute(Qt::WA_DeleteOnClose, false);
        m_browser->setObjectName(QStringLiteral("txbAjuda"));
        m_browser->setOpenLinks(true);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_browser);
        applyComponentIcons(this);
        resize(560, 520);
    }

    void showPage(const QString &page)
    {
        m_browser->setSource(QUrl(QStringLiteral("qrc") + page));
        const QString title = m_browser->documentTitle();
        setWindowTitle(title.isEmpty() ? QStringLiteral("Ajuda") : QStringLiteral("Ajuda - %1").arg(title));
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            close();
            return;
        }
        Form::keyPressEvent(event);
    }

private:
    QTextBrowser *m_browser;
};

QPointer<HelpForm> g_help;

class HelpKeyFilter final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier)
            return false;
        // The key goes to the control that has the focus; its screen is the one asked about.
        showHelp(static_cast<QWidget *>(watched));
        return true;
    }
};

} // namespace

QString helpPage(const QWidget *from)
{
    for (const QWidget *w = from; w; w = w->parentWidget()) {
        if (!qobject_cast<const Form *>(w))
            continue;
        const auto *code = w->findChild<QLabel *>(QStringLiteral("lblCodTela"));
        if (!code)
            continue;
        const QString page = QStringLiteral(":/help/%1.html").arg(code->text().trimmed());
        if (QFile::exists(page))
            return page;
    }
    return kShellPage;
}

void showHelp(QWidget *from)
{
    if (g_help && from && (from == g_help || g_help->isAncestorOf(from))) {
        g_help->raise(); // F1 in the manual keeps the page it shows
        return;
    }
    // Over a modal dialog the window must belong to it, or the dialog would block it.
    QWidget *owner = QApplication::activeModalWidget();
    if (!owner)
        owner = shellMainWindow();
    if (g_help && g_help->parentWidget() != owner)
        delete g_help;
    if (!g_help)
        g_help = new HelpForm(owner);
    g_help->showPage(helpPage(from));
    g_help->show();
    g_help->raise();
    g_help->activateWindow();
}

void installHelpKey()
{
    static HelpKeyFilter *filter = nullptr;
    if (!filter) {
        filter = new HelpKeyFilter(qApp);
        qApp->installEventFilter(filter);
    }
}

} // namespace erp
