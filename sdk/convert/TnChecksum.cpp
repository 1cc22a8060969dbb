#include "TnChecksum.h"

#include <string.h>

namespace tn
{
namespace convert
{
namespace
{
constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ull;

inline uint64_t RotateLeft(uint64_t aValue, int aBits)
{
    return (aValue << aBits) | (aValue >> (64 - aBits));
}

inline uint64_t Read64(const uint8_t *aPointer)
{
    uint64_t lValue;
    memcpy(&lValue, aPointer, 8);
    return lValue;
}

inline uint32_t Read32(const uint8_t *aPointer)
{
    uint32_t lValue;
    memcpy(&lValue, aPointer, 4);
    return lValue;
}

inline uint64_t Round(uint64_t aAccumulator, uint64_t aInput)
{
    return RotateLeft(aAccumulator + aInput * kPrime2, 31) * kPrime1;
}

inline uint64_t Merge(uint64_t aAccumulator, uint64_t aValue)
{
    return (aAccumulator ^ Round(0, aValue)) * kPrime1 + kPrime4;
}
} // namespace

uint64_t Checksum64(const void *aData, size_t aLength)
{
    const uint8_t *lPointer = static_cast<const uint8_t *>(aData);
    const uint8_t *const lEnd = lPointer + aLength;
    uint64_t lHash;
    if (aLength >= 32)
    {
        uint64_t lLanes[4] = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
        const uint8_t *const lLimit = lEnd - 32;
        do
        {
            for (int lLane = 0; lLane < 4; ++lLane)
            {
                lLanes[lLane] = Round(lLanes[lLane], Read64(lPointer + 8 * lLane));
            }
            lPointer += 32;
        } while (lPointer <= lLimit);
        lHash = RotateLeft(lLanes[0], 1) + RotateLeft(lLanes[1], 7) + RotateLeft(lLanes[2], 12) +
                RotateLeft(lLanes[3], 18);
        for (uint64_t lLane : lLanes)
        {
            lHash = Merge(lHash, lLane);
        }
    }
    else
    {
        lHash = kPrime5;
    }
    lHash += uint64_t(aLength);
    for (; lPointer + 8 <= lEnd; lPointer += 8)
    {
        lHash = RotateLeft(lHash ^ Round(0, Read64(lPointer)), 27) * kPrime1 + kPrime4;
    }
    if (lPointer + 4 <= lEnd)
    {
        lHash = RotateLeft(lHash ^ (uint64_t(Read32(lPointer)) * kPrime1), 23) * kPrime2 + kPrime3;
        lPointer += 4;
    }
    for (; lPointer < lEnd; ++lPointer)
    {
        lHash = RotateLeft(lHash ^ (*lPointer * kPrime5), 11) * kPrime1;
    }
    lHash ^= lHash >> 33;
    lHash *= kPrime2;
    lHash ^= lHash >> 29;
    lHash *= kPrime3;
    lHash ^= lHash >> 32;
    return lHash;
}
} // namespace convert
} // namespace tn
