// The GigE Vision stream transmitter: sends buffers as GVSP blocks to one
// destination, keeps recently sent blocks for packet resends, and counts.
#ifndef TN_TRANSMITTER_GEV_H
#define TN_TRANSMITTER_GEV_H

#include <stdint.h>

#include "TnExport.h"
#include "TnResult.h"
#include "TnString.h"

class TnBuffer;

namespace tn
{
namespace transmitter
{
class TnTransmitter;
}
} // namespace tn

/// What a virtual GigE Vision device drives of an added transmitter.
class TN_TRANSMITTER_API ITnTransmitterGEV
{
public:
    /// Virtual destructor.
    virtual ~ITnTransmitterGEV() {}
    /// Open and ready to transmit.
    virtual bool IsOpen() const = 0;
    /// Actively transmitting (a buffer queued or being sent).
    virtual bool IsTransmitting() const = 0;
    /// Extended IDs: 64-bit block and 32-bit packet identifiers in GVSP.
    virtual bool GetExtendedIDs() const = 0;
    /// Sets extended IDs; TN_BUSY while buffers are queued.
    virtual TnResult SetExtendedIDs(bool aExtendedID) = 0;
    /// Sends packets aFirstPacketID to aLastPacketID (the last included) of
    /// block aBlockID again, typically in answer to a receiver's request.
    /// Returns at once.
    virtual void QueuePacketResend(uint64_t aBlockID, uint32_t aFirstPacketID, uint32_t aLastPacketID) = 0;
};

/// A stream transmitter on a sending thread of its own.
///
/// Buffers: the program hands the transmitter a pool (LoadBufferPool) or
/// its own buffers; it takes a free one (RetrieveFreeBuffer), fills it
/// (image payload: the buffer's image; other payloads: its raw data) and
/// queues it (QueueBuffer). A sent buffer is kept for packet resends until
/// newer buffers push it out (the retained count of Open) or the sent
/// buffers timeout passes, and then becomes free again. The transmitter
/// keeps buffers by address and never deletes them.
///
/// Blocking calls: RetrieveFreeBuffer (up to its timeout), AbortQueuedBuffers
/// (up to its timeout), Close and the destructor (until the thread ended).
/// The others return at once. Safe to call from several threads.
class TN_TRANSMITTER_API TnTransmitterGEV : public ITnTransmitterGEV
{
public:
    TnTransmitterGEV();
    virtual ~TnTransmitterGEV();

    /// Opens towards aDestinationAddress:aDestinationPort from
    /// aSourceAddress:aSourcePort (empty and 0: any).
    /// aDoNotFragment: set the don't-fragment flag on packets.
    /// aExtendedIDs: extended GVSP identifiers.
    /// aMaxQueuedBuffers: buffers waiting to be sent (1 to 1024).
    /// aStampBuffers: give each queued buffer the current time as timestamp.
    /// aRetainedBuffers: sent buffers kept for packet resends (0 to 1024).
    /// aPacketDelayNs: a pause after every packet, in nanoseconds.
    /// TN_STATE_ERROR when already open, TN_INVALID_PARAMETER for an address
    /// that is not a dotted IPv4 address or a limit out of its range.
    TnResult Open(TnString aDestinationAddress, uint16_t aDestinationPort, TnString aSourceAddress = TnString(""),
                  uint16_t aSourcePort = 0, bool aDoNotFragment = true, bool aExtendedIDs = false,
                  uint32_t aMaxQueuedBuffers = 64, bool aStampBuffers = false, uint32_t aRetainedBuffers = 32,
                  uint32_t aPacketDelayNs = 0);
    /// Aborts what is queued, frees every buffer and closes.
    TnResult Close();
    /// Adds aCount buffers (an array of pointers) to the free buffers.
    /// TN_INVALID_PARAMETER for a null array with a count, or a null buffer.
    TnResult LoadBufferPool(TnBuffer **aBuffers, uint32_t aCount);
    /// Queues a buffer for sending (its block ID, when set, is used; else
    /// the next). TN_NOT_CONNECTED when closed, TN_INVALID_PARAMETER for a
    /// null or empty buffer, TN_BUSY when the queue is full.
    TnResult QueueBuffer(TnBuffer *aBuffer);
    /// Takes a free buffer into *aBuffer, waiting at most aTimeout ms
    /// (0xFFFFFFFF: until one is free or the transmitter closes).
    /// TN_TIMEOUT when none came; TN_INVALID_PARAMETER for a null aBuffer.
    TnResult RetrieveFreeBuffer(TnBuffer **aBuffer, uint32_t aTimeout = 0xFFFFFFFF);
    /// Frees the queued buffers that have not started, waiting at most
    /// aTimeout ms for the one being sent; *aAbortedAll (when given) tells
    /// whether the transmitter went idle in time.
    TnResult AbortQueuedBuffers(uint32_t aTimeout = 0xFFFFFFFF, bool *aAbortedAll = nullptr);
    /// Sends one test packet of the packet size (payload of zeros).
    TnResult FireTestPacket();
    uint32_t GetQueuedBufferCount();
    /// The packet size: IP, UDP and GVSP headers included (576 to 16384;
    /// 1500 at first).
    uint32_t GetPacketSize();
    /// TN_INVALID_PARAMETER out of range, TN_BUSY while buffers are queued.
    TnResult SetPacketSize(uint32_t aPacketSize);
    /// Payload bits per second at most (0: unlimited, the default).
    float GetMaxPayloadThroughput();
    /// TN_INVALID_PARAMETER for a negative or not-a-number rate.
    TnResult SetMaxPayloadThroughput(float aMaxPayloadThroughput);
    uint16_t GetSourcePort();
    uint16_t GetDestinationPort();
    TnString GetDestinationIPAddress();
    TnString GetSourceIPAddress();
    /// Restarts the statistics and their sampling time.
    void ResetStats();
    uint64_t GetBlocksTransmitted() const;
    /// Nanoseconds since the statistics were reset.
    uint64_t GetSamplingTime() const;
    uint64_t GetPayloadBytesTransmitted() const;
    /// Payload bits per second over the last second.
    float GetInstantaneousPayloadThroughput() const;
    /// Payload bits per second since the statistics were reset.
    float GetAveragePayloadThroughput() const;
    /// Blocks per second over the last second.
    float GetInstantaneousTransmissionRate() const;
    /// Blocks per second since the statistics were reset.
    float GetAverageTransmissionRate() const;
    uint64_t GetNumberOfResendRequests() const;
    /// How long a sent buffer is kept for resends at most, in ms (0: until
    /// newer buffers push it out).
    TnResult SetSentBuffersTimeout(uint32_t aTimeout);
    uint32_t GetSentBuffersTimeout() const;
    bool IsOpen() const override;
    bool IsTransmitting() const override;
    bool GetExtendedIDs() const override;
    TnResult SetExtendedIDs(bool aExtendedID) override;
    void QueuePacketResend(uint64_t aBlockID, uint32_t aFirstPacketID, uint32_t aLastPacketID) override;
    /// The sending thread's priority: 0 (SCHED_OTHER) or 1 to 99 (SCHED_FIFO,
    /// when the process may use it).
    uint32_t GetUserModeTransmitterThreadPriority() const;
    /// TN_INVALID_PARAMETER above 99, TN_THREAD_ERROR when the system
    /// refused it for the running thread.
    TnResult SetUserModeTransmitterThreadPriority(uint32_t aPriority);
    /// The priority of the thread that hands out free buffers (kept; the
    /// free buffers are handed out on the caller's thread).
    uint32_t GetBufferPoolThreadPriority() const;
    TnResult SetBufferPoolThreadPriority(uint32_t aPriority);

#ifndef SWIG
private:
    TnTransmitterGEV(const TnTransmitterGEV &) = delete;
    TnTransmitterGEV &operator=(const TnTransmitterGEV &) = delete;
    tn::transmitter::TnTransmitter *mImpl;
#endif
};

#endif
