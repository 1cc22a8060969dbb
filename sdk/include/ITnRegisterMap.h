// The register space of the software GigE Vision device as a whole: the map
// of its registers and the factory that adds registers while the device
// starts.
//
// Address ranges of the device:
//   0x00000000 - 0x00009FFF  GigE Vision bootstrap registers (the device's own)
//   0x0000A000 - 0x0FFFFFFF  free for registers at given addresses
//   0x10000000 - 0x1FFFFFFF  where AddRegisterAuto places registers (registers
//                            at given addresses may lie there too)
//   0x20000000 - 0xEFFFFFFF  free for registers at given addresses
//   0xF0000000 - 0xFFFFFFFF  the device's own registers (standard features,
//                            its GenICam description)
#ifndef ITN_REGISTER_MAP_H
#define ITN_REGISTER_MAP_H

#include <stddef.h>
#include <stdint.h>

#include "ITnRegister.h"
#include "TnGenTypes.h"
#include "TnResult.h"
#include "TnString.h"

/// The registers of a running software device.
///
/// Belongs to the device. Registers are listed by index in address order.
/// The registers it hands out belong to it and stay valid while the device
/// runs; the device removes them when it stops or resets, which the map's
/// lock holds back.
class TN_SOFTDEVICE_API ITnRegisterMap
{
#ifndef SWIG
protected:
    virtual ~ITnRegisterMap();
#endif

public:
    /// The number of registers.
    virtual size_t GetRegisterCount() = 0;

    /// The register at a 0-based index (address order); null past the end.
    virtual ITnRegister *GetRegisterByIndex(size_t aIndex) = 0;

    /// The register that holds the byte at aAddress; null where none lies.
    virtual ITnRegister *GetRegisterByAddress(uint32_t aAddress) = 0;

    /// Waits for the map's lock: TN_OK, or TN_STATE_ERROR when the device is
    /// not running. While it is held no register is added or removed (the
    /// device's stop and reset wait for Release); register reads and writes
    /// go on. The lock is not bound to a thread: any thread may release it.
    /// It is not recursive: a second Lock waits for the first Release.
    virtual TnResult Lock() = 0;

    /// The same, waiting at most aTimeout milliseconds: TN_TIMEOUT when the
    /// lock was not obtained in time.
    virtual TnResult Lock(uint32_t aTimeout) = 0;

    /// Releases the lock obtained by Lock; does nothing when it is not held.
    virtual void Release() = 0;
};

/// Adds registers to the device while it starts (the device hands it to
/// the register-creation callbacks of its event sink and sources).
///
/// Rules, each refused with TN_GENERIC_ERROR and a description: a name is
/// required and unique; addresses and lengths are multiples of 4; a plain
/// register has 4 or 8 bytes, a byte array at least 4; a register lies in
/// none of the device's own ranges and overlaps no other; aAccessMode is
/// TnGenAccessModeReadOnly, TnGenAccessModeReadWrite or
/// TnGenAccessModeWriteOnly (the access a controller gets). A sink given is
/// registered with the new register as by ITnRegister::AddEventSink; the
/// context comes back from ITnRegisterInfo::GetContext. A new register holds
/// zero bytes.
class TN_SOFTDEVICE_API ITnRegisterFactory
{
#ifndef SWIG
protected:
    virtual ~ITnRegisterFactory();
#endif

public:
    /// Adds a plain register (for integer and float features) of 4 or 8
    /// bytes at aAddress.
    virtual TnResult AddRegister(const TnString &aName, uint32_t aAddress, uint32_t aLength,
                                 TnGenAccessMode aAccessMode, ITnRegisterEventSink *aRegisterEventSink = nullptr,
                                 void *aContext = nullptr) = 0;

    /// The same at the lowest free address of the range 0x10000000 -
    /// 0x1FFFFFFF, written to aAssignedAddress (left alone on failure).
    virtual TnResult AddRegisterAuto(const TnString &aName, uint32_t &aAssignedAddress, uint32_t aLength,
                                     TnGenAccessMode aAccessMode, ITnRegisterEventSink *aRegisterEventSink,
                                     void *aContext = nullptr) = 0;

    /// Adds a byte-array register (for string and register features) whose
    /// length is a multiple of 4.
    virtual TnResult AddByteArray(const TnString &aName, uint32_t aAddress, uint32_t aLength,
                                  TnGenAccessMode aAccessMode, ITnRegisterEventSink *aRegisterEventSink = nullptr,
                                  void *aContext = nullptr) = 0;
};

#endif
