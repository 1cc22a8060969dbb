#include "TnBufferCore.h"

#include <string.h>

#include <new>
#include <utility>

#include "TnCheckedSize.h"
#include "TnMultiPartContainer.h"

namespace tn
{
namespace buffer
{
namespace
{
constexpr uint32_t kTagSize = 8;
constexpr uint64_t kMaximumSize = kMaximumBufferSize;

bool CarriesChunks(PayloadCode aPayloadType)
{
    switch (aPayloadType)
    {
    case TnPayloadTypeImage:
    case TnPayloadTypeRawData:
    case TnPayloadTypeChunkData:
    case TnPayloadTypeExtendedChunkData:
        return true;
    default:
        return false;
    }
}
} // namespace

/// The bytes of an H.264 block.
class H264AccessUnit final : public ITnH264AccessUnit
{
public:
    explicit H264AccessUnit(const BufferCore &aCore) : mCore(aCore) {}
    ~H264AccessUnit() override = default;

    const uint8_t *GetData() const override { return mCore.GetData(); }
    uint32_t GetDataSize() const override
    {
        if (mCore.GetData() == nullptr)
        {
            return 0;
        }
        return mCore.IsReceived() ? mCore.mAcquiredSize : mCore.GetSize();
    }

private:
    const BufferCore &mCore;
};

bool ComputeImageSize(const ImageGeometry &aGeometry, uint32_t &aSize)
{
    aSize = 0;
    const uint64_t lBits = TnPixelTypeGetBitsPerPixel(aGeometry.mPixelType);
    if (lBits == 0)
    {
        return false;
    }
    CheckedSize lSize;
    if (aGeometry.mPaddingX == 0)
    {
        lSize = (CheckedSize(aGeometry.mWidth) * aGeometry.mHeight * lBits).DividedUp(8);
    }
    else
    {
        // Each line ends on a whole byte, then its padding.
        lSize = ((CheckedSize(aGeometry.mWidth) * lBits).DividedUp(8) + aGeometry.mPaddingX) * aGeometry.mHeight;
    }
    lSize += aGeometry.mPaddingY;
    return lSize.Get(aSize, kMaximumSize);
}

bool ComputeEffectiveImageSize(const ImageGeometry &aGeometry, uint32_t &aSize)
{
    ImageGeometry lBare = aGeometry;
    lBare.mPaddingX = 0;
    lBare.mPaddingY = 0;
    return ComputeImageSize(lBare, aSize);
}

BufferCore::BufferCore(TnBuffer &aOwner, PayloadCode aPayloadType) : mOwner(aOwner), mPayloadType(aPayloadType)
{
    Rebind();
}

BufferCore::~BufferCore()
{
    delete mImage;
    delete mRawData;
    delete mChunkData;
    delete mCompressed;
}

void BufferCore::ReplaceMain(uint8_t *aData, uint32_t aSize, MemoryKind aKind, ZeroedMemory aOwned,
                             BlockHold aAttached)
{
    LetGo();
    mOwnedData = std::move(aOwned);
    mAttachedHold = std::move(aAttached);
    mPrepared.store(false);
    mData = aData;
    mSize = aData != nullptr ? aSize : 0;
    mMemory = aData != nullptr ? aKind : MemoryKind::None;
    // What a block left in the old memory is gone with it.
    mReceived = false;
    mRequiredSize = 0;
    mAcquiredSize = 0;
    mReceivedPayloadSize = 0;
    mGenDCLength = 0;
    if (mContainer)
    {
        mContainer->OnMainMemoryChanged();
    }
    Rebind();
}

bool BufferCore::PrepareForWriting(uint64_t aLength)
{
    uint8_t *const lData = mData;
    const uint32_t lSize = mSize;
    if (lData == nullptr || lSize == 0 || mPrepared.exchange(true))
    {
        return false;
    }
    PopulateForWriting(lData, aLength < lSize ? aLength : lSize);
    return true;
}

TnResult BufferCore::Alloc(uint64_t aSize)
{
    if (aSize == 0 || aSize > kMaximumSize)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("a buffer holds 1 to 4294967295 bytes"));
    }
    ZeroedMemory lMemory = AllocateZeroed(aSize);
    if (!lMemory)
    {
        return NotEnoughMemory("the buffer's memory", 1, aSize);
    }
    uint8_t *lData = lMemory.get();
    ReplaceMain(lData, uint32_t(aSize), MemoryKind::Allocated, std::move(lMemory));
    return TnResult(TN_OK);
}

TnResult BufferCore::Attach(void *aAddress, uint64_t aLength)
{
    if (aAddress == nullptr || aLength == 0 || aLength > kMaximumSize)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no memory to attach, or more than a buffer holds"));
    }
    // Memory a program attached through a module is a block: it stays while
    // attached, whatever the program does with its own names for it.
    ReplaceMain(static_cast<uint8_t *>(aAddress), uint32_t(aLength), MemoryKind::Attached, ZeroedMemory(),
                HoldBlockAt(aAddress, size_t(aLength)));
    return TnResult(TN_OK);
}

uint8_t *BufferCore::Detach()
{
    if (mMemory != MemoryKind::Attached)
    {
        return nullptr;
    }
    uint8_t *lAddress = mData;
    ReplaceMain(nullptr, 0, MemoryKind::None, ZeroedMemory());
    return lAddress;
}

void BufferCore::Free()
{
    LetGo();
    mChunkMemory.reset();
    mChunkMemorySize = 0;
    ReplaceMain(nullptr, 0, MemoryKind::None, ZeroedMemory());
}

TnResult BufferCore::AllocChunk(uint64_t aSize)
{
    // The chunk memory starts with the main payload's tag.
    uint32_t lSize = 0;
    if (aSize == 0 || !(CheckedSize(aSize) + kTagSize).Get(lSize, kMaximumSize))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("chunks and their tag do not fit a buffer"));
    }
    ZeroedMemory lMemory = AllocateZeroed(lSize);
    if (!lMemory)
    {
        return NotEnoughMemory("the chunk memory", 1, lSize);
    }
    LetGo();
    mChunkMemory = std::move(lMemory);
    mChunkMemorySize = lSize;
    mReceived = false;
    Rebind();
    return TnResult(TN_OK);
}

void BufferCore::FreeChunk()
{
    if (!mChunkMemory)
    {
        return;
    }
    LetGo();
    mChunkMemory.reset();
    mChunkMemorySize = 0;
    mReceived = false;
    Rebind();
}

void BufferCore::ClearBlock()
{
    mBlockID = 0;
    mTimestamp = 0;
    mReceptionTime = 0;
    mDuration = 0;
    mExtendedID = false;
    mLargeLeaderTrailer = false;
    mHeaderValid = false;
    mTrailerValid = false;
    mOperationResult = TnResult(TN_OK);
    mRequiredSize = 0;
    mAcquiredSize = 0;
    mReceivedPayloadSize = 0;
    mStatistics = PacketStatistics();
    mImageStatus = ImageStatus();
    mMissingPacketGroups.clear();
    mReceived = false;
}

TnResult BufferCore::Reset(PayloadCode aPayloadType)
{
    mPayloadType = aPayloadType;
    ClearBlock();
    mGeometry = ImageGeometry();
    mRawPayloadLength = 0;
    mChunkPayloadLength = 0;
    mGenDCLength = 0;
    mChunks.SetLayoutID(0);
    if (mContainer)
    {
        mContainer->Reset();
    }
    Rebind();
    return TnResult(TN_OK);
}

void BufferCore::SetGeometry(const ImageGeometry &aGeometry)
{
    mGeometry = aGeometry;
    Rebind();
}

void BufferCore::SetOffsets(uint32_t aOffsetX, uint32_t aOffsetY)
{
    mGeometry.mOffsetX = aOffsetX;
    mGeometry.mOffsetY = aOffsetY;
}

uint32_t BufferCore::GetImageSize() const
{
    uint32_t lSize = 0;
    ComputeImageSize(mGeometry, lSize);
    return lSize;
}

void BufferCore::SetRawPayloadLength(uint64_t aLength)
{
    mRawPayloadLength = aLength;
    Rebind();
}

uint64_t BufferCore::GetChunkPayloadLength() const
{
    return mReceived ? mChunkPayloadLength : mChunks.GetDataSize();
}

bool BufferCore::HasMainPart() const
{
    return mPayloadType == TnPayloadTypeImage || mPayloadType == TnPayloadTypeRawData;
}

uint32_t BufferCore::GetMainLength() const
{
    switch (mPayloadType)
    {
    case TnPayloadTypeImage:
        return GetImageSize();
    case TnPayloadTypeRawData:
        return mRawPayloadLength > kMaximumSize ? uint32_t(kMaximumSize) : uint32_t(mRawPayloadLength);
    default:
        return 0;
    }
}

void BufferCore::Rebind()
{
    if (!CarriesChunks(mPayloadType))
    {
        mChunks.Bind(nullptr, 0, false, 0, false);
        return;
    }
    const bool lHasMain = HasMainPart();
    const uint32_t lMainLength = GetMainLength();
    if (mChunkMemory)
    {
        mChunks.Bind(mChunkMemory.get(), mChunkMemorySize, lHasMain, lMainLength);
    }
    else if (mData != nullptr && mSize >= lMainLength)
    {
        mChunks.Bind(mData + lMainLength, mSize - lMainLength, lHasMain, lMainLength);
    }
    else
    {
        mChunks.Bind(nullptr, 0, lHasMain, lMainLength);
    }
}

ChunkArea &BufferCore::GetChunks()
{
    if (mPayloadType == TnPayloadTypeMultiPart && mContainer)
    {
        ChunkArea *lChunks = mContainer->FindChunks();
        if (lChunks != nullptr)
        {
            return *lChunks;
        }
    }
    return mChunks;
}

const ChunkArea &BufferCore::GetChunks() const
{
    if (mPayloadType == TnPayloadTypeMultiPart && mContainer)
    {
        const ChunkArea *lChunks = mContainer->FindChunks();
        if (lChunks != nullptr)
        {
            return *lChunks;
        }
    }
    return mChunks;
}

uint32_t BufferCore::GetMainLimit() const
{
    if (!mChunkMemory || !CarriesChunks(mPayloadType))
    {
        return mSize;
    }
    const uint32_t lMainLength = HasMainPart() ? GetMainLength() : 0;
    return lMainLength < mSize ? lMainLength : mSize;
}

uint32_t BufferCore::GetBlockCapacity() const
{
    if (!mChunkMemory || !CarriesChunks(mPayloadType))
    {
        return mSize;
    }
    const uint64_t lCapacity = uint64_t(GetMainLimit()) + mChunkMemorySize;
    return lCapacity > kMaximumSize ? uint32_t(kMaximumSize) : uint32_t(lCapacity);
}

TnResult BufferCore::BeginBlock(PayloadCode aPayloadType)
{
    TnResult lResult = Reset(aPayloadType);
    mReceived = true;
    return lResult;
}

TnResult BufferCore::EndBlock(const BlockEnd &aEnd)
{
    if (aEnd.mAcquiredSize > GetBlockCapacity())
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("acquired size beyond the buffer's memory"));
    }
    mReceived = true;
    mOperationResult = aEnd.mOperationResult;
    mAcquiredSize = aEnd.mAcquiredSize;
    mRequiredSize = aEnd.mRequiredSize;
    mReceivedPayloadSize = aEnd.mPayloadSize;
    mHeaderValid = aEnd.mHeaderValid;
    mTrailerValid = aEnd.mTrailerValid;
    mChunks.SetLayoutID(aEnd.mChunkLayoutID);

    if (!CarriesChunks(mPayloadType))
    {
        return TnResult(TN_OK);
    }
    const bool lHasMain = HasMainPart();
    if (mChunkMemory)
    {
        // The block went on into the chunk memory after the main payload.
        const uint32_t lMainLimit = GetMainLimit();
        const uint32_t lLength = aEnd.mAcquiredSize > lMainLimit ? aEnd.mAcquiredSize - lMainLimit : 0;
        mChunks.SetReceived(mChunkMemory.get(), lLength, lHasMain ? ChunkWalk::MainTag : ChunkWalk::Plain,
                            aEnd.mChunksPresent && lLength != 0, aEnd.mLittleEndianTags);
    }
    else
    {
        mChunks.SetReceived(mData, aEnd.mAcquiredSize, lHasMain ? ChunkWalk::MainData : ChunkWalk::Plain,
                            aEnd.mChunksPresent, aEnd.mLittleEndianTags);
    }
    return TnResult(TN_OK);
}

uint32_t BufferCore::GetPayloadSize() const
{
    if (mReceived)
    {
        return mReceivedPayloadSize;
    }
    uint64_t lSize = 0;
    switch (mPayloadType)
    {
    case TnPayloadTypeImage:
    case TnPayloadTypeRawData:
    case TnPayloadTypeChunkData:
    case TnPayloadTypeExtendedChunkData:
        lSize = uint64_t(GetMainLength()) + mChunks.GetWrittenSectionSize();
        break;
    case TnPayloadTypeMultiPart:
        lSize = mContainer ? mContainer->GetPayloadSize() : 0;
        break;
    case TnPayloadTypeGenDC:
        lSize = mGenDCLength != 0 ? mGenDCLength : mSize;
        break;
    default:
        lSize = mSize;
        break;
    }
    return lSize > kMaximumSize ? uint32_t(kMaximumSize) : uint32_t(lSize);
}

PayloadSegments BufferCore::GetPayloadSegments() const
{
    PayloadSegments lSegments;
    if (mPayloadType == TnPayloadTypeMultiPart || mData == nullptr)
    {
        return lSegments;
    }
    if (!CarriesChunks(mPayloadType))
    {
        const uint32_t lSize = GetPayloadSize();
        lSegments.mMain = mData;
        lSegments.mMainLength = lSize < mSize ? lSize : mSize;
        return lSegments;
    }
    const uint32_t lMainLength = GetMainLength();
    const uint32_t lSection = mChunks.GetWrittenSectionSize();
    lSegments.mMain = mData;
    if (mChunkMemory)
    {
        lSegments.mMainLength = lMainLength < mSize ? lMainLength : mSize;
        if (lSection != 0)
        {
            lSegments.mChunks = mChunkMemory.get();
            lSegments.mChunksLength = lSection;
        }
    }
    else
    {
        // Chunks written here lie within the memory after the main payload.
        lSegments.mMainLength = lMainLength + lSection;
    }
    return lSegments;
}

TnImage *BufferCore::GetImage()
{
    if (mImage == nullptr)
    {
        mImage = new (std::nothrow) TnImage(*this);
    }
    return mImage;
}

TnRawData *BufferCore::GetRawData()
{
    if (mRawData == nullptr)
    {
        mRawData = new (std::nothrow) TnRawData(*this);
    }
    return mRawData;
}

TnChunkData *BufferCore::GetChunkData()
{
    if (mChunkData == nullptr)
    {
        mChunkData = NewChunkData(*this);
    }
    return mChunkData;
}

MultiPartContainer *BufferCore::GetContainer()
{
    if (!mContainer)
    {
        mContainer.reset(new (std::nothrow) MultiPartContainer(*this));
    }
    return mContainer.get();
}

ITnH264AccessUnit *BufferCore::GetH264AccessUnit()
{
    if (!mH264)
    {
        mH264.reset(new (std::nothrow) H264AccessUnit(*this));
    }
    return mH264.get();
}

TnVexmoorCompressed *BufferCore::GetCompressed()
{
    if (mCompressed == nullptr)
    {
        mCompressed = new (std::nothrow) TnVexmoorCompressed(*this);
    }
    return mCompressed;
}
ITnGenericDataContainer *BufferCore::GetGenDC()
{
    if (mPayloadType != TnPayloadTypeGenDC || mData == nullptr)
    {
        return nullptr;
    }
    if (!mGenDC)
    {
        mGenDC.reset(new (std::nothrow) GenDCContainer(*this));
    }
    return mGenDC.get();
}

GenDCBytes BufferCore::GetBytes() const
{
    GenDCBytes lBytes;
    if (mPayloadType != TnPayloadTypeGenDC || mData == nullptr)
    {
        return lBytes;
    }
    uint64_t lLength = mSize;
    if (mReceived)
    {
        lLength = mReceivedPayloadSize != 0 ? mReceivedPayloadSize : mAcquiredSize;
    }
    else if (mGenDCLength != 0)
    {
        lLength = mGenDCLength;
    }
    lBytes.mData = mData;
    lBytes.mLength = lLength < mSize ? lLength : mSize;
    lBytes.mAddressable = mSize;
    return lBytes;
}

uint64_t BufferCore::GetReceptionTime() const
{
    return mReceptionTime;
}

TnResult BufferCore::AttachGenDCManager(GenDCManager &aManager)
{
    if (mPayloadType != TnPayloadTypeGenDC)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the buffer is not of the GenDC payload type"));
    }
    const uint64_t lTotal = aManager.GetTotalPayloadSize();
    if (lTotal > kMaximumSize)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the container is larger than a buffer can be"));
    }
    if (lTotal > mSize)
    {
        if (mMemory == MemoryKind::Attached)
        {
            return TnResult(TN_BUFFER_TOO_SMALL, TnString("the attached memory is smaller than the container"));
        }
        const TnResult lAllocated = Alloc(lTotal);
        if (!lAllocated.IsOK())
        {
            return lAllocated;
        }
    }
    uint64_t lWritten = 0;
    const TnResult lResult = aManager.WriteContainer(mData, mSize, lWritten);
    mReceived = false;
    mGenDCLength = lResult.IsOK() ? lWritten : 0;
    return lResult;
}
} // namespace buffer
} // namespace tn
