#include "TnPixelType.h"

#include <stdio.h>

namespace
{
struct PixelTypeInfo
{
    const char *mName;
    uint32_t mBitsPerComponent;
    bool mColour;
};

const PixelTypeInfo *Find(TnPixelType aPixelType)
{
    // Two codes may share an identifier (RGB10p and BayerBG10p), so the
    // whole code selects the entry.
    switch (static_cast<int32_t>(aPixelType))
    {
#define TN_PIXEL_TYPE_CASE(aName, aCode, aBits, aColour)  \
    case static_cast<int32_t>(aCode):                      \
    {                                                      \
        static const PixelTypeInfo sInfo{#aName, aBits, aColour != 0}; \
        return &sInfo;                                     \
    }
        TN_PIXEL_TYPE_LIST(TN_PIXEL_TYPE_CASE)
#undef TN_PIXEL_TYPE_CASE
    default:
        return nullptr;
    }
}
} // namespace

uint32_t TnPixelTypeGetBitsPerPixel(TnPixelType aPixelType)
{
    return (static_cast<uint32_t>(aPixelType) & TNBITSPERPIXELMASK) >> 16;
}

uint32_t TnPixelTypeGetPixelSize(TnPixelType aPixelType)
{
    return TnPixelTypeGetBitsPerPixel(aPixelType);
}

uint32_t TnPixelTypeGetPixelBitCount(TnPixelType aPixelType)
{
    return TnPixelTypeGetPixelSize(aPixelType);
}

uint32_t TnPixelTypeGetBitsPerComponent(TnPixelType aPixelType)
{
    const PixelTypeInfo *lInfo = Find(aPixelType);
    return lInfo != nullptr ? lInfo->mBitsPerComponent : 0;
}

bool TnPixelTypeIsPixelColor(TnPixelType aPixelType)
{
    const PixelTypeInfo *lInfo = Find(aPixelType);
    return lInfo != nullptr && lInfo->mColour;
}

bool TnPixelTypeIsPixelHighRes(TnPixelType aPixelType)
{
    return TnPixelTypeGetBitsPerComponent(aPixelType) > 8;
}

TnString TnPixelTypeToString(TnPixelType aPixelType)
{
    const PixelTypeInfo *lInfo = Find(aPixelType);
    if (lInfo != nullptr)
    {
        return TnString(lInfo->mName);
    }
    char lText[32];
    snprintf(lText, sizeof(lText), "%s 0x%08X",
             (static_cast<uint32_t>(aPixelType) & 0x80000000u) ? "Custom" : "Unknown",
             static_cast<uint32_t>(aPixelType));
    return TnString(lText);
}
