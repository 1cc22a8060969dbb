#include "TnGvcpDevice.h"

#include <string.h>

#include <chrono>
#include <thread>

#include "TnGevBytes.h"

namespace tn
{
namespace gev
{
namespace
{
bool SamePeer(const TnGvcpPeer &aFirst, const TnGvcpPeer &aSecond)
{
    return aFirst.mAddress == aSecond.mAddress && aFirst.mPort == aSecond.mPort;
}

uint32_t ChannelRegister(uint32_t aChannel, uint32_t aOffset)
{
    return kRegStreamChannelBase + kRegStreamChannelStride * aChannel + aOffset;
}
} // namespace

TnGvcpDevice::TnGvcpDevice(const TnGvcpDeviceInfo &aInfo, size_t aMemorySize)
    : mMemory(std::max<size_t>(aMemorySize, 0x1000), 0)
{
    const std::vector<uint8_t> lBlock = EncodeDeviceInfo(aInfo);
    memcpy(mMemory.data(), lBlock.data(), lBlock.size());
    PutU32(mMemory.data() + kRegNumberOfInterfaces, 1);
    PutU32(mMemory.data() + kRegNumberOfMessageChannels, 1);
    PutU32(mMemory.data() + kRegNumberOfStreamChannels, 1);
    PutU32(mMemory.data() + kRegGvcpCapability, kCapabilityWriteMemory | kCapabilityEvent | kCapabilityEventData |
                                                    kCapabilityPendingAck | kCapabilityConcatenation);
    PutU32(mMemory.data() + kRegHeartbeatTimeout, 3000);
    PutU32(mMemory.data() + kRegMessageChannelTimeout, 200);
    PutU32(mMemory.data() + kRegMessageChannelRetryCount, 2);
    PutU32(mMemory.data() + ChannelRegister(0, kRegStreamChannelPacketSize), 1500);
    mStreamSocket.Open(0, 0);
}

TnGvcpDevice::~TnGvcpDevice() = default;

bool TnGvcpDevice::InRange(uint32_t aAddress, size_t aSize) const
{
    return aAddress <= mMemory.size() && aSize <= mMemory.size() - aAddress;
}

bool TnGvcpDevice::Peek(uint32_t aAddress, void *aData, size_t aSize) const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!InRange(aAddress, aSize))
    {
        return false;
    }
    memcpy(aData, mMemory.data() + aAddress, aSize);
    return true;
}

bool TnGvcpDevice::Poke(uint32_t aAddress, const void *aData, size_t aSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!InRange(aAddress, aSize))
    {
        return false;
    }
    memcpy(mMemory.data() + aAddress, aData, aSize);
    mHeartbeatMs = GetU32(mMemory.data() + kRegHeartbeatTimeout);
    return true;
}

uint32_t TnGvcpDevice::GetRegister(uint32_t aAddress) const
{
    uint8_t lBytes[4] = {0, 0, 0, 0};
    Peek(aAddress, lBytes, sizeof(lBytes));
    return GetU32(lBytes);
}

void TnGvcpDevice::SetRegister(uint32_t aAddress, uint32_t aValue)
{
    uint8_t lBytes[4];
    PutU32(lBytes, aValue);
    Poke(aAddress, lBytes, sizeof(lBytes));
}

void TnGvcpDevice::SetFirstUrl(const std::string &aUrl)
{
    std::vector<uint8_t> lField(kUrlSize, 0);
    memcpy(lField.data(), aUrl.data(), std::min(aUrl.size(), kUrlSize - 1));
    Poke(kRegFirstUrl, lField.data(), lField.size());
}

bool TnGvcpDevice::SetLocalXml(const std::string &aName, uint32_t aAddress, const std::vector<uint8_t> &aFile)
{
    if (aFile.empty() || !Poke(aAddress, aFile.data(), aFile.size()))
    {
        return false;
    }
    char lUrl[64];
    snprintf(lUrl, sizeof(lUrl), ";%x;%zx", aAddress, aFile.size());
    SetFirstUrl("Local:" + aName + lUrl);
    return true;
}

void TnGvcpDevice::SetPathMtu(uint32_t aPacketSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mPathMtu = aPacketSize;
}

void TnGvcpDevice::SetSlowWrites(uint16_t aPendingMs, uint32_t aDelayMs)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mPendingMs = aPendingMs;
    mDelayMs = aDelayMs;
}

bool TnGvcpDevice::GetController(TnGvcpPeer &aPeer) const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    aPeer = mController;
    return mHeld;
}

uint64_t TnGvcpDevice::GetCommandCount() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mCommands;
}

uint64_t TnGvcpDevice::GetTestPacketCount() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mTestPackets;
}

void TnGvcpDevice::ExpireLocked(uint64_t aNow, std::vector<Change> &aChanges)
{
    if (mHeld && aNow - mLastHeard > mHeartbeatMs)
    {
        // The controller fell silent: its privilege and message channel end.
        mHeld = false;
        mPrivilege = 0;
        PutU32(mMemory.data() + kRegControlChannelPrivilege, 0);
        PutU32(mMemory.data() + kRegMessageChannelPort, 0);
        Change lChange;
        lChange.mExpired = true;
        lChange.mPeer = mController;
        aChanges.push_back(lChange);
    }
}

uint16_t TnGvcpDevice::CheckAccessLocked(const TnGvcpPeer &aPeer, bool aWrite, std::vector<Change> &aChanges)
{
    ++mCommands;
    const uint64_t lNow = MonotonicMilliseconds();
    if (mHeld && SamePeer(aPeer, mController))
    {
        mLastHeard = lNow;
        return kGvcpStatusSuccess;
    }
    ExpireLocked(lNow, aChanges);
    if (!mHeld)
    {
        return kGvcpStatusSuccess;
    }
    const bool lExclusive = (mPrivilege & kPrivilegeExclusive) != 0;
    return aWrite || lExclusive ? kGvcpStatusAccessDenied : kGvcpStatusSuccess;
}

uint16_t TnGvcpDevice::WritePrivilegeLocked(const TnGvcpPeer &aPeer, uint32_t aValue, std::vector<Change> &aChanges)
{
    const uint32_t lBits = aValue & (kPrivilegeControl | kPrivilegeExclusive);
    if (lBits == 0)
    {
        if (mHeld && SamePeer(aPeer, mController))
        {
            mHeld = false;
            PutU32(mMemory.data() + kRegMessageChannelPort, 0);
            Change lChange;
            lChange.mPeer = aPeer;
            aChanges.push_back(lChange);
        }
    }
    else
    {
        const bool lNew = !mHeld;
        mHeld = true;
        mController = aPeer;
        mLastHeard = MonotonicMilliseconds();
        if (lNew)
        {
            Change lChange;
            lChange.mTaken = true;
            lChange.mPeer = aPeer;
            lChange.mPrivilege = lBits;
            aChanges.push_back(lChange);
        }
    }
    mPrivilege = lBits;
    PutU32(mMemory.data() + kRegControlChannelPrivilege, lBits);
    return kGvcpStatusSuccess;
}

void TnGvcpDevice::Tell(const std::vector<Change> &aChanges)
{
    for (const Change &lChange : aChanges)
    {
        if (lChange.mTaken)
        {
            OnControlTaken(lChange.mPeer, lChange.mPrivilege);
        }
        else
        {
            OnControlLeft(lChange.mPeer, lChange.mExpired);
        }
    }
}

void TnGvcpDevice::CheckHeartbeat()
{
    std::vector<Change> lChanges;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        ExpireLocked(MonotonicMilliseconds(), lChanges);
    }
    Tell(lChanges);
}

void TnGvcpDevice::SetHeartbeatTimeout(uint32_t aMilliseconds)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mHeartbeatMs = aMilliseconds;
    PutU32(mMemory.data() + kRegHeartbeatTimeout, aMilliseconds);
}

void TnGvcpDevice::DropControl()
{
    std::vector<Change> lChanges;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (mHeld)
        {
            mHeld = false;
            mPrivilege = 0;
            PutU32(mMemory.data() + kRegControlChannelPrivilege, 0);
            PutU32(mMemory.data() + kRegMessageChannelPort, 0);
            Change lChange;
            lChange.mPeer = mController;
            lChanges.push_back(lChange);
        }
    }
    Tell(lChanges);
}

void TnGvcpDevice::OnControlTaken(const TnGvcpPeer &, uint32_t) {}

void TnGvcpDevice::OnControlLeft(const TnGvcpPeer &, bool) {}

void TnGvcpDevice::FireTestPacketLocked(uint32_t aChannel, uint32_t aPacketSize)
{
    const uint32_t lDestination = GetU32(mMemory.data() + ChannelRegister(aChannel, kRegStreamChannelDestination));
    const uint16_t lPort =
        static_cast<uint16_t>(GetU32(mMemory.data() + ChannelRegister(aChannel, kRegStreamChannelPort)));
    const uint32_t lSize = aPacketSize & kPacketSizeMask;
    ++mTestPackets;
    // IP and UDP headers (28 bytes) are part of the packet size.
    if (lDestination == 0 || lPort == 0 || lSize > mPathMtu || lSize <= 28 + 8)
    {
        return; // lost on its way
    }
    std::vector<uint8_t> lPacket(lSize - 28, 0);
    PutU16(lPacket.data() + 2, 0); // block id 0
    lPacket[4] = 0x04;             // all-in
    mStreamSocket.SendTo(lDestination, lPort, lPacket.data(), lPacket.size());
}

uint16_t TnGvcpDevice::ReadMemory(const TnGvcpPeer &aPeer, uint32_t aAddress, uint8_t *aData, size_t aSize)
{
    std::vector<Change> lChanges;
    uint16_t lStatus;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lStatus = CheckAccessLocked(aPeer, false, lChanges);
    }
    Tell(lChanges);
    return lStatus != kGvcpStatusSuccess ? lStatus : ReadSpace(aAddress, aData, aSize);
}

uint16_t TnGvcpDevice::ReadSpace(uint32_t aAddress, uint8_t *aData, size_t aSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!InRange(aAddress, aSize))
    {
        return kGvcpStatusInvalidAddress;
    }
    memcpy(aData, mMemory.data() + aAddress, aSize);
    return kGvcpStatusSuccess;
}

uint16_t TnGvcpDevice::WriteMemory(const TnGvcpPeer &aPeer, uint32_t aAddress, const uint8_t *aData, size_t aSize)
{
    uint32_t lDelay = 0;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lDelay = mDelayMs;
    }
    if (lDelay != 0)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(lDelay));
    }
    std::vector<Change> lChanges;
    uint16_t lStatus;
    const bool lPrivilege = aAddress == kRegControlChannelPrivilege && aSize == 4;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        // Taking privilege: only when nobody (alive) holds it, or the holder.
        lStatus = CheckAccessLocked(aPeer, true, lChanges);
        if (lStatus == kGvcpStatusSuccess && lPrivilege)
        {
            lStatus = WritePrivilegeLocked(aPeer, GetU32(aData), lChanges);
        }
    }
    Tell(lChanges);
    if (lStatus != kGvcpStatusSuccess || lPrivilege)
    {
        return lStatus;
    }
    return WriteSpace(aAddress, aData, aSize);
}

uint16_t TnGvcpDevice::WriteSpace(uint32_t aAddress, const uint8_t *aData, size_t aSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!InRange(aAddress, aSize))
    {
        return kGvcpStatusInvalidAddress;
    }
    if (aAddress < kRegNumberOfInterfaces &&
        !(aAddress >= kRegUserDefinedName && aAddress + aSize <= kRegUserDefinedName + kUserDefinedNameSize))
    {
        return kGvcpStatusWriteProtect; // the bootstrap block up to the URLs, but for the user-defined name
    }
    memcpy(mMemory.data() + aAddress, aData, aSize);
    if (aAddress <= kRegHeartbeatTimeout && aAddress + aSize >= kRegHeartbeatTimeout + 4)
    {
        mHeartbeatMs = GetU32(mMemory.data() + kRegHeartbeatTimeout);
    }
    // Stream channel packet size: the fire-test-packet bit sends one now.
    for (uint32_t lOffset = 0; lOffset < aSize; lOffset += 4)
    {
        const uint32_t lAddress = aAddress + lOffset;
        const uint32_t lChannel = (lAddress - kRegStreamChannelBase) / kRegStreamChannelStride;
        if (lAddress >= kRegStreamChannelBase && lChannel < GetU32(mMemory.data() + kRegNumberOfStreamChannels) &&
            (lAddress - kRegStreamChannelBase) % kRegStreamChannelStride == kRegStreamChannelPacketSize)
        {
            const uint32_t lValue = GetU32(mMemory.data() + lAddress);
            if ((lValue & kPacketSizeFireTestPacket) != 0)
            {
                PutU32(mMemory.data() + lAddress, lValue & ~kPacketSizeFireTestPacket);
                FireTestPacketLocked(lChannel, lValue);
            }
        }
    }
    return kGvcpStatusSuccess;
}

uint16_t TnGvcpDevice::GetDiscoveryData(const TnGvcpPeer &, uint8_t *aData, size_t aSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    memcpy(aData, mMemory.data(), std::min(aSize, mMemory.size()));
    return kGvcpStatusSuccess;
}

uint16_t TnGvcpDevice::GetPendingTime(const TnGvcpPeer &, const TnGvcpCommand &aCommand)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    const bool lWrite = aCommand.mHeader.mCommand == kGvcpWriteMemCmd || aCommand.mHeader.mCommand == kGvcpWriteRegCmd;
    return lWrite ? mPendingMs : 0;
}

bool TnGvcpDevice::HandleCommand(const TnGvcpPeer &, const TnGvcpCommand &aCommand, uint16_t &aStatus,
                                 uint16_t &aAcknowledge, std::vector<uint8_t> &aPayload)
{
    if (aCommand.mHeader.mCommand != kGvcpForceIpCmd)
    {
        return false;
    }
    aAcknowledge = kGvcpForceIpAck;
    aPayload.clear();
    TnGvcpForceIp lForce;
    if (!DecodeForceIpCmd(aCommand, lForce))
    {
        aStatus = kGvcpStatusInvalidParameter;
        return true;
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    const uint64_t lMac = (static_cast<uint64_t>(GetU32(mMemory.data() + kRegMacHigh) & 0xFFFF) << 32) |
                          GetU32(mMemory.data() + kRegMacLow);
    if (lForce.mMac != lMac)
    {
        return false; // not for this device: no answer worth giving
    }
    PutU32(mMemory.data() + kRegCurrentIP, lForce.mIP);
    PutU32(mMemory.data() + kRegCurrentSubnetMask, lForce.mSubnetMask);
    PutU32(mMemory.data() + kRegCurrentGateway, lForce.mGateway);
    aStatus = kGvcpStatusSuccess;
    return true;
}

TnResult TnGvcpDevice::SendEvent(const TnGvcpEvent &aEvent, const uint8_t *aData, size_t aSize)
{
    const uint32_t lAddress = GetRegister(kRegMessageChannelDestination);
    const uint16_t lPort = static_cast<uint16_t>(GetRegister(kRegMessageChannelPort));
    if (lAddress == 0 || lPort == 0)
    {
        return TnResult(TN_NOT_CONNECTED, TnString("the message channel is closed"));
    }
    std::lock_guard<std::mutex> lLock(mEventMutex);
    if (!mMessageChannel.IsOpen() || mMessageChannel.GetDeviceAddress() != lAddress ||
        mMessageChannel.GetDevicePort() != lPort)
    {
        TnResult lResult = mMessageChannel.Open(lAddress, lPort);
        if (!lResult.IsOK())
        {
            return lResult;
        }
    }
    mMessageChannel.SetTimeout(GetRegister(kRegMessageChannelTimeout));
    mMessageChannel.SetRetryCount(GetRegister(kRegMessageChannelRetryCount));
    std::vector<uint8_t> lCommand = aData != nullptr ? BuildEventDataCmd(0, aEvent, aData, aSize)
                                                     : BuildEventCmd(0, std::vector<TnGvcpEvent>{aEvent});
    const uint16_t lAck = aData != nullptr ? kGvcpEventDataAck : kGvcpEventAck;
    std::vector<uint8_t> lAnswer;
    TnGvcpAck lDecoded;
    return mMessageChannel.Transact(lCommand, lAck, lAnswer, lDecoded);
}
} // namespace gev
} // namespace tn
