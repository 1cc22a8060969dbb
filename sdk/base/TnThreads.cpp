#include "TnThreads.h"

#include <sched.h>

namespace tn
{
bool SetThreadPriority(pthread_t aThread, uint32_t aPriority)
{
    sched_param lParam{};
    lParam.sched_priority = static_cast<int>(aPriority);
    return pthread_setschedparam(aThread, aPriority == 0 ? SCHED_OTHER : SCHED_FIFO, &lParam) == 0;
}
} // namespace tn
