#pragma once

#include <QString>

#include <functional>

class QMainWindow;

namespace erp::app::automation {

// Runs a script (Qt's QJSEngine) that drives the shell's screens as a user would: the globals
// shell, assert and log; every message answered from the script's queue, every modal form
// handed to the script's handler, every server call recorded. Nothing waits for a user.
class ScriptRunner
{
public:
    using OpenScreen = std::function<void(const QString &code)>;

    // window: the shell's main window; openScreen: what the shell's menu does with a code.
    ScriptRunner(QMainWindow &window, OpenScreen openScreen);

    // 0 when the script ran to its end; 1 when it threw, an assertion failed, a question had
    // no answer or a modal form was left open: the reason, with the script's file and line,
    // goes to standard error.
    int run(const QString &scriptFile);

private:
    QMainWindow &m_window;
    OpenScreen m_openScreen;
};

// The script engine is a library of its own (erp-shell-script.so, beside the shell's modules),
// loaded only for a script run; the shell calls in there through this entry.
using RunScriptEntry = int (*)(QMainWindow &window, const ScriptRunner::OpenScreen &openScreen,
                               const QString &scriptFile);
inline constexpr char kRunScriptEntry[] = "erpShellRunScript";

} // namespace erp::app::automation
