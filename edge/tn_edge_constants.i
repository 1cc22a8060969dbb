/* The edge module's own integer constants, as one run in the order clients
 * rely on: access types, action acknowledge states, user-set states, scan
 * types, and last the trigger constants (selector states, selectors, modes
 * and sources). Their headers declare them among classes and in another
 * order, so the enumerators themselves are not wrapped where they stand. */

%{
#include "TnAccessType.h"
#include "ITnVirtualDeviceGEV.h"
#include "ITnStreamingChannelSource.h"
#include "TnStreamingChannelSourceTrigger.h"
%}

/* The header's enumerator (or macro) is ignored by its name; the constant
 * declared here is another declaration, renamed to that name. */
%define TN_EDGE_CONSTANT(NAME, VALUE)
%ignore NAME;
%rename(NAME) tn_constant_##NAME;
%constant int tn_constant_##NAME = VALUE;
%enddef

/* Class-scoped enumerators keep the class in their name. */
%define TN_EDGE_CLASS_CONSTANT(CLASS, NAME)
%ignore CLASS::NAME;
%rename(CLASS##_##NAME) tn_constant_##CLASS##_##NAME;
%constant int tn_constant_##CLASS##_##NAME = CLASS::NAME;
%enddef

TN_EDGE_CONSTANT(TnAccessUnknown, TnAccessUnknown)
TN_EDGE_CONSTANT(TnAccessOpen, TnAccessOpen)
TN_EDGE_CONSTANT(TnAccessControl, TnAccessControl)
TN_EDGE_CONSTANT(TnAccessExclusive, TnAccessExclusive)
TN_EDGE_CONSTANT(TnAccessReadOnly, TnAccessReadOnly)

TN_EDGE_CONSTANT(TnActionAckStatusOK, TnActionAckStatusOK)
TN_EDGE_CONSTANT(TnActionAckStatusLate, TnActionAckStatusLate)
TN_EDGE_CONSTANT(TnActionAckStatusOverflow, TnActionAckStatusOverflow)
TN_EDGE_CONSTANT(TnActionAckStatusNoRefTime, TnActionAckStatusNoRefTime)

TN_EDGE_CONSTANT(TnUserSetStateSaveStart, TnUserSetStateSaveStart)
TN_EDGE_CONSTANT(TnUserSetStateSaveCompleted, TnUserSetStateSaveCompleted)
TN_EDGE_CONSTANT(TnUserSetStateLoadStart, TnUserSetStateLoadStart)
TN_EDGE_CONSTANT(TnUserSetStateLoadCompleted, TnUserSetStateLoadCompleted)

TN_EDGE_CONSTANT(TnScanTypeInvalid, TnScanTypeInvalid)
TN_EDGE_CONSTANT(TnScanTypeArea, TnScanTypeArea)
TN_EDGE_CONSTANT(TnScanTypeLine, TnScanTypeLine)
TN_EDGE_CONSTANT(TnScanTypeArea3D, TnScanTypeArea3D)
TN_EDGE_CONSTANT(TnScanTypeLine3D, TnScanTypeLine3D)

TN_EDGE_CLASS_CONSTANT(ITnTriggerSelector, State_Disabled)
TN_EDGE_CLASS_CONSTANT(ITnTriggerSelector, State_Enabled)
TN_EDGE_CLASS_CONSTANT(ITnTriggerSelector, State_Armed)
TN_EDGE_CLASS_CONSTANT(ITnTriggerSelector, State_Fired)
TN_EDGE_CLASS_CONSTANT(ITnTriggerSelector, State_OneShot)

TN_EDGE_CONSTANT(TRIGGER_SELECTOR_FRAMESTART, TRIGGER_SELECTOR_FRAMESTART)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_ACQUISITIONSTART, TRIGGER_SELECTOR_ACQUISITIONSTART)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_ACQUISITIONEND, TRIGGER_SELECTOR_ACQUISITIONEND)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_ACQUISITIONACTIVE, TRIGGER_SELECTOR_ACQUISITIONACTIVE)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_FRAMEBURSTSTART, TRIGGER_SELECTOR_FRAMEBURSTSTART)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_FRAMEBURSTEND, TRIGGER_SELECTOR_FRAMEBURSTEND)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_FRAMEBURSTACTIVE, TRIGGER_SELECTOR_FRAMEBURSTACTIVE)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_FRAMEEND, TRIGGER_SELECTOR_FRAMEEND)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_FRAMEACTIVE, TRIGGER_SELECTOR_FRAMEACTIVE)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_LINESTART, TRIGGER_SELECTOR_LINESTART)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_EXPOSURESTART, TRIGGER_SELECTOR_EXPOSURESTART)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_EXPOSUREEND, TRIGGER_SELECTOR_EXPOSUREEND)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_EXPOSUREACTIVE, TRIGGER_SELECTOR_EXPOSUREACTIVE)
TN_EDGE_CONSTANT(TRIGGER_SELECTOR_LAST, TRIGGER_SELECTOR_LAST)

TN_EDGE_CONSTANT(TRIGGER_MODE_OFF, TRIGGER_MODE_OFF)
TN_EDGE_CONSTANT(TRIGGER_MODE_ON, TRIGGER_MODE_ON)
TN_EDGE_CONSTANT(TRIGGER_SOURCE_SOFTWARE, TRIGGER_SOURCE_SOFTWARE)
TN_EDGE_CONSTANT(TRIGGER_SOURCE_USER, TRIGGER_SOURCE_USER)

/* The access type's enumeration itself: an int wherever it is passed. */
%include "TnAccessType.h"
