/* TnString conversions.
 *
 * A `TnString const &` parameter takes a wrapped TnString as it is, or a str
 * (through wide characters, then through UTF-8 when that fails) or a wrapped
 * char pointer as a temporary string that lives for the call. TnString results
 * come back as str. */

/* Runtime helpers the conversions below use. */
%fragment("SWIG_AsCharPtrAndSize");
%fragment("SWIG_FromWCharPtrAndSize");

%{
#include <string.h>
#include <wchar.h>

#include "TnString.h"

/* Raises a TypeError of exactly aMessage, with the detail (the type given,
 * the types taken) as the exception's note, which a traceback prints below
 * the message. Takes both references. */
static void tn_type_error_noted(PyObject *aMessage, PyObject *aNote)
{
    if (aMessage == NULL || aNote == NULL) {
        Py_XDECREF(aMessage);
        Py_XDECREF(aNote);
        return;
    }
    PyErr_SetObject(PyExc_TypeError, aMessage);
    PyObject *error = PyErr_GetRaisedException();
    PyObject *noted = PyObject_CallMethod(error, "add_note", "O", aNote);
    if (noted != NULL) {
        Py_DECREF(noted);
        PyErr_SetRaisedException(error);
    } else {
        Py_DECREF(error);
    }
    Py_DECREF(aMessage);
    Py_DECREF(aNote);
}

/* The TnString a `TnString const &` parameter stands for; a temporary goes to
 * aTemporary. Null with a TypeError set when the object gives none, its note
 * naming the type given and the types taken. */
static TnString *tn_string_from_python(PyObject *aObject, int aPosition, const char *aFunction,
                                       TnString **aTemporary)
{
    if (aObject == Py_None) {
        PyErr_Format(PyExc_TypeError,
                     "invalid null reference in method '%s', argument %d of type 'TnString const &'",
                     aFunction, aPosition);
        return NULL;
    }
    void *wrapped = NULL;
    if (SWIG_IsOK(SWIG_ConvertPtr(aObject, &wrapped, SWIGTYPE_p_TnString, 0))) {
        return reinterpret_cast<TnString *>(wrapped);
    }
    if (PyUnicode_Check(aObject)) {
        Py_ssize_t length = 0;
        wchar_t *wide = PyUnicode_AsWideCharString(aObject, &length);
        if (wide != NULL) {
            /* An embedded null character would cut the text short. */
            if (wcslen(wide) == static_cast<size_t>(length)) {
                *aTemporary = new TnString(wide);
            }
            PyMem_Free(wide);
            if (*aTemporary != NULL) {
                return *aTemporary;
            }
        }
        PyErr_Clear();
    }
    char *text = NULL;
    size_t size = 0;
    int alloc = 0;
    if (SWIG_IsOK(SWIG_AsCharPtrAndSize(aObject, &text, &size, &alloc)) && text != NULL &&
        strlen(text) + 1 == size) {
        *aTemporary = new TnString(text);
    }
    if (alloc == SWIG_NEWOBJ) {
        delete[] text;
    }
    if (*aTemporary != NULL) {
        return *aTemporary;
    }
    PyErr_Clear();
    tn_type_error_noted(PyUnicode_FromFormat("Argument %d: failed to create TnString from Python string", aPosition),
                        PyUnicode_Check(aObject)
                            ? PyUnicode_FromString("the str holds a null character")
                            : PyUnicode_FromFormat("takes str or TnString, not %s", Py_TYPE(aObject)->tp_name));
    return NULL;
}

/* Whether an object passes for a string in overload selection. */
static bool tn_string_check(PyObject *aObject)
{
    void *pointer = NULL;
    return aObject != Py_None &&
           (PyUnicode_Check(aObject) || SWIG_IsOK(SWIG_ConvertPtr(aObject, &pointer, SWIGTYPE_p_TnString, 0)) ||
            SWIG_IsOK(SWIG_ConvertPtr(aObject, &pointer, SWIGTYPE_p_char, 0)) ||
            SWIG_IsOK(SWIG_ConvertPtr(aObject, &pointer, SWIGTYPE_p_wchar_t, 0)));
}

static PyObject *tn_string_to_python(const TnString &aValue)
{
    const wchar_t *text = aValue.GetUnicode();
    return SWIG_FromWCharPtrAndSize(text, text != NULL ? wcslen(text) : 0);
}
%}

%typemap(in) TnString const & (TnString *temporary = NULL, TnUse tnuse) {
    $1 = tn_string_from_python($input, $argnum, "$symname", &temporary);
    if ($1 == NULL) {
        SWIG_fail;
    }
    if (temporary == NULL && !TN_USE_BEGIN(tnuse, tn_use_pointer($input), "$symname", $argnum)) {
        SWIG_fail;
    }
}
%typemap(freearg) TnString const & {
    delete temporary$argnum;
}

/* Dispatch tests a string only as the first parameter of a form: later
 * positions, `self` included before them, count as matching and leave the
 * decision to the parameters before them. Precedence after `char const *`,
 * so that text and char pointers reach their own overloads first. */
%typecheck(145) TnString const & {
    $1 = (&($input) != &argv[0]) || tn_string_check($input);
}

%typemap(out) TnString {
    $result = tn_string_to_python($1);
}
%typemap(out) TnString &, TnString const & {
    $result = tn_string_to_python(*$1);
}

