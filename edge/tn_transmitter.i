/* The stream transmitter, the light virtual device that answers a
 * controller for it, and the frame-rate stabiliser. None of them is
 * overridable; every call releases the interpreter lock. */

%{
#include "TnTransmitterGEV.h"
#include "TnVirtualDeviceGEV.h"
#include "TnFPSStabilizer.h"
%}

%include "TnTransmitterGEV.h"

/* The virtual device keeps the transmitters added to it by address (it
 * routes resend requests to them): it keeps their owners (tn_lifetime.i)
 * until it is destroyed. */
%exception TnVirtualDeviceGEV::AddTransmitterGEV {
    TN_GUARDED_ACTION
    if (result.IsOK()) {
        tn_hold(arg1, arg2, swig_obj[1]);
    }
}
TN_LENDING_HOLDER(TnVirtualDeviceGEV, arg1)

%include "TnVirtualDeviceGEV.h"
%include "TnFPSStabilizer.h"

/* Destroyed while another thread's call uses them (a wait for a free
 * buffer), a transmitter closes and a virtual device stops listening
 * first. */
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnTransmitterGEV, Close())
TN_STOPPED_WHEN_DESTROYED_IN_USE(TnVirtualDeviceGEV, StopListening())
