// Small text helpers shared by the SDK libraries.
#ifndef TN_TEXT_H
#define TN_TEXT_H

#include <string>

#include "TnExport.h"

namespace tn
{
/// The text without white space at either end.
TN_BASE_API std::string Trim(const std::string &aText);
} // namespace tn

#endif
