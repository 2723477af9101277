#pragma once

#include <QApplication>

namespace erp::app {

// The application object: nothing thrown in an event handler crosses the event loop; it goes
// to the shell's default handling (a silent abort shows nothing, anything else its message).
class ShellApplication final : public QApplication
{
public:
    ShellApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace erp::app
