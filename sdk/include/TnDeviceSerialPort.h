// A serial port reached through a connected device.
#ifndef TN_DEVICE_SERIAL_PORT_H
#define TN_DEVICE_SERIAL_PORT_H

#include <stdint.h>

#include "TnDeviceAdapter.h"
#include "TnExport.h"
#include "TnResult.h"

/// The serial ports and bulk channels of a device.
typedef enum
{
    TnDeviceSerialInvalid = -1,
    TnDeviceSerial0 = 0,
    TnDeviceSerial1 = 1,
    TnDeviceSerialBulk0 = 2,
    TnDeviceSerialBulk1 = 3,
    TnDeviceSerialBulk2 = 4,
    TnDeviceSerialBulk3 = 5,
    TnDeviceSerialBulk4 = 6,
    TnDeviceSerialBulk5 = 7,
    TnDeviceSerialBulk6 = 8,
    TnDeviceSerialBulk7 = 9
} TnDeviceSerial;

class TnDeviceSerialPortEchoSink;

namespace tn
{
namespace device
{
struct SerialPortState;
}
} // namespace tn

#ifndef SWIG
/// Sees all device serial traffic of the process. Whatever it throws is
/// ignored; it must not close the port it is told about.
class TN_DEVICE_API TnDeviceSerialPortEchoSink
{
public:
    virtual ~TnDeviceSerialPortEchoSink();
    /// Bytes a device took from a port's Write, on the writing thread.
    virtual void OnWrite(const uint8_t *aData, uint32_t aSize) = 0;
    /// Bytes a port received, on the port's thread.
    virtual void OnRead(const uint8_t *aData, uint32_t aSize) = 0;
    /// A port's NotifyReadComplete, on the calling thread.
    virtual void OnReadComplete() = 0;
};
#endif

/// One serial port of a device, opened through the device's adapter.
///
/// The bytes travel over the device's GenICam features: a device offers port
/// P (Serial0, Serial1, SerialBulk0 ... SerialBulk7) when it has the
/// registers PTransmitData and PReceiveData and the integers PTransmitFree
/// and PReceiveCount (see the README for their protocol); ``IsSupported``
/// answers from them. The simulated USB3 Vision devices offer Serial0 and
/// Serial1, each an echoing line.
///
/// An open port's thread moves the bytes the device receives into the
/// port's receive buffer, which keeps the newest bytes when it is full.
/// ``Write`` blocks until the device took every byte; another thread may
/// follow it with ``GetWriteProgress``. Echo sinks see the bytes written and
/// received by every port of the process.
class TN_DEVICE_API TnDeviceSerialPort
{
public:
    TnDeviceSerialPort();
    virtual ~TnDeviceSerialPort();

    /// Opens a port of the device behind the adapter: TN_NOT_CONNECTED when
    /// the device is not connected, TN_NOT_SUPPORTED when it lacks the port.
    TnResult Open(ITnDeviceAdapter *aAdapter, TnDeviceSerial aPort);
    /// TN_NOT_CONNECTED when the port is not open.
    TnResult Close();
    bool IsOpened();

    /// Writes aSize bytes, blocking until they are sent or the write fails.
    TnResult Write(const uint8_t *aBuffer, uint32_t aSize, uint32_t &aBytesWritten);
    /// The progress of the current (or last) write; TN_STATE_ERROR before any.
    TnResult GetWriteProgress(uint32_t &aWritten, uint32_t &aTotal);
    /// Reads up to aSize queued bytes, waiting at most aTimeout milliseconds
    /// for some to arrive.
    TnResult Read(uint8_t *aBuffer, uint32_t aSize, uint32_t &aBytesRead, uint32_t aTimeout);
    /// Tells the echo sinks that a read is complete.
    TnResult NotifyReadComplete();
    /// Empties the receive buffer.
    TnResult FlushRxBuffer();
    TnResult GetRxBytesReady(uint32_t &aBytes);
    TnResult GetRxBufferSize(uint32_t &aSize);
    /// Resizes the receive buffer, emptying it.
    TnResult SetRxBufferSize(uint32_t aSize);

    static bool IsSupported(ITnDeviceAdapter *aAdapter, TnDeviceSerial aPort);
    /// Echo sinks see the serial traffic of every port of the process.
    static TnResult RegisterEchoSink(TnDeviceSerialPortEchoSink *aEchoSink);
    static TnResult UnregisterEchoSink(TnDeviceSerialPortEchoSink *aEchoSink);

    uint64_t GetBytesSent() const;
    uint64_t GetBytesReceived() const;
    void ResetStatistics();

#ifndef SWIG
private:
    TnDeviceSerialPort(const TnDeviceSerialPort &) = delete;
    TnDeviceSerialPort &operator=(const TnDeviceSerialPort &) = delete;
    tn::device::SerialPortState *mState;
#endif
};

#endif
