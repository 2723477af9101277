#pragma once

#include "db.h"

#include <array>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace erp::server {

// A password hash in the standard modular format of the password KDF (Argon2id).
// A random key (the embedded server's credential) is hashed at the lowest cost: 192 random bits
// cannot be guessed whatever the cost, and the start of the shell should not wait for it.
std::string hashPassword(const std::string &password, bool randomKey = false);
bool verifyPassword(const std::string &hash, const std::string &password);

// Creates the operator or replaces its password.
void saveOperator(db::Connection &c, const std::string &name, const std::string &password, bool randomKey = false);

// "Basic base64(operator:password)" -> operator and password.
std::optional<std::pair<std::string, std::string>> parseBasicAuth(const std::string &header);
// "Bearer TOKEN" -> TOKEN.
std::optional<std::string> parseBearerAuth(const std::string &header);

// A new random token for an active operator, valid for the given days. Only its digest is
// stored, so the token is shown once; throws std::runtime_error for an unknown operator.
std::string issueToken(db::Connection &c, const std::string &operatorName, int days);

// Checks operators' credentials against the database. A verified credential is remembered for
// a short while (as a keyed digest, never the password) so that the calls of one session do
// not each pay the KDF.
class Authenticator
{
public:
    explicit Authenticator(std::chrono::seconds remember = std::chrono::seconds(60));
    bool check(db::Connection &c, const std::string &name, const std::string &password);
    // The operator a valid, unexpired token belongs to; empty otherwise.
    std::string checkToken(db::Connection &c, const std::string &token);

private:
    using Digest = std::array<unsigned char, 32>;
    Digest digest(const std::string &name, const std::string &password) const;

    std::chrono::seconds m_remember;
    std::array<unsigned char, 32> m_key{};
    std::mutex m_mutex;
    std::map<std::string, std::pair<Digest, std::chrono::steady_clock::time_point>> m_verified;
};

} // namespace erp::server
