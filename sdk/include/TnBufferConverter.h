// The buffer converter: pixel-format conversion with Bayer and bi-colour
// interpolation, an optional colour filter and threads of its own.
#ifndef TN_BUFFER_CONVERTER_H
#define TN_BUFFER_CONVERTER_H

#include <stdint.h>

#include "TnBufferConverterRGBFilter.h"
#include "TnExport.h"
#include "TnPixelType.h"
#include "TnResult.h"
#include "TnStreamTypes.h"

class TnBuffer;
class ITnImage;

#ifndef SWIG
namespace tn
{
namespace convert
{
class ConverterCore;
}
} // namespace tn
#endif

/// Converts images from one pixel type into another: the source's pixel type
/// into the pixel type of the destination buffer's image.
///
/// The conversions (``IsConversionSupported`` answers from the same table):
///
/// - ``Mono8``, ``Mono10``, ``Mono12``, ``Mono14``, ``Mono16`` and the packed
///   ``Mono10p``, ``Mono12p``, ``Mono14p``, ``Mono10Packed``, ``Mono12Packed``
///   to ``Mono8`` and ``Mono16``: levels are scaled by powers of two (the
///   significant bits are moved to the top of the output, the lower bits
///   dropped or zero); and to ``RGB8``, ``BGR8``, ``RGBa8`` and ``BGRa8``:
///   the ``Mono8`` level in each colour (alpha 255).
/// - The four Bayer orders in 8, 10, 12, 14 and 16 bits and their packed
///   forms (``p`` and ``Packed``) to ``RGB8``, ``BGR8``, ``RGBa8``, ``BGRa8``
///   and ``Mono8``, interpolated by the Bayer filter: ``TnBayerFilter3X3``
///   (the default) is bilinear interpolation over the 3x3 neighbourhood, each
///   missing colour the rounded average of its nearest sites (edges mirrored);
///   ``TnBayerFilterSimple`` takes each pixel's colours from the 2x2 block
///   that starts at it (at the last row and column, the block that ends
///   there): red and blue as they are, green the rounded average of the two.
/// - ``RGB8``, ``BGR8``, ``RGBa8`` and ``BGRa8`` among themselves (alpha
///   kept, or 255 from a type without it) and to ``Mono8``.
/// - ``YUV422_8_UYVY`` and ``YUV422_8`` (YUYV order) to the four RGB types,
///   by the full-range BT.601 equations (in fixed point, within 1 of them),
///   each chroma pair shared by its two pixels.
/// - ``BiColorRGBG8`` and ``BiColorBGRG8`` (every pixel two bytes: red or
///   blue, alternating from pixel to pixel, then green) to the four RGB
///   types, the missing colour interpolated by the bi-colour filter:
///   ``TnBiColorFilter1X2`` (the default) takes it from the next pixel,
///   ``TnBiColorFilter1X3`` averages the pixels on both sides.
///
/// ``Mono8`` of a colour image is the luminance (77 R + 150 G + 29 B + 128)
/// / 256. The colour filter, when one is set, applies to every conversion of
/// a colour source, before the luminance.
///
/// Large images are converted by up to the converter's number of threads,
/// each taking a band of rows. One conversion runs at a time; a converter may
/// be used from any thread.
class TN_BUFFER_RECEIVE_API TnBufferConverter
{
public:
    /// A converter that uses up to ``aMaxNumberOfThreads`` threads, the
    /// calling one included; 0 or less: one per processor.
    TnBufferConverter(int32_t aMaxNumberOfThreads);

    /// A converter with one thread per processor.
    TnBufferConverter();

    /// Ends the converter's threads.
    virtual ~TnBufferConverter();

    /// Converts the image of ``aSource`` into the pixel type of
    /// ``aDestination``'s image, which takes the source's width, height,
    /// offsets, block ID and times; ``aFlipY`` turns the image upside down.
    ///
    /// A destination already of the source's width, height and pixel type
    /// keeps its paddings; another gets none. A destination whose memory is
    /// too small is reallocated when it owns its memory (or has none) and
    /// ``aReallocIfNeeded`` is true; memory attached to it is never written
    /// past.
    ///
    /// ``TN_OK``; ``TN_INVALID_PARAMETER`` for no source or destination, a
    /// source without an image in memory, a destination that is not an image
    /// buffer or has no pixel type, or a source and destination that share
    /// memory; ``TN_NOT_SUPPORTED`` for a pair of pixel types the converter
    /// does not convert; ``TN_BUFFER_TOO_SMALL`` for a destination too small
    /// that is not to be reallocated; ``TN_NOT_ENOUGH_MEMORY``.
    TnResult Convert(const TnBuffer *aSource, TnBuffer *aDestination, bool aReallocIfNeeded = true,
                     bool aFlipY = false);

    /// Converts an image, as the buffer form does.
    TnResult Convert(const ITnImage *aSource, TnBuffer *aDestination, bool aReallocIfNeeded = true,
                     bool aFlipY = false);

    /// Whether the converter converts images of pixel type ``aSource`` into
    /// pixel type ``aDestination``.
    static bool IsConversionSupported(TnPixelType aSource, TnPixelType aDestination);

    /// The Bayer filter: ``TnBayerFilter3X3`` until set.
    TnBayerFilterType GetBayerFilter() const;

    /// Sets the Bayer filter. ``TN_OK``, or ``TN_INVALID_PARAMETER`` for a
    /// value that names no filter (the filter then unchanged).
    TnResult SetBayerFilter(TnBayerFilterType aFilter);

    /// The bi-colour filter: ``TnBiColorFilter1X2`` until set.
    TnBiColorFilterType GetBiColorFilter() const;

    /// Sets the bi-colour filter. ``TN_OK``, or ``TN_INVALID_PARAMETER`` for
    /// a value that names no filter (the filter then unchanged).
    TnResult SetBiColorFilter(TnBiColorFilterType aFilter);

    /// Applies a copy of ``aFilter``'s gains and offsets to the conversions
    /// that follow; later changes of ``aFilter`` need another call. ``TN_OK``.
    TnResult SetRGBFilter(TnBufferConverterRGBFilter &aFilter);

    /// Stops applying a colour filter. ``TN_OK``.
    TnResult ResetRGBFilter();

    /// The priority of the conversion threads, from 0 (idle) through 3
    /// (normal, the default) to 6 (time critical).
    uint32_t GetConversionThreadsPriority() const;

    /// Sets the priority of the conversion threads besides the calling one
    /// (the scheduler's nice level 19, 10, 5, 0, -5, -10, -20 for 0 to 6).
    /// ``TN_OK``; ``TN_INVALID_PARAMETER`` above 6; ``TN_GENERIC_ERROR`` when
    /// the system refuses the priority (raising it needs privileges), which
    /// then stays as it was.
    TnResult SetConversionThreadsPriority(uint32_t aPriority);

#ifndef SWIG
    TnBufferConverter(const TnBufferConverter &) = delete;
    TnBufferConverter &operator=(const TnBufferConverter &) = delete;

private:
    tn::convert::ConverterCore *mCore;
#endif
};

#endif
