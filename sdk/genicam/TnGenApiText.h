// Numbers and texts as GenICam descriptions and feature values write them.
#ifndef TN_GENAPI_TEXT_H
#define TN_GENAPI_TEXT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>

#include "TnText.h"

namespace tn
{
namespace genicam
{

/// The text without leading and trailing white space (libTnBase's).
using tn::Trim;

/// A decimal or hexadecimal (0x) integer with an optional sign; hexadecimal
/// values up to 64 bits wrap into the signed range. False for anything else.
bool ParseIntegerText(const std::string &aText, int64_t &aValue);

/// A decimal or hexadecimal number, INF and NaN included.
bool ParseFloatText(const std::string &aText, double &aValue);

/// "0x" and the value in upper-case hexadecimal digits.
std::string FormatHex(uint64_t aValue);

/// The shortest text that reads back as the same double.
std::string FormatFloat(double aValue);

/// The value a table of names gives aText; false, leaving aValue, for a
/// name the table does not have.
template <typename T, size_t N>
bool LookupName(const std::pair<const char *, T> (&aNames)[N], const std::string &aText, T &aValue)
{
    for (const auto &lName : aNames)
    {
        if (aText == lName.first)
        {
            aValue = lName.second;
            return true;
        }
    }
    return false;
}

} // namespace genicam
} // namespace tn

#endif
