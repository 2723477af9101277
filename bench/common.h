#pragma once
// Shared by the bench programs: timing, medians, memory figures, the demo databases they
// run on, and the JSON line each measurement prints.
#include <server/db/db.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

double median(std::vector<double> v);
// Runs fn reps times and gives the median of the wall times.
double medianOf(int reps, const std::function<void()> &fn);

long statusKb(const char *field, long pid = 0); // VmRSS, VmHWM... of this process or of pid
void resetPeak();                               // VmHWM back to VmRSS (this process)
double peakRssMb();

struct Result
{
    std::string metric;
    long n = 0;
    double median = 0, floor = 0, ratio = 0, target = 0;
    double peakMb = 0;
    std::string extra; // more members, already JSON ("\"rows\":12")
};
// One JSON line on standard output.
void print(const Result &r);

// A seeded SQLite file of `accounts` accounts under dataDir, made once and reused
// (its name carries size and seed); operator "bench" with password "bench".
std::string sqliteDemo(const std::string &dataDir, long accounts, std::uint64_t seed = 7);
// The same data in a database of the PostgreSQL cluster at adminUrl, made once and reused.
std::string postgresDemo(const std::string &adminUrl, long accounts, std::uint64_t seed = 7);

// The floor of the account list: a plain scan of company 01's rows of CONTRECEBER, every
// column read as text with the database's own C API. Gives rows read, which are as many as the
// list of the widest filter (kDueFrom..kDueTo) has.
long scanAccountsWithCApi(const erp::server::db::DbUrl &url);
void closeAccountReaders(); // a PostgreSQL database cannot be copied while they stay connected
extern const char *kDueFrom; // the widest due range the screens send
extern const char *kDueTo;

// A server on loopback that reads every POST to /rpc/REC00800.rdmRecCont and throws it away:
// the floor of sending a request's bytes.
class RequestSink
{
public:
    RequestSink();
    ~RequestSink();
    RequestSink(const RequestSink &) = delete;
    RequestSink &operator=(const RequestSink &) = delete;
    // Sends body with the headers and waits for the short answer; throws when none comes.
    void post(const std::string &body, const std::vector<std::pair<std::string, std::string>> &headers);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

struct Args
{
    std::vector<std::string> values;
    std::string get(const std::string &name, const std::string &fallback = {}) const;
    std::vector<long> sizes(const std::string &name, const std::string &fallback) const;
};
Args parseArgs(int argc, char **argv);

} // namespace bench
