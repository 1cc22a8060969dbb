/* numpy arrays handed to the SDK as memory. */

%{
/* The bytes of a bytes, bytearray or memoryview object as a one-dimensional
 * uint8 array over them (numpy would read a bytes object as one number). The
 * array holds an export of the object's memory, so a bytearray cannot be
 * resized under it; a memoryview that is not C-contiguous is copied first.
 * Null with the Python error set on failure. */
static PyArrayObject *tn_bytes_array(PyObject *aObject)
{
    PyObject *memory = aObject;
    if (PyMemoryView_Check(aObject) && !PyBuffer_IsContiguous(PyMemoryView_GET_BUFFER(aObject), 'C')) {
        memory = PyBytes_FromObject(aObject);
        if (memory == NULL) {
            return NULL;
        }
    } else {
        Py_INCREF(memory);
    }
    PyObject *array = PyArray_FromBuffer(memory, PyArray_DescrFromType(NPY_UBYTE), -1, 0);
    Py_DECREF(memory);
    return reinterpret_cast<PyArrayObject *>(array);
}

/* The TypeError of a byte argument given what it cannot take. */
static void tn_bytes_refused(PyObject *aObject, const char *aFunction, int aPosition)
{
    PyErr_Format(PyExc_TypeError,
                 "in method '%s', argument %d takes bytes, bytearray, memoryview or a uint8 array, not %s",
                 aFunction, aPosition, Py_TYPE(aObject)->tp_name);
}

/* A Python object as a C-contiguous one-dimensional uint8 array: an array of
 * an equivalent type is taken as it is, bytes, bytearray and memoryview
 * objects as their bytes, sequences (a list of ints) and other objects with
 * memory of their own into a new array numpy converts them to (*aIsNew set).
 * Text, single values and objects numpy cannot convert are refused with a
 * TypeError naming what the argument takes; an array of another element type
 * that numpy cannot convert, and a value out of a byte's range, keep numpy's
 * error. Null with the Python error set on failure. */
static PyArrayObject *tn_array_1d(PyObject *aObject, int *aIsNew, const char *aFunction, int aPosition)
{
    *aIsNew = 0;
    if (PyBytes_Check(aObject) || PyByteArray_Check(aObject) || PyMemoryView_Check(aObject)) {
        PyArrayObject *bytes = tn_bytes_array(aObject);
        *aIsNew = bytes != NULL;
        return bytes;
    }
    if (PyUnicode_Check(aObject) ||
        (!is_array(aObject) && !PySequence_Check(aObject) && !PyObject_CheckBuffer(aObject))) {
        tn_bytes_refused(aObject, aFunction, aPosition);
        return NULL;
    }
    PyArrayObject *array = obj_to_array_contiguous_allow_conversion(aObject, NPY_UBYTE, aIsNew);
    if (array == NULL && !is_array(aObject) &&
        (PyErr_ExceptionMatches(PyExc_ValueError) || PyErr_ExceptionMatches(PyExc_TypeError))) {
        PyErr_Clear();
        tn_bytes_refused(aObject, aFunction, aPosition);
        return NULL;
    }
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

/* The memory of a one-dimensional uint8 array and its length in bytes, at
 * most MAXIMUM (OverflowError beyond). The call only reads it while it runs:
 * a converted copy is released after the call. */
%define TN_ARRAY_1D_IN(POINTER, LENGTH, MAXIMUM)
%typemap(in) (POINTER, LENGTH) (PyArrayObject *memory = NULL, int converted = 0) {
    memory = tn_array_1d($input, &converted, "$symname", $argnum);
    if (memory == NULL) {
        SWIG_fail;
    }
    if ((uint64_t)array_size(memory, 0) > (uint64_t)MAXIMUM) {
        PyErr_Format(PyExc_OverflowError, "in method '$symname', argument $argnum: %zd bytes are more than %llu",
                     (Py_ssize_t)array_size(memory, 0), (unsigned long long)MAXIMUM);
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

/* The same with a 32-bit length. */
%define TN_ARRAY_1D_IN_UINT32(POINTER, LENGTH)
TN_ARRAY_1D_IN(POINTER, LENGTH, UINT32_MAX)
%enddef

/* ------------------------------------------------------------------------
 * New arrays the SDK fills. */
%{
/* The length of an array to make, given as a Python int (bool counts):
 * "Int dimension expected" for anything else, OverflowError outside 0 to
 * aMaximum. False with the error set when it does not fit. */
static bool tn_array_length(PyObject *aObject, const char *aFunction, int aPosition, unsigned long long aMaximum,
                            npy_intp *aLength)
{
    if (!PyLong_Check(aObject)) {
        PyErr_Format(PyExc_TypeError, "Int dimension expected.  '%s' given.", tn_python_kind(aObject));
        return false;
    }
    int overflow = 0;
    const long long length = PyLong_AsLongLongAndOverflow(aObject, &overflow);
    if (length == -1 && PyErr_Occurred()) {
        return false;
    }
    if (overflow != 0 || length < 0 || (unsigned long long)length > aMaximum ||
        (unsigned long long)length > (unsigned long long)NPY_MAX_INTP) {
        PyErr_Format(PyExc_OverflowError, "in method '%s', argument %d: a length from 0 to %llu is expected",
                     aFunction, aPosition, aMaximum);
        return false;
    }
    *aLength = (npy_intp)length;
    return true;
}

/* A new one-dimensional uint8 array of aLength zeroed bytes. */
static PyArrayObject *tn_new_bytes(npy_intp aLength)
{
    npy_intp shape[1] = {aLength};
    return (PyArrayObject *)PyArray_ZEROS(1, shape, NPY_UBYTE, 0);
}
%}

/* A new array for the SDK to fill: the Python call gives its length (0 to
 * MAXIMUM), the SDK call its memory and length, and the array follows the
 * call's result in the output list whatever the result. */
%define TN_ARRAY_1D_OUT(POINTER, LENGTH, MAXIMUM)
%typemap(in) (POINTER, LENGTH) (PyArrayObject *filled = NULL, npy_intp length = 0) {
    if (!tn_array_length($input, "$symname", $argnum, (unsigned long long)MAXIMUM, &length)) {
        SWIG_fail;
    }
    filled = tn_new_bytes(length);
    if (filled == NULL) {
        SWIG_fail;
    }
    $1 = ($1_ltype)array_data(filled);
    $2 = ($2_ltype)length;
}
%typemap(argout) (POINTER, LENGTH) {
    if ($result == NULL) {
        SWIG_fail;
    }
    $result = tn_append_output($result, (PyObject *)filled$argnum);
    filled$argnum = NULL;
    if ($result == NULL) {
        SWIG_fail;
    }
}
%typemap(freearg) (POINTER, LENGTH) {
    Py_XDECREF(filled$argnum);
}
%enddef

/* ------------------------------------------------------------------------
 * Views: numpy arrays over SDK memory, made in place, owning nothing and
 * without a base object. */
%{
/* A view of the given shape and element type over aData; None for a null
 * address with a non-zero size (there is no memory to show). */
static PyObject *tn_view(const void *aData, int aDimensions, npy_intp *aShape, int aType)
{
    npy_intp elements = 1;
    for (int i = 0; i < aDimensions; ++i) {
        elements *= aShape[i];
    }
    if (aData == NULL && elements != 0) {
        return SWIG_Py_Void();
    }
    if (aData == NULL) {
        /* An empty view: numpy's own zero-length array. */
        return PyArray_SimpleNew(aDimensions, aShape, aType);
    }
    return PyArray_New(&PyArray_Type, aDimensions, aShape, aType, NULL, const_cast<void *>(aData), 0,
                       NPY_ARRAY_CARRAY, NULL);
}

/* A one-dimensional uint8 view of aLength bytes. */
static PyObject *tn_byte_view(const void *aData, uint64_t aLength)
{
    if (aData == NULL && aLength != 0) {
        return SWIG_Py_Void();
    }
    if (aLength > (uint64_t)NPY_MAX_INTP) {
        PyErr_SetString(PyExc_OverflowError, "the SDK's memory is larger than an array can be");
        return NULL;
    }
    npy_intp shape[1] = {(npy_intp)aLength};
    return tn_view(aData, 1, shape, NPY_UBYTE);
}

/* Holds a view that a Python override receives for the length of one call
 * (a typemap local of the forwarding method). When the call is over, a view
 * that Python kept gets a copy of what it showed, so that it never shows
 * memory the SDK frees after the call; arrays derived from it (slices) still
 * show the SDK's memory and are valid during the call only. Runs at the end
 * of the forwarding method, where the interpreter lock may be released. */
class TnCallView
{
public:
    TnCallView() : mView(NULL) {}
    TnCallView(const TnCallView &) = delete;
    TnCallView &operator=(const TnCallView &) = delete;

    /* Takes its own reference on a view (anything else is ignored). */
    void Hold(PyObject *aView)
    {
        if (aView != NULL && PyArray_Check(aView)) {
            Py_INCREF(aView);
            mView = aView;
        }
    }

    ~TnCallView()
    {
        if (mView == NULL) {
            return;
        }
        PyGILState_STATE state = PyGILState_Ensure();
        PyObject *pending = PyErr_GetRaisedException();
        PyArrayObject *view = (PyArrayObject *)mView;
        if (Py_REFCNT(mView) > 1 && PyArray_BASE(view) == NULL && PyArray_DATA(view) != NULL) {
            PyArrayObject *copy = (PyArrayObject *)PyArray_NewCopy(view, NPY_CORDER);
            /* The base takes the copy's reference, also when it fails. */
            if (copy != NULL && PyArray_SetBaseObject(view, (PyObject *)copy) == 0) {
                ((PyArrayObject_fields *)view)->data = (char *)PyArray_DATA(copy);
            }
            PyErr_Clear();
        }
        Py_DECREF(mView);
        PyErr_SetRaisedException(pending);
        PyGILState_Release(state);
    }

private:
    PyObject *mView;
};

/* The image rule: shape and element type from the pixel type, lines and
 * rows widened by the paddings (in bytes). A view that would reach past the
 * image's memory, and a mono pixel of a size other than 8 or 16 bits, fall
 * back to the bytes of the image. */
template <class Image> static PyObject *tn_image_view(const void *aData, const Image *aImage)
{
    const uint32_t bits = TnPixelTypeGetBitsPerPixel(aImage->GetPixelType());
    const uint64_t imageSize = aImage->GetImageSize();
    if ((bits & 7) != 0) {
        return tn_byte_view(aData, imageSize);
    }
    const uint32_t pixelType = static_cast<uint32_t>(aImage->GetPixelType());
    const uint64_t bytesPerPixel = bits / 8;
    const uint64_t width = aImage->GetWidth();
    const uint64_t height = aImage->GetHeight();
    const uint64_t paddingX = static_cast<uint16_t>(aImage->GetPaddingX());
    const uint64_t paddingY = static_cast<uint16_t>(aImage->GetPaddingY());
    npy_intp shape[3];
    int dimensions = 0;
    int type = NPY_UBYTE;
    uint64_t elementSize = 1;
    uint64_t rowBytes = 0;
    if (bytesPerPixel == 0) {
        return tn_byte_view(aData, imageSize);
    }
    if ((pixelType & TNPIXELMONO) != 0) {
        if (bits != 8 && bits != 16) {
            return tn_byte_view(aData, imageSize);
        }
        elementSize = bytesPerPixel;
        type = bits == 16 ? NPY_USHORT : NPY_UBYTE;
        dimensions = 2;
    } else if ((pixelType & TNPIXELCOLOR) != 0) {
        elementSize = (bits == 48 || bits == 64) ? 2 : 1;
        type = elementSize == 2 ? NPY_USHORT : NPY_UBYTE;
        dimensions = 3;
    } else {
        return tn_byte_view(aData, imageSize);
    }
    /* Padding X is bytes at the end of each line: it must come in whole
     * pixels for the lines to be rows of the array. */
    rowBytes = width * bytesPerPixel + paddingX;
    if (paddingX % bytesPerPixel != 0) {
        return tn_byte_view(aData, imageSize);
    }
    /* Padding Y is bytes at the end of the image: whole lines of it become rows. */
    const uint64_t rows = height + (rowBytes != 0 ? paddingY / rowBytes : 0);
    if (rows * rowBytes > imageSize) {
        return tn_byte_view(aData, imageSize);
    }
    const uint64_t columns = width + paddingX / bytesPerPixel;
    shape[0] = (npy_intp)rows;
    shape[1] = (npy_intp)columns;
    shape[2] = (npy_intp)(bytesPerPixel / elementSize);
    return tn_view(aData, dimensions, shape, type);
}
%}

/* ------------------------------------------------------------------------
 * Attached memory: the SDK keeps using it after the call, so it must be the
 * caller's own array, used in place. A copy numpy would make (another element
 * type, a list, a strided or read-only array) would be gone, or never seen by
 * the caller, while the SDK still writes into it: such input is refused. */
%{
/* The caller's array if the SDK can use it in place: an ndarray of bytes,
 * C-contiguous, aligned and writeable. Null with a TypeError set otherwise. */
static PyArrayObject *tn_array_in_place(PyObject *aObject, const char *aFunction, int aPosition)
{
    if (!is_array(aObject) || !PyArray_EquivTypenums(array_type(aObject), NPY_UBYTE) ||
        !PyArray_ISCARRAY((PyArrayObject *)aObject)) {
        PyErr_Format(PyExc_TypeError,
                     "in method '%s', argument %d: the SDK uses the memory in place, so it must be a "
                     "writeable C-contiguous uint8 numpy array",
                     aFunction, aPosition);
        return NULL;
    }
    return (PyArrayObject *)aObject;
}

/* Whether an object may stand for an array in overload selection. */
static bool tn_array_candidate(PyObject *aObject)
{
    return is_array(aObject) || PySequence_Check(aObject);
}
%}

/* Memory and its length in bytes, one dimension. */
%define TN_ARRAY_1D_ATTACH(POINTER, LENGTH, MAXIMUM)
%typemap(in) (POINTER, LENGTH) (PyArrayObject *memory = NULL) {
    npy_intp anySize[1] = {-1};
    memory = tn_array_in_place($input, "$symname", $argnum);
    if (memory == NULL || !require_dimensions(memory, 1) || !require_size(memory, anySize, 1)) {
        SWIG_fail;
    }
    if ((uint64_t)array_size(memory, 0) > (uint64_t)MAXIMUM) {
        PyErr_Format(PyExc_OverflowError, "in method '$symname', argument $argnum: %zd bytes are more than %llu",
                     (Py_ssize_t)array_size(memory, 0), (unsigned long long)MAXIMUM);
        SWIG_fail;
    }
    $1 = ($1_ltype)array_data(memory);
    $2 = ($2_ltype)array_size(memory, 0);
}
%typecheck(SWIG_TYPECHECK_POINTER) (POINTER, LENGTH) {
    $1 = tn_array_candidate($input);
}
%enddef
