#include "TnGevAddress.h"

#include <ctype.h>
#include <stdio.h>

namespace tn
{
namespace gev
{
namespace
{
int HexValue(char aChar)
{
    const int lChar = static_cast<unsigned char>(aChar);
    if (isdigit(lChar))
    {
        return lChar - '0';
    }
    if (isxdigit(lChar))
    {
        return tolower(lChar) - 'a' + 10;
    }
    return -1;
}

std::string FormatMacWith(uint64_t aMac, const char *aFormat)
{
    char lText[24];
    snprintf(lText, sizeof(lText), aFormat, static_cast<unsigned>((aMac >> 40) & 0xFF),
             static_cast<unsigned>((aMac >> 32) & 0xFF), static_cast<unsigned>((aMac >> 24) & 0xFF),
             static_cast<unsigned>((aMac >> 16) & 0xFF), static_cast<unsigned>((aMac >> 8) & 0xFF),
             static_cast<unsigned>(aMac & 0xFF));
    return lText;
}
} // namespace

const char *NotAHostAddress(uint32_t aAddress, uint32_t aMask)
{
    const uint32_t lFirst = aAddress >> 24;
    if (lFirst == 0)
    {
        return "unspecified";
    }
    if (lFirst >= 224 && lFirst < 240)
    {
        return "multicast";
    }
    if (lFirst >= 240)
    {
        return "reserved";
    }
    const uint32_t lHost = ~aMask;
    const bool lContiguous = aMask != 0 && (lHost & (lHost + 1)) == 0;
    if (lContiguous && lHost > 1)
    {
        if ((aAddress & lHost) == lHost)
        {
            return "broadcast";
        }
        if ((aAddress & lHost) == 0)
        {
            return "network";
        }
    }
    return nullptr;
}

std::string FormatIPv4(uint32_t aAddress)
{
    char lText[16];
    snprintf(lText, sizeof(lText), "%u.%u.%u.%u", (aAddress >> 24) & 0xFF, (aAddress >> 16) & 0xFF,
             (aAddress >> 8) & 0xFF, aAddress & 0xFF);
    return lText;
}

bool ParseIPv4(const std::string &aText, uint32_t &aAddress)
{
    uint32_t lAddress = 0;
    size_t lPosition = 0;
    for (int lPart = 0; lPart < 4; ++lPart)
    {
        if (lPart > 0)
        {
            if (lPosition >= aText.size() || aText[lPosition] != '.')
            {
                return false;
            }
            ++lPosition;
        }
        uint32_t lValue = 0;
        size_t lDigits = 0;
        while (lPosition < aText.size() && isdigit(static_cast<unsigned char>(aText[lPosition])) && lDigits < 4)
        {
            lValue = lValue * 10 + static_cast<uint32_t>(aText[lPosition] - '0');
            ++lPosition;
            ++lDigits;
        }
        if (lDigits == 0 || lDigits > 3 || lValue > 255)
        {
            return false;
        }
        lAddress = (lAddress << 8) | lValue;
    }
    if (lPosition != aText.size())
    {
        return false;
    }
    aAddress = lAddress;
    return true;
}

std::string FormatMac(uint64_t aMac)
{
    return FormatMacWith(aMac, "%02x:%02x:%02x:%02x:%02x:%02x");
}

std::string FormatMacDotted(uint64_t aMac)
{
    return FormatMacWith(aMac, "%02X.%02X.%02X.%02X.%02X.%02X");
}

bool ParseMac(const std::string &aText, uint64_t &aMac)
{
    uint64_t lMac = 0;
    if (aText.size() == 12)
    {
        for (char lChar : aText)
        {
            const int lValue = HexValue(lChar);
            if (lValue < 0)
            {
                return false;
            }
            lMac = (lMac << 4) | static_cast<uint64_t>(lValue);
        }
        aMac = lMac;
        return true;
    }
    if (aText.size() != 17)
    {
        return false;
    }
    const char lSeparator = aText[2];
    if (lSeparator != ':' && lSeparator != '-' && lSeparator != '.')
    {
        return false;
    }
    for (size_t lByte = 0; lByte < 6; ++lByte)
    {
        const size_t lAt = lByte * 3;
        if (lByte > 0 && aText[lAt - 1] != lSeparator)
        {
            return false;
        }
        const int lHigh = HexValue(aText[lAt]);
        const int lLow = HexValue(aText[lAt + 1]);
        if (lHigh < 0 || lLow < 0)
        {
            return false;
        }
        lMac = (lMac << 8) | static_cast<uint64_t>(lHigh << 4 | lLow);
    }
    aMac = lMac;
    return true;
}

uint64_t MacFromBytes(const uint8_t *aBytes)
{
    uint64_t lMac = 0;
    for (int lIndex = 0; lIndex < 6; ++lIndex)
    {
        lMac = (lMac << 8) | aBytes[lIndex];
    }
    return lMac;
}
} // namespace gev
} // namespace tn
