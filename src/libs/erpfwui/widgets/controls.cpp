#include "controls.h"

#include <erpfw/core/error.h>

#include <QAbstractItemView>
#include <QFile>
#include <QPainter>
#include <QStyle>

namespace erp {

namespace {

bool usesBaseRole(const QWidget *widget)
{
    return widget->inherits("QLineEdit") || widget->inherits("QAbstractItemView")
        || widget->inherits("QComboBox");
}

QPixmap loadPixmap(const QString &source)
{
    QPixmap pixmap;
    static const QString dataPrefix = QStringLiteral("data:");
    if (source.startsWith(dataPrefix)) {
        const qsizetype comma = source.indexOf(QLatin1Char(','));
        // Without ";base64" the data is text (an XPM picture kept readable in a form file).
        if (comma > 0) {
            const QByteArray data = source.mid(comma + 1).toUtf8();
            pixmap.loadFromData(source.left(comma).endsWith(QLatin1String(";base64")) ? QByteArray::fromBase64(data)
                                                                                       : QByteArray::fromPercentEncoding(data));
        }
    } else {
        pixmap.load(source);
    }
    return pixmap;
}

} // namespace

void setControlColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(usesBaseRole(widget) ? QPalette::Base : QPalette::Window, color);
    widget->setPalette(palette);
    if (!usesBaseRole(widget))
        widget->setAutoFillBackground(true);
}

QColor controlColor(const QWidget *widget)
{
    return widget->palette().color(usesBaseRole(widget) ? QPalette::Base : QPalette::Window);
}

void SetChildEnabled(QWidget *container, bool enabled)
{
    const auto children = container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *child : children)
        child->setEnabled(enabled);
}

TLabel::TLabel(QWidget *parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText); // a caption set from data must not be read as markup
}

TPanel::TPanel(QWidget *parent)
    : QFrame(parent)
{
    setBevelOuter(m_bevel);
}

void TPanel::setCaption(const QString &caption)
{
    m_caption = caption;
    update();
}

void TPanel::setBevelOuter(const QString &bevel)
{
    if (bevel == QLatin1String("bvNone")) {
        setFrameStyle(QFrame::NoFrame);
    } else if (bevel == QLatin1String("bvLowered")) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
    } else if (bevel == QLatin1String("bvRaised")) {
        setFrameStyle(QFrame::Panel | QFrame::Raised);
    } else {
        throw Error(QStringLiteral("Borda de painel desconhecida em %1: \"%2\" (use bvNone, bvRaised ou bvLowered).")
                        .arg(objectName(), bevel));
    }
    m_bevel = bevel;
}

void TPanel::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (m_caption.isEmpty())
        return;
    QPainter painter(this);
    painter.drawText(contentsRect(), Qt::AlignCenter, m_caption);
}

TGroupBox::TGroupBox(QWidget *parent)
    : QGroupBox(parent)
{
}

TScrollBox::TScrollBox(QWidget *parent)
    : QScrollArea(parent)
{
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("qt_scrollbox_content"));
    setWidget(content);
    setWidgetResizable(true);
}

TImage::TImage(QWidget *parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
}

void TImage::setSource(const QString &source)
{
    QPixmap pixmap = loadPixmap(source);
    if (pixmap.isNull())
        throw Error(QStringLiteral("Não foi possível ler a imagem de %1: %2")
                        .arg(objectName(), source.left(80)));
    m_source = source;
    setPicture(pixmap);
}

void TImage::setPicture(const QPixmap &pixmap)
{
    m_pixmap = pixmap;
    setPixmap(pixmap);
}

TButtonFlat::TButtonFlat(QWidget *parent)
    : QToolButton(parent)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    connect(this, &QToolButton::clicked, this, [this] { dispatch([this] { fire(onClick, this); }); });
}

void TButtonFlat::setGlyph(const QString &source)
{
    m_glyph = source;
    updateIcon();
}

void TButtonFlat::setNumGlyphs(int count)
{
    m_numGlyphs = qBound(1, count, 4);
    updateIcon();
}

void TButtonFlat::updateIcon()
{
    if (m_glyph.isEmpty()) {
        setIcon(QIcon());
        return;
    }
    const QPixmap all = loadPixmap(m_glyph);
    if (all.isNull())
        throw Error(QStringLiteral("Não foi possível ler o desenho do botão %1: %2")
                        .arg(objectName(), m_glyph.left(80)));
    const int width = all.width() / m_numGlyphs;
    QIcon icon;
    icon.addPixmap(all.copy(0, 0, width, all.height()), QIcon::Normal);
    if (m_numGlyphs > 1)
        icon.addPixmap(all.copy(width, 0, width, all.height()), QIcon::Disabled);
    setIcon(icon);
    setIconSize(QSize(width, all.height()));
}

TButton::TButton(QWidget *parent)
    : QPushButton(parent)
{
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] {
        if (!dispatch([this] { fire(onClick, this); }) || m_modalResult == 0)
            return;
        // The form that holds the button ends its modal loop with the button's result.
        for (QWidget *w = parentWidget(); w; w = w->parentWidget()) {
            if (w->metaObject()->indexOfProperty("modalResult") >= 0) {
                w->setProperty("modalResult", m_modalResult);
                return;
            }
        }
    });
}

TCheckBox::TCheckBox(QWidget *parent)
    : QCheckBox(parent)
{
    connect(this, &QCheckBox::clicked, this, [this] { dispatch([this] { fire(onClick, this); }); });
}

TRadioButton::TRadioButton(QWidget *parent)
    : QRadioButton(parent)
{
    // The group is the parent's radio buttons, kept by check(), not by Qt.
    setAutoExclusive(false);
    connect(this, &QRadioButton::clicked, this, [this] { userClicked(); });
}

void TRadioButton::setChecked(bool checked)
{
    if (checked == isChecked())
        return;
    if (!checked) {
        QRadioButton::setChecked(false);
        return;
    }
    check();
    fire(onClick, this);
}

void TRadioButton::check()
{
    if (QWidget *group = parentWidget()) {
        const auto siblings = group->findChildren<TRadioButton *>(Qt::FindDirectChildrenOnly);
        for (TRadioButton *other : siblings)
            if (other != this)
                other->QRadioButton::setChecked(false);
    }
    QRadioButton::setChecked(true);
}

void TRadioButton::nextCheckState()
{
    // A click checks; it never unchecks a radio button.
    m_changedByClick = !isChecked();
    if (m_changedByClick)
        check();
}

void TRadioButton::userClicked()
{
    if (std::exchange(m_changedByClick, false))
        dispatch([this] { fire(onClick, this); });
}

TRadioGroup::TRadioGroup(QWidget *parent)
    : QGroupBox(parent)
{
}

void TRadioGroup::setItems(const QStringList &items)
{
    qDeleteAll(m_buttons);
    m_buttons.clear();
    m_items = items;
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items[i], this);
        button->setAutoExclusive(false);
        button->show();
        connect(button, &QRadioButton::clicked, this, [this, i] { select(i); });
        m_buttons.append(button);
    }
    if (m_index >= items.size())
        m_index = -1;
    setItemIndex(m_index);
    arrange();
}

void TRadioGroup::setItemIndex(int index)
{
    m_index = index >= 0 && index < m_buttons.size() ? index : -1;
    for (int i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->setChecked(i == m_index);
}

void TRadioGroup::setColumns(int columns)
{
    m_columns = qMax(1, columns);
    arrange();
}

void TRadioGroup::select(int index)
{
    const bool changed = index != m_index;
    setItemIndex(index);
    if (changed && m_index >= 0)
        dispatch([this] { fire(onClick, this); });
}

void TRadioGroup::resizeEvent(QResizeEvent *event)
{
    QGroupBox::resizeEvent(event);
    arrange();
}

void TRadioGroup::arrange()
{
    if (m_buttons.isEmpty())
        return;
    const QRect area = contentsRect().adjusted(6, 0, -4, -2);
    const int rows = int((m_buttons.size() + m_columns - 1) / m_columns);
    const int rowHeight = qMax(area.height() / qMax(rows, 1), 1);
    const int columnWidth = area.width() / m_columns;
    for (int i = 0; i < m_buttons.size(); ++i) {
        const int column = i / rows;
        const int row = i % rows;
        const int height = qMin(rowHeight, m_buttons[i]->sizeHint().height() + 4);
        m_buttons[i]->setGeometry(area.left() + column * columnWidth,
                                  area.top() + row * rowHeight + (rowHeight - height) / 2,
                                  columnWidth, height);
    }
}

TComboBox::TComboBox(QWidget *parent)
    : QComboBox(parent)
{
    setEditable(false);
    connect(this, &QComboBox::activated, this, [this] {
        dispatch([this] {
            fire(onChange, this);
            fire(onClick, this);
        });
    });
}

QStringList TComboBox::items() const
{
    QStringList list;
    for (int i = 0; i < count(); ++i)
        list.append(itemText(i));
    return list;
}

void TComboBox::setItems(const QStringList &items)
{
    const int index = currentIndex();
    clear();
    addItems(items);
    setCurrentIndex(index < items.size() ? index : -1);
}

void TComboBox::setItemIndex(int index)
{
    setCurrentIndex(index >= 0 && index < count() ? index : -1);
}

void TComboBox::select(int index)
{
    if (index < 0 || index >= count())
        throw Error(QStringLiteral("%1 não tem o item %2.").arg(objectName()).arg(index));
    setCurrentIndex(index);
    dispatch([this] {
        fire(onChange, this);
        fire(onClick, this);
    });
}

} // namespace erp
