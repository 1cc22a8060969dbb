#include "TnGenDCContainer.h"

#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <set>
#include <unordered_map>
#include <utility>

#include "TnByteOrder.h"
#include "TnCheckedSize.h"
#include "TnChunkTrailer.h"
#include "TnGenDCFields.h"

namespace tn
{
namespace buffer
{
namespace
{
constexpr uint32_t kMaximumChunks = 65536;

/// Whether aSize bytes at aOffset lie within aLimit bytes.
bool Fits(uint64_t aOffset, uint64_t aSize, uint64_t aLimit)
{
    return aOffset <= aLimit && aSize <= aLimit - aOffset;
}

/// A container header that fits its bytes.
struct ContainerAt
{
    uint8_t *mData = nullptr;
    uint64_t mLength = 0;
    uint64_t mAddressable = 0;
    /// Where headers end: the descriptor, within the bytes.
    uint64_t mLimit = 0;
    uint32_t mCount = 0;
    bool mHoldsData = false;
};

bool ResolveContainer(const GenDCBytes &aBytes, ContainerAt &aAt)
{
    if (aBytes.mData == nullptr || aBytes.mLength < kContainerFixed || aBytes.mAddressable < aBytes.mLength)
    {
        return false;
    }
    const uint8_t *lHeader = aBytes.mData;
    if (LoadField<int32_t>(lHeader + offsetof(GenDCContainerHeaderBase, Signature)) != GDC_SIGNATURE ||
        LoadField<uint16_t>(lHeader + offsetof(GenDCContainerHeaderBase, HeaderType)) != GDC_CONTAINER_HEADER)
    {
        return false;
    }
    const uint64_t lDescriptor = LoadField<uint32_t>(lHeader + offsetof(GenDCContainerHeaderBase, DescriptorSize));
    aAt.mData = aBytes.mData;
    aAt.mLength = aBytes.mLength;
    aAt.mAddressable = aBytes.mAddressable;
    aAt.mLimit = std::min(lDescriptor, aBytes.mLength);
    aAt.mCount = LoadField<uint32_t>(lHeader + offsetof(GenDCContainerHeaderBase, ComponentCount));
    aAt.mHoldsData = aBytes.mHoldsData;
    return Fits(0, kContainerFixed + 8ull * aAt.mCount, aAt.mLimit);
}

/// The flow table, which follows the container header's component offsets.
bool ResolveFlowTable(const ContainerAt &aAt, uint64_t &aOffset, uint32_t &aCount)
{
    aOffset = kContainerFixed + 8ull * aAt.mCount;
    if (!Fits(aOffset, kFlowTableFixed, aAt.mLimit) ||
        LoadField<uint16_t>(aAt.mData + aOffset + offsetof(GenDCFlowTableHeader, HeaderType)) != GDC_FLOW_TABLE_HEADER)
    {
        return false;
    }
    aCount = LoadField<uint32_t>(aAt.mData + aOffset + offsetof(GenDCFlowTableHeader, FlowCount));
    return Fits(aOffset, kFlowTableFixed + 8ull * aCount, aAt.mLimit);
}

/// A component header and its part offsets within the descriptor.
bool ResolveComponent(const ContainerAt &aAt, uint32_t aIndex, uint64_t &aOffset, uint16_t &aPartCount)
{
    if (aIndex >= aAt.mCount)
    {
        return false;
    }
    const int64_t lOffset = LoadField<int64_t>(aAt.mData + kContainerFixed + 8ull * aIndex);
    if (lOffset < 0 || !Fits(uint64_t(lOffset), kComponentFixed, aAt.mLimit))
    {
        return false;
    }
    const uint8_t *lHeader = aAt.mData + lOffset;
    if (LoadField<uint16_t>(lHeader + offsetof(GenDCComponentHeaderBase, HeaderType)) != GDC_COMPONENT_HEADER)
    {
        return false;
    }
    aOffset = uint64_t(lOffset);
    aPartCount = LoadField<uint16_t>(lHeader + offsetof(GenDCComponentHeaderBase, PartCount));
    return Fits(aOffset, kComponentFixed + 8ull * aPartCount, aAt.mLimit);
}

/// A part header, all of its HeaderSize bytes within the descriptor.
struct PartAt
{
    ContainerAt mContainer;
    uint64_t mComponent = 0;
    uint64_t mOffset = 0;
    uint32_t mHeaderSize = 0;
    uint16_t mType = 0;

    uint8_t *Header() const { return mContainer.mData + mOffset; }
};

bool ResolvePart(const ContainerAt &aAt, uint64_t aComponent, uint16_t aPartCount, uint32_t aIndex, PartAt &aPart)
{
    if (aIndex >= aPartCount)
    {
        return false;
    }
    const int64_t lOffset = LoadField<int64_t>(aAt.mData + aComponent + kComponentFixed + 8ull * aIndex);
    if (lOffset < 0 || !Fits(uint64_t(lOffset), kPartFixed, aAt.mLimit))
    {
        return false;
    }
    const uint8_t *lHeader = aAt.mData + lOffset;
    const uint16_t lType = LoadField<uint16_t>(lHeader + offsetof(GenDCPartHeaderBase, HeaderType));
    const uint32_t lSize = LoadField<uint32_t>(lHeader + offsetof(GenDCPartHeaderBase, HeaderSize));
    if (lType < GDC_PART_HEADER_MIN || lType > GDC_PART_HEADER_MAX || lSize < kPartFixed ||
        !Fits(uint64_t(lOffset), lSize, aAt.mLimit))
    {
        return false;
    }
    aPart.mContainer = aAt;
    aPart.mComponent = aComponent;
    aPart.mOffset = uint64_t(lOffset);
    aPart.mHeaderSize = lSize;
    aPart.mType = lType;
    return true;
}

/// The part's data, when the container holds it and it fits.
uint8_t *DataOf(const PartAt &aPart, uint64_t &aSize)
{
    aSize = 0;
    if (!aPart.mContainer.mHoldsData)
    {
        return nullptr;
    }
    const int64_t lOffset = LoadField<int64_t>(aPart.Header() + offsetof(GenDCPartHeaderBase, DataOffset));
    const uint64_t lSize = LoadField<uint64_t>(aPart.Header() + offsetof(GenDCPartHeaderBase, DataSize));
    if (lOffset < 0 || !Fits(uint64_t(lOffset), lSize, aPart.mContainer.mLength))
    {
        return nullptr;
    }
    aSize = lSize;
    return aPart.mContainer.mData + lOffset;
}

/// The least header size of the named part types; the custom ones need only
/// the common header.
uint32_t LeastHeaderSize(uint16_t aType)
{
    switch (aType)
    {
    case GDC_METADATA_GENICAM_CHUNK:
    case GDC_METADATA_GENICAM_XML:
    case GDC_1D:
        return sizeof(GenDCPartHeader1DBase);
    case GDC_2D:
    case GDC_2D_JPEG:
    case GDC_2D_JPEG2000:
        return sizeof(GenDCPartHeader2DBase);
    case GDC_2D_H264:
        return sizeof(GenDCPartHeaderH264);
    default:
        return sizeof(GenDCPartHeaderBase);
    }
}

bool IsFamily(uint16_t aType, uint16_t aFamily)
{
    return (aType & GDC_GENERIC_PART_TYPE_MASK) == aFamily;
}

TnComponentType ComponentTypeOf(uint64_t aTypeId)
{
    if (aTypeId <= TnComponentMultispectral || aTypeId == uint64_t(GDC_METADATA))
    {
        return TnComponentType(aTypeId);
    }
    if (aTypeId >= uint64_t(GDC_CUSTOM_COMPONENT_MIN) && aTypeId <= uint64_t(GDC_CUSTOM_COMPONENT_MAX))
    {
        return TnComponentCustom;
    }
    if (aTypeId == uint64_t(GDC_RESERVED_COMPONENT))
    {
        return TnComponentReserved;
    }
    return TnComponentUndefined;
}

TnGenDCPartType PartTypeOf(uint16_t aType)
{
    if ((aType >= GDC_METADATA_GENICAM_CHUNK && aType <= GDC_METADATA_GENICAM_XML) || aType == GDC_1D ||
        (aType >= GDC_2D && aType <= GDC_2D_H264))
    {
        return TnGenDCPartType(aType);
    }
    if (aType < GDC_PART_HEADER_MIN || aType > GDC_PART_HEADER_MAX)
    {
        return TnGenDCPartUnknown;
    }
    if (IsFamily(aType, GDC_GENERIC_PART_METADATA))
    {
        return TnGenDCPartMetadataCustom;
    }
    if (IsFamily(aType, GDC_GENERIC_PART_1D))
    {
        return TnGenDCPart1DCustom;
    }
    if (IsFamily(aType, GDC_GENERIC_PART_2D))
    {
        return TnGenDCPart2DCustom;
    }
    return TnGenDCPartCustom;
}
} // namespace

GenDCSource::~GenDCSource() = default;

uint64_t GenDCSource::GetReceptionTime() const
{
    return 0;
}

uint32_t GenDCSource::AddComponent(TnComponentType)
{
    return kGenDCInvalidComponent;
}

uint32_t GenDCSource::AddPart(uint32_t, TnGenDCPartType, uint32_t)
{
    return kGenDCInvalidPart;
}

class GenDCPart;

/// A component: its index in the container; every call finds its header anew.
class GenDCComponent final : public ITnGenericDataComponent
{
public:
    GenDCComponent(GenDCContainer &aContainer, uint32_t aIndex) : mContainer(aContainer), mIndex(aIndex) {}
    ~GenDCComponent() override;

    bool Resolve(ContainerAt &aAt, uint64_t &aOffset, uint16_t &aPartCount) const
    {
        return ResolveContainer(mContainer.GetSource().GetBytes(), aAt) &&
               ResolveComponent(aAt, mIndex, aOffset, aPartCount);
    }

    /// The header's bytes, null when the component is gone.
    const uint8_t *Header() const
    {
        ContainerAt lAt;
        uint64_t lOffset = 0;
        uint16_t lParts = 0;
        return Resolve(lAt, lOffset, lParts) ? lAt.mData + lOffset : nullptr;
    }

    template <typename Value>
    Value Field(size_t aOffset) const
    {
        const uint8_t *lHeader = Header();
        return lHeader != nullptr ? LoadField<Value>(lHeader + aOffset) : Value(0);
    }

    GenDCContainer &GetContainer() const { return mContainer; }

    GenDCComponentHeader *GetMutableHeader() override
    {
        ContainerAt lAt;
        uint64_t lOffset = 0;
        uint16_t lParts = 0;
        if (!Resolve(lAt, lOffset, lParts) || !Fits(lOffset, sizeof(GenDCComponentHeader), lAt.mAddressable))
        {
            return nullptr;
        }
        return reinterpret_cast<GenDCComponentHeader *>(lAt.mData + lOffset);
    }
    const GenDCComponentHeader *GetHeader() const override
    {
        return const_cast<GenDCComponent *>(this)->GetMutableHeader();
    }
    uint16_t GetFlags() const override { return Field<uint16_t>(offsetof(GenDCComponentHeaderBase, Flags)); }
    uint32_t GetHeaderSize() const override
    {
        return Field<uint32_t>(offsetof(GenDCComponentHeaderBase, HeaderSize));
    }
    uint16_t GetGroupID() const override { return Field<uint16_t>(offsetof(GenDCComponentHeaderBase, GroupId)); }
    uint16_t GetSourceID() const override { return Field<uint16_t>(offsetof(GenDCComponentHeaderBase, SourceId)); }
    uint16_t GetRegionID() const override { return Field<uint16_t>(offsetof(GenDCComponentHeaderBase, RegionId)); }
    uint32_t GetRegionOffsetX() const override
    {
        return Field<uint32_t>(offsetof(GenDCComponentHeaderBase, RegionOffsetX));
    }
    uint32_t GetRegionOffsetY() const override
    {
        return Field<uint32_t>(offsetof(GenDCComponentHeaderBase, RegionOffsetY));
    }
    uint64_t GetTimestamp() const override { return Field<uint64_t>(offsetof(GenDCComponentHeaderBase, Timestamp)); }
    uint64_t GetTypeID() const override { return Field<uint64_t>(offsetof(GenDCComponentHeaderBase, TypeId)); }
    TnComponentType GetTypeIDEnum() const override
    {
        const uint8_t *lHeader = Header();
        return lHeader != nullptr
                   ? ComponentTypeOf(LoadField<uint64_t>(lHeader + offsetof(GenDCComponentHeaderBase, TypeId)))
                   : TnComponentUndefined;
    }
    uint32_t GetFormat() const override { return Field<uint32_t>(offsetof(GenDCComponentHeaderBase, Format)); }
    uint64_t GetPartHeaderOffset(uint32_t aIndex) const override
    {
        ContainerAt lAt;
        uint64_t lOffset = 0;
        uint16_t lParts = 0;
        if (!Resolve(lAt, lOffset, lParts) || aIndex >= lParts)
        {
            return 0;
        }
        return LoadField<uint64_t>(lAt.mData + lOffset + kComponentFixed + 8ull * aIndex);
    }
    uint32_t GetPartCount() const override
    {
        ContainerAt lAt;
        uint64_t lOffset = 0;
        uint16_t lParts = 0;
        return Resolve(lAt, lOffset, lParts) ? lParts : 0;
    }
    ITnGenericDataPart *GetPart(uint32_t aIndex) override;
    uint32_t AddPart(TnGenDCPartType aPartType, uint32_t aFlow) override
    {
        return mContainer.GetSource().AddPart(mIndex, aPartType, aFlow);
    }

private:
    GenDCContainer &mContainer;
    const uint32_t mIndex;
    std::mutex mLock;
    std::unordered_map<uint32_t, std::unique_ptr<GenDCPart>> mParts;
};

/// A part: its index in its component. It is its own image, chunk reader and
/// chunk writer; each answers for what the part's header says at the call.
class GenDCPart final : public ITnGenericDataPart,
                        public ITnGenDCImage,
                        public ITnGenDCChunkData,
                        public ITnGenDCChunkWriter
{
public:
    GenDCPart(GenDCComponent &aComponent, uint32_t aIndex) : mComponent(aComponent), mIndex(aIndex) {}
    ~GenDCPart() override = default;

    bool Resolve(PartAt &aPart) const
    {
        uint16_t lParts = 0;
        return mComponent.Resolve(aPart.mContainer, aPart.mComponent, lParts) &&
               ResolvePart(aPart.mContainer, aPart.mComponent, lParts, mIndex, aPart);
    }

    template <typename Value>
    Value Field(size_t aOffset) const
    {
        PartAt lPart;
        return Resolve(lPart) && aOffset + sizeof(Value) <= lPart.mHeaderSize ? LoadField<Value>(lPart.Header() + aOffset)
                                                                              : Value(0);
    }

    /// A field of a 2-D header; 0 for a part of another kind.
    template <typename Value>
    Value Field2D(size_t aOffset) const
    {
        PartAt lPart;
        if (!Resolve(lPart) || !IsFamily(lPart.mType, GDC_GENERIC_PART_2D) ||
            lPart.mHeaderSize < sizeof(GenDCPartHeader2DBase))
        {
            return Value(0);
        }
        return LoadField<Value>(lPart.Header() + aOffset);
    }

    // The part.
    GenDCPartHeader *GetMutableHeader() override
    {
        PartAt lPart;
        if (!Resolve(lPart) || !Fits(lPart.mOffset, sizeof(GenDCPartHeader), lPart.mContainer.mAddressable))
        {
            return nullptr;
        }
        return reinterpret_cast<GenDCPartHeader *>(lPart.Header());
    }
    const GenDCPartHeader *GetHeader() const override { return const_cast<GenDCPart *>(this)->GetMutableHeader(); }
    uint16_t GetHeaderType() const override { return Field<uint16_t>(offsetof(GenDCPartHeaderBase, HeaderType)); }
    TnGenDCPartType GetHeaderTypeEnum() const override
    {
        PartAt lPart;
        return Resolve(lPart) ? PartTypeOf(lPart.mType) : TnGenDCPartUnknown;
    }
    uint16_t GetFlags() const override { return Field<uint16_t>(offsetof(GenDCPartHeaderBase, Flags)); }
    uint32_t GetHeaderSize() const override { return Field<uint32_t>(offsetof(GenDCPartHeaderBase, HeaderSize)); }
    uint32_t GetFormat() const override { return Field<uint32_t>(offsetof(GenDCPartHeaderBase, Format)); }
    uint16_t GetFlowID() const override { return Field<uint16_t>(offsetof(GenDCPartHeaderBase, FlowId)); }
    uint64_t GetFlowOffset() const override { return Field<uint64_t>(offsetof(GenDCPartHeaderBase, FlowOffset)); }
    uint64_t GetDataSize() const override { return Field<uint64_t>(offsetof(GenDCPartHeaderBase, DataSize)); }
    uint64_t GetDataOffset() const override { return Field<uint64_t>(offsetof(GenDCPartHeaderBase, DataOffset)); }
    uint8_t *GetDataPointer() override
    {
        PartAt lPart;
        uint64_t lSize = 0;
        return Resolve(lPart) ? DataOf(lPart, lSize) : nullptr;
    }
    ITnGenDCImage *GetGenDCImage() const override
    {
        PartAt lPart;
        return Resolve(lPart) && IsFamily(lPart.mType, GDC_GENERIC_PART_2D) ? const_cast<GenDCPart *>(this)
                                                                            : nullptr;
    }
    ITnGenDCChunkData *GetGenDCChunkData() const override
    {
        PartAt lPart;
        return Resolve(lPart) && lPart.mType == GDC_METADATA_GENICAM_CHUNK ? const_cast<GenDCPart *>(this)
                                                                           : nullptr;
    }
    ITnGenDCChunkWriter *GetGenDCChunkWriter() const override
    {
        PartAt lPart;
        return Resolve(lPart) && lPart.mType == GDC_METADATA_GENICAM_CHUNK ? const_cast<GenDCPart *>(this)
                                                                           : nullptr;
    }
    uint64_t GetReceptionTime() const override
    {
        return mComponent.GetContainer().GetSource().GetReceptionTime();
    }
    TnResult GetMetadataSpecificFields(TnGenDCPartMetadataFields &aFields) const override
    {
        return Read1D(GDC_GENERIC_PART_METADATA, aFields);
    }
    TnResult Get1DSpecificFields(TnGenDCPart1DFields &aFields) const override
    {
        return Read1D(GDC_GENERIC_PART_1D, aFields);
    }
    TnResult Get2DSpecificFields(TnGenDCPart2DFields &aFields) const override;
    TnResult GetH264SpecificFields(TnGenDCPartH264Fields &aFields) const override;

    // The image.
    uint32_t GetImageSize() const override
    {
        const uint64_t lSize = GetDataSize();
        return lSize > UINT32_MAX ? UINT32_MAX : uint32_t(lSize);
    }
    uint32_t GetWidth() const override { return Field2D<uint32_t>(offsetof(GenDCPartHeader2DBase, SizeX)); }
    uint32_t GetHeight() const override { return Field2D<uint32_t>(offsetof(GenDCPartHeader2DBase, SizeY)); }
    TnPixelType GetPixelType() const override
    {
        return TnPixelType(Field<int32_t>(offsetof(GenDCPartHeaderBase, Format)));
    }
    uint32_t GetBitsPerPixel() const override { return TnPixelTypeGetBitsPerPixel(GetPixelType()); }
    uint32_t GetOffsetX() const override { return mComponent.GetRegionOffsetX(); }
    uint32_t GetOffsetY() const override { return mComponent.GetRegionOffsetY(); }
    uint16_t GetPaddingX() const override { return Field2D<uint16_t>(offsetof(GenDCPartHeader2DBase, PaddingX)); }
    uint16_t GetPaddingY() const override { return Field2D<uint16_t>(offsetof(GenDCPartHeader2DBase, PaddingY)); }
    uint64_t GetBlockID() const override
    {
        const GenDCContainerHeader *lHeader = mComponent.GetContainer().GetHeader();
        return lHeader != nullptr ? LoadField<uint64_t>(reinterpret_cast<const uint8_t *>(lHeader) +
                                                   offsetof(GenDCContainerHeaderBase, Id))
                                  : 0;
    }

    // The chunks.
    bool HasChunks() const override
    {
        bool lFound = false;
        WalkChunks([&](uint32_t, uint8_t *, uint32_t) {
            lFound = true;
            return false;
        });
        return lFound;
    }
    uint32_t GetChunkCount() const override
    {
        uint32_t lCount = 0;
        WalkChunks([&](uint32_t, uint8_t *, uint32_t) {
            ++lCount;
            return true;
        });
        return lCount;
    }
    TnResult GetChunkIDByIndex(uint32_t aIndex, uint32_t &aID) const override
    {
        uint8_t *lData = nullptr;
        uint32_t lSize = 0;
        aID = 0;
        if (!FindChunk(aIndex, false, &aID, lData, lSize))
        {
            return TnResult(TN_NOT_FOUND);
        }
        return TnResult(TN_OK);
    }
    uint32_t GetChunkSizeByIndex(uint32_t aIndex) const override
    {
        uint8_t *lData = nullptr;
        uint32_t lSize = 0;
        return FindChunk(aIndex, false, nullptr, lData, lSize) ? lSize : 0;
    }
    uint32_t GetChunkSizeByID(uint32_t aID) const override
    {
        uint8_t *lData = nullptr;
        uint32_t lSize = 0;
        return FindChunk(aID, true, nullptr, lData, lSize) ? lSize : 0;
    }
    uint8_t *GetChunkRawDataByIndex(uint32_t aIndex) const override
    {
        uint8_t *lData = nullptr;
        uint32_t lSize = 0;
        return FindChunk(aIndex, false, nullptr, lData, lSize) ? lData : nullptr;
    }
    uint8_t *GetChunkRawDataByID(uint32_t aID) const override
    {
        uint8_t *lData = nullptr;
        uint32_t lSize = 0;
        return FindChunk(aID, true, nullptr, lData, lSize) ? lData : nullptr;
    }
    uint32_t GetChunkLayoutID() const override
    {
        return Field<uint32_t>(offsetof(GenDCPartHeader1DBase, InfoTypeSpecific));
    }

    // The chunk writer.
    TnResult AddChunk(uint32_t aID, const uint8_t *aData, uint32_t aLength) override;
    void ResetChunks() override;

private:
    /// The part's header when it is of a kind (aKind(header type)) and holds
    /// aLeast bytes: TN_NOT_FOUND for a part that is gone, TN_NOT_SUPPORTED
    /// for a part of another kind.
    template <typename Kind>
    TnResult ResolveKind(PartAt &aPart, Kind aKind, size_t aLeast) const
    {
        if (!Resolve(aPart))
        {
            return TnResult(TN_NOT_FOUND, TnString("the part is gone"));
        }
        if (!aKind(aPart.mType) || aPart.mHeaderSize < aLeast)
        {
            return TnResult(TN_NOT_SUPPORTED);
        }
        return TnResult(TN_OK);
    }

    template <typename Fields>
    TnResult Read1D(uint16_t aFamily, Fields &aFields) const
    {
        PartAt lPart;
        TnResult lResult = ResolveKind(
            lPart, [aFamily](uint16_t aType) { return IsFamily(aType, aFamily); }, sizeof(GenDCPartHeader1DBase));
        if (!lResult.IsOK())
        {
            return lResult;
        }
        const uint8_t *lHeader = lPart.Header();
        aFields.Size = LoadField<uint64_t>(lHeader + offsetof(GenDCPartHeader1DBase, SizeX));
        aFields.Padding = LoadField<uint16_t>(lHeader + offsetof(GenDCPartHeader1DBase, PaddingX));
        aFields.PaddingReserved = LoadField<uint16_t>(lHeader + offsetof(GenDCPartHeader1DBase, PaddingReserved));
        aFields.InfoReserved = LoadField<uint32_t>(lHeader + offsetof(GenDCPartHeader1DBase, InfoReserved));
        aFields.InfoTypeSpecific = LoadField<uint64_t>(lHeader + offsetof(GenDCPartHeader1DBase, InfoTypeSpecific));
        return TnResult(TN_OK);
    }

    /// The chunk data of a GenICam chunk part: its data, at most 4 GiB.
    uint8_t *ChunkRegion(uint32_t &aLength) const
    {
        PartAt lPart;
        uint64_t lSize = 0;
        uint8_t *lData = nullptr;
        aLength = 0;
        if (Resolve(lPart) && lPart.mType == GDC_METADATA_GENICAM_CHUNK)
        {
            lData = DataOf(lPart, lSize);
        }
        if (lData == nullptr || lSize > UINT32_MAX)
        {
            return nullptr;
        }
        aLength = uint32_t(lSize);
        return lData;
    }

    /// Calls aVisit(id, data, length) for each chunk from the last to the
    /// first, until it returns false; the walk ends quietly where the bytes
    /// hold no chunk.
    template <typename Visit>
    void WalkChunks(Visit aVisit) const
    {
        uint32_t lLength = 0;
        uint8_t *lRegion = ChunkRegion(lLength);
        if (lRegion == nullptr)
        {
            return;
        }
        uint32_t lCount = 0;
        WalkChunkTrailers(lRegion, lLength, 0, false, [&](uint32_t aID, uint32_t aStart, uint32_t aSize) {
            return ++lCount <= kMaximumChunks && aVisit(aID, lRegion + aStart, aSize);
        });
    }

    /// The chunk at index aKey, or the first with the ID aKey.
    bool FindChunk(uint32_t aKey, bool aByID, uint32_t *aID, uint8_t *&aData, uint32_t &aSize) const
    {
        uint32_t lIndex = 0;
        bool lFound = false;
        WalkChunks([&](uint32_t aChunkID, uint8_t *aChunk, uint32_t aLength) {
            if (aByID ? aChunkID == aKey : lIndex == aKey)
            {
                lFound = true;
                aData = aChunk;
                aSize = aLength;
                if (aID != nullptr)
                {
                    *aID = aChunkID;
                }
                return false;
            }
            ++lIndex;
            return true;
        });
        return lFound;
    }

    /// Bytes the part's data may take: up to the next part's data, or the end
    /// of the container.
    uint64_t Room(const PartAt &aPart, uint64_t aStart) const;

    GenDCComponent &mComponent;
    const uint32_t mIndex;
};

TnResult GenDCPart::Get2DSpecificFields(TnGenDCPart2DFields &aFields) const
{
    PartAt lPart;
    TnResult lResult = ResolveKind(
        lPart, [](uint16_t aType) { return IsFamily(aType, GDC_GENERIC_PART_2D); }, sizeof(GenDCPartHeader2DBase));
    if (!lResult.IsOK())
    {
        return lResult;
    }
    const uint8_t *lHeader = lPart.Header();
    aFields.SizeX = LoadField<uint32_t>(lHeader + offsetof(GenDCPartHeader2DBase, SizeX));
    aFields.SizeY = LoadField<uint32_t>(lHeader + offsetof(GenDCPartHeader2DBase, SizeY));
    aFields.PaddingX = LoadField<uint16_t>(lHeader + offsetof(GenDCPartHeader2DBase, PaddingX));
    aFields.PaddingY = LoadField<uint16_t>(lHeader + offsetof(GenDCPartHeader2DBase, PaddingY));
    aFields.InfoReserved = LoadField<uint32_t>(lHeader + offsetof(GenDCPartHeader2DBase, InfoReserved));
    return TnResult(TN_OK);
}

TnResult GenDCPart::GetH264SpecificFields(TnGenDCPartH264Fields &aFields) const
{
    PartAt lPart;
    TnResult lResult = ResolveKind(
        lPart, [](uint16_t aType) { return aType == GDC_2D_H264; }, sizeof(GenDCPartHeaderH264));
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lResult = Get2DSpecificFields(aFields);
    const uint8_t *lInfo = lPart.Header() + offsetof(GenDCPartHeaderH264, InfoTypeSpecific);
    aFields.Reserved = lInfo[offsetof(GenDCInfoTypeSpecificH264, Reserved)];
    aFields.ProfileIDC = lInfo[offsetof(GenDCInfoTypeSpecificH264, ProfileIDC)];
    memcpy(&aFields.Flags, lInfo + offsetof(GenDCInfoTypeSpecificH264, Flags), 1);
    aFields.LevelIDC = lInfo[offsetof(GenDCInfoTypeSpecificH264, LevelIDC)];
    aFields.SpropInterleavingDepth = LoadField<uint16_t>(lInfo + offsetof(GenDCInfoTypeSpecificH264, SpropInterleavingDepth));
    aFields.SpropMaxDonDiff = LoadField<uint16_t>(lInfo + offsetof(GenDCInfoTypeSpecificH264, SpropMaxDonDiff));
    aFields.SpropDeintBufReq = LoadField<uint32_t>(lInfo + offsetof(GenDCInfoTypeSpecificH264, SpropDeintBufReq));
    aFields.SpropInitBufTime = LoadField<uint32_t>(lInfo + offsetof(GenDCInfoTypeSpecificH264, SpropInitBufTime));
    return lResult;
}

uint64_t GenDCPart::Room(const PartAt &aPart, uint64_t aStart) const
{
    const ContainerAt &lAt = aPart.mContainer;
    uint64_t lEnd = lAt.mLength;
    for (uint32_t lComponent = 0; lComponent < lAt.mCount; ++lComponent)
    {
        uint64_t lComponentOffset = 0;
        uint16_t lParts = 0;
        if (!ResolveComponent(lAt, lComponent, lComponentOffset, lParts))
        {
            continue;
        }
        for (uint32_t lIndex = 0; lIndex < lParts; ++lIndex)
        {
            PartAt lOther;
            if (!ResolvePart(lAt, lComponentOffset, lParts, lIndex, lOther) || lOther.mOffset == aPart.mOffset)
            {
                continue;
            }
            const int64_t lStart = LoadField<int64_t>(lOther.Header() + offsetof(GenDCPartHeaderBase, DataOffset));
            if (lStart >= 0 && uint64_t(lStart) >= aStart && uint64_t(lStart) < lEnd)
            {
                lEnd = uint64_t(lStart);
            }
        }
    }
    return lEnd - aStart;
}

TnResult GenDCPart::AddChunk(uint32_t aID, const uint8_t *aData, uint32_t aLength)
{
    PartAt lPart;
    if (!Resolve(lPart) || lPart.mType != GDC_METADATA_GENICAM_CHUNK)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no GenICam chunk part"));
    }
    if (aData == nullptr && aLength != 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no chunk data"));
    }
    uint8_t *lHeader = lPart.Header();
    const int64_t lStart = LoadField<int64_t>(lHeader + offsetof(GenDCPartHeaderBase, DataOffset));
    const uint64_t lUsed = LoadField<uint64_t>(lHeader + offsetof(GenDCPartHeaderBase, DataSize));
    const ContainerAt &lAt = lPart.mContainer;
    // Chunk data follows the descriptor and stays within the container.
    if (!lAt.mHoldsData || lStart < 0 || uint64_t(lStart) < lAt.mLimit || uint64_t(lStart) > lAt.mLength)
    {
        return TnResult(TN_BUFFER_TOO_SMALL, TnString("the part has no room for chunks"));
    }
    const uint64_t lRoom = Room(lPart, uint64_t(lStart));
    if (!(CheckedSize(lUsed) + aLength + kChunkTagSize).FitsIn(std::min<uint64_t>(lRoom, UINT32_MAX)))
    {
        return TnResult(TN_BUFFER_TOO_SMALL);
    }
    uint8_t *lChunk = lAt.mData + lStart + lUsed;
    if (aLength != 0)
    {
        // The bytes may come from this very container (a chunk read back).
        memmove(lChunk, aData, aLength);
    }
    PutU32(lChunk + aLength, aID);
    PutU32(lChunk + aLength + 4, aLength);
    StoreField<uint64_t>(lHeader + offsetof(GenDCPartHeaderBase, DataSize), lUsed + aLength + kChunkTagSize);
    return TnResult(TN_OK);
}

void GenDCPart::ResetChunks()
{
    PartAt lPart;
    // A descriptor alone keeps the room its chunk parts ask for.
    if (Resolve(lPart) && lPart.mType == GDC_METADATA_GENICAM_CHUNK && lPart.mContainer.mHoldsData)
    {
        StoreField<uint64_t>(lPart.Header() + offsetof(GenDCPartHeaderBase, DataSize), 0);
    }
}

GenDCComponent::~GenDCComponent() = default;

ITnGenericDataPart *GenDCComponent::GetPart(uint32_t aIndex)
{
    ContainerAt lAt;
    uint64_t lOffset = 0;
    uint16_t lParts = 0;
    PartAt lPart;
    if (!Resolve(lAt, lOffset, lParts) || !ResolvePart(lAt, lOffset, lParts, aIndex, lPart))
    {
        return nullptr;
    }
    std::lock_guard<std::mutex> lGuard(mLock);
    std::unique_ptr<GenDCPart> &lSlot = mParts[aIndex];
    if (!lSlot)
    {
        lSlot.reset(new GenDCPart(*this, aIndex));
    }
    return lSlot.get();
}

namespace
{
/// Every live container, so that a header record's address can be traced to
/// the bytes that hold it.
std::mutex gContainersLock;
std::set<const GenDCContainer *> gContainers;
} // namespace

GenDCContainer::GenDCContainer(GenDCSource &aSource) : mSource(aSource)
{
    std::lock_guard<std::mutex> lGuard(gContainersLock);
    gContainers.insert(this);
}

GenDCContainer::~GenDCContainer()
{
    std::lock_guard<std::mutex> lGuard(gContainersLock);
    gContainers.erase(this);
}

uint32_t GenDCContainer::GetComponentCount() const
{
    ContainerAt lAt;
    return ResolveContainer(mSource.GetBytes(), lAt) ? lAt.mCount : 0;
}

uint32_t GenDCContainer::GetFlowCount() const
{
    ContainerAt lAt;
    uint64_t lOffset = 0;
    uint32_t lCount = 0;
    return ResolveContainer(mSource.GetBytes(), lAt) && ResolveFlowTable(lAt, lOffset, lCount) ? lCount : 0;
}

ITnGenericDataComponent *GenDCContainer::GetComponent(uint32_t aIndex)
{
    ContainerAt lAt;
    uint64_t lOffset = 0;
    uint16_t lParts = 0;
    if (!ResolveContainer(mSource.GetBytes(), lAt) || !ResolveComponent(lAt, aIndex, lOffset, lParts))
    {
        return nullptr;
    }
    std::lock_guard<std::mutex> lGuard(mLock);
    std::unique_ptr<GenDCComponent> &lSlot = mComponents[aIndex];
    if (!lSlot)
    {
        lSlot.reset(new GenDCComponent(*this, aIndex));
    }
    return lSlot.get();
}

GenDCFlowTable *GenDCContainer::GetMutableFlowTable()
{
    ContainerAt lAt;
    uint64_t lOffset = 0;
    uint32_t lCount = 0;
    if (!ResolveContainer(mSource.GetBytes(), lAt) || !ResolveFlowTable(lAt, lOffset, lCount) ||
        !Fits(lOffset, sizeof(GenDCFlowTable), lAt.mAddressable))
    {
        return nullptr;
    }
    return reinterpret_cast<GenDCFlowTable *>(lAt.mData + lOffset);
}

const GenDCFlowTable *GenDCContainer::GetFlowTable() const
{
    return const_cast<GenDCContainer *>(this)->GetMutableFlowTable();
}

uint64_t GenDCContainer::GetDataSize() const
{
    ContainerAt lAt;
    return ResolveContainer(mSource.GetBytes(), lAt)
               ? LoadField<uint64_t>(lAt.mData + offsetof(GenDCContainerHeaderBase, DataSize))
               : 0;
}

uint64_t GenDCContainer::GetDescriptorSize() const
{
    ContainerAt lAt;
    return ResolveContainer(mSource.GetBytes(), lAt)
               ? LoadField<uint32_t>(lAt.mData + offsetof(GenDCContainerHeaderBase, DescriptorSize))
               : 0;
}

bool GenDCContainer::IsValid() const
{
    ContainerAt lAt;
    if (!ResolveContainer(mSource.GetBytes(), lAt) ||
        lAt.mData[offsetof(GenDCContainerHeaderBase, VersionMajor)] != GDC_VERSION_MAJOR)
    {
        return false;
    }
    const uint8_t *lHeader = lAt.mData;
    const uint64_t lDescriptor = LoadField<uint32_t>(lHeader + offsetof(GenDCContainerHeaderBase, DescriptorSize));
    const uint64_t lHeaderSize = LoadField<uint32_t>(lHeader + offsetof(GenDCContainerHeaderBase, HeaderSize));
    if (lDescriptor > lAt.mLength || lHeaderSize < kContainerFixed + 8ull * lAt.mCount || lHeaderSize > lDescriptor)
    {
        return false;
    }
    if (lAt.mHoldsData)
    {
        const int64_t lDataOffset = LoadField<int64_t>(lHeader + offsetof(GenDCContainerHeaderBase, DataOffset));
        const uint64_t lDataSize = LoadField<uint64_t>(lHeader + offsetof(GenDCContainerHeaderBase, DataSize));
        if (lDataOffset < 0 || !Fits(uint64_t(lDataOffset), lDataSize, lAt.mLength))
        {
            return false;
        }
    }
    uint64_t lFlowTable = 0;
    uint32_t lFlows = 0;
    const bool lHasFlowTable = ResolveFlowTable(lAt, lFlowTable, lFlows);
    if (lHasFlowTable &&
        LoadField<uint32_t>(lHeader + lFlowTable + offsetof(GenDCFlowTableHeader, HeaderSize)) < kFlowTableFixed + 8ull * lFlows)
    {
        return false;
    }

    std::vector<std::pair<uint64_t, uint64_t>> lRanges;
    for (uint32_t lComponent = 0; lComponent < lAt.mCount; ++lComponent)
    {
        uint64_t lOffset = 0;
        uint16_t lParts = 0;
        if (!ResolveComponent(lAt, lComponent, lOffset, lParts) ||
            LoadField<uint32_t>(lHeader + lOffset + offsetof(GenDCComponentHeaderBase, HeaderSize)) <
                kComponentFixed + 8ull * lParts)
        {
            return false;
        }
        for (uint32_t lIndex = 0; lIndex < lParts; ++lIndex)
        {
            PartAt lPart;
            if (!ResolvePart(lAt, lOffset, lParts, lIndex, lPart) || lPart.mHeaderSize < LeastHeaderSize(lPart.mType))
            {
                return false;
            }
            if (lHasFlowTable && LoadField<uint16_t>(lPart.Header() + offsetof(GenDCPartHeaderBase, FlowId)) >= lFlows)
            {
                return false;
            }
            const int64_t lStart = LoadField<int64_t>(lPart.Header() + offsetof(GenDCPartHeaderBase, DataOffset));
            const uint64_t lSize = LoadField<uint64_t>(lPart.Header() + offsetof(GenDCPartHeaderBase, DataSize));
            if (!lAt.mHoldsData || lSize == 0)
            {
                continue;
            }
            if (lStart < 0 || uint64_t(lStart) < lDescriptor || !Fits(uint64_t(lStart), lSize, lAt.mLength))
            {
                return false;
            }
            try
            {
                lRanges.emplace_back(uint64_t(lStart), uint64_t(lStart) + lSize);
            }
            catch (const std::bad_alloc &)
            {
                return false;
            }
        }
    }
    // No two parts share data.
    std::sort(lRanges.begin(), lRanges.end());
    for (size_t lIndex = 1; lIndex < lRanges.size(); ++lIndex)
    {
        if (lRanges[lIndex].first < lRanges[lIndex - 1].second)
        {
            return false;
        }
    }
    return true;
}

GenDCContainerHeader *GenDCContainer::GetMutableHeader()
{
    // Also a header that is no container's: it can be mended through the record.
    const GenDCBytes lBytes = mSource.GetBytes();
    if (lBytes.mData == nullptr || lBytes.mAddressable < sizeof(GenDCContainerHeader))
    {
        return nullptr;
    }
    return reinterpret_cast<GenDCContainerHeader *>(lBytes.mData);
}

const GenDCContainerHeader *GenDCContainer::GetHeader() const
{
    return const_cast<GenDCContainer *>(this)->GetMutableHeader();
}

uint32_t GenDCContainer::AddComponent(TnComponentType aComponentType)
{
    return mSource.AddComponent(aComponentType);
}

uint64_t GenDCContainer::BytesAt(const void *aAddress)
{
    const uint8_t *lAddress = static_cast<const uint8_t *>(aAddress);
    std::lock_guard<std::mutex> lGuard(gContainersLock);
    for (const GenDCContainer *lContainer : gContainers)
    {
        const GenDCBytes lBytes = lContainer->mSource.GetBytes();
        if (lBytes.mData != nullptr && lAddress >= lBytes.mData && lAddress < lBytes.mData + lBytes.mAddressable)
        {
            return uint64_t(lBytes.mData + lBytes.mAddressable - lAddress);
        }
    }
    return 0;
}

GenDCArea::GenDCArea(uint8_t *aData, uint64_t aLength) : mData(aData), mLength(aLength), mContainer(*this)
{
}

GenDCArea::~GenDCArea() = default;

GenDCBytes GenDCArea::GetBytes() const
{
    GenDCBytes lBytes;
    lBytes.mData = mData;
    lBytes.mLength = mData != nullptr ? mLength : 0;
    lBytes.mAddressable = lBytes.mLength;
    return lBytes;
}
} // namespace buffer
} // namespace tn

uint64_t TnGenDCBytesAt(const void *aAddress)
{
    return tn::buffer::GenDCContainer::BytesAt(aAddress);
}
