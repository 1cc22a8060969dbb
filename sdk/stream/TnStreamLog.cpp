#include "TnStreamLog.h"

#include "TnLogDispatch.h"

namespace tn
{
namespace stream
{
void LogWarning(const std::string &aMessage)
{
    LibraryLogger("TnStream").LogWarning(__FILE__, __LINE__, "TnStream", aMessage.c_str());
}
} // namespace stream
} // namespace tn
