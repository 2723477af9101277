#include "support.h"

#include <erpfwui/screens/btnpesquisa.h>
#include <erpfwui/screens/dialogs.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>

#include <erpfw/data/datasource.h>
#include <erpfw/data/field.h>

#include <QHeaderView>
#include <QScrollBar>

using namespace erp;

namespace {

struct Lists : ::testing::Test
{
    uitest::Messages messages;
    Form window;
    TMaskEdit *med = new TMaskEdit(&window);
    TEdit *other = new TEdit(&window);
    TBtnPesquisa *button = new TBtnPesquisa(&window);
    ClientDataSet cds;
    DataSource source;
    QStringList log;

    void SetUp() override
    {
        const QStringList names{"Ana", "Bruno", "Célia", "Celso", "Dora"};
        cds.setPacket(uitest::rows(5, [&](int i) { return names[i]; }));
        cds.fieldByName(QStringLiteral("CODE"))->setDisplayLabel(QStringLiteral("Código"));
        cds.fieldByName(QStringLiteral("VALUE"))->setVisible(false);
        source.setDataSet(&cds);
        med->setObjectName(QStringLiteral("medCdEmpresa"));
        med->setGeometry(0, 0, 60, 22);
        other->setGeometry(0, 30, 60, 22);
        button->setGeometry(70, 0, 22, 22);
        button->setAssociate(med);
        button->setDataSource(&source);
        button->setTitle(QStringLiteral("Empresa"));
        button->setEmptyError(QStringLiteral("Não há empresa cadastrada."));
        button->onBeforePesq = [this](QObject *, bool &) { log.append(QStringLiteral("before")); };
        button->onAfterPesq = [this](QObject *) {
            log.append(QStringLiteral("after"));
            med->setText(cds.fieldByName(QStringLiteral("CODE"))->asString());
        };
        uitest::showActive(&window);
        other->setFocus();
    }

    void TearDown() override { Form::setModalHook(nullptr); }

    static TDBGrid *grid(Form *form, const char *name) { return form->component<TDBGrid>(QString::fromLatin1(name)); }
    static TButton *buttonOf(Form *form, const char *name) { return form->component<TButton>(QString::fromLatin1(name)); }
};

} // namespace

TEST_F(Lists, LookupListChoosesTheRowWithOkDoubleClickOrReturn)
{
    QStringList seen;
    Form::setModalHook([&](Form *form) {
        seen.append(form->objectName() + QLatin1Char(' ') + form->windowTitle());
        TDBGrid *list = grid(form, "dbgPesquisa");
        QStringList fields;
        for (const QVariant &c : list->columnList())
            fields.append(c.toMap().value(QStringLiteral("field")).toString());
        seen.append(fields.join(QLatin1Char(',')));
        list->setCurrentRow(2);
        buttonOf(form, "btnOk")->click();
    });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(seen, QStringList({"frmPesquisa Empresa", "CODE,NAME"}));
    EXPECT_EQ(log, QStringList({"before", "after"}));
    EXPECT_EQ(med->text(), QStringLiteral("003"));
    EXPECT_EQ(window.focusedControl(), QStringLiteral("medCdEmpresa")); // back in the associated edit

    Form::setModalHook([](Form *form) {
        grid(form, "dbgPesquisa")->setCurrentRow(3);
        grid(form, "dbgPesquisa")->dblClick();
    });
    EXPECT_TRUE(button->execute());
    EXPECT_EQ(med->text(), QStringLiteral("004"));

    Form::setModalHook([](Form *form) {
        TDBGrid *list = grid(form, "dbgPesquisa");
        list->setFocus();
        list->setCurrentRow(0);
        QTest::keyClick(list, Qt::Key_Return);
    });
    EXPECT_TRUE(button->execute());
    EXPECT_EQ(med->text(), QStringLiteral("001"));
}

TEST_F(Lists, LookupListCancelledStoppedOrEmptyRunsNoAfterHandler)
{
    Form::setModalHook([](Form *form) { QTest::keyClick(grid(form, "dbgPesquisa"), Qt::Key_Escape); });
    EXPECT_FALSE(button->execute());
    Form::setModalHook([](Form *form) { buttonOf(form, "btnCancelar")->click(); });
    EXPECT_FALSE(button->execute());
    EXPECT_EQ(log, QStringList({"before", "before"}));

    int shown = 0;
    Form::setModalHook([&](Form *form) {
        ++shown;
        form->close();
    });
    button->onBeforePesq = [](QObject *, bool &proceed) { proceed = false; };
    EXPECT_FALSE(button->execute());
    button->onBeforePesq = nullptr;
    cds.emptyDataSet();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Não há empresa cadastrada.")});
}

TEST_F(Lists, PickerTogglesWithSpaceAndDoubleClickKeepingTheOrderPicked)
{
    Form::setModalHook([](Form *form) {
        EXPECT_EQ(form->objectName(), QStringLiteral("frmPesquisaLista"));
        TDBGrid *list = grid(form, "dbgLista");
        list->setFocus();
        list->setCurrentRow(3);
        QTest::keyClick(list, Qt::Key_Space);
        list->setCurrentRow(0);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(0, 1)).center());
        list->setCurrentRow(1);
        QTest::keyClick(list, Qt::Key_Space);
        EXPECT_EQ(form->property("selection").toString(), QStringLiteral("004;001"));
        buttonOf(form, "btnOk")->click();
    });
    QString list = QStringLiteral("002");
    EXPECT_TRUE(PesquisaLista(&source, QStringLiteral("CODE"), QStringLiteral("Clientes"), false, list));
    EXPECT_EQ(list, QStringLiteral("004;001"));

    Form::setModalHook([](Form *form) {
        TDBGrid *listGrid = grid(form, "dbgLista");
        listGrid->setFocus();
        QTest::keyClick(listGrid, Qt::Key_Space);
        buttonOf(form, "btnCancelar")->click();
    });
    EXPECT_FALSE(PesquisaLista(&source, QStringLiteral("CODE"), QStringLiteral("Clientes"), false, list));
    EXPECT_EQ(list, QStringLiteral("004;001"));
}

// A column is as wide as the text the grid shows (a CNPJ with its punctuation, longer than the
// field's size), the list opens wide enough to show every column whole, and the row that OK
// would choose is marked.
TEST_F(Lists, ListColumnsFitTheTextShownAndTheListShowsThemAll)
{
    cds.fieldByName(QStringLiteral("CODE"))->onGetText = [](Field &field, QString &text, bool) {
        text = QStringLiteral("43.572.825/0001-%1").arg(field.asString().right(2));
    };
    cds.fieldByName(QStringLiteral("NAME"))->setDisplayLabel(QStringLiteral("Razão Social"));
    cds.edit();
    cds.fieldByName(QStringLiteral("NAME"))->setAsString(QStringLiteral("Agropecuária Bandeirantes Ltda EPP"));
    cds.post();
    auto check = [](Form *form, const char *name) {
        TDBGrid *list = grid(form, name);
        QCoreApplication::processEvents();
        const QFontMetrics metrics = list->fontMetrics();
        for (const char *field : {"CODE", "NAME"}) {
            GridColumn *column = list->columnOf(QString::fromLatin1(field));
            ASSERT_NE(column, nullptr);
            const QString text = list->cellText(0, column->fieldName());
            EXPECT_GT(column->width(), metrics.horizontalAdvance(text)) << field << " " << text.toStdString();
        }
        EXPECT_LE(list->horizontalHeader()->length(), list->viewport()->width()) << name;
        EXPECT_FALSE(list->horizontalScrollBar()->isVisible()) << name;
        EXPECT_TRUE(list->selectionModel()->isRowSelected(list->currentRow(), {})) << name << ": the current row shows";
        form->close();
    };
    Form::setModalHook([&](Form *form) { check(form, "dbgLista"); });
    QString list;
    PesquisaLista(&source, QStringLiteral("CODE"), QStringLiteral("Clientes"), false, list);
    Form::setModalHook([&](Form *form) { check(form, "dbgPesquisa"); });
    QTest::mouseClick(button, Qt::LeftButton);
}

// The picker's own mark column stands for a list's mark field: no column of "N" beside it.
TEST_F(Lists, PickerLeavesOutTheListsOwnMarkField)
{
    wire::Packet packet({{QStringLiteral("IDMARCADO"), wire::FieldType::FixedString, 1},
                         {QStringLiteral("CDTPCTRECEB"), wire::FieldType::String, 6}});
    const int row = packet.appendRow();
    packet.setValue(row, 0, QStringLiteral("N"));
    packet.setValue(row, 1, QStringLiteral("PROM"));
    ClientDataSet types;
    types.setPacket(packet);
    DataSource typesSource;
    typesSource.setDataSet(&types);
    QStringList shown;
    Form::setModalHook([&](Form *form) {
        for (GridColumn *column : grid(form, "dbgLista")->gridColumns())
            shown.append(column->fieldName());
        form->close();
    });
    QString list;
    PesquisaLista(&typesSource, QStringLiteral("CDTPCTRECEB"), QStringLiteral("Tipo de Conta"), false, list);
    EXPECT_EQ(shown, (QStringList{QString(), QStringLiteral("CDTPCTRECEB")}));
}

// A list opened from a modal dialog, also right after another list closed, lies over that
// dialog.
TEST_F(Lists, ListsOpenedFromADialogAreOwnedByIt)
{
    Form dialog(&window);
    dialog.setWindowFlags(Qt::Dialog);
    QList<QWidget *> owners;
    Form::setModalHook([&](Form *form) {
        if (form == &dialog) {
            QString list;
            PesquisaLista(&source, QStringLiteral("CODE"), QStringLiteral("Clientes"), false, list);
            PesquisaLista(&source, QStringLiteral("CODE"), QStringLiteral("Clientes"), false, list);
        } else {
            owners.append(form->parentWidget());
        }
        form->close();
    });
    dialog.showModal();
    EXPECT_EQ(owners, (QList<QWidget *>{&dialog, &dialog}));
}

// A text handler that fails does not keep the list from opening.
TEST_F(Lists, ListOpensWhenATextHandlerFails)
{
    cds.fieldByName(QStringLiteral("NAME"))->onGetText = [](Field &, QString &, bool) {
        throw Error(QStringLiteral("Texto indisponível."));
    };
    bool opened = false;
    Form::setModalHook([&](Form *form) {
        opened = true;
        form->close();
    });
    QString list;
    EXPECT_FALSE(PesquisaLista(&source, QStringLiteral("CODE"), QStringLiteral("Clientes"), false, list));
    EXPECT_TRUE(opened);
}

TEST_F(Lists, PickerThatNeedsAChoiceSaysSoAndStaysOpen)
{
    int attempts = 0;
    Form::setModalHook([&](Form *form) {
        buttonOf(form, "btnOk")->click();
        ++attempts;
        EXPECT_TRUE(form->isVisible());
        form->close();
    });
    QString list;
    EXPECT_FALSE(PesquisaLista(&source, QStringLiteral("CODE"), QStringLiteral("Filiais"), true, list));
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Escolha pelo menos um item da lista.")});
    EXPECT_THROW(PesquisaLista(&source, QStringLiteral("NADA"), QStringLiteral("Filiais"), false, list), Error);
}

TEST_F(Lists, SearchMovesToTheFirstMatchIgnoringCaseAndAccents)
{
    QStringList fields;
    Form::setModalHook([&](Form *form) {
        auto *field = form->component<TComboBox>(QStringLiteral("cbbCampo"));
        fields = field->items();
        field->select(1);
        auto *value = form->component<TEdit>(QStringLiteral("edtValor"));
        value->setFocus();
        QTest::keyClicks(value, QStringLiteral("CEL"));
        QTest::keyClick(value, Qt::Key_Return);
    });
    EXPECT_TRUE(Procura(&cds));
    EXPECT_EQ(fields, QStringList({"Código", "NAME"}));
    EXPECT_EQ(cds.recNo(), 3);

    Form::setModalHook([&](Form *form) {
        form->component<TComboBox>(QStringLiteral("cbbCampo"))->select(1);
        form->component<TEdit>(QStringLiteral("edtValor"))->setText(QStringLiteral("Zé"));
        buttonOf(form, "btnOk")->click();
        EXPECT_TRUE(form->isVisible());
        buttonOf(form, "btnCancelar")->click();
    });
    EXPECT_FALSE(Procura(&cds));
    EXPECT_EQ(cds.recNo(), 3);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Nenhum registro com NAME começando por \"Zé\".")});
}
