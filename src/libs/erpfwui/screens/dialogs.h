#pragma once

#include <erpfwui/forms/form.h>

#include <QStringList>

namespace erp {

class ClientDataSet;
class DataSource;
class TButton;
class TComboBox;
class TDBGrid;
class TEdit;

// The lookup list of a lookup button: grid dbgPesquisa over the data source; btnOk, Return
// or a double click choose the current row, btnCancelar or Escape give up.
class ERPFWUI_EXPORT PesquisaForm : public Form
{
    Q_OBJECT

public:
    PesquisaForm(DataSource *source, const QString &title, const QStringList &fields, QWidget *parent = nullptr);
    TDBGrid *grid() const { return m_grid; }

private:
    TDBGrid *m_grid;
};

// The multi-selection picker: Space or a double click on a row of dbgLista chooses or drops
// its key; btnOk gives the keys joined by ";" in the order chosen.
class ERPFWUI_EXPORT PesquisaListaForm : public Form
{
    Q_OBJECT
    Q_PROPERTY(QString selection READ selection)

public:
    PesquisaListaForm(DataSource *source, const QString &keyField, const QString &title, bool requireChoice,
                      const QString &list, QWidget *parent = nullptr);
    QString selection() const { return m_chosen.join(QLatin1Char(';')); }
    Q_INVOKABLE void toggleCurrent();
    TDBGrid *grid() const { return m_grid; }

private:
    QString currentKey() const;
    DataSource *m_source;
    QString m_keyField;
    QStringList m_chosen;
    TDBGrid *m_grid;
};

// The search dialog: the field in cbbCampo, the value in edtValor; btnOk moves the dataset
// to the first row whose text in that field begins with the value (letter case and accents
// aside) and closes, or says that none does.
class ERPFWUI_EXPORT ProcuraForm : public Form
{
    Q_OBJECT

public:
    explicit ProcuraForm(ClientDataSet *dataSet, QWidget *parent = nullptr);
    // The 0-based row found, or -1.
    int find(const QString &fieldName, const QString &value) const;

private:
    void confirm();
    ClientDataSet *m_dataSet;
    TComboBox *m_field;
    TEdit *m_value;
};

// Opens the picker over the data source's rows; with OK the list gets the chosen keys of
// keyField joined by ";" and the result is true; a cancel leaves the list as it was. With
// requireChoice, OK needs at least one key.
ERPFWUI_EXPORT bool PesquisaLista(DataSource *source, const QString &keyField, const QString &title,
                                  bool requireChoice, QString &list);

// Opens the search dialog on an open dataset; true when it moved to a row.
ERPFWUI_EXPORT bool Procura(ClientDataSet *dataSet);

} // namespace erp
