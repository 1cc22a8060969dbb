// The sending side of a stream: a thread that sends queued blocks as GVSP
// packets (or, with mRtp, as RTP packets) over UDP in sendmmsg batches, paced
// to a rate, keeps recently sent blocks and sends packets of them again on
// request (GVSP only: RTP has no resends). A packet tap sees every batch sent,
// for a copy of the stream over another transport.
//
// Blocks are sent without copying: every packet is a small header buffer and
// vectors into the block's own memory. The caller keeps a block's memory
// untouched from Queue until the listener's OnBlockReleased, which comes when
// the block has left the resend ring (pushed out by newer blocks or after the
// retain timeout), when it was aborted, or at Close.
//
// Resend requests reach a sender through ITnGvspResendTarget, from any
// thread: the GVCP server of a device that owns the sender, or a
// TnGvspResendServer listening on a control port for a standalone sender.
#ifndef TN_GVSP_SENDER_H
#define TN_GVSP_SENDER_H

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "TnGevExport.h"
#include "TnGvcp.h"
#include "TnGvspPacketiser.h"
#include "TnResult.h"
#include "TnRtp.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace gev
{
/// What takes packet-resend requests: a sender, or anything that routes them
/// to one.
class TN_GEV_API ITnGvspResendTarget
{
public:
    virtual ~ITnGvspResendTarget();
    /// Packets aFirstPacketId to aLastPacketId (both included) of block
    /// aBlockId, again. Returns at once; the packets follow.
    virtual void QueuePacketResend(uint64_t aBlockId, uint32_t aFirstPacketId, uint32_t aLastPacketId) = 0;
};

/// Routes one GVCP datagram: a packet-resend command goes to the target of
/// its stream channel (aTargets[channel], when there and not null). Returns
/// whether it was a well-formed resend command for one of the targets. Resend
/// commands are never acknowledged.
TN_GEV_API bool RoutePacketResend(const uint8_t *aData, size_t aSize, ITnGvspResendTarget *const *aTargets, size_t aCount);

/// Where a sender reports blocks it is done with. Called on the sender's
/// thread (or on the thread that closes it), never with a lock of the sender
/// held.
class TN_GEV_API TnGvspSenderListener
{
public:
    virtual ~TnGvspSenderListener();
    /// The block's memory may be reused. aSent is false for a block aborted
    /// before all its packets went out.
    virtual void OnBlockReleased(void *aContext, uint64_t aBlockId, bool aSent) = 0;
};

/// Sees every batch of datagrams a sender sent (on the sender's thread,
/// right after the batch): the messages' vectors are valid during the call.
class TN_GEV_API ITnPacketTap
{
public:
    virtual ~ITnPacketTap();
    virtual void OnPackets(const mmsghdr *aMessages, size_t aCount) = 0;
};

struct TnGvspSenderConfig
{
    uint32_t mPacketSize = 1500;  ///< IP, UDP and GVSP headers included
    bool mExtendedIds = false;
    /// Pacing: datagram bytes per second, IP and UDP headers counted; 0 sends
    /// as fast as the socket takes them.
    double mMaxBytesPerSecond = 0;
    uint32_t mInterPacketDelayNs = 0; ///< a pause after every packet, on top of the rate
    uint32_t mBatchSize = 64;         ///< datagrams per sendmmsg
    uint32_t mRetainedBlocks = 8;     ///< sent blocks kept for resends
    uint32_t mRetainTimeoutMs = 0;    ///< a sent block is released after this long at the latest (0: never)
    uint32_t mQueueCapacity = 64;     ///< blocks waiting to be sent
    int mSendBufferSize = 0;          ///< SO_SNDBUF; 0 leaves the system's default
    bool mDoNotFragment = false;
    /// Faults for tests, applied to first transmissions only (never to
    /// resends): packets dropped, sent twice, or swapped with the next one,
    /// per thousand.
    uint32_t mDropPerMille = 0;
    uint32_t mDuplicatePerMille = 0;
    uint32_t mReorderPerMille = 0;
    uint64_t mSeed = 0x9E3779B97F4A7C15ull;
    /// RTP instead of GVSP (TnRtpPacketiser): the payload type, the
    /// synchronisation source and the first sequence number.
    bool mRtp = false;
    uint8_t mRtpPayloadType = kRtpDynamicPayloadType;
    uint32_t mRtpSsrc = 0;
    uint32_t mRtpFirstSequence = 0;
};

struct TnGvspSenderStatistics
{
    uint64_t mBlocksSent = 0;
    uint64_t mBlocksAborted = 0;
    uint64_t mPacketsSent = 0;
    uint64_t mBytesSent = 0;        ///< datagram bytes
    uint64_t mPayloadBytesSent = 0; ///< block payload bytes of first transmissions
    uint64_t mResendRequests = 0;   ///< requests taken
    uint64_t mResendRequestsRefused = 0; ///< for blocks no longer kept, or ids outside the block
    uint64_t mPacketsResent = 0;
    uint64_t mTestPackets = 0;
    uint64_t mPacketsDropped = 0;   ///< left out on purpose (test faults)
    uint64_t mSendErrors = 0;
    uint64_t mPacketsLost = 0;      ///< not sent after errors
    uint64_t mElapsedNs = 0;        ///< since the statistics were reset
};

class TN_GEV_API TnGvspSender : public ITnGvspResendTarget
{
public:
    TnGvspSender();
    ~TnGvspSender() override;
    TnGvspSender(const TnGvspSender &) = delete;
    TnGvspSender &operator=(const TnGvspSender &) = delete;

    /// Opens the socket (source address and port, 0 for any) towards the
    /// destination and starts the sending thread.
    TnResult Open(uint32_t aDestinationAddress, uint16_t aDestinationPort, const TnGvspSenderConfig &aConfig,
                  TnGvspSenderListener *aListener, uint32_t aSourceAddress = 0, uint16_t aSourcePort = 0);
    /// Aborts what is queued, releases every block and closes.
    void Close();
    bool IsOpen() const;
    /// Whether a block is queued or being sent.
    bool IsTransmitting() const;

    /// Queues a block. aBlockId 0 takes the next id (standard ids 1 to
    /// 65535, then 1 again). TN_BUSY when the queue is full,
    /// TN_INVALID_PARAMETER when the block cannot be packetised,
    /// TN_NOT_CONNECTED when closed.
    TnResult Queue(const TnGvspBlock &aBlock, void *aContext, uint64_t aBlockId = 0);
    /// The id Queue gives the next block that asks for one.
    uint64_t PeekNextBlockId() const;
    /// Releases the queued blocks that have not started (aSent false).
    void AbortQueued();
    /// Drops every block of aContext, queued, being sent or kept for
    /// resends, without telling the listener; returns once the sender no
    /// longer uses their memory (a block being sent is sent to its end
    /// first). From the listener's call on the sender's thread it returns
    /// at once.
    void Forget(const void *aContext);
    /// Waits until nothing is queued or being sent; TN_TIMEOUT otherwise.
    TnResult WaitIdle(uint32_t aTimeoutMs);
    uint32_t GetQueuedCount() const;

    /// Rate settings take effect with the next batch; packet size and ids
    /// only while nothing is queued (TN_BUSY otherwise).
    void SetMaxBytesPerSecond(double aBytesPerSecond);
    double GetMaxBytesPerSecond() const;
    TnResult SetPacketSize(uint32_t aPacketSize);
    uint32_t GetPacketSize() const;
    TnResult SetExtendedIds(bool aExtendedIds);
    bool GetExtendedIds() const;
    void SetRetainTimeoutMs(uint32_t aMilliseconds);
    uint32_t GetRetainTimeoutMs() const;

    void QueuePacketResend(uint64_t aBlockId, uint32_t aFirstPacketId, uint32_t aLastPacketId) override;

    /// For an owner that runs short of buffers: the oldest retained block
    /// goes (OnBlockReleased from the sender's thread) as soon as nothing is
    /// left to send, so that the resend ring gives way before the stream
    /// stalls. One block per request. Returns at once.
    void ReleaseRetained();

    /// Sends one test packet of exactly the packet size (GVSP only:
    /// TN_NOT_SUPPORTED with RTP).
    TnResult FireTestPacket();

    /// The tap that sees the batches sent from now on (null: none); it must
    /// stay until replaced or the sender is closed.
    void SetPacketTap(ITnPacketTap *aTap) { mTap = aTap; }

    bool IsRtp() const { return mConfig.mRtp; }

    TnGvspSenderStatistics GetStatistics() const;
    void ResetStatistics();

    /// The sending thread, while open (for its scheduling priority).
    std::thread::native_handle_type GetThreadHandle()
    {
        return mThread.native_handle();
    }

    uint32_t GetSourceAddress() const
    {
        return mSocket.GetLocalAddress();
    }

    uint16_t GetSourcePort() const
    {
        return mSocket.GetLocalPort();
    }

    uint32_t GetDestinationAddress() const
    {
        return mDestinationAddress;
    }

    uint16_t GetDestinationPort() const
    {
        return mDestinationPort;
    }

private:
    struct Entry
    {
        TnGvspBlock mBlock;
        uint64_t mBlockId = 0;
        void *mContext = nullptr;
        uint64_t mSentNs = 0;
    };
    struct Resend
    {
        uint64_t mBlockId;
        uint32_t mFirst;
        uint32_t mLast;
    };
    struct Slot
    {
        uint8_t mHeader[kGvspMaxHeaderBufferSize];
        iovec mVectors[kGvspMaxPacketVectors];
    };

    void Run();
    /// Close, under mLifeMutex.
    void CloseSender();
    bool SendBlock(Entry &aEntry);
    void ServeResends();
    void ReleaseExpired(uint64_t aNowNs, bool aAll, bool aIdle);
    void DropForgotten();
    void Release(const Entry &aEntry, bool aSent);
    Slot &NextSlot();
    /// The layout of the blocks sent (GVSP's or RTP's), set for the packet
    /// size; under mMutex.
    ITnPacketLayout &Layout();
    void AddToBatch(Slot &aSlot, size_t aVectors, size_t aSize);
    void Flush();
    void Pace(uint64_t aBytes, uint32_t aPackets);
    uint64_t Random();

    /// Open and Close, one at a time (two joins of the thread at once would
    /// never return).
    std::mutex mLifeMutex;
    mutable std::mutex mMutex;
    std::condition_variable mWake;    // the thread: a block or a resend to send, or stop
    std::condition_variable mIdle;    // waiters of WaitIdle
    std::deque<Entry> mQueue;
    std::vector<Resend> mResends;     // guarded by mMutex
    std::atomic<bool> mResendPending;
    std::atomic<bool> mReleaseWanted;     // an owner short of buffers: let a retained block go early
    std::atomic<bool> mStop;
    bool mBusy;                       // the thread sends a block
    bool mRunning;                    // the thread has not ended (guarded by mMutex)
    std::vector<const void *> mForget; // contexts whose kept blocks the thread is to drop (guarded by mMutex)
    uint64_t mForgetAsked;            // requests to drop, and those the thread served (guarded by mMutex)
    uint64_t mForgetServed;
    std::condition_variable mForgotten; // waiters of Forget
    uint64_t mNextBlockId;
    TnGvspSenderConfig mConfig;       // written under mMutex while idle; rates read by the thread
    std::atomic<double> mRate;
    std::atomic<uint32_t> mRetainTimeoutMs;
    TnGvspSenderListener *mListener;
    TnUdpSocket mSocket;
    uint32_t mDestinationAddress;
    uint16_t mDestinationPort;
    std::thread mThread;

    // The thread's own.
    TnGvspPacketiser mPacketiser;
    TnGvspPacketiser mResendPacketiser;
    TnRtpPacketiser mRtpPacketiser;
    std::atomic<ITnPacketTap *> mTap;
    std::deque<Entry> mRetained;
    std::vector<Resend> mResendWork;
    std::vector<Slot> mSlots;
    std::vector<mmsghdr> mMessages;
    size_t mFill;
    uint64_t mNextSendNs;
    uint64_t mRandom;
    int mHeld;                        // a packet held back to swap with the next (test faults): slot index, else -1

    // Statistics: written by the thread (and FireTestPacket), read anywhere.
    struct Counters
    {
        std::atomic<uint64_t> mBlocksSent{0}, mBlocksAborted{0}, mPacketsSent{0}, mBytesSent{0},
            mPayloadBytesSent{0}, mResendRequests{0}, mResendRequestsRefused{0}, mPacketsResent{0},
            mTestPackets{0}, mPacketsDropped{0}, mSendErrors{0}, mPacketsLost{0}, mResetNs{0};
    };
    Counters mCounters;
};

/// A standalone sender's control port: answers nothing, routes packet-resend
/// commands to the targets by stream channel, on a thread of its own.
class TN_GEV_API TnGvspResendServer
{
public:
    TnGvspResendServer();
    ~TnGvspResendServer();
    TnGvspResendServer(const TnGvspResendServer &) = delete;
    TnGvspResendServer &operator=(const TnGvspResendServer &) = delete;

    /// Listens on aLocalAddress:aPort (0: a free port). The targets (stream
    /// channel 0, 1, ...) must outlive Stop.
    TnResult Start(const std::vector<ITnGvspResendTarget *> &aTargets, uint32_t aLocalAddress = 0,
                   uint16_t aPort = kGvcpPort);
    void Stop();
    uint16_t GetPort() const
    {
        return mSocket.GetLocalPort();
    }
    uint64_t GetRequestCount() const
    {
        return mRequests.load();
    }

private:
    void Run();

    std::vector<ITnGvspResendTarget *> mTargets;
    TnUdpSocket mSocket;
    std::thread mThread;
    std::atomic<bool> mStop;
    std::atomic<uint64_t> mRequests;
};
} // namespace gev
} // namespace tn

#endif
