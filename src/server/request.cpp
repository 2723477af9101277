#include "rpc.h"

#include <erpwire/json.h>

#include <QJsonDocument>
#include <QJsonObject>

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

void parseCall(const QByteArray &body, const std::string &object, RpcCall &call)
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
    call.params = paramsValue.toArray();
    if (object != kServerObject)
        throw RpcError(rpc::MethodNotFound,
                       QStringLiteral("Objeto de servidor desconhecido: \"%1\".").arg(QString::fromStdString(object).left(60)));
    call.handler = findMethod(call.method);
    if (!call.handler)
        throw RpcError(rpc::MethodNotFound, QStringLiteral("O servidor %1 não tem o método \"%2\".")
                                                .arg(QLatin1String(kServerObject), call.method.left(60)));
}

} // namespace erp::server
