#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Builds the ledger postings of receivable accounts from the company's accounting
// configuration, apportions them over cost centres and checks them. No database here: the
// recalculation and the demo-data generator both feed it.
namespace erp::server::accounting {

using Cents = std::int64_t;
// Percentages in ten-thousandths of a percent (NUMERIC(7,4)): 100 % is 1,000,000.
inline constexpr std::int64_t kWholePercent = 1'000'000;

// Error codes; their descriptions live in table ERROCTB.
namespace err {
inline constexpr const char *TypeRuleMissing = "001";
inline constexpr const char *AdjustmentRuleMissing = "002";
inline constexpr const char *LedgerAccountMissing = "003";
inline constexpr const char *LedgerAccountNotPostable = "004";
inline constexpr const char *HistoryMissing = "005";
inline constexpr const char *ApportionmentMissing = "006";
inline constexpr const char *ApportionmentNot100 = "007";
inline constexpr const char *PeriodClosed = "008";
inline constexpr const char *Unbalanced = "009";
inline constexpr const char *NonPositiveValue = "010";
} // namespace err

struct LedgerAccount
{
    std::string reduced;
    std::string name;
    bool postable = true;
};

struct Rule
{
    std::string debit;
    std::string credit;
    std::string history;
};

struct CostShare
{
    std::string costCentre;
    std::int64_t percent = 0;
};

struct Config
{
    std::string company;
    std::string companyName;
    std::map<std::string, Rule> typeRules;       // by account type
    std::map<std::string, Rule> adjustmentRules; // by adjustment type
    std::map<std::string, LedgerAccount> chart;  // by ledger account code
    std::map<std::string, std::string> histories; // standard history code -> text with {TAGS}
    std::map<std::string, std::vector<CostShare>> apportionment; // by branch
    std::vector<std::pair<std::string, std::string>> closedPeriods; // ISO date ranges, inclusive
    std::map<std::string, std::string> branchNames;
    std::map<std::string, std::string> costCentreNames;
};

struct Adjustment
{
    std::string seq; // NRSEQAJUREC
    std::string type;
    std::string direction; // "D" discount, "A" surcharge
    std::string description;
    Cents value = 0;
    std::string currentPosting;
    std::string currentSignature;
    std::optional<Cents> currentTotal; // of the current posting's debits, when it has one
};

struct Account
{
    std::string branch, entry, dueSeq, instalment; // the key
    std::string type;
    std::string customerName;
    std::string documentNumber, series;
    std::string postingDate; // ISO: the invoice's entry/exit date
    std::string dueDate;     // ISO
    Cents value = 0;
    bool accounted = false;
    std::string currentPosting;
    std::string currentSignature;
    std::optional<Cents> currentTotal; // of the current posting's debits, when it has one
    std::vector<Adjustment> adjustments;

    // Branch, instalment, invoice entry, due sequence: the screens' account key.
    std::string commercialKey() const { return branch + instalment + entry + dueSeq; }
};

struct Entry
{
    int seq = 0;     // 1.. across the whole build
    int posting = 0; // index into Result::postings
    std::string ledger;
    char side = 'D';
    Cents value = 0;
    std::string history;
    std::string historyText;
};

struct ShareLine
{
    int entrySeq = 0;
    int seq = 0; // 1.. within the entry
    std::string branch;
    std::string costCentre;
    Cents value = 0;
};

struct Error
{
    std::string code;
    int entrySeq = 0;
};

struct Posting
{
    int account = 0;     // index into the accounts given
    int adjustment = -1; // index into that account's adjustments, -1 for the account itself
    std::string date;
    std::string document;
    int firstEntry = 0; // index into Result::entries
    int entryCount = 0;
    std::string signature; // of the content, to recognise an unchanged posting
    // The posting's current number when its content is unchanged, else empty until numbered.
    std::string number;
    bool unchanged() const { return !number.empty(); }
};

struct Result
{
    std::vector<Posting> postings;
    std::vector<Entry> entries;
    std::vector<ShareLine> shares;
    std::vector<Error> errors;
};

Result build(const Config &config, const std::vector<Account> &accounts);

// The sum of the posting's debit entries (its credits, when it balances).
Cents debitTotal(const Result &r, const Posting &p);

// Shares of total by the percentages, in cents; the rounding remainder goes to the last share,
// so the shares always add up to total.
std::vector<Cents> apportion(Cents total, const std::vector<std::int64_t> &percents);

// "123.45" / 123.45 as cents, rounded to the nearest cent.
Cents toCents(double value);

} // namespace erp::server::accounting
