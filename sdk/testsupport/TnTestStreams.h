// Test support: stream traffic. TestFrames sends patterned frames through
// the SDK's stream sender (tool::FillPattern, each frame stamped with its
// block id); StreamDevice is a GigE Vision device for stream tests whose
// control port, played by our responder, tells its capabilities and hands
// packet-resend commands to a sender.
#ifndef TN_TEST_STREAMS_H
#define TN_TEST_STREAMS_H

#include <stddef.h>
#include <stdint.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "TnGvspPacketiser.h"
#include "TnGvspSender.h"
#include "TnTestDevices.h"

namespace tn
{
namespace test
{
/// Frames of aWidth x aHeight Mono8, filled with the test pattern.
class TestFrames : public tn::gev::TnGvspSenderListener
{
public:
    TestFrames(uint32_t aWidth, uint32_t aHeight, size_t aCount);

    void OnBlockReleased(void *aContext, uint64_t aBlockId, bool aSent) override;

    /// Queues aCount frames, each stamped with its block id, waiting for the
    /// sender to give frames back when all are out; aFirstId, when not 0, is
    /// the first frame's block id (the next ones follow it). Returns the block
    /// ids sent.
    std::vector<uint64_t> Send(tn::gev::TnGvspSender &aSender, size_t aCount, uint64_t aFirstId = 0);

    uint32_t GetWidth() const { return mWidth; }

    uint32_t GetHeight() const { return mHeight; }

private:
    uint32_t mWidth;
    uint32_t mHeight;
    std::vector<std::vector<uint8_t>> mMemory;
    std::mutex mMutex;
    std::condition_variable mReleased;
    std::vector<size_t> mFree;
};

/// Every datagram of aBlock sent as block aBlockId in packets of
/// aPacketSize bytes, in order, as the packetiser cuts them.
std::vector<std::vector<uint8_t>> BlockDatagrams(const tn::gev::TnGvspBlock &aBlock, uint64_t aBlockId,
                                                 uint32_t aPacketSize, bool aExtendedIds = false);

/// A sender setting for tests: 1500-byte packets at 20 MB/s, a few blocks
/// kept for resends, and faults per thousand packets.
tn::gev::TnGvspSenderConfig FaultySenderConfig(uint32_t aDrop, uint32_t aReorder, uint32_t aDuplicate);

/// A device at 127.0.0.1 whose control port (aPort, 0 for a free one) serves
/// its bootstrap registers, packet resend among its capabilities when asked,
/// and routes packet-resend commands of channel 0 to a sender.
class StreamDevice : public MemoryDevice
{
public:
    explicit StreamDevice(bool aResend);
    ~StreamDevice() override;

    bool Start(uint16_t aPort = 0);
    void Stop();
    uint16_t GetPort() const { return mServer.GetPort(); }

    /// Where resend commands go (null: nowhere).
    void SetSender(tn::gev::ITnGvspResendTarget *aTarget);

    /// Resend commands received.
    uint64_t GetResendCount() const;

    bool HandleCommand(const tn::gev::TnGvcpPeer &aPeer, const tn::gev::TnGvcpCommand &aCommand, uint16_t &aStatus,
                       uint16_t &aAcknowledge, std::vector<uint8_t> &aPayload) override;

private:
    tn::gev::TnGvcpServer mServer;
    mutable std::mutex mTargetMutex;
    tn::gev::ITnGvspResendTarget *mTarget = nullptr;
    uint64_t mResends = 0;
};
} // namespace test
} // namespace tn

#endif
