#include "seed.h"
#include "brdocs.h"
#include "server/recalc/accounting.h"
#include "server/recalc/postings.h"
#include "server/recalc/recalc.h"
#include "server/util/textutil.h"

#include <cmath>
#include <map>
#include <set>
#include <vector>

namespace erp::server {

namespace {

using accounting::Cents;
using db::Value;

// splitmix64: the same sequence on every machine, which std's distributions do not promise.
class Rng
{
public:
    explicit Rng(std::uint64_t seed) : m_s(seed ^ 0x9E3779B97F4A7C15ull) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % std::uint64_t(n)); }
    bool chance(int percent) { return below(100) < percent; }
    double unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    template <typename T> const T &pick(const std::vector<T> &v) { return v[size_t(below(int(v.size())))]; }

private:
    std::uint64_t m_s;
};

std::string pad(long v, int width)
{
    std::string s = std::to_string(v);
    return s.size() >= size_t(width) ? s : std::string(size_t(width) - s.size(), '0') + s;
}

std::string digits(Rng &r, int n)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += char('0' + r.below(10));
    return s;
}

struct CompanyDef
{
    const char *code, *name, *centre;
};
const CompanyDef kCompanies[] = {{"01", "Comercial Aurora Distribuidora Ltda", "0002"},
                                 {"02", "Indústria Vale Verde S.A.", "0005"},
                                 {"03", "Atacado Serra Azul Ltda", "0002"}};

struct BranchDef
{
    const char *code, *name, *company;
    int weight; // share of the invoices
};
// 0202 and 0302 carry the apportionment faults, so they get fewer invoices.
const BranchDef kBranches[] = {{"0101", "Matriz São Paulo", "01", 12},      {"0102", "Filial Campinas", "01", 8},
                               {"0103", "Filial Santos", "01", 6},          {"0201", "Matriz Belo Horizonte", "02", 10},
                               {"0202", "Filial Contagem", "02", 2},        {"0301", "Matriz Curitiba", "03", 9},
                               {"0302", "Filial Londrina", "03", 2}};

struct ShareDef
{
    const char *branch, *centre;
    const char *percent;
};
const ShareDef kShares[] = {{"0101", "0002", "50"},      {"0101", "0003", "30"},      {"0101", "0004", "20"},
                            {"0102", "0002", "60"},      {"0102", "0003", "40"},      {"0103", "0002", "33.3333"},
                            {"0103", "0003", "33.3333"}, {"0103", "0004", "33.3334"}, {"0201", "0005", "70"},
                            {"0201", "0002", "30"},      {"0202", "0002", "60"},      {"0202", "0003", "30"},
                            {"0301", "0002", "45"},      {"0301", "0003", "35"},      {"0301", "0001", "20"}};
// Fault: 0202 adds up to 90 %; 0302 has no apportionment at all.

struct TypeDef
{
    const char *code, *description;
    int weight;
};
const TypeDef kTypes[] = {{"DUP", "Duplicata mercantil", 35}, {"BOL", "Boleto bancário", 30},
                          {"CRT", "Cartão de crédito", 12},   {"CHQ", "Cheque pré-datado", 8},
                          {"DEP", "Depósito em conta", 6},    {"CONV", "Convênio", 5},
                          {"PROM", "Nota promissória", 4}};

struct AdjTypeDef
{
    const char *code, *description, *direction, *text;
};
const AdjTypeDef kAdjTypes[] = {{"AJ01", "Desconto comercial", "D", "Desc. comercial"},
                                {"AJ02", "Desconto por antecipação", "D", "Desc. antecipação"},
                                {"AJ03", "Juros de mora", "A", "Juros de mora"},
                                {"AJ04", "Multa por atraso", "A", "Multa atraso"},
                                {"AJ05", "Abatimento", "D", "Abatimento"}};

const std::vector<std::string> kFirst{"Ana", "Beatriz", "Bruno", "Carla", "Carlos", "Daniel", "Eduardo", "Fernanda",
                                      "Gabriel", "Helena", "Igor", "Juliana", "João", "Larissa", "Lucas", "Mariana",
                                      "Marcos", "Natália", "Otávio", "Patrícia", "Paulo", "Rafael", "Renata",
                                      "Rodrigo", "Sandra", "Thiago", "Vanessa", "Vinícius", "Camila", "Fábio",
                                      "Luiz", "Aline", "Roberto", "Simone", "Gustavo", "Priscila"};
const std::vector<std::string> kLast{"Silva", "Santos", "Oliveira", "Souza", "Rodrigues", "Ferreira", "Alves",
                                     "Pereira", "Lima", "Gomes", "Costa", "Ribeiro", "Martins", "Carvalho",
                                     "Almeida", "Lopes", "Soares", "Fernandes", "Vieira", "Barbosa", "Rocha", "Dias",
                                     "Nascimento", "Andrade", "Moreira", "Nunes", "Marques", "Machado", "Mendes",
                                     "Freitas", "Cardoso", "Ramos", "Gonçalves", "Santana", "Teixeira", "Araújo",
                                     "Cavalcanti", "Monteiro", "Moura", "Pinto"};
const std::vector<std::string> kTrade{"Comercial", "Distribuidora", "Supermercado", "Mercearia", "Padaria",
                                      "Farmácia", "Auto Peças", "Materiais de Construção", "Papelaria",
                                      "Transportadora", "Indústria", "Confecções", "Calçados", "Móveis", "Eletro",
                                      "Agropecuária", "Restaurante", "Hotel", "Construtora", "Laticínios"};
const std::vector<std::string> kPlace{"Central", "Nordeste", "Paulista", "Mineira", "do Vale", "Bandeirantes",
                                      "Horizonte", "Primavera", "São Jorge", "Santa Luzia", "Boa Vista", "Ipiranga",
                                      "Atlântico", "Cerrado", "Pantanal", "Planalto", "Aurora", "Estrela",
                                      "Progresso", "União"};
const std::vector<std::string> kSuffix{"Ltda", "S.A.", "EIRELI", "ME", "Ltda EPP"};

void exec(db::Connection &c, const std::string &sql, std::initializer_list<Value> params)
{
    db::Statement &st = c.prepare(sql);
    st.bindAll(params);
    st.exec();
}

// Companies, branches, the chart of accounts and the accounting rules (faults included),
// cost centres, types, parameters and salesmen.
void insertReference(db::Connection &c, Rng &r, QDate today, int salesmen)
{
    for (const CompanyDef &co : kCompanies)
        exec(c, "INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA, CDCENTCUST, NRCNPJEMPR) VALUES (?, ?, ?, ?)",
             {co.code, co.name, co.centre, brdocs::completeCnpj(digits(r, 8) + "0001")});
    for (const BranchDef &b : kBranches) {
        exec(c, "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, NRCNPJFILI) VALUES (?, ?, ?, ?)",
             {b.code, b.name, b.company, brdocs::completeCnpj(digits(r, 8) + "00" + std::string(b.code + 2))});
        exec(c, "INSERT INTO PARAMFILIAL (CDFILIAL, NRTAMNUMNFUT) VALUES (?, 7)", {b.code});
        const bool controlsSalesmen = std::string(b.code).ends_with("01");
        exec(c, "INSERT INTO PAREXPEDICAO (CDFILIAL, IDCTRLVENEXP) VALUES (?, ?)",
             {b.code, controlsSalesmen ? "S" : "N"});
    }
    exec(c, "INSERT INTO GERALREC (CDGERALREC, QTDIAANTLANR, QTDIAAPOLANR) VALUES ('1', 30, 30)", {});

    const char *centres[][2] = {{"0001", "Administrativo"}, {"0002", "Comercial"}, {"0003", "Logística"},
                                {"0004", "Financeiro"},     {"0005", "Produção"}};
    for (const auto &cc : centres)
        exec(c, "INSERT INTO CENTROCUSTO (CDCENTCUST, NMCENTCUST) VALUES (?, ?)", {cc[0], cc[1]});
    for (const ShareDef &s : kShares)
        exec(c, "INSERT INTO RATEIOFILIAL (CDFILIAL, CDCENTCUST, PCRATEIO) VALUES (?, ?, ?)",
             {s.branch, s.centre, s.percent});

    const char *histories[][2] = {{"H001", "Venda a prazo {DOC} - {CLIENTE}"},
                                  {"H002", "Desconto concedido {DOC} - {AJUSTE}"},
                                  {"H003", "Acréscimo recebido {DOC} - {AJUSTE}"},
                                  {"H004", "Venda em cartão {DOC} - {CLIENTE} venc. {VENC}"}};
    for (const auto &h : histories)
        exec(c, "INSERT INTO HISTPADRAO (CDHISTPADR, DSHISTPADR) VALUES (?, ?)", {h[0], h[1]});

    for (const TypeDef &t : kTypes)
        exec(c, "INSERT INTO TIPOCTRECEBER (CDTPCTRECEB, DSTPCTRECEB) VALUES (?, ?)", {t.code, t.description});
    for (const AdjTypeDef &t : kAdjTypes)
        exec(c, "INSERT INTO TIPOAJRECEBER (CDAJUCTREC, DSAJUCTREC, IDAJUCTREC) VALUES (?, ?, ?)",
             {t.code, t.description, t.direction});

    const char *chart[][4] = {{"1", "", "ATIVO", "N"},
                              {"1.1.2.01", "", "Clientes", "N"},
                              {"1.1.2.01.0001", "1201", "Duplicatas a receber", "S"},
                              {"1.1.2.01.0002", "1202", "Cartões a receber", "S"},
                              {"1.1.2.01.0003", "1203", "Cheques a receber", "S"},
                              {"1.1.2.01.0004", "1204", "Convênios a receber", "S"},
                              {"3", "", "RESULTADO", "N"},
                              {"3.1.1.01.0001", "3101", "Receita de vendas de mercadorias", "S"},
                              {"3.1.1.01.0002", "3102", "Receita de serviços", "S"},
                              {"3.2.1.01.0001", "3201", "Juros e multas recebidos", "S"},
                              {"3.3.1.01.0001", "3301", "Descontos concedidos", "S"}};
    for (const CompanyDef &co : kCompanies) {
        for (const auto &a : chart)
            exec(c,
                 "INSERT INTO PLANOCONTA (CDEMPRESA, CDCONTCTBL, CDCONTREDU, NMCONTCTBL, IDCONTANALI) "
                 "VALUES (?, ?, ?, ?, ?)",
                 {co.code, a[0], *a[1] ? Value(a[1]) : db::null(), a[2], a[3]});
        const std::string company = co.code;
        for (const TypeDef &t : kTypes) {
            const std::string type = t.code;
            std::string debit = "1.1.2.01.0001", credit = "3.1.1.01.0001", history = "H001";
            if (type == "CRT") {
                debit = "1.1.2.01.0002";
                history = "H004";
            } else if (type == "CHQ") {
                debit = "1.1.2.01.0003";
            } else if (type == "CONV") {
                debit = "1.1.2.01.0004";
                credit = "3.1.1.01.0002";
            }
            // Deliberate faults, one per company and kind.
            if (company == "02" && type == "CONV")
                continue; // no rule
            if (company == "01" && type == "PROM")
                debit = "1.1.2.01"; // synthetic account
            if (company == "02" && type == "DEP")
                credit = "3.1.1.01.0009"; // not in the chart
            if (company == "03" && type == "DEP")
                history = "H099"; // no such history
            exec(c,
                 "INSERT INTO REGCTBTPREC (CDEMPRESA, CDTPCTRECEB, CDCONTDEB, CDCONTCRED, CDHISTPADR) "
                 "VALUES (?, ?, ?, ?, ?)",
                 {company, type, debit, credit, history});
        }
        for (const AdjTypeDef &t : kAdjTypes) {
            if (company == "03" && std::string(t.code) == "AJ04")
                continue; // no rule
            const bool discount = std::string(t.direction) == "D";
            exec(c,
                 "INSERT INTO REGCTBAJREC (CDEMPRESA, CDAJUCTREC, CDCONTDEB, CDCONTCRED, CDHISTPADR) "
                 "VALUES (?, ?, ?, ?, ?)",
                 {company, t.code, discount ? "3.3.1.01.0001" : "1.1.2.01.0001",
                  discount ? "1.1.2.01.0001" : "3.2.1.01.0001", discount ? "H002" : "H003"});
        }
    }
    // Company 03 has closed its books up to the end of the fifth month before today.
    const QDate closedTo = QDate(today.year(), today.month(), 1).addMonths(-4).addDays(-1);
    exec(c, "INSERT INTO PERIODOCTB (CDEMPRESA, DTINIPERCTB, DTFIMPERCTB, IDPERFECH) VALUES ('03', ?, ?, 'S')",
         {std::string("2000-01-01"), isoDate(closedTo)});
    exec(c, "INSERT INTO PERIODOCTB (CDEMPRESA, DTINIPERCTB, DTFIMPERCTB, IDPERFECH) VALUES ('03', ?, ?, 'N')",
         {isoDate(closedTo.addDays(1)), std::string("2099-12-31")});

    for (int i = 1; i <= salesmen; ++i)
        exec(c, "INSERT INTO VENDEDOR (CDVENDEDOR, NMFANVEN) VALUES (?, ?)",
             {"V" + pad(i, 3), r.pick(kFirst) + " " + r.pick(kLast)});
}

struct Customer
{
    std::string name;
};

std::vector<Customer> insertCustomers(db::Connection &c, Rng &r, long count)
{
    std::vector<Customer> out;
    out.reserve(size_t(count));
    auto bulk = c.bulk("CLIENTE", {"CDCLIENTE", "NMRAZSOCCLIE", "NMFANTCLIE", "IDTPIJURCLIE", "NRINSJURCLIE"});
    for (long i = 1; i <= count; ++i) {
        std::string name, trade, kind, doc;
        if (r.chance(35)) {
            const std::string first = r.pick(kFirst), last = r.pick(kLast);
            name = first + " " + r.pick(kLast) + " " + last;
            trade = first + " " + last;
            kind = "F";
            doc = brdocs::completeCpf(digits(r, 9));
        } else {
            const std::string base = r.pick(kTrade) + " " + (r.chance(50) ? r.pick(kLast) : r.pick(kPlace));
            name = base + " " + r.pick(kSuffix);
            trade = base;
            kind = "J";
            doc = brdocs::completeCnpj(digits(r, 8) + "0001");
        }
        bulk->row({pad(i, 6), name, trade, kind, doc});
        out.push_back({name});
    }
    bulk->finish();
    return out;
}

struct SeedAdjustment
{
    std::string date, classification;
    bool cashFlow = false;
};

struct SeedAccount
{
    accounting::Account acc;
    std::string company, customer, originalDue, status, description, extension, split;
    Cents original = 0, net = 0;
    bool candidate = false;
    std::vector<SeedAdjustment> extra;
};

struct SeedInvoice
{
    std::string branch, entry, company, emitBranch, number, series, issue, exit, customer, salesman, status;
    Cents total = 0;
};

class Generator
{
public:
    Generator(db::Connection &c, const SeedOptions &o, Rng &r, const std::vector<Customer> &customers, int salesmen)
        : m_c(c), m_o(o), m_r(r), m_customers(customers), m_salesmen(salesmen)
    {
        for (const CompanyDef &co : kCompanies)
            m_configs[co.code] = loadAccountingConfig(c, co.code);
        for (const BranchDef &b : kBranches)
            m_branchWeight += b.weight;
        for (const TypeDef &t : kTypes)
            m_typeWeight += t.weight;
    }

    void run(SeedSummary &sum)
    {
        constexpr long kBatchInvoices = 2000;
        while (sum.accounts < m_o.accounts) {
            std::vector<SeedInvoice> invoices;
            std::vector<SeedAccount> accounts;
            for (long i = 0; i < kBatchInvoices && sum.accounts + long(accounts.size()) < m_o.accounts; ++i)
                invoice(invoices, accounts, m_o.accounts - sum.accounts - long(accounts.size()));
            account(accounts);
            write(invoices, accounts, sum);
            if (m_o.progress)
                m_o.progress("  " + std::to_string(sum.accounts) + " de " + std::to_string(m_o.accounts) + " contas");
        }
        exec(m_c, "UPDATE NUMERADOR SET NRULTIMO = ? WHERE CDNUMERADOR = 'LANCCTB'", {m_nextPosting - 1});
    }

private:
    const BranchDef &branch()
    {
        int w = m_r.below(m_branchWeight);
        for (const BranchDef &b : kBranches)
            if ((w -= b.weight) < 0)
                return b;
        return kBranches[0];
    }

    const TypeDef &type()
    {
        int w = m_r.below(m_typeWeight);
        for (const TypeDef &t : kTypes)
            if ((w -= t.weight) < 0)
                return t;
        return kTypes[0];
    }

    void invoice(std::vector<SeedInvoice> &invoices, std::vector<SeedAccount> &accounts, long remaining)
    {
        const BranchDef &b = branch();
        SeedInvoice inv;
        inv.branch = b.code;
        inv.company = b.company;
        inv.entry = pad(++m_entrySeq[inv.branch], 10);
        inv.emitBranch = inv.branch;
        if (m_r.chance(10)) { // issued by another branch of the company
            for (const BranchDef &o : kBranches)
                if (std::string(o.company) == inv.company && inv.branch != o.code && m_r.chance(60))
                    inv.emitBranch = o.code;
        }
        inv.number = pad(++m_docSeq[inv.emitBranch], 7);
        inv.series = m_r.chance(80) ? "1" : m_r.chance(50) ? "2" : "";
        const QDate issue = m_o.today.addDays(-m_r.below(270));
        inv.issue = isoDate(issue);
        inv.exit = m_r.chance(97) ? isoDate(issue.addDays(m_r.below(3))) : std::string();
        const long customer = m_r.below(int(m_customers.size()));
        inv.customer = pad(customer + 1, 6);
        inv.salesman = "V" + pad(m_r.below(m_salesmen) + 1, 3);
        inv.status = m_r.chance(95) ? "R" : "P";
        inv.total = Cents(std::llround(std::exp(std::log(15000.0) + m_r.unit() * std::log(5000000.0 / 15000.0))));
        const TypeDef &t = type();
        static const int counts[] = {1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 4, 4, 6};
        const long n = std::min<long>(counts[m_r.below(20)], remaining);
        const Cents each = inv.total / n;
        for (long k = 1; k <= n; ++k) {
            SeedAccount a;
            a.company = inv.company;
            a.customer = inv.customer;
            accounting::Account &acc = a.acc;
            acc.branch = inv.branch;
            acc.entry = inv.entry;
            acc.dueSeq = "01";
            acc.instalment = pad(k, 2);
            acc.type = t.code;
            acc.customerName = m_customers[size_t(customer)].name;
            acc.documentNumber = inv.number;
            acc.series = inv.series;
            acc.postingDate = inv.exit.empty() ? inv.issue : inv.exit;
            const QDate due = issue.addDays(30 * k + m_r.below(5));
            a.originalDue = isoDate(due);
            QDate current = due;
            if (m_r.chance(6)) {
                current = due.addDays(5 + m_r.below(26));
                a.extension = pad(1 + m_r.below(3), 2);
            }
            acc.dueDate = isoDate(current);
            if (m_r.chance(3))
                a.split = "01";
            a.original = k == n ? inv.total - each * (n - 1) : each;
            acc.value = a.original;
            const bool past = current < m_o.today.addDays(-10);
            const int s = m_r.below(100);
            a.status = past ? (s < 70 ? "B" : s < 90 ? "A" : "D") : (s < 75 ? "A" : s < 90 ? "P" : s < 95 ? "D" : "I");
            if (m_r.chance(20))
                a.description = "Ref. pedido " + pad(10000 + m_r.below(90000), 5);
            adjustments(a, current);
            a.candidate = m_r.chance(current < m_o.today.addDays(-30) ? 80 : 30);
            accounts.push_back(std::move(a));
        }
        invoices.push_back(std::move(inv));
    }

    void adjustments(SeedAccount &a, QDate due)
    {
        a.net = a.original;
        if (!m_r.chance(15))
            return;
        const int n = m_r.chance(20) ? 2 : 1;
        for (int j = 1; j <= n; ++j) {
            const AdjTypeDef &t = kAdjTypes[m_r.below(int(std::size(kAdjTypes)))];
            const Cents value = std::max<Cents>(1, a.original * (1 + m_r.below(10)) / 100);
            const bool discount = std::string(t.direction) == "D";
            a.net += discount ? -value : value;
            a.acc.adjustments.push_back({pad(j, 3), t.code, t.direction, t.text, value, {}, {}});
            a.extra.push_back({isoDate(due.addDays(discount ? -m_r.below(10) : m_r.below(20))),
                               discount ? "2.01" : "1.03", m_r.chance(70)});
        }
    }

    // Accounts the demo shows as already accounted get their postings from the same rules.
    void account(std::vector<SeedAccount> &accounts)
    {
        std::map<std::string, std::vector<size_t>> byCompany;
        for (size_t i = 0; i < accounts.size(); ++i)
            if (accounts[i].candidate)
                byCompany[accounts[i].company].push_back(i);
        for (const auto &[company, indexes] : byCompany) {
            std::vector<accounting::Account> list;
            list.reserve(indexes.size());
            for (size_t i : indexes)
                list.push_back(accounts[i].acc);
            accounting::Result r = accounting::build(m_configs[company], list);
            std::set<int> failed;
            for (const accounting::Error &e : r.errors)
                failed.insert(r.postings[size_t(r.entries[size_t(e.entrySeq - 1)].posting)].account);
            std::vector<int> which;
            for (size_t p = 0; p < r.postings.size(); ++p) {
                accounting::Posting &post = r.postings[p];
                if (failed.count(post.account))
                    continue;
                post.number = std::to_string(m_nextPosting++);
                which.push_back(int(p));
                accounting::Account &acc = accounts[indexes[size_t(post.account)]].acc;
                if (post.adjustment < 0) {
                    acc.currentPosting = post.number;
                    acc.accounted = true;
                } else {
                    acc.adjustments[size_t(post.adjustment)].currentPosting = post.number;
                }
            }
            insertPostings(m_c, m_configs[company], list, r, which, "demo", isoDate(m_o.today) + " 08:00:00");
            m_postings += long(which.size());
        }
    }

    void write(const std::vector<SeedInvoice> &invoices, const std::vector<SeedAccount> &accounts, SeedSummary &sum)
    {
        auto nf = m_c.bulk("NOTAFISCAL", {"CDFILIAL", "NRLANCTONF", "CDEMPRESA", "CDFILIEMIT", "NRNOTAFISC", "CDSERIE",
                                          "DTEMISSAO", "DTENTRSAID", "VRNOTAFISC", "IDSTATUS", "CDCLIENTE",
                                          "CDVENDEDOR"});
        const auto opt = [](const std::string &s) { return s.empty() ? db::null() : Value(s); };
        for (const SeedInvoice &i : invoices)
            nf->row({i.branch, i.entry, i.company, i.emitBranch, i.number, opt(i.series), i.issue, opt(i.exit),
                     db::centsText(i.total), i.status, i.customer, i.salesman});
        nf->finish();

        auto cr = m_c.bulk("CONTRECEBER", {"CDFILIAL", "NRLANCTONF", "NRSEQVENREC", "NRPARCELAREC", "CDEMPRESA",
                                           "CDCLIENTE", "CDTPCTRECEB", "DTVENCORIG", "DTATUAVENREC", "VRORIGREC",
                                           "VRATUAREC", "VRLIQREC", "IDSTATREC", "DSCONTAREC", "CDMOTIPROR",
                                           "CDMOTIPARC", "NRLANCTBDOC", "IDCTBLCTREC"});
        long adjustments = 0;
        for (const SeedAccount &a : accounts) {
            const accounting::Account &acc = a.acc;
            cr->row({acc.branch, acc.entry, acc.dueSeq, acc.instalment, a.company, a.customer, acc.type,
                     a.originalDue, acc.dueDate, db::centsText(a.original), db::centsText(acc.value),
                     db::centsText(a.net), a.status, opt(a.description), opt(a.extension), opt(a.split),
                     opt(acc.currentPosting), acc.accounted ? "S" : "N"});
            adjustments += long(acc.adjustments.size());
        }
        cr->finish();

        auto aj = m_c.bulk("AJCTRECEBER", {"CDFILIAL", "NRLANCTONF", "NRSEQVENREC", "NRPARCELAREC", "NRSEQAJUREC",
                                           "DTAJUSTEREC", "CDAJUCTREC", "DSAJUSTEREC", "VRAJUSTEREC", "CDECTBAJREC",
                                           "NRLCTBAJREC", "CDCLASSFINA", "CDEMMFAJCNTR", "CDFIMFAJCNTR", "DTMOVFLUXO",
                                           "IDMOVFLUXO"});
        for (const SeedAccount &a : accounts) {
            const accounting::Account &acc = a.acc;
            for (size_t j = 0; j < acc.adjustments.size(); ++j) {
                const accounting::Adjustment &adj = acc.adjustments[j];
                const SeedAdjustment &x = a.extra[j];
                aj->row({acc.branch, acc.entry, acc.dueSeq, acc.instalment, adj.seq, x.date, adj.type,
                         adj.description, db::centsText(adj.value), a.company, opt(adj.currentPosting),
                         x.classification, a.company, acc.branch, x.cashFlow ? Value(x.date) : db::null(),
                         x.cashFlow ? "S" : "N"});
            }
        }
        aj->finish();
        sum.invoices += long(invoices.size());
        sum.accounts += long(accounts.size());
        sum.adjustments += adjustments;
        sum.postings = m_postings;
    }

    db::Connection &m_c;
    const SeedOptions &m_o;
    Rng &m_r;
    const std::vector<Customer> &m_customers;
    int m_salesmen;
    std::map<std::string, accounting::Config> m_configs;
    std::map<std::string, long> m_entrySeq, m_docSeq;
    int m_branchWeight = 0, m_typeWeight = 0;
    std::int64_t m_nextPosting = 1;
    long m_postings = 0;
};

} // namespace

SeedSummary seed(db::Connection &c, const SeedOptions &o)
{
    if (db::queryInt(c, "SELECT COUNT(*) FROM EMPRESA"))
        throw std::runtime_error("O banco já tem dados (a tabela EMPRESA não está vazia); "
                                 "os dados de demonstração vão para um banco novo.");
    // One big transaction: a rollback journal is much lighter than a WAL of it all. Another
    // connection to the file keeps it in WAL mode, which only costs disk space.
    bool rollbackJournal = false;
    if (c.kind() == db::Kind::Sqlite) {
        c.execScript("PRAGMA cache_size=-262144");
        try {
            rollbackJournal = db::queryText(c, "PRAGMA journal_mode=DELETE") == "delete";
        } catch (const db::DbError &) {
        }
    }
    SeedSummary sum;
    {
        db::Transaction tx(c, db::TxMode::Write);
        Rng r(o.seed);
        const int salesmen = 12;
        insertReference(c, r, o.today, salesmen);
        const long customers = std::clamp(o.accounts / 15, 40L, 200000L);
        const std::vector<Customer> list = insertCustomers(c, r, customers);
        Generator g(c, o, r, list, salesmen);
        g.run(sum);
        tx.commit();
        sum.companies = long(std::size(kCompanies));
        sum.branches = long(std::size(kBranches));
        sum.customers = customers;
    }
    if (rollbackJournal)
        c.execScript("PRAGMA journal_mode=WAL");
    c.execScript("ANALYZE");
    return sum;
}

} // namespace erp::server
