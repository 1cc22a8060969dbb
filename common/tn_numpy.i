/* numpy's C array interface, and the few array helpers the modules use: an
 * object as a C-contiguous array of one element type, and the checks of its
 * dimensions and shape, with numpy's usual messages. Included by
 * tn_runtime.i; TN_IMPORT_NUMPY installs the interface at start-up. */

%begin %{
/* Built against numpy 2 headers at the 1.16 feature level, which numpy 1.x
 * and 2.x runtimes both serve. */
#define NPY_TARGET_VERSION NPY_1_16_API_VERSION
%}

%{
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <stdio.h>
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

static inline bool is_array(PyObject *aObject)
{
    return aObject != NULL && PyArray_Check(aObject);
}

static inline int array_type(PyObject *aObject)
{
    return PyArray_TYPE(reinterpret_cast<PyArrayObject *>(aObject));
}

static inline int array_numdims(PyArrayObject *aArray)
{
    return PyArray_NDIM(aArray);
}

static inline npy_intp array_size(PyArrayObject *aArray, int aDimension)
{
    return PyArray_DIM(aArray, aDimension);
}

static inline void *array_data(PyArrayObject *aArray)
{
    return PyArray_DATA(aArray);
}

/* aObject as a C-contiguous array of element type aType. An array of an
 * equivalent type is taken as it is when it is C-contiguous; anything else
 * numpy converts or copies into a new array (*aIsNew set), and numpy's own
 * error reaches the caller when it cannot. Null on failure. */
static PyArrayObject *obj_to_array_contiguous_allow_conversion(PyObject *aObject, int aType, int *aIsNew)
{
    PyArrayObject *array = NULL;
    *aIsNew = 0;
    if (is_array(aObject) && PyArray_EquivTypenums(array_type(aObject), aType)) {
        array = reinterpret_cast<PyArrayObject *>(aObject);
    } else {
        array = reinterpret_cast<PyArrayObject *>(
            PyArray_FromAny(aObject, PyArray_DescrFromType(aType), 0, 0, NPY_ARRAY_DEFAULT, NULL));
        if (array == NULL) {
            return NULL;
        }
        *aIsNew = 1;
    }
    if (PyArray_ISCONTIGUOUS(array)) {
        return array;
    }
    PyArrayObject *contiguous = reinterpret_cast<PyArrayObject *>(
        PyArray_FromAny(reinterpret_cast<PyObject *>(array), PyArray_DescrFromType(array_type((PyObject *)array)), 0,
                        0, NPY_ARRAY_DEFAULT, NULL));
    if (*aIsNew) {
        Py_DECREF(array);
    }
    *aIsNew = contiguous != NULL;
    return contiguous;
}

/* numpy's word for the kind of a Python object, as its messages use it:
 * "string" names bytes; a str is one of the "unknown type" objects. */
static const char *tn_python_kind(PyObject *aObject)
{
    if (aObject == NULL) {
        return "C NULL value";
    }
    if (aObject == Py_None) {
        return "Python None";
    }
    if (PyCallable_Check(aObject)) {
        return "callable";
    }
    if (PyBytes_Check(aObject)) {
        return "string";
    }
    if (PyLong_Check(aObject)) {
        return "int";
    }
    if (PyFloat_Check(aObject)) {
        return "float";
    }
    if (PyDict_Check(aObject)) {
        return "dict";
    }
    if (PyList_Check(aObject)) {
        return "list";
    }
    if (PyTuple_Check(aObject)) {
        return "tuple";
    }
    return "unknown type";
}

/* Whether the array has aDimensions dimensions; a TypeError when not. */
static int require_dimensions(PyArrayObject *aArray, int aDimensions)
{
    if (array_numdims(aArray) == aDimensions) {
        return 1;
    }
    PyErr_Format(PyExc_TypeError, "Array must have %d dimensions.  Given array has %d dimensions", aDimensions,
                 array_numdims(aArray));
    return 0;
}

/* Whether the array has one of the aCount dimension counts; a TypeError
 * naming them all when not ("2,  or 3"). */
static int require_dimensions_n(PyArrayObject *aArray, const int *aDimensions, int aCount)
{
    for (int i = 0; i < aCount; ++i) {
        if (array_numdims(aArray) == aDimensions[i]) {
            return 1;
        }
    }
    std::string counts;
    for (int i = 0; i + 1 < aCount; ++i) {
        counts += std::to_string(aDimensions[i]) + ", ";
    }
    counts += " or " + std::to_string(aCount > 0 ? aDimensions[aCount - 1] : 0);
    PyErr_Format(PyExc_TypeError, "Array must have %s dimensions.  Given array has %d dimensions", counts.c_str(),
                 array_numdims(aArray));
    return 0;
}

/* Whether the array's first aCount extents are those of aShape, where -1
 * takes any extent; a TypeError showing both shapes when not. */
static int require_size(PyArrayObject *aArray, const npy_intp *aShape, int aCount)
{
    bool fits = aCount <= array_numdims(aArray);
    for (int i = 0; fits && i < aCount; ++i) {
        fits = aShape[i] == -1 || aShape[i] == array_size(aArray, i);
    }
    if (fits) {
        return 1;
    }
    std::string wanted = "[", given = "[";
    for (int i = 0; i < aCount; ++i) {
        wanted += (aShape[i] == -1 ? std::string("*") : std::to_string((long)aShape[i])) + ",";
        given += (i < array_numdims(aArray) ? std::to_string((long)array_size(aArray, i)) : std::string("?")) + ",";
    }
    wanted.back() = ']';
    given.back() = ']';
    PyErr_Format(PyExc_TypeError, "Array must have shape of %s.  Given array has shape of %s", wanted.c_str(),
                 given.c_str());
    return 0;
}
%}

/* Installs numpy's array interface at this point of the module's start-up. */
%define TN_IMPORT_NUMPY
%init %{
    if (tn_import_numpy() < 0) {
        return NULL;
    }
%}
%enddef
