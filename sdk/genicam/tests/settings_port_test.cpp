// The settings-image port: reads render the owner's image afresh, writes
// reach the owner's rules only as whole 32-bit values in the settings window
// or at a command register.
#include <gtest/gtest.h>

#include <string.h>

#include <utility>
#include <vector>

#include "TnByteOrder.h"
#include "TnGenICamInternal.h"
#include "TnText.h"

using tn::genicam::SettingsImagePort;

namespace
{
struct Owner
{
    uint32_t mCounter = 0;
    std::vector<std::pair<uint32_t, uint32_t>> mWritten;
    std::vector<std::pair<uint32_t, uint32_t>> mCommands;

    SettingsImagePort Port()
    {
        return SettingsImagePort(
            {0x20, 0x04, 0x10, {0x1C}, "nothing there", "one value at a time"},
            [this](uint8_t *aImage) { tn::PutU32(aImage + 0x08, ++mCounter); },
            [this](const std::vector<std::pair<uint32_t, uint32_t>> &aValues) {
                mWritten.insert(mWritten.end(), aValues.begin(), aValues.end());
            },
            [this](uint32_t aAddress, uint32_t aValue) { mCommands.emplace_back(aAddress, aValue); });
    }
};

} // namespace

TEST(SettingsImagePort, ReadsRenderTheImageEachTime)
{
    Owner lOwner;
    SettingsImagePort lPort = lOwner.Port();
    uint8_t lBytes[8];
    memset(lBytes, 0xAA, sizeof(lBytes));
    ASSERT_TRUE(lPort.Read(0x04, lBytes, 8).IsOK());
    EXPECT_EQ(0u, tn::GetU32(lBytes)) << "zero-filled around what the owner renders";
    EXPECT_EQ(1u, tn::GetU32(lBytes + 4));
    ASSERT_TRUE(lPort.Read(0x08, lBytes, 4).IsOK());
    EXPECT_EQ(2u, tn::GetU32(lBytes));
    EXPECT_TRUE(lPort.Read(0x1C, lBytes, 4).IsOK()) << "the image's last register";
    const TnResult lOutside = lPort.Read(0x1E, lBytes, 4);
    EXPECT_EQ(TN_INVALID_PARAMETER, lOutside.GetCode());
    EXPECT_EQ("nothing there", tn::Describe(lOutside));
}

TEST(SettingsImagePort, WritesReachTheRulesAsWholeValues)
{
    Owner lOwner;
    SettingsImagePort lPort = lOwner.Port();
    uint8_t lBytes[12];
    tn::PutU32(lBytes, 7);
    tn::PutU32(lBytes + 4, 8);
    tn::PutU32(lBytes + 8, 9);
    ASSERT_TRUE(lPort.Write(0x04, lBytes, 12).IsOK());
    EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{0x04, 7}, {0x08, 8}, {0x0C, 9}}), lOwner.mWritten);
    ASSERT_TRUE(lPort.Write(0x1C, lBytes + 4, 4).IsOK());
    EXPECT_EQ((std::vector<std::pair<uint32_t, uint32_t>>{{0x1C, 8}}), lOwner.mCommands);
    // Outside the window, not aligned, partial, or a command of another size.
    for (const auto &lWrite : std::vector<std::pair<uint64_t, size_t>>{
             {0x00, 4}, {0x10, 4}, {0x0C, 8}, {0x06, 4}, {0x04, 2}, {0x1C, 8}, {0x18, 4}})
    {
        const TnResult lRefused = lPort.Write(lWrite.first, lBytes, lWrite.second);
        EXPECT_EQ(TN_INVALID_PARAMETER, lRefused.GetCode()) << lWrite.first << " " << lWrite.second;
        EXPECT_EQ("one value at a time", tn::Describe(lRefused));
    }
    EXPECT_EQ(3u, lOwner.mWritten.size());
    EXPECT_EQ(1u, lOwner.mCommands.size());
}
