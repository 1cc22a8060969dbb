#include "TnInterface.h"

#include <algorithm>

#include "TnDeviceInfo.h"
#include "TnDiscoveryObjects.h"
#include "TnGevAddress.h"

TnInterface::TnInterface(TnInterfaceType aType) : mType(aType), mHolder(nullptr) {}

TnInterface::TnInterface(const TnInterface &aInterface)
    : mType(aInterface.mType), mName(aInterface.mName), mDisplayID(aInterface.mDisplayID),
      mUniqueID(aInterface.mUniqueID), mCompareID(aInterface.mCompareID),
      mVexmoorDriverVersion(aInterface.mVexmoorDriverVersion), mHolder(nullptr)
{
    for (const TnDeviceInfo *lDevice : aInterface.mDevices)
    {
        AddDevice(lDevice->Copy());
    }
}

TnInterface::~TnInterface()
{
    // Deleted by other hands than its holder's: the holder must not free it
    // again.
    if (mHolder != nullptr)
    {
        mHolder->ForgetInterface(this);
    }
    for (TnDeviceInfo *lDevice : mDevices)
    {
        lDevice->mHolder = nullptr;
        delete lDevice;
    }
}

void TnInterface::Release()
{
    if (mHolder == nullptr)
    {
        delete this;
    }
}

void TnInterface::AddDevice(TnDeviceInfo *aDevice)
{
    if (aDevice == nullptr || aDevice->mHolder != nullptr)
    {
        return;
    }
    aDevice->mHolder = this;
    aDevice->mInterface = this;
    mDevices.push_back(aDevice);
}

void TnInterface::ForgetDevice(const TnDeviceInfo *aDevice)
{
    mDevices.erase(std::remove(mDevices.begin(), mDevices.end(), aDevice), mDevices.end());
    if (mHolder != nullptr)
    {
        mHolder->ForgetDevice(aDevice);
    }
}

TnInterface *TnInterface::Copy() const
{
    return Clone();
}

TnInterfaceType TnInterface::GetType() const
{
    return mType;
}

TnString TnInterface::GetName() const
{
    return TnString(mName.c_str());
}

TnString TnInterface::GetDisplayID() const
{
    return TnString(mDisplayID.c_str());
}

TnString TnInterface::GetUniqueID() const
{
    return TnString(mUniqueID.c_str());
}

TnString TnInterface::GetCompareID() const
{
    return TnString(mCompareID.c_str());
}

uint32_t TnInterface::GetDeviceCount() const
{
    return static_cast<uint32_t>(mDevices.size());
}

const TnDeviceInfo *TnInterface::GetDeviceInfo(uint32_t aIndex) const
{
    return aIndex < mDevices.size() ? mDevices[aIndex] : nullptr;
}

bool TnInterface::Compare(const TnInterface *aFirst, const TnInterface *aSecond)
{
    if (aFirst == nullptr || aSecond == nullptr)
    {
        return aFirst == nullptr && aSecond != nullptr;
    }
    return aFirst->mCompareID < aSecond->mCompareID;
}

TnString TnInterface::GetVexmoorDriverVersion() const
{
    return TnString(mVexmoorDriverVersion.c_str());
}

TnNetworkAdapter::TnNetworkAdapter()
    : TnInterface(TnInterfaceTypeNetworkAdapter), mDefaultGateway(0), mVexmoorDriverInstalled(false)
{
}

TnInterface *TnNetworkAdapter::Clone() const
{
    return new TnNetworkAdapter(*this);
}

TnString TnNetworkAdapter::GetMACAddress() const
{
    return TnString(mMACAddress.c_str());
}

TnString TnNetworkAdapter::GetDescription() const
{
    return TnString(mDescription.c_str());
}

uint32_t TnNetworkAdapter::GetIPAddressCount() const
{
    return static_cast<uint32_t>(mIPAddresses.size());
}

TnString TnNetworkAdapter::GetIPAddress(uint32_t aIndex) const
{
    return aIndex < mIPAddresses.size() ? TnString(tn::gev::FormatIPv4(mIPAddresses[aIndex]).c_str()) : TnString();
}

TnString TnNetworkAdapter::GetSubnetMask(uint32_t aIndex) const
{
    return aIndex < mSubnetMasks.size() ? TnString(tn::gev::FormatIPv4(mSubnetMasks[aIndex]).c_str()) : TnString();
}

TnString TnNetworkAdapter::GetDefaultGateway() const
{
    return TnString(tn::gev::FormatIPv4(mDefaultGateway).c_str());
}

bool TnNetworkAdapter::IsVexmoorDriverInstalled() const
{
    return mVexmoorDriverInstalled;
}

TnUSBHostController::TnUSBHostController()
    : TnInterface(TnInterfaceTypeUSBHostController), mVendorID(0), mDeviceID(0), mSubsystemID(0), mRevision(0),
      mSpeed(TnUSBSpeedUnknown)
{
}

TnInterface *TnUSBHostController::Clone() const
{
    return new TnUSBHostController(*this);
}

uint32_t TnUSBHostController::GetVendorID() const
{
    return mVendorID;
}

uint32_t TnUSBHostController::GetDeviceID() const
{
    return mDeviceID;
}

uint32_t TnUSBHostController::GetSubsystemID() const
{
    return mSubsystemID;
}

uint32_t TnUSBHostController::GetRevision() const
{
    return mRevision;
}

TnUSBSpeed TnUSBHostController::GetSpeed() const
{
    return mSpeed;
}

void TnInterface::AppendSignature(std::string &aSignature) const
{
    using tn::system::AppendField;
    AppendField(aSignature, static_cast<uint64_t>(static_cast<int64_t>(mType)));
    AppendField(aSignature, mName);
    AppendField(aSignature, mDisplayID);
    AppendField(aSignature, mUniqueID);
    AppendField(aSignature, mCompareID);
    AppendField(aSignature, mVexmoorDriverVersion);
    AppendField(aSignature, mDevices.size());
    for (const TnDeviceInfo *lDevice : mDevices)
    {
        lDevice->AppendSignature(aSignature);
    }
}

void TnNetworkAdapter::AppendSignature(std::string &aSignature) const
{
    using tn::system::AppendField;
    TnInterface::AppendSignature(aSignature);
    AppendField(aSignature, mMACAddress);
    AppendField(aSignature, mDescription);
    AppendField(aSignature, mIPAddresses.size());
    for (size_t lIndex = 0; lIndex < mIPAddresses.size(); ++lIndex)
    {
        AppendField(aSignature, mIPAddresses[lIndex]);
        AppendField(aSignature, lIndex < mSubnetMasks.size() ? mSubnetMasks[lIndex] : 0);
    }
    AppendField(aSignature, mDefaultGateway);
    AppendField(aSignature, mVexmoorDriverInstalled);
    AppendField(aSignature, mSystemName);
}

void TnUSBHostController::AppendSignature(std::string &aSignature) const
{
    using tn::system::AppendField;
    TnInterface::AppendSignature(aSignature);
    AppendField(aSignature, mVendorID);
    AppendField(aSignature, mDeviceID);
    AppendField(aSignature, mSubsystemID);
    AppendField(aSignature, mRevision);
    AppendField(aSignature, static_cast<uint64_t>(static_cast<int64_t>(mSpeed)));
    AppendField(aSignature, mSystemName);
}

TnNetworkAdapter::~TnNetworkAdapter() = default;

TnUSBHostController::~TnUSBHostController() = default;
