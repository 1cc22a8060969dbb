// The chunk section of a payload: chunks written for transmission, or read
// from a received block.
#ifndef TN_CHUNK_AREA_H
#define TN_CHUNK_AREA_H

#include <stdint.h>

#include <vector>

#include "TnResult.h"

namespace tn
{
namespace buffer
{
/// How a region of chunks ends at its beginning.
enum class ChunkWalk
{
    Plain,    ///< chunks reach the region's first byte
    MainData, ///< the first chunk is the main payload, whose data starts the region
    MainTag   ///< the region starts with the main payload's tag, its data lying elsewhere
};

/// One chunk found in a region.
struct ChunkEntry
{
    uint32_t mID;
    uint32_t mLength;
    uint8_t *mData;
};

/// The chunks of one payload.
///
/// Written chunks go into the area the owner binds: aCapacity bytes, the
/// first 8 of them taking the main payload's tag when the payload has a main
/// part. A received block's chunks are read from the region the receiver
/// names. Either way the chunks are found by walking the tags from the end,
/// and the walk never leaves the region.
class ChunkArea
{
public:
    /// Most chunks a walk lists; a region with more counts as malformed there.
    static constexpr uint32_t kMaximumChunks = 65536;

    /// Binds the area chunks are written into and drops every chunk. A null
    /// aArea, or aEnabled false, leaves no room; aEnabled false also makes
    /// AddChunk refuse the payload as one without chunks.
    void Bind(uint8_t *aArea, uint32_t aCapacity, bool aHasMain, uint32_t aMainLength, bool aEnabled = true);

    /// Drops every chunk; chunks can be written again.
    void Reset();

    /// Reads the chunks of aLength bytes at aBegin, ending as aWalk says; with
    /// aPresent false the block carries none. Written chunks are dropped.
    void SetReceived(uint8_t *aBegin, uint32_t aLength, ChunkWalk aWalk, bool aPresent, bool aLittleEndian);

    TnResult Add(uint32_t aID, const uint8_t *aData, uint32_t aLength);

    bool HasChunks() const;
    uint32_t GetCount() const;
    const ChunkEntry *GetByIndex(uint32_t aIndex) const;
    const ChunkEntry *GetByID(uint32_t aID) const;

    // The chunk interface's lookups: TN_NOT_FOUND with ID 0, size 0 and a null
    // address for an index out of range or an ID that names no chunk.
    TnResult GetIDByIndex(uint32_t aIndex, uint32_t &aID) const;
    uint32_t GetSizeByIndex(uint32_t aIndex) const;
    uint32_t GetSizeByID(uint32_t aID) const;
    uint8_t *GetDataByIndex(uint32_t aIndex) const;
    uint8_t *GetDataByID(uint32_t aID) const;

    /// Bytes of the chunks, tags included (the main payload's tag not counted).
    uint32_t GetDataSize() const;

    /// Bytes still free for written chunks, tags included.
    uint32_t GetCapacity() const;

    /// Bytes of the written chunk section: the main payload's tag and the
    /// chunks; 0 while no chunk was written.
    uint32_t GetWrittenSectionSize() const;

    /// The area chunks are written into.
    const uint8_t *GetArea() const { return mArea; }

    bool IsReceived() const { return mReceived; }

    /// Whether a received block's chunks, walked from its end, reach the
    /// region's start (the main payload's chunk, when it has one): false
    /// when a tag names more bytes than precede it, or bytes are left that
    /// hold no tag. True for a block without chunks.
    bool IsReceivedLayoutWhole() const;

    void SetLayoutID(uint32_t aLayoutID) { mLayoutID = aLayoutID; }
    uint32_t GetLayoutID() const { return mLayoutID; }

private:
    void Parse() const;

    uint8_t *mArea = nullptr;
    uint32_t mCapacity = 0;
    bool mHasMain = false;
    uint32_t mMainLength = 0;
    bool mEnabled = false;
    uint32_t mUsed = 0; // bytes of written chunks after the main tag
    uint32_t mLayoutID = 0;

    bool mReceived = false;
    bool mReceivedPresent = false;
    uint8_t *mRegion = nullptr;
    uint32_t mRegionLength = 0;
    ChunkWalk mWalk = ChunkWalk::Plain;
    bool mLittleEndian = false;

    mutable bool mParsed = false;
    mutable std::vector<ChunkEntry> mEntries;
};
} // namespace buffer
} // namespace tn

#endif
