// One pixel of Bayer interpolation, for image edges, high-bit samples and
// the tails of the vector kernels. Internal linkage: every translation unit,
// whatever instruction set it is compiled for, has its own copy.
#ifndef TN_BAYER_PIXEL_H
#define TN_BAYER_PIXEL_H

#include <stdint.h>

namespace tn
{
namespace convert
{
namespace
{
/// Index aIndex (-1 to aCount) mirrored into [0, aCount) about the first
/// and last index, which keeps the parity of a Bayer pattern.
inline uint32_t Reflect(int64_t aIndex, uint32_t aCount)
{
    if (aCount == 1)
    {
        return 0;
    }
    if (aIndex < 0)
    {
        return uint32_t(-aIndex);
    }
    if (aIndex >= int64_t(aCount))
    {
        return uint32_t(2 * int64_t(aCount) - 2 - aIndex);
    }
    return uint32_t(aIndex);
}

/// The colours of pixel x of row aRow, bilinear: aColours[0] the row's own
/// colour (the one at x % 2 == aSiteParity), [1] green, [2] the other.
template <typename T>
inline void Bayer3x3Pixel(const T *aUp, const T *aRow, const T *aDown, uint32_t aX, uint32_t aWidth,
                          uint32_t aSiteParity, uint32_t aColours[3])
{
    const uint32_t lLeft = Reflect(int64_t(aX) - 1, aWidth);
    const uint32_t lRight = Reflect(int64_t(aX) + 1, aWidth);
    if ((aX & 1) == aSiteParity)
    {
        aColours[0] = aRow[aX];
        aColours[1] = (uint32_t(aRow[lLeft]) + aRow[lRight] + aUp[aX] + aDown[aX] + 2) >> 2;
        aColours[2] = (uint32_t(aUp[lLeft]) + aUp[lRight] + aDown[lLeft] + aDown[lRight] + 2) >> 2;
    }
    else
    {
        aColours[0] = (uint32_t(aRow[lLeft]) + aRow[lRight] + 1) >> 1;
        aColours[1] = aRow[aX];
        aColours[2] = (uint32_t(aUp[aX]) + aDown[aX] + 1) >> 1;
    }
}

/// The colours of pixel x from the 2x2 block over aRow and aNext that
/// starts at x, or ends there at the last column; as above for the order.
template <typename T>
inline void Bayer2x2Pixel(const T *aRow, const T *aNext, uint32_t aX, uint32_t aWidth, uint32_t aSiteParity,
                          uint32_t aColours[3])
{
    const uint32_t lLeft = aX + 1 < aWidth ? aX : (aWidth >= 2 ? aWidth - 2 : 0);
    const uint32_t lRight = lLeft + 1 < aWidth ? lLeft + 1 : lLeft;
    if ((lLeft & 1) == aSiteParity)
    {
        aColours[0] = aRow[lLeft];
        aColours[1] = (uint32_t(aRow[lRight]) + aNext[lLeft] + 1) >> 1;
        aColours[2] = aNext[lRight];
    }
    else
    {
        aColours[0] = aRow[lRight];
        aColours[1] = (uint32_t(aRow[lLeft]) + aNext[lRight] + 1) >> 1;
        aColours[2] = aNext[lLeft];
    }
}
} // namespace
} // namespace convert
} // namespace tn

#endif
