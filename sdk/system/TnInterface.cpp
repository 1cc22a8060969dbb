#include "TnInterface.h"

#include "TnDeviceInfo.h"
#include "TnGevAddress.h"

TnInterface::TnInterface(TnInterfaceType aType) : mType(aType), mHeld(false) {}

TnInterface::TnInterface(const TnInterface &aInterface)
    : mType(aInterface.mType), mName(aInterface.mName), mDisplayID(aInterface.mDisplayID),
      mUniqueID(aInterface.mUniqueID), mCompareID(aInterface.mCompareID),
      mVexmoorDriverVersion(aInterface.mVexmoorDriverVersion), mHeld(false)
{
    for (const TnDeviceInfo *device : aInterface.mDevices)
    {
        TnDeviceInfo *copy = device->Copy();
        copy->mInterface = this;
        AddDevice(copy);
    }
}

TnInterface::~TnInterface()
{
    for (TnDeviceInfo *device : mDevices)
    {
        delete device;
    }
}

void TnInterface::Release()
{
    if (!mHeld)
    {
        delete this;
    }
}

void TnInterface::AddDevice(TnDeviceInfo *aDevice)
{
    aDevice->mHeld = true;
    aDevice->mInterface = this;
    mDevices.push_back(aDevice);
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

void TnInterface::UpdateFrom(const TnInterface &aInterface)
{
    mName = aInterface.mName;
    mDisplayID = aInterface.mDisplayID;
    mUniqueID = aInterface.mUniqueID;
    mCompareID = aInterface.mCompareID;
    mVexmoorDriverVersion = aInterface.mVexmoorDriverVersion;
}

void TnNetworkAdapter::UpdateFrom(const TnInterface &aInterface)
{
    TnInterface::UpdateFrom(aInterface);
    if (const TnNetworkAdapter *adapter = dynamic_cast<const TnNetworkAdapter *>(&aInterface))
    {
        mMACAddress = adapter->mMACAddress;
        mDescription = adapter->mDescription;
        mIPAddresses = adapter->mIPAddresses;
        mSubnetMasks = adapter->mSubnetMasks;
        mDefaultGateway = adapter->mDefaultGateway;
        mVexmoorDriverInstalled = adapter->mVexmoorDriverInstalled;
        mSystemName = adapter->mSystemName;
    }
}

void TnUSBHostController::UpdateFrom(const TnInterface &aInterface)
{
    TnInterface::UpdateFrom(aInterface);
    if (const TnUSBHostController *controller = dynamic_cast<const TnUSBHostController *>(&aInterface))
    {
        mVendorID = controller->mVendorID;
        mDeviceID = controller->mDeviceID;
        mSubsystemID = controller->mSubsystemID;
        mRevision = controller->mRevision;
        mSpeed = controller->mSpeed;
        mSystemName = controller->mSystemName;
    }
}

TnNetworkAdapter::~TnNetworkAdapter() = default;

TnUSBHostController::~TnUSBHostController() = default;
