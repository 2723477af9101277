// Every rule of the confirmation with its message, page and focus; what leaving a field does;
// the key filter of the value edits.
#include "support.h"

#include <erpfwui/widgets/focus.h>

#include <erpfw/core/error.h>

using namespace erp;
using namespace rec00801test;

namespace {

using Dialog = TfrmFiltroRecalLancContReceber;

struct Rule
{
    const char *name;
    std::function<void(Dialog &)> setup;
    QString message;
    QString page;
    QString focus;
};

QDate day(int d, int m = 5)
{
    return QDate(2024, m, d);
}

void setDateEditBack(TDateEditPlus *edit, QDate date)
{
    edit->clear();
    edit->setDate(date);
}

const QString kContReceber = QStringLiteral("tshContReceber");
const QString kDocumento = QStringLiteral("tshDocumento");

} // namespace

using Validation = FilterTest;

TEST_F(Validation, EachRuleStopsTheConfirmationWithItsMessagePageAndFocus)
{
    const QList<Rule> rules{
        {"due dates out of order", [](Dialog &d) { d.depVencIni->setDate(day(10)); d.depVencFin->setDate(day(9)); },
         "Data de vencimento inicial deve ser menor ou igual a data de vencimento final.", kContReceber, "depVencIni"},
        {"first due date missing", [](Dialog &d) { d.depVencIni->clear(); },
         "Data de vencimento inicial deve ser informada.", kContReceber, "depVencIni"},
        {"last due date missing", [](Dialog &d) { d.depVencFin->clear(); },
         "Data de vencimento final deve ser informada.", kContReceber, "depVencFin"},
        {"account types listed but none picked", [](Dialog &d) { d.rbtTipoContLista->setChecked(true); },
         "Tipo de conta deve ser informada.", kContReceber, "rbtTipoContLista"},
        {"original values, end left empty", [](Dialog &d) { d.nedVrOriginalIni->setText("100"); d.nedVrOriginalFin->clear(); },
         "Valor original inicial deve ser menor ou igual ao valor original final.", kContReceber, "nedVrOriginalIni"},
        {"net values out of order", [](Dialog &d) { d.nedVrLiquidoIni->setNumber(50); d.nedVrLiquidoFin->setNumber(49.99); },
         "Valor líquido inicial deve ser menor ou igual ao valor líquido final.", kContReceber, "nedVrLiquidoIni"},
        {"customers listed but none picked", [](Dialog &d) { d.rbtListaClie->setChecked(true); },
         "Cliente deve ser informado.", kDocumento, "rbtListaClie"},
        {"first number missing", [](Dialog &d) { d.medNrDocuFin->setText("5"); },
         "Número inicial deve ser informado.", kDocumento, "medNrDocuIni"},
        {"numbers out of order once fitted", [](Dialog &d) { d.medNrDocuIni->setText("20"); d.medNrDocuFin->setText("3"); },
         "Número inicial deve ser menor ou igual ao número final.", kDocumento, "medNrDocuIni"},
        {"first issue date missing", [](Dialog &d) { d.depDtEmissaoFin->setDate(day(1, 4)); },
         "Data de emissão inicial deve ser informada.", kDocumento, "depDtEmissaoIni"},
        {"issue dates out of order", [](Dialog &d) { d.depDtEmissaoIni->setDate(day(2, 4)); d.depDtEmissaoFin->setDate(day(1, 4)); },
         "Data de emissão inicial deve ser menor ou igual a data de emissão final.", kDocumento, "depDtEmissaoIni"},
        {"last issue date missing", [](Dialog &d) { d.depDtEmissaoIni->setDate(day(2, 4)); },
         "Data de emissão final deve ser informada.", kDocumento, "depDtEmissaoFin"},
        {"first exit date missing", [](Dialog &d) { d.depDtSaidaFin->setDate(day(1, 4)); },
         "Data de saída inicial deve ser informada.", kDocumento, "depDtSaidaIni"},
        {"exit dates out of order", [](Dialog &d) { d.depDtSaidaIni->setDate(day(3, 4)); d.depDtSaidaFin->setDate(day(1, 4)); },
         "Data de saída inicial deve ser menor ou igual a data de saída final.", kDocumento, "depDtSaidaIni"},
        {"last exit date missing", [](Dialog &d) { d.depDtSaidaIni->setDate(day(3, 4)); },
         "Data de saída final deve ser informada.", kDocumento, "depDtSaidaFin"},
        {"origin branches listed but none picked", [](Dialog &d) { d.rbtListaFiliOrig->setChecked(true); },
         "Filial origem deve ser informada.", kDocumento, "rbtListaFiliOrig"},
        {"posting branches listed but none picked", [](Dialog &d) { d.rbtListaFiliLanc->setChecked(true); },
         "Filial lançamento deve ser informada.", kDocumento, "rbtListaFiliLanc"},
        {"document values, end left empty", [](Dialog &d) { d.nedVrDocuIni->setText("100"); d.nedVrDocuFin->clear(); },
         "Valor documento inicial deve ser menor ou igual ao valor documento final.", kDocumento, "nedVrDocuIni"},
        {"salesmen listed but none picked", [](Dialog &d) { d.rbtVendLista->setChecked(true); },
         "Vendedor deve ser informado.", kDocumento, "rbtVendLista"},
        {"the receivable page is checked first",
         [](Dialog &d) { d.rbtListaClie->setChecked(true); d.depVencFin->setDate(day(1, 1)); },
         "Data de vencimento inicial deve ser menor ou igual a data de vencimento final.", kContReceber, "depVencIni"},
    };

    const TFILTRO stored = dialog()->Filtro;
    for (const Rule &rule : rules) {
        SCOPED_TRACE(rule.name);
        m_messages.clear();
        runModal([&](Dialog &d) {
            rule.setup(d);
            // Start from the other page, so the turn to the rule's page shows.
            d.pgcPadrao->setActivePageName(rule.page == kDocumento ? kContReceber : kDocumento);
            confirm(d);
            EXPECT_EQ(m_messages.texts, QStringList{rule.message});
            EXPECT_EQ(d.pgcPadrao->activePageName(), rule.page);
            EXPECT_EQ(d.focusedControl(), rule.focus);
            EXPECT_TRUE(d.isInModalLoop()) << "the dialog stays open";
        });
    }
    EXPECT_TRUE(m_server.callsOf(QStringLiteral("GetContRec")).isEmpty());
    EXPECT_EQ(dialog()->Filtro, stored);
}

// The hidden run checks the stored filter by the same rules: the message, the page turned, and
// neither a query nor a change of the record or the list.
TEST_F(Validation, HiddenRunsStopAtTheSameRules)
{
    struct HiddenRule
    {
        const char *name;
        std::function<void(TFILTRO &)> setup;
        QString message;
        QString page;
    };
    const QList<HiddenRule> rules{
        {"due dates out of order", [](TFILTRO &f) { f.DtVencFin = f.DtVencIni.addDays(-1); },
         "Data de vencimento inicial deve ser menor ou igual a data de vencimento final.", kContReceber},
        {"last due date missing", [](TFILTRO &f) { f.DtVencFin = QDate(); },
         "Data de vencimento final deve ser informada.", kContReceber},
        {"account types", [](TFILTRO &f) { f.TipoConta = {{false, QString()}}; },
         "Tipo de conta deve ser informada.", kContReceber},
        {"original values", [](TFILTRO &f) { f.VrOriginalIni = 100; },
         "Valor original inicial deve ser menor ou igual ao valor original final.", kContReceber},
        {"net values", [](TFILTRO &f) { f.VrLiquidoIni = 0.01; },
         "Valor líquido inicial deve ser menor ou igual ao valor líquido final.", kContReceber},
        {"first number missing", [](TFILTRO &f) { f.Documento = {QString(), QStringLiteral("0000005")}; },
         "Número inicial deve ser informado.", kDocumento},
        {"numbers out of order", [](TFILTRO &f) { f.Documento = {QStringLiteral("20"), QStringLiteral("3")}; },
         "Número inicial deve ser menor ou igual ao número final.", kDocumento},
        {"first issue date missing", [](TFILTRO &f) { f.DtEmissaoFin = day(1, 4); },
         "Data de emissão inicial deve ser informada.", kDocumento},
        {"last exit date missing", [](TFILTRO &f) { f.DtSaidaIni = day(1, 4); },
         "Data de saída final deve ser informada.", kDocumento},
        {"exit dates out of order", [](TFILTRO &f) { f.DtSaidaIni = day(2, 4); f.DtSaidaFin = day(1, 4); },
         "Data de saída inicial deve ser menor ou igual a data de saída final.", kDocumento},
        {"origin branches", [](TFILTRO &f) { f.FiliOrig = {{false, QString()}}; },
         "Filial origem deve ser informada.", kDocumento},
        {"posting branches", [](TFILTRO &f) { f.FiliLanc = {{false, QString()}}; },
         "Filial lançamento deve ser informada.", kDocumento},
        {"document values", [](TFILTRO &f) { f.VrDocuIni = 3; f.VrDocuFin = 2.99; },
         "Valor documento inicial deve ser menor ou igual ao valor documento final.", kDocumento},
        {"salesmen", [](TFILTRO &f) { f.Vendedor = {{false, QString()}}; },
         "Vendedor deve ser informado.", kDocumento},
    };

    ASSERT_TRUE(runHidden());
    ClientDataSet *accounts = recCont()->cdsContRec;
    ASSERT_EQ(accounts->recordCount(), 1);
    const TFILTRO good = dialog()->Filtro;
    m_server.clearCalls();
    for (const HiddenRule &rule : rules) {
        SCOPED_TRACE(rule.name);
        m_messages.clear();
        TFILTRO bad = good;
        rule.setup(bad);
        dialog()->Filtro = bad;
        dialog()->pgcPadrao->setActivePageName(rule.page == kDocumento ? kContReceber : kDocumento);
        EXPECT_FALSE(runHidden());
        EXPECT_EQ(m_messages.texts, QStringList{rule.message});
        EXPECT_EQ(dialog()->pgcPadrao->activePageName(), rule.page);
        EXPECT_EQ(dialog()->Filtro, bad);
        EXPECT_FALSE(dialog()->isVisible());
        EXPECT_EQ(accounts->recordCount(), 1);
    }
    EXPECT_TRUE(m_server.callsOf(QStringLiteral("GetContRec")).isEmpty());
}

TEST_F(Validation, NormalisationsStayInTheEditsAndBoundaryValuesPass)
{
    runModal([&](Dialog &d) {
        d.nedVrDocuIni->setText(QStringLiteral("100"));
        d.nedVrDocuFin->clear();
        d.medNrDocuIni->setText(QStringLiteral("9"));
        d.medNrDocuFin->setText(QStringLiteral("10"));
        confirm(d);
        EXPECT_EQ(m_messages.texts.value(0), QStringLiteral("Valor documento inicial deve ser menor ou igual ao valor documento final."));
        EXPECT_EQ(d.nedVrDocuFin->text(), QStringLiteral("0"));
        EXPECT_EQ(d.medNrDocuIni->text(), QStringLiteral("0000009"));
        EXPECT_EQ(d.medNrDocuFin->text(), QStringLiteral("0000010")) << "9 and 10 compare by value once fitted";

        m_messages.clear();
        d.nedVrDocuFin->setNumber(100);
        d.nedVrOriginalIni->clear();
        d.nedVrOriginalFin->clear();
        for (TDateEditPlus *edit : {d.depDtEmissaoIni, d.depDtEmissaoFin})
            edit->setDate(day(7, 3));
        confirm(d);
        EXPECT_EQ(m_messages.texts, QStringList());
        EXPECT_FALSE(d.isInModalLoop());
    });
    const QJsonArray sent = lastContRecParams();
    ASSERT_EQ(sent.size(), 24);
    EXPECT_EQ(sent[15], 0.0) << "an empty value goes as 0";
    EXPECT_EQ(sent[3], QStringLiteral("2024-03-07"));
    EXPECT_EQ(dialog()->Filtro.VrDocuIni, 100.0);
}

TEST_F(Validation, LeavingADateEditOnlyRejectsAnInvalidDate)
{
    runModal([&](Dialog &d) {
        // Each of the six edits keeps the focus, on its own page, until its date is valid.
        const QList<std::tuple<TDateEditPlus *, TDateEditPlus *, TTabSheet *>> edits{
            {d.depVencIni, d.depVencFin, d.tshContReceber},       {d.depVencFin, d.depVencIni, d.tshContReceber},
            {d.depDtEmissaoIni, d.depDtEmissaoFin, d.tshDocumento}, {d.depDtEmissaoFin, d.depDtEmissaoIni, d.tshDocumento},
            {d.depDtSaidaIni, d.depDtSaidaFin, d.tshDocumento},   {d.depDtSaidaFin, d.depDtSaidaIni, d.tshDocumento}};
        for (const auto &[edit, other, page] : edits) {
            SCOPED_TRACE(edit->objectName().toStdString());
            d.pgcPadrao->setActivePage(page);
            focusControl(edit);
            const QDate before = edit->getDate();
            edit->setText(QStringLiteral("31/02/2024"));
            EXPECT_THROW(focusControl(other), Error);
            EXPECT_EQ(d.focusedControl(), edit->objectName());
            EXPECT_EQ(d.pgcPadrao->activePage(), page);
            setDateEditBack(edit, before);
            focusControl(other);
            EXPECT_EQ(d.focusedControl(), other->objectName());
        }

        d.pgcPadrao->setActivePage(d.tshDocumento);
        focusControl(d.depDtSaidaIni);
        d.depDtSaidaIni->setText(QStringLiteral("31/02/2024"));
        try {
            focusControl(d.depDtSaidaFin);
            ADD_FAILURE() << "leaving an invalid date must fail";
        } catch (const Error &e) {
            EXPECT_EQ(e.message(), QStringLiteral("Data inválida: 31/02/2024"));
        }
        EXPECT_EQ(d.focusedControl(), QStringLiteral("depDtSaidaIni"));
        EXPECT_EQ(d.pgcPadrao->activePage(), d.tshDocumento);

        // A missing or out-of-order date is the confirmation's business, not the exit's.
        d.depDtSaidaIni->clear();
        d.depDtSaidaFin->setDate(day(1));
        focusControl(d.depDtSaidaFin);
        d.depVencIni->setDate(day(20));
        d.pgcPadrao->setActivePage(d.tshContReceber);
        focusControl(d.depVencIni);
        focusControl(d.depVencFin);
        EXPECT_EQ(d.focusedControl(), QStringLiteral("depVencFin"));
        EXPECT_EQ(m_messages.texts, QStringList());
    });
}

TEST_F(Validation, LeavingTheNumbersFitsThemAndCopiesALoneFirstNumber)
{
    runModal([&](Dialog &d) {
        d.pgcPadrao->setActivePage(d.tshDocumento);
        focusControl(d.medNrDocuIni);
        d.medNrDocuIni->setText(QStringLiteral("45"));
        focusControl(d.medNrDocuFin);
        EXPECT_EQ(d.medNrDocuIni->text(), QStringLiteral("0000045"));
        EXPECT_EQ(d.medNrDocuFin->text(), QStringLiteral("0000045"));

        d.medNrDocuFin->setText(QStringLiteral("9"));
        focusControl(d.medNrDocuIni);
        EXPECT_EQ(d.medNrDocuFin->text(), QStringLiteral("0000009"));
        EXPECT_EQ(d.medNrDocuIni->text(), QStringLiteral("0000045"));

        // An empty number stays empty: no filter on number zero.
        d.medNrDocuIni->clear();
        d.medNrDocuFin->clear();
        focusControl(d.medNrDocuFin);
        focusControl(d.medNrDocuIni);
        EXPECT_EQ(d.medNrDocuIni->text() + d.medNrDocuFin->text(), QString());
    });
}

TEST_F(Validation, ValueEditsRefuseTheMinusSignAndOverlongNumbers)
{
    runModal([&](Dialog &d) {
        for (TNumberEdit *edit : {d.nedVrOriginalIni, d.nedVrOriginalFin, d.nedVrLiquidoIni, d.nedVrLiquidoFin}) {
            SCOPED_TRACE(edit->objectName().toStdString());
            edit->clear();
            for (QChar c : QStringLiteral("-1234567890,123-9"))
                edit->typeChar(c);
            EXPECT_EQ(edit->text(), QStringLiteral("1234567890,12"));
        }
        d.pgcPadrao->setActivePage(d.tshDocumento);
        for (TNumberEdit *edit : {d.nedVrDocuIni, d.nedVrDocuFin}) {
            edit->clear();
            for (QChar c : QStringLiteral("-12345678901"))
                edit->typeChar(c);
            EXPECT_EQ(edit->text(), QStringLiteral("1234567890"));
        }
    });
}
