// What a TnBuffer holds: its memory, its payload's description, the values of
// the last block and the payload objects it hands out.
#ifndef TN_BUFFER_CORE_H
#define TN_BUFFER_CORE_H

#include <stdint.h>

#include <atomic>
#include <memory>
#include <type_traits>
#include <vector>

#include "TnBuffer.h"
#include "TnBufferInternal.h"
#include "TnChunkArea.h"
#include "TnGenDCContainer.h"
#include "TnMemory.h"
#include "TnMemoryBlocks.h"

namespace tn
{
namespace buffer
{
// A payload type as the integer a caller gave: the public calls take any int,
// more than the enumeration's values, so the buffer keeps the number and
// compares it with the enumerators without ever holding an out-of-range enum.
using PayloadCode = std::underlying_type<TnPayloadType>::type;

class MultiPartContainer;
class H264AccessUnit;

/// Memory that may come from the buffer or from the caller.
enum class MemoryKind
{
    None,
    Allocated,
    Attached
};

/// Bytes of an image's pixels alone, ceil(width * height * bits / 8); false
/// beyond 32 bits or for a pixel type without a bit count.
bool ComputeEffectiveImageSize(const ImageGeometry &aGeometry, uint32_t &aSize);

class BufferCore : private GenDCSource
{
public:
    BufferCore(TnBuffer &aOwner, PayloadCode aPayloadType);
    ~BufferCore() override;

    BufferCore(const BufferCore &) = delete;
    BufferCore &operator=(const BufferCore &) = delete;

    static BufferCore &Of(TnBuffer &aBuffer) { return *aBuffer.mCore; }
    static const BufferCore &Of(const TnBuffer &aBuffer) { return *aBuffer.mCore; }

    TnBuffer &GetOwner() { return mOwner; }

    // Memory. Every change of the main memory drops the chunks and the
    // received block, and takes the memory from the parts that lay in it.
    TnResult Alloc(uint64_t aSize);
    TnResult Attach(void *aAddress, uint64_t aLength);
    uint8_t *Detach();
    void Free();
    TnResult AllocChunk(uint64_t aSize);
    void FreeChunk();

    /// Faults in the first aLength bytes of the memory for writing, once for
    /// each memory; false when done before.
    bool PrepareForWriting(uint64_t aLength);
    bool IsPreparedForWriting() const { return mPrepared.load(std::memory_order_relaxed); }

    uint8_t *GetData() { return mData; }
    const uint8_t *GetData() const { return mData; }
    uint32_t GetSize() const { return mSize; }
    MemoryKind GetMemoryKind() const { return mMemory; }
    uint8_t *GetChunkMemory() { return mChunkMemory.get(); }
    uint32_t GetChunkMemorySize() const { return mChunkMemorySize; }

    // Payload.
    TnResult Reset(PayloadCode aPayloadType);
    PayloadCode GetPayloadCode() const { return mPayloadType; }

    /// Sets the image geometry; the chunks are dropped.
    void SetGeometry(const ImageGeometry &aGeometry);
    const ImageGeometry &GetGeometry() const { return mGeometry; }
    void SetOffsets(uint32_t aOffsetX, uint32_t aOffsetY);

    /// Image size from the geometry; 0 for a geometry without a size.
    uint32_t GetImageSize() const;

    void SetRawPayloadLength(uint64_t aLength);
    uint64_t GetRawPayloadLength() const { return mRawPayloadLength; }

    void SetChunkPayloadLength(uint64_t aLength) { mChunkPayloadLength = aLength; }
    uint64_t GetChunkPayloadLength() const;

    /// Bytes of the main payload (image or raw data) that precede the chunks.
    uint32_t GetMainLength() const;

    /// Whether the payload type has a main part before its chunks.
    bool HasMainPart() const;

    /// The chunks the buffer's chunk operations reach: the chunk-data part of
    /// a multipart container, else the buffer's own.
    ChunkArea &GetChunks();
    const ChunkArea &GetChunks() const;

    /// Bytes a block can take and where its main memory ends.
    uint32_t GetBlockCapacity() const;
    uint32_t GetMainLimit() const;

    TnResult BeginBlock(PayloadCode aPayloadType);
    TnResult EndBlock(const BlockEnd &aEnd);
    bool IsReceived() const { return mReceived; }

    uint32_t GetPayloadSize() const;
    PayloadSegments GetPayloadSegments() const;

    // Payload objects; each made once and kept until the buffer goes.
    TnImage *GetImage();
    TnRawData *GetRawData();
    TnChunkData *GetChunkData();
    MultiPartContainer *GetContainer();
    MultiPartContainer *FindContainer() const { return mContainer.get(); }
    ITnH264AccessUnit *GetH264AccessUnit();
    TnVexmoorCompressed *GetCompressed();

    /// The GenDC container over the buffer's memory; null unless the payload
    /// type is GenDC and the buffer has memory.
    ITnGenericDataContainer *GetGenDC();

    /// Lays the manager's container into the buffer's memory, allocating
    /// memory of the container's size when the buffer's own is too small.
    TnResult AttachGenDCManager(GenDCManager &aManager);

    // Values of the block, read and set directly by the buffer and images.
    uint64_t mID = 0;
    uint64_t mBlockID = 0;
    uint64_t mTimestamp = 0;
    uint64_t mReceptionTime = 0;
    uint64_t mDuration = 0;
    bool mExtendedID = false;
    bool mLargeLeaderTrailer = false;
    bool mHeaderValid = false;
    bool mTrailerValid = false;
    TnResult mOperationResult;
    uint32_t mRequiredSize = 0;
    uint32_t mAcquiredSize = 0;
    uint32_t mReceivedPayloadSize = 0;
    PacketStatistics mStatistics;
    ImageStatus mImageStatus;
    std::vector<std::pair<uint32_t, uint32_t>> mMissingPacketGroups;

    /// Tells the holder, if any, to let go of the buffer (before its memory
    /// changes or it goes).
    void LetGo();
    BufferHolder *mHolder = nullptr; // guarded by the holders' lock
    uint64_t mHolding = 0;           // holdings so far; guarded by the holders' lock

private:
    /// The container's bytes: a received block's payload, a laid container,
    /// else the whole memory.
    GenDCBytes GetBytes() const override;
    uint64_t GetReceptionTime() const override;

    /// aAttached: the reference on the block of attached memory, if any.
    void ReplaceMain(uint8_t *aData, uint32_t aSize, MemoryKind aKind, ZeroedMemory aOwned,
                     BlockHold aAttached = BlockHold());
    void ClearBlock();
    void Rebind();

    TnBuffer &mOwner;
    PayloadCode mPayloadType;

    uint8_t *mData = nullptr;
    uint32_t mSize = 0;
    MemoryKind mMemory = MemoryKind::None;
    ZeroedMemory mOwnedData;
    BlockHold mAttachedHold; // keeps attached memory while it is attached
    std::atomic<bool> mPrepared{false}; // the memory was faulted in for writing
    ZeroedMemory mChunkMemory;
    uint32_t mChunkMemorySize = 0;

    ImageGeometry mGeometry;
    uint64_t mRawPayloadLength = 0;
    uint64_t mChunkPayloadLength = 0;
    bool mReceived = false;

    ChunkArea mChunks;

    TnImage *mImage = nullptr;
    TnRawData *mRawData = nullptr;
    TnChunkData *mChunkData = nullptr;
    TnVexmoorCompressed *mCompressed = nullptr;
    std::unique_ptr<MultiPartContainer> mContainer;
    std::unique_ptr<H264AccessUnit> mH264;
    std::unique_ptr<GenDCContainer> mGenDC;
    /// Bytes of the container a manager laid into the memory; 0 for none.
    uint64_t mGenDCLength = 0;
};

/// A buffer's chunk-data payload (TnChunkData.cpp); null without memory.
TnChunkData *NewChunkData(BufferCore &aCore);
} // namespace buffer
} // namespace tn

#endif
