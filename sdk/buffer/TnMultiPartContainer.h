// The multipart container of a buffer and its sections.
#ifndef TN_MULTI_PART_CONTAINER_H
#define TN_MULTI_PART_CONTAINER_H

#include <stdint.h>

#include <memory>
#include <vector>

#include "TnBufferCore.h"
#include "TnChunkArea.h"
#include "TnChunkForwarder.h"
#include "TnMultiPart.h"

namespace tn
{
namespace buffer
{
class MultiPartSection;

/// A section seen as an image.
class SectionImage final : public ITnImage
{
public:
    explicit SectionImage(MultiPartSection &aSection) : mSection(aSection) {}
    ~SectionImage() override = default;

    const uint8_t *GetDataPointer() const override;
    uint8_t *GetDataPointer() override;
    uint32_t GetImageSize() const override;
    uint32_t GetWidth() const override;
    uint32_t GetHeight() const override;
    TnPixelType GetPixelType() const override;
    uint32_t GetOffsetX() const override;
    uint32_t GetOffsetY() const override;
    uint16_t GetPaddingX() const override;
    uint16_t GetPaddingY() const override;
    uint64_t GetBlockID() const override;
    uint64_t GetTimestamp() const override;
    uint64_t GetReceptionTime() const override;

private:
    MultiPartSection &mSection;
};

/// A section seen as JPEG data.
class SectionJPEG final : public ITnImageJPEG
{
public:
    explicit SectionJPEG(MultiPartSection &aSection) : mSection(aSection) {}
    ~SectionJPEG() override = default;

    const uint8_t *GetDataPointer() const override;
    uint8_t *GetDataPointer() override;
    uint8_t GetFlag() const override;
    uint64_t GetTimestampTickFrequency() const override;
    uint32_t GetDataFormat() const override;
    uint64_t GetDataSize() const override;

private:
    MultiPartSection &mSection;
};

/// A section's chunks.
class SectionChunkData final : public ChunkForwarder<SectionChunkData, ITnChunkData>
{
public:
    explicit SectionChunkData(MultiPartSection &aSection) : mSection(aSection) {}
    ~SectionChunkData() override = default;

    /// Also drops the confirmed length of a chunk-data part.
    void ResetChunks() override;
    ChunkArea &GetChunkArea() const;

private:
    MultiPartSection &mSection;
};

/// What defines a part.
struct PartDefinition
{
    TnMultiPartDataType mDataType = TnMultiPartInvalid;
    ImageGeometry mGeometry; // image parts: mHeight the maximum height
    uint32_t mFinalHeight = 0;
    uint32_t mMaximumLength = 0; // JPEG and chunk-data parts
    uint32_t mFinalLength = 0;
    bool mFinalLengthSet = false;
    uint8_t mJPEGFlag = 0;
    uint64_t mTimestampTickFrequency = 0;
    uint32_t mDataFormat = 0;
    uint32_t mChunkLayoutID = 0;
    uint32_t mSourceID = 0;
    uint32_t mDataPurposeID = 0;
    uint32_t mRegionID = 0;
    uint32_t mAdditionalZones = 0;
    uint32_t mZoneDirectionMask = 0;
};

bool IsImageDataType(TnMultiPartDataType aDataType);
bool IsJPEGDataType(TnMultiPartDataType aDataType);

/// One part of a container.
class MultiPartSection final : public ITnMultiPartSection
{
public:
    explicit MultiPartSection(BufferCore &aCore);
    ~MultiPartSection() override = default;

    const uint8_t *GetDataPointer() const override;
    uint8_t *GetDataPointer() override;
    uint32_t GetSize() const override;
    uint32_t GetEffectiveSize() const override;
    TnMultiPartDataType GetDataType() const override;
    ITnImage *GetImage() override;
    ITnImageJPEG *GetJPEG() override;
    ITnChunkData *GetChunkData() override;
    uint32_t GetSourceID() const override;
    uint32_t GetDataPurposeID() const override;
    uint32_t GetRegionID() const override;
    uint32_t GetAdditionalZones() const override;
    uint32_t GetZoneDirectionMask() const override;

    /// Takes a definition; the section has no memory then.
    void Define(const PartDefinition &aDefinition);

    /// Drops the section's memory (its own memory is freed).
    void DropMemory();

    /// Gives the section memory: aOwned when it is the section's own,
    /// aInBuffer when it lies in the buffer's main memory, aAttached the
    /// reference on the block of attached memory.
    void SetMemory(uint8_t *aData, MemoryKind aKind, ZeroedMemory aOwned, bool aInBuffer,
                   BlockHold aAttached = BlockHold());

    /// Lays a received part over the buffer's main memory.
    void SetReceived(uint8_t *aData, uint32_t aSize, uint32_t aEffectiveSize);

    /// Drops the chunks and the confirmed length of a chunk-data part.
    void ResetChunks();

    /// Bytes the definition needs; false when they do not fit 32 bits.
    bool GetRequiredSize(uint32_t &aSize) const;

    PartDefinition &GetDefinition() { return mDefinition; }
    const PartDefinition &GetDefinition() const { return mDefinition; }
    MemoryKind GetMemoryKind() const { return mMemory; }
    bool HasMemory() const { return mData != nullptr; }
    bool IsInBuffer() const { return mInBuffer; }
    ChunkArea &GetChunks() { return mChunks; }
    const ChunkArea &GetChunks() const { return mChunks; }
    const BufferCore &GetCore() const { return mCore; }

    /// Confirms the data length of a JPEG or chunk-data part.
    void SetFinalLength(uint32_t aLength);

    /// The image geometry with the final height.
    ImageGeometry GetFinalGeometry() const;

private:
    void BindChunks();

    BufferCore &mCore;
    PartDefinition mDefinition;
    uint8_t *mData = nullptr;
    MemoryKind mMemory = MemoryKind::None;
    ZeroedMemory mOwnedData;
    BlockHold mAttachedHold;
    bool mInBuffer = false;
    bool mReceived = false;
    uint32_t mReceivedSize = 0;
    uint32_t mReceivedEffectiveSize = 0;
    ChunkArea mChunks;
    SectionImage mImage;
    SectionJPEG mJPEG;
    SectionChunkData mChunkData;
};

/// The multipart container of a buffer. Sections are kept for the buffer's
/// lifetime and reused after Reset, so that no section pointer handed out ever
/// dangles while the buffer exists.
class MultiPartContainer final : public ITnMultiPartContainer
{
public:
    static constexpr uint32_t kMaximumParts = 256;

    explicit MultiPartContainer(BufferCore &aCore) : mCore(aCore) {}
    ~MultiPartContainer() override = default;

    uint32_t GetPartCount() const override;
    const ITnMultiPartSection *GetPart(uint32_t aIndex) const override;
    ITnMultiPartSection *GetPart(uint32_t aIndex) override;

    void Reset() override;
    TnResult AddImagePart(TnMultiPartDataType aDataType, uint32_t aWidth, uint32_t aMaximumHeight,
                          TnPixelType aPixelType, uint32_t aOffsetX, uint32_t aOffsetY, uint16_t aPaddingX) override;
    TnResult AddJPEGPart(TnMultiPartDataType aDataType, uint32_t aMaximumLength, uint8_t aFlag,
                         uint64_t aTimestampTickFrequency, uint32_t aDataFormat) override;
    TnResult AddChunkPart(uint32_t aMaximumLength, uint32_t aChunkLayoutID) override;
    TnResult SetPartIDs(uint32_t aIndex, uint32_t aSourceID, uint32_t aDataPurposeID, uint32_t aRegionID) override;
    TnResult SetPartZoneInfo(uint32_t aIndex, uint8_t aAdditionalZones, uint32_t aZoneDirectionMask) override;
    TnResult AllocAllParts() override;
    TnResult AllocPart(uint32_t aIndex) override;
    TnResult AttachPart(uint32_t aIndex, void *aAddress, uint32_t aLength) override;
    TnResult SetPartFinalLength(uint32_t aIndex, uint32_t aLength) override;
    TnResult SetPartFinalImageHeight(uint32_t aIndex, uint32_t aHeight) override;
    TnResult Validate() override;

    /// The buffer's main memory changed: parts that lay in it lose it.
    void OnMainMemoryChanged();

    /// The chunk area of the chunk-data part; null without one.
    ChunkArea *FindChunks();
    const ChunkArea *FindChunks() const;

    /// Sum of the parts' effective sizes.
    uint64_t GetPayloadSize() const;

    TnResult SetReceivedLayout(const ReceivedPart *aParts, uint32_t aCount);

private:
    TnResult Append(const PartDefinition &aDefinition, bool aChunkPartLast = true);
    MultiPartSection *Find(uint32_t aIndex);

    BufferCore &mCore;
    std::vector<std::unique_ptr<MultiPartSection>> mSections;
    uint32_t mCount = 0;
};
} // namespace buffer
} // namespace tn

#endif
