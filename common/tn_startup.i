/* A module's start-up (tn_runtime.i includes it).
 *
 * The runtime makes its object types (pointer objects, packed data, the
 * global-variable link) from type descriptions named without a module,
 * which Python 3.13 warns of as each type is made; under warnings as errors
 * (-W error, PYTHONWARNINGS=error, a test run's filter) the warning is an
 * exception, the type comes back null and the module goes on with it until
 * it crashes. The types are made here as members of the runtime's shared
 * module instead (their names, as the runtime compares them, stay the same),
 * so no warning is given.
 *
 * The module's initialisation function makes the runtime's objects first and
 * calls the runtime's own start-up only when they all exist; a failure of
 * either reaches the import as ImportError (its cause the failure), never as
 * a module half made. */

%begin %{
#if !defined(PY_SSIZE_T_CLEAN)
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>
#include <string.h>

/* A type of the runtime, made with a dotted name (so that it has a module)
 * and then given back the plain name the runtime compares. */
static PyObject *tn_runtime_type_from_spec(PyType_Spec *aSpec)
{
    static const char kModule[] = "swig_runtime_data4.";
    if (aSpec == NULL || aSpec->name == NULL || strchr(aSpec->name, '.') != NULL) {
        return PyType_FromSpec(aSpec);
    }
    char name[128];
    if (sizeof(kModule) + strlen(aSpec->name) > sizeof(name)) {
        return PyType_FromSpec(aSpec);
    }
    strcpy(name, kModule);
    strcat(name, aSpec->name);
    PyType_Spec named = *aSpec;
    named.name = name;
    PyObject *type = PyType_FromSpec(&named);
    if (type != NULL) {
        reinterpret_cast<PyTypeObject *>(type)->tp_name = aSpec->name;
    }
    return type;
}
#define PyType_FromSpec tn_runtime_type_from_spec
%}

%header %{
#undef PyType_FromSpec

/* The module's initialisation function (the name the runtime gives it, here)
 * calls the runtime's, renamed below, through tn_module_start. */
static PyObject *tn_module_start(void);
extern "C" SWIGEXPORT PyObject *SWIG_init(void)
{
    return tn_module_start();
}
#undef SWIG_init
#define SWIG_init tn_runtime_start
#undef SWIGEXPORT
#define SWIGEXPORT __attribute__((visibility("hidden")))
extern "C" SWIGEXPORT PyObject *SWIG_init(void);

/* The pending error (or, with none, aWhat) as the ImportError of the start-up,
 * with the error as its cause. */
static PyObject *tn_start_failed(const char *aWhat)
{
    PyObject *cause = PyErr_GetRaisedException();
    if (cause != NULL && PyErr_GivenExceptionMatches(cause, PyExc_ImportError)) {
        PyErr_SetRaisedException(cause);
        return NULL;
    }
    if (cause != NULL) {
        PyErr_Format(PyExc_ImportError, "%s could not start: %S", SWIG_name, cause);
    } else {
        PyErr_Format(PyExc_ImportError, "%s could not start: %s", SWIG_name, aWhat);
    }
    if (cause != NULL) {
        PyObject *error = PyErr_GetRaisedException();
        if (error != NULL) {
            PyException_SetCause(error, cause); // takes the reference
            PyErr_SetRaisedException(error);
        } else {
            Py_DECREF(cause);
        }
    }
    return NULL;
}

static PyObject *tn_module_start(void)
{
    /* The runtime's process-wide objects, which its start-up takes as made
     * (the attribute name, the type cache, the two object types and the
     * global-variable link, which its end releases). */
    if (SWIG_This() == NULL || SWIG_Python_TypeCache() == NULL || SwigPyPacked_type() == NULL ||
        SwigPyObject_type() == NULL || SWIG_globals() == NULL) {
        return tn_start_failed("the runtime's objects could not be made");
    }
    PyObject *module = SWIG_init();
    if (module == NULL) {
        return tn_start_failed("its start-up failed");
    }
    if (PyErr_Occurred() != NULL) {
        Py_DECREF(module);
        return tn_start_failed("its start-up failed");
    }
    return module;
}
%}
