// The GigE Vision control protocol (GVCP): constants, bootstrap register
// addresses, and the encoding and decoding of every command and
// acknowledgement the SDK sends or answers.
//
// Encoders append whole packets (header and payload) to a byte vector.
// Decoders take a datagram as it came from the network and never trust it:
// every length is checked against the bytes that are really there, and a
// decoder that returns false has left its output in an unspecified but valid
// state. All fields are big-endian; addresses are host-order uint32_t.
#ifndef TN_GVCP_H
#define TN_GVCP_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "TnGevExport.h"
#include "TnResult.h"

namespace tn
{
namespace gev
{
constexpr uint16_t kGvcpPort = 3956;
constexpr uint8_t kGvcpKey = 0x42;
constexpr size_t kGvcpHeaderSize = 8;

// The largest command or acknowledgement payload a device has to take: what a
// 576-byte datagram leaves after the IP, UDP and control headers.
constexpr size_t kGvcpMaxPayload = 540;
// The largest memory block moved by one read or write memory command.
constexpr size_t kGvcpMaxMemoryChunk = 512;
constexpr size_t kGvcpMaxReadRegisters = kGvcpMaxPayload / 4;
constexpr size_t kGvcpMaxWriteRegisters = kGvcpMaxPayload / 8;

// Command flags.
constexpr uint8_t kGvcpFlagAcknowledge = 0x01;
constexpr uint8_t kGvcpFlagDiscoveryBroadcastAck = 0x10; // on discovery: the answer may be broadcast
constexpr uint8_t kGvcpFlagExtendedIds = 0x10;           // on packet resend and events: 64-bit block ids
constexpr uint8_t kGvcpFlagActionScheduled = 0x80;       // on action: an action time follows

// Command and acknowledgement codes.
enum : uint16_t
{
    kGvcpDiscoveryCmd = 0x0002,
    kGvcpDiscoveryAck = 0x0003,
    kGvcpForceIpCmd = 0x0004,
    kGvcpForceIpAck = 0x0005,
    kGvcpPacketResendCmd = 0x0040,
    kGvcpReadRegCmd = 0x0080,
    kGvcpReadRegAck = 0x0081,
    kGvcpWriteRegCmd = 0x0082,
    kGvcpWriteRegAck = 0x0083,
    kGvcpReadMemCmd = 0x0084,
    kGvcpReadMemAck = 0x0085,
    kGvcpWriteMemCmd = 0x0086,
    kGvcpWriteMemAck = 0x0087,
    kGvcpPendingAck = 0x0089,
    kGvcpEventCmd = 0x00C0,
    kGvcpEventAck = 0x00C1,
    kGvcpEventDataCmd = 0x00C2,
    kGvcpEventDataAck = 0x00C3,
    kGvcpActionCmd = 0x0100,
    kGvcpActionAck = 0x0101
};

// Status codes of acknowledgements (and of stream packets).
enum : uint16_t
{
    kGvcpStatusSuccess = 0x0000,
    kGvcpStatusPacketResend = 0x0100,
    kGvcpStatusNotImplemented = 0x8001,
    kGvcpStatusInvalidParameter = 0x8002,
    kGvcpStatusInvalidAddress = 0x8003,
    kGvcpStatusWriteProtect = 0x8004,
    kGvcpStatusBadAlignment = 0x8005,
    kGvcpStatusAccessDenied = 0x8006,
    kGvcpStatusBusy = 0x8007,
    kGvcpStatusLocalProblem = 0x8008,
    kGvcpStatusMessageMismatch = 0x8009,
    kGvcpStatusInvalidProtocol = 0x800A,
    kGvcpStatusNoMessage = 0x800B,
    kGvcpStatusPacketUnavailable = 0x800C,
    kGvcpStatusDataOverrun = 0x800D,
    kGvcpStatusInvalidHeader = 0x800E,
    kGvcpStatusWrongConfig = 0x800F,
    kGvcpStatusPacketNotYetAvailable = 0x8010,
    kGvcpStatusPacketAndPreviousRemoved = 0x8011,
    kGvcpStatusPacketRemoved = 0x8012,
    kGvcpStatusError = 0x8FFF
};

// Bootstrap registers.
enum : uint32_t
{
    kRegVersion = 0x0000,
    kRegDeviceMode = 0x0004,
    kRegMacHigh = 0x0008,
    kRegMacLow = 0x000C,
    kRegSupportedIPConfig = 0x0010,
    kRegCurrentIPConfig = 0x0014,
    kRegCurrentIP = 0x0024,
    kRegCurrentSubnetMask = 0x0034,
    kRegCurrentGateway = 0x0044,
    kRegManufacturerName = 0x0048,
    kRegModelName = 0x0068,
    kRegDeviceVersion = 0x0088,
    kRegManufacturerInfo = 0x00A8,
    kRegSerialNumber = 0x00D8,
    kRegUserDefinedName = 0x00E8,
    kRegFirstUrl = 0x0200,
    kRegSecondUrl = 0x0400,
    kRegNumberOfInterfaces = 0x0600,
    kRegPersistentIP = 0x064C,
    kRegPersistentSubnetMask = 0x065C,
    kRegPersistentGateway = 0x066C,
    kRegNumberOfMessageChannels = 0x0900,
    kRegNumberOfStreamChannels = 0x0904,
    kRegGvcpCapability = 0x0934,
    kRegHeartbeatTimeout = 0x0938,
    kRegTimestampTickFrequencyHigh = 0x093C,
    kRegTimestampTickFrequencyLow = 0x0940,
    kRegTimestampControl = 0x0944,
    kRegTimestampValueHigh = 0x0948,
    kRegTimestampValueLow = 0x094C,
    kRegDiscoveryAckDelay = 0x0950,
    kRegGvcpConfiguration = 0x0954,
    kRegPendingTimeout = 0x0958,
    kRegControlChannelPrivilege = 0x0A00,
    kRegMessageChannelPort = 0x0B00,
    kRegMessageChannelDestination = 0x0B10,
    kRegMessageChannelTimeout = 0x0B14,
    kRegMessageChannelRetryCount = 0x0B18,
    kRegMessageChannelSourcePort = 0x0B1C,
    kRegStreamChannelBase = 0x0D00, // one block of kRegStreamChannelStride bytes per channel
    kRegStreamChannelStride = 0x0040,
    kRegStreamChannelPort = 0x00,          // offsets inside a stream channel block
    kRegStreamChannelPacketSize = 0x04,
    kRegStreamChannelPacketDelay = 0x08,
    kRegStreamChannelDestination = 0x18,
    kRegStreamChannelSourcePort = 0x1C,
    kRegStreamChannelCapability = 0x20,
    kRegStreamChannelConfiguration = 0x24
};

// Sizes of the bootstrap text fields.
enum : size_t
{
    kManufacturerNameSize = 32,
    kModelNameSize = 32,
    kDeviceVersionSize = 32,
    kManufacturerInfoSize = 48,
    kSerialNumberSize = 16,
    kUserDefinedNameSize = 16,
    kUrlSize = 512,
    kDiscoveryDataSize = 0xF8 // the bootstrap block a discovery acknowledgement carries
};

// Register bit fields.
constexpr uint32_t kDeviceModeBigEndian = 0x80000000u;
constexpr uint32_t kDeviceModeClassShift = 28;
constexpr uint32_t kDeviceModeClassMask = 0x7;
constexpr uint32_t kDeviceModeCharacterSetMask = 0xFF;
constexpr uint32_t kIPConfigPersistent = 0x00000001u;
constexpr uint32_t kIPConfigDhcp = 0x00000002u;
constexpr uint32_t kIPConfigLla = 0x00000004u;
constexpr uint32_t kIPConfigPauseGeneration = 0x40000000u;
constexpr uint32_t kIPConfigPauseReception = 0x80000000u;
constexpr uint32_t kCapabilityConcatenation = 0x00000001u;
constexpr uint32_t kCapabilityWriteMemory = 0x00000002u;
constexpr uint32_t kCapabilityPacketResend = 0x00000004u;
constexpr uint32_t kCapabilityEvent = 0x00000008u;
constexpr uint32_t kCapabilityEventData = 0x00000010u;
constexpr uint32_t kCapabilityPendingAck = 0x00000020u;
constexpr uint32_t kCapabilityUserDefinedName = 0x80000000u;
constexpr uint32_t kPrivilegeExclusive = 0x00000001u;
constexpr uint32_t kPrivilegeControl = 0x00000002u;
constexpr uint32_t kPrivilegeSwitchoverEnable = 0x00000004u;
constexpr uint32_t kPacketSizeFireTestPacket = 0x80000000u;
constexpr uint32_t kPacketSizeDoNotFragment = 0x40000000u;
constexpr uint32_t kPacketSizeBigEndian = 0x20000000u;
constexpr uint32_t kPacketSizeMask = 0x0000FFFFu;

/// The device classes of the device mode register.
enum : uint32_t
{
    kDeviceClassTransmitter = 0,
    kDeviceClassReceiver = 1,
    kDeviceClassTransceiver = 2,
    kDeviceClassPeripheral = 3
};

struct TnGvcpCommandHeader
{
    uint8_t mFlags = 0;
    uint16_t mCommand = 0;
    uint16_t mLength = 0; // payload bytes
    uint16_t mRequestId = 0;
};

struct TnGvcpAckHeader
{
    uint16_t mStatus = 0;
    uint16_t mAcknowledge = 0;
    uint16_t mLength = 0; // payload bytes
    uint16_t mAckId = 0;
};

/// A decoded datagram: its header and where its payload lies in the datagram.
struct TnGvcpCommand
{
    TnGvcpCommandHeader mHeader;
    const uint8_t *mPayload = nullptr;
    size_t mPayloadSize = 0;
};

struct TnGvcpAck
{
    TnGvcpAckHeader mHeader;
    const uint8_t *mPayload = nullptr;
    size_t mPayloadSize = 0;
};

/// The bootstrap block a device announces in its discovery acknowledgement.
/// Text fields are the bytes up to the first NUL (at most the field's size).
struct TN_GEV_API TnGvcpDeviceInfo
{
    uint16_t mVersionMajor = 0;
    uint16_t mVersionMinor = 0;
    uint32_t mDeviceMode = 0;
    uint8_t mMac[6] = {0, 0, 0, 0, 0, 0};
    uint32_t mSupportedIPConfig = 0;
    uint32_t mCurrentIPConfig = 0;
    uint32_t mCurrentIP = 0;
    uint32_t mSubnetMask = 0;
    uint32_t mDefaultGateway = 0;
    std::string mManufacturerName;
    std::string mModelName;
    std::string mDeviceVersion;
    std::string mManufacturerInfo;
    std::string mSerialNumber;
    std::string mUserDefinedName;

    /// major << 16 | minor.
    uint32_t GetVersion() const
    {
        return (static_cast<uint32_t>(mVersionMajor) << 16) | mVersionMinor;
    }

    bool IsBigEndian() const
    {
        return (mDeviceMode & kDeviceModeBigEndian) != 0;
    }

    /// kDeviceClassTransmitter to kDeviceClassPeripheral (or a reserved value).
    uint32_t GetDeviceClass() const
    {
        return (mDeviceMode >> kDeviceModeClassShift) & kDeviceModeClassMask;
    }

    uint32_t GetCharacterSet() const
    {
        return mDeviceMode & kDeviceModeCharacterSetMask;
    }

    /// The MAC address in the low 48 bits.
    uint64_t GetMacValue() const;
    void SetMacValue(uint64_t aMac);
};

/// Force IP: the device with the given MAC takes the given configuration.
struct TnGvcpForceIp
{
    uint64_t mMac = 0; // low 48 bits
    uint32_t mIP = 0;
    uint32_t mSubnetMask = 0;
    uint32_t mGateway = 0;
};

/// Packet resend: ask the device to send packets mFirstPacketId to
/// mLastPacketId of a block again. Standard ids carry a 16-bit block id and
/// 24-bit packet ids; extended ids a 64-bit block id and 32-bit packet ids.
struct TnGvcpPacketResend
{
    bool mExtendedIds = false;
    uint16_t mStreamChannel = 0;
    uint64_t mBlockId = 0;
    uint32_t mFirstPacketId = 0;
    uint32_t mLastPacketId = 0;
};

/// One event of an event command (standard ids).
struct TnGvcpEvent
{
    uint16_t mEventId = 0;
    uint16_t mStreamChannel = 0;
    uint16_t mBlockId = 0;
    uint64_t mTimestamp = 0;
};

/// Action command.
struct TnGvcpAction
{
    uint32_t mDeviceKey = 0;
    uint32_t mGroupKey = 0;
    uint32_t mGroupMask = 0;
    bool mScheduled = false;
    uint64_t mActionTime = 0; // when mScheduled
};

// Headers. Decoders accept a datagram longer than header plus length (the
// excess is ignored) but never a shorter one.
TN_GEV_API void AppendCommandHeader(std::vector<uint8_t> &aPacket, const TnGvcpCommandHeader &aHeader);
TN_GEV_API void AppendAckHeader(std::vector<uint8_t> &aPacket, const TnGvcpAckHeader &aHeader);
TN_GEV_API bool DecodeCommand(const uint8_t *aData, size_t aSize, TnGvcpCommand &aCommand);
TN_GEV_API bool DecodeAck(const uint8_t *aData, size_t aSize, TnGvcpAck &aAck);

/// The acknowledgement code that answers a command code.
inline uint16_t AckCodeFor(uint16_t aCommand)
{
    return static_cast<uint16_t>(aCommand + 1);
}

/// The request id that follows aId: ids run from 1 to 0xFFFF, never 0.
inline uint16_t NextRequestId(uint16_t aId)
{
    return aId == 0xFFFF ? 1 : static_cast<uint16_t>(aId + 1);
}

// Whole commands (header and payload).
TN_GEV_API std::vector<uint8_t> BuildDiscoveryCmd(uint16_t aRequestId, bool aAllowBroadcastAck = false);
TN_GEV_API std::vector<uint8_t> BuildForceIpCmd(uint16_t aRequestId, const TnGvcpForceIp &aForceIp);
TN_GEV_API std::vector<uint8_t> BuildReadRegCmd(uint16_t aRequestId, const uint32_t *aAddresses, size_t aCount);
TN_GEV_API std::vector<uint8_t> BuildWriteRegCmd(uint16_t aRequestId, const uint32_t *aAddresses,
                                                 const uint32_t *aValues, size_t aCount);
TN_GEV_API std::vector<uint8_t> BuildReadMemCmd(uint16_t aRequestId, uint32_t aAddress, uint16_t aCount);
TN_GEV_API std::vector<uint8_t> BuildWriteMemCmd(uint16_t aRequestId, uint32_t aAddress, const uint8_t *aData,
                                                 size_t aSize);
TN_GEV_API std::vector<uint8_t> BuildPacketResendCmd(uint16_t aRequestId, const TnGvcpPacketResend &aResend);
TN_GEV_API std::vector<uint8_t> BuildEventCmd(uint16_t aRequestId, const std::vector<TnGvcpEvent> &aEvents,
                                              bool aAcknowledge = true);
TN_GEV_API std::vector<uint8_t> BuildEventDataCmd(uint16_t aRequestId, const TnGvcpEvent &aEvent, const uint8_t *aData,
                                                  size_t aSize, bool aAcknowledge = true);
TN_GEV_API std::vector<uint8_t> BuildActionCmd(uint16_t aRequestId, const TnGvcpAction &aAction,
                                               bool aAcknowledge = true);

// Command payloads, as a responder takes them apart.
TN_GEV_API bool DecodeForceIpCmd(const TnGvcpCommand &aCommand, TnGvcpForceIp &aForceIp);
TN_GEV_API bool DecodeReadRegCmd(const TnGvcpCommand &aCommand, std::vector<uint32_t> &aAddresses);
TN_GEV_API bool DecodeWriteRegCmd(const TnGvcpCommand &aCommand, std::vector<std::pair<uint32_t, uint32_t>> &aWrites);
TN_GEV_API bool DecodeReadMemCmd(const TnGvcpCommand &aCommand, uint32_t &aAddress, uint16_t &aCount);
TN_GEV_API bool DecodeWriteMemCmd(const TnGvcpCommand &aCommand, uint32_t &aAddress, const uint8_t *&aData,
                                  size_t &aSize);
TN_GEV_API bool DecodePacketResendCmd(const TnGvcpCommand &aCommand, TnGvcpPacketResend &aResend);
TN_GEV_API bool DecodeEventCmd(const TnGvcpCommand &aCommand, std::vector<TnGvcpEvent> &aEvents);
TN_GEV_API bool DecodeEventDataCmd(const TnGvcpCommand &aCommand, TnGvcpEvent &aEvent, const uint8_t *&aData,
                                   size_t &aSize);
TN_GEV_API bool DecodeActionCmd(const TnGvcpCommand &aCommand, TnGvcpAction &aAction);

// Whole acknowledgements.
TN_GEV_API std::vector<uint8_t> BuildAck(uint16_t aStatus, uint16_t aAcknowledge, uint16_t aAckId,
                                         const uint8_t *aPayload, size_t aSize);
TN_GEV_API std::vector<uint8_t> BuildDiscoveryAck(uint16_t aAckId, const TnGvcpDeviceInfo &aInfo);
TN_GEV_API std::vector<uint8_t> BuildReadRegAck(uint16_t aStatus, uint16_t aAckId, const uint32_t *aValues,
                                                size_t aCount);
TN_GEV_API std::vector<uint8_t> BuildWriteRegAck(uint16_t aStatus, uint16_t aAckId, uint16_t aIndex);
TN_GEV_API std::vector<uint8_t> BuildReadMemAck(uint16_t aStatus, uint16_t aAckId, uint32_t aAddress,
                                                const uint8_t *aData, size_t aSize);
TN_GEV_API std::vector<uint8_t> BuildWriteMemAck(uint16_t aStatus, uint16_t aAckId, uint16_t aIndex);
TN_GEV_API std::vector<uint8_t> BuildPendingAck(uint16_t aAckId, uint16_t aMilliseconds);

// Acknowledgement payloads, as a client takes them apart. Each checks the
// acknowledgement code; none checks the status, which the caller judges.
TN_GEV_API bool DecodeDiscoveryAck(const TnGvcpAck &aAck, TnGvcpDeviceInfo &aInfo);
TN_GEV_API bool DecodeReadRegAck(const TnGvcpAck &aAck, std::vector<uint32_t> &aValues);
TN_GEV_API bool DecodeWriteRegAck(const TnGvcpAck &aAck, uint16_t &aIndex);
TN_GEV_API bool DecodeReadMemAck(const TnGvcpAck &aAck, uint32_t &aAddress, const uint8_t *&aData, size_t &aSize);
TN_GEV_API bool DecodeWriteMemAck(const TnGvcpAck &aAck, uint16_t &aIndex);
TN_GEV_API bool DecodePendingAck(const TnGvcpAck &aAck, uint16_t &aMilliseconds);

/// The bootstrap block (kDiscoveryDataSize bytes) of a device description.
TN_GEV_API std::vector<uint8_t> EncodeDeviceInfo(const TnGvcpDeviceInfo &aInfo);
/// Reads a device description from the first kDiscoveryDataSize bytes of a
/// bootstrap block; false when fewer bytes are given.
TN_GEV_API bool DecodeDeviceInfo(const uint8_t *aData, size_t aSize, TnGvcpDeviceInfo &aInfo);

/// The name of a status code, such as "GEV_STATUS_ACCESS_DENIED"; "unknown
/// status" for codes it does not know.
TN_GEV_API const char *GetStatusName(uint16_t aStatus);
/// TN_OK for success, else the nearest result code with a description that
/// names aWhat, the status and its code.
TN_GEV_API TnResult StatusToResult(uint16_t aStatus, const char *aWhat);

} // namespace gev
} // namespace tn

#endif
