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
 * refused (tn_enter_python, tn_runtime.i). */
%{
namespace
{
struct TnKeptThreadState
{
    PyThreadState *mState = nullptr;
    unsigned mDepth = 0; // calls in progress on the thread

    ~TnKeptThreadState()
    {
        if (mState != nullptr && Py_IsInitialized() && !Py_IsFinalizing())
        {
            PyEval_RestoreThread(mState);
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

#undef SWIG_PYTHON_THREAD_BEGIN_BLOCK
#undef SWIG_PYTHON_THREAD_END_BLOCK
#define SWIG_PYTHON_THREAD_BEGIN_BLOCK TN_FORWARDING_CALL(TnPythonThreadBlock)
#define SWIG_PYTHON_THREAD_END_BLOCK _swig_thread_block.end()
%}
