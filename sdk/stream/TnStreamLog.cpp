#include "TnStreamLog.h"

#include "TnLog.h"

namespace tn
{
namespace stream
{
void LogWarning(const std::string &aMessage)
{
    static TnLogger *sLogger = new TnLogger(TnString("TnStream")); // outlives every stream and thread
    sLogger->LogWarning(__FILE__, __LINE__, "TnStream", aMessage.c_str());
}
} // namespace stream
} // namespace tn
