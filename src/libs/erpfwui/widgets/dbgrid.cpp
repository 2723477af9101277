#include "dbgrid.h"

#include "keys.h"
#include "symbolfont.h"

#include <erpfw/core/deferredwork.h>
#include <erpfw/core/error.h>
#include <erpfw/data/field.h>
#include <erpfwui/forms/form.h>

#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSaveFile>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>

namespace erp {

namespace {

quint64 cellKey(int row, int column)
{
    return (quint64(quint32(row)) << 32) | quint32(column);
}

class GridHeader : public QHeaderView
{
public:
    explicit GridHeader(TDBGrid *grid)
        : QHeaderView(Qt::Horizontal, grid), m_grid(grid)
    {
        setSectionsClickable(true);
        setSectionsMovable(true);
        setHighlightSections(false);
    }

    // The view asks on every layout (each change of the row count) and the header measures
    // every title again; the same titles measure the same until the font, style or screen change.
    QSize sizeHint() const override
    {
        QStringList titles;
        titles.reserve(count());
        for (int i = 0; i < count(); ++i)
            titles.append(isSectionHidden(i) ? QString() : model()->headerData(i, orientation()).toString());
        if (!m_hint.isValid() || titles != m_titles || isSortIndicatorShown() != m_sortIndicator) {
            m_hint = QHeaderView::sizeHint();
            m_titles = titles;
            m_sortIndicator = isSortIndicatorShown();
        }
        return m_hint;
    }

    // Between a press and its release on the titles: what resizes a section now is the user.
    bool pressed() const { return m_pressed; }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        m_pressed = true;
        QHeaderView::mousePressEvent(event);
    }

    // A title click's handler runs inside the release and may reload the rows: not the user's.
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        m_pressed = false;
        QHeaderView::mouseReleaseEvent(event);
    }

    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        const QScopedValueRollback pressed(m_pressed, true);
        QHeaderView::mouseDoubleClickEvent(event);
    }

    bool event(QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::FontChange:
        case QEvent::StyleChange:
        case QEvent::ApplicationFontChange:
        case QEvent::ScreenChangeInternal:
            m_hint = QSize();
            break;
        default: break;
        }
        return QHeaderView::event(event);
    }

    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override
    {
        QStyleOptionHeader option;
        initStyleOption(&option);
        option.rect = rect;
        option.section = logicalIndex;
        option.text.clear();
        style()->drawControl(QStyle::CE_Header, &option, painter, this);
        const QList<GridColumn *> columns = m_grid->gridColumns();
        Qt::Alignment alignment = Qt::AlignLeft;
        if (logicalIndex < columns.size())
            alignment = columns[logicalIndex]->titleAlignment() & Qt::AlignHorizontal_Mask;
        painter->save();
        // The style may leave an empty clip behind; the title belongs to the section.
        painter->setClipRect(rect);
        painter->setFont(m_grid->titleDisplayFont(logicalIndex));
        painter->setPen(palette().color(QPalette::WindowText));
        // As the desktop grids do: a 2-pixel margin on the aligned side, the section's edge on
        // the other, so that a title as wide as its column still shows whole.
        const QRect textRect = alignment & Qt::AlignRight ? rect.adjusted(0, 0, -2, 0)
                               : alignment & Qt::AlignHCenter ? rect
                                                              : rect.adjusted(2, 0, 0, 0);
        painter->drawText(textRect, int(alignment | Qt::AlignVCenter), m_grid->titleDisplayText(logicalIndex));
        painter->restore();
    }

private:
    TDBGrid *m_grid;
    mutable QSize m_hint;
    mutable QStringList m_titles; // hidden sections as null titles
    mutable bool m_sortIndicator = false;
    bool m_pressed = false;
};

} // namespace

class GridDelegate : public QStyledItemDelegate
{
public:
    explicit GridDelegate(TDBGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        m_grid->paintedCell(painter, option, index);
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        // Codes, names and amounts need no shaping; shaping each cell was most of a page's paint.
        option->font.setStyleStrategy(QFont::PreferNoShaping);
    }

private:
    TDBGrid *m_grid;
};

GridColumn::GridColumn(TDBGrid *grid)
    : QObject(grid)
{
}

TDBGrid *GridColumn::grid() const
{
    return static_cast<TDBGrid *>(parent());
}

int GridColumn::index() const
{
    return int(grid()->gridColumns().indexOf(const_cast<GridColumn *>(this)));
}

void GridColumn::setFieldName(const QString &name)
{
    m_fieldName = name;
    grid()->columnChanged();
}

Field *GridColumn::field() const
{
    ClientDataSet *dataSet = grid()->dataSet();
    return dataSet ? dataSet->findField(m_fieldName) : nullptr;
}

QString GridColumn::title() const
{
    if (!m_title.isNull())
        return m_title;
    Field *f = field();
    return f ? f->displayLabel() : m_fieldName;
}

void GridColumn::setTitle(const QString &title)
{
    m_title = title;
    grid()->horizontalHeader()->viewport()->update();
}

void GridColumn::setWidth(int width)
{
    m_width = width;
    grid()->applyColumnLayout();
}

void GridColumn::setTitleAlignment(Qt::Alignment alignment)
{
    m_titleAlignment = alignment;
    grid()->horizontalHeader()->viewport()->update();
}

QFont GridColumn::titleFont() const
{
    return m_hasTitleFont ? m_titleFont : grid()->horizontalHeader()->font();
}

void GridColumn::setTitleFont(const QFont &font)
{
    m_titleFont = font;
    m_hasTitleFont = true;
    grid()->applyColumnLayout();
}

TDBGrid::TDBGrid(QWidget *parent)
    : QTableView(parent)
    , m_model(new DataSetModel(this))
{
    setHorizontalHeader(new GridHeader(this));
    setModel(m_model);
    setItemDelegate(new GridDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setFocusPolicy(Qt::StrongFocus);
    // Fixed row heights keep scrolling and painting independent of the row count.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_minimumWidth = horizontalHeader()->minimumSectionSize();
    horizontalHeader()->setDefaultSectionSize(m_defaultWidth);
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (!m_ownColumns)
            reloadColumns();
        applyColumnLayout();
        m_pictures.clear();
    });
    // rows replaced without a reset (same columns): what was drawn belongs to the old rows
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] { m_pictures.clear(); });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] { m_pictures.clear(); });
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &from, const QModelIndex &to) {
        if (from.row() == 0 && to.row() == m_model->rowCount() - 1)
            m_pictures.clear();
    });
    connect(horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int logical, int, int size) { userResizedSection(logical, size); });
    connect(horizontalHeader(), &QHeaderView::sectionMoved, this, &TDBGrid::userMovedSection);

    auto *copy = new QAction(QStringLiteral("&Copiar"), this);
    copy->setObjectName(QStringLiteral("actCopiar"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, [this] { dispatch([this] { copyRows(); }); });
    auto *exportCsv = new QAction(QStringLiteral("&Exportar CSV..."), this);
    exportCsv->setObjectName(QStringLiteral("actExportarCsv"));
    connect(exportCsv, &QAction::triggered, this, &TDBGrid::exportCsvAsked);
    addAction(copy);
    addAction(exportCsv);

    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section >= 0 && section < m_columns.size()) {
            GridColumn *column = m_columns[section];
            dispatch([&] { fire(onTitleClick, column); });
        }
    });
}

TDBGrid::~TDBGrid()
{
    for (const auto &c : std::as_const(m_sourceConnections))
        disconnect(c);
}

DataSource *TDBGrid::dataSource() const
{
    return m_source;
}

ClientDataSet *TDBGrid::dataSet() const
{
    return m_source ? m_source->dataSet() : nullptr;
}

void TDBGrid::setDataSource(DataSource *source)
{
    for (const auto &c : std::as_const(m_sourceConnections))
        disconnect(c);
    m_sourceConnections.clear();
    m_source = source;
    m_model->setDataSource(source);
    if (source) {
        // The model hears the reload first (it connected first) and is reset when we follow.
        m_sourceConnections << connect(source, &DataSource::dataSetChanged, this, &TDBGrid::followDataSet)
                            << connect(source, &DataSource::currentRowChanged, this, &TDBGrid::followCurrentRow)
                            << connect(source, &DataSource::dataSetAssigned, this, [this] {
                                   if (!m_ownColumns)
                                       reloadColumns();
                                   applyColumnLayout();
                               });
    }
    if (!m_ownColumns)
        reloadColumns();
    applyColumnLayout();
    followDataSet();
}

GridColumn *TDBGrid::addColumn(const QString &fieldName)
{
    if (!m_ownColumns) {
        qDeleteAll(m_columns);
        m_columns.clear();
        m_ownColumns = true;
    }
    auto *column = new GridColumn(this);
    m_columns.append(column);
    column->setFieldName(fieldName);
    return column;
}

GridColumn *TDBGrid::columnOf(const QString &fieldName) const
{
    for (GridColumn *c : m_columns)
        if (wire::sameFieldName(c->fieldName(), fieldName))
            return c;
    return nullptr;
}

void TDBGrid::clearColumns()
{
    qDeleteAll(m_columns);
    m_columns.clear();
    m_ownColumns = false;
    m_model->setColumns({});
    reloadColumns();
}

void TDBGrid::columnChanged()
{
    if (!m_ownColumns)
        return;
    QStringList names;
    for (GridColumn *c : m_columns)
        names.append(c->fieldName());
    m_order.clear();
    m_model->setColumns(names);
    applyColumnLayout();
    // The model's reset dropped the selection: the dataset's current row is shown again.
    followDataSet();
}

// Without columns of its own the grid mirrors the model, which shows the visible fields.
void TDBGrid::reloadColumns()
{
    m_order.clear();
    qDeleteAll(m_columns);
    m_columns.clear();
    for (int i = 0; i < m_model->columnCount(); ++i) {
        auto *column = new GridColumn(this);
        Field *field = m_model->fieldAt(i);
        column->m_fieldName = field ? field->fieldName() : QString();
        m_columns.append(column);
    }
}

void TDBGrid::applyColumnLayout()
{
    QHeaderView *header = horizontalHeader();
    const QScopedValueRollback layingOut(m_layingOut, true);
    int titleHeight = fontMetrics().height() + 6;
    // The style's minimum would widen a narrow column (a 20-pixel mark) past its design width,
    // and the columns would no longer fit where they were drawn to fit.
    int narrowest = m_minimumWidth;
    for (int i = 0; i < m_columns.size(); ++i)
        narrowest = qMin(narrowest, shownWidth(i));
    header->setMinimumSectionSize(qMax(narrowest, 1));
    for (int i = 0; i < m_columns.size() && i < header->count(); ++i) {
        header->resizeSection(i, shownWidth(i));
        titleHeight = qMax(titleHeight, QFontMetrics(titleDisplayFont(i)).height() + 6);
    }
    // A reset of the model forgets where the user moved the sections.
    if (m_order.size() == header->count())
        for (int visual = 0; visual < m_order.size(); ++visual)
            header->moveSection(header->visualIndex(m_order[visual]), visual);
    header->setMinimumHeight(titleHeight);
    header->viewport()->update();
}

void TDBGrid::setTitlesWhole(bool on)
{
    m_titlesWhole = on;
    applyColumnLayout();
}

int TDBGrid::shownWidth(int column) const
{
    if (column < 0 || column >= m_columns.size())
        return m_defaultWidth;
    const int width = m_columns[column]->width() >= 0 ? m_columns[column]->width() : m_defaultWidth;
    if (!m_titlesWhole)
        return width;
    // the header's margin of 2 pixels on the aligned side and the section's edges
    const int title = QFontMetrics(titleDisplayFont(column)).horizontalAdvance(titleDisplayText(column)) + 6;
    return qMax(width, title);
}

// Only the user's drags on the titles (or resizeColumn) change a column's width; a header also
// resizes its sections when its model is reset.
void TDBGrid::userResizedSection(int logical, int size)
{
    if (m_layingOut || logical < 0 || logical >= m_columns.size())
        return;
    if (!m_userResize && !static_cast<const GridHeader *>(horizontalHeader())->pressed())
        return;
    if (size == shownWidth(logical))
        return;
    m_columns[logical]->m_width = size;
    emit columnLayoutChanged();
}

void TDBGrid::userMovedSection()
{
    if (m_layingOut)
        return;
    m_order = shownOrder();
    emit columnLayoutChanged();
}

QList<int> TDBGrid::shownOrder() const
{
    QList<int> order;
    const QHeaderView *header = horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual)
        order.append(header->logicalIndex(visual));
    for (int i = int(order.size()); i < m_columns.size(); ++i)
        order.append(i);
    return order;
}

QStringList TDBGrid::columnLayout() const
{
    QStringList layout;
    for (int logical : shownOrder())
        if (logical < m_columns.size())
            layout.append(QStringLiteral("%1=%2").arg(m_columns[logical]->fieldName())
                              .arg(m_columns[logical]->width() >= 0 ? m_columns[logical]->width() : m_defaultWidth));
    return layout;
}

void TDBGrid::setColumnLayout(const QStringList &layout)
{
    QList<int> order;
    for (const QString &entry : layout) {
        const qsizetype eq = entry.lastIndexOf(QLatin1Char('='));
        bool ok = false;
        const int width = entry.mid(eq + 1).toInt(&ok);
        GridColumn *column = eq > 0 ? columnOf(entry.left(eq)) : nullptr;
        if (!column || !ok || width <= 0 || order.contains(column->index()))
            continue;
        column->m_width = qMin(width, 4000);
        order.append(column->index());
    }
    for (int i = 0; i < m_columns.size(); ++i)
        if (!order.contains(i))
            order.append(i);
    m_order = order;
    applyColumnLayout();
}

bool TDBGrid::resizeColumn(const QString &fieldName, int width)
{
    GridColumn *column = columnOf(fieldName);
    if (!column)
        return false;
    const QScopedValueRollback user(m_userResize, true);
    horizontalHeader()->resizeSection(column->index(), width);
    return true;
}

bool TDBGrid::moveColumn(const QString &fieldName, int position)
{
    GridColumn *column = columnOf(fieldName);
    if (!column)
        return false;
    QHeaderView *header = horizontalHeader();
    header->moveSection(header->visualIndex(column->index()), qBound(0, position, header->count() - 1));
    return true;
}

QStringList TDBGrid::shownTitles() const
{
    QStringList titles;
    for (int logical : shownOrder())
        titles.append(titleDisplayText(logical));
    return titles;
}

QStringList TDBGrid::shownCells(int row) const
{
    ClientDataSet *ds = dataSet();
    if (!ds || !ds->active() || row < 0 || row >= rowCount())
        throw Error(QStringLiteral("%1 não tem a linha %2.").arg(objectName()).arg(row));
    QStringList cells;
    ClientDataSet::RowScope scope(*ds, row);
    for (int logical : shownOrder()) {
        Field *field = logical < m_columns.size() ? m_columns[logical]->field() : nullptr;
        cells.append(field ? field->displayText() : QString());
    }
    return cells;
}

QString TDBGrid::selectedRowsText() const
{
    ClientDataSet *ds = dataSet();
    if (!ds || !ds->active() || ds->isEmpty())
        return QString();
    QList<int> rows;
    for (const QModelIndex &index : selectionModel()->selectedIndexes())
        if (!rows.contains(index.row()))
            rows.append(index.row());
    if (rows.isEmpty() && currentRow() >= 0)
        rows.append(currentRow());
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (int row : std::as_const(rows)) {
        QStringList cells = shownCells(row);
        for (QString &cell : cells)
            cell = cell.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' ')).remove(QLatin1Char('\r'));
        lines.append(cells.join(QLatin1Char('\t')));
    }
    return lines.join(QLatin1Char('\n'));
}

void TDBGrid::copyRows()
{
    QApplication::clipboard()->setText(selectedRowsText());
}

QString TDBGrid::htmlTable() const
{
    ClientDataSet *ds = dataSet();
    if (!ds || !ds->active() || rowCount() == 0)
        return QString();
    const auto row = [](const QStringList &cells, QLatin1StringView tag) {
        QString html = QStringLiteral("<tr>");
        for (const QString &text : cells)
            html += QStringLiteral("<%1>%2</%1>").arg(tag, text.toHtmlEscaped());
        return html + QStringLiteral("</tr>");
    };
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\">")
                   + row(shownTitles(), QLatin1StringView("th"));
    for (int r = 0; r < rowCount(); ++r)
        html += row(shownCells(r), QLatin1StringView("td"));
    return html + QStringLiteral("</table>");
}

QString TDBGrid::csvLines() const
{
    const QList<int> order = shownOrder();
    QList<bool> isText;
    for (int logical : order) {
        const Field *field = logical < m_columns.size() ? m_columns[logical]->field() : nullptr;
        isText.append(!field || !field->isNumericField());
    }
    const auto line = [&isText](const QStringList &cells) {
        QStringList out;
        for (qsizetype i = 0; i < cells.size(); ++i)
            out.append(csvCell(cells[i], isText.value(i, true)));
        return out.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    };
    QString text = line(shownTitles());
    ClientDataSet *ds = dataSet();
    if (ds && ds->active())
        for (int row = 0; row < rowCount(); ++row)
            text += line(shownCells(row));
    return text;
}

QByteArray TDBGrid::csv() const
{
    return QByteArrayLiteral("\xEF\xBB\xBF") + csvLines().toUtf8();
}

bool TDBGrid::exportCsv(const QString &path)
{
    return dispatch([&] { writeFileAtomically(path, csv()); });
}

void TDBGrid::exportCsvAsked()
{
    const Form *form = nullptr;
    for (QObject *o = parent(); o && !form; o = o->parent())
        form = qobject_cast<const Form *>(o);
    const QString suggested = (form ? form->objectName() : QStringLiteral("grade")) + QLatin1Char('-') + objectName()
                              + QStringLiteral(".csv");
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Exportar CSV"), suggested,
                                                      QStringLiteral("Planilha CSV (*.csv)"));
    if (!path.isEmpty())
        exportCsv(path);
}

void TDBGrid::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("pmnGrade"));
    menu.addActions(actions());
    const bool rows = dataSet() && dataSet()->active() && !dataSet()->isEmpty();
    actions().value(0)->setEnabled(rows);
    menu.exec(event->globalPos());
    actions().value(0)->setEnabled(true);
}

QString csvCell(const QString &text, bool isText)
{
    QString cell = text;
    if (isText && !cell.isEmpty() && QStringLiteral("=+-@").contains(cell.front()))
        cell.prepend(QLatin1Char('\''));
    if (cell.contains(QLatin1Char(';')) || cell.contains(QLatin1Char('"')) || cell.contains(QLatin1Char('\n'))
        || cell.contains(QLatin1Char('\r')))
        cell = QLatin1Char('"') + cell.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return cell;
}

void writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw Error(QStringLiteral("Não foi possível gravar o arquivo %1: %2").arg(path, file.errorString()));
}

bool TDBGrid::rowSelect() const
{
    return selectionBehavior() == QAbstractItemView::SelectRows;
}

void TDBGrid::setRowSelect(bool on)
{
    setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    followDataSet();
}

bool TDBGrid::titles() const
{
    return !horizontalHeader()->isHidden();
}

void TDBGrid::setTitles(bool on)
{
    horizontalHeader()->setVisible(on);
}

void TDBGrid::setColLines(bool on)
{
    m_colLines = on;
    setShowGrid(m_colLines || m_rowLines);
}

void TDBGrid::setRowLines(bool on)
{
    m_rowLines = on;
    setShowGrid(m_colLines || m_rowLines);
}

void TDBGrid::setDefaultColWidth(int width)
{
    m_defaultWidth = width;
    horizontalHeader()->setDefaultSectionSize(width);
    applyColumnLayout();
}

int TDBGrid::rowCount() const
{
    return m_model->rowCount();
}

int TDBGrid::currentRow() const
{
    ClientDataSet *ds = dataSet();
    return ds && ds->active() ? ds->recNo() - 1 : -1;
}

void TDBGrid::setCurrentRow(int row)
{
    if (row < 0 || row >= rowCount())
        throw Error(QStringLiteral("%1 não tem a linha %2 (tem %3).").arg(objectName()).arg(row).arg(rowCount()));
    const int column = qMax(currentIndex().column(), 0);
    setCurrentIndex(m_model->index(row, column));
}

QVariantList TDBGrid::columnList() const
{
    QVariantList list;
    for (int logical : shownOrder()) {
        if (logical >= m_columns.size())
            continue;
        GridColumn *c = m_columns[logical];
        const int width = c->width() >= 0 ? c->width() : m_defaultWidth;
        list.append(QVariantMap{{QStringLiteral("field"), c->fieldName()},
                                {QStringLiteral("title"), c->title()},
                                {QStringLiteral("width"), width}});
    }
    return list;
}

int TDBGrid::columnsWidth() const
{
    int total = 0;
    for (int i = 0; i < m_columns.size(); ++i)
        total += shownWidth(i);
    return total;
}

int TDBGrid::widthShowingColumns() const
{
    int bar = 0;
    if (verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff) {
        bar = verticalScrollBar()->sizeHint().width();
        if (style()->styleHint(QStyle::SH_ScrollView_FrameOnlyAroundContents, nullptr, this))
            bar += style()->pixelMetric(QStyle::PM_ScrollView_ScrollBarSpacing, nullptr, this);
    }
    return columnsWidth() + 2 * frameWidth() + bar;
}

QString TDBGrid::cellText(int row, const QString &fieldName) const
{
    ClientDataSet *ds = dataSet();
    if (!ds || row < 0 || row >= rowCount())
        throw Error(QStringLiteral("%1 não tem a linha %2.").arg(objectName()).arg(row));
    Field *field = ds->fieldByName(fieldName);
    ClientDataSet::RowScope scope(*ds, row);
    return field->displayText();
}

QString TDBGrid::cellPicture(int row, const QString &fieldName) const
{
    GridColumn *column = columnOf(fieldName);
    if (!column)
        return QString();
    return m_pictures.value(cellKey(row, column->index()));
}

void TDBGrid::titleClick(const QString &fieldName)
{
    GridColumn *column = columnOf(fieldName);
    if (!column)
        throw Error(QStringLiteral("%1 não tem coluna do campo %2.").arg(objectName(), fieldName));
    dispatch([&] { fire(onTitleClick, column); });
}

void TDBGrid::dblClick()
{
    dispatch([this] { fire(onDblClick, this); });
}

QString TDBGrid::titleDisplayText(int column) const
{
    if (column < 0 || column >= m_columns.size())
        return QString();
    GridColumn *c = m_columns[column];
    return mapSymbolFont(c->titleFont(), c->title()).text;
}

QFont TDBGrid::titleDisplayFont(int column) const
{
    if (column < 0 || column >= m_columns.size())
        return horizontalHeader()->font();
    GridColumn *c = m_columns[column];
    return mapSymbolFont(c->titleFont(), c->title()).font;
}

void TDBGrid::followDataSet()
{
    if (m_following)
        return;
    m_following = true;
    const int row = currentRow();
    if (row >= 0 && row < rowCount()) {
        const QModelIndex index = m_model->index(row, qMax(currentIndex().column(), 0));
        // a click or key on the grid has already made that row current and selected it
        if (!isCurrentAndSelected(index))
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect
                                                         | (rowSelect() ? QItemSelectionModel::Rows
                                                                        : QItemSelectionModel::NoUpdate));
        scrollTo(index);
    } else {
        selectionModel()->clear();
    }
    m_following = false;
}

void TDBGrid::followCurrentRow()
{
    // the row the grid's own key or click moved to is already current and selected, and comes
    // into view when the move's work is done
    if (m_moving && isCurrentAndSelected(m_model->index(currentRow(), qMax(currentIndex().column(), 0))))
        return;
    followDataSet();
}

// Whether making the index current with ClearAndSelect would change nothing.
bool TDBGrid::isCurrentAndSelected(const QModelIndex &index) const
{
    const QItemSelectionModel *selection = selectionModel();
    if (!index.isValid() || selection->currentIndex() != index)
        return false;
    const QItemSelection selected = selection->selection();
    if (selected.size() != 1)
        return false;
    const QModelIndex first = rowSelect() ? m_model->index(index.row(), 0) : index;
    const QModelIndex last = rowSelect() ? m_model->index(index.row(), m_model->columnCount() - 1) : index;
    return selected.first() == QItemSelectionRange(first, last);
}

void TDBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    ClientDataSet *ds = dataSet();
    if (m_following || !current.isValid() || !ds || !ds->active() || ds->recNo() - 1 == current.row()) {
        QTableView::currentChanged(current, previous);
        return;
    }
    const int row = current.row();
    {
        // The view scrolls to the row while the move's server call is out, not before it.
        const QPersistentModelIndex target(current), left(previous);
        const DeferredViewWork view([&] {
            if (currentIndex() == target) // else a handler moved on, and the grid followed
                QTableView::currentChanged(target, left);
            else
                viewport()->update();
        });
        const QScopedValueRollback moving(m_moving, true);
        dispatch([&] { ds->moveTo(row + 1); });
    }
    if (currentRow() != row) // a handler refused the move
        QTimer::singleShot(0, this, &TDBGrid::followDataSet);
}

void TDBGrid::keyPressEvent(QKeyEvent *event)
{
    if (keyDownConsumed(onKeyDown, this, event))
        return;
    QTableView::keyPressEvent(event);
}

void TDBGrid::keyboardSearch(const QString &)
{
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    QTableView::mouseDoubleClickEvent(event);
    dispatch([this] { fire(onDblClick, this); });
}

void TDBGrid::paintedCell(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index)
{
    const quint64 key = cellKey(index.row(), index.column());
    m_pictures.remove(key);
    ClientDataSet *ds = dataSet();
    if (!onDrawColumnCell || !ds)
        return;
    GridDrawState state;
    if (option.state & QStyle::State_Selected)
        state |= GridDrawFlag::Selected;
    if (option.state & QStyle::State_HasFocus)
        state |= GridDrawFlag::Focused;
    m_canvas = painter;
    m_cellRect = option.rect;
    m_drawRow = index.row();
    m_drawColumn = index.column();
    m_drawSelected = state.testFlag(GridDrawFlag::Selected);
    painter->save();
    std::exception_ptr error = capture([&] {
        ClientDataSet::RowScope scope(*ds, index.row());
        onDrawColumnCell(this, option.rect, index.column(), m_columns.value(index.column()), state);
    });
    painter->restore();
    m_canvas = nullptr;
    m_drawRow = m_drawColumn = -1;
    if (error)
        reportOnce(error);
}

// A message box must not open inside a paint event; the error is shown once the painting
// is over, and repaints meanwhile do not pile up more of them.
void TDBGrid::reportOnce(std::exception_ptr error)
{
    if (m_reportPending)
        return;
    m_reportPending = true;
    QTimer::singleShot(0, this, [this] { m_reportPending = false; });
    erp::reportLater(error);
}

void TDBGrid::drawPicture(const QRect &rect, const Picture &picture, const QColor &transparent)
{
    if (!m_canvas)
        throw Error(QStringLiteral("Imagem fora do desenho de uma célula de %1.").arg(objectName()));
    static QHash<QPair<qint64, QRgb>, QPixmap> masked;
    const auto cacheKey = qMakePair(picture.pixmap().cacheKey(), transparent.rgb());
    auto it = masked.find(cacheKey);
    if (it == masked.end()) {
        QPixmap pixmap = picture.pixmap();
        pixmap.setMask(pixmap.createMaskFromColor(transparent, Qt::MaskInColor));
        it = masked.insert(cacheKey, pixmap);
    }
    const QPixmap &pixmap = *it;
    // The grid's own text of the cell gives way to the picture.
    m_canvas->fillRect(rect, palette().brush(m_drawSelected ? QPalette::Highlight : QPalette::Base));
    m_canvas->drawPixmap(rect.x() + (rect.width() - pixmap.width()) / 2,
                         rect.y() + (rect.height() - pixmap.height()) / 2, pixmap);
    m_pictures.insert(cellKey(m_drawRow, m_drawColumn), picture.name());
}

void InsereImagem(TDBGrid *grid, const QRect &rect, const Picture &picture, const QColor &colour)
{
    grid->drawPicture(rect, picture, colour);
}

TDBText::TDBText(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText); // data is shown as it is, never read as markup
}

void TDBText::setDataSource(DataSource *source)
{
    for (const auto &c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_source = source;
    if (source) {
        m_connections << connect(source, &DataSource::dataSetChanged, this, &TDBText::refresh)
                      << connect(source, &DataSource::currentRowChanged, this, &TDBText::refresh)
                      << connect(source, &DataSource::rowChanged, this, &TDBText::refresh)
                      << connect(source, &DataSource::stateChanged, this, &TDBText::refresh)
                      << connect(source, &DataSource::dataSetAssigned, this, &TDBText::refresh);
    }
    refresh();
}

void TDBText::setDataField(const QString &field)
{
    m_field = field;
    refresh();
}

void TDBText::refresh()
{
    ClientDataSet *ds = m_source ? m_source->dataSet() : nullptr;
    Field *field = ds && ds->active() && !ds->isEmpty() ? ds->findField(m_field) : nullptr;
    QString shown;
    // The data's signals come from inside the dataset's own code: a calculation that fails
    // is shown later, never thrown back through them.
    if (std::exception_ptr error = capture([&] { shown = field ? field->displayText() : QString(); }))
        reportLater(error);
    setText(shown);
}

} // namespace erp
