/* The receive module: its own copies of the core types and GenICam
 * parameters, device control (devices, their event sink, adapter, serial
 * port and firmware updater), streams and the pipeline, and buffer
 * conversion with the compression filters. */
%module(directors="1") tarn_receive_313

#define TN_THREAD_STATES_KEPT
%include "tn_module.i"

%{
#include "TnGenTypes.h"
#include "TnStreamTypes.h"
%}

/* numpy's array interface, once, before the GenICam enumerations; then the
 * stream side's enumerations, and the serial ports with the devices. */
TN_IMPORT_NUMPY
%include "TnGenTypes.h"
%include "TnStreamTypes.h"

%include "tn_device.i"
%include "tn_device_parts.i"
%include "tn_stream.i"
%include "tn_convert.i"

/* Enumerations the module passes as pointer types: the pixel type of images
 * and conversions, and the GenICam node properties. */
%types(TnPixelType *, TnGenAccessMode *, TnGenCache *, TnGenEndianness *, TnGenRefresh *, TnGenSign *);
