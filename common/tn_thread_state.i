/* Threads of the SDK that call into Python (the overrides of event sinks, on
 * a pipeline's or a stream's thread) keep one Python thread state for their
 * whole life. The runtime's own way makes a thread state for every call and
 * deletes it after: a fresh frame stack mapped and unmapped each time, tens
 * of microseconds between a buffer being ready and the sink hearing of it.
 *
 * The first call on such a thread (one with no thread state of its own)
 * makes the state and keeps it with the interpreter lock released; each call
 * then only takes and releases the lock. When the thread ends the state is
 * deleted, unless the interpreter is already finishing (then it is left for
 * the interpreter to clear). Every SDK call from Python that waits for such
 * a thread to end releases the lock first (the module is built with
 * threads), so the ending thread can take it to delete its state. Like every
 * forwarding call, a call that comes once the interpreter shuts down is
 * refused (tn_enter_python, tn_forwarding.i). */
%{
namespace
{
struct TnKeptThreadState
{
    PyThreadState *mState = nullptr;
    unsigned mDepth = 0; // calls in progress on the thread
    // The last object made for an SDK object that the thread's calls pass
    // along each time (a pipeline to its sink): see tn_kept_proxy.
    void *mProxied = nullptr;
    swig_type_info *mProxiedType = nullptr;
    PyObject *mProxy = nullptr;

    ~TnKeptThreadState()
    {
        if (mState != nullptr && Py_IsInitialized() && !Py_IsFinalizing())
        {
            PyEval_RestoreThread(mState);
            Py_CLEAR(mProxy);
            PyGILState_Release(PyGILState_UNLOCKED); // the first call's: deletes the state
        }
    }
};

thread_local TnKeptThreadState tn_kept_thread_state;

class TnPythonThreadBlock
{
    bool mStatus;
    bool mKept;
    PyGILState_STATE mState;

public:
    TnPythonThreadBlock() : mStatus(true)
    {
        TnKeptThreadState &lKept = tn_kept_thread_state;
        if (lKept.mState == nullptr && PyGILState_GetThisThreadState() == nullptr)
        {
            (void)tn_enter_python(); // makes the thread's state and takes the lock
            lKept.mState = PyEval_SaveThread();
        }
        mKept = lKept.mState != nullptr;
        mState = tn_enter_python();
        lKept.mDepth += mKept ? 1 : 0;
    }

    void end()
    {
        if (mStatus)
        {
            // Each outermost call on such a thread starts clean, as it did
            // with a state of its own: an error its override left pending
            // (already reported) goes with it.
            if (mKept && --tn_kept_thread_state.mDepth == 0)
            {
                PyErr_Clear();
            }
            PyGILState_Release(mState);
            mStatus = false;
        }
    }

    ~TnPythonThreadBlock()
    {
        end();
    }
};
} // namespace

/* A new reference to a Python object for aPointer, a C++ object that the
 * caller does not give away. On a thread with a kept state, the object made
 * for the previous call is handed out again while it still stands for the
 * same object, unowned: making a fresh one costs more than the rest of the
 * call when the caches are cold, as they are for a sink that hears of each
 * frame. Other threads get a fresh one each time. */
SWIGINTERN PyObject *tn_kept_proxy(void *aPointer, swig_type_info *aType)
{
    TnKeptThreadState &lKept = tn_kept_thread_state;
    if (lKept.mState == nullptr || PyThreadState_Get() != lKept.mState)
    {
        return SWIG_NewPointerObj(aPointer, aType, 0);
    }
    if (lKept.mProxy != nullptr && lKept.mProxied == aPointer && lKept.mProxiedType == aType)
    {
        SwigPyObject *lThis = SWIG_Python_GetSwigThis(lKept.mProxy);
        if (lThis != nullptr && lThis->ptr == aPointer && lThis->ty == aType && !lThis->own && lThis->next == nullptr)
        {
            Py_INCREF(lKept.mProxy);
            return lKept.mProxy;
        }
    }
    Py_CLEAR(lKept.mProxy);
    PyObject *lProxy = SWIG_NewPointerObj(aPointer, aType, 0);
    if (lProxy != nullptr)
    {
        lKept.mProxy = lProxy;
        lKept.mProxied = aPointer;
        lKept.mProxiedType = aType;
        Py_INCREF(lProxy);
    }
    return lProxy;
}

#undef SWIG_PYTHON_THREAD_BEGIN_BLOCK
#undef SWIG_PYTHON_THREAD_END_BLOCK
#define SWIG_PYTHON_THREAD_BEGIN_BLOCK TN_FORWARDING_CALL(TnPythonThreadBlock)
#define SWIG_PYTHON_THREAD_END_BLOCK _swig_thread_block.end()
%}
