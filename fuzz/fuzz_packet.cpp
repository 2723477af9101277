// A server reply's value as the client decodes it. What decodes must encode again, by both
// encoders alike, and decode to the same packet; loaded into a dataset as the screens load it
// (the account list's fields, or fields taken from the packet), every value reads and shows.
// The direct reader of replies reads the same bytes to the same value, or leaves them.
#include <erpfw/core/error.h>
#include <erpfw/data/clientdataset.h>
#include <erpwire/json.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>
#include <utility>

using namespace erp::wire;

namespace {

[[noreturn]] void fault(const char *what, const QByteArray &a, const QByteArray &b = {})
{
    std::fprintf(stderr, "%s\n  %s\n  %s\n", what, a.left(400).constData(), b.left(400).constData());
    std::abort();
}

QByteArray text(const QJsonValue &v)
{
    return QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
}

void checkPacket(const Packet &p)
{
    const QByteArray tree = text(encodePacket(p));
    QByteArray streamed;
    appendPacketJson(streamed, p);
    // in blocks as a long request goes out: the same text, every block but the last full
    QByteArray blocks, block;
    appendPacketJson(block, p, 16, [&](QByteArray &full) {
        if (full.size() < 16)
            fault("bloco entregue antes de cheio", full);
        blocks.append(std::exchange(full, QByteArray()));
    });
    if (blocks + block != streamed)
        fault("o texto em blocos difere do inteiro", streamed, blocks + block);
    const QJsonDocument doc = QJsonDocument::fromJson(streamed);
    if (!doc.isObject())
        fault("o codificador em fluxo não gerou um objeto", streamed);
    if (text(doc.object()) != tree)
        fault("os dois codificadores divergem", tree, streamed);
    Packet again;
    try {
        again = decodePacket(doc.object());
    } catch (const WireError &e) {
        fault("pacote codificado não decodifica", streamed, e.what());
    }
    if (text(encodePacket(again)) != tree)
        fault("ida e volta muda o pacote", tree, text(encodePacket(again)));
    for (int r = 0; r < p.rowCount(); ++r)
        for (int c = 0; c < p.fieldCount(); ++c)
            (void)p.value(r, c);
}

// The account list's data fields, with the display formats the screen gives them.
void defineAccounts(erp::ClientDataSet &ds)
{
    static const QList<FieldDef> layout = [] {
        const QJsonObject seed = QJsonDocument::fromJson(R"({"fields":[
            {"name":"IDMARCADO","type":"fixedstring","size":1},{"name":"DTATUAVENREC","type":"datetime"},
            {"name":"NRPARCELAREC","type":"string","size":2},{"name":"NMRAZSOCCLIE","type":"string","size":50},
            {"name":"IDSTATREC","type":"string","size":1},{"name":"VRATUAREC","type":"float"},
            {"name":"CDSERIE","type":"string","size":5},{"name":"NRNOTAFISC","type":"string","size":20},
            {"name":"CDFILIAL","type":"string","size":4},{"name":"DTENTRSAID","type":"datetime"},
            {"name":"ATIVO","type":"boolean"},{"name":"QTD","type":"integer"},{"name":"DT","type":"date"}],
            "rows":[]})").object();
        return decodePacket(seed).fields();
    }();
    for (const FieldDef &f : layout) {
        erp::Field *field = ds.addField(f.name, f.type, f.size);
        if (f.type == FieldType::Float)
            field->setDisplayFormat(QStringLiteral("#,##0.00"));
    }
}

void load(erp::ClientDataSet &ds, const Packet &p)
{
    try {
        ds.setPacket(p);
    } catch (const erp::Error &) {
        return; // a packet that does not fit is refused whole
    }
    for (int recNo = 1; recNo <= ds.recordCount(); ++recNo) {
        ds.moveTo(recNo);
        for (erp::Field *f : ds.fields()) {
            (void)f->asString();
            (void)f->text();
            if (f->dataType() == FieldType::Float || f->dataType() == FieldType::Integer)
                (void)f->asFloat();
            if (f->dataType() == FieldType::Date || f->dataType() == FieldType::DateTime)
                (void)f->asDateTime();
        }
    }
    const Packet back = ds.packet();
    if (back.rowCount() != p.rowCount())
        fault("o conjunto de dados perdeu linhas", text(encodePacket(p)), text(encodePacket(back)));
}

void checkValue(const QVariant &v)
{
    if (v.metaType() == QMetaType::fromType<Packet>()) {
        checkPacket(v.value<Packet>());
        erp::ClientDataSet accounts;
        accounts.setObjectName(QStringLiteral("cdsContRec"));
        defineAccounts(accounts);
        load(accounts, v.value<Packet>());
        erp::ClientDataSet loose;
        loose.setObjectName(QStringLiteral("cdsErrosTemp"));
        load(loose, v.value<Packet>());
    }
    else if (v.typeId() == QMetaType::QVariantList)
        for (const QVariant &item : v.toList())
            checkValue(item);
    (void)encodeValue(v);
}

// The input as the result of a reply: whatever the direct reader takes, the tree path takes
// too and gives the same value.
void checkReader(const QByteArray &input)
{
    const QByteArray reply = R"({"jsonrpc":"2.0","id":1,"result":)" + input + "}";
    const std::optional<QVariant> direct = readRpcResult(reply.constData(), reply.size(), 1);
    if (!direct)
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(reply);
    if (!doc.isObject())
        fault("o leitor direto aceitou o que o JSON recusa", reply);
    QVariant tree;
    try {
        tree = decodeValue(doc.object().value(QLatin1String("result")));
    } catch (const WireError &e) {
        fault("o leitor direto aceitou um valor inválido", reply, e.what());
    }
    if (text(encodeValue(*direct)) != text(encodeValue(tree)))
        fault("o leitor direto e a árvore divergem", text(encodeValue(*direct)), text(encodeValue(tree)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkReader(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (doc.isNull())
        return 0;
    const QJsonValue json = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
    QVariant value;
    try {
        value = decodeValue(json);
    } catch (const WireError &) {
        return 0;
    }
    checkValue(value);
    return 0;
}
