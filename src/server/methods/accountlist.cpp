#include "accountlist.h"

#include "server/rpc/rowjson.h"
#include "server/util/textutil.h"

namespace erp::server {

namespace {

class Where
{
public:
    Where(const db::Connection &c, std::vector<db::Value> &params) : m_c(c), m_params(params) {}
    void add(const std::string &condition, db::Value v)
    {
        m_sql += " AND " + condition;
        m_params.push_back(std::move(v));
    }
    void range(const std::string &column, const std::optional<QDate> &from, const std::optional<QDate> &to)
    {
        if (from)
            add(column + " >= ?", isoDate(*from));
        if (to)
            add(column + " <= ?", isoDate(*to));
    }
    // A pair of 0 and 0 means no restriction; an upper bound of 0 leaves the range open above.
    void values(const std::string &column, double from, double to)
    {
        if (from == 0 && to == 0)
            return;
        add(column + " >= ?", from);
        if (to != 0)
            add(column + " <= ?", to);
    }
    void in(const std::string &column, const std::vector<std::string> &codes)
    {
        if (!codes.empty())
            add(column + " IN (SELECT V FROM " + m_c.jsonTextList() + " AS L" + std::to_string(m_lists++) + ")",
                jsonStringArray(codes));
    }
    std::string m_sql;

private:
    const db::Connection &m_c;
    std::vector<db::Value> &m_params;
    int m_lists = 0;
};

// SQLite reads the list in due-date order from IXCONTRECEBER_LISTA and takes each row's invoice
// and customer from IXNOTAFISCAL_LISTA and IXCLIENTE_LISTA: one descent each, no table row
// read, and only the rows of one due date sorted at a time, so memory stays flat. Left to
// itself it takes the customer's primary key and then its table row.
// PostgreSQL hashes the invoices and customers and sorts the list in parallel workers.
std::string accountSelect(db::Kind kind)
{
    return std::string(
               "SELECT 'N', C.DTATUAVENREC, C.NRPARCELAREC, CL.NMRAZSOCCLIE, C.IDSTATREC, C.VRATUAREC, N.CDSERIE, "
               "N.NRNOTAFISC, CL.IDTPIJURCLIE, C.CDFILIAL, C.NRLANCTONF, C.NRSEQVENREC, C.DSCONTAREC, T.DSTPCTRECEB, "
               "N.CDFILIEMIT, CL.NRINSJURCLIE, C.CDMOTIPROR, C.CDMOTIPARC, C.CDTPCTRECEB, C.NRLANCTBDOC, C.CDEMPRESA, "
               "N.IDSTATUS, N.VRNOTAFISC, N.DTENTRSAID, C.CDCLIENTE, CL.NMFANTCLIE, C.IDCTBLCTREC "
               "FROM CONTRECEBER C "
               "JOIN NOTAFISCAL N ON N.CDFILIAL = C.CDFILIAL AND N.NRLANCTONF = C.NRLANCTONF "
               "JOIN CLIENTE CL ")
           + (kind == db::Kind::Sqlite ? "INDEXED BY IXCLIENTE_LISTA " : "")
           + "ON CL.CDCLIENTE = C.CDCLIENTE "
             "LEFT JOIN TIPOCTRECEBER T ON T.CDTPCTRECEB = C.CDTPCTRECEB "
             "WHERE C.CDEMPRESA = ?";
}

} // namespace

SqlQuery accountListQuery(const db::Connection &c, const AccountFilter &f, QDate today)
{
    SqlQuery q;
    q.params.push_back(f.company);
    Where w(c, q.params);
    if (!f.docFrom.empty())
        w.add("N.NRNOTAFISC >= ?", f.docFrom);
    if (!f.docTo.empty())
        w.add("N.NRNOTAFISC <= ?", f.docTo);
    w.range("N.DTEMISSAO", f.issueFrom, f.issueTo);
    w.range("N.DTENTRSAID", f.exitFrom, f.exitTo);
    w.in("N.CDFILIEMIT", f.originBranches);
    w.in("C.CDFILIAL", f.postingBranches);
    w.values("N.VRNOTAFISC", f.docValueFrom, f.docValueTo);
    w.in("N.CDVENDEDOR", f.salesmen);
    w.range("C.DTATUAVENREC", f.dueFrom, f.dueTo);
    w.in("C.CDTPCTRECEB", f.types);
    w.values("C.VRORIGREC", f.origFrom, f.origTo);
    w.values("C.VRLIQREC", f.netFrom, f.netTo);
    if (f.notDue && !f.overdue)
        w.add("C.DTATUAVENREC >= ?", isoDate(today));
    else if (f.overdue && !f.notDue)
        w.add("C.DTATUAVENREC < ?", isoDate(today));
    w.in("C.CDCLIENTE", f.customers);
    if (!f.accounted.empty())
        w.add("C.IDCTBLCTREC = ?", f.accounted);
    if (!f.status.empty())
        w.add("C.IDSTATREC = ?", f.status);
    q.sql = accountSelect(c.kind()) + w.m_sql
            + " ORDER BY C.DTATUAVENREC, CL.NMRAZSOCCLIE, C.CDFILIAL, C.NRPARCELAREC, C.NRLANCTONF, C.NRSEQVENREC";
    return q;
}

} // namespace erp::server
