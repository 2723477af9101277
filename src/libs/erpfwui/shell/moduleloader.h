#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>

namespace erp {

struct OpenedScreen
{
    QString code;
    QVariantList params;
};

struct LoadedModule
{
    QString name;     // PKG_REC00800
    QString file;     // absolute path
    QStringList units; // from GetPackageInfoTable, empty when the module has none
};

// Finds, loads and enters the module of a screen code. Modules stay loaded until the shell
// ends, since their screens live on after the entry returns.
class ERPFWUI_EXPORT ModuleLoader
{
public:
    static ModuleLoader &instance();

    // The folder searched for modules: ERP_MODULE_DIR when set, else the lib folder beside
    // the executable's bin folder.
    QString moduleDir() const;
    void setModuleDir(const QString &dir);

    // "REC00800" -> <moduleDir>/PKG_REC00800.so. Throws erp::Error for a code that is not
    // letters and digits.
    QString moduleFile(const QString &code) const;

    // Loads the module (running its Initialize the first time) and calls IniProc, or
    // IniProcParams when params are given. A module that is missing, cannot be loaded or lacks
    // the entry is an erp::Error naming the screen code and the file.
    void open(const QString &code, const QVariantList &params = {});

    QList<LoadedModule> loadedModules() const;

    // Runs Finalize of every loaded module, the last loaded first. The modules' windows must
    // be gone by then.
    void finalizeAll();

    // Every screen whose entry was called, oldest first.
    QList<OpenedScreen> openedScreens() const;
    void clearOpenedScreens();

    ModuleLoader(const ModuleLoader &) = delete;
    ModuleLoader &operator=(const ModuleLoader &) = delete;

private:
    ModuleLoader();
    ~ModuleLoader();
    struct Private;
    std::unique_ptr<Private> d;
};

// Opens the screen of that code with the given parameters.
ERPFWUI_EXPORT void LoadBPL(const QString &code, const QVariantList &params = {});

} // namespace erp
