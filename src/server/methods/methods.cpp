#include "accountlist.h"
#include "server/recalc/recalc.h"
#include "server/rpc/layouts.h"
#include "server/rpc/rowjson.h"
#include "server/rpc/rpc.h"
#include "server/util/textutil.h"

#include <erpwire/json.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace erp::server {

namespace {

using db::Value;

void requireCompany(db::Connection &c, const Params &p, int i, const std::string &company)
{
    if (company.empty())
        p.fail(i, "empresa", QStringLiteral("deve ser informada."));
    if (!db::queryInt(c, "SELECT COUNT(*) FROM EMPRESA WHERE CDEMPRESA = ?", {company}))
        p.fail(i, "empresa", QStringLiteral("não cadastrada: \"%1\".").arg(QString::fromStdString(company)));
}

// One statement, answered as one packet. A single statement reads one snapshot by itself: a
// transaction around it would only add a BEGIN and a COMMIT (two round trips on PostgreSQL) to
// calls made once per row moved to.
MethodResult packetOf(CallContext &ctx, const std::string &sql, const std::vector<Value> &params,
                      const QList<wire::FieldDef> &layout)
{
    db::Statement &st = ctx.db->prepare(sql);
    // a read left open would hold its snapshot on the pooled connection
    struct Done
    {
        db::Statement &st;
        ~Done() { st.reset(); }
    } done{st};
    for (size_t i = 0; i < params.size(); ++i)
        st.bind(int(i) + 1, params[i]);
    MethodResult r;
    appendPacketJson(r.json, st, layout);
    return r;
}

MethodResult getGeralRec(CallContext &ctx, const Params &p)
{
    p.expectCount(0);
    return packetOf(ctx, "SELECT CDGERALREC, QTDIAANTLANR, QTDIAAPOLANR FROM GERALREC ORDER BY CDGERALREC LIMIT 1", {},
                    layouts::geralRec());
}

MethodResult getParamFilial(CallContext &ctx, const Params &p)
{
    p.expectCount(1);
    const std::string branch = p.string(0, "filial", 4);
    return packetOf(ctx, "SELECT NRTAMNUMNFUT FROM PARAMFILIAL WHERE CDFILIAL = ?", {branch}, layouts::paramFilial());
}

MethodResult getParExp(CallContext &ctx, const Params &p)
{
    p.expectCount(1);
    const std::string branch = p.string(0, "filial", 4);
    return packetOf(ctx, "SELECT IDCTRLVENEXP FROM PAREXPEDICAO WHERE CDFILIAL = ?", {branch}, layouts::parExp());
}

MethodResult getTipoCtReceber(CallContext &ctx, const Params &p)
{
    p.expectCount(0);
    return packetOf(ctx, "SELECT 'N', CDTPCTRECEB, DSTPCTRECEB FROM TIPOCTRECEBER ORDER BY CDTPCTRECEB", {},
                    layouts::tipoCtReceber());
}

MethodResult getAjusCont(CallContext &ctx, const Params &p)
{
    p.expectCount(4);
    const std::string branch = p.string(0, "filial", 4);
    const std::string entry = p.string(1, "lançamento da nota", 10);
    const std::string dueSeq = p.string(2, "sequência do vencimento", 2);
    const std::string instalment = p.string(3, "parcela", 2);
    return packetOf(ctx,
                    "SELECT A.CDFILIAL, A.NRLANCTONF, A.NRSEQVENREC, A.NRPARCELAREC, A.DTAJUSTEREC, A.CDAJUCTREC, "
                    "T.IDAJUCTREC, T.DSAJUCTREC, A.DSAJUSTEREC, A.VRAJUSTEREC, A.CDECTBAJREC, A.NRLCTBAJREC, "
                    "A.CDCLASSFINA, A.CDEMMFAJCNTR, A.CDFIMFAJCNTR, A.DTMOVFLUXO, A.IDMOVFLUXO "
                    "FROM AJCTRECEBER A JOIN TIPOAJRECEBER T ON T.CDAJUCTREC = A.CDAJUCTREC "
                    "WHERE A.CDFILIAL = ? AND A.NRLANCTONF = ? AND A.NRSEQVENREC = ? AND A.NRPARCELAREC = ? "
                    "ORDER BY A.DTAJUSTEREC, A.NRSEQAJUREC",
                    {branch, entry, dueSeq, instalment}, layouts::ajusCont());
}

// The account list, written row by row as the database gives it. The first piece is written
// straight from the statement; after it, a reader thread steps the statement and copies rows in
// batches while the worker writes the JSON of the batch before: the two halves of a long list's
// work run side by side, and a short list never starts the thread.
class AccountStream final : public ResultStream
{
public:
    AccountStream(Lease db, const SqlQuery &q, const std::map<int, std::string> &fixed)
        : m_shape(layouts::contRec(), fixed), m_db(std::move(db)), m_tx(*m_db, db::TxMode::Read),
          m_st(m_db->prepare(q.sql))
    {
        beginAccountListRead(*m_db);
        for (size_t i = 0; i < q.params.size(); ++i)
            m_st.bind(int(i) + 1, q.params[i]);
        m_pending = m_st.next(); // a failing query fails the call before anything is sent
    }
    ~AccountStream() override
    {
        stopReader();
        m_st.reset();
    }

    bool produce(QByteArray &out) override
    {
        if (!m_headerDone) {
            out.append("{\"fields\":");
            wire::appendFieldsJson(out, layouts::contRec());
            out.append(",\"rows\":[");
            m_headerDone = true;
            while (m_pending && out.size() < kChunk) {
                separate(out);
                appendRowJson(out, m_st, m_shape);
                m_pending = m_st.next();
            }
            if (m_pending) {
                m_reader = std::thread([this] { read(); });
                return true;
            }
        }
        if (m_reader.joinable()) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return !m_full.empty() || m_readerDone; });
            if (!m_full.empty()) {
                RowBatch batch = std::move(m_full.front());
                m_full.pop_front();
                m_changed.notify_all();
                lock.unlock();
                for (size_t r = 0; r < batch.rows(); ++r) {
                    separate(out);
                    batch.appendRowJson(out, r);
                }
                batch.clear();
                lock.lock();
                m_free.push_back(std::move(batch));
                return true;
            }
            lock.unlock();
            m_reader.join();
            if (m_readerError)
                std::rethrow_exception(m_readerError);
        }
        out.append("]}");
        m_st.reset();
        m_tx.commit();
        return false;
    }
    long rows() const override { return m_rows; }

private:
    static constexpr qsizetype kChunk = 64 * 1024;
    static constexpr size_t kBatchRows = 128, kBatchesAhead = 2;

    // The comma before every row but the first, and the row counted.
    void separate(QByteArray &out)
    {
        if (m_rows++)
            out.append(',');
    }

    // On the reader thread, the only one to touch the statement until it is joined.
    void read()
    {
        try {
            while (m_pending) {
                RowBatch batch(m_shape);
                {
                    std::unique_lock lock(m_mutex);
                    m_changed.wait(lock, [&] { return m_stop || m_full.size() < kBatchesAhead; });
                    if (m_stop)
                        break;
                    if (!m_free.empty()) {
                        batch = std::move(m_free.back());
                        m_free.pop_back();
                    }
                }
                for (size_t n = 0; n < kBatchRows && m_pending; ++n) {
                    batch.copyRow(m_st);
                    m_pending = m_st.next();
                }
                std::lock_guard lock(m_mutex);
                m_full.push_back(std::move(batch));
                m_changed.notify_all();
            }
        } catch (...) {
            std::lock_guard lock(m_mutex);
            m_readerError = std::current_exception();
        }
        std::lock_guard lock(m_mutex);
        m_readerDone = true;
        m_changed.notify_all();
    }

    void stopReader()
    {
        if (!m_reader.joinable())
            return;
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
            m_changed.notify_all();
        }
        m_reader.join();
    }

    const RowShape m_shape;
    Lease m_db;
    db::Transaction m_tx;
    db::Statement &m_st;
    bool m_pending = false;
    bool m_headerDone = false;
    long m_rows = 0;

    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<RowBatch> m_full;
    std::vector<RowBatch> m_free;
    bool m_stop = false;
    bool m_readerDone = false;
    std::exception_ptr m_readerError;
};

void checkOrder(const Params &p, int i, const char *what, const std::optional<QDate> &from,
                const std::optional<QDate> &to)
{
    if (from && to && *from > *to)
        p.fail(i, what, QStringLiteral("tem a data inicial posterior à final."));
}

void checkOrder(const Params &p, int i, const char *what, double from, double to)
{
    if (to != 0 && from > to)
        p.fail(i, what, QStringLiteral("tem o valor inicial maior que o final."));
}

MethodResult getContRec(CallContext &ctx, const Params &p)
{
    p.expectCount(24);
    AccountFilter f;
    f.company = p.string(0, "empresa", 2);
    f.docFrom = p.string(1, "número inicial do documento", 20);
    f.docTo = p.string(2, "número final do documento", 20);
    f.issueFrom = p.date(3, "emissão inicial");
    f.issueTo = p.date(4, "emissão final");
    f.exitFrom = p.date(5, "saída inicial");
    f.exitTo = p.date(6, "saída final");
    f.originBranches = p.list(7, "filiais de origem", 4);
    f.postingBranches = p.list(8, "filiais de lançamento", 4);
    f.docValueFrom = p.number(9, "valor inicial do documento");
    f.docValueTo = p.number(10, "valor final do documento");
    f.salesmen = p.list(11, "vendedores", 4);
    f.dueFrom = p.date(12, "vencimento inicial");
    f.dueTo = p.date(13, "vencimento final");
    f.types = p.list(14, "tipos de conta", 6);
    f.origFrom = p.number(15, "valor original inicial");
    f.origTo = p.number(16, "valor original final");
    f.netFrom = p.number(17, "valor líquido inicial");
    f.netTo = p.number(18, "valor líquido final");
    f.notDue = p.boolean(19, "a vencer");
    f.overdue = p.boolean(20, "vencidas");
    f.customers = p.list(21, "clientes", 21);
    const std::string ctbl = p.string(22, "contabilização", 1);
    const std::string status = p.string(23, "status", 1);

    checkOrder(p, 4, "emissão final", f.issueFrom, f.issueTo);
    checkOrder(p, 6, "saída final", f.exitFrom, f.exitTo);
    checkOrder(p, 13, "vencimento final", f.dueFrom, f.dueTo);
    checkOrder(p, 10, "valor final do documento", f.docValueFrom, f.docValueTo);
    checkOrder(p, 16, "valor original final", f.origFrom, f.origTo);
    checkOrder(p, 18, "valor líquido final", f.netFrom, f.netTo);
    if (!f.docFrom.empty() && !f.docTo.empty() && f.docFrom > f.docTo)
        p.fail(2, "número final do documento", QStringLiteral("é menor que o número inicial."));
    if (ctbl != "C" && ctbl != "N" && ctbl != "T")
        p.fail(22, "contabilização", QStringLiteral("deve ser \"C\", \"N\" ou \"T\"."));
    static const std::map<std::string, std::string> statusCodes{
        {"0", "B"}, {"1", "D"}, {"2", "A"}, {"3", "P"}, {"4", "I"}, {"5", ""}};
    const auto st = statusCodes.find(status);
    if (st == statusCodes.end())
        p.fail(23, "status", QStringLiteral("deve ser de \"0\" a \"5\"."));
    requireCompany(*ctx.db, p, 0, f.company);
    if (ctbl != "T")
        f.accounted.assign(1, ctbl == "C" ? 'S' : 'N');
    f.status = st->second;

    const SqlQuery q = accountListQuery(*ctx.db, f, ctx.today);
    MethodResult r;
    r.stream = std::make_unique<AccountStream>(std::move(ctx.db), q, accountListFixed(f));
    return r;
}

// The recalculations, newest first; each argument given restricts them: company, first and
// last day, operator.
MethodResult getHistRecalc(CallContext &ctx, const Params &p)
{
    p.expectCount(4);
    const std::string company = p.string(0, "empresa", 2);
    const std::optional<QDate> from = p.date(1, "data inicial");
    const std::optional<QDate> to = p.date(2, "data final");
    const std::string operatorName = p.string(3, "operador", 30);
    checkOrder(p, 2, "data final", from, to);
    if (!company.empty())
        requireCompany(*ctx.db, p, 0, company);
    std::string sql = "SELECT A.NRAUDITORIA, A.DTOPERACAO, A.NMOPERADOR, A.CDEMPRESA, E.NMEMPRESA, A.QTCONTAS, "
                      "A.QTLANCALTER, A.VRTOTANT, A.VRTOTNOVO FROM AUDITORIA A "
                      "LEFT JOIN EMPRESA E ON E.CDEMPRESA = A.CDEMPRESA WHERE A.NMOPERACAO = 'SetConfirmar'";
    std::vector<Value> params;
    if (from) {
        sql += " AND A.DTOPERACAO >= ?";
        params.emplace_back(isoDate(*from));
    }
    if (to) {
        sql += " AND A.DTOPERACAO < ?";
        params.emplace_back(isoDate(to->addDays(1)));
    }
    if (!company.empty()) {
        sql += " AND A.CDEMPRESA = ?";
        params.emplace_back(company);
    }
    if (!operatorName.empty()) {
        sql += " AND A.NMOPERADOR = ?";
        params.emplace_back(operatorName);
    }
    return packetOf(ctx, sql + " ORDER BY A.DTOPERACAO DESC, A.NRAUDITORIA DESC", params, layouts::histRecalc());
}

// Per posting of one recalculation: the one it replaced and the one it wrote.
MethodResult getHistRecalcContas(CallContext &ctx, const Params &p)
{
    p.expectCount(1);
    const std::string number = p.string(0, "recálculo", 18);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        p.fail(0, "recálculo", QStringLiteral("deve ser o número de um recálculo."));
    return packetOf(ctx,
                    "SELECT L.CDFILIAL, L.NRLANCTONF, L.NRSEQVENREC, L.NRPARCELAREC, L.NRSEQAJUREC, N.NRNOTAFISC, "
                    "CL.NMRAZSOCCLIE, CASE WHEN L.NRLANCANT IS NULL THEN 'novo' WHEN L.NRLANCANT = L.NRLANCNOVO "
                    "THEN 'igual' ELSE 'alterado' END, L.NRLANCANT, L.VRLANCANT, L.NRLANCNOVO, L.VRLANCNOVO, "
                    "L.VRLANCNOVO - COALESCE(L.VRLANCANT, 0) FROM AUDITCONTA L "
                    "LEFT JOIN NOTAFISCAL N ON N.CDFILIAL = L.CDFILIAL AND N.NRLANCTONF = L.NRLANCTONF "
                    "LEFT JOIN CLIENTE CL ON CL.CDCLIENTE = N.CDCLIENTE "
                    "WHERE L.NRAUDITORIA = ? ORDER BY L.NRSEQAUDIT",
                    {std::int64_t(std::stoll(number))}, layouts::histRecalcContas());
}

// SetConfirmar, and SimConfirmar, its preview: the same arguments, checks and answers.
MethodResult recalculation(CallContext &ctx, const Params &p, RecalcMode mode)
{
    p.expectCount(3);
    const wire::Packet accounts = p.packet(0, "contas");
    if (accounts.fields() != layouts::contRec())
        p.fail(0, "contas", QStringLiteral("não tem os campos da lista de contas a receber."));
    const std::string operatorName = p.string(1, "operador", 30);
    const std::string company = p.string(2, "empresa", 2);
    if (operatorName != ctx.operatorName)
        throw RpcError(rpc::Refused, QStringLiteral("O operador \"%1\" não é o operador autenticado nesta conexão.")
                                         .arg(QString::fromStdString(operatorName)));
    requireCompany(*ctx.db, p, 2, company);
    MethodResult r;
    r.json = recalculate(*ctx.db, company, operatorName, accounts, p, mode);
    return r;
}

MethodResult setConfirmar(CallContext &ctx, const Params &p) { return recalculation(ctx, p, RecalcMode::Confirm); }
MethodResult simConfirmar(CallContext &ctx, const Params &p) { return recalculation(ctx, p, RecalcMode::Preview); }

} // namespace

const Method *findMethod(const QString &name)
{
    static const std::map<QString, Method> methods{
        {QStringLiteral("GetGeralRec"), getGeralRec},     {QStringLiteral("GetParamFilial"), getParamFilial},
        {QStringLiteral("GetParExp"), getParExp},         {QStringLiteral("GetTipoCtReceber"), getTipoCtReceber},
        {QStringLiteral("GetContRec"), getContRec},       {QStringLiteral("GetAjusCont"), getAjusCont},
        {QStringLiteral("SetConfirmar"), setConfirmar},   {QStringLiteral("SimConfirmar"), simConfirmar},
        {QStringLiteral("GetHistRecalc"), getHistRecalc}, {QStringLiteral("GetHistRecalcContas"), getHistRecalcContas}};
    const auto it = methods.find(name);
    return it == methods.end() ? nullptr : &it->second;
}

} // namespace erp::server
