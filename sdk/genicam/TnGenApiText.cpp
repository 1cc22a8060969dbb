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
    const std::string text = Trim(aText);
    size_t position = 0;
    bool negative = false;
    if (position < text.size() && (text[position] == '-' || text[position] == '+'))
    {
        negative = text[position] == '-';
        ++position;
    }
    int base = 10;
    if (text.size() >= position + 2 && text[position] == '0' && (text[position + 1] == 'x' || text[position + 1] == 'X'))
    {
        base = 16;
        position += 2;
    }
    if (position >= text.size() || !isxdigit(static_cast<unsigned char>(text[position])))
    {
        return false;
    }
    const char *start = text.c_str() + position;
    char *end = nullptr;
    errno = 0;
    const unsigned long long magnitude = strtoull(start, &end, base);
    if (errno == ERANGE || *end != '\0')
    {
        return false;
    }
    if (base == 10)
    {
        // Decimal values must fit the signed range.
        if (negative ? magnitude > 9223372036854775808ull : magnitude > 9223372036854775807ull)
        {
            return false;
        }
    }
    uint64_t bits = negative ? 0 - static_cast<uint64_t>(magnitude) : static_cast<uint64_t>(magnitude);
    memcpy(&aValue, &bits, sizeof(aValue));
    return true;
}

bool ParseFloatText(const std::string &aText, double &aValue)
{
    const std::string text = Trim(aText);
    if (text.empty())
    {
        return false;
    }
    int64_t integer = 0;
    if (ParseIntegerText(text, integer))
    {
        aValue = static_cast<double>(integer);
        return true;
    }
    char *end = nullptr;
    errno = 0;
    const double value = strtod(text.c_str(), &end);
    if (*end != '\0' || end == text.c_str())
    {
        return false;
    }
    aValue = value;
    return true;
}

std::string FormatFloat(double aValue)
{
    char text[40];
    for (int precision = 6; precision <= 17; ++precision)
    {
        snprintf(text, sizeof(text), "%.*g", precision, aValue);
        if (strtod(text, nullptr) == aValue)
        {
            break;
        }
    }
    return text;
}

} // namespace genicam
} // namespace tn
