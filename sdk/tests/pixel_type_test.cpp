#include <gtest/gtest.h>

#include <set>
#include <string>

#include "TnPixelType.h"

TEST(PixelType, BitFields)
{
    EXPECT_EQ(TnPixelTypeGetBitsPerPixel(TnPixelRGB8), 24u);
    EXPECT_EQ(TnPixelTypeGetBitsPerPixel(TnPixelMono10Packed), 12u);
    EXPECT_EQ(TnPixelTypeGetBitsPerComponent(TnPixelMono10Packed), 10u);
    EXPECT_EQ(TnPixelTypeGetPixelSize(TnPixelCoord3D_ABC32f), 96u);
    EXPECT_EQ(TnPixelTypeGetPixelBitCount(TnPixelYCbCr411_8), 12u);
    EXPECT_EQ(TnPixelTypeGetBitsPerComponent(TnPixelYCbCr601_422_10p), 10u);
    EXPECT_EQ(TnPixelTypeGetBitsPerComponent(static_cast<TnPixelType>(TNPIXELCUSTOM)), 0u);
}

TEST(PixelType, ColourAndResolution)
{
    EXPECT_FALSE(TnPixelTypeIsPixelColor(TnPixelMono8));
    EXPECT_TRUE(TnPixelTypeIsPixelColor(TnPixelBayerRG8));
    EXPECT_TRUE(TnPixelTypeIsPixelColor(TnPixelYUV422_8));
    EXPECT_TRUE(TnPixelTypeIsPixelColor(TnPixelSCF1WBWG8));
    EXPECT_FALSE(TnPixelTypeIsPixelColor(TnPixelCoord3D_ABC8));
    EXPECT_FALSE(TnPixelTypeIsPixelHighRes(TnPixelRGBa8));
    EXPECT_TRUE(TnPixelTypeIsPixelHighRes(TnPixelMono10p));
    EXPECT_TRUE(TnPixelTypeIsPixelHighRes(TnPixelData64f));
}

TEST(PixelType, EveryCodeHasItsOwnName)
{
    std::set<std::string> lNames;
    int lCount = 0;
#define TN_CHECK_NAME(aName, aCode, aBits, aColour)                                         \
    EXPECT_STREQ(TnPixelTypeToString(TnPixel##aName).GetAscii(), #aName);                   \
    EXPECT_EQ(TnPixelTypeGetBitsPerPixel(TnPixel##aName), (uint32_t(aCode) >> 16) & 0xFFu); \
    lNames.insert(#aName);                                                                  \
    ++lCount;
    TN_PIXEL_TYPE_LIST(TN_CHECK_NAME)
#undef TN_CHECK_NAME
    EXPECT_EQ(lCount, 251);
    EXPECT_EQ(lNames.size(), 251u);
    EXPECT_STREQ(TnPixelTypeToString(TnPixelRGB10p).GetAscii(), "RGB10p");
    EXPECT_STREQ(TnPixelTypeToString(TnPixelBayerBG10p).GetAscii(), "BayerBG10p");
    EXPECT_STREQ(TnPixelTypeToString(static_cast<TnPixelType>(TNPIXELCUSTOM)).GetAscii(), "Custom 0x80000000");
    EXPECT_STREQ(TnPixelTypeToString(static_cast<TnPixelType>(0x01080FFF)).GetAscii(), "Unknown 0x01080FFF");
}
