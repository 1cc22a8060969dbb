// A connected device seen through one generic interface, for components that
// must not depend on the device classes.
#ifndef TN_DEVICE_ADAPTER_H
#define TN_DEVICE_ADAPTER_H

#include <stdint.h>

#include <vector>

#include "TnDevice.h"
#include "TnDeviceEventSink.h"
#include "TnExport.h"
#include "TnGenParameter.h"
#include "TnResult.h"
#include "TnString.h"

class TnStringList;
class ITnDeviceEventSink;

namespace tn
{
namespace device
{
struct AdapterState;
}
} // namespace tn

#ifndef SWIG
/// A list of strings.
class TN_DEVICE_API TnStringList
{
public:
    uint32_t GetSize() const { return static_cast<uint32_t>(mItems.size()); }
    const TnString &GetItem(uint32_t aIndex) const { return mItems.at(aIndex); }
    void Add(const TnString &aItem) { mItems.push_back(aItem); }
    void Clear() { mItems.clear(); }

private:
    std::vector<TnString> mItems;
};

/// What an adapter tells the components that registered with it.
class TN_DEVICE_API ITnDeviceEventSink
{
public:
    virtual ~ITnDeviceEventSink();
    /// The device's link is lost.
    virtual void OnLinkDisconnected() = 0;
    /// An event of the device's message channel (see TnDeviceEventSink::OnEvent).
    virtual void OnEvent(uint16_t aEventID, uint16_t aChannel, uint64_t aBlockID, uint64_t aTimestamp,
                         const void *aData, uint32_t aDataLength) = 0;
    /// A feature registered with RegisterGenInvalidator changed or was
    /// invalidated.
    virtual void OnParameterUpdate(const TnString &aParameterName) = 0;
};
#endif

/// A connected device's features, registers, memory and link, by name and
/// address.
class TN_DEVICE_API ITnDeviceAdapter
{
public:
    virtual ~ITnDeviceAdapter();

    /// Whether the device has an integer feature of that name.
    virtual bool IsGenIntegerInNodeMap(const TnString &aParameterName) = 0;
    /// Whether the device has an enumeration feature of that name.
    virtual bool IsGenEnumInNodeMap(const TnString &aParameterName) = 0;
    /// Whether the device has a boolean feature of that name.
    virtual bool IsGenBooleanInNodeMap(const TnString &aParameterName) = 0;
    /// Whether the device has a register feature of that name.
    virtual bool IsGenRegisterInNodeMap(const TnString &aParameterName) = 0;
    /// Whether the feature exists and can be read now.
    virtual bool IsGenReadable(const TnString &aParameterName) = 0;
    /// Whether the feature exists and can be written now.
    virtual bool IsGenWritable(const TnString &aParameterName) = 0;
    /// Whether the enumeration exists and has that entry available now.
    virtual bool IsGenEnumEntryAvailable(const TnString &aParameterName, const TnString &aEnumEntry) = 0;
    virtual TnResult GetGenIntegerValue(const TnString &aParameterName, int64_t &aValue) = 0;
    /// Fills aList with the names of the entries available now.
    virtual TnResult GetGenEnumEntriesAvailable(const TnString &aParameterName, TnStringList &aList) = 0;
    virtual TnResult GetGenEnumValue(const TnString &aParameterName, TnString &aEnumEntry) = 0;
    virtual TnResult SetGenEnumValue(const TnString &aParameterName, const TnString &aEnumEntry) = 0;
    virtual TnResult GetGenBooleanValue(const TnString &aParameterName, bool &aValue) = 0;
    virtual TnResult SetGenBooleanValue(const TnString &aParameterName, bool aValue) = 0;
    virtual TnResult GetGenStringValue(const TnString &aParameterName, TnString &aValue) = 0;
    /// The length of a register feature, in bytes.
    virtual TnResult GetGenRegisterLength(const TnString &aParameterName, int64_t &aLength) = 0;
    /// Reads aByteCount bytes of a register feature into aBuffer.
    virtual TnResult GetGenRegisterData(const TnString &aParameterName, uint8_t *aBuffer, int64_t aByteCount) = 0;
    virtual TnResult SetGenRegisterData(const TnString &aParameterName, const uint8_t *aBuffer, int64_t aByteCount) = 0;
    /// Makes changes of the feature reach the registered sinks'
    /// OnParameterUpdate.
    virtual TnResult RegisterGenInvalidator(const TnString &aParameterName) = 0;
    virtual TnResult UnregisterGenInvalidator(const TnString &aParameterName) = 0;
    virtual TnResult WriteRegister(int64_t aAddress, uint32_t aValue) = 0;
    virtual TnResult ReadRegister(int64_t aAddress, uint32_t &aValue) = 0;
    virtual TnResult WriteMemory(const uint8_t *aBuffer, int64_t aAddress, int64_t aLength) = 0;
    virtual TnResult ReadMemory(uint8_t *aBuffer, int64_t aAddress, int64_t aLength) = 0;
    /// TN_OK once the messaging channel's queue is empty, TN_TIMEOUT when
    /// the time (milliseconds) ran out first.
    virtual TnResult WaitForMessagingChannelIdle(uint32_t aTimeout) = 0;
    virtual bool IsConnected() = 0;
    /// Whether the device runs on a Vexmoor design.
    virtual bool IsVexmoorPowered() = 0;
    /// Whether the link uses GigE Vision.
    virtual bool IsGigEVision() = 0;
    /// Whether the link uses USB3 Vision.
    virtual bool IsUSB3Vision() = 0;
    virtual TnResult RegisterEventSink(ITnDeviceEventSink *aEventSink) = 0;
    virtual TnResult UnregisterEventSink(ITnDeviceEventSink *aEventSink) = 0;
    virtual TnResult GetUniqueID(TnString &aUniqueID) = 0;
};

/// The adapter of a TnDevice. An adapter whose device is destroyed first lets
/// go of it and answers as a disconnected one.
class TN_DEVICE_API TnDeviceAdapter : public ITnDeviceAdapter, public TnDeviceEventSink, public TnGenEventSink
{
public:
    TnDeviceAdapter(TnDevice *aDevice);
    virtual ~TnDeviceAdapter();

    bool IsGenIntegerInNodeMap(const TnString &aParameterName);
    bool IsGenEnumInNodeMap(const TnString &aParameterName);
    bool IsGenBooleanInNodeMap(const TnString &aParameterName);
    bool IsGenRegisterInNodeMap(const TnString &aParameterName);
    bool IsGenReadable(const TnString &aParameterName);
    bool IsGenWritable(const TnString &aParameterName);
    bool IsGenEnumEntryAvailable(const TnString &aParameterName, const TnString &aEnumEntry);
    TnResult GetGenIntegerValue(const TnString &aParameterName, int64_t &aValue);
    TnResult GetGenEnumEntriesAvailable(const TnString &aParameterName, TnStringList &aList);
    TnResult GetGenEnumValue(const TnString &aParameterName, TnString &aEnumEntry);
    TnResult SetGenEnumValue(const TnString &aParameterName, const TnString &aEnumEntry);
    TnResult GetGenBooleanValue(const TnString &aParameterName, bool &aValue);
    TnResult SetGenBooleanValue(const TnString &aParameterName, bool aValue);
    TnResult GetGenStringValue(const TnString &aParameterName, TnString &aValue);
    TnResult GetGenRegisterLength(const TnString &aParameterName, int64_t &aLength);
    TnResult GetGenRegisterData(const TnString &aParameterName, uint8_t *aBuffer, int64_t aByteCount);
    TnResult SetGenRegisterData(const TnString &aParameterName, const uint8_t *aBuffer, int64_t aByteCount);
    TnResult RegisterGenInvalidator(const TnString &aParameterName);
    TnResult UnregisterGenInvalidator(const TnString &aParameterName);
    TnResult WriteRegister(int64_t aAddress, uint32_t aValue);
    TnResult ReadRegister(int64_t aAddress, uint32_t &aValue);
    TnResult WriteMemory(const uint8_t *aBuffer, int64_t aAddress, int64_t aLength);
    TnResult ReadMemory(uint8_t *aBuffer, int64_t aAddress, int64_t aLength);
    TnResult WaitForMessagingChannelIdle(uint32_t aTimeout);
    bool IsConnected();
    bool IsVexmoorPowered();
    bool IsGigEVision();
    bool IsUSB3Vision();
    TnResult RegisterEventSink(ITnDeviceEventSink *aEventSink);
    TnResult UnregisterEventSink(ITnDeviceEventSink *aEventSink);
    TnResult GetUniqueID(TnString &aUniqueID);

#ifndef SWIG
    // What the device tells the adapter, passed on to its sinks.
    void OnLinkDisconnected(TnDevice *aDevice) override;
    void OnEvent(TnDevice *aDevice, uint16_t aEventID, uint16_t aChannel, uint64_t aBlockID, uint64_t aTimestamp,
                 const void *aData, uint32_t aDataLength) override;
    void OnParameterUpdate(TnGenParameter *aParameter) override;

private:
    friend class TnDevice;
    TnDeviceAdapter(const TnDeviceAdapter &) = delete;
    TnDeviceAdapter &operator=(const TnDeviceAdapter &) = delete;
    TnDevice *GetDevice() const;
    TnGenParameter *Find(const TnString &aParameterName);
    /// The device is being destroyed: the adapter lets go of it and of the
    /// invalidators it registered with the device's features.
    void ForgetDevice();

    tn::device::AdapterState *mState;
#endif
};

#endif
