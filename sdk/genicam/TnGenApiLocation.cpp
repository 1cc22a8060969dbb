#include "TnGenApiLocation.h"

#include <ctype.h>
#include <string.h>
#include <strings.h>

namespace tn
{
namespace genicam
{
namespace
{
bool ParseHex32(const std::string &aText, uint32_t &aValue)
{
    size_t lStart = 0;
    if (aText.size() > 2 && aText[0] == '0' && (aText[1] == 'x' || aText[1] == 'X'))
    {
        lStart = 2;
    }
    if (lStart >= aText.size() || aText.size() - lStart > 8)
    {
        return false;
    }
    uint32_t lValue = 0;
    for (size_t lIndex = lStart; lIndex < aText.size(); ++lIndex)
    {
        const int lChar = static_cast<unsigned char>(aText[lIndex]);
        if (!isxdigit(lChar))
        {
            return false;
        }
        lValue = (lValue << 4) | static_cast<uint32_t>(isdigit(lChar) ? lChar - '0' : tolower(lChar) - 'a' + 10);
    }
    aValue = lValue;
    return true;
}

bool StartsWithNoCase(const std::string &aText, const char *aPrefix)
{
    const size_t lLength = strlen(aPrefix);
    return aText.size() >= lLength && strncasecmp(aText.c_str(), aPrefix, lLength) == 0;
}
// Whether a path has a ".." step, which names a place by where another is.
bool HasDotDot(const std::string &aPath)
{
    size_t lStart = 0;
    while (lStart <= aPath.size())
    {
        size_t lEnd = aPath.find_first_of("/\\", lStart);
        if (lEnd == std::string::npos)
        {
            lEnd = aPath.size();
        }
        if (aPath.compare(lStart, lEnd - lStart, "..") == 0)
        {
            return true;
        }
        lStart = lEnd + 1;
    }
    return false;
}

bool EndsWithNoCase(const std::string &aText, const char *aEnd)
{
    const size_t lLength = strlen(aEnd);
    return aText.size() >= lLength && strcasecmp(aText.c_str() + aText.size() - lLength, aEnd) == 0;
}

bool IsPlainCharacter(char aChar)
{
    const int lChar = static_cast<unsigned char>(aChar);
    return (lChar < 0x80 && isalnum(lChar)) || aChar == '.' || aChar == '-' || aChar == '_';
}
} // namespace

std::string PlainFileName(const std::string &aName, bool aZip)
{
    std::string lName(aName.c_str());
    const size_t lSlash = lName.find_last_of("/\\");
    if (lSlash != std::string::npos)
    {
        lName.erase(0, lSlash + 1);
    }
    for (char &lChar : lName)
    {
        if (!IsPlainCharacter(lChar))
        {
            lChar = '_';
        }
    }
    // No hidden file, and neither "." nor "..".
    lName.erase(0, lName.find_first_not_of('.'));
    if (lName.size() > kMaxPlainFileName)
    {
        const char *lExtension = EndsWithNoCase(lName, ".xml") ? ".xml" : EndsWithNoCase(lName, ".zip") ? ".zip" : "";
        lName = lName.substr(0, kMaxPlainFileName - strlen(lExtension)) + lExtension;
    }
    if (lName.empty())
    {
        return aZip ? "device.zip" : "device.xml";
    }
    return lName;
}

bool XmlLocation::IsZip() const
{
    const size_t lSize = mFileName.size();
    return lSize >= 4 && strcasecmp(mFileName.c_str() + lSize - 4, ".zip") == 0;
}

bool ParseXmlLocation(const std::string &aUrl, XmlLocation &aLocation)
{
    // The register is a NUL-padded field: the text ends at the first NUL.
    std::string lUrl(aUrl.c_str());
    while (!lUrl.empty() && isspace(static_cast<unsigned char>(lUrl.back())))
    {
        lUrl.pop_back();
    }
    aLocation = XmlLocation();
    if (StartsWithNoCase(lUrl, "http://") || StartsWithNoCase(lUrl, "https://"))
    {
        aLocation.mKind = XmlLocation::kHttp;
        aLocation.mPath = lUrl;
        return true;
    }
    if (StartsWithNoCase(lUrl, "file:"))
    {
        std::string lPath = lUrl.substr(5);
        const size_t lQuery = lPath.find('?');
        if (lQuery != std::string::npos)
        {
            lPath.erase(lQuery);
        }
        // file:///path, file://localhost/path or file:/path: an absolute
        // path of this host, which alone a file URL names.
        if (lPath.compare(0, 3, "///") == 0)
        {
            lPath.erase(0, 2);
        }
        else if (StartsWithNoCase(lPath, "//localhost/"))
        {
            lPath.erase(0, 11);
        }
        if (lPath.empty() || lPath[0] != '/' || lPath.compare(0, 2, "//") == 0 || HasDotDot(lPath))
        {
            return false;
        }
        aLocation.mKind = XmlLocation::kFile;
        aLocation.mPath = lPath;
        const size_t lSlash = lPath.find_last_of("/\\");
        aLocation.mFileName = lSlash == std::string::npos ? lPath : lPath.substr(lSlash + 1);
        return true;
    }
    if (!StartsWithNoCase(lUrl, "local:"))
    {
        return false;
    }
    std::string lRest = lUrl.substr(6);
    const size_t lQuery = lRest.find('?');
    if (lQuery != std::string::npos)
    {
        lRest.erase(lQuery);
    }
    while (!lRest.empty() && lRest[0] == '/')
    {
        lRest.erase(0, 1);
    }
    const size_t lFirst = lRest.find(';');
    const size_t lSecond = lFirst == std::string::npos ? std::string::npos : lRest.find(';', lFirst + 1);
    if (lFirst == 0 || lSecond == std::string::npos || lRest.find(';', lSecond + 1) != std::string::npos)
    {
        return false;
    }
    uint32_t lAddress = 0;
    uint32_t lLength = 0;
    if (!ParseHex32(lRest.substr(lFirst + 1, lSecond - lFirst - 1), lAddress) ||
        !ParseHex32(lRest.substr(lSecond + 1), lLength) || lLength == 0 ||
        static_cast<uint64_t>(lAddress) + lLength > 0x100000000ull)
    {
        return false;
    }
    aLocation.mKind = XmlLocation::kLocal;
    aLocation.mFileName = lRest.substr(0, lFirst);
    aLocation.mAddress = lAddress;
    aLocation.mLength = lLength;
    return true;
}
} // namespace genicam
} // namespace tn
