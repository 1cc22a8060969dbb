// Logging of the software device library, and the one place where calls into
// program code (register event sinks and the like) are guarded.
#ifndef TN_SOFT_DEVICE_LOG_H
#define TN_SOFT_DEVICE_LOG_H

#include <exception>
#include <string>

#include "TnLog.h"
#include "TnResult.h"
#include "TnSinkRegistry.h"
#include "TnText.h"

namespace tn
{
namespace softdevice
{
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
    catch (const std::exception &lError)
    {
        LogError(aWhat, std::string(aWhat) + " threw: " + lError.what());
        return tn::Failure(TN_GENERIC_ERROR, std::string(aWhat) + " threw: " + lError.what());
    }
    catch (...)
    {
        LogError(aWhat, std::string(aWhat) + " threw an unknown exception");
        return tn::Failure(TN_GENERIC_ERROR, std::string(aWhat) + " threw");
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

/// GuardedResult for a call of an object that aHolder holds (a sink, a
/// source), made as a call in progress that its removal waits for: aRefused,
/// and nothing called, once aHolder no longer holds it (it was removed or
/// destroyed).
template <typename Object, typename Call>
TnResult GuardedResult(SinkRegistry<Object> &aHolder, Object *aObject, const char *aWhat, Call &&aCall,
                       const TnResult &aRefused = TnResult(TN_ABORTED))
{
    TnResult lResult = aRefused;
    aHolder.CallIfRegistered(aObject, [&](Object *) { lResult = GuardedResult(aWhat, aCall); });
    return lResult;
}

/// The same for a call without result.
template <typename Object, typename Call>
void Guarded(SinkRegistry<Object> &aHolder, Object *aObject, const char *aWhat, Call &&aCall)
{
    aHolder.CallIfRegistered(aObject, [&](Object *) { Guarded(aWhat, aCall); });
}
} // namespace softdevice
} // namespace tn

#endif
