#include "layouts.h"

namespace erp::server::layouts {

using wire::FieldDef;
using wire::FieldType;

namespace {
FieldDef str(const char *name, int size) { return {QString::fromLatin1(name), FieldType::String, size}; }
FieldDef num(const char *name) { return {QString::fromLatin1(name), FieldType::Float, 0}; }
FieldDef dt(const char *name) { return {QString::fromLatin1(name), FieldType::DateTime, 0}; }
FieldDef mark() { return {QStringLiteral("IDMARCADO"), FieldType::FixedString, 1}; }
} // namespace

const QList<FieldDef> &geralRec()
{
    static const QList<FieldDef> f{str("CDGERALREC", 1), num("QTDIAANTLANR"), num("QTDIAAPOLANR")};
    return f;
}

const QList<FieldDef> &paramFilial()
{
    static const QList<FieldDef> f{num("NRTAMNUMNFUT")};
    return f;
}

const QList<FieldDef> &parExp()
{
    static const QList<FieldDef> f{str("IDCTRLVENEXP", 1)};
    return f;
}

const QList<FieldDef> &tipoCtReceber()
{
    static const QList<FieldDef> f{mark(), str("CDTPCTRECEB", 6), str("DSTPCTRECEB", 40)};
    return f;
}

const QList<FieldDef> &contRec()
{
    static const QList<FieldDef> f{
        mark(),                 dt("DTATUAVENREC"),      str("NRPARCELAREC", 2), str("NMRAZSOCCLIE", 50),
        str("IDSTATREC", 1),    num("VRATUAREC"),        str("CDSERIE", 5),      str("NRNOTAFISC", 20),
        str("IDTPIJURCLIE", 1), str("CDFILIAL", 4),      str("NRLANCTONF", 10),  str("NRSEQVENREC", 2),
        str("DSCONTAREC", 100), str("DSTPCTRECEB", 40),  str("CDFILIEMIT", 4),   str("NRINSJURCLIE", 20),
        str("CDMOTIPROR", 2),   str("CDMOTIPARC", 2),    str("CDTPCTRECEB", 6),  str("NRLANCTBDOC", 12),
        str("CDEMPRESA", 2),    str("IDSTATUS", 1),      num("VRNOTAFISC"),      dt("DTENTRSAID"),
        str("CDCLIENTE", 21),   str("NMFANTCLIE", 50),   str("IDCTBLCTREC", 1)};
    return f;
}

const QList<FieldDef> &ajusCont()
{
    static const QList<FieldDef> f{
        str("CDFILIAL", 4),      str("NRLANCTONF", 10),  str("NRSEQVENREC", 2),  str("NRPARCELAREC", 2),
        dt("DTAJUSTEREC"),       str("CDAJUCTREC", 4),   str("IDAJUCTREC", 1),   str("DSAJUCTREC", 40),
        str("DSAJUSTEREC", 20),  num("VRAJUSTEREC"),     str("CDECTBAJREC", 2),  str("NRLCTBAJREC", 12),
        str("CDCLASSFINA", 6),   str("CDEMMFAJCNTR", 2), str("CDFIMFAJCNTR", 4), dt("DTMOVFLUXO"),
        str("IDMOVFLUXO", 1)};
    return f;
}

const QList<FieldDef> &lancContTemp()
{
    static const QList<FieldDef> f{
        str("CDEMPRESA", 2),     str("CDCONTREDU", 20),   str("NMCONTCTBL", 40),  str("NRLANCCTBTEMP", 20),
        str("NRSEQCTBTEMP", 6),  str("CDCONTCTBL", 20),   str("CDHISTPADR", 4),   str("DSHISTCTB", 200),
        dt("DTLANCCTBTEMP"),     num("VRLANCCTBTEMP"),    str("IDLANCCTBCOME", 1), str("CDLANCCTBCOME", 21),
        str("NMEMPRESA", 40),    str("CDDOCUCONT", 40)};
    return f;
}

const QList<FieldDef> &rateio()
{
    static const QList<FieldDef> f{
        str("CDFILIAL", 4),      str("NMFILIAL", 30),      str("CDCENTCUST", 4), str("NMCENTCUST", 40),
        num("VRLANCCUST"),       str("NRSEQCTBTEMP", 6),   str("NRLANCCTBTEMP", 12), dt("DTCOMPCTBTEMP"),
        str("CDEMPRESA", 2),     str("NRSEQRATTEMP", 5)};
    return f;
}

const QList<FieldDef> &errosTemp()
{
    static const QList<FieldDef> f{str("CDERROTEMP", 3), str("NRSEQCTBTEMP", 5)};
    return f;
}

const QList<FieldDef> &diferencas()
{
    static const QList<FieldDef> f{
        str("CDFILIAL", 4),      str("NRLANCTONF", 10),   str("NRSEQVENREC", 2),   str("NRPARCELAREC", 2),
        str("CDLANCCTBCOME", 21), str("NRNOTAFISC", 20),  str("NMRAZSOCCLIE", 50), str("IDSITUACAO", 15),
        str("NRLANCANT", 120),   num("VRDEBANT"),         num("VRCREDANT"),        str("DSCONTASANT", 400),
        str("NRLANCNOVO", 120),  num("VRDEBNOVO"),        num("VRCREDNOVO"),       str("DSCONTASNOVO", 400),
        str("DSDIFERENCA", 1000)};
    return f;
}

const QList<FieldDef> &histRecalc()
{
    static const QList<FieldDef> f{str("NRAUDITORIA", 18), dt("DTOPERACAO"),    str("NMOPERADOR", 30),
                                   str("CDEMPRESA", 2),    str("NMEMPRESA", 40), num("QTCONTAS"),
                                   num("QTLANCALTER"),     num("VRTOTANT"),      num("VRTOTNOVO")};
    return f;
}

const QList<FieldDef> &histRecalcContas()
{
    static const QList<FieldDef> f{
        str("CDFILIAL", 4),      str("NRLANCTONF", 10),   str("NRSEQVENREC", 2), str("NRPARCELAREC", 2),
        str("NRSEQAJUREC", 3),   str("NRNOTAFISC", 20),   str("NMRAZSOCCLIE", 50), str("IDSITUACAO", 15),
        str("NRLANCANT", 12),    num("VRLANCANT"),        str("NRLANCNOVO", 12), num("VRLANCNOVO"),
        num("VRDIFERENCA")};
    return f;
}

} // namespace erp::server::layouts
