#include "TnText.h"

#include <ctype.h>

namespace tn
{
std::string Trim(const std::string &aText)
{
    size_t lStart = 0;
    size_t lEnd = aText.size();
    while (lStart < lEnd && isspace(static_cast<unsigned char>(aText[lStart])))
    {
        ++lStart;
    }
    while (lEnd > lStart && isspace(static_cast<unsigned char>(aText[lEnd - 1])))
    {
        --lEnd;
    }
    return aText.substr(lStart, lEnd - lStart);
}

std::string ToString(const TnString &aText)
{
    const char *lText = aText.GetAscii();
    return lText != nullptr ? std::string(lText) : std::string();
}

std::string Describe(const TnResult &aResult)
{
    const std::string lText = ToString(aResult.GetDescription());
    return lText.empty() ? ToString(aResult.GetCodeString()) : lText;
}

TnResult Failure(uint32_t aCode, const char *aText)
{
    return TnResult(aCode, TnString(aText));
}

TnResult Failure(uint32_t aCode, const std::string &aText)
{
    return TnResult(aCode, TnString(aText.c_str()));
}
} // namespace tn
