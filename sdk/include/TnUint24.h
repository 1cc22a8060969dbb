// A three-byte little-endian value, as 24-bit pixels and data values are stored.
#ifndef TN_UINT24_H
#define TN_UINT24_H

#include <stdint.h>
#include <string.h>

/// Three bytes, least significant first.
struct uint24_t
{
    uint8_t PixelValue[3];

#ifndef SWIG
    uint24_t() : PixelValue{0, 0, 0} {}
    explicit uint24_t(uint32_t aValue)
        : PixelValue{uint8_t(aValue), uint8_t(aValue >> 8), uint8_t(aValue >> 16)}
    {
    }
    uint32_t Get() const { return PixelValue[0] | (PixelValue[1] << 8) | (uint32_t(PixelValue[2]) << 16); }
#endif

    /// A copy of another value.
    uint24_t(const uint24_t &aValue) { memcpy(PixelValue, aValue.PixelValue, sizeof(PixelValue)); }
};

#endif
