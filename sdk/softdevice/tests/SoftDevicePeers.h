// Helpers of the software device's network tests: a source that fills its
// buffers with the C test camera's pattern (so that independent receivers can
// check every byte), an event sink that records its calls, and the paths of
// the peers.
#ifndef TN_SOFT_DEVICE_PEERS_H
#define TN_SOFT_DEVICE_PEERS_H

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ITnVirtualDeviceGEV.h"
#include "TnBuffer.h"
#include "TnImage.h"
#include "TnStreamingChannelSourceDefault.h"

namespace tn
{
namespace softdevice
{
namespace test
{
/// The pattern the C test camera sends: bytes 0..7 the block id, big-endian;
/// byte i after them (i % line + i / line) & 0xFF.
inline void FillPattern(uint8_t *aData, size_t aSize, size_t aLineBytes, uint64_t aBlockId)
{
    for (size_t lIndex = 8; lIndex < aSize; ++lIndex)
    {
        aData[lIndex] = static_cast<uint8_t>(lIndex % aLineBytes + lIndex / aLineBytes);
    }
    for (size_t lIndex = 0; lIndex < 8 && lIndex < aSize; ++lIndex)
    {
        aData[lIndex] = static_cast<uint8_t>(aBlockId >> (56 - 8 * lIndex));
    }
}

/// A default source that only fills buffers: each retrieved buffer holds
/// the pattern with the next block id (1, 2, ...), which it gives the
/// buffer. Frames come as fast as buffers do, or at most aRate per second.
/// With aPatternOnce the pattern is written when a buffer is allocated and
/// a frame only takes its id (for benchmarks: a source that costs nothing).
class PatternSource : public TnStreamingChannelSourceDefault
{
public:
    PatternSource(uint32_t aWidth, uint32_t aHeight, size_t aBuffers = 8, double aRate = 0, bool aPatternOnce = false)
        : TnStreamingChannelSourceDefault(aWidth, aHeight, TnPixelMono8, aBuffers), mRate(aRate),
          mPatternOnce(aPatternOnce)
    {
    }

    TnResult QueueBuffer(TnBuffer *aBuffer) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mQueue.push_back(aBuffer);
        mChanged.notify_all();
        return TnResult(TN_OK);
    }

    TnResult RetrieveBuffer(TnBuffer **aBuffer) override
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        if (!mChanged.wait_for(lLock, std::chrono::milliseconds(20), [&] { return !mQueue.empty(); }))
        {
            return TnResult(TN_TIMEOUT);
        }
        TnBuffer *lBuffer = mQueue.front();
        mQueue.pop_front();
        if (mAborting)
        {
            *aBuffer = lBuffer;
            return TnResult(TN_ABORTED);
        }
        lLock.unlock();
        Pace();
        TnImage *lImage = lBuffer->GetImage();
        const uint64_t lId = ++mBlockId;
        FillPattern(lImage->GetDataPointer(), mPatternOnce ? 8 : lImage->GetImageSize(), LineBytes(*lImage), lId);
        lBuffer->SetBlockID(lId);
        ++mFilled;
        *aBuffer = lBuffer;
        return TnResult(TN_OK);
    }

    void AbortQueuedBuffers() override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mAborting = true;
    }

    void OnStreamingStart() override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mAborting = false;
        ++mStarts;
    }

    void OnStreamingStop() override { ++mStops; }

    void FreeBuffer(TnBuffer *aBuffer) override
    {
        ++mFreed;
        TnStreamingChannelSourceDefault::FreeBuffer(aBuffer);
    }

    TnBuffer *AllocBuffer() override
    {
        TnBuffer *lBuffer = TnStreamingChannelSourceDefault::AllocBuffer();
        if (lBuffer != nullptr)
        {
            ++mAllocated;
            if (mPatternOnce)
            {
                TnImage *lImage = lBuffer->GetImage();
                FillPattern(lImage->GetDataPointer(), lImage->GetImageSize(), LineBytes(*lImage), 0);
            }
        }
        return lBuffer;
    }

    std::atomic<uint64_t> mBlockId{0};
    std::atomic<int> mFilled{0};
    std::atomic<int> mStarts{0};
    std::atomic<int> mStops{0};
    std::atomic<int> mAllocated{0};
    std::atomic<int> mFreed{0};

private:
    static size_t LineBytes(const TnImage &aImage)
    {
        return aImage.GetWidth() * TnPixelTypeGetBitsPerPixel(aImage.GetPixelType()) / 8;
    }

    /// At most mRate frames per second, on a steady schedule.
    void Pace()
    {
        if (mRate <= 0)
        {
            return;
        }
        const auto lNow = std::chrono::steady_clock::now();
        mNext = mNext.time_since_epoch().count() == 0 ? lNow : mNext + std::chrono::nanoseconds(static_cast<int64_t>(1e9 / mRate));
        if (mNext > lNow)
        {
            std::this_thread::sleep_until(mNext);
        }
        else if (lNow - mNext > std::chrono::milliseconds(100))
        {
            mNext = lNow;
        }
    }

    std::mutex mMutex;
    std::condition_variable mChanged;
    std::deque<TnBuffer *> mQueue;
    bool mAborting = false;
    double mRate;
    bool mPatternOnce;
    std::chrono::steady_clock::time_point mNext;
};

/// Records the device's events.
class RecordingDeviceSink : public ITnVirtualDeviceGEVEventSink
{
public:
    struct Connect
    {
        std::string mAddress;
        uint16_t mPort;
        TnAccessType mAccess;
    };

    void OnApplicationConnect(ITnVirtualDeviceGEV *, const TnString &aIPAddress, uint16_t aPort,
                              TnAccessType aAccessType) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mConnects.push_back(Connect{aIPAddress.GetAscii(), aPort, aAccessType});
        mEvents.push_back("connect");
        mChanged.notify_all();
    }
    void OnControlChannelStart(ITnVirtualDeviceGEV *, const TnString &aMAC, const TnString &aIP, const TnString &,
                               const TnString &, uint16_t aPort) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mEvents.push_back(std::string("start ") + aMAC.GetAscii() + " " + aIP.GetAscii() + " " + std::to_string(aPort));
    }
    void OnApplicationDisconnect(ITnVirtualDeviceGEV *) override { Add("disconnect"); }
    void OnControlChannelStop(ITnVirtualDeviceGEV *) override { Add("stop"); }
    void OnDeviceResetFull(ITnVirtualDeviceGEV *) override { Add("reset full"); }
    void OnDeviceResetNetwork(ITnVirtualDeviceGEV *) override { Add("reset network"); }
    void OnCreateCustomRegisters(ITnVirtualDeviceGEV *, ITnRegisterFactory *) override { Add("registers"); }
    void OnCreateCustomGenApiFeatures(ITnVirtualDeviceGEV *, ITnGenApiFactory *) override { Add("features"); }

    std::vector<std::string> Events()
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return mEvents;
    }

    bool WaitFor(const std::string &aEvent, int aCount, int aTimeoutMs)
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        return mChanged.wait_for(lLock, std::chrono::milliseconds(aTimeoutMs), [&] {
            int lSeen = 0;
            for (const std::string &lEvent : mEvents)
            {
                lSeen += lEvent == aEvent ? 1 : 0;
            }
            return lSeen >= aCount;
        });
    }

    std::vector<Connect> Connects()
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return mConnects;
    }

private:
    void Add(const char *aEvent)
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mEvents.push_back(aEvent);
        mChanged.notify_all();
    }

    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<std::string> mEvents;
    std::vector<Connect> mConnects;
};
} // namespace test
} // namespace softdevice
} // namespace tn

#endif
