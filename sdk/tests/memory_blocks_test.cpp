#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

#include "TnMemory.h"
#include "TnMemoryBlocks.h"

namespace
{
/// Memory of a test that counts how often, and how, it was given back.
struct Given
{
    std::atomic<int> mCount{0};
    void *mAddress = nullptr;
    size_t mLength = 0;

    static void Back(void *aContext, void *aAddress, size_t aLength)
    {
        Given *lGiven = static_cast<Given *>(aContext);
        lGiven->mAddress = aAddress;
        lGiven->mLength = aLength;
        lGiven->mCount.fetch_add(1);
    }
};

/// Whether some block holds aLength bytes at aAddress (the reference taken to
/// find out is dropped again).
bool Held(const void *aAddress, size_t aLength = 1)
{
    tn::BlockHold lHold = tn::HoldBlockAt(aAddress, aLength);
    return lHold != nullptr;
}
} // namespace

TEST(MemoryBlocks, AllocatedMemoryStaysWhilePinnedAfterItsOwnerLetsGo)
{
    for (uint64_t lSize : {uint64_t(100), uint64_t(1) << 20, uint64_t(8) << 20})
    {
        tn::ZeroedMemory lMemory = tn::AllocateZeroed(lSize);
        ASSERT_TRUE(lMemory);
        uint8_t *const lData = lMemory.get();
        memset(lData, 0x5A, size_t(lSize));
        tn::MemoryBlock *lPin = tn::PinBlock(lData + lSize - 10, 10);
        ASSERT_NE(lPin, nullptr) << lSize;
        EXPECT_EQ(tn::BlockBytesFrom(lPin, lData + 1), lSize - 1);
        // Ranges reaching past the block, or before it, belong to none.
        EXPECT_FALSE(Held(lData + lSize - 10, 11));
        EXPECT_FALSE(Held(lData - 1, 2));

        lMemory.reset();
        EXPECT_TRUE(Held(lData, size_t(lSize))) << "the pin keeps the block";
        EXPECT_EQ(lData[0], 0x5A);
        EXPECT_EQ(lData[lSize - 1], 0x5A);
        tn::ReleaseBlock(lPin);
        EXPECT_FALSE(Held(lData)) << "the last reference gave it back";
    }
    EXPECT_EQ(tn::PinBlock(nullptr, 1), nullptr);
}

TEST(MemoryBlocks, MemoryOfOthersIsGivenBackOnceWhenTheLastReferenceGoes)
{
    std::vector<uint8_t> lBytes(64);
    Given lGiven;
    tn::MemoryBlock *lBlock = tn::RegisterBlock(lBytes.data(), lBytes.size(), Given::Back, &lGiven);
    ASSERT_NE(lBlock, nullptr);
    tn::MemoryBlock *lPin = tn::PinBlock(lBytes.data() + 8, 8);
    ASSERT_EQ(lPin, lBlock);
    tn::RetainBlock(lPin);
    tn::ReleaseBlock(lBlock);
    tn::ReleaseBlock(lPin);
    EXPECT_EQ(lGiven.mCount.load(), 0);
    EXPECT_TRUE(Held(lBytes.data(), lBytes.size()));
    tn::ReleaseBlock(lPin);
    EXPECT_EQ(lGiven.mCount.load(), 1);
    EXPECT_EQ(lGiven.mAddress, lBytes.data());
    EXPECT_EQ(lGiven.mLength, lBytes.size());
    EXPECT_FALSE(Held(lBytes.data()));
    EXPECT_EQ(tn::RegisterBlock(nullptr, 4, Given::Back, &lGiven), nullptr);
}

TEST(MemoryBlocks, AnAddressFindsTheInnermostBlockThatHoldsTheWholeRange)
{
    // Memory of one block attached elsewhere is registered again, inside it;
    // the same range twice finds the later registration.
    tn::ZeroedMemory lOuter = tn::AllocateZeroed(4096);
    ASSERT_TRUE(lOuter);
    uint8_t *const lData = lOuter.get();
    Given lInnerGiven, lSameGiven;
    tn::MemoryBlock *lInner = tn::RegisterBlock(lData + 100, 50, Given::Back, &lInnerGiven);
    tn::MemoryBlock *lSame = tn::RegisterBlock(lData, 4096, Given::Back, &lSameGiven);
    ASSERT_NE(lInner, nullptr);
    ASSERT_NE(lSame, nullptr);

    tn::MemoryBlock *lFound = tn::PinBlock(lData + 120, 10);
    EXPECT_EQ(lFound, lInner);
    tn::ReleaseBlock(lFound);
    lFound = tn::PinBlock(lData + 120, 40); // past the inner block's end
    EXPECT_EQ(lFound, lSame);
    tn::ReleaseBlock(lFound);
    lFound = tn::PinBlock(lData + 4000, 96);
    EXPECT_EQ(lFound, lSame);
    tn::ReleaseBlock(lFound);

    tn::ReleaseBlock(lSame);
    lFound = tn::PinBlock(lData + 10, 10);
    EXPECT_NE(lFound, nullptr);
    EXPECT_NE(lFound, lSame);
    EXPECT_EQ(tn::BlockBytesFrom(lFound, lData + 10), 4086u) << "the allocated block itself";
    tn::ReleaseBlock(lFound);
    tn::ReleaseBlock(lInner);
    EXPECT_EQ(lInnerGiven.mCount.load() + lSameGiven.mCount.load(), 2);
}

TEST(MemoryBlocks, ReleasesInADeferringScopeWaitUntilItEnds)
{
    std::vector<uint8_t> lBytes(16);
    Given lGiven;
    tn::MemoryBlock *lBlock = tn::RegisterBlock(lBytes.data(), lBytes.size(), Given::Back, &lGiven);
    ASSERT_NE(lBlock, nullptr);
    tn::MemoryBlock *lPin = nullptr;
    {
        tn::DeferredBlockReleases lOuter;
        {
            tn::DeferredBlockReleases lInner;
            tn::ReleaseBlock(lBlock); // the owner lets go, as Detach does
        }
        EXPECT_EQ(lGiven.mCount.load(), 0) << "an outer scope still defers";
        lPin = tn::PinBlock(lBytes.data(), lBytes.size());
        EXPECT_EQ(lPin, lBlock) << "what the call let go of can still be pinned";
    }
    EXPECT_EQ(lGiven.mCount.load(), 0);
    tn::ReleaseBlock(lPin);
    EXPECT_EQ(lGiven.mCount.load(), 1);

    // Nothing pinned it: given back when the scope ends.
    lBlock = tn::RegisterBlock(lBytes.data(), lBytes.size(), Given::Back, &lGiven);
    {
        tn::DeferredBlockReleases lScope;
        tn::ReleaseBlock(lBlock);
        EXPECT_EQ(lGiven.mCount.load(), 1);
    }
    EXPECT_EQ(lGiven.mCount.load(), 2);

    // Scopes are the thread's own: another thread's releases go at once.
    lBlock = tn::RegisterBlock(lBytes.data(), lBytes.size(), Given::Back, &lGiven);
    {
        tn::DeferredBlockReleases lScope;
        std::thread([lBlock] { tn::ReleaseBlock(lBlock); }).join();
        EXPECT_EQ(lGiven.mCount.load(), 3);
    }
}

TEST(MemoryBlocks, PinsRacingTheLastReleaseNeverReviveABlock)
{
    // Threads pin and release a block by address while its owner lets go:
    // each pin either fails or holds live memory, and the memory is given
    // back exactly once, after the last pin.
    for (int lRound = 0; lRound < 20; ++lRound)
    {
        std::vector<uint8_t> lBytes(256, 7);
        Given lGiven;
        tn::MemoryBlock *lBlock = tn::RegisterBlock(lBytes.data(), lBytes.size(), Given::Back, &lGiven);
        ASSERT_NE(lBlock, nullptr);
        std::atomic<bool> lGo{false};
        std::atomic<int> lBadReads{0};
        std::vector<std::thread> lThreads;
        for (int lThread = 0; lThread < 4; ++lThread)
        {
            lThreads.emplace_back([&] {
                while (!lGo.load())
                {
                }
                for (int lTry = 0; lTry < 2000; ++lTry)
                {
                    tn::MemoryBlock *lPin = tn::PinBlock(lBytes.data() + 100, 4);
                    if (lPin == nullptr)
                    {
                        break;
                    }
                    if (lGiven.mCount.load() != 0)
                    {
                        lBadReads.fetch_add(1);
                    }
                    tn::ReleaseBlock(lPin);
                }
            });
        }
        lGo.store(true);
        tn::ReleaseBlock(lBlock);
        for (std::thread &lThread : lThreads)
        {
            lThread.join();
        }
        EXPECT_EQ(lBadReads.load(), 0);
        EXPECT_EQ(lGiven.mCount.load(), 1);
        EXPECT_FALSE(Held(lBytes.data()));
    }
}
