#include "TnUtf8.h"

namespace tn
{
namespace
{
const wchar_t kEscapeBase = 0xDC00;

// Length of the valid UTF-8 sequence at aText, 0 when it is not one.
size_t SequenceLength(const unsigned char *aText, size_t aLeft, uint32_t &aCodePoint)
{
    const unsigned char lead = aText[0];
    size_t length;
    uint32_t minimum;
    if (lead < 0x80)
    {
        aCodePoint = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0)
    {
        length = 2;
        minimum = 0x80;
        aCodePoint = lead & 0x1F;
    }
    else if ((lead & 0xF0) == 0xE0)
    {
        length = 3;
        minimum = 0x800;
        aCodePoint = lead & 0x0F;
    }
    else if ((lead & 0xF8) == 0xF0)
    {
        length = 4;
        minimum = 0x10000;
        aCodePoint = lead & 0x07;
    }
    else
    {
        return 0;
    }
    if (aLeft < length)
    {
        return 0;
    }
    for (size_t i = 1; i < length; ++i)
    {
        if ((aText[i] & 0xC0) != 0x80)
        {
            return 0;
        }
        aCodePoint = (aCodePoint << 6) | (aText[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
    if (aCodePoint < minimum || aCodePoint > 0x10FFFF || (aCodePoint >= 0xD800 && aCodePoint <= 0xDFFF))
    {
        return 0;
    }
    return length;
}
} // namespace

std::wstring DecodeUtf8(const char *aText, size_t aLength)
{
    std::wstring result;
    result.reserve(aLength);
    const unsigned char *text = reinterpret_cast<const unsigned char *>(aText);
    size_t i = 0;
    while (i < aLength)
    {
        uint32_t codePoint = 0;
        const size_t length = SequenceLength(text + i, aLength - i, codePoint);
        if (length == 0)
        {
            result.push_back(static_cast<wchar_t>(kEscapeBase + text[i]));
            ++i;
        }
        else
        {
            result.push_back(static_cast<wchar_t>(codePoint));
            i += length;
        }
    }
    return result;
}

std::string EncodeUtf8(const wchar_t *aText, size_t aLength)
{
    std::string result;
    result.reserve(aLength);
    for (size_t i = 0; i < aLength; ++i)
    {
        const uint32_t c = static_cast<uint32_t>(aText[i]);
        if (c >= 0xDC80 && c <= 0xDCFF)
        {
            result.push_back(static_cast<char>(c - kEscapeBase));
        }
        else if (c < 0x80)
        {
            result.push_back(static_cast<char>(c));
        }
        else if (c < 0x800)
        {
            result.push_back(static_cast<char>(0xC0 | (c >> 6)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
        else if (c < 0x10000)
        {
            result.push_back(static_cast<char>(0xE0 | (c >> 12)));
            result.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
        else if (c <= 0x10FFFF)
        {
            result.push_back(static_cast<char>(0xF0 | (c >> 18)));
            result.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
        else
        {
            result.append("\xEF\xBF\xBD"); // U+FFFD for values no character has
        }
    }
    return result;
}
} // namespace tn
