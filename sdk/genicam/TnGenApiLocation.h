// Where a GenICam description is found: the URL format devices announce it
// with ("Local:", "File:", "http:"). Every transport layer uses it, so it sits
// where descriptions are loaded; the device libraries and the software device
// use it without the control protocol's packet code.
#ifndef TN_GENAPI_LOCATION_H
#define TN_GENAPI_LOCATION_H

#include <stdint.h>

#include <string>

#include "TnExport.h"

namespace tn
{
namespace genicam
{
/// Where a device keeps its GenICam description, as the URL of its first
/// (or second) URL register, or of its USB3 Vision manifest, names it.
struct TN_GENICAM_API XmlLocation
{
    enum Kind
    {
        kUnknown,
        kLocal, // in device memory at mAddress, mLength bytes; mFileName tells .xml from .zip
        kFile,  // a file of the host: mPath
        kHttp   // mPath is the whole URL
    };
    Kind mKind = kUnknown;
    std::string mFileName;
    std::string mPath;
    uint32_t mAddress = 0;
    uint32_t mLength = 0;
    bool IsZip() const;
};

/// Parses "Local:name.xml;10000;3e67" (also "local:///name.zip;0x10000;0x3E67",
/// with an optional "?SchemaVersion=..." suffix), "File:..." and "http://...".
/// Local locations need a name, a hexadecimal address and a non-zero length
/// that stay within the 32-bit address space. File locations need an
/// absolute path ("File:///dir/name.xml", "File:/dir/name.xml",
/// "File://localhost/dir/name.xml") without ".." steps: a path relative to
/// wherever the program runs, or another host's, is refused.
TN_GENICAM_API bool ParseXmlLocation(const std::string &aUrl, XmlLocation &aLocation);

/// The longest name PlainFileName gives.
constexpr size_t kMaxPlainFileName = 128;

/// A name the device gave, made a plain file name to save its description
/// under in the current directory: the part after the last '/' or '\\',
/// every character but ASCII letters, digits, '.', '-' and '_' made '_',
/// leading dots removed (no hidden file, no "." or ".."), at most
/// kMaxPlainFileName characters (keeping ".xml" or ".zip"); "device.xml" or
/// "device.zip" when nothing is left.
TN_GENICAM_API std::string PlainFileName(const std::string &aName, bool aZip);
} // namespace genicam
} // namespace tn

#endif
