#include <erpwire/json.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <random>

using namespace erp::wire;

namespace {

Packet accounts()
{
    Packet p({{"IDMARCADO", FieldType::FixedString, 1},
              {"DTATUAVENREC", FieldType::DateTime, 0},
              {"NMRAZSOCCLIE", FieldType::String, 50},
              {"VRATUAREC", FieldType::Float, 0},
              {"DTENTRSAID", FieldType::Date, 0},
              {"ATIVO", FieldType::Boolean, 0},
              {"QTD", FieldType::Integer, 0}});
    p.appendRow({"N", QDateTime(QDate(2026, 12, 8), QTime(9, 5, 37), Qt::UTC), QString::fromUtf8("Ação \"Ltda\"\n"),
                 1234.5, QDate(2026, 1, 31), true, 3.0});
    p.appendRow({"S", QVariant(), QVariant(), QVariant(), QDate(), QVariant(), QVariant()});
    return p;
}

QByteArray streamed(const Packet &p)
{
    QByteArray out;
    appendPacketJson(out, p);
    return out;
}

} // namespace

TEST(Packet, RoundTripKeepsTypesNullsAndTheZeroDate)
{
    const Packet p = accounts();
    // both encoders must agree, and both must decode to the same packet
    const QByteArray viaTree = QJsonDocument(encodePacket(p).toObject()).toJson(QJsonDocument::Compact);
    const QByteArray viaStream = streamed(p);
    EXPECT_EQ(QJsonDocument::fromJson(viaTree), QJsonDocument::fromJson(viaStream));

    const Packet back = decodePacket(QJsonDocument::fromJson(viaStream).object());
    ASSERT_EQ(back.fields(), p.fields());
    ASSERT_EQ(back.rowCount(), 2);
    for (int c = 0; c < p.fieldCount(); ++c)
        EXPECT_EQ(back.value(0, c), p.value(0, c)) << c;
    EXPECT_EQ(back.string(0, 2), QString::fromUtf8("Ação \"Ltda\"\n"));
    EXPECT_TRUE(back.isNull(1, 1));
    EXPECT_TRUE(back.isNull(1, 4)); // the zero date travels as null
    EXPECT_EQ(back.string(1, 2), QString());
    EXPECT_EQ(back.number(1, 3), 0.0);
    EXPECT_TRUE(viaStream.contains("\"2026-12-08T09:05:37\""));
    EXPECT_TRUE(viaStream.contains("\"2026-01-31\""));

    // a number JSON has no word for, and a year before 1000, among cells written directly
    Packet odd = p;
    odd.appendRow({"N", QDateTime(QDate(987, 3, 4), QTime(5, 6, 7), Qt::UTC), "x", std::nan(""),
                   QDate(45, 2, 3), false, 7.0});
    EXPECT_TRUE(streamed(odd).endsWith(R"(["N","0987-03-04T05:06:07","x",null,"0045-02-03",false,7]]})"));
}

TEST(Packet, PacketWithoutRowsKeepsItsFieldsAndNeverOpenedIsEmpty)
{
    Packet p({{"CDERROTEMP", FieldType::String, 3}});
    EXPECT_EQ(streamed(p), QByteArray(R"({"fields":[{"name":"CDERROTEMP","type":"string","size":3}],"rows":[]})"));
    EXPECT_EQ(streamed(Packet()), QByteArray(R"({"fields":[],"rows":[]})"));
}

TEST(Packet, BadPacketsAreRefusedWholeWithAClearMessage)
{
    const auto decode = [](const char *json) { return decodePacket(QJsonDocument::fromJson(json).object()); };
    EXPECT_THROW(decode(R"({"fields":[{"name":"A","type":"blob"}],"rows":[]})"), WireError);
    EXPECT_THROW(decode(R"({"fields":[{"name":"A","type":"string"}],"rows":[]})"), WireError); // no size
    EXPECT_THROW(decode(R"({"fields":[{"name":"A","type":"string","size":2}],"rows":[["abc"]]})"), WireError);
    EXPECT_THROW(decode(R"({"fields":[{"name":"A","type":"date"}],"rows":[["2026-02-30"]]})"), WireError);
    EXPECT_THROW(decode(R"({"fields":[{"name":"A","type":"float"}],"rows":[["1"]]})"), WireError);
    EXPECT_THROW(decode(R"({"fields":[{"name":"A","type":"float"}],"rows":[[1,2]]})"), WireError);
    EXPECT_THROW(decode(R"({"rows":[]})"), WireError);
    try {
        decode(R"({"fields":[{"name":"NRPARCELAREC","type":"string","size":2}],"rows":[["123"]]})");
        FAIL();
    } catch (const WireError &e) {
        EXPECT_TRUE(e.message().contains("NRPARCELAREC")) << e.what();
    }
}

TEST(Packet, SizesCountCharactersNotBytes)
{
    Packet p({{"NM", FieldType::String, 3}});
    p.appendRow({QString::fromUtf8("ção")});
    EXPECT_EQ(p.string(0, 0), QString::fromUtf8("ção"));
    EXPECT_THROW(p.appendRow({QString::fromUtf8("ação")}), WireError);
    EXPECT_EQ(p.rowCount(), 1); // the refused row is not half there
}

TEST(Packet, CopiesShareUntilWritten)
{
    Packet a = accounts();
    Packet b = a;
    b.setValue(0, 0, "S");
    EXPECT_EQ(a.string(0, 0), "N");
    EXPECT_EQ(b.string(0, 0), "S");
}

// A packet is fitted each time a dataset takes one: in another order every kind of value and
// null must land in its own column; in the same order, whatever the letter case, nothing is copied.
TEST(Fit, ReordersEveryKindOfValueAndSharesAPacketAlreadyInOrder)
{
    const Packet p = accounts();
    QList<FieldDef> reversed = p.fields();
    std::reverse(reversed.begin(), reversed.end());
    const Packet back = fitPacket(fitPacket(p, reversed, "cdsOutro"), p.fields(), "cdsContRec");
    EXPECT_EQ(streamed(back), streamed(p));

    QList<FieldDef> lower = p.fields();
    for (FieldDef &f : lower)
        f.name = f.name.toLower();
    EXPECT_EQ(fitPacket(p, lower, "cdsContRec").utf8View(0, 2).data(), p.utf8View(0, 2).data());

    QList<FieldDef> longer = p.fields();
    longer[2].size = 60;
    try {
        fitPacket(p, longer, "cdsContRec");
        ADD_FAILURE() << "a field of another size was taken";
    } catch (const WireError &e) {
        EXPECT_TRUE(e.message().contains("NMRAZSOCCLIE") && e.message().contains("cdsContRec")) << e.what();
    }
}

TEST(Value, VariantsEncodeAsTheProtocolSays)
{
    const QVariantList params{QString("01"), QDate(), QDate(2026, 3, 1), 0.0, true,
                              QVariant::fromValue(Packet())};
    const QJsonValue v = encodeValue(params);
    EXPECT_EQ(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact),
              QByteArray(R"(["01",null,"2026-03-01",0,true,{"fields":[],"rows":[]}])"));
    const QVariantList back = decodeValue(v).toList();
    EXPECT_EQ(back[0].toString(), "01");
    EXPECT_TRUE(back[1].isNull());
    EXPECT_EQ(parseDate(back[2].toString()), QDate(2026, 3, 1));
    EXPECT_EQ(back[5].value<Packet>().fieldCount(), 0);
    EXPECT_THROW(parseDate(u"01/03/2026"), WireError);
}

// Found by fuzz/fuzz_packet: "-024-01-31" was read as the year -24, which no "YYYY-MM-DD"
// can carry back, so the packet did not survive its own encoding.
TEST(Value, DatesAreReadFromDigitsOnlyAndAlwaysGoBackAsRead)
{
    for (const char16_t *bad : {u"-024-01-31", u"+024-01-31", u" 024-01-31", u"2024-+1-31", u"2024-01- 3",
                                u"0000-01-01", u"-024-01-31T00:00:00"}) {
        EXPECT_THROW(parseDate(bad), WireError) << QString::fromUtf16(bad).toStdString();
        EXPECT_THROW(parseDateTime(bad), WireError) << QString::fromUtf16(bad).toStdString();
    }
    EXPECT_EQ(parseDate(u"0024-01-31"), QDate(24, 1, 31));
    EXPECT_EQ(parseDateTime(u"2024-02-29T23:59:59"), QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), Qt::UTC));
    for (const char16_t *bad : {u"2024-02-29T24:00:00", u"2024-02-29T+1:00:00", u"2024-02-29T 1:00:00",
                                u"2024-02-29T10:60:00", u"2024-02-29T10:00:60", u"2024-02-29T10-00-00"})
        EXPECT_THROW(parseDateTime(bad), WireError) << QString::fromUtf16(bad).toStdString();

    const QJsonObject packet = QJsonDocument::fromJson(R"({"fields":[{"name":"DT","type":"date"},
        {"name":"DTH","type":"datetime"}],"rows":[["0024-01-31","0001-01-01T00:00:00"],[null,"-024-01-31T00:00:00"]]})")
                                   .object();
    EXPECT_THROW(decodePacket(packet), WireError);
    QJsonObject good = packet;
    good.insert("rows", QJsonArray{QJsonArray{"0024-01-31", "0001-01-01T00:00:00"}});
    const Packet p = decodePacket(good);
    EXPECT_EQ(streamed(p), QByteArray(R"({"fields":[{"name":"DT","type":"date"},{"name":"DTH","type":"datetime"}],)"
                                      R"("rows":[["0024-01-31","0001-01-01T00:00:00"]]})"));
}

// Found by fuzz/fuzz_packet under UBSan: an empty text written where the column had no bytes
// yet copied from no storage. Empty texts are values, not nulls, on every way a text is stored.
TEST(Packet, EmptyTextsAreStoredAsEmptyOnEveryPath)
{
    Packet p({{"IDMARCADO", FieldType::FixedString, 1}, {"DS", FieldType::String, 40}});
    p.appendRow();
    p.setString(0, 0, u"");          // the last row, into an empty column
    p.setString(0, 1, u"");
    p.appendRow();
    p.setString(1, 1, u"abc");
    p.setString(0, 1, u"");          // the same length in place
    p.setString(0, 1, u"xy");        // longer: moved aside
    p.setString(0, 1, u"");          // and back to empty where it was moved
    for (int col : {0, 1}) {
        EXPECT_FALSE(p.isNull(0, col));
    }
    EXPECT_EQ(p.string(0, 0), QString());
    EXPECT_EQ(p.string(0, 1), QString());
    EXPECT_EQ(p.string(1, 1), QStringLiteral("abc"));
    EXPECT_EQ(streamed(decodePacket(QJsonDocument::fromJson(streamed(p)).object())), streamed(p));
    EXPECT_EQ(streamed(p), QByteArray(R"({"fields":[{"name":"IDMARCADO","type":"fixedstring","size":1},)"
                                      R"({"name":"DS","type":"string","size":40}],"rows":[["",""],[null,"abc"]]})"));
}

namespace {

// What the tree path gives for a reply's result, as text: the reference the direct reader must
// match whenever it reads a reply at all.
QByteArray viaTree(const QByteArray &reply)
{
    const QJsonObject o = QJsonDocument::fromJson(reply).object();
    return QJsonDocument(QJsonArray{encodeValue(decodeValue(o.value("result")))}).toJson(QJsonDocument::Compact);
}

// The reply's bytes coming chunk bytes at a time, as the network gives them.
struct Trickle final : ByteStream
{
    Trickle(const QByteArray &bytes, qsizetype chunk) : bytes(bytes), chunk(chunk) {}
    const char *data() const override { return bytes.constData(); }
    qsizetype size() const override { return shown; }
    bool more() override
    {
        if (shown == bytes.size())
            return false;
        shown = std::min(bytes.size(), shown + chunk);
        return true;
    }
    const QByteArray &bytes;
    qsizetype chunk;
    qsizetype shown = 0;
};

// chunk 0: the whole reply at once; else read while it trickles in
std::optional<QByteArray> viaReader(const QByteArray &reply, double id = 7, qsizetype chunk = 0)
{
    Trickle in(reply, chunk);
    const auto v = chunk ? readRpcResult(in, id) : readRpcResult(reply.constData(), reply.size(), id);
    if (!v)
        return std::nullopt;
    return QJsonDocument(QJsonArray{encodeValue(*v)}).toJson(QJsonDocument::Compact);
}

QByteArray reply(const QByteArray &result)
{
    return R"({"jsonrpc":"2.0","id":7,"result":)" + result + "}";
}

} // namespace

TEST(Reader, ReadsRepliesStraightIntoPacketsAsTheTreeDoes)
{
    Packet big = accounts();
    for (int i = 0; i < 3000; ++i) // past the sample the reader sizes its columns from
        big.appendRow({"N", QDateTime(QDate(2026, 1, 1), QTime(12, 30, 5), Qt::UTC), QString::fromUtf8("Raz\u00e3o \U0001F600 %1").arg(i),
                       i * 0.25, QDate(2025, 12, 31), i % 2 == 0, double(i)});
    const QList<QByteArray> results{
        streamed(accounts()),
        streamed(big),
        streamed(Packet()),
        R"([])",
        R"(["01", null, true, false, -0, 0.5, 1e3, -12, 123456789012345678901234, "a\u00e7\u0000\/\"\\\b\f\n\r\t"])",
        R"({ "rows" : [ ] , "x" : {"y":[1,{}]}, "fields" : [ ] })",                       // rows first
        R"({"fields":[{"size":3,"name":"A","extra":[1],"type":"string"}],"rows":[["ab"],[null]]})",
        R"({"fields":[{"name":"N","type":"integer","size":"x"},{"name":"F","type":"float"}],"rows":[[-0,-0.0],[3,1.5e-3]]})",
        R"({"fields":[{"name":"A","type":"string","size":2}],"rows":[["\u00e7\n"]]})",
        R"({"fields":[{"name":"D","type":"datetime"}],"rows":[["2026-02-28"],["2026-02-28T10:11:12"]]})",
    };
    // numbers of up to fifteen digits are read by hand, the rest by from_chars: the same doubles
    QByteArray numbers = R"({"fields":[{"name":"V","type":"float"}],"rows":[)";
    std::mt19937_64 random(17);
    for (int i = 0; i < 3000; ++i) {
        const int digitCount = 1 + int(random() % 17), decimals = int(random() % (digitCount + 1));
        QByteArray n = random() % 2 ? "-" : "";
        for (int d = 0; d < digitCount; ++d) {
            if (d == digitCount - decimals)
                n += d == 0 ? "0." : ".";
            n += char('0' + random() % 10);
        }
        if (n.startsWith("0") && n.size() > 1 && n[1] != '.')
            n[0] = '1';
        if (n.startsWith("-0") && n.size() > 2 && n[2] != '.')
            n[1] = '1';
        numbers += "[" + n + "],";
    }
    numbers += "[0.00],[-0.0],[123456789012345],[-999999999999.99],[0.000000000000001],[9007199254740993],[1e2]]}";
    // dates and date-times are counted from their digits: leap days, both ends of the calendar
    const QByteArray dates =
        R"({"fields":[{"name":"D","type":"date"},{"name":"T","type":"datetime"}],"rows":[)"
        R"(["2000-02-29","2024-02-29T23:59:59"],["0001-01-01T00:00:00","0001-01-01"],["9999-12-31","9999-12-31T23:59:59"],)"
        R"(["1969-12-31","1969-12-31T23:59:59"],["1970-01-01","1970-01-01T00:00:00"],["1900-03-01","1600-02-29T12:00:00"]]})";
    // texts are passed over sixteen bytes at a time: whatever ends a run, wherever it falls
    QByteArray shifted = "[";
    for (int k = 0; k < 34; ++k)
        for (const char *stop : {"\\\"", "\\n", "\u00e7", "\\u0001", "\U0001F600", "\x7f"})
            shifted += '"' + QByteArray(k, 'a') + QByteArray(stop) + QByteArray(20, 'b') + "\",";
    shifted += "\"\"]";
    for (const QByteArray &r : results + QList<QByteArray>{shifted, numbers, dates}) {
        const QByteArray whole = reply(r);
        ASSERT_FALSE(QJsonDocument::fromJson(whole).isNull()) << r.left(200).toStdString();
        const auto direct = viaReader(whole);
        if (r.contains("\"rows\" : [ ] ,")) {
            EXPECT_FALSE(direct); // rows before fields: left to the tree
            continue;
        }
        ASSERT_TRUE(direct) << r.left(200).toStdString();
        EXPECT_EQ(*direct, viaTree(whole)) << r.left(200).toStdString();
        for (const qsizetype chunk : {1, 2, 3, 7, 4096})
            EXPECT_EQ(viaReader(whole, 7, chunk), direct) << chunk << " " << r.left(200).toStdString();
    }
    const QByteArray bigReply = reply(streamed(big));
    Trickle in(bigReply, 1000);
    std::atomic<qint64> rows{0};
    EXPECT_TRUE(readRpcResult(in, 7, &rows));
    EXPECT_EQ(rows.load(), big.rowCount());
    const auto p = readRpcResult(reply(streamed(big)).constData(), reply(streamed(big)).size(), 7);
    EXPECT_EQ(p->value<Packet>().rowCount(), big.rowCount());
    EXPECT_LE(p->value<Packet>().byteSize(), big.byteSize() * 11 / 10);
}

TEST(Reader, LeavesErrorsFaultsAndUnusualRepliesToTheTree)
{
    const QList<QByteArray> others{
        R"({"jsonrpc":"2.0","id":7,"error":{"code":-32000,"message":"x"}})",
        R"({"jsonrpc":"2.0","id":8,"result":1})",                      // another call's id
        R"({"jsonrpc":"1.0","id":7,"result":1})",
        R"({"jsonrpc":"2.0","id":7,"result":1,"result":2})",           // the tree keeps one
        R"({"jsonrpc":"2.0","id":7})",
        R"({"jsonrpc":"2.0","id":7,"result":1} x)",
        R"({"jsonrpc":"2.0","id":7,"result":[01]})",
        R"({"jsonrpc":"2.0","id":7,"result":[1e999]})",
        R"({"jsonrpc":"2.0","id":7,"result":[1e-400]})",
        R"({"jsonrpc":"2.0","id":7,"result":["\ud83d\ude00"]})",       // surrogates
        "{\"jsonrpc\":\"2.0\",\"id\":7,\"result\":[\"a\x01\"]}",       // a raw control character
        "{\"jsonrpc\":\"2.0\",\"id\":7,\"result\":[\"\xc3\x28\"]}",    // broken UTF-8
        "{\"jsonrpc\":\"2.0\",\"id\":7,\"result\":[\"\xed\xa0\x80\"]}", // an encoded surrogate
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"A","type":"string","size":2}],"rows":[["abc"]]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"A","type":"float"}],"rows":[[1,2]]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"A","type":"date"}],"rows":[["2026-02-30"]]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"A","type":"date"}],"rows":[["1900-02-29"]]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"A","type":"date"}],"rows":[["2026-01-01T00:00:01"]]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"A","type":"date"}],"rows":[["0000-01-01"]]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"A","type":"datetime"}],"rows":[["2026-01-01T24:00:00"]]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"A","type":"datetime"}],"rows":[["2026-1-01T00:00:00"]]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"A","type":"integer"}],"rows":[[1.5]]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[],"rows":[],"fields":[]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"A","type":"blob"}],"rows":[]}})",
        R"({"jsonrpc":"2.0","id":7,"result":{"rows":[]}})",
        R"({"jsonrpc":"2.0","id":7,"result":[)",
    };
    for (const QByteArray &r : others) {
        EXPECT_FALSE(viaReader(r)) << r.toStdString();
        EXPECT_FALSE(viaReader(r, 7, 1)) << r.toStdString();
    }
}

// Found by fuzz/fuzz_packet under UBSan: a number beyond 64 bits into an integer field was
// converted before it was checked.
TEST(Packet, IntegersBeyondSixtyFourBitsAreRefused)
{
    Packet p({{"QTD", FieldType::Integer, 0}});
    p.appendRow();
    for (double bad : {1e20, -1e20, -9223372036854775808.0, 9223372036854775808.0, 0.5, std::nan("")})
        EXPECT_THROW(p.setNumber(0, 0, bad), WireError) << bad;
    p.setNumber(0, 0, -9223372036854774784.0);
    EXPECT_FALSE(p.isNull(0, 0));
    EXPECT_EQ(p.number(0, 0), -9223372036854774784.0);
    const QByteArray r = R"({"jsonrpc":"2.0","id":7,"result":{"fields":[{"name":"QTD","type":"integer"}],"rows":[[1e20]]}})";
    EXPECT_FALSE(readRpcResult(r.constData(), r.size(), 7));
    EXPECT_THROW(decodeValue(QJsonDocument::fromJson(r).object().value("result")), WireError);
}

TEST(Packet, FieldNamesMatchInAnyLetterCaseAsUnicodeFoldsThem)
{
    const QList<std::pair<QString, QString>> pairs{
        {"CDFILIAL", "cdFilial"}, {"CDFILIAL", "CDFILIA"}, {"A", "B"}, {"", ""}, {"NR_1", "nr_1"},
        {QString::fromUtf8("AÇÃO"), QString::fromUtf8("ação")}, {QString::fromUtf8("AÇÃO"), "ACAO"},
        {QString::fromUtf8("\u212A"), "k"}, // the Kelvin sign folds to an ASCII letter
        {"@", "`"}, {"[", "{"},             // neighbours of the letters are not letters
    };
    for (const auto &[a, b] : pairs)
        EXPECT_EQ(sameFieldName(a, b), a.compare(b, Qt::CaseInsensitive) == 0) << a.toStdString() << " " << b.toStdString();

    Packet p({{"CDFILIAL", FieldType::String, 4}, {"VRATUAREC", FieldType::Float, 0}});
    EXPECT_EQ(p.indexOf(u"vratuarec"), 1);
    EXPECT_EQ(p.indexOf(u"VRATUARE"), -1);
    EXPECT_THROW(Packet({{"CDFILIAL", FieldType::String, 4}, {"cdfilial", FieldType::String, 4}}), WireError);
}

// The reader shares the fields it read last, and the empty packet made of them: neither may leak
// from one reply into the next.
TEST(Reader, FieldsReadBeforeAreSharedButNeverMixedUp)
{
    const QByteArray two = R"({"fields":[{"name":"CDFILIAL","type":"string","size":4},{"name":"VR","type":"float"}],"rows":[]})";
    const QByteArray three = R"({"fields":[{"name":"CDFILIAL","type":"string","size":4},{"name":"VR","type":"float"},)"
                             R"({"name":"DT","type":"date"}],"rows":[["0101",1.5,"2026-01-31"]]})";
    const QByteArray lower = R"({"fields":[{"name":"cdfilial","type":"string","size":4},{"name":"VR","type":"float"}],"rows":[]})";
    const QByteArray wider = R"({"fields":[{"name":"CDFILIAL","type":"string","size":5},{"name":"VR","type":"float"}],"rows":[]})";
    const QByteArray spaced = R"({"fields":[ {"name":"CDFILIAL","type":"string","size":4}, {"name":"VR","type":"float"} ],"rows":[["01",2]]})";
    const QByteArray twice = R"({"fields":[{"name":"A","type":"string","size":4},{"name":"a","type":"float"}],"rows":[]})";

    const auto read = [](const QByteArray &result) {
        const QByteArray r = reply(result);
        const auto v = readRpcResult(r.constData(), r.size(), 7);
        return v ? std::optional<Packet>(v->value<Packet>()) : std::nullopt;
    };
    auto first = read(two);
    ASSERT_TRUE(first);
    first->appendRow({"0102", 3.0}); // written by its caller: the next reply must not see it
    for (const QByteArray &r : {two, three, two, lower, wider, spaced, two}) {
        const auto p = read(r);
        ASSERT_TRUE(p) << r.toStdString();
        EXPECT_EQ(*viaReader(reply(r)), viaTree(reply(r))) << r.toStdString();
        EXPECT_EQ(streamed(*p), streamed(decodePacket(QJsonDocument::fromJson(r).object()))) << r.toStdString();
    }
    EXPECT_EQ(read(two)->rowCount(), 0);
    EXPECT_EQ(read(lower)->fields().first().name, QStringLiteral("cdfilial"));
    EXPECT_EQ(first->rowCount(), 1);
    EXPECT_FALSE(read(twice)); // repeated names: the tree refuses it, with its message
    EXPECT_FALSE(read(twice));
    EXPECT_EQ(read(two)->fieldCount(), 2);
}

// Texts of one length are kept without an offset a cell; any other length, null or empty text,
// in any order, reads back as written.
TEST(Packet, TextsOfOneLengthTakeNoOffsetAndAnyOtherStillReadsBack)
{
    const QList<QList<QVariant>> columns{
        {"0101", "0102", "0103", "0104"},
        {QVariant(), QVariant(), "AB", "CD"},
        {QVariant(), QVariant(), QVariant(), QVariant()},
        {"S", "N", "", "S"},
        {"01", "01", "123", QVariant()},
        {"", "", "", "x"},
        {"ab", QVariant(), QString::fromUtf8("çã"), "ab"},
    };
    for (const QList<QVariant> &values : columns) {
        Packet p({{"C", FieldType::String, 4}});
        for (const QVariant &v : values)
            p.appendRow({v});
        for (int r = 0; r < values.size(); ++r) {
            EXPECT_EQ(p.isNull(r, 0), values[r].isNull()) << r;
            EXPECT_EQ(p.string(r, 0), values[r].toString()) << r;
        }
        EXPECT_EQ(streamed(decodePacket(QJsonDocument::fromJson(streamed(p)).object())), streamed(p));
        // rewritten in the middle with other lengths, then the same length again
        p.setValue(1, 0, "ZZZ");
        p.setValue(2, 0, QVariant());
        p.setValue(0, 0, "Q");
        EXPECT_EQ(p.string(1, 0), QStringLiteral("ZZZ"));
        EXPECT_TRUE(p.isNull(2, 0));
        EXPECT_EQ(p.string(0, 0), QStringLiteral("Q"));
        EXPECT_EQ(p.string(3, 0), values[3].toString());
        // a refused row leaves the column as it was, in either layout
        const QByteArray before = streamed(p);
        EXPECT_THROW(p.appendRow({"longer than four"}), WireError);
        EXPECT_EQ(streamed(p), before);
        p.appendRow({"0105"});
        EXPECT_EQ(p.string(4, 0), QStringLiteral("0105"));
    }

    Packet codes({{"CDFILIAL", FieldType::String, 4}, {"IDMARCADO", FieldType::FixedString, 1}});
    for (int i = 0; i < 10000; ++i)
        codes.appendRow({QStringLiteral("%1").arg(i % 100, 4, 10, QLatin1Char('0')), i % 2 ? "S" : "N"});
    codes.squeeze();
    EXPECT_LE(codes.byteSize(), 10000 * (4 + 1) + 10000 / 4 + 64); // the text, and a bit a cell for nulls
    EXPECT_EQ(codes.string(9999, 0), QStringLiteral("0099"));
    codes.removeAllRows();
    codes.appendRow({"1", "N"});
    codes.appendRow({"22", "S"});
    EXPECT_EQ(codes.string(0, 0), QStringLiteral("1"));
    EXPECT_EQ(codes.string(1, 0), QStringLiteral("22"));
}

TEST(Packet, LayoutsWrittenInTurnEachKeepTheirOwnFields)
{
    const Packet a = accounts();
    Packet b({{"CDFILIAL", FieldType::String, 4}, {"VRAJUSTEREC", FieldType::Float, 0}});
    b.appendRow({"0101", 5.5});
    Packet wider({{"CDFILIAL", FieldType::String, 6}, {"VRAJUSTEREC", FieldType::Float, 0}});
    wider.appendRow({"0101", 5.5});
    const std::vector<const Packet *> order{&a, &b, &wider, &b};
    for (int turn = 0; turn < 2; ++turn) {
        for (const Packet *p : order) {
            const QByteArray tree = QJsonDocument(encodePacket(*p).toObject()).toJson(QJsonDocument::Compact);
            EXPECT_EQ(QJsonDocument::fromJson(streamed(*p)), QJsonDocument::fromJson(tree));
        }
    }
    EXPECT_TRUE(streamed(wider).contains(R"({"name":"CDFILIAL","type":"string","size":6})"));
    EXPECT_TRUE(streamed(b).contains(R"({"name":"CDFILIAL","type":"string","size":4})"));
}

TEST(Value, TextsAreWrittenAsJsonWritesThem)
{
    const QStringList texts{QString(), QStringLiteral("0101"), QStringLiteral("a\"b"), QStringLiteral("c:\\d"),
                            QStringLiteral("linha\nnova\t"), QString(QChar(0x1f)), QStringLiteral("Ação"),
                            QString(QChar(0x7f)), QStringLiteral("emoji \U0001F600 fim"),
                            // surrogates without their pair, which UTF-8 cannot carry
                            QString(QChar(0xd80e)), QStringLiteral("DT") + QChar(0xdc00) + QStringLiteral("NREC"),
                            QStringLiteral("fim ") + QChar(0xd83d), QString(QChar(0xdc00)) + QChar(0xd83d)};
    // texts are looked over sixteen bytes at a time: whatever is escaped, wherever it falls
    QStringList shifted;
    for (int k = 0; k < 34; ++k)
        for (const QString &stop : {QStringLiteral("\""), QStringLiteral("\\"), QStringLiteral("\n"), QString(QChar(0x1f)),
                                    QString(QChar(0x20)), QStringLiteral("\u00e7"), QString(QChar(0x7f))})
            shifted << QString(k, u'a') + stop + QString(20, u'b') + stop;
    for (const QString &text : texts + shifted) {
        QByteArray out = "[";
        appendJsonString(out, text);
        out.append(']');
        const QJsonDocument doc = QJsonDocument::fromJson(out);
        ASSERT_TRUE(doc.isArray()) << out.toStdString();
        EXPECT_EQ(doc.array().at(0).toString(), text) << out.toStdString();
    }
    // the server writes the database's UTF-8 as it comes
    for (const QString &text : shifted) {
        const QByteArray utf8 = text.toUtf8();
        QByteArray out = "[";
        appendJsonUtf8String(out, utf8.constData(), utf8.size());
        out.append(']');
        EXPECT_EQ(QJsonDocument::fromJson(out).array().at(0).toString(), text) << out.toStdString();
    }
}

// Money takes a shorter road than to_chars; every number must still read back the same.
TEST(Value, NumbersAreWrittenAsToCharsWritesThem)
{
    const auto expectSame = [](double v) {
        char mine[32], theirs[32];
        const std::string a(mine, writeJsonNumber(mine, v));
        const std::string b(theirs, std::to_chars(theirs, theirs + 32, v).ptr);
        EXPECT_EQ(a, b) << "value " << b;
    };
    for (double v : {0.0, -0.0, 0.01, -0.01, 0.05, 0.1, 0.29, 0.1 + 0.2, 1.5, 100.0, 1e6, 1.2e6, 1234.56, -1234.5,
                     99999999999.99, 9999999999999.99, 1e13, 12345678901234.5, 1e-7, 123.456, 2.0 / 3.0})
        expectSame(v);
    std::uint64_t x = 88172645463325252ull; // xorshift: the same values on every run
    for (int i = 0; i < 200000; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        const std::int64_t cents = std::int64_t(x % 2'000'000'000'000'000ull) - 1'000'000'000'000'000;
        expectSame(double(cents >> (i % 50)) / 100.0);
    }
}
