#pragma once

#include <erpfwui/shell/moduleentry.h>

#include <QString>

// The module's entries. The shell enters through IniProc; the screens call the creators.

// Opens REC00800, as CriaRecCont.
ERP_MODULE_EXPORT void IniProc();

// Creates the recalculation screen once and shows it in front, restored when minimised.
ERP_MODULE_EXPORT void CriaRecCont();

// Creates the filter dialog once (REC00800 must be open), then by mode, compared exactly:
// "BOTAO_FILTRO" shows it modally; "ESCONDE_FILTRO" runs the stored filter without showing
// it; any other mode only creates it.
ERP_MODULE_EXPORT void CriaFiltroRecalLancContReceber(const QString &mode);

ERP_MODULE_EXPORT void Initialize();
ERP_MODULE_EXPORT void Finalize();
ERP_MODULE_EXPORT const erp::PackageInfoTable *GetPackageInfoTable();
