// Unsigned integers in byte buffers, in either byte order: the one set of
// readers and writers the protocol, buffer and GenICam code share.
//
// GetU16 ... PutU64 are big-endian (network order); GetLittleU32 and the
// Read/WriteUnsigned pair serve little-endian data and fields of any length
// from 1 to 8 bytes.
#ifndef TN_BYTE_ORDER_H
#define TN_BYTE_ORDER_H

#include <stddef.h>
#include <stdint.h>

namespace tn
{

inline uint16_t GetU16(const uint8_t *aData)
{
    return static_cast<uint16_t>((aData[0] << 8) | aData[1]);
}

inline uint32_t GetU24(const uint8_t *aData)
{
    return (static_cast<uint32_t>(aData[0]) << 16) | (static_cast<uint32_t>(aData[1]) << 8) | aData[2];
}

inline uint32_t GetU32(const uint8_t *aData)
{
    return (static_cast<uint32_t>(aData[0]) << 24) | (static_cast<uint32_t>(aData[1]) << 16) |
           (static_cast<uint32_t>(aData[2]) << 8) | aData[3];
}

inline uint64_t GetU64(const uint8_t *aData)
{
    return (static_cast<uint64_t>(GetU32(aData)) << 32) | GetU32(aData + 4);
}

inline uint32_t GetLittleU32(const uint8_t *aData)
{
    return aData[0] | (static_cast<uint32_t>(aData[1]) << 8) | (static_cast<uint32_t>(aData[2]) << 16) |
           (static_cast<uint32_t>(aData[3]) << 24);
}

inline void PutU16(uint8_t *aData, uint16_t aValue)
{
    aData[0] = static_cast<uint8_t>(aValue >> 8);
    aData[1] = static_cast<uint8_t>(aValue);
}

inline void PutU24(uint8_t *aData, uint32_t aValue)
{
    aData[0] = static_cast<uint8_t>(aValue >> 16);
    aData[1] = static_cast<uint8_t>(aValue >> 8);
    aData[2] = static_cast<uint8_t>(aValue);
}

inline void PutU32(uint8_t *aData, uint32_t aValue)
{
    aData[0] = static_cast<uint8_t>(aValue >> 24);
    aData[1] = static_cast<uint8_t>(aValue >> 16);
    aData[2] = static_cast<uint8_t>(aValue >> 8);
    aData[3] = static_cast<uint8_t>(aValue);
}

inline void PutU64(uint8_t *aData, uint64_t aValue)
{
    PutU32(aData, static_cast<uint32_t>(aValue >> 32));
    PutU32(aData + 4, static_cast<uint32_t>(aValue));
}

/// The unsigned value of aLength bytes (at most 8) in the given order.
inline uint64_t ReadUnsigned(const uint8_t *aData, size_t aLength, bool aBigEndian)
{
    uint64_t lValue = 0;
    for (size_t lIndex = 0; lIndex < aLength; ++lIndex)
    {
        lValue = (lValue << 8) | aData[aBigEndian ? lIndex : aLength - 1 - lIndex];
    }
    return lValue;
}

/// Writes the low aLength bytes (at most 8) of aValue in the given order.
inline void WriteUnsigned(uint64_t aValue, uint8_t *aData, size_t aLength, bool aBigEndian)
{
    for (size_t lIndex = 0; lIndex < aLength; ++lIndex)
    {
        aData[aBigEndian ? aLength - 1 - lIndex : lIndex] = static_cast<uint8_t>(aValue >> (8 * lIndex));
    }
}

} // namespace tn

#endif
