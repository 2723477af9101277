#pragma once

#include "db.h"

#include <QDate>

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
    std::size_t maxBodyBytes = 64u << 20;
    // One line per call; stderr when not set.
    std::function<void(const std::string &)> log;
};

// The JSON-RPC server of "REC00800.rdmRecCont" over HTTP/1.1: a pool of worker threads, each
// call in its own database transaction.
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
