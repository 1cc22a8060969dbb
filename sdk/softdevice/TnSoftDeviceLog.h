// Logging of the software device library, and the one place where calls into
// program code (register event sinks and the like) are guarded.
#ifndef TN_SOFT_DEVICE_LOG_H
#define TN_SOFT_DEVICE_LOG_H

#include <exception>
#include <string>

#include "TnLog.h"
#include "TnResult.h"

namespace tn
{
namespace softdevice
{
/// The library's logger ("TnSoftDeviceGEV").
TnLogger &Logger();

void LogWarning(const char *aFunction, const std::string &aMessage);
void LogError(const char *aFunction, const std::string &aMessage);

/// Runs aCall, a call into program code that returns a TnResult. Whatever it
/// throws is logged, with aWhat naming the call, and comes back as
/// TN_GENERIC_ERROR; the caller runs on.
template <typename Call> TnResult GuardedResult(const char *aWhat, Call &&aCall)
{
    try
    {
        return aCall();
    }
    catch (const std::exception &error)
    {
        LogError(aWhat, std::string(aWhat) + " threw: " + error.what());
        return TnResult(TN_GENERIC_ERROR, TnString((std::string(aWhat) + " threw: " + error.what()).c_str()));
    }
    catch (...)
    {
        LogError(aWhat, std::string(aWhat) + " threw an unknown exception");
        return TnResult(TN_GENERIC_ERROR, TnString((std::string(aWhat) + " threw").c_str()));
    }
}

/// The same for a call without result; what it throws is logged only.
template <typename Call> void Guarded(const char *aWhat, Call &&aCall)
{
    GuardedResult(aWhat, [&]() {
        aCall();
        return TnResult(TN_OK);
    });
}

/// A result with a code and a description.
TnResult Failure(uint32_t aCode, const std::string &aDescription);
} // namespace softdevice
} // namespace tn

#endif
