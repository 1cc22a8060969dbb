#include <gtest/gtest.h>

#include <vector>

#include "TnGvsp.h"

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
} // namespace

TEST(GvspLayout, StandardAndExtendedHeaders)
{
    TnGvspHeader lHeader;
    lHeader.mStatus = 0x0100;
    lHeader.mFormat = kGvspFormatPayload;
    lHeader.mBlockId = 0x12345; // 16 bits with standard ids
    lHeader.mPacketId = 0x01ABCDEF; // 24 bits with standard ids
    std::vector<uint8_t> lPacket;
    AppendGvspHeader(lPacket, lHeader);
    EXPECT_EQ(lPacket, Bytes({0x01, 0x00, 0x23, 0x45, 0x03, 0xAB, 0xCD, 0xEF}));

    lHeader.mExtendedIds = true;
    lHeader.mFlags = 0x4000;
    lHeader.mFormat = kGvspFormatLeader;
    lHeader.mBlockId = 0x0102030405060708ull;
    lHeader.mPacketId = 0x01ABCDEF;
    lPacket.clear();
    AppendGvspHeader(lPacket, lHeader);
    EXPECT_EQ(lPacket, Bytes({0x01, 0x00, 0x40, 0x00, 0x81, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                              0x07, 0x08, 0x01, 0xAB, 0xCD, 0xEF}));

    const uint8_t lData[] = {0xAA, 0xBB};
    lPacket.insert(lPacket.end(), lData, lData + 2);
    TnGvspPacket lDecoded;
    ASSERT_TRUE(DecodeGvspPacket(lPacket.data(), lPacket.size(), lDecoded));
    EXPECT_TRUE(lDecoded.mHeader.mExtendedIds);
    EXPECT_EQ(lDecoded.mHeader.mFormat, kGvspFormatLeader);
    EXPECT_EQ(lDecoded.mHeader.mFlags, 0x4000);
    EXPECT_EQ(lDecoded.mHeader.mBlockId, 0x0102030405060708ull);
    EXPECT_EQ(lDecoded.mHeader.mPacketId, 0x01ABCDEFu);
    ASSERT_EQ(lDecoded.mPayloadSize, 2u);
    EXPECT_EQ(lDecoded.mPayload[1], 0xBB);
}

TEST(GvspLayout, ImageLeaderAndTrailer)
{
    TnGvspImageLeader lLeader;
    lLeader.mPayloadType = kGvspPayloadImage | kGvspPayloadChunkFlag;
    lLeader.mTimestamp = 0x0000000100000002ull;
    lLeader.mPixelFormat = 0x01080001; // Mono8
    lLeader.mSizeX = 640;
    lLeader.mSizeY = 480;
    lLeader.mOffsetX = 8;
    lLeader.mOffsetY = 4;
    lLeader.mPaddingX = 2;
    lLeader.mPaddingY = 0;
    std::vector<uint8_t> lPayload;
    AppendImageLeader(lPayload, lLeader);
    EXPECT_EQ(lPayload, Bytes({0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02,
                               0x01, 0x08, 0x00, 0x01, 0x00, 0x00, 0x02, 0x80, 0x00, 0x00, 0x01, 0xE0,
                               0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x04, 0x00, 0x02, 0x00, 0x00}));
    TnGvspImageLeader lBack;
    ASSERT_TRUE(DecodeImageLeader(lPayload.data(), lPayload.size(), lBack));
    EXPECT_EQ(BasePayloadType(lBack.mPayloadType), kGvspPayloadImage);
    EXPECT_EQ(lBack.mTimestamp, lLeader.mTimestamp);
    EXPECT_EQ(lBack.mSizeY, 480u);
    EXPECT_EQ(lBack.mPaddingX, 2);
    TnGvspLeaderBase lBase;
    ASSERT_TRUE(DecodeLeaderBase(lPayload.data(), lPayload.size(), lBase));
    EXPECT_EQ(lBase.mTimestamp, lLeader.mTimestamp);

    TnGvspTrailer lTrailer;
    lTrailer.mSizeY = 479;
    std::vector<uint8_t> lTrailerBytes;
    AppendTrailer(lTrailerBytes, lTrailer);
    EXPECT_EQ(lTrailerBytes, Bytes({0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0xDF}));
    TnGvspTrailer lTrailerBack;
    ASSERT_TRUE(DecodeTrailer(lTrailerBytes.data(), lTrailerBytes.size(), lTrailerBack));
    EXPECT_TRUE(lTrailerBack.mHasSizeY);
    EXPECT_EQ(lTrailerBack.mSizeY, 479u);
    // A trailer of another payload type may end after its payload type.
    ASSERT_TRUE(DecodeTrailer(lTrailerBytes.data(), 4, lTrailerBack));
    EXPECT_FALSE(lTrailerBack.mHasSizeY);
}

TEST(GvspLayout, MultipartLeaderKeepsEveryDescription)
{
    TnGvspMultipartLeader lLeader;
    lLeader.mTimestamp = 99;
    lLeader.mParts.resize(2);
    lLeader.mParts[1].mBytes[0] = 0x00, lLeader.mParts[1].mBytes[1] = 0x09; // confidence map
    lLeader.mParts[1].mBytes[3] = 0x01;                                     // part length high
    lLeader.mParts[1].mBytes[7] = 0x10;                                     // part length low
    lLeader.mParts[1].mBytes[8] = 0x01, lLeader.mParts[1].mBytes[9] = 0x08, lLeader.mParts[1].mBytes[11] = 0x01;
    lLeader.mParts[1].mBytes[47] = 0x5A;
    std::vector<uint8_t> lPayload;
    AppendMultipartLeader(lPayload, lLeader);
    ASSERT_EQ(lPayload.size(), kGvspMultipartLeaderBaseSize + 2 * kGvspPartDescriptionSize);
    EXPECT_EQ(lPayload[3], kGvspPayloadMultipart);

    TnGvspMultipartLeader lBack;
    ASSERT_TRUE(DecodeMultipartLeader(lPayload.data(), lPayload.size(), lBack));
    EXPECT_EQ(lBack.mTimestamp, 99u);
    ASSERT_EQ(lBack.mParts.size(), 2u);
    EXPECT_EQ(lBack.mParts[1].GetDataType(), 9);
    EXPECT_EQ(lBack.mParts[1].GetPartLength(), 0x100000010ull);
    EXPECT_EQ(lBack.mParts[1].GetPixelFormat(), 0x01080001u);
    EXPECT_EQ(lBack.mParts[1].mBytes[47], 0x5A);
}

TEST(GvspRejection, TruncatedPacketsAndWrongPayloadTypes)
{
    TnGvspPacket lPacket;
    const std::vector<uint8_t> lStandard = Bytes({0, 0, 0, 1, 0x03, 0, 0, 1});
    EXPECT_FALSE(DecodeGvspPacket(lStandard.data(), 7, lPacket));
    EXPECT_FALSE(DecodeGvspPacket(nullptr, 8, lPacket));
    ASSERT_TRUE(DecodeGvspPacket(lStandard.data(), lStandard.size(), lPacket));
    EXPECT_EQ(lPacket.mPayloadSize, 0u);

    // The extended-id bit promises a 20-byte header.
    std::vector<uint8_t> lExtended = Bytes({0, 0, 0, 0, 0x83, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
    EXPECT_FALSE(DecodeGvspPacket(lExtended.data(), lExtended.size(), lPacket));
    lExtended.push_back(2);
    ASSERT_TRUE(DecodeGvspPacket(lExtended.data(), lExtended.size(), lPacket));
    EXPECT_EQ(lPacket.mHeader.mPacketId, 2u);

    TnGvspImageLeader lLeader;
    std::vector<uint8_t> lBytes;
    AppendImageLeader(lBytes, lLeader);
    TnGvspImageLeader lBack;
    EXPECT_FALSE(DecodeImageLeader(lBytes.data(), lBytes.size() - 1, lBack));
    lBytes[3] = kGvspPayloadRawData;
    EXPECT_FALSE(DecodeImageLeader(lBytes.data(), lBytes.size(), lBack));
    TnGvspTrailer lTrailer;
    EXPECT_FALSE(DecodeTrailer(lBytes.data(), 3, lTrailer));
    TnGvspLeaderBase lBase;
    EXPECT_FALSE(DecodeLeaderBase(lBytes.data(), 11, lBase));

    TnGvspMultipartLeader lMultipart;
    lMultipart.mParts.resize(1);
    std::vector<uint8_t> lParts;
    AppendMultipartLeader(lParts, lMultipart);
    TnGvspMultipartLeader lMultipartBack;
    EXPECT_FALSE(DecodeMultipartLeader(lParts.data(), lParts.size() - 1, lMultipartBack));
    EXPECT_FALSE(DecodeMultipartLeader(lParts.data(), 11, lMultipartBack));
    lParts[3] = kGvspPayloadImage;
    EXPECT_FALSE(DecodeMultipartLeader(lParts.data(), lParts.size(), lMultipartBack));
}
