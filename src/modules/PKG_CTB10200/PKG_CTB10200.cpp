#include "PKG_CTB10200.h"

#include "Cli_ctb10200.h"

#include <erpfwui/shell/screencursor.h>

namespace {

const char *const kUnits[] = {"PKG_CTB10200", "Cli_ctb10200"};
const erp::PackageInfoTable kPackageInfo{2, kUnits};

} // namespace

void IniProcParams(const QVariantList &params)
{
    erp::HourglassCursor hourglass; // the default cursor comes back however this ends
    Cli_ctb10200::CriaCTB10200(Cli_ctb10200::Handover::fromParams(params));
}

void IniProc()
{
    IniProcParams({});
}

const erp::PackageInfoTable *GetPackageInfoTable()
{
    return &kPackageInfo;
}
