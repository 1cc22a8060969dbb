#include "TnBufferInternal.h"

#include <pthread.h>
#include <string.h>

#include <mutex>
#include <new>

#include "TnBufferCore.h"
#include "TnMultiPartContainer.h"

namespace tn
{
namespace buffer
{
namespace
{
// The holders' lock: one for all buffers, never destroyed (buffers may go
// at exit).
std::mutex &HolderMutex()
{
    static std::mutex *sMutex = new std::mutex();
    return *sMutex;
}

// A forked child has the forking thread alone: where another thread held
// the lock as the process forked (a stream's or pipeline's thread queuing a
// buffer), it would stay held for good there.
void RenewHolderMutex()
{
    new (&HolderMutex()) std::mutex();
}

const int sRenewed = pthread_atfork(nullptr, nullptr, RenewHolderMutex);
} // namespace

BufferHolder::~BufferHolder() = default;

bool PrepareForWriting(TnBuffer &aBuffer, uint64_t aLength)
{
    return BufferCore::Of(aBuffer).PrepareForWriting(aLength);
}

bool IsPreparedForWriting(const TnBuffer &aBuffer)
{
    return BufferCore::Of(aBuffer).IsPreparedForWriting();
}

bool BufferHolder::Yield(TnBuffer &)
{
    return false;
}

void EndHolding(TnBuffer &aBuffer, BufferHolder *aHolder, uint64_t aHolding)
{
    std::lock_guard<std::mutex> lLock(HolderMutex());
    BufferCore &lCore = BufferCore::Of(aBuffer);
    if (lCore.mHolder == aHolder && lCore.mHolding == aHolding)
    {
        lCore.mHolder = nullptr;
    }
}

bool SetHolder(TnBuffer &aBuffer, BufferHolder *aHolder, BufferHolder *aExpected, uint64_t *aHolding)
{
    std::lock_guard<std::mutex> lLock(HolderMutex());
    BufferCore &lCore = BufferCore::Of(aBuffer);
    if (lCore.mHolder != aExpected &&
        (aExpected != nullptr || aHolder == nullptr || lCore.mHolder == nullptr || !lCore.mHolder->Yield(aBuffer)))
    {
        return false;
    }
    lCore.mHolder = aHolder;
    if (aHolder != nullptr)
    {
        ++lCore.mHolding;
    }
    if (aHolding != nullptr)
    {
        *aHolding = lCore.mHolding;
    }
    return true;
}

void ForgetHolder(BufferHolder *aHolder, const std::function<void(std::vector<TnBuffer *> &)> &aList)
{
    std::lock_guard<std::mutex> lLock(HolderMutex());
    std::vector<TnBuffer *> lBuffers;
    aList(lBuffers);
    for (TnBuffer *lBuffer : lBuffers)
    {
        BufferCore &lCore = BufferCore::Of(*lBuffer);
        if (lCore.mHolder == aHolder)
        {
            lCore.mHolder = nullptr;
        }
    }
}

void BufferCore::LetGo()
{
    std::lock_guard<std::mutex> lLock(HolderMutex());
    if (mHolder != nullptr)
    {
        mHolder->Release(mOwner);
        mHolder = nullptr;
    }
}

TnResult BeginBlock(TnBuffer &aBuffer, TnPayloadType aPayloadType)
{
    return BufferCore::Of(aBuffer).BeginBlock(static_cast<PayloadCode>(aPayloadType));
}

void SetBlockFlags(TnBuffer &aBuffer, bool aExtendedID, bool aLargeLeaderTrailer)
{
    BufferCore &lCore = BufferCore::Of(aBuffer);
    lCore.mExtendedID = aExtendedID;
    lCore.mLargeLeaderTrailer = aLargeLeaderTrailer;
}

TnResult SetImageGeometry(TnBuffer &aBuffer, const ImageGeometry &aGeometry)
{
    BufferCore &lCore = BufferCore::Of(aBuffer);
    uint32_t lSize = 0;
    if (!ComputeImageSize(aGeometry, lSize))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no image of this geometry fits a buffer"));
    }
    if (lSize > lCore.GetSize())
    {
        return TnResult(TN_BUFFER_TOO_SMALL, TnString("the image does not fit the buffer's memory"));
    }
    lCore.SetGeometry(aGeometry);
    return TnResult(TN_OK);
}

TnResult SetRawDataPayloadLength(TnBuffer &aBuffer, uint64_t aLength)
{
    BufferCore &lCore = BufferCore::Of(aBuffer);
    if (aLength > lCore.GetSize())
    {
        return TnResult(TN_BUFFER_TOO_SMALL, TnString("the payload does not fit the buffer's memory"));
    }
    lCore.SetRawPayloadLength(aLength);
    return TnResult(TN_OK);
}

void SetChunkDataPayloadLength(TnBuffer &aBuffer, uint64_t aLength)
{
    BufferCore::Of(aBuffer).SetChunkPayloadLength(aLength);
}

TnResult SetMultiPartLayout(TnBuffer &aBuffer, const ReceivedPart *aParts, uint32_t aCount)
{
    MultiPartContainer *lContainer = BufferCore::Of(aBuffer).GetContainer();
    if (lContainer == nullptr)
    {
        return TnResult(TN_NOT_ENOUGH_MEMORY, TnString("no memory for the buffer's multipart container"));
    }
    return lContainer->SetReceivedLayout(aParts, aCount);
}

uint32_t GetBlockCapacity(const TnBuffer &aBuffer)
{
    return BufferCore::Of(aBuffer).GetBlockCapacity();
}

uint8_t *GetBlockPointer(TnBuffer &aBuffer, uint32_t aOffset, uint32_t aLength)
{
    BufferCore &lCore = BufferCore::Of(aBuffer);
    const uint64_t lEnd = uint64_t(aOffset) + aLength;
    const uint32_t lMainLimit = lCore.GetMainLimit();
    if (lEnd <= lMainLimit)
    {
        return lCore.GetData() != nullptr ? lCore.GetData() + aOffset : nullptr;
    }
    if (aOffset >= lMainLimit && lCore.GetChunkMemory() != nullptr && lEnd - lMainLimit <= lCore.GetChunkMemorySize() &&
        lEnd <= lCore.GetBlockCapacity())
    {
        return lCore.GetChunkMemory() + (aOffset - lMainLimit);
    }
    return nullptr;
}

TnResult WriteBlockData(TnBuffer &aBuffer, uint32_t aOffset, const void *aData, uint32_t aLength)
{
    if (aData == nullptr && aLength != 0)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    BufferCore &lCore = BufferCore::Of(aBuffer);
    if (uint64_t(aOffset) + aLength > lCore.GetBlockCapacity())
    {
        return TnResult(TN_BUFFER_TOO_SMALL);
    }
    const uint8_t *lSource = static_cast<const uint8_t *>(aData);
    const uint32_t lMainLimit = lCore.GetMainLimit();
    uint32_t lOffset = aOffset;
    uint32_t lLeft = aLength;
    if (lOffset < lMainLimit && lLeft != 0)
    {
        const uint32_t lCount = lLeft < lMainLimit - lOffset ? lLeft : lMainLimit - lOffset;
        memcpy(lCore.GetData() + lOffset, lSource, lCount);
        lSource += lCount;
        lOffset += lCount;
        lLeft -= lCount;
    }
    if (lLeft != 0)
    {
        memcpy(lCore.GetChunkMemory() + (lOffset - lMainLimit), lSource, lLeft);
    }
    return TnResult(TN_OK);
}

TnResult EndBlock(TnBuffer &aBuffer, const BlockEnd &aEnd)
{
    return BufferCore::Of(aBuffer).EndBlock(aEnd);
}

bool HasWholeChunkLayout(const TnBuffer &aBuffer)
{
    return BufferCore::Of(aBuffer).GetChunks().IsReceivedLayoutWhole();
}

void SetImageStatus(TnBuffer &aBuffer, const ImageStatus &aStatus)
{
    BufferCore::Of(aBuffer).mImageStatus = aStatus;
}

ImageStatus GetImageStatus(const TnBuffer &aBuffer)
{
    return BufferCore::Of(aBuffer).mImageStatus;
}

void SetPacketStatistics(TnBuffer &aBuffer, const PacketStatistics &aStatistics)
{
    BufferCore::Of(aBuffer).mStatistics = aStatistics;
}

TnResult AddMissingPacketGroup(TnBuffer &aBuffer, uint32_t aFirstPacketID, uint32_t aLastPacketID)
{
    if (aLastPacketID < aFirstPacketID)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    try
    {
        BufferCore::Of(aBuffer).mMissingPacketGroups.emplace_back(aFirstPacketID, aLastPacketID);
    }
    catch (const std::bad_alloc &)
    {
        return TnResult(TN_NOT_ENOUGH_MEMORY, TnString("no memory to record another group of missing packets"));
    }
    return TnResult(TN_OK);
}

PayloadSegments GetPayloadSegments(const TnBuffer &aBuffer)
{
    return BufferCore::Of(aBuffer).GetPayloadSegments();
}
} // namespace buffer
} // namespace tn
