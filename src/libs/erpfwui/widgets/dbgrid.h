#pragma once

#include <erpfwui/widgets/controls.h>

#include <erpfw/data/datasetmodel.h>
#include <erpfw/data/datasource.h>

#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QTableView>

namespace erp {

class TDBGrid;

// A column of a data-aware grid: the field it shows, its title, width and the title's look.
class ERPFWUI_EXPORT GridColumn : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString fieldName READ fieldName WRITE setFieldName)
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(int width READ width WRITE setWidth)
    Q_PROPERTY(Qt::Alignment titleAlignment READ titleAlignment WRITE setTitleAlignment)
    Q_PROPERTY(QFont titleFont READ titleFont WRITE setTitleFont)

public:
    explicit GridColumn(TDBGrid *grid);

    TDBGrid *grid() const;
    int index() const; // among the grid's columns
    QString fieldName() const { return m_fieldName; }
    void setFieldName(const QString &name);
    Field *field() const; // nullptr while the dataset lacks it
    // The field's label when no title was given.
    QString title() const;
    void setTitle(const QString &title);
    // -1: the grid's default width.
    int width() const { return m_width; }
    void setWidth(int width);
    Qt::Alignment titleAlignment() const { return m_titleAlignment; }
    void setTitleAlignment(Qt::Alignment alignment);
    QFont titleFont() const;
    void setTitleFont(const QFont &font);
    bool hasTitleFont() const { return m_hasTitleFont; }

private:
    friend class TDBGrid;
    QString m_fieldName;
    QString m_title;
    int m_width = -1;
    Qt::Alignment m_titleAlignment = Qt::AlignLeft;
    QFont m_titleFont;
    bool m_hasTitleFont = false;
};

// A data-aware grid over a data source. Only the rows in view are read and painted, so a
// million rows scroll like a hundred. Its current row follows the dataset, and a click or
// key moves the dataset (with its scroll events). After the grid has drawn a cell, the draw
// handler may paint over it through canvas() (InsereImagem); while it runs, the dataset's
// fields read the row being drawn.
class ERPFWUI_EXPORT TDBGrid : public QTableView, public FocusEvents
{
    Q_OBJECT
    Q_PROPERTY(erp::DataSource *dataSource READ dataSource WRITE setDataSource)
    Q_PROPERTY(bool readOnly READ readOnly WRITE setReadOnly)
    Q_PROPERTY(bool rowSelect READ rowSelect WRITE setRowSelect)
    Q_PROPERTY(bool titles READ titles WRITE setTitles)
    Q_PROPERTY(bool colLines READ colLines WRITE setColLines)
    Q_PROPERTY(bool rowLines READ rowLines WRITE setRowLines)
    Q_PROPERTY(bool tabs READ tabs WRITE setTabs)
    Q_PROPERTY(int defaultColWidth READ defaultColWidth WRITE setDefaultColWidth)
    Q_PROPERTY(QColor color READ color WRITE setColor)
    Q_PROPERTY(int rowCount READ rowCount)
    Q_PROPERTY(int currentRow READ currentRow WRITE setCurrentRow)
    Q_PROPERTY(QVariantList columns READ columnList)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)
    Q_PROPERTY(bool titlesWhole READ titlesWhole WRITE setTitlesWhole)

public:
    Q_INVOKABLE explicit TDBGrid(QWidget *parent = nullptr);
    ~TDBGrid() override;
    bool isVisibleFlag() const { return !isHidden(); }

    DataSource *dataSource() const;
    void setDataSource(DataSource *source);
    ClientDataSet *dataSet() const;

    // Without columns of its own the grid shows every visible field of the dataset.
    GridColumn *addColumn(const QString &fieldName);
    QList<GridColumn *> gridColumns() const { return m_columns; }
    GridColumn *columnOf(const QString &fieldName) const; // nullptr when none
    void clearColumns();

    bool readOnly() const { return m_readOnly; }
    void setReadOnly(bool on) { m_readOnly = on; }
    bool rowSelect() const;
    void setRowSelect(bool on);
    bool titles() const;
    void setTitles(bool on);
    bool colLines() const { return m_colLines; }
    void setColLines(bool on);
    bool rowLines() const { return m_rowLines; }
    void setRowLines(bool on);
    bool tabs() const { return tabKeyNavigation(); }
    void setTabs(bool on) { setTabKeyNavigation(on); }
    int defaultColWidth() const { return m_defaultWidth; }
    void setDefaultColWidth(int width);
    QColor color() const { return controlColor(this); }
    void setColor(const QColor &color) { setControlColor(this, color); }

    int rowCount() const;
    int currentRow() const; // 0-based; -1 when none
    // As a click on that row: the dataset moves with its scroll events.
    void setCurrentRow(int row);
    // The columns in the order shown, each with its field, title and the width it was given.
    QVariantList columnList() const;
    // Whether a column shows at least as wide as its title, whatever width it was given.
    bool titlesWhole() const { return m_titlesWhole; }
    void setTitlesWhole(bool on);
    int shownWidth(int column) const;
    // "FIELD=width" per column in the order shown: what the user made of the columns.
    QStringList columnLayout() const;
    // Applies such a list: its columns first, in its order and widths; a field the grid does
    // not show is skipped, a column the list lacks keeps its place after them.
    void setColumnLayout(const QStringList &layout);
    // As a drag of the title's edge, and of the title to another place (0 is the first shown).
    // False when the grid has no column of that field.
    Q_INVOKABLE bool resizeColumn(const QString &fieldName, int width);
    Q_INVOKABLE bool moveColumn(const QString &fieldName, int position);

    // The selected rows (the current one at least) as the user reads them: tab-separated
    // columns in the order shown, one line per row. "Copiar" puts it on the clipboard.
    Q_INVOKABLE QString selectedRowsText() const;
    Q_INVOKABLE void copyRows();
    // Titles and a row's texts as shown, columns in the order shown (what a printout lists).
    QStringList shownTitles() const;
    QStringList shownCells(int row) const;
    // The CSV lines of csv() without the byte-order mark, for a file of several tables.
    QString csvLines() const;
    // Every row under the titles as an HTML table, for a printout; "" without rows.
    QString htmlTable() const;
    // Every row, with the titles first, as pt-BR spreadsheets read CSV: UTF-8 with a byte-order
    // mark, ";" between columns, numbers as shown ("1.234,50").
    QByteArray csv() const;
    // Writes csv() to the file; a failure is shown as any handler's error, and gives false.
    Q_INVOKABLE bool exportCsv(const QString &path);
    // The columns' widths added up, and the grid's width that shows them all beside a
    // vertical scroll bar (rows come and go; the bar with them).
    int columnsWidth() const;
    int widthShowingColumns() const;

    Q_INVOKABLE QString cellText(int row, const QString &fieldName) const;
    // The picture component drawn in that cell the last time it was painted, or "".
    Q_INVOKABLE QString cellPicture(int row, const QString &fieldName) const;
    Q_INVOKABLE void titleClick(const QString &fieldName);
    Q_INVOKABLE void dblClick();
    // The title as painted: a symbol font the machine lacks shows the characters it stands for.
    QString titleDisplayText(int column) const;
    QFont titleDisplayFont(int column) const;

    // The painter of the cell being drawn; nullptr outside the draw handler.
    QPainter *canvas() const { return m_canvas; }
    // Draws the picture centred in the cell being drawn, its background colour transparent.
    void drawPicture(const QRect &rect, const Picture &picture, const QColor &transparent);

    // The desktop grids have no search by typing: a typed key, Space above all (screens mark
    // rows with it), never moves the current row.
    void keyboardSearch(const QString &search) override;

    NotifyEvent onDblClick;
    TitleClickEvent onTitleClick;

signals:
    // The user resized or moved a column.
    void columnLayoutChanged();

public:
    KeyEvent onKeyDown;
    DrawColumnCellEvent onDrawColumnCell;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;

private:
    friend class GridColumn;
    friend class GridDelegate;
    void reloadColumns();
    void applyColumnLayout();
    void followDataSet();
    void followCurrentRow();
    bool isCurrentAndSelected(const QModelIndex &index) const;
    void columnChanged();
    void paintedCell(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index);
    void reportOnce(std::exception_ptr error);
    void userResizedSection(int logical, int size);
    void userMovedSection();
    QList<int> shownOrder() const; // logical columns in the order shown
    void exportCsvAsked();

    DataSetModel *m_model;
    QPointer<DataSource> m_source;
    QList<QMetaObject::Connection> m_sourceConnections;
    QList<GridColumn *> m_columns;
    bool m_ownColumns = false; // columns given by the form, not taken from the dataset
    bool m_readOnly = true;
    bool m_colLines = true;
    bool m_rowLines = true;
    int m_defaultWidth = 64;
    int m_minimumWidth = 0; // the style's least column width
    bool m_following = false;
    bool m_moving = false; // the grid's own key or click is moving the dataset
    QPainter *m_canvas = nullptr;
    QRect m_cellRect;
    int m_drawRow = -1;
    int m_drawColumn = -1;
    bool m_drawSelected = false;
    QHash<quint64, QString> m_pictures; // (row, column) -> picture name
    bool m_reportPending = false;
    bool m_titlesWhole = false;
    bool m_layingOut = false;
    bool m_userResize = false;
    QList<int> m_order; // logical columns in the order the user gave; empty: as defined
};

// A cell as CSV and as pt-BR spreadsheets take it: quoted when it holds ";", quotes or line
// breaks; a text starting as a formula (= + - @) is kept as text.
ERPFWUI_EXPORT QString csvCell(const QString &text, bool isText);
// Writes the bytes whole or not at all; erp::Error names the file and the cause.
ERPFWUI_EXPORT void writeFileAtomically(const QString &path, const QByteArray &bytes);

// Draws the picture centred in the grid's cell being drawn (from its draw handler); the
// colour is the picture's background, which lets the cell show through.
ERPFWUI_EXPORT void InsereImagem(TDBGrid *grid, const QRect &rect, const Picture &picture, const QColor &colour);

// The text of a field of the data source's current row.
class ERPFWUI_EXPORT TDBText : public QLabel
{
    Q_OBJECT
    Q_PROPERTY(erp::DataSource *dataSource READ dataSource WRITE setDataSource)
    Q_PROPERTY(QString dataField READ dataField WRITE setDataField)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TDBText(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }

    DataSource *dataSource() const { return m_source; }
    void setDataSource(DataSource *source);
    QString dataField() const { return m_field; }
    void setDataField(const QString &field);

private:
    void refresh();
    QPointer<DataSource> m_source;
    QString m_field;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace erp
