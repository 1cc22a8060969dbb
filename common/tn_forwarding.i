/* Forwarding objects: the objects that carry the SDK's calls of an
 * overridable class into the Python methods of its subclass. What they hold
 * of their Python object, how their calls end at the interpreter's exit and
 * at their own end, and the report of an override that fails
 * (tn_runtime.i includes it). */

/* Reports of failed Python overrides: the lines they write, each with its
 * end in one write, so that lines that threads write at once never join. */
%{
/* Writes one line to Python's standard output, or to the process's when
 * Python has none. */
static void tn_write_stdout_line(const std::string &aLine)
{
    const std::string line = aLine + "\n";
    PyObject *out = PySys_GetObject("stdout");
    if (out != NULL && out != Py_None && PyFile_WriteString(line.c_str(), out) == 0) {
        PyObject *flushed = PyObject_CallMethod(out, "flush", NULL);
        Py_XDECREF(flushed);
        PyErr_Clear();
        return;
    }
    PyErr_Clear();
    fputs(line.c_str(), stdout);
    fflush(stdout);
}

/* Writes one line straight to the process's standard output stream, past
 * Python's sys.stdout, and flushes it. */
static void tn_write_process_stdout_line(const std::string &aLine)
{
    const std::string line = aLine + "\n";
    fputs(line.c_str(), stdout);
    fflush(stdout);
}

/* The text of a Python object, or a stand-in when it has none. */
static std::string tn_object_text(PyObject *aObject)
{
    std::string text;
    PyObject *str = aObject != NULL ? PyObject_Str(aObject) : NULL;
    const char *utf8 = str != NULL ? PyUnicode_AsUTF8(str) : NULL;
    if (utf8 != NULL) {
        text = utf8;
    } else {
        PyErr_Clear();
        text = "<unprintable>";
    }
    Py_XDECREF(str);
    return text;
}
%}

/* The interpreter's exit. SDK threads (a device's heartbeat and message
 * channel, a stream's or pipeline's thread, a software device's threads)
 * call Python overrides. Once the interpreter shuts down, a thread that asks
 * for the interpreter lock is ended where it stands, inside the SDK, which
 * aborts the process; so nothing may enter Python then:
 *
 * - objects that own such threads are stopped before the interpreter shuts
 *   down (`_tn_stop_at_exit` below: the module's exit handler stops those
 *   still running, while their overrides can still finish their calls);
 * - a forwarding call that comes later anyway (a race with the exit, or an
 *   object the handler does not know) does not take the lock: it throws
 *   TnInterpreterExiting into the SDK, which goes on as after an override
 *   that failed. */
%{
#include <cxxabi.h>
#include <exception>

class TnInterpreterExiting : public std::exception
{
public:
    const char *what() const noexcept override
    {
        return "the interpreter is shutting down";
    }
};

/* The interpreter lock for a forwarding call; TnInterpreterExiting when the
 * interpreter shuts down or is gone and this thread does not hold the lock
 * already (the thread that shuts it down still runs Python code). */
static PyGILState_STATE tn_enter_python()
{
    if ((Py_IsFinalizing() || !Py_IsInitialized()) && !PyGILState_Check()) {
        throw TnInterpreterExiting();
    }
    return PyGILState_Ensure();
}

/* The lock of a forwarding object's call (SWIG's own helpers, defined
 * earlier, keep SWIG's). */
class TnPythonBlock
{
public:
    TnPythonBlock() : mState(tn_enter_python()), mHeld(true) {}
    TnPythonBlock(const TnPythonBlock &) = delete;
    TnPythonBlock &operator=(const TnPythonBlock &) = delete;

    void end()
    {
        if (mHeld) {
            mHeld = false;
            PyGILState_Release(mState);
        }
    }

    ~TnPythonBlock()
    {
        end();
    }

private:
    PyGILState_STATE mState;
    bool mHeld;
};

/* ------------------------------------------------------------------------
 * The Python object of a forwarding object. The forwarding object holds no
 * reference to it (unless disowned), so the object may go while the
 * forwarding object lives on: one made over an object that never took it as
 * its "this", or one whose pointer object was handed over. A forwarding
 * object therefore watches its object through a weak reference; once the
 * object is gone, every forwarded call is refused as for an object never
 * bound (the 'self' uninitialized exception), and nothing reaches the memory
 * the object had. An object that cannot be watched (a type without weak
 * references: a namespace, a plain object()) is held by one reference
 * instead, until the forwarding object ends.
 *
 * The end of a forwarding object. Its SDK class unregisters it from the SDK
 * (and waits for the SDK's calls in progress) only in its own destructor,
 * which C++ runs after the forwarding object's part is destroyed: a call that
 * came in between would reach a half-destroyed object, and the Python object
 * too while it is being deallocated. So the forwarding object is retired
 * first, before it is deleted (and again, for deletions that do not pass
 * through its module, when its watch ends): from then on every forwarded
 * call is refused, and the calls in progress on other threads are waited
 * for, with the interpreter lock released meanwhile so that they can finish.
 * A call in progress on the deleting thread itself (an override that drops
 * the last reference to its own object) is not waited for. */
#ifdef SWIG_DIRECTORS
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <typeinfo>
#include <unordered_map>
#include <vector>

/* What the calls of a forwarding object check; the lists are guarded by
 * tn_watch_mutex. */
struct TnForwardingState
{
    std::atomic<bool> mGone{false};       // the Python object went
    bool mRetired = false;                // the forwarding object is ending
    std::vector<std::thread::id> mCalls;  // the threads of the calls in progress
    std::vector<const void *> mLent;      // what the SDK lent the object, to be given back
};
typedef std::shared_ptr<TnForwardingState> TnForwardingStatePtr;

static std::mutex &tn_watch_mutex()
{
    static std::mutex *sMutex = new std::mutex;
    return *sMutex;
}

/* Signalled when a call of a retired forwarding object ends. */
static std::condition_variable &tn_watch_idle()
{
    static std::condition_variable *sIdle = new std::condition_variable;
    return *sIdle;
}

/* Forwarding object -> its state, from its binding until its watch ends. */
static std::unordered_map<const Swig::Director *, TnForwardingStatePtr> &tn_watches()
{
    static std::unordered_map<const Swig::Director *, TnForwardingStatePtr> *sWatches =
        new std::unordered_map<const Swig::Director *, TnForwardingStatePtr>;
    return *sWatches;
}

/* The weak reference's callback: its capsule holds the state. */
static PyObject *tn_watched_gone(PyObject *aCapsule, PyObject *)
{
    TnForwardingStatePtr *state = static_cast<TnForwardingStatePtr *>(PyCapsule_GetPointer(aCapsule, NULL));
    if (state != NULL) {
        (*state)->mGone.store(true);
    }
    PyErr_Clear();
    return SWIG_Py_Void();
}
static PyMethodDef tn_watched_gone_method = {"gone", tn_watched_gone, METH_O, NULL};

static void tn_state_capsule_free(PyObject *aCapsule)
{
    delete static_cast<TnForwardingStatePtr *>(PyCapsule_GetPointer(aCapsule, NULL));
}

/* Refuses a forwarding object's calls from now on and waits for those in
 * progress on other threads; the interpreter lock, when this thread holds
 * it, is released while waiting. */
static void tn_director_retire(const Swig::Director *aDirector)
{
    std::unique_lock<std::mutex> lock(tn_watch_mutex());
    const auto found = tn_watches().find(aDirector);
    if (found == tn_watches().end()) {
        return;
    }
    const TnForwardingStatePtr state = found->second;
    state->mRetired = true;
    const std::thread::id self = std::this_thread::get_id();
    const auto busy = [&] {
        return std::any_of(state->mCalls.begin(), state->mCalls.end(),
                           [&](std::thread::id aThread) { return aThread != self; });
    };
    if (!busy()) {
        return;
    }
    PyThreadState *saved = Py_IsInitialized() && PyThreadState_GetUnchecked() != NULL ? PyEval_SaveThread() : NULL;
    tn_watch_idle().wait(lock, [&] { return !busy(); });
    lock.unlock();
    if (saved != NULL) {
        PyEval_RestoreThread(saved);
    }
}

/* The watch, an item of the forwarding object's owner record: it ends with
 * the forwarding object, and holds the weak reference (or the reference). */
class TnDirectorWatch
{
public:
    TnDirectorWatch(const Swig::Director *aDirector, PyObject *aReference)
        : mDirector(aDirector), mReference(aReference)
    {
    }
    TnDirectorWatch(const TnDirectorWatch &) = delete;
    TnDirectorWatch &operator=(const TnDirectorWatch &) = delete;

    ~TnDirectorWatch()
    {
        tn_director_retire(mDirector);
        {
            std::lock_guard<std::mutex> lock(tn_watch_mutex());
            tn_watches().erase(mDirector);
        }
        // Once the interpreter shuts down the reference is left to it (the
        // state the weak reference's callback may still set lives in the
        // callback's capsule).
        if (mReference != NULL && ((Py_IsInitialized() && !Py_IsFinalizing()) || PyGILState_Check())) {
            PyGILState_STATE state = PyGILState_Ensure();
            Py_DECREF(mReference);
            PyGILState_Release(state);
        }
    }

private:
    const Swig::Director *mDirector;
    PyObject *mReference;
};

/* Binds a new forwarding object to the watch of its Python object. */
static void tn_director_bind(Swig::Director *aDirector)
{
    PyGILState_STATE gil = PyGILState_Ensure();
    PyObject *self = aDirector->swig_get_self();
    if (self != NULL) {
        PyObject *pending = PyErr_GetRaisedException();
        TnForwardingStatePtr state = std::make_shared<TnForwardingState>();
        TnForwardingStatePtr *held = new TnForwardingStatePtr(state);
        PyObject *capsule = PyCapsule_New(held, NULL, tn_state_capsule_free);
        if (capsule == NULL) {
            delete held;
        }
        PyObject *callback = capsule != NULL ? PyCFunction_New(&tn_watched_gone_method, capsule) : NULL;
        Py_XDECREF(capsule);
        PyObject *reference = callback != NULL ? PyWeakref_NewRef(self, callback) : NULL;
        Py_XDECREF(callback);
        if (reference == NULL) {
            PyErr_Clear();
            reference = Py_NewRef(self);
        }
        {
            std::lock_guard<std::mutex> lock(tn_watch_mutex());
            tn_watches()[aDirector] = state;
        }
        aDirector->swig_acquire_ownership(new TnDirectorWatch(aDirector, reference));
        PyErr_SetRaisedException(pending);
    }
    PyGILState_Release(gil);
}
#undef SWIG_DIRECTOR_RGTR
#define SWIG_DIRECTOR_RGTR(ARG1, ARG2) tn_director_bind(ARG2)

/* The state of a forwarding object that takes calls (bound, its Python
 * object still there, not retired), else null; tn_watch_mutex is held. */
static TnForwardingStatePtr tn_taking_calls(const Swig::Director *aDirector)
{
    const auto found = tn_watches().find(aDirector);
    if (found == tn_watches().end() || found->second->mGone.load() || found->second->mRetired) {
        return TnForwardingStatePtr();
    }
    return found->second;
}

/* Whether the forwarding object takes calls. */
static bool tn_director_bound(const Swig::Director *aDirector)
{
    std::lock_guard<std::mutex> lock(tn_watch_mutex());
    return tn_taking_calls(aDirector) != NULL;
}

/* The SDK class a forwarding object stands for, as its messages name it. */
static std::string tn_director_class_name(const Swig::Director *aDirector)
{
    std::string name = typeid(*aDirector).name();
    int status = 0;
    char *readable = abi::__cxa_demangle(name.c_str(), NULL, NULL, &status);
    if (readable != NULL) {
        name = readable;
        free(readable);
    }
    const std::string prefix = "SwigDirector_";
    if (name.compare(0, prefix.size(), prefix) == 0) {
        name = name.substr(prefix.size());
    }
    return name;
}

/* A forwarded call in progress, from its start with the interpreter lock
 * taken by BLOCK to its end: a call for a forwarding object that does not
 * take calls is refused. A call that ends by an exception with a Python error
 * pending that no report has written yet (a Python answer the operation
 * cannot take) writes its report line as it ends (tn_director_refused); a
 * method the object lacks is no answer and writes none. */
static void tn_director_refused(const char *aMethod);

class TnForwardingCall;
static thread_local TnForwardingCall *tn_innermost_call = NULL;

class TnForwardingCall
{
public:
    TnForwardingCall(const Swig::Director *aDirector, const char *aMethod)
        : mMethod(aMethod), mUncaught(std::uncaught_exceptions())
    {
        {
            std::lock_guard<std::mutex> lock(tn_watch_mutex());
            mState = tn_taking_calls(aDirector);
            if (mState) {
                mState->mCalls.push_back(std::this_thread::get_id());
            }
        }
        if (!mState) {
            const std::string message =
                "'self' uninitialized, maybe you forgot to call " + tn_director_class_name(aDirector) + ".__init__.";
            Swig::DirectorException::raise(message.c_str());
        }
        mOuter = tn_innermost_call;
        tn_innermost_call = this;
    }
    TnForwardingCall(const TnForwardingCall &) = delete;
    TnForwardingCall &operator=(const TnForwardingCall &) = delete;

    /* The call's failure was reported (the Python method raised). */
    void Reported()
    {
        mReported = true;
    }

    /* The SDK lent aObject to the Python object, which is to give it back. */
    void Lend(const void *aObject)
    {
        std::lock_guard<std::mutex> lock(tn_watch_mutex());
        mState->mLent.push_back(aObject);
    }

    /* The Python object gives aObject back: whether the SDK had lent it. */
    bool GiveBack(const void *aObject)
    {
        std::lock_guard<std::mutex> lock(tn_watch_mutex());
        std::vector<const void *> &lent = mState->mLent;
        const auto found = std::find(lent.begin(), lent.end(), aObject);
        if (found == lent.end()) {
            return false;
        }
        *found = lent.back();
        lent.pop_back();
        return true;
    }

    ~TnForwardingCall()
    {
        tn_innermost_call = mOuter;
        if (!mReported && std::uncaught_exceptions() > mUncaught) {
            tn_director_refused(mMethod);
        }
        bool retired = false;
        {
            std::lock_guard<std::mutex> lock(tn_watch_mutex());
            std::vector<std::thread::id> &calls = mState->mCalls;
            calls.erase(std::find(calls.begin(), calls.end(), std::this_thread::get_id()));
            retired = mState->mRetired;
        }
        if (retired) {
            tn_watch_idle().notify_all();
        }
    }

private:
    TnForwardingStatePtr mState;
    const char *mMethod;
    const int mUncaught;
    bool mReported = false;
    TnForwardingCall *mOuter = NULL;
};

/* The failure of this thread's innermost forwarded call was reported. */
static void tn_forwarding_reported()
{
    if (tn_innermost_call != NULL) {
        tn_innermost_call->Reported();
    }
}

static bool tn_in_forwarded_call()
{
    return tn_innermost_call != NULL;
}
#define TN_FORWARDING_CALL(BLOCK) \
    BLOCK _swig_thread_block;     \
    TnForwardingCall _tn_forwarding_call(this, __func__)
#else
#define TN_FORWARDING_CALL(BLOCK) BLOCK _swig_thread_block
static void tn_forwarding_reported() {}
static bool tn_in_forwarded_call()
{
    return false;
}
#endif

#undef SWIG_PYTHON_THREAD_BEGIN_BLOCK
#define SWIG_PYTHON_THREAD_BEGIN_BLOCK TN_FORWARDING_CALL(TnPythonBlock)
#undef SWIG_PYTHON_THREAD_END_BLOCK
#define SWIG_PYTHON_THREAD_END_BLOCK _swig_thread_block.end()
%}
%pythoncode %{
import atexit as _tn_atexit
import os as _tn_os
import weakref as _tn_weakref

# (id(owner), method, ids of the arguments) -> (order, weak references to
# the owner and the arguments, name of the "running" test or None, method).
_tn_exit_calls = {}


def _tn_stop_at_exit(owner, order, running, method, *arguments):
    """At the interpreter's exit, in rising order, calls owner.method(*arguments)
    when owner.running() is true (or running is None) and they all still
    live; an object's entry ends with it."""
    key = (id(owner), method) + tuple(id(argument) for argument in arguments)
    try:
        references = [_tn_weakref.ref(owner, lambda _, key=key: _tn_exit_calls.pop(key, None))]
        references += [_tn_weakref.ref(argument) for argument in arguments]
    except TypeError:
        return
    _tn_exit_calls[key] = (order, references, running, method)


class _tn_left_out:
    """A pure operation of an overridable class whose Python subclasses are
    meant to define it. A subclass that leaves it out lacks the method, so
    that its forwarding object reports the missing method rather than a base
    call of a pure operation; the class's own function stays reachable
    through the class and through super(), where it raises the pure-virtual
    error."""

    def __init__(self, function):
        self.function = function
        self.__name__ = function.__name__
        self.__doc__ = function.__doc__

    def __get__(self, instance, owner=None):
        if instance is None:
            return self.function
        for klass in type(instance).__mro__:
            if self.__name__ in vars(klass):
                if vars(klass)[self.__name__] is self:
                    raise AttributeError(f"'{type(instance).__name__}' object has no attribute '{self.__name__}'")
                break
        return self.function.__get__(instance, owner)


def _tn_pure_operations(cls, *names):
    for name in names:
        setattr(cls, name, _tn_left_out(vars(cls)[name]))


def _tn_forget_parents_owners():
    """A forked child leaves what its parent made to the parent: the
    objects, their threads and their sessions are the parent's."""
    _tn_exit_calls.clear()


_tn_os.register_at_fork(after_in_child=_tn_forget_parents_owners)


@_tn_atexit.register
def _tn_stop_running_owners():
    for order, references, running, method in sorted(list(_tn_exit_calls.values()), key=lambda entry: entry[0]):
        objects = [reference() for reference in references]
        try:
            if all(item is not None for item in objects) and (running is None or getattr(objects[0], running)()):
                getattr(objects[0], method)(*objects[1:])
        except Exception:
            pass
    _tn_exit_calls.clear()
%}

/* Reports of failed Python overrides. WRITE writes a line (Python's
 * sys.stdout: tn_write_stdout_line; the process's:
 * tn_write_process_stdout_line); SEPARATOR goes between an exception's type
 * name and its message.
 *
 * A Python override that raised: its exception becomes the report line and
 * a forwarding exception thrown into the SDK caller (the caller holds the
 * interpreter lock, an exception is pending). An answer the operation cannot
 * take: the error its refusal left pending becomes the report line and stays
 * pending (tn_director_refused, as the call ends). */
%define TN_DIRECTOR_ERROR_REPORT_TO(SEPARATOR, WRITE)
%{
/* "In method 'M': " and the exception's type name and message. */
static std::string tn_report_line(const char *aMethod, PyObject *aType, PyObject *aValue)
{
    std::string line = "In method '";
    line += aMethod;
    line += "': ";
    PyObject *name = aType != NULL ? PyObject_GetAttrString(aType, "__name__") : NULL;
    line += tn_object_text(name);
    Py_XDECREF(name);
    line += SEPARATOR;
    line += tn_object_text(aValue);
    return line;
}

static void tn_director_failed(const char *aMethod)
{
    PyObject *type = NULL, *value = NULL, *traceback = NULL;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != NULL && traceback != NULL) {
        PyException_SetTraceback(value, traceback);
    }
    if (value != NULL && tn_keep_interrupt(value)) {
        // Ctrl-C on the main thread: the wrapper call running the override
        // raises it; the override did not fail.
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(traceback);
        tn_forwarding_reported();
        Swig::DirectorMethodException::raise("interrupted");
    }
    const std::string line = tn_report_line(aMethod, type, value);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    PyErr_Clear();
    WRITE(line);
    tn_forwarding_reported();
    Swig::DirectorMethodException::raise(line.c_str());
}

static void tn_director_refused(const char *aMethod)
{
    PyObject *error = PyErr_GetRaisedException();
    if (error == NULL) {
        return;
    }
    // The look-up of a method the object lacks leaves its AttributeError.
    if (!PyErr_GivenExceptionMatches(error, PyExc_AttributeError)) {
        WRITE(tn_report_line(aMethod, reinterpret_cast<PyObject *>(Py_TYPE(error)), error));
    }
    PyErr_SetRaisedException(error);
}
%}
%feature("director:except") %{
    if ($error != NULL) {
        tn_director_failed("$symname");
    }
%}
%enddef
%define TN_DIRECTOR_ERROR_REPORT(SEPARATOR)
TN_DIRECTOR_ERROR_REPORT_TO(SEPARATOR, tn_write_stdout_line)
%enddef

/* Classes Python may override (forwarding objects). Their `disown_` function
 * takes its reference on the Python object here, while converting `self`
 * with the interpreter lock held: the runtime's own disown call, made with
 * the lock released, then finds it taken and does nothing. Their `delete_`
 * function retires the forwarding object before deleting it. */
%{
static inline bool tn_is_disown(const char *aName)
{
    return strncmp(aName, "disown_", 7) == 0;
}
%}
%define TN_DIRECTOR(CLASS)
%feature("director") CLASS;
%typemap(in, noblock=1) CLASS *self (void *argp = 0, int res = 0, int owned = 0, PyObject *tnlender = 0,
                                     PyObject *tnthis = 0, TnUse tnuse) {
TN_SELF_CONVERSION(1)
  if (tn_is_disown("$symname") && $1 != NULL) {
    Swig::Director *director = SWIG_DIRECTOR_CAST($1);
    if (director && tn_director_bound(director)) {
      director->swig_disown();
    }
  }
  if (tn_is_destructor("$symname") && $1 != NULL) {
    Swig::Director *director = SWIG_DIRECTOR_CAST($1);
    if (director) {
      tn_director_retire(director);
    }
  }
}
%enddef
