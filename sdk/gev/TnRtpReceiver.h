// The receive engine of an RTP stream: one thread, one socket, the frame
// assembler.
//
// Over UDP (unicast on a local address and port, or a multicast group's data
// port) it takes the datagrams in recvmmsg batches; for raw video each
// batch's receive vectors point at the places the assembler predicts, so
// that the kernel writes each line segment straight into the frame's memory
// (TnRtpScatterBatch, the socket-free part). Over TCP (RFC 4571) it connects
// to the server, reads the byte stream in large chunks and hands each packet
// to the assembler; it connects again when the server closes the
// connection.
#ifndef TN_RTP_RECEIVER_H
#define TN_RTP_RECEIVER_H

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "TnGevExport.h"
#include "TnReceiveThread.h"
#include "TnResult.h"
#include "TnRtpAssembler.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace gev
{
/// Points a batch of receive messages at the assembler's predictions: the
/// headers to a slot of their own, each segment's data to its place, and
/// anything longer to scratch. After the receive, every datagram that missed
/// its prediction is made whole in its scratch first, then each goes to the
/// assembler: in place when it is the packet predicted, else copied once.
class TN_GEV_API TnRtpScatterBatch
{
public:
    void Configure(size_t aSlots, size_t aDatagramCapacity);
    /// Returns the number of messages of the batch.
    size_t Prepare(TnRtpAssembler &aAssembler);
    mmsghdr *GetMessages() { return mMessages.data(); }
    /// Hands the first aReceived messages to the assembler.
    void Complete(TnRtpAssembler &aAssembler, size_t aReceived, uint64_t aNowUs);
    /// Datagrams longer than the capacity, dropped.
    uint64_t GetTruncated() const { return mTruncated; }
    void ResetTruncated() { mTruncated = 0; }

private:
    static constexpr size_t kVectors = kRtpRawMaxSegments + 2;

    size_t mSlots = 0;
    size_t mCapacity = 0;
    std::vector<mmsghdr> mMessages;
    std::vector<iovec> mVectors;
    std::vector<uint8_t> mScratch;
    std::vector<TnRtpPrediction> mPredictions;
    std::vector<uint8_t> mInPlace;
    uint64_t mTruncated = 0;
};

struct TnRtpReceiverConfig
{
    uint32_t mLocalAddress = 0;       ///< unicast: the address to bind (0: any)
    uint16_t mLocalPort = 0;          ///< unicast: 0 for a free port; multicast: the data port
    uint32_t mMulticastAddress = 0;   ///< a group to join, else 0
    uint32_t mMulticastInterface = 0; ///< the local address to join it on (0: the system's choice)
    uint32_t mServerAddress = 0;      ///< TCP: the server, else 0
    uint16_t mServerPort = 0;
    int mSocketBufferSize = 0;        ///< SO_RCVBUF; 0 leaves the system's default
    uint32_t mBatchSize = 64;
    /// After a receive that emptied the socket, wait this long before the
    /// next, so that it takes many datagrams at once.
    uint32_t mCoalesceUs = 0;
    TnRtpAssemblerConfig mAssembler;
};

struct TnRtpReceiverStatistics
{
    TnRtpReceiveStatistics mAssembly;
    uint64_t mReceiveCalls = 0;
    uint64_t mSocketDrops = 0;   ///< datagrams the socket dropped (its buffer was full)
    uint64_t mTruncated = 0;     ///< datagrams longer than the largest packet taken
    uint64_t mReceiveErrors = 0;
    uint64_t mConnections = 0;   ///< TCP: connections made
};

class TN_GEV_API TnRtpReceiver
{
public:
    TnRtpReceiver();
    ~TnRtpReceiver();
    TnRtpReceiver(const TnRtpReceiver &) = delete;
    TnRtpReceiver &operator=(const TnRtpReceiver &) = delete;

    /// Opens the socket: binds it (and joins the group), or connects to the
    /// TCP server. The provider gets its calls on the receive thread and must
    /// outlive Close.
    TnResult Open(const TnRtpReceiverConfig &aConfig, TnRtpFrameProvider *aProvider);
    TnResult Start();
    /// Ends the thread; frames in flight end with TN_ABORTED and memory
    /// taken in advance goes back.
    void Stop();
    void Close();

    bool IsRunning() const { return mThread.IsRunning(); }
    uint32_t GetLocalAddress() const { return mLocalAddress; }
    uint16_t GetLocalPort() const { return mLocalPort; }

    /// Ends every frame in flight with TN_ABORTED (dropping what waits in the
    /// socket too with aDrain), on the receive thread while it runs; returns
    /// once done.
    TnResult AbortFrames(bool aDrain);

    /// The reorder tolerance and frame timeout, from the next receive on.
    void SetTimes(uint32_t aReorderToleranceUs, uint32_t aFrameTimeoutUs);

    /// What the assembler expects, from the next receive on; frames in
    /// flight end with TN_ABORTED.
    void SetAssembly(const TnRtpAssemblerConfig &aConfig);

    /// The assembler's settings: read on the receive thread (in the
    /// provider's calls), or while it does not run.
    const TnRtpAssemblerConfig &GetAssembly() const { return mAssembler.GetConfig(); }

    TnRtpReceiverStatistics GetStatistics() const;
    void ResetStatistics();

    std::thread::native_handle_type GetThreadHandle() { return mThread.GetNativeHandle(); }

private:
    TnResult Connect(uint32_t aTimeoutMs);
    void Run();
    void ReceiveDatagrams(uint64_t aNowUs, bool &aDrained);
    void ReceiveStream(uint64_t aNowUs, bool &aDrained);
    void Serve();
    void Drain();
    void Publish(uint64_t aNowUs, bool aForce);
    void CloseSocket();

    TnRtpReceiverConfig mConfig;
    TnRtpFrameProvider *mProvider;
    int mHandle;
    bool mTcp;
    uint32_t mLocalAddress;
    uint16_t mLocalPort;
    TnReceiveThread mThread;
    // Requests the thread serves before its next receive (guarded by the
    // thread's request lock, as the settings below).
    uint32_t mRequests;
    uint32_t mReorderToleranceUs;
    uint32_t mFrameTimeoutUs;
    TnRtpAssemblerConfig mPendingAssembly;
    bool mResetRequested;
    TnRtpAssembler mAssembler;
    TnRtpScatterBatch mBatch;
    std::vector<uint8_t> mStream; // TCP: bytes read, not yet handed on
    size_t mStreamFill;
    uint64_t mNextConnectUs;
    uint32_t mDropsSeen;
    TnRtpReceiverStatistics mLocal;
    uint64_t mLastPublishUs;
    mutable std::mutex mPublishMutex;
    TnRtpReceiverStatistics mPublished;
};
} // namespace gev
} // namespace tn

#endif
