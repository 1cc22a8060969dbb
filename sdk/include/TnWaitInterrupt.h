// A host's say over the waits of the SDK on its own threads: an interpreter
// that handles signals on a thread that calls the SDK lets its waits end when
// a signal asks for it.
#ifndef TN_WAIT_INTERRUPT_H
#define TN_WAIT_INTERRUPT_H

#include <stdint.h>

#include <functional>

#include "TnExport.h"

/// Told by the SDK, while one of its calls waits on the host's thread,
/// whether the host wants the call to end.
class TN_BASE_API TnWaitInterrupter
{
public:
    virtual ~TnWaitInterrupter();

    /// Asked on the waiting thread, with no lock of the SDK held, once per
    /// interval of the scope (TnWaitInterruptScope) while a wait lasts. True
    /// ends the wait: the call fails (TN_ABORTED, or the failure of its wait
    /// running out) without taking anything it waited for, so that a later
    /// call still finds it; every later wait under the scope ends at once.
    virtual bool IsInterrupted() = 0;

    /// The host heard an interrupt another way while a call of the scope ran
    /// (inside the host's code that the call runs on this thread); aInterrupt
    /// is the host's note of it. True when the interrupter takes it: it then
    /// answers IsInterrupted with true. The default takes none.
    virtual bool Keep(void *aInterrupt);
};

/// From its construction to its end, the waits of the SDK on the calling
/// thread ask aInterrupter at least every aIntervalMs milliseconds whether to
/// end. Scopes nest: the innermost one is asked.
class TN_BASE_API TnWaitInterruptScope
{
public:
    TnWaitInterruptScope(TnWaitInterrupter &aInterrupter, uint32_t aIntervalMs);
    ~TnWaitInterruptScope();
    TnWaitInterruptScope(const TnWaitInterruptScope &) = delete;
    TnWaitInterruptScope &operator=(const TnWaitInterruptScope &) = delete;

    /// Whether the interrupter ended a wait under the scope.
    bool IsInterrupted() const { return mInterrupted; }

    /// The calling thread's innermost scope, or null.
    static TnWaitInterruptScope *Innermost();

    /// Whether no other scope of the thread encloses this one.
    bool IsOutermost() const { return mOuter == nullptr; }

    /// The interrupter the scope asks.
    TnWaitInterrupter &GetInterrupter() const { return mInterrupter; }

private:
    friend class TnWaitInterruptAccess;

    TnWaitInterrupter &mInterrupter;
    uint32_t mIntervalMs;
    bool mInterrupted;
    TnWaitInterruptScope *mOuter;
};

/// Runs aWork to its end on a thread of its own while the calling thread
/// waits for it as the SDK's waits do: under an interrupt scope the wait ends
/// when the interrupter asks (false), and aWork goes on where it runs, to its
/// end, with nobody waiting for it. True once aWork has ended; when no thread
/// can be made, aWork runs on the calling thread. What aWork throws is
/// dropped.
TN_BASE_API bool TnRunElsewhere(std::function<void()> aWork);

#endif
