/* Generic data containers (GenDC): the header records, byte images of the
 * descriptor's headers; the SDK's decoded part fields; and the container,
 * component, part, image and chunk interfaces over a container's bytes.
 * Included by tn_buffer.i, whose view and chunk typemaps it shares. */

%{
#include "TnGenDCHeaders.h"
#include "TnGenDC.h"
%}

/* ------------------------------------------------------------------------
 * Records. A nested group, the H.264 information and the H.264 flags come
 * back as borrowed proxies inside their record; a setter copies them in and
 * refuses None as the value. */
%define TN_GENDC_NOT_NULL(DECLARATION)
%typemap(check) DECLARATION %{
    if ($1 == NULL) {
        SWIG_exception_fail(SWIG_TypeError, "in method '" "$symname" "', argument " "$argnum" " of type '" "$1_type" "'");
    }
%}
%enddef
TN_GENDC_NOT_NULL(GenDCContainerFlagsGroup *Flags)
TN_GENDC_NOT_NULL(GenDCContainerVariableFieldsGroup *VariableFields)
TN_GENDC_NOT_NULL(GenDCComponentFlagsGroup *Flags)
TN_GENDC_NOT_NULL(GenDCPartFlagsGroup *Flags)
TN_GENDC_NOT_NULL(GenDCInfoTypeSpecificH264 *InfoTypeSpecific)
TN_GENDC_NOT_NULL(GenDCInfoTypeSpecificH264::H264Flags *Flags)
TN_GENDC_NOT_NULL(TnGenDCPartH264Fields::H264Flags *Flags)

/* The H.264 flags of the part fields are a class of their own (H264Flags);
 * those of the header's information stay an opaque byte. */
%warnfilter(325) GenDCInfoTypeSpecificH264::H264Flags;
%feature("flatnested") TnGenDCPartH264Fields::H264Flags;
%rename(H264Flags) TnGenDCPartH264Fields::H264Flags;

/* The arrays that follow a header's fixed part, read up to the header's own
 * count and never past the bytes that hold the record: those of the SDK's
 * container it lies in, or the record's own. */
%{
static PyObject *tn_gendc_array(const void *aRecord, size_t aRecordSize, size_t aArrayOffset, uint64_t aCount,
                                bool aSigned)
{
    uint64_t room = TnGenDCBytesAt(aRecord);
    if (room < aRecordSize) {
        room = aRecordSize;
    }
    const uint64_t fitting = (room - aArrayOffset) / 8;
    const Py_ssize_t count = (Py_ssize_t)(aCount < fitting ? aCount : fitting);
    PyObject *values = PyTuple_New(count);
    const uint8_t *element = static_cast<const uint8_t *>(aRecord) + aArrayOffset;
    for (Py_ssize_t i = 0; values != NULL && i < count; ++i, element += 8) {
        uint64_t value = 0;
        memcpy(&value, element, sizeof(value));
        PyObject *item = aSigned ? PyLong_FromLongLong((long long)value) : PyLong_FromUnsignedLongLong(value);
        if (item == NULL) {
            Py_CLEAR(values);
        } else {
            PyTuple_SET_ITEM(values, i, item);
        }
    }
    return values;
}
%}
%nothreadallow GenDCContainerHeader::GetComponentOffsets;
%nothreadallow GenDCFlowTable::GetFlowSizes;
%nothreadallow GenDCComponentHeader::GetPartOffsets;
%extend GenDCContainerHeader {
    /// The offsets of the component headers, as many as ComponentCount says
    /// and the container's bytes hold (one for a record of its own).
    PyObject *GetComponentOffsets() {
        return tn_gendc_array($self, sizeof(GenDCContainerHeader), offsetof(GenDCContainerHeader, ComponentOffsets),
                              $self->ComponentCount, true);
    }
}
%extend GenDCFlowTable {
    /// The flow sizes, as many as FlowCount says and the container's bytes
    /// hold (one for a record of its own).
    PyObject *GetFlowSizes() {
        return tn_gendc_array($self, sizeof(GenDCFlowTable), offsetof(GenDCFlowTable, FlowSize), $self->FlowCount,
                              false);
    }
}
%extend GenDCComponentHeader {
    /// The offsets of the part headers, as many as PartCount says and the
    /// container's bytes hold (one for a record of its own).
    PyObject *GetPartOffsets() {
        return tn_gendc_array($self, sizeof(GenDCComponentHeader), offsetof(GenDCComponentHeader, PartOffsets),
                              $self->PartCount, true);
    }
}

%ignore TnGenDCBytesAt;
%include "TnGenDCHeaders.h"

/* ------------------------------------------------------------------------
 * Interfaces. All belong to their container, which belongs to its buffer or
 * manager: none is ever destroyed through its proxy, and each proxy keeps the
 * owner of the one it came from alive (as every object a method hands out
 * does). */
TN_NEVER_DESTROYED(ITnGenericDataContainer)
TN_NEVER_DESTROYED(ITnGenDCManager)
TN_NEVER_DESTROYED(ITnGenericDataComponent)
TN_NEVER_DESTROYED(ITnGenericDataPart)
TN_NEVER_DESTROYED(ITnGenDCImage)
TN_NEVER_DESTROYED(ITnGenDCChunkData)
TN_NEVER_DESTROYED(ITnGenDCChunkWriter)

/* Indexing answers None past the count, as GetComponent and GetPart do; a
 * Python loop goes through the proxy's iterator, which stops at the count. */
%extend ITnGenericDataContainer {
    ITnGenericDataComponent *__getitem__(uint32_t aIndex) {
        return $self->GetComponent(aIndex);
    }
%pythoncode %{
    def __len__(self):
        return self.GetComponentCount()

    def __iter__(self):
        for index in range(self.GetComponentCount()):
            component = self.GetComponent(index)
            if component is None:
                return
            yield component
%}
}
%extend ITnGenericDataComponent {
    ITnGenericDataPart *__getitem__(uint32_t aIndex) {
        return $self->GetPart(aIndex);
    }
%pythoncode %{
    def __len__(self):
        return self.GetPartCount()

    def __iter__(self):
        for index in range(self.GetPartCount()):
            part = self.GetPart(index)
            if part is None:
                return
            yield part
%}
}

/* The part's header as the record of its kind: None unless the header is of
 * that type and holds the whole record. */
%define TN_GENDC_TYPED_HEADER(NAME, KIND, RECORD, TYPE)
%extend ITnGenericDataPart {
    /// Get the Header as a KIND Header.
    RECORD *Get##NAME##Header() {
        GenDCPartHeader *header = $self->GetMutableHeader();
        if (header == NULL || $self->GetHeaderType() != TYPE || $self->GetHeaderSize() < sizeof(RECORD)) {
            return NULL;
        }
        return static_cast<RECORD *>(header);
    }
}
%enddef
TN_GENDC_TYPED_HEADER(1D, 1D, GenDCPartHeader1D, GDC_1D)
TN_GENDC_TYPED_HEADER(2D, 2D, GenDCPartHeader2D, GDC_2D)
TN_GENDC_TYPED_HEADER(JPEG, JPEG, GenDCPartHeaderJPEG, GDC_2D_JPEG)
TN_GENDC_TYPED_HEADER(JPEG2000, JPEG2000, GenDCPartHeaderJPEG2000, GDC_2D_JPEG2000)
TN_GENDC_TYPED_HEADER(H264, H264, GenDCPartHeaderH264, GDC_2D_H264)
TN_GENDC_TYPED_HEADER(GenICamChunk, GenICamChunk, GenDCPartHeaderGenICamChunk, GDC_METADATA_GENICAM_CHUNK)
TN_GENDC_TYPED_HEADER(GenICamXML, GenICamXML, GenDCPartHeaderGenICamXML, GDC_METADATA_GENICAM_XML)

/* The decoded fields follow the result whatever it says: a copy owned by
 * Python, zero where the SDK wrote nothing. */
%define TN_GENDC_FIELDS(RECORD)
TN_PLAIN_OUTPUT(RECORD &aFields, RECORD value = RECORD(),
                SWIG_NewPointerObj(new RECORD(*$1), $1_descriptor, SWIG_POINTER_OWN))
%enddef
TN_GENDC_FIELDS(TnGenDCPartMetadataFields)
TN_GENDC_FIELDS(TnGenDCPart1DFields)
TN_GENDC_FIELDS(TnGenDCPart2DFields)
TN_GENDC_FIELDS(TnGenDCPartH264Fields)

/* Operations of the SDK that Python does not reach. */
%ignore ITnGenericDataContainer::GetFlowCount;
%ignore ITnGenericDataContainer::GetFlowTable;
%ignore ITnGenericDataContainer::GetMutableFlowTable;

%include "TnGenDC.h"

%clear TnGenDCPartMetadataFields &aFields, TnGenDCPart1DFields &aFields, TnGenDCPart2DFields &aFields,
       TnGenDCPartH264Fields &aFields;
