#pragma once

#include <erpfw/erpfw_global.h>

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// Brazilian formats, whatever the machine's locale: "1.234,50", "31/12/2024".
namespace erp {

ERPFW_EXPORT const QLocale &ptBR();

// A numeric display format: sections "positive;negative;zero"; 0 a digit, # an optional
// digit, "." the decimal separator (shown ","), "," thousands grouping (shown "."), text in
// quotes or any other character shown as is. An empty format gives the shortest text.
ERPFW_EXPORT QString formatFloat(const QString &format, double value);
// The shortest text of a number: "1234,5", "0", "-3".
ERPFW_EXPORT QString floatToStr(double value);

ERPFW_EXPORT QString formatDate(QDate date);             // "dd/MM/yyyy"; "" when invalid
ERPFW_EXPORT QString formatDateTime(const QDateTime &dt); // date only at midnight, else "dd/MM/yyyy hh:mm:ss"
// A date-time display format with the letters d m y h n s (e.g. "dd/mm/yyyy hh:nn").
ERPFW_EXPORT QString formatDateTime(const QString &format, const QDateTime &dt);

// "1.234,56", "1234,56", "-7", " 3 "; nullopt when not a number.
ERPFW_EXPORT std::optional<double> parseNumber(const QString &text);
// "31/12/2024", "31/12/24", "1/2/2024"; invalid when not a date.
ERPFW_EXPORT QDate parseDate(const QString &text);
// A date with an optional " hh:mm[:ss]"; invalid when not one.
ERPFW_EXPORT QDateTime parseDateTime(const QString &text);

} // namespace erp
