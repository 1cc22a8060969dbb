#include "TnSimulatedU3V.h"

#include <string.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include "TnByteOrder.h"
#include "TnDeviceXml.h"
#include "TnSystemInternal.h"
#include "TnText.h"
#include "TnU3vLayout.h"

namespace tn
{
namespace device
{
namespace
{
using Clock = std::chrono::steady_clock;

enum : uint64_t
{
    kAbrmGenCPVersion = 0x0000,
    kAbrmManufacturerName = 0x0004,
    kAbrmModelName = 0x0044,
    kAbrmFamilyName = 0x0084,
    kAbrmDeviceVersion = 0x00C4,
    kAbrmManufacturerInfo = 0x0104,
    kAbrmSerialNumber = 0x0144,
    kAbrmUserDefinedName = 0x0184,
    kAbrmManifestTable = 0x01D0,
    kAbrmHeartbeatTimeout = 0x01E8,
    kAbrmTextSize = 64,
    kManifest = 0x1000, // entry count (64 bits), then 64-byte entries
    kSbrm = 0x2000,
    kSirm = 0x3000,
    kCamera = 0x10000,
    kCameraWidth = kCamera + 0x00,
    kCameraHeight = kCamera + 0x04,
    kCameraPixelFormat = kCamera + 0x08,
    kCameraAcquisition = kCamera + 0x0C,
    kCameraFrameRate = kCamera + 0x14,
    kCameraEnd = kCamera + 0x100,
    kSerial = 0x11000,
    kSerialStride = 0x400,
    kSerialPorts = 2,
    kLineBaudRate = 0x00,
    kLineTransmitFree = 0x04,
    kLineReceiveCount = 0x08,
    kLineTransmitData = 0x100,
    kLineReceiveData = 0x200,
    kLineDataSize = 0x100,
    kXmlAddress = 0x100000
};

constexpr size_t kFrameMemory = 4;
constexpr uint32_t kAlignmentLog2 = 10;
constexpr size_t kTransmitCapacity = 256;
constexpr size_t kReceiveCapacity = 4096;
constexpr size_t kMessageHeader = 8; // sequence and count, big-endian
constexpr uint32_t kDefaultBaudRate = 115200;
constexpr float kDefaultFrameRate = 100.0f;

std::string SerialXml(unsigned aPort)
{
    const std::string lName = "Serial" + std::to_string(aPort);
    auto lAddress = [&](uint64_t aOffset) {
        char lText[64];
        snprintf(lText, sizeof(lText), "<Address>0x%llX</Address>",
                 static_cast<unsigned long long>(kSerial + kSerialStride * aPort + aOffset));
        return std::string(lText);
    };
    auto lCount = [&](const char *aSuffix, uint64_t aOffset, const char *aAccess) {
        return "<IntReg Name=\"" + lName + aSuffix + "\">" + lAddress(aOffset) + "<Length>4</Length><AccessMode>" +
               aAccess +
               "</AccessMode><pPort>Device</pPort><Cachable>NoCache</Cachable><Sign>Unsigned</Sign>"
               "<Endianess>LittleEndian</Endianess></IntReg>\n";
    };
    auto lData = [&](const char *aSuffix, uint64_t aOffset) {
        return "<Register Name=\"" + lName + aSuffix + "\">" + lAddress(aOffset) + "<Length>" +
               std::to_string(kLineDataSize) +
               "</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>NoCache</Cachable></Register>\n";
    };
    return "<Category Name=\"" + lName + "Control\"><pFeature>" + lName + "BaudRate</pFeature><pFeature>" + lName +
           "TransmitFree</pFeature><pFeature>" + lName + "ReceiveCount</pFeature><pFeature>" + lName +
           "TransmitData</pFeature><pFeature>" + lName + "ReceiveData</pFeature></Category>\n" + "<Integer Name=\"" +
           lName + "BaudRate\"><pValue>" + lName + "BaudRateReg</pValue><Min>300</Min><Max>10000000</Max></Integer>\n" +
           lCount("BaudRateReg", kLineBaudRate, "RW") + lCount("TransmitFree", kLineTransmitFree, "RO") +
           lCount("ReceiveCount", kLineReceiveCount, "RO") + lData("TransmitData", kLineTransmitData) +
           lData("ReceiveData", kLineReceiveData);
}

std::string BuiltInXml()
{
    std::string lXml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<RegisterDescription ModelName=\"SimulatedU3V\" VendorName=\"Tarn\" StandardNameSpace=\"None\""
        " SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\" MajorVersion=\"1\""
        " MinorVersion=\"1\" SubMinorVersion=\"0\" ProductGuid=\"0\" VersionGuid=\"0\""
        " xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n"
        "<Category Name=\"Root\" NameSpace=\"Standard\"><pFeature>DeviceControl</pFeature>"
        "<pFeature>ImageFormatControl</pFeature><pFeature>AcquisitionControl</pFeature>"
        "<pFeature>Serial0Control</pFeature><pFeature>Serial1Control</pFeature></Category>\n"
        "<Category Name=\"DeviceControl\" NameSpace=\"Standard\"><pFeature>DeviceVendorName</pFeature>"
        "<pFeature>DeviceModelName</pFeature><pFeature>DeviceVersion</pFeature>"
        "<pFeature>DeviceSerialNumber</pFeature><pFeature>DeviceUserID</pFeature></Category>\n"
        "<Category Name=\"ImageFormatControl\" NameSpace=\"Standard\"><pFeature>Width</pFeature>"
        "<pFeature>Height</pFeature><pFeature>PixelFormat</pFeature><pFeature>PayloadSize</pFeature></Category>\n"
        "<Category Name=\"AcquisitionControl\" NameSpace=\"Standard\"><pFeature>AcquisitionStart</pFeature>"
        "<pFeature>AcquisitionStop</pFeature><pFeature>AcquisitionFrameRate</pFeature>"
        "<pFeature>TLParamsLocked</pFeature></Category>\n"
        "<StringReg Name=\"DeviceVendorName\" NameSpace=\"Standard\"><Address>0x4</Address><Length>64</Length>"
        "<AccessMode>RO</AccessMode><pPort>Device</pPort></StringReg>\n"
        "<StringReg Name=\"DeviceModelName\" NameSpace=\"Standard\"><Address>0x44</Address><Length>64</Length>"
        "<AccessMode>RO</AccessMode><pPort>Device</pPort></StringReg>\n"
        "<StringReg Name=\"DeviceVersion\" NameSpace=\"Standard\"><Address>0xC4</Address><Length>64</Length>"
        "<AccessMode>RO</AccessMode><pPort>Device</pPort></StringReg>\n"
        "<StringReg Name=\"DeviceSerialNumber\" NameSpace=\"Standard\"><Address>0x144</Address><Length>64</Length>"
        "<AccessMode>RO</AccessMode><pPort>Device</pPort></StringReg>\n"
        "<StringReg Name=\"DeviceUserID\" NameSpace=\"Standard\"><Address>0x184</Address><Length>64</Length>"
        "<AccessMode>RW</AccessMode><pPort>Device</pPort></StringReg>\n"
        "<Integer Name=\"Width\" NameSpace=\"Standard\"><pValue>WidthReg</pValue><Min>16</Min><Max>4096</Max>"
        "<Inc>4</Inc></Integer>\n"
        "<IntReg Name=\"WidthReg\"><Address>0x10000</Address><Length>4</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>\n"
        "<Integer Name=\"Height\" NameSpace=\"Standard\"><pValue>HeightReg</pValue><Min>16</Min><Max>4096</Max>"
        "</Integer>\n"
        "<IntReg Name=\"HeightReg\"><Address>0x10004</Address><Length>4</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>\n"
        "<Enumeration Name=\"PixelFormat\" NameSpace=\"Standard\">"
        "<EnumEntry Name=\"Mono8\" NameSpace=\"Standard\"><Value>17301505</Value></EnumEntry>"
        "<EnumEntry Name=\"Mono16\" NameSpace=\"Standard\"><Value>17825799</Value></EnumEntry>"
        "<EnumEntry Name=\"BayerRG8\" NameSpace=\"Standard\"><Value>17301513</Value></EnumEntry>"
        "<EnumEntry Name=\"RGB8\" NameSpace=\"Standard\"><Value>35127316</Value></EnumEntry>"
        "<pValue>PixelFormatReg</pValue></Enumeration>\n"
        "<IntReg Name=\"PixelFormatReg\"><Address>0x10008</Address><Length>4</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>\n"
        "<IntSwissKnife Name=\"PayloadSize\" NameSpace=\"Standard\"><pVariable Name=\"W\">Width</pVariable>"
        "<pVariable Name=\"H\">Height</pVariable><pVariable Name=\"P\">PixelFormatReg</pVariable>"
        "<Formula>W * H * ((P &gt;&gt; 16) &amp; 0xFF) / 8</Formula></IntSwissKnife>\n"
        "<Command Name=\"AcquisitionStart\" NameSpace=\"Standard\"><pValue>AcquisitionReg</pValue>"
        "<CommandValue>1</CommandValue></Command>\n"
        "<Command Name=\"AcquisitionStop\" NameSpace=\"Standard\"><pValue>AcquisitionReg</pValue>"
        "<CommandValue>0</CommandValue></Command>\n"
        "<IntReg Name=\"AcquisitionReg\"><Address>0x1000C</Address><Length>4</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort><Cachable>NoCache</Cachable><Sign>Unsigned</Sign>"
        "<Endianess>LittleEndian</Endianess></IntReg>\n"
        "<Float Name=\"AcquisitionFrameRate\" NameSpace=\"Standard\"><pValue>AcquisitionFrameRateReg</pValue>"
        "<Min>0.1</Min><Max>100000</Max><Unit>Hz</Unit></Float>\n"
        "<FloatReg Name=\"AcquisitionFrameRateReg\"><Address>0x10014</Address><Length>4</Length>"
        "<AccessMode>RW</AccessMode><pPort>Device</pPort><Endianess>LittleEndian</Endianess></FloatReg>\n"
        "<Integer Name=\"TLParamsLocked\" NameSpace=\"Standard\"><pValue>ParamsLockedReg</pValue><Min>0</Min>"
        "<Max>1</Max></Integer>\n"
        "<IntReg Name=\"ParamsLockedReg\"><Address>0x10010</Address><Length>4</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>\n";
    for (unsigned lPort = 0; lPort < kSerialPorts; ++lPort)
    {
        lXml += SerialXml(lPort);
    }
    return lXml + "<Port Name=\"Device\" NameSpace=\"Standard\"/>\n</RegisterDescription>\n";
}

std::string SimulatedKey(const system::TnSimulatedDeviceRecord &aRecord)
{
    return aRecord.mGUID.empty() ? "line-" + std::to_string(aRecord.mLine) : aRecord.mGUID;
}

bool Within(uint64_t aAddress, size_t aSize, uint64_t aStart, uint64_t aEnd)
{
    return aAddress >= aStart && aAddress + aSize <= aEnd;
}

bool Overlaps(uint64_t aAddress, size_t aSize, uint64_t aStart, uint64_t aEnd)
{
    return aAddress < aEnd && aAddress + aSize > aStart;
}

// Bytes of a pixel and of a line: the bit count of the pixel format (8 when it
// has none), rounded up to whole bytes.
uint64_t LineBytes(uint32_t aWidth, uint32_t aPixelFormat)
{
    const uint32_t lBits = (aPixelFormat >> 16) & 0xFF;
    return (static_cast<uint64_t>(aWidth) * (lBits != 0 ? lBits : 8) + 7) / 8;
}

// Writes aLength bytes of block aBlock's payload from payload offset aOffset:
// byte i of line y is (i + 3 y + 7 aBlock) mod 256.
void WritePattern(uint8_t *aData, uint64_t aOffset, size_t aLength, uint64_t aLineBytes, uint64_t aBlock)
{
    static const struct Ramp
    {
        uint8_t mBytes[512];
        Ramp()
        {
            for (size_t lIndex = 0; lIndex < sizeof(mBytes); ++lIndex)
            {
                mBytes[lIndex] = static_cast<uint8_t>(lIndex);
            }
        }
    } sRamp;
    while (aLength > 0)
    {
        const uint64_t lLine = aOffset / aLineBytes;
        const uint64_t lColumn = aOffset % aLineBytes;
        const size_t lRun = static_cast<size_t>(std::min<uint64_t>(aLength, aLineBytes - lColumn));
        const uint64_t lStart = lColumn + 3 * lLine + 7 * aBlock;
        for (size_t lDone = 0; lDone < lRun;)
        {
            const size_t lChunk = std::min<size_t>(lRun - lDone, 256);
            memcpy(aData + lDone, sRamp.mBytes + ((lStart + lDone) & 0xFF), lChunk);
            lDone += lChunk;
        }
        aData += lRun;
        aOffset += lRun;
        aLength -= lRun;
    }
}

// One serial port: an echoing line with its queues and the mailbox of the
// serial port protocol.
struct Line
{
    std::deque<uint8_t> mTransmit;
    std::deque<uint8_t> mReceive;
    uint32_t mBaudRate = kDefaultBaudRate;
    double mCarry = 0; // a byte under way
    Clock::time_point mLast = Clock::now();
    uint32_t mLastSequence = 0; // of the transmit message taken last
    bool mHasMessage = false;   // a receive message not yet acknowledged
    uint32_t mMessageSequence = 0;
    uint32_t mNextSequence = 1;
    std::vector<uint8_t> mMessage;

    // The bytes the line carried since the last call go from the transmit
    // queue to the receive queue.
    void Advance(Clock::time_point aNow)
    {
        const double lBytes = mCarry + std::chrono::duration<double>(aNow - mLast).count() * mBaudRate / 10.0;
        mLast = aNow;
        const size_t lMoved = static_cast<size_t>(std::min<double>(lBytes, static_cast<double>(mTransmit.size())));
        for (size_t lIndex = 0; lIndex < lMoved; ++lIndex)
        {
            if (mReceive.size() < kReceiveCapacity)
            {
                mReceive.push_back(mTransmit.front());
            }
            mTransmit.pop_front();
        }
        mCarry = mTransmit.empty() ? 0 : lBytes - static_cast<double>(lMoved);
    }

    size_t ReceiveCount() const { return mReceive.size() + (mHasMessage ? mMessage.size() : 0); }

    // The message that ReceiveData shows: the one not yet acknowledged, or
    // the next bytes of the receive queue.
    void Prepare(uint8_t *aRegister)
    {
        if (!mHasMessage && !mReceive.empty())
        {
            const size_t lCount = std::min<size_t>(mReceive.size(), kLineDataSize - kMessageHeader);
            mMessage.assign(mReceive.begin(), mReceive.begin() + static_cast<std::ptrdiff_t>(lCount));
            mReceive.erase(mReceive.begin(), mReceive.begin() + static_cast<std::ptrdiff_t>(lCount));
            mMessageSequence = mNextSequence++;
            if (mNextSequence == 0)
            {
                mNextSequence = 1;
            }
            mHasMessage = true;
        }
        memset(aRegister, 0, kLineDataSize);
        if (mHasMessage)
        {
            PutU32(aRegister, mMessageSequence);
            PutU32(aRegister + 4, static_cast<uint32_t>(mMessage.size()));
            memcpy(aRegister + kMessageHeader, mMessage.data(), mMessage.size());
        }
    }
};

struct Frame
{
    uint64_t mBlockId = 0;
    uint64_t mTimestamp = 0; // nanoseconds of the steady clock
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
    uint32_t mPixelFormat = 0;
};

class Device : public SimulatedU3v
{
public:
    TnResult Build(const system::TnSimulatedDeviceRecord &aRecord);

    std::string GetGUID() const override { return mGuid; }

    TnResult OpenControl() override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (mControlOpen)
        {
            return Failure(TN_BUSY, "the device is opened by another controller");
        }
        mControlOpen = true;
        return TnResult(TN_OK);
    }

    void CloseControl() override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        mControlOpen = false;
    }

    TnResult Read(uint64_t aAddress, void *aData, size_t aSize) override;
    TnResult Write(uint64_t aAddress, const void *aData, size_t aSize) override;

    TnResult OpenStream(uint16_t aChannel) override
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        if (aChannel >= Get(kSbrm + u3v::kSbrmStreamChannelCount, 4))
        {
            return Failure(TN_NOT_FOUND, "the device has no stream channel " + std::to_string(aChannel));
        }
        if (mStreamOpen)
        {
            return Failure(TN_BUSY, "a stream of this process receives the channel already");
        }
        mStreamOpen = true;
        return TnResult(TN_OK);
    }

    void CloseStream() override
    {
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            Put(kSirm + u3v::kSiControl, 0, 4);
            Disable();
            mStreamOpen = false;
            ++mCancels;
        }
        mChanged.notify_all();
    }

    TnResult Transfer(uint8_t *aData, size_t aSize, uint32_t aTimeoutMs, size_t &aReceived) override;

    void CancelTransfers() override
    {
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            ++mCancels;
        }
        mChanged.notify_all();
    }

private:
    uint64_t Get(uint64_t aAddress, size_t aSize) const
    {
        return ReadUnsigned(mMemory.data() + aAddress, aSize, false);
    }

    void Put(uint64_t aAddress, uint64_t aValue, size_t aSize)
    {
        WriteUnsigned(aValue, mMemory.data() + aAddress, aSize, false);
    }

    bool IsEnabled() const { return (Get(kSirm + u3v::kSiControl, 4) & u3v::kSiControlEnable) != 0; }

    uint64_t RequiredPayload() const
    {
        const uint32_t lWidth = static_cast<uint32_t>(Get(kCameraWidth, 4));
        return LineBytes(lWidth, static_cast<uint32_t>(Get(kCameraPixelFormat, 4))) * Get(kCameraHeight, 4);
    }

    bool IsWritable(uint64_t aAddress, size_t aSize) const;
    TnResult Enable();
    void Disable();
    void Capture(Clock::time_point aNow);
    TnResult SendNext(uint8_t *aData, size_t aSize, size_t &aReceived);
    TnResult WriteTransmit(Line &aLine, const uint8_t *aData, size_t aSize);

    std::string mGuid;
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<uint8_t> mMemory;
    bool mControlOpen = false;
    bool mStreamOpen = false;
    uint64_t mCancels = 0;

    // The camera.
    bool mAcquiring = false;
    Clock::time_point mNextCapture;
    uint64_t mNextBlock = 0;
    std::deque<Frame> mFrames; // captured, waiting to be sent

    // The frame being sent.
    enum class Phase
    {
        Idle,
        Leader,
        Payload,
        Trailer
    } mPhase = Phase::Idle;
    Frame mSending;
    u3v::TransferPlan mPlan;
    uint64_t mPayloadSize = 0;
    uint64_t mSent = 0;
    uint64_t mTransfer = 0; // the next payload transfer
    bool mPayloadEnded = false;
    bool mDiscarded = false;

    Line mLines[kSerialPorts];
};

void PutText(std::vector<uint8_t> &aMemory, uint64_t aAddress, const std::string &aText)
{
    memcpy(aMemory.data() + aAddress, aText.data(), std::min<size_t>(aText.size(), kAbrmTextSize - 1));
}

TnResult Device::Build(const system::TnSimulatedDeviceRecord &aRecord)
{
    const std::string lBuiltIn = BuiltInXml();
    std::vector<uint8_t> lFile(lBuiltIn.begin(), lBuiltIn.end());
    bool lZipped = false;
    std::string lName = "SimulatedU3V.xml";
    if (!aRecord.mXmlPath.empty())
    {
        std::ifstream lStream(aRecord.mXmlPath, std::ios::binary);
        if (!lStream)
        {
            return Failure(TN_CANNOT_OPEN_FILE,
                           "Connect: the simulated device's GenICam file " + aRecord.mXmlPath + " cannot be read");
        }
        lFile.assign(std::istreambuf_iterator<char>(lStream), std::istreambuf_iterator<char>());
        const size_t lSlash = aRecord.mXmlPath.find_last_of('/');
        lName = lSlash == std::string::npos ? aRecord.mXmlPath : aRecord.mXmlPath.substr(lSlash + 1);
        lZipped = lName.size() > 4 &&
                  (lName.compare(lName.size() - 4, 4, ".zip") == 0 || lName.compare(lName.size() - 4, 4, ".ZIP") == 0);
    }
    if (lFile.size() > kMaxXmlSize)
    {
        return Failure(TN_INVALID_DATA_FORMAT, "Connect: the simulated device's GenICam file is too large");
    }
    mGuid = aRecord.mGUID;
    mMemory.assign(kXmlAddress + lFile.size(), 0);
    Put(kAbrmGenCPVersion, aRecord.mGenCPVersion, 4);
    PutText(mMemory, kAbrmManufacturerName, aRecord.mVendorName);
    PutText(mMemory, kAbrmModelName, aRecord.mModelName);
    PutText(mMemory, kAbrmFamilyName, aRecord.mFamilyName);
    PutText(mMemory, kAbrmDeviceVersion, aRecord.mVersion);
    PutText(mMemory, kAbrmManufacturerInfo, aRecord.mManufacturerInfo);
    PutText(mMemory, kAbrmSerialNumber, aRecord.mSerialNumber);
    PutText(mMemory, kAbrmUserDefinedName, aRecord.mUserDefinedName);
    Put(kAbrmManifestTable, kManifest, 8);
    Put(u3v::kAbrmSbrmAddress, kSbrm, 8);
    Put(kAbrmHeartbeatTimeout, 3000, 4);
    Put(kManifest, 1, 8);
    Put(kManifest + 8, 0x00010000, 4);                 // file version 1.0.0
    Put(kManifest + 12, (lZipped ? 1u : 0u) << 10, 4); // file type
    Put(kManifest + 16, kXmlAddress, 8);
    Put(kManifest + 24, lFile.size(), 8);
    // The manifest's name of the file, for the file name of a dump.
    memcpy(mMemory.data() + kManifest + 52, lName.data(), std::min<size_t>(lName.size(), 20));
    Put(kSbrm, aRecord.mU3VVersion, 4);
    Put(kSbrm + u3v::kSbrmStreamChannelCount, 1, 4);
    Put(kSbrm + u3v::kSbrmSirmAddress, kSirm, 8);
    Put(kSbrm + u3v::kSbrmSirmLength, u3v::kSirmLength, 4);
    Put(kSirm + u3v::kSiInfo, kAlignmentLog2 << 24, 4);
    Put(kSirm + u3v::kSiRequiredLeaderSize, u3v::kImageLeaderSize, 4);
    Put(kSirm + u3v::kSiRequiredTrailerSize, u3v::kImageTrailerSize, 4);
    Put(kCameraWidth, 640, 4);
    Put(kCameraHeight, 480, 4);
    Put(kCameraPixelFormat, 0x01080001, 4);
    uint32_t lRate;
    memcpy(&lRate, &kDefaultFrameRate, sizeof(lRate));
    Put(kCameraFrameRate, lRate, 4);
    for (unsigned lPort = 0; lPort < kSerialPorts; ++lPort)
    {
        Put(kSerial + kSerialStride * lPort + kLineBaudRate, kDefaultBaudRate, 4);
    }
    memcpy(mMemory.data() + kXmlAddress, lFile.data(), lFile.size());
    return TnResult(TN_OK);
}

bool Device::IsWritable(uint64_t aAddress, size_t aSize) const
{
    if (Within(aAddress, aSize, kAbrmUserDefinedName, kAbrmUserDefinedName + kAbrmTextSize) ||
        Within(aAddress, aSize, kCamera, kCameraEnd) ||
        Within(aAddress, aSize, kSirm + u3v::kSiControl, kSirm + u3v::kSiControl + 4) ||
        Within(aAddress, aSize, kSirm + u3v::kSiMaximumLeaderSize, kSirm + u3v::kSirmLength))
    {
        return true;
    }
    for (unsigned lPort = 0; lPort < kSerialPorts; ++lPort)
    {
        const uint64_t lBase = kSerial + kSerialStride * lPort;
        if (Within(aAddress, aSize, lBase + kLineBaudRate, lBase + kLineBaudRate + 4) ||
            Within(aAddress, aSize, lBase + kLineTransmitData, lBase + kLineTransmitData + kLineDataSize) ||
            Within(aAddress, aSize, lBase + kLineReceiveData, lBase + kLineReceiveData + kLineDataSize))
        {
            return true;
        }
    }
    return false;
}

TnResult Device::Read(uint64_t aAddress, void *aData, size_t aSize)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (aAddress > mMemory.size() || aSize > mMemory.size() - aAddress)
    {
        return Failure(TN_INVALID_PARAMETER, "no device memory lies there");
    }
    if (Overlaps(aAddress, aSize, kSirm + u3v::kSiRequiredPayloadSize, kSirm + u3v::kSiRequiredPayloadSize + 8))
    {
        Put(kSirm + u3v::kSiRequiredPayloadSize, RequiredPayload(), 8);
    }
    const Clock::time_point lNow = Clock::now();
    for (unsigned lPort = 0; lPort < kSerialPorts; ++lPort)
    {
        const uint64_t lBase = kSerial + kSerialStride * lPort;
        if (!Overlaps(aAddress, aSize, lBase, lBase + kSerialStride))
        {
            continue;
        }
        Line &lLine = mLines[lPort];
        lLine.Advance(lNow);
        if (Overlaps(aAddress, aSize, lBase + kLineReceiveData, lBase + kLineReceiveData + kLineDataSize))
        {
            lLine.Prepare(mMemory.data() + lBase + kLineReceiveData);
        }
        Put(lBase + kLineTransmitFree, kTransmitCapacity - lLine.mTransmit.size(), 4);
        Put(lBase + kLineReceiveCount, lLine.ReceiveCount(), 4);
    }
    memcpy(aData, mMemory.data() + aAddress, aSize);
    return TnResult(TN_OK);
}

TnResult Device::WriteTransmit(Line &aLine, const uint8_t *aData, size_t aSize)
{
    const uint32_t lSequence = GetU32(aData);
    const uint32_t lCount = GetU32(aData + 4);
    if (lCount > aSize - kMessageHeader)
    {
        return Failure(TN_INVALID_PARAMETER, "the transmit message holds fewer bytes than its count");
    }
    aLine.Advance(Clock::now());
    if (lSequence == aLine.mLastSequence)
    {
        return TnResult(TN_OK); // the same message again
    }
    if (lCount > kTransmitCapacity - aLine.mTransmit.size())
    {
        return Failure(TN_BUSY, "the transmit queue has room for " +
                                    std::to_string(kTransmitCapacity - aLine.mTransmit.size()) + " bytes");
    }
    aLine.mTransmit.insert(aLine.mTransmit.end(), aData + kMessageHeader, aData + kMessageHeader + lCount);
    aLine.mLastSequence = lSequence;
    return TnResult(TN_OK);
}

TnResult Device::Write(uint64_t aAddress, const void *aData, size_t aSize)
{
    const uint8_t *lBytes = static_cast<const uint8_t *>(aData);
    std::unique_lock<std::mutex> lLock(mMutex);
    if (aAddress > mMemory.size() || aSize > mMemory.size() - aAddress || !IsWritable(aAddress, aSize))
    {
        return Failure(TN_INVALID_PARAMETER, "the device memory there is read-only");
    }
    if (IsEnabled() && Overlaps(aAddress, aSize, kSirm + u3v::kSiMaximumLeaderSize, kSirm + u3v::kSirmLength))
    {
        return Failure(TN_STATE_ERROR, "the stream channel's transfer sizes change only while it is disabled");
    }
    for (unsigned lPort = 0; lPort < kSerialPorts; ++lPort)
    {
        const uint64_t lBase = kSerial + kSerialStride * lPort;
        Line &lLine = mLines[lPort];
        if (Overlaps(aAddress, aSize, lBase + kLineTransmitData, lBase + kLineTransmitData + kLineDataSize))
        {
            if (aAddress != lBase + kLineTransmitData || aSize < kMessageHeader)
            {
                return Failure(TN_INVALID_PARAMETER, "a transmit message starts with its sequence and count");
            }
            const TnResult lResult = WriteTransmit(lLine, lBytes, aSize);
            if (!lResult.IsOK())
            {
                return lResult;
            }
        }
        else if (Overlaps(aAddress, aSize, lBase + kLineReceiveData, lBase + kLineReceiveData + kLineDataSize))
        {
            if (aAddress != lBase + kLineReceiveData || aSize < 4)
            {
                return Failure(TN_INVALID_PARAMETER, "an acknowledgement is the sequence of a receive message");
            }
            if (lLine.mHasMessage && GetU32(lBytes) == lLine.mMessageSequence)
            {
                lLine.mHasMessage = false;
            }
            return TnResult(TN_OK);
        }
        else if (Overlaps(aAddress, aSize, lBase + kLineBaudRate, lBase + kLineBaudRate + 4))
        {
            lLine.Advance(Clock::now());
        }
    }
    const uint64_t lControl = Get(kSirm + u3v::kSiControl, 4);
    memcpy(mMemory.data() + aAddress, aData, aSize);
    for (unsigned lPort = 0; lPort < kSerialPorts; ++lPort)
    {
        const uint64_t lBaud = kSerial + kSerialStride * lPort + kLineBaudRate;
        if (Overlaps(aAddress, aSize, lBaud, lBaud + 4))
        {
            const uint64_t lRate = std::max<uint64_t>(300, std::min<uint64_t>(Get(lBaud, 4), 10000000));
            Put(lBaud, lRate, 4);
            mLines[lPort].mBaudRate = static_cast<uint32_t>(lRate);
        }
    }
    if (Overlaps(aAddress, aSize, kSirm + u3v::kSiControl, kSirm + u3v::kSiControl + 4) &&
        ((lControl ^ Get(kSirm + u3v::kSiControl, 4)) & u3v::kSiControlEnable) != 0)
    {
        if (IsEnabled())
        {
            const TnResult lResult = Enable();
            if (!lResult.IsOK())
            {
                Put(kSirm + u3v::kSiControl, lControl, 4);
                return lResult;
            }
        }
        else
        {
            Disable();
        }
    }
    if (Overlaps(aAddress, aSize, kCameraAcquisition, kCameraAcquisition + 4))
    {
        const bool lStart = Get(kCameraAcquisition, 4) != 0;
        if (lStart && !mAcquiring)
        {
            mNextCapture = Clock::now();
        }
        mAcquiring = lStart;
    }
    lLock.unlock();
    mChanged.notify_all();
    return TnResult(TN_OK);
}

TnResult Device::Enable()
{
    u3v::TransferPlan lPlan;
    lPlan.mSize = static_cast<uint32_t>(Get(kSirm + u3v::kSiPayloadTransferSize, 4));
    lPlan.mCount = static_cast<uint32_t>(Get(kSirm + u3v::kSiPayloadTransferCount, 4));
    lPlan.mFinal1 = static_cast<uint32_t>(Get(kSirm + u3v::kSiPayloadFinalTransfer1Size, 4));
    lPlan.mFinal2 = static_cast<uint32_t>(Get(kSirm + u3v::kSiPayloadFinalTransfer2Size, 4));
    if (!lPlan.IsConsistent(1u << kAlignmentLog2) ||
        Get(kSirm + u3v::kSiMaximumLeaderSize, 4) < Get(kSirm + u3v::kSiRequiredLeaderSize, 4) ||
        Get(kSirm + u3v::kSiMaximumTrailerSize, 4) < Get(kSirm + u3v::kSiRequiredTrailerSize, 4))
    {
        return Failure(TN_INVALID_PARAMETER, "the streaming interface registers are inconsistent");
    }
    mPlan = lPlan;
    mFrames.clear();
    mPhase = Phase::Idle;
    mNextBlock = 0;
    mNextCapture = Clock::now();
    return TnResult(TN_OK);
}

void Device::Disable()
{
    mFrames.clear();
    mPhase = Phase::Idle;
}

void Device::Capture(Clock::time_point aNow)
{
    if (!mAcquiring || !IsEnabled() || aNow < mNextCapture)
    {
        return;
    }
    float lRate;
    const uint32_t lBits = static_cast<uint32_t>(Get(kCameraFrameRate, 4));
    memcpy(&lRate, &lBits, sizeof(lRate));
    const double lPeriod = 1.0 / std::max(0.1, std::min(static_cast<double>(lRate), 100000.0));
    const double lBehind = std::chrono::duration<double>(aNow - mNextCapture).count();
    const uint64_t lDue = 1 + static_cast<uint64_t>(lBehind / lPeriod);
    Frame lFrame;
    lFrame.mWidth = static_cast<uint32_t>(Get(kCameraWidth, 4));
    lFrame.mHeight = static_cast<uint32_t>(Get(kCameraHeight, 4));
    lFrame.mPixelFormat = static_cast<uint32_t>(Get(kCameraPixelFormat, 4));
    for (uint64_t lIndex = 0; lIndex < lDue; ++lIndex)
    {
        const uint64_t lBlock = mNextBlock++;
        if (lDue - lIndex > kFrameMemory)
        {
            continue; // pushed out of the device's memory by the later ones
        }
        lFrame.mBlockId = lBlock;
        lFrame.mTimestamp = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                      (mNextCapture + std::chrono::duration<double>(lPeriod * lIndex))
                                                          .time_since_epoch())
                                                      .count());
        mFrames.push_back(lFrame);
        if (mFrames.size() > kFrameMemory)
        {
            mFrames.pop_front();
        }
    }
    mNextCapture += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(lPeriod * lDue));
}

TnResult Device::Transfer(uint8_t *aData, size_t aSize, uint32_t aTimeoutMs, size_t &aReceived)
{
    aReceived = 0;
    std::unique_lock<std::mutex> lLock(mMutex);
    const uint64_t lCancels = mCancels;
    const Clock::time_point lDeadline = Clock::now() + std::chrono::milliseconds(aTimeoutMs);
    for (;;)
    {
        if (!mStreamOpen)
        {
            return Failure(TN_NOT_CONNECTED, "the stream channel is not open");
        }
        if (mCancels != lCancels)
        {
            return TnResult(TN_ABORTED);
        }
        const Clock::time_point lNow = Clock::now();
        Capture(lNow);
        if (mPhase == Phase::Idle && !mFrames.empty())
        {
            mSending = mFrames.front();
            mFrames.pop_front();
            mPhase = Phase::Leader;
            mPayloadSize = LineBytes(mSending.mWidth, mSending.mPixelFormat) * mSending.mHeight;
            mSent = 0;
            mTransfer = 0;
            mPayloadEnded = false;
            mDiscarded = false;
        }
        if (mPhase != Phase::Idle)
        {
            return SendNext(aData, aSize, aReceived);
        }
        if (lNow >= lDeadline)
        {
            return TnResult(TN_TIMEOUT);
        }
        mChanged.wait_until(lLock, mAcquiring && IsEnabled() ? std::min(lDeadline, mNextCapture) : lDeadline);
    }
}

TnResult Device::SendNext(uint8_t *aData, size_t aSize, size_t &aReceived)
{
    uint8_t lUnit[u3v::kImageLeaderSize];
    size_t lLength = 0;
    if (mPhase == Phase::Payload && !mPayloadEnded && mSent < mPayloadSize)
    {
        const uint32_t lPlanned = mPlan.SizeOf(mTransfer);
        if (lPlanned == 0)
        {
            mDiscarded = true; // the transfers carry no more
        }
        else
        {
            const size_t lCount = static_cast<size_t>(std::min<uint64_t>(lPlanned, mPayloadSize - mSent));
            WritePattern(aData, mSent, std::min(lCount, aSize), LineBytes(mSending.mWidth, mSending.mPixelFormat),
                         mSending.mBlockId);
            mSent += lCount;
            ++mTransfer;
            mPayloadEnded = lCount < lPlanned;
            aReceived = std::min(lCount, aSize);
            return lCount > aSize ? Failure(TN_ERR_OVERFLOW, "the device sent more than the transfer takes")
                                  : TnResult(TN_OK);
        }
    }
    if (mPhase == Phase::Leader)
    {
        u3v::Leader lLeader;
        lLeader.mBlockId = mSending.mBlockId;
        lLeader.mTimestamp = mSending.mTimestamp;
        lLeader.mPixelFormat = mSending.mPixelFormat;
        lLeader.mSizeX = mSending.mWidth;
        lLeader.mSizeY = mSending.mHeight;
        lLength = u3v::WriteLeader(lLeader, lUnit, sizeof(lUnit));
        mPhase = Phase::Payload;
    }
    else
    {
        u3v::Trailer lTrailer;
        lTrailer.mBlockId = mSending.mBlockId;
        lTrailer.mStatus = mDiscarded ? u3v::kStatusDataDiscarded : u3v::kStatusSuccess;
        lTrailer.mValidPayloadSize = mSent;
        lTrailer.mHasSizeY = true;
        const uint64_t lLine = LineBytes(mSending.mWidth, mSending.mPixelFormat);
        lTrailer.mSizeY = mDiscarded ? static_cast<uint32_t>(mSent / lLine) : mSending.mHeight;
        lLength = u3v::WriteTrailer(lTrailer, lUnit, sizeof(lUnit));
        mPhase = Phase::Idle;
    }
    aReceived = std::min(lLength, aSize);
    memcpy(aData, lUnit, aReceived);
    return lLength > aSize ? Failure(TN_ERR_OVERFLOW, "the device sent more than the transfer takes")
                           : TnResult(TN_OK);
}
} // namespace

SimulatedU3v::SimulatedU3v() = default;
SimulatedU3v::~SimulatedU3v() = default;

TnResult SimulatedU3v::Find(const std::string &aIdentifier, std::shared_ptr<SimulatedU3v> &aDevice)
{
    static std::mutex *sMutex = new std::mutex;
    static std::map<std::string, std::shared_ptr<SimulatedU3v>> *sDevices =
        new std::map<std::string, std::shared_ptr<SimulatedU3v>>;
    system::TnSimulatedSource lSource;
    TnResult lResult = system::LoadSimulatedDevices(lSource);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    const system::TnSimulatedDeviceRecord *lRecord = nullptr;
    for (const system::TnSimulatedDeviceRecord &lCandidate : lSource.mDevices)
    {
        if (lCandidate.mKind == system::kSimulatedU3V &&
            ("U3V:" + SimulatedKey(lCandidate) == aIdentifier ||
             (!lCandidate.mGUID.empty() && lCandidate.mGUID == aIdentifier)))
        {
            lRecord = &lCandidate;
            break;
        }
    }
    if (lRecord == nullptr)
    {
        return Failure(TN_NOT_FOUND, "no USB3 Vision device " + aIdentifier +
                                         " is attached (this host reaches simulated devices only)");
    }
    const std::string lKey = "U3V:" + SimulatedKey(*lRecord);
    std::lock_guard<std::mutex> lLock(*sMutex);
    std::shared_ptr<SimulatedU3v> &lDevice = (*sDevices)[lKey];
    if (!lDevice)
    {
        std::shared_ptr<Device> lNew = std::make_shared<Device>();
        lResult = lNew->Build(*lRecord);
        if (!lResult.IsOK())
        {
            sDevices->erase(lKey);
            return lResult;
        }
        lDevice = lNew;
    }
    aDevice = lDevice;
    return TnResult(TN_OK);
}
} // namespace device
} // namespace tn
