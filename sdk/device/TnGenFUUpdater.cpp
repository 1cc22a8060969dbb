// The firmware update: the update file is checked before anything reaches
// the device; the data is written with the standard GenICam file access
// features, read back and compared.
#include "TnGenFUUpdater.h"

#include <string.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TnDevice.h"
#include "TnFork.h"
#include "TnLog.h"
#include "TnLogDispatch.h"
#include "TnSinkRegistry.h"
#include "TnText.h"
#include "TnUpdateFile.h"

namespace tn
{
namespace device
{
namespace
{
// The device's file access features, by name.
const char *const kFileSelector = "FileSelector";
const char *const kOperationSelector = "FileOperationSelector";
const char *const kOpenMode = "FileOpenMode";
const char *const kExecute = "FileOperationExecute";
const char *const kOffset = "FileAccessOffset";
const char *const kLength = "FileAccessLength";
const char *const kBuffer = "FileAccessBuffer";
const char *const kStatus = "FileOperationStatus";
const char *const kResult = "FileOperationResult";

// A connected device's file, through its file access features.
class DeviceFile
{
public:
    explicit DeviceFile(TnGenParameterArray &aFeatures) : mFeatures(aFeatures) {}

    /// Whether the device has every feature an update uses, with the entries
    /// it needs; the reason when it has not.
    TnResult Check(const std::string &aTarget)
    {
        for (const char *lName : {kFileSelector, kOperationSelector, kStatus})
        {
            if (mFeatures.GetEnum(TnString(lName)) == nullptr)
            {
                return Missing(lName);
            }
        }
        for (const char *lName : {kOffset, kLength, kResult})
        {
            if (mFeatures.GetInteger(TnString(lName)) == nullptr)
            {
                return Missing(lName);
            }
        }
        if (mFeatures.GetCommand(TnString(kExecute)) == nullptr)
        {
            return Missing(kExecute);
        }
        TnGenRegister *lBuffer = mFeatures.GetRegister(TnString(kBuffer));
        int64_t lLength = 0;
        if (lBuffer == nullptr || !lBuffer->GetLength(lLength).IsOK() || lLength < 4)
        {
            return Missing(kBuffer);
        }
        mChunk = static_cast<size_t>(std::min<int64_t>(lLength, 1 << 20)) & ~size_t(3);
        if (!HasEntry(kFileSelector, aTarget))
        {
            return Failure(TN_NOT_SUPPORTED, "the device has no file " + aTarget + " to update");
        }
        for (const char *lOperation : {"Open", "Close", "Read", "Write"})
        {
            if (!HasEntry(kOperationSelector, lOperation))
            {
                return Failure(TN_NOT_SUPPORTED, std::string("the device's files have no operation ") + lOperation);
            }
        }
        mTarget = aTarget;
        return TnResult(TN_OK);
    }

    TnResult Open(const char *aMode)
    {
        TnResult lResult = mFeatures.SetEnumValue(TnString(kFileSelector), TnString(mTarget.c_str()));
        if (lResult.IsOK() && mFeatures.GetEnum(TnString(kOpenMode)) != nullptr)
        {
            lResult = mFeatures.SetEnumValue(TnString(kOpenMode), TnString(aMode));
        }
        return lResult.IsOK() ? Run("Open", 0, 0) : lResult;
    }

    TnResult Close() { return Run("Close", 0, 0); }

    /// Writes aSize bytes at aOffset (at most the buffer's size).
    TnResult Write(uint64_t aOffset, const uint8_t *aData, size_t aSize)
    {
        // The buffer is written in whole 32-bit words, padded with zeros.
        std::vector<uint8_t> lWords((aSize + 3) & ~size_t(3), 0);
        memcpy(lWords.data(), aData, aSize);
        TnResult lResult =
            mFeatures.GetRegister(TnString(kBuffer))->Set(lWords.data(), static_cast<int64_t>(lWords.size()));
        return lResult.IsOK() ? Run("Write", aOffset, aSize) : lResult;
    }

    /// Reads aSize bytes at aOffset (at most the buffer's size).
    TnResult Read(uint64_t aOffset, uint8_t *aData, size_t aSize)
    {
        TnResult lResult = Run("Read", aOffset, aSize);
        return lResult.IsOK() ? mFeatures.GetRegister(TnString(kBuffer))->Get(aData, static_cast<int64_t>(aSize))
                              : lResult;
    }

    size_t GetChunk() const { return mChunk; }

private:
    static TnResult Missing(const char *aName)
    {
        return Failure(TN_NOT_SUPPORTED, std::string("the device has no file access feature ") + aName);
    }

    bool HasEntry(const char *aEnumeration, const std::string &aEntry)
    {
        TnGenEnum *lEnum = mFeatures.GetEnum(TnString(aEnumeration));
        const TnGenEnumEntry *lEntry = nullptr;
        bool lAvailable = false;
        return lEnum != nullptr && lEnum->GetEntryByName(TnString(aEntry.c_str()), &lEntry).IsOK() &&
               lEntry != nullptr && lEntry->IsAvailable(lAvailable).IsOK() && lAvailable;
    }

    // One file operation: its selection, offset and length, execution and
    // outcome; a read or write must move every byte.
    TnResult Run(const char *aOperation, uint64_t aOffset, size_t aLength)
    {
        const bool lTransfer = aLength != 0;
        TnResult lResult = mFeatures.SetEnumValue(TnString(kOperationSelector), TnString(aOperation));
        if (lResult.IsOK() && lTransfer)
        {
            lResult = mFeatures.SetIntegerValue(TnString(kOffset), static_cast<int64_t>(aOffset));
        }
        if (lResult.IsOK() && lTransfer)
        {
            lResult = mFeatures.SetIntegerValue(TnString(kLength), static_cast<int64_t>(aLength));
        }
        if (lResult.IsOK())
        {
            lResult = mFeatures.ExecuteCommand(TnString(kExecute));
        }
        TnString lStatus;
        if (lResult.IsOK())
        {
            lResult = mFeatures.GetEnumValue(TnString(kStatus), lStatus);
        }
        if (!lResult.IsOK())
        {
            return Failure(lResult.GetCode(), std::string("the file operation ") + aOperation +
                                                  " failed: " + Describe(lResult));
        }
        if (ToString(lStatus) != "Success")
        {
            return Failure(TN_FILE_ERROR, std::string("the device's file operation ") + aOperation + " ended with " +
                                              ToString(lStatus));
        }
        int64_t lMoved = 0;
        if (lTransfer && (!mFeatures.GetIntegerValue(TnString(kResult), lMoved).IsOK() ||
                          lMoved != static_cast<int64_t>(aLength)))
        {
            return Failure(TN_FILE_ERROR, std::string("the device's file operation ") + aOperation + " moved " +
                                              std::to_string(lMoved) + " of " + std::to_string(aLength) +
                                              " bytes at offset " + std::to_string(aOffset));
        }
        return TnResult(TN_OK);
    }

    TnGenParameterArray &mFeatures;
    std::string mTarget;
    size_t mChunk = 0;
};

// The controller the update connects, freed however the update ends.
struct Connection
{
    TnDevice *mDevice = nullptr;
    ~Connection()
    {
        if (mDevice != nullptr)
        {
            TnDevice::Free(mDevice);
        }
    }
};
} // namespace

struct UpdaterState : ProcessOwner // made before a fork: the parent's (TnFork.h)
{
    std::string mFile;
    std::unique_ptr<TnDeviceInfo> mDevice;
    std::string mDeviceId;
    bool mReset = false;
    SinkRegistry<IUpdaterObserver> mObservers;
    mutable std::mutex mMutex;
    std::thread mThread;
    bool mStarted = false;
    bool mDone = false;
    // The updater was destroyed by an observer, on the update's thread: the
    // update runs to its end without telling anyone, and its thread frees
    // the state.
    std::atomic<bool> mOrphaned{false};
    TnResult mResult{TN_NOT_INITIALIZED, TnString("the update has not run")};

    // Observers are told on the update's thread; whatever one throws (or a
    // Python observer that lacks a method) is logged, and the update runs
    // on. An observer may detach itself, or another one, from its call.
    template <typename Call> void Tell(Call aCall)
    {
        const auto lTell = [&](IUpdaterObserver *aObserver) {
            if (!mOrphaned.load())
            {
                aCall(aObserver);
            }
        };
        mObservers.ForEach(lTell, [](IUpdaterObserver *, const std::exception_ptr &aError) {
            LibraryLogger("TnGenFUUpdater")
                .LogWarning(__FILE__, __LINE__, "TnGenFUUpdater",
                            (std::string("an updater observer failed: ") + DescribeException(aError)).c_str());
        });
    }

    void Label(const char *aText)
    {
        Tell([aText](IUpdaterObserver *aObserver) { aObserver->UpdateProgressLabel(aText); });
    }

    void Progress(int aPercent)
    {
        Tell([aPercent](IUpdaterObserver *aObserver) { aObserver->UpdateProgressValue(aPercent); });
    }

    /// The update's thread; aState stays until it ends.
    static void Run(UpdaterState *aState);

    TnResult Update()
    {
        if (mDevice == nullptr)
        {
            return Failure(TN_INVALID_PARAMETER, "no device to update was given");
        }
        UpdateFile lFile;
        TnResult lResult = ReadUpdateFile(mFile, lFile);
        if (!lResult.IsOK())
        {
            return lResult;
        }
        const std::string lModel = ToString(mDevice->GetModelName());
        if (!lFile.Fits(lModel))
        {
            return Failure(TN_NOT_SUPPORTED, "the update is for " + lFile.ModelList() + ", the device is a " +
                                                 (lModel.empty() ? std::string("model without a name") : lModel));
        }
        Label("Connecting to the device");
        Progress(5);
        Connection lConnection;
        lConnection.mDevice = TnDevice::CreateAndConnect(mDevice.get(), &lResult);
        TnGenParameterArray *lFeatures =
            lConnection.mDevice != nullptr ? lConnection.mDevice->GetParameters() : nullptr;
        if (lFeatures == nullptr)
        {
            return lResult.IsOK() ? Failure(TN_NOT_CONNECTED, "the device has no features") : lResult;
        }
        // Everything the update needs is there before anything is written.
        DeviceFile lDeviceFile(*lFeatures);
        lResult = lDeviceFile.Check(lFile.mTarget);
        if (lResult.IsOK() && !mDeviceId.empty() && lFeatures->GetString(TnString("DeviceUserID")) == nullptr)
        {
            lResult = Failure(TN_NOT_SUPPORTED, "the device has no DeviceUserID for the new identifier");
        }
        if (lResult.IsOK() && mReset && lFeatures->GetCommand(TnString("DeviceReset")) == nullptr)
        {
            lResult = Failure(TN_NOT_SUPPORTED, "the device has no DeviceReset");
        }
        if (!lResult.IsOK())
        {
            return lResult;
        }

        const std::vector<uint8_t> &lData = lFile.mFirmware;
        const size_t lChunk = lDeviceFile.GetChunk();
        Label("Writing the firmware");
        Progress(10);
        lResult = lDeviceFile.Open("Write");
        for (size_t lDone = 0; lResult.IsOK() && lDone < lData.size();)
        {
            const size_t lCount = std::min(lChunk, lData.size() - lDone);
            lResult = lDeviceFile.Write(lDone, lData.data() + lDone, lCount);
            lDone += lCount;
            Progress(10 + static_cast<int>(70 * lDone / lData.size()));
        }
        if (lResult.IsOK())
        {
            lResult = lDeviceFile.Close();
        }
        if (!lResult.IsOK())
        {
            return lResult;
        }

        Label("Verifying the firmware");
        lResult = lDeviceFile.Open("Read");
        std::vector<uint8_t> lBack(lChunk);
        for (size_t lDone = 0; lResult.IsOK() && lDone < lData.size();)
        {
            const size_t lCount = std::min(lChunk, lData.size() - lDone);
            lResult = lDeviceFile.Read(lDone, lBack.data(), lCount);
            if (lResult.IsOK() && memcmp(lBack.data(), lData.data() + lDone, lCount) != 0)
            {
                lResult = Failure(TN_CORRUPTED_DATA, "the device holds other bytes than were written, from offset " +
                                                         std::to_string(lDone));
            }
            lDone += lCount;
            Progress(80 + static_cast<int>(14 * lDone / lData.size()));
        }
        if (lResult.IsOK())
        {
            lResult = lDeviceFile.Close();
        }
        if (lResult.IsOK() && !mDeviceId.empty())
        {
            lResult = lFeatures->SetStringValue(TnString("DeviceUserID"), TnString(mDeviceId.c_str()));
        }
        if (lResult.IsOK() && mReset)
        {
            Label("Resetting the device");
            Progress(95);
            lResult = lFeatures->ExecuteCommand(TnString("DeviceReset"));
        }
        return lResult;
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

void tn::device::UpdaterState::Run(UpdaterState *aState)
{
    aState->Label("Checking the update file");
    aState->Progress(0);
    const TnResult lResult = aState->Update();
    aState->Label(lResult.IsOK() ? "Update done" : "Update failed");
    aState->Progress(100);
    {
        std::lock_guard<std::mutex> lLock(aState->mMutex);
        aState->mResult = lResult;
        aState->mDone = true;
        if (!aState->mOrphaned.load())
        {
            return;
        }
    }
    ForgetState(aState);
    delete aState;
}

TnGenFUUpdater::TnGenFUUpdater(const char *aPath, const char *aFileName, const TnDeviceInfo *aDeviceInfo,
                               const char *aDeviceId, bool aDeviceReset)
    : mState(new tn::device::UpdaterState)
{
    mState->mDeviceId = aDeviceId != nullptr ? aDeviceId : "";
    mState->mReset = aDeviceReset;
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
    if (mState->IsInherited())
    {
        return; // the parent's: its thread is not in this process
    }
    if (mState->mThread.joinable() && mState->mThread.get_id() == std::this_thread::get_id())
    {
        // Destroyed by one of its own observers: the update's thread runs on
        // the state, and frees it as it ends.
        std::lock_guard<std::mutex> lLock(mState->mMutex);
        mState->mOrphaned.store(true);
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
    if (mState->IsInherited())
    {
        return;
    }
    std::lock_guard<std::mutex> lLock(Index().mMutex);
    if (mState->mObservers.Add(aObserver))
    {
        Index().mEntries.emplace(aObserver, mState);
    }
}

void TnGenFUUpdater::Detach(IUpdaterObserver *aObserver)
{
    if (mState->IsInherited())
    {
        return;
    }
    {
        std::lock_guard<std::mutex> lLock(Index().mMutex);
        Index().Erase(aObserver, mState);
    }
    mState->mObservers.Remove(aObserver);
}

void TnGenFUUpdater::Start()
{
    if (mState->IsInherited())
    {
        return;
    }
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
        mState->mResult = tn::Failure(TN_THREAD_ERROR, std::string("cannot start the update: ") + lError.what());
    }
}

bool TnGenFUUpdater::IsDone() const
{
    if (mState->IsInherited())
    {
        return true; // nothing runs for it here: GetResult tells why
    }
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return mState->mDone;
}

TnResult TnGenFUUpdater::GetResult() const
{
    if (mState->IsInherited())
    {
        return tn::InheritedFailure("TnGenFUUpdater::GetResult");
    }
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return mState->mResult;
}
