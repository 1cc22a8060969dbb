/* What the edge module's overridable classes share: the lock taken by their
 * forwarding objects, the objects they hand to Python for one call, the
 * status rule of their results, and the rule that strings take no part in
 * choosing among the forms of the edge classes' functions. */

%fragment("SWIG_AsVal_unsigned_SS_int");

%{
#include <stdint.h>

/* The interpreter lock of a forwarding object's call. A Python error that is
 * pending on the calling thread when the call begins (a failed call before it
 * on the same thread, which the SDK caught and went on from) is set aside
 * while Python runs, so that the Python method never runs with an error
 * pending, and comes back afterwards unless the call left an error of its
 * own. Once the interpreter shuts down, the call throws instead (see
 * tn_enter_python). */
class TnDirectorBlock
{
public:
    TnDirectorBlock() : mState(tn_enter_python()), mHeld(true), mPending(PyErr_GetRaisedException()) {}
    TnDirectorBlock(const TnDirectorBlock &) = delete;
    TnDirectorBlock &operator=(const TnDirectorBlock &) = delete;

    void end()
    {
        if (!mHeld) {
            return;
        }
        if (mPending != NULL) {
            if (PyErr_Occurred() != NULL) {
                Py_DECREF(mPending);
            } else {
                PyErr_SetRaisedException(mPending);
            }
            mPending = NULL;
        }
        mHeld = false;
        PyGILState_Release(mState);
    }

    ~TnDirectorBlock()
    {
        end();
    }

private:
    PyGILState_STATE mState;
    bool mHeld;
    PyObject *mPending;
};

/* Every forwarding object below takes the lock this way. */
#undef SWIG_PYTHON_THREAD_BEGIN_BLOCK
#define SWIG_PYTHON_THREAD_BEGIN_BLOCK TN_FORWARDING_CALL(TnDirectorBlock)

/* An object handed to a Python override for the length of one call (a
 * typemap local of the forwarding method): the SDK object behind it (a
 * string, a factory, a store, a register, a buffer location) is the SDK's
 * and valid only during the call, so when the call is over the proxy is
 * emptied: a proxy that Python kept then refuses every call as None would,
 * instead of reaching an object that is gone. */
class TnCallProxy
{
public:
    TnCallProxy() : mProxy(NULL) {}
    TnCallProxy(const TnCallProxy &) = delete;
    TnCallProxy &operator=(const TnCallProxy &) = delete;

    /* Takes its own reference; called with the interpreter lock held. */
    void Hold(PyObject *aProxy)
    {
        if (aProxy != NULL && aProxy != Py_None) {
            Py_INCREF(aProxy);
            mProxy = aProxy;
        }
    }

    ~TnCallProxy()
    {
        if (mProxy == NULL) {
            return;
        }
        PyGILState_STATE state = PyGILState_Ensure();
        PyObject *pending = PyErr_GetRaisedException();
        SwigPyObject *pointer = SWIG_Python_GetSwigThis(mProxy);
        if (pointer != NULL) {
            pointer->ptr = NULL;
        }
        PyErr_Clear();
        Py_DECREF(mProxy);
        PyErr_SetRaisedException(pending);
        PyGILState_Release(state);
    }

private:
    PyObject *mProxy;
};

/* The status rule: an int in the signed 32-bit range (bool included) gives a
 * result with that code, a TnResult made by any module a copy of it. False
 * for anything else, None and a missing tuple item (null) included. */
static bool tn_status_from_python(PyObject *aObject, TnResult &aResult)
{
    if (aObject == NULL) {
        return false;
    }
    if (PyLong_Check(aObject)) {
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(aObject, &overflow);
        if (overflow != 0 || value < INT32_MIN || value > INT32_MAX || (value == -1 && PyErr_Occurred())) {
            PyErr_Clear();
            return false;
        }
        aResult = TnResult();
        aResult.SetCode(static_cast<unsigned int>(static_cast<int32_t>(value)));
        return true;
    }
    void *result = NULL;
    if (SWIG_IsOK(SWIG_ConvertPtr(aObject, &result, SWIGTYPE_p_TnResult, 0)) && result != NULL) {
        aResult = *reinterpret_cast<TnResult *>(result);
        return true;
    }
    return false;
}

/* An unsigned 32-bit out value of a forwarded call: a Python int from 0 to
 * 4294967295; OverflowError for other ints, TypeError for anything else. */
static void tn_unsigned_from_python(PyObject *aObject, uint32_t &aValue)
{
    unsigned int value = 0;
    const int res = aObject != NULL ? SWIG_AsVal_unsigned_SS_int(aObject, &value) : SWIG_TypeError;
    if (!SWIG_IsOK(res)) {
        Swig::DirectorTypeMismatchException::raise(SWIG_ErrorType(SWIG_ArgError(res)),
                                                   "in output value of type 'uint32_t'");
    }
    aValue = value;
}

/* Item aIndex of a tuple result, or null when the tuple is shorter (the
 * IndexError stays pending). */
static PyObject *tn_result_item(PyObject *aTuple, Py_ssize_t aIndex)
{
    return PyTuple_Check(aTuple) ? PyTuple_GetItem(aTuple, aIndex) : NULL;
}

/* An item that is itself a tuple stands for its own item aIndex. */
static PyObject *tn_unwrapped_item(PyObject *aItem, Py_ssize_t aIndex)
{
    return aItem != NULL && PyTuple_Check(aItem) ? PyTuple_GetItem(aItem, aIndex) : aItem;
}
%}

/* The status rule for TnResult results of forwarded operations. */
%define TN_STATUS_RULE(INPUT, RESULT, DETAIL)
    if (!tn_status_from_python(INPUT, RESULT)) {
        Swig::DirectorTypeMismatchException::raise(PyExc_TypeError, DETAIL);
    }
%enddef
%typemap(directorout) TnResult {
TN_STATUS_RULE($input, $result, "in method $symname with output value of type 'TnResult'")
}

/* Per-call objects handed to overrides (TnCallProxy above). */
%define TN_CALL_POINTER(TYPE)
%typemap(directorin) TYPE (TnCallProxy proxy) {
    $input = SWIG_NewPointerObj(SWIG_as_voidptr($1), $descriptor, 0);
    proxy.Hold($input);
}
%enddef
%define TN_CALL_REFERENCE(TYPE)
%typemap(directorin) TYPE (TnCallProxy proxy) {
    $input = SWIG_NewPointerObj(SWIG_as_voidptr(&$1), $descriptor, 0);
    proxy.Hold($input);
}
%enddef
TN_CALL_REFERENCE(TnString const &)
TN_CALL_POINTER(ITnRegisterMap *)
TN_CALL_POINTER(ITnRegisterFactory *)
TN_CALL_POINTER(ITnGenApiFactory *)
TN_CALL_POINTER(ITnRegister *)
TN_CALL_POINTER(ITnRegisterStore *)
TN_CALL_POINTER(TnBuffer **)

/* The edge classes' functions choose among their forms by the other
 * arguments: a string never decides, so a non-string in its place reaches
 * the string conversion and its "failed to create TnString" message. */
%typecheck(145) TnString const & {
    $1 = 1;
}

/* The edge module's overridable classes. Their proxy objects end their
 * forwarding object with themselves: a pointer object kept past its Python
 * object (its "this") then refuses every call, where it would otherwise
 * forward calls to an object that is gone.
 *
 * Their destruction, with the interpreter lock released, first makes the
 * software devices, registers and sources that may call the object call it
 * no more (waiting for their calls in progress, which the retired forwarding
 * object refuses): their own destructors do it only after the forwarding
 * object's part is gone, when a call would reach the class's pure
 * operations. */
%{
#include "ITnRegister.h"
#include "ITnStreamingChannelSource.h"
#include "ITnVirtualDeviceGEV.h"
#include "TnStreamingChannelSourceTrigger.h"

template <typename Object, typename Kind> static void tn_edge_release_as(Object *aObject)
{
    if (Kind *kind = dynamic_cast<Kind *>(aObject)) {
        TnSoftDeviceRelease(kind);
    }
}

template <typename Object> static void tn_edge_release(Object *aObject)
{
    tn_edge_release_as<Object, ITnRegisterEventSink>(aObject);
    tn_edge_release_as<Object, ITnUserSetNotify>(aObject);
    tn_edge_release_as<Object, ITnVirtualDeviceGEVEventSink>(aObject);
    tn_edge_release_as<Object, ITnSWStreamingChannelSource>(aObject);
    tn_edge_release_as<Object, ITnTriggerCallback>(aObject);
}
%}
%define TN_EDGE_DIRECTOR(CLASS)
TN_DIRECTOR(CLASS)
%feature("action") CLASS::~CLASS {
    tn_edge_release(arg1);
    delete arg1;
}
%extend CLASS {
%pythoncode %{
    def __del__(self):
        try:
            this = self.__dict__.get("this")
            if this is not None and this.own():
                type(self).__swig_destroy__(self)
        except Exception:
            pass
%}
}
%enddef
