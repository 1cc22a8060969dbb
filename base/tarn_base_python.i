/* The base module: core types, GenICam parameters, buffers and images,
 * generic data containers and discovery. */
%module(directors="1") tarn_base_313

#define TN_BASE_MODULE
%include "tn_module.i"

%{
#include "TnUint24.h"
#include "TnGenTypes.h"
#include "TnPayloadType.h"
#include "TnMultiPartTypes.h"
#include "TnGenDCTypes.h"
#include "TnDiscoveryTypes.h"
%}

%include "TnUint24.h"

/* Constant groups after the log levels, with numpy's array interface
 * imported between them. */
TN_IMPORT_NUMPY
%include "TnGenTypes.h"
TN_IMPORT_NUMPY
%include "TnPayloadType.h"
%include "TnMultiPartTypes.h"
%include "TnGenDCTypes.h"
%include "TnDiscoveryTypes.h"

/* The module's enumerations have their type records, shared with the other
 * modules that know them; the device class and type are the receive module's,
 * which hands them out as value objects under their plain names. */
%types(TnPixelType *, TnGenAccessMode *, TnGenCache *, TnGenRefresh *, TnGenEndianness *, TnGenSign *,
       TnPayloadType *, TnMultiPartDataType *, TnComponentType *, TnGenDCVariableField *, TnGenDCPartType *,
       GenDCHeaderType *, GenDCPartType *, GenDCFormat *, GenDCSignature *, TnUSBStatus *, TnInterfaceType *, TnDeviceInfoType *, TnUSBSpeed *);

/* Classes whose proxies use the constants above as defaults. */
%include "tn_buffer.i"
%include "tn_system.i"
