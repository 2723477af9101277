#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <array>

namespace erp {
namespace {

struct Look
{
    QMessageBox::Icon icon;
    const char *title;
};

Look lookOf(DialogType type)
{
    switch (type) {
    case DialogType::Error: return {QMessageBox::Critical, "Erro"};
    case DialogType::Warning: return {QMessageBox::Warning, "Atenção"};
    case DialogType::Information: return {QMessageBox::Information, "Informação"};
    case DialogType::Confirmation: return {QMessageBox::Question, "Confirmação"};
    }
    return {QMessageBox::NoIcon, ""};
}

} // namespace

Button MessageBoxPresenter::present(DialogType type, const QString &text, Buttons buttons)
{
    if (buttons == Buttons())
        buttons = Button::OK;
    const Look look = lookOf(type);
    QMessageBox box(look.icon, QString::fromUtf8(look.title), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("msgDialog"));
    box.setTextFormat(Qt::PlainText); // messages carry data and server texts: never read as markup

    struct Choice
    {
        Button button;
        const char *label;
        QMessageBox::ButtonRole role;
    };
    static constexpr std::array<Choice, 4> choices{{
        {Button::Yes, "&Sim", QMessageBox::YesRole},
        {Button::No, "&Não", QMessageBox::NoRole},
        {Button::OK, "OK", QMessageBox::AcceptRole},
        {Button::Cancel, "Cancelar", QMessageBox::RejectRole},
    }};
    QList<std::pair<QAbstractButton *, Button>> added;
    for (const Choice &c : choices) {
        if (!buttons.testFlag(c.button))
            continue;
        QPushButton *b = box.addButton(QString::fromUtf8(c.label), c.role);
        added.append({b, c.button});
        if (added.size() == 1)
            box.setDefaultButton(b);
    }
    // Escape answers Cancel, else No, else the only button there is.
    for (Button esc : {Button::Cancel, Button::No, Button::OK})
        for (const auto &[b, which] : added)
            if (which == esc && !box.escapeButton())
                box.setEscapeButton(b);

    box.exec();
    for (const auto &[b, which] : added)
        if (box.clickedButton() == b)
            return which;
    return buttons.testFlag(Button::Cancel) ? Button::Cancel
         : buttons.testFlag(Button::No)     ? Button::No
                                            : Button::OK;
}

} // namespace erp
