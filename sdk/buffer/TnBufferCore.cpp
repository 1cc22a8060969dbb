#include "TnBufferCore.h"

#include <new>
#include <utility>

#include "TnMultiPartContainer.h"

namespace tn
{
namespace buffer
{
namespace
{
constexpr uint32_t kTagSize = 8;
constexpr uint64_t kMaximumSize = 0xFFFFFFFFull;

bool CarriesChunks(TnPayloadType aPayloadType)
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

std::unique_ptr<uint8_t[]> AllocateZeroed(uint64_t aSize)
{
    if (aSize == 0 || aSize > kMaximumSize)
    {
        return nullptr;
    }
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size_t(aSize)]());
}

bool ComputeImageSize(const ImageGeometry &aGeometry, uint32_t &aSize)
{
    aSize = 0;
    const uint64_t bits = TnPixelTypeGetBitsPerPixel(aGeometry.mPixelType);
    if (bits == 0)
    {
        return false;
    }
    uint64_t size = 0;
    if (aGeometry.mPaddingX == 0)
    {
        // At most 2^32 * 2^32 * 255 / 8: the product is taken in two steps so
        // that it cannot wrap.
        const uint64_t pixels = uint64_t(aGeometry.mWidth) * aGeometry.mHeight;
        if (pixels > (kMaximumSize * 8 + 7) / bits)
        {
            return false;
        }
        size = (pixels * bits + 7) / 8;
    }
    else
    {
        const uint64_t line = (uint64_t(aGeometry.mWidth) * bits + 7) / 8 + aGeometry.mPaddingX;
        if (aGeometry.mHeight != 0 && line > kMaximumSize / aGeometry.mHeight)
        {
            return false;
        }
        size = line * aGeometry.mHeight;
    }
    size += aGeometry.mPaddingY;
    if (size > kMaximumSize)
    {
        return false;
    }
    aSize = uint32_t(size);
    return true;
}

bool ComputeEffectiveImageSize(const ImageGeometry &aGeometry, uint32_t &aSize)
{
    ImageGeometry bare = aGeometry;
    bare.mPaddingX = 0;
    bare.mPaddingY = 0;
    return ComputeImageSize(bare, aSize);
}

BufferCore::BufferCore(TnBuffer &aOwner, TnPayloadType aPayloadType) : mOwner(aOwner), mPayloadType(aPayloadType)
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

void BufferCore::ReplaceMain(uint8_t *aData, uint32_t aSize, MemoryKind aKind, std::unique_ptr<uint8_t[]> aOwned)
{
    LetGo();
    mOwnedData = std::move(aOwned);
    mData = aData;
    mSize = aData != nullptr ? aSize : 0;
    mMemory = aData != nullptr ? aKind : MemoryKind::None;
    // What a block left in the old memory is gone with it.
    mReceived = false;
    mRequiredSize = 0;
    mAcquiredSize = 0;
    mReceivedPayloadSize = 0;
    if (mContainer)
    {
        mContainer->OnMainMemoryChanged();
    }
    Rebind();
}

TnResult BufferCore::Alloc(uint64_t aSize)
{
    if (aSize == 0 || aSize > kMaximumSize)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    std::unique_ptr<uint8_t[]> memory = AllocateZeroed(aSize);
    if (!memory)
    {
        return TnResult(TN_NOT_ENOUGH_MEMORY);
    }
    uint8_t *data = memory.get();
    ReplaceMain(data, uint32_t(aSize), MemoryKind::Allocated, std::move(memory));
    return TnResult(TN_OK);
}

TnResult BufferCore::Attach(void *aAddress, uint64_t aLength)
{
    if (aAddress == nullptr || aLength == 0 || aLength > kMaximumSize)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    ReplaceMain(static_cast<uint8_t *>(aAddress), uint32_t(aLength), MemoryKind::Attached, nullptr);
    return TnResult(TN_OK);
}

uint8_t *BufferCore::Detach()
{
    if (mMemory != MemoryKind::Attached)
    {
        return nullptr;
    }
    uint8_t *address = mData;
    ReplaceMain(nullptr, 0, MemoryKind::None, nullptr);
    return address;
}

void BufferCore::Free()
{
    LetGo();
    mChunkMemory.reset();
    mChunkMemorySize = 0;
    ReplaceMain(nullptr, 0, MemoryKind::None, nullptr);
}

TnResult BufferCore::AllocChunk(uint64_t aSize)
{
    // The chunk memory starts with the main payload's tag.
    if (aSize == 0 || aSize + kTagSize > kMaximumSize)
    {
        return TnResult(TN_INVALID_PARAMETER);
    }
    std::unique_ptr<uint8_t[]> memory = AllocateZeroed(aSize + kTagSize);
    if (!memory)
    {
        return TnResult(TN_NOT_ENOUGH_MEMORY);
    }
    LetGo();
    mChunkMemory = std::move(memory);
    mChunkMemorySize = uint32_t(aSize + kTagSize);
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

TnResult BufferCore::Reset(TnPayloadType aPayloadType)
{
    mPayloadType = aPayloadType;
    ClearBlock();
    mGeometry = ImageGeometry();
    mRawPayloadLength = 0;
    mChunkPayloadLength = 0;
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
    uint32_t size = 0;
    ComputeImageSize(mGeometry, size);
    return size;
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
    const bool hasMain = HasMainPart();
    const uint32_t mainLength = GetMainLength();
    if (mChunkMemory)
    {
        mChunks.Bind(mChunkMemory.get(), mChunkMemorySize, hasMain, mainLength);
    }
    else if (mData != nullptr && mSize >= mainLength)
    {
        mChunks.Bind(mData + mainLength, mSize - mainLength, hasMain, mainLength);
    }
    else
    {
        mChunks.Bind(nullptr, 0, hasMain, mainLength);
    }
}

ChunkArea &BufferCore::GetChunks()
{
    if (mPayloadType == TnPayloadTypeMultiPart && mContainer)
    {
        ChunkArea *chunks = mContainer->FindChunks();
        if (chunks != nullptr)
        {
            return *chunks;
        }
    }
    return mChunks;
}

const ChunkArea &BufferCore::GetChunks() const
{
    if (mPayloadType == TnPayloadTypeMultiPart && mContainer)
    {
        const ChunkArea *chunks = mContainer->FindChunks();
        if (chunks != nullptr)
        {
            return *chunks;
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
    const uint32_t mainLength = HasMainPart() ? GetMainLength() : 0;
    return mainLength < mSize ? mainLength : mSize;
}

uint32_t BufferCore::GetBlockCapacity() const
{
    if (!mChunkMemory || !CarriesChunks(mPayloadType))
    {
        return mSize;
    }
    const uint64_t capacity = uint64_t(GetMainLimit()) + mChunkMemorySize;
    return capacity > kMaximumSize ? uint32_t(kMaximumSize) : uint32_t(capacity);
}

TnResult BufferCore::BeginBlock(TnPayloadType aPayloadType)
{
    TnResult result = Reset(aPayloadType);
    mReceived = true;
    return result;
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
    const bool hasMain = HasMainPart();
    if (mChunkMemory)
    {
        // The block went on into the chunk memory after the main payload.
        const uint32_t mainLimit = GetMainLimit();
        const uint32_t length = aEnd.mAcquiredSize > mainLimit ? aEnd.mAcquiredSize - mainLimit : 0;
        mChunks.SetReceived(mChunkMemory.get(), length, hasMain ? ChunkWalk::MainTag : ChunkWalk::Plain,
                            aEnd.mChunksPresent && length != 0, aEnd.mLittleEndianTags);
    }
    else
    {
        mChunks.SetReceived(mData, aEnd.mAcquiredSize, hasMain ? ChunkWalk::MainData : ChunkWalk::Plain,
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
    uint64_t size = 0;
    switch (mPayloadType)
    {
    case TnPayloadTypeImage:
    case TnPayloadTypeRawData:
    case TnPayloadTypeChunkData:
    case TnPayloadTypeExtendedChunkData:
        size = uint64_t(GetMainLength()) + mChunks.GetWrittenSectionSize();
        break;
    case TnPayloadTypeMultiPart:
        size = mContainer ? mContainer->GetPayloadSize() : 0;
        break;
    default:
        size = mSize;
        break;
    }
    return size > kMaximumSize ? uint32_t(kMaximumSize) : uint32_t(size);
}

PayloadSegments BufferCore::GetPayloadSegments() const
{
    PayloadSegments segments;
    if (mPayloadType == TnPayloadTypeMultiPart || mData == nullptr)
    {
        return segments;
    }
    if (!CarriesChunks(mPayloadType))
    {
        const uint32_t size = GetPayloadSize();
        segments.mMain = mData;
        segments.mMainLength = size < mSize ? size : mSize;
        return segments;
    }
    const uint32_t mainLength = GetMainLength();
    const uint32_t section = mChunks.GetWrittenSectionSize();
    segments.mMain = mData;
    if (mChunkMemory)
    {
        segments.mMainLength = mainLength < mSize ? mainLength : mSize;
        if (section != 0)
        {
            segments.mChunks = mChunkMemory.get();
            segments.mChunksLength = section;
        }
    }
    else
    {
        // Chunks written here lie within the memory after the main payload.
        segments.mMainLength = mainLength + section;
    }
    return segments;
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
} // namespace buffer
} // namespace tn
