#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QJsonObject>
#include <QString>

namespace erp {

class Form;

// Reads form files (docs/forms.md): builds a form's components through the component
// registry, sets their Qt properties, and binds each event to the form's method of that name.
// A fault of the file, a handler the class lacks and a marked handler the file never binds
// are erp::Errors naming the file and the component.
class ERPFWUI_EXPORT FormLoader
{
public:
    // ":/forms/<class name>.json", the class name without its namespace.
    static QString defaultPath(const QMetaObject *meta);
    // The file with its base forms folded in: the base's components first, then the
    // derived ones, which add components or override the base's of the same name.
    static QJsonObject resolve(const QString &path);
    static void load(Form *form, const QString &path);
};

} // namespace erp
