#include "TnGvcp.h"

#include <stdio.h>

#include "TnGevAddress.h"
#include "TnGevBytes.h"

namespace tn
{
namespace gev
{
namespace
{
constexpr size_t kEventSize = 16;

std::vector<uint8_t> BuildCommand(uint8_t aFlags, uint16_t aCommand, uint16_t aRequestId,
                                  const std::vector<uint8_t> &aPayload)
{
    std::vector<uint8_t> lPacket;
    lPacket.reserve(kGvcpHeaderSize + aPayload.size());
    TnGvcpCommandHeader lHeader;
    lHeader.mFlags = aFlags;
    lHeader.mCommand = aCommand;
    lHeader.mLength = static_cast<uint16_t>(aPayload.size());
    lHeader.mRequestId = aRequestId;
    AppendCommandHeader(lPacket, lHeader);
    lPacket.insert(lPacket.end(), aPayload.begin(), aPayload.end());
    return lPacket;
}

void AppendEvent(TnByteWriter &aWriter, const TnGvcpEvent &aEvent)
{
    aWriter.U16(0);
    aWriter.U16(aEvent.mEventId);
    aWriter.U16(aEvent.mStreamChannel);
    aWriter.U16(aEvent.mBlockId);
    aWriter.U64(aEvent.mTimestamp);
}

void ReadEvent(TnByteReader &aReader, TnGvcpEvent &aEvent)
{
    aReader.Skip(2);
    aEvent.mEventId = aReader.U16();
    aEvent.mStreamChannel = aReader.U16();
    aEvent.mBlockId = aReader.U16();
    aEvent.mTimestamp = aReader.U64();
}

bool IsCommand(const TnGvcpCommand &aCommand, uint16_t aCode)
{
    return aCommand.mHeader.mCommand == aCode && (aCommand.mPayload != nullptr || aCommand.mPayloadSize == 0);
}

bool IsAck(const TnGvcpAck &aAck, uint16_t aCode)
{
    return aAck.mHeader.mAcknowledge == aCode && (aAck.mPayload != nullptr || aAck.mPayloadSize == 0);
}

} // namespace

uint64_t TnGvcpDeviceInfo::GetMacValue() const
{
    return MacFromBytes(mMac);
}

void TnGvcpDeviceInfo::SetMacValue(uint64_t aMac)
{
    for (int lIndex = 5; lIndex >= 0; --lIndex)
    {
        mMac[lIndex] = static_cast<uint8_t>(aMac);
        aMac >>= 8;
    }
}

void AppendCommandHeader(std::vector<uint8_t> &aPacket, const TnGvcpCommandHeader &aHeader)
{
    TnByteWriter lWriter(aPacket);
    lWriter.U8(kGvcpKey);
    lWriter.U8(aHeader.mFlags);
    lWriter.U16(aHeader.mCommand);
    lWriter.U16(aHeader.mLength);
    lWriter.U16(aHeader.mRequestId);
}

void AppendAckHeader(std::vector<uint8_t> &aPacket, const TnGvcpAckHeader &aHeader)
{
    TnByteWriter lWriter(aPacket);
    lWriter.U16(aHeader.mStatus);
    lWriter.U16(aHeader.mAcknowledge);
    lWriter.U16(aHeader.mLength);
    lWriter.U16(aHeader.mAckId);
}

bool DecodeCommand(const uint8_t *aData, size_t aSize, TnGvcpCommand &aCommand)
{
    if (aData == nullptr || aSize < kGvcpHeaderSize || aData[0] != kGvcpKey)
    {
        return false;
    }
    TnByteReader lReader(aData, aSize);
    lReader.Skip(1);
    aCommand.mHeader.mFlags = lReader.U8();
    aCommand.mHeader.mCommand = lReader.U16();
    aCommand.mHeader.mLength = lReader.U16();
    aCommand.mHeader.mRequestId = lReader.U16();
    if (aCommand.mHeader.mLength > aSize - kGvcpHeaderSize)
    {
        return false;
    }
    aCommand.mPayload = aData + kGvcpHeaderSize;
    aCommand.mPayloadSize = aCommand.mHeader.mLength;
    return true;
}

bool DecodeAck(const uint8_t *aData, size_t aSize, TnGvcpAck &aAck)
{
    if (aData == nullptr || aSize < kGvcpHeaderSize)
    {
        return false;
    }
    TnByteReader lReader(aData, aSize);
    aAck.mHeader.mStatus = lReader.U16();
    aAck.mHeader.mAcknowledge = lReader.U16();
    aAck.mHeader.mLength = lReader.U16();
    aAck.mHeader.mAckId = lReader.U16();
    if (aAck.mHeader.mLength > aSize - kGvcpHeaderSize)
    {
        return false;
    }
    aAck.mPayload = aData + kGvcpHeaderSize;
    aAck.mPayloadSize = aAck.mHeader.mLength;
    return true;
}

std::vector<uint8_t> BuildDiscoveryCmd(uint16_t aRequestId, bool aAllowBroadcastAck)
{
    const uint8_t lFlags = kGvcpFlagAcknowledge | (aAllowBroadcastAck ? kGvcpFlagDiscoveryBroadcastAck : 0);
    return BuildCommand(lFlags, kGvcpDiscoveryCmd, aRequestId, {});
}

std::vector<uint8_t> BuildForceIpCmd(uint16_t aRequestId, const TnGvcpForceIp &aForceIp)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    lWriter.U16(0);
    lWriter.U16(static_cast<uint16_t>(aForceIp.mMac >> 32));
    lWriter.U32(static_cast<uint32_t>(aForceIp.mMac));
    lWriter.Zeros(12);
    lWriter.U32(aForceIp.mIP);
    lWriter.Zeros(12);
    lWriter.U32(aForceIp.mSubnetMask);
    lWriter.Zeros(12);
    lWriter.U32(aForceIp.mGateway);
    return BuildCommand(kGvcpFlagAcknowledge, kGvcpForceIpCmd, aRequestId, lPayload);
}

std::vector<uint8_t> BuildReadRegCmd(uint16_t aRequestId, const uint32_t *aAddresses, size_t aCount)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        lWriter.U32(aAddresses[lIndex]);
    }
    return BuildCommand(kGvcpFlagAcknowledge, kGvcpReadRegCmd, aRequestId, lPayload);
}

std::vector<uint8_t> BuildWriteRegCmd(uint16_t aRequestId, const uint32_t *aAddresses, const uint32_t *aValues,
                                      size_t aCount)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        lWriter.U32(aAddresses[lIndex]);
        lWriter.U32(aValues[lIndex]);
    }
    return BuildCommand(kGvcpFlagAcknowledge, kGvcpWriteRegCmd, aRequestId, lPayload);
}

std::vector<uint8_t> BuildReadMemCmd(uint16_t aRequestId, uint32_t aAddress, uint16_t aCount)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    lWriter.U32(aAddress);
    lWriter.U16(0);
    lWriter.U16(aCount);
    return BuildCommand(kGvcpFlagAcknowledge, kGvcpReadMemCmd, aRequestId, lPayload);
}

std::vector<uint8_t> BuildWriteMemCmd(uint16_t aRequestId, uint32_t aAddress, const uint8_t *aData, size_t aSize)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    lWriter.U32(aAddress);
    lWriter.Bytes(aData, aSize);
    return BuildCommand(kGvcpFlagAcknowledge, kGvcpWriteMemCmd, aRequestId, lPayload);
}

std::vector<uint8_t> BuildPacketResendCmd(uint16_t aRequestId, const TnGvcpPacketResend &aResend)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    lWriter.U16(aResend.mStreamChannel);
    if (aResend.mExtendedIds)
    {
        lWriter.U16(0);
        lWriter.U32(aResend.mFirstPacketId);
        lWriter.U32(aResend.mLastPacketId);
        lWriter.U64(aResend.mBlockId);
    }
    else
    {
        lWriter.U16(static_cast<uint16_t>(aResend.mBlockId));
        lWriter.U32(aResend.mFirstPacketId & 0x00FFFFFFu);
        lWriter.U32(aResend.mLastPacketId & 0x00FFFFFFu);
    }
    // A resend request is never acknowledged: the packets are the answer.
    return BuildCommand(aResend.mExtendedIds ? kGvcpFlagExtendedIds : 0, kGvcpPacketResendCmd, aRequestId, lPayload);
}

std::vector<uint8_t> BuildEventCmd(uint16_t aRequestId, const std::vector<TnGvcpEvent> &aEvents, bool aAcknowledge)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    for (const TnGvcpEvent &lEvent : aEvents)
    {
        AppendEvent(lWriter, lEvent);
    }
    return BuildCommand(aAcknowledge ? kGvcpFlagAcknowledge : 0, kGvcpEventCmd, aRequestId, lPayload);
}

std::vector<uint8_t> BuildEventDataCmd(uint16_t aRequestId, const TnGvcpEvent &aEvent, const uint8_t *aData,
                                       size_t aSize, bool aAcknowledge)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    AppendEvent(lWriter, aEvent);
    lWriter.Bytes(aData, aSize);
    return BuildCommand(aAcknowledge ? kGvcpFlagAcknowledge : 0, kGvcpEventDataCmd, aRequestId, lPayload);
}

std::vector<uint8_t> BuildActionCmd(uint16_t aRequestId, const TnGvcpAction &aAction, bool aAcknowledge)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    lWriter.U32(aAction.mDeviceKey);
    lWriter.U32(aAction.mGroupKey);
    lWriter.U32(aAction.mGroupMask);
    if (aAction.mScheduled)
    {
        lWriter.U64(aAction.mActionTime);
    }
    const uint8_t lFlags = (aAcknowledge ? kGvcpFlagAcknowledge : 0) | (aAction.mScheduled ? kGvcpFlagActionScheduled : 0);
    return BuildCommand(lFlags, kGvcpActionCmd, aRequestId, lPayload);
}

bool DecodeForceIpCmd(const TnGvcpCommand &aCommand, TnGvcpForceIp &aForceIp)
{
    if (!IsCommand(aCommand, kGvcpForceIpCmd) || aCommand.mPayloadSize < 56)
    {
        return false;
    }
    TnByteReader lReader(aCommand.mPayload, aCommand.mPayloadSize);
    lReader.Skip(2);
    const uint64_t lHigh = lReader.U16();
    aForceIp.mMac = (lHigh << 32) | lReader.U32();
    lReader.Skip(12);
    aForceIp.mIP = lReader.U32();
    lReader.Skip(12);
    aForceIp.mSubnetMask = lReader.U32();
    lReader.Skip(12);
    aForceIp.mGateway = lReader.U32();
    return lReader.IsOk();
}

bool DecodeReadRegCmd(const TnGvcpCommand &aCommand, std::vector<uint32_t> &aAddresses)
{
    if (!IsCommand(aCommand, kGvcpReadRegCmd) || aCommand.mPayloadSize == 0 || aCommand.mPayloadSize % 4 != 0)
    {
        return false;
    }
    aAddresses.clear();
    TnByteReader lReader(aCommand.mPayload, aCommand.mPayloadSize);
    while (lReader.GetRemaining() >= 4)
    {
        aAddresses.push_back(lReader.U32());
    }
    return lReader.IsOk();
}

bool DecodeWriteRegCmd(const TnGvcpCommand &aCommand, std::vector<std::pair<uint32_t, uint32_t>> &aWrites)
{
    if (!IsCommand(aCommand, kGvcpWriteRegCmd) || aCommand.mPayloadSize == 0 || aCommand.mPayloadSize % 8 != 0)
    {
        return false;
    }
    aWrites.clear();
    TnByteReader lReader(aCommand.mPayload, aCommand.mPayloadSize);
    while (lReader.GetRemaining() >= 8)
    {
        const uint32_t lAddress = lReader.U32();
        aWrites.emplace_back(lAddress, lReader.U32());
    }
    return lReader.IsOk();
}

bool DecodeReadMemCmd(const TnGvcpCommand &aCommand, uint32_t &aAddress, uint16_t &aCount)
{
    if (!IsCommand(aCommand, kGvcpReadMemCmd) || aCommand.mPayloadSize != 8)
    {
        return false;
    }
    TnByteReader lReader(aCommand.mPayload, aCommand.mPayloadSize);
    aAddress = lReader.U32();
    lReader.Skip(2);
    aCount = lReader.U16();
    return lReader.IsOk();
}

bool DecodeWriteMemCmd(const TnGvcpCommand &aCommand, uint32_t &aAddress, const uint8_t *&aData, size_t &aSize)
{
    if (!IsCommand(aCommand, kGvcpWriteMemCmd) || aCommand.mPayloadSize < 4)
    {
        return false;
    }
    aAddress = GetU32(aCommand.mPayload);
    aData = aCommand.mPayload + 4;
    aSize = aCommand.mPayloadSize - 4;
    return true;
}

bool DecodePacketResendCmd(const TnGvcpCommand &aCommand, TnGvcpPacketResend &aResend)
{
    if (!IsCommand(aCommand, kGvcpPacketResendCmd))
    {
        return false;
    }
    TnByteReader lReader(aCommand.mPayload, aCommand.mPayloadSize);
    aResend.mExtendedIds = (aCommand.mHeader.mFlags & kGvcpFlagExtendedIds) != 0;
    aResend.mStreamChannel = lReader.U16();
    if (aResend.mExtendedIds)
    {
        lReader.Skip(2);
        aResend.mFirstPacketId = lReader.U32();
        aResend.mLastPacketId = lReader.U32();
        aResend.mBlockId = lReader.U64();
    }
    else
    {
        aResend.mBlockId = lReader.U16();
        aResend.mFirstPacketId = lReader.U32() & 0x00FFFFFFu;
        aResend.mLastPacketId = lReader.U32() & 0x00FFFFFFu;
    }
    return lReader.IsOk() && aResend.mFirstPacketId <= aResend.mLastPacketId;
}

bool DecodeEventCmd(const TnGvcpCommand &aCommand, std::vector<TnGvcpEvent> &aEvents)
{
    if (!IsCommand(aCommand, kGvcpEventCmd) || (aCommand.mHeader.mFlags & kGvcpFlagExtendedIds) != 0 ||
        aCommand.mPayloadSize == 0 || aCommand.mPayloadSize % kEventSize != 0)
    {
        return false;
    }
    aEvents.clear();
    TnByteReader lReader(aCommand.mPayload, aCommand.mPayloadSize);
    while (lReader.GetRemaining() >= kEventSize)
    {
        TnGvcpEvent lEvent;
        ReadEvent(lReader, lEvent);
        aEvents.push_back(lEvent);
    }
    return lReader.IsOk();
}

bool DecodeEventDataCmd(const TnGvcpCommand &aCommand, TnGvcpEvent &aEvent, const uint8_t *&aData, size_t &aSize)
{
    if (!IsCommand(aCommand, kGvcpEventDataCmd) || (aCommand.mHeader.mFlags & kGvcpFlagExtendedIds) != 0 ||
        aCommand.mPayloadSize < kEventSize)
    {
        return false;
    }
    TnByteReader lReader(aCommand.mPayload, aCommand.mPayloadSize);
    ReadEvent(lReader, aEvent);
    aData = lReader.Current();
    aSize = lReader.GetRemaining();
    return lReader.IsOk();
}

bool DecodeActionCmd(const TnGvcpCommand &aCommand, TnGvcpAction &aAction)
{
    if (!IsCommand(aCommand, kGvcpActionCmd))
    {
        return false;
    }
    TnByteReader lReader(aCommand.mPayload, aCommand.mPayloadSize);
    aAction.mDeviceKey = lReader.U32();
    aAction.mGroupKey = lReader.U32();
    aAction.mGroupMask = lReader.U32();
    aAction.mScheduled = (aCommand.mHeader.mFlags & kGvcpFlagActionScheduled) != 0;
    aAction.mActionTime = aAction.mScheduled ? lReader.U64() : 0;
    return lReader.IsOk();
}

std::vector<uint8_t> BuildAck(uint16_t aStatus, uint16_t aAcknowledge, uint16_t aAckId, const uint8_t *aPayload,
                              size_t aSize)
{
    if (aSize > 0xFFFF)
    {
        aSize = 0;
    }
    std::vector<uint8_t> lPacket;
    lPacket.reserve(kGvcpHeaderSize + aSize);
    TnGvcpAckHeader lHeader;
    lHeader.mStatus = aStatus;
    lHeader.mAcknowledge = aAcknowledge;
    lHeader.mLength = static_cast<uint16_t>(aSize);
    lHeader.mAckId = aAckId;
    AppendAckHeader(lPacket, lHeader);
    if (aSize > 0)
    {
        lPacket.insert(lPacket.end(), aPayload, aPayload + aSize);
    }
    return lPacket;
}

std::vector<uint8_t> BuildDiscoveryAck(uint16_t aAckId, const TnGvcpDeviceInfo &aInfo)
{
    const std::vector<uint8_t> lBlock = EncodeDeviceInfo(aInfo);
    return BuildAck(kGvcpStatusSuccess, kGvcpDiscoveryAck, aAckId, lBlock.data(), lBlock.size());
}

std::vector<uint8_t> BuildReadRegAck(uint16_t aStatus, uint16_t aAckId, const uint32_t *aValues, size_t aCount)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        lWriter.U32(aValues[lIndex]);
    }
    return BuildAck(aStatus, kGvcpReadRegAck, aAckId, lPayload.data(), lPayload.size());
}

std::vector<uint8_t> BuildWriteRegAck(uint16_t aStatus, uint16_t aAckId, uint16_t aIndex)
{
    const uint8_t lPayload[4] = {0, 0, static_cast<uint8_t>(aIndex >> 8), static_cast<uint8_t>(aIndex)};
    return BuildAck(aStatus, kGvcpWriteRegAck, aAckId, lPayload, sizeof(lPayload));
}

std::vector<uint8_t> BuildReadMemAck(uint16_t aStatus, uint16_t aAckId, uint32_t aAddress, const uint8_t *aData,
                                     size_t aSize)
{
    std::vector<uint8_t> lPayload;
    TnByteWriter lWriter(lPayload);
    lWriter.U32(aAddress);
    lWriter.Bytes(aData, aSize);
    return BuildAck(aStatus, kGvcpReadMemAck, aAckId, lPayload.data(), lPayload.size());
}

std::vector<uint8_t> BuildWriteMemAck(uint16_t aStatus, uint16_t aAckId, uint16_t aIndex)
{
    const uint8_t lPayload[4] = {0, 0, static_cast<uint8_t>(aIndex >> 8), static_cast<uint8_t>(aIndex)};
    return BuildAck(aStatus, kGvcpWriteMemAck, aAckId, lPayload, sizeof(lPayload));
}

std::vector<uint8_t> BuildPendingAck(uint16_t aAckId, uint16_t aMilliseconds)
{
    const uint8_t lPayload[4] = {0, 0, static_cast<uint8_t>(aMilliseconds >> 8), static_cast<uint8_t>(aMilliseconds)};
    return BuildAck(kGvcpStatusSuccess, kGvcpPendingAck, aAckId, lPayload, sizeof(lPayload));
}

bool DecodeDiscoveryAck(const TnGvcpAck &aAck, TnGvcpDeviceInfo &aInfo)
{
    return IsAck(aAck, kGvcpDiscoveryAck) && DecodeDeviceInfo(aAck.mPayload, aAck.mPayloadSize, aInfo);
}

bool DecodeReadRegAck(const TnGvcpAck &aAck, std::vector<uint32_t> &aValues)
{
    if (!IsAck(aAck, kGvcpReadRegAck) || aAck.mPayloadSize % 4 != 0)
    {
        return false;
    }
    aValues.clear();
    TnByteReader lReader(aAck.mPayload, aAck.mPayloadSize);
    while (lReader.GetRemaining() >= 4)
    {
        aValues.push_back(lReader.U32());
    }
    return lReader.IsOk();
}

bool DecodeWriteRegAck(const TnGvcpAck &aAck, uint16_t &aIndex)
{
    if (!IsAck(aAck, kGvcpWriteRegAck) || aAck.mPayloadSize < 4)
    {
        return false;
    }
    aIndex = GetU16(aAck.mPayload + 2);
    return true;
}

bool DecodeReadMemAck(const TnGvcpAck &aAck, uint32_t &aAddress, const uint8_t *&aData, size_t &aSize)
{
    if (!IsAck(aAck, kGvcpReadMemAck) || aAck.mPayloadSize < 4)
    {
        return false;
    }
    aAddress = GetU32(aAck.mPayload);
    aData = aAck.mPayload + 4;
    aSize = aAck.mPayloadSize - 4;
    return true;
}

bool DecodeWriteMemAck(const TnGvcpAck &aAck, uint16_t &aIndex)
{
    if (!IsAck(aAck, kGvcpWriteMemAck) || aAck.mPayloadSize < 4)
    {
        return false;
    }
    aIndex = GetU16(aAck.mPayload + 2);
    return true;
}

bool DecodePendingAck(const TnGvcpAck &aAck, uint16_t &aMilliseconds)
{
    if (!IsAck(aAck, kGvcpPendingAck) || aAck.mPayloadSize < 4)
    {
        return false;
    }
    aMilliseconds = GetU16(aAck.mPayload + 2);
    return true;
}

std::vector<uint8_t> EncodeDeviceInfo(const TnGvcpDeviceInfo &aInfo)
{
    std::vector<uint8_t> lBlock;
    lBlock.reserve(kDiscoveryDataSize);
    TnByteWriter lWriter(lBlock);
    lWriter.U16(aInfo.mVersionMajor);
    lWriter.U16(aInfo.mVersionMinor);
    lWriter.U32(aInfo.mDeviceMode);
    lWriter.U16(0);
    lWriter.Bytes(aInfo.mMac, 6);
    lWriter.U32(aInfo.mSupportedIPConfig);
    lWriter.U32(aInfo.mCurrentIPConfig);
    lWriter.Zeros(12);
    lWriter.U32(aInfo.mCurrentIP);
    lWriter.Zeros(12);
    lWriter.U32(aInfo.mSubnetMask);
    lWriter.Zeros(12);
    lWriter.U32(aInfo.mDefaultGateway);
    lWriter.Text(aInfo.mManufacturerName, kManufacturerNameSize);
    lWriter.Text(aInfo.mModelName, kModelNameSize);
    lWriter.Text(aInfo.mDeviceVersion, kDeviceVersionSize);
    lWriter.Text(aInfo.mManufacturerInfo, kManufacturerInfoSize);
    lWriter.Text(aInfo.mSerialNumber, kSerialNumberSize);
    lWriter.Text(aInfo.mUserDefinedName, kUserDefinedNameSize);
    return lBlock;
}

bool DecodeDeviceInfo(const uint8_t *aData, size_t aSize, TnGvcpDeviceInfo &aInfo)
{
    if (aData == nullptr || aSize < kDiscoveryDataSize)
    {
        return false;
    }
    TnByteReader lReader(aData, kDiscoveryDataSize);
    aInfo.mVersionMajor = lReader.U16();
    aInfo.mVersionMinor = lReader.U16();
    aInfo.mDeviceMode = lReader.U32();
    lReader.Skip(2);
    lReader.Bytes(aInfo.mMac, 6);
    aInfo.mSupportedIPConfig = lReader.U32();
    aInfo.mCurrentIPConfig = lReader.U32();
    lReader.Skip(12);
    aInfo.mCurrentIP = lReader.U32();
    lReader.Skip(12);
    aInfo.mSubnetMask = lReader.U32();
    lReader.Skip(12);
    aInfo.mDefaultGateway = lReader.U32();
    aInfo.mManufacturerName = lReader.Text(kManufacturerNameSize);
    aInfo.mModelName = lReader.Text(kModelNameSize);
    aInfo.mDeviceVersion = lReader.Text(kDeviceVersionSize);
    aInfo.mManufacturerInfo = lReader.Text(kManufacturerInfoSize);
    aInfo.mSerialNumber = lReader.Text(kSerialNumberSize);
    aInfo.mUserDefinedName = lReader.Text(kUserDefinedNameSize);
    return lReader.IsOk() && lReader.GetPosition() == kDiscoveryDataSize;
}

const char *GetStatusName(uint16_t aStatus)
{
    switch (aStatus)
    {
    case kGvcpStatusSuccess:
        return "GEV_STATUS_SUCCESS";
    case kGvcpStatusPacketResend:
        return "GEV_STATUS_PACKET_RESEND";
    case kGvcpStatusNotImplemented:
        return "GEV_STATUS_NOT_IMPLEMENTED";
    case kGvcpStatusInvalidParameter:
        return "GEV_STATUS_INVALID_PARAMETER";
    case kGvcpStatusInvalidAddress:
        return "GEV_STATUS_INVALID_ADDRESS";
    case kGvcpStatusWriteProtect:
        return "GEV_STATUS_WRITE_PROTECT";
    case kGvcpStatusBadAlignment:
        return "GEV_STATUS_BAD_ALIGNMENT";
    case kGvcpStatusAccessDenied:
        return "GEV_STATUS_ACCESS_DENIED";
    case kGvcpStatusBusy:
        return "GEV_STATUS_BUSY";
    case kGvcpStatusLocalProblem:
        return "GEV_STATUS_LOCAL_PROBLEM";
    case kGvcpStatusMessageMismatch:
        return "GEV_STATUS_MSG_MISMATCH";
    case kGvcpStatusInvalidProtocol:
        return "GEV_STATUS_INVALID_PROTOCOL";
    case kGvcpStatusNoMessage:
        return "GEV_STATUS_NO_MSG";
    case kGvcpStatusPacketUnavailable:
        return "GEV_STATUS_PACKET_UNAVAILABLE";
    case kGvcpStatusDataOverrun:
        return "GEV_STATUS_DATA_OVERRUN";
    case kGvcpStatusInvalidHeader:
        return "GEV_STATUS_INVALID_HEADER";
    case kGvcpStatusWrongConfig:
        return "GEV_STATUS_WRONG_CONFIG";
    case kGvcpStatusPacketNotYetAvailable:
        return "GEV_STATUS_PACKET_NOT_YET_AVAILABLE";
    case kGvcpStatusPacketAndPreviousRemoved:
        return "GEV_STATUS_PACKET_AND_PREV_REMOVED_FROM_MEMORY";
    case kGvcpStatusPacketRemoved:
        return "GEV_STATUS_PACKET_REMOVED_FROM_MEMORY";
    case kGvcpStatusError:
        return "GEV_STATUS_ERROR";
    default:
        return "unknown status";
    }
}

TnResult StatusToResult(uint16_t aStatus, const char *aWhat)
{
    if (aStatus == kGvcpStatusSuccess)
    {
        return TnResult(TN_OK);
    }
    uint32_t lCode = TN_GENERIC_ERROR;
    switch (aStatus)
    {
    case kGvcpStatusNotImplemented:
        lCode = TN_NOT_IMPLEMENTED;
        break;
    case kGvcpStatusInvalidParameter:
    case kGvcpStatusInvalidAddress:
    case kGvcpStatusBadAlignment:
        lCode = TN_INVALID_PARAMETER;
        break;
    case kGvcpStatusBusy:
        lCode = TN_BUSY;
        break;
    default:
        break;
    }
    char lText[160];
    snprintf(lText, sizeof(lText), "%s: the device answered %s (0x%04X)", aWhat != nullptr ? aWhat : "command",
             GetStatusName(aStatus), static_cast<unsigned>(aStatus));
    return TnResult(lCode, TnString(lText));
}

} // namespace gev
} // namespace tn
