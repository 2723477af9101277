#include "pages.h"

#include <erpfw/core/error.h>

#include <QEvent>
#include <QMouseEvent>
#include <QStackedWidget>
#include <QTabBar>

namespace erp {

TTabSheet::TTabSheet(QWidget *parent)
    : QWidget(parent)
{
}

void TTabSheet::setCaption(const QString &caption)
{
    m_caption = caption;
    emit captionChanged();
}

void TTabSheet::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        if (auto *pages = qobject_cast<QStackedWidget *>(parentWidget()))
            if (auto *control = qobject_cast<TPageControl *>(pages->parentWidget()))
                control->setTabEnabled(control->indexOf(this), isEnabled());
}

TPageControl::TPageControl(QWidget *parent)
    : QTabWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    tabBar()->setFocusPolicy(Qt::NoFocus);
    tabBar()->installEventFilter(this);
}

void TPageControl::addPage(TTabSheet *page)
{
    addTab(page, page->caption());
    setTabEnabled(indexOf(page), page->isEnabled());
    connect(page, &TTabSheet::captionChanged, this, [this, page] { setTabText(indexOf(page), page->caption()); });
}

QList<TTabSheet *> TPageControl::pages() const
{
    QList<TTabSheet *> list;
    for (int i = 0; i < count(); ++i)
        if (auto *page = qobject_cast<TTabSheet *>(widget(i)))
            list.append(page);
    return list;
}

TTabSheet *TPageControl::activePage() const
{
    return qobject_cast<TTabSheet *>(currentWidget());
}

void TPageControl::setActivePage(TTabSheet *page)
{
    const int index = indexOf(page);
    if (index < 0)
        throw Error(QStringLiteral("%1 não tem a página %2.").arg(objectName(), page ? page->objectName() : QString()));
    // As the toolkit does, the focus leaves a page being hidden for the page control itself;
    // left to Qt it would jump to the next control of the form, running its enter events.
    TTabSheet *old = activePage();
    QWidget *current = FocusManager::instance().currentControl(this);
    if (old && old != page && current && old->isAncestorOf(current)) {
        focusControl(this);
        if (FocusManager::instance().currentControl(this) != this)
            return; // an exit handler kept the focus on the page
    }
    setCurrentIndex(index);
}

QString TPageControl::activePageName() const
{
    TTabSheet *page = activePage();
    return page ? page->objectName() : QString();
}

void TPageControl::setActivePageName(const QString &name)
{
    for (TTabSheet *page : pages()) {
        if (page->objectName() == name) {
            setActivePage(page);
            return;
        }
    }
    throw Error(QStringLiteral("%1 não tem a página %2.").arg(objectName(), name));
}

bool TPageControl::clickPage(const QString &name)
{
    for (TTabSheet *page : pages())
        if (page->objectName() == name)
            return clickTab(indexOf(page));
    throw Error(QStringLiteral("%1 não tem a página %2.").arg(objectName(), name));
}

// Returns whether the page was shown: a disabled tab, or an exit handler that kept the
// focus where it was, leave the pages as they are.
bool TPageControl::clickTab(int index)
{
    if (index < 0 || !isTabEnabled(index) || !isEnabled())
        return false;
    dispatch([this] { focusControl(this); });
    if (FocusManager::instance().currentControl(this) != this)
        return false;
    if (index != currentIndex()) {
        setCurrentIndex(index);
        dispatch([this] { fire(onChange, this); });
    }
    return true;
}

bool TPageControl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == tabBar() && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            clickTab(tabBar()->tabAt(mouse->position().toPoint()));
            return true;
        }
    }
    return QTabWidget::eventFilter(watched, event);
}

} // namespace erp
