#include "support.h"

#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/messagebox.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <stdexcept>

using namespace erp;

namespace {

struct ClickFixture : ::testing::Test
{
    uitest::Messages messages;
    QWidget window;
    TButtonFlat *button = new TButtonFlat(&window);
    TRadioButton *radio = new TRadioButton(&window);
    void SetUp() override { uitest::showActive(&window); }
};

} // namespace

TEST_F(ClickFixture, ExceptionOfAClickHandlerStopsAtTheDispatcherAndIsShownOnce)
{
    int clicks = 0;
    button->onClick = [&](QObject *) {
        ++clicks;
        throw Error(QStringLiteral("Falhou o clique."));
    };
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 2); // the event loop survived the first one
    EXPECT_EQ(messages.texts(), QStringList({QStringLiteral("Falhou o clique."), QStringLiteral("Falhou o clique.")}));
    EXPECT_EQ(messages.shown.first().type, DialogType::Error);
}

TEST_F(ClickFixture, SilentAbortShowsNothingAndMensErroShowsItsTextOnce)
{
    button->onClick = [](QObject *) { abortSilently(); };
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(messages.shown.isEmpty());

    button->onClick = [](QObject *) { mensErro(QStringLiteral("Empresa deve ser informada.")); };
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Empresa deve ser informada.")});
}

TEST_F(ClickFixture, ForeignExceptionsAreShownWithTheirText)
{
    button->onClick = [](QObject *) { throw std::runtime_error("disco cheio"); };
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(messages.shown.size(), 1);
    EXPECT_TRUE(messages.shown.first().text.contains(QStringLiteral("disco cheio")));
}

TEST_F(ClickFixture, HandlerRunFromCodeHandsItsExceptionToTheCallerWhichTheOuterDispatcherShowsOnce)
{
    radio->onClick = [](QObject *) { throw Error(QStringLiteral("Lista vazia.")); };
    EXPECT_THROW(radio->setChecked(true), Error);
    radio->setChecked(false);

    bool afterward = false;
    button->onClick = [&](QObject *) {
        radio->setChecked(true);
        afterward = true; // not reached: the radio's exception ends this handler too
    };
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(afterward);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Lista vazia.")});
}

TEST(MessageBoxPresenter, AsksInPortugueseAndGivesTheButtonPressed)
{
    MessageBoxPresenter presenter;
    QStringList labels;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        icon = box->icon();
        for (QAbstractButton *b : box->buttons())
            labels.append(b->text().remove(QLatin1Char('&')));
        for (QAbstractButton *b : box->buttons())
            if (b->text().contains(QStringLiteral("Não")))
                b->click();
    });
    const Button answer = presenter.present(DialogType::Confirmation, QStringLiteral("Deseja marcar todas as contas?"),
                                            Buttons(Button::Yes) | Button::No);
    EXPECT_EQ(answer, Button::No);
    EXPECT_EQ(icon, QMessageBox::Question);
    labels.sort();
    EXPECT_EQ(labels, QStringList({QStringLiteral("Não"), QStringLiteral("Sim")}));

    // a server's text with markup in it is shown as it is
    const QString marked = QStringLiteral("Cliente <b>Loja</b> <img src=\"x.png\"> bloqueado.");
    int labelWidth = 0, textWidth = 0;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
            labelWidth = label->sizeHint().width();
            textWidth = label->fontMetrics().horizontalAdvance(marked);
        }
        QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_EQ(presenter.present(DialogType::Error, marked, Buttons(Button::OK) | Button::Cancel), Button::Cancel);
    EXPECT_GT(textWidth, 0);
    EXPECT_GE(labelWidth, textWidth);
}
