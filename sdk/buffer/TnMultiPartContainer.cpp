#include "TnMultiPartContainer.h"

#include <new>
#include <utility>

#include "TnCheckedSize.h"

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
constexpr uint64_t kMaximumSize = kMaximumBufferSize;

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
    uint32_t lSize = 0;
    ComputeImageSize(mSection.GetFinalGeometry(), lSize);
    return lSize;
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
    uint32_t lSize = 0;
    GetRequiredSize(lSize);
    return lSize;
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
    uint32_t lSize = 0;
    if (IsImageDataType(mDefinition.mDataType))
    {
        ComputeImageSize(GetFinalGeometry(), lSize);
    }
    else if (mDefinition.mFinalLengthSet)
    {
        lSize = mDefinition.mFinalLength;
    }
    else if (mDefinition.mDataType == TnMultiPartChunkData)
    {
        lSize = mChunks.GetWrittenSectionSize();
    }
    else
    {
        lSize = mDefinition.mMaximumLength;
    }
    const uint32_t lLimit = GetSize();
    return lSize < lLimit ? lSize : lLimit;
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

void MultiPartSection::SetMemory(uint8_t *aData, MemoryKind aKind, ZeroedMemory aOwned, bool aInBuffer,
                                 BlockHold aAttached)
{
    mOwnedData = std::move(aOwned);
    mAttachedHold = std::move(aAttached);
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
        ImageGeometry lGeometry = mDefinition.mGeometry;
        lGeometry.mPaddingY = 0;
        return ComputeImageSize(lGeometry, aSize);
    }
    aSize = mDefinition.mMaximumLength;
    return true;
}

ImageGeometry MultiPartSection::GetFinalGeometry() const
{
    ImageGeometry lGeometry = mDefinition.mGeometry;
    lGeometry.mHeight = mDefinition.mFinalHeight;
    lGeometry.mPaddingY = 0;
    return lGeometry;
}

void MultiPartSection::BindChunks()
{
    const bool lChunkPart = mDefinition.mDataType == TnMultiPartChunkData;
    uint32_t lSize = 0;
    if (lChunkPart && mData != nullptr)
    {
        GetRequiredSize(lSize);
    }
    mChunks.Bind(mData, lSize, false, 0, lChunkPart);
    if (lChunkPart && mData != nullptr && mDefinition.mFinalLengthSet)
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
    for (uint32_t lIndex = 0; lIndex < mCount; ++lIndex)
    {
        mSections[lIndex]->DropMemory();
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
            return NotEnoughMemory("the part's record", 1, sizeof(MultiPartSection));
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
    PartDefinition lDefinition;
    lDefinition.mDataType = aDataType;
    lDefinition.mGeometry.mPixelType = aPixelType;
    lDefinition.mGeometry.mWidth = aWidth;
    lDefinition.mGeometry.mHeight = aMaximumHeight;
    lDefinition.mGeometry.mOffsetX = aOffsetX;
    lDefinition.mGeometry.mOffsetY = aOffsetY;
    lDefinition.mGeometry.mPaddingX = aPaddingX;
    uint32_t lSize = 0;
    if (aWidth == 0 || aMaximumHeight == 0 || !ComputeImageSize(lDefinition.mGeometry, lSize))
    {
        return Refuse("no image part of this geometry fits a buffer");
    }
    return Append(lDefinition);
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
    PartDefinition lDefinition;
    lDefinition.mDataType = aDataType;
    lDefinition.mMaximumLength = aMaximumLength;
    lDefinition.mJPEGFlag = aFlag;
    lDefinition.mTimestampTickFrequency = aTimestampTickFrequency;
    lDefinition.mDataFormat = aDataFormat;
    return Append(lDefinition);
}

TnResult MultiPartContainer::AddChunkPart(uint32_t aMaximumLength, uint32_t aChunkLayoutID)
{
    if (aMaximumLength == 0)
    {
        return Refuse("a chunk-data part of no bytes");
    }
    PartDefinition lDefinition;
    lDefinition.mDataType = TnMultiPartChunkData;
    lDefinition.mMaximumLength = aMaximumLength;
    lDefinition.mChunkLayoutID = aChunkLayoutID;
    return Append(lDefinition);
}

TnResult MultiPartContainer::SetPartIDs(uint32_t aIndex, uint32_t aSourceID, uint32_t aDataPurposeID,
                                        uint32_t aRegionID)
{
    MultiPartSection *lSection = Find(aIndex);
    if (lSection == nullptr)
    {
        return Refuse("no part at this index");
    }
    lSection->GetDefinition().mSourceID = aSourceID;
    lSection->GetDefinition().mDataPurposeID = aDataPurposeID;
    lSection->GetDefinition().mRegionID = aRegionID;
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::SetPartZoneInfo(uint32_t aIndex, uint8_t aAdditionalZones, uint32_t aZoneDirectionMask)
{
    MultiPartSection *lSection = Find(aIndex);
    if (lSection == nullptr)
    {
        return Refuse("no part at this index");
    }
    lSection->GetDefinition().mAdditionalZones = aAdditionalZones;
    lSection->GetDefinition().mZoneDirectionMask = aZoneDirectionMask;
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::AllocAllParts()
{
    if (mCount == 0)
    {
        return TnResult(TN_STATE_ERROR, TnString("no part is defined"));
    }
    // Each part starts on an 8-byte boundary.
    std::vector<uint32_t> lOffsets(mCount);
    CheckedSize lEnd;
    for (uint32_t lIndex = 0; lIndex < mCount; ++lIndex)
    {
        uint32_t lSize = 0;
        if (!mSections[lIndex]->GetRequiredSize(lSize))
        {
            return Refuse("a part of no size");
        }
        lEnd = lEnd.RoundedUp(8);
        if (!lEnd.Get(lOffsets[lIndex], kMaximumSize))
        {
            return Refuse("the parts do not fit a buffer");
        }
        lEnd += lSize;
    }
    uint32_t lTotal = 0;
    if (!lEnd.Get(lTotal, kMaximumSize))
    {
        return Refuse("the parts do not fit a buffer");
    }
    // The new memory replaces the buffer's; parts that lay in the old memory
    // lose it then.
    TnResult lResult = mCore.Alloc(lTotal);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    for (uint32_t lIndex = 0; lIndex < mCount; ++lIndex)
    {
        mSections[lIndex]->SetMemory(mCore.GetData() + lOffsets[lIndex], MemoryKind::Allocated, nullptr, true);
    }
    return lResult;
}

TnResult MultiPartContainer::AllocPart(uint32_t aIndex)
{
    MultiPartSection *lSection = Find(aIndex);
    if (lSection == nullptr)
    {
        return Refuse("no part at this index");
    }
    uint32_t lSize = 0;
    if (!lSection->GetRequiredSize(lSize) || lSize == 0)
    {
        return Refuse("a part of no size");
    }
    ZeroedMemory lMemory = AllocateZeroed(lSize);
    if (!lMemory)
    {
        return NotEnoughMemory("the part's memory", 1, lSize);
    }
    uint8_t *lData = lMemory.get();
    lSection->SetMemory(lData, MemoryKind::Allocated, std::move(lMemory), false);
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::AttachPart(uint32_t aIndex, void *aAddress, uint32_t aLength)
{
    MultiPartSection *lSection = Find(aIndex);
    if (lSection == nullptr)
    {
        return Refuse("no part at this index");
    }
    if (aAddress == nullptr)
    {
        return Refuse("no memory to attach");
    }
    uint32_t lSize = 0;
    lSection->GetRequiredSize(lSize);
    if (aLength < lSize)
    {
        return TnResult(TN_BUFFER_TOO_SMALL, TnString("the memory is smaller than the part"));
    }
    lSection->SetMemory(static_cast<uint8_t *>(aAddress), MemoryKind::Attached, nullptr, false,
                        HoldBlockAt(aAddress, aLength));
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::SetPartFinalLength(uint32_t aIndex, uint32_t aLength)
{
    MultiPartSection *lSection = Find(aIndex);
    if (lSection == nullptr)
    {
        return Refuse("no part at this index");
    }
    const PartDefinition &lDefinition = lSection->GetDefinition();
    if (!IsJPEGDataType(lDefinition.mDataType) && lDefinition.mDataType != TnMultiPartChunkData)
    {
        return Refuse("not a JPEG or chunk-data part");
    }
    if (aLength > lDefinition.mMaximumLength)
    {
        return Refuse("longer than the part's maximum length");
    }
    lSection->SetFinalLength(aLength);
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::SetPartFinalImageHeight(uint32_t aIndex, uint32_t aHeight)
{
    MultiPartSection *lSection = Find(aIndex);
    if (lSection == nullptr)
    {
        return Refuse("no part at this index");
    }
    PartDefinition &lDefinition = lSection->GetDefinition();
    if (!IsImageDataType(lDefinition.mDataType))
    {
        return Refuse("not an image part");
    }
    if (aHeight > lDefinition.mGeometry.mHeight)
    {
        return Refuse("taller than the part's maximum height");
    }
    lDefinition.mFinalHeight = aHeight;
    return TnResult(TN_OK);
}

TnResult MultiPartContainer::Validate()
{
    if (mCount == 0)
    {
        return TnResult(TN_STATE_ERROR, TnString("no part is defined"));
    }
    for (uint32_t lIndex = 0; lIndex < mCount; ++lIndex)
    {
        if (!mSections[lIndex]->HasMemory())
        {
            return TnResult(TN_BUFFER_TOO_SMALL, TnString("a part has no memory"));
        }
    }
    return TnResult(TN_OK);
}

void MultiPartContainer::OnMainMemoryChanged()
{
    for (const std::unique_ptr<MultiPartSection> &lSection : mSections)
    {
        if (lSection->IsInBuffer())
        {
            lSection->DropMemory();
        }
    }
}

ChunkArea *MultiPartContainer::FindChunks()
{
    for (uint32_t lIndex = 0; lIndex < mCount; ++lIndex)
    {
        if (mSections[lIndex]->GetDataType() == TnMultiPartChunkData)
        {
            return &mSections[lIndex]->GetChunks();
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
    uint64_t lSize = 0;
    for (uint32_t lIndex = 0; lIndex < mCount; ++lIndex)
    {
        lSize += mSections[lIndex]->GetEffectiveSize();
    }
    return lSize;
}

TnResult MultiPartContainer::SetReceivedLayout(const ReceivedPart *aParts, uint32_t aCount)
{
    Reset();
    if (aCount > kMaximumParts || (aParts == nullptr && aCount != 0))
    {
        return Refuse("too many parts");
    }
    for (uint32_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        const ReceivedPart &lPart = aParts[lIndex];
        if (uint64_t(lPart.mOffset) + lPart.mSize > mCore.GetSize() || lPart.mEffectiveSize > lPart.mSize)
        {
            return Refuse("a part outside the buffer's memory");
        }
        if (IsImageDataType(lPart.mDataType))
        {
            ImageGeometry lGeometry = lPart.mGeometry;
            lGeometry.mPaddingY = 0;
            uint32_t lSize = 0;
            if (!ComputeImageSize(lGeometry, lSize) || lSize > lPart.mSize)
            {
                return Refuse("an image that does not fit its part");
            }
        }
        else if (!IsJPEGDataType(lPart.mDataType) && lPart.mDataType != TnMultiPartChunkData)
        {
            return Refuse("an unknown part data type");
        }
    }
    for (uint32_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        const ReceivedPart &lPart = aParts[lIndex];
        PartDefinition lDefinition;
        lDefinition.mDataType = lPart.mDataType;
        lDefinition.mGeometry = lPart.mGeometry;
        lDefinition.mGeometry.mPaddingY = 0;
        lDefinition.mMaximumLength = lPart.mSize;
        lDefinition.mJPEGFlag = lPart.mJPEGFlag;
        lDefinition.mTimestampTickFrequency = lPart.mTimestampTickFrequency;
        lDefinition.mDataFormat = lPart.mDataFormat;
        lDefinition.mChunkLayoutID = lPart.mChunkLayoutID;
        lDefinition.mSourceID = lPart.mSourceID;
        lDefinition.mDataPurposeID = lPart.mDataPurposeID;
        lDefinition.mRegionID = lPart.mRegionID;
        lDefinition.mAdditionalZones = lPart.mAdditionalZones;
        lDefinition.mZoneDirectionMask = lPart.mZoneDirectionMask;
        TnResult lResult = Append(lDefinition, false);
        if (!lResult.IsOK())
        {
            Reset();
            return lResult;
        }
        uint8_t *lData = mCore.GetData() != nullptr ? mCore.GetData() + lPart.mOffset : nullptr;
        mSections[mCount - 1]->SetReceived(lData, lPart.mSize, lPart.mEffectiveSize);
    }
    return TnResult(TN_OK);
}
} // namespace buffer
} // namespace tn
