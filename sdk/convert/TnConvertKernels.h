// The row kernels of the converter and of the compression codec. They are
// compiled once for the processor baseline and, on x86-64, once more for
// AVX2; GetKernels picks the set the processor runs.
#ifndef TN_CONVERT_KERNELS_H
#define TN_CONVERT_KERNELS_H

#include <stdint.h>

#include "TnExport.h"

namespace tn
{
namespace convert
{
/// The 8-bit colour layouts the converter writes.
enum Layout
{
    kLayoutRGB8,
    kLayoutBGR8,
    kLayoutRGBa8,
    kLayoutBGRa8,
    kLayoutCount
};

/// Bytes per pixel and the byte of each colour in a pixel (-1: none).
struct LayoutInfo
{
    uint32_t mBytes;
    int mRed;
    int mGreen;
    int mBlue;
    int mAlpha;
};

constexpr LayoutInfo kLayouts[kLayoutCount] = {
    {3, 0, 1, 2, -1}, {3, 2, 1, 0, -1}, {4, 0, 1, 2, 3}, {4, 2, 1, 0, 3}};

/// The codec's four predictors of a sample from its left neighbour a, the
/// one above b and the one above left c (each 0 where there is none): a, b,
/// a + b - c and a + (b - c) / 2 (rounded down).
constexpr uint32_t kPredictorCount = 4;

struct Kernels
{
    /// 8-bit Bayer, bilinear: pixels [aBegin, aEnd) of aRow, with the rows
    /// above and below; 1 <= aBegin and aEnd < width. The row's own colour
    /// (red for index 1 of the second dimension, blue for 0) lies where
    /// x % 2 == aSiteParity, green elsewhere.
    void (*mBayer3x3[kLayoutCount][2])(const uint8_t *aUp, const uint8_t *aRow, const uint8_t *aDown, uint8_t *aOut,
                                       uint32_t aBegin, uint32_t aEnd, uint32_t aSiteParity);

    /// 8-bit Bayer, 2x2 blocks that start at [aBegin, aEnd) of aRow, over
    /// aRow and aNext; aEnd < width. As above for the colours.
    void (*mBayer2x2[kLayoutCount][2])(const uint8_t *aRow, const uint8_t *aNext, uint8_t *aOut, uint32_t aBegin,
                                       uint32_t aEnd, uint32_t aSiteParity);

    /// aWidth pixels from one 8-bit layout into another; alpha is kept when
    /// both have it, 255 when only the output has.
    void (*mRgbToRgb[kLayoutCount][kLayoutCount])(const uint8_t *aIn, uint8_t *aOut, uint32_t aWidth);
    /// The same with stores past the caches where the processor has them,
    /// for outputs too large to stay in the caches; StreamingDone ends them.
    void (*mRgbToRgbStreaming[kLayoutCount][kLayoutCount])(const uint8_t *aIn, uint8_t *aOut, uint32_t aWidth);

    /// 8-bit grey levels into a layout: each level in red, green and blue,
    /// alpha 255.
    void (*mGreyToColour[kLayoutCount])(const uint8_t *aIn, uint8_t *aOut, uint32_t aWidth);
    void (*mGreyToColourStreaming[kLayoutCount])(const uint8_t *aIn, uint8_t *aOut, uint32_t aWidth);

    /// RGB8 to its luminance, (77 R + 150 G + 29 B + 128) / 256.
    void (*mRgb8ToMono8)(const uint8_t *aIn, uint8_t *aOut, uint32_t aWidth);

    /// YUV 4:2:2 (index 0: U Y V Y, 1: Y U Y V) to a layout, full-range
    /// BT.601; an odd last pixel has no V of its own and takes 128.
    void (*mYuv422ToRgb[2][kLayoutCount])(const uint8_t *aIn, uint8_t *aOut, uint32_t aWidth);

    /// A row of Mono12p that starts on a byte to Mono16 (levels x 16).
    void (*mMono12pToMono16)(const uint8_t *aIn, uint8_t *aOut, uint32_t aWidth);

    /// Codec, 8-bit samples: the sum of the residuals' magnitudes under each
    /// predictor, for the aCount samples of aRow whose neighbours at aStep
    /// samples back in aRow and aAbove (null: no row above).
    void (*mCosts8)(const uint8_t *aRow, const uint8_t *aAbove, uint32_t aCount, uint32_t aStep,
                    uint64_t aCosts[kPredictorCount]);
    /// The residuals of aRow under aPredictor, zigzag coded.
    void (*mResiduals8)(const uint8_t *aRow, const uint8_t *aAbove, uint32_t aCount, uint32_t aStep,
                        uint32_t aPredictor, uint8_t *aOut);
    /// The samples of a row from its residuals: the inverse of mResiduals8.
    void (*mReconstruct8)(const uint8_t *aResiduals, const uint8_t *aAbove, uint32_t aCount, uint32_t aStep,
                          uint32_t aPredictor, uint8_t *aRow);

    /// The same for 16-bit samples; the residuals in two planes, the low
    /// bytes and the high bytes.
    void (*mCosts16)(const uint16_t *aRow, const uint16_t *aAbove, uint32_t aCount, uint32_t aStep,
                     uint64_t aCosts[kPredictorCount]);
    void (*mResiduals16)(const uint16_t *aRow, const uint16_t *aAbove, uint32_t aCount, uint32_t aStep,
                         uint32_t aPredictor, uint8_t *aLow, uint8_t *aHigh);
    void (*mReconstruct16)(const uint8_t *aLow, const uint8_t *aHigh, const uint16_t *aAbove, uint32_t aCount,
                           uint32_t aStep, uint32_t aPredictor, uint16_t *aRow);
};

/// The kernels of the processor the program runs on.
TN_BUFFER_RECEIVE_API const Kernels &GetKernels();

/// Makes the stores of the streaming kernels of this thread land before
/// anything the thread stores later (before the memory is handed on).
TN_BUFFER_RECEIVE_API void StreamingDone();

namespace baseline
{
TN_BUFFER_RECEIVE_API const Kernels &GetKernels();
}
#if defined(__x86_64__)
namespace avx2
{
TN_BUFFER_RECEIVE_API const Kernels &GetKernels();
}
#endif
} // namespace convert
} // namespace tn

#endif
