#include "TnThreads.h"

#include <sched.h>

#include <thread>

namespace tn
{
namespace
{
// The innermost mark of the calling thread.
thread_local WorkingFor *tMark = nullptr;
} // namespace

bool SetThreadPriority(pthread_t aThread, uint32_t aPriority)
{
    sched_param lParam{};
    lParam.sched_priority = static_cast<int>(aPriority);
    return pthread_setschedparam(aThread, aPriority == 0 ? SCHED_OTHER : SCHED_FIFO, &lParam) == 0;
}

WorkingFor::WorkingFor(const void *aObject) : mObject(aObject), mOuter(tMark)
{
    tMark = this;
}

WorkingFor::~WorkingFor()
{
    tMark = mOuter;
}

bool WorkingFor::Now(const void *aObject)
{
    for (const WorkingFor *lMark = tMark; lMark != nullptr; lMark = lMark->mOuter)
    {
        if (lMark->mObject == aObject)
        {
            return true;
        }
    }
    return false;
}

bool EndElsewhere(std::function<void()> aEnd)
{
    try
    {
        std::thread(std::move(aEnd)).detach();
        return true;
    }
    catch (...)
    {
        return false;
    }
}
} // namespace tn
