// A receive stream: the program queues empty buffers, the stream fills them
// with the blocks a device sends and hands them back.
#ifndef TN_STREAM_H
#define TN_STREAM_H

#include <stdint.h>

#include "TnBuffer.h"
#include "TnDeviceInfo.h"
#include "TnExport.h"
#include "TnGenParameterArray.h"
#include "TnResult.h"
#include "TnStreamEventSink.h"
#include "TnStreamTypes.h"
#include "TnString.h"

#ifndef SWIG
namespace tn
{
namespace stream
{
class StreamCore;
}
} // namespace tn
#endif

/// The receiving end of one streaming channel of a device.
///
/// A stream is closed until opened; while open it takes buffers with
/// ``QueueBuffer`` (at most ``GetQueuedBufferMaximum`` at a time), fills them
/// with the blocks it receives, one block per buffer, and hands them back
/// through ``RetrieveBuffer``, complete or with the reason they failed. A
/// buffer with a missing part of its block never comes back with an OK
/// operation result.
///
/// ``AbortQueuedBuffers`` and ``Close`` end every pending buffer with
/// ``TN_ABORTED``; aborted buffers still come back through ``RetrieveBuffer``,
/// after ``Close`` too. A stream that is destroyed stops the pipelines built
/// on it and forgets the buffers it still holds (their owners keep them).
///
/// Every operation may be called from any thread; ``RetrieveBuffer`` may wait
/// on one thread while another queues or aborts buffers.
class TN_STREAM_API TnStream
{
public:
    /// Opens a stream of the device's kind: a ``TnStreamGEV`` for a GigE Vision
    /// device, a ``TnStreamU3V`` for a USB3 Vision device.
    ///
    /// Returns the open stream, or null when it cannot be opened;
    /// ``aResult`` (may be null) receives the outcome: ``TN_OK``,
    /// ``TN_INVALID_PARAMETER``, ``TN_NOT_ENOUGH_MEMORY``, ``TN_NOT_CONNECTED``,
    /// ``TN_GENERIC_ERROR``, ``TN_BAD_VERSION``, and for USB devices
    /// ``TN_NOT_FOUND``, ``TN_CANNOT_OPEN_FILE`` or ``TN_NOT_SUPPORTED``. Release
    /// the stream with ``Free``.
    static TnStream *CreateAndOpen(const TnDeviceInfo *aDeviceInfo, TnResult *aResult);

    /// Opens a stream by the device's IP address in dotted form (a GigE
    /// Vision device) or its GUID (a USB3 Vision device), as the other form
    /// does.
    static TnStream *CreateAndOpen(const TnString &aInfo, TnResult *aResult);

    /// Closes and destroys a stream made by ``CreateAndOpen``; any other
    /// stream (one made with a constructor, one freed already) stays as it
    /// is.
    static void Free(TnStream *aStream);

    /// Closes the stream first.
    virtual ~TnStream();

    /// Opens the stream on the device's first streaming channel.
    virtual TnResult Open(const TnDeviceInfo *aDeviceInfo) = 0;

    /// Opens the stream on the first streaming channel of the device with
    /// this IP address (GigE Vision) or GUID (USB3 Vision).
    virtual TnResult Open(const TnString &aInfo) = 0;

    /// Ends receiving: every pending buffer ends with ``TN_ABORTED`` and waits
    /// to be retrieved, and the pipelines built on the stream stop. The
    /// stream can be opened again. ``TN_OK``, or ``TN_NOT_CONNECTED`` when it
    /// is not open.
    TnResult Close();

    /// Whether the stream is open.
    bool IsOpen() const;

    /// The kind of stream.
    virtual TnStreamType GetType() const = 0;

    /// The device's streaming channel the stream receives.
    uint16_t GetChannel();

    /// Hands an empty buffer to the stream, to be filled with the next block.
    /// The caller keeps the buffer, and leaves it alone, until it comes back
    /// through ``RetrieveBuffer``.
    ///
    /// Returns ``TN_PENDING`` when the buffer is queued (not ``TN_OK``);
    /// ``TN_INVALID_PARAMETER`` for a null buffer, one without memory or one
    /// already queued; ``TN_NOT_CONNECTED`` when the stream is not open;
    /// ``TN_NO_MORE_ENTRY`` when ``GetQueuedBufferMaximum`` buffers are queued
    /// already.
    TnResult QueueBuffer(TnBuffer *aBuffer);

    /// Takes back the next buffer the stream is done with: filled, failed or
    /// aborted. Waits at most ``aTimeout`` milliseconds.
    ///
    /// Returns ``TN_OK`` with the buffer in ``aBuffer`` and what became of its
    /// block in ``aOperationResult`` (``TN_OK`` for a complete block; the
    /// retrieval may be OK while the operation result is ``TN_ABORTED``).
    /// Otherwise ``aBuffer`` is null: ``TN_TIMEOUT``, ``TN_INVALID_PARAMETER``
    /// for a null ``aBuffer``, ``TN_NO_MORE_ITEM`` when no buffer is queued,
    /// ``TN_NOT_CONNECTED`` when the stream is closed and holds no buffer.
    TnResult RetrieveBuffer(TnBuffer **aBuffer, TnResult *aOperationResult, uint32_t aTimeout = 0xFFFFFFFF);

    /// Ends every pending buffer with ``TN_ABORTED``; the buffers still have to
    /// be retrieved. ``TN_OK``, or ``TN_NOT_CONNECTED`` when the stream is not
    /// open.
    TnResult AbortQueuedBuffers();

    /// The buffers queued and not yet retrieved: each queueing adds one, each
    /// retrieval takes one away.
    uint32_t GetQueuedBufferCount() const;

    /// The most buffers that can be queued at once.
    uint32_t GetQueuedBufferMaximum() const;

    /// Registers a sink told of the stream's buffers; the stream does not own
    /// it. ``TN_INVALID_PARAMETER`` for a null sink or one registered already.
    TnResult RegisterEventSink(TnStreamEventSink *aEventSink);

    /// Unregisters a sink. Unless called from inside one of its calls, it
    /// returns once no call to it runs any more. ``TN_NOT_FOUND`` for a sink
    /// that is not registered.
    TnResult UnregisterEventSink(TnStreamEventSink *aEventSink);

    /// The features that rule how data is received, with the receiver's
    /// statistics. The array belongs to the stream.
    TnGenParameterArray *GetParameters();

#ifndef SWIG
    tn::stream::StreamCore *GetCore() const
    {
        return mCore;
    }

protected:
    /// Streams are built by the derived classes; the core belongs to the
    /// stream from then on.
    explicit TnStream(tn::stream::StreamCore *aCore);

private:
    TnStream(const TnStream &) = delete;
    TnStream &operator=(const TnStream &) = delete;
    tn::stream::StreamCore *mCore;
#endif
};

#endif
