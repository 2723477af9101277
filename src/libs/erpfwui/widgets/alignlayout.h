#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QLayout>
#include <QList>
#include <QRect>

namespace erp {

// The toolkit's way of placing controls: a control aligned to a side takes the whole width
// (top, bottom) or height (left, right) that is left and keeps its other dimension; the
// client-aligned one fills the rest; the others keep their design position.
class ERPFWUI_EXPORT AlignLayout : public QLayout
{
    Q_OBJECT

public:
    enum class Align { None, Top, Bottom, Left, Right, Client };
    Q_ENUM(Align)

    explicit AlignLayout(QWidget *parent);
    ~AlignLayout() override;

    // The container's layout, created on first use.
    static AlignLayout *of(QWidget *container);
    // "alTop", "alClient", ... ; nullopt-like None for "alNone" or an unknown name.
    static Align alignFromName(const QString &name, bool *ok = nullptr);

    void addWidget(QWidget *widget, Align align);
    void setAlign(QWidget *widget, Align align);
    Align align(QWidget *widget) const;

    void addItem(QLayoutItem *item) override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override { return int(m_items.size()); }
    QSize sizeHint() const override;
    QSize minimumSize() const override { return {0, 0}; }
    void setGeometry(const QRect &rect) override;

private:
    struct Item
    {
        QLayoutItem *item;
        Align align;
        QRect design; // position for Align::None, relative to the client area
    };
    QList<Item> m_items;
};

} // namespace erp
