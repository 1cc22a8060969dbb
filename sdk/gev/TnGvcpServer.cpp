#include "TnGvcpServer.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "TnGevBytes.h"

namespace tn
{
namespace gev
{
namespace
{
constexpr size_t kReceiveCapacity = 2048;
constexpr size_t kAnsweredPeers = 16;
constexpr size_t kMaxReadMemory = kGvcpMaxPayload - 4;
constexpr size_t kDatagramsPerRound = 64; // then the other socket and the wake-up get their turn

// The responder whose thread this is, if any.
thread_local const TnGvcpServer *tServing = nullptr;

// Runs a handler call; anything it throws becomes a device error.
template <typename Call> uint16_t Guarded(Call aCall)
{
    try
    {
        return aCall();
    }
    catch (...)
    {
        return kGvcpStatusError;
    }
}
} // namespace

TnGvcpRegisterHandler::~TnGvcpRegisterHandler() = default;

uint16_t TnGvcpRegisterHandler::ReadRegister(const TnGvcpPeer &aPeer, uint32_t aAddress, uint32_t &aValue)
{
    uint8_t lBytes[4] = {0, 0, 0, 0};
    const uint16_t lStatus = ReadMemory(aPeer, aAddress, lBytes, sizeof(lBytes));
    aValue = GetU32(lBytes);
    return lStatus;
}

uint16_t TnGvcpRegisterHandler::WriteRegister(const TnGvcpPeer &aPeer, uint32_t aAddress, uint32_t aValue)
{
    uint8_t lBytes[4];
    PutU32(lBytes, aValue);
    return WriteMemory(aPeer, aAddress, lBytes, sizeof(lBytes));
}

uint16_t TnGvcpRegisterHandler::GetDiscoveryData(const TnGvcpPeer &aPeer, uint8_t *aData, size_t aSize)
{
    return ReadMemory(aPeer, 0, aData, aSize);
}

uint16_t TnGvcpRegisterHandler::GetPendingTime(const TnGvcpPeer &, const TnGvcpCommand &)
{
    return 0;
}

void TnGvcpRegisterHandler::OnCommand(const TnGvcpPeer &, const TnGvcpCommand &, bool) {}

bool TnGvcpRegisterHandler::HandleCommand(const TnGvcpPeer &, const TnGvcpCommand &, uint16_t &, uint16_t &,
                                          std::vector<uint8_t> &)
{
    return false;
}

TnGvcpServer::TnGvcpServer()
    : mHandler(nullptr), mWakeHandle(-1), mRunning(false), mRejected(0), mMaxRead(kMaxReadMemory),
      mMaxWrite(kGvcpMaxPayload - 4), mBuffer(kReceiveCapacity)
{
}

TnGvcpServer::~TnGvcpServer()
{
    Stop();
}

TnResult TnGvcpServer::Start(TnGvcpRegisterHandler *aHandler, uint32_t aLocalAddress, uint16_t aPort)
{
    if (tServing == this)
    {
        return TnResult(TN_STATE_ERROR, TnString("GVCP responder: started from its own handler"));
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aHandler == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("GVCP responder: no register handler"));
    }
    if (mThread.joinable())
    {
        if (mRunning)
        {
            return TnResult(TN_STATE_ERROR, TnString("GVCP responder: already running"));
        }
        JoinLocked(); // stopped from a handler earlier: finish that stop
    }
    TnResult lResult = mSocket.Open(aLocalAddress, aPort);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    if (aLocalAddress != 0 && aLocalAddress != 0xFFFFFFFFu)
    {
        // Broadcasts reach only sockets bound to any address or to the
        // broadcast address itself; without this one, only unicast is heard.
        if (!mBroadcastSocket.OpenShared(0xFFFFFFFFu, mSocket.GetLocalPort()).IsOK())
        {
            mBroadcastSocket.Close();
        }
    }
    mWakeHandle = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (mWakeHandle < 0)
    {
        const int lError = errno;
        mSocket.Close();
        mBroadcastSocket.Close();
        return TnResult(TN_THREAD_ERROR, static_cast<uint32_t>(lError), TnString("GVCP responder: eventfd"));
    }
    mHandler = aHandler;
    mAnswered.clear();
    mRunning = true;
    try
    {
        mThread = std::thread(&TnGvcpServer::Run, this);
    }
    catch (...)
    {
        mRunning = false;
        ::close(mWakeHandle);
        mWakeHandle = -1;
        mSocket.Close();
        mBroadcastSocket.Close();
        return TnResult(TN_THREAD_ERROR, TnString("GVCP responder: no thread"));
    }
    return TnResult(TN_OK);
}

void TnGvcpServer::Wake()
{
    const uint64_t lOne = 1;
    if (write(mWakeHandle, &lOne, sizeof(lOne)) < 0)
    {
        // The thread also looks at mRunning on its next poll timeout.
    }
}

void TnGvcpServer::Stop()
{
    if (tServing == this)
    {
        // From a handler: the thread ends once the handler returns, and the
        // next Stop, Start or the destructor joins it. No lock is taken, so a
        // thread already joining in Stop is not kept waiting.
        mRunning = false;
        Wake();
        return;
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!mThread.joinable())
    {
        return;
    }
    mRunning = false;
    Wake();
    JoinLocked();
}

void TnGvcpServer::JoinLocked()
{
    mThread.join();
    ::close(mWakeHandle);
    mWakeHandle = -1;
    mSocket.Close();
    mBroadcastSocket.Close();
    mHandler = nullptr;
}

bool TnGvcpServer::IsRunning() const
{
    return mRunning;
}

bool TnGvcpServer::IsServingThread() const
{
    return tServing == this;
}

uint32_t TnGvcpServer::GetLocalAddress() const
{
    return mSocket.GetLocalAddress();
}

uint16_t TnGvcpServer::GetPort() const
{
    return mSocket.GetLocalPort();
}

void TnGvcpServer::SetMemoryLimits(size_t aMaxRead, size_t aMaxWrite)
{
    mMaxRead = std::min(aMaxRead, kMaxReadMemory);
    mMaxWrite = std::min<size_t>(aMaxWrite, kGvcpMaxPayload - 4);
}

uint64_t TnGvcpServer::GetRejectedCount() const
{
    return mRejected;
}

void TnGvcpServer::Run()
{
    tServing = this;
    pollfd lPolls[3];
    while (mRunning)
    {
        nfds_t lCount = 0;
        lPolls[lCount++] = {mWakeHandle, POLLIN, 0};
        lPolls[lCount++] = {mSocket.GetHandle(), POLLIN, 0};
        if (mBroadcastSocket.IsOpen())
        {
            lPolls[lCount++] = {mBroadcastSocket.GetHandle(), POLLIN, 0};
        }
        const int lReady = poll(lPolls, lCount, 500);
        if (lReady <= 0 || !mRunning)
        {
            continue;
        }
        for (nfds_t lIndex = 1; lIndex < lCount && mRunning; ++lIndex)
        {
            if ((lPolls[lIndex].revents & (POLLIN | POLLERR)) == 0)
            {
                continue;
            }
            TnUdpSocket &lSocket = lIndex == 1 ? mSocket : mBroadcastSocket;
            uint64_t lOversized = 0;
            lSocket.ReceiveWaiting(
                mBuffer.data(), mBuffer.size(), kDatagramsPerRound,
                [this](const uint8_t *aData, size_t aSize, uint32_t aAddress, uint16_t aPort) {
                    TnGvcpPeer lPeer;
                    lPeer.mAddress = aAddress;
                    lPeer.mPort = aPort;
                    Serve(aData, aSize, lPeer);
                    return mRunning.load();
                },
                &lOversized);
            mRejected += lOversized;
        }
    }
}

void TnGvcpServer::Serve(const uint8_t *aData, size_t aSize, const TnGvcpPeer &aPeer)
{
    if (aPeer.mPort == 0)
    {
        ++mRejected;
        return;
    }
    TnGvcpCommand lCommand;
    if (!DecodeCommand(aData, aSize, lCommand))
    {
        ++mRejected;
        // A header whose length runs past the datagram is still a command we
        // can answer, if it asks for an answer.
        if (aSize >= kGvcpHeaderSize && aData[0] == kGvcpKey && (aData[1] & kGvcpFlagAcknowledge) != 0)
        {
            const std::vector<uint8_t> lAck =
                BuildAck(kGvcpStatusInvalidHeader, AckCodeFor(GetU16(aData + 2)), GetU16(aData + 6), nullptr, 0);
            mSocket.SendTo(aPeer.mAddress, aPeer.mPort, lAck.data(), lAck.size());
        }
        return;
    }
    const bool lWantsAck = (lCommand.mHeader.mFlags & kGvcpFlagAcknowledge) != 0;

    // A command sent again (its answer got lost) is answered again, not run
    // again: a repeated write must not take effect twice.
    for (const Answered &lAnswered : mAnswered)
    {
        if (lAnswered.mPeer.mAddress == aPeer.mAddress && lAnswered.mPeer.mPort == aPeer.mPort &&
            lAnswered.mRequestId == lCommand.mHeader.mRequestId && lAnswered.mCommand == lCommand.mHeader.mCommand &&
            lCommand.mHeader.mCommand != kGvcpDiscoveryCmd)
        {
            Guarded([&] {
                mHandler->OnCommand(aPeer, lCommand, true);
                return kGvcpStatusSuccess;
            });
            if (lWantsAck)
            {
                mSocket.SendTo(aPeer.mAddress, aPeer.mPort, lAnswered.mAck.data(), lAnswered.mAck.size());
            }
            return;
        }
    }

    Guarded([&] {
        mHandler->OnCommand(aPeer, lCommand, false);
        return kGvcpStatusSuccess;
    });
    if (lWantsAck && lCommand.mHeader.mCommand != kGvcpDiscoveryCmd)
    {
        uint16_t lPending = 0;
        try
        {
            lPending = mHandler->GetPendingTime(aPeer, lCommand);
        }
        catch (...)
        {
            lPending = 0;
        }
        if (lPending != 0)
        {
            const std::vector<uint8_t> lAck = BuildPendingAck(lCommand.mHeader.mRequestId, lPending);
            mSocket.SendTo(aPeer.mAddress, aPeer.mPort, lAck.data(), lAck.size());
        }
    }
    std::vector<uint8_t> lAck;
    if (!Dispatch(aPeer, lCommand, lAck) || !lWantsAck)
    {
        return;
    }
    mSocket.SendTo(aPeer.mAddress, aPeer.mPort, lAck.data(), lAck.size());

    auto lSlot = std::find_if(mAnswered.begin(), mAnswered.end(), [&](const Answered &aAnswered) {
        return aAnswered.mPeer.mAddress == aPeer.mAddress && aAnswered.mPeer.mPort == aPeer.mPort;
    });
    if (lSlot == mAnswered.end())
    {
        if (mAnswered.size() >= kAnsweredPeers)
        {
            mAnswered.erase(mAnswered.begin());
        }
        mAnswered.push_back(Answered());
        lSlot = mAnswered.end() - 1;
    }
    lSlot->mPeer = aPeer;
    lSlot->mRequestId = lCommand.mHeader.mRequestId;
    lSlot->mCommand = lCommand.mHeader.mCommand;
    lSlot->mAck = lAck;
}

bool TnGvcpServer::Dispatch(const TnGvcpPeer &aPeer, const TnGvcpCommand &aCommand, std::vector<uint8_t> &aAck)
{
    TnGvcpRegisterHandler *lHandler = mHandler;
    const uint16_t lId = aCommand.mHeader.mRequestId;
    switch (aCommand.mHeader.mCommand)
    {
    case kGvcpDiscoveryCmd:
    {
        std::vector<uint8_t> lBlock(kDiscoveryDataSize, 0);
        const uint16_t lStatus =
            Guarded([&] { return lHandler->GetDiscoveryData(aPeer, lBlock.data(), lBlock.size()); });
        if (lStatus != kGvcpStatusSuccess)
        {
            return false; // a device that cannot describe itself stays silent
        }
        aAck = BuildAck(kGvcpStatusSuccess, kGvcpDiscoveryAck, lId, lBlock.data(), lBlock.size());
        return true;
    }
    case kGvcpReadRegCmd:
    {
        std::vector<uint32_t> lAddresses;
        std::vector<uint32_t> lValues;
        uint16_t lStatus = kGvcpStatusSuccess;
        if (!DecodeReadRegCmd(aCommand, lAddresses) || lAddresses.size() > kGvcpMaxReadRegisters)
        {
            lStatus = kGvcpStatusInvalidParameter;
            ++mRejected;
        }
        for (size_t lIndex = 0; lStatus == kGvcpStatusSuccess && lIndex < lAddresses.size(); ++lIndex)
        {
            const uint32_t lAddress = lAddresses[lIndex];
            uint32_t lValue = 0;
            lStatus = lAddress % 4 != 0 ? static_cast<uint16_t>(kGvcpStatusBadAlignment)
                                        : Guarded([&] { return lHandler->ReadRegister(aPeer, lAddress, lValue); });
            if (lStatus == kGvcpStatusSuccess)
            {
                lValues.push_back(lValue);
            }
        }
        aAck = BuildReadRegAck(lStatus, lId, lValues.data(), lValues.size());
        return true;
    }
    case kGvcpWriteRegCmd:
    {
        std::vector<std::pair<uint32_t, uint32_t>> lWrites;
        uint16_t lStatus = kGvcpStatusSuccess;
        uint16_t lWritten = 0;
        if (!DecodeWriteRegCmd(aCommand, lWrites) || lWrites.size() > kGvcpMaxWriteRegisters)
        {
            lStatus = kGvcpStatusInvalidParameter;
            ++mRejected;
            lWrites.clear();
        }
        for (const std::pair<uint32_t, uint32_t> &lWrite : lWrites)
        {
            lStatus = lWrite.first % 4 != 0
                          ? static_cast<uint16_t>(kGvcpStatusBadAlignment)
                          : Guarded([&] { return lHandler->WriteRegister(aPeer, lWrite.first, lWrite.second); });
            if (lStatus != kGvcpStatusSuccess)
            {
                break;
            }
            ++lWritten;
        }
        aAck = BuildWriteRegAck(lStatus, lId, lWritten);
        return true;
    }
    case kGvcpReadMemCmd:
    {
        uint32_t lAddress = 0;
        uint16_t lCount = 0;
        uint16_t lStatus = kGvcpStatusSuccess;
        if (!DecodeReadMemCmd(aCommand, lAddress, lCount) || lCount == 0 || lCount % 4 != 0 || lCount > mMaxRead)
        {
            lStatus = kGvcpStatusInvalidParameter;
            ++mRejected;
        }
        else if (lAddress % 4 != 0)
        {
            lStatus = kGvcpStatusBadAlignment;
        }
        else if (static_cast<uint64_t>(lAddress) + lCount > 0x100000000ull)
        {
            lStatus = kGvcpStatusInvalidAddress;
        }
        std::vector<uint8_t> lData(lStatus == kGvcpStatusSuccess ? lCount : 0, 0);
        if (lStatus == kGvcpStatusSuccess)
        {
            lStatus = Guarded([&] { return lHandler->ReadMemory(aPeer, lAddress, lData.data(), lData.size()); });
        }
        aAck = BuildReadMemAck(lStatus, lId, lAddress, lData.data(), lStatus == kGvcpStatusSuccess ? lData.size() : 0);
        return true;
    }
    case kGvcpWriteMemCmd:
    {
        uint32_t lAddress = 0;
        const uint8_t *lData = nullptr;
        size_t lSize = 0;
        uint16_t lStatus = kGvcpStatusSuccess;
        if (!DecodeWriteMemCmd(aCommand, lAddress, lData, lSize) || lSize == 0 || lSize % 4 != 0 || lSize > mMaxWrite)
        {
            lStatus = kGvcpStatusInvalidParameter;
            ++mRejected;
        }
        else if (lAddress % 4 != 0)
        {
            lStatus = kGvcpStatusBadAlignment;
        }
        else if (static_cast<uint64_t>(lAddress) + lSize > 0x100000000ull)
        {
            lStatus = kGvcpStatusInvalidAddress;
        }
        if (lStatus == kGvcpStatusSuccess)
        {
            lStatus = Guarded([&] { return lHandler->WriteMemory(aPeer, lAddress, lData, lSize); });
        }
        aAck = BuildWriteMemAck(lStatus, lId, static_cast<uint16_t>(lStatus == kGvcpStatusSuccess ? lSize : 0));
        return true;
    }
    default:
    {
        uint16_t lStatus = kGvcpStatusNotImplemented;
        uint16_t lAcknowledge = AckCodeFor(aCommand.mHeader.mCommand);
        std::vector<uint8_t> lPayload;
        bool lHandled = false;
        try
        {
            lHandled = lHandler->HandleCommand(aPeer, aCommand, lStatus, lAcknowledge, lPayload);
        }
        catch (...)
        {
            lHandled = true;
            lStatus = kGvcpStatusError;
            lPayload.clear();
        }
        if (!lHandled)
        {
            lStatus = kGvcpStatusNotImplemented;
            lAcknowledge = AckCodeFor(aCommand.mHeader.mCommand);
            lPayload.clear();
        }
        aAck = BuildAck(lStatus, lAcknowledge, lId, lPayload.data(), lPayload.size());
        return true;
    }
    }
}
} // namespace gev
} // namespace tn
