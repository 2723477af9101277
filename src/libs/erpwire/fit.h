#pragma once

#include "packet.h"

namespace erp::wire {

// The packet laid out as `fields` say: the same fields, names in any letter case, types and
// sizes equal, in that order. A packet already in that order comes back as it is, shared. A
// field missing, extra or of another type or size is a WireError naming it and `owner`, the
// dataset that takes the packet.
ERPWIRE_EXPORT Packet fitPacket(const Packet &packet, const QList<FieldDef> &fields, const QString &owner);

} // namespace erp::wire
