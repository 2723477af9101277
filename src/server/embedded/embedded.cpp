#include "embedded.h"
#include "server/db/schema.h"
#include "server/demo/seed.h"
#include "server/http/appserver.h"
#include "server/http/auth.h"

#include <erpwire/json.h>

#include <sodium.h>

#include <QDir>
#include <QFileInfo>

#include <thread>

namespace erp::server {

struct EmbeddedServer::Impl
{
    std::string host = "127.0.0.1";
    std::string operatorName;
    std::string password;
    std::string databaseUrl;
    std::unique_ptr<AppServer> server;
    std::thread thread;
};

namespace {

std::string randomPassword()
{
    if (sodium_init() < 0)
        throw std::runtime_error("Não foi possível iniciar a biblioteca de criptografia.");
    unsigned char raw[24];
    randombytes_buf(raw, sizeof raw);
    char text[sodium_base64_ENCODED_LEN(sizeof raw, sodium_base64_VARIANT_URLSAFE_NO_PADDING)];
    sodium_bin2base64(text, sizeof text, raw, sizeof raw, sodium_base64_VARIANT_URLSAFE_NO_PADDING);
    return text;
}

// The operator the demo database is made for, and only it.
const char *const kSessionOperator = "demo";

} // namespace

EmbeddedServer::EmbeddedServer(const EmbeddedOptions &o) : d(std::make_unique<Impl>())
{
    const bool existing = !o.databaseUrl.empty();
    std::string shown = o.databasePath;
    try {
        std::optional<QDate> today;
        if (!o.today.empty())
            today = wire::parseDate(QString::fromStdString(o.today));
        const db::DbUrl url = db::DbUrl::parse(existing ? o.databaseUrl : "sqlite:" + o.databasePath);
        shown = url.text;
        d->databaseUrl = existing ? o.databaseUrl : "sqlite:" + o.databasePath;
        d->operatorName = o.operatorName;
        if (!existing)
            QDir().mkpath(QFileInfo(QString::fromStdString(o.databasePath)).absolutePath());
        else if (url.kind == db::Kind::Sqlite && !QFileInfo(QString::fromStdString(url.path)).isFile())
            throw std::runtime_error("o arquivo não existe.");
        {
            auto c = db::connect(url);
            if (existing) {
                requireCurrentSchema(*c);
            } else {
                migrate(*c);
                if (!db::queryInt(*c, "SELECT COUNT(*) FROM EMPRESA")) {
                    SeedOptions s;
                    s.accounts = o.demoAccounts;
                    s.seed = o.demoSeed;
                    s.today = today.value_or(QDate::currentDate());
                    seed(*c, s);
                }
            }
            if (existing && !o.password.empty()) {
                if (!checkPassword(*c, o.operatorName, o.password))
                    throw std::runtime_error("operador \"" + o.operatorName + "\" ou senha inválidos.");
                d->password = o.password;
            } else if (existing) {
                throw std::runtime_error(
                    "informe a senha do operador \"" + o.operatorName +
                    "\" (--operator e --password-file): num banco existente o sistema não cria operadores nem "
                    "troca senhas, e o operador \"" + kSessionOperator + "\" só existe no banco de demonstração.");
            } else {
                d->password = o.password.empty() ? randomPassword() : o.password;
                saveOperator(*c, d->operatorName, d->password, o.password.empty());
            }
        }
        ServeOptions so;
        so.db = url;
        so.host = d->host;
        so.port = 0;
        so.workers = o.workers;
        so.today = today;
        so.log = o.log;
        d->server = std::make_unique<AppServer>(so);
        d->server->bind();
        d->thread = std::thread([server = d->server.get()] { server->run(); });
    } catch (const wire::WireError &e) {
        throw std::runtime_error("Data inválida para o servidor embutido: " + std::string(e.what()));
    } catch (const std::invalid_argument &e) {
        throw std::runtime_error(e.what()); // a bad URL, which the message names already
    } catch (const std::exception &e) {
        throw std::runtime_error("Não foi possível iniciar o servidor embutido com o banco \"" + shown + "\": " +
                                 e.what());
    }
}

EmbeddedServer::~EmbeddedServer()
{
    if (d->server)
        d->server->stop();
    if (d->thread.joinable())
        d->thread.join();
}

const std::string &EmbeddedServer::host() const { return d->host; }
int EmbeddedServer::port() const { return d->server->port(); }
const std::string &EmbeddedServer::operatorName() const { return d->operatorName; }
const std::string &EmbeddedServer::password() const { return d->password; }
std::string EmbeddedServer::databaseUrl() const { return d->databaseUrl; }

} // namespace erp::server
