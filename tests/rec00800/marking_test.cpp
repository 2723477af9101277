// Marking accounts in REC00800's grid: one row, all rows, and what the grid draws.
#include "support.h"

#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/keys.h>

#include <erpfw/core/error.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/field.h>
#include <erpfw/data/keylist.h>

#include <QCoreApplication>
#include <QTest>

namespace rec {
namespace {

using namespace erp;

using MarkingTest = ScreenTest;

QList<QHash<QString, QVariant>> accounts(int count, const QString &mark = QStringLiteral("N"))
{
    QList<QHash<QString, QVariant>> rows;
    for (int i = 0; i < count; ++i)
        rows.append({{"IDMARCADO", mark}, {"CDFILIAL", "0101"}, {"NRLANCTONF", QString::number(1000 + i)},
                     {"NRSEQVENREC", "01"}, {"NRPARCELAREC", "01"}, {"NRNOTAFISC", QString::number(i)}});
    return rows;
}

TEST_F(MarkingTest, DoubleClickAndSpaceToggleTheCurrentRow)
{
    startServer();
    openScreen();
    chooseCompany(QStringLiteral("01"));
    ASSERT_GE(frm->cdsContRec->recordCount(), 3);
    auto rows = accounts(3);
    rows[2]["IDMARCADO"] = QStringLiteral("X");
    loadAccounts(rows);
    ClientDataSet *ds = frm->cdsContRec;
    Field *mark = ds->fieldByName(u"IDMARCADO");
    EXPECT_EQ(frm->klContMarcadas->count(), 0);

    frm->dbgPadrao->dblClick();
    EXPECT_EQ(mark->asString(), QStringLiteral("S"));
    EXPECT_TRUE(frm->klContMarcadas->contains(QStringLiteral("0101011000" "01")));
    EXPECT_TRUE(frm->sbtConfirmar->isEnabled());
    frm->dbgPadrao->dblClick();
    EXPECT_EQ(mark->asString(), QStringLiteral("N"));
    EXPECT_EQ(frm->klContMarcadas->count(), 0);
    EXPECT_FALSE(frm->sbtConfirmar->isEnabled());

    // Space, with or without a modifier, toggles the same row: the grid does not search by
    // the typed space.
    frm->dbgPadrao->setFocus();
    QTest::keyClick(frm->dbgPadrao, Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_EQ(mark->asString(), QStringLiteral("S"));
    // Ctrl+Space comes without text on the desktop.
    QTest::sendKeyEvent(QTest::Click, frm->dbgPadrao, Qt::Key_Space, QString(), Qt::ControlModifier);
    EXPECT_EQ(mark->asString(), QStringLiteral("N"));
    QTest::keyClick(frm->dbgPadrao, Qt::Key_Space);
    QTest::keyClick(frm->dbgPadrao, Qt::Key_Space);
    EXPECT_EQ(ds->recNo(), 1);
    EXPECT_EQ(frm->dbgPadrao->currentRow(), 0);
    EXPECT_EQ(mark->asString(), QStringLiteral("N"));
    EXPECT_EQ(rowValue(1, QStringLiteral("IDMARCADO")), QStringLiteral("N"));

    // Any other value becomes marked.
    frm->dbgPadrao->setCurrentRow(2);
    frm->dbgPadrao->dblClick();
    EXPECT_EQ(mark->asString(), QStringLiteral("S"));
    EXPECT_EQ(frm->klContMarcadas->count(), 1);

    // The marks are drawn as pictures, the empty box for anything but "S".
    frm->dbgPadrao->viewport()->grab();
    EXPECT_EQ(frm->dbgPadrao->cellPicture(0, QStringLiteral("IDMARCADO")), QStringLiteral("imgUncheck"));
    EXPECT_EQ(frm->dbgPadrao->cellPicture(2, QStringLiteral("IDMARCADO")), QStringLiteral("imgCheck"));
    EXPECT_EQ(frm->dbgPadrao->cellPicture(2, QStringLiteral("NRPARCELAREC")), QString());
    ds->edit();
    frm->dbgPadrao->viewport()->grab();
    EXPECT_EQ(frm->dbgPadrao->cellPicture(2, QStringLiteral("IDMARCADO")), QString());
    ds->cancel();

    // An empty list: nothing to toggle, nothing drawn.
    loadAccounts({});
    frm->dbgPadrao->dblClick();
    QTest::keyClick(frm->dbgPadrao, Qt::Key_Space);
    EXPECT_EQ(frm->klContMarcadas->count(), 0);
    EXPECT_TRUE(presenter.shown.isEmpty()) << presenter.texts().join('\n').toStdString();
}

TEST_F(MarkingTest, TheMarkTitleMarksAndUnmarksEveryRowWithOneAdjustmentsCall)
{
    startServer();
    openScreen();
    chooseCompany(QStringLiteral("01"));
    auto rows = accounts(600);
    rows[7]["IDMARCADO"] = QStringLiteral("X");
    loadAccounts(rows);
    frm->dbgPadrao->setCurrentRow(50);
    clearCalls();

    // Other titles do nothing: no question, no order, no marks.
    frm->dbgPadrao->titleClick(QStringLiteral("NMRAZSOCCLIE"));
    EXPECT_TRUE(presenter.shown.isEmpty());
    EXPECT_EQ(frm->cdsContRec->recNo(), 51);

    presenter.answers = {Button::No};
    frm->dbgPadrao->titleClick(QStringLiteral("IDMARCADO"));
    EXPECT_EQ(presenter.texts(), QStringList{QStringLiteral("Deseja marcar todas as contas?")});
    EXPECT_EQ(frm->klContMarcadas->count(), 0);
    EXPECT_EQ(frm->cdsContRec->recNo(), 1);

    presenter.shown.clear();
    presenter.answers = {Button::Yes};
    frm->dbgPadrao->titleClick(QStringLiteral("IDMARCADO"));
    EXPECT_EQ(presenter.texts(), QStringList{QStringLiteral("Deseja marcar todas as contas?")});
    EXPECT_EQ(frm->klContMarcadas->count(), 599);
    EXPECT_EQ(rowValue(7, QStringLiteral("IDMARCADO")), QStringLiteral("X"));
    EXPECT_EQ(rowValue(599, QStringLiteral("IDMARCADO")), QStringLiteral("S"));
    EXPECT_TRUE(frm->sbtConfirmar->isEnabled());
    EXPECT_EQ(calls(QStringLiteral("GetAjusCont")), 2); // one per answer, for the first row
    EXPECT_FALSE(frm->cdsContRec->controlsDisabled());
    EXPECT_TRUE(bool(frm->cdsContRec->afterScroll));

    presenter.shown.clear();
    presenter.answers = {Button::Yes};
    frm->dbgPadrao->titleClick(QStringLiteral("IDMARCADO"));
    EXPECT_EQ(presenter.texts(), QStringList{QStringLiteral("Deseja desmarcar todas as contas?")});
    EXPECT_EQ(frm->klContMarcadas->count(), 0);
    EXPECT_EQ(rowValue(599, QStringLiteral("IDMARCADO")), QStringLiteral("N"));
    EXPECT_FALSE(frm->sbtConfirmar->isEnabled());

    // An empty list asks to mark and changes nothing.
    loadAccounts({});
    presenter.shown.clear();
    presenter.answers = {Button::Yes};
    frm->dbgPadrao->titleClick(QStringLiteral("IDMARCADO"));
    EXPECT_EQ(presenter.texts(), QStringList{QStringLiteral("Deseja marcar todas as contas?")});
    EXPECT_FALSE(frm->sbtConfirmar->isEnabled());
}

TEST_F(MarkingTest, ARefusedPostStopsMarkAllButTheGridComesBack)
{
    startServer();
    openScreen();
    chooseCompany(QStringLiteral("01"));
    loadAccounts(accounts(20));
    int posts = 0;
    frm->cdsContRec->beforePost = [&](ClientDataSet &) {
        if (++posts == 6)
            throw Error(QStringLiteral("Registro bloqueado."));
    };
    clearCalls();
    presenter.answers = {Button::Yes};
    frm->dbgPadrao->titleClick(QStringLiteral("IDMARCADO"));
    frm->cdsContRec->beforePost = nullptr;

    EXPECT_EQ(presenter.texts(), (QStringList{QStringLiteral("Deseja marcar todas as contas?"),
                                              QStringLiteral("Registro bloqueado.")}));
    EXPECT_EQ(rowValue(4, QStringLiteral("IDMARCADO")), QStringLiteral("S"));
    EXPECT_EQ(rowValue(5, QStringLiteral("IDMARCADO")), QStringLiteral("N"));
    EXPECT_EQ(rowValue(6, QStringLiteral("IDMARCADO")), QStringLiteral("N"));
    EXPECT_EQ(frm->klContMarcadas->count(), 5);
    EXPECT_EQ(frm->cdsContRec->state(), ClientDataSet::State::Browse);
    EXPECT_EQ(frm->cdsContRec->recNo(), 1);
    EXPECT_FALSE(frm->cdsContRec->controlsDisabled());
    EXPECT_TRUE(bool(frm->cdsContRec->afterScroll));
    EXPECT_EQ(calls(QStringLiteral("GetAjusCont")), 1);
    // The grid follows the dataset again.
    frm->dbgPadrao->setCurrentRow(3);
    EXPECT_EQ(frm->cdsContRec->recNo(), 4);
}

} // namespace
} // namespace rec
