// Objects an SDK owner replaces while the program may still hold them: the
// parameter array of an earlier connection, the register map of an earlier
// run. The owner retires such an object instead of keeping it for good; it
// stays while something outside the SDK holds it (the modules' proxies of it
// and of what it handed out) and goes with the last hold, or with its owner.
//
// A hold is a record of its own, so that an object destroyed and another
// made at its address never share holds.
#ifndef TN_HELD_OBJECTS_H
#define TN_HELD_OBJECTS_H

#include <stddef.h>

#include <memory>

#include "TnExport.h"

namespace tn
{
/// The holds on one object; opaque outside TnHeldObjects.cpp.
class HeldObject;

/// One more hold on aObject (an object an owner may retire); never null for
/// an object that is not null.
TN_BASE_API HeldObject *HoldObject(const void *aObject);

/// One more hold on what aHeld holds.
TN_BASE_API void HoldAgain(HeldObject *aHeld);

/// A hold ends; the last one of a retired object destroys it, on this
/// thread. Null does nothing.
TN_BASE_API void ReleaseHold(HeldObject *aHeld);

/// aOwner no longer uses aObject, which aKept keeps: it is destroyed now when
/// nothing holds it, else with the last hold or with EndRetired(aOwner).
TN_BASE_API void RetireObject(const void *aOwner, const void *aObject, std::shared_ptr<void> aKept);

/// aOwner goes: what it retired is destroyed now (the holds that remain
/// hold nothing), and aCurrent, the object it uses (may be null), is
/// forgotten.
TN_BASE_API void EndRetired(const void *aOwner, const void *aCurrent);
} // namespace tn

#endif
