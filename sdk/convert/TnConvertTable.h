// The converter's support table and the row-band conversion that runs each
// entry of it.
#ifndef TN_CONVERT_TABLE_H
#define TN_CONVERT_TABLE_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "TnExport.h"
#include "TnConvertKernels.h"
#include "TnPixelType.h"
#include "TnStreamTypes.h"

namespace tn
{
namespace convert
{
/// How a source stores its samples: bytes, 16-bit little-endian words, the
/// bit stream of the "p" types (least significant bit first), or the GigE
/// Vision packing of two 10- or 12-bit pixels in three bytes.
enum class Packing
{
    Byte,
    Word,
    BitStream,
    Gev10,
    Gev12
};

enum class SourceKind
{
    Mono,
    Bayer,
    Rgb,
    Yuv,
    BiColor
};

struct SourceFormat
{
    TnPixelType mType;
    SourceKind mKind;
    Packing mPacking;
    uint32_t mBits; ///< significant bits of a sample
    /// Bayer: the x parity of the own colour of even rows, plus 2 when that
    /// colour is red; Rgb: its Layout; Yuv: 0 for U Y V Y, 1 for Y U Y V;
    /// BiColor: 0 for red at even pixels, 1 for blue.
    uint32_t mOrder;
};

enum class DestinationKind
{
    Mono8,
    Mono16,
    Colour
};

/// One entry of the support table.
struct Conversion
{
    const SourceFormat *mSource;
    TnPixelType mDestination;
    DestinationKind mDestinationKind;
    Layout mLayout; ///< Colour destinations
};

/// The source format of a pixel type; null for one the converter does not
/// read.
TN_BUFFER_RECEIVE_API const SourceFormat *FindSourceFormat(TnPixelType aType);

/// aCount pixels of a packed row that starts on a byte (Packing::BitStream,
/// Gev10, Gev12) into 16-bit samples, and back. Packing writes the row's
/// bytes whole: the bits of a last byte that no pixel fills are zero.
TN_BUFFER_RECEIVE_API void UnpackPackedRow(const uint8_t *aRow, uint32_t aCount, Packing aPacking, uint32_t aBits, uint16_t *aOut);
TN_BUFFER_RECEIVE_API void PackPackedRow(const uint16_t *aSamples, uint32_t aCount, Packing aPacking, uint32_t aBits, uint8_t *aRow);

/// The support table, in a fixed order.
TN_BUFFER_RECEIVE_API const std::vector<Conversion> &SupportTable();

/// The entry for the pair, or null when the converter does not convert it.
TN_BUFFER_RECEIVE_API const Conversion *FindConversion(TnPixelType aSource, TnPixelType aDestination);

/// A source image in memory.
struct SourceImage
{
    const uint8_t *mData;
    uint32_t mWidth;
    uint32_t mHeight;
    uint16_t mPaddingX;
};

/// What the conversion applies besides the pixel types.
struct ConvertOptions
{
    TnBayerFilterType mBayerFilter = TnBayerFilter3X3;
    TnBiColorFilterType mBiColorFilter = TnBiColorFilter1X2;
    /// The colour filter as a table per colour (red, green, blue) of each
    /// 8-bit level; null for none.
    const uint8_t (*mLookUp)[256] = nullptr;
};

/// Where converted rows go: source row y to row (y - mRowOrigin) of
/// mData, counted from the bottom (row mHeight - 1 - y) when flipped. With
/// mStream, the conversions that have kernels for it store past the caches:
/// for a destination too large to stay in them (ExceedsCaches), whose lines
/// are then not read before they are written.
struct Target
{
    uint8_t *mData;
    uint64_t mStride;
    uint32_t mRowOrigin;
    bool mFlip;
    bool mStream = false;
};

/// Whether a destination of aBytes is too large to stay in the caches.
TN_BUFFER_RECEIVE_API bool ExceedsCaches(uint64_t aBytes);

/// Converts source rows [aFirst, aEnd) of aImage into aTarget.
TN_BUFFER_RECEIVE_API void ConvertRows(const Conversion &aConversion, const SourceImage &aImage, const ConvertOptions &aOptions,
                 const Target &aTarget, uint32_t aFirst, uint32_t aEnd);
} // namespace convert
} // namespace tn

#endif
