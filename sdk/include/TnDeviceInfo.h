// What a search found out about a device.
#ifndef TN_DEVICE_INFO_H
#define TN_DEVICE_INFO_H

#include <stdint.h>

#include <string>

#include "TnDiscoveryTypes.h"
#include "TnExport.h"
#include "TnString.h"

class TnInterface;

/// One device a search found. Descriptions a system found belong to it and
/// stay valid, unchanged, as long as the system exists, later searches
/// included; they must not be deleted. Copy gives detached ones, which the
/// caller deletes.
class TN_SYSTEM_API TnDeviceInfo
{
public:
    virtual ~TnDeviceInfo();

    /// A detached copy, without its interface; the caller frees it.
    TnDeviceInfo *Copy() const;

    /// Which kind of description this is.
    TnDeviceInfoType GetType() const;

    TnString GetVendorName() const;
    TnString GetModelName() const;
    /// The firmware version.
    TnString GetVersion() const;
    TnString GetManufacturerInfo() const;
    TnString GetSerialNumber() const;
    /// The user-assigned name; empty when none is assigned.
    TnString GetUserDefinedName() const;
    /// Text that names the device for display.
    TnString GetDisplayID() const;
    /// Opaque text that tells this device from every other one.
    TnString GetUniqueID() const;
    /// Text by which devices and streams connect to this device.
    TnString GetConnectionID() const;

    /// The interface the device was found on; null for copies.
    const TnInterface *GetInterface() const;

    /// Whether the device can be reached as it is configured.
    bool IsConfigurationValid() const;

    /// What the device does.
    TnDeviceClass GetClass() const;

#ifndef SWIG
    /// Destroys a detached description (a copy, or one of its own); one that
    /// a system or an interface holds stays theirs.
    void Release();

    // Filled by the library when it makes the description; read-only after
    // that, since a system shares it between threads.

    TnDeviceInfoType mType;
    std::string mVendorName;
    std::string mModelName;
    std::string mVersion;
    std::string mManufacturerInfo;
    std::string mSerialNumber;
    std::string mUserDefinedName;
    std::string mDisplayID;
    std::string mUniqueID;
    std::string mConnectionID;
    const TnInterface *mInterface;
    bool mConfigurationValid;
    TnDeviceClass mClass;
    TnInterface *mHolder; // the interface that holds it; null when detached

    /// Appends every value to aSignature, so that two descriptions have the
    /// same signature exactly when they say the same.
    virtual void AppendSignature(std::string &aSignature) const;

protected:
    explicit TnDeviceInfo(TnDeviceInfoType aType);
    // A detached copy: no interface, no holder.
    TnDeviceInfo(const TnDeviceInfo &aDeviceInfo);
    virtual TnDeviceInfo *Clone() const = 0;

private:
    TnDeviceInfo &operator=(const TnDeviceInfo &) = delete;
#endif
};

/// A GigE Vision device.
class TN_SYSTEM_API TnDeviceInfoGEV : public TnDeviceInfo
{
public:
    TnDeviceInfoGEV();
    virtual ~TnDeviceInfoGEV();

    /// The MAC address as aa:bb:cc:dd:ee:ff.
    TnString GetMACAddress() const;
    TnString GetIPAddress() const;
    TnString GetDefaultGateway() const;
    TnString GetSubnetMask() const;
    /// The GigE Vision version, major << 16 | minor.
    uint32_t GetGEVVersion() const;
    /// The IP configuration methods the device offers.
    TnString GetIPConfigOptionsString() const;
    /// The IP configuration methods now enabled.
    TnString GetIPConfigCurrentString() const;
    bool IsLLAAvailable() const;
    bool IsDHCPAvailable() const;
    bool IsPersistentAvailable() const;
    bool IsPRAvailable() const;
    bool IsPGAvailable() const;
    bool IsLLAEnabled() const;
    bool IsDHCPEnabled() const;
    bool IsPersistentEnabled() const;
    bool IsPREnabled() const;
    bool IsPGEnabled() const;

#ifndef SWIG
    uint64_t mMAC;
    uint32_t mIPAddress; // host order
    uint32_t mSubnetMask;
    uint32_t mDefaultGateway;
    uint32_t mGEVVersion;
    uint32_t mIPConfigOptions; // bootstrap bits
    uint32_t mIPConfigCurrent;
    uint16_t mControlPort;
    uint32_t mLocalAddress; // the host address the device answered

    void AppendSignature(std::string &aSignature) const override;

protected:
    TnDeviceInfo *Clone() const override;
#endif
};

/// A device that speaks the Vexmoor Protocol over the network.
class TN_SYSTEM_API TnDeviceInfoVexmoorProtocol : public TnDeviceInfo
{
public:
    TnDeviceInfoVexmoorProtocol();
    virtual ~TnDeviceInfoVexmoorProtocol();

    TnString GetMACAddress() const;
    TnString GetIPAddress() const;
    TnString GetSubnetMask() const;
    TnString GetDefaultGateway() const;
    uint8_t GetDeviceID() const;
    uint8_t GetModuleID() const;
    uint8_t GetSubID() const;
    uint8_t GetVendorID() const;
    uint8_t GetSoftwareMajor() const;
    uint8_t GetSoftwareMinor() const;

#ifndef SWIG
    uint64_t mMAC;
    uint32_t mIPAddress;
    uint32_t mSubnetMask;
    uint32_t mDefaultGateway;
    uint8_t mDeviceID;
    uint8_t mModuleID;
    uint8_t mSubID;
    uint8_t mVendorID;
    uint8_t mSoftwareMajor;
    uint8_t mSoftwareMinor;

    void AppendSignature(std::string &aSignature) const override;

protected:
    TnDeviceInfo *Clone() const override;
#endif
};

/// A USB device.
class TN_SYSTEM_API TnDeviceInfoUSB : public TnDeviceInfo
{
public:
    TnDeviceInfoUSB();
    virtual ~TnDeviceInfoUSB();

    /// The enumeration state of the device.
    TnUSBStatus GetStatus() const;

#ifndef SWIG
    TnUSBStatus mStatus;

    void AppendSignature(std::string &aSignature) const override;

protected:
    explicit TnDeviceInfoUSB(TnDeviceInfoType aType);
    TnDeviceInfo *Clone() const override;
#endif
};

/// A USB3 Vision device.
class TN_SYSTEM_API TnDeviceInfoU3V : public TnDeviceInfoUSB
{
public:
    TnDeviceInfoU3V();
    virtual ~TnDeviceInfoU3V();

    /// The GenCP version, major << 16 | minor.
    uint32_t GetGenCPVersion() const;
    /// The USB3 Vision version, major << 16 | minor.
    uint32_t GetU3VVersion() const;
    TnString GetDeviceGUID() const;
    TnString GetFamilyName() const;
    TnString GetU3VSerialNumber() const;
    TnString GetDevicePath() const;
    TnString GetDeviceKey() const;
    /// The negotiated speed ("low", "full", "high", "super") or a problem.
    TnString GetSpeedMessage() const;
    /// "Ok" when the device seems properly powered, else the problem.
    TnString GetPowerMessage() const;
    bool IsLowSpeedSupported() const;
    bool IsFullSpeedSupported() const;
    bool IsHighSpeedSupported() const;
    bool IsSuperSpeedSupported() const;
    bool IsSuperSpeedPlusSupported() const;
    /// Whether the host controller supports the device's current speed.
    bool IsCurrentSpeedSupported() const;
    /// The speed now in effect.
    TnUSBSpeed GetSpeed() const;
    /// Power consumption in milliamperes.
    uint32_t GetMaxPower() const;
    /// The largest packet the device uses, in bytes.
    uint32_t GetMaxPacketSize() const;
    bool IsVexmoorDriverInstalled() const;
    /// Whether the device's capabilities could be read.
    bool IsInitializedCapabilities() const;

#ifndef SWIG
    uint32_t mGenCPVersion;
    uint32_t mU3VVersion;
    std::string mDeviceGUID;
    std::string mFamilyName;
    std::string mU3VSerialNumber;
    std::string mDevicePath;
    std::string mDeviceKey;
    std::string mSpeedMessage;
    std::string mPowerMessage;
    bool mLowSpeedSupported;
    bool mFullSpeedSupported;
    bool mHighSpeedSupported;
    bool mSuperSpeedSupported;
    bool mSuperSpeedPlusSupported;
    bool mCurrentSpeedSupported;
    TnUSBSpeed mSpeed;
    uint32_t mMaxPower;
    uint32_t mMaxPacketSize;
    bool mVexmoorDriverInstalled;
    bool mInitializedCapabilities;

    void AppendSignature(std::string &aSignature) const override;

protected:
    TnDeviceInfo *Clone() const override;
#endif
};

#endif
