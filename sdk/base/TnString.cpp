#include "TnString.h"

#include <string.h>
#include <wchar.h>

#include "TnUtf8.h"

TnString::TnString() : mNull(false) {}

TnString::TnString(const TnString &aValue) = default;

TnString::TnString(TnString &&aValue) noexcept = default;

TnString::TnString(const char *aValue) : mNull(aValue == nullptr)
{
    if (aValue != nullptr)
    {
        mNarrow.assign(aValue);
        mWide = tn::DecodeUtf8(mNarrow.data(), mNarrow.size());
    }
}

TnString::TnString(const char *aValue, unsigned int aCount) : mNull(aValue == nullptr)
{
    if (aValue != nullptr)
    {
        mNarrow.assign(aValue, strnlen(aValue, aCount));
        mWide = tn::DecodeUtf8(mNarrow.data(), mNarrow.size());
    }
}

TnString::TnString(const wchar_t *aValue) : mNull(aValue == nullptr)
{
    if (aValue != nullptr)
    {
        mWide.assign(aValue);
        mNarrow = tn::EncodeUtf8(mWide.data(), mWide.size());
    }
}

TnString::~TnString() = default;

TnString &TnString::operator=(const TnString &aValue) = default;

TnString &TnString::operator=(TnString &&aValue) noexcept = default;

TnString &TnString::operator+=(const TnString &aValue)
{
    mNarrow += aValue.mNarrow;
    mWide += aValue.mWide;
    mNull = mNull && aValue.mNull;
    return *this;
}

bool TnString::operator==(const wchar_t *aValue) const
{
    if (aValue == nullptr || mNull)
    {
        return aValue == nullptr && mNull;
    }
    return mWide == aValue;
}

bool TnString::operator==(const char *aValue) const
{
    if (aValue == nullptr || mNull)
    {
        return aValue == nullptr && mNull;
    }
    return mNarrow == aValue;
}

bool TnString::operator==(const TnString &aValue) const
{
    return mNull == aValue.mNull && mWide == aValue.mWide;
}

bool TnString::operator!=(const wchar_t *aValue) const
{
    return !(*this == aValue);
}

bool TnString::operator!=(const char *aValue) const
{
    return !(*this == aValue);
}

bool TnString::operator!=(const TnString &aValue) const
{
    return !(*this == aValue);
}

const char *TnString::GetAscii() const
{
    return mNull ? nullptr : mNarrow.c_str();
}

const wchar_t *TnString::GetUnicode() const
{
    return mNull ? nullptr : mWide.c_str();
}

unsigned int TnString::GetLength() const
{
    return static_cast<unsigned int>(mWide.size());
}
