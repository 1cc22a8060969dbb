// The software device as a GigE Vision device on loopback, each network test
// in a network namespace of its own: the independent peer (aravis's tools and
// its GObject receiver) and the SDK's own control client, device controller
// and stream receiver find, control and stream from it.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <thread>

#include "SoftDevicePeers.h"
#include "TnDevice.h"
#include "TnGevBytes.h"
#include "TnGvcpClient.h"
#include "TnSoftDeviceGEV.h"
#include "TnStandardFeatures.h"
#include "TnTestNetwork.h"
#include "TnTestProcess.h"
#include "TnText.h"
#include "TnUdpSocket.h"

using namespace tn::softdevice;
using namespace tn::softdevice::test;
using tn::test::FindProgram;
using tn::test::RunProgram;

namespace
{
constexpr uint32_t kLoopback = 0x7F000001;
constexpr const char *kLoopbackMac = "00:00:00:00:00:00";
constexpr const char *kTool = "arv-tool-0.8";
constexpr uint32_t kCustomAddress = 0x0000A000;
constexpr uint32_t kWidthAddress = kSourceRegisters;

std::string Describe(const TnResult &aResult)
{
    return std::string(aResult.GetCodeString().GetAscii()) + ": " + tn::ToString(aResult.GetDescription());
}

/// A register sink of the program's own: refuses values above 100.
class LimitSink : public ITnRegisterEventSink
{
public:
    TnResult PreWrite(ITnRegister *aRegister) override
    {
        uint32_t lValue = 0;
        aRegister->ReadInt(lValue);
        ++mWrites;
        return lValue > 100 ? TnResult(TN_INVALID_PARAMETER) : TnResult(TN_OK);
    }
    std::atomic<int> mWrites{0};
};

/// Adds an integer feature "TarnLimit" on a register of its own, and the
/// user sets' persistence of it.
class FeatureSink : public RecordingDeviceSink
{
public:
    void OnCreateCustomRegisters(ITnVirtualDeviceGEV *aDevice, ITnRegisterFactory *aFactory) override
    {
        RecordingDeviceSink::OnCreateCustomRegisters(aDevice, aFactory);
        mAdded = aFactory->AddRegister("TarnLimitReg", kCustomAddress, 4, TnGenAccessModeReadWrite, &mLimit);
    }

    void OnCreateCustomGenApiFeatures(ITnVirtualDeviceGEV *aDevice, ITnGenApiFactory *aFactory) override
    {
        RecordingDeviceSink::OnCreateCustomGenApiFeatures(aDevice, aFactory);
        aFactory->SetName("TarnLimit");
        aFactory->SetCategory("TarnControl");
        aFactory->SetStreamable(true);
        mCreated = aFactory->CreateInteger(aDevice->GetRegisterMap()->GetRegisterByAddress(kCustomAddress), 0, 1000);
        if (!mFormula.empty())
        {
            aFactory->SetName("TarnBroken");
            aFactory->AddVariable("TarnLimit");
            aFactory->CreateIntSwissKnife(mFormula.c_str());
        }
    }

    LimitSink mLimit;
    TnResult mAdded;
    TnResult mCreated;
    std::string mFormula;
};

/// A source whose answers throw, where a Python source would raise.
class ThrowingSource : public PatternSource
{
public:
    ThrowingSource() : PatternSource(64, 48) {}
    uint32_t GetWidth() const override { throw std::runtime_error("no width"); }
    TnResult GetSupportedChunk(int, uint32_t &, TnString &) const override { throw std::runtime_error("no chunks"); }
    void CreateGenApiFeatures(ITnRegisterMap *, ITnGenApiFactory *) override { throw std::runtime_error("no features"); }
    TnResult QueueBuffer(TnBuffer *aBuffer) override
    {
        if (++mQueued % 2 == 0)
        {
            throw std::runtime_error("queue refused");
        }
        return PatternSource::QueueBuffer(aBuffer);
    }
    TnResult SetWidth(uint32_t) override { throw std::runtime_error("width refused"); }
    std::atomic<int> mQueued{0};
};

class ThrowingSink : public ITnVirtualDeviceGEVEventSink
{
public:
    void OnApplicationConnect(ITnVirtualDeviceGEV *, const TnString &, uint16_t, TnAccessType) override
    {
        throw std::runtime_error("connect");
    }
    void OnCreateCustomRegisters(ITnVirtualDeviceGEV *, ITnRegisterFactory *) override { throw 42; }
};

/// A source whose RetrieveBuffer does not come back until it is let go.
class BlockingSource : public PatternSource
{
public:
    BlockingSource() : PatternSource(64, 48) {}
    TnResult RetrieveBuffer(TnBuffer **) override
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        mInside = true;
        mReleased.wait(lLock, [&] { return mRelease; });
        mInside = false;
        mReleased.notify_all();
        return TnResult(TN_TIMEOUT);
    }
    void Release()
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        mRelease = true;
        mReleased.notify_all();
        mReleased.wait_for(lLock, std::chrono::seconds(2), [&] { return !mInside; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mReleased;
    bool mRelease = false;
    bool mInside = false;
};

/// Loses one buffer: its RetrieveBuffer takes a frame from the queue and
/// throws once asked to (as a Python source does that raises after taking
/// it). Counts its RetrieveBuffer calls once the device asked for its
/// buffers back.
class LosingSource : public PatternSource
{
public:
    LosingSource() : PatternSource(64, 48, 8) {}
    TnResult RetrieveBuffer(TnBuffer **aBuffer) override
    {
        if (mAborted.load())
        {
            ++mAfterAbort;
        }
        TnBuffer *lTaken = nullptr;
        const TnResult lResult = PatternSource::RetrieveBuffer(&lTaken);
        if (lTaken != nullptr && mLose.exchange(false))
        {
            ++mLost;
            throw std::runtime_error("lost the frame");
        }
        *aBuffer = lTaken;
        return lResult;
    }
    void AbortQueuedBuffers() override
    {
        PatternSource::AbortQueuedBuffers();
        mAborted = true;
    }
    std::atomic<bool> mLose{false};
    std::atomic<bool> mAborted{false};
    std::atomic<int> mLost{0};
    std::atomic<int> mAfterAbort{0};
};

/// Counts the buffers the device queues while the source still holds them
/// (queued and not yet given back). While mPaused it gives no frame back.
class HoldingSource : public PatternSource
{
public:
    HoldingSource() : PatternSource(256, 64, 4, 50) {}
    TnResult QueueBuffer(TnBuffer *aBuffer) override
    {
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mTwice += mHeld.insert(aBuffer).second ? 0 : 1;
        }
        return PatternSource::QueueBuffer(aBuffer);
    }
    TnResult RetrieveBuffer(TnBuffer **aBuffer) override
    {
        if (mPaused.load())
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return TnResult(TN_TIMEOUT);
        }
        const TnResult lResult = PatternSource::RetrieveBuffer(aBuffer);
        if (*aBuffer != nullptr)
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mHeld.erase(*aBuffer);
        }
        return lResult;
    }
    std::atomic<int> mTwice{0};
    std::atomic<bool> mPaused{false};

private:
    std::mutex mMutex;
    std::set<TnBuffer *> mHeld;
};

class SoftDevicePeer : public tn::test::FreshNetworkTest
{
protected:
    void Start(TnSoftDeviceGEV &aDevice)
    {
        const TnResult lResult = aDevice.Start(kLoopbackMac);
        ASSERT_TRUE(lResult.IsOK()) << Describe(lResult);
    }

    /// Takes control with aClient and starts the stream towards aReceiver
    /// (opened here), which reads none of it.
    void StartStreaming(tn::gev::TnGvcpClient &aClient, tn::gev::TnUdpSocket &aReceiver)
    {
        ASSERT_TRUE(aClient.Open(kLoopback).IsOK());
        ASSERT_TRUE(aClient.WriteRegister(tn::gev::kRegControlChannelPrivilege, tn::gev::kPrivilegeControl).IsOK());
        ASSERT_TRUE(aReceiver.Open(kLoopback).IsOK());
        const uint32_t lChannel = tn::gev::kRegStreamChannelBase;
        ASSERT_TRUE(aClient.WriteRegister(lChannel + tn::gev::kRegStreamChannelDestination, kLoopback).IsOK());
        ASSERT_TRUE(aClient.WriteRegister(lChannel + tn::gev::kRegStreamChannelPort, aReceiver.GetLocalPort()).IsOK());
        ASSERT_TRUE(aClient.WriteRegister(kWidthAddress + 0x24, 1).IsOK()); // AcquisitionStart
    }

    /// Waits, in steps of 10 ms, until aDone or aSteps are over.
    template <typename Done> static void WaitUntil(Done aDone, int aSteps = 300)
    {
        for (int lWait = 0; lWait < aSteps && !aDone(); ++lWait)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::string Tool(const std::vector<std::string> &aArguments, int *aStatus = nullptr)
    {
        std::vector<std::string> lCommand = {FindProgram(kTool), "-a", "127.0.0.1"};
        lCommand.insert(lCommand.end(), aArguments.begin(), aArguments.end());
        return RunProgram(lCommand, 20000, aStatus);
    }

    void NeedTool(const char *aName)
    {
        if (FindProgram(aName).empty())
        {
            GTEST_SKIP() << aName << " is not installed (Debian package aravis-tools-cli)";
        }
    }
};
} // namespace

TEST(SoftDevice, ConfigurationRulesBeforeStart)
{
    TnSoftDeviceGEV lDevice;
    PatternSource lSources[5] = {{8, 8}, {8, 8}, {8, 8}, {8, 8}, {8, 8}};
    EXPECT_EQ(TN_INVALID_PARAMETER, lDevice.AddStream(nullptr).GetCode());
    for (int lIndex = 0; lIndex < 4; ++lIndex)
    {
        EXPECT_TRUE(lDevice.AddStream(&lSources[lIndex]).IsOK());
    }
    EXPECT_EQ(TN_NOT_SUPPORTED, lDevice.AddStream(&lSources[4]).GetCode());
    RecordingDeviceSink lSink;
    EXPECT_EQ(TN_INVALID_PARAMETER, lDevice.RegisterEventSink(nullptr).GetCode());
    EXPECT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    EXPECT_EQ(TN_INVALID_PARAMETER, lDevice.RegisterEventSink(&lSink).GetCode());
    EXPECT_EQ(TN_INVALID_PARAMETER, lDevice.SetUserSetCount(257).GetCode());
    EXPECT_TRUE(lDevice.SetUserSetCount(256).IsOK());

    EXPECT_EQ(nullptr, lDevice.GetInfo());
    EXPECT_EQ(nullptr, lDevice.GetRegisterMap());
    EXPECT_EQ(nullptr, lDevice.GetStatistics());
    EXPECT_EQ(nullptr, lDevice.GetMessagingChannel());
    TnString lXml;
    EXPECT_EQ(TN_STATE_ERROR, lDevice.GetGenICamXMLFile(lXml).GetCode());
    EXPECT_EQ(TN_STATE_ERROR, lDevice.Stop().GetCode());
    EXPECT_EQ(TN_INVALID_PARAMETER, lDevice.Start("not a MAC").GetCode());
    EXPECT_EQ(TN_NOT_FOUND, lDevice.Start("02:00:5e:ff:ff:fe").GetCode());
    EXPECT_TRUE(lDevice.SetTCPTransportEnabled(true).IsOK());
    EXPECT_TRUE(lDevice.SetStreamTimestamping(false).IsOK());
}

TEST_F(SoftDevicePeer, StartsServesAndStopsWithTheCallbacksInOrder)
{
    TnSoftDeviceGEV lDevice;
    PatternSource lSource(64, 48, 70);
    FeatureSink lSink;
    ASSERT_TRUE(lDevice.AddStream(&lSource).IsOK());
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    // The information and the map are there inside Start.
    struct Inside : public ITnVirtualDeviceGEVEventSink
    {
        void OnCreateCustomRegisters(ITnVirtualDeviceGEV *aDevice, ITnRegisterFactory *) override
        {
            EXPECT_NE(nullptr, aDevice->GetInfo());
            EXPECT_NE(nullptr, aDevice->GetRegisterMap());
            // The device called back from inside Start: refused, not stuck.
            EXPECT_EQ(TN_STATE_ERROR, aDevice->Stop().GetCode());
            EXPECT_EQ(TN_STATE_ERROR, aDevice->Start(kLoopbackMac).GetCode());
        }
    } lInside;
    ASSERT_TRUE(lDevice.RegisterEventSink(&lInside).IsOK());
    Start(lDevice);
    EXPECT_EQ(TN_STATE_ERROR, lDevice.Start(kLoopbackMac).GetCode());
    EXPECT_EQ(TN_STATE_ERROR, lDevice.AddStream(&lSource).GetCode());
    EXPECT_TRUE(lSink.mAdded.IsOK()) << Describe(lSink.mAdded);
    EXPECT_TRUE(lSink.mCreated.IsOK()) << Describe(lSink.mCreated);
    const std::vector<std::string> lEvents = lSink.Events();
    ASSERT_GE(lEvents.size(), 3u);
    EXPECT_EQ("registers", lEvents[0]);
    EXPECT_EQ("features", lEvents[1]);
    EXPECT_EQ("start 00:00:00:00:00:00 127.0.0.1 3956", lEvents[2]);
    EXPECT_EQ(64, lSource.mAllocated.load()) << "at most 64 buffers per channel";

    TnString lXml;
    ASSERT_TRUE(lDevice.GetGenICamXMLFile(lXml).IsOK());
    EXPECT_NE(std::string::npos, tn::ToString(lXml).find("TarnLimit"));
    ASSERT_NE(nullptr, lDevice.GetRegisterMap());
    ASSERT_NE(nullptr, lDevice.GetStatistics());

    // A controller reads the first URL and the XML through the control channel.
    tn::gev::TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback).IsOK());
    std::vector<uint8_t> lUrl(tn::gev::kUrlSize);
    ASSERT_TRUE(lClient.ReadMemory(tn::gev::kRegFirstUrl, lUrl.data(), lUrl.size()).IsOK());
    EXPECT_EQ(0, std::string(reinterpret_cast<char *>(lUrl.data())).find("Local:tarn-softdevice.xml;F1000000;"));
    uint32_t lWidth = 0;
    ASSERT_TRUE(lClient.ReadRegister(kWidthAddress, lWidth).IsOK());
    EXPECT_EQ(64u, lWidth);
    EXPECT_GE(lDevice.GetStatistics()->GetReadRegsReceived(), 1u);
    lClient.Close();

    EXPECT_TRUE(lDevice.Stop().IsOK());
    EXPECT_EQ(64, lSource.mFreed.load()) << "FreeBuffer once for every buffer";
    EXPECT_EQ("stop", lSink.Events().back());
    EXPECT_EQ(nullptr, lDevice.GetRegisterMap());
    EXPECT_TRUE(lDevice.GetGenICamXMLFile(lXml).IsOK()) << "the XML stays readable after Stop";
    // A device starts again after a stop.
    Start(lDevice);
    EXPECT_TRUE(lDevice.Stop().IsOK());
}

TEST_F(SoftDevicePeer, ADescriptionThatCannotBeBuiltFailsStartNamingTheFeature)
{
    TnSoftDeviceGEV lDevice;
    FeatureSink lSink;
    lSink.mFormula = "TarnLimit * (2 +";
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    const TnResult lResult = lDevice.Start(kLoopbackMac);
    EXPECT_EQ(TN_GENICAM_XML_ERROR, lResult.GetCode());
    EXPECT_EQ(0u, tn::ToString(lResult.GetDescription()).find("feature 'TarnBroken'")) << Describe(lResult);
    TnString lXml;
    EXPECT_TRUE(lDevice.GetGenICamXMLFile(lXml).IsOK());
    EXPECT_EQ(nullptr, lDevice.GetRegisterMap());
    EXPECT_EQ(TN_STATE_ERROR, lDevice.Stop().GetCode());
}

TEST_F(SoftDevicePeer, AravisListsReadsAndWritesItsFeatures)
{
    NeedTool(kTool);
    TnSoftDeviceGEV lDevice;
    PatternSource lSource(640, 480);
    FeatureSink lSink;
    struct Serial : public ITnVirtualDeviceGEVEventSink
    {
        void OnCreateCustomRegisters(ITnVirtualDeviceGEV *aDevice, ITnRegisterFactory *) override
        {
            aDevice->GetInfo()->SetSerialNumber("TARN-7");
        }
    } lSerial;
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSerial).IsOK());
    ASSERT_TRUE(lDevice.AddStream(&lSource).IsOK());
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    Start(lDevice);

    int lStatus = -1;
    const std::string lList = RunProgram({FindProgram(kTool)}, 20000, &lStatus);
    EXPECT_NE(std::string::npos, lList.find("Tarn-SoftDevice-TARN-7")) << lList;
    EXPECT_NE(std::string::npos, lList.find("127.0.0.1")) << lList;
    EXPECT_NE(std::string::npos, Tool({"genicam"}).find("TarnLimit"));
    const std::string lFeatures = Tool({"features"});
    for (const char *lName : {"Width", "PixelFormat", "PayloadSize", "AcquisitionStart", "GevSCPSPacketSize", "TarnLimit"})
    {
        EXPECT_NE(std::string::npos, lFeatures.find(lName)) << lName << "\n" << lFeatures;
    }
    EXPECT_NE(std::string::npos, Tool({"control", "Width"}).find("Width = 640"));
    Tool({"control", "Width=320"});
    EXPECT_EQ(320u, lSource.GetWidth());
    EXPECT_NE(std::string::npos, Tool({"control", "PayloadSize"}).find("PayloadSize = 153600"));

    ITnRegister *lLimit = lDevice.GetRegisterMap()->GetRegisterByAddress(kCustomAddress);
    ASSERT_NE(nullptr, lLimit);
    ASSERT_TRUE(lLimit->Write(uint32_t(42)).IsOK());
    EXPECT_NE(std::string::npos, Tool({"control", "TarnLimit"}).find("TarnLimit = 42"));
    Tool({"control", "TarnLimit=77"});
    uint32_t lValue = 0;
    lLimit->ReadInt(lValue);
    EXPECT_EQ(77u, lValue);

    // Refused by the program's register sink: an error for the client, the
    // register unchanged.
    const int lWrites = lSink.mLimit.mWrites.load();
    const std::string lRefused = Tool({"control", "TarnLimit=500"});
    EXPECT_GT(lSink.mLimit.mWrites.load(), lWrites);
    lLimit->ReadInt(lValue);
    EXPECT_EQ(77u, lValue) << lRefused;
    EXPECT_NE(std::string::npos, Tool({"control", "TarnLimit"}).find("TarnLimit = 77"));
    EXPECT_TRUE(lDevice.Stop().IsOK());
}

TEST_F(SoftDevicePeer, ConnectDisconnectAndHeartbeatExpiryArriveWithTheClient)
{
    TnSoftDeviceGEV lDevice;
    RecordingDeviceSink lSink;
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    Start(lDevice);

    tn::gev::TnGvcpClient lFirst;
    ASSERT_TRUE(lFirst.Open(kLoopback).IsOK());
    ASSERT_TRUE(lFirst.WriteRegister(tn::gev::kRegControlChannelPrivilege, tn::gev::kPrivilegeControl).IsOK());
    ASSERT_TRUE(lSink.WaitFor("connect", 1, 2000));
    std::vector<RecordingDeviceSink::Connect> lConnects = lSink.Connects();
    EXPECT_EQ("127.0.0.1", lConnects[0].mAddress);
    EXPECT_EQ(lFirst.GetLocalPort(), lConnects[0].mPort);
    EXPECT_EQ(TnAccessControl, lConnects[0].mAccess);

    // Another application is refused writes while the first holds control.
    tn::gev::TnGvcpClient lSecond;
    ASSERT_TRUE(lSecond.Open(kLoopback).IsOK());
    EXPECT_FALSE(lSecond.WriteRegister(kWidthAddress, 8).IsOK());
    uint32_t lPrivilege = 0;
    EXPECT_TRUE(lSecond.ReadRegister(tn::gev::kRegControlChannelPrivilege, lPrivilege).IsOK());
    EXPECT_EQ(tn::gev::kPrivilegeControl, lPrivilege);

    ASSERT_TRUE(lFirst.WriteRegister(tn::gev::kRegControlChannelPrivilege, 0).IsOK());
    ASSERT_TRUE(lSink.WaitFor("disconnect", 1, 2000));

    // Heartbeat expiry: the second takes control with a short timeout and
    // falls silent; the device lets it go by itself.
    ASSERT_TRUE(lSecond.WriteRegister(tn::gev::kRegControlChannelPrivilege, tn::gev::kPrivilegeExclusive).IsOK());
    ASSERT_TRUE(lSecond.WriteRegister(tn::gev::kRegHeartbeatTimeout, 500).IsOK());
    ASSERT_TRUE(lSink.WaitFor("connect", 2, 2000));
    EXPECT_EQ(lSecond.GetLocalPort(), lSink.Connects()[1].mPort);
    EXPECT_EQ(TnAccessExclusive, lSink.Connects()[1].mAccess);
    ASSERT_TRUE(lSink.WaitFor("disconnect", 2, 3000)) << "no disconnect after the heartbeat stopped";
    EXPECT_EQ(1u, lDevice.GetStatistics()->GetHeartbeatFailedCount());
    EXPECT_EQ(2u, lDevice.GetStatistics()->GetSessionsOpened());
    EXPECT_EQ(2u, lDevice.GetStatistics()->GetSessionsClosed());
    EXPECT_TRUE(lFirst.WriteRegister(tn::gev::kRegControlChannelPrivilege, tn::gev::kPrivilegeControl).IsOK());
    EXPECT_TRUE(lDevice.Stop().IsOK());
}

TEST_F(SoftDevicePeer, ResetsReleaseControlAndCallBack)
{
    TnSoftDeviceGEV lDevice;
    RecordingDeviceSink lSink;
    PatternSource lSource(64, 48);
    ASSERT_TRUE(lDevice.AddStream(&lSource).IsOK());
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    Start(lDevice);
    tn::gev::TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(tn::gev::kRegControlChannelPrivilege, tn::gev::kPrivilegeControl).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(kWidthAddress, 32).IsOK());
    // DeviceReset: control goes, the registers take their start values.
    ASSERT_TRUE(lClient.WriteRegister(kDeviceRegisters + 0x18, 1).IsOK());
    ASSERT_TRUE(lSink.WaitFor("reset full", 1, 2000));
    uint32_t lValue = 0;
    ASSERT_TRUE(lClient.ReadRegister(kWidthAddress, lValue).IsOK());
    EXPECT_EQ(64u, lValue);
    ASSERT_TRUE(lClient.ReadRegister(tn::gev::kRegControlChannelPrivilege, lValue).IsOK());
    EXPECT_EQ(0u, lValue);
    // FORCEIP for the device's MAC (loopback's): a network reset.
    tn::gev::TnGvcpForceIp lForce;
    lForce.mMac = 0;
    lForce.mIP = kLoopback;
    lForce.mSubnetMask = 0xFF000000;
    std::vector<uint8_t> lCommand = tn::gev::BuildForceIpCmd(1, lForce);
    std::vector<uint8_t> lAnswer;
    tn::gev::TnGvcpAck lAck;
    EXPECT_TRUE(lClient.Transact(lCommand, tn::gev::kGvcpForceIpAck, lAnswer, lAck).IsOK());
    ASSERT_TRUE(lSink.WaitFor("reset network", 1, 2000));
    const std::vector<std::string> lEvents = lSink.Events();
    EXPECT_NE(lEvents.end(), std::find(lEvents.begin(), lEvents.end(), "disconnect"));
    EXPECT_EQ(1u, lDevice.GetStatistics()->GetForceIpsReceived());
    lClient.Close();
    EXPECT_TRUE(lDevice.Stop().IsOK());
}

TEST_F(SoftDevicePeer, UserSetsRestoreTheRegisters)
{
    TnSoftDeviceGEV lDevice;
    FeatureSink lSink;
    struct Notify : public ITnUserSetNotify
    {
        std::vector<int> mStates;
        TnResult UserSetStateNotify(TnUserSetState aState, uint32_t aIndex) override
        {
            mStates.push_back(static_cast<int>(aState) * 10 + static_cast<int>(aIndex));
            return TnResult(TN_OK);
        }
    } lNotify;
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    ASSERT_TRUE(lDevice.SetUserSetCount(2).IsOK());
    ASSERT_TRUE(lDevice.SetUserSetNotify(&lNotify).IsOK());
    Start(lDevice);
    tn::gev::TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(tn::gev::kRegControlChannelPrivilege, tn::gev::kPrivilegeControl).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(kCustomAddress, 11).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(kDeviceRegisters + 0x08, 2).IsOK()); // UserSetSelector
    ASSERT_TRUE(lClient.WriteRegister(kDeviceRegisters + 0x10, 1).IsOK()); // UserSetSave
    ASSERT_TRUE(lClient.WriteRegister(kCustomAddress, 99).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(kDeviceRegisters + 0x0C, 1).IsOK()); // UserSetLoad
    uint32_t lValue = 0;
    ASSERT_TRUE(lClient.ReadRegister(kCustomAddress, lValue).IsOK());
    EXPECT_EQ(11u, lValue);
    ASSERT_TRUE(lClient.WriteRegister(kDeviceRegisters + 0x08, 0).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(kDeviceRegisters + 0x0C, 1).IsOK());
    ASSERT_TRUE(lClient.ReadRegister(kCustomAddress, lValue).IsOK());
    EXPECT_EQ(0u, lValue) << "the default set holds the values at Start";
    EXPECT_EQ((std::vector<int>{2, 12, 22, 32, 20, 30}), lNotify.mStates);
    lClient.Close();
    EXPECT_TRUE(lDevice.Stop().IsOK());
}

TEST_F(SoftDevicePeer, ThrowingSourcesAndSinksDoNotStopTheDevice)
{
    TnSoftDeviceGEV lDevice;
    ThrowingSource lSource;
    ThrowingSink lSink;
    ASSERT_TRUE(lDevice.AddStream(&lSource).IsOK());
    ASSERT_TRUE(lDevice.RegisterEventSink(&lSink).IsOK());
    Start(lDevice);
    tn::gev::TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(tn::gev::kRegControlChannelPrivilege, tn::gev::kPrivilegeControl).IsOK());
    // The width the source could not give: the device's default.
    uint32_t lWidth = 0;
    ASSERT_TRUE(lClient.ReadRegister(kWidthAddress, lWidth).IsOK());
    EXPECT_EQ(640u, lWidth);
    // A throwing SetWidth refuses the write; the device answers on.
    EXPECT_FALSE(lClient.WriteRegister(kWidthAddress, 32).IsOK());
    ASSERT_TRUE(lClient.ReadRegister(kWidthAddress, lWidth).IsOK());
    EXPECT_EQ(640u, lWidth);
    // Streaming with a QueueBuffer that throws every other time.
    const uint32_t lChannel = tn::gev::kRegStreamChannelBase;
    ASSERT_TRUE(lClient.WriteRegister(lChannel + tn::gev::kRegStreamChannelDestination, kLoopback).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(lChannel + tn::gev::kRegStreamChannelPort, 50999).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(kWidthAddress + 0x24, 1).IsOK()); // AcquisitionStart
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_GT(lSource.mFilled.load(), 2);
    ASSERT_TRUE(lClient.WriteRegister(kWidthAddress + 0x28, 1).IsOK()); // AcquisitionStop
    lClient.Close();
    EXPECT_TRUE(lDevice.Stop().IsOK());
}

TEST_F(SoftDevicePeer, ASourceThatNeverReturnsDoesNotHangStop)
{
    TnSoftDeviceGEV lDevice;
    BlockingSource lSource;
    ASSERT_TRUE(lDevice.AddStream(&lSource).IsOK());
    Start(lDevice);
    tn::gev::TnGvcpClient lClient;
    ASSERT_TRUE(lClient.Open(kLoopback).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(tn::gev::kRegControlChannelPrivilege, tn::gev::kPrivilegeControl).IsOK());
    ASSERT_TRUE(lClient.WriteRegister(kWidthAddress + 0x24, 1).IsOK()); // AcquisitionStart
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    lClient.Close();
    const auto lBefore = std::chrono::steady_clock::now();
    EXPECT_TRUE(lDevice.Stop().IsOK());
    EXPECT_LT(std::chrono::steady_clock::now() - lBefore, std::chrono::seconds(8));
    lSource.Release(); // the channel's thread ends now, before the source goes
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// A source that lost a buffer (its RetrieveBuffer threw after taking it)
// cannot give it back: the stop asks for what it still holds, and no more.
TEST_F(SoftDevicePeer, AStopAsksASourceThatLostABufferOnlyForWhatItHolds)
{
    TnSoftDeviceGEV lDevice;
    LosingSource lSource;
    ASSERT_TRUE(lDevice.AddStream(&lSource).IsOK());
    Start(lDevice);
    lSource.mLose = true;
    tn::gev::TnGvcpClient lClient;
    tn::gev::TnUdpSocket lReceiver;
    ASSERT_NO_FATAL_FAILURE(StartStreaming(lClient, lReceiver));
    WaitUntil([&] { return lSource.mLost.load() != 0 && lSource.mFilled.load() >= 4; }, 1000);
    ASSERT_EQ(1, lSource.mLost.load());
    ASSERT_TRUE(lClient.WriteRegister(kWidthAddress + 0x28, 1).IsOK()); // AcquisitionStop
    WaitUntil([&] { return lSource.mStops.load() != 0; }, 1000);
    ASSERT_EQ(1, lSource.mStops.load());
    // Each buffer it still held, and one answer that it has none left.
    EXPECT_LE(lSource.mAfterAbort.load(), 8);
    lClient.Close();
    EXPECT_TRUE(lDevice.Stop().IsOK());
}

// A run stopped while the sender still keeps the last blocks for resends:
// the next run must not hand those buffers to the source before the sender
// lets them go (here they expire while the source holds every buffer).
TEST_F(SoftDevicePeer, ARestartHandsTheSourceNoBufferTwice)
{
    TnSoftDeviceGEV lDevice;
    HoldingSource lSource;
    ASSERT_TRUE(lDevice.AddStream(&lSource).IsOK());
    Start(lDevice);
    // A socket that takes the stream (and reads none of it): the blocks go
    // out whole, and the sender keeps them for resends.
    tn::gev::TnGvcpClient lClient;
    tn::gev::TnUdpSocket lReceiver;
    ASSERT_NO_FATAL_FAILURE(StartStreaming(lClient, lReceiver));
    WaitUntil([&] { return lSource.mFilled.load() >= 6; });
    ASSERT_TRUE(lClient.WriteRegister(kWidthAddress + 0x28, 1).IsOK()); // AcquisitionStop
    WaitUntil([&] { return lSource.mStops.load() != 0; });
    // The next run's source holds what it is given until the kept blocks
    // have expired (after a second), then streams again.
    lSource.mPaused = true;
    ASSERT_TRUE(lClient.WriteRegister(kWidthAddress + 0x24, 1).IsOK());
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    lSource.mPaused = false;
    const int lBefore = lSource.mFilled.load();
    for (int lWait = 0; lWait < 300 && lSource.mFilled.load() < lBefore + 8; ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(lClient.WriteRegister(kWidthAddress + 0x28, 1).IsOK());
    EXPECT_EQ(0, lSource.mTwice.load());
    EXPECT_GE(lSource.mFilled.load(), lBefore + 8);
    lClient.Close();
    EXPECT_TRUE(lDevice.Stop().IsOK());
}

TEST_F(SoftDevicePeer, OurClientAndReceiverGetTheSourcesBytes)
{
    const std::string lReceive = TARN_GVSP_RECEIVE;
    TnSoftDeviceGEV lDevice;
    PatternSource lSource(1024, 768, 16, 100);
    ASSERT_TRUE(lDevice.AddStream(&lSource).IsOK());
    Start(lDevice);

    // The device controller of libTnDevice: connect, read and write features.
    {
        TnResult lResult;
        TnDevice *lController = TnDevice::CreateAndConnect(TnString("127.0.0.1"), &lResult);
        ASSERT_NE(nullptr, lController) << Describe(lResult);
        int64_t lWidth = 0;
        EXPECT_TRUE(lController->GetParameters()->GetIntegerValue("Width", lWidth).IsOK());
        EXPECT_EQ(1024, lWidth);
        EXPECT_TRUE(lController->GetParameters()->SetIntegerValue("Height", 600).IsOK());
        EXPECT_EQ(600u, lSource.GetHeight());
        EXPECT_TRUE(lController->GetParameters()->SetIntegerValue("Height", 768).IsOK());
        TnDevice::Free(lController);
    }

    // The stream receive engine: every block whole and with the source's
    // bytes, at the width it sets (the default source's buffers follow it).
    int lStatus = -1;
    const std::string lOutput = RunProgram({lReceive, "-a", "127.0.0.1", "--soft-device", "-W", "512", "-H", "768",
                                            "-p", "9000", "-n", "100", "-d", "20", "-b", "32", "--verify-all", "-q"},
                                           30000, &lStatus);
    EXPECT_EQ(0, lStatus) << lOutput;
    EXPECT_NE(std::string::npos, lOutput.find("failed=0")) << lOutput;
    EXPECT_NE(std::string::npos, lOutput.find("bad=0")) << lOutput;
    EXPECT_EQ(std::string::npos, lOutput.find("verified=0 ")) << lOutput;
    EXPECT_TRUE(lDevice.Stop().IsOK());
}

TEST_F(SoftDevicePeer, AravisStreamsTheSourcesPixels)
{
    NeedTool("arv-camera-test-0.8");
    TnSoftDeviceGEV lDevice;
    PatternSource lSource(1024, 768, 16, 200);
    ASSERT_TRUE(lDevice.AddStream(&lSource).IsOK());
    Start(lDevice);
    int lStatus = -1;
    const std::string lTest = RunProgram({FindProgram("arv-camera-test-0.8"), "-n", "127.0.0.1", "-i", "9000",
                                          "--duration=2"},
                                         20000, &lStatus);
    EXPECT_NE(std::string::npos, lTest.find("n_failures             = 0\n")) << lTest;
    EXPECT_NE(std::string::npos, lTest.find("n_missing_frames       = 0\n")) << lTest;
    EXPECT_EQ(std::string::npos, lTest.find("n_completed_buffers    = 0\n")) << lTest;

    // aravis's GObject receiver checks every byte against the pattern.
    const std::string lPython = "/usr/bin/python3";
    if (std::string(TARN_ARAVIS_RX).empty())
    {
        GTEST_SKIP() << "aravis_rx.py of the C test camera's tools is not beside the checkout";
    }
    const std::string lCheck =
        RunProgram({lPython, "-c", "import gi; gi.require_version('Aravis', '0.8')"}, 10000, &lStatus);
    if (lStatus != 0)
    {
        GTEST_SKIP() << "no python3 with aravis's GObject binding (python3-gi, gir1.2-aravis-0.8)";
    }
    const std::string lOutput = RunProgram({lPython, TARN_ARAVIS_RX, "-a", "127.0.0.1", "-W", "1024", "-H", "768",
                                            "-p", "9000", "-n", "100", "-d", "10", "--verify", "-q"},
                                           30000, &lStatus);
    EXPECT_NE(std::string::npos, lOutput.find("failed=0")) << lOutput;
    EXPECT_NE(std::string::npos, lOutput.find("bad=0")) << lOutput;
    EXPECT_EQ(std::string::npos, lOutput.find("verified=0 ")) << lOutput;
    EXPECT_TRUE(lDevice.Stop().IsOK());
}
