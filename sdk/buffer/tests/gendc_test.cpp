#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <random>
#include <vector>

#include "TnBuffer.h"
#include "TnBufferInternal.h"
#include "TnGenDCContainer.h"

using tn::buffer::GenDCArea;
using tn::buffer::GenDCManager;

namespace
{
/// A manager's container: an intensity component with a Mono8 image part on
/// flow 0 and a chunk part on flow 1, and a metadata component with an XML
/// part.
void Build(GenDCManager &aManager)
{
    ITnGenericDataContainer *lContainer = aManager.GetGenDC();
    const uint32_t lImage = lContainer->AddComponent(TnComponentIntensity);
    const uint32_t lMeta = lContainer->AddComponent(TnComponentMetadata);
    ASSERT_EQ(lImage, 0u);
    ASSERT_EQ(lMeta, 1u);
    ITnGenericDataComponent *lComponent = lContainer->GetComponent(lImage);
    ASSERT_EQ(lComponent->AddPart(TnGenDCPart2D, 0), 0u);
    ASSERT_EQ(lComponent->AddPart(TnGenDCPartMetadataGenICamChunk, 1), 1u);
    ASSERT_EQ(lContainer->GetComponent(lMeta)->AddPart(TnGenDCPartMetadataGenICamXML, 0), 0u);

    auto *lHeader = static_cast<GenDCPartHeader2D *>(lComponent->GetPart(0)->GetMutableHeader());
    lHeader->Format = GenDCFormat(TnPixelMono8);
    lHeader->SizeX = 64;
    lHeader->SizeY = 48;
    lComponent->GetPart(1)->GetMutableHeader()->DataSize = 40;
    lContainer->GetComponent(lMeta)->GetPart(0)->GetMutableHeader()->DataSize = 13;
    lComponent->GetMutableHeader()->GroupId = 7;
}

/// Memory whose last byte is followed by a page that cannot be read: a read
/// past aSize bytes ends the test with a fault.
class GuardedBytes
{
public:
    explicit GuardedBytes(size_t aSize)
    {
        mPage = size_t(sysconf(_SC_PAGESIZE));
        mMapped = ((aSize + mPage - 1) / mPage + 1) * mPage;
        mBase = static_cast<uint8_t *>(mmap(nullptr, mMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(mBase + mMapped - mPage, mPage, PROT_NONE);
        mData = mBase + mMapped - mPage - aSize;
    }
    ~GuardedBytes() { munmap(mBase, mMapped); }
    uint8_t *Data() { return mData; }

private:
    size_t mPage = 0;
    size_t mMapped = 0;
    uint8_t *mBase = nullptr;
    uint8_t *mData = nullptr;
};

/// Calls every getter of the container, its components, parts and views; what
/// they answer is not looked at.
uint64_t WalkAll(ITnGenericDataContainer &aContainer)
{
    uint64_t lSum = aContainer.IsValid() + aContainer.GetDataSize() + aContainer.GetDescriptorSize() +
                    aContainer.GetFlowCount() + (aContainer.GetFlowTable() != nullptr);
    const uint32_t lComponents = std::min<uint32_t>(aContainer.GetComponentCount(), 64);
    for (uint32_t lIndex = 0; lIndex <= lComponents; ++lIndex)
    {
        ITnGenericDataComponent *lComponent = aContainer.GetComponent(lIndex);
        if (lComponent == nullptr)
        {
            continue;
        }
        lSum += lComponent->GetFlags() + lComponent->GetHeaderSize() + lComponent->GetTypeID() +
                lComponent->GetTypeIDEnum() + lComponent->GetFormat() + lComponent->GetTimestamp() +
                lComponent->GetPartHeaderOffset(0) + (lComponent->GetHeader() != nullptr);
        const uint32_t lParts = std::min<uint32_t>(lComponent->GetPartCount(), 64);
        for (uint32_t lPartIndex = 0; lPartIndex <= lParts; ++lPartIndex)
        {
            ITnGenericDataPart *lPart = lComponent->GetPart(lPartIndex);
            if (lPart == nullptr)
            {
                continue;
            }
            lSum += lPart->GetHeaderType() + lPart->GetHeaderTypeEnum() + lPart->GetDataSize() +
                    lPart->GetDataOffset() + lPart->GetFlowOffset() + lPart->GetFlowID();
            if (const uint8_t *lData = lPart->GetDataPointer())
            {
                for (uint64_t lByte = 0; lByte < lPart->GetDataSize(); lByte += 997)
                {
                    lSum += lData[lByte];
                }
                lSum += lData[lPart->GetDataSize() - 1];
            }
            TnGenDCPartH264Fields lFields{};
            lSum += lPart->GetH264SpecificFields(lFields).GetCode() + lPart->Get2DSpecificFields(lFields).GetCode();
            if (ITnGenDCImage *lImage = lPart->GetGenDCImage())
            {
                lSum += lImage->GetWidth() + lImage->GetHeight() + lImage->GetImageSize() + lImage->GetBlockID();
            }
            if (ITnGenDCChunkData *lChunks = lPart->GetGenDCChunkData())
            {
                for (uint32_t lChunk = 0; lChunk < std::min<uint32_t>(lChunks->GetChunkCount(), 16); ++lChunk)
                {
                    const uint8_t *lData = lChunks->GetChunkRawDataByIndex(lChunk);
                    const uint32_t lSize = lChunks->GetChunkSizeByIndex(lChunk);
                    lSum += lSize != 0 ? lData[0] + lData[lSize - 1] : 0;
                }
                lSum += lChunks->HasChunks() + lChunks->GetChunkSizeByID(5);
            }
        }
    }
    return lSum;
}
} // namespace

TEST(GenDC, ManagerLaysOutDescriptorFlowsAndData)
{
    GenDCManager lManager;
    Build(lManager);
    ITnGenericDataContainer *lDescriptor = lManager.GetGenDC();
    EXPECT_TRUE(lDescriptor->IsValid());
    EXPECT_EQ(lDescriptor->GetFlowCount(), 2u);

    // Container header 56 + 2 * 8, flow table 16 + 2 * 8, components 48 + 16
    // and 48 + 8, parts 56 + 64 + 64.
    const uint64_t lDescriptorSize = 72 + 32 + 64 + 56 + 184;
    const uint64_t lTotal = lManager.GetTotalPayloadSize();
    EXPECT_EQ(lDescriptor->GetDescriptorSize(), lDescriptorSize);
    // Flow 0: the descriptor, the 64 x 48 image, the 13 XML bytes (8-aligned);
    // flow 1: the 40 chunk bytes.
    EXPECT_EQ(lTotal, lDescriptorSize + 3072 + 16 + 40);
    const GenDCFlowTable *lFlows = lDescriptor->GetFlowTable();
    ASSERT_NE(lFlows, nullptr);
    EXPECT_EQ(lFlows->FlowSize[0], lDescriptorSize + 3072 + 16);
    EXPECT_EQ((&lFlows->FlowSize[0])[1], 40u);

    std::vector<uint8_t> lBytes(lTotal, 0xEE);
    uint64_t lWritten = 0;
    EXPECT_EQ(lManager.WriteContainer(lBytes.data(), lTotal - 1, lWritten).GetCode(), TN_BUFFER_TOO_SMALL);
    ASSERT_TRUE(lManager.WriteContainer(lBytes.data(), lBytes.size(), lWritten).IsOK());
    EXPECT_EQ(lWritten, lTotal);

    GenDCArea lArea(lBytes.data(), lBytes.size());
    ITnGenericDataContainer &lContainer = lArea.GetContainer();
    EXPECT_TRUE(lContainer.IsValid());
    ASSERT_EQ(lContainer.GetComponentCount(), 2u);
    ITnGenericDataComponent *lComponent = lContainer.GetComponent(0);
    EXPECT_EQ(lComponent->GetTypeIDEnum(), TnComponentIntensity);
    EXPECT_EQ(lComponent->GetGroupID(), 7u);
    EXPECT_EQ(lComponent->GetHeaderSize(), 64u);
    ITnGenericDataPart *lImage = lComponent->GetPart(0);
    EXPECT_EQ(lImage->GetDataOffset(), lDescriptorSize);
    EXPECT_EQ(lImage->GetDataPointer(), lBytes.data() + lDescriptorSize);
    ITnGenDCImage *lView = lImage->GetGenDCImage();
    ASSERT_NE(lView, nullptr);
    EXPECT_EQ(lView->GetWidth(), 64u);
    EXPECT_EQ(lView->GetImageSize(), 3072u);
    EXPECT_EQ(lContainer.GetComponent(1)->GetPart(0)->GetDataOffset(), lDescriptorSize + 3072);
    // The chunk part starts empty in the laid container, with its room on flow 1.
    ITnGenericDataPart *lChunkPart = lComponent->GetPart(1);
    EXPECT_EQ(lChunkPart->GetFlowID(), 1u);
    EXPECT_EQ(lChunkPart->GetFlowOffset(), 0u);
    EXPECT_EQ(lChunkPart->GetDataSize(), 0u);
    EXPECT_EQ(lChunkPart->GetGenDCImage(), nullptr);
    EXPECT_EQ(lImage->GetGenDCChunkWriter(), nullptr);
}

TEST(GenDC, HeadersKeepWhatAProgramWroteWhileTheDescriptorGrows)
{
    GenDCManager lManager;
    Build(lManager);
    ITnGenericDataContainer *lContainer = lManager.GetGenDC();
    lContainer->GetMutableHeader()->Id = 99;
    lContainer->GetComponent(1)->GetMutableHeader()->Timestamp = -5;
    // A third component moves every header up by 8 bytes and more.
    ASSERT_EQ(lContainer->AddComponent(TnComponentRange), 2u);
    ASSERT_EQ(lContainer->GetComponent(2)->AddPart(TnGenDCPart2DH264, 3), 0u);
    EXPECT_EQ(lContainer->GetHeader()->Id, 99u);
    EXPECT_EQ(lContainer->GetComponent(0)->GetGroupID(), 7u);
    EXPECT_EQ(lContainer->GetComponent(1)->GetTimestamp(), uint64_t(-5));
    EXPECT_EQ(lContainer->GetComponent(0)->GetPart(0)->GetGenDCImage()->GetHeight(), 48u);
    EXPECT_EQ(lContainer->GetComponent(2)->GetPart(0)->GetHeaderSize(), 72u);
    EXPECT_EQ(lContainer->GetFlowCount(), 4u);
    EXPECT_TRUE(lContainer->IsValid());

    // What the descriptor cannot take is refused.
    EXPECT_EQ(lContainer->AddComponent(TnComponentType(12345)), 0xFFFFFFFFu);
    EXPECT_EQ(lContainer->GetComponent(0)->AddPart(TnGenDCPartUnknown, 0), 0xFFFFu);
    EXPECT_EQ(lContainer->GetComponent(0)->AddPart(TnGenDCPart1D, 0x10000), 0xFFFFu);
    EXPECT_EQ(lContainer->GetComponentCount(), 3u);
}

TEST(GenDC, ResetLeavesEarlierComponentsAndPartsAnsweringAsGone)
{
    GenDCManager lManager;
    Build(lManager);
    ITnGenericDataContainer *lContainer = lManager.GetGenDC();
    ITnGenericDataComponent *lComponent = lContainer->GetComponent(0);
    ITnGenericDataPart *lPart = lComponent->GetPart(0);
    ITnGenDCImage *lImage = lPart->GetGenDCImage();
    lManager.ResetContainer();
    EXPECT_EQ(lContainer->GetComponentCount(), 0u);
    EXPECT_EQ(lContainer->GetComponent(0), nullptr);
    EXPECT_EQ(lComponent->GetHeader(), nullptr);
    EXPECT_EQ(lComponent->GetPartCount(), 0u);
    EXPECT_EQ(lPart->GetDataSize(), 0u);
    EXPECT_EQ(lPart->GetGenDCImage(), nullptr);
    EXPECT_EQ(lImage->GetWidth(), 0u);
    EXPECT_EQ(lImage->GetDataPointer(), nullptr);
    TnGenDCPart2DFields lFields{};
    EXPECT_EQ(lPart->Get2DSpecificFields(lFields).GetCode(), TN_NOT_FOUND);
    EXPECT_EQ(lManager.GetTotalPayloadSize(), 56u + 24u);
    EXPECT_TRUE(lContainer->IsValid());
    // The same objects answer for what is built anew at their places.
    ASSERT_EQ(lContainer->AddComponent(TnComponentConfidence), 0u);
    EXPECT_EQ(lContainer->GetComponent(0), lComponent);
    EXPECT_EQ(lComponent->GetTypeIDEnum(), TnComponentConfidence);
}

TEST(GenDC, ChunkWriterAndReaderShareTheCodecWithinThePartsRoom)
{
    GenDCManager lManager;
    Build(lManager);
    TnBuffer lBuffer(TnPayloadTypeGenDC);
    ASSERT_TRUE(lBuffer.AttachGenDCManager(lManager).IsOK());
    EXPECT_EQ(lBuffer.GetSize(), lManager.GetTotalPayloadSize());
    EXPECT_EQ(lBuffer.GetPayloadSize(), lManager.GetTotalPayloadSize());
    ITnGenericDataPart *lPart = lBuffer.GetGenDC()->GetComponent(0)->GetPart(1);
    ITnGenDCChunkWriter *lWriter = lPart->GetGenDCChunkWriter();
    ITnGenDCChunkData *lChunks = lPart->GetGenDCChunkData();
    ASSERT_NE(lWriter, nullptr);
    EXPECT_FALSE(lChunks->HasChunks());

    const uint8_t lFirst[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t lSecond[12] = {9, 9, 9, 9, 8, 8, 8, 8, 7, 7, 7, 7};
    ASSERT_TRUE(lWriter->AddChunk(0x10, lFirst, sizeof(lFirst)).IsOK());
    ASSERT_TRUE(lWriter->AddChunk(0x20, lSecond, sizeof(lSecond)).IsOK());
    // 40 bytes of room: 16 + 20 taken, no room for 4 more bytes and a tag.
    EXPECT_EQ(lWriter->AddChunk(0x30, lFirst, 4).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_EQ(lPart->GetDataSize(), 36u);
    ASSERT_EQ(lChunks->GetChunkCount(), 2u);
    uint32_t lID = 0;
    EXPECT_TRUE(lChunks->GetChunkIDByIndex(0, lID).IsOK());
    EXPECT_EQ(lID, 0x20u); // counted from the end
    EXPECT_EQ(lChunks->GetChunkSizeByID(0x10), 8u);
    EXPECT_EQ(memcmp(lChunks->GetChunkRawDataByID(0x10), lFirst, 8), 0);
    EXPECT_EQ(lChunks->GetChunkIDByIndex(2, lID).GetCode(), TN_NOT_FOUND);
    EXPECT_EQ(lID, 0u);
    EXPECT_EQ(lChunks->GetChunkRawDataByIndex(2), nullptr);

    lWriter->ResetChunks();
    EXPECT_EQ(lChunks->GetChunkCount(), 0u);
    EXPECT_EQ(lWriter->AddChunk(0x30, nullptr, 4).GetCode(), TN_INVALID_PARAMETER);
    // A descriptor alone has no room, and keeps the room its part asks for.
    ITnGenericDataPart *lDescribed = lManager.GetGenDC()->GetComponent(0)->GetPart(1);
    EXPECT_EQ(lDescribed->GetGenDCChunkWriter()->AddChunk(1, lFirst, 8).GetCode(), TN_BUFFER_TOO_SMALL);
    lDescribed->GetGenDCChunkWriter()->ResetChunks();
    EXPECT_EQ(lDescribed->GetDataSize(), 40u);
}

TEST(GenDC, BufferCarriesLaidReceivedAndAttachedContainers)
{
    TnBuffer lBuffer(TnPayloadTypeImage);
    GenDCManager lManager;
    Build(lManager);
    EXPECT_EQ(lBuffer.AttachGenDCManager(lManager).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lBuffer.GetGenDC(), nullptr);
    lBuffer.Reset(TnPayloadTypeGenDC);
    EXPECT_EQ(lBuffer.GetGenDC(), nullptr); // no memory

    // Memory of the caller's that is too small is refused, not replaced.
    std::vector<uint8_t> lSmall(64);
    ASSERT_TRUE(lBuffer.Attach(lSmall.data(), uint32_t(lSmall.size())).IsOK());
    EXPECT_EQ(lBuffer.AttachGenDCManager(lManager).GetCode(), TN_BUFFER_TOO_SMALL);
    EXPECT_FALSE(lBuffer.GetGenDC()->IsValid());

    // A received block: its payload size bounds the container.
    std::vector<uint8_t> lBytes(lManager.GetTotalPayloadSize());
    uint64_t lWritten = 0;
    ASSERT_TRUE(lManager.WriteContainer(lBytes.data(), lBytes.size(), lWritten).IsOK());
    TnBuffer lReceived(TnPayloadTypeGenDC);
    ASSERT_TRUE(lReceived.Alloc(uint32_t(lBytes.size() + 100)).IsOK());
    ASSERT_TRUE(tn::buffer::BeginBlock(lReceived, TnPayloadTypeGenDC).IsOK());
    ASSERT_TRUE(tn::buffer::WriteBlockData(lReceived, 0, lBytes.data(), uint32_t(lBytes.size())).IsOK());
    tn::buffer::BlockEnd lEnd;
    lEnd.mAcquiredSize = uint32_t(lBytes.size());
    lEnd.mPayloadSize = uint32_t(lBytes.size() - 1); // one byte short
    ASSERT_TRUE(tn::buffer::EndBlock(lReceived, lEnd).IsOK());
    lReceived.SetReceptionTime(1234);
    ITnGenericDataContainer *lContainer = lReceived.GetGenDC();
    EXPECT_FALSE(lContainer->IsValid());
    EXPECT_EQ(lContainer->GetComponent(0)->GetPart(0)->GetReceptionTime(), 1234u);
    lEnd.mPayloadSize = uint32_t(lBytes.size());
    ASSERT_TRUE(tn::buffer::EndBlock(lReceived, lEnd).IsOK());
    EXPECT_TRUE(lContainer->IsValid());
    EXPECT_EQ(lContainer->AddComponent(TnComponentIntensity), 0xFFFFFFFFu);
    EXPECT_EQ(lContainer->GetComponent(0)->AddPart(TnGenDCPart2D, 0), 0xFFFFu);
}

TEST(GenDC, HostileDescriptorsStayWithinTheirBytes)
{
    GenDCManager lManager;
    Build(lManager);
    const uint64_t lTotal = lManager.GetTotalPayloadSize();
    std::vector<uint8_t> lGood(lTotal);
    uint64_t lWritten = 0;
    ASSERT_TRUE(lManager.WriteContainer(lGood.data(), lGood.size(), lWritten).IsOK());
    lGood[lTotal - 1] = 1;

    // Every truncation.
    for (size_t lLength = 0; lLength < lTotal; lLength += (lLength < 600 ? 1 : 97))
    {
        GuardedBytes lMemory(lLength);
        memcpy(lMemory.Data(), lGood.data(), lLength);
        GenDCArea lArea(lMemory.Data(), lLength);
        WalkAll(lArea.GetContainer());
        EXPECT_FALSE(lArea.GetContainer().IsValid()) << lLength;
    }
    // Bytes of the descriptor replaced at random: counts, offsets and sizes
    // that point anywhere.
    std::mt19937 lRandom(7);
    GuardedBytes lMemory(lTotal);
    for (int lRound = 0; lRound < 4000; ++lRound)
    {
        memcpy(lMemory.Data(), lGood.data(), lTotal);
        const int lChanges = 1 + lRound % 4;
        for (int lChange = 0; lChange < lChanges; ++lChange)
        {
            const size_t lAt = lRandom() % 420;
            const uint32_t lValue = (lRound & 1) ? lRandom() : (lRandom() % 3 == 0 ? 0xFFFFFFFF : lRandom() % 4096);
            memcpy(lMemory.Data() + lAt, &lValue, std::min<size_t>(4, lTotal - lAt));
        }
        GenDCArea lArea(lMemory.Data(), lTotal);
        WalkAll(lArea.GetContainer());
    }
}

TEST(GenDC, OverlappingOrMisplacedDataIsNotValid)
{
    GenDCManager lManager;
    Build(lManager);
    std::vector<uint8_t> lBytes(lManager.GetTotalPayloadSize());
    uint64_t lWritten = 0;
    ASSERT_TRUE(lManager.WriteContainer(lBytes.data(), lBytes.size(), lWritten).IsOK());
    GenDCArea lArea(lBytes.data(), lBytes.size());
    ITnGenericDataContainer &lContainer = lArea.GetContainer();
    ASSERT_TRUE(lContainer.IsValid());
    GenDCPartHeader *lImage = lContainer.GetComponent(0)->GetPart(0)->GetMutableHeader();
    GenDCPartHeader *lXML = lContainer.GetComponent(1)->GetPart(0)->GetMutableHeader();

    lXML->DataOffset = lImage->DataOffset + 8; // inside the image
    EXPECT_FALSE(lContainer.IsValid());
    lXML->DataOffset = 16; // inside the descriptor
    EXPECT_FALSE(lContainer.IsValid());
    lXML->DataOffset = int64_t(lBytes.size()) - 4; // past the end
    EXPECT_FALSE(lContainer.IsValid());
    EXPECT_EQ(lContainer.GetComponent(1)->GetPart(0)->GetDataPointer(), nullptr);
    lXML->DataOffset = lImage->DataOffset + int64_t(lImage->DataSize);
    EXPECT_TRUE(lContainer.IsValid());
    lContainer.GetMutableHeader()->Signature = GenDCSignature(GDC_SIGNATURE ^ 1);
    EXPECT_FALSE(lContainer.IsValid());
    EXPECT_EQ(lContainer.GetComponentCount(), 0u);
    EXPECT_NE(lContainer.GetHeader(), nullptr); // to mend it through
}
