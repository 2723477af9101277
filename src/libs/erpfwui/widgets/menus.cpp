#include "menus.h"

#include <erpfw/core/error.h>

namespace erp {

TMenuItem::TMenuItem(QObject *parent)
    : QAction(parent)
{
    connect(this, &QAction::triggered, this, [this] { dispatch([this] { fire(onClick, this); }); });
}

void TMenuItem::setEnabled(bool enabled)
{
    m_enabled = enabled;
    QAction::setEnabled(enabled);
    updateShortcut();
}

void TMenuItem::setVisible(bool visible)
{
    m_visible = visible;
    QAction::setVisible(visible);
    QAction::setEnabled(m_enabled);
}

void TMenuItem::setCaption(const QString &caption)
{
    m_caption = caption;
    setSeparator(caption == QLatin1String("-"));
    updateText();
}

void TMenuItem::setShortCut(const QKeySequence &keys)
{
    m_shortCut = keys;
    updateText();
    updateShortcut();
}

void TMenuItem::setShortCutText(const QString &keys)
{
    bool numeric = false;
    const int code = keys.toInt(&numeric);
    if (!numeric) {
        const QKeySequence sequence = QKeySequence::fromString(keys, QKeySequence::PortableText);
        if (!keys.isEmpty() && sequence.isEmpty())
            throw Error(QStringLiteral("Tecla de atalho inválida em %1: \"%2\".").arg(objectName(), keys));
        setShortCut(sequence);
        return;
    }
    int key = code & 0xFF;
    if (key >= 'a' && key <= 'z')
        key -= 32;
    if (key >= 112 && key <= 123) // F1..F12
        key = Qt::Key_F1 + (key - 112);
    int modifiers = 0;
    if (code & 0x2000)
        modifiers |= Qt::SHIFT;
    if (code & 0x4000)
        modifiers |= Qt::CTRL;
    if (code & 0x8000)
        modifiers |= Qt::ALT;
    setShortCut(code == 0 ? QKeySequence() : QKeySequence(key | modifiers));
}

void TMenuItem::updateText()
{
    // The key is shown beside the caption; the action itself grabs no shortcut, so that the
    // form's shortcut (which works while invisible) is the only one.
    setText(m_shortCut.isEmpty() ? m_caption
                                 : m_caption + QLatin1Char('\t') + m_shortCut.toString(QKeySequence::NativeText));
}

void TMenuItem::attach(QWidget *form)
{
    m_form = form;
    updateShortcut();
}

void TMenuItem::updateShortcut()
{
    if (!m_form || m_shortCut.isEmpty()) {
        delete m_shortcut;
        return;
    }
    if (!m_shortcut) {
        m_shortcut = new QShortcut(m_form);
        m_shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(m_shortcut, &QShortcut::activated, this, &TMenuItem::click);
    }
    m_shortcut->setKey(m_shortCut);
    m_shortcut->setEnabled(m_enabled);
}

void TMenuItem::addItem(TMenuItem *item)
{
    if (!menu<QMenu *>()) {
        auto *sub = new QMenu;
        sub->setTitle(m_caption);
        connect(this, &QObject::destroyed, sub, &QObject::deleteLater);
        setMenu(sub);
    }
    menu<QMenu *>()->addAction(item);
}

QList<TMenuItem *> TMenuItem::items() const
{
    QList<TMenuItem *> list;
    if (QMenu *sub = menu<QMenu *>())
        for (QAction *a : sub->actions())
            if (auto *item = qobject_cast<TMenuItem *>(a))
                list.append(item);
    return list;
}

void TMenuItem::click()
{
    if (!isEnabled() || isSeparator())
        return;
    dispatch([this] { fire(onClick, this); });
}

TMainMenu::TMainMenu(QWidget *parent)
    : QMenuBar(parent)
{
    setNativeMenuBar(false);
}

void TMainMenu::addItem(TMenuItem *item)
{
    addAction(item);
}

TPopupMenu::TPopupMenu(QWidget *parent)
    : QMenu(parent)
{
}

void TPopupMenu::addItem(TMenuItem *item)
{
    addAction(item);
}

} // namespace erp
