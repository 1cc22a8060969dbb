#include "TnChunkData.h"

#include "TnBufferCore.h"

using tn::buffer::BufferCore;

TnChunkData::TnChunkData(BufferCore &aCore) : mCore(aCore) {}

TnChunkData::~TnChunkData() = default;

uint64_t TnChunkData::GetChunkDataPayloadLength() const
{
    return mCore.GetChunkPayloadLength();
}

TnResult TnChunkData::Alloc(uint32_t aMaximumChunkLength)
{
    if (aMaximumChunkLength == 0)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    TnResult result = mCore.Alloc(aMaximumChunkLength);
    if (result.IsOK())
    {
        // The whole memory is for chunks.
        mCore.FreeChunk();
    }
    return result;
}

void TnChunkData::Free()
{
    mCore.Free();
}

TnResult TnChunkData::Attach(void *aAddress, uint32_t aLength)
{
    TnResult result = mCore.Attach(aAddress, aLength);
    if (result.IsOK())
    {
        mCore.FreeChunk();
    }
    return result;
}

uint8_t *TnChunkData::Detach()
{
    return mCore.Detach();
}

void TnChunkData::ResetChunks()
{
    mCore.GetChunks().Reset();
}

TnResult TnChunkData::AddChunk(uint32_t aID, const uint8_t *aData, uint32_t aLength)
{
    return mCore.GetChunks().Add(aID, aData, aLength);
}

void TnChunkData::SetChunkLayoutID(uint32_t aChunkLayoutID)
{
    mCore.GetChunks().SetLayoutID(aChunkLayoutID);
}

bool TnChunkData::HasChunks() const
{
    return mCore.GetChunks().HasChunks();
}

uint32_t TnChunkData::GetChunkCount()
{
    return mCore.GetChunks().GetCount();
}

TnResult TnChunkData::GetChunkIDByIndex(uint32_t aIndex, uint32_t &aID)
{
    return mCore.GetChunks().GetIDByIndex(aIndex, aID);
}

uint32_t TnChunkData::GetChunkSizeByIndex(uint32_t aIndex)
{
    return mCore.GetChunks().GetSizeByIndex(aIndex);
}

uint32_t TnChunkData::GetChunkSizeByID(uint32_t aID)
{
    return mCore.GetChunks().GetSizeByID(aID);
}

uint8_t *TnChunkData::GetChunkRawDataByIndex(uint32_t aIndex)
{
    return mCore.GetChunks().GetDataByIndex(aIndex);
}

uint8_t *TnChunkData::GetChunkRawDataByID(uint32_t aID)
{
    return mCore.GetChunks().GetDataByID(aID);
}

uint32_t TnChunkData::GetChunkLayoutID()
{
    return mCore.GetChunks().GetLayoutID();
}

uint32_t TnChunkData::GetChunkDataSize() const
{
    return mCore.GetChunks().GetDataSize();
}

uint32_t TnChunkData::GetChunkDataCapacity() const
{
    return mCore.GetChunks().GetCapacity();
}
