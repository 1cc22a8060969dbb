/* What works on a connected device beside its controller: the device
 * adapter, the device's serial ports and the firmware updater with its
 * overridable observer. */

%{
#include "TnDeviceAdapter.h"
#include "TnDeviceSerialPort.h"
#include "TnGenFUUpdater.h"
%}

/* The adapter works on a device for components that must not know the
 * device classes; Python cannot override it. Its reference parameters
 * (int64_t &, bool &, TnString &, TnStringList &) and raw buffers take the
 * objects the caller passes; only ReadRegister and GetUniqueID answer with
 * values (the uint32_t &aValue and TnString &aUniqueID outputs of
 * tn_device.i). */
%feature("nodirector") TnDeviceAdapter;
/* It implements its bases' operations (those of the sinks where SWIG does
 * not see them). */
%feature("notabstract") TnDeviceAdapter;

%include "TnDeviceAdapter.h"

%clear TnString &aUniqueID, TnString &aFilename, uint32_t &aValue;

/* Serial ports: byte arrays in and out, counts in lists after the result
 * whatever it is. */
TN_ARRAY_1D_IN_UINT32(const uint8_t *aBuffer, uint32_t aSize)
TN_ARRAY_1D_OUT(uint8_t *aBuffer, uint32_t aSize, UINT32_MAX)
TN_PLAIN_OUTPUT(uint32_t &aBytesWritten, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))
TN_PLAIN_OUTPUT(uint32_t &aBytesRead, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))
TN_PLAIN_OUTPUT(uint32_t &aWritten, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))
TN_PLAIN_OUTPUT(uint32_t &aTotal, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))
TN_PLAIN_OUTPUT(uint32_t &aBytes, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))
TN_PLAIN_OUTPUT(uint32_t &aSize, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))

/* An open port's thread uses the adapter by address: the port keeps the
 * adapter's owner (tn_lifetime.i) until it closes or is destroyed. Ports
 * still open when the program ends are closed before the interpreter shuts
 * down (before the devices disconnect). */
%{
static const char tn_port_adapter = 0;
%}
%exception TnDeviceSerialPort::Open {
    TN_GUARDED_ACTION
    if (result.IsOK()) {
        tn_hold(arg1, &tn_port_adapter, swig_obj[1]);
    }
}
%exception TnDeviceSerialPort::Close {
    TN_GUARDED_ACTION
    if (result.IsOK()) {
        tn_hold(arg1, &tn_port_adapter, NULL);
    }
}
TN_LENDING_HOLDER(TnDeviceSerialPort, arg1)
%pythonappend TnDeviceSerialPort::Open %{
    if val.IsOK():
        _tn_stop_at_exit(self, 2, "IsOpened", "Close")
%}

/* A close or destruction that waits for the port's thread ends on Ctrl-C,
 * as an updater's destruction that waits for its observer does. */
TN_STOPS_HEARING_INTERRUPTS(TnDeviceSerialPort, Close)
TN_DESTROYED_HEARING_INTERRUPTS(TnDeviceSerialPort)
TN_DESTROYED_HEARING_INTERRUPTS(TnGenFUUpdater)

%include "TnDeviceSerialPort.h"

/* A port destroyed while another thread's call (a read) uses it closes
 * first. */
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnDeviceSerialPort, Close())
TN_ENDS_INSIDE_ITS_OWN_CALLS(TnDeviceSerialPort)

%clear (const uint8_t *aBuffer, uint32_t aSize), (uint8_t *aBuffer, uint32_t aSize);
%clear uint32_t &aBytesWritten, uint32_t &aBytesRead, uint32_t &aWritten, uint32_t &aTotal, uint32_t &aBytes,
       uint32_t &aSize;

/* The firmware updater and its observer, overridable from Python. */
TN_DIRECTOR(IUpdaterObserver)
%nothreadallow IUpdaterObserver::UpdateProgressLabel;
%nothreadallow IUpdaterObserver::UpdateProgressValue;
/* Python observers still attached when the program ends are detached before
 * the interpreter shuts down (which waits for a call in progress): the
 * updater's thread calls no Python observer after that. */
%pythonappend TnGenFUUpdater::Attach %{
    _tn_stop_at_exit(self, 2, None, "Detach", aObserver)
%}

%include "TnGenFUUpdater.h"
/* A Python observer defines both operations: one that leaves either out has
 * no such method. */
%pythoncode %{
_tn_pure_operations(IUpdaterObserver, "UpdateProgressLabel", "UpdateProgressValue")
%}
