#pragma once

#include "server/db/pool.h"

#include <erpwire/packet.h>

#include <QByteArray>
#include <QDate>
#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace erp::wire {
class ByteStream;
}

namespace erp::server {

inline constexpr const char *kServerObject = "REC00800.rdmRecCont";

namespace rpc {
inline constexpr int ParseError = -32700;
inline constexpr int InvalidRequest = -32600;
inline constexpr int MethodNotFound = -32601;
inline constexpr int InvalidParams = -32602;
inline constexpr int Refused = -32000;
inline constexpr int Internal = -32603;
} // namespace rpc

// A failure the caller is told about: code and pt-BR message as they go on the wire.
class RpcError : public std::runtime_error
{
public:
    RpcError(int code, const QString &message) : std::runtime_error(message.toStdString()), m_code(code) {}
    int code() const { return m_code; }
    QString message() const { return QString::fromStdString(what()); }

private:
    int m_code;
};

// Reads positional parameters with their checks; every failure is InvalidParams.
class Params
{
public:
    // packets: those the call's reader has already made of their params, by position
    Params(const QString &method, const QList<QJsonValue> &values, const QHash<int, wire::Packet> &packets = {})
        : m_method(method), m_values(values), m_packets(packets)
    {}
    void expectCount(int n) const;
    // maxChars counts characters; control characters are refused.
    std::string string(int i, const char *what, int maxChars) const;
    std::optional<QDate> date(int i, const char *what) const; // null is the zero date
    double number(int i, const char *what) const;
    bool boolean(int i, const char *what) const;
    // The codes of a ';'-joined list; empty for the empty string.
    std::vector<std::string> list(int i, const char *what, int maxCharsPerCode) const;
    wire::Packet packet(int i, const char *what) const;
    [[noreturn]] void fail(int i, const char *what, const QString &problem) const;

private:
    QString m_method;
    QList<QJsonValue> m_values;
    QHash<int, wire::Packet> m_packets;
};

// What a method gives back: the whole result value as JSON text, or a stream of it.
class ResultStream
{
public:
    virtual ~ResultStream() = default;
    // Appends the next part of the JSON value; false once the value is complete.
    virtual bool produce(QByteArray &out) = 0;
    // Rows written so far, for the log.
    virtual long rows() const = 0;
};

struct MethodResult
{
    QByteArray json;
    std::unique_ptr<ResultStream> stream;
};

struct CallContext
{
    Lease db;
    std::string operatorName; // the authenticated operator
    QDate today;
};

using Method = std::function<MethodResult(CallContext &, const Params &)>;
// nullptr when the server object has no such method.
const Method *findMethod(const QString &name);

// A request body read as a call of one of the server object's methods.
struct RpcCall
{
    QByteArray id = "null"; // as it goes back on the wire
    QString method;
    QList<QJsonValue> params; // not a QJsonArray: its append converts every value once more
    // Packets read straight from the body, by position; their place in params is an empty object.
    QHash<int, wire::Packet> packets;
    const Method *handler = nullptr;
};
// Fills call as far as the body allows, so that a refusal still answers with its id;
// throws RpcError (ParseError, InvalidRequest, InvalidParams, MethodNotFound).
void parseCall(const QByteArray &body, const std::string &object, RpcCall &call);
// What parseCall does once the call is read: the object and the method looked up (throws
// MethodNotFound).
void bindCall(const std::string &object, RpcCall &call);
// The two ways parseCall reads a body, apart for the fuzzer to hold one against the other: the
// usual call of plain texts, numbers and packets, directly (false for anything else, call
// untouched); and any body, through QJsonDocument (throws as parseCall does).
bool readUsualCall(const QByteArray &body, RpcCall &call);
// The same over a body still arriving, so that reading overlaps its coming.
bool readUsualCall(wire::ByteStream &in, RpcCall &call);
void readCallDocument(const QByteArray &body, RpcCall &call);
// Whether the two ways read a body alike: the same id, method and params, each packet read
// directly being the one the document's object decodes to.
bool readAlike(const RpcCall &direct, const RpcCall &viaDocument);

} // namespace erp::server
