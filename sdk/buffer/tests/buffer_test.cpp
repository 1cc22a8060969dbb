#include <gtest/gtest.h>

#include <stdint.h>

#include <type_traits>
#include <vector>

#include "TnBuffer.h"
#include "TnMemoryBlocks.h"

// Payload interfaces belong to their buffer: code that holds one cannot
// delete it.
static_assert(!std::is_destructible<ITnChunkData>::value, "ITnChunkData is deleted only by its owner");
static_assert(!std::is_destructible<TnChunkData>::value, "TnChunkData is deleted only by its buffer");
static_assert(!std::is_destructible<TnRawData>::value, "TnRawData is deleted only by its buffer");
static_assert(!std::is_destructible<ITnImage>::value, "ITnImage is deleted only by its owner");
static_assert(!std::is_destructible<TnImage>::value, "TnImage is deleted only by its buffer");
static_assert(!std::is_destructible<ITnImageJPEG>::value, "ITnImageJPEG is deleted only by its container");
static_assert(!std::is_destructible<ITnMultiPartSection>::value, "sections are deleted only by their container");
static_assert(!std::is_destructible<ITnMultiPartContainer>::value, "containers are deleted only by their buffer");
static_assert(std::is_destructible<TnBuffer>::value, "buffers are owned by their creator");
static_assert(std::is_polymorphic<TnRawData>::value && std::is_polymorphic<TnChunkData>::value,
              "the array view tells payload objects apart at run time");

TEST(Buffer, AllocatedMemoryIsZeroedAndReplaced)
{
    TnBuffer lBuffer;
    EXPECT_EQ(lBuffer.GetPayloadType(), TnPayloadTypeImage);
    EXPECT_EQ(lBuffer.GetDataPointer(), nullptr);
    EXPECT_EQ(lBuffer.GetSize(), 0u);

    ASSERT_TRUE(lBuffer.Alloc(1024).IsOK());
    EXPECT_TRUE(lBuffer.IsAllocated());
    EXPECT_FALSE(lBuffer.IsAttached());
    EXPECT_EQ(lBuffer.GetSize(), 1024u);
    const uint8_t *lData = lBuffer.GetDataPointer();
    ASSERT_NE(lData, nullptr);
    for (uint32_t lIndex = 0; lIndex < 1024; ++lIndex)
    {
        ASSERT_EQ(lData[lIndex], 0) << lIndex;
    }

    std::vector<uint8_t> lMemory(64, 0xAB);
    ASSERT_TRUE(lBuffer.Attach(lMemory.data(), uint32_t(lMemory.size())).IsOK());
    EXPECT_TRUE(lBuffer.IsAttached());
    EXPECT_FALSE(lBuffer.IsAllocated());
    EXPECT_EQ(lBuffer.GetDataPointer(), lMemory.data());
    EXPECT_EQ(lBuffer.GetSize(), 64u);

    EXPECT_EQ(lBuffer.Detach(), lMemory.data());
    EXPECT_EQ(lBuffer.GetDataPointer(), nullptr);
    EXPECT_EQ(lBuffer.GetSize(), 0u);
    EXPECT_FALSE(lBuffer.IsAttached());
    // Nothing attached: nothing to give back.
    EXPECT_EQ(lBuffer.Detach(), nullptr);

    ASSERT_TRUE(lBuffer.Alloc(16).IsOK());
    EXPECT_EQ(lBuffer.Detach(), nullptr);
    EXPECT_TRUE(lBuffer.IsAllocated());
    lBuffer.Free();
    EXPECT_EQ(lBuffer.GetSize(), 0u);
    EXPECT_FALSE(lBuffer.IsAllocated());
}

TEST(Buffer, RefusesMemoryThatIsNotThere)
{
    TnBuffer lBuffer;
    uint8_t lByte = 0;
    EXPECT_EQ(lBuffer.Alloc(0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lBuffer.Attach(nullptr, 16).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lBuffer.Attach(&lByte, 0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lBuffer.AllocChunk(0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lBuffer.AllocChunk(0xFFFFFFFFu).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lBuffer.GetSize(), 0u);

    // A refused call leaves the memory as it was.
    ASSERT_TRUE(lBuffer.Alloc(8).IsOK());
    uint8_t *lData = lBuffer.GetDataPointer();
    EXPECT_FALSE(lBuffer.Attach(nullptr, 4).IsOK());
    EXPECT_EQ(lBuffer.GetDataPointer(), lData);
    EXPECT_EQ(lBuffer.GetSize(), 8u);
}

TEST(Buffer, ResetKeepsMemoryAndIDOnly)
{
    TnBuffer lBuffer(TnPayloadTypeRawData);
    ASSERT_TRUE(lBuffer.Alloc(256).IsOK());
    uint8_t *lData = lBuffer.GetDataPointer();
    lBuffer.SetID(77);
    EXPECT_TRUE(lBuffer.SetBlockID(5).IsOK());
    EXPECT_TRUE(lBuffer.SetTimestamp(6).IsOK());
    EXPECT_TRUE(lBuffer.SetReceptionTime(7).IsOK());
    EXPECT_TRUE(lBuffer.SetDuration(8).IsOK());
    lBuffer.SetChunkLayoutID(9);
    ASSERT_TRUE(lBuffer.AddChunk(1, lData, 4).IsOK());

    ASSERT_TRUE(lBuffer.Reset().IsOK());
    EXPECT_EQ(lBuffer.GetPayloadType(), TnPayloadTypeImage);
    EXPECT_EQ(lBuffer.GetDataPointer(), lData);
    EXPECT_EQ(lBuffer.GetSize(), 256u);
    EXPECT_EQ(lBuffer.GetID(), 77u);
    EXPECT_EQ(lBuffer.GetBlockID(), 0u);
    EXPECT_EQ(lBuffer.GetTimestamp(), 0u);
    EXPECT_EQ(lBuffer.GetReceptionTime(), 0u);
    EXPECT_EQ(lBuffer.GetDuration(), 0u);
    EXPECT_EQ(lBuffer.GetChunkLayoutID(), 0u);
    EXPECT_FALSE(lBuffer.HasChunks());
    EXPECT_EQ(lBuffer.GetChunkCount(), 0u);

    // Any payload type is taken, also those the SDK has no interface for.
    ASSERT_TRUE(lBuffer.Reset(static_cast<TnPayloadType>(0x8123)).IsOK());
    EXPECT_EQ(lBuffer.GetPayloadType(), 0x8123);
    EXPECT_EQ(lBuffer.GetImage(), nullptr);

    // Python hands over any int, beyond the enumerators' range too: the
    // buffer gives it back and treats it as a payload without chunks.
    for (volatile int lCode : {65536, INT32_MAX, INT32_MIN})
    {
        TnBuffer lOther(static_cast<TnPayloadType>(lCode));
        EXPECT_EQ(static_cast<int>(lOther.GetPayloadType()), lCode);
        EXPECT_FALSE(lOther.AddChunk(1, lData, 4).IsOK());
        ASSERT_TRUE(lBuffer.Reset(static_cast<TnPayloadType>(lCode)).IsOK());
        EXPECT_EQ(static_cast<int>(lBuffer.GetPayloadType()), lCode);
        EXPECT_EQ(lBuffer.GetRawData(), nullptr);
        EXPECT_FALSE(lBuffer.AddChunk(1, lData, 4).IsOK());
        EXPECT_FALSE(lBuffer.HasChunks());
    }
}

TEST(Buffer, HandsOutThePayloadInterfaceOfItsType)
{
    TnBuffer lBuffer(TnPayloadTypeRawData);
    const TnBuffer &lView = lBuffer;
    EXPECT_EQ(lBuffer.GetImage(), nullptr);
    TnRawData *lRaw = lBuffer.GetRawData();
    ASSERT_NE(lRaw, nullptr);
    EXPECT_EQ(lView.GetRawData(), lRaw);
    EXPECT_EQ(lBuffer.GetChunkData(), nullptr);
    EXPECT_EQ(lBuffer.GetMultiPartContainer(), nullptr);

    lBuffer.Reset(TnPayloadTypeImage);
    ASSERT_NE(lBuffer.GetImage(), nullptr);
    EXPECT_EQ(lBuffer.GetImage()->GetBuffer(), &lBuffer);
    EXPECT_EQ(lBuffer.GetRawData(), nullptr);

    lBuffer.Reset(TnPayloadTypeChunkData);
    EXPECT_NE(lBuffer.GetChunkData(), nullptr);
    lBuffer.Reset(TnPayloadTypeMultiPart);
    EXPECT_NE(lBuffer.GetMultiPartContainer(), nullptr);
    lBuffer.Reset(TnPayloadTypeH264);
    EXPECT_NE(lBuffer.GetH264AccessUnit(), nullptr);
    lBuffer.Reset(TnPayloadTypeVexmoorCompressed);
    EXPECT_NE(lBuffer.GetVexmoorCompressed(), nullptr);
    EXPECT_EQ(lBuffer.GetH264AccessUnit(), nullptr);

    // The object handed out earlier is the same one when its type returns.
    lBuffer.Reset(TnPayloadTypeRawData);
    EXPECT_EQ(lBuffer.GetRawData(), lRaw);
}

TEST(Buffer, MissingPacketGroupsOutOfRange)
{
    TnBuffer lBuffer;
    uint32_t lCount = 99;
    EXPECT_TRUE(lBuffer.GetMissingPacketIdsCount(lCount).IsOK());
    EXPECT_EQ(lCount, 0u);
    uint32_t lFirst = 1;
    uint32_t lLast = 1;
    EXPECT_EQ(lBuffer.GetMissingPacketIds(0, lFirst, lLast).GetCode(), TN_NOT_FOUND);
    EXPECT_EQ(lFirst, 0u);
    EXPECT_EQ(lLast, 0u);
}

TEST(RawData, AllocAndAttachRefuseLengthsBeyondABuffer)
{
    TnBuffer lBuffer(TnPayloadTypeRawData);
    TnRawData *lRaw = lBuffer.GetRawData();
    ASSERT_NE(lRaw, nullptr);
    uint8_t lByte = 0;

    EXPECT_EQ(lRaw->Alloc(0x100000000ull).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lRaw->Alloc(0xFFFFFFF0ull, 64).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lRaw->Alloc(0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lRaw->Attach(&lByte, 0x100000000ull).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lRaw->Attach(nullptr, 1).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(lBuffer.GetSize(), 0u);

    ASSERT_TRUE(lRaw->Alloc(100, 40).IsOK());
    EXPECT_EQ(lRaw->GetPayloadLength(), 100u);
    EXPECT_EQ(lBuffer.GetSize(), 148u); // payload, its tag, room for chunks
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 40u);
}

TEST(RawData, AttachedPayloadGetsChunkMemoryApart)
{
    TnBuffer lBuffer(TnPayloadTypeRawData);
    TnRawData *lRaw = lBuffer.GetRawData();
    std::vector<uint8_t> lMemory(32, 0x11);
    ASSERT_TRUE(lRaw->Attach(lMemory.data(), lMemory.size(), 24).IsOK());
    EXPECT_EQ(lRaw->GetPayloadLength(), 32u);
    EXPECT_EQ(lBuffer.GetSize(), 32u);
    EXPECT_EQ(lBuffer.GetChunkDataCapacity(), 24u);

    const uint8_t lChunk[16] = {1, 2, 3};
    ASSERT_TRUE(lBuffer.AddChunk(0x42, lChunk, sizeof(lChunk)).IsOK());
    EXPECT_EQ(lBuffer.AddChunk(0x43, lChunk, 1).GetCode(), TN_BUFFER_TOO_SMALL);
    // The caller's memory was not written.
    for (uint8_t lValue : lMemory)
    {
        ASSERT_EQ(lValue, 0x11);
    }
    ASSERT_EQ(lBuffer.GetChunkCount(), 1u);
    EXPECT_EQ(lBuffer.GetChunkRawDataByID(0x42)[2], 3);

    EXPECT_EQ(lRaw->Detach(), lMemory.data());
    EXPECT_EQ(lRaw->GetPayloadLength(), 32u);
}

namespace
{
/// Memory a program attaches through a module: a registered block, whose
/// registering reference is dropped once the buffer took its own.
struct AttachedMemory
{
    std::vector<uint8_t> mBytes = std::vector<uint8_t>(4096);
    int mGivenBack = 0;

    template <class Attach> void AttachWith(Attach aAttach)
    {
        tn::MemoryBlock *lBlock = tn::RegisterBlock(
            mBytes.data(), mBytes.size(),
            [](void *aSelf, void *, size_t) { ++static_cast<AttachedMemory *>(aSelf)->mGivenBack; }, this);
        EXPECT_TRUE(aAttach(mBytes.data()).IsOK());
        tn::ReleaseBlock(lBlock);
    }
};
} // namespace

TEST(Buffer, AttachedMemoryIsHeldUntilTheBufferLetsGoOfIt)
{
    static uint8_t sOther[16];
    using LetGo = void (*)(TnBuffer &);
    for (LetGo lLetGo : {LetGo([](TnBuffer &aBuffer) { aBuffer.GetImage()->Detach(); }),
                         LetGo([](TnBuffer &aBuffer) { aBuffer.Free(); }),
                         LetGo([](TnBuffer &aBuffer) { EXPECT_TRUE(aBuffer.Alloc(16).IsOK()); }),
                         LetGo([](TnBuffer &aBuffer) { EXPECT_TRUE(aBuffer.Attach(sOther, 16).IsOK()); })})
    {
        AttachedMemory lMemory;
        TnBuffer lBuffer;
        lMemory.AttachWith([&](uint8_t *aData) { return lBuffer.GetImage()->Attach(aData, 64, 64, TnPixelMono8); });
        EXPECT_EQ(lMemory.mGivenBack, 0);
        lLetGo(lBuffer);
        EXPECT_EQ(lMemory.mGivenBack, 1);
    }
    // Destruction; a part's memory until the container is reset.
    AttachedMemory lMemory, lPartMemory;
    {
        TnBuffer lBuffer(TnPayloadTypeMultiPart);
        lMemory.AttachWith([&](uint8_t *aData) { return lBuffer.Attach(aData, 4096); });
        ITnMultiPartContainer *lContainer = lBuffer.GetMultiPartContainer();
        ASSERT_TRUE(lContainer->AddImagePart(TnMultiPart2DImage, 8, 8, TnPixelMono8).IsOK());
        lPartMemory.AttachWith([&](uint8_t *aData) { return lContainer->AttachPart(0, aData, 4096); });
        lContainer->Reset();
        EXPECT_EQ(lPartMemory.mGivenBack, 1);
        EXPECT_EQ(lMemory.mGivenBack, 0);
    }
    EXPECT_EQ(lMemory.mGivenBack, 1);
}
