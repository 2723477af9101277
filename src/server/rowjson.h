#pragma once

#include "db.h"

#include <erpwire/packet.h>

#include <QByteArray>

#include <string>
#include <vector>

namespace erp::server {

// Appends the current row of st as a packet row of the layout: column i of the statement is
// field i. Strings longer than their field are cut to it, so the packet always loads.
void appendRowJson(QByteArray &out, const db::Statement &st, const QList<wire::FieldDef> &layout);

// ["a","b",...]: a list bound as one parameter (see Connection::jsonTextList).
std::string jsonStringArray(const std::vector<std::string> &values);

// A whole packet from every row of st.
void appendPacketJson(QByteArray &out, db::Statement &st, const QList<wire::FieldDef> &layout);

} // namespace erp::server
