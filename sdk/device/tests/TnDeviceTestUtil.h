// Test helpers of the device tests: an event sink that records what it is
// told, and waiting for a condition.
#ifndef TN_DEVICE_TEST_UTIL_H
#define TN_DEVICE_TEST_UTIL_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TnDevice.h"
#include "TnGenParameter.h"
#include "TnText.h"

namespace tn
{
namespace test
{
/// Records every notification; tests wait on it.
class RecordingSink : public TnDeviceEventSink
{
public:
    struct Event
    {
        uint16_t mId;
        uint16_t mChannel;
        uint64_t mBlock;
        uint64_t mTimestamp;
        std::vector<uint8_t> mData;
        bool mHadData;
    };

    void OnLinkDisconnected(TnDevice *aDevice) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        ++mDisconnects;
        mDisconnectedDevice = aDevice;
        mChanged.notify_all();
    }

    void OnEvent(TnDevice *, uint16_t aEventID, uint16_t aChannel, uint64_t aBlockID, uint64_t aTimestamp,
                 const void *aData, uint32_t aDataLength) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        const uint8_t *lBytes = static_cast<const uint8_t *>(aData);
        mEvents.push_back(Event{aEventID, aChannel, aBlockID, aTimestamp,
                                std::vector<uint8_t>(lBytes, lBytes + (aData != nullptr ? aDataLength : 0)),
                                aData != nullptr});
        mChanged.notify_all();
    }

    void OnEventGenICam(TnDevice *, uint16_t aEventID, uint16_t, uint64_t, uint64_t, TnGenParameterList *aData) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        std::string lNames;
        for (uint32_t lIndex = 0; aData != nullptr && lIndex < aData->GetSize(); ++lIndex)
        {
            TnString lName;
            aData->GetItem(lIndex)->GetName(lName);
            lNames += std::string(lNames.empty() ? "" : ",") + lName.GetAscii();
            if (TnGenInteger *lInteger = dynamic_cast<TnGenInteger *>(aData->GetItem(lIndex)))
            {
                int64_t lValue = 0;
                if (lInteger->GetValue(lValue).IsOK())
                {
                    lNames += "=" + std::to_string(lValue);
                }
            }
        }
        mGenICamEvents.push_back(std::to_string(aEventID) + ":" + lNames);
        mChanged.notify_all();
    }

    void OnCmdLinkRead(const void *, int64_t aAddress, int64_t aLength) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mReads.emplace_back(aAddress, aLength);
    }

    void OnCmdLinkWrite(const void *, int64_t aAddress, int64_t aLength) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mWrites.emplace_back(aAddress, aLength);
    }

    /// Waits at most aTimeoutMs for aCondition, checked under the lock.
    bool WaitFor(const std::function<bool()> &aCondition, uint32_t aTimeoutMs)
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        return mChanged.wait_for(lLock, std::chrono::milliseconds(aTimeoutMs), aCondition);
    }

    std::mutex mMutex;
    std::condition_variable mChanged;
    int mDisconnects = 0;
    TnDevice *mDisconnectedDevice = nullptr;
    std::vector<Event> mEvents;
    std::vector<std::string> mGenICamEvents;
    std::vector<std::pair<int64_t, int64_t>> mReads;
    std::vector<std::pair<int64_t, int64_t>> mWrites;
};

inline std::string Describe(const TnResult &aResult)
{
    return tn::ToString(aResult.GetCodeString()) + ": " + tn::ToString(aResult.GetDescription());
}
} // namespace test
} // namespace tn

#endif
