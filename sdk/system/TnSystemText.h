// Small text and file helpers of the discovery internals.
#ifndef TN_SYSTEM_TEXT_H
#define TN_SYSTEM_TEXT_H

#include <stddef.h>

#include <string>

#include "TnText.h" // Trim

namespace tn
{
namespace system
{
/// The content of a file, at most aLimit bytes; empty when it cannot be read.
std::string ReadTextFile(const std::string &aPath, size_t aLimit);

/// The first line of a small file (a sysfs attribute), without surrounding
/// white space.
std::string ReadAttribute(const std::string &aPath);

/// The last part of the path a symbolic link points to; empty when aPath is
/// no link.
std::string LinkBaseName(const std::string &aPath);

std::string ToLower(const std::string &aText);

/// A whole unsigned number in the given base (16 also takes a 0x prefix);
/// false for anything else, including an empty text or an overflow.
bool ParseUnsigned(const std::string &aText, int aBase, unsigned long &aValue);
} // namespace system
} // namespace tn

#endif
