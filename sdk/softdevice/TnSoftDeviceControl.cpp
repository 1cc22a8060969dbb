// The software device's control channel: the register space and discovery
// data a controller reads and writes, the commands it counts and handles
// itself, and the event sinks told of controllers taking and leaving control.
#include "TnSoftDevice.h"

#include <algorithm>

#include "TnGevAddress.h"
#include "TnSoftDeviceLog.h"
#include "TnText.h"

namespace tn
{
namespace softdevice
{
uint16_t TnSoftDevice::ReadSpace(uint32_t aAddress, uint8_t *aData, size_t aSize)
{
    TnRegisterMap *lMap = mMap.get();
    return lMap == nullptr ? static_cast<uint16_t>(gev::kGvcpStatusBusy) : lMap->ReadMemory(aAddress, aData, aSize).mStatus;
}

uint16_t TnSoftDevice::WriteSpace(uint32_t aAddress, const uint8_t *aData, size_t aSize)
{
    TnRegisterMap *lMap = mMap.get();
    if (lMap == nullptr)
    {
        return gev::kGvcpStatusBusy;
    }
    const TnAccessStatus lStatus = lMap->WriteMemory(aAddress, aData, aSize);
    if (lStatus.mStatus != gev::kGvcpStatusSuccess)
    {
        const std::string lWhy = tn::ToString(lStatus.mResult.GetDescription());
        LogWarning("WriteMemory", "a controller's write at " + std::to_string(aAddress) + " was refused" +
                                      (lWhy.empty() ? std::string() : ": " + lWhy));
    }
    return lStatus.mStatus;
}

uint16_t TnSoftDevice::GetDiscoveryData(const gev::TnGvcpPeer &, uint8_t *aData, size_t aSize)
{
    TnRegisterMap *lMap = mMap.get();
    if (lMap == nullptr)
    {
        return gev::kGvcpStatusBusy;
    }
    return lMap->ReadMemory(0, aData, std::min<size_t>(aSize, gev::kDiscoveryDataSize)).mStatus;
}

void TnSoftDevice::OnCommand(const gev::TnGvcpPeer &, const gev::TnGvcpCommand &aCommand, bool aRepeated)
{
    if (aRepeated)
    {
        mStatistics.Add(TnSoftDeviceStatistics::Retries);
        // Retries of one command: counted while the same request id repeats.
        if (aCommand.mHeader.mRequestId == mLastRequestId)
        {
            ++mRepeats;
        }
        else
        {
            mLastRequestId = aCommand.mHeader.mRequestId;
            mRepeats = 1;
        }
        mStatistics.Max(TnSoftDeviceStatistics::RetriesMax, mRepeats);
        return;
    }
    switch (aCommand.mHeader.mCommand)
    {
    case gev::kGvcpDiscoveryCmd:
        mStatistics.Add(TnSoftDeviceStatistics::Discoveries);
        break;
    case gev::kGvcpReadRegCmd:
        mStatistics.Add(TnSoftDeviceStatistics::ReadRegs);
        break;
    case gev::kGvcpWriteRegCmd:
        mStatistics.Add(TnSoftDeviceStatistics::WriteRegs);
        break;
    case gev::kGvcpReadMemCmd:
        mStatistics.Add(TnSoftDeviceStatistics::ReadMems);
        break;
    case gev::kGvcpWriteMemCmd:
        mStatistics.Add(TnSoftDeviceStatistics::WriteMems);
        break;
    case gev::kGvcpForceIpCmd:
        mStatistics.Add(TnSoftDeviceStatistics::ForceIps);
        break;
    case gev::kGvcpActionCmd:
        mStatistics.Add(TnSoftDeviceStatistics::ActionCommands);
        break;
    case gev::kGvcpPacketResendCmd:
        mStatistics.Add(TnSoftDeviceStatistics::PacketResends);
        break;
    default:
        break;
    }
}

bool TnSoftDevice::HandleCommand(const gev::TnGvcpPeer &, const gev::TnGvcpCommand &aCommand, uint16_t &aStatus,
                                 uint16_t &aAcknowledge, std::vector<uint8_t> &aPayload)
{
    aPayload.clear();
    switch (aCommand.mHeader.mCommand)
    {
    case gev::kGvcpPacketResendCmd:
    {
        gev::TnGvcpPacketResend lResend;
        if (gev::DecodePacketResendCmd(aCommand, lResend) && lResend.mStreamChannel < mChannels.size())
        {
            mChannels[lResend.mStreamChannel]->GetResendTarget()->QueuePacketResend(
                lResend.mBlockId, lResend.mFirstPacketId, lResend.mLastPacketId);
        }
        aStatus = gev::kGvcpStatusSuccess;
        return false; // never acknowledged
    }
    case gev::kGvcpForceIpCmd:
    {
        gev::TnGvcpForceIp lForce;
        aAcknowledge = gev::kGvcpForceIpAck;
        if (!gev::DecodeForceIpCmd(aCommand, lForce))
        {
            aStatus = gev::kGvcpStatusInvalidParameter;
            return true;
        }
        if (lForce.mMac != mInterface.mMac)
        {
            return false;
        }
        // The address stays the interface's: a software device cannot move
        // its host. The network stack's reset is what it can do.
        ResetNetwork();
        aStatus = gev::kGvcpStatusSuccess;
        return true;
    }
    case gev::kGvcpActionCmd:
    {
        gev::TnGvcpAction lAction;
        TnVirtualDeviceLib::IActionHandler *lHandler;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            lHandler = mActionHandler;
        }
        if (!gev::DecodeActionCmd(aCommand, lAction) || lHandler == nullptr)
        {
            return false;
        }
        aAcknowledge = gev::kGvcpActionAck;
        TnActionAckStatusEnum lAnswer = TnActionAckStatusOK;
        Guarded("OnAction", [&] {
            lAnswer = lHandler->OnAction(lAction.mGroupKey, lAction.mGroupMask, lAction.mScheduled ? lAction.mActionTime : 0);
        });
        aStatus = lAnswer == TnActionAckStatusOK ? gev::kGvcpStatusSuccess : gev::kGvcpStatusError;
        return true;
    }
    default:
        return false;
    }
}

void TnSoftDevice::ResetNetwork()
{
    DropControl();
    TellSinks("OnDeviceResetNetwork", [&](ITnVirtualDeviceGEVEventSink *lSink) {
        lSink->OnDeviceResetNetwork(mOuter);
    });
}

void TnSoftDevice::OnControlTaken(const gev::TnGvcpPeer &aPeer, uint32_t aPrivilege)
{
    mStatistics.Add(TnSoftDeviceStatistics::SessionsOpened);
    const TnString lAddress(gev::FormatIPv4(aPeer.mAddress).c_str());
    const TnAccessType lAccess = (aPrivilege & gev::kPrivilegeExclusive) != 0 ? TnAccessExclusive : TnAccessControl;
    if (mRegisters.mControlChannelPrivilege != nullptr)
    {
        mRegisters.mControlChannelPrivilege->PokeInt(aPrivilege);
    }
    TellSinks("OnApplicationConnect", [&](ITnVirtualDeviceGEVEventSink *lSink) {
        lSink->OnApplicationConnect(mOuter, lAddress, aPeer.mPort, lAccess);
    });
}

void TnSoftDevice::OnControlLeft(const gev::TnGvcpPeer &, bool aExpired)
{
    mStatistics.Add(TnSoftDeviceStatistics::SessionsClosed);
    if (aExpired)
    {
        mStatistics.Add(TnSoftDeviceStatistics::HeartbeatFailed);
    }
    if (mRegisters.mControlChannelPrivilege != nullptr)
    {
        mRegisters.mControlChannelPrivilege->PokeInt(0);
        mRegisters.mMessageChannelPort->PokeInt(0);
    }
    // A controller gone: its streams stop, as on a real device (RTP streams
    // are no controller's).
    for (auto &lChannel : mChannels)
    {
        if (!lChannel->IsRtp())
        {
            lChannel->StopAcquisition();
        }
    }
    TellSinks("OnApplicationDisconnect", [&](ITnVirtualDeviceGEVEventSink *lSink) {
        lSink->OnApplicationDisconnect(mOuter);
    });
}
} // namespace softdevice
} // namespace tn
