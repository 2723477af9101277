#include "support.h"

#include <erpfw/data/clientdataset.h>
#include <erpfw/data/datasetmodel.h>
#include <erpfw/data/datasource.h>

#include <QAbstractItemModelTester>
#include <QSignalSpy>

using namespace erp;
using wire::FieldType;
using wire::Packet;

namespace {

Packet rows(int count)
{
    Packet p({{"CDFILIAL", FieldType::String, 4}, {"NRNOTAFISC", FieldType::String, 20}, {"VRATUAREC", FieldType::Float, 0}});
    p.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int r = p.appendRow();
        p.setString(r, 0, u"0001");
        p.setString(r, 1, QString::number(i));
        p.setNumber(r, 2, i * 10.5);
    }
    return p;
}

struct Grid : ::testing::Test
{
    ClientDataSet cds;
    DataSource dts;
    DataSetModel model;
    int calculations = 0;
    QStringList warnings;

    void SetUp() override
    {
        cds.addField(QStringLiteral("CDFILIAL"), FieldType::String, 4)->setVisible(false);
        cds.addField(QStringLiteral("NRNOTAFISC"), FieldType::String, 20)->setDisplayLabel(QStringLiteral("Nota"));
        cds.addField(QStringLiteral("VRATUAREC"), FieldType::Float)->setDisplayFormat(QStringLiteral("#,##0.00"));
        cds.addCalculatedField(QStringLiteral("DOCUMENTO"), FieldType::String, 23);
        cds.onCalcFields = [this](ClientDataSet &ds) {
            ++calculations;
            ds.fieldByName(u"DOCUMENTO")->setValue(QStringLiteral("doc ") + ds.fieldByName(u"NRNOTAFISC")->asString());
        };
        dts.setDataSet(&cds);
        model.setDataSource(&dts);
    }
};

} // namespace

TEST_F(Grid, PassesTheModelTesterThroughLoadsEditsAndCloses)
{
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &msg) {
        if (type >= QtWarningMsg)
            ADD_FAILURE() << msg.toStdString();
    });
    cds.setData(QVariant::fromValue(rows(50)));
    EXPECT_EQ(model.rowCount(), 50);
    EXPECT_EQ(model.columnCount(), 3); // the hidden field is not a column
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Nota"));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("VRATUAREC"));
    cds.moveTo(10);
    cds.edit();
    cds.fieldByName(u"NRNOTAFISC")->setValue(QStringLiteral("X"));
    cds.post();
    cds.emptyDataSet();
    cds.setData(QVariant::fromValue(rows(5)));
    cds.close();
    EXPECT_EQ(model.rowCount(), 0);
    model.setColumns({QStringLiteral("VRATUAREC"), QStringLiteral("NAOHA")});
    cds.open();
    qInstallMessageHandler(previous);
}

TEST_F(Grid, CellsReadTheirOwnRowWithoutMovingTheCurrentRow)
{
    model.setColumns({QStringLiteral("NRNOTAFISC"), QStringLiteral("DOCUMENTO"), QStringLiteral("VRATUAREC")});
    cds.setData(QVariant::fromValue(rows(10)));
    int scrolls = 0;
    cds.afterScroll = [&](ClientDataSet &) { ++scrolls; };
    cds.moveTo(3);
    scrolls = 0;
    EXPECT_EQ(model.data(model.index(7, 0)).toString(), QStringLiteral("7"));
    EXPECT_EQ(model.data(model.index(7, 1)).toString(), QStringLiteral("doc 7"));
    EXPECT_EQ(model.data(model.index(1, 2)).toString(), QStringLiteral("10,50"));
    EXPECT_EQ(model.data(model.index(1, 2), Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(model.data(model.index(1, 2), DataSetModel::ValueRole).toDouble(), 10.5);
    EXPECT_EQ(cds.recNo(), 3);
    EXPECT_EQ(scrolls, 0);
    EXPECT_EQ(cds.fieldByName(u"DOCUMENTO")->asString(), QStringLiteral("doc 2"));

    // the row being edited shows its edit buffer; a post repaints that row only
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    cds.edit();
    cds.fieldByName(u"NRNOTAFISC")->setValue(QStringLiteral("99"));
    EXPECT_EQ(model.data(model.index(2, 1)).toString(), QStringLiteral("doc 99"));
    cds.post();
    ASSERT_GE(changed.count(), 1);
    EXPECT_EQ(changed.last().at(0).value<QModelIndex>().row(), 2);
    EXPECT_EQ(resets.count(), 0);
}

TEST_F(Grid, ALoadDoesNoWorkPerRowAndDisabledControlsHoldTheReset)
{
    model.setColumns({QStringLiteral("DOCUMENTO")});
    const Packet big = rows(200000);
    calculations = 0;
    cds.setData(QVariant::fromValue(big));
    EXPECT_EQ(model.rowCount(), 200000);
    EXPECT_LE(calculations, 1); // at most the first row, never one per row
    EXPECT_EQ(model.data(model.index(199999, 0)).toString(), QStringLiteral("doc 199999"));

    // the same columns: the rows are replaced in place, in one refresh
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    cds.disableControls();
    cds.setData(QVariant::fromValue(rows(3)));
    EXPECT_EQ(resets.count() + removed.count(), 0);
    EXPECT_EQ(model.rowCount(), 200000); // still the old picture, and safe to ask
    EXPECT_FALSE(model.data(model.index(100, 0)).isValid());
    cds.enableControls();
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed[0].at(1).toInt(), 3);
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(2, 0)).toString(), QStringLiteral("doc 2"));

    // other columns reset the model
    cds.close();
    model.setColumns({QStringLiteral("DOCUMENTO"), QStringLiteral("NRNOTAFISC")});
    EXPECT_EQ(resets.count(), 1);
    cds.setData(QVariant::fromValue(rows(2)));
    EXPECT_EQ(model.rowCount(), 2);
}

TEST_F(Grid, AFailingCalculationDoesNotEscapeThePaintAndIsShownOnce)
{
    test::RecordingPresenter ui;
    cds.onCalcFields = [](ClientDataSet &) { throw std::runtime_error("cálculo falhou"); };
    model.setColumns({QStringLiteral("DOCUMENTO")});
    cds.setData(QVariant::fromValue(rows(3)));
    EXPECT_FALSE(model.data(model.index(0, 0)).isValid());
    EXPECT_FALSE(model.data(model.index(1, 0)).isValid());
    QCoreApplication::processEvents();
    ASSERT_EQ(ui.shown.size(), 1);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("cálculo falhou"));
}

// Columns are looked up once for a run of reloads, and again when fields come or go.
TEST(DataSetModel, ColumnsFindFieldsThatAPacketBringsLater)
{
    ClientDataSet cds; // no fields of its own: they come with each packet
    DataSource dts;
    dts.setDataSet(&cds);
    DataSetModel model;
    model.setDataSource(&dts);
    model.setColumns({QStringLiteral("STATUS"), QStringLiteral("NRNOTAFISC")});
    cds.setData(QVariant::fromValue(Packet({{"NRNOTAFISC", FieldType::String, 20}})));
    EXPECT_EQ(model.fieldAt(0), nullptr);
    EXPECT_EQ(model.fieldAt(1), cds.findField(u"NRNOTAFISC"));
    Packet withStatus({{"STATUS", FieldType::String, 2}, {"NRNOTAFISC", FieldType::String, 20}});
    withStatus.appendRow({"OK", "12"});
    cds.setData(QVariant::fromValue(withStatus));
    ASSERT_NE(model.fieldAt(0), nullptr);
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), QStringLiteral("OK"));
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("12"));
    cds.setData(QVariant::fromValue(Packet({{"NRNOTAFISC", FieldType::String, 20}})));
    EXPECT_EQ(model.fieldAt(0), nullptr); // the field went with its packet
}
