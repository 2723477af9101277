#pragma once

struct sqlite3;

namespace erp {

// NVL(a, b): a unless it is NULL, then b. The screens' reference queries use it on every
// database, so each SQLite connection that runs them registers it.
bool registerSqliteNvl(sqlite3 *db);

} // namespace erp
