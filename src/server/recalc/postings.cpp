#include "postings.h"

namespace erp::server {

void insertPostings(db::Connection &c, const accounting::Config &cfg, const std::vector<accounting::Account> &accounts,
                    const accounting::Result &r, const std::vector<int> &which, const std::string &operatorName,
                    const std::string &timestamp)
{
    {
        auto head = c.bulk("LANCCTB", {"NRLANCCTB", "CDEMPRESA", "DTLANCCTB", "CDORIGLANC", "CDLANCCTBCOME",
                                       "CDDOCUCONT", "NMOPERADOR", "DTINCLLANC", "CDASSINATURA", "VRTOTLANC"});
        for (int i : which) {
            const accounting::Posting &p = r.postings[size_t(i)];
            head->row({p.number, cfg.company, p.date, std::string("REC"), accounts[size_t(p.account)].commercialKey(),
                       p.document, operatorName, timestamp, p.signature, db::centsText(accounting::debitTotal(r, p))});
        }
        head->finish();
    }
    {
        auto items = c.bulk("ITLANCCTB", {"NRLANCCTB", "NRSEQLANCCTB", "CDCONTCTBL", "IDDEBCRED", "VRLANCCTB",
                                          "CDHISTPADR", "DSHISTCTB"});
        for (int i : which) {
            const accounting::Posting &p = r.postings[size_t(i)];
            for (int k = 0; k < p.entryCount; ++k) {
                const accounting::Entry &e = r.entries[size_t(p.firstEntry + k)];
                items->row({p.number, std::int64_t(k + 1), e.ledger, std::string(1, e.side), db::centsText(e.value),
                            e.history, e.historyText});
            }
        }
        items->finish();
    }
    // Shares follow their entries in order; find each posting's first share once.
    std::vector<size_t> firstShareOfEntry(r.entries.size() + 2, r.shares.size());
    for (size_t s = r.shares.size(); s-- > 0;)
        firstShareOfEntry[size_t(r.shares[s].entrySeq)] = s;
    auto shares = c.bulk("RATLANCCTB",
                         {"NRLANCCTB", "NRSEQLANCCTB", "NRSEQRATCTB", "CDFILIAL", "CDCENTCUST", "VRLANCCUST"});
    for (int i : which) {
        const accounting::Posting &p = r.postings[size_t(i)];
        const int firstSeq = p.firstEntry + 1, lastSeq = p.firstEntry + p.entryCount;
        for (size_t s = firstShareOfEntry[size_t(firstSeq)]; s < r.shares.size() && r.shares[s].entrySeq <= lastSeq;
             ++s) {
            const accounting::ShareLine &sh = r.shares[s];
            if (sh.entrySeq < firstSeq)
                continue;
            shares->row({p.number, std::int64_t(sh.entrySeq - p.firstEntry), std::int64_t(sh.seq), sh.branch,
                         sh.costCentre, db::centsText(sh.value)});
        }
    }
    shares->finish();
}

} // namespace erp::server
