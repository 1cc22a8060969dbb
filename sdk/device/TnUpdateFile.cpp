#include "TnUpdateFile.h"

#include <ctype.h>

#include <algorithm>
#include <functional>

#include <zlib.h>

#include "TnDeviceXml.h"
#include "TnText.h"

namespace tn
{
namespace device
{
namespace
{
constexpr const char *kManifestName = "manifest.txt";
constexpr size_t kMaxManifestSize = 64u << 10;

std::string Lower(std::string aText)
{
    std::transform(aText.begin(), aText.end(), aText.begin(), [](unsigned char aChar) { return tolower(aChar); });
    return aText;
}

TnResult Unzip(const std::vector<uint8_t> &aArchive, const std::string &aName, size_t aLimit,
               std::vector<uint8_t> &aData)
{
    TnResult lResult = ReadZipEntry(
        aArchive,
        [&](const std::vector<std::string> &aNames) -> int64_t {
            const auto lFound = std::find(aNames.begin(), aNames.end(), aName);
            return lFound == aNames.end() ? -1 : lFound - aNames.begin();
        },
        aLimit, aData);
    if (lResult.GetCode() == TN_NOT_FOUND)
    {
        return Failure(TN_INVALID_DATA_FORMAT, "the update file holds no " + aName);
    }
    if (!lResult.IsOK())
    {
        return Failure(lResult.GetCode(), "the update file: " + Describe(lResult));
    }
    return lResult;
}

TnResult ParseManifest(const std::string &aText, UpdateFile &aFile)
{
    std::string lFormat;
    std::string lCrc;
    size_t lStart = 0;
    for (size_t lLine = 1; lStart <= aText.size(); ++lLine)
    {
        size_t lEnd = aText.find('\n', lStart);
        if (lEnd == std::string::npos)
        {
            lEnd = aText.size();
        }
        std::string lText = aText.substr(lStart, lEnd - lStart);
        lStart = lEnd + 1;
        const size_t lComment = lText.find('#');
        lText = Trim(lText.substr(0, lComment));
        if (lText.empty())
        {
            continue;
        }
        const size_t lEquals = lText.find('=');
        if (lEquals == std::string::npos)
        {
            return Failure(TN_INVALID_DATA_FORMAT,
                           "the update file's manifest, line " + std::to_string(lLine) + ": no \"key = value\"");
        }
        const std::string lKey = Lower(Trim(lText.substr(0, lEquals)));
        const std::string lValue = Trim(lText.substr(lEquals + 1));
        if (lKey == "format")
        {
            lFormat = lValue;
        }
        else if (lKey == "models")
        {
            aFile.mModels.clear();
            size_t lFrom = 0;
            while (lFrom <= lValue.size())
            {
                size_t lComma = lValue.find(',', lFrom);
                if (lComma == std::string::npos)
                {
                    lComma = lValue.size();
                }
                const std::string lModel = Trim(lValue.substr(lFrom, lComma - lFrom));
                if (!lModel.empty())
                {
                    aFile.mModels.push_back(lModel);
                }
                lFrom = lComma + 1;
            }
        }
        else if (lKey == "version")
        {
            aFile.mVersion = lValue;
        }
        else if (lKey == "firmware")
        {
            aFile.mFirmwareName = lValue;
        }
        else if (lKey == "crc32")
        {
            lCrc = lValue;
        }
        else if (lKey == "target")
        {
            aFile.mTarget = lValue;
        }
    }
    if (lFormat != "1")
    {
        return Failure(TN_INVALID_DATA_FORMAT, "the update file's manifest is not of format 1");
    }
    if (aFile.mModels.empty() || aFile.mVersion.empty() || aFile.mFirmwareName.empty() || aFile.mTarget.empty())
    {
        return Failure(TN_INVALID_DATA_FORMAT,
                       "the update file's manifest lacks its models, version, firmware or target");
    }
    const std::string lHex = lCrc.size() > 2 && lCrc[0] == '0' && (lCrc[1] == 'x' || lCrc[1] == 'X') ? lCrc.substr(2)
                                                                                                     : lCrc;
    if (lHex.empty() || lHex.size() > 8 ||
        !std::all_of(lHex.begin(), lHex.end(), [](unsigned char aChar) { return isxdigit(aChar) != 0; }))
    {
        return Failure(TN_INVALID_DATA_FORMAT, "the update file's manifest has no crc32 in hexadecimal");
    }
    aFile.mCrc32 = static_cast<uint32_t>(std::stoul(lHex, nullptr, 16));
    return TnResult(TN_OK);
}
} // namespace

bool UpdateFile::Fits(const std::string &aModel) const
{
    return std::find(mModels.begin(), mModels.end(), aModel) != mModels.end();
}

std::string UpdateFile::ModelList() const
{
    std::string lList;
    for (const std::string &lModel : mModels)
    {
        lList += (lList.empty() ? "" : ", ") + lModel;
    }
    return lList;
}

TnResult ParseUpdateFile(const std::vector<uint8_t> &aArchive, UpdateFile &aFile)
{
    UpdateFile lFile;
    std::vector<uint8_t> lManifest;
    TnResult lResult = Unzip(aArchive, kManifestName, kMaxManifestSize, lManifest);
    if (lResult.IsOK())
    {
        lResult = ParseManifest(std::string(lManifest.begin(), lManifest.end()), lFile);
    }
    if (lResult.IsOK())
    {
        lResult = Unzip(aArchive, lFile.mFirmwareName, kMaxFirmwareSize, lFile.mFirmware);
    }
    if (!lResult.IsOK())
    {
        return lResult;
    }
    uLong lCrc = crc32(0L, Z_NULL, 0);
    for (size_t lDone = 0; lDone < lFile.mFirmware.size();)
    {
        const size_t lChunk = std::min<size_t>(lFile.mFirmware.size() - lDone, 1u << 30);
        lCrc = crc32(lCrc, lFile.mFirmware.data() + lDone, static_cast<uInt>(lChunk));
        lDone += lChunk;
    }
    if (static_cast<uint32_t>(lCrc) != lFile.mCrc32)
    {
        char lText[96];
        snprintf(lText, sizeof(lText), "the firmware's CRC-32 is %08x, the manifest says %08x",
                 static_cast<unsigned>(lCrc), static_cast<unsigned>(lFile.mCrc32));
        return Failure(TN_CORRUPTED_DATA, lText);
    }
    aFile = std::move(lFile);
    return TnResult(TN_OK);
}

TnResult ReadUpdateFile(const std::string &aPath, UpdateFile &aFile)
{
    std::vector<uint8_t> lArchive;
    TnResult lResult = ReadWholeFile(aPath, kMaxFirmwareSize + (1u << 20), lArchive);
    if (!lResult.IsOK())
    {
        return Failure(lResult.GetCode(), "the update file: " + Describe(lResult));
    }
    return ParseUpdateFile(lArchive, aFile);
}
} // namespace device
} // namespace tn
