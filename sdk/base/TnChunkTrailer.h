// The walk over a GigE Vision chunk layout, shared by the buffer's chunk
// list and the GenICam engine's chunk ports.
//
// Each chunk's data is followed by its 8-byte tag: the chunk ID, then the
// data's length, both 32-bit (big-endian unless the device says otherwise).
// The layout is therefore read from its end towards its start.
#ifndef TN_CHUNK_TRAILER_H
#define TN_CHUNK_TRAILER_H

#include <stdint.h>

#include "TnByteOrder.h"

namespace tn
{

const uint32_t kChunkTagSize = 8;

/// How a walk over a chunk layout ended.
struct ChunkWalkEnd
{
    enum Reason
    {
        Complete, ///< every byte down to the start belongs to a chunk
        Stopped,  ///< the visitor asked to stop
        NoTag,    ///< mPosition bytes are left, too few for a tag
        Overlong  ///< the chunk mId claims mLength bytes, more than precede its tag
    };
    Reason mReason;
    /// Bytes from the start of the walk to where it ended.
    uint32_t mPosition;
    uint32_t mId;
    uint32_t mLength;
};

/// Walks the chunks of aLength bytes at aData from the last to the first,
/// down to aStart bytes from aData (a leading region that is no chunk, such
/// as a tag of the main payload). For each chunk it calls
/// aVisit(id, data offset from aData, data length), which returns false to
/// stop the walk there.
template <typename Visit>
ChunkWalkEnd WalkChunkTrailers(const uint8_t *aData, uint32_t aLength, uint32_t aStart, bool aLittleEndian,
                               Visit aVisit)
{
    uint32_t lPosition = aLength;
    while (lPosition > aStart)
    {
        if (lPosition - aStart < kChunkTagSize)
        {
            return ChunkWalkEnd{ChunkWalkEnd::NoTag, lPosition - aStart, 0, 0};
        }
        const uint8_t *lTag = aData + lPosition - kChunkTagSize;
        const uint32_t lId = aLittleEndian ? GetLittleU32(lTag) : GetU32(lTag);
        const uint32_t lLength = aLittleEndian ? GetLittleU32(lTag + 4) : GetU32(lTag + 4);
        const uint32_t lDataEnd = lPosition - kChunkTagSize;
        if (lLength > lDataEnd - aStart)
        {
            return ChunkWalkEnd{ChunkWalkEnd::Overlong, lPosition, lId, lLength};
        }
        const uint32_t lDataStart = lDataEnd - lLength;
        if (!aVisit(lId, lDataStart, lLength))
        {
            return ChunkWalkEnd{ChunkWalkEnd::Stopped, lDataStart, lId, lLength};
        }
        lPosition = lDataStart;
    }
    return ChunkWalkEnd{ChunkWalkEnd::Complete, lPosition, 0, 0};
}

} // namespace tn

#endif
