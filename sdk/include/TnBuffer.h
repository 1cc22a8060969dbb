// The SDK's buffer: one block of GigE Vision or USB3 Vision data in memory.
#ifndef TN_BUFFER_H
#define TN_BUFFER_H

#include <stdint.h>

#include "ITnChunkData.h"
#include "TnChunkData.h"
#include "TnExport.h"
#include "TnImage.h"
#include "TnMultiPart.h"
#include "TnPayloadType.h"
#include "TnRawData.h"
#include "TnResult.h"

class ITnGenericDataContainer;
class ITnGenDCManager;
class ITnGenDCImage;
class ITnH264AccessUnit;
class TnVexmoorCompressed;

#ifndef SWIG
namespace tn
{
namespace buffer
{
class BufferCore;
}
} // namespace tn
#endif

/// A block of data in memory: the object a stream fills and a transmitter
/// sends.
///
/// A buffer either has memory of its own (Alloc) or works in memory attached by
/// the caller (Attach). Its payload type decides which payload interface it
/// hands out (GetImage, GetRawData, GetChunkData, GetMultiPartContainer ...);
/// those interfaces belong to the buffer and stay valid as long as it exists.
/// A buffer's identity is its address.
///
/// A buffer is used by one thread at a time: while it is queued to a stream or
/// transmitter, that component's threads use it.
class TN_BUFFER_API TnBuffer : public ITnChunkData
{
public:
    /// A buffer without memory, of the given payload type.
    explicit TnBuffer(TnPayloadType aPayloadType = TnPayloadTypeImage);

    /// Releases the buffer's own memory; attached memory is left to its owner.
    virtual ~TnBuffer();

    /// Gives the buffer aSize bytes of memory of its own, zeroed, in place of
    /// the memory it had; chunks added before are dropped.
    ///
    /// Returns TN_INVALID_PARAMETER for a size of 0 and TN_NOT_ENOUGH_MEMORY
    /// when the memory cannot be had (the buffer then keeps its memory).
    TnResult Alloc(uint32_t aSize);

    /// Gives the buffer aMaximumChunkLength bytes of chunk memory of its own,
    /// apart from its main memory: for attached memory that has no room for
    /// chunks. Chunks then go there, after the 8-byte tag of the main payload.
    ///
    /// Returns TN_INVALID_PARAMETER for a length of 0 or one too large,
    /// TN_NOT_ENOUGH_MEMORY when the memory cannot be had.
    TnResult AllocChunk(uint32_t aMaximumChunkLength);

    /// Releases the buffer's memory: its own memory is freed, attached memory
    /// dropped, and the chunk memory freed.
    void Free();

    /// Releases the chunk memory that AllocChunk gave.
    void FreeChunk();

    /// Makes aLength bytes at aAddress the buffer's memory, in place of the
    /// memory it had. The caller keeps the memory alive and in place until it
    /// is detached; the buffer never reaches past aLength bytes.
    ///
    /// Returns TN_INVALID_PARAMETER for a null address or a length of 0.
    TnResult Attach(void *aAddress, uint32_t aLength);

    /// Drops the attached memory and returns its address; null (and no change)
    /// when the buffer has no attached memory. The size is 0 afterwards.
    uint8_t *Detach();

    /// Makes the buffer ready for another payload type: it keeps its memory and
    /// its ID, and drops everything else it knew of its payload (geometry,
    /// lengths, parts, chunks, block ID, times, status and statistics).
    TnResult Reset(TnPayloadType aPayloadType = TnPayloadTypeImage);

    /// The buffer's memory; null when it has none.
    const uint8_t *GetDataPointer() const;

    /// The buffer's memory; null when it has none.
    uint8_t *GetDataPointer();

    /// Whether the buffer has memory of its own.
    bool IsAllocated() const;

    /// Whether the buffer works in memory attached by the caller.
    bool IsAttached() const;

    /// Bytes of memory, allocated or attached (chunk memory not counted).
    uint32_t GetSize() const;

    /// Bytes the last received block needed, chunk data, headers and padding
    /// included.
    uint32_t GetRequiredSize() const;

    /// Bytes the data receiver delivered, chunk data, headers and padding
    /// included.
    uint32_t GetAcquiredSize() const;

    /// Bytes of payload without extra padding: for a received block what its
    /// receiver counted, else what the buffer holds to send (main payload and
    /// chunk section, or the effective sizes of the parts).
    uint32_t GetPayloadSize() const;

    /// The payload type.
    TnPayloadType GetPayloadType() const;

    /// The number the program assigned to the buffer; 0 until set.
    uint64_t GetID() const;

    /// Assigns a number to the buffer.
    void SetID(uint64_t aID);

    /// Whether the block used extended IDs (64-bit block ID, 32-bit packet ID).
    bool IsExtendedID() const;

    /// The transmitter's block counter.
    uint64_t GetBlockID() const;

    /// The block's timestamp.
    uint64_t GetTimestamp() const;

    /// The host's reception time in microseconds; not an absolute time.
    uint64_t GetReceptionTime() const;

    /// The buffer's duration within a stream.
    uint64_t GetDuration() const;

    /// Sets the block ID.
    TnResult SetBlockID(uint64_t aBlockID);

    /// Sets the timestamp.
    TnResult SetTimestamp(uint64_t aTimestamp);

    /// Sets the reception time.
    TnResult SetReceptionTime(uint64_t aReceptionTime);

    /// Sets the duration.
    TnResult SetDuration(uint64_t aDuration);

    /// The outcome of the acquisition that filled the buffer.
    TnResult GetOperationResult() const;

    /// Whether the stream protocol's leader was received.
    bool IsHeaderValid() const;

    /// Whether the stream protocol's trailer was received.
    bool IsTrailerValid() const;

    /// Whether large data leader and trailer packets were in use.
    bool IsLargeLeaderTrailerEnabled() const;

    /// Lost packets that resend requests brought in, duplicates not counted.
    uint32_t GetPacketsRecoveredCount() const;

    /// Lost packets brought in by a resend request without a retry.
    uint32_t GetPacketsRecoveredSingleResendCount() const;

    /// Resend requests issued.
    uint32_t GetResendGroupRequestedCount() const;

    /// Packets asked for by resend requests.
    uint32_t GetResendPacketRequestedCount() const;

    /// Packets not delivered.
    uint32_t GetLostPacketCount() const;

    /// Packets received and ignored.
    uint32_t GetIgnoredPacketCount() const;

    /// Packets received more than once.
    uint32_t GetRedundantPacketCount() const;

    /// Packets received out of order.
    uint32_t GetPacketOutOfOrderCount() const;

    /// The number of groups of packets that never arrived.
    TnResult GetMissingPacketIdsCount(uint32_t &aCount);

    /// The first and last packet ID of the missing group at aIndex; a last ID
    /// of 0xFFFFFF (0xFFFFFFFF with extended IDs) means the block's last
    /// packet is missing.
    ///
    /// Returns TN_NOT_FOUND, with both IDs 0, for an index out of range.
    TnResult GetMissingPacketIds(uint32_t aIndex, uint32_t &aFirstPacketID, uint32_t &aLastPacketID);

    void ResetChunks() override;
    TnResult AddChunk(uint32_t aID, const uint8_t *aData, uint32_t aLength) override;
    void SetChunkLayoutID(uint32_t aChunkLayoutID) override;
    uint32_t GetChunkLayoutID() override;
    bool HasChunks() const override;
    uint32_t GetChunkCount() override;
    TnResult GetChunkIDByIndex(uint32_t aIndex, uint32_t &aID) override;
    uint32_t GetChunkSizeByIndex(uint32_t aIndex) override;
    uint32_t GetChunkSizeByID(uint32_t aID) override;
    uint8_t *GetChunkRawDataByIndex(uint32_t aIndex) override;
    uint8_t *GetChunkRawDataByID(uint32_t aID) override;
    uint32_t GetChunkDataSize() const override;
    uint32_t GetChunkDataCapacity() const override;

    /// The image; null unless the payload type is TnPayloadTypeImage.
    TnImage *GetImage();

    /// The image; null unless the payload type is TnPayloadTypeImage.
    const TnImage *GetImage() const;

    /// The raw data; null unless the payload type is TnPayloadTypeRawData.
    TnRawData *GetRawData();

    /// The raw data; null unless the payload type is TnPayloadTypeRawData.
    const TnRawData *GetRawData() const;

    /// The chunk data; null unless the payload type is TnPayloadTypeChunkData.
    TnChunkData *GetChunkData();

    /// The chunk data; null unless the payload type is TnPayloadTypeChunkData.
    const TnChunkData *GetChunkData() const;

    /// The multipart container; null unless the payload type is
    /// TnPayloadTypeMultiPart.
    ITnMultiPartContainer *GetMultiPartContainer();

    /// The multipart container; null unless the payload type is
    /// TnPayloadTypeMultiPart.
    const ITnMultiPartContainer *GetMultiPartContainer() const;

    /// The GenDC container in the buffer's memory: a received block's
    /// payload, the container a manager laid into it, or else the whole
    /// memory. Null unless the payload type is TnPayloadTypeGenDC and the
    /// buffer has memory.
    ITnGenericDataContainer *GetGenDC();

    /// The GenDC container in the buffer's memory, as the other form.
    const ITnGenericDataContainer *GetGenDC() const;

    /// The H.264 access unit; null unless the payload type is
    /// TnPayloadTypeH264.
    ITnH264AccessUnit *GetH264AccessUnit();

    /// The H.264 access unit; null unless the payload type is
    /// TnPayloadTypeH264.
    const ITnH264AccessUnit *GetH264AccessUnit() const;

    /// The compressed payload; null unless the payload type is
    /// TnPayloadTypeVexmoorCompressed.
    TnVexmoorCompressed *GetVexmoorCompressed();

    /// The compressed payload; null unless the payload type is
    /// TnPayloadTypeVexmoorCompressed.
    const TnVexmoorCompressed *GetVexmoorCompressed() const;

    /// Attaches the GenDC manager whose container the buffer is to carry: the
    /// buffer must have been reset to TnPayloadTypeGenDC and the descriptor be
    /// complete. The container is laid into the buffer's memory, which is
    /// allocated anew when it is smaller than the container; the parts' data
    /// is then filled in place through GetGenDC.
    ///
    /// Returns TN_INVALID_PARAMETER for a buffer of another payload type, a
    /// manager that is not the SDK's or a container beyond 4 GiB,
    /// TN_BUFFER_TOO_SMALL when attached memory cannot hold the container and
    /// TN_NOT_ENOUGH_MEMORY when memory cannot be had.
    TnResult AttachGenDCManager(ITnGenDCManager &aManager);

#ifndef SWIG
    TnBuffer(const TnBuffer &) = delete;
    TnBuffer &operator=(const TnBuffer &) = delete;

private:
    friend class tn::buffer::BufferCore;

    tn::buffer::BufferCore *mCore;
#endif
};

#ifndef SWIG
/// The access unit of an H.264 payload: the bytes the block carried.
class TN_BUFFER_API ITnH264AccessUnit
{
public:
    /// The access unit's bytes; null when the buffer has no memory.
    virtual const uint8_t *GetData() const = 0;

    /// Bytes of the access unit.
    virtual uint32_t GetDataSize() const = 0;

protected:
    virtual ~ITnH264AccessUnit();
};

/// A compressed image payload: the bytes the block carried.
class TN_BUFFER_API TnVexmoorCompressed
{
public:
    /// The compressed bytes; null when the buffer has no memory.
    virtual const uint8_t *GetData() const;

    /// Bytes of compressed data.
    virtual uint32_t GetDataSize() const;

    TnVexmoorCompressed(const TnVexmoorCompressed &) = delete;
    TnVexmoorCompressed &operator=(const TnVexmoorCompressed &) = delete;

protected:
    virtual ~TnVexmoorCompressed();

private:
    friend class tn::buffer::BufferCore;
    explicit TnVexmoorCompressed(tn::buffer::BufferCore &aCore);

    tn::buffer::BufferCore &mCore;
};
#endif

#endif
