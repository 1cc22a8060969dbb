// What the stream tools share: the synthetic frame pattern (the same as the
// C test camera's, so that one check serves both senders), pixel formats by
// name, clocks and option parsing.
#ifndef TN_GVSP_TOOL_H
#define TN_GVSP_TOOL_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <time.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TnGevAddress.h"
#include "TnGevBytes.h"
#include "TnGvspAssembler.h"

namespace tn
{
namespace tool
{
struct PixelFormat
{
    const char *mName;
    uint32_t mCode;
    uint32_t mBytes;
};

inline const PixelFormat *FindPixelFormat(const std::string &aName)
{
    static const PixelFormat kFormats[] = {
        {"Mono8", 0x01080001u, 1},    {"Mono10", 0x01100003u, 2},   {"Mono12", 0x01100005u, 2},
        {"Mono16", 0x01100007u, 2},   {"BayerGR8", 0x01080008u, 1}, {"BayerRG8", 0x01080009u, 1},
        {"BayerGB8", 0x0108000Au, 1}, {"BayerBG8", 0x0108000Bu, 1}, {"RGB8", 0x02180014u, 3},
        {"BGR8", 0x02180015u, 3}};
    for (const PixelFormat &lFormat : kFormats)
    {
        if (aName == lFormat.mName)
        {
            return &lFormat;
        }
    }
    return nullptr;
}

/// Byte i of a frame is (i % line + i / line) & 0xFF, except bytes 0 to 7,
/// which hold the frame's block id, big-endian.
inline void FillPattern(uint8_t *aData, size_t aSize, size_t aLineBytes)
{
    for (size_t lIndex = 0; lIndex < aSize; ++lIndex)
    {
        aData[lIndex] = static_cast<uint8_t>(lIndex % aLineBytes + lIndex / aLineBytes);
    }
}

inline void StampBlockId(uint8_t *aData, size_t aSize, uint64_t aBlockId)
{
    if (aSize >= 8)
    {
        gev::PutU64(aData, aBlockId);
    }
}

/// The pattern's check on the block id and 64 samples spread over the frame
/// and its last byte; with aEveryByte on every byte.
inline bool PatternOk(const uint8_t *aData, size_t aSize, size_t aLineBytes, uint64_t aBlockId,
                      bool aEveryByte = false)
{
    if (aSize < 8 || aLineBytes == 0 || gev::GetU64(aData) != aBlockId)
    {
        return false;
    }
    const size_t lStep = aEveryByte ? 1 : (aSize - 8) / 64 > 0 ? (aSize - 8) / 64 : 1;
    for (size_t lIndex = 8; lIndex < aSize; lIndex += lStep)
    {
        if (aData[lIndex] != static_cast<uint8_t>(lIndex % aLineBytes + lIndex / aLineBytes))
        {
            return false;
        }
    }
    const size_t lLast = aSize - 1;
    return aData[lLast] == static_cast<uint8_t>(lLast % aLineBytes + lLast / aLineBytes);
}

inline double Seconds()
{
    timespec lNow;
    clock_gettime(CLOCK_MONOTONIC, &lNow);
    return static_cast<double>(lNow.tv_sec) + static_cast<double>(lNow.tv_nsec) / 1e9;
}

/// Process CPU time in seconds; aSystem receives the part spent in the kernel.
inline double CpuSeconds(double *aSystem = nullptr)
{
    rusage lUsage;
    getrusage(RUSAGE_SELF, &lUsage);
    const double lSystem = static_cast<double>(lUsage.ru_stime.tv_sec) + static_cast<double>(lUsage.ru_stime.tv_usec) / 1e6;
    if (aSystem != nullptr)
    {
        *aSystem = lSystem;
    }
    return static_cast<double>(lUsage.ru_utime.tv_sec) + static_cast<double>(lUsage.ru_utime.tv_usec) / 1e6 + lSystem;
}

inline std::string Environment(const char *aName, const char *aDefault)
{
    const char *lValue = getenv(aName);
    return lValue != nullptr && *lValue != 0 ? lValue : aDefault;
}

/// "WxH".
inline bool ParseSize(const std::string &aText, uint32_t &aWidth, uint32_t &aHeight)
{
    const size_t lX = aText.find('x');
    if (lX == std::string::npos)
    {
        return false;
    }
    aWidth = static_cast<uint32_t>(strtoul(aText.c_str(), nullptr, 10));
    aHeight = static_cast<uint32_t>(strtoul(aText.c_str() + lX + 1, nullptr, 10));
    return aWidth > 0 && aHeight > 0;
}

/// "a.b.c.d:port"; the port may be left out when aPort has a default.
inline bool ParseEndpoint(const std::string &aText, uint32_t &aAddress, uint16_t &aPort)
{
    const size_t lColon = aText.find(':');
    if (!gev::ParseIPv4(aText.substr(0, lColon), aAddress))
    {
        return false;
    }
    if (lColon != std::string::npos)
    {
        aPort = static_cast<uint16_t>(strtoul(aText.c_str() + lColon + 1, nullptr, 10));
    }
    return aPort != 0;
}
/// Memory of one buffer: whole pages, on huge pages where the system gives
/// them (fewer page-table walks while the kernel copies datagrams in),
/// touched once so that no page fault falls into the stream.
class Memory
{
public:
    explicit Memory(size_t aSize)
        : mSize(aSize), mMapped(aSize >= kHuge ? (aSize + kHuge - 1) / kHuge * kHuge : (aSize + 4095) / 4096 * 4096)
    {
        void *lAddress = mmap(nullptr, mMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        mData = lAddress == MAP_FAILED ? nullptr : static_cast<uint8_t *>(lAddress);
        if (mData != nullptr)
        {
            madvise(mData, mMapped, MADV_HUGEPAGE);
            memset(mData, 0, mSize);
        }
    }

    ~Memory()
    {
        if (mData != nullptr)
        {
            munmap(mData, mMapped);
        }
    }

    Memory(const Memory &) = delete;
    Memory &operator=(const Memory &) = delete;

    uint8_t *GetData() const
    {
        return mData;
    }

    size_t GetSize() const
    {
        return mData != nullptr ? mSize : 0;
    }

private:
    static constexpr size_t kHuge = 2u << 20;
    size_t mSize;
    size_t mMapped;
    uint8_t *mData;
};

/// Buffers of one size for a receiver; what becomes of finished blocks is
/// the derived class's.
class BufferPool : public gev::TnGvspBlockProvider
{
public:
    BufferPool(size_t aCount, size_t aSize)
    {
        for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
        {
            mMemory.emplace_back(new Memory(aSize));
            mFree.push_back(lIndex);
        }
    }

    bool AcquireBlock(gev::TnGvspBlockTarget &aTarget) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (mFree.empty())
        {
            return false;
        }
        const size_t lIndex = mFree.back();
        mFree.pop_back();
        aTarget.mData = mMemory[lIndex]->GetData();
        aTarget.mSize = mMemory[lIndex]->GetSize();
        aTarget.mContext = reinterpret_cast<void *>(lIndex);
        return true;
    }

    void ReturnBlock(const gev::TnGvspBlockTarget &aTarget) override
    {
        Release(IndexOf(aTarget));
    }

    void Release(size_t aIndex)
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mFree.push_back(aIndex);
    }

    static size_t IndexOf(const gev::TnGvspBlockTarget &aTarget)
    {
        return reinterpret_cast<size_t>(aTarget.mContext);
    }

    uint8_t *GetData(size_t aIndex) const
    {
        return mMemory[aIndex]->GetData();
    }

    size_t GetFreeCount()
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return mFree.size();
    }

protected:
    std::mutex mMutex;

private:
    std::vector<std::unique_ptr<Memory>> mMemory;
    std::vector<size_t> mFree;
};
} // namespace tool
} // namespace tn

#endif
