// Block assembly on the receiving side of a stream: pure logic, no sockets,
// no clock and no threads of its own, so that every rule is tested with
// crafted packets.
//
// The assembler takes the stream's datagrams one at a time, asks a block
// provider for memory when a new block starts, writes each payload packet at
// its place ((packet id - 1) * payload bytes per packet), keeps a bitmap of
// the packets it has, and hands every block back to the provider exactly once:
// complete (TN_OK) or failed with the reason. A block with a missing packet is
// never reported complete, nor one whose packets, all there, end before the
// payload its leader and trailer describe (TN_MISSING_PACKETS). GenDC blocks are placed alike: their payload
// packets have a format of their own, and a block whose payload packets mix
// the two formats, or contradict its leader's payload type, fails.
//
// Missing packets: a hole is given mReorderToleranceUs to fill by a late
// packet; then, with resend enabled, the missing ranges are requested from the
// device through a resend requester, again after mResendResponseTimeoutUs, up
// to mMaxResendRetries times, within mMaxResendPacketsPerBlock and
// mMaxResendLatenessUs; without resend, or when those limits are spent, the
// block fails once its end is known (trailer received or a newer block seen)
// or after mBlockTimeoutUs without a packet.
//
// Scatter receive: Predict names, for the next datagrams, where each one's
// payload goes if the stream keeps its order; a receiver points its receive
// vectors there and reports such a datagram with OnPredicted, which records
// it without copying. Anything else comes as a whole datagram to OnDatagram
// and is copied once.
//
// Times are microseconds of any monotonic clock, passed in by the caller.
#ifndef TN_GVSP_ASSEMBLER_H
#define TN_GVSP_ASSEMBLER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "TnGevExport.h"
#include "TnGvsp.h"

namespace tn
{
namespace gev
{
/// The memory a block is received into: mSize bytes at mData, continued by
/// mExtraSize bytes at mExtra (for instance chunk memory kept apart), or
/// mExtra null. mContext is the provider's own handle, handed back unchanged.
struct TnGvspBlockTarget
{
    uint8_t *mData = nullptr;
    size_t mSize = 0;
    uint8_t *mExtra = nullptr;
    size_t mExtraSize = 0;
    void *mContext = nullptr;

    size_t GetCapacity() const
    {
        return mSize + (mExtra != nullptr ? mExtraSize : 0);
    }
};

/// Packet ids mFirst to mLast, both included.
struct TnGvspPacketRange
{
    uint32_t mFirst = 0;
    uint32_t mLast = 0;
};

/// Packet counters of one block.
struct TnGvspPacketCounters
{
    uint32_t mReceived = 0;              ///< distinct packets taken into the block
    uint32_t mRecovered = 0;             ///< missing packets that a resend brought in
    uint32_t mRecoveredSingleResend = 0; ///< of those, the ones requested only once
    uint32_t mResendGroupsRequested = 0; ///< ranges requested
    uint32_t mResendPacketsRequested = 0;
    uint32_t mLost = 0;       ///< packets missing when the block ended
    uint32_t mIgnored = 0;    ///< packets of the block that were not used
    uint32_t mRedundant = 0;  ///< packets received more than once
    uint32_t mOutOfOrder = 0; ///< packets that came after a later one, resends not counted
};

/// What became of one block, handed to the provider with its memory. The
/// pointers are valid during the call only.
struct TnGvspBlockReport
{
    uint64_t mBlockId = 0;
    bool mExtendedIds = false;
    /// TN_OK, or why the block failed: TN_MISSING_PACKETS,
    /// TN_RESENDS_FAILURE (requested packets never came or the device had
    /// them no more), TN_TOO_MANY_RESENDS (more missing than the resend limits
    /// allow), TN_BUFFER_TOO_SMALL, TN_TIMEOUT (no packet for too long, nothing
    /// known missing), TN_INVALID_DATA_FORMAT (packets that contradict each
    /// other), TN_GENERIC_ERROR (a packet carried an error status, see
    /// mDeviceStatus), TN_ABORTED (stopped).
    uint32_t mResult = 0;
    uint16_t mDeviceStatus = 0; ///< the first error status a packet carried, else 0

    bool mLeaderValid = false;
    bool mTrailerValid = false;
    /// The payload type (with kGvspPayloadChunkFlag; the trailer's when the
    /// leader never came) and timestamp of the leader; the geometry of image
    /// leaders.
    TnGvspImageLeader mLeaderInfo;
    bool mHasChunks = false;
    /// Raw-data and GenDC leaders: the payload's size they tell; multipart
    /// leaders: the size of their parts.
    uint64_t mLeaderPayloadSize = 0;
    // Trailers.
    bool mTrailerHasSizeY = false;
    uint32_t mTrailerSizeY = 0;
    /// The leader's and trailer's payloads as they came (for payload types
    /// decoded elsewhere, such as multipart).
    const uint8_t *mLeader = nullptr;
    size_t mLeaderSize = 0;
    const uint8_t *mTrailer = nullptr;
    size_t mTrailerSize = 0;

    uint64_t mReceivedSize = 0; ///< end of the payload written (bytes from the block's start)
    uint64_t mRequiredSize = 0; ///< bytes the block needs, as far as known
    /// Bytes of the payload that the leader and trailer describe: the
    /// image's, at the trailer's lines where it tells fewer than the leader,
    /// or the size a sized or multipart leader tells; 0 when they tell none.
    /// A complete block has at least these (chunks may follow).
    uint64_t mDescribedSize = 0;
    uint32_t mDataPacketCount = 0; ///< payload packets, when known
    uint32_t mPayloadPerPacket = 0;
    TnGvspPacketCounters mCounters;
    /// Ranges that never came; a last id of 0xFFFFFF (0xFFFFFFFF with
    /// extended ids) stands for "to the block's unknown end".
    const TnGvspPacketRange *mMissing = nullptr;
    size_t mMissingCount = 0;

    uint64_t mFirstPacketUs = 0;
    uint64_t mLastPacketUs = 0;
};

/// Where blocks go: the stream side. Called on the assembler's thread.
class TN_GEV_API TnGvspBlockProvider
{
public:
    virtual ~TnGvspBlockProvider();

    /// Memory for the next block; false when there is none (the block is
    /// dropped and counted).
    virtual bool AcquireBlock(TnGvspBlockTarget &aTarget) = 0;

    /// A finished block, complete or failed: the memory goes back to the
    /// provider.
    virtual void FinishBlock(const TnGvspBlockTarget &aTarget, const TnGvspBlockReport &aReport) = 0;

    /// Memory acquired for a block that never started (at a stop).
    virtual void ReturnBlock(const TnGvspBlockTarget &aTarget) = 0;

    /// A block is about to complete: at the pace its packets came, the rest
    /// arrives within TnGvspAssemblerConfig::mNearlyDoneLeadUs. Called once
    /// per block at most, while it assembles; the default does nothing.
    virtual void OnBlockNearlyDone(const TnGvspBlockTarget &aTarget);
};

/// Where resend requests go: the receiver sends them to the device.
class TN_GEV_API TnGvspResendRequester
{
public:
    virtual ~TnGvspResendRequester();
    virtual void RequestResend(uint64_t aBlockId, uint32_t aFirstPacketId, uint32_t aLastPacketId,
                               bool aExtendedIds) = 0;
};

struct TnGvspAssemblerConfig
{
    /// Payload bytes of every payload packet but a block's last; 0 learns it
    /// from the first payload packet, and follows the device when its packets
    /// change size: a larger one fails the block in assembly (what it placed
    /// lies at the wrong offsets) and is learned instead; a smaller one that
    /// cannot be its block's last is learned in the block that shows it.
    uint32_t mPayloadPerPacket = 0;
    /// Blocks assembled at once (1 to 64); starting one more fails the
    /// oldest, unless that one still waits for packets a resend can bring
    /// (resend enabled, within mMaxResendLatenessUs, within its limits) and
    /// the provider has memory for the new one: then up to 64 are assembled
    /// at once.
    uint32_t mMaxBlocksInFlight = 4;
    /// Only a leader starts a block; packets of blocks whose leader was not
    /// seen are ignored.
    bool mRequireLeader = false;
    /// Ask the device for missing packets (it must support packet resend).
    bool mResendEnabled = false;
    uint32_t mReorderToleranceUs = 2000;
    uint32_t mResendResponseTimeoutUs = 10000;
    /// Requests for the same packets after the first. Packets asked for as
    /// often as this allows are waited for until mMaxResendLatenessUs (a
    /// device that the machine holds up answers late); then the block fails.
    uint32_t mMaxResendRetries = 2;
    uint32_t mMaxResendPacketsPerBlock = 0;  ///< 0: no limit
    uint32_t mMaxResendGroupsPerRequest = 64; ///< ranges asked in one round
    uint32_t mMaxResendLatenessUs = 200000;  ///< no resend for blocks that started longer ago
    uint32_t mBlockTimeoutUs = 1000000;      ///< a block without a packet for this long fails
    /// The provider hears of a block this long before it is expected to
    /// complete (OnBlockNearlyDone); 0: never.
    uint32_t mNearlyDoneLeadUs = 0;
};

/// Counters of the whole stream since the last reset.
struct TnGvspReceiveStatistics
{
    uint64_t mPackets = 0;         ///< datagrams taken
    uint64_t mBytes = 0;           ///< their bytes
    uint64_t mPacketsInPlace = 0;  ///< payloads received in place (no copy)
    uint64_t mPacketsCopied = 0;   ///< payloads copied into place
    uint64_t mBlocksCompleted = 0;
    uint64_t mBlocksFailed = 0;   ///< aborted ones not counted
    uint64_t mBlocksAborted = 0;
    uint64_t mBlocksDropped = 0;   ///< no memory from the provider, or given up whole by the receiver
    uint64_t mBlocksMissed = 0;    ///< block ids skipped entirely
    uint64_t mBlocksTooSmall = 0;
    uint64_t mPacketsIgnored = 0;  ///< stale, foreign, unknown or unusable packets
    uint64_t mPacketsRedundant = 0;
    uint64_t mPacketsOutOfOrder = 0;
    uint64_t mPacketsLost = 0;
    uint64_t mPacketsRecovered = 0;
    uint64_t mResendGroupsRequested = 0;
    uint64_t mResendPacketsRequested = 0;
    uint64_t mMalformedPackets = 0;
    uint64_t mTestPackets = 0;
    uint64_t mResyncs = 0;         ///< block ids restarted far behind the newest
};

/// A predicted datagram: mPacketId of block mBlockId, whose payload goes to
/// mSize bytes at mData. mData null: no prediction (receive into scratch).
struct TnGvspPrediction
{
    uint64_t mBlockId = 0;
    uint32_t mPacketId = 0;
    uint8_t *mData = nullptr;
    uint32_t mSize = 0;
};

class TN_GEV_API TnGvspAssembler
{
public:
    TnGvspAssembler();
    ~TnGvspAssembler();
    TnGvspAssembler(const TnGvspAssembler &) = delete;
    TnGvspAssembler &operator=(const TnGvspAssembler &) = delete;

    /// Settings; blocks in flight are aborted first.
    void Configure(const TnGvspAssemblerConfig &aConfig, uint64_t aNowUs = 0);
    const TnGvspAssemblerConfig &GetConfig() const
    {
        return mConfig;
    }

    /// The resend settings, reorder tolerance, block timeout, leader
    /// requirement and nearly-done lead of aConfig, for the blocks in flight
    /// too; the blocks in
    /// flight, their number and the packet size stay as they are.
    void SetPolicy(const TnGvspAssemblerConfig &aConfig);

    /// Whether only a leader starts a block; takes effect with the next block.
    void SetRequireLeader(bool aRequireLeader)
    {
        mConfig.mRequireLeader = aRequireLeader;
    }

    void SetProvider(TnGvspBlockProvider *aProvider);
    void SetResendRequester(TnGvspResendRequester *aRequester);

    /// One whole datagram (header and payload).
    void OnDatagram(const uint8_t *aData, size_t aSize, uint64_t aNowUs);

    /// Whether a datagram whose header is at aHeader (aHeaderSize bytes) and
    /// whose aPayloadSize payload bytes went to aPrediction's place is the
    /// packet predicted.
    bool Matches(const TnGvspPrediction &aPrediction, const uint8_t *aHeader, size_t aHeaderSize,
                 size_t aPayloadSize) const;

    /// Whether a payload datagram (aHeaderSize header bytes at aHeader,
    /// aPayloadSize payload bytes) shows that its block's packets are of
    /// another size than it took them to be: handing it over then writes its
    /// block's memory at offsets no prediction made, or moves what lies there.
    bool ChangesPacketSize(const uint8_t *aHeader, size_t aHeaderSize, size_t aPayloadSize) const;

    /// A datagram that Matches its prediction: its payload is in place.
    void OnPredicted(const TnGvspPrediction &aPrediction, const uint8_t *aHeader, size_t aHeaderSize,
                     size_t aPayloadSize, uint64_t aNowUs);

    /// Up to aMax predictions for the datagrams to come, in their expected
    /// order; may acquire memory for the next block in advance. Returns the
    /// number written (0 until the stream's packet layout is known).
    size_t Predict(TnGvspPrediction *aOut, size_t aMax);

    /// The header size the stream uses (8 or 20); 0 until a packet came.
    size_t GetHeaderSize() const
    {
        return mHeaderSize;
    }

    uint32_t GetPayloadPerPacket() const
    {
        return mPayloadPerPacket;
    }

    /// The receiver gave block aBlockId up whole (it could not take it
    /// complete): counted among the dropped blocks, not the missed ones; its
    /// later packets are ignored, and memory it had goes back to the provider
    /// unreported.
    void DropBlock(uint64_t aBlockId, bool aExtendedIds, uint64_t aNowUs);

    /// Runs the timers: late holes, resends, timeouts.
    void Poll(uint64_t aNowUs);

    /// The earliest time Poll has something to do; UINT64_MAX when nothing
    /// waits.
    uint64_t GetNextDeadline() const;

    /// Ends every block in flight with aResult, and returns memory acquired
    /// in advance.
    void FinishAll(uint32_t aResult, uint64_t aNowUs);

    size_t GetBlocksInFlight() const;

    /// The payload packets block aBlockId in flight has, as far as known
    /// (its leader and packet size tell); 0 when unknown.
    uint32_t GetDataPacketCount(uint64_t aBlockId) const;

    const TnGvspReceiveStatistics &GetStatistics() const
    {
        return mStatistics;
    }

    void ResetStatistics()
    {
        mStatistics = TnGvspReceiveStatistics();
    }

private:
    struct Block;

    void Process(const TnGvspHeader &aHeader, const uint8_t *aPayload, size_t aPayloadSize, bool aInPlace,
                 uint64_t aNowUs);
    Block *FindOrStart(const TnGvspHeader &aHeader, uint64_t aNowUs);
    Block *Start(uint64_t aBlockId, bool aExtendedIds, uint64_t aNowUs, bool aAcquire = true);
    /// Memory for a block: the spare, or the provider's.
    bool AcquireTarget(TnGvspBlockTarget &aTarget);
    /// Memory from the provider; false (and none kept) when it has none.
    bool AcquireFromProvider(TnGvspBlockTarget &aTarget);
    bool CanStillResend(const Block &aBlock, uint64_t aNowUs) const;
    void OnLeader(Block &aBlock, const TnGvspHeader &aHeader, const uint8_t *aPayload, size_t aSize);
    void OnTrailer(Block &aBlock, const TnGvspHeader &aHeader, const uint8_t *aPayload, size_t aSize,
                   uint64_t aNowUs);
    void OnPayload(Block &aBlock, const TnGvspHeader &aHeader, const uint8_t *aPayload, size_t aSize,
                   bool aInPlace);
    bool LearnPayloadSize(Block &aBlock, size_t aSize, uint64_t aNowUs);
    /// The block's packets are aPerPacket bytes; so are the next blocks', when
    /// it is the newest.
    void Adopt(Block &aBlock, uint32_t aPerPacket);
    /// The smaller packet size that a short payload packet aId of aSize bytes
    /// shows, being no last one; 0 when it shows none.
    uint32_t SmallerSize(const Block &aBlock, uint32_t aId, size_t aSize) const;
    /// The block's packets are smaller than it took them to be: what it
    /// placed moves to the offsets of aPerPacket; false (and nothing changed)
    /// when what it placed contradicts that size.
    bool Relearn(Block &aBlock, uint32_t aPerPacket);
    void SizeBitmaps(Block &aBlock);
    void SetExpectedFromLeader(Block &aBlock);
    uint32_t RequestEnd(const Block &aBlock) const;
    bool HasHoles(const Block &aBlock) const;
    bool IsComplete(const Block &aBlock) const;
    uint64_t DescribedSize(const Block &aBlock) const;
    void AfterPacket(Block &aBlock, uint64_t aNowUs);
    void PollBlock(Block &aBlock, uint64_t aNowUs);
    bool RequestMissing(Block &aBlock, uint64_t aNowUs);
    void Finish(Block &aBlock, uint32_t aResult, uint64_t aNowUs);
    uint32_t FailureResult(const Block &aBlock) const;
    void CollectMissing(const Block &aBlock);
    bool IsNewer(uint64_t aId, uint64_t aThan) const;
    uint64_t Behind(uint64_t aId, uint64_t aNewest) const;
    bool WriteAt(const TnGvspBlockTarget &aTarget, uint64_t aOffset, const uint8_t *aData, size_t aSize);
    uint8_t *PointerAt(const TnGvspBlockTarget &aTarget, uint64_t aOffset, size_t aSize) const;

    TnGvspAssemblerConfig mConfig;
    TnGvspBlockProvider *mProvider = nullptr;
    TnGvspResendRequester *mRequester = nullptr;
    std::vector<Block> mBlocks;
    Block *mLastBlock = nullptr;
    uint64_t mSequence = 0;
    bool mHaveNewest = false;
    uint64_t mNewestId = 0;
    bool mExtendedIds = false;
    size_t mHeaderSize = 0;
    uint32_t mPayloadPerPacket = 0;
    uint32_t mLastDataPacketCount = 0; // of the last block completed, to predict the next
    bool mHaveSpare = false;
    TnGvspBlockTarget mSpare;
    std::vector<TnGvspPacketRange> mMissing; // reused for reports
    std::vector<uint8_t> mHeldPayload;       // a payload that a relearned layout moves over
    TnGvspReceiveStatistics mStatistics;
};
} // namespace gev
} // namespace tn

#endif
