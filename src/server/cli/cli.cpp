#include "cli.h"
#include "secrets.h"
#include "server/db/schema.h"
#include "server/demo/seed.h"
#include "server/http/appserver.h"
#include "server/http/auth.h"
#include "server/util/textutil.h"

#include <erpwire/json.h>

#include <charconv>
#include <csignal>
#include <fstream>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <map>
#include <pthread.h>
#include <sys/resource.h>
#include <set>
#include <string_view>
#include <thread>

namespace erp::server {

namespace {

const char *kUsage =
    "Uso:\n"
    "  rec-appserver migrate --db URL\n"
    "  rec-appserver seed --db URL --accounts N [--seed S] [--today AAAA-MM-DD]\n"
    "  rec-appserver add-operator --db URL NOME      (senha pela entrada padrão)\n"
    "  rec-appserver issue-token --db URL NOME [--days N]   (imprime um token de acesso)\n"
    "  rec-appserver revoke-token --db URL [NOME]   (sem NOME, o token pela entrada padrão;\n"
    "                                                com NOME, todos os tokens do operador)\n"
    "  rec-appserver serve --db URL --listen HOST:PORTA [--workers N] [--today AAAA-MM-DD]\n"
    "                [--tls-cert ARQUIVO --tls-key ARQUIVO | --insecure] [--max-connections N]\n"
    "                [--max-body MiB] [--statement-timeout SEGUNDOS]\n"
    "                [--trust-seconds N]   (senha verificada vale enquanto usada a cada N s; padrão 60)\n"
    "  rec-appserver serve --config ARQUIVO [opções de serve por cima do arquivo]\n"
    "  rec-appserver --version | --help\n"
    "URL: sqlite:CAMINHO ou postgresql://usuario@host:porta/banco (a senha do banco num arquivo\n"
    "     de senhas do PostgreSQL: PGPASSFILE, ~/.pgpass ou ?passfile=ARQUIVO; ou ?service=NOME).\n"
    "     Sem --db, a URL da variável de ambiente ERP_DB_URL.\n"
    "O arquivo de --config tem uma opção por linha, \"chave = valor\", com os nomes das opções\n"
    "de serve (db, listen, tls-cert, ...; insecure = sim); linhas vazias e as iniciadas por # são\n"
    "ignoradas.\n";

struct UsageError
{
    std::string message;
};

struct Args
{
    std::map<std::string, std::string> options;
    std::set<std::string> flags;
    std::vector<std::string> positional;

    const std::string *get(const std::string &name) const
    {
        const auto it = options.find(name);
        return it == options.end() ? nullptr : &it->second;
    }
    const std::string &required(const std::string &name) const
    {
        if (const std::string *v = get(name))
            return *v;
        throw UsageError{"falta a opção --" + name + "."};
    }
};

Args parse(int argc, char **argv, const std::set<std::string> &allowed, const std::set<std::string> &flags = {})
{
    Args a;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (!arg.starts_with("--")) {
            a.positional.push_back(arg);
            continue;
        }
        if (flags.count(arg.substr(2))) {
            a.flags.insert(arg.substr(2));
            continue;
        }
        std::string name = arg.substr(2), value;
        const size_t eq = name.find('=');
        if (eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        } else {
            if (i + 1 >= argc)
                throw UsageError{"a opção --" + name + " precisa de um valor."};
            value = argv[++i];
        }
        if (!allowed.count(name))
            throw UsageError{"opção desconhecida: --" + name + "."};
        if (a.options.count(name))
            throw UsageError{"a opção --" + name + " foi dada mais de uma vez."};
        a.options[name] = value;
    }
    return a;
}

long long number(const std::string &text, const char *what, long long min, long long max)
{
    long long v = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size() || v < min || v > max)
        throw UsageError{std::string(what) + " inválido: \"" + text + "\" (de " + std::to_string(min) + " a " +
                         std::to_string(max) + ")."};
    return v;
}

db::DbUrl dbUrl(const Args &a)
{
    try {
        const char *env = std::getenv("ERP_DB_URL");
        if (!a.get("db") && env && *env)
            return db::DbUrl::parse(env);
        return db::DbUrl::parse(a.required("db"));
    } catch (const std::invalid_argument &e) {
        throw UsageError{e.what()};
    }
}

std::optional<QDate> today(const Args &a)
{
    const std::string *t = a.get("today");
    if (!t)
        return std::nullopt;
    try {
        return wire::parseDate(QString::fromStdString(*t));
    } catch (const wire::WireError &) {
        throw UsageError{"data inválida em --today: \"" + *t + "\" (use AAAA-MM-DD)."};
    }
}

// One line without its end.
std::string readLine(std::istream &in)
{
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

void noPositional(const Args &a)
{
    if (!a.positional.empty())
        throw UsageError{"argumento inesperado: \"" + a.positional.front() + "\"."};
}

int migrateCommand(int argc, char **argv)
{
    const Args a = parse(argc, argv, {"db"});
    noPositional(a);
    const db::DbUrl url = dbUrl(a);
    auto c = db::connect(url);
    const int n = migrate(*c);
    std::cout << "Esquema na versão " << latestSchemaVersion() << " (" << n << " migração(ões) aplicada(s)).\n";
    return 0;
}

int seedCommand(int argc, char **argv)
{
    const Args a = parse(argc, argv, {"db", "accounts", "seed", "today"});
    noPositional(a);
    const db::DbUrl url = dbUrl(a);
    SeedOptions o;
    o.accounts = number(a.required("accounts"), "número de contas", 1, 50'000'000);
    if (const std::string *s = a.get("seed"))
        o.seed = std::uint64_t(number(*s, "semente", 0, std::numeric_limits<long long>::max()));
    o.today = today(a).value_or(QDate::currentDate());
    o.progress = [](const std::string &line) { std::cerr << line << '\n'; };
    auto c = db::connect(url);
    migrate(*c);
    const SeedSummary s = seed(*c, o);
    std::cout << "Dados de demonstração: " << s.companies << " empresas, " << s.branches << " filiais, " << s.customers
              << " clientes, " << s.invoices << " notas, " << s.accounts << " contas, " << s.adjustments
              << " ajustes, " << s.postings << " lançamentos contábeis.\n";
    return 0;
}

void checkOperatorName(const std::string &name)
{
    if (name.empty() || utf8Length(name) > 30 || name.find(':') != std::string::npos ||
        name.find_first_of(" \t\r\n") != std::string::npos)
        throw UsageError{"nome de operador inválido: até 30 caracteres, sem espaços nem ':'."};
}

int addOperatorCommand(int argc, char **argv)
{
    const Args a = parse(argc, argv, {"db"});
    if (a.positional.size() != 1)
        throw UsageError{"informe exatamente um nome de operador."};
    const std::string &name = a.positional.front();
    checkOperatorName(name);
    const db::DbUrl url = dbUrl(a);
    const std::string password = readLine(std::cin);
    if (password.empty())
        throw UsageError{"a senha (lida da entrada padrão) está vazia."};
    auto c = db::connect(url);
    requireCurrentSchema(*c);
    saveOperator(*c, name, password);
    std::cout << "Operador \"" << name << "\" gravado.\n";
    return 0;
}

int issueTokenCommand(int argc, char **argv)
{
    const Args a = parse(argc, argv, {"db", "days"});
    if (a.positional.size() != 1)
        throw UsageError{"informe exatamente um nome de operador."};
    const std::string &name = a.positional.front();
    checkOperatorName(name);
    const int days = a.get("days") ? int(number(*a.get("days"), "número de dias", 1, 3650)) : 30;
    const db::DbUrl url = dbUrl(a);
    auto c = db::connect(url);
    requireCurrentSchema(*c);
    const IssuedToken issued = issueToken(*c, name, days);
    std::cout << issued.token << '\n';
    std::cerr << "Token do operador \"" << name << "\" válido até " << issued.validUntil
              << " UTC; guarde-o: não é mostrado de novo. Revogue-o com \"rec-appserver revoke-token\".\n";
    return 0;
}

// The token to revoke comes on standard input (it is a secret); a name revokes all of its tokens.
int revokeTokenCommand(int argc, char **argv)
{
    const Args a = parse(argc, argv, {"db"});
    if (a.positional.size() > 1)
        throw UsageError{"informe no máximo um nome de operador."};
    const db::DbUrl url = dbUrl(a);
    std::string token;
    if (a.positional.empty()) {
        token = readLine(std::cin);
        if (token.empty())
            throw UsageError{"o token (lido da entrada padrão) está vazio."};
    }
    auto c = db::connect(url);
    requireCurrentSchema(*c);
    if (!a.positional.empty()) {
        const std::string &name = a.positional.front();
        checkOperatorName(name);
        std::cout << revokeTokens(*c, name) << " token(s) do operador \"" << name << "\" revogado(s).\n";
        return 0;
    }
    if (!revokeToken(*c, token)) {
        std::cerr << "rec-appserver: token não encontrado (já revogado ou vencido).\n";
        return 1;
    }
    std::cout << "Token revogado.\n";
    return 0;
}

// A thousand open connections need as many descriptors; the soft limit is often 1024.
void raiseOpenFileLimit()
{
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        setrlimit(RLIMIT_NOFILE, &r);
    }
}

std::string trimmed(const std::string &text)
{
    const size_t b = text.find_first_not_of(" \t\r");
    const size_t e = text.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
}

// Fills in, from a "key = value" file, the options the command line did not give; a flag's key
// takes "sim" or "nao".
void readConfigFile(Args &a, const std::string &path, const std::set<std::string> &allowed,
                    const std::set<std::string> &flags)
{
    std::ifstream in(path);
    if (!in)
        throw UsageError{"arquivo de configuração " + path + " ilegível ou inexistente."};
    std::set<std::string> seen;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = trimmed(line);
        if (line.empty() || line.front() == '#')
            continue;
        const size_t eq = line.find('=');
        const std::string where = path + ", linha " + std::to_string(number);
        if (eq == std::string::npos)
            throw UsageError{where + ": use \"chave = valor\"."};
        const std::string key = trimmed(line.substr(0, eq));
        const std::string value = trimmed(line.substr(eq + 1));
        if ((!allowed.count(key) && !flags.count(key)) || key == "config")
            throw UsageError{where + ": chave desconhecida \"" + key + "\"."};
        if (!seen.insert(key).second)
            throw UsageError{where + ": a chave \"" + key + "\" aparece mais de uma vez."};
        if (flags.count(key)) {
            if (value != "sim" && value != "nao")
                throw UsageError{where + ": use \"" + key + " = sim\" ou \"" + key + " = nao\"."};
            if (value == "sim")
                a.flags.insert(key);
            continue;
        }
        a.options.try_emplace(key, value);
    }
}

int serveCommand(int argc, char **argv)
{
    const std::set<std::string> allowed{"db",       "listen",   "workers",         "today",    "tls-cert",
                                        "tls-key",  "max-connections", "max-body", "statement-timeout", "config", "trust-seconds"};
    const std::set<std::string> flags{"insecure"};
    Args a = parse(argc, argv, allowed, flags);
    if (const std::string *config = a.get("config"))
        readConfigFile(a, *config, allowed, flags);
    noPositional(a);
    ServeOptions o;
    o.db = dbUrl(a);
    const std::string &listen = a.required("listen");
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0)
        throw UsageError{"--listen deve ser HOST:PORTA, por exemplo 127.0.0.1:8080."};
    o.host = listen.substr(0, colon);
    o.port = int(number(listen.substr(colon + 1), "porta", 0, 65535));
    if (const std::string *w = a.get("workers"))
        o.workers = int(number(*w, "número de workers", 1, 256));
    if (const std::string *t = a.get("trust-seconds"))
        o.trustWindow = std::chrono::seconds(number(*t, "--trust-seconds", 1, 86400));
    o.today = today(a);
    if (const std::string *n = a.get("max-connections"))
        o.maxConnections = int(number(*n, "número máximo de conexões", 1, 1'000'000));
    if (const std::string *n = a.get("max-body"))
        o.maxBodyBytes = std::size_t(number(*n, "tamanho máximo do corpo em MiB", 1, 64 * 1024)) << 20;
    if (const std::string *n = a.get("statement-timeout"))
        o.statementTimeoutSeconds = int(number(*n, "tempo máximo de comando em segundos", 1, 86400));
    if (a.get("tls-cert") || a.get("tls-key")) {
        o.tlsCertFile = a.required("tls-cert");
        o.tlsKeyFile = a.required("tls-key");
    }
    const bool loopback = o.host == "127.0.0.1" || o.host == "::1" || o.host.rfind("127.", 0) == 0;
    const bool insecure = a.flags.count("insecure") > 0;
    if (!loopback && o.tlsCertFile.empty() && !insecure)
        throw UsageError{"para escutar em " + o.host +
                         " informe --tls-cert e --tls-key (ou --insecure para servir sem criptografia)."};
    raiseOpenFileLimit();

    // Signals are taken by one thread with sigwait, so the workers never see them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    AppServer server(o);
    const int port = server.bind();
    std::cerr << "rec-appserver: servindo " << o.db.text << " em " << o.host << ":" << port << " com " << o.workers
              << " worker(s)" << (o.tlsCertFile.empty() ? "" : " (TLS)") << "\n";
    if (!loopback && o.tlsCertFile.empty())
        std::cerr << "rec-appserver: ATENÇÃO: sem TLS (--insecure) em " << o.host
                  << ": senhas e dados trafegam sem criptografia na rede\n";
    std::atomic<bool> stopping{false};
    std::thread waiter([&] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        if (!stopping.exchange(true))
            std::cerr << "rec-appserver: sinal " << sig << " recebido; encerrando as chamadas em andamento\n";
        server.stop();
    });
    server.run();
    if (!stopping.exchange(true))
        pthread_kill(waiter.native_handle(), SIGTERM); // wake the waiter when the server ended by itself
    waiter.join();
    std::cerr << "rec-appserver: encerrado\n";
    return 0;
}

} // namespace

int runCommandLine(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    static const std::map<std::string, int (*)(int, char **)> commands{{"migrate", migrateCommand},
                                                                       {"seed", seedCommand},
                                                                       {"add-operator", addOperatorCommand},
                                                                       {"issue-token", issueTokenCommand},
                                                                       {"revoke-token", revokeTokenCommand},
                                                                       {"serve", serveCommand}};
    if (command == "--version" || command == "-v") {
        std::cout << "rec-appserver " << ERP_VERSION << '\n';
        return 0;
    }
    // Help for any command answers before its options are read.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--help" || arg == "-h" || (i == 1 && arg == "help")) {
            std::cout << kUsage;
            return 0;
        }
    }
    // The arguments are read from a copy: what `ps` shows of the process loses its secrets.
    std::vector<std::string> copies(argv, argv + argc);
    std::vector<char *> args;
    for (std::string &arg : copies)
        args.push_back(arg.data());
    for (const std::string &warning : hideSecretArguments(argc, argv, {}))
        std::cerr << "rec-appserver: " << warning << '\n';
    const auto it = commands.find(command);
    try {
        if (it == commands.end())
            throw UsageError{command.empty() ? "informe o comando." : "comando desconhecido: \"" + command + "\"."};
        return it->second(argc, args.data());
    } catch (const UsageError &e) {
        std::cerr << "rec-appserver: " << e.message << "\n" << kUsage;
        return 2;
    } catch (const std::exception &e) {
        std::cerr << "rec-appserver: " << e.what() << '\n';
        return 1;
    }
}

} // namespace erp::server
