#include "support.h"

#include <erpfw/core/error.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/datasource.h>
#include <erpfw/data/keylist.h>
#include <erpwire/json.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

using namespace erp;
using wire::FieldType;
using wire::Packet;

namespace {

QList<wire::FieldDef> accountFields()
{
    return {{"IDMARCADO", FieldType::FixedString, 1}, {"DTATUAVENREC", FieldType::DateTime, 0},
            {"NRPARCELAREC", FieldType::String, 2},    {"VRATUAREC", FieldType::Float, 0},
            {"CDSERIE", FieldType::String, 5},         {"NRNOTAFISC", FieldType::String, 20}};
}

Packet accounts(int rows = 3)
{
    Packet p(accountFields());
    for (int i = 0; i < rows; ++i)
        p.appendRow({i == 1 ? "S" : "N", QDateTime(QDate(2024, 1, 10 + i), QTime(0, 0), Qt::UTC),
                     QString::number(i + 1), 1000.5 * (i + 1), i == 0 ? QVariant() : QVariant(QStringLiteral("A%1").arg(i)),
                     QStringLiteral("%1").arg(100 + i)});
    return p;
}

QByteArray json(const QVariant &packet)
{
    QByteArray out;
    wire::appendPacketJson(out, packet.value<Packet>());
    return out;
}

// The account dataset as a form defines it, with every event written to a log.
struct Accounts : ::testing::Test
{
    ClientDataSet cds;
    DataSource dts;
    QStringList log;

    void SetUp() override
    {
        cds.setObjectName(QStringLiteral("cdsContRec"));
        cds.addField(QStringLiteral("IDMARCADO"), FieldType::FixedString, 1);
        cds.addField(QStringLiteral("DTATUAVENREC"), FieldType::DateTime);
        cds.addField(QStringLiteral("NRPARCELAREC"), FieldType::String, 2);
        cds.addField(QStringLiteral("VRATUAREC"), FieldType::Float)->setDisplayFormat(QStringLiteral("#,##0.00"));
        cds.addCalculatedField(QStringLiteral("DOCUMENTO"), FieldType::String, 23);
        cds.addField(QStringLiteral("CDSERIE"), FieldType::String, 5);
        cds.addField(QStringLiteral("NRNOTAFISC"), FieldType::String, 20);
        cds.addCalculatedField(QStringLiteral("ESTADO"), FieldType::String, 10);
        cds.onCalcFields = [](ClientDataSet &ds) {
            const QString serie = ds.fieldByName(u"CDSERIE")->asString();
            const QString nota = ds.fieldByName(u"NRNOTAFISC")->asString();
            ds.fieldByName(u"DOCUMENTO")->setValue(serie.isEmpty() ? nota : nota + u'/' + serie);
            if (ds.state() != ClientDataSet::State::Edit)
                ds.fieldByName(u"ESTADO")->setValue(ds.stateName());
        };
        const auto logged = [this](const char *name) {
            return [this, name](ClientDataSet &) { log << QString::fromLatin1(name); };
        };
        cds.beforeOpen = logged("beforeOpen");
        cds.afterOpen = logged("afterOpen");
        cds.beforeClose = logged("beforeClose");
        cds.afterClose = logged("afterClose");
        cds.beforePost = logged("beforePost");
        cds.afterPost = logged("afterPost");
        cds.afterCancel = logged("afterCancel");
        cds.beforeScroll = logged("beforeScroll");
        cds.afterScroll = logged("afterScroll");
        dts.setDataSet(&cds);
        dts.onStateChange = [this](DataSource &s) { log << QStringLiteral("state:") + s.dataSet()->stateName(); };
    }

    QString text(const char *field) { return cds.fieldByName(QString::fromLatin1(field))->displayText(); }
};

} // namespace

TEST_F(Accounts, SetDataClosesOpensAndScrollsToTheFirstRow)
{
    cds.setData(QVariant::fromValue(accounts()));
    EXPECT_EQ(log, QStringList({"beforeOpen", "state:browse", "afterOpen", "afterScroll"}));
    EXPECT_EQ(cds.recNo(), 1);
    EXPECT_EQ(cds.recordCount(), 3);
    EXPECT_TRUE(cds.bof());

    log.clear();
    QSignalSpy rows(&dts, &DataSource::currentRowChanged);
    QSignalSpy reloads(&dts, &DataSource::dataSetChanged);
    cds.setData(QVariant::fromValue(accounts(2)));
    EXPECT_EQ(log, QStringList({"beforeClose", "state:inactive", "afterClose", "beforeOpen", "state:browse",
                                "afterOpen", "afterScroll"}));
    // the controls hear of the new rows and row once, never of the empty dataset in between
    EXPECT_EQ(reloads.count(), 1);
    ASSERT_EQ(rows.count(), 1);
    EXPECT_EQ(rows.first().first().toInt(), 0);

    log.clear();
    cds.setData(QVariant::fromValue(accounts(0)));
    EXPECT_EQ(log, QStringList({"beforeClose", "state:inactive", "afterClose", "beforeOpen", "state:browse",
                                "afterOpen"})); // no first row, no after-scroll
    EXPECT_TRUE(cds.isEmpty());
    EXPECT_EQ(cds.recNo(), 0);
    EXPECT_TRUE(cds.eof());

    // a load refused after the close leaves it closed, and the controls are told
    cds.setData(QVariant::fromValue(accounts(2)));
    rows.clear();
    reloads.clear();
    cds.beforeOpen = [](ClientDataSet &) { throw Error(QStringLiteral("recusado")); };
    EXPECT_FALSE(ERP_ERROR_TEXT(cds.setData(QVariant::fromValue(accounts(3)))).isEmpty());
    EXPECT_FALSE(cds.active());
    EXPECT_GE(reloads.count(), 1);
    ASSERT_GE(rows.count(), 1);
    EXPECT_EQ(rows.last().first().toInt(), -1);
}

TEST_F(Accounts, EditPostAndCancelRunTheirEventsInOrder)
{
    cds.setData(QVariant::fromValue(accounts()));
    log.clear();
    cds.edit();
    EXPECT_EQ(log, QStringList({"state:edit"}));
    cds.fieldByName(u"IDMARCADO")->setValue(QStringLiteral("S"));
    cds.post();
    EXPECT_EQ(log, QStringList({"state:edit", "beforePost", "state:browse", "afterPost"}));
    EXPECT_EQ(cds.fieldByName(u"IDMARCADO")->asString(), QStringLiteral("S"));

    log.clear();
    cds.edit();
    cds.fieldByName(u"IDMARCADO")->setValue(QStringLiteral("X"));
    EXPECT_EQ(cds.fieldByName(u"IDMARCADO")->asString(), QStringLiteral("X"));
    cds.cancel();
    EXPECT_EQ(log, QStringList({"state:edit", "state:browse", "afterCancel"}));
    EXPECT_EQ(cds.fieldByName(u"IDMARCADO")->asString(), QStringLiteral("S"));

    // a value can only be set while editing; a too long one is refused and nothing changes
    EXPECT_FALSE(ERP_ERROR_TEXT(cds.fieldByName(u"IDMARCADO")->setValue(QStringLiteral("N"))).isEmpty());
    cds.edit();
    const QString tooLong = ERP_ERROR_TEXT(cds.fieldByName(u"IDMARCADO")->setValue(QStringLiteral("SS")));
    EXPECT_TRUE(tooLong.contains(QStringLiteral("IDMARCADO"))) << tooLong.toStdString();
    EXPECT_EQ(cds.fieldByName(u"IDMARCADO")->asString(), QStringLiteral("S"));
    cds.cancel();

    // a failing before-post keeps the edit
    cds.beforePost = [](ClientDataSet &) { throw Error(QStringLiteral("recusado")); };
    cds.edit();
    cds.fieldByName(u"IDMARCADO")->setValue(QStringLiteral("N"));
    EXPECT_EQ(ERP_ERROR_TEXT(cds.post()), QStringLiteral("recusado"));
    EXPECT_EQ(cds.state(), ClientDataSet::State::Edit);
}

TEST_F(Accounts, ScrollEventsRunOnlyWhenTheRowChangesOrOnFirst)
{
    cds.setData(QVariant::fromValue(accounts()));
    log.clear();
    cds.next();
    cds.next();
    EXPECT_EQ(cds.recNo(), 3);
    EXPECT_FALSE(cds.eof());
    cds.next(); // at the end: no move
    EXPECT_TRUE(cds.eof());
    EXPECT_EQ(log, QStringList({"beforeScroll", "afterScroll", "beforeScroll", "afterScroll", "beforeScroll"}));

    log.clear();
    cds.first();
    cds.first();
    EXPECT_EQ(log, QStringList({"beforeScroll", "afterScroll", "beforeScroll", "afterScroll"}));
    EXPECT_TRUE(cds.bof());

    log.clear();
    cds.prior();
    cds.moveTo(2);
    cds.last();
    EXPECT_EQ(log, QStringList({"beforeScroll", "beforeScroll", "afterScroll", "beforeScroll", "afterScroll"}));
    EXPECT_FALSE(ERP_ERROR_TEXT(cds.moveTo(4)).isEmpty());

    // a move posts the pending edit first
    cds.first();
    cds.edit();
    cds.fieldByName(u"IDMARCADO")->setValue(QStringLiteral("S"));
    log.clear();
    cds.next();
    EXPECT_EQ(log, QStringList({"beforePost", "state:browse", "afterPost", "beforeScroll", "afterScroll"}));
    cds.first();
    EXPECT_EQ(cds.fieldByName(u"IDMARCADO")->asString(), QStringLiteral("S"));

    // the walk of a mark-all loop, with the after-scroll handler detached and attached again
    const ClientDataSet::Handler saved = cds.afterScroll;
    cds.afterScroll = nullptr;
    log.clear();
    int rows = 0;
    for (cds.first(); !cds.eof(); cds.next())
        ++rows;
    cds.afterScroll = saved;
    cds.first();
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(log.count(QStringLiteral("afterScroll")), 1);
}

TEST_F(Accounts, CalculatedFieldsArePerRowAndSeeTheState)
{
    cds.setData(QVariant::fromValue(accounts()));
    EXPECT_EQ(text("DOCUMENTO"), QStringLiteral("100"));
    EXPECT_EQ(text("ESTADO"), QStringLiteral("browse"));
    cds.next();
    EXPECT_EQ(text("DOCUMENTO"), QStringLiteral("101/A1"));

    // reading another row as a grid does: no move, no scroll event, that row's values
    log.clear();
    {
        const ClientDataSet::RowScope row(cds, 2);
        EXPECT_EQ(text("DOCUMENTO"), QStringLiteral("102/A2"));
        EXPECT_EQ(text("NRPARCELAREC"), QStringLiteral("3"));
    }
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(cds.recNo(), 2);
    EXPECT_EQ(text("DOCUMENTO"), QStringLiteral("101/A1"));

    // in edit state the handler runs on the edit buffer and sees the state
    cds.edit();
    EXPECT_EQ(text("ESTADO"), QString());
    cds.fieldByName(u"CDSERIE")->setValue(QStringLiteral("B"));
    EXPECT_EQ(text("DOCUMENTO"), QStringLiteral("101/B"));
    {
        const ClientDataSet::RowScope row(cds, 1); // the row being edited
        EXPECT_EQ(text("DOCUMENTO"), QStringLiteral("101/B"));
    }
    {
        const ClientDataSet::RowScope row(cds, 0);
        EXPECT_EQ(text("DOCUMENTO"), QStringLiteral("100"));
    }
    cds.post();
    EXPECT_EQ(text("ESTADO"), QStringLiteral("browse"));

    // a composed text longer than its field is cut to the field's size
    cds.onCalcFields = [](ClientDataSet &ds) {
        ds.fieldByName(u"DOCUMENTO")->setValue(QString(20, u'9') + u'/' + QString(5, u'S'));
    };
    cds.first();
    EXPECT_EQ(text("DOCUMENTO"), QString(20, u'9') + QStringLiteral("/SS"));

    // calculated fields are never sent
    const Packet sent = cds.data().value<Packet>();
    EXPECT_EQ(sent.fields(), accountFields());
}

TEST_F(Accounts, DisableControlsNestsAndReportsTheStateOnceAtTheEnd)
{
    cds.setData(QVariant::fromValue(accounts()));
    QSignalSpy reloads(&dts, &DataSource::dataSetChanged);
    log.clear();
    cds.disableControls();
    cds.disableControls();
    for (cds.first(); !cds.eof(); cds.next()) {
        cds.edit();
        cds.fieldByName(u"IDMARCADO")->setValue(QStringLiteral("S"));
        cds.post();
    }
    EXPECT_FALSE(log.join(u',').contains(QStringLiteral("state:"))) << log.join(u',').toStdString();
    EXPECT_EQ(log.count(QStringLiteral("afterPost")), 3); // dataset events still run
    cds.enableControls();
    EXPECT_TRUE(cds.controlsDisabled());
    EXPECT_EQ(reloads.count(), 0);
    log.clear();
    cds.enableControls();
    EXPECT_EQ(log, QStringList({"state:browse"}));
    EXPECT_EQ(reloads.count(), 1);
    cds.enableControls(); // surplus: nothing
    EXPECT_EQ(log, QStringList({"state:browse"}));
    EXPECT_FALSE(cds.controlsDisabled());
    cds.disableControls(); // and the count did not go below zero
    EXPECT_TRUE(cds.controlsDisabled());
    cds.enableControls();
    EXPECT_FALSE(cds.controlsDisabled());
}

TEST_F(Accounts, PacketsRoundTripWithNullsAndTheZeroDate)
{
    ClientDataSet never;
    EXPECT_EQ(json(never.data()), QByteArray(R"({"fields":[],"rows":[]})"));

    Packet p = accounts(2);
    p.setNull(1, 1); // the zero date
    p.setNull(1, 3);
    const QByteArray sent = json(QVariant::fromValue(p));
    cds.setData(QVariant::fromValue(p));
    EXPECT_EQ(json(cds.data()), sent);
    cds.next();
    EXPECT_TRUE(cds.fieldByName(u"DTATUAVENREC")->isNull());
    EXPECT_EQ(text("DTATUAVENREC"), QString());
    EXPECT_EQ(text("VRATUAREC"), QStringLiteral("0,00")); // a null float reads 0
    EXPECT_EQ(cds.fieldByName(u"VRATUAREC")->asFloat(), 0.0);
    cds.first();
    EXPECT_EQ(text("DTATUAVENREC"), QStringLiteral("10/01/2024"));
    EXPECT_EQ(text("VRATUAREC"), QStringLiteral("1.000,50"));
    EXPECT_EQ(cds.fieldByName(u"CDSERIE")->asString(), QString());

    // what the dataset gives decodes to what it holds, edits included
    cds.edit();
    cds.fieldByName(u"DTATUAVENREC")->setValue(QDate());
    cds.post();
    const Packet back = wire::decodePacket(QJsonDocument::fromJson(json(cds.data())).object());
    EXPECT_TRUE(back.isNull(0, 1));
    EXPECT_EQ(back.string(1, 5), QStringLiteral("101"));

    cds.close();
    EXPECT_EQ(json(cds.data()), QByteArray(R"({"fields":[],"rows":[]})"));
}

TEST_F(Accounts, APacketThatDoesNotFitIsRefusedAndNothingChanges)
{
    cds.setData(QVariant::fromValue(accounts()));
    cds.next();
    log.clear();
    const QByteArray before = json(cds.data());

    QList<wire::FieldDef> wrongSize = accountFields();
    wrongSize[2].size = 3;
    QList<wire::FieldDef> wrongType = accountFields();
    wrongType[3].type = FieldType::Integer;
    QList<wire::FieldDef> missing = accountFields();
    missing.removeAt(4);
    QList<wire::FieldDef> extra = accountFields();
    extra.append({"OUTRO", FieldType::String, 1});
    const QList<std::pair<QList<wire::FieldDef>, QString>> refused = {
        {wrongSize, QStringLiteral("NRPARCELAREC")},
        {wrongType, QStringLiteral("VRATUAREC")},
        {missing, QStringLiteral("CDSERIE")},
        {extra, QStringLiteral("OUTRO")},
    };
    for (const auto &[fields, named] : refused) {
        const QString error = ERP_ERROR_TEXT(cds.setData(QVariant::fromValue(Packet(fields))));
        EXPECT_TRUE(error.contains(named)) << error.toStdString();
    }
    EXPECT_FALSE(ERP_ERROR_TEXT(cds.setData(QStringLiteral("não é pacote"))).isEmpty());
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(cds.recNo(), 2);
    EXPECT_EQ(json(cds.data()), before);

    // the same fields in another order are taken, and given back in the dataset's order
    QList<wire::FieldDef> reversed = accountFields();
    std::reverse(reversed.begin(), reversed.end());
    Packet other(reversed);
    other.appendRow({"7", "A", QVariant(), "1", QVariant(), "S"});
    cds.setData(QVariant::fromValue(other));
    EXPECT_EQ(cds.data().value<Packet>().fields(), accountFields());
    EXPECT_EQ(cds.fieldByName(u"NRNOTAFISC")->asString(), QStringLiteral("7"));
    EXPECT_EQ(cds.fieldByName(u"IDMARCADO")->asString(), QStringLiteral("S"));

    // names in another letter case are the same fields
    QList<wire::FieldDef> lower = accountFields();
    for (wire::FieldDef &f : lower)
        f.name = f.name.toLower();
    Packet lowered(lower);
    lowered.appendRow({"N", QVariant(), "2", QVariant(), "B", "8"});
    cds.setData(QVariant::fromValue(lowered));
    EXPECT_EQ(cds.recordCount(), 1);
    EXPECT_EQ(cds.fieldByName(u"nrnotafisc")->asString(), QStringLiteral("8"));
    EXPECT_EQ(cds.fieldByName(u"CDSERIE")->asString(), QStringLiteral("B"));
}

TEST(ClientDataSet, FieldsComeFromThePacketWhenTheFormDefinesNone)
{
    ClientDataSet cds;
    cds.setObjectName(QStringLiteral("cdsErrosTemp"));
    cds.setData(QVariant::fromValue(accounts(1)));
    ASSERT_EQ(cds.fieldCount(), 6);
    EXPECT_EQ(cds.fields()[3]->objectName(), QStringLiteral("cdsErrosTempVRATUAREC"));
    EXPECT_EQ(cds.findField(u"vratuarec"), cds.fields()[3]);
    const QString missing = ERP_ERROR_TEXT(cds.fieldByName(u"NAOHA"));
    EXPECT_TRUE(missing.contains(QStringLiteral("NAOHA")) && missing.contains(QStringLiteral("cdsErrosTemp")));
    // another layout replaces them
    cds.setData(QVariant::fromValue(Packet({{"STATUS", FieldType::String, 2}})));
    EXPECT_EQ(cds.fieldCount(), 1);
    EXPECT_EQ(json(cds.data()), QByteArray(R"({"fields":[{"name":"STATUS","type":"string","size":2}],"rows":[]})"));
}

TEST(ClientDataSet, FieldTextsFollowGetTextMasksAndFormats)
{
    ClientDataSet cds;
    Field *code = cds.addField(QStringLiteral("CDAJUCTREC"), FieldType::String, 4);
    Field *kind = cds.addField(QStringLiteral("IDAJUCTREC"), FieldType::String, 1);
    Field *value = cds.addField(QStringLiteral("VRAJUSTEREC"), FieldType::Float);
    Field *count = cds.addField(QStringLiteral("QTD"), FieldType::Integer);
    Field *doc = cds.addField(QStringLiteral("NRINSJURCLIE"), FieldType::String, 20);
    code->setRequired(true);
    value->setDisplayFormat(QStringLiteral("#,##0.00"));
    doc->setEditMask(QStringLiteral("999.999.999-99;0;_"));
    kind->onGetText = [](Field &f, QString &text, bool) {
        if (f.asString() == QLatin1String("D"))
            text = QStringLiteral("Desconto");
    };
    cds.open();
    EXPECT_TRUE(cds.isEmpty());
    cds.append();
    EXPECT_EQ(cds.state(), ClientDataSet::State::Insert);
    kind->setValue(QStringLiteral("D"));
    value->setAsString(QStringLiteral("1.234,5"));
    count->setAsString(QStringLiteral("3"));
    doc->setValue(QStringLiteral("12345678901"));
    EXPECT_EQ(ERP_ERROR_TEXT(cds.post()), QStringLiteral("O campo CDAJUCTREC deve ser informado."));
    code->setValue(QStringLiteral("0001"));
    cds.post();
    EXPECT_EQ(cds.recordCount(), 1);
    EXPECT_EQ(kind->displayText(), QStringLiteral("Desconto"));
    EXPECT_EQ(kind->text(), QStringLiteral("Desconto"));
    EXPECT_EQ(value->displayText(), QStringLiteral("1.234,50"));
    EXPECT_EQ(value->asString(), QStringLiteral("1234,5"));
    EXPECT_EQ(count->asInteger(), 3);
    EXPECT_EQ(doc->displayText(), QStringLiteral("123.456.789-01"));
    EXPECT_EQ(doc->text(), QStringLiteral("12345678901"));
    EXPECT_EQ(value->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(doc->displayLabel(), QStringLiteral("NRINSJURCLIE"));

    cds.edit();
    const QString bad = ERP_ERROR_TEXT(value->setAsString(QStringLiteral("1,2,3")));
    EXPECT_TRUE(bad.contains(QStringLiteral("VRAJUSTEREC"))) << bad.toStdString();
    const QString integral = ERP_ERROR_TEXT(count->setValue(2.5));
    EXPECT_FALSE(integral.isEmpty());
    cds.cancel();
    cds.emptyDataSet();
    EXPECT_TRUE(cds.isEmpty());
    EXPECT_EQ(kind->text(), QString());
}

TEST(KeyList, OneEntryPerKeyAndAbsentRemovalsDoNothing)
{
    KeyList kl;
    QSignalSpy counts(&kl, &KeyList::countChanged);
    kl.add(QStringLiteral("0001011234567890101"), 0);
    kl.add(QStringLiteral("0001011234567890101"), 0);
    kl.add(QStringLiteral("0002"), 0);
    EXPECT_EQ(kl.count(), 2);
    EXPECT_EQ(kl.property("count").toInt(), 2);
    kl.remove(QStringLiteral("")); // the empty key of a closed dataset
    kl.remove(QStringLiteral("nao-ha"));
    EXPECT_EQ(kl.count(), 2);
    EXPECT_EQ(kl.keys(), QStringList({"0001011234567890101", "0002"}));
    kl.remove(QStringLiteral("0001011234567890101"));
    kl.add(QStringLiteral("0001011234567890101"), 7);
    EXPECT_EQ(kl.keys(), QStringList({"0002", "0001011234567890101"}));
    EXPECT_EQ(kl.value(QStringLiteral("0001011234567890101")).toInt(), 7);
    kl.clear();
    kl.clear();
    EXPECT_EQ(kl.count(), 0);
    EXPECT_EQ(counts.count(), 5); // 1, 2, 1, 2, 0
}
