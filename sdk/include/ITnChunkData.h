// The chunk interface: tagged blocks of extra data in a payload.
//
// Chunks are laid out as GigE Vision chunk data: each chunk's bytes are
// followed by an 8-byte tag, the chunk ID and the chunk's length in bytes, both
// 32-bit big-endian. The layout is read from the end of the payload towards its
// beginning, so index 0 is the chunk nearest the end. A payload that also
// carries a main part (an image, raw data) has that part as its first chunk,
// whose tag takes 8 more bytes; that main chunk is not listed among the chunks.
#ifndef ITN_CHUNK_DATA_H
#define ITN_CHUNK_DATA_H

#include <stdint.h>

#include "TnExport.h"
#include "TnResult.h"

/// Chunks of a payload: a buffer (TnBuffer), the chunk-data payload of a
/// buffer (TnChunkData) or the chunk-data part of a multipart container.
///
/// The object belongs to the buffer or container that hands it out; it cannot
/// be deleted through this interface.
class TN_BUFFER_API ITnChunkData
{
public:
    /// Drops the chunks added before, and the chunks of a received block, so
    /// that new chunks can be added.
    virtual void ResetChunks() = 0;

    /// Appends a chunk: aLength bytes at aData, tagged with aID. The bytes are
    /// copied during the call.
    ///
    /// Returns TN_BUFFER_TOO_SMALL when the remaining capacity cannot take the
    /// chunk and its 8-byte tag, TN_INVALID_PARAMETER for a null aData with a
    /// non-zero aLength, for a payload that carries no chunks and for chunks of
    /// a received block (ResetChunks first).
    virtual TnResult AddChunk(uint32_t aID, const uint8_t *aData, uint32_t aLength) = 0;

    /// Sets the layout identifier of the chunk section.
    virtual void SetChunkLayoutID(uint32_t aChunkLayoutID) = 0;

    /// Whether the payload carries chunks; answers without reading them.
    virtual bool HasChunks() const = 0;

    /// The number of chunks; 0 when there are none.
    virtual uint32_t GetChunkCount() = 0;

    /// The ID of the chunk at aIndex (0 is the chunk nearest the end).
    ///
    /// Returns TN_NOT_FOUND, with aID set to 0, for an index out of range.
    virtual TnResult GetChunkIDByIndex(uint32_t aIndex, uint32_t &aID) = 0;

    /// The length in bytes of the chunk at aIndex; 0 for an index out of range.
    virtual uint32_t GetChunkSizeByIndex(uint32_t aIndex) = 0;

    /// The length in bytes of the first chunk with aID; 0 when none has it.
    virtual uint32_t GetChunkSizeByID(uint32_t aID) = 0;

    /// The bytes of the chunk at aIndex; null for an index out of range.
    virtual uint8_t *GetChunkRawDataByIndex(uint32_t aIndex) = 0;

    /// The bytes of the first chunk with aID; null when none has it.
    virtual uint8_t *GetChunkRawDataByID(uint32_t aID) = 0;

    /// The layout identifier of the chunk section.
    virtual uint32_t GetChunkLayoutID() = 0;

    /// Bytes taken by the chunks, their tags included.
    virtual uint32_t GetChunkDataSize() const = 0;

    /// Bytes still free for chunks, their tags included.
    virtual uint32_t GetChunkDataCapacity() const = 0;

#ifndef SWIG
protected:
    virtual ~ITnChunkData();
#endif
};

#endif
