#pragma once

#include <erpfwui/widgets/events.h>

#include <erpfw/core/error.h>

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QEventLoop;

// Marks a form method as an event handler that the form file must bind. A marked method the
// file never binds, or a name in the file the class lacks, is an error when the form loads.
#ifndef Q_MOC_RUN
#  define ERP_HANDLER
#endif

namespace erp {

enum ModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// A form: a screen or a dialog whose components are built from its form file (see
// docs/forms.md). Subclasses declare their handlers with Q_INVOKABLE ERP_HANDLER and find
// their components in bindComponents().
class ERPFWUI_EXPORT Form : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString caption READ windowTitle WRITE setWindowTitle)
    Q_PROPERTY(int modalResult READ modalResult WRITE setModalResult)
    Q_PROPERTY(bool modal READ isInModalLoop)
    Q_PROPERTY(QString focusedControl READ focusedControl)
    // The topic of the shell's help for this form (0: none).
    Q_PROPERTY(int helpContext READ helpContext WRITE setHelpContext)

public:
    explicit Form(QWidget *parent = nullptr);
    ~Form() override;

    // Builds the components from the form file (by default the resource ":/forms/<class
    // name>.json"), calls bindComponents(), then runs the create event. A fault in the file
    // is an erp::Error naming the file; the create handler's exception is shown and the
    // form is still made, as the toolkit does.
    void loadForm(const QString &path = QString());
    QString formFile() const { return m_formFile; }

    QObject *findComponent(const QString &name) const;
    // An erp::Error naming the form when absent or of another class.
    template <class T>
    T *component(const QString &name) const
    {
        QObject *found = findComponent(name);
        T *typed = qobject_cast<T *>(found);
        if (!typed)
            throw Error(found ? QStringLiteral("%1.%2 não é um %3.").arg(objectName(), name, QString::fromLatin1(T::staticMetaObject.className()))
                              : QStringLiteral("%1 não tem o componente %2.").arg(objectName(), name));
        return typed;
    }

    // The shell calls this on real activations only: the first showing and a switch from
    // another screen, never a message box or a modal dialog closing.
    void activate();

    // Shows the form modally and runs its own loop until it closes; gives the modal result.
    int showModal();
    bool isInModalLoop() const { return m_loop != nullptr; }
    int helpContext() const { return m_helpContext; }
    void setHelpContext(int context) { m_helpContext = context; }
    int modalResult() const { return m_modalResult; }
    // A result other than mrNone closes a modal form (its close handler may refuse).
    void setModalResult(int result);

    // Called with every form shown modally, from inside its modal loop (scripted runs answer
    // dialogs with it). nullptr removes it.
    static void setModalHook(std::function<void(Form *)> hook);
    // Hides a modal form and ends its loop with mrCancel, even when its close handler refuses:
    // for a run that has no user left to close it (a failed script).
    void abandonModal();

    // The objectName of the control that has the focus in this form, or "".
    QString focusedControl() const;

    NotifyEvent onCreate;
    NotifyEvent onActivate;
    NotifyEvent onShow;
    CloseEvent onClose;

signals:
    void activated();
    void closedWith(erp::CloseAction action);

protected:
    // The components are built: find them here (call the base first).
    virtual void bindComponents() {}
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QString m_formFile;
    int m_modalResult = mrNone;
    int m_helpContext = 0;
    QEventLoop *m_loop = nullptr;
};

// Makes a form of class T and loads its form file.
template <class T, class... Args>
T *createForm(Args &&...args)
{
    auto form = std::make_unique<T>(std::forward<Args>(args)...);
    form->loadForm();
    return form.release();
}

} // namespace erp
