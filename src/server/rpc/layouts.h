#pragma once

#include <erpwire/packet.h>

// The field layouts of the packets the screens load: names, types and sizes in the datasets'
// order. The client datasets refuse a packet that differs, so these are the contract.
namespace erp::server::layouts {

const QList<wire::FieldDef> &geralRec();
const QList<wire::FieldDef> &paramFilial();
const QList<wire::FieldDef> &parExp();
const QList<wire::FieldDef> &tipoCtReceber();
const QList<wire::FieldDef> &contRec();
const QList<wire::FieldDef> &ajusCont();
const QList<wire::FieldDef> &lancContTemp();
const QList<wire::FieldDef> &rateio();
const QList<wire::FieldDef> &errosTemp();
// SimConfirmar's fifth packet: per marked account, its postings now and after the recalculation.
const QList<wire::FieldDef> &diferencas();
// The history: recalculations, and the postings one of them replaced and wrote.
const QList<wire::FieldDef> &histRecalc();
const QList<wire::FieldDef> &histRecalcContas();

} // namespace erp::server::layouts
