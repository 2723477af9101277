#include "deferredwork.h"

#include <utility>

namespace erp {

namespace {
thread_local DeferredViewWork *t_innermost = nullptr;
}

DeferredViewWork::DeferredViewWork(std::function<void()> work) : m_work(std::move(work)), m_outer(t_innermost)
{
    t_innermost = this;
}

DeferredViewWork::~DeferredViewWork()
{
    t_innermost = m_outer;
    run();
}

void DeferredViewWork::run()
{
    if (m_work)
        std::exchange(m_work, nullptr)(); // taken first: a message inside the work finds nothing to run
}

void DeferredViewWork::runPending()
{
    runWithOuter(t_innermost);
}

void DeferredViewWork::runWithOuter(DeferredViewWork *work)
{
    if (!work)
        return;
    runWithOuter(work->m_outer);
    work->run();
}

} // namespace erp
