// A scripted application server for scenarios: answers each method from a file and records
// every request, then runs the command given after "--" against it ("{port}" in the command
// becomes the server's port) and exits with the command's status.
//
//   scenario-stub --answers ANSWERS.json --record RECEIVED.jsonl -- COMMAND ARGS...
//
// ANSWERS.json: {"Method": [reply, reply, ...]}, each reply {"result": value} or
// {"error": {"code": n, "message": "..."}}; a method's replies are used in turn and the last
// one repeats; a reply's "delayMs" holds it back that long (a slow server). A method the file
// lacks gets the error -32601.

#include <httplib.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

struct Options
{
    QString answers;
    QString record;
    QStringList command;
};

[[noreturn]] void usage(const char *why)
{
    std::fprintf(stderr, "scenario-stub: %s\nuso: scenario-stub --answers ARQ --record ARQ -- COMANDO...\n", why);
    std::exit(2);
}

Options parse(const QStringList &args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--")) {
            o.command = args.mid(i + 1);
            break;
        }
        if (i + 1 >= args.size())
            usage("opção sem valor");
        if (args[i] == QLatin1String("--answers"))
            o.answers = args[++i];
        else if (args[i] == QLatin1String("--record"))
            o.record = args[++i];
        else
            usage("opção desconhecida");
    }
    if (o.answers.isEmpty() || o.record.isEmpty() || o.command.isEmpty())
        usage("faltam opções");
    return o;
}

class Replies
{
public:
    Replies(const QJsonObject &answers, const QString &recordFile)
        : m_answers(answers)
        , m_record(recordFile)
    {
        if (!m_record.open(QIODevice::WriteOnly | QIODevice::Truncate))
            usage("não foi possível criar o arquivo de registro");
    }

    // The JSON-RPC response to one request body, and how long to hold it back.
    QByteArray answer(const QByteArray &body, int &delayMs)
    {
        const std::lock_guard lock(m_mutex);
        delayMs = 0;
        const QJsonObject request = QJsonDocument::fromJson(body).object();
        const QString method = request.value(QLatin1String("method")).toString();
        m_record.write(QJsonDocument(QJsonObject{{QStringLiteral("method"), method},
                                                 {QStringLiteral("params"), request.value(QLatin1String("params"))}})
                           .toJson(QJsonDocument::Compact)
                       + '\n');
        m_record.flush();

        QJsonObject response{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                             {QStringLiteral("id"), request.value(QLatin1String("id"))}};
        const QJsonArray replies = m_answers.value(method).toArray();
        if (replies.isEmpty()) {
            response.insert(QStringLiteral("error"),
                            QJsonObject{{QStringLiteral("code"), -32601},
                                        {QStringLiteral("message"), QStringLiteral("Método %1 sem resposta roteirizada.").arg(method)}});
        } else {
            const int turn = m_turns[method]++;
            const QJsonObject reply = replies.at(qMin<qsizetype>(turn, replies.size() - 1)).toObject();
            for (auto it = reply.begin(); it != reply.end(); ++it) {
                if (it.key() == QLatin1String("delayMs"))
                    delayMs = it.value().toInt();
                else
                    response.insert(it.key(), it.value());
            }
        }
        return QJsonDocument(response).toJson(QJsonDocument::Compact);
    }

private:
    std::mutex m_mutex;
    QJsonObject m_answers;
    QFile m_record;
    QHash<QString, int> m_turns;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options options = parse(QCoreApplication::arguments());

    QFile file(options.answers);
    if (!file.open(QIODevice::ReadOnly))
        usage("arquivo de respostas ilegível");
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (!doc.isObject())
        usage("arquivo de respostas não é um objeto JSON");
    Replies replies(doc.object(), options.record);

    httplib::Server server;
    server.Get("/health", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(R"({"server":"scenario-stub"})", "application/json");
    });
    server.Post(R"(/rpc/([A-Za-z0-9_.]+))", [&replies](const httplib::Request &req, httplib::Response &res) {
        int delayMs = 0;
        const QByteArray body = replies.answer(QByteArray::fromStdString(req.body), delayMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        res.set_content(body.toStdString(), "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0)
        usage("não foi possível abrir a porta");
    std::thread serving([&server] { server.listen_after_bind(); });

    QStringList command = options.command;
    for (QString &arg : command)
        arg.replace(QLatin1String("{port}"), QString::number(port));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(command.first(), command.mid(1));
    int status = 127;
    if (child.waitForStarted(-1) && child.waitForFinished(-1))
        status = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 128;
    else
        std::fprintf(stderr, "scenario-stub: não foi possível executar %s\n", qUtf8Printable(command.first()));

    server.stop();
    serving.join();
    return status;
}
