#include "TnDeviceXml.h"

#include <string.h>
#include <strings.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include <zip.h>

#include "TnGenApiLocation.h"
#include "TnText.h"
#include "TnWait.h"

namespace tn
{
namespace device
{
namespace
{
bool EndsWithNoCase(const std::string &aText, const char *aEnd)
{
    const size_t lLength = strlen(aEnd);
    return aText.size() >= lLength && strcasecmp(aText.c_str() + aText.size() - lLength, aEnd) == 0;
}

TnResult Prefixed(const TnResult &aResult, const std::string &aPrefix)
{
    return aResult.IsOK() ? aResult : Failure(aResult.GetCode(), aPrefix + Describe(aResult));
}
} // namespace

TnResult ReadWholeFile(const std::string &aPath, size_t aLimit, std::vector<uint8_t> &aBytes)
{
    std::ifstream lFile(aPath, std::ios::binary | std::ios::ate);
    if (!lFile)
    {
        return Failure(TN_CANNOT_OPEN_FILE, "cannot open " + aPath);
    }
    const std::streamoff lSize = lFile.tellg();
    if (lSize < 0 || static_cast<uint64_t>(lSize) > aLimit)
    {
        return Failure(TN_FILE_ERROR, aPath + " is too large or unreadable");
    }
    aBytes.resize(static_cast<size_t>(lSize));
    lFile.seekg(0);
    if (lSize > 0 && !lFile.read(reinterpret_cast<char *>(aBytes.data()), lSize))
    {
        return Failure(TN_FILE_ERROR, "cannot read " + aPath);
    }
    return TnResult(TN_OK);
}

namespace
{
// ReadZipEntry into any container of bytes (a text among them), so that a
// description is unzipped where it is kept, without a copy.
template <typename Bytes>
TnResult ReadZipEntryInto(const std::vector<uint8_t> &aArchive,
                          const std::function<int64_t(const std::vector<std::string> &)> &aChoose, size_t aLimit,
                          Bytes &aData)
{
    zip_error_t lError;
    zip_error_init(&lError);
    zip_source_t *lSource = zip_source_buffer_create(aArchive.data(), aArchive.size(), 0, &lError);
    zip_t *lArchive = lSource != nullptr ? zip_open_from_source(lSource, ZIP_RDONLY, &lError) : nullptr;
    if (lArchive == nullptr)
    {
        if (lSource != nullptr)
        {
            zip_source_free(lSource);
        }
        const std::string lWhy = zip_error_strerror(&lError);
        zip_error_fini(&lError);
        return Failure(TN_INVALID_DATA_FORMAT, "the zip archive cannot be read: " + lWhy);
    }
    zip_error_fini(&lError);
    std::unique_ptr<zip_t, int (*)(zip_t *)> lHolder(lArchive, zip_close);
    const zip_int64_t lCount = zip_get_num_entries(lArchive, 0);
    std::vector<std::string> lNames;
    for (zip_int64_t lIndex = 0; lIndex < lCount; ++lIndex)
    {
        const char *lName = zip_get_name(lArchive, static_cast<zip_uint64_t>(lIndex), 0);
        lNames.push_back(lName != nullptr ? lName : "");
    }
    const int64_t lChosen = aChoose(lNames);
    if (lChosen < 0 || lChosen >= lCount)
    {
        return Failure(TN_NOT_FOUND, "the zip archive holds no such file");
    }
    zip_stat_t lStat;
    zip_stat_init(&lStat);
    if (zip_stat_index(lArchive, static_cast<zip_uint64_t>(lChosen), 0, &lStat) != 0 ||
        (lStat.valid & ZIP_STAT_SIZE) == 0 || lStat.size > aLimit)
    {
        return Failure(TN_FILE_ERROR, "the archived file " + lNames[lChosen] + " is too large or unreadable");
    }
    zip_file_t *lFile = zip_fopen_index(lArchive, static_cast<zip_uint64_t>(lChosen), 0);
    if (lFile == nullptr)
    {
        return Failure(TN_INVALID_DATA_FORMAT, std::string("cannot unzip: ") + zip_strerror(lArchive));
    }
    Bytes lData(static_cast<size_t>(lStat.size), 0);
    // A slice at a time, so that an interrupt of the thread's waits ends it.
    const size_t kSlice = 1u << 20;
    InterruptPacer lPacer;
    size_t lDone = 0;
    zip_int64_t lRead = 0;
    while (lDone < lData.size() && lRead >= 0)
    {
        if (lPacer.Stop())
        {
            zip_fclose(lFile);
            return Failure(TN_ABORTED, "the unzipping of " + lNames[lChosen] + " was interrupted");
        }
        lRead = zip_fread(lFile, &lData[lDone], std::min(kSlice, lData.size() - lDone));
        if (lRead == 0)
        {
            break;
        }
        lDone += lRead > 0 ? static_cast<size_t>(lRead) : 0;
    }
    // Reading to the end checks the entry's CRC: one byte more gives 0 bytes
    // or the error.
    uint8_t lPast = 0;
    const bool lComplete = lDone == lData.size() && zip_fread(lFile, &lPast, sizeof(lPast)) == 0;
    const int lCode = lComplete ? ZIP_ER_OK : zip_error_code_zip(zip_file_get_error(lFile));
    const std::string lWhy = lComplete ? std::string() : zip_file_strerror(lFile);
    zip_fclose(lFile);
    if (!lComplete)
    {
        return Failure(lCode == ZIP_ER_CRC ? TN_CORRUPTED_DATA : TN_INVALID_DATA_FORMAT, "cannot unzip " +
                                                                                              lNames[lChosen] + ": " +
                                                                                              lWhy);
    }
    aData.swap(lData);
    return TnResult(TN_OK);
}

} // namespace

TnResult ReadZipEntry(const std::vector<uint8_t> &aArchive,
                      const std::function<int64_t(const std::vector<std::string> &)> &aChoose, size_t aLimit,
                      std::vector<uint8_t> &aData)
{
    return ReadZipEntryInto(aArchive, aChoose, aLimit, aData);
}

TnResult UnzipXml(const std::vector<uint8_t> &aArchive, std::string &aXml)
{
    std::string lXml;
    const TnResult lResult = ReadZipEntryInto(
        aArchive,
        [](const std::vector<std::string> &aNames) -> int64_t {
            int64_t lFirstFile = -1;
            for (size_t lIndex = 0; lIndex < aNames.size(); ++lIndex)
            {
                if (EndsWithNoCase(aNames[lIndex], ".xml"))
                {
                    return static_cast<int64_t>(lIndex);
                }
                if (lFirstFile < 0 && !aNames[lIndex].empty() && aNames[lIndex].back() != '/')
                {
                    lFirstFile = static_cast<int64_t>(lIndex); // a directory holds nothing
                }
            }
            return lFirstFile;
        },
        kMaxXmlSize, lXml);
    if (lResult.GetCode() == TN_NOT_FOUND)
    {
        return Failure(TN_INVALID_DATA_FORMAT, "GenICam description: the zip archive holds no file");
    }
    if (!lResult.IsOK())
    {
        return Prefixed(lResult, "GenICam description: ");
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
        TnResult lResult = ReadWholeFile(lLocation.mPath, kMaxXmlSize, lDocument.mRaw);
        if (!lResult.IsOK())
        {
            return Prefixed(lResult, "GenICam description: ");
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
