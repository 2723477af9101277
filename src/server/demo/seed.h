#pragma once

#include "server/db/db.h"

#include <QDate>

#include <cstdint>
#include <functional>
#include <string>

namespace erp::server {

struct SeedOptions
{
    long accounts = 3000;
    std::uint64_t seed = 1;
    // Dates spread around it, so that the screens' default filter finds accounts.
    QDate today = QDate::currentDate();
    std::function<void(const std::string &)> progress;
};

struct SeedSummary
{
    long companies = 0, branches = 0, customers = 0, invoices = 0, accounts = 0, adjustments = 0, postings = 0;
};

// Fills a migrated, empty database with demo data: the same data for the same seed and today.
// Some account types, branches and periods are configured wrongly on purpose, so that the
// recalculation of their accounts reports accounting errors. Throws when data already exists.
SeedSummary seed(db::Connection &c, const SeedOptions &options);

} // namespace erp::server
