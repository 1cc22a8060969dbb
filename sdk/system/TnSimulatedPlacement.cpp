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
        const size_t position = std::stoul(aName);
        return position < aInterfaces.size() ? aInterfaces[position] : nullptr;
    }
    for (Interface *interface : aInterfaces)
    {
        if (interface->mSystemName == aName)
        {
            return interface;
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
    std::set<std::string> uniqueIDs;
    for (const TnSimulatedDeviceRecord &record : aSource.mDevices)
    {
        TnInterface *interface = nullptr;
        TnDeviceInfo *info = nullptr;
        if (record.mKind == kSimulatedVexmoor)
        {
            TnNetworkAdapter *adapter = nullptr;
            if (!record.mAdapter.empty())
            {
                adapter = FindByName(aAdapters, record.mAdapter);
            }
            else
            {
                for (TnNetworkAdapter *candidate : aAdapters)
                {
                    if (adapter == nullptr && AdapterSubnetHolds(*candidate, record.mIPAddress))
                    {
                        adapter = candidate;
                    }
                }
                if (adapter == nullptr && !aAdapters.empty())
                {
                    adapter = aAdapters.front();
                }
            }
            if (adapter == nullptr)
            {
                WarnOfSearch(__FILE__, __LINE__,
                             LinePrefix(record) + "no network adapter '" + record.mAdapter +
                                 "'; the device is left out");
                continue;
            }
            interface = adapter;
            info = MakeVexmoorDevice(record, *adapter);
        }
        else
        {
            TnUSBHostController *controller = nullptr;
            if (!record.mController.empty())
            {
                controller = FindByName(aControllers, record.mController);
                if (controller == nullptr)
                {
                    WarnOfSearch(__FILE__, __LINE__,
                                 LinePrefix(record) + "no USB host controller '" + record.mController +
                                     "'; the device is left out");
                    continue;
                }
            }
            else if (!aControllers.empty())
            {
                controller = aControllers.front();
            }
            else
            {
                TnUsbHostControllerInfo simulated;
                simulated.mName = "simulated";
                simulated.mDescription = "Simulated USB host controller";
                simulated.mSpeed = TnUSBSpeedSuper;
                simulated.mSimulated = true;
                controller = MakeController(simulated);
                aControllers.push_back(controller);
            }
            interface = controller;
            info = MakeUsbDevice(record, controller->mSpeed);
        }
        // Descriptions that name the same device: the later ones get their
        // line as well, so that every device keeps an identifier of its own.
        if (!uniqueIDs.insert(info->mUniqueID).second)
        {
            WarnOfSearch(__FILE__, __LINE__,
                         LinePrefix(record) + "a device named " + info->mUniqueID + " was described before");
            const bool connectByID = info->mConnectionID == info->mUniqueID;
            info->mUniqueID += "@line-" + std::to_string(record.mLine);
            if (connectByID)
            {
                info->mConnectionID = info->mUniqueID;
            }
            uniqueIDs.insert(info->mUniqueID);
        }
        interface->AddDevice(info);
    }
}
} // namespace system
} // namespace tn
