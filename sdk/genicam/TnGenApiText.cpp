#include "TnGenApiText.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace tn
{
namespace genicam
{

bool ParseIntegerText(const std::string &aText, int64_t &aValue)
{
    const std::string lText = Trim(aText);
    size_t lPosition = 0;
    bool lNegative = false;
    if (lPosition < lText.size() && (lText[lPosition] == '-' || lText[lPosition] == '+'))
    {
        lNegative = lText[lPosition] == '-';
        ++lPosition;
    }
    int lBase = 10;
    if (lText.size() >= lPosition + 2 && lText[lPosition] == '0' &&
        (lText[lPosition + 1] == 'x' || lText[lPosition + 1] == 'X'))
    {
        lBase = 16;
        lPosition += 2;
    }
    if (lPosition >= lText.size() || !isxdigit(static_cast<unsigned char>(lText[lPosition])))
    {
        return false;
    }
    const char *lStart = lText.c_str() + lPosition;
    char *lEnd = nullptr;
    errno = 0;
    const unsigned long long lMagnitude = strtoull(lStart, &lEnd, lBase);
    if (errno == ERANGE || *lEnd != '\0')
    {
        return false;
    }
    if (lBase == 10)
    {
        // Decimal values must fit the signed range.
        if (lNegative ? lMagnitude > 9223372036854775808ull : lMagnitude > 9223372036854775807ull)
        {
            return false;
        }
    }
    uint64_t lBits = lNegative ? 0 - static_cast<uint64_t>(lMagnitude) : static_cast<uint64_t>(lMagnitude);
    memcpy(&aValue, &lBits, sizeof(aValue));
    return true;
}

bool ParseFloatText(const std::string &aText, double &aValue)
{
    const std::string lText = Trim(aText);
    if (lText.empty())
    {
        return false;
    }
    int64_t lInteger = 0;
    if (ParseIntegerText(lText, lInteger))
    {
        aValue = static_cast<double>(lInteger);
        return true;
    }
    char *lEnd = nullptr;
    errno = 0;
    const double lValue = strtod(lText.c_str(), &lEnd);
    if (*lEnd != '\0' || lEnd == lText.c_str())
    {
        return false;
    }
    aValue = lValue;
    return true;
}

std::string FormatHex(uint64_t aValue)
{
    char lText[32];
    snprintf(lText, sizeof(lText), "0x%llX", static_cast<unsigned long long>(aValue));
    return lText;
}

std::string FormatFloat(double aValue)
{
    char lText[40];
    for (int lPrecision = 6; lPrecision <= 17; ++lPrecision)
    {
        snprintf(lText, sizeof(lText), "%.*g", lPrecision, aValue);
        if (strtod(lText, nullptr) == aValue)
        {
            break;
        }
    }
    return lText;
}

} // namespace genicam
} // namespace tn
