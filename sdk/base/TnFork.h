// Objects across a fork. A forked child has the forking thread alone, and
// the sessions its parent opened stay the parent's: an object that owns
// threads or a session and was made before the fork belongs to the parent.
// In the child every call on it fails at once with InheritedFailure, nothing
// is sent to a device or peer on its behalf, and its destruction releases
// nothing that needs its threads (what it holds is left as it is: the
// child's memory is its own copy). Objects the child makes work as usual.
#ifndef TN_FORK_H
#define TN_FORK_H

#include <stdint.h>

#include "TnExport.h"
#include "TnResult.h"

namespace tn
{
/// How many forks lie between this process and the one that loaded the SDK;
/// a fork's child counts one more than its parent.
TN_BASE_API uint64_t ProcessGeneration();

/// The process an object was made in, kept by every object that owns
/// threads or a session.
class ProcessOwner
{
public:
    ProcessOwner() : mGeneration(ProcessGeneration()) {}

    /// Whether the object was made before a fork of this process: its
    /// threads did not come across, its sessions are the parent's.
    bool IsInherited() const { return mGeneration != ProcessGeneration(); }

private:
    uint64_t mGeneration;
};

/// The answer of a call on an inherited object (TN_STATE_ERROR): aWhat names
/// the call.
TN_BASE_API TnResult InheritedFailure(const char *aWhat);
} // namespace tn

#endif
