// The software device's own registers and standard GenICam features: the
// GigE Vision bootstrap registers, the registers behind the features a client
// needs (Width, Height, PixelFormat, PayloadSize, AcquisitionMode/Start/Stop,
// DeviceReset, TLParamsLocked, GevSCPSPacketSize, timestamps, Device* identity, Gev*
// bootstrap features, user sets, chunk control), and the description that
// joins them to the program's features.
//
// How the device uses it while it starts, on the thread that calls Start:
//   1. CreateDeviceRegisters: the bootstrap and standard registers, with the
//      device's own event sink on each (it tells them apart by address or
//      through TnStandardRegisters);
//   2. the program's register callbacks, with a TnRegisterFactory;
//   3. the program's feature callbacks, with a TnGenApiFactory (SetOwner(-1)
//      for the event sink, SetOwner(i) for source i);
//   4. the sources' answers (geometry, pixel types, chunks, packet size)
//      into TnStandardConfig::mSources;
//   5. BuildDeviceDescription: initial register values, the standard
//      features, the GenICam XML (a failure names the feature at fault), the
//      XML in device memory and the first URL pointing at it;
//   6. TnUserSets::SaveDefault, TnRegisterMap::SetRunning(true), and Close
//      on both factories.
#ifndef TN_STANDARD_FEATURES_H
#define TN_STANDARD_FEATURES_H

#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "TnGenApiFactory.h"
#include "TnPixelType.h"
#include "TnRegisterMap.h"
#include "TnUserSets.h"

namespace tn
{
namespace softdevice
{
/// What a source answered while the device started.
struct TnSourceDescription
{
    uint32_t mWidth = 640;
    uint32_t mHeight = 480;
    uint32_t mOffsetX = 0;
    uint32_t mOffsetY = 0;
    uint32_t mWidthMin = 1;
    uint32_t mWidthMax = 640;
    uint32_t mWidthInc = 1;
    uint32_t mHeightMin = 1;
    uint32_t mHeightMax = 480;
    uint32_t mHeightInc = 1;
    TnPixelType mPixelType = TnPixelMono8;
    std::vector<TnPixelType> mPixelTypes;                  // GetSupportedPixelType from index 0
    std::vector<std::pair<uint32_t, std::string>> mChunks; // GetSupportedChunk: identifier and name
    bool mChunkModeActive = false;
    uint32_t mChunksSize = 0;    // GetChunksSize
    uint32_t mPayloadSize = 0;   // GetPayloadSize: 0 lets the device compute it
    uint32_t mPacketSizeMax = 9000;
    int32_t mScanType = 0;       // TnScanTypeArea
};

/// The device's identity and network settings (bootstrap registers).
struct TnDeviceIdentity
{
    std::string mManufacturerName = "Tarn";
    std::string mModelName = "SoftDevice";
    std::string mDeviceVersion = "7.0";
    std::string mManufacturerInfo;
    std::string mSerialNumber = "0";
    std::string mUserDefinedName;
    uint64_t mMacAddress = 0;     // low 48 bits
    uint32_t mIPAddress = 0;      // host order
    uint32_t mSubnetMask = 0;
    uint32_t mGateway = 0;
    uint32_t mGevVersion = 0x00020002;
    uint32_t mGvcpCapability = 0; // 0: user-defined name, write memory, packet resend, events, pending answer
    uint64_t mTimestampTickFrequency = 1000000000;
    uint32_t mHeartbeatTimeout = 3000;
};

/// The description's identity: the device's own until the program changes it.
struct TnDescriptionInfo : genicam::DescriptionInfo
{
    TnDescriptionInfo()
    {
        mModelName = "SoftDevice";
        mVendorName = "Tarn";
        mToolTip = "Software GigE Vision device";
        mProductGuid = "7A1E5D30-0000-4000-8000-000000000001";
        mVersionGuid = "7A1E5D30-0000-4000-8000-000000000002";
    }
};

struct TnStandardConfig
{
    TnDeviceIdentity mIdentity;
    std::vector<TnSourceDescription> mSources; // one per stream channel; the count is fixed by step 1
    uint32_t mUserSetCount = 0;
};

/// The registers of one source (and of its stream channel).
struct TnSourceRegisters
{
    TnRegister *mWidth = nullptr;
    TnRegister *mHeight = nullptr;
    TnRegister *mOffsetX = nullptr;
    TnRegister *mOffsetY = nullptr;
    TnRegister *mPixelFormat = nullptr;
    TnRegister *mPayloadSize = nullptr;
    TnRegister *mWidthMax = nullptr;
    TnRegister *mHeightMax = nullptr;
    TnRegister *mScanType = nullptr;
    TnRegister *mAcquisitionMode = nullptr;  // 0 Continuous, 1 SingleFrame, 2 MultiFrame
    TnRegister *mAcquisitionStart = nullptr; // self-clearing command
    TnRegister *mAcquisitionStop = nullptr;  // self-clearing command
    TnRegister *mAcquisitionFrameCount = nullptr;
    TnRegister *mChunkModeActive = nullptr;
    TnRegister *mChunkSelector = nullptr;    // the chunk's index in mChunkIds
    TnRegister *mChunkEnable = nullptr;      // byte array: 4 bytes (0 or 1) per chunk index
    std::vector<uint32_t> mChunkIds;         // chunk index -> chunk identifier (step 5)
    // Stream channel bootstrap registers (0x0D00 + 0x40 * channel).
    TnRegister *mStreamPort = nullptr;       // SCP
    TnRegister *mPacketSize = nullptr;       // SCPS
    TnRegister *mPacketDelay = nullptr;      // SCPD
    TnRegister *mDestination = nullptr;      // SCDA
    TnRegister *mSourcePort = nullptr;       // SCSP
    TnRegister *mCapability = nullptr;       // SCC
    TnRegister *mConfiguration = nullptr;    // SCCFG
    TnRegister *mStreamProtocol = nullptr;   // 0 GVSP, 1 RTP; only with RTP selectable
    // A GenDC source's, on a device with GenDC enabled: 0 Off, 1 On.
    TnRegister *mGenDCStreamingMode = nullptr;
};

struct TnStandardRegisters
{
    std::vector<TnSourceRegisters> mSources;
    TnRegister *mTLParamsLocked = nullptr;
    TnRegister *mSourceSelector = nullptr;
    TnRegister *mUserSetSelector = nullptr;
    TnRegister *mUserSetLoad = nullptr;    // self-clearing command
    TnRegister *mUserSetSave = nullptr;    // self-clearing command
    TnRegister *mUserSetDefault = nullptr;
    TnRegister *mDeviceReset = nullptr;    // self-clearing command
    TnRegister *mFirstUrl = nullptr;
    TnRegister *mUserDefinedName = nullptr;
    TnRegister *mHeartbeatTimeout = nullptr;
    TnRegister *mTimestampControl = nullptr;
    TnRegister *mTimestampValueHigh = nullptr;
    TnRegister *mTimestampValueLow = nullptr;
    TnRegister *mControlChannelPrivilege = nullptr;
    TnRegister *mMessageChannelPort = nullptr;
    TnRegister *mMessageChannelDestination = nullptr;
    TnRegister *mXml = nullptr; // step 5
};

/// Where the device keeps its description and its own registers.
constexpr uint32_t kDeviceRegisters = kDeviceRangeBegin;               // device-wide block
constexpr uint32_t kSourceRegisters = kDeviceRangeBegin + 0x10000;      // one block per source
constexpr uint32_t kSourceRegisterStride = 0x1000;
constexpr uint32_t kGenDCStreamingModeOffset = 0x40; // in a source's block
constexpr uint32_t kMaxChunks = 64;
constexpr uint32_t kXmlAddress = kDeviceRangeBegin + 0x01000000;
constexpr uint32_t kMaxSources = 256;

/// Step 1: adds the bootstrap and standard registers for aSourceCount
/// sources to aMap, with aDeviceSink (may be null) on each, and writes the
/// identity into them. With aRtp each source also has its stream protocol
/// register (RTP to begin with).
TnResult CreateDeviceRegisters(TnRegisterMap &aMap, const TnDeviceIdentity &aIdentity, size_t aSourceCount,
                               ITnRegisterEventSink *aDeviceSink, TnStandardRegisters &aRegisters, bool aRtp = false);

/// Step 5: writes the sources' initial values, builds the description from
/// the standard features and aFactory's, and publishes it. On failure aXml
/// holds what could be written (empty when the description itself failed).
TnResult BuildDeviceDescription(TnRegisterMap &aMap, const TnStandardConfig &aConfig, TnStandardRegisters &aRegisters,
                                TnGenApiFactory &aFactory, const TnDescriptionInfo &aInfo, std::string &aXml);

/// The standard features alone (for BuildDeviceDescription and tests).
std::vector<FeatureSpec> StandardFeatures(const TnStandardConfig &aConfig, const TnStandardRegisters &aRegisters);

/// The payload size of a source: its own answer, else width x height at the
/// pixel type's bits, with the chunks and the image chunk's tag when chunk
/// mode is active.
uint32_t ComputePayloadSize(const TnSourceDescription &aSource);

/// The user-set commands: a sink for the UserSetLoad and UserSetSave
/// registers that loads or saves the set UserSetSelector names before the
/// write completes, so that a failure reaches the client as an error status.
///
/// The device adds it as a sink of mUserSetLoad and mUserSetSave. aNotify,
/// when set, is called before and after each save or load (aSave, aDone,
/// the set's index), for the device's user-set notification.
class TnUserSetControl final : public ITnRegisterEventSink
{
public:
    using Notify = std::function<void(bool aSave, bool aDone, uint32_t aIndex)>;

    TnUserSetControl(TnUserSets &aUserSets, const TnStandardRegisters &aRegisters, Notify aNotify = Notify());
    TnResult PreWrite(ITnRegister *aRegister) override;

private:
    TnUserSets &mUserSets;
    const TnStandardRegisters &mRegisters;
    Notify mNotify;
};
} // namespace softdevice
} // namespace tn

#endif
