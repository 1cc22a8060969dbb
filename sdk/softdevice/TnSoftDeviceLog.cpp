// Logging of the software device library.
#include "TnSoftDeviceLog.h"

#include "TnLogDispatch.h"

namespace tn
{
namespace softdevice
{
void LogWarning(const char *aFunction, const std::string &aMessage)
{
    LibraryLogger("TnSoftDeviceGEV").LogWarning(__FILE__, __LINE__, aFunction, aMessage.c_str());
}

void LogError(const char *aFunction, const std::string &aMessage)
{
    LibraryLogger("TnSoftDeviceGEV").LogError(__FILE__, __LINE__, aFunction, aMessage.c_str());
}
} // namespace softdevice
} // namespace tn
