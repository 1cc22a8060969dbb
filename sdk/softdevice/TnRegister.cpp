// The software device's register.
#include "TnRegister.h"

#include <string.h>

#include <algorithm>

#include "TnGevBytes.h"
#include "TnSoftDeviceLog.h"

void TnSoftDeviceRelease(ITnRegisterEventSink *aSink)
{
    tn::SinkRegistry<ITnRegisterEventSink>::Forget(aSink);
}

ITnRegisterEventSink::~ITnRegisterEventSink()
{
    TnSoftDeviceRelease(this);
}

ITnRegisterInfo::~ITnRegisterInfo() = default;
ITnRegister::~ITnRegister() = default;
ITnRegisterStore::~ITnRegisterStore() = default;

namespace tn
{
namespace softdevice
{
namespace
{
// The registers whose sinks this thread runs now, innermost last.
thread_local std::vector<const TnRegister *> tNotifying;

TnResult OutOfRange(const TnRegister &aRegister, uint32_t aOffset, uint32_t aLength)
{
    return Failure(TN_INVALID_PARAMETER, "register '" + aRegister.GetNameText() + "': " + std::to_string(aLength) +
                                             " bytes at offset " + std::to_string(aOffset) + " reach past its " +
                                             std::to_string(aRegister.GetLength()) + " bytes");
}
} // namespace

// The sinks of one access, each called only while it is still registered.
// Accesses from inside a sink of the same register on the same thread take
// no sinks.
class TnRegister::Notification
{
public:
    explicit Notification(TnRegister &aRegister)
    {
        if (aRegister.NotifyingHere())
        {
            return;
        }
        mSinks = aRegister.mSinks.Snapshot();
        if (!mSinks.empty())
        {
            tNotifying.push_back(&aRegister);
        }
    }

    ~Notification()
    {
        if (!mSinks.empty())
        {
            tNotifying.pop_back();
        }
    }

    const std::vector<ITnRegisterEventSink *> &Sinks() const { return mSinks; }

private:
    std::vector<ITnRegisterEventSink *> mSinks;
};

void TnRegisterUse::AwaitIdle()
{
    const std::thread::id lSelf = std::this_thread::get_id();
    std::unique_lock<std::mutex> lLock(mMutex);
    mIdle.wait(lLock, [&] {
        return std::all_of(mAccessing.begin(), mAccessing.end(),
                           [&](std::thread::id aThread) { return aThread == lSelf; });
    });
}

TnRegisterUse::Scope::Scope(TnRegisterUse *aUse) : mUse(aUse), mMark(aUse != nullptr ? aUse->mOwner : nullptr)
{
    if (mUse != nullptr)
    {
        std::lock_guard<std::mutex> lLock(mUse->mMutex);
        mUse->mAccessing.push_back(std::this_thread::get_id());
    }
}

TnRegisterUse::Scope::~Scope()
{
    if (mUse != nullptr)
    {
        std::lock_guard<std::mutex> lLock(mUse->mMutex);
        std::vector<std::thread::id> &lAccessing = mUse->mAccessing;
        lAccessing.erase(std::find(lAccessing.begin(), lAccessing.end(), std::this_thread::get_id()));
        mUse->mIdle.notify_all();
    }
}

TnRegister::TnRegister(const std::string &aName, uint32_t aAddress, uint32_t aLength, bool aReadable, bool aWritable,
                       bool aByteArray, void *aContext)
    : mName(aName.c_str()), mNameText(aName), mAddress(aAddress), mLength(aLength), mReadable(aReadable),
      mWritable(aWritable), mByteArray(aByteArray), mContext(aContext), mData(aLength, 0), mRetired(false),
      mSelfClearing(false), mPersistent(false), mPersistOrder(0)
{
}

TnRegister::~TnRegister() = default;

bool TnRegister::InRange(uint32_t aOffset, uint32_t aLength) const
{
    return static_cast<uint64_t>(aOffset) + aLength <= mLength;
}

bool TnRegister::NotifyingHere() const
{
    return std::find(tNotifying.begin(), tNotifying.end(), this) != tNotifying.end();
}

TnResult TnRegister::RetiredFailure(const char *aWhat) const
{
    return Failure(TN_STATE_ERROR, "register '" + mNameText + "': the device stopped, " + aWhat);
}

bool TnRegister::IsRetired() const
{
    std::lock_guard<std::mutex> lLock(mSinkMutex);
    return mRetired;
}

void TnRegister::Retire()
{
    {
        std::lock_guard<std::mutex> lLock(mSinkMutex);
        mRetired = true;
    }
    mSinks.Clear();
}

TnResult TnRegister::EndedFailure(bool aWrite) const
{
    return Failure(TN_ABORTED, "register '" + mNameText + "': the device was destroyed during the " +
                                   (aWrite ? "write" : "read"));
}

TnResult TnRegister::NotifyPre(bool aWrite, const std::vector<ITnRegisterEventSink *> &aSinks,
                               const TnRegisterUse::Scope &aAccess)
{
    for (ITnRegisterEventSink *lSink : aSinks)
    {
        if (aAccess.OwnerEnds())
        {
            return EndedFailure(aWrite);
        }
        // A sink removed meanwhile is not asked.
        const TnResult lOK(TN_OK);
        TnResult lResult =
            aWrite ? GuardedResult(
                         mSinks, lSink, "ITnRegisterEventSink::PreWrite", [&] { return lSink->PreWrite(this); }, lOK)
                   : GuardedResult(
                         mSinks, lSink, "ITnRegisterEventSink::PreRead", [&] { return lSink->PreRead(this); }, lOK);
        if (!lResult.IsOK())
        {
            if (!lResult.HasDescription())
            {
                lResult.SetDescription(
                    TnString(("register '" + mNameText + "': the " +
                              (aWrite ? std::string("write") : std::string("read")) + " was refused by an event sink")
                                 .c_str()));
            }
            return lResult;
        }
    }
    return TnResult(TN_OK);
}

void TnRegister::NotifyPost(bool aWrite, const std::vector<ITnRegisterEventSink *> &aSinks,
                            const TnRegisterUse::Scope &aAccess)
{
    for (ITnRegisterEventSink *lSink : aSinks)
    {
        if (aAccess.OwnerEnds())
        {
            return;
        }
        if (aWrite)
        {
            Guarded(mSinks, lSink, "ITnRegisterEventSink::PostWrite", [&] { lSink->PostWrite(this); });
        }
        else
        {
            Guarded(mSinks, lSink, "ITnRegisterEventSink::PostRead", [&] { lSink->PostRead(this); });
        }
    }
}

TnResult TnRegister::Read(uint32_t aOffset, uint8_t *aData, uint32_t aLength)
{
    const TnRegisterUse::Scope lAccess(mUse);
    if (!InRange(aOffset, aLength))
    {
        return OutOfRange(*this, aOffset, aLength);
    }
    if (aLength > 0 && aData == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': no memory to read into");
    }
    Notification lNotification(*this);
    const std::vector<ITnRegisterEventSink *> &lSinks = lNotification.Sinks();
    if (lSinks.empty())
    {
        Peek(aOffset, aData, aLength);
        return TnResult(TN_OK);
    }
    TnResult lResult = NotifyPre(false, lSinks, lAccess);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    Peek(aOffset, aData, aLength);
    NotifyPost(false, lSinks, lAccess);
    return lAccess.OwnerEnds() ? EndedFailure(false) : TnResult(TN_OK);
}

TnResult TnRegister::WriteAt(uint32_t aOffset, const uint8_t *aData, uint32_t aLength)
{
    const TnRegisterUse::Scope lAccess(mUse);
    if (!InRange(aOffset, aLength))
    {
        return OutOfRange(*this, aOffset, aLength);
    }
    if (aLength > 0 && aData == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': no data to write");
    }
    if (IsRetired())
    {
        return RetiredFailure("it is no longer written");
    }
    Notification lNotification(*this);
    const std::vector<ITnRegisterEventSink *> &lSinks = lNotification.Sinks();
    std::vector<uint8_t> lFormer(aLength);
    {
        std::lock_guard<std::mutex> lLock(mDataMutex);
        if (aLength > 0)
        {
            memcpy(lFormer.data(), &mData[aOffset], aLength);
            memcpy(&mData[aOffset], aData, aLength);
        }
    }
    if (lSinks.empty())
    {
        if (mSelfClearing)
        {
            std::lock_guard<std::mutex> lLock(mDataMutex);
            std::fill(mData.begin(), mData.end(), 0);
        }
        return TnResult(TN_OK);
    }
    TnResult lResult = NotifyPre(true, lSinks, lAccess);
    if (!lResult.IsOK())
    {
        // The former value comes back unless another write changed it since.
        std::lock_guard<std::mutex> lLock(mDataMutex);
        if (aLength > 0 && memcmp(&mData[aOffset], aData, aLength) == 0)
        {
            memcpy(&mData[aOffset], lFormer.data(), aLength);
        }
        return lResult;
    }
    NotifyPost(true, lSinks, lAccess);
    if (mSelfClearing)
    {
        std::lock_guard<std::mutex> lLock(mDataMutex);
        std::fill(mData.begin(), mData.end(), 0);
    }
    return lAccess.OwnerEnds() ? EndedFailure(true) : TnResult(TN_OK);
}

bool TnRegister::Peek(uint32_t aOffset, uint8_t *aData, uint32_t aLength) const
{
    if (!InRange(aOffset, aLength))
    {
        return false;
    }
    std::lock_guard<std::mutex> lLock(mDataMutex);
    if (aLength > 0)
    {
        memcpy(aData, &mData[aOffset], aLength);
    }
    return true;
}

bool TnRegister::Poke(uint32_t aOffset, const uint8_t *aData, uint32_t aLength)
{
    if (!InRange(aOffset, aLength))
    {
        return false;
    }
    std::lock_guard<std::mutex> lLock(mDataMutex);
    if (aLength > 0)
    {
        memcpy(&mData[aOffset], aData, aLength);
    }
    return true;
}

std::vector<uint8_t> TnRegister::Content() const
{
    std::lock_guard<std::mutex> lLock(mDataMutex);
    return mData;
}

uint32_t TnRegister::PeekInt(uint32_t aOffset) const
{
    uint8_t lBytes[4] = {0, 0, 0, 0};
    Peek(aOffset, lBytes, 4);
    return gev::GetU32(lBytes);
}

void TnRegister::PokeInt(uint32_t aValue, uint32_t aOffset)
{
    uint8_t lBytes[4];
    gev::PutU32(lBytes, aValue);
    Poke(aOffset, lBytes, 4);
}

void TnRegister::PokeString(const std::string &aValue)
{
    std::vector<uint8_t> lBytes(mLength, 0);
    memcpy(lBytes.data(), aValue.data(), std::min<size_t>(aValue.size(), mLength));
    Poke(0, lBytes.data(), mLength);
}

void TnRegister::SetPersistence(const std::string &aFeatureName, uint64_t aOrder)
{
    if (!mPersistent)
    {
        mPersistent = true;
        mFeatureName = aFeatureName;
        mPersistOrder = aOrder;
    }
}

TnResult TnRegister::ReadBytes(uint8_t *aData, uint32_t aDataLength, uint32_t aOffset)
{
    return Read(aOffset, aData, aDataLength);
}

TnResult TnRegister::Write(const uint8_t *aData, uint32_t aDataLength, uint32_t aOffset)
{
    return WriteAt(aOffset, aData, aDataLength);
}

TnResult TnRegister::ReadInt(uint32_t &aValue, uint32_t aOffset)
{
    uint8_t lBytes[4];
    TnResult lResult = Read(aOffset, lBytes, 4);
    if (lResult.IsOK())
    {
        aValue = gev::GetU32(lBytes);
    }
    return lResult;
}

TnResult TnRegister::Write(uint32_t aValue, uint32_t aOffset)
{
    uint8_t lBytes[4];
    gev::PutU32(lBytes, aValue);
    return WriteAt(aOffset, lBytes, 4);
}

TnResult TnRegister::ReadString(TnString &aValue)
{
    std::vector<uint8_t> lBytes(mLength);
    TnResult lResult = Read(0, lBytes.data(), mLength);
    if (lResult.IsOK())
    {
        const auto lEnd = std::find(lBytes.begin(), lBytes.end(), 0);
        const std::string lText(lBytes.begin(), lEnd);
        aValue = TnString(lText.c_str(), static_cast<unsigned int>(lText.size()));
    }
    return lResult;
}

TnResult TnRegister::Write(const TnString &aValue)
{
    const char *lText = aValue.GetAscii();
    const size_t lSize = lText != nullptr ? strlen(lText) : 0;
    if (lSize > mLength)
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': a string of " + std::to_string(lSize) +
                                                 " bytes does not fit its " + std::to_string(mLength) + " bytes");
    }
    std::vector<uint8_t> lBytes(mLength, 0);
    if (lSize > 0)
    {
        memcpy(lBytes.data(), lText, lSize);
    }
    return WriteAt(0, lBytes.data(), mLength);
}

TnResult TnRegister::ReadFloat(float &aValue)
{
    if (mLength == 8 && !mByteArray)
    {
        double lValue = 0;
        TnResult lResult = ReadDouble(lValue);
        if (lResult.IsOK())
        {
            aValue = static_cast<float>(lValue);
        }
        return lResult;
    }
    uint8_t lBytes[4];
    TnResult lResult = Read(0, lBytes, 4);
    if (lResult.IsOK())
    {
        const uint32_t lRaw = gev::GetU32(lBytes);
        memcpy(&aValue, &lRaw, sizeof(aValue));
    }
    return lResult;
}

TnResult TnRegister::WriteFloat(float aValue)
{
    if (mLength == 8 && !mByteArray)
    {
        return WriteDouble(aValue);
    }
    uint32_t lRaw;
    memcpy(&lRaw, &aValue, sizeof(lRaw));
    return Write(lRaw, 0);
}

TnResult TnRegister::ReadDouble(double &aValue)
{
    if (mLength == 4)
    {
        float lValue = 0;
        uint8_t lBytes[4];
        TnResult lResult = Read(0, lBytes, 4);
        if (lResult.IsOK())
        {
            const uint32_t lRaw = gev::GetU32(lBytes);
            memcpy(&lValue, &lRaw, sizeof(lValue));
            aValue = lValue;
        }
        return lResult;
    }
    uint8_t lBytes[8];
    TnResult lResult = Read(0, lBytes, 8);
    if (lResult.IsOK())
    {
        const uint64_t lRaw = gev::GetU64(lBytes);
        memcpy(&aValue, &lRaw, sizeof(aValue));
    }
    return lResult;
}

TnResult TnRegister::WriteDouble(double aValue)
{
    if (mLength == 4)
    {
        const float lValue = static_cast<float>(aValue);
        uint32_t lRaw;
        memcpy(&lRaw, &lValue, sizeof(lRaw));
        return Write(lRaw, 0);
    }
    uint64_t lRaw;
    memcpy(&lRaw, &aValue, sizeof(lRaw));
    uint8_t lBytes[8];
    gev::PutU64(lBytes, lRaw);
    return WriteAt(0, lBytes, 8);
}

TnResult TnRegister::AddEventSink(ITnRegisterEventSink *aEventSink)
{
    if (aEventSink == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': no event sink");
    }
    std::lock_guard<std::mutex> lLock(mSinkMutex);
    if (mRetired)
    {
        return RetiredFailure("its event sinks were dropped");
    }
    if (!mSinks.Add(aEventSink))
    {
        return Failure(kSinkRegisteredTwice, "register '" + mNameText + "': the event sink is already registered");
    }
    return TnResult(TN_OK);
}

TnResult TnRegister::RemoveEventSink(ITnRegisterEventSink *aEventSink)
{
    if (IsRetired())
    {
        return RetiredFailure("its event sinks were dropped");
    }
    // Calls of the sink on other threads end before it returns; one this
    // thread runs itself (it is inside it) is not waited for.
    if (!mSinks.Remove(aEventSink))
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': the event sink is not registered");
    }
    return TnResult(TN_OK);
}
} // namespace softdevice
} // namespace tn
