#pragma once
// The account list's statement (GetContRec): the accounts of a company that match every given
// restriction, ordered by due date, customer name, then account key.
#include "server/db/db.h"

#include <QDate>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace erp::server {

// Arguments already checked; an empty or zero member restricts nothing.
struct AccountFilter
{
    std::string company;
    std::string docFrom, docTo;
    std::optional<QDate> issueFrom, issueTo, exitFrom, exitTo, dueFrom, dueTo;
    std::vector<std::string> originBranches, postingBranches, salesmen, types, customers;
    double docValueFrom = 0, docValueTo = 0, origFrom = 0, origTo = 0, netFrom = 0, netTo = 0;
    bool notDue = false, overdue = false;
    std::string accounted; // "S", "N" or empty for both
    std::string status;    // IDSTATREC, or empty for all
};

struct SqlQuery
{
    std::string sql;
    std::vector<db::Value> params;
};

SqlQuery accountListQuery(const db::Connection &c, const AccountFilter &f, QDate today);
// In the list's read transaction, before its statement runs.
void beginAccountListRead(db::Connection &c);
// The list's fields the statement leaves out, by their place in the list's layout, with the text
// each has in every row (see RowShape).
std::map<int, std::string> accountListFixed(const AccountFilter &f);

} // namespace erp::server
