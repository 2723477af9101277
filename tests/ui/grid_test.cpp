#include "support.h"

#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/keys.h>
#include <erpfwui/widgets/symbolfont.h>

#include <erpfw/data/field.h>

#include <QFontDatabase>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSet>

using namespace erp;

namespace {

struct Grid : ::testing::Test
{
    uitest::Messages messages;
    QWidget window;
    ClientDataSet cds;
    DataSource source;
    TDBGrid *grid = new TDBGrid(&window);
    QSet<QString> calculated; // codes of the rows whose calculated field was computed
    int scrolls = 0;

    void load(int count)
    {
        cds.addField(QStringLiteral("CODE"), FieldType::String, 10);
        cds.addField(QStringLiteral("NAME"), FieldType::String, 40)->setDisplayLabel(QStringLiteral("Nome"));
        cds.addField(QStringLiteral("VALUE"), FieldType::Float)->setDisplayFormat(QStringLiteral("#,##0.00"));
        cds.addCalculatedField(QStringLiteral("SHOWN"), FieldType::String, 20);
        cds.onCalcFields = [this](ClientDataSet &ds) {
            const QString code = ds.fieldByName(QStringLiteral("CODE"))->asString();
            calculated.insert(code);
            ds.fieldByName(QStringLiteral("SHOWN"))->setValue(QStringLiteral("#") + code);
        };
        cds.setPacket(uitest::rows(count));
        cds.afterScroll = [this](ClientDataSet &) { ++scrolls; };
        source.setDataSet(&cds);
        grid->setDataSource(&source);
        grid->setGeometry(0, 0, 400, 300);
        window.resize(400, 300);
        uitest::showActive(&window);
        scrolls = 0;
    }

    QList<int> selectedRows() const
    {
        QList<int> rows;
        for (const QModelIndex &i : grid->selectionModel()->selectedRows())
            rows.append(i.row());
        return rows;
    }

    void paint()
    {
        calculated.clear();
        grid->viewport()->repaint();
    }
};

QPixmap markPicture(bool checked)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(QColor(128, 128, 0));
    QPainter p(&pixmap);
    p.fillRect(3, 3, 9, 9, Qt::white);
    if (checked)
        p.fillRect(5, 5, 5, 5, Qt::black);
    return pixmap;
}

} // namespace

TEST_F(Grid, AMillionRowsCostOnlyTheRowsInView)
{
    load(1000000);
    EXPECT_EQ(grid->rowCount(), 1000000);
    paint();
    const int visible = grid->viewport()->height() / grid->verticalHeader()->defaultSectionSize() + 2;
    EXPECT_GT(calculated.size(), 3);
    EXPECT_LE(calculated.size(), visible);

    grid->verticalScrollBar()->setValue(grid->verticalScrollBar()->maximum() / 2);
    paint();
    EXPECT_LE(calculated.size(), visible);
    bool middle = false;
    for (const QString &code : std::as_const(calculated))
        middle = middle || code.toInt() > 400000;
    EXPECT_TRUE(middle);

    grid->setCurrentRow(999999);
    EXPECT_EQ(cds.recNo(), 1000000);
    paint();
    EXPECT_LE(calculated.size(), visible);
}

TEST_F(Grid, CurrentRowFollowsTheDatasetAndClicksAndKeysMoveIt)
{
    load(50);
    cds.moveTo(10);
    EXPECT_EQ(grid->currentRow(), 9);
    EXPECT_EQ(grid->currentIndex().row(), 9);
    EXPECT_EQ(scrolls, 1);

    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(cds.recNo(), 11);
    EXPECT_EQ(scrolls, 2);

    const QRect cell = grid->visualRect(grid->model()->index(2, 1));
    grid->scrollToTop();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(2, 1)).center());
    Q_UNUSED(cell);
    EXPECT_EQ(cds.recNo(), 3);
    EXPECT_EQ(scrolls, 3);
    EXPECT_EQ(grid->cellText(2, QStringLiteral("VALUE")), QStringLiteral("21,00"));
}

// The selection is the current row whoever moved it, and the titles' height follows their
// labels and font whatever the reloads in between.
TEST_F(Grid, SelectionAndTitlesFollowMovesReloadsAndLabels)
{
    load(50);
    grid->setRowSelect(true);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(selectedRows(), QList<int>{1});
    cds.moveTo(8);
    EXPECT_EQ(selectedRows(), QList<int>{7});
    EXPECT_EQ(grid->currentIndex().row(), 7);
    grid->selectionModel()->clearSelection(); // still current, no longer selected: the grid selects it again
    cds.disableControls();
    cds.enableControls();
    EXPECT_EQ(selectedRows(), QList<int>{7});
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(selectedRows(), QList<int>{6});
    grid->setRowSelect(false);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(grid->selectionModel()->selectedIndexes(), QModelIndexList{grid->currentIndex()});

    QHeaderView *titles = grid->horizontalHeader();
    const QSize before = titles->sizeHint();
    for (int rows : {3, 0, 7})
        cds.setPacket(uitest::rows(rows));
    EXPECT_EQ(titles->sizeHint(), before);
    cds.fieldByName(QStringLiteral("NAME"))->setDisplayLabel(QStringLiteral("Nome da empresa com um título muito longo"));
    EXPECT_GT(titles->sizeHint().width(), before.width());
    QFont big = titles->font();
    big.setPointSize(big.pointSize() * 3);
    titles->setFont(big);
    EXPECT_GT(titles->sizeHint().height(), before.height());
}

// A handler that moves the dataset again or reloads it while the grid's own key is moving it:
// the grid ends on the dataset's row, selected.
TEST_F(Grid, TheGridFollowsAHandlerThatMovesOrReloadsDuringItsMove)
{
    load(30);
    grid->setRowSelect(true);
    grid->setFocus();
    cds.afterScroll = [](ClientDataSet &ds) {
        if (ds.recNo() == 2)
            ds.moveTo(20);
    };
    QTest::keyClick(grid, Qt::Key_Down);
    QCoreApplication::processEvents();
    EXPECT_EQ(cds.recNo(), 20);
    EXPECT_EQ(grid->currentIndex().row(), 19);
    EXPECT_EQ(selectedRows(), QList<int>{19});

    bool reloading = false;
    cds.afterScroll = [&](ClientDataSet &ds) {
        if (reloading)
            return;
        const int at = ds.recNo();
        const QScopedValueRollback guard(reloading, true);
        ds.setPacket(uitest::rows(30));
        ds.moveTo(at);
    };
    QTest::keyClick(grid, Qt::Key_Down);
    QCoreApplication::processEvents();
    EXPECT_EQ(cds.recNo(), 21);
    EXPECT_EQ(grid->currentIndex().row(), 20);
    EXPECT_EQ(selectedRows(), QList<int>{20});
    const QRect shown = grid->visualRect(grid->currentIndex());
    EXPECT_TRUE(grid->viewport()->rect().contains(shown)) << shown.y();
}

// The message of a failing handler is shown over a grid already scrolled to the new row.
TEST_F(Grid, AFailingScrollHandlerIsShownOnceAndTheMoveStands)
{
    load(50);
    const QRect area = grid->viewport()->rect();
    int last = 0;
    while (area.contains(grid->visualRect(grid->model()->index(last + 1, 0))))
        ++last;
    cds.moveTo(last + 1);
    cds.afterScroll = [](ClientDataSet &) { throw Error(QStringLiteral("Servidor indisponível.")); };
    bool shownInView = false;
    messages.onShow = [&] { shownInView = area.contains(grid->visualRect(grid->currentIndex())); };
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(cds.recNo(), last + 2);
    EXPECT_EQ(grid->currentRow(), last + 1);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Servidor indisponível.")});
    EXPECT_TRUE(shownInView);
    EXPECT_TRUE(area.contains(grid->visualRect(grid->currentIndex())));
}

TEST_F(Grid, DataTextShowsTheCurrentRowsField)
{
    load(3);
    TDBText text(&window);
    text.setDataSource(&source);
    text.setDataField(QStringLiteral("VALUE"));
    EXPECT_EQ(text.text(), QStringLiteral("0,00"));
    cds.moveTo(3);
    EXPECT_EQ(text.text(), QStringLiteral("21,00"));
    cds.edit();
    cds.fieldByName(QStringLiteral("VALUE"))->setValue(1234.5);
    cds.post();
    EXPECT_EQ(text.text(), QStringLiteral("1.234,50"));
    cds.close();
    EXPECT_EQ(text.text(), QString());
}

TEST_F(Grid, DataTextShowsMarkupInTheDataAsItIs)
{
    load(3);
    cds.edit();
    cds.fieldByName(QStringLiteral("NAME"))->setValue(QStringLiteral("<b>Loja</b> <img src=\"x.png\">"));
    cds.post();
    TDBText text(&window);
    text.setDataSource(&source);
    text.setDataField(QStringLiteral("NAME"));
    text.show();
    // drawn as rich text, the tags would vanish and the label would be narrower than its text
    const QString shown = QStringLiteral("<b>Loja</b> <img src=\"x.png\">");
    EXPECT_EQ(text.text(), shown);
    EXPECT_GE(text.sizeHint().width(), text.fontMetrics().horizontalAdvance(shown));
}

TEST_F(Grid, TitleClickDoubleClickAndKeyDownReachTheirHandlers)
{
    load(5);
    QStringList log;
    grid->onTitleClick = [&](GridColumn *column) { log.append(QStringLiteral("title ") + column->fieldName()); };
    grid->onDblClick = [&](QObject *) { log.append(QStringLiteral("dbl row %1").arg(cds.recNo())); };
    grid->onKeyDown = [&](QObject *, int &key, ShiftState shift) {
        log.append(QStringLiteral("key %1%2").arg(key).arg(shift.testFlag(ShiftKey::Ctrl) ? QStringLiteral(" ctrl") : QString()));
        if (key == VK_DOWN)
            key = 0; // consumed: the grid must not move
    };
    QHeaderView *header = grid->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(grid->model()->index(3, 0)).center());
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Space, Qt::ControlModifier);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(log, QStringList({"title NAME", "dbl row 4", "key 32 ctrl", "key 40"}));
    EXPECT_EQ(cds.recNo(), 4);
}

TEST_F(Grid, DrawHandlerPaintsPicturesOverTheCellsOfTheRowBeingDrawn)
{
    load(6);
    grid->addColumn(QStringLiteral("CODE"));
    grid->addColumn(QStringLiteral("NAME"))->setWidth(120);
    const Picture check(markPicture(true), QStringLiteral("imgCheck"));
    const Picture uncheck(markPicture(false), QStringLiteral("imgUncheck"));
    grid->onDrawColumnCell = [&](QObject *, const QRect &rect, int, GridColumn *column, GridDrawState) {
        if (column->fieldName() != QLatin1String("CODE"))
            return;
        const bool even = cds.fieldByName(QStringLiteral("CODE"))->asString().toInt() % 2 == 0;
        InsereImagem(grid, rect, even ? check : uncheck, QColor(128, 128, 0));
    };
    paint();
    EXPECT_EQ(grid->cellPicture(0, QStringLiteral("CODE")), QStringLiteral("imgUncheck"));
    EXPECT_EQ(grid->cellPicture(1, QStringLiteral("CODE")), QStringLiteral("imgCheck"));
    EXPECT_EQ(grid->cellPicture(1, QStringLiteral("NAME")), QString());

    const QImage shot = grid->viewport()->grab().toImage();
    const QRect cell = grid->visualRect(grid->model()->index(3, 0));
    bool olive = false, black = false;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QColor c = shot.pixelColor(x * shot.width() / grid->viewport()->width(),
                                             y * shot.height() / grid->viewport()->height());
            olive = olive || c == QColor(128, 128, 0);
            black = black || c == QColor(Qt::black);
        }
    EXPECT_FALSE(olive); // the background colour is transparent
    EXPECT_TRUE(black);

    EXPECT_THROW(InsereImagem(grid, cell, check, Qt::red), Error); // only while drawing
    const QVariantList columns = grid->property("columns").toList();
    ASSERT_EQ(columns.size(), 2);
    EXPECT_EQ(columns[1].toMap().value(QStringLiteral("title")).toString(), QStringLiteral("Nome"));
    EXPECT_EQ(columns[1].toMap().value(QStringLiteral("width")).toInt(), 120);
}

TEST_F(Grid, MarkColumnTitleShowsTheCheckMarkWithoutTheSymbolFont)
{
    load(1);
    GridColumn *mark = grid->addColumn(QStringLiteral("CODE"));
    mark->setTitle(QStringLiteral("4"));
    QFont sorts(QStringLiteral("Monotype Sorts"));
    sorts.setBold(true);
    mark->setTitleFont(sorts);
    ASSERT_FALSE(QFontDatabase::hasFamily(QStringLiteral("Monotype Sorts")));
    EXPECT_EQ(grid->titleDisplayText(0), QString(QChar(0x2714)));
    const QFont shown = grid->titleDisplayFont(0);
    EXPECT_TRUE(shown.bold());
    EXPECT_TRUE(QFontMetrics(shown).inFont(QChar(0x2714)));

    const SymbolText plain = mapSymbolFont(QFont(QStringLiteral("DejaVu Sans")), QStringLiteral("4"));
    EXPECT_EQ(plain.text, QStringLiteral("4"));
    EXPECT_EQ(mapSymbolFont(sorts, QStringLiteral("n")).text, QString(QChar(0x25A0)));

    // The title really shows a mark: the header section is painted with ink.
    const QImage header = grid->horizontalHeader()->grab().toImage();
    const QColor background = header.pixelColor(1, 1);
    int ink = 0;
    const int width = grid->horizontalHeader()->sectionSize(0);
    for (int y = 2; y < header.height() - 2; ++y)
        for (int x = 4; x < width - 4; ++x)
            ink += header.pixelColor(x, y) != background;
    EXPECT_GT(ink, 5);
}

// What a spreadsheet receives: the titles, numbers as shown in pt-BR, a cell holding ";" or
// quotes quoted, a text that a spreadsheet would run as a formula kept as text; "Copiar" takes
// the current row as shown.
TEST_F(Grid, CsvAndCopyCarryTheCellsAsShown)
{
    const QStringList names{QStringLiteral("Ana;Bia"), QStringLiteral("diz \"oi\""), QStringLiteral("=1+1")};
    load(0);
    cds.setPacket(uitest::rows(101, [&](int i) { return names.value(i, QStringLiteral("Nome")); }));
    const QByteArray csv = grid->csv();
    ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 103); // the titles, 101 rows and the end of the last line
    EXPECT_EQ(lines[0], QStringLiteral("CODE;Nome;VALUE;SHOWN"));
    EXPECT_EQ(lines[1], QStringLiteral("001;\"Ana;Bia\";0,00;#001"));
    EXPECT_EQ(lines[2], QStringLiteral("002;\"diz \"\"oi\"\"\";10,50;#002"));
    EXPECT_EQ(lines[3], QStringLiteral("003;'=1+1;21,00;#003"));
    EXPECT_EQ(lines[101], QStringLiteral("101;Nome;1.050,00;#101"));
    EXPECT_EQ(csvCell(QStringLiteral("-5,00"), false), QStringLiteral("-5,00")) << "a negative number stays a number";

    grid->setCurrentRow(1);
    EXPECT_EQ(grid->selectedRowsText(), QStringLiteral("002\tdiz \"oi\"\t10,50\t#002"));
}

// The operator's columns (order and widths) stand through reloads of the rows; a remembered
// field the grid no longer shows is skipped, and a column the memory lacks keeps its place.
TEST_F(Grid, ColumnLayoutSurvivesReloadsAndSkipsWhatTheGridLacks)
{
    for (const char *field : {"CODE", "NAME", "VALUE"})
        grid->addColumn(QString::fromLatin1(field))->setWidth(50);
    load(3);
    grid->setColumnLayout({QStringLiteral("VALUE=90"), QStringLiteral("GONE=40"), QStringLiteral("CODE=30")});
    const QStringList expected{QStringLiteral("VALUE=90"), QStringLiteral("CODE=30"), QStringLiteral("NAME=50")};
    EXPECT_EQ(grid->columnLayout(), expected);
    cds.setPacket(uitest::rows(5));
    EXPECT_EQ(grid->columnLayout(), expected);
    EXPECT_EQ(grid->horizontalHeader()->logicalIndex(0), 2);
    EXPECT_EQ(grid->horizontalHeader()->sectionSize(2), 90);

    QStringList changed;
    QObject::connect(grid, &TDBGrid::columnLayoutChanged, grid, [&] { changed = grid->columnLayout(); });
    EXPECT_TRUE(grid->resizeColumn(QStringLiteral("NAME"), 120));
    EXPECT_EQ(changed.value(2), QStringLiteral("NAME=120"));
    EXPECT_FALSE(grid->resizeColumn(QStringLiteral("GONE"), 10));
}
