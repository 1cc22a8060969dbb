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
 * Views: numpy arrays over SDK memory, made in place. Each pins the memory
 * block it shows: its base holds a reference on the block, so that the
 * memory stays while the view (or an array made from it) lives, whatever
 * becomes of the SDK object that used it. */
%{
#include "TnMemoryBlocks.h"

/* A view's base: one reference on an SDK memory block, dropped when it goes. */
struct TnMemoryHold
{
    PyObject_HEAD
    tn::MemoryBlock *mBlock;
};

static PyTypeObject *tn_memory_hold_type = NULL;

static void tn_memory_hold_dealloc(PyObject *aSelf)
{
    tn::MemoryBlock *block = reinterpret_cast<TnMemoryHold *>(aSelf)->mBlock;
    PyTypeObject *type = Py_TYPE(aSelf);
    type->tp_free(aSelf);
    Py_DECREF(type);
    tn::ReleaseBlock(block);
}

static PyObject *tn_memory_hold_repr(PyObject *aSelf)
{
    return PyUnicode_FromFormat("<%s of SDK memory at %p>", Py_TYPE(aSelf)->tp_name,
                                (void *)reinterpret_cast<TnMemoryHold *>(aSelf)->mBlock);
}

static int tn_memory_hold_init(void)
{
    static PyType_Slot slots[] = {
        {Py_tp_dealloc, (void *)tn_memory_hold_dealloc},
        {Py_tp_repr, (void *)tn_memory_hold_repr},
        {Py_tp_doc, (void *)"What a view over SDK memory holds: the memory block it shows, kept while the view "
                            "lives."},
        {0, NULL}};
    static PyType_Spec layout = {SWIG_name ".TnMemoryHold", sizeof(TnMemoryHold), 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    tn_memory_hold_type = reinterpret_cast<PyTypeObject *>(PyType_FromSpec(&layout));
    return tn_memory_hold_type != NULL ? 0 : -1;
}

/* An array over aData whose base holds aBlock (the caller's reference, taken
 * over here, also on failure). */
static PyObject *tn_pinned_array(tn::MemoryBlock *aBlock, const void *aData, int aDimensions, npy_intp *aShape,
                                 int aType)
{
    TnMemoryHold *hold = PyObject_New(TnMemoryHold, tn_memory_hold_type);
    if (hold == NULL) {
        tn::ReleaseBlock(aBlock);
        return NULL;
    }
    hold->mBlock = aBlock;
    PyObject *array = PyArray_New(&PyArray_Type, aDimensions, aShape, aType, NULL, const_cast<void *>(aData), 0,
                                  NPY_ARRAY_CARRAY, NULL);
    if (array == NULL) {
        Py_DECREF(hold);
        return NULL;
    }
    /* The array takes the hold's reference, also when this fails. */
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject *>(array), reinterpret_cast<PyObject *>(hold)) != 0) {
        Py_DECREF(array);
        return NULL;
    }
    return array;
}

/* A view of the given shape and element type over aData, pinning the block
 * that holds it; None for a null address with a non-zero size (there is no
 * memory to show). A view that would reach past its block shows the bytes
 * up to the block's end. Memory in no block is never shown: BufferError. */
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
    const size_t bytes = (size_t)elements * (aType == NPY_USHORT ? 2 : 1);
    tn::MemoryBlock *block = tn::PinBlock(aData, bytes);
    if (block != NULL) {
        return tn_pinned_array(block, aData, aDimensions, aShape, aType);
    }
    block = tn::PinBlock(aData, 1);
    if (block != NULL) {
        npy_intp available[1] = {(npy_intp)tn::BlockBytesFrom(block, aData)};
        return tn_pinned_array(block, aData, 1, available, NPY_UBYTE);
    }
    if (elements == 0) {
        return PyArray_SimpleNew(aDimensions, aShape, aType);
    }
    PyErr_SetString(PyExc_BufferError, "the SDK's memory belongs to no block a view could keep");
    return NULL;
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
%init %{
    if (tn_memory_hold_init() < 0) {
        return NULL;
    }
%}

/* ------------------------------------------------------------------------
 * Attached memory: the SDK keeps using it after the call, so it must be the
 * caller's own array, used in place. A copy numpy would make (another element
 * type, a list, a strided or read-only array) would never be seen by the
 * caller while the SDK writes into it: such input is refused. The SDK object
 * holds the array (an export of its memory, registered as a block) until it
 * lets go of the memory: Detach, Free, Alloc, another Attach, destruction;
 * views of the memory hold it too. */
%{
/* Gives back an export of a Python object's memory once no SDK object and
 * no view holds its block, on whichever thread let go of it last; nothing
 * once the interpreter is finalizing or gone (the object goes with it). */
static void tn_give_back_export(void *aContext, void *, size_t)
{
    Py_buffer *exported = static_cast<Py_buffer *>(aContext);
    if (!Py_IsInitialized() || Py_IsFinalizing()) {
        return;
    }
    PyGILState_STATE state = PyGILState_Ensure();
    PyObject *pending = PyErr_GetRaisedException();
    PyBuffer_Release(exported);
    PyMem_Free(exported);
    PyErr_SetRaisedException(pending);
    PyGILState_Release(state);
}

/* The array's memory as a block that holds an export of the array (a
 * writeable one when the array is): the reference returned is the caller's.
 * An SDK object the memory is attached to takes its own. Null with the
 * Python error set when it cannot be made. */
static tn::MemoryBlock *tn_export_block(PyArrayObject *aArray)
{
    Py_buffer *exported = static_cast<Py_buffer *>(PyMem_Malloc(sizeof(Py_buffer)));
    if (exported == NULL) {
        PyErr_NoMemory();
        return NULL;
    }
    const int flags = PyArray_ISWRITEABLE(aArray) ? PyBUF_WRITABLE : PyBUF_SIMPLE;
    if (PyObject_GetBuffer(reinterpret_cast<PyObject *>(aArray), exported, flags) != 0) {
        PyMem_Free(exported);
        return NULL;
    }
    tn::MemoryBlock *block = tn::RegisterBlock(exported->buf, (size_t)exported->len, tn_give_back_export, exported);
    if (block == NULL) {
        PyBuffer_Release(exported);
        PyMem_Free(exported);
        PyErr_NoMemory();
    }
    return block;
}

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
%typemap(in) (POINTER, LENGTH) (PyArrayObject *memory = NULL, tn::MemoryBlock *attached = NULL) {
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
    attached = tn_export_block(memory);
    if (attached == NULL) {
        SWIG_fail;
    }
    $1 = ($1_ltype)array_data(memory);
    $2 = ($2_ltype)array_size(memory, 0);
}
%typemap(freearg) (POINTER, LENGTH) {
    tn::ReleaseBlock(attached$argnum);
}
%typecheck(SWIG_TYPECHECK_POINTER) (POINTER, LENGTH) {
    $1 = tn_array_candidate($input);
}
%enddef

/* Data a Python call hands on to a Python override (an upcall that reaches a
 * forwarding object): held as a block for the call, so that a view the
 * override keeps keeps the object. ARGUMENTS, in parentheses, are those of
 * an in typemap whose array is its local `memory`. */
%define TN_ARRAY_SHOWN(ARGUMENTS)
%typemap(check) ARGUMENTS (tn::BlockHold shown) {
    shown.reset(tn_export_block(memory$argnum));
    if (!shown) {
        SWIG_fail;
    }
}
%enddef
