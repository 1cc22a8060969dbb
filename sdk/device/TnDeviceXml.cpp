#include "TnDeviceXml.h"

#include <string.h>
#include <strings.h>

#include <fstream>
#include <memory>

#include <zip.h>

#include "TnGenApiLocation.h"

namespace tn
{
namespace device
{
namespace
{
TnResult Failure(uint32_t aCode, const std::string &aText)
{
    return TnResult(aCode, TnString(aText.c_str()));
}

bool EndsWithNoCase(const std::string &aText, const char *aEnd)
{
    const size_t lLength = strlen(aEnd);
    return aText.size() >= lLength && strcasecmp(aText.c_str() + aText.size() - lLength, aEnd) == 0;
}

TnResult ReadFile(const std::string &aPath, std::vector<uint8_t> &aBytes)
{
    std::ifstream lFile(aPath, std::ios::binary | std::ios::ate);
    if (!lFile)
    {
        return Failure(TN_CANNOT_OPEN_FILE, "GenICam description: cannot open " + aPath);
    }
    const std::streamoff lSize = lFile.tellg();
    if (lSize < 0 || static_cast<uint64_t>(lSize) > kMaxXmlSize)
    {
        return Failure(TN_FILE_ERROR, "GenICam description: " + aPath + " is too large or unreadable");
    }
    aBytes.resize(static_cast<size_t>(lSize));
    lFile.seekg(0);
    if (lSize > 0 && !lFile.read(reinterpret_cast<char *>(aBytes.data()), lSize))
    {
        return Failure(TN_FILE_ERROR, "GenICam description: cannot read " + aPath);
    }
    return TnResult(TN_OK);
}
} // namespace

TnResult UnzipXml(const std::vector<uint8_t> &aArchive, std::string &aXml)
{
    zip_error_t lError;
    zip_error_init(&lError);
    zip_source_t *lSource = zip_source_buffer_create(aArchive.data(), aArchive.size(), 0, &lError);
    if (lSource == nullptr)
    {
        const std::string lWhy = zip_error_strerror(&lError);
        zip_error_fini(&lError);
        return Failure(TN_INVALID_DATA_FORMAT, "GenICam description: " + lWhy);
    }
    zip_t *lArchive = zip_open_from_source(lSource, ZIP_RDONLY, &lError);
    if (lArchive == nullptr)
    {
        zip_source_free(lSource);
        const std::string lWhy = zip_error_strerror(&lError);
        zip_error_fini(&lError);
        return Failure(TN_INVALID_DATA_FORMAT, "GenICam description: the zip archive cannot be read: " + lWhy);
    }
    zip_error_fini(&lError);
    std::unique_ptr<zip_t, int (*)(zip_t *)> lHolder(lArchive, zip_close);
    const zip_int64_t lCount = zip_get_num_entries(lArchive, 0);
    zip_int64_t lChosen = -1;
    for (zip_int64_t lIndex = 0; lIndex < lCount; ++lIndex)
    {
        const char *lName = zip_get_name(lArchive, static_cast<zip_uint64_t>(lIndex), 0);
        if (lName != nullptr && EndsWithNoCase(lName, ".xml"))
        {
            lChosen = lIndex;
            break;
        }
    }
    if (lChosen < 0 && lCount > 0)
    {
        lChosen = 0;
    }
    if (lChosen < 0)
    {
        return Failure(TN_INVALID_DATA_FORMAT, "GenICam description: the zip archive is empty");
    }
    zip_stat_t lStat;
    zip_stat_init(&lStat);
    if (zip_stat_index(lArchive, static_cast<zip_uint64_t>(lChosen), 0, &lStat) != 0 ||
        (lStat.valid & ZIP_STAT_SIZE) == 0 || lStat.size > kMaxXmlSize)
    {
        return Failure(TN_INVALID_DATA_FORMAT, "GenICam description: the archived file is too large or unreadable");
    }
    zip_file_t *lFile = zip_fopen_index(lArchive, static_cast<zip_uint64_t>(lChosen), 0);
    if (lFile == nullptr)
    {
        return Failure(TN_INVALID_DATA_FORMAT,
                       std::string("GenICam description: cannot unzip: ") + zip_strerror(lArchive));
    }
    std::string lXml(static_cast<size_t>(lStat.size), '\0');
    const zip_int64_t lRead = lXml.empty() ? 0 : zip_fread(lFile, &lXml[0], lXml.size());
    const bool lComplete = lRead == static_cast<zip_int64_t>(lXml.size());
    const std::string lWhy = lComplete ? std::string() : zip_file_strerror(lFile);
    zip_fclose(lFile);
    if (!lComplete)
    {
        return Failure(TN_INVALID_DATA_FORMAT, "GenICam description: cannot unzip: " + lWhy);
    }
    aXml.swap(lXml);
    return TnResult(TN_OK);
}

TnResult LoadXml(const std::string &aUrl, const MemoryReader &aRead, XmlDocument &aDocument)
{
    genicam::XmlLocation lLocation;
    if (!genicam::ParseXmlLocation(aUrl, lLocation))
    {
        return Failure(TN_INVALID_DATA_FORMAT,
                       "GenICam description: the device's URL '" + aUrl + "' is not understood");
    }
    XmlDocument lDocument;
    lDocument.mUrl = aUrl;
    lDocument.mFileName = lLocation.mFileName;
    switch (lLocation.mKind)
    {
    case genicam::XmlLocation::kLocal:
    {
        if (lLocation.mLength > kMaxXmlSize)
        {
            return Failure(TN_INVALID_DATA_FORMAT, "GenICam description: the device claims a description of " +
                                                       std::to_string(lLocation.mLength) + " bytes");
        }
        lDocument.mRaw.resize(lLocation.mLength);
        TnResult lResult = aRead(lLocation.mAddress, lDocument.mRaw.data(), lDocument.mRaw.size());
        if (!lResult.IsOK())
        {
            return lResult;
        }
        break;
    }
    case genicam::XmlLocation::kFile:
    {
        TnResult lResult = ReadFile(lLocation.mPath, lDocument.mRaw);
        if (!lResult.IsOK())
        {
            return lResult;
        }
        break;
    }
    case genicam::XmlLocation::kHttp:
        return Failure(TN_NOT_SUPPORTED,
                       "GenICam description: descriptions on web servers are not supported (" + aUrl + ")");
    default:
        return Failure(TN_INVALID_DATA_FORMAT,
                       "GenICam description: the device's URL '" + aUrl + "' is not understood");
    }
    lDocument.mZipped = lLocation.IsZip();
    if (lDocument.mZipped)
    {
        TnResult lResult = UnzipXml(lDocument.mRaw, lDocument.mXml);
        if (!lResult.IsOK())
        {
            return lResult;
        }
    }
    else
    {
        // A text in memory may end in NUL padding.
        size_t lLength = lDocument.mRaw.size();
        while (lLength > 0 && lDocument.mRaw[lLength - 1] == 0)
        {
            --lLength;
        }
        lDocument.mXml.assign(reinterpret_cast<const char *>(lDocument.mRaw.data()), lLength);
    }
    aDocument = std::move(lDocument);
    return TnResult(TN_OK);
}
} // namespace device
} // namespace tn
