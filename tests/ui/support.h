#pragma once

#include <erpfw/core/error.h>
#include <erpfw/core/messageservice.h>
#include <erpfw/data/clientdataset.h>
#include <erpwire/packet.h>

#include <QApplication>
#include <QList>
#include <QString>
#include <QTest>
#include <QWidget>

#include <functional>

#include <gtest/gtest.h>

namespace erp::uitest {

// Records every message dialog instead of showing it; answers from a queue (OK when empty).
class Messages : public MessagePresenter
{
public:
    struct Shown
    {
        DialogType type;
        QString text;
    };

    Messages() { MessageService::setPresenter(this); }
    ~Messages() override { MessageService::setPresenter(nullptr); }

    Button present(DialogType type, const QString &text, Buttons) override
    {
        shown.append({type, text});
        if (onShow)
            onShow();
        return answers.isEmpty() ? Button::OK : answers.takeFirst();
    }

    QStringList texts() const
    {
        QStringList list;
        for (const Shown &s : shown)
            list.append(s.text);
        return list;
    }

    QList<Shown> shown;
    QList<Button> answers;
    std::function<void()> onShow; // sees the screen while the message is up
};

// Shows a top-level widget and waits until it is the active window, so focus moves as a
// user's would.
inline void showActive(QWidget *window)
{
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

// A packet of "CODE" (string 10), "NAME" (string 40) and "VALUE" (float) rows.
inline wire::Packet rows(int count, const std::function<QString(int)> &name = {})
{
    wire::Packet packet({{QStringLiteral("CODE"), wire::FieldType::String, 10},
                         {QStringLiteral("NAME"), wire::FieldType::String, 40},
                         {QStringLiteral("VALUE"), wire::FieldType::Float, 0}});
    packet.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int row = packet.appendRow();
        packet.setValue(row, 0, QString::number(i + 1).rightJustified(3, QLatin1Char('0')));
        packet.setValue(row, 1, name ? name(i) : QStringLiteral("Nome %1").arg(i + 1));
        packet.setValue(row, 2, double(i) * 10.5);
    }
    return packet;
}

} // namespace erp::uitest

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
