// Data types of the parts of a multipart payload.
#ifndef TN_MULTIPART_TYPES_H
#define TN_MULTIPART_TYPES_H

/// What one part of a multipart payload holds.
enum TnMultiPartDataType
{
    TnMultiPartInvalid = 0,
    TnMultiPart2DImage = 1,
    TnMultiPart2DPlaneOfBiPlanar = 2,
    TnMultiPart2DPlaneOfTriPlanar = 3,
    TnMultiPart2DPlaneOfQuadPlanar = 4,
    TnMultiPart3DImage = 5,
    TnMultiPart3DPlaneOfBiPlanar = 6,
    TnMultiPart3DPlaneOfTriPlanar = 7,
    TnMultiPart3DPlaneOfQuadPlanar = 8,
    TnMultiPartConfidenceMap = 9,
    TnMultiPartChunkData = 10,
    TnMultiPartJPEGImage = 11,
    TnMultiPartJPEG2000Image = 12
};

#endif
