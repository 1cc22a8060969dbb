/* Calls in progress and the objects they use.
 *
 * Every wrapper releases the interpreter lock around its SDK call, so that
 * another thread may destroy or re-allocate, meanwhile, an object the call
 * works on. So each wrapper notes what it uses: for `self` and for every
 * wrapped object among its arguments, a record (TnUse) in the wrapper's own
 * frame, linked into one list of the process while the lock is held and
 * unlinked by its destructor, with the lock held, at every exit of the
 * wrapper. Nothing else is done per call; only the operations that destroy
 * or change an object look at the list:
 *
 * - Destruction (a delete_ function, a factory's Free, the last reference of
 *   an owning proxy) of an object in use empties its proxies at once and
 *   hands the SDK object to a keeper pointer object that the records of the
 *   calls using it hold: it is destroyed when the last of those calls
 *   returns, on the thread that made it. When a call of another thread uses
 *   it, the object is first told to end what it does through its own
 *   operations (a stream closes, a pipeline stops, a device disconnects...:
 *   tn_uses_add_stopper), so that a call that would wait for good answers a
 *   failure instead.
 * - The operations that change or free an object's memory (a buffer's Free,
 *   Alloc, Attach, Detach, Reset..., an image's, a conversion's destination:
 *   tn_exclusive_use) use their object alone: they wait, with the lock
 *   released and Ctrl-C heard on the main thread, until the calls of other
 *   threads that use it or what it belongs to have returned, and calls that
 *   start meanwhile wait for them. One asked for inside a call of the same
 *   thread that uses the object (an override the call runs) cannot wait for
 *   it: it raises RuntimeError, and the object stays as it is.
 *
 * What a record names is the pointer object the call converted; what it
 * relates to is found when an operation looks: the same SDK object, what it
 * belongs to (its anchor in the lending table, tn_lifetime.i), and what
 * belongs to it. A record names the thread that linked it (the thread of
 * its call), whatever memory the call's frame lies in.
 *
 * The list is the process's, shared by every module that carries this file
 * through the lending table's entry, so that a call of one module and a
 * destruction through another see each other. */

%{
#include <cxxabi.h>
#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

/* Every wrapper runs these: they are inlined into it. */
#define TN_USE_INLINE inline __attribute__((always_inline))

/* One object a call in progress uses; the other fields are set as it is
 * linked. */
struct TnUse
{
    TnUse *mNext;
    TnUse **mLink = nullptr;     // what points to this record; null while it is not linked
    PyObject *mObject = nullptr; // the pointer object used (a reference with kTnUseHeld)
    const void *mCall;           // the call: the same for every record of one wrapper call
    unsigned mFlags = 0;
    pthread_t mThread;           // the thread of the call

    TnUse() = default;
    TnUse(const TnUse &) = delete;
    TnUse &operator=(const TnUse &) = delete;
    TN_USE_INLINE ~TnUse();
};

enum : unsigned
{
    kTnUseExclusive = 1, // uses its object alone
    kTnUsePending = 2,   // waits to use it alone
    kTnUseWaited = 4,    // another thread waits for its end
    kTnUseHeld = 8,      // holds a reference on its object (a keeper's)
    kTnUseDestroyed = 16 // its object was destroyed during the call
};

/* The process's list; its operations are made with the interpreter lock
 * held. */
struct TnUses
{
    TnUse *mHead = nullptr;
    size_t mExclusive = 0; // records using their object alone
    size_t mHeld = 0;      // records holding a keeper
    // A thread left its calls without the lock (the interpreter ended).
    std::atomic<bool> mAbandoned{false};
    std::mutex mMutex;
    std::condition_variable mEnded;
    uint64_t mEnds = 0; // ends of waited records (guarded by mMutex)
};

static TnUses *tn_uses = NULL;

/* Whether records hold keepers of objects destroyed during their calls. */
static inline bool tn_uses_any_held()
{
    return tn_uses != NULL && tn_uses->mHeld != 0;
}

static bool tn_use_settle(TnUse &aUse, const char *aFunction);
static void tn_use_ended(TnUse &aUse);

static TN_USE_INLINE void tn_use_link(TnUse &aUse, PyObject *aPointer, const void *aCall)
{
    TnUses *uses = tn_uses;
    aUse.mObject = aPointer;
    aUse.mCall = aCall;
    aUse.mThread = pthread_self();
    aUse.mNext = uses->mHead;
    aUse.mLink = &uses->mHead;
    if (aUse.mNext != NULL) {
        aUse.mNext->mLink = &aUse.mNext;
    }
    uses->mHead = &aUse;
}

/* aUse notes that the call aCall uses aPointer (a pointer object; null for
 * none): false, with a Python error set, when the call is not to go on. A
 * call that would use an object another thread's call uses alone waits for
 * that call first. */
static TN_USE_INLINE bool tn_use_begin(TnUse &aUse, PyObject *aPointer, const void *aCall)
{
    if (aPointer == NULL) {
        return true;
    }
    tn_use_link(aUse, aPointer, aCall);
    return tn_uses->mExclusive == 0 || tn_use_settle(aUse, NULL);
}

/* As tn_use_begin, for a use of the object alone by aFunction. */
static bool tn_use_begin_alone(TnUse &aUse, PyObject *aPointer, const void *aCall, const char *aFunction)
{
    if (aPointer == NULL) {
        return true;
    }
    aUse.mFlags = kTnUsePending;
    tn_use_link(aUse, aPointer, aCall);
    return tn_use_settle(aUse, aFunction);
}

/* The use of argument ARGNUM of FUNCTION: alone where tn_exclusive_use says
 * so (decided as the code is compiled). */
template <bool Alone> struct TnUseKind
{
    static TN_USE_INLINE bool Begin(TnUse &aUse, PyObject *aPointer, const void *aCall, const char *)
    {
        return tn_use_begin(aUse, aPointer, aCall);
    }
};
template <> struct TnUseKind<true>
{
    static bool Begin(TnUse &aUse, PyObject *aPointer, const void *aCall, const char *aFunction)
    {
        return tn_use_begin_alone(aUse, aPointer, aCall, aFunction);
    }
};

static TN_USE_INLINE void tn_use_end(TnUse &aUse)
{
    TnUses *uses = tn_uses;
    if (uses->mAbandoned.load(std::memory_order_relaxed)) {
        return; // the lock is not this thread's: the list is left as it is
    }
    TnUse *next = aUse.mNext;
    *aUse.mLink = next;
    if (next != NULL) {
        next->mLink = aUse.mLink;
    }
    aUse.mLink = NULL;
    if (aUse.mFlags != 0) {
        tn_use_ended(aUse);
    }
}

TN_USE_INLINE TnUse::~TnUse()
{
    if (mLink != nullptr) {
        tn_use_end(*this);
    }
}

/* The functions whose argument (1 for `self`) changes or frees the memory of
 * the object it is given, or of what the object belongs to: the object is
 * theirs alone during the call. */
struct TnExclusiveUse
{
    const char *mFunction;
    int mArgument;
};
static constexpr TnExclusiveUse tn_exclusive_uses[] = {
    {"TnBuffer_Alloc", 1}, {"TnBuffer_AllocChunk", 1}, {"TnBuffer_Free", 1}, {"TnBuffer_FreeChunk", 1},
    {"TnBuffer_Attach", 1}, {"TnBuffer_Detach", 1}, {"TnBuffer_Reset", 1}, {"TnBuffer_ResetChunks", 1},
    {"TnBuffer_AttachGenDCManager", 1}, {"TnImage_Alloc", 1}, {"TnImage_Free", 1}, {"TnImage_Attach", 1},
    {"TnImage_Detach", 1}, {"TnRawData_Alloc", 1}, {"TnRawData_Free", 1}, {"TnRawData_Attach", 1},
    {"TnRawData_Detach", 1}, {"TnChunkData_Alloc", 1}, {"TnChunkData_Free", 1}, {"TnChunkData_Attach", 1},
    {"TnChunkData_Detach", 1}, {"ITnChunkData_ResetChunks", 1}, {"ITnMultiPartContainerWriter_Reset", 1},
    {"ITnMultiPartContainerWriter_AllocAllParts", 1}, {"ITnMultiPartContainerWriter_AllocPart", 1},
    {"ITnMultiPartContainerWriter_AttachPart", 1}, {"ITnGenDCChunkWriter_ResetChunks", 1},
    // Destinations that are reallocated when too small, and a pipeline's
    // buffer given back (reallocated as it is queued again).
    {"TnBufferConverter_Convert", 3}, {"ITnFilter_Execute", 3}, {"TnCompressionFilter_Execute", 3},
    {"TnDecompressionFilter_Execute", 3}, {"TnPipeline_ReleaseBuffer", 2}};

static constexpr bool tn_same_name(const char *aOne, const char *aOther)
{
    while (*aOne != '\0' && *aOne == *aOther) {
        ++aOne;
        ++aOther;
    }
    return *aOne == *aOther;
}

static constexpr bool tn_exclusive_use(const char *aFunction, int aArgument)
{
    for (const TnExclusiveUse &use : tn_exclusive_uses) {
        if (use.mArgument == aArgument && tn_same_name(use.mFunction, aFunction)) {
            return true;
        }
    }
    return false;
}

/* A wrapper's record of argument ARGNUM, the pointer object POINTER, in the
 * function named NAME: false when the call is not to go on. */
#define TN_USE_BEGIN(USE, POINTER, NAME, ARGNUM) \
    (TnUseKind<tn_exclusive_use(NAME, ARGNUM)>::Begin(USE, POINTER, swig_obj, NAME))

/* The pointer object of a wrapped argument (null for None and anything
 * else), for the record of its use. */
static TN_USE_INLINE PyObject *tn_use_pointer(PyObject *aObject)
{
    return aObject != Py_None ? reinterpret_cast<PyObject *>(SWIG_Python_GetSwigThis(aObject)) : NULL;
}

/* The runtime's conversion of the argument aInput, whose pointer object
 * aPointer (or null) was found already: a pointer object of the very type
 * asked for, with nothing to change in it, is read here. */
static TN_USE_INLINE int tn_use_convert(PyObject *aPointer, PyObject *aInput, void **aAddress, swig_type_info *aType,
                                        int aFlags, int *aOwned)
{
    SwigPyObject *pointer = reinterpret_cast<SwigPyObject *>(aPointer);
    if (pointer != NULL && aFlags == 0 && pointer->ty == aType) {
        *aAddress = pointer->ptr;
        if (aOwned != NULL) {
            *aOwned = pointer->own;
        }
        return SWIG_OK;
    }
    return SWIG_Python_ConvertPtrAndOwn(pointer != NULL ? aPointer : aInput, aAddress, aType, aFlags, aOwned);
}

/* ------------------------------------------------------------------------
 * What the operations that destroy or change objects look for. */

/* Whether aUse is a record of the calling thread's calls. */
static inline bool tn_use_of_this_thread(const TnUse &aUse)
{
    return pthread_equal(aUse.mThread, pthread_self()) != 0;
}

/* An object as the relations between uses see it: its pointer object, its
 * SDK address, its anchor and the anchor's SDK address, and whether the
 * anchor holds the memory of what belongs to it (a buffer does). */
struct TnUseKey
{
    PyObject *mObject = NULL;
    void *mAddress = NULL;
    PyObject *mAnchor = NULL;
    void *mAnchorAddress = NULL;
    bool mAnchorIsMemory = false;
};

static TnUseKey tn_use_key(PyObject *aPointer)
{
    TnUseKey key;
    if (aPointer == NULL) {
        return key;
    }
    SwigPyObject *pointer = reinterpret_cast<SwigPyObject *>(aPointer);
    key.mObject = aPointer;
    key.mAddress = pointer->ptr;
    key.mAnchor = tn_anchor_of_pointer(aPointer);
    SwigPyObject *anchor = reinterpret_cast<SwigPyObject *>(key.mAnchor);
    key.mAnchorAddress = anchor->ptr;
    key.mAnchorIsMemory = anchor->ty != NULL && anchor->ty->name != NULL && strcmp(anchor->ty->name, "_p_TnBuffer") == 0;
    return key;
}

static inline bool tn_same_address(const void *aOne, const void *aOther)
{
    return aOne != NULL && aOne == aOther;
}

/* Whether a call that uses aUsed stands in the way of destroying or
 * changing aTarget: it uses the same SDK object, one that belongs to it
 * (through the anchors, or a proxy of its owner handed to a callback), one
 * that belongs to the same owner, or the owner itself when that owner holds
 * the target's memory (the buffer of an image); not a container of the
 * target that guards itself (a pipeline of its buffers). */
static bool tn_uses_related(const TnUseKey &aUsed, const TnUseKey &aTarget)
{
    if (aUsed.mObject == NULL || aTarget.mObject == NULL) {
        return false;
    }
    if (aUsed.mObject == aTarget.mObject || tn_same_address(aUsed.mAddress, aTarget.mAddress) ||
        aUsed.mAnchor == aTarget.mObject || tn_same_address(aUsed.mAnchorAddress, aTarget.mAddress)) {
        return true;
    }
    if (aTarget.mAnchor == aTarget.mObject) {
        return false; // the target belongs to nothing
    }
    if (aUsed.mAnchor == aTarget.mAnchor || tn_same_address(aUsed.mAnchorAddress, aTarget.mAnchorAddress)) {
        return aUsed.mAnchor != aUsed.mObject || aTarget.mAnchorIsMemory; // a sibling, or the owner itself
    }
    return aTarget.mAnchorIsMemory && tn_same_address(aUsed.mAddress, aTarget.mAnchorAddress);
}

/* What the records of calls other than aCall say of aTarget: whether a call
 * of this thread uses it (or what it relates to), whether one of another
 * thread does; the other threads' records are marked waited when aMark.
 * aExclusiveOnly looks only at records that use their object alone,
 * aSkipPending passes over those that wait to. Related records go to
 * aRelated when it is given. */
struct TnUseConflicts
{
    bool mThisThread = false;
    bool mOtherThread = false;
};

static TnUseConflicts tn_uses_conflicts(PyObject *aTarget, const void *aCall, bool aExclusiveOnly, bool aSkipPending,
                                        bool aMark, std::vector<TnUse *> *aRelated)
{
    TnUseConflicts conflicts;
    TnUses *uses = tn_uses;
    if (uses == NULL || uses->mAbandoned.load() || uses->mHead == NULL || Py_IsFinalizing()) {
        return conflicts;
    }
    const TnUseKey target = tn_use_key(aTarget);
    for (TnUse *use = uses->mHead; use != NULL; use = use->mNext) {
        if (use->mCall == aCall || (aExclusiveOnly && !(use->mFlags & kTnUseExclusive)) ||
            (aSkipPending && (use->mFlags & kTnUsePending))) {
            continue;
        }
        if (!tn_uses_related(tn_use_key(use->mObject), target)) {
            continue;
        }
        if (aRelated != NULL) {
            aRelated->push_back(use);
        }
        if (tn_use_of_this_thread(*use)) {
            conflicts.mThisThread = true;
        } else {
            conflicts.mOtherThread = true;
            if (aMark) {
                use->mFlags |= kTnUseWaited;
            }
        }
    }
    return conflicts;
}

/* Waits, with the interpreter lock released, for a slice of the interrupt
 * machinery's or until a waited record ends; false, with the exception set,
 * when a signal handler of the main thread raised. */
static bool tn_uses_wait()
{
    TnUses *uses = tn_uses;
    const uint64_t seen = uses->mEnds; // ends happen with the lock held, as this does
    Py_BEGIN_ALLOW_THREADS
    {
        std::unique_lock<std::mutex> lock(uses->mMutex);
        uses->mEnded.wait_for(lock, std::chrono::milliseconds(kTnInterruptSliceMs),
                              [&] { return uses->mEnds != seen; });
    }
    Py_END_ALLOW_THREADS
    const bool signals = tn_signal_thread != 0 && PyThread_get_thread_ident() == tn_signal_thread;
    return !signals || PyErr_CheckSignals() == 0;
}

/* After aUse was linked: a use waits for the calls of other threads that
 * use what it relates to alone; a use alone (aFunction named) first for
 * every call of another thread that uses it, and refuses one of this
 * thread's. False with a Python error set. */
static bool tn_use_settle(TnUse &aUse, const char *aFunction)
{
    const bool alone = (aUse.mFlags & kTnUsePending) != 0;
    for (;;) {
        const TnUseConflicts conflicts =
            tn_uses_conflicts(aUse.mObject, aUse.mCall, !alone, true, true, NULL);
        if (alone && conflicts.mThisThread) {
            PyErr_Format(PyExc_RuntimeError,
                         "%s: the object is in use by a call this thread is making (the callback runs inside it); "
                         "it can change only once that call has returned",
                         aFunction);
            return false;
        }
        if (!conflicts.mOtherThread) {
            break;
        }
        if (!tn_uses_wait()) {
            return false;
        }
    }
    if (alone) {
        aUse.mFlags = (aUse.mFlags & ~kTnUsePending) | kTnUseExclusive;
        ++tn_uses->mExclusive;
    }
    return true;
}

static void tn_use_ended(TnUse &aUse)
{
    TnUses *uses = tn_uses;
    const unsigned flags = aUse.mFlags;
    aUse.mFlags = 0;
    if (flags & kTnUseExclusive) {
        --uses->mExclusive;
    }
    if (flags & kTnUseWaited) {
        {
            std::lock_guard<std::mutex> lock(uses->mMutex);
            ++uses->mEnds;
        }
        uses->mEnded.notify_all();
    }
    if (flags & kTnUseHeld) {
        // The last use of an object destroyed meanwhile destroys it: the
        // error the call may have set stays pending.
        --uses->mHeld;
        PyObject *pending = PyErr_GetRaisedException();
        Py_CLEAR(aUse.mObject);
        PyErr_SetRaisedException(pending);
    }
}

/* aObject goes: records that still name it (a pointer object taken from
 * its proxy during the call) name aAnchor instead, or nothing. */
static void tn_uses_forget(PyObject *aObject, PyObject *aAnchor)
{
    if (tn_uses == NULL || tn_uses->mHead == NULL || tn_uses->mAbandoned.load(std::memory_order_relaxed)) {
        return;
    }
    for (TnUse *use = tn_uses->mHead; use != NULL; use = use->mNext) {
        if (use->mObject == aObject && !(use->mFlags & kTnUseHeld)) {
            use->mObject = aAnchor;
            if (aAnchor != NULL) {
                Py_INCREF(aAnchor);
                use->mFlags |= kTnUseHeld;
                ++tn_uses->mHeld;
            }
        }
    }
}

/* Whether an object that a call hands out without owning it (at aAddress,
 * by the lender aLender, a pointer object or null) is, or belongs to, an
 * object destroyed during the call: its proxy then refuses every call, as
 * the destroyed object's do. Asked while records hold keepers only. */
static bool tn_uses_hands_out_destroyed(const void *aAddress, PyObject *aLender)
{
    if (aLender != NULL && reinterpret_cast<SwigPyObject *>(aLender)->ptr == NULL) {
        return true;
    }
    for (TnUse *use = tn_uses->mHead; use != NULL; use = use->mNext) {
        if ((use->mFlags & kTnUseDestroyed) && reinterpret_cast<SwigPyObject *>(use->mObject)->ptr == aAddress) {
            return true;
        }
    }
    return false;
}

/* ------------------------------------------------------------------------
 * Destruction of an object in use. */

/* How an object of a type is told to end what it does before it is
 * destroyed under a call of another thread: registered by the module that
 * destroys objects of the type. */
typedef void (*TnStopper)(void *aObject);
struct TnStopperEntry
{
    swig_type_info *mType;
    TnStopper mStop;
};
static TnStopperEntry tn_stoppers[24];
static size_t tn_stopper_count = 0;

static void tn_uses_add_stopper(swig_type_info *aType, TnStopper aStop)
{
    if (aType != NULL && tn_stopper_count < sizeof(tn_stoppers) / sizeof(tn_stoppers[0])) {
        tn_stoppers[tn_stopper_count++] = TnStopperEntry{aType, aStop};
    }
}

static TnStopper tn_uses_stopper(swig_type_info *aType)
{
    for (size_t i = 0; i < tn_stopper_count; ++i) {
        if (tn_stoppers[i].mType == aType) {
            return tn_stoppers[i].mStop;
        }
    }
    return NULL;
}

/* Types whose objects may be destroyed inside their own calls: the SDK
 * object ends itself once the call that runs the override has returned, and
 * that call answers a failure. Such an object that only this thread's calls
 * use is destroyed at once, so that the call hears of it. */
static swig_type_info *tn_self_ending[16];
static size_t tn_self_ending_count = 0;

static void tn_uses_add_self_ending(swig_type_info *aType)
{
    if (aType != NULL && tn_self_ending_count < sizeof(tn_self_ending) / sizeof(tn_self_ending[0])) {
        tn_self_ending[tn_self_ending_count++] = aType;
    }
}

static bool tn_uses_self_ending(swig_type_info *aType)
{
    for (size_t i = 0; i < tn_self_ending_count; ++i) {
        if (tn_self_ending[i] == aType) {
            return true;
        }
    }
    return false;
}

/* Explicit destruction of aObject (its ownership just cleared) while calls
 * use it: true when it is not to be destroyed now. Its SDK object goes to a
 * new owning pointer object (a keeper) that takes aObject's place in the
 * lending table and that the records of those calls hold; aObject is
 * emptied, and so are the proxies of what belongs to it unless an SDK
 * holder keeps it (they go on working then, as they do for an object held).
 * A call of another thread that uses it first hears from the object itself
 * that it is to end. What cannot be handed over (a type without a destroy
 * function, a proxy of several pointer objects) is left undestroyed while
 * this thread uses it, else destroyed once the other threads' calls have
 * returned. */
static bool tn_uses_destruction_deferred(PyObject *aObject)
{
    std::vector<TnUse *> related;
    const TnUseConflicts conflicts = tn_uses_conflicts(aObject, NULL, false, false, false, &related);
    if (related.empty()) {
        return false;
    }
    SwigPyObject *pointer = reinterpret_cast<SwigPyObject *>(aObject);
    if (!conflicts.mOtherThread && tn_uses_self_ending(pointer->ty)) {
        return false;
    }
    const SwigPyClientData *data =
        pointer->ty != NULL ? static_cast<const SwigPyClientData *>(pointer->ty->clientdata) : NULL;
    PyObject *keeper = data != NULL && data->destroy != NULL && pointer->next == NULL
                           ? SwigPyObject_New(pointer->ptr, pointer->ty, SWIG_POINTER_OWN)
                           : NULL;
    if (keeper == NULL) {
        PyErr_Clear();
        if (conflicts.mThisThread) {
            pointer->ptr = NULL; // left to the process's end
            return true;
        }
        PyObject *pending = PyErr_GetRaisedException();
        while (tn_uses_conflicts(aObject, NULL, false, false, true, NULL).mOtherThread) {
            if (!tn_uses_wait()) {
                PyErr_Clear(); // a destructor does not fail: the wait goes on
            }
        }
        PyErr_SetRaisedException(pending);
        return false;
    }
    const bool held = tn_lending->mHolders(aObject) != 0;
    std::vector<PyObject *> keepers, before;
    tn_lending->mKeepers(aObject, keepers);
    tn_lending->mMove(aObject, keeper);
    for (TnUse *use : related) {
        if (use->mFlags & kTnUseHeld) {
            before.push_back(use->mObject);
        } else {
            ++tn_uses->mHeld;
        }
        Py_INCREF(keeper);
        use->mObject = keeper;
        use->mFlags |= kTnUseHeld | (held ? 0 : kTnUseDestroyed);
    }
    pointer->ptr = NULL;
    if (!held) {
        for (PyObject *kept : keepers) {
            SwigPyObject *proxy = reinterpret_cast<SwigPyObject *>(kept);
            if (!(proxy->own & SWIG_POINTER_OWN)) {
                proxy->ptr = NULL;
                Py_XDECREF(tn_lending->mGone(kept));
            }
        }
    }
    TnStopper stop = conflicts.mOtherThread ? tn_uses_stopper(pointer->ty) : NULL;
    if (stop != NULL) {
        // The stop is a use too: the object outlives it.
        void *object = reinterpret_cast<SwigPyObject *>(keeper)->ptr;
        TnUse use;
        tn_use_link(use, keeper, &use);
        Py_BEGIN_ALLOW_THREADS
        stop(object);
        Py_END_ALLOW_THREADS
    }
    for (PyObject *object : before) {
        Py_DECREF(object);
    }
    Py_DECREF(keeper);
    return true;
}

/* ------------------------------------------------------------------------
 * The list across threads, forks and the interpreter's end. */

/* A thread that took the interpreter lock after the interpreter ended
 * leaves its calls by unwinding, without the lock: the list is left as it
 * is from then on. */
static void tn_uses_abandon()
{
    if (tn_uses != NULL) {
        tn_uses->mAbandoned.store(true);
    }
}

/* The lock released around an SDK call (the runtime's, but for a thread
 * ended by the interpreter's end as it takes the lock back). */
class TnThreadAllow
{
    bool mStatus;
    PyThreadState *mSave;

public:
    TN_USE_INLINE TnThreadAllow() : mStatus(true), mSave(PyEval_SaveThread()) {}
    TN_USE_INLINE void end()
    {
        if (mStatus) {
            mStatus = false;
            try {
                PyEval_RestoreThread(mSave);
            } catch (abi::__forced_unwind &) {
                tn_uses_abandon();
                throw;
            }
        }
    }
    TN_USE_INLINE ~TnThreadAllow()
    {
        end();
    }
};
#undef SWIG_PYTHON_THREAD_BEGIN_ALLOW
#undef SWIG_PYTHON_THREAD_END_ALLOW
#define SWIG_PYTHON_THREAD_BEGIN_ALLOW TnThreadAllow _swig_thread_allow
#define SWIG_PYTHON_THREAD_END_ALLOW _swig_thread_allow.end()

/* A forked child has the forking thread alone: the records of the others
 * never end there. */
static void tn_uses_after_fork()
{
    TnUses *uses = tn_uses;
    if (uses == NULL) {
        return;
    }
    new (&uses->mMutex) std::mutex();
    new (&uses->mEnded) std::condition_variable();
    uses->mExclusive = 0;
    if (uses->mAbandoned.load()) {
        return;
    }
    TnUse **link = &uses->mHead;
    while (*link != NULL) {
        TnUse *use = *link;
        if (!tn_use_of_this_thread(*use)) {
            *link = use->mNext; // left as it is: its memory is the dead thread's
            if (use->mNext != NULL) {
                use->mNext->mLink = link;
            }
            continue;
        }
        use->mFlags &= ~(kTnUseWaited | kTnUsePending);
        uses->mExclusive += (use->mFlags & kTnUseExclusive) ? 1 : 0;
        link = &use->mNext;
    }
}

static TnUses *tn_uses_new()
{
    pthread_atfork(NULL, NULL, tn_uses_after_fork);
    return new TnUses;
}
%}

%init %{
    tn_uses = tn_lending->mUses;
%}

/* Types whose objects end what they do before a deferred destruction:
 * STOP is called on the object (a CLASS *), with the interpreter lock
 * released. */
%define TN_STOPPED_WHEN_DESTROYED_IN_USE(CLASS, STOP)
%{
static void tn_stop_##CLASS(void *aObject)
{
    try {
        static_cast<CLASS *>(aObject)->STOP;
    } catch (...) {
    }
}
%}
%init %{
    tn_uses_add_stopper(SWIGTYPE_p_##CLASS, tn_stop_##CLASS);
%}
%enddef

/* Types whose objects end themselves when destroyed inside their own calls
 * (on one of their threads, or in an override that a call of theirs runs). */
%define TN_ENDS_INSIDE_ITS_OWN_CALLS(CLASS)
%init %{
    tn_uses_add_self_ending(SWIGTYPE_p_##CLASS);
%}
%enddef
