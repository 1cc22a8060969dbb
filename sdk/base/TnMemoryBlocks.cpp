#include "TnMemoryBlocks.h"

#include <atomic>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace tn
{
class MemoryBlock
{
public:
    MemoryBlock(uintptr_t aBegin, size_t aLength, BlockGiveBack aGiveBack, void *aContext)
        : mBegin(aBegin), mLength(aLength), mGiveBack(aGiveBack), mContext(aContext)
    {
    }

    const uintptr_t mBegin;
    const size_t mLength;
    const BlockGiveBack mGiveBack;
    void *const mContext;
    uint64_t mSerial = 0;
    /// Once 0 the block is going: it is never pinned again.
    std::atomic<size_t> mReferences{1};
};

namespace
{
/// Blocks by (first address, order of registration).
using BlockKey = std::pair<uintptr_t, uint64_t>;

struct Registry
{
    std::mutex mLock;
    std::map<BlockKey, MemoryBlock *> mBlocks;
    uint64_t mNextSerial = 1;
    /// The longest block ever registered: no block that starts further below
    /// an address than this can hold it.
    size_t mLongest = 0;
};

/// Never destroyed: views may give back their blocks while the process ends.
Registry &TheRegistry()
{
    static Registry *const sRegistry = new Registry;
    return *sRegistry;
}

/// Last references this thread dropped inside a DeferredBlockReleases scope.
/// gScopes counts the scopes of all threads, so that a release outside any
/// reads no thread-local state.
std::atomic<int> gScopes{0};
thread_local int tDeferring = 0;
thread_local std::vector<MemoryBlock *> *tDeferred = nullptr;

void GiveBack(MemoryBlock *aBlock)
{
    {
        Registry &lRegistry = TheRegistry();
        std::lock_guard<std::mutex> lLock(lRegistry.mLock);
        lRegistry.mBlocks.erase(BlockKey(aBlock->mBegin, aBlock->mSerial));
    }
    aBlock->mGiveBack(aBlock->mContext, reinterpret_cast<void *>(aBlock->mBegin), aBlock->mLength);
    delete aBlock;
}

void Drop(MemoryBlock *aBlock)
{
    if (aBlock->mReferences.fetch_sub(1, std::memory_order_acq_rel) == 1)
    {
        GiveBack(aBlock);
    }
}
} // namespace

MemoryBlock *RegisterBlock(void *aAddress, size_t aLength, BlockGiveBack aGiveBack, void *aContext)
{
    const uintptr_t lBegin = reinterpret_cast<uintptr_t>(aAddress);
    if (aAddress == nullptr || aGiveBack == nullptr || aLength > std::numeric_limits<uintptr_t>::max() - lBegin)
    {
        return nullptr;
    }
    MemoryBlock *lBlock = new (std::nothrow) MemoryBlock(lBegin, aLength, aGiveBack, aContext);
    if (lBlock == nullptr)
    {
        return nullptr;
    }
    Registry &lRegistry = TheRegistry();
    try
    {
        std::lock_guard<std::mutex> lLock(lRegistry.mLock);
        lBlock->mSerial = lRegistry.mNextSerial++;
        lRegistry.mBlocks.emplace(BlockKey(lBegin, lBlock->mSerial), lBlock);
        if (aLength > lRegistry.mLongest)
        {
            lRegistry.mLongest = aLength;
        }
    }
    catch (const std::bad_alloc &)
    {
        delete lBlock;
        return nullptr;
    }
    return lBlock;
}

MemoryBlock *PinBlock(const void *aAddress, size_t aLength)
{
    const uintptr_t lBegin = reinterpret_cast<uintptr_t>(aAddress);
    const size_t lLength = aLength == 0 ? 1 : aLength;
    if (aAddress == nullptr || lLength > std::numeric_limits<uintptr_t>::max() - lBegin)
    {
        return nullptr;
    }
    const uintptr_t lEnd = lBegin + lLength;
    Registry &lRegistry = TheRegistry();
    std::lock_guard<std::mutex> lLock(lRegistry.mLock);
    auto lAt = lRegistry.mBlocks.upper_bound(BlockKey(lBegin, std::numeric_limits<uint64_t>::max()));
    while (lAt != lRegistry.mBlocks.begin())
    {
        --lAt;
        MemoryBlock *const lBlock = lAt->second;
        if (lEnd - lBlock->mBegin > lRegistry.mLongest)
        {
            break;
        }
        if (lEnd - lBlock->mBegin > lBlock->mLength)
        {
            continue;
        }
        size_t lReferences = lBlock->mReferences.load(std::memory_order_relaxed);
        while (lReferences != 0 &&
               !lBlock->mReferences.compare_exchange_weak(lReferences, lReferences + 1, std::memory_order_acq_rel,
                                                          std::memory_order_relaxed))
        {
        }
        if (lReferences != 0)
        {
            return lBlock;
        }
    }
    return nullptr;
}

void RetainBlock(MemoryBlock *aBlock)
{
    if (aBlock != nullptr)
    {
        aBlock->mReferences.fetch_add(1, std::memory_order_relaxed);
    }
}

void ReleaseBlock(MemoryBlock *aBlock)
{
    if (aBlock == nullptr)
    {
        return;
    }
    if (gScopes.load(std::memory_order_relaxed) != 0 && tDeferring > 0)
    {
        if (tDeferred == nullptr)
        {
            tDeferred = new (std::nothrow) std::vector<MemoryBlock *>();
        }
        try
        {
            if (tDeferred != nullptr)
            {
                tDeferred->push_back(aBlock);
                return;
            }
        }
        catch (const std::bad_alloc &)
        {
        }
    }
    Drop(aBlock);
}

size_t BlockBytesFrom(const MemoryBlock *aBlock, const void *aAddress)
{
    const uintptr_t lAddress = reinterpret_cast<uintptr_t>(aAddress);
    if (aBlock == nullptr || lAddress < aBlock->mBegin || lAddress - aBlock->mBegin > aBlock->mLength)
    {
        return 0;
    }
    return aBlock->mLength - (lAddress - aBlock->mBegin);
}

DeferredBlockReleases::DeferredBlockReleases()
{
    gScopes.fetch_add(1, std::memory_order_relaxed);
    ++tDeferring;
}

DeferredBlockReleases::~DeferredBlockReleases()
{
    --tDeferring;
    gScopes.fetch_sub(1, std::memory_order_relaxed);
    if (tDeferring > 0 || tDeferred == nullptr)
    {
        return;
    }
    // Giving back may drop more references (an attached object whose views
    // go with it): those are dropped at once, the scope being over.
    std::vector<MemoryBlock *> *const lDeferred = tDeferred;
    tDeferred = nullptr;
    for (MemoryBlock *lBlock : *lDeferred)
    {
        Drop(lBlock);
    }
    delete lDeferred;
}
} // namespace tn
