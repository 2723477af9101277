#include "controlobject.h"

#include "input.h"
#include "scriptsession.h"

#include <erpfw/core/error.h>
#include <erpfw/data/clientdataset.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/focus.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabBar>

namespace erp::app::automation {
namespace {

QString textProperty(const QObject *object, const char *name)
{
    const QVariant value = object->property(name);
    return value.isValid() ? value.toString() : QString();
}

TPageControl *pageControlOf(const TTabSheet *page)
{
    auto *stack = qobject_cast<QStackedWidget *>(page->parentWidget());
    return stack ? qobject_cast<TPageControl *>(stack->parentWidget()) : nullptr;
}

// A click on the page's tab, as the user gives it.
void clickTab(TPageControl *pages, const QString &pageName)
{
    for (TTabSheet *page : pages->pages()) {
        if (page->objectName() != pageName)
            continue;
        QTabBar *bar = pages->tabBar();
        const QRect tab = bar->tabRect(pages->indexOf(page));
        if (bar->isVisible() && !tab.isEmpty())
            automation::click(bar, tab.center());
        else
            pages->clickPage(pageName);
        return;
    }
    throw Error(QStringLiteral("%1 não tem a página %2.").arg(pages->objectName(), pageName));
}

// Where the focus lands when the user tabs into the widget: itself, or for a container that
// takes no focus (a radio group, a panel) its chosen button or its first control.
QWidget *focusTarget(QWidget *widget)
{
    if (widget->focusPolicy() != Qt::NoFocus)
        return widget;
    if (QWidget *proxy = widget->focusProxy())
        return proxy;
    QWidget *first = nullptr;
    const auto children = widget->findChildren<QWidget *>();
    for (QWidget *child : children) {
        if (!(child->focusPolicy() & Qt::TabFocus) || !child->isEnabled() || !child->isVisible())
            continue;
        if (auto *button = qobject_cast<QAbstractButton *>(child); button && button->isChecked())
            return child;
        if (!first)
            first = child;
    }
    return first;
}

} // namespace

ControlObject::ControlObject(QObject *target, ScriptSession &session)
    : m_target(target)
    , m_name(target->objectName())
    , m_session(session)
{
}

QObject *ControlObject::target() const
{
    if (!m_target)
        throw Error(QStringLiteral("O controle %1 não existe mais (seu formulário foi fechado).").arg(m_name));
    return m_target;
}

QWidget *ControlObject::widget() const
{
    QObject *t = target();
    if (!t->isWidgetType())
        throw Error(QStringLiteral("%1 é um item de menu: use click().").arg(m_name));
    return static_cast<QWidget *>(t);
}

TDBGrid *ControlObject::grid() const
{
    auto *g = qobject_cast<TDBGrid *>(target());
    if (!g)
        throw Error(QStringLiteral("%1 não é uma grade.").arg(m_name));
    return g;
}

TPageControl *ControlObject::pageControl() const
{
    auto *p = qobject_cast<TPageControl *>(target());
    if (!p)
        throw Error(QStringLiteral("%1 não é um controle de páginas.").arg(m_name));
    return p;
}

template <typename T, typename F>
T ControlObject::read(F &&code, T def) const
{
    T value = def;
    m_session.call([&] { value = code(); });
    return value;
}

QString ControlObject::text() const
{
    return read<QString>(
        [this] {
            QObject *t = target();
            if (auto *edit = qobject_cast<EditBase *>(t))
                return edit->text();
            if (t->metaObject()->indexOfProperty("text") >= 0)
                return textProperty(t, "text");
            return textProperty(t, "caption");
        },
        {});
}

bool ControlObject::enabled() const
{
    // Widgets read as the user meets them (a control in a disabled panel is disabled); menu
    // items keep their own flag.
    return read<bool>([this] { return target()->property("enabled").toBool(); }, false);
}

bool ControlObject::visible() const
{
    return read<bool>([this] { return target()->property("visible").toBool(); }, false);
}

bool ControlObject::checked() const
{
    return read<bool>([this] { return target()->property("checked").toBool(); }, false);
}

int ControlObject::itemIndex() const
{
    return read<int>(
        [this] {
            const QVariant index = target()->property("itemIndex");
            return index.isValid() ? index.toInt() : -1;
        },
        -1);
}

int ControlObject::maxLength() const
{
    return read<int>(
        [this] {
            auto *edit = qobject_cast<QLineEdit *>(target());
            if (!edit || edit->maxLength() == QLineEdit().maxLength())
                return 0;
            return edit->maxLength();
        },
        0);
}

QString ControlObject::hint() const
{
    return read<QString>(
        [this] {
            QObject *t = target();
            if (t->metaObject()->indexOfProperty("hint") >= 0)
                return textProperty(t, "hint");
            return textProperty(t, "toolTip");
        },
        {});
}

bool ControlObject::focused() const
{
    return read<bool>(
        [this] {
            QObject *t = target();
            return t->isWidgetType()
                && FocusManager::instance().currentControl(static_cast<QWidget *>(t)) == t;
        },
        false);
}

void ControlObject::focusWidget(QWidget *w)
{
    if (!w->isEnabled())
        throw Error(QStringLiteral("%1 está desabilitado e não pode receber o foco.").arg(m_name));
    if (!w->isVisible())
        throw Error(QStringLiteral("%1 não está visível e não pode receber o foco.").arg(m_name));
    QWidget *target = focusTarget(w);
    if (!target)
        throw Error(QStringLiteral("%1 não recebe o foco.").arg(m_name));
    if (!target->window()->isActiveWindow())
        target->window()->activateWindow();
    dispatch([target] { focusControl(target); });
}

void ControlObject::focus()
{
    m_session.act([this] { focusWidget(widget()); });
}

void ControlObject::type(const QString &text)
{
    m_session.act([&] {
        QPointer<QWidget> w = widget();
        QPointer<QWidget> window = w->window();
        focusWidget(w);
        settle();
        for (QChar c : text) {
            // The keyboard types where the focus is, which an exit handler may have kept.
            QWidget *receiver = window ? window->focusWidget() : QApplication::focusWidget();
            if (!receiver)
                receiver = w;
            if (!receiver)
                break;
            typeCharacter(receiver, c);
            settle();
        }
    });
}

void ControlObject::setText(const QString &text)
{
    m_session.act([&] {
        auto *edit = qobject_cast<EditBase *>(widget());
        if (!edit)
            throw Error(QStringLiteral("%1 não é um campo de edição.").arg(m_name));
        dispatch([&] { edit->setText(text); });
    });
}

void ControlObject::key(const QString &name, const QStringList &modifiers)
{
    m_session.act([&] {
        const auto key = keyFromName(name);
        if (!key)
            throw Error(QStringLiteral("Tecla desconhecida \"%1\" (use nomes como Space, Return, Tab, F5, L).").arg(name));
        const auto mods = modifiersFromNames(modifiers);
        if (!mods)
            throw Error(QStringLiteral("Modificadores inválidos [%1] (use Ctrl, Shift, Alt).")
                            .arg(modifiers.join(QStringLiteral(", "))));
        pressKey(widget(), *key, *mods);
    });
}

QPoint ControlObject::currentRowPoint(TDBGrid *g) const
{
    const int row = g->currentRow();
    if (row >= 0) {
        const QModelIndex index = g->model()->index(row, qMax(g->currentIndex().column(), 0));
        g->scrollTo(index);
        const QRect cell = g->visualRect(index);
        if (!cell.isEmpty())
            return cell.center();
    }
    return g->viewport()->rect().center();
}

void ControlObject::click()
{
    m_session.act([this] {
        QObject *t = target();
        if (auto *item = qobject_cast<TMenuItem *>(t)) {
            item->click();
        } else if (auto *action = qobject_cast<QAction *>(t)) {
            if (action->isEnabled())
                action->trigger();
        } else if (auto *g = qobject_cast<TDBGrid *>(t)) {
            automation::click(g->viewport(), currentRowPoint(g));
        } else if (auto *pages = qobject_cast<TPageControl *>(t)) {
            if (TTabSheet *page = pages->activePage())
                clickTab(pages, page->objectName());
        } else if (auto *page = qobject_cast<TTabSheet *>(t)) {
            if (TPageControl *pages = pageControlOf(page))
                clickTab(pages, page->objectName());
        } else {
            automation::click(widget());
        }
    });
}

void ControlObject::dblClick()
{
    m_session.act([this] {
        QWidget *w = widget();
        if (auto *g = qobject_cast<TDBGrid *>(w))
            doubleClick(g->viewport(), currentRowPoint(g));
        else
            doubleClick(w);
    });
}

void ControlObject::select(int index)
{
    m_session.act([&] {
        QWidget *w = widget();
        auto *combo = qobject_cast<TComboBox *>(w);
        auto *group = qobject_cast<TRadioGroup *>(w);
        if (!combo && !group)
            throw Error(QStringLiteral("%1 não é uma caixa de seleção nem um grupo de opções.").arg(m_name));
        const int count = combo ? combo->count() : int(group->items().size());
        if (index < 0 || index >= count)
            throw Error(QStringLiteral("%1 não tem o item %2 (tem %3).").arg(m_name).arg(index).arg(count));
        if (!w->isEnabled())
            return; // the mouse cannot pick in a disabled control
        if (combo) {
            focusWidget(combo);
        } else if (QWidget *item = group->findChildren<QRadioButton *>().value(index)) {
            focusWidget(item); // a click on an item gives the focus to that item's button
        }
        if (FocusManager::instance().currentControl(w) != w)
            return; // an exit handler kept the focus elsewhere: the pick never happened
        if (combo)
            combo->select(index);
        else
            group->select(index);
    });
}

int ControlObject::rowCount() const
{
    return read<int>([this] { return grid()->rowCount(); }, 0);
}

int ControlObject::currentRow() const
{
    return read<int>([this] { return grid()->currentRow(); }, -1);
}

QVariantList ControlObject::columns() const
{
    return read<QVariantList>([this] { return grid()->columnList(); }, {});
}

void ControlObject::setCurrentRow(int row)
{
    m_session.act([&] {
        TDBGrid *g = grid();
        if (row < 0 || row >= g->rowCount())
            throw Error(QStringLiteral("%1 não tem a linha %2 (tem %3).").arg(m_name).arg(row).arg(g->rowCount()));
        const QModelIndex index = g->model()->index(row, qMax(g->currentIndex().column(), 0));
        g->scrollTo(index);
        const QRect cell = g->visualRect(index);
        if (g->isVisible() && !cell.isEmpty())
            automation::click(g->viewport(), cell.center());
        else
            g->setCurrentRow(row);
    });
}

void ControlObject::titleClick(const QString &field)
{
    m_session.act([&] {
        TDBGrid *g = grid();
        GridColumn *column = g->columnOf(field);
        if (!column)
            throw Error(QStringLiteral("%1 não tem coluna do campo %2.").arg(m_name, field));
        QHeaderView *header = g->horizontalHeader();
        const int x = header->sectionViewportPosition(column->index()) + header->sectionSize(column->index()) / 2;
        if (header->isVisible() && x >= 0 && x < header->viewport()->width())
            automation::click(header->viewport(), QPoint(x, header->viewport()->height() / 2));
        else
            g->titleClick(field);
    });
}

QString ControlObject::cellText(int row, const QString &field)
{
    return read<QString>([&] { return grid()->cellText(row, field); }, {});
}

QString ControlObject::cellPicture(int row, const QString &field)
{
    return read<QString>(
        [&] {
            TDBGrid *g = grid();
            if (row < 0 || row >= g->rowCount())
                throw Error(QStringLiteral("%1 não tem a linha %2.").arg(m_name).arg(row));
            if (!g->columnOf(field))
                throw Error(QStringLiteral("%1 não tem coluna do campo %2.").arg(m_name, field));
            return g->cellPicture(row, field);
        },
        {});
}

QString ControlObject::activePage() const
{
    return read<QString>([this] { return pageControl()->activePageName(); }, {});
}

void ControlObject::setActivePage(const QString &name)
{
    m_session.act([&] { clickTab(pageControl(), name); });
}

} // namespace erp::app::automation
