#include "TnMultiPartContainer.h"

#include <new>
#include <utility>

ITnMultiPartSection::~ITnMultiPartSection() = default;

ITnMultiPartContainerReader::~ITnMultiPartContainerReader() = default;

ITnMultiPartContainerWriter::~ITnMultiPartContainerWriter() = default;

ITnMultiPartContainer::~ITnMultiPartContainer() = default;

namespace tn
{
namespace buffer
{
namespace
{
constexpr uint64_t kMaximumSize = 0xFFFFFFFFull;

TnResult Refuse(const char *aWhy)
{
    return TnResult(TN_INVALID_PARAMETER, TnString(aWhy));
}
} // namespace

bool IsImageDataType(TnMultiPartDataType aDataType)
{
    return aDataType >= TnMultiPart2DImage && aDataType <= TnMultiPartConfidenceMap;
}

bool IsJPEGDataType(TnMultiPartDataType aDataType)
{
    return aDataType == TnMultiPartJPEGImage || aDataType == TnMultiPartJPEG2000Image;
}

// Section views.

const uint8_t *SectionImage::GetDataPointer() const
{
    return mSection.GetDataPointer();
}

uint8_t *SectionImage::GetDataPointer()
{
    return mSection.GetDataPointer();
}

uint32_t SectionImage::GetImageSize() const
{
    uint32_t size = 0;
    ComputeImageSize(mSection.GetFinalGeometry(), size);
    return size;
}

uint32_t SectionImage::GetWidth() const
{
    return mSection.GetDefinition().mGeometry.mWidth;
}

uint32_t SectionImage::GetHeight() const
{
    return mSection.GetDefinition().mFinalHeight;
}

TnPixelType SectionImage::GetPixelType() const
{
    return mSection.GetDefinition().mGeometry.mPixelType;
}

uint32_t SectionImage::GetOffsetX() const
{
    return mSection.GetDefinition().mGeometry.mOffsetX;
}

uint32_t SectionImage::GetOffsetY() const
{
    return mSection.GetDefinition().mGeometry.mOffsetY;
}

uint16_t SectionImage::GetPaddingX() const
{
    return mSection.GetDefinition().mGeometry.mPaddingX;
}

uint16_t SectionImage::GetPaddingY() const
{
    return 0;
}

uint64_t SectionImage::GetBlockID() const
{
    return mSection.GetCore().mBlockID;
}

uint64_t SectionImage::GetTimestamp() const
{
    return mSection.GetCore().mTimestamp;
}

uint64_t SectionImage::GetReceptionTime() const
{
    return mSection.GetCore().mReceptionTime;
}

const uint8_t *SectionJPEG::GetDataPointer() const
{
    return mSection.GetDataPointer();
}

uint8_t *SectionJPEG::GetDataPointer()
{
    return mSection.GetDataPointer();
}

uint8_t SectionJPEG::GetFlag() const
{
    return mSection.GetDefinition().mJPEGFlag;
}

uint64_t SectionJPEG::GetTimestampTickFrequency() const
{
    return mSection.GetDefinition().mTimestampTickFrequency;
}

uint32_t SectionJPEG::GetDataFormat() const
{
    return mSection.GetDefinition().mDataFormat;
}

uint64_t SectionJPEG::GetDataSize() const
{
    return mSection.GetEffectiveSize();
}

void SectionChunkData::ResetChunks()
{
    mSection.ResetChunks();
}

ChunkArea &SectionChunkData::GetChunkArea() const
{
    return mSection.GetChunks();
}

// Sections.

MultiPartSection::MultiPartSection(BufferCore &aCore)
    : mCore(aCore), mImage(*this), mJPEG(*this), mChunkData(*this)
{
    BindChunks();
}

const uint8_t *MultiPartSection::GetDataPointer() const
{
    return mData;
}

uint8_t *MultiPartSection::GetDataPointer()
{
    return mData;
}

uint32_t MultiPartSection::GetSize() const
{
    if (mData == nullptr)
    {
        return 0;
    }
    if (mReceived)
    {
        return mReceivedSize;
    }
    uint32_t size = 0;
    GetRequiredSize(size);
    return size;
}

uint32_t MultiPartSection::GetEffectiveSize() const
{
    if (mData == nullptr)
    {
        return 0;
    }
    if (mReceived)
    {
        return mReceivedEffectiveSize;
    }
    uint32_t size = 0;
    if (IsImageDataType(mDefinition.mDataType))
    {
        ComputeImageSize(GetFinalGeometry(), size);
    }
    else if (mDefinition.mFinalLengthSet)
    {
        size = mDefinition.mFinalLength;
    }
    else if (mDefinition.mDataType == TnMultiPartChunkData)
    {
        size = mChunks.GetWrittenSectionSize();
    }
    else
    {
        size = mDefinition.mMaximumLength;
    }
    const uint32_t limit = GetSize();
    return size < limit ? size : limit;
}

TnMultiPartDataType MultiPartSection::GetDataType() const
{
    return mDefinition.mDataType;
}

ITnImage *MultiPartSection::GetImage()
{
    return IsImageDataType(mDefinition.mDataType) ? &mImage : nullptr;
}

ITnImageJPEG *MultiPartSection::GetJPEG()
{
    return IsJPEGDataType(mDefinition.mDataType) ? &mJPEG : nullptr;
}

ITnChunkData *MultiPartSection::GetChunkData()
{
    return mDefinition.mDataType == TnMultiPartChunkData ? &mChunkData : nullptr;
}

uint32_t MultiPartSection::GetSourceID() const
{
    return mDefinition.mSourceID;
}

uint32_t MultiPartSection::GetDataPurposeID() const
{
    return mDefinition.mDataPurposeID;
}

uint32_t MultiPartSection::GetRegionID() const
{
    return mDefinition.mRegionID;
}

uint32_t MultiPartSection::GetAdditionalZones() const
{
    return mDefinition.mAdditionalZones;
}

uint32_t MultiPartSection::GetZoneDirectionMask() const
{
    return mDefinition.mZoneDirectionMask;
}

void MultiPartSection::Define(const PartDefinition &aDefinition)
{
    mDefinition = aDefinition;
    mDefinition.mFinalHeight = aDefinition.mGeometry.mHeight;
    mDefinition.mFinalLength = 0;
    mDefinition.mFinalLengthSet = false;
    mChunks.SetLayoutID(aDefinition.mChunkLayoutID);
    DropMemory();
}

void MultiPartSection::DropMemory()
{
    SetMemory(nullptr, MemoryKind::None, nullptr, false);
}

void MultiPartSection::SetMemory(uint8_t *aData, MemoryKind aKind, std::unique_ptr<uint8_t[]> aOwned, bool aInBuffer)
{
    mOwnedData = std::move(aOwned);
    mData = aData;
    mMemory = aData != nullptr ? aKind : MemoryKind::None;
    mInBuffer = aData != nullptr && aInBuffer;
    mReceived = false;
    mReceivedSize = 0;
    mReceivedEffectiveSize = 0;
    BindChunks();
}

void MultiPartSection::SetReceived(uint8_t *aData, uint32_t aSize, uint32_t aEffectiveSize)
{
    SetMemory(aData, MemoryKind::None, nullptr, true);
    mReceived = aData != nullptr;
    mReceivedSize = aSize;
    mReceivedEffectiveSize = aEffectiveSize;
    if (mDefinition.mDataType == TnMultiPartChunkData)
    {
        mChunks.SetReceived(mData, aEffectiveSize, ChunkWalk::Plain, aEffectiveSize != 0, false);
    }
}

void MultiPartSection::ResetChunks()
{
    mDefinition.mFinalLengthSet = false;
    mDefinition.mFinalLength = 0;
    mChunks.Reset();
}

void MultiPartSection::SetFinalLength(uint32_t aLength)
{
    mDefinition.mFinalLength = aLength;
    mDefinition.mFinalLengthSet = true;
    if (mDefinition.mDataType == TnMultiPartChunkData)
    {
        // The part's bytes are now what was confirmed: its chunks are read
        // from them.
        mChunks.SetReceived(mData, mData != nullptr ? aLength : 0, ChunkWalk::Plain, mData != nullptr, false);
    }
}

bool MultiPartSection::GetRequiredSize(uint32_t &aSize) const
{
    aSize = 0;
    if (IsImageDataType(mDefinition.mDataType))
    {
        ImageGeometry geometry = mDefinition.mGeometry;
        geometry.mPaddingY = 0;
        return ComputeImageSize(geometry, aSize);
    }
    aSize = mDefinition.mMaximumLength;
    return true;
}

ImageGeometry MultiPartSection::GetFinalGeometry() const
{
    ImageGeometry geometry = mDefinition.mGeometry;
    geometry.mHeight = mDefinition.mFinalHeight;
    geometry.mPaddingY = 0;
    return geometry;
}

void MultiPartSection::BindChunks()
{
    const bool chunkPart = mDefinition.mDataType == TnMultiPartChunkData;
    uint32_t size = 0;
    if (chunkPart && mData != nullptr)
    {
        GetRequiredSize(size);
    }
    mChunks.Bind(mData, size, false, 0, chunkPart);
    if (chunkPart && mData != nullptr && mDefinition.mFinalLengthSet)
    {
        SetFinalLength(mDefinition.mFinalLength);
    }
}

// The container.

uint32_t MultiPartContainer::GetPartCount() const
{
    return mCount;
}

const ITnMultiPartSection *MultiPartContainer::GetPart(uint32_t aIndex) const
{
    return aIndex < mCount ? mSections[aIndex].get() : nullptr;
}

ITnMultiPartSection *MultiPartContainer::GetPart(uint32_t aIndex)
{
    return Find(aIndex);
}

MultiPartSection *MultiPartContainer::Find(uint32_t aIndex)
{
    return aIndex < mCount ? mSections[aIndex].get() : nullptr;
}

void MultiPartContainer::Reset()
{
    for (uint32_t i = 0; i < mCount; ++i)
    {
        mSections[i]->DropMemory();
    }
    mCount = 0;
}

TnResult MultiPartContainer::Append(const PartDefinition &aDefinition, bool aChunkPartLast)
{
    if (mCount >= kMaximumParts)
    {
        return Refuse("too many parts");
    }
    if (aChunkPartLast && mCount != 0 && mSections[mCount - 1]->GetDataType() == TnMultiPartChunkData)
    {
        return Refuse("the chunk-data part is the last part");
    }
    if (mCount == mSections.size())
    {
        try
        {
            mSections.emplace_back(new MultiPartSection(mCore));
        }
        catch (const std::bad_alloc &)
        {
            return TnResult(TN_NOT_ENOUGH_MEMORY);
        }
    }
    mSections[mCount]->Define(aDefinition);
    ++mCount;
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::AddImagePart(TnMultiPartDataType aDataType, uint32_t aWidth, uint32_t aMaximumHeight,
                                          TnPixelType aPixelType, uint32_t aOffsetX, uint32_t aOffsetY,
                                          uint16_t aPaddingX)
{
    if (!IsImageDataType(aDataType))
    {
        return Refuse("not an image data type");
    }
    PartDefinition definition;
    definition.mDataType = aDataType;
    definition.mGeometry.mPixelType = aPixelType;
    definition.mGeometry.mWidth = aWidth;
    definition.mGeometry.mHeight = aMaximumHeight;
    definition.mGeometry.mOffsetX = aOffsetX;
    definition.mGeometry.mOffsetY = aOffsetY;
    definition.mGeometry.mPaddingX = aPaddingX;
    uint32_t size = 0;
    if (aWidth == 0 || aMaximumHeight == 0 || !ComputeImageSize(definition.mGeometry, size))
    {
        return Refuse("no image part of this geometry fits a buffer");
    }
    return Append(definition);
}

TnResult MultiPartContainer::AddJPEGPart(TnMultiPartDataType aDataType, uint32_t aMaximumLength, uint8_t aFlag,
                                         uint64_t aTimestampTickFrequency, uint32_t aDataFormat)
{
    if (!IsJPEGDataType(aDataType))
    {
        return Refuse("not a JPEG data type");
    }
    if (aMaximumLength == 0)
    {
        return Refuse("a JPEG part of no bytes");
    }
    PartDefinition definition;
    definition.mDataType = aDataType;
    definition.mMaximumLength = aMaximumLength;
    definition.mJPEGFlag = aFlag;
    definition.mTimestampTickFrequency = aTimestampTickFrequency;
    definition.mDataFormat = aDataFormat;
    return Append(definition);
}

TnResult MultiPartContainer::AddChunkPart(uint32_t aMaximumLength, uint32_t aChunkLayoutID)
{
    if (aMaximumLength == 0)
    {
        return Refuse("a chunk-data part of no bytes");
    }
    PartDefinition definition;
    definition.mDataType = TnMultiPartChunkData;
    definition.mMaximumLength = aMaximumLength;
    definition.mChunkLayoutID = aChunkLayoutID;
    return Append(definition);
}

TnResult MultiPartContainer::SetPartIDs(uint32_t aIndex, uint32_t aSourceID, uint32_t aDataPurposeID,
                                        uint32_t aRegionID)
{
    MultiPartSection *section = Find(aIndex);
    if (section == nullptr)
    {
        return Refuse("no part at this index");
    }
    section->GetDefinition().mSourceID = aSourceID;
    section->GetDefinition().mDataPurposeID = aDataPurposeID;
    section->GetDefinition().mRegionID = aRegionID;
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::SetPartZoneInfo(uint32_t aIndex, uint8_t aAdditionalZones, uint32_t aZoneDirectionMask)
{
    MultiPartSection *section = Find(aIndex);
    if (section == nullptr)
    {
        return Refuse("no part at this index");
    }
    section->GetDefinition().mAdditionalZones = aAdditionalZones;
    section->GetDefinition().mZoneDirectionMask = aZoneDirectionMask;
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::AllocAllParts()
{
    if (mCount == 0)
    {
        return TnResult(TN_STATE_ERROR, TnString("no part is defined"));
    }
    std::vector<uint64_t> offsets(mCount);
    uint64_t total = 0;
    for (uint32_t i = 0; i < mCount; ++i)
    {
        uint32_t size = 0;
        mSections[i]->GetRequiredSize(size);
        total = (total + 7) & ~uint64_t(7);
        offsets[i] = total;
        total += size;
    }
    if (total > kMaximumSize)
    {
        return Refuse("the parts do not fit a buffer");
    }
    // The new memory replaces the buffer's; parts that lay in the old memory
    // lose it then.
    TnResult result = mCore.Alloc(total);
    if (!result.IsOK())
    {
        return result;
    }
    for (uint32_t i = 0; i < mCount; ++i)
    {
        mSections[i]->SetMemory(mCore.GetData() + offsets[i], MemoryKind::Allocated, nullptr, true);
    }
    return result;
}

TnResult MultiPartContainer::AllocPart(uint32_t aIndex)
{
    MultiPartSection *section = Find(aIndex);
    if (section == nullptr)
    {
        return Refuse("no part at this index");
    }
    uint32_t size = 0;
    section->GetRequiredSize(size);
    std::unique_ptr<uint8_t[]> memory = AllocateZeroed(size);
    if (!memory)
    {
        return TnResult(TN_NOT_ENOUGH_MEMORY);
    }
    uint8_t *data = memory.get();
    section->SetMemory(data, MemoryKind::Allocated, std::move(memory), false);
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::AttachPart(uint32_t aIndex, void *aAddress, uint32_t aLength)
{
    MultiPartSection *section = Find(aIndex);
    if (section == nullptr)
    {
        return Refuse("no part at this index");
    }
    if (aAddress == nullptr)
    {
        return Refuse("no memory to attach");
    }
    uint32_t size = 0;
    section->GetRequiredSize(size);
    if (aLength < size)
    {
        return TnResult(TN_BUFFER_TOO_SMALL, TnString("the memory is smaller than the part"));
    }
    section->SetMemory(static_cast<uint8_t *>(aAddress), MemoryKind::Attached, nullptr, false);
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::SetPartFinalLength(uint32_t aIndex, uint32_t aLength)
{
    MultiPartSection *section = Find(aIndex);
    if (section == nullptr)
    {
        return Refuse("no part at this index");
    }
    const PartDefinition &definition = section->GetDefinition();
    if (!IsJPEGDataType(definition.mDataType) && definition.mDataType != TnMultiPartChunkData)
    {
        return Refuse("not a JPEG or chunk-data part");
    }
    if (aLength > definition.mMaximumLength)
    {
        return Refuse("longer than the part's maximum length");
    }
    section->SetFinalLength(aLength);
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::SetPartFinalImageHeight(uint32_t aIndex, uint32_t aHeight)
{
    MultiPartSection *section = Find(aIndex);
    if (section == nullptr)
    {
        return Refuse("no part at this index");
    }
    PartDefinition &definition = section->GetDefinition();
    if (!IsImageDataType(definition.mDataType))
    {
        return Refuse("not an image part");
    }
    if (aHeight > definition.mGeometry.mHeight)
    {
        return Refuse("taller than the part's maximum height");
    }
    definition.mFinalHeight = aHeight;
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::Validate()
{
    if (mCount == 0)
    {
        return TnResult(TN_STATE_ERROR, TnString("no part is defined"));
    }
    for (uint32_t i = 0; i < mCount; ++i)
    {
        if (!mSections[i]->HasMemory())
        {
            return TnResult(TN_BUFFER_TOO_SMALL, TnString("a part has no memory"));
        }
    }
    return TnResult(TN_OK);
}

void MultiPartContainer::OnMainMemoryChanged()
{
    for (const std::unique_ptr<MultiPartSection> &section : mSections)
    {
        if (section->IsInBuffer())
        {
            section->DropMemory();
        }
    }
}

ChunkArea *MultiPartContainer::FindChunks()
{
    for (uint32_t i = 0; i < mCount; ++i)
    {
        if (mSections[i]->GetDataType() == TnMultiPartChunkData)
        {
            return &mSections[i]->GetChunks();
        }
    }
    return nullptr;
}

const ChunkArea *MultiPartContainer::FindChunks() const
{
    return const_cast<MultiPartContainer *>(this)->FindChunks();
}

uint64_t MultiPartContainer::GetPayloadSize() const
{
    uint64_t size = 0;
    for (uint32_t i = 0; i < mCount; ++i)
    {
        size += mSections[i]->GetEffectiveSize();
    }
    return size;
}

TnResult MultiPartContainer::SetReceivedLayout(const ReceivedPart *aParts, uint32_t aCount)
{
    Reset();
    if (aCount > kMaximumParts || (aParts == nullptr && aCount != 0))
    {
        return Refuse("too many parts");
    }
    for (uint32_t i = 0; i < aCount; ++i)
    {
        const ReceivedPart &part = aParts[i];
        if (uint64_t(part.mOffset) + part.mSize > mCore.GetSize() || part.mEffectiveSize > part.mSize)
        {
            return Refuse("a part outside the buffer's memory");
        }
        if (IsImageDataType(part.mDataType))
        {
            ImageGeometry geometry = part.mGeometry;
            geometry.mPaddingY = 0;
            uint32_t size = 0;
            if (!ComputeImageSize(geometry, size) || size > part.mSize)
            {
                return Refuse("an image that does not fit its part");
            }
        }
        else if (!IsJPEGDataType(part.mDataType) && part.mDataType != TnMultiPartChunkData)
        {
            return Refuse("an unknown part data type");
        }
    }
    for (uint32_t i = 0; i < aCount; ++i)
    {
        const ReceivedPart &part = aParts[i];
        PartDefinition definition;
        definition.mDataType = part.mDataType;
        definition.mGeometry = part.mGeometry;
        definition.mGeometry.mPaddingY = 0;
        definition.mMaximumLength = part.mSize;
        definition.mJPEGFlag = part.mJPEGFlag;
        definition.mTimestampTickFrequency = part.mTimestampTickFrequency;
        definition.mDataFormat = part.mDataFormat;
        definition.mChunkLayoutID = part.mChunkLayoutID;
        definition.mSourceID = part.mSourceID;
        definition.mDataPurposeID = part.mDataPurposeID;
        definition.mRegionID = part.mRegionID;
        definition.mAdditionalZones = part.mAdditionalZones;
        definition.mZoneDirectionMask = part.mZoneDirectionMask;
        TnResult result = Append(definition, false);
        if (!result.IsOK())
        {
            Reset();
            return result;
        }
        uint8_t *data = mCore.GetData() != nullptr ? mCore.GetData() + part.mOffset : nullptr;
        mSections[mCount - 1]->SetReceived(data, part.mSize, part.mEffectiveSize);
    }
    return TnResult(TN_OK);
}
} // namespace buffer
} // namespace tn
