// Logging of the software device library.
#include "TnSoftDeviceLog.h"

namespace tn
{
namespace softdevice
{
TnLogger &Logger()
{
    static TnLogger *sLogger = new TnLogger(TnString("TnSoftDeviceGEV")); // outlives every device
    return *sLogger;
}

void LogWarning(const char *aFunction, const std::string &aMessage)
{
    Logger().LogWarning(__FILE__, __LINE__, aFunction, aMessage.c_str());
}

void LogError(const char *aFunction, const std::string &aMessage)
{
    Logger().LogError(__FILE__, __LINE__, aFunction, aMessage.c_str());
}
} // namespace softdevice
} // namespace tn
