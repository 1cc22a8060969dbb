#include "TnTestDevices.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "TnGevBytes.h"
#include "TnGvcpDiscovery.h"

namespace tn
{
namespace test
{
namespace
{
constexpr uint32_t kLoopback = 0x7F000001;

bool Inside(uint64_t aAddress, size_t aSize, size_t aLimit)
{
    return aAddress + aSize <= aLimit;
}
} // namespace

MemoryDevice::MemoryDevice(const tn::gev::TnGvcpDeviceInfo &aInfo, size_t aSize)
{
    const std::vector<uint8_t> lBlock = tn::gev::EncodeDeviceInfo(aInfo);
    mMemory.assign(std::max(aSize, lBlock.size()), 0);
    std::copy(lBlock.begin(), lBlock.end(), mMemory.begin());
}

uint16_t MemoryDevice::ReadMemory(const tn::gev::TnGvcpPeer &, uint32_t aAddress, uint8_t *aData, size_t aSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!Inside(aAddress, aSize, mMemory.size()))
    {
        return tn::gev::kGvcpStatusInvalidAddress;
    }
    memcpy(aData, mMemory.data() + aAddress, aSize);
    return tn::gev::kGvcpStatusSuccess;
}

uint16_t MemoryDevice::WriteMemory(const tn::gev::TnGvcpPeer &, uint32_t aAddress, const uint8_t *aData, size_t aSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aAddress < mProtectedBelow)
    {
        return tn::gev::kGvcpStatusWriteProtect;
    }
    if (!Inside(aAddress, aSize, mMemory.size()))
    {
        return tn::gev::kGvcpStatusInvalidAddress;
    }
    memcpy(mMemory.data() + aAddress, aData, aSize);
    ++mWrites;
    return tn::gev::kGvcpStatusSuccess;
}

void MemoryDevice::ProtectBelow(uint64_t aLimit)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mProtectedBelow = aLimit;
}

void MemoryDevice::SetDescription(const std::string &aFileName, const std::string &aXml, uint32_t aAddress)
{
    Write(aAddress, aXml.data(), aXml.size());
    char lUrl[tn::gev::kUrlSize];
    snprintf(lUrl, sizeof(lUrl), "Local:%s;%x;%zx", aFileName.c_str(), aAddress, aXml.size());
    Write(tn::gev::kRegFirstUrl, lUrl, strlen(lUrl) + 1);
}

void MemoryDevice::Write(uint32_t aAddress, const void *aData, size_t aSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (Inside(aAddress, aSize, mMemory.size()))
    {
        memcpy(mMemory.data() + aAddress, aData, aSize);
    }
}

void MemoryDevice::PutWord(uint32_t aAddress, uint32_t aValue)
{
    uint8_t lBytes[4];
    tn::gev::PutU32(lBytes, aValue);
    Write(aAddress, lBytes, sizeof(lBytes));
}

uint32_t MemoryDevice::Word(uint32_t aAddress)
{
    const std::vector<uint8_t> lBytes = Snapshot(aAddress, 4);
    return lBytes.size() == 4 ? tn::gev::GetU32(lBytes.data()) : 0;
}

std::vector<uint8_t> MemoryDevice::Snapshot(uint32_t aAddress, size_t aSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!Inside(aAddress, aSize, mMemory.size()))
    {
        return std::vector<uint8_t>();
    }
    return std::vector<uint8_t>(mMemory.begin() + aAddress, mMemory.begin() + aAddress + aSize);
}

int MemoryDevice::GetWriteCount()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mWrites;
}

BootstrapDevice::BootstrapDevice(const tn::gev::TnGvcpDeviceInfo &aInfo) : MemoryDevice(aInfo)
{
    ProtectBelow(UINT64_MAX);
}

constexpr const char *FakeCamera::kProgram;

bool FakeCamera::IsInstalled()
{
    return !FindProgram(kProgram).empty();
}

bool FakeCamera::Start(const std::string &aSerial, std::string &aWhy, const std::vector<std::string> &aOptions)
{
    const std::string lProgram = FindProgram(kProgram);
    if (lProgram.empty())
    {
        aWhy = std::string(kProgram) + " is not installed (Debian package aravis-tools)";
        return false;
    }
    std::vector<std::string> lArguments = {lProgram, "-i", "127.0.0.1", "-s", aSerial};
    lArguments.insert(lArguments.end(), aOptions.begin(), aOptions.end());
    if (!mProcess.Start(lArguments))
    {
        aWhy = std::string(kProgram) + " could not be started";
        return false;
    }
    // Ready once it answers a discovery sent to it.
    tn::gev::TnGvcpDiscoveryTarget lTarget;
    lTarget.mLocalAddress = kLoopback;
    lTarget.mSubnetMask = 0xFF000000u;
    tn::gev::TnGvcpDiscoverySettings lProbe;
    lProbe.mUnicastAddress = kLoopback;
    lProbe.mTimeoutMs = 200;
    lProbe.mStopWhen = [](const tn::gev::TnGvcpDiscoveryAnswer &) { return true; };
    for (int lAttempt = 0; lAttempt < 50; ++lAttempt)
    {
        if (mProcess.HasEnded())
        {
            aWhy = std::string(kProgram) + " ended early";
            return false;
        }
        std::vector<tn::gev::TnGvcpDiscoveryAnswer> lAnswers;
        if (tn::gev::DiscoverDevices({lTarget}, lProbe, lAnswers).IsOK() && !lAnswers.empty())
        {
            return true;
        }
    }
    aWhy = std::string(kProgram) + " did not answer within 10 s";
    Stop();
    return false;
}

void FakeCamera::Stop()
{
    mProcess.Stop();
}

void FakeCamera::Kill()
{
    mProcess.Kill();
}

void FakeCameraTest::SetUp()
{
    FreshNetworkTest::SetUp();
    if (IsSkipped())
    {
        return;
    }
    if (!FakeCamera::IsInstalled())
    {
        GTEST_SKIP() << FakeCamera::kProgram << " is not installed (Debian package aravis-tools)";
    }
    mSerial = "TN" + std::to_string(getpid() % 1000000);
    std::string lWhy;
    if (!mCamera.Start(mSerial, lWhy))
    {
        FAIL() << lWhy;
    }
}
SimulatedDevicesFile::SimulatedDevicesFile(const std::string &aText)
{
    char lPath[] = "/tmp/tn-simulated-XXXXXX";
    const int lHandle = mkstemp(lPath);
    EXPECT_GE(lHandle, 0);
    if (lHandle >= 0)
    {
        close(lHandle);
        mPath = lPath;
        std::ofstream(mPath) << aText;
        setenv("TARN_SIMULATED_DEVICES", mPath.c_str(), 1);
    }
}

SimulatedDevicesFile::~SimulatedDevicesFile()
{
    unsetenv("TARN_SIMULATED_DEVICES");
    if (!mPath.empty())
    {
        unlink(mPath.c_str());
    }
}
} // namespace test
} // namespace tn
