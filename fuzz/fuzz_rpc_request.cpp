// A request body as the server receives it after authentication: read as a JSON-RPC call,
// its params checked and its method run on a small demo database. Only the refusals of the
// protocol may come out; any other failure, or a result that is not JSON, is a fault.
#include <server/db/db.h>
#include <server/db/pool.h>
#include <server/db/schema.h>
#include <server/demo/seed.h>
#include <server/rpc/rpc.h>

#include <erpwire/json.h>

#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace erp::server;

namespace {

const QDate kToday(2025, 6, 15);

struct Demo
{
    QTemporaryDir dir;
    std::unique_ptr<ConnectionPool> pool;

    Demo()
    {
        const auto url = db::DbUrl::parse("sqlite:" + dir.filePath(QStringLiteral("fuzz.db")).toStdString());
        auto c = db::connect(url);
        migrate(*c);
        SeedOptions options;
        options.accounts = 60;
        options.today = kToday;
        seed(*c, options);
        pool = std::make_unique<ConnectionPool>(url, 1);
    }
};

// The body arriving in pieces of a few bytes, so that tokens are cut at every place.
struct Pieces final : erp::wire::ByteStream
{
    Pieces(const QByteArray &body, qsizetype step) : body(body), step(step) {}
    const char *data() const override { return body.constData(); }
    qsizetype size() const override { return shown; }
    bool more() override
    {
        if (shown == body.size())
            return false;
        shown = std::min(body.size(), shown + step);
        return true;
    }
    const QByteArray &body;
    qsizetype step, shown = 0;
};

[[noreturn]] void fault(const char *what, const std::string &detail)
{
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Demo demo;
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    // read as it arrives, the body is taken or left as when it is whole, and read alike
    RpcCall direct, streamed;
    const bool taken = readUsualCall(body, direct);
    Pieces pieces(body, 1 + qsizetype(size % 7));
    if (readUsualCall(pieces, streamed) != taken)
        fault("lido aos pedaços e inteiro divergem", body.left(300).toStdString());
    // what the direct reader takes, the document reads the same
    if (taken) {
        RpcCall viaDocument;
        try {
            readCallDocument(body, viaDocument);
        } catch (const RpcError &e) {
            fault("o leitor direto aceitou o que o documento recusa", e.what());
        }
        if (!readAlike(direct, viaDocument) || !readAlike(streamed, viaDocument))
            fault("leitores divergem", body.left(300).toStdString());
    }
    RpcCall call;
    try {
        parseCall(body, kServerObject, call);
    } catch (const RpcError &e) {
        return 0;
    }
    CallContext ctx{demo.pool->acquire(), "fuzz", kToday};
    try {
        MethodResult r = (*call.handler)(ctx, Params(call.method, call.params, call.packets));
        QByteArray out = r.json;
        if (r.stream)
            while (r.stream->produce(out)) {
            }
        QJsonParseError perr;
        QJsonDocument::fromJson("[" + out + "]", &perr);
        if (perr.error != QJsonParseError::NoError)
            fault("resultado não é JSON", out.left(300).toStdString());
    } catch (const RpcError &e) {
        if (e.code() != rpc::InvalidParams && e.code() != rpc::Refused)
            fault("código inesperado", std::to_string(e.code()) + " " + e.what());
    } catch (const db::DbError &e) {
        // Checked params never reach the database as an error.
        fault("erro de banco", e.what());
    }
    return 0;
}
