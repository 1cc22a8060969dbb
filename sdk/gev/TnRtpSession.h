// What a sender of RTP streams offers beside the stream itself: the same
// stream over TCP (RFC 4571, a 2-byte length before each packet) to every
// client that connects, and the announcement of its sessions with SAP.
#ifndef TN_RTP_SESSION_H
#define TN_RTP_SESSION_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TnGevExport.h"
#include "TnGvspSender.h"
#include "TnResult.h"

namespace tn
{
namespace gev
{
/// Serves a stream's packets to TCP clients: a tap of the stream's sender.
/// A client that takes no data for a while (its socket stays full) is
/// dropped, so that it never holds the stream up for long.
class TN_GEV_API TnRtpTcpServer final : public ITnPacketTap
{
public:
    TnRtpTcpServer();
    ~TnRtpTcpServer() override;
    TnRtpTcpServer(const TnRtpTcpServer &) = delete;
    TnRtpTcpServer &operator=(const TnRtpTcpServer &) = delete;

    /// Listens on aAddress:aPort and accepts clients on a thread of its own.
    TnResult Start(uint32_t aAddress, uint16_t aPort);
    void Stop();
    uint16_t GetPort() const { return mPort; }
    size_t GetClientCount() const;

    void OnPackets(const mmsghdr *aMessages, size_t aCount) override;

private:
    void Accept();

    int mListener;
    int mWake;
    uint16_t mPort;
    std::thread mThread;
    mutable std::mutex mMutex;
    std::vector<int> mClients;
    std::vector<uint8_t> mLengths;
    std::vector<iovec> mVectors;
};

/// Announces sessions with SAP (RFC 2974) to 224.2.127.254:9875 from a local
/// address, each one about every aIntervalMs, and sends a deletion for a
/// session that goes. The interval is far shorter than SAP's usual minutes,
/// so that a listener finds a session within a discovery's few seconds.
class TN_GEV_API TnSapAnnouncer
{
public:
    TnSapAnnouncer();
    ~TnSapAnnouncer();
    TnSapAnnouncer(const TnSapAnnouncer &) = delete;
    TnSapAnnouncer &operator=(const TnSapAnnouncer &) = delete;

    TnResult Start(uint32_t aOrigin, uint32_t aIntervalMs = 1000);
    /// Sends a deletion for every session, then ends.
    void Stop();

    /// Announces (or re-announces, changed) the session aKey: now, and from
    /// then on at the interval.
    void Set(uint32_t aKey, const std::string &aSdp);
    /// Sends the deletion of session aKey and stops announcing it.
    void Remove(uint32_t aKey);

private:
    struct Session
    {
        std::string mSdp;
        uint16_t mHash = 0;
    };

    void Run();
    void Send(const Session &aSession, bool aDeletion);

    uint32_t mOrigin;
    uint32_t mIntervalMs;
    int mSocket;
    std::thread mThread;
    std::mutex mMutex;
    std::condition_variable mWake;
    bool mStop;
    bool mDue;
    std::map<uint32_t, Session> mSessions;
};
} // namespace gev
} // namespace tn

#endif
