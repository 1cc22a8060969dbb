// The chunk-data payload of a buffer: a payload made only of chunks.
#ifndef TN_CHUNK_DATA_H
#define TN_CHUNK_DATA_H

#include <stdint.h>

#include "ITnChunkData.h"
#include "TnExport.h"
#include "TnResult.h"

#ifndef SWIG
namespace tn
{
namespace buffer
{
class BufferCore;
}
} // namespace tn
#endif

/// The payload of a buffer of payload type TnPayloadTypeChunkData, handed out
/// by TnBuffer::GetChunkData. It belongs to the buffer and reaches the buffer's
/// memory and chunks.
class TN_BUFFER_API TnChunkData : public ITnChunkData
{
public:
    /// The payload length: what a received block's trailer stated, or for
    /// chunks added here the bytes they take, tags included.
    virtual uint64_t GetChunkDataPayloadLength() const;

    /// Gives the buffer aMaximumChunkLength bytes of memory of its own for
    /// chunks, 8 bytes of tag per chunk included.
    ///
    /// Returns TN_INVALID_PARAMETER for a length of 0 and TN_NOT_ENOUGH_MEMORY
    /// when the memory cannot be had.
    virtual TnResult Alloc(uint32_t aMaximumChunkLength);

    /// Releases the buffer's memory.
    virtual void Free();

    /// Makes aLength bytes at aAddress the buffer's memory for chunks. The
    /// caller keeps the memory alive and in place until it is detached.
    ///
    /// Returns TN_INVALID_PARAMETER for a null address or a length of 0.
    virtual TnResult Attach(void *aAddress, uint32_t aLength);

    /// Drops the attached memory and returns its address; null when no memory
    /// was attached. The payload length stays as it was.
    virtual uint8_t *Detach();

#ifndef SWIG
    TnChunkData(const TnChunkData &) = delete;
    TnChunkData &operator=(const TnChunkData &) = delete;

protected:
    // The buffer makes (and destroys) the library's own kind of it, which
    // implements the chunk operations.
    friend class tn::buffer::BufferCore;
    explicit TnChunkData(tn::buffer::BufferCore &aCore);
    ~TnChunkData() override;

    tn::buffer::BufferCore &mCore;
#else
private:
    TnChunkData();
#endif
};

#endif
