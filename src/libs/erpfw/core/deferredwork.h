#pragma once

#include <erpfw/erpfw_global.h>

#include <functional>

namespace erp {

// Screen work that can wait while a server call is out: the call runs it as soon as its request
// has left, so that it overlaps the server's work; a message runs it before it is shown;
// otherwise it runs when the scope ends. A grid's scroll of its picture on a move waits this way
// for the adjustments call the move makes. The work must not call the server itself.
class ERPFW_EXPORT DeferredViewWork
{
public:
    explicit DeferredViewWork(std::function<void()> work);
    ~DeferredViewWork();
    DeferredViewWork(const DeferredViewWork &) = delete;
    DeferredViewWork &operator=(const DeferredViewWork &) = delete;

    // Runs every work of this thread still waiting, the earliest first.
    static void runPending();

private:
    void run();
    static void runWithOuter(DeferredViewWork *work); // the outer ones first

    std::function<void()> m_work;
    DeferredViewWork *m_outer;
};

} // namespace erp
