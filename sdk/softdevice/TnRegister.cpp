// The software device's register.
#include "TnRegister.h"

#include <string.h>

#include <algorithm>

#include "TnGevBytes.h"
#include "TnSoftDeviceLog.h"

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

// The sinks of one access, taken with the count of running notifications
// in one step, so that RemoveEventSink can wait for every access that may
// still call a removed sink. Accesses from inside a sink of the same register
// on the same thread take no sinks.
class TnRegister::Notification
{
public:
    explicit Notification(TnRegister &aRegister) : mRegister(aRegister)
    {
        if (mRegister.NotifyingHere())
        {
            return;
        }
        std::lock_guard<std::mutex> lock(mRegister.mSinkMutex);
        if (mRegister.mSinks.empty())
        {
            return;
        }
        mSinks = mRegister.mSinks;
        ++mRegister.mRunning;
        tNotifying.push_back(&mRegister);
    }

    ~Notification()
    {
        if (mSinks.empty())
        {
            return;
        }
        tNotifying.pop_back();
        std::lock_guard<std::mutex> lock(mRegister.mSinkMutex);
        --mRegister.mRunning;
        mRegister.mSinkIdle.notify_all();
    }

    const std::vector<ITnRegisterEventSink *> &Sinks() const { return mSinks; }

private:
    TnRegister &mRegister;
    std::vector<ITnRegisterEventSink *> mSinks;
};

TnRegister::TnRegister(const std::string &aName, uint32_t aAddress, uint32_t aLength, bool aReadable, bool aWritable,
                       bool aByteArray, void *aContext)
    : mName(aName.c_str()), mNameText(aName), mAddress(aAddress), mLength(aLength), mReadable(aReadable),
      mWritable(aWritable), mByteArray(aByteArray), mContext(aContext), mData(aLength, 0), mRunning(0),
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

std::vector<ITnRegisterEventSink *> TnRegister::GetSinks() const
{
    std::lock_guard<std::mutex> lock(mSinkMutex);
    return mSinks;
}

TnResult TnRegister::NotifyPre(bool aWrite, const std::vector<ITnRegisterEventSink *> &aSinks)
{
    for (ITnRegisterEventSink *sink : aSinks)
    {
        TnResult result = aWrite ? GuardedResult("ITnRegisterEventSink::PreWrite", [&] { return sink->PreWrite(this); })
                                 : GuardedResult("ITnRegisterEventSink::PreRead", [&] { return sink->PreRead(this); });
        if (!result.IsOK())
        {
            if (!result.HasDescription())
            {
                result.SetDescription(TnString(("register '" + mNameText + "': the " +
                                                (aWrite ? std::string("write") : std::string("read")) +
                                                " was refused by an event sink")
                                                   .c_str()));
            }
            return result;
        }
    }
    return TnResult(TN_OK);
}

void TnRegister::NotifyPost(bool aWrite, const std::vector<ITnRegisterEventSink *> &aSinks)
{
    for (ITnRegisterEventSink *sink : aSinks)
    {
        if (aWrite)
        {
            Guarded("ITnRegisterEventSink::PostWrite", [&] { sink->PostWrite(this); });
        }
        else
        {
            Guarded("ITnRegisterEventSink::PostRead", [&] { sink->PostRead(this); });
        }
    }
}

TnResult TnRegister::Read(uint32_t aOffset, uint8_t *aData, uint32_t aLength)
{
    if (!InRange(aOffset, aLength))
    {
        return OutOfRange(*this, aOffset, aLength);
    }
    if (aLength > 0 && aData == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': no memory to read into");
    }
    Notification notification(*this);
    const std::vector<ITnRegisterEventSink *> &sinks = notification.Sinks();
    if (sinks.empty())
    {
        Peek(aOffset, aData, aLength);
        return TnResult(TN_OK);
    }
    TnResult result = NotifyPre(false, sinks);
    if (!result.IsOK())
    {
        return result;
    }
    Peek(aOffset, aData, aLength);
    NotifyPost(false, sinks);
    return TnResult(TN_OK);
}

TnResult TnRegister::WriteAt(uint32_t aOffset, const uint8_t *aData, uint32_t aLength)
{
    if (!InRange(aOffset, aLength))
    {
        return OutOfRange(*this, aOffset, aLength);
    }
    if (aLength > 0 && aData == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': no data to write");
    }
    Notification notification(*this);
    const std::vector<ITnRegisterEventSink *> &sinks = notification.Sinks();
    std::vector<uint8_t> former(aLength);
    {
        std::lock_guard<std::mutex> lock(mDataMutex);
        if (aLength > 0)
        {
            memcpy(former.data(), &mData[aOffset], aLength);
            memcpy(&mData[aOffset], aData, aLength);
        }
    }
    if (sinks.empty())
    {
        if (mSelfClearing)
        {
            std::lock_guard<std::mutex> lock(mDataMutex);
            std::fill(mData.begin(), mData.end(), 0);
        }
        return TnResult(TN_OK);
    }
    TnResult result = NotifyPre(true, sinks);
    if (!result.IsOK())
    {
        // The former value comes back unless another write changed it since.
        std::lock_guard<std::mutex> lock(mDataMutex);
        if (aLength > 0 && memcmp(&mData[aOffset], aData, aLength) == 0)
        {
            memcpy(&mData[aOffset], former.data(), aLength);
        }
        return result;
    }
    NotifyPost(true, sinks);
    if (mSelfClearing)
    {
        std::lock_guard<std::mutex> lock(mDataMutex);
        std::fill(mData.begin(), mData.end(), 0);
    }
    return TnResult(TN_OK);
}

bool TnRegister::Peek(uint32_t aOffset, uint8_t *aData, uint32_t aLength) const
{
    if (!InRange(aOffset, aLength))
    {
        return false;
    }
    std::lock_guard<std::mutex> lock(mDataMutex);
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
    std::lock_guard<std::mutex> lock(mDataMutex);
    if (aLength > 0)
    {
        memcpy(&mData[aOffset], aData, aLength);
    }
    return true;
}

std::vector<uint8_t> TnRegister::Content() const
{
    std::lock_guard<std::mutex> lock(mDataMutex);
    return mData;
}

uint32_t TnRegister::PeekInt(uint32_t aOffset) const
{
    uint8_t bytes[4] = {0, 0, 0, 0};
    Peek(aOffset, bytes, 4);
    return gev::GetU32(bytes);
}

void TnRegister::PokeInt(uint32_t aValue, uint32_t aOffset)
{
    uint8_t bytes[4];
    gev::PutU32(bytes, aValue);
    Poke(aOffset, bytes, 4);
}

void TnRegister::PokeString(const std::string &aValue)
{
    std::vector<uint8_t> bytes(mLength, 0);
    memcpy(bytes.data(), aValue.data(), std::min<size_t>(aValue.size(), mLength));
    Poke(0, bytes.data(), mLength);
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
    uint8_t bytes[4];
    TnResult result = Read(aOffset, bytes, 4);
    if (result.IsOK())
    {
        aValue = gev::GetU32(bytes);
    }
    return result;
}

TnResult TnRegister::Write(uint32_t aValue, uint32_t aOffset)
{
    uint8_t bytes[4];
    gev::PutU32(bytes, aValue);
    return WriteAt(aOffset, bytes, 4);
}

TnResult TnRegister::ReadString(TnString &aValue)
{
    std::vector<uint8_t> bytes(mLength);
    TnResult result = Read(0, bytes.data(), mLength);
    if (result.IsOK())
    {
        const auto end = std::find(bytes.begin(), bytes.end(), 0);
        const std::string text(bytes.begin(), end);
        aValue = TnString(text.c_str(), static_cast<unsigned int>(text.size()));
    }
    return result;
}

TnResult TnRegister::Write(const TnString &aValue)
{
    const char *text = aValue.GetAscii();
    const size_t size = text != nullptr ? strlen(text) : 0;
    if (size > mLength)
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': a string of " + std::to_string(size) +
                                                 " bytes does not fit its " + std::to_string(mLength) + " bytes");
    }
    std::vector<uint8_t> bytes(mLength, 0);
    if (size > 0)
    {
        memcpy(bytes.data(), text, size);
    }
    return WriteAt(0, bytes.data(), mLength);
}

TnResult TnRegister::ReadFloat(float &aValue)
{
    if (mLength == 8 && !mByteArray)
    {
        double value = 0;
        TnResult result = ReadDouble(value);
        if (result.IsOK())
        {
            aValue = static_cast<float>(value);
        }
        return result;
    }
    uint8_t bytes[4];
    TnResult result = Read(0, bytes, 4);
    if (result.IsOK())
    {
        const uint32_t raw = gev::GetU32(bytes);
        memcpy(&aValue, &raw, sizeof(aValue));
    }
    return result;
}

TnResult TnRegister::WriteFloat(float aValue)
{
    if (mLength == 8 && !mByteArray)
    {
        return WriteDouble(aValue);
    }
    uint32_t raw;
    memcpy(&raw, &aValue, sizeof(raw));
    return Write(raw, 0);
}

TnResult TnRegister::ReadDouble(double &aValue)
{
    if (mLength == 4)
    {
        float value = 0;
        uint8_t bytes[4];
        TnResult result = Read(0, bytes, 4);
        if (result.IsOK())
        {
            const uint32_t raw = gev::GetU32(bytes);
            memcpy(&value, &raw, sizeof(value));
            aValue = value;
        }
        return result;
    }
    uint8_t bytes[8];
    TnResult result = Read(0, bytes, 8);
    if (result.IsOK())
    {
        const uint64_t raw = gev::GetU64(bytes);
        memcpy(&aValue, &raw, sizeof(aValue));
    }
    return result;
}

TnResult TnRegister::WriteDouble(double aValue)
{
    if (mLength == 4)
    {
        const float value = static_cast<float>(aValue);
        uint32_t raw;
        memcpy(&raw, &value, sizeof(raw));
        return Write(raw, 0);
    }
    uint64_t raw;
    memcpy(&raw, &aValue, sizeof(raw));
    uint8_t bytes[8];
    gev::PutU64(bytes, raw);
    return WriteAt(0, bytes, 8);
}

TnResult TnRegister::AddEventSink(ITnRegisterEventSink *aEventSink)
{
    if (aEventSink == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': no event sink");
    }
    std::lock_guard<std::mutex> lock(mSinkMutex);
    if (std::find(mSinks.begin(), mSinks.end(), aEventSink) != mSinks.end())
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': the event sink is already registered");
    }
    mSinks.push_back(aEventSink);
    return TnResult(TN_OK);
}

TnResult TnRegister::RemoveEventSink(ITnRegisterEventSink *aEventSink)
{
    std::unique_lock<std::mutex> lock(mSinkMutex);
    const auto found = std::find(mSinks.begin(), mSinks.end(), aEventSink);
    if (aEventSink == nullptr || found == mSinks.end())
    {
        return Failure(TN_INVALID_PARAMETER, "register '" + mNameText + "': the event sink is not registered");
    }
    mSinks.erase(found);
    // Notifications that may still call the sink end before it returns,
    // except those this thread runs itself (it is inside one of them).
    const size_t own = static_cast<size_t>(std::count(tNotifying.begin(), tNotifying.end(), this));
    mSinkIdle.wait(lock, [&] { return mRunning <= own; });
    return TnResult(TN_OK);
}
} // namespace softdevice
} // namespace tn
