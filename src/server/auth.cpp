#include "auth.h"

#include <sodium.h>

#include <QDateTime>

#include <stdexcept>

namespace erp::server {

namespace {

void ensureSodium()
{
    static const bool ok = sodium_init() >= 0;
    if (!ok)
        throw std::runtime_error("Não foi possível iniciar a biblioteca de criptografia.");
}

} // namespace

std::string hashPassword(const std::string &password)
{
    ensureSodium();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("Memória insuficiente para gerar o hash da senha.");
    return out;
}

bool verifyPassword(const std::string &hash, const std::string &password)
{
    ensureSodium();
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void saveOperator(db::Connection &c, const std::string &name, const std::string &password)
{
    const std::string hash = hashPassword(password);
    const std::string now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
    db::Transaction tx(c, db::TxMode::Write);
    db::Statement &up =
        c.prepare("UPDATE OPERADOR SET DSHASHSENHA = ?, IDATIVO = 'S', DTALTERACAO = ? WHERE NMOPERADOR = ?");
    up.bindAll({hash, now, name});
    if (up.exec() == 0) {
        db::Statement &ins =
            c.prepare("INSERT INTO OPERADOR (NMOPERADOR, DSHASHSENHA, IDATIVO, DTALTERACAO) VALUES (?, ?, 'S', ?)");
        ins.bindAll({name, hash, now});
        ins.exec();
    }
    tx.commit();
}

std::optional<std::pair<std::string, std::string>> parseBasicAuth(const std::string &header)
{
    constexpr std::string_view prefix = "Basic ";
    if (header.size() <= prefix.size() || header.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    ensureSodium();
    const std::string b64 = header.substr(prefix.size());
    std::string raw(b64.size(), '\0');
    size_t len = 0;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(raw.data()), raw.size(), b64.data(), b64.size(), nullptr,
                          &len, nullptr, sodium_base64_VARIANT_ORIGINAL) != 0)
        return std::nullopt;
    raw.resize(len);
    const size_t colon = raw.find(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    return std::make_pair(raw.substr(0, colon), raw.substr(colon + 1));
}

Authenticator::Authenticator(std::chrono::seconds remember) : m_remember(remember)
{
    ensureSodium();
    randombytes_buf(m_key.data(), m_key.size());
}

Authenticator::Digest Authenticator::digest(const std::string &name, const std::string &password) const
{
    Digest d{};
    const std::string text = name + '\0' + password;
    crypto_generichash(d.data(), d.size(), reinterpret_cast<const unsigned char *>(text.data()), text.size(),
                       m_key.data(), m_key.size());
    return d;
}

bool Authenticator::check(db::Connection &c, const std::string &name, const std::string &password)
{
    const Digest d = digest(name, password);
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_verified.find(name);
        if (it != m_verified.end() && it->second.second > now &&
            sodium_memcmp(it->second.first.data(), d.data(), d.size()) == 0)
            return true;
    }
    const std::string hash =
        db::queryText(c, "SELECT DSHASHSENHA FROM OPERADOR WHERE NMOPERADOR = ? AND IDATIVO = 'S'", {name});
    if (hash.empty() || !verifyPassword(hash, password))
        return false;
    std::lock_guard lock(m_mutex);
    m_verified[name] = {d, now + m_remember};
    return true;
}

} // namespace erp::server
