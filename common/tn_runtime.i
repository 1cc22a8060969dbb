/* Settings and helpers shared by the three modules: standard integer types,
 * wide strings, the exception handling around every SDK call, the refusal of
 * None as `self`, the report of failures in Python overrides and numpy's
 * array interface. Include it first, right after %module. */

%include <stdint.i>
%include <cwstring.i>
%include <exception.i>
%include "numpy.i"

%begin %{
/* Built against numpy 2 headers at the 1.16 feature level, which numpy 1.x
 * and 2.x runtimes both serve. */
#define NPY_TARGET_VERSION NPY_1_16_API_VERSION
#define SWIG_FILE_WITH_INIT
/* The runtime's own _swiginit helper releases a null result when the pointer
 * to append is no pointer object; it is replaced below. */
#define SWIG_Python_InitShadowInstance tn_runtime_init_shadow_instance_unused
%}

%{
#undef SWIG_Python_InitShadowInstance

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
%}

%{
#include <new>
#include <stdexcept>
#include <string>

/* numpy's array interface, imported at start-up. */
static int tn_import_numpy(void)
{
    if (_import_array() < 0) {
        PyErr_Print();
        PyErr_SetString(PyExc_ImportError, "numpy.core.multiarray failed to import");
        return -1;
    }
    return 0;
}

/* Writes one line to Python's standard output, or to the process's when
 * Python has none. */
static void tn_write_stdout_line(const std::string &aLine)
{
    PyObject *out = PySys_GetObject("stdout");
    if (out != NULL && out != Py_None && PyFile_WriteString(aLine.c_str(), out) == 0 &&
        PyFile_WriteString("\n", out) == 0) {
        PyObject *flushed = PyObject_CallMethod(out, "flush", NULL);
        Py_XDECREF(flushed);
        PyErr_Clear();
        return;
    }
    PyErr_Clear();
    fprintf(stdout, "%s\n", aLine.c_str());
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

/* Releases a failed Python override's exception as a report on standard output
 * and a forwarding exception thrown into the SDK caller. The caller holds the
 * interpreter lock and an exception is pending. */
%define TN_DIRECTOR_ERROR_REPORT(SEPARATOR)
%{
static void tn_director_failed(const char *aMethod)
{
    PyObject *type = NULL, *value = NULL, *traceback = NULL;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    std::string line = "In method '";
    line += aMethod;
    line += "': ";
    PyObject *name = type != NULL ? PyObject_GetAttrString(type, "__name__") : NULL;
    line += tn_object_text(name);
    Py_XDECREF(name);
    line += SEPARATOR;
    line += tn_object_text(value);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    PyErr_Clear();
    tn_write_stdout_line(line);
    Swig::DirectorMethodException::raise(line.c_str());
}
%}
%feature("director:except") %{
    if ($error != NULL) {
        tn_director_failed("$symname");
    }
%}
%enddef

/* Every SDK call: a forwarding exception ends the call with the Python error
 * it set; other C++ exceptions become Python exceptions. A forwarding failure
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
%exception {
    try {
        $action
    } TN_CATCH_DIRECTOR_EXCEPTION catch (const std::bad_alloc &) {
        PyErr_NoMemory();
        SWIG_fail;
    } catch (const std::exception &e) {
        SWIG_exception_fail(SWIG_RuntimeError, e.what());
    } catch (...) {
        SWIG_exception_fail(SWIG_RuntimeError, "unknown exception in the SDK");
    }
    if (PyErr_Occurred() != NULL) {
        PyErr_Clear();
    }
}

/* None is a null pointer for pointer parameters, but never a `self`: such a
 * call is refused before it reaches the SDK. Destructors keep accepting None
 * and destroy nothing. */
%{
static inline bool tn_is_destructor(const char *aName)
{
    return aName[0] == 'd' && aName[1] == 'e' && aName[2] == 'l' && aName[3] == 'e' && aName[4] == 't' &&
           aName[5] == 'e' && aName[6] == '_';
}
%}
%typemap(check) SWIGTYPE *self %{
    if ($1 == NULL && !tn_is_destructor("$symname")) {
        SWIG_exception_fail(SWIG_TypeError, "in method '" "$symname" "', argument " "$argnum" " of type '" "$1_type" "'");
    }
%}
%typemap(check) PyObject *self ""

/* Installs numpy's array interface at this point of the module's start-up. */
%define TN_IMPORT_NUMPY
%init %{
    if (tn_import_numpy() < 0) {
        return NULL;
    }
%}
%enddef
