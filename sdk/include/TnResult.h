// The SDK's status object and its result codes.
#ifndef TN_RESULT_H
#define TN_RESULT_H

#include <stdint.h>

#include "TnExport.h"
#include "TnString.h"

// Every result code: X(name, value); the constant is TN_ followed by the name,
// and the name is what TnResult::GetCodeString gives.
#define TN_RESULT_CODE_LIST(X) \
    X(OK, 0x0000) \
    X(NOT_INITIALIZED, 0x0605) \
    X(NOT_FOUND, 0x0019) \
    X(CANNOT_OPEN_FILE, 0x0006) \
    X(NO_MORE_ITEM, 0x0015) \
    X(NOT_CONNECTED, 0x0017) \
    X(STATE_ERROR, 0x001C) \
    X(THREAD_ERROR, 0x001D) \
    X(INVALID_DATA_FORMAT, 0x0501) \
    X(ABORTED, 0x0001) \
    X(NOT_ENOUGH_MEMORY, 0x0018) \
    X(GENERIC_ERROR, 0x4000) \
    X(INVALID_PARAMETER, 0x4001) \
    X(CANCEL, 0x4002) \
    X(PENDING, 0xFFFF) \
    X(TIMEOUT, 0x001E) \
    X(GENICAM_XML_ERROR, 0x0904) \
    X(CANT_READ_MANIFEST, 0x0905) \
    X(NOT_IMPLEMENTED, 0x0604) \
    X(NOT_SUPPORTED, 0x001A) \
    X(FILE_ERROR, 0x0010) \
    X(ERR_OVERFLOW, 0x001B) \
    X(IMAGE_ERROR, 0x0025) \
    X(MISSING_PACKETS, 0x0027) \
    X(BUFFER_TOO_SMALL, 0x0004) \
    X(TOO_MANY_RESENDS, 0x0B00) \
    X(RESENDS_FAILURE, 0x0B01) \
    X(TOO_MANY_CONSECUTIVE_RESENDS, 0x0B03) \
    X(AUTO_ABORTED, 0x0B02) \
    X(BAD_VERSION, 0x0201) \
    X(NO_MORE_ENTRY, 0x0603) \
    X(NO_AVAILABLE_DATA, 0x0014) \
    X(NETWORK_ERROR, 0x0013) \
    X(NETWORK_CONFIG_ERROR, 0x0600) \
    X(RESYNC, 0x0028) \
    X(BUSY, 0x0202) \
    X(CORRUPTED_DATA, 0x0303)

#define TN_RESULT_CODE_ENUMERATOR(aName, aValue) TN_##aName = aValue,

/// Result codes.
enum : uint32_t
{
    TN_RESULT_CODE_LIST(TN_RESULT_CODE_ENUMERATOR)
};

#undef TN_RESULT_CODE_ENUMERATOR

/// The outcome of an SDK operation: a result code, the operating-system code
/// that caused it, an internal code and an optional description.
class TN_BASE_API TnResult
{
public:
    /// A successful result (TN_OK).
    TnResult();

    /// A result with the given code.
    TnResult(uint32_t aCode);

    /// A result with the given code and operating-system code.
    TnResult(uint32_t aCode, uint32_t aOSCode);

    /// A result with the given code and description.
    TnResult(uint32_t aCode, const TnString &aDescription);

    /// A result with the given code, operating-system code and description.
    TnResult(uint32_t aCode, uint32_t aOSCode, const TnString &aDescription);

    /// A copy of another result.
    TnResult(const TnResult &aResult);

    ~TnResult();

#ifndef SWIG
    TnResult &operator=(const TnResult &aResult);
#endif

    /// Whether both results carry the same code.
    bool operator==(const TnResult &aResult) const;

    /// Whether the result carries the given code.
    bool operator==(uint32_t aCode) const;

    /// Whether the results carry different codes.
    bool operator!=(const TnResult &aResult) const;

    /// Whether the result carries another code than the given one.
    bool operator!=(uint32_t aCode) const;

    /// Combines another result into this one: a failure outranks a pending
    /// result, which outranks success; of two results of the same rank the
    /// first one stays.
    TnResult &operator|=(const TnResult &aResult);

    /// The result code.
    uint32_t GetCode() const;

    /// Sets the result code.
    void SetCode(uint32_t aCode);

    /// The name of the result code, such as "OK" or "TIMEOUT".
    TnString GetCodeString() const;

    /// The description; empty when none is set.
    TnString GetDescription() const;

    /// Sets the description.
    void SetDescription(const TnString &aDescription);

    /// Whether a description is set.
    bool HasDescription() const;

    /// Whether the code is TN_OK.
    bool IsOK() const;

    /// Whether the code is TN_PENDING.
    bool IsPending() const;

    /// Whether the code is TN_OK or TN_PENDING.
    bool IsSuccess() const;

    /// Whether the code is neither TN_OK nor TN_PENDING.
    bool IsFailure() const;

    /// The SDK's internal code behind the result code.
    uint32_t GetInternalCode() const;

    /// The operating-system code (errno) that caused the result; 0 when none.
    uint32_t GetOSCode() const;

private:
    uint32_t mCode;
    uint32_t mOSCode;
    uint32_t mInternalCode;
    TnString mDescription;
    bool mHasDescription;
};

#endif
