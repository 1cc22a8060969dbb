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

/* Results by value: every call answers with a new TnResult proxy owned by
 * Python. The module keeps the last one it made: when the next result comes
 * and nothing but the module refers to that one any more (its caller dropped
 * it, and no attribute, weak reference or reference to its pointer object was
 * added, its ownership unchanged), the result is written into it and it is
 * handed out again. That spares the proxy, pointer object and SDK result
 * made and destroyed per call, most of the cost of a cheap call. */
%{
static PyObject *tn_spare_result = NULL;

static SwigPyObject *tn_reusable_result(PyObject *aProxy, swig_type_info *aType)
{
    const SwigPyClientData *data = static_cast<const SwigPyClientData *>(aType->clientdata);
    PyTypeObject *type = Py_TYPE(aProxy);
    if (Py_REFCNT(aProxy) != 1 || data == NULL || reinterpret_cast<PyObject *>(type) != data->newargs ||
        (type->tp_weaklistoffset != 0 && *reinterpret_cast<PyObject **>(reinterpret_cast<char *>(aProxy) + type->tp_weaklistoffset) != NULL)) {
        return NULL;
    }
    PyObject **dictionary = _PyObject_GetDictPtr(aProxy);
    if (dictionary == NULL || *dictionary == NULL || Py_REFCNT(*dictionary) != 1 || PyDict_GET_SIZE(*dictionary) != 1) {
        return NULL;
    }
    PyObject *pointer = PyDict_GetItem(*dictionary, SWIG_This());
    if (pointer == NULL || Py_TYPE(pointer) != SwigPyObject_type() || Py_REFCNT(pointer) != 1) {
        return NULL;
    }
    SwigPyObject *object = reinterpret_cast<SwigPyObject *>(pointer);
    return object->ptr != NULL && object->own == SWIG_POINTER_OWN && object->ty == aType && object->next == NULL ? object : NULL;
}

static PyObject *tn_result_to_python(const TnResult &aResult, swig_type_info *aType)
{
    if (tn_spare_result != NULL) {
        SwigPyObject *object = tn_reusable_result(tn_spare_result, aType);
        if (object != NULL) {
            *static_cast<TnResult *>(object->ptr) = aResult;
            Py_INCREF(tn_spare_result);
            return tn_spare_result;
        }
    }
    PyObject *proxy = SWIG_NewPointerObj(new TnResult(aResult), aType, SWIG_POINTER_OWN);
#ifndef Py_GIL_DISABLED
    /* The spare's attributes live in a dictionary of its own, so that the
     * check above sees them. */
    if (proxy != NULL && !SwigPyObject_Check(proxy)) {
        if (_PyObject_GetDictPtr(proxy) != NULL) {
            Py_INCREF(proxy);
            Py_XSETREF(tn_spare_result, proxy);
        } else {
            PyErr_Clear();
        }
    }
#endif
    return proxy;
}
%}
%typemap(out) TnResult {
    $result = tn_result_to_python($1, $descriptor(TnResult *));
}

%extend TnString {
    /// The text as wide characters; the same as GetUnicode.
    const wchar_t *__str__() {
        return $self->GetUnicode();
    }
}

/* What a person reads when Python prints an object: its class and what
 * identifies it (a result's code and description, a string's text), which
 * the proxy classes answer from their own methods. An emptied proxy (a
 * destroyed or released object) says that it was freed; an object that
 * cannot describe itself now shows its class alone. */
%pythoncode %{
def _tn_readable(proxy, describe):
    try:
        freed = not int(proxy.this)
    except Exception:
        freed = True
    if freed:
        return "<%s, freed>" % type(proxy).__name__
    try:
        return describe(proxy)
    except Exception:
        return "<%s>" % type(proxy).__name__


def _tn_result_text(result):
    text = result.GetCodeString()
    if text == "UNKNOWN":
        text += " 0x%X" % result.GetCode()
    description = result.GetDescription() if result.HasDescription() else None
    return "<TnResult %s>" % (text + ": " + description if description else text)
%}
%extend TnString {
%pythoncode %{
    def __repr__(self):
        return _tn_readable(self, lambda text: "TnString(%r)" % text.GetUnicode())
%}
}
%extend TnResult {
%pythoncode %{
    def __repr__(self):
        return _tn_readable(self, _tn_result_text)
%}
}

TN_DIRECTOR(TnLogSink)
/* The SDK may call straight back into Python. */
%nothreadallow TnLogSink::Log;

#ifndef TN_BASE_MODULE
/* The other modules' results take their description only as a wrapped
 * TnString: a str is no string there, and None no TnString. */
%typemap(in) TnString const &aDescription (void *argp = 0, int res = 0, TnUse tnuse) {
    res = SWIG_ConvertPtr($input, &argp, $descriptor, 0);
    if (!SWIG_IsOK(res)) {
        %argument_fail(res, "$type", $symname, $argnum);
    }
    if (argp == NULL) {
        %argument_nullref("$type", $symname, $argnum);
    }
    $1 = reinterpret_cast<$ltype>(argp);
    if (!TN_USE_BEGIN(tnuse, tn_use_pointer($input), "$symname", $argnum)) {
        SWIG_fail;
    }
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
