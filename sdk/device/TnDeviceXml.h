// A device's GenICam description: where its URL points, the bytes found
// there, and the XML inside (unzipped when it comes as a zip archive).
#ifndef TN_DEVICE_XML_H
#define TN_DEVICE_XML_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

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
} // namespace device
} // namespace tn

#endif
