#pragma once

#include "server/db/db.h"

#include <QDate>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace erp::server {

struct ServeOptions
{
    db::DbUrl db;
    std::string host = "127.0.0.1";
    int port = 0; // 0: any free port
    int workers = 8; // calls that use the database at once
    std::optional<QDate> today; // the date the server takes as today
    // A request body as the method reads it (inflated when sent gzip'd): the account list of the
    // largest company fits.
    std::size_t maxBodyBytes = std::size_t(1) << 30;
    int maxConnections = 1000; // open at once; the next is answered 503
    int statementTimeoutSeconds = 60; // per database call
    // Both set: TLS on every connection.
    std::string tlsCertFile, tlsKeyFile;
    // A verified password is trusted while its operator calls at least this often.
    std::chrono::seconds trustWindow{60};
    // One line per call; stderr when not set.
    std::function<void(const std::string &)> log;
};

// The JSON-RPC server of "REC00800.rdmRecCont" over HTTP/1.1 (optionally TLS): connections are
// served by a couple of event-driven threads, so an idle or slow client costs no worker; the
// database work of a call runs on a pool of `workers` threads, each call in its own transaction.
class AppServer
{
public:
    // Checks that the database is reachable and its schema current; throws std::runtime_error.
    explicit AppServer(ServeOptions options);
    ~AppServer();
    AppServer(const AppServer &) = delete;
    AppServer &operator=(const AppServer &) = delete;

    // Binds the listening socket and returns its port; throws std::runtime_error.
    int bind();
    // Serves until stop(); the calls under way finish first.
    void run();
    // Safe from any thread, also before run().
    void stop();
    int port() const;

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

} // namespace erp::server
