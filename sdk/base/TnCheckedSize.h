// Sizes computed from a caller's values: sums, differences and products that
// remember an overflow, so that a size too large for its type is refused
// instead of wrapping round to a small one that reads as success.
//
//     const CheckedSize lTotal = CheckedSize(lImage) + CheckedSize(8) + aChunkLength;
//     uint32_t lSize;
//     if (!lTotal.Get(lSize)) { refuse }
#ifndef TN_CHECKED_SIZE_H
#define TN_CHECKED_SIZE_H

#include <stdint.h>

#include <limits>
#include <type_traits>

namespace tn
{
/// The most bytes a buffer, an image or a part holds: their sizes are 32-bit.
constexpr uint64_t kMaximumBufferSize = 0xFFFFFFFFull;

class CheckedSize
{
public:
    constexpr CheckedSize() = default;
    /// Any integer; a negative one counts as an overflow.
    template <typename T, typename = typename std::enable_if<std::is_integral<T>::value>::type>
    constexpr CheckedSize(T aValue) : mValue(static_cast<uint64_t>(aValue)), mValid(!(aValue < T(0)))
    {
    }

    /// A size that overflowed: every result computed from it overflowed too.
    static constexpr CheckedSize Overflow() { return CheckedSize(0u, false); }

    friend CheckedSize operator+(CheckedSize aLeft, CheckedSize aRight)
    {
        uint64_t lValue = 0;
        const bool lValid = aLeft.mValid && aRight.mValid && !__builtin_add_overflow(aLeft.mValue, aRight.mValue, &lValue);
        return CheckedSize(lValue, lValid);
    }

    /// Below zero counts as an overflow.
    friend CheckedSize operator-(CheckedSize aLeft, CheckedSize aRight)
    {
        uint64_t lValue = 0;
        const bool lValid = aLeft.mValid && aRight.mValid && !__builtin_sub_overflow(aLeft.mValue, aRight.mValue, &lValue);
        return CheckedSize(lValue, lValid);
    }

    friend CheckedSize operator*(CheckedSize aLeft, CheckedSize aRight)
    {
        uint64_t lValue = 0;
        const bool lValid = aLeft.mValid && aRight.mValid && !__builtin_mul_overflow(aLeft.mValue, aRight.mValue, &lValue);
        return CheckedSize(lValue, lValid);
    }

    CheckedSize &operator+=(CheckedSize aOther) { return *this = *this + aOther; }
    CheckedSize &operator*=(CheckedSize aOther) { return *this = *this * aOther; }

    /// Divided by aUnit, rounded up (bits to bytes: DividedUp(8)); aUnit 0
    /// counts as an overflow.
    CheckedSize DividedUp(uint64_t aUnit) const
    {
        if (!mValid || aUnit == 0)
        {
            return Overflow();
        }
        return CheckedSize(mValue / aUnit + (mValue % aUnit != 0 ? 1 : 0), true);
    }

    /// Rounded up to a multiple of aUnit (a power of two or not).
    CheckedSize RoundedUp(uint64_t aUnit) const { return DividedUp(aUnit) * CheckedSize(aUnit); }

    bool IsValid() const { return mValid; }

    /// Whether the size did not overflow and is at most aLimit.
    bool FitsIn(uint64_t aLimit) const { return mValid && mValue <= aLimit; }

    /// The size in aValue when it did not overflow and fits T (and aLimit);
    /// false, aValue 0, otherwise.
    template <typename T> bool Get(T &aValue, uint64_t aLimit = std::numeric_limits<T>::max()) const
    {
        static_assert(std::is_unsigned<T>::value, "sizes are unsigned");
        const bool lFits = FitsIn(aLimit) && mValue <= std::numeric_limits<T>::max();
        aValue = lFits ? static_cast<T>(mValue) : 0;
        return lFits;
    }

    /// The size, or aLimit when it overflowed or is larger: for values that
    /// report a size rather than allocate it (a payload size register).
    uint64_t Saturated(uint64_t aLimit) const { return FitsIn(aLimit) ? mValue : aLimit; }

private:
    constexpr CheckedSize(uint64_t aValue, bool aValid) : mValue(aValue), mValid(aValid) {}

    uint64_t mValue = 0;
    bool mValid = true;
};
} // namespace tn

#endif
