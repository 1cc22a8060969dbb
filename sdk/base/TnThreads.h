// The threads the SDK starts: their scheduling (receivers, pipelines,
// senders), and the ends of objects asked for on their own threads.
#ifndef TN_THREADS_H
#define TN_THREADS_H

#include <pthread.h>
#include <stdint.h>

#include <functional>

#include "TnExport.h"

namespace tn
{
/// Gives aThread a priority: 0 the normal policy (SCHED_OTHER), 1 to 99
/// real-time scheduling (SCHED_FIFO) at that priority. False when the system
/// refuses it, as it does for a process that may not schedule in real time.
TN_BASE_API bool SetThreadPriority(pthread_t aThread, uint32_t aPriority);

/// Marks the calling thread, while the mark lives, as working for an object:
/// one of the object's own threads, or a call of the object that runs the
/// program's code (a callback) on the program's thread. Marks nest.
///
/// An object stopped or destroyed on a thread that works for it cannot wait
/// for that thread: it ends elsewhere (EndElsewhere), once the thread is
/// out of the object's code.
class TN_BASE_API WorkingFor
{
public:
    explicit WorkingFor(const void *aObject);
    ~WorkingFor();
    WorkingFor(const WorkingFor &) = delete;
    WorkingFor &operator=(const WorkingFor &) = delete;

    /// Whether the calling thread works for aObject now.
    static bool Now(const void *aObject);

private:
    const void *mObject;
    WorkingFor *mOuter;
};

/// Runs aEnd on a thread of its own that nobody waits for: the rest of an
/// end asked for on one of the object's own threads, which waits for those
/// threads (the asking one included) as an end on any other thread does.
/// False when no thread could be made (aEnd does not run then).
TN_BASE_API bool EndElsewhere(std::function<void()> aEnd);

/// Deletes aObject: at once, or, when aOwnThread (the calling thread works
/// for it), on a thread of its own after aMarkEnding() told the object that
/// it ends. False when no thread could be made: the object is left as it is.
template <typename Object, typename MarkEnding>
bool DeleteWhereItCanWait(Object *aObject, bool aOwnThread, MarkEnding aMarkEnding)
{
    if (!aOwnThread)
    {
        delete aObject;
        return true;
    }
    aMarkEnding();
    return EndElsewhere([aObject] { delete aObject; });
}
} // namespace tn

#endif
