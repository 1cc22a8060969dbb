// The SDK's registry of log sinks. Loggers write every line that passes their
// priority to the registered sinks and to the optional log file.
#ifndef TN_LOG_DISPATCH_H
#define TN_LOG_DISPATCH_H

#include <stdint.h>

#include "TnLog.h"

namespace tn
{
/// Registers a sink; the registry does not own it. Registering twice has no effect.
TN_BASE_API void AddLogSink(TnLogSink *aSink);

/// Unregisters a sink. Unless called from inside a sink, it returns only once
/// no other thread is still delivering a line to it.
TN_BASE_API void RemoveLogSink(TnLogSink *aSink);

/// The logger of a library (or another part of the SDK) named aName: made
/// at its first use and never destroyed, so that it outlives every object
/// and thread that logs, and the same one for every call with the name.
TN_BASE_API TnLogger &LibraryLogger(const char *aName);

/// Delivers one line to every registered sink and to the log file. A sink that
/// throws does not keep the line from the others, and the exception ends here.
TN_BASE_API void DispatchLog(TnLogLevelEnum aLevel, const char *aFile, uint32_t aLine, const char *aFunction,
                             const char *aLogger, const char *aMessage);
} // namespace tn

#endif
