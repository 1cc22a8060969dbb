// Internals of discovery: the host's network adapters and USB host
// controllers, simulated devices, and the GigE Vision device search. The
// public discovery classes are built on these plain records.
//
// IPv4 addresses are host-order uint32_t (127.0.0.1 is 0x7F000001); MAC
// addresses are six bytes, first byte first.
#ifndef TN_SYSTEM_INTERNAL_H
#define TN_SYSTEM_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "TnDiscoveryTypes.h"
#include "TnGvcp.h"
#include "TnResult.h"

namespace tn
{
namespace system
{
// ---------------------------------------------------------------------------
// Network adapters

struct TnAdapterAddress
{
    uint32_t mAddress = 0;
    uint32_t mSubnetMask = 0;
};

struct TnNetworkAdapterInfo
{
    std::string mName;        // the kernel's interface name ("eth0", "lo")
    uint32_t mIndex = 0;      // the kernel's interface index
    std::string mDriver;      // "e1000e", "virtio_net", "veth"; empty when unknown
    std::string mDescription; // for people: the device's name or its driver, and the interface name
    uint8_t mMac[6] = {0, 0, 0, 0, 0, 0};
    bool mHasMac = false;
    std::vector<TnAdapterAddress> mAddresses; // IPv4 only, in the order the system gives them
    uint32_t mDefaultGateway = 0;             // 0 when the adapter has no default route
    uint32_t mMtu = 0;
    bool mIsUp = false;      // administratively up
    bool mIsRunning = false; // has a carrier
    bool mIsLoopback = false;
};

/// The host's network adapters in the order the system lists them, loopback
/// included, with or without IPv4 addresses.
TnResult ListNetworkAdapters(std::vector<TnNetworkAdapterInfo> &aAdapters);

/// The default gateway of each interface, from the text of /proc/net/route
/// (the route with the lowest metric wins).
std::map<std::string, uint32_t> ParseDefaultGateways(const std::string &aRouteTable);

// ---------------------------------------------------------------------------
// USB host controllers

struct TnUsbHostControllerInfo
{
    std::string mName;      // the PCI address ("0000:00:14.0") or, when simulated, the name given
    uint32_t mVendorId = 0; // PCI ids
    uint32_t mDeviceId = 0;
    uint32_t mSubsystemVendorId = 0;
    uint32_t mSubsystemDeviceId = 0;
    uint32_t mSubsystemId = 0; // subsystem device id << 16 | subsystem vendor id
    uint32_t mRevision = 0;
    uint32_t mClassCode = 0; // 0x0C03xx, the low byte telling the kind
    std::string mDriver;     // "xhci_hcd"; empty when none is bound
    std::string mDescription;
    TnUSBSpeed mSpeed = TnUSBSpeedUnknown; // the best speed its kind supports
    bool mSimulated = false;
};

/// The USB host controllers among the PCI devices under aPciRoot, in name
/// order. A missing directory is no error: the list is then empty.
TnResult ListUsbHostControllers(std::vector<TnUsbHostControllerInfo> &aControllers,
                                const std::string &aPciRoot = "/sys/bus/pci/devices");

/// The best speed of a USB host controller from its PCI programming
/// interface: UHCI and OHCI full speed, EHCI high speed, xHCI and USB4 super
/// speed, anything else unknown.
TnUSBSpeed UsbSpeedOfProgrammingInterface(uint32_t aProgrammingInterface);

// ---------------------------------------------------------------------------
// Simulated devices
//
// Devices that this host cannot have (USB3 Vision cameras, Vexmoor Protocol
// devices) can be described in a text file named by the environment variable
// TARN_SIMULATED_DEVICES; discovery then reports them as if found. The file
// holds sections, each one device or one USB host controller:
//
//     # a comment (also after ';' at the start of a line)
//     [controller]
//     name = sim-usb0
//     vendor_id = 0x8086
//     device_id = 0xa36d
//     speed = super
//
//     [u3v]
//     vendor = Example Vision
//     model = EX-1
//     serial = 1234
//     controller = sim-usb0
//
//     [vexmoor]
//     model = VX-2
//     mac = 00:11:22:33:44:55
//     ip = 192.168.7.20
//     mask = 255.255.255.0
//     adapter = eth0
//
// Section kinds: u3v (USB3 Vision), usb (other USB), vexmoor (Vexmoor Protocol
// over the network), controller (a USB host controller). Keys are
// case-insensitive and '-' equals '_'; a value may be put in double quotes to
// keep spaces at its ends or a '#'. Numbers are decimal or 0x-hexadecimal;
// versions are "major.minor" or one number (major << 16 | minor); booleans are
// yes/no, true/false, on/off or 1/0; speeds low, full, high, super; MAC
// addresses take ':', '-' or '.' separators.
//
// Keys of every device: vendor, model, version, manufacturer_info, serial,
// user_name, class (transmitter, receiver, transceiver, peripheral).
// usb and u3v: controller (a controller's name, PCI address or index; the
// first controller when not given), status (connected, failed_enumeration,
// general_failure, overcurrent, not_enough_power, not_enough_bandwidth,
// hub_nested_too_deeply, legacy_hub, enumerating, reset, not_initialized),
// speed (the current speed), speeds (a comma list of the supported ones, also
// super_plus), usb_vendor_id, usb_product_id, and for u3v also gencp_version,
// u3v_version, guid, family, u3v_serial, device_path, device_key,
// speed_message, power_message, max_power, max_packet_size, driver_installed,
// capabilities_initialized, xml (a GenICam XML or zip file that a controller
// of the device reads; without it the device describes a small camera).
// vexmoor: mac, ip, mask, gateway, adapter (the interface it is found on; by
// default the one whose subnet holds ip, else the first), device_id,
// module_id, sub_id, vendor_id, software_major, software_minor (each 0-255).
// controller: name, vendor_id, device_id, subsystem_vendor_id,
// subsystem_device_id, revision, speed, description.
//
// Reading is forgiving: an unknown section or key, a bad value or a line that
// is no "key = value" is skipped with a warning, and the rest still counts.
// Files over 1 MiB, lines over 4096 bytes and more than 256 sections are cut
// off with a warning.

enum TnSimulatedKind
{
    kSimulatedU3V,
    kSimulatedUSB,
    kSimulatedVexmoor
};

struct TnSimulatedDeviceRecord
{
    TnSimulatedKind mKind = kSimulatedU3V;
    size_t mLine = 0; // the line of its section header
    std::string mVendorName;
    std::string mModelName;
    std::string mVersion;
    std::string mManufacturerInfo;
    std::string mSerialNumber;
    std::string mUserDefinedName;
    TnDeviceClass mClass = TnDeviceClassTransmitter;

    // USB and USB3 Vision
    std::string mController;
    TnUSBStatus mStatus = TnUSBStatusConnected;
    TnUSBSpeed mSpeed = TnUSBSpeedSuper;
    bool mLowSpeedSupported = false;
    bool mFullSpeedSupported = true;
    bool mHighSpeedSupported = true;
    bool mSuperSpeedSupported = true;
    bool mSuperSpeedPlusSupported = false;
    uint32_t mUsbVendorId = 0;
    uint32_t mUsbProductId = 0;
    uint32_t mGenCPVersion = 0x00010000;
    uint32_t mU3VVersion = 0x00010000;
    std::string mGUID;
    std::string mFamilyName;
    std::string mU3VSerialNumber;
    std::string mDevicePath;
    std::string mDeviceKey;
    std::string mSpeedMessage; // empty: derived from the speed
    std::string mPowerMessage; // empty: "Ok"
    uint32_t mMaxPower = 896;
    uint32_t mMaxPacketSize = 1024;
    bool mDriverInstalled = true;
    bool mCapabilitiesInitialized = true;
    std::string mXmlPath; // the GenICam description a controller reads; empty: a built-in one

    // Vexmoor Protocol
    std::string mAdapter;
    uint8_t mMac[6] = {0, 0, 0, 0, 0, 0};
    uint32_t mIPAddress = 0;
    uint32_t mSubnetMask = 0;
    uint32_t mDefaultGateway = 0;
    uint8_t mDeviceID = 0;
    uint8_t mModuleID = 0;
    uint8_t mSubID = 0;
    uint8_t mVendorID = 0;
    uint8_t mSoftwareMajor = 0;
    uint8_t mSoftwareMinor = 0;
};

struct TnSimulatedSource
{
    std::vector<TnSimulatedDeviceRecord> mDevices;
    std::vector<TnUsbHostControllerInfo> mControllers; // marked mSimulated
    std::vector<std::string> mWarnings;                // "line N: ..."
};

constexpr const char *kSimulatedDevicesVariable = "TARN_SIMULATED_DEVICES";

/// Reads the file that TARN_SIMULATED_DEVICES names. TN_OK with an empty
/// source when the variable is unset or empty; TN_CANNOT_OPEN_FILE when the
/// file cannot be read.
TnResult LoadSimulatedDevices(TnSimulatedSource &aSource);
TnResult LoadSimulatedDevicesFrom(const std::string &aPath, TnSimulatedSource &aSource);
/// Parses the text of such a file; never fails, but warns.
void ParseSimulatedDevices(const std::string &aText, TnSimulatedSource &aSource);

/// The text a USB speed is shown as: "low", "full", "high", "super" or "Unknown".
const char *UsbSpeedName(TnUSBSpeed aSpeed);

// ---------------------------------------------------------------------------
// GigE Vision devices

struct TnGevDeviceRecord
{
    tn::gev::TnGvcpDeviceInfo mDevice; // the bootstrap block as announced

    // Where it answered.
    std::string mAdapterName;
    uint32_t mAdapterIndex = 0;    // the kernel's interface index
    size_t mAdapterPosition = 0;   // index into the adapter list searched
    uint32_t mLocalAddress = 0;    // the local address the answer came to
    uint32_t mLocalSubnetMask = 0; // its subnet mask
    uint32_t mAnswerAddress = 0;   // the address the answer came from
    uint16_t mAnswerPort = 0;

    /// Whether the device's address lies in the subnet of the local address
    /// it answered on, so that it can be reached as configured.
    bool IsOnAdapterSubnet() const;
};

struct TnGevDiscoveryOptions
{
    uint32_t mTimeoutMs = 1500;
    bool mSubnetBroadcast = false;
    std::string mAdapterName;    // search this adapter only; empty: all
    uint32_t mUnicastAddress = 0; // ask this address only (find by IP)
    uint16_t mPort = tn::gev::kGvcpPort;
    bool mAnyDeviceAddress = false; // keep devices that claim no unicast host address
    /// Called for each new device, without any lock held; true ends the
    /// search at once.
    std::function<bool(const TnGevDeviceRecord &)> mStopWhen;
};

/// Searches the given adapters (those that are up and have IPv4 addresses)
/// for GigE Vision devices. A unicast search goes out from the adapters whose
/// subnet holds the address, else from the address the system routes it
/// through. TN_NOT_FOUND when no adapter could be searched; TN_OK otherwise,
/// even when no device answered.
TnResult DiscoverGevDevices(const std::vector<TnNetworkAdapterInfo> &aAdapters, const TnGevDiscoveryOptions &aOptions,
                            std::vector<TnGevDeviceRecord> &aDevices);

/// The IP configuration methods of a supported or current IP configuration
/// register, named "LLA(L)", "DHCP(D)", "Persistent_IP(P)",
/// "PAUSE_reception(PR)", "PAUSE_generation(PG)" and joined by ", ".
std::string FormatIPConfig(uint32_t aBits);
} // namespace system
} // namespace tn

#endif
