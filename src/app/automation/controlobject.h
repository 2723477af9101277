#pragma once

#include <QJSValue>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantList>

class QWidget;

namespace erp {
class TDBGrid;
class TPageControl;
} // namespace erp

namespace erp::app::automation {

class ScriptSession;

// A visual control, tab page, page control, menu item or action of a form, driven as a user
// would drive it. Reading a property of a control that was freed, or a grid property of a
// control that is no grid, is a script error.
class ControlObject final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name CONSTANT)
    Q_PROPERTY(QString text READ text)
    Q_PROPERTY(bool enabled READ enabled)
    Q_PROPERTY(bool visible READ visible)
    Q_PROPERTY(bool checked READ checked)
    Q_PROPERTY(int itemIndex READ itemIndex)
    Q_PROPERTY(int maxLength READ maxLength)
    Q_PROPERTY(QString hint READ hint)
    Q_PROPERTY(bool focused READ focused)
    Q_PROPERTY(int rowCount READ rowCount)
    Q_PROPERTY(int currentRow READ currentRow)
    Q_PROPERTY(QVariantList columns READ columns)
    Q_PROPERTY(QString activePage READ activePage)

public:
    ControlObject(QObject *target, ScriptSession &session);

    QString name() const { return m_name; }
    QString text() const;
    bool enabled() const;
    bool visible() const;
    bool checked() const;
    int itemIndex() const;   // -1 for controls without items
    int maxLength() const;   // 0: no limit
    QString hint() const;
    bool focused() const;

    Q_INVOKABLE void focus();
    Q_INVOKABLE void type(const QString &text);
    Q_INVOKABLE void setText(const QString &text);
    Q_INVOKABLE void key(const QString &name, const QStringList &modifiers = {});
    Q_INVOKABLE void click();
    Q_INVOKABLE void dblClick();
    Q_INVOKABLE void select(int index);

    // Grids.
    int rowCount() const;
    int currentRow() const;
    QVariantList columns() const;
    Q_INVOKABLE void setCurrentRow(int row);
    Q_INVOKABLE void titleClick(const QString &field);
    Q_INVOKABLE QString cellText(int row, const QString &field);
    Q_INVOKABLE QString cellPicture(int row, const QString &field);

    // Page controls.
    QString activePage() const;
    Q_INVOKABLE void setActivePage(const QString &name);

private:
    QObject *target() const;   // throws when freed
    QWidget *widget() const;   // throws for a menu item or action
    TDBGrid *grid() const;
    TPageControl *pageControl() const;
    // Reads the property for a getter; a script error (and def) when the control is gone.
    template <typename T, typename F>
    T read(F &&code, T def) const;
    void focusWidget(QWidget *w);
    // Where a click on the grid's current row lands (the viewport's centre without rows).
    QPoint currentRowPoint(TDBGrid *grid) const;

    QPointer<QObject> m_target;
    QString m_name;
    ScriptSession &m_session;
};

} // namespace erp::app::automation
