// Decompression of the buffers that TnCompressionFilter makes.
#ifndef TN_DECOMPRESSION_FILTER_H
#define TN_DECOMPRESSION_FILTER_H

#include <stdint.h>

#include "ITnFilter.h"
#include "TnExport.h"
#include "TnPixelType.h"
#include "TnResult.h"

#ifndef SWIG
namespace tn
{
namespace convert
{
class DecompressionCore;
}
} // namespace tn
#endif

/// Turns compressed buffers (payload type ``TnPayloadTypeVexmoorCompressed``,
/// encoding ``TnEncodingPTC1``) back into the images they were made of.
///
/// The bands of a compressed image are decompressed by the filter's worker
/// threads: one for each two logical processors until set, at the normal
/// priority 3. Every band's bytes are checked against the checksum the
/// compressed buffer carries before the image is reported whole.
class TN_BUFFER_RECEIVE_API TnDecompressionFilter : public ITnFilter
{
public:
    /// A filter whose worker threads start when it is first used.
    TnDecompressionFilter();

    /// Ends the worker threads.
    virtual ~TnDecompressionFilter();

    /// Decompresses ``aIn`` into the image of ``aOut``. ``aOut`` is reset to
    /// an image buffer when it is not one, and given the compressed image's
    /// geometry, reallocated when it owns its memory (or has none) and that
    /// is too small; attached memory is never written past.
    ///
    /// ``TN_OK``; ``TN_INVALID_PARAMETER`` for no input or output, or the
    /// same buffer as both; ``TN_NOT_SUPPORTED`` for an input that is not a
    /// compressed buffer of a known encoding; ``TN_IMAGE_ERROR`` for a
    /// compressed buffer that is corrupted or cut short (what was written to
    /// ``aOut`` is then not the image); ``TN_BUFFER_TOO_SMALL`` when the image
    /// does not fit memory attached to ``aOut``; ``TN_NOT_ENOUGH_MEMORY``.
    TnResult Execute(const TnBuffer *aIn, TnBuffer *aOut) override;

    /// Sets the number of worker threads, 1 to 64: ``TN_OK``, or
    /// ``TN_INVALID_PARAMETER`` outside that range.
    TnResult SetThreadCount(uint32_t aCount) override;

    /// The number of worker threads.
    uint32_t GetThreadCount() const override;

    /// The priority of the worker threads; ``TN_OK``.
    TnResult GetThreadsPriority(uint32_t &aPriority) const override;

    /// Sets the priority of the worker threads, 0 to 6: ``TN_OK``,
    /// ``TN_INVALID_PARAMETER`` above 6, ``TN_GENERIC_ERROR`` when the system
    /// refuses it (raising it needs privileges), the priority then unchanged.
    TnResult SetThreadsPriority(uint32_t aPriority) override;

    /// Whether ``aIn`` is a compressed buffer whose header this filter reads:
    /// of the compressed payload type, with a whole and valid header. Reads
    /// the header only: the data after it may still be cut short or damaged.
    static bool IsCompressed(const TnBuffer *aIn);

    /// The pixel type, width and height that ``aIn`` decompresses to, read
    /// from its header alone.
    ///
    /// ``TN_OK``; ``TN_INVALID_PARAMETER`` for no buffer; ``TN_NOT_SUPPORTED``
    /// for a buffer that is not compressed; ``TN_IMAGE_ERROR`` for a header
    /// that is corrupted or cut short. The three values are left as they were
    /// unless the result is OK.
    static TnResult GetOutputFormatFor(const TnBuffer *aIn, TnPixelType &aPixelType, uint32_t &aWidth,
                                       uint32_t &aHeight);

#ifndef SWIG
    TnDecompressionFilter(const TnDecompressionFilter &) = delete;
    TnDecompressionFilter &operator=(const TnDecompressionFilter &) = delete;

private:
    tn::convert::DecompressionCore *mCore;
#endif
};

#endif
