// A module opened only with parameters, for the loader's tests: it reports what the shell did
// to it through properties of the application object.
#include <erpfwui/shell/moduleentry.h>

#include <QCoreApplication>
#include <QVariant>

namespace {
void bump(const char *name)
{
    qApp->setProperty(name, qApp->property(name).toInt() + 1);
}
const char *const kUnits[] = {"PKG_TSTPARAM", "Uni_tstparam"};
const erp::PackageInfoTable kInfo{2, kUnits};
} // namespace

ERP_MODULE_EXPORT void Initialize()
{
    bump("tst.initialize");
}

ERP_MODULE_EXPORT void Finalize()
{
    bump("tst.finalize");
}

ERP_MODULE_EXPORT const erp::PackageInfoTable *GetPackageInfoTable()
{
    return &kInfo;
}

ERP_MODULE_EXPORT void IniProcParams(const QVariantList &params)
{
    qApp->setProperty("tst.params", params);
}
