// The USB3 Vision stream channel's layout: the leader a device sends before
// each block's payload, the trailer it sends after it, the streaming
// interface registers (SIRM) through which the host sizes its transfers, and
// how those sizes cut a payload into transfers. Every field is
// little-endian, as on the bus. Pure code: the simulated devices build
// leaders and trailers with it, the USB3 Vision stream parses them.
#ifndef TN_U3V_LAYOUT_H
#define TN_U3V_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

#include "TnExport.h"

namespace tn
{
namespace u3v
{
constexpr uint32_t kLeaderMagic = 0x4C563355;  // "U3VL"
constexpr uint32_t kTrailerMagic = 0x54563355; // "U3VT"
constexpr uint16_t kPayloadImage = 0x0001;

/// Trailer status: the block is whole; the device dropped part of it.
constexpr uint16_t kStatusSuccess = 0x0000;
constexpr uint16_t kStatusDataDiscarded = 0xA004;

/// Sizes of the generic leader (magic to payload type) and of the image
/// leader; of the generic trailer (magic to valid payload size) and of the
/// image trailer (with the lines sent).
constexpr size_t kGenericLeaderSize = 20;
constexpr size_t kImageLeaderSize = 52;
constexpr size_t kGenericTrailerSize = 28;
constexpr size_t kImageTrailerSize = 32;

/// The bootstrap registers that lead to the streaming interface: the ABRM's
/// SBRM address, and in the SBRM the stream channel count and the SIRM's
/// address and length.
constexpr uint64_t kAbrmSbrmAddress = 0x01D8;
constexpr uint64_t kSbrmStreamChannelCount = 0x1C;
constexpr uint64_t kSbrmSirmAddress = 0x20;
constexpr uint64_t kSbrmSirmLength = 0x28;

/// The streaming interface registers, as offsets into the SIRM.
enum SirmRegister : uint32_t
{
    kSiInfo = 0x00,                    // bits 31-24: log2 of the transfer size alignment
    kSiControl = 0x04,                 // bit 0: the stream channel is enabled
    kSiRequiredPayloadSize = 0x08,     // 64 bits: the payload of the current configuration
    kSiRequiredLeaderSize = 0x10,
    kSiRequiredTrailerSize = 0x14,
    kSiMaximumLeaderSize = 0x18,       // set by the host
    kSiPayloadTransferSize = 0x1C,     // set by the host
    kSiPayloadTransferCount = 0x20,    // set by the host
    kSiPayloadFinalTransfer1Size = 0x24, // set by the host
    kSiPayloadFinalTransfer2Size = 0x28, // set by the host
    kSiMaximumTrailerSize = 0x2C,      // set by the host
    kSirmLength = 0x30
};
constexpr uint32_t kSiControlEnable = 0x1;

struct Leader
{
    uint64_t mBlockId = 0;
    uint16_t mPayloadType = kPayloadImage;
    uint64_t mTimestamp = 0; // nanoseconds
    uint32_t mPixelFormat = 0;
    uint32_t mSizeX = 0;
    uint32_t mSizeY = 0;
    uint32_t mOffsetX = 0;
    uint32_t mOffsetY = 0;
    uint16_t mPaddingX = 0;
};

struct Trailer
{
    uint64_t mBlockId = 0;
    uint16_t mStatus = kStatusSuccess;
    uint64_t mValidPayloadSize = 0;
    bool mHasSizeY = false; // an image trailer
    uint32_t mSizeY = 0;    // the lines sent
};

/// Writes the leader (an image leader for image payloads, else the generic
/// one): its size, or 0 when aSize cannot take it.
TN_DEVICE_API size_t WriteLeader(const Leader &aLeader, uint8_t *aData, size_t aSize);

/// Reads a leader: false unless aData holds one whole (magic, a size that
/// fits aSize and the payload type's fields).
TN_DEVICE_API bool ParseLeader(const uint8_t *aData, size_t aSize, Leader &aLeader);

/// Writes the trailer (an image trailer when mHasSizeY): its size, or 0 when
/// aSize cannot take it.
TN_DEVICE_API size_t WriteTrailer(const Trailer &aTrailer, uint8_t *aData, size_t aSize);

/// Reads a trailer: false unless aData holds exactly one whole trailer.
TN_DEVICE_API bool ParseTrailer(const uint8_t *aData, size_t aSize, Trailer &aTrailer);

/// How the payload of a block is cut into transfers, as the SIRM's transfer
/// registers say: mCount transfers of mSize bytes, then the two final
/// transfers. A transfer of zero size is skipped.
struct TN_DEVICE_API TransferPlan
{
    uint32_t mSize = 0;
    uint32_t mCount = 0;
    uint32_t mFinal1 = 0;
    uint32_t mFinal2 = 0;

    /// The most payload bytes the plan carries.
    uint64_t Capacity() const;

    /// The size of payload transfer aIndex (counting from 0, zero-size
    /// transfers left out); 0 past the last.
    uint32_t SizeOf(uint64_t aIndex) const;

    /// Whether the sizes are whole multiples of the alignment (a power of
    /// two) and carry at least one byte.
    bool IsConsistent(uint32_t aAlignment) const;
};
} // namespace u3v
} // namespace tn

#endif
