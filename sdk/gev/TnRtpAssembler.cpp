#include "TnRtpAssembler.h"

#include <string.h>

#include <algorithm>

#include "TnGevBytes.h"
#include "TnResult.h"

namespace tn
{
namespace gev
{
namespace
{
// Packets of a frame counted before its first one seen (late ones of its
// start), and the most packets one frame may have.
constexpr uint64_t kBackWindow = 256;
constexpr uint64_t kMaxFramePackets = uint64_t(1) << 22;
// Line segments one packet may carry on reception.
constexpr size_t kMaxReceivedSegments = 512;
constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

// Sets bits aFirst to aFirst + aCount - 1 of aBits; returns how many were
// clear before.
uint64_t SetRange(std::vector<uint64_t> &aBits, uint64_t aFirst, uint64_t aCount)
{
    uint64_t lNew = 0;
    while (aCount > 0)
    {
        const uint64_t lShift = aFirst & 63;
        const uint64_t lTake = std::min<uint64_t>(aCount, 64 - lShift);
        const uint64_t lMask = (lTake == 64 ? ~uint64_t(0) : ((uint64_t(1) << lTake) - 1)) << lShift;
        uint64_t &lWord = aBits[aFirst >> 6];
        lNew += static_cast<uint64_t>(__builtin_popcountll(lMask & ~lWord));
        lWord |= lMask;
        aFirst += lTake;
        aCount -= lTake;
    }
    return lNew;
}

/// Whether any of aCount bits from aFirst is set.
bool AnySet(const std::vector<uint64_t> &aBits, uint64_t aFirst, uint64_t aCount)
{
    while (aCount > 0)
    {
        const uint64_t lShift = aFirst & 63;
        const uint64_t lTake = std::min<uint64_t>(aCount, 64 - lShift);
        const uint64_t lMask = (lTake == 64 ? ~uint64_t(0) : ((uint64_t(1) << lTake) - 1)) << lShift;
        if ((aFirst >> 6) >= aBits.size() || (aBits[aFirst >> 6] & lMask) != 0)
        {
            return true;
        }
        aFirst += lTake;
        aCount -= lTake;
    }
    return false;
}
} // namespace

TnRtpFrameProvider::~TnRtpFrameProvider() = default;

void TnRtpFrameProvider::OnFrameNearlyDone(const TnGvspBlockTarget &)
{
}

struct TnRtpAssembler::Frame
{
    TnGvspBlockTarget mTarget;
    bool mHasTarget = false;
    uint32_t mTimestamp = 0;
    uint64_t mBase = 0; // the sequence number of bit 0 of mSeen
    std::vector<uint64_t> mSeen;
    uint64_t mLowest = 0;
    uint64_t mHighest = 0;
    uint64_t mPrevMarker = 0; // the stream's last marker before the frame
    bool mMarker = false;
    uint64_t mMarkerSequence = 0;
    uint64_t mMarkerUs = 0;
    // Without its marker: the lowest sequence number of a newer frame's
    // packets, which shows that the frame ended before it (0: none yet), and
    // when the first such packet came.
    uint64_t mEndBound = 0;
    uint64_t mEndUs = 0;
    uint64_t mFirstUs = 0;
    uint64_t mLastUs = 0;
    uint32_t mPackets = 0;
    uint32_t mRedundant = 0;
    uint32_t mOutOfOrder = 0;
    uint64_t mBytes = 0;    // raw video: bytes of the image placed (each once); else the write position
    // Raw video: one bit per pixel group of the image, set once placed.
    std::vector<uint64_t> mCovered;
    uint64_t mRequired = 0; // the write position past the memory's end
    bool mTooSmall = false;
    bool mMalformed = false;
    bool mBroken = false; // a payload appended out of sequence
    uint64_t mLastAppended = 0;
    bool mInFragment = false;
    bool mUnitSeen = false;
    bool mStartsUnit = false;
    bool mNearlyTold = false;
};

TnRtpAssembler::TnRtpAssembler() = default;

TnRtpAssembler::~TnRtpAssembler() = default;

size_t TnRtpAssembler::GetFramesInFlight() const
{
    return mFrames.size();
}

void TnRtpAssembler::Configure(const TnRtpAssemblerConfig &aConfig, uint64_t aNowUs)
{
    FinishAll(TN_ABORTED, aNowUs);
    mConfig = aConfig;
    mConfig.mMaxFramesInFlight = std::max<uint32_t>(1, mConfig.mMaxFramesInFlight);
    mHaveSource = false;
    mHighest = 0;
    mLastMarker = 0;
    mFinishedCount = 0;
    mCanPredict = false;
    mDatagramSize = 0;
}

void TnRtpAssembler::SetTimes(uint32_t aReorderToleranceUs, uint32_t aFrameTimeoutUs)
{
    mConfig.mReorderToleranceUs = aReorderToleranceUs;
    mConfig.mFrameTimeoutUs = aFrameTimeoutUs;
}

uint64_t TnRtpAssembler::LineStride() const
{
    const TnRawSampling &lSampling = mConfig.mSampling;
    return lSampling.mGroupPixels == 0
               ? 0
               : uint64_t(mConfig.mWidth / lSampling.mGroupPixels) * lSampling.mGroupBytes + mConfig.mPaddingX;
}

uint64_t TnRtpAssembler::ImageBytes() const
{
    const TnRawSampling &lSampling = mConfig.mSampling;
    return lSampling.mGroupPixels == 0
               ? 0
               : uint64_t(mConfig.mWidth / lSampling.mGroupPixels) * lSampling.mGroupBytes * mConfig.mHeight;
}

bool TnRtpAssembler::WasFinished(uint32_t aTimestamp) const
{
    for (size_t lIndex = 0; lIndex < mFinishedCount; ++lIndex)
    {
        if (mFinished[lIndex] == aTimestamp)
        {
            return true;
        }
    }
    return false;
}

uint64_t TnRtpAssembler::Extend(uint16_t aSequence) const
{
    if (mHighest == 0)
    {
        return (uint64_t(1) << 32) + aSequence;
    }
    const int16_t lDelta = static_cast<int16_t>(static_cast<uint16_t>(aSequence - static_cast<uint16_t>(mHighest)));
    return mHighest + lDelta;
}

bool TnRtpAssembler::AcceptSource(const TnRtpHeader &aHeader, uint64_t aNowUs)
{
    if (!mHaveSource || (aHeader.mSsrc != mSsrc && aNowUs - mSourceHeardUs >= mConfig.mSourceSilenceUs))
    {
        if (mHaveSource)
        {
            FinishAll(TN_MISSING_PACKETS, aNowUs);
            ++mStatistics.mSourceChanges;
        }
        mHaveSource = true;
        mSsrc = aHeader.mSsrc;
        mHighest = 0;
        mLastMarker = 0;
        mFinishedCount = 0;
        mCanPredict = false;
    }
    if (aHeader.mSsrc != mSsrc)
    {
        return false;
    }
    mSourceHeardUs = aNowUs;
    return true;
}

void TnRtpAssembler::OnDatagram(const uint8_t *aData, size_t aSize, uint64_t aNowUs)
{
    TnRtpHeader lHeader;
    if (!DecodeRtpHeader(aData, aSize, lHeader))
    {
        ++mStatistics.mPackets;
        ++mStatistics.mMalformedPackets;
        return;
    }
    Process(lHeader, aData + lHeader.mHeaderSize, nullptr, aNowUs);
}

TnRtpAssembler::Frame *TnRtpAssembler::FindOrStart(const TnRtpHeader &aHeader, uint64_t aSequence, uint64_t aNowUs)
{
    for (Frame &lFrame : mFrames)
    {
        if (lFrame.mTimestamp == aHeader.mTimestamp)
        {
            return &lFrame;
        }
    }
    if (WasFinished(aHeader.mTimestamp) || (!mFrames.empty() && aSequence < mFrames.front().mLowest))
    {
        return nullptr; // a late packet of a frame that is done
    }
    while (mFrames.size() >= mConfig.mMaxFramesInFlight)
    {
        Finish(0, TN_MISSING_PACKETS, aNowUs);
    }
    Frame lFrame;
    lFrame.mTimestamp = aHeader.mTimestamp;
    lFrame.mBase = aSequence - kBackWindow;
    lFrame.mLowest = lFrame.mHighest = aSequence;
    lFrame.mPrevMarker = mLastMarker;
    lFrame.mFirstUs = lFrame.mLastUs = aNowUs;
    if (mHaveSpare)
    {
        lFrame.mTarget = mSpare;
        lFrame.mHasTarget = true;
        mHaveSpare = false;
    }
    else if (mProvider != nullptr)
    {
        lFrame.mHasTarget = mProvider->AcquireFrame(lFrame.mTarget);
    }
    if (mConfig.mPayload == TnRtpPayload::RawVideo)
    {
        lFrame.mRequired = LineStride() * mConfig.mHeight;
        lFrame.mTooSmall = lFrame.mHasTarget && (lFrame.mTarget.mData == nullptr || lFrame.mTarget.mSize < lFrame.mRequired);
        // The memory of a finished frame's bits, cleared.
        if (!mSpareCoverage.empty())
        {
            lFrame.mCovered.swap(mSpareCoverage.back());
            mSpareCoverage.pop_back();
        }
        const uint64_t lGroups = mConfig.mSampling.mGroupPixels == 0
                                     ? 0
                                     : uint64_t(mConfig.mWidth / mConfig.mSampling.mGroupPixels) * mConfig.mHeight;
        lFrame.mCovered.assign((lGroups + 63) / 64, 0);
    }
    mFrames.push_back(std::move(lFrame));
    return &mFrames.back();
}

void TnRtpAssembler::Process(const TnRtpHeader &aHeader, const uint8_t *aPayload, const TnRtpPrediction *aPredicted,
                             uint64_t aNowUs)
{
    ++mStatistics.mPackets;
    mStatistics.mBytes += aHeader.mHeaderSize + aHeader.mPayloadSize;
    if (!AcceptSource(aHeader, aNowUs))
    {
        ++mStatistics.mPacketsIgnored;
        return;
    }
    const uint64_t lSequence = Extend(aHeader.mSequence);
    Frame *lFrame = FindOrStart(aHeader, lSequence, aNowUs);
    if (lFrame == nullptr || lSequence < lFrame->mBase || lSequence - lFrame->mBase >= kMaxFramePackets)
    {
        ++mStatistics.mPacketsIgnored;
        return;
    }
    const uint64_t lBit = lSequence - lFrame->mBase;
    if (lBit / 64 >= lFrame->mSeen.size())
    {
        lFrame->mSeen.resize(lBit / 64 + 64, 0);
    }
    uint64_t &lWord = lFrame->mSeen[lBit / 64];
    if ((lWord & (uint64_t(1) << (lBit % 64))) != 0)
    {
        ++lFrame->mRedundant;
        ++mStatistics.mPacketsRedundant;
        return;
    }
    lWord |= uint64_t(1) << (lBit % 64);
    if (lSequence < lFrame->mHighest)
    {
        ++lFrame->mOutOfOrder;
        ++mStatistics.mPacketsOutOfOrder;
    }
    ++lFrame->mPackets;
    lFrame->mLowest = std::min(lFrame->mLowest, lSequence);
    lFrame->mHighest = std::max(lFrame->mHighest, lSequence);
    lFrame->mLastUs = aNowUs;
    mHighest = std::max(mHighest, lSequence);
    ++(aPredicted != nullptr ? mStatistics.mPacketsInPlace : mStatistics.mPacketsCopied);
    for (Frame &lOlder : mFrames)
    {
        // A newer frame's packet: an older frame still without its marker
        // has ended, its marker lost (or late).
        if (&lOlder != lFrame && !lOlder.mMarker && lOlder.mHighest < lSequence && lOlder.mLowest < lFrame->mLowest &&
            (lOlder.mEndBound == 0 || lSequence < lOlder.mEndBound))
        {
            lOlder.mEndUs = lOlder.mEndBound == 0 ? aNowUs : lOlder.mEndUs;
            lOlder.mEndBound = lSequence;
        }
    }
    if (aHeader.mMarker)
    {
        lFrame->mMarker = true;
        lFrame->mMarkerSequence = lSequence;
        lFrame->mMarkerUs = aNowUs;
        mLastMarker = std::max(mLastMarker, lSequence);
        for (Frame &lOther : mFrames)
        {
            if (lOther.mLowest > lSequence && lOther.mPrevMarker < lSequence)
            {
                lOther.mPrevMarker = lSequence; // its predecessor's marker came late
            }
        }
    }
    switch (mConfig.mPayload)
    {
    case TnRtpPayload::RawVideo:
        PlaceRaw(*lFrame, aPayload, aHeader.mPayloadSize, aPredicted, lSequence);
        if (lSequence == mHighest)
        {
            mRtpHeaderSize = static_cast<uint32_t>(aHeader.mHeaderSize);
            mDatagramSize = std::max(mDatagramSize, aHeader.mHeaderSize + aHeader.mPayloadSize);
            if (aHeader.mMarker)
            {
                mNextInNewFrame = true;
                mNextLine = 0;
                mNextOffset = 0;
            }
        }
        break;
    case TnRtpPayload::H264:
    case TnRtpPayload::Any:
        if (lFrame->mLastAppended != 0 && lSequence != lFrame->mLastAppended + 1)
        {
            lFrame->mBroken = true;
        }
        lFrame->mLastAppended = lSequence;
        if (!lFrame->mBroken)
        {
            if (mConfig.mPayload == TnRtpPayload::H264)
            {
                AppendH264(*lFrame, aPayload, aHeader.mPayloadSize);
            }
            else
            {
                Append(*lFrame, aPayload, aHeader.mPayloadSize, false);
            }
        }
        break;
    }
    Check(*lFrame, aNowUs);
}

void TnRtpAssembler::PlaceRaw(Frame &aFrame, const uint8_t *aPayload, size_t aSize,
                              const TnRtpPrediction *aPredicted, uint64_t aSequence)
{
    TnRawSegment lSegments[kMaxReceivedSegments];
    uint16_t lExtended = 0;
    size_t lCount = 0;
    size_t lHeaderBytes = 0;
    if (!DecodeRawHeaders(aPayload, aSize, lExtended, lSegments, kMaxReceivedSegments, lCount, lHeaderBytes) ||
        lCount > kMaxReceivedSegments)
    {
        aFrame.mMalformed = true;
        ++mStatistics.mMalformedPackets;
        return;
    }
    const TnRawSampling &lSampling = mConfig.mSampling;
    const uint64_t lStride = LineStride();
    const bool lWrite = aPredicted == nullptr && aFrame.mHasTarget && !aFrame.mTooSmall;
    if (aPredicted != nullptr && (!aFrame.mHasTarget || aPredicted->mFrameData != aFrame.mTarget.mData))
    {
        // The data went to another frame's memory than this packet's: the
        // frame goes without it.
        aFrame.mBroken = true;
    }
    const uint8_t *lData = aPayload + lHeaderBytes;
    for (size_t lIndex = 0; lIndex < lCount; ++lIndex)
    {
        const TnRawSegment &lSegment = lSegments[lIndex];
        const uint64_t lPixels = uint64_t(lSegment.mLength / lSampling.mGroupBytes) * lSampling.mGroupPixels;
        if (lSegment.mLine >= mConfig.mHeight || lSegment.mOffset % lSampling.mGroupPixels != 0 ||
            lSegment.mLength % lSampling.mGroupBytes != 0 || lSegment.mOffset + lPixels > mConfig.mWidth ||
            lSegment.mSecondField)
        {
            aFrame.mMalformed = true;
            ++mStatistics.mMalformedPackets;
            return;
        }
        if (lWrite)
        {
            memcpy(aFrame.mTarget.mData + lSegment.mLine * lStride +
                       uint64_t(lSegment.mOffset / lSampling.mGroupPixels) * lSampling.mGroupBytes,
                   lData, lSegment.mLength);
        }
        lData += lSegment.mLength;
        // Only the pixels no other segment brought count: segments that
        // overlap leave the rest of the image unproven.
        const uint64_t lFirstGroup = uint64_t(lSegment.mLine) * (mConfig.mWidth / lSampling.mGroupPixels) +
                                     lSegment.mOffset / lSampling.mGroupPixels;
        aFrame.mBytes += SetRange(aFrame.mCovered, lFirstGroup, lPixels / lSampling.mGroupPixels) * lSampling.mGroupBytes;
    }
    if (aSequence == mHighest && lCount != 0)
    {
        const TnRawSegment &lLast = lSegments[lCount - 1];
        mNextSequence = aSequence + 1;
        mNextLine = lLast.mLine;
        mNextOffset = lLast.mOffset + lLast.mLength / lSampling.mGroupBytes * lSampling.mGroupPixels;
        if (mNextOffset >= mConfig.mWidth)
        {
            mNextOffset = 0;
            ++mNextLine;
        }
        mNextInNewFrame = false;
        mCanPredict = true;
    }
}

void TnRtpAssembler::Append(Frame &aFrame, const uint8_t *aData, size_t aSize, bool aStartCode)
{
    for (int lPart = aStartCode ? 0 : 1; lPart < 2; ++lPart)
    {
        const uint8_t *lBytes = lPart == 0 ? kStartCode : aData;
        const size_t lSize = lPart == 0 ? sizeof(kStartCode) : aSize;
        if (!aFrame.mTooSmall && aFrame.mHasTarget && aFrame.mTarget.mData != nullptr &&
            aFrame.mBytes + lSize <= aFrame.mTarget.mSize)
        {
            memcpy(aFrame.mTarget.mData + aFrame.mBytes, lBytes, lSize);
            aFrame.mBytes += lSize;
        }
        else
        {
            aFrame.mTooSmall = aFrame.mHasTarget;
        }
        aFrame.mRequired += lSize;
    }
}

void TnRtpAssembler::AppendH264(Frame &aFrame, const uint8_t *aPayload, size_t aSize)
{
    // The first NAL unit of the frame tells whether it begins an access unit.
    auto lFirst = [&aFrame](const uint8_t *aUnit, size_t aUnitSize) {
        if (!aFrame.mUnitSeen)
        {
            aFrame.mUnitSeen = true;
            aFrame.mStartsUnit = StartsAccessUnit(aUnit, aUnitSize);
        }
    };
    if (aSize == 0)
    {
        return;
    }
    const uint8_t lType = aPayload[0] & 0x1F;
    if (lType >= 1 && lType <= 23)
    {
        if (aFrame.mInFragment)
        {
            aFrame.mBroken = true; // a fragmented unit never ended
            return;
        }
        lFirst(aPayload, aSize);
        Append(aFrame, aPayload, aSize, true);
        return;
    }
    if (lType == kH264StapA && !aFrame.mInFragment)
    {
        size_t lOffset = 1;
        while (lOffset + 2 <= aSize)
        {
            const size_t lUnit = GetU16(aPayload + lOffset);
            lOffset += 2;
            if (lUnit == 0 || lOffset + lUnit > aSize)
            {
                break;
            }
            lFirst(aPayload + lOffset, lUnit);
            Append(aFrame, aPayload + lOffset, lUnit, true);
            lOffset += lUnit;
        }
        if (lOffset != aSize)
        {
            aFrame.mMalformed = true;
            ++mStatistics.mMalformedPackets;
        }
        return;
    }
    if (lType == kH264FuA && aSize >= 2)
    {
        const bool lStart = (aPayload[1] & 0x80) != 0;
        const bool lEnd = (aPayload[1] & 0x40) != 0;
        if (lStart == aFrame.mInFragment)
        {
            aFrame.mBroken = true; // a start inside a unit, or a middle without one
            return;
        }
        if (lStart)
        {
            const uint8_t lUnitHeader[2] = {static_cast<uint8_t>((aPayload[0] & 0xE0) | (aPayload[1] & 0x1F)),
                                            aSize > 2 ? aPayload[2] : uint8_t(0)};
            lFirst(lUnitHeader, aSize > 2 ? 2 : 1);
            Append(aFrame, lUnitHeader, 1, true);
        }
        Append(aFrame, aPayload + 2, aSize - 2, false);
        aFrame.mInFragment = !lEnd;
        return;
    }
    aFrame.mMalformed = true; // no payload structure of packetization mode 1
    ++mStatistics.mMalformedPackets;
}

void TnRtpAssembler::Check(Frame &aFrame, uint64_t aNowUs)
{
    const size_t lIndex = static_cast<size_t>(&aFrame - mFrames.data());
    if (aFrame.mMalformed)
    {
        Finish(lIndex, TN_INVALID_DATA_FORMAT, aNowUs);
        return;
    }
    const bool lRaw = mConfig.mPayload == TnRtpPayload::RawVideo;
    if (!aFrame.mMarker)
    {
        const uint64_t lImage = ImageBytes();
        if (lRaw && mConfig.mNearlyDoneLeadUs != 0 && !aFrame.mNearlyTold && aFrame.mHasTarget &&
            aFrame.mBytes < lImage && aFrame.mLastUs > aFrame.mFirstUs &&
            (lImage - aFrame.mBytes) * (aFrame.mLastUs - aFrame.mFirstUs) <=
                uint64_t(mConfig.mNearlyDoneLeadUs) * aFrame.mBytes)
        {
            aFrame.mNearlyTold = true;
            mProvider->OnFrameNearlyDone(aFrame.mTarget);
        }
        return;
    }
    if (aFrame.mHighest != aFrame.mMarkerSequence)
    {
        Finish(lIndex, TN_INVALID_DATA_FORMAT, aNowUs); // packets after the frame's last
        return;
    }
    if (aFrame.mPackets != aFrame.mMarkerSequence - aFrame.mLowest + 1)
    {
        return; // holes: late packets may still fill them (Poll)
    }
    const bool lStarted = aFrame.mPrevMarker != 0 && aFrame.mLowest == aFrame.mPrevMarker + 1;
    bool lProven = lStarted;
    if (lRaw)
    {
        lProven = aFrame.mBytes == ImageBytes();
    }
    else if (mConfig.mPayload == TnRtpPayload::H264)
    {
        lProven = (lStarted || aFrame.mStartsUnit) && !aFrame.mInFragment;
    }
    if (aFrame.mBroken || (!lRaw && aFrame.mInFragment))
    {
        Finish(lIndex, TN_MISSING_PACKETS, aNowUs);
    }
    else if (lProven)
    {
        Finish(lIndex, aFrame.mTooSmall ? TN_BUFFER_TOO_SMALL : TN_OK, aNowUs);
    }
    else if (lStarted)
    {
        // Every packet came, yet the image is not whole: the sender's image
        // is not the one expected.
        Finish(lIndex, TN_INVALID_DATA_FORMAT, aNowUs);
    }
}

void TnRtpAssembler::Finish(size_t aIndex, uint32_t aResult, uint64_t aNowUs)
{
    (void)aNowUs;
    Frame lFrame = std::move(mFrames[aIndex]);
    mFrames.erase(mFrames.begin() + static_cast<std::ptrdiff_t>(aIndex));
    if (!lFrame.mCovered.empty() && mSpareCoverage.size() < mConfig.mMaxFramesInFlight)
    {
        mSpareCoverage.emplace_back();
        mSpareCoverage.back().swap(lFrame.mCovered);
    }
    mFinished[mFinishedNext] = lFrame.mTimestamp;
    mFinishedNext = (mFinishedNext + 1) % 4;
    mFinishedCount = std::min<size_t>(mFinishedCount + 1, 4);
    TnRtpFrameReport lReport;
    lReport.mResult = aResult;
    lReport.mTimestamp = lFrame.mTimestamp;
    lReport.mSsrc = mSsrc;
    if (mConfig.mPayload == TnRtpPayload::RawVideo)
    {
        lReport.mRequiredSize = lFrame.mRequired;
        lReport.mSize = lFrame.mHasTarget ? std::min<uint64_t>(lFrame.mRequired, lFrame.mTarget.mSize) : 0;
    }
    else
    {
        lReport.mRequiredSize = lFrame.mRequired;
        lReport.mSize = lFrame.mBytes;
    }
    lReport.mFirstSequence = lFrame.mLowest;
    lReport.mLastSequence = lFrame.mMarker ? lFrame.mMarkerSequence : lFrame.mHighest;
    if (!lFrame.mMarker && lFrame.mEndBound != 0)
    {
        // Its end lies before the newer frames' packets: the sequence numbers
        // up to their first, its marker among them, are its lost packets.
        uint64_t lBound = lFrame.mEndBound;
        for (const Frame &lNewer : mFrames)
        {
            if (lNewer.mLowest > lFrame.mHighest)
            {
                lBound = std::min(lBound, lNewer.mLowest);
            }
        }
        lReport.mLastSequence = std::max(lFrame.mHighest, lBound - 1);
    }
    lReport.mPackets = lFrame.mPackets;
    const uint64_t lSpan = lReport.mLastSequence - lReport.mFirstSequence + 1;
    lReport.mLost = lSpan > lFrame.mPackets ? static_cast<uint32_t>(lSpan - lFrame.mPackets) : 0;
    lReport.mRedundant = lFrame.mRedundant;
    lReport.mOutOfOrder = lFrame.mOutOfOrder;
    lReport.mFirstPacketUs = lFrame.mFirstUs;
    lReport.mLastPacketUs = lFrame.mLastUs;
    mStatistics.mPacketsLost += lReport.mLost;
    if (aResult == TN_OK)
    {
        ++mStatistics.mFramesCompleted;
    }
    else if (aResult == TN_ABORTED)
    {
        ++mStatistics.mFramesAborted;
    }
    else
    {
        ++mStatistics.mFramesFailed;
        if (aResult == TN_BUFFER_TOO_SMALL)
        {
            ++mStatistics.mFramesTooSmall;
        }
    }
    if (lFrame.mHasTarget)
    {
        if (mProvider != nullptr)
        {
            mProvider->FinishFrame(lFrame.mTarget, lReport);
        }
    }
    else
    {
        ++mStatistics.mFramesDropped;
    }
}

void TnRtpAssembler::Poll(uint64_t aNowUs)
{
    for (size_t lIndex = 0; lIndex < mFrames.size();)
    {
        const Frame &lFrame = mFrames[lIndex];
        const uint64_t lTolerance = mConfig.mReorderToleranceUs;
        uint32_t lResult = TN_OK;
        if ((lFrame.mMarker && aNowUs - lFrame.mMarkerUs >= lTolerance) ||
            (lFrame.mEndBound != 0 && aNowUs - lFrame.mEndUs >= lTolerance) ||
            (lIndex + 1 < mFrames.size() && aNowUs - mFrames[lIndex + 1].mFirstUs >= lTolerance))
        {
            lResult = TN_MISSING_PACKETS; // its end came, or a newer frame did, and packets are missing
        }
        else if (aNowUs - lFrame.mLastUs >= mConfig.mFrameTimeoutUs)
        {
            lResult = TN_TIMEOUT;
        }
        if (lResult == TN_OK)
        {
            ++lIndex;
            continue;
        }
        Finish(lIndex, lResult, aNowUs);
    }
}

uint64_t TnRtpAssembler::GetNextDeadline() const
{
    uint64_t lDeadline = UINT64_MAX;
    for (size_t lIndex = 0; lIndex < mFrames.size(); ++lIndex)
    {
        const Frame &lFrame = mFrames[lIndex];
        lDeadline = std::min(lDeadline, lFrame.mLastUs + mConfig.mFrameTimeoutUs);
        if (lFrame.mMarker)
        {
            lDeadline = std::min(lDeadline, lFrame.mMarkerUs + mConfig.mReorderToleranceUs);
        }
        if (lFrame.mEndBound != 0)
        {
            lDeadline = std::min(lDeadline, lFrame.mEndUs + mConfig.mReorderToleranceUs);
        }
        if (lIndex + 1 < mFrames.size())
        {
            lDeadline = std::min(lDeadline, mFrames[lIndex + 1].mFirstUs + mConfig.mReorderToleranceUs);
        }
    }
    return lDeadline;
}

void TnRtpAssembler::FinishAll(uint32_t aResult, uint64_t aNowUs)
{
    while (!mFrames.empty())
    {
        Finish(0, aResult, aNowUs);
    }
    if (mHaveSpare)
    {
        mHaveSpare = false;
        if (mProvider != nullptr)
        {
            mProvider->ReturnFrame(mSpare);
        }
    }
    mCanPredict = false;
}

size_t TnRtpAssembler::Predict(TnRtpPrediction *aOut, size_t aMax)
{
    if (mConfig.mPayload != TnRtpPayload::RawVideo || !mCanPredict || mDatagramSize <= mRtpHeaderSize ||
        mProvider == nullptr)
    {
        return 0;
    }
    const Frame *lCurrent = mFrames.empty() ? nullptr : &mFrames.back();
    bool lNewFrame = mNextInNewFrame || lCurrent == nullptr;
    const TnGvspBlockTarget *lTarget = nullptr;
    if (!lNewFrame)
    {
        if (!lCurrent->mHasTarget || lCurrent->mTooSmall || lCurrent->mHighest + 1 != mNextSequence)
        {
            return 0;
        }
        lTarget = &lCurrent->mTarget;
    }
    const TnRawSampling &lSampling = mConfig.mSampling;
    const uint64_t lStride = LineStride();
    const size_t lRoom = mDatagramSize - mRtpHeaderSize;
    uint32_t lLine = lNewFrame ? 0 : mNextLine;
    uint32_t lOffset = lNewFrame ? 0 : mNextOffset;
    uint64_t lSequence = mNextSequence;
    size_t lCount = 0;
    while (lCount < aMax)
    {
        if (lLine >= mConfig.mHeight)
        {
            if (lNewFrame)
            {
                break;
            }
            lNewFrame = true; // the image is done: the next frame follows
            lLine = 0;
            lOffset = 0;
        }
        if (lNewFrame && lTarget == nullptr)
        {
            if (!mHaveSpare)
            {
                mHaveSpare = mProvider->AcquireFrame(mSpare);
            }
            if (!mHaveSpare || mSpare.mData == nullptr || mSpare.mSize < lStride * mConfig.mHeight)
            {
                break;
            }
            lTarget = &mSpare;
        }
        else if (lNewFrame && lTarget != &mSpare)
        {
            lTarget = nullptr;
            continue;
        }
        TnRtpPrediction &lPrediction = aOut[lCount];
        lPrediction = TnRtpPrediction();
        lPrediction.mCount = static_cast<uint32_t>(FillRawPacket(lRoom, mConfig.mWidth, mConfig.mHeight, lSampling,
                                                                 lLine, lOffset, lPrediction.mSegments,
                                                                 kRtpRawMaxSegments));
        if (lPrediction.mCount == 0)
        {
            break;
        }
        if (!lNewFrame && PlacesTaken(*lCurrent, lPrediction))
        {
            // Pixels of the current frame that came already: whatever
            // datagram the kernel wrote there, were it not this packet,
            // would overwrite them for good. The rest of the batch goes to
            // scratch.
            break;
        }
        lPrediction.mSequence = static_cast<uint16_t>(lSequence);
        lPrediction.mNextFrame = lTarget == &mSpare;
        lPrediction.mFrameData = lTarget->mData;
        lPrediction.mRtpHeaderSize = mRtpHeaderSize;
        lPrediction.mHeaderSize = static_cast<uint32_t>(mRtpHeaderSize + kRtpRawExtendedSequenceSize +
                                                        kRtpRawLineHeaderSize * lPrediction.mCount);
        for (uint32_t lIndex = 0; lIndex < lPrediction.mCount; ++lIndex)
        {
            const TnRawSegment &lSegment = lPrediction.mSegments[lIndex];
            lPrediction.mData[lIndex] = lTarget->mData + lSegment.mLine * lStride +
                                        uint64_t(lSegment.mOffset / lSampling.mGroupPixels) * lSampling.mGroupBytes;
            lPrediction.mTotal += lSegment.mLength;
        }
        const TnRawSegment &lLast = lPrediction.mSegments[lPrediction.mCount - 1];
        lLine = lLast.mLine;
        lOffset = lLast.mOffset + lLast.mLength / lSampling.mGroupBytes * lSampling.mGroupPixels;
        if (lOffset >= mConfig.mWidth)
        {
            lOffset = 0;
            ++lLine;
        }
        ++lSequence;
        ++lCount;
    }
    return lCount;
}

bool TnRtpAssembler::PlacesTaken(const Frame &aFrame, const TnRtpPrediction &aPrediction) const
{
    const TnRawSampling &lSampling = mConfig.mSampling;
    const uint64_t lGroupsPerLine = mConfig.mWidth / lSampling.mGroupPixels;
    for (uint32_t lIndex = 0; lIndex < aPrediction.mCount; ++lIndex)
    {
        const TnRawSegment &lSegment = aPrediction.mSegments[lIndex];
        if (AnySet(aFrame.mCovered, uint64_t(lSegment.mLine) * lGroupsPerLine + lSegment.mOffset / lSampling.mGroupPixels,
                   lSegment.mLength / lSampling.mGroupBytes))
        {
            return true;
        }
    }
    return false;
}

bool TnRtpAssembler::Matches(const TnRtpPrediction &aPrediction, const uint8_t *aHeader, size_t aSize) const
{
    if (aPrediction.mCount == 0 || aSize != size_t(aPrediction.mHeaderSize) + aPrediction.mTotal ||
        (aHeader[0] & 0xE0) != 0x80)
    {
        return false;
    }
    size_t lRtpHeaderSize = kRtpHeaderSize + 4u * (aHeader[0] & 0x0F);
    if ((aHeader[0] & 0x10) != 0)
    {
        if (lRtpHeaderSize + 4 > aPrediction.mHeaderSize)
        {
            return false;
        }
        lRtpHeaderSize += 4 + 4u * GetU16(aHeader + lRtpHeaderSize + 2);
    }
    if (lRtpHeaderSize != aPrediction.mRtpHeaderSize || GetU16(aHeader + 2) != aPrediction.mSequence ||
        GetU32(aHeader + 8) != mSsrc)
    {
        return false;
    }
    const uint8_t *lLine = aHeader + lRtpHeaderSize + kRtpRawExtendedSequenceSize;
    for (uint32_t lIndex = 0; lIndex < aPrediction.mCount; ++lIndex, lLine += kRtpRawLineHeaderSize)
    {
        const TnRawSegment &lSegment = aPrediction.mSegments[lIndex];
        const uint16_t lOffset =
            static_cast<uint16_t>(lSegment.mOffset | (lIndex + 1 < aPrediction.mCount ? 0x8000 : 0));
        if (GetU16(lLine) != lSegment.mLength || GetU16(lLine + 2) != lSegment.mLine || GetU16(lLine + 4) != lOffset)
        {
            return false;
        }
    }
    return true;
}

void TnRtpAssembler::OnPredicted(const TnRtpPrediction &aPrediction, const uint8_t *aHeader, size_t aSize,
                                 uint64_t aNowUs)
{
    TnRtpHeader lHeader;
    if (!DecodeRtpHeader(aHeader, aPrediction.mHeaderSize, lHeader))
    {
        ++mStatistics.mPackets;
        ++mStatistics.mMalformedPackets;
        return;
    }
    lHeader.mPayloadSize = aSize - lHeader.mHeaderSize;
    Process(lHeader, aHeader + lHeader.mHeaderSize, &aPrediction, aNowUs);
}
} // namespace gev
} // namespace tn
