#include "TnDeviceGevLink.h"

#include <string.h>

#include <chrono>

#include "TnGevAddress.h"
#include "TnGevBytes.h"
#include "TnGvcp.h"
#include "TnText.h"

namespace tn
{
namespace device
{
namespace
{
constexpr uint32_t kMinimumHeartbeatMs = 20;

// How long a command the device never answers takes: every attempt's wait.
uint32_t AnswerBudget(const LinkSettings &aSettings)
{
    const uint64_t lBudget = static_cast<uint64_t>(aSettings.mAnswerTimeoutMs) * (aSettings.mRetryCount + 1ull);
    return static_cast<uint32_t>(std::min<uint64_t>(lBudget, UINT32_MAX));
}

// Whether a failure means that nothing answered, as opposed to an answer
// that reports a failure.
bool IsSilence(const TnResult &aResult)
{
    const uint32_t lCode = aResult.GetCode();
    return lCode == TN_TIMEOUT || lCode == TN_NETWORK_ERROR || lCode == TN_NOT_CONNECTED || lCode == TN_NOT_INITIALIZED;
}
} // namespace

GevLink::GevLink(DeviceCore &aCore) : mCore(aCore)
{
}

GevLink::~GevLink()
{
    Close(false);
}

TnResult GevLink::Open(const TnDeviceInfoGEV &aInfo, TnAccessType aAccess, const LinkSettings &aSettings)
{
    const uint32_t lAddress = aInfo.mIPAddress;
    if (const char *lNot = gev::NotAHostAddress(lAddress, aInfo.mSubnetMask))
    {
        return Failure(TN_INVALID_PARAMETER, "Connect: the device's address " + gev::FormatIPv4(lAddress) +
                                                 " is no device's address (" + lNot + ")");
    }
    TnResult lResult =
        mClient.Open(lAddress, aInfo.mControlPort != 0 ? aInfo.mControlPort : gev::kGvcpPort, aInfo.mLocalAddress);
    if (!lResult.IsOK())
    {
        return Failure(lResult.GetCode(), "Connect: cannot open the control channel: " + Describe(lResult));
    }
    mClient.SetTimeout(aSettings.mAnswerTimeoutMs);
    mClient.SetRetryCount(aSettings.mRetryCount);
    mClient.SetMemoryChunkSizes(aSettings.mReadChunk, aSettings.mWriteChunk);

    if (aAccess == TnAccessControl || aAccess == TnAccessExclusive)
    {
        const uint32_t lPrivilege = aAccess == TnAccessExclusive ? gev::kPrivilegeExclusive : gev::kPrivilegeControl;
        lResult = mClient.WriteRegister(gev::kRegControlChannelPrivilege, lPrivilege);
        if (!lResult.IsOK())
        {
            if (mClient.GetLastStatus() == gev::kGvcpStatusAccessDenied)
            {
                mClient.Close();
                return Failure(lResult.GetCode(), "Connect: the device refused control: another application controls "
                                                  "it (GEV_STATUS_ACCESS_DENIED)");
            }
            // Some devices stay silent to a second controller instead: one
            // that answers a read but not the privilege request is taken.
            uint32_t lHeld = 0;
            const bool lAnswers =
                IsSilence(lResult) && mClient.ReadRegister(gev::kRegControlChannelPrivilege, lHeld).IsOK();
            mClient.Close();
            if (lAnswers)
            {
                return Failure(TN_BUSY, "Connect: the device refused control: another application controls it "
                                        "(the device ignored the privilege request)");
            }
            return Failure(lResult.GetCode(), "Connect: the device did not grant control: " + Describe(lResult));
        }
        mPrivileged = true;
    }
    else
    {
        // Without privilege the device must at least answer.
        uint32_t lVersion = 0;
        lResult = mClient.ReadRegister(gev::kRegVersion, lVersion);
        if (!lResult.IsOK())
        {
            mClient.Close();
            return Failure(lResult.GetCode(), "Connect: the device does not answer: " + Describe(lResult));
        }
    }

    uint32_t lValue = 0;
    if (mClient.ReadRegister(gev::kRegNumberOfStreamChannels, lValue).IsOK())
    {
        mStreamChannels = lValue;
    }
    if (mClient.ReadRegister(gev::kRegNumberOfMessageChannels, lValue).IsOK())
    {
        mMessageChannels = lValue;
    }
    if (mPrivileged && aSettings.mHeartbeatTimeoutMs != 0)
    {
        mClient.WriteRegister(gev::kRegHeartbeatTimeout, aSettings.mHeartbeatTimeoutMs);
    }
    if (mClient.ReadRegister(gev::kRegHeartbeatTimeout, lValue).IsOK() && lValue != 0)
    {
        mDeviceTimeoutMs = lValue;
    }
    {
        std::lock_guard<std::mutex> lLock(mHeartbeatMutex);
        mIntervalMs = aSettings.mHeartbeatIntervalMs;
        mAnswerBudgetMs = AnswerBudget(aSettings);
        mWantedTimeoutMs = aSettings.mHeartbeatTimeoutMs;
        mStop = false;
    }
    try
    {
        mHeartbeat = std::thread(&GevLink::RunHeartbeat, this);
    }
    catch (const std::exception &lError)
    {
        Close(true);
        return Failure(TN_THREAD_ERROR, std::string("Connect: cannot start the heartbeat: ") + lError.what());
    }

    if (mPrivileged && aSettings.mMessageChannel && mMessageChannels > 0)
    {
        lResult = OpenMessageChannel();
        if (!lResult.IsOK())
        {
            // The device works without events; say why they will not come.
            mMessageSocket.Close();
        }
    }
    return TnResult(TN_OK);
}

TnResult GevLink::OpenMessageChannel()
{
    TnResult lResult = mMessageSocket.Open(mClient.GetLocalAddress(), 0);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    lResult = mClient.WriteRegister(gev::kRegMessageChannelDestination, mMessageSocket.GetLocalAddress());
    if (lResult.IsOK())
    {
        lResult = mClient.WriteRegister(gev::kRegMessageChannelPort, mMessageSocket.GetLocalPort());
    }
    if (!lResult.IsOK())
    {
        return lResult;
    }
    mStopMessages = false;
    try
    {
        mMessages = std::thread(&GevLink::RunMessageChannel, this);
    }
    catch (const std::exception &lError)
    {
        mClient.WriteRegister(gev::kRegMessageChannelPort, 0);
        return Failure(TN_THREAD_ERROR, std::string("cannot start the message channel's receiver: ") + lError.what());
    }
    return TnResult(TN_OK);
}

void GevLink::Close(bool aRelease)
{
    {
        std::lock_guard<std::mutex> lLock(mHeartbeatMutex);
        mStop = true;
    }
    mHeartbeatWake.notify_all();
    if (mHeartbeat.joinable())
    {
        mHeartbeat.join();
    }
    mStopMessages = true;
    if (mMessages.joinable())
    {
        mMessages.join();
    }
    if (aRelease && mPrivileged && mClient.IsOpen())
    {
        // Closing the message channel and giving control back; a device
        // that does not answer any more keeps neither for long.
        mClient.SetRetryCount(0);
        if (mMessageSocket.IsOpen())
        {
            mClient.WriteRegister(gev::kRegMessageChannelPort, 0);
        }
        mClient.WriteRegister(gev::kRegControlChannelPrivilege, 0);
    }
    mPrivileged = false;
    mMessageSocket.Close();
    mClient.Close();
}

TnResult GevLink::Read(uint64_t aAddress, void *aData, size_t aSize)
{
    if (aAddress + aSize > GetAddressLimit() || aSize > GetAddressLimit())
    {
        return Failure(TN_INVALID_PARAMETER, "the range lies outside the device's address space");
    }
    if (aSize == 4 && aAddress % 4 == 0)
    {
        // Single registers travel as register reads, which every device serves.
        uint32_t lValue = 0;
        TnResult lResult = mClient.ReadRegister(static_cast<uint32_t>(aAddress), lValue);
        if (lResult.IsOK())
        {
            gev::PutU32(static_cast<uint8_t *>(aData), lValue);
        }
        return lResult;
    }
    return mClient.ReadMemory(static_cast<uint32_t>(aAddress), aData, aSize);
}

TnResult GevLink::Write(uint64_t aAddress, const void *aData, size_t aSize)
{
    if (aAddress + aSize > GetAddressLimit() || aSize > GetAddressLimit())
    {
        return Failure(TN_INVALID_PARAMETER, "the range lies outside the device's address space");
    }
    if (aSize == 4 && aAddress % 4 == 0)
    {
        return mClient.WriteRegister(static_cast<uint32_t>(aAddress), gev::GetU32(static_cast<const uint8_t *>(aData)));
    }
    return mClient.WriteMemory(static_cast<uint32_t>(aAddress), aData, aSize);
}

TnResult GevLink::WriteRegisterUnacknowledged(uint32_t aAddress, uint32_t aValue)
{
    std::vector<uint8_t> lCommand = gev::BuildWriteRegCmd(0, &aAddress, &aValue, 1);
    return mClient.Send(lCommand);
}

TnResult GevLink::ReadXmlUrl(std::string &aUrl)
{
    TnResult lResult = mClient.ReadString(gev::kRegFirstUrl, gev::kUrlSize, aUrl);
    if (!lResult.IsOK())
    {
        return Failure(lResult.GetCode(), "cannot read where the GenICam description is: " + Describe(lResult));
    }
    return lResult;
}

void GevLink::ApplySettings(const LinkSettings &aSettings)
{
    mClient.SetTimeout(aSettings.mAnswerTimeoutMs);
    mClient.SetRetryCount(aSettings.mRetryCount);
    mClient.SetMemoryChunkSizes(aSettings.mReadChunk, aSettings.mWriteChunk);
    bool lWrite = false;
    {
        std::lock_guard<std::mutex> lLock(mHeartbeatMutex);
        mIntervalMs = aSettings.mHeartbeatIntervalMs;
        mAnswerBudgetMs = AnswerBudget(aSettings);
        lWrite = aSettings.mHeartbeatTimeoutMs != 0 && aSettings.mHeartbeatTimeoutMs != mWantedTimeoutMs;
        mWantedTimeoutMs = aSettings.mHeartbeatTimeoutMs;
    }
    if (lWrite && mPrivileged && mClient.IsOpen() &&
        mClient.WriteRegister(gev::kRegHeartbeatTimeout, aSettings.mHeartbeatTimeoutMs).IsOK())
    {
        uint32_t lValue = 0;
        if (mClient.ReadRegister(gev::kRegHeartbeatTimeout, lValue).IsOK() && lValue != 0)
        {
            mDeviceTimeoutMs = lValue;
        }
    }
    mHeartbeatWake.notify_all();
}

void GevLink::AddStatistics(LinkStatistics &aStatistics) const
{
    const gev::TnGvcpClientStatistics lClient = mClient.GetStatistics();
    aStatistics.mCommands += lClient.mCommands;
    aStatistics.mRetries += lClient.mRetries;
    aStatistics.mTimeouts += lClient.mTimeouts;
    aStatistics.mPendingAcks += lClient.mPendingAcks;
    aStatistics.mFailures += lClient.mFailures;
    aStatistics.mHeartbeats += mHeartbeats;
}

uint32_t GevLink::HeartbeatPeriodLocked() const
{
    if (mIntervalMs != 0)
    {
        return std::max(mIntervalMs, kMinimumHeartbeatMs);
    }
    // A third of the device's timeout, and short enough that a heartbeat
    // that goes unanswered through all its retries still ends well within
    // the timeout (a tenth of it to spare): the loss is known by the time
    // the device lets go.
    const uint32_t lTimeout = mDeviceTimeoutMs;
    const uint32_t lTaken = mAnswerBudgetMs + lTimeout / 10;
    const uint32_t lLeft = lTimeout > lTaken ? lTimeout - lTaken : 0;
    return std::max(std::min(lTimeout / 3, lLeft), kMinimumHeartbeatMs);
}

void GevLink::RunHeartbeat()
{
    std::unique_lock<std::mutex> lLock(mHeartbeatMutex);
    auto lNext = std::chrono::steady_clock::now() + std::chrono::milliseconds(HeartbeatPeriodLocked());
    for (;;)
    {
        // A changed interval takes effect at once.
        mHeartbeatWake.wait_until(lLock, lNext, [&] { return mStop || std::chrono::steady_clock::now() >= lNext; });
        if (mStop)
        {
            return;
        }
        const auto lNow = std::chrono::steady_clock::now();
        if (lNow < lNext)
        {
            continue;
        }
        lLock.unlock();
        uint32_t lPrivilege = 0;
        const TnResult lResult = mClient.ReadRegister(gev::kRegControlChannelPrivilege, lPrivilege);
        ++mHeartbeats;
        if (!lResult.IsOK() && IsSilence(lResult))
        {
            mCore.PostLinkLost("no answer to the heartbeat: " + Describe(lResult));
            return;
        }
        if (lResult.IsOK() && mPrivileged && (lPrivilege & (gev::kPrivilegeControl | gev::kPrivilegeExclusive)) == 0)
        {
            mCore.PostLinkLost("the device no longer grants this application control");
            return;
        }
        lLock.lock();
        lNext = std::chrono::steady_clock::now() + std::chrono::milliseconds(HeartbeatPeriodLocked());
    }
}

void GevLink::RunMessageChannel()
{
    std::vector<uint8_t> lBuffer(2048);
    std::vector<gev::TnGvcpEvent> lEvents;
    bool lHaveLast = false;
    uint16_t lLastId = 0;
    uint32_t lLastFrom = 0;
    uint16_t lLastPort = 0;
    while (!mStopMessages)
    {
        size_t lReceived = 0;
        uint32_t lFrom = 0;
        uint16_t lPort = 0;
        const TnResult lResult =
            mMessageSocket.ReceiveFrom(lBuffer.data(), lBuffer.size(), lReceived, lFrom, lPort, 100);
        if (!lResult.IsOK())
        {
            continue;
        }
        gev::TnGvcpCommand lCommand;
        if (!gev::DecodeCommand(lBuffer.data(), lReceived, lCommand) ||
            (lCommand.mHeader.mCommand != gev::kGvcpEventCmd && lCommand.mHeader.mCommand != gev::kGvcpEventDataCmd))
        {
            continue;
        }
        const gev::TnGvcpEvent *lData = nullptr;
        gev::TnGvcpEvent lOne;
        const uint8_t *lPayload = nullptr;
        size_t lPayloadSize = 0;
        uint16_t lStatus = gev::kGvcpStatusSuccess;
        if (lCommand.mHeader.mCommand == gev::kGvcpEventCmd)
        {
            if (!gev::DecodeEventCmd(lCommand, lEvents))
            {
                lStatus = gev::kGvcpStatusInvalidParameter;
            }
        }
        else if (gev::DecodeEventDataCmd(lCommand, lOne, lPayload, lPayloadSize))
        {
            lData = &lOne;
        }
        else
        {
            lStatus = gev::kGvcpStatusInvalidParameter;
        }
        // A command the device sent again because our answer got lost is
        // answered again, not delivered again.
        const bool lRepeated =
            lHaveLast && lLastId == lCommand.mHeader.mRequestId && lLastFrom == lFrom && lLastPort == lPort;
        lHaveLast = true;
        lLastId = lCommand.mHeader.mRequestId;
        lLastFrom = lFrom;
        lLastPort = lPort;
        if (!lRepeated && lStatus == gev::kGvcpStatusSuccess && lData != nullptr)
        {
            // The item is the command's payload: the event header, then its data.
            mCore.PostEvent(lData->mEventId, lData->mStreamChannel, lData->mBlockId, lData->mTimestamp,
                            lCommand.mPayload, lCommand.mPayloadSize, lCommand.mPayloadSize - lPayloadSize);
        }
        else if (!lRepeated && lStatus == gev::kGvcpStatusSuccess)
        {
            // Items of equal size, each a header without data.
            const size_t lItemSize = lEvents.empty() ? 0 : lCommand.mPayloadSize / lEvents.size();
            for (size_t lIndex = 0; lIndex < lEvents.size(); ++lIndex)
            {
                const gev::TnGvcpEvent &lEvent = lEvents[lIndex];
                mCore.PostEvent(lEvent.mEventId, lEvent.mStreamChannel, lEvent.mBlockId, lEvent.mTimestamp,
                                lCommand.mPayload + lIndex * lItemSize, lItemSize, lItemSize);
            }
        }
        // Acknowledged once queued: a device that has its answer knows that
        // WaitForMessagingChannelIdle waits for the event.
        if ((lCommand.mHeader.mFlags & gev::kGvcpFlagAcknowledge) != 0)
        {
            const std::vector<uint8_t> lAck = gev::BuildAck(lStatus, gev::AckCodeFor(lCommand.mHeader.mCommand),
                                                            lCommand.mHeader.mRequestId, nullptr, 0);
            mMessageSocket.SendTo(lFrom, lPort, lAck.data(), lAck.size());
        }
    }
}
} // namespace device
} // namespace tn
