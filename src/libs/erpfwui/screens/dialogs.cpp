#include "dialogs.h"

#include <erpfwui/shell/icons.h>
#include <erpfwui/shell/shellwindow.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/keys.h>

#include <erpfw/core/messageservice.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/datasource.h>
#include <erpfw/data/field.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMainWindow>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace erp {

namespace {

// The modal dialog open, else the window in front, else the shell's (none is active while a
// dialog closes): a dialog without owner would open in a corner of the screen, or under the
// dialog it was opened from.
QWidget *dialogOwner()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget *active = QApplication::activeWindow())
        return active;
    return shellMainWindow();
}

// The buttons row of the framework's dialogs: OK (Return) and Cancelar (Escape).
std::pair<TButton *, TButton *> addButtons(Form *form, QVBoxLayout *layout)
{
    auto *row = new QHBoxLayout;
    row->addStretch();
    auto *ok = new TButton(form);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setText(QStringLiteral("OK"));
    ok->setDefault(true);
    auto *cancel = new TButton(form);
    cancel->setObjectName(QStringLiteral("btnCancelar"));
    cancel->setText(QStringLiteral("Cancelar"));
    cancel->setCancel(true);
    cancel->setModalResult(mrCancel);
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row);
    return {ok, cancel};
}

// The widest text of the field among the first rows, as the grid shows it (a CPF or CNPJ with
// its punctuation); the field's width in characters while there are no rows.
int contentWidth(ClientDataSet *dataSet, Field *field, const QFontMetrics &metrics)
{
    const int rows = dataSet->active() ? qMin(dataSet->recordCount(), 500) : 0;
    if (rows == 0)
        return field->displayWidth() * metrics.averageCharWidth();
    int widest = 0;
    try {
        for (int row = 0; row < rows; ++row) {
            ClientDataSet::RowScope scope(*dataSet, row);
            widest = qMax(widest, metrics.horizontalAdvance(field->displayText()));
        }
    } catch (const std::exception &) {
        // A text handler that fails is reported when the grid draws that cell.
        return field->displayWidth() * metrics.averageCharWidth();
    }
    return widest;
}

TDBGrid *addGrid(Form *form, QVBoxLayout *layout, const QString &name, DataSource *source, const QStringList &fields)
{
    auto *grid = new TDBGrid(form);
    grid->setObjectName(name);
    grid->setRowSelect(true);
    grid->setDataSource(source);
    ClientDataSet *dataSet = source ? source->dataSet() : nullptr;
    // The cell's text sits between the style's margins and the column line.
    const int margins = 2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1) + 4;
    for (const QString &name : fields) {
        GridColumn *column = grid->addColumn(name);
        if (Field *field = dataSet ? dataSet->findField(name) : nullptr) {
            // A short code under a longer title ("Código") shows its title whole.
            const int text = contentWidth(dataSet, field, grid->fontMetrics()) + margins;
            const int title = grid->horizontalHeader()->fontMetrics().horizontalAdvance(column->title()) + 8;
            column->setWidth(qBound(40, qMax(text, title), 320));
        }
    }
    layout->addWidget(grid);
    return grid;
}

// The list opens wide enough to show every column whole, as far as the screen allows.
void resizeToGrid(Form *form, TDBGrid *grid, int width, int height)
{
    const QMargins margins = form->layout()->contentsMargins();
    width = qMax(width, grid->widthShowingColumns() + margins.left() + margins.right());
    if (const QScreen *screen = form->screen())
        width = qMin(width, screen->availableGeometry().width() * 9 / 10);
    form->resize(width, height);
}

QStringList shownFields(ClientDataSet *dataSet, const QStringList &given)
{
    if (!given.isEmpty())
        return given;
    QStringList names;
    if (dataSet)
        for (Field *field : dataSet->fields())
            if (field->visible())
                names.append(field->fieldName());
    return names;
}

// Letter case and accents do not count when searching.
QString folded(const QString &text)
{
    QString out;
    for (QChar c : text.normalized(QString::NormalizationForm_D))
        if (c.category() != QChar::Mark_NonSpacing)
            out += c.toCaseFolded();
    return out;
}

void prepareDialog(Form *form, const QString &name, const QString &caption)
{
    form->setObjectName(name);
    form->setWindowTitle(caption);
    form->setWindowFlags(Qt::Dialog);
    applyComponentIcons(form);
}

} // namespace

PesquisaForm::PesquisaForm(DataSource *source, const QString &title, const QStringList &fields, QWidget *parent)
    : Form(parent)
{
    prepareDialog(this, QStringLiteral("frmPesquisa"), title.isEmpty() ? QStringLiteral("Pesquisa") : title);
    auto *layout = new QVBoxLayout(this);
    m_grid = addGrid(this, layout, QStringLiteral("dbgPesquisa"), source,
                     shownFields(source ? source->dataSet() : nullptr, fields));
    auto [ok, cancel] = addButtons(this, layout);
    ok->setModalResult(mrOk);
    m_grid->onDblClick = [this](QObject *) { setModalResult(mrOk); };
    resizeToGrid(this, m_grid, 480, 320);
}

PesquisaListaForm::PesquisaListaForm(DataSource *source, const QString &keyField, const QString &title,
                                     bool requireChoice, const QString &list, QWidget *parent)
    : Form(parent)
    , m_source(source)
    , m_keyField(keyField)
    , m_chosen(list.split(QLatin1Char(';'), Qt::SkipEmptyParts))
{
    prepareDialog(this, QStringLiteral("frmPesquisaLista"), title.isEmpty() ? QStringLiteral("Seleção") : title);
    auto *layout = new QVBoxLayout(this);
    auto *hint = new QLabel(QStringLiteral("Espaço ou duplo clique marca ou desmarca a linha."), this);
    layout->addWidget(hint);
    QStringList fields = shownFields(source ? source->dataSet() : nullptr, {});
    // A list that carries its rows' mark (IDMARCADO) shows it in the picker's own mark column,
    // not as letters beside it.
    fields.removeIf([](const QString &name) { return name.compare(QLatin1String("IDMARCADO"), Qt::CaseInsensitive) == 0; });
    fields.prepend(QString()); // the mark column
    m_grid = addGrid(this, layout, QStringLiteral("dbgLista"), source, fields);
    GridColumn *mark = m_grid->gridColumns().constFirst();
    mark->setTitle(QString(QChar(0x2714)));
    mark->setWidth(24);
    mark->setTitleAlignment(Qt::AlignHCenter);
    m_grid->onDrawColumnCell = [this](QObject *, const QRect &rect, int column, GridColumn *, GridDrawState state) {
        if (column != 0 || !m_chosen.contains(currentKey()))
            return;
        QPainter *canvas = m_grid->canvas();
        canvas->setPen(m_grid->palette().color(state.testFlag(GridDrawFlag::Selected) ? QPalette::HighlightedText
                                                                                     : QPalette::Text));
        canvas->drawText(rect, Qt::AlignCenter, QString(QChar(0x2714)));
    };
    m_grid->onDblClick = [this](QObject *) { toggleCurrent(); };
    m_grid->onKeyDown = [this](QObject *, int &key, ShiftState) {
        if (key == VK_SPACE) {
            toggleCurrent();
            key = 0;
        }
    };
    auto [ok, cancel] = addButtons(this, layout);
    ok->onClick = [this, requireChoice](QObject *) {
        if (requireChoice && m_chosen.isEmpty()) {
            MessageService::show(DialogType::Warning, QStringLiteral("Escolha pelo menos um item da lista."));
            return;
        }
        setModalResult(mrOk);
    };
    resizeToGrid(this, m_grid, 480, 360);
}

// The key of the row being read: the current row, or while drawing the row being drawn.
QString PesquisaListaForm::currentKey() const
{
    ClientDataSet *dataSet = m_source ? m_source->dataSet() : nullptr;
    return dataSet && dataSet->active() && !dataSet->isEmpty() ? dataSet->fieldByName(m_keyField)->asString().trimmed()
                                                                : QString();
}

void PesquisaListaForm::toggleCurrent()
{
    const QString key = currentKey();
    if (key.isEmpty())
        return;
    if (!m_chosen.removeOne(key))
        m_chosen.append(key);
    m_grid->viewport()->update();
}

ProcuraForm::ProcuraForm(ClientDataSet *dataSet, QWidget *parent)
    : Form(parent)
    , m_dataSet(dataSet)
{
    prepareDialog(this, QStringLiteral("frmProcura"), QStringLiteral("Procurar"));
    auto *layout = new QVBoxLayout(this);
    auto *fieldLabel = new QLabel(QStringLiteral("Campo"), this);
    m_field = new TComboBox(this);
    m_field->setObjectName(QStringLiteral("cbbCampo"));
    for (Field *field : dataSet->fields())
        if (field->visible())
            m_field->addItem(field->displayLabel(), field->fieldName());
    m_field->setItemIndex(m_field->count() > 0 ? 0 : -1);
    auto *valueLabel = new QLabel(QStringLiteral("Valor"), this);
    m_value = new TEdit(this);
    m_value->setObjectName(QStringLiteral("edtValor"));
    fieldLabel->setBuddy(m_field);
    valueLabel->setBuddy(m_value);
    layout->addWidget(fieldLabel);
    layout->addWidget(m_field);
    layout->addWidget(valueLabel);
    layout->addWidget(m_value);
    auto [ok, cancel] = addButtons(this, layout);
    ok->onClick = [this](QObject *) { confirm(); };
    resize(320, 160);
}

int ProcuraForm::find(const QString &fieldName, const QString &value) const
{
    Field *field = m_dataSet->fieldByName(fieldName);
    const QString wanted = folded(value.trimmed());
    const int rows = m_dataSet->recordCount();
    for (int row = 0; row < rows; ++row) {
        ClientDataSet::RowScope scope(*m_dataSet, row);
        if (folded(field->displayText().trimmed()).startsWith(wanted))
            return row;
    }
    return -1;
}

void ProcuraForm::confirm()
{
    if (m_field->currentIndex() < 0)
        throw Error(QStringLiteral("Não há campo para procurar."));
    if (m_value->text().trimmed().isEmpty()) {
        m_value->setFocus();
        mensErro(QStringLiteral("Informe o valor a procurar."));
    }
    const QString fieldName = m_field->currentData().toString();
    const int row = find(fieldName, m_value->text());
    if (row < 0) {
        m_value->setFocus();
        mensErro(QStringLiteral("Nenhum registro com %1 começando por \"%2\".")
                     .arg(m_field->currentText(), m_value->text().trimmed()));
    }
    m_dataSet->moveTo(row + 1);
    setModalResult(mrOk);
}

bool PesquisaLista(DataSource *source, const QString &keyField, const QString &title, bool requireChoice, QString &list)
{
    ClientDataSet *dataSet = source ? source->dataSet() : nullptr;
    if (!dataSet || !dataSet->active())
        throw Error(QStringLiteral("A lista de %1 não está aberta.").arg(title));
    dataSet->fieldByName(keyField);
    PesquisaListaForm form(source, keyField, title, requireChoice, list, dialogOwner());
    if (form.showModal() != mrOk)
        return false;
    list = form.selection();
    return true;
}

bool Procura(ClientDataSet *dataSet)
{
    if (!dataSet || !dataSet->active())
        throw Error(QStringLiteral("Não há dados abertos para procurar."));
    ProcuraForm form(dataSet, dialogOwner());
    return form.showModal() == mrOk;
}

} // namespace erp
