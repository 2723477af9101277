#pragma once

#include "db.h"

namespace erp::server::db {

std::unique_ptr<Connection> connectSqlite(const std::string &path);
std::unique_ptr<Connection> connectPostgres(const std::string &conninfo, const std::string &displayUrl);

} // namespace erp::server::db
