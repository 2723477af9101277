#pragma once

#include "accounting.h"
#include "server/db/db.h"

namespace erp::server {

// Inserts the numbered postings r.postings[which...] with their entries and apportionment.
void insertPostings(db::Connection &c, const accounting::Config &cfg, const std::vector<accounting::Account> &accounts,
                    const accounting::Result &r, const std::vector<int> &which, const std::string &operatorName,
                    const std::string &timestamp);

} // namespace erp::server
