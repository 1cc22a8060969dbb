// The buffer converter's colour filter: a gain and an offset per colour.
#ifndef TN_BUFFER_CONVERTER_RGB_FILTER_H
#define TN_BUFFER_CONVERTER_RGB_FILTER_H

#include <stdint.h>

#include "TnExport.h"
#include "TnResult.h"

class TnBuffer;

/// A gain and an offset for each of red, green and blue: the new level of a
/// colour is gain x old level + offset, rounded and held within the output's
/// range (0 to 255). A ``TnBufferConverter`` applies it to the colours of
/// what it converts once it is given with ``SetRGBFilter``.
class TN_BUFFER_RECEIVE_API TnBufferConverterRGBFilter
{
public:
    /// A filter that leaves images unchanged: gains 1, offsets 0.
    TnBufferConverterRGBFilter();

    /// Destroys the filter; converters that took its values keep them.
    virtual ~TnBufferConverterRGBFilter();

    /// The gain of red.
    double GetGainR() const;

    /// The gain of green.
    double GetGainG() const;

    /// The gain of blue.
    double GetGainB() const;

    /// Sets the gain of red.
    void SetGainR(double aValue);

    /// Sets the gain of green.
    void SetGainG(double aValue);

    /// Sets the gain of blue.
    void SetGainB(double aValue);

    /// The offset of red, in output levels.
    int32_t GetOffsetR() const;

    /// The offset of green, in output levels.
    int32_t GetOffsetG() const;

    /// The offset of blue, in output levels.
    int32_t GetOffsetB() const;

    /// Sets the offset of red.
    void SetOffsetR(int32_t aValue);

    /// Sets the offset of green.
    void SetOffsetG(int32_t aValue);

    /// Sets the offset of blue.
    void SetOffsetB(int32_t aValue);

    /// Computes the gains that balance the colours of the image in
    /// ``aBuffer`` (a Bayer, RGB, YUV or bi-colour image that the converter
    /// can make RGB of): each channel's gain is the largest of the three
    /// channel averages divided by that channel's average. The offsets stay.
    ///
    /// ``TN_OK``; ``TN_INVALID_PARAMETER`` for no buffer or one without an
    /// image in memory; ``TN_NOT_SUPPORTED`` for an image without colour;
    /// ``TN_GENERIC_ERROR`` when a channel averages 0 (no gain balances it),
    /// the gains then unchanged.
    TnResult WhiteBalance(TnBuffer *aBuffer);

    /// Gains 1, offsets 0.
    void Reset();

private:
    double mGain[3];
    int32_t mOffset[3];
};

#endif
