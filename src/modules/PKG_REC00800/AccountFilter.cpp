#include "AccountFilter.h"

#include <erpfw/core/utils.h>

#include <functional>

using erp::emptyString;

namespace {

std::optional<FilterFault> checkDates(QDate from, QDate to, FilterField fromField, const QString &keyMissingFrom,
                                      const QString &keyOrder, FilterField toField, const QString &keyMissingTo)
{
    if (!from.isValid() && to.isValid())
        return FilterFault{keyMissingFrom, fromField};
    if (from.isValid() && to.isValid() && to < from)
        return FilterFault{keyOrder, fromField};
    if (!to.isValid() && from.isValid())
        return FilterFault{keyMissingTo, toField};
    return std::nullopt;
}

std::optional<FilterFault> checkList(const TSELECAO &selection, FilterField field, const QString &key)
{
    if (!selection.Todos && emptyString(selection.Lista))
        return FilterFault{key, field};
    return std::nullopt;
}

std::optional<FilterFault> checkValues(double from, double to, FilterField field, const QString &key)
{
    if (to < from)
        return FilterFault{key, field};
    return std::nullopt;
}

std::optional<FilterFault> checkNumbers(TDOCUMENTO &document, int numberLength)
{
    QString &from = document.NrDocuIni;
    QString &to = document.NrDocuFin;
    if (emptyString(from) && !emptyString(to))
        return FilterFault{QStringLiteral("NrNotaFiscIni_inf"), FilterField::NrDocuIni};
    if (!emptyString(from)) {
        from = erp::ajusta(from, numberLength);
        if (!emptyString(to)) {
            to = erp::ajusta(to, numberLength);
            // Both have the same length now, so numbers of digits compare by value.
            if (from > to)
                return FilterFault{QStringLiteral("NrNotaFisc_menor"), FilterField::NrDocuIni};
        }
    }
    if (emptyString(to))
        to = from;
    if (!emptyString(to))
        to = erp::ajusta(to, numberLength);
    if (emptyString(to) && !emptyString(from))
        return FilterFault{QStringLiteral("NrNotaFiscFin_inf"), FilterField::NrDocuFin};
    return std::nullopt;
}

} // namespace

std::optional<FilterFault> validateFilter(TFILTRO &f, int numberLength)
{
    using F = FilterField;
    // Each check runs only when those before it passed: the number check changes the filter.
    const std::function<std::optional<FilterFault>()> checks[] = {
        [&] { return checkDates(f.DtVencIni, f.DtVencFin, F::DtVencIni, QStringLiteral("VencIni_inf"),
                                QStringLiteral("VencIni_menor"), F::DtVencFin, QStringLiteral("VencFin_inf")); },
        [&] { return checkList(f.TipoConta, F::TipoConta, QStringLiteral("TipoConta_inf")); },
        [&] { return checkValues(f.VrOriginalIni, f.VrOriginalFin, F::VrOriginalIni, QStringLiteral("VrOrigIni_menor")); },
        [&] { return checkValues(f.VrLiquidoIni, f.VrLiquidoFin, F::VrLiquidoIni, QStringLiteral("VrLiquIni_menor")); },
        [&] { return checkList(f.Cliente, F::Cliente, QStringLiteral("Clie_inf")); },
        [&] { return checkNumbers(f.Documento, numberLength); },
        [&] { return checkDates(f.DtEmissaoIni, f.DtEmissaoFin, F::DtEmissaoIni, QStringLiteral("DtEmissaoIni_inf"),
                                QStringLiteral("DtEmissaoIni_menor"), F::DtEmissaoFin, QStringLiteral("DtEmissaoFin_inf")); },
        [&] { return checkDates(f.DtSaidaIni, f.DtSaidaFin, F::DtSaidaIni, QStringLiteral("DtSaidaIni_inf"),
                                QStringLiteral("DtSaidaIni_menor"), F::DtSaidaFin, QStringLiteral("DtSaidaFin_inf")); },
        [&] { return checkList(f.FiliOrig, F::FiliOrig, QStringLiteral("FiliOrig_inf")); },
        [&] { return checkList(f.FiliLanc, F::FiliLanc, QStringLiteral("FiliLanc_inf")); },
        [&] { return checkValues(f.VrDocuIni, f.VrDocuFin, F::VrDocuIni, QStringLiteral("VrDocuIni_menor")); },
        [&] { return checkList(f.Vendedor, F::Vendedor, QStringLiteral("Vend_inf")); },
    };
    for (const auto &check : checks)
        if (std::optional<FilterFault> fault = check())
            return fault;
    return std::nullopt;
}

QVariantList contRecArguments(const TFILTRO &f, const QString &company, Situation situation)
{
    // A group on "Todos"/"Todas" keeps its list for "Lista", but the query must not narrow by it.
    const auto list = [](const TSELECAO &selection) { return selection.Todos ? QString() : selection.Lista; };
    const QString ctbl = f.Ctbl == 0 ? QStringLiteral("C") : f.Ctbl == 1 ? QStringLiteral("N") : QStringLiteral("T");
    return {company,
            f.Documento.NrDocuIni, f.Documento.NrDocuFin,
            f.DtEmissaoIni, f.DtEmissaoFin, f.DtSaidaIni, f.DtSaidaFin,
            list(f.FiliOrig), list(f.FiliLanc),
            f.VrDocuIni, f.VrDocuFin,
            list(f.Vendedor),
            f.DtVencIni, f.DtVencFin,
            list(f.TipoConta),
            f.VrOriginalIni, f.VrOriginalFin, f.VrLiquidoIni, f.VrLiquidoFin,
            situation.aVencer, situation.vencidas,
            list(f.Cliente),
            ctbl,
            QString::number(f.Status)};
}
