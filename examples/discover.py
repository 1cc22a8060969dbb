"""Discovery: lists the interfaces a search went through and the devices it
found. Run as it is, it searches the host's network; the demo runs it inside a
network namespace of its own with a fake GigE Vision camera on loopback."""

import tarn_base_313 as tarn


def main():
    system = tarn.TnSystem()
    system.SetDetectionTimeout(500)
    result = system.Find()
    print(f"search: {result.GetCodeString()}, {system.GetInterfaceCount()} interface(s), "
          f"{system.GetDeviceCount()} device(s)")
    for i in range(system.GetInterfaceCount()):
        interface = system.GetInterface(i)
        print(f"  {type(interface).__name__}: {interface.GetDisplayID()}")
        for j in range(interface.GetDeviceCount()):
            info = interface.GetDeviceInfo(j)
            line = f"    {info.GetVendorName()} {info.GetModelName()} serial {info.GetSerialNumber()}"
            if isinstance(info, tarn.TnDeviceInfoGEV):
                line += f" at {info.GetIPAddress()} ({info.GetMACAddress()})"
            print(line)


if __name__ == "__main__":
    main()
