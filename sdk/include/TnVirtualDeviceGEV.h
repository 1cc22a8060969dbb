// A light virtual GigE Vision device: it answers a controller's control
// protocol on one interface on behalf of the stream transmitters added to it.
#ifndef TN_VIRTUAL_DEVICE_GEV_H
#define TN_VIRTUAL_DEVICE_GEV_H

#include <stdint.h>

#include "TnExport.h"
#include "TnResult.h"
#include "TnString.h"
#include "TnTransmitterGEV.h"

namespace tn
{
namespace transmitter
{
class TnVirtualDevice;
}
} // namespace tn

/// Answers discovery, register reads and writes and packet-resend commands
/// (routed to the transmitter of the stream channel) on a control thread of
/// its own. Every setting but the thread priority is made before
/// StartListening: TN_BUSY while listening. Transmitters are held by
/// address; the first added serves stream channel 0.
class TN_VIRTUALDEVICE_API TnVirtualDeviceGEV
{
public:
    /// Constructor.
    TnVirtualDeviceGEV();
    /// Destructor.
    ~TnVirtualDeviceGEV();

    /// The GigE Vision version announced (2.0 at first); TN_INVALID_PARAMETER
    /// for a major version other than 1 or 2.
    TnResult SetGEVSpecificationVersion(uint16_t aMajor, uint16_t aMinor);
    /// The GigE Vision version the device reports, written
    /// through aMajor and aMinor.
    TnResult GetGEVSpecificationVersion(uint16_t &aMajor, uint16_t &aMinor);
    /// Whether the GVCP capability register announces packet resend.
    TnResult SetGVCPCapabilityPacketResendCommandSupported(bool aSupported);
    /// Whether the device announces the packet-resend command in its GVCP
    /// capabilities.
    bool GetGVCPCapabilityPacketResendCommandSupported();
    /// The first 32 bytes are used.
    TnResult SetDeviceVersion(const TnString &aValue);
    /// The device version of the bootstrap registers.
    TnString GetDeviceVersion();
    /// At most 15 characters.
    TnResult SetSerialNumber(const TnString &aValue);
    /// The serial number of the bootstrap registers.
    TnString GetSerialNumber();
    /// At most 31 characters.
    TnResult SetManufacturerName(const TnString &aValue);
    /// The manufacturer name of the bootstrap registers.
    TnString GetManufacturerName();
    /// At most 31 characters.
    TnResult SetModelName(const TnString &aValue);
    /// The model name of the bootstrap registers.
    TnString GetModelName();
    /// TN_INVALID_PARAMETER for none, one transmitting, or more than 4.
    TnResult AddTransmitterGEV(ITnTransmitterGEV *aTransmitter);
    /// Listens on the interface with that IPv4 address (dotted), on the
    /// GigE Vision port 3956.
    TnResult StartListening(TnString aIPAddress);
    /// Stops answering; blocks until the control thread ended.
    void StopListening();
    /// The priority of the thread that serves the device port.
    uint32_t GetDevicePortThreadPriority() const;
    /// 0 to 99 (SCHED_FIFO above 0 where the process may use it):
    /// TN_INVALID_PARAMETER above, TN_THREAD_ERROR when the system refused.
    TnResult SetDevicePortThreadPriority(uint32_t aPriority);

#ifndef SWIG
private:
    TnVirtualDeviceGEV(const TnVirtualDeviceGEV &) = delete;
    TnVirtualDeviceGEV &operator=(const TnVirtualDeviceGEV &) = delete;
    tn::transmitter::TnVirtualDevice *mImpl;
#endif
};

#endif
