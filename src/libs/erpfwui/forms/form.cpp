#include "form.h"

#include "formloader.h"

#include <erpfwui/shell/icons.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/focus.h>

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>

namespace erp {

namespace {

std::function<void(Form *)> &modalHook()
{
    static std::function<void(Form *)> hook;
    return hook;
}

TButton *buttonFor(const QWidget *form, bool cancel)
{
    const auto buttons = form->findChildren<TButton *>();
    for (TButton *b : buttons) {
        if (!b->isVisible() || !b->isEnabled())
            continue;
        if (cancel ? b->isCancel() : b->isDefault())
            return b;
    }
    return nullptr;
}

} // namespace

Form::Form(QWidget *parent)
    : QWidget(parent)
{
    FocusManager::setScope(this);
}

Form::~Form() = default;

void Form::loadForm(const QString &path)
{
    m_formFile = path.isEmpty() ? FormLoader::defaultPath(metaObject()) : path;
    FormLoader::load(this, m_formFile);
    applyComponentIcons(this);
    bindComponents();
    dispatch([this] { fire(onCreate, this); });
}

QObject *Form::findComponent(const QString &name) const
{
    if (name.isEmpty())
        return nullptr;
    return findChild<QObject *>(name);
}

void Form::activate()
{
    dispatch([this] { fire(onActivate, this); });
    emit activated();
}

int Form::showModal()
{
    if (m_loop)
        throw Error(QStringLiteral("%1 já está aberto.").arg(windowTitle()));
    m_modalResult = mrNone;
    if (!isWindow())
        setWindowFlags(windowFlags() | Qt::Dialog);
    setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    m_loop = &loop;
    QPointer<Form> self(this);
    if (QWidget *owner = parentWidget() ? parentWidget()->window() : QApplication::activeWindow())
        move(owner->geometry().center() - QPoint(width() / 2, height() / 2));
    show();
    raise();
    activateWindow();
    activate();
    if (modalHook())
        QTimer::singleShot(0, this, [this] {
            if (m_loop && modalHook())
                dispatch([this] { modalHook()(this); });
        });
    // Closing inside the create or activate handlers ends the loop before it starts.
    const int result = isVisible() ? loop.exec(QEventLoop::DialogExec) : m_modalResult;
    if (!self)
        return result;
    m_loop = nullptr;
    setWindowModality(Qt::NonModal);
    return m_modalResult;
}

void Form::setModalResult(int result)
{
    m_modalResult = result;
    if (result != mrNone && m_loop)
        close();
}

void Form::setModalHook(std::function<void(Form *)> hook)
{
    modalHook() = std::move(hook);
}

void Form::abandonModal()
{
    if (!m_loop)
        return;
    m_modalResult = mrCancel;
    hide();
    m_loop->exit(m_modalResult);
    m_loop = nullptr;
}

QString Form::focusedControl() const
{
    QWidget *control = FocusManager::instance().currentControl(const_cast<Form *>(this));
    if (!control || !isAncestorOf(control))
        return QString();
    return control->objectName();
}

void Form::closeEvent(QCloseEvent *event)
{
    CloseAction action = CloseAction::Hide;
    const bool ran = dispatch([&] { fire(onClose, this, action); });
    if (!ran || action == CloseAction::None) {
        event->ignore();
        m_modalResult = mrNone;
        return;
    }
    if (m_loop && m_modalResult == mrNone)
        m_modalResult = mrCancel;
    if (action == CloseAction::Minimize) {
        event->ignore();
        emit closedWith(action);
        return;
    }
    event->accept();
    emit closedWith(action);
    if (m_loop) {
        m_loop->exit(m_modalResult);
        m_loop = nullptr;
    }
    if (action == CloseAction::Free)
        deleteLater();
}

void Form::keyPressEvent(QKeyEvent *event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (TButton *button = buttonFor(this, false)) {
            button->click();
            return;
        }
    }
    if (plain && event->key() == Qt::Key_Escape) {
        if (TButton *button = buttonFor(this, true)) {
            button->click();
            return;
        }
        if (m_loop) {
            close();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void Form::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        dispatch([this] { fire(onShow, this); });
}

} // namespace erp
