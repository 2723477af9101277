#pragma once

#include "packet.h"

#include <QByteArray>
#include <QJsonValue>
#include <QVariant>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

// The Variant and data-packet encoding of the application server protocol (JSON).
namespace erp::wire {

// A Variant: QString, double (or any number), bool, QDate (invalid = zero date = null),
// QDateTime, Packet, QVariantList, or a null QVariant.
ERPWIRE_EXPORT QJsonValue encodeValue(const QVariant &value);
// The reverse, without type context: strings stay strings (a date parameter is read with
// parseDate by whoever knows it is a date), objects with "fields" and "rows" become packets.
ERPWIRE_EXPORT QVariant decodeValue(const QJsonValue &json);

ERPWIRE_EXPORT QJsonValue encodePacket(const Packet &packet);
ERPWIRE_EXPORT Packet decodePacket(const QJsonValue &json);

// The "result" of a JSON-RPC 2.0 reply with this id, read from its bytes straight into
// Variants and packets as decodeValue would give them. nullopt for an error reply, a fault or
// any shape it does not take: read those through QJsonDocument and decodeValue.
ERPWIRE_EXPORT std::optional<QVariant> readRpcResult(const char *data, qsizetype size, double id);

// Bytes that arrive while they are read: what came so far stays where it is; more() waits for
// the next bytes and gives false at the end.
class ByteStream
{
public:
    virtual const char *data() const = 0;
    virtual qsizetype size() const = 0;
    virtual bool more() = 0;

protected:
    ~ByteStream() = default;
};
// The same, read as the bytes arrive, so that reading overlaps their coming; rowsRead, when
// given, counts the rows of the packet read so far. What it leaves unread stays in the stream.
ERPWIRE_EXPORT std::optional<QVariant> readRpcResult(ByteStream &in, double id, std::atomic<qint64> *rowsRead = nullptr);
// A packet read from the JSON text at data as decodePacket would give it, and in consumed the
// bytes it took; nullopt for anything it does not take.
ERPWIRE_EXPORT std::optional<Packet> readPacketJson(const char *data, qsizetype size, qsizetype *consumed);
// The same from the stream's byte at from on (from <= in.size()), read as more arrive.
ERPWIRE_EXPORT std::optional<Packet> readPacketJson(ByteStream &in, qsizetype from, qsizetype *consumed);

// Streaming encoders: append JSON text to out without building a JSON tree.
ERPWIRE_EXPORT void appendPacketJson(QByteArray &out, const Packet &packet);
// Takes out once it holds a whole block of text, so that the block can go on while the rest is
// written; out is left empty for the rest.
using BlockSpill = std::function<void(QByteArray &out)>;
// The same, handing out to spill each time it reaches blockBytes.
ERPWIRE_EXPORT void appendPacketJson(QByteArray &out, const Packet &packet, qsizetype blockBytes, const BlockSpill &spill);
ERPWIRE_EXPORT void appendFieldsJson(QByteArray &out, const QList<FieldDef> &fields);
ERPWIRE_EXPORT void appendJsonString(QByteArray &out, QStringView text);
ERPWIRE_EXPORT void appendJsonUtf8String(QByteArray &out, const char *data, qsizetype size);
// The same string written at out, which has room for 6 * size + 2 bytes (every byte escaped);
// gives the end of what it wrote.
ERPWIRE_EXPORT char *writeJsonUtf8String(char *out, const char *data, qsizetype size);
ERPWIRE_EXPORT void appendJsonNumber(QByteArray &out, double value);
// A finite number, as appendJsonNumber writes it, at out; 32 bytes of room. Returns its end.
ERPWIRE_EXPORT char *writeJsonNumber(char *out, double value);
// value / 100, as writeJsonNumber writes it; 32 bytes of room.
ERPWIRE_EXPORT char *writeJsonCents(char *out, std::int64_t value);
ERPWIRE_EXPORT void appendJsonDate(QByteArray &out, QDate date);           // null when invalid
ERPWIRE_EXPORT void appendJsonDateTime(QByteArray &out, const QDateTime &); // null when invalid

// "YYYY-MM-DD" (also accepts a "T00:00:00" time part); throws WireError on anything else.
ERPWIRE_EXPORT QDate parseDate(QStringView text);
// "YYYY-MM-DDThh:mm:ss" (also accepts a bare date); throws WireError on anything else.
ERPWIRE_EXPORT QDateTime parseDateTime(QStringView text);

} // namespace erp::wire
