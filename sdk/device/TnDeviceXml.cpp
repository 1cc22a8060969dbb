#include "TnDeviceXml.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

// What kind of file a non-regular one is; nullptr for a regular file.
const char *NotRegular(const struct stat &aStat)
{
    switch (aStat.st_mode & S_IFMT)
    {
    case S_IFREG:
        return nullptr;
    case S_IFDIR:
        return "a directory";
    case S_IFIFO:
        return "a FIFO";
    case S_IFCHR:
    case S_IFBLK:
        return "a device";
    case S_IFSOCK:
        return "a socket";
    default:
        return "no file";
    }
}

// File systems whose files the kernel makes as they are read: their sizes say
// nothing, and their contents are the host's state.
bool IsKernelFileSystem(const struct statfs &aSystem)
{
    switch (static_cast<unsigned long>(aSystem.f_type))
    {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case BPF_FS_MAGIC:
        return true;
    default:
        return false;
    }
}

TnResult Prefixed(const TnResult &aResult, const std::string &aPrefix)
{
    return aResult.IsOK() ? aResult : Failure(aResult.GetCode(), aPrefix + Describe(aResult));
}
} // namespace

TnResult ReadWholeFile(const std::string &aPath, size_t aLimit, std::vector<uint8_t> &aBytes)
{
    // Looked at before it is opened: opening a device can act on it, and
    // opening a FIFO waits for a writer.
    struct stat lStat;
    if (stat(aPath.c_str(), &lStat) != 0)
    {
        return Failure(TN_CANNOT_OPEN_FILE, "cannot open " + aPath + ": " + strerror(errno));
    }
    if (const char *lKind = NotRegular(lStat))
    {
        return Failure(TN_CANNOT_OPEN_FILE, aPath + " is " + lKind + ", not a regular file");
    }
    const int lHandle = open(aPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (lHandle < 0)
    {
        return Failure(TN_CANNOT_OPEN_FILE, "cannot open " + aPath + ": " + strerror(errno));
    }
    std::unique_ptr<int, void (*)(int *)> lCloser(new int(lHandle), [](int *aHandle) {
        close(*aHandle);
        delete aHandle;
    });
    // What was opened, which may have been replaced since.
    struct statfs lSystem;
    if (fstat(lHandle, &lStat) != 0 || fstatfs(lHandle, &lSystem) != 0)
    {
        return Failure(TN_FILE_ERROR, "cannot read " + aPath + ": " + strerror(errno));
    }
    if (const char *lKind = NotRegular(lStat))
    {
        return Failure(TN_CANNOT_OPEN_FILE, aPath + " is " + lKind + ", not a regular file");
    }
    if (IsKernelFileSystem(lSystem))
    {
        return Failure(TN_CANNOT_OPEN_FILE, aPath + " is a kernel interface (/proc, /sys), not a stored file");
    }
    if (lStat.st_size < 0 || static_cast<uint64_t>(lStat.st_size) > aLimit)
    {
        return Failure(TN_FILE_ERROR, aPath + " is too large (more than " + std::to_string(aLimit) + " bytes)");
    }
    // Never more than the size it has, in steps that a deadline and an
    // interrupt can end; a file that grows meanwhile is refused.
    const size_t lSize = static_cast<size_t>(lStat.st_size);
    std::vector<uint8_t> lBytes(lSize + 1);
    const WaitClock::time_point lDeadline = WaitClock::now() + std::chrono::milliseconds(kFileReadTimeoutMs);
    InterruptPacer lPacer;
    size_t lRead = 0;
    while (lRead < lBytes.size())
    {
        if (lPacer.Stop())
        {
            return Failure(TN_ABORTED, "reading " + aPath + " was interrupted");
        }
        if (WaitClock::now() >= lDeadline)
        {
            return Failure(TN_TIMEOUT, "reading " + aPath + " took longer than " +
                                           std::to_string(kFileReadTimeoutMs / 1000) + " s");
        }
        const ssize_t lGot = read(lHandle, lBytes.data() + lRead, std::min<size_t>(lBytes.size() - lRead, 1u << 20));
        if (lGot < 0 && errno == EINTR)
        {
            continue;
        }
        if (lGot < 0)
        {
            return Failure(TN_FILE_ERROR, "cannot read " + aPath + ": " + strerror(errno));
        }
        if (lGot == 0)
        {
            break;
        }
        lRead += static_cast<size_t>(lGot);
    }
    if (lRead > lSize)
    {
        return Failure(TN_FILE_ERROR, aPath + " grew while it was read");
    }
    lBytes.resize(lRead);
    aBytes.swap(lBytes);
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
        const std::string lUrl(aUrl.c_str());
        return Failure(TN_INVALID_DATA_FORMAT,
                       "GenICam description: the device's URL '" + lUrl + "' is not understood" +
                           (strncasecmp(lUrl.c_str(), "file:", 5) == 0
                                ? " (a file must be named by an absolute path of this host without '..')"
                                : ""));
    }
    XmlDocument lDocument;
    lDocument.mUrl = aUrl;
    lDocument.mFileName = genicam::PlainFileName(lLocation.mFileName, lLocation.IsZip());
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
