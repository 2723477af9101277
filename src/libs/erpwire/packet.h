#pragma once

#include "erpwire_global.h"

#include <QAnyStringView>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QSharedDataPointer>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <stdexcept>
#include <utility>

namespace erp::wire {

// A corrupt packet, an unknown field type or a value that does not fit its field.
class ERPWIRE_EXPORT WireError : public std::runtime_error
{
public:
    explicit WireError(const QString &message);
    QString message() const { return QString::fromUtf8(what()); }
};

enum class FieldType { String, FixedString, Float, Integer, Boolean, Date, DateTime };

ERPWIRE_EXPORT QString fieldTypeName(FieldType type);
ERPWIRE_EXPORT std::optional<FieldType> fieldTypeFromName(QAnyStringView name);
inline bool isStringType(FieldType type) { return type == FieldType::String || type == FieldType::FixedString; }
// Field names match in any letter case. Names are ASCII in practice: those compare without
// Unicode case folding, which made every lookup of a name the dearest part of loading a packet.
ERPWIRE_EXPORT bool sameFieldName(QStringView a, QStringView b);

struct ERPWIRE_EXPORT FieldDef
{
    QString name;
    FieldType type = FieldType::String;
    int size = 0; // characters, string kinds only
    bool operator==(const FieldDef &) const = default;
};

class PacketData;

// The image of a dataset: field definitions and rows. Stored by column (UTF-8 arenas for
// strings, plain arrays for the rest) so that a list of a million accounts costs about what
// its JSON costs, and implicitly shared so that SetData/GetData copy nothing.
class ERPWIRE_EXPORT Packet
{
public:
    Packet();
    explicit Packet(const QList<FieldDef> &fields);
    Packet(const Packet &);
    Packet(Packet &&) noexcept;
    Packet &operator=(const Packet &);
    Packet &operator=(Packet &&) noexcept;
    ~Packet();

    const QList<FieldDef> &fields() const;
    int fieldCount() const;
    int indexOf(QStringView name) const; // -1 when absent; case-insensitive as the datasets are
    int rowCount() const;
    bool isEmpty() const { return rowCount() == 0; }

    void reserve(int rows);
    void squeeze(); // gives back what growing the columns left unused
    void reserveScaled(double factor); // room for factor times the rows and text held now
    int appendRow(); // a row of nulls; returns its index
    void appendRow(const QVariantList &values);
    // A row filled as it is read: its index, then one append a field, in the fields' order.
    // Until the last the columns are uneven; a reader that stops halfway drops the packet.
    int beginRow();
    void appendNull(int col);
    void appendUtf8(int col, const char *data, qsizetype size); // trusted UTF-8
    void appendNumber(int col, double value);
    void appendBoolean(int col, bool value);
    void appendStamp(int col, qint64 value); // days (Date) or seconds (DateTime) from 1970-01-01 UTC
    void removeAllRows();
    // The same fields with the rows that keep(row) accepts, in their order.
    Packet rowsWhere(const std::function<bool(int row)> &keep) const;

    // QVariant kinds: QString, double, qint64, bool, QDate, QDateTime; a null QVariant for no
    // value (the zero date included). setValue checks the type and the size in characters.
    QVariant value(int row, int col) const;
    void setValue(int row, int col, const QVariant &value);
    bool isNull(int row, int col) const;
    void setNull(int row, int col);

    // Typed access without QVariant boxing (the hot paths: grids, encoders, keys).
    QString string(int row, int col) const;     // "" when null
    QByteArray utf8(int row, int col) const;    // "" when null
    QByteArrayView utf8View(int row, int col) const; // the same without a copy; valid until the packet changes
    double number(int row, int col) const;      // 0 when null; Float and Integer
    bool boolean(int row, int col) const;       // false when null
    QDate date(int row, int col) const;         // invalid when null; Date and DateTime
    QDateTime dateTime(int row, int col) const; // invalid when null

    void setString(int row, int col, QStringView text);
    void setUtf8(int row, int col, const char *data, qsizetype size); // trusted UTF-8
    void setNumber(int row, int col, double value);
    void setBoolean(int row, int col, bool value);
    void setDate(int row, int col, QDate value);
    void setDateTime(int row, int col, const QDateTime &value);

    // Bytes held by the rows, for memory figures.
    qsizetype byteSize() const;

private:
    void checkCell(int row, int col) const;
    [[noreturn]] void badCell(int row, int col) const;
    std::pair<const char *, qsizetype> textOf(int row, int col) const; // no bytes when null
    QSharedDataPointer<PacketData> d;
};

// The packet laid out as `fields` say: the same fields, names in any letter case, types and
// sizes equal, in that order. A packet already in that order comes back as it is, shared. A
// field missing, extra or of another type or size is a WireError naming it and `owner`, the
// dataset that takes the packet.
ERPWIRE_EXPORT Packet fitPacket(const Packet &packet, const QList<FieldDef> &fields, const QString &owner);

} // namespace erp::wire

Q_DECLARE_METATYPE(erp::wire::Packet)
