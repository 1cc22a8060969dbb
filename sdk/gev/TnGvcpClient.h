// The controlling side of the control protocol: commands to one device and
// their acknowledgements, with request ids, retries, timeouts and pending
// acknowledgements.
#ifndef TN_GVCP_CLIENT_H
#define TN_GVCP_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "TnGevExport.h"
#include "TnGvcp.h"
#include "TnResult.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace gev
{
/// What a client counted since it was made.
struct TnGvcpClientStatistics
{
    uint64_t mCommands = 0;    // commands sent, each once however often it was repeated
    uint64_t mRetries = 0;     // repetitions after an attempt timed out
    uint64_t mTimeouts = 0;    // commands that got no answer at all
    uint64_t mPendingAcks = 0; // pending acknowledgements received
    uint64_t mFailures = 0;    // answers with a status other than success
};

/// A mutex that lets waiting threads in by turns, first come first served,
/// so that no thread (a heartbeat among busy user threads) waits for ever.
class TnFairMutex
{
public:
    void lock();
    void unlock();

private:
    std::mutex mMutex;
    std::condition_variable mTurn;
    uint64_t mNext = 0;
    uint64_t mServing = 0;
};

/// One device's control channel. Every operation is safe to call from several
/// threads: commands go out one at a time, in the order the threads asked.
class TN_GEV_API TnGvcpClient
{
public:
    static constexpr uint32_t kDefaultTimeoutMs = 200;
    static constexpr uint32_t kDefaultRetryCount = 3;
    // The longest a device may keep a command waiting with pending
    // acknowledgements before the client gives up.
    static constexpr uint32_t kMaxPendingWaitMs = 60000;

    TnGvcpClient();
    ~TnGvcpClient();
    TnGvcpClient(const TnGvcpClient &) = delete;
    TnGvcpClient &operator=(const TnGvcpClient &) = delete;

    /// Opens the channel to a device; with aLocalAddress 0 the channel uses
    /// the local address the route to the device leaves from. Opening again
    /// closes the earlier channel first.
    TnResult Open(uint32_t aDeviceAddress, uint16_t aDevicePort = kGvcpPort, uint32_t aLocalAddress = 0);
    void Close();
    bool IsOpen() const;

    /// How long one attempt waits for its acknowledgement.
    void SetTimeout(uint32_t aMilliseconds);
    uint32_t GetTimeout() const;

    /// How many times a command is sent again, with the same request id,
    /// after an attempt timed out.
    void SetRetryCount(uint32_t aRetries);
    uint32_t GetRetryCount() const;

    /// Whether the device takes several registers in one command (its
    /// concatenation capability). Off: one register per command.
    void SetConcatenation(bool aEnabled);
    bool GetConcatenation() const;

    /// The most bytes one read or write memory command moves: multiples of
    /// 4 from 4 to kGvcpMaxPayload - 4 (the nearest such value is taken);
    /// kGvcpMaxMemoryChunk at first.
    void SetMemoryChunkSizes(size_t aRead, size_t aWrite);
    size_t GetReadChunkSize() const;
    size_t GetWriteChunkSize() const;

    TnGvcpClientStatistics GetStatistics() const;

    uint32_t GetDeviceAddress() const;
    uint16_t GetDevicePort() const;
    uint32_t GetLocalAddress() const;
    uint16_t GetLocalPort() const;

    TnResult ReadRegister(uint32_t aAddress, uint32_t &aValue);
    TnResult ReadRegisters(const uint32_t *aAddresses, uint32_t *aValues, size_t aCount);
    TnResult WriteRegister(uint32_t aAddress, uint32_t aValue);
    /// On failure aWritten (when given) tells how many registers the device
    /// reported written.
    TnResult WriteRegisters(const uint32_t *aAddresses, const uint32_t *aValues, size_t aCount,
                            size_t *aWritten = nullptr);

    /// Reads any byte range: the range is widened to whole 32-bit words and
    /// split into commands of at most kGvcpMaxMemoryChunk bytes.
    TnResult ReadMemory(uint32_t aAddress, void *aData, size_t aSize);
    /// Writes any byte range in commands of at most kGvcpMaxMemoryChunk
    /// bytes; partial words at either end are read and merged first.
    TnResult WriteMemory(uint32_t aAddress, const void *aData, size_t aSize);
    /// Reads a NUL-padded text field of aFieldSize bytes.
    TnResult ReadString(uint32_t aAddress, size_t aFieldSize, std::string &aText);

    /// Sends one command and waits for its acknowledgement. aCommand is a
    /// whole command packet; its request id is set here. aAnswer receives the
    /// whole acknowledgement datagram and aAck its decoded form (pointing
    /// into aAnswer). A device status other than success comes back as a
    /// failed result, with aAck still filled in.
    TnResult Transact(std::vector<uint8_t> &aCommand, uint16_t aExpectedAck, std::vector<uint8_t> &aAnswer,
                      TnGvcpAck &aAck);

    /// Sends one command without asking for an acknowledgement; its request
    /// id is set here.
    TnResult Send(std::vector<uint8_t> &aCommand);

    /// The status of the last acknowledgement received (0 when none).
    uint16_t GetLastStatus() const;

private:
    TnResult TransactLocked(std::vector<uint8_t> &aCommand, uint16_t aExpectedAck, std::vector<uint8_t> &aAnswer,
                            TnGvcpAck &aAck);
    TnResult ReadMemoryLocked(uint32_t aAddress, uint8_t *aData, size_t aSize);
    TnResult WriteAlignedLocked(uint32_t aAddress, const uint8_t *aData, size_t aSize);

    mutable TnFairMutex mMutex;
    TnUdpSocket mSocket;
    uint32_t mDeviceAddress;
    uint16_t mDevicePort;
    uint32_t mTimeoutMs;
    uint32_t mRetryCount;
    bool mConcatenation;
    size_t mReadChunk;
    size_t mWriteChunk;
    TnGvcpClientStatistics mStatistics;
    uint16_t mNextRequestId;
    uint16_t mLastStatus;
    std::vector<uint8_t> mReceiveBuffer;
};
} // namespace gev
} // namespace tn

#endif
