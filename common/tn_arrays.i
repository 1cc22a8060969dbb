/* numpy arrays handed to the SDK as memory. */

%fragment("NumPy_Fragments");

%{
/* A Python object as a C-contiguous one-dimensional uint8 array: an array of
 * an equivalent type is taken as it is, anything else numpy converts into a
 * new array (*aIsNew set). Null with the Python error set on failure. */
static PyArrayObject *tn_array_1d(PyObject *aObject, int *aIsNew)
{
    *aIsNew = 0;
    PyArrayObject *array = obj_to_array_contiguous_allow_conversion(aObject, NPY_UBYTE, aIsNew);
    npy_intp size[1] = {-1};
    if (array == NULL || !require_dimensions(array, 1) || !require_size(array, size, 1)) {
        if (array != NULL && *aIsNew) {
            Py_DECREF(array);
        }
        *aIsNew = 0;
        return NULL;
    }
    return array;
}
%}

/* The memory of a one-dimensional uint8 array and its length as a 32-bit
 * count. The call only reads it while it runs: a converted copy is released
 * after the call. Lengths that do not fit 32 bits are refused. */
%define TN_ARRAY_1D_IN_UINT32(POINTER, LENGTH)
%typemap(in) (POINTER, LENGTH) (PyArrayObject *memory = NULL, int converted = 0) {
    memory = tn_array_1d($input, &converted);
    if (memory == NULL) {
        SWIG_fail;
    }
    if (array_size(memory, 0) > (npy_intp)UINT32_MAX) {
        PyErr_Format(PyExc_OverflowError, "in method '$symname', argument $argnum: %zd bytes are more than 4294967295",
                     (Py_ssize_t)array_size(memory, 0));
        SWIG_fail;
    }
    $1 = ($1_ltype)array_data(memory);
    $2 = ($2_ltype)array_size(memory, 0);
}
%typemap(freearg) (POINTER, LENGTH) {
    if (converted$argnum && memory$argnum != NULL) {
        Py_DECREF(memory$argnum);
    }
}
%enddef
