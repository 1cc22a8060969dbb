#include "TnBuffer.h"

#include "TnBufferCore.h"
#include "TnMultiPartContainer.h"

using tn::buffer::BufferCore;
using tn::buffer::GenDCManager;
using tn::buffer::PayloadCode;

ITnChunkData::~ITnChunkData() = default;

ITnH264AccessUnit::~ITnH264AccessUnit() = default;

ITnGenericDataContainer::~ITnGenericDataContainer() = default;
ITnGenericDataComponent::~ITnGenericDataComponent() = default;
ITnGenericDataPart::~ITnGenericDataPart() = default;
ITnGenDCImage::~ITnGenDCImage() = default;
ITnGenDCChunkData::~ITnGenDCChunkData() = default;

TnBuffer::TnBuffer(TnPayloadType aPayloadType) : mCore(new BufferCore(*this, static_cast<PayloadCode>(aPayloadType)))
{
}

TnBuffer::~TnBuffer()
{
    mCore->LetGo(); // a stream it is queued to lets go of it first
    delete mCore;
}

TnResult TnBuffer::Alloc(uint32_t aSize)
{
    return mCore->Alloc(aSize);
}

TnResult TnBuffer::AllocChunk(uint32_t aMaximumChunkLength)
{
    return mCore->AllocChunk(aMaximumChunkLength);
}

void TnBuffer::Free()
{
    mCore->Free();
}

void TnBuffer::FreeChunk()
{
    mCore->FreeChunk();
}

TnResult TnBuffer::Attach(void *aAddress, uint32_t aLength)
{
    return mCore->Attach(aAddress, aLength);
}

uint8_t *TnBuffer::Detach()
{
    return mCore->Detach();
}

TnResult TnBuffer::Reset(TnPayloadType aPayloadType)
{
    return mCore->Reset(static_cast<PayloadCode>(aPayloadType));
}

const uint8_t *TnBuffer::GetDataPointer() const
{
    return mCore->GetData();
}

uint8_t *TnBuffer::GetDataPointer()
{
    return mCore->GetData();
}

bool TnBuffer::IsAllocated() const
{
    return mCore->GetMemoryKind() == tn::buffer::MemoryKind::Allocated;
}

bool TnBuffer::IsAttached() const
{
    return mCore->GetMemoryKind() == tn::buffer::MemoryKind::Attached;
}

uint32_t TnBuffer::GetSize() const
{
    return mCore->GetSize();
}

uint32_t TnBuffer::GetRequiredSize() const
{
    return mCore->mRequiredSize;
}

uint32_t TnBuffer::GetAcquiredSize() const
{
    return mCore->mAcquiredSize;
}

uint32_t TnBuffer::GetPayloadSize() const
{
    return mCore->GetPayloadSize();
}

TnPayloadType TnBuffer::GetPayloadType() const
{
    return static_cast<TnPayloadType>(mCore->GetPayloadCode());
}

uint64_t TnBuffer::GetID() const
{
    return mCore->mID;
}

void TnBuffer::SetID(uint64_t aID)
{
    mCore->mID = aID;
}

bool TnBuffer::IsExtendedID() const
{
    return mCore->mExtendedID;
}

uint64_t TnBuffer::GetBlockID() const
{
    return mCore->mBlockID;
}

uint64_t TnBuffer::GetTimestamp() const
{
    return mCore->mTimestamp;
}

uint64_t TnBuffer::GetReceptionTime() const
{
    return mCore->mReceptionTime;
}

uint64_t TnBuffer::GetDuration() const
{
    return mCore->mDuration;
}

TnResult TnBuffer::SetBlockID(uint64_t aBlockID)
{
    mCore->mBlockID = aBlockID;
    return TnResult(TN_OK);
}

TnResult TnBuffer::SetTimestamp(uint64_t aTimestamp)
{
    mCore->mTimestamp = aTimestamp;
    return TnResult(TN_OK);
}

TnResult TnBuffer::SetReceptionTime(uint64_t aReceptionTime)
{
    mCore->mReceptionTime = aReceptionTime;
    return TnResult(TN_OK);
}

TnResult TnBuffer::SetDuration(uint64_t aDuration)
{
    mCore->mDuration = aDuration;
    return TnResult(TN_OK);
}

TnResult TnBuffer::GetOperationResult() const
{
    return mCore->mOperationResult;
}

bool TnBuffer::IsHeaderValid() const
{
    return mCore->mHeaderValid;
}

bool TnBuffer::IsTrailerValid() const
{
    return mCore->mTrailerValid;
}

bool TnBuffer::IsLargeLeaderTrailerEnabled() const
{
    return mCore->mLargeLeaderTrailer;
}

uint32_t TnBuffer::GetPacketsRecoveredCount() const
{
    return mCore->mStatistics.mPacketsRecovered;
}

uint32_t TnBuffer::GetPacketsRecoveredSingleResendCount() const
{
    return mCore->mStatistics.mPacketsRecoveredSingleResend;
}

uint32_t TnBuffer::GetResendGroupRequestedCount() const
{
    return mCore->mStatistics.mResendGroupsRequested;
}

uint32_t TnBuffer::GetResendPacketRequestedCount() const
{
    return mCore->mStatistics.mResendPacketsRequested;
}

uint32_t TnBuffer::GetLostPacketCount() const
{
    return mCore->mStatistics.mLostPackets;
}

uint32_t TnBuffer::GetIgnoredPacketCount() const
{
    return mCore->mStatistics.mIgnoredPackets;
}

uint32_t TnBuffer::GetRedundantPacketCount() const
{
    return mCore->mStatistics.mRedundantPackets;
}

uint32_t TnBuffer::GetPacketOutOfOrderCount() const
{
    return mCore->mStatistics.mPacketsOutOfOrder;
}

TnResult TnBuffer::GetMissingPacketIdsCount(uint32_t &aCount)
{
    aCount = uint32_t(mCore->mMissingPacketGroups.size());
    return TnResult(TN_OK);
}

TnResult TnBuffer::GetMissingPacketIds(uint32_t aIndex, uint32_t &aFirstPacketID, uint32_t &aLastPacketID)
{
    if (aIndex >= mCore->mMissingPacketGroups.size())
    {
        aFirstPacketID = 0;
        aLastPacketID = 0;
        return TnResult(TN_NOT_FOUND);
    }
    aFirstPacketID = mCore->mMissingPacketGroups[aIndex].first;
    aLastPacketID = mCore->mMissingPacketGroups[aIndex].second;
    return TnResult(TN_OK);
}

void TnBuffer::ResetChunks()
{
    mCore->GetChunks().Reset();
}

TnResult TnBuffer::AddChunk(uint32_t aID, const uint8_t *aData, uint32_t aLength)
{
    return mCore->GetChunks().Add(aID, aData, aLength);
}

void TnBuffer::SetChunkLayoutID(uint32_t aChunkLayoutID)
{
    mCore->GetChunks().SetLayoutID(aChunkLayoutID);
}

uint32_t TnBuffer::GetChunkLayoutID()
{
    return mCore->GetChunks().GetLayoutID();
}

bool TnBuffer::HasChunks() const
{
    return mCore->GetChunks().HasChunks();
}

uint32_t TnBuffer::GetChunkCount()
{
    return mCore->GetChunks().GetCount();
}

TnResult TnBuffer::GetChunkIDByIndex(uint32_t aIndex, uint32_t &aID)
{
    return mCore->GetChunks().GetIDByIndex(aIndex, aID);
}

uint32_t TnBuffer::GetChunkSizeByIndex(uint32_t aIndex)
{
    return mCore->GetChunks().GetSizeByIndex(aIndex);
}

uint32_t TnBuffer::GetChunkSizeByID(uint32_t aID)
{
    return mCore->GetChunks().GetSizeByID(aID);
}

uint8_t *TnBuffer::GetChunkRawDataByIndex(uint32_t aIndex)
{
    return mCore->GetChunks().GetDataByIndex(aIndex);
}

uint8_t *TnBuffer::GetChunkRawDataByID(uint32_t aID)
{
    return mCore->GetChunks().GetDataByID(aID);
}

uint32_t TnBuffer::GetChunkDataSize() const
{
    return mCore->GetChunks().GetDataSize();
}

uint32_t TnBuffer::GetChunkDataCapacity() const
{
    return mCore->GetChunks().GetCapacity();
}

TnImage *TnBuffer::GetImage()
{
    return mCore->GetPayloadCode() == TnPayloadTypeImage ? mCore->GetImage() : nullptr;
}

const TnImage *TnBuffer::GetImage() const
{
    return const_cast<TnBuffer *>(this)->GetImage();
}

TnRawData *TnBuffer::GetRawData()
{
    return mCore->GetPayloadCode() == TnPayloadTypeRawData ? mCore->GetRawData() : nullptr;
}

const TnRawData *TnBuffer::GetRawData() const
{
    return const_cast<TnBuffer *>(this)->GetRawData();
}

TnChunkData *TnBuffer::GetChunkData()
{
    return mCore->GetPayloadCode() == TnPayloadTypeChunkData ? mCore->GetChunkData() : nullptr;
}

const TnChunkData *TnBuffer::GetChunkData() const
{
    return const_cast<TnBuffer *>(this)->GetChunkData();
}

ITnMultiPartContainer *TnBuffer::GetMultiPartContainer()
{
    return mCore->GetPayloadCode() == TnPayloadTypeMultiPart ? mCore->GetContainer() : nullptr;
}

const ITnMultiPartContainer *TnBuffer::GetMultiPartContainer() const
{
    return const_cast<TnBuffer *>(this)->GetMultiPartContainer();
}

ITnGenericDataContainer *TnBuffer::GetGenDC()
{
    return mCore->GetGenDC();
}

const ITnGenericDataContainer *TnBuffer::GetGenDC() const
{
    return const_cast<TnBuffer *>(this)->GetGenDC();
}

ITnH264AccessUnit *TnBuffer::GetH264AccessUnit()
{
    return mCore->GetPayloadCode() == TnPayloadTypeH264 ? mCore->GetH264AccessUnit() : nullptr;
}

const ITnH264AccessUnit *TnBuffer::GetH264AccessUnit() const
{
    return const_cast<TnBuffer *>(this)->GetH264AccessUnit();
}

TnVexmoorCompressed *TnBuffer::GetVexmoorCompressed()
{
    return mCore->GetPayloadCode() == TnPayloadTypeVexmoorCompressed ? mCore->GetCompressed() : nullptr;
}

const TnVexmoorCompressed *TnBuffer::GetVexmoorCompressed() const
{
    return const_cast<TnBuffer *>(this)->GetVexmoorCompressed();
}

TnResult TnBuffer::AttachGenDCManager(ITnGenDCManager &aManager)
{
    if (mCore->GetPayloadCode() != TnPayloadTypeGenDC)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the buffer is not of the GenDC payload type"));
    }
    GenDCManager *lManager = dynamic_cast<GenDCManager *>(&aManager);
    if (lManager == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("not a GenDC manager of the SDK"));
    }
    return mCore->AttachGenDCManager(*lManager);
}

TnVexmoorCompressed::TnVexmoorCompressed(BufferCore &aCore) : mCore(aCore)
{
}

TnVexmoorCompressed::~TnVexmoorCompressed() = default;

const uint8_t *TnVexmoorCompressed::GetData() const
{
    return mCore.GetData();
}

uint32_t TnVexmoorCompressed::GetDataSize() const
{
    if (mCore.GetData() == nullptr)
    {
        return 0;
    }
    return mCore.IsReceived() ? mCore.mAcquiredSize : mCore.GetSize();
}
