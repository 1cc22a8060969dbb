// The GigE Vision transport: the control channel with its heartbeat, the
// message channel, and the registers of the stream channels.
#ifndef TN_DEVICE_GEV_LINK_H
#define TN_DEVICE_GEV_LINK_H

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "TnDeviceCore.h"
#include "TnGvcpClient.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace device
{
class GevLink : public Link
{
public:
    explicit GevLink(DeviceCore &aCore);
    ~GevLink() override;

    /// Opens the control channel to the device, takes the access asked for,
    /// and starts the heartbeat and the message channel.
    TnResult Open(const TnDeviceInfoGEV &aInfo, TnAccessType aAccess, const LinkSettings &aSettings);

    TnResult Read(uint64_t aAddress, void *aData, size_t aSize) override;
    TnResult Write(uint64_t aAddress, const void *aData, size_t aSize) override;
    uint64_t GetAddressLimit() const override { return 1ull << 32; }
    /// GigE Vision writes memory in whole 4-byte words.
    uint32_t GetWriteUnit() const override { return 4; }
    TnResult ReadXmlUrl(std::string &aUrl) override;
    void ApplySettings(const LinkSettings &aSettings) override;
    void AddStatistics(LinkStatistics &aStatistics) const override;
    void Close(bool aRelease) override;
    uint32_t GetStreamChannelCount() const override { return mStreamChannels; }

    gev::TnGvcpClient &GetClient() { return mClient; }
    /// Writes a register without waiting for the device's answer.
    TnResult WriteRegisterUnacknowledged(uint32_t aAddress, uint32_t aValue);
    /// The heartbeat timeout the device uses, in milliseconds.
    uint32_t GetDeviceHeartbeatTimeout() const { return mDeviceTimeoutMs; }

private:
    void RunHeartbeat();
    void RunMessageChannel();
    TnResult OpenMessageChannel();
    uint32_t HeartbeatPeriodLocked() const;

    DeviceCore &mCore;
    gev::TnGvcpClient mClient;
    bool mPrivileged = false;
    uint32_t mStreamChannels = 0;
    uint32_t mMessageChannels = 0;
    std::atomic<uint32_t> mDeviceTimeoutMs{3000};

    std::mutex mHeartbeatMutex;
    std::condition_variable mHeartbeatWake;
    bool mStop = false;
    uint32_t mIntervalMs = 0;
    uint32_t mAnswerBudgetMs = 800; // how long an unanswered command takes, all retries included
    uint32_t mWantedTimeoutMs = 0;
    std::atomic<uint64_t> mHeartbeats{0};
    std::thread mHeartbeat;

    gev::TnUdpSocket mMessageSocket;
    std::atomic<bool> mStopMessages{false};
    std::thread mMessages;
};
} // namespace device
} // namespace tn

#endif
