#include "TnDeviceAdapter.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "TnDeviceCore.h"
#include "TnGenParameterArray.h"
#include "TnLog.h"
#include "TnLogDispatch.h"
#include "TnSinkRegistry.h"
#include "TnText.h"

namespace
{
TnResult NotFound(const TnString &aName, const char *aKind)
{
    return tn::Failure(TN_NOT_FOUND,
                       std::string("the device has no ") + aKind + " feature '" + tn::ToString(aName) + "'");
}

template <typename Parameter> Parameter *As(TnGenParameter *aParameter)
{
    return dynamic_cast<Parameter *>(aParameter);
}

bool Check(TnResult (TnGenParameter::*aQuery)(bool &) const, TnGenParameter *aParameter)
{
    bool lAnswer = false;
    return aParameter != nullptr && (aParameter->*aQuery)(lAnswer).IsOK() && lAnswer;
}
} // namespace

namespace tn
{
namespace device
{
struct AdapterState
{
    std::mutex mMutex;
    TnDevice *mDevice = nullptr;
    std::vector<TnGenParameter *> mInvalidators; // parameters this adapter is a sink of
    SinkRegistry<ITnDeviceEventSink> mSinks;
};
} // namespace device
} // namespace tn

ITnDeviceEventSink::~ITnDeviceEventSink() = default;

ITnDeviceAdapter::~ITnDeviceAdapter() = default;

TnDeviceAdapter::TnDeviceAdapter(TnDevice *aDevice) : mState(new tn::device::AdapterState)
{
    mState->mDevice = aDevice;
    if (aDevice != nullptr)
    {
        aDevice->RegisterEventSink(this);
    }
}

TnDeviceAdapter::~TnDeviceAdapter()
{
    std::vector<TnGenParameter *> lInvalidators;
    TnDevice *lDevice = nullptr;
    {
        std::lock_guard<std::mutex> lLock(mState->mMutex);
        lDevice = mState->mDevice;
        lInvalidators.swap(mState->mInvalidators);
    }
    if (lDevice != nullptr)
    {
        // The features stay with the device: they must not call a sink that is gone.
        for (TnGenParameter *lParameter : lInvalidators)
        {
            lParameter->UnregisterEventSink(this);
        }
        lDevice->UnregisterEventSink(this);
    }
    delete mState;
}

TnDevice *TnDeviceAdapter::GetDevice() const
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return mState->mDevice;
}

void TnDeviceAdapter::ForgetDevice()
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    mState->mDevice = nullptr;
    mState->mInvalidators.clear();
}

TnGenParameter *TnDeviceAdapter::Find(const TnString &aParameterName)
{
    // The array found stays until this thread's next lookup, so that a
    // reconnect of the device, which retires it, leaves the parameter in
    // place while this thread uses it.
    thread_local std::shared_ptr<TnGenParameterArray> tArray;
    TnDevice *lDevice = GetDevice();
    tArray = lDevice != nullptr ? lDevice->GetCore()->KeepParameters() : nullptr;
    return tArray != nullptr ? tArray->Get(aParameterName) : nullptr;
}

bool TnDeviceAdapter::IsGenIntegerInNodeMap(const TnString &aParameterName)
{
    return As<TnGenInteger>(Find(aParameterName)) != nullptr;
}

bool TnDeviceAdapter::IsGenEnumInNodeMap(const TnString &aParameterName)
{
    return As<TnGenEnum>(Find(aParameterName)) != nullptr;
}

bool TnDeviceAdapter::IsGenBooleanInNodeMap(const TnString &aParameterName)
{
    return As<TnGenBoolean>(Find(aParameterName)) != nullptr;
}

bool TnDeviceAdapter::IsGenRegisterInNodeMap(const TnString &aParameterName)
{
    return As<TnGenRegister>(Find(aParameterName)) != nullptr;
}

bool TnDeviceAdapter::IsGenReadable(const TnString &aParameterName)
{
    return Check(&TnGenParameter::IsReadable, Find(aParameterName));
}

bool TnDeviceAdapter::IsGenWritable(const TnString &aParameterName)
{
    return Check(&TnGenParameter::IsWritable, Find(aParameterName));
}

bool TnDeviceAdapter::IsGenEnumEntryAvailable(const TnString &aParameterName, const TnString &aEnumEntry)
{
    TnGenEnum *lEnum = As<TnGenEnum>(Find(aParameterName));
    const TnGenEnumEntry *lEntry = nullptr;
    bool lAvailable = false;
    return lEnum != nullptr && lEnum->GetEntryByName(aEnumEntry, &lEntry).IsOK() && lEntry != nullptr &&
           lEntry->IsAvailable(lAvailable).IsOK() && lAvailable;
}

TnResult TnDeviceAdapter::GetGenIntegerValue(const TnString &aParameterName, int64_t &aValue)
{
    TnGenInteger *lInteger = As<TnGenInteger>(Find(aParameterName));
    return lInteger != nullptr ? lInteger->GetValue(aValue) : NotFound(aParameterName, "integer");
}

TnResult TnDeviceAdapter::GetGenEnumEntriesAvailable(const TnString &aParameterName, TnStringList &aList)
{
    TnGenEnum *lEnum = As<TnGenEnum>(Find(aParameterName));
    if (lEnum == nullptr)
    {
        return NotFound(aParameterName, "enumeration");
    }
    int64_t lCount = 0;
    TnResult lResult = lEnum->GetEntriesCount(lCount);
    aList.Clear();
    for (int64_t lIndex = 0; lResult.IsOK() && lIndex < lCount; ++lIndex)
    {
        const TnGenEnumEntry *lEntry = nullptr;
        bool lAvailable = false;
        TnString lName;
        lResult = lEnum->GetEntryByIndex(lIndex, &lEntry);
        if (lResult.IsOK() && lEntry->IsAvailable(lAvailable).IsOK() && lAvailable && lEntry->GetName(lName).IsOK())
        {
            aList.Add(lName);
        }
    }
    return lResult;
}

TnResult TnDeviceAdapter::GetGenEnumValue(const TnString &aParameterName, TnString &aEnumEntry)
{
    TnGenEnum *lEnum = As<TnGenEnum>(Find(aParameterName));
    return lEnum != nullptr ? lEnum->GetValue(aEnumEntry) : NotFound(aParameterName, "enumeration");
}

TnResult TnDeviceAdapter::SetGenEnumValue(const TnString &aParameterName, const TnString &aEnumEntry)
{
    TnGenEnum *lEnum = As<TnGenEnum>(Find(aParameterName));
    return lEnum != nullptr ? lEnum->SetValue(aEnumEntry) : NotFound(aParameterName, "enumeration");
}

TnResult TnDeviceAdapter::GetGenBooleanValue(const TnString &aParameterName, bool &aValue)
{
    TnGenBoolean *lBoolean = As<TnGenBoolean>(Find(aParameterName));
    return lBoolean != nullptr ? lBoolean->GetValue(aValue) : NotFound(aParameterName, "boolean");
}

TnResult TnDeviceAdapter::SetGenBooleanValue(const TnString &aParameterName, bool aValue)
{
    TnGenBoolean *lBoolean = As<TnGenBoolean>(Find(aParameterName));
    return lBoolean != nullptr ? lBoolean->SetValue(aValue) : NotFound(aParameterName, "boolean");
}

TnResult TnDeviceAdapter::GetGenStringValue(const TnString &aParameterName, TnString &aValue)
{
    TnGenString *lString = As<TnGenString>(Find(aParameterName));
    return lString != nullptr ? lString->GetValue(aValue) : NotFound(aParameterName, "string");
}

TnResult TnDeviceAdapter::GetGenRegisterLength(const TnString &aParameterName, int64_t &aLength)
{
    TnGenRegister *lRegister = As<TnGenRegister>(Find(aParameterName));
    return lRegister != nullptr ? lRegister->GetLength(aLength) : NotFound(aParameterName, "register");
}

TnResult TnDeviceAdapter::GetGenRegisterData(const TnString &aParameterName, uint8_t *aBuffer, int64_t aByteCount)
{
    TnGenRegister *lRegister = As<TnGenRegister>(Find(aParameterName));
    return lRegister != nullptr ? lRegister->Get(aBuffer, aByteCount) : NotFound(aParameterName, "register");
}

TnResult TnDeviceAdapter::SetGenRegisterData(const TnString &aParameterName, const uint8_t *aBuffer, int64_t aByteCount)
{
    TnGenRegister *lRegister = As<TnGenRegister>(Find(aParameterName));
    return lRegister != nullptr ? lRegister->Set(aBuffer, aByteCount) : NotFound(aParameterName, "register");
}

TnResult TnDeviceAdapter::RegisterGenInvalidator(const TnString &aParameterName)
{
    TnGenParameter *lParameter = Find(aParameterName);
    if (lParameter == nullptr)
    {
        return NotFound(aParameterName, "any");
    }
    const TnResult lResult = lParameter->RegisterEventSink(this);
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    if (lResult.IsOK() && std::find(mState->mInvalidators.begin(), mState->mInvalidators.end(), lParameter) ==
                              mState->mInvalidators.end())
    {
        mState->mInvalidators.push_back(lParameter);
    }
    return lResult;
}

TnResult TnDeviceAdapter::UnregisterGenInvalidator(const TnString &aParameterName)
{
    TnGenParameter *lParameter = Find(aParameterName);
    if (lParameter == nullptr)
    {
        return NotFound(aParameterName, "any");
    }
    {
        std::lock_guard<std::mutex> lLock(mState->mMutex);
        mState->mInvalidators.erase(std::remove(mState->mInvalidators.begin(), mState->mInvalidators.end(), lParameter),
                                    mState->mInvalidators.end());
    }
    return lParameter->UnregisterEventSink(this);
}

TnResult TnDeviceAdapter::WriteRegister(int64_t aAddress, uint32_t aValue)
{
    if (aAddress % 4 != 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("register addresses are multiples of 4"));
    }
    uint8_t lBytes[4] = {static_cast<uint8_t>(aValue >> 24), static_cast<uint8_t>(aValue >> 16),
                         static_cast<uint8_t>(aValue >> 8), static_cast<uint8_t>(aValue)};
    if (IsUSB3Vision())
    {
        // USB3 Vision registers are little-endian.
        std::swap(lBytes[0], lBytes[3]);
        std::swap(lBytes[1], lBytes[2]);
    }
    return WriteMemory(lBytes, aAddress, 4);
}

TnResult TnDeviceAdapter::ReadRegister(int64_t aAddress, uint32_t &aValue)
{
    if (aAddress % 4 != 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("register addresses are multiples of 4"));
    }
    uint8_t lBytes[4];
    TnResult lResult = ReadMemory(lBytes, aAddress, 4);
    if (lResult.IsOK())
    {
        aValue = IsUSB3Vision() ? (static_cast<uint32_t>(lBytes[3]) << 24) | (static_cast<uint32_t>(lBytes[2]) << 16) |
                                      (static_cast<uint32_t>(lBytes[1]) << 8) | lBytes[0]
                                : (static_cast<uint32_t>(lBytes[0]) << 24) | (static_cast<uint32_t>(lBytes[1]) << 16) |
                                      (static_cast<uint32_t>(lBytes[2]) << 8) | lBytes[3];
    }
    return lResult;
}

TnResult TnDeviceAdapter::WriteMemory(const uint8_t *aBuffer, int64_t aAddress, int64_t aLength)
{
    TnDevice *lDevice = GetDevice();
    if (lDevice == nullptr)
    {
        return TnResult(TN_NOT_CONNECTED, TnString("the adapter has no device"));
    }
    return lDevice->WriteMemory(aAddress, aBuffer, aLength);
}

TnResult TnDeviceAdapter::ReadMemory(uint8_t *aBuffer, int64_t aAddress, int64_t aLength)
{
    TnDevice *lDevice = GetDevice();
    if (lDevice == nullptr)
    {
        return TnResult(TN_NOT_CONNECTED, TnString("the adapter has no device"));
    }
    return lDevice->ReadMemory(aAddress, aBuffer, aLength);
}

TnResult TnDeviceAdapter::WaitForMessagingChannelIdle(uint32_t aTimeout)
{
    TnDevice *lDevice = GetDevice();
    return lDevice != nullptr ? lDevice->WaitForMessagingChannelIdle(aTimeout) : TnResult(TN_NOT_CONNECTED);
}

bool TnDeviceAdapter::IsConnected()
{
    TnDevice *lDevice = GetDevice();
    return lDevice != nullptr && lDevice->IsConnected();
}

bool TnDeviceAdapter::IsVexmoorPowered()
{
    TnDevice *lDevice = GetDevice();
    return lDevice != nullptr && lDevice->IsVexmoorPowered();
}

bool TnDeviceAdapter::IsGigEVision()
{
    TnDevice *lDevice = GetDevice();
    return lDevice != nullptr && lDevice->GetType() == TnDeviceTypeGEV;
}

bool TnDeviceAdapter::IsUSB3Vision()
{
    TnDevice *lDevice = GetDevice();
    return lDevice != nullptr && lDevice->GetType() == TnDeviceTypeU3V;
}

TnResult TnDeviceAdapter::RegisterEventSink(ITnDeviceEventSink *aEventSink)
{
    if (aEventSink == nullptr)
    {
        return tn::Failure(TN_INVALID_PARAMETER, "no event sink was given");
    }
    return mState->mSinks.Add(aEventSink) ? TnResult(TN_OK)
                                          : tn::Failure(tn::kSinkRegisteredTwice, "the event sink is registered already");
}

TnResult TnDeviceAdapter::UnregisterEventSink(ITnDeviceEventSink *aEventSink)
{
    return mState->mSinks.Remove(aEventSink) ? TnResult(TN_OK)
                                             : TnResult(TN_NOT_FOUND, TnString("the event sink is not registered"));
}

TnResult TnDeviceAdapter::GetUniqueID(TnString &aUniqueID)
{
    TnDevice *lDevice = GetDevice();
    return lDevice != nullptr ? lDevice->GetUniqueID(aUniqueID) : TnResult(TN_NOT_CONNECTED);
}

namespace
{
void LogSinkFailure(ITnDeviceEventSink *, const std::exception_ptr &aError)
{
    tn::LibraryLogger("TnDeviceAdapter")
        .LogWarning(__FILE__, __LINE__, "TnDeviceAdapter",
                    (std::string("an adapter event sink failed: ") + tn::DescribeException(aError)).c_str());
}
} // namespace

void TnDeviceAdapter::OnLinkDisconnected(TnDevice *)
{
    mState->mSinks.ForEach([](ITnDeviceEventSink *aSink) { aSink->OnLinkDisconnected(); }, LogSinkFailure);
}

void TnDeviceAdapter::OnEvent(TnDevice *, uint16_t aEventID, uint16_t aChannel, uint64_t aBlockID, uint64_t aTimestamp,
                              const void *aData, uint32_t aDataLength)
{
    mState->mSinks.ForEach(
        [&](ITnDeviceEventSink *aSink) {
            aSink->OnEvent(aEventID, aChannel, aBlockID, aTimestamp, aData, aDataLength);
        },
        LogSinkFailure);
}

void TnDeviceAdapter::OnParameterUpdate(TnGenParameter *aParameter)
{
    TnString lName;
    if (aParameter == nullptr || !aParameter->GetName(lName).IsOK())
    {
        return;
    }
    mState->mSinks.ForEach([&](ITnDeviceEventSink *aSink) { aSink->OnParameterUpdate(lName); }, LogSinkFailure);
}
