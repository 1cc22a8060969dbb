// The streaming channel source interfaces: what the software GigE Vision
// device asks of the program that supplies one stream channel's images.
//
// The device calls a source on its own threads, never with a lock of the SDK
// held, and catches whatever a source throws (it logs it and goes on: a
// failed answer counts as an error status, a failed buffer operation as a
// buffer that is not there). Within one stream channel the calls come one at
// a time, except AbortQueuedBuffers, which may come from another thread
// while RetrieveBuffer waits.
//
// While the device starts (inside Start, on the thread that called it):
// CreateRegisters, then CreateGenApiFeatures, then GetWidth and the other
// geometry getters, GetWidthInfo, GetHeightInfo, GetSupportedPixelType and
// GetSupportedChunk from index 0 until a status other than TN_OK,
// GetGevSCPSPacketSizeInfo once, IsPayloadTypeSupported, and AllocBuffer
// until it gives no buffer or 64 buffers were given.
//
// While a controller streams (on the channel's streaming thread):
// GetTxNumBuffersToUse, OnStreamingStart, then a loop of PreQueueBufferProc,
// QueueBuffer, RetrieveBuffer and PostRetrieveBufferProc; at the stop
// AbortQueuedBuffers, RetrieveBuffer until every queued buffer is back (or a
// bounded time has passed), OnStreamingStop. When the device stops:
// FreeBuffer once for each buffer AllocBuffer gave.
#ifndef ITN_STREAMING_CHANNEL_SOURCE_H
#define ITN_STREAMING_CHANNEL_SOURCE_H

#include <stdint.h>

#include "ITnRegisterMap.h"
#include "ITnGenApiFactory.h"
#include "TnExport.h"
#include "TnPayloadType.h"
#include "TnPixelType.h"
#include "TnResult.h"
#include "TnString.h"

class TnBuffer;
class ITnGenDCManager;

/// The scan kind of a source.
enum TnScanType
{
    TnScanTypeInvalid = -1,
    TnScanTypeArea = 0,
    TnScanTypeLine = 1,
    TnScanTypeArea3D = 2,
    TnScanTypeLine3D = 3
};

/// What the device asks of a source about its images.
class TN_SOFTDEVICE_API ITnStreamingChannelSource
{
public:
    /// A source for a subclass to implement.
    ITnStreamingChannelSource() {}
    /// Virtual destructor.
    virtual ~ITnStreamingChannelSource() {}

    /// The current image width.
    virtual uint32_t GetWidth() const = 0;
    /// The current image height.
    virtual uint32_t GetHeight() const = 0;
    /// The current image offset X.
    virtual uint32_t GetOffsetX() const = 0;
    /// The current image offset Y.
    virtual uint32_t GetOffsetY() const = 0;
    /// The current pixel type.
    virtual TnPixelType GetPixelType() const = 0;
    /// Minimum, maximum and increment of the Width feature the device adds
    /// to its GenICam description.
    virtual void GetWidthInfo(uint32_t &aMin, uint32_t &aMax, uint32_t &aInc) const = 0;
    /// The same for Height.
    virtual void GetHeightInfo(uint32_t &aMin, uint32_t &aMax, uint32_t &aInc) const = 0;
    /// The size of the chunk data as configured: for each chunk 4 bytes of
    /// chunk identifier and 4 bytes of chunk length besides its data (one
    /// 64-byte chunk: 72).
    virtual uint32_t GetChunksSize() const = 0;
    /// The payload size; 0 lets the device infer it from width, height,
    /// pixel type and chunk size; any other value is used as it is, chunk
    /// data not added (for multi-part: the sum of the parts' maximum sizes
    /// plus chunk data).
    virtual uint32_t GetPayloadSize() const = 0;
    /// TnScanTypeArea for an area-scan source, TnScanTypeLine for a
    /// line-scan source.
    virtual TnScanType GetScanType() const = 0;
    /// The master chunk mode; a source without chunks returns false.
    virtual bool GetChunkModeActive() const = 0;
    /// Whether the chunk type aChunkID is enabled; a chunk is sent when both
    /// this and the master chunk mode are true.
    virtual bool GetChunkEnable(uint32_t aChunkID) const = 0;
    /// Called while the device starts, from index 0 upward until the status
    /// is not TN_OK; lists the pixel types for the device's GenICam
    /// description.
    virtual TnResult GetSupportedPixelType(int aIndex, TnPixelType &aPixelType) const = 0;
    /// The same for chunk types, which fill the device's chunk selector;
    /// names should begin with "Chunk" (GenICam naming).
    virtual TnResult GetSupportedChunk(int aIndex, uint32_t &aChunkID, TnString &aChunkName) const = 0;
    /// An optional custom maximum of the GevSCPSPacketSize feature (up to
    /// 65535); a status other than TN_OK keeps the device's default (9000
    /// bytes). The default returns TN_NOT_IMPLEMENTED and leaves aMax alone.
    virtual TnResult GetGevSCPSPacketSizeInfo(uint32_t &aMax) const
    {
        (void)aMax;
        return TnResult(TN_NOT_IMPLEMENTED);
    }
    /// The device asks to change the width (a controller wrote the feature
    /// or its register); TN_OK accepts, an error code refuses.
    virtual TnResult SetWidth(uint32_t aWidth) = 0;
    /// The same for the height.
    virtual TnResult SetHeight(uint32_t aHeight) = 0;
    /// The same for offset X.
    virtual TnResult SetOffsetX(uint32_t aOffsetX) = 0;
    /// The same for offset Y.
    virtual TnResult SetOffsetY(uint32_t aOffsetY) = 0;
    /// The same for the pixel type.
    virtual TnResult SetPixelType(TnPixelType aPixelType) = 0;
    /// Sets the master chunk mode.
    virtual TnResult SetChunkModeActive(bool aEnabled) = 0;
    /// Enables or disables one chunk type.
    virtual TnResult SetChunkEnable(uint32_t aChunkID, bool aEnabled) = 0;
    /// The stream channel was opened towards aDestIP (dotted decimal) and
    /// aDestPort.
    virtual void OnOpen(const TnString &aDestIP, uint16_t aDestPort) = 0;
    /// The stream channel was closed.
    virtual void OnClose() = 0;
    /// The controller asked the device to start streaming on this channel.
    virtual void OnStreamingStart() = 0;
    /// The controller asked the device to stop streaming on this channel.
    virtual void OnStreamingStop() = 0;
    /// Adds the source's own registers; called inside the device's Start,
    /// before CreateGenApiFeatures. Several sources of one class need
    /// distinct register addresses. The default does nothing.
    virtual void CreateRegisters(ITnRegisterMap *aRegisterMap, ITnRegisterFactory *aFactory)
    {
        (void)aRegisterMap;
        (void)aFactory;
    }
    /// Adds the source's own GenICam features, after CreateRegisters; a
    /// feature created by some sources is available only while the device's
    /// SourceSelector selects one of them. The default does nothing.
    virtual void CreateGenApiFeatures(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory)
    {
        (void)aRegisterMap;
        (void)aFactory;
    }
    /// Whether the source can send buffers of that payload type; true for
    /// TnPayloadTypeMultiPart makes the device add its multi-part features.
    /// The default returns false.
    virtual bool IsPayloadTypeSupported(TnPayloadType aPayloadType)
    {
        (void)aPayloadType;
        return false;
    }
    /// Whether the source may (not must) send multi-part data. The default
    /// does nothing.
    virtual void SetMultiPartAllowed(bool aAllowed)
    {
        (void)aAllowed;
    }
    /// Whether multi-part data uses large leader and trailer packets, which
    /// allow more than 10 parts. The default does nothing.
    virtual void SetLargeLeaderTrailerEnabled(bool aEnabled, uint32_t aMaxMultiPartCount)
    {
        (void)aEnabled;
        (void)aMaxMultiPartCount;
    }
    /// Puts the source into a test streaming mode for that payload type
    /// (used by validation tools); TnPayloadTypeNone returns it to normal
    /// operation. The default refuses with TN_NOT_SUPPORTED.
    virtual TnResult SetTestPayloadFormatMode(TnPayloadType aPayloadType)
    {
        (void)aPayloadType;
        return TnResult(TN_NOT_SUPPORTED);
    }
};

/// A software streaming channel source: the type the device's AddStream
/// takes. Adds the buffers the device streams.
class TN_SOFTDEVICE_API ITnSWStreamingChannelSource : public ITnStreamingChannelSource
{
public:
    /// A software source for a subclass to implement; the device takes it
    /// with AddStream.
    ITnSWStreamingChannelSource() {}
    /// Virtual destructor.
    // It leaves the devices the source was added to, as
    // ITnRegisterEventSink's leaves its registers: its stream channel stops
    // and the device calls it no more.
    virtual ~ITnSWStreamingChannelSource();

    /// Called by the device during its start, repeatedly: one new buffer per
    /// call, for acquisition and transmission, until the source has given as
    /// many as it wants to stream with, and then null. Each buffer is given
    /// once; a channel uses at most 64. A buffer given here stays in the
    /// device's use until FreeBuffer is called for it.
    virtual TnBuffer *AllocBuffer() = 0;
    /// Called when the device stops, once for each buffer AllocBuffer gave.
    virtual void FreeBuffer(TnBuffer *aBuffer) = 0;
    /// Called before OnStreamingStart: the source may limit how many of its
    /// buffers the transmitter uses, from 4 up to the number it allocated;
    /// TN_NOT_IMPLEMENTED makes it use all of them.
    virtual TnResult GetTxNumBuffersToUse(uint32_t &aNumBuffers) = 0;
    /// An empty buffer to fill; TN_OK accepts it, an error code refuses it
    /// (the source's queue is full, for example).
    virtual TnResult QueueBuffer(TnBuffer *aBuffer) = 0;
    /// A step of the device's buffer loop, before a buffer is queued: true
    /// goes on queueing and retrieving. Meant to be left at its default
    /// (true).
    virtual bool PreQueueBufferProc()
    {
        return true;
    }
    /// An advanced hook after a buffer was retrieved. The default does
    /// nothing.
    virtual void PostRetrieveBufferProc() {}
    /// Gives back a buffer filled with an image (or, one per call, the
    /// buffers aborted by AbortQueuedBuffers) in *aBuffer. A source that has
    /// no image yet waits for one here, in short steps (10 to 50 ms), and
    /// returns TN_TIMEOUT (or another status) with no buffer after such a
    /// step, so that the device can stop streaming in an orderly way.
    virtual TnResult RetrieveBuffer(TnBuffer **aBuffer) = 0;
    /// Aborts the acquisition of every queued buffer not yet retrieved, and
    /// returns once all of them are aborted, so that RetrieveBuffer can give
    /// each of them back.
    virtual void AbortQueuedBuffers() = 0;
};

#ifndef SWIG
/// As TnSoftDeviceRelease(ITnRegisterEventSink *), for the devices and their
/// stream channels (the source's channel stops).
TN_SOFTDEVICE_API void TnSoftDeviceRelease(ITnSWStreamingChannelSource *aSource);
#endif

/// A software source whose stream carries GenICam generic data containers.
///
/// On a device with GenDC enabled, Start hands the source its manager
/// (AssignGenDCManager, the same manager every Start, its container emptied
/// first), has it lay out its container (SetupGenDCContainer) and reads its
/// streaming mode (GetGenDCStreamingMode) before it asks for the payload size
/// and allocates buffers; a controller's change of the GenDCStreamingMode
/// feature is offered to SetGenDCStreamingMode, whose refusal fails the
/// write. The source resets its buffers to TnPayloadTypeGenDC, attaches the
/// manager to them and fills the containers; in GenDC streaming mode they go
/// as GenDC blocks. The manager lives as long as the device.
class TN_SOFTDEVICE_API ITnSWStreamingChannelSourceGenDC : public ITnSWStreamingChannelSource
{
public:
    ITnSWStreamingChannelSourceGenDC() : mGenDCReserved(0) {}
    virtual ~ITnSWStreamingChannelSourceGenDC() {}

    /// Hands the source the GenDC manager that connects it with the GenDC
    /// management.
    virtual void AssignGenDCManager(ITnGenDCManager *aManager) = 0;
    /// Called during the device's start so that the source lays out its
    /// container: its structure, components and parts.
    virtual void SetupGenDCContainer() = 0;
    /// Whether GenDC streaming mode is enabled.
    virtual bool GetGenDCStreamingMode() const = 0;
    /// Enables or disables GenDC streaming mode; TN_OK when it was set.
    virtual TnResult SetGenDCStreamingMode(bool aEnabled) = 0;

private:
    uint64_t mGenDCReserved;
};

#endif
