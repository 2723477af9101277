#include "alignlayout.h"

#include <QWidget>
#include <QWidgetItem>

namespace erp {

AlignLayout::AlignLayout(QWidget *parent)
    : QLayout(parent)
{
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
}

AlignLayout::~AlignLayout()
{
    for (const Item &i : m_items)
        delete i.item;
}

AlignLayout *AlignLayout::of(QWidget *container)
{
    if (auto *existing = qobject_cast<AlignLayout *>(container->layout()))
        return existing;
    return new AlignLayout(container);
}

AlignLayout::Align AlignLayout::alignFromName(const QString &name, bool *ok)
{
    static const QList<std::pair<QString, Align>> names{
        {QStringLiteral("alNone"), Align::None}, {QStringLiteral("alTop"), Align::Top},
        {QStringLiteral("alBottom"), Align::Bottom}, {QStringLiteral("alLeft"), Align::Left},
        {QStringLiteral("alRight"), Align::Right}, {QStringLiteral("alClient"), Align::Client},
    };
    for (const auto &[n, a] : names) {
        if (n.compare(name, Qt::CaseInsensitive) == 0) {
            if (ok)
                *ok = true;
            return a;
        }
    }
    if (ok)
        *ok = false;
    return Align::None;
}

void AlignLayout::addWidget(QWidget *widget, Align align)
{
    addChildWidget(widget);
    m_items.append({new QWidgetItem(widget), align, widget->geometry()});
    invalidate();
}

void AlignLayout::setAlign(QWidget *widget, Align align)
{
    for (Item &i : m_items) {
        if (i.item->widget() == widget) {
            i.align = align;
            i.design = widget->geometry();
            invalidate();
            return;
        }
    }
    addWidget(widget, align);
}

AlignLayout::Align AlignLayout::align(QWidget *widget) const
{
    for (const Item &i : m_items)
        if (i.item->widget() == widget)
            return i.align;
    return Align::None;
}

void AlignLayout::addItem(QLayoutItem *item)
{
    m_items.append({item, Align::None, item->geometry()});
}

QLayoutItem *AlignLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items[index].item : nullptr;
}

QLayoutItem *AlignLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    return m_items.takeAt(index).item;
}

QSize AlignLayout::sizeHint() const
{
    QRect bounds;
    for (const Item &i : m_items)
        bounds |= i.design;
    return bounds.size().expandedTo({0, 0});
}

void AlignLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    QRect rest = rect;
    auto place = [&](Align which) {
        for (Item &i : m_items) {
            QWidget *w = i.item->widget();
            if (i.align != which || (w && w->isHidden()))
                continue;
            const QSize size = w ? w->size() : i.design.size();
            QRect r;
            switch (which) {
            case Align::Top:
                r = QRect(rest.left(), rest.top(), rest.width(), size.height());
                rest.setTop(r.bottom() + 1);
                break;
            case Align::Bottom:
                r = QRect(rest.left(), rest.bottom() - size.height() + 1, rest.width(), size.height());
                rest.setBottom(r.top() - 1);
                break;
            case Align::Left:
                r = QRect(rest.left(), rest.top(), size.width(), rest.height());
                rest.setLeft(r.right() + 1);
                break;
            case Align::Right:
                r = QRect(rest.right() - size.width() + 1, rest.top(), size.width(), rest.height());
                rest.setRight(r.left() - 1);
                break;
            case Align::Client:
                r = rest;
                break;
            case Align::None:
                r = i.design.translated(0, menuBar() ? rect.top() : 0);
                break;
            }
            i.item->setGeometry(r);
        }
    };
    for (Align a : {Align::Top, Align::Bottom, Align::Left, Align::Right, Align::Client, Align::None})
        place(a);
}

} // namespace erp
