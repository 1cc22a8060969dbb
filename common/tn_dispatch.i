/* Hand-written dispatchers over a const and a non-const form of one method
 * with the same arguments (SWIG keeps only one form of such a pair). They
 * behave as the dispatchers SWIG generates: the count message with the
 * overload text behind "Additional information:", None as `self` passing the
 * overload test and then refused with the argument-1 message (which names
 * the class without const), anything else the overload message. */

%fragment("SWIG_AsVal_unsigned_SS_int");

%{
/* Unpacks and tests the arguments of such a dispatcher: `self` of aType and
 * aIndexCount (0 or 1) uint32 arguments. 1 with *aObject (and *aIndex) set
 * when they fit; 0 with the Python error set when they do not. */
static int tn_const_pair_arguments(PyObject *aArgs, const char *aName, swig_type_info *aType, const char *aSelfType,
                                   int aIndexCount, const char *aOverloads, void **aObject, unsigned int *aIndex)
{
    PyObject *argv[3] = {0, 0, 0};
    Py_ssize_t argc = SWIG_Python_UnpackTuple(aArgs, aName, 0, 1 + aIndexCount, argv);
    if (argc != 0 && argc - 1 == 1 + aIndexCount && SWIG_CheckState(SWIG_ConvertPtr(argv[0], aObject, aType, 0)) &&
        (aIndexCount == 0 || SWIG_CheckState(SWIG_AsVal_unsigned_SS_int(argv[1], NULL)))) {
        if (*aObject == NULL) {
            PyErr_Format(PyExc_TypeError, "in method '%s', argument 1 of type '%s'", aName, aSelfType);
            return 0;
        }
        if (aIndexCount == 1 && !SWIG_IsOK(SWIG_AsVal_unsigned_SS_int(argv[1], aIndex))) {
            PyErr_Format(PyExc_TypeError, "in method '%s', argument 2 of type 'uint32_t'", aName);
            return 0;
        }
        return 1;
    }
    SWIG_Python_RaiseOrModifyTypeError(aOverloads);
    return 0;
}
%}

/* CLASS_METHOD over the pair: INDEXES is 0 (only `self`) or 1 (`self` and a
 * uint32 `index`); CALL computes the RESULT from `object` (a CLASS *) and
 * `index` with the interpreter lock released and a record of the use of
 * `self`; CONVERT makes the Python value
 * of `result` (an object it makes keeps `self`'s owner alive, as those of
 * every method do); PROTOTYPES are the overload lines. */
%define TN_CONST_PAIR(CLASS, METHOD, INDEXES, CALL, RESULT, CONVERT, PROTOTYPES)
%native(CLASS##_##METHOD) PyObject *_wrap_##CLASS##_##METHOD(PyObject *self, PyObject *args);
%{
SWIGINTERN PyObject *_wrap_##CLASS##_##METHOD(PyObject *self, PyObject *args)
{
    void *pointer = NULL;
    unsigned int index = 0;
    (void)self;
    if (!tn_const_pair_arguments(args, #CLASS "_" #METHOD, SWIGTYPE_p_##CLASS, #CLASS " *", INDEXES,
                                 "Wrong number or type of arguments for overloaded function '" #CLASS "_" #METHOD "'.\n"
                                 "  Possible C/C++ prototypes are:\n" PROTOTYPES,
                                 &pointer, &index)) {
        return NULL;
    }
    CLASS *object = reinterpret_cast<CLASS *>(pointer);
    PyObject *tnlender1 = PyTuple_GET_ITEM(args, 0);
    (void)tnlender1;
    (void)index;
    // The call uses `self` until it returns: another thread's destruction
    // of it waits, as for every wrapped call.
    TnUse use;
    if (!tn_use_begin(use, tn_use_pointer(tnlender1), &use)) {
        return NULL;
    }
    RESULT result;
    SWIG_PYTHON_THREAD_BEGIN_ALLOW;
    result = CALL;
    SWIG_PYTHON_THREAD_END_ALLOW;
    return CONVERT;
}
%}
%extend CLASS {
%pythoncode %{
    def METHOD(self, *args):
        return _tn_extension.CLASS##_##METHOD(self, *args)
%}
}
%enddef
