#include "TnDeviceMatching.h"

#include <stdint.h>

#include "TnGevAddress.h"

namespace tn
{
namespace system
{
bool MatchesIdentifier(const TnDeviceInfo &aInfo, const std::string &aIdentifier)
{
    if (aIdentifier.empty())
    {
        return false;
    }
    uint64_t mac = 0;
    const bool isMac = tn::gev::ParseMac(aIdentifier, mac) && mac != 0;
    uint32_t address = 0;
    const bool isAddress = tn::gev::ParseIPv4(aIdentifier, address) && address != 0;
    if (const TnDeviceInfoGEV *gev = dynamic_cast<const TnDeviceInfoGEV *>(&aInfo))
    {
        if ((isMac && mac == gev->mMAC) || (isAddress && address == gev->mIPAddress))
        {
            return true;
        }
    }
    if (const TnDeviceInfoVexmoorProtocol *vexmoor = dynamic_cast<const TnDeviceInfoVexmoorProtocol *>(&aInfo))
    {
        if ((isMac && mac == vexmoor->mMAC) || (isAddress && address == vexmoor->mIPAddress))
        {
            return true;
        }
    }
    if (const TnDeviceInfoU3V *u3v = dynamic_cast<const TnDeviceInfoU3V *>(&aInfo))
    {
        if ((!u3v->mDeviceGUID.empty() && aIdentifier == u3v->mDeviceGUID) ||
            (!u3v->mU3VSerialNumber.empty() && aIdentifier == u3v->mU3VSerialNumber))
        {
            return true;
        }
    }
    return aIdentifier == aInfo.mUserDefinedName || aIdentifier == aInfo.mSerialNumber ||
           aIdentifier == aInfo.mConnectionID || aIdentifier == aInfo.mUniqueID;
}
} // namespace system
} // namespace tn
