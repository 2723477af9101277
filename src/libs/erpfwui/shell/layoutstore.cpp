#include "layoutstore.h"

#include <erpfwui/forms/form.h>
#include <erpfwui/widgets/dbgrid.h>

#include <erpfw/core/shellcontext.h>

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QScreen>
#include <QSettings>

#include <memory>

namespace erp {

namespace {

QString safeName(QString name)
{
    for (QChar &c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('_') && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    return name.isEmpty() ? QStringLiteral("padrao") : name;
}

// One open settings object per file: QSettings writes it back when it is destroyed and from
// the event loop, so a change costs no disk write of its own.
QSettings *settings()
{
    static std::unique_ptr<QSettings> open;
    const QString file = layoutFile();
    if (file.isEmpty())
        return nullptr;
    if (!open || open->fileName() != file) {
        if (open)
            open->sync();
        open = std::make_unique<QSettings>(file, QSettings::IniFormat);
        // before the application's end: the static would outlive it
        QObject::connect(qApp, &QObject::destroyed, [] { open.reset(); });
    }
    return open.get();
}

// Saves the geometry of a window whenever it moves or resizes in normal state.
class GeometryKeeper final : public QObject
{
public:
    GeometryKeeper(QWidget *window, QString key)
        : QObject(window), m_window(window), m_key(std::move(key))
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && (event->type() == QEvent::Move || event->type() == QEvent::Resize)
            && m_window->isVisible() && !(m_window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)))
            if (QSettings *s = settings())
                s->setValue(m_key, m_window->geometry());
        return false;
    }

private:
    QWidget *m_window;
    QString m_key;
};

QString screenKey(const Form *screen)
{
    return safeName(screen->objectName().isEmpty() ? QString::fromLatin1(screen->metaObject()->className())
                                                   : screen->objectName());
}

} // namespace

QString layoutFile()
{
    const QString dataDir = ShellContext::instance().dataDir();
    if (dataDir.isEmpty())
        return QString();
    return QDir(dataDir).filePath(
        QStringLiteral("opcoes/%1/janelas.ini").arg(safeName(ShellContext::instance().operador())));
}

void rememberMainWindow(QMainWindow *window)
{
    QSettings *s = settings();
    if (!s || !window)
        return;
    const QString key = QStringLiteral("%1/janela").arg(safeName(window->objectName()));
    const QRect saved = s->value(key).toRect();
    // a screen that is gone since (another monitor, a smaller resolution) keeps the default
    const QScreen *screen = window->screen();
    if (saved.isValid() && (!screen || screen->availableVirtualGeometry().intersects(saved)))
        window->setGeometry(saved);
    new GeometryKeeper(window, key);
}

bool rememberScreenLayout(QMdiSubWindow *window, Form *screen)
{
    QSettings *s = settings();
    if (!s)
        return false;
    const QString prefix = screenKey(screen);
    for (TDBGrid *grid : screen->findChildren<TDBGrid *>()) {
        const QString key = QStringLiteral("%1/%2.colunas").arg(prefix, safeName(grid->objectName()));
        const QStringList columns = s->value(key).toStringList();
        if (columns.isEmpty())
            grid->setTitlesWhole(true);
        else
            grid->setColumnLayout(columns);
        QObject::connect(grid, &TDBGrid::columnLayoutChanged, grid, [grid, key] {
            if (QSettings *s = settings())
                s->setValue(key, grid->columnLayout());
        });
    }
    const QString key = prefix + QStringLiteral("/janela");
    QRect saved = s->value(key).toRect();
    bool restored = false;
    if (saved.isValid() && window->mdiArea()) {
        // within the area, as a smaller screen or another resolution may have it now
        const QRect room = window->mdiArea()->viewport()->rect();
        saved.setWidth(qMin(saved.width(), room.width()));
        saved.setHeight(qMin(saved.height(), room.height()));
        saved.moveLeft(qBound(0, saved.left(), qMax(0, room.width() - saved.width())));
        saved.moveTop(qBound(0, saved.top(), qMax(0, room.height() - saved.height())));
        window->setGeometry(saved);
        restored = true;
    }
    new GeometryKeeper(window, key);
    return restored;
}

} // namespace erp
