/* Buffers, images, chunk, raw and multipart data, with numpy views over
 * their memory. The base module alone wraps them. */

%{
#include "ITnChunkData.h"
#include "TnChunkData.h"
#include "TnRawData.h"
#include "TnImage.h"
#include "TnMultiPart.h"
#include "TnBuffer.h"
#include "TnGenDC.h"
%}

%{
/* The image array view of an object that may carry an image geometry: its
 * image rule when it is an image, else the bytes of its payload. */
template <class Holder> static PyObject *tn_holder_view(const void *aData, const Holder *aHolder)
{
    if (const ITnImage *image = dynamic_cast<const ITnImage *>(aHolder)) {
        return tn_image_view(aData, image);
    }
    if (const ITnGenDCImage *image = dynamic_cast<const ITnGenDCImage *>(aHolder)) {
        return tn_image_view(aData, image);
    }
    if (const TnBuffer *buffer = dynamic_cast<const TnBuffer *>(aHolder)) {
        return tn_byte_view(aData, buffer->GetSize());
    }
    if (const TnChunkData *chunks = dynamic_cast<const TnChunkData *>(aHolder)) {
        return tn_byte_view(aData, chunks->GetChunkDataPayloadLength());
    }
    if (const TnRawData *raw = dynamic_cast<const TnRawData *>(aHolder)) {
        return tn_byte_view(aData, raw->GetPayloadLength());
    }
    return tn_byte_view(aData, 0);
}

static PyObject *tn_data_view(const void *aData, const ITnImage *aImage)
{
    return tn_image_view(aData, aImage);
}
static PyObject *tn_data_view(const void *aData, const TnBuffer *aBuffer)
{
    return tn_holder_view(aData, aBuffer);
}
static PyObject *tn_data_view(const void *aData, const TnChunkData *aChunks)
{
    return tn_holder_view(aData, aChunks);
}
static PyObject *tn_data_view(const void *aData, const TnRawData *aRaw)
{
    return tn_holder_view(aData, aRaw);
}
static PyObject *tn_data_view(const void *aData, const ITnImageJPEG *aJPEG)
{
    return tn_byte_view(aData, aJPEG->GetDataSize());
}
static PyObject *tn_data_view(const void *aData, const ITnMultiPartSection *aSection)
{
    return tn_byte_view(aData, aSection->GetEffectiveSize());
}
static PyObject *tn_data_view(const void *aData, const ITnGenDCImage *aImage)
{
    return tn_image_view(aData, aImage);
}
static PyObject *tn_data_view(const void *aData, const ITnGenericDataPart *aPart)
{
    return tn_byte_view(aData, aPart->GetDataSize());
}
%}

/* Data addresses come back as views; the geometry and sizes are read with the
 * interpreter lock held, after the SDK call. */
%typemap(out) uint8_t *GetDataPointer, uint8_t const *GetDataPointer {
    $result = tn_data_view($1, arg1);
    if ($result == NULL) {
        SWIG_fail;
    }
}
/* Detach lets go of the memory it hands back: what it drops stays until the
 * view over it has pinned it. */
%typemap(out) uint8_t *Detach (tn::DeferredBlockReleases keptUntilViewed) {
    $result = tn_data_view($1, arg1);
    if ($result == NULL) {
        SWIG_fail;
    }
}
%typemap(out) uint8_t *GetChunkRawDataByIndex {
    $result = tn_byte_view($1, arg1->GetChunkSizeByIndex(arg2));
    if ($result == NULL) {
        SWIG_fail;
    }
}
%typemap(out) uint8_t *GetChunkRawDataByID {
    $result = tn_byte_view($1, arg1->GetChunkSizeByID(arg2));
    if ($result == NULL) {
        SWIG_fail;
    }
}

/* Chunk bytes: a bytes object, whose memory the SDK copies during the call. */
%typemap(in) (uint8_t const *aData, uint32_t aLength) {
    if (!PyBytes_Check($input)) {
        SWIG_exception_fail(SWIG_TypeError, "in method '" "$symname" "', argument " "$argnum" " of type '" "$1_type" "'");
    }
    if ((uint64_t)PyBytes_GET_SIZE($input) > (uint64_t)UINT32_MAX) {
        SWIG_exception_fail(SWIG_OverflowError, "in method '" "$symname" "', argument " "$argnum" ": more than 4294967295 bytes");
    }
    $1 = reinterpret_cast<$1_ltype>(PyBytes_AS_STRING($input));
    $2 = static_cast<$2_ltype>(PyBytes_GET_SIZE($input));
}

/* Plain outputs: appended whatever the result says, 0 when the SDK wrote none. */
TN_PLAIN_OUTPUT(uint32_t &aID, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))
TN_PLAIN_OUTPUT(uint32_t &aCount, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))
TN_PLAIN_OUTPUT(uint32_t &aFirstPacketID, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))
TN_PLAIN_OUTPUT(uint32_t &aLastPacketID, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))

/* Attached memory, used in place (and held) until it is let go of. */
TN_ARRAY_1D_ATTACH(void *aAddress, uint32_t aLength, UINT32_MAX)
TN_ARRAY_1D_ATTACH(void *aAddress, uint64_t aLength, UINT64_MAX)

/* An image attaches a two- or three-dimensional array: its shape gives width
 * and height, and the SDK is told how large the memory is, so that memory too
 * small for the image is refused. */
%typemap(in) (void *aAddress, uint32_t aWidth, uint32_t aHeight) (npy_intp memoryBytes = 0, tn::MemoryBlock *attached = NULL) {
    int dimensionCounts[2] = {2, 3};
    PyArrayObject *memory = tn_array_in_place($input, "$symname", $argnum);
    if (memory == NULL || !require_dimensions_n(memory, dimensionCounts, 2)) {
        PyErr_Clear();
        SWIG_exception_fail(SWIG_TypeError, "in method '" "$symname" "', argument 1 of type array");
    }
    if ((uint64_t)array_size(memory, 0) > UINT32_MAX || (uint64_t)array_size(memory, 1) > UINT32_MAX) {
        SWIG_exception_fail(SWIG_OverflowError, "in method '" "$symname" "', argument " "$argnum" ": the array is wider or higher than 4294967295");
    }
    attached = tn_export_block(memory);
    if (attached == NULL) {
        SWIG_fail;
    }
    $1 = array_data(memory);
    $2 = (uint32_t)array_size(memory, 1);
    $3 = (uint32_t)array_size(memory, 0);
    memoryBytes = PyArray_NBYTES(memory);
}
%typemap(freearg) (void *aAddress, uint32_t aWidth, uint32_t aHeight) {
    tn::ReleaseBlock(attached$argnum);
}
%typecheck(SWIG_TYPECHECK_POINTER) (void *aAddress, uint32_t aWidth, uint32_t aHeight) {
    $1 = tn_array_candidate($input);
}
%feature("action") TnImage::Attach(void *, uint32_t, uint32_t, TnPixelType, uint16_t, uint16_t, uint32_t) {
    result = arg1->AttachChecked(arg2, (uint64_t)memoryBytes2, arg3, arg4, arg5, arg6, arg7, arg8);
}
%feature("action") TnImage::Attach(void *, uint32_t, uint32_t, TnPixelType, uint16_t, uint16_t) {
    result = arg1->AttachChecked(arg2, (uint64_t)memoryBytes2, arg3, arg4, arg5, arg6, arg7, 0);
}
%feature("action") TnImage::Attach(void *, uint32_t, uint32_t, TnPixelType, uint16_t) {
    result = arg1->AttachChecked(arg2, (uint64_t)memoryBytes2, arg3, arg4, arg5, arg6, 0, 0);
}
%feature("action") TnImage::Attach(void *, uint32_t, uint32_t, TnPixelType) {
    result = arg1->AttachChecked(arg2, (uint64_t)memoryBytes2, arg3, arg4, arg5, 0, 0, 0);
}

/* Payload interfaces belong to their buffer or container. */
TN_NEVER_DESTROYED(ITnChunkData)
TN_NEVER_DESTROYED(TnChunkData)
TN_NEVER_DESTROYED(TnRawData)
TN_NEVER_DESTROYED(ITnImage)
TN_NEVER_DESTROYED(TnImage)
TN_NEVER_DESTROYED(ITnImageJPEG)
TN_NEVER_DESTROYED(ITnMultiPartSection)
TN_NEVER_DESTROYED(ITnMultiPartContainerReader)
TN_NEVER_DESTROYED(ITnMultiPartContainerWriter)
TN_NEVER_DESTROYED(ITnMultiPartContainer)

/* Buffers compare and hash by the identity of the SDK object. */
%nothreadallow TnBuffer::__eq__;
%nothreadallow TnBuffer::__hash__;
%extend TnBuffer {
    /// Whether both proxies wrap the same SDK buffer.
    bool __eq__(const TnBuffer *aOther) {
        return $self == aOther;
    }
    /// The address of the SDK buffer.
    size_t __hash__() {
        return reinterpret_cast<size_t>($self);
    }
}

/* What a person reads when Python prints a buffer or an image: the payload
 * type and size, the geometry and the pixel type. */
%pythoncode %{
def _tn_payload_type_name(code):
    for name, value in globals().items():
        if name.startswith("TnPayloadType") and value == code and isinstance(value, int):
            return name[len("TnPayloadType"):]
    return "payload type %d" % code


def _tn_image_text(image):
    return "%dx%d %s, %d bytes" % (image.GetWidth(), image.GetHeight(), TnPixelTypeToString(image.GetPixelType()),
                                   image.GetImageSize())


def _tn_buffer_text(buffer):
    payload = buffer.GetPayloadType()
    text = "<TnBuffer %s" % _tn_payload_type_name(payload)
    image = buffer.GetImage() if payload == TnPayloadTypeImage else None
    if image is not None and image.GetPixelType() != TnPixelUndefined:
        text += " %dx%d %s" % (image.GetWidth(), image.GetHeight(), TnPixelTypeToString(image.GetPixelType()))
    return text + ", %d bytes>" % buffer.GetSize()
%}
%define TN_READABLE_IMAGE(CLASS)
%extend CLASS {
%pythoncode %{
    def __repr__(self):
        return _tn_readable(self, lambda image: "<%s %s>" % (type(image).__name__, _tn_image_text(image)))
%}
}
%enddef
TN_READABLE_IMAGE(ITnImage)
TN_READABLE_IMAGE(TnImage)
TN_READABLE_IMAGE(ITnGenDCImage)
%extend TnBuffer {
%pythoncode %{
    def __repr__(self):
        return _tn_readable(self, _tn_buffer_text)
%}
}

/* Methods with a const and a non-const form of the same arguments: their
 * dispatchers are written by hand (common/tn_dispatch.i). Both forms answer
 * alike. A payload interface keeps the buffer it came from alive: it lives
 * inside that object's SDK object. */
%define TN_CONST_VIEW(CLASS, QUALIFIED)
TN_CONST_PAIR(CLASS, GetDataPointer, 0, const_cast<const CLASS *>(object)->GetDataPointer(), const uint8_t *,
              tn_data_view(result, object),
              "    " #QUALIFIED "::GetDataPointer() const\n    " #QUALIFIED "::GetDataPointer()\n")
%enddef

%define TN_BUFFER_PAYLOAD(METHOD, TYPE)
TN_CONST_PAIR(TnBuffer, METHOD, 0, object->METHOD(), TYPE *, SWIG_NewPointerObj(result, SWIGTYPE_p_##TYPE, 0),
              "    TnBuffer::" #METHOD "()\n    TnBuffer::" #METHOD "() const\n")
%enddef

/* Types the payload getters hand out, kept in the type table. */
%types(TnImage *, TnRawData *, TnChunkData *, ITnMultiPartContainer *, ITnGenericDataContainer *,
       ITnH264AccessUnit *, TnVexmoorCompressed *, ITnMultiPartSection *);

%ignore ITnImage::GetDataPointer;
%ignore ITnImageJPEG::GetDataPointer;
%ignore ITnMultiPartSection::GetDataPointer;
%ignore ITnMultiPartContainerReader::GetPart;
%ignore TnBuffer::GetDataPointer;
%ignore TnBuffer::GetImage;
%ignore TnBuffer::GetRawData;
%ignore TnBuffer::GetChunkData;
%ignore TnBuffer::GetMultiPartContainer;
%ignore TnBuffer::GetGenDC;
%ignore TnBuffer::GetH264AccessUnit;
%ignore TnBuffer::GetVexmoorCompressed;


%include "ITnChunkData.h"
%include "TnChunkData.h"
%include "TnRawData.h"
%include "TnImage.h"
TN_CONST_VIEW(ITnImage, ITnImage)
TN_CONST_VIEW(ITnImageJPEG, ITnImageJPEG)
%include "TnMultiPart.h"
TN_CONST_VIEW(ITnMultiPartSection, ITnMultiPartSection)
/* GetPart(index): a const and a non-const form. */
TN_CONST_PAIR(ITnMultiPartContainerReader, GetPart, 1,
              const_cast<const ITnMultiPartContainerReader *>(object)->GetPart(index), const ITnMultiPartSection *,
              SWIG_NewPointerObj(const_cast<ITnMultiPartSection *>(result), SWIGTYPE_p_ITnMultiPartSection, 0),
              "    ITnMultiPartContainerReader::GetPart(uint32_t) const\n    ITnMultiPartContainerReader::GetPart(uint32_t)\n")
%include "TnBuffer.h"
TN_CONST_VIEW(TnBuffer, TnBuffer)
TN_BUFFER_PAYLOAD(GetImage, TnImage)
TN_BUFFER_PAYLOAD(GetRawData, TnRawData)
TN_BUFFER_PAYLOAD(GetChunkData, TnChunkData)
TN_BUFFER_PAYLOAD(GetMultiPartContainer, ITnMultiPartContainer)
TN_BUFFER_PAYLOAD(GetGenDC, ITnGenericDataContainer)
TN_BUFFER_PAYLOAD(GetH264AccessUnit, ITnH264AccessUnit)
TN_BUFFER_PAYLOAD(GetVexmoorCompressed, TnVexmoorCompressed)

%include "tn_gendc.i"

%clear (void *aAddress, uint32_t aLength), (void *aAddress, uint64_t aLength);
%clear (void *aAddress, uint32_t aWidth, uint32_t aHeight);
%clear (uint8_t const *aData, uint32_t aLength);
