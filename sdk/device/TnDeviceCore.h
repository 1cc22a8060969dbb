// What every device controller shares: the link to the device, the
// connection, the GenICam features over the link, the controller's own
// settings as features, and the delivery of notifications to event sinks.
//
// Threads: the transport's threads (heartbeat, message channel) post events
// and link loss to the controller's queue; one queue thread per controller
// calls the event sinks, one notification at a time, without any lock of the
// controller held. The sinks of reads and writes run on the thread that
// reads or writes, inside the feature's operation.
//
// A controller destroyed on one of the threads that work for it (its queue
// thread, or one inside a read or write of its features, from a sink) is
// ended on a thread of its own, which waits for the asking thread as any
// other thread would: no sink is called from then on, the read or write
// under way fails with TN_NOT_CONNECTED, and the state goes once the asking
// thread is out of it.
#ifndef TN_DEVICE_CORE_H
#define TN_DEVICE_CORE_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TnAccessType.h"
#include "TnDevice.h"
#include "TnDeviceXml.h"
#include "TnFork.h"
#include "TnMemory.h"
#include "TnSinkRegistry.h"

namespace tn
{
namespace device
{
/// The controller's link settings, each a feature of the communication
/// parameters.
struct LinkSettings
{
    uint32_t mAnswerTimeoutMs = 200;   // how long one command waits for its answer
    uint32_t mRetryCount = 3;          // repetitions of an unanswered command
    uint32_t mHeartbeatIntervalMs = 0; // 0: a third of the device's heartbeat timeout, or less (GevLink)
    uint32_t mHeartbeatTimeoutMs = 0;  // written to the device; 0: the device keeps its own
    uint32_t mReadChunk = 512;         // bytes per read memory command
    uint32_t mWriteChunk = 512;        // bytes per write memory command
    bool mMessageChannel = true;       // open the device's message channel on connection
};

/// What a link counted.
struct LinkStatistics
{
    uint64_t mCommands = 0;
    uint64_t mRetries = 0;
    uint64_t mTimeouts = 0;
    uint64_t mPendingAcks = 0;
    uint64_t mFailures = 0;
    uint64_t mHeartbeats = 0;
    uint64_t mEvents = 0;
};

/// A transport to one device. Every method is thread-safe.
class Link
{
public:
    virtual ~Link();
    virtual TnResult Read(uint64_t aAddress, void *aData, size_t aSize) = 0;
    virtual TnResult Write(uint64_t aAddress, const void *aData, size_t aSize) = 0;
    /// One past the highest address.
    virtual uint64_t GetAddressLimit() const = 0;
    /// The bytes of the words WriteMemory writes whole: its address and byte
    /// count are multiples of them.
    virtual uint32_t GetWriteUnit() const { return 1; }
    /// The location of the GenICam description.
    virtual TnResult ReadXmlUrl(std::string &aUrl) = 0;
    virtual void ApplySettings(const LinkSettings &aSettings) = 0;
    virtual void AddStatistics(LinkStatistics &aStatistics) const = 0;
    /// Ends the transport's threads and, with aRelease, gives the device's
    /// privilege back. Never called from the transport's own threads.
    virtual void Close(bool aRelease) = 0;
    /// The number of stream channels.
    virtual uint32_t GetStreamChannelCount() const = 0;
};

/// A controller made before a fork of this process belongs to the parent
/// (TnFork.h): its link is none in the child.
class DeviceCore : public ProcessOwner
{
public:
    explicit DeviceCore(TnDeviceType aType);
    virtual ~DeviceCore();
    DeviceCore(const DeviceCore &) = delete;
    DeviceCore &operator=(const DeviceCore &) = delete;

    void SetOwner(TnDevice *aOwner) { mOwner = aOwner; }
    TnDeviceType GetType() const { return mType; }

    TnResult Connect(const TnDeviceInfo *aInfo, TnAccessType aAccess);
    TnResult Connect(const TnString &aId, TnAccessType aAccess);
    TnResult Disconnect();
    /// Disconnects and stops the queue thread; before destruction.
    void Shutdown();
    /// Whether this is the thread that calls the event sinks.
    bool IsQueueThread() const;
    /// Whether the calling thread works for the controller: its queue
    /// thread, or one inside a read or write of its features.
    bool OnOwnThread() const;
    /// Destroys aCore (the public class's destruction): at once, or, on one
    /// of its own threads, on a thread of its own (see above).
    static void Destroy(DeviceCore *aCore);
    /// Whether the controller is being destroyed.
    bool IsEnding() const { return mEnding.load(); }
    bool IsConnected() const;
    TnAccessType GetAccessType() const;

    /// The link while connected; null otherwise.
    std::shared_ptr<Link> GetLink() const;
    /// The description of the connected (or last connected) device.
    std::shared_ptr<const TnDeviceInfo> GetInfo() const;

    TnGenParameterArray *GetParameters();
    /// The current array, kept for a use on this thread (a reconnect retires it meanwhile).
    std::shared_ptr<TnGenParameterArray> KeepParameters();
    TnGenParameterArray *GetCommunicationParameters();
    TnResult DumpXml(const TnString &aFileName);
    TnResult GetXmlFileName(TnString &aFileName);

    TnResult ReadMemory(int64_t aAddress, void *aData, int64_t aCount);
    TnResult WriteMemory(int64_t aAddress, const void *aData, int64_t aCount);
    /// Fails for writes when the access is read-only.
    TnResult CheckWritable() const;

    TnResult StreamLock(uint32_t aChannel, bool aLock);
    uint32_t GetPayloadSize();
    TnResult GetUniqueID(TnString &aId);
    bool IsVexmoorPowered() const;

    TnResult RegisterSink(TnDeviceEventSink *aSink);
    TnResult UnregisterSink(TnDeviceEventSink *aSink);
    /// The sinks registered now.
    std::vector<TnDeviceEventSink *> GetSinks() const { return mSinks.Snapshot(); }
    TnResult WaitIdle(uint32_t aTimeoutMs);

    // Priorities: kept and handed back.
    std::atomic<uint32_t> mHeartbeatPriority{0};
    std::atomic<uint32_t> mInterruptLinkPriority{0};
    std::atomic<uint32_t> mInterruptQueuePriority{0};

    // For the transports.
    LinkSettings GetSettings() const;
    void SetSettings(const LinkSettings &aSettings);
    LinkStatistics GetStatistics() const;
    /// The link died or the device took control away: the controller counts
    /// as disconnected, and the sinks hear of it once.
    void PostLinkLost(const std::string &aWhy);
    /// An event as the device sent it: aItem is the whole event item, its
    /// header first (what the GenICam event features are addressed in), and
    /// its data, if any, starts aDataOffset bytes into it.
    void PostEvent(uint16_t aEventId, uint16_t aChannel, uint64_t aBlockId, uint64_t aTimestamp, const uint8_t *aItem,
                   size_t aItemSize, size_t aDataOffset);
    /// A read or write through the GenICam port succeeded.
    void ReportPortAccess(bool aWrite, const void *aData, uint64_t aAddress, size_t aLength);
    TnGenAccessMode GetPortAccessMode() const;

protected:
    /// Whether a controller of this kind takes such a device.
    virtual bool Accepts(const TnDeviceInfo &aInfo) const = 0;
    /// Opens the transport, takes the access asked for, starts its threads.
    virtual TnResult OpenLink(const TnDeviceInfo &aInfo, TnAccessType aAccess, std::shared_ptr<Link> &aLink) = 0;

private:
    struct Notification
    {
        bool mLinkLost = false;
        uint16_t mEventId = 0;
        uint16_t mChannel = 0;
        uint64_t mBlockId = 0;
        uint64_t mTimestamp = 0;
        ZeroedMemory mItem; // header and data, a block a sink's view may keep
        size_t mItemSize = 0;
        size_t mDataOffset = 0;
    };

    /// Starts the thread that calls the sinks, unless it runs already.
    TnResult StartQueue();
    void RunQueue();
    void Deliver(Notification &aNotification);
    void Log(const std::string &aText) const;
    TnResult DisconnectLocked();
    TnGenParameterArray *BuildCommunicationParameters();

    const TnDeviceType mType;
    TnDevice *mOwner = nullptr;
    std::atomic<bool> mEnding{false}; // destroyed from its own thread: no sink is called

    std::mutex mConnectMutex; // one connect or disconnect at a time
    mutable std::mutex mMutex;
    std::shared_ptr<Link> mLink;
    std::shared_ptr<const TnDeviceInfo> mInfo;
    std::atomic<bool> mConnected{false};
    std::atomic<bool> mLinkAlive{false};
    TnAccessType mAccess = TnAccessUnknown;
    XmlDocument mXml;
    bool mHasXml = false;
    std::shared_ptr<TnGenParameterArray> mParameters;
    // Arrays of earlier connections, while the program holds them (a
    // retired array goes with the last of its proxies: TnHeldObjects.h).
    std::vector<std::weak_ptr<TnGenParameterArray>> mRetired;
    std::unique_ptr<TnGenParameterArray> mCommunication;
    LinkSettings mSettings;
    uint64_t mEventCount = 0;

    // A sink destroyed while registered leaves every controller
    // (TnDeviceEventSink's destructor).
    SinkRegistry<TnDeviceEventSink> mSinks{TrackSinks()};

    std::mutex mQueueMutex;
    std::condition_variable mQueueChanged;
    std::deque<Notification> mQueue;
    bool mDelivering = false;
    bool mStopQueue = false;
    std::thread mQueueThread;
    std::thread::id mQueueThreadId;
};
} // namespace device
} // namespace tn

#endif
