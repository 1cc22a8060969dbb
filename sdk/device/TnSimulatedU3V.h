// The simulated USB3 Vision devices this host reaches in place of USB
// hardware (see TARN_SIMULATED_DEVICES in TnSystemInternal.h).
//
// A device lives in the process's memory from its first use to the process's
// end, shared by the controllers (TnDeviceU3V, one at a time) that reach its
// registers through its control interface and the stream (TnStreamU3V, one at
// a time) that reads its stream channel. Its register map, little-endian:
//
//   0x000000  the bootstrap registers (ABRM), the manifest at 0x1000, the
//             SBRM at 0x2000 and the streaming interface registers (SIRM) at
//             0x3000, as USB3 Vision lays them out;
//   0x010000  the camera: Width, Height, PixelFormat, acquisition start and
//             stop, TLParamsLocked, AcquisitionFrameRate (IEEE single);
//   0x011000  serial port 0, 0x011400 serial port 1 (see below);
//   0x100000  the GenICam description (the built-in one, or the file the
//             device's `xml` key names).
//
// The camera: while acquisition runs and the stream channel is enabled, the
// device captures a frame every 1 / AcquisitionFrameRate seconds (the first
// at once) with the Width, Height and PixelFormat of that moment, and keeps
// up to four captured frames in its memory; a frame captured with four
// waiting drops the oldest, whose block ID is then never sent. Block IDs
// count from 0 from each enabling of the channel. Byte i of line y of block
// b is (i + 3 y + 7 b) mod 256. Each frame goes out as a USB3 Vision leader,
// the payload cut into transfers as the SIRM's transfer registers say, and a
// trailer, each in the transfer the receiver asks for next: no frame data is
// kept in device memory, each transfer's bytes are made as it is read
// (straight into the receiver's memory). A payload larger than the SIRM's
// transfers carry is cut there, and its trailer reports the discarded data.
//
// Serial ports: each is an echoing line. Bytes the host hands to the port's
// transmit queue (256 bytes) leave it at the line's baud rate (default
// 115200, 10 bits a byte) and come back into its receive queue (4096 bytes;
// bytes that find it full are lost). The port's registers, relative to its
// base: 0x00 BaudRate, 0x04 TransmitFree, 0x08 ReceiveCount (32 bits each),
// 0x100 TransmitData and 0x200 ReceiveData (256 bytes each), the features
// Serial<N>BaudRate, Serial<N>TransmitFree, Serial<N>ReceiveCount,
// Serial<N>TransmitData and Serial<N>ReceiveData of the serial port's
// protocol (TnDeviceSerialPort.cpp).
#ifndef TN_SIMULATED_U3V_H
#define TN_SIMULATED_U3V_H

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "TnDeviceInfo.h"
#include "TnExport.h"
#include "TnResult.h"

namespace tn
{
namespace device
{
class TN_DEVICE_API SimulatedU3v
{
public:
    /// The simulated device that the description names, by its unique ID or
    /// GUID: made on first use, the same object afterwards.
    /// TN_NOT_FOUND when TARN_SIMULATED_DEVICES describes no such device.
    static TnResult Find(const std::string &aIdentifier, std::shared_ptr<SimulatedU3v> &aDevice);

    virtual ~SimulatedU3v();

    /// The device's GUID as its description gives it (may be empty).
    virtual std::string GetGUID() const = 0;

    // ---- the control interface

    /// Takes the control interface: TN_BUSY while another controller has it.
    virtual TnResult OpenControl() = 0;
    virtual void CloseControl() = 0;

    /// Reads and writes registers and memory, with the side effects the
    /// device has (acquisition, the stream channel's enabling, the serial
    /// ports). The bootstrap registers are read-only but for the
    /// user-defined name; TN_INVALID_PARAMETER outside the map.
    virtual TnResult Read(uint64_t aAddress, void *aData, size_t aSize) = 0;
    virtual TnResult Write(uint64_t aAddress, const void *aData, size_t aSize) = 0;

    // ---- the stream channel

    /// Takes stream channel aChannel: TN_NOT_FOUND for a channel the device
    /// lacks, TN_BUSY while another receiver has it.
    virtual TnResult OpenStream(uint16_t aChannel) = 0;

    /// Gives the channel back and disables it.
    virtual void CloseStream() = 0;

    /// One bulk transfer from the channel: the next leader, payload transfer
    /// or trailer, at most aSize bytes written to aData (aReceived of them).
    /// Waits up to aTimeoutMs for one (TN_TIMEOUT); TN_ABORTED when
    /// CancelTransfers ends the wait; TN_ERR_OVERFLOW when the device sent
    /// more than aSize (the rest is lost); TN_NOT_CONNECTED without the
    /// channel.
    virtual TnResult Transfer(uint8_t *aData, size_t aSize, uint32_t aTimeoutMs, size_t &aReceived) = 0;

    /// Ends the transfers waiting now with TN_ABORTED.
    virtual void CancelTransfers() = 0;

protected:
    SimulatedU3v();
};
} // namespace device
} // namespace tn

#endif
