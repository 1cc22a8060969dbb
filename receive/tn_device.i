/* Device control: TnDevice with its GigE Vision and USB3 Vision controllers,
 * the Vexmoor Protocol's static operations, and the overridable event sink.
 * Device information comes from the base module: here it is a pointer type
 * only, whose proxy class the base module binds. */

%{
#include <stdlib.h>

#include "TnAccessType.h"
#include "TnDevice.h"
#include "TnDeviceEventSink.h"
#include "TnDeviceGEV.h"
#include "TnDeviceU3V.h"
#include "TnDiscoveryTypes.h"
%}

/* ------------------------------------------------------------------------
 * Enumeration value objects: device types, device classes and access types
 * cross as pointer objects of their own type holding a copy of the value,
 * not as ints. No proxy class wraps them; their type records get a destroy
 * function instead, so that a dropped value frees its cell. */
%{
static PyObject *tn_value_destroy(PyObject *, PyObject *aObject)
{
    SwigPyObject *object = (SwigPyObject *)aObject;
    free(object->ptr);
    object->ptr = NULL;
    return SWIG_Py_Void();
}

static PyObject *tn_value_has_no_proxy(PyObject *, PyObject *)
{
    PyErr_SetString(PyExc_TypeError, "enumeration values have no proxy class");
    return NULL;
}

static PyMethodDef tn_value_methods[] = {
    {"tn_value_destroy", tn_value_destroy, METH_O, NULL},
    {"tn_value_has_no_proxy", tn_value_has_no_proxy, METH_VARARGS, NULL},
};

/* Gives a value type's record its destroy function (unless a class took the
 * record already). The record keeps no class: a proxy asked of it fails. */
static void tn_value_type(swig_type_info *aType)
{
    if (aType->clientdata != NULL) {
        return;
    }
    SwigPyClientData *data = (SwigPyClientData *)calloc(1, sizeof(SwigPyClientData));
    if (data == NULL) {
        return;
    }
    Py_INCREF(Py_None);
    data->klass = Py_None;
    data->newraw = PyCFunction_New(&tn_value_methods[1], NULL);
    data->newargs = PyTuple_New(0);
    data->destroy = PyCFunction_New(&tn_value_methods[0], NULL);
    if (data->newraw == NULL || data->newargs == NULL || data->destroy == NULL) {
        PyErr_Clear();
        Py_XDECREF(data->newraw);
        Py_XDECREF(data->newargs);
        Py_XDECREF(data->destroy);
        Py_DECREF(Py_None);
        free(data);
        return;
    }
    aType->clientdata = data;
}

/* A new value object owning a cell with aValue. */
template <typename Value> static PyObject *tn_value_object(Value aValue, swig_type_info *aType)
{
    Value *cell = (Value *)malloc(sizeof(Value));
    if (cell == NULL) {
        return PyErr_NoMemory();
    }
    *cell = aValue;
    PyObject *object = SWIG_NewPointerObj(cell, aType, SWIG_POINTER_OWN | SWIG_POINTER_NOSHADOW);
    if (object == NULL) {
        free(cell);
    }
    return object;
}
%}

%init %{
    tn_value_type(SWIGTYPE_p_TnDeviceType);
    tn_value_type(SWIGTYPE_p_TnDeviceClass);
    tn_value_type(SWIGTYPE_p_TnAccessType);
%}

%define TN_VALUE_OBJECT(TYPE)
%typemap(out) TYPE {
    $result = tn_value_object($1, $&1_descriptor);
}
%typemap(in) TYPE (void *cell = 0, int res = 0) {
    res = SWIG_ConvertPtr($input, &cell, $&1_descriptor, 0);
    if (!SWIG_IsOK(res)) {
        %argument_fail(res, "$type", $symname, $argnum);
    }
    if (cell == NULL) {
        %argument_nullref("$type", $symname, $argnum);
    }
    $1 = *reinterpret_cast<$&1_ltype>(cell);
}
%typemap(in) TYPE & (void *cell = 0, int res = 0, TnUse tnuse) {
    res = SWIG_ConvertPtr($input, &cell, $descriptor, 0);
    if (!SWIG_IsOK(res)) {
        %argument_fail(res, "$type", $symname, $argnum);
    }
    if (cell == NULL) {
        %argument_nullref("$type", $symname, $argnum);
    }
    $1 = reinterpret_cast<$1_ltype>(cell);
    if (!TN_USE_BEGIN(tnuse, tn_use_pointer($input), "$symname", $argnum)) {
        SWIG_fail;
    }
}
/* A value object, never None. */
%typecheck(SWIG_TYPECHECK_POINTER) TYPE {
    void *cell = 0;
    $1 = $input != Py_None && SWIG_CheckState(SWIG_ConvertPtr($input, &cell, $&1_descriptor, 0));
}
%typecheck(SWIG_TYPECHECK_POINTER) TYPE & {
    void *cell = 0;
    $1 = $input != Py_None && SWIG_CheckState(SWIG_ConvertPtr($input, &cell, $descriptor, 0));
}
%enddef
TN_VALUE_OBJECT(TnDeviceType)
TN_VALUE_OBJECT(TnDeviceClass)
TN_VALUE_OBJECT(TnAccessType)

/* ------------------------------------------------------------------------
 * Views handed to the event sink's overrides. */
%{
/* A writeable uint8 view of aLength bytes at aData, no copy: the SDK hands
 * its sinks the bytes in a block of their own, which a view the override
 * keeps keeps. A new zeroed array when there is no data. */
static PyObject *tn_sink_view(const void *aData, uint64_t aLength)
{
    if (aData == NULL) {
        if (aLength > (uint64_t)NPY_MAX_INTP) {
            return PyErr_NoMemory();
        }
        return (PyObject *)tn_new_bytes((npy_intp)aLength);
    }
    return tn_byte_view(aData, aLength);
}

/* (view, address): what OnCmdLinkRead and OnCmdLinkWrite receive. */
static PyObject *tn_link_pair(PyObject *aView, int64_t aAddress)
{
    PyObject *address = aView != NULL ? PyLong_FromLongLong(aAddress) : NULL;
    PyObject *pair = address != NULL ? PyTuple_New(2) : NULL;
    if (pair == NULL) {
        Py_XDECREF(aView);
        Py_XDECREF(address);
        return NULL;
    }
    PyTuple_SET_ITEM(pair, 0, aView);
    PyTuple_SET_ITEM(pair, 1, address);
    return pair;
}

/* Ends a forwarded call whose arguments could not be made. */
static void tn_director_arguments_failed()
{
    Swig::DirectorMethodException::raise("the arguments of the call could not be made");
}
%}

%typemap(directorin) (const void *aData, uint32_t aDataLength) {
    $input = tn_sink_view($1, $2);
    if ($input == NULL) {
        tn_director_arguments_failed();
    }
}
%typemap(directorin) (const void *aBuffer, int64_t aAddress, int64_t aLength) {
    PyObject *data = tn_sink_view($1, $3 > 0 ? (uint64_t)$3 : 0);
    $input = tn_link_pair(data, $2);
    if ($input == NULL) {
        tn_director_arguments_failed();
    }
}

/* The upcalls' data: any array-like numpy makes a one-dimensional uint8
 * array of, held while a view the override makes of it lives. */
TN_ARRAY_1D_IN_UINT32(const void *aData, uint32_t aDataLength)
TN_ARRAY_SHOWN((const void *aData, uint32_t aDataLength))

/* The upcalls of the command-link reports take one tuple (data, address);
 * the length is the data's. */
%typemap(in) (const void *aBuffer, int64_t aAddress, int64_t aLength) (PyArrayObject *memory = NULL, int converted = 0) {
    if (!PyTuple_Check($input)) {
        PyErr_SetString(PyExc_TypeError, "Error: $symname requires tuple argument");
        SWIG_fail;
    }
    if (PyTuple_GET_SIZE($input) < 2) {
        PyErr_SetString(PyExc_TypeError, "Error: $symname requires a tuple with two elements as an argument");
        SWIG_fail;
    }
    {
        PyObject *address = PyTuple_GET_ITEM($input, 1);
        int overflow = 0;
        const long long value = PyLong_Check(address) ? PyLong_AsLongLongAndOverflow(address, &overflow) : -1;
        if (!PyLong_Check(address) || overflow != 0 || (value == -1 && PyErr_Occurred())) {
            PyErr_Clear();
            PyErr_SetString(PyExc_TypeError, "Error: $symname requires an integer as the second tuple element");
            SWIG_fail;
        }
        $2 = (int64_t)value;
    }
    memory = obj_to_array_contiguous_allow_conversion(PyTuple_GET_ITEM($input, 0), NPY_UBYTE, &converted);
    if (memory == NULL) {
        PyErr_Clear();
        PyErr_SetString(PyExc_TypeError, "Error: $symname requires a numpy array as the first tuple element");
        SWIG_fail;
    }
    $1 = array_data(memory);
    $3 = (int64_t)(array_numdims(memory) > 0 ? array_size(memory, 0) : 1);
}
%typemap(freearg) (const void *aBuffer, int64_t aAddress, int64_t aLength) {
    if (converted$argnum && memory$argnum != NULL) {
        Py_DECREF(memory$argnum);
    }
}
TN_ARRAY_SHOWN((const void *aBuffer, int64_t aAddress, int64_t aLength))

TN_DIRECTOR(TnDeviceEventSink)
/* The SDK's own implementations may come straight back into Python. */
%nothreadallow TnDeviceEventSink::OnLinkDisconnected;
%nothreadallow TnDeviceEventSink::OnLinkReconnected;
%nothreadallow TnDeviceEventSink::OnEvent;
%nothreadallow TnDeviceEventSink::OnEventGenICam;
%nothreadallow TnDeviceEventSink::OnCmdLinkRead;
%nothreadallow TnDeviceEventSink::OnCmdLinkWrite;

%include "TnDeviceEventSink.h"

%clear (const void *aData, uint32_t aDataLength);
%clear (const void *aBuffer, int64_t aAddress, int64_t aLength);

/* ------------------------------------------------------------------------
 * Devices. */
%{
/* A device as the proxy of its controller's class: GigE Vision, USB3 Vision
 * or the base class. The SDK makes no controller of other kinds (nor one
 * that is also a Vexmoor Protocol object), so every device can be used and
 * freed through the TnDevice functions. */
static PyObject *tn_device_to_python(TnDevice *aDevice)
{
    if (aDevice == NULL) {
        return SWIG_Py_Void();
    }
    if (TnDeviceGEV *gev = dynamic_cast<TnDeviceGEV *>(aDevice)) {
        return SWIG_NewPointerObj(gev, SWIGTYPE_p_TnDeviceGEV, 0);
    }
    if (TnDeviceU3V *u3v = dynamic_cast<TnDeviceU3V *>(aDevice)) {
        return SWIG_NewPointerObj(u3v, SWIGTYPE_p_TnDeviceU3V, 0);
    }
    return SWIG_NewPointerObj(aDevice, SWIGTYPE_p_TnDevice, 0);
}
%}

/* Devices still connected when the program ends are disconnected before
 * the interpreter shuts down (after the streams closed), and their Python
 * event sinks unregistered first: that waits for a call in progress, and
 * the device's delivery thread, which lives as long as the device, calls
 * no Python sink after it. */
%pythonappend TnDevice::RegisterEventSink %{
    if val.IsOK():
        _tn_stop_at_exit(self, 2, None, "UnregisterEventSink", aEventSink)
%}
%pythonappend TnDevice::CreateAndConnect %{
    if val[1] is not None:
        _tn_stop_at_exit(val[1], 3, "IsConnected", "Disconnect")
%}
%pythonappend TnDevice::Connect %{
    _tn_stop_at_exit(self, 3, "IsConnected", "Disconnect")
%}
%pythonappend TnDeviceGEV::Connect %{
    _tn_stop_at_exit(self, 3, "IsConnected", "Disconnect")
%}
%pythonappend TnDeviceU3V::Connect %{
    _tn_stop_at_exit(self, 3, "IsConnected", "Disconnect")
%}

/* CreateAndConnect: the tuple (result, device or None). A device that
 * cannot be handed to Python is freed again. */
%typemap(in, numinputs=0) TnResult *aResult (TnResult outcome) {
    $1 = &outcome;
}
%typemap(out) TnDevice *CreateAndConnect {
    $result = tn_device_to_python($1);
    if ($result == NULL && $1 != NULL) {
        SWIG_PYTHON_THREAD_BEGIN_ALLOW;
        TnDevice::Free($1);
        SWIG_PYTHON_THREAD_END_ALLOW;
    }
}
%typemap(argout) TnResult *aResult {
    {
        PyObject *device = $result;
        $result = device != NULL ? SWIG_NewPointerObj(new TnResult(*$1), SWIGTYPE_p_TnResult, SWIG_POINTER_OWN) : NULL;
        $result = tn_output_tuple($result, &device, 1);
    }
    if ($result == NULL) {
        SWIG_fail;
    }
}

/* Free: a controller it released leaves its proxy empty, and so do the
 * proxies of what it handed out (its parameters). */
TN_FREED_BY_FACTORY(TnDevice, aDevice)

/* A disconnection or destruction that waits for an event sink's call on the
 * controller's thread ends on Ctrl-C; the controller ends by itself once
 * the call has returned. */
TN_STOPS_HEARING_INTERRUPTS(TnDevice, Disconnect)
TN_DESTROYED_HEARING_INTERRUPTS(TnDevice)
TN_DESTROYED_HEARING_INTERRUPTS(TnDeviceGEV)
TN_DESTROYED_HEARING_INTERRUPTS(TnDeviceU3V)
%feature("action") TnDevice::Free {
    tn_destroy_hearing_interrupts(arg1, [](TnDevice *aDevice) { TnDevice::Free(aDevice); });
}

/* ReadMemory: the count makes a new array the SDK fills, handed back
 * whatever the result. */
TN_ARRAY_1D_OUT(uint8_t *aDestination, int64_t aByteCount, INT32_MAX)
/* WriteMemory: the array's whole length; the SDK refuses what it cannot
 * write. */
TN_ARRAY_1D_IN(const uint8_t *aSource, int64_t aByteCount, INT64_MAX)

TN_GATED_TUPLE_OUTPUT(TnString &aUniqueID, TnString value, tn_string_to_python(*$1))
TN_GATED_TUPLE_OUTPUT(TnString &aFilename, TnString value, tn_string_to_python(*$1))
TN_GATED_TUPLE_OUTPUT(uint32_t &aValue, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))

/* The features of a connection: a reconnect replaces them, and the earlier
 * ones stay while Python holds any of them. */
%typemap(ret) TnGenParameterArray *TnDevice::GetParameters {
    tn_hold_replaceable($result, $1);
}

%include "TnDevice.h"

%clear TnResult *aResult, TnDevice *CreateAndConnect, TnDevice *aDevice;
%clear (uint8_t *aDestination, int64_t aByteCount), (const uint8_t *aSource, int64_t aByteCount);

/* GetAccessType has a member form and a static one: called on a device it
 * is the member form, called on the class the static one. */
%pythoncode %{
class _TnMemberOrStatic:
    def __init__(self, function):
        self._function = function
        self.__doc__ = function.__doc__

    def __get__(self, instance, owner=None):
        if instance is None:
            return self._function
        import types
        return types.MethodType(self._function, instance)
%}
%extend TnDeviceGEV {
%pythoncode %{
    GetAccessType = _TnMemberOrStatic(_tn_extension.TnDeviceGEV_GetAccessType)
%}
}

/* In print: a controller by its device's address (a GigE Vision device's IP
 * and MAC address, a USB3 Vision device's GUID) while connected; nothing is
 * asked of the device. */
%pythoncode %{
def _tn_device_text(device):
    name = type(device).__name__
    if not device.IsConnected():
        return "<%s, not connected>" % name
    if hasattr(device, "GetIPAddress"):
        return "<%s at %s (%s), connected>" % (name, device.GetIPAddress(), device.GetMACAddress())
    if hasattr(device, "GetGUID"):
        return "<%s %s, connected>" % (name, device.GetGUID())
    return "<%s %s, connected>" % (name, device.GetUniqueID()[1])
%}
%define TN_READABLE_DEVICE(CLASS)
%extend CLASS {
%pythoncode %{
    def __repr__(self):
        return _tn_readable(self, _tn_device_text)
%}
}
%enddef
TN_READABLE_DEVICE(TnDevice)
TN_READABLE_DEVICE(TnDeviceGEV)
TN_READABLE_DEVICE(TnDeviceU3V)

%include "TnDeviceGEV.h"
%include "TnDeviceU3V.h"

/* A controller destroyed while another thread's call uses it disconnects
 * first: that call answers TN_NOT_CONNECTED instead of waiting on. */
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnDevice, Disconnect())
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnDeviceGEV, Disconnect())
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnDeviceU3V, Disconnect())
/* One destroyed inside its own calls (a sink's, during a feature access)
 * ends itself when the call returns, and the access answers
 * TN_NOT_CONNECTED. */
TN_ENDS_INSIDE_ITS_OWN_CALLS(TnDevice)
TN_ENDS_INSIDE_ITS_OWN_CALLS(TnDeviceGEV)
TN_ENDS_INSIDE_ITS_OWN_CALLS(TnDeviceU3V)
