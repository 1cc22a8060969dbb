// The control side of a GigE Vision device over plain memory, for the
// responder to serve: bootstrap registers, the control channel privilege kept
// by heartbeats, the message channel that sends events to the controlling
// application, test packets of the stream channels, and force IP.
#ifndef TN_GVCP_DEVICE_H
#define TN_GVCP_DEVICE_H

#include <stddef.h>
#include <stdint.h>

#include <mutex>
#include <string>
#include <vector>

#include "TnGvcpClient.h"
#include "TnGvcpServer.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace gev
{
/// Registers are 32-bit big-endian words in one block of memory that starts
/// with the bootstrap registers. Its handler methods run on the responder's
/// thread; the other methods may be called from any thread.
///
/// Control: one application (address and port) at a time holds control or
/// exclusive privilege by writing the privilege register; it keeps it while
/// it sends a command at least once per heartbeat timeout. Other
/// applications may read (unless the privilege is exclusive) but not write:
/// GEV_STATUS_ACCESS_DENIED.
///
/// As the base of a device whose registers live elsewhere, a derived class
/// replaces ReadSpace and WriteSpace (the accesses the privilege allowed) and
/// hears of privilege changes through OnControlTaken and OnControlLeft. Those
/// four run on the calling thread with no lock of this class held.
class TN_GEV_API TnGvcpDevice : public TnGvcpRegisterHandler
{
public:
    /// A device announcing aInfo, with aMemorySize bytes of registers (at
    /// least the bootstrap block), one message channel and one stream channel.
    explicit TnGvcpDevice(const TnGvcpDeviceInfo &aInfo, size_t aMemorySize = 0x10000);
    ~TnGvcpDevice() override;

    // Memory as the device itself sees it: no privilege, no limits.
    bool Peek(uint32_t aAddress, void *aData, size_t aSize) const;
    bool Poke(uint32_t aAddress, const void *aData, size_t aSize);
    uint32_t GetRegister(uint32_t aAddress) const;
    void SetRegister(uint32_t aAddress, uint32_t aValue);

    /// Stores a GenICam file in memory at aAddress and points the first URL
    /// at it ("Local:aName;address;length"). False when it does not fit.
    bool SetLocalXml(const std::string &aName, uint32_t aAddress, const std::vector<uint8_t> &aFile);
    /// Sets the first URL as it is.
    void SetFirstUrl(const std::string &aUrl);

    /// Sends an event (with data when aData is given) on the message
    /// channel, waiting for the application's acknowledgement with the
    /// channel's timeout and retry count. TN_NOT_CONNECTED while the channel
    /// is closed (its port register 0).
    TnResult SendEvent(const TnGvcpEvent &aEvent, const uint8_t *aData = nullptr, size_t aSize = 0);

    /// The largest stream packet that reaches the application: test packets
    /// asked for with larger sizes get lost. 1500 at first.
    void SetPathMtu(uint32_t aPacketSize);

    /// Makes every write command slow: the device answers it with a pending
    /// acknowledgement of aPendingMs, then takes aDelayMs to serve it.
    void SetSlowWrites(uint16_t aPendingMs, uint32_t aDelayMs);

    /// The application holding privilege, if any (its address and port).
    bool GetController(TnGvcpPeer &aPeer) const;
    /// Ends a privilege whose heartbeat expired (OnControlLeft with
    /// aExpired); a device calls it now and then, so that a silent
    /// application loses control without anybody else asking.
    void CheckHeartbeat();
    /// The heartbeat timeout in milliseconds (the register's value, 3000 at
    /// first) for a device that keeps the register elsewhere.
    void SetHeartbeatTimeout(uint32_t aMilliseconds);
    /// Ends the privilege held, as if its holder released it (a device
    /// reset). OnControlLeft follows.
    void DropControl();
    /// Commands served, and test packets sent.
    uint64_t GetCommandCount() const;
    uint64_t GetTestPacketCount() const;

    // The handler.
    uint16_t ReadMemory(const TnGvcpPeer &aPeer, uint32_t aAddress, uint8_t *aData, size_t aSize) override;
    uint16_t WriteMemory(const TnGvcpPeer &aPeer, uint32_t aAddress, const uint8_t *aData, size_t aSize) override;
    uint16_t GetDiscoveryData(const TnGvcpPeer &aPeer, uint8_t *aData, size_t aSize) override;
    uint16_t GetPendingTime(const TnGvcpPeer &aPeer, const TnGvcpCommand &aCommand) override;
    bool HandleCommand(const TnGvcpPeer &aPeer, const TnGvcpCommand &aCommand, uint16_t &aStatus,
                       uint16_t &aAcknowledge, std::vector<uint8_t> &aPayload) override;

protected:
    /// A read or write that the privilege allowed; by default the memory,
    /// with the bootstrap block up to the URLs write-protected (but for the
    /// user-defined name) and the fire-test-packet bit of the stream
    /// channels' packet size served.
    virtual uint16_t ReadSpace(uint32_t aAddress, uint8_t *aData, size_t aSize);
    virtual uint16_t WriteSpace(uint32_t aAddress, const uint8_t *aData, size_t aSize);
    /// An application took control (aPrivilege: the privilege bits written).
    virtual void OnControlTaken(const TnGvcpPeer &aPeer, uint32_t aPrivilege);
    /// The application that held control released it, or fell silent
    /// (aExpired), or the device dropped it.
    virtual void OnControlLeft(const TnGvcpPeer &aPeer, bool aExpired);

private:
    /// A privilege change waiting to be told, after the lock.
    struct Change
    {
        bool mTaken = false;
        bool mExpired = false;
        TnGvcpPeer mPeer;
        uint32_t mPrivilege = 0;
    };

    bool InRange(uint32_t aAddress, size_t aSize) const;
    /// Drops a privilege whose heartbeat expired, then tells whether aPeer
    /// may read (aWrite false) or write.
    uint16_t CheckAccessLocked(const TnGvcpPeer &aPeer, bool aWrite, std::vector<Change> &aChanges);
    uint16_t WritePrivilegeLocked(const TnGvcpPeer &aPeer, uint32_t aValue, std::vector<Change> &aChanges);
    void ExpireLocked(uint64_t aNow, std::vector<Change> &aChanges);
    void Tell(const std::vector<Change> &aChanges);
    void FireTestPacketLocked(uint32_t aChannel, uint32_t aPacketSize);

    mutable std::mutex mMutex;
    std::vector<uint8_t> mMemory;
    bool mHeld = false;
    TnGvcpPeer mController;
    uint64_t mLastHeard = 0;
    uint32_t mPrivilege = 0;
    uint32_t mHeartbeatMs = 3000;
    uint32_t mPathMtu = 1500;
    uint16_t mPendingMs = 0;
    uint32_t mDelayMs = 0;
    uint64_t mCommands = 0;
    uint64_t mTestPackets = 0;
    TnUdpSocket mStreamSocket;

    std::mutex mEventMutex; // one event at a time
    TnGvcpClient mMessageChannel;
};
} // namespace gev
} // namespace tn

#endif
