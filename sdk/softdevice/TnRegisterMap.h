// The software device's address space: its registers, the map's lock, the
// register factory, and the access a GigE Vision control server needs.
//
// Locks, in the order they are taken:
//   1. the map's program lock (Lock / Release): a flag with a condition
//      variable, held across calls, by no thread in particular; adding and
//      removing registers wait until it is free;
//   2. the structure lock (a shared mutex) over the sorted register list:
//      held shared for a look-up, exclusively for an addition or removal,
//      never while a register is read or written;
//   3. a register's own locks (TnRegister.h).
// No lock of the map is held while an event sink runs: an access takes a
// reference to each register it touches under lock 2, releases it and then
// reads or writes the register. A sink may therefore use the map and its
// registers freely; a register removed meanwhile lives until the access ends.
#ifndef TN_REGISTER_MAP_H
#define TN_REGISTER_MAP_H

#include <stddef.h>
#include <stdint.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "ITnRegisterMap.h"
#include "TnRegister.h"

namespace tn
{
namespace softdevice
{
// Address ranges (see ITnRegisterMap.h).
constexpr uint32_t kBootstrapEnd = 0x0000A000;
constexpr uint32_t kAutoRangeBegin = 0x10000000;
constexpr uint32_t kAutoRangeEnd = 0x20000000;
constexpr uint32_t kDeviceRangeBegin = 0xF0000000;

/// Where a register lies and how a controller may use it.
struct TnRegisterSpec
{
    std::string mName;
    uint32_t mAddress = 0;
    uint32_t mLength = 4;
    TnGenAccessMode mAccessMode = TnGenAccessModeReadWrite;
    bool mByteArray = false;
    ITnRegisterEventSink *mSink = nullptr;
    void *mContext = nullptr;
};

/// The result of a controller's access: a GigE Vision status and, for
/// writes, how many bytes were written before a failure.
struct TnAccessStatus
{
    uint16_t mStatus = 0;
    size_t mDone = 0;
    TnResult mResult; // what failed, with a description
};

class TnRegisterMap final : public ITnRegisterMap
{
public:
    TnRegisterMap();
    ~TnRegisterMap() override;
    TnRegisterMap(const TnRegisterMap &) = delete;
    TnRegisterMap &operator=(const TnRegisterMap &) = delete;

    // ITnRegisterMap
    size_t GetRegisterCount() override;
    ITnRegister *GetRegisterByIndex(size_t aIndex) override;
    ITnRegister *GetRegisterByAddress(uint32_t aAddress) override;
    TnResult Lock() override;
    TnResult Lock(uint32_t aTimeout) override;
    void Release() override;

    // The device's side.
    /// Adds a register anywhere it overlaps no other (the device's own
    /// registers); the factory adds the program's. TN_GENERIC_ERROR with a
    /// description for a broken rule (ITnRegisterMap.h).
    TnResult Add(const TnRegisterSpec &aSpec, TnRegister **aRegister = nullptr);
    /// The owner's accesses the registers added from now on count among.
    void SetUse(TnRegisterUse *aUse) { mUse = aUse; }
    /// The device stopped: Lock answers TN_STATE_ERROR from now on, every
    /// register is retired (TnRegister::Retire). The registers stay in the
    /// map, so that a program that kept the map or a register can still
    /// look them up and read their last content.
    void Retire();
    /// Lock answers TN_STATE_ERROR while the device does not run.
    void SetRunning(bool aRunning);
    bool IsRunning() const;

    std::shared_ptr<TnRegister> Find(uint32_t aAddress) const;
    TnRegister *FindByName(const std::string &aName) const;
    /// Every register, in address order.
    std::vector<std::shared_ptr<TnRegister>> GetRegisters() const;
    /// The lowest 4-byte-aligned address in [aBegin, aEnd) where aLength
    /// bytes are free; false when there is none.
    bool FindFree(uint32_t aBegin, uint32_t aEnd, uint32_t aLength, uint32_t &aAddress) const;

    /// A controller's memory read or write of aSize bytes at aAddress, which
    /// may span registers: every byte must lie in a register (else invalid
    /// address), readable (else access denied) or writable (else write
    /// protect). Registers are accessed one after the other in address
    /// order, each with its sinks; a write stops at the first register that
    /// fails, the ones before keep their new value (mDone tells how far it
    /// got), the failing one its former value.
    TnAccessStatus ReadMemory(uint32_t aAddress, uint8_t *aData, size_t aSize);
    TnAccessStatus WriteMemory(uint32_t aAddress, const uint8_t *aData, size_t aSize);
    /// One 4-byte register access (big-endian value); a misaligned address
    /// is answered with bad alignment.
    TnAccessStatus ReadRegister(uint32_t aAddress, uint32_t &aValue);
    TnAccessStatus WriteRegister(uint32_t aAddress, uint32_t aValue);

private:
    /// The registers covering [aAddress, aAddress + aSize), or a status.
    uint16_t Collect(uint32_t aAddress, size_t aSize, std::vector<std::shared_ptr<TnRegister>> &aRegisters) const;
    size_t LowerBound(uint32_t aAddress) const;
    /// A controller's read (aRead) or write (aWrite) of aSize bytes.
    TnAccessStatus Access(uint32_t aAddress, uint8_t *aRead, const uint8_t *aWrite, size_t aSize);
    TnResult WaitForLock(std::unique_lock<std::mutex> &aLock, bool aTimed, uint32_t aTimeout);

    mutable std::shared_mutex mStructure;
    std::vector<std::shared_ptr<TnRegister>> mRegisters; // sorted by address

    mutable std::mutex mLockMutex;
    std::condition_variable mLockFree;
    bool mLocked;
    bool mRunning;
    TnRegisterUse *mUse = nullptr;
};

/// The GigE Vision status that answers a failed access's result: a code
/// from 0x8001 to 0x8FFF as it is, else the nearest status (ITnRegister.h).
uint16_t ToGevStatus(const TnResult &aResult);

/// The program's register factory over a map: it keeps the bootstrap and
/// device ranges for the device. After Close every addition answers
/// TN_STATE_ERROR, so that a factory kept past its callback harms nothing.
class TnRegisterFactory final : public ITnRegisterFactory
{
public:
    explicit TnRegisterFactory(TnRegisterMap &aMap);
    ~TnRegisterFactory() override;

    TnResult AddRegister(const TnString &aName, uint32_t aAddress, uint32_t aLength, TnGenAccessMode aAccessMode,
                         ITnRegisterEventSink *aRegisterEventSink = nullptr, void *aContext = nullptr) override;
    TnResult AddRegisterAuto(const TnString &aName, uint32_t &aAssignedAddress, uint32_t aLength,
                             TnGenAccessMode aAccessMode, ITnRegisterEventSink *aRegisterEventSink,
                             void *aContext = nullptr) override;
    TnResult AddByteArray(const TnString &aName, uint32_t aAddress, uint32_t aLength, TnGenAccessMode aAccessMode,
                          ITnRegisterEventSink *aRegisterEventSink = nullptr, void *aContext = nullptr) override;

    void Open();
    void Close();

private:
    TnResult AddChecked(const TnRegisterSpec &aSpec);
    bool IsOpen() const;

    TnRegisterMap &mMap;
    mutable std::mutex mMutex; // serialises additions (an auto address is found and taken in one step)
    bool mOpen;
};
} // namespace softdevice
} // namespace tn

#endif
