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
/// one of the object's own threads (OwnThread: the object's end waits for
/// it by its own means, a join), or a call of the object on any thread that
/// may run the program's code there (Call: a callback, on the program's
/// thread or another). Marks nest.
///
/// An object stopped or destroyed on a thread that works for it cannot wait
/// for that thread: it ends elsewhere (EndElsewhere), once every call that
/// works for it, on whatever thread, is out of the object's code.
class TN_BASE_API WorkingFor
{
public:
    enum Kind
    {
        Call,
        OwnThread
    };

    explicit WorkingFor(const void *aObject, Kind aKind = Call);
    ~WorkingFor();
    WorkingFor(const WorkingFor &) = delete;
    WorkingFor &operator=(const WorkingFor &) = delete;

    /// Whether the calling thread works for aObject now.
    static bool Now(const void *aObject);

    /// Whether the object's destruction was asked for (DeleteWhereItCanWait)
    /// during this call: the call answers a failure then, and touches
    /// nothing of the object once this mark is gone. False for a mark of
    /// the object's own thread.
    bool ObjectEnds() const;

private:
    const void *mObject;
    WorkingFor *mOuter;
    const Kind mKind;
};

/// Runs aEnd on a thread of its own that nobody waits for: the rest of a
/// stop or an end of aObject asked for on a thread that works for it. aEnd
/// starts once no call works for aObject (WorkingFor::Call, the asking one
/// included); it waits for the object's own threads as an end on any other
/// thread does. aDestroys tells the calls still under way that the object
/// goes (WorkingFor::ObjectEnds). False when no thread could be made (aEnd
/// does not run then).
TN_BASE_API bool EndElsewhere(const void *aObject, std::function<void()> aEnd, bool aDestroys = false);

/// Deletes aObject: at once, or, when aOwnThread (the calling thread works
/// for it), on a thread of its own after aMarkEnding() told the object that
/// it ends, once no call works for it. False when no thread could be made:
/// the object is left as it is.
template <typename Object, typename MarkEnding>
bool DeleteWhereItCanWait(Object *aObject, bool aOwnThread, MarkEnding aMarkEnding)
{
    if (!aOwnThread)
    {
        delete aObject;
        return true;
    }
    aMarkEnding();
    return EndElsewhere(aObject, [aObject] { delete aObject; }, true);
}
} // namespace tn

#endif
