#include "shellconfig.h"

#include <erpfw/core/error.h>
#include <erpdb/dburl.h>
#include <server/cli/secrets.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <functional>
#include <stdexcept>

namespace erp::app {
namespace {

using Setter = std::function<void(ShellConfig &, const QString &value)>;

struct Option
{
    const char *name; // as on the command line, without "--"; also the settings file's key
    const char *valueName;
    const char *description;
    Setter set;
};

[[noreturn]] void bad(const QString &text)
{
    throw Error(text);
}

void requireValue(const QString &value)
{
    if (value.trimmed().isEmpty())
        bad(QStringLiteral("o valor não pode ser vazio"));
}

void setDb(ShellConfig &c, const QString &v)
{
    try {
        DatabaseUrl::parse(v.toStdString());
    } catch (const std::invalid_argument &e) {
        bad(QString::fromStdString(e.what()));
    }
    c.dbUrl = v;
}

void setServer(ShellConfig &c, const QString &v)
{
    const QUrl url(v, QUrl::StrictMode);
    const bool pathOk = url.path().isEmpty() || url.path() == QLatin1String("/");
    const bool tls = url.scheme() == QLatin1String("https");
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && !tls) || url.host().isEmpty() || !pathOk
        || url.hasQuery() || url.hasFragment())
        bad(QStringLiteral("use http://HOST:PORTA ou https://HOST:PORTA"));
    if (url.port() < 1)
        bad(QStringLiteral("informe a porta do servidor (%1://HOST:PORTA)").arg(url.scheme()));
    c.serverHost = url.host();
    c.serverPort = url.port();
    c.serverTls = tls;
}

void setCaFile(ShellConfig &c, const QString &v)
{
    requireValue(v);
    if (!QFileInfo(v).isFile() || !QFileInfo(v).isReadable())
        bad(QStringLiteral("arquivo %1 não encontrado ou ilegível").arg(v));
    c.caFile = v;
}

void setGzip(ShellConfig &c, const QString &v)
{
    if (v != QLatin1String("auto") && v != QLatin1String("on") && v != QLatin1String("off"))
        bad(QStringLiteral("use auto, on ou off"));
    c.gzip = v;
}

void setOperator(ShellConfig &c, const QString &v)
{
    requireValue(v);
    if (v.trimmed() != v || v.size() > 30)
        bad(QStringLiteral("nome de operador inválido (até 30 caracteres, sem espaços nas pontas)"));
    c.operatorName = v;
}

void setToken(ShellConfig &c, const QString &v)
{
    // What issue-token prints: base64url, no padding.
    static const QRegularExpression shape(QStringLiteral("^[A-Za-z0-9_-]{16,200}$"));
    if (!shape.match(v).hasMatch())
        bad(QStringLiteral("token de acesso inválido (use o texto que \"rec-appserver issue-token\" imprime)"));
    c.token = v;
}

// A file only its owner may read, or standard input for "-".
QString readSecret(const QString &path)
{
    requireValue(path);
    try {
        return QString::fromStdString(server::readSecretFile(path.toStdString()));
    } catch (const std::runtime_error &e) {
        bad(QString::fromStdString(e.what()));
    }
}

void setBranch(ShellConfig &c, const QString &v)
{
    static const QRegularExpression code(QStringLiteral("^[A-Za-z0-9]{1,4}$"));
    if (!code.match(v).hasMatch())
        bad(QStringLiteral("código de filial inválido (até 4 letras ou dígitos)"));
    c.branch = v;
}

void setToday(ShellConfig &c, const QString &v)
{
    static const QRegularExpression shape(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    const QDate date = QDate::fromString(v, Qt::ISODate);
    if (!shape.match(v).hasMatch() || !date.isValid())
        bad(QStringLiteral("data inválida (use AAAA-MM-DD)"));
    c.today = date;
}

void setOpen(ShellConfig &c, const QString &v)
{
    static const QRegularExpression code(QStringLiteral("^[A-Za-z0-9]{1,32}$"));
    if (!code.match(v).hasMatch())
        bad(QStringLiteral("código de tela inválido"));
    c.openCode = v.toUpper();
}

const QList<Option> &options()
{
    static const QList<Option> list{
        {"db", "URL", "banco de dados: sqlite:CAMINHO ou postgresql://usuario@host:porta/banco (a senha do banco em ~/.pgpass, PGPASSFILE ou ?passfile=ARQUIVO)", setDb},
        {"server", "http://HOST:PORTA", "servidor de aplicação; sem ele o servidor roda dentro do sistema, sobre o banco de dados; https://HOST:PORTA para conexão segura (TLS), com o certificado do servidor verificado", setServer},
        {"ca-file", "ARQUIVO", "autoridades certificadoras (PEM) que validam o certificado do servidor https (padrão: as do sistema, /etc/ssl/certs)", setCaFile},
        {"gzip", "auto|on|off", "compressão das chamadas grandes e das respostas; auto (padrão): ligada, exceto com o servidor no próprio computador", setGzip},
        {"operator", "NOME", "operador", setOperator},
        {"password", "SENHA", "senha do operador (visível a outros usuários da máquina: prefira --password-file ou ERP_PASSWORD)", [](ShellConfig &c, const QString &v) { c.password = v; }},
        {"password-file", "ARQUIVO", "senha do operador: a primeira linha de um arquivo que só o dono lê, ou da entrada padrão com \"-\"", [](ShellConfig &c, const QString &v) { c.password = readSecret(v); }},
        {"token", "TOKEN", "token de acesso do operador (rec-appserver issue-token), enviado no lugar da senha (visível a outros usuários da máquina: prefira --token-file ou ERP_TOKEN)", setToken},
        {"token-file", "ARQUIVO", "token de acesso: a primeira linha de um arquivo que só o dono lê, ou da entrada padrão com \"-\"", [](ShellConfig &c, const QString &v) { setToken(c, readSecret(v)); }},
        {"branch", "CÓDIGO", "filial de processamento", setBranch},
        {"today", "AAAA-MM-DD", "data tomada como hoje", setToday},
        {"data-dir", "PASTA", "pasta de dados (banco de demonstração, opções salvas)",
         [](ShellConfig &c, const QString &v) { requireValue(v); c.dataDir = v; }},
        {"script", "ARQUIVO.js", "executa um roteiro",
         [](ShellConfig &c, const QString &v) { requireValue(v); c.scriptFile = v; }},
        {"open", "CÓDIGO", "tela aberta ao iniciar (padrão: REC00800)", setOpen},
        {"screenshot", "ARQUIVO", "abre a tela inicial, salva uma imagem PNG da janela e sai",
         [](ShellConfig &c, const QString &v) { requireValue(v); c.screenshotFile = v; }},
    };
    return list;
}

const Option *findOption(const QString &name)
{
    for (const Option &o : options()) {
        if (name == QLatin1String(o.name))
            return &o;
    }
    return nullptr;
}

void apply(ShellConfig &c, const Option &option, const QString &value, const QString &where)
{
    try {
        option.set(c, value);
    } catch (const Error &e) {
        bad(QStringLiteral("%1: %2.").arg(where, e.message()));
    }
}

void readSettingsFile(ShellConfig &c, const QString &file)
{
    QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        bad(QStringLiteral("Arquivo de configuração %1 ilegível.").arg(file));
    for (const QString &key : settings.allKeys()) {
        const Option *option = findOption(key);
        if (!option || key == QLatin1String("script") || key == QLatin1String("screenshot"))
            bad(QStringLiteral("Arquivo de configuração %1: chave desconhecida \"%2\".").arg(file, key));
        apply(c, *option, settings.value(key).toString(),
              QStringLiteral("Arquivo de configuração %1, chave \"%2\"").arg(file, key));
    }
    c.configFile = file;
    if ((settings.contains(QStringLiteral("password")) || settings.contains(QStringLiteral("token")))
        && server::readableByOthers(QFile::encodeName(file).toStdString()))
        c.warnings << QStringLiteral("aviso: o arquivo de configuração %1 guarda senha ou token e pode ser lido por "
                                     "outros usuários; deixe-o só para o dono (chmod 600).")
                          .arg(file);
}

// The parser knows every option so that its help lists them and it refuses the others.
void addOptions(QCommandLineParser &parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("config"), QStringLiteral("arquivo de configuração"), QStringLiteral("ARQUIVO")});
    for (const Option &o : options())
        parser.addOption({QString::fromUtf8(o.name), QString::fromUtf8(o.description), QString::fromUtf8(o.valueName)});
}

} // namespace

QString defaultConfigFile()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
        .filePath(QStringLiteral("erp-shell.ini"));
}

ShellConfig parseShellConfig(const QStringList &arguments)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            bad(QStringLiteral("Opção desconhecida: %1%2.")
                    .arg(unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), unknown.first()));
        bad(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty())
        bad(QStringLiteral("Argumento inesperado: %1.").arg(parser.positionalArguments().first()));

    // The settings file first, the command line over it.
    ShellConfig config;
    QString configFile;
    if (parser.isSet(QStringLiteral("config"))) {
        configFile = parser.value(QStringLiteral("config"));
        if (!QFileInfo(configFile).isFile())
            bad(QStringLiteral("--config: arquivo de configuração %1 não encontrado.").arg(configFile));
    }
    if (configFile.isEmpty() && QFileInfo(defaultConfigFile()).isFile())
        configFile = defaultConfigFile();
    if (!configFile.isEmpty())
        readSettingsFile(config, configFile);
    for (const Option &o : options()) {
        const QString name = QLatin1String(o.name);
        if (parser.isSet(name))
            apply(config, o, parser.value(name), QStringLiteral("--") + name);
    }

    // Secrets from the environment, when nothing above gave them.
    const QString envPassword = qEnvironmentVariable("ERP_PASSWORD");
    if (config.password.isEmpty() && !envPassword.isEmpty())
        config.password = envPassword;
    const QString envToken = qEnvironmentVariable("ERP_TOKEN");
    if (config.token.isEmpty() && !envToken.isEmpty() && !config.serverHost.isEmpty())
        apply(config, *findOption(QStringLiteral("token")), envToken, QStringLiteral("ERP_TOKEN"));

    if (!config.serverHost.isEmpty()) {
        // An outside server serves a known company database, operator and branch.
        if (config.dbUrl.isEmpty())
            bad(QStringLiteral("--server: informe também o banco de dados (--db) que as telas consultam."));
        if (config.operatorName.isEmpty())
            bad(QStringLiteral("--server: informe também o operador (--operator)."));
        if (config.branch.isEmpty())
            bad(QStringLiteral("--server: informe também a filial de processamento (--branch)."));
    } else if (!config.token.isEmpty()) {
        bad(QStringLiteral("--token: o token vale só para um servidor externo; informe também --server."));
    }
    return config;
}

QString usageText()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sistema ERP: abre as telas dos módulos; sem --server, o servidor de aplicação roda\n"
                       "dentro do sistema, sobre um banco de demonstração na pasta de dados.\n"
                       "As chaves do arquivo de configuração têm os nomes das opções (db, server,\n"
                       "ca-file, gzip, operator, password, token, branch, today, data-dir, open); o\n"
                       "arquivo padrão é\n"
                       "%1.")
            .arg(defaultConfigFile()));
    addOptions(parser);
    // The usage line names the program, not the path it was started by.
    QString text = parser.helpText();
    const QString path = QCoreApplication::arguments().value(0);
    const qsizetype at = path.isEmpty() ? -1 : text.indexOf(path);
    if (at >= 0 && at < text.indexOf(QLatin1Char('\n')))
        text.replace(at, path.size(), QCoreApplication::applicationName());
    return text;
}

QString versionText()
{
    return QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion());
}

} // namespace erp::app
