#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "TnGevAddress.h"
#include "TnGvcp.h"

using namespace tn::gev;

namespace
{
std::vector<uint8_t> Bytes(std::initializer_list<int> aValues)
{
    std::vector<uint8_t> lBytes;
    for (int lValue : aValues)
    {
        lBytes.push_back(static_cast<uint8_t>(lValue));
    }
    return lBytes;
}

void PutText(std::vector<uint8_t> &aBlock, size_t aOffset, const char *aText)
{
    memcpy(aBlock.data() + aOffset, aText, strlen(aText));
}

TnGvcpCommand Command(const std::vector<uint8_t> &aPacket)
{
    TnGvcpCommand lCommand;
    EXPECT_TRUE(DecodeCommand(aPacket.data(), aPacket.size(), lCommand));
    return lCommand;
}

TnGvcpAck Ack(const std::vector<uint8_t> &aPacket)
{
    TnGvcpAck lAck;
    EXPECT_TRUE(DecodeAck(aPacket.data(), aPacket.size(), lAck));
    return lAck;
}
} // namespace

TEST(GvcpLayout, CommandsAreLaidOutAsOnTheWire)
{
    EXPECT_EQ(BuildDiscoveryCmd(0xFFFF), Bytes({0x42, 0x01, 0x00, 0x02, 0x00, 0x00, 0xFF, 0xFF}));
    EXPECT_EQ(BuildDiscoveryCmd(7, true), Bytes({0x42, 0x11, 0x00, 0x02, 0x00, 0x00, 0x00, 0x07}));
    EXPECT_EQ(BuildReadMemCmd(0xFF15, 0x0200, 0x0200),
              Bytes({0x42, 0x01, 0x00, 0x84, 0x00, 0x08, 0xFF, 0x15, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00}));
    const uint32_t lAddresses[] = {0x0A00, 0x0D04};
    const uint32_t lValues[] = {2, 0x40000000u | 1500};
    EXPECT_EQ(BuildWriteRegCmd(0x1234, lAddresses, lValues, 2),
              Bytes({0x42, 0x01, 0x00, 0x82, 0x00, 0x10, 0x12, 0x34, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x02,
                     0x00, 0x00, 0x0D, 0x04, 0x40, 0x00, 0x05, 0xDC}));

    TnGvcpPacketResend lResend;
    lResend.mStreamChannel = 1;
    lResend.mBlockId = 0x12345;
    lResend.mFirstPacketId = 0x01000003; // only 24 bits travel with standard ids
    lResend.mLastPacketId = 9;
    EXPECT_EQ(BuildPacketResendCmd(5, lResend),
              Bytes({0x42, 0x00, 0x00, 0x40, 0x00, 0x0C, 0x00, 0x05, 0x00, 0x01, 0x23, 0x45, 0x00, 0x00, 0x00, 0x03,
                     0x00, 0x00, 0x00, 0x09}));
    lResend.mExtendedIds = true;
    const std::vector<uint8_t> lExtended = BuildPacketResendCmd(5, lResend);
    ASSERT_EQ(lExtended.size(), 8u + 20u);
    EXPECT_EQ(lExtended[1], kGvcpFlagExtendedIds);
    EXPECT_EQ(std::vector<uint8_t>(lExtended.begin() + 20, lExtended.end()),
              Bytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x23, 0x45}));

    TnGvcpForceIp lForce;
    lForce.mMac = 0x0011223344556677ull & 0xFFFFFFFFFFFFull;
    lForce.mIP = 0xC0A80105;
    lForce.mSubnetMask = 0xFFFFFF00;
    lForce.mGateway = 0xC0A80101;
    const std::vector<uint8_t> lForceIp = BuildForceIpCmd(9, lForce);
    ASSERT_EQ(lForceIp.size(), 8u + 56u);
    EXPECT_EQ(std::vector<uint8_t>(lForceIp.begin() + 8, lForceIp.begin() + 16),
              Bytes({0x00, 0x00, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}));
    EXPECT_EQ(std::vector<uint8_t>(lForceIp.begin() + 8 + 0x14, lForceIp.begin() + 8 + 0x18),
              Bytes({0xC0, 0xA8, 0x01, 0x05}));
    EXPECT_EQ(std::vector<uint8_t>(lForceIp.begin() + 8 + 0x34, lForceIp.end()), Bytes({0xC0, 0xA8, 0x01, 0x01}));
}

TEST(GvcpLayout, AcknowledgementsAreLaidOutAsOnTheWire)
{
    EXPECT_EQ(BuildWriteRegAck(0, 0xA350, 1), Bytes({0x00, 0x00, 0x00, 0x83, 0x00, 0x04, 0xA3, 0x50, 0x00, 0x00,
                                                     0x00, 0x01}));
    EXPECT_EQ(BuildPendingAck(3, 1000), Bytes({0x00, 0x00, 0x00, 0x89, 0x00, 0x04, 0x00, 0x03, 0x00, 0x00, 0x03,
                                               0xE8}));
    const uint8_t lData[] = {'L', 'o', 'c', 'a'};
    EXPECT_EQ(BuildReadMemAck(0, 0xFF15, 0x200, lData, 4),
              Bytes({0x00, 0x00, 0x00, 0x85, 0x00, 0x08, 0xFF, 0x15, 0x00, 0x00, 0x02, 0x00, 'L', 'o', 'c', 'a'}));
    EXPECT_EQ(BuildAck(kGvcpStatusAccessDenied, kGvcpWriteRegAck, 1, nullptr, 0),
              Bytes({0x80, 0x06, 0x00, 0x83, 0x00, 0x00, 0x00, 0x01}));
}

TEST(GvcpLayout, DiscoveryBlockFieldsSitAtTheirBootstrapAddresses)
{
    // A block laid out by hand, field by field.
    std::vector<uint8_t> lBlock(kDiscoveryDataSize, 0);
    lBlock[0x00] = 0x00, lBlock[0x01] = 0x02, lBlock[0x02] = 0x00, lBlock[0x03] = 0x01; // 2.1
    lBlock[0x04] = 0x90, lBlock[0x07] = 0x01;                                          // big-endian, receiver, UTF-8
    const uint8_t lMac[] = {0x00, 0x0C, 0xDF, 0x01, 0x02, 0x03};
    memcpy(lBlock.data() + 0x0A, lMac, 6);
    lBlock[0x13] = 0x07;
    lBlock[0x14] = 0x80, lBlock[0x17] = 0x04;
    lBlock[0x24] = 192, lBlock[0x25] = 168, lBlock[0x26] = 7, lBlock[0x27] = 20;
    lBlock[0x34] = 255, lBlock[0x35] = 255, lBlock[0x36] = 255, lBlock[0x37] = 0;
    lBlock[0x44] = 192, lBlock[0x45] = 168, lBlock[0x46] = 7, lBlock[0x47] = 1;
    PutText(lBlock, 0x48, "Acme Imaging");
    PutText(lBlock, 0x68, "AC-1000");
    PutText(lBlock, 0x88, "3.4.5");
    PutText(lBlock, 0xA8, "made for tests");
    memcpy(lBlock.data() + 0xD8, "0123456789ABCDEF", 16); // fills its field: no NUL
    PutText(lBlock, 0xE8, "left-cam");

    TnGvcpDeviceInfo lInfo;
    ASSERT_TRUE(DecodeDeviceInfo(lBlock.data(), lBlock.size(), lInfo));
    EXPECT_EQ(lInfo.GetVersion(), 0x00020001u);
    EXPECT_TRUE(lInfo.IsBigEndian());
    EXPECT_EQ(lInfo.GetDeviceClass(), kDeviceClassReceiver);
    EXPECT_EQ(lInfo.GetCharacterSet(), 1u);
    EXPECT_EQ(FormatMac(lInfo.GetMacValue()), "00:0c:df:01:02:03");
    EXPECT_EQ(lInfo.mSupportedIPConfig, 7u);
    EXPECT_EQ(lInfo.mCurrentIPConfig, kIPConfigPauseReception | kIPConfigLla);
    EXPECT_EQ(FormatIPv4(lInfo.mCurrentIP), "192.168.7.20");
    EXPECT_EQ(FormatIPv4(lInfo.mSubnetMask), "255.255.255.0");
    EXPECT_EQ(FormatIPv4(lInfo.mDefaultGateway), "192.168.7.1");
    EXPECT_EQ(lInfo.mManufacturerName, "Acme Imaging");
    EXPECT_EQ(lInfo.mModelName, "AC-1000");
    EXPECT_EQ(lInfo.mDeviceVersion, "3.4.5");
    EXPECT_EQ(lInfo.mManufacturerInfo, "made for tests");
    EXPECT_EQ(lInfo.mSerialNumber, "0123456789ABCDEF");
    EXPECT_EQ(lInfo.mUserDefinedName, "left-cam");

    // Encoding gives back the same bytes, and text longer than a field is cut.
    EXPECT_EQ(EncodeDeviceInfo(lInfo), lBlock);
    lInfo.mUserDefinedName = "a name far longer than sixteen bytes";
    TnGvcpDeviceInfo lCut;
    const std::vector<uint8_t> lAck = BuildDiscoveryAck(0x42, lInfo);
    ASSERT_TRUE(DecodeDiscoveryAck(Ack(lAck), lCut));
    EXPECT_EQ(lCut.mUserDefinedName, "a name far longe");
    EXPECT_EQ(lCut.mSerialNumber, lInfo.mSerialNumber);
}

TEST(GvcpRoundTrip, CommandsDecodeToWhatWasEncoded)
{
    const uint32_t lAddresses[] = {0x0000, 0x0934, 0x0D04};
    std::vector<uint32_t> lRead;
    ASSERT_TRUE(DecodeReadRegCmd(Command(BuildReadRegCmd(1, lAddresses, 3)), lRead));
    EXPECT_EQ(lRead, std::vector<uint32_t>(lAddresses, lAddresses + 3));

    const uint32_t lValues[] = {1, 2, 3};
    std::vector<std::pair<uint32_t, uint32_t>> lWrites;
    ASSERT_TRUE(DecodeWriteRegCmd(Command(BuildWriteRegCmd(2, lAddresses, lValues, 3)), lWrites));
    ASSERT_EQ(lWrites.size(), 3u);
    EXPECT_EQ(lWrites[2], std::make_pair(0x0D04u, 3u));

    uint32_t lAddress = 0;
    uint16_t lCount = 0;
    ASSERT_TRUE(DecodeReadMemCmd(Command(BuildReadMemCmd(3, 0x10000, 512)), lAddress, lCount));
    EXPECT_EQ(lAddress, 0x10000u);
    EXPECT_EQ(lCount, 512u);

    const uint8_t lData[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<uint8_t> lWriteMem = BuildWriteMemCmd(4, 0xE8, lData, sizeof(lData));
    const uint8_t *lPayload = nullptr;
    size_t lSize = 0;
    ASSERT_TRUE(DecodeWriteMemCmd(Command(lWriteMem), lAddress, lPayload, lSize));
    EXPECT_EQ(lAddress, 0xE8u);
    EXPECT_EQ(std::vector<uint8_t>(lPayload, lPayload + lSize), std::vector<uint8_t>(lData, lData + 8));

    TnGvcpPacketResend lResend;
    lResend.mExtendedIds = true;
    lResend.mStreamChannel = 2;
    lResend.mBlockId = 0x0102030405060708ull;
    lResend.mFirstPacketId = 0x01000000;
    lResend.mLastPacketId = 0x01000010;
    TnGvcpPacketResend lResendBack;
    ASSERT_TRUE(DecodePacketResendCmd(Command(BuildPacketResendCmd(5, lResend)), lResendBack));
    EXPECT_TRUE(lResendBack.mExtendedIds);
    EXPECT_EQ(lResendBack.mBlockId, lResend.mBlockId);
    EXPECT_EQ(lResendBack.mFirstPacketId, lResend.mFirstPacketId);
    EXPECT_EQ(lResendBack.mLastPacketId, lResend.mLastPacketId);

    TnGvcpForceIp lForce;
    lForce.mMac = 0xAABBCCDDEEFFull;
    lForce.mIP = 0x0A000005;
    lForce.mSubnetMask = 0xFF000000;
    lForce.mGateway = 0x0A000001;
    TnGvcpForceIp lForceBack;
    ASSERT_TRUE(DecodeForceIpCmd(Command(BuildForceIpCmd(6, lForce)), lForceBack));
    EXPECT_EQ(lForceBack.mMac, lForce.mMac);
    EXPECT_EQ(lForceBack.mIP, lForce.mIP);
    EXPECT_EQ(lForceBack.mGateway, lForce.mGateway);

    std::vector<TnGvcpEvent> lEvents(2);
    lEvents[0].mEventId = 0x9000;
    lEvents[1].mEventId = 0x9001;
    lEvents[1].mBlockId = 77;
    lEvents[1].mTimestamp = 0x1122334455667788ull;
    std::vector<TnGvcpEvent> lEventsBack;
    ASSERT_TRUE(DecodeEventCmd(Command(BuildEventCmd(7, lEvents)), lEventsBack));
    ASSERT_EQ(lEventsBack.size(), 2u);
    EXPECT_EQ(lEventsBack[1].mEventId, 0x9001);
    EXPECT_EQ(lEventsBack[1].mTimestamp, lEvents[1].mTimestamp);

    TnGvcpEvent lEvent;
    const uint8_t lEventBytes[] = {9, 8, 7};
    const std::vector<uint8_t> lEventData = BuildEventDataCmd(8, lEvents[1], lEventBytes, 3);
    ASSERT_TRUE(DecodeEventDataCmd(Command(lEventData), lEvent, lPayload, lSize));
    EXPECT_EQ(lEvent.mBlockId, 77);
    EXPECT_EQ(std::vector<uint8_t>(lPayload, lPayload + lSize), std::vector<uint8_t>(lEventBytes, lEventBytes + 3));

    TnGvcpAction lAction;
    lAction.mDeviceKey = 0x11;
    lAction.mGroupKey = 0x22;
    lAction.mGroupMask = 0xFF;
    lAction.mScheduled = true;
    lAction.mActionTime = 123456789;
    TnGvcpAction lActionBack;
    const std::vector<uint8_t> lActionCmd = BuildActionCmd(9, lAction);
    EXPECT_EQ(lActionCmd[1], kGvcpFlagAcknowledge | kGvcpFlagActionScheduled);
    ASSERT_TRUE(DecodeActionCmd(Command(lActionCmd), lActionBack));
    EXPECT_TRUE(lActionBack.mScheduled);
    EXPECT_EQ(lActionBack.mActionTime, 123456789u);
}

TEST(GvcpRoundTrip, AcknowledgementsDecodeToWhatWasEncoded)
{
    const uint32_t lValues[] = {0x00020001, 0xDEADBEEF};
    std::vector<uint32_t> lBack;
    ASSERT_TRUE(DecodeReadRegAck(Ack(BuildReadRegAck(0, 1, lValues, 2)), lBack));
    EXPECT_EQ(lBack, std::vector<uint32_t>(lValues, lValues + 2));

    uint16_t lIndex = 0;
    ASSERT_TRUE(DecodeWriteRegAck(Ack(BuildWriteRegAck(kGvcpStatusWriteProtect, 2, 3)), lIndex));
    EXPECT_EQ(lIndex, 3);

    const uint8_t lData[] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    uint32_t lAddress = 0;
    const uint8_t *lPayload = nullptr;
    size_t lSize = 0;
    const std::vector<uint8_t> lReadMem = BuildReadMemAck(0, 3, 0x10200, lData, 8);
    ASSERT_TRUE(DecodeReadMemAck(Ack(lReadMem), lAddress, lPayload, lSize));
    EXPECT_EQ(lAddress, 0x10200u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(lPayload), lSize), "abcdefgh");

    uint16_t lWait = 0;
    ASSERT_TRUE(DecodePendingAck(Ack(BuildPendingAck(4, 2500)), lWait));
    EXPECT_EQ(lWait, 2500);
}

TEST(GvcpRejection, TruncatedAndInconsistentHeadersAreRefused)
{
    TnGvcpCommand lCommand;
    TnGvcpAck lAck;
    const std::vector<uint8_t> lDiscovery = BuildDiscoveryCmd(1);
    EXPECT_FALSE(DecodeCommand(lDiscovery.data(), 7, lCommand));
    EXPECT_FALSE(DecodeCommand(nullptr, 8, lCommand));
    std::vector<uint8_t> lWrongKey = lDiscovery;
    lWrongKey[0] = 0x43;
    EXPECT_FALSE(DecodeCommand(lWrongKey.data(), lWrongKey.size(), lCommand));

    // A length field that promises more than the datagram holds.
    std::vector<uint8_t> lReadMem = BuildReadMemCmd(1, 0, 4);
    EXPECT_FALSE(DecodeCommand(lReadMem.data(), lReadMem.size() - 1, lCommand));
    // Extra bytes after the payload are ignored.
    lReadMem.push_back(0xEE);
    ASSERT_TRUE(DecodeCommand(lReadMem.data(), lReadMem.size(), lCommand));
    EXPECT_EQ(lCommand.mPayloadSize, 8u);

    const std::vector<uint8_t> lReadAck = BuildReadMemAck(0, 1, 0, nullptr, 0);
    EXPECT_FALSE(DecodeAck(lReadAck.data(), 7, lAck));
    std::vector<uint8_t> lLong = lReadAck;
    lLong[5] = 0x08; // says 8 payload bytes, has 4
    EXPECT_FALSE(DecodeAck(lLong.data(), lLong.size(), lAck));
}

TEST(GvcpRejection, PayloadsOfTheWrongSizeOrKindAreRefused)
{
    // A discovery answer shorter than the bootstrap block.
    TnGvcpDeviceInfo lInfo;
    std::vector<uint8_t> lShort = BuildDiscoveryAck(1, lInfo);
    lShort.resize(lShort.size() - 1);
    lShort[4] = 0x00, lShort[5] = 0xF7;
    TnGvcpAck lAck;
    ASSERT_TRUE(DecodeAck(lShort.data(), lShort.size(), lAck));
    EXPECT_FALSE(DecodeDiscoveryAck(lAck, lInfo));
    EXPECT_FALSE(DecodeDeviceInfo(lShort.data() + 8, kDiscoveryDataSize - 1, lInfo));

    // Acknowledgement codes must match what is decoded.
    std::vector<uint32_t> lValues;
    EXPECT_FALSE(DecodeReadRegAck(Ack(BuildWriteRegAck(0, 1, 1)), lValues));
    uint16_t lIndex = 0;
    EXPECT_FALSE(DecodeWriteRegAck(Ack(BuildReadRegAck(0, 1, nullptr, 0)), lIndex));
    std::vector<uint8_t> lOdd = BuildReadRegAck(0, 1, nullptr, 0);
    lOdd.insert(lOdd.end(), {1, 2, 3});
    lOdd[5] = 3;
    EXPECT_FALSE(DecodeReadRegAck(Ack(lOdd), lValues));
    EXPECT_FALSE(DecodeWriteMemAck(Ack(BuildAck(0, kGvcpWriteMemAck, 1, nullptr, 0)), lIndex));

    // Command payloads.
    std::vector<uint32_t> lAddresses;
    EXPECT_FALSE(DecodeReadRegCmd(Command(BuildReadRegCmd(1, nullptr, 0)), lAddresses));
    std::vector<uint8_t> lBadRead = BuildReadRegCmd(1, nullptr, 0);
    lBadRead.insert(lBadRead.end(), {0, 0, 0, 0, 0, 0});
    lBadRead[5] = 6;
    EXPECT_FALSE(DecodeReadRegCmd(Command(lBadRead), lAddresses));
    std::vector<std::pair<uint32_t, uint32_t>> lWrites;
    const uint32_t lOne = 4;
    std::vector<uint8_t> lHalfWrite = BuildReadRegCmd(1, &lOne, 1);
    lHalfWrite[3] = static_cast<uint8_t>(kGvcpWriteRegCmd);
    EXPECT_FALSE(DecodeWriteRegCmd(Command(lHalfWrite), lWrites));
    uint32_t lAddress = 0;
    uint16_t lCount = 0;
    std::vector<uint8_t> lReadMem = BuildReadMemCmd(1, 0, 4);
    lReadMem.resize(lReadMem.size() - 4);
    lReadMem[5] = 4;
    EXPECT_FALSE(DecodeReadMemCmd(Command(lReadMem), lAddress, lCount));
    TnGvcpPacketResend lResend;
    lResend.mFirstPacketId = 10;
    lResend.mLastPacketId = 3;
    TnGvcpPacketResend lResendBack;
    EXPECT_FALSE(DecodePacketResendCmd(Command(BuildPacketResendCmd(1, lResend)), lResendBack));
    std::vector<TnGvcpEvent> lEvents;
    std::vector<uint8_t> lPartEvent = BuildEventCmd(1, std::vector<TnGvcpEvent>(1));
    lPartEvent.resize(lPartEvent.size() - 4);
    lPartEvent[5] = 12;
    EXPECT_FALSE(DecodeEventCmd(Command(lPartEvent), lEvents));
    TnGvcpForceIp lForce;
    std::vector<uint8_t> lShortForce = BuildForceIpCmd(1, lForce);
    lShortForce.resize(lShortForce.size() - 4);
    lShortForce[5] = 52;
    EXPECT_FALSE(DecodeForceIpCmd(Command(lShortForce), lForce));
}

TEST(GvcpStatus, DeviceStatusesBecomeResults)
{
    EXPECT_TRUE(StatusToResult(kGvcpStatusSuccess, "read").IsOK());
    EXPECT_EQ(StatusToResult(kGvcpStatusNotImplemented, "read").GetCode(), TN_NOT_IMPLEMENTED);
    EXPECT_EQ(StatusToResult(kGvcpStatusInvalidAddress, "read").GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(StatusToResult(kGvcpStatusBusy, "read").GetCode(), TN_BUSY);
    const TnResult lDenied = StatusToResult(kGvcpStatusAccessDenied, "write register");
    EXPECT_TRUE(lDenied.IsFailure());
    EXPECT_NE(std::string(lDenied.GetDescription().GetAscii()).find("GEV_STATUS_ACCESS_DENIED (0x8006)"),
              std::string::npos);
    EXPECT_TRUE(StatusToResult(0x8123, "x").IsFailure());
    EXPECT_STREQ(GetStatusName(0x8123), "unknown status");
}

TEST(GvcpIds, RequestIdsSkipZero)
{
    EXPECT_EQ(NextRequestId(1), 2);
    EXPECT_EQ(NextRequestId(0xFFFF), 1);
    EXPECT_EQ(AckCodeFor(kGvcpReadMemCmd), kGvcpReadMemAck);
}

TEST(Addresses, StrictTextForms)
{
    uint32_t lAddress = 0;
    ASSERT_TRUE(ParseIPv4("192.168.001.255", lAddress));
    EXPECT_EQ(lAddress, 0xC0A801FFu);
    EXPECT_EQ(FormatIPv4(lAddress), "192.168.1.255");
    for (const char *lBad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4", "1..3.4", "1.2.3.0004",
                             "a.b.c.d", "1.2.3.-4"})
    {
        EXPECT_FALSE(ParseIPv4(lBad, lAddress)) << lBad;
    }

    uint64_t lMac = 0;
    ASSERT_TRUE(ParseMac("00:0C:df:01:02:0a", lMac));
    EXPECT_EQ(lMac, 0x000CDF01020Aull);
    EXPECT_EQ(FormatMac(lMac), "00:0c:df:01:02:0a");
    EXPECT_EQ(FormatMacDotted(lMac), "00.0C.DF.01.02.0A");
    ASSERT_TRUE(ParseMac("00-0C-DF-01-02-0A", lMac));
    ASSERT_TRUE(ParseMac("000cdf01020a", lMac));
    EXPECT_EQ(lMac, 0x000CDF01020Aull);
    for (const char *lBad : {"", "00:0c:df:01:02", "00:0c:df-01:02:0a", "00:0c:df:01:02:0g", "000cdf01020", "0:0c:df:01:02:0a0"})
    {
        EXPECT_FALSE(ParseMac(lBad, lMac)) << lBad;
    }
    EXPECT_EQ(SubnetBroadcast(0xC0A80714, 0xFFFFFF00), 0xC0A807FFu);
    EXPECT_TRUE(SameSubnet(0x7F000001, 0x7F123456, 0xFF000000));
    EXPECT_FALSE(SameSubnet(0xC0A80714, 0xC0A80814, 0xFFFFFF00));
}

TEST(Addresses, OnlyUnicastHostAddressesAreDevices)
{
    // A /31 has no broadcast address; a mask with holes is not used.
    for (const auto &lHost : {std::make_pair(0x7F000001u, 0u), {0xC0A80714u, 0xFFFFFF00u}, {0xC0A807FFu, 0xFFFFFFFEu},
                              {0xC0A807FFu, 0xFF00FF00u}})
    {
        EXPECT_EQ(NotAHostAddress(lHost.first, lHost.second), nullptr) << FormatIPv4(lHost.first);
    }
    EXPECT_STREQ(NotAHostAddress(0x00FFFFFF), "unspecified");
    EXPECT_STREQ(NotAHostAddress(0xEFFFFFFF), "multicast");
    EXPECT_STREQ(NotAHostAddress(0xFFFFFFFF), "reserved");
    EXPECT_STREQ(NotAHostAddress(0x7FFFFFFF, 0xFF000000), "broadcast");
    EXPECT_STREQ(NotAHostAddress(0xC0A80700, 0xFFFFFF00), "network");
}
