#pragma once

#include <erpfwui/widgets/events.h>

#include <erpfw/data/datasource.h>

#include <QPointer>
#include <QStringList>
#include <QToolButton>

namespace erp {

// A lookup button: lists the rows of its data source in the lookup form (frmPesquisa) and,
// when the user chooses one, leaves the dataset on that row, runs onAfterPesq and puts the
// focus back in the associated edit. onBeforePesq runs first and may set its flag to false
// to stop; an empty list shows emptyError instead.
class ERPFWUI_EXPORT TBtnPesquisa : public QToolButton
{
    Q_OBJECT
    Q_PROPERTY(QWidget *associate READ associate WRITE setAssociate)
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(erp::DataSource *dataSource READ dataSource WRITE setDataSource)
    Q_PROPERTY(QStringList visibleFields READ visibleFields WRITE setVisibleFields)
    Q_PROPERTY(QString emptyError READ emptyError WRITE setEmptyError)
    Q_PROPERTY(QString hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(bool visible READ isVisibleFlag WRITE setVisible)

public:
    Q_INVOKABLE explicit TBtnPesquisa(QWidget *parent = nullptr);
    bool isVisibleFlag() const { return !isHidden(); }

    QWidget *associate() const { return m_associate; }
    void setAssociate(QWidget *edit) { m_associate = edit; }
    QString title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }
    DataSource *dataSource() const { return m_source; }
    void setDataSource(DataSource *source) { m_source = source; }
    // Empty: every visible field of the dataset.
    QStringList visibleFields() const { return m_fields; }
    void setVisibleFields(const QStringList &fields) { m_fields = fields; }
    QString emptyError() const { return m_emptyError; }
    void setEmptyError(const QString &text) { m_emptyError = text; }

    // What a click does; true when the user chose a row. Handlers' exceptions go on.
    bool execute();

    BeforePesqEvent onBeforePesq;
    NotifyEvent onAfterPesq;
    // When set, a click runs it instead of the lookup (a screen that picks by its own rules).
    NotifyEvent onClick;

private:
    QPointer<QWidget> m_associate;
    QString m_title;
    QPointer<DataSource> m_source;
    QStringList m_fields;
    QString m_emptyError;
};

} // namespace erp
