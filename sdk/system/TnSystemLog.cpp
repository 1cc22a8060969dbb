#include "TnSystemLog.h"

#include "TnLog.h"

namespace tn
{
namespace system
{
namespace
{
TnLogger &Logger()
{
    static TnLogger *sLogger = new TnLogger(TnString("TnSystem")); // outlives every system
    return *sLogger;
}
} // namespace

void WarnOfSearch(const char *aFile, int aLine, const std::string &aMessage)
{
    Logger().LogWarning(aFile, aLine, "TnSystem::Find", aMessage.c_str());
}
} // namespace system
} // namespace tn
