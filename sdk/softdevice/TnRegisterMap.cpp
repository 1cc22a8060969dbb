// The software device's address space and its register factory.
#include "TnRegisterMap.h"

#include <algorithm>
#include <chrono>

#include "TnGevBytes.h"
#include "TnGvcp.h"
#include "TnSoftDeviceLog.h"
#include "TnText.h"
#include "TnWait.h"

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
    char lText[24];
    snprintf(lText, sizeof(lText), "0x%llX", static_cast<unsigned long long>(aValue));
    return lText;
}

TnAccessStatus Status(uint16_t aStatus, const std::string &aDescription, size_t aDone = 0)
{
    TnAccessStatus lStatus;
    lStatus.mStatus = aStatus;
    lStatus.mDone = aDone;
    lStatus.mResult = Failure(TN_GENERIC_ERROR, aDescription);
    return lStatus;
}

TnAccessStatus Refused(const TnResult &aResult, size_t aDone)
{
    TnAccessStatus lStatus;
    lStatus.mStatus = ToGevStatus(aResult);
    lStatus.mDone = aDone;
    lStatus.mResult = aResult;
    return lStatus;
}
} // namespace

uint16_t ToGevStatus(const TnResult &aResult)
{
    const uint32_t lCode = aResult.GetCode();
    if (lCode == TN_OK)
    {
        return gev::kGvcpStatusSuccess;
    }
    if (lCode >= 0x8001 && lCode <= 0x8FFF)
    {
        return static_cast<uint16_t>(lCode);
    }
    switch (lCode)
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
    std::shared_lock<std::shared_mutex> lLock(mStructure);
    return mRegisters.size();
}

ITnRegister *TnRegisterMap::GetRegisterByIndex(size_t aIndex)
{
    std::shared_lock<std::shared_mutex> lLock(mStructure);
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
    const auto lFree = [this] { return !mLocked || !mRunning; };
    if (!(aTimed ? WaitFor(mLockFree, aLock, aTimeout, lFree) : Wait(mLockFree, aLock, lFree)))
    {
        if (Interrupted())
        {
            return Failure(TN_ABORTED, "the wait for the register map's lock was interrupted");
        }
        return Failure(TN_TIMEOUT, "the register map's lock was not free within " + std::to_string(aTimeout) + " ms");
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
    std::unique_lock<std::mutex> lLock(mLockMutex);
    return WaitForLock(lLock, false, 0);
}

TnResult TnRegisterMap::Lock(uint32_t aTimeout)
{
    std::unique_lock<std::mutex> lLock(mLockMutex);
    return WaitForLock(lLock, true, aTimeout);
}

void TnRegisterMap::Release()
{
    std::lock_guard<std::mutex> lLock(mLockMutex);
    mLocked = false;
    mLockFree.notify_all();
}

void TnRegisterMap::SetRunning(bool aRunning)
{
    std::lock_guard<std::mutex> lLock(mLockMutex);
    mRunning = aRunning;
    mLockFree.notify_all();
}

bool TnRegisterMap::IsRunning() const
{
    std::lock_guard<std::mutex> lLock(mLockMutex);
    return mRunning;
}

size_t TnRegisterMap::LowerBound(uint32_t aAddress) const
{
    // The first register that ends after aAddress.
    const auto lFound = std::upper_bound(
        mRegisters.begin(), mRegisters.end(), static_cast<uint64_t>(aAddress),
        [](uint64_t aValue, const std::shared_ptr<TnRegister> &aRegister) { return aValue < aRegister->GetEnd64(); });
    return static_cast<size_t>(lFound - mRegisters.begin());
}

std::shared_ptr<TnRegister> TnRegisterMap::Find(uint32_t aAddress) const
{
    std::shared_lock<std::shared_mutex> lLock(mStructure);
    const size_t lIndex = LowerBound(aAddress);
    if (lIndex < mRegisters.size() && mRegisters[lIndex]->GetAddress() <= aAddress)
    {
        return mRegisters[lIndex];
    }
    return nullptr;
}

TnRegister *TnRegisterMap::FindByName(const std::string &aName) const
{
    std::shared_lock<std::shared_mutex> lLock(mStructure);
    for (const auto &lReg : mRegisters)
    {
        if (lReg->GetNameText() == aName)
        {
            return lReg.get();
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<TnRegister>> TnRegisterMap::GetRegisters() const
{
    std::shared_lock<std::shared_mutex> lLock(mStructure);
    return mRegisters;
}

bool TnRegisterMap::FindFree(uint32_t aBegin, uint32_t aEnd, uint32_t aLength, uint32_t &aAddress) const
{
    std::shared_lock<std::shared_mutex> lLock(mStructure);
    uint64_t lCandidate = (static_cast<uint64_t>(aBegin) + 3) & ~3ull;
    for (size_t lIndex = LowerBound(static_cast<uint32_t>(lCandidate)); lIndex < mRegisters.size(); ++lIndex)
    {
        const TnRegister &lReg = *mRegisters[lIndex];
        if (lCandidate + aLength <= lReg.GetAddress())
        {
            break;
        }
        lCandidate = std::max<uint64_t>(lCandidate, (lReg.GetEnd64() + 3) & ~3ull);
    }
    if (lCandidate + aLength > aEnd)
    {
        return false;
    }
    aAddress = static_cast<uint32_t>(lCandidate);
    return true;
}

TnResult TnRegisterMap::Add(const TnRegisterSpec &aSpec, TnRegister **aRegister)
{
    const std::string lWhat = "register '" + aSpec.mName + "'";
    if (aSpec.mName.empty())
    {
        return Failure(TN_GENERIC_ERROR, "a register needs a name");
    }
    if (aSpec.mAddress % 4 != 0 || aSpec.mLength % 4 != 0)
    {
        return Failure(TN_GENERIC_ERROR, lWhat + ": address " + Hex(aSpec.mAddress) + " and length " +
                                             std::to_string(aSpec.mLength) + " must be multiples of 4");
    }
    if (aSpec.mByteArray ? aSpec.mLength == 0 : aSpec.mLength != 4 && aSpec.mLength != 8)
    {
        return Failure(TN_GENERIC_ERROR, lWhat + ": a " + (aSpec.mByteArray ? "byte array" : "plain register") +
                                             " cannot have " + std::to_string(aSpec.mLength) + " bytes");
    }
    if (static_cast<uint64_t>(aSpec.mAddress) + aSpec.mLength > 0x100000000ull)
    {
        return Failure(TN_GENERIC_ERROR, lWhat + " reaches past the end of the address space");
    }
    bool lReadable = false;
    bool lWritable = false;
    switch (aSpec.mAccessMode)
    {
    case TnGenAccessModeReadOnly:
        lReadable = true;
        break;
    case TnGenAccessModeReadWrite:
        lReadable = lWritable = true;
        break;
    case TnGenAccessModeWriteOnly:
        lWritable = true;
        break;
    default:
        return Failure(TN_GENERIC_ERROR, lWhat + ": the access mode " + std::to_string(aSpec.mAccessMode) +
                                             " is none of read-only, read-write and write-only");
    }
    auto lReg = std::make_shared<TnRegister>(aSpec.mName, aSpec.mAddress, aSpec.mLength, lReadable, lWritable,
                                             aSpec.mByteArray, aSpec.mContext);
    lReg->SetUse(mUse);
    if (aSpec.mSink != nullptr)
    {
        lReg->AddEventSink(aSpec.mSink);
    }

    std::unique_lock<std::mutex> lProgramLock(mLockMutex);
    mLockFree.wait(lProgramLock, [this] { return !mLocked; });
    std::unique_lock<std::shared_mutex> lLock(mStructure);
    for (const auto &lOther : mRegisters)
    {
        if (lOther->GetNameText() == aSpec.mName)
        {
            return Failure(TN_GENERIC_ERROR,
                           lWhat + ": the name is taken by the register at " + Hex(lOther->GetAddress()));
        }
    }
    const size_t lIndex = LowerBound(aSpec.mAddress);
    if (lIndex < mRegisters.size() && mRegisters[lIndex]->GetAddress() < lReg->GetEnd64())
    {
        const TnRegister &lOther = *mRegisters[lIndex];
        return Failure(TN_GENERIC_ERROR, lWhat + " at " + Hex(aSpec.mAddress) + " (" + std::to_string(aSpec.mLength) +
                                             " bytes) overlaps register '" + lOther.GetNameText() + "' at " +
                                             Hex(lOther.GetAddress()) + " (" + std::to_string(lOther.GetLength()) +
                                             " bytes)");
    }
    mRegisters.insert(mRegisters.begin() + static_cast<std::ptrdiff_t>(lIndex), lReg);
    if (aRegister != nullptr)
    {
        *aRegister = lReg.get();
    }
    return TnResult(TN_OK);
}

void TnRegisterMap::Retire()
{
    SetRunning(false);
    for (const std::shared_ptr<TnRegister> &lReg : GetRegisters())
    {
        lReg->Retire();
    }
}

uint16_t TnRegisterMap::Collect(uint32_t aAddress, size_t aSize, std::vector<std::shared_ptr<TnRegister>> &aRegisters) const
{
    std::shared_lock<std::shared_mutex> lLock(mStructure);
    uint64_t lNext = aAddress;
    const uint64_t lEnd = static_cast<uint64_t>(aAddress) + aSize;
    for (size_t lIndex = LowerBound(aAddress); lNext < lEnd; ++lIndex)
    {
        if (lIndex >= mRegisters.size() || mRegisters[lIndex]->GetAddress() > lNext)
        {
            return gev::kGvcpStatusInvalidAddress;
        }
        aRegisters.push_back(mRegisters[lIndex]);
        lNext = mRegisters[lIndex]->GetEnd64();
    }
    return gev::kGvcpStatusSuccess;
}

TnAccessStatus TnRegisterMap::Access(uint32_t aAddress, uint8_t *aRead, const uint8_t *aWrite, size_t aSize)
{
    std::vector<std::shared_ptr<TnRegister>> lRegisters;
    if (static_cast<uint64_t>(aAddress) + aSize > 0x100000000ull ||
        Collect(aAddress, aSize, lRegisters) != gev::kGvcpStatusSuccess)
    {
        return Status(gev::kGvcpStatusInvalidAddress,
                      std::to_string(aSize) + " bytes at " + Hex(aAddress) + " do not all lie in registers");
    }
    for (const auto &lReg : lRegisters)
    {
        if (aWrite != nullptr ? !lReg->IsWritable() : !lReg->IsReadable())
        {
            return Status(aWrite != nullptr ? gev::kGvcpStatusWriteProtect : gev::kGvcpStatusAccessDenied,
                          "register '" + lReg->GetNameText() + "' is not " +
                              (aWrite != nullptr ? "writable" : "readable"));
        }
    }
    const uint64_t lEnd = static_cast<uint64_t>(aAddress) + aSize;
    for (const auto &lReg : lRegisters)
    {
        const uint64_t lFrom = std::max<uint64_t>(aAddress, lReg->GetAddress());
        const uint32_t lOffset = static_cast<uint32_t>(lFrom - lReg->GetAddress());
        const uint32_t lLength = static_cast<uint32_t>(std::min<uint64_t>(lEnd, lReg->GetEnd64()) - lFrom);
        const TnResult lResult = aWrite != nullptr ? lReg->WriteAt(lOffset, aWrite + (lFrom - aAddress), lLength)
                                                   : lReg->Read(lOffset, aRead + (lFrom - aAddress), lLength);
        if (!lResult.IsOK())
        {
            return Refused(lResult, aWrite != nullptr ? static_cast<size_t>(lFrom - aAddress) : 0);
        }
    }
    TnAccessStatus lStatus;
    lStatus.mDone = aSize;
    return lStatus;
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
    uint8_t lBytes[4];
    TnAccessStatus lStatus = ReadMemory(aAddress, lBytes, 4);
    if (lStatus.mStatus == gev::kGvcpStatusSuccess)
    {
        aValue = gev::GetU32(lBytes);
    }
    return lStatus;
}

TnAccessStatus TnRegisterMap::WriteRegister(uint32_t aAddress, uint32_t aValue)
{
    if (aAddress % 4 != 0)
    {
        return Status(gev::kGvcpStatusBadAlignment, "register address " + Hex(aAddress) + " is not a multiple of 4");
    }
    uint8_t lBytes[4];
    gev::PutU32(lBytes, aValue);
    return WriteMemory(aAddress, lBytes, 4);
}

// --- TnRegisterFactory --------------------------------------------------------

TnRegisterFactory::TnRegisterFactory(TnRegisterMap &aMap) : mMap(aMap), mOpen(true) {}

TnRegisterFactory::~TnRegisterFactory() = default;

void TnRegisterFactory::Open()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mOpen = true;
}

void TnRegisterFactory::Close()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mOpen = false;
}

TnResult TnRegisterFactory::AddChecked(const TnRegisterSpec &aSpec)
{
    if (!mOpen)
    {
        return Failure(TN_STATE_ERROR, "registers are added only while the device starts");
    }
    const uint64_t lEnd = static_cast<uint64_t>(aSpec.mAddress) + aSpec.mLength;
    if (aSpec.mAddress < kBootstrapEnd || lEnd > kDeviceRangeBegin)
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
    TnRegisterSpec lSpec;
    lSpec.mName = tn::ToString(aName);
    lSpec.mAddress = aAddress;
    lSpec.mLength = aLength;
    lSpec.mAccessMode = aAccessMode;
    lSpec.mByteArray = aByteArray;
    lSpec.mSink = aSink;
    lSpec.mContext = aContext;
    return lSpec;
}
} // namespace

TnResult TnRegisterFactory::AddRegister(const TnString &aName, uint32_t aAddress, uint32_t aLength,
                                        TnGenAccessMode aAccessMode, ITnRegisterEventSink *aRegisterEventSink,
                                        void *aContext)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return AddChecked(ProgramSpec(aName, aAddress, aLength, aAccessMode, false, aRegisterEventSink, aContext));
}

TnResult TnRegisterFactory::AddByteArray(const TnString &aName, uint32_t aAddress, uint32_t aLength,
                                         TnGenAccessMode aAccessMode, ITnRegisterEventSink *aRegisterEventSink,
                                         void *aContext)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return AddChecked(ProgramSpec(aName, aAddress, aLength, aAccessMode, true, aRegisterEventSink, aContext));
}

TnResult TnRegisterFactory::AddRegisterAuto(const TnString &aName, uint32_t &aAssignedAddress, uint32_t aLength,
                                            TnGenAccessMode aAccessMode, ITnRegisterEventSink *aRegisterEventSink,
                                            void *aContext)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    TnRegisterSpec lSpec = ProgramSpec(aName, 0, aLength, aAccessMode, false, aRegisterEventSink, aContext);
    if (aLength != 4 && aLength != 8)
    {
        return Failure(TN_GENERIC_ERROR, "register '" + lSpec.mName + "': a plain register cannot have " +
                                             std::to_string(aLength) + " bytes");
    }
    if (!mMap.FindFree(kAutoRangeBegin, kAutoRangeEnd, aLength, lSpec.mAddress))
    {
        return Failure(TN_GENERIC_ERROR, "register '" + lSpec.mName + "': no room is left for it");
    }
    TnResult lResult = AddChecked(lSpec);
    if (lResult.IsOK())
    {
        aAssignedAddress = lSpec.mAddress;
    }
    return lResult;
}
} // namespace softdevice
} // namespace tn
