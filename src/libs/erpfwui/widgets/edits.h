#pragma once

#include <erpfwui/widgets/controls.h>

#include <erpfw/core/editmask.h>

#include <QDate>
#include <QLineEdit>

namespace erp {

// The edits' common ground: the change event (from code and from the user), the key-down
// and key-press filters, enter and exit. A key-press handler gets the typed character and
// may replace it or refuse it (set it to QChar(0)); Backspace reaches it as '\b'.
class ERPFWUI_EXPORT EditBase : public QLineEdit, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
    Q_PROPERTY(QColor color READ color WRITE setColor)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    explicit EditBase(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }

    // The edit's value as its owner sees it (a masked edit drops its literals and blanks).
    QString text() const { return valueText(); }
    // Replaces the whole text as a paste would; the change handler's exception goes on to
    // the caller.
    void setText(const QString &text);
    void clear() { setText(QString()); }
    QColor color() const { return controlColor(this); }
    void setColor(const QColor &color) { setControlColor(this, color); }

    // Types one character as the user would: key filters, then the edit's own rules.
    Q_INVOKABLE void typeChar(QChar key);

    NotifyEvent onChange;
    KeyPressEvent onKeyPress;
    KeyEvent onKeyDown;

protected:
    virtual QString valueText() const { return QLineEdit::text(); }
    virtual QString displayFor(const QString &value) const { return value; }
    // Puts an accepted character in; false when the edit refuses it.
    virtual bool insertChar(QChar c);
    virtual void eraseBack() { QLineEdit::backspace(); }
    virtual void eraseForward() { QLineEdit::del(); }
    // The text was replaced from code.
    virtual void textReplaced() {}

    // Sets the shown text without the change event.
    void setDisplay(const QString &display);
    void keyPressEvent(QKeyEvent *event) override;
    // The form's shortcuts win over the edit's own key bindings (Ctrl+D, Ctrl+L...).
    bool event(QEvent *event) override;

private:
    bool pressChar(QChar key); // false when refused
    bool m_quiet = false;
};

class ERPFWUI_EXPORT TEdit : public EditBase
{
    Q_OBJECT

public:
    Q_INVOKABLE explicit TEdit(QWidget *parent = nullptr);
};

// An edit with an edit mask ("99;0; ", "999.999.999-99;0;_"): typed characters go to the
// mask's positions, literals stay put; text() keeps the literals only when the mask says so.
class ERPFWUI_EXPORT TMaskEdit : public EditBase
{
    Q_OBJECT
    Q_PROPERTY(QString editMask READ editMask WRITE setEditMask)
    Q_PROPERTY(QString displayText READ displayText)

public:
    Q_INVOKABLE explicit TMaskEdit(QWidget *parent = nullptr);

    QString editMask() const { return m_mask.source(); }
    void setEditMask(const QString &mask);
    const EditMask &mask() const { return m_mask; }
    QString displayText() const { return QLineEdit::text(); }
    // Only blanks and literals.
    bool isUntouched() const;

protected:
    QString valueText() const override;
    QString displayFor(const QString &value) const override;
    void textReplaced() override;
    bool insertChar(QChar c) override;
    void eraseBack() override;
    void eraseForward() override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    // A click into an untouched edit puts the caret at its first blank, wherever it landed.
    void mousePressEvent(QMouseEvent *event) override;

private:
    bool clearSelection();
    // After the last character typed, where the next one goes.
    void placeCursor();
    EditMask m_mask;
};

// A date edit: dates without time, empty for no date. A valid date shows in blue and its
// weekday ("Domingo" .. "Sábado") in the hint.
class ERPFWUI_EXPORT TDateEditPlus : public TMaskEdit
{
    Q_OBJECT
    Q_PROPERTY(QDate date READ getDate WRITE setDate)
    Q_PROPERTY(QString weekday READ weekday)

public:
    Q_INVOKABLE explicit TDateEditPlus(QWidget *parent = nullptr);

    // Invalid (the toolkit's 0) when empty or not a date.
    QDate getDate() const;
    // An invalid date empties the edit.
    void setDate(QDate date);
    // An empty edit passes; a text that is not a date is an erp::Error "Data inválida".
    void checkValidDate() const;
    QString weekday() const;

    static QString weekdayName(QDate date);

    // F4 or Alt+Down: a calendar under the edit; the day picked goes in as if typed.
    Q_INVOKABLE void popupCalendar();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void refreshLook();
};

// A number edit: pt-BR number with a fixed count of decimals, thousands separators on or
// off. It takes digits, one decimal separator ("," or ".") and a leading minus sign.
class ERPFWUI_EXPORT TNumberEdit : public EditBase
{
    Q_OBJECT
    Q_PROPERTY(int decimals READ decimals WRITE setDecimals)
    Q_PROPERTY(bool thousands READ thousands WRITE setThousands)
    Q_PROPERTY(double number READ getNumber WRITE setNumber)

public:
    Q_INVOKABLE explicit TNumberEdit(QWidget *parent = nullptr);

    int decimals() const { return m_decimals; }
    void setDecimals(int decimals);
    bool thousands() const { return m_thousands; }
    void setThousands(bool on);

    // 0 when empty or not a number.
    double getNumber() const;
    void setNumber(double value);
    QString format(double value) const;

protected:
    bool insertChar(QChar c) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    int m_decimals = 2;
    bool m_thousands = true;
};

} // namespace erp
