#include "TnDeviceInfo.h"

#include "TnDiscoveryObjects.h"
#include "TnGevAddress.h"
#include "TnInterface.h"
#include "TnSystemInternal.h"

namespace
{
TnString Text(const std::string &aText)
{
    return TnString(aText.c_str());
}

TnString Address(uint32_t aAddress)
{
    return Text(tn::gev::FormatIPv4(aAddress));
}
} // namespace

TnDeviceInfo::TnDeviceInfo(TnDeviceInfoType aType)
    : mType(aType), mInterface(nullptr), mConfigurationValid(false), mClass(TnDeviceClassUnknown), mHolder(nullptr)
{
}

TnDeviceInfo::TnDeviceInfo(const TnDeviceInfo &aDeviceInfo)
    : mType(aDeviceInfo.mType), mVendorName(aDeviceInfo.mVendorName), mModelName(aDeviceInfo.mModelName),
      mVersion(aDeviceInfo.mVersion), mManufacturerInfo(aDeviceInfo.mManufacturerInfo),
      mSerialNumber(aDeviceInfo.mSerialNumber), mUserDefinedName(aDeviceInfo.mUserDefinedName),
      mDisplayID(aDeviceInfo.mDisplayID), mUniqueID(aDeviceInfo.mUniqueID), mConnectionID(aDeviceInfo.mConnectionID),
      mInterface(nullptr), mConfigurationValid(aDeviceInfo.mConfigurationValid), mClass(aDeviceInfo.mClass),
      mHolder(nullptr)
{
}

TnDeviceInfo::~TnDeviceInfo()
{
    // Deleted by other hands than its holder's: the holder must not free it
    // again.
    if (mHolder != nullptr)
    {
        mHolder->ForgetDevice(this);
    }
}

void TnDeviceInfo::Release()
{
    if (mHolder == nullptr)
    {
        delete this;
    }
}

TnDeviceInfo *TnDeviceInfo::Copy() const
{
    return Clone();
}

const TnInterface *TnDeviceInfo::GetInterface() const
{
    return mInterface;
}

TnDeviceInfoGEV::TnDeviceInfoGEV()
    : TnDeviceInfo(TnDeviceInfoTypeGEV), mMAC(0), mIPAddress(0), mSubnetMask(0), mDefaultGateway(0), mGEVVersion(0),
      mIPConfigOptions(0), mIPConfigCurrent(0), mControlPort(tn::gev::kGvcpPort), mLocalAddress(0)
{
}

TnDeviceInfo *TnDeviceInfoGEV::Clone() const
{
    return new TnDeviceInfoGEV(*this);
}

TnString TnDeviceInfoGEV::GetMACAddress() const
{
    return Text(tn::gev::FormatMac(mMAC));
}

TnString TnDeviceInfoGEV::GetIPConfigOptionsString() const
{
    return Text(tn::system::FormatIPConfig(mIPConfigOptions));
}

TnString TnDeviceInfoGEV::GetIPConfigCurrentString() const
{
    return Text(tn::system::FormatIPConfig(mIPConfigCurrent));
}

TnDeviceInfoVexmoorProtocol::TnDeviceInfoVexmoorProtocol()
    : TnDeviceInfo(TnDeviceInfoTypeVexmoorProtocol), mMAC(0), mIPAddress(0), mSubnetMask(0), mDefaultGateway(0),
      mDeviceID(0), mModuleID(0), mSubID(0), mVendorID(0), mSoftwareMajor(0), mSoftwareMinor(0)
{
}

TnDeviceInfo *TnDeviceInfoVexmoorProtocol::Clone() const
{
    return new TnDeviceInfoVexmoorProtocol(*this);
}

TnString TnDeviceInfoVexmoorProtocol::GetMACAddress() const
{
    return Text(tn::gev::FormatMac(mMAC));
}

TnDeviceInfoUSB::TnDeviceInfoUSB() : TnDeviceInfoUSB(TnDeviceInfoTypeUSB) {}

TnDeviceInfoUSB::TnDeviceInfoUSB(TnDeviceInfoType aType) : TnDeviceInfo(aType), mStatus(TnUSBStatusNotInitialized) {}

TnDeviceInfo *TnDeviceInfoUSB::Clone() const
{
    return new TnDeviceInfoUSB(*this);
}

TnDeviceInfoU3V::TnDeviceInfoU3V()
    : TnDeviceInfoUSB(TnDeviceInfoTypeU3V), mGenCPVersion(0), mU3VVersion(0), mLowSpeedSupported(false),
      mFullSpeedSupported(false), mHighSpeedSupported(false), mSuperSpeedSupported(false),
      mSuperSpeedPlusSupported(false), mCurrentSpeedSupported(false), mSpeed(TnUSBSpeedUnknown), mMaxPower(0),
      mMaxPacketSize(0), mVexmoorDriverInstalled(false), mInitializedCapabilities(false)
{
}

TnDeviceInfo *TnDeviceInfoU3V::Clone() const
{
    return new TnDeviceInfoU3V(*this);
}

TnDeviceInfoType TnDeviceInfo::GetType() const
{
    return mType;
}

TnString TnDeviceInfo::GetVendorName() const
{
    return Text(mVendorName);
}

TnString TnDeviceInfo::GetModelName() const
{
    return Text(mModelName);
}

TnString TnDeviceInfo::GetVersion() const
{
    return Text(mVersion);
}

TnString TnDeviceInfo::GetManufacturerInfo() const
{
    return Text(mManufacturerInfo);
}

TnString TnDeviceInfo::GetSerialNumber() const
{
    return Text(mSerialNumber);
}

TnString TnDeviceInfo::GetUserDefinedName() const
{
    return Text(mUserDefinedName);
}

TnString TnDeviceInfo::GetDisplayID() const
{
    return Text(mDisplayID);
}

TnString TnDeviceInfo::GetUniqueID() const
{
    return Text(mUniqueID);
}

TnString TnDeviceInfo::GetConnectionID() const
{
    return Text(mConnectionID);
}

bool TnDeviceInfo::IsConfigurationValid() const
{
    return mConfigurationValid;
}

TnDeviceClass TnDeviceInfo::GetClass() const
{
    return mClass;
}

TnString TnDeviceInfoGEV::GetIPAddress() const
{
    return Address(mIPAddress);
}

TnString TnDeviceInfoGEV::GetDefaultGateway() const
{
    return Address(mDefaultGateway);
}

TnString TnDeviceInfoGEV::GetSubnetMask() const
{
    return Address(mSubnetMask);
}

uint32_t TnDeviceInfoGEV::GetGEVVersion() const
{
    return mGEVVersion;
}

bool TnDeviceInfoGEV::IsLLAAvailable() const
{
    return (mIPConfigOptions & tn::gev::kIPConfigLla) != 0;
}

bool TnDeviceInfoGEV::IsDHCPAvailable() const
{
    return (mIPConfigOptions & tn::gev::kIPConfigDhcp) != 0;
}

bool TnDeviceInfoGEV::IsPersistentAvailable() const
{
    return (mIPConfigOptions & tn::gev::kIPConfigPersistent) != 0;
}

bool TnDeviceInfoGEV::IsPRAvailable() const
{
    return (mIPConfigOptions & tn::gev::kIPConfigPauseReception) != 0;
}

bool TnDeviceInfoGEV::IsPGAvailable() const
{
    return (mIPConfigOptions & tn::gev::kIPConfigPauseGeneration) != 0;
}

bool TnDeviceInfoGEV::IsLLAEnabled() const
{
    return (mIPConfigCurrent & tn::gev::kIPConfigLla) != 0;
}

bool TnDeviceInfoGEV::IsDHCPEnabled() const
{
    return (mIPConfigCurrent & tn::gev::kIPConfigDhcp) != 0;
}

bool TnDeviceInfoGEV::IsPersistentEnabled() const
{
    return (mIPConfigCurrent & tn::gev::kIPConfigPersistent) != 0;
}

bool TnDeviceInfoGEV::IsPREnabled() const
{
    return (mIPConfigCurrent & tn::gev::kIPConfigPauseReception) != 0;
}

bool TnDeviceInfoGEV::IsPGEnabled() const
{
    return (mIPConfigCurrent & tn::gev::kIPConfigPauseGeneration) != 0;
}

TnString TnDeviceInfoVexmoorProtocol::GetIPAddress() const
{
    return Address(mIPAddress);
}

TnString TnDeviceInfoVexmoorProtocol::GetSubnetMask() const
{
    return Address(mSubnetMask);
}

TnString TnDeviceInfoVexmoorProtocol::GetDefaultGateway() const
{
    return Address(mDefaultGateway);
}

uint8_t TnDeviceInfoVexmoorProtocol::GetDeviceID() const
{
    return mDeviceID;
}

uint8_t TnDeviceInfoVexmoorProtocol::GetModuleID() const
{
    return mModuleID;
}

uint8_t TnDeviceInfoVexmoorProtocol::GetSubID() const
{
    return mSubID;
}

uint8_t TnDeviceInfoVexmoorProtocol::GetVendorID() const
{
    return mVendorID;
}

uint8_t TnDeviceInfoVexmoorProtocol::GetSoftwareMajor() const
{
    return mSoftwareMajor;
}

uint8_t TnDeviceInfoVexmoorProtocol::GetSoftwareMinor() const
{
    return mSoftwareMinor;
}

TnUSBStatus TnDeviceInfoUSB::GetStatus() const
{
    return mStatus;
}

uint32_t TnDeviceInfoU3V::GetGenCPVersion() const
{
    return mGenCPVersion;
}

uint32_t TnDeviceInfoU3V::GetU3VVersion() const
{
    return mU3VVersion;
}

TnString TnDeviceInfoU3V::GetDeviceGUID() const
{
    return Text(mDeviceGUID);
}

TnString TnDeviceInfoU3V::GetFamilyName() const
{
    return Text(mFamilyName);
}

TnString TnDeviceInfoU3V::GetU3VSerialNumber() const
{
    return Text(mU3VSerialNumber);
}

TnString TnDeviceInfoU3V::GetDevicePath() const
{
    return Text(mDevicePath);
}

TnString TnDeviceInfoU3V::GetDeviceKey() const
{
    return Text(mDeviceKey);
}

TnString TnDeviceInfoU3V::GetSpeedMessage() const
{
    return Text(mSpeedMessage);
}

TnString TnDeviceInfoU3V::GetPowerMessage() const
{
    return Text(mPowerMessage);
}

bool TnDeviceInfoU3V::IsLowSpeedSupported() const
{
    return mLowSpeedSupported;
}

bool TnDeviceInfoU3V::IsFullSpeedSupported() const
{
    return mFullSpeedSupported;
}

bool TnDeviceInfoU3V::IsHighSpeedSupported() const
{
    return mHighSpeedSupported;
}

bool TnDeviceInfoU3V::IsSuperSpeedSupported() const
{
    return mSuperSpeedSupported;
}

bool TnDeviceInfoU3V::IsSuperSpeedPlusSupported() const
{
    return mSuperSpeedPlusSupported;
}

bool TnDeviceInfoU3V::IsCurrentSpeedSupported() const
{
    return mCurrentSpeedSupported;
}

TnUSBSpeed TnDeviceInfoU3V::GetSpeed() const
{
    return mSpeed;
}

uint32_t TnDeviceInfoU3V::GetMaxPower() const
{
    return mMaxPower;
}

uint32_t TnDeviceInfoU3V::GetMaxPacketSize() const
{
    return mMaxPacketSize;
}

bool TnDeviceInfoU3V::IsVexmoorDriverInstalled() const
{
    return mVexmoorDriverInstalled;
}

bool TnDeviceInfoU3V::IsInitializedCapabilities() const
{
    return mInitializedCapabilities;
}

namespace
{
// The addresses a network device announces, in the order both kinds keep them.
void AppendAddressFields(std::string &aSignature, uint64_t aMAC, uint32_t aIPAddress, uint32_t aSubnetMask,
                         uint32_t aDefaultGateway)
{
    using tn::system::AppendField;
    AppendField(aSignature, aMAC);
    AppendField(aSignature, aIPAddress);
    AppendField(aSignature, aSubnetMask);
    AppendField(aSignature, aDefaultGateway);
}
} // namespace

void TnDeviceInfo::AppendSignature(std::string &aSignature) const
{
    using tn::system::AppendField;
    AppendField(aSignature, static_cast<uint64_t>(static_cast<int64_t>(mType)));
    AppendField(aSignature, mVendorName);
    AppendField(aSignature, mModelName);
    AppendField(aSignature, mVersion);
    AppendField(aSignature, mManufacturerInfo);
    AppendField(aSignature, mSerialNumber);
    AppendField(aSignature, mUserDefinedName);
    AppendField(aSignature, mDisplayID);
    AppendField(aSignature, mUniqueID);
    AppendField(aSignature, mConnectionID);
    AppendField(aSignature, mConfigurationValid);
    AppendField(aSignature, static_cast<uint64_t>(mClass));
}

void TnDeviceInfoGEV::AppendSignature(std::string &aSignature) const
{
    using tn::system::AppendField;
    TnDeviceInfo::AppendSignature(aSignature);
    AppendAddressFields(aSignature, mMAC, mIPAddress, mSubnetMask, mDefaultGateway);
    AppendField(aSignature, mGEVVersion);
    AppendField(aSignature, mIPConfigOptions);
    AppendField(aSignature, mIPConfigCurrent);
    AppendField(aSignature, mControlPort);
    AppendField(aSignature, mLocalAddress);
}

void TnDeviceInfoVexmoorProtocol::AppendSignature(std::string &aSignature) const
{
    using tn::system::AppendField;
    TnDeviceInfo::AppendSignature(aSignature);
    AppendAddressFields(aSignature, mMAC, mIPAddress, mSubnetMask, mDefaultGateway);
    const uint8_t lBytes[] = {mDeviceID, mModuleID, mSubID, mVendorID, mSoftwareMajor, mSoftwareMinor};
    for (uint8_t lByte : lBytes)
    {
        AppendField(aSignature, lByte);
    }
}

void TnDeviceInfoUSB::AppendSignature(std::string &aSignature) const
{
    TnDeviceInfo::AppendSignature(aSignature);
    tn::system::AppendField(aSignature, static_cast<uint64_t>(static_cast<int64_t>(mStatus)));
}

void TnDeviceInfoU3V::AppendSignature(std::string &aSignature) const
{
    using tn::system::AppendField;
    TnDeviceInfoUSB::AppendSignature(aSignature);
    AppendField(aSignature, mGenCPVersion);
    AppendField(aSignature, mU3VVersion);
    for (const std::string *lText :
         {&mDeviceGUID, &mFamilyName, &mU3VSerialNumber, &mDevicePath, &mDeviceKey, &mSpeedMessage, &mPowerMessage})
    {
        AppendField(aSignature, *lText);
    }
    for (bool lFlag :
         {mLowSpeedSupported, mFullSpeedSupported, mHighSpeedSupported, mSuperSpeedSupported, mSuperSpeedPlusSupported,
          mCurrentSpeedSupported, mVexmoorDriverInstalled, mInitializedCapabilities})
    {
        AppendField(aSignature, lFlag);
    }
    AppendField(aSignature, static_cast<uint64_t>(static_cast<int64_t>(mSpeed)));
    AppendField(aSignature, mMaxPower);
    AppendField(aSignature, mMaxPacketSize);
}

TnDeviceInfoGEV::~TnDeviceInfoGEV() = default;

TnDeviceInfoVexmoorProtocol::~TnDeviceInfoVexmoorProtocol() = default;

TnDeviceInfoUSB::~TnDeviceInfoUSB() = default;

TnDeviceInfoU3V::~TnDeviceInfoU3V() = default;
