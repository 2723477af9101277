#include "support.h"

#include <erpfwui/screens/tfrmfiltropadrao.h>
#include <erpfwui/screens/tfrmpadrao.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/core/messages.h>
#include <erpfw/core/shellcontext.h>
#include <erpfw/data/datasource.h>

#include <QFile>
#include <QTemporaryDir>

using namespace erp;

// A screen as modules write them: handlers chain to the base screen's first.
class TfrmTeste : public TfrmPadrao
{
    Q_OBJECT

public:
    using TfrmPadrao::TfrmPadrao;
    void FormClose(QObject *sender, erp::CloseAction &action) override
    {
        TfrmPadrao::FormClose(sender, action);
        closedWith = action;
    }
    Q_INVOKABLE ERP_HANDLER void edtCodigoExit(QObject *) {}
    CloseAction closedWith = CloseAction::None;
};

class TfrmFiltroTeste : public TfrmFiltroPadrao
{
    Q_OBJECT

public:
    using TfrmFiltroPadrao::TfrmFiltroPadrao;
};

namespace {

QString writeForm(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    const QString path = dir.filePath(name + QStringLiteral(".json"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return path;
}

} // namespace

TEST(BaseScreen, CarriesTheNamesScriptsRelyOn)
{
    std::unique_ptr<TfrmPadrao> form(createForm<TfrmPadrao>());
    EXPECT_EQ(form->objectName(), QStringLiteral("frmPadrao"));
    for (const char *name : {"sbtConfirmar", "sbtVerificar", "sbtProcurar", "sbtFormulario", "sbtImprimir", "sbtAjuda", "sbtFechar"}) {
        auto *button = form->component<TButtonFlat>(QString::fromLatin1(name));
        EXPECT_FALSE(button->property("hint").toString().isEmpty()) << name;
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << name;
    }
    for (const char *name : {"mnuConfirmar", "mnuVerificar", "mnuProcurar", "mnuFormulario", "mnuListagem", "mnuConfigImpressora", "mnuManutencao"})
        EXPECT_NO_THROW(form->component<TMenuItem>(QString::fromLatin1(name))) << name;
    EXPECT_NO_THROW(form->component<TLabel>(QStringLiteral("lblCodTela")));
    EXPECT_NO_THROW(form->component<TPanel>(QStringLiteral("panMenu")));
    EXPECT_NO_THROW(form->component<TPanel>(QStringLiteral("panNavigator")));
    EXPECT_NO_THROW(form->component<TDBText>(QStringLiteral("dbtNome")));
    EXPECT_NO_THROW(form->component<TMainMenu>(QStringLiteral("mnuMenu")));
    EXPECT_NO_THROW(form->component<Messages>(QStringLiteral("msgPadrao")));
    EXPECT_EQ(form->dbgPadrao->parentWidget(), form->tshFolhaDados);
    EXPECT_EQ(form->pgcPadrao->activePage(), form->tshFolhaDados);
    EXPECT_EQ(form->mnuConfirmar->parent(), form.get());
    EXPECT_TRUE(form->mnuManutencao->items().contains(form->mnuFormulario));
}

TEST(BaseScreen, RecordCommandAndNavigatorFollowTheDataSource)
{
    uitest::Messages messages;
    std::unique_ptr<TfrmPadrao> form(createForm<TfrmPadrao>());
    ClientDataSet cds;
    form->dtsPadrao->setDataSet(&cds);
    EXPECT_FALSE(form->sbtFormulario->isEnabled());
    cds.setPacket(uitest::rows(3));
    EXPECT_TRUE(form->mnuFormulario->isEnabled());
    EXPECT_TRUE(form->sbtFormulario->isEnabled());
    EXPECT_TRUE(form->panNavigator->isEnabled());
    cds.edit();
    EXPECT_FALSE(form->sbtFormulario->isEnabled());
    EXPECT_FALSE(form->panNavigator->isEnabled());
    form->mnuConfirmar->click(); // the base confirm posts the edit
    EXPECT_EQ(cds.state(), ClientDataSet::State::Browse);
    cds.emptyDataSet();
    EXPECT_FALSE(form->mnuFormulario->isEnabled());
    cds.setPacket(uitest::rows(2));

    uitest::showActive(form.get());
    form->activate(); // nothing focused yet: the grid takes the focus
    EXPECT_EQ(form->focusedControl(), QStringLiteral("dbgPadrao"));
    QTest::keyClick(form->dbgPadrao, Qt::Key_Return);
    EXPECT_EQ(form->pgcPadrao->activePage(), form->tshFormulario);
    form->pgcPadrao->setActivePage(form->tshFolhaDados);
    form->tshFormulario->setEnabled(false);
    form->sbtFormulario->click();
    EXPECT_EQ(form->pgcPadrao->activePage(), form->tshFolhaDados);
}

TEST(BaseScreen, DerivedScreenChainsTheBaseCloseWhichFreesIt)
{
    QTemporaryDir dir;
    const QString path = writeForm(dir, QStringLiteral("TfrmTeste"), R"({
        "class": "TfrmTeste", "inherits": "TfrmPadrao", "name": "frmTeste", "caption": "Tela de teste",
        "components": [
          {"name": "lblCodTela", "properties": {"caption": "TST00100"}},
          {"name": "mnuFormulario", "properties": {"caption": "&Ajustes"}},
          {"class": "TEdit", "name": "edtCodigo", "parent": "tshFormulario", "left": 8, "top": 8,
           "events": {"OnExit": "edtCodigoExit"}}
        ]})");
    auto *form = new TfrmTeste;
    form->loadForm(path);
    EXPECT_EQ(form->lblCodTela->text(), QStringLiteral("TST00100"));
    EXPECT_EQ(form->mnuFormulario->caption(), QStringLiteral("&Ajustes"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tela de teste"));
    QPointer<TfrmTeste> alive(form);
    form->show();
    form->sbtFechar->click();
    EXPECT_EQ(form->closedWith, CloseAction::Free);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
}

TEST(FilterDialog, ShownModallyTheHookAnswersItAndClosingOnlyHidesIt)
{
    std::unique_ptr<TfrmFiltroPadrao> form(createForm<TfrmFiltroPadrao>());
    int activations = 0;
    form->onActivate = [&](QObject *) { ++activations; };
    QStringList hooked;
    Form::setModalHook([&](Form *modal) {
        hooked.append(modal->objectName() + (modal->isVisible() ? QStringLiteral(" visible") : QString()));
        static_cast<TfrmFiltroPadrao *>(modal)->sbtConfirma->click();
    });
    EXPECT_EQ(form->showModal(), mrOk);
    Form::setModalHook([](Form *modal) { modal->close(); });
    EXPECT_EQ(form->showModal(), mrCancel);
    Form::setModalHook(nullptr);
    EXPECT_EQ(hooked, QStringList{"frmFiltroPadrao visible"});
    EXPECT_EQ(activations, 2); // each showing activates the dialog once
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->isInModalLoop());
}

TEST(FilterDialog, SavedOptionsArePerOperatorAndScreenAndComeBackWithTheControls)
{
    uitest::Messages messages;
    QTemporaryDir data;
    ShellContext::instance().setDataDir(data.path());
    ShellContext::instance().setOperador(QStringLiteral("ana"));
    QTemporaryDir dir;
    const QString path = writeForm(dir, QStringLiteral("TfrmFiltroTeste"), R"({
        "class": "TfrmFiltroTeste", "inherits": "TfrmFiltroPadrao", "name": "frmFiltroTeste",
        "components": [
          {"name": "lblCodTela", "properties": {"caption": "TST00101"}},
          {"class": "TTabSheet", "name": "tshDocumento", "parent": "pgcPadrao", "properties": {"caption": "Documento"}},
          {"class": "TMaskEdit", "name": "medNrDocuIni", "parent": "tshDocumento", "left": 8, "top": 8},
          {"class": "TDateEditPlus", "name": "depVencIni", "parent": "tshDocumento", "left": 8, "top": 40},
          {"class": "TCheckBox", "name": "chbAVencer", "parent": "tshDocumento", "left": 8, "top": 70},
          {"class": "TRadioButton", "name": "rbtTodos", "parent": "tshDocumento", "left": 8, "top": 100},
          {"class": "TRadioButton", "name": "rbtLista", "parent": "tshDocumento", "left": 100, "top": 100},
          {"class": "TComboBox", "name": "cbbStatus", "parent": "tshDocumento", "left": 8, "top": 130,
           "properties": {"items": ["Baixada", "Todas"]}}
        ]})");
    TfrmFiltroTeste form;
    form.loadForm(path);
    auto *number = form.component<TMaskEdit>(QStringLiteral("medNrDocuIni"));
    auto *date = form.component<TDateEditPlus>(QStringLiteral("depVencIni"));
    auto *check = form.component<TCheckBox>(QStringLiteral("chbAVencer"));
    auto *lista = form.component<TRadioButton>(QStringLiteral("rbtLista"));
    auto *todos = form.component<TRadioButton>(QStringLiteral("rbtTodos"));
    auto *status = form.component<TComboBox>(QStringLiteral("cbbStatus"));

    number->setText(QStringLiteral("0000123"));
    date->setDate(QDate(2024, 5, 31));
    check->setChecked(true);
    lista->setChecked(true);
    status->setItemIndex(1);
    form.setOption(QStringLiteral("stCliente"), QStringLiteral("001;002\n003"));
    form.btfSaveOpc->click();
    EXPECT_TRUE(QFile::exists(data.filePath(QStringLiteral("opcoes/ana/TST00101.txt"))));
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Opções salvas.")});

    number->clear();
    date->setDate({});
    check->setChecked(false);
    todos->setChecked(true);
    status->setItemIndex(0);
    form.setOption(QStringLiteral("stCliente"), QString());
    form.btfLoadOpc->click();
    EXPECT_EQ(number->text(), QStringLiteral("0000123"));
    EXPECT_EQ(date->getDate(), QDate(2024, 5, 31));
    EXPECT_TRUE(check->isChecked());
    EXPECT_TRUE(lista->isChecked());
    EXPECT_FALSE(todos->isChecked());
    EXPECT_EQ(status->currentIndex(), 1);
    EXPECT_EQ(form.option(QStringLiteral("stCliente")), QStringLiteral("001;002\n003"));
    EXPECT_EQ(form.option(QStringLiteral("stVendedor")), QString());

    // Another operator has nothing saved: a message, and nothing changes.
    ShellContext::instance().setOperador(QStringLiteral("bruno"));
    number->clear();
    messages.shown.clear();
    EXPECT_THROW(form.btfLoadOpcClick(form.btfLoadOpc), Abort);
    EXPECT_EQ(messages.texts(), QStringList{QStringLiteral("Não há opções salvas para esta tela.")});
    EXPECT_EQ(number->text(), QString());
    EXPECT_EQ(form.option(QStringLiteral("stCliente")), QStringLiteral("001;002\n003"));
    ShellContext::instance().setDataDir(QString());
    ShellContext::instance().setOperador(QString());
}

#include "screens_test.moc"
