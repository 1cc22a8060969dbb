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
/// An observer destroyed while attached is detached as it goes.
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
/// ``Start`` returns at once; poll ``IsDone`` and read ``GetResult`` then.
/// This SDK checks the update file and reports progress, but no device it
/// connects to takes firmware updates yet: a readable file ends with
/// TN_NOT_SUPPORTED, a missing one with TN_CANNOT_OPEN_FILE.
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
