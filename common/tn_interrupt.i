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
 * TN_INTERRUPTIBLE_CALL before the call, TN_INTERRUPTED_FAIL after it. */

%{
#include <pthread.h>

#include <optional>

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

/* One wrapper's SDK call: on the main thread, under an interrupt scope. Made
 * and ended with the interpreter lock held. */
class TnInterruptibleCall
{
public:
    inline __attribute__((always_inline)) TnInterruptibleCall()
    {
        if (tn_signal_thread != 0 && PyThread_get_thread_ident() == tn_signal_thread) {
            mScope.emplace(mInterrupter, kTnInterruptSliceMs);
        }
    }
    TnInterruptibleCall(const TnInterruptibleCall &) = delete;
    TnInterruptibleCall &operator=(const TnInterruptibleCall &) = delete;

    /* Whether a handler raised during the call; its exception is then the
     * pending one, in place of whatever the call left. */
    bool Raised()
    {
        mScope.reset();
        PyObject *raised = mInterrupter.TakeRaised();
        if (raised == NULL) {
            return false;
        }
        PyErr_SetRaisedException(raised);
        return true;
    }

    ~TnInterruptibleCall()
    {
        mScope.reset();
        PyObject *raised = mInterrupter.TakeRaised();
        if (raised != NULL) {
            // The call ended by an exception of its own: the handler's is
            // reported rather than lost.
            PyErr_SetRaisedException(raised);
        }
    }

private:
    TnSignalInterrupter mInterrupter;
    std::optional<TnWaitInterruptScope> mScope;
};

#define TN_INTERRUPTIBLE_CALL TnInterruptibleCall _tn_interruptible_call
#define TN_INTERRUPTED_FAIL    \
    if (_tn_interruptible_call.Raised()) { \
        SWIG_fail;             \
    }
%}

%init %{
    tn_signal_thread_init();
%}
