#pragma once

#include "db.h"

namespace erp::server::db {

std::unique_ptr<Connection> connectSqlite(const std::string &path, std::chrono::milliseconds timeout);
std::unique_ptr<Connection> connectPostgres(const std::string &conninfo, const std::string &displayUrl,
                                            std::chrono::milliseconds timeout);

} // namespace erp::server::db
