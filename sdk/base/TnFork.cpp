#include "TnFork.h"

#include <pthread.h>

#include <atomic>
#include <string>

#include "TnText.h"

namespace
{
std::atomic<uint64_t> sGeneration{0};

void CountFork()
{
    sGeneration.fetch_add(1);
}

// Registered as the library loads, before any object can be made.
const int sRegistered = pthread_atfork(nullptr, nullptr, CountFork);
} // namespace

namespace tn
{
uint64_t ProcessGeneration()
{
    (void)sRegistered;
    return sGeneration.load(std::memory_order_relaxed);
}

TnResult InheritedFailure(const char *aWhat)
{
    return Failure(TN_STATE_ERROR, std::string(aWhat) +
                                       ": this object belongs to the parent process (it was made before the fork)");
}
} // namespace tn
