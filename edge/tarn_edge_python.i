/* The edge module: its own copies of the core types and GenICam parameters,
 * the software GigE Vision device, the virtual device, the stream
 * transmitter and the frame-rate stabiliser, the device's registers and
 * feature factory, and the streaming channel sources with their triggers. */
%module(directors="1", dirprot="1") tarn_edge_313

#define TN_EDGE_MODULE

%include "tn_runtime.i"
/* Reports of failed overrides go to the process's standard output, with
 * ": " between the exception's type name and its message. */
TN_DIRECTOR_ERROR_REPORT_TO(": ", tn_write_process_stdout_line)

/* The payload types come first of all constants. */
%{
#include "TnPayloadType.h"
%}
%include "TnPayloadType.h"

%include "tn_string.i"
%include "tn_core.i"
%include "tn_outputs.i"
%include "tn_dispatch.i"
%include "tn_arrays.i"
%include "tn_genicam.i"

%{
#include "TnGenTypes.h"
%}

/* numpy's array interface, once, before the GenICam enumerations; then the
 * edge module's own constants, the trigger constants last. */
TN_IMPORT_NUMPY
%include "TnGenTypes.h"
%include "tn_edge_constants.i"

%include "tn_edge_frame.i"
%include "tn_docs.i"
%include "tn_softdevice.i"
%include "tn_transmitter.i"
%include "tn_registers.i"
%include "tn_sources.i"
%include "tn_triggers.i"
