#include "TnSystemLog.h"

#include "TnLogDispatch.h"

namespace tn
{
namespace system
{
void WarnOfSearch(const char *aFile, int aLine, const std::string &aMessage)
{
    LibraryLogger("TnSystem").LogWarning(aFile, aLine, "TnSystem::Find", aMessage.c_str());
}
} // namespace system
} // namespace tn
