#include "TnFPSStabilizer.h"

#include <chrono>

namespace
{
uint64_t NowUs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
} // namespace

TnFPSStabilizer::TnFPSStabilizer() : mTimes(), mCount(0), mNext(0) {}

TnFPSStabilizer::~TnFPSStabilizer() {}

bool TnFPSStabilizer::IsTimeToDisplay(uint32_t aTargetFPS)
{
    const uint64_t lNow = NowUs();
    // A frame shown now may not follow the previous one sooner than the
    // target's period allows, with a little slack so that jitter in the
    // arrivals does not halve the rate.
    if (aTargetFPS != 0 && mCount != 0)
    {
        const uint64_t lLast = mTimes[(mNext + kHistory - 1) % kHistory];
        const uint64_t lPeriod = 1000000 / aTargetFPS;
        if (lNow - lLast < lPeriod * 7 / 8 || GetAverage() >= aTargetFPS + 1)
        {
            return false;
        }
    }
    mTimes[mNext] = lNow;
    mNext = (mNext + 1) % kHistory;
    if (mCount < kHistory)
    {
        ++mCount;
    }
    return true;
}

uint32_t TnFPSStabilizer::GetAverage()
{
    if (mCount < 2)
    {
        return 0;
    }
    // The displayed rate over the frames of the last second in the history.
    const uint64_t lNow = NowUs();
    int lFrames = 0;
    uint64_t lOldest = lNow;
    for (int lIndex = 0; lIndex < mCount; ++lIndex)
    {
        const uint64_t lTime = mTimes[(mNext + kHistory - 1 - lIndex) % kHistory];
        if (lNow - lTime > 1000000)
        {
            break;
        }
        lOldest = lTime;
        ++lFrames;
    }
    if (lFrames < 2 || lNow == lOldest)
    {
        return static_cast<uint32_t>(lFrames);
    }
    return static_cast<uint32_t>((lFrames - 1) * 1000000.0 / static_cast<double>(lNow - lOldest) + 0.5);
}

void TnFPSStabilizer::Reset()
{
    mCount = 0;
    mNext = 0;
}
