#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

#include "TnMemory.h"
#include "TnMemoryBlocks.h"

namespace
{
/// Counts how often memory of a test was given back.
void CountGiveBack(void *aCount, void *, size_t)
{
    static_cast<std::atomic<int> *>(aCount)->fetch_add(1);
}

/// Whether some block holds aLength bytes at aAddress.
bool Held(const void *aAddress, size_t aLength = 1)
{
    return tn::HoldBlockAt(aAddress, aLength) != nullptr;
}
} // namespace

TEST(MemoryBlocks, MemoryStaysWhilePinnedAndGoesWithTheLastReference)
{
    for (uint64_t lSize : {uint64_t(100), uint64_t(8) << 20})
    {
        tn::ZeroedMemory lMemory = tn::AllocateZeroed(lSize);
        ASSERT_TRUE(lMemory);
        uint8_t *const lData = lMemory.get();
        memset(lData, 0x5A, size_t(lSize));
        tn::MemoryBlock *lPin = tn::PinBlock(lData + lSize - 10, 10);
        ASSERT_NE(lPin, nullptr) << lSize;
        EXPECT_EQ(tn::BlockBytesFrom(lPin, lData + 1), lSize - 1);
        EXPECT_FALSE(Held(lData + lSize - 10, 11)) << "a range past the block belongs to none";
        EXPECT_FALSE(Held(lData - 1, 2));
        lMemory.reset();
        EXPECT_TRUE(Held(lData, size_t(lSize)));
        EXPECT_EQ(lData[lSize - 1], 0x5A);
        tn::ReleaseBlock(lPin);
        EXPECT_FALSE(Held(lData));
    }
    std::vector<uint8_t> lBytes(64);
    std::atomic<int> lGiven{0};
    tn::MemoryBlock *lBlock = tn::RegisterBlock(lBytes.data(), lBytes.size(), CountGiveBack, &lGiven);
    tn::MemoryBlock *lPin = tn::PinBlock(lBytes.data() + 8, 8);
    ASSERT_EQ(lPin, lBlock);
    tn::ReleaseBlock(lBlock);
    EXPECT_EQ(lGiven.load(), 0);
    tn::ReleaseBlock(lPin);
    EXPECT_EQ(lGiven.load(), 1);
    EXPECT_EQ(tn::RegisterBlock(nullptr, 4, CountGiveBack, &lGiven), nullptr);
    EXPECT_EQ(tn::PinBlock(nullptr, 1), nullptr);
}

TEST(MemoryBlocks, AnAddressFindsTheInnermostBlockThatHoldsTheWholeRange)
{
    // Memory of a block attached elsewhere is registered again, inside it.
    tn::ZeroedMemory lOuter = tn::AllocateZeroed(4096);
    ASSERT_TRUE(lOuter);
    uint8_t *const lData = lOuter.get();
    std::atomic<int> lGiven{0};
    tn::MemoryBlock *lInner = tn::RegisterBlock(lData + 100, 50, CountGiveBack, &lGiven);
    tn::MemoryBlock *lSame = tn::RegisterBlock(lData, 4096, CountGiveBack, &lGiven);
    struct Case
    {
        size_t mOffset, mLength;
        tn::MemoryBlock *mFound;
    };
    for (const Case &lCase : {Case{120, 10, lInner}, Case{120, 40, lSame}, Case{4000, 96, lSame}})
    {
        tn::BlockHold lHold = tn::HoldBlockAt(lData + lCase.mOffset, lCase.mLength);
        EXPECT_EQ(lHold.get(), lCase.mFound) << lCase.mOffset << "+" << lCase.mLength;
    }
    tn::ReleaseBlock(lSame);
    tn::BlockHold lHold = tn::HoldBlockAt(lData + 10, 10);
    EXPECT_EQ(tn::BlockBytesFrom(lHold.get(), lData + 10), 4086u) << "the allocated block itself";
    tn::ReleaseBlock(lInner);
    EXPECT_EQ(lGiven.load(), 2);
}

TEST(MemoryBlocks, ReleasesInADeferringScopeWaitUntilItEnds)
{
    std::vector<uint8_t> lBytes(16);
    std::atomic<int> lGiven{0};
    tn::MemoryBlock *lBlock = tn::RegisterBlock(lBytes.data(), lBytes.size(), CountGiveBack, &lGiven);
    tn::MemoryBlock *lPin = nullptr;
    {
        tn::DeferredBlockReleases lOuter;
        {
            tn::DeferredBlockReleases lInner;
            tn::ReleaseBlock(lBlock); // the owner lets go, as Detach does
        }
        lPin = tn::PinBlock(lBytes.data(), lBytes.size());
        EXPECT_EQ(lPin, lBlock) << "what the call let go of can still be pinned";
    }
    EXPECT_EQ(lGiven.load(), 0);
    tn::ReleaseBlock(lPin);
    EXPECT_EQ(lGiven.load(), 1);
    // Unpinned, it goes as the scope ends; another thread's releases go at once.
    lBlock = tn::RegisterBlock(lBytes.data(), lBytes.size(), CountGiveBack, &lGiven);
    tn::MemoryBlock *lOther = tn::RegisterBlock(lBytes.data(), 8, CountGiveBack, &lGiven);
    {
        tn::DeferredBlockReleases lScope;
        tn::ReleaseBlock(lBlock);
        std::thread([lOther] { tn::ReleaseBlock(lOther); }).join();
        EXPECT_EQ(lGiven.load(), 2);
    }
    EXPECT_EQ(lGiven.load(), 3);
}

TEST(MemoryBlocks, PinsRacingTheLastReleaseNeverReviveABlock)
{
    // Each pin either fails or holds memory not given back yet, and the
    // memory is given back exactly once.
    for (int lRound = 0; lRound < 20; ++lRound)
    {
        std::vector<uint8_t> lBytes(256);
        std::atomic<int> lGiven{0}, lBadPins{0};
        tn::MemoryBlock *lBlock = tn::RegisterBlock(lBytes.data(), lBytes.size(), CountGiveBack, &lGiven);
        std::vector<std::thread> lThreads;
        for (int lThread = 0; lThread < 4; ++lThread)
        {
            lThreads.emplace_back([&] {
                for (int lTry = 0; lTry < 2000; ++lTry)
                {
                    tn::BlockHold lPin = tn::HoldBlockAt(lBytes.data() + 100, 4);
                    if (!lPin)
                    {
                        break;
                    }
                    lBadPins.fetch_add(lGiven.load() != 0 ? 1 : 0);
                }
            });
        }
        tn::ReleaseBlock(lBlock);
        for (std::thread &lThread : lThreads)
        {
            lThread.join();
        }
        EXPECT_EQ(lBadPins.load(), 0);
        EXPECT_EQ(lGiven.load(), 1);
    }
}
