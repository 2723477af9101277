#include "formloader.h"

#include "form.h"
#include "registry.h"

#include <erpfwui/widgets/alignlayout.h>
#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/core/error.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/field.h>
#include <erpfw/db/adoibquery.h>

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QPalette>
#include <QSet>

#include <algorithm>

namespace erp {

namespace {

const QString kFormsPrefix = QStringLiteral(":/forms/");

QString className(const QMetaObject *meta)
{
    const QString full = QString::fromLatin1(meta->className());
    return full.mid(full.lastIndexOf(QLatin1Char(':')) + 1);
}

QJsonObject readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Formulário %1: não foi possível abrir (%2).").arg(path, file.errorString()));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw Error(QStringLiteral("Formulário %1: JSON inválido na posição %2: %3.")
                        .arg(path).arg(parseError.offset).arg(parseError.errorString()));
    if (!document.isObject())
        throw Error(QStringLiteral("Formulário %1: o conteúdo deve ser um objeto JSON.").arg(path));
    return document.object();
}

QString basePath(const QString &base, const QString &derivedPath)
{
    if (!derivedPath.startsWith(QLatin1Char(':'))) {
        const QString beside = QFileInfo(derivedPath).dir().filePath(base + QStringLiteral(".json"));
        if (QFileInfo::exists(beside))
            return beside;
    }
    const QString resource = kFormsPrefix + base + QStringLiteral(".json");
    if (QFileInfo::exists(resource))
        return resource;
    throw Error(QStringLiteral("Formulário %1: o formulário base %2 não foi encontrado.").arg(derivedPath, base));
}

QJsonObject mergeObjects(QJsonObject base, const QJsonObject &over)
{
    for (auto it = over.begin(); it != over.end(); ++it)
        base.insert(it.key(), it.value());
    return base;
}

QJsonObject mergeComponent(const QJsonObject &base, const QJsonObject &over, const QString &path)
{
    const QString name = base.value(QStringLiteral("name")).toString();
    if (over.contains(QStringLiteral("class")) && over.value(QStringLiteral("class")) != base.value(QStringLiteral("class")))
        throw Error(QStringLiteral("Formulário %1: %2 já é um %3 no formulário base e não pode mudar de classe.")
                        .arg(path, name, base.value(QStringLiteral("class")).toString()));
    QJsonObject merged = base;
    for (auto it = over.begin(); it != over.end(); ++it) {
        const QString key = it.key();
        if (key == QLatin1String("properties") || key == QLatin1String("events"))
            merged.insert(key, mergeObjects(base.value(key).toObject(), it.value().toObject()));
        else
            merged.insert(key, it.value());
    }
    return merged;
}

QJsonObject mergeForms(const QJsonObject &base, const QJsonObject &derived, const QString &path)
{
    QJsonObject merged = base;
    for (auto it = derived.begin(); it != derived.end(); ++it) {
        const QString key = it.key();
        if (key == QLatin1String("components") || key == QLatin1String("inherits"))
            continue;
        if (key == QLatin1String("events") || key == QLatin1String("properties"))
            merged.insert(key, mergeObjects(base.value(key).toObject(), it.value().toObject()));
        else
            merged.insert(key, it.value());
    }
    QJsonArray components = base.value(QStringLiteral("components")).toArray();
    QHash<QString, int> index;
    for (int i = 0; i < components.size(); ++i)
        index.insert(components[i].toObject().value(QStringLiteral("name")).toString(), i);
    for (const QJsonValue &value : derived.value(QStringLiteral("components")).toArray()) {
        const QJsonObject component = value.toObject();
        const QString name = component.value(QStringLiteral("name")).toString();
        auto found = index.constFind(name);
        if (found != index.cend()) {
            components[*found] = mergeComponent(components[*found].toObject(), component, path);
        } else {
            index.insert(name, int(components.size()));
            components.append(component);
        }
    }
    merged.insert(QStringLiteral("components"), components);
    QJsonArray chain = base.value(QStringLiteral("classChain")).toArray();
    chain.append(derived.value(QStringLiteral("class")));
    merged.insert(QStringLiteral("classChain"), chain);
    return merged;
}

QString stripNamespace(QByteArray type)
{
    return QString::fromLatin1(type.replace("erp::", ""));
}

QColor colorFrom(const QString &name)
{
    static const QHash<QString, QColor> fixed{
        {QStringLiteral("clBlack"), QColor(0, 0, 0)},       {QStringLiteral("clMaroon"), QColor(128, 0, 0)},
        {QStringLiteral("clGreen"), QColor(0, 128, 0)},     {QStringLiteral("clOlive"), QColor(128, 128, 0)},
        {QStringLiteral("clNavy"), QColor(0, 0, 128)},      {QStringLiteral("clPurple"), QColor(128, 0, 128)},
        {QStringLiteral("clTeal"), QColor(0, 128, 128)},    {QStringLiteral("clGray"), QColor(128, 128, 128)},
        {QStringLiteral("clSilver"), QColor(192, 192, 192)}, {QStringLiteral("clRed"), QColor(255, 0, 0)},
        {QStringLiteral("clLime"), QColor(0, 255, 0)},      {QStringLiteral("clYellow"), QColor(255, 255, 0)},
        {QStringLiteral("clBlue"), QColor(0, 0, 255)},      {QStringLiteral("clFuchsia"), QColor(255, 0, 255)},
        {QStringLiteral("clAqua"), QColor(0, 255, 255)},    {QStringLiteral("clWhite"), QColor(255, 255, 255)},
    };
    static const QHash<QString, QPalette::ColorRole> system{
        {QStringLiteral("clBtnFace"), QPalette::Button},         {QStringLiteral("clWindow"), QPalette::Base},
        {QStringLiteral("clWindowText"), QPalette::Text},         {QStringLiteral("clInfoBk"), QPalette::ToolTipBase},
        {QStringLiteral("clInfoText"), QPalette::ToolTipText},    {QStringLiteral("clHighlight"), QPalette::Highlight},
        {QStringLiteral("clHighlightText"), QPalette::HighlightedText}, {QStringLiteral("clBtnText"), QPalette::ButtonText},
    };
    if (auto it = fixed.constFind(name); it != fixed.cend())
        return *it;
    if (auto it = system.constFind(name); it != system.cend())
        return QApplication::palette().color(*it);
    const QColor color(name);
    if (!color.isValid())
        throw Error(QStringLiteral("cor desconhecida \"%1\"").arg(name));
    return color;
}

QFont fontFrom(const QJsonObject &def)
{
    QFont font = QApplication::font();
    for (auto it = def.begin(); it != def.end(); ++it) {
        const QString key = it.key();
        if (key == QLatin1String("name"))
            font.setFamily(it.value().toString());
        else if (key == QLatin1String("size"))
            font.setPointSize(it.value().toInt());
        else if (key == QLatin1String("height")) // negative: character height in pixels at 96 dpi
            font.setPointSize(qMax(1, qRound(qAbs(it.value().toDouble()) * 72.0 / 96.0)));
        else if (key == QLatin1String("bold"))
            font.setBold(it.value().toBool());
        else if (key == QLatin1String("italic"))
            font.setItalic(it.value().toBool());
        else if (key == QLatin1String("underline"))
            font.setUnderline(it.value().toBool());
        else if (key != QLatin1String("charset") && key != QLatin1String("color"))
            throw Error(QStringLiteral("fonte com a chave desconhecida \"%1\"").arg(key));
    }
    return font;
}

Qt::Alignment alignmentFrom(const QString &name)
{
    if (name == QLatin1String("left") || name == QLatin1String("taLeftJustify"))
        return Qt::AlignLeft;
    if (name == QLatin1String("right") || name == QLatin1String("taRightJustify"))
        return Qt::AlignRight;
    if (name == QLatin1String("center") || name == QLatin1String("taCenter"))
        return Qt::AlignHCenter;
    throw Error(QStringLiteral("alinhamento desconhecido \"%1\" (left, right ou center)").arg(name));
}

QString textFrom(const QJsonValue &value)
{
    if (value.isArray()) {
        QStringList lines;
        for (const QJsonValue &line : value.toArray())
            lines.append(line.toString());
        return lines.join(QLatin1Char('\n'));
    }
    if (!value.isString())
        throw Error(QStringLiteral("esperava um texto"));
    return value.toString();
}

// Builds one form from its resolved description.
class Builder
{
public:
    Builder(Form *form, QString path) : m_form(form), m_path(std::move(path)), m_registry(ComponentRegistry::instance()) {}

    void build(const QJsonObject &description)
    {
        checkClass(description);
        const QString name = description.value(QStringLiteral("name")).toString();
        if (name.isEmpty())
            fail(QString(), QStringLiteral("o formulário precisa de um nome"));
        m_form->setObjectName(name);
        m_objects.insert(name, m_form);
        for (auto it = description.begin(); it != description.end(); ++it) {
            const QString key = it.key();
            if (key == QLatin1String("caption"))
                m_form->setWindowTitle(it.value().toString());
            else if (key != QLatin1String("class") && key != QLatin1String("name") && key != QLatin1String("width")
                     && key != QLatin1String("height") && key != QLatin1String("properties") && key != QLatin1String("events")
                     && key != QLatin1String("components") && key != QLatin1String("classChain"))
                fail(QString(), QStringLiteral("chave desconhecida \"%1\"").arg(key));
        }
        m_form->resize(description.value(QStringLiteral("width")).toInt(m_form->width()),
                       description.value(QStringLiteral("height")).toInt(m_form->height()));
        AlignLayout::of(m_form);

        const QJsonArray components = description.value(QStringLiteral("components")).toArray();
        for (const QJsonValue &value : components)
            create(value.toObject());
        for (const QJsonValue &value : components)
            configure(value.toObject());
        setProperties(m_form, QString(), description.value(QStringLiteral("properties")).toObject());

        for (const QJsonValue &value : components) {
            const QJsonObject def = value.toObject();
            const QString component = def.value(QStringLiteral("name")).toString();
            bindEvents(m_objects.value(component), component, def.value(QStringLiteral("events")).toObject());
        }
        bindEvents(m_form, name, description.value(QStringLiteral("events")).toObject());
        checkUnbound();
    }

private:
    [[noreturn]] void fail(const QString &component, const QString &message) const
    {
        if (component.isEmpty())
            throw Error(QStringLiteral("Formulário %1: %2.").arg(m_path, message));
        throw Error(QStringLiteral("Formulário %1, componente %2: %3.").arg(m_path, component, message));
    }

    void checkClass(const QJsonObject &description) const
    {
        const QString wanted = description.value(QStringLiteral("class")).toString();
        for (const QMetaObject *meta = m_form->metaObject(); meta; meta = meta->superClass())
            if (className(meta) == wanted)
                return;
        fail(QString(), QStringLiteral("descreve a classe %1, mas o formulário é um %2")
                            .arg(wanted, className(m_form->metaObject())));
    }

    void create(const QJsonObject &def)
    {
        static const QSet<QString> keys{QStringLiteral("class"), QStringLiteral("name"), QStringLiteral("parent"),
                                        QStringLiteral("left"), QStringLiteral("top"), QStringLiteral("width"),
                                        QStringLiteral("height"), QStringLiteral("align"), QStringLiteral("properties"),
                                        QStringLiteral("events"), QStringLiteral("columns"), QStringLiteral("fields"),
                                        QStringLiteral("params")};
        const QString name = def.value(QStringLiteral("name")).toString();
        const QString cls = def.value(QStringLiteral("class")).toString();
        if (name.isEmpty())
            fail(QString(), QStringLiteral("um componente %1 não tem nome").arg(cls));
        if (m_objects.contains(name))
            fail(name, QStringLiteral("nome repetido"));
        for (auto it = def.begin(); it != def.end(); ++it)
            if (!keys.contains(it.key()))
                fail(name, QStringLiteral("chave desconhecida \"%1\"").arg(it.key()));
        if (!m_registry.contains(cls))
            fail(name, QStringLiteral("classe desconhecida \"%1\"").arg(cls));

        const QString parentName = def.value(QStringLiteral("parent")).toString();
        QObject *parent = parentName.isEmpty() ? m_form : m_objects.value(parentName);
        if (!parent)
            fail(name, QStringLiteral("o pai %1 não existe (ou vem depois dele)").arg(parentName));

        const QMetaObject *meta = m_registry.metaObject(cls);
        const bool visual = meta->inherits(&QWidget::staticMetaObject) && !meta->inherits(&QMenu::staticMetaObject)
                            && !meta->inherits(&QMenuBar::staticMetaObject);
        QObject *object = nullptr;
        try {
            object = m_registry.create(cls, visual ? containerOf(parent, name, cls) : static_cast<QObject *>(m_form));
        } catch (const Error &e) {
            fail(name, e.message());
        }
        object->setObjectName(name);
        m_objects.insert(name, object);
        place(object, parent, def, name);
    }

    QWidget *containerOf(QObject *parent, const QString &name, const QString &cls) const
    {
        if (auto *scroll = qobject_cast<TScrollBox *>(parent))
            return scroll->contentWidget();
        if (qobject_cast<TPageControl *>(parent)) {
            if (cls != QLatin1String("TTabSheet"))
                fail(name, QStringLiteral("um controle de páginas só contém páginas (TTabSheet)"));
            return qobject_cast<QWidget *>(parent);
        }
        auto *widget = qobject_cast<QWidget *>(parent);
        if (!widget || qobject_cast<QMenu *>(parent) || qobject_cast<QMenuBar *>(parent))
            fail(name, QStringLiteral("o pai %1 não contém controles").arg(parent->objectName()));
        return widget;
    }

    void place(QObject *object, QObject *parent, const QJsonObject &def, const QString &name)
    {
        if (auto *item = qobject_cast<TMenuItem *>(object)) {
            if (auto *bar = qobject_cast<TMainMenu *>(parent))
                bar->addItem(item);
            else if (auto *popup = qobject_cast<TPopupMenu *>(parent))
                popup->addItem(item);
            else if (auto *owner = qobject_cast<TMenuItem *>(parent))
                owner->addItem(item);
            else
                fail(name, QStringLiteral("um item de menu fica num menu ou noutro item"));
            item->attach(m_form);
            return;
        }
        if (auto *bar = qobject_cast<TMainMenu *>(object)) {
            if (parent != m_form)
                fail(name, QStringLiteral("o menu principal pertence ao formulário"));
            bar->setParent(m_form);
            AlignLayout::of(m_form)->setMenuBar(bar);
            return;
        }
        if (qobject_cast<TPopupMenu *>(object))
            return;
        auto *widget = qobject_cast<QWidget *>(object);
        if (!widget)
            return;
        if (auto *sheet = qobject_cast<TTabSheet *>(widget)) {
            auto *pages = qobject_cast<TPageControl *>(parent);
            if (!pages)
                fail(name, QStringLiteral("uma página (TTabSheet) fica num controle de páginas"));
            pages->addPage(sheet);
            return;
        }
        QRect geometry = widget->geometry();
        geometry.moveLeft(def.value(QStringLiteral("left")).toInt(0));
        geometry.moveTop(def.value(QStringLiteral("top")).toInt(0));
        geometry.setWidth(def.value(QStringLiteral("width")).toInt(widget->sizeHint().width()));
        geometry.setHeight(def.value(QStringLiteral("height")).toInt(widget->sizeHint().height()));
        widget->setGeometry(geometry);
        bool ok = true;
        const QString alignName = def.value(QStringLiteral("align")).toString(QStringLiteral("alNone"));
        const AlignLayout::Align align = AlignLayout::alignFromName(alignName, &ok);
        if (!ok)
            fail(name, QStringLiteral("alinhamento desconhecido \"%1\"").arg(alignName));
        AlignLayout::of(widget->parentWidget())->addWidget(widget, align);
    }

    void configure(const QJsonObject &def)
    {
        const QString name = def.value(QStringLiteral("name")).toString();
        QObject *object = m_objects.value(name);
        if (def.contains(QStringLiteral("fields")))
            defineFields(object, name, def.value(QStringLiteral("fields")).toArray());
        setProperties(object, name, def.value(QStringLiteral("properties")).toObject());
        if (def.contains(QStringLiteral("columns")))
            defineColumns(object, name, def.value(QStringLiteral("columns")).toArray());
        if (def.contains(QStringLiteral("params")))
            defineParams(object, name, def.value(QStringLiteral("params")).toArray());
    }

    void setProperties(QObject *object, const QString &name, const QJsonObject &properties)
    {
        // JSON objects come sorted by key: the lists and masks that other values refer to
        // ("itemIndex" to "items") go first.
        QStringList keys = properties.keys();
        std::stable_partition(keys.begin(), keys.end(), [](const QString &key) {
            return key == QLatin1String("items") || key == QLatin1String("editMask");
        });
        for (const QString &key : std::as_const(keys)) {
            const auto it = properties.constFind(key);
            const int index = object->metaObject()->indexOfProperty(it.key().toLatin1().constData());
            if (index < 0)
                fail(name, QStringLiteral("propriedade desconhecida \"%1\"").arg(it.key()));
            const QMetaProperty property = object->metaObject()->property(index);
            if (!property.isWritable())
                fail(name, QStringLiteral("a propriedade \"%1\" não pode ser escrita").arg(it.key()));
            try {
                if (!property.write(object, convert(property, it.value())))
                    fail(name, QStringLiteral("valor inválido para \"%1\"").arg(it.key()));
            } catch (const Error &e) {
                if (e.message().startsWith(QStringLiteral("Formulário ")))
                    throw;
                fail(name, QStringLiteral("propriedade \"%1\": %2").arg(it.key(), e.message()));
            }
        }
    }

    QVariant convert(const QMetaProperty &property, const QJsonValue &value) const
    {
        const QMetaType type = property.metaType();
        if (type.flags() & QMetaType::PointerToQObject) {
            const QString target = value.toString();
            QObject *object = target.isEmpty() ? nullptr : m_objects.value(target);
            if (!target.isEmpty() && !object)
                throw Error(QStringLiteral("o componente %1 não existe").arg(target));
            // A query stands for its rows where a dataset is wanted (a data source's dataSet).
            if (auto *query = qobject_cast<AdoIbQuery *>(object);
                query && type.metaObject() && type.metaObject()->inherits(&ClientDataSet::staticMetaObject))
                object = query->query();
            if (object && type.metaObject() && !object->metaObject()->inherits(type.metaObject()))
                throw Error(QStringLiteral("%1 não é um %2").arg(target, QString::fromLatin1(type.metaObject()->className())));
            return QVariant(type, &object);
        }
        if (property.isEnumType() && !property.isFlagType()) {
            bool ok = false;
            const int key = property.enumerator().keyToValue(value.toString().toLatin1().constData(), &ok);
            if (!ok)
                throw Error(QStringLiteral("valor desconhecido \"%1\"").arg(value.toString()));
            return key;
        }
        switch (type.id()) {
        case QMetaType::QString:
            return textFrom(value);
        case QMetaType::QStringList: {
            if (value.isString())
                return value.toString().split(QLatin1Char('\n'));
            QStringList list;
            for (const QJsonValue &item : value.toArray())
                list.append(item.toString());
            return list;
        }
        case QMetaType::Bool:
            if (!value.isBool())
                throw Error(QStringLiteral("esperava true ou false"));
            return value.toBool();
        case QMetaType::Int:
            if (!value.isDouble())
                throw Error(QStringLiteral("esperava um número inteiro"));
            return value.toInt();
        case QMetaType::Double:
            if (!value.isDouble())
                throw Error(QStringLiteral("esperava um número"));
            return value.toDouble();
        case QMetaType::QColor:
            return colorFrom(value.toString());
        case QMetaType::QFont:
            return fontFrom(value.toObject());
        default:
            break;
        }
        if (type == QMetaType::fromType<Qt::Alignment>())
            return QVariant::fromValue(alignmentFrom(value.toString()));
        QVariant variant = value.toVariant();
        if (!variant.convert(type))
            throw Error(QStringLiteral("não sei converter o valor para %1").arg(QString::fromLatin1(type.name())));
        return variant;
    }

    void defineFields(QObject *object, const QString &name, const QJsonArray &fields)
    {
        ClientDataSet *dataSet = qobject_cast<ClientDataSet *>(object);
        if (auto *query = qobject_cast<AdoIbQuery *>(object))
            dataSet = query->query();
        if (!dataSet)
            fail(name, QStringLiteral("só conjuntos de dados e consultas têm campos"));
        for (const QJsonValue &value : fields) {
            const QJsonObject def = value.toObject();
            const QString fieldName = def.value(QStringLiteral("name")).toString();
            const auto type = wire::fieldTypeFromName(def.value(QStringLiteral("type")).toString());
            if (!type)
                fail(name, QStringLiteral("campo %1: tipo desconhecido \"%2\"").arg(fieldName, def.value(QStringLiteral("type")).toString()));
            Field *field = nullptr;
            try {
                const int size = def.value(QStringLiteral("size")).toInt(0);
                field = def.value(QStringLiteral("calculated")).toBool() ? dataSet->addCalculatedField(fieldName, *type, size)
                                                                          : dataSet->addField(fieldName, *type, size);
                QJsonObject properties = def;
                for (const char *key : {"name", "type", "size", "calculated", "getText"})
                    properties.remove(QLatin1String(key));
                if (properties.contains(QStringLiteral("label")))
                    properties.insert(QStringLiteral("displayLabel"), properties.take(QStringLiteral("label")));
                setProperties(field, name + QLatin1Char('.') + fieldName, properties);
            } catch (const Error &e) {
                if (e.message().startsWith(QStringLiteral("Formulário ")))
                    throw;
                fail(name, QStringLiteral("campo %1: %2").arg(fieldName, e.message()));
            }
            const QString handler = def.value(QStringLiteral("getText")).toString();
            if (!handler.isEmpty())
                m_getText.append({field, handler, name + QLatin1Char('.') + fieldName});
        }
    }

    void defineColumns(QObject *object, const QString &name, const QJsonArray &columns)
    {
        auto *grid = qobject_cast<TDBGrid *>(object);
        if (!grid)
            fail(name, QStringLiteral("só grades têm colunas"));
        for (const QJsonValue &value : columns) {
            QJsonObject def = value.toObject();
            GridColumn *column = grid->addColumn(def.take(QStringLiteral("field")).toString());
            if (def.contains(QStringLiteral("field")))
                def.remove(QStringLiteral("field"));
            setProperties(column, name + QStringLiteral(" coluna ") + column->fieldName(), def);
        }
    }

    void defineParams(QObject *object, const QString &name, const QJsonArray &params)
    {
        auto *query = qobject_cast<AdoIbQuery *>(object);
        if (!query)
            fail(name, QStringLiteral("só consultas têm parâmetros"));
        for (const QJsonValue &value : params) {
            const QJsonObject def = value.toObject();
            try {
                QueryParam *param = query->paramByName(def.value(QStringLiteral("name")).toString());
                if (def.contains(QStringLiteral("value")))
                    param->setValue(def.value(QStringLiteral("value")).toVariant());
            } catch (const Error &e) {
                fail(name, e.message());
            }
        }
    }

    int methodIndex(const QString &handler) const
    {
        const QMetaObject *meta = m_form->metaObject();
        const QByteArray wanted = handler.toLatin1();
        for (int i = meta->methodCount() - 1; i >= meta->methodOffset() || i >= 0; --i) {
            const QMetaMethod method = meta->method(i);
            if (method.name() == wanted && method.methodType() != QMetaMethod::Constructor)
                return i;
        }
        return -1;
    }

    MethodRef method(const QString &handler, const QByteArrayList &types, const QString &component, const QString &event)
    {
        const int index = methodIndex(handler);
        if (index < 0)
            fail(component, QStringLiteral("o evento %1 chama %2, que a classe %3 não tem")
                                .arg(event, handler, className(m_form->metaObject())));
        const QMetaMethod found = m_form->metaObject()->method(index);
        QStringList expected;
        for (const QByteArray &t : types)
            expected.append(stripNamespace(t));
        QStringList actual;
        for (const QByteArray &t : found.parameterTypes())
            actual.append(stripNamespace(t));
        if (expected != actual || found.returnMetaType().id() != QMetaType::Void)
            fail(component, QStringLiteral("o evento %1 espera %2(%3), mas a classe tem %4(%5)")
                                .arg(event, handler, expected.join(QStringLiteral(", ")), handler,
                                     actual.join(QStringLiteral(", "))));
        m_bound.insert(handler);
        return MethodRef(m_form, index);
    }

    void bindEvents(QObject *object, const QString &name, const QJsonObject &events)
    {
        for (auto it = events.begin(); it != events.end(); ++it) {
            const EventSpec *def = m_registry.event(object, it.key());
            if (!def)
                fail(name, QStringLiteral("a classe %1 não tem o evento %2").arg(className(object->metaObject()), it.key()));
            const QString handler = it.value().toString();
            if (handler.isEmpty())
                continue;
            def->install(object, method(handler, def->parameterTypes, name, it.key()));
        }
        if (object != m_form)
            return;
        for (const auto &[field, handler, where] : std::as_const(m_getText)) {
            const MethodRef ref = method(handler, {"erp::Field*", "QString&", "bool"}, where, QStringLiteral("getText"));
            field->onGetText = [ref](Field &sender, QString &text, bool displayText) {
                Field *senderPtr = &sender;
                void *argv[] = {nullptr, &senderPtr, &text, &displayText};
                ref.invoke(argv);
            };
        }
    }

    void checkUnbound() const
    {
        QStringList unbound;
        const QMetaObject *meta = m_form->metaObject();
        for (int i = 0; i < meta->methodCount(); ++i) {
            const QMetaMethod m = meta->method(i);
            const QString name = QString::fromLatin1(m.name());
            if (QByteArray(m.tag()) == "ERP_HANDLER" && !m_bound.contains(name) && !unbound.contains(name))
                unbound.append(name);
        }
        if (!unbound.isEmpty())
            fail(QString(), QStringLiteral("a classe %1 tem manipuladores que nenhum evento chama: %2")
                                .arg(className(meta), unbound.join(QStringLiteral(", "))));
    }

    struct GetText
    {
        Field *field;
        QString handler;
        QString where;
    };

    Form *m_form;
    QString m_path;
    ComponentRegistry &m_registry;
    QHash<QString, QObject *> m_objects;
    QSet<QString> m_bound;
    QList<GetText> m_getText;
};

} // namespace

QString FormLoader::defaultPath(const QMetaObject *meta)
{
    return kFormsPrefix + className(meta) + QStringLiteral(".json");
}

QJsonObject FormLoader::resolve(const QString &path)
{
    QJsonObject description = readFile(path);
    const QString base = description.value(QStringLiteral("inherits")).toString();
    if (base.isEmpty()) {
        description.insert(QStringLiteral("classChain"), QJsonArray{description.value(QStringLiteral("class"))});
        return description;
    }
    return mergeForms(resolve(basePath(base, path)), description, path);
}

void FormLoader::load(Form *form, const QString &path)
{
    Builder(form, path).build(resolve(path));
}

} // namespace erp
