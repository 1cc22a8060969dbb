#include "TnStreamingChannelSourceDefault.h"

#include <algorithm>

#include "TnBuffer.h"
#include "TnCheckedSize.h"
#include "TnImage.h"
#include "TnMemory.h"
#include "TnSoftDeviceLog.h"

namespace
{
constexpr uint32_t kLimit = 16384;
constexpr uint32_t kChunkId = 0x4001;
constexpr uint32_t kChunkData = 64;
constexpr uint32_t kChunkRoom = kChunkData + 8; // the chunk and its tag
constexpr size_t kMaxBuffers = 64;

/// The bytes of a buffer of the geometry: the image, its tag and the room for
/// the chunks (kChunkRoom); 0 when it has no image or a buffer cannot hold it.
uint64_t BufferBytes(uint32_t aWidth, uint32_t aHeight, TnPixelType aPixelType)
{
    const tn::CheckedSize lImage =
        (tn::CheckedSize(aWidth) * aHeight * TnPixelTypeGetBitsPerPixel(aPixelType)).DividedUp(8);
    uint64_t lBytes = 0;
    return !lImage.FitsIn(0) && (lImage + 8u + kChunkRoom).Get(lBytes, tn::kMaximumBufferSize) ? lBytes : 0;
}
} // namespace

using tn::Failure;

TnStreamingChannelSourceDefault::TnStreamingChannelSourceDefault(uint32_t aWidth, uint32_t aHeight,
                                                                 TnPixelType aPixelType, size_t aBufferCount)
    : mWidth(aWidth), mHeight(aHeight), mMaxWidth(std::max(aWidth, kLimit)), mMaxHeight(std::max(aHeight, kLimit)),
      mPixelType(aPixelType), mBufferCount(std::min(aBufferCount, kMaxBuffers)), mAllocated(0),
      mChunkModeActive(false), mChunkEnabled(false)
{
    mPixelTypes = {aPixelType};
    for (TnPixelType lType : {TnPixelMono8, TnPixelMono10, TnPixelMono12, TnPixelMono16, TnPixelRGB8, TnPixelBGR8,
                              TnPixelBayerRG8, TnPixelYUV422_8})
    {
        if (lType != aPixelType)
        {
            mPixelTypes.push_back(lType);
        }
    }
}

TnStreamingChannelSourceDefault::~TnStreamingChannelSourceDefault()
{
    // The device calls the source no more before its parts go.
    TnSoftDeviceRelease(this);
    // Buffers the device never gave back (a device destroyed without Stop,
    // or one stuck) stay allocated rather than freed under its feet.
}

uint32_t TnStreamingChannelSourceDefault::GetWidth() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mWidth;
}

uint32_t TnStreamingChannelSourceDefault::GetHeight() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mHeight;
}

uint32_t TnStreamingChannelSourceDefault::GetOffsetX() const { return 0; }
uint32_t TnStreamingChannelSourceDefault::GetOffsetY() const { return 0; }

TnPixelType TnStreamingChannelSourceDefault::GetPixelType() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mPixelType;
}

void TnStreamingChannelSourceDefault::GetWidthInfo(uint32_t &aMin, uint32_t &aMax, uint32_t &aInc) const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    aMin = 1;
    aMax = mMaxWidth;
    aInc = 1;
}

void TnStreamingChannelSourceDefault::GetHeightInfo(uint32_t &aMin, uint32_t &aMax, uint32_t &aInc) const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    aMin = 1;
    aMax = mMaxHeight;
    aInc = 1;
}

uint32_t TnStreamingChannelSourceDefault::GetChunksSize() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mChunkModeActive && mChunkEnabled ? kChunkRoom : 0;
}

uint32_t TnStreamingChannelSourceDefault::GetPayloadSize() const
{
    return 0; // the device computes it
}

TnScanType TnStreamingChannelSourceDefault::GetScanType() const { return TnScanTypeArea; }

bool TnStreamingChannelSourceDefault::GetChunkModeActive() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mChunkModeActive;
}

bool TnStreamingChannelSourceDefault::GetChunkEnable(uint32_t aChunkID) const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return aChunkID == kChunkId && mChunkEnabled;
}

TnResult TnStreamingChannelSourceDefault::GetSupportedPixelType(int aIndex, TnPixelType &aPixelType) const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aIndex < 0 || static_cast<size_t>(aIndex) >= mPixelTypes.size())
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    aPixelType = mPixelTypes[aIndex];
    return TnResult(TN_OK);
}

TnResult TnStreamingChannelSourceDefault::GetSupportedChunk(int aIndex, uint32_t &aChunkID, TnString &aChunkName) const
{
    if (aIndex != 0)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    aChunkID = kChunkId;
    aChunkName = TnString("ChunkSample");
    return TnResult(TN_OK);
}

TnResult TnStreamingChannelSourceDefault::SetWidth(uint32_t aWidth)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aWidth == 0 || aWidth > mMaxWidth)
    {
        return Failure(TN_INVALID_PARAMETER, "the width is out of range");
    }
    mWidth = aWidth;
    return TnResult(TN_OK);
}

TnResult TnStreamingChannelSourceDefault::SetHeight(uint32_t aHeight)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aHeight == 0 || aHeight > mMaxHeight)
    {
        return Failure(TN_INVALID_PARAMETER, "the height is out of range");
    }
    mHeight = aHeight;
    return TnResult(TN_OK);
}

TnResult TnStreamingChannelSourceDefault::SetOffsetX(uint32_t aOffsetX)
{
    return aOffsetX == 0 ? TnResult(TN_OK) : Failure(TN_NOT_SUPPORTED, "the image has no offsets");
}

TnResult TnStreamingChannelSourceDefault::SetOffsetY(uint32_t aOffsetY)
{
    return aOffsetY == 0 ? TnResult(TN_OK) : Failure(TN_NOT_SUPPORTED, "the image has no offsets");
}

TnResult TnStreamingChannelSourceDefault::SetPixelType(TnPixelType aPixelType)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (std::find(mPixelTypes.begin(), mPixelTypes.end(), aPixelType) == mPixelTypes.end())
    {
        return Failure(TN_NOT_SUPPORTED, "the pixel type is not supported");
    }
    mPixelType = aPixelType;
    return TnResult(TN_OK);
}

TnResult TnStreamingChannelSourceDefault::SetChunkModeActive(bool aEnabled)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mChunkModeActive = aEnabled;
    return TnResult(TN_OK);
}

TnResult TnStreamingChannelSourceDefault::SetChunkEnable(uint32_t aChunkID, bool aEnabled)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aChunkID != kChunkId)
    {
        return Failure(TN_INVALID_PARAMETER, "no such chunk");
    }
    mChunkEnabled = aEnabled;
    return TnResult(TN_OK);
}

void TnStreamingChannelSourceDefault::OnOpen(const TnString &, uint16_t) {}
void TnStreamingChannelSourceDefault::OnClose() {}
void TnStreamingChannelSourceDefault::OnStreamingStart() {}
void TnStreamingChannelSourceDefault::OnStreamingStop() {}
void TnStreamingChannelSourceDefault::CreateRegisters(ITnRegisterMap *, ITnRegisterFactory *) {}
void TnStreamingChannelSourceDefault::CreateGenApiFeatures(ITnRegisterMap *, ITnGenApiFactory *) {}

bool TnStreamingChannelSourceDefault::IsPayloadTypeSupported(TnPayloadType aPayloadType)
{
    return aPayloadType == TnPayloadTypeImage;
}

void TnStreamingChannelSourceDefault::SetMultiPartAllowed(bool) {}
void TnStreamingChannelSourceDefault::SetLargeLeaderTrailerEnabled(bool, uint32_t) {}

TnResult TnStreamingChannelSourceDefault::SetTestPayloadFormatMode(TnPayloadType aPayloadType)
{
    return aPayloadType == TnPayloadTypeNone || aPayloadType == TnPayloadTypeImage
               ? TnResult(TN_OK)
               : Failure(TN_NOT_SUPPORTED, "only image payloads");
}

TnBuffer *TnStreamingChannelSourceDefault::AllocBuffer()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mAllocated >= mBufferCount)
    {
        return nullptr;
    }
    // Each buffer holds the image as it is now, with room for the chunks;
    // no more are handed out than the machine's memory holds.
    const uint64_t lBytes = BufferBytes(mWidth, mHeight, mPixelType);
    if (lBytes == 0 || !tn::MemoryFits(mAllocated + 1, lBytes))
    {
        return nullptr;
    }
    TnBuffer *lBuffer = new TnBuffer(TnPayloadTypeImage);
    if (!lBuffer->GetImage()->Alloc(mWidth, mHeight, mPixelType, 0, 0, kChunkRoom).IsOK())
    {
        delete lBuffer;
        return nullptr;
    }
    ++mAllocated;
    mBuffers.push_back(lBuffer);
    return lBuffer;
}

void TnStreamingChannelSourceDefault::FreeBuffer(TnBuffer *aBuffer)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    const auto lFound = std::find(mBuffers.begin(), mBuffers.end(), aBuffer);
    if (lFound == mBuffers.end())
    {
        return; // not one of ours: left alone
    }
    mBuffers.erase(lFound);
    --mAllocated;
    delete aBuffer;
}

TnResult TnStreamingChannelSourceDefault::GetTxNumBuffersToUse(uint32_t &aNumBuffers)
{
    aNumBuffers = 0;
    return TnResult(TN_NOT_IMPLEMENTED);
}

void TnStreamingChannelSourceDefault::AbortQueuedBuffers() {}
