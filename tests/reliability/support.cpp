#include "support.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace erp::server::test {

namespace {

std::string program()
{
    const char *build = std::getenv("ERP_BUILD_DIR");
    if (!build)
        throw std::runtime_error("ERP_BUILD_DIR não definida");
    return std::string(build) + "/bin/rec-appserver";
}

std::string tempFile(const char *pattern)
{
    QTemporaryFile f(QDir::tempPath() + "/" + pattern);
    f.setAutoRemove(false);
    if (!f.open())
        throw std::runtime_error("arquivo temporário");
    return f.fileName().toStdString();
}

std::string readAll(const std::string &path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

pid_t spawn(const std::vector<std::string> &args, const std::string &in, const std::string &out, const std::string &err)
{
    std::vector<std::string> all{program()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        throw std::runtime_error("não foi possível iniciar " + all[0]);
    return pid;
}

// The exit status, or -1 for a signal; nullopt while it runs past the deadline.
std::optional<int> waitFor(pid_t pid, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (r < 0 || std::chrono::steady_clock::now() > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

CommandResult runAppServer(const std::vector<std::string> &args, const std::string &input)
{
    const std::string in = tempFile("rec-in-XXXXXX"), out = tempFile("rec-out-XXXXXX"), err = tempFile("rec-err-XXXXXX");
    {
        QFile f(QString::fromStdString(in));
        f.open(QIODevice::WriteOnly);
        f.write(input.data(), qint64(input.size()));
    }
    const pid_t pid = spawn(args, in, out, err);
    const auto status = waitFor(pid, 120000);
    if (!status) {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    CommandResult r{status.value_or(-1), readAll(out), readAll(err)};
    for (const std::string &f : {in, out, err})
        std::remove(f.c_str());
    return r;
}

ServerProcess::ServerProcess(const db::DbUrl &url, int workers, const std::vector<std::string> &extra)
{
    m_logFile = tempFile("rec-server-log-XXXXXX");
    std::vector<std::string> args{"serve", "--db", url.conninfo.empty() ? "sqlite:" + url.path : url.conninfo,
                                  "--listen", "127.0.0.1:0", "--workers", std::to_string(workers), "--today",
                                  kToday.toString(Qt::ISODate).toStdString()};
    args.insert(args.end(), extra.begin(), extra.end());
    m_pid = spawn(args, "/dev/null", "/dev/null", m_logFile);
    // The port is the one the server reports, so two processes never race for one.
    static const QRegularExpression serving(" em 127\\.0\\.0\\.1:(\\d+) ");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!m_port) {
        const auto m = serving.match(QString::fromStdString(log()));
        if (m.hasMatch())
            m_port = m.captured(1).toInt();
        else if (waitFor(m_pid, 0) || std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("rec-appserver não iniciou: " + log());
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (std::find(extra.begin(), extra.end(), "--tls-cert") != extra.end())
        return;
    httplib::Client http("127.0.0.1", m_port);
    while (!http.Get("/health")) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("rec-appserver não responde: " + log());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

ServerProcess::~ServerProcess()
{
    kill();
    std::remove(m_logFile.c_str());
}

void ServerProcess::kill()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

int ServerProcess::terminate(int timeoutMs)
{
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, SIGTERM);
    const auto status = waitFor(m_pid, timeoutMs);
    if (!status) {
        kill();
        return -1;
    }
    m_pid = -1;
    return *status;
}

std::string ServerProcess::log() const { return readAll(m_logFile); }

Filter cleanAccounts()
{
    Filter f;
    f.postingBranches = "0101;0102";
    f.types = "DUP;BOL";
    f.dueFrom = kToday.addDays(-400).toString(Qt::ISODate);
    f.dueTo = kToday.addDays(400).toString(Qt::ISODate);
    return f;
}

QJsonObject markRows(QJsonObject packet, const std::function<bool(int, const QJsonArray &)> &pred)
{
    QJsonArray rows = packet.value("rows").toArray();
    for (int i = 0; i < rows.size(); ++i) {
        QJsonArray r = rows[i].toArray();
        r[Mark] = pred(i, r) ? "S" : "N";
        rows[i] = r;
    }
    packet["rows"] = rows;
    return packet;
}

std::string accountKey(const QJsonArray &r)
{
    return (r[Branch].toString() + "|" + r[Entry].toString() + "|" + r[DueSeq].toString() + "|" + r[Instalment].toString())
        .toStdString();
}

std::string commercialKey(const QJsonArray &r)
{
    return (r[Branch].toString() + r[Instalment].toString() + r[Entry].toString() + r[DueSeq].toString()).toStdString();
}

std::vector<std::string> ledgerProblems(db::Connection &c)
{
    const std::string sameAccount = "B.CDFILIAL = A.CDFILIAL AND B.NRLANCTONF = A.NRLANCTONF AND "
                                    "B.NRSEQVENREC = A.NRSEQVENREC AND B.NRPARCELAREC = A.NRPARCELAREC";
    const std::vector<std::pair<const char *, std::string>> checks{
        {"lançamentos desbalanceados",
         "SELECT COUNT(*) FROM (SELECT NRLANCCTB FROM ITLANCCTB GROUP BY NRLANCCTB HAVING "
         "ABS(SUM(CASE WHEN IDDEBCRED = 'D' THEN VRLANCCTB ELSE -VRLANCCTB END)) > 0.001) X"},
        {"lançamentos sem itens",
         "SELECT COUNT(*) FROM LANCCTB L WHERE NOT EXISTS (SELECT 1 FROM ITLANCCTB I WHERE I.NRLANCCTB = L.NRLANCCTB)"},
        {"rateios que não fecham com o item",
         "SELECT COUNT(*) FROM ITLANCCTB I WHERE ABS(I.VRLANCCTB - COALESCE((SELECT SUM(R.VRLANCCUST) FROM RATLANCCTB R "
         "WHERE R.NRLANCCTB = I.NRLANCCTB AND R.NRSEQLANCCTB = I.NRSEQLANCCTB), 0)) > 0.001"},
        {"contas contabilizadas sem lançamento",
         "SELECT COUNT(*) FROM CONTRECEBER C WHERE C.IDCTBLCTREC = 'S' AND NOT EXISTS "
         "(SELECT 1 FROM LANCCTB L WHERE L.NRLANCCTB = C.NRLANCTBDOC)"},
        {"contas apontando para lançamento de outra conta",
         "SELECT COUNT(*) FROM CONTRECEBER C JOIN LANCCTB L ON L.NRLANCCTB = C.NRLANCTBDOC WHERE "
         "L.CDLANCCTBCOME <> C.CDFILIAL || C.NRPARCELAREC || C.NRLANCTONF || C.NRSEQVENREC"},
        {"ajustes apontando para lançamento inexistente",
         "SELECT COUNT(*) FROM AJCTRECEBER A WHERE A.NRLCTBAJREC IS NOT NULL AND NOT EXISTS "
         "(SELECT 1 FROM LANCCTB L WHERE L.NRLANCCTB = A.NRLCTBAJREC)"},
        {"lançamentos órfãos",
         "SELECT COUNT(*) FROM LANCCTB L WHERE NOT EXISTS (SELECT 1 FROM CONTRECEBER C WHERE C.NRLANCTBDOC = "
         "L.NRLANCCTB) AND NOT EXISTS (SELECT 1 FROM AJCTRECEBER A WHERE A.NRLCTBAJREC = L.NRLANCCTB)"},
        {"lançamentos usados duas vezes",
         "SELECT COUNT(*) FROM (SELECT NRLANCTBDOC FROM CONTRECEBER WHERE NRLANCTBDOC IS NOT NULL "
         "GROUP BY NRLANCTBDOC HAVING COUNT(*) > 1) X"},
        {"numerador de lançamentos atrás do último número",
         "SELECT COUNT(*) FROM NUMERADOR N WHERE N.CDNUMERADOR = 'LANCCTB' AND N.NRULTIMO < "
         "(SELECT COALESCE(MAX(CAST(NRLANCCTB AS BIGINT)), 0) FROM LANCCTB)"},
        {"numerador da auditoria diferente do último registro",
         "SELECT COUNT(*) FROM NUMERADOR N WHERE N.CDNUMERADOR = 'AUDITORIA' AND N.NRULTIMO <> "
         "(SELECT COALESCE(MAX(NRAUDITORIA), 0) FROM AUDITORIA)"},
        {"auditoria com número de contas errado",
         "SELECT COUNT(*) FROM AUDITORIA U WHERE U.QTCONTAS <> (SELECT COUNT(*) FROM AUDITCONTA A WHERE "
         "A.NRAUDITORIA = U.NRAUDITORIA AND A.NRSEQAJUREC IS NULL)"},
        {"auditoria cujo último lançamento não é o da conta",
         "SELECT COUNT(*) FROM AUDITCONTA A JOIN CONTRECEBER C ON C.CDFILIAL = A.CDFILIAL AND "
         "C.NRLANCTONF = A.NRLANCTONF AND C.NRSEQVENREC = A.NRSEQVENREC AND C.NRPARCELAREC = A.NRPARCELAREC "
         "WHERE A.NRSEQAJUREC IS NULL AND A.NRAUDITORIA = (SELECT MAX(B.NRAUDITORIA) FROM AUDITCONTA B WHERE " +
             sameAccount + " AND B.NRSEQAJUREC IS NULL) AND (C.NRLANCTBDOC IS NULL OR C.NRLANCTBDOC <> A.NRLANCNOVO)"},
    };
    std::vector<std::string> problems;
    for (const auto &[what, sql] : checks) {
        const std::int64_t n = db::queryInt(c, sql);
        if (n)
            problems.push_back(std::string(what) + ": " + std::to_string(n));
    }
    return problems;
}

std::string ledgerSnapshot(db::Connection &c)
{
    std::string s;
    for (const char *q :
         {"SELECT CDFILIAL || NRLANCTONF || NRSEQVENREC || NRPARCELAREC || COALESCE(NRLANCTBDOC, '-') || IDCTBLCTREC "
          "FROM CONTRECEBER ORDER BY 1",
          "SELECT CDFILIAL || NRLANCTONF || NRSEQAJUREC || COALESCE(NRLCTBAJREC, '-') FROM AJCTRECEBER ORDER BY 1",
          "SELECT NRLANCCTB || CDASSINATURA FROM LANCCTB ORDER BY 1",
          "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM ITLANCCTB", "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM RATLANCCTB",
          "SELECT CAST(COUNT(*) AS VARCHAR(20)) FROM AUDITCONTA",
          "SELECT CDNUMERADOR || CAST(NRULTIMO AS VARCHAR(20)) FROM NUMERADOR ORDER BY 1"}) {
        db::Statement &st = c.prepare(q);
        while (st.next())
            s += st.string(0) + '\n';
        st.reset();
    }
    return s;
}

long residentKb(pid_t pid)
{
    QFile f(QString("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression rss("VmRSS:\\s+(\\d+) kB");
    const auto m = rss.match(QString::fromLatin1(f.readAll()));
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

int connectLoopback(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace erp::server::test
