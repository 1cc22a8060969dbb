// The software device's stream channels as its sources describe them: what
// each source answers at the start, its GenDC container, the buffers it
// gives, its payload size as its registers change, and the channels that
// stream RTP.
#include "TnSoftDevice.h"

#include <algorithm>

#include "TnBuffer.h"
#include "TnGvspSender.h"
#include "TnSoftDeviceLog.h"
#include "TnText.h"

namespace tn
{
namespace softdevice
{
namespace
{
constexpr size_t kMaxBuffersPerChannel = 64;
// Bounds on the start-up questions, whatever a source answers.
constexpr int kMaxPixelTypes = 256;
constexpr int kMaxChunkTypes = 64;
} // namespace

void TnSoftDevice::SetUpGenDC()
{
    bool lEnabled;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lEnabled = mFlags[FlagGenDC];
    }
    if (mGenDCManagers.size() < mSources.size())
    {
        mGenDCManagers.resize(mSources.size());
    }
    for (size_t lIndex = 0; lIndex < mSources.size() && lEnabled; ++lIndex)
    {
        auto *lSource = dynamic_cast<ITnSWStreamingChannelSourceGenDC *>(mSources[lIndex]);
        if (lSource == nullptr)
        {
            continue;
        }
        std::unique_ptr<buffer::GenDCManager> &lManager = mGenDCManagers[lIndex];
        if (!lManager)
        {
            lManager.reset(new buffer::GenDCManager());
        }
        lManager->ResetContainer(); // each start lays out the container anew
        Guarded("AssignGenDCManager", [&] { lSource->AssignGenDCManager(lManager.get()); });
        Guarded("SetupGenDCContainer", [&] { lSource->SetupGenDCContainer(); });
        bool lMode = false;
        Guarded("GetGenDCStreamingMode", [&] { lMode = lSource->GetGenDCStreamingMode(); });
        TnRegisterSpec lSpec;
        lSpec.mName = "GenDCStreamingMode" + std::to_string(lIndex);
        lSpec.mAddress = kSourceRegisters + static_cast<uint32_t>(lIndex) * kSourceRegisterStride +
                         kGenDCStreamingModeOffset;
        lSpec.mSink = this;
        TnRegister *lRegister = nullptr;
        if (mMap->Add(lSpec, &lRegister).IsOK())
        {
            lRegister->PokeInt(lMode ? 1u : 0u);
            mRegisters.mSources[lIndex].mGenDCStreamingMode = lRegister;
        }
    }
}

bool TnSoftDevice::StreamsGenDC(size_t aIndex) const
{
    const TnRegister *lMode =
        aIndex < mRegisters.mSources.size() ? mRegisters.mSources[aIndex].mGenDCStreamingMode : nullptr;
    return lMode != nullptr && lMode->PeekInt() != 0;
}

uint32_t TnSoftDevice::AskPayloadSize(size_t aIndex)
{
    if (StreamsGenDC(aIndex))
    {
        return static_cast<uint32_t>(std::min<uint64_t>(mGenDCManagers[aIndex]->GetTotalPayloadSize(), 0xFFFFFFFFu));
    }
    uint32_t lSize = 0;
    ITnSWStreamingChannelSource *lSource = mSources[aIndex];
    Guarded(mSourceGate, lSource, "GetPayloadSize", [&] { lSize = lSource->GetPayloadSize(); });
    return lSize;
}

void TnSoftDevice::AskSources()
{
    mConfig.mSources.clear();
    for (size_t lIndex = 0; lIndex < mSources.size(); ++lIndex)
    {
        ITnSWStreamingChannelSource *lSource = mSources[lIndex];
        TnSourceDescription lAnswer;
        Guarded("GetWidth", [&] { lAnswer.mWidth = lSource->GetWidth(); });
        Guarded("GetHeight", [&] { lAnswer.mHeight = lSource->GetHeight(); });
        Guarded("GetOffsetX", [&] { lAnswer.mOffsetX = lSource->GetOffsetX(); });
        Guarded("GetOffsetY", [&] { lAnswer.mOffsetY = lSource->GetOffsetY(); });
        Guarded("GetPixelType", [&] { lAnswer.mPixelType = lSource->GetPixelType(); });
        Guarded("GetWidthInfo", [&] { lSource->GetWidthInfo(lAnswer.mWidthMin, lAnswer.mWidthMax, lAnswer.mWidthInc); });
        Guarded("GetHeightInfo",
                [&] { lSource->GetHeightInfo(lAnswer.mHeightMin, lAnswer.mHeightMax, lAnswer.mHeightInc); });
        Guarded("GetChunksSize", [&] { lAnswer.mChunksSize = lSource->GetChunksSize(); });
        lAnswer.mPayloadSize = AskPayloadSize(lIndex);
        Guarded("GetScanType", [&] { lAnswer.mScanType = lSource->GetScanType(); });
        Guarded("GetChunkModeActive", [&] { lAnswer.mChunkModeActive = lSource->GetChunkModeActive(); });
        // Nonsense kept out: limits in order, increments at least 1, the
        // current values inside.
        lAnswer.mWidthInc = std::max<uint32_t>(1, lAnswer.mWidthInc);
        lAnswer.mHeightInc = std::max<uint32_t>(1, lAnswer.mHeightInc);
        lAnswer.mWidthMin = std::max<uint32_t>(1, lAnswer.mWidthMin);
        lAnswer.mHeightMin = std::max<uint32_t>(1, lAnswer.mHeightMin);
        lAnswer.mWidthMax = std::max(lAnswer.mWidthMax, std::max(lAnswer.mWidthMin, lAnswer.mWidth));
        lAnswer.mHeightMax = std::max(lAnswer.mHeightMax, std::max(lAnswer.mHeightMin, lAnswer.mHeight));
        for (int lTypeIndex = 0; lTypeIndex < kMaxPixelTypes; ++lTypeIndex)
        {
            TnPixelType lType = TnPixelUndefined;
            const TnResult lResult = GuardedResult(
                "GetSupportedPixelType", [&] { return lSource->GetSupportedPixelType(lTypeIndex, lType); });
            if (!lResult.IsOK())
            {
                break;
            }
            if (std::find(lAnswer.mPixelTypes.begin(), lAnswer.mPixelTypes.end(), lType) == lAnswer.mPixelTypes.end())
            {
                lAnswer.mPixelTypes.push_back(lType);
            }
        }
        if (std::find(lAnswer.mPixelTypes.begin(), lAnswer.mPixelTypes.end(), lAnswer.mPixelType) ==
            lAnswer.mPixelTypes.end())
        {
            lAnswer.mPixelTypes.insert(lAnswer.mPixelTypes.begin(), lAnswer.mPixelType);
        }
        for (int lChunkIndex = 0; lChunkIndex < kMaxChunkTypes; ++lChunkIndex)
        {
            uint32_t lId = 0;
            TnString lName;
            const TnResult lResult = GuardedResult(
                "GetSupportedChunk", [&] { return lSource->GetSupportedChunk(lChunkIndex, lId, lName); });
            if (!lResult.IsOK())
            {
                break;
            }
            lAnswer.mChunks.emplace_back(lId, tn::ToString(lName));
        }
        uint32_t lMax = 0;
        const TnResult lPacket =
            GuardedResult("GetGevSCPSPacketSizeInfo", [&] { return lSource->GetGevSCPSPacketSizeInfo(lMax); });
        if (lPacket.IsOK() && lMax >= gev::kGvspMinPacketSize && lMax <= 65535)
        {
            lAnswer.mPacketSizeMax = lMax;
        }
        mConfig.mSources.push_back(lAnswer);
    }
}

void TnSoftDevice::AllocateBuffers()
{
    mAllocated.assign(mSources.size(), std::vector<TnBuffer *>());
    for (size_t lIndex = 0; lIndex < mSources.size(); ++lIndex)
    {
        std::vector<TnBuffer *> &lBuffers = mAllocated[lIndex];
        while (lBuffers.size() < kMaxBuffersPerChannel)
        {
            TnBuffer *lBuffer = nullptr;
            const TnResult lResult = GuardedResult("AllocBuffer", [&] {
                lBuffer = mSources[lIndex]->AllocBuffer();
                return TnResult(TN_OK);
            });
            if (!lResult.IsOK() || lBuffer == nullptr)
            {
                break;
            }
            if (std::find(lBuffers.begin(), lBuffers.end(), lBuffer) != lBuffers.end())
            {
                LogWarning("AllocBuffer", "a source gave the same buffer twice; it is used once");
                continue;
            }
            lBuffers.push_back(lBuffer);
        }
    }
}

void TnSoftDevice::FreeBuffers()
{
    for (size_t lIndex = 0; lIndex < mAllocated.size() && lIndex < mSources.size(); ++lIndex)
    {
        for (TnBuffer *lBuffer : mAllocated[lIndex])
        {
            Guarded(mSourceGate, mSources[lIndex], "FreeBuffer", [&] { mSources[lIndex]->FreeBuffer(lBuffer); });
        }
    }
    mAllocated.clear();
}

void TnSoftDevice::UpdatePayloadSize(size_t aIndex)
{
    if (aIndex >= mRegisters.mSources.size() || aIndex >= mConfig.mSources.size())
    {
        return;
    }
    TnSourceRegisters &lR = mRegisters.mSources[aIndex];
    TnSourceDescription lSource = mConfig.mSources[aIndex];
    lSource.mWidth = lR.mWidth->PeekInt();
    lSource.mHeight = lR.mHeight->PeekInt();
    lSource.mOffsetX = lR.mOffsetX->PeekInt();
    lSource.mOffsetY = lR.mOffsetY->PeekInt();
    lSource.mPixelType = static_cast<TnPixelType>(lR.mPixelFormat->PeekInt());
    lSource.mChunkModeActive = lR.mChunkModeActive->PeekInt() != 0;
    ITnSWStreamingChannelSource *lSourceObject = mSources[aIndex];
    lSource.mPayloadSize = AskPayloadSize(aIndex);
    Guarded(mSourceGate, lSourceObject, "GetChunksSize", [&] { lSource.mChunksSize = lSourceObject->GetChunksSize(); });
    lR.mPayloadSize->PokeInt(ComputePayloadSize(lSource));
    if (aIndex < mChannels.size())
    {
        TnChannelGeometry lGeometry;
        lGeometry.mWidth = lSource.mWidth;
        lGeometry.mHeight = lSource.mHeight;
        lGeometry.mOffsetX = lSource.mOffsetX;
        lGeometry.mOffsetY = lSource.mOffsetY;
        lGeometry.mPixelType = lSource.mPixelType;
        mChannels[aIndex]->SetGeometry(lGeometry);
    }
}

void TnSoftDevice::StartRtpChannels()
{
    for (size_t lIndex = 0; lIndex < mChannels.size() && lIndex < mRegisters.mSources.size(); ++lIndex)
    {
        const TnRegister *lProtocol = mRegisters.mSources[lIndex].mStreamProtocol;
        if (lProtocol != nullptr && lProtocol->PeekInt() == 1)
        {
            mChannels[lIndex]->SetRtp(true);
            mChannels[lIndex]->StartAcquisition();
        }
    }
}
} // namespace softdevice
} // namespace tn
