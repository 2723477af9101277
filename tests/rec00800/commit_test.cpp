// Recalculation of the marked accounts and the hand-over to the accounting screen.
#include "support.h"

#include <erpfwui/shell/busyindicator.h>
#include <erpfwui/shell/moduleloader.h>
#include <erpfwui/shell/screencursor.h>
#include <erpfwui/shell/windowlock.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/data/clientdataset.h>
#include <erpfw/data/field.h>
#include <erpfw/data/keylist.h>
#include <erpwire/json.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace rec {
namespace {

using namespace erp;

class CommitTest : public ScreenTest
{
protected:
    // Marks the first account of that type; its row.
    int markAccountOfType(const QString &type)
    {
        const int row = findRow(QStringLiteral("CDTPCTRECEB"), type);
        if (row < 0)
            return row;
        frm->dbgPadrao->setCurrentRow(row);
        frm->dbgPadrao->dblClick();
        return row;
    }

    void confirm()
    {
        clearBusyEvents();
        frm->sbtConfirmar->click();
    }

    // The screen is usable again: animation hidden, painting unlocked, controls enabled,
    // confirm disabled.
    void expectRestored()
    {
        EXPECT_FALSE(busyAnimationVisible());
        EXPECT_EQ(lockedWindow(), nullptr);
        EXPECT_TRUE(frm->updatesEnabled());
        EXPECT_FALSE(frm->cdsContRec->controlsDisabled());
        EXPECT_FALSE(frm->sbtConfirmar->isEnabled());
        EXPECT_FALSE(frm->mnuConfirmar->isEnabled());
    }

    // The JSON of a packet laid out as the dataset's fields, without rows.
    static QByteArray emptyPacketOf(const ClientDataSet *dataSet)
    {
        QList<wire::FieldDef> fields;
        for (Field *f : dataSet->fields())
            fields.append({f->fieldName(), f->dataType(), f->size()});
        QByteArray json;
        wire::appendPacketJson(json, wire::Packet(fields));
        return json;
    }

    static QJsonArray paramsOf(const OpenedScreen &screen)
    {
        QJsonArray array;
        for (const QVariant &v : screen.params)
            array.append(wire::encodeValue(v));
        return array;
    }
};

TEST_F(CommitTest, ASuccessfulRecalculationRewritesThePostingAndReloadsTheList)
{
    startServer(true);
    openScreen();
    chooseCompany(QStringLiteral("01"));
    const int row = markAccountOfType(QStringLiteral("DUP"));
    ASSERT_GE(row, 0);
    const QString before = dbValue(QStringLiteral("NRLANCTBDOC"), row);
    const QStringList key{rowValue(row, QStringLiteral("CDFILIAL")), rowValue(row, QStringLiteral("NRLANCTONF"))};
    ASSERT_TRUE(frm->sbtConfirmar->isEnabled());
    clearCalls();

    confirm();

    EXPECT_EQ(presenter.texts(),
              QStringList{QStringLiteral(" Recálculo da contabilização de contas a receber foi realizado com sucesso.")});
    ASSERT_EQ(m_calls.size() >= 2, true);
    EXPECT_EQ(m_calls[0].method, QStringLiteral("SetConfirmar"));
    const QJsonArray sent = QJsonDocument::fromJson(m_calls[0].params).array();
    ASSERT_EQ(sent.size(), 3);
    EXPECT_EQ(sent[0].toObject()["rows"].toArray().size(), frm->cdsContRec->recordCount());
    EXPECT_EQ(sent[1].toString(), QStringLiteral("operador"));
    EXPECT_EQ(sent[2].toString(), QStringLiteral("01"));
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 1);
    EXPECT_EQ(busyEvents().mid(0, 2), (QStringList{QStringLiteral("show:1"), QStringLiteral("show:6")}));
    EXPECT_FALSE(frm->cdsLancContTemp->isEmpty());
    EXPECT_TRUE(frm->cdsErrosTemp->isEmpty());
    EXPECT_TRUE(ModuleLoader::instance().openedScreens().isEmpty());
    EXPECT_EQ(frm->klContMarcadas->count(), 0);
    expectRestored();

    // The posting was replaced in the database and the account is accounted.
    const int reloaded = [&] {
        for (int r = 0; r < frm->cdsContRec->recordCount(); ++r)
            if (rowValue(r, QStringLiteral("CDFILIAL")) == key[0] && rowValue(r, QStringLiteral("NRLANCTONF")) == key[1])
                return r;
        return -1;
    }();
    ASSERT_GE(reloaded, 0);
    EXPECT_NE(dbValue(QStringLiteral("NRLANCTBDOC"), reloaded), before);
    EXPECT_EQ(dbValue(QStringLiteral("IDCTBLCTREC"), reloaded), QStringLiteral("S"));
    EXPECT_EQ(rowValue(reloaded, QStringLiteral("NRLANCTBDOC")), dbValue(QStringLiteral("NRLANCTBDOC"), reloaded));
    EXPECT_EQ(rowValue(reloaded, QStringLiteral("IDMARCADO")), QStringLiteral("N"));

    // The accounting button then opens CTB10200 on the account's posting with empty datasets.
    frm->dbgPadrao->setCurrentRow(reloaded);
    frm->sbtContab->click();
    const QList<OpenedScreen> opened = ModuleLoader::instance().openedScreens();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].code, QStringLiteral("CTB10200"));
    const QJsonArray params = paramsOf(opened[0]);
    ASSERT_EQ(params.size(), 5);
    EXPECT_EQ(params[0].toString(), QStringLiteral("01"));
    EXPECT_EQ(params[1].toString(), rowValue(reloaded, QStringLiteral("NRLANCTBDOC")));
    for (int i = 2; i < 5; ++i) {
        EXPECT_TRUE(params[i].toObject()["rows"].toArray().isEmpty());
        EXPECT_FALSE(params[i].toObject()["fields"].toArray().isEmpty());
    }
}

TEST_F(CommitTest, AccountingErrorsGoToTheAccountingScreenAndNothingIsWritten)
{
    startServer(true);
    openScreen();
    chooseCompany(QStringLiteral("01"));
    const int row = markAccountOfType(QStringLiteral("PROM"));
    ASSERT_GE(row, 0);
    const QString before = dbValue(QStringLiteral("NRLANCTBDOC"), row);
    const int recNo = frm->cdsContRec->recNo();
    clearCalls();

    confirm();

    EXPECT_TRUE(presenter.shown.isEmpty()) << presenter.texts().join('\n').toStdString();
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 0);
    EXPECT_EQ(dbValue(QStringLiteral("NRLANCTBDOC"), row), before);
    EXPECT_EQ(rowValue(row, QStringLiteral("IDMARCADO")), QStringLiteral("S"));
    EXPECT_EQ(frm->klContMarcadas->count(), 1);
    EXPECT_EQ(frm->cdsContRec->recNo(), recNo);
    EXPECT_FALSE(frm->cdsErrosTemp->isEmpty());
    expectRestored();

    QList<OpenedScreen> opened = ModuleLoader::instance().openedScreens();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].code, QStringLiteral("CTB10200"));
    QJsonArray params = paramsOf(opened[0]);
    ASSERT_EQ(params.size(), 5);
    EXPECT_EQ(params[0].toString(), QStringLiteral("01"));
    EXPECT_EQ(params[1].toString(), QString());
    EXPECT_EQ(params[4].toObject()["rows"].toArray().size(), frm->cdsErrosTemp->recordCount());
    EXPECT_EQ(params[2].toObject()["rows"].toArray().size(), frm->cdsLancContTemp->recordCount());

    // Confirm comes back with the next change of the list.
    frm->dbgPadrao->dblClick();
    frm->dbgPadrao->dblClick();
    EXPECT_TRUE(frm->sbtConfirmar->isEnabled());

    // The accounting button empties the results first: the second hand-over carries no rows.
    ModuleLoader::instance().clearOpenedScreens();
    frm->sbtContab->click();
    opened = ModuleLoader::instance().openedScreens();
    ASSERT_EQ(opened.size(), 1);
    params = paramsOf(opened[0]);
    for (int i = 2; i < 5; ++i)
        EXPECT_TRUE(params[i].toObject()["rows"].toArray().isEmpty());
    EXPECT_TRUE(frm->cdsErrosTemp->active());
    EXPECT_TRUE(frm->cdsErrosTemp->isEmpty());
    EXPECT_EQ(frm->klContMarcadas->count(), 1);
}

TEST_F(CommitTest, ARefusalOrAServerErrorKeepsEverythingAndShowsTheMessage)
{
    startServer();
    useProxy();
    openScreen();
    chooseCompany(QStringLiteral("01"));
    ASSERT_GE(markAccountOfType(QStringLiteral("DUP")), 0);

    // "ok" in lower case is not success: the text is shown as it came.
    proxy->answer(QStringLiteral("SetConfirmar"),
                  "\"result\":[\"ok\",{\"fields\":[],\"rows\":[]},{\"fields\":[],\"rows\":[]},{\"fields\":[],\"rows\":[]}]");
    confirm();
    EXPECT_EQ(presenter.texts(), QStringList{QStringLiteral("ok")});
    EXPECT_FALSE(frm->cdsLancContTemp->active());
    EXPECT_FALSE(frm->cdsErrosTemp->active());
    EXPECT_EQ(frm->klContMarcadas->count(), 1);
    EXPECT_TRUE(ModuleLoader::instance().openedScreens().isEmpty());
    expectRestored();
    EXPECT_TRUE(busyEvents().contains(QStringLiteral("hide")));

    presenter.shown.clear();
    frm->dbgPadrao->dblClick();
    frm->dbgPadrao->dblClick();
    ASSERT_TRUE(frm->sbtConfirmar->isEnabled());
    proxy->answer(QStringLiteral("SetConfirmar"),
                  "\"error\":{\"code\":-32000,\"message\":\"Valor da conta foi alterado por outro usuário.\"}");
    confirm();
    EXPECT_EQ(presenter.texts(), QStringList{QStringLiteral("Valor da conta foi alterado por outro usuário.")});
    EXPECT_EQ(frm->klContMarcadas->count(), 1);
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 1);
    expectRestored();

    // The accounting button before any confirm: closed datasets give packets without rows.
    frm->pgcPadrao->setActivePage(frm->tshFormulario);
    frm->sbtContab->click();
    const QList<OpenedScreen> opened = ModuleLoader::instance().openedScreens();
    ASSERT_EQ(opened.size(), 1);
    const QJsonArray params = paramsOf(opened[0]);
    ASSERT_EQ(params.size(), 5);
    // On the adjustments page the number is the current adjustment's, empty without one.
    const QString adjustmentPosting = frm->cdsAjusCont->isEmpty()
                                          ? QString()
                                          : frm->cdsAjusCont->fieldByName(u"NRLCTBAJREC")->asString();
    EXPECT_EQ(params[1].toString(), adjustmentPosting);
    for (int i = 2; i < 5; ++i)
        EXPECT_EQ(params[i].toObject(), (QJsonObject{{"fields", QJsonArray()}, {"rows", QJsonArray()}}));
    EXPECT_FALSE(frm->cdsLancContTemp->active());
}

TEST_F(CommitTest, TheAccountingButtonTakesTheAdjustmentsPostingOnItsPage)
{
    startServer();
    openScreen();
    chooseCompany(QStringLiteral("01"));
    // An account with adjustments that carry a posting number.
    int found = -1;
    for (int row = 0; row < frm->cdsContRec->recordCount() && found < 0; ++row) {
        frm->dbgPadrao->setCurrentRow(row);
        if (!frm->cdsAjusCont->isEmpty() && !frm->cdsAjusCont->fieldByName(u"NRLCTBAJREC")->asString().isEmpty())
            found = row;
    }
    ASSERT_GE(found, 0) << "a base de demonstração não tem ajustes contabilizados";
    const QString adjustment = frm->cdsAjusCont->fieldByName(u"NRLCTBAJREC")->asString();
    const QString account = rowValue(found, QStringLiteral("NRLANCTBDOC"));
    ASSERT_NE(adjustment, account);

    frm->pgcPadrao->setActivePage(frm->tshFormulario);
    frm->sbtContab->click();
    frm->pgcPadrao->setActivePage(frm->tshFolhaDados);
    frm->sbtContab->click();
    const QList<OpenedScreen> opened = ModuleLoader::instance().openedScreens();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(paramsOf(opened[0])[1].toString(), adjustment);
    EXPECT_EQ(paramsOf(opened[1])[1].toString(), account);
    EXPECT_TRUE(presenter.shown.isEmpty()) << presenter.texts().join('\n').toStdString();
}

TEST_F(CommitTest, AFailingReloadAfterARecalculationIsShownInsteadOfTheSuccess)
{
    startServer(true);
    useProxy();
    openScreen();
    chooseCompany(QStringLiteral("01"));
    const int row = markAccountOfType(QStringLiteral("DUP"));
    ASSERT_GE(row, 0);
    const QString before = dbValue(QStringLiteral("NRLANCTBDOC"), row);
    proxy->answer(QStringLiteral("GetContRec"),
                  "\"error\":{\"code\":-32000,\"message\":\"Consulta de contas indisponível no momento.\"}");
    clearCalls();

    confirm();

    // The server did recalculate; only the reload failed, and that is what the user reads.
    EXPECT_EQ(presenter.texts(), QStringList{QStringLiteral("Consulta de contas indisponível no momento.")});
    EXPECT_EQ(calls(QStringLiteral("SetConfirmar")), 1);
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 1);
    EXPECT_NE(dbValue(QStringLiteral("NRLANCTBDOC"), row), before);
    EXPECT_TRUE(ModuleLoader::instance().openedScreens().isEmpty());
    EXPECT_TRUE(frm->cdsContRec->active());
    EXPECT_EQ(screenCursor(), crDefault);
    expectRestored();

    // A blank status is success as well: the list is reloaded and the user told once.
    proxy->clear();
    frm->dbgPadrao->dblClick();
    frm->dbgPadrao->dblClick();
    ASSERT_TRUE(frm->sbtConfirmar->isEnabled());
    proxy->answer(QStringLiteral("SetConfirmar"),
                  "\"result\":[\"\"," + emptyPacketOf(frm->cdsLancContTemp) + "," + emptyPacketOf(frm->cdsRateio) + ","
                      + emptyPacketOf(frm->cdsErrosTemp) + "]");
    presenter.shown.clear();
    clearCalls();
    confirm();
    EXPECT_EQ(presenter.texts(),
              QStringList{QStringLiteral(" Recálculo da contabilização de contas a receber foi realizado com sucesso.")});
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 1);
    EXPECT_EQ(frm->klContMarcadas->count(), 0);
    EXPECT_TRUE(frm->cdsLancContTemp->active());
    EXPECT_TRUE(frm->cdsLancContTemp->isEmpty());
    expectRestored();
}

TEST_F(CommitTest, AnAccountingScreenThatCannotBeOpenedIsNamedAndNothingStaysFrozen)
{
    startServer();
    useProxy();
    openScreen();
    chooseCompany(QStringLiteral("01"));
    ASSERT_GE(markAccountOfType(QStringLiteral("PROM")), 0);
    const QString modules = ModuleLoader::instance().moduleDir();
    QTemporaryDir elsewhere;
    struct Restore
    {
        QString dir;
        ~Restore() { ModuleLoader::instance().setModuleDir(dir); }
    } restore{modules};

    // Accounting errors to hand over, but no module for them.
    ModuleLoader::instance().setModuleDir(elsewhere.path());
    confirm();
    ASSERT_EQ(presenter.shown.size(), 1);
    EXPECT_EQ(presenter.shown[0].type, DialogType::Error);
    EXPECT_TRUE(presenter.shown[0].text.contains(QStringLiteral("CTB10200"))) << presenter.shown[0].text.toStdString();
    EXPECT_TRUE(presenter.shown[0].text.contains(QStringLiteral("não foi encontrado")))
        << presenter.shown[0].text.toStdString();
    EXPECT_FALSE(frm->cdsErrosTemp->isEmpty());
    EXPECT_EQ(frm->klContMarcadas->count(), 1);
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 1);
    EXPECT_EQ(screenCursor(), crDefault);
    expectRestored();

    // A file that is not a module, from the accounting button.
    QFile broken(elsewhere.filePath(QStringLiteral("PKG_CTB10200.so")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("isto não é um módulo");
    broken.close();
    presenter.shown.clear();
    frm->sbtContab->click();
    ASSERT_EQ(presenter.shown.size(), 1);
    EXPECT_TRUE(presenter.shown[0].text.contains(QStringLiteral("CTB10200"))) << presenter.shown[0].text.toStdString();
    EXPECT_TRUE(presenter.shown[0].text.contains(QStringLiteral("não pôde ser carregado")))
        << presenter.shown[0].text.toStdString();
    // The results were emptied before the failing hand-over and stay so.
    EXPECT_TRUE(frm->cdsErrosTemp->active());
    EXPECT_TRUE(frm->cdsErrosTemp->isEmpty());
    EXPECT_TRUE(frm->sbtContab->isEnabled());

    // The right module again: the button works at once.
    ModuleLoader::instance().setModuleDir(modules);
    presenter.shown.clear();
    frm->sbtContab->click();
    EXPECT_TRUE(presenter.shown.isEmpty()) << presenter.texts().join('\n').toStdString();
    EXPECT_EQ(ModuleLoader::instance().openedScreens().size(), 1);
}

TEST_F(CommitTest, AResultOfAnotherShapeIsAnErrorAndLoadsNothing)
{
    startServer();
    useProxy();
    openScreen();
    chooseCompany(QStringLiteral("01"));
    ASSERT_GE(markAccountOfType(QStringLiteral("DUP")), 0);
    proxy->answer(QStringLiteral("SetConfirmar"), "\"result\":[\"OK\"]");
    confirm();
    ASSERT_EQ(presenter.shown.size(), 1);
    EXPECT_EQ(presenter.shown[0].type, DialogType::Error);
    EXPECT_TRUE(presenter.shown[0].text.contains(QStringLiteral("SetConfirmar"))) << presenter.shown[0].text.toStdString();
    EXPECT_FALSE(presenter.shown[0].text.contains(QStringLiteral("sucesso")));
    EXPECT_FALSE(frm->cdsLancContTemp->active());
    EXPECT_EQ(frm->klContMarcadas->count(), 1);
    EXPECT_EQ(calls(QStringLiteral("GetContRec")), 1);
    expectRestored();
}

} // namespace
} // namespace rec
