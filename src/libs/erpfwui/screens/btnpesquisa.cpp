#include "btnpesquisa.h"

#include "dialogs.h"

#include <erpfwui/forms/registry.h>
#include <erpfwui/widgets/focus.h>

#include <erpfw/core/messageservice.h>
#include <erpfw/data/clientdataset.h>

#include <QApplication>

namespace erp {

namespace {

// The screens' own component class, known to form files once this library is loaded.
void registerScreenClasses()
{
    ComponentRegistry &registry = ComponentRegistry::instance();
    const QMetaObject *lookup = &TBtnPesquisa::staticMetaObject;
    registry.registerClass(QStringLiteral("TBtnPesquisa"), lookup);
    registry.registerEvent(lookup, QStringLiteral("OnBeforePesq"), eventOf(&TBtnPesquisa::onBeforePesq, {"QObject*", "bool&"}));
    registry.registerEvent(lookup, QStringLiteral("OnAfterPesq"), notify(&TBtnPesquisa::onAfterPesq));
    registry.registerEvent(lookup, QStringLiteral("OnClick"), notify(&TBtnPesquisa::onClick));
}

Q_CONSTRUCTOR_FUNCTION(registerScreenClasses)

} // namespace

TBtnPesquisa::TBtnPesquisa(QWidget *parent)
    : QToolButton(parent)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setText(QStringLiteral("..."));
    connect(this, &QToolButton::clicked, this, [this] {
        dispatch([this] {
            if (onClick)
                onClick(this);
            else
                execute();
        });
    });
}

bool TBtnPesquisa::execute()
{
    bool proceed = true;
    fire(onBeforePesq, this, proceed);
    if (!proceed)
        return false;
    ClientDataSet *dataSet = m_source ? m_source->dataSet() : nullptr;
    if (!dataSet)
        throw Error(QStringLiteral("O botão de pesquisa %1 não tem dados.").arg(objectName()));
    if (!dataSet->active() || dataSet->isEmpty()) {
        MessageService::show(DialogType::Warning,
                             m_emptyError.isEmpty() ? QStringLiteral("Não há registros para pesquisar.") : m_emptyError);
        return false;
    }
    PesquisaForm form(m_source, m_title, m_fields, QApplication::activeWindow());
    if (form.showModal() != mrOk)
        return false;
    fire(onAfterPesq, this);
    if (m_associate && m_associate->isEnabled() && m_associate->isVisible())
        focusControl(m_associate);
    return true;
}

} // namespace erp
