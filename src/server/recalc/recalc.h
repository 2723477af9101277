#pragma once

#include "accounting.h"
#include "server/db/db.h"
#include "server/rpc/rpc.h"

#include <erpwire/packet.h>

namespace erp::server {

// Confirm writes when there is no error, all in one transaction; Preview takes the same locks,
// checks and rules, writes nothing and answers a fifth packet, the differences per account.
enum class RecalcMode { Confirm, Preview };

// The recalculation of the marked accounts of the packet, as SetConfirmar answers it: the JSON
// array of status, entries, apportionment and errors (and the differences for a preview).
QByteArray recalculate(db::Connection &c, const std::string &company, const std::string &operatorName,
                       const wire::Packet &accounts, const Params &params, RecalcMode mode = RecalcMode::Confirm);

// The company's accounting configuration as the recalculation uses it.
accounting::Config loadAccountingConfig(db::Connection &c, const std::string &company);

} // namespace erp::server
