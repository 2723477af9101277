#pragma once

#include <erpfw/erpfw_global.h>
#include <erpwire/packet.h>

#include <QDateTime>
#include <QObject>
#include <QVariant>

#include <functional>

namespace erp {

class ClientDataSet;
using FieldType = wire::FieldType;

// A typed field of a client dataset. Reads and writes go to the dataset's active record:
// the current row, its edit buffer in edit state, or the row a grid is painting.
class ERPFW_EXPORT Field : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString fieldName READ fieldName CONSTANT)
    Q_PROPERTY(QString dataType READ dataTypeName CONSTANT)
    Q_PROPERTY(int size READ size CONSTANT)
    Q_PROPERTY(bool calculated READ calculated CONSTANT)
    Q_PROPERTY(QString displayLabel READ displayLabel WRITE setDisplayLabel)
    Q_PROPERTY(bool visible READ visible WRITE setVisible)
    Q_PROPERTY(QString displayFormat READ displayFormat WRITE setDisplayFormat)
    Q_PROPERTY(QString editFormat READ editFormat WRITE setEditFormat)
    Q_PROPERTY(QString editMask READ editMask WRITE setEditMask)
    Q_PROPERTY(int displayWidth READ displayWidth WRITE setDisplayWidth)
    Q_PROPERTY(bool required READ required WRITE setRequired)
    Q_PROPERTY(bool readOnly READ readOnly WRITE setReadOnly)
    Q_PROPERTY(QString origin READ origin WRITE setOrigin)
    Q_PROPERTY(Qt::Alignment alignment READ alignment WRITE setAlignment)
    Q_PROPERTY(QVariant value READ value)
    Q_PROPERTY(QString text READ text)
    Q_PROPERTY(QString displayText READ displayText)

public:
    // Decides the field's text; displayText tells display (grid, label) from editing.
    using GetTextHandler = std::function<void(Field &field, QString &text, bool displayText)>;

    ClientDataSet *dataSet() const { return m_dataSet; }
    int index() const; // position among the dataset's fields

    QString fieldName() const { return m_name; }
    FieldType dataType() const { return m_type; }
    QString dataTypeName() const;
    int size() const { return m_size; }
    bool calculated() const { return m_calculated; }
    bool isStringField() const;
    bool isNumericField() const;

    QString displayLabel() const; // the field name when no label was given
    void setDisplayLabel(const QString &label) { m_label = label; }
    bool visible() const { return m_visible; }
    void setVisible(bool visible) { m_visible = visible; }
    QString displayFormat() const { return m_displayFormat; }
    void setDisplayFormat(const QString &format) { m_displayFormat = format; }
    QString editFormat() const { return m_editFormat; }
    void setEditFormat(const QString &format) { m_editFormat = format; }
    QString editMask() const { return m_editMask; }
    void setEditMask(const QString &mask) { m_editMask = mask; }
    int displayWidth() const; // characters; the size for strings when not given
    void setDisplayWidth(int width) { m_displayWidth = width; }
    bool required() const { return m_required; }
    void setRequired(bool required) { m_required = required; }
    bool readOnly() const { return m_readOnly; }
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    QString origin() const { return m_origin; }
    void setOrigin(const QString &origin) { m_origin = origin; }
    Qt::Alignment alignment() const; // numbers right, the rest left, unless set
    void setAlignment(Qt::Alignment alignment) { m_alignment = alignment; }

    // A null QVariant for no value. Kinds: QString, double, qint64, bool, QDate, QDateTime.
    QVariant value() const;
    // Needs edit or insert state (calculated fields: any active state). The value is
    // converted to the field's type; a wrong kind or a string too long is an erp::Error
    // (a calculated string is cut to its size instead).
    void setValue(const QVariant &value);
    void clear() { setValue(QVariant()); }
    bool isNull() const;

    QString asString() const;            // "" when null; numbers shortest, dates dd/MM/yyyy
    void setAsString(const QString &text); // parsed as pt-BR for numbers and dates; "" is null
    double asFloat() const;              // 0 when null
    void setAsFloat(double value);
    qint64 asInteger() const;            // 0 when null
    QDateTime asDateTime() const;        // invalid when null
    QDate asDate() const;                // invalid when null
    void setAsDateTime(const QDateTime &value);
    bool asBoolean() const;              // false when null

    // The text for editing and for display: the get-text handler's when set, else the value
    // formatted (numbers by the edit / display format, dates as short dates, strings through
    // the edit mask for display). A null number reads as zero, a null date or string "".
    QString text() const;
    QString displayText() const;

    GetTextHandler onGetText;

private:
    friend class ClientDataSet;
    Field(ClientDataSet *dataSet, const QString &name, FieldType type, int size, bool calculated);
    QString formattedText(bool display) const;
    QString handlerText(bool display) const;
    QVariant converted(const QVariant &value) const;

    ClientDataSet *m_dataSet;
    QString m_name;
    FieldType m_type;
    int m_size;
    bool m_calculated;
    int m_slot = -1; // packet column for data fields, calculated slot otherwise
    QString m_label;
    bool m_visible = true;
    QString m_displayFormat;
    QString m_editFormat;
    QString m_editMask;
    int m_displayWidth = 0;
    bool m_required = false;
    bool m_readOnly = false;
    QString m_origin;
    Qt::Alignment m_alignment;
};

} // namespace erp
