#include "shellcontext.h"

namespace erp {

ShellContext &ShellContext::instance()
{
    static ShellContext context;
    return context;
}

QDate today()
{
    const QDate fixed = ShellContext::instance().todayOverride();
    return fixed.isValid() ? fixed : QDate::currentDate();
}

QString webUrl() { return ShellContext::instance().webUrl(); }
int webPort() { return ShellContext::instance().webPort(); }
QString filiProc() { return ShellContext::instance().filiProc(); }
QString operador() { return ShellContext::instance().operador(); }

} // namespace erp
