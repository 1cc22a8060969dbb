// The software device's own registers and standard features.
#include "TnStandardFeatures.h"

#include <algorithm>

#include "TnCheckedSize.h"
#include "TnGvcp.h"
#include "TnSoftDeviceLog.h"
#include "TnText.h"

namespace tn
{
namespace softdevice
{
namespace
{
const char kDeviceControl[] = "DeviceControl";
const char kImageFormat[] = "ImageFormatControl";
const char kAcquisition[] = "AcquisitionControl";
const char kTransport[] = "TransportLayerControl";
const char kUserSets[] = "UserSetControl";
const char kChunks[] = "ChunkDataControl";
const char kSourceControl[] = "SourceControl";

/// Adds registers one after the other, stopping at the first failure.
class Adder
{
public:
    Adder(TnRegisterMap &aMap, ITnRegisterEventSink *aSink) : mMap(aMap), mSink(aSink) {}

    TnRegister *Add(const std::string &aName, uint32_t aAddress, uint32_t aLength, TnGenAccessMode aAccess,
                    bool aByteArray = false)
    {
        if (!mResult.IsOK())
        {
            return nullptr;
        }
        TnRegisterSpec lSpec;
        lSpec.mName = aName;
        lSpec.mAddress = aAddress;
        lSpec.mLength = aLength;
        lSpec.mAccessMode = aAccess;
        lSpec.mByteArray = aByteArray || (aLength != 4 && aLength != 8);
        lSpec.mSink = mSink;
        TnRegister *lReg = nullptr;
        mResult = mMap.Add(lSpec, &lReg);
        return lReg;
    }

    TnRegister *Add(const std::string &aName, uint32_t aAddress, uint32_t aLength, TnGenAccessMode aAccess, uint32_t aValue)
    {
        TnRegister *lReg = Add(aName, aAddress, aLength, aAccess);
        if (lReg != nullptr)
        {
            lReg->PokeInt(aValue, aLength - 4);
        }
        return lReg;
    }

    TnRegister *AddText(const std::string &aName, uint32_t aAddress, uint32_t aLength, TnGenAccessMode aAccess,
                        const std::string &aText)
    {
        TnRegister *lReg = Add(aName, aAddress, aLength, aAccess, true);
        if (lReg != nullptr)
        {
            lReg->PokeString(aText);
        }
        return lReg;
    }

    const TnResult &Result() const { return mResult; }

private:
    TnRegisterMap &mMap;
    ITnRegisterEventSink *mSink;
    TnResult mResult;
};

const TnGenAccessMode RO = TnGenAccessModeReadOnly;
const TnGenAccessMode RW = TnGenAccessModeReadWrite;
const TnGenAccessMode WO = TnGenAccessModeWriteOnly;

/// A feature's description, filled by chained calls.
class FeatureBuilder
{
public:
    FeatureBuilder(FeatureKind aKind, const std::string &aName, const char *aCategory, int aOwner = -1)
    {
        mSpec.mKind = aKind;
        mSpec.mName = aName;
        mSpec.mCategory = aCategory != nullptr ? aCategory : "";
        mSpec.mOwner = aOwner;
        mSpec.mNameSpace = TnGenNameSpaceStandard;
        mSpec.mCache = TnGenCacheNone;
    }

    /// The value lies in a register (or a bit field of it).
    FeatureBuilder &Register(const TnRegister *aRegister, int aLowBit = -1, int aHighBit = -1)
    {
        mSpec.mHasRegister = true;
        RegisterBinding &lBinding = mSpec.mRegister;
        lBinding.mAddress = aRegister->GetAddress();
        lBinding.mLength = static_cast<uint32_t>(aRegister->GetLength());
        lBinding.mReadable = aRegister->IsReadable();
        lBinding.mWritable = aRegister->IsWritable();
        lBinding.mLowBit = aLowBit;
        lBinding.mHighBit = aHighBit < 0 ? aLowBit : aHighBit;
        return *this;
    }

    FeatureBuilder &Limits(int64_t aMin, int64_t aMax, int64_t aInc = 1)
    {
        mSpec.mHasIntLimits = true;
        mSpec.mMin = aMin;
        mSpec.mMax = std::max(aMin, aMax);
        mSpec.mInc = std::max<int64_t>(1, aInc);
        return *this;
    }

    FeatureBuilder &Entry(const std::string &aName, int64_t aValue)
    {
        EnumEntrySpec lEntry;
        lEntry.mName = aName;
        lEntry.mValue = aValue;
        lEntry.mNameSpace = TnGenNameSpaceStandard;
        mSpec.mEntries.push_back(lEntry);
        return *this;
    }

    FeatureBuilder &Text(const std::string &aToolTip)
    {
        mSpec.mToolTip = aToolTip;
        mSpec.mDescription = aToolTip;
        return *this;
    }

    FeatureBuilder &Locked() { mSpec.mTLLocked = true; return *this; }
    FeatureBuilder &Streamable() { mSpec.mStreamable = true; return *this; }
    FeatureBuilder &Visibility(TnGenVisibility aVisibility) { mSpec.mVisibility = aVisibility; return *this; }
    FeatureBuilder &Representation(TnGenRepresentation aRepresentation) { mSpec.mRepresentation = aRepresentation; return *this; }
    FeatureBuilder &Access(TnGenAccessMode aAccess) { mSpec.mAccessMode = aAccess; return *this; }
    FeatureBuilder &Selector(const std::string &aSelector) { mSpec.mSelectors.push_back(aSelector); return *this; }
    FeatureBuilder &Indexed(const std::string &aSelector, uint32_t aOffset)
    {
        mSpec.mRegister.mIndexSelector = aSelector;
        mSpec.mRegister.mIndexOffset = aOffset;
        return *this;
    }
    FeatureBuilder &Unit(const std::string &aUnit) { mSpec.mUnit = aUnit; return *this; }

    const FeatureSpec &Get() const { return mSpec; }

private:
    FeatureSpec mSpec;
};

/// A pixel type's name as an enumeration entry: letters, digits and
/// underscores ("Custom 0x80000001" becomes "Custom_0x80000001").
std::string EntryName(TnPixelType aPixelType)
{
    std::string lName = tn::ToString(TnPixelTypeToString(aPixelType));
    for (char &lC : lName)
    {
        if (!isalnum(static_cast<unsigned char>(lC)) && lC != '_')
        {
            lC = '_';
        }
    }
    if (lName.empty() || !isalpha(static_cast<unsigned char>(lName[0])))
    {
        lName = "Pixel_" + lName;
    }
    return lName;
}

/// A chunk's entry name: its name without the "Chunk" prefix.
std::string ChunkEntryName(const std::string &aName, uint32_t aId)
{
    std::string lName = aName.compare(0, 5, "Chunk") == 0 && aName.size() > 5 ? aName.substr(5) : aName;
    if (!IsFeatureName(lName))
    {
        lName = "Chunk" + std::to_string(aId);
    }
    return lName;
}
} // namespace

TnResult CreateDeviceRegisters(TnRegisterMap &aMap, const TnDeviceIdentity &aIdentity, size_t aSourceCount,
                               ITnRegisterEventSink *aDeviceSink, TnStandardRegisters &aRegisters, bool aRtp)
{
    if (aSourceCount > kMaxSources)
    {
        return Failure(TN_INVALID_PARAMETER, "a device has at most " + std::to_string(kMaxSources) + " sources");
    }
    aRegisters = TnStandardRegisters();
    Adder lAdd(aMap, aDeviceSink);
    const TnDeviceIdentity &lId = aIdentity;

    // The bootstrap block a discovery answer carries, without gaps.
    lAdd.Add("Version", gev::kRegVersion, 4, RO, lId.mGevVersion);
    lAdd.Add("DeviceMode", gev::kRegDeviceMode, 4, RO,
             gev::kDeviceModeBigEndian | (gev::kDeviceClassTransmitter << gev::kDeviceModeClassShift) | 1u);
    lAdd.Add("DeviceMACAddressHigh", gev::kRegMacHigh, 4, RO, static_cast<uint32_t>(lId.mMacAddress >> 32) & 0xFFFF);
    lAdd.Add("DeviceMACAddressLow", gev::kRegMacLow, 4, RO, static_cast<uint32_t>(lId.mMacAddress));
    lAdd.Add("SupportedIPConfiguration", gev::kRegSupportedIPConfig, 4, RO,
             gev::kIPConfigLla | gev::kIPConfigDhcp | gev::kIPConfigPersistent);
    lAdd.Add("CurrentIPConfiguration", gev::kRegCurrentIPConfig, 4, RW, gev::kIPConfigLla | gev::kIPConfigDhcp);
    lAdd.Add("Reserved0018", 0x0018, 12, RO, true);
    lAdd.Add("CurrentIPAddress", gev::kRegCurrentIP, 4, RO, lId.mIPAddress);
    lAdd.Add("Reserved0028", 0x0028, 12, RO, true);
    lAdd.Add("CurrentSubnetMask", gev::kRegCurrentSubnetMask, 4, RO, lId.mSubnetMask);
    lAdd.Add("Reserved0038", 0x0038, 12, RO, true);
    lAdd.Add("CurrentDefaultGateway", gev::kRegCurrentGateway, 4, RO, lId.mGateway);
    lAdd.AddText("ManufacturerName", gev::kRegManufacturerName, gev::kManufacturerNameSize, RO, lId.mManufacturerName);
    lAdd.AddText("ModelName", gev::kRegModelName, gev::kModelNameSize, RO, lId.mModelName);
    lAdd.AddText("DeviceVersion", gev::kRegDeviceVersion, gev::kDeviceVersionSize, RO, lId.mDeviceVersion);
    lAdd.AddText("ManufacturerInfo", gev::kRegManufacturerInfo, gev::kManufacturerInfoSize, RO, lId.mManufacturerInfo);
    lAdd.AddText("SerialNumber", gev::kRegSerialNumber, gev::kSerialNumberSize, RO, lId.mSerialNumber);
    aRegisters.mUserDefinedName =
        lAdd.AddText("UserDefinedName", gev::kRegUserDefinedName, gev::kUserDefinedNameSize, RW, lId.mUserDefinedName);
    aRegisters.mFirstUrl = lAdd.AddText("FirstURL", gev::kRegFirstUrl, gev::kUrlSize, RO, "");
    lAdd.AddText("SecondURL", gev::kRegSecondUrl, gev::kUrlSize, RO, "");
    lAdd.Add("NumberOfNetworkInterfaces", gev::kRegNumberOfInterfaces, 4, RO, 1u);
    lAdd.Add("PersistentIPAddress", gev::kRegPersistentIP, 4, RW, 0u);
    lAdd.Add("PersistentSubnetMask", gev::kRegPersistentSubnetMask, 4, RW, 0u);
    lAdd.Add("PersistentDefaultGateway", gev::kRegPersistentGateway, 4, RW, 0u);
    lAdd.Add("NumberOfMessageChannels", gev::kRegNumberOfMessageChannels, 4, RO, 1u);
    lAdd.Add("NumberOfStreamChannels", gev::kRegNumberOfStreamChannels, 4, RO, static_cast<uint32_t>(aSourceCount));
    lAdd.Add("GVCPCapability", gev::kRegGvcpCapability, 4, RO,
             lId.mGvcpCapability != 0
                 ? lId.mGvcpCapability
                 : gev::kCapabilityUserDefinedName | gev::kCapabilityWriteMemory | gev::kCapabilityPacketResend |
                       gev::kCapabilityEvent | gev::kCapabilityEventData | gev::kCapabilityPendingAck);
    aRegisters.mHeartbeatTimeout =
        lAdd.Add("HeartbeatTimeout", gev::kRegHeartbeatTimeout, 4, RW, lId.mHeartbeatTimeout);
    lAdd.Add("TimestampTickFrequencyHigh", gev::kRegTimestampTickFrequencyHigh, 4, RO,
             static_cast<uint32_t>(lId.mTimestampTickFrequency >> 32));
    lAdd.Add("TimestampTickFrequencyLow", gev::kRegTimestampTickFrequencyLow, 4, RO,
             static_cast<uint32_t>(lId.mTimestampTickFrequency));
    aRegisters.mTimestampControl = lAdd.Add("TimestampControl", gev::kRegTimestampControl, 4, WO, 0u);
    aRegisters.mTimestampValueHigh = lAdd.Add("TimestampValueHigh", gev::kRegTimestampValueHigh, 4, RO, 0u);
    aRegisters.mTimestampValueLow = lAdd.Add("TimestampValueLow", gev::kRegTimestampValueLow, 4, RO, 0u);
    lAdd.Add("GVCPConfiguration", gev::kRegGvcpConfiguration, 4, RW, 0u);
    lAdd.Add("PendingTimeout", gev::kRegPendingTimeout, 4, RO, 1000u);
    aRegisters.mControlChannelPrivilege =
        lAdd.Add("ControlChannelPrivilege", gev::kRegControlChannelPrivilege, 4, RW, 0u);
    aRegisters.mMessageChannelPort = lAdd.Add("MessageChannelPort", gev::kRegMessageChannelPort, 4, RW, 0u);
    aRegisters.mMessageChannelDestination =
        lAdd.Add("MessageChannelDestination", gev::kRegMessageChannelDestination, 4, RW, 0u);
    lAdd.Add("MessageChannelTransmissionTimeout", gev::kRegMessageChannelTimeout, 4, RW, 300u);
    lAdd.Add("MessageChannelRetryCount", gev::kRegMessageChannelRetryCount, 4, RW, 2u);
    lAdd.Add("MessageChannelSourcePort", gev::kRegMessageChannelSourcePort, 4, RO, 0u);

    // The device-wide block.
    aRegisters.mTLParamsLocked = lAdd.Add("TLParamsLockedReg", kDeviceRegisters + 0x00, 4, RW, 0u);
    aRegisters.mSourceSelector = lAdd.Add("SourceSelectorReg", kDeviceRegisters + 0x04, 4, RW, 0u);
    aRegisters.mUserSetSelector = lAdd.Add("UserSetSelectorReg", kDeviceRegisters + 0x08, 4, RW, 0u);
    aRegisters.mUserSetLoad = lAdd.Add("UserSetLoadReg", kDeviceRegisters + 0x0C, 4, WO, 0u);
    aRegisters.mUserSetSave = lAdd.Add("UserSetSaveReg", kDeviceRegisters + 0x10, 4, WO, 0u);
    aRegisters.mUserSetDefault = lAdd.Add("UserSetDefaultReg", kDeviceRegisters + 0x14, 4, RW, 0u);
    aRegisters.mDeviceReset = lAdd.Add("DeviceResetReg", kDeviceRegisters + 0x18, 4, WO, 0u);

    for (size_t lIndex = 0; lIndex < aSourceCount; ++lIndex)
    {
        const std::string lN = std::to_string(lIndex);
        const uint32_t lChannel =
            gev::kRegStreamChannelBase + static_cast<uint32_t>(lIndex) * gev::kRegStreamChannelStride;
        const uint32_t lBase = kSourceRegisters + static_cast<uint32_t>(lIndex) * kSourceRegisterStride;
        TnSourceRegisters lS;
        lS.mStreamPort = lAdd.Add("StreamChannelPort" + lN, lChannel + gev::kRegStreamChannelPort, 4, RW, 0u);
        lS.mPacketSize =
            lAdd.Add("StreamChannelPacketSize" + lN, lChannel + gev::kRegStreamChannelPacketSize, 4, RW, 1500u);
        lS.mPacketDelay =
            lAdd.Add("StreamChannelPacketDelay" + lN, lChannel + gev::kRegStreamChannelPacketDelay, 4, RW, 0u);
        lS.mDestination =
            lAdd.Add("StreamChannelDestination" + lN, lChannel + gev::kRegStreamChannelDestination, 4, RW, 0u);
        lS.mSourcePort =
            lAdd.Add("StreamChannelSourcePort" + lN, lChannel + gev::kRegStreamChannelSourcePort, 4, RO, 0u);
        lS.mCapability =
            lAdd.Add("StreamChannelCapability" + lN, lChannel + gev::kRegStreamChannelCapability, 4, RO, 0u);
        lS.mConfiguration =
            lAdd.Add("StreamChannelConfiguration" + lN, lChannel + gev::kRegStreamChannelConfiguration, 4, RW, 0u);
        lS.mWidth = lAdd.Add("Width" + lN, lBase + 0x00, 4, RW, 0u);
        lS.mHeight = lAdd.Add("Height" + lN, lBase + 0x04, 4, RW, 0u);
        lS.mOffsetX = lAdd.Add("OffsetX" + lN, lBase + 0x08, 4, RW, 0u);
        lS.mOffsetY = lAdd.Add("OffsetY" + lN, lBase + 0x0C, 4, RW, 0u);
        lS.mPixelFormat = lAdd.Add("PixelFormat" + lN, lBase + 0x10, 4, RW, 0u);
        lS.mPayloadSize = lAdd.Add("PayloadSize" + lN, lBase + 0x14, 4, RO, 0u);
        lS.mWidthMax = lAdd.Add("WidthMax" + lN, lBase + 0x18, 4, RO, 0u);
        lS.mHeightMax = lAdd.Add("HeightMax" + lN, lBase + 0x1C, 4, RO, 0u);
        lS.mAcquisitionMode = lAdd.Add("AcquisitionMode" + lN, lBase + 0x20, 4, RW, 0u);
        lS.mAcquisitionStart = lAdd.Add("AcquisitionStart" + lN, lBase + 0x24, 4, WO, 0u);
        lS.mAcquisitionStop = lAdd.Add("AcquisitionStop" + lN, lBase + 0x28, 4, WO, 0u);
        lS.mAcquisitionFrameCount = lAdd.Add("AcquisitionFrameCount" + lN, lBase + 0x2C, 4, RW, 1u);
        lS.mChunkModeActive = lAdd.Add("ChunkModeActive" + lN, lBase + 0x30, 4, RW, 0u);
        lS.mChunkSelector = lAdd.Add("ChunkSelector" + lN, lBase + 0x34, 4, RW, 0u);
        lS.mScanType = lAdd.Add("DeviceScanType" + lN, lBase + 0x38, 4, RO, 0u);
        lS.mChunkEnable = lAdd.Add("ChunkEnable" + lN, lBase + 0x100, 4 * kMaxChunks, RW, true);
        if (aRtp)
        {
            lS.mStreamProtocol = lAdd.Add("StreamProtocol" + lN, lBase + 0x3C, 4, RW, 1u);
        }
        aRegisters.mSources.push_back(lS);
    }
    if (!lAdd.Result().IsOK())
    {
        return lAdd.Result();
    }
    for (TnRegister *lCommand : {aRegisters.mUserSetLoad, aRegisters.mUserSetSave, aRegisters.mDeviceReset})
    {
        lCommand->SetSelfClearing(true);
    }
    for (const TnSourceRegisters &lS : aRegisters.mSources)
    {
        lS.mAcquisitionStart->SetSelfClearing(true);
        lS.mAcquisitionStop->SetSelfClearing(true);
    }
    aRegisters.mTimestampControl->SetSelfClearing(true);
    return TnResult(TN_OK);
}

uint32_t ComputePayloadSize(const TnSourceDescription &aSource)
{
    if (aSource.mPayloadSize != 0)
    {
        return aSource.mPayloadSize;
    }
    // A size beyond the register's 32 bits reads as its largest value.
    CheckedSize lSize =
        (CheckedSize(aSource.mWidth) * aSource.mHeight * TnPixelTypeGetBitsPerPixel(aSource.mPixelType)).DividedUp(8);
    if (aSource.mChunkModeActive)
    {
        lSize += CheckedSize(8u) + aSource.mChunksSize; // the image's own chunk tag, then the chunks
    }
    return static_cast<uint32_t>(lSize.Saturated(kMaximumBufferSize));
}

std::vector<FeatureSpec> StandardFeatures(const TnStandardConfig &aConfig, const TnStandardRegisters &aRegisters)
{
    std::vector<FeatureSpec> lFeatures;
    const auto lAdd = [&lFeatures](const FeatureBuilder &aSpec) { lFeatures.push_back(aSpec.Get()); };

    // Identity, from the bootstrap registers.
    struct Text
    {
        const char *mName;
        uint32_t mAddress;
        uint32_t mLength;
        bool mWritable;
        const char *mToolTip;
    };
    const Text lTexts[] = {
        {"DeviceVendorName", gev::kRegManufacturerName, gev::kManufacturerNameSize, false, "The manufacturer's name."},
        {"DeviceModelName", gev::kRegModelName, gev::kModelNameSize, false, "The device's model name."},
        {"DeviceVersion", gev::kRegDeviceVersion, gev::kDeviceVersionSize, false, "The device's version."},
        {"DeviceManufacturerInfo", gev::kRegManufacturerInfo, gev::kManufacturerInfoSize, false,
         "Manufacturer information."},
        {"DeviceSerialNumber", gev::kRegSerialNumber, gev::kSerialNumberSize, false, "The device's serial number."},
        {"DeviceUserID", gev::kRegUserDefinedName, gev::kUserDefinedNameSize, true,
         "A name the user gives the device."}};
    for (const Text &lText : lTexts)
    {
        FeatureSpec lSpec = FeatureBuilder(FeatureKind::String, lText.mName, kDeviceControl).Text(lText.mToolTip).Get();
        lSpec.mHasRegister = true;
        lSpec.mRegister.mAddress = lText.mAddress;
        lSpec.mRegister.mLength = lText.mLength;
        lSpec.mRegister.mWritable = lText.mWritable;
        lFeatures.push_back(lSpec);
    }

    // Registers of the bootstrap space, by address.
    const auto lBoot = [](FeatureKind aKind, const std::string &aName, const char *aCategory, uint32_t aAddress,
                          uint32_t aLength, bool aReadable, bool aWritable, int aLowBit = -1, int aHighBit = -1) {
        FeatureBuilder lSpec(aKind, aName, aCategory);
        FeatureSpec lFeature = lSpec.Get();
        lFeature.mHasRegister = true;
        lFeature.mRegister.mAddress = aAddress;
        lFeature.mRegister.mLength = aLength;
        lFeature.mRegister.mReadable = aReadable;
        lFeature.mRegister.mWritable = aWritable;
        lFeature.mRegister.mLowBit = aLowBit;
        lFeature.mRegister.mHighBit = aHighBit < 0 ? aLowBit : aHighBit;
        lFeature.mVisibility = TnGenVisibilityExpert;
        return lFeature;
    };
    const auto lIp = [&](FeatureSpec aFeature) {
        aFeature.mRepresentation = TnGenRepresentationIPV4Address;
        lFeatures.push_back(aFeature);
    };
    lFeatures.push_back(
        lBoot(FeatureKind::Integer, "GevVersionMajor", kTransport, gev::kRegVersion, 4, true, false, 16, 31));
    lFeatures.push_back(
        lBoot(FeatureKind::Integer, "GevVersionMinor", kTransport, gev::kRegVersion, 4, true, false, 0, 15));
    lFeatures.push_back(
        lBoot(FeatureKind::Boolean, "GevDeviceModeIsBigEndian", kTransport, gev::kRegDeviceMode, 4, true, false, 31));
    {
        FeatureSpec lMac = lBoot(FeatureKind::Integer, "GevMACAddress", kTransport, gev::kRegMacHigh, 8, true, false);
        lMac.mRepresentation = TnGenRepresentationMACAddress;
        lFeatures.push_back(lMac);
    }
    lFeatures.push_back(lBoot(FeatureKind::Boolean, "GevCurrentIPConfigurationPersistentIP", kTransport,
                              gev::kRegCurrentIPConfig, 4, true, true, 0));
    lFeatures.push_back(lBoot(FeatureKind::Boolean, "GevCurrentIPConfigurationDHCP", kTransport,
                              gev::kRegCurrentIPConfig, 4, true, true, 1));
    lFeatures.push_back(lBoot(FeatureKind::Boolean, "GevCurrentIPConfigurationLLA", kTransport,
                              gev::kRegCurrentIPConfig, 4, true, false, 2));
    lIp(lBoot(FeatureKind::Integer, "GevCurrentIPAddress", kTransport, gev::kRegCurrentIP, 4, true, false));
    lIp(lBoot(FeatureKind::Integer, "GevCurrentSubnetMask", kTransport, gev::kRegCurrentSubnetMask, 4, true, false));
    lIp(lBoot(FeatureKind::Integer, "GevCurrentDefaultGateway", kTransport, gev::kRegCurrentGateway, 4, true, false));
    lIp(lBoot(FeatureKind::Integer, "GevPersistentIPAddress", kTransport, gev::kRegPersistentIP, 4, true, true));
    lIp(lBoot(FeatureKind::Integer, "GevPersistentSubnetMask", kTransport, gev::kRegPersistentSubnetMask, 4, true,
              true));
    lIp(lBoot(FeatureKind::Integer, "GevPersistentDefaultGateway", kTransport, gev::kRegPersistentGateway, 4, true,
              true));
    lFeatures.push_back(
        lBoot(FeatureKind::String, "GevFirstURL", kTransport, gev::kRegFirstUrl, gev::kUrlSize, true, false));
    lFeatures.push_back(
        lBoot(FeatureKind::String, "GevSecondURL", kTransport, gev::kRegSecondUrl, gev::kUrlSize, true, false));
    lFeatures.push_back(
        lBoot(FeatureKind::Integer, "GevNumberOfInterfaces", kTransport, gev::kRegNumberOfInterfaces, 4, true, false));
    lFeatures.push_back(lBoot(FeatureKind::Integer, "GevMessageChannelCount", kTransport,
                              gev::kRegNumberOfMessageChannels, 4, true, false));
    lFeatures.push_back(lBoot(FeatureKind::Integer, "GevStreamChannelCount", kTransport,
                              gev::kRegNumberOfStreamChannels, 4, true, false));
    {
        FeatureSpec lHeartbeat =
            lBoot(FeatureKind::Integer, "GevHeartbeatTimeout", kTransport, gev::kRegHeartbeatTimeout, 4, true, true);
        lHeartbeat.mUnit = "ms";
        lHeartbeat.mHasIntLimits = true;
        lHeartbeat.mMin = 500;
        lHeartbeat.mMax = 600000;
        lHeartbeat.mInc = 1;
        lFeatures.push_back(lHeartbeat);
    }
    lFeatures.push_back(lBoot(FeatureKind::Integer, "GevTimestampTickFrequency", kTransport,
                              gev::kRegTimestampTickFrequencyHigh, 8, true, false));
    lFeatures.push_back(lBoot(FeatureKind::Command, "GevTimestampControlLatch", kTransport, gev::kRegTimestampControl,
                              4, false, true, 1));
    lFeatures.push_back(lBoot(FeatureKind::Command, "GevTimestampControlReset", kTransport, gev::kRegTimestampControl,
                              4, false, true, 0));
    lFeatures.push_back(
        lBoot(FeatureKind::Integer, "GevTimestampValue", kTransport, gev::kRegTimestampValueHigh, 8, true, false));
    {
        FeatureSpec lCcp =
            lBoot(FeatureKind::Enumeration, "GevCCP", kTransport, gev::kRegControlChannelPrivilege, 4, true, true);
        for (const auto &lEntry : {std::make_pair("OpenAccess", 0), std::make_pair("ExclusiveAccess", 1),
                                   std::make_pair("ControlAccess", 2)})
        {
            EnumEntrySpec lE;
            lE.mName = lEntry.first;
            lE.mValue = lEntry.second;
            lE.mNameSpace = TnGenNameSpaceStandard;
            lCcp.mEntries.push_back(lE);
        }
        lFeatures.push_back(lCcp);
    }
    lFeatures.push_back(
        lBoot(FeatureKind::Integer, "GevMCPHostPort", kTransport, gev::kRegMessageChannelPort, 4, true, true, 0, 15));
    lIp(lBoot(FeatureKind::Integer, "GevMCDA", kTransport, gev::kRegMessageChannelDestination, 4, true, true));
    lFeatures.push_back(
        lBoot(FeatureKind::Integer, "GevMCTT", kTransport, gev::kRegMessageChannelTimeout, 4, true, true));
    lFeatures.push_back(
        lBoot(FeatureKind::Integer, "GevMCRC", kTransport, gev::kRegMessageChannelRetryCount, 4, true, true));

    // Device-wide controls.
    lAdd(FeatureBuilder(FeatureKind::Command, "DeviceReset", kDeviceControl)
             .Register(aRegisters.mDeviceReset)
             .Text("Resets the device as a power cycle would: control is released, streams stop and the registers "
                   "take their values at start."));
    lAdd(FeatureBuilder(FeatureKind::Integer, "TLParamsLocked", kTransport)
             .Register(aRegisters.mTLParamsLocked)
             .Limits(0, 1)
             .Visibility(TnGenVisibilityInvisible)
             .Text("Locks the transport-layer parameters (image format) while the device streams."));
    const size_t lSources = aRegisters.mSources.size();
    if (lSources > 1)
    {
        FeatureBuilder lSelector(FeatureKind::Enumeration, "SourceSelector", kSourceControl);
        lSelector.Register(aRegisters.mSourceSelector).Text("Selects the source that the image features control.");
        for (size_t lIndex = 0; lIndex < lSources; ++lIndex)
        {
            lSelector.Entry("Source" + std::to_string(lIndex), static_cast<int64_t>(lIndex));
        }
        lAdd(lSelector);
    }
    FeatureBuilder lUserSet(FeatureKind::Enumeration, "UserSetSelector", kUserSets);
    FeatureBuilder lUserSetDefault(FeatureKind::Enumeration, "UserSetDefault", kUserSets);
    lUserSet.Register(aRegisters.mUserSetSelector).Text("Selects the user set to load or save.");
    lUserSetDefault.Register(aRegisters.mUserSetDefault).Text("The user set the device loads when it starts.");
    for (uint32_t lIndex = 0; lIndex <= aConfig.mUserSetCount; ++lIndex)
    {
        const std::string lName = lIndex == 0 ? std::string("Default") : "UserSet" + std::to_string(lIndex);
        lUserSet.Entry(lName, lIndex);
        lUserSetDefault.Entry(lName, lIndex);
    }
    lAdd(lUserSet);
    lAdd(FeatureBuilder(FeatureKind::Command, "UserSetLoad", kUserSets)
             .Register(aRegisters.mUserSetLoad)
             .Selector("UserSetSelector")
             .Text("Loads the selected user set."));
    lAdd(FeatureBuilder(FeatureKind::Command, "UserSetSave", kUserSets)
             .Register(aRegisters.mUserSetSave)
             .Selector("UserSetSelector")
             .Text("Saves the features into the selected user set."));
    lAdd(lUserSetDefault);

    // Per source.
    for (size_t lIndex = 0; lIndex < lSources; ++lIndex)
    {
        const int lOwner = static_cast<int>(lIndex);
        const TnSourceRegisters &lR = aRegisters.mSources[lIndex];
        const TnSourceDescription lSource =
            lIndex < aConfig.mSources.size() ? aConfig.mSources[lIndex] : TnSourceDescription();
        FeatureBuilder lScan(FeatureKind::Enumeration, "DeviceScanType", kDeviceControl, lOwner);
        lScan.Register(lR.mScanType).Entry("Areascan", 0).Entry("Linescan", 1).Text("The kind of scan of the source.");
        lAdd(lScan);
        lAdd(FeatureBuilder(FeatureKind::Integer, "Width", kImageFormat, lOwner)
                 .Register(lR.mWidth)
                 .Limits(lSource.mWidthMin, lSource.mWidthMax, lSource.mWidthInc)
                 .Locked()
                 .Streamable()
                 .Unit("px")
                 .Text("Width of the image."));
        lAdd(FeatureBuilder(FeatureKind::Integer, "Height", kImageFormat, lOwner)
                 .Register(lR.mHeight)
                 .Limits(lSource.mHeightMin, lSource.mHeightMax, lSource.mHeightInc)
                 .Locked()
                 .Streamable()
                 .Unit("px")
                 .Text("Height of the image."));
        lAdd(FeatureBuilder(FeatureKind::Integer, "OffsetX", kImageFormat, lOwner)
                 .Register(lR.mOffsetX)
                 .Limits(0, lSource.mWidthMax - std::min(lSource.mWidthMax, lSource.mWidthMin))
                 .Locked()
                 .Streamable()
                 .Text("Horizontal offset of the image in the sensor."));
        lAdd(FeatureBuilder(FeatureKind::Integer, "OffsetY", kImageFormat, lOwner)
                 .Register(lR.mOffsetY)
                 .Limits(0, lSource.mHeightMax - std::min(lSource.mHeightMax, lSource.mHeightMin))
                 .Locked()
                 .Streamable()
                 .Text("Vertical offset of the image in the sensor."));
        lAdd(FeatureBuilder(FeatureKind::Integer, "WidthMax", kImageFormat, lOwner)
                 .Register(lR.mWidthMax)
                 .Text("The largest width."));
        lAdd(FeatureBuilder(FeatureKind::Integer, "HeightMax", kImageFormat, lOwner)
                 .Register(lR.mHeightMax)
                 .Text("The largest height."));
        FeatureBuilder lPixel(FeatureKind::Enumeration, "PixelFormat", kImageFormat, lOwner);
        lPixel.Register(lR.mPixelFormat).Locked().Streamable().Text("Format of the pixels.");
        std::vector<TnPixelType> lTypes = lSource.mPixelTypes;
        if (std::find(lTypes.begin(), lTypes.end(), lSource.mPixelType) == lTypes.end())
        {
            lTypes.insert(lTypes.begin(), lSource.mPixelType);
        }
        std::vector<std::string> lNames;
        for (TnPixelType lType : lTypes)
        {
            const std::string lName = EntryName(lType);
            if (std::find(lNames.begin(), lNames.end(), lName) == lNames.end())
            {
                lNames.push_back(lName);
                lPixel.Entry(lName, static_cast<uint32_t>(lType));
            }
        }
        lAdd(lPixel);
        lAdd(FeatureBuilder(FeatureKind::Integer, "PayloadSize", kTransport, lOwner)
                 .Register(lR.mPayloadSize)
                 .Unit("B")
                 .Text("Bytes of one block of the stream."));
        if (lR.mGenDCStreamingMode != nullptr)
        {
            lAdd(FeatureBuilder(FeatureKind::Enumeration, "GenDCStreamingMode", kTransport, lOwner)
                     .Register(lR.mGenDCStreamingMode)
                     .Entry("Off", 0)
                     .Entry("On", 1)
                     .Locked()
                     .Streamable()
                     .Text("Sends the source's GenDC containers as GenDC blocks (On) or as raw data (Off)."));
        }
        lAdd(FeatureBuilder(FeatureKind::Enumeration, "AcquisitionMode", kAcquisition, lOwner)
                 .Register(lR.mAcquisitionMode)
                 .Entry("Continuous", 0)
                 .Entry("SingleFrame", 1)
                 .Entry("MultiFrame", 2)
                 .Locked()
                 .Streamable()
                 .Text("How many frames an acquisition takes."));
        lAdd(FeatureBuilder(FeatureKind::Command, "AcquisitionStart", kAcquisition, lOwner)
                 .Register(lR.mAcquisitionStart)
                 .Text("Starts the acquisition."));
        lAdd(FeatureBuilder(FeatureKind::Command, "AcquisitionStop", kAcquisition, lOwner)
                 .Register(lR.mAcquisitionStop)
                 .Text("Stops the acquisition."));
        lAdd(FeatureBuilder(FeatureKind::Integer, "AcquisitionFrameCount", kAcquisition, lOwner)
                 .Register(lR.mAcquisitionFrameCount)
                 .Limits(1, 65535)
                 .Locked()
                 .Streamable()
                 .Text("Frames of a MultiFrame acquisition."));
        const uint32_t lPacketMax = std::max<uint32_t>(576, std::min<uint32_t>(lSource.mPacketSizeMax, 65535) & ~3u);
        lAdd(FeatureBuilder(FeatureKind::Integer, "GevSCPSPacketSize", kTransport, lOwner)
                 .Register(lR.mPacketSize, 0, 15)
                 .Limits(576, lPacketMax, 4)
                 .Unit("B")
                 .Text("Size of the stream's packets, headers included."));
        lAdd(FeatureBuilder(FeatureKind::Boolean, "GevSCPSFireTestPacket", kTransport, lOwner)
                 .Register(lR.mPacketSize, 31)
                 .Visibility(TnGenVisibilityGuru)
                 .Text("Sends one test packet of the packet size."));
        lAdd(FeatureBuilder(FeatureKind::Boolean, "GevSCPSDoNotFragment", kTransport, lOwner)
                 .Register(lR.mPacketSize, 30)
                 .Visibility(TnGenVisibilityGuru)
                 .Text("Sets the do-not-fragment bit of the stream's packets."));
        lAdd(FeatureBuilder(FeatureKind::Integer, "GevSCPHostPort", kTransport, lOwner)
                 .Register(lR.mStreamPort, 0, 15)
                 .Visibility(TnGenVisibilityExpert)
                 .Text("The stream's destination port."));
        lAdd(FeatureBuilder(FeatureKind::Integer, "GevSCDA", kTransport, lOwner)
                 .Register(lR.mDestination)
                 .Representation(TnGenRepresentationIPV4Address)
                 .Visibility(TnGenVisibilityExpert)
                 .Text("The stream's destination address."));
        lAdd(FeatureBuilder(FeatureKind::Integer, "GevSCSP", kTransport, lOwner)
                 .Register(lR.mSourcePort, 0, 15)
                 .Visibility(TnGenVisibilityExpert)
                 .Text("The stream's source port."));
        lAdd(FeatureBuilder(FeatureKind::Integer, "GevSCPD", kTransport, lOwner)
                 .Register(lR.mPacketDelay)
                 .Visibility(TnGenVisibilityExpert)
                 .Text("Delay between the stream's packets, in timestamp ticks."));
        if (lR.mStreamProtocol != nullptr)
        {
            lAdd(FeatureBuilder(FeatureKind::Enumeration, "StreamProtocol", kTransport, lOwner)
                     .Register(lR.mStreamProtocol)
                     .Entry("GVSP", 0)
                     .Entry("RTP", 1)
                     .Text("The protocol of the source's stream: GigE Vision stream packets to the stream channel's "
                           "destination while acquiring, or RTP to the source's multicast group from the device's "
                           "start, announced by SAP (and served over TCP where the device offers it)."));
        }
        if (!lSource.mChunks.empty())
        {
            lAdd(FeatureBuilder(FeatureKind::Boolean, "ChunkModeActive", kChunks, lOwner)
                     .Register(lR.mChunkModeActive)
                     .Locked()
                     .Streamable()
                     .Text("Sends chunks with the images."));
            FeatureBuilder lChunkSelector(FeatureKind::Enumeration, "ChunkSelector", kChunks, lOwner);
            lChunkSelector.Register(lR.mChunkSelector).Text("Selects the chunk that ChunkEnable controls.");
            std::vector<std::string> lChunkNames;
            for (size_t lChunk = 0; lChunk < lSource.mChunks.size() && lChunk < kMaxChunks; ++lChunk)
            {
                const std::string lName = ChunkEntryName(lSource.mChunks[lChunk].second, lSource.mChunks[lChunk].first);
                if (std::find(lChunkNames.begin(), lChunkNames.end(), lName) == lChunkNames.end())
                {
                    lChunkNames.push_back(lName);
                    lChunkSelector.Entry(lName, static_cast<int64_t>(lChunk));
                }
            }
            lAdd(lChunkSelector);
            FeatureSpec lEnable = FeatureBuilder(FeatureKind::Boolean, "ChunkEnable", kChunks, lOwner)
                                      .Register(lR.mChunkEnable)
                                      .Selector("ChunkSelector")
                                      .Indexed("ChunkSelector", 4)
                                      .Locked()
                                      .Text("Sends the selected chunk.")
                                      .Get();
            lEnable.mRegister.mLength = 4; // one 4-byte flag of the array
            lEnable.mStreamable = false;   // the whole array is persisted below
            lFeatures.push_back(lEnable);
        }
    }
    return lFeatures;
}

TnResult BuildDeviceDescription(TnRegisterMap &aMap, const TnStandardConfig &aConfig, TnStandardRegisters &aRegisters,
                                TnGenApiFactory &aFactory, const TnDescriptionInfo &aInfo, std::string &aXml)
{
    aXml.clear();
    for (size_t lIndex = 0; lIndex < aRegisters.mSources.size(); ++lIndex)
    {
        TnSourceRegisters &lR = aRegisters.mSources[lIndex];
        const TnSourceDescription lSource =
            lIndex < aConfig.mSources.size() ? aConfig.mSources[lIndex] : TnSourceDescription();
        lR.mWidth->PokeInt(lSource.mWidth);
        lR.mHeight->PokeInt(lSource.mHeight);
        lR.mOffsetX->PokeInt(lSource.mOffsetX);
        lR.mOffsetY->PokeInt(lSource.mOffsetY);
        lR.mPixelFormat->PokeInt(static_cast<uint32_t>(lSource.mPixelType));
        lR.mPayloadSize->PokeInt(ComputePayloadSize(lSource));
        lR.mWidthMax->PokeInt(lSource.mWidthMax);
        lR.mHeightMax->PokeInt(lSource.mHeightMax);
        lR.mScanType->PokeInt(lSource.mScanType == 1 || lSource.mScanType == 3 ? 1u : 0u);
        lR.mChunkModeActive->PokeInt(lSource.mChunkModeActive ? 1u : 0u);
        lR.mChunkIds.clear();
        for (size_t lChunk = 0; lChunk < lSource.mChunks.size() && lChunk < kMaxChunks; ++lChunk)
        {
            lR.mChunkIds.push_back(lSource.mChunks[lChunk].first);
        }
        if (!lSource.mChunks.empty())
        {
            lR.mChunkEnable->SetPersistence("ChunkEnable" + std::to_string(lIndex), 0);
        }
    }

    std::vector<FeatureSpec> lFeatures = StandardFeatures(aConfig, aRegisters);
    uint64_t lOrder = 0;
    for (FeatureSpec &lFeature : lFeatures)
    {
        const std::shared_ptr<TnRegister> lRegister =
            lFeature.mStreamable && lFeature.mHasRegister ? aMap.Find(lFeature.mRegister.mAddress) : nullptr;
        if (lRegister != nullptr)
        {
            lRegister->SetPersistence(lFeature.mName, ++lOrder);
        }
    }
    for (FeatureSpec &lFeature : aFactory.GetFeatures())
    {
        lFeatures.push_back(lFeature);
    }
    TnDescriptionInfo lInfo = aInfo;
    lInfo.mSourceCount = static_cast<int>(aRegisters.mSources.size());
    TnResult lResult = genicam::WriteDescription(lFeatures, aFactory.GetChanges(), lInfo, aXml);
    if (!lResult.IsOK())
    {
        return lResult;
    }

    // The description in device memory, and the first URL pointing at it.
    const uint32_t lLength = static_cast<uint32_t>((aXml.size() + 3) & ~static_cast<size_t>(3));
    TnRegisterSpec lSpec;
    lSpec.mName = "GenICamXML";
    lSpec.mAddress = kXmlAddress;
    lSpec.mLength = lLength;
    lSpec.mAccessMode = TnGenAccessModeReadOnly;
    lSpec.mByteArray = true;
    lResult = aMap.Add(lSpec, &aRegisters.mXml);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    aRegisters.mXml->PokeString(aXml);
    char lUrl[128];
    snprintf(lUrl, sizeof(lUrl), "Local:tarn-softdevice.xml;%X;%X", kXmlAddress, static_cast<unsigned>(aXml.size()));
    aRegisters.mFirstUrl->PokeString(lUrl);
    return TnResult(TN_OK);
}

TnUserSetControl::TnUserSetControl(TnUserSets &aUserSets, const TnStandardRegisters &aRegisters, Notify aNotify)
    : mUserSets(aUserSets), mRegisters(aRegisters), mNotify(std::move(aNotify))
{
}

TnResult TnUserSetControl::PreWrite(ITnRegister *aRegister)
{
    uint32_t lValue = 0;
    if (aRegister == nullptr || !aRegister->ReadInt(lValue).IsOK() || lValue == 0)
    {
        return TnResult(TN_OK);
    }
    const bool lSave = aRegister == mRegisters.mUserSetSave;
    if (!lSave && aRegister != mRegisters.mUserSetLoad)
    {
        return TnResult(TN_OK);
    }
    const uint32_t lIndex = mRegisters.mUserSetSelector->PeekInt();
    if (lSave && lIndex == 0)
    {
        return Failure(TN_STATE_ERROR, "the default user set cannot be saved");
    }
    if (mNotify)
    {
        Guarded("user-set notification", [&] { mNotify(lSave, false, lIndex); });
    }
    TnResult lResult = lSave ? mUserSets.Save(lIndex) : mUserSets.Load(lIndex);
    if (mNotify)
    {
        Guarded("user-set notification", [&] { mNotify(lSave, true, lIndex); });
    }
    return lResult;
}
} // namespace softdevice
} // namespace tn
