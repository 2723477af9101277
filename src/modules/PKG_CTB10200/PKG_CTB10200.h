#pragma once

#include <erpfwui/shell/moduleentry.h>

#include <QVariantList>

// The module's entries. Other screens open CTB10200 through LoadBPL with five parameters:
// company code, posting number, and the data packets of the temporary entries, their
// apportionment and the accounting errors.

// Opens the screen with the parameters, or shows them in the screen already open.
ERP_MODULE_EXPORT void IniProcParams(const QVariantList &params);

// Without parameters there is nothing to show: refused, naming what the screen needs.
ERP_MODULE_EXPORT void IniProc();

ERP_MODULE_EXPORT const erp::PackageInfoTable *GetPackageInfoTable();
