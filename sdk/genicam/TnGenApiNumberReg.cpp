// IntReg, MaskedIntReg and FloatReg: numbers in registers.
#include <string.h>

#include <algorithm>

#include "TnByteOrder.h"
#include "TnGenApiNumber.h"

namespace TN_GENAPI_NS
{

namespace
{
int64_t ToInt64(uint64_t aBits)
{
    int64_t lValue;
    memcpy(&lValue, &aBits, sizeof(lValue));
    return lValue;
}

uint64_t DecodeUnsigned(const uint8_t *aData, size_t aLength, TnGenEndianness aEndianness)
{
    return tn::ReadUnsigned(aData, aLength, aEndianness == TnGenEndiannessBig);
}

void EncodeUnsigned(uint64_t aRaw, uint8_t *aData, size_t aLength, TnGenEndianness aEndianness)
{
    tn::WriteUnsigned(aRaw, aData, aLength, aEndianness == TnGenEndiannessBig);
}

// Sign-extends the low aBits bits.
int64_t SignExtend(uint64_t aRaw, int aBits)
{
    if (aBits >= 64)
    {
        return ToInt64(aRaw);
    }
    const uint64_t lSign = uint64_t(1) << (aBits - 1);
    const uint64_t lMask = (uint64_t(1) << aBits) - 1;
    aRaw &= lMask;
    return ToInt64((aRaw ^ lSign) - lSign);
}

uint64_t Mask(int aBits)
{
    return aBits >= 64 ? UINT64_MAX : (uint64_t(1) << aBits) - 1;
}

void Limits(int aBits, TnGenSign aSign, int64_t &aMin, int64_t &aMax)
{
    if (aSign == TnGenSignSigned)
    {
        aMin = aBits >= 64 ? INT64_MIN : -(int64_t(1) << (aBits - 1));
        aMax = aBits >= 64 ? INT64_MAX : (int64_t(1) << (aBits - 1)) - 1;
    }
    else
    {
        aMin = 0;
        aMax = aBits >= 63 ? INT64_MAX : (int64_t(1) << aBits) - 1;
    }
}
} // namespace

// --- IntReg -----------------------------------------------------------------

bool IntRegNode::ApplyElement(const Element &aElement)
{
    if (aElement.Is("Sign"))
    {
        if (aElement.mText != "Signed" && aElement.mText != "Unsigned")
        {
            FailDefinition(Describe() + ": Sign '" + aElement.mText + "' is neither Signed nor Unsigned");
        }
        mSign = aElement.mText == "Signed" ? TnGenSignSigned : TnGenSignUnsigned;
        return true;
    }
    if (aElement.Is("Endianess"))
    {
        mEndianness = ParseEndianness(*this, aElement);
        return true;
    }
    return WithRegister::ApplyElement(aElement);
}

int64_t IntRegNode::GetInt()
{
    CheckReadable();
    uint8_t lData[8];
    const size_t lLength = mRegister.GetLength(*this);
    mRegister.Read(*this, lData, lLength);
    const uint64_t lRaw = DecodeUnsigned(lData, lLength, mEndianness);
    return mSign == TnGenSignSigned ? SignExtend(lRaw, static_cast<int>(8 * lLength)) : ToInt64(lRaw);
}

void IntRegNode::SetInt(int64_t aValue)
{
    CheckWrite(aValue);
    uint8_t lData[8];
    const size_t lLength = mRegister.GetLength(*this);
    EncodeUnsigned(static_cast<uint64_t>(aValue), lData, lLength, mEndianness);
    mRegister.Write(*this, lData, lLength);
}

int IntRegNode::GetValueBits()
{
    return static_cast<int>(8 * mRegister.GetLength(*this));
}

int64_t IntRegNode::GetIntMin()
{
    int64_t lMinimum, lMaximum;
    Limits(GetValueBits(), mSign, lMinimum, lMaximum);
    return lMinimum;
}

int64_t IntRegNode::GetIntMax()
{
    int64_t lMinimum, lMaximum;
    Limits(GetValueBits(), mSign, lMinimum, lMaximum);
    return lMaximum;
}

void IntRegNode::Validate()
{
    mRegister.Validate(*this, 1, 8);
}

// --- MaskedIntReg -------------------------------------------------------------

MaskedIntRegNode::MaskedIntRegNode(INodeMap &aMap, const std::string &aName) : IntRegNode(aMap, aName)
{
    mKind = NodeKind::MaskedIntReg;
}

bool MaskedIntRegNode::ApplyElement(const Element &aElement)
{
    if (aElement.Is("LSB"))
    {
        mLsb = ParseInteger(aElement);
        return true;
    }
    if (aElement.Is("MSB"))
    {
        mMsb = ParseInteger(aElement);
        return true;
    }
    if (aElement.Is("Bit"))
    {
        mLsb = mMsb = ParseInteger(aElement);
        return true;
    }
    return IntRegNode::ApplyElement(aElement);
}

void MaskedIntRegNode::Bits(size_t aLength, int &aLow, int &aHigh) const
{
    const int64_t lBits = static_cast<int64_t>(8 * aLength);
    int64_t lLow = mLsb;
    int64_t lHigh = mMsb;
    if (mEndianness == TnGenEndiannessBig)
    {
        lLow = lBits - 1 - mLsb;
        lHigh = lBits - 1 - mMsb;
    }
    if (lLow > lHigh)
    {
        std::swap(lLow, lHigh);
    }
    if (lLow < 0 || lHigh >= lBits)
    {
        Fail(Describe() + ": bits " + std::to_string(mLsb) + " to " + std::to_string(mMsb) + " lie outside its " +
             std::to_string(aLength) + " bytes");
    }
    aLow = static_cast<int>(lLow);
    aHigh = static_cast<int>(lHigh);
}

int64_t MaskedIntRegNode::GetInt()
{
    CheckReadable();
    uint8_t lData[8];
    const size_t lLength = mRegister.GetLength(*this);
    int lLow, lHigh;
    Bits(lLength, lLow, lHigh);
    mRegister.Read(*this, lData, lLength);
    const uint64_t lField = (DecodeUnsigned(lData, lLength, mEndianness) >> lLow) & Mask(lHigh - lLow + 1);
    return mSign == TnGenSignSigned ? SignExtend(lField, lHigh - lLow + 1) : ToInt64(lField);
}

void MaskedIntRegNode::SetInt(int64_t aValue)
{
    CheckWrite(aValue);
    uint8_t lData[8] = {0};
    const size_t lLength = mRegister.GetLength(*this);
    int lLow, lHigh;
    Bits(lLength, lLow, lHigh);
    // The other bits keep their value where the register can be read.
    const Access lAccess = mRegister.GetAccess();
    if (lAccess == Access::RO || lAccess == Access::RW)
    {
        mRegister.Read(*this, lData, lLength);
    }
    const uint64_t lMask = Mask(lHigh - lLow + 1) << lLow;
    uint64_t lRaw = DecodeUnsigned(lData, lLength, mEndianness);
    lRaw = (lRaw & ~lMask) | ((static_cast<uint64_t>(aValue) << lLow) & lMask);
    EncodeUnsigned(lRaw, lData, lLength, mEndianness);
    mRegister.Write(*this, lData, lLength);
}

int MaskedIntRegNode::GetValueBits()
{
    int lLow, lHigh;
    Bits(mRegister.GetLength(*this), lLow, lHigh);
    return lHigh - lLow + 1;
}

void MaskedIntRegNode::Validate()
{
    IntRegNode::Validate();
    if (mLsb < 0 || mMsb < 0)
    {
        FailDefinition(Describe() + " needs LSB and MSB, or Bit");
    }
}

// --- FloatReg -----------------------------------------------------------------

bool FloatRegNode::ApplyElement(const Element &aElement)
{
    if (aElement.Is("Endianess"))
    {
        mEndianness = ParseEndianness(*this, aElement);
        return true;
    }
    return WithRegister::ApplyElement(aElement);
}

double FloatRegNode::GetFloat()
{
    CheckReadable();
    uint8_t lData[8];
    const size_t lLength = mRegister.GetLength(*this);
    if (lLength != 4 && lLength != 8)
    {
        Fail(Describe() + ": a float register holds 4 or 8 bytes, not " + std::to_string(lLength));
    }
    mRegister.Read(*this, lData, lLength);
    const uint64_t lRaw = DecodeUnsigned(lData, lLength, mEndianness);
    if (lLength == 4)
    {
        const uint32_t lBits = static_cast<uint32_t>(lRaw);
        float lValue;
        memcpy(&lValue, &lBits, sizeof(lValue));
        return lValue;
    }
    double lValue;
    memcpy(&lValue, &lRaw, sizeof(lValue));
    return lValue;
}

void FloatRegNode::SetFloat(double aValue)
{
    CheckWrite(aValue);
    uint8_t lData[8];
    const size_t lLength = mRegister.GetLength(*this);
    uint64_t lRaw = 0;
    if (lLength == 4)
    {
        const float lValue = static_cast<float>(aValue);
        uint32_t lBits;
        memcpy(&lBits, &lValue, sizeof(lBits));
        lRaw = lBits;
    }
    else if (lLength == 8)
    {
        memcpy(&lRaw, &aValue, sizeof(lRaw));
    }
    else
    {
        Fail(Describe() + ": a float register holds 4 or 8 bytes, not " + std::to_string(lLength));
    }
    EncodeUnsigned(lRaw, lData, lLength, mEndianness);
    mRegister.Write(*this, lData, lLength);
}

void FloatRegNode::Validate()
{
    mRegister.Validate(*this, 4, 8);
}

} // namespace TN_GENAPI_NS
