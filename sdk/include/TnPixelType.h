// Pixel-format codes and the functions that read their properties.
//
// A pixel type is a signed 32-bit code: bits 31..24 hold the colour class
// (0x01 monochrome, 0x02 colour, bit 31 for custom codes), bits 23..16 the
// number of bits one pixel occupies and bits 15..0 an identifier.
#ifndef TN_PIXEL_TYPE_H
#define TN_PIXEL_TYPE_H

#include <stdint.h>

#include "TnExport.h"
#include "TnString.h"

/// Colour classes and bit-size groups of a pixel-type code.
enum : int32_t
{
    TNPIXELMONO = 0x01000000,
    TNPIXELRGB = 0x02000000,
    TNPIXELCOLOR = 0x02000000,
    TNPIXELCUSTOM = (int32_t)0x80000000,
    TNPIXELCOLORMASK = (int32_t)0xFF000000,
    TNPIXEL1BIT = 0x00010000,
    TNPIXEL2BIT = 0x00020000,
    TNPIXEL4BIT = 0x00040000,
    TNPIXEL8BIT = 0x00080000,
    TNPIXEL10BIT = 0x000A0000,
    TNPIXEL12BIT = 0x000C0000,
    TNPIXEL14BIT = 0x000E0000,
    TNPIXEL16BIT = 0x00100000,
    TNPIXEL20BIT = 0x00140000,
    TNPIXEL24BIT = 0x00180000,
    TNPIXEL30BIT = 0x001E0000,
    TNPIXEL32BIT = 0x00200000,
    TNPIXEL36BIT = 0x00240000,
    TNPIXEL40BIT = 0x00280000,
    TNPIXEL48BIT = 0x00300000,
    TNPIXEL64BIT = 0x00400000,
    TNPIXEL96BIT = 0x00600000,
    TNBITSPERPIXELMASK = 0x00FF0000,
    TNPIXELIDMASK = 0x0000FFFF
};

// Every known pixel type: X(name, code, bits per component, carries colour).
// The name is the code's name without the "TnPixel" prefix.
#define TN_PIXEL_TYPE_LIST(X) \
    X(Undefined, 0x00000000, 0, 0) \
    X(Mono8, 0x01080001, 8, 0) \
    X(Mono8s, 0x01080002, 8, 0) \
    X(Mono10, 0x01100003, 10, 0) \
    X(Mono10Packed, 0x010C0004, 10, 0) \
    X(Mono12, 0x01100005, 12, 0) \
    X(Mono12Packed, 0x010C0006, 12, 0) \
    X(Mono16, 0x01100007, 16, 0) \
    X(BayerGR8, 0x01080008, 8, 1) \
    X(BayerRG8, 0x01080009, 8, 1) \
    X(BayerGB8, 0x0108000A, 8, 1) \
    X(BayerBG8, 0x0108000B, 8, 1) \
    X(BayerGR10, 0x0110000C, 10, 1) \
    X(BayerRG10, 0x0110000D, 10, 1) \
    X(BayerGB10, 0x0110000E, 10, 1) \
    X(BayerBG10, 0x0110000F, 10, 1) \
    X(BayerGR12, 0x01100010, 12, 1) \
    X(BayerRG12, 0x01100011, 12, 1) \
    X(BayerGB12, 0x01100012, 12, 1) \
    X(BayerBG12, 0x01100013, 12, 1) \
    X(RGB8, 0x02180014, 8, 1) \
    X(BGR8, 0x02180015, 8, 1) \
    X(RGBa8, 0x02200016, 8, 1) \
    X(BGRa8, 0x02200017, 8, 1) \
    X(RGB10, 0x02300018, 10, 1) \
    X(BGR10, 0x02300019, 10, 1) \
    X(RGB12, 0x0230001A, 12, 1) \
    X(BGR12, 0x0230001B, 12, 1) \
    X(RGB10V1Packed, 0x0220001C, 10, 1) \
    X(RGB10p32, 0x0220001D, 10, 1) \
    X(YUV411_8_UYYVYY, 0x020C001E, 8, 1) \
    X(YUV422_8_UYVY, 0x0210001F, 8, 1) \
    X(YUV8_UYV, 0x02180020, 8, 1) \
    X(RGB8_Planar, 0x02180021, 8, 1) \
    X(RGB10_Planar, 0x02300022, 10, 1) \
    X(RGB12_Planar, 0x02300023, 12, 1) \
    X(RGB16_Planar, 0x02300024, 16, 1) \
    X(Mono14, 0x01100025, 14, 0) \
    X(BayerGR10Packed, 0x010C0026, 10, 1) \
    X(BayerRG10Packed, 0x010C0027, 10, 1) \
    X(BayerGB10Packed, 0x010C0028, 10, 1) \
    X(BayerBG10Packed, 0x010C0029, 10, 1) \
    X(BayerGR12Packed, 0x010C002A, 12, 1) \
    X(BayerRG12Packed, 0x010C002B, 12, 1) \
    X(BayerGB12Packed, 0x010C002C, 12, 1) \
    X(BayerBG12Packed, 0x010C002D, 12, 1) \
    X(BayerGR16, 0x0110002E, 16, 1) \
    X(BayerRG16, 0x0110002F, 16, 1) \
    X(BayerGB16, 0x01100030, 16, 1) \
    X(BayerBG16, 0x01100031, 16, 1) \
    X(YUV422_8, 0x02100032, 8, 1) \
    X(RGB16, 0x02300033, 16, 1) \
    X(RGB12V1Packed, 0x02240034, 12, 1) \
    X(RGB565p, 0x02100035, 5, 1) \
    X(BGR565p, 0x02100036, 5, 1) \
    X(Mono1p, 0x01010037, 1, 0) \
    X(Mono2p, 0x01020038, 2, 0) \
    X(Mono4p, 0x01040039, 4, 0) \
    X(YCbCr8_CbYCr, 0x0218003A, 8, 1) \
    X(YCbCr422_8, 0x0210003B, 8, 1) \
    X(YCbCr411_8_CbYYCrYY, 0x020C003C, 8, 1) \
    X(YCbCr601_8_CbYCr, 0x0218003D, 8, 1) \
    X(YCbCr601_422_8, 0x0210003E, 8, 1) \
    X(YCbCr601_411_8_CbYYCrYY, 0x020C003F, 8, 1) \
    X(YCbCr709_8_CbYCr, 0x02180040, 8, 1) \
    X(YCbCr709_422_8, 0x02100041, 8, 1) \
    X(YCbCr709_411_8_CbYYCrYY, 0x020C0042, 8, 1) \
    X(YCbCr422_8_CbYCrY, 0x02100043, 8, 1) \
    X(YCbCr601_422_8_CbYCrY, 0x02100044, 8, 1) \
    X(YCbCr709_422_8_CbYCrY, 0x02100045, 8, 1) \
    X(Mono10p, 0x010A0046, 10, 0) \
    X(Mono12p, 0x010C0047, 12, 0) \
    X(BGR10p, 0x021E0048, 10, 1) \
    X(BGR12p, 0x02240049, 12, 1) \
    X(BGR14, 0x0230004A, 14, 1) \
    X(BGR16, 0x0230004B, 16, 1) \
    X(BGRa10, 0x0240004C, 10, 1) \
    X(BGRa10p, 0x0228004D, 10, 1) \
    X(BGRa12, 0x0240004E, 12, 1) \
    X(BGRa12p, 0x0230004F, 12, 1) \
    X(BGRa14, 0x02400050, 14, 1) \
    X(BGRa16, 0x02400051, 16, 1) \
    X(RGB10p, 0x021E0052, 10, 1) \
    X(BayerBG10p, 0x010A0052, 10, 1) \
    X(BayerBG12p, 0x010C0053, 12, 1) \
    X(BayerGB10p, 0x010A0054, 10, 1) \
    X(BayerGB12p, 0x010C0055, 12, 1) \
    X(BayerGR10p, 0x010A0056, 10, 1) \
    X(BayerGR12p, 0x010C0057, 12, 1) \
    X(BayerRG10p, 0x010A0058, 10, 1) \
    X(BayerRG12p, 0x010C0059, 12, 1) \
    X(YCbCr411_8, 0x020C005A, 8, 1) \
    X(YCbCr8, 0x0218005B, 8, 1) \
    X(RGB12p, 0x0224005C, 12, 1) \
    X(RGB14, 0x0230005D, 14, 1) \
    X(RGBa10, 0x0240005E, 10, 1) \
    X(RGBa10p, 0x0228005F, 10, 1) \
    X(RGBa12, 0x02400060, 12, 1) \
    X(RGBa12p, 0x02300061, 12, 1) \
    X(RGBa14, 0x02400062, 14, 1) \
    X(RGBa16, 0x02400063, 16, 1) \
    X(YCbCr422_10, 0x02200065, 10, 1) \
    X(YCbCr422_12, 0x02200066, 12, 1) \
    X(SCF1WBWG8, 0x01080067, 8, 1) \
    X(SCF1WBWG10, 0x01100068, 10, 1) \
    X(SCF1WBWG10p, 0x010A0069, 10, 1) \
    X(SCF1WBWG12, 0x0110006A, 12, 1) \
    X(SCF1WBWG12p, 0x010C006B, 12, 1) \
    X(SCF1WBWG14, 0x0110006C, 14, 1) \
    X(SCF1WBWG16, 0x0110006D, 16, 1) \
    X(SCF1WGWB8, 0x0108006E, 8, 1) \
    X(SCF1WGWB10, 0x0110006F, 10, 1) \
    X(SCF1WGWB10p, 0x010A0070, 10, 1) \
    X(SCF1WGWB12, 0x01100071, 12, 1) \
    X(SCF1WGWB12p, 0x010C0072, 12, 1) \
    X(SCF1WGWB14, 0x01100073, 14, 1) \
    X(SCF1WGWB16, 0x01100074, 16, 1) \
    X(SCF1WGWR8, 0x01080075, 8, 1) \
    X(SCF1WGWR10, 0x01100076, 10, 1) \
    X(SCF1WGWR10p, 0x010A0077, 10, 1) \
    X(SCF1WGWR12, 0x01100078, 12, 1) \
    X(SCF1WGWR12p, 0x010C0079, 12, 1) \
    X(SCF1WGWR14, 0x0110007A, 14, 1) \
    X(SCF1WGWR16, 0x0110007B, 16, 1) \
    X(SCF1WRWG8, 0x0108007C, 8, 1) \
    X(SCF1WRWG10, 0x0110007D, 10, 1) \
    X(SCF1WRWG10p, 0x010A007E, 10, 1) \
    X(SCF1WRWG12, 0x0110007F, 12, 1) \
    X(SCF1WRWG12p, 0x010C0080, 12, 1) \
    X(SCF1WRWG14, 0x01100081, 14, 1) \
    X(SCF1WRWG16, 0x01100082, 16, 1) \
    X(YCbCr10_CbYCr, 0x02300083, 10, 1) \
    X(YCbCr10p_CbYCr, 0x021E0084, 10, 1) \
    X(YCbCr12_CbYCr, 0x02300085, 12, 1) \
    X(YCbCr12p_CbYCr, 0x02240086, 12, 1) \
    X(YCbCr422_10p, 0x02140087, 10, 1) \
    X(YCbCr422_12p, 0x02180088, 12, 1) \
    X(YCbCr601_10_CbYCr, 0x02300089, 10, 1) \
    X(YCbCr601_10p_CbYCr, 0x021E008A, 10, 1) \
    X(YCbCr601_12_CbYCr, 0x0230008B, 12, 1) \
    X(YCbCr601_12p_CbYCr, 0x0224008C, 12, 1) \
    X(YCbCr601_422_10, 0x0220008D, 10, 1) \
    X(YCbCr601_422_10p, 0x0214008E, 10, 1) \
    X(YCbCr601_422_12, 0x0220008F, 12, 1) \
    X(YCbCr601_422_12p, 0x02180090, 12, 1) \
    X(YCbCr709_10_CbYCr, 0x02300091, 10, 1) \
    X(YCbCr709_10p_CbYCr, 0x021E0092, 10, 1) \
    X(YCbCr709_12_CbYCr, 0x02300093, 12, 1) \
    X(YCbCr709_12p_CbYCr, 0x02240094, 12, 1) \
    X(YCbCr709_422_10, 0x02200095, 10, 1) \
    X(YCbCr709_422_10p, 0x02140096, 10, 1) \
    X(YCbCr709_422_12, 0x02200097, 12, 1) \
    X(YCbCr709_422_12p, 0x02180098, 12, 1) \
    X(YCbCr422_10_CbYCrY, 0x02200099, 10, 1) \
    X(YCbCr422_10p_CbYCrY, 0x0214009A, 10, 1) \
    X(YCbCr422_12_CbYCrY, 0x0220009B, 12, 1) \
    X(YCbCr422_12p_CbYCrY, 0x0218009C, 12, 1) \
    X(YCbCr601_422_10_CbYCrY, 0x0220009D, 10, 1) \
    X(YCbCr601_422_10p_CbYCrY, 0x0214009E, 10, 1) \
    X(YCbCr601_422_12_CbYCrY, 0x0220009F, 12, 1) \
    X(YCbCr601_422_12p_CbYCrY, 0x021800A0, 12, 1) \
    X(YCbCr709_422_10_CbYCrY, 0x022000A1, 10, 1) \
    X(YCbCr709_422_10p_CbYCrY, 0x021400A2, 10, 1) \
    X(YCbCr709_422_12_CbYCrY, 0x022000A3, 12, 1) \
    X(YCbCr709_422_12p_CbYCrY, 0x021800A4, 12, 1) \
    X(BiColorRGBG8, 0x021000A5, 8, 1) \
    X(BiColorBGRG8, 0x021000A6, 8, 1) \
    X(BiColorRGBG10, 0x022000A7, 10, 1) \
    X(BiColorRGBG10p, 0x021400A8, 10, 1) \
    X(BiColorBGRG10, 0x022000A9, 10, 1) \
    X(BiColorBGRG10p, 0x021400AA, 10, 1) \
    X(BiColorRGBG12, 0x022000AB, 12, 1) \
    X(BiColorRGBG12p, 0x021800AC, 12, 1) \
    X(BiColorBGRG12, 0x022000AD, 12, 1) \
    X(BiColorBGRG12p, 0x021800AE, 12, 1) \
    X(Coord3D_A8, 0x010800AF, 8, 0) \
    X(Coord3D_B8, 0x010800B0, 8, 0) \
    X(Coord3D_C8, 0x010800B1, 8, 0) \
    X(Coord3D_ABC8, 0x021800B2, 8, 0) \
    X(Coord3D_ABC8_Planar, 0x021800B3, 8, 0) \
    X(Coord3D_AC8, 0x021000B4, 8, 0) \
    X(Coord3D_AC8_Planar, 0x021000B5, 8, 0) \
    X(Coord3D_A16, 0x011000B6, 16, 0) \
    X(Coord3D_B16, 0x011000B7, 16, 0) \
    X(Coord3D_C16, 0x011000B8, 16, 0) \
    X(Coord3D_ABC16, 0x023000B9, 16, 0) \
    X(Coord3D_ABC16_Planar, 0x023000BA, 16, 0) \
    X(Coord3D_AC16, 0x022000BB, 16, 0) \
    X(Coord3D_AC16_Planar, 0x022000BC, 16, 0) \
    X(Coord3D_A32f, 0x012000BD, 32, 0) \
    X(Coord3D_B32f, 0x012000BE, 32, 0) \
    X(Coord3D_C32f, 0x012000BF, 32, 0) \
    X(Coord3D_ABC32f, 0x026000C0, 32, 0) \
    X(Coord3D_ABC32f_Planar, 0x026000C1, 32, 0) \
    X(Coord3D_AC32f, 0x024000C2, 32, 0) \
    X(Coord3D_AC32f_Planar, 0x024000C3, 32, 0) \
    X(Confidence1, 0x010800C4, 1, 0) \
    X(Confidence1p, 0x010100C5, 1, 0) \
    X(Confidence8, 0x010800C6, 8, 0) \
    X(Confidence16, 0x011000C7, 16, 0) \
    X(Confidence32f, 0x012000C8, 32, 0) \
    X(R8, 0x010800C9, 8, 0) \
    X(R10, 0x010A00CA, 10, 0) \
    X(R12, 0x010C00CB, 12, 0) \
    X(R16, 0x011000CC, 16, 0) \
    X(G8, 0x010800CD, 8, 0) \
    X(G10, 0x010A00CE, 10, 0) \
    X(G12, 0x010C00CF, 12, 0) \
    X(G16, 0x011000D0, 16, 0) \
    X(B8, 0x010800D1, 8, 0) \
    X(B10, 0x010A00D2, 10, 0) \
    X(B12, 0x010C00D3, 12, 0) \
    X(B16, 0x011000D4, 16, 0) \
    X(Coord3D_A10p, 0x010A00D5, 10, 0) \
    X(Coord3D_B10p, 0x010A00D6, 10, 0) \
    X(Coord3D_C10p, 0x010A00D7, 10, 0) \
    X(Coord3D_A12p, 0x010C00D8, 12, 0) \
    X(Coord3D_B12p, 0x010C00D9, 12, 0) \
    X(Coord3D_C12p, 0x010C00DA, 12, 0) \
    X(Coord3D_ABC10p, 0x021E00DB, 10, 0) \
    X(Coord3D_ABC10p_Planar, 0x021E00DC, 10, 0) \
    X(Coord3D_ABC12p, 0x022400DE, 12, 0) \
    X(Coord3D_ABC12p_Planar, 0x022400DF, 12, 0) \
    X(Coord3D_AC10p, 0x021400F0, 10, 0) \
    X(Coord3D_AC10p_Planar, 0x021400F1, 10, 0) \
    X(Coord3D_AC12p, 0x021800F2, 12, 0) \
    X(Coord3D_AC12p_Planar, 0x021800F3, 12, 0) \
    X(Mono14p, 0x010E0104, 14, 0) \
    X(BayerGR14p, 0x010E0105, 14, 1) \
    X(BayerRG14p, 0x010E0106, 14, 1) \
    X(BayerGB14p, 0x010E0107, 14, 1) \
    X(BayerBG14p, 0x010E0108, 14, 1) \
    X(BayerGR14, 0x01100109, 14, 1) \
    X(BayerRG14, 0x0110010A, 14, 1) \
    X(BayerGB14, 0x0110010B, 14, 1) \
    X(BayerBG14, 0x0110010C, 14, 1) \
    X(BayerGR4p, 0x0104010D, 4, 1) \
    X(BayerRG4p, 0x0104010E, 4, 1) \
    X(BayerGB4p, 0x0104010F, 4, 1) \
    X(BayerBG4p, 0x01040110, 4, 1) \
    X(Mono32, 0x01200111, 32, 0) \
    X(Data8, 0x01080116, 8, 0) \
    X(Data8s, 0x01080117, 8, 0) \
    X(Data16, 0x01100118, 16, 0) \
    X(Data16s, 0x01100119, 16, 0) \
    X(Data32, 0x0120011A, 32, 0) \
    X(Data32s, 0x0120011B, 32, 0) \
    X(Data32f, 0x0120011C, 32, 0) \
    X(Data64, 0x0140011D, 64, 0) \
    X(Data64s, 0x0140011E, 64, 0) \
    X(Data64f, 0x0140011F, 64, 0)


#define TN_PIXEL_TYPE_ENUMERATOR(aName, aCode, aBits, aColour) TnPixel##aName = (int32_t)aCode,

/// A pixel-format code.
enum TnPixelType : int32_t
{
    TN_PIXEL_TYPE_LIST(TN_PIXEL_TYPE_ENUMERATOR)
};

#undef TN_PIXEL_TYPE_ENUMERATOR

/// Bits per pixel, read from bits 23..16 of the code.
TN_BUFFER_API uint32_t TnPixelTypeGetBitsPerPixel(TnPixelType aPixelType);

/// Total number of bits one pixel occupies in memory.
TN_BUFFER_API uint32_t TnPixelTypeGetPixelSize(TnPixelType aPixelType);

/// Total number of bits of one pixel; the same as TnPixelTypeGetPixelSize.
TN_BUFFER_API uint32_t TnPixelTypeGetPixelBitCount(TnPixelType aPixelType);

/// Bits of one colour component (the significant bits of a monochrome pixel).
///
/// Returns 0 for codes the SDK does not know.
TN_BUFFER_API uint32_t TnPixelTypeGetBitsPerComponent(TnPixelType aPixelType);

/// Whether the format carries colour: RGB, YUV and YCbCr formats as well as
/// colour-filter mosaics (Bayer, bi-colour, sparse colour filters).
TN_BUFFER_API bool TnPixelTypeIsPixelColor(TnPixelType aPixelType);

/// Whether a component holds more than 8 bits.
TN_BUFFER_API bool TnPixelTypeIsPixelHighRes(TnPixelType aPixelType);

/// The name of the pixel type, such as "Mono8" or "BayerRG12p".
///
/// A code the SDK does not know is named by its hexadecimal value, as
/// "Custom 0x80000001" for custom codes and "Unknown 0x01080FFF" otherwise.
TN_BUFFER_API TnString TnPixelTypeToString(TnPixelType aPixelType);

#endif
