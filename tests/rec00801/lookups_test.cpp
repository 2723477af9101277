// The five list filters: radio pairs, the pickers over the database lists and the server's
// account types, and their empty-list messages.
#include "support.h"

#include <erpfwui/shell/busyindicator.h>

using namespace erp;
using namespace rec00801test;

namespace {

using Dialog = TfrmFiltroRecalLancContReceber;

class Lookups : public FilterTest
{
protected:
    void fillReferenceTables()
    {
        execSql(QStringLiteral("INSERT INTO CLIENTE VALUES ('C1', 'Zélia Comércio Ltda', 'Zeta Modas', 'J', '12345678000195'),"
                               "('C2', 'Ana Souza', 'Ana Doces', 'F', '12345678909'),"
                               "('C3', 'Bruno Lima', 'Bruno Peças', 'E', 'EX-99')"));
        execSql(QStringLiteral("INSERT INTO FILIAL VALUES ('0002', 'Filial Sul'), ('0001', 'Matriz')"));
        execSql(QStringLiteral("INSERT INTO VENDEDOR VALUES ('V2', 'Carla'), ('V1', 'Rui')"));
    }

    // The titles of the pickers opened, each choosing the given keys.
    QStringList m_titles;
    void pick(const QString &keyField, const QStringList &keys)
    {
        onPicker([this, keyField, keys](Form &picker) {
            m_titles.append(picker.windowTitle());
            choose(picker, keyField, keys);
        });
    }
};

QStringList column(ClientDataSet *rows, const QString &field, bool display = false)
{
    QStringList values;
    for (int recNo = 1; recNo <= rows->recordCount(); ++recNo) {
        rows->moveTo(recNo);
        Field *f = rows->fieldByName(field);
        values.append(display ? f->displayText() : f->asString());
    }
    return values;
}

} // namespace

TEST_F(Lookups, RadioPairsSwitchTheirButtonAndKeepThePickedList)
{
    runModal([&](Dialog &d) {
        const QList<std::tuple<TRadioButton *, TRadioButton *, TBtnPesquisa *>> pairs{
            {d.rbtTodosClie, d.rbtListaClie, d.btnListClie},       {d.rbtTodasFiliOrig, d.rbtListaFiliOrig, d.btnFiliOrig},
            {d.rbtTodasFiliLanc, d.rbtListaFiliLanc, d.btnFiliLanc}, {d.rbtTodosTipoCont, d.rbtTipoContLista, d.btnTpConta},
            {d.rbtVendTodos, d.rbtVendLista, d.btnPesqVend}};
        for (const auto &[all, list, button] : pairs) {
            SCOPED_TRACE(button->objectName().toStdString());
            list->click();
            EXPECT_TRUE(button->isEnabled());
            EXPECT_EQ(button->associate(), list);
            all->click();
            EXPECT_FALSE(button->isEnabled());
        }
        d.stCliente = QStringLiteral("C1");
        d.rbtTodosClie->click();
        d.rbtListaClie->click();
        EXPECT_EQ(d.stCliente, QStringLiteral("C1"));
    });
}

TEST_F(Lookups, CustomersArePickedByTradeNameWithTheirRegistrationNumberLaidOut)
{
    fillReferenceTables();
    pick(QStringLiteral("CDCLIENTE"), {QStringLiteral("C1"), QStringLiteral("C3")});
    runModal([&](Dialog &d) {
        d.rbtListaClie->click();
        d.btnListClie->click();
        EXPECT_EQ(d.stCliente, QStringLiteral("C3;C1"));

        ClientDataSet *rows = d.qryCliente->query();
        EXPECT_EQ(column(rows, QStringLiteral("NMFANTCLIE")),
                  (QStringList{"Ana Doces", "Bruno Peças", "Zeta Modas"}));
        EXPECT_EQ(column(rows, QStringLiteral("NRINSJURCLIE"), true),
                  (QStringList{"123.456.789-09", "EX-99", "12.345.678/0001-95"}));
        EXPECT_FALSE(rows->fieldByName(QStringLiteral("CDCLIENTE"))->visible());
        EXPECT_EQ(rows->fieldByName(QStringLiteral("NRINSJURCLIE"))->displayLabel(), QStringLiteral("Inscrição Jurídica"));
    });
    EXPECT_EQ(m_titles, QStringList{QStringLiteral("Cliente")});
}

TEST_F(Lookups, BothBranchButtonsReadOneFreshListIntoTheirOwnStrings)
{
    fillReferenceTables();
    pick(QStringLiteral("CDFILIAL"), {QStringLiteral("0002")});
    runModal([&](Dialog &d) {
        d.pgcPadrao->setActivePage(d.tshDocumento);
        d.rbtListaFiliOrig->click();
        d.btnFiliOrig->click();
        EXPECT_EQ(column(d.qryFilial->query(), QStringLiteral("CDFILIAL")), (QStringList{"0001", "0002"}));

        execSql(QStringLiteral("INSERT INTO FILIAL VALUES ('0003', 'Filial Norte')"));
        pick(QStringLiteral("CDFILIAL"), {QStringLiteral("0003"), QStringLiteral("0001")});
        d.rbtListaFiliLanc->click();
        d.btnFiliLanc->click();
        EXPECT_EQ(column(d.qryFilial->query(), QStringLiteral("CDFILIAL")), (QStringList{"0001", "0002", "0003"}));
        EXPECT_EQ(d.stFiliOrig, QStringLiteral("0002"));
        EXPECT_EQ(d.stFiliLanc, QStringLiteral("0001;0003"));

        pick(QStringLiteral("CDVENDEDOR"), {QStringLiteral("V1")});
        d.rbtVendLista->click();
        d.btnPesqVend->click();
        EXPECT_EQ(column(d.qryVendedor->query(), QStringLiteral("CDVENDEDOR")), (QStringList{"V1", "V2"}));
        EXPECT_EQ(d.stVendedor, QStringLiteral("V1"));
        confirm(d);
    });
    EXPECT_EQ(m_titles, (QStringList{"Filial", "Filial", "Vendedor"}));
    Dialog *d = dialog();
    EXPECT_FALSE(d->qryFilial->active()) << "closing the dialog closes the branch list";
    EXPECT_TRUE(d->qryVendedor->active()) << "the salesmen stay open until their next click";
    EXPECT_TRUE(d->cdsParExp->active() && d->cdsParamFilial->active());
}

TEST_F(Lookups, EmptyReferenceListsSaySoAndOpenNoPicker)
{
    pick(QStringLiteral("CODE"), {});
    m_server.reply(QStringLiteral("GetTipoCtReceber"), tipoCtReceber({}));
    runModal([&](Dialog &d) {
        const QList<std::tuple<TRadioButton *, TBtnPesquisa *, QString *, QString>> lookups{
            {d.rbtListaClie, d.btnListClie, &d.stCliente, "Não há cliente cadastrado."},
            {d.rbtListaFiliOrig, d.btnFiliOrig, &d.stFiliOrig, "Não há filial cadastrada."},
            {d.rbtListaFiliLanc, d.btnFiliLanc, &d.stFiliLanc, "Não há filial cadastrada."},
            {d.rbtVendLista, d.btnPesqVend, &d.stVendedor, "Vendedor não cadastrado."},
            {d.rbtTipoContLista, d.btnTpConta, &d.stTpConta, "Não há tipo de conta a receber cadastrado."}};
        for (const auto &[radio, button, list, message] : lookups) {
            SCOPED_TRACE(button->objectName().toStdString());
            m_messages.clear();
            *list = QStringLiteral("KEPT");
            radio->click();
            button->click();
            EXPECT_EQ(m_messages.texts, QStringList{message});
            EXPECT_EQ(m_messages.types.value(0), DialogType::Error);
            EXPECT_EQ(*list, QStringLiteral("KEPT"));
        }
    });
    EXPECT_EQ(m_titles, QStringList()) << "no picker opened";

    // A list that cannot be read is the database's error, shown once, and no picker either.
    execSql(QStringLiteral("DROP TABLE VENDEDOR"));
    runModal([&](Dialog &d) {
        m_messages.clear();
        d.stVendedor = QStringLiteral("V1");
        d.rbtVendLista->click();
        d.btnPesqVend->click();
        ASSERT_EQ(m_messages.texts.size(), 1);
        EXPECT_TRUE(m_messages.texts[0].startsWith(QStringLiteral("Erro no banco de dados ao abrir a consulta qryVendedor")))
            << m_messages.texts[0].toStdString();
        EXPECT_EQ(m_messages.types.value(0), DialogType::Error);
        EXPECT_EQ(d.stVendedor, QStringLiteral("V1"));
    });
    EXPECT_EQ(m_titles, QStringList());
}

TEST_F(Lookups, AccountTypesComeFromTheServerAtEveryClickUnderTheBusyAnimation)
{
    pick(QStringLiteral("CDTPCTRECEB"), {QStringLiteral("CHQ")});
    clearBusyEvents();
    runModal([&](Dialog &d) {
        d.rbtTipoContLista->click();
        d.btnTpConta->click();
        EXPECT_EQ(d.stTpConta, QStringLiteral("CHQ"));
        EXPECT_EQ(d.cdsTipoCtReceber->fieldByName(QStringLiteral("CDTPCTRECEB"))->displayLabel(), QStringLiteral("Código"));
        d.btnTpConta->click();
        EXPECT_EQ(d.stTpConta, QString()) << "the picker started from CHQ and the test toggled it off";

        m_server.fail(QStringLiteral("GetTipoCtReceber"), QStringLiteral("Tipos de conta indisponíveis."));
        d.stTpConta = QStringLiteral("DUP");
        d.btnTpConta->click();
        EXPECT_EQ(m_messages.texts, QStringList{QStringLiteral("Tipos de conta indisponíveis.")});
        EXPECT_EQ(d.stTpConta, QStringLiteral("DUP"));
        EXPECT_FALSE(busyAnimationVisible());
    });
    EXPECT_EQ(m_server.callsOf(QStringLiteral("GetTipoCtReceber")).size(), 3);
    EXPECT_EQ(busyEvents(), (QStringList{"show:6", "hide", "show:6", "hide", "show:6", "hide"}));
    EXPECT_EQ(m_titles, (QStringList{"Tipo de Conta", "Tipo de Conta"}));
    EXPECT_FALSE(dialog()->cdsTipoCtReceber->active());
}
