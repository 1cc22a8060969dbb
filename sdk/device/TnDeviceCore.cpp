#include "TnDeviceCore.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <limits>

#include "TnByteOrder.h"
#include "TnGenICamInternal.h"
#include "TnHeldObjects.h"
#include "TnLog.h"
#include "TnLogDispatch.h"
#include "TnSystem.h"
#include "TnText.h"
#include "TnThreads.h"
#include "TnWait.h"

namespace tn
{
namespace device
{
namespace
{
// The GenICam port of the device's features: reads and writes go over the
// link while the controller is connected.
class DevicePort : public genicam::IPort
{
public:
    explicit DevicePort(DeviceCore &aCore) : mCore(aCore) {}

    TnResult Read(uint64_t aAddress, void *aData, size_t aLength) override
    {
        if (mCore.IsInherited())
        {
            return InheritedFailure("the device's features");
        }
        // The access runs the sinks inside the device: one that destroys it
        // is seen, and the end waits until the access has returned.
        const WorkingFor lInside(&mCore);
        std::shared_ptr<Link> lLink = mCore.GetLink();
        if (!lLink || !mCore.IsConnected())
        {
            return Failure(TN_NOT_CONNECTED, "the device is not connected");
        }
        TnResult lResult = lLink->Read(aAddress, aData, aLength);
        if (lResult.IsOK())
        {
            mCore.ReportPortAccess(false, aData, aAddress, aLength);
        }
        return mCore.IsEnding() ? Failure(TN_NOT_CONNECTED, "the device was destroyed during the read") : lResult;
    }

    TnResult Write(uint64_t aAddress, const void *aData, size_t aLength) override
    {
        if (mCore.IsInherited())
        {
            return InheritedFailure("the device's features");
        }
        const WorkingFor lInside(&mCore);
        std::shared_ptr<Link> lLink = mCore.GetLink();
        if (!lLink || !mCore.IsConnected())
        {
            return Failure(TN_NOT_CONNECTED, "the device is not connected");
        }
        TnResult lResult = mCore.CheckWritable();
        if (lResult.IsOK())
        {
            lResult = lLink->Write(aAddress, aData, aLength);
        }
        if (lResult.IsOK())
        {
            mCore.ReportPortAccess(true, aData, aAddress, aLength);
        }
        return mCore.IsEnding() ? Failure(TN_NOT_CONNECTED, "the device was destroyed during the write") : lResult;
    }

    TnGenAccessMode GetAccessMode() const override { return mCore.GetPortAccessMode(); }

private:
    DeviceCore &mCore;
};

// The registers behind the communication parameters: the settings, 32 bits
// each from 0, and the statistics, 64 bits each from 0x100; big-endian.
enum : uint32_t
{
    kSetAnswerTimeout = 0x00,
    kSetRetryCount = 0x04,
    kSetHeartbeatInterval = 0x08,
    kSetHeartbeatTimeout = 0x0C,
    kSetReadChunk = 0x10,
    kSetWriteChunk = 0x14,
    kSetMessageChannel = 0x18,
    kSettingsEnd = 0x1C,
    kStatistics = 0x100,
    kStatisticsCount = 7,
    kSettingsSpace = kStatistics + 8 * kStatisticsCount
};

/// The communication parameters' port: their image, and the link's own
/// write rules (every value kept within what the link can work with).
std::shared_ptr<genicam::IPort> NewSettingsPort(DeviceCore &aCore)
{
    genicam::SettingsImagePort::Layout lLayout = {kSettingsSpace, 0, kSettingsEnd, {},
                                                  "no communication parameter lies there",
                                                  "communication parameters are written one 32-bit value at a time"};
    auto lRender = [&aCore](uint8_t *aImage) {
        const LinkSettings lSettings = aCore.GetSettings();
        PutU32(aImage + kSetAnswerTimeout, lSettings.mAnswerTimeoutMs);
        PutU32(aImage + kSetRetryCount, lSettings.mRetryCount);
        PutU32(aImage + kSetHeartbeatInterval, lSettings.mHeartbeatIntervalMs);
        PutU32(aImage + kSetHeartbeatTimeout, lSettings.mHeartbeatTimeoutMs);
        PutU32(aImage + kSetReadChunk, lSettings.mReadChunk);
        PutU32(aImage + kSetWriteChunk, lSettings.mWriteChunk);
        PutU32(aImage + kSetMessageChannel, lSettings.mMessageChannel ? 1 : 0);
        const LinkStatistics lStatistics = aCore.GetStatistics();
        const uint64_t lCounts[kStatisticsCount] = {
            lStatistics.mCommands, lStatistics.mRetries,    lStatistics.mTimeouts, lStatistics.mPendingAcks,
            lStatistics.mFailures, lStatistics.mHeartbeats, lStatistics.mEvents};
        for (uint32_t lIndex = 0; lIndex < kStatisticsCount; ++lIndex)
        {
            PutU64(aImage + kStatistics + 8 * lIndex, lCounts[lIndex]);
        }
    };
    auto lWrite = [&aCore](const std::vector<std::pair<uint32_t, uint32_t>> &aValues) {
        LinkSettings lSettings = aCore.GetSettings();
        for (const auto &lValue : aValues)
        {
            switch (lValue.first)
            {
            case kSetAnswerTimeout:
                lSettings.mAnswerTimeoutMs = std::max<uint32_t>(1, std::min<uint32_t>(lValue.second, 60000));
                break;
            case kSetRetryCount:
                lSettings.mRetryCount = std::min<uint32_t>(lValue.second, 100);
                break;
            case kSetHeartbeatInterval:
                lSettings.mHeartbeatIntervalMs = std::min<uint32_t>(lValue.second, 600000);
                break;
            case kSetHeartbeatTimeout:
                lSettings.mHeartbeatTimeoutMs = std::min<uint32_t>(lValue.second, 600000);
                break;
            case kSetReadChunk:
                lSettings.mReadChunk = std::max<uint32_t>(4, std::min<uint32_t>(lValue.second, 536)) & ~3u;
                break;
            case kSetWriteChunk:
                lSettings.mWriteChunk = std::max<uint32_t>(4, std::min<uint32_t>(lValue.second, 536)) & ~3u;
                break;
            case kSetMessageChannel:
                lSettings.mMessageChannel = lValue.second != 0;
                break;
            default:
                break;
            }
        }
        aCore.SetSettings(lSettings);
    };
    return std::make_shared<genicam::SettingsImagePort>(lLayout, lRender, lWrite);
}

std::string IntegerFeature(const char *aName, const char *aToolTip, uint32_t aAddress, uint32_t aMin, uint32_t aMax,
                           uint32_t aInc, const char *aUnit)
{
    char lAddress[16];
    snprintf(lAddress, sizeof(lAddress), "0x%X", aAddress);
    return std::string("<Integer Name=\"") + aName + "\"><ToolTip>" + aToolTip + "</ToolTip><pValue>" + aName +
           "Reg</pValue><Min>" + std::to_string(aMin) + "</Min><Max>" + std::to_string(aMax) + "</Max><Inc>" +
           std::to_string(aInc) + "</Inc><Unit>" + aUnit + "</Unit></Integer>\n<IntReg Name=\"" + aName +
           "Reg\"><Address>" + lAddress +
           "</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>NoCache</Cachable>"
           "<Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>\n";
}

std::string CounterFeature(const char *aName, const char *aToolTip, uint32_t aIndex)
{
    char lAddress[16];
    snprintf(lAddress, sizeof(lAddress), "0x%X", kStatistics + 8 * aIndex);
    return std::string("<IntReg Name=\"") + aName + "\"><ToolTip>" + aToolTip + "</ToolTip><Address>" + lAddress +
           "</Address><Length>8</Length><AccessMode>RO</AccessMode><pPort>Device</pPort><Cachable>NoCache</Cachable>"
           "<Sign>Unsigned</Sign><Endianess>BigEndian</Endianess></IntReg>\n";
}

// The controller's own settings and statistics as a GenICam description.
std::string CommunicationXml()
{
    std::string lXml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<RegisterDescription ModelName=\"Communication\" VendorName=\"Tarn\" StandardNameSpace=\"None\""
        " SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" MajorVersion=\"1\""
        " MinorVersion=\"0\" SubMinorVersion=\"0\" ProductGuid=\"0\" VersionGuid=\"0\""
        " xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n"
        "<Category Name=\"Root\"><pFeature>Link</pFeature><pFeature>Statistics</pFeature></Category>\n"
        "<Category Name=\"Link\"><pFeature>AnswerTimeout</pFeature><pFeature>CommandRetryCount</pFeature>"
        "<pFeature>HeartbeatInterval</pFeature><pFeature>HeartbeatTimeout</pFeature>"
        "<pFeature>ReadMemoryPacketSize</pFeature><pFeature>WriteMemoryPacketSize</pFeature>"
        "<pFeature>MessageChannelEnabled</pFeature></Category>\n"
        "<Category Name=\"Statistics\"><pFeature>CommandsSent</pFeature><pFeature>CommandRetries</pFeature>"
        "<pFeature>CommandTimeouts</pFeature><pFeature>PendingAcknowledges</pFeature>"
        "<pFeature>FailedCommands</pFeature><pFeature>HeartbeatsSent</pFeature>"
        "<pFeature>EventsReceived</pFeature></Category>\n";
    lXml += IntegerFeature("AnswerTimeout", "How long a command waits for the device's answer.", kSetAnswerTimeout, 1,
                           60000, 1, "ms");
    lXml += IntegerFeature("CommandRetryCount", "How often an unanswered command is sent again.", kSetRetryCount, 0,
                           100, 1, "");
    lXml += IntegerFeature("HeartbeatInterval",
                           "The time between heartbeats; 0 for a third of the device's heartbeat timeout, "
                           "shortened so that an unanswered heartbeat ends within that timeout.",
                           kSetHeartbeatInterval, 0, 600000, 1, "ms");
    lXml += IntegerFeature("HeartbeatTimeout", "The heartbeat timeout given to the device; 0 to keep the device's own.",
                           kSetHeartbeatTimeout, 0, 600000, 1, "ms");
    lXml += IntegerFeature("ReadMemoryPacketSize", "The most bytes one read memory command asks for.", kSetReadChunk, 4,
                           536, 4, "B");
    lXml += IntegerFeature("WriteMemoryPacketSize", "The most bytes one write memory command carries.", kSetWriteChunk,
                           4, 536, 4, "B");
    lXml += "<Boolean Name=\"MessageChannelEnabled\"><ToolTip>Whether connecting opens the device's message "
            "channel for events.</ToolTip><pValue>MessageChannelEnabledReg</pValue><OnValue>1</OnValue>"
            "<OffValue>0</OffValue></Boolean>\n"
            "<IntReg Name=\"MessageChannelEnabledReg\"><Address>0x18</Address><Length>4</Length>"
            "<AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>NoCache</Cachable><Sign>Unsigned</Sign>"
            "<Endianess>BigEndian</Endianess></IntReg>\n";
    lXml += CounterFeature("CommandsSent", "Commands sent to the device.", 0);
    lXml += CounterFeature("CommandRetries", "Commands sent again after an unanswered attempt.", 1);
    lXml += CounterFeature("CommandTimeouts", "Commands that got no answer at all.", 2);
    lXml += CounterFeature("PendingAcknowledges", "Answers that asked for more time.", 3);
    lXml += CounterFeature("FailedCommands", "Answers that reported a failure.", 4);
    lXml += CounterFeature("HeartbeatsSent", "Heartbeats sent to keep the device's control.", 5);
    lXml += CounterFeature("EventsReceived", "Events received on the message channel.", 6);
    lXml += "<Port Name=\"Device\"/>\n</RegisterDescription>\n";
    return lXml;
}

bool ContainsNoCase(const std::string &aText, const char *aPart)
{
    std::string lLower(aText);
    std::transform(lLower.begin(), lLower.end(), lLower.begin(), [](unsigned char aChar) { return tolower(aChar); });
    return lLower.find(aPart) != std::string::npos;
}

const char *KindName(TnDeviceType aType)
{
    return aType == TnDeviceTypeGEV ? "GigE Vision" : aType == TnDeviceTypeU3V ? "USB3 Vision" : "device";
}

const char *InfoKindName(TnDeviceInfoType aType)
{
    switch (aType)
    {
    case TnDeviceInfoTypeGEV:
        return "GigE Vision";
    case TnDeviceInfoTypeU3V:
        return "USB3 Vision";
    case TnDeviceInfoTypeUSB:
        return "USB";
    case TnDeviceInfoTypeVexmoorProtocol:
        return "Vexmoor Protocol";
    default:
        return "unknown";
    }
}
} // namespace

Link::~Link() = default;

DeviceCore::DeviceCore(TnDeviceType aType) : mType(aType)
{
    TnResult lResult;
    mCommunication.reset(
        genicam::CreateParameterArray(CommunicationXml(), NewSettingsPort(*this), lResult));
}

DeviceCore::~DeviceCore()
{
    Shutdown();
    // A thread still inside an operation on the features (one that asked
    // for this destruction from a sink, or any other) leaves it first.
    std::vector<std::shared_ptr<TnGenParameterArray>> lArrays;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lArrays.push_back(mParameters);
        for (const std::weak_ptr<TnGenParameterArray> &lRetired : mRetired)
        {
            lArrays.push_back(lRetired.lock());
        }
    }
    for (const std::shared_ptr<TnGenParameterArray> &lArray : lArrays)
    {
        genicam::AwaitOperations(lArray.get());
    }
    genicam::AwaitOperations(mCommunication.get());
    // The arrays of earlier connections that proxies still hold go with it.
    EndRetired(this, mParameters.get());
}

bool DeviceCore::OnOwnThread() const
{
    if (WorkingFor::Now(this) || IsQueueThread())
    {
        return true;
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    if (genicam::Operating(mParameters.get()) || genicam::Operating(mCommunication.get()))
    {
        return true;
    }
    return std::any_of(mRetired.begin(), mRetired.end(), [](const std::weak_ptr<TnGenParameterArray> &aArray) {
        const std::shared_ptr<TnGenParameterArray> lArray = aArray.lock();
        return genicam::Operating(lArray.get());
    });
}

void DeviceCore::Destroy(DeviceCore *aCore)
{
    if (!DeleteWhereItCanWait(aCore, aCore->OnOwnThread(), [aCore] { aCore->mEnding.store(true); }))
    {
        aCore->Log("no thread could be made to end a device destroyed from its own sink; its state is left behind");
    }
}

void DeviceCore::Log(const std::string &aText) const
{
    LibraryLogger("TnDevice").LogWarning(__FILE__, __LINE__, "TnDevice", aText.c_str());
}

void DeviceCore::Shutdown()
{
    {
        std::lock_guard<std::mutex> lLock(mConnectMutex);
        if (mConnected)
        {
            DisconnectLocked();
        }
    }
    {
        std::lock_guard<std::mutex> lLock(mQueueMutex);
        mStopQueue = true;
    }
    mQueueChanged.notify_all();
    if (mQueueThread.joinable() && !IsQueueThread())
    {
        mQueueThread.join();
    }
}

bool DeviceCore::IsQueueThread() const
{
    return mQueueThread.joinable() && mQueueThread.get_id() == std::this_thread::get_id();
}

TnResult DeviceCore::Connect(const TnString &aId, TnAccessType aAccess)
{
    const char *lText = aId.GetAscii();
    if (lText == nullptr || *lText == '\0')
    {
        return Failure(TN_INVALID_PARAMETER, "Connect: no device was named");
    }
    TnSystem lSystem;
    const TnDeviceInfo *lInfo = nullptr;
    TnResult lResult = lSystem.FindDevice(aId, &lInfo);
    if (!lResult.IsOK() || lInfo == nullptr)
    {
        const std::string lWhy = tn::ToString(lResult.GetDescription());
        return Failure(lResult.IsOK() ? TN_NOT_FOUND : lResult.GetCode(),
                       "Connect: " + (lWhy.empty() ? std::string("no such device") : lWhy));
    }
    return Connect(lInfo, aAccess);
}

TnResult DeviceCore::Connect(const TnDeviceInfo *aInfo, TnAccessType aAccess)
{
    if (aInfo == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "Connect: no device information was given");
    }
    if (aAccess != TnAccessOpen && aAccess != TnAccessControl && aAccess != TnAccessExclusive &&
        aAccess != TnAccessReadOnly)
    {
        return Failure(TN_INVALID_PARAMETER, "Connect: no such access type");
    }
    std::lock_guard<std::mutex> lConnecting(mConnectMutex);
    if (mConnected && mLinkAlive)
    {
        return Failure(TN_STATE_ERROR, "Connect: the controller is connected already; disconnect it first");
    }
    if (mConnected)
    {
        DisconnectLocked(); // the link was lost: what is left of it goes first
    }
    if (!Accepts(*aInfo))
    {
        return Failure(TN_INVALID_PARAMETER, std::string("Connect: a ") + KindName(mType) +
                                                 " controller cannot connect to a " + InfoKindName(aInfo->GetType()) +
                                                 " device");
    }
    std::shared_ptr<const TnDeviceInfo> lInfo(aInfo->Copy());
    TnResult lResult = StartQueue();
    if (!lResult.IsOK())
    {
        return lResult;
    }
    mLinkAlive = true;
    std::shared_ptr<Link> lLink;
    lResult = OpenLink(*lInfo, aAccess, lLink);
    if (!lResult.IsOK())
    {
        mLinkAlive = false;
        return lResult;
    }
    std::string lUrl;
    XmlDocument lXml;
    lResult = lLink->ReadXmlUrl(lUrl);
    if (lResult.IsOK())
    {
        lResult = LoadXml(
            lUrl,
            [&lLink](uint64_t aAddress, void *aData, size_t aSize) { return lLink->Read(aAddress, aData, aSize); },
            lXml);
    }
    std::unique_ptr<TnGenParameterArray> lArray;
    if (lResult.IsOK())
    {
        lArray.reset(genicam::CreateParameterArray(lXml.mXml, std::make_shared<DevicePort>(*this), lResult));
    }
    if (!lResult.IsOK() || !mLinkAlive)
    {
        lLink->Close(mLinkAlive);
        mLinkAlive = false;
        return lResult.IsOK() ? Failure(TN_NOT_CONNECTED, "Connect: the device stopped answering") : lResult;
    }
    std::shared_ptr<TnGenParameterArray> lEarlier;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lEarlier = std::move(mParameters);
        mRetired.erase(std::remove_if(mRetired.begin(), mRetired.end(),
                                      [](const std::weak_ptr<TnGenParameterArray> &aArray) { return aArray.expired(); }),
                       mRetired.end());
        if (lEarlier)
        {
            mRetired.push_back(lEarlier);
        }
        mParameters = std::move(lArray);
        mLink = lLink;
        mInfo = lInfo;
        mXml = std::move(lXml);
        mHasXml = true;
        mAccess = aAccess;
    }
    if (lEarlier)
    {
        // The earlier connection's array stays while the program holds it.
        TnGenParameterArray *lAddress = lEarlier.get();
        RetireObject(this, lAddress, std::move(lEarlier));
    }
    mConnected = true;
    return TnResult(TN_OK);
}

TnResult DeviceCore::Disconnect()
{
    std::lock_guard<std::mutex> lLock(mConnectMutex);
    if (!mConnected)
    {
        return Failure(TN_NOT_CONNECTED, "Disconnect: the controller is not connected");
    }
    return DisconnectLocked();
}

TnResult DeviceCore::DisconnectLocked()
{
    std::shared_ptr<Link> lLink;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lLink.swap(mLink);
        mAccess = TnAccessUnknown;
    }
    mConnected = false;
    const bool lAlive = mLinkAlive.exchange(false);
    if (lLink)
    {
        lLink->Close(lAlive);
    }
    return TnResult(TN_OK);
}

bool DeviceCore::IsConnected() const
{
    if (IsInherited())
    {
        return false;
    }
    return mConnected && mLinkAlive;
}

TnAccessType DeviceCore::GetAccessType() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return IsConnected() ? mAccess : TnAccessUnknown;
}

std::shared_ptr<Link> DeviceCore::GetLink() const
{
    if (IsInherited())
    {
        return nullptr;
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    return mLink;
}

std::shared_ptr<const TnDeviceInfo> DeviceCore::GetInfo() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mInfo;
}

TnGenParameterArray *DeviceCore::GetParameters()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mParameters.get();
}

std::shared_ptr<TnGenParameterArray> DeviceCore::KeepParameters()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mParameters;
}

TnGenParameterArray *DeviceCore::GetCommunicationParameters()
{
    return mCommunication.get();
}

TnResult DeviceCore::GetXmlFileName(TnString &aFileName)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (!mHasXml)
    {
        return Failure(TN_NOT_CONNECTED, "no GenICam description has been read yet: connect first");
    }
    const std::string lName = mXml.mFileName.empty() ? (mXml.mZipped ? "device.zip" : "device.xml") : mXml.mFileName;
    aFileName = TnString(lName.c_str());
    return TnResult(TN_OK);
}

TnResult DeviceCore::DumpXml(const TnString &aFileName)
{
    const char *lName = aFileName.GetAscii();
    if (lName == nullptr || *lName == '\0')
    {
        return Failure(TN_INVALID_PARAMETER, "DumpGenICamXML: no file name was given");
    }
    std::vector<uint8_t> lRaw;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (!mHasXml)
        {
            return Failure(TN_NOT_CONNECTED, "no GenICam description has been read yet: connect first");
        }
        lRaw = mXml.mRaw;
    }
    std::ofstream lFile(lName, std::ios::binary | std::ios::trunc);
    if (!lFile)
    {
        return Failure(TN_CANNOT_OPEN_FILE, std::string("DumpGenICamXML: cannot create ") + lName);
    }
    lFile.write(reinterpret_cast<const char *>(lRaw.data()), static_cast<std::streamsize>(lRaw.size()));
    lFile.close();
    if (!lFile)
    {
        return Failure(TN_FILE_ERROR, std::string("DumpGenICamXML: cannot write ") + lName);
    }
    return TnResult(TN_OK);
}

namespace
{
TnResult CheckRange(const Link &aLink, int64_t aAddress, const void *aData, int64_t aCount)
{
    if (aCount < 0)
    {
        return Failure(TN_INVALID_PARAMETER, "the byte count is negative");
    }
    if (aCount > std::numeric_limits<int32_t>::max())
    {
        return Failure(TN_INVALID_PARAMETER, "a single memory access moves less than 2^31 bytes");
    }
    if (aData == nullptr && aCount > 0)
    {
        return Failure(TN_INVALID_PARAMETER, "no memory was given");
    }
    if (aAddress < 0 || static_cast<uint64_t>(aAddress) > aLink.GetAddressLimit() ||
        static_cast<uint64_t>(aCount) > aLink.GetAddressLimit() - static_cast<uint64_t>(aAddress))
    {
        return Failure(TN_INVALID_PARAMETER, "the memory range lies outside the device's address space");
    }
    return TnResult(TN_OK);
}
} // namespace

TnResult DeviceCore::ReadMemory(int64_t aAddress, void *aData, int64_t aCount)
{
    std::shared_ptr<Link> lLink = GetLink();
    if (!lLink || !IsConnected())
    {
        return Failure(TN_NOT_CONNECTED, "ReadMemory: the device is not connected");
    }
    TnResult lResult = CheckRange(*lLink, aAddress, aData, aCount);
    if (!lResult.IsOK() || aCount == 0)
    {
        return lResult;
    }
    return lLink->Read(static_cast<uint64_t>(aAddress), aData, static_cast<size_t>(aCount));
}

TnResult DeviceCore::WriteMemory(int64_t aAddress, const void *aData, int64_t aCount)
{
    std::shared_ptr<Link> lLink = GetLink();
    if (!lLink || !IsConnected())
    {
        return Failure(TN_NOT_CONNECTED, "WriteMemory: the device is not connected");
    }
    TnResult lResult = CheckRange(*lLink, aAddress, aData, aCount);
    const uint32_t lUnit = lLink->GetWriteUnit();
    if (lResult.IsOK() && (static_cast<uint64_t>(aAddress) % lUnit != 0 || static_cast<uint64_t>(aCount) % lUnit != 0))
    {
        const std::string lBytes = std::to_string(lUnit);
        lResult = Failure(TN_INVALID_PARAMETER, "WriteMemory: the device's memory is written in whole words of " +
                                                    lBytes + " bytes; the address and the byte count are multiples of " +
                                                    lBytes);
    }
    if (lResult.IsOK())
    {
        lResult = CheckWritable();
    }
    if (!lResult.IsOK() || aCount == 0)
    {
        return lResult;
    }
    return lLink->Write(static_cast<uint64_t>(aAddress), aData, static_cast<size_t>(aCount));
}

TnResult DeviceCore::CheckWritable() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mAccess == TnAccessReadOnly)
    {
        return Failure(TN_STATE_ERROR, "the controller is connected with read-only access");
    }
    return TnResult(TN_OK);
}

TnGenAccessMode DeviceCore::GetPortAccessMode() const
{
    if (!IsConnected())
    {
        return TnGenAccessModeNotAvailable;
    }
    std::lock_guard<std::mutex> lLock(mMutex);
    return mAccess == TnAccessReadOnly ? TnGenAccessModeReadOnly : TnGenAccessModeReadWrite;
}

TnResult DeviceCore::StreamLock(uint32_t aChannel, bool aLock)
{
    std::shared_ptr<Link> lLink = GetLink();
    if (!lLink || !IsConnected())
    {
        return Failure(TN_NOT_CONNECTED, "the device is not connected");
    }
    if (aChannel >= lLink->GetStreamChannelCount())
    {
        return Failure(TN_INVALID_PARAMETER, "the device has no stream channel " + std::to_string(aChannel));
    }
    const std::shared_ptr<TnGenParameterArray> lArray = KeepParameters();
    if (lArray == nullptr || lArray->GetInteger(TnString("TLParamsLocked")) == nullptr)
    {
        return TnResult(TN_OK); // nothing to lock on this device
    }
    return lArray->SetIntegerValue(TnString("TLParamsLocked"), aLock ? 1 : 0);
}

uint32_t DeviceCore::GetPayloadSize()
{
    const std::shared_ptr<TnGenParameterArray> lArray = KeepParameters();
    int64_t lValue = 0;
    if (!IsConnected() || lArray == nullptr || !lArray->GetIntegerValue(TnString("PayloadSize"), lValue).IsOK())
    {
        return 0;
    }
    return static_cast<uint32_t>(std::max<int64_t>(0, std::min<int64_t>(lValue, 0xFFFFFFFF)));
}

TnResult DeviceCore::GetUniqueID(TnString &aId)
{
    std::shared_ptr<const TnDeviceInfo> lInfo = GetInfo();
    if (!lInfo || !IsConnected())
    {
        return Failure(TN_NOT_CONNECTED, "GetUniqueID: the device is not connected");
    }
    aId = lInfo->GetUniqueID();
    return TnResult(TN_OK);
}

bool DeviceCore::IsVexmoorPowered() const
{
    std::shared_ptr<const TnDeviceInfo> lInfo = GetInfo();
    return lInfo && IsConnected() &&
           (ContainsNoCase(lInfo->mVendorName, "vexmoor") || ContainsNoCase(lInfo->mManufacturerInfo, "vexmoor"));
}

LinkSettings DeviceCore::GetSettings() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mSettings;
}

void DeviceCore::SetSettings(const LinkSettings &aSettings)
{
    std::shared_ptr<Link> lLink;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mSettings = aSettings;
        lLink = mLink;
    }
    if (lLink)
    {
        lLink->ApplySettings(aSettings);
    }
}

LinkStatistics DeviceCore::GetStatistics() const
{
    LinkStatistics lStatistics;
    std::shared_ptr<Link> lLink;
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        lLink = mLink;
        lStatistics.mEvents = mEventCount;
    }
    if (lLink)
    {
        lLink->AddStatistics(lStatistics);
    }
    return lStatistics;
}

// --- Notifications ---------------------------------------------------------

TnResult DeviceCore::RegisterSink(TnDeviceEventSink *aSink)
{
    if (aSink == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "RegisterEventSink: no event sink was given");
    }
    if (!mSinks.Add(aSink))
    {
        return Failure(kSinkRegisteredTwice, "RegisterEventSink: the event sink is registered already");
    }
    return TnResult(TN_OK);
}

TnResult DeviceCore::UnregisterSink(TnDeviceEventSink *aSink)
{
    if (aSink == nullptr)
    {
        return Failure(TN_INVALID_PARAMETER, "UnregisterEventSink: no event sink was given");
    }
    if (!mSinks.Remove(aSink))
    {
        return Failure(TN_NOT_FOUND, "UnregisterEventSink: the event sink is not registered");
    }
    return TnResult(TN_OK);
}

void DeviceCore::ReportPortAccess(bool aWrite, const void *aData, uint64_t aAddress, size_t aLength)
{
    if (mSinks.IsEmpty())
    {
        return;
    }
    // The bytes lie in the caller's memory, gone when the access returns: the
    // sinks see them in a block of their own, which a view a sink keeps keeps.
    ZeroedMemory lBytes = AllocateZeroed(aLength);
    if (lBytes)
    {
        memcpy(lBytes.get(), aData, aLength);
    }
    const void *const lShown = lBytes ? lBytes.get() : nullptr;
    // The sinks run inside the device (the port's access works for it).
    mSinks.ForEach(
        [&](TnDeviceEventSink *aSink) {
            if (mEnding.load())
            {
                return;
            }
            if (aWrite)
            {
                aSink->OnCmdLinkWrite(lShown, static_cast<int64_t>(aAddress), static_cast<int64_t>(aLength));
            }
            else
            {
                aSink->OnCmdLinkRead(lShown, static_cast<int64_t>(aAddress), static_cast<int64_t>(aLength));
            }
        },
        [this, aWrite](TnDeviceEventSink *, const std::exception_ptr &aError) {
            Log(std::string("a device event sink failed in ") + (aWrite ? "OnCmdLinkWrite: " : "OnCmdLinkRead: ") +
                DescribeException(aError));
        });
}

TnResult DeviceCore::StartQueue()
{
    std::lock_guard<std::mutex> lLock(mQueueMutex);
    if (mQueueThread.joinable() || mStopQueue)
    {
        return TnResult(TN_OK);
    }
    try
    {
        mQueueThread = std::thread(&DeviceCore::RunQueue, this);
    }
    catch (const std::exception &lError)
    {
        return Failure(TN_THREAD_ERROR, std::string("Connect: cannot start the notification thread: ") + lError.what());
    }
    mQueueThreadId = mQueueThread.get_id();
    return TnResult(TN_OK);
}

void DeviceCore::PostLinkLost(const std::string &aWhy)
{
    if (!mLinkAlive.exchange(false))
    {
        return;
    }
    Log("the link to the device is lost: " + aWhy);
    {
        std::lock_guard<std::mutex> lLock(mQueueMutex);
        Notification lLost;
        lLost.mLinkLost = true;
        mQueue.push_back(std::move(lLost));
    }
    mQueueChanged.notify_all();
}

void DeviceCore::PostEvent(uint16_t aEventId, uint16_t aChannel, uint64_t aBlockId, uint64_t aTimestamp,
                           const uint8_t *aItem, size_t aItemSize, size_t aDataOffset)
{
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        ++mEventCount;
    }
    Notification lEvent;
    lEvent.mEventId = aEventId;
    lEvent.mChannel = aChannel;
    lEvent.mBlockId = aBlockId;
    lEvent.mTimestamp = aTimestamp;
    if (aItem != nullptr && aItemSize > 0)
    {
        // Without memory for it the event comes without its data.
        lEvent.mItem = AllocateZeroed(aItemSize);
        if (lEvent.mItem)
        {
            memcpy(lEvent.mItem.get(), aItem, aItemSize);
            lEvent.mItemSize = aItemSize;
            lEvent.mDataOffset = std::min(aDataOffset, aItemSize);
        }
    }
    {
        std::lock_guard<std::mutex> lLock(mQueueMutex);
        mQueue.push_back(std::move(lEvent));
    }
    mQueueChanged.notify_all();
}

void DeviceCore::RunQueue()
{
    const WorkingFor lOwn(this, WorkingFor::OwnThread);
    std::unique_lock<std::mutex> lLock(mQueueMutex);
    for (;;)
    {
        mQueueChanged.wait(lLock, [this] { return mStopQueue || !mQueue.empty(); });
        if (mStopQueue)
        {
            mQueue.clear();
            break;
        }
        Notification lNotification = std::move(mQueue.front());
        mQueue.pop_front();
        mDelivering = true;
        lLock.unlock();
        Deliver(lNotification);
        lLock.lock();
        mDelivering = false;
        mQueueChanged.notify_all();
    }
    mQueueChanged.notify_all();
}

void DeviceCore::Deliver(Notification &aNotification)
{
    auto lReport = [this](const char *aMethod) {
        return [this, aMethod](TnDeviceEventSink *, const std::exception_ptr &aError) {
            Log(std::string("a device event sink failed in ") + aMethod + ": " + DescribeException(aError));
        };
    };
    if (aNotification.mLinkLost)
    {
        mSinks.ForEach(
            [this](TnDeviceEventSink *aSink) {
                if (!mEnding.load())
                {
                    aSink->OnLinkDisconnected(mOwner);
                }
            },
            lReport("OnLinkDisconnected"));
        return;
    }
    const uint8_t *const lItem = aNotification.mItem.get();
    const uint32_t lItemSize = static_cast<uint32_t>(aNotification.mItemSize);
    const uint32_t lSize = static_cast<uint32_t>(aNotification.mItemSize - aNotification.mDataOffset);
    const uint8_t *lData = lSize == 0 ? nullptr : lItem + aNotification.mDataOffset;
    mSinks.ForEach(
        [&](TnDeviceEventSink *aSink) {
            if (mEnding.load())
            {
                return;
            }
            aSink->OnEvent(mOwner, aNotification.mEventId, aNotification.mChannel, aNotification.mBlockId,
                           aNotification.mTimestamp, lData, lSize);
        },
        lReport("OnEvent"));
    const std::shared_ptr<TnGenParameterArray> lArray = KeepParameters();
    TnGenParameterList lParameters;
    if (lArray != nullptr && !mEnding.load() &&
        genicam::DeliverEvent(lArray.get(), aNotification.mEventId, lItemSize == 0 ? nullptr : lItem, lItemSize,
                              &lParameters)
            .IsOK())
    {
        mSinks.ForEach(
            [&](TnDeviceEventSink *aSink) {
                if (mEnding.load())
                {
                    return;
                }
                aSink->OnEventGenICam(mOwner, aNotification.mEventId, aNotification.mChannel, aNotification.mBlockId,
                                      aNotification.mTimestamp, &lParameters);
            },
            lReport("OnEventGenICam"));
    }
}

TnResult DeviceCore::WaitIdle(uint32_t aTimeoutMs)
{
    std::unique_lock<std::mutex> lLock(mQueueMutex);
    if (std::this_thread::get_id() == mQueueThreadId)
    {
        // From a sink: the queue cannot drain while this call blocks it.
        return mQueue.empty() ? TnResult(TN_OK)
                              : Failure(TN_TIMEOUT, "WaitForMessagingChannelIdle: called from an event sink");
    }
    const bool lIdle =
        WaitFor(mQueueChanged, lLock, aTimeoutMs, [this] { return mStopQueue || (mQueue.empty() && !mDelivering); });
    if (!lIdle && Interrupted())
    {
        return Failure(TN_ABORTED, "WaitForMessagingChannelIdle: interrupted");
    }
    return lIdle ? TnResult(TN_OK) : Failure(TN_TIMEOUT, "WaitForMessagingChannelIdle: events are still queued");
}
} // namespace device
} // namespace tn
