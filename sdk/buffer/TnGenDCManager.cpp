#include <stddef.h>
#include <string.h>

#include <algorithm>

#include "TnBufferInternal.h"
#include "TnCheckedSize.h"
#include "TnGenDCContainer.h"
#include "TnGenDCFields.h"

namespace tn
{
namespace buffer
{
namespace
{
constexpr uint32_t kMostFlows = 0x10000;
constexpr uint64_t kDataAlignment = 8;

uint64_t Align(uint64_t aOffset)
{
    return (aOffset + kDataAlignment - 1) & ~(kDataAlignment - 1);
}

/// The header's type value of a component type; false for a type the SDK
/// does not name.
bool ComponentTypeId(TnComponentType aType, uint64_t &aTypeId)
{
    switch (aType)
    {
    case TnComponentUndefined:
    case TnComponentIntensity:
    case TnComponentInfrared:
    case TnComponentUltraviolet:
    case TnComponentRange:
    case TnComponentReflectance:
    case TnComponentConfidence:
    case TnComponentScatter:
    case TnComponentDisparity:
    case TnComponentMultispectral:
    case TnComponentMetadata:
        aTypeId = uint64_t(aType);
        return true;
    case TnComponentCustom:
        aTypeId = GDC_CUSTOM_COMPONENT;
        return true;
    case TnComponentReserved:
        aTypeId = GDC_RESERVED_COMPONENT;
        return true;
    default:
        return false;
    }
}

/// The header type and header size of a part type; false for a type the SDK
/// does not name.
bool PartHeaderOf(TnGenDCPartType aType, uint16_t &aHeaderType, uint32_t &aHeaderSize)
{
    switch (aType)
    {
    case TnGenDCPartMetadataGenICamChunk:
    case TnGenDCPartMetadataGenICamXML:
    case TnGenDCPart1D:
        aHeaderType = uint16_t(aType);
        aHeaderSize = sizeof(GenDCPartHeader1DBase);
        return true;
    case TnGenDCPart2D:
    case TnGenDCPart2DJpeg:
    case TnGenDCPart2DJpeg2000:
        aHeaderType = uint16_t(aType);
        aHeaderSize = sizeof(GenDCPartHeader2DBase);
        return true;
    case TnGenDCPart2DH264:
        aHeaderType = uint16_t(aType);
        aHeaderSize = sizeof(GenDCPartHeaderH264);
        return true;
    case TnGenDCPartMetadataCustom:
        aHeaderType = TypeMetadataCustom;
        aHeaderSize = sizeof(GenDCPartHeader1DBase);
        return true;
    case TnGenDCPart1DCustom:
        aHeaderType = Type1DCustom;
        aHeaderSize = sizeof(GenDCPartHeader1DBase);
        return true;
    case TnGenDCPart2DCustom:
        aHeaderType = Type2DCustom;
        aHeaderSize = sizeof(GenDCPartHeader2DBase);
        return true;
    case TnGenDCPartCustom:
        aHeaderType = TypeCustomPart;
        aHeaderSize = sizeof(GenDCPartHeaderBase);
        return true;
    default:
        return false;
    }
}

/// Bytes the geometry of a 1-D or 2-D part needs; 0 when it names none.
uint64_t GeometrySize(const uint8_t *aHeader, uint32_t aHeaderSize)
{
    const uint16_t lType = LoadField<uint16_t>(aHeader + offsetof(GenDCPartHeaderBase, HeaderType));
    const TnPixelType lFormat = TnPixelType(LoadField<int32_t>(aHeader + offsetof(GenDCPartHeaderBase, Format)));
    if (lType == GDC_2D && aHeaderSize >= sizeof(GenDCPartHeader2DBase))
    {
        ImageGeometry lGeometry;
        lGeometry.mPixelType = lFormat;
        lGeometry.mWidth = LoadField<uint32_t>(aHeader + offsetof(GenDCPartHeader2DBase, SizeX));
        lGeometry.mHeight = LoadField<uint32_t>(aHeader + offsetof(GenDCPartHeader2DBase, SizeY));
        lGeometry.mPaddingX = LoadField<uint16_t>(aHeader + offsetof(GenDCPartHeader2DBase, PaddingX));
        lGeometry.mPaddingY = LoadField<uint16_t>(aHeader + offsetof(GenDCPartHeader2DBase, PaddingY));
        uint32_t lSize = 0;
        return ComputeImageSize(lGeometry, lSize) ? lSize : 0;
    }
    if (lType == GDC_1D && aHeaderSize >= sizeof(GenDCPartHeader1DBase))
    {
        // Elements of the format's size, bytes when it names none.
        const uint64_t lBits = TnPixelTypeGetBitsPerPixel(lFormat) != 0 ? TnPixelTypeGetBitsPerPixel(lFormat) : 8;
        const uint64_t lCount = LoadField<uint64_t>(aHeader + offsetof(GenDCPartHeader1DBase, SizeX));
        const CheckedSize lSize = (CheckedSize(lCount) * lBits).DividedUp(8) +
                                  LoadField<uint16_t>(aHeader + offsetof(GenDCPartHeader1DBase, PaddingX));
        uint64_t lBytes = 0; // 0 beyond 2^63
        lSize.Get(lBytes, UINT64_MAX / 2);
        return lBytes;
    }
    return 0;
}
} // namespace

GenDCManager::Places GenDCManager::Place(const Structure &aStructure, uint32_t aFlows)
{
    Places lPlaces;
    uint64_t lAt = kContainerFixed + 8ull * aStructure.size();
    lPlaces.mFlowTable = lAt;
    lAt += kFlowTableFixed + 8ull * aFlows;
    for (const std::vector<uint32_t> &lParts : aStructure)
    {
        lPlaces.mComponents.push_back(lAt);
        lAt += kComponentFixed + 8ull * lParts.size();
    }
    for (const std::vector<uint32_t> &lParts : aStructure)
    {
        lPlaces.mParts.emplace_back();
        for (uint32_t lSize : lParts)
        {
            lPlaces.mParts.back().push_back(lAt);
            lAt += lSize;
        }
    }
    lPlaces.mEnd = lAt;
    return lPlaces;
}

GenDCManager::GenDCManager() : mDescriptor(new uint8_t[kDescriptorCapacity]())
{
    Rebuild(Structure(), 1);
    mContainer.reset(new GenDCContainer(*this));
}

GenDCManager::~GenDCManager() = default;

GenDCBytes GenDCManager::GetBytes() const
{
    GenDCBytes lBytes;
    lBytes.mData = mDescriptor.get();
    lBytes.mLength = mDescriptorSize.load();
    lBytes.mAddressable = kDescriptorCapacity;
    lBytes.mHoldsData = false;
    return lBytes;
}

bool GenDCManager::Rebuild(const Structure &aStructure, uint32_t aLeastFlows)
{
    uint8_t *lDescriptor = mDescriptor.get();
    const uint64_t lOldSize = mDescriptorSize.load();
    const bool lHadHeader = lOldSize >= kContainerFixed;
    const Places lOld = Place(mStructure, mFlows);

    // Enough flows for every flow a part names.
    uint32_t lFlows = std::max<uint32_t>(aLeastFlows, 1);
    for (size_t lComponent = 0; lComponent < mStructure.size(); ++lComponent)
    {
        for (uint64_t lPart : lOld.mParts[lComponent])
        {
            const uint32_t lFlow = LoadField<uint16_t>(lDescriptor + lPart + offsetof(GenDCPartHeaderBase, FlowId));
            lFlows = std::max(lFlows, lFlow + 1);
        }
    }
    const Places lNew = Place(aStructure, std::min(lFlows, kMostFlows));
    if (lNew.mEnd > kDescriptorCapacity)
    {
        return false;
    }
    const std::vector<uint8_t> lSaved(lDescriptor, lDescriptor + lOldSize);
    memset(lDescriptor, 0, std::max(lOldSize, lNew.mEnd));

    // The container header: its own fields as they were, its identity, sizes
    // and component offsets anew.
    if (lHadHeader)
    {
        memcpy(lDescriptor, lSaved.data(), kContainerFixed);
    }
    StoreField<int32_t>(lDescriptor + offsetof(GenDCContainerHeaderBase, Signature), GDC_SIGNATURE);
    lDescriptor[offsetof(GenDCContainerHeaderBase, VersionMajor)] = GDC_VERSION_MAJOR;
    lDescriptor[offsetof(GenDCContainerHeaderBase, VersionMinor)] = GDC_VERSION_MINOR;
    lDescriptor[offsetof(GenDCContainerHeaderBase, VersionSubMinor)] = GDC_VERSION_SUBMINOR;
    StoreField<uint16_t>(lDescriptor + offsetof(GenDCContainerHeaderBase, HeaderType), GDC_CONTAINER_HEADER);
    StoreField<uint32_t>(lDescriptor + offsetof(GenDCContainerHeaderBase, HeaderSize),
                    uint32_t(kContainerFixed + 8 * aStructure.size()));
    StoreField<uint32_t>(lDescriptor + offsetof(GenDCContainerHeaderBase, DescriptorSize), uint32_t(lNew.mEnd));
    StoreField<uint32_t>(lDescriptor + offsetof(GenDCContainerHeaderBase, ComponentCount), uint32_t(aStructure.size()));
    for (size_t lComponent = 0; lComponent < aStructure.size(); ++lComponent)
    {
        StoreField<int64_t>(lDescriptor + kContainerFixed + 8 * lComponent, int64_t(lNew.mComponents[lComponent]));
    }

    // The flow table; its sizes come with the data's layout.
    uint8_t *lTable = lDescriptor + lNew.mFlowTable;
    const uint32_t lTableFlows = std::min(lFlows, kMostFlows);
    if (lHadHeader)
    {
        memcpy(lTable + offsetof(GenDCFlowTableHeader, Flags),
               lSaved.data() + lOld.mFlowTable + offsetof(GenDCFlowTableHeader, Flags), sizeof(GenDCHeaderFlags));
    }
    StoreField<uint16_t>(lTable + offsetof(GenDCFlowTableHeader, HeaderType), GDC_FLOW_TABLE_HEADER);
    StoreField<uint32_t>(lTable + offsetof(GenDCFlowTableHeader, HeaderSize),
                    uint32_t(kFlowTableFixed + 8ull * lTableFlows));
    lTable[offsetof(GenDCFlowTableHeader, VersionMajor)] = GDC_VERSION_MAJOR;
    lTable[offsetof(GenDCFlowTableHeader, VersionMinor)] = GDC_VERSION_MINOR;
    StoreField<uint32_t>(lTable + offsetof(GenDCFlowTableHeader, FlowCount), lTableFlows);

    for (size_t lComponent = 0; lComponent < aStructure.size(); ++lComponent)
    {
        const bool lKept = lComponent < mStructure.size();
        uint8_t *lHeader = lDescriptor + lNew.mComponents[lComponent];
        if (lKept)
        {
            memcpy(lHeader, lSaved.data() + lOld.mComponents[lComponent], kComponentFixed);
        }
        const std::vector<uint32_t> &lParts = aStructure[lComponent];
        StoreField<uint16_t>(lHeader + offsetof(GenDCComponentHeaderBase, HeaderType), GDC_COMPONENT_HEADER);
        StoreField<uint32_t>(lHeader + offsetof(GenDCComponentHeaderBase, HeaderSize),
                        uint32_t(kComponentFixed + 8 * lParts.size()));
        StoreField<uint16_t>(lHeader + offsetof(GenDCComponentHeaderBase, PartCount), uint16_t(lParts.size()));
        for (size_t lPart = 0; lPart < lParts.size(); ++lPart)
        {
            StoreField<int64_t>(lHeader + kComponentFixed + 8 * lPart, int64_t(lNew.mParts[lComponent][lPart]));
            uint8_t *lPartHeader = lDescriptor + lNew.mParts[lComponent][lPart];
            if (lKept && lPart < mStructure[lComponent].size())
            {
                memcpy(lPartHeader, lSaved.data() + lOld.mParts[lComponent][lPart],
                       std::min(lParts[lPart], mStructure[lComponent][lPart]));
            }
            StoreField<uint32_t>(lPartHeader + offsetof(GenDCPartHeaderBase, HeaderSize), lParts[lPart]);
        }
    }
    mStructure = aStructure;
    mFlows = lTableFlows;
    mDescriptorSize.store(lNew.mEnd);
    return true;
}

uint64_t GenDCManager::LayOut()
{
    uint8_t *lDescriptor = mDescriptor.get();
    Places lPlaces = Place(mStructure, mFlows);
    // A flow named since the last layout grows the flow table first.
    uint32_t lNeeded = 1;
    for (const std::vector<uint64_t> &lParts : lPlaces.mParts)
    {
        for (uint64_t lPart : lParts)
        {
            lNeeded = std::max<uint32_t>(
                lNeeded, LoadField<uint16_t>(lDescriptor + lPart + offsetof(GenDCPartHeaderBase, FlowId)) + 1u);
        }
    }
    if (lNeeded > mFlows && Rebuild(mStructure, lNeeded))
    {
        lPlaces = Place(mStructure, mFlows);
    }

    // Each flow's parts in the descriptor's order; a flow beyond the table
    // counts as its last.
    std::vector<std::vector<uint8_t *>> lByFlow(mFlows);
    for (size_t lComponent = 0; lComponent < mStructure.size(); ++lComponent)
    {
        for (size_t lPart = 0; lPart < mStructure[lComponent].size(); ++lPart)
        {
            uint8_t *lHeader = lDescriptor + lPlaces.mParts[lComponent][lPart];
            const uint32_t lFlow = LoadField<uint16_t>(lHeader + offsetof(GenDCPartHeaderBase, FlowId));
            lByFlow[std::min(lFlow, mFlows - 1)].push_back(lHeader);
        }
    }
    const uint64_t lDescriptorSize = lPlaces.mEnd;
    // Sizes stay far below 2^64: a part's data size counts at most 2^62.
    const uint64_t kMostData = uint64_t(1) << 62;
    uint64_t lAt = lDescriptorSize;
    uint8_t *lTable = lDescriptor + lPlaces.mFlowTable;
    for (uint32_t lFlow = 0; lFlow < mFlows; ++lFlow)
    {
        const uint64_t lBase = lFlow == 0 ? 0 : lAt;
        for (size_t lIndex = 0; lIndex < lByFlow[lFlow].size(); ++lIndex)
        {
            uint8_t *lHeader = lByFlow[lFlow][lIndex];
            const uint32_t lHeaderSize = LoadField<uint32_t>(lHeader + offsetof(GenDCPartHeaderBase, HeaderSize));
            uint64_t lSize = std::max(LoadField<uint64_t>(lHeader + offsetof(GenDCPartHeaderBase, DataSize)),
                                      GeometrySize(lHeader, lHeaderSize));
            lSize = std::min(lSize, kMostData);
            lAt = std::min(Align(lAt), kMostData);
            StoreField<uint64_t>(lHeader + offsetof(GenDCPartHeaderBase, DataSize), lSize);
            StoreField<int64_t>(lHeader + offsetof(GenDCPartHeaderBase, FlowOffset), int64_t(lAt - lBase));
            StoreField<int64_t>(lHeader + offsetof(GenDCPartHeaderBase, DataOffset), int64_t(lAt));
            lAt += lSize;
        }
        lAt = Align(lAt);
        StoreField<uint64_t>(lTable + offsetof(GenDCFlowTable, FlowSize) + 8ull * lFlow, lAt - lBase);
    }
    StoreField<uint64_t>(lDescriptor + offsetof(GenDCContainerHeaderBase, DataSize), lAt - lDescriptorSize);
    StoreField<int64_t>(lDescriptor + offsetof(GenDCContainerHeaderBase, DataOffset), int64_t(lDescriptorSize));
    return lAt;
}

uint64_t GenDCManager::GetTotalPayloadSize() const
{
    std::lock_guard<std::mutex> lGuard(mLock);
    // Laying the data out writes only what the layout decides.
    return const_cast<GenDCManager *>(this)->LayOut();
}

ITnGenericDataContainer *GenDCManager::GetGenDC() const
{
    return mContainer.get();
}

void GenDCManager::ResetContainer()
{
    std::lock_guard<std::mutex> lGuard(mLock);
    memset(mDescriptor.get(), 0, mDescriptorSize.load());
    mDescriptorSize.store(0);
    mStructure.clear();
    mFlows = 0;
    Rebuild(Structure(), 1);
}

TnResult GenDCManager::WriteContainer(uint8_t *aArea, uint64_t aSize, uint64_t &aWritten) const
{
    std::lock_guard<std::mutex> lGuard(mLock);
    GenDCManager &lSelf = const_cast<GenDCManager &>(*this);
    aWritten = lSelf.LayOut();
    if (aArea == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no area to lay the container into"));
    }
    if (aSize < aWritten)
    {
        return TnResult(TN_BUFFER_TOO_SMALL);
    }
    const uint64_t lDescriptorSize = mDescriptorSize.load();
    memcpy(aArea, mDescriptor.get(), lDescriptorSize);
    // A chunk part holds no chunks yet: its data size grows with them.
    const Places lPlaces = Place(mStructure, mFlows);
    for (const std::vector<uint64_t> &lParts : lPlaces.mParts)
    {
        for (uint64_t lPart : lParts)
        {
            if (LoadField<uint16_t>(aArea + lPart + offsetof(GenDCPartHeaderBase, HeaderType)) == GDC_METADATA_GENICAM_CHUNK)
            {
                StoreField<uint64_t>(aArea + lPart + offsetof(GenDCPartHeaderBase, DataSize), 0);
            }
        }
    }
    return TnResult(TN_OK);
}

uint32_t GenDCManager::AddComponent(TnComponentType aType)
{
    uint64_t lTypeId = 0;
    if (!ComponentTypeId(aType, lTypeId))
    {
        return kGenDCInvalidComponent;
    }
    std::lock_guard<std::mutex> lGuard(mLock);
    Structure lStructure = mStructure;
    lStructure.emplace_back();
    if (lStructure.size() >= kGenDCInvalidComponent || !Rebuild(lStructure, mFlows))
    {
        return kGenDCInvalidComponent;
    }
    const uint32_t lIndex = uint32_t(mStructure.size() - 1);
    const Places lPlaces = Place(mStructure, mFlows);
    StoreField<uint64_t>(mDescriptor.get() + lPlaces.mComponents[lIndex] + offsetof(GenDCComponentHeaderBase, TypeId),
                    lTypeId);
    LayOut();
    return lIndex;
}

uint32_t GenDCManager::AddPart(uint32_t aComponent, TnGenDCPartType aType, uint32_t aFlow)
{
    uint16_t lHeaderType = 0;
    uint32_t lHeaderSize = 0;
    if (!PartHeaderOf(aType, lHeaderType, lHeaderSize) || aFlow >= kMostFlows)
    {
        return kGenDCInvalidPart;
    }
    std::lock_guard<std::mutex> lGuard(mLock);
    if (aComponent >= mStructure.size() || mStructure[aComponent].size() >= kGenDCInvalidPart)
    {
        return kGenDCInvalidPart;
    }
    Structure lStructure = mStructure;
    lStructure[aComponent].push_back(lHeaderSize);
    if (!Rebuild(lStructure, std::max(mFlows, aFlow + 1)))
    {
        return kGenDCInvalidPart;
    }
    const uint32_t lIndex = uint32_t(mStructure[aComponent].size() - 1);
    uint8_t *lHeader = mDescriptor.get() + Place(mStructure, mFlows).mParts[aComponent][lIndex];
    StoreField<uint16_t>(lHeader + offsetof(GenDCPartHeaderBase, HeaderType), lHeaderType);
    StoreField<uint16_t>(lHeader + offsetof(GenDCPartHeaderBase, FlowId), uint16_t(aFlow));
    LayOut();
    return lIndex;
}
} // namespace buffer
} // namespace tn
