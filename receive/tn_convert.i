/* Buffer conversion: the converter with its colour filter, the filter
 * interface and the compression and decompression filters. Buffers and
 * images come from the base module: here they are pointer types only, whose
 * proxy classes the base module binds. */

%{
#include "ITnFilter.h"
#include "TnBufferConverter.h"
#include "TnBufferConverterRGBFilter.h"
#include "TnCompressionFilter.h"
#include "TnDecompressionFilter.h"
%}

/* Convert and Execute: the tuple (result, the output buffer or None), the
 * buffer a new borrowed proxy, given only when the result is OK (output
 * forms of tn_outputs.i). */
TN_GATED_TUPLE_ARGUMENT(TnBuffer *aDestination, SWIGTYPE_p_TnBuffer)
TN_GATED_TUPLE_ARGUMENT(TnBuffer *aOut, SWIGTYPE_p_TnBuffer)

/* GetOutputFormatFor: the tuple (result, pixel type, width, height), the
 * three values as they are after the call whatever the result; fresh slots
 * start as TnPixelUndefined and 0. */
TN_TUPLE_TRIPLE_OUTPUT((TnPixelType &aPixelType, uint32_t &aWidth, uint32_t &aHeight),
                       (TnPixelType pixelType = TnPixelUndefined, uint32_t width = 0, uint32_t height = 0),
                       pixelType, width, height, SWIG_From_unsigned_SS_int(static_cast<unsigned int>(*$1)),
                       SWIG_From_unsigned_SS_int(*$2), SWIG_From_unsigned_SS_int(*$3))

/* Convert's Python face: one entry for its six forms. */
%feature("docstring") TnBufferConverter::Convert
"Convert(*args) -> TnResult, TnBuffer

Convert(source, destination[, reallocIfNeeded=True[, flipY=False]]):
converts the source, a TnBuffer or an ITnImage (a buffer's image), into
the pixel type of the destination buffer's image, which takes the source's
width, height, offsets, block ID and times; flipY turns the image upside
down. Returns the result and, when it is OK, the destination buffer; None
otherwise.

A destination already of the source's width, height and pixel type keeps
its paddings; another gets none. A destination whose memory is too small
is reallocated when it owns its memory (or has none) and reallocIfNeeded
is True; memory attached to it is never written past.

TN_OK; TN_INVALID_PARAMETER for no source or destination, a source without
an image in memory, a destination that is not an image buffer or has no
pixel type, or a source and destination that share memory;
TN_NOT_SUPPORTED for a pair of pixel types the converter does not convert;
TN_BUFFER_TOO_SMALL for a destination too small that is not to be
reallocated; TN_NOT_ENOUGH_MEMORY.";

%include "TnBufferConverter.h"
%include "TnBufferConverterRGBFilter.h"
%include "ITnFilter.h"
%include "TnCompressionFilter.h"
%include "TnDecompressionFilter.h"

%clear TnBuffer *aDestination, TnBuffer *aOut;
%clear (TnPixelType &aPixelType, uint32_t &aWidth, uint32_t &aHeight);
