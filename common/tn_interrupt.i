/* Ctrl-C ends every wait. Python runs a signal's handler on its main thread
 * only, between two steps of Python code; a call that waits in the SDK with
 * the interpreter lock released would hear of the signal only once the wait
 * ended on its own. So every SDK call from the main thread runs under an
 * interrupt scope of the SDK (TnWaitInterrupt.h): its waits sleep in slices
 * of kTnInterruptSliceMs and, between two slices, with no lock of the SDK
 * held, take the interpreter lock for a moment to run the handlers of the
 * signals that came (PyErr_CheckSignals). A handler that raises ends the
 * wait: the SDK call fails without taking what it waited for (a buffer that
 * completes at that moment stays queued for the next call), and the wrapper
 * raises the handler's exception instead of returning. A handler that does
 * not raise lets the wait go on. Other threads never run handlers: their
 * calls wait as the SDK does, without slices.
 *
 * The scope lives in the guarded action of every wrapper (tn_runtime.i):
 * TN_INTERRUPTIBLE_CALL before the call, TN_INTERRUPTED_FAIL after it.
 *
 * A signal may also come while the SDK runs a Python override on the main
 * thread (a register's sink during a write, a device's sink during Start):
 * its handler then raises inside the override. That exception is not the
 * override's failure: it is kept, unreported, as if the handler had run
 * between two slices of a wait (the call's later waits end at once), and the
 * wrapper raises it when the SDK call returns (tn_keep_interrupt, asked by
 * the report of failed overrides in tn_forwarding.i).
 *
 * A stop, close or destruction of an object with threads of its own waits
 * for those threads, and so for a callback that one of them runs, however
 * long it takes. On the main thread, outside any callback, such a call runs
 * on a thread of its own while the main thread waits for it in slices
 * (TnRunElsewhere, TnWaitInterrupt.h): a handler that raises ends the wait,
 * the wrapper raises its exception, and the stop goes on by itself until
 * the callback has returned (TN_STOPS_HEARING_INTERRUPTS,
 * TN_DESTROYED_HEARING_INTERRUPTS). A destruction of an object whose stop
 * goes on that way waits for that stop first. */

%{
#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <unordered_map>

#include "TnResult.h"
#include "TnWaitInterrupt.h"

/* How long a wait of the main thread sleeps before it looks for signals: a
 * signal ends it well within a tenth of a second. */
static const uint32_t kTnInterruptSliceMs = 50;

/* The thread that runs Python's signal handlers, as PyThread_get_thread_ident
 * names it: the main thread, known at start-up and after a fork (the forking
 * thread is the child's main thread). */
static unsigned long tn_signal_thread = 0;

static void tn_signal_thread_after_fork()
{
    tn_signal_thread = PyThread_get_thread_ident();
}

static void tn_signal_thread_init()
{
    PyObject *threading = PyImport_ImportModule("threading");
    PyObject *main = threading != NULL ? PyObject_CallMethod(threading, "main_thread", NULL) : NULL;
    PyObject *ident = main != NULL ? PyObject_GetAttrString(main, "ident") : NULL;
    const unsigned long value = ident != NULL ? PyLong_AsUnsignedLong(ident) : 0;
    tn_signal_thread = PyErr_Occurred() == NULL ? value : PyThread_get_thread_ident();
    PyErr_Clear();
    Py_XDECREF(ident);
    Py_XDECREF(main);
    Py_XDECREF(threading);
    pthread_atfork(NULL, NULL, tn_signal_thread_after_fork);
}

/* Asks Python's signal handlers, from a wait of the SDK. */
class TnSignalInterrupter : public TnWaitInterrupter
{
public:
    TnSignalInterrupter() : mRaised(NULL) {}

    bool IsInterrupted() override
    {
        if (mRaised != NULL) {
            return true;
        }
        if (PyGILState_Check()) {
            // A Python call of this thread is under way (an override that
            // called the SDK): the signals are its to look for.
            return false;
        }
        PyGILState_STATE state = PyGILState_Ensure();
        PyObject *pending = PyErr_GetRaisedException();
        if (PyErr_CheckSignals() != 0) {
            mRaised = PyErr_GetRaisedException();
        }
        PyErr_SetRaisedException(pending);
        PyGILState_Release(state);
        return mRaised != NULL;
    }

    /* A handler's exception that came another way (aInterrupt, the
     * exception; a reference is taken): the first one stays. */
    bool Keep(void *aInterrupt) override
    {
        if (mRaised == NULL) {
            mRaised = Py_NewRef(static_cast<PyObject *>(aInterrupt));
        }
        return true;
    }

    /* The exception a handler raised (taken), or null. */
    PyObject *TakeRaised()
    {
        PyObject *raised = mRaised;
        mRaised = NULL;
        return raised;
    }

private:
    PyObject *mRaised;
};

class TnInterruptibleCall;
/* The innermost wrapper call of the main thread in progress (under its
 * scope), or null. */
static thread_local TnInterruptibleCall *tn_innermost_interruptible = NULL;

/* One wrapper's SDK call: on the main thread, under an interrupt scope. Made
 * and ended with the interpreter lock held. */
class TnInterruptibleCall
{
public:
    inline __attribute__((always_inline)) TnInterruptibleCall()
    {
        if (tn_signal_thread != 0 && PyThread_get_thread_ident() == tn_signal_thread) {
            mScope.emplace(mInterrupter, kTnInterruptSliceMs);
            mOuter = tn_innermost_interruptible;
            tn_innermost_interruptible = this;
        }
    }
    TnInterruptibleCall(const TnInterruptibleCall &) = delete;
    TnInterruptibleCall &operator=(const TnInterruptibleCall &) = delete;

    /* Whether a handler raised during the call; its exception is then the
     * pending one, in place of whatever the call left. */
    bool Raised()
    {
        End();
        PyObject *raised = mInterrupter.TakeRaised();
        if (raised == NULL) {
            return false;
        }
        if (mLater && PyErr_GivenExceptionMatches(raised, PyExc_KeyboardInterrupt)) {
            // A destruction by the last reference raises nothing: Ctrl-C
            // comes again, for the code that let the object go.
            Py_DECREF(raised);
            PyErr_SetInterruptEx(SIGINT);
            return false;
        }
        PyErr_SetRaisedException(raised);
        return true;
    }

    /* The call cannot raise (a destruction as the last reference goes):
     * Ctrl-C is heard once more after it. */
    void RaiseLater()
    {
        mLater = true;
    }

    ~TnInterruptibleCall()
    {
        End();
        PyObject *raised = mInterrupter.TakeRaised();
        if (raised != NULL) {
            // The call ended by an exception of its own: the handler's is
            // reported rather than lost.
            PyErr_SetRaisedException(raised);
        }
    }

private:
    void End()
    {
        if (mScope) {
            mScope.reset();
            tn_innermost_interruptible = mOuter;
        }
    }

    TnSignalInterrupter mInterrupter;
    std::optional<TnWaitInterruptScope> mScope;
    TnInterruptibleCall *mOuter = NULL;
    bool mLater = false;
};

#define TN_INTERRUPTIBLE_CALL TnInterruptibleCall _tn_interruptible_call
#define TN_INTERRUPTED_FAIL    \
    if (_tn_interruptible_call.Raised()) { \
        SWIG_fail;             \
    }

/* Whether aError, an exception that an override raised on the main thread,
 * is one a signal handler raised there: a KeyboardInterrupt, or one whose
 * innermost frame runs the code of a Python handler of a signal. */
static bool tn_raised_by_signal(PyObject *aError)
{
    if (PyErr_GivenExceptionMatches(aError, PyExc_KeyboardInterrupt)) {
        return true;
    }
    PyObject *pending = PyErr_GetRaisedException();
    bool found = false;
    PyObject *traceback = PyException_GetTraceback(aError);
    while (traceback != NULL && traceback != Py_None) {
        PyObject *next = PyObject_GetAttrString(traceback, "tb_next");
        if (next == NULL || next == Py_None) {
            Py_XDECREF(next);
            break;
        }
        Py_SETREF(traceback, next);
    }
    PyObject *frame = traceback != NULL && traceback != Py_None ? PyObject_GetAttrString(traceback, "tb_frame") : NULL;
    PyObject *code = frame != NULL ? PyObject_GetAttrString(frame, "f_code") : NULL;
    PyObject *signals = code != NULL ? PyImport_ImportModule("signal") : NULL;
    PyObject *numbers = signals != NULL ? PyObject_CallMethod(signals, "valid_signals", NULL) : NULL;
    PyObject *iterator = numbers != NULL ? PyObject_GetIter(numbers) : NULL;
    for (PyObject *number; !found && iterator != NULL && (number = PyIter_Next(iterator)) != NULL;) {
        PyObject *handler = PyObject_CallMethod(signals, "getsignal", "O", number);
        PyObject *handlerCode = handler != NULL ? PyObject_GetAttrString(handler, "__code__") : NULL;
        found = handlerCode != NULL && handlerCode == code;
        Py_XDECREF(handlerCode);
        Py_XDECREF(handler);
        Py_DECREF(number);
        PyErr_Clear();
    }
    Py_XDECREF(iterator);
    Py_XDECREF(numbers);
    Py_XDECREF(signals);
    Py_XDECREF(code);
    Py_XDECREF(frame);
    Py_XDECREF(traceback);
    PyErr_Clear();
    PyErr_SetRaisedException(pending);
    return found;
}

/* An override that the SDK runs on the main thread raised aError: true when
 * it is a signal handler's exception, which the wrapper call running the
 * override keeps (the innermost scope is that call's, of whichever module). */
static bool tn_keep_interrupt(PyObject *aError)
{
    TnWaitInterruptScope *scope = TnWaitInterruptScope::Innermost();
    return aError != NULL && scope != NULL && PyThread_get_thread_ident() == tn_signal_thread &&
           tn_raised_by_signal(aError) && scope->GetInterrupter().Keep(aError);
}

/* ------------------------------------------------------------------------
 * Stops and destructions that a signal ends on the main thread. */

/* Whether the calling thread runs a Python override of the SDK now
 * (tn_forwarding.i). */
static bool tn_in_forwarded_call();

/* Whether this thread's stop or destruction runs elsewhere: the main
 * thread's, in a wrapper call outside any callback (a call inside one has
 * the scope of the call that runs the callback around its own), while the
 * interpreter runs. Asked with the interpreter lock released. */
static bool tn_call_goes_elsewhere()
{
    const TnWaitInterruptScope *scope = TnWaitInterruptScope::Innermost();
    return tn_innermost_interruptible != NULL && scope != NULL && scope->IsOutermost() && !tn_in_forwarded_call() &&
           !Py_IsFinalizing();
}

/* The objects whose stop goes on elsewhere after a signal ended its wait,
 * by address, with how many such stops each has. */
struct TnEndsElsewhere
{
    std::mutex mMutex;
    std::condition_variable mIdle;
    std::unordered_map<const void *, unsigned> mBusy;
};

static TnEndsElsewhere &tn_ends_elsewhere()
{
    static TnEndsElsewhere *sEnds = new TnEndsElsewhere;
    return *sEnds;
}

/* The address an object is known by whatever class a call names it by. */
template <typename Object> static const void *tn_end_key(Object *aObject)
{
    if constexpr (std::is_polymorphic<Object>::value) {
        return dynamic_cast<const void *>(aObject);
    } else {
        return aObject;
    }
}

/* Waits until no stop of aKey goes on elsewhere. */
static void tn_end_await(const void *aKey)
{
    TnEndsElsewhere &ends = tn_ends_elsewhere();
    std::unique_lock<std::mutex> lock(ends.mMutex);
    ends.mIdle.wait(lock, [&] { return ends.mBusy.count(aKey) == 0; });
}

/* A stop of aKey under way elsewhere. */
class TnEndBusy
{
public:
    explicit TnEndBusy(const void *aKey) : mKey(aKey)
    {
        TnEndsElsewhere &ends = tn_ends_elsewhere();
        std::lock_guard<std::mutex> lock(ends.mMutex);
        ++ends.mBusy[mKey];
    }
    TnEndBusy(const TnEndBusy &) = delete;
    TnEndBusy &operator=(const TnEndBusy &) = delete;

    ~TnEndBusy()
    {
        TnEndsElsewhere &ends = tn_ends_elsewhere();
        {
            std::lock_guard<std::mutex> lock(ends.mMutex);
            const auto found = ends.mBusy.find(mKey);
            if (found != ends.mBusy.end() && --found->second == 0) {
                ends.mBusy.erase(found);
            }
        }
        ends.mIdle.notify_all();
    }

private:
    const void *mKey;
};

/* Runs aEnd, which stops (aDestroys false) or destroys the object aKey:
 * elsewhere where tn_call_goes_elsewhere says so, false when a signal
 * handler ended the wait for it (aEnd goes on). A destruction first waits
 * for the object's stops under way elsewhere, unless it is asked inside a
 * callback (which such a stop may be waiting for). */
static bool tn_end_hearing_interrupts(const void *aKey, bool aDestroys, std::function<void()> aEnd)
{
    if (!tn_call_goes_elsewhere()) {
        if (aDestroys && !tn_in_forwarded_call()) {
            tn_end_await(aKey);
        }
        aEnd();
        return true;
    }
    std::shared_ptr<TnEndBusy> busy = aDestroys ? nullptr : std::make_shared<TnEndBusy>(aKey);
    return TnRunElsewhere([aKey, aDestroys, busy, end = std::move(aEnd)] {
        if (aDestroys) {
            tn_end_await(aKey);
        }
        end();
    });
}

/* A stop of aObject that answers a result (aStop(aObject)); TN_ABORTED when
 * a signal ended the wait for it. */
template <typename Object, typename Stop> static TnResult tn_stop_hearing_interrupts(Object *aObject, Stop aStop)
{
    std::shared_ptr<TnResult> answer = std::make_shared<TnResult>(TN_OK);
    if (!tn_end_hearing_interrupts(tn_end_key(aObject), false, [aObject, aStop, answer] { *answer = aStop(aObject); })) {
        return TnResult(TN_ABORTED, TnString("interrupted; the stop goes on by itself once the callbacks it waits "
                                             "for have returned"));
    }
    return *answer;
}

/* The destruction of aObject by aDestroy(aObject); aLastReference: as its
 * pointer object goes. */
template <typename Object, typename Destroy>
static void tn_destroy_hearing_interrupts(Object *aObject, Destroy aDestroy, bool aLastReference = false)
{
    TnInterruptibleCall *call = tn_innermost_interruptible;
    if (!tn_end_hearing_interrupts(tn_end_key(aObject), true, [aObject, aDestroy] { aDestroy(aObject); }) &&
        aLastReference && call != NULL) {
        call->RaiseLater();
    }
}
%}

/* METHOD of CLASS, a stop or close that answers a TnResult, and the
 * destructor of CLASS: on the main thread a signal ends their wait for the
 * object's threads. */
%define TN_STOPS_HEARING_INTERRUPTS(CLASS, METHOD)
%feature("action") CLASS::METHOD {
    result = tn_stop_hearing_interrupts(arg1, [](CLASS *aObject) { return aObject->METHOD(); });
}
%enddef
%define TN_DESTROYED_HEARING_INTERRUPTS(CLASS)
%feature("action") CLASS::~CLASS {
    tn_destroy_hearing_interrupts(arg1, [](CLASS *aObject) { delete aObject; }, Py_REFCNT(swig_obj[0]) == 0);
}
%enddef

%init %{
    tn_signal_thread_init();
%}
