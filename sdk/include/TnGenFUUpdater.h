// Firmware updates of a device from an update file, followed by observers.
#ifndef TN_GEN_FU_UPDATER_H
#define TN_GEN_FU_UPDATER_H

#include <stdint.h>

#include "TnDeviceInfo.h"
#include "TnExport.h"
#include "TnResult.h"

namespace tn
{
namespace device
{
struct UpdaterState;
}
} // namespace tn

/// Follows an update's progress. Its methods are called on the updater's
/// thread; whatever they throw is caught and logged, and the update runs on.
/// An observer may detach itself (or another) from its call; one destroyed
/// while attached is detached as it goes.
class TN_DEVICE_API IUpdaterObserver
{
public:
    virtual ~IUpdaterObserver();
    /// A text telling what the update does now.
    virtual void UpdateProgressLabel(const char *aMsg) = 0;
    /// The progress in percent.
    virtual void UpdateProgressValue(int aValue) = 0;
};

/// Updates a device's firmware from an update file, in the background.
///
/// ``Start`` returns at once; poll ``IsDone`` and read ``GetResult`` then. The
/// update file is a zip archive with a manifest naming the device models it
/// fits, the firmware's version, its data file and that data's CRC-32 (see
/// the README). The update checks the file and the device's model before it
/// connects, connects its own controller to the device (the device must not
/// be connected to another one), checks that the device has the standard
/// GenICam file access features (FileSelector with the manifest's target,
/// FileOperationSelector, FileOperationExecute, FileAccessOffset,
/// FileAccessLength, FileAccessBuffer, FileOperationStatus,
/// FileOperationResult) and nothing is written before all that holds. It
/// writes the data through them, reads it back and compares, sets the new
/// identifier (DeviceUserID) and resets the device (DeviceReset) when asked,
/// and disconnects. Observers hear the step and the progress from 0 to 100.
///
/// Outcomes: TN_OK; TN_INVALID_PARAMETER without device information;
/// TN_CANNOT_OPEN_FILE; TN_INVALID_DATA_FORMAT for a file that is no update
/// file (a truncated archive among them); TN_CORRUPTED_DATA for data that
/// fails its checksum, and for data the device gives back otherwise than it
/// was written; TN_NOT_SUPPORTED for a file of other models or a device
/// without the features; TN_FILE_ERROR when a file operation fails on the
/// device; the connection's own failures.
class TN_DEVICE_API TnGenFUUpdater
{
public:
    /// The update file is aPath joined with aFileName; aDeviceId is the
    /// device's new identifier (empty to keep it); aDeviceReset asks for a
    /// reset after the update.
    TnGenFUUpdater(const char *aPath, const char *aFileName, const TnDeviceInfo *aDeviceInfo, const char *aDeviceId,
                   bool aDeviceReset);
    ~TnGenFUUpdater();

    /// Adds an observer; the updater does not own it.
    void Attach(IUpdaterObserver *aObserver);
    /// Removes an observer; returns once no call to it runs any more.
    void Detach(IUpdaterObserver *aObserver);
    /// Starts the update; does nothing while one runs.
    void Start();
    bool IsDone() const;
    /// The outcome, once done.
    TnResult GetResult() const;

#ifndef SWIG
private:
    TnGenFUUpdater(const TnGenFUUpdater &) = delete;
    TnGenFUUpdater &operator=(const TnGenFUUpdater &) = delete;
    tn::device::UpdaterState *mState;
#endif
};

#endif
