#pragma once

#include <erpfwui/widgets/focus.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QToolButton>

namespace erp {

// Every control carries the toolkit's names for its state, so that scripts and tests read
// the same things on any control: hint, visible (its own flag, not its parent's), color.

// Sets the background colour the way the toolkit's Color does (the base of an edit or
// grid, the face of a panel).
ERPFWUI_EXPORT void setControlColor(QWidget *widget, const QColor &color);
ERPFWUI_EXPORT QColor controlColor(const QWidget *widget);

// Sets the enabled state of every control directly inside the container.
ERPFWUI_EXPORT void SetChildEnabled(QWidget *container, bool enabled);

class ERPFWUI_EXPORT TLabel : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ text WRITE setText)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TLabel(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }
};

// A panel: a container with enter and exit events and an optional centred caption.
class ERPFWUI_EXPORT TPanel : public QFrame, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(QString bevelOuter READ bevelOuter WRITE setBevelOuter)
    Q_PROPERTY(QColor color READ color WRITE setColor)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TPanel(QWidget *parent = nullptr);
    bool isFocusContainer() const override { return true; }
    bool isVisibleFlag() const { return !isHidden(); }

    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);
    // "bvNone", "bvRaised", "bvLowered"
    QString bevelOuter() const { return m_bevel; }
    void setBevelOuter(const QString &bevel);
    QColor color() const { return controlColor(this); }
    void setColor(const QColor &color) { setControlColor(this, color); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_caption;
    QString m_bevel = QStringLiteral("bvRaised");
};

class ERPFWUI_EXPORT TGroupBox : public QGroupBox, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ title WRITE setTitle)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TGroupBox(QWidget *parent = nullptr);
    bool isFocusContainer() const override { return true; }
    bool isVisibleFlag() const { return !isHidden(); }
};

// A scrolling container; its controls live on contentWidget(), which follows the view's size.
class ERPFWUI_EXPORT TScrollBox : public QScrollArea, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TScrollBox(QWidget *parent = nullptr);
    bool isFocusContainer() const override { return true; }
    bool isVisibleFlag() const { return !isHidden(); }
    QWidget *contentWidget() const { return widget(); }
};

// A picture with the name of the component that holds it, so that what a grid draws can be
// told by name.
class ERPFWUI_EXPORT Picture
{
public:
    Picture() = default;
    Picture(QPixmap pixmap, QString name) : m_pixmap(std::move(pixmap)), m_name(std::move(name)) {}
    const QPixmap &pixmap() const { return m_pixmap; }
    QString name() const { return m_name; }
    bool isNull() const { return m_pixmap.isNull(); }

private:
    QPixmap m_pixmap;
    QString m_name;
};

// An image component. Its source is a resource or file path, "data:image/png;base64,...", or
// "data:image/x-xpm," followed by the XPM text.
class ERPFWUI_EXPORT TImage : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(QString source READ source WRITE setSource)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TImage(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }

    QString source() const { return m_source; }
    // A source that cannot be read is an erp::Error naming the image and the source.
    void setSource(const QString &source);
    Picture picture() const { return Picture(m_pixmap, objectName()); }
    void setPicture(const QPixmap &pixmap);

private:
    QString m_source;
    QPixmap m_pixmap;
};

// A flat tool button with a hint and a glyph; it never takes the focus, as the toolkit's
// speed buttons, so clicking it runs no exit event.
class ERPFWUI_EXPORT TButtonFlat : public QToolButton
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ text WRITE setText)
    Q_PROPERTY(QString glyph READ glyph WRITE setGlyph)
    Q_PROPERTY(int numGlyphs READ numGlyphs WRITE setNumGlyphs)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TButtonFlat(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }

    // An image path; with numGlyphs 2 its left half is the normal and its right half the
    // disabled picture.
    QString glyph() const { return m_glyph; }
    void setGlyph(const QString &source);
    int numGlyphs() const { return m_numGlyphs; }
    void setNumGlyphs(int count);

    NotifyEvent onClick;

private:
    void updateIcon();
    QString m_glyph;
    int m_numGlyphs = 1;
};

// A push button; "default" answers Return and "cancel" Escape anywhere in its form.
class ERPFWUI_EXPORT TButton : public QPushButton, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ text WRITE setText)
    Q_PROPERTY(bool cancel READ isCancel WRITE setCancel)
    Q_PROPERTY(int modalResult READ modalResult WRITE setModalResult)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TButton(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }
    bool isCancel() const { return m_cancel; }
    void setCancel(bool cancel) { m_cancel = cancel; }
    // Closes a modal form with this result after the click handler (0: no effect).
    int modalResult() const { return m_modalResult; }
    void setModalResult(int result) { m_modalResult = result; }

    NotifyEvent onClick;

private:
    bool m_cancel = false;
    int m_modalResult = 0;
};

// A check box: setting it from code runs no handler; the user's click runs onClick.
class ERPFWUI_EXPORT TCheckBox : public QCheckBox, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ text WRITE setText)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TCheckBox(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }

    NotifyEvent onClick;
};

// A radio button grouped with the radio buttons of the same parent. Checking it, by the
// user or from code, unchecks the others and runs onClick; unchecking runs nothing.
class ERPFWUI_EXPORT TRadioButton : public QRadioButton, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ text WRITE setText)
    Q_PROPERTY(bool checked READ isChecked WRITE setChecked)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TRadioButton(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }

    // The handler's exception goes on to the caller.
    void setChecked(bool checked);

    NotifyEvent onClick;

protected:
    void nextCheckState() override;

private:
    void check();
    void userClicked();
    bool m_changedByClick = false;
};

// A group of radio items; itemIndex -1 when none is chosen. Setting the index from code runs
// no handler; the user's pick (or select()) runs onClick.
class ERPFWUI_EXPORT TRadioGroup : public QGroupBox, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ title WRITE setTitle)
    Q_PROPERTY(QStringList items READ items WRITE setItems)
    Q_PROPERTY(int itemIndex READ itemIndex WRITE setItemIndex)
    Q_PROPERTY(int columns READ columns WRITE setColumns)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TRadioGroup(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }

    QStringList items() const { return m_items; }
    void setItems(const QStringList &items);
    int itemIndex() const { return m_index; }
    // An index out of range chooses nothing.
    void setItemIndex(int index);
    int columns() const { return m_columns; }
    void setColumns(int columns);
    // Picks an item as the user would.
    Q_INVOKABLE void select(int index);

    NotifyEvent onClick;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void arrange();
    QStringList m_items;
    QList<QRadioButton *> m_buttons;
    int m_index = -1;
    int m_columns = 1;
};

// A drop-down list. Setting the item from code runs no handler; the user's pick runs onClick
// and onChange.
class ERPFWUI_EXPORT TComboBox : public QComboBox, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QStringList items READ items WRITE setItems)
    Q_PROPERTY(int itemIndex READ currentIndex WRITE setItemIndex)
    Q_PROPERTY(QString text READ currentText)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TComboBox(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }

    QStringList items() const;
    void setItems(const QStringList &items);
    void setItemIndex(int index);
    Q_INVOKABLE void select(int index);

    NotifyEvent onClick;
    NotifyEvent onChange;
};

} // namespace erp
