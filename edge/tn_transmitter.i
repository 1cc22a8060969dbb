/* The stream transmitter, the light virtual device that answers a
 * controller for it, and the frame-rate stabiliser. None of them is
 * overridable; every call releases the interpreter lock. */

%{
#include "TnTransmitterGEV.h"
#include "TnVirtualDeviceGEV.h"
#include "TnFPSStabilizer.h"
%}

%include "TnTransmitterGEV.h"
%include "TnVirtualDeviceGEV.h"
%include "TnFPSStabilizer.h"
