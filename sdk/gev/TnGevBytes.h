// Big-endian field access over byte buffers, shared by the control and the
// stream packet code.
//
// TnByteReader never reads past the end it was given: a read beyond it yields
// zero and marks the reader failed, so a decoder reads every field it needs
// and checks IsOk() once at the end.
#ifndef TN_GEV_BYTES_H
#define TN_GEV_BYTES_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "TnByteOrder.h"

namespace tn
{
namespace gev
{
// The big-endian field helpers are libTnBase's (TnByteOrder.h).
using tn::GetU16;
using tn::GetU24;
using tn::GetU32;
using tn::GetU64;
using tn::PutU16;
using tn::PutU24;
using tn::PutU32;
using tn::PutU64;

/// Reads big-endian fields in order from a bounded buffer.
class TnByteReader
{
public:
    TnByteReader(const uint8_t *aData, size_t aSize) : mData(aData), mSize(aData != nullptr ? aSize : 0) {}

    uint8_t U8()
    {
        const uint8_t *lField = Take(1);
        return lField != nullptr ? lField[0] : 0;
    }

    uint16_t U16()
    {
        const uint8_t *lField = Take(2);
        return lField != nullptr ? GetU16(lField) : 0;
    }

    uint32_t U24()
    {
        const uint8_t *lField = Take(3);
        return lField != nullptr ? GetU24(lField) : 0;
    }

    uint32_t U32()
    {
        const uint8_t *lField = Take(4);
        return lField != nullptr ? GetU32(lField) : 0;
    }

    uint64_t U64()
    {
        const uint8_t *lField = Take(8);
        return lField != nullptr ? GetU64(lField) : 0;
    }

    /// Copies aSize bytes; on a short buffer the destination is zeroed.
    void Bytes(void *aDestination, size_t aSize)
    {
        const uint8_t *lField = Take(aSize);
        if (lField != nullptr)
        {
            memcpy(aDestination, lField, aSize);
        }
        else if (aDestination != nullptr)
        {
            memset(aDestination, 0, aSize);
        }
    }

    /// A fixed-size text field: the bytes up to the first NUL, or all of them.
    std::string Text(size_t aFieldSize)
    {
        const uint8_t *lField = Take(aFieldSize);
        if (lField == nullptr)
        {
            return std::string();
        }
        const void *lEnd = memchr(lField, 0, aFieldSize);
        const size_t lLength = lEnd != nullptr ? static_cast<const uint8_t *>(lEnd) - lField : aFieldSize;
        return std::string(reinterpret_cast<const char *>(lField), lLength);
    }

    void Skip(size_t aSize)
    {
        Take(aSize);
    }

    /// The current position, or null once the reader has failed.
    const uint8_t *Current() const
    {
        return mOk ? mData + mPosition : nullptr;
    }

    size_t GetPosition() const
    {
        return mPosition;
    }

    size_t GetRemaining() const
    {
        return mOk ? mSize - mPosition : 0;
    }

    bool IsOk() const
    {
        return mOk;
    }

private:
    const uint8_t *Take(size_t aSize)
    {
        if (!mOk || aSize > mSize - mPosition)
        {
            mOk = false;
            return nullptr;
        }
        const uint8_t *lField = mData + mPosition;
        mPosition += aSize;
        return lField;
    }

    const uint8_t *mData;
    size_t mSize;
    size_t mPosition = 0;
    bool mOk = true;
};

/// Appends big-endian fields to a byte vector.
class TnByteWriter
{
public:
    explicit TnByteWriter(std::vector<uint8_t> &aBytes) : mBytes(aBytes) {}

    void U8(uint8_t aValue)
    {
        mBytes.push_back(aValue);
    }

    void U16(uint16_t aValue)
    {
        PutU16(Grow(2), aValue);
    }

    void U24(uint32_t aValue)
    {
        PutU24(Grow(3), aValue);
    }

    void U32(uint32_t aValue)
    {
        PutU32(Grow(4), aValue);
    }

    void U64(uint64_t aValue)
    {
        PutU64(Grow(8), aValue);
    }

    void Bytes(const void *aData, size_t aSize)
    {
        if (aSize > 0)
        {
            memcpy(Grow(aSize), aData, aSize);
        }
    }

    void Zeros(size_t aSize)
    {
        if (aSize > 0)
        {
            memset(Grow(aSize), 0, aSize);
        }
    }

    /// A fixed-size text field, cut to the field and padded with NULs.
    void Text(const std::string &aText, size_t aFieldSize)
    {
        if (aFieldSize == 0)
        {
            return;
        }
        uint8_t *lField = Grow(aFieldSize);
        memset(lField, 0, aFieldSize);
        memcpy(lField, aText.data(), aText.size() < aFieldSize ? aText.size() : aFieldSize);
    }

private:
    uint8_t *Grow(size_t aSize)
    {
        const size_t lOld = mBytes.size();
        mBytes.resize(lOld + aSize);
        return mBytes.data() + lOld;
    }

    std::vector<uint8_t> &mBytes;
};
} // namespace gev
} // namespace tn

#endif
