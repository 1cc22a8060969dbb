// The stream transmitter behind TnTransmitterGEV: the stream sender of
// libTnGevProtocol (one implementation, shared with the software device)
// with a pool of free buffers and rates in payload terms.
//
// Threads: the sender's thread sends and reports released blocks
// (OnBlockReleased), which only takes mMutex; the program's threads take
// free buffers (waiting on mFreeSignal) and queue them. No lock of this class
// is held while the sender is called, but for the queueing itself.
//
// The transmitter holds the buffers queued to it (a buffer's holder, see
// TnBufferInternal.h) from QueueBuffer or LoadBufferPool until
// RetrieveFreeBuffer hands them out: a buffer changed or destroyed meanwhile
// leaves the sender and the free buffers first. One that the sender is done
// with goes to another holder (a stream it is queued to) as it asks.
#ifndef TN_TRANSMITTER_H
#define TN_TRANSMITTER_H

#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "TnBufferInternal.h"
#include "TnFork.h"
#include "TnGvspSender.h"
#include "TnResult.h"

class TnBuffer;

namespace tn
{
namespace transmitter
{
struct TnTransmitterSettings
{
    std::string mDestination;
    uint16_t mDestinationPort = 0;
    std::string mSource;
    uint16_t mSourcePort = 0;
    bool mDoNotFragment = true;
    bool mExtendedIds = false;
    uint32_t mMaxQueued = 64;
    bool mStampBuffers = false;
    uint32_t mRetained = 32;
    uint32_t mPacketDelayNs = 0;
};

/// A transmitter made before a fork of this process belongs to the parent
/// (TnFork.h).
class TnTransmitter final : public gev::TnGvspSenderListener, public buffer::BufferHolder, public ProcessOwner
{
public:
    TnTransmitter();
    ~TnTransmitter() override;

    TnResult Open(const TnTransmitterSettings &aSettings);
    TnResult Close();
    bool IsOpen() const;
    bool IsTransmitting() const;

    TnResult LoadBufferPool(TnBuffer **aBuffers, uint32_t aCount);
    TnResult QueueBuffer(TnBuffer *aBuffer);
    TnResult RetrieveFreeBuffer(TnBuffer **aBuffer, uint32_t aTimeoutMs);
    TnResult AbortQueuedBuffers(uint32_t aTimeoutMs, bool *aAbortedAll);
    TnResult FireTestPacket();
    uint32_t GetQueuedCount() const;

    uint32_t GetPacketSize() const;
    TnResult SetPacketSize(uint32_t aPacketSize);
    float GetMaxPayloadThroughput() const;
    TnResult SetMaxPayloadThroughput(float aBitsPerSecond);
    bool GetExtendedIds() const;
    TnResult SetExtendedIds(bool aExtendedIds);
    TnResult SetSentBuffersTimeout(uint32_t aMilliseconds);
    uint32_t GetSentBuffersTimeout() const;
    void QueuePacketResend(uint64_t aBlockId, uint32_t aFirst, uint32_t aLast);

    uint16_t GetSourcePort() const;
    uint16_t GetDestinationPort() const;
    std::string GetDestinationAddress() const;
    std::string GetSourceAddress() const;

    void ResetStats();
    uint64_t GetBlocks() const;
    uint64_t GetSamplingTimeNs() const;
    uint64_t GetPayloadBytes() const;
    /// Payload bits (aBlocks false) or blocks per second, since the reset
    /// (aRecent false) or over the last second or so (aRecent true).
    double Rate(bool aRecent, bool aBlocks) const;
    uint64_t GetResendRequests() const;

    uint32_t GetSenderPriority() const;
    TnResult SetSenderPriority(uint32_t aPriority);
    uint32_t GetPoolPriority() const;
    TnResult SetPoolPriority(uint32_t aPriority);

    void OnBlockReleased(void *aContext, uint64_t aBlockId, bool aSent) override;
    void Release(TnBuffer &aBuffer) override;
    bool Yield(TnBuffer &aBuffer) override;

private:
    /// Holds aBuffer (false when another holder keeps it) and counts one
    /// more use of it by the sender.
    bool Hold(TnBuffer *aBuffer);
    /// Lets go of aBuffer when nothing here uses or keeps it any more.
    void LetGoIfUnused(TnBuffer *aBuffer);
    /// One hold of aBuffer (Hold) ends; it is let go if unused.
    void Unhold(TnBuffer *aBuffer);
    void ApplyRate();
    TnResult ApplyPriority();
    struct Sample
    {
        uint64_t mNs = 0;
        uint64_t mBlocks = 0;
        uint64_t mBytes = 0;
    };
    void Snapshot(Sample &aNow, Sample &aBefore) const;

    mutable std::mutex mMutex;
    std::condition_variable mFreeSignal;
    std::deque<TnBuffer *> mFree;
    std::map<TnBuffer *, uint32_t> mHeld; // the buffers held, with their blocks in the sender
    std::map<TnBuffer *, uint64_t> mHoldings; // each held buffer's holding (SetHolder)
    gev::TnGvspSender mSender;
    TnTransmitterSettings mSettings;
    bool mOpen = false;
    bool mClosing = false;
    uint32_t mPacketSize = 1500;
    bool mExtendedIds = false;
    float mMaxPayloadRate = 0;
    uint32_t mSentTimeoutMs = 0;
    uint32_t mSenderPriority = 0;
    uint32_t mPoolPriority = 0;
    mutable Sample mRecent[2]; // the samples the recent rates are measured between
};
} // namespace transmitter
} // namespace tn

#endif
