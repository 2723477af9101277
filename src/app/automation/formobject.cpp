#include "formobject.h"

#include "controlobject.h"
#include "datasetobject.h"
#include "scriptsession.h"

#include <erpfw/core/error.h>
#include <erpfw/data/clientdataset.h>
#include <erpfw/db/adoibquery.h>
#include <erpfwui/forms/form.h>
#include <erpfwui/shell/shellwindow.h>

#include <QAction>
#include <QApplication>
#include <QJSEngine>
#include <QMdiSubWindow>

namespace erp::app::automation {

FormObject::FormObject(Form *form, ScriptSession &session)
    : m_form(form)
    , m_name(form->objectName())
    , m_session(session)
{
}

Form *FormObject::find(const QString &name)
{
    Form *hidden = nullptr;
    const auto widgets = QApplication::allWidgets();
    for (QWidget *w : widgets) {
        auto *form = qobject_cast<Form *>(w);
        if (!form || form->objectName() != name)
            continue;
        if (form->isVisible())
            return form;
        if (!hidden)
            hidden = form;
    }
    return hidden;
}

Form *FormObject::form() const
{
    if (!m_form)
        throw Error(QStringLiteral("O formulário %1 foi fechado e não existe mais.").arg(m_name));
    return m_form;
}

QString FormObject::caption() const
{
    return m_form ? m_form->windowTitle() : QString();
}

bool FormObject::visible() const
{
    if (!m_form)
        return false;
    // A minimised screen keeps its window, though Qt hides the form inside it.
    if (QMdiSubWindow *window = screenWindow(m_form))
        return window->isVisible();
    return m_form->isVisible();
}

QString FormObject::windowState() const
{
    if (!m_form)
        return QStringLiteral("normal");
    QWidget *window = screenWindow(m_form);
    const Qt::WindowStates state = (window ? window : m_form.data())->windowState();
    if (state & Qt::WindowMinimized)
        return QStringLiteral("minimized");
    if (state & Qt::WindowMaximized)
        return QStringLiteral("maximized");
    return QStringLiteral("normal");
}

QString FormObject::focused() const
{
    return m_form ? m_form->focusedControl() : QString();
}

void FormObject::setWindowState(const QString &state)
{
    m_session.act([&] {
        QWidget *window = screenWindow(form());
        if (!window)
            window = form();
        if (state == QLatin1String("minimized"))
            window->showMinimized();
        else if (state == QLatin1String("maximized"))
            window->showMaximized();
        else if (state == QLatin1String("normal"))
            window->showNormal();
        else
            throw Error(QStringLiteral("Estado de janela desconhecido \"%1\" (use normal, minimized ou maximized).")
                            .arg(state));
    });
}

void FormObject::close()
{
    m_session.act([&] { form()->close(); });
}

QObject *FormObject::findNamed(const QString &name) const
{
    QObject *found = form()->findComponent(name);
    if (!found)
        throw Error(QStringLiteral("%1 não tem o componente %2.").arg(m_name, name));
    return found;
}

QJSValue FormObject::control(const QString &name)
{
    QJSValue result;
    m_session.call([&] {
        QObject *found = findNamed(name);
        if (!found->isWidgetType() && !qobject_cast<QAction *>(found))
            throw Error(QStringLiteral("%1.%2 não é um controle (é um %3).")
                            .arg(m_name, name, QString::fromLatin1(found->metaObject()->className())));
        result = m_session.engine().newQObject(new ControlObject(found, m_session));
    });
    return result;
}

QJSValue FormObject::dataset(const QString &name)
{
    QJSValue result;
    m_session.call([&] {
        QObject *found = findNamed(name);
        ClientDataSet *dataSet = qobject_cast<ClientDataSet *>(found);
        if (auto *query = qobject_cast<AdoIbQuery *>(found))
            dataSet = query->query();
        if (!dataSet)
            throw Error(QStringLiteral("%1.%2 não é um conjunto de dados nem uma consulta.").arg(m_name, name));
        result = m_session.engine().newQObject(new DataSetObject(dataSet, name, m_session));
    });
    return result;
}

QJSValue FormObject::component(const QString &name)
{
    QJSValue result;
    m_session.call([&] {
        QObject *found = findNamed(name);
        QJSEngine::setObjectOwnership(found, QJSEngine::CppOwnership);
        result = m_session.engine().newQObject(found);
    });
    return result;
}

} // namespace erp::app::automation
