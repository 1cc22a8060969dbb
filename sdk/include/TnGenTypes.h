// Enumerations of the GenICam feature model.
#ifndef TN_GEN_TYPES_H
#define TN_GEN_TYPES_H

/// Visibility levels of features in a user interface.
enum TnGenVisibility
{
    TnGenVisibilityBeginner = 0,
    TnGenVisibilityExpert = 1,
    TnGenVisibilityGuru = 2,
    TnGenVisibilityInvisible = 3,
    TnGenVisibilityUndefined = 999
};

/// Kinds of GenICam parameters.
enum TnGenType
{
    TnGenTypeInteger = 0,
    TnGenTypeEnum = 1,
    TnGenTypeBoolean = 2,
    TnGenTypeString = 3,
    TnGenTypeCommand = 4,
    TnGenTypeFloat = 5,
    TnGenTypeRegister = 6,
    TnGenTypeUndefined = 999
};

/// How a numeric feature is best shown.
enum TnGenRepresentation
{
    TnGenRepresentationLinear = 0,
    TnGenRepresentationLogarithmic = 1,
    TnGenRepresentationBoolean = 2,
    TnGenRepresentationPureNumber = 3,
    TnGenRepresentationHexNumber = 4,
    TnGenRepresentationIPV4Address = 5,
    TnGenRepresentationMACAddress = 6,
    TnGenRepresentationUndefined = 999
};

/// Whether a feature is standard or custom.
enum TnGenNameSpace
{
    TnGenNameSpaceStandard = 0,
    TnGenNameSpaceCustom = 1,
    TnGenNameSpaceUndefined = 999
};

/// Access modes of a feature.
enum TnGenAccessMode
{
    TnGenAccessModeReadOnly = 0,
    TnGenAccessModeReadWrite = 1,
    TnGenAccessModeWriteOnly = 2,
    TnGenAccessModeNotImplemented = 3,
    TnGenAccessModeNotAvailable = 4,
    TnGenAccessModeUndefined = 999
};

/// Caching modes of a feature.
enum TnGenCache
{
    TnGenCacheWriteThrough = 0,
    TnGenCacheWriteAround = 1,
    TnGenCacheNone = 2,
    TnGenCacheUndefined = 999
};

/// How a feature is refreshed.
enum TnGenRefresh
{
    TnGenRefreshInvalid = -1,
    TnGenRefreshPolling = 0,
    TnGenRefreshAuto = 1,
    TnGenRefreshManual = 2
};

/// Byte order of a register.
enum TnGenEndianness
{
    TnGenEndiannessInvalid = -1,
    TnGenEndiannessLittle = 0,
    TnGenEndiannessBig = 1
};

/// Signedness of a register value.
enum TnGenSign
{
    TnGenSignUndefined = -1,
    TnGenSignUnsigned = 0,
    TnGenSignSigned = 1
};

#endif
