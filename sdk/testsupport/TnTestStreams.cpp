#include "TnTestStreams.h"

#include <gtest/gtest.h>

#include <chrono>

#include "TnGvcp.h"
#include "TnGvspTool.h"

namespace tn
{
namespace test
{
namespace
{
constexpr uint32_t kLoopback = 0x7F000001;
} // namespace

std::vector<std::vector<uint8_t>> BlockDatagrams(const gev::TnGvspBlock &aBlock, uint64_t aBlockId,
                                                 uint32_t aPacketSize, bool aExtendedIds)
{
    std::vector<std::vector<uint8_t>> lDatagrams;
    gev::TnGvspPacketiser lPacketiser;
    if (!lPacketiser.Configure(aPacketSize, aExtendedIds) || !lPacketiser.Begin(aBlock, aBlockId))
    {
        ADD_FAILURE() << "the packetiser refused the block";
        return lDatagrams;
    }
    for (uint32_t lId = 0; lId <= lPacketiser.GetLastPacketId(); ++lId)
    {
        uint8_t lHeader[gev::kGvspMaxHeaderBufferSize];
        iovec lVectors[gev::kGvspMaxPacketVectors];
        size_t lSize = 0;
        const size_t lCount = lPacketiser.Build(lId, 0, lHeader, lVectors, lSize);
        std::vector<uint8_t> lDatagram;
        for (size_t lIndex = 0; lIndex < lCount; ++lIndex)
        {
            const uint8_t *lBase = static_cast<const uint8_t *>(lVectors[lIndex].iov_base);
            lDatagram.insert(lDatagram.end(), lBase, lBase + lVectors[lIndex].iov_len);
        }
        lDatagrams.push_back(std::move(lDatagram));
    }
    return lDatagrams;
}

TestFrames::TestFrames(uint32_t aWidth, uint32_t aHeight, size_t aCount)
    : mWidth(aWidth), mHeight(aHeight), mMemory(aCount, std::vector<uint8_t>(size_t(aWidth) * aHeight))
{
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        tool::FillPattern(mMemory[lIndex].data(), mMemory[lIndex].size(), aWidth);
        mFree.push_back(lIndex);
    }
}

void TestFrames::OnBlockReleased(void *aContext, uint64_t, bool)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mFree.push_back(reinterpret_cast<size_t>(aContext));
    mReleased.notify_all();
}

std::vector<uint64_t> TestFrames::Send(tn::gev::TnGvspSender &aSender, size_t aCount, uint64_t aFirstId)
{
    std::vector<uint64_t> lIds;
    uint64_t lNextId = aFirstId;
    for (size_t lFrame = 0; lFrame < aCount; ++lFrame)
    {
        size_t lIndex;
        {
            std::unique_lock<std::mutex> lLock(mMutex);
            if (!mReleased.wait_for(lLock, std::chrono::seconds(5), [this] { return !mFree.empty(); }))
            {
                ADD_FAILURE() << "no frame came back from the sender";
                return lIds;
            }
            lIndex = mFree.back();
            mFree.pop_back();
        }
        const uint64_t lId = lNextId != 0 ? lNextId : aSender.PeekNextBlockId();
        lNextId = lNextId != 0 ? tn::gev::NextGvspBlockId(lNextId, aSender.GetExtendedIds()) : 0;
        tool::StampBlockId(mMemory[lIndex].data(), mMemory[lIndex].size(), lId);
        tn::gev::TnGvspBlock lBlock;
        lBlock.mLeader.mPixelFormat = 0x01080001; // Mono8
        lBlock.mLeader.mSizeX = mWidth;
        lBlock.mLeader.mSizeY = mHeight;
        lBlock.mSegments[0] = {mMemory[lIndex].data(), mMemory[lIndex].size()};
        TnResult lResult;
        while ((lResult = aSender.Queue(lBlock, reinterpret_cast<void *>(lIndex), lId)).GetCode() == TN_BUSY)
        {
            aSender.WaitIdle(1);
        }
        EXPECT_TRUE(lResult.IsPending()) << lResult.GetCodeString().GetAscii();
        lIds.push_back(lId);
    }
    return lIds;
}

tn::gev::TnGvspSenderConfig FaultySenderConfig(uint32_t aDrop, uint32_t aReorder, uint32_t aDuplicate)
{
    tn::gev::TnGvspSenderConfig lConfig;
    lConfig.mPacketSize = 1500;
    lConfig.mMaxBytesPerSecond = 20e6; // some 300 blocks a second: resends come back before blocks pile up
    lConfig.mDropPerMille = aDrop;
    lConfig.mReorderPerMille = aReorder;
    lConfig.mDuplicatePerMille = aDuplicate;
    lConfig.mSeed = 12345;
    lConfig.mRetainedBlocks = 2;
    lConfig.mQueueCapacity = 2;
    return lConfig;
}

namespace
{
tn::gev::TnGvcpDeviceInfo StreamDeviceInfo()
{
    tn::gev::TnGvcpDeviceInfo lInfo;
    lInfo.mVersionMajor = 2;
    lInfo.mVersionMinor = 0;
    lInfo.mDeviceMode = 0x80000000u; // big-endian
    lInfo.mMac[0] = 0x02;
    lInfo.mMac[5] = 0x5A;
    lInfo.mCurrentIP = kLoopback;
    lInfo.mSubnetMask = 0xFF000000u;
    lInfo.mManufacturerName = "Tarn Test";
    lInfo.mModelName = "Stream";
    lInfo.mSerialNumber = "ST-1";
    return lInfo;
}
} // namespace

StreamDevice::StreamDevice(bool aResend) : MemoryDevice(StreamDeviceInfo(), 0x10000)
{
    PutWord(tn::gev::kRegGvcpCapability, aResend ? tn::gev::kCapabilityPacketResend : 0);
}

StreamDevice::~StreamDevice()
{
    Stop();
}

bool StreamDevice::Start(uint16_t aPort)
{
    return mServer.Start(this, kLoopback, aPort).IsOK();
}

void StreamDevice::Stop()
{
    mServer.Stop();
}

void StreamDevice::SetSender(tn::gev::ITnGvspResendTarget *aTarget)
{
    std::lock_guard<std::mutex> lLock(mTargetMutex);
    mTarget = aTarget;
}

uint64_t StreamDevice::GetResendCount() const
{
    std::lock_guard<std::mutex> lLock(mTargetMutex);
    return mResends;
}

bool StreamDevice::HandleCommand(const tn::gev::TnGvcpPeer &, const tn::gev::TnGvcpCommand &aCommand, uint16_t &,
                                 uint16_t &, std::vector<uint8_t> &)
{
    tn::gev::TnGvcpPacketResend lResend;
    if (aCommand.mHeader.mCommand != tn::gev::kGvcpPacketResendCmd ||
        !tn::gev::DecodePacketResendCmd(aCommand, lResend))
    {
        return false;
    }
    std::lock_guard<std::mutex> lLock(mTargetMutex);
    ++mResends;
    if (mTarget != nullptr && lResend.mStreamChannel == 0)
    {
        mTarget->QueuePacketResend(lResend.mBlockId, lResend.mFirstPacketId, lResend.mLastPacketId);
    }
    return false; // never acknowledged
}
} // namespace test
} // namespace tn
