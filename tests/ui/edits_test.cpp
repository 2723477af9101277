#include "support.h"

#include <erpfwui/widgets/edits.h>

#include <erpfw/core/utils.h>

#include <QCalendarWidget>

using namespace erp;

namespace {

struct Edits : ::testing::Test
{
    uitest::Messages messages;
    QWidget window;
    TMaskEdit *med = new TMaskEdit(&window);
    TDateEditPlus *dep = new TDateEditPlus(&window);
    TNumberEdit *ned = new TNumberEdit(&window);
    TEdit *other = new TEdit(&window);
    int changes = 0;

    void SetUp() override
    {
        med->setGeometry(0, 0, 100, 22);
        dep->setGeometry(0, 30, 100, 22);
        ned->setGeometry(0, 60, 100, 22);
        other->setGeometry(0, 90, 100, 22);
        med->onChange = [this](QObject *) { ++changes; };
        uitest::showActive(&window);
    }

    void type(QWidget *edit, const QString &keys)
    {
        edit->setFocus();
        QTest::keyClicks(edit, keys);
    }
};

} // namespace

TEST_F(Edits, TwoDigitMaskUntouchedTypedAndSetFromCode)
{
    med->setEditMask(QStringLiteral("99;0; "));
    EXPECT_EQ(med->text(), QString());
    EXPECT_EQ(med->displayText(), QStringLiteral("  "));
    EXPECT_TRUE(med->isUntouched());
    EXPECT_TRUE(emptyString(med->text()));

    type(med, QStringLiteral("1a"));
    EXPECT_EQ(med->text(), QStringLiteral("1")); // the letter has no place in the mask
    EXPECT_EQ(changes, 1);
    QTest::keyClicks(med, QStringLiteral("23"));
    EXPECT_EQ(med->text(), QStringLiteral("12"));
    QTest::keyClick(med, Qt::Key_Backspace);
    EXPECT_EQ(med->text(), QStringLiteral("1"));

    changes = 0;
    med->setText(QStringLiteral("01"));
    med->setText(QStringLiteral("01"));
    EXPECT_EQ(med->text(), QStringLiteral("01"));
    EXPECT_EQ(changes, 1); // a change only when the text changed
    med->clear();
    EXPECT_TRUE(med->isUntouched());
}

TEST_F(Edits, RegistrationMasksLayTheLiteralsAndDropThemFromTheText)
{
    med->setEditMask(QStringLiteral("999.999.999-99;0;_"));
    med->setText(QStringLiteral("12345678901"));
    EXPECT_EQ(med->displayText(), QStringLiteral("123.456.789-01"));
    EXPECT_EQ(med->text(), QStringLiteral("12345678901"));
    med->clear();
    type(med, QStringLiteral("1234"));
    EXPECT_EQ(med->displayText(), QStringLiteral("123.4__.___-__"));
    EXPECT_FALSE(med->isUntouched());
}

TEST_F(Edits, KeyPressFilterReplacesOrRefusesAndMaxLengthHolds)
{
    med->setMaxLength(7);
    med->onKeyPress = [](QObject *, QChar &key) {
        if (key == QLatin1Char('-'))
            key = QChar();
        else
            key = key.toUpper();
    };
    type(med, QStringLiteral("ab-cdefghij"));
    EXPECT_EQ(med->text(), QStringLiteral("ABCDEFG"));

    QString seen;
    other->onKeyPress = [&](QObject *, QChar &key) { seen += key == QLatin1Char('\b') ? QLatin1Char('<') : key; };
    type(other, QStringLiteral("x"));
    QTest::keyClick(other, Qt::Key_Backspace);
    EXPECT_EQ(seen, QStringLiteral("x<"));
    EXPECT_EQ(other->text(), QString());
}

TEST_F(Edits, DateEditEmptyValidInvalidAndItsLook)
{
    EXPECT_FALSE(dep->getDate().isValid());
    EXPECT_TRUE(emptyString(dep->text()));
    EXPECT_NO_THROW(dep->checkValidDate());

    dep->setDate(QDate(2024, 2, 29));
    EXPECT_EQ(dep->text(), QStringLiteral("29/02/2024"));
    EXPECT_EQ(dep->getDate(), QDate(2024, 2, 29));
    EXPECT_EQ(dep->weekday(), QStringLiteral("Quinta"));
    EXPECT_EQ(dep->toolTip(), QStringLiteral("Quinta"));
    EXPECT_EQ(dep->palette().color(QPalette::Text), QColor(Qt::blue));

    dep->setDate(QDate());
    EXPECT_TRUE(dep->isUntouched());
    EXPECT_NE(dep->palette().color(QPalette::Text), QColor(Qt::blue));

    type(dep, QStringLiteral("31022024"));
    EXPECT_FALSE(dep->getDate().isValid());
    try {
        dep->checkValidDate();
        ADD_FAILURE() << "an impossible date passed";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Data inválida: 31/02/2024"));
    }
    dep->clear();
    type(dep, QStringLiteral("1/3/2025"));
    EXPECT_EQ(dep->getDate(), QDate(2025, 3, 1));
    EXPECT_EQ(TDateEditPlus::weekdayName(QDate(2025, 3, 2)), QStringLiteral("Domingo"));

    int changes = 0;
    dep->onChange = [&](QObject *) { ++changes; };
    QTest::keyClick(dep, Qt::Key_F4);
    auto *calendar = dep->findChild<QCalendarWidget *>(QStringLiteral("calDataPopup"));
    ASSERT_NE(calendar, nullptr);
    EXPECT_EQ(calendar->selectedDate(), QDate(2025, 3, 1));
    emit calendar->activated(QDate(2024, 12, 25));
    EXPECT_EQ(dep->getDate(), QDate(2024, 12, 25));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(TDateEditPlus::weekdayName(QDate(2025, 3, 1)), QStringLiteral("Sábado"));
}

TEST_F(Edits, NumberEditTakesDigitsAndOneSeparatorAndShowsPtBr)
{
    type(ned, QStringLiteral("12a34.5,6"));
    EXPECT_EQ(ned->text(), QStringLiteral("1234,56"));
    EXPECT_DOUBLE_EQ(ned->getNumber(), 1234.56);
    other->setFocus();
    EXPECT_EQ(ned->text(), QStringLiteral("1.234,56"));

    ned->setThousands(false);
    ned->setNumber(1234.5);
    EXPECT_EQ(ned->text(), QStringLiteral("1234,50"));
    ned->setNumber(0);
    EXPECT_EQ(ned->text(), QStringLiteral("0,00"));
    ned->clear();
    EXPECT_DOUBLE_EQ(ned->getNumber(), 0.0);

    ned->setDecimals(0);
    type(ned, QStringLiteral("-7,5"));
    EXPECT_EQ(ned->text(), QStringLiteral("-75"));
}

TEST_F(Edits, NumberEditKeyFilterWithMaxNumberRefusesAnEleventhDigitAndTheMinusSign)
{
    ned->onKeyPress = [this](QObject *, QChar &key) {
        if (key == QLatin1Char('-'))
            key = QChar();
        if (!maxNumber(ned->text(), 10, 2, key, ned->selectionStart() < 0 ? ned->cursorPosition() : ned->selectionStart(),
                       int(ned->selectedText().size())))
            key = QChar();
    };
    type(ned, QStringLiteral("-123456789012"));
    EXPECT_EQ(ned->text(), QStringLiteral("1234567890"));
    QTest::keyClicks(ned, QStringLiteral(",129"));
    EXPECT_EQ(ned->text(), QStringLiteral("1234567890,12"));
}

// Clicked past its blanks, an empty masked field still takes what is typed from its start.
TEST_F(Edits, AClickIntoAnUntouchedMaskPutsTheCaretAtTheFirstBlank)
{
    med->setEditMask(QStringLiteral("99;0; "));
    QTest::mouseClick(med, Qt::LeftButton, {}, QPoint(med->width() - 3, med->height() / 2));
    EXPECT_EQ(med->cursorPosition(), 0);
    QTest::keyClicks(med, QStringLiteral("7"));
    EXPECT_EQ(med->text(), QStringLiteral("7"));
}
