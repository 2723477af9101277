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

// Tokens carry 256 random bits, so a plain digest is enough to keep them out of the database.
std::string tokenDigest(const std::string &token)
{
    unsigned char d[32];
    crypto_generichash(d, sizeof d, reinterpret_cast<const unsigned char *>(token.data()), token.size(), nullptr, 0);
    char hex[sizeof d * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, d, sizeof d);
    return hex;
}

std::string utcText(const QDateTime &t) { return t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString(); }

} // namespace

std::string hashPassword(const std::string &password, bool randomKey)
{
    ensureSodium();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(),
                          randomKey ? crypto_pwhash_OPSLIMIT_MIN : crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          randomKey ? crypto_pwhash_MEMLIMIT_MIN : crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw std::runtime_error("Memória insuficiente para gerar o hash da senha.");
    return out;
}

bool verifyPassword(const std::string &hash, const std::string &password)
{
    ensureSodium();
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void saveOperator(db::Connection &c, const std::string &name, const std::string &password, bool randomKey)
{
    const std::string hash = hashPassword(password, randomKey);
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

std::optional<std::string> parseBearerAuth(const std::string &header)
{
    constexpr std::string_view prefix = "Bearer ";
    if (header.size() <= prefix.size() || header.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    std::string token = header.substr(prefix.size());
    if (token.size() > 200)
        return std::nullopt;
    return token;
}

std::string issueToken(db::Connection &c, const std::string &operatorName, int days)
{
    ensureSodium();
    unsigned char raw[32];
    randombytes_buf(raw, sizeof raw);
    char text[sodium_base64_ENCODED_LEN(sizeof raw, sodium_base64_VARIANT_URLSAFE_NO_PADDING)];
    sodium_bin2base64(text, sizeof text, raw, sizeof raw, sodium_base64_VARIANT_URLSAFE_NO_PADDING);
    sodium_memzero(raw, sizeof raw);
    const std::string token = text;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    db::Transaction tx(c, db::TxMode::Write);
    if (!db::queryInt(c, "SELECT COUNT(*) FROM OPERADOR WHERE NMOPERADOR = ? AND IDATIVO = 'S'", {operatorName}))
        throw std::runtime_error("operador \"" + operatorName + "\" não cadastrado ou inativo.");
    db::Statement &purge = c.prepare("DELETE FROM TOKENACESSO WHERE DTVALIDADE < ?");
    purge.bindAll({utcText(now)});
    purge.exec();
    db::Statement &ins = c.prepare(
        "INSERT INTO TOKENACESSO (CDHASHTOKEN, NMOPERADOR, DTEMISSAO, DTVALIDADE) VALUES (?, ?, ?, ?)");
    ins.bindAll({tokenDigest(token), operatorName, utcText(now), utcText(now.addDays(days))});
    ins.exec();
    tx.commit();
    return token;
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

std::string Authenticator::checkToken(db::Connection &c, const std::string &token)
{
    if (token.empty())
        return {};
    db::Statement &st = c.prepare("SELECT T.NMOPERADOR, T.DTVALIDADE FROM TOKENACESSO T JOIN OPERADOR O ON "
                                  "O.NMOPERADOR = T.NMOPERADOR WHERE T.CDHASHTOKEN = ? AND O.IDATIVO = 'S'");
    st.bindAll({tokenDigest(token)});
    std::string name, until;
    if (st.next()) {
        name = st.string(0);
        until = std::string(st.text(1).substr(0, 19));
    }
    st.reset();
    if (name.empty() || until <= utcText(QDateTime::currentDateTimeUtc()))
        return {};
    return name;
}

} // namespace erp::server
