// Lossless compression of image buffers.
#ifndef TN_COMPRESSION_FILTER_H
#define TN_COMPRESSION_FILTER_H

#include <stdint.h>

#include "ITnFilter.h"
#include "TnExport.h"
#include "TnResult.h"
#include "TnStreamTypes.h"

#ifndef SWIG
namespace tn
{
namespace convert
{
class CompressionCore;
}
} // namespace tn
#endif

/// Compresses image buffers without loss, into buffers of payload type
/// ``TnPayloadTypeVexmoorCompressed`` that ``TnDecompressionFilter`` turns
/// back into the same image, byte for byte, paddings included.
///
/// ``TnEncodingPTC1``, the one encoding: a header (geometry, pixel type,
/// block ID, timestamp, a checksum of the image's bytes), then bands of rows
/// compressed apart so that they can be decompressed in parallel. Each row of
/// samples is predicted from its neighbours (Bayer images within each colour
/// plane, RGB images after taking green from red and blue), with the best of
/// four predictors per row, and the residuals are compressed by zstd. Every
/// image pixel type of the SDK is accepted; packed types whose rows do not
/// end on a byte, and types without a predictor, are compressed as plain
/// bytes.
///
/// The filter compresses on the calling thread: it does not support worker
/// threads.
class TN_BUFFER_RECEIVE_API TnCompressionFilter : public ITnFilter
{
public:
    /// A filter with the encoding ``TnEncodingPTC1``.
    TnCompressionFilter();

    /// Destroys the filter.
    virtual ~TnCompressionFilter();

    /// Compresses the image of ``aIn`` into ``aOut``, which takes its block
    /// ID and timestamp. ``aOut`` is reset to the compressed payload type and
    /// given memory of its own when it has too little; attached memory is
    /// never written past.
    ///
    /// ``TN_OK``; ``TN_INVALID_PARAMETER`` for no input or output, or the
    /// same buffer as both; ``TN_NOT_SUPPORTED`` for an input that is not an
    /// image in memory of a known pixel type; ``TN_BUFFER_TOO_SMALL`` when the
    /// result does not fit memory attached to ``aOut``;
    /// ``TN_NOT_ENOUGH_MEMORY``.
    TnResult Execute(const TnBuffer *aIn, TnBuffer *aOut) override;

    /// ``TN_NOT_SUPPORTED``: the filter has no worker threads.
    TnResult SetThreadCount(uint32_t aCount) override;

    /// 1: the calling thread.
    uint32_t GetThreadCount() const override;

    /// The normal priority, 3; ``TN_OK``.
    TnResult GetThreadsPriority(uint32_t &aPriority) const override;

    /// ``TN_NOT_SUPPORTED``: the filter has no worker threads.
    TnResult SetThreadsPriority(uint32_t aPriority) override;

    /// Sets the encoding: ``TN_OK`` for ``TnEncodingPTC1``,
    /// ``TN_NOT_SUPPORTED`` for any other value (the encoding then unchanged).
    TnResult SetEncoding(TnEncodingEnum aValue);

    /// The encoding.
    TnEncodingEnum GetEncoding() const;

#ifndef SWIG
    TnCompressionFilter(const TnCompressionFilter &) = delete;
    TnCompressionFilter &operator=(const TnCompressionFilter &) = delete;

private:
    tn::convert::CompressionCore *mCore;
#endif
};

#endif
