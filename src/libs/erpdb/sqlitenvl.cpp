#include "sqlitenvl.h"

#include <sqlite3.h>

namespace erp {

namespace {

void nvl(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

} // namespace

bool registerSqliteNvl(sqlite3 *db)
{
    return sqlite3_create_function_v2(db, "NVL", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &nvl, nullptr,
                                      nullptr, nullptr) == SQLITE_OK;
}

} // namespace erp
