// The software device and the stream transmitter as benchmark peers
// (bench/bench_transmit.py runs them in a network namespace):
//
//   tn_bench_softdevice serve [--sink]            a device with the feature BenchValue, its
//                                                 register observed by a sink with --sink
//   tn_bench_softdevice stream -W W -H H [-r FPS]  a device streaming the C test camera's
//                                                 pattern (precomputed; the block id per frame)
//   tn_bench_softdevice transmit PORT -W W -H H -p SCPS -d SECONDS [-r FPS]
//                                                 the transmitter alone towards 127.0.0.1:PORT
//
// Each runs until SIGTERM (transmit: for its duration) and then prints
//   SENDER frames=<blocks sent> cpu_s=<process CPU seconds while sending> seconds=<time sending>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TnBuffer.h"
#include "SoftDevicePeers.h"
#include "TnImage.h"
#include "TnSoftDeviceGEV.h"
#include "TnStreamingChannelSourceDefault.h"
#include "TnTransmitterGEV.h"

namespace
{
std::atomic<bool> gStop(false);

void OnSignal(int)
{
    gStop = true;
}

double CpuSeconds()
{
    rusage lUsage;
    getrusage(RUSAGE_SELF, &lUsage);
    return lUsage.ru_utime.tv_sec + lUsage.ru_stime.tv_sec + (lUsage.ru_utime.tv_usec + lUsage.ru_stime.tv_usec) / 1e6;
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

/// Frames at most aRate per second (0: as fast as they are asked for).
class Pace
{
public:
    explicit Pace(double aRate) : mPeriod(aRate > 0 ? 1.0 / aRate : 0), mNext(Now()) {}
    void Wait()
    {
        if (mPeriod <= 0)
        {
            return;
        }
        mNext += mPeriod;
        const double lLeft = mNext - Now();
        if (lLeft > 0)
        {
            std::this_thread::sleep_for(std::chrono::duration<double>(lLeft));
        }
        else if (lLeft < -0.1)
        {
            mNext = Now();
        }
    }

private:
    double mPeriod;
    double mNext;
};

/// A register sink that does what a small program sink does: looks at the
/// value before a read.
class BenchSink : public ITnRegisterEventSink
{
public:
    TnResult PreRead(ITnRegister *aRegister) override
    {
        uint32_t lValue = 0;
        aRegister->ReadInt(lValue);
        ++mReads;
        return TnResult(TN_OK);
    }
    std::atomic<uint64_t> mReads{0};
};

class FeatureSink : public ITnVirtualDeviceGEVEventSink
{
public:
    explicit FeatureSink(ITnRegisterEventSink *aSink) : mSink(aSink) {}
    void OnCreateCustomRegisters(ITnVirtualDeviceGEV *, ITnRegisterFactory *aFactory) override
    {
        aFactory->AddRegister("BenchValueReg", 0xA000, 4, TnGenAccessModeReadWrite, mSink);
    }
    void OnCreateCustomGenApiFeatures(ITnVirtualDeviceGEV *aDevice, ITnGenApiFactory *aFactory) override
    {
        aFactory->SetName("BenchValue");
        aFactory->SetCategory("Bench");
        aFactory->CreateInteger(aDevice->GetRegisterMap()->GetRegisterByAddress(0xA000), 0, 100000);
    }

private:
    ITnRegisterEventSink *mSink;
};

/// Starts aDevice on loopback and serves until SIGTERM; false when it
/// could not start.
bool ServeUntilStopped(TnSoftDeviceGEV &aDevice)
{
    const TnResult lResult = aDevice.Start("00:00:00:00:00:00");
    if (!lResult.IsOK())
    {
        fprintf(stderr, "start: %s\n", lResult.GetDescription().GetAscii());
        return false;
    }
    while (!gStop)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

int Serve(bool aSink)
{
    TnSoftDeviceGEV lDevice;
    BenchSink lSink;
    FeatureSink lFeatures(aSink ? &lSink : nullptr);
    lDevice.RegisterEventSink(&lFeatures);
    if (!ServeUntilStopped(lDevice))
    {
        return 1;
    }
    lDevice.Stop();
    return 0;
}

/// CPU time and time from the first frame the source gave.
class TimedSource : public tn::softdevice::test::PatternSource
{
public:
    TimedSource(uint32_t aWidth, uint32_t aHeight, double aRate) : PatternSource(aWidth, aHeight, 16, aRate, true) {}
    TnResult RetrieveBuffer(TnBuffer **aBuffer) override
    {
        const TnResult lResult = PatternSource::RetrieveBuffer(aBuffer);
        if (lResult.IsOK() && mFirstCpu < 0)
        {
            mFirstCpu = CpuSeconds();
            mFirstTime = Now();
        }
        return lResult;
    }
    double mFirstCpu = -1;
    double mFirstTime = 0;
};

int Stream(uint32_t aWidth, uint32_t aHeight, double aRate)
{
    TnSoftDeviceGEV lDevice;
    TimedSource lSource(aWidth, aHeight, aRate);
    lDevice.AddStream(&lSource);
    if (!ServeUntilStopped(lDevice))
    {
        return 1;
    }
    const double lCpu = CpuSeconds();
    const double lEnd = Now();
    lDevice.Stop();
    printf("SENDER frames=%llu cpu_s=%.6f seconds=%.6f\n", static_cast<unsigned long long>(lSource.mBlockId.load()),
           lSource.mFirstCpu < 0 ? 0.0 : lCpu - lSource.mFirstCpu, lSource.mFirstCpu < 0 ? 0.0 : lEnd - lSource.mFirstTime);
    return 0;
}

int Transmit(uint16_t aPort, uint32_t aWidth, uint32_t aHeight, uint32_t aPacketSize, double aSeconds, double aRate)
{
    TnTransmitterGEV lTransmitter;
    lTransmitter.SetPacketSize(aPacketSize);
    if (!lTransmitter.Open(TnString("127.0.0.1"), aPort).IsOK())
    {
        fprintf(stderr, "open failed\n");
        return 1;
    }
    std::vector<std::unique_ptr<TnBuffer>> lBuffers;
    std::vector<TnBuffer *> lPool;
    for (int lIndex = 0; lIndex < 16; ++lIndex)
    {
        lBuffers.emplace_back(new TnBuffer(TnPayloadTypeImage));
        TnImage *lImage = lBuffers.back()->GetImage();
        lImage->Alloc(aWidth, aHeight, TnPixelMono8);
        tn::softdevice::test::FillPattern(lImage->GetDataPointer(), lImage->GetImageSize(), aWidth, 0);
        lPool.push_back(lBuffers.back().get());
    }
    lTransmitter.LoadBufferPool(lPool.data(), static_cast<uint32_t>(lPool.size()));
    Pace lPace(aRate);
    const double lStart = Now();
    const double lCpuStart = CpuSeconds();
    uint64_t lId = 0;
    while (!gStop && Now() - lStart < aSeconds)
    {
        TnBuffer *lBuffer = nullptr;
        if (!lTransmitter.RetrieveFreeBuffer(&lBuffer, 1000).IsOK())
        {
            continue;
        }
        lPace.Wait();
        tn::softdevice::test::FillPattern(lBuffer->GetImage()->GetDataPointer(), 8, aWidth, ++lId);
        lBuffer->SetBlockID(lId);
        lTransmitter.QueueBuffer(lBuffer);
    }
    bool lAll = false;
    lTransmitter.AbortQueuedBuffers(5000, &lAll);
    const double lEnd = Now();
    printf("SENDER frames=%llu cpu_s=%.6f seconds=%.6f\n", static_cast<unsigned long long>(lTransmitter.GetBlocksTransmitted()),
           CpuSeconds() - lCpuStart, lEnd - lStart);
    lTransmitter.Close();
    return 0;
}
} // namespace

int main(int aCount, char **aArguments)
{
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    if (aCount < 2)
    {
        fprintf(stderr, "usage: tn_bench_softdevice serve [--sink] | stream -W W -H H [-r FPS] | "
                        "transmit PORT -W W -H H -p SCPS -d SECONDS [-r FPS]\n");
        return 2;
    }
    const std::string lMode = aArguments[1];
    uint32_t lWidth = 4096;
    uint32_t lHeight = 3072;
    uint32_t lPacket = 9000;
    double lRate = 0;
    double lSeconds = 10;
    bool lSink = false;
    int lFirst = 2;
    uint16_t lPort = 0;
    if (lMode == "transmit" && aCount > 2)
    {
        lPort = static_cast<uint16_t>(atoi(aArguments[2]));
        lFirst = 3;
    }
    for (int lIndex = lFirst; lIndex < aCount; ++lIndex)
    {
        const std::string lOption = aArguments[lIndex];
        const char *lValue = lIndex + 1 < aCount ? aArguments[lIndex + 1] : "0";
        if (lOption == "--sink")
        {
            lSink = true;
            continue;
        }
        if (lOption == "-W")
            lWidth = static_cast<uint32_t>(atoi(lValue));
        else if (lOption == "-H")
            lHeight = static_cast<uint32_t>(atoi(lValue));
        else if (lOption == "-p")
            lPacket = static_cast<uint32_t>(atoi(lValue));
        else if (lOption == "-r")
            lRate = atof(lValue);
        else if (lOption == "-d")
            lSeconds = atof(lValue);
        ++lIndex;
    }
    if (lMode == "serve")
    {
        return Serve(lSink);
    }
    if (lMode == "stream")
    {
        return Stream(lWidth, lHeight, lRate);
    }
    if (lMode == "transmit")
    {
        return Transmit(lPort, lWidth, lHeight, lPacket, lSeconds, lRate);
    }
    return 2;
}
