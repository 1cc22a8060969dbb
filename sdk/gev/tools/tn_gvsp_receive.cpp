// tn_gvsp_receive: receives GigE Vision stream blocks with the SDK's receive
// engine and prints one RESULT line, as the C test camera's bench.sh expects
// of a receiver in its RX_CMD slot:
//
//   RESULT frames=<good frames> failed=<failed+missing frames> seconds=<window>
//          cpu_s=<process CPU in window> bytes=<image bytes of good frames> ...
//
// Camera mode (the default; the camera's address from -a or FASTCAM_ADDRESS):
// a bench tool's minimal control sequence for the C test camera, written
// against that camera's register map (its GenICam XML) with hard-coded
// addresses, not through a GenICam engine: take control privilege, set
// Width, Height, PixelFormat and the packet size, read PayloadSize, point the
// stream channel at the receiver, start acquisition, keep the heartbeat, stop.
// Resend is used when the camera advertises it (--no-resend turns it off).
//
// Listen mode (--listen PORT): only receives, e.g. from tn_gvsp_send; resend
// requests go to --resend-to HOST:PORT. --idle-exit ends the run once no
// block came for that long.
//
// --receiver ring|socket|auto picks where datagrams are taken from (auto,
// the default: the packet ring where it can be opened).
//
// Settings default to bench.sh's environment (FASTCAM_WIDTH, FASTCAM_HEIGHT,
// FASTCAM_PIXEL_FORMAT, FASTCAM_PACKET_SIZE, FASTCAM_FRAMES,
// FASTCAM_DURATION).
#include <getopt.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "TnGvcp.h"
#include "TnGvcpClient.h"
#include "TnGvspReceiver.h"
#include "TnGvspTool.h"

using namespace tn;
using namespace tn::gev;

namespace
{
// The C test camera's feature registers (from its GenICam XML); with
// --soft-device those of the SDK's software device (its first source).
uint32_t gCamWidth = 0x20000;
uint32_t gCamHeight = 0x20004;
uint32_t gCamPixelFormat = 0x20010;
uint32_t gCamPayloadSize = 0x20014;
uint32_t gCamAcquisitionMode = 0x20028;
uint32_t gCamAcquisitionStart = 0x2002C;
uint32_t gCamAcquisitionStop = 0x20030;

void UseSoftDeviceRegisters()
{
    const uint32_t lBase = 0xF0010000;
    gCamWidth = lBase + 0x00;
    gCamHeight = lBase + 0x04;
    gCamPixelFormat = lBase + 0x10;
    gCamPayloadSize = lBase + 0x14;
    gCamAcquisitionMode = lBase + 0x20;
    gCamAcquisitionStart = lBase + 0x24;
    gCamAcquisitionStop = lBase + 0x28;
}

std::atomic<bool> gStop(false);

void OnSignal(int)
{
    gStop = true;
}

struct Done
{
    size_t mIndex;
    uint32_t mResult;
    uint64_t mBlockId;
    uint64_t mReceivedSize;
    uint32_t mSizeX;
    uint32_t mPixelFormat;
};

// Finished blocks go to the main thread, which checks them and gives them
// back.
class Pool : public tool::BufferPool
{
public:
    using BufferPool::BufferPool;

    void FinishBlock(const TnGvspBlockTarget &aTarget, const TnGvspBlockReport &aReport) override
    {
        Done lDone = {IndexOf(aTarget), aReport.mResult, aReport.mBlockId,
                      aReport.mReceivedSize, aReport.mLeaderInfo.mSizeX, aReport.mLeaderInfo.mPixelFormat};
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mDone.push_back(lDone);
        }
        mReady.notify_one();
    }

    bool Next(Done &aDone, int aTimeoutMs)
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        if (!mReady.wait_for(lLock, std::chrono::milliseconds(aTimeoutMs), [this] { return !mDone.empty(); }))
        {
            return false;
        }
        aDone = mDone.front();
        mDone.pop_front();
        return true;
    }

    std::condition_variable mReady;
    std::deque<Done> mDone;
};

void Usage()
{
    fprintf(stderr, "usage: tn_gvsp_receive [-a CAMERA] [-W WIDTH] [-H HEIGHT] [-f PIXFMT] [-p PACKET_SIZE]\n"
                    "                       [-d SECONDS] [-n FRAMES] [-b BUFFERS] [--verify | --verify-all] [--no-resend]\n"
                    "                       [--socket-buffer BYTES] [--coalesce-us MICROSECONDS] [--soft-device]\n"
                    "                       [--receiver ring|socket|auto] [--ring-size BYTES] [--batch DATAGRAMS]\n"
                    "                       [--listen PORT [--payload BYTES]\n"
                    "                       [--resend-to HOST:PORT] [--idle-exit SECONDS]] [-q]\n");
}

bool Check(const TnResult &aResult, const char *aWhat)
{
    if (!aResult.IsOK())
    {
        fprintf(stderr, "tn_gvsp_receive: %s: %s %s\n", aWhat, aResult.GetCodeString().GetAscii(),
                aResult.GetDescription().GetAscii());
        return false;
    }
    return true;
}
} // namespace

int main(int aArgc, char **aArgv)
{
    std::string lCamera = tool::Environment("FASTCAM_ADDRESS", "");
    uint32_t lWidth = static_cast<uint32_t>(atoi(tool::Environment("FASTCAM_WIDTH", "0").c_str()));
    uint32_t lHeight = static_cast<uint32_t>(atoi(tool::Environment("FASTCAM_HEIGHT", "0").c_str()));
    std::string lPixelFormat = tool::Environment("FASTCAM_PIXEL_FORMAT", "");
    uint32_t lPacketSize = static_cast<uint32_t>(atoi(tool::Environment("FASTCAM_PACKET_SIZE", "0").c_str()));
    uint64_t lFrames = strtoull(tool::Environment("FASTCAM_FRAMES", "0").c_str(), nullptr, 10);
    double lDuration = atof(tool::Environment("FASTCAM_DURATION", "10").c_str());
    uint32_t lBuffers = 16;
    bool lVerify = false;
    bool lVerifyAll = false;
    bool lResend = true;
    int lSocketBuffer = 64 << 20;
    int lListenPort = -1;
    uint64_t lPayload = 0;
    uint32_t lResendAddress = 0;
    uint16_t lResendPort = kGvcpPort;
    double lIdleExit = 0;
    bool lQuiet = false;
    uint32_t lCoalesceUs = 0;
    TnGvspReceiverKind lKind = TnGvspReceiverKind::kAutomatic;
    uint32_t lRingSize = 0;
    uint32_t lBatch = 0;
    static const option kOptions[] = {{"verify", no_argument, nullptr, 1},
                                      {"no-resend", no_argument, nullptr, 2},
                                      {"socket-buffer", required_argument, nullptr, 3},
                                      {"listen", required_argument, nullptr, 4},
                                      {"payload", required_argument, nullptr, 5},
                                      {"resend-to", required_argument, nullptr, 6},
                                      {"idle-exit", required_argument, nullptr, 7},
                                      {"verify-all", no_argument, nullptr, 8},
                                      {"coalesce-us", required_argument, nullptr, 9},
                                      {"soft-device", no_argument, nullptr, 10},
                                      {"receiver", required_argument, nullptr, 11},
                                      {"ring-size", required_argument, nullptr, 12},
                                      {"batch", required_argument, nullptr, 13},
                                      {nullptr, 0, nullptr, 0}};
    int lOption;
    while ((lOption = getopt_long(aArgc, aArgv, "a:W:H:f:p:d:n:b:q", kOptions, nullptr)) != -1)
    {
        switch (lOption)
        {
        case 'a':
            lCamera = optarg;
            break;
        case 'W':
            lWidth = static_cast<uint32_t>(atoi(optarg));
            break;
        case 'H':
            lHeight = static_cast<uint32_t>(atoi(optarg));
            break;
        case 'f':
            lPixelFormat = optarg;
            break;
        case 'p':
            lPacketSize = static_cast<uint32_t>(atoi(optarg));
            break;
        case 'd':
            lDuration = atof(optarg);
            break;
        case 'n':
            lFrames = strtoull(optarg, nullptr, 10);
            break;
        case 'b':
            lBuffers = static_cast<uint32_t>(atoi(optarg));
            break;
        case 'q':
            lQuiet = true;
            break;
        case 1:
            lVerify = true;
            break;
        case 2:
            lResend = false;
            break;
        case 3:
            lSocketBuffer = atoi(optarg);
            break;
        case 4:
            lListenPort = atoi(optarg);
            break;
        case 5:
            lPayload = strtoull(optarg, nullptr, 10);
            break;
        case 6:
            if (!tool::ParseEndpoint(optarg, lResendAddress, lResendPort))
            {
                fprintf(stderr, "tn_gvsp_receive: bad resend address %s\n", optarg);
                return 2;
            }
            break;
        case 7:
            lIdleExit = atof(optarg);
            break;
        case 8:
            lVerify = lVerifyAll = true;
            break;
        case 9:
            lCoalesceUs = static_cast<uint32_t>(atoi(optarg));
            break;
        case 10:
            UseSoftDeviceRegisters();
            break;
        case 11:
            if (strcmp(optarg, "ring") == 0)
            {
                lKind = TnGvspReceiverKind::kPacketRing;
            }
            else if (strcmp(optarg, "socket") == 0)
            {
                lKind = TnGvspReceiverKind::kSocket;
            }
            else if (strcmp(optarg, "auto") != 0)
            {
                Usage();
                return 2;
            }
            break;
        case 12:
            lRingSize = static_cast<uint32_t>(strtoul(optarg, nullptr, 10));
            break;
        case 13:
            lBatch = static_cast<uint32_t>(strtoul(optarg, nullptr, 10));
            break;
        default:
            Usage();
            return 2;
        }
    }
    const bool lListen = lListenPort >= 0;
    uint32_t lCameraAddress = 0;
    if (!lListen && !ParseIPv4(lCamera, lCameraAddress))
    {
        Usage();
        return 2;
    }
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    const tool::PixelFormat *lFormat = tool::FindPixelFormat(lPixelFormat.empty() ? "Mono8" : lPixelFormat);
    if (lFormat == nullptr)
    {
        fprintf(stderr, "tn_gvsp_receive: unknown pixel format %s\n", lPixelFormat.c_str());
        return 2;
    }

    TnGvcpClient lClient;
    TnGvspReceiverConfig lConfig;
    lConfig.mSocketBufferSize = lSocketBuffer;
    lConfig.mCoalesceUs = lCoalesceUs;
    lConfig.mKind = lKind;
    if (lRingSize != 0)
    {
        lConfig.mRingSize = lRingSize;
    }
    if (lBatch != 0)
    {
        lConfig.mBatchSize = lBatch;
    }
    lConfig.mPacketBufferSize = 65535;
    lConfig.mAssembler.mMaxBlocksInFlight = 4;
    if (lListen)
    {
        lConfig.mLocalAddress = 0x7F000001;
        lConfig.mLocalPort = static_cast<uint16_t>(lListenPort);
        lConfig.mDeviceAddress = lResendAddress;
        lConfig.mDevicePort = lResendPort;
        lConfig.mAssembler.mResendEnabled = lResend && lResendAddress != 0;
        if (lPayload == 0)
        {
            lPayload = static_cast<uint64_t>(lWidth) * lHeight * lFormat->mBytes;
        }
    }
    else
    {
        if (!Check(lClient.Open(lCameraAddress), "control channel") ||
            !Check(lClient.WriteRegister(kRegControlChannelPrivilege, kPrivilegeControl), "control privilege"))
        {
            return 1;
        }
        uint32_t lCapability = 0;
        lClient.ReadRegister(kRegGvcpCapability, lCapability);
        lClient.SetConcatenation((lCapability & kCapabilityConcatenation) != 0);
        if ((lWidth != 0 && !Check(lClient.WriteRegister(gCamWidth, lWidth), "Width")) ||
            (lHeight != 0 && !Check(lClient.WriteRegister(gCamHeight, lHeight), "Height")) ||
            (!lPixelFormat.empty() && !Check(lClient.WriteRegister(gCamPixelFormat, lFormat->mCode), "PixelFormat")) ||
            (lPacketSize != 0 &&
             !Check(lClient.WriteRegister(kRegStreamChannelBase + kRegStreamChannelPacketSize, lPacketSize),
                    "packet size")))
        {
            return 1;
        }
        uint32_t lValue = 0;
        if (!Check(lClient.ReadRegister(gCamPayloadSize, lValue), "PayloadSize"))
        {
            return 1;
        }
        lPayload = lValue;
        lClient.ReadRegister(gCamWidth, lWidth);
        lClient.ReadRegister(gCamHeight, lHeight);
        lConfig.mLocalAddress = lClient.GetLocalAddress();
        lConfig.mDeviceAddress = lCameraAddress;
        lConfig.mAssembler.mResendEnabled = lResend && (lCapability & kCapabilityPacketResend) != 0;
    }
    if (lPayload == 0)
    {
        fprintf(stderr, "tn_gvsp_receive: no payload size\n");
        return 2;
    }

    Pool lPool(lBuffers, lPayload);
    TnGvspReceiver lReceiver;
    if (!Check(lReceiver.Open(lConfig, &lPool), "receiver") || !Check(lReceiver.Start(), "receive thread"))
    {
        return 1;
    }
    if (lListen)
    {
        fprintf(stderr, "tn_gvsp_receive: listening on port %u\n", lReceiver.GetLocalPort());
        fflush(stderr);
    }
    else
    {
        const uint32_t lChannel = kRegStreamChannelBase;
        if (!Check(lClient.WriteRegister(lChannel + kRegStreamChannelDestination, lReceiver.GetLocalAddress()),
                   "stream destination") ||
            !Check(lClient.WriteRegister(lChannel + kRegStreamChannelPort, lReceiver.GetLocalPort()), "stream port") ||
            !Check(lClient.WriteRegister(gCamAcquisitionMode, 0), "AcquisitionMode") ||
            !Check(lClient.WriteRegister(gCamAcquisitionStart, 1), "AcquisitionStart"))
        {
            return 1;
        }
    }

    const size_t lLineBytes = static_cast<size_t>(lWidth) * lFormat->mBytes;
    uint64_t lGood = 0, lCounted = 0, lFailed = 0, lAborted = 0, lBad = 0, lVerified = 0, lGoodBytes = 0;
    double lFirst = -1, lFirstCpu = 0, lFirstSystem = 0;
    const double lStart = tool::Seconds();
    double lLastBlock = lStart;
    double lLastBlockCpu = 0, lLastBlockSystem = 0;
    bool lIdle = false;
    double lLastHeartbeat = lStart;
    while (!gStop)
    {
        const double lNow = tool::Seconds();
        if ((lFrames != 0 && lCounted >= lFrames) || (lDuration > 0 && lNow - lStart >= lDuration) ||
            (lIdleExit > 0 && lFirst >= 0 && lNow - lLastBlock >= lIdleExit))
        {
            lIdle = lIdleExit > 0 && lFirst >= 0 && lNow - lLastBlock >= lIdleExit;
            break;
        }
        if (!lListen && lNow - lLastHeartbeat >= 1.0)
        {
            uint32_t lPrivilege;
            lClient.ReadRegister(kRegControlChannelPrivilege, lPrivilege);
            lLastHeartbeat = lNow;
        }
        Done lDone;
        if (!lPool.Next(lDone, 100))
        {
            if (lFirst < 0 && lNow - lStart > 5 && lIdleExit <= 0)
            {
                fprintf(stderr, "tn_gvsp_receive: no frame within 5 s\n");
                break;
            }
            continue;
        }
        lLastBlock = tool::Seconds();
        if (lIdleExit > 0)
        {
            lLastBlockCpu = tool::CpuSeconds(&lLastBlockSystem);
        }
        const bool lIsFirst = lFirst < 0;
        if (lIsFirst)
        {
            lFirst = lLastBlock;
            lFirstCpu = tool::CpuSeconds(&lFirstSystem);
        }
        if (lDone.mResult == TN_OK)
        {
            ++lGood;
            if (!lIsFirst)
            {
                ++lCounted;
                lGoodBytes += lDone.mReceivedSize;
            }
            if (lVerify)
            {
                ++lVerified;
                const size_t lLine = lListen && lDone.mSizeX != 0 ? static_cast<size_t>(lDone.mSizeX) * lFormat->mBytes
                                                                   : lLineBytes;
                if (!tool::PatternOk(lPool.GetData(lDone.mIndex), lDone.mReceivedSize, lLine, lDone.mBlockId,
                                     lVerifyAll))
                {
                    ++lBad;
                }
            }
        }
        else if (lDone.mResult == TN_ABORTED)
        {
            ++lAborted;
        }
        else
        {
            ++lFailed;
        }
        lPool.Release(lDone.mIndex);
    }
    // A run that ended by going idle is measured up to its last block.
    double lEndSystem = lLastBlockSystem;
    const double lEndCpu = lIdle ? lLastBlockCpu : tool::CpuSeconds(&lEndSystem);
    const double lEnd = lIdle ? lLastBlock : tool::Seconds();
    if (!lListen)
    {
        lClient.WriteRegister(gCamAcquisitionStop, 1);
    }
    lReceiver.Stop();
    if (!lListen)
    {
        lClient.WriteRegister(kRegControlChannelPrivilege, 0);
    }
    const TnGvspReceiverStatistics lStatistics = lReceiver.GetStatistics();
    const TnGvspReceiveStatistics &lAssembly = lStatistics.mAssembly;
    // Ids that never came and blocks without a buffer count as failed, as
    // aravis_rx counts missing ids and underruns.
    const uint64_t lAllFailed = lFailed + lAssembly.mBlocksMissed + lAssembly.mBlocksDropped;
    const double lWindow = lFirst >= 0 ? lEnd - lFirst : 0;
    const double lCpu = lFirst >= 0 ? lEndCpu - lFirstCpu : 0;
    if (!lQuiet)
    {
        fprintf(stderr,
                "tn_gvsp_receive: %llu frames in %.3f s: %.1f frames/s, %.2f Gb/s, failed %llu (bad status %llu, "
                "missing ids %llu, no buffer %llu), CPU %.3f s; packets %llu (in place %llu, copied %llu), "
                "socket drops %llu, resend requests %llu, recovered %llu, lost %llu; from the %s%s\n",
                static_cast<unsigned long long>(lCounted), lWindow, lWindow > 0 ? lCounted / lWindow : 0.0,
                lWindow > 0 ? lGoodBytes * 8 / lWindow / 1e9 : 0.0, static_cast<unsigned long long>(lAllFailed),
                static_cast<unsigned long long>(lFailed), static_cast<unsigned long long>(lAssembly.mBlocksMissed),
                static_cast<unsigned long long>(lAssembly.mBlocksDropped), lCpu,
                static_cast<unsigned long long>(lAssembly.mPackets),
                static_cast<unsigned long long>(lAssembly.mPacketsInPlace),
                static_cast<unsigned long long>(lAssembly.mPacketsCopied),
                static_cast<unsigned long long>(lStatistics.mSocketDrops),
                static_cast<unsigned long long>(lStatistics.mResendRequestsSent),
                static_cast<unsigned long long>(lAssembly.mPacketsRecovered),
                static_cast<unsigned long long>(lAssembly.mPacketsLost),
                lReceiver.GetKind() == TnGvspReceiverKind::kPacketRing ? "packet ring" : "socket",
                lVerify ? (", verified " + std::to_string(lVerified) + ", bad " + std::to_string(lBad)).c_str() : "");
    }
    printf("RESULT frames=%llu failed=%llu seconds=%.6f cpu_s=%.6f bytes=%llu verified=%llu bad=%llu good_total=%llu "
           "missing=%llu underruns=%llu missing_packets=%llu socket_drops=%llu in_place=%llu copied=%llu "
           "resend_requests=%llu recovered=%llu aborted=%llu sys_s=%.6f receiver=%s\n",
           static_cast<unsigned long long>(lCounted), static_cast<unsigned long long>(lAllFailed), lWindow, lCpu,
           static_cast<unsigned long long>(lGoodBytes), static_cast<unsigned long long>(lVerified),
           static_cast<unsigned long long>(lBad), static_cast<unsigned long long>(lGood),
           static_cast<unsigned long long>(lAssembly.mBlocksMissed),
           static_cast<unsigned long long>(lAssembly.mBlocksDropped),
           static_cast<unsigned long long>(lAssembly.mPacketsLost),
           static_cast<unsigned long long>(lStatistics.mSocketDrops),
           static_cast<unsigned long long>(lAssembly.mPacketsInPlace),
           static_cast<unsigned long long>(lAssembly.mPacketsCopied),
           static_cast<unsigned long long>(lStatistics.mResendRequestsSent),
           static_cast<unsigned long long>(lAssembly.mPacketsRecovered), static_cast<unsigned long long>(lAborted),
           lFirst >= 0 ? lEndSystem - lFirstSystem : 0.0,
           lReceiver.GetKind() == TnGvspReceiverKind::kPacketRing ? "ring" : "socket");
    fflush(stdout);
    return lCounted > 0 && lBad == 0 ? 0 : 1;
}
