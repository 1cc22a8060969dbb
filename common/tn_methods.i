/* The methods a forwarding object looks up once and keeps.
 *
 * A forwarding object keeps the Python method of each operation it forwarded
 * (its table of methods), so that later calls skip the lookup. A bound
 * method holds its object, and the table is not seen by the collector: a
 * Python object whose operations the SDK called once would keep itself alive
 * for good (a source added to a software device that started, a sink of a
 * stopped pipeline), with everything it refers to. The table keeps instead
 * the method's function and the object without a reference: the forwarding
 * object ends with its Python object, so the object is there whenever the
 * table is used. The build hands every method the table takes through
 * tn_own_method (cmake/TarnDirectorMethods.cmake). */

%{
/* A method of a forwarding object's own Python object: the function (a
 * reference) and the object (none). */
struct TnOwnMethod
{
    PyObject_HEAD
    PyObject *mFunction;
    PyObject *mSelf;
    vectorcallfunc mVectorcall;
};

static void tn_own_method_dealloc(PyObject *aObject)
{
    PyTypeObject *type = Py_TYPE(aObject);
    Py_XDECREF(reinterpret_cast<TnOwnMethod *>(aObject)->mFunction);
    PyObject_Free(aObject);
    Py_DECREF(type);
}

static PyObject *tn_own_method_vectorcall(PyObject *aObject, PyObject *const *aArgs, size_t aCount,
                                          PyObject *aNames)
{
    TnOwnMethod *method = reinterpret_cast<TnOwnMethod *>(aObject);
    const Py_ssize_t given = PyVectorcall_NARGS(aCount) + (aNames != NULL ? PyTuple_GET_SIZE(aNames) : 0);
    PyObject *small[8];
    PyObject **arguments = given < 8 ? small : static_cast<PyObject **>(PyMem_Malloc((given + 1) * sizeof(PyObject *)));
    if (arguments == NULL) {
        return PyErr_NoMemory();
    }
    arguments[0] = method->mSelf;
    for (Py_ssize_t index = 0; index < given; ++index) {
        arguments[index + 1] = aArgs[index];
    }
    PyObject *result = PyObject_Vectorcall(method->mFunction, arguments, PyVectorcall_NARGS(aCount) + 1, aNames);
    if (arguments != small) {
        PyMem_Free(arguments);
    }
    return result;
}

static PyTypeObject *tn_own_method_type()
{
    static PyTypeObject *type = NULL;
    if (type == NULL) {
        static PyMemberDef members[] = {
            {"__func__", Py_T_OBJECT_EX, offsetof(TnOwnMethod, mFunction), Py_READONLY, NULL},
            {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(TnOwnMethod, mVectorcall), Py_READONLY, NULL},
            {NULL, 0, 0, 0, NULL}};
        static PyType_Slot slots[] = {{Py_tp_dealloc, reinterpret_cast<void *>(tn_own_method_dealloc)},
                                      {Py_tp_call, reinterpret_cast<void *>(PyVectorcall_Call)},
                                      {Py_tp_members, members},
                                      {0, NULL}};
        static PyType_Spec shape = {"tarn.forwarded_method", sizeof(TnOwnMethod), 0,
                                   Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL, slots};
        type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&shape));
    }
    return type;
}

/* What the table of aSelf's forwarding object keeps of aMethod (a new
 * reference, which it takes over): aMethod itself, unless it is a method
 * bound to aSelf. */
static PyObject *tn_own_method(PyObject *aMethod, PyObject *aSelf)
{
    if (aMethod == NULL || !PyMethod_Check(aMethod) || PyMethod_GET_SELF(aMethod) != aSelf) {
        return aMethod;
    }
    PyTypeObject *type = tn_own_method_type();
    TnOwnMethod *own = type != NULL ? PyObject_New(TnOwnMethod, type) : NULL;
    if (own == NULL) {
        PyErr_Clear();
        return aMethod; // kept as it is: the object then stays
    }
    own->mFunction = Py_NewRef(PyMethod_GET_FUNCTION(aMethod));
    own->mSelf = aSelf;
    own->mVectorcall = tn_own_method_vectorcall;
    Py_DECREF(aMethod);
    return reinterpret_cast<PyObject *>(own);
}
%}
