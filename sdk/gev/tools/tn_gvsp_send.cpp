// tn_gvsp_send: streams synthetic frames as GigE Vision stream blocks to a
// host and port, for tests and benchmarks of receivers.
//
//   tn_gvsp_send -t 127.0.0.1:50000 -s 4096x3072 -p 9000 -n 100
//
// Frames carry the C test camera's pattern (bytes 0 to 7: the block id,
// big-endian; byte i: (i % line + i / line) & 0xFF). With -R the sender keeps
// its recent blocks (the last 8, or --retain of them) and serves packet-resend
// commands on a control port (-c, 0: a free one, printed as "control port N"
// on standard error). -l, --reorder and --duplicate put faults into first
// transmissions.
#include <getopt.h>
#include <signal.h>
#include <stdio.h>
#include <time.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "TnGvspSender.h"
#include "TnGvspTool.h"

using namespace tn;
using namespace tn::gev;

namespace
{
std::atomic<bool> gStop(false);

void OnSignal(int)
{
    gStop = true;
}

class FramePool : public TnGvspSenderListener
{
public:
    void OnBlockReleased(void *aContext, uint64_t, bool) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mFree.push_back(reinterpret_cast<size_t>(aContext));
        mReleased.notify_one();
    }

    bool Take(size_t &aIndex, int aTimeoutMs)
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        if (!mReleased.wait_for(lLock, std::chrono::milliseconds(aTimeoutMs), [this] { return !mFree.empty(); }))
        {
            return false;
        }
        aIndex = mFree.back();
        mFree.pop_back();
        return true;
    }

    std::mutex mMutex;
    std::condition_variable mReleased;
    std::vector<size_t> mFree;
};

void Usage()
{
    fprintf(stderr,
            "usage: tn_gvsp_send -t HOST:PORT [-s WxH] [-f PIXFMT] [-r FPS] [-B BYTES_PER_S] [-p PACKET_SIZE]\n"
            "                    [-x] [-l DROP_PER_MILLE] [--reorder PER_MILLE] [--duplicate PER_MILLE]\n"
            "                    [-R] [-c CONTROL_PORT] [-n FRAMES] [-d SECONDS] [-b BATCH] [-k FRAMES_IN_POOL]\n"
            "                    [--linger MS] [--retain BLOCKS] [-q]\n");
}
} // namespace

int main(int aArgc, char **aArgv)
{
    uint32_t lAddress = 0;
    uint16_t lPort = 0;
    uint32_t lWidth = 1024, lHeight = 768;
    const tool::PixelFormat *lFormat = tool::FindPixelFormat("Mono8");
    double lFrameRate = 0;
    TnGvspSenderConfig lConfig;
    bool lServeResend = false;
    uint16_t lControlPort = 0;
    uint64_t lFrames = 0;
    double lDuration = 0;
    uint32_t lPool = 0;
    int lLingerMs = -1;
    uint32_t lRetained = 8;
    bool lQuiet = false;
    static const option kOptions[] = {{"reorder", required_argument, nullptr, 1},
                                      {"duplicate", required_argument, nullptr, 2},
                                      {"linger", required_argument, nullptr, 3},
                                      {"retain", required_argument, nullptr, 4},
                                      {nullptr, 0, nullptr, 0}};
    int lOption;
    while ((lOption = getopt_long(aArgc, aArgv, "t:s:f:r:B:p:xl:Rc:n:d:b:k:q", kOptions, nullptr)) != -1)
    {
        switch (lOption)
        {
        case 't':
            if (!tool::ParseEndpoint(optarg, lAddress, lPort))
            {
                fprintf(stderr, "tn_gvsp_send: bad destination %s\n", optarg);
                return 2;
            }
            break;
        case 's':
            if (!tool::ParseSize(optarg, lWidth, lHeight))
            {
                fprintf(stderr, "tn_gvsp_send: bad size %s\n", optarg);
                return 2;
            }
            break;
        case 'f':
            lFormat = tool::FindPixelFormat(optarg);
            if (lFormat == nullptr)
            {
                fprintf(stderr, "tn_gvsp_send: unknown pixel format %s\n", optarg);
                return 2;
            }
            break;
        case 'r':
            lFrameRate = atof(optarg);
            break;
        case 'B':
            lConfig.mMaxBytesPerSecond = atof(optarg);
            break;
        case 'p':
            lConfig.mPacketSize = static_cast<uint32_t>(atoi(optarg));
            break;
        case 'x':
            lConfig.mExtendedIds = true;
            break;
        case 'l':
            lConfig.mDropPerMille = static_cast<uint32_t>(atoi(optarg));
            break;
        case 1:
            lConfig.mReorderPerMille = static_cast<uint32_t>(atoi(optarg));
            break;
        case 2:
            lConfig.mDuplicatePerMille = static_cast<uint32_t>(atoi(optarg));
            break;
        case 3:
            lLingerMs = atoi(optarg);
            break;
        case 4:
            lRetained = static_cast<uint32_t>(atoi(optarg));
            break;
        case 'R':
            lServeResend = true;
            break;
        case 'c':
            lControlPort = static_cast<uint16_t>(atoi(optarg));
            break;
        case 'n':
            lFrames = strtoull(optarg, nullptr, 10);
            break;
        case 'd':
            lDuration = atof(optarg);
            break;
        case 'b':
            lConfig.mBatchSize = static_cast<uint32_t>(atoi(optarg));
            break;
        case 'k':
            lPool = static_cast<uint32_t>(atoi(optarg));
            break;
        case 'q':
            lQuiet = true;
            break;
        default:
            Usage();
            return 2;
        }
    }
    if (lAddress == 0 || (lFrames == 0 && lDuration <= 0))
    {
        Usage();
        return 2;
    }
    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);

    lConfig.mRetainedBlocks = lServeResend ? lRetained : 0;
    lConfig.mQueueCapacity = 4;
    const size_t lLine = static_cast<size_t>(lWidth) * lFormat->mBytes;
    const size_t lSize = lLine * lHeight;
    lPool = lPool != 0 ? lPool : lConfig.mRetainedBlocks + lConfig.mQueueCapacity + 2;
    std::vector<std::vector<uint8_t>> lMemory(lPool, std::vector<uint8_t>(lSize));
    FramePool lFramePool;
    for (size_t lIndex = 0; lIndex < lPool; ++lIndex)
    {
        tool::FillPattern(lMemory[lIndex].data(), lSize, lLine);
        lFramePool.mFree.push_back(lIndex);
    }

    TnGvspSender lSender;
    TnResult lResult = lSender.Open(lAddress, lPort, lConfig, &lFramePool);
    if (!lResult.IsOK())
    {
        fprintf(stderr, "tn_gvsp_send: cannot open the sender: %s\n", lResult.GetDescription().GetAscii());
        return 1;
    }
    TnGvspResendServer lControl;
    if (lServeResend)
    {
        lResult = lControl.Start({&lSender}, 0x7F000001, lControlPort);
        if (!lResult.IsOK())
        {
            fprintf(stderr, "tn_gvsp_send: cannot open the control port: %s\n", lResult.GetDescription().GetAscii());
            return 1;
        }
        fprintf(stderr, "tn_gvsp_send: control port %u\n", lControl.GetPort());
        fflush(stderr);
    }

    const double lStart = tool::Seconds();
    double lNextFrame = lStart;
    uint64_t lQueued = 0;
    while (!gStop && (lFrames == 0 || lQueued < lFrames) && (lDuration <= 0 || tool::Seconds() - lStart < lDuration))
    {
        if (lFrameRate > 0)
        {
            const double lNow = tool::Seconds();
            if (lNow < lNextFrame)
            {
                const double lWait = lNextFrame - lNow;
                timespec lSleep = {static_cast<time_t>(lWait), static_cast<long>((lWait - static_cast<time_t>(lWait)) * 1e9)};
                nanosleep(&lSleep, nullptr);
                continue;
            }
            lNextFrame = std::max(lNextFrame + 1.0 / lFrameRate, lNow - 1.0 / lFrameRate);
        }
        size_t lIndex;
        if (!lFramePool.Take(lIndex, 100))
        {
            continue;
        }
        const uint64_t lBlockId = lSender.PeekNextBlockId();
        tool::StampBlockId(lMemory[lIndex].data(), lSize, lBlockId);
        TnGvspBlock lBlock;
        lBlock.mLeader.mPixelFormat = lFormat->mCode;
        lBlock.mLeader.mSizeX = lWidth;
        lBlock.mLeader.mSizeY = lHeight;
        lBlock.mLeader.mTimestamp = static_cast<uint64_t>(tool::Seconds() * 1e9);
        lBlock.mSegments[0].mData = lMemory[lIndex].data();
        lBlock.mSegments[0].mSize = lSize;
        for (;;)
        {
            lResult = lSender.Queue(lBlock, reinterpret_cast<void *>(lIndex), lBlockId);
            if (lResult.GetCode() != TN_BUSY || gStop)
            {
                break;
            }
            lSender.WaitIdle(1);
        }
        if (lResult.IsFailure())
        {
            fprintf(stderr, "tn_gvsp_send: cannot queue a frame: %s\n", lResult.GetCodeString().GetAscii());
            return 1;
        }
        ++lQueued;
    }
    lSender.WaitIdle(10000);
    const double lSent = tool::Seconds();
    if (lServeResend)
    {
        // Late resend requests for the last blocks.
        const int lLinger = lLingerMs >= 0 ? lLingerMs : 500;
        for (int lWaited = 0; lWaited < lLinger && !gStop; lWaited += 10)
        {
            timespec lSleep = {0, 10000000};
            nanosleep(&lSleep, nullptr);
        }
    }
    const TnGvspSenderStatistics lStatistics = lSender.GetStatistics();
    lControl.Stop();
    lSender.Close();
    const double lSeconds = std::max(lSent - lStart, 1e-9);
    if (!lQuiet)
    {
        fprintf(stderr,
                "tn_gvsp_send: stream stop: frames=%llu packets=%llu bytes=%llu seconds=%.3f fps=%.1f gbps=%.3f "
                "dropped=%llu resend_requests=%llu resent=%llu send_errors=%llu lost=%llu\n",
                static_cast<unsigned long long>(lStatistics.mBlocksSent),
                static_cast<unsigned long long>(lStatistics.mPacketsSent),
                static_cast<unsigned long long>(lStatistics.mBytesSent), lSeconds,
                static_cast<double>(lStatistics.mBlocksSent) / lSeconds,
                static_cast<double>(lStatistics.mBytesSent) * 8 / lSeconds / 1e9,
                static_cast<unsigned long long>(lStatistics.mPacketsDropped),
                static_cast<unsigned long long>(lStatistics.mResendRequests),
                static_cast<unsigned long long>(lStatistics.mPacketsResent),
                static_cast<unsigned long long>(lStatistics.mSendErrors),
                static_cast<unsigned long long>(lStatistics.mPacketsLost));
    }
    return 0;
}
