#include "support.h"

#include <erpfwui/widgets/alignlayout.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <QLineEdit>
#include <QTabBar>

using namespace erp;

namespace {

struct Controls : ::testing::Test
{
    uitest::Messages messages;
    QWidget window;
    TGroupBox *group = new TGroupBox(&window);
    TRadioButton *todos = new TRadioButton(group);
    TRadioButton *lista = new TRadioButton(group);
    TComboBox *status = new TComboBox(&window);
    TCheckBox *check = new TCheckBox(&window);
    TRadioGroup *ctbl = new TRadioGroup(&window);
    QStringList log;

    void SetUp() override
    {
        group->setGeometry(0, 0, 200, 60);
        todos->setGeometry(5, 20, 80, 20);
        lista->setGeometry(100, 20, 80, 20);
        status->setGeometry(0, 70, 150, 24);
        check->setGeometry(0, 100, 150, 24);
        ctbl->setGeometry(0, 130, 200, 90);
        status->setItems({"Baixada", "Descontada", "Em Aberto", "Planejada", "Todas"});
        ctbl->setItems({"Contabilizadas", "Não contabilizadas", "Ambos"});
        todos->onClick = [this](QObject *) { log.append(QStringLiteral("todos")); };
        lista->onClick = [this](QObject *) { log.append(QStringLiteral("lista")); };
        status->onClick = [this](QObject *) { log.append(QStringLiteral("status")); };
        check->onClick = [this](QObject *) { log.append(QStringLiteral("check")); };
        ctbl->onClick = [this](QObject *) { log.append(QStringLiteral("ctbl")); };
        uitest::showActive(&window);
    }
};

} // namespace

TEST_F(Controls, CheckingARadioFromCodeRunsItsClickAndUnchecksItsGroup)
{
    todos->setChecked(true);
    lista->setChecked(true);
    EXPECT_EQ(log, QStringList({"todos", "lista"}));
    EXPECT_FALSE(todos->isChecked());
    todos->setProperty("checked", true); // as scripts set it
    EXPECT_TRUE(todos->isChecked());
    EXPECT_FALSE(lista->isChecked());
    log.clear();
    todos->setChecked(true);  // already checked: nothing
    lista->setChecked(false); // unchecking: nothing
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(Controls, ClickingARadioChecksItOnceAndNeverUnchecksIt)
{
    QTest::mouseClick(lista, Qt::LeftButton, {}, QPoint(5, 10));
    QTest::mouseClick(lista, Qt::LeftButton, {}, QPoint(5, 10));
    EXPECT_EQ(log, QStringList{"lista"});
    EXPECT_TRUE(lista->isChecked());
    EXPECT_FALSE(todos->isChecked());
}

TEST_F(Controls, ComboCheckBoxAndRadioGroupRunNothingWhenSetFromCode)
{
    status->setItemIndex(0);
    status->setProperty("itemIndex", 4);
    check->setChecked(true);
    ctbl->setItemIndex(2);
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(status->currentText(), QStringLiteral("Todas"));
    EXPECT_EQ(ctbl->property("itemIndex").toInt(), 2);

    status->select(0); // a user's pick
    ctbl->select(1);
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, 10));
    EXPECT_EQ(log, QStringList({"status", "ctbl", "check"}));
    EXPECT_FALSE(check->isChecked());
}

TEST_F(Controls, RadioGroupWithoutAChoiceHasIndexMinusOne)
{
    EXPECT_EQ(ctbl->itemIndex(), -1);
    ctbl->setItemIndex(7);
    EXPECT_EQ(ctbl->itemIndex(), -1);
    ctbl->setItemIndex(0);
    ctbl->setItems({"Real", "Previsto"});
    EXPECT_EQ(ctbl->itemIndex(), 0);
}

TEST(Menus, DisabledItemsIgnoreShortcutAndClickWhileInvisibleItemsKeepTheirShortcut)
{
    QWidget form;
    auto *edit = new TEdit(&form); // its own Ctrl+D (delete) must give way to the form's
    TPopupMenu popup(&form);
    auto *desfazer = new TMenuItem(&form);
    desfazer->setCaption(QStringLiteral("Desfazer"));
    desfazer->setShortCutText(QStringLiteral("Ctrl+D"));
    desfazer->setVisible(false);
    popup.addItem(desfazer);
    desfazer->attach(&form);
    auto *filtro = new TMenuItem(&form);
    filtro->setCaption(QStringLiteral("&Filtrar"));
    filtro->setShortCutText(QStringLiteral("16460")); // the toolkit's code of Ctrl+L
    popup.addItem(filtro);
    filtro->attach(&form);
    int undo = 0, filter = 0;
    desfazer->onClick = [&](QObject *) { ++undo; };
    filtro->onClick = [&](QObject *) { ++filter; };
    uitest::showActive(&form);
    edit->setFocus();

    EXPECT_EQ(filtro->shortCutText(), QStringLiteral("Ctrl+L"));
    QTest::keyClick(edit, Qt::Key_D, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(undo, 1);
    EXPECT_EQ(filter, 1);

    filtro->setEnabled(false);
    QTest::keyClick(edit, Qt::Key_L, Qt::ControlModifier);
    filtro->click();
    filtro->trigger();
    EXPECT_EQ(filter, 1);
    filtro->setEnabled(true);
    filtro->trigger();
    EXPECT_EQ(filter, 2);
}

TEST(Pages, DisablingAPageDisablesItsTabAndActivePageIsTheShownPagesName)
{
    QWidget window;
    auto *pages = new TPageControl(&window);
    auto *one = new TTabSheet;
    one->setObjectName(QStringLiteral("tshFolhaDados"));
    auto *two = new TTabSheet;
    two->setObjectName(QStringLiteral("tshFormulario"));
    two->setCaption(QStringLiteral("Formulário"));
    pages->addPage(one);
    pages->addPage(two);
    two->setCaption(QStringLiteral("Ajustes"));
    EXPECT_EQ(pages->tabText(1), QStringLiteral("Ajustes"));
    two->setEnabled(false);
    EXPECT_FALSE(pages->isTabEnabled(1));
    EXPECT_FALSE(pages->clickPage(QStringLiteral("tshFormulario")));
    EXPECT_EQ(pages->property("activePage").toString(), QStringLiteral("tshFolhaDados"));
    two->setEnabled(true);
    pages->setProperty("activePage", QStringLiteral("tshFormulario"));
    EXPECT_EQ(pages->activePage(), two);
    EXPECT_THROW(pages->setActivePageName(QStringLiteral("tshNada")), Error);
}

TEST(Layout, AlignedControlsShareTheSpaceAndOthersKeepTheirPlace)
{
    QWidget form;
    form.resize(400, 300);
    auto *top = new QWidget(&form);
    top->setGeometry(0, 0, 10, 27);
    auto *bottom = new QWidget(&form);
    bottom->setGeometry(0, 0, 10, 22);
    auto *client = new QWidget(&form);
    auto *fixed = new QWidget(&form);
    fixed->setGeometry(30, 40, 50, 20);
    AlignLayout *layout = AlignLayout::of(&form);
    layout->addWidget(top, AlignLayout::Align::Top);
    layout->addWidget(bottom, AlignLayout::Align::Bottom);
    layout->addWidget(client, AlignLayout::Align::Client);
    layout->addWidget(fixed, AlignLayout::Align::None);
    form.show();
    layout->activate();
    EXPECT_EQ(top->geometry(), QRect(0, 0, 400, 27));
    EXPECT_EQ(bottom->geometry(), QRect(0, 278, 400, 22));
    EXPECT_EQ(client->geometry(), QRect(0, 27, 400, 251));
    EXPECT_EQ(fixed->geometry(), QRect(30, 40, 50, 20));
    form.resize(500, 200);
    layout->activate();
    EXPECT_EQ(client->geometry(), QRect(0, 27, 500, 151));
}

// A caption is shown as it stands, markup included, and its accelerator still moves the focus
// to the label's buddy.
TEST(Labels, CaptionsAreTextNotMarkupAndKeepTheirAccelerator)
{
    QWidget window;
    auto *label = new TLabel(&window);
    auto *edit = new TEdit(&window);
    auto *other = new TEdit(&window);
    label->setGeometry(0, 0, 300, 20);
    edit->setGeometry(0, 30, 100, 24);
    other->setGeometry(0, 60, 100, 24);
    const QString shown = QStringLiteral("<b>Loja</b> <img src=\"x.png\">");
    label->setText(shown);
    EXPECT_GE(label->sizeHint().width(), label->fontMetrics().horizontalAdvance(shown));
    label->setText(QStringLiteral("&Empresa"));
    label->setBuddy(edit);
    uitest::showActive(&window);
    other->setFocus();
    QTest::keyClick(&window, Qt::Key_E, Qt::AltModifier);
    EXPECT_TRUE(edit->hasFocus());
}

TEST(Containers, SetChildEnabledReachesTheDirectChildren)
{
    QWidget box;
    auto *a = new TRadioButton(&box);
    auto *b = new TButtonFlat(&box);
    auto *inner = new TCheckBox(b);
    SetChildEnabled(&box, false);
    EXPECT_FALSE(a->isEnabled());
    EXPECT_FALSE(b->isEnabled());
    SetChildEnabled(&box, true);
    EXPECT_TRUE(b->isEnabled());
    EXPECT_TRUE(inner->isEnabled());
}

TEST(Containers, TwoStateGlyphGivesTheNormalAndTheDisabledPicture)
{
    TButtonFlat button;
    button.setGlyph(QStringLiteral("data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAQAAAACCAIAAADwyuo0AAAAE0lEQVR4nGP4z8AARGDiPwMyBwBnsgf5Q2OaZwAAAABJRU5ErkJggg=="));
    button.setNumGlyphs(2);
    EXPECT_EQ(button.iconSize(), QSize(2, 2));
    EXPECT_EQ(button.icon().pixmap(QSize(2, 2), QIcon::Normal).toImage().pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(button.icon().pixmap(QSize(2, 2), QIcon::Disabled).toImage().pixelColor(0, 0), QColor(0, 0, 255));
    EXPECT_THROW(button.setGlyph(QStringLiteral("/sem/desenho.png")), Error);
}
