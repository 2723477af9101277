#pragma once

#include "db.h"

namespace erp::server {

// The role that the shell's reference queries use on PostgreSQL: SELECT only, no operators.
inline constexpr const char *kReadOnlyRole = "erp_leitura";

int latestSchemaVersion();
// 0 for a database without the schema.
int schemaVersion(db::Connection &c);
// Throws std::runtime_error, saying what to do, unless the database is at the current version.
void requireCurrentSchema(db::Connection &c);
// Applies every migration above the database's version, each in its own transaction; safe to
// run from two processes at once. Returns the number applied.
int migrate(db::Connection &c);

} // namespace erp::server
