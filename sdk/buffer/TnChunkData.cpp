#include "TnChunkData.h"

#include <new>

#include "TnBufferCore.h"
#include "TnChunkForwarder.h"

using tn::buffer::BufferCore;

namespace tn
{
namespace buffer
{
namespace
{
// A buffer's chunk-data payload, whose chunks are the buffer's.
class BufferChunkData final : public ChunkForwarder<BufferChunkData, TnChunkData>
{
public:
    explicit BufferChunkData(BufferCore &aCore) : ChunkForwarder(aCore) {}

    ChunkArea &GetChunkArea() const { return mCore.GetChunks(); }

    void ResetChunks() override { mCore.GetChunks().Reset(); }
};
} // namespace

TnChunkData *NewChunkData(BufferCore &aCore)
{
    return new (std::nothrow) BufferChunkData(aCore);
}
} // namespace buffer
} // namespace tn

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
    TnResult lResult = mCore.Alloc(aMaximumChunkLength);
    if (lResult.IsOK())
    {
        // The whole memory is for chunks.
        mCore.FreeChunk();
    }
    return lResult;
}

void TnChunkData::Free()
{
    mCore.Free();
}

TnResult TnChunkData::Attach(void *aAddress, uint32_t aLength)
{
    TnResult lResult = mCore.Attach(aAddress, aLength);
    if (lResult.IsOK())
    {
        mCore.FreeChunk();
    }
    return lResult;
}

uint8_t *TnChunkData::Detach()
{
    return mCore.Detach();
}
