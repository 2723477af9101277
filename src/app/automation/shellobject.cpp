#include "shellobject.h"

#include "formobject.h"
#include "input.h"
#include "scriptsession.h"

#include <erpfw/core/error.h>
#include <erpfw/core/shellcontext.h>
#include <erpfwui/forms/form.h>
#include <erpfwui/shell/busyindicator.h>
#include <erpfwui/shell/moduleloader.h>
#include <erpfwui/shell/screencursor.h>
#include <erpwire/json.h>
#include <erpwire/packet.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJSEngine>
#include <QJsonArray>
#include <QMainWindow>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace erp::app::automation {

ShellObject::ShellObject(ScriptSession &session, QMainWindow &window, OpenScreen openScreen)
    : m_session(session)
    , m_window(window)
    , m_openScreen(std::move(openScreen))
{
}

void ShellObject::open(const QString &code)
{
    m_session.act([&] { m_openScreen(code); });
}

QJSValue ShellObject::form(const QString &name)
{
    Form *found = FormObject::find(name);
    if (!found)
        return QJSValue(QJSValue::NullValue);
    return m_session.engine().newQObject(new FormObject(found, m_session));
}

void ShellObject::onModal(const QString &formName, const QJSValue &fn)
{
    m_session.call([&] {
        if (!fn.isCallable() && !fn.isNull() && !fn.isUndefined())
            throw Error(QStringLiteral("shell.onModal(\"%1\", fn): fn deve ser uma função ou null.").arg(formName));
        m_session.setModalHandler(formName, fn);
    });
}

void ShellObject::onBusy(const QJSValue &fn)
{
    m_session.call([&] {
        if (!fn.isCallable() && !fn.isNull() && !fn.isUndefined())
            throw Error(QStringLiteral("shell.onBusy(fn): fn deve ser uma função ou null."));
        m_session.setBusyHandler(fn);
    });
}

void ShellObject::answerList(const QStringList &buttons)
{
    m_session.call([&] {
        QList<Button> answers;
        for (const QString &name : buttons) {
            Button found = Button::None;
            for (Button b : {Button::Yes, Button::No, Button::OK, Button::Cancel})
                if (buttonName(b) == name)
                    found = b;
            if (found == Button::None)
                throw Error(QStringLiteral("Resposta desconhecida \"%1\" (use Yes, No, OK ou Cancel).").arg(name));
            answers.append(found);
        }
        m_session.queueAnswers(answers);
    });
}

QJSValue ShellObject::messages() const
{
    return m_session.messages();
}

void ShellObject::clearMessages()
{
    m_session.clearMessages();
}

QJSValue ShellObject::serverCalls() const
{
    return m_session.serverCalls();
}

void ShellObject::clearServerCalls()
{
    m_session.clearServerCalls();
}

QJSValue ShellObject::openedScreens() const
{
    QJSEngine &engine = m_session.engine();
    const QList<OpenedScreen> screens = ModuleLoader::instance().openedScreens();
    QJSValue list = engine.newArray(uint(screens.size()));
    for (qsizetype i = 0; i < screens.size(); ++i) {
        QJsonArray params;
        for (const QVariant &p : screens[i].params) {
            try {
                params.append(wire::encodeValue(p));
            } catch (const wire::WireError &) {
                params.append(p.toString()); // a value the wire cannot carry shows as its text
            }
        }
        QJSValue o = engine.newObject();
        o.setProperty(QStringLiteral("code"), screens[i].code);
        o.setProperty(QStringLiteral("params"), engine.toScriptValue(params));
        list.setProperty(quint32(i), o);
    }
    return list;
}

void ShellObject::clearOpenedScreens()
{
    ModuleLoader::instance().clearOpenedScreens();
}

int ShellObject::cursor() const
{
    return screenCursor();
}

QStringList ShellObject::busyEvents() const
{
    return erp::busyEvents();
}

QString ShellObject::today() const
{
    return erp::today().toString(Qt::ISODate);
}

namespace {

// The offscreen platform draws no window frames: a dialog gets the title bar the user sees
// above it, drawn as the MDI area draws a screen's.
void drawTitleBar(QPainter &painter, const QWidget *window, const QRect &client)
{
    QStyleOptionTitleBar bar;
    bar.initFrom(window);
    bar.text = window->windowTitle();
    bar.titleBarFlags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    bar.subControls = QStyle::SC_TitleBarLabel | QStyle::SC_TitleBarCloseButton;
    bar.titleBarState = int(QStyle::State_Active);
    bar.state |= QStyle::State_Active;
    const QStyle *style = window->style();
    const int height = style->pixelMetric(QStyle::PM_TitleBarHeight, &bar, window);
    const int border = 1;
    bar.rect = QRect(client.left() - border, client.top() - height, client.width() + 2 * border, height);
    bar.palette.setCurrentColorGroup(QPalette::Active);
    style->drawComplexControl(QStyle::CC_TitleBar, &bar, &painter, window);
    painter.save();
    painter.setPen(bar.palette.color(QPalette::Dark));
    painter.drawRect(client.adjusted(-border, -height, border - 1, border - 1));
    painter.restore();
}

} // namespace

QPixmap ShellObject::snapshot() const
{
    // The main window as the user sees it: with the dialogs open over it.
    QPixmap image = m_window.grab();
    QPainter painter(&image);
    // A dialog opened from another dialog lies over it: windows are drawn owners first.
    auto depth = [](const QWidget *w) {
        int n = 0;
        for (const QWidget *p = w->parentWidget(); p; p = p->window()->parentWidget())
            ++n;
        return n;
    };
    QWidgetList windows = QApplication::topLevelWidgets();
    std::stable_sort(windows.begin(), windows.end(),
                     [&](const QWidget *a, const QWidget *b) { return depth(a) < depth(b); });
    for (QWidget *w : std::as_const(windows)) {
        const Qt::WindowType type = w->windowType();
        if (w == &m_window || !w->isVisible() || type == Qt::ToolTip || type == Qt::Popup)
            continue;
        const QPoint at = w->geometry().topLeft() - m_window.geometry().topLeft();
        drawTitleBar(painter, w, QRect(at, w->size()));
        painter.drawPixmap(at, w->grab());
    }
    return image;
}

void ShellObject::screenshot(const QString &path)
{
    m_session.act([&] {
        const QString file = QFileInfo(path).absoluteFilePath();
        if (!QDir().mkpath(QFileInfo(file).absolutePath()) || !snapshot().save(file, "PNG"))
            throw Error(QStringLiteral("Não foi possível gravar a imagem %1.").arg(file));
    });
}

void ShellObject::processEvents()
{
    m_session.act([] {});
}

void ShellObject::processEvents(int ms)
{
    m_session.act([ms] {
        QEventLoop loop;
        QTimer::singleShot(qMax(ms, 0), &loop, &QEventLoop::quit);
        loop.exec();
    });
}

void ScriptHelpers::check(const QJSValue &condition, const QJSValue &message)
{
    if (condition.toBool())
        return;
    m_session.throwError(message.isUndefined() ? QStringLiteral("Asserção falhou.") : message.toString());
}

void ScriptHelpers::print(const QString &line)
{
    std::fputs(qUtf8Printable(line), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace erp::app::automation
