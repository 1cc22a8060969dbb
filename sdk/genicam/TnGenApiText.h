// Numbers and texts as GenICam descriptions and feature values write them.
#ifndef TN_GENAPI_TEXT_H
#define TN_GENAPI_TEXT_H

#include <stdint.h>

#include <string>

namespace tn
{
namespace genicam
{

/// The text without leading and trailing white space.
std::string Trim(const std::string &aText);

/// A decimal or hexadecimal (0x) integer with an optional sign; hexadecimal
/// values up to 64 bits wrap into the signed range. False for anything else.
bool ParseIntegerText(const std::string &aText, int64_t &aValue);

/// A decimal or hexadecimal number, INF and NaN included.
bool ParseFloatText(const std::string &aText, double &aValue);

/// The shortest text that reads back as the same double.
std::string FormatFloat(double aValue);

} // namespace genicam
} // namespace tn

#endif
