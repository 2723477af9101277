// A server reply's value as the client decodes it. What decodes must encode again, by both
// encoders alike, and decode to the same packet.
#include <erpwire/json.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>

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

void checkValue(const QVariant &v)
{
    if (v.metaType() == QMetaType::fromType<Packet>())
        checkPacket(v.value<Packet>());
    else if (v.typeId() == QMetaType::QVariantList)
        for (const QVariant &item : v.toList())
            checkValue(item);
    (void)encodeValue(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
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
