// Display-rate limiting for frames that arrive faster than they are shown.
#ifndef TN_FPS_STABILIZER_H
#define TN_FPS_STABILIZER_H

#include <stdint.h>

#include "TnExport.h"

/// Decides, frame by frame, whether showing a frame now keeps the displayed
/// rate near a target. Not thread-safe.
class TN_TRANSMITTER_API TnFPSStabilizer
{
public:
    /// Constructor.
    TnFPSStabilizer();
    /// Destructor.
    ~TnFPSStabilizer();

    /// True when displaying a frame now brings the displayed rate closer to
    /// aTargetFPS; false when it would bring it above. On false the frame
    /// is best skipped (not held back to show later). A target of 0 shows
    /// every frame.
    bool IsTimeToDisplay(uint32_t aTargetFPS);
    /// The displayed frame rate over the last second, rounded.
    uint32_t GetAverage();
    /// Resets the history.
    void Reset();

#ifndef SWIG
private:
    static const int kHistory = 64;
    uint64_t mTimes[kHistory];
    int mCount;
    int mNext;
#endif
};

#endif
