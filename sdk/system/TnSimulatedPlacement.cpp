#include "TnSimulatedPlacement.h"

#include <set>
#include <string>

#include "TnDeviceRecords.h"
#include "TnSystemLog.h"

namespace tn
{
namespace system
{
namespace
{
// The interface a simulated device names: by its position in the list or by
// its system name.
template <class Interface> Interface *FindByName(const std::vector<Interface *> &aInterfaces, const std::string &aName)
{
    if (!aName.empty() && aName.size() < 9 && aName.find_first_not_of("0123456789") == std::string::npos)
    {
        const size_t lPosition = std::stoul(aName);
        return lPosition < aInterfaces.size() ? aInterfaces[lPosition] : nullptr;
    }
    for (Interface *lInterface : aInterfaces)
    {
        if (lInterface->mSystemName == aName)
        {
            return lInterface;
        }
    }
    return nullptr;
}

std::string LinePrefix(const TnSimulatedDeviceRecord &aRecord)
{
    return "simulated devices: line " + std::to_string(aRecord.mLine) + ": ";
}
} // namespace

void PlaceSimulatedDevices(const TnSimulatedSource &aSource, std::vector<TnNetworkAdapter *> &aAdapters,
                           std::vector<TnUSBHostController *> &aControllers)
{
    std::set<std::string> lUniqueIDs;
    for (const TnSimulatedDeviceRecord &lRecord : aSource.mDevices)
    {
        TnInterface *lInterface = nullptr;
        TnDeviceInfo *lInfo = nullptr;
        if (lRecord.mKind == kSimulatedVexmoor)
        {
            TnNetworkAdapter *lAdapter = nullptr;
            if (!lRecord.mAdapter.empty())
            {
                lAdapter = FindByName(aAdapters, lRecord.mAdapter);
            }
            else
            {
                for (TnNetworkAdapter *lCandidate : aAdapters)
                {
                    if (lAdapter == nullptr && AdapterSubnetHolds(*lCandidate, lRecord.mIPAddress))
                    {
                        lAdapter = lCandidate;
                    }
                }
                if (lAdapter == nullptr && !aAdapters.empty())
                {
                    lAdapter = aAdapters.front();
                }
            }
            if (lAdapter == nullptr)
            {
                WarnOfSearch(__FILE__, __LINE__,
                             LinePrefix(lRecord) + "no network adapter '" + lRecord.mAdapter +
                                 "'; the device is left out");
                continue;
            }
            lInterface = lAdapter;
            lInfo = MakeVexmoorDevice(lRecord, *lAdapter);
        }
        else
        {
            TnUSBHostController *lController = nullptr;
            if (!lRecord.mController.empty())
            {
                lController = FindByName(aControllers, lRecord.mController);
                if (lController == nullptr)
                {
                    WarnOfSearch(__FILE__, __LINE__,
                                 LinePrefix(lRecord) + "no USB host controller '" + lRecord.mController +
                                     "'; the device is left out");
                    continue;
                }
            }
            else if (!aControllers.empty())
            {
                lController = aControllers.front();
            }
            else
            {
                TnUsbHostControllerInfo lSimulated;
                lSimulated.mName = "simulated";
                lSimulated.mDescription = "Simulated USB host controller";
                lSimulated.mSpeed = TnUSBSpeedSuper;
                lSimulated.mSimulated = true;
                lController = MakeController(lSimulated);
                aControllers.push_back(lController);
            }
            lInterface = lController;
            lInfo = MakeUsbDevice(lRecord, lController->mSpeed);
        }
        // Descriptions that name the same device: the later ones get their
        // line as well, so that every device keeps an identifier of its own.
        if (!lUniqueIDs.insert(lInfo->mUniqueID).second)
        {
            WarnOfSearch(__FILE__, __LINE__,
                         LinePrefix(lRecord) + "a device named " + lInfo->mUniqueID + " was described before");
            const bool lConnectByID = lInfo->mConnectionID == lInfo->mUniqueID;
            lInfo->mUniqueID += "@line-" + std::to_string(lRecord.mLine);
            if (lConnectByID)
            {
                lInfo->mConnectionID = lInfo->mUniqueID;
            }
            lUniqueIDs.insert(lInfo->mUniqueID);
        }
        lInterface->AddDevice(lInfo);
    }
}
} // namespace system
} // namespace tn
