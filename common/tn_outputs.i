/* Outputs: values an SDK call writes through reference arguments that the
 * Python call does not pass. They follow the call's result in a list, each
 * None unless the result is OK (gated), or whatever it is (plain). Every
 * value and proxy made here is checked: one that cannot be made ends the
 * call with its error. The wrapped call's result must be a `TnResult` named
 * `result` for the gated forms. */

%{
/* Output lists: values an SDK call wrote through reference arguments follow
 * its result in a list. A value or a result that could not be made (a proxy
 * class that refuses its instances, no memory) ends the call with its error. */

/* Appends aValue to the output list aResult (a single result becomes the
 * list's first item); both references are taken. Null with the error set
 * when either is null or the list cannot grow. */
static PyObject *tn_append_output(PyObject *aResult, PyObject *aValue)
{
    if (aResult == NULL || aValue == NULL) {
        Py_XDECREF(aResult);
        Py_XDECREF(aValue);
        return NULL;
    }
    if (!PyList_Check(aResult)) {
        PyObject *list = PyList_New(2);
        if (list == NULL) {
            Py_DECREF(aResult);
            Py_DECREF(aValue);
            return NULL;
        }
        PyList_SET_ITEM(list, 0, aResult);
        PyList_SET_ITEM(list, 1, aValue);
        return list;
    }
    const int failed = PyList_Append(aResult, aValue);
    Py_DECREF(aValue);
    if (failed != 0) {
        Py_DECREF(aResult);
        return NULL;
    }
    return aResult;
}

/* Appends an output value, or None when the call's result is not OK; the
 * value is released either way. */
static PyObject *tn_append_gated(PyObject *aResult, bool aOK, PyObject *aValue)
{
    if (!aOK) {
        Py_XDECREF(aValue);
        aValue = SWIG_Py_Void();
    }
    return tn_append_output(aResult, aValue);
}

/* A tuple of the result and aCount further values; null when any is null. */
static PyObject *tn_output_tuple(PyObject *aResult, PyObject **aValues, int aCount)
{
    bool complete = aResult != NULL;
    for (int i = 0; i < aCount; ++i) {
        complete = complete && aValues[i] != NULL;
    }
    PyObject *tuple = complete ? PyTuple_New(aCount + 1) : NULL;
    if (tuple == NULL) {
        Py_XDECREF(aResult);
        for (int i = 0; i < aCount; ++i) {
            Py_XDECREF(aValues[i]);
        }
        return NULL;
    }
    PyTuple_SET_ITEM(tuple, 0, aResult);
    for (int i = 0; i < aCount; ++i) {
        PyTuple_SET_ITEM(tuple, i + 1, aValues[i]);
    }
    return tuple;
}
%}

%fragment("SWIG_From_long_SS_long");
%fragment("SWIG_From_unsigned_SS_int");
%fragment("SWIG_From_double");
%fragment("SWIG_From_bool");

/* In an argout typemap: $result = EXPRESSION, which must take $result's
 * reference. Skipped when the call's result, or an earlier output, could not
 * be made; the call fails when EXPRESSION does. */
%define TN_APPEND(EXPRESSION)
    if ($result == NULL) {
        SWIG_fail;
    }
    $result = EXPRESSION;
    if ($result == NULL) {
        SWIG_fail;
    }
%enddef

/* TYPE & written by the SDK, started at INIT, converted by TO_PYTHON (an
 * expression over $1, the pointer to the value). */
%define TN_GATED_OUTPUT(TYPE, INIT, TO_PYTHON)
%typemap(in, numinputs=0) TYPE & (TYPE temporary INIT) {
    $1 = &temporary;
}
%typemap(argout) TYPE & {
    TN_APPEND(tn_append_gated($result, result.IsOK(), result.IsOK() ? TO_PYTHON : NULL))
}
%enddef

/* The same, appended whatever the result says. */
%define TN_PLAIN_OUTPUT(DECLARATION, INIT, TO_PYTHON)
%typemap(in, numinputs=0) DECLARATION (INIT) {
    $1 = &value;
}
%typemap(argout) DECLARATION {
    TN_APPEND(tn_append_output($result, TO_PYTHON))
}
%enddef

/* TYPE & written by the SDK as the one value of a tuple (result, value),
 * the value None unless the result is OK. */
%define TN_GATED_TUPLE_OUTPUT(DECLARATION, INIT, TO_PYTHON)
%typemap(in, numinputs=0) DECLARATION (INIT) {
    $1 = &value;
}
%typemap(argout) DECLARATION {
    if ($result == NULL) {
        SWIG_fail;
    }
    PyObject *values[1] = {result.IsOK() ? TO_PYTHON : SWIG_Py_Void()};
    $result = tn_output_tuple($result, values, 1);
    if ($result == NULL) {
        SWIG_fail;
    }
}
%enddef

/* A range: a tuple of the result, the minimum and the maximum, both None
 * unless the result is OK. */
%define TN_RANGE_OUTPUT(TYPE, TO_PYTHON)
%typemap(in, numinputs=0) (TYPE &aMin, TYPE &aMax) (TYPE minimum = 0, TYPE maximum = 0) {
    $1 = &minimum;
    $2 = &maximum;
}
%typemap(argout) (TYPE &aMin, TYPE &aMax) {
    if ($result == NULL) {
        SWIG_fail;
    }
    PyObject *limits[2] = {result.IsOK() ? TO_PYTHON(*$1) : SWIG_Py_Void(),
                           result.IsOK() ? TO_PYTHON(*$2) : SWIG_Py_Void()};
    $result = tn_output_tuple($result, limits, 2);
    if ($result == NULL) {
        SWIG_fail;
    }
}
%enddef

/* Tuples that grow: the fragment is emitted where a typemap uses it. */
%fragment("tn_tuple_append", "header") %{
/* A tuple of the call's result and the values after it: made of the result
 * alone, or grown by one value. Both references are taken; null when either
 * is null or the tuple cannot be made. */
static PyObject *tn_tuple_append(PyObject *aResult, PyObject *aValue)
{
    if (aResult == NULL || aValue == NULL) {
        Py_XDECREF(aResult);
        Py_XDECREF(aValue);
        return NULL;
    }
    const Py_ssize_t size = PyTuple_Check(aResult) ? PyTuple_GET_SIZE(aResult) : 1;
    PyObject *tuple = PyTuple_New(size + 1);
    if (tuple == NULL) {
        Py_DECREF(aResult);
        Py_DECREF(aValue);
        return NULL;
    }
    if (PyTuple_Check(aResult)) {
        for (Py_ssize_t i = 0; i < size; ++i) {
            PyObject *item = PyTuple_GET_ITEM(aResult, i);
            Py_INCREF(item);
            PyTuple_SET_ITEM(tuple, i, item);
        }
        Py_DECREF(aResult);
    } else {
        PyTuple_SET_ITEM(tuple, 0, aResult);
    }
    PyTuple_SET_ITEM(tuple, size, aValue);
    return tuple;
}
%}

/* TYPE & written by the SDK, appended to the call's tuple whatever the
 * result says. */
%define TN_TUPLE_APPEND(DECLARATION, TO_PYTHON)
%typemap(argout, fragment="tn_tuple_append") DECLARATION {
    $result = tn_tuple_append($result, TO_PYTHON);
    if ($result == NULL) {
        SWIG_fail;
    }
}
%enddef
%define TN_TUPLE_OUTPUT(DECLARATION, INIT, TO_PYTHON)
%typemap(in, numinputs=0) DECLARATION (INIT) {
    $1 = &value;
}
TN_TUPLE_APPEND(DECLARATION, TO_PYTHON)
%enddef

/* The same for an argument the Python call passes and the SDK never reads:
 * the object passed is not looked at. */
%define TN_PASSED_TUPLE_OUTPUT(DECLARATION, INIT, TO_PYTHON)
%typemap(in) DECLARATION (INIT) {
    (void)$input;
    $1 = &value;
}
TN_TUPLE_APPEND(DECLARATION, TO_PYTHON)
%enddef

/* Three values written by the SDK, after the call's result in a tuple, as
 * they are after the call whatever the result. LOCALS declares the three
 * slots FIRST, SECOND and THIRD with their start values. */
%define TN_TUPLE_TRIPLE_OUTPUT(DECLARATION, LOCALS, FIRST, SECOND, THIRD, TO_PYTHON_1, TO_PYTHON_2, TO_PYTHON_3)
%typemap(in, numinputs=0) DECLARATION LOCALS {
    $1 = &FIRST;
    $2 = &SECOND;
    $3 = &THIRD;
}
%typemap(argout) DECLARATION {
    if ($result == NULL) {
        SWIG_fail;
    }
    {
        PyObject *values[3] = {TO_PYTHON_1,
                               TO_PYTHON_2, TO_PYTHON_3};
        $result = tn_output_tuple($result, values, 3);
    }
    if ($result == NULL) {
        SWIG_fail;
    }
}
%enddef

/* Three uint32_t written by the SDK as the tuple a call without a result
 * answers; the slots FIRST, SECOND and THIRD start at 0. */
%define TN_UINT32_TRIPLE_OUTPUT(DECLARATION, FIRST, SECOND, THIRD)
%typemap(in, numinputs=0) DECLARATION
    (uint32_t FIRST = 0, uint32_t SECOND = 0, uint32_t THIRD = 0) {
    $1 = &FIRST;
    $2 = &SECOND;
    $3 = &THIRD;
}
%typemap(argout) DECLARATION {
    Py_XDECREF($result);
    $result = Py_BuildValue("(III)", (unsigned int)*$1, (unsigned int)*$2, (unsigned int)*$3);
    if ($result == NULL) {
        SWIG_fail;
    }
}
%enddef

/* A pointer argument handed back after the call's result in a tuple: a new
 * borrowed proxy (of the type record DESCRIPTOR) when the result is OK and
 * the pointer is not null, else None. The proxy keeps what keeps the
 * argument alive (not the object the method was called on): the program
 * may drop the argument's own name. */
%{
static PyObject *tn_argument_handed_back(void *aPointer, swig_type_info *aType, PyObject *aArgument)
{
    PyObject *proxy = tn_new_pointer_obj(NULL, aPointer, aType, 0);
    if (proxy != NULL) {
        tn_keep_owner(proxy, aArgument);
    }
    return proxy;
}
%}
%define TN_GATED_TUPLE_ARGUMENT(DECLARATION, DESCRIPTOR)
%typemap(argout) DECLARATION {
    if ($result == NULL) {
        SWIG_fail;
    }
    {
        PyObject *values[1] = {result.IsOK() && $1 != NULL ? tn_argument_handed_back(SWIG_as_voidptr($1), DESCRIPTOR, $input)
                                                          : SWIG_Py_Void()};
        $result = tn_output_tuple($result, values, 1);
    }
    if ($result == NULL) {
        SWIG_fail;
    }
}
%enddef
