#include "TnStreamU3V.h"

#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "TnBufferInternal.h"
#include "TnByteOrder.h"
#include "TnGenICamInternal.h"
#include "TnSimulatedU3V.h"
#include "TnStreamCore.h"
#include "TnStreamLog.h"
#include "TnStreamXml.h"
#include "TnText.h"
#include "TnU3vLayout.h"

namespace tn
{
namespace stream
{
namespace
{
constexpr uint32_t kDefaultTransferSize = 1u << 20;
constexpr uint32_t kMinTransferSize = 4096;
constexpr uint32_t kMaxTransferSize = 64u << 20;
// The room the receiver gives leaders and trailers, and the transfers it asks
// of the device's channel per block: as many of the transfer size as the
// payload takes, no final transfers.
constexpr uint32_t kLeaderRoom = 1024;
constexpr uint32_t kTrailerRoom = 1024;
constexpr uint32_t kTransferCount = 0xFFFFFFFF;
// How long one wait for a transfer lasts before the receiver looks at its
// flags again, and how long a block may pause before it fails.
constexpr uint32_t kWaitSliceMs = 100;
constexpr uint32_t kBlockTimeoutMs = 2000;

// The parameters' registers (see TnStreamU3V.xml).
enum : uint32_t
{
    kRegTransferSize = 0x000,
    kRegSmallImageThreshold = 0x004,
    kRegPendingRequests = 0x008,
    kRegCounters = 0x100,
    kCounterCount = 9,
    kRegResetStatistics = 0x400,
    kRegisterSpace = 0x404
};

enum Counter
{
    kBlocksCompleted,
    kBlocksFailed,
    kBlocksAborted,
    kBlocksMissed,
    kBlocksTooSmall,
    kBlocksCopied,
    kPipelineDrops, // kept by the core
    kTransfers,
    kBytes
};

struct OpenRequest
{
    std::string mDevice; // unique ID or GUID
    uint16_t mChannel = 0;
    uint32_t mCapacity = 64;
    uint32_t mSmallImageThreshold = 512;
    uint32_t mPendingRequests = 64;
};

// What became of one transfer the receiver waited for.
enum class Outcome
{
    Data,    // bytes arrived (possibly none)
    Stopped, // an abort or the stream's closing ends the block
    Failed   // the channel failed, or the block paused too long
};
} // namespace

class U3vStreamCore : public StreamCore, public Engine
{
public:
    U3vStreamCore();
    ~U3vStreamCore() override;

    TnResult Open(const OpenRequest &aRequest);
    void AbortBlocks() override;
    std::string GetGuid() const;

    /// Fills the parameters' zero-filled register image.
    void ReadRegisters(uint8_t *aImage);
    void SetTransferSize(uint32_t aSize) { mTransferSetting = aSize; }

protected:
    void StopReceiver() override;
    void ResetReceiverStatistics() override;
    void OnQueued() override;

private:
    void Run();
    void Receive(TnBuffer &aBuffer);
    /// Waits for one transfer into aData: Data with aReceived and aResult
    /// (the transfer's own result), or why the block ends.
    Outcome Wait(uint8_t *aData, size_t aSize, size_t &aReceived, TnResult &aResult,
                 std::chrono::steady_clock::time_point aDeadline, bool aBlockStarted);
    bool StopPending();
    void EndAborted(TnBuffer &aBuffer);
    void Count(Counter aCounter, uint64_t aAmount = 1) { mCounters[aCounter].fetch_add(aAmount); }

    std::shared_ptr<device::SimulatedU3v> mDevice;
    std::thread mThread;
    std::thread::id mThreadId;
    std::atomic<uint32_t> mTransferSetting{kDefaultTransferSize};
    uint32_t mSmallImageThreshold = 512;
    uint32_t mPendingRequests = 64;
    u3v::TransferPlan mPlan;
    std::vector<uint8_t> mScratch;  // payload that finds no room in its buffer
    std::vector<uint8_t> mStaging;  // blocks under the small image threshold
    std::vector<uint8_t> mLeader;
    std::vector<uint8_t> mTrailer;
    bool mHaveLastBlock = false;
    uint64_t mLastBlock = 0;

    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    bool mStop = false;
    bool mRunning = false;
    bool mQueued = false;
    uint64_t mAbortRequested = 0;
    uint64_t mAbortDone = 0;
    std::atomic<uint64_t> mCounters[kCounterCount];
};

namespace
{
/// The parameters' port: the register image, the transfer size kept within
/// what the channel takes, and the statistics' reset.
std::shared_ptr<genicam::IPort> U3vParameterPort(U3vStreamCore &aCore)
{
    auto lWrite = [&aCore](const std::vector<std::pair<uint32_t, uint32_t>> &aValues) {
        for (const auto &lValue : aValues)
        {
            if (lValue.first == kRegTransferSize)
            {
                aCore.SetTransferSize(std::max(kMinTransferSize, std::min(lValue.second, kMaxTransferSize)));
            }
        }
    };
    return NewParameterPort(
        aCore, kRegisterSpace, kRegTransferSize, kRegTransferSize + 4, kRegResetStatistics,
        [&aCore](uint8_t *aImage) { aCore.ReadRegisters(aImage); }, lWrite);
}
} // namespace

U3vStreamCore::U3vStreamCore()
{
    for (std::atomic<uint64_t> &lCounter : mCounters)
    {
        lCounter = 0;
    }
    TnResult lResult;
    SetParameters(genicam::CreateParameterArray(StreamU3vXml(), U3vParameterPort(*this), lResult));
}

U3vStreamCore::~U3vStreamCore()
{
    SetParameters(nullptr);
}

void U3vStreamCore::ReadRegisters(uint8_t *aImage)
{
    PutU32(aImage + kRegTransferSize, mTransferSetting.load());
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        PutU32(aImage + kRegSmallImageThreshold, mSmallImageThreshold);
        PutU32(aImage + kRegPendingRequests, mPendingRequests);
    }
    for (uint32_t lIndex = 0; lIndex < kCounterCount; ++lIndex)
    {
        const uint64_t lValue = lIndex == kPipelineDrops ? GetPipelineDrops() : mCounters[lIndex].load();
        PutU64(aImage + kRegCounters + 8 * lIndex, lValue);
    }
}

void U3vStreamCore::ResetReceiverStatistics()
{
    for (std::atomic<uint64_t> &lCounter : mCounters)
    {
        lCounter = 0;
    }
}

std::string U3vStreamCore::GetGuid() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mDevice && IsOpen() ? mDevice->GetGUID() : std::string();
}

TnResult U3vStreamCore::Open(const OpenRequest &aRequest)
{
    if (IsOpen())
    {
        return Failure(TN_STATE_ERROR, "Open: the stream is open already");
    }
    if (aRequest.mCapacity == 0 || aRequest.mPendingRequests == 0)
    {
        return Failure(TN_INVALID_PARAMETER, "Open: the buffer capacity and the pending requests must be at least 1");
    }
    std::shared_ptr<device::SimulatedU3v> lDevice;
    TnResult lResult = device::SimulatedU3v::Find(aRequest.mDevice, lDevice);
    uint8_t lValue[8];
    uint64_t lSirm = 0;
    if (lResult.IsOK())
    {
        lResult = lDevice->Read(u3v::kAbrmSbrmAddress, lValue, 8);
    }
    if (lResult.IsOK())
    {
        const uint64_t lSbrm = ReadUnsigned(lValue, 8, false);
        if (lSbrm == 0 || !lDevice->Read(lSbrm + u3v::kSbrmSirmAddress, lValue, 8).IsOK() ||
            (lSirm = ReadUnsigned(lValue, 8, false)) == 0)
        {
            lResult = Failure(TN_NOT_SUPPORTED, "the device has no streaming interface");
        }
    }
    if (lResult.IsOK())
    {
        lResult = lDevice->OpenStream(aRequest.mChannel);
    }
    if (!lResult.IsOK())
    {
        return Failure(lResult.GetCode(), "Open: " + Describe(lResult));
    }
    // The transfers: sizes in the device's alignment.
    uint8_t lInfo[4];
    lDevice->Read(lSirm + u3v::kSiInfo, lInfo, 4);
    const uint32_t lAlignment = 1u << std::min<uint32_t>(GetLittleU32(lInfo) >> 24, 20);
    u3v::TransferPlan lPlan;
    lPlan.mSize = (mTransferSetting.load() + lAlignment - 1) / lAlignment * lAlignment;
    lPlan.mCount = kTransferCount;
    auto lPut = [&](uint32_t aRegister, uint32_t aValue) {
        uint8_t lBytes[4];
        WriteUnsigned(aValue, lBytes, 4, false);
        return lDevice->Write(lSirm + aRegister, lBytes, 4);
    };
    const uint32_t lSettings[][2] = {{u3v::kSiControl, 0},
                                     {u3v::kSiMaximumLeaderSize, kLeaderRoom},
                                     {u3v::kSiPayloadTransferSize, lPlan.mSize},
                                     {u3v::kSiPayloadTransferCount, lPlan.mCount},
                                     {u3v::kSiPayloadFinalTransfer1Size, 0},
                                     {u3v::kSiPayloadFinalTransfer2Size, 0},
                                     {u3v::kSiMaximumTrailerSize, kTrailerRoom},
                                     {u3v::kSiControl, u3v::kSiControlEnable}};
    for (const uint32_t(&lSetting)[2] : lSettings)
    {
        if (lResult.IsOK())
        {
            lResult = lPut(lSetting[0], lSetting[1]);
        }
    }
    if (!lResult.IsOK())
    {
        lDevice->CloseStream();
        return Failure(lResult.GetCode(), "Open: the stream channel cannot be enabled: " + Describe(lResult));
    }
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mDevice = lDevice;
        mPlan = lPlan;
        mSmallImageThreshold = aRequest.mSmallImageThreshold;
        mPendingRequests = aRequest.mPendingRequests;
        mStop = false;
        mQueued = false;
        mAbortRequested = mAbortDone = 0;
        mRunning = true;
    }
    mScratch.resize(lPlan.mSize);
    mStaging.resize(std::min<uint32_t>(aRequest.mSmallImageThreshold, kMaxTransferSize));
    mLeader.resize(kLeaderRoom);
    mTrailer.resize(kTrailerRoom);
    mHaveLastBlock = false;
    SetOpen(aRequest.mCapacity, aRequest.mChannel, this);
    try
    {
        mThread = std::thread(&U3vStreamCore::Run, this);
    }
    catch (const std::exception &lError)
    {
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mRunning = false;
        }
        CloseStream();
        return Failure(TN_THREAD_ERROR, std::string("Open: cannot start the receive thread: ") + lError.what());
    }
    mThreadId = mThread.get_id();
    return TnResult(TN_OK);
}

void U3vStreamCore::StopReceiver()
{
    std::shared_ptr<device::SimulatedU3v> lDevice;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mStop = true;
        lDevice = mDevice;
    }
    mChanged.notify_all();
    if (lDevice)
    {
        lDevice->CancelTransfers();
    }
    if (mThread.joinable())
    {
        mThread.join();
    }
    if (lDevice)
    {
        lDevice->CloseStream();
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    mRunning = false;
    mDevice.reset();
}

void U3vStreamCore::OnQueued()
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mQueued = true;
    }
    mChanged.notify_all();
}

void U3vStreamCore::AbortBlocks()
{
    std::unique_lock<std::mutex> lLock(mMutex);
    if (!mRunning || mStop)
    {
        return;
    }
    const uint64_t lTicket = ++mAbortRequested;
    std::shared_ptr<device::SimulatedU3v> lDevice = mDevice;
    lLock.unlock();
    mChanged.notify_all();
    lDevice->CancelTransfers();
    if (std::this_thread::get_id() == mThreadId)
    {
        return; // from the receiver's own thread: it ends the block when this returns
    }
    lLock.lock();
    mChanged.wait(lLock, [&] { return mAbortDone >= lTicket || !mRunning || mStop; });
}

bool U3vStreamCore::StopPending()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mStop || mAbortRequested != mAbortDone;
}

void U3vStreamCore::Run()
{
    for (;;)
    {
        TnBuffer *lBuffer = nullptr;
        {
            std::unique_lock<std::mutex> lLock(mMutex);
            for (;;)
            {
                if (mStop)
                {
                    return;
                }
                if (mAbortRequested != mAbortDone)
                {
                    mAbortDone = mAbortRequested; // nothing in flight
                    mChanged.notify_all();
                }
                lLock.unlock();
                lBuffer = Take();
                lLock.lock();
                if (lBuffer != nullptr)
                {
                    break;
                }
                // A buffer queued while an abort ran finds no wake-up: look
                // again now and then.
                mChanged.wait_for(lLock, std::chrono::milliseconds(50),
                                  [this] { return mStop || mQueued || mAbortRequested != mAbortDone; });
                mQueued = false;
            }
        }
        Receive(*lBuffer);
        std::lock_guard<std::mutex> lLock(mMutex);
        if (mAbortRequested != mAbortDone)
        {
            mAbortDone = mAbortRequested;
            mChanged.notify_all();
        }
    }
}

Outcome U3vStreamCore::Wait(uint8_t *aData, size_t aSize, size_t &aReceived, TnResult &aResult,
                            std::chrono::steady_clock::time_point aDeadline, bool aBlockStarted)
{
    for (;;)
    {
        if (StopPending())
        {
            return Outcome::Stopped;
        }
        aResult = mDevice->Transfer(aData, aSize, kWaitSliceMs, aReceived);
        switch (aResult.GetCode())
        {
        case TN_TIMEOUT:
        case TN_ABORTED:
            if (aBlockStarted && std::chrono::steady_clock::now() > aDeadline)
            {
                aResult = Failure(TN_TIMEOUT, "the device paused in the middle of a block");
                return Outcome::Failed;
            }
            continue;
        case TN_OK:
        case TN_ERR_OVERFLOW:
            Count(kTransfers);
            return Outcome::Data;
        default:
            return Outcome::Failed;
        }
    }
}

void U3vStreamCore::EndAborted(TnBuffer &aBuffer)
{
    buffer::BeginBlock(aBuffer, aBuffer.GetPayloadType());
    buffer::BlockEnd lEnd;
    lEnd.mOperationResult = TnResult(TN_ABORTED);
    buffer::EndBlock(aBuffer, lEnd);
    aBuffer.SetReceptionTime(NowUs());
    Count(kBlocksAborted);
    Complete(&aBuffer);
}

void U3vStreamCore::Receive(TnBuffer &aBuffer)
{
    using Clock = std::chrono::steady_clock;
    // The leader. Whatever else comes first is the rest of a block that an
    // abort cut short: it is passed over.
    u3v::Leader lLeader;
    size_t lReceived = 0;
    TnResult lTransfer;
    for (;;)
    {
        const Outcome lOutcome =
            Wait(mLeader.data(), mLeader.size(), lReceived, lTransfer, Clock::time_point::max(), false);
        if (lOutcome != Outcome::Data)
        {
            Return(&aBuffer); // nothing received into it
            return;
        }
        if (lTransfer.IsOK() && u3v::ParseLeader(mLeader.data(), lReceived, lLeader))
        {
            break;
        }
    }
    if (mHaveLastBlock && lLeader.mBlockId > mLastBlock + 1)
    {
        Count(kBlocksMissed, lLeader.mBlockId - mLastBlock - 1);
    }
    mHaveLastBlock = true;
    mLastBlock = lLeader.mBlockId;

    // The payload, in transfers of the planned sizes, into the buffer's
    // memory (or, under the small image threshold, the stream's own).
    const bool lImage = lLeader.mPayloadType == u3v::kPayloadImage;
    buffer::ImageGeometry lGeometry;
    uint32_t lExpected = 0;
    bool lKnown = false;
    if (lImage)
    {
        lGeometry.mPixelType = static_cast<TnPixelType>(lLeader.mPixelFormat);
        lGeometry.mWidth = lLeader.mSizeX;
        lGeometry.mHeight = lLeader.mSizeY;
        lGeometry.mOffsetX = lLeader.mOffsetX;
        lGeometry.mOffsetY = lLeader.mOffsetY;
        lGeometry.mPaddingX = lLeader.mPaddingX;
        lKnown = buffer::ComputeImageSize(lGeometry, lExpected);
    }
    const bool lStaged = lKnown && lExpected < mStaging.size();
    uint8_t *const lMemory = lStaged ? mStaging.data() : aBuffer.GetDataPointer();
    const uint64_t lRoom = lStaged ? mStaging.size() : aBuffer.GetSize();
    const Clock::time_point lDeadline = Clock::now() + std::chrono::milliseconds(kBlockTimeoutMs);
    uint64_t lOffset = 0;
    bool lTooSmall = false;
    bool lTrailerFound = false;
    u3v::Trailer lTrailer;
    TnResult lBroken(TN_OK);
    for (uint64_t lIndex = 0; !(lKnown && lOffset >= lExpected); ++lIndex)
    {
        const uint32_t lUnit = mPlan.SizeOf(lIndex);
        if (lUnit == 0)
        {
            break;
        }
        const size_t lWanted = lKnown ? static_cast<size_t>(std::min<uint64_t>(lUnit, lExpected - lOffset)) : lUnit;
        uint8_t *lTarget = mScratch.data();
        if (lMemory != nullptr && lOffset + lWanted <= lRoom)
        {
            lTarget = lMemory + lOffset;
        }
        else
        {
            lTooSmall = true;
        }
        const Outcome lOutcome = Wait(lTarget, lWanted, lReceived, lTransfer, lDeadline, true);
        if (lOutcome == Outcome::Stopped)
        {
            EndAborted(aBuffer);
            return;
        }
        if (lOutcome == Outcome::Failed || !lTransfer.IsOK())
        {
            lBroken = lOutcome == Outcome::Failed ? lTransfer
                                                  : Failure(TN_INVALID_DATA_FORMAT, "a payload transfer overflowed");
            break;
        }
        if (!lKnown && lReceived == u3v::kImageTrailerSize && u3v::ParseTrailer(lTarget, lReceived, lTrailer) &&
            lTrailer.mBlockId == lLeader.mBlockId)
        {
            lTrailerFound = true; // the payload ended with the last transfer
            break;
        }
        lOffset += lReceived;
        Count(kBytes, lReceived);
        if (lReceived < lWanted)
        {
            break; // a short transfer ends the payload
        }
    }
    while (lBroken.IsOK() && !lTrailerFound)
    {
        const Outcome lOutcome = Wait(mTrailer.data(), mTrailer.size(), lReceived, lTransfer, lDeadline, true);
        if (lOutcome == Outcome::Stopped)
        {
            EndAborted(aBuffer);
            return;
        }
        if (lOutcome == Outcome::Failed)
        {
            lBroken = lTransfer;
        }
        else if (!lTransfer.IsOK() || !u3v::ParseTrailer(mTrailer.data(), lReceived, lTrailer) ||
                 lTrailer.mBlockId != lLeader.mBlockId)
        {
            lBroken = Failure(TN_INVALID_DATA_FORMAT, "block " + std::to_string(lLeader.mBlockId) +
                                                          " has no trailer where it should");
        }
        lTrailerFound = lBroken.IsOK();
    }

    // The buffer's block.
    TnResult lOutcome = lBroken;
    if (lOutcome.IsOK() && lTooSmall)
    {
        lOutcome = Failure(TN_BUFFER_TOO_SMALL, "block " + std::to_string(lLeader.mBlockId) + " needs more than the " +
                                                    std::to_string(aBuffer.GetSize()) + " bytes of its buffer");
    }
    if (lOutcome.IsOK() && (lTrailer.mStatus != u3v::kStatusSuccess || (lKnown && lOffset < lExpected) ||
                            lTrailer.mValidPayloadSize != lOffset))
    {
        lOutcome = Failure(TN_IMAGE_ERROR, "the device discarded data of block " + std::to_string(lLeader.mBlockId));
    }
    if (lStaged && !lTooSmall)
    {
        if (aBuffer.GetDataPointer() != nullptr && lOffset <= aBuffer.GetSize())
        {
            memcpy(aBuffer.GetDataPointer(), mStaging.data(), static_cast<size_t>(lOffset));
            Count(kBlocksCopied);
        }
        else if (lOutcome.IsOK())
        {
            lOutcome = Failure(TN_BUFFER_TOO_SMALL, "block " + std::to_string(lLeader.mBlockId) +
                                                        " does not fit its buffer");
        }
    }
    buffer::BeginBlock(aBuffer, lImage && lKnown ? TnPayloadTypeImage : TnPayloadTypeRawData);
    aBuffer.SetBlockID(lLeader.mBlockId);
    aBuffer.SetTimestamp(lLeader.mTimestamp);
    const uint64_t lKept = std::min<uint64_t>(lOffset, aBuffer.GetSize());
    if (lImage && lKnown)
    {
        if (lTrailerFound && lTrailer.mHasSizeY && lTrailer.mSizeY < lGeometry.mHeight)
        {
            lGeometry.mHeight = lTrailer.mSizeY; // the lines actually sent
        }
        const TnResult lGeometryResult = buffer::SetImageGeometry(aBuffer, lGeometry);
        if (!lGeometryResult.IsOK() && lOutcome.IsOK())
        {
            lOutcome = lGeometryResult;
        }
    }
    else
    {
        buffer::SetRawDataPayloadLength(aBuffer, lKept);
    }
    buffer::BlockEnd lEnd;
    lEnd.mOperationResult = lOutcome;
    lEnd.mAcquiredSize = static_cast<uint32_t>(std::min<uint64_t>(lKept, buffer::GetBlockCapacity(aBuffer)));
    lEnd.mRequiredSize = static_cast<uint32_t>(std::min<uint64_t>(lKnown ? lExpected : lOffset, 0xFFFFFFFFu));
    lEnd.mPayloadSize = static_cast<uint32_t>(std::min<uint64_t>(lOffset, 0xFFFFFFFFu));
    lEnd.mHeaderValid = true;
    lEnd.mTrailerValid = lTrailerFound;
    lEnd.mLittleEndianTags = true;
    buffer::EndBlock(aBuffer, lEnd);
    aBuffer.SetReceptionTime(NowUs());
    Count(lOutcome.IsOK() ? kBlocksCompleted : kBlocksFailed);
    if (lOutcome.GetCode() == TN_BUFFER_TOO_SMALL)
    {
        Count(kBlocksTooSmall);
    }
    Complete(&aBuffer);
}
} // namespace stream
} // namespace tn

using tn::stream::OpenRequest;
using tn::stream::U3vStreamCore;

namespace
{
U3vStreamCore &Core(const TnStreamU3V &aStream)
{
    return *static_cast<U3vStreamCore *>(aStream.GetCore());
}

TnResult FromInfo(const TnDeviceInfo *aDeviceInfo, OpenRequest &aRequest)
{
    const TnDeviceInfoU3V *lInfo = dynamic_cast<const TnDeviceInfoU3V *>(aDeviceInfo);
    if (lInfo == nullptr)
    {
        return tn::Failure(TN_INVALID_PARAMETER, aDeviceInfo == nullptr
                                                             ? "Open: no device information"
                                                             : "Open: the device is no USB3 Vision device");
    }
    aRequest.mDevice = lInfo->mUniqueID;
    return TnResult(TN_OK);
}

TnResult FromText(const TnString &aText, OpenRequest &aRequest)
{
    const char *lText = aText.GetAscii();
    if (lText == nullptr || *lText == '\0')
    {
        return tn::Failure(TN_INVALID_PARAMETER, "Open: no device GUID was given");
    }
    aRequest.mDevice = lText;
    return TnResult(TN_OK);
}

// Opens the device that aNamed found (or fails as it did) with the settings.
TnResult OpenNamed(U3vStreamCore &aCore, const TnResult &aNamed, OpenRequest &aRequest, uint16_t aChannel,
                   uint32_t aCapacity, uint32_t aSmallImageThreshold, uint32_t aPendingRequests)
{
    if (!aNamed.IsOK())
    {
        return aNamed;
    }
    aRequest.mChannel = aChannel;
    aRequest.mCapacity = aCapacity;
    aRequest.mSmallImageThreshold = aSmallImageThreshold;
    aRequest.mPendingRequests = aPendingRequests;
    return aCore.Open(aRequest);
}
} // namespace

TnStreamU3V::TnStreamU3V() : TnStream(new U3vStreamCore())
{
}

TnStreamU3V::~TnStreamU3V()
{
    // Closing tells sinks and pipelines about this stream: while it is whole.
    GetCore()->Shutdown();
}

TnResult TnStreamU3V::Open(const TnDeviceInfo *aDeviceInfo)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamU3V::Open");
    }
    return Open(aDeviceInfo, 0);
}

TnResult TnStreamU3V::Open(const TnDeviceInfo *aDeviceInfo, uint16_t aChannel, uint32_t aBuffersCapacity,
                           uint32_t aSmallImageThreshold, uint32_t aMaximumNumberOfPendingURB)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamU3V::Open");
    }
    OpenRequest lRequest;
    const TnResult lNamed = FromInfo(aDeviceInfo, lRequest);
    return OpenNamed(Core(*this), lNamed, lRequest, aChannel, aBuffersCapacity, aSmallImageThreshold,
                     aMaximumNumberOfPendingURB);
}

TnResult TnStreamU3V::Open(const TnString &aDeviceGUID)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamU3V::Open");
    }
    return Open(aDeviceGUID, 0);
}

TnResult TnStreamU3V::Open(const TnString &aDeviceGUID, uint16_t aChannel, uint32_t aBuffersCapacity,
                           uint32_t aSmallImageThreshold, uint32_t aMaximumNumberOfPendingURB)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamU3V::Open");
    }
    OpenRequest lRequest;
    const TnResult lNamed = FromText(aDeviceGUID, lRequest);
    return OpenNamed(Core(*this), lNamed, lRequest, aChannel, aBuffersCapacity, aSmallImageThreshold,
                     aMaximumNumberOfPendingURB);
}

TnString TnStreamU3V::GetGUID()
{
    return TnString(Core(*this).GetGuid().c_str());
}

TnStreamType TnStreamU3V::GetType() const
{
    return TnStreamTypeU3V;
}
