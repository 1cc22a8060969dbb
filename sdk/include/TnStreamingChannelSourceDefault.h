// The SDK's ready-made software streaming channel source.
#ifndef TN_STREAMING_CHANNEL_SOURCE_DEFAULT_H
#define TN_STREAMING_CHANNEL_SOURCE_DEFAULT_H

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <mutex>
#include <vector>

#include "ITnStreamingChannelSource.h"

/// A software source that answers everything but the filling of buffers:
/// geometry, pixel types, chunks and buffers of its own. A program derives
/// from it and implements QueueBuffer and RetrieveBuffer (the two operations
/// it leaves pure), and whatever else it wants to change.
///
/// Its image: aWidth x aHeight at aPixelType; SetWidth, SetHeight and
/// SetPixelType change it between 1 and the maximum (the constructor's
/// values, or 16384 when larger) and among the supported pixel types
/// (Mono8, Mono10, Mono12, Mono16, RGB8, BGR8, BayerRG8, YUV422_8 and the
/// constructor's); offsets stay 0. Chunks: one, ChunkSample (identifier
/// 0x4001, 64 bytes), enabled by SetChunkEnable with chunk mode active.
/// Buffers: AllocBuffer hands out aBufferCount buffers (at most 64) sized
/// for the largest image with its chunks, then null (sooner when more would
/// not fit the machine's memory and swap); FreeBuffer deletes them;
/// GetTxNumBuffersToUse lets the transmitter use all of them.
///
/// Safe to call from several threads at once.
class TN_SOFTDEVICE_API TnStreamingChannelSourceDefault : public ITnSWStreamingChannelSource
{
public:
    /// aWidth, aHeight and aPixelType: the default image; aBufferCount: the
    /// number of buffers to allocate for streaming.
    TnStreamingChannelSourceDefault(uint32_t aWidth = 640, uint32_t aHeight = 480,
                                    TnPixelType aPixelType = TnPixelMono8, size_t aBufferCount = 16);
    virtual ~TnStreamingChannelSourceDefault();

    uint32_t GetWidth() const override;
    uint32_t GetHeight() const override;
    uint32_t GetOffsetX() const override;
    uint32_t GetOffsetY() const override;
    TnPixelType GetPixelType() const override;
    void GetWidthInfo(uint32_t &aMin, uint32_t &aMax, uint32_t &aInc) const override;
    void GetHeightInfo(uint32_t &aMin, uint32_t &aMax, uint32_t &aInc) const override;
    uint32_t GetChunksSize() const override;
    uint32_t GetPayloadSize() const override;
    TnScanType GetScanType() const override;
    bool GetChunkModeActive() const override;
    bool GetChunkEnable(uint32_t aChunkID) const override;
    TnResult GetSupportedPixelType(int aIndex, TnPixelType &aPixelType) const override;
    TnResult GetSupportedChunk(int aIndex, uint32_t &aChunkID, TnString &aChunkName) const override;
    TnResult SetWidth(uint32_t aWidth) override;
    TnResult SetHeight(uint32_t aHeight) override;
    TnResult SetOffsetX(uint32_t aOffsetX) override;
    TnResult SetOffsetY(uint32_t aOffsetY) override;
    TnResult SetPixelType(TnPixelType aPixelType) override;
    TnResult SetChunkModeActive(bool aEnabled) override;
    TnResult SetChunkEnable(uint32_t aChunkID, bool aEnabled) override;
    void OnOpen(const TnString &aDestIP, uint16_t aDestPort) override;
    void OnClose() override;
    void OnStreamingStart() override;
    void OnStreamingStop() override;
    void CreateRegisters(ITnRegisterMap *aRegisterMap, ITnRegisterFactory *aFactory) override;
    void CreateGenApiFeatures(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory) override;
    bool IsPayloadTypeSupported(TnPayloadType aPayloadType) override;
    void SetMultiPartAllowed(bool aAllowed) override;
    void SetLargeLeaderTrailerEnabled(bool aEnabled, uint32_t aMaxMultiPartCount) override;
    TnResult SetTestPayloadFormatMode(TnPayloadType aPayloadType) override;
    TnBuffer *AllocBuffer() override;
    void FreeBuffer(TnBuffer *aBuffer) override;
    TnResult GetTxNumBuffersToUse(uint32_t &aNumBuffers) override;
    /// Does nothing: the buffers queued to a subclass are its own to abort
    /// (its RetrieveBuffer gives them back).
    void AbortQueuedBuffers() override;

#ifndef SWIG
private:
    mutable std::mutex mMutex;
    uint32_t mWidth;
    uint32_t mHeight;
    uint32_t mMaxWidth;
    uint32_t mMaxHeight;
    TnPixelType mPixelType;
    std::vector<TnPixelType> mPixelTypes;
    size_t mBufferCount;
    std::vector<TnBuffer *> mBuffers; // handed out by AllocBuffer, not yet freed
    size_t mAllocated;
    bool mChunkModeActive;
    bool mChunkEnabled;
#endif
};

#endif
