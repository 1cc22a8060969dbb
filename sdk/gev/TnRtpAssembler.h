// Frame assembly on the receiving side of an RTP stream: pure logic, no
// sockets, no clock and no threads of its own, so that every rule is tested
// with crafted packets.
//
// The assembler takes the stream's packets one at a time, locks onto the
// first synchronisation source it hears (another one takes over only after
// the first has been silent for a while), and groups packets into frames by
// their timestamp. A frame gets memory from a frame provider when its first
// packet comes and goes back to it exactly once: complete (TN_OK) or failed
// with the reason. What a frame holds depends on the payload expected:
//   - raw video (RFC 4175) of a known geometry: each line segment written at
//     its line and offset, whatever the packets' order;
//   - H.264 (RFC 6184): the access unit in Annex B form (a 4-byte start code
//     before each NAL unit), from single NAL unit packets, STAP-A and FU-A,
//     in sequence order;
//   - anything: the packets' payloads one after the other, in sequence order.
// A frame is complete when its last packet (the marker) has come, no
// sequence number between its first packet and the marker is missing, and
// its start is known: the packet before it was the previous frame's marker,
// or, for H.264, its first NAL unit begins an access unit. A raw-video frame
// is complete only when every pixel of the image came, whatever its packets
// (segments that overlap bring their pixels once). A frame with a missing packet is never
// reported complete: it fails once its end is known (its marker came, or a
// newer frame's packet shows that it ended) and the reorder tolerance has
// passed, when a newer frame pushes it out, or after the frame timeout
// without a packet. A frame whose marker never came counts the sequence
// numbers up to the newer frame's first packet as lost, its marker among
// them.
//
// Scatter receive (raw video): Predict names, for the next packets, the
// header they will have and where each line segment's data goes if the
// sender keeps filling packets the way it did; a receiver points its receive
// vectors there and reports such a packet with OnPredicted, which records it
// without copying. Anything else comes whole to OnDatagram and is copied
// once. Since whatever datagram comes is written where the prediction
// pointed, nothing is predicted over pixels a frame holds already.
//
// Times are microseconds of any monotonic clock, passed in by the caller.
#ifndef TN_RTP_ASSEMBLER_H
#define TN_RTP_ASSEMBLER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "TnGevExport.h"
#include "TnGvspAssembler.h"
#include "TnRtp.h"

namespace tn
{
namespace gev
{
enum class TnRtpPayload
{
    Any,
    RawVideo,
    H264
};

struct TnRtpAssemblerConfig
{
    TnRtpPayload mPayload = TnRtpPayload::Any;
    /// Raw video: the image, and the bytes after each line in memory.
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
    uint32_t mPaddingX = 0;
    TnRawSampling mSampling;
    /// The pixel type the frames' images have: for the provider (the
    /// assembler goes by mSampling).
    uint32_t mPixelType = 0;
    /// A frame whose end came with packets missing waits this long for them.
    uint32_t mReorderToleranceUs = 2000;
    /// A frame without a packet for this long fails.
    uint32_t mFrameTimeoutUs = 1000000;
    /// Frames assembled at once; starting one more fails the oldest.
    uint32_t mMaxFramesInFlight = 2;
    /// Another synchronisation source takes over after the one locked onto
    /// has been silent this long.
    uint32_t mSourceSilenceUs = 200000;
    /// The provider hears of a frame this long before it is expected to
    /// complete (OnFrameNearlyDone); 0: never.
    uint32_t mNearlyDoneLeadUs = 0;
};

/// What became of one frame, handed to the provider with its memory.
struct TnRtpFrameReport
{
    /// TN_OK, or why the frame failed: TN_MISSING_PACKETS, TN_BUFFER_TOO_SMALL,
    /// TN_INVALID_DATA_FORMAT (packets that do not fit the payload expected),
    /// TN_TIMEOUT, TN_ABORTED.
    uint32_t mResult = 0;
    uint32_t mTimestamp = 0;
    uint32_t mSsrc = 0;
    /// Bytes written: the image's (raw video), the access unit's (H.264),
    /// the payloads' (anything); at most the memory's size.
    uint64_t mSize = 0;
    /// Bytes the frame needs, as far as known.
    uint64_t mRequiredSize = 0;
    /// Extended sequence numbers of the frame's first and last packets seen.
    uint64_t mFirstSequence = 0;
    uint64_t mLastSequence = 0;
    uint32_t mPackets = 0;    ///< distinct packets taken into the frame
    uint32_t mLost = 0;       ///< sequence numbers missing between the first and the last
    uint32_t mRedundant = 0;
    uint32_t mOutOfOrder = 0;
    uint64_t mFirstPacketUs = 0;
    uint64_t mLastPacketUs = 0;
};

/// Where frames go: the stream side. Called on the assembler's thread.
class TN_GEV_API TnRtpFrameProvider
{
public:
    virtual ~TnRtpFrameProvider();
    /// Memory for the next frame; false when there is none (the frame is
    /// dropped and counted).
    virtual bool AcquireFrame(TnGvspBlockTarget &aTarget) = 0;
    /// A finished frame, complete or failed: the memory goes back.
    virtual void FinishFrame(const TnGvspBlockTarget &aTarget, const TnRtpFrameReport &aReport) = 0;
    /// Memory acquired for a frame that never started (at a stop).
    virtual void ReturnFrame(const TnGvspBlockTarget &aTarget) = 0;
    /// A frame is about to complete (see mNearlyDoneLeadUs); once per frame
    /// at most. The default does nothing.
    virtual void OnFrameNearlyDone(const TnGvspBlockTarget &aTarget);
};

/// Counters of the whole stream since the last reset.
struct TnRtpReceiveStatistics
{
    uint64_t mPackets = 0; ///< packets taken
    uint64_t mBytes = 0;   ///< their bytes
    uint64_t mPacketsInPlace = 0;
    uint64_t mPacketsCopied = 0;
    uint64_t mFramesCompleted = 0;
    uint64_t mFramesFailed = 0; ///< aborted ones not counted
    uint64_t mFramesAborted = 0;
    uint64_t mFramesDropped = 0; ///< no memory from the provider
    uint64_t mFramesTooSmall = 0;
    uint64_t mPacketsIgnored = 0; ///< other sources, stale or foreign packets
    uint64_t mPacketsLost = 0;
    uint64_t mPacketsRedundant = 0;
    uint64_t mPacketsOutOfOrder = 0;
    uint64_t mMalformedPackets = 0;
    uint64_t mSourceChanges = 0;
};

/// A predicted raw-video packet: sequence number mSequence, mHeaderSize
/// bytes of headers (RTP's, the extended sequence number and one line header
/// per segment), then each segment's data at mData[i]. mCount 0: no
/// prediction.
struct TnRtpPrediction
{
    uint16_t mSequence = 0;
    bool mNextFrame = false; ///< the first packets of the frame after the current one
    uint32_t mRtpHeaderSize = 0;
    uint32_t mHeaderSize = 0;
    uint32_t mCount = 0;
    TnRawSegment mSegments[kRtpRawMaxSegments];
    uint8_t *mData[kRtpRawMaxSegments] = {};
    uint32_t mTotal = 0;
    /// The memory of the frame the data went to.
    const uint8_t *mFrameData = nullptr;
};

class TN_GEV_API TnRtpAssembler
{
public:
    TnRtpAssembler();
    ~TnRtpAssembler();
    TnRtpAssembler(const TnRtpAssembler &) = delete;
    TnRtpAssembler &operator=(const TnRtpAssembler &) = delete;

    /// Settings; frames in flight are aborted first, and the source and
    /// sequence are learned anew.
    void Configure(const TnRtpAssemblerConfig &aConfig, uint64_t aNowUs = 0);
    const TnRtpAssemblerConfig &GetConfig() const { return mConfig; }

    /// The reorder tolerance and frame timeout, for the frames in flight too.
    void SetTimes(uint32_t aReorderToleranceUs, uint32_t aFrameTimeoutUs);

    void SetProvider(TnRtpFrameProvider *aProvider) { mProvider = aProvider; }

    /// One whole packet.
    void OnDatagram(const uint8_t *aData, size_t aSize, uint64_t aNowUs);

    /// Up to aMax predictions for the packets to come, in their expected
    /// order; may acquire memory for the next frame in advance.
    size_t Predict(TnRtpPrediction *aOut, size_t aMax);

    /// Whether a packet of aSize bytes whose first aPrediction.mHeaderSize
    /// bytes are at aHeader, and whose data went to the prediction's places,
    /// is the packet predicted.
    bool Matches(const TnRtpPrediction &aPrediction, const uint8_t *aHeader, size_t aSize) const;

    /// A packet that Matches its prediction: its data is in place.
    void OnPredicted(const TnRtpPrediction &aPrediction, const uint8_t *aHeader, size_t aSize, uint64_t aNowUs);

    /// Runs the timers: frames waiting for missing packets, timeouts.
    void Poll(uint64_t aNowUs);

    /// The earliest time Poll has something to do; UINT64_MAX when nothing
    /// waits.
    uint64_t GetNextDeadline() const;

    /// Ends every frame in flight with aResult, and returns memory acquired
    /// in advance.
    void FinishAll(uint32_t aResult, uint64_t aNowUs);

    size_t GetFramesInFlight() const;

    const TnRtpReceiveStatistics &GetStatistics() const { return mStatistics; }
    void ResetStatistics() { mStatistics = TnRtpReceiveStatistics(); }

private:
    struct Frame;

    /// aPredicted: the prediction of a packet whose data is in place.
    void Process(const TnRtpHeader &aHeader, const uint8_t *aPayload, const TnRtpPrediction *aPredicted,
                 uint64_t aNowUs);
    bool AcceptSource(const TnRtpHeader &aHeader, uint64_t aNowUs);
    uint64_t Extend(uint16_t aSequence) const;
    Frame *FindOrStart(const TnRtpHeader &aHeader, uint64_t aSequence, uint64_t aNowUs);
    void PlaceRaw(Frame &aFrame, const uint8_t *aPayload, size_t aSize, const TnRtpPrediction *aPredicted,
                  uint64_t aSequence);
    void AppendH264(Frame &aFrame, const uint8_t *aPayload, size_t aSize);
    void Append(Frame &aFrame, const uint8_t *aData, size_t aSize, bool aStartCode);
    void Check(Frame &aFrame, uint64_t aNowUs);
    void Finish(size_t aIndex, uint32_t aResult, uint64_t aNowUs);
    uint64_t ImageBytes() const;
    uint64_t LineStride() const;
    bool WasFinished(uint32_t aTimestamp) const;
    /// Whether pixels a prediction's segments would take came already.
    bool PlacesTaken(const Frame &aFrame, const TnRtpPrediction &aPrediction) const;

    TnRtpAssemblerConfig mConfig;
    TnRtpFrameProvider *mProvider = nullptr;
    std::vector<Frame> mFrames; // oldest first
    bool mHaveSpare = false;
    TnGvspBlockTarget mSpare;
    // The source and the sequence.
    bool mHaveSource = false;
    uint32_t mSsrc = 0;
    uint64_t mSourceHeardUs = 0;
    uint64_t mHighest = 0; // extended; 0: none yet
    uint64_t mLastMarker = 0;
    uint32_t mFinished[4] = {};
    size_t mFinishedCount = 0;
    size_t mFinishedNext = 0;
    // Where the next raw-video packet is expected (for Predict).
    bool mCanPredict = false;
    uint64_t mNextSequence = 0;
    uint32_t mNextLine = 0;
    uint32_t mNextOffset = 0;
    bool mNextInNewFrame = false;
    uint32_t mRtpHeaderSize = 0;
    size_t mDatagramSize = 0;
    std::vector<std::vector<uint64_t>> mSpareCoverage; // pixel bits of finished frames, for the next ones
    TnRtpReceiveStatistics mStatistics;
};
} // namespace gev
} // namespace tn

#endif
