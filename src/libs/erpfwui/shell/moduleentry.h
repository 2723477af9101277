#pragma once

#include <QVariantList>
#include <QtCore/qglobal.h>

// The contract between the shell and a screen module. A module is a shared library named
// PKG_<screen code> in the shell's modules folder that exports, with C linkage:
//
//   void IniProc();                                   opens its screen (required)
//   void IniProcParams(const QVariantList &params);   opens its screen with the caller's
//                                                     parameters (required only by modules
//                                                     that are opened with parameters)
//   void Initialize();                                after loading, before any entry (optional)
//   void Finalize();                                  when the shell ends (optional)
//   const erp::PackageInfoTable *GetPackageInfoTable(); its units, in order (optional)
//
// Entries run on the user-interface thread and report failures by throwing; the shell's
// default handling shows them.
#define ERP_MODULE_EXPORT extern "C" Q_DECL_EXPORT

namespace erp {

struct PackageInfoTable
{
    int unitCount;
    const char *const *unitNames;
};

using IniProcEntry = void (*)();
using IniProcParamsEntry = void (*)(const QVariantList &params);
using PackageInitEntry = void (*)();
using PackageInfoEntry = const PackageInfoTable *(*)();

inline constexpr const char *kIniProc = "IniProc";
inline constexpr const char *kIniProcParams = "IniProcParams";
inline constexpr const char *kInitialize = "Initialize";
inline constexpr const char *kFinalize = "Finalize";
inline constexpr const char *kGetPackageInfoTable = "GetPackageInfoTable";

} // namespace erp
