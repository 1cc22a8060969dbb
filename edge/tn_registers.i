/* The software device's registers: their description and value access, the
 * map, the factory and the user-set store, the overridable register event
 * sink, and the feature factory. Registers, map, factory and store belong to
 * the device: deleting a proxy of one destroys nothing. A map and its
 * registers outlive Stop (the device keeps them, retired, until it is
 * destroyed). */

%{
#include "ITnRegister.h"
#include "ITnRegisterMap.h"
#include "ITnGenApiFactory.h"
%}

%types(void *);

/* The register event sink, overridable from Python: the register and the
 * store handed to an override are valid during its call only. */
TN_EDGE_DIRECTOR(ITnRegisterEventSink)
%nothreadallow ITnRegisterEventSink::PreRead;
%nothreadallow ITnRegisterEventSink::PostRead;
%nothreadallow ITnRegisterEventSink::PreWrite;
%nothreadallow ITnRegisterEventSink::PostWrite;
%nothreadallow ITnRegisterEventSink::Persist;

TN_NEVER_DESTROYED(ITnRegisterInfo)
TN_NEVER_DESTROYED(ITnRegister)
TN_NEVER_DESTROYED(ITnRegisterStore)

/* GetContext has a const and a non-const form of the same arguments. */
%ignore ITnRegisterInfo::GetContext;

/* ReadBytes: the length makes a new array the register is read into,
 * handed back whatever the result. The length takes no part in choosing the
 * form: what is not an int gets the array's own message. */
TN_ARRAY_1D_OUT(uint8_t *aData, uint32_t aDataLength, UINT32_MAX)
%typecheck(SWIG_TYPECHECK_POINTER) (uint8_t *aData, uint32_t aDataLength) {
    $1 = 1;
}

/* ReadInt and ReadString: (result, value), the value None unless the result
 * is OK. */
TN_GATED_TUPLE_OUTPUT(uint32_t &aValue, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))
TN_GATED_TUPLE_OUTPUT(TnString &aValue, TnString value, tn_string_to_python(*$1))

%include "ITnRegister.h"

TN_CONST_PAIR(ITnRegisterInfo, GetContext, 0, object->GetContext(), void *,
              SWIG_NewPointerObj(result, SWIGTYPE_p_void, 0),
              "    ITnRegisterInfo::GetContext() const\n    ITnRegisterInfo::GetContext()\n")

%clear (uint8_t *aData, uint32_t aDataLength);
%clear uint32_t &aValue, TnString &aValue;

TN_NEVER_DESTROYED(ITnRegisterMap)
TN_NEVER_DESTROYED(ITnRegisterFactory)

/* AddRegisterAuto: (result, assigned address), the address None unless the
 * result is OK. */
TN_GATED_TUPLE_OUTPUT(uint32_t &aAssignedAddress, uint32_t value = 0, SWIG_From_unsigned_SS_int(*$1))

/* A register from a device's map keeps the map's owner (the device) alive,
 * as every object a method hands out does, and is emptied if the device is
 * destroyed all the same (tn_softdevice.i). */
%typemap(ret) ITnRegister *GetRegisterByIndex, ITnRegister *GetRegisterByAddress {
    if ($1 != NULL) {
        tn_hand_out(tn_device_of_map(arg1), $result);
    }
}

%include "ITnRegisterMap.h"

%clear ITnRegister *GetRegisterByIndex, ITnRegister *GetRegisterByAddress;

%clear uint32_t &aAssignedAddress;

TN_NEVER_DESTROYED(ITnGenApiFactory)

%include "ITnGenApiFactory.h"
