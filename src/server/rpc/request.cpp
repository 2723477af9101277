#include "rpc.h"

#include <erpwire/json.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>

namespace erp::server {

namespace {

QByteArray idJson(const QJsonValue &id)
{
    QByteArray out;
    if (id.isDouble())
        wire::appendJsonNumber(out, id.toDouble());
    else if (id.isString())
        wire::appendJsonString(out, id.toString());
    else
        out = "null";
    return out;
}

} // namespace

namespace {

// A cursor over the usual call's text, which may still be arriving (then it never moves, and
// more comes when the cursor runs out); any step it cannot take leaves the body to the document.
struct Cursor
{
    const char *at;
    const char *end;
    wire::ByteStream *in = nullptr;

    bool fill()
    {
        if (!in || !in->more())
            return false;
        end = in->data() + in->size();
        return true;
    }
    bool avail() { return at < end || fill(); }
    bool need(size_t n)
    {
        while (size_t(end - at) < n)
            if (!fill())
                return false;
        return true;
    }
    void space()
    {
        for (;;) {
            while (at < end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r'))
                ++at;
            if (at < end || !fill())
                return;
        }
    }
    bool take(char c)
    {
        space();
        if (at == end || *at != c)
            return false;
        ++at;
        return true;
    }
    // A text of printable ASCII with no escapes.
    bool plainText(std::string_view &out)
    {
        if (!take('"'))
            return false;
        const char *start = at;
        while (avail() && *at != '"') {
            const auto c = static_cast<unsigned char>(*at);
            if (c < 0x20 || c >= 0x80 || c == '\\')
                return false;
            ++at;
        }
        if (at == end)
            return false;
        out = std::string_view(start, size_t(at - start));
        ++at;
        return true;
    }
    bool digit() { return avail() && std::isdigit(static_cast<unsigned char>(*at)); }
    // A number as JSON writes it, kept as the document keeps it: whole values as integers, the
    // rest as doubles.
    bool number(QJsonValue &out)
    {
        space();
        const char *start = at;
        if (avail() && *at == '-')
            ++at;
        if (!digit() || (*at == '0' && need(2) && std::isdigit(static_cast<unsigned char>(at[1]))))
            return false;
        while (digit())
            ++at;
        bool whole = true;
        if (avail() && *at == '.') {
            whole = false;
            ++at;
            if (!digit())
                return false;
            while (digit())
                ++at;
        }
        if (avail() && (*at == 'e' || *at == 'E')) {
            whole = false;
            ++at;
            if (avail() && (*at == '+' || *at == '-'))
                ++at;
            if (!digit())
                return false;
            while (digit())
                ++at;
        }
        if (whole && (at - start - (start[0] == '-') > 15 || (start[0] == '-' && start[1] == '0')))
            return false; // big or negative zero: as the document decides
        double d = 0;
        const auto [stop, error] = std::from_chars(start, at, d);
        if (error != std::errc() || stop != at || !std::isfinite(d))
            return false;
        // the document keeps a whole value as an integer however it was written
        if (d == std::trunc(d)) {
            if (std::fabs(d) >= 9007199254740992.0)
                return false;
            out = QJsonValue(qint64(d));
        } else {
            out = QJsonValue(d);
        }
        return true;
    }
    // A plain text, a number, true, false or null.
    bool scalar(QJsonValue &out)
    {
        space();
        std::string_view text;
        if (at < end && *at == '"') {
            if (!plainText(text))
                return false;
            out = QString::fromLatin1(text.data(), qsizetype(text.size()));
        } else if (word("null")) {
            out = QJsonValue::Null;
        } else if (word("true")) {
            out = true;
        } else if (word("false")) {
            out = false;
        } else {
            return number(out);
        }
        return true;
    }
    bool word(std::string_view w)
    {
        space();
        if (!need(w.size()) || std::string_view(at, w.size()) != w)
            return false;
        at += w.size();
        return true;
    }
    std::optional<wire::Packet> packet()
    {
        qsizetype used = 0;
        std::optional<wire::Packet> p = in ? wire::readPacketJson(*in, at - in->data(), &used)
                                           : wire::readPacketJson(at, end - at, &used);
        at += used;
        if (in)
            end = in->data() + in->size();
        return p;
    }
};

bool readUsualCall(Cursor c, RpcCall &call)
{
    bool version = false, id = false, method = false, params = false;
    RpcCall read;
    if (!c.take('{'))
        return false;
    do {
        std::string_view key;
        if (!c.plainText(key) || !c.take(':'))
            return false;
        if (key == "jsonrpc" && !version) {
            std::string_view v;
            if (!c.plainText(v) || v != "2.0")
                return false;
            version = true;
        } else if (key == "id" && !id) {
            QJsonValue v;
            if (!c.scalar(v) || v.isBool())
                return false;
            read.id = idJson(v);
            id = true;
        } else if (key == "method" && !method) {
            std::string_view name;
            if (!c.plainText(name))
                return false;
            read.method = QString::fromLatin1(name.data(), qsizetype(name.size()));
            method = true;
        } else if (key == "params" && !params) {
            if (!c.take('['))
                return false;
            if (!c.take(']')) {
                do {
                    c.space();
                    if (c.avail() && *c.at == '{') {
                        std::optional<wire::Packet> packet = c.packet();
                        if (!packet)
                            return false;
                        read.packets.insert(int(read.params.size()), *std::move(packet));
                        read.params.append(QJsonObject());
                        continue;
                    }
                    QJsonValue v;
                    if (!c.scalar(v))
                        return false;
                    read.params.append(v);
                } while (c.take(','));
                if (!c.take(']'))
                    return false;
            }
            params = true;
        } else {
            return false;
        }
    } while (c.take(','));
    if (!c.take('}') || !version || !method || !params)
        return false;
    c.space();
    if (c.avail())
        return false;
    if (!id)
        read.id = "null";
    call = std::move(read);
    return true;
}

} // namespace

bool readUsualCall(const QByteArray &body, RpcCall &call)
{
    return readUsualCall(Cursor{body.constData(), body.constData() + body.size()}, call);
}

bool readUsualCall(wire::ByteStream &in, RpcCall &call)
{
    while (in.size() == 0)
        if (!in.more())
            return false;
    return readUsualCall(Cursor{in.data(), in.data() + in.size(), &in}, call);
}

bool readAlike(const RpcCall &direct, const RpcCall &viaDocument)
{
    QList<QJsonValue> params = direct.params;
    for (auto it = direct.packets.cbegin(); it != direct.packets.cend(); ++it) {
        const QJsonValue object = viaDocument.params.value(it.key());
        try {
            if (wire::encodePacket(*it) != wire::encodePacket(wire::decodePacket(object)))
                return false;
        } catch (const wire::WireError &) {
            return false;
        }
        params[it.key()] = object;
    }
    return direct.id == viaDocument.id && direct.method == viaDocument.method && params == viaDocument.params;
}

void readCallDocument(const QByteArray &body, RpcCall &call)
{
    QJsonParseError perr;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &perr);
    if (perr.error != QJsonParseError::NoError)
        throw RpcError(rpc::ParseError, QStringLiteral("O corpo da requisição não é JSON válido: %1.").arg(perr.errorString()));
    const QJsonObject o = doc.object();
    if (!doc.isObject() || o.value(QStringLiteral("jsonrpc")).toString() != QLatin1String("2.0") ||
        !o.value(QStringLiteral("method")).isString())
        throw RpcError(rpc::InvalidRequest, QStringLiteral("A requisição não é uma chamada JSON-RPC 2.0."));
    const QJsonValue idValue = o.value(QStringLiteral("id"));
    if (!idValue.isUndefined() && !idValue.isNull() && !idValue.isDouble() && !idValue.isString())
        throw RpcError(rpc::InvalidRequest, QStringLiteral("O identificador da chamada deve ser número ou texto."));
    call.id = idJson(idValue);
    call.method = o.value(QStringLiteral("method")).toString();
    const QJsonValue paramsValue = o.value(QStringLiteral("params"));
    if (!paramsValue.isUndefined() && !paramsValue.isArray())
        throw RpcError(rpc::InvalidParams, QStringLiteral("Os parâmetros devem vir numa lista posicional."));
    const QJsonArray params = paramsValue.toArray();
    call.params = QList<QJsonValue>(params.begin(), params.end());
}

void parseCall(const QByteArray &body, const std::string &object, RpcCall &call)
{
    // The usual call (texts, numbers and packets of any size) is read directly; the document
    // reads the rest and words the refusals, but takes about fourteen times a body's size, so
    // it is given small bodies only.
    constexpr qsizetype kDocumentLimit = 8 << 20;
    if (!readUsualCall(body, call)) {
        if (body.size() > kDocumentLimit)
            throw RpcError(rpc::InvalidRequest,
                           QStringLiteral("A requisição de %1 MiB não está no formato aceito para chamadas grandes "
                                          "(cada parâmetro um texto simples, um número ou um pacote).")
                               .arg(body.size() >> 20));
        readCallDocument(body, call);
    }
    bindCall(object, call);
}

void bindCall(const std::string &object, RpcCall &call)
{
    if (object != kServerObject)
        throw RpcError(rpc::MethodNotFound,
                       QStringLiteral("Objeto de servidor desconhecido: \"%1\".").arg(QString::fromStdString(object).left(60)));
    call.handler = findMethod(call.method);
    if (!call.handler)
        throw RpcError(rpc::MethodNotFound, QStringLiteral("O servidor %1 não tem o método \"%2\".")
                                                .arg(QLatin1String(kServerObject), call.method.left(60)));
}

} // namespace erp::server
