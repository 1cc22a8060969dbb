#include "TnResult.h"

namespace
{
// Failures outrank pending results, which outrank success.
int Rank(uint32_t aCode)
{
    if (aCode == TN_OK)
    {
        return 0;
    }
    return aCode == TN_PENDING ? 1 : 2;
}
} // namespace

TnResult::TnResult() : TnResult(TN_OK) {}

TnResult::TnResult(uint32_t aCode) : TnResult(aCode, 0) {}

TnResult::TnResult(uint32_t aCode, uint32_t aOSCode)
    : mCode(aCode), mOSCode(aOSCode), mInternalCode(aCode), mHasDescription(false)
{
}

TnResult::TnResult(uint32_t aCode, const TnString &aDescription) : TnResult(aCode, 0, aDescription) {}

TnResult::TnResult(uint32_t aCode, uint32_t aOSCode, const TnString &aDescription)
    : mCode(aCode), mOSCode(aOSCode), mInternalCode(aCode), mDescription(aDescription), mHasDescription(true)
{
}

TnResult::TnResult(const TnResult &aResult) = default;

TnResult::~TnResult() = default;

TnResult &TnResult::operator=(const TnResult &aResult) = default;

bool TnResult::operator==(const TnResult &aResult) const
{
    return mCode == aResult.mCode;
}

bool TnResult::operator==(uint32_t aCode) const
{
    return mCode == aCode;
}

bool TnResult::operator!=(const TnResult &aResult) const
{
    return mCode != aResult.mCode;
}

bool TnResult::operator!=(uint32_t aCode) const
{
    return mCode != aCode;
}

TnResult &TnResult::operator|=(const TnResult &aResult)
{
    if (Rank(aResult.mCode) > Rank(mCode))
    {
        *this = aResult;
    }
    return *this;
}

uint32_t TnResult::GetCode() const
{
    return mCode;
}

void TnResult::SetCode(uint32_t aCode)
{
    mCode = aCode;
    mInternalCode = aCode;
}

TnString TnResult::GetCodeString() const
{
#define TN_RESULT_CODE_CASE(aName, aValue) \
    case aValue:                           \
        return TnString(#aName);
    switch (mCode)
    {
        TN_RESULT_CODE_LIST(TN_RESULT_CODE_CASE)
    default:
        return TnString("UNKNOWN");
    }
#undef TN_RESULT_CODE_CASE
}

TnString TnResult::GetDescription() const
{
    return mDescription;
}

void TnResult::SetDescription(const TnString &aDescription)
{
    mDescription = aDescription;
    mHasDescription = true;
}

bool TnResult::HasDescription() const
{
    return mHasDescription;
}

bool TnResult::IsOK() const
{
    return mCode == TN_OK;
}

bool TnResult::IsPending() const
{
    return mCode == TN_PENDING;
}

bool TnResult::IsSuccess() const
{
    return mCode == TN_OK || mCode == TN_PENDING;
}

bool TnResult::IsFailure() const
{
    return !IsSuccess();
}

uint32_t TnResult::GetInternalCode() const
{
    return mInternalCode;
}

uint32_t TnResult::GetOSCode() const
{
    return mOSCode;
}
