// How typed text becomes a date or a number in the edits. The first byte picks the road:
// the date edit (mask "99/99/9999;1; " then the pt-BR date), a date-time, the number edit
// (a pt-BR number, shown again in the edit's format) or a number typed key by key.
#include <erpfw/core/editmask.h>
#include <erpfw/core/ptbr.h>
#include <erpfw/core/utils.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fault(const char *what, const QString &a, const QString &b = {})
{
    std::fprintf(stderr, "%s\n  %s\n  %s\n", what, qUtf8Printable(a), qUtf8Printable(b));
    std::abort();
}

// A date read back from its own display is the same date.
void checkDate(const QDate &d, const QString &from)
{
    if (!d.isValid())
        return;
    const QString shown = erp::formatDate(d);
    if (erp::parseDate(shown) != d)
        fault("data não se relê", from, shown);
    const erp::EditMask mask(QStringLiteral("99/99/9999;1; "));
    const QString back = mask.text(mask.layout(shown)).remove(QLatin1Char(' '));
    if (d.year() >= 1000 && d.year() <= 9999 && erp::parseDate(back) != d)
        fault("data exibida no campo não se relê", from, back);
    // What was read holds only the digits typed: no other kind of digit became a zero.
    for (QChar c : from)
        if (c.isDigit() && (c < QLatin1Char('0') || c > QLatin1Char('9')))
            fault("data lida de dígitos que não são 0-9", from, shown);
}

void checkNumber(const QString &text, int decimals)
{
    const auto v = erp::parseNumber(text);
    if (!v)
        return;
    if (!std::isfinite(*v))
        fault("número não finito aceito", text);
    for (QChar c : text)
        if (c.isDigit() && (c < QLatin1Char('0') || c > QLatin1Char('9')))
            fault("número lido de dígitos que não são 0-9", text);
    QString pattern = QStringLiteral("#,##0");
    if (decimals > 0)
        pattern += QLatin1Char('.') + QString(decimals, QLatin1Char('0'));
    const QString shown = erp::formatFloat(pattern, *v);
    const auto again = erp::parseNumber(shown);
    if (!again)
        fault("número exibido não se relê", text, shown);
    if (std::fabs(*v) < 1e12) {
        const double step = std::pow(10.0, -decimals);
        if (std::fabs(*again - *v) > step / 2 + 1e-9 * std::fabs(*v))
            fault("número exibido longe do digitado", text, shown);
        if (erp::formatFloat(pattern, *again) != shown)
            fault("exibir de novo muda o número", shown, erp::formatFloat(pattern, *again));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 400)
        return 0;
    const int road = data[0] % 5;
    const int decimals = data[1] % 11;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    switch (road) {
    case 0: {
        const erp::EditMask mask(QStringLiteral("99/99/9999;1; "));
        const QString typed = mask.text(mask.layout(text)).remove(QLatin1Char(' '));
        if (!mask.isUntouched(mask.layout(text)))
            checkDate(erp::parseDate(typed), typed);
        break;
    }
    case 1:
        checkDate(erp::parseDate(text), text);
        (void)erp::formatDateTime(erp::parseDateTime(text));
        break;
    case 2: checkNumber(text, decimals); break;
    case 3: {
        // Keys as the number edit takes them, each checked against the digits allowed.
        QString shown;
        for (QChar key : text) {
            const int at = int(shown.size());
            if (erp::maxNumber(shown, 13, decimals, key, at, 0) && (key.isDigit() || key == QLatin1Char(',')))
                shown.insert(at, key);
        }
        checkNumber(shown, decimals);
        break;
    }
    case 4: {
        // A display format of a form with a value taken from the text.
        const qsizetype bar = text.indexOf(QLatin1Char('|'));
        const QString format = bar < 0 ? text : text.left(bar);
        const double value = erp::parseNumber(bar < 0 ? QString() : text.mid(bar + 1)).value_or(-1234.565);
        if (format.size() < 80)
            (void)erp::formatFloat(format, value);
        break;
    }
    }
    return 0;
}
