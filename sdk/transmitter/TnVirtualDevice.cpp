// The light virtual GigE Vision device: the GigE Vision device model of
// libTnGevProtocol over plain memory, serving discovery, register access and
// packet resends for the transmitters added to it.

#include <mutex>
#include <vector>

#include "TnFork.h"
#include "TnGevAddress.h"
#include "TnGevBytes.h"
#include "TnGvcpDevice.h"
#include "TnGvcpServer.h"
#include "TnText.h"
#include "TnVirtualDeviceGEV.h"

namespace tn
{
namespace transmitter
{
namespace
{
constexpr size_t kMaxTransmitters = 4;

/// The device model with packet resends routed to the transmitters.
class ResendingDevice final : public gev::TnGvcpDevice
{
public:
    ResendingDevice(const gev::TnGvcpDeviceInfo &aInfo, const std::vector<ITnTransmitterGEV *> &aTransmitters)
        : gev::TnGvcpDevice(aInfo), mTransmitters(aTransmitters)
    {
    }

    bool HandleCommand(const gev::TnGvcpPeer &aPeer, const gev::TnGvcpCommand &aCommand, uint16_t &aStatus,
                       uint16_t &aAcknowledge, std::vector<uint8_t> &aPayload) override
    {
        if (aCommand.mHeader.mCommand != gev::kGvcpPacketResendCmd)
        {
            return gev::TnGvcpDevice::HandleCommand(aPeer, aCommand, aStatus, aAcknowledge, aPayload);
        }
        gev::TnGvcpPacketResend lResend;
        if (gev::DecodePacketResendCmd(aCommand, lResend) && lResend.mStreamChannel < mTransmitters.size())
        {
            mTransmitters[lResend.mStreamChannel]->QueuePacketResend(lResend.mBlockId, lResend.mFirstPacketId,
                                                                    lResend.mLastPacketId);
        }
        return false; // never acknowledged
    }

private:
    std::vector<ITnTransmitterGEV *> mTransmitters;
};
} // namespace

/// Made before a fork of this process: the parent's (TnFork.h).
class TnVirtualDevice : public ProcessOwner
{
public:
    std::mutex mMutex;
    uint16_t mMajor = 2;
    uint16_t mMinor = 0;
    bool mResend = true;
    std::string mDeviceVersion = "1.0";
    std::string mSerialNumber = "0";
    std::string mManufacturerName = "Tarn";
    std::string mModelName = "VirtualDevice";
    std::vector<ITnTransmitterGEV *> mTransmitters;
    uint32_t mPriority = 0;
    std::unique_ptr<ResendingDevice> mDevice;
    gev::TnGvcpServer mServer;

    bool Listening() const { return mDevice != nullptr; }
};
} // namespace transmitter
} // namespace tn

using tn::Failure;
using tn::transmitter::TnVirtualDevice;

TnVirtualDeviceGEV::TnVirtualDeviceGEV() : mImpl(new TnVirtualDevice()) {}

TnVirtualDeviceGEV::~TnVirtualDeviceGEV()
{
    if (mImpl->IsInherited())
    {
        return; // the parent's: its thread is not in this process
    }
    StopListening();
    delete mImpl;
}

TnResult TnVirtualDeviceGEV::SetGEVSpecificationVersion(uint16_t aMajor, uint16_t aMinor)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnVirtualDeviceGEV::SetGEVSpecificationVersion");
    }
    std::lock_guard<std::mutex> lLock(mImpl->mMutex);
    if (mImpl->Listening())
    {
        return Failure(TN_BUSY, "the device is listening");
    }
    if (aMajor < 1 || aMajor > 2)
    {
        return Failure(TN_INVALID_PARAMETER, "GigE Vision versions are 1.x and 2.x");
    }
    mImpl->mMajor = aMajor;
    mImpl->mMinor = aMinor;
    return TnResult(TN_OK);
}

TnResult TnVirtualDeviceGEV::GetGEVSpecificationVersion(uint16_t &aMajor, uint16_t &aMinor)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnVirtualDeviceGEV::GetGEVSpecificationVersion");
    }
    std::lock_guard<std::mutex> lLock(mImpl->mMutex);
    aMajor = mImpl->mMajor;
    aMinor = mImpl->mMinor;
    return TnResult(TN_OK);
}

TnResult TnVirtualDeviceGEV::SetGVCPCapabilityPacketResendCommandSupported(bool aSupported)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnVirtualDeviceGEV::SetGVCPCapabilityPacketResendCommandSupported");
    }
    std::lock_guard<std::mutex> lLock(mImpl->mMutex);
    if (mImpl->Listening())
    {
        return Failure(TN_BUSY, "the device is listening");
    }
    mImpl->mResend = aSupported;
    return TnResult(TN_OK);
}

bool TnVirtualDeviceGEV::GetGVCPCapabilityPacketResendCommandSupported()
{
    if (mImpl->IsInherited())
    {
        return false;
    }
    std::lock_guard<std::mutex> lLock(mImpl->mMutex);
    return mImpl->mResend;
}

namespace
{
TnResult SetText(TnVirtualDevice &aDevice, std::string &aField, const TnString &aValue, size_t aMax, bool aCut)
{
    std::lock_guard<std::mutex> lLock(aDevice.mMutex);
    if (aDevice.Listening())
    {
        return Failure(TN_BUSY, "the device is listening");
    }
    std::string lText = tn::ToString(aValue);
    if (lText.size() > aMax)
    {
        if (!aCut)
        {
            return Failure(TN_INVALID_PARAMETER, "the text is too long");
        }
        lText.resize(aMax);
    }
    aField = lText;
    return TnResult(TN_OK);
}

TnString GetText(TnVirtualDevice &aDevice, const std::string &aField)
{
    std::lock_guard<std::mutex> lLock(aDevice.mMutex);
    return TnString(aField.c_str());
}
} // namespace

TnResult TnVirtualDeviceGEV::SetDeviceVersion(const TnString &aValue)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnVirtualDeviceGEV::SetDeviceVersion");
    }
    return SetText(*mImpl, mImpl->mDeviceVersion, aValue, 31, true);
}
TnString TnVirtualDeviceGEV::GetDeviceVersion()
{
    return GetText(*mImpl, mImpl->mDeviceVersion);
}
TnResult TnVirtualDeviceGEV::SetSerialNumber(const TnString &aValue)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnVirtualDeviceGEV::SetSerialNumber");
    }
    return SetText(*mImpl, mImpl->mSerialNumber, aValue, 15, false);
}
TnString TnVirtualDeviceGEV::GetSerialNumber()
{
    return GetText(*mImpl, mImpl->mSerialNumber);
}
TnResult TnVirtualDeviceGEV::SetManufacturerName(const TnString &aValue)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnVirtualDeviceGEV::SetManufacturerName");
    }
    return SetText(*mImpl, mImpl->mManufacturerName, aValue, 31, false);
}
TnString TnVirtualDeviceGEV::GetManufacturerName()
{
    return GetText(*mImpl, mImpl->mManufacturerName);
}
TnResult TnVirtualDeviceGEV::SetModelName(const TnString &aValue)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnVirtualDeviceGEV::SetModelName");
    }
    return SetText(*mImpl, mImpl->mModelName, aValue, 31, false);
}
TnString TnVirtualDeviceGEV::GetModelName()
{
    return GetText(*mImpl, mImpl->mModelName);
}

TnResult TnVirtualDeviceGEV::AddTransmitterGEV(ITnTransmitterGEV *aTransmitter)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnVirtualDeviceGEV::AddTransmitterGEV");
    }
    std::lock_guard<std::mutex> lLock(mImpl->mMutex);
    if (mImpl->Listening())
    {
        return Failure(TN_BUSY, "the device is listening");
    }
    if (aTransmitter == nullptr || aTransmitter->IsTransmitting() ||
        mImpl->mTransmitters.size() >= tn::transmitter::kMaxTransmitters)
    {
        return Failure(TN_INVALID_PARAMETER, "no transmitter, one transmitting, or more than 4");
    }
    mImpl->mTransmitters.push_back(aTransmitter);
    return TnResult(TN_OK);
}

TnResult TnVirtualDeviceGEV::StartListening(TnString aIPAddress)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnVirtualDeviceGEV::StartListening");
    }
    std::lock_guard<std::mutex> lLock(mImpl->mMutex);
    if (mImpl->Listening())
    {
        return Failure(TN_BUSY, "the device is listening");
    }
    uint32_t lAddress = 0;
    if (!tn::gev::ParseIPv4(tn::ToString(aIPAddress), lAddress))
    {
        return Failure(TN_INVALID_PARAMETER, "the address is a dotted IPv4 address");
    }
    tn::gev::TnGvcpDeviceInfo lInfo;
    lInfo.mVersionMajor = mImpl->mMajor;
    lInfo.mVersionMinor = mImpl->mMinor;
    lInfo.mCurrentIP = lAddress;
    lInfo.mManufacturerName = mImpl->mManufacturerName;
    lInfo.mModelName = mImpl->mModelName;
    lInfo.mDeviceVersion = mImpl->mDeviceVersion;
    lInfo.mSerialNumber = mImpl->mSerialNumber;
    mImpl->mDevice.reset(new tn::transmitter::ResendingDevice(lInfo, mImpl->mTransmitters));
    uint32_t lCapability = mImpl->mDevice->GetRegister(tn::gev::kRegGvcpCapability);
    lCapability = mImpl->mResend ? (lCapability | tn::gev::kCapabilityPacketResend)
                                 : (lCapability & ~tn::gev::kCapabilityPacketResend);
    mImpl->mDevice->SetRegister(tn::gev::kRegGvcpCapability, lCapability);
    mImpl->mDevice->SetRegister(tn::gev::kRegNumberOfStreamChannels, static_cast<uint32_t>(mImpl->mTransmitters.size()));
    const TnResult lResult = mImpl->mServer.Start(mImpl->mDevice.get(), lAddress, tn::gev::kGvcpPort);
    if (!lResult.IsOK())
    {
        mImpl->mDevice.reset();
    }
    return lResult;
}

void TnVirtualDeviceGEV::StopListening()
{
    if (mImpl->IsInherited())
    {
        return;
    }
    mImpl->mServer.Stop();
    std::lock_guard<std::mutex> lLock(mImpl->mMutex);
    mImpl->mDevice.reset();
}

uint32_t TnVirtualDeviceGEV::GetDevicePortThreadPriority() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    std::lock_guard<std::mutex> lLock(mImpl->mMutex);
    return mImpl->mPriority;
}

TnResult TnVirtualDeviceGEV::SetDevicePortThreadPriority(uint32_t aPriority)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnVirtualDeviceGEV::SetDevicePortThreadPriority");
    }
    if (aPriority > 99)
    {
        return Failure(TN_INVALID_PARAMETER, "priorities are 0 to 99");
    }
    std::lock_guard<std::mutex> lLock(mImpl->mMutex);
    mImpl->mPriority = aPriority;
    return TnResult(TN_OK);
}
