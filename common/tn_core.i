/* The core types every module carries: TnString, TnResult, the pixel-type
 * constants, TnLogger and the overridable TnLogSink. The pixel-type functions
 * belong to the base module alone. */

%{
#include "TnString.h"
#include "TnResult.h"
#include "TnPixelType.h"
#include "TnLog.h"
%}

#ifndef TN_BASE_MODULE
%ignore TnPixelTypeGetBitsPerPixel;
%ignore TnPixelTypeGetPixelSize;
%ignore TnPixelTypeGetPixelBitCount;
%ignore TnPixelTypeGetBitsPerComponent;
%ignore TnPixelTypeIsPixelColor;
%ignore TnPixelTypeIsPixelHighRes;
%ignore TnPixelTypeToString;
#endif

/* An in-place addition joins the text into the same string and answers the
 * joined text; the proxy keeps its string and its ownership. */
%nodelobject TnString::operator +=;
%nonewobject TnString::operator +=;

%extend TnString {
    /// The text as wide characters; the same as GetUnicode.
    const wchar_t *__str__() {
        return $self->GetUnicode();
    }
}

%feature("director") TnLogSink;
/* The SDK may call straight back into Python. */
%nothreadallow TnLogSink::Log;

%include "TnExport.h"
%include "TnString.h"
%include "TnResult.h"
%include "TnPixelType.h"
%include "TnLog.h"
