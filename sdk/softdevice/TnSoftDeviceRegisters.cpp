// The software device's reactions to its own registers: a source asked
// before a geometry or chunk register changes, and the channels, counters
// and resets that follow a write.
#include "TnSoftDevice.h"

#include "TnGevAddress.h"
#include "TnSoftDeviceLog.h"

namespace tn
{
namespace softdevice
{
int TnSoftDevice::SourceOf(ITnRegister *aRegister) const
{
    for (size_t lIndex = 0; lIndex < mRegisters.mSources.size(); ++lIndex)
    {
        const TnSourceRegisters &lR = mRegisters.mSources[lIndex];
        for (const TnRegister *lRegister :
             {lR.mWidth, lR.mHeight, lR.mOffsetX, lR.mOffsetY, lR.mPixelFormat, lR.mAcquisitionStart,
              lR.mAcquisitionStop, lR.mChunkModeActive, lR.mChunkEnable, lR.mStreamPort, lR.mPacketSize,
              lR.mPacketDelay, lR.mDestination, lR.mGenDCStreamingMode, lR.mStreamProtocol})
        {
            if (lRegister == aRegister)
            {
                return static_cast<int>(lIndex);
            }
        }
    }
    return -1;
}

TnResult TnSoftDevice::PreRead(ITnRegister *aRegister)
{
    (void)aRegister;
    // The registers of a device inherited across a fork are the parent's.
    return IsInherited() ? InheritedFailure("the device's registers") : TnResult(TN_OK);
}

TnResult TnSoftDevice::PreWrite(ITnRegister *aRegister)
{
    if (IsInherited())
    {
        return InheritedFailure("the device's registers");
    }
    const int lIndex = SourceOf(aRegister);
    if (lIndex < 0 || static_cast<size_t>(lIndex) >= mSources.size())
    {
        return TnResult(TN_OK);
    }
    TnSourceRegisters &lR = mRegisters.mSources[lIndex];
    ITnSWStreamingChannelSource *lSource = mSources[lIndex];
    const SinkRegistry<ITnSWStreamingChannelSource>::CallScope lAsking(mSourceGate, lSource);
    if (!lAsking)
    {
        return Failure(TN_STATE_ERROR, "the source of stream channel " + std::to_string(lIndex) + " was destroyed");
    }
    uint32_t lValue = 0;
    aRegister->ReadInt(lValue);
    // What the source must accept: the geometry and the chunk settings.
    if (aRegister == lR.mWidth)
    {
        return GuardedResult("SetWidth", [&] { return lSource->SetWidth(lValue); });
    }
    if (aRegister == lR.mHeight)
    {
        return GuardedResult("SetHeight", [&] { return lSource->SetHeight(lValue); });
    }
    if (aRegister == lR.mOffsetX)
    {
        return GuardedResult("SetOffsetX", [&] { return lSource->SetOffsetX(lValue); });
    }
    if (aRegister == lR.mOffsetY)
    {
        return GuardedResult("SetOffsetY", [&] { return lSource->SetOffsetY(lValue); });
    }
    if (aRegister == lR.mPixelFormat)
    {
        return GuardedResult("SetPixelType", [&] { return lSource->SetPixelType(static_cast<TnPixelType>(lValue)); });
    }
    if (aRegister == lR.mChunkModeActive)
    {
        return GuardedResult("SetChunkModeActive", [&] { return lSource->SetChunkModeActive(lValue != 0); });
    }
    if (aRegister == lR.mChunkEnable)
    {
        const uint32_t lSelected = lR.mChunkSelector->PeekInt();
        if (lSelected < lR.mChunkIds.size())
        {
            const bool lEnabled = lR.mChunkEnable->PeekInt(4 * lSelected) != 0;
            return GuardedResult("SetChunkEnable",
                                 [&] { return lSource->SetChunkEnable(lR.mChunkIds[lSelected], lEnabled); });
        }
    }
    if (aRegister == lR.mGenDCStreamingMode)
    {
        auto *lGenDC = dynamic_cast<ITnSWStreamingChannelSourceGenDC *>(lSource);
        if (lValue > 1 || lGenDC == nullptr)
        {
            return Failure(TN_INVALID_PARAMETER, "GenDC streaming mode is 0 (Off) or 1 (On)");
        }
        return GuardedResult("SetGenDCStreamingMode", [&] { return lGenDC->SetGenDCStreamingMode(lValue != 0); });
    }
    return TnResult(TN_OK);
}

void TnSoftDevice::ResetFull()
{
    // As a power cycle: control released, streams stopped, the registers at
    // their values of the start (the default user set).
    DropControl();
    for (auto &lChannel : mChannels)
    {
        lChannel->StopAcquisition();
    }
    if (mUserSets)
    {
        mUserSets->Load(0);
    }
    StartRtpChannels();
    TellSinks("OnDeviceResetFull", [&](ITnVirtualDeviceGEVEventSink *lSink) { lSink->OnDeviceResetFull(mOuter); });
}

void TnSoftDevice::PostWrite(ITnRegister *aRegister)
{
    if (aRegister == mRegisters.mDeviceReset)
    {
        ResetFull();
        return;
    }
    if (aRegister == mRegisters.mHeartbeatTimeout)
    {
        SetHeartbeatTimeout(mRegisters.mHeartbeatTimeout->PeekInt());
        return;
    }
    if (aRegister == mRegisters.mTimestampControl)
    {
        const uint32_t lControl = mRegisters.mTimestampControl->PeekInt();
        if ((lControl & 1) != 0)
        {
            mTimestampOrigin = gev::MonotonicNanoseconds();
            for (auto &lChannel : mChannels)
            {
                lChannel->SetTimestampOrigin(mTimestampOrigin);
            }
        }
        if ((lControl & 2) != 0)
        {
            const uint64_t lNow = TimestampNow();
            mRegisters.mTimestampValueHigh->PokeInt(static_cast<uint32_t>(lNow >> 32));
            mRegisters.mTimestampValueLow->PokeInt(static_cast<uint32_t>(lNow));
        }
        mRegisters.mTimestampControl->PokeInt(0);
        return;
    }
    const int lIndex = SourceOf(aRegister);
    if (lIndex < 0 || static_cast<size_t>(lIndex) >= mChannels.size())
    {
        return;
    }
    TnSourceRegisters &lR = mRegisters.mSources[lIndex];
    TnStreamChannel &lChannel = *mChannels[lIndex];
    ITnSWStreamingChannelSource *lSource = mSources[lIndex];
    if (aRegister == lR.mWidth || aRegister == lR.mHeight || aRegister == lR.mOffsetX || aRegister == lR.mOffsetY ||
        aRegister == lR.mPixelFormat || aRegister == lR.mChunkModeActive || aRegister == lR.mChunkEnable)
    {
        UpdatePayloadSize(lIndex);
    }
    else if (aRegister == lR.mGenDCStreamingMode)
    {
        lChannel.SetGenDC(StreamsGenDC(lIndex));
        UpdatePayloadSize(lIndex);
    }
    else if (aRegister == lR.mAcquisitionStart)
    {
        lChannel.StartAcquisition();
    }
    else if (aRegister == lR.mAcquisitionStop)
    {
        lChannel.StopAcquisition();
    }
    else if (aRegister == lR.mPacketSize)
    {
        const uint32_t lValue = lR.mPacketSize->PeekInt();
        lChannel.SetPacketSize(lValue & 0xFFFF);
        if ((lValue & 0x80000000u) != 0)
        {
            lR.mPacketSize->PokeInt(lValue & ~0x80000000u);
            mStatistics.Add(TnSoftDeviceStatistics::TestPackets);
            lChannel.FireTestPacket();
        }
    }
    else if (aRegister == lR.mPacketDelay)
    {
        lChannel.SetPacketDelay(lR.mPacketDelay->PeekInt());
    }
    else if (aRegister == lR.mStreamProtocol)
    {
        // RTP streams from now on; GVSP waits for AcquisitionStart.
        const bool lRtp = lR.mStreamProtocol->PeekInt() == 1;
        lChannel.StopAcquisition();
        lChannel.SetRtp(lRtp);
        if (lRtp)
        {
            lChannel.StartAcquisition();
        }
    }
    else if (aRegister == lR.mDestination || aRegister == lR.mStreamPort)
    {
        const uint32_t lDestination = lR.mDestination->PeekInt();
        const uint16_t lPort = static_cast<uint16_t>(lR.mStreamPort->PeekInt());
        lChannel.SetDestination(lDestination, lPort);
        if (aRegister == lR.mStreamPort)
        {
            if (lPort != 0 && lDestination != 0)
            {
                const TnString lAddress(gev::FormatIPv4(lDestination).c_str());
                Guarded(mSourceGate, lSource, "OnOpen", [&] { lSource->OnOpen(lAddress, lPort); });
            }
            else if (lPort == 0)
            {
                lChannel.StopAcquisition();
                Guarded(mSourceGate, lSource, "OnClose", [&] { lSource->OnClose(); });
            }
        }
    }
}
} // namespace softdevice
} // namespace tn
