// The receive engine of a GigE Vision stream: one thread, one UDP socket,
// batched receives, and each payload written by the kernel straight into its
// place in the block's memory.
//
// TnGvspScatterBatch is the socket-free part: it points the vectors of a
// batch of messages at the places the assembler predicts (a small header slot,
// the payload's place in the block, and scratch for anything longer), and
// after the receive hands each datagram to the assembler: in place when it is
// the packet predicted, else reassembled in scratch and copied once. Every
// mispredicted datagram is saved before any payload is copied, so that no
// copy can overwrite a datagram not yet read.
//
// TnGvspReceiver runs it: it owns the socket (unicast or multicast, bound to
// an address and port, 0 for an ephemeral port), the receive thread, the
// timers and the resend requests to the device's control port. Where it can
// (CAP_NET_RAW), it takes the datagrams from a packet ring instead
// (TnPacketRing.h): the kernel copies them into memory mapped into this
// process, a block of packets at a time with no system call per packet, and
// each payload is copied once from there into its place in the block's
// memory. Both feed the same assembler.
#ifndef TN_GVSP_RECEIVER_H
#define TN_GVSP_RECEIVER_H

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "TnGevExport.h"
#include "TnGvcp.h"
#include "TnGvspAssembler.h"
#include "TnPacketRing.h"
#include "TnReceiveThread.h"
#include "TnResult.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace gev
{
class TN_GEV_API TnGvspScatterBatch
{
public:
    /// aSlots messages per batch, each taking datagrams of up to
    /// aDatagramCapacity bytes.
    void Configure(size_t aSlots, size_t aDatagramCapacity);

    /// Points the messages at the assembler's predictions; returns how many
    /// messages the batch has.
    size_t Prepare(TnGvspAssembler &aAssembler);

    mmsghdr *GetMessages()
    {
        return mMessages.data();
    }

    size_t GetSlots() const
    {
        return mSlots;
    }

    /// Hands the first aReceived messages (msg_len and msg_flags filled in)
    /// to the assembler.
    void Complete(TnGvspAssembler &aAssembler, size_t aReceived, uint64_t aNowUs);

    /// Datagrams longer than the capacity, dropped.
    uint64_t GetTruncated() const
    {
        return mTruncated;
    }

    void ResetTruncated()
    {
        mTruncated = 0;
    }

private:
    enum Kind : uint8_t
    {
        kInPlace,
        kScratch
    };

    size_t mSlots = 0;
    size_t mCapacity = 0;
    size_t mHeaderSize = 0;
    std::vector<mmsghdr> mMessages;
    std::vector<iovec> mVectors;
    std::vector<uint8_t> mScratch;
    std::vector<TnGvspPrediction> mPredictions;
    std::vector<uint8_t> mKinds;
    uint64_t mTruncated = 0;
};

/// Where a receiver takes its datagrams from.
enum class TnGvspReceiverKind : uint8_t
{
    kAutomatic,  ///< the packet ring when one can be opened (jumbo packets: the socket), else the socket
    kPacketRing, ///< the packet ring, or the opening fails
    kSocket      ///< the UDP socket (batched receives, scattered in place)
};

struct TnGvspReceiverConfig
{
    TnGvspReceiverKind mKind = TnGvspReceiverKind::kAutomatic;
    /// The packet ring's size in bytes (memory the kernel takes at once).
    uint32_t mRingSize = 32u << 20;
    uint32_t mLocalAddress = 0;      ///< address to bind (0: any)
    uint16_t mLocalPort = 0;         ///< 0: a free port
    uint32_t mMulticastAddress = 0;  ///< a group to join, else 0
    uint32_t mMulticastInterface = 0; ///< the local address to join it on (0: the system's choice)
    int mSocketBufferSize = 0;       ///< SO_RCVBUF; 0 leaves the system's default
    uint32_t mPacketBufferSize = 17000; ///< the largest datagram taken
    uint32_t mBatchSize = 64;
    /// After a batch that emptied the socket, wait this long before the next
    /// receive so that it takes many datagrams at once: fewer system calls and
    /// wake-ups per packet for this much more latency. The socket buffer must
    /// hold what arrives meanwhile. 0: receive as soon as a datagram is there.
    uint32_t mCoalesceUs = 0;
    /// Where resend requests go: the device's control channel.
    uint32_t mDeviceAddress = 0;
    uint16_t mDevicePort = kGvcpPort;
    uint16_t mStreamChannel = 0;
    TnGvspAssemblerConfig mAssembler;
};

struct TnGvspReceiverStatistics
{
    TnGvspReceiveStatistics mAssembly;
    uint64_t mReceiveCalls = 0;      ///< recvmmsg calls that returned datagrams, and ring blocks taken
    uint64_t mSocketDrops = 0;       ///< datagrams the socket (or the packet ring) dropped, being full
    uint64_t mTruncated = 0;         ///< datagrams longer than the packet buffer
    uint64_t mReceiveErrors = 0;
    uint64_t mResendRequestsSent = 0; ///< resend commands sent
    uint64_t mResendSendErrors = 0;
};

class TN_GEV_API TnGvspReceiver : private TnGvspResendRequester
{
public:
    TnGvspReceiver();
    ~TnGvspReceiver() override;
    TnGvspReceiver(const TnGvspReceiver &) = delete;
    TnGvspReceiver &operator=(const TnGvspReceiver &) = delete;

    /// Opens and binds the socket (and joins the multicast group), and the
    /// packet ring as the configuration's kind asks. The provider gets its
    /// calls on the receive thread and must outlive Close.
    TnResult Open(const TnGvspReceiverConfig &aConfig, TnGvspBlockProvider *aProvider);
    /// Starts the receive thread.
    TnResult Start();
    /// Ends the receive thread; blocks in flight finish with TN_ABORTED and
    /// memory acquired in advance goes back to the provider.
    void Stop();
    /// Stops and closes the socket.
    void Close();

    bool IsOpen() const
    {
        return mSocket.IsOpen();
    }

    bool IsRunning() const
    {
        return mThread.IsRunning();
    }

    uint32_t GetLocalAddress() const
    {
        return mSocket.GetLocalAddress();
    }

    uint16_t GetLocalPort() const
    {
        return mSocket.GetLocalPort();
    }

    /// What the open receiver takes its datagrams from now: kPacketRing or
    /// kSocket. An automatic receiver with a ring takes packets of more than
    /// 4 KiB of payload from the socket (from the first such packet on).
    TnGvspReceiverKind GetKind() const
    {
        return mRingActive.load() ? TnGvspReceiverKind::kPacketRing : TnGvspReceiverKind::kSocket;
    }

    /// SO_RCVBUF as the system reports it (it may double what was asked).
    TnResult GetSocketBufferSize(uint32_t &aBytes) const;

    /// Drops every datagram waiting in the socket and every block in flight
    /// (TN_ABORTED); used before resuming after a pause. Returns once done.
    TnResult Flush();

    /// Ends every block in flight with TN_ABORTED and gives memory acquired
    /// in advance back to the provider, keeping the datagrams that wait in
    /// the socket. Returns once done; the provider's calls run on the receive
    /// thread while it runs, else on the caller's.
    TnResult AbortBlocks();

    /// New resend and timeout settings (the assembler's resend fields,
    /// reorder tolerance, block timeout and leader requirement; blocks in
    /// flight and the packet size stay as they are). Taken by the receive
    /// thread before its next receive.
    void SetPolicy(const TnGvspAssemblerConfig &aConfig);

    /// Receive coalescing (TnGvspReceiverConfig::mCoalesceUs), from the next
    /// wait on.
    void SetCoalesceUs(uint32_t aMicroseconds)
    {
        mCoalesceUs = aMicroseconds;
    }
    uint32_t GetCoalesceUs() const
    {
        return mCoalesceUs.load();
    }

    /// Whether only a block's leader starts it (packets of blocks whose
    /// leader was missed are ignored); takes effect with the next block.
    void SetRequireLeader(bool aRequireLeader);
    bool GetRequireLeader() const
    {
        return mRequireLeader.load();
    }

    /// The receive thread's priority (0 to 99) while the socket takes the
    /// datagrams: now, when the running receiver reads its socket, and
    /// whenever the receiver turns to it. While the packet ring takes them
    /// the thread runs at priority 0, the system's normal scheduling. False
    /// (and the priority as it was) when the system refuses it now.
    bool SetSocketPriority(uint32_t aPriority);
    uint32_t GetSocketPriority() const;

    TnGvspReceiverStatistics GetStatistics() const;
    void ResetStatistics();

private:
    void Run();
    /// Every counter of the statistics starts again from 0.
    void ResetCounters();
    /// Gives the receive thread the priority of the source it turns to.
    void ApplySourcePriority(bool aRing);
    void RunSocket();
    void RunRing();
    /// Whether the packets are small enough for the ring (or of a size not
    /// yet known).
    bool RingSuits() const;
    /// Makes the ring (or the socket) take the stream's datagrams.
    TnResult SetRingActive(bool aActive);
    /// Opens the packet ring for the open socket, and lets the socket take
    /// only what the ring cannot see.
    TnResult OpenRing();
    /// One receive of the socket (nothing waiting: none); returns what it
    /// took, or -1.
    int ReceiveBatch(uint64_t &aNowUs);
    /// The time (now or earlier) up to which every packet the ring took has
    /// been read.
    uint64_t RingSettledUs(uint64_t aNowUs) const;
    /// Leaves half of the ring unread when it is about to be full, and what
    /// follows up to a leader; whether it did.
    bool ShedRingBacklog();
    /// Hands the packets of a ring block to the assembler.
    void TakeRingBlock(const uint8_t *aBlock, size_t aSize, uint64_t aNowUs);
    /// What the gate makes of a datagram of the stream from the ring:
    /// whether it goes to the assembler (false: its block was shed).
    bool PassesGate(const uint8_t *aPayload, size_t aSize, uint64_t aArrivedNs, uint64_t aNowUs);
    /// Tells the gate how far behind the receiver is, and installs the ring
    /// filter it plans.
    void SteerRing();
    /// The newest packet of the stream in the blocks the kernel handed over.
    TnRingNewest NewestRingPacket() const;
    /// The gate starts anew, open, knowing the ring's packing.
    void ResetGate();
    /// The ring takes every packet of the stream, the gate open.
    void OpenGate();
    /// Serves what other threads asked for, before a receive.
    void TakeRequests();
    /// Publishes the statistics and gives the wait before the next look:
    /// aWaitUs, within the idle bounds.
    timespec IdleWait(uint64_t aNowUs, uint64_t aWaitUs);
    void Publish(uint64_t aNowUs, bool aForce);
    void Drain();
    /// Asks the receive thread to abort the blocks (and drain the socket
    /// first with aDrain), and waits until it has; does it here when the
    /// thread does not run.
    TnResult RunAbort(bool aDrain);
    void ServeRequests();
    /// The socket's count of dropped datagrams (SO_MEMINFO).
    bool ReadSocketDrops(uint32_t &aDrops) const;
    void RequestResend(uint64_t aBlockId, uint32_t aFirstPacketId, uint32_t aLastPacketId,
                       bool aExtendedIds) override;

    TnGvspReceiverConfig mConfig;
    TnGvspBlockProvider *mProvider;
    TnUdpSocket mSocket;
    TnUdpSocket mResendSocket;
    TnReceiveThread mThread;
    std::atomic<bool> mResetRequested;
    std::atomic<bool> mRequireLeader;
    std::atomic<uint32_t> mCoalesceUs;
    std::atomic<bool> mRingActive; // the ring takes the datagrams (else the socket)
    mutable std::mutex mPriorityMutex; // guards the two priority fields
    uint32_t mSocketPriority;
    uint32_t mAppliedPriority; // the running thread's
    // Requests served by the receive thread: aborts (with or without a
    // drain), which their callers wait for, and new settings. mRequests is
    // what waits, as bits.
    enum : uint32_t
    {
        kRequestAbort = 1,
        kRequestDrain = 2,
        kRequestPolicy = 4
    };
    std::atomic<uint32_t> mRequests;
    TnGvspAssemblerConfig mPolicy; // guarded by the thread's request lock
    TnGvspAssembler mAssembler;
    TnGvspScatterBatch mBatch;
    TnPacketRing mRing; // its configuration holds the filter and the interface
    uint64_t mRingHoldUs; // the longest a packet waits in the kernel's block
    // After a flush, packets the kernel took before it (its real-time clock)
    // are dropped as they come out of the ring, until mFlushUntilUs.
    uint64_t mFlushBeforeNs;
    uint64_t mFlushUntilUs;
    uint64_t mRingTruncated;
    uint64_t mRingMalformed;
    uint64_t mRingShed; // packets of blocks left unread to catch up, not yet published
    bool mRingSkipToLeader; // after a shed: packets go unread up to a leader
    TnRingGate mGate; // whole blocks under overload
    uint64_t mRingBlocksRead; // ring blocks taken or left unread since the ring opened
    uint32_t mRingPacketsPerBlock; // the most packets a ring block held
    uint64_t mRingSkipped; // packets of blocks the gate shed, left unread, not yet published
    bool mRingDropped; // the ring dropped packets since the gate last heard
    bool mShedKnown; // mShedBlock / mShedVerdict hold the last block looked up
    uint64_t mShedBlock;
    bool mShedVerdict;
    uint32_t mDropsSeen; // the socket's drop count last read (receive thread, or any while it does not run)
    uint16_t mRequestId;
    TnGvspReceiverStatistics mLocal; // the receive thread's own
    uint64_t mLastPublishUs;
    mutable std::mutex mPublishMutex;
    TnGvspReceiverStatistics mPublished;
};
} // namespace gev
} // namespace tn

#endif
