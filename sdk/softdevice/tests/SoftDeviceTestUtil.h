// Helpers of the software device tests: a GenICam engine port over a
// register map, a recording register event sink, and a parameter array over
// a description.
#ifndef TN_SOFT_DEVICE_TEST_UTIL_H
#define TN_SOFT_DEVICE_TEST_UTIL_H

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TnGenICamInternal.h"
#include "TnGenParameterArray.h"
#include "TnGvcp.h"
#include "TnRegisterMap.h"
#include "TnText.h"

namespace tn
{
namespace softdevice
{
namespace test
{
/// The engine's port: what a client's memory reads and writes do, through
/// the map's controller access. A failed access keeps its status as the
/// result's code.
class MapPort : public genicam::IPort
{
public:
    explicit MapPort(TnRegisterMap &aMap) : mMap(aMap) {}

    TnResult Read(uint64_t aAddress, void *aData, size_t aLength) override
    {
        return ToResult(mMap.ReadMemory(static_cast<uint32_t>(aAddress), static_cast<uint8_t *>(aData), aLength));
    }

    TnResult Write(uint64_t aAddress, const void *aData, size_t aLength) override
    {
        return ToResult(mMap.WriteMemory(static_cast<uint32_t>(aAddress), static_cast<const uint8_t *>(aData), aLength));
    }

    uint16_t mLastStatus = 0;

private:
    TnResult ToResult(const TnAccessStatus &aStatus)
    {
        mLastStatus = aStatus.mStatus;
        return aStatus.mStatus == 0 ? TnResult(TN_OK) : TnResult(aStatus.mStatus, aStatus.mResult.GetDescription());
    }

    TnRegisterMap &mMap;
};

/// Records the calls it gets; PreRead, PreWrite and Persist answer what the
/// test sets, and may run an action.
class RecordingSink : public ITnRegisterEventSink
{
public:
    TnResult PreRead(ITnRegister *aRegister) override { return Record("PreRead", aRegister, mReadAnswer); }
    void PostRead(ITnRegister *aRegister) override { Record("PostRead", aRegister, TnResult()); }
    TnResult PreWrite(ITnRegister *aRegister) override { return Record("PreWrite", aRegister, mWriteAnswer); }
    void PostWrite(ITnRegister *aRegister) override { Record("PostWrite", aRegister, TnResult()); }
    TnResult Persist(ITnRegister *aRegister, ITnRegisterStore *aStore) override
    {
        mStore = aStore;
        if (mPersist)
        {
            return mPersist(aRegister, aStore);
        }
        return Record("Persist", aRegister, TnResult(TN_NOT_IMPLEMENTED));
    }

    std::vector<std::string> Calls()
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return mCalls;
    }

    void Clear()
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mCalls.clear();
    }

    TnResult mReadAnswer;
    TnResult mWriteAnswer;
    std::function<void(const std::string &, ITnRegister *)> mAction;
    std::function<TnResult(ITnRegister *, ITnRegisterStore *)> mPersist;
    ITnRegisterStore *mStore = nullptr;

private:
    TnResult Record(const char *aCall, ITnRegister *aRegister, const TnResult &aAnswer)
    {
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            mCalls.push_back(std::string(aCall) + " " + aRegister->GetName().GetAscii());
        }
        if (mAction)
        {
            mAction(aCall, aRegister);
        }
        return aAnswer;
    }

    std::mutex mMutex;
    std::vector<std::string> mCalls;
};

/// A parameter array over a description, its port on the map.
struct Client
{
    Client(const std::string &aXml, TnRegisterMap &aMap) : mPort(std::make_shared<MapPort>(aMap))
    {
        TnResult lResult;
        mArray.reset(genicam::CreateParameterArray(aXml, mPort, lResult));
        EXPECT_TRUE(lResult.IsOK()) << lResult.GetDescription().GetAscii();
    }

    TnGenParameterArray *operator->() { return mArray.get(); }
    explicit operator bool() const { return mArray != nullptr; }

    int64_t Int(const char *aName)
    {
        int64_t lValue = -1;
        const TnResult lResult = mArray->GetIntegerValue(aName, lValue);
        EXPECT_TRUE(lResult.IsOK()) << aName << ": " << lResult.GetDescription().GetAscii();
        return lValue;
    }

    std::shared_ptr<MapPort> mPort;
    std::unique_ptr<TnGenParameterArray> mArray;
};

/// Adds a register to a map (the device's way: any free address).
inline TnRegister *AddReg(TnRegisterMap &aMap, const char *aName, uint32_t aAddress, uint32_t aLength,
                          TnGenAccessMode aAccess = TnGenAccessModeReadWrite, bool aArray = false)
{
    TnRegisterSpec lSpec;
    lSpec.mName = aName;
    lSpec.mAddress = aAddress;
    lSpec.mLength = aLength;
    lSpec.mAccessMode = aAccess;
    lSpec.mByteArray = aArray;
    TnRegister *lReg = nullptr;
    const TnResult lResult = aMap.Add(lSpec, &lReg);
    EXPECT_TRUE(lResult.IsOK()) << aName << ": "
                                << (lResult.GetDescription().GetAscii() ? lResult.GetDescription().GetAscii() : "");
    return lReg;
}

/// The result's code, with its description when the code differs.
#define EXPECT_CODE(aCode, aResult) \
    do \
    { \
        const TnResult expectCodeResult = (aResult); \
        EXPECT_EQ(static_cast<uint32_t>(aCode), expectCodeResult.GetCode()) << tn::Describe(expectCodeResult); \
    } while (0)
} // namespace test
} // namespace softdevice
} // namespace tn

#endif
