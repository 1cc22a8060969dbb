// The log of discovery: the logger "TnSystem", which outlives every system.
#ifndef TN_SYSTEM_LOG_H
#define TN_SYSTEM_LOG_H

#include <string>

namespace tn
{
namespace system
{
/// Writes a warning of a search (TnSystem::Find), naming the source line
/// (__FILE__, __LINE__) that raised it.
void WarnOfSearch(const char *aFile, int aLine, const std::string &aMessage);
} // namespace system
} // namespace tn

#endif
