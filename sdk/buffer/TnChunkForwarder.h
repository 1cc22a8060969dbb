// The chunk interface over a chunk area, written once for the payloads that
// hand one out: the chunk-data payload of a buffer and the chunk-data part of
// a multipart container.
#ifndef TN_CHUNK_FORWARDER_H
#define TN_CHUNK_FORWARDER_H

#include <stdint.h>

#include <utility>

#include "ITnChunkData.h"
#include "TnChunkArea.h"

namespace tn
{
namespace buffer
{
/// Implements Interface's chunk operations (an ITnChunkData) on the chunk
/// area that Derived names with `ChunkArea &GetChunkArea() const`. Derived
/// implements ResetChunks, which differs between payloads.
template <typename Derived, typename Interface> class ChunkForwarder : public Interface
{
public:
    template <typename... Arguments>
    explicit ChunkForwarder(Arguments &&...aArguments) : Interface(std::forward<Arguments>(aArguments)...)
    {
    }

    TnResult AddChunk(uint32_t aID, const uint8_t *aData, uint32_t aLength) override
    {
        return Area().Add(aID, aData, aLength);
    }

    void SetChunkLayoutID(uint32_t aChunkLayoutID) override { Area().SetLayoutID(aChunkLayoutID); }

    bool HasChunks() const override { return Area().HasChunks(); }

    uint32_t GetChunkCount() override { return Area().GetCount(); }

    TnResult GetChunkIDByIndex(uint32_t aIndex, uint32_t &aID) override { return Area().GetIDByIndex(aIndex, aID); }

    uint32_t GetChunkSizeByIndex(uint32_t aIndex) override { return Area().GetSizeByIndex(aIndex); }

    uint32_t GetChunkSizeByID(uint32_t aID) override { return Area().GetSizeByID(aID); }

    uint8_t *GetChunkRawDataByIndex(uint32_t aIndex) override { return Area().GetDataByIndex(aIndex); }

    uint8_t *GetChunkRawDataByID(uint32_t aID) override { return Area().GetDataByID(aID); }

    uint32_t GetChunkLayoutID() override { return Area().GetLayoutID(); }

    uint32_t GetChunkDataSize() const override { return Area().GetDataSize(); }

    uint32_t GetChunkDataCapacity() const override { return Area().GetCapacity(); }

private:
    ChunkArea &Area() const { return static_cast<const Derived *>(this)->GetChunkArea(); }
};
} // namespace buffer
} // namespace tn

#endif
