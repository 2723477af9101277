#include "registry.h"

#include "form.h"

#include <erpfwui/screens/btnpesquisa.h>
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

template <typename... Args>
std::function<void(Args...)> caller(const MethodRef &method)
{
    return [method](Args... args) {
        void *argv[] = {nullptr, const_cast<void *>(static_cast<const void *>(std::addressof(args)))...};
        method.invoke(argv);
    };
}

template <class C, typename... Args>
EventSpec eventOf(std::function<void(Args...)> C::*member, QByteArrayList types)
{
    return {std::move(types), [member](QObject *component, const MethodRef &method) {
                dynamic_cast<C &>(*component).*member = caller<Args...>(method);
            }};
}

template <class C>
EventSpec notify(NotifyEvent C::*member)
{
    return eventOf(member, {"QObject*"});
}

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

} // namespace

ComponentRegistry &ComponentRegistry::instance()
{
    static ComponentRegistry registry;
    return registry;
}

ComponentRegistry::ComponentRegistry()
{
    auto focusable = [this](const QMetaObject *meta) {
        registerEvent(meta, QStringLiteral("OnEnter"), notify(&FocusEvents::onEnter));
        registerEvent(meta, QStringLiteral("OnExit"), notify(&FocusEvents::onExit));
    };

    registerClass(QStringLiteral("TLabel"), &TLabel::staticMetaObject);
    registerClass(QStringLiteral("TImage"), &TImage::staticMetaObject);
    registerClass(QStringLiteral("TDBText"), &TDBText::staticMetaObject);
    for (const auto &[name, meta] : std::initializer_list<std::pair<const char *, const QMetaObject *>>{
             {"TPanel", &TPanel::staticMetaObject}, {"TGroupBox", &TGroupBox::staticMetaObject},
             {"TScrollBox", &TScrollBox::staticMetaObject}, {"TTabSheet", &TTabSheet::staticMetaObject}}) {
        registerClass(QString::fromLatin1(name), meta);
        focusable(meta);
    }

    registerClass(QStringLiteral("TEdit"), &TEdit::staticMetaObject);
    registerClass(QStringLiteral("TMaskEdit"), &TMaskEdit::staticMetaObject);
    registerClass(QStringLiteral("TDateEditPlus"), &TDateEditPlus::staticMetaObject);
    registerClass(QStringLiteral("TNumberEdit"), &TNumberEdit::staticMetaObject);
    focusable(&EditBase::staticMetaObject);
    registerEvent(&EditBase::staticMetaObject, QStringLiteral("OnChange"), notify(&EditBase::onChange));
    registerEvent(&EditBase::staticMetaObject, QStringLiteral("OnKeyPress"), eventOf(&EditBase::onKeyPress, {"QObject*", "QChar&"}));
    registerEvent(&EditBase::staticMetaObject, QStringLiteral("OnKeyDown"), eventOf(&EditBase::onKeyDown, {"QObject*", "int&", "erp::ShiftState"}));

    registerClass(QStringLiteral("TButtonFlat"), &TButtonFlat::staticMetaObject);
    registerEvent(&TButtonFlat::staticMetaObject, QStringLiteral("OnClick"), notify(&TButtonFlat::onClick));
    registerClass(QStringLiteral("TButton"), &TButton::staticMetaObject);
    focusable(&TButton::staticMetaObject);
    registerEvent(&TButton::staticMetaObject, QStringLiteral("OnClick"), notify(&TButton::onClick));
    registerClass(QStringLiteral("TCheckBox"), &TCheckBox::staticMetaObject);
    focusable(&TCheckBox::staticMetaObject);
    registerEvent(&TCheckBox::staticMetaObject, QStringLiteral("OnClick"), notify(&TCheckBox::onClick));
    registerClass(QStringLiteral("TRadioButton"), &TRadioButton::staticMetaObject);
    focusable(&TRadioButton::staticMetaObject);
    registerEvent(&TRadioButton::staticMetaObject, QStringLiteral("OnClick"), notify(&TRadioButton::onClick));
    registerClass(QStringLiteral("TRadioGroup"), &TRadioGroup::staticMetaObject);
    focusable(&TRadioGroup::staticMetaObject);
    registerEvent(&TRadioGroup::staticMetaObject, QStringLiteral("OnClick"), notify(&TRadioGroup::onClick));
    registerClass(QStringLiteral("TComboBox"), &TComboBox::staticMetaObject);
    focusable(&TComboBox::staticMetaObject);
    registerEvent(&TComboBox::staticMetaObject, QStringLiteral("OnClick"), notify(&TComboBox::onClick));
    registerEvent(&TComboBox::staticMetaObject, QStringLiteral("OnChange"), notify(&TComboBox::onChange));

    registerClass(QStringLiteral("TPageControl"), &TPageControl::staticMetaObject);
    focusable(&TPageControl::staticMetaObject);
    registerEvent(&TPageControl::staticMetaObject, QStringLiteral("OnChange"), notify(&TPageControl::onChange));

    registerClass(QStringLiteral("TMainMenu"), &TMainMenu::staticMetaObject);
    registerClass(QStringLiteral("TPopupMenu"), &TPopupMenu::staticMetaObject);
    registerClass(QStringLiteral("TMenuItem"), &TMenuItem::staticMetaObject);
    registerEvent(&TMenuItem::staticMetaObject, QStringLiteral("OnClick"), notify(&TMenuItem::onClick));

    const QMetaObject *grid = &TDBGrid::staticMetaObject;
    registerClass(QStringLiteral("TDBGrid"), grid);
    focusable(grid);
    registerEvent(grid, QStringLiteral("OnDblClick"), notify(&TDBGrid::onDblClick));
    registerEvent(grid, QStringLiteral("OnTitleClick"), eventOf(&TDBGrid::onTitleClick, {"erp::GridColumn*"}));
    registerEvent(grid, QStringLiteral("OnKeyDown"), eventOf(&TDBGrid::onKeyDown, {"QObject*", "int&", "erp::ShiftState"}));
    registerEvent(grid, QStringLiteral("OnDrawColumnCell"),
                  eventOf(&TDBGrid::onDrawColumnCell, {"QObject*", "QRect", "int", "erp::GridColumn*", "erp::GridDrawState"}));

    const QMetaObject *lookup = &TBtnPesquisa::staticMetaObject;
    registerClass(QStringLiteral("TBtnPesquisa"), lookup);
    registerEvent(lookup, QStringLiteral("OnBeforePesq"), eventOf(&TBtnPesquisa::onBeforePesq, {"QObject*", "bool&"}));
    registerEvent(lookup, QStringLiteral("OnAfterPesq"), notify(&TBtnPesquisa::onAfterPesq));
    registerEvent(lookup, QStringLiteral("OnClick"), notify(&TBtnPesquisa::onClick));

    const QMetaObject *form = &Form::staticMetaObject;
    registerEvent(form, QStringLiteral("OnCreate"), notify(&Form::onCreate));
    registerEvent(form, QStringLiteral("OnActivate"), notify(&Form::onActivate));
    registerEvent(form, QStringLiteral("OnShow"), notify(&Form::onShow));
    registerEvent(form, QStringLiteral("OnClose"), eventOf(&Form::onClose, {"QObject*", "erp::CloseAction&"}));

    const QMetaObject *cds = &ClientDataSet::staticMetaObject;
    registerClass(QStringLiteral("TClientDataSet"), cds, [](QObject *parent) { return new ClientDataSet(parent); });
    const std::initializer_list<std::pair<const char *, ClientDataSet::Handler ClientDataSet::*>> dataSetEvents{
        {"BeforeOpen", &ClientDataSet::beforeOpen}, {"AfterOpen", &ClientDataSet::afterOpen},
        {"BeforeClose", &ClientDataSet::beforeClose}, {"AfterClose", &ClientDataSet::afterClose},
        {"BeforePost", &ClientDataSet::beforePost}, {"AfterPost", &ClientDataSet::afterPost},
        {"AfterCancel", &ClientDataSet::afterCancel}, {"BeforeScroll", &ClientDataSet::beforeScroll},
        {"AfterScroll", &ClientDataSet::afterScroll}, {"OnCalcFields", &ClientDataSet::onCalcFields}};
    for (const auto &[name, member] : dataSetEvents)
        registerEvent(cds, QString::fromLatin1(name), dataSetEvent(member));

    registerClass(QStringLiteral("TDataSource"), &DataSource::staticMetaObject,
                  [](QObject *parent) { return new DataSource(parent); });
    registerEvent(&DataSource::staticMetaObject, QStringLiteral("OnStateChange"),
                  {{"QObject*"}, [](QObject *component, const MethodRef &method) {
                       static_cast<DataSource *>(component)->onStateChange = [method](DataSource &source) {
                           QObject *sender = &source;
                           void *argv[] = {nullptr, &sender};
                           method.invoke(argv);
                       };
                   }});
    registerClass(QStringLiteral("TADOIBQuery"), &AdoIbQuery::staticMetaObject,
                  [](QObject *parent) { return new AdoIbQuery(parent); });
    registerClass(QStringLiteral("TKeyList"), &KeyList::staticMetaObject,
                  [](QObject *parent) { return new KeyList(parent); });
    registerClass(QStringLiteral("TMessages"), &Messages::staticMetaObject,
                  [](QObject *parent) { return new Messages(parent); });
    registerClass(QStringLiteral("TNetConnection"), &NetConnection::staticMetaObject,
                  [](QObject *parent) { return new NetConnection(parent); });
    registerEvent(&NetConnection::staticMetaObject, QStringLiteral("BeforeConnect"),
                  {{"QObject*"}, [](QObject *component, const MethodRef &method) {
                       static_cast<NetConnection *>(component)->beforeConnect = [method](NetConnection &connection) {
                           QObject *sender = &connection;
                           void *argv[] = {nullptr, &sender};
                           method.invoke(argv);
                       };
                   }});
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
