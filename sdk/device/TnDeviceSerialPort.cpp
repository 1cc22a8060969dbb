// The serial port over the device's GenICam features.
//
// A device offers port P (Serial0, Serial1, SerialBulk0 ... SerialBulk7) with
// four features: the registers PTransmitData and PReceiveData and the
// integers PTransmitFree (room in the device's transmit queue) and
// PReceiveCount (bytes waiting in its receive queue). Both registers carry
// messages: a 32-bit sequence number and a 32-bit byte count, big-endian,
// then the bytes.
//
// - Sending: the host writes a message to PTransmitData (its length rounded
//   up to whole 32-bit words, at most 512 bytes) carrying no more bytes than
//   PTransmitFree allows, each with a new sequence number; the device takes
//   the bytes into its transmit queue, and ignores a message with the
//   sequence number of the one it took last (a write repeated by the link).
// - Receiving: reading PReceiveData gives the device's current message (the
//   oldest bytes of its receive queue, sequence number 0 and count 0 when
//   there are none); it stays the same until the host writes its sequence
//   number back to PReceiveData, which acknowledges it.
//
// The port's thread polls PReceiveCount and moves what arrives into the
// port's receive buffer; Write sends from the caller's thread.
//
// The device's event sinks hear of the port thread's reads on that thread.
// A sink that closes the port there only asks: the thread closes it once the
// sink's call has returned, touching the adapter no more. One that destroys
// the port leaves the port's state to the thread, which frees it as it ends.
#include "TnDeviceSerialPort.h"

#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "TnByteOrder.h"
#include "TnFork.h"
#include "TnSinkRegistry.h"
#include "TnText.h"
#include "TnWait.h"

namespace tn
{
namespace device
{
namespace
{
using Clock = std::chrono::steady_clock;

constexpr uint32_t kDefaultRxBufferSize = 4096;
constexpr size_t kHeader = 8;
constexpr size_t kLargestMessage = 512;
constexpr auto kPollInterval = std::chrono::milliseconds(5);
constexpr auto kLostPollInterval = std::chrono::milliseconds(50);
// How long a write waits for room in the device's transmit queue.
constexpr auto kStallLimit = std::chrono::seconds(5);

// The features of one port, as the device offers them.
struct PortFeatures
{
    TnString mTransmitData;
    TnString mTransmitFree;
    TnString mReceiveData;
    TnString mReceiveCount;
    size_t mTransmitLength = 0; // bytes a message may take
    size_t mReceiveLength = 0;
};

const char *PortName(TnDeviceSerial aPort)
{
    static const char *const kNames[] = {"Serial0",     "Serial1",     "SerialBulk0", "SerialBulk1", "SerialBulk2",
                                         "SerialBulk3", "SerialBulk4", "SerialBulk5", "SerialBulk6", "SerialBulk7"};
    return aPort >= TnDeviceSerial0 && aPort <= TnDeviceSerialBulk7 ? kNames[aPort] : nullptr;
}

bool FindFeatures(ITnDeviceAdapter &aAdapter, TnDeviceSerial aPort, PortFeatures &aFeatures)
{
    const char *lName = PortName(aPort);
    if (lName == nullptr || !aAdapter.IsConnected())
    {
        return false;
    }
    const std::string lPrefix(lName);
    aFeatures.mTransmitData = TnString((lPrefix + "TransmitData").c_str());
    aFeatures.mTransmitFree = TnString((lPrefix + "TransmitFree").c_str());
    aFeatures.mReceiveData = TnString((lPrefix + "ReceiveData").c_str());
    aFeatures.mReceiveCount = TnString((lPrefix + "ReceiveCount").c_str());
    int64_t lTransmit = 0;
    int64_t lReceive = 0;
    if (!aAdapter.IsGenRegisterInNodeMap(aFeatures.mTransmitData) ||
        !aAdapter.IsGenRegisterInNodeMap(aFeatures.mReceiveData) ||
        !aAdapter.IsGenIntegerInNodeMap(aFeatures.mTransmitFree) ||
        !aAdapter.IsGenIntegerInNodeMap(aFeatures.mReceiveCount) ||
        !aAdapter.GetGenRegisterLength(aFeatures.mTransmitData, lTransmit).IsOK() ||
        !aAdapter.GetGenRegisterLength(aFeatures.mReceiveData, lReceive).IsOK() ||
        lTransmit < static_cast<int64_t>(kHeader + 4) || lReceive < static_cast<int64_t>(kHeader + 1))
    {
        return false;
    }
    aFeatures.mTransmitLength = std::min<size_t>(static_cast<size_t>(lTransmit), kLargestMessage) & ~size_t(3);
    aFeatures.mReceiveLength = static_cast<size_t>(std::min<int64_t>(lReceive, 1 << 20));
    return true;
}

SinkRegistry<TnDeviceSerialPortEchoSink> &EchoSinks()
{
    static SinkRegistry<TnDeviceSerialPortEchoSink> *sSinks = new SinkRegistry<TnDeviceSerialPortEchoSink>;
    return *sSinks;
}

template <typename Call> void TellEchoSinks(Call aCall)
{
    EchoSinks().ForEach(aCall, [](TnDeviceSerialPortEchoSink *, const std::exception_ptr &) {});
}

TnResult NotOpen()
{
    return TnResult(TN_NOT_CONNECTED, TnString("the serial port is not open"));
}
} // namespace

struct SerialPortState : ProcessOwner // made before a fork: the parent's (TnFork.h)
{
    // The open port (guarded by mMutex; the feature names and the adapter do
    // not change while the poller runs).
    std::mutex mMutex;
    std::condition_variable mChanged;
    ITnDeviceAdapter *mAdapter = nullptr;
    TnDeviceSerial mPort = TnDeviceSerialInvalid;
    PortFeatures mFeatures;
    bool mStop = false;
    bool mLost = false;
    bool mOrphaned = false; // the port was destroyed on its own thread
    std::thread mPoller;

    // The receive buffer: the newest bytes, at most mCapacity of them.
    std::deque<uint8_t> mReceived;
    uint32_t mCapacity = kDefaultRxBufferSize;
    bool mHaveMessage = false; // the sequence number of the last message taken
    uint32_t mLastMessage = 0;

    // Writes, one at a time.
    std::mutex mWriteMutex;
    uint32_t mSequence = 0;
    bool mWritten = false;
    uint32_t mWriteDone = 0;
    uint32_t mWriteTotal = 0;

    std::atomic<uint64_t> mSent{0};
    std::atomic<uint64_t> mReceivedCount{0};

    /// A failure of a transfer: the device counts as lost when it no longer
    /// answers or its controller lost it.
    TnResult Lost(const TnResult &aCause)
    {
        const uint32_t lCode = aCause.GetCode();
        if (!mAdapter->IsConnected() || lCode == TN_NOT_CONNECTED || lCode == TN_TIMEOUT || lCode == TN_NETWORK_ERROR)
        {
            {
                std::lock_guard<std::mutex> lLock(mMutex);
                mLost = true;
            }
            mChanged.notify_all();
            return Failure(TN_NOT_CONNECTED, "the device was lost: " + Describe(aCause));
        }
        return aCause;
    }

    // Takes the bytes into the receive buffer, dropping the oldest beyond
    // its capacity. Echo sinks and the count hear of the bytes before a reader
    // can take them, so whoever has read them finds both up to date. Bytes
    // that come as the port closes (an echo sink may close it) are dropped:
    // a closed port keeps nothing of its session.
    void Deliver(const uint8_t *aData, size_t aSize)
    {
        if (Stopping())
        {
            return;
        }
        TellEchoSinks([&](TnDeviceSerialPortEchoSink *aSink) { aSink->OnRead(aData, static_cast<uint32_t>(aSize)); });
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            if (mStop)
            {
                return;
            }
            mReceivedCount += aSize;
            mReceived.insert(mReceived.end(), aData, aData + aSize);
            if (mReceived.size() > mCapacity)
            {
                mReceived.erase(mReceived.begin(),
                                mReceived.begin() + static_cast<std::ptrdiff_t>(mReceived.size() - mCapacity));
            }
        }
        mChanged.notify_all();
    }

    bool Stopping()
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return mStop;
    }

    // Whether the port's own thread calls.
    bool OnPollerThread() const
    {
        return mPoller.joinable() && mPoller.get_id() == std::this_thread::get_id();
    }

    // Fetches the device's next message; false when there was none (or the
    // fetch failed). A sink of the device may close the port during any
    // call of the adapter: after each, the adapter is used only while the
    // port is still open.
    bool Fetch(std::vector<uint8_t> &aMessage)
    {
        int64_t lWaiting = 0;
        if (!mAdapter->GetGenIntegerValue(mFeatures.mReceiveCount, lWaiting).IsOK() || lWaiting <= 0 || Stopping() ||
            !mAdapter->GetGenRegisterData(mFeatures.mReceiveData, aMessage.data(), aMessage.size()).IsOK() ||
            Stopping())
        {
            return false;
        }
        const uint32_t lSequence = GetU32(aMessage.data());
        const size_t lCount = std::min<size_t>(GetU32(aMessage.data() + 4), aMessage.size() - kHeader);
        if (lSequence == 0 || lCount == 0)
        {
            return false;
        }
        // Acknowledged before the bytes are taken, so that a port closed once
        // it took them leaves the device no message of theirs to show the
        // next session as new. A failed acknowledgement brings the same
        // message again, which is not taken twice.
        const bool lFresh = !mHaveMessage || lSequence != mLastMessage;
        uint8_t lAck[4];
        PutU32(lAck, lSequence);
        const bool lAcknowledged = mAdapter->SetGenRegisterData(mFeatures.mReceiveData, lAck, sizeof(lAck)).IsOK();
        mHaveMessage = true;
        mLastMessage = lSequence;
        if (lFresh)
        {
            Deliver(aMessage.data() + kHeader, lCount);
        }
        return lAcknowledged && !Stopping();
    }

    void Poll()
    {
        std::vector<uint8_t> lMessage(mFeatures.mReceiveLength);
        std::unique_lock<std::mutex> lLock(mMutex);
        while (!mStop)
        {
            lLock.unlock();
            const bool lConnected = mAdapter->IsConnected();
            const bool lFetched = lConnected && !Stopping() && Fetch(lMessage);
            lLock.lock();
            if (!lConnected && !mLost)
            {
                mLost = true;
                mChanged.notify_all();
            }
            if (!lFetched)
            {
                mChanged.wait_for(lLock, lConnected ? kPollInterval : kLostPollInterval, [this] { return mStop; });
            }
        }
        lLock.unlock();
        // Closed from a sink on this thread, or elsewhere: the port lets go
        // of the adapter (a write in progress ends first).
        bool lOrphaned;
        {
            std::lock_guard<std::mutex> lWriting(mWriteMutex);
            std::lock_guard<std::mutex> lClosing(mMutex);
            mAdapter = nullptr;
            mPort = TnDeviceSerialInvalid;
            lOrphaned = mOrphaned;
        }
        mChanged.notify_all();
        if (lOrphaned)
        {
            delete this;
        }
    }

    TnResult Send(const uint8_t *aData, uint32_t aSize, uint32_t &aDone)
    {
        const size_t lLargest = mFeatures.mTransmitLength - kHeader;
        std::vector<uint8_t> lMessage(mFeatures.mTransmitLength);
        Clock::time_point lProgress = Clock::now();
        InterruptPacer lPacer;
        while (aDone < aSize)
        {
            {
                std::unique_lock<std::mutex> lLock(mMutex);
                if (mStop)
                {
                    return Failure(TN_NOT_CONNECTED, "the serial port was closed during the write");
                }
            }
            if (!mAdapter->IsConnected())
            {
                return Lost(Failure(TN_NOT_CONNECTED, "the device is not connected"));
            }
            int64_t lFree = 0;
            TnResult lResult = mAdapter->GetGenIntegerValue(mFeatures.mTransmitFree, lFree);
            if (!lResult.IsOK())
            {
                return Lost(lResult);
            }
            const int64_t lWanted = std::min<int64_t>(lLargest, aSize - aDone);
            const size_t lCount = static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(lFree, 0), lWanted));
            if (lCount == 0)
            {
                if (Clock::now() - lProgress > kStallLimit)
                {
                    return Failure(TN_GENERIC_ERROR, "the device took no bytes for " +
                                                         std::to_string(std::chrono::seconds(kStallLimit).count()) +
                                                         " s");
                }
                if (lPacer.Stop())
                {
                    return Failure(TN_ABORTED, "the write was interrupted; the bytes written so far went");
                }
                std::unique_lock<std::mutex> lLock(mMutex);
                mChanged.wait_for(lLock, std::chrono::milliseconds(1), [this] { return mStop; });
                continue;
            }
            if (++mSequence == 0)
            {
                mSequence = 1;
            }
            PutU32(lMessage.data(), mSequence);
            PutU32(lMessage.data() + 4, static_cast<uint32_t>(lCount));
            memcpy(lMessage.data() + kHeader, aData + aDone, lCount);
            const size_t lLength = (kHeader + lCount + 3) & ~size_t(3);
            memset(lMessage.data() + kHeader + lCount, 0, lLength - kHeader - lCount);
            lResult =
                mAdapter->SetGenRegisterData(mFeatures.mTransmitData, lMessage.data(), static_cast<int64_t>(lLength));
            if (!lResult.IsOK())
            {
                lResult = Lost(lResult);
                return lResult.GetCode() == TN_NOT_CONNECTED
                           ? lResult
                           : Failure(TN_GENERIC_ERROR, "the device refused bytes: " + Describe(lResult));
            }
            TellEchoSinks([&](TnDeviceSerialPortEchoSink *aSink) {
                aSink->OnWrite(aData + aDone, static_cast<uint32_t>(lCount));
            });
            aDone += static_cast<uint32_t>(lCount);
            mSent += lCount;
            lProgress = Clock::now();
            std::lock_guard<std::mutex> lLock(mMutex);
            mWriteDone = aDone;
        }
        return TnResult(TN_OK);
    }
};
} // namespace device
} // namespace tn

using tn::device::SerialPortState;

TnDeviceSerialPortEchoSink::~TnDeviceSerialPortEchoSink() = default;

TnDeviceSerialPort::TnDeviceSerialPort() : mState(new SerialPortState)
{
}

TnDeviceSerialPort::~TnDeviceSerialPort()
{
    if (mState->IsInherited())
    {
        return; // the parent's: its thread is not in this process
    }
    {
        std::lock_guard<std::mutex> lLock(mState->mMutex);
        if (mState->OnPollerThread())
        {
            // From a sink's call on the port's thread: the thread frees the
            // state as it ends.
            mState->mStop = true;
            mState->mOrphaned = true;
            mState->mPoller.detach();
            mState->mChanged.notify_all();
            return;
        }
    }
    Close();
    delete mState;
}

bool TnDeviceSerialPort::IsSupported(ITnDeviceAdapter *aAdapter, TnDeviceSerial aPort)
{
    tn::device::PortFeatures lFeatures;
    return aAdapter != nullptr && tn::device::FindFeatures(*aAdapter, aPort, lFeatures);
}

TnResult TnDeviceSerialPort::Open(ITnDeviceAdapter *aAdapter, TnDeviceSerial aPort)
{
    if (mState->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceSerialPort::Open");
    }
    if (aAdapter == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("Open: no device adapter was given"));
    }
    if (!aAdapter->IsConnected())
    {
        return TnResult(TN_NOT_CONNECTED, TnString("Open: the device is not connected"));
    }
    tn::device::PortFeatures lFeatures;
    if (!tn::device::FindFeatures(*aAdapter, aPort, lFeatures))
    {
        return TnResult(TN_NOT_SUPPORTED, TnString("Open: the device has no such serial port"));
    }
    std::thread lEnded;
    {
        std::lock_guard<std::mutex> lLock(mState->mMutex);
        if (mState->OnPollerThread())
        {
            return TnResult(TN_STATE_ERROR, TnString("Open: not from a call on the port's own thread"));
        }
        if (mState->mStop)
        {
            lEnded.swap(mState->mPoller); // closed from its own thread: that thread ends first
        }
    }
    if (lEnded.joinable())
    {
        lEnded.join();
    }
    std::lock_guard<std::mutex> lWriting(mState->mWriteMutex);
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    if (mState->mAdapter != nullptr || mState->mPoller.joinable())
    {
        return TnResult(TN_STATE_ERROR, TnString("Open: the port is open already; close it first"));
    }
    mState->mAdapter = aAdapter;
    mState->mPort = aPort;
    mState->mFeatures = lFeatures;
    mState->mStop = false;
    mState->mLost = false;
    mState->mHaveMessage = false;
    mState->mReceived.clear(); // a session starts empty
    // Sequence numbers start anywhere, so that the device never takes a new
    // port's first message for the last one of an earlier port.
    mState->mSequence = std::random_device()();
    try
    {
        mState->mPoller = std::thread(&SerialPortState::Poll, mState);
    }
    catch (const std::exception &lError)
    {
        mState->mAdapter = nullptr;
        return tn::Failure(TN_THREAD_ERROR, std::string("Open: cannot start the port's thread: ") + lError.what());
    }
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::Close()
{
    if (mState->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceSerialPort::Close");
    }
    std::thread lPoller;
    bool lWasOpen;
    {
        std::lock_guard<std::mutex> lLock(mState->mMutex);
        lWasOpen = mState->mAdapter != nullptr && !mState->mStop;
        if (mState->OnPollerThread())
        {
            // From a sink's call on the port's thread: the thread closes the
            // port once that call has returned.
            if (!lWasOpen)
            {
                return tn::device::NotOpen();
            }
            mState->mStop = true;
            mState->mReceived.clear();
            mState->mChanged.notify_all();
            return TnResult(TN_OK);
        }
        if (!lWasOpen && !mState->mPoller.joinable())
        {
            return tn::device::NotOpen();
        }
        mState->mStop = true;
        mState->mReceived.clear();
        lPoller.swap(mState->mPoller);
    }
    mState->mChanged.notify_all();
    if (lPoller.joinable())
    {
        lPoller.join();
    }
    // A write in progress ends first.
    std::lock_guard<std::mutex> lWriting(mState->mWriteMutex);
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    mState->mAdapter = nullptr;
    mState->mPort = TnDeviceSerialInvalid;
    return lWasOpen ? TnResult(TN_OK) : tn::device::NotOpen();
}

bool TnDeviceSerialPort::IsOpened()
{
    if (mState->IsInherited())
    {
        return false;
    }
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return mState->mAdapter != nullptr && !mState->mStop;
}

TnResult TnDeviceSerialPort::Write(const uint8_t *aBuffer, uint32_t aSize, uint32_t &aBytesWritten)
{
    aBytesWritten = 0;
    if (mState->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceSerialPort::Write");
    }
    std::lock_guard<std::mutex> lWriting(mState->mWriteMutex);
    {
        std::lock_guard<std::mutex> lLock(mState->mMutex);
        if (mState->mAdapter == nullptr || mState->mStop)
        {
            return tn::device::NotOpen();
        }
        if (aBuffer == nullptr && aSize > 0)
        {
            return TnResult(TN_INVALID_PARAMETER, TnString("Write: no bytes were given"));
        }
        mState->mWritten = true;
        mState->mWriteDone = 0;
        mState->mWriteTotal = aSize;
    }
    if (!mState->mAdapter->IsConnected())
    {
        return mState->Lost(TnResult(TN_NOT_CONNECTED, TnString("Write: the device is not connected")));
    }
    return mState->Send(aBuffer, aSize, aBytesWritten);
}

TnResult TnDeviceSerialPort::GetWriteProgress(uint32_t &aWritten, uint32_t &aTotal)
{
    if (mState->IsInherited())
    {
        aWritten = 0;
        aTotal = 0;
        return tn::InheritedFailure("TnDeviceSerialPort::GetWriteProgress");
    }
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    if (!mState->mWritten)
    {
        return TnResult(TN_STATE_ERROR, TnString("GetWriteProgress: nothing was written yet"));
    }
    aWritten = mState->mWriteDone;
    aTotal = mState->mWriteTotal;
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::Read(uint8_t *aBuffer, uint32_t aSize, uint32_t &aBytesRead, uint32_t aTimeout)
{
    aBytesRead = 0;
    if (mState->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceSerialPort::Read");
    }
    std::unique_lock<std::mutex> lLock(mState->mMutex);
    if (mState->mAdapter == nullptr || mState->mStop)
    {
        return tn::device::NotOpen();
    }
    if (aBuffer == nullptr && aSize > 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("Read: no buffer was given"));
    }
    if (aSize == 0)
    {
        return TnResult(TN_OK);
    }
    tn::WaitFor(mState->mChanged, lLock, aTimeout,
            [this] { return !mState->mReceived.empty() || mState->mLost || mState->mStop; });
    if (tn::Interrupted())
    {
        // The bytes that came meanwhile stay for the next read.
        return TnResult(TN_ABORTED, TnString("Read: interrupted"));
    }
    while (aBytesRead < aSize && !mState->mReceived.empty())
    {
        aBuffer[aBytesRead++] = mState->mReceived.front();
        mState->mReceived.pop_front();
    }
    if (aBytesRead > 0)
    {
        return TnResult(TN_OK);
    }
    return mState->mLost ? TnResult(TN_NOT_CONNECTED, TnString("Read: the device was lost"))
                         : TnResult(TN_TIMEOUT, TnString("Read: no bytes arrived"));
}

TnResult TnDeviceSerialPort::NotifyReadComplete()
{
    if (mState->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceSerialPort::NotifyReadComplete");
    }
    tn::device::TellEchoSinks([](TnDeviceSerialPortEchoSink *aSink) { aSink->OnReadComplete(); });
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::FlushRxBuffer()
{
    if (mState->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceSerialPort::FlushRxBuffer");
    }
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    mState->mReceived.clear();
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::GetRxBytesReady(uint32_t &aBytes)
{
    if (mState->IsInherited())
    {
        aBytes = 0;
        return tn::InheritedFailure("TnDeviceSerialPort::GetRxBytesReady");
    }
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    aBytes = static_cast<uint32_t>(mState->mReceived.size());
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::GetRxBufferSize(uint32_t &aSize)
{
    if (mState->IsInherited())
    {
        aSize = 0;
        return tn::InheritedFailure("TnDeviceSerialPort::GetRxBufferSize");
    }
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    aSize = mState->mCapacity;
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::SetRxBufferSize(uint32_t aSize)
{
    if (mState->IsInherited())
    {
        return tn::InheritedFailure("TnDeviceSerialPort::SetRxBufferSize");
    }
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    mState->mCapacity = aSize;
    mState->mReceived.clear();
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::RegisterEchoSink(TnDeviceSerialPortEchoSink *aEchoSink)
{
    if (aEchoSink == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("RegisterEchoSink: no sink was given"));
    }
    // Echo sinks keep the answer programs written for them test for a sink
    // registered twice, TN_NOT_SUPPORTED, rather than kSinkRegisteredTwice.
    return tn::device::EchoSinks().Add(aEchoSink)
               ? TnResult(TN_OK)
               : TnResult(TN_NOT_SUPPORTED, TnString("RegisterEchoSink: the sink is registered already"));
}

TnResult TnDeviceSerialPort::UnregisterEchoSink(TnDeviceSerialPortEchoSink *aEchoSink)
{
    if (aEchoSink == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("UnregisterEchoSink: no sink was given"));
    }
    return tn::device::EchoSinks().Remove(aEchoSink)
               ? TnResult(TN_OK)
               : TnResult(TN_NOT_FOUND, TnString("UnregisterEchoSink: the sink is not registered"));
}

uint64_t TnDeviceSerialPort::GetBytesSent() const
{
    if (mState->IsInherited())
    {
        return 0;
    }
    return mState->mSent;
}

uint64_t TnDeviceSerialPort::GetBytesReceived() const
{
    if (mState->IsInherited())
    {
        return 0;
    }
    return mState->mReceivedCount;
}

void TnDeviceSerialPort::ResetStatistics()
{
    if (mState->IsInherited())
    {
        return;
    }
    mState->mSent = 0;
    mState->mReceivedCount = 0;
}
