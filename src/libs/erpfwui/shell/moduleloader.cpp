#include "moduleloader.h"

#include "moduleentry.h"

#include <erpfw/core/error.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QRegularExpression>

#include <vector>

namespace erp {
namespace {

#ifdef Q_OS_WIN
const QString kModuleSuffix = QStringLiteral(".dll");
#else
const QString kModuleSuffix = QStringLiteral(".so");
#endif

struct Module
{
    LoadedModule info;
    std::unique_ptr<QLibrary> library;
    bool initialized = false;
};

QString openFailure(const QString &code, const QString &file, const QString &why)
{
    return QStringLiteral("Não foi possível abrir a tela %1: o módulo %2 %3.").arg(code, file, why);
}

} // namespace

struct ModuleLoader::Private
{
    QString moduleDir;
    std::vector<Module> modules; // in load order
    QList<OpenedScreen> opened;

    Module *find(const QString &file)
    {
        for (Module &m : modules) {
            if (m.info.file == file)
                return &m;
        }
        return nullptr;
    }
};

ModuleLoader::ModuleLoader()
    : d(std::make_unique<Private>())
{
    const QString fromEnv = qEnvironmentVariable("ERP_MODULE_DIR");
    d->moduleDir = fromEnv.isEmpty()
        ? QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../lib"))
        : fromEnv;
}

ModuleLoader::~ModuleLoader() = default;

ModuleLoader &ModuleLoader::instance()
{
    static ModuleLoader loader;
    return loader;
}

QString ModuleLoader::moduleDir() const
{
    return d->moduleDir;
}

void ModuleLoader::setModuleDir(const QString &dir)
{
    d->moduleDir = dir;
}

QString ModuleLoader::moduleFile(const QString &code) const
{
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9]{1,32}$"));
    if (!valid.match(code).hasMatch())
        throw Error(QStringLiteral("Código de tela inválido: \"%1\".").arg(code));
    return QDir(d->moduleDir).absoluteFilePath(QStringLiteral("PKG_") + code.toUpper() + kModuleSuffix);
}

void ModuleLoader::open(const QString &code, const QVariantList &params)
{
    const QString file = moduleFile(code);
    Module *module = d->find(file);
    if (!module) {
        if (!QFileInfo::exists(file))
            throw Error(openFailure(code, file, QStringLiteral("não foi encontrado")));
        auto library = std::make_unique<QLibrary>(file);
        if (!library->load())
            throw Error(openFailure(code, file,
                                    QStringLiteral("não pôde ser carregado (%1)").arg(library->errorString())));
        d->modules.push_back(Module{{QFileInfo(file).completeBaseName(), file, {}}, std::move(library)});
        module = &d->modules.back();
        if (auto info = reinterpret_cast<PackageInfoEntry>(module->library->resolve(kGetPackageInfoTable))) {
            const PackageInfoTable *table = info();
            for (int i = 0; table && i < table->unitCount; ++i)
                module->info.units << QString::fromUtf8(table->unitNames[i]);
        }
    }

    const char *entryName = params.isEmpty() ? kIniProc : kIniProcParams;
    QFunctionPointer entry = module->library->resolve(entryName);
    if (!entry)
        throw Error(openFailure(code, file,
                                QStringLiteral("não exporta a entrada %1").arg(QLatin1String(entryName))));
    if (!module->initialized) {
        // Marked first: a failing Initialize must not run twice on the next try.
        module->initialized = true;
        if (auto init = reinterpret_cast<PackageInitEntry>(module->library->resolve(kInitialize)))
            init();
    }
    d->opened.append({code, params});
    if (params.isEmpty())
        reinterpret_cast<IniProcEntry>(entry)();
    else
        reinterpret_cast<IniProcParamsEntry>(entry)(params);
}

QList<LoadedModule> ModuleLoader::loadedModules() const
{
    QList<LoadedModule> result;
    for (const Module &m : d->modules)
        result << m.info;
    return result;
}

void ModuleLoader::finalizeAll()
{
    for (auto it = d->modules.rbegin(); it != d->modules.rend(); ++it) {
        if (!it->initialized)
            continue;
        if (auto fini = reinterpret_cast<PackageInitEntry>(it->library->resolve(kFinalize)))
            fini();
    }
    d->modules.clear(); // the libraries stay mapped until the process ends
}

QList<OpenedScreen> ModuleLoader::openedScreens() const
{
    return d->opened;
}

void ModuleLoader::clearOpenedScreens()
{
    d->opened.clear();
}

void LoadBPL(const QString &code, const QVariantList &params)
{
    ModuleLoader::instance().open(code, params);
}

} // namespace erp
