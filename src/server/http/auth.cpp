#include "auth.h"
#include "server/db/pool.h"
#include "server/util/textutil.h"

#include <sodium.h>

#include <QDateTime>

#include <algorithm>
#include <cstdio>
#include <semaphore>
#include <stdexcept>
#include <thread>

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

// Argon2id at 19 MiB and two passes, the least the usual guidance for password storage asks: a
// wrong password is refused in tens of milliseconds, and a burst of guesses holds 19 MiB each
// instead of the 64 MiB of the library's interactive setting. Stored hashes carry their own
// parameters; older ones are rewritten with these at the operator's next sign-in.
constexpr unsigned long long kOpsLimit = 2;
constexpr size_t kMemLimit = 19u << 20;

} // namespace

std::string hashPassword(const std::string &password, bool randomKey)
{
    ensureSodium();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.data(), password.size(),
                          randomKey ? crypto_pwhash_OPSLIMIT_MIN : kOpsLimit,
                          randomKey ? crypto_pwhash_MEMLIMIT_MIN : kMemLimit) != 0)
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
    } else {
        // A token outliving the password it was issued under would undo the change.
        db::Statement &del = c.prepare("DELETE FROM TOKENACESSO WHERE NMOPERADOR = ?");
        del.bindAll({name});
        del.exec();
    }
    tx.commit();
}

namespace {

const char *kActiveHash = "SELECT DSHASHSENHA FROM OPERADOR WHERE NMOPERADOR = ? AND IDATIVO = 'S'";

// Verified in place of a missing operator's hash, so that an unknown name costs the same time.
// It carries a stored hash's parameters, which set the verification's cost, around a random
// salt and digest that no password gives; written out rather than hashed, since hashing would
// cost every server's start the time of one verification.
const std::string &dummyHash()
{
    static const std::string hash = [] {
        ensureSodium();
        const auto base64 = [](const unsigned char *raw, size_t size) {
            std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL_NO_PADDING), '\0');
            sodium_bin2base64(text.data(), text.size(), raw, size, sodium_base64_VARIANT_ORIGINAL_NO_PADDING);
            text.resize(text.size() - 1);
            return text;
        };
        unsigned char salt[crypto_pwhash_SALTBYTES], digest[32];
        randombytes_buf(salt, sizeof salt);
        randombytes_buf(digest, sizeof digest);
        return crypto_pwhash_argon2id_STRPREFIX + std::string("v=19$m=") +
               std::to_string(kMemLimit / 1024) + ",t=" + std::to_string(kOpsLimit) + ",p=1$" + base64(salt, sizeof salt) + "$" +
               base64(digest, sizeof digest);
    }();
    return hash;
}

} // namespace

bool checkPassword(db::Connection &c, const std::string &name, const std::string &password)
{
    const std::string hash = db::queryText(c, kActiveHash, {name});
    const bool ok = verifyPassword(hash.empty() ? dummyHash() : hash, password);
    return ok && !hash.empty();
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

IssuedToken issueToken(db::Connection &c, const std::string &operatorName, int days)
{
    ensureSodium();
    unsigned char raw[32];
    randombytes_buf(raw, sizeof raw);
    char text[sodium_base64_ENCODED_LEN(sizeof raw, sodium_base64_VARIANT_URLSAFE_NO_PADDING)];
    sodium_bin2base64(text, sizeof text, raw, sizeof raw, sodium_base64_VARIANT_URLSAFE_NO_PADDING);
    sodium_memzero(raw, sizeof raw);
    IssuedToken issued{text, {}};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    issued.validUntil = utcText(now.addDays(days));
    db::Transaction tx(c, db::TxMode::Write);
    if (!db::queryInt(c, "SELECT COUNT(*) FROM OPERADOR WHERE NMOPERADOR = ? AND IDATIVO = 'S'", {operatorName}))
        throw std::runtime_error("operador \"" + operatorName + "\" não cadastrado ou inativo.");
    db::Statement &purge = c.prepare("DELETE FROM TOKENACESSO WHERE DTVALIDADE < ?");
    purge.bindAll({utcText(now)});
    purge.exec();
    db::Statement &ins = c.prepare(
        "INSERT INTO TOKENACESSO (CDHASHTOKEN, NMOPERADOR, DTEMISSAO, DTVALIDADE) VALUES (?, ?, ?, ?)");
    ins.bindAll({tokenDigest(issued.token), operatorName, utcText(now), issued.validUntil});
    ins.exec();
    tx.commit();
    return issued;
}

bool revokeToken(db::Connection &c, const std::string &token)
{
    db::Transaction tx(c, db::TxMode::Write);
    db::Statement &del = c.prepare("DELETE FROM TOKENACESSO WHERE CDHASHTOKEN = ?");
    del.bindAll({tokenDigest(token)});
    const bool found = del.exec() > 0;
    tx.commit();
    return found;
}

int revokeTokens(db::Connection &c, const std::string &operatorName)
{
    db::Transaction tx(c, db::TxMode::Write);
    db::Statement &del = c.prepare("DELETE FROM TOKENACESSO WHERE NMOPERADOR = ?");
    del.bindAll({operatorName});
    const int n = int(del.exec());
    tx.commit();
    return n;
}

struct Authenticator::Impl
{
    using Clock = std::chrono::steady_clock;
    using Digest = std::array<unsigned char, 32>;

    // What is known of one operator name: its remembered credential, and the lock that keeps
    // its verifications one at a time.
    struct Name
    {
        std::mutex verifying, rechecking;
        std::optional<Digest> digest; // of name and password, keyed
        std::optional<Digest> pending; // being verified
        std::string hash;             // the stored hash it was verified against
        Clock::time_point lastUse, checkedAt;
    };
    struct Token
    {
        std::string operatorName;
        std::chrono::system_clock::time_point validUntil;
        Clock::time_point checkedAt;
    };
    // Failures of a name or an address within the last minute, and the lockout they earned.
    struct Failures
    {
        std::vector<Clock::time_point> recent;
        Clock::time_point blockedUntil;
        int lockouts = 0;
    };

    ConnectionPool &pool;
    AuthOptions o;
    std::counting_semaphore<64> kdfSlots;
    std::array<unsigned char, 32> key{};
    std::mutex mutex; // everything below
    std::map<std::string, std::shared_ptr<Name>> names;
    std::map<Digest, Token> tokens;
    std::map<std::string, Failures> nameFailures, peerFailures;
    int hashing = 0; // calls verifying a password or waiting to

    Impl(ConnectionPool &p, AuthOptions options)
        : pool(p), o(std::move(options)), kdfSlots(std::clamp(int(std::thread::hardware_concurrency()) / 2, 1, 64))
    {
        ensureSodium();
        randombytes_buf(key.data(), key.size());
    }

    Digest digest(const std::string &text) const
    {
        Digest d{};
        crypto_generichash(d.data(), d.size(), reinterpret_cast<const unsigned char *>(text.data()), text.size(),
                           key.data(), key.size());
        return d;
    }

    void log(const std::string &line) const
    {
        if (o.log) {
            o.log(line);
            return;
        }
        const std::string text = line + '\n';
        std::fwrite(text.data(), 1, text.size(), stderr);
    }

    // Seconds until the key may try again; 0 when it may now.
    static int blockedFor(std::map<std::string, Failures> &m, const std::string &k, Clock::time_point now)
    {
        const auto it = m.find(k);
        if (it == m.end() || it->second.blockedUntil <= now)
            return 0;
        return int(std::chrono::ceil<std::chrono::seconds>(it->second.blockedUntil - now).count());
    }
    // Records a failure; the seconds of the lockout it started, or 0.
    static int fail(std::map<std::string, Failures> &m, const std::string &k, int limit, Clock::time_point now)
    {
        if (m.size() > 10000) // names and addresses come from outside: forget the quiet ones
            std::erase_if(m, [now](const auto &e) {
                return e.second.blockedUntil < now - std::chrono::hours(1) &&
                       (e.second.recent.empty() || e.second.recent.back() < now - std::chrono::minutes(1));
            });
        Failures &f = m[k];
        std::erase_if(f.recent, [now](Clock::time_point t) { return t <= now - std::chrono::minutes(1); });
        if (f.lockouts && f.blockedUntil < now - std::chrono::hours(1))
            f.lockouts = 0;
        f.recent.push_back(now);
        if (int(f.recent.size()) < limit)
            return 0;
        f.recent.clear();
        const int seconds = std::min(60 << std::min(f.lockouts, 4), 900);
        ++f.lockouts;
        f.blockedUntil = now + std::chrono::seconds(seconds);
        return seconds;
    }

    std::shared_ptr<Name> name(const std::string &n)
    {
        if (names.size() > 4096) // unknown names tried leave nothing behind
            std::erase_if(names, [](const auto &e) { return e.second.use_count() == 1 && !e.second->digest; });
        std::shared_ptr<Name> &p = names[n];
        if (!p)
            p = std::make_shared<Name>();
        return p;
    }

    // The refusal, logged and audited; the lockout it started, if any, too.
    AuthResult deny(const std::string &who, const std::string &peer, const char *reason, db::Connection *c)
    {
        int lockName = 0, lockPeer = 0;
        {
            std::lock_guard lock(mutex);
            const auto now = Clock::now();
            if (!who.empty())
                lockName = fail(nameFailures, who, o.failuresPerName, now);
            lockPeer = fail(peerFailures, peer, o.failuresPerPeer, now);
        }
        std::string why = reason;
        if (lockName)
            why += "; operador bloqueado por " + std::to_string(lockName) + " s";
        if (lockPeer)
            why += "; endereço bloqueado por " + std::to_string(lockPeer) + " s";
        const std::string shown = printable(who);
        log("acesso recusado: operador=" + (who.empty() ? std::string("-") : shown) + " endereço=" + peer + " " + why);
        try {
            std::optional<Lease> lease;
            if (!c) {
                lease.emplace(pool.acquire());
                c = &**lease;
            }
            db::Statement &ins = c->prepare(
                "INSERT INTO AUDITACESSO (DTOCORRENCIA, NMOPERADOR, DSENDERECO, DSMOTIVO) VALUES (?, ?, ?, ?)");
            ins.bindAll({utcText(QDateTime::currentDateTimeUtc()), who.empty() ? db::null() : db::Value(shown),
                         truncateUtf8(peer, 64), truncateUtf8(why, 120)});
            ins.exec();
        } catch (const std::exception &e) {
            log("acesso recusado: não foi possível gravar a auditoria: " + std::string(e.what()));
        }
        return {AuthResult::Kind::Denied, shown, 0};
    }

    AuthResult throttled(const std::string &who, int seconds)
    {
        return {AuthResult::Kind::Throttled, printable(who), std::max(1, seconds)};
    }

    std::string storedHash(const std::string &user)
    {
        Lease lease = pool.acquire(); // only for the lookup: never held through the KDF
        return db::queryText(*lease, kActiveHash, {user});
    }

    // A hash of older parameters, rewritten with today's once its password is known; a password
    // changed meanwhile is left as it is. The hash the operator has now.
    std::string upgradedHash(const std::string &user, const std::string &hash, const std::string &password)
    {
        if (crypto_pwhash_str_needs_rehash(hash.c_str(), kOpsLimit, kMemLimit) == 0)
            return hash;
        try {
            const std::string fresh = hashPassword(password, false);
            Lease lease = pool.acquire();
            db::Transaction tx(*lease, db::TxMode::Write);
            db::Statement &up =
                lease->prepare("UPDATE OPERADOR SET DSHASHSENHA = ? WHERE NMOPERADOR = ? AND DSHASHSENHA = ?");
            up.bindAll({fresh, user, hash});
            const bool changed = up.exec() == 1;
            tx.commit();
            return changed ? fresh : hash;
        } catch (const std::exception &e) {
            log("senha de " + printable(user) + " não regravada com os parâmetros atuais: " + e.what());
            return hash;
        }
    }

    int blocked(const std::string &user, const std::string &peer, Clock::time_point now)
    {
        return std::max(blockedFor(nameFailures, user, now), blockedFor(peerFailures, peer, now));
    }

    std::optional<std::string> recall(const std::string &user, const std::string &password)
    {
        const Digest d = digest(user + '\0' + password);
        std::lock_guard lock(mutex);
        const auto it = names.find(user);
        if (it == names.end())
            return std::nullopt;
        Name &n = *it->second;
        const auto now = Clock::now();
        if (!n.digest || sodium_memcmp(n.digest->data(), d.data(), d.size()) != 0 ||
            n.lastUse + o.trustWindow <= now || n.checkedAt + o.recheck <= now)
            return std::nullopt;
        n.lastUse = now;
        return user;
    }

    std::optional<std::string> recall(const std::string &token)
    {
        const Digest d = digest(token);
        std::lock_guard lock(mutex);
        const auto it = tokens.find(d);
        if (it == tokens.end() || it->second.checkedAt + o.recheck <= Clock::now() ||
            it->second.validUntil <= std::chrono::system_clock::now())
            return std::nullopt;
        return it->second.operatorName;
    }

    AuthResult basic(const std::string &user, const std::string &password, const std::string &peer)
    {
        const Digest d = digest(user + '\0' + password);
        const auto matches = [&](const Name &n) {
            return n.digest && sodium_memcmp(n.digest->data(), d.data(), d.size()) == 0;
        };
        const auto allowed = [&](Name &n, bool checked) {
            n.lastUse = Clock::now();
            if (checked)
                n.checkedAt = n.lastUse;
            return AuthResult{AuthResult::Kind::Allowed, user, 0};
        };
        std::shared_ptr<Name> n;
        std::string remembered;
        {
            std::lock_guard lock(mutex);
            n = name(user);
            const auto now = Clock::now();
            // A remembered credential is no guess: the throttle does not stand in its way.
            if (matches(*n) && n->lastUse + o.trustWindow > now) {
                if (n->checkedAt + o.recheck > now)
                    return allowed(*n, false);
                remembered = n->hash;
            } else if (const int s = blocked(user, peer, now)) {
                return throttled(user, s);
            }
        }
        if (!remembered.empty()) {
            // Still active, password unchanged: no need for the KDF, nor to wait for one.
            std::lock_guard rechecking(n->rechecking);
            {
                std::lock_guard lock(mutex);
                if (matches(*n) && n->checkedAt + o.recheck > Clock::now())
                    return allowed(*n, false);
            }
            const std::string hash = storedHash(user);
            std::lock_guard lock(mutex);
            if (hash == remembered && matches(*n))
                return allowed(*n, true);
            if (n->hash == remembered)
                n->digest.reset();
        }

        bool hashes = false;
        {
            // The calls waiting here hold the server's workers: only those with the password
            // being verified wait for it; another password meanwhile, or more hashing than the
            // limit, is told to come back in a second.
            std::lock_guard lock(mutex);
            if (n->pending ? sodium_memcmp(n->pending->data(), d.data(), d.size()) != 0 : hashing >= o.maxHashing)
                return throttled(user, 1);
            hashes = !n->pending;
            if (hashes) {
                n->pending = d;
                ++hashing;
            }
        }
        struct Done
        {
            Impl &self;
            Name &n;
            bool hashes;
            ~Done()
            {
                if (!hashes)
                    return;
                std::lock_guard lock(self.mutex);
                --self.hashing;
                n.pending.reset();
            }
        } done{*this, *n, hashes};
        std::lock_guard verifying(n->verifying);
        {
            std::lock_guard lock(mutex);
            const auto now = Clock::now();
            if (matches(*n) && n->checkedAt + o.recheck > now) // verified while this call waited
                return allowed(*n, false);
            if (const int s = blocked(user, peer, now))
                return throttled(user, s);
        }
        const std::string hash = storedHash(user);
        bool ok = false;
        {
            // The KDF leaves cores to the other calls, however many guess at once.
            kdfSlots.acquire();
            struct Release
            {
                std::counting_semaphore<64> &s;
                ~Release() { s.release(); }
            } release{kdfSlots};
            {
                std::lock_guard lock(mutex);
                if (const int s = blocked(user, peer, Clock::now()))
                    return throttled(user, s);
            }
            ok = verifyPassword(hash.empty() ? dummyHash() : hash, password) && !hash.empty();
        }
        if (!ok)
            return deny(user, peer, hash.empty() ? "operador desconhecido ou inativo" : "senha inválida", nullptr);
        const std::string current = upgradedHash(user, hash, password);
        std::lock_guard lock(mutex);
        n->digest = d;
        n->hash = current;
        nameFailures.erase(user);
        return allowed(*n, true);
    }

    AuthResult bearer(const std::string &token, const std::string &peer)
    {
        if (std::optional<std::string> owner = recall(token))
            return {AuthResult::Kind::Allowed, std::move(*owner), 0};
        const Digest d = digest(token);
        {
            std::lock_guard lock(mutex);
            if (const int s = blockedFor(peerFailures, peer, Clock::now()))
                return throttled({}, s);
        }
        Lease lease = pool.acquire();
        db::Statement &st = lease->prepare("SELECT T.NMOPERADOR, T.DTVALIDADE FROM TOKENACESSO T JOIN OPERADOR O ON "
                                           "O.NMOPERADOR = T.NMOPERADOR WHERE T.CDHASHTOKEN = ? AND O.IDATIVO = 'S'");
        st.bindAll({tokenDigest(token)});
        std::string owner, until;
        if (st.next()) {
            owner = st.string(0);
            until = std::string(st.text(1).substr(0, 19));
        }
        st.reset();
        if (owner.empty() || until <= utcText(QDateTime::currentDateTimeUtc())) {
            {
                std::lock_guard lock(mutex);
                tokens.erase(d);
            }
            return deny({}, peer, owner.empty() ? "token desconhecido, revogado ou de operador inativo" : "token vencido",
                        &*lease);
        }
        std::lock_guard lock(mutex);
        if (tokens.size() > 10000)
            tokens.clear();
        QDateTime expiry = QDateTime::fromString(QString::fromStdString(until), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        expiry.setTimeSpec(Qt::UTC);
        tokens[d] = {owner, std::chrono::system_clock::time_point(std::chrono::seconds(expiry.toSecsSinceEpoch())),
                     Clock::now()};
        return {AuthResult::Kind::Allowed, owner, 0};
    }
};

Authenticator::Authenticator(ConnectionPool &pool, AuthOptions options)
    : d(std::make_unique<Impl>(pool, std::move(options)))
{
}

Authenticator::~Authenticator() = default;

AuthResult Authenticator::authenticate(const std::string &header, const std::string &peer)
{
    if (const auto basic = parseBasicAuth(header))
        return d->basic(basic->first, basic->second, peer);
    if (const auto token = parseBearerAuth(header))
        return d->bearer(*token, peer);
    {
        std::lock_guard lock(d->mutex);
        if (const int s = Impl::blockedFor(d->peerFailures, peer, Impl::Clock::now()))
            return d->throttled({}, s);
    }
    return d->deny({}, peer, header.empty() ? "sem credenciais" : "credenciais em formato inválido", nullptr);
}

std::optional<std::string> Authenticator::recall(const std::string &header)
{
    if (const auto basic = parseBasicAuth(header))
        return d->recall(basic->first, basic->second);
    if (const auto token = parseBearerAuth(header))
        return d->recall(*token);
    return std::nullopt;
}

} // namespace erp::server
