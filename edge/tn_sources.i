/* The streaming channel sources: the three interfaces a Python class
 * implements and the SDK's ready-made default source as a Python base
 * class. The device calls a source on its own threads through the source's
 * forwarding object, which turns each Python result into the operation's
 * result by the rules below. */

%{
#include "ITnStreamingChannelSource.h"
#include "TnStreamingChannelSourceDefault.h"

/* The check SWIG makes of a forwarded result with out values, for the
 * operations whose out values the module's own rules convert: the result
 * must be a tuple (a subclass counts). The forwarding class names its SDK
 * class in the message. */
static void tn_require_tuple(PyObject *aResult, const Swig::Director *aDirector, const char *aMethod)
{
    if (aResult != NULL && PyTuple_Check(aResult)) {
        return;
    }
    const std::string message =
        "Python method " + tn_director_class_name(aDirector) + "." + aMethod + "failed to return a tuple.";
    Swig::DirectorTypeMismatchException::raise(PyExc_TypeError, message.c_str());
}

/* A chunk name: the string's narrow text as UTF-8, undecodable bytes as lone
 * surrogates; None when it has none. */
static PyObject *tn_narrow_text(const TnString &aText)
{
    const char *text = aText.GetAscii();
    if (text == NULL) {
        return SWIG_Py_Void();
    }
    return PyUnicode_DecodeUTF8(text, (Py_ssize_t)strlen(text), "surrogateescape");
}

/* A chunk name returned by a Python source: a str, or a char or wchar_t
 * pointer object. False for anything else. */
static bool tn_chunk_name_from_python(PyObject *aObject, TnString &aName)
{
    if (aObject == NULL) {
        return false;
    }
    if (PyUnicode_Check(aObject)) {
        TnString *temporary = NULL;
        TnString *name = tn_string_from_python(aObject, 1, "", &temporary);
        if (name == NULL) {
            PyErr_Clear();
            return false;
        }
        aName = *name;
        delete temporary;
        return true;
    }
    void *pointer = NULL;
    if (SWIG_IsOK(SWIG_ConvertPtr(aObject, &pointer, SWIGTYPE_p_char, 0)) && pointer != NULL) {
        aName = TnString(reinterpret_cast<const char *>(pointer));
        return true;
    }
    if (SWIG_IsOK(SWIG_ConvertPtr(aObject, &pointer, SWIGTYPE_p_wchar_t, 0)) && pointer != NULL) {
        aName = TnString(reinterpret_cast<const wchar_t *>(pointer));
        return true;
    }
    return false;
}
%}

%types(ITnGenDCManager *);
/* A GenDC manager lives as long as the device that hands it out (during its
 * Start): a proxy Python keeps is emptied when the device is destroyed. */
%typemap(directorin) ITnGenDCManager *aManager {
    $input = SWIG_NewPointerObj(SWIG_as_voidptr($1), $descriptor(ITnGenDCManager *), 0);
    tn_hand_out(tn_starting_device, $input);
}

/* Forwarded calls.
 *
 * GetWidthInfo and GetHeightInfo: the method takes nothing and returns a
 * tuple (minimum, maximum, increment). */
%typemap(directorin, numinputs=0) (uint32_t &aMin, uint32_t &aMax, uint32_t &aInc) "";
%typemap(directorargout) (uint32_t &aMin, uint32_t &aMax, uint32_t &aInc) {
    {
        PyObject *values = (PyObject *)$result;
        if (!PyTuple_Check(values) || PyTuple_GET_SIZE(values) < 3) {
            Swig::DirectorException::raise("$symname failed to return a 3-tuple");
        }
        tn_unsigned_from_python(PyTuple_GET_ITEM(values, 0), $1);
        tn_unsigned_from_python(PyTuple_GET_ITEM(values, 1), $2);
        tn_unsigned_from_python(PyTuple_GET_ITEM(values, 2), $3);
    }
}

/* GetSupportedPixelType and GetSupportedChunk: the method takes the index
 * and returns a tuple (status, pixel type) or (status, chunk identifier,
 * name). */
%typemap(directorin, numinputs=0) TnPixelType &aPixelType "";
%typemap(directorin, numinputs=0) uint32_t &aChunkID "";
%typemap(directorin, numinputs=0) TnString &aChunkName "";
%typemap(directorout) TnResult GetSupportedPixelType {
    {
        PyObject *values = (PyObject *)$input;
        tn_require_tuple(values, this, "GetSupportedPixelType");
        TN_STATUS_RULE(tn_result_item(values, 0), $result, "in method GetSupportedPixelType 1 with output value of type 'TnResult'")
        PyObject *item = tn_result_item(values, 1);
        int value = 0;
        const int res = item != NULL ? SWIG_AsVal_int(item, &value) : SWIG_TypeError;
        if (!SWIG_IsOK(res)) {
            Swig::DirectorTypeMismatchException::raise(SWIG_ErrorType(SWIG_ArgError(res)),
                                                       "in output value of type 'TnPixelType'");
        }
        aPixelType = static_cast<TnPixelType>(value);
    }
}
%typemap(directorout) TnResult GetSupportedChunk {
    {
        PyObject *values = (PyObject *)$input;
        tn_require_tuple(values, this, "GetSupportedChunk");
        TN_STATUS_RULE(tn_result_item(values, 0), $result, "in method GetSupportedChunk with output value of type 'TnResult'")
        tn_unsigned_from_python(tn_result_item(values, 1), aChunkID);
        PyObject *name = tn_result_item(values, 2);
        if (name == NULL) {
            Swig::DirectorException::raise("GetSupportedChunk failed to return a 3-tuple");
        }
        if (!tn_chunk_name_from_python(name, aChunkName)) {
            Swig::DirectorTypeMismatchException::raise(PyExc_TypeError, "in output value of type str");
        }
    }
}

/* GetGevSCPSPacketSizeInfo of the interfaces: a tuple (status, maximum), or
 * one object that serves as both. */
%typemap(directorin, numinputs=0) uint32_t &aMax "";
%typemap(directorout) TnResult GetGevSCPSPacketSizeInfo {
    {
        PyObject *values = (PyObject *)$input;
        PyObject *status = PyTuple_Check(values) ? tn_result_item(values, 0) : values;
        TN_STATUS_RULE(status, $result, "in method GetGevSCPSPacketSizeInfo 1 with output value of type 'TnResult'")
        tn_unsigned_from_python(PyTuple_Check(values) ? tn_result_item(values, 1) : values, aMax);
    }
}

/* GetTxNumBuffersToUse: (status, number of buffers); an item that is itself a
 * tuple stands for its own item at that position. */
%typemap(directorout) TnResult GetTxNumBuffersToUse {
TN_STATUS_RULE(tn_unwrapped_item((PyObject *)$input, 0), $result, "in method GetTxNumBuffersToUse 1 with output value of type 'TnResult'")
}
%typemap(directorin, numinputs=0) uint32_t &aNumBuffers "";
%typemap(directorargout) uint32_t &aNumBuffers {
    tn_unsigned_from_python(tn_unwrapped_item((PyObject *)$result, 1), $1);
}

/* QueueBuffer: a buffer the source accepts (a status of TN_OK) is lent to
 * it until RetrieveBuffer gives it back. */
%typemap(directorout) TnResult QueueBuffer {
TN_STATUS_RULE($input, $result, "in method QueueBuffer with output value of type 'TnResult'")
    if (aBuffer != NULL && $result.IsOK()) {
        _tn_forwarding_call.Lend(aBuffer);
    }
}

/* RetrieveBuffer: the method takes the caller's buffer location and returns
 * (status, buffer or None); the buffer is stored in the location, never
 * through a null one. A buffer is one the source was lent and has not given
 * back yet: any other is refused (ValueError). */
%typemap(directorargout) TnBuffer **aBuffer {
    {
        void *buffer = NULL;
        const int res = $result != NULL ? SWIG_ConvertPtr($result, &buffer, SWIGTYPE_p_TnBuffer, 0) : SWIG_TypeError;
        if (!SWIG_IsOK(res)) {
            Swig::DirectorTypeMismatchException::raise(PyExc_TypeError, "in output value of type 'TnBuffer *'");
        }
        if (buffer != NULL && !_tn_forwarding_call.GiveBack(buffer)) {
            Swig::DirectorException::raise(PyExc_ValueError,
                                           "in output value of type 'TnBuffer *': a buffer that QueueBuffer gave "
                                           "the source and it has not given back yet, or None");
        }
        if ($1 != NULL) {
            *$1 = reinterpret_cast<TnBuffer *>(buffer);
        }
    }
}

/* AllocBuffer: the device keeps the buffer a Python source gives it until
 * it hands it back with FreeBuffer. A buffer an owning proxy gave is the
 * device's then (the proxy gives up its ownership, by the buffer rule); one
 * a borrowed proxy gave is kept alive through its owner (tn_lifetime.i),
 * whom the proxy FreeBuffer receives keeps in turn. */
%typemap(directorout) TnBuffer *AllocBuffer (void *swig_argp, int swig_res, swig_owntype own) {
    swig_res = SWIG_ConvertPtrAndOwn($input, &swig_argp, $descriptor, SWIG_POINTER_DISOWN, &own);
    if (!SWIG_IsOK(swig_res)) {
        %dirout_fail(swig_res, "$type");
    }
    $result = %reinterpret_cast(swig_argp, $ltype);
    swig_acquire_ownership_obj(SWIG_as_voidptr($result), own);
    if ($result != NULL && !(own & SWIG_POINTER_OWN)) {
        tn_hold(static_cast<const void *>(this), $result, $input);
    }
}
%typemap(directorin) TnBuffer *aBuffer {
    $input = SWIG_NewPointerObj(SWIG_as_voidptr($1), $descriptor, 0);
    if ($1 != NULL && strcmp("$symname", "FreeBuffer") == 0) {
        PyObject *owner = tn_take_held(static_cast<const void *>(this), $1);
        if (owner != NULL) {
            tn_keep_anchor($input, owner);
            Py_DECREF(owner);
        }
    }
}

/* The buffer AllocBuffer's module function answers keeps what the device
 * keeps for it, if anything. */
%typemap(ret) TnBuffer *AllocBuffer {
    tn_keep_anchor($result, tn_held_wrapping($1));
}

/* Module functions (output forms of tn_outputs.i).
 *
 * GetWidthInfo and GetHeightInfo: the tuple (minimum, maximum, increment). */
TN_UINT32_TRIPLE_OUTPUT((uint32_t &aMin, uint32_t &aMax, uint32_t &aInc), minimum, maximum, increment)

/* The tuple functions carry every value whatever the status. */
TN_TUPLE_OUTPUT(TnPixelType &aPixelType, TnPixelType value = TnPixelUndefined, SWIG_From_int((int)*$1))
TN_TUPLE_OUTPUT(uint32_t &aChunkID, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))
TN_TUPLE_OUTPUT(TnString &aChunkName, TnString value, tn_narrow_text(*$1))
TN_TUPLE_OUTPUT(uint32_t &aMax, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))

/* GetTxNumBuffersToUse takes a second object that it never looks at. */
TN_PASSED_TUPLE_OUTPUT(uint32_t &aNumBuffers, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))

/* The index of GetSupportedPixelType and GetSupportedChunk. */
%typemap(in) int aIndex (int value = 0, int res = 0) {
    res = SWIG_AsVal_int($input, &value);
    if (!SWIG_IsOK(res)) {
        SWIG_exception_fail(SWIG_ArgError(res), "method '" "$symname" "' expected argument 1 of type int");
    }
    $1 = value;
}

/* Every operation of the sources is overridable: its module function keeps
 * the interpreter lock (the call may come straight back into Python). Making
 * and destroying a source releases it. */
%define TN_SOURCE_CLASS(CLASS)
TN_EDGE_DIRECTOR(CLASS)
%threadallow CLASS::CLASS;
%threadallow CLASS::~CLASS;
%enddef
TN_SOURCE_CLASS(ITnStreamingChannelSource)
TN_SOURCE_CLASS(ITnSWStreamingChannelSource)
TN_SOURCE_CLASS(ITnSWStreamingChannelSourceGenDC)

%nothreadallow;
%include "ITnStreamingChannelSource.h"
%clearnothreadallow;

/* The default source answers GetWidthInfo, GetHeightInfo,
 * GetSupportedPixelType, GetSupportedChunk and GetTxNumBuffersToUse itself:
 * its forwarding object never asks Python for them, and Python calls them
 * through the interfaces' functions. */
%feature("nodirector") TnStreamingChannelSourceDefault::GetWidthInfo;
%feature("nodirector") TnStreamingChannelSourceDefault::GetHeightInfo;
%feature("nodirector") TnStreamingChannelSourceDefault::GetSupportedPixelType;
%feature("nodirector") TnStreamingChannelSourceDefault::GetSupportedChunk;
%feature("nodirector") TnStreamingChannelSourceDefault::GetTxNumBuffersToUse;
%ignore TnStreamingChannelSourceDefault::GetWidthInfo;
%ignore TnStreamingChannelSourceDefault::GetHeightInfo;
%ignore TnStreamingChannelSourceDefault::GetSupportedPixelType;
%ignore TnStreamingChannelSourceDefault::GetSupportedChunk;
%ignore TnStreamingChannelSourceDefault::GetTxNumBuffersToUse;

/* Its GetGevSCPSPacketSizeInfo takes only a tuple (status, maximum); an item
 * that is itself a tuple stands for its own item at that position. */
%define TN_PACKET_SIZE_TUPLE
%typemap(directorout) TnResult GetGevSCPSPacketSizeInfo {
    {
        PyObject *values = (PyObject *)$input;
        tn_require_tuple(values, this, "GetGevSCPSPacketSizeInfo");
        TN_STATUS_RULE(tn_unwrapped_item(tn_result_item(values, 0), 0), $result, "in method GetGevSCPSPacketSizeInfo 1 with output value of type 'TnResult'")
        tn_unsigned_from_python(tn_unwrapped_item(tn_result_item(values, 1), 1), aMax);
    }
}
%enddef
TN_PACKET_SIZE_TUPLE

TN_SOURCE_CLASS(TnStreamingChannelSourceDefault)
%nothreadallow;
%include "TnStreamingChannelSourceDefault.h"
%clearnothreadallow;
