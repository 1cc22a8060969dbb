// The firmware update file: a zip archive holding a manifest and the
// firmware data.
//
// The manifest is the archive's "manifest.txt", lines of "key = value" ('#'
// starts a comment):
//
//     format = 1                    # this layout
//     models = EX-1, EX-2           # the device models (DeviceModelName) it fits
//     version = 2.1.0               # the firmware's version
//     firmware = firmware.bin       # the archive's file with the data
//     crc32 = 1c291ca3              # the CRC-32 of that data, in hexadecimal
//     target = Firmware             # optional: the device's FileSelector entry
//                                   # to write (Firmware when not given)
#ifndef TN_UPDATE_FILE_H
#define TN_UPDATE_FILE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "TnExport.h"
#include "TnResult.h"

namespace tn
{
namespace device
{
struct TN_DEVICE_API UpdateFile
{
    std::vector<std::string> mModels;
    std::string mVersion;
    std::string mTarget = "Firmware";
    std::string mFirmwareName;
    uint32_t mCrc32 = 0;
    std::vector<uint8_t> mFirmware;

    /// Whether the update is for this model.
    bool Fits(const std::string &aModel) const;

    /// The models, joined by ", ".
    std::string ModelList() const;
};

/// The largest firmware an update file may hold.
constexpr size_t kMaxFirmwareSize = 256u << 20;

/// Reads an update file from an archive in memory: TN_INVALID_DATA_FORMAT
/// for an archive that cannot be read (a truncated one among them) and for a
/// missing or malformed manifest or a missing firmware file,
/// TN_CORRUPTED_DATA when the firmware's bytes fail the manifest's checksum
/// (or the archive's own), TN_FILE_ERROR for firmware over kMaxFirmwareSize.
TN_DEVICE_API TnResult ParseUpdateFile(const std::vector<uint8_t> &aArchive, UpdateFile &aFile);

/// Reads an update file from a file: as ParseUpdateFile, and
/// TN_CANNOT_OPEN_FILE when the file cannot be opened.
TN_DEVICE_API TnResult ReadUpdateFile(const std::string &aPath, UpdateFile &aFile);
} // namespace device
} // namespace tn

#endif
