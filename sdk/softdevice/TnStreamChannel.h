// One stream channel of the software device: its source, the buffers the
// source gave, and the thread that runs the source's streaming operations
// and sends the filled buffers as GVSP blocks through the stream sender, or,
// with RTP selected, as RTP (images as raw video, H.264 access units per
// RFC 6184) to the channel's multicast group, announced by SAP and served
// over TCP too where the device offers it.
//
// Threads and locks: the channel's thread calls the source with no lock
// held; mMutex guards the settings, the free buffers and the requests, and
// is never held while the source or the sender's listener runs. The sender
// reports released blocks on its own thread (OnBlockReleased), which only
// takes mMutex. What the thread uses lives in a shared state that it keeps
// alive, so that a thread stuck in its source outlives the channel safely.
#ifndef TN_STREAM_CHANNEL_H
#define TN_STREAM_CHANNEL_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "ITnStreamingChannelSource.h"
#include "TnGvspBufferBlock.h"
#include "TnGvspSender.h"
#include "TnPixelType.h"
#include "TnRtpSession.h"

class TnBuffer;

namespace tn
{
namespace softdevice
{
/// What a block's leader says when the buffer's image gives no geometry.
using TnChannelGeometry = gev::TnBlockGeometry;

struct TnChannelCounters
{
    uint64_t mBlocks = 0;          ///< blocks handed to the sender
    uint64_t mSourceFailures = 0;  ///< source calls that threw or answered nonsense
    uint64_t mTestPackets = 0;
};

class TnStreamChannel final
{
public:
    /// aOwner: the device, which the channel's thread works for
    /// (WorkingFor, TnThreads.h).
    TnStreamChannel(size_t aIndex, ITnSWStreamingChannelSource *aSource, uint32_t aLocalAddress,
                    const void *aOwner);
    ~TnStreamChannel();
    TnStreamChannel(const TnStreamChannel &) = delete;
    TnStreamChannel &operator=(const TnStreamChannel &) = delete;

    /// The buffers AllocBuffer gave (during the device's start).
    void SetBuffers(const std::vector<TnBuffer *> &aBuffers);
    const std::vector<TnBuffer *> &GetBuffers() const { return mBuffers; }

    // Settings from the stream channel registers (any thread).
    void SetDestination(uint32_t aAddress, uint16_t aPort);
    void SetPacketSize(uint32_t aPacketSize);
    void SetPacketDelay(uint32_t aTicks);
    void SetTimestamping(bool aEnabled);
    /// GenDC streaming mode: buffers of the GenDC payload type go as GenDC
    /// blocks, else as raw data.
    void SetGenDC(bool aEnabled);
    void SetGeometry(const TnChannelGeometry &aGeometry);
    void SetTimestampOrigin(uint64_t aOriginNs);

    /// Starts the channel's thread (idle until StartAcquisition).
    void Run();
    /// AcquisitionStart and AcquisitionStop: asks the thread, returns at once.
    void StartAcquisition();
    void StopAcquisition();
    bool IsStreaming() const;
    /// Ends acquisition and the thread, waiting at most aTimeoutMs; false
    /// when the thread is stuck in the source (it is then left to end on its
    /// own, keeping what it uses alive). On the channel's own thread it only
    /// asks: the thread ends once the source's call returns.
    bool Shutdown(uint32_t aTimeoutMs);

    /// Makes RTP selectable (before Run): the multicast group and port the
    /// RTP stream goes to, served over TCP on that port of aTcpAddress when
    /// not 0 (a port that cannot be had is logged, and the announcement
    /// offers no TCP), and announced as aName through aAnnouncer (the
    /// device's).
    void EnableRtp(uint32_t aGroup, uint16_t aPort, uint32_t aTcpAddress, gev::TnSapAnnouncer *aAnnouncer,
                       const std::string &aName);
    /// Sends RTP instead of GVSP (once enabled), from the next block on.
    void SetRtp(bool aRtp);
    bool IsRtp() const;

    /// Sends a test packet of the packet size to the destination.
    void FireTestPacket();
    /// For packet-resend commands of this channel.
    gev::ITnGvspResendTarget *GetResendTarget();
    uint16_t GetSourcePort() const;
    TnChannelCounters GetCounters() const;

private:
    struct Shared;
    static void Loop(std::shared_ptr<Shared> aShared);

    std::shared_ptr<Shared> mShared;
    std::vector<TnBuffer *> mBuffers;
};
} // namespace softdevice
} // namespace tn

#endif
