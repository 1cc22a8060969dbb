// The serial port and the firmware updater without a device: their states,
// results and observers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TnDeviceSerialPort.h"
#include "TnGenFUUpdater.h"

namespace
{
TEST(SerialPort, StateAndEchoSinksWithoutAnOpenPort)
{
    TnDeviceSerialPort lPort;
    EXPECT_FALSE(lPort.IsOpened());
    EXPECT_EQ(lPort.Close().GetCode(), TN_NOT_CONNECTED);
    uint32_t lWritten = 7;
    const uint8_t lBytes[3] = {1, 2, 3};
    EXPECT_EQ(lPort.Write(lBytes, 3, lWritten).GetCode(), TN_NOT_CONNECTED);
    EXPECT_EQ(lWritten, 0u);
    uint32_t lDone = 0;
    uint32_t lTotal = 0;
    EXPECT_EQ(lPort.GetWriteProgress(lDone, lTotal).GetCode(), TN_STATE_ERROR);
    ASSERT_TRUE(lPort.SetRxBufferSize(64).IsOK());
    uint32_t lSize = 0;
    ASSERT_TRUE(lPort.GetRxBufferSize(lSize).IsOK());
    EXPECT_EQ(lSize, 64u);
    EXPECT_EQ(lPort.GetBytesSent(), 0u);

    class Echo : public TnDeviceSerialPortEchoSink
    {
    public:
        void OnWrite(const uint8_t *, uint32_t) override {}
        void OnRead(const uint8_t *, uint32_t) override {}
        void OnReadComplete() override { ++mCompletes; }
        int mCompletes = 0;
    } lEcho;
    EXPECT_EQ(TnDeviceSerialPort::RegisterEchoSink(nullptr).GetCode(), TN_INVALID_PARAMETER);
    ASSERT_TRUE(TnDeviceSerialPort::RegisterEchoSink(&lEcho).IsOK());
    EXPECT_EQ(TnDeviceSerialPort::RegisterEchoSink(&lEcho).GetCode(), TN_NOT_SUPPORTED);
    ASSERT_TRUE(lPort.NotifyReadComplete().IsOK());
    EXPECT_EQ(lEcho.mCompletes, 1);
    ASSERT_TRUE(TnDeviceSerialPort::UnregisterEchoSink(&lEcho).IsOK());
    EXPECT_EQ(TnDeviceSerialPort::UnregisterEchoSink(&lEcho).GetCode(), TN_NOT_FOUND);
}

class Observer : public IUpdaterObserver
{
public:
    void UpdateProgressLabel(const char *aMsg) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mLabels.push_back(aMsg);
    }
    void UpdateProgressValue(int aValue) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mValues.push_back(aValue);
        if (mThrow)
        {
            throw std::runtime_error("observer failure");
        }
    }
    std::mutex mMutex;
    std::vector<std::string> mLabels;
    std::vector<int> mValues;
    bool mThrow = false;
};

TnResult RunUpdate(TnGenFUUpdater &aUpdater)
{
    aUpdater.Start();
    for (int lWait = 0; lWait < 500 && !aUpdater.IsDone(); ++lWait)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(aUpdater.IsDone());
    return aUpdater.GetResult();
}

TEST(FirmwareUpdater, ReportsProgressAndItsOutcome)
{
    TnDeviceInfoGEV lDevice;
    TnGenFUUpdater lMissing("/nonexistent", "update.guf", &lDevice, "", false);
    EXPECT_FALSE(lMissing.IsDone());
    Observer lObserver;
    lObserver.mThrow = true; // a failing observer keeps the update going
    lMissing.Attach(&lObserver);
    EXPECT_EQ(RunUpdate(lMissing).GetCode(), TN_CANNOT_OPEN_FILE);
    lMissing.Detach(&lObserver);
    {
        std::lock_guard<std::mutex> lLock(lObserver.mMutex);
        EXPECT_EQ(lObserver.mValues, (std::vector<int>{0, 100}));
        ASSERT_EQ(lObserver.mLabels.size(), 2u);
        EXPECT_EQ(lObserver.mLabels.back(), "Update failed");
    }

    char lPath[] = "/tmp/tn-update-XXXXXX";
    const int lHandle = mkstemp(lPath);
    ASSERT_GE(lHandle, 0);
    close(lHandle);
    TnGenFUUpdater lPresent(lPath, "", &lDevice, "", true);
    EXPECT_EQ(RunUpdate(lPresent).GetCode(), TN_NOT_SUPPORTED);
    unlink(lPath);
    TnGenFUUpdater lNoDevice(lPath, "", nullptr, nullptr, false);
    EXPECT_EQ(RunUpdate(lNoDevice).GetCode(), TN_INVALID_PARAMETER);
}
} // namespace
