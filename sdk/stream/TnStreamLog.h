// The log of streams and pipelines: the logger "TnStream", which outlives
// every stream.
#ifndef TN_STREAM_LOG_H
#define TN_STREAM_LOG_H

#include <string>

namespace tn
{
namespace stream
{
/// Writes a warning line.
void LogWarning(const std::string &aMessage);
} // namespace stream
} // namespace tn

#endif
