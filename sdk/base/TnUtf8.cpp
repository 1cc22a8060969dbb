#include "TnUtf8.h"

namespace tn
{
namespace
{
const wchar_t kEscapeBase = 0xDC00;

// Length of the valid UTF-8 sequence at aText, 0 when it is not one.
size_t SequenceLength(const unsigned char *aText, size_t aLeft, uint32_t &aCodePoint)
{
    const unsigned char lLead = aText[0];
    size_t lLength;
    uint32_t lMinimum;
    if (lLead < 0x80)
    {
        aCodePoint = lLead;
        return 1;
    }
    if ((lLead & 0xE0) == 0xC0)
    {
        lLength = 2;
        lMinimum = 0x80;
        aCodePoint = lLead & 0x1F;
    }
    else if ((lLead & 0xF0) == 0xE0)
    {
        lLength = 3;
        lMinimum = 0x800;
        aCodePoint = lLead & 0x0F;
    }
    else if ((lLead & 0xF8) == 0xF0)
    {
        lLength = 4;
        lMinimum = 0x10000;
        aCodePoint = lLead & 0x07;
    }
    else
    {
        return 0;
    }
    if (aLeft < lLength)
    {
        return 0;
    }
    for (size_t lIndex = 1; lIndex < lLength; ++lIndex)
    {
        if ((aText[lIndex] & 0xC0) != 0x80)
        {
            return 0;
        }
        aCodePoint = (aCodePoint << 6) | (aText[lIndex] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
    if (aCodePoint < lMinimum || aCodePoint > 0x10FFFF || (aCodePoint >= 0xD800 && aCodePoint <= 0xDFFF))
    {
        return 0;
    }
    return lLength;
}
} // namespace

std::wstring DecodeUtf8(const char *aText, size_t aLength)
{
    std::wstring lResult;
    lResult.reserve(aLength);
    const unsigned char *lText = reinterpret_cast<const unsigned char *>(aText);
    size_t lIndex = 0;
    while (lIndex < aLength)
    {
        uint32_t lCodePoint = 0;
        const size_t lLength = SequenceLength(lText + lIndex, aLength - lIndex, lCodePoint);
        if (lLength == 0)
        {
            lResult.push_back(static_cast<wchar_t>(kEscapeBase + lText[lIndex]));
            ++lIndex;
        }
        else
        {
            lResult.push_back(static_cast<wchar_t>(lCodePoint));
            lIndex += lLength;
        }
    }
    return lResult;
}

std::string EncodeUtf8(const wchar_t *aText, size_t aLength)
{
    std::string lResult;
    lResult.reserve(aLength);
    for (size_t lIndex = 0; lIndex < aLength; ++lIndex)
    {
        const uint32_t lC = static_cast<uint32_t>(aText[lIndex]);
        if (lC >= 0xDC80 && lC <= 0xDCFF)
        {
            lResult.push_back(static_cast<char>(lC - kEscapeBase));
        }
        else if (lC < 0x80)
        {
            lResult.push_back(static_cast<char>(lC));
        }
        else if (lC < 0x800)
        {
            lResult.push_back(static_cast<char>(0xC0 | (lC >> 6)));
            lResult.push_back(static_cast<char>(0x80 | (lC & 0x3F)));
        }
        else if (lC < 0x10000)
        {
            lResult.push_back(static_cast<char>(0xE0 | (lC >> 12)));
            lResult.push_back(static_cast<char>(0x80 | ((lC >> 6) & 0x3F)));
            lResult.push_back(static_cast<char>(0x80 | (lC & 0x3F)));
        }
        else if (lC <= 0x10FFFF)
        {
            lResult.push_back(static_cast<char>(0xF0 | (lC >> 18)));
            lResult.push_back(static_cast<char>(0x80 | ((lC >> 12) & 0x3F)));
            lResult.push_back(static_cast<char>(0x80 | ((lC >> 6) & 0x3F)));
            lResult.push_back(static_cast<char>(0x80 | (lC & 0x3F)));
        }
        else
        {
            lResult.append("\xEF\xBF\xBD"); // U+FFFD for values no character has
        }
    }
    return lResult;
}
} // namespace tn
