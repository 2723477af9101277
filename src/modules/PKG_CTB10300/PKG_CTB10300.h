#pragma once

#include <erpfwui/shell/moduleentry.h>

// The module's entries: the shell's menu "Contabilidade" opens CTB10300 without parameters.

// Opens the screen, or brings the open one forward.
ERP_MODULE_EXPORT void IniProc();

ERP_MODULE_EXPORT const erp::PackageInfoTable *GetPackageInfoTable();
