#include "accounting.h"
#include "server/util/textutil.h"

#include <charconv>
#include <cmath>

namespace erp::server::accounting {

namespace {

std::string brDate(const std::string &iso)
{
    return iso.size() >= 10 ? iso.substr(8, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(0, 4) : iso;
}

std::string documentText(const Account &a)
{
    std::string doc = "NF " + a.documentNumber;
    if (!a.series.empty())
        doc += "/" + a.series;
    return doc + " P" + a.instalment;
}

std::string fillHistory(const std::string &tmpl, const Account &a, const Adjustment *adj)
{
    std::string s = tmpl;
    replaceAll(s, "{DOC}", documentText(a));
    replaceAll(s, "{PARC}", a.instalment);
    replaceAll(s, "{CLIENTE}", a.customerName);
    replaceAll(s, "{VENC}", brDate(a.dueDate));
    replaceAll(s, "{AJUSTE}", adj ? adj->description : std::string());
    return truncateUtf8(s, 200);
}

bool inClosedPeriod(const Config &c, const std::string &date)
{
    for (const auto &[from, to] : c.closedPeriods)
        if (date >= from && date <= to)
            return true;
    return false;
}

class Builder
{
public:
    Builder(const Config &c) : m_c(c) {}

    void account(int index, const Account &a)
    {
        const auto rule = m_c.typeRules.find(a.type);
        const Rule *r = rule == m_c.typeRules.end() ? nullptr : &rule->second;
        posting(index, -1, a, nullptr, a.value, r, err::TypeRuleMissing, a.currentPosting, a.currentSignature);
        for (size_t j = 0; j < a.adjustments.size(); ++j) {
            const Adjustment &adj = a.adjustments[j];
            if (adj.value == 0)
                continue; // nothing to post
            const auto it = m_c.adjustmentRules.find(adj.type);
            posting(index, int(j), a, &adj, adj.value, it == m_c.adjustmentRules.end() ? nullptr : &it->second,
                    err::AdjustmentRuleMissing, adj.currentPosting, adj.currentSignature);
        }
    }

    Result take() { return std::move(m_r); }

private:
    void posting(int account, int adjustment, const Account &a, const Adjustment *adj, Cents value, const Rule *rule,
                 const char *ruleMissing, const std::string &currentNumber, const std::string &currentSignature)
    {
        Posting p;
        p.account = account;
        p.adjustment = adjustment;
        p.date = a.postingDate;
        p.document = documentText(a) + (adj ? " AJ " + adj->seq : std::string());
        p.firstEntry = int(m_r.entries.size());
        const size_t firstError = m_r.errors.size();
        const size_t firstShare = m_r.shares.size();
        const int postingIndex = int(m_r.postings.size());

        const std::string historyCode = rule ? rule->history : std::string();
        const auto hist = m_c.histories.find(historyCode);
        const bool historyKnown = rule && hist != m_c.histories.end();
        const std::string historyText = historyKnown ? fillHistory(hist->second, a, adj) : std::string();

        const int debit = addEntry(postingIndex, rule ? rule->debit : std::string(), 'D', value, historyCode, historyText);
        const int credit = addEntry(postingIndex, rule ? rule->credit : std::string(), 'C', value, historyCode, historyText);
        if (value <= 0)
            error(err::NonPositiveValue, debit);
        if (!rule)
            error(ruleMissing, debit);

        Cents debits = 0, credits = 0;
        for (int seq : {debit, credit}) {
            const Entry &e = m_r.entries[size_t(seq - 1)];
            (e.side == 'D' ? debits : credits) += e.value;
            if (rule) {
                const auto acc = m_c.chart.find(e.ledger);
                if (acc == m_c.chart.end())
                    error(err::LedgerAccountMissing, seq);
                else if (!acc->second.postable)
                    error(err::LedgerAccountNotPostable, seq);
                if (!historyKnown)
                    error(err::HistoryMissing, seq);
            }
            if (inClosedPeriod(m_c, a.postingDate))
                error(err::PeriodClosed, seq);
            share(seq, a.branch, e.value);
        }
        if (debits != credits)
            error(err::Unbalanced, debit);

        p.entryCount = int(m_r.entries.size()) - p.firstEntry;
        p.signature = signature(p, firstShare);
        if (m_r.errors.size() == firstError && !currentNumber.empty() && currentSignature == p.signature &&
            (adj || a.accounted))
            p.number = currentNumber;
        m_r.postings.push_back(std::move(p));
    }

    int addEntry(int posting, const std::string &ledger, char side, Cents value, const std::string &history,
                 const std::string &text)
    {
        Entry e;
        e.seq = int(m_r.entries.size()) + 1;
        e.posting = posting;
        e.ledger = ledger;
        e.side = side;
        e.value = value;
        e.history = history;
        e.historyText = text;
        m_r.entries.push_back(std::move(e));
        return m_r.entries.back().seq;
    }

    void share(int entrySeq, const std::string &branch, Cents value)
    {
        const auto it = m_c.apportionment.find(branch);
        if (it == m_c.apportionment.end() || it->second.empty()) {
            error(err::ApportionmentMissing, entrySeq);
            return;
        }
        std::vector<std::int64_t> percents;
        std::int64_t sum = 0;
        for (const CostShare &s : it->second) {
            percents.push_back(s.percent);
            sum += s.percent;
        }
        if (sum != kWholePercent)
            error(err::ApportionmentNot100, entrySeq);
        const std::vector<Cents> parts = apportion(value, percents);
        for (size_t i = 0; i < parts.size(); ++i)
            m_r.shares.push_back({entrySeq, int(i) + 1, branch, it->second[i].costCentre, parts[i]});
    }

    void error(const char *code, int entrySeq) { m_r.errors.push_back({code, entrySeq}); }

    std::string signature(const Posting &p, size_t firstShare) const
    {
        // Appended piece by piece: the text is the same, without a temporary string per piece.
        const auto number = [](std::string &out, Cents v) {
            char buf[24];
            out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
        };
        std::string s;
        s.reserve(256);
        s.append(m_c.company).append(1, '|').append(p.date).append(1, '|').append(p.document);
        for (int i = 0; i < p.entryCount; ++i) {
            const Entry &e = m_r.entries[size_t(p.firstEntry + i)];
            s.append(1, '|').append(e.ledger).append(1, ',').append(1, e.side).append(1, ',');
            number(s, e.value);
            s.append(1, ',').append(e.history).append(1, ',').append(e.historyText);
        }
        for (size_t i = firstShare; i < m_r.shares.size(); ++i) {
            const ShareLine &sh = m_r.shares[i];
            s.append(1, '|').append(sh.branch).append(1, ',').append(sh.costCentre).append(1, ',');
            number(s, sh.value);
        }
        return hex64(fnv1a64(s));
    }

    const Config &m_c;
    Result m_r;
};

} // namespace

Cents toCents(double value) { return Cents(std::llround(value * 100.0)); }

Cents debitTotal(const Result &r, const Posting &p)
{
    Cents total = 0;
    for (int k = 0; k < p.entryCount; ++k) {
        const Entry &e = r.entries[size_t(p.firstEntry + k)];
        if (e.side == 'D')
            total += e.value;
    }
    return total;
}

std::vector<Cents> apportion(Cents total, const std::vector<std::int64_t> &percents)
{
    std::vector<Cents> parts(percents.size());
    Cents given = 0;
    for (size_t i = 0; i + 1 < percents.size(); ++i) {
        const __int128 num = __int128(total) * percents[i];
        const __int128 half = kWholePercent / 2;
        parts[i] = Cents(num >= 0 ? (num + half) / kWholePercent : -((-num + half) / kWholePercent));
        given += parts[i];
    }
    if (!parts.empty())
        parts.back() = total - given;
    return parts;
}

Result build(const Config &config, const std::vector<Account> &accounts)
{
    Builder b(config);
    for (size_t i = 0; i < accounts.size(); ++i)
        b.account(int(i), accounts[i]);
    return b.take();
}

} // namespace erp::server::accounting
