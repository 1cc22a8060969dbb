// The software GigE Vision device.
#ifndef TN_SOFT_DEVICE_GEV_H
#define TN_SOFT_DEVICE_GEV_H

#include "ITnVirtualDeviceGEV.h"

namespace tn
{
namespace softdevice
{
class TnSoftDevice;
}
} // namespace tn

/// A GigE Vision device whose streams come from software sources; see
/// ITnVirtualDeviceGEV and ITnSoftDeviceGEV. Its destructor stops it.
///
/// Blocking calls (the caller's thread waits): Start (the creation callbacks
/// run inside it), Stop and the destructor (they wait for the device's
/// threads, and the callbacks made while stopping run meanwhile). The other
/// operations return at once.
class TN_SOFTDEVICE_API TnSoftDeviceGEV : public ITnSoftDeviceGEV
{
public:
    TnSoftDeviceGEV();
    virtual ~TnSoftDeviceGEV();

    TnResult SetUserSetCount(uint32_t aCount) override;
    TnResult SetUserSetNotify(ITnUserSetNotify *aUserSetNotify) override;
    TnResult SetActionHandler(TnVirtualDeviceLib::IActionHandler *aActionHandler) override;
    TnResult RegisterEventSink(ITnVirtualDeviceGEVEventSink *aEventSink) override;
    TnResult UnregisterEventSink(ITnVirtualDeviceGEVEventSink *aEventSink) override;
    TnResult Start(const TnString &aMACAddress) override;
    TnResult Stop() override;
    ITnVirtualDeviceGEVInfo *GetInfo() override;
    ITnRegisterMap *GetRegisterMap() override;
    ITnVirtualDeviceGEVStatistics *GetStatistics() override;
    ITnMessageChannel *GetMessagingChannel() override;
    TnResult GetGenICamXMLFile(TnString &aString) const override;
    TnResult AddStream(ITnSWStreamingChannelSource *aSource) override;
    TnResult SetTCPTransportEnabled(bool aEnabled) override;
    TnResult SetRTPProtocolEnabled(bool aEnabled) override;
    TnResult SetGenDCEnabled(bool aEnabled) override;

    /// False stops the device from overwriting buffer timestamps when
    /// buffers are queued (default true); register and message channel
    /// timestamps are not concerned. TN_OK.
    TnResult SetStreamTimestamping(bool aEnabled);

#ifndef SWIG
private:
    TnSoftDeviceGEV(const TnSoftDeviceGEV &) = delete;
    TnSoftDeviceGEV &operator=(const TnSoftDeviceGEV &) = delete;
    tn::softdevice::TnSoftDevice *mImpl;
#endif
};

#endif
