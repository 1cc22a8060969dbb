// libTnBuffer's interface for the SDK's own stream receivers and transmitters:
// how a received block is written into a TnBuffer, and what a transmitter
// sends from one.
//
// A receiver fills a buffer in this order:
//
//   1. BeginBlock(buffer, payload type): the buffer keeps its memory and ID and
//      forgets the previous block. Then the leader's values: the public
//      TnBuffer::SetBlockID and SetTimestamp, and SetBlockFlags.
//   2. The payload's description, before any data is written:
//      SetImageGeometry for images, SetRawDataPayloadLength for raw data,
//      SetChunkDataPayloadLength for chunk data, SetMultiPartLayout for
//      multipart blocks.
//   3. The data, at offsets within the block: GetBlockPointer for a place to
//      receive into, or WriteBlockData to copy. Both stay within the buffer's
//      memory; with chunk memory of its own (TnBuffer::AllocChunk) the block
//      continues there after the main payload.
//   4. EndBlock with the trailer's outcome: sizes, status, leader and trailer
//      validity, whether chunk data follows the payload. Then, where the
//      receiver keeps them, SetImageStatus, SetPacketStatistics and
//      AddMissingPacketGroup, and TnBuffer::SetReceptionTime.
//
// Every function refuses what does not fit the buffer's memory with a failed
// TnResult and leaves the buffer as it was; none reads or writes past memory.
// The buffer is not locked: the receiver uses it while it is queued, the
// program after it was retrieved.
#ifndef TN_BUFFER_INTERNAL_H
#define TN_BUFFER_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <vector>

#include "TnBuffer.h"
#include "TnExport.h"
#include "TnMultiPartTypes.h"
#include "TnPayloadType.h"
#include "TnPixelType.h"
#include "TnResult.h"

namespace tn
{
namespace buffer
{
/// The chunk ID written into the tag that follows the main payload (image or
/// raw data) of a buffer that carries chunks.
constexpr uint32_t kMainChunkID = 0x00000001;

/// Pixel geometry of an image.
struct ImageGeometry
{
    TnPixelType mPixelType = TnPixelUndefined;
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
    uint32_t mOffsetX = 0;
    uint32_t mOffsetY = 0;
    uint16_t mPaddingX = 0; ///< bytes at the end of each line
    uint16_t mPaddingY = 0; ///< bytes at the end of the image
};

/// Bytes an image of this geometry takes, paddings included: without padding
/// X the lines follow each other bit for bit, ceil(width * height * bits / 8)
/// bytes; with padding X each line takes ceil(width * bits / 8) + padding X
/// bytes. Padding Y is added at the end.
///
/// Returns false, with aSize 0, for a pixel type without a bit count or a size
/// beyond 32 bits. A width or height of 0 gives 0 bytes (plus padding Y).
TN_BUFFER_API bool ComputeImageSize(const ImageGeometry &aGeometry, uint32_t &aSize);

/// Reception status of an image.
struct ImageStatus
{
    bool mPartialLineMissing = false;
    bool mFullLineMissing = false;
    uint32_t mFirstMissingLine = 0; ///< meaningful with mFullLineMissing
    bool mEOFByLineCount = false;
    bool mInterlacedEven = false;
    bool mInterlacedOdd = false;
    bool mImageDropped = false;
    bool mDataOverrun = false;
};

/// Packet counters of one received block.
struct PacketStatistics
{
    uint32_t mPacketsRecovered = 0;
    uint32_t mPacketsRecoveredSingleResend = 0;
    uint32_t mResendGroupsRequested = 0;
    uint32_t mResendPacketsRequested = 0;
    uint32_t mLostPackets = 0;
    uint32_t mIgnoredPackets = 0;
    uint32_t mRedundantPackets = 0;
    uint32_t mPacketsOutOfOrder = 0;
};

/// The outcome of a received block, as its trailer and receiver tell it.
struct BlockEnd
{
    TnResult mOperationResult;      ///< what the receiver made of the block
    uint32_t mAcquiredSize = 0;     ///< bytes delivered into the block, at most GetBlockCapacity
    uint32_t mRequiredSize = 0;     ///< bytes the block needed
    uint32_t mPayloadSize = 0;      ///< payload bytes without extra padding
    bool mHeaderValid = false;      ///< the leader was received
    bool mTrailerValid = false;     ///< the trailer was received
    bool mChunksPresent = false;    ///< chunk data follows the payload (or is the payload)
    uint32_t mChunkLayoutID = 0;    ///< the trailer's chunk layout ID
    bool mLittleEndianTags = false; ///< chunk tags in little-endian order (USB3 Vision)
};

/// One part of a received multipart block.
struct ReceivedPart
{
    TnMultiPartDataType mDataType = TnMultiPartInvalid;
    uint32_t mOffset = 0;        ///< where the part's data starts in the buffer's memory
    uint32_t mSize = 0;          ///< the part's maximum data size
    uint32_t mEffectiveSize = 0; ///< bytes received, at most mSize
    ImageGeometry mGeometry;     ///< image parts: mHeight the received lines; padding Y unused
    uint8_t mJPEGFlag = 0;
    uint64_t mTimestampTickFrequency = 0;
    uint32_t mDataFormat = 0;
    uint32_t mChunkLayoutID = 0;
    uint32_t mSourceID = 0;
    uint32_t mDataPurposeID = 0;
    uint32_t mRegionID = 0;
    uint32_t mAdditionalZones = 0;
    uint32_t mZoneDirectionMask = 0;
};

/// Starts a received block of the given payload type: as TnBuffer::Reset, and
/// the buffer counts as received from then on (its payload size is the
/// receiver's, its chunks those of the block).
TN_BUFFER_API TnResult BeginBlock(TnBuffer &aBuffer, TnPayloadType aPayloadType);

/// Whether the block uses extended IDs and large leader and trailer packets.
TN_BUFFER_API void SetBlockFlags(TnBuffer &aBuffer, bool aExtendedID, bool aLargeLeaderTrailer);

/// The leader's image geometry. Returns TN_INVALID_PARAMETER for a geometry
/// without a size and TN_BUFFER_TOO_SMALL when the image does not fit the
/// buffer's memory.
TN_BUFFER_API TnResult SetImageGeometry(TnBuffer &aBuffer, const ImageGeometry &aGeometry);

/// The leader's raw-data payload length. Returns TN_BUFFER_TOO_SMALL when it
/// does not fit the buffer's memory.
TN_BUFFER_API TnResult SetRawDataPayloadLength(TnBuffer &aBuffer, uint64_t aLength);

/// The trailer's chunk-data payload length, as TnChunkData reports it.
TN_BUFFER_API void SetChunkDataPayloadLength(TnBuffer &aBuffer, uint64_t aLength);

/// The parts of a multipart block, laid over the buffer's memory. Returns
/// TN_INVALID_PARAMETER for a part outside the memory, an effective size
/// beyond the part's size, an image that does not fit its part, or more than
/// 256 parts; the container is then empty.
TN_BUFFER_API TnResult SetMultiPartLayout(TnBuffer &aBuffer, const ReceivedPart *aParts, uint32_t aCount);

/// Bytes a block can take: the main memory, and with chunk memory of its own
/// the main payload's length in main memory followed by the chunk memory.
TN_BUFFER_API uint32_t GetBlockCapacity(const TnBuffer &aBuffer);

/// Where aLength bytes at block offset aOffset go, when they lie in one
/// stretch of memory; null otherwise (outside the capacity, or across the end
/// of the main payload into the chunk memory).
TN_BUFFER_API uint8_t *GetBlockPointer(TnBuffer &aBuffer, uint32_t aOffset, uint32_t aLength);

/// Copies aLength bytes to block offset aOffset. Returns TN_BUFFER_TOO_SMALL
/// past the capacity and TN_INVALID_PARAMETER for null data.
TN_BUFFER_API TnResult WriteBlockData(TnBuffer &aBuffer, uint32_t aOffset, const void *aData, uint32_t aLength);

/// Ends the block. Returns TN_INVALID_PARAMETER, and changes nothing, when the
/// acquired size exceeds the block capacity.
TN_BUFFER_API TnResult EndBlock(TnBuffer &aBuffer, const BlockEnd &aEnd);

/// Whether the chunks of the block ended last walk whole from its end to its
/// start (see ChunkArea::IsReceivedLayoutWhole); true without chunks.
TN_BUFFER_API bool HasWholeChunkLayout(const TnBuffer &aBuffer);

/// The image's reception status.
TN_BUFFER_API void SetImageStatus(TnBuffer &aBuffer, const ImageStatus &aStatus);
TN_BUFFER_API ImageStatus GetImageStatus(const TnBuffer &aBuffer);

/// The block's packet counters.
TN_BUFFER_API void SetPacketStatistics(TnBuffer &aBuffer, const PacketStatistics &aStatistics);

/// Records a group of packets that never arrived. Returns TN_INVALID_PARAMETER
/// when aLast is below aFirst and TN_NOT_ENOUGH_MEMORY when the record cannot
/// grow.
TN_BUFFER_API TnResult AddMissingPacketGroup(TnBuffer &aBuffer, uint32_t aFirstPacketID, uint32_t aLastPacketID);

/// Faults in the first aLength bytes of the buffer's memory for writing once
/// for each memory it gets (a stream does it a few buffers ahead of its
/// receiver, which then writes without faulting page by page); false when it
/// had been done.
TN_BUFFER_API bool PrepareForWriting(TnBuffer &aBuffer, uint64_t aLength = UINT64_MAX);
TN_BUFFER_API bool IsPreparedForWriting(const TnBuffer &aBuffer);

/// What holds a buffer for a while and writes into its memory meanwhile (a
/// stream the buffer is queued to). The buffer tells its holder before its
/// memory changes or the buffer goes, so that the holder lets go of it first.
class TN_BUFFER_API BufferHolder
{
public:
    virtual ~BufferHolder();

    /// The holder forgets the buffer and, before it returns, stops using its
    /// memory. Called on the thread that changes or destroys the buffer, with
    /// the holders' lock held: the holder must not call SetHolder or
    /// ForgetHolder here.
    virtual void Release(TnBuffer &aBuffer) = 0;

    /// Whether the holder, which no longer uses the buffer, lets another one
    /// take it (it then forgets it); called as Release is. None does unless
    /// it says so.
    virtual bool Yield(TnBuffer &aBuffer);
};

/// Makes aHolder the buffer's holder (null: none). False, with nothing
/// changed, when the buffer has another holder than aExpected, unless that
/// one yields it to a holder that expected none. Each time a holder is set,
/// the buffer's holding gets a new number, given in aHolding.
TN_BUFFER_API bool SetHolder(TnBuffer &aBuffer, BufferHolder *aHolder, BufferHolder *aExpected,
                             uint64_t *aHolding = nullptr);

/// Clears the buffer's holder when it is aHolder in the holding aHolding:
/// for a holder that lets go of a buffer after it dropped it from its own
/// lists, when the buffer may have left it and been given to it again in
/// between (a free and a queue on other threads): that holding stays.
TN_BUFFER_API void EndHolding(TnBuffer &aBuffer, BufferHolder *aHolder, uint64_t aHolding);

/// Clears the holder of each buffer that aHolder (a holder that goes while
/// it still holds buffers) names with aList. aList runs with the holders'
/// lock held, so that none of them can go meanwhile: a buffer that went
/// before has let go of its holder (Release) and is no longer named.
TN_BUFFER_API void ForgetHolder(BufferHolder *aHolder, const std::function<void(std::vector<TnBuffer *> &)> &aList);

/// What a transmitter sends of a buffer that is not multipart: mMainLength
/// bytes at mMain, then mChunksLength bytes at mChunks (the chunk memory of its
/// own, when the buffer has one). Their sum is TnBuffer::GetPayloadSize.
struct PayloadSegments
{
    const uint8_t *mMain = nullptr;
    uint32_t mMainLength = 0;
    const uint8_t *mChunks = nullptr;
    uint32_t mChunksLength = 0;
};

TN_BUFFER_API PayloadSegments GetPayloadSegments(const TnBuffer &aBuffer);
} // namespace buffer
} // namespace tn

#endif
