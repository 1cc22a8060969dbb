#include "TnStreamGEV.h"

#include <pthread.h>
#include <sched.h>
#include <string.h>

#include <algorithm>
#include <mutex>
#include <string>

#include "TnBufferCore.h"
#include "TnBufferInternal.h"
#include "TnByteOrder.h"
#include "TnGenICamInternal.h"
#include "TnGevAddress.h"
#include "TnGvcp.h"
#include "TnGvcpClient.h"
#include "TnGvspReceiver.h"
#include "TnStreamCore.h"
#include "TnStreamXml.h"

namespace tn
{
namespace stream
{
namespace
{
constexpr uint32_t kDefaultSocketBufferSize = 32u << 20;
constexpr uint32_t kMinPacketBufferSize = 17000;
constexpr uint32_t kMaxPacketBufferSize = 65500;
constexpr uint32_t kMaxPriority = 99;
// How long opening waits for the device's capabilities (each of two tries).
constexpr uint32_t kCapabilityTimeoutMs = 200;
// A thread waiting for the next buffer is woken this long before its block
// is expected to complete, so that it is awake when it does.
constexpr uint32_t kNearlyDoneLeadUs = 60;
// After a receive that emptied the socket, the receiver lets datagrams
// gather this long: about one batch at 10 Gb/s with jumbo packets, a few
// packets at 1 Gb/s.
constexpr uint32_t kDefaultCoalesceUs = 50;
// The packet ring's size: a few frames of a fast camera, kernel memory
// taken when the stream opens.
constexpr uint32_t kDefaultRingSize = 32u << 20;
constexpr uint32_t kMinRingSize = 1u << 20;
constexpr uint32_t kMaxRingSize = 1u << 30;

// The values of the parameter DataReceiver.
enum : uint32_t
{
    kReceiverAutomatic = 0,
    kReceiverPacketRing = 1,
    kReceiverUserMode = 2
};

// The parameters' registers (see TnStreamGEV.xml).
enum : uint32_t
{
    kRegResendSupported = 0x000,
    kRegResendEnabled = 0x004,
    kRegResendDelay = 0x008,
    kRegResendTimeout = 0x00C,
    kRegResendRetries = 0x010,
    kRegResendPacketsPerBlock = 0x014,
    kRegResendGroups = 0x018,
    kRegResendLateness = 0x01C,
    kRegBlockTimeout = 0x020,
    kRegBlocksInFlight = 0x024,
    kRegBatchSize = 0x028,
    kRegCoalesce = 0x02C,
    kRegDataReceiver = 0x030,
    kRegPacketRingSize = 0x034,
    kSettingsEnd = 0x038,
    kRegCounters = 0x100,
    kCounterCount = 22,
    kRegRates = 0x300,
    kRegResetStatistics = 0x400,
    kRegisterSpace = 0x404
};

/// What the receiver's settings are, as the parameters show them.
struct GevSettings
{
    bool mResendSupported = false;
    bool mResendEnabled = false;
    uint32_t mResendDelayUs = 2000;
    uint32_t mResendTimeoutUs = 10000;
    uint32_t mResendRetries = 2;
    uint32_t mResendPacketsPerBlock = 0;
    uint32_t mResendGroups = 64;
    uint32_t mResendLatenessUs = 200000;
    uint32_t mBlockTimeoutUs = 1000000;
    uint32_t mBlocksInFlight = 0; // 0: from the capacity
    uint32_t mBatchSize = 64;
    uint32_t mCoalesceUs = kDefaultCoalesceUs;
    uint32_t mDataReceiver = kReceiverAutomatic;
    uint32_t mRingSize = kDefaultRingSize;
    bool mRequireLeader = false;
};

struct OpenRequest
{
    uint32_t mDeviceAddress = 0;
    uint16_t mDeviceControlPort = gev::kGvcpPort;
    uint32_t mLocalAddress = 0; // 0: from the route to the device
    uint16_t mLocalPort = 0;
    uint32_t mMulticastAddress = 0;
    uint32_t mMulticastInterface = 0;
    uint16_t mChannel = 0;
    uint32_t mCapacity = 64;
};

gev::TnGvspAssemblerConfig PolicyOf(const GevSettings &aSettings)
{
    gev::TnGvspAssemblerConfig lConfig;
    lConfig.mRequireLeader = aSettings.mRequireLeader;
    lConfig.mResendEnabled = aSettings.mResendEnabled;
    lConfig.mReorderToleranceUs = aSettings.mResendDelayUs;
    lConfig.mResendResponseTimeoutUs = aSettings.mResendTimeoutUs;
    lConfig.mMaxResendRetries = aSettings.mResendRetries;
    lConfig.mMaxResendPacketsPerBlock = aSettings.mResendPacketsPerBlock;
    lConfig.mMaxResendGroupsPerRequest = aSettings.mResendGroups;
    lConfig.mMaxResendLatenessUs = aSettings.mResendLatenessUs;
    lConfig.mBlockTimeoutUs = aSettings.mBlockTimeoutUs;
    lConfig.mNearlyDoneLeadUs = kNearlyDoneLeadUs;
    return lConfig;
}
} // namespace

// The buffer payload type for a stream payload type.
TnPayloadType PayloadTypeOf(uint16_t aGvspPayloadType)
{
    const uint16_t lBase = gev::BasePayloadType(aGvspPayloadType);
    if (lBase >= gev::kGvspPayloadImage && lBase <= gev::kGvspPayloadGenDC)
    {
        return static_cast<TnPayloadType>(lBase);
    }
    return lBase >= gev::kGvspPayloadDeviceSpecific ? TnPayloadTypeDeviceSpecificBase : TnPayloadTypeUndefined;
}

class GevStreamCore : public StreamCore, public Engine, public gev::TnGvspBlockProvider
{
public:
    GevStreamCore();
    ~GevStreamCore() override;

    TnResult Open(const OpenRequest &aRequest);

    // Engine
    void AbortBlocks() override { mReceiver.AbortBlocks(); }

    // Block provider (receive thread)
    bool AcquireBlock(gev::TnGvspBlockTarget &aTarget) override;
    void FinishBlock(const gev::TnGvspBlockTarget &aTarget, const gev::TnGvspBlockReport &aReport) override;
    void ReturnBlock(const gev::TnGvspBlockTarget &aTarget) override;
    void OnBlockNearlyDone(const gev::TnGvspBlockTarget &) override { Anticipate(); }

    gev::TnGvspReceiver &GetReceiver() { return mReceiver; }
    const gev::TnGvspReceiver &GetReceiver() const { return mReceiver; }

    GevSettings GetSettings() const
    {
        std::lock_guard<std::mutex> lLock(mSettingsMutex);
        return mSettings;
    }

    /// New settings: the receiver takes what it can while it runs.
    void SetSettings(const GevSettings &aSettings);

    // Settings of the socket and the thread.
    uint32_t mSocketBufferSize = 0;
    uint32_t mPacketBufferSize = kMinPacketBufferSize;

    // What the open stream uses.
    mutable std::mutex mAddressMutex;
    uint32_t mDeviceAddress = 0;
    uint32_t mLocalAddress = 0;
    uint32_t mMulticastAddress = 0;
    uint16_t mSpecificPort = 0;

    /// Fills the parameters' zero-filled register image: settings, counters,
    /// rates.
    void ReadRegisters(uint8_t *aImage);

protected:
    void ResetReceiverStatistics() override;
    void StopReceiver() override;
    std::string DescribeSilence() override;

private:
    mutable std::mutex mSettingsMutex;
    GevSettings mSettings;
    gev::TnGvspReceiver mReceiver;

    // Rates over the last second (guarded by mSettingsMutex).
    uint64_t mRateStartUs = 0;
    uint64_t mRateBlocks = 0;
    uint64_t mRateBytes = 0;
    double mBlockRate = 0;
    double mBitRate = 0;
};

/// The parameters' port: the register image of the stream's settings and
/// statistics, the receiver's own write rules, and the statistics' reset.
std::shared_ptr<genicam::IPort> GevParameterPort(GevStreamCore &aCore)
{
    auto lWrite = [&aCore](const std::vector<std::pair<uint32_t, uint32_t>> &aValues) {
        GevSettings lSettings = aCore.GetSettings();
        for (const auto &lValue : aValues)
        {
            switch (lValue.first)
            {
            case kRegResendEnabled:
                lSettings.mResendEnabled = lValue.second != 0;
                break;
            case kRegResendDelay:
                lSettings.mResendDelayUs = std::min<uint32_t>(lValue.second, 1000000);
                break;
            case kRegResendTimeout:
                lSettings.mResendTimeoutUs = std::max<uint32_t>(100, std::min<uint32_t>(lValue.second, 10000000));
                break;
            case kRegResendRetries:
                lSettings.mResendRetries = std::min<uint32_t>(lValue.second, 2);
                break;
            case kRegResendPacketsPerBlock:
                lSettings.mResendPacketsPerBlock = std::min<uint32_t>(lValue.second, 0xFFFFFF);
                break;
            case kRegResendGroups:
                lSettings.mResendGroups = std::max<uint32_t>(1, std::min<uint32_t>(lValue.second, 1024));
                break;
            case kRegResendLateness:
                lSettings.mResendLatenessUs = std::max<uint32_t>(1000, std::min<uint32_t>(lValue.second, 60000000));
                break;
            case kRegBlockTimeout:
                lSettings.mBlockTimeoutUs = std::max<uint32_t>(1000, std::min<uint32_t>(lValue.second, 60000000));
                break;
            case kRegBlocksInFlight:
                lSettings.mBlocksInFlight = std::min<uint32_t>(lValue.second, 64);
                break;
            case kRegBatchSize:
                lSettings.mBatchSize = std::max<uint32_t>(1, std::min<uint32_t>(lValue.second, 1024));
                break;
            case kRegCoalesce:
                lSettings.mCoalesceUs = std::min<uint32_t>(lValue.second, 10000);
                break;
            case kRegDataReceiver:
                lSettings.mDataReceiver = std::min<uint32_t>(lValue.second, kReceiverUserMode);
                break;
            case kRegPacketRingSize:
                lSettings.mRingSize = std::max(kMinRingSize, std::min(lValue.second, kMaxRingSize));
                break;
            default:
                break;
            }
        }
        aCore.SetSettings(lSettings);
    };
    return NewParameterPort(
        aCore, kRegisterSpace, kRegResendEnabled, kSettingsEnd, kRegResetStatistics,
        [&aCore](uint8_t *aImage) { aCore.ReadRegisters(aImage); }, lWrite);
}

GevStreamCore::GevStreamCore()
{
    TnResult lResult;
    SetParameters(genicam::CreateParameterArray(StreamGevXml(), GevParameterPort(*this), lResult));
}

GevStreamCore::~GevStreamCore()
{
    // The parameters' port refers to this object: they go first.
    SetParameters(nullptr);
    mReceiver.Close();
}

void GevStreamCore::SetSettings(const GevSettings &aSettings)
{
    {
        std::lock_guard<std::mutex> lLock(mSettingsMutex);
        mSettings = aSettings;
    }
    mReceiver.SetPolicy(PolicyOf(aSettings));
    mReceiver.SetCoalesceUs(aSettings.mCoalesceUs);
}

void GevStreamCore::ReadRegisters(uint8_t *aImage)
{
    const gev::TnGvspReceiverStatistics lStatistics = mReceiver.GetStatistics();
    const gev::TnGvspReceiveStatistics &lAssembly = lStatistics.mAssembly;
    const uint64_t lNow = NowUs();
    std::lock_guard<std::mutex> lLock(mSettingsMutex);
    auto lPut32 = [aImage](uint32_t aAddress, uint32_t aValue) { PutU32(aImage + aAddress, aValue); };
    lPut32(kRegResendSupported, mSettings.mResendSupported ? 1 : 0);
    lPut32(kRegResendEnabled, mSettings.mResendEnabled ? 1 : 0);
    lPut32(kRegResendDelay, mSettings.mResendDelayUs);
    lPut32(kRegResendTimeout, mSettings.mResendTimeoutUs);
    lPut32(kRegResendRetries, mSettings.mResendRetries);
    lPut32(kRegResendPacketsPerBlock, mSettings.mResendPacketsPerBlock);
    lPut32(kRegResendGroups, mSettings.mResendGroups);
    lPut32(kRegResendLateness, mSettings.mResendLatenessUs);
    lPut32(kRegBlockTimeout, mSettings.mBlockTimeoutUs);
    lPut32(kRegBlocksInFlight, mSettings.mBlocksInFlight);
    lPut32(kRegBatchSize, mSettings.mBatchSize);
    lPut32(kRegCoalesce, mSettings.mCoalesceUs);
    lPut32(kRegDataReceiver, mSettings.mDataReceiver);
    lPut32(kRegPacketRingSize, mSettings.mRingSize);
    const uint64_t lCounters[kCounterCount] = {lAssembly.mBlocksCompleted,
                                               lAssembly.mBlocksFailed,
                                               lAssembly.mBlocksAborted,
                                               lAssembly.mBlocksDropped,
                                               lAssembly.mBlocksMissed,
                                               lAssembly.mBlocksTooSmall,
                                               GetPipelineDrops(),
                                               lAssembly.mPackets,
                                               lAssembly.mBytes,
                                               lAssembly.mPacketsInPlace,
                                               lAssembly.mPacketsCopied,
                                               lAssembly.mPacketsLost,
                                               lAssembly.mPacketsRecovered,
                                               lAssembly.mPacketsOutOfOrder,
                                               lAssembly.mPacketsRedundant,
                                               lAssembly.mPacketsIgnored,
                                               lAssembly.mMalformedPackets,
                                               lStatistics.mTruncated,
                                               lStatistics.mSocketDrops,
                                               lAssembly.mResendGroupsRequested,
                                               lAssembly.mResendPacketsRequested,
                                               lStatistics.mResendRequestsSent};
    for (uint32_t lIndex = 0; lIndex < kCounterCount; ++lIndex)
    {
        PutU64(aImage + kRegCounters + 8 * lIndex, lCounters[lIndex]);
    }
    // Rates: over the window since the last one that lasted a second, or
    // since the window started when that is at least a tenth of a second.
    if (mRateStartUs == 0 || lAssembly.mBlocksCompleted < mRateBlocks || lAssembly.mBytes < mRateBytes)
    {
        mRateStartUs = lNow;
        mRateBlocks = lAssembly.mBlocksCompleted;
        mRateBytes = lAssembly.mBytes;
        mBlockRate = mBitRate = 0;
    }
    const uint64_t lElapsed = lNow - mRateStartUs;
    if (lElapsed >= 100000)
    {
        mBlockRate = double(lAssembly.mBlocksCompleted - mRateBlocks) * 1e6 / double(lElapsed);
        mBitRate = double(lAssembly.mBytes - mRateBytes) * 8e6 / double(lElapsed);
        if (lElapsed >= 1000000)
        {
            mRateStartUs = lNow;
            mRateBlocks = lAssembly.mBlocksCompleted;
            mRateBytes = lAssembly.mBytes;
        }
    }
    uint64_t lBits;
    memcpy(&lBits, &mBlockRate, sizeof(lBits));
    PutU64(aImage + kRegRates, lBits);
    memcpy(&lBits, &mBitRate, sizeof(lBits));
    PutU64(aImage + kRegRates + 8, lBits);
}

void GevStreamCore::ResetReceiverStatistics()
{
    mReceiver.ResetStatistics();
    std::lock_guard<std::mutex> lLock(mSettingsMutex);
    mRateStartUs = 0;
}

TnResult GevStreamCore::Open(const OpenRequest &aRequest)
{
    if (IsOpen())
    {
        return Failure(TN_STATE_ERROR, "Open: the stream is open already");
    }
    if (aRequest.mCapacity == 0)
    {
        return Failure(TN_INVALID_PARAMETER, "Open: the buffer capacity must be at least 1");
    }
    // The device's capabilities: whether it resends packets. A device that
    // does not answer (a multicast sender controlled elsewhere) streams
    // without resends.
    bool lResendSupported = false;
    {
        gev::TnGvcpClient lClient;
        lClient.SetTimeout(kCapabilityTimeoutMs);
        lClient.SetRetryCount(1);
        uint32_t lCapability = 0;
        if (lClient.Open(aRequest.mDeviceAddress, aRequest.mDeviceControlPort).IsOK() &&
            lClient.ReadRegister(gev::kRegGvcpCapability, lCapability).IsOK())
        {
            lResendSupported = (lCapability & gev::kCapabilityPacketResend) != 0;
        }
    }
    GevSettings lSettings = GetSettings();
    lSettings.mResendSupported = lResendSupported;
    lSettings.mResendEnabled = lResendSupported;
    {
        std::lock_guard<std::mutex> lLock(mSettingsMutex);
        mSettings = lSettings;
    }

    uint32_t lLocalAddress = aRequest.mLocalAddress;
    if (lLocalAddress == 0 && aRequest.mMulticastAddress == 0)
    {
        lLocalAddress = gev::LocalAddressFor(aRequest.mDeviceAddress);
    }
    gev::TnGvspReceiverConfig lConfig;
    // Unicast streams listen on every local address, so that the device's
    // packets arrive whichever address it was given; the address reported is
    // the one the route to the device leaves from.
    lConfig.mLocalAddress = 0;
    lConfig.mLocalPort = aRequest.mLocalPort;
    lConfig.mMulticastAddress = aRequest.mMulticastAddress;
    lConfig.mMulticastInterface = aRequest.mMulticastInterface;
    lConfig.mSocketBufferSize = static_cast<int>(
        std::min<uint32_t>(mSocketBufferSize != 0 ? mSocketBufferSize : kDefaultSocketBufferSize, 0x7FFFFFFF));
    lConfig.mPacketBufferSize = mPacketBufferSize;
    lConfig.mBatchSize = lSettings.mBatchSize;
    lConfig.mCoalesceUs = lSettings.mCoalesceUs;
    lConfig.mKind = lSettings.mDataReceiver == kReceiverPacketRing ? gev::TnGvspReceiverKind::kPacketRing
                    : lSettings.mDataReceiver == kReceiverUserMode ? gev::TnGvspReceiverKind::kSocket
                                                                   : gev::TnGvspReceiverKind::kAutomatic;
    lConfig.mRingSize = lSettings.mRingSize;
    lConfig.mDeviceAddress = aRequest.mDeviceAddress;
    lConfig.mDevicePort = aRequest.mDeviceControlPort;
    lConfig.mStreamChannel = aRequest.mChannel;
    lConfig.mAssembler = PolicyOf(lSettings);
    lConfig.mAssembler.mMaxBlocksInFlight = lSettings.mBlocksInFlight != 0
                                                ? lSettings.mBlocksInFlight
                                                : std::max<uint32_t>(2, std::min<uint32_t>(16, aRequest.mCapacity / 2));
    TnResult lResult = mReceiver.Open(lConfig, this);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    {
        std::lock_guard<std::mutex> lLock(mAddressMutex);
        mDeviceAddress = aRequest.mDeviceAddress;
        mLocalAddress = aRequest.mMulticastAddress != 0
                            ? (aRequest.mMulticastInterface != 0 ? aRequest.mMulticastInterface
                                                                 : gev::LocalAddressFor(aRequest.mDeviceAddress))
                            : lLocalAddress;
        mMulticastAddress = aRequest.mMulticastAddress;
        mSpecificPort = aRequest.mLocalPort;
    }
    SetOpen(aRequest.mCapacity, aRequest.mChannel, this);
    lResult = mReceiver.Start();
    if (!lResult.IsOK())
    {
        CloseStream();
        return lResult;
    }
    return TnResult(TN_OK);
}

void GevStreamCore::StopReceiver()
{
    mReceiver.Close();
    std::lock_guard<std::mutex> lLock(mAddressMutex);
    mSpecificPort = 0;
}

std::string GevStreamCore::DescribeSilence()
{
    if (!IsOpen() || mReceiver.GetStatistics().mAssembly.mPackets != 0)
    {
        return std::string();
    }
    std::lock_guard<std::mutex> lLock(mAddressMutex);
    const uint32_t lAddress = mMulticastAddress != 0 ? mMulticastAddress : mLocalAddress;
    return "no packet has come to " + gev::FormatIPv4(lAddress) + ":" + std::to_string(mReceiver.GetLocalPort()) +
           ", where the stream listens: is the device streaming there?";
}

bool GevStreamCore::AcquireBlock(gev::TnGvspBlockTarget &aTarget)
{
    TnBuffer *lBuffer = Take();
    if (lBuffer == nullptr)
    {
        return false;
    }
    buffer::BufferCore &lCore = buffer::BufferCore::Of(*lBuffer);
    aTarget.mData = lBuffer->GetDataPointer();
    aTarget.mSize = lBuffer->GetSize();
    aTarget.mExtra = lCore.GetChunkMemory();
    aTarget.mExtraSize = aTarget.mExtra != nullptr ? lCore.GetChunkMemorySize() : 0;
    aTarget.mContext = lBuffer;
    return true;
}

void GevStreamCore::ReturnBlock(const gev::TnGvspBlockTarget &aTarget)
{
    Return(static_cast<TnBuffer *>(aTarget.mContext));
}

namespace
{
// A block with chunk data that went on into a buffer's own chunk memory: the
// main payload ends at aMainLength, before the end of the main memory, so the
// chunk data's start lies in the main memory. It moves to the chunk memory's
// front. False when the chunk memory cannot take it all.
bool GatherChunks(const gev::TnGvspBlockTarget &aTarget, uint64_t aMainLength, uint64_t aReceived)
{
    if (aTarget.mExtra == nullptr || aMainLength >= aTarget.mSize || aReceived <= aMainLength)
    {
        return true;
    }
    const uint64_t lInMain = std::min<uint64_t>(aReceived, aTarget.mSize) - aMainLength;
    const uint64_t lInExtra = aReceived > aTarget.mSize ? aReceived - aTarget.mSize : 0;
    if (lInMain + lInExtra > aTarget.mExtraSize)
    {
        return false;
    }
    memmove(aTarget.mExtra + lInMain, aTarget.mExtra, lInExtra);
    memcpy(aTarget.mExtra, aTarget.mData + aMainLength, lInMain);
    return true;
}
} // namespace

void GevStreamCore::FinishBlock(const gev::TnGvspBlockTarget &aTarget, const gev::TnGvspBlockReport &aReport)
{
    TnBuffer &lBuffer = *static_cast<TnBuffer *>(aTarget.mContext);
    uint32_t lCode = aReport.mResult;
    // Whatever the assembler reports, a block with a gap is no complete block.
    if (lCode == TN_OK &&
        (aReport.mMissingCount != 0 || aReport.mCounters.mLost != 0 || !aReport.mLeaderValid || !aReport.mTrailerValid))
    {
        lCode = TN_MISSING_PACKETS;
    }
    const uint16_t lGvspType = aReport.mLeaderInfo.mPayloadType;
    TnPayloadType lType =
        aReport.mLeaderValid || aReport.mTrailerValid ? PayloadTypeOf(lGvspType) : lBuffer.GetPayloadType();
    if (lType == TnPayloadTypeUndefined)
    {
        lType = TnPayloadTypeRawData;
    }
    const uint64_t lReceived = std::min<uint64_t>(aReport.mReceivedSize, aTarget.GetCapacity());
    bool lImage = lType == TnPayloadTypeImage && aReport.mLeaderValid;
    buffer::ImageGeometry lGeometry;
    if (lImage)
    {
        const gev::TnGvspImageLeader &lLeader = aReport.mLeaderInfo;
        lGeometry.mPixelType = static_cast<TnPixelType>(lLeader.mPixelFormat);
        lGeometry.mWidth = lLeader.mSizeX;
        lGeometry.mHeight = lLeader.mSizeY;
        if (aReport.mTrailerValid && aReport.mTrailerHasSizeY && aReport.mTrailerSizeY != 0 &&
            aReport.mTrailerSizeY < lLeader.mSizeY)
        {
            lGeometry.mHeight = aReport.mTrailerSizeY; // the lines actually sent (0: not told)
        }
        lGeometry.mOffsetX = lLeader.mOffsetX;
        lGeometry.mOffsetY = lLeader.mOffsetY;
        lGeometry.mPaddingX = lLeader.mPaddingX;
        lGeometry.mPaddingY = lLeader.mPaddingY;
        uint32_t lSize = 0;
        if (!buffer::ComputeImageSize(lGeometry, lSize))
        {
            lImage = false; // a pixel format without a size: the bytes as they came
            lType = TnPayloadTypeRawData;
        }
    }
    buffer::BeginBlock(lBuffer, lType == TnPayloadTypeImage && !lImage ? TnPayloadTypeRawData : lType);
    lBuffer.SetBlockID(aReport.mBlockId);
    lBuffer.SetTimestamp(aReport.mLeaderInfo.mTimestamp);
    buffer::SetBlockFlags(lBuffer, aReport.mExtendedIds, false);
    uint64_t lMainLength = lReceived;
    if (lImage)
    {
        const TnResult lGeometryResult = buffer::SetImageGeometry(lBuffer, lGeometry);
        if (!lGeometryResult.IsOK() && lCode == TN_OK)
        {
            lCode = lGeometryResult.GetCode();
        }
        uint32_t lSize = 0;
        buffer::ComputeImageSize(lGeometry, lSize);
        lMainLength = lSize;
    }
    else if (lType == TnPayloadTypeRawData || (lType == TnPayloadTypeImage && !lImage))
    {
        const uint64_t lLength = aReport.mLeaderPayloadSize != 0 && !aReport.mHasChunks
                                     ? std::min<uint64_t>(aReport.mLeaderPayloadSize, lReceived)
                                     : lReceived;
        buffer::SetRawDataPayloadLength(lBuffer, std::min<uint64_t>(lLength, lBuffer.GetSize()));
        lMainLength = lLength;
    }
    else if (lType == TnPayloadTypeChunkData || lType == TnPayloadTypeExtendedChunkData)
    {
        buffer::SetChunkDataPayloadLength(lBuffer, lReceived);
        lMainLength = 0;
    }
    else if (lType == TnPayloadTypeGenDC && lReceived > lBuffer.GetSize() && lCode == TN_OK)
    {
        // A container is walked in the buffer's own memory: one that ran on
        // into chunk memory kept apart did not fit.
        lCode = TN_BUFFER_TOO_SMALL;
    }
    // Nor is a block that ends before the image or payload it reports.
    const uint64_t lDescribed = std::max<uint64_t>(aReport.mDescribedSize, lImage ? lMainLength : 0);
    if (lCode == TN_OK && lReceived < lDescribed)
    {
        lCode = TN_MISSING_PACKETS;
    }
    if (aReport.mHasChunks && !GatherChunks(aTarget, lMainLength, lReceived) && lCode == TN_OK)
    {
        lCode = TN_BUFFER_TOO_SMALL;
    }
    buffer::BlockEnd lEnd;
    if (lCode != TN_OK)
    {
        std::string lText;
        const std::string lBlock = "block " + std::to_string(aReport.mBlockId);
        // A block too large for its buffer loses the packets that do not
        // fit: its size is the cause to tell.
        if (lCode == TN_BUFFER_TOO_SMALL && aReport.mRequiredSize > aTarget.GetCapacity())
        {
            lText = lBlock + " needs at least " + std::to_string(aReport.mRequiredSize) + " bytes; the buffer has " +
                    std::to_string(aTarget.GetCapacity());
        }
        else if (lCode == TN_BUFFER_TOO_SMALL && lType == TnPayloadTypeGenDC)
        {
            lText = "the container of " + lBlock + " needs " + std::to_string(lReceived) +
                    " bytes of the buffer's own memory; it has " + std::to_string(lBuffer.GetSize());
        }
        else if (lCode == TN_BUFFER_TOO_SMALL && aReport.mHasChunks)
        {
            lText = "the chunk data of " + lBlock + " does not fit the buffer's " +
                    std::to_string(aTarget.mExtraSize) + " bytes of chunk memory";
        }
        else if (lCode == TN_BUFFER_TOO_SMALL)
        {
            lText = lBlock + " does not fit the buffer's " + std::to_string(aTarget.GetCapacity()) + " bytes";
        }
        else if (aReport.mMissingCount != 0 || aReport.mCounters.mLost != 0)
        {
            lText = std::to_string(aReport.mCounters.mLost) + " packets of " + lBlock + " did not come";
        }
        else if (lCode == TN_MISSING_PACKETS && lReceived < lDescribed)
        {
            lText = lBlock + " ended after " + std::to_string(lReceived) + " of the " + std::to_string(lDescribed) +
                    " bytes its leader and trailer describe";
        }
        lEnd.mOperationResult = lText.empty() ? TnResult(lCode) : tn::Failure(lCode, lText);
    }
    lEnd.mAcquiredSize = static_cast<uint32_t>(std::min<uint64_t>(lReceived, buffer::GetBlockCapacity(lBuffer)));
    lEnd.mRequiredSize = static_cast<uint32_t>(std::min<uint64_t>(aReport.mRequiredSize, 0xFFFFFFFFu));
    lEnd.mPayloadSize = static_cast<uint32_t>(std::min<uint64_t>(lReceived, 0xFFFFFFFFu));
    lEnd.mHeaderValid = aReport.mLeaderValid;
    lEnd.mTrailerValid = aReport.mTrailerValid;
    lEnd.mChunksPresent = aReport.mHasChunks;
    buffer::EndBlock(lBuffer, lEnd);
    // What the payload itself says it holds, once the buffer reads it as received.
    const ITnGenericDataContainer *lContainer = lCode == TN_OK && lType == TnPayloadTypeGenDC ? lBuffer.GetGenDC() : nullptr;
    const uint64_t lDescriptor = lContainer != nullptr ? lContainer->GetDescriptorSize() : 0;
    const uint64_t lContained =
        lContainer != nullptr ? lDescriptor + std::min(lContainer->GetDataSize(), UINT64_MAX - lDescriptor) : 0;
    if (lCode == TN_OK && aReport.mHasChunks && !buffer::HasWholeChunkLayout(lBuffer))
    {
        // Chunks that do not walk back to the payload's start: a tag that
        // names bytes the block does not have, or bytes that belong to none.
        lEnd.mOperationResult = tn::Failure(TN_INVALID_DATA_FORMAT, "the chunk data of block " +
                                                                       std::to_string(aReport.mBlockId) +
                                                                       " does not walk back to the payload's start");
        buffer::EndBlock(lBuffer, lEnd);
    }
    else if (lContained > lReceived)
    {
        // A container whose descriptor and data reach past the bytes that came.
        lEnd.mOperationResult =
            tn::Failure(TN_MISSING_PACKETS, "the container of block " + std::to_string(aReport.mBlockId) +
                                                " describes " + std::to_string(lContained) + " bytes; " +
                                                std::to_string(lReceived) + " came");
        buffer::EndBlock(lBuffer, lEnd);
    }
    buffer::PacketStatistics lPackets;
    lPackets.mPacketsRecovered = aReport.mCounters.mRecovered;
    lPackets.mPacketsRecoveredSingleResend = aReport.mCounters.mRecoveredSingleResend;
    lPackets.mResendGroupsRequested = aReport.mCounters.mResendGroupsRequested;
    lPackets.mResendPacketsRequested = aReport.mCounters.mResendPacketsRequested;
    lPackets.mLostPackets = aReport.mCounters.mLost;
    lPackets.mIgnoredPackets = aReport.mCounters.mIgnored;
    lPackets.mRedundantPackets = aReport.mCounters.mRedundant;
    lPackets.mPacketsOutOfOrder = aReport.mCounters.mOutOfOrder;
    buffer::SetPacketStatistics(lBuffer, lPackets);
    for (size_t lIndex = 0; lIndex < aReport.mMissingCount; ++lIndex)
    {
        buffer::AddMissingPacketGroup(lBuffer, aReport.mMissing[lIndex].mFirst, aReport.mMissing[lIndex].mLast);
    }
    lBuffer.SetReceptionTime(NowUs());
    Complete(&lBuffer);
}
} // namespace stream
} // namespace tn

using tn::stream::GevStreamCore;
using tn::stream::OpenRequest;

namespace
{
GevStreamCore &Core(const TnStreamGEV &aStream)
{
    return *static_cast<GevStreamCore *>(aStream.GetCore());
}

// The device's address and control port from its information.
TnResult FromInfo(const TnDeviceInfo *aDeviceInfo, OpenRequest &aRequest)
{
    const TnDeviceInfoGEV *lInfo = dynamic_cast<const TnDeviceInfoGEV *>(aDeviceInfo);
    if (lInfo == nullptr)
    {
        return tn::Failure(TN_INVALID_PARAMETER, aDeviceInfo == nullptr
                                                             ? "Open: no device information"
                                                             : "Open: the device is no GigE Vision device");
    }
    if (lInfo->mIPAddress == 0)
    {
        return tn::Failure(TN_INVALID_PARAMETER, "Open: the device has no IP address");
    }
    if (const char *lNot = tn::gev::NotAHostAddress(lInfo->mIPAddress, lInfo->mSubnetMask))
    {
        return tn::Failure(TN_INVALID_PARAMETER, "Open: the device's address " +
                                                     tn::gev::FormatIPv4(lInfo->mIPAddress) +
                                                     " is no device's address (" + lNot + ")");
    }
    aRequest.mDeviceAddress = lInfo->mIPAddress;
    aRequest.mDeviceControlPort = lInfo->mControlPort != 0 ? lInfo->mControlPort : tn::gev::kGvcpPort;
    aRequest.mLocalAddress = lInfo->mLocalAddress;
    return TnResult(TN_OK);
}

TnResult ParseAddress(const TnString &aText, const char *aWhat, bool aEmptyAllowed, uint32_t &aAddress)
{
    const std::string lText = tn::ToString(aText);
    aAddress = 0;
    if (lText.empty() && aEmptyAllowed)
    {
        return TnResult(TN_OK);
    }
    if (!tn::gev::ParseIPv4(lText, aAddress) || aAddress == 0)
    {
        return tn::Failure(TN_INVALID_PARAMETER,
                                   std::string("Open: the ") + aWhat + " '" + lText + "' is no IPv4 address");
    }
    return TnResult(TN_OK);
}

TnResult Multicast(const TnString &aText, OpenRequest &aRequest)
{
    TnResult lResult = ParseAddress(aText, "multicast address", false, aRequest.mMulticastAddress);
    if (lResult.IsOK() && (aRequest.mMulticastAddress >> 28) != 0xE)
    {
        lResult =
            tn::Failure(TN_INVALID_PARAMETER, "Open: " + tn::ToString(aText) + " is no multicast address");
    }
    return lResult;
}
} // namespace

TnStreamGEV::TnStreamGEV() : TnStream(new GevStreamCore())
{
}

TnStreamGEV::~TnStreamGEV()
{
    // Closing tells sinks and pipelines about this stream: while it is whole.
    GetCore()->Shutdown();
}

TnResult TnStreamGEV::Open(const TnDeviceInfo *aDeviceInfo)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::Open");
    }
    return Open(aDeviceInfo, 0);
}

TnResult TnStreamGEV::Open(const TnDeviceInfo *aDeviceInfo, uint16_t aLocalPort, uint16_t aChannel, const TnString &,
                           uint32_t aBuffersCapacity)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::Open");
    }
    OpenRequest lRequest;
    TnResult lResult = FromInfo(aDeviceInfo, lRequest);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lRequest.mLocalPort = aLocalPort;
    lRequest.mChannel = aChannel;
    lRequest.mCapacity = aBuffersCapacity;
    return Core(*this).Open(lRequest);
}

TnResult TnStreamGEV::Open(const TnDeviceInfo *aDeviceInfo, const TnString &aMulticastAddr, uint16_t aDataPort,
                           uint16_t aChannel, const TnString &, uint32_t aBuffersCapacity)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::Open");
    }
    OpenRequest lRequest;
    TnResult lResult = FromInfo(aDeviceInfo, lRequest);
    if (lResult.IsOK())
    {
        lResult = Multicast(aMulticastAddr, lRequest);
    }
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lRequest.mMulticastInterface = lRequest.mLocalAddress;
    lRequest.mLocalAddress = 0;
    lRequest.mLocalPort = aDataPort;
    lRequest.mChannel = aChannel;
    lRequest.mCapacity = aBuffersCapacity;
    return Core(*this).Open(lRequest);
}

TnResult TnStreamGEV::Open(const TnString &aIPAddress)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::Open");
    }
    return Open(aIPAddress, 0);
}

TnResult TnStreamGEV::Open(const TnString &aIPAddress, uint16_t aLocalPort, uint16_t aChannel,
                           const TnString &aLocalIPAddress, uint32_t aBuffersCapacity)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::Open");
    }
    OpenRequest lRequest;
    TnResult lResult = ParseAddress(aIPAddress, "device address", false, lRequest.mDeviceAddress);
    if (lResult.IsOK())
    {
        lResult = ParseAddress(aLocalIPAddress, "local address", true, lRequest.mLocalAddress);
    }
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lRequest.mLocalPort = aLocalPort;
    lRequest.mChannel = aChannel;
    lRequest.mCapacity = aBuffersCapacity;
    return Core(*this).Open(lRequest);
}

TnResult TnStreamGEV::Open(const TnString &aIPAddress, const TnString &aMulticastAddr, uint16_t aDataPort,
                           uint16_t aChannel, const TnString &aLocalIPAddress, uint32_t aBuffersCapacity)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::Open");
    }
    OpenRequest lRequest;
    TnResult lResult = ParseAddress(aIPAddress, "device address", false, lRequest.mDeviceAddress);
    if (lResult.IsOK())
    {
        lResult = Multicast(aMulticastAddr, lRequest);
    }
    if (lResult.IsOK())
    {
        lResult = ParseAddress(aLocalIPAddress, "local address", true, lRequest.mMulticastInterface);
    }
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lRequest.mLocalPort = aDataPort;
    lRequest.mChannel = aChannel;
    lRequest.mCapacity = aBuffersCapacity;
    return Core(*this).Open(lRequest);
}

TnStreamType TnStreamGEV::GetType() const
{
    return TnStreamTypeGEV;
}

TnDataReceiverType TnStreamGEV::GetDataReceiverType() const
{
    // The receiver says what takes the datagrams now (a closed one: the
    // socket).
    return Core(*this).GetReceiver().GetKind() == tn::gev::TnGvspReceiverKind::kPacketRing
               ? TnDataReceiverTypeTarnDriver
               : TnDataReceiverTypeUserMode;
}

TnResult TnStreamGEV::FlushPacketQueue()
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::FlushPacketQueue");
    }
    if (!IsOpen())
    {
        return tn::Failure(TN_NOT_CONNECTED, "FlushPacketQueue: the stream is not open");
    }
    return Core(*this).GetReceiver().Flush();
}

bool TnStreamGEV::GetWaitForFirstPacketOfBlockToStart() const
{
    if (GetCore()->IsInherited())
    {
        return false;
    }
    return Core(*this).GetSettings().mRequireLeader;
}

TnResult TnStreamGEV::SetWaitForFirstPacketOfBlockToStart(bool aWaitForFirstPacketOfBlockToStart)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::SetWaitForFirstPacketOfBlockToStart");
    }
    if (!IsOpen())
    {
        return tn::Failure(TN_NOT_CONNECTED, "SetWaitForFirstPacketOfBlockToStart: the stream is not open");
    }
    GevStreamCore &lCore = Core(*this);
    tn::stream::GevSettings lSettings = lCore.GetSettings();
    lSettings.mRequireLeader = aWaitForFirstPacketOfBlockToStart;
    lCore.SetSettings(lSettings);
    return TnResult(TN_OK);
}

uint16_t TnStreamGEV::GetLocalPort() const
{
    if (GetCore()->IsInherited())
    {
        return 0;
    }
    return IsOpen() ? Core(*this).GetReceiver().GetLocalPort() : 0;
}

uint16_t TnStreamGEV::GetSpecificLocalPort() const
{
    if (GetCore()->IsInherited())
    {
        return 0;
    }
    GevStreamCore &lCore = Core(*this);
    std::lock_guard<std::mutex> lLock(lCore.mAddressMutex);
    return IsOpen() ? lCore.mSpecificPort : 0;
}

TnString TnStreamGEV::GetLocalIPAddress() const
{
    GevStreamCore &lCore = Core(*this);
    std::lock_guard<std::mutex> lLock(lCore.mAddressMutex);
    return IsOpen() && lCore.mLocalAddress != 0 ? TnString(tn::gev::FormatIPv4(lCore.mLocalAddress).c_str())
                                                : TnString("");
}

TnString TnStreamGEV::GetMulticastIPAddress() const
{
    GevStreamCore &lCore = Core(*this);
    std::lock_guard<std::mutex> lLock(lCore.mAddressMutex);
    return IsOpen() && lCore.mMulticastAddress != 0 ? TnString(tn::gev::FormatIPv4(lCore.mMulticastAddress).c_str())
                                                    : TnString("");
}

TnString TnStreamGEV::GetDeviceIPAddress() const
{
    GevStreamCore &lCore = Core(*this);
    std::lock_guard<std::mutex> lLock(lCore.mAddressMutex);
    return IsOpen() && lCore.mDeviceAddress != 0 ? TnString(tn::gev::FormatIPv4(lCore.mDeviceAddress).c_str())
                                                 : TnString("");
}

uint32_t TnStreamGEV::GetUserModeDataReceiverThreadPriority() const
{
    if (GetCore()->IsInherited())
    {
        return 0;
    }
    return Core(*this).GetReceiver().GetSocketPriority();
}

TnResult TnStreamGEV::SetUserModeDataReceiverThreadPriority(uint32_t aPriority)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::SetUserModeDataReceiverThreadPriority");
    }
    if (aPriority > tn::stream::kMaxPriority)
    {
        return tn::Failure(TN_INVALID_PARAMETER, "SetUserModeDataReceiverThreadPriority: the priority is "
                                                         "0 to 99");
    }
    GevStreamCore &lCore = Core(*this);
    // The receiver gives the priority to its thread while the socket takes
    // the data, not while the packet ring does.
    if (!lCore.GetReceiver().SetSocketPriority(aPriority))
    {
        return tn::Failure(TN_THREAD_ERROR, "SetUserModeDataReceiverThreadPriority: the system refused "
                                                    "the priority");
    }
    return TnResult(TN_OK);
}

TnResult TnStreamGEV::GetUserModeSocketRxBufferSize(uint32_t &aSize)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::GetUserModeSocketRxBufferSize");
    }
    aSize = 0;
    if (!IsOpen())
    {
        return tn::Failure(TN_NOT_CONNECTED, "GetUserModeSocketRxBufferSize: the stream is not open");
    }
    if (GetDataReceiverType() != TnDataReceiverTypeUserMode)
    {
        return tn::Failure(TN_NOT_SUPPORTED, "GetUserModeSocketRxBufferSize: the packet ring receives the "
                                                     "stream's data, not the socket");
    }
    return Core(*this).GetReceiver().GetSocketBufferSize(aSize);
}

TnResult TnStreamGEV::SetUserModeSocketRxBufferSize(uint32_t aSize)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::SetUserModeSocketRxBufferSize");
    }
    if (IsOpen())
    {
        return tn::Failure(TN_NETWORK_CONFIG_ERROR, "SetUserModeSocketRxBufferSize: set it before opening");
    }
    if (!tn::MemoryFits(1, aSize))
    {
        return tn::Failure(TN_NOT_ENOUGH_MEMORY,
                                   "SetUserModeSocketRxBufferSize: more than the machine's memory and swap");
    }
    Core(*this).mSocketBufferSize = aSize;
    return TnResult(TN_OK);
}

TnResult TnStreamGEV::SetUserModeRxPacketBufferSize(uint32_t aSize)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamGEV::SetUserModeRxPacketBufferSize");
    }
    if (IsOpen())
    {
        return tn::Failure(TN_NETWORK_CONFIG_ERROR, "SetUserModeRxPacketBufferSize: set it before opening");
    }
    Core(*this).mPacketBufferSize =
        std::max(tn::stream::kMinPacketBufferSize, std::min(aSize, tn::stream::kMaxPacketBufferSize));
    return TnResult(TN_OK);
}

TnResult TnStreamGEV::IsDriverInstalled(TnString &aIPAddress, bool &aInstalled, const TnString &)
{
    aInstalled = false;
    uint32_t lAddress = 0;
    if (!tn::gev::ParseIPv4(tn::ToString(aIPAddress), lAddress))
    {
        return tn::Failure(TN_INVALID_PARAMETER,
                                   "IsDriverInstalled: '" + tn::ToString(aIPAddress) + "' is no IPv4 address");
    }
    aInstalled = tn::gev::CanOpenPacketRing(tn::gev::LocalAddressFor(lAddress));
    return TnResult(TN_OK);
}
