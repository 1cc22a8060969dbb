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
    uint64_t lMac = 0;
    const bool lIsMac = tn::gev::ParseMac(aIdentifier, lMac) && lMac != 0;
    uint32_t lAddress = 0;
    const bool lIsAddress = tn::gev::ParseIPv4(aIdentifier, lAddress) && lAddress != 0;
    if (const TnDeviceInfoGEV *lGev = dynamic_cast<const TnDeviceInfoGEV *>(&aInfo))
    {
        if ((lIsMac && lMac == lGev->mMAC) || (lIsAddress && lAddress == lGev->mIPAddress))
        {
            return true;
        }
    }
    if (const TnDeviceInfoVexmoorProtocol *lVexmoor = dynamic_cast<const TnDeviceInfoVexmoorProtocol *>(&aInfo))
    {
        if ((lIsMac && lMac == lVexmoor->mMAC) || (lIsAddress && lAddress == lVexmoor->mIPAddress))
        {
            return true;
        }
    }
    if (const TnDeviceInfoU3V *lU3v = dynamic_cast<const TnDeviceInfoU3V *>(&aInfo))
    {
        if ((!lU3v->mDeviceGUID.empty() && aIdentifier == lU3v->mDeviceGUID) ||
            (!lU3v->mU3VSerialNumber.empty() && aIdentifier == lU3v->mU3VSerialNumber))
        {
            return true;
        }
    }
    return aIdentifier == aInfo.mUserDefinedName || aIdentifier == aInfo.mSerialNumber ||
           aIdentifier == aInfo.mConnectionID || aIdentifier == aInfo.mUniqueID;
}
} // namespace system
} // namespace tn
