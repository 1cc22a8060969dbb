// Registers, the register map with its lock and controller access, the
// register factory, event sinks and user sets.
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include "SoftDeviceTestUtil.h"
#include "TnUserSets.h"

using namespace tn::softdevice;
using namespace tn::softdevice::test;

TEST(Register, ValuesByteOrderAndLengths)
{
    TnRegisterMap map;
    TnRegister *plain = AddReg(map, "Plain", 0xA000, 4);
    TnRegister *wide = AddReg(map, "Wide", 0xA008, 8);
    TnRegister *text = AddReg(map, "Text", 0xA010, 8, TnGenAccessModeReadOnly, true);

    // Integers are big-endian, at an offset; nothing passes the end.
    EXPECT_CODE(TN_OK, plain->Write(0x01020304u));
    uint8_t bytes[8] = {0};
    EXPECT_CODE(TN_OK, plain->ReadBytes(bytes, 4));
    EXPECT_EQ(0, memcmp(bytes, "\x01\x02\x03\x04", 4));
    EXPECT_CODE(TN_OK, wide->Write(0xFFFFFFFEu, 4));
    uint32_t value = 0;
    EXPECT_CODE(TN_OK, wide->ReadInt(value, 4));
    EXPECT_EQ(0xFFFFFFFEu, value);
    EXPECT_CODE(TN_OK, wide->ReadInt(value, 0));
    EXPECT_EQ(0u, value);
    EXPECT_CODE(TN_INVALID_PARAMETER, wide->Write(7u, 6));
    EXPECT_CODE(TN_INVALID_PARAMETER, plain->ReadInt(value, 4));
    EXPECT_CODE(TN_INVALID_PARAMETER, plain->ReadBytes(nullptr, 4));
    EXPECT_CODE(TN_OK, plain->ReadBytes(nullptr, 0, 4));
    EXPECT_EQ(0xFFFFFFFEu, wide->PeekInt(4));

    // Strings: padded with zero bytes, the full length without one, never longer.
    EXPECT_CODE(TN_OK, text->Write(TnString("abc")));
    EXPECT_CODE(TN_OK, text->ReadBytes(bytes, 8));
    EXPECT_EQ(0, memcmp(bytes, "abc\0\0\0\0\0", 8));
    EXPECT_CODE(TN_OK, text->Write(TnString("abcdefgh")));
    TnString read;
    EXPECT_CODE(TN_OK, text->ReadString(read));
    EXPECT_STREQ("abcdefgh", read.GetAscii());
    EXPECT_CODE(TN_INVALID_PARAMETER, text->Write(TnString("abcdefghi")));
    EXPECT_CODE(TN_OK, text->ReadString(read));
    EXPECT_STREQ("abcdefgh", read.GetAscii());

    // Floats: a single in 4 bytes, a double in 8, converted either way.
    EXPECT_CODE(TN_OK, plain->WriteFloat(1.5f));
    EXPECT_EQ(0x3FC00000u, plain->PeekInt());
    double number = 0;
    EXPECT_CODE(TN_OK, plain->ReadDouble(number));
    EXPECT_EQ(1.5, number);
    EXPECT_CODE(TN_OK, wide->WriteDouble(-2.25));
    EXPECT_EQ(0xC0020000u, wide->PeekInt(0));
    float single = 0;
    EXPECT_CODE(TN_OK, wide->ReadFloat(single));
    EXPECT_EQ(-2.25f, single);
    EXPECT_CODE(TN_OK, wide->WriteFloat(3.0f));
    EXPECT_CODE(TN_OK, wide->ReadDouble(number));
    EXPECT_EQ(3.0, number);

    EXPECT_EQ(8u, text->GetLength());
    EXPECT_TRUE(text->IsArrayOfBytes());
    EXPECT_FALSE(text->IsWritable());
    EXPECT_TRUE(text->IsReadable());
    EXPECT_STREQ("Text", text->GetName().GetAscii());
}

TEST(Register, SinksRefuseRestoreAndSurviveExceptions)
{
    TnRegisterMap map;
    TnRegister *reg = AddReg(map, "Reg", 0xA000, 4);
    RecordingSink first;
    RecordingSink second;
    EXPECT_CODE(TN_OK, reg->AddEventSink(&first));
    EXPECT_CODE(TN_OK, reg->AddEventSink(&second));
    EXPECT_CODE(TN_INVALID_PARAMETER, reg->AddEventSink(&first));
    EXPECT_CODE(TN_INVALID_PARAMETER, reg->AddEventSink(nullptr));

    uint32_t seen = 0;
    second.mAction = [&](const std::string &aCall, ITnRegister *aRegister) {
        if (aCall == "PreWrite")
        {
            aRegister->ReadInt(seen); // the new value, without calling the sinks again
        }
    };
    EXPECT_CODE(TN_OK, reg->Write(5u));
    EXPECT_EQ(5u, seen);
    EXPECT_EQ((std::vector<std::string>{"PreWrite Reg", "PostWrite Reg"}), first.Calls());
    EXPECT_EQ((std::vector<std::string>{"PreWrite Reg", "PostWrite Reg"}), second.Calls());

    // A refusal restores the former value; later sinks and PostWrite are not called.
    first.Clear();
    second.Clear();
    first.mWriteAnswer = TnResult(TN_INVALID_PARAMETER);
    const TnResult refused = reg->Write(6u);
    EXPECT_CODE(TN_INVALID_PARAMETER, refused);
    EXPECT_TRUE(refused.HasDescription());
    EXPECT_EQ(5u, reg->PeekInt());
    EXPECT_EQ((std::vector<std::string>{"PreWrite Reg"}), first.Calls());
    EXPECT_TRUE(second.Calls().empty());

    // Exceptions: a throwing PreRead fails the read, a throwing PostWrite is ignored.
    first.mWriteAnswer = TnResult(TN_OK);
    first.mAction = [](const std::string &aCall, ITnRegister *) {
        if (aCall == "PreRead" || aCall == "PostWrite")
        {
            throw std::runtime_error("boom");
        }
    };
    uint32_t value = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, reg->ReadInt(value));
    second.mAction = nullptr;
    EXPECT_CODE(TN_OK, reg->Write(7u));
    EXPECT_EQ(7u, reg->PeekInt());
    first.mAction = [](const std::string &, ITnRegister *) { throw 42; };
    EXPECT_CODE(TN_GENERIC_ERROR, reg->Write(8u));
    EXPECT_EQ(7u, reg->PeekInt());

    EXPECT_CODE(TN_OK, reg->RemoveEventSink(&first));
    EXPECT_CODE(TN_INVALID_PARAMETER, reg->RemoveEventSink(&first));
    EXPECT_CODE(TN_OK, reg->Write(9u));
    EXPECT_EQ(9u, reg->PeekInt());
}

TEST(Register, RemoveEventSinkWaitsForRunningCalls)
{
    TnRegisterMap map;
    TnRegister *reg = AddReg(map, "Reg", 0xA000, 4);
    RecordingSink sink;
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> go = release.get_future().share();
    std::atomic<bool> finished(false);
    sink.mAction = [&](const std::string &aCall, ITnRegister *) {
        if (aCall == "PreRead")
        {
            entered.set_value();
            go.wait();
            finished = true;
        }
    };
    ASSERT_TRUE(reg->AddEventSink(&sink).IsOK());
    std::thread reader([&] {
        uint32_t value;
        reg->ReadInt(value);
    });
    entered.get_future().wait();
    std::future<TnResult> removal = std::async(std::launch::async, [&] { return reg->RemoveEventSink(&sink); });
    EXPECT_EQ(std::future_status::timeout, removal.wait_for(std::chrono::milliseconds(100)));
    release.set_value();
    EXPECT_CODE(TN_OK, removal.get());
    EXPECT_TRUE(finished);
    reader.join();

    // A sink may remove itself from inside its own call.
    RecordingSink self;
    self.mAction = [&](const std::string &aCall, ITnRegister *aRegister) {
        if (aCall == "PostWrite")
        {
            EXPECT_CODE(TN_OK, aRegister->RemoveEventSink(&self));
        }
    };
    ASSERT_TRUE(reg->AddEventSink(&self).IsOK());
    EXPECT_CODE(TN_OK, reg->Write(1u));
    EXPECT_TRUE(reg->GetSinks().empty());
}

TEST(RegisterMap, FactoryRulesAndAddresses)
{
    TnRegisterMap map;
    TnRegisterFactory factory(map);
    RecordingSink sink;
    int context = 0;
    EXPECT_CODE(TN_OK, factory.AddRegister("A", 0xA000, 4, TnGenAccessModeReadWrite, &sink, &context));
    ITnRegister *a = map.GetRegisterByAddress(0xA003);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(&context, a->GetContext());
    EXPECT_EQ(1u, static_cast<TnRegister *>(a)->GetSinks().size());

    const struct
    {
        const char *mName;
        uint32_t mAddress;
        uint32_t mLength;
        int mAccess;
        bool mArray;
    } refused[] = {
        {"", 0xB000, 4, TnGenAccessModeReadWrite, false},      // no name
        {"A", 0xB000, 4, TnGenAccessModeReadWrite, false},     // name taken
        {"B", 0xA000, 4, TnGenAccessModeReadWrite, false},     // overlap
        {"B", 0x9FFC, 8, TnGenAccessModeReadWrite, false},     // overlap and bootstrap
        {"B", 0x0100, 4, TnGenAccessModeReadWrite, false},     // bootstrap range
        {"B", 0xF0000000, 4, TnGenAccessModeReadWrite, false}, // the device's range
        {"B", 0xB002, 4, TnGenAccessModeReadWrite, false},     // misaligned
        {"B", 0xB000, 12, TnGenAccessModeReadWrite, false},    // plain registers have 4 or 8 bytes
        {"B", 0xB000, 6, TnGenAccessModeReadWrite, true},      // arrays a multiple of 4
        {"B", 0xB000, 0, TnGenAccessModeReadWrite, true},
        {"B", 0xB000, 4, 999, false},                          // no access mode
        {"B", 0xB000, 4, TnGenAccessModeNotAvailable, false},
    };
    for (const auto &item : refused)
    {
        const TnResult result = item.mArray ? factory.AddByteArray(item.mName, item.mAddress, item.mLength,
                                                                   static_cast<TnGenAccessMode>(item.mAccess))
                                            : factory.AddRegister(item.mName, item.mAddress, item.mLength,
                                                                  static_cast<TnGenAccessMode>(item.mAccess));
        EXPECT_CODE(TN_GENERIC_ERROR, result);
        EXPECT_TRUE(result.HasDescription());
    }
    EXPECT_EQ(1u, map.GetRegisterCount());

    // Automatic addresses: the lowest free ones of their range, around others.
    EXPECT_CODE(TN_OK, factory.AddRegister("Placed", 0x10000004, 4, TnGenAccessModeReadOnly));
    uint32_t address[3] = {0, 0, 0};
    EXPECT_CODE(TN_OK, factory.AddRegisterAuto("Auto0", address[0], 4, TnGenAccessModeReadWrite, nullptr));
    EXPECT_CODE(TN_OK, factory.AddRegisterAuto("Auto1", address[1], 8, TnGenAccessModeReadWrite, nullptr));
    EXPECT_CODE(TN_OK, factory.AddRegisterAuto("Auto2", address[2], 4, TnGenAccessModeWriteOnly, &sink));
    EXPECT_EQ(0x10000000u, address[0]);
    EXPECT_EQ(0x10000008u, address[1]);
    EXPECT_EQ(0x10000010u, address[2]);
    uint32_t untouched = 77;
    EXPECT_CODE(TN_GENERIC_ERROR, factory.AddRegisterAuto("Auto3", untouched, 6, TnGenAccessModeReadWrite, nullptr));
    EXPECT_CODE(TN_GENERIC_ERROR, factory.AddRegisterAuto("Auto0", untouched, 4, TnGenAccessModeReadWrite, nullptr));
    EXPECT_EQ(77u, untouched);

    // Index order is address order; misses are null.
    ASSERT_EQ(5u, map.GetRegisterCount());
    EXPECT_STREQ("A", map.GetRegisterByIndex(0)->GetName().GetAscii());
    EXPECT_STREQ("Auto0", map.GetRegisterByIndex(1)->GetName().GetAscii());
    EXPECT_STREQ("Placed", map.GetRegisterByIndex(2)->GetName().GetAscii());
    EXPECT_EQ(nullptr, map.GetRegisterByIndex(5));
    EXPECT_EQ(nullptr, map.GetRegisterByAddress(0xA004));
    EXPECT_EQ(nullptr, map.GetRegisterByAddress(0xFFFFFFFF));

    factory.Close();
    EXPECT_CODE(TN_STATE_ERROR, factory.AddRegister("Late", 0xC000, 4, TnGenAccessModeReadWrite));
}

TEST(RegisterMap, ControllerAccessSpansRegistersWithStatuses)
{
    TnRegisterMap map;
    TnRegister *first = AddReg(map, "First", 0xA000, 4);
    TnRegister *second = AddReg(map, "Second", 0xA004, 8);
    AddReg(map, "ReadOnly", 0xA00C, 4, TnGenAccessModeReadOnly);
    AddReg(map, "WriteOnly", 0xA010, 4, TnGenAccessModeWriteOnly);
    AddReg(map, "Beyond", 0xA020, 4);
    first->PokeInt(0x11223344);
    second->PokeInt(0x55667788, 4);

    uint8_t data[16] = {0};
    TnAccessStatus status = map.ReadMemory(0xA002, data, 8);
    EXPECT_EQ(0, status.mStatus);
    EXPECT_EQ(0, memcmp(data, "\x33\x44\x00\x00\x00\x00\x55\x66", 8));
    EXPECT_EQ(tn::gev::kGvcpStatusInvalidAddress, map.ReadMemory(0xA014, data, 16).mStatus);
    EXPECT_EQ(tn::gev::kGvcpStatusAccessDenied, map.ReadMemory(0xA00C, data, 8).mStatus);
    EXPECT_EQ(tn::gev::kGvcpStatusWriteProtect, map.WriteMemory(0xA008, data, 8).mStatus);
    EXPECT_EQ(tn::gev::kGvcpStatusInvalidAddress, map.ReadMemory(0xFFFFFFFC, data, 8).mStatus);
    uint32_t value = 0;
    EXPECT_EQ(tn::gev::kGvcpStatusBadAlignment, map.ReadRegister(0xA002, value).mStatus);
    EXPECT_EQ(0, map.ReadRegister(0xA008, value).mStatus);
    EXPECT_EQ(0x55667788u, value);

    // A write stops at the register that refuses: the ones before keep the
    // new bytes, the refusing one its former value.
    RecordingSink refuse;
    refuse.mWriteAnswer = TnResult(TN_STATE_ERROR);
    second->AddEventSink(&refuse);
    const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    status = map.WriteMemory(0xA000, bytes, 8);
    EXPECT_EQ(tn::gev::kGvcpStatusAccessDenied, status.mStatus);
    EXPECT_EQ(4u, status.mDone);
    EXPECT_EQ(0x01020304u, first->PeekInt());
    EXPECT_EQ(0u, second->PeekInt(0));
    EXPECT_EQ(0x55667788u, second->PeekInt(4));
    EXPECT_EQ(0, map.WriteRegister(0xA000, 0xCAFE).mStatus);
    EXPECT_EQ(0xCAFEu, first->PeekInt());
}

TEST(RegisterMap, TimedLockHoldsBackAdditions)
{
    TnRegisterMap map;
    EXPECT_CODE(TN_STATE_ERROR, map.Lock());
    EXPECT_CODE(TN_STATE_ERROR, map.Lock(10));
    map.SetRunning(true);
    EXPECT_CODE(TN_OK, map.Lock());
    EXPECT_CODE(TN_TIMEOUT, map.Lock(20));

    // Registers are read and written meanwhile; additions wait.
    TnRegister *reg = nullptr;
    std::future<TnResult> addition = std::async(std::launch::async, [&] {
        TnRegisterSpec spec;
        spec.mName = "Late";
        spec.mAddress = 0xA000;
        return map.Add(spec, &reg);
    });
    EXPECT_EQ(std::future_status::timeout, addition.wait_for(std::chrono::milliseconds(100)));
    std::thread([&] { map.Release(); }).join(); // any thread may release
    EXPECT_CODE(TN_OK, addition.get());
    EXPECT_CODE(TN_OK, reg->Write(3u));

    // Stopping the device wakes a waiting Lock.
    EXPECT_CODE(TN_OK, map.Lock(0));
    std::future<TnResult> waiting = std::async(std::launch::async, [&] { return map.Lock(); });
    EXPECT_EQ(std::future_status::timeout, waiting.wait_for(std::chrono::milliseconds(50)));
    map.SetRunning(false);
    EXPECT_CODE(TN_STATE_ERROR, waiting.get());
    map.Release();
    map.Clear();
    EXPECT_EQ(0u, map.GetRegisterCount());
}

TEST(UserSets, SaveAndLoadThroughPersist)
{
    TnRegisterMap map;
    TnUserSets sets(map);
    TnRegister *plain = AddReg(map, "PlainReg", 0xA000, 4);
    TnRegister *selected = AddReg(map, "SelectedReg", 0xA004, 4);
    TnRegister *selector = AddReg(map, "SelectorReg", 0xA008, 4);
    TnRegister *volatileReg = AddReg(map, "Volatile", 0xA00C, 4);
    plain->SetPersistence("Plain", 1);
    selected->SetPersistence("Selected", 2);

    // The selected register holds one value per selector value; its sink
    // persists each of them under its own suffix.
    uint32_t table[2] = {10, 20};
    RecordingSink tableSink;
    tableSink.mAction = [&](const std::string &aCall, ITnRegister *aRegister) {
        const uint32_t index = selector->PeekInt() & 1;
        if (aCall == "PreRead")
        {
            aRegister->Write(table[index]);
        }
        else if (aCall == "PostWrite")
        {
            aRegister->ReadInt(table[index]);
        }
    };
    tableSink.mPersist = [&](ITnRegister *aRegister, ITnRegisterStore *aStore) {
        const uint32_t former = selector->PeekInt();
        TnResult result;
        for (uint32_t index = 0; index < 2 && result.IsOK(); ++index)
        {
            selector->PokeInt(index);
            result = aStore->Persist(aRegister, TnString(("_" + std::to_string(index)).c_str()));
        }
        selector->PokeInt(former);
        return result;
    };
    selected->AddEventSink(&tableSink);
    RecordingSink plainSink; // answers TN_NOT_IMPLEMENTED: the plain content is persisted
    plain->AddEventSink(&plainSink);

    EXPECT_CODE(TN_INVALID_PARAMETER, sets.SetCount(257));
    EXPECT_CODE(TN_OK, sets.SetCount(2));
    plain->PokeInt(1);
    EXPECT_CODE(TN_OK, sets.SaveDefault());
    plain->PokeInt(2);
    volatileReg->PokeInt(5);
    EXPECT_CODE(TN_OK, sets.Save(1));
    EXPECT_TRUE(sets.IsSaved(1));
    EXPECT_CODE(TN_INVALID_PARAMETER, sets.Save(0));
    EXPECT_CODE(TN_INVALID_PARAMETER, sets.Save(3));

    plain->PokeInt(3);
    table[0] = 11;
    table[1] = 21;
    volatileReg->PokeInt(6);
    plainSink.Clear();
    EXPECT_CODE(TN_OK, sets.Load(1));
    EXPECT_EQ(2u, plain->PeekInt());
    EXPECT_EQ(10u, table[0]);
    EXPECT_EQ(20u, table[1]);
    EXPECT_EQ(6u, volatileReg->PeekInt());
    EXPECT_EQ((std::vector<std::string>{"Persist PlainReg", "PreWrite PlainReg", "PostWrite PlainReg"}), plainSink.Calls());

    // A set never saved loads the default; the store works only during a run.
    EXPECT_CODE(TN_OK, sets.Load(2));
    EXPECT_EQ(1u, plain->PeekInt());
    EXPECT_CODE(TN_STATE_ERROR, tableSink.mStore->Persist(plain, TnString("")));
    EXPECT_CODE(TN_INVALID_PARAMETER, sets.Load(3));

    // Failures are reported, the other registers go on; a run inside a run is busy.
    plainSink.mWriteAnswer = TnResult(TN_INVALID_PARAMETER);
    table[0] = 0;
    const TnResult failed = sets.Load(1);
    EXPECT_CODE(TN_INVALID_PARAMETER, failed);
    EXPECT_NE(std::string::npos, Text(failed).find("Plain"));
    EXPECT_EQ(10u, table[0]);
    tableSink.mPersist = [&](ITnRegister *, ITnRegisterStore *) { return sets.Save(1); };
    EXPECT_CODE(TN_BUSY, sets.Save(2));
}
