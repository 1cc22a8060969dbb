/* Arguments: how every wrapper unpacks its argument tuple, converts `self`
 * and destroys what its pointer object owns (tn_runtime.i includes it). */

%{
/* Argument tuples. Every wrapper unpacks its arguments here, so the checks
 * that must hold for whole kinds of functions sit in one place. */

/* Whether a wrapper answers NotImplemented when its arguments do not fit:
 * Python's comparison and binary-operator methods (SWIG marks every method
 * of these names so). */
static bool tn_answers_notimplemented(const char *aName)
{
    static const char *const kOperators[] = {"eq", "ne", "lt", "le", "gt", "ge", "add", "radd", "sub", "rsub",
                                             "mul", "rmul", "div", "rdiv", "truediv", "rtruediv", "mod", "rmod",
                                             "lshift", "rlshift", "rshift", "rrshift", "and", "rand", "or", "ror",
                                             "xor", "rxor", "pos", "neg"};
    const size_t length = strlen(aName);
    if (length < 7 || strcmp(aName + length - 2, "__") != 0) {
        return false;
    }
    for (const char *name : kOperators) {
        const size_t size = strlen(name);
        if (length >= size + 5 && strncmp(aName + length - size - 2, name, size) == 0 &&
            strncmp(aName + length - size - 5, "___", 3) == 0) {
            return true;
        }
    }
    return false;
}

/* A proxy class for a type record: a class that can make instances, whose
 * destroy function, if it has one, is a module function (the runtime calls
 * it as one). Anything else would leave the record unusable. */
static bool tn_proxy_class_check(PyObject *aClass)
{
    if (!PyType_Check(aClass) || reinterpret_cast<PyTypeObject *>(aClass)->tp_new == NULL) {
        PyErr_Format(PyExc_TypeError, "swigregister expected a class, got %s", Py_TYPE(aClass)->tp_name);
        return false;
    }
    PyObject *destroy = PyObject_GetAttrString(aClass, "__swig_destroy__");
    if (destroy == NULL) {
        PyErr_Clear();
        return true;
    }
    const bool builtin = PyCFunction_Check(destroy);
    Py_DECREF(destroy);
    if (!builtin) {
        PyErr_Format(PyExc_TypeError,
                     "swigregister expected a class whose __swig_destroy__ is a module function, got %s",
                     reinterpret_cast<PyTypeObject *>(aClass)->tp_name);
    }
    return builtin;
}

/* The runtime's unpacking, and then: a comparison whose arguments do not fit
 * drops the count's TypeError (it answers NotImplemented), and a proxy class
 * registration takes classes only. */
static Py_ssize_t tn_unpack_arguments(PyObject *aArgs, const char *aName, Py_ssize_t aLeast, Py_ssize_t aMost,
                                      PyObject **aObjects)
{
    const Py_ssize_t count = SWIG_Python_UnpackTuple(aArgs, aName, aLeast, aMost, aObjects);
    if (count == 0) {
        if (tn_answers_notimplemented(aName) && PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
        }
        return 0;
    }
    if (aName[0] == 's' && strcmp(aName, "swigregister") == 0 && !tn_proxy_class_check(aObjects[0])) {
        return 0;
    }
    return count;
}
#define SWIG_Python_UnpackTuple tn_unpack_arguments
%}

/* `self`. None is a null pointer for pointer parameters, but never a `self`:
 * such a call is refused before it reaches the SDK. The objects a method
 * hands out without owning them keep its `self`'s owner alive
 * (tn_lifetime.i: `self` is the wrapper's tnlender1). The call uses `self`
 * until it returns, and so every wrapped object it is given (a record in
 * the wrapper's frame, tn_uses.i): what would destroy or change them
 * meanwhile waits for it.
 *
 * Destruction: a `delete_` function destroys only what its pointer object
 * owns. It takes the ownership, destroys the object and leaves the pointer
 * object empty, so that later calls through it are refused like None. For
 * None, and for a borrowed object (the SDK's, or one already destroyed), it
 * does nothing; an object still lent leaves the pointer object empty and is
 * destroyed once nothing keeps it (tn_destruction_deferred). A class whose
 * destructor is not virtual destroys only objects of its very class: one of
 * a derived class is refused (TypeError), as its delete through the base
 * would free it as the base's size. */
%{
#include <type_traits>

static inline bool tn_is_destructor(const char *aName)
{
    return strncmp(aName, "delete_", 7) == 0;
}

/* Whether the delete_ function aFunction of the class Class (of the type
 * aType) may destroy what the pointer object aPointer (or null) holds:
 * false, with TypeError set, for an object of a derived class when Class's
 * destructor is not virtual. */
template <typename Class>
static bool tn_destroyed_as(PyObject *aPointer, swig_type_info *aType, const char *aFunction)
{
    if (std::has_virtual_destructor<Class>::value || aPointer == NULL) {
        return true;
    }
    const SwigPyObject *pointer = reinterpret_cast<const SwigPyObject *>(aPointer);
    if (pointer->ty == aType || pointer->ptr == NULL) {
        return true;
    }
    PyErr_Format(PyExc_TypeError,
                 "in method '%s', argument 1 of type '%s': a '%s' is destroyed only by the delete function of its "
                 "own class (this class's destructor is not virtual)",
                 aFunction, SWIG_TypePrettyName(aType), pointer->ty != NULL ? SWIG_TypePrettyName(pointer->ty) : "?");
    return false;
}
%}
%define TN_SELF_CONVERSION(DESTROYS)
  tnthis = tn_use_pointer($input);
  if (DESTROYS && tn_is_destructor("$symname") && !tn_destroyed_as<$*1_ltype>(tnthis, $descriptor, "$symname")) {
    SWIG_fail;
  }
  res = tn_use_convert(tnthis, $input, &argp, $descriptor, (DESTROYS ? $disown : 0) | %convertptr_flags, &owned);
  if (!SWIG_IsOK(res)) {
    %argument_fail(res, "$type", $symname, $argnum);
  }
  $1 = %reinterpret_cast(argp, $ltype);
  tnlender = $input;
  if (tn_is_destructor("$symname")) {
    if (!DESTROYS || !(owned & SWIG_POINTER_OWN) || tn_destruction_deferred($input)) {
      return SWIG_Py_Void();
    }
    SWIG_ConvertPtr($input, 0, $descriptor, SWIG_POINTER_CLEAR);
  } else if (!TN_USE_BEGIN(tnuse, tnthis, "$symname", $argnum)) {
    SWIG_fail;
  }
%enddef
%typemap(in, noblock=1) SWIGTYPE *self (void *argp = 0, int res = 0, int owned = 0, PyObject *tnlender = 0,
                                        PyObject *tnthis = 0, TnUse tnuse) {
TN_SELF_CONVERSION(1)
}

/* Classes whose objects always belong to the SDK or to another object (an
 * image to its buffer): their `delete_` function destroys nothing and leaves
 * the pointer object as it is, owned or not. */
%define TN_NEVER_DESTROYED(CLASS)
%typemap(in, noblock=1) CLASS *self (void *argp = 0, int res = 0, int owned = 0, PyObject *tnlender = 0,
                                     PyObject *tnthis = 0, TnUse tnuse) {
TN_SELF_CONVERSION(0)
}
%extend CLASS {
    ~CLASS() {
        (void)$self;
    }
}
%enddef

%typemap(check) SWIGTYPE *self %{
    if ($1 == NULL) {
        SWIG_exception_fail(SWIG_TypeError, "in method '" "$symname" "', argument " "$argnum" " of type '" "$1_type" "'");
    }
%}
%typemap(check) PyObject *self ""

/* Wrapped objects given as arguments: the runtime's conversions, and the
 * record of the call's use of each (tn_uses.i). */
%typemap(in, noblock=1) SWIGTYPE * (void *argp = 0, int res = 0, PyObject *tnthis = 0, TnUse tnuse),
                        SWIGTYPE [] (void *argp = 0, int res = 0, PyObject *tnthis = 0, TnUse tnuse) {
  tnthis = tn_use_pointer($input);
  res = tn_use_convert(tnthis, $input, &argp, $descriptor, $disown | %convertptr_flags, NULL);
  if (!SWIG_IsOK(res)) {
    %argument_fail(res, "$type", $symname, $argnum);
  }
  $1 = %reinterpret_cast(argp, $ltype);
  if (!TN_USE_BEGIN(tnuse, tnthis, "$symname", $argnum)) {
    SWIG_fail;
  }
}
%typemap(in, noblock=1) SWIGTYPE & (void *argp = 0, int res = 0, PyObject *tnthis = 0, TnUse tnuse) {
  tnthis = tn_use_pointer($input);
  res = tn_use_convert(tnthis, $input, &argp, $descriptor, %convertptr_flags, NULL);
  if (!SWIG_IsOK(res)) {
    %argument_fail(res, "$type", $symname, $argnum);
  }
  if (!argp) {
    %argument_nullref("$type", $symname, $argnum);
  }
  $1 = %reinterpret_cast(argp, $ltype);
  if (!TN_USE_BEGIN(tnuse, tnthis, "$symname", $argnum)) {
    SWIG_fail;
  }
}
