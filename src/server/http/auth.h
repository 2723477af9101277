#pragma once

#include "server/db/db.h"

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace erp::server {

class ConnectionPool;

// A password hash in the standard modular format of the password KDF (Argon2id).
// A random key (the embedded server's credential) is hashed at the lowest cost: 192 random bits
// cannot be guessed whatever the cost, and the start of the shell should not wait for it.
std::string hashPassword(const std::string &password, bool randomKey = false);
bool verifyPassword(const std::string &hash, const std::string &password);

// Creates the operator or replaces its password; replacing it revokes the operator's tokens.
void saveOperator(db::Connection &c, const std::string &name, const std::string &password, bool randomKey = false);
// True when the operator is active and the password its own. An unknown operator costs the
// same time as a known one.
bool checkPassword(db::Connection &c, const std::string &name, const std::string &password);

// "Basic base64(operator:password)" -> operator and password.
std::optional<std::pair<std::string, std::string>> parseBasicAuth(const std::string &header);
// "Bearer TOKEN" -> TOKEN.
std::optional<std::string> parseBearerAuth(const std::string &header);

struct IssuedToken
{
    std::string token;
    std::string validUntil; // "YYYY-MM-DD HH:MM:SS", UTC
};
// A new random token for an active operator, valid for the given days. Only its digest is
// stored, so the token is shown once; throws std::runtime_error for an unknown operator.
IssuedToken issueToken(db::Connection &c, const std::string &operatorName, int days);
// Revokes one token; false when it was not found.
bool revokeToken(db::Connection &c, const std::string &token);
// Revokes every token of the operator; how many there were.
int revokeTokens(db::Connection &c, const std::string &operatorName);

struct AuthResult
{
    enum class Kind { Allowed, Denied, Throttled } kind = Kind::Denied;
    std::string operatorName; // the operator allowed, or the name tried (for the log)
    int retryAfterSeconds = 0; // Throttled: when to try again
};

struct AuthOptions
{
    // A verified password is trusted while it is used at least this often.
    std::chrono::seconds trustWindow{60};
    // How old the operator's state (active, password, tokens) a trusted credential rests on may be.
    std::chrono::milliseconds recheck{1000};
    // Failed attempts allowed per operator name and per client address in a minute; beyond
    // them the name (or address) is refused with Throttled for a time that doubles with each
    // lockout, up to 15 minutes.
    int failuresPerName = 5;
    int failuresPerPeer = 20;
    // Calls verifying a password (or waiting to) at once; beyond them Throttled for a second, so
    // that guessers cannot hold every worker of the server.
    int maxHashing = 4;
    // One line per refusal; standard error when not set.
    std::function<void(const std::string &)> log;
};

// Checks the credentials of the server's calls. A verified password is remembered as a keyed
// digest (never the password); one verification at a time per operator, the other calls for it
// wait for its result. A remembered credential is checked against the database (the operator
// still active, its password hash unchanged, the token still there) at most `recheck` apart.
// Failures are throttled per operator name and per address, written to the log and to
// AUDITACESSO. Thread-safe; takes a pooled connection only when it must read the database.
class Authenticator
{
public:
    Authenticator(ConnectionPool &pool, AuthOptions options = {});
    ~Authenticator();
    Authenticator(const Authenticator &) = delete;
    Authenticator &operator=(const Authenticator &) = delete;

    AuthResult authenticate(const std::string &authorizationHeader, const std::string &peerAddress);
    // The operator of credentials verified a moment ago, without the database or the hash (so
    // on any thread); nothing when they need either, and authenticate() decides.
    std::optional<std::string> recall(const std::string &authorizationHeader);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace erp::server
