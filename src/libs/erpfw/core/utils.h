#pragma once

#include <erpfw/erpfw_global.h>

#include <QChar>
#include <QString>

namespace erp {

// True for no value, also for an untouched mask or date edit: no letter or digit in the text.
ERPFW_EXPORT bool emptyString(const QString &text);

// The code padded on the left with zeros to length ("1", 2 -> "01"); blanks around it are
// dropped; the empty text stays empty; a longer code is left as it is.
ERPFW_EXPORT QString ajusta(const QString &text, int length);

// Whether the key may go into a number edit holding text, typed at selStart over a selection
// of selLength characters, without giving more than intDigits integer or decDigits decimal
// digits. ',' (or '.') typed is the decimal separator; '.' in the text groups thousands.
// Control keys and the null key are accepted.
ERPFW_EXPORT bool maxNumber(const QString &text, int intDigits, int decDigits, QChar key,
                            int selStart, int selLength);
ERPFW_EXPORT bool maxNumber(const QString &text, int intDigits, int decDigits, const QString &key,
                            int selStart, int selLength);

// The display mask of a registration number: "F" a person (CPF), "J" a company (CNPJ),
// anything else no mask.
ERPFW_EXPORT QString pictPess(const QString &personType);

// The value laid out by the mask with its literals (blank characters where the value runs
// out); an empty mask gives the value as it is.
ERPFW_EXPORT QString formatMaskText(const QString &mask, const QString &value);

} // namespace erp
