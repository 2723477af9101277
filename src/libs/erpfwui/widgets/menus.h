#pragma once

#include <erpfwui/widgets/events.h>

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QShortcut>

namespace erp {

// A menu item. Its shortcut works anywhere in its form while the item is enabled, also when
// the item is invisible (a hidden item that only carries a hot key); a disabled item does
// not react to its menu, its shortcut or click().
class ERPFWUI_EXPORT TMenuItem : public QAction
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(QString text READ caption WRITE setCaption)
    Q_PROPERTY(QString shortCut READ shortCutText WRITE setShortCutText)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(bool visible READ isVisible WRITE setVisible)

public:
    Q_INVOKABLE explicit TMenuItem(QObject *parent = nullptr);

    // The item's own flags: Qt disables an invisible action, the toolkit does not.
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isVisible() const { return m_visible; }
    void setVisible(bool visible);

    QString caption() const { return m_caption; }
    // "-" makes a separator.
    void setCaption(const QString &caption);
    QKeySequence shortCut() const { return m_shortCut; }
    void setShortCut(const QKeySequence &keys);
    QString shortCutText() const { return m_shortCut.toString(QKeySequence::PortableText); }
    // "Ctrl+L", or the toolkit's numeric code ("16460": Ctrl is 0x4000, Shift 0x2000, Alt 0x8000).
    void setShortCutText(const QString &keys);

    // The form whose keys reach the shortcut.
    void attach(QWidget *form);
    void addItem(TMenuItem *item);
    QList<TMenuItem *> items() const;

    Q_INVOKABLE void click();

    NotifyEvent onClick;

private:
    void updateText();
    void updateShortcut();
    QString m_caption;
    bool m_enabled = true;
    bool m_visible = true;
    QKeySequence m_shortCut;
    QPointer<QWidget> m_form;
    QPointer<QShortcut> m_shortcut;
};

class ERPFWUI_EXPORT TMainMenu : public QMenuBar
{
    Q_OBJECT

public:
    Q_INVOKABLE explicit TMainMenu(QWidget *parent = nullptr);
    void addItem(TMenuItem *item);
};

// A menu that only pops up when code asks; its items' shortcuts work in the form.
class ERPFWUI_EXPORT TPopupMenu : public QMenu
{
    Q_OBJECT

public:
    Q_INVOKABLE explicit TPopupMenu(QWidget *parent = nullptr);
    void addItem(TMenuItem *item);
};

} // namespace erp
