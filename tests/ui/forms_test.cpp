#include "support.h"

#include <erpfwui/forms/form.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/keys.h>

#include <erpfw/core/messages.h>
#include <erpfw/data/datasource.h>
#include <erpfw/data/field.h>
#include <erpfw/data/keylist.h>
#include <erpfw/db/adoibquery.h>
#include <erpfw/net/netconnection.h>

#include <QFile>
#include <QTemporaryDir>

using namespace erp;

class TestBaseForm : public Form
{
    Q_OBJECT

public:
    using Form::Form;
    Q_INVOKABLE ERP_HANDLER void FormCreate(QObject *) { log.append(QStringLiteral("create")); }
    Q_INVOKABLE ERP_HANDLER void btnBaseClick(QObject *sender) { log.append(QStringLiteral("click ") + sender->objectName()); }
    QStringList log;
};

class TestDerivedForm : public TestBaseForm
{
    Q_OBJECT

public:
    using TestBaseForm::TestBaseForm;
    Q_INVOKABLE ERP_HANDLER void edtNomeExit(QObject *) { log.append(QStringLiteral("exit")); }
    Q_INVOKABLE ERP_HANDLER void cdsDadosCalcFields(erp::ClientDataSet *dataSet)
    {
        dataSet->fieldByName(QStringLiteral("DOUBLE"))->setValue(dataSet->fieldByName(QStringLiteral("VALUE"))->asFloat() * 2);
    }
    Q_INVOKABLE ERP_HANDLER void cdsDadosNAMEGetText(erp::Field *sender, QString &text, bool)
    {
        text = sender->asString().toUpper();
    }
    Q_INVOKABLE ERP_HANDLER void dbgDadosKeyDown(QObject *, int &key, erp::ShiftState) { keys.append(key); key = 0; }
    QList<int> keys;
};

class TestDataForm : public Form
{
    Q_OBJECT

public:
    using Form::Form;
    Q_INVOKABLE ERP_HANDLER void netDadosBeforeConnect(QObject *sender) { connectedBy = sender->objectName(); }
    Q_INVOKABLE ERP_HANDLER void dtsEmpresaStateChange(QObject *) { ++stateChanges; }
    QString connectedBy;
    int stateChanges = 0;
};

namespace {

const char kBase[] = R"({
  "class": "TestBaseForm", "name": "frmBase", "caption": "Base", "width": 300, "height": 200,
  "events": {"OnCreate": "FormCreate"},
  "components": [
    {"class": "TPanel", "name": "panTopo", "align": "alTop", "height": 30},
    {"class": "TButtonFlat", "name": "btnBase", "parent": "panTopo", "left": 2, "top": 2, "width": 24, "height": 24,
     "properties": {"hint": "Botão"}, "events": {"OnClick": "btnBaseClick"}},
    {"class": "TLabel", "name": "lblTitulo", "parent": "panTopo", "left": 40, "top": 6, "properties": {"caption": "Base"}}
  ]
})";

const char kDerived[] = R"({
  "class": "TestDerivedForm", "inherits": "TestBaseForm", "name": "frmDerivado", "caption": "Derivado",
  "components": [
    {"name": "lblTitulo", "properties": {"caption": "Derivado", "visible": false}},
    {"class": "TEdit", "name": "edtNome", "parent": "panTopo", "left": 100, "top": 4, "width": 80,
     "properties": {"maxLength": 5, "color": "clInfoBk"}, "events": {"OnExit": "edtNomeExit"}},
    {"class": "TClientDataSet", "name": "cdsDados", "events": {"OnCalcFields": "cdsDadosCalcFields"},
     "fields": [
       {"name": "CODE", "type": "string", "size": 10, "label": "Código"},
       {"name": "NAME", "type": "string", "size": 40, "getText": "cdsDadosNAMEGetText"},
       {"name": "VALUE", "type": "float", "displayFormat": "#,##0.00", "alignment": "right"},
       {"name": "DOUBLE", "type": "float", "calculated": true, "visible": false}
     ]},
    {"class": "TDataSource", "name": "dtsDados", "properties": {"dataSet": "cdsDados"}},
    {"class": "TRadioGroup", "name": "rgpTipo", "parent": "panTopo", "properties": {"itemIndex": 0, "items": ["Real", "Previsto", "Ambos"]}},
    {"class": "TImage", "name": "imgCheck", "properties": {"visible": false,
     "source": "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAEElEQVR4nGNoaGAAIgYIBQAeDgQBk+traQAAAABJRU5ErkJggg=="}},
    {"class": "TDBGrid", "name": "dbgDados", "align": "alClient", "properties": {"dataSource": "dtsDados"},
     "columns": [
       {"field": "CODE", "width": 50},
       {"field": "VALUE", "title": "Valor", "titleAlignment": "right", "titleFont": {"name": "Monotype Sorts", "height": -11, "bold": true}}
     ],
     "events": {"OnKeyDown": "dbgDadosKeyDown"}}
  ]
})";

struct FormFiles : ::testing::Test
{
    uitest::Messages messages;
    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &text)
    {
        const QString path = dir.filePath(name + QStringLiteral(".json"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path;
    }

    // The message of the erp::Error that loading gives, or "".
    template <class F>
    QString loadError(const QByteArray &text)
    {
        write(QStringLiteral("TestBaseForm"), kBase);
        F form;
        try {
            form.loadForm(write(QStringLiteral("Caso"), text));
        } catch (const Error &e) {
            return e.message();
        }
        return QString();
    }
};

} // namespace

TEST_F(FormFiles, DerivedFormAddsAndOverridesComponentsAndBindsEveryKindOfEvent)
{
    write(QStringLiteral("TestBaseForm"), kBase);
    TestDerivedForm form;
    form.loadForm(write(QStringLiteral("TestDerivedForm"), kDerived));

    EXPECT_EQ(form.objectName(), QStringLiteral("frmDerivado"));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Derivado"));
    EXPECT_EQ(form.log, QStringList{"create"});
    auto *title = form.component<TLabel>(QStringLiteral("lblTitulo"));
    EXPECT_EQ(title->text(), QStringLiteral("Derivado"));
    EXPECT_TRUE(title->isHidden());
    auto *edit = form.component<TEdit>(QStringLiteral("edtNome"));
    EXPECT_EQ(edit->parentWidget(), form.component<TPanel>(QStringLiteral("panTopo")));
    EXPECT_EQ(edit->maxLength(), 5);
    EXPECT_EQ(edit->property("hint").toString(), QString());
    EXPECT_EQ(form.component<TButtonFlat>(QStringLiteral("btnBase"))->property("hint").toString(), QStringLiteral("Botão"));
    EXPECT_THROW(form.component<TEdit>(QStringLiteral("lblTitulo")), Error);
    EXPECT_THROW(form.component<TEdit>(QStringLiteral("edtNada")), Error);

    uitest::showActive(&form);
    QTest::mouseClick(form.component<TButtonFlat>(QStringLiteral("btnBase")), Qt::LeftButton);
    EXPECT_EQ(form.log.last(), QStringLiteral("click btnBase"));
    fire(edit->onExit, edit);
    EXPECT_EQ(form.log.last(), QStringLiteral("exit"));

    EXPECT_EQ(form.component<TRadioGroup>(QStringLiteral("rgpTipo"))->itemIndex(), 0); // whatever the key order
    const Picture picture = form.component<TImage>(QStringLiteral("imgCheck"))->picture();
    EXPECT_EQ(picture.name(), QStringLiteral("imgCheck"));
    EXPECT_EQ(picture.pixmap().toImage().pixelColor(1, 1), QColor(128, 128, 0));

    auto *cds = form.component<ClientDataSet>(QStringLiteral("cdsDados"));
    cds->setPacket(uitest::rows(3));
    cds->moveTo(2);
    EXPECT_DOUBLE_EQ(cds->fieldByName(QStringLiteral("DOUBLE"))->asFloat(), 21.0);
    EXPECT_EQ(cds->fieldByName(QStringLiteral("NAME"))->displayText(), QStringLiteral("NOME 2"));
    EXPECT_EQ(cds->fieldByName(QStringLiteral("CODE"))->displayLabel(), QStringLiteral("Código"));

    auto *grid = form.component<TDBGrid>(QStringLiteral("dbgDados"));
    ASSERT_EQ(grid->gridColumns().size(), 2);
    EXPECT_EQ(grid->gridColumns()[0]->title(), QStringLiteral("Código"));
    EXPECT_EQ(grid->gridColumns()[1]->titleAlignment(), Qt::AlignRight);
    EXPECT_TRUE(grid->gridColumns()[1]->titleFont().bold());
    EXPECT_EQ(grid->rowCount(), 3);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(form.keys, QList<int>{VK_DOWN});
    EXPECT_EQ(cds->recNo(), 2); // the handler consumed the key
}

TEST_F(FormFiles, AHandlerNameTheClassLacksIsAnError)
{
    const QString error = loadError<TestBaseForm>(R"({"class": "TestBaseForm", "inherits": "TestBaseForm",
        "components": [{"name": "btnBase", "events": {"OnClick": "btnNaoExisteClick"}},
                       {"class": "TButtonFlat", "name": "btnOutro", "events": {"OnClick": "btnBaseClick"}}]})");
    EXPECT_TRUE(error.contains(QStringLiteral("btnNaoExisteClick"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("btnBase"))) << error.toStdString();
}

TEST_F(FormFiles, AMarkedHandlerTheFileNeverBindsIsAnError)
{
    const QString error = loadError<TestBaseForm>(R"({"class": "TestBaseForm", "name": "frmSem",
        "events": {"OnCreate": "FormCreate"}, "components": []})");
    EXPECT_TRUE(error.contains(QStringLiteral("btnBaseClick"))) << error.toStdString();
}

TEST_F(FormFiles, AHandlerOfTheWrongShapeIsAnError)
{
    const QString error = loadError<TestBaseForm>(R"({"class": "TestBaseForm", "inherits": "TestBaseForm",
        "components": [{"class": "TEdit", "name": "edtX", "events": {"OnKeyDown": "btnBaseClick"}}]})");
    EXPECT_TRUE(error.contains(QStringLiteral("espera"))) << error.toStdString();
}

TEST_F(FormFiles, FaultsOfTheFileNameTheFileAndTheComponent)
{
    const auto derivedWith = [](const char *component) {
        return QByteArray(R"({"class": "TestBaseForm", "inherits": "TestBaseForm", "components": [)") + component + "]}";
    };
    struct Case
    {
        QByteArray text;
        QString expected;
    };
    const QList<Case> cases{
        {derivedWith(R"({"class": "TEdit", "name": "edtX", "properties": {"textoo": "x"}})"), QStringLiteral("propriedade desconhecida \"textoo\"")},
        {derivedWith(R"({"class": "TWidgetMagico", "name": "x"})"), QStringLiteral("classe desconhecida")},
        {derivedWith(R"({"class": "TImage", "name": "imgX", "properties": {"source": "/nao/existe.png"}})"), QStringLiteral("/nao/existe.png")},
        {derivedWith(R"({"class": "TEdit", "name": "panTopo"})"), QStringLiteral("não pode mudar de classe")},
        {derivedWith(R"({"class": "TEdit", "name": "edtX", "parent": "panNada"})"), QStringLiteral("panNada")},
        {derivedWith(R"({"class": "TEdit", "name": "edtX", "events": {"OnSomething": "FormCreate"}})"), QStringLiteral("OnSomething")},
        {derivedWith(R"({"class": "TEdit", "name": "edtX", "properties": {"color": "clQualquer"}})"), QStringLiteral("clQualquer")},
        {derivedWith(R"({"class": "TDataSource", "name": "dtsX", "properties": {"dataSet": "panTopo"}})"), QStringLiteral("não é um erp::ClientDataSet")},
        {R"({"class": "OutraClasse", "components": []})", QStringLiteral("OutraClasse")},
        {R"({"class": "TestBaseForm", "inherits": "BaseQueNaoHa"})", QStringLiteral("BaseQueNaoHa")},
        {R"({"class": "TestBaseForm", )", QStringLiteral("JSON inválido")},
    };
    for (const Case &c : cases) {
        const QString error = loadError<TestBaseForm>(c.text);
        EXPECT_TRUE(error.contains(c.expected)) << c.text.toStdString() << " -> " << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("Caso.json"))) << error.toStdString();
    }
}

TEST_F(FormFiles, NonVisualComponentsTakeTheirTextsFieldsParamsAndEvents)
{
    TestDataForm form;
    form.loadForm(write(QStringLiteral("TestDataForm"), R"json({
      "class": "TestDataForm", "name": "frmDados",
      "components": [
        {"class": "TADOIBQuery", "name": "qryEmpresa",
         "properties": {"sqlOracle": ["SELECT CDEMPRESA, NMEMPRESA FROM EMPRESA", "WHERE CDEMPRESA = NVL(:P_CDEMPRESA, CDEMPRESA)"]},
         "params": [{"name": "P_CDEMPRESA", "value": "01"}],
         "fields": [{"name": "CDEMPRESA", "type": "string", "size": 2, "label": "Código", "required": true},
                    {"name": "NMEMPRESA", "type": "string", "size": 40, "label": "Nome"}]},
        {"class": "TDataSource", "name": "dtsEmpresa", "properties": {"dataSet": "qryEmpresa"},
         "events": {"OnStateChange": "dtsEmpresaStateChange"}},
        {"class": "TMessages", "name": "msgPadrao", "properties": {"lines": ["Emp_nc|Empresa não cadastrada."]}},
        {"class": "TKeyList", "name": "klMarcadas"},
        {"class": "TNetConnection", "name": "netDados", "properties": {"serverName": "REC00800.rdmRecCont"},
         "events": {"BeforeConnect": "netDadosBeforeConnect"}}
      ]})json"));
    auto *query = form.component<AdoIbQuery>(QStringLiteral("qryEmpresa"));
    EXPECT_TRUE(query->sqlOracle().endsWith(QStringLiteral("\nWHERE CDEMPRESA = NVL(:P_CDEMPRESA, CDEMPRESA)")));
    EXPECT_EQ(query->paramByName(QStringLiteral("P_CDEMPRESA"))->asString(), QStringLiteral("01"));
    EXPECT_EQ(query->query()->fieldByName(QStringLiteral("CDEMPRESA"))->displayLabel(), QStringLiteral("Código"));
    EXPECT_EQ(form.component<DataSource>(QStringLiteral("dtsEmpresa"))->dataSet(), query->query());
    EXPECT_EQ(form.component<Messages>(QStringLiteral("msgPadrao"))->msg(QStringLiteral("EMP_NC")), QStringLiteral("Empresa não cadastrada."));
    EXPECT_EQ(form.component<KeyList>(QStringLiteral("klMarcadas"))->count(), 0);
    auto *net = form.component<NetConnection>(QStringLiteral("netDados"));
    EXPECT_EQ(net->serverName(), QStringLiteral("REC00800.rdmRecCont"));
    fire(net->beforeConnect, *net);
    EXPECT_EQ(form.connectedBy, QStringLiteral("netDados"));
    query->query()->setPacket(wire::Packet({{QStringLiteral("CDEMPRESA"), wire::FieldType::String, 2},
                                            {QStringLiteral("NMEMPRESA"), wire::FieldType::String, 40}}));
    EXPECT_GT(form.stateChanges, 0);
}

#include "forms_test.moc"
