// The host's interfaces a search reaches devices through: network adapters
// and USB host controllers.
#ifndef TN_INTERFACE_H
#define TN_INTERFACE_H

#include <stdint.h>

#include <string>
#include <vector>

#include "TnDiscoveryTypes.h"
#include "TnExport.h"
#include "TnString.h"

class TnDeviceInfo;

#ifndef SWIG
namespace tn
{
namespace system
{
class TnInterfaceHolder;
}
} // namespace tn
#endif

/// One interface of the host. Interfaces a system found belong to it and stay
/// valid, unchanged, as long as the system exists, later searches included;
/// they must not be deleted. Copy gives detached ones, which the caller
/// deletes.
class TN_SYSTEM_API TnInterface
{
public:
    virtual ~TnInterface();

    /// A detached copy, devices included; the caller frees it.
    TnInterface *Copy() const;

    /// Network adapter or USB host controller.
    TnInterfaceType GetType() const;

    /// The operating system's description of the interface.
    TnString GetName() const;

    /// Text that names the interface in a user interface.
    TnString GetDisplayID() const;

    /// Opaque text that tells this interface from every other one.
    TnString GetUniqueID() const;

    /// Opaque text by which interfaces sort consistently.
    TnString GetCompareID() const;

    /// The number of devices found through this interface.
    uint32_t GetDeviceCount() const;

    /// The device at a position; null past the end.
    const TnDeviceInfo *GetDeviceInfo(uint32_t aIndex) const;

    /// Whether aFirst sorts before aSecond by their compare identifiers; a null
    /// interface sorts before every other one.
    static bool Compare(const TnInterface *aFirst, const TnInterface *aSecond);

    /// The version of the Vexmoor driver on the interface; empty without it.
    TnString GetVexmoorDriverVersion() const;

#ifndef SWIG
    /// Destroys a detached interface (a copy, or one of its own); an interface
    /// that a system holds stays the system's.
    void Release();

    // Filled by the library when it makes the interface; read-only after
    // that, since a system shares it between threads.
    TnInterfaceType mType;
    std::string mName;
    std::string mDisplayID;
    std::string mUniqueID;
    std::string mCompareID;
    std::string mVexmoorDriverVersion;
    std::vector<TnDeviceInfo *> mDevices;  // owned
    tn::system::TnInterfaceHolder *mHolder; // the system that holds it; null when detached

    /// Takes a detached description as one of this interface's own.
    void AddDevice(TnDeviceInfo *aDevice);

    /// Drops one of its own descriptions that is being destroyed.
    void ForgetDevice(const TnDeviceInfo *aDevice);

    /// Appends every value to aSignature, its devices' included, so that two
    /// interfaces have the same signature exactly when they say the same.
    virtual void AppendSignature(std::string &aSignature) const;

protected:
    explicit TnInterface(TnInterfaceType aType);
    // A detached copy, with copies of the devices.
    TnInterface(const TnInterface &aInterface);
    virtual TnInterface *Clone() const = 0;

private:
    TnInterface &operator=(const TnInterface &) = delete;
#endif
};

/// A network adapter: GigE Vision and Vexmoor Protocol devices are behind it.
class TN_SYSTEM_API TnNetworkAdapter : public TnInterface
{
public:
    /// An empty adapter.
    TnNetworkAdapter();
    virtual ~TnNetworkAdapter();

    /// The MAC address as ##.##.##.##.##.## in upper-case hexadecimal.
    TnString GetMACAddress() const;

    /// The operating system's description of the adapter.
    TnString GetDescription() const;

    /// The number of IP configurations.
    uint32_t GetIPAddressCount() const;

    /// The IP address of a configuration; empty past the end.
    TnString GetIPAddress(uint32_t aIndex) const;

    /// The subnet mask of a configuration; empty past the end.
    TnString GetSubnetMask(uint32_t aIndex) const;

    /// The default gateway; "0.0.0.0" when there is none.
    TnString GetDefaultGateway() const;

    /// Whether the Vexmoor driver is installed on the adapter.
    bool IsVexmoorDriverInstalled() const;

#ifndef SWIG
    std::string mMACAddress;
    std::string mDescription;
    std::vector<uint32_t> mIPAddresses; // host order
    std::vector<uint32_t> mSubnetMasks;
    uint32_t mDefaultGateway;
    bool mVexmoorDriverInstalled;
    std::string mSystemName; // the kernel's name of the adapter

    void AppendSignature(std::string &aSignature) const override;

protected:
    TnInterface *Clone() const override;
#endif
};

/// A USB host controller: USB3 Vision devices are behind it.
class TN_SYSTEM_API TnUSBHostController : public TnInterface
{
public:
    /// An empty controller.
    TnUSBHostController();
    virtual ~TnUSBHostController();

    uint32_t GetVendorID() const;
    uint32_t GetDeviceID() const;
    uint32_t GetSubsystemID() const;
    uint32_t GetRevision() const;

    /// The best speed the controller supports.
    TnUSBSpeed GetSpeed() const;

#ifndef SWIG
    uint32_t mVendorID;
    uint32_t mDeviceID;
    uint32_t mSubsystemID;
    uint32_t mRevision;
    TnUSBSpeed mSpeed;
    std::string mSystemName; // the PCI address, or the simulated controller's name

    void AppendSignature(std::string &aSignature) const override;

protected:
    TnInterface *Clone() const override;
#endif
};

#endif
