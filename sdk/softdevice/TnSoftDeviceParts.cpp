// What the software device hands out (information, message channel) and the
// public class over it.
#include <ctype.h>
#include <string.h>

#include "TnGevAddress.h"
#include "TnGvcp.h"
#include "TnSoftDevice.h"
#include "TnSoftDeviceGEV.h"
#include "TnSoftDeviceLog.h"
#include "TnText.h"

namespace tn
{
namespace softdevice
{
namespace
{
bool IsGuid(const std::string &aText)
{
    static const size_t kGroups[] = {8, 4, 4, 4, 12};
    size_t lAt = 0;
    for (size_t lGroup = 0; lGroup < 5; ++lGroup)
    {
        for (size_t lDigit = 0; lDigit < kGroups[lGroup]; ++lDigit, ++lAt)
        {
            if (lAt >= aText.size() || !isxdigit(static_cast<unsigned char>(aText[lAt])))
            {
                return false;
            }
        }
        if (lGroup < 4 && (lAt >= aText.size() || aText[lAt++] != '-'))
        {
            return false;
        }
    }
    return lAt == aText.size();
}
} // namespace

// Information.

TnSoftDeviceInfo::TnSoftDeviceInfo(TnSoftDevice &aDevice) : mDevice(aDevice)
{
    const TnDeviceIdentity lDefaults;
    const TnDescriptionInfo lDescription;
    const std::string lTexts[FieldCount] = {lDefaults.mManufacturerName, lDefaults.mModelName, lDefaults.mDeviceVersion,
                                            "1.0", lDefaults.mManufacturerInfo, lDefaults.mSerialNumber,
                                            lDescription.mProductGuid, lDescription.mVersionGuid, "", ""};
    for (int lField = 0; lField < FieldCount; ++lField)
    {
        mTexts[lField].emplace_back(new TnString(lTexts[lField].c_str()));
    }
}

const TnString &TnSoftDeviceInfo::Get(Field aField)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return *mTexts[aField].back();
}

TnResult TnSoftDeviceInfo::Set(Field aField, const TnString &aValue, size_t aMaxLength)
{
    const std::string lText = tn::ToString(aValue);
    if (lText.size() > aMaxLength)
    {
        return Failure(TN_INVALID_PARAMETER, "at most " + std::to_string(aMaxLength) + " characters");
    }
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (tn::ToString(*mTexts[aField].back()) != lText)
        {
            mTexts[aField].emplace_back(new TnString(lText.c_str()));
        }
    }
    // A running device shows the new text at once.
    static const uint32_t kAddresses[] = {gev::kRegManufacturerName, gev::kRegModelName, gev::kRegDeviceVersion,
                                          0x3FFF0100, gev::kRegManufacturerInfo, gev::kRegSerialNumber};
    if (aField < ProductGuid)
    {
        TnRegister *lRegister = mDevice.IdentityRegister(kAddresses[aField]);
        if (lRegister != nullptr)
        {
            lRegister->PokeString(lText);
        }
    }
    return TnResult(TN_OK);
}

const TnString &TnSoftDeviceInfo::GetManufacturerName() { return Get(Manufacturer); }
const TnString &TnSoftDeviceInfo::GetModelName() { return Get(Model); }
const TnString &TnSoftDeviceInfo::GetDeviceVersion() { return Get(Version); }
const TnString &TnSoftDeviceInfo::GetDeviceFirmwareVersion() { return Get(Firmware); }
const TnString &TnSoftDeviceInfo::GetManufacturerInformation() { return Get(Information); }
const TnString &TnSoftDeviceInfo::GetSerialNumber() { return Get(Serial); }
TnResult TnSoftDeviceInfo::SetManufacturerName(const TnString &aValue) { return Set(Manufacturer, aValue, 31); }
TnResult TnSoftDeviceInfo::SetModelName(const TnString &aValue) { return Set(Model, aValue, 31); }
TnResult TnSoftDeviceInfo::SetDeviceVersion(const TnString &aValue) { return Set(Version, aValue, 31); }
TnResult TnSoftDeviceInfo::SetDeviceFirmwareVersion(const TnString &aValue) { return Set(Firmware, aValue, 31); }
TnResult TnSoftDeviceInfo::SetManufacturerInformation(const TnString &aValue) { return Set(Information, aValue, 47); }
TnResult TnSoftDeviceInfo::SetSerialNumber(const TnString &aValue) { return Set(Serial, aValue, 15); }

uint16_t TnSoftDeviceInfo::GetGenICamXMLVersionMajor() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mXmlVersion[0];
}

uint16_t TnSoftDeviceInfo::GetGenICamXMLVersionMinor() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mXmlVersion[1];
}

uint16_t TnSoftDeviceInfo::GetGenICamXMLVersionSubMinor() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mXmlVersion[2];
}

const TnString &TnSoftDeviceInfo::GetGenICamXMLProductGUID() { return Get(ProductGuid); }
const TnString &TnSoftDeviceInfo::GetGenICamXMLVersionGUID() { return Get(VersionGuid); }

const TnString &TnSoftDeviceInfo::GetGenICamXMLRegDescModelName()
{
    bool lSet;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lSet = mRegDescSet[0];
    }
    return lSet ? Get(RegDescModel) : GetModelName();
}

const TnString &TnSoftDeviceInfo::GetGenICamXMLRegDescVendorName()
{
    bool lSet;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lSet = mRegDescSet[1];
    }
    return lSet ? Get(RegDescVendor) : GetManufacturerName();
}

TnResult TnSoftDeviceInfo::SetGenICamXMLVersion(uint16_t aMajor, uint16_t aMinor, uint16_t aSubMinor)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mXmlBuilt)
    {
        return Failure(TN_STATE_ERROR, "the GenICam XML is built already");
    }
    mXmlVersion[0] = aMajor;
    mXmlVersion[1] = aMinor;
    mXmlVersion[2] = aSubMinor;
    return TnResult(TN_OK);
}

TnResult TnSoftDeviceInfo::SetGenICamXMLGUIDs(const TnString &aProductGUID, const TnString &aVersionGUID)
{
    const std::string lProduct = tn::ToString(aProductGUID);
    const std::string lVersion = tn::ToString(aVersionGUID);
    if (!IsGuid(lProduct) || !IsGuid(lVersion))
    {
        return Failure(TN_INVALID_PARAMETER, "a GUID is 32 hexadecimal digits grouped 8-4-4-4-12");
    }
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (mXmlBuilt)
        {
            return Failure(TN_STATE_ERROR, "the GenICam XML is built already");
        }
    }
    Set(ProductGuid, aProductGUID, 36);
    return Set(VersionGuid, aVersionGUID, 36);
}

TnResult TnSoftDeviceInfo::SetGenICamXMLRegDescModelName(const TnString &aValue)
{
    TnResult lResult = Set(RegDescModel, aValue, 31);
    if (lResult.IsOK())
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mRegDescSet[0] = true;
    }
    return lResult;
}

TnResult TnSoftDeviceInfo::SetGenICamXMLRegDescVendorName(const TnString &aValue)
{
    TnResult lResult = Set(RegDescVendor, aValue, 31);
    if (lResult.IsOK())
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mRegDescSet[1] = true;
    }
    return lResult;
}

TnDeviceIdentity TnSoftDeviceInfo::Identity() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    TnDeviceIdentity lIdentity;
    lIdentity.mManufacturerName = tn::ToString(*mTexts[Manufacturer].back());
    lIdentity.mModelName = tn::ToString(*mTexts[Model].back());
    lIdentity.mDeviceVersion = tn::ToString(*mTexts[Version].back());
    lIdentity.mManufacturerInfo = tn::ToString(*mTexts[Information].back());
    lIdentity.mSerialNumber = tn::ToString(*mTexts[Serial].back());
    return lIdentity;
}

TnDescriptionInfo TnSoftDeviceInfo::Description() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    TnDescriptionInfo lInfo;
    lInfo.mModelName = tn::ToString(*mTexts[mRegDescSet[0] ? RegDescModel : Model].back());
    lInfo.mVendorName = tn::ToString(*mTexts[mRegDescSet[1] ? RegDescVendor : Manufacturer].back());
    lInfo.mMajorVersion = mXmlVersion[0];
    lInfo.mMinorVersion = mXmlVersion[1];
    lInfo.mSubMinorVersion = mXmlVersion[2];
    lInfo.mProductGuid = tn::ToString(*mTexts[ProductGuid].back());
    lInfo.mVersionGuid = tn::ToString(*mTexts[VersionGuid].back());
    return lInfo;
}

void TnSoftDeviceInfo::SetXmlBuilt(bool aBuilt)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mXmlBuilt = aBuilt;
}

// Message channel.

TnSoftMessageChannel::TnSoftMessageChannel(TnSoftDevice &aDevice) : mDevice(aDevice) {}

bool TnSoftMessageChannel::IsOpened()
{
    if (!mDevice.IsRunning() || !mDevice.HasController())
    {
        return false;
    }
    TnRegister *lPort = mDevice.IdentityRegister(gev::kRegMessageChannelPort);
    TnRegister *lDestination = mDevice.IdentityRegister(gev::kRegMessageChannelDestination);
    return lPort != nullptr && lDestination != nullptr && lPort->PeekInt() != 0 && lDestination->PeekInt() != 0;
}

TnResult TnSoftMessageChannel::FireEvent(uint16_t aEventID, uint64_t aBlockID, uint16_t aChannelIndex)
{
    return Send(aEventID, nullptr, 0, aBlockID, aChannelIndex);
}

TnResult TnSoftMessageChannel::FireEvent(uint16_t aEventID, uint8_t *aData, uint32_t aDataLength, uint64_t aBlockID,
                                         uint16_t aChannelIndex)
{
    if (aData == nullptr || aDataLength == 0 || aDataLength % 4 != 0 || aDataLength > 512)
    {
        return Failure(TN_INVALID_PARAMETER, "event data is 4 to 512 bytes, a multiple of 4");
    }
    return Send(aEventID, aData, aDataLength, aBlockID, aChannelIndex);
}

TnResult TnSoftMessageChannel::Send(uint16_t aEventID, const uint8_t *aData, uint32_t aDataLength, uint64_t aBlockID,
                                    uint16_t aChannelIndex)
{
    if (!IsOpened())
    {
        return Failure(TN_STATE_ERROR, "the message channel is not open");
    }
    TnRegister *lPort = mDevice.IdentityRegister(gev::kRegMessageChannelPort);
    TnRegister *lDestination = mDevice.IdentityRegister(gev::kRegMessageChannelDestination);
    TnRegister *lTimeout = mDevice.IdentityRegister(gev::kRegMessageChannelTimeout);
    TnRegister *lRetries = mDevice.IdentityRegister(gev::kRegMessageChannelRetryCount);
    if (lPort == nullptr || lDestination == nullptr || lTimeout == nullptr || lRetries == nullptr)
    {
        return Failure(TN_STATE_ERROR, "the device is not running");
    }
    const uint32_t lAddress = lDestination->PeekInt();
    const uint16_t lUdpPort = static_cast<uint16_t>(lPort->PeekInt());
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!mClient.IsOpen() || mClient.GetDeviceAddress() != lAddress || mClient.GetDevicePort() != lUdpPort)
    {
        mClient.Close();
        const TnResult lOpened = mClient.Open(lAddress, lUdpPort);
        if (!lOpened.IsOK())
        {
            return lOpened;
        }
    }
    mClient.SetTimeout(std::max<uint32_t>(1, lTimeout->PeekInt()));
    mClient.SetRetryCount(lRetries->PeekInt());
    gev::TnGvcpEvent lEvent;
    lEvent.mEventId = aEventID;
    lEvent.mStreamChannel = aChannelIndex;
    lEvent.mBlockId = static_cast<uint16_t>(aBlockID);
    lEvent.mTimestamp = mDevice.TimestampNow();
    std::vector<uint8_t> lCommand = aData != nullptr ? gev::BuildEventDataCmd(0, lEvent, aData, aDataLength)
                                                     : gev::BuildEventCmd(0, std::vector<gev::TnGvcpEvent>{lEvent});
    const uint64_t lRetriesBefore = mClient.GetStatistics().mRetries;
    std::vector<uint8_t> lAnswer;
    gev::TnGvcpAck lAck;
    const TnResult lResult =
        mClient.Transact(lCommand, aData != nullptr ? gev::kGvcpEventDataAck : gev::kGvcpEventAck, lAnswer, lAck);
    TnSoftDeviceStatistics &lCounters = mDevice.Counters();
    lCounters.Add(aData != nullptr ? TnSoftDeviceStatistics::EventDatas : TnSoftDeviceStatistics::Events);
    const uint64_t lRetried = mClient.GetStatistics().mRetries - lRetriesBefore;
    lCounters.Add(TnSoftDeviceStatistics::EventRetries, lRetried);
    lCounters.Max(TnSoftDeviceStatistics::EventRetriesMax, lRetried);
    return lResult;
}
} // namespace softdevice
} // namespace tn

// The public class.

using tn::softdevice::TnSoftDevice;

TnSoftDeviceGEV::TnSoftDeviceGEV() : mImpl(new TnSoftDevice(this)) {}

TnSoftDeviceGEV::~TnSoftDeviceGEV()
{
    if (mImpl->IsInherited())
    {
        return; // the parent's: its threads are not in this process
    }
    TnSoftDevice::Destroy(mImpl);
}

TnResult TnSoftDeviceGEV::SetUserSetCount(uint32_t aCount)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::SetUserSetCount");
    }
    return mImpl->SetUserSetCount(aCount);
}
TnResult TnSoftDeviceGEV::SetUserSetNotify(ITnUserSetNotify *aNotify)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::SetUserSetNotify");
    }
    return mImpl->SetUserSetNotify(aNotify);
}
TnResult TnSoftDeviceGEV::SetActionHandler(TnVirtualDeviceLib::IActionHandler *aHandler)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::SetActionHandler");
    }
    return mImpl->SetActionHandler(aHandler);
}
TnResult TnSoftDeviceGEV::RegisterEventSink(ITnVirtualDeviceGEVEventSink *aSink)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::RegisterEventSink");
    }
    return mImpl->RegisterEventSink(aSink);
}
TnResult TnSoftDeviceGEV::UnregisterEventSink(ITnVirtualDeviceGEVEventSink *aSink)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::UnregisterEventSink");
    }
    return mImpl->UnregisterEventSink(aSink);
}
TnResult TnSoftDeviceGEV::Start(const TnString &aMACAddress)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::Start");
    }
    return mImpl->Start(aMACAddress);
}
TnResult TnSoftDeviceGEV::Stop()
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::Stop");
    }
    return mImpl->Stop();
}
ITnVirtualDeviceGEVInfo *TnSoftDeviceGEV::GetInfo()
{
    if (mImpl->IsInherited())
    {
        return nullptr;
    }
    return mImpl->GetInfo();
}
ITnRegisterMap *TnSoftDeviceGEV::GetRegisterMap()
{
    if (mImpl->IsInherited())
    {
        return nullptr;
    }
    return mImpl->GetRegisterMap();
}
ITnVirtualDeviceGEVStatistics *TnSoftDeviceGEV::GetStatistics()
{
    if (mImpl->IsInherited())
    {
        return nullptr;
    }
    return mImpl->GetStatistics();
}
ITnMessageChannel *TnSoftDeviceGEV::GetMessagingChannel()
{
    if (mImpl->IsInherited())
    {
        return nullptr;
    }
    return mImpl->GetMessagingChannel();
}
TnResult TnSoftDeviceGEV::GetGenICamXMLFile(TnString &aString) const
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::GetGenICamXMLFile");
    }
    return mImpl->GetGenICamXMLFile(aString);
}
TnResult TnSoftDeviceGEV::AddStream(ITnSWStreamingChannelSource *aSource)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::AddStream");
    }
    return mImpl->AddStream(aSource);
}
TnResult TnSoftDeviceGEV::SetTCPTransportEnabled(bool aEnabled)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::SetTCPTransportEnabled");
    }
    return mImpl->SetFlag(TnSoftDevice::FlagTcp, aEnabled);
}
TnResult TnSoftDeviceGEV::SetRTPProtocolEnabled(bool aEnabled)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::SetRTPProtocolEnabled");
    }
    return mImpl->SetFlag(TnSoftDevice::FlagRtp, aEnabled);
}
TnResult TnSoftDeviceGEV::SetGenDCEnabled(bool aEnabled)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::SetGenDCEnabled");
    }
    return mImpl->SetFlag(TnSoftDevice::FlagGenDC, aEnabled);
}
TnResult TnSoftDeviceGEV::SetStreamTimestamping(bool aEnabled)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnSoftDeviceGEV::SetStreamTimestamping");
    }
    return mImpl->SetStreamTimestamping(aEnabled);
}
