#include "TnSystemText.h"

#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

namespace tn
{
namespace system
{
std::string ReadTextFile(const std::string &aPath, size_t aLimit)
{
    std::ifstream lFile(aPath, std::ios::binary);
    if (!lFile)
    {
        return std::string();
    }
    std::string lText(aLimit, '\0');
    lFile.read(&lText[0], static_cast<std::streamsize>(aLimit));
    lText.resize(static_cast<size_t>(lFile.gcount()));
    return lText;
}

std::string ReadAttribute(const std::string &aPath)
{
    std::string lText = ReadTextFile(aPath, 4096);
    const size_t lEnd = lText.find('\n');
    if (lEnd != std::string::npos)
    {
        lText.erase(lEnd);
    }
    return Trim(lText);
}

std::string LinkBaseName(const std::string &aPath)
{
    char lTarget[PATH_MAX];
    const ssize_t lLength = readlink(aPath.c_str(), lTarget, sizeof(lTarget) - 1);
    if (lLength <= 0)
    {
        return std::string();
    }
    std::string lPath(lTarget, static_cast<size_t>(lLength));
    const size_t lSlash = lPath.find_last_of('/');
    return lSlash == std::string::npos ? lPath : lPath.substr(lSlash + 1);
}

std::string ToLower(const std::string &aText)
{
    std::string lText(aText);
    for (char &lChar : lText)
    {
        lChar = static_cast<char>(tolower(static_cast<unsigned char>(lChar)));
    }
    return lText;
}

bool ParseUnsigned(const std::string &aText, int aBase, unsigned long &aValue)
{
    std::string lText(aText);
    if (aBase == 16 && lText.size() > 2 && lText[0] == '0' && (lText[1] == 'x' || lText[1] == 'X'))
    {
        lText.erase(0, 2);
    }
    if (lText.empty())
    {
        return false;
    }
    for (char lChar : lText)
    {
        const int lValue = static_cast<unsigned char>(lChar);
        if (aBase == 16 ? !isxdigit(lValue) : !isdigit(lValue))
        {
            return false;
        }
    }
    errno = 0;
    char *lEnd = nullptr;
    const unsigned long lValue = strtoul(lText.c_str(), &lEnd, aBase);
    if (errno != 0 || lEnd == nullptr || *lEnd != '\0')
    {
        return false;
    }
    aValue = lValue;
    return true;
}
} // namespace system
} // namespace tn
