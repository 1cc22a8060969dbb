/* The software GigE Vision device: its interfaces, what it hands out (its
 * information, statistics and messaging channel), what it takes (the
 * overridable user-set notification and event sink), and the device class. */

%{
#include "ITnVirtualDeviceGEV.h"
#include "TnSoftDeviceGEV.h"
%}

/* Action handlers have no class of their own in Python: only None reaches
 * SetActionHandler. */
%ignore TnVirtualDeviceLib::IActionHandler;

/* The user-set notification, overridable from Python. */
TN_EDGE_DIRECTOR(ITnUserSetNotify)
%nothreadallow ITnUserSetNotify::UserSetStateNotify;

/* What the device hands out belongs to it: deleting a proxy of it destroys
 * nothing. */
TN_NEVER_DESTROYED(ITnVirtualDeviceGEVInfo)
TN_NEVER_DESTROYED(ITnVirtualDeviceGEVStatistics)
TN_NEVER_DESTROYED(ITnMessageChannel)

/* Event data: one bytes object gives the data and its length; the SDK reads
 * the object's own memory during the call. */
%typemap(in) (uint8_t *aData, uint32_t aDataLength) {
    if (!PyBytes_Check($input)) {
        SWIG_exception_fail(SWIG_TypeError, "in method '" "$symname" "', argument " "$argnum" " of type 'uint8_t *'");
    }
    if ((uint64_t)PyBytes_GET_SIZE($input) > (uint64_t)UINT32_MAX) {
        SWIG_exception_fail(SWIG_OverflowError, "in method '" "$symname" "', argument " "$argnum" ": more than 4294967295 bytes");
    }
    $1 = reinterpret_cast<uint8_t *>(PyBytes_AS_STRING($input));
    $2 = static_cast<uint32_t>(PyBytes_GET_SIZE($input));
}
%typecheck(SWIG_TYPECHECK_POINTER) (uint8_t *aData, uint32_t aDataLength) {
    $1 = PyBytes_Check($input);
}

/* The device's event sink, overridable from Python. Its callbacks are
 * called with the interpreter lock held; the strings and factories handed to
 * an override are valid during its call only. */
TN_EDGE_DIRECTOR(ITnVirtualDeviceGEVEventSink)
%nothreadallow ITnVirtualDeviceGEVEventSink::OnApplicationConnect;
%nothreadallow ITnVirtualDeviceGEVEventSink::OnControlChannelStart;
%nothreadallow ITnVirtualDeviceGEVEventSink::OnApplicationDisconnect;
%nothreadallow ITnVirtualDeviceGEVEventSink::OnControlChannelStop;
%nothreadallow ITnVirtualDeviceGEVEventSink::OnDeviceResetFull;
%nothreadallow ITnVirtualDeviceGEVEventSink::OnDeviceResetNetwork;
%nothreadallow ITnVirtualDeviceGEVEventSink::OnCreateCustomRegisters;
%nothreadallow ITnVirtualDeviceGEVEventSink::OnCreateCustomGenApiFeatures;

/* The device proxies that callbacks hand out, and the interface proxies of a
 * device: a call through one whose device was destroyed is refused. */
%{
#include <set>

/* The devices Python made and has not destroyed; guarded by the interpreter
 * lock. */
static std::set<const void *> &tn_live_devices()
{
    static std::set<const void *> devices;
    return devices;
}
%}
%typemap(check) ITnVirtualDeviceGEV *self, ITnSoftDeviceGEV *self {
    if ($1 == NULL) {
        SWIG_exception_fail(SWIG_TypeError, "in method '" "$symname" "', argument " "$argnum" " of type '" "$1_type" "'");
    }
    if (tn_live_devices().count(static_cast<const ITnVirtualDeviceGEV *>($1)) == 0) {
        SWIG_exception_fail(SWIG_RuntimeError, "in method '" "$symname" "': the device was destroyed");
    }
}
%exception TnSoftDeviceGEV::TnSoftDeviceGEV() {
    $action
    tn_live_devices().insert(static_cast<const ITnVirtualDeviceGEV *>(result));
}
/* The device stops as it is destroyed; what its callbacks report then is
 * written, and no error is left pending. */
%exception TnSoftDeviceGEV::~TnSoftDeviceGEV {
    tn_live_devices().erase(static_cast<const ITnVirtualDeviceGEV *>(arg1));
    $action
    if (PyErr_Occurred() != NULL) {
        PyErr_Clear();
    }
}

/* The device's XML: (result, str or None). */
TN_GATED_TUPLE_OUTPUT(TnString &aString, TnString value, tn_string_to_python(*$1))

%include "ITnVirtualDeviceGEV.h"

%clear (uint8_t *aData, uint32_t aDataLength);

/* The proxy of a device keeps the Python objects it handed to the device
 * (sources, sinks, the notification) as long as it lives, so that the device
 * never calls an object that Python has collected, also while the proxy is
 * destroyed at the interpreter's exit. */
/* A device still running when the program ends is stopped before the
 * interpreter shuts down. */
%pythonappend TnSoftDeviceGEV::Start %{
    _tn_stop_at_exit(self, 0, None, "Stop")
%}
%pythonappend TnSoftDeviceGEV::AddStream %{
    if val.IsOK():
        self.__dict__.setdefault("_tn_held", []).append(aSource)
%}
%pythonappend TnSoftDeviceGEV::RegisterEventSink %{
    if val.IsOK():
        self.__dict__.setdefault("_tn_held", []).append(aEventSink)
%}
%pythonappend TnSoftDeviceGEV::SetUserSetNotify %{
    if val.IsOK():
        self.__dict__["_tn_notify"] = aUserSetNotify
%}

%include "TnSoftDeviceGEV.h"

%clear TnString &aString;
%clear ITnVirtualDeviceGEV *self, ITnSoftDeviceGEV *self;
