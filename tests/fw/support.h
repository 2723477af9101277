#pragma once

#include <erpfw/core/messageservice.h>

#include <QList>
#include <QString>

#include <gtest/gtest.h>

namespace erp::test {

// Records every message dialog and answers from a queue (OK when the queue is empty).
class RecordingPresenter : public MessagePresenter
{
public:
    struct Shown
    {
        DialogType type;
        QString text;
        Buttons buttons;
    };

    RecordingPresenter() { MessageService::setPresenter(this); }
    ~RecordingPresenter() override { MessageService::setPresenter(nullptr); }

    Button present(DialogType type, const QString &text, Buttons buttons) override
    {
        shown.append({type, text, buttons});
        return answers.isEmpty() ? Button::OK : answers.takeFirst();
    }

    QList<Shown> shown;
    QList<Button> answers;
};

} // namespace erp::test

// The message of an erp::Error thrown by the statement, or "" when it throws none.
#define ERP_ERROR_TEXT(statement)                                                                  \
    ([&]() -> QString {                                                                            \
        try {                                                                                      \
            statement;                                                                             \
        } catch (const erp::Error &e) {                                                            \
            return e.message();                                                                    \
        }                                                                                          \
        return QString();                                                                          \
    }())

inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
