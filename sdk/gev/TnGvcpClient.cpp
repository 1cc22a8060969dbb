#include "TnGvcpClient.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "TnGevAddress.h"
#include "TnGevBytes.h"
#include "TnText.h"
#include "TnWait.h"

namespace tn
{
namespace gev
{
namespace
{
constexpr size_t kReceiveCapacity = 2048;

// A first request id that differs between processes, so that a restarted
// client does not repeat the ids a device saw just before.
uint16_t FirstRequestId()
{
    const uint16_t lSeed = static_cast<uint16_t>(MonotonicMilliseconds() * 2654435761u >> 7);
    return lSeed == 0 ? 1 : lSeed;
}
} // namespace

void TnFairMutex::lock()
{
    std::unique_lock<std::mutex> lLock(mMutex);
    const uint64_t lTicket = mNext++;
    mTurn.wait(lLock, [&] { return mServing == lTicket; });
}

void TnFairMutex::unlock()
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        ++mServing;
    }
    mTurn.notify_all();
}

constexpr uint32_t TnGvcpClient::kDefaultTimeoutMs;
constexpr uint32_t TnGvcpClient::kDefaultRetryCount;
constexpr uint32_t TnGvcpClient::kMaxPendingWaitMs;

TnGvcpClient::TnGvcpClient()
    : mDeviceAddress(0), mDevicePort(kGvcpPort), mTimeoutMs(kDefaultTimeoutMs), mRetryCount(kDefaultRetryCount),
      mConcatenation(false), mReadChunk(kGvcpMaxMemoryChunk), mWriteChunk(kGvcpMaxMemoryChunk),
      mNextRequestId(FirstRequestId()), mLastStatus(0), mReceiveBuffer(kReceiveCapacity)
{
}

TnGvcpClient::~TnGvcpClient()
{
    Close();
}

TnResult TnGvcpClient::Open(uint32_t aDeviceAddress, uint16_t aDevicePort, uint32_t aLocalAddress)
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    if (aDeviceAddress == 0 || aDevicePort == 0)
    {
        return Failure(TN_INVALID_PARAMETER, "GVCP: no device address");
    }
    // Commands go to one device: never to a group, a broadcast or an address
    // no host has.
    if (const char *lNot = NotAHostAddress(aDeviceAddress))
    {
        return Failure(TN_INVALID_PARAMETER,
                       "GVCP: " + FormatIPv4(aDeviceAddress) + " is no device's address (" + lNot + ")");
    }
    mSocket.Close();
    // Without a local address, take the one the route to the device leaves
    // from, so that GetLocalAddress names a real address.
    const uint32_t lLocal = aLocalAddress != 0 ? aLocalAddress : LocalAddressFor(aDeviceAddress);
    TnResult lResult = mSocket.Open(lLocal, 0);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    mDeviceAddress = aDeviceAddress;
    mDevicePort = aDevicePort;
    mLastStatus = 0;
    return TnResult(TN_OK);
}

void TnGvcpClient::Close()
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    mSocket.Close();
}

bool TnGvcpClient::IsOpen() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mSocket.IsOpen();
}

void TnGvcpClient::SetTimeout(uint32_t aMilliseconds)
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    mTimeoutMs = std::max<uint32_t>(1, std::min<uint32_t>(aMilliseconds, 60000));
}

uint32_t TnGvcpClient::GetTimeout() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mTimeoutMs;
}

void TnGvcpClient::SetRetryCount(uint32_t aRetries)
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    mRetryCount = std::min<uint32_t>(aRetries, 100);
}

uint32_t TnGvcpClient::GetRetryCount() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mRetryCount;
}

void TnGvcpClient::SetConcatenation(bool aEnabled)
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    mConcatenation = aEnabled;
}

bool TnGvcpClient::GetConcatenation() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mConcatenation;
}

namespace
{
size_t ChunkSize(size_t aSize)
{
    return std::max<size_t>(4, std::min<size_t>(aSize, kGvcpMaxPayload - 4)) & ~static_cast<size_t>(3);
}
} // namespace

void TnGvcpClient::SetMemoryChunkSizes(size_t aRead, size_t aWrite)
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    mReadChunk = ChunkSize(aRead);
    mWriteChunk = ChunkSize(aWrite);
}

size_t TnGvcpClient::GetReadChunkSize() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mReadChunk;
}

size_t TnGvcpClient::GetWriteChunkSize() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mWriteChunk;
}

TnGvcpClientStatistics TnGvcpClient::GetStatistics() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mStatistics;
}

TnResult TnGvcpClient::Send(std::vector<uint8_t> &aCommand)
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    if (!mSocket.IsOpen())
    {
        return Failure(TN_NOT_CONNECTED, "GVCP: the channel is not open");
    }
    TnGvcpCommand lCommand;
    if (!DecodeCommand(aCommand.data(), aCommand.size(), lCommand))
    {
        return Failure(TN_INVALID_PARAMETER, "GVCP: not a command packet");
    }
    aCommand[1] = static_cast<uint8_t>(aCommand[1] & ~kGvcpFlagAcknowledge);
    PutU16(aCommand.data() + 6, mNextRequestId);
    mNextRequestId = NextRequestId(mNextRequestId);
    ++mStatistics.mCommands;
    return mSocket.SendTo(mDeviceAddress, mDevicePort, aCommand.data(), aCommand.size());
}

uint32_t TnGvcpClient::GetDeviceAddress() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mDeviceAddress;
}

uint16_t TnGvcpClient::GetDevicePort() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mDevicePort;
}

uint32_t TnGvcpClient::GetLocalAddress() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mSocket.GetLocalAddress();
}

uint16_t TnGvcpClient::GetLocalPort() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mSocket.GetLocalPort();
}

uint16_t TnGvcpClient::GetLastStatus() const
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return mLastStatus;
}

TnResult TnGvcpClient::Transact(std::vector<uint8_t> &aCommand, uint16_t aExpectedAck, std::vector<uint8_t> &aAnswer,
                                TnGvcpAck &aAck)
{
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return TransactLocked(aCommand, aExpectedAck, aAnswer, aAck);
}

TnResult TnGvcpClient::TransactLocked(std::vector<uint8_t> &aCommand, uint16_t aExpectedAck,
                                      std::vector<uint8_t> &aAnswer, TnGvcpAck &aAck)
{
    if (!mSocket.IsOpen())
    {
        return Failure(TN_NOT_CONNECTED, "GVCP: the channel is not open");
    }
    TnGvcpCommand lCommand;
    if (!DecodeCommand(aCommand.data(), aCommand.size(), lCommand) || aCommand.size() > 0xFFFF)
    {
        return Failure(TN_INVALID_PARAMETER, "GVCP: not a command packet");
    }
    const uint16_t lRequestId = mNextRequestId;
    mNextRequestId = NextRequestId(mNextRequestId);
    PutU16(aCommand.data() + 6, lRequestId);

    ++mStatistics.mCommands;
    const uint64_t lStart = MonotonicMilliseconds();
    for (uint32_t lAttempt = 0; lAttempt <= mRetryCount; ++lAttempt)
    {
        if (lAttempt > 0 && MonotonicMilliseconds() - lStart >= kMaxPendingWaitMs)
        {
            break;
        }
        if (Interrupted())
        {
            return Failure(TN_ABORTED, "GVCP: the wait for an answer was interrupted");
        }
        if (lAttempt > 0)
        {
            ++mStatistics.mRetries;
        }
        TnResult lSent = mSocket.SendTo(mDeviceAddress, mDevicePort, aCommand.data(), aCommand.size());
        if (!lSent.IsOK())
        {
            return lSent;
        }
        uint64_t lDeadline = MonotonicMilliseconds() + mTimeoutMs;
        for (;;)
        {
            const uint64_t lNow = MonotonicMilliseconds();
            if (lNow >= lDeadline)
            {
                break;
            }
            // Wait first: the answer is never there yet right after sending,
            // and a receive that finds nothing costs a system call.
            if (!mSocket.WaitReadable(static_cast<uint32_t>(lDeadline - lNow)))
            {
                break;
            }
            size_t lReceived = 0;
            uint32_t lFrom = 0;
            uint16_t lFromPort = 0;
            TnResult lResult =
                mSocket.ReceiveFrom(mReceiveBuffer.data(), mReceiveBuffer.size(), lReceived, lFrom, lFromPort, 0);
            if (lResult.GetCode() == TN_TIMEOUT)
            {
                continue;
            }
            if (!lResult.IsOK() || lFrom != mDeviceAddress)
            {
                continue; // oversized, queued errors, or someone else's datagram
            }
            TnGvcpAck lAck;
            if (!DecodeAck(mReceiveBuffer.data(), lReceived, lAck) || lAck.mHeader.mAckId != lRequestId)
            {
                continue; // malformed, or the late answer to an earlier command
            }
            if (lAck.mHeader.mAcknowledge == kGvcpPendingAck)
            {
                uint16_t lWait = 0;
                ++mStatistics.mPendingAcks;
                if (DecodePendingAck(lAck, lWait))
                {
                    // The device needs more time: wait that long again from
                    // now, within an overall bound.
                    const uint64_t lLimit = lStart + kMaxPendingWaitMs;
                    lDeadline = std::min<uint64_t>(MonotonicMilliseconds() + lWait + mTimeoutMs, lLimit);
                }
                continue;
            }
            if (lAck.mHeader.mAcknowledge != aExpectedAck && lAck.mHeader.mStatus == kGvcpStatusSuccess)
            {
                continue; // a success that answers another command is no answer
            }
            aAnswer.assign(mReceiveBuffer.begin(), mReceiveBuffer.begin() + static_cast<ptrdiff_t>(lReceived));
            DecodeAck(aAnswer.data(), aAnswer.size(), aAck);
            mLastStatus = aAck.mHeader.mStatus;
            if (aAck.mHeader.mStatus != kGvcpStatusSuccess)
            {
                ++mStatistics.mFailures;
                return StatusToResult(aAck.mHeader.mStatus, "GVCP command");
            }
            return TnResult(TN_OK);
        }
    }
    ++mStatistics.mTimeouts;
    char lText[96];
    snprintf(lText, sizeof(lText), "GVCP: no answer to command 0x%04X after %u attempts",
             static_cast<unsigned>(lCommand.mHeader.mCommand), static_cast<unsigned>(mRetryCount + 1));
    return Failure(TN_TIMEOUT, lText);
}

TnResult TnGvcpClient::ReadRegister(uint32_t aAddress, uint32_t &aValue)
{
    return ReadRegisters(&aAddress, &aValue, 1);
}

TnResult TnGvcpClient::ReadRegisters(const uint32_t *aAddresses, uint32_t *aValues, size_t aCount)
{
    if (aCount == 0)
    {
        return TnResult(TN_OK);
    }
    if (aAddresses == nullptr || aValues == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "GVCP: no register list");
    }
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        if (aAddresses[lIndex] % 4 != 0)
        {
            return Failure(TN_INVALID_PARAMETER, "GVCP: register addresses are multiples of 4");
        }
    }
    std::lock_guard<TnFairMutex> lLock(mMutex);
    const size_t lBatch = mConcatenation ? kGvcpMaxReadRegisters : 1;
    std::vector<uint8_t> lAnswer;
    std::vector<uint32_t> lValues;
    for (size_t lFirst = 0; lFirst < aCount; lFirst += lBatch)
    {
        const size_t lCount = std::min(lBatch, aCount - lFirst);
        std::vector<uint8_t> lCommand = BuildReadRegCmd(0, aAddresses + lFirst, lCount);
        TnGvcpAck lAck;
        TnResult lResult = TransactLocked(lCommand, kGvcpReadRegAck, lAnswer, lAck);
        if (!lResult.IsOK())
        {
            return lResult;
        }
        if (!DecodeReadRegAck(lAck, lValues) || lValues.size() != lCount)
        {
            return Failure(TN_INVALID_DATA_FORMAT, "GVCP: read register answer of the wrong size");
        }
        std::copy(lValues.begin(), lValues.end(), aValues + lFirst);
    }
    return TnResult(TN_OK);
}

TnResult TnGvcpClient::WriteRegister(uint32_t aAddress, uint32_t aValue)
{
    return WriteRegisters(&aAddress, &aValue, 1);
}

TnResult TnGvcpClient::WriteRegisters(const uint32_t *aAddresses, const uint32_t *aValues, size_t aCount,
                                      size_t *aWritten)
{
    if (aWritten != nullptr)
    {
        *aWritten = 0;
    }
    if (aCount == 0)
    {
        return TnResult(TN_OK);
    }
    if (aAddresses == nullptr || aValues == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "GVCP: no register list");
    }
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        if (aAddresses[lIndex] % 4 != 0)
        {
            return Failure(TN_INVALID_PARAMETER, "GVCP: register addresses are multiples of 4");
        }
    }
    std::lock_guard<TnFairMutex> lLock(mMutex);
    const size_t lBatch = mConcatenation ? kGvcpMaxWriteRegisters : 1;
    std::vector<uint8_t> lAnswer;
    for (size_t lFirst = 0; lFirst < aCount; lFirst += lBatch)
    {
        const size_t lCount = std::min(lBatch, aCount - lFirst);
        std::vector<uint8_t> lCommand = BuildWriteRegCmd(0, aAddresses + lFirst, aValues + lFirst, lCount);
        TnGvcpAck lAck;
        TnResult lResult = TransactLocked(lCommand, kGvcpWriteRegAck, lAnswer, lAck);
        uint16_t lIndex = 0;
        const bool lHasIndex = DecodeWriteRegAck(lAck, lIndex);
        if (!lResult.IsOK())
        {
            if (aWritten != nullptr && lHasIndex)
            {
                *aWritten = lFirst + std::min<size_t>(lIndex, lCount);
            }
            return lResult;
        }
        if (aWritten != nullptr)
        {
            *aWritten = lFirst + lCount;
        }
    }
    return TnResult(TN_OK);
}

TnResult TnGvcpClient::ReadMemory(uint32_t aAddress, void *aData, size_t aSize)
{
    if (aSize == 0)
    {
        return TnResult(TN_OK);
    }
    if (aData == nullptr || static_cast<uint64_t>(aAddress) + aSize > 0x100000000ull)
    {
        return Failure(TN_INVALID_PARAMETER, "GVCP: memory range outside the device's address space");
    }
    std::lock_guard<TnFairMutex> lLock(mMutex);
    return ReadMemoryLocked(aAddress, static_cast<uint8_t *>(aData), aSize);
}

TnResult TnGvcpClient::ReadMemoryLocked(uint32_t aAddress, uint8_t *aData, size_t aSize)
{
    const uint64_t lStart = aAddress & ~3ull;
    const uint64_t lEnd = (static_cast<uint64_t>(aAddress) + aSize + 3) & ~3ull;
    const uint64_t lWanted = static_cast<uint64_t>(aAddress) + aSize;
    std::vector<uint8_t> lAnswer;
    for (uint64_t lChunk = lStart; lChunk < lEnd; lChunk += mReadChunk)
    {
        const uint16_t lCount = static_cast<uint16_t>(std::min<uint64_t>(mReadChunk, lEnd - lChunk));
        std::vector<uint8_t> lCommand = BuildReadMemCmd(0, static_cast<uint32_t>(lChunk), lCount);
        TnGvcpAck lAck;
        TnResult lResult = TransactLocked(lCommand, kGvcpReadMemAck, lAnswer, lAck);
        if (!lResult.IsOK())
        {
            return lResult;
        }
        uint32_t lAckAddress = 0;
        const uint8_t *lData = nullptr;
        size_t lSize = 0;
        if (!DecodeReadMemAck(lAck, lAckAddress, lData, lSize) || lAckAddress != lChunk || lSize < lCount)
        {
            return Failure(TN_INVALID_DATA_FORMAT, "GVCP: read memory answer of the wrong address or size");
        }
        // Copy the part of this chunk that lies inside the asked range.
        const uint64_t lFrom = std::max<uint64_t>(lChunk, aAddress);
        const uint64_t lTo = std::min<uint64_t>(lChunk + lCount, lWanted);
        if (lTo > lFrom)
        {
            memcpy(aData + (lFrom - aAddress), lData + (lFrom - lChunk), static_cast<size_t>(lTo - lFrom));
        }
    }
    return TnResult(TN_OK);
}

TnResult TnGvcpClient::WriteMemory(uint32_t aAddress, const void *aData, size_t aSize)
{
    if (aSize == 0)
    {
        return TnResult(TN_OK);
    }
    if (aData == nullptr || static_cast<uint64_t>(aAddress) + aSize > 0x100000000ull)
    {
        return Failure(TN_INVALID_PARAMETER, "GVCP: memory range outside the device's address space");
    }
    const uint8_t *lData = static_cast<const uint8_t *>(aData);
    std::lock_guard<TnFairMutex> lLock(mMutex);
    if (aAddress % 4 == 0 && aSize % 4 == 0)
    {
        return WriteAlignedLocked(aAddress, lData, aSize);
    }
    // Partial words at the ends: keep the device's other bytes of those words.
    const uint64_t lStart = aAddress & ~3ull;
    const uint64_t lEnd = (static_cast<uint64_t>(aAddress) + aSize + 3) & ~3ull;
    std::vector<uint8_t> lWords(static_cast<size_t>(lEnd - lStart));
    TnResult lResult = ReadMemoryLocked(static_cast<uint32_t>(lStart), lWords.data(), 4);
    if (lResult.IsOK() && lWords.size() > 4)
    {
        lResult = ReadMemoryLocked(static_cast<uint32_t>(lEnd - 4), lWords.data() + lWords.size() - 4, 4);
    }
    if (!lResult.IsOK())
    {
        return lResult;
    }
    memcpy(lWords.data() + (aAddress - lStart), lData, aSize);
    return WriteAlignedLocked(static_cast<uint32_t>(lStart), lWords.data(), lWords.size());
}

TnResult TnGvcpClient::WriteAlignedLocked(uint32_t aAddress, const uint8_t *aData, size_t aSize)
{
    std::vector<uint8_t> lAnswer;
    for (size_t lOffset = 0; lOffset < aSize; lOffset += mWriteChunk)
    {
        const size_t lCount = std::min<size_t>(mWriteChunk, aSize - lOffset);
        std::vector<uint8_t> lCommand =
            BuildWriteMemCmd(0, aAddress + static_cast<uint32_t>(lOffset), aData + lOffset, lCount);
        TnGvcpAck lAck;
        TnResult lResult = TransactLocked(lCommand, kGvcpWriteMemAck, lAnswer, lAck);
        if (!lResult.IsOK())
        {
            return lResult;
        }
    }
    return TnResult(TN_OK);
}

TnResult TnGvcpClient::ReadString(uint32_t aAddress, size_t aFieldSize, std::string &aText)
{
    std::vector<char> lField(aFieldSize + 1, 0);
    TnResult lResult = ReadMemory(aAddress, lField.data(), aFieldSize);
    if (lResult.IsOK())
    {
        aText.assign(lField.data());
    }
    return lResult;
}
} // namespace gev
} // namespace tn
