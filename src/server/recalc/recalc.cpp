#include "recalc.h"
#include "postings.h"
#include "server/rpc/layouts.h"
#include "server/rpc/rowjson.h"
#include "server/util/textutil.h"

#include <erpwire/json.h>

#include <QDateTime>

#include <algorithm>
#include <future>
#include <map>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <set>

namespace erp::server {

namespace {

using accounting::Cents;
using db::Value;

// REC00800's message table: the status texts of a refused recalculation.
const char *kDeleted = "Documento foi excluído por outro usuário.";
const char *kSplit = "Conta foi parcelada por outro usuário.";
const char *kTypeChanged = "Tipo do documento foi alterado por outro usuário.";
const char *kValueChanged = "Valor da conta foi alterado por outro usuário.";
const char *kExtended = "Conta foi prorrogada por outro usuário.";
const char *kLocked = "Operação bloqueada. Documento em alteração por outro usuário.";

// NRSEQCTBTEMP of the error packet has 5 characters.
constexpr size_t kMaxEntries = 99999;

struct Marked
{
    std::string branch, entry, dueSeq, instalment;
    Cents value = 0;
    std::string due;
    std::string type;
    std::string split;
    std::string key() const { return branch + '|' + entry + '|' + dueSeq + '|' + instalment; }
};

std::string str(const db::Statement &st, int col) { return st.isNull(col) ? std::string() : st.string(col); }

std::vector<Marked> markedRows(const wire::Packet &p, const std::string &company, const Params &params)
{
    const int mark = p.indexOf(u"IDMARCADO"), branch = p.indexOf(u"CDFILIAL"), entry = p.indexOf(u"NRLANCTONF"),
              dueSeq = p.indexOf(u"NRSEQVENREC"), instalment = p.indexOf(u"NRPARCELAREC"),
              value = p.indexOf(u"VRATUAREC"), due = p.indexOf(u"DTATUAVENREC"), type = p.indexOf(u"CDTPCTRECEB"),
              split = p.indexOf(u"CDMOTIPARC"), comp = p.indexOf(u"CDEMPRESA");
    std::vector<Marked> out;
    std::unordered_set<std::string> seen;
    for (int r = 0; r < p.rowCount(); ++r) {
        if (p.utf8(r, mark) != "S")
            continue;
        Marked m{p.utf8(r, branch).toStdString(), p.utf8(r, entry).toStdString(),
                 p.utf8(r, dueSeq).toStdString(), p.utf8(r, instalment).toStdString(),
                 accounting::toCents(p.number(r, value)),
                 p.isNull(r, due) ? std::string() : isoDate(p.date(r, due)),
                 p.utf8(r, type).toStdString(), p.utf8(r, split).toStdString()};
        if (m.branch.empty() || m.entry.empty() || m.dueSeq.empty() || m.instalment.empty())
            params.fail(0, "contas", QStringLiteral("tem na linha %1 uma conta marcada sem chave completa.").arg(r + 1));
        if (p.utf8(r, comp).toStdString() != company)
            params.fail(0, "contas", QStringLiteral("tem na linha %1 uma conta de outra empresa.").arg(r + 1));
        if (seen.insert(m.key()).second)
            out.push_back(std::move(m));
    }
    return out;
}

// Positions of the rows in key order: lookups and updates in the order of the tables' keys
// visit each page once, where the list's own order jumps all over them.
template<typename Row>
std::vector<size_t> keyOrder(const std::vector<Row> &rows)
{
    std::vector<size_t> order(rows.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    const auto key = [&](size_t i) {
        const Row &r = rows[i];
        return std::tie(r.branch, r.entry, r.dueSeq, r.instalment);
    };
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(a) < key(b); });
    return order;
}

std::string keysJson(const std::vector<Marked> &marked)
{
    QByteArray out("[");
    const std::vector<size_t> order = keyOrder(marked);
    for (size_t i = 0; i < order.size(); ++i) {
        const Marked &m = marked[order[i]];
        out.append(i ? ",[" : "[");
        int n = 0;
        for (const std::string *s : {&m.branch, &m.entry, &m.dueSeq, &m.instalment}) {
            if (n++)
                out.append(',');
            wire::appendJsonUtf8String(out, s->data(), qsizetype(s->size()));
        }
        out.append(']');
    }
    out.append(']');
    return out.toStdString();
}

struct Current
{
    std::string company;
    std::string type;
    Cents value = 0;
    std::string due;
    std::string split;
    accounting::Account account;
};

std::string keyJoin(const db::Statement &st)
{
    return str(st, 0) + '|' + str(st, 1) + '|' + str(st, 2) + '|' + str(st, 3);
}

std::unordered_map<std::string, Current> loadCurrent(db::Connection &c, const std::string &keys, size_t count)
{
    // The keys as the table K, taken out of the JSON once: SQLite would otherwise extract them
    // again at every use in the joins (PostgreSQL inlines the query as before).
    const std::string with = std::string("WITH K AS ") + (c.kind() == db::Kind::Sqlite ? "MATERIALIZED " : "") +
                             c.jsonRows(4) + " ";
    const std::string from = " FROM K ";
    std::unordered_map<std::string, Current> out;
    out.reserve(count);
    db::Statement &st = c.prepare(
        with + "SELECT K.K0, K.K1, K.K2, K.K3, C.CDEMPRESA, C.CDTPCTRECEB, C.VRATUAREC, C.DTATUAVENREC, C.CDMOTIPARC, "
        "C.IDCTBLCTREC, C.NRLANCTBDOC, L.CDASSINATURA, N.NRNOTAFISC, N.CDSERIE, "
        "COALESCE(N.DTENTRSAID, N.DTEMISSAO), CL.NMRAZSOCCLIE, L.VRTOTLANC" +
        from +
        "JOIN CONTRECEBER C ON C.CDFILIAL = K.K0 AND C.NRLANCTONF = K.K1 AND C.NRSEQVENREC = K.K2 "
        "AND C.NRPARCELAREC = K.K3 "
        "JOIN NOTAFISCAL N ON N.CDFILIAL = C.CDFILIAL AND N.NRLANCTONF = C.NRLANCTONF "
        "JOIN CLIENTE CL ON CL.CDCLIENTE = C.CDCLIENTE "
        "LEFT JOIN LANCCTB L ON L.NRLANCCTB = C.NRLANCTBDOC");
    st.bind(1, keys);
    while (st.next()) {
        Current cur;
        cur.company = str(st, 4);
        cur.type = str(st, 5);
        cur.value = accounting::toCents(st.real(6));
        cur.due = str(st, 7).substr(0, 10);
        cur.split = str(st, 8);
        accounting::Account &a = cur.account;
        a.branch = str(st, 0);
        a.entry = str(st, 1);
        a.dueSeq = str(st, 2);
        a.instalment = str(st, 3);
        a.type = cur.type;
        a.value = cur.value;
        a.dueDate = cur.due;
        a.accounted = str(st, 9) == "S";
        a.currentPosting = str(st, 10);
        a.currentSignature = str(st, 11);
        a.documentNumber = str(st, 12);
        a.series = str(st, 13);
        a.postingDate = str(st, 14).substr(0, 10);
        a.customerName = str(st, 15);
        if (!st.isNull(16))
            a.currentTotal = accounting::toCents(st.real(16));
        out.emplace(keyJoin(st), std::move(cur));
    }
    st.reset();

    db::Statement &adj = c.prepare(
        with + "SELECT A.CDFILIAL, A.NRLANCTONF, A.NRSEQVENREC, A.NRPARCELAREC, A.NRSEQAJUREC, A.CDAJUCTREC, T.IDAJUCTREC, "
        "A.DSAJUSTEREC, A.VRAJUSTEREC, A.NRLCTBAJREC, L.CDASSINATURA, L.VRTOTLANC" +
        from +
        "JOIN AJCTRECEBER A ON A.CDFILIAL = K.K0 AND A.NRLANCTONF = K.K1 AND A.NRSEQVENREC = K.K2 "
        "AND A.NRPARCELAREC = K.K3 "
        "JOIN TIPOAJRECEBER T ON T.CDAJUCTREC = A.CDAJUCTREC "
        "LEFT JOIN LANCCTB L ON L.NRLANCCTB = A.NRLCTBAJREC");
    adj.bind(1, keys);
    while (adj.next()) {
        const auto it = out.find(keyJoin(adj));
        if (it == out.end())
            continue;
        it->second.account.adjustments.push_back(
            {str(adj, 4), str(adj, 5), str(adj, 6), str(adj, 7), accounting::toCents(adj.real(8)), str(adj, 9),
             str(adj, 10), adj.isNull(11) ? std::nullopt : std::optional(accounting::toCents(adj.real(11)))});
    }
    adj.reset();
    // Sorted here rather than by the query, which would sort every adjustment of the batch at once.
    for (auto &[key, cur] : out) {
        std::vector<accounting::Adjustment> &list = cur.account.adjustments;
        if (list.size() > 1)
            std::sort(list.begin(), list.end(), [](const accounting::Adjustment &a, const accounting::Adjustment &b) {
                return a.seq < b.seq;
            });
    }
    return out;
}

// The marked accounts' rows locked for this transaction; false when another holds any of them.
// Row locks rather than a lock per account in the database's lock table, which a recalculation
// of many thousands of accounts would overflow.
bool lockAccounts(db::Connection &c, const std::string &keys)
{
    const std::string clause = c.lockRowsNoWait("C");
    if (clause.empty())
        return true;
    db::Statement &st = c.prepare("SELECT 1 FROM " + c.jsonRows(4) +
                                  " AS K JOIN CONTRECEBER C ON C.CDFILIAL = K.K0 AND C.NRLANCTONF = K.K1 "
                                  "AND C.NRSEQVENREC = K.K2 AND C.NRPARCELAREC = K.K3" + clause);
    st.bind(1, keys);
    try {
        st.exec();
    } catch (const db::DbError &e) {
        if (e.lockConflict())
            return false;
        throw;
    }
    return true;
}

// The first difference between the list the client holds and the database, as the status text.
const char *staleText(const Marked &m, const Current *cur, const std::string &company)
{
    if (!cur || cur->company != company)
        return kDeleted;
    if (cur->split != m.split)
        return kSplit;
    if (cur->type != m.type)
        return kTypeChanged;
    if (cur->value != m.value)
        return kValueChanged;
    if (cur->due != m.due)
        return kExtended;
    return nullptr;
}

// The entries of stored postings by number: what the marked accounts have now.
struct StoredEntry
{
    std::string ledger;
    char side = 'D';
    Cents value = 0;
};
using StoredPostings = std::unordered_map<std::string, std::vector<StoredEntry>>;

StoredPostings loadStored(db::Connection &c, const std::vector<std::string> &numbers)
{
    StoredPostings out;
    if (numbers.empty())
        return out;
    out.reserve(numbers.size());
    db::Statement &st = c.prepare("SELECT NRLANCCTB, CDCONTCTBL, IDDEBCRED, VRLANCCTB FROM ITLANCCTB WHERE NRLANCCTB IN "
                                  "(SELECT V FROM " + c.jsonTextList() + " AS L)");
    st.bind(1, jsonStringArray(numbers));
    while (st.next())
        out[str(st, 0)].push_back({str(st, 1), str(st, 2) == "C" ? 'C' : 'D', accounting::toCents(st.real(3))});
    st.reset();
    return out;
}

// What a preview sets the new postings against.
struct Before
{
    StoredPostings stored;  // the entries of the accounts' current postings
    std::vector<char> kept; // per new posting: its content is that of the stored one
};

const char *kSame = "igual";
const char *kChanged = "alterado";
const char *kNew = "novo";
const char *kNone = "sem lançamento";

// Per account: its current postings and the new ones, and the amounts by ledger account and
// side that change. An account whose entries have errors gets nothing written.
void writeDifferences(QByteArray &out, const std::vector<accounting::Account> *accounts, const accounting::Result *r,
                      const Before *before)
{
    PacketWriter w(out, layouts::diferencas());
    if (r) {
        std::vector<std::vector<int>> postingsOf(accounts->size());
        for (size_t i = 0; i < r->postings.size(); ++i)
            postingsOf[size_t(r->postings[i].account)].push_back(int(i));
        std::vector<char> faulty(accounts->size(), 0);
        for (const accounting::Error &e : r->errors)
            if (e.entrySeq > 0 && size_t(e.entrySeq) <= r->entries.size())
                faulty[size_t(r->postings[size_t(r->entries[size_t(e.entrySeq - 1)].posting)].account)] = 1;

        using Amounts = std::map<std::pair<std::string, char>, Cents>;
        const auto ledgers = [](const Amounts &amounts) {
            std::string text;
            std::string last;
            for (const auto &[key, value] : amounts) {
                if (key.first == last)
                    continue;
                text += (text.empty() ? "" : ", ") + key.first;
                last = key.first;
            }
            return text;
        };
        const auto side = [](const Amounts &amounts, char s) {
            Cents total = 0;
            for (const auto &[key, value] : amounts)
                if (key.second == s)
                    total += value;
            return total;
        };
        for (size_t i = 0; i < accounts->size(); ++i) {
            const accounting::Account &a = (*accounts)[i];
            Amounts was, will;
            std::string oldNumbers, newNumbers;
            const auto addOld = [&](const std::string &number) {
                if (number.empty())
                    return;
                oldNumbers += (oldNumbers.empty() ? "" : " ") + number;
                if (const auto it = before->stored.find(number); it != before->stored.end())
                    for (const StoredEntry &e : it->second)
                        was[{e.ledger, e.side}] += e.value;
            };
            addOld(a.currentPosting);
            size_t oldCount = a.currentPosting.empty() ? 0 : 1;
            for (const accounting::Adjustment &adj : a.adjustments) {
                addOld(adj.currentPosting);
                oldCount += adj.currentPosting.empty() ? 0 : 1;
            }
            const bool none = faulty[i] || postingsOf[i].empty();
            bool same = !none && postingsOf[i].size() == oldCount;
            if (!none) {
                for (int k : postingsOf[i]) {
                    const accounting::Posting &p = r->postings[size_t(k)];
                    newNumbers += (newNumbers.empty() ? "" : " ") + p.number;
                    same = same && before->kept[size_t(k)];
                    for (int e = 0; e < p.entryCount; ++e) {
                        const accounting::Entry &entry = r->entries[size_t(p.firstEntry + e)];
                        will[{entry.ledger, entry.side}] += entry.value;
                    }
                }
            }
            std::string changes;
            if (!none && !same) {
                Amounts both = was;
                for (const auto &[key, value] : will)
                    both.emplace(key, 0);
                for (const auto &[key, ignored] : both) {
                    const auto w0 = was.find(key), w1 = will.find(key);
                    const Cents from = w0 == was.end() ? 0 : w0->second, to = w1 == will.end() ? 0 : w1->second;
                    if (from == to)
                        continue;
                    changes += (changes.empty() ? "" : "; ") + key.first + ' ' + key.second + ' ' + centsPtBr(from) +
                               " → " + centsPtBr(to);
                }
            }
            const char *status = none ? kNone : oldCount == 0 ? kNew : same ? kSame : kChanged;
            w.string(a.branch);
            w.string(a.entry);
            w.string(a.dueSeq);
            w.string(a.instalment);
            w.string(a.commercialKey());
            w.string(a.documentNumber);
            w.string(a.customerName);
            w.string(status);
            w.string(oldNumbers);
            w.cents(side(was, 'D'));
            w.cents(side(was, 'C'));
            w.string(ledgers(was));
            w.string(newNumbers);
            w.cents(side(will, 'D'));
            w.cents(side(will, 'C'));
            w.string(ledgers(will));
            w.string(changes);
        }
    }
    w.finish();
}

// The answer: status, then the entries, apportionment and errors packets; a preview's also
// the differences.
QByteArray answer(RecalcMode mode, const char *status, const accounting::Config *cfg = nullptr,
                  const std::vector<accounting::Account> *accounts = nullptr, const accounting::Result *r = nullptr,
                  const Before *before = nullptr)
{
    QByteArray out;
    // About the size of a row of each packet: grows the buffer once instead of copying it as it doubles.
    if (r)
        out.reserve(qsizetype(r->entries.size() * 240 + r->shares.size() * 120 +
                              (before ? accounts->size() * 320 : 0) + 4096));
    out.append('[');
    wire::appendJsonString(out, QString::fromUtf8(status));
    out.append(',');
    PacketWriter entries(out, layouts::lancContTemp());
    if (r) {
        std::vector<std::string> commercialKeys;
        commercialKeys.reserve(accounts->size());
        for (const accounting::Account &a : *accounts)
            commercialKeys.push_back(a.commercialKey());
        for (const accounting::Entry &e : r->entries) {
            const accounting::Posting &p = r->postings[size_t(e.posting)];
            const auto ledger = cfg->chart.find(e.ledger);
            entries.string(cfg->company);
            if (ledger != cfg->chart.end()) {
                entries.string(ledger->second.reduced);
                entries.string(ledger->second.name);
            } else {
                entries.null();
                entries.null();
            }
            entries.string(p.number);
            entries.string(std::to_string(e.seq));
            entries.string(e.ledger);
            entries.string(e.history);
            entries.string(e.historyText);
            entries.date(p.date);
            entries.cents(e.value);
            entries.string(std::string_view(&e.side, 1));
            entries.string(commercialKeys[size_t(p.account)]);
            entries.string(cfg->companyName);
            entries.string(p.document);
        }
    }
    entries.finish();
    out.append(',');
    PacketWriter shares(out, layouts::rateio());
    if (r) {
        const auto name = [](const std::map<std::string, std::string> &m, const std::string &k) {
            const auto it = m.find(k);
            return it == m.end() ? std::string_view() : std::string_view(it->second);
        };
        for (const accounting::ShareLine &sh : r->shares) {
            const accounting::Posting &p = r->postings[size_t(r->entries[size_t(sh.entrySeq - 1)].posting)];
            shares.string(sh.branch);
            shares.string(name(cfg->branchNames, sh.branch));
            shares.string(sh.costCentre);
            shares.string(name(cfg->costCentreNames, sh.costCentre));
            shares.cents(sh.value);
            shares.string(std::to_string(sh.entrySeq));
            shares.string(p.number);
            shares.date(p.date);
            shares.string(cfg->company);
            shares.string(std::to_string(sh.seq));
        }
    }
    shares.finish();
    out.append(',');
    PacketWriter errors(out, layouts::errosTemp());
    if (r) {
        for (const accounting::Error &e : r->errors) {
            errors.string(e.code);
            errors.string(std::to_string(e.entrySeq));
        }
    }
    errors.finish();
    if (mode == RecalcMode::Preview) {
        out.append(',');
        writeDifferences(out, accounts, before ? r : nullptr, before);
    }
    out.append(']');
    return out;
}

// The postings whose content changes: they get new numbers, in their order.
std::vector<int> freshPostings(const accounting::Result &r)
{
    std::vector<int> fresh;
    for (size_t i = 0; i < r.postings.size(); ++i)
        if (!r.postings[i].unchanged())
            fresh.push_back(int(i));
    return fresh;
}

void numberPostings(accounting::Result &r, const std::vector<int> &fresh, std::int64_t first)
{
    for (int i : fresh)
        r.postings[size_t(i)].number = std::to_string(first++);
}

std::int64_t takeNumbers(db::Connection &c, const char *counter, std::int64_t n)
{
    db::Statement &up = c.prepare("UPDATE NUMERADOR SET NRULTIMO = NRULTIMO + ? WHERE CDNUMERADOR = ?");
    up.bindAll({n, std::string(counter)});
    up.exec();
    return db::queryInt(c, "SELECT NRULTIMO FROM NUMERADOR WHERE CDNUMERADOR = ?", {std::string(counter)}) - n + 1;
}

void deletePostings(db::Connection &c, const std::vector<std::string> &numbers)
{
    if (numbers.empty())
        return;
    const std::string in = " WHERE NRLANCCTB IN (SELECT V FROM " + c.jsonTextList() + " AS L)";
    for (const char *table : {"RATLANCCTB", "ITLANCCTB", "LANCCTB"}) {
        db::Statement &del = c.prepare(std::string("DELETE FROM ") + table + in);
        del.bind(1, jsonStringArray(numbers));
        del.exec();
    }
}

// Stores the new state: postings replaced, accounts and adjustments pointing at them, audit.
// fresh: the postings freshPostings gave, already numbered.
void write(db::Connection &c, const accounting::Config &cfg, const std::vector<accounting::Account> &accounts,
           const accounting::Result &r, const std::vector<int> &fresh, const std::string &operatorName)
{
    const std::string now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();

    std::vector<std::string> old;
    for (int i : fresh) {
        const accounting::Posting &p = r.postings[size_t(i)];
        const accounting::Account &a = accounts[size_t(p.account)];
        const std::string &cur = p.adjustment < 0 ? a.currentPosting : a.adjustments[size_t(p.adjustment)].currentPosting;
        if (!cur.empty())
            old.push_back(cur);
    }
    // An adjustment that no longer posts anything (value 0) loses its old posting.
    std::set<std::pair<int, int>> posted;
    for (const accounting::Posting &p : r.postings)
        posted.insert({p.account, p.adjustment});
    for (size_t i = 0; i < accounts.size(); ++i)
        for (size_t j = 0; j < accounts[i].adjustments.size(); ++j)
            if (!posted.count({int(i), int(j)}) && !accounts[i].adjustments[j].currentPosting.empty())
                old.push_back(accounts[i].adjustments[j].currentPosting);
    deletePostings(c, old);

    if (!fresh.empty())
        insertPostings(c, cfg, accounts, r, fresh, operatorName, now);

    // Each account and adjustment now points at its posting (or at none).
    QByteArray accRows("["), adjRows("[");
    std::vector<std::string> accountNumber(accounts.size());
    std::map<std::pair<int, int>, std::string> adjustmentNumber;
    for (const accounting::Posting &p : r.postings) {
        if (p.adjustment < 0)
            accountNumber[size_t(p.account)] = p.number;
        else
            adjustmentNumber[{p.account, p.adjustment}] = p.number;
    }
    const auto appendKey = [](QByteArray &out, const accounting::Account &a) {
        for (const std::string *s : {&a.branch, &a.entry, &a.dueSeq, &a.instalment}) {
            wire::appendJsonUtf8String(out, s->data(), qsizetype(s->size()));
            out.append(',');
        }
    };
    for (const size_t i : keyOrder(accounts)) {
        const accounting::Account &a = accounts[i];
        accRows.append(accRows.size() > 1 ? ",[" : "[");
        appendKey(accRows, a);
        wire::appendJsonUtf8String(accRows, accountNumber[i].data(), qsizetype(accountNumber[i].size()));
        accRows.append(']');
        for (size_t j = 0; j < a.adjustments.size(); ++j) {
            adjRows.append(adjRows.size() > 1 ? ",[" : "[");
            appendKey(adjRows, a);
            wire::appendJsonUtf8String(adjRows, a.adjustments[j].seq.data(), qsizetype(a.adjustments[j].seq.size()));
            adjRows.append(',');
            const auto n = adjustmentNumber.find({int(i), int(j)});
            if (n == adjustmentNumber.end())
                adjRows.append("null");
            else
                wire::appendJsonUtf8String(adjRows, n->second.data(), qsizetype(n->second.size()));
            adjRows.append(']');
        }
    }
    accRows.append(']');
    adjRows.append(']');
    db::Statement &upAcc = c.prepare("UPDATE CONTRECEBER SET NRLANCTBDOC = K.K4, IDCTBLCTREC = 'S' FROM " +
                                     c.jsonRows(5) +
                                     " AS K WHERE CONTRECEBER.CDFILIAL = K.K0 AND CONTRECEBER.NRLANCTONF = K.K1 "
                                     "AND CONTRECEBER.NRSEQVENREC = K.K2 AND CONTRECEBER.NRPARCELAREC = K.K3");
    upAcc.bind(1, accRows.toStdString());
    upAcc.exec();
    if (adjRows.size() > 2) {
        db::Statement &upAdj = c.prepare(
            "UPDATE AJCTRECEBER SET NRLCTBAJREC = K.K5 FROM " + c.jsonRows(6) +
            " AS K WHERE AJCTRECEBER.CDFILIAL = K.K0 AND AJCTRECEBER.NRLANCTONF = K.K1 "
            "AND AJCTRECEBER.NRSEQVENREC = K.K2 AND AJCTRECEBER.NRPARCELAREC = K.K3 AND AJCTRECEBER.NRSEQAJUREC = K.K4");
        upAdj.bind(1, adjRows.toStdString());
        upAdj.exec();
    }

    // Per posting written: the one it replaced and itself, with their debit totals.
    struct Line
    {
        const accounting::Account *account;
        const accounting::Adjustment *adjustment;
        const std::string *before;
        const std::string *after;
        std::optional<Cents> beforeTotal;
        Cents afterTotal;
    };
    std::vector<Line> lines;
    lines.reserve(r.postings.size());
    std::int64_t changed = 0;
    Cents totalBefore = 0, totalAfter = 0;
    for (const accounting::Posting &p : r.postings) {
        const accounting::Account &a = accounts[size_t(p.account)];
        const accounting::Adjustment *adj = p.adjustment < 0 ? nullptr : &a.adjustments[size_t(p.adjustment)];
        const std::string &before = adj ? adj->currentPosting : a.currentPosting;
        Line line{&a, adj, &before, &p.number, std::nullopt, accounting::debitTotal(r, p)};
        if (before == p.number)
            line.beforeTotal = line.afterTotal;
        else if (!before.empty())
            line.beforeTotal = adj ? adj->currentTotal : a.currentTotal;
        changed += before != p.number;
        totalBefore += line.beforeTotal.value_or(0);
        totalAfter += line.afterTotal;
        lines.push_back(line);
    }

    const std::int64_t audit = takeNumbers(c, "AUDITORIA", 1);
    db::Statement &head = c.prepare("INSERT INTO AUDITORIA (NRAUDITORIA, NMOPERADOR, DTOPERACAO, CDEMPRESA, "
                                    "NMOPERACAO, QTCONTAS, QTLANCALTER, VRTOTANT, VRTOTNOVO) "
                                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    head.bindAll({audit, operatorName, now, cfg.company, std::string("SetConfirmar"), std::int64_t(accounts.size()),
                  changed, db::centsText(totalBefore), db::centsText(totalAfter)});
    head.exec();
    auto bulk = c.bulk("AUDITCONTA", {"NRAUDITORIA", "NRSEQAUDIT", "CDFILIAL", "NRLANCTONF", "NRSEQVENREC",
                                      "NRPARCELAREC", "NRSEQAJUREC", "NRLANCANT", "NRLANCNOVO", "VRLANCANT",
                                      "VRLANCNOVO"});
    std::int64_t seq = 0;
    for (const Line &l : lines) {
        const accounting::Account &a = *l.account;
        bulk->row({audit, ++seq, a.branch, a.entry, a.dueSeq, a.instalment,
                   l.adjustment ? Value(l.adjustment->seq) : db::null(),
                   l.before->empty() ? db::null() : Value(*l.before), *l.after,
                   l.beforeTotal ? Value(db::centsText(*l.beforeTotal)) : db::null(), db::centsText(l.afterTotal)});
    }
    bulk->finish();
}

} // namespace

accounting::Config loadAccountingConfig(db::Connection &c, const std::string &company)
{
    accounting::Config cfg;
    cfg.company = company;
    cfg.companyName = db::queryText(c, "SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = ?", {company});
    const auto rules = [&](const char *sql, std::map<std::string, accounting::Rule> &into) {
        db::Statement &st = c.prepare(sql);
        st.bindAll({company});
        while (st.next())
            into[str(st, 0)] = {str(st, 1), str(st, 2), str(st, 3)};
        st.reset();
    };
    rules("SELECT CDTPCTRECEB, CDCONTDEB, CDCONTCRED, CDHISTPADR FROM REGCTBTPREC WHERE CDEMPRESA = ?", cfg.typeRules);
    rules("SELECT CDAJUCTREC, CDCONTDEB, CDCONTCRED, CDHISTPADR FROM REGCTBAJREC WHERE CDEMPRESA = ?",
          cfg.adjustmentRules);

    db::Statement &chart =
        c.prepare("SELECT CDCONTCTBL, CDCONTREDU, NMCONTCTBL, IDCONTANALI FROM PLANOCONTA WHERE CDEMPRESA = ?");
    chart.bindAll({company});
    while (chart.next())
        cfg.chart[str(chart, 0)] = {str(chart, 1), str(chart, 2), str(chart, 3) == "S"};
    chart.reset();

    const auto names = [&](const std::string &sql, std::map<std::string, std::string> &into,
                           std::initializer_list<Value> params) {
        db::Statement &st = c.prepare(sql);
        st.bindAll(params);
        while (st.next())
            into[str(st, 0)] = str(st, 1);
        st.reset();
    };
    names("SELECT CDHISTPADR, DSHISTPADR FROM HISTPADRAO", cfg.histories, {});
    names("SELECT CDFILIAL, NMFILIAL FROM FILIAL WHERE CDEMPRESA = ?", cfg.branchNames, {company});
    names("SELECT CDCENTCUST, NMCENTCUST FROM CENTROCUSTO", cfg.costCentreNames, {});

    db::Statement &ap = c.prepare("SELECT R.CDFILIAL, R.CDCENTCUST, R.PCRATEIO FROM RATEIOFILIAL R "
                                  "JOIN FILIAL F ON F.CDFILIAL = R.CDFILIAL WHERE F.CDEMPRESA = ? "
                                  "ORDER BY R.CDFILIAL, R.CDCENTCUST");
    ap.bindAll({company});
    while (ap.next())
        cfg.apportionment[str(ap, 0)].push_back({str(ap, 1), std::int64_t(std::llround(ap.real(2) * 10000.0))});
    ap.reset();

    db::Statement &per = c.prepare(
        "SELECT DTINIPERCTB, DTFIMPERCTB FROM PERIODOCTB WHERE CDEMPRESA = ? AND IDPERFECH = 'S'");
    per.bindAll({company});
    while (per.next())
        cfg.closedPeriods.emplace_back(str(per, 0).substr(0, 10), str(per, 1).substr(0, 10));
    per.reset();
    return cfg;
}

QByteArray recalculate(db::Connection &c, const std::string &company, const std::string &operatorName,
                       const wire::Packet &packet, const Params &params, RecalcMode mode)
{
    const std::vector<Marked> marked = markedRows(packet, company, params);
    if (marked.empty())
        throw RpcError(rpc::Refused, QStringLiteral("Nenhuma conta marcada para o recálculo."));

    std::unique_ptr<db::Transaction> tx;
    try {
        tx = std::make_unique<db::Transaction>(c, db::TxMode::WriteNoWait);
    } catch (const db::DbError &e) {
        if (e.lockConflict())
            return answer(mode, kLocked);
        throw;
    }
    const std::string keys = keysJson(marked);
    if (!lockAccounts(c, keys))
        return answer(mode, kLocked);

    std::unordered_map<std::string, Current> current = loadCurrent(c, keys, marked.size());
    std::vector<accounting::Account> accounts;
    accounts.reserve(marked.size());
    for (const Marked &m : marked) {
        const auto it = current.find(m.key());
        if (const char *stale = staleText(m, it == current.end() ? nullptr : &it->second, company))
            return answer(mode, stale);
        accounts.push_back(std::move(it->second.account));
    }

    const accounting::Config cfg = loadAccountingConfig(c, company);
    accounting::Result r = accounting::build(cfg, accounts);
    if (r.entries.size() > kMaxEntries)
        throw RpcError(rpc::Refused, QStringLiteral("O recálculo geraria %1 lançamentos; o limite é %2. "
                                                    "Marque menos contas.")
                                         .arg(r.entries.size())
                                         .arg(kMaxEntries));
    Before before;
    if (mode == RecalcMode::Preview) {
        std::vector<std::string> numbers;
        for (const accounting::Account &a : accounts) {
            if (!a.currentPosting.empty())
                numbers.push_back(a.currentPosting);
            for (const accounting::Adjustment &adj : a.adjustments)
                if (!adj.currentPosting.empty())
                    numbers.push_back(adj.currentPosting);
        }
        before.stored = loadStored(c, numbers);
        before.kept.reserve(r.postings.size());
        for (const accounting::Posting &p : r.postings)
            before.kept.push_back(p.unchanged());
    }
    if (!r.errors.empty()) {
        // Nothing is written: the postings carry their order in this answer as a provisional number.
        for (size_t i = 0; i < r.postings.size(); ++i)
            r.postings[i].number = std::to_string(i + 1);
        return answer(mode, "OK", &cfg, &accounts, &r, &before);
    }
    if (mode == RecalcMode::Preview) {
        // The numbers the confirm would take, unless another recalculation takes them first.
        numberPostings(r, freshPostings(r),
                       db::queryInt(c, "SELECT NRULTIMO FROM NUMERADOR WHERE CDNUMERADOR = ?", {std::string("LANCCTB")}) + 1);
        return answer(mode, "OK", &cfg, &accounts, &r, &before);
    }
    const std::vector<int> fresh = freshPostings(r);
    if (!fresh.empty())
        numberPostings(r, fresh, takeNumbers(c, "LANCCTB", std::int64_t(fresh.size())));
    // Numbered, the postings are what the answer says: it is written on another core while the
    // database writes them, and the transaction commits only once it is made.
    std::future<QByteArray> made =
        std::async(std::launch::async, [&] { return answer(mode, "OK", &cfg, &accounts, &r); });
    write(c, cfg, accounts, r, fresh, operatorName);
    QByteArray out = made.get();
    tx->commit();
    return out;
}

} // namespace erp::server
