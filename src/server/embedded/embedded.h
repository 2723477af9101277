#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace erp::server {

struct EmbeddedOptions
{
    // The demo SQLite file; created (schema and demo data) when new, upgraded when older.
    std::string databasePath;
    // Or an existing database, "sqlite:PATH" or "postgresql://...": served as it is, never
    // created, upgraded nor seeded, and refused when its schema is not the current one.
    std::string databaseUrl;
    std::string operatorName = "demo";
    // Empty: a random one is made and stored for the operator of the demo database. An existing
    // database is never written to: its operator must come with its own password.
    std::string password;
    // "YYYY-MM-DD": the date the server (and a new demo database) takes as today; empty for
    // the system date.
    std::string today;
    long demoAccounts = 3000;
    std::uint64_t demoSeed = 1;
    int workers = 4;
    // One line per call; standard error when not set.
    std::function<void(const std::string &)> log;
};

// The application server in-process, on 127.0.0.1 and a free port, serving from background
// threads until destroyed. Construction throws std::runtime_error with a message for the user.
class EmbeddedServer
{
public:
    explicit EmbeddedServer(const EmbeddedOptions &options);
    ~EmbeddedServer();
    EmbeddedServer(const EmbeddedServer &) = delete;
    EmbeddedServer &operator=(const EmbeddedServer &) = delete;

    const std::string &host() const;
    int port() const;
    const std::string &operatorName() const;
    const std::string &password() const;
    std::string databaseUrl() const; // for the shell's own queries

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace erp::server
