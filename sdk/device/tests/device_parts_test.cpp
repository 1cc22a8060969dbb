// The serial port and the firmware updater without a device: their states,
// results and observers, and the update file.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <zip.h>
#include <zlib.h>

#include "TnDeviceSerialPort.h"
#include "TnGenFUUpdater.h"
#include "TnUpdateFile.h"

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
    EXPECT_EQ(RunUpdate(lPresent).GetCode(), TN_INVALID_DATA_FORMAT) << "an empty file is no update file";
    unlink(lPath);
    TnGenFUUpdater lNoDevice(lPath, "", nullptr, nullptr, false);
    EXPECT_EQ(RunUpdate(lNoDevice).GetCode(), TN_INVALID_PARAMETER);
}

// A zip archive of the files (stored without compression when aStore).
std::vector<uint8_t> Zip(const std::vector<std::pair<std::string, std::string>> &aFiles, bool aStore = false)
{
    char lPath[] = "/tmp/tn-update-zip-XXXXXX";
    const int lHandle = mkstemp(lPath);
    EXPECT_GE(lHandle, 0);
    close(lHandle);
    int lError = 0;
    zip_t *lArchive = zip_open(lPath, ZIP_TRUNCATE, &lError);
    EXPECT_NE(lArchive, nullptr);
    for (const auto &lFile : aFiles)
    {
        zip_source_t *lSource = zip_source_buffer(lArchive, lFile.second.data(), lFile.second.size(), 0);
        const zip_int64_t lIndex = zip_file_add(lArchive, lFile.first.c_str(), lSource, ZIP_FL_OVERWRITE);
        EXPECT_GE(lIndex, 0);
        if (aStore)
        {
            zip_set_file_compression(lArchive, static_cast<zip_uint64_t>(lIndex), ZIP_CM_STORE, 0);
        }
    }
    EXPECT_EQ(zip_close(lArchive), 0);
    std::ifstream lFile(lPath, std::ios::binary);
    std::vector<uint8_t> lBytes((std::istreambuf_iterator<char>(lFile)), std::istreambuf_iterator<char>());
    unlink(lPath);
    return lBytes;
}

std::string Manifest(const std::string &aFirmware, uint32_t aCrc, const std::string &aMore = "")
{
    char lCrc[16];
    snprintf(lCrc, sizeof(lCrc), "%08x", aCrc);
    return "# an update\nformat = 1\nmodels = EX-1, EX-2\nversion = 2.1.0\nfirmware = " + aFirmware +
           "\ncrc32 = " + lCrc + "\n" + aMore;
}

TEST(UpdateFile, ReadsItsManifestAndRefusesBrokenFiles)
{
    std::string lFirmware(5000, '\0');
    for (size_t lIndex = 0; lIndex < lFirmware.size(); ++lIndex)
    {
        lFirmware[lIndex] = static_cast<char>(lIndex * 13 % 256);
    }
    const uint32_t lCrc =
        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef *>(lFirmware.data()), lFirmware.size()));
    tn::device::UpdateFile lFile;
    const std::vector<uint8_t> lGood = Zip({{"manifest.txt", Manifest("fw.bin", lCrc)}, {"fw.bin", lFirmware}});
    ASSERT_TRUE(tn::device::ParseUpdateFile(lGood, lFile).IsOK());
    EXPECT_EQ(lFile.mModels, (std::vector<std::string>{"EX-1", "EX-2"}));
    EXPECT_EQ(lFile.mVersion, "2.1.0");
    EXPECT_EQ(lFile.mTarget, "Firmware");
    EXPECT_EQ(std::string(lFile.mFirmware.begin(), lFile.mFirmware.end()), lFirmware);
    EXPECT_TRUE(lFile.Fits("EX-2"));
    EXPECT_FALSE(lFile.Fits("EX-3"));
    ASSERT_TRUE(tn::device::ParseUpdateFile(
                    Zip({{"manifest.txt", Manifest("fw.bin", lCrc, "target = Boot\n")}, {"fw.bin", lFirmware}}), lFile)
                    .IsOK());
    EXPECT_EQ(lFile.mTarget, "Boot");

    auto lCode = [](const std::vector<uint8_t> &aArchive) {
        tn::device::UpdateFile lRead;
        return tn::device::ParseUpdateFile(aArchive, lRead).GetCode();
    };
    EXPECT_EQ(lCode(std::vector<uint8_t>(lGood.begin(), lGood.end() - 30)), TN_INVALID_DATA_FORMAT) << "truncated";
    EXPECT_EQ(lCode(Zip({{"manifest.txt", Manifest("fw.bin", lCrc ^ 1)}, {"fw.bin", lFirmware}})),
              TN_CORRUPTED_DATA);
    EXPECT_EQ(lCode(Zip({{"fw.bin", lFirmware}})), TN_INVALID_DATA_FORMAT) << "no manifest";
    EXPECT_EQ(lCode(Zip({{"manifest.txt", Manifest("other.bin", lCrc)}, {"fw.bin", lFirmware}})),
              TN_INVALID_DATA_FORMAT);
    EXPECT_EQ(lCode(Zip({{"manifest.txt", "format = 2\nmodels = EX-1\nversion = 1\nfirmware = fw.bin\ncrc32 = 0\n"},
                         {"fw.bin", lFirmware}})),
              TN_INVALID_DATA_FORMAT);
    EXPECT_EQ(lCode(Zip({{"manifest.txt", "format = 1\nmodels = \nversion = 1\nfirmware = fw.bin\ncrc32 = 0\n"},
                         {"fw.bin", lFirmware}})),
              TN_INVALID_DATA_FORMAT);
    // A firmware byte changed inside the archive fails the archive's own CRC.
    std::vector<uint8_t> lDamaged = Zip({{"manifest.txt", Manifest("fw.bin", lCrc)}, {"fw.bin", lFirmware}}, true);
    const std::vector<uint8_t> lMarker(lFirmware.begin() + 1000, lFirmware.begin() + 1016);
    const auto lAt = std::search(lDamaged.begin(), lDamaged.end(), lMarker.begin(), lMarker.end());
    ASSERT_NE(lAt, lDamaged.end());
    *lAt ^= 0xFF;
    EXPECT_EQ(lCode(lDamaged), TN_CORRUPTED_DATA);
    EXPECT_EQ(tn::device::ReadUpdateFile("/nonexistent/update.zip", lFile).GetCode(), TN_CANNOT_OPEN_FILE);
}
} // namespace
