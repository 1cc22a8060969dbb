#include "TnDevice.h"

#include <mutex>
#include <set>

#include "TnDeviceAdapter.h"
#include "TnDeviceCore.h"
#include "TnDeviceGEV.h"
#include "TnDeviceU3V.h"
#include "TnLog.h"
#include "TnSystem.h"

TnDeviceEventSink::TnDeviceEventSink() = default;

TnDeviceEventSink::~TnDeviceEventSink()
{
    // A sink that goes while registered is let go of first.
    tn::SinkRegistry<TnDeviceEventSink>::Forget(this);
}

void TnDeviceEventSink::OnLinkDisconnected(TnDevice *)
{
}

void TnDeviceEventSink::OnLinkReconnected(TnDevice *)
{
}

void TnDeviceEventSink::OnEvent(TnDevice *, uint16_t, uint16_t, uint64_t, uint64_t, const void *, uint32_t)
{
}

void TnDeviceEventSink::OnEventGenICam(TnDevice *, uint16_t, uint16_t, uint64_t, uint64_t, TnGenParameterList *)
{
}

void TnDeviceEventSink::OnCmdLinkRead(const void *, int64_t, int64_t)
{
}

void TnDeviceEventSink::OnCmdLinkWrite(const void *, int64_t, int64_t)
{
}

namespace
{
// The controllers CreateAndConnect made and Free has not released yet.
std::mutex &MadeMutex()
{
    static std::mutex *sMutex = new std::mutex;
    return *sMutex;
}

std::set<const TnDevice *> &Made()
{
    static std::set<const TnDevice *> *sMade = new std::set<const TnDevice *>;
    return *sMade;
}

void ForgetMade(const TnDevice *aDevice)
{
    std::lock_guard<std::mutex> lLock(MadeMutex());
    Made().erase(aDevice);
}

void SetResult(TnResult *aResult, const TnResult &aValue)
{
    if (aResult != nullptr)
    {
        *aResult = aValue;
    }
}
} // namespace

TnDevice::TnDevice(tn::device::DeviceCore *aCore) : mCore(aCore)
{
    mCore->SetOwner(this);
}

TnDevice::~TnDevice()
{
    ForgetMade(this);
    if (mCore->IsInherited())
    {
        // The parent's: its threads are not in this process, and its session
        // stays the parent's. Left as it is.
        return;
    }
    // Adapters over this controller outlive it as disconnected ones.
    for (TnDeviceEventSink *lSink : mCore->GetSinks())
    {
        if (TnDeviceAdapter *lAdapter = dynamic_cast<TnDeviceAdapter *>(lSink))
        {
            lAdapter->ForgetDevice();
        }
    }
    // From one of its own event sinks the controller ends once the sink
    // has returned (DeviceCore::Destroy).
    tn::device::DeviceCore::Destroy(mCore);
}

TnDevice *TnDevice::CreateAndConnect(const TnDeviceInfo *aDeviceInfo, TnResult *aResult)
{
    if (aDeviceInfo == nullptr)
    {
        SetResult(aResult,
                  TnResult(TN_INVALID_PARAMETER, TnString("CreateAndConnect: no device information was given")));
        return nullptr;
    }
    TnDevice *lDevice = nullptr;
    switch (aDeviceInfo->GetType())
    {
    case TnDeviceInfoTypeGEV:
        lDevice = new TnDeviceGEV;
        break;
    case TnDeviceInfoTypeU3V:
        lDevice = new TnDeviceU3V;
        break;
    default:
        // No controller of this host speaks the Vexmoor Protocol or plain USB.
        SetResult(aResult,
                  TnResult(TN_NOT_SUPPORTED, TnString("CreateAndConnect: no controller for this kind of device")));
        return nullptr;
    }
    const TnResult lResult = lDevice->Connect(aDeviceInfo);
    SetResult(aResult, lResult);
    if (!lResult.IsOK())
    {
        delete lDevice;
        return nullptr;
    }
    std::lock_guard<std::mutex> lLock(MadeMutex());
    Made().insert(lDevice);
    return lDevice;
}

TnDevice *TnDevice::CreateAndConnect(const TnString &aInfo, TnResult *aResult)
{
    const char *lText = aInfo.GetAscii();
    if (lText == nullptr || *lText == '\0')
    {
        SetResult(aResult, TnResult(TN_INVALID_PARAMETER, TnString("CreateAndConnect: no device was named")));
        return nullptr;
    }
    TnSystem lSystem;
    const TnDeviceInfo *lInfo = nullptr;
    const TnResult lFound = lSystem.FindDevice(aInfo, &lInfo);
    if (!lFound.IsOK() || lInfo == nullptr)
    {
        SetResult(aResult, lFound.IsOK() ? TnResult(TN_NOT_FOUND) : lFound);
        return nullptr;
    }
    return CreateAndConnect(lInfo, aResult);
}

void TnDevice::Free(TnDevice *aDevice)
{
    if (aDevice == nullptr)
    {
        return;
    }
    {
        // Looked up before it is touched: a controller freed already, or one
        // that belongs to someone else, stays as it is.
        std::lock_guard<std::mutex> lLock(MadeMutex());
        if (Made().erase(aDevice) == 0)
        {
            TnLogger(TnString("TnDevice"))
                .LogWarning(__FILE__, __LINE__, "TnDevice::Free",
                            "Free releases only controllers that CreateAndConnect made; this one is left alone");
            return;
        }
    }
    delete aDevice;
}

TnResult TnDevice::Connect(const TnDeviceInfo *aDeviceInfo)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::Connect");
    }
    return mCore->Connect(aDeviceInfo, TnAccessControl);
}

TnResult TnDevice::Connect(const TnString &aInfo)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::Connect");
    }
    return mCore->Connect(aInfo, TnAccessControl);
}

TnResult TnDevice::Disconnect()
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::Disconnect");
    }
    return mCore->Disconnect();
}

bool TnDevice::IsConnected() const
{
    if (mCore->IsInherited())
    {
        return false;
    }
    return mCore->IsConnected();
}

bool TnDevice::IsVexmoorPowered() const
{
    if (mCore->IsInherited())
    {
        return false;
    }
    return mCore->IsVexmoorPowered();
}

TnDeviceType TnDevice::GetType() const
{
    return mCore->GetType();
}

TnResult TnDevice::StreamEnable(uint32_t aChannel)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::StreamEnable");
    }
    return mCore->StreamLock(aChannel, true);
}

TnResult TnDevice::StreamDisable(uint32_t aChannel)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::StreamDisable");
    }
    return mCore->StreamLock(aChannel, false);
}

TnResult TnDevice::DumpGenICamXML(const TnString &aFilename)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::DumpGenICamXML");
    }
    return mCore->DumpXml(aFilename);
}

TnResult TnDevice::GetDefaultGenICamXMLFilename(TnString &aFilename)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::GetDefaultGenICamXMLFilename");
    }
    return mCore->GetXmlFileName(aFilename);
}

TnGenParameterArray *TnDevice::GetParameters()
{
    if (mCore->IsInherited())
    {
        return nullptr;
    }
    return mCore->GetParameters();
}

TnGenParameterArray *TnDevice::GetCommunicationParameters()
{
    if (mCore->IsInherited())
    {
        return nullptr;
    }
    return mCore->GetCommunicationParameters();
}

TnResult TnDevice::ReadMemory(int64_t aAddress, uint8_t *aDestination, int64_t aByteCount)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::ReadMemory");
    }
    return mCore->ReadMemory(aAddress, aDestination, aByteCount);
}

TnResult TnDevice::WriteMemory(int64_t aAddress, const uint8_t *aSource, int64_t aByteCount)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::WriteMemory");
    }
    return mCore->WriteMemory(aAddress, aSource, aByteCount);
}

TnResult TnDevice::WaitForMessagingChannelIdle(uint32_t aTimeout)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::WaitForMessagingChannelIdle");
    }
    return mCore->WaitIdle(aTimeout);
}

TnResult TnDevice::RegisterEventSink(TnDeviceEventSink *aEventSink)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::RegisterEventSink");
    }
    return mCore->RegisterSink(aEventSink);
}

TnResult TnDevice::UnregisterEventSink(TnDeviceEventSink *aEventSink)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::UnregisterEventSink");
    }
    return mCore->UnregisterSink(aEventSink);
}

uint32_t TnDevice::GetHeartbeatThreadPriority() const
{
    if (mCore->IsInherited())
    {
        return 0;
    }
    return mCore->mHeartbeatPriority;
}

TnResult TnDevice::SetHeartbeatThreadPriority(uint32_t aPriority)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::SetHeartbeatThreadPriority");
    }
    mCore->mHeartbeatPriority = aPriority;
    return TnResult(TN_OK);
}

uint32_t TnDevice::GetInterruptLinkThreadPriority() const
{
    if (mCore->IsInherited())
    {
        return 0;
    }
    return mCore->mInterruptLinkPriority;
}

TnResult TnDevice::SetInterruptLinkThreadPriority(uint32_t aPriority)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::SetInterruptLinkThreadPriority");
    }
    mCore->mInterruptLinkPriority = aPriority;
    return TnResult(TN_OK);
}

uint32_t TnDevice::GetInterruptQueueThreadPriority() const
{
    if (mCore->IsInherited())
    {
        return 0;
    }
    return mCore->mInterruptQueuePriority;
}

TnResult TnDevice::SetInterruptQueueThreadPriority(uint32_t aPriority)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::SetInterruptQueueThreadPriority");
    }
    mCore->mInterruptQueuePriority = aPriority;
    return TnResult(TN_OK);
}

uint32_t TnDevice::GetPayloadSize()
{
    if (mCore->IsInherited())
    {
        return 0;
    }
    return mCore->GetPayloadSize();
}

TnResult TnDevice::GetUniqueID(TnString &aUniqueID)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnDevice::GetUniqueID");
    }
    return mCore->GetUniqueID(aUniqueID);
}
