/* Discovery: the system, its interfaces, device information and the plain
 * records of sessions and IP configurations. */

%{
#include "TnSystem.h"
%}

%include <std_string.i>

%{
/* An interface as the proxy of its most specific class; it keeps the owner
 * of tnlender1, the `self` of the method that hands it out (tn_lifetime.i). */
static PyObject *tn_interface_to_python(const TnInterface *aInterface, PyObject *tnlender1)
{
    TnInterface *interface = const_cast<TnInterface *>(aInterface);
    if (TnNetworkAdapter *adapter = dynamic_cast<TnNetworkAdapter *>(interface)) {
        return SWIG_NewPointerObj(adapter, SWIGTYPE_p_TnNetworkAdapter, 0);
    }
    if (TnUSBHostController *controller = dynamic_cast<TnUSBHostController *>(interface)) {
        return SWIG_NewPointerObj(controller, SWIGTYPE_p_TnUSBHostController, 0);
    }
    return SWIG_NewPointerObj(interface, SWIGTYPE_p_TnInterface, 0);
}

/* Device information: GigE Vision information as such, the others as the
 * base; kept as an interface is. */
static PyObject *tn_device_info_to_python(const TnDeviceInfo *aDeviceInfo, PyObject *tnlender1)
{
    TnDeviceInfo *info = const_cast<TnDeviceInfo *>(aDeviceInfo);
    if (TnDeviceInfoGEV *gev = dynamic_cast<TnDeviceInfoGEV *>(info)) {
        return SWIG_NewPointerObj(gev, SWIGTYPE_p_TnDeviceInfoGEV, 0);
    }
    return SWIG_NewPointerObj(info, SWIGTYPE_p_TnDeviceInfo, 0);
}
%}

%typemap(out) TnInterface *, TnInterface const * {
    $result = tn_interface_to_python($1, tnlender1);
}
%typemap(out) TnDeviceInfo const * {
    $result = tn_device_info_to_python($1, tnlender1);
}
/* Copies come back as the base class, whatever they copy. A copy is
 * detached from the system and belongs to its proxy, which frees it. */
%typemap(out) TnInterface *Copy {
    $result = SWIG_NewPointerObj($1, SWIGTYPE_p_TnInterface, SWIG_POINTER_OWN);
}
%typemap(out) TnDeviceInfo *Copy {
    $result = SWIG_NewPointerObj($1, SWIGTYPE_p_TnDeviceInfo, SWIG_POINTER_OWN);
}

/* The device FindDevice found, as the base class, None when there is none:
 * not gated on the result. */
%typemap(in, numinputs=0) TnDeviceInfo const **aDeviceInfo (TnDeviceInfo const *found = NULL) {
    $1 = ($1_ltype)&found;
}
%typemap(argout) TnDeviceInfo const **aDeviceInfo {
    TN_APPEND(tn_append_output($result, SWIG_NewPointerObj(const_cast<TnDeviceInfo *>(*$1), SWIGTYPE_p_TnDeviceInfo, 0)))
}
/* Derived descriptions handed out through pointers to pointers. */
%types(TnDeviceInfoGEV **, TnDeviceInfoU3V **, TnDeviceInfoUSB **, TnDeviceInfoVexmoorProtocol **);

/* Interfaces and descriptions a system found are the system's: should a
 * proxy of one be made to own it, its destructor still leaves it alone and
 * frees only detached objects (copies and new ones). */
%define TN_RELEASED_ONLY(CLASS)
%feature("action") CLASS::~CLASS {
    arg1->Release();
}
%enddef
TN_RELEASED_ONLY(TnInterface)
TN_RELEASED_ONLY(TnNetworkAdapter)
TN_RELEASED_ONLY(TnUSBHostController)
TN_RELEASED_ONLY(TnDeviceInfo)
TN_RELEASED_ONLY(TnDeviceInfoGEV)
TN_RELEASED_ONLY(TnDeviceInfoVexmoorProtocol)
TN_RELEASED_ONLY(TnDeviceInfoUSB)
TN_RELEASED_ONLY(TnDeviceInfoU3V)
%nodefaultctor TnInterface;
%nodefaultctor TnDeviceInfo;

/* The record's strings take only a wrapped TnString, and never None. */
%typemap(memberin) TnString {
    if ($input == NULL) {
        SWIG_exception_fail(SWIG_TypeError, "invalid null reference in method '" "$symname" "', argument 2 of type 'TnString *'");
    }
    $1 = *$input;
}

/* In print: a device information by its model, serial number and address,
 * an interface by its name, a system by what its last search found; all
 * from what the objects hold, nothing asked of the network. */
%pythoncode %{
def _tn_device_info_text(info):
    address = info.GetIPAddress() if hasattr(info, "GetIPAddress") else info.GetConnectionID()
    return "<%s %r serial %r at %r>" % (type(info).__name__, info.GetModelName(), info.GetSerialNumber(), address)


def _tn_system_text(system):
    return "<TnSystem: %d interfaces, %d devices found>" % (system.GetInterfaceCount(), system.GetDeviceCount())
%}
%define TN_READABLE_SYSTEM(CLASS, TEXT)
%extend CLASS {
%pythoncode %{
    def __repr__(self):
        return _tn_readable(self, TEXT)
%}
}
%enddef
TN_READABLE_SYSTEM(TnDeviceInfo, _tn_device_info_text)
TN_READABLE_SYSTEM(TnDeviceInfoGEV, _tn_device_info_text)
TN_READABLE_SYSTEM(TnDeviceInfoVexmoorProtocol, _tn_device_info_text)
TN_READABLE_SYSTEM(TnDeviceInfoUSB, _tn_device_info_text)
TN_READABLE_SYSTEM(TnDeviceInfoU3V, _tn_device_info_text)
TN_READABLE_SYSTEM(TnInterface, lambda interface: "<%s %r>" % (type(interface).__name__, interface.GetName()))
TN_READABLE_SYSTEM(TnNetworkAdapter, lambda interface: "<%s %r>" % (type(interface).__name__, interface.GetName()))
TN_READABLE_SYSTEM(TnUSBHostController, lambda interface: "<%s %r>" % (type(interface).__name__, interface.GetName()))
TN_READABLE_SYSTEM(TnSystem, _tn_system_text)

%include "TnInterface.h"
%include "TnDeviceInfo.h"
%include "TnSessionInfo.h"
%include "TnSystem.h"

%clear TnInterface *, TnInterface const *, TnDeviceInfo const *;
%clear TnDeviceInfo const **aDeviceInfo;
%typemap(memberin) TnString;
