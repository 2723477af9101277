#include "support.h"

#include <erpfwui/forms/form.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/pages.h>

#include <QMessageBox>
#include <QTabBar>
#include <QTimer>

using namespace erp;

namespace {

// A panel A (a1, a2), a group box B holding a panel B1 (b1), an edit c, and a page control
// with an edit on each page.
struct FocusForm : ::testing::Test
{
    uitest::Messages messages;
    Form form;
    TPanel *A = make<TPanel>("A", &form, {0, 0, 200, 60});
    TEdit *a1 = make<TEdit>("a1", A, {5, 5, 80, 22});
    TEdit *a2 = make<TEdit>("a2", A, {100, 5, 80, 22});
    TGroupBox *B = make<TGroupBox>("B", &form, {0, 70, 200, 80});
    TPanel *B1 = make<TPanel>("B1", B, {5, 20, 180, 50});
    TEdit *b1 = make<TEdit>("b1", B1, {5, 5, 80, 22});
    TEdit *c = make<TEdit>("c", &form, {0, 160, 80, 22});
    TPageControl *pgc = make<TPageControl>("pgc", &form, {0, 190, 300, 100});
    TTabSheet *p1 = new TTabSheet;
    TTabSheet *p2 = new TTabSheet;
    TEdit *d1 = make<TEdit>("d1", p1, {5, 5, 80, 22});
    TEdit *d2 = make<TEdit>("d2", p2, {5, 5, 80, 22});
    QStringList log;

    template <class T>
    T *make(const char *name, QWidget *parent, QRect geometry)
    {
        auto *w = new T(parent);
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(geometry);
        if (auto *events = dynamic_cast<FocusEvents *>(w)) {
            events->onEnter = [this, w](QObject *) { log.append(w->objectName() + QStringLiteral(".enter")); };
            events->onExit = [this, w](QObject *) { log.append(w->objectName() + QStringLiteral(".exit")); };
        }
        return w;
    }

    void SetUp() override
    {
        p1->setObjectName(QStringLiteral("p1"));
        p2->setObjectName(QStringLiteral("p2"));
        p1->setCaption(QStringLiteral("Um"));
        p2->setCaption(QStringLiteral("Dois"));
        pgc->addPage(p1);
        pgc->addPage(p2);
        for (TTabSheet *p : {p1, p2}) {
            p->onEnter = [this, p](QObject *) { log.append(p->objectName() + QStringLiteral(".enter")); };
            p->onExit = [this, p](QObject *) { log.append(p->objectName() + QStringLiteral(".exit")); };
        }
        form.resize(320, 300);
        uitest::showActive(&form);
        focusControl(a1);
        log.clear();
    }

    QString focused() const { return form.focusedControl(); }
    void click(QWidget *w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(5, 5)); }
};

} // namespace

TEST_F(FocusForm, OldExitThenContainersLeftInnermostFirstThenEnteredOutermostFirstThenNewEnter)
{
    focusControl(b1);
    EXPECT_EQ(log, QStringList({"a1.exit", "A.exit", "B.enter", "B1.enter", "b1.enter"}));
    log.clear();
    click(a2); // by the mouse, the same order
    EXPECT_EQ(log, QStringList({"b1.exit", "B1.exit", "B.exit", "A.enter", "a2.enter"}));
    log.clear();
    QTest::keyClick(a2, Qt::Key_Backtab); // inside one panel only the controls hear it
    EXPECT_EQ(log, QStringList({"a2.exit", "a1.enter"}));
    EXPECT_EQ(focused(), QStringLiteral("a1"));
}

TEST_F(FocusForm, ExitExceptionEndsTheChainAndTheFocusGoesBackWhenTheHandlerLeftItAlone)
{
    a1->onExit = [this](QObject *) {
        log.append(QStringLiteral("a1.exit"));
        throw Error(QStringLiteral("Data inválida: 31/02/2024"));
    };
    click(c);
    EXPECT_EQ(log, QStringList{"a1.exit"});
    EXPECT_EQ(focused(), QStringLiteral("a1"));
    EXPECT_EQ(QApplication::focusWidget(), a1);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Data inválida: 31/02/2024")});

    // From code the exception comes back to the caller instead of being shown.
    messages.shown.clear();
    EXPECT_THROW(focusControl(b1), Error);
    EXPECT_TRUE(messages.shown.isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), a1);
}

TEST_F(FocusForm, ExitExceptionLeavesTheFocusWhereTheHandlerPutIt)
{
    a1->onExit = [this](QObject *) {
        log.append(QStringLiteral("a1.exit"));
        a2->setFocus();
        abortSilently();
    };
    click(b1);
    EXPECT_EQ(log, QStringList{"a1.exit"});
    EXPECT_EQ(QApplication::focusWidget(), a2);
    EXPECT_EQ(focused(), QStringLiteral("a2"));
    EXPECT_TRUE(messages.shown.isEmpty());
}

TEST_F(FocusForm, ContainerExitExceptionKeepsThePanelEnteredSoItsExitRunsAgainNextTime)
{
    A->onExit = [this](QObject *) {
        log.append(QStringLiteral("A.exit"));
        focusControl(a1);
        mensErro(QStringLiteral("Empresa deve ser informada."));
    };
    focusControl(a2);
    log.clear();
    click(c);
    EXPECT_EQ(log, QStringList({"a2.exit", "A.exit"}));
    EXPECT_EQ(QApplication::focusWidget(), a1);
    log.clear();
    A->onExit = [this](QObject *) { log.append(QStringLiteral("A.exit")); };
    click(c);
    EXPECT_EQ(log, QStringList({"a1.exit", "A.exit", "c.enter"}));
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Empresa deve ser informada.")});
}

TEST_F(FocusForm, ContainerEnterMayMoveTheFocusInsideWithoutRunningTheSkippedControlsEnter)
{
    focusControl(c);
    log.clear();
    A->onEnter = [this](QObject *) {
        log.append(QStringLiteral("A.enter"));
        focusControl(a1);
    };
    click(a2);
    EXPECT_EQ(log, QStringList({"c.exit", "A.enter", "a1.enter"}));
    EXPECT_EQ(QApplication::focusWidget(), a1);
}

TEST_F(FocusForm, ClickingATabFocusesThePageControlAndAnExitErrorKeepsThePage)
{
    focusControl(d1);
    log.clear();
    const QRect second = pgc->tabBar()->tabRect(1);
    QTest::mouseClick(pgc->tabBar(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(log, QStringList({"d1.exit", "p1.exit", "pgc.enter"}));
    EXPECT_EQ(pgc->activePageName(), QStringLiteral("p2"));
    EXPECT_EQ(focused(), QStringLiteral("pgc")); // Qt puts it on the tab bar, the page control's proxy

    focusControl(d2);
    d2->onExit = [](QObject *) { throw Error(QStringLiteral("Valor inválido.")); };
    QTest::mouseClick(pgc->tabBar(), Qt::LeftButton, {}, pgc->tabBar()->tabRect(0).center());
    EXPECT_EQ(pgc->activePageName(), QStringLiteral("p2"));
    EXPECT_EQ(QApplication::focusWidget(), d2);
}

TEST_F(FocusForm, HandlersThatKeepMovingTheFocusDoNotHang)
{
    int exits = 0;
    a1->onExit = [&](QObject *) {
        ++exits;
        a2->setFocus();
    };
    a2->onExit = [&](QObject *) {
        ++exits;
        a1->setFocus();
    };
    click(c);
    EXPECT_GT(exits, 0);
    EXPECT_LT(exits, 100);
}

TEST_F(FocusForm, AMessageBoxTakingTheFocusRunsNoEventOfTheForm)
{
    a1->onExit = [this](QObject *) {
        log.append(QStringLiteral("a1.exit"));
        QTimer::singleShot(0, [] {
            if (QWidget *box = QApplication::activeModalWidget())
                box->close();
        });
        QMessageBox::information(&form, QStringLiteral("Aviso"), QStringLiteral("Atenção"));
    };
    click(c);
    QTest::qWait(20);
    EXPECT_EQ(log, QStringList({"a1.exit", "A.exit", "c.enter"}));
    EXPECT_EQ(focused(), QStringLiteral("c"));
}
