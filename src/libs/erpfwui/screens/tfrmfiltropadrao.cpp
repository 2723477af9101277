#include "tfrmfiltropadrao.h"

#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/core/messages.h>
#include <erpfw/core/shellcontext.h>

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSaveFile>
#include <QShortcut>

namespace erp {

namespace {

QString escaped(QString value)
{
    return value.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\n'), QStringLiteral("\\n"));
}

QString unescaped(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            ++i;
            out += value[i] == QLatin1Char('n') ? QLatin1Char('\n') : value[i];
        } else {
            out += value[i];
        }
    }
    return out;
}

QString safeName(QString name)
{
    for (QChar &c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('_') && c != QLatin1Char('-'))
            c = QLatin1Char('_');
    return name.isEmpty() ? QStringLiteral("padrao") : name;
}

} // namespace

TfrmFiltroPadrao::TfrmFiltroPadrao(QWidget *parent)
    : Form(parent)
{
}

void TfrmFiltroPadrao::bindComponents()
{
    lblCodTela = component<TLabel>(QStringLiteral("lblCodTela"));
    panMenu = component<TPanel>(QStringLiteral("panMenu"));
    sbtConfirma = component<TButtonFlat>(QStringLiteral("sbtConfirma"));
    btfSaveOpc = component<TButtonFlat>(QStringLiteral("btfSaveOpc"));
    btfLoadOpc = component<TButtonFlat>(QStringLiteral("btfLoadOpc"));
    sbtFechar = component<TButtonFlat>(QStringLiteral("sbtFechar"));
    grbFiltroPadrao = component<TGroupBox>(QStringLiteral("grbFiltroPadrao"));
    pgcPadrao = component<TPageControl>(QStringLiteral("pgcPadrao"));
    msgPadrao = component<Messages>(QStringLiteral("msgPadrao"));
    // Return and the function keys belong to the fields; Ctrl+Enter is free in every one of
    // them and confirms as the button does, only while the button is enabled.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | key), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, sbtConfirma, [this] {
            if (sbtConfirma->isEnabled())
                sbtConfirma->click();
        });
    }
}

void TfrmFiltroPadrao::FormCreate(QObject *)
{
    const QList<TTabSheet *> pages = pgcPadrao->pages();
    if (!pages.isEmpty())
        pgcPadrao->setActivePage(pages.constFirst());
}

void TfrmFiltroPadrao::FormClose(QObject *, CloseAction &action)
{
    action = CloseAction::Hide;
}

void TfrmFiltroPadrao::sbtConfirmaClick(QObject *)
{
    setModalResult(mrOk);
}

void TfrmFiltroPadrao::sbtFecharClick(QObject *)
{
    close();
}

QString TfrmFiltroPadrao::optionsFile() const
{
    QString dataDir = ShellContext::instance().dataDir();
    if (dataDir.isEmpty())
        dataDir = QDir::homePath();
    const QString screen = lblCodTela->text().trimmed().isEmpty() ? objectName() : lblCodTela->text().trimmed();
    return QDir(dataDir).filePath(QStringLiteral("opcoes/%1/%2.txt").arg(safeName(ShellContext::instance().operador()), safeName(screen)));
}

QMap<QString, QString> TfrmFiltroPadrao::controlValues() const
{
    QMap<QString, QString> values;
    for (QWidget *w : pgcPadrao->findChildren<QWidget *>()) {
        const QString name = w->objectName();
        if (name.isEmpty())
            continue;
        if (auto *date = qobject_cast<TDateEditPlus *>(w))
            values.insert(name, date->getDate().toString(Qt::ISODate));
        else if (auto *edit = qobject_cast<EditBase *>(w))
            values.insert(name, edit->text());
        else if (auto *check = qobject_cast<TCheckBox *>(w))
            values.insert(name, check->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        else if (auto *radio = qobject_cast<TRadioButton *>(w))
            values.insert(name, radio->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        else if (auto *combo = qobject_cast<TComboBox *>(w))
            values.insert(name, QString::number(combo->currentIndex()));
        else if (auto *group = qobject_cast<TRadioGroup *>(w))
            values.insert(name, QString::number(group->itemIndex()));
    }
    return values;
}

void TfrmFiltroPadrao::restoreControls(const QMap<QString, QString> &values)
{
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QWidget *w = pgcPadrao->findChild<QWidget *>(it.key());
        if (!w)
            continue;
        const QString value = it.value();
        if (auto *date = qobject_cast<TDateEditPlus *>(w))
            date->setDate(QDate::fromString(value, Qt::ISODate));
        else if (auto *edit = qobject_cast<EditBase *>(w))
            edit->setText(value);
        else if (auto *check = qobject_cast<TCheckBox *>(w))
            check->setChecked(value == QLatin1String("1"));
        else if (auto *radio = qobject_cast<TRadioButton *>(w)) {
            if (value == QLatin1String("1"))
                radio->setChecked(true);
        } else if (auto *combo = qobject_cast<TComboBox *>(w))
            combo->setItemIndex(value.toInt());
        else if (auto *group = qobject_cast<TRadioGroup *>(w))
            group->setItemIndex(value.toInt());
    }
}

void TfrmFiltroPadrao::btfSaveOpcClick(QObject *)
{
    QMap<QString, QString> all = controlValues();
    for (auto it = m_options.cbegin(); it != m_options.cend(); ++it)
        all.insert(it.key(), it.value());
    const QString path = optionsFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        throw Error(QStringLiteral("Não foi possível gravar as opções em %1: %2").arg(path, file.errorString()));
    QByteArray text;
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        text += (it.key() + QLatin1Char('=') + escaped(it.value()) + QLatin1Char('\n')).toUtf8();
    file.write(text);
    if (!file.commit())
        throw Error(QStringLiteral("Não foi possível gravar as opções em %1: %2").arg(path, file.errorString()));
    MessageService::show(DialogType::Information, QStringLiteral("Opções salvas."));
}

void TfrmFiltroPadrao::btfLoadOpcClick(QObject *)
{
    const QString path = optionsFile();
    QFile file(path);
    if (!file.exists()) {
        MessageService::show(DialogType::Information, QStringLiteral("Não há opções salvas para esta tela."));
        abortSilently();
    }
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw Error(QStringLiteral("Não foi possível ler as opções de %1: %2").arg(path, file.errorString()));
    QMap<QString, QString> all;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            throw Error(QStringLiteral("Opções salvas com linha inválida em %1: %2").arg(path, line));
        all.insert(line.left(equals), unescaped(line.mid(equals + 1)));
    }
    m_options = all;
    restoreControls(all);
}

} // namespace erp
