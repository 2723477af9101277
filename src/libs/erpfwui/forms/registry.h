#pragma once

#include <erpfwui/erpfwui_global.h>

#include <QByteArrayList>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace erp {

// A form method that an event calls: the loader resolves it by name and calls it through the
// form's meta-object, so the handler's exception comes back to whoever fired the event.
class ERPFWUI_EXPORT MethodRef
{
public:
    MethodRef() = default;
    MethodRef(QObject *target, int index) : m_target(target), m_index(index) {}
    void invoke(void **argv) const;

private:
    QPointer<QObject> m_target;
    int m_index = -1;
};

// An event of a component class that a form file can bind: the parameter types the handler
// must take and how to install it.
struct ERPFWUI_EXPORT EventSpec
{
    QByteArrayList parameterTypes; // normalized, e.g. "QObject*", "int&", "erp::ShiftState"
    std::function<void(QObject *component, const MethodRef &method)> install;
};

// The component classes that form files may name ("TPanel", "TClientDataSet", ...): how to
// make one and which events it has. Widgets are made through their meta-object's invokable
// constructor. It starts with the controls and data components that forms are built of; a layer
// above (the screens, a module) registers its own classes when its library loads.
class ERPFWUI_EXPORT ComponentRegistry
{
public:
    using Factory = std::function<QObject *(QObject *parent)>;

    static ComponentRegistry &instance();

    void registerClass(const QString &className, const QMetaObject *meta, Factory factory = {});
    void registerEvent(const QMetaObject *meta, const QString &event, EventSpec binding);

    bool contains(const QString &className) const { return m_classes.contains(className); }
    const QMetaObject *metaObject(const QString &className) const;
    // nullptr parent for non-visual components; an unknown class is an erp::Error.
    QObject *create(const QString &className, QObject *parent) const;
    // The event of the component's class or of a class it derives from; nullptr when none.
    const EventSpec *event(const QObject *component, const QString &event) const;
    QStringList classNames() const { return m_classes.keys(); }

private:
    ComponentRegistry();
    struct Entry
    {
        const QMetaObject *meta;
        Factory factory;
    };
    QHash<QString, Entry> m_classes;
    QHash<const QMetaObject *, QHash<QString, EventSpec>> m_events;
};

// Event bindings for registerEvent: an event member of C that is a std::function, called with
// the handler's arguments as they are.
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
EventSpec notify(std::function<void(QObject *)> C::*member)
{
    return eventOf(member, {"QObject*"});
}

} // namespace erp
