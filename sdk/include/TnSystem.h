// The root of discovery: searches the host's interfaces for devices.
#ifndef TN_SYSTEM_H
#define TN_SYSTEM_H

#include <stdint.h>

#include "TnDeviceInfo.h"
#include "TnExport.h"
#include "TnInterface.h"
#include "TnResult.h"
#include "TnSessionInfo.h"
#include "TnString.h"

class TnSystemEventSink;

#ifndef SWIG
namespace tn
{
namespace system
{
struct SystemState;
}
} // namespace tn

/// Told of each device a search finds, on the searching thread.
class TN_SYSTEM_API TnSystemEventSink
{
public:
    virtual ~TnSystemEventSink();
    virtual void OnDeviceFound(const TnDeviceInfo *aDeviceInfo) = 0;
};
#endif

/// Searches every network adapter and USB host controller of the host for
/// devices, and owns what it found: interfaces and their devices stay valid
/// until the next search or the system's destruction.
class TN_SYSTEM_API TnSystem
{
public:
    TnSystem();
    virtual ~TnSystem();

    /// Searches all interfaces, waiting the detection timeout for answers.
    TnResult Find();

    /// Searches for one device by MAC address, IP address, user-defined name
    /// or serial number; an IP address is asked directly. Other devices that
    /// answer meanwhile are listed too. TN_NOT_FOUND when none answers.
    TnResult FindDevice(const TnString &aDeviceToFind, const TnDeviceInfo **aDeviceInfo);

    /// The time a search waits for answers, in milliseconds: 100 to 60000,
    /// values outside are taken as the nearest bound; 1500 at first.
    void SetDetectionTimeout(uint32_t aTimeout);
    uint32_t GetDetectionTimeout() const;

    /// Whether searches also send subnet-directed broadcasts.
    void SetSubnetBroadcastEnabled(bool aEnabled);
    bool GetSubnetBroadcastEnabled() const;

    /// The GigE Vision version the SDK implements, major << 16 | minor.
    uint32_t GetGEVSupportedVersion() const;
    /// The USB3 Vision version the SDK implements, major << 16 | minor.
    uint32_t GetU3VSupportedVersion() const;

    /// Registers a sink told of every device a search finds.
    TnResult RegisterEventSink(TnSystemEventSink *aEventSink);
    TnResult UnregisterEventSink(TnSystemEventSink *aEventSink);

    uint32_t GetInterfaceCount() const;
    /// The interface at a position, in the order the system gives them.
    TnInterface *GetInterface(uint32_t aIndex) const;

    /// The number of devices on all interfaces.
    uint32_t GetDeviceCount() const;
    /// The device at a position of all interfaces' devices.
    const TnDeviceInfo *GetDeviceInfo(uint32_t aIndex) const;

    /// Listens for SAP session announcements for the detection timeout;
    /// returns how many sessions are announced.
    uint32_t DiscoverSessions() const;
    /// Fills aSessionInfo with an announced session.
    TnResult GetSessionInfo(uint32_t aIndex, TnSessionInfo &aSessionInfo) const;

#ifndef SWIG
private:
    TnSystem(const TnSystem &) = delete;
    TnSystem &operator=(const TnSystem &) = delete;
    tn::system::SystemState *mState;
#endif
};

#endif
