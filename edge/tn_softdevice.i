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
#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

/* The devices Python made and has not destroyed; guarded by the interpreter
 * lock. */
static std::set<const void *> &tn_live_devices()
{
    static std::set<const void *> devices;
    return devices;
}

/* The register maps of the devices Python made (a device keeps its maps
 * until it is destroyed), and weak references to the proxies of maps and
 * registers handed to Python, by device: destroying a device empties them,
 * so that a call through one is refused like None. Guarded by the
 * interpreter lock. */
static std::map<const void *, const void *> &tn_map_devices()
{
    static std::map<const void *, const void *> maps;
    return maps;
}
static std::vector<std::pair<const void *, PyObject *>> &tn_handed_out()
{
    static std::vector<std::pair<const void *, PyObject *>> proxies;
    return proxies;
}

/* The device of a map, or null: a map not seen yet is looked for among the
 * live devices' current maps (a map handed to a creation callback). */
static const void *tn_device_of_map(ITnRegisterMap *aMap)
{
    const auto found = tn_map_devices().find(aMap);
    if (found != tn_map_devices().end()) {
        return found->second;
    }
    for (const void *device : tn_live_devices()) {
        ITnVirtualDeviceGEV *live = const_cast<ITnVirtualDeviceGEV *>(static_cast<const ITnVirtualDeviceGEV *>(device));
        if (live->GetRegisterMap() == aMap) {
            tn_map_devices()[aMap] = device;
            return device;
        }
    }
    return NULL;
}

static void tn_hand_out(const void *aDevice, PyObject *aProxy)
{
    static size_t prune_at = 64;
    std::vector<std::pair<const void *, PyObject *>> &proxies = tn_handed_out();
    if (aDevice == NULL || aProxy == NULL || aProxy == Py_None) {
        return;
    }
    if (proxies.size() >= prune_at) {
        size_t kept = 0;
        for (size_t index = 0; index < proxies.size(); ++index) {
            PyObject *target = NULL;
            if (PyWeakref_GetRef(proxies[index].second, &target) == 1) {
                Py_DECREF(target);
                proxies[kept++] = proxies[index];
            } else {
                Py_DECREF(proxies[index].second);
            }
        }
        proxies.resize(kept);
        prune_at = std::max<size_t>(64, 2 * kept);
    }
    PyObject *reference = PyWeakref_NewRef(aProxy, NULL);
    if (reference == NULL) {
        PyErr_Clear();
        return;
    }
    proxies.push_back(std::make_pair(aDevice, reference));
}

/* Forgets the maps of aDevice but aCurrent of which Python holds no proxy:
 * none can hand out a register any more. */
static void tn_forget_maps_let_go(const void *aDevice, const void *aCurrent)
{
    for (auto map = tn_map_devices().begin(); map != tn_map_devices().end();) {
        bool held = map->second != aDevice || map->first == aCurrent;
        for (size_t index = 0; !held && index < tn_handed_out().size(); ++index) {
            PyObject *target = NULL;
            if (PyWeakref_GetRef(tn_handed_out()[index].second, &target) == 1) {
                SwigPyObject *pointer = SWIG_Python_GetSwigThis(target);
                held = pointer != NULL && pointer->ptr == map->first;
                Py_DECREF(target);
            }
        }
        map = held ? std::next(map) : tn_map_devices().erase(map);
    }
}

/* Empties the proxies handed out for a device and forgets its maps. */
static void tn_forget_device(const void *aDevice)
{
    PyObject *pending = PyErr_GetRaisedException();
    std::vector<std::pair<const void *, PyObject *>> &proxies = tn_handed_out();
    size_t kept = 0;
    for (size_t index = 0; index < proxies.size(); ++index) {
        if (proxies[index].first != aDevice) {
            proxies[kept++] = proxies[index];
            continue;
        }
        PyObject *target = NULL;
        if (PyWeakref_GetRef(proxies[index].second, &target) == 1) {
            SwigPyObject *pointer = SWIG_Python_GetSwigThis(target);
            if (pointer != NULL) {
                pointer->ptr = NULL;
            }
            Py_DECREF(target);
        }
        Py_DECREF(proxies[index].second);
    }
    proxies.resize(kept);
    for (auto map = tn_map_devices().begin(); map != tn_map_devices().end();) {
        map = map->second == aDevice ? tn_map_devices().erase(map) : std::next(map);
    }
    PyErr_Clear();
    PyErr_SetRaisedException(pending);
}
/* The device whose Start runs on this thread: the GenDC managers it hands
 * its sources then are its own, so their proxies are emptied with its other
 * proxies when it is destroyed. */
static thread_local const void *tn_starting_device = NULL;
struct TnStartingDevice {
    const void *mPrevious;
    explicit TnStartingDevice(const void *aDevice) : mPrevious(tn_starting_device) { tn_starting_device = aDevice; }
    ~TnStartingDevice() { tn_starting_device = mPrevious; }
};
%}
%typemap(check) ITnVirtualDeviceGEV *self, ITnSoftDeviceGEV *self {
    if ($1 == NULL) {
        SWIG_exception_fail(SWIG_TypeError, "in method '" "$symname" "', argument " "$argnum" " of type '" "$1_type" "'");
    }
    if (tn_live_devices().count(static_cast<const ITnVirtualDeviceGEV *>($1)) == 0) {
        SWIG_exception_fail(SWIG_RuntimeError, "in method '" "$symname" "': the device was destroyed");
    }
}
%define TN_STARTING_DEVICE(METHOD)
%exception METHOD {
    TnStartingDevice starting(static_cast<const ITnVirtualDeviceGEV *>(arg1));
    TN_GUARDED_ACTION
}
%enddef
/* A stop or destruction that waits for a callback on one of the device's
 * threads ends on Ctrl-C; the device stops by itself once the callback has
 * returned. */
TN_STOPS_HEARING_INTERRUPTS(TnSoftDeviceGEV, Stop)
TN_STOPS_HEARING_INTERRUPTS(ITnVirtualDeviceGEV, Stop)
TN_DESTROYED_HEARING_INTERRUPTS(TnSoftDeviceGEV)
TN_STARTING_DEVICE(TnSoftDeviceGEV::Start)
TN_STARTING_DEVICE(ITnVirtualDeviceGEV::Start)
%exception TnSoftDeviceGEV::TnSoftDeviceGEV() {
    $action
    tn_live_devices().insert(static_cast<const ITnVirtualDeviceGEV *>(result));
}
/* The device stops as it is destroyed; what its callbacks report then is
 * written, and no error is left pending but a signal handler's that ended
 * the wait for the device's threads. */
%exception TnSoftDeviceGEV::~TnSoftDeviceGEV {
    tn_live_devices().erase(static_cast<const ITnVirtualDeviceGEV *>(arg1));
    tn_forget_device(static_cast<const ITnVirtualDeviceGEV *>(arg1));
    TN_INTERRUPTIBLE_CALL;
    $action
    TN_INTERRUPTED_FAIL
    if (PyErr_Occurred() != NULL) {
        PyErr_Clear();
    }
}

/* A device destroyed inside its own calls (a Start whose callbacks end it)
 * ends itself when the call returns, and the call answers TN_ABORTED. */
TN_ENDS_INSIDE_ITS_OWN_CALLS(TnSoftDeviceGEV)

/* The register map: it keeps the device alive, as every object a method
 * hands out keeps its owner, and is emptied if the device is destroyed all
 * the same. A restart replaces it: the earlier one stays while Python holds
 * it or any of its registers. */
%typemap(ret) ITnRegisterMap *GetRegisterMap {
    if ($1 != NULL) {
        const void *device = static_cast<const ITnVirtualDeviceGEV *>(arg1);
        tn_forget_maps_let_go(device, $1);
        tn_map_devices()[$1] = device;
        tn_hand_out(device, $result);
        tn_hold_replaceable($result, $1);
    }
}

/* The device's XML: (result, str or None). */
TN_GATED_TUPLE_OUTPUT(TnString &aString, TnString value, tn_string_to_python(*$1))

%include "ITnVirtualDeviceGEV.h"
/* A Python notification defines UserSetStateNotify: one that leaves it out
 * has no such method. */
%pythoncode %{
_tn_pure_operations(ITnUserSetNotify, "UserSetStateNotify")
%}

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

/* In print: a software device by its serial number (there from Start on)
 * and whether it runs (it has statistics only then). */
%extend TnSoftDeviceGEV {
%pythoncode %{
    def __repr__(self):
        def text(device):
            running = device.GetStatistics() is not None
            info = device.GetInfo()
            serial = " serial %r" % info.GetSerialNumber() if info is not None else ""
            return "<TnSoftDeviceGEV%s, %s>" % (serial, "running" if running else "not running")
        return _tn_readable(self, text)
%}
}

%include "TnSoftDeviceGEV.h"

%clear TnString &aString;
%clear ITnRegisterMap *GetRegisterMap;
%clear ITnVirtualDeviceGEV *self, ITnSoftDeviceGEV *self;
