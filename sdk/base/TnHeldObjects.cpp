#include "TnHeldObjects.h"

#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tn
{
class HeldObject
{
public:
    const void *mObject = nullptr;
    const void *mOwner = nullptr; // once retired
    size_t mHolds = 0;
    bool mForgotten = false;      // no longer found by its address
    std::shared_ptr<void> mKept;  // once retired, until the last hold
};

namespace
{
std::mutex &Lock()
{
    static std::mutex *lLock = new std::mutex;
    return *lLock;
}

// Objects by address, while their address stands for them.
std::unordered_map<const void *, HeldObject *> &Objects()
{
    static auto *lObjects = new std::unordered_map<const void *, HeldObject *>;
    return *lObjects;
}

// Retired objects still held, by owner.
std::unordered_multimap<const void *, HeldObject *> &Retired()
{
    static auto *lRetired = new std::unordered_multimap<const void *, HeldObject *>;
    return *lRetired;
}

void Forget(HeldObject *aHeld)
{
    if (!aHeld->mForgotten)
    {
        Objects().erase(aHeld->mObject);
        aHeld->mForgotten = true;
    }
}

void Unretire(HeldObject *aHeld)
{
    auto lRange = Retired().equal_range(aHeld->mOwner);
    for (auto lEntry = lRange.first; lEntry != lRange.second; ++lEntry)
    {
        if (lEntry->second == aHeld)
        {
            Retired().erase(lEntry);
            return;
        }
    }
}
} // namespace

HeldObject *HoldObject(const void *aObject)
{
    if (aObject == nullptr)
    {
        return nullptr;
    }
    std::lock_guard<std::mutex> lLock(Lock());
    HeldObject *&lHeld = Objects()[aObject];
    if (lHeld == nullptr)
    {
        lHeld = new HeldObject;
        lHeld->mObject = aObject;
    }
    ++lHeld->mHolds;
    return lHeld;
}

void HoldAgain(HeldObject *aHeld)
{
    if (aHeld != nullptr)
    {
        std::lock_guard<std::mutex> lLock(Lock());
        ++aHeld->mHolds;
    }
}

void ReleaseHold(HeldObject *aHeld)
{
    if (aHeld == nullptr)
    {
        return;
    }
    std::shared_ptr<void> lGoes; // destroyed outside the lock
    {
        std::lock_guard<std::mutex> lLock(Lock());
        if (--aHeld->mHolds != 0)
        {
            return;
        }
        Forget(aHeld);
        if (aHeld->mKept)
        {
            Unretire(aHeld);
            lGoes = std::move(aHeld->mKept);
        }
        delete aHeld;
    }
}

void RetireObject(const void *aOwner, const void *aObject, std::shared_ptr<void> aKept)
{
    {
        std::lock_guard<std::mutex> lLock(Lock());
        const auto lFound = Objects().find(aObject);
        if (lFound != Objects().end())
        {
            HeldObject *lHeld = lFound->second;
            Forget(lHeld);
            lHeld->mOwner = aOwner;
            lHeld->mKept = std::move(aKept);
            Retired().emplace(aOwner, lHeld);
            return;
        }
    }
    aKept.reset(); // nothing holds it: it goes now, outside the lock
}

void EndRetired(const void *aOwner, const void *aCurrent)
{
    std::vector<std::shared_ptr<void>> lGo;
    {
        std::lock_guard<std::mutex> lLock(Lock());
        const auto lCurrent = aCurrent != nullptr ? Objects().find(aCurrent) : Objects().end();
        if (lCurrent != Objects().end())
        {
            Forget(lCurrent->second);
        }
        auto lRange = Retired().equal_range(aOwner);
        for (auto lEntry = lRange.first; lEntry != lRange.second; ++lEntry)
        {
            lGo.push_back(std::move(lEntry->second->mKept));
        }
        Retired().erase(aOwner);
    }
}
} // namespace tn
