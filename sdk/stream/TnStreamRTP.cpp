#include "TnStreamRTP.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TnBufferInternal.h"
#include "TnByteOrder.h"
#include "TnCheckedSize.h"
#include "TnGenICamInternal.h"
#include "TnGevAddress.h"
#include "TnRtpReceiver.h"
#include "TnStreamCore.h"
#include "TnStreamXml.h"
#include "TnText.h"
#include "TnThreads.h"

namespace tn
{
namespace stream
{
namespace
{
constexpr uint32_t kCapacity = 64;
constexpr uint32_t kMaxPriority = 99;
constexpr int kSocketBufferSize = 32 << 20;
// A thread waiting for the next buffer is woken this long before its frame
// is expected to complete.
constexpr uint32_t kNearlyDoneLeadUs = 60;

// The parameters' registers (see TnStreamRTP.xml).
enum : uint32_t
{
    kRegReorderTolerance = 0x000,
    kRegFrameTimeout = 0x004,
    kRegBatchSize = 0x008,
    kRegCoalesce = 0x00C,
    kSettingsEnd = 0x010,
    kRegCounters = 0x100,
    kCounterCount = 19,
    kRegResetStatistics = 0x400,
    kRegisterSpace = 0x404
};

struct RtpSettings
{
    uint32_t mReorderToleranceUs = 2000;
    uint32_t mFrameTimeoutUs = 1000000;
    uint32_t mBatchSize = 64;
    uint32_t mCoalesceUs = 50;
};

// An IPv4 address in dotted form; empty text is 0 when aEmptyAllowed.
TnResult ParseAddress(const TnString &aText, const char *aWhat, bool aEmptyAllowed, uint32_t &aAddress)
{
    const std::string lText = tn::ToString(aText);
    aAddress = 0;
    if (lText.empty() && aEmptyAllowed)
    {
        return TnResult(TN_OK);
    }
    if (!gev::ParseIPv4(lText, aAddress))
    {
        return Failure(TN_INVALID_PARAMETER, std::string("Open: the ") + aWhat + " '" + lText + "' is no IPv4 address");
    }
    return TnResult(TN_OK);
}

TnString AddressText(uint32_t aAddress)
{
    return aAddress != 0 ? TnString(gev::FormatIPv4(aAddress).c_str()) : TnString("");
}
} // namespace

class RtpStreamCore : public StreamCore, public Engine, public gev::TnRtpFrameProvider
{
public:
    RtpStreamCore();
    ~RtpStreamCore() override;

    /// Opens the receiver with the addresses of aConfig and the settings.
    TnResult Open(gev::TnRtpReceiverConfig aConfig);

    /// What frames to expect, from the next one on.
    void Expect(const gev::TnRtpAssemblerConfig &aExpected);

    // Engine
    void AbortBlocks() override { mReceiver.AbortFrames(false); }

    // Frame provider (receive thread)
    bool AcquireFrame(gev::TnGvspBlockTarget &aTarget) override;
    void FinishFrame(const gev::TnGvspBlockTarget &aTarget, const gev::TnRtpFrameReport &aReport) override;
    void ReturnFrame(const gev::TnGvspBlockTarget &aTarget) override { Return(static_cast<TnBuffer *>(aTarget.mContext)); }
    void OnFrameNearlyDone(const gev::TnGvspBlockTarget &) override { Anticipate(); }

    gev::TnRtpReceiver &GetReceiver() { return mReceiver; }

    RtpSettings GetSettings() const
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return mSettings;
    }
    void SetSettings(const RtpSettings &aSettings);
    /// Fills the parameters' zero-filled register image: settings, counters.
    void ReadRegisters(uint8_t *aImage);

    std::atomic<uint32_t> mPriority{0};

    // What the open stream uses.
    mutable std::mutex mMutex;
    uint32_t mMulticastAddress = 0;
    uint32_t mServerAddress = 0;
    uint16_t mServerPort = 0;

protected:
    void ResetReceiverStatistics() override { mReceiver.ResetStatistics(); }
    void StopReceiver() override;
    std::string DescribeSilence() override;

private:
    /// The assembler's settings: what is expected and the times (mMutex held).
    gev::TnRtpAssemblerConfig Assembly() const;

    RtpSettings mSettings;
    gev::TnRtpAssemblerConfig mExpected;
    uint64_t mFrames = 0; // frames finished since opening (the block ids)
    gev::TnRtpReceiver mReceiver;
};

namespace
{
/// The parameters' port: the register image of the stream's settings and
/// statistics, the receiver's own write rules, and the statistics' reset.
std::shared_ptr<genicam::IPort> RtpParameterPort(RtpStreamCore &aCore)
{
    auto lWrite = [&aCore](const std::vector<std::pair<uint32_t, uint32_t>> &aValues) {
        RtpSettings lSettings = aCore.GetSettings();
        for (const auto &lValue : aValues)
        {
            switch (lValue.first)
            {
            case kRegReorderTolerance:
                lSettings.mReorderToleranceUs = std::min<uint32_t>(lValue.second, 1000000);
                break;
            case kRegFrameTimeout:
                lSettings.mFrameTimeoutUs = std::max<uint32_t>(1000, std::min<uint32_t>(lValue.second, 60000000));
                break;
            case kRegBatchSize:
                lSettings.mBatchSize = std::max<uint32_t>(1, std::min<uint32_t>(lValue.second, 1024));
                break;
            case kRegCoalesce:
                lSettings.mCoalesceUs = std::min<uint32_t>(lValue.second, 10000);
                break;
            default:
                break;
            }
        }
        aCore.SetSettings(lSettings);
    };
    return NewParameterPort(
        aCore, kRegisterSpace, kRegReorderTolerance, kSettingsEnd, kRegResetStatistics,
        [&aCore](uint8_t *aImage) { aCore.ReadRegisters(aImage); }, lWrite);
}
} // namespace

RtpStreamCore::RtpStreamCore()
{
    TnResult lResult;
    SetParameters(genicam::CreateParameterArray(StreamRtpXml(), RtpParameterPort(*this), lResult));
}

RtpStreamCore::~RtpStreamCore()
{
    // The parameters' port refers to this object: they go first.
    SetParameters(nullptr);
    mReceiver.Close();
}

gev::TnRtpAssemblerConfig RtpStreamCore::Assembly() const
{
    gev::TnRtpAssemblerConfig lConfig = mExpected;
    lConfig.mReorderToleranceUs = mSettings.mReorderToleranceUs;
    lConfig.mFrameTimeoutUs = mSettings.mFrameTimeoutUs;
    lConfig.mNearlyDoneLeadUs = kNearlyDoneLeadUs;
    return lConfig;
}

void RtpStreamCore::SetSettings(const RtpSettings &aSettings)
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mSettings = aSettings;
    }
    mReceiver.SetTimes(aSettings.mReorderToleranceUs, aSettings.mFrameTimeoutUs);
}

void RtpStreamCore::Expect(const gev::TnRtpAssemblerConfig &aExpected)
{
    gev::TnRtpAssemblerConfig lConfig;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mExpected = aExpected;
        lConfig = Assembly();
    }
    if (IsOpen())
    {
        mReceiver.SetAssembly(lConfig);
    }
}

TnResult RtpStreamCore::Open(gev::TnRtpReceiverConfig aConfig)
{
    if (IsOpen())
    {
        return Failure(TN_STATE_ERROR, "Open: the stream is open already");
    }
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        aConfig.mSocketBufferSize = kSocketBufferSize;
        aConfig.mBatchSize = mSettings.mBatchSize;
        aConfig.mCoalesceUs = mSettings.mCoalesceUs;
        aConfig.mAssembler = Assembly();
        mFrames = 0;
    }
    TnResult lResult = mReceiver.Open(aConfig, this);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mMulticastAddress = aConfig.mMulticastAddress;
        mServerAddress = aConfig.mServerAddress;
        mServerPort = aConfig.mServerPort;
    }
    SetOpen(kCapacity, 0, this);
    lResult = mReceiver.Start();
    if (!lResult.IsOK())
    {
        CloseStream();
        return lResult;
    }
    if (mPriority.load() != 0)
    {
        tn::SetThreadPriority(mReceiver.GetThreadHandle(), mPriority.load());
    }
    return TnResult(TN_OK);
}

void RtpStreamCore::StopReceiver()
{
    mReceiver.Close();
    std::lock_guard<std::mutex> lLock(mMutex);
    mMulticastAddress = 0;
    mServerAddress = 0;
    mServerPort = 0;
}

std::string RtpStreamCore::DescribeSilence()
{
    if (!IsOpen() || mReceiver.GetStatistics().mAssembly.mPackets != 0)
    {
        return std::string();
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mServerAddress != 0)
    {
        return "no packet has come from the RTP server " + gev::FormatIPv4(mServerAddress) + ":" +
               std::to_string(mServerPort);
    }
    const uint32_t lAddress = mMulticastAddress != 0 ? mMulticastAddress : mReceiver.GetLocalAddress();
    return "no packet has come to " + gev::FormatIPv4(lAddress) + ":" + std::to_string(mReceiver.GetLocalPort()) +
           ", where the stream listens: is the sender sending there?";
}

bool RtpStreamCore::AcquireFrame(gev::TnGvspBlockTarget &aTarget)
{
    TnBuffer *lBuffer = Take();
    if (lBuffer == nullptr)
    {
        return false;
    }
    aTarget = gev::TnGvspBlockTarget();
    aTarget.mData = lBuffer->GetDataPointer();
    aTarget.mSize = lBuffer->GetSize();
    aTarget.mContext = lBuffer;
    return true;
}

void RtpStreamCore::FinishFrame(const gev::TnGvspBlockTarget &aTarget, const gev::TnRtpFrameReport &aReport)
{
    TnBuffer &lBuffer = *static_cast<TnBuffer *>(aTarget.mContext);
    const gev::TnRtpAssemblerConfig &lConfig = mReceiver.GetAssembly();
    uint32_t lCode = aReport.mResult;
    TnPayloadType lType = TnPayloadTypeRawData;
    if (lConfig.mPayload == gev::TnRtpPayload::RawVideo)
    {
        lType = TnPayloadTypeImage;
    }
    else if (lConfig.mPayload == gev::TnRtpPayload::H264)
    {
        lType = TnPayloadTypeH264;
    }
    buffer::BeginBlock(lBuffer, lType);
    lBuffer.SetBlockID(++mFrames);
    lBuffer.SetTimestamp(aReport.mTimestamp);
    if (lType == TnPayloadTypeImage)
    {
        buffer::ImageGeometry lGeometry;
        lGeometry.mPixelType = static_cast<TnPixelType>(lConfig.mPixelType);
        lGeometry.mWidth = lConfig.mWidth;
        lGeometry.mHeight = lConfig.mHeight;
        lGeometry.mPaddingX = lConfig.mPaddingX;
        const TnResult lGeometryResult = buffer::SetImageGeometry(lBuffer, lGeometry);
        if (!lGeometryResult.IsOK() && lCode == TN_OK)
        {
            lCode = lGeometryResult.GetCode();
        }
    }
    else if (lType == TnPayloadTypeRawData)
    {
        buffer::SetRawDataPayloadLength(lBuffer, std::min<uint64_t>(aReport.mSize, lBuffer.GetSize()));
    }
    buffer::BlockEnd lEnd;
    if (lCode != TN_OK)
    {
        std::string lText;
        if (lCode == TN_MISSING_PACKETS)
        {
            lText = std::to_string(aReport.mLost) + " packets of the frame with RTP timestamp " +
                    std::to_string(aReport.mTimestamp) + " did not come, or not in order";
        }
        else if (lCode == TN_BUFFER_TOO_SMALL)
        {
            lText = "the frame needs " + std::to_string(aReport.mRequiredSize) + " bytes; the buffer has " +
                    std::to_string(aTarget.mSize);
        }
        else if (lCode == TN_INVALID_DATA_FORMAT)
        {
            lText = "the frame's packets do not fit the payload the stream expects";
        }
        lEnd.mOperationResult = lText.empty() ? TnResult(lCode) : tn::Failure(lCode, lText);
    }
    const uint32_t lSize = static_cast<uint32_t>(std::min<uint64_t>(aReport.mSize, aTarget.mSize));
    lEnd.mAcquiredSize = std::min(lSize, buffer::GetBlockCapacity(lBuffer));
    lEnd.mRequiredSize = static_cast<uint32_t>(std::min<uint64_t>(aReport.mRequiredSize, 0xFFFFFFFFu));
    lEnd.mPayloadSize = lSize;
    lEnd.mHeaderValid = aReport.mPackets != 0;
    lEnd.mTrailerValid = aReport.mResult == TN_OK;
    buffer::EndBlock(lBuffer, lEnd);
    buffer::PacketStatistics lPackets;
    lPackets.mLostPackets = aReport.mLost;
    lPackets.mRedundantPackets = aReport.mRedundant;
    lPackets.mPacketsOutOfOrder = aReport.mOutOfOrder;
    buffer::SetPacketStatistics(lBuffer, lPackets);
    lBuffer.SetReceptionTime(NowUs());
    Complete(&lBuffer);
}

void RtpStreamCore::ReadRegisters(uint8_t *aImage)
{
    const gev::TnRtpReceiverStatistics lStatistics = mReceiver.GetStatistics();
    const gev::TnRtpReceiveStatistics &lAssembly = lStatistics.mAssembly;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        PutU32(aImage + kRegReorderTolerance, mSettings.mReorderToleranceUs);
        PutU32(aImage + kRegFrameTimeout, mSettings.mFrameTimeoutUs);
        PutU32(aImage + kRegBatchSize, mSettings.mBatchSize);
        PutU32(aImage + kRegCoalesce, mSettings.mCoalesceUs);
    }
    const uint64_t lCounters[kCounterCount] = {lAssembly.mFramesCompleted,  lAssembly.mFramesFailed,
                                               lAssembly.mFramesAborted,    lAssembly.mFramesDropped,
                                               lAssembly.mFramesTooSmall,   GetPipelineDrops(),
                                               lAssembly.mPackets,          lAssembly.mBytes,
                                               lAssembly.mPacketsInPlace,   lAssembly.mPacketsCopied,
                                               lAssembly.mPacketsLost,      lAssembly.mPacketsOutOfOrder,
                                               lAssembly.mPacketsRedundant, lAssembly.mPacketsIgnored,
                                               lAssembly.mMalformedPackets, lStatistics.mTruncated,
                                               lStatistics.mSocketDrops,    lAssembly.mSourceChanges,
                                               lStatistics.mConnections};
    for (uint32_t lIndex = 0; lIndex < kCounterCount; ++lIndex)
    {
        PutU64(aImage + kRegCounters + 8 * lIndex, lCounters[lIndex]);
    }
}
} // namespace stream
} // namespace tn

using tn::stream::RtpStreamCore;

namespace
{
RtpStreamCore &Core(const TnStreamRTP &aStream)
{
    return *static_cast<RtpStreamCore *>(aStream.GetCore());
}
} // namespace

TnStreamRTP::TnStreamRTP() : TnStream(new RtpStreamCore())
{
}

TnStreamRTP::~TnStreamRTP()
{
    // Closing tells sinks and pipelines about this stream: while it is whole.
    GetCore()->Shutdown();
}

TnResult TnStreamRTP::PrepareFor(uint32_t aWidth, uint32_t aHeight, TnPixelType aPixelType, uint16_t aPaddingX)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamRTP::PrepareFor");
    }
    tn::gev::TnRtpAssemblerConfig lConfig;
    lConfig.mPayload = tn::gev::TnRtpPayload::RawVideo;
    if (!tn::gev::RawSamplingOf(static_cast<uint32_t>(aPixelType), lConfig.mSampling))
    {
        return tn::Failure(TN_INVALID_PARAMETER, "PrepareFor: the pixel type is no RFC 4175 sampling at 8 bits");
    }
    if (aWidth == 0 || aHeight == 0 || aWidth >= tn::gev::kRtpRawMaxLines || aHeight >= tn::gev::kRtpRawMaxLines ||
        aWidth % lConfig.mSampling.mGroupPixels != 0)
    {
        return tn::Failure(TN_INVALID_PARAMETER, "PrepareFor: the width and height are 1 to 32767, the width "
                                                         "a whole number of pixel groups");
    }
    // Each line: its pixel groups, then the padding.
    const tn::CheckedSize lFrame =
        (tn::CheckedSize(aWidth / lConfig.mSampling.mGroupPixels) * lConfig.mSampling.mGroupBytes + aPaddingX) * aHeight;
    if (!lFrame.FitsIn(tn::kMaximumBufferSize))
    {
        return tn::Failure(TN_INVALID_PARAMETER, "PrepareFor: a frame of this geometry does not fit a buffer");
    }
    lConfig.mWidth = aWidth;
    lConfig.mHeight = aHeight;
    lConfig.mPaddingX = aPaddingX;
    lConfig.mPixelType = static_cast<uint32_t>(aPixelType);
    Core(*this).Expect(lConfig);
    return TnResult(TN_OK);
}

TnResult TnStreamRTP::PrepareForH264()
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamRTP::PrepareForH264");
    }
    tn::gev::TnRtpAssemblerConfig lConfig;
    lConfig.mPayload = tn::gev::TnRtpPayload::H264;
    Core(*this).Expect(lConfig);
    return TnResult(TN_OK);
}

TnResult TnStreamRTP::ResetPayloadType()
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamRTP::ResetPayloadType");
    }
    Core(*this).Expect(tn::gev::TnRtpAssemblerConfig());
    return TnResult(TN_OK);
}

TnResult TnStreamRTP::Open(const TnDeviceInfo *)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamRTP::Open");
    }
    return tn::Failure(TN_NOT_SUPPORTED, "Open: an RTP stream is not opened from device information");
}

TnResult TnStreamRTP::Open(const TnString &)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamRTP::Open");
    }
    return tn::Failure(TN_NOT_SUPPORTED, "Open: an RTP stream is not opened from a device's address; give "
                                                 "the local address and port, or a multicast group");
}

TnResult TnStreamRTP::Open(const TnSessionInfoSDP *, const TnString &, uint16_t)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamRTP::Open");
    }
    return tn::Failure(TN_NOT_SUPPORTED, "Open: opening from a session description is not supported; give "
                                                 "the session's address and port");
}

TnResult TnStreamRTP::Open(const TnString &aLocalIpAddress, uint16_t aLocalPort)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamRTP::Open");
    }
    tn::gev::TnRtpReceiverConfig lConfig;
    TnResult lResult = tn::stream::ParseAddress(aLocalIpAddress, "local address", true, lConfig.mLocalAddress);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lConfig.mLocalPort = aLocalPort;
    return Core(*this).Open(lConfig);
}

TnResult TnStreamRTP::Open(const TnString &aMulticastAddress, uint16_t aDataPort, const TnString &aLocalIpAddress)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamRTP::Open");
    }
    tn::gev::TnRtpReceiverConfig lConfig;
    TnResult lResult = tn::stream::ParseAddress(aMulticastAddress, "multicast address", false, lConfig.mMulticastAddress);
    if (lResult.IsOK() && (lConfig.mMulticastAddress >> 28) != 0xE)
    {
        lResult = tn::Failure(TN_INVALID_PARAMETER,
                                      "Open: " + tn::ToString(aMulticastAddress) + " is no multicast address");
    }
    if (lResult.IsOK())
    {
        lResult = tn::stream::ParseAddress(aLocalIpAddress, "local address", true, lConfig.mMulticastInterface);
    }
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lConfig.mLocalPort = aDataPort;
    return Core(*this).Open(lConfig);
}

TnResult TnStreamRTP::OpenTCP(const TnString &aServerIPAddress, uint16_t aServerPort)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamRTP::OpenTCP");
    }
    tn::gev::TnRtpReceiverConfig lConfig;
    TnResult lResult = tn::stream::ParseAddress(aServerIPAddress, "server address", false, lConfig.mServerAddress);
    if (lResult.IsOK() && (lConfig.mServerAddress == 0 || aServerPort == 0))
    {
        lResult = tn::Failure(TN_INVALID_PARAMETER, "OpenTCP: no server address or port");
    }
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lConfig.mServerPort = aServerPort;
    return Core(*this).Open(lConfig);
}

TnStreamType TnStreamRTP::GetType() const
{
    return TnStreamTypeRTP;
}

uint16_t TnStreamRTP::GetLocalPort() const
{
    if (GetCore()->IsInherited())
    {
        return 0;
    }
    return IsOpen() ? Core(*this).GetReceiver().GetLocalPort() : 0;
}

TnString TnStreamRTP::GetLocalIPAddress() const
{
    return IsOpen() ? tn::stream::AddressText(Core(*this).GetReceiver().GetLocalAddress()) : TnString("");
}

TnString TnStreamRTP::GetMulticastIPAddress() const
{
    RtpStreamCore &lCore = Core(*this);
    std::lock_guard<std::mutex> lLock(lCore.mMutex);
    return tn::stream::AddressText(lCore.mMulticastAddress);
}

TnString TnStreamRTP::GetTCPServerIPAddress() const
{
    RtpStreamCore &lCore = Core(*this);
    std::lock_guard<std::mutex> lLock(lCore.mMutex);
    return tn::stream::AddressText(lCore.mServerAddress);
}

uint16_t TnStreamRTP::GetTCPServerPort() const
{
    if (GetCore()->IsInherited())
    {
        return 0;
    }
    RtpStreamCore &lCore = Core(*this);
    std::lock_guard<std::mutex> lLock(lCore.mMutex);
    return lCore.mServerPort;
}

uint32_t TnStreamRTP::GetThreadPriority() const
{
    if (GetCore()->IsInherited())
    {
        return 0;
    }
    return Core(*this).mPriority.load();
}

TnResult TnStreamRTP::SetThreadPriority(uint32_t aPriority)
{
    if (GetCore()->IsInherited())
    {
        return tn::InheritedFailure("TnStreamRTP::SetThreadPriority");
    }
    if (aPriority > tn::stream::kMaxPriority)
    {
        return tn::Failure(TN_INVALID_PARAMETER, "SetThreadPriority: the priority is 0 to 99");
    }
    RtpStreamCore &lCore = Core(*this);
    if (IsOpen() && lCore.GetReceiver().IsRunning() &&
        !tn::SetThreadPriority(lCore.GetReceiver().GetThreadHandle(), aPriority))
    {
        return tn::Failure(TN_THREAD_ERROR, "SetThreadPriority: the system refused the priority");
    }
    lCore.mPriority = aPriority;
    return TnResult(TN_OK);
}
