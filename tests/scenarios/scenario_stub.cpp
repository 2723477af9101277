// A scripted application server for scenarios: answers each method from a file and records
// every request, then runs the command given after "--" against it ("{port}" in the command
// becomes the server's port) and exits with the command's status.
//
//   scenario-stub --answers ANSWERS.json --record RECEIVED.jsonl -- COMMAND ARGS...
//
// ANSWERS.json: {"Method": [reply, reply, ...]}, each reply {"result": value} or
// {"error": {"code": n, "message": "..."}}; a method's replies are used in turn and the last
// one repeats; a reply's "delayMs" holds it back that long (a slow server); "repeatRows": n
// makes its packet n rows long, its rows repeated; "stallMs" sends the first half of the rows
// at once and the rest that much later, and records {"method": ..., "stopped": true} when the
// client goes away meanwhile. A method the file lacks gets the error -32601.

#include <httplib.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <chrono>
#include <csignal>
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

    struct Answer
    {
        QString method;
        QByteArray body;
        int delayMs = 0;
        int stallMs = 0;
        qsizetype split = 0; // where the stall comes: after half the rows
    };

    // The JSON-RPC response to one request body, and how to send it.
    Answer answer(const QByteArray &body)
    {
        const std::lock_guard lock(m_mutex);
        Answer a;
        const QJsonObject request = QJsonDocument::fromJson(body).object();
        const QString method = request.value(QLatin1String("method")).toString();
        a.method = method;
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
                    a.delayMs = it.value().toInt();
                else if (it.key() == QLatin1String("stallMs"))
                    a.stallMs = it.value().toInt();
                else if (it.key() != QLatin1String("repeatRows"))
                    response.insert(it.key(), it.value());
            }
            if (const int n = reply.value(QLatin1String("repeatRows")).toInt(); n > 0) {
                QJsonObject packet = response.value(QLatin1String("result")).toObject();
                const QJsonArray rows = packet.value(QLatin1String("rows")).toArray();
                QJsonArray repeated;
                for (int i = 0; i < n && !rows.isEmpty(); ++i)
                    repeated.append(rows.at(i % rows.size()));
                packet.insert(QStringLiteral("rows"), repeated);
                response.insert(QStringLiteral("result"), packet);
            }
        }
        a.body = QJsonDocument(response).toJson(QJsonDocument::Compact);
        if (a.stallMs > 0) {
            // rows hold plain values, so "],[" is found only between two of them
            const qsizetype half = response.value(QLatin1String("result")).toObject().value(QLatin1String("rows")).toArray().size() / 2;
            qsizetype at = a.body.indexOf("\"rows\":[");
            for (qsizetype i = 0; i < half && at >= 0; ++i)
                at = a.body.indexOf("],[", at + 1);
            a.split = at < 0 ? 0 : at + 2; // after the comma, where spaces may come
        }
        return a;
    }

    void stopped(const QString &method)
    {
        const std::lock_guard lock(m_mutex);
        m_record.write(QJsonDocument(QJsonObject{{QStringLiteral("method"), method}, {QStringLiteral("stopped"), true}})
                           .toJson(QJsonDocument::Compact)
                       + '\n');
        m_record.flush();
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
    std::signal(SIGPIPE, SIG_IGN); // a write to a client gone fails instead
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
        const Replies::Answer a = replies.answer(QByteArray::fromStdString(req.body));
        std::this_thread::sleep_for(std::chrono::milliseconds(a.delayMs));
        if (a.stallMs <= 0) {
            res.set_content(a.body.toStdString(), "application/json");
            return;
        }
        res.set_chunked_content_provider("application/json", [&replies, a](size_t, httplib::DataSink &sink) {
            if (!sink.write(a.body.constData(), size_t(a.split)))
                return false;
            // a space now and then (JSON allows it between rows) finds out whether the client is still there
            for (int waited = 0; waited < a.stallMs; waited += 50) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (!sink.write(" ", 1)) {
                    replies.stopped(a.method);
                    return false;
                }
            }
            sink.write(a.body.constData() + a.split, size_t(a.body.size() - a.split));
            sink.done();
            return true;
        });
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
