// The compressed image format of the encoding TnEncodingPTC1.
//
// A compressed buffer is, all numbers little-endian:
//
//   header, 80 bytes:
//      0  "PTC1"                   40  mode (u16)
//      4  version 1 (u16)          42  band count (u16)
//      6  header size 80 (u16)     44  rows per band (bytes per band in the
//      8  pixel type (u32)             bytes mode) (u32)
//     12  width (u32)              48  block ID (u64)
//     16  height (u32)             56  timestamp (u64)
//     20  offset X (u32)           64  checksum of the image: of the bands'
//     24  offset Y (u32)               checksums, in order (u64)
//     28  padding X (u16)          72  0 (u32)
//     30  padding Y (u16)          76  checksum of bytes 0-75, its low 32
//     32  image size (u32)             bits (u32)
//     36  bytes after the header (u32)
//   band table, 16 bytes a band: compressed size (u32), stream size (u32),
//      checksum of the band's image bytes (u64)
//   the bands' zstd frames, in order.
//
// The mode follows from the pixel type and geometry, or is the bytes mode. In the row modes a band
// holds whole rows; its stream is one predictor number per row, the rows'
// residuals (for 16-bit samples the low bytes of the band, then the high
// bytes), then each row's padding bytes and, in the last band, the image's
// padding Y. A row's samples are predicted from those of the rows before it
// in the band (two rows before for Bayer images, so that each colour plane
// is predicted from itself) and from the samples before it in the row (two
// before for Bayer images, one pixel before for several components); RGB
// images are predicted after green is taken from red and blue. The bytes
// mode compresses the image bytes as they are, in bands of bytes.
//
// The checksum is XXH64 (seed 0).
#ifndef TN_PTC1_H
#define TN_PTC1_H

#include <stdint.h>

#include <memory>
#include <vector>

#include "TnExport.h"
#include "TnConvertBuffers.h"
#include "TnPixelType.h"
#include "TnResult.h"
#include "TnWorkerPool.h"

namespace tn
{
namespace convert
{
namespace ptc1
{
constexpr uint32_t kHeaderSize = 80;
constexpr uint32_t kBandEntrySize = 16;

struct Header
{
    ImageInfo mImage;
    uint32_t mImageSize = 0;
    uint32_t mPayloadSize = 0;
    uint16_t mMode = 0;
    uint16_t mBandCount = 0;
    uint32_t mBandUnit = 0;
    uint64_t mChecksum = 0;
};

enum class HeaderState
{
    NotCompressed, ///< too short for the signature, or another signature
    Corrupted,     ///< the signature, and a header that is cut short or wrong
    Valid
};

/// Reads and checks the header at the start of aSize bytes: its checksum,
/// version and sizes, and that its geometry, mode and bands agree with each
/// other. Whether the bytes after it are all there is the decoder's to see.
TN_BUFFER_RECEIVE_API HeaderState ReadHeader(const uint8_t *aData, uint64_t aSize, Header &aHeader);

/// Whether images of the pixel type can be compressed: any known pixel type
/// with a bit count.
TN_BUFFER_RECEIVE_API bool CanEncode(TnPixelType aPixelType);

class TN_BUFFER_RECEIVE_API Encoder
{
public:
    Encoder();
    ~Encoder();

    Encoder(const Encoder &) = delete;
    Encoder &operator=(const Encoder &) = delete;

    /// The most bytes the compressed image can take; 0 when the pixel type
    /// or geometry cannot be compressed.
    static uint64_t Bound(const ImageInfo &aImage);

    /// Compresses the image at aPixels (its image size of bytes) into aOut,
    /// at most aCapacity bytes. TN_BUFFER_TOO_SMALL when they do not suffice,
    /// TN_NOT_SUPPORTED for an image that cannot be compressed,
    /// TN_NOT_ENOUGH_MEMORY.
    TnResult Encode(const ImageInfo &aImage, const uint8_t *aPixels, uint8_t *aOut, uint64_t aCapacity,
                    uint64_t &aWritten);

private:
    struct State;
    std::unique_ptr<State> mState;
};

class TN_BUFFER_RECEIVE_API Decoder
{
public:
    Decoder();
    ~Decoder();

    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    /// Decompresses aData (aSize bytes, whose header aHeader is valid) into
    /// aOut, aHeader.mImageSize bytes, the bands shared out over aPool's
    /// workers. TN_IMAGE_ERROR when a band does not decompress to its size or
    /// its checksum; TN_NOT_ENOUGH_MEMORY.
    TnResult Decode(const Header &aHeader, const uint8_t *aData, uint64_t aSize, uint8_t *aOut, WorkerPool &aPool);

private:
    struct Slot;
    std::vector<std::unique_ptr<Slot>> mSlots;
};
} // namespace ptc1
} // namespace convert
} // namespace tn

#endif
