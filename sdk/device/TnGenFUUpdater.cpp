#include "TnGenFUUpdater.h"

#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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

IUpdaterObserver::~IUpdaterObserver() = default;

TnGenFUUpdater::TnGenFUUpdater(const char *aPath, const char *aFileName, const TnDeviceInfo *aDeviceInfo,
                               const char *, bool)
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
    if (mState->mThread.joinable())
    {
        mState->mThread.join();
    }
    delete mState;
}

void TnGenFUUpdater::Attach(IUpdaterObserver *aObserver)
{
    mState->mObservers.Add(aObserver);
}

void TnGenFUUpdater::Detach(IUpdaterObserver *aObserver)
{
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
    mState->mThread = std::thread(&tn::device::UpdaterState::Run, mState);
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
