#include "TnReceiveThread.h"

#include <errno.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "TnUdpSocket.h"

namespace tn
{
namespace gev
{
TnReceiveThread::~TnReceiveThread()
{
    Close();
}

TnResult TnReceiveThread::Open()
{
    Close();
    mWakeHandle = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return mWakeHandle >= 0 ? TnResult(TN_OK) : SocketFailure("eventfd", errno);
}

void TnReceiveThread::Close()
{
    Stop();
    if (mWakeHandle >= 0)
    {
        ::close(mWakeHandle);
        mWakeHandle = -1;
    }
}

TnResult TnReceiveThread::Start(std::function<void()> aLoop)
{
    if (mWakeHandle < 0)
    {
        return TnResult(TN_NOT_CONNECTED);
    }
    if (mRunning.load())
    {
        return TnResult(TN_OK);
    }
    mStopRequested = false;
    mRunning = true;
    try
    {
        mThread = std::thread(std::move(aLoop));
    }
    catch (...)
    {
        mRunning = false;
        return TnResult(TN_THREAD_ERROR);
    }
    return TnResult(TN_OK);
}

void TnReceiveThread::Stop()
{
    if (mThread.joinable())
    {
        mStopRequested = true;
        Wake();
        mThread.join();
    }
    {
        std::lock_guard<std::mutex> lLock(mRequestMutex);
        mRunning = false;
    }
    mRequestDone.notify_all();
}

void TnReceiveThread::Wake()
{
    const uint64_t lOne = 1;
    if (mWakeHandle >= 0 && write(mWakeHandle, &lOne, sizeof(lOne)) < 0)
    {
        // The loop still sees its flags at its next wake-up.
    }
}

void TnReceiveThread::TakeWakeUp()
{
    uint64_t lValue;
    if (read(mWakeHandle, &lValue, sizeof(lValue)) < 0)
    {
        // Nothing to do: the flags tell why it woke.
    }
}

bool TnReceiveThread::Request(const std::function<void()> &aRecord)
{
    std::unique_lock<std::mutex> lLock(mRequestMutex);
    if (!mRunning.load() || mThread.get_id() == std::this_thread::get_id())
    {
        return false;
    }
    const uint64_t lTicket = ++mRequested;
    aRecord();
    Wake();
    mRequestDone.wait(lLock, [&] { return mServed >= lTicket || !mRunning.load(); });
    return true;
}

void TnReceiveThread::Served(uint64_t aTaken)
{
    {
        std::lock_guard<std::mutex> lLock(mRequestMutex);
        mServed = std::max(mServed, aTaken);
    }
    mRequestDone.notify_all();
}
} // namespace gev
} // namespace tn
