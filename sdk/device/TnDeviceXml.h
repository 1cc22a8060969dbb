// A device's GenICam description: where its URL points, the bytes found
// there, and the XML inside (unzipped when it comes as a zip archive).
#ifndef TN_DEVICE_XML_H
#define TN_DEVICE_XML_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "TnExport.h"
#include "TnResult.h"

namespace tn
{
namespace device
{
struct XmlDocument
{
    std::string mUrl;          // the location as the device gives it
    std::string mFileName;     // the file name the location names
    std::vector<uint8_t> mRaw; // the file or archive as stored
    bool mZipped = false;
    std::string mXml; // the description itself
};

/// Reads aSize bytes of device memory at aAddress.
using MemoryReader = std::function<TnResult(uint64_t aAddress, void *aData, size_t aSize)>;

/// The largest description the SDK reads from a device.
constexpr size_t kMaxXmlSize = 64u << 20;

/// Fetches the description a URL names: "Local:" from device memory through
/// aRead (a .zip name is unzipped), "File:" from a file of this host; http
/// locations fail with TN_NOT_SUPPORTED.
TnResult LoadXml(const std::string &aUrl, const MemoryReader &aRead, XmlDocument &aDocument);

/// The XML file inside a zip archive: the first entry whose name ends in
/// ".xml", else the first entry.
TnResult UnzipXml(const std::vector<uint8_t> &aArchive, std::string &aXml);

/// How long reading a description or update file may take.
constexpr uint32_t kFileReadTimeoutMs = 10000;

/// Reads a whole regular file of at most aLimit bytes, opened without
/// blocking: TN_CANNOT_OPEN_FILE when it cannot be opened or is no stored
/// regular file (a directory, FIFO, device or socket, or a kernel interface
/// of /proc or /sys), TN_FILE_ERROR when it is larger, grows while read or is
/// unreadable, TN_TIMEOUT after kFileReadTimeoutMs, TN_ABORTED when the
/// caller's wait is interrupted.
TN_DEVICE_API TnResult ReadWholeFile(const std::string &aPath, size_t aLimit, std::vector<uint8_t> &aBytes);

/// Reads one file of a zip archive in memory: the entry whose index aChoose
/// gives among the entries' names (a negative index for none: TN_NOT_FOUND).
/// TN_INVALID_DATA_FORMAT for an archive or entry that cannot be read (a
/// truncated archive among them), TN_CORRUPTED_DATA for an entry whose
/// bytes fail their CRC, TN_FILE_ERROR for one larger than aLimit bytes.
TN_DEVICE_API TnResult ReadZipEntry(const std::vector<uint8_t> &aArchive,
                                    const std::function<int64_t(const std::vector<std::string> &)> &aChoose,
                                    size_t aLimit, std::vector<uint8_t> &aData);
} // namespace device
} // namespace tn

#endif
