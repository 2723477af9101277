#pragma once

#include <QDate>
#include <QString>
#include <QVariantList>

#include <optional>

// One selection group of the filter: every code, or only the codes picked into Lista
// (the picker's list text, empty when nothing was picked).
struct TSELECAO
{
    bool Todos = true;
    QString Lista;
    bool operator==(const TSELECAO &) const = default;
};

struct TCLIENTE : TSELECAO {};
struct TFILIORIG : TSELECAO {};
struct TFILILANC : TSELECAO {};
struct TTIPOCONTA : TSELECAO {};
struct TVENDEDOR : TSELECAO {};

struct TDOCUMENTO
{
    QString NrDocuIni;
    QString NrDocuFin;
    bool operator==(const TDOCUMENTO &) const = default;
};

// The filter that last produced REC00800's account list. An invalid date is no date.
struct TFILTRO
{
    TCLIENTE Cliente;
    TDOCUMENTO Documento;
    QDate DtEmissaoIni;
    QDate DtEmissaoFin;
    QDate DtSaidaIni;
    QDate DtSaidaFin;
    TFILIORIG FiliOrig;
    TFILILANC FiliLanc;
    double VrDocuIni = 0;
    double VrDocuFin = 0;
    qint32 Tipo = 0; // "Real"
    QDate DtVencIni;
    QDate DtVencFin;
    TTIPOCONTA TipoConta;
    double VrOriginalIni = 0;
    double VrOriginalFin = 0;
    double VrLiquidoIni = 0;
    double VrLiquidoFin = 0;
    qint32 Status = 5; // "Todas"
    TVENDEDOR Vendedor;
    qint32 Ctbl = 2; // "Ambos"
    bool operator==(const TFILTRO &) const = default;
};

// The fields the rules stop at, in the order they are checked: the receivable page first.
enum class FilterField {
    DtVencIni,
    DtVencFin,
    TipoConta,
    VrOriginalIni,
    VrLiquidoIni,
    Cliente,
    NrDocuIni,
    NrDocuFin,
    DtEmissaoIni,
    DtEmissaoFin,
    DtSaidaIni,
    DtSaidaFin,
    FiliOrig,
    FiliLanc,
    VrDocuIni,
    Vendedor,
};

// The first rule a filter breaks: its message key and the field it is about.
struct FilterFault
{
    QString key;
    FilterField field;
};

// Checks the rules in order and stops at the first one broken. On the way the document numbers
// are fitted to numberLength digits and a lone first number becomes the last one too, as far as
// the checks got.
std::optional<FilterFault> validateFilter(TFILTRO &filter, int numberLength);

// The situation boxes are no part of the stored filter: they go as ticked at the moment.
struct Situation
{
    bool aVencer = false;
    bool vencidas = false;
};

// The 24 arguments of GetContRec for a company's accounts.
QVariantList contRecArguments(const TFILTRO &filter, const QString &company, Situation situation);
