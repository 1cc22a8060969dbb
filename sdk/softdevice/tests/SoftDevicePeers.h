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

inline bool HasPattern(const uint8_t *aData, size_t aSize, size_t aLineBytes, uint64_t aBlockId)
{
    for (size_t lIndex = 0; lIndex < 8 && lIndex < aSize; ++lIndex)
    {
        if (aData[lIndex] != static_cast<uint8_t>(aBlockId >> (56 - 8 * lIndex)))
        {
            return false;
        }
    }
    for (size_t lIndex = 8; lIndex < aSize; ++lIndex)
    {
        if (aData[lIndex] != static_cast<uint8_t>(lIndex % aLineBytes + lIndex / aLineBytes))
        {
            return false;
        }
    }
    return true;
}

/// A default source that only fills buffers: each retrieved buffer holds
/// the pattern with the next block id (1, 2, ...), which it gives the
/// buffer. Frames come as fast as buffers do, or at most aRate per second.
class PatternSource : public TnStreamingChannelSourceDefault
{
public:
    PatternSource(uint32_t aWidth, uint32_t aHeight, size_t aBuffers = 8, double aRate = 0)
        : TnStreamingChannelSourceDefault(aWidth, aHeight, TnPixelMono8, aBuffers), mRate(aRate)
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
        if (mRate > 0)
        {
            std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(1e6 / mRate)));
        }
        TnImage *lImage = lBuffer->GetImage();
        const uint64_t lId = ++mBlockId;
        FillPattern(lImage->GetDataPointer(), lImage->GetImageSize(),
                    lImage->GetWidth() * TnPixelTypeGetBitsPerPixel(lImage->GetPixelType()) / 8, lId);
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
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::deque<TnBuffer *> mQueue;
    bool mAborting = false;
    double mRate;
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
