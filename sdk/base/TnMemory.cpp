#include "TnMemory.h"

#include "TnMemoryBlocks.h"

#include <stdlib.h>
#include <sys/mman.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "TnText.h"

namespace tn
{
namespace
{
// Blocks of this size and more are mapped on their own; smaller ones come
// from the heap.
constexpr uint64_t kMapFrom = 64u << 10;
// Blocks of this size and more are laid on huge page boundaries and asked
// for in huge pages, as numpy does: whole frames are then read and written
// with far fewer TLB misses.
constexpr uint64_t kHugePageSize = 2u << 20;
constexpr uint64_t kHugePagesFrom = 2 * kHugePageSize;

uint64_t PageRounded(uint64_t aSize)
{
    const uint64_t lPage = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    return (aSize + lPage - 1) / lPage * lPage;
}

/// A limit in bytes read from a control group file: false for none ("max",
/// a file that is not there, or a value beyond any machine).
bool ReadLimit(const std::string &aPath, uint64_t &aLimit)
{
    std::ifstream lFile(aPath);
    std::string lText;
    if (!(lFile >> lText) || lText.empty() || lText.find_first_not_of("0123456789") != std::string::npos)
    {
        return false;
    }
    aLimit = strtoull(lText.c_str(), nullptr, 10);
    return aLimit < (1ull << 60);
}

/// The memory limit (swap included) of the process's control group; 0 when
/// there is none or it cannot be read. aSwap: the machine's swap.
uint64_t ControlGroupLimit(uint64_t aSwap)
{
    std::ifstream lGroups("/proc/self/cgroup");
    std::string lLine;
    uint64_t lLimit = 0;
    while (std::getline(lGroups, lLine))
    {
        const size_t lFirst = lLine.find(':');
        const size_t lSecond = lFirst == std::string::npos ? lFirst : lLine.find(':', lFirst + 1);
        if (lSecond == std::string::npos)
        {
            continue;
        }
        const std::string lControllers = lLine.substr(lFirst + 1, lSecond - lFirst - 1);
        const std::string lPath = lLine.substr(lSecond + 1);
        uint64_t lFound = 0;
        if (lControllers.empty())
        {
            const std::string lBase = "/sys/fs/cgroup" + lPath;
            uint64_t lSwap = aSwap;
            if (ReadLimit(lBase + "/memory.max", lFound))
            {
                ReadLimit(lBase + "/memory.swap.max", lSwap);
                lFound += std::min(lSwap, aSwap);
            }
        }
        else if (("," + lControllers + ",").find(",memory,") != std::string::npos)
        {
            const std::string lBase = "/sys/fs/cgroup/memory" + lPath;
            if (!ReadLimit(lBase + "/memory.memsw.limit_in_bytes", lFound) &&
                ReadLimit(lBase + "/memory.limit_in_bytes", lFound))
            {
                lFound += aSwap;
            }
        }
        if (lFound != 0)
        {
            lLimit = lLimit == 0 ? lFound : std::min(lLimit, lFound);
        }
    }
    return lLimit;
}

uint64_t MeasureCapacity()
{
    struct sysinfo lInfo;
    uint64_t lCapacity = UINT64_MAX;
    uint64_t lSwap = 0;
    if (sysinfo(&lInfo) == 0)
    {
        lSwap = uint64_t(lInfo.totalswap) * lInfo.mem_unit;
        lCapacity = uint64_t(lInfo.totalram) * lInfo.mem_unit + lSwap;
    }
    const uint64_t lGroup = ControlGroupLimit(lSwap);
    return lGroup != 0 ? std::min(lCapacity, lGroup) : lCapacity;
}

/// Gives back the memory of a block of AllocateZeroed.
void GiveBackZeroed(void *, void *aMemory, size_t aSize)
{
    if (aSize >= kMapFrom)
    {
        munmap(aMemory, PageRounded(aSize));
    }
    else
    {
        free(aMemory);
    }
}

/// aMemory of aSize bytes as a registered block; given back when it cannot be.
ZeroedMemory Registered(uint8_t *aMemory, uint64_t aSize)
{
    MemoryBlock *lBlock = RegisterBlock(aMemory, size_t(aSize), GiveBackZeroed, nullptr);
    if (lBlock == nullptr)
    {
        GiveBackZeroed(nullptr, aMemory, size_t(aSize));
        return ZeroedMemory(nullptr, ZeroedRelease{nullptr});
    }
    return ZeroedMemory(aMemory, ZeroedRelease{lBlock});
}
} // namespace

void ZeroedRelease::operator()(uint8_t *) const
{
    ReleaseBlock(mBlock);
}

void PopulateForWriting(void *aAddress, uint64_t aSize)
{
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif
    const uintptr_t lPage = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t lStart = reinterpret_cast<uintptr_t>(aAddress) & ~(lPage - 1);
    const uintptr_t lEnd = reinterpret_cast<uintptr_t>(aAddress) + aSize;
    if (aAddress != nullptr && aSize != 0)
    {
        madvise(reinterpret_cast<void *>(lStart), lEnd - lStart, MADV_POPULATE_WRITE);
    }
}

uint64_t MemoryCapacity()
{
    static const uint64_t sCapacity = MeasureCapacity();
    return sCapacity;
}

bool MemoryFits(uint64_t aCount, uint64_t aSize)
{
    const uint64_t lCapacity = MemoryCapacity();
    return aSize == 0 || aCount <= lCapacity / aSize;
}

TnResult NotEnoughMemory(const std::string &aWhat, uint64_t aCount, uint64_t aSize)
{
    std::string lText = aWhat + " (";
    if (aCount != 1)
    {
        lText += std::to_string(aCount) + " x ";
    }
    lText += std::to_string(aSize) + (aSize == 1 ? " byte)" : " bytes)");
    if (MemoryFits(aCount, aSize))
    {
        lText += ": the system has no memory for it";
    }
    else
    {
        lText += ": more than the machine's memory and swap (" + std::to_string(MemoryCapacity()) + " bytes)";
    }
    return Failure(TN_NOT_ENOUGH_MEMORY, lText);
}

ZeroedMemory AllocateZeroed(uint64_t aSize)
{
    if (aSize == 0 || !MemoryFits(1, aSize) || aSize > SIZE_MAX - 2 * kHugePageSize)
    {
        return ZeroedMemory(nullptr, ZeroedRelease{nullptr});
    }
    if (aSize < kMapFrom)
    {
        uint8_t *lMemory = static_cast<uint8_t *>(calloc(1, size_t(aSize)));
        return lMemory != nullptr ? Registered(lMemory, aSize) : ZeroedMemory(nullptr, ZeroedRelease{nullptr});
    }
    const uint64_t lSize = PageRounded(aSize);
    const bool lHuge = aSize >= kHugePagesFrom;
    const uint64_t lMapped = lHuge ? lSize + kHugePageSize : lSize;
    // Private anonymous memory: the kernel's zero pages until written.
    void *lMap = mmap(nullptr, size_t(lMapped), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (lMap == MAP_FAILED)
    {
        return ZeroedMemory(nullptr, ZeroedRelease{nullptr});
    }
    uint8_t *lStart = static_cast<uint8_t *>(lMap);
    if (lHuge)
    {
        // Keep the part that starts on a huge page boundary.
        const uintptr_t lBase = reinterpret_cast<uintptr_t>(lMap);
        const uintptr_t lAligned = (lBase + kHugePageSize - 1) & ~uintptr_t(kHugePageSize - 1);
        if (lAligned > lBase)
        {
            munmap(lMap, lAligned - lBase);
        }
        const uintptr_t lEnd = lAligned + lSize;
        if (lBase + lMapped > lEnd)
        {
            munmap(reinterpret_cast<void *>(lEnd), lBase + lMapped - lEnd);
        }
        lStart = reinterpret_cast<uint8_t *>(lAligned);
        madvise(lStart, size_t(lSize), MADV_HUGEPAGE);
    }
    return Registered(lStart, aSize);
}
} // namespace tn
