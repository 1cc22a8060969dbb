// Scheduling of the threads the SDK starts (receivers, pipelines, senders).
#ifndef TN_THREADS_H
#define TN_THREADS_H

#include <pthread.h>
#include <stdint.h>

#include "TnExport.h"

namespace tn
{
/// Gives aThread a priority: 0 the normal policy (SCHED_OTHER), 1 to 99
/// real-time scheduling (SCHED_FIFO) at that priority. False when the system
/// refuses it, as it does for a process that may not schedule in real time.
TN_BASE_API bool SetThreadPriority(pthread_t aThread, uint32_t aPriority);
} // namespace tn

#endif
