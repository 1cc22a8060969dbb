#include "TnGvspAssembler.h"

#include <string.h>

#include <algorithm>

#include "TnGevBytes.h"
#include "TnGvcp.h"
#include "TnGvspPacketiser.h"
#include "TnResult.h"

namespace tn
{
namespace gev
{
namespace
{
constexpr size_t kMaxLeaderBytes = 2048;
constexpr size_t kMaxTrailerBytes = 64;
// A leader this many blocks behind the newest restarts the block ids (the
// device restarted its counter) instead of being taken for a late packet.
constexpr uint64_t kResyncDistance = 64;
constexpr uint32_t kMaxRequestsPerPacket = 3;
// Blocks assembled at once at most, those kept for their resends included.
constexpr uint32_t kMaxBlocksAtOnce = 64;
// "No such time" for the hole and request timestamps.
constexpr uint64_t kNever = UINT64_MAX;

inline bool TestBit(const std::vector<uint64_t> &aBits, uint32_t aIndex)
{
    return (aBits[aIndex >> 6] >> (aIndex & 63)) & 1u;
}

inline void SetBit(std::vector<uint64_t> &aBits, uint32_t aIndex)
{
    aBits[aIndex >> 6] |= uint64_t(1) << (aIndex & 63);
}

// Calls aVisit with each index below aEnd whose bit is clear, in order, until
// it returns false.
template <typename Visit>
void ForEachClear(const std::vector<uint64_t> &aBits, uint32_t aEnd, Visit aVisit)
{
    for (uint32_t lWord = 0; lWord * 64 < aEnd; ++lWord)
    {
        uint64_t lClear = ~aBits[lWord];
        while (lClear != 0)
        {
            const uint32_t lIndex = lWord * 64 + static_cast<uint32_t>(__builtin_ctzll(lClear));
            lClear &= lClear - 1;
            if (lIndex >= aEnd || !aVisit(lIndex))
            {
                return;
            }
        }
    }
}

// Statuses with which a device answers a resend it cannot serve.
bool IsUnavailableStatus(uint16_t aStatus)
{
    return aStatus == kGvcpStatusPacketUnavailable || aStatus == kGvcpStatusPacketNotYetAvailable ||
           aStatus == kGvcpStatusPacketAndPreviousRemoved || aStatus == kGvcpStatusPacketRemoved;
}

bool IsErrorStatus(uint16_t aStatus)
{
    return aStatus != kGvcpStatusSuccess && aStatus != kGvcpStatusPacketResend;
}

inline uint64_t Elapsed(uint64_t aNow, uint64_t aSince)
{
    return aNow > aSince ? aNow - aSince : 0;
}

// The address of byte aOffset of a block's memory.
inline uint8_t *AddressIn(const TnGvspBlockTarget &aTarget, uint64_t aOffset)
{
    return aOffset < aTarget.mSize ? aTarget.mData + aOffset : aTarget.mExtra + (aOffset - aTarget.mSize);
}

// Moves aLength bytes of a block's memory from aFrom to aTo (not after
// aFrom), across the main memory's end where they lie so; what lies beyond
// the memory is not moved.
void MoveDown(const TnGvspBlockTarget &aTarget, uint64_t aFrom, uint64_t aTo, uint64_t aLength)
{
    const uint64_t lCapacity = aTarget.GetCapacity();
    aLength = aFrom < lCapacity ? std::min(aLength, lCapacity - aFrom) : 0;
    while (aLength > 0 && aFrom != aTo)
    {
        const uint64_t lFromRun = aFrom < aTarget.mSize ? aTarget.mSize - aFrom : lCapacity - aFrom;
        const uint64_t lToRun = aTo < aTarget.mSize ? aTarget.mSize - aTo : lCapacity - aTo;
        const uint64_t lStep = std::min({aLength, lFromRun, lToRun});
        memmove(AddressIn(aTarget, aTo), AddressIn(aTarget, aFrom), lStep);
        aFrom += lStep;
        aTo += lStep;
        aLength -= lStep;
    }
}
} // namespace

TnGvspBlockProvider::~TnGvspBlockProvider() = default;

void TnGvspBlockProvider::OnBlockNearlyDone(const TnGvspBlockTarget &)
{
}
TnGvspResendRequester::~TnGvspResendRequester() = default;

struct TnGvspAssembler::Block
{
    bool mActive = false;
    uint64_t mId = 0;
    uint64_t mSequence = 0;
    bool mExtendedIds = false;
    bool mHasTarget = false;
    TnGvspBlockTarget mTarget;
    uint64_t mCapacity = 0;
    uint32_t mPayloadPerPacket = 0; // of its payload packets but the last; 0 until known
    uint32_t mMaxDataIds = 0; // payload packets that fit the memory; 0 until the payload size is known
    // Payload packet p is bit p - 1. Requests per packet count in two bits.
    std::vector<uint64_t> mBits;
    std::vector<uint64_t> mRequested;
    std::vector<uint64_t> mRerequested;
    bool mLeader = false;
    bool mTrailer = false;
    uint8_t mLeaderRequests = 0;
    uint8_t mTrailerRequests = 0;
    uint64_t mExpectedPayload = 0; // from the leader, 0 when it does not tell
    uint64_t mLeaderRequired = 0;  // the size the leader tells, chunks or not; 0 when it does not tell
    bool mImageLeader = false;     // mLeaderRequired is an image's, of the leader's lines
    bool mDataPacketsKnown = false;
    uint32_t mDataPackets = 0;
    uint32_t mHighest = 0;
    uint32_t mReceivedData = 0;
    uint32_t mShortId = 0;
    uint32_t mShortSize = 0;     // of the payload packet mShortId
    uint32_t mLargestPlaced = 0; // the largest payload placed
    bool mInconsistent = false;
    uint8_t mPayloadFormat = 0; // of the payload packets, from the leader or the first one; 0 until known
    bool mTooSmall = false;
    bool mUnavailable = false;
    bool mBudgetSpent = false;
    uint16_t mDeviceStatus = 0;
    uint64_t mRequiredSize = 0;
    uint64_t mReceivedEnd = 0;
    bool mNewerSeen = false;
    bool mNearlyDoneTold = false;
    uint64_t mFirstUs = 0;
    uint64_t mLastUs = 0;
    uint64_t mHoleSinceUs = kNever; // a hole not yet requested appeared then
    uint64_t mLastRequestUs = kNever;
    uint32_t mRequestedTotal = 0;
    TnGvspPacketCounters mCounters;
    TnGvspBlockReport mReport; // leader and trailer fields as they come
    uint8_t mLeaderBytes[kMaxLeaderBytes];
    uint8_t mTrailerBytes[kMaxTrailerBytes];
};

TnGvspAssembler::TnGvspAssembler()
{
    Configure(TnGvspAssemblerConfig());
}

TnGvspAssembler::~TnGvspAssembler()
{
    FinishAll(TN_ABORTED, 0);
}

void TnGvspAssembler::Configure(const TnGvspAssemblerConfig &aConfig, uint64_t aNowUs)
{
    FinishAll(TN_ABORTED, aNowUs);
    mConfig = aConfig;
    mConfig.mMaxBlocksInFlight =
        std::max<uint32_t>(1, std::min<uint32_t>(mConfig.mMaxBlocksInFlight, kMaxBlocksAtOnce));
    mConfig.mMaxResendRetries = std::min<uint32_t>(mConfig.mMaxResendRetries, kMaxRequestsPerPacket - 1);
    mConfig.mMaxResendGroupsPerRequest = std::max<uint32_t>(1, mConfig.mMaxResendGroupsPerRequest);
    mBlocks.clear();
    mBlocks.reserve(kMaxBlocksAtOnce); // blocks added later stay where they are
    mBlocks.resize(mConfig.mMaxBlocksInFlight);
    mLastBlock = nullptr;
    mHaveNewest = false;
    mPayloadPerPacket = mConfig.mPayloadPerPacket;
    mHeaderSize = 0;
    mLastDataPacketCount = 0;
}

void TnGvspAssembler::SetPolicy(const TnGvspAssemblerConfig &aConfig)
{
    mConfig.mRequireLeader = aConfig.mRequireLeader;
    mConfig.mResendEnabled = aConfig.mResendEnabled;
    mConfig.mReorderToleranceUs = aConfig.mReorderToleranceUs;
    mConfig.mResendResponseTimeoutUs = aConfig.mResendResponseTimeoutUs;
    mConfig.mMaxResendRetries = std::min<uint32_t>(aConfig.mMaxResendRetries, kMaxRequestsPerPacket - 1);
    mConfig.mMaxResendPacketsPerBlock = aConfig.mMaxResendPacketsPerBlock;
    mConfig.mMaxResendGroupsPerRequest = std::max<uint32_t>(1, aConfig.mMaxResendGroupsPerRequest);
    mConfig.mMaxResendLatenessUs = aConfig.mMaxResendLatenessUs;
    mConfig.mBlockTimeoutUs = aConfig.mBlockTimeoutUs;
    mConfig.mNearlyDoneLeadUs = aConfig.mNearlyDoneLeadUs;
}

void TnGvspAssembler::SetProvider(TnGvspBlockProvider *aProvider)
{
    mProvider = aProvider;
}

void TnGvspAssembler::SetResendRequester(TnGvspResendRequester *aRequester)
{
    mRequester = aRequester;
}

bool TnGvspAssembler::IsNewer(uint64_t aId, uint64_t aThan) const
{
    if (mExtendedIds)
    {
        return static_cast<int64_t>(aId - aThan) > 0;
    }
    const uint32_t lDistance = static_cast<uint32_t>(aId - aThan) & 0xFFFFu;
    return lDistance != 0 && lDistance < 0x8000u;
}

uint64_t TnGvspAssembler::Behind(uint64_t aId, uint64_t aNewest) const
{
    return mExtendedIds ? aNewest - aId : (static_cast<uint32_t>(aNewest - aId) & 0xFFFFu);
}

uint8_t *TnGvspAssembler::PointerAt(const TnGvspBlockTarget &aTarget, uint64_t aOffset, size_t aSize) const
{
    if (aOffset + aSize <= aTarget.mSize)
    {
        return aTarget.mData + aOffset;
    }
    if (aTarget.mExtra != nullptr && aOffset >= aTarget.mSize && aOffset - aTarget.mSize + aSize <= aTarget.mExtraSize)
    {
        return aTarget.mExtra + (aOffset - aTarget.mSize);
    }
    return nullptr;
}

bool TnGvspAssembler::WriteAt(const TnGvspBlockTarget &aTarget, uint64_t aOffset, const uint8_t *aData, size_t aSize)
{
    if (aOffset + aSize > aTarget.GetCapacity())
    {
        return false;
    }
    if (aOffset < aTarget.mSize)
    {
        const size_t lFirst = std::min<uint64_t>(aSize, aTarget.mSize - aOffset);
        if (aTarget.mData + aOffset != aData)
        {
            memmove(aTarget.mData + aOffset, aData, lFirst);
        }
        aData += lFirst;
        aSize -= lFirst;
        aOffset = aTarget.mSize;
    }
    if (aSize > 0)
    {
        memmove(aTarget.mExtra + (aOffset - aTarget.mSize), aData, aSize);
    }
    return true;
}

void TnGvspAssembler::OnDatagram(const uint8_t *aData, size_t aSize, uint64_t aNowUs)
{
    ++mStatistics.mPackets;
    mStatistics.mBytes += aSize;
    TnGvspPacket lPacket;
    if (!DecodeGvspPacket(aData, aSize, lPacket))
    {
        ++mStatistics.mMalformedPackets;
        return;
    }
    if (IsGvspTestPacket(lPacket.mHeader))
    {
        ++mStatistics.mTestPackets;
        return;
    }
    Process(lPacket.mHeader, lPacket.mPayload, lPacket.mPayloadSize, false, aNowUs);
}

bool TnGvspAssembler::Matches(const TnGvspPrediction &aPrediction, const uint8_t *aHeader, size_t aHeaderSize,
                              size_t aPayloadSize) const
{
    if (aPrediction.mData == nullptr || aHeaderSize != mHeaderSize || aPayloadSize == 0 ||
        aPayloadSize > aPrediction.mSize)
    {
        return false;
    }
    const uint8_t lFormat = aHeader[4];
    const bool lExtended = (lFormat & kGvspExtendedIdBit) != 0;
    const bool lPayload = (lFormat & 0x0F) == kGvspFormatPayload || (lFormat & 0x0F) == kGvspFormatGenDC;
    if (!lPayload || lExtended != (aHeaderSize == kGvspExtendedHeaderSize) || IsErrorStatus(GetU16(aHeader)))
    {
        return false;
    }
    if (lExtended)
    {
        return GetU64(aHeader + 8) == aPrediction.mBlockId && GetU32(aHeader + 16) == aPrediction.mPacketId;
    }
    return GetU16(aHeader + 2) == aPrediction.mBlockId && GetU24(aHeader + 5) == aPrediction.mPacketId;
}

bool TnGvspAssembler::ChangesPacketSize(const uint8_t *aHeader, size_t aHeaderSize, size_t aPayloadSize) const
{
    TnGvspPacket lPacket;
    if (mConfig.mPayloadPerPacket != 0 || aHeaderSize != mHeaderSize || aPayloadSize == 0 ||
        !DecodeGvspPacket(aHeader, aHeaderSize, lPacket) ||
        (lPacket.mHeader.mFormat != kGvspFormatPayload && lPacket.mHeader.mFormat != kGvspFormatGenDC))
    {
        return false;
    }
    for (const Block &lBlock : mBlocks)
    {
        if (lBlock.mActive && lBlock.mId == lPacket.mHeader.mBlockId)
        {
            return lBlock.mHasTarget && (aPayloadSize > lBlock.mPayloadPerPacket ||
                                         SmallerSize(lBlock, lPacket.mHeader.mPacketId, aPayloadSize) != 0);
        }
    }
    return aPayloadSize > mPayloadPerPacket; // a block to start, larger than the last
}

void TnGvspAssembler::OnPredicted(const TnGvspPrediction &aPrediction, const uint8_t *aHeader, size_t aHeaderSize,
                                  size_t aPayloadSize, uint64_t aNowUs)
{
    ++mStatistics.mPackets;
    mStatistics.mBytes += aHeaderSize + aPayloadSize;
    TnGvspPacket lPacket;
    DecodeGvspPacket(aHeader, aHeaderSize, lPacket);
    Process(lPacket.mHeader, aPrediction.mData, aPayloadSize, true, aNowUs);
}

TnGvspAssembler::Block *TnGvspAssembler::FindOrStart(const TnGvspHeader &aHeader, uint64_t aNowUs)
{
    const uint64_t lId = aHeader.mBlockId;
    if (mLastBlock != nullptr && mLastBlock->mId == lId)
    {
        return mLastBlock;
    }
    for (Block &lBlock : mBlocks)
    {
        if (lBlock.mActive && lBlock.mId == lId)
        {
            mLastBlock = &lBlock;
            return &lBlock;
        }
    }
    if (!aHeader.mExtendedIds && lId == 0)
    {
        return nullptr; // standard block ids never take 0
    }
    if (mHaveNewest && aHeader.mExtendedIds == mExtendedIds && !IsNewer(lId, mNewestId))
    {
        // A late packet of a block already finished, or a restarted counter.
        if (aHeader.mFormat != kGvspFormatLeader || Behind(lId, mNewestId) <= kResyncDistance)
        {
            return nullptr;
        }
        ++mStatistics.mResyncs;
        mHaveNewest = false;
    }
    if (mConfig.mRequireLeader && aHeader.mFormat != kGvspFormatLeader)
    {
        return nullptr;
    }
    return Start(lId, aHeader.mExtendedIds, aNowUs);
}

void TnGvspAssembler::DropBlock(uint64_t aBlockId, bool aExtendedIds, uint64_t aNowUs)
{
    for (Block &lBlock : mBlocks)
    {
        if (lBlock.mActive && lBlock.mId == aBlockId && lBlock.mExtendedIds == aExtendedIds)
        {
            if (lBlock.mHasTarget)
            {
                // Given up in flight: its memory goes back to be filled again.
                lBlock.mHasTarget = false;
                ++mStatistics.mBlocksDropped;
                if (mProvider != nullptr)
                {
                    mProvider->ReturnBlock(lBlock.mTarget);
                }
            }
            return;
        }
    }
    if (mHaveNewest && aExtendedIds == mExtendedIds && !IsNewer(aBlockId, mNewestId))
    {
        return; // ended already
    }
    Start(aBlockId, aExtendedIds, aNowUs, false);
}

TnGvspAssembler::Block *TnGvspAssembler::Start(uint64_t aBlockId, bool aExtendedIds, uint64_t aNowUs, bool aAcquire)
{
    if (mHaveNewest && aExtendedIds == mExtendedIds)
    {
        uint64_t lGap = Behind(mNewestId, aBlockId);
        if (!aExtendedIds && aBlockId < mNewestId && lGap > 0)
        {
            --lGap; // the wrap skipped id 0
        }
        if (lGap > 1 && lGap < 0x8000u)
        {
            mStatistics.mBlocksMissed += lGap - 1;
        }
    }
    mExtendedIds = aExtendedIds;
    mHaveNewest = true;
    mNewestId = aBlockId;

    Block *lFree = nullptr;
    Block *lOldest = nullptr;
    uint32_t lActive = 0;
    for (Block &lBlock : mBlocks)
    {
        if (!lBlock.mActive)
        {
            lFree = lFree != nullptr ? lFree : &lBlock;
            continue;
        }
        if (!lBlock.mHasTarget)
        {
            // A dropped block ends when a newer one starts.
            lBlock.mActive = false;
            lFree = lFree != nullptr ? lFree : &lBlock;
            continue;
        }
        ++lActive;
        lBlock.mNewerSeen = true;
        if (lBlock.mHoleSinceUs == kNever && HasHoles(lBlock))
        {
            lBlock.mHoleSinceUs = aNowUs;
        }
        if (lOldest == nullptr || lBlock.mSequence < lOldest->mSequence)
        {
            lOldest = &lBlock;
        }
    }
    TnGvspBlockTarget lTarget;
    bool lHasTarget = false;
    if (!aAcquire)
    {
        // Dropped whole: no memory, and no block in flight fails for it.
        if (lFree == nullptr && mBlocks.size() < kMaxBlocksAtOnce)
        {
            mBlocks.emplace_back(); // within the memory reserved: no block moves
            lFree = &mBlocks.back();
        }
        else if (lFree == nullptr)
        {
            Finish(*lOldest, FailureResult(*lOldest), aNowUs);
            lFree = lOldest;
        }
    }
    else if (lActive >= mConfig.mMaxBlocksInFlight)
    {
        // One block too many: the oldest fails, unless it still waits for
        // packets that a resend can bring and the new block has memory. A
        // receiver that the machine held up takes the blocks that waited for
        // it at once: their holes are asked for only now, and the device
        // still has what they miss.
        if (lActive < kMaxBlocksAtOnce && CanStillResend(*lOldest, aNowUs))
        {
            lHasTarget = AcquireTarget(lTarget);
        }
        if (lHasTarget && lFree == nullptr)
        {
            mBlocks.emplace_back(); // within the memory reserved: no block moves
            lFree = &mBlocks.back();
        }
        else if (!lHasTarget)
        {
            Finish(*lOldest, FailureResult(*lOldest), aNowUs);
            lFree = lFree != nullptr ? lFree : lOldest;
        }
    }
    Block &lBlock = *lFree;
    lBlock.mActive = true;
    lBlock.mId = aBlockId;
    lBlock.mSequence = ++mSequence;
    lBlock.mExtendedIds = aExtendedIds;
    lBlock.mHasTarget = lHasTarget || (aAcquire && AcquireTarget(lTarget));
    lBlock.mTarget = lTarget;
    if (!lBlock.mHasTarget)
    {
        ++mStatistics.mBlocksDropped;
    }
    lBlock.mCapacity = lBlock.mHasTarget ? lBlock.mTarget.GetCapacity() : 0;
    lBlock.mPayloadPerPacket = mPayloadPerPacket;
    lBlock.mMaxDataIds = 0;
    lBlock.mLeader = lBlock.mTrailer = false;
    lBlock.mLeaderRequests = lBlock.mTrailerRequests = 0;
    lBlock.mExpectedPayload = lBlock.mLeaderRequired = 0;
    lBlock.mImageLeader = false;
    lBlock.mDataPacketsKnown = false;
    lBlock.mDataPackets = 0;
    lBlock.mHighest = 0;
    lBlock.mReceivedData = 0;
    lBlock.mShortId = lBlock.mShortSize = lBlock.mLargestPlaced = 0;
    lBlock.mInconsistent = lBlock.mTooSmall = lBlock.mUnavailable = lBlock.mBudgetSpent = false;
    lBlock.mPayloadFormat = 0;
    lBlock.mDeviceStatus = 0;
    lBlock.mRequiredSize = 0;
    lBlock.mReceivedEnd = 0;
    lBlock.mNewerSeen = false;
    lBlock.mNearlyDoneTold = false;
    lBlock.mFirstUs = lBlock.mLastUs = aNowUs;
    lBlock.mHoleSinceUs = kNever;
    lBlock.mLastRequestUs = kNever;
    lBlock.mRequestedTotal = 0;
    lBlock.mCounters = TnGvspPacketCounters();
    lBlock.mReport = TnGvspBlockReport();
    SizeBitmaps(lBlock);
    mLastBlock = &lBlock;
    return &lBlock;
}

bool TnGvspAssembler::AcquireTarget(TnGvspBlockTarget &aTarget)
{
    if (mHaveSpare)
    {
        aTarget = mSpare;
        mHaveSpare = false;
        return true;
    }
    return AcquireFromProvider(aTarget);
}

bool TnGvspAssembler::AcquireFromProvider(TnGvspBlockTarget &aTarget)
{
    aTarget = TnGvspBlockTarget();
    if (mProvider == nullptr || !mProvider->AcquireBlock(aTarget))
    {
        return false;
    }
    if (aTarget.GetCapacity() == 0)
    {
        mProvider->ReturnBlock(aTarget);
        return false;
    }
    return true;
}

bool TnGvspAssembler::CanStillResend(const Block &aBlock, uint64_t aNowUs) const
{
    return mConfig.mResendEnabled && mRequester != nullptr && !aBlock.mTooSmall && !aBlock.mInconsistent &&
           !aBlock.mUnavailable && !aBlock.mBudgetSpent && aBlock.mDeviceStatus == 0 &&
           Elapsed(aNowUs, aBlock.mFirstUs) < mConfig.mMaxResendLatenessUs && HasHoles(aBlock);
}

void TnGvspAssembler::SizeBitmaps(Block &aBlock)
{
    const uint32_t lPerPacket = aBlock.mPayloadPerPacket;
    if (lPerPacket == 0 || !aBlock.mHasTarget)
    {
        aBlock.mMaxDataIds = 0;
        return;
    }
    const uint64_t lIds = (aBlock.mCapacity + lPerPacket - 1) / lPerPacket;
    aBlock.mMaxDataIds = static_cast<uint32_t>(std::min<uint64_t>(lIds, 0xFFFFFFF0u));
    const size_t lWords = (aBlock.mMaxDataIds + 63) / 64 + 1;
    for (std::vector<uint64_t> *lBits : {&aBlock.mBits, &aBlock.mRequested, &aBlock.mRerequested})
    {
        if (lBits->size() < lWords)
        {
            lBits->resize(lWords);
        }
        std::fill(lBits->begin(), lBits->begin() + lWords, 0);
    }
    SetExpectedFromLeader(aBlock);
}

void TnGvspAssembler::SetExpectedFromLeader(Block &aBlock)
{
    const uint32_t lPerPacket = aBlock.mPayloadPerPacket;
    if (aBlock.mExpectedPayload == 0 || aBlock.mDataPacketsKnown || lPerPacket == 0)
    {
        return;
    }
    const uint64_t lPackets = (aBlock.mExpectedPayload + lPerPacket - 1) / lPerPacket;
    if (lPackets <= 0xFFFFFFF0u)
    {
        aBlock.mDataPackets = static_cast<uint32_t>(lPackets);
        aBlock.mDataPacketsKnown = true;
    }
}

void TnGvspAssembler::Process(const TnGvspHeader &aHeader, const uint8_t *aPayload, size_t aPayloadSize,
                              bool aInPlace, uint64_t aNowUs)
{
    const size_t lHeaderSize = aHeader.GetSize();
    if (lHeaderSize != mHeaderSize && mHeaderSize != 0)
    {
        // The device switched between standard and extended ids: the blocks
        // of the old kind end, and the payload size is learned anew.
        for (Block &lBlock : mBlocks)
        {
            if (lBlock.mActive)
            {
                Finish(lBlock, FailureResult(lBlock), aNowUs);
            }
        }
        mHaveNewest = false;
        mLastDataPacketCount = 0;
        if (mConfig.mPayloadPerPacket == 0)
        {
            mPayloadPerPacket = 0;
        }
    }
    mHeaderSize = lHeaderSize;
    Block *lBlock = FindOrStart(aHeader, aNowUs);
    if (lBlock == nullptr)
    {
        ++mStatistics.mPacketsIgnored;
        return;
    }
    Block &lRef = *lBlock;
    lRef.mLastUs = aNowUs;
    if (!lRef.mHasTarget)
    {
        ++lRef.mCounters.mIgnored;
        ++mStatistics.mPacketsIgnored;
        if (aHeader.mFormat == kGvspFormatTrailer)
        {
            lRef.mActive = false; // a dropped block ends with its trailer
            mLastBlock = nullptr;
        }
        return;
    }
    if (IsErrorStatus(aHeader.mStatus))
    {
        if (lRef.mDeviceStatus == 0)
        {
            lRef.mDeviceStatus = aHeader.mStatus;
        }
        if (IsUnavailableStatus(aHeader.mStatus))
        {
            // The device cannot resend: the packet is gone for good.
            ++lRef.mCounters.mIgnored;
            ++mStatistics.mPacketsIgnored;
            lRef.mUnavailable = true;
            Finish(lRef, TN_RESENDS_FAILURE, aNowUs);
            return;
        }
    }
    switch (aHeader.mFormat)
    {
    case kGvspFormatLeader:
        OnLeader(lRef, aHeader, aPayload, aPayloadSize);
        break;
    case kGvspFormatTrailer:
        OnTrailer(lRef, aHeader, aPayload, aPayloadSize, aNowUs);
        break;
    case kGvspFormatPayload:
    case kGvspFormatGenDC:
        if (!LearnPayloadSize(lRef, aPayloadSize, aNowUs))
        {
            return;
        }
        OnPayload(lRef, aHeader, aPayload, aPayloadSize, aInPlace);
        break;
    default:
        // Formats this assembler does not place (all-in, H.264, multizone
        // and multipart payload packets).
        ++lRef.mCounters.mIgnored;
        ++mStatistics.mPacketsIgnored;
        break;
    }
    if (lRef.mActive)
    {
        AfterPacket(lRef, aNowUs);
    }
}

bool TnGvspAssembler::LearnPayloadSize(Block &aBlock, size_t aSize, uint64_t aNowUs)
{
    if (aSize == 0)
    {
        ++aBlock.mCounters.mIgnored;
        ++mStatistics.mPacketsIgnored;
        return false;
    }
    if (aSize > aBlock.mPayloadPerPacket)
    {
        if (mConfig.mPayloadPerPacket != 0)
        {
            // Larger than the stream's packets can be: not placeable.
            aBlock.mInconsistent = true;
            ++aBlock.mCounters.mIgnored;
            ++mStatistics.mPacketsIgnored;
            return false;
        }
        const bool lFirst = aBlock.mPayloadPerPacket == 0;
        Adopt(aBlock, static_cast<uint32_t>(std::min<size_t>(aSize, 0xFFFFFFFFu)));
        if (!lFirst && aBlock.mReceivedData > 0)
        {
            // The packets grew: what this block placed so far sits at the
            // wrong offsets. The block fails; the next ones use the new size.
            ++aBlock.mCounters.mIgnored;
            ++mStatistics.mPacketsIgnored;
            aBlock.mInconsistent = true;
            Finish(aBlock, TN_INVALID_DATA_FORMAT, aNowUs);
            return false;
        }
        SizeBitmaps(aBlock);
    }
    else if (aBlock.mMaxDataIds == 0)
    {
        SizeBitmaps(aBlock); // started before the payload size was known
    }
    return true;
}

void TnGvspAssembler::Adopt(Block &aBlock, uint32_t aPerPacket)
{
    aBlock.mPayloadPerPacket = aPerPacket;
    if (aBlock.mSequence == mSequence)
    {
        mPayloadPerPacket = aPerPacket; // the newest block's: the next ones start with it
    }
}

uint32_t TnGvspAssembler::SmallerSize(const Block &aBlock, uint32_t aId, size_t aSize) const
{
    if (mConfig.mPayloadPerPacket != 0 || aSize >= aBlock.mPayloadPerPacket || aBlock.mShortId == aId)
    {
        return 0;
    }
    if (aBlock.mShortId != 0 && aBlock.mShortId < aId)
    {
        return aBlock.mShortSize; // the earlier short packet was no last one
    }
    // This one is no last one: another short one, or one after it, came
    // before, or the trailer or leader tells of more.
    const bool lMore = aBlock.mShortId != 0 || aId < aBlock.mHighest ||
                       ((aBlock.mTrailer || aBlock.mExpectedPayload != 0) && aId < aBlock.mDataPackets);
    return lMore ? static_cast<uint32_t>(aSize) : 0;
}

bool TnGvspAssembler::Relearn(Block &aBlock, uint32_t aPerPacket)
{
    // Before the block showed the smaller size, it placed at most one packet
    // that fits it (the short one; every other was of the old, larger size):
    // anything else contradicts the smaller size, and the block stays as it
    // is (inconsistent, as the short packet then makes it).
    const uint32_t lOld = aBlock.mPayloadPerPacket;
    const bool lShortPlaced = aBlock.mShortId != 0 && aBlock.mShortId <= aBlock.mMaxDataIds &&
                              TestBit(aBlock.mBits, aBlock.mShortId - 1);
    if (aPerPacket == 0 || aPerPacket >= lOld || aBlock.mLargestPlaced > aPerPacket ||
        aBlock.mReceivedData > (lShortPlaced ? 1u : 0u) || (aBlock.mShortId != 0 && aBlock.mShortSize > aPerPacket))
    {
        return false;
    }
    Adopt(aBlock, aPerPacket);
    if (!aBlock.mHasTarget)
    {
        return true;
    }
    const bool lRequested = lShortPlaced && TestBit(aBlock.mRequested, aBlock.mShortId - 1);
    const bool lRerequested = lShortPlaced && TestBit(aBlock.mRerequested, aBlock.mShortId - 1);
    const bool lKnown = aBlock.mTrailer;
    const uint32_t lCount = aBlock.mDataPackets;
    aBlock.mDataPacketsKnown = lKnown;
    aBlock.mDataPackets = lKnown ? lCount : 0;
    SizeBitmaps(aBlock); // the leader's size counts the packets anew
    aBlock.mReceivedEnd = 0;
    if (lShortPlaced)
    {
        const uint32_t lIndex = aBlock.mShortId - 1;
        const uint64_t lFrom = static_cast<uint64_t>(lIndex) * lOld;
        const uint64_t lTo = static_cast<uint64_t>(lIndex) * aPerPacket;
        MoveDown(aBlock.mTarget, lFrom, lTo, aBlock.mShortSize);
        SetBit(aBlock.mBits, lIndex);
        if (lRequested)
        {
            SetBit(aBlock.mRequested, lIndex);
        }
        if (lRerequested)
        {
            SetBit(aBlock.mRerequested, lIndex);
        }
        aBlock.mReceivedEnd = lTo + aBlock.mShortSize;
    }
    if (aBlock.mShortSize >= aPerPacket)
    {
        aBlock.mShortId = aBlock.mShortSize = 0; // a whole packet of the new size
    }
    else if (aBlock.mShortId != 0 && !aBlock.mDataPacketsKnown)
    {
        aBlock.mDataPackets = aBlock.mShortId;
        aBlock.mDataPacketsKnown = true;
    }
    // What the block needs, and whether it fits, at the new size.
    aBlock.mRequiredSize = std::max(aBlock.mLeaderRequired, aBlock.mReceivedEnd);
    aBlock.mTooSmall = aBlock.mLeaderRequired > aBlock.mCapacity;
    if (aBlock.mTrailer && aBlock.mDataPackets > 0)
    {
        const uint64_t lAtLeast = static_cast<uint64_t>(aBlock.mDataPackets - 1) * aPerPacket + 1;
        aBlock.mRequiredSize = std::max(aBlock.mRequiredSize, lAtLeast);
        aBlock.mTooSmall = aBlock.mTooSmall || lAtLeast > aBlock.mCapacity;
    }
    return true;
}

void TnGvspAssembler::OnLeader(Block &aBlock, const TnGvspHeader &aHeader, const uint8_t *aPayload, size_t aSize)
{
    if (aHeader.mPacketId != 0)
    {
        ++aBlock.mCounters.mIgnored;
        ++mStatistics.mPacketsIgnored;
        return;
    }
    if (aBlock.mLeader)
    {
        ++aBlock.mCounters.mRedundant;
        ++mStatistics.mPacketsRedundant;
        return;
    }
    TnGvspLeaderBase lBase;
    if (!DecodeLeaderBase(aPayload, aSize, lBase))
    {
        ++aBlock.mCounters.mIgnored;
        ++mStatistics.mMalformedPackets;
        return;
    }
    aBlock.mLeader = true;
    ++aBlock.mCounters.mReceived;
    if (aBlock.mLeaderRequests > 0)
    {
        ++aBlock.mCounters.mRecovered;
        aBlock.mCounters.mRecoveredSingleResend += aBlock.mLeaderRequests == 1;
    }
    else if (aBlock.mReceivedData > 0 || aBlock.mTrailer)
    {
        ++aBlock.mCounters.mOutOfOrder;
        ++mStatistics.mPacketsOutOfOrder;
    }
    TnGvspBlockReport &lReport = aBlock.mReport;
    lReport.mLeaderValid = true;
    lReport.mLeaderInfo.mPayloadType = lBase.mPayloadType;
    lReport.mHasChunks = (lBase.mPayloadType & kGvspPayloadChunkFlag) != 0;
    lReport.mLeaderInfo.mTimestamp = lBase.mTimestamp;
    const size_t lKept = std::min(aSize, kMaxLeaderBytes);
    memcpy(aBlock.mLeaderBytes, aPayload, lKept);
    lReport.mLeaderSize = lKept;
    const uint16_t lType = BasePayloadType(lBase.mPayloadType);
    const uint8_t lFormat = PayloadFormatOf(lType);
    if (aBlock.mPayloadFormat != 0 && aBlock.mPayloadFormat != lFormat)
    {
        aBlock.mInconsistent = true; // payload packets of another kind of block came first
    }
    aBlock.mPayloadFormat = lFormat;
    uint64_t lExpected = 0;
    TnGvspImageLeader lImage;
    TnGvspRawDataLeader lRaw;
    if (lType == kGvspPayloadImage && DecodeImageLeader(aPayload, aSize, lImage))
    {
        lReport.mLeaderInfo = lImage;
        aBlock.mImageLeader = GetImageLeaderSize(lImage, lExpected);
    }
    else if (HasSizedLeader(lType) && DecodeRawDataLeader(aPayload, aSize, lRaw))
    {
        lReport.mLeaderPayloadSize = lRaw.mPayloadSize;
        lExpected = lRaw.mPayloadSize;
    }
    else if (lType == kGvspPayloadMultipart && GetMultipartLeaderSize(aPayload, aSize, lExpected))
    {
        lReport.mLeaderPayloadSize = lExpected; // the parts lie one after the other
    }
    if (lExpected > 0)
    {
        aBlock.mLeaderRequired = lExpected;
        aBlock.mRequiredSize = std::max(aBlock.mRequiredSize, lExpected);
        if (lExpected > aBlock.mCapacity)
        {
            aBlock.mTooSmall = true;
        }
        else if (!lReport.mHasChunks)
        {
            // The leader tells the payload's whole size: the block's packet
            // count follows, unless chunks of unknown length come after it.
            aBlock.mExpectedPayload = lExpected;
            SetExpectedFromLeader(aBlock);
        }
    }
}

void TnGvspAssembler::OnTrailer(Block &aBlock, const TnGvspHeader &aHeader, const uint8_t *aPayload, size_t aSize,
                                uint64_t aNowUs)
{
    if (aBlock.mTrailer)
    {
        ++aBlock.mCounters.mRedundant;
        ++mStatistics.mPacketsRedundant;
        return;
    }
    TnGvspTrailer lTrailer;
    if (aHeader.mPacketId == 0 || !DecodeTrailer(aPayload, aSize, lTrailer))
    {
        ++aBlock.mCounters.mIgnored;
        ++mStatistics.mMalformedPackets;
        return;
    }
    const uint32_t lDataPackets = aHeader.mPacketId - 1;
    if (aBlock.mShortId != 0 && aBlock.mShortId < lDataPackets && mConfig.mPayloadPerPacket == 0 &&
        aBlock.mShortSize < aBlock.mPayloadPerPacket)
    {
        // The short packet was no last one: the packets got smaller.
        Relearn(aBlock, aBlock.mShortSize);
    }
    if (aBlock.mHighest > lDataPackets || (aBlock.mShortId != 0 && aBlock.mShortId != lDataPackets))
    {
        aBlock.mInconsistent = true; // payload packets beyond the trailer, or a short one before the last
    }
    aBlock.mTrailer = true;
    ++aBlock.mCounters.mReceived;
    if (aBlock.mTrailerRequests > 0)
    {
        ++aBlock.mCounters.mRecovered;
        aBlock.mCounters.mRecoveredSingleResend += aBlock.mTrailerRequests == 1;
    }
    aBlock.mDataPackets = lDataPackets;
    aBlock.mDataPacketsKnown = true;
    TnGvspBlockReport &lReport = aBlock.mReport;
    lReport.mTrailerValid = true;
    if (!lReport.mLeaderValid)
    {
        lReport.mLeaderInfo.mPayloadType = lTrailer.mPayloadType;
        lReport.mHasChunks = (lTrailer.mPayloadType & kGvspPayloadChunkFlag) != 0;
    }
    lReport.mTrailerHasSizeY = lTrailer.mHasSizeY;
    lReport.mTrailerSizeY = lTrailer.mSizeY;
    const size_t lKept = std::min(aSize, kMaxTrailerBytes);
    memcpy(aBlock.mTrailerBytes, aPayload, lKept);
    lReport.mTrailerSize = lKept;
    if (aBlock.mPayloadPerPacket != 0 && lDataPackets > 0)
    {
        // The last packet may be shorter: count it as at least one byte.
        const uint64_t lAtLeast = static_cast<uint64_t>(lDataPackets - 1) * aBlock.mPayloadPerPacket + 1;
        aBlock.mRequiredSize = std::max(aBlock.mRequiredSize, lAtLeast);
        if (lAtLeast > aBlock.mCapacity)
        {
            aBlock.mTooSmall = true;
        }
    }
    if (aBlock.mTooSmall)
    {
        Finish(aBlock, TN_BUFFER_TOO_SMALL, aNowUs);
    }
}

void TnGvspAssembler::OnPayload(Block &aBlock, const TnGvspHeader &aHeader, const uint8_t *aPayload, size_t aSize,
                                bool aInPlace)
{
    const uint32_t lId = aHeader.mPacketId;
    if (lId == 0 || (aBlock.mTrailer && lId > aBlock.mDataPackets))
    {
        aBlock.mInconsistent = aBlock.mInconsistent || lId != 0;
        ++aBlock.mCounters.mIgnored;
        ++mStatistics.mPacketsIgnored;
        return;
    }
    if (aBlock.mPayloadFormat == 0)
    {
        aBlock.mPayloadFormat = aHeader.mFormat;
    }
    else if (aBlock.mPayloadFormat != aHeader.mFormat)
    {
        // GenDC packets in a block of another kind, or the other way round.
        aBlock.mInconsistent = true;
        ++aBlock.mCounters.mIgnored;
        ++mStatistics.mPacketsIgnored;
        return;
    }
    const uint32_t lSmaller = SmallerSize(aBlock, lId, aSize);
    if (lSmaller != 0 && aBlock.mHasTarget)
    {
        // The packets got smaller: what the block placed moves, and this
        // packet may lie where it does (predicted at the old size).
        const uint8_t *lStart = aBlock.mTarget.mData;
        const bool lInMain = aPayload >= lStart && aPayload < lStart + aBlock.mTarget.mSize;
        const bool lInExtra = aBlock.mTarget.mExtra != nullptr && aPayload >= aBlock.mTarget.mExtra &&
                              aPayload < aBlock.mTarget.mExtra + aBlock.mTarget.mExtraSize;
        if (lInMain || lInExtra)
        {
            mHeldPayload.assign(aPayload, aPayload + aSize);
            aPayload = mHeldPayload.data();
        }
        Relearn(aBlock, lSmaller);
    }
    if (aSize > aBlock.mPayloadPerPacket)
    {
        // Larger than the packets the block showed before.
        aBlock.mInconsistent = true;
        ++aBlock.mCounters.mIgnored;
        ++mStatistics.mPacketsIgnored;
        return;
    }
    const uint64_t lOffset = static_cast<uint64_t>(lId - 1) * aBlock.mPayloadPerPacket;
    const uint64_t lEnd = lOffset + aSize;
    if (lEnd > aBlock.mCapacity || lId > aBlock.mMaxDataIds)
    {
        // Beyond the memory: the block does not fit.
        aBlock.mTooSmall = true;
        aBlock.mRequiredSize = std::max(aBlock.mRequiredSize, lEnd);
        ++aBlock.mCounters.mIgnored;
        ++mStatistics.mPacketsIgnored;
        return;
    }
    const uint32_t lIndex = lId - 1;
    if (TestBit(aBlock.mBits, lIndex))
    {
        ++aBlock.mCounters.mRedundant;
        ++mStatistics.mPacketsRedundant;
        return;
    }
    if (aSize < aBlock.mPayloadPerPacket)
    {
        // Only a block's last payload packet may be short.
        if ((aBlock.mShortId != 0 && aBlock.mShortId != lId) || lId < aBlock.mHighest)
        {
            aBlock.mInconsistent = true;
        }
        aBlock.mShortId = lId;
        aBlock.mShortSize = static_cast<uint32_t>(aSize);
        if (!aBlock.mDataPacketsKnown)
        {
            aBlock.mDataPackets = lId;
            aBlock.mDataPacketsKnown = true;
        }
    }
    else if (aBlock.mShortId != 0 && lId > aBlock.mShortId)
    {
        aBlock.mInconsistent = true;
    }
    if (aInPlace && PointerAt(aBlock.mTarget, lOffset, aSize) == aPayload)
    {
        ++mStatistics.mPacketsInPlace;
    }
    else
    {
        WriteAt(aBlock.mTarget, lOffset, aPayload, aSize);
        ++mStatistics.mPacketsCopied;
    }
    SetBit(aBlock.mBits, lIndex);
    aBlock.mLargestPlaced = std::max(aBlock.mLargestPlaced, static_cast<uint32_t>(aSize));
    ++aBlock.mReceivedData;
    ++aBlock.mCounters.mReceived;
    aBlock.mReceivedEnd = std::max(aBlock.mReceivedEnd, lEnd);
    aBlock.mRequiredSize = std::max(aBlock.mRequiredSize, lEnd);
    if (TestBit(aBlock.mRequested, lIndex) || TestBit(aBlock.mRerequested, lIndex))
    {
        ++aBlock.mCounters.mRecovered;
        aBlock.mCounters.mRecoveredSingleResend += !TestBit(aBlock.mRerequested, lIndex);
    }
    else if (lId < aBlock.mHighest)
    {
        ++aBlock.mCounters.mOutOfOrder;
        ++mStatistics.mPacketsOutOfOrder;
    }
    if (lId > aBlock.mHighest)
    {
        aBlock.mHighest = lId;
    }
}

uint32_t TnGvspAssembler::RequestEnd(const Block &aBlock) const
{
    if (aBlock.mTrailer)
    {
        return aBlock.mDataPackets + 1;
    }
    if (aBlock.mDataPacketsKnown && (aBlock.mNewerSeen || aBlock.mReceivedData >= aBlock.mDataPackets))
    {
        return aBlock.mDataPackets + 1;
    }
    return aBlock.mHighest;
}

bool TnGvspAssembler::HasHoles(const Block &aBlock) const
{
    if (!aBlock.mLeader && (aBlock.mReceivedData > 0 || aBlock.mTrailer))
    {
        return true;
    }
    const uint32_t lEnd = aBlock.mTrailer ? aBlock.mDataPackets : aBlock.mHighest;
    if (aBlock.mReceivedData < lEnd)
    {
        return true;
    }
    return !aBlock.mTrailer &&
           (aBlock.mNewerSeen || (aBlock.mDataPacketsKnown && aBlock.mReceivedData >= aBlock.mDataPackets));
}

bool TnGvspAssembler::IsComplete(const Block &aBlock) const
{
    return aBlock.mLeader && aBlock.mTrailer && aBlock.mReceivedData == aBlock.mDataPackets;
}

uint64_t TnGvspAssembler::DescribedSize(const Block &aBlock) const
{
    const TnGvspBlockReport &lReport = aBlock.mReport;
    if (!aBlock.mImageLeader || !lReport.mTrailerValid || !lReport.mTrailerHasSizeY || lReport.mTrailerSizeY == 0 ||
        lReport.mTrailerSizeY >= lReport.mLeaderInfo.mSizeY)
    {
        return aBlock.mLeaderRequired;
    }
    // The trailer tells fewer lines than the leader: the image has those.
    TnGvspImageLeader lSent = lReport.mLeaderInfo;
    lSent.mSizeY = lReport.mTrailerSizeY;
    uint64_t lSize = 0;
    GetImageLeaderSize(lSent, lSize);
    return lSize;
}

void TnGvspAssembler::AfterPacket(Block &aBlock, uint64_t aNowUs)
{
    if (IsComplete(aBlock))
    {
        // Every packet up to the trailer came, each but the last whole: the
        // payload is there from its first byte to mReceivedEnd. A block that
        // ends before the payload its leader and trailer describe (a
        // trailer too early, a last packet too short) has a hole all the
        // same.
        uint32_t lResult = TN_OK;
        if (aBlock.mInconsistent)
        {
            lResult = TN_INVALID_DATA_FORMAT;
        }
        else if (aBlock.mDeviceStatus != 0)
        {
            lResult = TN_GENERIC_ERROR;
        }
        else if (aBlock.mReceivedEnd < DescribedSize(aBlock))
        {
            lResult = TN_MISSING_PACKETS;
        }
        Finish(aBlock, lResult, aNowUs);
        return;
    }
    if (mConfig.mNearlyDoneLeadUs != 0 && !aBlock.mNearlyDoneTold && aBlock.mDataPacketsKnown &&
        aBlock.mReceivedData > 0 && mProvider != nullptr)
    {
        // The packets still to come, at the pace of those that came (known
        // once packets came at two different times).
        const uint64_t lLeft =
            aBlock.mDataPackets > aBlock.mReceivedData ? aBlock.mDataPackets - aBlock.mReceivedData : 0;
        const uint64_t lElapsed = Elapsed(aNowUs, aBlock.mFirstUs);
        if (lElapsed != 0 && lLeft * lElapsed <= uint64_t(mConfig.mNearlyDoneLeadUs) * aBlock.mReceivedData)
        {
            aBlock.mNearlyDoneTold = true;
            mProvider->OnBlockNearlyDone(aBlock.mTarget);
        }
    }
    if (HasHoles(aBlock))
    {
        if (aBlock.mHoleSinceUs == kNever)
        {
            aBlock.mHoleSinceUs = aNowUs;
        }
    }
    else
    {
        aBlock.mHoleSinceUs = kNever;
    }
}

uint32_t TnGvspAssembler::FailureResult(const Block &aBlock) const
{
    if (aBlock.mInconsistent)
    {
        return TN_INVALID_DATA_FORMAT;
    }
    if (aBlock.mTooSmall)
    {
        return TN_BUFFER_TOO_SMALL;
    }
    if (aBlock.mUnavailable)
    {
        return TN_RESENDS_FAILURE;
    }
    if (aBlock.mDeviceStatus != 0)
    {
        return TN_GENERIC_ERROR;
    }
    if (aBlock.mBudgetSpent)
    {
        return TN_TOO_MANY_RESENDS;
    }
    if (aBlock.mLastRequestUs != kNever)
    {
        return TN_RESENDS_FAILURE;
    }
    if (HasHoles(aBlock))
    {
        return TN_MISSING_PACKETS;
    }
    return TN_TIMEOUT;
}

void TnGvspAssembler::Poll(uint64_t aNowUs)
{
    for (Block &lBlock : mBlocks)
    {
        if (lBlock.mActive)
        {
            PollBlock(lBlock, aNowUs);
        }
    }
}

void TnGvspAssembler::PollBlock(Block &aBlock, uint64_t aNowUs)
{
    const uint64_t lIdle = Elapsed(aNowUs, aBlock.mLastUs);
    if (!aBlock.mHasTarget)
    {
        if (lIdle >= mConfig.mBlockTimeoutUs)
        {
            aBlock.mActive = false;
            mLastBlock = mLastBlock == &aBlock ? nullptr : mLastBlock;
        }
        return;
    }
    if (lIdle >= mConfig.mBlockTimeoutUs)
    {
        Finish(aBlock, FailureResult(aBlock), aNowUs);
        return;
    }
    if (aBlock.mTooSmall || aBlock.mInconsistent)
    {
        // Nothing to wait for but the block's end.
        if (aBlock.mNewerSeen && lIdle >= mConfig.mReorderToleranceUs)
        {
            Finish(aBlock, FailureResult(aBlock), aNowUs);
        }
        return;
    }
    const bool lResend = mConfig.mResendEnabled && mRequester != nullptr;
    const bool lNewHolesDue =
        aBlock.mHoleSinceUs != kNever && Elapsed(aNowUs, aBlock.mHoleSinceUs) >= mConfig.mReorderToleranceUs;
    if (!lResend)
    {
        if (lNewHolesDue && (aBlock.mTrailer || aBlock.mNewerSeen))
        {
            Finish(aBlock, FailureResult(aBlock), aNowUs);
        }
        return;
    }
    const bool lRetryDue = aBlock.mLastRequestUs != kNever &&
                           Elapsed(aNowUs, aBlock.mLastRequestUs) >= mConfig.mResendResponseTimeoutUs;
    if (!lNewHolesDue && !lRetryDue)
    {
        return;
    }
    if (Elapsed(aNowUs, aBlock.mFirstUs) >= mConfig.mMaxResendLatenessUs)
    {
        // Too late to ask: the block ends as it is once its end is known
        // (a newer block or the timeout tells it otherwise).
        if (lRetryDue || aBlock.mTrailer || aBlock.mNewerSeen)
        {
            Finish(aBlock, FailureResult(aBlock), aNowUs);
        }
        else
        {
            aBlock.mHoleSinceUs = kNever;
        }
        return;
    }
    if (!RequestMissing(aBlock, aNowUs))
    {
        Finish(aBlock, FailureResult(aBlock), aNowUs);
    }
}

bool TnGvspAssembler::RequestMissing(Block &aBlock, uint64_t aNowUs)
{
    // Walk the ids up to the request end: packets never asked for go out
    // when new holes are due, packets asked for before when their answer is
    // late. A packet asked for as often as allowed is not asked for again.
    const bool lNewDue = aBlock.mHoleSinceUs != kNever &&
                         Elapsed(aNowUs, aBlock.mHoleSinceUs) >= mConfig.mReorderToleranceUs;
    const bool lRetryDue = aBlock.mLastRequestUs != kNever &&
                           Elapsed(aNowUs, aBlock.mLastRequestUs) >= mConfig.mResendResponseTimeoutUs;
    const uint32_t lAllowed = 1 + mConfig.mMaxResendRetries;
    const uint32_t lEnd = RequestEnd(aBlock);
    uint32_t lGroups = 0;
    bool lAsked = false;
    bool lLeftOver = false;
    bool lRangeOpen = false;
    TnGvspPacketRange lRange;

    auto lFlush = [&]() {
        if (!lRangeOpen)
        {
            return;
        }
        lRangeOpen = false;
        mRequester->RequestResend(aBlock.mId, lRange.mFirst, lRange.mLast, aBlock.mExtendedIds);
        const uint32_t lCount = lRange.mLast - lRange.mFirst + 1;
        ++lGroups;
        ++aBlock.mCounters.mResendGroupsRequested;
        aBlock.mCounters.mResendPacketsRequested += lCount;
        ++mStatistics.mResendGroupsRequested;
        mStatistics.mResendPacketsRequested += lCount;
        lAsked = true;
    };
    // Whether a packet asked for aRequests times so far goes out now.
    auto lWants = [&](uint32_t aRequests) -> bool {
        return aRequests == 0 ? lNewDue : lRetryDue && aRequests < lAllowed;
    };
    auto lTake = [&](uint32_t aId) -> bool {
        if (mConfig.mMaxResendPacketsPerBlock != 0 && aBlock.mRequestedTotal >= mConfig.mMaxResendPacketsPerBlock)
        {
            aBlock.mBudgetSpent = true;
            return false;
        }
        if (lRangeOpen && lRange.mLast + 1 == aId)
        {
            lRange.mLast = aId;
        }
        else
        {
            lFlush();
            if (lGroups >= mConfig.mMaxResendGroupsPerRequest)
            {
                lLeftOver = true;
                return false;
            }
            lRange.mFirst = lRange.mLast = aId;
            lRangeOpen = true;
        }
        ++aBlock.mRequestedTotal;
        return true;
    };

    if (!aBlock.mLeader)
    {
        if (lWants(aBlock.mLeaderRequests) && lTake(0))
        {
            ++aBlock.mLeaderRequests;
        }
    }
    const uint32_t lDataEnd = std::min(lEnd == aBlock.mDataPackets + 1 ? aBlock.mDataPackets : lEnd,
                                       aBlock.mMaxDataIds);
    ForEachClear(aBlock.mBits, lDataEnd, [&](uint32_t aIndex) {
        const uint32_t lRequests = TestBit(aBlock.mRequested, aIndex) + TestBit(aBlock.mRerequested, aIndex) * 2;
        if (!lWants(lRequests))
        {
            return true;
        }
        if (!lTake(aIndex + 1))
        {
            return !aBlock.mBudgetSpent;
        }
        // Two bits count the requests: 1 (first bit), 2 (second bit only), 3 (both).
        if (lRequests == 1)
        {
            aBlock.mRequested[aIndex >> 6] &= ~(uint64_t(1) << (aIndex & 63));
        }
        else
        {
            SetBit(aBlock.mRequested, aIndex);
        }
        if (lRequests != 0)
        {
            SetBit(aBlock.mRerequested, aIndex);
        }
        return true;
    });
    if (!aBlock.mTrailer && lEnd == aBlock.mDataPackets + 1 && aBlock.mDataPacketsKnown && !aBlock.mBudgetSpent)
    {
        if (lWants(aBlock.mTrailerRequests) && lTake(lEnd))
        {
            ++aBlock.mTrailerRequests;
        }
    }
    lFlush();
    if (aBlock.mBudgetSpent)
    {
        return false;
    }
    // Packets asked for as often as allowed wait for their answers until the
    // block is too late for resend: a device that the machine held up answers
    // late, and the block fails only then (PollBlock).
    if (lNewDue)
    {
        aBlock.mHoleSinceUs = lLeftOver ? aNowUs : kNever;
    }
    if (lAsked || lRetryDue)
    {
        aBlock.mLastRequestUs = aNowUs;
    }
    // Holes that cannot be asked for (the block's end is unknown) and nothing
    // on the way: once the end is past, the block is over.
    return lAsked || aBlock.mLastRequestUs != kNever || !(aBlock.mTrailer || aBlock.mNewerSeen);
}

uint64_t TnGvspAssembler::GetNextDeadline() const
{
    // The times at which PollBlock acts, and only those.
    const bool lResend = mConfig.mResendEnabled && mRequester != nullptr;
    uint64_t lDeadline = UINT64_MAX;
    for (const Block &lBlock : mBlocks)
    {
        if (!lBlock.mActive)
        {
            continue;
        }
        lDeadline = std::min(lDeadline, lBlock.mLastUs + mConfig.mBlockTimeoutUs);
        if (!lBlock.mHasTarget)
        {
            continue;
        }
        const bool lEndKnown = lBlock.mTrailer || lBlock.mNewerSeen;
        if (lBlock.mTooSmall || lBlock.mInconsistent)
        {
            if (lBlock.mNewerSeen)
            {
                lDeadline = std::min(lDeadline, lBlock.mLastUs + mConfig.mReorderToleranceUs);
            }
            continue;
        }
        if (lBlock.mHoleSinceUs != kNever && (lResend || lEndKnown))
        {
            lDeadline = std::min(lDeadline, lBlock.mHoleSinceUs + mConfig.mReorderToleranceUs);
        }
        if (lResend && lBlock.mLastRequestUs != kNever)
        {
            lDeadline = std::min(lDeadline, lBlock.mLastRequestUs + mConfig.mResendResponseTimeoutUs);
        }
    }
    return lDeadline;
}

void TnGvspAssembler::CollectMissing(const Block &aBlock)
{
    mMissing.clear();
    const uint32_t lUnknownEnd = aBlock.mExtendedIds ? 0xFFFFFFFFu : kGvspMaxStandardPacketId;
    auto lAdd = [&](uint32_t aId) {
        if (!mMissing.empty() && mMissing.back().mLast + 1 == aId)
        {
            mMissing.back().mLast = aId;
        }
        else
        {
            TnGvspPacketRange lRange;
            lRange.mFirst = lRange.mLast = aId;
            mMissing.push_back(lRange);
        }
    };
    if (!aBlock.mLeader)
    {
        lAdd(0);
    }
    const bool lEndKnown = aBlock.mDataPacketsKnown;
    const uint32_t lDataEnd =
        std::min(lEndKnown ? aBlock.mDataPackets : aBlock.mHighest, aBlock.mMaxDataIds);
    ForEachClear(aBlock.mBits, lDataEnd, [&](uint32_t aIndex) {
        lAdd(aIndex + 1);
        return true;
    });
    if (!aBlock.mTrailer)
    {
        if (lEndKnown)
        {
            lAdd(aBlock.mDataPackets + 1);
        }
        else
        {
            // Payload packets after the highest received, and the trailer:
            // how many is unknown.
            TnGvspPacketRange lRange;
            lRange.mFirst = aBlock.mHighest + 1;
            lRange.mLast = lUnknownEnd;
            if (!mMissing.empty() && mMissing.back().mLast + 1 == lRange.mFirst)
            {
                mMissing.back().mLast = lUnknownEnd;
            }
            else
            {
                mMissing.push_back(lRange);
            }
        }
    }
}

void TnGvspAssembler::Finish(Block &aBlock, uint32_t aResult, uint64_t aNowUs)
{
    (void)aNowUs;
    aBlock.mActive = false;
    if (mLastBlock == &aBlock)
    {
        mLastBlock = nullptr;
    }
    if (!aBlock.mHasTarget)
    {
        return;
    }
    TnGvspBlockReport &lReport = aBlock.mReport;
    lReport.mBlockId = aBlock.mId;
    lReport.mExtendedIds = aBlock.mExtendedIds;
    lReport.mResult = aResult;
    lReport.mDeviceStatus = aBlock.mDeviceStatus;
    lReport.mLeader = lReport.mLeaderValid ? aBlock.mLeaderBytes : nullptr;
    lReport.mTrailer = lReport.mTrailerValid ? aBlock.mTrailerBytes : nullptr;
    lReport.mReceivedSize = aBlock.mReceivedEnd;
    lReport.mRequiredSize = aBlock.mRequiredSize;
    lReport.mDescribedSize = DescribedSize(aBlock);
    lReport.mDataPacketCount = aBlock.mDataPacketsKnown ? aBlock.mDataPackets : 0;
    lReport.mPayloadPerPacket = aBlock.mPayloadPerPacket;
    lReport.mFirstPacketUs = aBlock.mFirstUs;
    lReport.mLastPacketUs = aBlock.mLastUs;
    if (aResult == TN_OK)
    {
        mMissing.clear();
        ++mStatistics.mBlocksCompleted;
        mLastDataPacketCount = aBlock.mDataPackets;
    }
    else
    {
        CollectMissing(aBlock);
        uint64_t lLost = 0;
        for (const TnGvspPacketRange &lRange : mMissing)
        {
            // The open-ended range counts only the ids known to exist.
            const uint32_t lLast = lRange.mLast == (aBlock.mExtendedIds ? 0xFFFFFFFFu : kGvspMaxStandardPacketId) &&
                                           !aBlock.mDataPacketsKnown
                                       ? lRange.mFirst
                                       : lRange.mLast;
            lLost += lLast - lRange.mFirst + 1;
        }
        aBlock.mCounters.mLost = static_cast<uint32_t>(std::min<uint64_t>(lLost, 0xFFFFFFFFu));
        if (aResult == TN_ABORTED)
        {
            ++mStatistics.mBlocksAborted; // stopped, not failed: nothing counts as lost
        }
        else
        {
            mStatistics.mPacketsLost += lLost;
            ++mStatistics.mBlocksFailed;
        }
        if (aResult == TN_BUFFER_TOO_SMALL)
        {
            ++mStatistics.mBlocksTooSmall;
        }
    }
    mStatistics.mPacketsRecovered += aBlock.mCounters.mRecovered;
    lReport.mCounters = aBlock.mCounters;
    lReport.mMissing = mMissing.empty() ? nullptr : mMissing.data();
    lReport.mMissingCount = mMissing.size();
    aBlock.mHasTarget = false;
    if (mProvider != nullptr)
    {
        mProvider->FinishBlock(aBlock.mTarget, lReport);
    }
}

void TnGvspAssembler::FinishAll(uint32_t aResult, uint64_t aNowUs)
{
    for (Block &lBlock : mBlocks)
    {
        if (lBlock.mActive)
        {
            Finish(lBlock, aResult, aNowUs);
        }
    }
    if (mHaveSpare)
    {
        mHaveSpare = false;
        if (mProvider != nullptr)
        {
            mProvider->ReturnBlock(mSpare);
        }
    }
}

uint32_t TnGvspAssembler::GetDataPacketCount(uint64_t aBlockId) const
{
    for (const Block &lBlock : mBlocks)
    {
        if (lBlock.mActive && lBlock.mId == aBlockId)
        {
            return lBlock.mDataPacketsKnown ? lBlock.mDataPackets : 0;
        }
    }
    return 0;
}

size_t TnGvspAssembler::GetBlocksInFlight() const
{
    size_t lCount = 0;
    for (const Block &lBlock : mBlocks)
    {
        lCount += lBlock.mActive;
    }
    return lCount;
}

size_t TnGvspAssembler::Predict(TnGvspPrediction *aOut, size_t aMax)
{
    if (mHeaderSize == 0 || mPayloadPerPacket == 0 || !mHaveNewest || aMax == 0)
    {
        return 0;
    }
    size_t lCount = 0;
    auto lNone = [&]() {
        aOut[lCount++] = TnGvspPrediction();
    };
    // Predicts packets aFirst to aLast of a block in aTarget, aPerPacket
    // bytes each; false when the memory ended first.
    auto lEmit = [&](const TnGvspBlockTarget &aTarget, uint64_t aId, uint32_t aPerPacket, uint32_t aFirst,
                     uint32_t aLast) {
        const uint64_t lCapacity = aTarget.GetCapacity();
        for (uint32_t lId = aFirst; lId <= aLast && lCount < aMax; ++lId)
        {
            const uint64_t lOffset = static_cast<uint64_t>(lId - 1) * aPerPacket;
            if (lOffset >= lCapacity)
            {
                return false;
            }
            const uint32_t lSize = static_cast<uint32_t>(std::min<uint64_t>(aPerPacket, lCapacity - lOffset));
            TnGvspPrediction &lPrediction = aOut[lCount++];
            lPrediction.mBlockId = aId;
            lPrediction.mPacketId = lId;
            lPrediction.mData = PointerAt(aTarget, lOffset, lSize);
            lPrediction.mSize = lPrediction.mData != nullptr ? lSize : 0;
        }
        return true;
    };

    Block *lCurrent = nullptr;
    for (Block &lBlock : mBlocks)
    {
        if (lBlock.mActive && lBlock.mId == mNewestId)
        {
            lCurrent = &lBlock;
        }
    }
    if (lCurrent != nullptr)
    {
        if (!lCurrent->mHasTarget || lCurrent->mTooSmall || lCurrent->mMaxDataIds == 0 ||
            lCurrent->mPayloadPerPacket == 0)
        {
            return 0;
        }
        const uint32_t lLast =
            lCurrent->mDataPacketsKnown ? std::min(lCurrent->mDataPackets, lCurrent->mMaxDataIds) : lCurrent->mMaxDataIds;
        lEmit(lCurrent->mTarget, lCurrent->mId, lCurrent->mPayloadPerPacket, lCurrent->mHighest + 1, lLast);
        if (!lCurrent->mDataPacketsKnown || lCount >= aMax)
        {
            return lCount;
        }
        if (!lCurrent->mTrailer)
        {
            lNone();
        }
    }
    // The next block: its leader, then its payload into memory taken in
    // advance, as many packets as the last block had.
    if (lCount >= aMax)
    {
        return lCount;
    }
    if (!mHaveSpare)
    {
        if (!AcquireFromProvider(mSpare))
        {
            return lCount;
        }
        mHaveSpare = true;
    }
    lNone();
    const uint64_t lNextId = NextGvspBlockId(mNewestId, mExtendedIds);
    const uint32_t lExpected = mLastDataPacketCount != 0
                                   ? mLastDataPacketCount
                                   : static_cast<uint32_t>(std::min<uint64_t>(
                                         (mSpare.GetCapacity() + mPayloadPerPacket - 1) / mPayloadPerPacket, 0xFFFFFFF0u));
    lEmit(mSpare, lNextId, mPayloadPerPacket, 1, lExpected);
    return lCount;
}
} // namespace gev
} // namespace tn
