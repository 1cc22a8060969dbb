#include "TnGenFUUpdater.h"

#include <condition_variable>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TnLog.h"
#include "TnSinkRegistry.h"

namespace tn
{
namespace device
{
struct UpdaterState
{
    std::string mFile;
    std::unique_ptr<TnDeviceInfo> mDevice;
    SinkRegistry<IUpdaterObserver> mObservers;
    mutable std::mutex mMutex;
    std::thread mThread;
    bool mStarted = false;
    bool mDone = false;
    TnResult mResult{TN_NOT_INITIALIZED, TnString("the update has not run")};

    template <typename Call> void Tell(Call aCall)
    {
        mObservers.ForEach(aCall, [](IUpdaterObserver *, const std::exception_ptr &aError) {
            static TnLogger *sLogger = new TnLogger(TnString("TnGenFUUpdater"));
            sLogger->LogWarning(__FILE__, __LINE__, "TnGenFUUpdater",
                                (std::string("an updater observer failed: ") + DescribeException(aError)).c_str());
        });
    }

    void Run()
    {
        Tell([](IUpdaterObserver *aObserver) { aObserver->UpdateProgressLabel("Checking the update file"); });
        Tell([](IUpdaterObserver *aObserver) { aObserver->UpdateProgressValue(0); });
        TnResult lResult;
        std::ifstream lFile(mFile, std::ios::binary);
        if (mDevice == nullptr)
        {
            lResult = TnResult(TN_INVALID_PARAMETER, TnString("no device to update was given"));
        }
        else if (!lFile)
        {
            lResult = TnResult(TN_CANNOT_OPEN_FILE, TnString(("cannot open the update file " + mFile).c_str()));
        }
        else
        {
            lResult = TnResult(TN_NOT_SUPPORTED, TnString("the device does not take firmware updates"));
        }
        Tell([&](IUpdaterObserver *aObserver) {
            aObserver->UpdateProgressLabel(lResult.IsOK() ? "Update done" : "Update failed");
        });
        Tell([](IUpdaterObserver *aObserver) { aObserver->UpdateProgressValue(100); });
        std::lock_guard<std::mutex> lLock(mMutex);
        mResult = lResult;
        mDone = true;
    }
};
} // namespace device
} // namespace tn

namespace
{
// Which updaters each observer is attached to, so that an observer destroyed
// while attached is detached first, never called afterwards.
struct ObserverIndex
{
    std::mutex mMutex;
    std::condition_variable mIdle;
    std::multimap<IUpdaterObserver *, tn::device::UpdaterState *> mEntries;
    std::map<tn::device::UpdaterState *, int> mDetaching; // observers being detached now

    void Erase(IUpdaterObserver *aObserver, tn::device::UpdaterState *aState)
    {
        auto lRange = mEntries.equal_range(aObserver);
        for (auto lEntry = lRange.first; lEntry != lRange.second; ++lEntry)
        {
            if (lEntry->second == aState)
            {
                mEntries.erase(lEntry);
                return;
            }
        }
    }
};

ObserverIndex &Index()
{
    static ObserverIndex *sIndex = new ObserverIndex;
    return *sIndex;
}

// An updater's state goes: observers destroyed later do not look for it.
void ForgetState(tn::device::UpdaterState *aState)
{
    ObserverIndex &lIndex = Index();
    std::unique_lock<std::mutex> lLock(lIndex.mMutex);
    for (auto lEntry = lIndex.mEntries.begin(); lEntry != lIndex.mEntries.end();)
    {
        lEntry = lEntry->second == aState ? lIndex.mEntries.erase(lEntry) : std::next(lEntry);
    }
    lIndex.mIdle.wait(lLock, [&] { return lIndex.mDetaching[aState] == 0; });
    lIndex.mDetaching.erase(aState);
}
} // namespace

IUpdaterObserver::~IUpdaterObserver()
{
    ObserverIndex &lIndex = Index();
    std::vector<tn::device::UpdaterState *> lStates;
    {
        std::lock_guard<std::mutex> lLock(lIndex.mMutex);
        auto lRange = lIndex.mEntries.equal_range(this);
        for (auto lEntry = lRange.first; lEntry != lRange.second; ++lEntry)
        {
            lStates.push_back(lEntry->second);
            ++lIndex.mDetaching[lEntry->second];
        }
        lIndex.mEntries.erase(this);
    }
    for (tn::device::UpdaterState *lState : lStates)
    {
        lState->mObservers.Remove(this);
        std::lock_guard<std::mutex> lLock(lIndex.mMutex);
        --lIndex.mDetaching[lState];
    }
    if (!lStates.empty())
    {
        lIndex.mIdle.notify_all();
    }
}

TnGenFUUpdater::TnGenFUUpdater(const char *aPath, const char *aFileName, const TnDeviceInfo *aDeviceInfo, const char *,
                               bool)
    : mState(new tn::device::UpdaterState)
{
    std::string lPath = aPath != nullptr ? aPath : "";
    const std::string lName = aFileName != nullptr ? aFileName : "";
    if (!lPath.empty() && !lName.empty() && lPath.back() != '/')
    {
        lPath += '/';
    }
    mState->mFile = lPath + lName;
    if (aDeviceInfo != nullptr)
    {
        mState->mDevice.reset(aDeviceInfo->Copy());
    }
}

TnGenFUUpdater::~TnGenFUUpdater()
{
    if (mState->mThread.joinable() && mState->mThread.get_id() == std::this_thread::get_id())
    {
        // Destroyed by one of its own observers: the update's thread still
        // runs on the state, which stays behind.
        mState->mThread.detach();
        return;
    }
    if (mState->mThread.joinable())
    {
        mState->mThread.join();
    }
    ForgetState(mState);
    delete mState;
}

void TnGenFUUpdater::Attach(IUpdaterObserver *aObserver)
{
    std::lock_guard<std::mutex> lLock(Index().mMutex);
    if (mState->mObservers.Add(aObserver))
    {
        Index().mEntries.emplace(aObserver, mState);
    }
}

void TnGenFUUpdater::Detach(IUpdaterObserver *aObserver)
{
    {
        std::lock_guard<std::mutex> lLock(Index().mMutex);
        Index().Erase(aObserver, mState);
    }
    mState->mObservers.Remove(aObserver);
}

void TnGenFUUpdater::Start()
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    if (mState->mStarted && !mState->mDone)
    {
        return;
    }
    if (mState->mThread.joinable())
    {
        mState->mThread.join();
    }
    mState->mStarted = true;
    mState->mDone = false;
    try
    {
        mState->mThread = std::thread(&tn::device::UpdaterState::Run, mState);
    }
    catch (const std::exception &lError)
    {
        mState->mDone = true;
        mState->mResult =
            TnResult(TN_THREAD_ERROR, TnString((std::string("cannot start the update: ") + lError.what()).c_str()));
    }
}

bool TnGenFUUpdater::IsDone() const
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return mState->mDone;
}

TnResult TnGenFUUpdater::GetResult() const
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return mState->mResult;
}
