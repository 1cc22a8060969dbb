/* Rules every wrapper of every module follows: standard integer types, wide
 * strings, numpy's array interface, the pointer objects and the proxies the
 * wrappers make, and the exception handling around every SDK call. Its
 * parts: argument unpacking and `self` (tn_arguments.i), objects lent between
 * Python and the SDK (tn_lifetime.i), the objects calls in progress use
 * (tn_uses.i), the lifetime of forwarding objects and
 * the report of failures in Python overrides (tn_forwarding.i), interrupts
 * (tn_interrupt.i); output values are tn_outputs.i's. Nothing in common/
 * names a module; a module's interface starts with tn_module.i, which
 * includes this file first. */

%include <stdint.i>
%include <cwstring.i>
%include <exception.i>
%include "tn_startup.i"
%include "tn_numpy.i"
%include "tn_interrupt.i"

%begin %{
/* The runtime's own _swiginit helper releases a null result when the pointer
 * to append is no pointer object; it is replaced below. */
#define SWIG_Python_InitShadowInstance tn_runtime_init_shadow_instance_unused
/* The runtime's proxy maker serves only the runtime itself; the wrappers take
 * the one below. */
#define SWIG_Python_NewPointerObj tn_runtime_new_pointer_obj
%}

%{
#include <new>
#include <stdexcept>
#include <string>
#include <string.h>

#undef SWIG_Python_InitShadowInstance
#undef SWIG_Python_NewPointerObj
%}

/* Argument tuples and `self`. */
%include "tn_arguments.i"

/* The proxies the wrappers make. */
%{
/* _swiginit: attaches a pointer object to a proxy instance, or appends it to
 * the chain of the one the instance has. */
static PyObject *SWIG_Python_InitShadowInstance(PyObject *args)
{
    PyObject *obj[2];
    if (!SWIG_Python_UnpackTuple(args, "swiginit", 2, 2, obj)) {
        return NULL;
    }
    SwigPyObject *sthis = SWIG_Python_GetSwigThis(obj[0]);
    if (sthis) {
        PyObject *appended = SwigPyObject_append((PyObject *)sthis, obj[1]);
        if (appended == NULL) {
            return NULL;
        }
        Py_DECREF(appended);
    } else if (SWIG_Python_SetSwigThis(obj[0], obj[1]) != 0) {
        return NULL;
    }
    return SWIG_Py_Void();
}

/* A pointer object wrapped in an instance of its type's proxy class (a new
 * reference; the pointer object's stays the caller's). Every call that hands
 * out an object makes one, so the instance is made the short way: allocated
 * as object.__new__ would (the class's own __new__ called without arguments
 * where it has one), and `this` set as an attribute under its interned name.
 * The runtime's own way builds an argument tuple and dictionary per instance,
 * interns the name anew and marks the proxy class modified, which empties the
 * interpreter's attribute cache of the class each time. */
static PyObject *tn_wrap_pointer_obj(SwigPyClientData *aData, PyObject *aPointer)
{
    if (aData->newraw != NULL || !PyType_Check(aData->newargs)) {
        return SWIG_Python_NewShadowInstance(aData, aPointer);
    }
    PyTypeObject *proxyClass = reinterpret_cast<PyTypeObject *>(aData->newargs);
    PyObject *instance = NULL;
    if (proxyClass->tp_new == PyBaseObject_Type.tp_new && (proxyClass->tp_flags & Py_TPFLAGS_IS_ABSTRACT) == 0) {
        instance = proxyClass->tp_alloc(proxyClass, 0);
    } else {
        PyObject *noArguments = PyTuple_New(0);
        instance = noArguments != NULL ? proxyClass->tp_new(proxyClass, noArguments, NULL) : NULL;
        Py_XDECREF(noArguments);
    }
    /* The attribute's name interned once, as the interpreter keeps names. */
    if (!PyUnicode_CHECK_INTERNED(SWIG_This())) {
        PyUnicode_InternInPlace(&Swig_This_global);
    }
    if (instance != NULL && PyObject_SetAttr(instance, SWIG_This(), aPointer) != 0) {
        Py_CLEAR(instance);
    }
    return instance;
}

/* The runtime's pointer-object maker: what the runtime itself hands out
 * lends nothing (tn_lifetime.i). */
static PyObject *tn_new_pointer_obj(PyObject *aLender, void *aPointer, swig_type_info *aType, int aFlags);
static PyObject *SWIG_Python_NewPointerObj(PyObject *, void *aPointer, swig_type_info *aType, int aFlags)
{
    return tn_new_pointer_obj(NULL, aPointer, aType, aFlags);
}
%}


/* Objects lent between Python and the SDK: what borrowed proxies and the
 * SDK's holders keep alive. */
%include "tn_lifetime.i"

/* Calls in progress and the objects they use: what destruction waits for. */
%include "tn_uses.i"

/* The proxy module's own extension module, found without naming it: the
 * proxy module imports it under its own name with a leading underscore.
 * Python code written here calls hand-written functions through it. */
%pythoncode %{
_tn_extension = globals()["_" + __name__.rpartition(".")[2]]
%}

/* Forwarding objects: their Python objects, the interpreter's exit and the
 * report of failures in Python overrides. */
%include "tn_forwarding.i"

/* Every SDK call: a forwarding exception ends the call with the Python error
 * it set; other C++ exceptions become Python exceptions. The unwinding that
 * ends a thread which asks for the interpreter lock after the interpreter
 * shut down goes on (caught, it aborts the process). A forwarding failure
 * that the SDK caught and swallowed leaves an error pending on this thread,
 * which must not outlive the call that returned normally. */
%{
#ifdef SWIG_DIRECTORS
#define TN_CATCH_DIRECTOR_EXCEPTION \
    catch (Swig::DirectorException &) { SWIG_fail; }
#else
#define TN_CATCH_DIRECTOR_EXCEPTION
#endif
%}
/* The SDK call of every wrapper, with what it may throw turned into Python
 * errors; what Python callbacks reported during the call was written and is
 * cleared. On the main thread its waits end when a signal handler raises,
 * and the call raises that exception (tn_interrupt.i). A module's own
 * %exception for one method wraps it. */
%define TN_GUARDED_ACTION
    TN_INTERRUPTIBLE_CALL;
    try {
        $action
    } TN_CATCH_DIRECTOR_EXCEPTION catch (abi::__forced_unwind &) {
        throw;
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
        SWIG_fail;
    } catch (const std::exception &e) {
        SWIG_exception_fail(SWIG_RuntimeError, e.what());
    } catch (...) {
        SWIG_exception_fail(SWIG_RuntimeError, "unknown exception in the SDK");
    }
    TN_INTERRUPTED_FAIL
    if (PyErr_Occurred() != NULL) {
        PyErr_Clear();
    }
%enddef
%exception {
    TN_GUARDED_ACTION
}
