// The SDK's string: text kept both as 8-bit text and as wide characters.
#ifndef TN_STRING_H
#define TN_STRING_H

#include <string>

#include "TnExport.h"

/// A string of the SDK.
///
/// The 8-bit form is UTF-8; bytes that are not valid UTF-8 are kept as they
/// were given and appear in the wide form as the code points U+DC80 to U+DCFF.
/// A string made from a null pointer has a null text: its getters return null.
class TN_BASE_API TnString
{
public:
    /// An empty string.
    TnString();

    /// A copy of another string.
    TnString(const TnString &aValue);

    /// A string made from 8-bit (UTF-8) text.
    TnString(const char *aValue);

    /// A string made from at most aCount bytes of 8-bit text; the text ends
    /// earlier at its first null byte.
    TnString(const char *aValue, unsigned int aCount);

    /// A string made from wide-character text.
    TnString(const wchar_t *aValue);

    virtual ~TnString();

#ifndef SWIG
    TnString(TnString &&aValue) noexcept;
    TnString &operator=(const TnString &aValue);
    TnString &operator=(TnString &&aValue) noexcept;
#endif

    /// Appends a string.
    TnString &operator+=(const TnString &aValue);

    /// Case-sensitive comparison with wide-character text.
    bool operator==(const wchar_t *aValue) const;

    /// Case-sensitive comparison with 8-bit text.
    bool operator==(const char *aValue) const;

    /// Case-sensitive comparison with another string.
    bool operator==(const TnString &aValue) const;

    /// Case-sensitive comparison with wide-character text.
    bool operator!=(const wchar_t *aValue) const;

    /// Case-sensitive comparison with 8-bit text.
    bool operator!=(const char *aValue) const;

    /// Case-sensitive comparison with another string.
    bool operator!=(const TnString &aValue) const;

    /// The text as 8-bit (UTF-8) characters; null for a null text.
    const char *GetAscii() const;

    /// The text as wide characters; null for a null text.
    const wchar_t *GetUnicode() const;

    /// The length in characters.
    unsigned int GetLength() const;

private:
    std::string mNarrow;
    std::wstring mWide;
    bool mNull;
};

#endif
