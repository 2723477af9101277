// Stands in for the accounting screen: the shell records what it was opened with.
#include <erpfwui/shell/moduleentry.h>

ERP_MODULE_EXPORT void IniProc() {}

ERP_MODULE_EXPORT void IniProcParams(const QVariantList &) {}
