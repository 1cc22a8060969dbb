#include "TnRawData.h"

#include "TnBufferCore.h"
#include "TnCheckedSize.h"

using tn::buffer::BufferCore;

namespace
{
constexpr uint32_t kTagSize = 8;
constexpr uint64_t kMaximumSize = tn::kMaximumBufferSize;
} // namespace

TnRawData::TnRawData(BufferCore &aCore) : mCore(aCore) {}

TnRawData::~TnRawData() = default;

uint64_t TnRawData::GetPayloadLength() const
{
    return mCore.GetRawPayloadLength();
}

TnResult TnRawData::Alloc(uint64_t aPayloadLength, uint32_t aMaximumChunkLength)
{
    if (aPayloadLength > kMaximumSize)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("the payload length does not fit a buffer"));
    }
    // The chunks follow the payload, behind the payload's own tag.
    const tn::CheckedSize lChunks = aMaximumChunkLength != 0 ? tn::CheckedSize(kTagSize) + aMaximumChunkLength : 0u;
    uint32_t lTotal = 0;
    if (!(lChunks + aPayloadLength).Get(lTotal, kMaximumSize) || lTotal == 0)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("payload and chunks do not fit a buffer"));
    }
    TnResult lResult = mCore.Alloc(lTotal);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    if (aMaximumChunkLength != 0)
    {
        mCore.FreeChunk();
    }
    mCore.SetRawPayloadLength(aPayloadLength);
    return lResult;
}

void TnRawData::Free()
{
    mCore.Free();
}

TnResult TnRawData::Attach(void *aAddress, uint64_t aLength, uint32_t aMaximumChunkLength)
{
    if (aAddress == nullptr || aLength == 0 || aLength > kMaximumSize)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no memory to attach, or more than a buffer holds"));
    }
    if (aMaximumChunkLength != 0)
    {
        // The caller's memory holds the payload alone: chunks get memory apart.
        TnResult lResult = mCore.AllocChunk(aMaximumChunkLength);
        if (!lResult.IsOK())
        {
            return lResult;
        }
    }
    TnResult lResult = mCore.Attach(aAddress, aLength);
    if (lResult.IsOK())
    {
        mCore.SetRawPayloadLength(aLength);
    }
    return lResult;
}

uint8_t *TnRawData::Detach()
{
    return mCore.Detach();
}
