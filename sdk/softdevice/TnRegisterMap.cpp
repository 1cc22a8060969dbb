// The software device's address space and its register factory.
#include "TnRegisterMap.h"

#include <algorithm>
#include <chrono>

#include "TnGevBytes.h"
#include "TnGvcp.h"
#include "TnSoftDeviceLog.h"

ITnRegisterMap::~ITnRegisterMap() = default;
ITnRegisterFactory::~ITnRegisterFactory() = default;

namespace tn
{
namespace softdevice
{
namespace
{
std::string Hex(uint64_t aValue)
{
    char text[24];
    snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(aValue));
    return text;
}

TnAccessStatus Status(uint16_t aStatus, const std::string &aDescription, size_t aDone = 0)
{
    TnAccessStatus status;
    status.mStatus = aStatus;
    status.mDone = aDone;
    status.mResult = Failure(TN_GENERIC_ERROR, aDescription);
    return status;
}

TnAccessStatus Refused(const TnResult &aResult, size_t aDone)
{
    TnAccessStatus status;
    status.mStatus = ToGevStatus(aResult);
    status.mDone = aDone;
    status.mResult = aResult;
    return status;
}
} // namespace

uint16_t ToGevStatus(const TnResult &aResult)
{
    const uint32_t code = aResult.GetCode();
    if (code == TN_OK)
    {
        return gev::kGvcpStatusSuccess;
    }
    if (code >= 0x8001 && code <= 0x8FFF)
    {
        return static_cast<uint16_t>(code);
    }
    switch (code)
    {
    case TN_INVALID_PARAMETER:
        return gev::kGvcpStatusInvalidParameter;
    case TN_NOT_IMPLEMENTED:
    case TN_NOT_SUPPORTED:
        return gev::kGvcpStatusNotImplemented;
    case TN_STATE_ERROR:
        return gev::kGvcpStatusAccessDenied;
    case TN_BUSY:
        return gev::kGvcpStatusBusy;
    default:
        return gev::kGvcpStatusError;
    }
}

TnRegisterMap::TnRegisterMap() : mLocked(false), mRunning(false) {}

TnRegisterMap::~TnRegisterMap() = default;

size_t TnRegisterMap::GetRegisterCount()
{
    std::shared_lock<std::shared_mutex> lock(mStructure);
    return mRegisters.size();
}

ITnRegister *TnRegisterMap::GetRegisterByIndex(size_t aIndex)
{
    std::shared_lock<std::shared_mutex> lock(mStructure);
    return aIndex < mRegisters.size() ? mRegisters[aIndex].get() : nullptr;
}

ITnRegister *TnRegisterMap::GetRegisterByAddress(uint32_t aAddress)
{
    return Find(aAddress).get();
}

TnResult TnRegisterMap::WaitForLock(std::unique_lock<std::mutex> &aLock, bool aTimed, uint32_t aTimeout)
{
    if (!mRunning)
    {
        return Failure(TN_STATE_ERROR, "the register map can be locked only while the device runs");
    }
    const auto free = [this] { return !mLocked || !mRunning; };
    if (aTimed)
    {
        if (!mLockFree.wait_for(aLock, std::chrono::milliseconds(aTimeout), free))
        {
            return Failure(TN_TIMEOUT, "the register map's lock was not free within " + std::to_string(aTimeout) + " ms");
        }
    }
    else
    {
        mLockFree.wait(aLock, free);
    }
    if (!mRunning)
    {
        return Failure(TN_STATE_ERROR, "the device stopped while the register map's lock was awaited");
    }
    mLocked = true;
    return TnResult(TN_OK);
}

TnResult TnRegisterMap::Lock()
{
    std::unique_lock<std::mutex> lock(mLockMutex);
    return WaitForLock(lock, false, 0);
}

TnResult TnRegisterMap::Lock(uint32_t aTimeout)
{
    std::unique_lock<std::mutex> lock(mLockMutex);
    return WaitForLock(lock, true, aTimeout);
}

void TnRegisterMap::Release()
{
    std::lock_guard<std::mutex> lock(mLockMutex);
    mLocked = false;
    mLockFree.notify_all();
}

void TnRegisterMap::SetRunning(bool aRunning)
{
    std::lock_guard<std::mutex> lock(mLockMutex);
    mRunning = aRunning;
    mLockFree.notify_all();
}

bool TnRegisterMap::IsRunning() const
{
    std::lock_guard<std::mutex> lock(mLockMutex);
    return mRunning;
}

size_t TnRegisterMap::LowerBound(uint32_t aAddress) const
{
    // The first register that ends after aAddress.
    const auto found = std::upper_bound(mRegisters.begin(), mRegisters.end(), static_cast<uint64_t>(aAddress),
                                        [](uint64_t aValue, const std::shared_ptr<TnRegister> &aRegister) {
                                            return aValue < aRegister->GetEnd64();
                                        });
    return static_cast<size_t>(found - mRegisters.begin());
}

std::shared_ptr<TnRegister> TnRegisterMap::Find(uint32_t aAddress) const
{
    std::shared_lock<std::shared_mutex> lock(mStructure);
    const size_t index = LowerBound(aAddress);
    if (index < mRegisters.size() && mRegisters[index]->GetAddress() <= aAddress)
    {
        return mRegisters[index];
    }
    return nullptr;
}

TnRegister *TnRegisterMap::FindByName(const std::string &aName) const
{
    std::shared_lock<std::shared_mutex> lock(mStructure);
    for (const auto &reg : mRegisters)
    {
        if (reg->GetNameText() == aName)
        {
            return reg.get();
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<TnRegister>> TnRegisterMap::GetRegisters() const
{
    std::shared_lock<std::shared_mutex> lock(mStructure);
    return mRegisters;
}

bool TnRegisterMap::FindFree(uint32_t aBegin, uint32_t aEnd, uint32_t aLength, uint32_t &aAddress) const
{
    std::shared_lock<std::shared_mutex> lock(mStructure);
    uint64_t candidate = (static_cast<uint64_t>(aBegin) + 3) & ~3ull;
    for (size_t index = LowerBound(static_cast<uint32_t>(candidate)); index < mRegisters.size(); ++index)
    {
        const TnRegister &reg = *mRegisters[index];
        if (candidate + aLength <= reg.GetAddress())
        {
            break;
        }
        candidate = std::max<uint64_t>(candidate, (reg.GetEnd64() + 3) & ~3ull);
    }
    if (candidate + aLength > aEnd)
    {
        return false;
    }
    aAddress = static_cast<uint32_t>(candidate);
    return true;
}

TnResult TnRegisterMap::Add(const TnRegisterSpec &aSpec, TnRegister **aRegister)
{
    const std::string what = "register '" + aSpec.mName + "'";
    if (aSpec.mName.empty())
    {
        return Failure(TN_GENERIC_ERROR, "a register needs a name");
    }
    if (aSpec.mAddress % 4 != 0 || aSpec.mLength % 4 != 0)
    {
        return Failure(TN_GENERIC_ERROR, what + ": address " + Hex(aSpec.mAddress) + " and length " +
                                             std::to_string(aSpec.mLength) + " must be multiples of 4");
    }
    if (aSpec.mByteArray ? aSpec.mLength == 0 : aSpec.mLength != 4 && aSpec.mLength != 8)
    {
        return Failure(TN_GENERIC_ERROR, what + ": a " + (aSpec.mByteArray ? "byte array" : "plain register") +
                                             " cannot have " + std::to_string(aSpec.mLength) + " bytes");
    }
    if (static_cast<uint64_t>(aSpec.mAddress) + aSpec.mLength > 0x100000000ull)
    {
        return Failure(TN_GENERIC_ERROR, what + " reaches past the end of the address space");
    }
    bool readable = false;
    bool writable = false;
    switch (aSpec.mAccessMode)
    {
    case TnGenAccessModeReadOnly:
        readable = true;
        break;
    case TnGenAccessModeReadWrite:
        readable = writable = true;
        break;
    case TnGenAccessModeWriteOnly:
        writable = true;
        break;
    default:
        return Failure(TN_GENERIC_ERROR, what + ": the access mode " + std::to_string(aSpec.mAccessMode) +
                                             " is none of read-only, read-write and write-only");
    }
    auto reg = std::make_shared<TnRegister>(aSpec.mName, aSpec.mAddress, aSpec.mLength, readable, writable,
                                            aSpec.mByteArray, aSpec.mContext);
    if (aSpec.mSink != nullptr)
    {
        reg->AddEventSink(aSpec.mSink);
    }

    std::unique_lock<std::mutex> programLock(mLockMutex);
    mLockFree.wait(programLock, [this] { return !mLocked; });
    std::unique_lock<std::shared_mutex> lock(mStructure);
    for (const auto &other : mRegisters)
    {
        if (other->GetNameText() == aSpec.mName)
        {
            return Failure(TN_GENERIC_ERROR, what + ": the name is taken by the register at " + Hex(other->GetAddress()));
        }
    }
    const size_t index = LowerBound(aSpec.mAddress);
    if (index < mRegisters.size() && mRegisters[index]->GetAddress() < reg->GetEnd64())
    {
        const TnRegister &other = *mRegisters[index];
        return Failure(TN_GENERIC_ERROR, what + " at " + Hex(aSpec.mAddress) + " (" + std::to_string(aSpec.mLength) +
                                             " bytes) overlaps register '" + other.GetNameText() + "' at " +
                                             Hex(other.GetAddress()) + " (" + std::to_string(other.GetLength()) +
                                             " bytes)");
    }
    mRegisters.insert(mRegisters.begin() + static_cast<std::ptrdiff_t>(index), reg);
    if (aRegister != nullptr)
    {
        *aRegister = reg.get();
    }
    return TnResult(TN_OK);
}

void TnRegisterMap::Clear()
{
    std::vector<std::shared_ptr<TnRegister>> removed;
    {
        std::unique_lock<std::mutex> programLock(mLockMutex);
        mLockFree.wait(programLock, [this] { return !mLocked; });
        std::unique_lock<std::shared_mutex> lock(mStructure);
        removed.swap(mRegisters);
    }
    // Registers still in use by an access die when it ends.
}

uint16_t TnRegisterMap::Collect(uint32_t aAddress, size_t aSize, std::vector<std::shared_ptr<TnRegister>> &aRegisters) const
{
    std::shared_lock<std::shared_mutex> lock(mStructure);
    uint64_t next = aAddress;
    const uint64_t end = static_cast<uint64_t>(aAddress) + aSize;
    for (size_t index = LowerBound(aAddress); next < end; ++index)
    {
        if (index >= mRegisters.size() || mRegisters[index]->GetAddress() > next)
        {
            return gev::kGvcpStatusInvalidAddress;
        }
        aRegisters.push_back(mRegisters[index]);
        next = mRegisters[index]->GetEnd64();
    }
    return gev::kGvcpStatusSuccess;
}

TnAccessStatus TnRegisterMap::Access(uint32_t aAddress, uint8_t *aRead, const uint8_t *aWrite, size_t aSize)
{
    std::vector<std::shared_ptr<TnRegister>> registers;
    if (static_cast<uint64_t>(aAddress) + aSize > 0x100000000ull ||
        Collect(aAddress, aSize, registers) != gev::kGvcpStatusSuccess)
    {
        return Status(gev::kGvcpStatusInvalidAddress,
                      std::to_string(aSize) + " bytes at " + Hex(aAddress) + " do not all lie in registers");
    }
    for (const auto &reg : registers)
    {
        if (aWrite != nullptr ? !reg->IsWritable() : !reg->IsReadable())
        {
            return Status(aWrite != nullptr ? gev::kGvcpStatusWriteProtect : gev::kGvcpStatusAccessDenied,
                          "register '" + reg->GetNameText() + "' is not " + (aWrite != nullptr ? "writable" : "readable"));
        }
    }
    const uint64_t end = static_cast<uint64_t>(aAddress) + aSize;
    for (const auto &reg : registers)
    {
        const uint64_t from = std::max<uint64_t>(aAddress, reg->GetAddress());
        const uint32_t offset = static_cast<uint32_t>(from - reg->GetAddress());
        const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(end, reg->GetEnd64()) - from);
        const TnResult result = aWrite != nullptr ? reg->WriteAt(offset, aWrite + (from - aAddress), length)
                                                  : reg->Read(offset, aRead + (from - aAddress), length);
        if (!result.IsOK())
        {
            return Refused(result, aWrite != nullptr ? static_cast<size_t>(from - aAddress) : 0);
        }
    }
    TnAccessStatus status;
    status.mDone = aSize;
    return status;
}

TnAccessStatus TnRegisterMap::ReadMemory(uint32_t aAddress, uint8_t *aData, size_t aSize)
{
    return Access(aAddress, aData, nullptr, aSize);
}

TnAccessStatus TnRegisterMap::WriteMemory(uint32_t aAddress, const uint8_t *aData, size_t aSize)
{
    return Access(aAddress, nullptr, aData, aSize);
}

TnAccessStatus TnRegisterMap::ReadRegister(uint32_t aAddress, uint32_t &aValue)
{
    if (aAddress % 4 != 0)
    {
        return Status(gev::kGvcpStatusBadAlignment, "register address " + Hex(aAddress) + " is not a multiple of 4");
    }
    uint8_t bytes[4];
    TnAccessStatus status = ReadMemory(aAddress, bytes, 4);
    if (status.mStatus == gev::kGvcpStatusSuccess)
    {
        aValue = gev::GetU32(bytes);
    }
    return status;
}

TnAccessStatus TnRegisterMap::WriteRegister(uint32_t aAddress, uint32_t aValue)
{
    if (aAddress % 4 != 0)
    {
        return Status(gev::kGvcpStatusBadAlignment, "register address " + Hex(aAddress) + " is not a multiple of 4");
    }
    uint8_t bytes[4];
    gev::PutU32(bytes, aValue);
    return WriteMemory(aAddress, bytes, 4);
}

// --- TnRegisterFactory --------------------------------------------------------

TnRegisterFactory::TnRegisterFactory(TnRegisterMap &aMap) : mMap(aMap), mOpen(true) {}

TnRegisterFactory::~TnRegisterFactory() = default;

void TnRegisterFactory::Open()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mOpen = true;
}

void TnRegisterFactory::Close()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mOpen = false;
}

TnResult TnRegisterFactory::AddChecked(const TnRegisterSpec &aSpec)
{
    if (!mOpen)
    {
        return Failure(TN_STATE_ERROR, "registers are added only while the device starts");
    }
    const uint64_t end = static_cast<uint64_t>(aSpec.mAddress) + aSpec.mLength;
    if (aSpec.mAddress < kBootstrapEnd || end > kDeviceRangeBegin)
    {
        return Failure(TN_GENERIC_ERROR, "register '" + aSpec.mName + "' at " + Hex(aSpec.mAddress) +
                                             " lies in the device's own range (below " + Hex(kBootstrapEnd) +
                                             " or from " + Hex(kDeviceRangeBegin) + ")");
    }
    return mMap.Add(aSpec);
}

namespace
{
TnRegisterSpec ProgramSpec(const TnString &aName, uint32_t aAddress, uint32_t aLength, TnGenAccessMode aAccessMode,
                           bool aByteArray, ITnRegisterEventSink *aSink, void *aContext)
{
    TnRegisterSpec spec;
    spec.mName = aName.GetAscii() != nullptr ? aName.GetAscii() : "";
    spec.mAddress = aAddress;
    spec.mLength = aLength;
    spec.mAccessMode = aAccessMode;
    spec.mByteArray = aByteArray;
    spec.mSink = aSink;
    spec.mContext = aContext;
    return spec;
}
} // namespace

TnResult TnRegisterFactory::AddRegister(const TnString &aName, uint32_t aAddress, uint32_t aLength,
                                        TnGenAccessMode aAccessMode, ITnRegisterEventSink *aRegisterEventSink,
                                        void *aContext)
{
    std::lock_guard<std::mutex> lock(mMutex);
    return AddChecked(ProgramSpec(aName, aAddress, aLength, aAccessMode, false, aRegisterEventSink, aContext));
}

TnResult TnRegisterFactory::AddByteArray(const TnString &aName, uint32_t aAddress, uint32_t aLength,
                                         TnGenAccessMode aAccessMode, ITnRegisterEventSink *aRegisterEventSink,
                                         void *aContext)
{
    std::lock_guard<std::mutex> lock(mMutex);
    return AddChecked(ProgramSpec(aName, aAddress, aLength, aAccessMode, true, aRegisterEventSink, aContext));
}

TnResult TnRegisterFactory::AddRegisterAuto(const TnString &aName, uint32_t &aAssignedAddress, uint32_t aLength,
                                            TnGenAccessMode aAccessMode, ITnRegisterEventSink *aRegisterEventSink,
                                            void *aContext)
{
    std::lock_guard<std::mutex> lock(mMutex);
    TnRegisterSpec spec = ProgramSpec(aName, 0, aLength, aAccessMode, false, aRegisterEventSink, aContext);
    if (aLength != 4 && aLength != 8)
    {
        return Failure(TN_GENERIC_ERROR, "register '" + spec.mName + "': a plain register cannot have " +
                                             std::to_string(aLength) + " bytes");
    }
    if (!mMap.FindFree(kAutoRangeBegin, kAutoRangeEnd, aLength, spec.mAddress))
    {
        return Failure(TN_GENERIC_ERROR, "register '" + spec.mName + "': no room is left for it");
    }
    TnResult result = AddChecked(spec);
    if (result.IsOK())
    {
        aAssignedAddress = spec.mAddress;
    }
    return result;
}
} // namespace softdevice
} // namespace tn
