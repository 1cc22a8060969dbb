// Small text helpers shared by the SDK libraries: TnString's text, and a
// result's text both ways.
#ifndef TN_TEXT_H
#define TN_TEXT_H

#include <string>

#include "TnExport.h"
#include "TnResult.h"
#include "TnString.h"

namespace tn
{
/// The text without white space at either end.
TN_BASE_API std::string Trim(const std::string &aText);

/// A copy of a TnString's 8-bit text; empty for a null text. Keep this rather
/// than the pointer GetAscii gives, which lives only as long as its TnString:
/// a TnString that a call returns ends with the statement.
TN_BASE_API std::string ToString(const TnString &aText);

/// A result's description, or the name of its code when it has none: the
/// text for messages built on a failure.
TN_BASE_API std::string Describe(const TnResult &aResult);

/// A failed result: aCode, described by aText. Every library builds its
/// failures with it.
TN_BASE_API TnResult Failure(uint32_t aCode, const char *aText);
TN_BASE_API TnResult Failure(uint32_t aCode, const std::string &aText);
} // namespace tn

#endif
