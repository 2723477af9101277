#include "registry.h"

#include "form.h"

#include <erpfwui/widgets/controls.h>
#include <erpfwui/widgets/dbgrid.h>
#include <erpfwui/widgets/edits.h>
#include <erpfwui/widgets/menus.h>
#include <erpfwui/widgets/pages.h>

#include <erpfw/core/messages.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/data/datasource.h>
#include <erpfw/data/keylist.h>
#include <erpfw/db/adoibquery.h>
#include <erpfw/net/netconnection.h>

namespace erp {

void MethodRef::invoke(void **argv) const
{
    // Straight into the form's generated dispatcher, so the handler's exception travels only
    // through our own frames.
    if (m_target)
        m_target->qt_metacall(QMetaObject::InvokeMetaMethod, m_index, argv);
}

namespace {

// Dataset events hand the dataset itself; the handler takes it by pointer.
EventSpec dataSetEvent(ClientDataSet::Handler ClientDataSet::*member)
{
    return {{"erp::ClientDataSet*"}, [member](QObject *component, const MethodRef &method) {
                static_cast<ClientDataSet *>(component)->*member = [method](ClientDataSet &dataSet) {
                    ClientDataSet *sender = &dataSet;
                    void *argv[] = {nullptr, &sender};
                    method.invoke(argv);
                };
            }};
}

void focusable(ComponentRegistry &r, const QMetaObject *meta)
{
    r.registerEvent(meta, QStringLiteral("OnEnter"), notify(&FocusEvents::onEnter));
    r.registerEvent(meta, QStringLiteral("OnExit"), notify(&FocusEvents::onExit));
}

void registerContainers(ComponentRegistry &r)
{
    r.registerClass(QStringLiteral("TLabel"), &TLabel::staticMetaObject);
    r.registerClass(QStringLiteral("TImage"), &TImage::staticMetaObject);
    r.registerClass(QStringLiteral("TDBText"), &TDBText::staticMetaObject);
    for (const auto &[name, meta] : std::initializer_list<std::pair<const char *, const QMetaObject *>>{
             {"TPanel", &TPanel::staticMetaObject}, {"TGroupBox", &TGroupBox::staticMetaObject},
             {"TScrollBox", &TScrollBox::staticMetaObject}, {"TTabSheet", &TTabSheet::staticMetaObject}}) {
        r.registerClass(QString::fromLatin1(name), meta);
        focusable(r, meta);
    }
    r.registerClass(QStringLiteral("TPageControl"), &TPageControl::staticMetaObject);
    focusable(r, &TPageControl::staticMetaObject);
    r.registerEvent(&TPageControl::staticMetaObject, QStringLiteral("OnChange"), notify(&TPageControl::onChange));
}

void registerEdits(ComponentRegistry &r)
{
    r.registerClass(QStringLiteral("TEdit"), &TEdit::staticMetaObject);
    r.registerClass(QStringLiteral("TMaskEdit"), &TMaskEdit::staticMetaObject);
    r.registerClass(QStringLiteral("TDateEditPlus"), &TDateEditPlus::staticMetaObject);
    r.registerClass(QStringLiteral("TNumberEdit"), &TNumberEdit::staticMetaObject);
    const QMetaObject *edit = &EditBase::staticMetaObject;
    focusable(r, edit);
    r.registerEvent(edit, QStringLiteral("OnChange"), notify(&EditBase::onChange));
    r.registerEvent(edit, QStringLiteral("OnKeyPress"), eventOf(&EditBase::onKeyPress, {"QObject*", "QChar&"}));
    r.registerEvent(edit, QStringLiteral("OnKeyDown"), eventOf(&EditBase::onKeyDown, {"QObject*", "int&", "erp::ShiftState"}));
}

void registerButtons(ComponentRegistry &r)
{
    r.registerClass(QStringLiteral("TButtonFlat"), &TButtonFlat::staticMetaObject);
    r.registerEvent(&TButtonFlat::staticMetaObject, QStringLiteral("OnClick"), notify(&TButtonFlat::onClick));
    r.registerClass(QStringLiteral("TButton"), &TButton::staticMetaObject);
    focusable(r, &TButton::staticMetaObject);
    r.registerEvent(&TButton::staticMetaObject, QStringLiteral("OnClick"), notify(&TButton::onClick));
    r.registerClass(QStringLiteral("TCheckBox"), &TCheckBox::staticMetaObject);
    focusable(r, &TCheckBox::staticMetaObject);
    r.registerEvent(&TCheckBox::staticMetaObject, QStringLiteral("OnClick"), notify(&TCheckBox::onClick));
    r.registerClass(QStringLiteral("TRadioButton"), &TRadioButton::staticMetaObject);
    focusable(r, &TRadioButton::staticMetaObject);
    r.registerEvent(&TRadioButton::staticMetaObject, QStringLiteral("OnClick"), notify(&TRadioButton::onClick));
    r.registerClass(QStringLiteral("TRadioGroup"), &TRadioGroup::staticMetaObject);
    focusable(r, &TRadioGroup::staticMetaObject);
    r.registerEvent(&TRadioGroup::staticMetaObject, QStringLiteral("OnClick"), notify(&TRadioGroup::onClick));
    r.registerClass(QStringLiteral("TComboBox"), &TComboBox::staticMetaObject);
    focusable(r, &TComboBox::staticMetaObject);
    r.registerEvent(&TComboBox::staticMetaObject, QStringLiteral("OnClick"), notify(&TComboBox::onClick));
    r.registerEvent(&TComboBox::staticMetaObject, QStringLiteral("OnChange"), notify(&TComboBox::onChange));
}

void registerMenusAndGrid(ComponentRegistry &r)
{
    r.registerClass(QStringLiteral("TMainMenu"), &TMainMenu::staticMetaObject);
    r.registerClass(QStringLiteral("TPopupMenu"), &TPopupMenu::staticMetaObject);
    r.registerClass(QStringLiteral("TMenuItem"), &TMenuItem::staticMetaObject);
    r.registerEvent(&TMenuItem::staticMetaObject, QStringLiteral("OnClick"), notify(&TMenuItem::onClick));

    const QMetaObject *grid = &TDBGrid::staticMetaObject;
    r.registerClass(QStringLiteral("TDBGrid"), grid);
    focusable(r, grid);
    r.registerEvent(grid, QStringLiteral("OnDblClick"), notify(&TDBGrid::onDblClick));
    r.registerEvent(grid, QStringLiteral("OnTitleClick"), eventOf(&TDBGrid::onTitleClick, {"erp::GridColumn*"}));
    r.registerEvent(grid, QStringLiteral("OnKeyDown"), eventOf(&TDBGrid::onKeyDown, {"QObject*", "int&", "erp::ShiftState"}));
    r.registerEvent(grid, QStringLiteral("OnDrawColumnCell"),
                    eventOf(&TDBGrid::onDrawColumnCell, {"QObject*", "QRect", "int", "erp::GridColumn*", "erp::GridDrawState"}));
}

void registerDataComponents(ComponentRegistry &r)
{
    const QMetaObject *cds = &ClientDataSet::staticMetaObject;
    r.registerClass(QStringLiteral("TClientDataSet"), cds, [](QObject *parent) { return new ClientDataSet(parent); });
    const std::initializer_list<std::pair<const char *, ClientDataSet::Handler ClientDataSet::*>> dataSetEvents{
        {"BeforeOpen", &ClientDataSet::beforeOpen}, {"AfterOpen", &ClientDataSet::afterOpen},
        {"BeforeClose", &ClientDataSet::beforeClose}, {"AfterClose", &ClientDataSet::afterClose},
        {"BeforePost", &ClientDataSet::beforePost}, {"AfterPost", &ClientDataSet::afterPost},
        {"AfterCancel", &ClientDataSet::afterCancel}, {"BeforeScroll", &ClientDataSet::beforeScroll},
        {"AfterScroll", &ClientDataSet::afterScroll}, {"OnCalcFields", &ClientDataSet::onCalcFields}};
    for (const auto &[name, member] : dataSetEvents)
        r.registerEvent(cds, QString::fromLatin1(name), dataSetEvent(member));

    r.registerClass(QStringLiteral("TDataSource"), &DataSource::staticMetaObject,
                    [](QObject *parent) { return new DataSource(parent); });
    r.registerEvent(&DataSource::staticMetaObject, QStringLiteral("OnStateChange"),
                    {{"QObject*"}, [](QObject *component, const MethodRef &method) {
                         static_cast<DataSource *>(component)->onStateChange = [method](DataSource &source) {
                             QObject *sender = &source;
                             void *argv[] = {nullptr, &sender};
                             method.invoke(argv);
                         };
                     }});
    r.registerClass(QStringLiteral("TADOIBQuery"), &AdoIbQuery::staticMetaObject,
                    [](QObject *parent) { return new AdoIbQuery(parent); });
    r.registerClass(QStringLiteral("TKeyList"), &KeyList::staticMetaObject,
                    [](QObject *parent) { return new KeyList(parent); });
    r.registerClass(QStringLiteral("TMessages"), &Messages::staticMetaObject,
                    [](QObject *parent) { return new Messages(parent); });
    r.registerClass(QStringLiteral("TNetConnection"), &NetConnection::staticMetaObject,
                    [](QObject *parent) { return new NetConnection(parent); });
    r.registerEvent(&NetConnection::staticMetaObject, QStringLiteral("BeforeConnect"),
                    {{"QObject*"}, [](QObject *component, const MethodRef &method) {
                         static_cast<NetConnection *>(component)->beforeConnect = [method](NetConnection &connection) {
                             QObject *sender = &connection;
                             void *argv[] = {nullptr, &sender};
                             method.invoke(argv);
                         };
                     }});
}

void registerFormEvents(ComponentRegistry &r)
{
    const QMetaObject *form = &Form::staticMetaObject;
    r.registerEvent(form, QStringLiteral("OnCreate"), notify(&Form::onCreate));
    r.registerEvent(form, QStringLiteral("OnActivate"), notify(&Form::onActivate));
    r.registerEvent(form, QStringLiteral("OnShow"), notify(&Form::onShow));
    r.registerEvent(form, QStringLiteral("OnClose"), eventOf(&Form::onClose, {"QObject*", "erp::CloseAction&"}));
}

} // namespace

ComponentRegistry &ComponentRegistry::instance()
{
    static ComponentRegistry registry;
    return registry;
}

ComponentRegistry::ComponentRegistry()
{
    registerContainers(*this);
    registerEdits(*this);
    registerButtons(*this);
    registerMenusAndGrid(*this);
    registerDataComponents(*this);
    registerFormEvents(*this);
}

void ComponentRegistry::registerClass(const QString &className, const QMetaObject *meta, Factory factory)
{
    m_classes.insert(className, {meta, std::move(factory)});
}

void ComponentRegistry::registerEvent(const QMetaObject *meta, const QString &event, EventSpec binding)
{
    m_events[meta].insert(event, std::move(binding));
}

const QMetaObject *ComponentRegistry::metaObject(const QString &className) const
{
    auto it = m_classes.constFind(className);
    return it == m_classes.cend() ? nullptr : it->meta;
}

QObject *ComponentRegistry::create(const QString &className, QObject *parent) const
{
    auto it = m_classes.constFind(className);
    if (it == m_classes.cend())
        throw Error(QStringLiteral("Classe de componente desconhecida: %1").arg(className));
    if (it->factory)
        return it->factory(parent);
    QObject *made = nullptr;
    if (it->meta->inherits(&QWidget::staticMetaObject))
        made = it->meta->newInstance(Q_ARG(QWidget *, qobject_cast<QWidget *>(parent)));
    else
        made = it->meta->newInstance(Q_ARG(QObject *, parent));
    if (!made)
        throw Error(QStringLiteral("Não foi possível criar um %1.").arg(className));
    return made;
}

const EventSpec *ComponentRegistry::event(const QObject *component, const QString &event) const
{
    for (const QMetaObject *meta = component->metaObject(); meta; meta = meta->superClass()) {
        auto it = m_events.constFind(meta);
        if (it == m_events.cend())
            continue;
        auto found = it->constFind(event);
        if (found != it->cend())
            return &*found;
    }
    return nullptr;
}

} // namespace erp
