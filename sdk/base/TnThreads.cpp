#include "TnThreads.h"

#include <sched.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace tn
{
namespace
{
// The innermost mark of the calling thread.
thread_local WorkingFor *tMark = nullptr;

// The objects that calls work for or that end elsewhere, across threads.
struct Work
{
    size_t mCalls = 0;      // Call marks alive
    size_t mEnds = 0;       // ends elsewhere waiting for them
    size_t mDestroying = 0; // of which destructions
};

struct Works
{
    std::mutex mMutex;
    std::condition_variable mLeft; // the calls of an object that ends came to none
    std::unordered_map<const void *, Work> mObjects;

    // An entry goes once nothing counts in it.
    void Drop(std::unordered_map<const void *, Work>::iterator aEntry)
    {
        if (aEntry->second.mCalls == 0 && aEntry->second.mEnds == 0)
        {
            mObjects.erase(aEntry);
        }
    }
};

// Never destroyed: an end elsewhere may outlive the process's static
// destructors.
Works &TheWorks()
{
    static Works *lWorks = new Works;
    return *lWorks;
}
} // namespace

bool SetThreadPriority(pthread_t aThread, uint32_t aPriority)
{
    sched_param lParam{};
    lParam.sched_priority = static_cast<int>(aPriority);
    return pthread_setschedparam(aThread, aPriority == 0 ? SCHED_OTHER : SCHED_FIFO, &lParam) == 0;
}

WorkingFor::WorkingFor(const void *aObject, Kind aKind) : mObject(aObject), mOuter(tMark), mKind(aKind)
{
    if (mKind == Call && mObject != nullptr)
    {
        Works &lWorks = TheWorks();
        std::lock_guard<std::mutex> lLock(lWorks.mMutex);
        ++lWorks.mObjects[mObject].mCalls;
    }
    tMark = this;
}

WorkingFor::~WorkingFor()
{
    tMark = mOuter;
    if (mKind == Call && mObject != nullptr)
    {
        Works &lWorks = TheWorks();
        std::lock_guard<std::mutex> lLock(lWorks.mMutex);
        const auto lEntry = lWorks.mObjects.find(mObject);
        if (--lEntry->second.mCalls == 0 && lEntry->second.mEnds != 0)
        {
            lWorks.mLeft.notify_all();
        }
        lWorks.Drop(lEntry);
    }
}

bool WorkingFor::ObjectEnds() const
{
    if (mKind != Call || mObject == nullptr)
    {
        return false;
    }
    Works &lWorks = TheWorks();
    std::lock_guard<std::mutex> lLock(lWorks.mMutex);
    const auto lEntry = lWorks.mObjects.find(mObject);
    return lEntry != lWorks.mObjects.end() && lEntry->second.mDestroying != 0;
}

bool WorkingFor::Now(const void *aObject)
{
    for (const WorkingFor *lMark = tMark; lMark != nullptr; lMark = lMark->mOuter)
    {
        if (lMark->mObject == aObject)
        {
            return true;
        }
    }
    return false;
}

bool EndElsewhere(const void *aObject, std::function<void()> aEnd, bool aDestroys)
{
    Works &lWorks = TheWorks();
    // Counts the end in (true) or out (false), with the lock held.
    const auto lCount = [&lWorks, aObject, aDestroys](bool aIn) {
        const auto lEntry = lWorks.mObjects.emplace(aObject, Work()).first;
        Work &lWork = lEntry->second;
        lWork.mEnds = aIn ? lWork.mEnds + 1 : lWork.mEnds - 1;
        lWork.mDestroying = !aDestroys ? lWork.mDestroying : aIn ? lWork.mDestroying + 1 : lWork.mDestroying - 1;
        if (!aIn)
        {
            lWorks.Drop(lEntry);
        }
    };
    {
        std::lock_guard<std::mutex> lLock(lWorks.mMutex);
        lCount(true);
    }
    try
    {
        std::thread([&lWorks, lCount, aObject, lEnd = std::move(aEnd)] {
            {
                // The calls under way, the asking one among them, leave the
                // object's code first: nothing of theirs is freed under them.
                std::unique_lock<std::mutex> lLock(lWorks.mMutex);
                lWorks.mLeft.wait(lLock, [&] { return lWorks.mObjects.at(aObject).mCalls == 0; });
                lCount(false);
            }
            lEnd();
        }).detach();
        return true;
    }
    catch (...)
    {
        std::lock_guard<std::mutex> lLock(lWorks.mMutex);
        lCount(false);
        return false;
    }
}
} // namespace tn
