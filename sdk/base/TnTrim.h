// White space trimmed from both ends of a text, for the SDK's parsers of
// descriptions and configuration files.
#ifndef TN_TRIM_H
#define TN_TRIM_H

#include <ctype.h>
#include <stddef.h>

#include <string>

namespace tn
{

/// The bounds [aBegin, aEnd) of aText without leading and trailing white space.
inline void TrimBounds(const std::string &aText, size_t &aBegin, size_t &aEnd)
{
    aBegin = 0;
    aEnd = aText.size();
    while (aBegin < aEnd && isspace(static_cast<unsigned char>(aText[aBegin])))
    {
        ++aBegin;
    }
    while (aEnd > aBegin && isspace(static_cast<unsigned char>(aText[aEnd - 1])))
    {
        --aEnd;
    }
}

/// The text without leading and trailing white space.
inline std::string Trim(const std::string &aText)
{
    size_t lBegin = 0;
    size_t lEnd = 0;
    TrimBounds(aText, lBegin, lEnd);
    return aText.substr(lBegin, lEnd - lBegin);
}

/// Trims aText in place, without a copy when nothing leads.
inline void TrimInPlace(std::string &aText)
{
    size_t lBegin = 0;
    size_t lEnd = 0;
    TrimBounds(aText, lBegin, lEnd);
    aText.erase(lEnd);
    aText.erase(0, lBegin);
}

} // namespace tn

#endif
