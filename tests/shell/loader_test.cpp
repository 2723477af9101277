#include <erpfw/core/error.h>
#include <erpfwui/shell/busyindicator.h>
#include <erpfwui/shell/moduleloader.h>
#include <erpfwui/shell/screencursor.h>

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace erp;

namespace {

QString testModules()
{
    return qEnvironmentVariable("ERP_TEST_MODULE_DIR");
}

QString buildModules()
{
    return qEnvironmentVariable("ERP_BUILD_DIR") + QStringLiteral("/lib");
}

QString errorOf(const std::function<void()> &code)
{
    try {
        code();
    } catch (const Error &e) {
        return e.message();
    }
    return {};
}

struct ModuleDir
{
    explicit ModuleDir(const QString &dir) { ModuleLoader::instance().setModuleDir(dir); }
    ~ModuleDir() { ModuleLoader::instance().setModuleDir(buildModules()); }
};

} // namespace

TEST(ModuleLoader, ErrorsNameTheScreenCodeAndTheFile)
{
    ModuleDir dir(buildModules());
    const int opened = ModuleLoader::instance().openedScreens().size();

    const QString missing = errorOf([] { LoadBPL(QStringLiteral("XYZ99999")); });
    EXPECT_TRUE(missing.contains(QStringLiteral("XYZ99999"))) << missing.toStdString();
    EXPECT_TRUE(missing.contains(buildModules() + QStringLiteral("/PKG_XYZ99999.so"))) << missing.toStdString();
    EXPECT_TRUE(missing.contains(QStringLiteral("não foi encontrado"))) << missing.toStdString();

    QTemporaryDir temp;
    QFile garbage(temp.filePath(QStringLiteral("PKG_GARB0001.so")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a shared object");
    garbage.close();
    ModuleLoader::instance().setModuleDir(temp.path());
    const QString broken = errorOf([] { LoadBPL(QStringLiteral("garb0001")); });
    EXPECT_TRUE(broken.contains(QStringLiteral("garb0001"))) << broken.toStdString();
    EXPECT_TRUE(broken.contains(garbage.fileName())) << broken.toStdString();
    EXPECT_TRUE(broken.contains(QStringLiteral("não pôde ser carregado"))) << broken.toStdString();

    // A code never reaches the file system unless it is letters and digits.
    for (const char *code : {"../PKG_X", "", "REC 00800", "a/b"}) {
        const QString text = errorOf([code] { LoadBPL(QString::fromLatin1(code)); });
        EXPECT_TRUE(text.startsWith(QStringLiteral("Código de tela inválido"))) << code;
    }
    EXPECT_EQ(ModuleLoader::instance().openedScreens().size(), opened);
}

TEST(ModuleLoader, EntryChosenByParametersAndModuleInitialisedOnce)
{
    ModuleDir dir(testModules());
    const QString noEntry = errorOf([] { LoadBPL(QStringLiteral("TSTPARAM")); });
    EXPECT_TRUE(noEntry.contains(QStringLiteral("TSTPARAM"))) << noEntry.toStdString();
    EXPECT_TRUE(noEntry.contains(testModules() + QStringLiteral("/PKG_TSTPARAM.so"))) << noEntry.toStdString();
    EXPECT_TRUE(noEntry.contains(QStringLiteral("IniProc"))) << noEntry.toStdString();
    EXPECT_EQ(qApp->property("tst.initialize").toInt(), 0) << "a module without its entry is not initialised";

    ModuleLoader::instance().clearOpenedScreens();
    const QVariantList params{QStringLiteral("01"), QString(), QDate(2024, 3, 1), 2.5};
    LoadBPL(QStringLiteral("TSTPARAM"), params);
    LoadBPL(QStringLiteral("tstparam"), {true});
    EXPECT_EQ(qApp->property("tst.initialize").toInt(), 1);
    EXPECT_EQ(qApp->property("tst.params").toList(), QVariantList{true});

    const QList<OpenedScreen> opened = ModuleLoader::instance().openedScreens();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].code, QStringLiteral("TSTPARAM"));
    EXPECT_EQ(opened[0].params, params);

    bool listed = false;
    for (const LoadedModule &m : ModuleLoader::instance().loadedModules()) {
        if (m.name == QStringLiteral("PKG_TSTPARAM")) {
            listed = true;
            EXPECT_EQ(m.units, (QStringList{QStringLiteral("PKG_TSTPARAM"), QStringLiteral("Uni_tstparam")}));
        }
    }
    EXPECT_TRUE(listed);

    ModuleLoader::instance().finalizeAll();
    EXPECT_EQ(qApp->property("tst.finalize").toInt(), 1);
    EXPECT_TRUE(ModuleLoader::instance().loadedModules().isEmpty());
}

TEST(ScreenCursor, HourglassComesBackToDefaultOnEveryWayOut)
{
    setScreenCursor(crHourGlass);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    setScreenCursor(crHourGlass); // one override, not a stack of them
    setScreenCursor(crDefault);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(screenCursor(), crDefault);

    EXPECT_THROW(setScreenCursor(12345), Error);
    EXPECT_EQ(screenCursor(), crDefault);

    try {
        HourglassCursor hourglass;
        EXPECT_EQ(screenCursor(), crHourGlass);
        throw Error(QStringLiteral("falhou"));
    } catch (const Error &) {
    }
    EXPECT_EQ(screenCursor(), crDefault);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(BusyAnimation, CoversTheMainWindowAndHidesMayRepeat)
{
    clearBusyEvents();
    QMainWindow window;
    window.resize(400, 300);
    window.show();
    ActiveShowAvi(&window, 6);
    EXPECT_TRUE(busyAnimationVisible());
    auto *overlay = window.findChild<QWidget *>(QStringLiteral("busyAnimation"));
    ASSERT_NE(overlay, nullptr);
    EXPECT_EQ(overlay->geometry(), window.rect());
    window.resize(500, 320);
    QApplication::processEvents();
    EXPECT_EQ(overlay->geometry(), window.rect());

    DeactiveShowAvi();
    EXPECT_FALSE(busyAnimationVisible());
    DeactiveShowAvi();
    EXPECT_FALSE(busyAnimationVisible());
    EXPECT_EQ(busyEvents(), (QStringList{QStringLiteral("show:6"), QStringLiteral("hide"), QStringLiteral("hide")}));
}
