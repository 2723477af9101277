#pragma once

#include "accounting.h"
#include "db.h"
#include "rpc.h"

#include <erpwire/packet.h>

namespace erp::server {

// The recalculation of the marked accounts of the packet, as SetConfirmar answers it: the JSON
// array of status, entries, apportionment and errors. Writes only when there is no error, all
// in one transaction.
QByteArray recalculate(db::Connection &c, const std::string &company, const std::string &operatorName,
                       const wire::Packet &accounts, const Params &params);

// The company's accounting configuration as the recalculation uses it.
accounting::Config loadAccountingConfig(db::Connection &c, const std::string &company);

} // namespace erp::server
