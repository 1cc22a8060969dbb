/* GenICam parameter access, carried by all three modules: the parameter
 * array, its typed parameters, enumeration entries, categories, lists, the
 * state stack and the update sink. */

%{
#include "TnGenParameter.h"
#include "TnGenParameterArray.h"
%}

%{
/* A parameter as the proxy of its most specific class; it keeps the owner
 * of tnlender1, the `self` of the method that hands it out (tn_lifetime.i). */
static PyObject *tn_parameter_to_python(TnGenParameter *aParameter, PyObject *tnlender1)
{
    if (aParameter == NULL) {
        return SWIG_Py_Void();
    }
    if (TnGenInteger *typed = dynamic_cast<TnGenInteger *>(aParameter)) {
        return SWIG_NewPointerObj(typed, SWIGTYPE_p_TnGenInteger, 0);
    }
    if (TnGenFloat *typed = dynamic_cast<TnGenFloat *>(aParameter)) {
        return SWIG_NewPointerObj(typed, SWIGTYPE_p_TnGenFloat, 0);
    }
    if (TnGenEnum *typed = dynamic_cast<TnGenEnum *>(aParameter)) {
        return SWIG_NewPointerObj(typed, SWIGTYPE_p_TnGenEnum, 0);
    }
    if (TnGenBoolean *typed = dynamic_cast<TnGenBoolean *>(aParameter)) {
        return SWIG_NewPointerObj(typed, SWIGTYPE_p_TnGenBoolean, 0);
    }
    if (TnGenCommand *typed = dynamic_cast<TnGenCommand *>(aParameter)) {
        return SWIG_NewPointerObj(typed, SWIGTYPE_p_TnGenCommand, 0);
    }
    if (TnGenString *typed = dynamic_cast<TnGenString *>(aParameter)) {
        return SWIG_NewPointerObj(typed, SWIGTYPE_p_TnGenString, 0);
    }
    if (TnGenRegister *typed = dynamic_cast<TnGenRegister *>(aParameter)) {
        return SWIG_NewPointerObj(typed, SWIGTYPE_p_TnGenRegister, 0);
    }
    return SWIG_NewPointerObj(aParameter, SWIGTYPE_p_TnGenParameter, 0);
}
%}

%typemap(out) TnGenParameter * {
    $result = tn_parameter_to_python($1, tnlender1);
}

/* Outputs written through references come after the result in a list, each
 * None unless the result is OK. */
TN_GATED_OUTPUT(int64_t, = 0, SWIG_From_long_SS_long((long long)*$1))
TN_GATED_OUTPUT(double, = 0.0, SWIG_From_double(*$1))
TN_GATED_OUTPUT(bool, = false, SWIG_From_bool(*$1))
TN_GATED_OUTPUT(TnString, , tn_string_to_python(*$1))
TN_GATED_OUTPUT(TnGenType, = TnGenTypeUndefined, SWIG_From_int((int)*$1))
TN_GATED_OUTPUT(TnGenNameSpace, = TnGenNameSpaceUndefined, SWIG_From_int((int)*$1))
TN_GATED_OUTPUT(TnGenVisibility, = TnGenVisibilityUndefined, SWIG_From_int((int)*$1))
TN_GATED_OUTPUT(TnGenRepresentation, = TnGenRepresentationUndefined, SWIG_From_int((int)*$1))

/* Inputs taken by const reference stay inputs. */
%typemap(argout) TnString const & ""

/* An enumeration entry handed out through a pointer to pointer. */
%typemap(in, numinputs=0) TnGenEnumEntry const ** (TnGenEnumEntry const *entry = NULL) {
    $1 = ($1_ltype)&entry;
}
%typemap(argout) TnGenEnumEntry const ** {
    const bool found = result.IsOK() && *$1 != NULL;
    TN_APPEND(tn_append_gated($result, found,
                              found ? SWIG_NewPointerObj(const_cast<TnGenEnumEntry *>(*$1), SWIGTYPE_p_TnGenEnumEntry, 0) : NULL))
}

/* Lists of parameters hold their items by address: a list keeps the owner
 * of each item it holds (tn_lifetime.i), so that an item read from it is
 * never one whose array is gone. Add keeps the owner of the parameter added
 * in the item's slot (its position, from 1), Clear and the list's
 * destruction let go of them all. */
%exception TnGenParameterList::Add {
    TN_GUARDED_ACTION
    tn_hold(arg1, reinterpret_cast<const void *>(static_cast<uintptr_t>(arg1->GetSize())), swig_obj[1]);
}
%exception TnGenParameterList::Clear {
    TN_GUARDED_ACTION
    tn_forget_holder(arg1);
}
TN_LENDING_HOLDER(TnGenParameterList, arg1)

/* A list the SDK hands to an override (the parameters an event changed)
 * lives for that call only: when the call is over, its proxy is emptied, and
 * what Python added to it is let go of. */
%{
class TnCallList
{
public:
    TnCallList() : mList(NULL), mProxy(NULL) {}
    TnCallList(const TnCallList &) = delete;
    TnCallList &operator=(const TnCallList &) = delete;

    /* Takes its own reference; called with the interpreter lock held. */
    void Hold(const TnGenParameterList *aList, PyObject *aProxy)
    {
        if (aList != NULL && aProxy != NULL && aProxy != Py_None) {
            mList = aList;
            mProxy = Py_NewRef(aProxy);
        }
    }

    ~TnCallList()
    {
        if (mProxy == NULL || !Py_IsInitialized() || (Py_IsFinalizing() && !PyGILState_Check())) {
            return;
        }
        PyGILState_STATE state = PyGILState_Ensure();
        PyObject *pending = PyErr_GetRaisedException();
        SwigPyObject *pointer = SWIG_Python_GetSwigThis(mProxy);
        if (pointer != NULL) {
            pointer->ptr = NULL;
        }
        PyErr_Clear();
        tn_forget_holder(mList);
        Py_DECREF(mProxy);
        PyErr_SetRaisedException(pending);
        PyGILState_Release(state);
    }

private:
    const TnGenParameterList *mList;
    PyObject *mProxy;
};
%}
%typemap(directorin) TnGenParameterList * (TnCallList list) {
    $input = SWIG_NewPointerObj(SWIG_as_voidptr($1), $descriptor, 0);
    list.Hold($1, $input);
}

/* Selection lists: a new list made before `self` is converted, returned to
 * Python whatever the result. Its items belong to the array of `self`, whose
 * owner the list keeps. */
%typemap(in, numinputs=0) TnGenParameterList & {
    $1 = new TnGenParameterList();
}
%typemap(argout) TnGenParameterList & {
    if ($result == NULL) {
        SWIG_fail;
    }
    tn_hold($1, $1, tnlender1);
    /* The pointer object owns the list from here on, made or not. */
    $result = tn_append_output($result, SWIG_NewPointerObj($1, SWIGTYPE_p_TnGenParameterList, SWIG_POINTER_OWN));
    $1 = NULL;
    if ($result == NULL) {
        SWIG_fail;
    }
}
%typemap(freearg) TnGenParameterList & {
    delete $1;
}

/* Ranges: a tuple of the result, the minimum and the maximum. */
TN_RANGE_OUTPUT(int64_t, SWIG_From_long_SS_long)
TN_RANGE_OUTPUT(double, SWIG_From_double)

%rename(__getitem__) TnGenParameterList::operator[];
%rename(__getitem__) TnGenParameterArray::operator[];

/* Indexing answers None past the end, as the SDK's operator[] does; a Python
 * loop goes through the proxy's iterator, which stops at the count, and `in`
 * asks by name (arrays) or for the item itself (lists). A feature is named
 * in print by its class and name, read from the description, never from the
 * device. */
%pythoncode %{
def _tn_same_object(one, other):
    try:
        return one is not None and other is not None and int(one.this) == int(other.this)
    except Exception:
        return False


def _tn_feature_text(feature):
    result, name = feature.GetName()
    text = "<%s %r" % (type(feature).__name__, name if result.IsOK() else None)
    if type(feature).__name__ == "TnGenParameter":
        result, kind = feature.GetType()
        kinds = {value: constant[len("TnGenType"):] for constant, value in globals().items()
                 if constant.startswith("TnGenType") and isinstance(value, int)}
        text += ", type %s" % (kinds.get(kind, kind) if result.IsOK() else None)
    return text + ">"
%}
%extend TnGenParameterList {
%pythoncode %{
    def __len__(self):
        return self.GetSize()

    def __iter__(self):
        for index in range(self.GetSize()):
            item = self.GetItem(index)
            if item is None:
                return
            yield item

    def __contains__(self, item):
        return any(_tn_same_object(held, item) for held in self)

    def __repr__(self):
        return _tn_readable(self, lambda features: "<TnGenParameterList of %d features>" % features.GetSize())
%}
}
%extend TnGenParameterArray {
%pythoncode %{
    def __len__(self):
        return self.GetCount()

    def __iter__(self):
        for index in range(self.GetCount()):
            feature = self.Get(index)
            if feature is None:
                return
            yield feature

    def __contains__(self, name):
        if isinstance(name, (str, TnString)):
            return self.Get(name) is not None
        return any(_tn_same_object(feature, name) for feature in self)

    def __repr__(self):
        return _tn_readable(self, lambda features: "<TnGenParameterArray of %d features>" % features.GetCount())
%}
}
%define TN_READABLE_FEATURE(CLASS)
%extend CLASS {
%pythoncode %{
    def __repr__(self):
        return _tn_readable(self, _tn_feature_text)
%}
}
%enddef
TN_READABLE_FEATURE(TnGenParameter)
TN_READABLE_FEATURE(TnGenInteger)
TN_READABLE_FEATURE(TnGenFloat)
TN_READABLE_FEATURE(TnGenEnum)
TN_READABLE_FEATURE(TnGenBoolean)
TN_READABLE_FEATURE(TnGenString)
TN_READABLE_FEATURE(TnGenCommand)
TN_READABLE_FEATURE(TnGenRegister)
TN_READABLE_FEATURE(TnGenEnumEntry)
TN_READABLE_FEATURE(TnGenCategory)
%rename(GetEnumValueInt) TnGenParameterArray::GetEnumValue(const TnString &, int64_t &);
%rename(GetEnumValueString) TnGenParameterArray::GetEnumValue(const TnString &, TnString &);

/* The enumeration's value getters name a `self` without const in their
 * messages, as its setter does: they are wrapped through non-const forms. */
%ignore TnGenEnum::GetValue(int64_t &) const;
%ignore TnGenEnum::GetValue(TnString &) const;
%extend TnGenEnum {
    /// The current entry's integer value.
    TnResult GetValueInt(int64_t &aValue) {
        return $self->GetValue(aValue);
    }
    /// The current entry's symbolic name.
    TnResult GetValueString(TnString &aValue) {
        return $self->GetValue(aValue);
    }
}

/* Parameters, entries and categories belong to their array. */
%nodefaultctor TnGenParameter;
%nodefaultdtor TnGenParameter;
%nodefaultctor TnGenInteger;
%nodefaultdtor TnGenInteger;
%nodefaultctor TnGenFloat;
%nodefaultdtor TnGenFloat;
%nodefaultctor TnGenEnum;
%nodefaultdtor TnGenEnum;
%nodefaultctor TnGenEnumEntry;
%nodefaultdtor TnGenEnumEntry;
%nodefaultctor TnGenBoolean;
%nodefaultdtor TnGenBoolean;
%nodefaultctor TnGenString;
%nodefaultdtor TnGenString;
%nodefaultctor TnGenCommand;
%nodefaultdtor TnGenCommand;
%nodefaultctor TnGenRegister;
%nodefaultdtor TnGenRegister;
%nodefaultctor TnGenCategory;
%nodefaultdtor TnGenCategory;

/* Update sinks belong to the SDK (a device adapter is one). Its destructor is
 * not virtual, so destroying one through this interface would destroy only
 * part of it: the module's destructor leaves the object alone. */
TN_NEVER_DESTROYED(TnGenEventSink)

/* A state stack works on an array: a null one is refused. */
%typemap(check) TnGenParameterArray *aArray {
    if ($1 == NULL) {
        SWIG_exception_fail(SWIG_TypeError, "invalid null reference in method '" "$symname" "', argument " "$argnum" " of type '" "$1_type" "'");
    }
}

/* The array's chunk payload: read while attached, which the SDK copies what
 * it needs of at once. */
TN_ARRAY_1D_IN_UINT32(uint8_t *aBuffer, uint32_t aBufferLength)

%include "TnGenParameter.h"

/* The setters of text values by name answer with the text they wrote. */
%typemap(argout) TnString const &aValue {
    TN_APPEND(tn_append_gated($result, result.IsOK(), result.IsOK() ? tn_string_to_python(*$1) : NULL))
}

%include "TnGenParameterArray.h"

%typemap(argout) TnString const &aValue "";
%clear int64_t &, double &, bool &, TnString &;
%clear TnGenType &, TnGenNameSpace &, TnGenVisibility &, TnGenRepresentation &;
%clear TnGenEnumEntry const **, TnGenParameterList &;
%clear (int64_t &aMin, int64_t &aMax), (double &aMin, double &aMax);
%clear (uint8_t *aBuffer, uint32_t aBufferLength);
%clear TnGenParameter *;
%clear TnGenParameterArray *aArray;
