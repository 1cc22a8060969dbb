// The software GigE Vision device behind TnSoftDeviceGEV, one file a job:
//   - its configuration, what it hands out and its counters
//     (TnSoftDevice.cpp);
//   - its start and stop (TnSoftDeviceStart.cpp);
//   - its control channel, on TnGvcpDevice and TnGvcpServer
//     (TnSoftDeviceControl.cpp);
//   - the reactions to its own registers (TnSoftDeviceRegisters.cpp);
//   - its stream channels (TnSoftDeviceStreams.cpp).
// Its information object and message channel are in TnSoftDeviceParts.cpp.
//
// Threads:
//   - the program's threads: configuration, Start, Stop, the getters;
//   - the control thread (TnGvcpServer): commands, register sinks of
//     accesses by controllers, the event sinks' connect and disconnect;
//   - the housekeeping thread: heartbeat expiry, every 100 ms;
//   - one thread per stream channel (TnStreamChannel);
//   - with RTP selectable, the SAP announcer's thread, and per channel the
//     accepting thread of its TCP server when TCP is enabled too;
//   - for a stop or a destruction asked for on one of the device's own
//     threads (those above, and a program's thread inside Start or Stop,
//     where the creation and stop callbacks run), a thread of its own that
//     does the work, waiting for the asking thread as any other thread
//     would: so the stop completes, and the device is freed, once the
//     callback that asked has returned.
// Locks, in the order they are taken:
//   1. mMutex: the configuration and the state (stopped, starting, running,
//      stopping: one Start or Stop at a time, and no lock held while Start
//      and Stop call the program); never held while the program's code
//      (sinks, sources, notifications) runs;
//   2. the locks of TnGvcpDevice, the register map and the stream channels.
// What the program hands over (sinks, the notification, sources) is held in
// tracked registries (TnSinkRegistry.h): destroyed, it leaves the device, and
// no call of it starts afterwards.
#ifndef TN_SOFT_DEVICE_H
#define TN_SOFT_DEVICE_H

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ITnVirtualDeviceGEV.h"
#include "TnFork.h"
#include "TnGenDCContainer.h"
#include "TnGvcpClient.h"
#include "TnGvcpDevice.h"
#include "TnGvcpServer.h"
#include "TnRtpSession.h"
#include "TnSinkRegistry.h"
#include "TnSoftDeviceLog.h"
#include "TnStandardFeatures.h"
#include "TnStreamChannel.h"
#include "TnThreads.h"
#include "TnUserSets.h"

namespace tn
{
namespace softdevice
{
class TnSoftDevice;

/// The device's information object.
class TnSoftDeviceInfo final : public ITnVirtualDeviceGEVInfo
{
public:
    explicit TnSoftDeviceInfo(TnSoftDevice &aDevice);

    const TnString &GetManufacturerName() override;
    const TnString &GetModelName() override;
    const TnString &GetDeviceVersion() override;
    const TnString &GetDeviceFirmwareVersion() override;
    const TnString &GetManufacturerInformation() override;
    const TnString &GetSerialNumber() override;
    TnResult SetManufacturerName(const TnString &aValue) override;
    TnResult SetModelName(const TnString &aValue) override;
    TnResult SetDeviceVersion(const TnString &aValue) override;
    TnResult SetDeviceFirmwareVersion(const TnString &aValue) override;
    TnResult SetManufacturerInformation(const TnString &aValue) override;
    TnResult SetSerialNumber(const TnString &aValue) override;
    uint16_t GetGenICamXMLVersionMajor() const override;
    uint16_t GetGenICamXMLVersionMinor() const override;
    uint16_t GetGenICamXMLVersionSubMinor() const override;
    const TnString &GetGenICamXMLProductGUID() override;
    const TnString &GetGenICamXMLVersionGUID() override;
    const TnString &GetGenICamXMLRegDescModelName() override;
    const TnString &GetGenICamXMLRegDescVendorName() override;
    TnResult SetGenICamXMLVersion(uint16_t aMajor, uint16_t aMinor, uint16_t aSubMinor) override;
    TnResult SetGenICamXMLGUIDs(const TnString &aProductGUID, const TnString &aVersionGUID) override;
    TnResult SetGenICamXMLRegDescModelName(const TnString &aValue) override;
    TnResult SetGenICamXMLRegDescVendorName(const TnString &aValue) override;

    /// The identity as the registers and the description take it.
    TnDeviceIdentity Identity() const;
    TnDescriptionInfo Description() const;
    /// Once the description is built, the XML header is fixed.
    void SetXmlBuilt(bool aBuilt);

private:
    enum Field
    {
        Manufacturer,
        Model,
        Version,
        Firmware,
        Information,
        Serial,
        ProductGuid,
        VersionGuid,
        RegDescModel,
        RegDescVendor,
        FieldCount
    };
    TnResult Set(Field aField, const TnString &aValue, size_t aMaxLength);
    const TnString &Get(Field aField);

    TnSoftDevice &mDevice;
    mutable std::mutex mMutex;
    // Strings handed out by reference stay where they are: each field keeps
    // every text it had (a reference a caller holds stays valid).
    std::vector<std::unique_ptr<TnString>> mTexts[FieldCount];
    bool mRegDescSet[2] = {false, false};
    uint16_t mXmlVersion[3] = {1, 0, 0};
    bool mXmlBuilt = false;
};

/// The device's protocol counters.
class TnSoftDeviceStatistics final : public ITnVirtualDeviceGEVStatistics
{
public:
    enum Counter
    {
        ReadMems,
        WriteMems,
        ReadRegs,
        WriteRegs,
        Discoveries,
        ActionCommands,
        ForceIps,
        PacketResends,
        PendingAcks,
        Retries,
        RetriesMax,
        Events,
        EventDatas,
        EventRetries,
        EventRetriesMax,
        SessionsOpened,
        SessionsClosed,
        HeartbeatFailed,
        TestPackets,
        CounterCount
    };

    void Reset() override;
    uint64_t GetReadMemsReceived() const override { return Get(ReadMems); }
    uint64_t GetWriteMemsReceived() const override { return Get(WriteMems); }
    uint64_t GetReadRegsReceived() const override { return Get(ReadRegs); }
    uint64_t GetWriteRegsReceived() const override { return Get(WriteRegs); }
    uint64_t GetDiscoveriesReceived() const override { return Get(Discoveries); }
    uint64_t GetActionCommandsReceived() const override { return Get(ActionCommands); }
    uint64_t GetForceIpsReceived() const override { return Get(ForceIps); }
    uint64_t GetPacketResendRequestsReceived() const override { return Get(PacketResends); }
    uint64_t GetPendingAcksIssued() const override { return Get(PendingAcks); }
    uint64_t GetRetriesReceived() const override { return Get(Retries); }
    uint64_t GetRetriesReceivedMax() const override { return Get(RetriesMax); }
    uint64_t GetEventsIssued() const override { return Get(Events); }
    uint64_t GetEventDatasIssued() const override { return Get(EventDatas); }
    uint64_t GetEventRetriesIssued() const override { return Get(EventRetries); }
    uint64_t GetEventRetriesIssuedMax() const override { return Get(EventRetriesMax); }
    uint64_t GetSessionsOpened() const override { return Get(SessionsOpened); }
    uint64_t GetSessionsClosed() const override { return Get(SessionsClosed); }
    uint64_t GetHeartbeatFailedCount() const override { return Get(HeartbeatFailed); }
    uint64_t GetGVSPTestPacketsIssued() const override { return Get(TestPackets); }

    void Add(Counter aCounter, uint64_t aCount = 1) { mCounters[aCounter] += aCount; }
    void Max(Counter aCounter, uint64_t aValue);
    uint64_t Get(Counter aCounter) const { return mCounters[aCounter].load(); }

private:
    std::atomic<uint64_t> mCounters[CounterCount] = {};
};

/// The device's message channel.
class TnSoftMessageChannel final : public ITnMessageChannel
{
public:
    explicit TnSoftMessageChannel(TnSoftDevice &aDevice);
    TnResult FireEvent(uint16_t aEventID, uint64_t aBlockID = 0, uint16_t aChannelIndex = 0xFFFF) override;
    TnResult FireEvent(uint16_t aEventID, uint8_t *aData, uint32_t aDataLength, uint64_t aBlockID = 0,
                       uint16_t aChannelIndex = 0xFFFF) override;
    bool IsOpened() override;

private:
    TnResult Send(uint16_t aEventID, const uint8_t *aData, uint32_t aDataLength, uint64_t aBlockID,
                  uint16_t aChannelIndex);

    TnSoftDevice &mDevice;
    std::mutex mMutex; // one event at a time
    gev::TnGvcpClient mClient;
    uint16_t mRequestId = 0;
};

/// A device made before a fork of this process belongs to the parent
/// (TnFork.h).
class TnSoftDevice final : public gev::TnGvcpDevice, public ITnRegisterEventSink, public ProcessOwner
{
public:
    /// aOuter: the device as the program sees it, handed to the event sinks.
    explicit TnSoftDevice(ITnVirtualDeviceGEV *aOuter);
    ~TnSoftDevice() override;

    // Configuration (ITnVirtualDeviceGEV, ITnSoftDeviceGEV).
    TnResult SetUserSetCount(uint32_t aCount);
    TnResult SetUserSetNotify(ITnUserSetNotify *aNotify);
    TnResult SetActionHandler(TnVirtualDeviceLib::IActionHandler *aHandler);
    TnResult RegisterEventSink(ITnVirtualDeviceGEVEventSink *aSink);
    TnResult UnregisterEventSink(ITnVirtualDeviceGEVEventSink *aSink);
    TnResult AddStream(ITnSWStreamingChannelSource *aSource);
    TnResult SetStreamTimestamping(bool aEnabled);
    /// The transport switches, taken at the next Start.
    enum Flag
    {
        FlagTcp,
        FlagRtp,
        FlagGenDC,
        FlagCount
    };
    TnResult SetFlag(Flag aWhich, bool aEnabled);

    TnResult Start(const TnString &aMACAddress);
    /// On one of the device's own threads, asks for the stop and returns: it
    /// completes on a thread of its own. Elsewhere a stop asked for so ends
    /// first (as it does before a Start).
    TnResult Stop();

    /// Whether the calling thread is one of the device's own: its control,
    /// housekeeping, stream channel or stopping thread, or one inside its
    /// Start or Stop.
    bool OnOwnThread() const;
    /// Destroys aDevice, the public class's implementation: at once, or, on
    /// one of the device's own threads, on a thread of its own once the
    /// asking thread is out of the device (no event sink is called from
    /// now on, and a Start under way fails).
    static void Destroy(TnSoftDevice *aDevice);

    ITnVirtualDeviceGEVInfo *GetInfo();
    ITnRegisterMap *GetRegisterMap();
    ITnVirtualDeviceGEVStatistics *GetStatistics();
    ITnMessageChannel *GetMessagingChannel();
    TnResult GetGenICamXMLFile(TnString &aString) const;

    // For the parts.
    bool IsRunning() const { return mRunning.load(); }
    /// The bootstrap register of an identity string (null before Start).
    TnRegister *IdentityRegister(uint32_t aAddress);
    TnRegisterMap &Map() { return *mMap; }
    TnSoftDeviceStatistics &Counters() { return mStatistics; }
    bool HasController();
    uint64_t TimestampNow() const;

    // The control channel (TnGvcpDevice).
    uint16_t GetDiscoveryData(const gev::TnGvcpPeer &aPeer, uint8_t *aData, size_t aSize) override;
    bool HandleCommand(const gev::TnGvcpPeer &aPeer, const gev::TnGvcpCommand &aCommand, uint16_t &aStatus,
                       uint16_t &aAcknowledge, std::vector<uint8_t> &aPayload) override;
    void OnCommand(const gev::TnGvcpPeer &aPeer, const gev::TnGvcpCommand &aCommand, bool aRepeated) override;

    // The device's own registers.
    TnResult PreWrite(ITnRegister *aRegister) override;
    void PostWrite(ITnRegister *aRegister) override;
    TnResult PreRead(ITnRegister *aRegister) override;

protected:
    uint16_t ReadSpace(uint32_t aAddress, uint8_t *aData, size_t aSize) override;
    uint16_t WriteSpace(uint32_t aAddress, const uint8_t *aData, size_t aSize) override;
    void OnControlTaken(const gev::TnGvcpPeer &aPeer, uint32_t aPrivilege) override;
    void OnControlLeft(const gev::TnGvcpPeer &aPeer, bool aExpired) override;

private:
    /// The bootstrap register of the firmware version, which the program
    /// sets through the information object.
    static constexpr uint32_t kFirmwareVersionAddress = 0x3FFF0100;

    struct Interface
    {
        std::string mName;
        uint64_t mMac = 0;
        uint32_t mAddress = 0;
        uint32_t mMask = 0;
        uint32_t mGateway = 0;
    };

    TnResult FindInterface(const std::string &aMac, Interface &aInterface);
    TnResult Build(const Interface &aInterface);
    /// Leaves out the sources destroyed since they were added (mMutex held).
    void DropDestroyedSources();
    /// With GenDC enabled, each GenDC source gets its manager, lays out its
    /// container and tells its streaming mode (kept in a register of its own).
    void SetUpGenDC();
    /// Whether a source's channel streams GenDC.
    bool StreamsGenDC(size_t aIndex) const;
    /// A source's payload size: its GenDC container's in GenDC streaming
    /// mode, else the source's answer (0: the device computes it).
    uint32_t AskPayloadSize(size_t aIndex);
    void AskSources();
    void AllocateBuffers();
    void FreeBuffers();
    void TearDown();
    /// Stop's work, once the state is Stopping.
    void StopNow();
    /// Waits (as the host lets it) until no stop asked for on one of the
    /// device's threads is under way; false when interrupted.
    bool AwaitStopElsewhere();
    /// Calls aCall(sink) for each event sink, as long as the device is not
    /// being destroyed.
    template <typename Call> void TellSinks(const char *aWhat, Call aCall)
    {
        for (ITnVirtualDeviceGEVEventSink *lSink : mSinks.Snapshot())
        {
            if (mEnding.load())
            {
                return;
            }
            Guarded(mSinks, lSink, aWhat, [&] { aCall(lSink); });
        }
    }
    void Housekeeping();
    /// The source and channel of a standard register, or -1.
    int SourceOf(ITnRegister *aRegister) const;
    void UpdatePayloadSize(size_t aIndex);
    /// Channels whose protocol register says RTP send RTP, and stream.
    void StartRtpChannels();
    void ResetNetwork();
    void ResetFull();

    enum class State
    {
        Stopped,
        Starting,
        Running,
        Stopping
    };
    /// Moves from aFrom to aTo; false in another state.
    bool Enter(State aFrom, State aTo);
    void Leave(State aTo);

    /// A Start or Stop on the program's thread, from its first step to its
    /// last: the thread works for the device (the callbacks run inside), and
    /// the destruction waits for its end.
    class Inside
    {
    public:
        explicit Inside(TnSoftDevice &aDevice);
        ~Inside();
        Inside(const Inside &) = delete;
        Inside &operator=(const Inside &) = delete;

    private:
        TnSoftDevice &mDevice;
        WorkingFor mMark;
    };

    ITnVirtualDeviceGEV *mOuter;
    mutable std::mutex mMutex;
    State mState = State::Stopped;
    std::condition_variable mSettled; // the state left Starting or Stopping, or an Inside ended
    size_t mInside = 0;               // Starts and Stops under way (Inside)
    bool mStopElsewhere = false;      // a stop runs on a thread of its own
    std::atomic<bool> mEnding{false}; // being destroyed: no sink is called
    std::atomic<bool> mRunning;
    std::atomic<bool> mInfoAvailable;

    // Configuration.
    uint32_t mUserSetCount = 0;
    SinkSlot<ITnUserSetNotify> mUserSetNotify;
    TnVirtualDeviceLib::IActionHandler *mActionHandler = nullptr;
    SinkRegistry<ITnVirtualDeviceGEVEventSink> mSinks{TrackSinks()};
    // The sources in the order of their channels; a source destroyed since
    // it was added is no longer in mSourceGate, and the next Start leaves it
    // out. Every call of a source is made in a call scope of mSourceGate.
    std::vector<ITnSWStreamingChannelSource *> mSources;
    SinkRegistry<ITnSWStreamingChannelSource> mSourceGate{TrackSinks()};
    bool mTimestamping = true;
    bool mFlags[FlagCount] = {false, false, false};

    // The registers' accesses in progress; declared before the maps, which
    // go first.
    TnRegisterUse mRegisterUse{this};

    // While running (built by Start, dropped by Stop).
    TnSoftDeviceInfo mInfo;
    TnSoftDeviceStatistics mStatistics;
    TnSoftMessageChannel mMessageChannel;
    // The maps of former runs stay while the program holds them
    // (TnHeldObjects.h), and go with the device.
    std::unique_ptr<TnRegisterMap> mMap;
    TnStandardRegisters mRegisters;
    TnStandardConfig mConfig;
    std::unique_ptr<TnUserSets> mUserSets;
    std::unique_ptr<TnUserSetControl> mUserSetControl;
    std::vector<std::unique_ptr<TnStreamChannel>> mChannels;
    gev::TnSapAnnouncer mAnnouncer;
    std::vector<std::vector<TnBuffer *>> mAllocated;
    // Each GenDC source's manager, by source, kept while the device lives:
    // the source may hold it past a Stop.
    std::vector<std::unique_ptr<buffer::GenDCManager>> mGenDCManagers;
    TnRegister *mFirmwareVersion = nullptr;
    gev::TnGvcpServer mServer;
    Interface mInterface;
    std::string mXml;
    bool mXmlBuilt = false;
    uint64_t mTimestampOrigin = 0;
    uint16_t mLastRequestId = 0;
    uint64_t mRepeats = 0;

    std::thread mHousekeeper;
    std::mutex mHousekeeperMutex;
    std::condition_variable mHousekeeperWake;
    bool mHousekeeperStop = false;
};
} // namespace softdevice
} // namespace tn

#endif
