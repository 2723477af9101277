#include "icons.h"

#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QString>
#include <QToolButton>
#include <QWidget>

namespace erp {
namespace {

// Component name -> icon file in ":/icons/" (without ".svg").
const QHash<QString, QString> &iconTable()
{
    static const QHash<QString, QString> table{
        // TfrmPadrao
        {QStringLiteral("sbtConfirmar"), QStringLiteral("confirm")},
        {QStringLiteral("mnuConfirmar"), QStringLiteral("confirm")},
        {QStringLiteral("sbtVerificar"), QStringLiteral("refresh")},
        {QStringLiteral("mnuVerificar"), QStringLiteral("refresh")},
        {QStringLiteral("sbtProcurar"), QStringLiteral("find")},
        {QStringLiteral("mnuProcurar"), QStringLiteral("find")},
        {QStringLiteral("sbtFormulario"), QStringLiteral("form")},
        {QStringLiteral("mnuFormulario"), QStringLiteral("form")},
        {QStringLiteral("sbtImprimir"), QStringLiteral("print")},
        {QStringLiteral("mnuListagem"), QStringLiteral("print")},
        {QStringLiteral("sbtAjuda"), QStringLiteral("help")},
        {QStringLiteral("sbtFechar"), QStringLiteral("close")},
        // TfrmFiltroPadrao
        {QStringLiteral("sbtConfirma"), QStringLiteral("confirm")},
        {QStringLiteral("btfSaveOpc"), QStringLiteral("save")},
        {QStringLiteral("btfLoadOpc"), QStringLiteral("open")},
        // REC00800 and REC00801
        {QStringLiteral("frmRecCont"), QStringLiteral("sum")},
        {QStringLiteral("sbtFiltro"), QStringLiteral("filter")},
        {QStringLiteral("mnuFiltro"), QStringLiteral("filter")},
        {QStringLiteral("sbtContab"), QStringLiteral("sum")},
        {QStringLiteral("sbtSimular"), QStringLiteral("preview")},
        {QStringLiteral("mnuSimular"), QStringLiteral("preview")},
        {QStringLiteral("frmFiltroRecalLancContReceber"), QStringLiteral("filter")},
        {QStringLiteral("sbtLimpa"), QStringLiteral("undo")},
        // CTB10200
        {QStringLiteral("frmCTB10200"), QStringLiteral("spreadsheet")},
        {QStringLiteral("btnFechar"), QStringLiteral("close")},
        {QStringLiteral("btnImprimir"), QStringLiteral("print")},
        {QStringLiteral("btnSalvarPdf"), QStringLiteral("pdf")},
        {QStringLiteral("btnExportarCsv"), QStringLiteral("spreadsheet")},
        // CTB10300
        {QStringLiteral("frmCTB10300"), QStringLiteral("history")},
        {QStringLiteral("btnPesquisar"), QStringLiteral("find")},
        // every grid's context menu
        {QStringLiteral("actCopiar"), QStringLiteral("copy")},
        {QStringLiteral("actExportarCsv"), QStringLiteral("export")},
        // the shell's dialogs
        {QStringLiteral("frmPesquisa"), QStringLiteral("find")},
        {QStringLiteral("frmPesquisaLista"), QStringLiteral("find")},
        {QStringLiteral("frmProcura"), QStringLiteral("find")},
        {QStringLiteral("frmAjuda"), QStringLiteral("help")},
        // the shell's main window
        {QStringLiteral("actAbrirTela"), QStringLiteral("open")},
        {QStringLiteral("mnuSair"), QStringLiteral("close")},
        {QStringLiteral("mnuCTB10300"), QStringLiteral("history")},
        {QStringLiteral("mnuAjudaTela"), QStringLiteral("help")},
        {QStringLiteral("mnuSobre"), QStringLiteral("about")},
    };
    return table;
}

// Reads its SVG file when first drawn: Qt's SVG icon parses the file as soon as it is given
// one, and most icons of a form sit in menus and on pages nobody opens.
class LazyIconEngine final : public QIconEngine
{
public:
    explicit LazyIconEngine(QString path) : m_path(std::move(path)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    // Sizes come in device pixels: the file's icon is asked at ratio 1 so as not to scale twice.
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, 1.0, mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    bool isNull() override { return !QFile::exists(m_path); }
    QIconEngine *clone() const override { return new LazyIconEngine(*this); }

private:
    const QIcon &icon()
    {
        if (m_icon.isNull())
            m_icon = QIcon(m_path);
        return m_icon;
    }

    QString m_path;
    QIcon m_icon;
};

QIcon iconFile(const QString &file)
{
    static QHash<QString, QIcon> cache;
    auto it = cache.find(file);
    if (it == cache.end())
        it = cache.insert(file, QIcon(new LazyIconEngine(QStringLiteral(":/icons/%1.svg").arg(file))));
    return *it;
}

} // namespace

QIcon componentIcon(const QString &name)
{
    const auto it = iconTable().constFind(name);
    return it == iconTable().constEnd() ? QIcon() : iconFile(*it);
}

void applyComponentIcons(QWidget *form)
{
    const QIcon own = componentIcon(form->objectName());
    if (!own.isNull())
        form->setWindowIcon(own);
    for (QAbstractButton *button : form->findChildren<QAbstractButton *>()) {
        const QIcon icon = componentIcon(button->objectName());
        if (icon.isNull())
            continue;
        button->setIcon(icon);
        // A tool button shows its icon alone, its caption staying readable as its text and
        // its hint as the tool tip.
        if (auto *tool = qobject_cast<QToolButton *>(button)) {
            tool->setToolButtonStyle(Qt::ToolButtonIconOnly);
            tool->setIconSize(QSize(16, 16));
        }
    }
    for (QAction *action : form->findChildren<QAction *>()) {
        const QIcon icon = componentIcon(action->objectName());
        if (!icon.isNull())
            action->setIcon(icon);
    }
}

QIcon applicationIcon()
{
    return iconFile(QStringLiteral("erp-shell"));
}

} // namespace erp
