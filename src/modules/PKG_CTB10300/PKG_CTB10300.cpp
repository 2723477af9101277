#include "PKG_CTB10300.h"

#include "Cli_ctb10300.h"

#include <erpfwui/shell/screencursor.h>

namespace {

const char *const kUnits[] = {"PKG_CTB10300", "Cli_ctb10300"};
const erp::PackageInfoTable kPackageInfo{2, kUnits};

} // namespace

void IniProc()
{
    erp::HourglassCursor hourglass; // the default cursor comes back however this ends
    Cli_ctb10300::CriaCTB10300();
}

const erp::PackageInfoTable *GetPackageInfoTable()
{
    return &kPackageInfo;
}
