#pragma once

#include <erpfwui/widgets/focus.h>

#include <QTabWidget>

namespace erp {

// A page of a page control. Disabling it disables its tab.
class ERPFWUI_EXPORT TTabSheet : public QWidget, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(QString text READ caption)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TTabSheet(QWidget *parent = nullptr);
    bool isFocusContainer() const override { return true; }
    bool isVisibleFlag() const { return !isHidden(); }

    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

signals:
    void captionChanged();

protected:
    void changeEvent(QEvent *event) override;

private:
    QString m_caption;
};

// Pages with tabs. Clicking a tab gives the focus to the page control itself (with the exit
// events of the control that had it) and, when no exit handler refused, shows the page.
class ERPFWUI_EXPORT TPageControl : public QTabWidget, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QString activePage READ activePageName WRITE setActivePageName)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TPageControl(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }

    void addPage(TTabSheet *page);
    QList<TTabSheet *> pages() const;

    TTabSheet *activePage() const;
    // From code: shows the page and runs no handler; when the focus is on the page it hides,
    // the focus goes to the page control first (with the exit events; an exception goes on).
    void setActivePage(TTabSheet *page);
    QString activePageName() const;
    void setActivePageName(const QString &name); // an unknown page is an erp::Error
    // As a click on the page's tab.
    Q_INVOKABLE bool clickPage(const QString &name);

    NotifyEvent onChange;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool clickTab(int index);
};

} // namespace erp
