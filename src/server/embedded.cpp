#include "embedded.h"
#include "appserver.h"
#include "auth.h"
#include "schema.h"
#include "seed.h"

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

} // namespace

EmbeddedServer::EmbeddedServer(const EmbeddedOptions &o) : d(std::make_unique<Impl>())
{
    try {
        std::optional<QDate> today;
        if (!o.today.empty())
            today = wire::parseDate(QString::fromStdString(o.today));
        const db::DbUrl url = db::DbUrl::parse("sqlite:" + o.databasePath);
        QDir().mkpath(QFileInfo(QString::fromStdString(o.databasePath)).absolutePath());
        d->databaseUrl = "sqlite:" + o.databasePath;
        {
            auto c = db::connect(url);
            migrate(*c);
            if (!db::queryInt(*c, "SELECT COUNT(*) FROM EMPRESA")) {
                SeedOptions s;
                s.accounts = o.demoAccounts;
                s.seed = o.demoSeed;
                s.today = today.value_or(QDate::currentDate());
                seed(*c, s);
            }
            d->operatorName = o.operatorName;
            d->password = randomPassword();
            saveOperator(*c, d->operatorName, d->password);
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
    } catch (const std::exception &e) {
        throw std::runtime_error("Não foi possível iniciar o servidor embutido com o banco \"" + o.databasePath +
                                 "\": " + e.what());
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
