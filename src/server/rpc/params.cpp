#include "rpc.h"
#include "server/util/textutil.h"

#include <erpwire/json.h>

#include <cmath>

namespace erp::server {

void Params::fail(int i, const char *what, const QString &problem) const
{
    throw RpcError(rpc::InvalidParams,
                   QStringLiteral("%1: parâmetro %2 (%3) %4").arg(m_method).arg(i + 1).arg(QString::fromUtf8(what), problem));
}

void Params::expectCount(int n) const
{
    if (m_values.size() != n)
        throw RpcError(rpc::InvalidParams, QStringLiteral("%1 espera %2 parâmetro(s); recebeu %3.")
                                               .arg(m_method)
                                               .arg(n)
                                               .arg(m_values.size()));
}

std::string Params::string(int i, const char *what, int maxChars) const
{
    const QJsonValue v = m_values.at(i);
    if (!v.isString())
        fail(i, what, QStringLiteral("deve ser um texto."));
    const std::string s = v.toString().toStdString();
    for (unsigned char ch : s)
        if (ch < 0x20 || ch == 0x7f)
            fail(i, what, QStringLiteral("contém caracteres de controle."));
    if (utf8Length(s) > size_t(maxChars))
        fail(i, what, QStringLiteral("excede %1 caractere(s).").arg(maxChars));
    return s;
}

std::optional<QDate> Params::date(int i, const char *what) const
{
    const QJsonValue v = m_values.at(i);
    if (v.isNull())
        return std::nullopt;
    if (!v.isString())
        fail(i, what, QStringLiteral("deve ser uma data AAAA-MM-DD ou null."));
    QDate d;
    try {
        d = wire::parseDate(v.toString());
    } catch (const wire::WireError &) {
        fail(i, what, QStringLiteral("não é uma data válida (AAAA-MM-DD): \"%1\".").arg(v.toString().left(30)));
    }
    if (d.year() < 1900 || d.year() > 9999)
        fail(i, what, QStringLiteral("fora do intervalo de datas aceito."));
    return d;
}

double Params::number(int i, const char *what) const
{
    const QJsonValue v = m_values.at(i);
    if (!v.isDouble())
        fail(i, what, QStringLiteral("deve ser um número."));
    const double d = v.toDouble();
    // NUMERIC(15,2): 13 integer digits.
    if (!std::isfinite(d) || d < 0 || d >= 1e13)
        fail(i, what, QStringLiteral("fora do intervalo aceito (0 a 9.999.999.999.999,99)."));
    return d;
}

bool Params::boolean(int i, const char *what) const
{
    const QJsonValue v = m_values.at(i);
    if (!v.isBool())
        fail(i, what, QStringLiteral("deve ser true ou false."));
    return v.toBool();
}

std::vector<std::string> Params::list(int i, const char *what, int maxCharsPerCode) const
{
    const QJsonValue v = m_values.at(i);
    if (!v.isString())
        fail(i, what, QStringLiteral("deve ser um texto (códigos separados por ';')."));
    const std::string s = v.toString().toStdString();
    std::vector<std::string> codes;
    if (s.empty())
        return codes;
    size_t start = 0;
    while (true) {
        const size_t end = s.find(';', start);
        std::string code = s.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (code.empty())
            fail(i, what, QStringLiteral("tem um código vazio na lista."));
        for (unsigned char ch : code)
            if (ch <= 0x20 || ch == 0x7f)
                fail(i, what, QStringLiteral("tem espaços ou caracteres de controle no código \"%1\".")
                                  .arg(QString::fromStdString(code).left(30)));
        if (utf8Length(code) > size_t(maxCharsPerCode))
            fail(i, what, QStringLiteral("tem o código \"%1\" com mais de %2 caractere(s).")
                              .arg(QString::fromStdString(code).left(30))
                              .arg(maxCharsPerCode));
        codes.push_back(std::move(code));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return codes;
}

wire::Packet Params::packet(int i, const char *what) const
{
    if (const auto it = m_packets.constFind(i); it != m_packets.cend())
        return *it;
    const QJsonValue v = m_values.at(i);
    if (!v.isObject())
        fail(i, what, QStringLiteral("deve ser um pacote de dados."));
    try {
        return wire::decodePacket(v);
    } catch (const wire::WireError &e) {
        fail(i, what, QStringLiteral("inválido: %1").arg(e.message()));
    }
}

} // namespace erp::server
