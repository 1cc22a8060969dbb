// The answering side of the control protocol: a small responder that serves
// discovery, register and memory commands from a register map.
#ifndef TN_GVCP_SERVER_H
#define TN_GVCP_SERVER_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "TnGevExport.h"
#include "TnGvcp.h"
#include "TnResult.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace gev
{
/// Who sent a command.
struct TnGvcpPeer
{
    uint32_t mAddress = 0;
    uint16_t mPort = 0;
};

/// What the responder serves. Its methods run on the responder's thread, one
/// at a time, with no lock of the responder held; whatever they throw is
/// caught and answered as GEV_STATUS_ERROR. Each returns a status code.
class TN_GEV_API TnGvcpRegisterHandler
{
public:
    virtual ~TnGvcpRegisterHandler();

    /// Fills aSize bytes (a multiple of 4) at aAddress (a multiple of 4).
    virtual uint16_t ReadMemory(const TnGvcpPeer &aPeer, uint32_t aAddress, uint8_t *aData, size_t aSize) = 0;
    virtual uint16_t WriteMemory(const TnGvcpPeer &aPeer, uint32_t aAddress, const uint8_t *aData, size_t aSize) = 0;

    /// One register; by default four bytes of memory, big-endian.
    virtual uint16_t ReadRegister(const TnGvcpPeer &aPeer, uint32_t aAddress, uint32_t &aValue);
    virtual uint16_t WriteRegister(const TnGvcpPeer &aPeer, uint32_t aAddress, uint32_t aValue);

    /// What a discovery acknowledgement announces; by default the first
    /// kDiscoveryDataSize bytes of memory.
    virtual uint16_t GetDiscoveryData(const TnGvcpPeer &aPeer, uint8_t *aData, size_t aSize);

    /// How long the command will take, in milliseconds, when the device must
    /// tell the client to wait: then a pending acknowledgement with that time
    /// goes out before the command is served. 0 (the default): none.
    virtual uint16_t GetPendingTime(const TnGvcpPeer &aPeer, const TnGvcpCommand &aCommand);

    /// Every well-formed command as it arrives, before it is served;
    /// aRepeated for one sent again with the request id it had (answered
    /// again, not served again). For counters; does nothing by default.
    virtual void OnCommand(const TnGvcpPeer &aPeer, const TnGvcpCommand &aCommand, bool aRepeated);

    /// Commands the responder does not serve itself (force IP, action, ...).
    /// Return false to answer GEV_STATUS_NOT_IMPLEMENTED; else fill in the
    /// acknowledgement's status, code and payload.
    virtual bool HandleCommand(const TnGvcpPeer &aPeer, const TnGvcpCommand &aCommand, uint16_t &aStatus,
                               uint16_t &aAcknowledge, std::vector<uint8_t> &aPayload);
};

/// Serves a register handler on a UDP port.
///
/// Events go the other way, from device to host: a device's message channel
/// is a TnGvcpClient opened towards the host's message channel address and
/// port, sending BuildEventCmd or BuildEventDataCmd packets with Transact.
class TN_GEV_API TnGvcpServer
{
public:
    TnGvcpServer();
    ~TnGvcpServer();
    TnGvcpServer(const TnGvcpServer &) = delete;
    TnGvcpServer &operator=(const TnGvcpServer &) = delete;

    /// Listens on aLocalAddress:aPort (port 0: a free one) and, for a
    /// specific local address, on the broadcast address of the same port, so
    /// that broadcast discovery reaches it. The handler must outlive Stop.
    TnResult Start(TnGvcpRegisterHandler *aHandler, uint32_t aLocalAddress = 0, uint16_t aPort = kGvcpPort);
    /// Ends the responder's thread; returns once no handler method runs.
    /// Called from a handler method, it only asks the thread to end.
    void Stop();
    bool IsRunning() const;
    /// Whether the calling thread is the responder's (a handler method runs).
    bool IsServingThread() const;

    uint32_t GetLocalAddress() const;
    uint16_t GetPort() const;
    /// The most bytes one read memory and one write memory command may move;
    /// larger ones are refused with GEV_STATUS_INVALID_PARAMETER. At first
    /// the protocol's limits (kGvcpMaxPayload - 4 each).
    void SetMemoryLimits(size_t aMaxRead, size_t aMaxWrite);

    /// Datagrams dropped or refused as malformed.
    uint64_t GetRejectedCount() const;

private:
    struct Answered
    {
        TnGvcpPeer mPeer;
        uint16_t mRequestId;
        uint16_t mCommand;
        std::vector<uint8_t> mAck;
    };

    void Run();
    void Wake();
    void JoinLocked();
    void Serve(const uint8_t *aData, size_t aSize, const TnGvcpPeer &aPeer);
    bool Dispatch(const TnGvcpPeer &aPeer, const TnGvcpCommand &aCommand, std::vector<uint8_t> &aAck);

    std::mutex mMutex; // guards starting and stopping
    TnGvcpRegisterHandler *mHandler;
    TnUdpSocket mSocket;
    TnUdpSocket mBroadcastSocket;
    int mWakeHandle;
    std::thread mThread;
    std::atomic<bool> mRunning;
    std::atomic<uint64_t> mRejected;
    std::atomic<size_t> mMaxRead;
    std::atomic<size_t> mMaxWrite;
    std::vector<Answered> mAnswered; // the responder thread's own: last answers, for repeated commands
    std::vector<uint8_t> mBuffer;
};
} // namespace gev
} // namespace tn

#endif
