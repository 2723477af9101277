#include "support.h"

#include <erpfw/core/editmask.h>
#include <erpfw/core/error.h>
#include <erpfw/core/messages.h>
#include <erpfw/core/ptbr.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/core/utils.h>

#include <QLocale>

using namespace erp;


TEST(Messages, KeysMatchWithoutCaseAndAMissingKeyGivesItself)
{
    test::RecordingPresenter ui;
    Messages m;
    m.setLines({QStringLiteral("Emp_nc|Empresa não cadastrada."), QStringLiteral("ReCt_Suc| Recálculo ok.")});
    EXPECT_EQ(m.msg(QStringLiteral("Emp_Nc")), QStringLiteral("Empresa não cadastrada."));
    EXPECT_EQ(m.msg(QStringLiteral("EMP_NC")), QStringLiteral("Empresa não cadastrada."));
    EXPECT_EQ(m.msg(QStringLiteral("rect_suc")), QStringLiteral(" Recálculo ok.")); // the leading blank stays
    EXPECT_EQ(m.msg(QStringLiteral("Filial")), QStringLiteral("Filial"));
    EXPECT_TRUE(ui.shown.isEmpty());

    ui.answers = {Button::No};
    EXPECT_EQ(m.showMsg(QStringLiteral("emp_NC"), DialogType::Confirmation, Buttons(Button::Yes) | Button::No), Button::No);
    ASSERT_EQ(ui.shown.size(), 1);
    EXPECT_EQ(ui.shown[0].type, DialogType::Confirmation);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Empresa não cadastrada."));
    EXPECT_EQ(ui.shown[0].buttons, Buttons(Button::Yes) | Button::No);
}

TEST(Messages, ALineWithoutKeyIsRefusedAndTheTableStaysAsItWas)
{
    Messages m;
    m.setObjectName(QStringLiteral("msgPadrao"));
    m.setLines({QStringLiteral("A|texto")});
    const QString error = ERP_ERROR_TEXT(m.setLines({QStringLiteral("B|outro"), QStringLiteral("sem barra")}));
    EXPECT_TRUE(error.contains(QStringLiteral("msgPadrao"))) << error.toStdString();
    EXPECT_EQ(m.msg(QStringLiteral("a")), QStringLiteral("texto"));
    EXPECT_EQ(m.msg(QStringLiteral("B")), QStringLiteral("B"));
}

TEST(MessageService, MensErroShowsOnceAndRaisesTheSilentAbort)
{
    test::RecordingPresenter ui;
    bool aborted = false;
    try {
        mensErro(QStringLiteral("Empresa deve ser informada."), true);
    } catch (const Abort &) {
        aborted = true;
        // the shell's default handling of the abort shows nothing more
        handleException(std::current_exception());
    }
    EXPECT_TRUE(aborted);
    ASSERT_EQ(ui.shown.size(), 1);
    EXPECT_EQ(ui.shown[0].type, DialogType::Error);
    EXPECT_EQ(ui.shown[0].text, QStringLiteral("Empresa deve ser informada."));

    mensErro(QStringLiteral("só aviso"), false); // returns
    EXPECT_EQ(ui.shown.size(), 2);

    try {
        throw Error(QStringLiteral("Falha de teste."));
    } catch (...) {
        handleException(std::current_exception());
    }
    ASSERT_EQ(ui.shown.size(), 3);
    EXPECT_EQ(ui.shown[2].text, QStringLiteral("Falha de teste."));
}

TEST(Utilities, EmptyStringIsTrueForUntouchedMasksAndDates)
{
    EXPECT_TRUE(emptyString(QString()));
    EXPECT_TRUE(emptyString(QStringLiteral("   ")));
    EXPECT_TRUE(emptyString(QStringLiteral("__/__/____")));
    EXPECT_TRUE(emptyString(QStringLiteral("   .   .   -  ")));
    EXPECT_TRUE(emptyString(QStringLiteral("  /  /    ")));
    EXPECT_FALSE(emptyString(QStringLiteral("0")));
    EXPECT_FALSE(emptyString(QStringLiteral(" a ")));
    EXPECT_FALSE(emptyString(QStringLiteral("01/__/____")));
    EXPECT_FALSE(emptyString(QStringLiteral("É")));

    const EditMask cpf(pictPess(QStringLiteral("F")));
    const QString untouched = cpf.layout(QString());
    EXPECT_EQ(untouched, QStringLiteral("___.___.___-__"));
    EXPECT_TRUE(cpf.isUntouched(untouched));
    EXPECT_TRUE(emptyString(untouched));
    EXPECT_TRUE(emptyString(cpf.textWithLiterals(untouched)));
}

TEST(Utilities, AjustaPadsCodesAndKeepsTheEmptyTextEmpty)
{
    EXPECT_EQ(ajusta(QStringLiteral("1"), 2), QStringLiteral("01"));
    EXPECT_EQ(ajusta(QStringLiteral("123"), 7), QStringLiteral("0000123"));
    EXPECT_EQ(ajusta(QStringLiteral("1 "), 2), QStringLiteral("01")); // a mask's trailing blank
    EXPECT_EQ(ajusta(QStringLiteral("12"), 2), QStringLiteral("12"));
    EXPECT_EQ(ajusta(QStringLiteral("12345"), 2), QStringLiteral("12345"));
    EXPECT_EQ(ajusta(QString(), 7), QString());
    EXPECT_EQ(ajusta(QStringLiteral("  "), 2), QString());
}

TEST(Utilities, MaxNumberRefusesKeysBeyondTenIntegerOrTwoDecimalDigits)
{
    const auto ok = [](const char *text, const char *key, int pos, int sel = 0) {
        return maxNumber(QString::fromUtf8(text), 10, 2, QString::fromUtf8(key), pos, sel);
    };
    EXPECT_TRUE(ok("123456789", "1", 9));
    EXPECT_FALSE(ok("1234567890", "1", 10));
    EXPECT_FALSE(ok("1.234.567.890", "5", 0)); // grouping dots are not digits, the 11th digit is
    EXPECT_TRUE(ok("1234567890", "1", 0, 1)); // replaces the selected digit
    EXPECT_TRUE(ok("1234567890,1", "2", 12));
    EXPECT_FALSE(ok("1234567890,12", "3", 13));
    EXPECT_FALSE(ok("1234567890,12", "3", 9)); // the 11th integer digit
    EXPECT_TRUE(ok("123456789,12", "3", 9));
    EXPECT_FALSE(ok("123456789,12", "3", 9 + 1 + 2));
    EXPECT_TRUE(ok("12", ",", 2));
    EXPECT_FALSE(ok("1,2", ",", 3)); // one separator only
    EXPECT_FALSE(ok("12345", ",", 1)); // would leave 4 decimals
    EXPECT_TRUE(ok("12", "", 2));       // the null key of a filtered minus sign
    EXPECT_TRUE(maxNumber(QStringLiteral("1234567890,12"), 10, 2, QChar(8), 13, 0)); // backspace
    EXPECT_FALSE(maxNumber(QStringLiteral("1"), 10, 0, QChar(u','), 1, 0));
}

TEST(Utilities, FormatMaskTextLaysOutRegistrationNumbers)
{
    EXPECT_EQ(pictPess(QStringLiteral("F")), QStringLiteral("999.999.999-99;0;_"));
    EXPECT_EQ(pictPess(QStringLiteral("J")), QStringLiteral("99.999.999/9999-99;0;_"));
    EXPECT_EQ(pictPess(QStringLiteral("E")), QString());

    EXPECT_EQ(formatMaskText(pictPess(QStringLiteral("F")), QStringLiteral("12345678901")), QStringLiteral("123.456.789-01"));
    EXPECT_EQ(formatMaskText(pictPess(QStringLiteral("J")), QStringLiteral("12345678000195")),
              QStringLiteral("12.345.678/0001-95"));
    EXPECT_EQ(formatMaskText(pictPess(QStringLiteral("X")), QStringLiteral("EX-123")), QStringLiteral("EX-123"));
    EXPECT_EQ(formatMaskText(pictPess(QStringLiteral("F")), QStringLiteral("123")), QStringLiteral("123.___.___-__"));
    // a number stored with its literals is not laid out twice
    EXPECT_EQ(formatMaskText(pictPess(QStringLiteral("F")), QStringLiteral("123.456.789-01")), QStringLiteral("123.456.789-01"));
    EXPECT_EQ(formatMaskText(QStringLiteral("99;0; "), QStringLiteral("1")), QStringLiteral("1 "));
    EXPECT_EQ(formatMaskText(QStringLiteral("99;0; "), QStringLiteral("12")), QStringLiteral("12"));
}

TEST(EditMask, SectionsLiteralsBlanksAndCase)
{
    const EditMask code(QStringLiteral("99;0; "));
    EXPECT_FALSE(code.keepLiterals());
    EXPECT_EQ(code.blank(), QLatin1Char(' '));
    EXPECT_EQ(code.size(), 2);
    EXPECT_EQ(code.text(code.layout(QStringLiteral("1"))), QStringLiteral("1")); // trailing blank is not text
    EXPECT_TRUE(code.isUntouched(QStringLiteral("  ")));

    const EditMask date(QStringLiteral("!99/99/0000;1;_"));
    EXPECT_TRUE(date.keepLiterals());
    EXPECT_TRUE(date.blanksFirst());
    EXPECT_TRUE(date.isLiteral(2));
    EXPECT_EQ(date.layout(QStringLiteral("31/12/2024")), QStringLiteral("31/12/2024"));
    EXPECT_EQ(date.text(QStringLiteral("31/12/2024")), QStringLiteral("31/12/2024"));
    EXPECT_EQ(date.textWithoutLiterals(QStringLiteral("31/12/2024")), QStringLiteral("31122024"));
    EXPECT_TRUE(date.isUntouched(QStringLiteral("__/__/____")));
    EXPECT_FALSE(date.isComplete(QStringLiteral("31/12/20__")));
    EXPECT_TRUE(date.isComplete(QStringLiteral("31/12/2024")));
    EXPECT_TRUE(date.isComplete(QStringLiteral("__/__/2024"))); // 9 is optional, 0 is not

    const EditMask plate(QStringLiteral(">LLL\\-0<aaa;1;*"));
    ASSERT_EQ(plate.size(), 8);
    EXPECT_TRUE(plate.isLiteral(3));
    EXPECT_EQ(plate.position(3).literal, QLatin1Char('-'));
    EXPECT_TRUE(plate.accepts(0, QLatin1Char('a')));
    EXPECT_FALSE(plate.accepts(0, QLatin1Char('1')));
    EXPECT_EQ(plate.convert(0, QLatin1Char('a')), QLatin1Char('A'));
    EXPECT_EQ(plate.convert(5, QLatin1Char('B')), QLatin1Char('b'));
    EXPECT_EQ(plate.layout(QStringLiteral("abc-1XyZ")), QStringLiteral("ABC-1xyz"));
    EXPECT_EQ(plate.layout(QStringLiteral("ab")), QStringLiteral("AB*-****"));
    EXPECT_EQ(plate.nextEditable(3), 4);
    EXPECT_EQ(plate.previousEditable(3), 2);

    // "!" puts the blanks first
    const EditMask right(QStringLiteral("!9999;0;_"));
    EXPECT_EQ(right.layout(QStringLiteral("12")), QStringLiteral("__12"));
    EXPECT_EQ(right.text(QStringLiteral("__12")), QStringLiteral("12"));

    // no second section: literals are kept
    EXPECT_TRUE(EditMask(QStringLiteral("00:00")).keepLiterals());
    EXPECT_TRUE(EditMask().isEmpty());
}

class PtBr : public ::testing::TestWithParam<QLocale::Language>
{
protected:
    void SetUp() override { QLocale::setDefault(QLocale(GetParam())); }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }
};

TEST_P(PtBr, FormatsDoNotDependOnTheMachineLocale)
{
    EXPECT_EQ(formatFloat(QStringLiteral("#,##0.00"), 1234.5), QStringLiteral("1.234,50"));
    EXPECT_EQ(formatFloat(QStringLiteral("#,##0.00"), 1234567.891), QStringLiteral("1.234.567,89"));
    EXPECT_EQ(formatFloat(QStringLiteral("#,##0.00"), -1234.5), QStringLiteral("-1.234,50"));
    EXPECT_EQ(formatFloat(QStringLiteral("#,##0.00"), 0), QStringLiteral("0,00"));
    EXPECT_EQ(formatFloat(QStringLiteral("#,##0.00"), -0.001), QStringLiteral("0,00"));
    EXPECT_EQ(formatFloat(QStringLiteral("#,##0.00"), 0.995), QStringLiteral("1,00"));
    EXPECT_EQ(formatFloat(QStringLiteral("0.##"), 2.5), QStringLiteral("2,5"));
    EXPECT_EQ(formatFloat(QStringLiteral("#.##"), 0.5), QStringLiteral(",5"));
    EXPECT_EQ(formatFloat(QStringLiteral("000"), 7), QStringLiteral("007"));
    EXPECT_EQ(formatFloat(QStringLiteral("0.00"), 1.5e-120), QStringLiteral("0,00"));
    EXPECT_EQ(formatFloat(QStringLiteral("0"), 1e21), QStringLiteral("1000000000000000000000"));
    EXPECT_EQ(formatFloat(QStringLiteral("\"R$ \"#,##0.00;(#,##0.00);zero"), -5), QStringLiteral("(5,00)"));
    // formats taken in turn, and sections given as an empty quote or not given at all
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(formatFloat(QStringLiteral("#,##0.00"), 5), QStringLiteral("5,00"));
        EXPECT_EQ(formatFloat(QStringLiteral("0.0"), 5), QStringLiteral("5,0"));
        EXPECT_EQ(formatFloat(QStringLiteral("0;0;\"\""), 0), QString());
        EXPECT_EQ(formatFloat(QStringLiteral("0;;"), 0), QStringLiteral("0"));
        EXPECT_EQ(formatFloat(QStringLiteral("#,##0.00"), 9999999.995), QStringLiteral("10.000.000,00"));
    }
    EXPECT_EQ(formatFloat(QStringLiteral("\"R$ \"#,##0.00;(#,##0.00);\"zero\""), 0), QStringLiteral("zero"));
    EXPECT_EQ(formatFloat(QStringLiteral("\"R$ \"#,##0.00"), 12), QStringLiteral("R$ 12,00"));
    EXPECT_EQ(floatToStr(1234.5), QStringLiteral("1234,5"));
    EXPECT_EQ(floatToStr(0), QStringLiteral("0"));

    EXPECT_EQ(formatDate(QDate(2024, 1, 5)), QStringLiteral("05/01/2024"));
    EXPECT_EQ(formatDate(QDate()), QString());
    for (const QDate d : {QDate(1, 1, 1), QDate(99, 12, 31), QDate(999, 2, 3), QDate(2024, 10, 9), QDate(9999, 12, 31),
                          QDate(10000, 1, 1), QDate(-44, 3, 15)})
        EXPECT_EQ(formatDate(d), d.toString(QStringLiteral("dd/MM/yyyy"))) << d.year();
    EXPECT_EQ(formatDateTime(QDateTime(QDate(2024, 1, 5), QTime(0, 0))), QStringLiteral("05/01/2024"));
    EXPECT_EQ(formatDateTime(QDateTime(QDate(2024, 1, 5), QTime(8, 3, 9))), QStringLiteral("05/01/2024 08:03:09"));
    EXPECT_EQ(formatDateTime(QStringLiteral("dd/mm/yy hh:nn"), QDateTime(QDate(2024, 1, 5), QTime(8, 3))),
              QStringLiteral("05/01/24 08:03"));
    EXPECT_EQ(formatDateTime(QStringLiteral("dddd"), QDateTime(QDate(2024, 1, 7), QTime(0, 0))), QStringLiteral("domingo"));

    EXPECT_EQ(parseNumber(QStringLiteral("1.234,56")), 1234.56);
    EXPECT_EQ(parseNumber(QStringLiteral(" -7 ")), -7.0);
    EXPECT_EQ(parseNumber(QStringLiteral("1234,5")), 1234.5);
    EXPECT_FALSE(parseNumber(QStringLiteral("12,3,4")));
    EXPECT_FALSE(parseNumber(QStringLiteral("1.23,4")));
    EXPECT_FALSE(parseNumber(QStringLiteral("abc")));
    EXPECT_FALSE(parseNumber(QString()));
    EXPECT_EQ(parseDate(QStringLiteral("31/12/2024")), QDate(2024, 12, 31));
    EXPECT_EQ(parseDate(QStringLiteral("1/2/24")), QDate(2024, 2, 1));
    EXPECT_FALSE(parseDate(QStringLiteral("31/02/2024")).isValid());
    EXPECT_FALSE(parseDate(QStringLiteral("__/__/____")).isValid());
    EXPECT_EQ(parseDateTime(QStringLiteral("05/01/2024 08:03")), QDateTime(QDate(2024, 1, 5), QTime(8, 3)));
}

INSTANTIATE_TEST_SUITE_P(MachineLocales, PtBr,
                         ::testing::Values(QLocale::C, QLocale::English, QLocale::German, QLocale::Portuguese));

TEST(ShellContext, TodayIsTheOverrideWhenGiven)
{
    ShellContext &ctx = ShellContext::instance();
    ctx.setTodayOverride(QDate(2024, 3, 1));
    EXPECT_EQ(today(), QDate(2024, 3, 1));
    ctx.setTodayOverride(QDate());
    EXPECT_EQ(today(), QDate::currentDate());
}
