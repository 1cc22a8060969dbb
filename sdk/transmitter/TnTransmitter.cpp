#include "TnTransmitter.h"

#include <math.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "TnBuffer.h"
#include "TnGevAddress.h"
#include "TnGvspBufferBlock.h"
#include "TnText.h"
#include "TnThreads.h"
#include "TnTransmitterGEV.h"
#include "TnUdpSocket.h"
#include "TnWait.h"

namespace tn
{
namespace transmitter
{
namespace
{
constexpr uint32_t kMinPacketSize = 576;
constexpr uint32_t kMaxPacketSize = 16384;
constexpr uint32_t kMaxBuffers = 1024;

bool ParseAddress(const std::string &aText, uint32_t &aAddress)
{
    aAddress = 0;
    return aText.empty() || gev::ParseIPv4(aText, aAddress);
}
} // namespace

TnTransmitter::TnTransmitter() = default;

TnTransmitter::~TnTransmitter()
{
    Close();
    buffer::ForgetHolder(this, [this](std::vector<TnBuffer *> &aHeld) {
        std::lock_guard<std::mutex> lLock(mMutex);
        for (const auto &lEntry : mHeld)
        {
            aHeld.push_back(lEntry.first);
        }
    });
}

bool TnTransmitter::Hold(TnBuffer *aBuffer)
{
    uint64_t lHolding = 0;
    if (!buffer::SetHolder(*aBuffer, this, this, &lHolding) && !buffer::SetHolder(*aBuffer, this, nullptr, &lHolding))
    {
        return false;
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    ++mHeld[aBuffer];
    mHoldings[aBuffer] = lHolding;
    return true;
}

void TnTransmitter::Unhold(TnBuffer *aBuffer)
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        --mHeld[aBuffer];
    }
    LetGoIfUnused(aBuffer);
}

void TnTransmitter::LetGoIfUnused(TnBuffer *aBuffer)
{
    uint64_t lHolding = 0;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        const auto lFound = mHeld.find(aBuffer);
        if (lFound == mHeld.end() || lFound->second != 0 ||
            std::find(mFree.begin(), mFree.end(), aBuffer) != mFree.end())
        {
            return;
        }
        mHeld.erase(lFound);
        lHolding = mHoldings[aBuffer];
        mHoldings.erase(aBuffer);
    }
    // Held again meanwhile (queued by another thread), it stays held.
    buffer::EndHolding(*aBuffer, this, lHolding);
}

void TnTransmitter::Release(TnBuffer &aBuffer)
{
    if (IsInherited())
    {
        return; // no thread of this process sends it
    }
    // The holders' lock is held: the sender's thread never takes it, so
    // waiting for the sender to drop the buffer's blocks ends.
    uint32_t lUses = 0;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mFree.erase(std::remove(mFree.begin(), mFree.end(), &aBuffer), mFree.end());
        const auto lFound = mHeld.find(&aBuffer);
        lUses = lFound != mHeld.end() ? lFound->second : 0;
    }
    if (lUses != 0)
    {
        mSender.Forget(&aBuffer);
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    mFree.erase(std::remove(mFree.begin(), mFree.end(), &aBuffer), mFree.end());
    mHeld.erase(&aBuffer);
    mHoldings.erase(&aBuffer);
}

bool TnTransmitter::Yield(TnBuffer &aBuffer)
{
    if (IsInherited())
    {
        return true; // no thread of this process sends it
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    const auto lFound = mHeld.find(&aBuffer);
    if (lFound != mHeld.end() && lFound->second != 0)
    {
        return false;
    }
    mFree.erase(std::remove(mFree.begin(), mFree.end(), &aBuffer), mFree.end());
    if (lFound != mHeld.end())
    {
        mHeld.erase(lFound);
        mHoldings.erase(&aBuffer);
    }
    return true;
}

TnResult TnTransmitter::Open(const TnTransmitterSettings &aSettings)
{
    uint32_t lDestination = 0;
    uint32_t lSource = 0;
    if (aSettings.mDestination.empty() || !ParseAddress(aSettings.mDestination, lDestination) ||
        !ParseAddress(aSettings.mSource, lSource) || aSettings.mDestinationPort == 0)
    {
        return Failure(TN_INVALID_PARAMETER, "the destination is a dotted IPv4 address and a port");
    }
    if (aSettings.mMaxQueued == 0 || aSettings.mMaxQueued > kMaxBuffers || aSettings.mRetained > kMaxBuffers)
    {
        return Failure(TN_INVALID_PARAMETER, "buffer counts are 1 to 1024 (retained: 0 to 1024)");
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mOpen)
    {
        return Failure(TN_STATE_ERROR, "the transmitter is open");
    }
    gev::TnGvspSenderConfig lConfig;
    lConfig.mPacketSize = mPacketSize;
    lConfig.mExtendedIds = aSettings.mExtendedIds;
    lConfig.mInterPacketDelayNs = aSettings.mPacketDelayNs;
    lConfig.mRetainedBlocks = aSettings.mRetained;
    lConfig.mRetainTimeoutMs = mSentTimeoutMs;
    lConfig.mQueueCapacity = aSettings.mMaxQueued;
    lConfig.mDoNotFragment = aSettings.mDoNotFragment;
    lConfig.mSendBufferSize = 4 * 1024 * 1024;
    const TnResult lResult =
        mSender.Open(lDestination, aSettings.mDestinationPort, lConfig, this, lSource, aSettings.mSourcePort);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    mSettings = aSettings;
    mExtendedIds = aSettings.mExtendedIds;
    mOpen = true;
    mClosing = false;
    ApplyRate();
    ApplyPriority();
    mRecent[0] = mRecent[1] = Sample();
    return TnResult(TN_OK);
}

TnResult TnTransmitter::Close()
{
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        if (mClosing)
        {
            // Another thread closes it: this close ends with that one.
            mFreeSignal.wait(lLock, [this] { return !mClosing; });
            return TnResult(TN_OK);
        }
        if (!mOpen)
        {
            return Failure(TN_STATE_ERROR, "the transmitter is not open");
        }
        mClosing = true;
    }
    mSender.Close(); // releases every block: they come back as free buffers
    std::lock_guard<std::mutex> lLock(mMutex);
    mOpen = false;
    mClosing = false;
    mFreeSignal.notify_all();
    return TnResult(TN_OK);
}

bool TnTransmitter::IsOpen() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mOpen;
}

bool TnTransmitter::IsTransmitting() const
{
    return mSender.IsTransmitting();
}

TnResult TnTransmitter::LoadBufferPool(TnBuffer **aBuffers, uint32_t aCount)
{
    if (aBuffers == nullptr && aCount != 0)
    {
        return Failure(TN_INVALID_PARAMETER, "no buffers");
    }
    for (uint32_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        if (aBuffers[lIndex] == nullptr)
        {
            return Failure(TN_INVALID_PARAMETER, "a null buffer in the pool");
        }
    }
    for (uint32_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        if (!Hold(aBuffers[lIndex]))
        {
            for (uint32_t lHeld = 0; lHeld < lIndex; ++lHeld)
            {
                Unhold(aBuffers[lHeld]);
            }
            return Failure(TN_INVALID_PARAMETER, "a buffer of the pool is queued to a stream");
        }
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    for (uint32_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        --mHeld[aBuffers[lIndex]]; // in the pool, not in the sender
        mFree.push_back(aBuffers[lIndex]);
    }
    mFreeSignal.notify_all();
    return TnResult(TN_OK);
}

TnResult TnTransmitter::QueueBuffer(TnBuffer *aBuffer)
{
    if (aBuffer == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "no buffer");
    }
    bool lStamp;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (!mOpen || mClosing)
        {
            return Failure(TN_NOT_CONNECTED, "the transmitter is not open");
        }
        lStamp = mSettings.mStampBuffers;
    }
    if (lStamp)
    {
        aBuffer->SetTimestamp(gev::MonotonicNanoseconds());
    }
    gev::TnGvspBlock lBlock;
    if (!gev::BlockFromBuffer(*aBuffer, gev::TnBlockGeometry(), lBlock))
    {
        return Failure(TN_INVALID_PARAMETER, "the buffer holds no data");
    }
    if (!Hold(aBuffer))
    {
        return Failure(TN_INVALID_PARAMETER, "the buffer is queued to a stream");
    }
    const TnResult lResult = mSender.Queue(lBlock, aBuffer, aBuffer->GetBlockID());
    if (lResult.GetCode() == TN_PENDING)
    {
        return TnResult(TN_OK);
    }
    Unhold(aBuffer);
    return lResult;
}

TnResult TnTransmitter::RetrieveFreeBuffer(TnBuffer **aBuffer, uint32_t aTimeoutMs)
{
    if (aBuffer == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "no place for the buffer");
    }
    std::unique_lock<std::mutex> lLock(mMutex);
    const auto lReady = [&] { return !mFree.empty(); };
    if (mFree.empty() && mOpen)
    {
        // The resend ring gives way once nothing is left to send.
        lLock.unlock();
        mSender.ReleaseRetained();
        lLock.lock();
    }
    if (aTimeoutMs == 0xFFFFFFFFu)
    {
        // Until a buffer is free; a closed transmitter with none answers at once.
        Wait(mFreeSignal, lLock, [&] { return lReady() || !mOpen; });
    }
    else
    {
        WaitFor(mFreeSignal, lLock, aTimeoutMs, lReady);
    }
    if (Interrupted())
    {
        // A buffer freed meanwhile stays for the next call.
        *aBuffer = nullptr;
        return Failure(TN_ABORTED, "interrupted");
    }
    if (mFree.empty())
    {
        *aBuffer = nullptr;
        return Failure(TN_TIMEOUT, "no free buffer");
    }
    *aBuffer = mFree.front();
    mFree.pop_front();
    lLock.unlock();
    LetGoIfUnused(*aBuffer); // the program's again
    return TnResult(TN_OK);
}

TnResult TnTransmitter::AbortQueuedBuffers(uint32_t aTimeoutMs, bool *aAbortedAll)
{
    mSender.AbortQueued();
    const TnResult lResult = mSender.WaitIdle(aTimeoutMs);
    if (aAbortedAll != nullptr)
    {
        *aAbortedAll = lResult.IsOK();
    }
    return lResult;
}

TnResult TnTransmitter::FireTestPacket()
{
    return mSender.FireTestPacket();
}

uint32_t TnTransmitter::GetQueuedCount() const
{
    return mSender.GetQueuedCount();
}

uint32_t TnTransmitter::GetPacketSize() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mPacketSize;
}

TnResult TnTransmitter::SetPacketSize(uint32_t aPacketSize)
{
    if (aPacketSize < kMinPacketSize || aPacketSize > kMaxPacketSize)
    {
        return Failure(TN_INVALID_PARAMETER, "the packet size is 576 to 16384 bytes");
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mOpen)
    {
        const TnResult lResult = mSender.SetPacketSize(aPacketSize);
        if (!lResult.IsOK())
        {
            return lResult;
        }
    }
    mPacketSize = aPacketSize;
    ApplyRate();
    return TnResult(TN_OK);
}

float TnTransmitter::GetMaxPayloadThroughput() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mMaxPayloadRate;
}

TnResult TnTransmitter::SetMaxPayloadThroughput(float aBitsPerSecond)
{
    if (std::isnan(aBitsPerSecond) || aBitsPerSecond < 0)
    {
        return Failure(TN_INVALID_PARAMETER, "the rate is 0 (unlimited) or more");
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    mMaxPayloadRate = std::isinf(aBitsPerSecond) ? 0.0f : aBitsPerSecond;
    ApplyRate();
    return TnResult(TN_OK);
}

void TnTransmitter::ApplyRate()
{
    // The sender paces datagram bytes: the payload rate with each packet's
    // headers on top.
    const uint32_t lPayload = gev::GvspPacketPayloadSize(mPacketSize, mExtendedIds);
    const double lRate = mMaxPayloadRate <= 0 || lPayload == 0
                             ? 0.0
                             : static_cast<double>(mMaxPayloadRate) / 8.0 * mPacketSize / lPayload;
    mSender.SetMaxBytesPerSecond(lRate);
}

bool TnTransmitter::GetExtendedIds() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mExtendedIds;
}

TnResult TnTransmitter::SetExtendedIds(bool aExtendedIds)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mOpen)
    {
        const TnResult lResult = mSender.SetExtendedIds(aExtendedIds);
        if (!lResult.IsOK())
        {
            return lResult;
        }
    }
    mExtendedIds = aExtendedIds;
    ApplyRate();
    return TnResult(TN_OK);
}

TnResult TnTransmitter::SetSentBuffersTimeout(uint32_t aMilliseconds)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mSentTimeoutMs = aMilliseconds;
    mSender.SetRetainTimeoutMs(aMilliseconds);
    return TnResult(TN_OK);
}

uint32_t TnTransmitter::GetSentBuffersTimeout() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mSentTimeoutMs;
}

void TnTransmitter::QueuePacketResend(uint64_t aBlockId, uint32_t aFirst, uint32_t aLast)
{
    mSender.QueuePacketResend(aBlockId, aFirst, aLast);
}

uint16_t TnTransmitter::GetSourcePort() const
{
    return mSender.GetSourcePort();
}

uint16_t TnTransmitter::GetDestinationPort() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mSettings.mDestinationPort;
}

std::string TnTransmitter::GetDestinationAddress() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mSettings.mDestination;
}

std::string TnTransmitter::GetSourceAddress() const
{
    const uint32_t lAddress = mSender.GetSourceAddress();
    std::lock_guard<std::mutex> lLock(mMutex);
    return lAddress != 0 ? gev::FormatIPv4(lAddress) : mSettings.mSource;
}

void TnTransmitter::ResetStats()
{
    mSender.ResetStatistics();
    std::lock_guard<std::mutex> lLock(mMutex);
    mRecent[0] = mRecent[1] = Sample();
}

uint64_t TnTransmitter::GetBlocks() const
{
    return mSender.GetStatistics().mBlocksSent;
}

uint64_t TnTransmitter::GetSamplingTimeNs() const
{
    return mSender.GetStatistics().mElapsedNs;
}

uint64_t TnTransmitter::GetPayloadBytes() const
{
    return mSender.GetStatistics().mPayloadBytesSent;
}

uint64_t TnTransmitter::GetResendRequests() const
{
    return mSender.GetStatistics().mResendRequests;
}

void TnTransmitter::Snapshot(Sample &aNow, Sample &aBefore) const
{
    const gev::TnGvspSenderStatistics lStatistics = mSender.GetStatistics();
    aNow.mNs = lStatistics.mElapsedNs;
    aNow.mBlocks = lStatistics.mBlocksSent;
    aNow.mBytes = lStatistics.mPayloadBytesSent;
    std::lock_guard<std::mutex> lLock(mMutex);
    // Two samples about a second apart: the older one is what "recent"
    // measures from.
    if (aNow.mNs < mRecent[1].mNs)
    {
        mRecent[0] = mRecent[1] = Sample(); // reset meanwhile
    }
    if (aNow.mNs - mRecent[1].mNs >= 1000000000ull)
    {
        mRecent[0] = mRecent[1];
        mRecent[1] = aNow;
    }
    aBefore = mRecent[0];
}

double TnTransmitter::Rate(bool aRecent, bool aBlocks) const
{
    Sample lNow;
    Sample lBefore;
    Snapshot(lNow, lBefore);
    if (!aRecent)
    {
        lBefore = Sample();
    }
    const uint64_t lNs = lNow.mNs - lBefore.mNs;
    const double lCount = aBlocks ? static_cast<double>(lNow.mBlocks - lBefore.mBlocks)
                                  : static_cast<double>(lNow.mBytes - lBefore.mBytes) * 8;
    return lNs == 0 ? 0.0 : lCount * 1e9 / static_cast<double>(lNs);
}

uint32_t TnTransmitter::GetSenderPriority() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mSenderPriority;
}

TnResult TnTransmitter::SetSenderPriority(uint32_t aPriority)
{
    if (aPriority > 99)
    {
        return Failure(TN_INVALID_PARAMETER, "priorities are 0 to 99");
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    mSenderPriority = aPriority;
    return mOpen ? ApplyPriority() : TnResult(TN_OK);
}

TnResult TnTransmitter::ApplyPriority()
{
    if (!tn::SetThreadPriority(mSender.GetThreadHandle(), mSenderPriority))
    {
        return Failure(TN_THREAD_ERROR, "the system refused the thread priority");
    }
    return TnResult(TN_OK);
}

uint32_t TnTransmitter::GetPoolPriority() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mPoolPriority;
}

TnResult TnTransmitter::SetPoolPriority(uint32_t aPriority)
{
    if (aPriority > 99)
    {
        return Failure(TN_INVALID_PARAMETER, "priorities are 0 to 99");
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    mPoolPriority = aPriority;
    return TnResult(TN_OK);
}

void TnTransmitter::OnBlockReleased(void *aContext, uint64_t, bool)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    const auto lFound = mHeld.find(static_cast<TnBuffer *>(aContext));
    if (lFound == mHeld.end())
    {
        return; // changed or destroyed meanwhile: forgotten
    }
    if (lFound->second != 0)
    {
        --lFound->second;
    }
    mFree.push_back(lFound->first);
    mFreeSignal.notify_all();
}
} // namespace transmitter
} // namespace tn

// The public class.

using tn::transmitter::TnTransmitter;

TnTransmitterGEV::TnTransmitterGEV() : mImpl(new TnTransmitter()) {}
TnTransmitterGEV::~TnTransmitterGEV()
{
    if (mImpl->IsInherited())
    {
        return; // the parent's: its threads are not in this process
    }
    delete mImpl;
}

TnResult TnTransmitterGEV::Open(TnString aDestinationAddress, uint16_t aDestinationPort, TnString aSourceAddress,
                                uint16_t aSourcePort, bool aDoNotFragment, bool aExtendedIDs, uint32_t aMaxQueuedBuffers,
                                bool aStampBuffers, uint32_t aRetainedBuffers, uint32_t aPacketDelayNs)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::Open");
    }
    tn::transmitter::TnTransmitterSettings lSettings;
    lSettings.mDestination = tn::ToString(aDestinationAddress);
    lSettings.mDestinationPort = aDestinationPort;
    lSettings.mSource = tn::ToString(aSourceAddress);
    lSettings.mSourcePort = aSourcePort;
    lSettings.mDoNotFragment = aDoNotFragment;
    lSettings.mExtendedIds = aExtendedIDs;
    lSettings.mMaxQueued = aMaxQueuedBuffers;
    lSettings.mStampBuffers = aStampBuffers;
    lSettings.mRetained = aRetainedBuffers;
    lSettings.mPacketDelayNs = aPacketDelayNs;
    return mImpl->Open(lSettings);
}

TnResult TnTransmitterGEV::Close()
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::Close");
    }
    return mImpl->Close();
}
TnResult TnTransmitterGEV::LoadBufferPool(TnBuffer **aBuffers, uint32_t aCount)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::LoadBufferPool");
    }
    return mImpl->LoadBufferPool(aBuffers, aCount);
}
TnResult TnTransmitterGEV::QueueBuffer(TnBuffer *aBuffer)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::QueueBuffer");
    }
    return mImpl->QueueBuffer(aBuffer);
}
TnResult TnTransmitterGEV::RetrieveFreeBuffer(TnBuffer **aBuffer, uint32_t aTimeout)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::RetrieveFreeBuffer");
    }
    return mImpl->RetrieveFreeBuffer(aBuffer, aTimeout);
}
TnResult TnTransmitterGEV::AbortQueuedBuffers(uint32_t aTimeout, bool *aAbortedAll)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::AbortQueuedBuffers");
    }
    return mImpl->AbortQueuedBuffers(aTimeout, aAbortedAll);
}
TnResult TnTransmitterGEV::FireTestPacket()
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::FireTestPacket");
    }
    return mImpl->FireTestPacket();
}
uint32_t TnTransmitterGEV::GetQueuedBufferCount()
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetQueuedCount();
}
uint32_t TnTransmitterGEV::GetPacketSize()
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetPacketSize();
}
TnResult TnTransmitterGEV::SetPacketSize(uint32_t aPacketSize)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::SetPacketSize");
    }
    return mImpl->SetPacketSize(aPacketSize);
}
float TnTransmitterGEV::GetMaxPayloadThroughput()
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetMaxPayloadThroughput();
}
TnResult TnTransmitterGEV::SetMaxPayloadThroughput(float aMax)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::SetMaxPayloadThroughput");
    }
    return mImpl->SetMaxPayloadThroughput(aMax);
}
uint16_t TnTransmitterGEV::GetSourcePort()
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetSourcePort();
}
uint16_t TnTransmitterGEV::GetDestinationPort()
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetDestinationPort();
}
TnString TnTransmitterGEV::GetDestinationIPAddress()
{
    return TnString(mImpl->GetDestinationAddress().c_str());
}
TnString TnTransmitterGEV::GetSourceIPAddress()
{
    return TnString(mImpl->GetSourceAddress().c_str());
}
void TnTransmitterGEV::ResetStats()
{
    if (mImpl->IsInherited())
    {
        return;
    }
    mImpl->ResetStats();
}
uint64_t TnTransmitterGEV::GetBlocksTransmitted() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetBlocks();
}
uint64_t TnTransmitterGEV::GetSamplingTime() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetSamplingTimeNs();
}
uint64_t TnTransmitterGEV::GetPayloadBytesTransmitted() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetPayloadBytes();
}
float TnTransmitterGEV::GetInstantaneousPayloadThroughput() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return static_cast<float>(mImpl->Rate(true, false));
}
float TnTransmitterGEV::GetAveragePayloadThroughput() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return static_cast<float>(mImpl->Rate(false, false));
}
float TnTransmitterGEV::GetInstantaneousTransmissionRate() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return static_cast<float>(mImpl->Rate(true, true));
}
float TnTransmitterGEV::GetAverageTransmissionRate() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return static_cast<float>(mImpl->Rate(false, true));
}
uint64_t TnTransmitterGEV::GetNumberOfResendRequests() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetResendRequests();
}
TnResult TnTransmitterGEV::SetSentBuffersTimeout(uint32_t aTimeout)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::SetSentBuffersTimeout");
    }
    return mImpl->SetSentBuffersTimeout(aTimeout);
}
uint32_t TnTransmitterGEV::GetSentBuffersTimeout() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetSentBuffersTimeout();
}
bool TnTransmitterGEV::IsOpen() const
{
    if (mImpl->IsInherited())
    {
        return false;
    }
    return mImpl->IsOpen();
}
bool TnTransmitterGEV::IsTransmitting() const
{
    if (mImpl->IsInherited())
    {
        return false;
    }
    return mImpl->IsTransmitting();
}
bool TnTransmitterGEV::GetExtendedIDs() const
{
    if (mImpl->IsInherited())
    {
        return false;
    }
    return mImpl->GetExtendedIds();
}
TnResult TnTransmitterGEV::SetExtendedIDs(bool aExtendedID)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::SetExtendedIDs");
    }
    return mImpl->SetExtendedIds(aExtendedID);
}
void TnTransmitterGEV::QueuePacketResend(uint64_t aBlockID, uint32_t aFirstPacketID, uint32_t aLastPacketID)
{
    if (mImpl->IsInherited())
    {
        return;
    }
    mImpl->QueuePacketResend(aBlockID, aFirstPacketID, aLastPacketID);
}
uint32_t TnTransmitterGEV::GetUserModeTransmitterThreadPriority() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetSenderPriority();
}
TnResult TnTransmitterGEV::SetUserModeTransmitterThreadPriority(uint32_t aPriority)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::SetUserModeTransmitterThreadPriority");
    }
    return mImpl->SetSenderPriority(aPriority);
}
uint32_t TnTransmitterGEV::GetBufferPoolThreadPriority() const
{
    if (mImpl->IsInherited())
    {
        return 0;
    }
    return mImpl->GetPoolPriority();
}
TnResult TnTransmitterGEV::SetBufferPoolThreadPriority(uint32_t aPriority)
{
    if (mImpl->IsInherited())
    {
        return tn::InheritedFailure("TnTransmitterGEV::SetBufferPoolThreadPriority");
    }
    return mImpl->SetPoolPriority(aPriority);
}
