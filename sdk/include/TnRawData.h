// The raw-data payload of a buffer: bytes without image geometry, optionally
// followed by chunks.
#ifndef TN_RAW_DATA_H
#define TN_RAW_DATA_H

#include <stdint.h>

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

/// The payload of a buffer of payload type TnPayloadTypeRawData, handed out by
/// TnBuffer::GetRawData. It belongs to the buffer and reaches the buffer's
/// memory; the buffer's chunk operations reach the chunks after the payload.
class TN_BUFFER_API TnRawData
{
public:
    /// The payload length: the block leader's for a received block, else the
    /// length given to Alloc or Attach.
    virtual uint64_t GetPayloadLength() const;

    /// Gives the buffer memory of its own for aPayloadLength bytes of payload
    /// and, when aMaximumChunkLength is not 0, that many bytes for chunks (8
    /// bytes of tag per chunk included) plus the 8-byte tag of the payload.
    ///
    /// Returns TN_INVALID_PARAMETER when nothing would be allocated or the
    /// total does not fit a buffer (4 GiB less one byte), TN_NOT_ENOUGH_MEMORY
    /// when the memory cannot be had.
    virtual TnResult Alloc(uint64_t aPayloadLength, uint32_t aMaximumChunkLength = 0);

    /// Releases the buffer's memory.
    virtual void Free();

    /// Makes aLength bytes at aAddress the payload memory; the payload length
    /// becomes aLength. The caller keeps the memory alive and in place until it
    /// is detached. Room for chunks (aMaximumChunkLength not 0) is allocated
    /// apart from the caller's memory, which is never written past aLength.
    ///
    /// Returns TN_INVALID_PARAMETER for a null address, a length of 0 or one
    /// that does not fit a buffer, TN_NOT_ENOUGH_MEMORY when the chunk memory
    /// cannot be had.
    virtual TnResult Attach(void *aAddress, uint64_t aLength, uint32_t aMaximumChunkLength = 0);

    /// Drops the attached memory and returns its address; null when no memory
    /// was attached. The payload length stays as it was.
    virtual uint8_t *Detach();

#ifndef SWIG
    TnRawData(const TnRawData &) = delete;
    TnRawData &operator=(const TnRawData &) = delete;
#endif

#ifndef SWIG
protected:
    virtual ~TnRawData();
#endif

private:
#ifdef SWIG
    TnRawData();
#else
    friend class tn::buffer::BufferCore;
    explicit TnRawData(tn::buffer::BufferCore &aCore);

    tn::buffer::BufferCore &mCore;
#endif
};

#endif
