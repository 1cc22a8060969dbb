#include <gtest/gtest.h>

#include <stdint.h>

#include <type_traits>
#include <vector>

#include "TnBuffer.h"

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
    TnBuffer buffer;
    EXPECT_EQ(buffer.GetPayloadType(), TnPayloadTypeImage);
    EXPECT_EQ(buffer.GetDataPointer(), nullptr);
    EXPECT_EQ(buffer.GetSize(), 0u);

    ASSERT_TRUE(buffer.Alloc(1024).IsOK());
    EXPECT_TRUE(buffer.IsAllocated());
    EXPECT_FALSE(buffer.IsAttached());
    EXPECT_EQ(buffer.GetSize(), 1024u);
    const uint8_t *data = buffer.GetDataPointer();
    ASSERT_NE(data, nullptr);
    for (uint32_t i = 0; i < 1024; ++i)
    {
        ASSERT_EQ(data[i], 0) << i;
    }

    std::vector<uint8_t> memory(64, 0xAB);
    ASSERT_TRUE(buffer.Attach(memory.data(), uint32_t(memory.size())).IsOK());
    EXPECT_TRUE(buffer.IsAttached());
    EXPECT_FALSE(buffer.IsAllocated());
    EXPECT_EQ(buffer.GetDataPointer(), memory.data());
    EXPECT_EQ(buffer.GetSize(), 64u);

    EXPECT_EQ(buffer.Detach(), memory.data());
    EXPECT_EQ(buffer.GetDataPointer(), nullptr);
    EXPECT_EQ(buffer.GetSize(), 0u);
    EXPECT_FALSE(buffer.IsAttached());
    // Nothing attached: nothing to give back.
    EXPECT_EQ(buffer.Detach(), nullptr);

    ASSERT_TRUE(buffer.Alloc(16).IsOK());
    EXPECT_EQ(buffer.Detach(), nullptr);
    EXPECT_TRUE(buffer.IsAllocated());
    buffer.Free();
    EXPECT_EQ(buffer.GetSize(), 0u);
    EXPECT_FALSE(buffer.IsAllocated());
}

TEST(Buffer, RefusesMemoryThatIsNotThere)
{
    TnBuffer buffer;
    uint8_t byte = 0;
    EXPECT_EQ(buffer.Alloc(0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(buffer.Attach(nullptr, 16).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(buffer.Attach(&byte, 0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(buffer.AllocChunk(0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(buffer.AllocChunk(0xFFFFFFFFu).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(buffer.GetSize(), 0u);

    // A refused call leaves the memory as it was.
    ASSERT_TRUE(buffer.Alloc(8).IsOK());
    uint8_t *data = buffer.GetDataPointer();
    EXPECT_FALSE(buffer.Attach(nullptr, 4).IsOK());
    EXPECT_EQ(buffer.GetDataPointer(), data);
    EXPECT_EQ(buffer.GetSize(), 8u);
}

TEST(Buffer, ResetKeepsMemoryAndIDOnly)
{
    TnBuffer buffer(TnPayloadTypeRawData);
    ASSERT_TRUE(buffer.Alloc(256).IsOK());
    uint8_t *data = buffer.GetDataPointer();
    buffer.SetID(77);
    EXPECT_TRUE(buffer.SetBlockID(5).IsOK());
    EXPECT_TRUE(buffer.SetTimestamp(6).IsOK());
    EXPECT_TRUE(buffer.SetReceptionTime(7).IsOK());
    EXPECT_TRUE(buffer.SetDuration(8).IsOK());
    buffer.SetChunkLayoutID(9);
    ASSERT_TRUE(buffer.AddChunk(1, data, 4).IsOK());

    ASSERT_TRUE(buffer.Reset().IsOK());
    EXPECT_EQ(buffer.GetPayloadType(), TnPayloadTypeImage);
    EXPECT_EQ(buffer.GetDataPointer(), data);
    EXPECT_EQ(buffer.GetSize(), 256u);
    EXPECT_EQ(buffer.GetID(), 77u);
    EXPECT_EQ(buffer.GetBlockID(), 0u);
    EXPECT_EQ(buffer.GetTimestamp(), 0u);
    EXPECT_EQ(buffer.GetReceptionTime(), 0u);
    EXPECT_EQ(buffer.GetDuration(), 0u);
    EXPECT_EQ(buffer.GetChunkLayoutID(), 0u);
    EXPECT_FALSE(buffer.HasChunks());
    EXPECT_EQ(buffer.GetChunkCount(), 0u);

    // Any payload type is taken, also those the SDK has no interface for.
    ASSERT_TRUE(buffer.Reset(static_cast<TnPayloadType>(0x8123)).IsOK());
    EXPECT_EQ(buffer.GetPayloadType(), 0x8123);
    EXPECT_EQ(buffer.GetImage(), nullptr);
}

TEST(Buffer, HandsOutThePayloadInterfaceOfItsType)
{
    TnBuffer buffer(TnPayloadTypeRawData);
    const TnBuffer &view = buffer;
    EXPECT_EQ(buffer.GetImage(), nullptr);
    TnRawData *raw = buffer.GetRawData();
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(view.GetRawData(), raw);
    EXPECT_EQ(buffer.GetChunkData(), nullptr);
    EXPECT_EQ(buffer.GetMultiPartContainer(), nullptr);

    buffer.Reset(TnPayloadTypeImage);
    ASSERT_NE(buffer.GetImage(), nullptr);
    EXPECT_EQ(buffer.GetImage()->GetBuffer(), &buffer);
    EXPECT_EQ(buffer.GetRawData(), nullptr);

    buffer.Reset(TnPayloadTypeChunkData);
    EXPECT_NE(buffer.GetChunkData(), nullptr);
    buffer.Reset(TnPayloadTypeMultiPart);
    EXPECT_NE(buffer.GetMultiPartContainer(), nullptr);
    buffer.Reset(TnPayloadTypeH264);
    EXPECT_NE(buffer.GetH264AccessUnit(), nullptr);
    buffer.Reset(TnPayloadTypeVexmoorCompressed);
    EXPECT_NE(buffer.GetVexmoorCompressed(), nullptr);
    EXPECT_EQ(buffer.GetH264AccessUnit(), nullptr);

    // The object handed out earlier is the same one when its type returns.
    buffer.Reset(TnPayloadTypeRawData);
    EXPECT_EQ(buffer.GetRawData(), raw);
}

TEST(Buffer, GenDCIsNotBuiltYet)
{
    TnBuffer buffer(TnPayloadTypeImage);
    ITnGenDCManager *manager = reinterpret_cast<ITnGenDCManager *>(&buffer); // never dereferenced
    EXPECT_EQ(buffer.AttachGenDCManager(*manager).GetCode(), TN_INVALID_PARAMETER);
    buffer.Reset(TnPayloadTypeGenDC);
    EXPECT_EQ(buffer.GetGenDC(), nullptr);
    EXPECT_EQ(buffer.AttachGenDCManager(*manager).GetCode(), TN_NOT_IMPLEMENTED);
}

TEST(Buffer, MissingPacketGroupsOutOfRange)
{
    TnBuffer buffer;
    uint32_t count = 99;
    EXPECT_TRUE(buffer.GetMissingPacketIdsCount(count).IsOK());
    EXPECT_EQ(count, 0u);
    uint32_t first = 1;
    uint32_t last = 1;
    EXPECT_EQ(buffer.GetMissingPacketIds(0, first, last).GetCode(), TN_NOT_FOUND);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(last, 0u);
}

TEST(RawData, AllocAndAttachRefuseLengthsBeyondABuffer)
{
    TnBuffer buffer(TnPayloadTypeRawData);
    TnRawData *raw = buffer.GetRawData();
    ASSERT_NE(raw, nullptr);
    uint8_t byte = 0;

    EXPECT_EQ(raw->Alloc(0x100000000ull).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(raw->Alloc(0xFFFFFFF0ull, 64).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(raw->Alloc(0).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(raw->Attach(&byte, 0x100000000ull).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(raw->Attach(nullptr, 1).GetCode(), TN_INVALID_PARAMETER);
    EXPECT_EQ(buffer.GetSize(), 0u);

    ASSERT_TRUE(raw->Alloc(100, 40).IsOK());
    EXPECT_EQ(raw->GetPayloadLength(), 100u);
    EXPECT_EQ(buffer.GetSize(), 148u); // payload, its tag, room for chunks
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 40u);
}

TEST(RawData, AttachedPayloadGetsChunkMemoryApart)
{
    TnBuffer buffer(TnPayloadTypeRawData);
    TnRawData *raw = buffer.GetRawData();
    std::vector<uint8_t> memory(32, 0x11);
    ASSERT_TRUE(raw->Attach(memory.data(), memory.size(), 24).IsOK());
    EXPECT_EQ(raw->GetPayloadLength(), 32u);
    EXPECT_EQ(buffer.GetSize(), 32u);
    EXPECT_EQ(buffer.GetChunkDataCapacity(), 24u);

    const uint8_t chunk[16] = {1, 2, 3};
    ASSERT_TRUE(buffer.AddChunk(0x42, chunk, sizeof(chunk)).IsOK());
    EXPECT_EQ(buffer.AddChunk(0x43, chunk, 1).GetCode(), TN_BUFFER_TOO_SMALL);
    // The caller's memory was not written.
    for (uint8_t value : memory)
    {
        ASSERT_EQ(value, 0x11);
    }
    ASSERT_EQ(buffer.GetChunkCount(), 1u);
    EXPECT_EQ(buffer.GetChunkRawDataByID(0x42)[2], 3);

    EXPECT_EQ(raw->Detach(), memory.data());
    EXPECT_EQ(raw->GetPayloadLength(), 32u);
}
