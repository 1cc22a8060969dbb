// Where the devices of a simulated-devices description are found.
#ifndef TN_SIMULATED_PLACEMENT_H
#define TN_SIMULATED_PLACEMENT_H

#include <vector>

#include "TnInterface.h"
#include "TnSystemInternal.h"

namespace tn
{
namespace system
{
/// Puts the simulated devices on the interfaces they name (by position in the
/// list or by system name). A device whose interface is missing is left out,
/// with a warning; a Vexmoor Protocol device that names no adapter goes on the
/// first one whose subnet holds its address, else on the first one; USB
/// devices that name no controller go on the first one, and on a simulated
/// one, added to aControllers, when the host has none. Devices that say the
/// same unique identifier as an earlier one get their line added to it.
void PlaceSimulatedDevices(const TnSimulatedSource &aSource, std::vector<TnNetworkAdapter *> &aAdapters,
                           std::vector<TnUSBHostController *> &aControllers);
} // namespace system
} // namespace tn

#endif
