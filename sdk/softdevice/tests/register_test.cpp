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
#include "TnText.h"
#include "TnUserSets.h"

using namespace tn::softdevice;
using namespace tn::softdevice::test;

TEST(Register, ValuesByteOrderAndLengths)
{
    TnRegisterMap lMap;
    TnRegister *lPlain = AddReg(lMap, "Plain", 0xA000, 4);
    TnRegister *lWide = AddReg(lMap, "Wide", 0xA008, 8);
    TnRegister *lText = AddReg(lMap, "Text", 0xA010, 8, TnGenAccessModeReadOnly, true);

    // Integers are big-endian, at an offset; nothing passes the end.
    EXPECT_CODE(TN_OK, lPlain->Write(0x01020304u));
    uint8_t lBytes[8] = {0};
    EXPECT_CODE(TN_OK, lPlain->ReadBytes(lBytes, 4));
    EXPECT_EQ(0, memcmp(lBytes, "\x01\x02\x03\x04", 4));
    EXPECT_CODE(TN_OK, lWide->Write(0xFFFFFFFEu, 4));
    uint32_t lValue = 0;
    EXPECT_CODE(TN_OK, lWide->ReadInt(lValue, 4));
    EXPECT_EQ(0xFFFFFFFEu, lValue);
    EXPECT_CODE(TN_OK, lWide->ReadInt(lValue, 0));
    EXPECT_EQ(0u, lValue);
    EXPECT_CODE(TN_INVALID_PARAMETER, lWide->Write(7u, 6));
    EXPECT_CODE(TN_INVALID_PARAMETER, lPlain->ReadInt(lValue, 4));
    EXPECT_CODE(TN_INVALID_PARAMETER, lPlain->ReadBytes(nullptr, 4));
    EXPECT_CODE(TN_OK, lPlain->ReadBytes(nullptr, 0, 4));
    EXPECT_EQ(0xFFFFFFFEu, lWide->PeekInt(4));

    // Strings: padded with zero bytes, the full length without one, never longer.
    EXPECT_CODE(TN_OK, lText->Write(TnString("abc")));
    EXPECT_CODE(TN_OK, lText->ReadBytes(lBytes, 8));
    EXPECT_EQ(0, memcmp(lBytes, "abc\0\0\0\0\0", 8));
    EXPECT_CODE(TN_OK, lText->Write(TnString("abcdefgh")));
    TnString lRead;
    EXPECT_CODE(TN_OK, lText->ReadString(lRead));
    EXPECT_STREQ("abcdefgh", lRead.GetAscii());
    EXPECT_CODE(TN_INVALID_PARAMETER, lText->Write(TnString("abcdefghi")));
    EXPECT_CODE(TN_OK, lText->ReadString(lRead));
    EXPECT_STREQ("abcdefgh", lRead.GetAscii());

    // Floats: a single in 4 bytes, a double in 8, converted either way.
    EXPECT_CODE(TN_OK, lPlain->WriteFloat(1.5f));
    EXPECT_EQ(0x3FC00000u, lPlain->PeekInt());
    double lNumber = 0;
    EXPECT_CODE(TN_OK, lPlain->ReadDouble(lNumber));
    EXPECT_EQ(1.5, lNumber);
    EXPECT_CODE(TN_OK, lWide->WriteDouble(-2.25));
    EXPECT_EQ(0xC0020000u, lWide->PeekInt(0));
    float lSingle = 0;
    EXPECT_CODE(TN_OK, lWide->ReadFloat(lSingle));
    EXPECT_EQ(-2.25f, lSingle);
    EXPECT_CODE(TN_OK, lWide->WriteFloat(3.0f));
    EXPECT_CODE(TN_OK, lWide->ReadDouble(lNumber));
    EXPECT_EQ(3.0, lNumber);

    EXPECT_EQ(8u, lText->GetLength());
    EXPECT_TRUE(lText->IsArrayOfBytes());
    EXPECT_FALSE(lText->IsWritable());
    EXPECT_TRUE(lText->IsReadable());
    EXPECT_STREQ("Text", lText->GetName().GetAscii());
}

TEST(Register, SinksRefuseRestoreAndSurviveExceptions)
{
    TnRegisterMap lMap;
    TnRegister *lReg = AddReg(lMap, "Reg", 0xA000, 4);
    RecordingSink lFirst;
    RecordingSink lSecond;
    EXPECT_CODE(TN_OK, lReg->AddEventSink(&lFirst));
    EXPECT_CODE(TN_OK, lReg->AddEventSink(&lSecond));
    EXPECT_CODE(TN_INVALID_PARAMETER, lReg->AddEventSink(&lFirst));
    EXPECT_CODE(TN_INVALID_PARAMETER, lReg->AddEventSink(nullptr));

    uint32_t lSeen = 0;
    lSecond.mAction = [&](const std::string &aCall, ITnRegister *aRegister) {
        if (aCall == "PreWrite")
        {
            aRegister->ReadInt(lSeen); // the new value, without calling the sinks again
        }
    };
    EXPECT_CODE(TN_OK, lReg->Write(5u));
    EXPECT_EQ(5u, lSeen);
    EXPECT_EQ((std::vector<std::string>{"PreWrite Reg", "PostWrite Reg"}), lFirst.Calls());
    EXPECT_EQ((std::vector<std::string>{"PreWrite Reg", "PostWrite Reg"}), lSecond.Calls());

    // A refusal restores the former value; later sinks and PostWrite are not called.
    lFirst.Clear();
    lSecond.Clear();
    lFirst.mWriteAnswer = TnResult(TN_INVALID_PARAMETER);
    const TnResult lRefused = lReg->Write(6u);
    EXPECT_CODE(TN_INVALID_PARAMETER, lRefused);
    EXPECT_TRUE(lRefused.HasDescription());
    EXPECT_EQ(5u, lReg->PeekInt());
    EXPECT_EQ((std::vector<std::string>{"PreWrite Reg"}), lFirst.Calls());
    EXPECT_TRUE(lSecond.Calls().empty());

    // Exceptions: a throwing PreRead fails the read, a throwing PostWrite is ignored.
    lFirst.mWriteAnswer = TnResult(TN_OK);
    lFirst.mAction = [](const std::string &aCall, ITnRegister *) {
        if (aCall == "PreRead" || aCall == "PostWrite")
        {
            throw std::runtime_error("boom");
        }
    };
    uint32_t lValue = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, lReg->ReadInt(lValue));
    lSecond.mAction = nullptr;
    EXPECT_CODE(TN_OK, lReg->Write(7u));
    EXPECT_EQ(7u, lReg->PeekInt());
    lFirst.mAction = [](const std::string &, ITnRegister *) { throw 42; };
    EXPECT_CODE(TN_GENERIC_ERROR, lReg->Write(8u));
    EXPECT_EQ(7u, lReg->PeekInt());

    EXPECT_CODE(TN_OK, lReg->RemoveEventSink(&lFirst));
    EXPECT_CODE(TN_INVALID_PARAMETER, lReg->RemoveEventSink(&lFirst));
    EXPECT_CODE(TN_OK, lReg->Write(9u));
    EXPECT_EQ(9u, lReg->PeekInt());
}

TEST(Register, RemoveEventSinkWaitsForRunningCalls)
{
    TnRegisterMap lMap;
    TnRegister *lReg = AddReg(lMap, "Reg", 0xA000, 4);
    RecordingSink lSink;
    std::promise<void> lEntered;
    std::promise<void> lRelease;
    std::shared_future<void> lGo = lRelease.get_future().share();
    std::atomic<bool> lFinished(false);
    lSink.mAction = [&](const std::string &aCall, ITnRegister *) {
        if (aCall == "PreRead")
        {
            lEntered.set_value();
            lGo.wait();
            lFinished = true;
        }
    };
    ASSERT_TRUE(lReg->AddEventSink(&lSink).IsOK());
    std::thread lReader([&] {
        uint32_t lValue;
        lReg->ReadInt(lValue);
    });
    lEntered.get_future().wait();
    std::future<TnResult> lRemoval = std::async(std::launch::async, [&] { return lReg->RemoveEventSink(&lSink); });
    EXPECT_EQ(std::future_status::timeout, lRemoval.wait_for(std::chrono::milliseconds(100)));
    lRelease.set_value();
    EXPECT_CODE(TN_OK, lRemoval.get());
    EXPECT_TRUE(lFinished);
    lReader.join();

    // A sink may remove itself from inside its own call.
    RecordingSink lSelf;
    lSelf.mAction = [&](const std::string &aCall, ITnRegister *aRegister) {
        if (aCall == "PostWrite")
        {
            EXPECT_CODE(TN_OK, aRegister->RemoveEventSink(&lSelf));
        }
    };
    ASSERT_TRUE(lReg->AddEventSink(&lSelf).IsOK());
    EXPECT_CODE(TN_OK, lReg->Write(1u));
    EXPECT_TRUE(lReg->Sinks().Snapshot().empty());
}

TEST(Register, ReleasedOrDestroyedSinkLeavesEveryRegister)
{
    TnRegisterMap lMap;
    TnRegister *lFirst = AddReg(lMap, "First", 0xA000, 4);
    TnRegister *lSecond = AddReg(lMap, "Second", 0xA004, 4);
    uint32_t lValue = 0;

    // The release waits for the call in progress on another thread; no call
    // starts after it, from either register.
    RecordingSink lSink;
    std::promise<void> lEntered;
    std::promise<void> lRelease;
    std::shared_future<void> lGo = lRelease.get_future().share();
    lSink.mAction = [&](const std::string &aCall, ITnRegister *) {
        if (aCall == "PreRead")
        {
            lEntered.set_value();
            lGo.wait();
        }
    };
    ASSERT_TRUE(lFirst->AddEventSink(&lSink).IsOK());
    ASSERT_TRUE(lSecond->AddEventSink(&lSink).IsOK());
    std::thread lReader([&] {
        uint32_t lRead;
        lFirst->ReadInt(lRead);
    });
    lEntered.get_future().wait();
    std::future<void> lReleased = std::async(std::launch::async, [&] { TnSoftDeviceRelease(&lSink); });
    EXPECT_EQ(std::future_status::timeout, lReleased.wait_for(std::chrono::milliseconds(100)));
    lRelease.set_value();
    lReleased.get();
    lReader.join();
    lSink.Clear();
    EXPECT_CODE(TN_OK, lFirst->ReadInt(lValue));
    EXPECT_CODE(TN_OK, lSecond->Write(1u));
    EXPECT_TRUE(lSink.Calls().empty());
    EXPECT_CODE(TN_INVALID_PARAMETER, lFirst->RemoveEventSink(&lSink));

    // Destroyed while registered, even from inside its own call.
    {
        RecordingSink lGone;
        ASSERT_TRUE(lFirst->AddEventSink(&lGone).IsOK());
    }
    struct SelfDeleting : public ITnRegisterEventSink
    {
        void PostWrite(ITnRegister *) override { delete this; }
    };
    ASSERT_TRUE(lSecond->AddEventSink(new SelfDeleting).IsOK());
    EXPECT_CODE(TN_OK, lSecond->Write(2u));
    EXPECT_TRUE(lFirst->Sinks().Snapshot().empty());
    EXPECT_TRUE(lSecond->Sinks().Snapshot().empty());
    EXPECT_CODE(TN_OK, lSecond->Write(3u));
}

TEST(RegisterMap, FactoryRulesAndAddresses)
{
    TnRegisterMap lMap;
    TnRegisterFactory lFactory(lMap);
    RecordingSink lSink;
    int lContext = 0;
    EXPECT_CODE(TN_OK, lFactory.AddRegister("A", 0xA000, 4, TnGenAccessModeReadWrite, &lSink, &lContext));
    ITnRegister *lA = lMap.GetRegisterByAddress(0xA003);
    ASSERT_NE(nullptr, lA);
    EXPECT_EQ(&lContext, lA->GetContext());
    EXPECT_EQ(1u, static_cast<TnRegister *>(lA)->Sinks().Snapshot().size());

    const struct
    {
        const char *mName;
        uint32_t mAddress;
        uint32_t mLength;
        int mAccess;
        bool mArray;
    } lRefused[] = {
        {"", 0xB000, 4, TnGenAccessModeReadWrite, false},      // no name
        {"A", 0xB000, 4, TnGenAccessModeReadWrite, false},     // name taken
        {"B", 0xA000, 4, TnGenAccessModeReadWrite, false},     // overlap
        {"B", 0x9FFC, 8, TnGenAccessModeReadWrite, false},     // overlap and bootstrap
        {"B", 0x0100, 4, TnGenAccessModeReadWrite, false},     // bootstrap range
        {"B", 0xF0000000, 4, TnGenAccessModeReadWrite, false}, // the device's range
        {"B", 0xB002, 4, TnGenAccessModeReadWrite, false},     // misaligned
        {"B", 0xB000, 12, TnGenAccessModeReadWrite, false},    // plain registers have 4 or 8 bytes
        {"B", 0xB000, 6, TnGenAccessModeReadWrite, true},      // arrays a multiple of 4
        {"B", 0xB000, 0, TnGenAccessModeReadWrite, true},      {"B", 0xB000, 4, 999, false}, // no access mode
        {"B", 0xB000, 4, TnGenAccessModeNotAvailable, false},
    };
    for (const auto &lItem : lRefused)
    {
        const TnResult lResult = lItem.mArray ? lFactory.AddByteArray(lItem.mName, lItem.mAddress, lItem.mLength,
                                                                      static_cast<TnGenAccessMode>(lItem.mAccess))
                                              : lFactory.AddRegister(lItem.mName, lItem.mAddress, lItem.mLength,
                                                                     static_cast<TnGenAccessMode>(lItem.mAccess));
        EXPECT_CODE(TN_GENERIC_ERROR, lResult);
        EXPECT_TRUE(lResult.HasDescription());
    }
    EXPECT_EQ(1u, lMap.GetRegisterCount());

    // Automatic addresses: the lowest free ones of their range, around others.
    EXPECT_CODE(TN_OK, lFactory.AddRegister("Placed", 0x10000004, 4, TnGenAccessModeReadOnly));
    uint32_t lAddress[3] = {0, 0, 0};
    EXPECT_CODE(TN_OK, lFactory.AddRegisterAuto("Auto0", lAddress[0], 4, TnGenAccessModeReadWrite, nullptr));
    EXPECT_CODE(TN_OK, lFactory.AddRegisterAuto("Auto1", lAddress[1], 8, TnGenAccessModeReadWrite, nullptr));
    EXPECT_CODE(TN_OK, lFactory.AddRegisterAuto("Auto2", lAddress[2], 4, TnGenAccessModeWriteOnly, &lSink));
    EXPECT_EQ(0x10000000u, lAddress[0]);
    EXPECT_EQ(0x10000008u, lAddress[1]);
    EXPECT_EQ(0x10000010u, lAddress[2]);
    uint32_t lUntouched = 77;
    EXPECT_CODE(TN_GENERIC_ERROR, lFactory.AddRegisterAuto("Auto3", lUntouched, 6, TnGenAccessModeReadWrite, nullptr));
    EXPECT_CODE(TN_GENERIC_ERROR, lFactory.AddRegisterAuto("Auto0", lUntouched, 4, TnGenAccessModeReadWrite, nullptr));
    EXPECT_EQ(77u, lUntouched);

    // Index order is address order; misses are null.
    ASSERT_EQ(5u, lMap.GetRegisterCount());
    EXPECT_STREQ("A", lMap.GetRegisterByIndex(0)->GetName().GetAscii());
    EXPECT_STREQ("Auto0", lMap.GetRegisterByIndex(1)->GetName().GetAscii());
    EXPECT_STREQ("Placed", lMap.GetRegisterByIndex(2)->GetName().GetAscii());
    EXPECT_EQ(nullptr, lMap.GetRegisterByIndex(5));
    EXPECT_EQ(nullptr, lMap.GetRegisterByAddress(0xA004));
    EXPECT_EQ(nullptr, lMap.GetRegisterByAddress(0xFFFFFFFF));

    lFactory.Close();
    EXPECT_CODE(TN_STATE_ERROR, lFactory.AddRegister("Late", 0xC000, 4, TnGenAccessModeReadWrite));
}

TEST(RegisterMap, ControllerAccessSpansRegistersWithStatuses)
{
    TnRegisterMap lMap;
    TnRegister *lFirst = AddReg(lMap, "First", 0xA000, 4);
    TnRegister *lSecond = AddReg(lMap, "Second", 0xA004, 8);
    AddReg(lMap, "ReadOnly", 0xA00C, 4, TnGenAccessModeReadOnly);
    AddReg(lMap, "WriteOnly", 0xA010, 4, TnGenAccessModeWriteOnly);
    AddReg(lMap, "Beyond", 0xA020, 4);
    lFirst->PokeInt(0x11223344);
    lSecond->PokeInt(0x55667788, 4);

    uint8_t lData[16] = {0};
    TnAccessStatus lStatus = lMap.ReadMemory(0xA002, lData, 8);
    EXPECT_EQ(0, lStatus.mStatus);
    EXPECT_EQ(0, memcmp(lData, "\x33\x44\x00\x00\x00\x00\x55\x66", 8));
    EXPECT_EQ(tn::gev::kGvcpStatusInvalidAddress, lMap.ReadMemory(0xA014, lData, 16).mStatus);
    EXPECT_EQ(tn::gev::kGvcpStatusAccessDenied, lMap.ReadMemory(0xA00C, lData, 8).mStatus);
    EXPECT_EQ(tn::gev::kGvcpStatusWriteProtect, lMap.WriteMemory(0xA008, lData, 8).mStatus);
    EXPECT_EQ(tn::gev::kGvcpStatusInvalidAddress, lMap.ReadMemory(0xFFFFFFFC, lData, 8).mStatus);
    uint32_t lValue = 0;
    EXPECT_EQ(tn::gev::kGvcpStatusBadAlignment, lMap.ReadRegister(0xA002, lValue).mStatus);
    EXPECT_EQ(0, lMap.ReadRegister(0xA008, lValue).mStatus);
    EXPECT_EQ(0x55667788u, lValue);

    // A write stops at the register that refuses: the ones before keep the
    // new bytes, the refusing one its former value.
    RecordingSink lRefuse;
    lRefuse.mWriteAnswer = TnResult(TN_STATE_ERROR);
    lSecond->AddEventSink(&lRefuse);
    const uint8_t lBytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    lStatus = lMap.WriteMemory(0xA000, lBytes, 8);
    EXPECT_EQ(tn::gev::kGvcpStatusAccessDenied, lStatus.mStatus);
    EXPECT_EQ(4u, lStatus.mDone);
    EXPECT_EQ(0x01020304u, lFirst->PeekInt());
    EXPECT_EQ(0u, lSecond->PeekInt(0));
    EXPECT_EQ(0x55667788u, lSecond->PeekInt(4));
    EXPECT_EQ(0, lMap.WriteRegister(0xA000, 0xCAFE).mStatus);
    EXPECT_EQ(0xCAFEu, lFirst->PeekInt());
}

TEST(RegisterMap, TimedLockHoldsBackAdditions)
{
    TnRegisterMap lMap;
    EXPECT_CODE(TN_STATE_ERROR, lMap.Lock());
    EXPECT_CODE(TN_STATE_ERROR, lMap.Lock(10));
    lMap.SetRunning(true);
    EXPECT_CODE(TN_OK, lMap.Lock());
    EXPECT_CODE(TN_TIMEOUT, lMap.Lock(20));

    // Registers are read and written meanwhile; additions wait.
    TnRegister *lReg = nullptr;
    std::future<TnResult> lAddition = std::async(std::launch::async, [&] {
        TnRegisterSpec lSpec;
        lSpec.mName = "Late";
        lSpec.mAddress = 0xA000;
        return lMap.Add(lSpec, &lReg);
    });
    EXPECT_EQ(std::future_status::timeout, lAddition.wait_for(std::chrono::milliseconds(100)));
    std::thread([&] { lMap.Release(); }).join(); // any thread may release
    EXPECT_CODE(TN_OK, lAddition.get());
    EXPECT_CODE(TN_OK, lReg->Write(3u));

    // Stopping the device wakes a waiting Lock.
    EXPECT_CODE(TN_OK, lMap.Lock(0));
    std::future<TnResult> lWaiting = std::async(std::launch::async, [&] { return lMap.Lock(); });
    EXPECT_EQ(std::future_status::timeout, lWaiting.wait_for(std::chrono::milliseconds(50)));
    lMap.SetRunning(false);
    EXPECT_CODE(TN_STATE_ERROR, lWaiting.get());
    lMap.Release();

    // A retired map keeps its registers; they keep their last content, call
    // no sink and refuse writes and sink changes.
    RecordingSink lSink;
    EXPECT_CODE(TN_OK, lReg->AddEventSink(&lSink));
    const size_t lCount = lMap.GetRegisterCount();
    lMap.Retire();
    EXPECT_CODE(TN_STATE_ERROR, lMap.Lock(0));
    EXPECT_EQ(lCount, lMap.GetRegisterCount());
    EXPECT_EQ(lReg, lMap.GetRegisterByAddress(0xA000));
    uint32_t lValue = 0;
    EXPECT_CODE(TN_OK, lReg->ReadInt(lValue));
    EXPECT_EQ(3u, lValue);
    EXPECT_CODE(TN_STATE_ERROR, lReg->Write(4u));
    EXPECT_CODE(TN_STATE_ERROR, lReg->AddEventSink(&lSink));
    EXPECT_CODE(TN_STATE_ERROR, lReg->RemoveEventSink(&lSink));
    EXPECT_CODE(TN_OK, lReg->ReadInt(lValue));
    EXPECT_EQ(3u, lValue);
    EXPECT_TRUE(lSink.Calls().empty());
}

TEST(UserSets, SaveAndLoadThroughPersist)
{
    TnRegisterMap lMap;
    TnUserSets lSets(lMap);
    TnRegister *lPlain = AddReg(lMap, "PlainReg", 0xA000, 4);
    TnRegister *lSelected = AddReg(lMap, "SelectedReg", 0xA004, 4);
    TnRegister *lSelector = AddReg(lMap, "SelectorReg", 0xA008, 4);
    TnRegister *lVolatileReg = AddReg(lMap, "Volatile", 0xA00C, 4);
    lPlain->SetPersistence("Plain", 1);
    lSelected->SetPersistence("Selected", 2);

    // The selected register holds one value per selector value; its sink
    // persists each of them under its own suffix.
    uint32_t lTable[2] = {10, 20};
    RecordingSink lTableSink;
    lTableSink.mAction = [&](const std::string &aCall, ITnRegister *aRegister) {
        const uint32_t lIndex = lSelector->PeekInt() & 1;
        if (aCall == "PreRead")
        {
            aRegister->Write(lTable[lIndex]);
        }
        else if (aCall == "PostWrite")
        {
            aRegister->ReadInt(lTable[lIndex]);
        }
    };
    lTableSink.mPersist = [&](ITnRegister *aRegister, ITnRegisterStore *aStore) {
        const uint32_t lFormer = lSelector->PeekInt();
        TnResult lResult;
        for (uint32_t lIndex = 0; lIndex < 2 && lResult.IsOK(); ++lIndex)
        {
            lSelector->PokeInt(lIndex);
            lResult = aStore->Persist(aRegister, TnString(("_" + std::to_string(lIndex)).c_str()));
        }
        lSelector->PokeInt(lFormer);
        return lResult;
    };
    lSelected->AddEventSink(&lTableSink);
    RecordingSink lPlainSink; // answers TN_NOT_IMPLEMENTED: the plain content is persisted
    lPlain->AddEventSink(&lPlainSink);

    EXPECT_CODE(TN_INVALID_PARAMETER, lSets.SetCount(257));
    EXPECT_CODE(TN_OK, lSets.SetCount(2));
    lPlain->PokeInt(1);
    EXPECT_CODE(TN_OK, lSets.SaveDefault());
    lPlain->PokeInt(2);
    lVolatileReg->PokeInt(5);
    EXPECT_CODE(TN_OK, lSets.Save(1));
    EXPECT_TRUE(lSets.IsSaved(1));
    EXPECT_CODE(TN_INVALID_PARAMETER, lSets.Save(0));
    EXPECT_CODE(TN_INVALID_PARAMETER, lSets.Save(3));

    lPlain->PokeInt(3);
    lTable[0] = 11;
    lTable[1] = 21;
    lVolatileReg->PokeInt(6);
    lPlainSink.Clear();
    EXPECT_CODE(TN_OK, lSets.Load(1));
    EXPECT_EQ(2u, lPlain->PeekInt());
    EXPECT_EQ(10u, lTable[0]);
    EXPECT_EQ(20u, lTable[1]);
    EXPECT_EQ(6u, lVolatileReg->PeekInt());
    EXPECT_EQ((std::vector<std::string>{"Persist PlainReg", "PreWrite PlainReg", "PostWrite PlainReg"}),
              lPlainSink.Calls());

    // A set never saved loads the default; the store works only during a run.
    EXPECT_CODE(TN_OK, lSets.Load(2));
    EXPECT_EQ(1u, lPlain->PeekInt());
    EXPECT_CODE(TN_STATE_ERROR, lTableSink.mStore->Persist(lPlain, TnString("")));
    EXPECT_CODE(TN_INVALID_PARAMETER, lSets.Load(3));

    // Failures are reported, the other registers go on; a run inside a run is busy.
    lPlainSink.mWriteAnswer = TnResult(TN_INVALID_PARAMETER);
    lTable[0] = 0;
    const TnResult lFailed = lSets.Load(1);
    EXPECT_CODE(TN_INVALID_PARAMETER, lFailed);
    EXPECT_NE(std::string::npos, tn::Describe(lFailed).find("Plain"));
    EXPECT_EQ(10u, lTable[0]);
    lTableSink.mPersist = [&](ITnRegister *, ITnRegisterStore *) { return lSets.Save(1); };
    EXPECT_CODE(TN_BUSY, lSets.Save(2));
}
