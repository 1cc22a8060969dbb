/* The start every module's interface shares, after its %module line and
 * before its own files: the runtime, the report of failed Python overrides,
 * the core types, output values, the const-pair dispatchers, numpy arrays
 * and the GenICam parameters. A module's own files follow, with
 * TN_IMPORT_NUMPY where its start-up imports numpy.
 *
 * What differs between the modules, set (#define) before the %include:
 *   TN_BASE_MODULE          the pixel-type functions are this module's
 *                           (tn_core.i);
 *   TN_THREAD_STATES_KEPT   SDK threads that call into Python keep their
 *                           thread state (tn_thread_state.i);
 *   TN_REPORTS_TO_PROCESS   failed overrides are reported on the process's
 *                           standard output, with ": " between the
 *                           exception's type name and its message (else on
 *                           Python's sys.stdout, without a separator);
 *   TN_PAYLOAD_TYPES_FIRST  the payload types come first of all constants. */

%include "tn_runtime.i"
%include "tn_methods.i"
#ifdef TN_THREAD_STATES_KEPT
%include "tn_thread_state.i"
#endif

#ifdef TN_REPORTS_TO_PROCESS
TN_DIRECTOR_ERROR_REPORT_TO(": ", tn_write_process_stdout_line)
#else
TN_DIRECTOR_ERROR_REPORT("")
#endif

#ifdef TN_PAYLOAD_TYPES_FIRST
%{
#include "TnPayloadType.h"
%}
%include "TnPayloadType.h"
#endif

%include "tn_string.i"
%include "tn_core.i"
%include "tn_outputs.i"
%include "tn_dispatch.i"
%include "tn_arrays.i"
%include "tn_genicam.i"
