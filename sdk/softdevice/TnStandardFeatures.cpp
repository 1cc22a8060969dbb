// The software device's own registers and standard features.
#include "TnStandardFeatures.h"

#include <algorithm>

#include "TnGvcp.h"
#include "TnSoftDeviceLog.h"

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
        TnRegisterSpec spec;
        spec.mName = aName;
        spec.mAddress = aAddress;
        spec.mLength = aLength;
        spec.mAccessMode = aAccess;
        spec.mByteArray = aByteArray || (aLength != 4 && aLength != 8);
        spec.mSink = mSink;
        TnRegister *reg = nullptr;
        mResult = mMap.Add(spec, &reg);
        return reg;
    }

    TnRegister *Add(const std::string &aName, uint32_t aAddress, uint32_t aLength, TnGenAccessMode aAccess, uint32_t aValue)
    {
        TnRegister *reg = Add(aName, aAddress, aLength, aAccess);
        if (reg != nullptr)
        {
            reg->PokeInt(aValue, aLength - 4);
        }
        return reg;
    }

    TnRegister *AddText(const std::string &aName, uint32_t aAddress, uint32_t aLength, TnGenAccessMode aAccess,
                        const std::string &aText)
    {
        TnRegister *reg = Add(aName, aAddress, aLength, aAccess, true);
        if (reg != nullptr)
        {
            reg->PokeString(aText);
        }
        return reg;
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
class Spec
{
public:
    Spec(FeatureKind aKind, const std::string &aName, const char *aCategory, int aOwner = -1)
    {
        mSpec.mKind = aKind;
        mSpec.mName = aName;
        mSpec.mCategory = aCategory != nullptr ? aCategory : "";
        mSpec.mOwner = aOwner;
        mSpec.mNameSpace = TnGenNameSpaceStandard;
        mSpec.mDeviceManaged = true;
        mSpec.mCache = TnGenCacheNone;
    }

    /// The value lies in a register (or a bit field of it).
    Spec &Register(const TnRegister *aRegister, int aLowBit = -1, int aHighBit = -1)
    {
        mSpec.mHasRegister = true;
        RegisterBinding &binding = mSpec.mRegister;
        binding.mRegister = const_cast<TnRegister *>(aRegister);
        binding.mAddress = aRegister->GetAddress();
        binding.mLength = static_cast<uint32_t>(aRegister->GetLength());
        binding.mReadable = aRegister->IsReadable();
        binding.mWritable = aRegister->IsWritable();
        binding.mLowBit = aLowBit;
        binding.mHighBit = aHighBit < 0 ? aLowBit : aHighBit;
        return *this;
    }

    Spec &Limits(int64_t aMin, int64_t aMax, int64_t aInc = 1)
    {
        mSpec.mHasIntLimits = true;
        mSpec.mMin = aMin;
        mSpec.mMax = std::max(aMin, aMax);
        mSpec.mInc = std::max<int64_t>(1, aInc);
        return *this;
    }

    Spec &Entry(const std::string &aName, int64_t aValue)
    {
        EnumEntrySpec entry;
        entry.mName = aName;
        entry.mValue = aValue;
        entry.mNameSpace = TnGenNameSpaceStandard;
        mSpec.mEntries.push_back(entry);
        return *this;
    }

    Spec &Text(const std::string &aToolTip)
    {
        mSpec.mToolTip = aToolTip;
        mSpec.mDescription = aToolTip;
        return *this;
    }

    Spec &Locked() { mSpec.mTLLocked = true; return *this; }
    Spec &Streamable() { mSpec.mStreamable = true; return *this; }
    Spec &Visibility(TnGenVisibility aVisibility) { mSpec.mVisibility = aVisibility; return *this; }
    Spec &Representation(TnGenRepresentation aRepresentation) { mSpec.mRepresentation = aRepresentation; return *this; }
    Spec &Access(TnGenAccessMode aAccess) { mSpec.mAccessMode = aAccess; return *this; }
    Spec &Selector(const std::string &aSelector) { mSpec.mSelectors.push_back(aSelector); return *this; }
    Spec &Indexed(const std::string &aSelector, uint32_t aOffset)
    {
        mSpec.mRegister.mIndexSelector = aSelector;
        mSpec.mRegister.mIndexOffset = aOffset;
        return *this;
    }
    Spec &Unit(const std::string &aUnit) { mSpec.mUnit = aUnit; return *this; }

    const FeatureSpec &Get() const { return mSpec; }

private:
    FeatureSpec mSpec;
};

/// A pixel type's name as an enumeration entry: letters, digits and
/// underscores ("Custom 0x80000001" becomes "Custom_0x80000001").
std::string EntryName(TnPixelType aPixelType)
{
    const TnString text = TnPixelTypeToString(aPixelType);
    std::string name = text.GetAscii() != nullptr ? text.GetAscii() : "";
    for (char &c : name)
    {
        if (!isalnum(static_cast<unsigned char>(c)) && c != '_')
        {
            c = '_';
        }
    }
    if (name.empty() || !isalpha(static_cast<unsigned char>(name[0])))
    {
        name = "Pixel_" + name;
    }
    return name;
}

/// A chunk's entry name: its name without the "Chunk" prefix.
std::string ChunkEntryName(const std::string &aName, uint32_t aId)
{
    std::string name = aName.compare(0, 5, "Chunk") == 0 && aName.size() > 5 ? aName.substr(5) : aName;
    if (!IsFeatureName(name))
    {
        name = "Chunk" + std::to_string(aId);
    }
    return name;
}
} // namespace

TnResult CreateDeviceRegisters(TnRegisterMap &aMap, const TnDeviceIdentity &aIdentity, size_t aSourceCount,
                               ITnRegisterEventSink *aDeviceSink, TnStandardRegisters &aRegisters)
{
    if (aSourceCount > kMaxSources)
    {
        return Failure(TN_INVALID_PARAMETER, "a device has at most " + std::to_string(kMaxSources) + " sources");
    }
    aRegisters = TnStandardRegisters();
    Adder add(aMap, aDeviceSink);
    const TnDeviceIdentity &id = aIdentity;

    // The bootstrap block a discovery answer carries, without gaps.
    add.Add("Version", gev::kRegVersion, 4, RO, id.mGevVersion);
    add.Add("DeviceMode", gev::kRegDeviceMode, 4, RO,
            gev::kDeviceModeBigEndian | (gev::kDeviceClassTransmitter << gev::kDeviceModeClassShift) | 1u);
    add.Add("DeviceMACAddressHigh", gev::kRegMacHigh, 4, RO, static_cast<uint32_t>(id.mMacAddress >> 32) & 0xFFFF);
    add.Add("DeviceMACAddressLow", gev::kRegMacLow, 4, RO, static_cast<uint32_t>(id.mMacAddress));
    add.Add("SupportedIPConfiguration", gev::kRegSupportedIPConfig, 4, RO,
            gev::kIPConfigLla | gev::kIPConfigDhcp | gev::kIPConfigPersistent);
    add.Add("CurrentIPConfiguration", gev::kRegCurrentIPConfig, 4, RW, gev::kIPConfigLla | gev::kIPConfigDhcp);
    add.Add("Reserved0018", 0x0018, 12, RO, true);
    add.Add("CurrentIPAddress", gev::kRegCurrentIP, 4, RO, id.mIPAddress);
    add.Add("Reserved0028", 0x0028, 12, RO, true);
    add.Add("CurrentSubnetMask", gev::kRegCurrentSubnetMask, 4, RO, id.mSubnetMask);
    add.Add("Reserved0038", 0x0038, 12, RO, true);
    add.Add("CurrentDefaultGateway", gev::kRegCurrentGateway, 4, RO, id.mGateway);
    add.AddText("ManufacturerName", gev::kRegManufacturerName, gev::kManufacturerNameSize, RO, id.mManufacturerName);
    add.AddText("ModelName", gev::kRegModelName, gev::kModelNameSize, RO, id.mModelName);
    add.AddText("DeviceVersion", gev::kRegDeviceVersion, gev::kDeviceVersionSize, RO, id.mDeviceVersion);
    add.AddText("ManufacturerInfo", gev::kRegManufacturerInfo, gev::kManufacturerInfoSize, RO, id.mManufacturerInfo);
    add.AddText("SerialNumber", gev::kRegSerialNumber, gev::kSerialNumberSize, RO, id.mSerialNumber);
    aRegisters.mUserDefinedName =
        add.AddText("UserDefinedName", gev::kRegUserDefinedName, gev::kUserDefinedNameSize, RW, id.mUserDefinedName);
    aRegisters.mFirstUrl = add.AddText("FirstURL", gev::kRegFirstUrl, gev::kUrlSize, RO, "");
    add.AddText("SecondURL", gev::kRegSecondUrl, gev::kUrlSize, RO, "");
    add.Add("NumberOfNetworkInterfaces", gev::kRegNumberOfInterfaces, 4, RO, 1u);
    add.Add("PersistentIPAddress", gev::kRegPersistentIP, 4, RW, 0u);
    add.Add("PersistentSubnetMask", gev::kRegPersistentSubnetMask, 4, RW, 0u);
    add.Add("PersistentDefaultGateway", gev::kRegPersistentGateway, 4, RW, 0u);
    add.Add("NumberOfMessageChannels", gev::kRegNumberOfMessageChannels, 4, RO, 1u);
    add.Add("NumberOfStreamChannels", gev::kRegNumberOfStreamChannels, 4, RO, static_cast<uint32_t>(aSourceCount));
    add.Add("GVCPCapability", gev::kRegGvcpCapability, 4, RO,
            id.mGvcpCapability != 0 ? id.mGvcpCapability
                                    : gev::kCapabilityUserDefinedName | gev::kCapabilityWriteMemory |
                                          gev::kCapabilityPacketResend | gev::kCapabilityEvent |
                                          gev::kCapabilityEventData | gev::kCapabilityPendingAck);
    aRegisters.mHeartbeatTimeout = add.Add("HeartbeatTimeout", gev::kRegHeartbeatTimeout, 4, RW, id.mHeartbeatTimeout);
    add.Add("TimestampTickFrequencyHigh", gev::kRegTimestampTickFrequencyHigh, 4, RO,
            static_cast<uint32_t>(id.mTimestampTickFrequency >> 32));
    add.Add("TimestampTickFrequencyLow", gev::kRegTimestampTickFrequencyLow, 4, RO,
            static_cast<uint32_t>(id.mTimestampTickFrequency));
    aRegisters.mTimestampControl = add.Add("TimestampControl", gev::kRegTimestampControl, 4, WO, 0u);
    aRegisters.mTimestampValueHigh = add.Add("TimestampValueHigh", gev::kRegTimestampValueHigh, 4, RO, 0u);
    aRegisters.mTimestampValueLow = add.Add("TimestampValueLow", gev::kRegTimestampValueLow, 4, RO, 0u);
    add.Add("GVCPConfiguration", gev::kRegGvcpConfiguration, 4, RW, 0u);
    add.Add("PendingTimeout", gev::kRegPendingTimeout, 4, RO, 1000u);
    aRegisters.mControlChannelPrivilege = add.Add("ControlChannelPrivilege", gev::kRegControlChannelPrivilege, 4, RW, 0u);
    aRegisters.mMessageChannelPort = add.Add("MessageChannelPort", gev::kRegMessageChannelPort, 4, RW, 0u);
    aRegisters.mMessageChannelDestination =
        add.Add("MessageChannelDestination", gev::kRegMessageChannelDestination, 4, RW, 0u);
    add.Add("MessageChannelTransmissionTimeout", gev::kRegMessageChannelTimeout, 4, RW, 300u);
    add.Add("MessageChannelRetryCount", gev::kRegMessageChannelRetryCount, 4, RW, 2u);
    add.Add("MessageChannelSourcePort", gev::kRegMessageChannelSourcePort, 4, RO, 0u);

    // The device-wide block.
    aRegisters.mTLParamsLocked = add.Add("TLParamsLockedReg", kDeviceRegisters + 0x00, 4, RW, 0u);
    aRegisters.mSourceSelector = add.Add("SourceSelectorReg", kDeviceRegisters + 0x04, 4, RW, 0u);
    aRegisters.mUserSetSelector = add.Add("UserSetSelectorReg", kDeviceRegisters + 0x08, 4, RW, 0u);
    aRegisters.mUserSetLoad = add.Add("UserSetLoadReg", kDeviceRegisters + 0x0C, 4, WO, 0u);
    aRegisters.mUserSetSave = add.Add("UserSetSaveReg", kDeviceRegisters + 0x10, 4, WO, 0u);
    aRegisters.mUserSetDefault = add.Add("UserSetDefaultReg", kDeviceRegisters + 0x14, 4, RW, 0u);
    aRegisters.mDeviceReset = add.Add("DeviceResetReg", kDeviceRegisters + 0x18, 4, WO, 0u);

    for (size_t index = 0; index < aSourceCount; ++index)
    {
        const std::string n = std::to_string(index);
        const uint32_t channel = gev::kRegStreamChannelBase + static_cast<uint32_t>(index) * gev::kRegStreamChannelStride;
        const uint32_t base = kSourceRegisters + static_cast<uint32_t>(index) * kSourceRegisterStride;
        TnSourceRegisters s;
        s.mStreamPort = add.Add("StreamChannelPort" + n, channel + gev::kRegStreamChannelPort, 4, RW, 0u);
        s.mPacketSize = add.Add("StreamChannelPacketSize" + n, channel + gev::kRegStreamChannelPacketSize, 4, RW, 1500u);
        s.mPacketDelay = add.Add("StreamChannelPacketDelay" + n, channel + gev::kRegStreamChannelPacketDelay, 4, RW, 0u);
        s.mDestination = add.Add("StreamChannelDestination" + n, channel + gev::kRegStreamChannelDestination, 4, RW, 0u);
        s.mSourcePort = add.Add("StreamChannelSourcePort" + n, channel + gev::kRegStreamChannelSourcePort, 4, RO, 0u);
        s.mCapability = add.Add("StreamChannelCapability" + n, channel + gev::kRegStreamChannelCapability, 4, RO, 0u);
        s.mConfiguration =
            add.Add("StreamChannelConfiguration" + n, channel + gev::kRegStreamChannelConfiguration, 4, RW, 0u);
        s.mWidth = add.Add("Width" + n, base + 0x00, 4, RW, 0u);
        s.mHeight = add.Add("Height" + n, base + 0x04, 4, RW, 0u);
        s.mOffsetX = add.Add("OffsetX" + n, base + 0x08, 4, RW, 0u);
        s.mOffsetY = add.Add("OffsetY" + n, base + 0x0C, 4, RW, 0u);
        s.mPixelFormat = add.Add("PixelFormat" + n, base + 0x10, 4, RW, 0u);
        s.mPayloadSize = add.Add("PayloadSize" + n, base + 0x14, 4, RO, 0u);
        s.mWidthMax = add.Add("WidthMax" + n, base + 0x18, 4, RO, 0u);
        s.mHeightMax = add.Add("HeightMax" + n, base + 0x1C, 4, RO, 0u);
        s.mAcquisitionMode = add.Add("AcquisitionMode" + n, base + 0x20, 4, RW, 0u);
        s.mAcquisitionStart = add.Add("AcquisitionStart" + n, base + 0x24, 4, WO, 0u);
        s.mAcquisitionStop = add.Add("AcquisitionStop" + n, base + 0x28, 4, WO, 0u);
        s.mAcquisitionFrameCount = add.Add("AcquisitionFrameCount" + n, base + 0x2C, 4, RW, 1u);
        s.mChunkModeActive = add.Add("ChunkModeActive" + n, base + 0x30, 4, RW, 0u);
        s.mChunkSelector = add.Add("ChunkSelector" + n, base + 0x34, 4, RW, 0u);
        s.mScanType = add.Add("DeviceScanType" + n, base + 0x38, 4, RO, 0u);
        s.mChunkEnable = add.Add("ChunkEnable" + n, base + 0x100, 4 * kMaxChunks, RW, true);
        aRegisters.mSources.push_back(s);
    }
    if (!add.Result().IsOK())
    {
        return add.Result();
    }
    for (TnRegister *command : {aRegisters.mUserSetLoad, aRegisters.mUserSetSave, aRegisters.mDeviceReset})
    {
        command->SetSelfClearing(true);
    }
    for (const TnSourceRegisters &s : aRegisters.mSources)
    {
        s.mAcquisitionStart->SetSelfClearing(true);
        s.mAcquisitionStop->SetSelfClearing(true);
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
    const uint64_t bits = static_cast<uint64_t>(aSource.mWidth) * aSource.mHeight *
                          TnPixelTypeGetBitsPerPixel(aSource.mPixelType);
    uint64_t size = (bits + 7) / 8;
    if (aSource.mChunkModeActive)
    {
        size += 8 + aSource.mChunksSize; // the image's own chunk tag, then the chunks
    }
    return static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu));
}

std::vector<FeatureSpec> StandardFeatures(const TnStandardConfig &aConfig, const TnStandardRegisters &aRegisters)
{
    std::vector<FeatureSpec> features;
    const auto add = [&features](const Spec &aSpec) { features.push_back(aSpec.Get()); };

    // Identity, from the bootstrap registers.
    struct Text
    {
        const char *mName;
        uint32_t mAddress;
        uint32_t mLength;
        bool mWritable;
        const char *mToolTip;
    };
    const Text texts[] = {
        {"DeviceVendorName", gev::kRegManufacturerName, gev::kManufacturerNameSize, false, "The manufacturer's name."},
        {"DeviceModelName", gev::kRegModelName, gev::kModelNameSize, false, "The device's model name."},
        {"DeviceVersion", gev::kRegDeviceVersion, gev::kDeviceVersionSize, false, "The device's version."},
        {"DeviceManufacturerInfo", gev::kRegManufacturerInfo, gev::kManufacturerInfoSize, false, "Manufacturer information."},
        {"DeviceSerialNumber", gev::kRegSerialNumber, gev::kSerialNumberSize, false, "The device's serial number."},
        {"DeviceUserID", gev::kRegUserDefinedName, gev::kUserDefinedNameSize, true, "A name the user gives the device."}};
    for (const Text &text : texts)
    {
        FeatureSpec spec = Spec(FeatureKind::String, text.mName, kDeviceControl).Text(text.mToolTip).Get();
        spec.mHasRegister = true;
        spec.mRegister.mAddress = text.mAddress;
        spec.mRegister.mLength = text.mLength;
        spec.mRegister.mWritable = text.mWritable;
        features.push_back(spec);
    }

    // Registers of the bootstrap space, by address.
    const auto boot = [](FeatureKind aKind, const std::string &aName, const char *aCategory, uint32_t aAddress,
                         uint32_t aLength, bool aReadable, bool aWritable, int aLowBit = -1, int aHighBit = -1) {
        Spec spec(aKind, aName, aCategory);
        FeatureSpec feature = spec.Get();
        feature.mHasRegister = true;
        feature.mRegister.mAddress = aAddress;
        feature.mRegister.mLength = aLength;
        feature.mRegister.mReadable = aReadable;
        feature.mRegister.mWritable = aWritable;
        feature.mRegister.mLowBit = aLowBit;
        feature.mRegister.mHighBit = aHighBit < 0 ? aLowBit : aHighBit;
        feature.mVisibility = TnGenVisibilityExpert;
        return feature;
    };
    const auto ip = [&](FeatureSpec aFeature) {
        aFeature.mRepresentation = TnGenRepresentationIPV4Address;
        features.push_back(aFeature);
    };
    features.push_back(boot(FeatureKind::Integer, "GevVersionMajor", kTransport, gev::kRegVersion, 4, true, false, 16, 31));
    features.push_back(boot(FeatureKind::Integer, "GevVersionMinor", kTransport, gev::kRegVersion, 4, true, false, 0, 15));
    features.push_back(boot(FeatureKind::Boolean, "GevDeviceModeIsBigEndian", kTransport, gev::kRegDeviceMode, 4, true, false, 31));
    {
        FeatureSpec mac = boot(FeatureKind::Integer, "GevMACAddress", kTransport, gev::kRegMacHigh, 8, true, false);
        mac.mRepresentation = TnGenRepresentationMACAddress;
        features.push_back(mac);
    }
    features.push_back(boot(FeatureKind::Boolean, "GevCurrentIPConfigurationPersistentIP", kTransport,
                            gev::kRegCurrentIPConfig, 4, true, true, 0));
    features.push_back(boot(FeatureKind::Boolean, "GevCurrentIPConfigurationDHCP", kTransport, gev::kRegCurrentIPConfig, 4,
                            true, true, 1));
    features.push_back(boot(FeatureKind::Boolean, "GevCurrentIPConfigurationLLA", kTransport, gev::kRegCurrentIPConfig, 4,
                            true, false, 2));
    ip(boot(FeatureKind::Integer, "GevCurrentIPAddress", kTransport, gev::kRegCurrentIP, 4, true, false));
    ip(boot(FeatureKind::Integer, "GevCurrentSubnetMask", kTransport, gev::kRegCurrentSubnetMask, 4, true, false));
    ip(boot(FeatureKind::Integer, "GevCurrentDefaultGateway", kTransport, gev::kRegCurrentGateway, 4, true, false));
    ip(boot(FeatureKind::Integer, "GevPersistentIPAddress", kTransport, gev::kRegPersistentIP, 4, true, true));
    ip(boot(FeatureKind::Integer, "GevPersistentSubnetMask", kTransport, gev::kRegPersistentSubnetMask, 4, true, true));
    ip(boot(FeatureKind::Integer, "GevPersistentDefaultGateway", kTransport, gev::kRegPersistentGateway, 4, true, true));
    features.push_back(boot(FeatureKind::String, "GevFirstURL", kTransport, gev::kRegFirstUrl, gev::kUrlSize, true, false));
    features.push_back(boot(FeatureKind::String, "GevSecondURL", kTransport, gev::kRegSecondUrl, gev::kUrlSize, true, false));
    features.push_back(boot(FeatureKind::Integer, "GevNumberOfInterfaces", kTransport, gev::kRegNumberOfInterfaces, 4, true, false));
    features.push_back(boot(FeatureKind::Integer, "GevMessageChannelCount", kTransport, gev::kRegNumberOfMessageChannels, 4,
                            true, false));
    features.push_back(boot(FeatureKind::Integer, "GevStreamChannelCount", kTransport, gev::kRegNumberOfStreamChannels, 4,
                            true, false));
    {
        FeatureSpec heartbeat = boot(FeatureKind::Integer, "GevHeartbeatTimeout", kTransport, gev::kRegHeartbeatTimeout, 4,
                                     true, true);
        heartbeat.mUnit = "ms";
        heartbeat.mHasIntLimits = true;
        heartbeat.mMin = 500;
        heartbeat.mMax = 600000;
        heartbeat.mInc = 1;
        features.push_back(heartbeat);
    }
    features.push_back(boot(FeatureKind::Integer, "GevTimestampTickFrequency", kTransport,
                            gev::kRegTimestampTickFrequencyHigh, 8, true, false));
    features.push_back(boot(FeatureKind::Command, "GevTimestampControlLatch", kTransport, gev::kRegTimestampControl, 4,
                            false, true, 1));
    features.push_back(boot(FeatureKind::Command, "GevTimestampControlReset", kTransport, gev::kRegTimestampControl, 4,
                            false, true, 0));
    features.push_back(boot(FeatureKind::Integer, "GevTimestampValue", kTransport, gev::kRegTimestampValueHigh, 8, true, false));
    {
        FeatureSpec ccp = boot(FeatureKind::Enumeration, "GevCCP", kTransport, gev::kRegControlChannelPrivilege, 4, true, true);
        for (const auto &entry : {std::make_pair("OpenAccess", 0), std::make_pair("ExclusiveAccess", 1),
                                  std::make_pair("ControlAccess", 2)})
        {
            EnumEntrySpec e;
            e.mName = entry.first;
            e.mValue = entry.second;
            e.mNameSpace = TnGenNameSpaceStandard;
            ccp.mEntries.push_back(e);
        }
        features.push_back(ccp);
    }
    features.push_back(boot(FeatureKind::Integer, "GevMCPHostPort", kTransport, gev::kRegMessageChannelPort, 4, true, true,
                            0, 15));
    ip(boot(FeatureKind::Integer, "GevMCDA", kTransport, gev::kRegMessageChannelDestination, 4, true, true));
    features.push_back(boot(FeatureKind::Integer, "GevMCTT", kTransport, gev::kRegMessageChannelTimeout, 4, true, true));
    features.push_back(boot(FeatureKind::Integer, "GevMCRC", kTransport, gev::kRegMessageChannelRetryCount, 4, true, true));

    // Device-wide controls.
    add(Spec(FeatureKind::Command, "DeviceReset", kDeviceControl)
            .Register(aRegisters.mDeviceReset)
            .Text("Resets the device as a power cycle would: control is released, streams stop and the registers "
                  "take their values at start."));
    add(Spec(FeatureKind::Integer, "TLParamsLocked", kTransport)
            .Register(aRegisters.mTLParamsLocked)
            .Limits(0, 1)
            .Visibility(TnGenVisibilityInvisible)
            .Text("Locks the transport-layer parameters (image format) while the device streams."));
    const size_t sources = aRegisters.mSources.size();
    if (sources > 1)
    {
        Spec selector(FeatureKind::Enumeration, "SourceSelector", kSourceControl);
        selector.Register(aRegisters.mSourceSelector).Text("Selects the source that the image features control.");
        for (size_t index = 0; index < sources; ++index)
        {
            selector.Entry("Source" + std::to_string(index), static_cast<int64_t>(index));
        }
        add(selector);
    }
    Spec userSet(FeatureKind::Enumeration, "UserSetSelector", kUserSets);
    Spec userSetDefault(FeatureKind::Enumeration, "UserSetDefault", kUserSets);
    userSet.Register(aRegisters.mUserSetSelector).Text("Selects the user set to load or save.");
    userSetDefault.Register(aRegisters.mUserSetDefault).Text("The user set the device loads when it starts.");
    for (uint32_t index = 0; index <= aConfig.mUserSetCount; ++index)
    {
        const std::string name = index == 0 ? std::string("Default") : "UserSet" + std::to_string(index);
        userSet.Entry(name, index);
        userSetDefault.Entry(name, index);
    }
    add(userSet);
    add(Spec(FeatureKind::Command, "UserSetLoad", kUserSets)
            .Register(aRegisters.mUserSetLoad)
            .Selector("UserSetSelector")
            .Text("Loads the selected user set."));
    add(Spec(FeatureKind::Command, "UserSetSave", kUserSets)
            .Register(aRegisters.mUserSetSave)
            .Selector("UserSetSelector")
            .Text("Saves the features into the selected user set."));
    add(userSetDefault);

    // Per source.
    for (size_t index = 0; index < sources; ++index)
    {
        const int owner = static_cast<int>(index);
        const TnSourceRegisters &r = aRegisters.mSources[index];
        const TnSourceDescription source = index < aConfig.mSources.size() ? aConfig.mSources[index] : TnSourceDescription();
        Spec scan(FeatureKind::Enumeration, "DeviceScanType", kDeviceControl, owner);
        scan.Register(r.mScanType).Entry("Areascan", 0).Entry("Linescan", 1).Text("The kind of scan of the source.");
        add(scan);
        add(Spec(FeatureKind::Integer, "Width", kImageFormat, owner)
                .Register(r.mWidth)
                .Limits(source.mWidthMin, source.mWidthMax, source.mWidthInc)
                .Locked()
                .Streamable()
                .Unit("px")
                .Text("Width of the image."));
        add(Spec(FeatureKind::Integer, "Height", kImageFormat, owner)
                .Register(r.mHeight)
                .Limits(source.mHeightMin, source.mHeightMax, source.mHeightInc)
                .Locked()
                .Streamable()
                .Unit("px")
                .Text("Height of the image."));
        add(Spec(FeatureKind::Integer, "OffsetX", kImageFormat, owner)
                .Register(r.mOffsetX)
                .Limits(0, source.mWidthMax - std::min(source.mWidthMax, source.mWidthMin))
                .Locked()
                .Streamable()
                .Text("Horizontal offset of the image in the sensor."));
        add(Spec(FeatureKind::Integer, "OffsetY", kImageFormat, owner)
                .Register(r.mOffsetY)
                .Limits(0, source.mHeightMax - std::min(source.mHeightMax, source.mHeightMin))
                .Locked()
                .Streamable()
                .Text("Vertical offset of the image in the sensor."));
        add(Spec(FeatureKind::Integer, "WidthMax", kImageFormat, owner).Register(r.mWidthMax).Text("The largest width."));
        add(Spec(FeatureKind::Integer, "HeightMax", kImageFormat, owner).Register(r.mHeightMax).Text("The largest height."));
        Spec pixel(FeatureKind::Enumeration, "PixelFormat", kImageFormat, owner);
        pixel.Register(r.mPixelFormat).Locked().Streamable().Text("Format of the pixels.");
        std::vector<TnPixelType> types = source.mPixelTypes;
        if (std::find(types.begin(), types.end(), source.mPixelType) == types.end())
        {
            types.insert(types.begin(), source.mPixelType);
        }
        std::vector<std::string> names;
        for (TnPixelType type : types)
        {
            const std::string name = EntryName(type);
            if (std::find(names.begin(), names.end(), name) == names.end())
            {
                names.push_back(name);
                pixel.Entry(name, static_cast<uint32_t>(type));
            }
        }
        add(pixel);
        add(Spec(FeatureKind::Integer, "PayloadSize", kTransport, owner)
                .Register(r.mPayloadSize)
                .Unit("B")
                .Text("Bytes of one block of the stream."));
        add(Spec(FeatureKind::Enumeration, "AcquisitionMode", kAcquisition, owner)
                .Register(r.mAcquisitionMode)
                .Entry("Continuous", 0)
                .Entry("SingleFrame", 1)
                .Entry("MultiFrame", 2)
                .Locked()
                .Streamable()
                .Text("How many frames an acquisition takes."));
        add(Spec(FeatureKind::Command, "AcquisitionStart", kAcquisition, owner)
                .Register(r.mAcquisitionStart)
                .Text("Starts the acquisition."));
        add(Spec(FeatureKind::Command, "AcquisitionStop", kAcquisition, owner)
                .Register(r.mAcquisitionStop)
                .Text("Stops the acquisition."));
        add(Spec(FeatureKind::Integer, "AcquisitionFrameCount", kAcquisition, owner)
                .Register(r.mAcquisitionFrameCount)
                .Limits(1, 65535)
                .Locked()
                .Streamable()
                .Text("Frames of a MultiFrame acquisition."));
        const uint32_t packetMax = std::max<uint32_t>(576, std::min<uint32_t>(source.mPacketSizeMax, 65535) & ~3u);
        add(Spec(FeatureKind::Integer, "GevSCPSPacketSize", kTransport, owner)
                .Register(r.mPacketSize, 0, 15)
                .Limits(576, packetMax, 4)
                .Unit("B")
                .Text("Size of the stream's packets, headers included."));
        add(Spec(FeatureKind::Boolean, "GevSCPSFireTestPacket", kTransport, owner)
                .Register(r.mPacketSize, 31)
                .Visibility(TnGenVisibilityGuru)
                .Text("Sends one test packet of the packet size."));
        add(Spec(FeatureKind::Boolean, "GevSCPSDoNotFragment", kTransport, owner)
                .Register(r.mPacketSize, 30)
                .Visibility(TnGenVisibilityGuru)
                .Text("Sets the do-not-fragment bit of the stream's packets."));
        add(Spec(FeatureKind::Integer, "GevSCPHostPort", kTransport, owner)
                .Register(r.mStreamPort, 0, 15)
                .Visibility(TnGenVisibilityExpert)
                .Text("The stream's destination port."));
        add(Spec(FeatureKind::Integer, "GevSCDA", kTransport, owner)
                .Register(r.mDestination)
                .Representation(TnGenRepresentationIPV4Address)
                .Visibility(TnGenVisibilityExpert)
                .Text("The stream's destination address."));
        add(Spec(FeatureKind::Integer, "GevSCSP", kTransport, owner)
                .Register(r.mSourcePort, 0, 15)
                .Visibility(TnGenVisibilityExpert)
                .Text("The stream's source port."));
        add(Spec(FeatureKind::Integer, "GevSCPD", kTransport, owner)
                .Register(r.mPacketDelay)
                .Visibility(TnGenVisibilityExpert)
                .Text("Delay between the stream's packets, in timestamp ticks."));
        if (!source.mChunks.empty())
        {
            add(Spec(FeatureKind::Boolean, "ChunkModeActive", kChunks, owner)
                    .Register(r.mChunkModeActive)
                    .Locked()
                    .Streamable()
                    .Text("Sends chunks with the images."));
            Spec chunkSelector(FeatureKind::Enumeration, "ChunkSelector", kChunks, owner);
            chunkSelector.Register(r.mChunkSelector).Text("Selects the chunk that ChunkEnable controls.");
            std::vector<std::string> chunkNames;
            for (size_t chunk = 0; chunk < source.mChunks.size() && chunk < kMaxChunks; ++chunk)
            {
                const std::string name = ChunkEntryName(source.mChunks[chunk].second, source.mChunks[chunk].first);
                if (std::find(chunkNames.begin(), chunkNames.end(), name) == chunkNames.end())
                {
                    chunkNames.push_back(name);
                    chunkSelector.Entry(name, static_cast<int64_t>(chunk));
                }
            }
            add(chunkSelector);
            FeatureSpec enable = Spec(FeatureKind::Boolean, "ChunkEnable", kChunks, owner)
                                     .Register(r.mChunkEnable)
                                     .Selector("ChunkSelector")
                                     .Indexed("ChunkSelector", 4)
                                     .Locked()
                                     .Text("Sends the selected chunk.")
                                     .Get();
            enable.mRegister.mLength = 4; // one 4-byte flag of the array
            enable.mStreamable = false;   // the whole array is persisted below
            features.push_back(enable);
        }
    }
    return features;
}

TnResult BuildDeviceDescription(TnRegisterMap &aMap, const TnStandardConfig &aConfig, TnStandardRegisters &aRegisters,
                                TnGenApiFactory &aFactory, const TnDescriptionInfo &aInfo, std::string &aXml)
{
    aXml.clear();
    for (size_t index = 0; index < aRegisters.mSources.size(); ++index)
    {
        TnSourceRegisters &r = aRegisters.mSources[index];
        const TnSourceDescription source = index < aConfig.mSources.size() ? aConfig.mSources[index] : TnSourceDescription();
        r.mWidth->PokeInt(source.mWidth);
        r.mHeight->PokeInt(source.mHeight);
        r.mOffsetX->PokeInt(source.mOffsetX);
        r.mOffsetY->PokeInt(source.mOffsetY);
        r.mPixelFormat->PokeInt(static_cast<uint32_t>(source.mPixelType));
        r.mPayloadSize->PokeInt(ComputePayloadSize(source));
        r.mWidthMax->PokeInt(source.mWidthMax);
        r.mHeightMax->PokeInt(source.mHeightMax);
        r.mScanType->PokeInt(source.mScanType == 1 || source.mScanType == 3 ? 1u : 0u);
        r.mChunkModeActive->PokeInt(source.mChunkModeActive ? 1u : 0u);
        r.mChunkIds.clear();
        for (size_t chunk = 0; chunk < source.mChunks.size() && chunk < kMaxChunks; ++chunk)
        {
            r.mChunkIds.push_back(source.mChunks[chunk].first);
        }
        if (!source.mChunks.empty())
        {
            r.mChunkEnable->SetPersistence("ChunkEnable" + std::to_string(index), 0);
        }
    }

    std::vector<FeatureSpec> features = StandardFeatures(aConfig, aRegisters);
    uint64_t order = 0;
    for (FeatureSpec &feature : features)
    {
        if (feature.mStreamable && feature.mHasRegister && feature.mRegister.mRegister != nullptr)
        {
            feature.mRegister.mRegister->SetPersistence(feature.mName, ++order);
        }
    }
    for (FeatureSpec &feature : aFactory.GetFeatures())
    {
        features.push_back(feature);
    }
    TnDescriptionInfo info = aInfo;
    info.mSourceCount = static_cast<int>(aRegisters.mSources.size());
    TnResult result = BuildDescription(features, aFactory.GetChanges(), info, aXml);
    if (!result.IsOK())
    {
        return result;
    }

    // The description in device memory, and the first URL pointing at it.
    const uint32_t length = static_cast<uint32_t>((aXml.size() + 3) & ~static_cast<size_t>(3));
    TnRegisterSpec spec;
    spec.mName = "GenICamXML";
    spec.mAddress = kXmlAddress;
    spec.mLength = length;
    spec.mAccessMode = TnGenAccessModeReadOnly;
    spec.mByteArray = true;
    result = aMap.Add(spec, &aRegisters.mXml);
    if (!result.IsOK())
    {
        return result;
    }
    aRegisters.mXml->PokeString(aXml);
    char url[128];
    snprintf(url, sizeof(url), "Local:tarn-softdevice.xml;%X;%X", kXmlAddress, static_cast<unsigned>(aXml.size()));
    aRegisters.mFirstUrl->PokeString(url);
    return TnResult(TN_OK);
}

TnUserSetControl::TnUserSetControl(TnUserSets &aUserSets, const TnStandardRegisters &aRegisters, Notify aNotify)
    : mUserSets(aUserSets), mRegisters(aRegisters), mNotify(std::move(aNotify))
{
}

TnResult TnUserSetControl::PreWrite(ITnRegister *aRegister)
{
    uint32_t value = 0;
    if (aRegister == nullptr || !aRegister->ReadInt(value).IsOK() || value == 0)
    {
        return TnResult(TN_OK);
    }
    const bool save = aRegister == mRegisters.mUserSetSave;
    if (!save && aRegister != mRegisters.mUserSetLoad)
    {
        return TnResult(TN_OK);
    }
    const uint32_t index = mRegisters.mUserSetSelector->PeekInt();
    if (save && index == 0)
    {
        return Failure(TN_STATE_ERROR, "the default user set cannot be saved");
    }
    if (mNotify)
    {
        Guarded("user-set notification", [&] { mNotify(save, false, index); });
    }
    TnResult result = save ? mUserSets.Save(index) : mUserSets.Load(index);
    if (mNotify)
    {
        Guarded("user-set notification", [&] { mNotify(save, true, index); });
    }
    return result;
}
} // namespace softdevice
} // namespace tn
