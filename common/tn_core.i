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

/* In-place or: the combined result comes back as a new proxy that takes over
 * the ownership `self` had (none for a borrowed result). The proxy it was
 * called on keeps the new one alive, so that both stay usable whatever
 * becomes of the returned one; a bare pointer object passed as `self` that
 * gave its ownership away is emptied instead. */
%{
static PyObject *tn_in_place_result(PyObject *aSelf, swig_type_info *aType, void *aObject, bool aOwned)
{
    PyObject *proxy = SWIG_NewPointerObj(aObject, aType, aOwned ? SWIG_POINTER_OWN : 0);
    if (!aOwned) {
        return proxy;
    }
    if (proxy == NULL || SwigPyObject_Check(aSelf) || PyObject_SetAttrString(aSelf, "_tn_owner", proxy) != 0) {
        PyObject *pending = PyErr_GetRaisedException();
        SWIG_ConvertPtr(aSelf, 0, aType, SWIG_POINTER_CLEAR);
        PyErr_SetRaisedException(pending);
        if (proxy != NULL) {
            PyErr_Clear();
        }
    }
    return proxy;
}
%}
%typemap(out) TnResult & {
    $result = tn_in_place_result(swig_obj[0], $descriptor, $1, owned1 & SWIG_POINTER_OWN);
}

%extend TnString {
    /// The text as wide characters; the same as GetUnicode.
    const wchar_t *__str__() {
        return $self->GetUnicode();
    }
}

TN_DIRECTOR(TnLogSink)
/* The SDK may call straight back into Python. */
%nothreadallow TnLogSink::Log;

#ifndef TN_BASE_MODULE
/* The other modules' results take their description only as a wrapped
 * TnString: a str is no string there, and None no TnString. */
%typemap(in) TnString const &aDescription (void *argp = 0, int res = 0) {
    res = SWIG_ConvertPtr($input, &argp, $descriptor, 0);
    if (!SWIG_IsOK(res)) {
        %argument_fail(res, "$type", $symname, $argnum);
    }
    if (argp == NULL) {
        %argument_nullref("$type", $symname, $argnum);
    }
    $1 = reinterpret_cast<$ltype>(argp);
}
%typemap(freearg) TnString const &aDescription ""
%typecheck(SWIG_TYPECHECK_POINTER) TnString const &aDescription {
    void *argp = 0;
    $1 = SWIG_CheckState(SWIG_ConvertPtr($input, &argp, $descriptor, SWIG_POINTER_NO_NULL));
}
#endif

%include "TnExport.h"
%include "TnString.h"
%include "TnResult.h"

#ifndef TN_BASE_MODULE
%clear TnString const &aDescription;
#endif
%include "TnPixelType.h"
#ifndef TN_BASE_MODULE
/* The log levels as plain constants: the other modules keep no type record
 * of the enumeration. */
%ignore TnLogLevelEnum;
%constant int TnLogLevelUnknown = TnLogLevelUnknown;
%constant int TnLogLevelInfo = TnLogLevelInfo;
%constant int TnLogLevelError = TnLogLevelError;
%constant int TnLogLevelWarning = TnLogLevelWarning;
%constant int TnLogLevelCritical = TnLogLevelCritical;
%constant int TnLogLevelDebug = TnLogLevelDebug;
%ignore TnLogLevelUnknown;
%ignore TnLogLevelInfo;
%ignore TnLogLevelError;
%ignore TnLogLevelWarning;
%ignore TnLogLevelCritical;
%ignore TnLogLevelDebug;
#endif
%include "TnLog.h"
