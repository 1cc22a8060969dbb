/* The edge module: its own copies of the core types and GenICam parameters,
 * the software GigE Vision device, the virtual device, the stream
 * transmitter and the frame-rate stabiliser, the device's registers and
 * feature factory, and the streaming channel sources with their triggers. */
%module(directors="1", dirprot="1") tarn_edge_313

/* Reports of failed overrides go to the process's standard output; the
 * payload types come first of all constants. */
#define TN_REPORTS_TO_PROCESS
#define TN_PAYLOAD_TYPES_FIRST
%include "tn_module.i"

%{
#include "TnGenTypes.h"
%}

/* numpy's array interface, once, before the GenICam enumerations; then the
 * edge module's own constants, the trigger constants last. */
TN_IMPORT_NUMPY
%include "TnGenTypes.h"
%include "tn_edge_constants.i"

/* The enumerations the module passes as ints keep type records of their own,
 * which the other modules' tables share. */
%types(TnGenAccessMode *, TnGenCache *, TnGenEndianness *, TnGenRefresh *, TnGenSign *, TnPayloadType *);

%include "tn_edge_frame.i"
%include "tn_docs.i"
%include "tn_softdevice.i"
%include "tn_transmitter.i"
%include "tn_registers.i"
%include "tn_sources.i"
%include "tn_triggers.i"
