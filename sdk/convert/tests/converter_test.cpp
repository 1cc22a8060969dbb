// The converter's pieces below the public classes: the kernels of both
// instruction sets agree, packed rows survive unpacking and packing, and
// the worker pool shares out its parts.
#include <gtest/gtest.h>

#include <stdint.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <vector>

#include "TnConvertKernels.h"
#include "TnConvertTable.h"
#include "TnWorkerPool.h"

using namespace tn::convert;

namespace
{
std::vector<uint8_t> Random(size_t aSize, uint32_t aSeed)
{
    std::mt19937 lRandom(aSeed);
    std::vector<uint8_t> lBytes(aSize);
    for (uint8_t &lByte : lBytes)
    {
        lByte = uint8_t(lRandom());
    }
    return lBytes;
}
} // namespace

#if defined(__x86_64__)
// Each kernel of the AVX2 set gives what the baseline set gives, vector
// parts and scalar tails alike (widths around the vector sizes).
TEST(Kernels, InstructionSetsAgree)
{
    if (!__builtin_cpu_supports("avx2"))
    {
        GTEST_SKIP() << "no AVX2 here";
    }
    const Kernels &lBase = baseline::GetKernels(), &lWide = avx2::GetKernels();
    for (uint32_t lWidth : {3u, 17u, 18u, 33u, 64u, 101u})
    {
        const std::vector<uint8_t> lIn = Random(lWidth * 4 * 3, lWidth);
        const uint8_t *lUp = lIn.data(), *lRow = lUp + lWidth * 4, *lDown = lRow + lWidth * 4;
        for (int lLayout = 0; lLayout < kLayoutCount; ++lLayout)
        {
            const size_t lOutSize = size_t(lWidth) * 4;
            for (int lRed = 0; lRed < 2; ++lRed)
            {
                for (uint32_t lParity = 0; lParity < 2; ++lParity)
                {
                    std::vector<uint8_t> lA(lOutSize), lB(lOutSize);
                    lBase.mBayer3x3[lLayout][lRed](lUp, lRow, lDown, lA.data(), 1, lWidth - 1, lParity);
                    lWide.mBayer3x3[lLayout][lRed](lUp, lRow, lDown, lB.data(), 1, lWidth - 1, lParity);
                    EXPECT_EQ(lA, lB) << "3x3 " << lWidth;
                    lBase.mBayer2x2[lLayout][lRed](lRow, lDown, lA.data(), 0, lWidth - 1, lParity);
                    lWide.mBayer2x2[lLayout][lRed](lRow, lDown, lB.data(), 0, lWidth - 1, lParity);
                    EXPECT_EQ(lA, lB) << "2x2 " << lWidth;
                }
            }
            for (int lTo = 0; lTo < kLayoutCount; ++lTo)
            {
                std::vector<uint8_t> lA(lOutSize), lB(lOutSize);
                lBase.mRgbToRgb[lLayout][lTo](lIn.data(), lA.data(), lWidth);
                lWide.mRgbToRgb[lLayout][lTo](lIn.data(), lB.data(), lWidth);
                EXPECT_EQ(lA, lB);
            }
            for (int lOrder = 0; lOrder < 2; ++lOrder)
            {
                std::vector<uint8_t> lA(lOutSize), lB(lOutSize);
                lBase.mYuv422ToRgb[lOrder][lLayout](lIn.data(), lA.data(), lWidth);
                lWide.mYuv422ToRgb[lOrder][lLayout](lIn.data(), lB.data(), lWidth);
                EXPECT_EQ(lA, lB);
            }
            std::vector<uint8_t> lA(lOutSize), lB(lOutSize);
            lBase.mGreyToColour[lLayout](lIn.data(), lA.data(), lWidth);
            lWide.mGreyToColour[lLayout](lIn.data(), lB.data(), lWidth);
            EXPECT_EQ(lA, lB);
            lWide.mGreyToColourStreaming[lLayout](lIn.data(), lB.data(), lWidth);
            EXPECT_EQ(lA, lB);
        }
        std::vector<uint8_t> lA(lWidth * 2), lB(lWidth * 2);
        lBase.mRgb8ToMono8(lIn.data(), lA.data(), lWidth);
        lWide.mRgb8ToMono8(lIn.data(), lB.data(), lWidth);
        EXPECT_EQ(lA, lB);
        lBase.mMono12pToMono16(lIn.data(), lA.data(), lWidth);
        lWide.mMono12pToMono16(lIn.data(), lB.data(), lWidth);
        EXPECT_EQ(lA, lB);
    }
}
#endif

namespace
{
// The kernels of a set that store past the caches write what the others
// write, at every place of the output relative to 16 bytes (from where the
// vectors can be stored there, and through the caches where they never can),
// and nothing beside it.
void ExpectStreamingWritesTheSameBytes(const Kernels &aKernels)
{
    for (uint32_t lWidth : {1u, 15u, 16u, 17u, 40u, 101u})
    {
        const std::vector<uint8_t> lIn = Random(lWidth * 4, lWidth);
        for (uint32_t lOffset = 0; lOffset < 16; ++lOffset)
        {
            for (int lTo = 0; lTo < kLayoutCount; ++lTo)
            {
                const size_t lSize = size_t(lWidth) * kLayouts[lTo].mBytes;
                std::vector<uint8_t> lCached(lSize), lStreamed(lSize + 32, 0xEE);
                for (int lFrom = 0; lFrom < kLayoutCount; ++lFrom)
                {
                    aKernels.mRgbToRgb[lFrom][lTo](lIn.data(), lCached.data(), lWidth);
                    aKernels.mRgbToRgbStreaming[lFrom][lTo](lIn.data(), lStreamed.data() + lOffset, lWidth);
                    StreamingDone();
                    EXPECT_TRUE(std::equal(lCached.begin(), lCached.end(), lStreamed.begin() + lOffset))
                        << lFrom << " to " << lTo << ", " << lWidth << " at " << lOffset;
                }
                aKernels.mGreyToColour[lTo](lIn.data(), lCached.data(), lWidth);
                aKernels.mGreyToColourStreaming[lTo](lIn.data(), lStreamed.data() + lOffset, lWidth);
                StreamingDone();
                EXPECT_TRUE(std::equal(lCached.begin(), lCached.end(), lStreamed.begin() + lOffset))
                    << "grey to " << lTo << ", " << lWidth << " at " << lOffset;
                const auto lUntouched = [](uint8_t aByte) { return aByte == 0xEE; };
                EXPECT_TRUE(std::all_of(lStreamed.begin(), lStreamed.begin() + lOffset, lUntouched));
                EXPECT_TRUE(std::all_of(lStreamed.begin() + lOffset + lSize, lStreamed.end(), lUntouched));
            }
        }
    }
}
} // namespace

TEST(Kernels, StreamingStoresWriteTheSameBytes)
{
    ExpectStreamingWritesTheSameBytes(baseline::GetKernels());
    ExpectStreamingWritesTheSameBytes(GetKernels());
}

// The codec's predictors: the residuals of every predictor decode to the row,
// with and without a row above, for every step.
TEST(Kernels, PredictorsInvert)
{
    const Kernels &lKernels = GetKernels();
    const std::vector<uint8_t> lBytes = Random(2 * 300 * 2, 9);
    const uint8_t *lAbove = lBytes.data(), *lRow = lAbove + 300;
    const uint16_t *lAbove16 = reinterpret_cast<const uint16_t *>(lBytes.data() + 600);
    const uint16_t *lRow16 = lAbove16 + 150;
    for (uint32_t lStep = 1; lStep <= 5; ++lStep)
    {
        for (uint32_t lPredictor = 0; lPredictor < kPredictorCount; ++lPredictor)
        {
            for (const uint8_t *lUpper : {lAbove, static_cast<const uint8_t *>(nullptr)})
            {
                std::vector<uint8_t> lResiduals(300), lBack(300);
                lKernels.mResiduals8(lRow, lUpper, 300, lStep, lPredictor, lResiduals.data());
                lKernels.mReconstruct8(lResiduals.data(), lUpper, 300, lStep, lPredictor, lBack.data());
                EXPECT_EQ(lBack, std::vector<uint8_t>(lRow, lRow + 300)) << lStep << " " << lPredictor;
            }
            for (const uint16_t *lUpper : {lAbove16, static_cast<const uint16_t *>(nullptr)})
            {
                std::vector<uint8_t> lLow(150), lHigh(150);
                std::vector<uint16_t> lBack(150);
                lKernels.mResiduals16(lRow16, lUpper, 150, lStep, lPredictor, lLow.data(), lHigh.data());
                lKernels.mReconstruct16(lLow.data(), lHigh.data(), lUpper, 150, lStep, lPredictor, lBack.data());
                EXPECT_EQ(lBack, std::vector<uint16_t>(lRow16, lRow16 + 150)) << lStep << " " << lPredictor;
            }
        }
    }
}

TEST(PackedRows, UnpackAndPackAgain)
{
    const struct
    {
        Packing mPacking;
        uint32_t mBits;
    } kPackings[] = {{Packing::BitStream, 10}, {Packing::BitStream, 12}, {Packing::BitStream, 14},
                     {Packing::Gev10, 10},     {Packing::Gev12, 12}};
    std::mt19937 lRandom(3);
    for (const auto &lPacking : kPackings)
    {
        std::vector<uint16_t> lSamples(64), lBack(64);
        for (uint16_t &lSample : lSamples)
        {
            lSample = uint16_t(lRandom() & ((1u << lPacking.mBits) - 1));
        }
        std::vector<uint8_t> lRow(64 * 2, 0xFF);
        PackPackedRow(lSamples.data(), 64, lPacking.mPacking, lPacking.mBits, lRow.data());
        UnpackPackedRow(lRow.data(), 64, lPacking.mPacking, lPacking.mBits, lBack.data());
        EXPECT_EQ(lBack, lSamples);
    }
    // Mono12Packed: pixel 0 in byte 0 (high bits) and the low nibble of byte
    // 1, pixel 1 in byte 2 and the high nibble of byte 1.
    const uint8_t kGev12[] = {0xAB, 0x21, 0xCD};
    uint16_t lPixels[2];
    UnpackPackedRow(kGev12, 2, Packing::Gev12, 12, lPixels);
    EXPECT_EQ(lPixels[0], 0xAB1);
    EXPECT_EQ(lPixels[1], 0xCD2);
}

TEST(SupportTable, EntriesAreUniqueAndFound)
{
    std::set<std::pair<int32_t, int32_t>> lPairs;
    for (const Conversion &lEntry : SupportTable())
    {
        EXPECT_TRUE(lPairs.insert({lEntry.mSource->mType, lEntry.mDestination}).second);
        EXPECT_EQ(FindConversion(lEntry.mSource->mType, lEntry.mDestination), &lEntry);
    }
    EXPECT_NE(FindConversion(TnPixelMono8, TnPixelRGB8), nullptr);
    EXPECT_EQ(FindConversion(TnPixelRGB8, TnPixelMono16), nullptr);
}

TEST(WorkerPool, EveryPartRunsOnceOnItsSlot)
{
    WorkerPool lPool;
    ASSERT_TRUE(lPool.Start(3).IsOK());
    for (bool lJoins : {false, true})
    {
        std::vector<std::atomic<int>> lRuns(100);
        std::atomic<uint32_t> lHighestSlot{0};
        lPool.Run(100, lJoins, [&](uint32_t aPart, uint32_t aSlot) {
            ++lRuns[aPart];
            uint32_t lSeen = lHighestSlot.load();
            while (aSlot > lSeen && !lHighestSlot.compare_exchange_weak(lSeen, aSlot))
            {
            }
        });
        for (const std::atomic<int> &lCount : lRuns)
        {
            EXPECT_EQ(lCount.load(), 1);
        }
        EXPECT_LE(lHighestSlot.load(), lJoins ? 3u : 2u);
    }
    EXPECT_EQ(lPool.SetPriority(7).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_TRUE(lPool.SetPriority(4).IsOK() || lPool.GetPriority() == kNormalPriority);
    lPool.Stop();
    int lRuns = 0;
    lPool.Run(5, false, [&](uint32_t, uint32_t) { ++lRuns; });
    EXPECT_EQ(lRuns, 5);
}

TEST(WorkerPool, JobsOneAfterAnotherNeverShareAPartOrEndEarly)
{
    // Workers that wake late, or still spin from the job before, must neither
    // take a part of the next job twice nor let a job end with a part running.
    WorkerPool lPool;
    ASSERT_TRUE(lPool.Start(3).IsOK());
    for (uint32_t lJob = 0; lJob < 20000; ++lJob)
    {
        const uint32_t lParts = 1 + lJob % 13;
        std::vector<std::atomic<int>> lRuns(lParts);
        std::atomic<int> lRunning{0};
        lPool.Run(lParts, lJob % 3 != 0, [&](uint32_t aPart, uint32_t) {
            ++lRunning;
            ++lRuns[aPart];
            --lRunning;
        });
        ASSERT_EQ(lRunning.load(), 0) << "job " << lJob;
        for (uint32_t lPart = 0; lPart < lParts; ++lPart)
        {
            ASSERT_EQ(lRuns[lPart].load(), 1) << "job " << lJob << ", part " << lPart;
        }
    }
}
