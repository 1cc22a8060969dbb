#include "TnDeviceSerialPort.h"

#include <atomic>
#include <deque>
#include <mutex>

#include "TnSinkRegistry.h"

namespace tn
{
namespace device
{
struct SerialPortState
{
    std::mutex mMutex;
    ITnDeviceAdapter *mAdapter = nullptr;
    TnDeviceSerial mPort = TnDeviceSerialInvalid;
    std::deque<uint8_t> mReceived;
    uint32_t mCapacity = 4096;
    bool mWritten = false;
    uint32_t mWriteDone = 0;
    uint32_t mWriteTotal = 0;
    std::atomic<uint64_t> mSent{0};
    std::atomic<uint64_t> mReceivedCount{0};
};

namespace
{
SinkRegistry<TnDeviceSerialPortEchoSink> &EchoSinks()
{
    static SinkRegistry<TnDeviceSerialPortEchoSink> *sSinks = new SinkRegistry<TnDeviceSerialPortEchoSink>;
    return *sSinks;
}

TnResult NotOpen()
{
    return TnResult(TN_NOT_CONNECTED, TnString("the serial port is not open"));
}
} // namespace
} // namespace device
} // namespace tn

using tn::device::SerialPortState;

TnDeviceSerialPortEchoSink::~TnDeviceSerialPortEchoSink() = default;

TnDeviceSerialPort::TnDeviceSerialPort() : mState(new SerialPortState)
{
}

TnDeviceSerialPort::~TnDeviceSerialPort()
{
    delete mState;
}

bool TnDeviceSerialPort::IsSupported(ITnDeviceAdapter *aAdapter, TnDeviceSerial aPort)
{
    // No connected device offers a serial transport yet.
    (void)aAdapter;
    (void)aPort;
    return false;
}

TnResult TnDeviceSerialPort::Open(ITnDeviceAdapter *aAdapter, TnDeviceSerial aPort)
{
    if (aAdapter == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("Open: no device adapter was given"));
    }
    if (!aAdapter->IsConnected())
    {
        return TnResult(TN_NOT_CONNECTED, TnString("Open: the device is not connected"));
    }
    if (!IsSupported(aAdapter, aPort))
    {
        return TnResult(TN_NOT_SUPPORTED, TnString("Open: the device has no such serial port"));
    }
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    mState->mAdapter = aAdapter;
    mState->mPort = aPort;
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::Close()
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    if (mState->mAdapter == nullptr)
    {
        return tn::device::NotOpen();
    }
    mState->mAdapter = nullptr;
    mState->mPort = TnDeviceSerialInvalid;
    return TnResult(TN_OK);
}

bool TnDeviceSerialPort::IsOpened()
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    return mState->mAdapter != nullptr;
}

TnResult TnDeviceSerialPort::Write(const uint8_t *, uint32_t aSize, uint32_t &aBytesWritten)
{
    aBytesWritten = 0;
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    if (mState->mAdapter == nullptr || !mState->mAdapter->IsConnected())
    {
        return tn::device::NotOpen();
    }
    mState->mWritten = true;
    mState->mWriteDone = 0;
    mState->mWriteTotal = aSize;
    return TnResult(TN_NOT_SUPPORTED, TnString("Write: the device has no serial transport"));
}

TnResult TnDeviceSerialPort::GetWriteProgress(uint32_t &aWritten, uint32_t &aTotal)
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    if (!mState->mWritten)
    {
        return TnResult(TN_STATE_ERROR, TnString("GetWriteProgress: nothing was written yet"));
    }
    aWritten = mState->mWriteDone;
    aTotal = mState->mWriteTotal;
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::Read(uint8_t *aBuffer, uint32_t aSize, uint32_t &aBytesRead, uint32_t)
{
    aBytesRead = 0;
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    if (mState->mAdapter == nullptr)
    {
        return tn::device::NotOpen();
    }
    if (aBuffer == nullptr && aSize > 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("Read: no buffer was given"));
    }
    while (aBytesRead < aSize && !mState->mReceived.empty())
    {
        aBuffer[aBytesRead++] = mState->mReceived.front();
        mState->mReceived.pop_front();
    }
    return aBytesRead > 0 || aSize == 0 ? TnResult(TN_OK) : TnResult(TN_TIMEOUT, TnString("Read: no bytes arrived"));
}

TnResult TnDeviceSerialPort::NotifyReadComplete()
{
    tn::device::EchoSinks().ForEach([](TnDeviceSerialPortEchoSink *aSink) { aSink->OnReadComplete(); },
                                    [](TnDeviceSerialPortEchoSink *, const std::exception_ptr &) {});
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::FlushRxBuffer()
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    mState->mReceived.clear();
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::GetRxBytesReady(uint32_t &aBytes)
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    aBytes = static_cast<uint32_t>(mState->mReceived.size());
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::GetRxBufferSize(uint32_t &aSize)
{
    std::lock_guard<std::mutex> lLock(mState->mMutex);
    aSize = mState->mCapacity;
    return TnResult(TN_OK);
}

TnResult TnDeviceSerialPort::SetRxBufferSize(uint32_t aSize)
{
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
    return mState->mSent;
}

uint64_t TnDeviceSerialPort::GetBytesReceived() const
{
    return mState->mReceivedCount;
}

void TnDeviceSerialPort::ResetStatistics()
{
    mState->mSent = 0;
    mState->mReceivedCount = 0;
}
