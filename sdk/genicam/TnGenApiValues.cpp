// Value nodes: integers, floats, enumerations, Booleans, commands, strings,
// registers and categories.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "TnGenApi.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

namespace
{
const size_t kMaxStringValue = 4096;

int64_t ToInt64(uint64_t aBits)
{
    int64_t lValue;
    memcpy(&lValue, &aBits, sizeof(lValue));
    return lValue;
}

uint64_t DecodeUnsigned(const uint8_t *aData, size_t aLength, TnGenEndianness aEndianness)
{
    uint64_t lRaw = 0;
    for (size_t lIndex = 0; lIndex < aLength; ++lIndex)
    {
        const size_t lByte = aEndianness == TnGenEndiannessBig ? lIndex : aLength - 1 - lIndex;
        lRaw = (lRaw << 8) | aData[lByte];
    }
    return lRaw;
}

void EncodeUnsigned(uint64_t aRaw, uint8_t *aData, size_t aLength, TnGenEndianness aEndianness)
{
    for (size_t lIndex = 0; lIndex < aLength; ++lIndex)
    {
        const size_t lByte = aEndianness == TnGenEndiannessBig ? aLength - 1 - lIndex : lIndex;
        aData[lByte] = static_cast<uint8_t>(aRaw >> (8 * lIndex));
    }
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

TnGenRepresentation ParseRepresentation(const INode &aNode, const Element &aElement)
{
    static const std::pair<const char *, TnGenRepresentation> kNames[] = {
        {"Linear", TnGenRepresentationLinear},           {"Logarithmic", TnGenRepresentationLogarithmic},
        {"Boolean", TnGenRepresentationBoolean},         {"PureNumber", TnGenRepresentationPureNumber},
        {"HexNumber", TnGenRepresentationHexNumber},     {"IPV4Address", TnGenRepresentationIPV4Address},
        {"MACAddress", TnGenRepresentationMACAddress}};
    TnGenRepresentation lRepresentation = TnGenRepresentationPureNumber;
    if (!tn::genicam::LookupName(kNames, aElement.mText, lRepresentation))
    {
        FailDefinition(std::string(aNode.GetKindName()) + " '" + aNode.GetName() + "': unknown Representation '" +
                       aElement.mText + "'");
    }
    return lRepresentation;
}

TnGenEndianness ParseEndianness(const INode &aNode, const Element &aElement)
{
    if (aElement.mText != "BigEndian" && aElement.mText != "LittleEndian")
    {
        FailDefinition(aNode.Describe() + ": Endianess '" + aElement.mText + "' is neither BigEndian nor LittleEndian");
    }
    return aElement.mText == "BigEndian" ? TnGenEndiannessBig : TnGenEndiannessLittle;
}

int64_t RoundToInt(const INode &aNode, double aValue)
{
    if (!(aValue >= -9223372036854775808.0 && aValue < 9223372036854775808.0))
    {
        Fail(std::string(aNode.GetKindName()) + " '" + aNode.GetName() + "': " + tn::genicam::FormatFloat(aValue) +
             " is no 64-bit integer");
    }
    return static_cast<int64_t>(llround(aValue));
}

// Integer limits of a node seen through its float interface.
int64_t ClampToInt(double aValue)
{
    if (aValue != aValue)
    {
        return 0;
    }
    if (aValue <= -9223372036854775808.0)
    {
        return INT64_MIN;
    }
    if (aValue >= 9223372036854775807.0)
    {
        return INT64_MAX;
    }
    return static_cast<int64_t>(llround(aValue));
}

bool IsNumeric(InterfaceKind aKind)
{
    return aKind == InterfaceKind::Integer || aKind == InterfaceKind::Float;
}

// The access of a node whose value is a constant or comes from aRef's node.
Access AccessThrough(const NodeRef &aRef)
{
    return aRef.mNode != nullptr ? aRef.mNode->GetAccess() : Access::RW;
}

template <typename T> ValueOrRef<T> *FindIndexed(IndexedValue<T> &aIndexed, int64_t aIndex)
{
    for (auto &lEntry : aIndexed.mEntries)
    {
        if (lEntry.first == aIndex)
        {
            return &lEntry.second;
        }
    }
    return aIndexed.mDefault.IsSet() ? &aIndexed.mDefault : nullptr;
}

template <typename T> void CollectIndexed(IndexedValue<T> &aIndexed, std::vector<NodeRef *> &aReferences)
{
    if (aIndexed.mIndex.IsSet())
    {
        aReferences.push_back(&aIndexed.mIndex);
    }
    for (auto &lEntry : aIndexed.mEntries)
    {
        if (lEntry.second.mRef.IsSet())
        {
            aReferences.push_back(&lEntry.second.mRef);
        }
    }
    if (aIndexed.mDefault.mRef.IsSet())
    {
        aReferences.push_back(&aIndexed.mDefault.mRef);
    }
}

template <typename T> void CollectValue(ValueOrRef<T> &aValue, std::vector<NodeRef *> &aReferences)
{
    if (aValue.mRef.IsSet())
    {
        aReferences.push_back(&aValue.mRef);
    }
}

int64_t IndexAttribute(const INode &aNode, const Element &aElement)
{
    const std::string *lIndex = aElement.GetAttribute("Index");
    int64_t lValue = 0;
    if (lIndex == nullptr || !tn::genicam::ParseIntegerText(*lIndex, lValue))
    {
        FailDefinition(std::string(aNode.GetKindName()) + " '" + aNode.GetName() + "': " + aElement.mName +
                       " needs an integer Index attribute");
    }
    return lValue;
}
} // namespace

// --- NumberBase -------------------------------------------------------------

bool NumberBase::ApplyElement(const Element &aElement)
{
    if (aElement.mName == "Unit")
    {
        mUnit = aElement.mText;
        return true;
    }
    if (aElement.mName == "Representation")
    {
        mRepresentation = ParseRepresentation(*this, aElement);
        return true;
    }
    return INode::ApplyElement(aElement);
}

// --- IntegerBase ------------------------------------------------------------

void IntegerBase::SetFloat(double aValue)
{
    SetInt(RoundToInt(*this, aValue));
}

void IntegerBase::CheckWrite(int64_t aValue)
{
    CheckWritable();
    CheckIntRange(aValue);
}

std::string IntegerBase::ToString()
{
    const int64_t lValue = GetInt();
    char lText[64];
    const uint64_t lBits = static_cast<uint64_t>(lValue);
    switch (mRepresentation)
    {
    case TnGenRepresentationHexNumber:
        snprintf(lText, sizeof(lText), "0x%llX", static_cast<unsigned long long>(lBits));
        break;
    case TnGenRepresentationIPV4Address:
        snprintf(lText, sizeof(lText), "%u.%u.%u.%u", unsigned(lBits >> 24 & 0xFF), unsigned(lBits >> 16 & 0xFF),
                 unsigned(lBits >> 8 & 0xFF), unsigned(lBits & 0xFF));
        break;
    case TnGenRepresentationMACAddress:
        snprintf(lText, sizeof(lText), "%02X:%02X:%02X:%02X:%02X:%02X", unsigned(lBits >> 40 & 0xFF),
                 unsigned(lBits >> 32 & 0xFF), unsigned(lBits >> 24 & 0xFF), unsigned(lBits >> 16 & 0xFF),
                 unsigned(lBits >> 8 & 0xFF), unsigned(lBits & 0xFF));
        break;
    default:
        snprintf(lText, sizeof(lText), "%lld", static_cast<long long>(lValue));
        break;
    }
    return lText;
}

void IntegerBase::FromString(const std::string &aValue)
{
    const std::string lText = tn::genicam::Trim(aValue);
    int64_t lValue = 0;
    unsigned lParts[6];
    char lTail;
    if (mRepresentation == TnGenRepresentationIPV4Address &&
        sscanf(lText.c_str(), "%u.%u.%u.%u%c", &lParts[0], &lParts[1], &lParts[2], &lParts[3], &lTail) == 4)
    {
        lValue = 0;
        for (int lIndex = 0; lIndex < 4; ++lIndex)
        {
            if (lParts[lIndex] > 255)
            {
                Fail(Describe() + ": '" + lText + "' is no IPv4 address");
            }
            lValue = (lValue << 8) | lParts[lIndex];
        }
    }
    else if (mRepresentation == TnGenRepresentationMACAddress &&
             sscanf(lText.c_str(), "%x:%x:%x:%x:%x:%x%c", &lParts[0], &lParts[1], &lParts[2], &lParts[3], &lParts[4],
                    &lParts[5], &lTail) == 6)
    {
        lValue = 0;
        for (int lIndex = 0; lIndex < 6; ++lIndex)
        {
            if (lParts[lIndex] > 255)
            {
                Fail(Describe() + ": '" + lText + "' is no MAC address");
            }
            lValue = (lValue << 8) | lParts[lIndex];
        }
    }
    else if (!tn::genicam::ParseIntegerText(lText, lValue))
    {
        Fail(Describe() + ": '" + lText + "' is not an integer");
    }
    SetInt(lValue);
}

// --- FloatBase --------------------------------------------------------------

int64_t FloatBase::GetInt()
{
    return RoundToInt(*this, GetFloat());
}

int64_t FloatBase::GetIntMin()
{
    return ClampToInt(GetFloatMin());
}

int64_t FloatBase::GetIntMax()
{
    return ClampToInt(GetFloatMax());
}

bool FloatBase::GetFloatInc(double &)
{
    return false;
}

void FloatBase::CheckWrite(double aValue)
{
    CheckWritable();
    CheckFloatRange(aValue);
    double lIncrement = 0;
    if (GetFloatInc(lIncrement) && lIncrement > 0)
    {
        const double lSteps = (aValue - GetFloatMin()) / lIncrement;
        if (fabs(lSteps - nearbyint(lSteps)) > 1e-6)
        {
            Fail(Describe() + ": " + tn::genicam::FormatFloat(aValue) + " does not fit the increment " +
                 tn::genicam::FormatFloat(lIncrement));
        }
    }
}

std::string FloatBase::ToString()
{
    return tn::genicam::FormatFloat(GetFloat());
}

void FloatBase::FromString(const std::string &aValue)
{
    double lValue = 0;
    if (!tn::genicam::ParseFloatText(aValue, lValue))
    {
        Fail(Describe() + ": '" + tn::genicam::Trim(aValue) + "' is not a number");
    }
    SetFloat(lValue);
}

// --- Integer and Float ------------------------------------------------------

template <typename T, typename Base> bool NumberNode<T, Base>::ApplyElement(const Element &aElement)
{
    if (this->ApplyValue(aElement, "Value", "pValue", mValue) || this->ApplyValue(aElement, "Min", "pMin", mMin) ||
        this->ApplyValue(aElement, "Max", "pMax", mMax) || this->ApplyValue(aElement, "Inc", "pInc", mInc) ||
        this->ApplyValue(aElement, "ValueDefault", "pValueDefault", mIndexed.mDefault))
    {
        return true;
    }
    if (aElement.mName == "pIndex")
    {
        this->SetRef(mIndexed.mIndex, aElement);
        return true;
    }
    if (aElement.mName == "ValueIndexed" || aElement.mName == "pValueIndexed")
    {
        ValueOrRef<T> lValue;
        this->ApplyValue(aElement, "ValueIndexed", "pValueIndexed", lValue);
        mIndexed.mEntries.emplace_back(IndexAttribute(*this, aElement), lValue);
        return true;
    }
    // A Float's DisplayNotation and DisplayPrecision only concern displays.
    return Base::ApplyElement(aElement);
}

template <typename T, typename Base> ValueOrRef<T> &NumberNode<T, Base>::Current()
{
    if (!mIndexed.IsSet())
    {
        return mValue;
    }
    const int64_t lIndex = this->RefInt(mIndexed.mIndex);
    ValueOrRef<T> *lValue = FindIndexed(mIndexed, lIndex);
    if (lValue == nullptr)
    {
        Fail(this->Describe() + " has no value for the index " + std::to_string(lIndex));
    }
    return *lValue;
}

template <typename T, typename Base> INode *NumberNode<T, Base>::GetValueTarget()
{
    return mIndexed.IsSet() ? nullptr : mValue.mRef.mNode;
}

template <typename T, typename Base> Access NumberNode<T, Base>::GetBaseAccess()
{
    return AccessThrough(Current().mRef);
}

template <typename T, typename Base> T NumberNode<T, Base>::GetValue()
{
    this->CheckReadable();
    return this->ValueOf(Current());
}

template <typename T, typename Base> void NumberNode<T, Base>::SetValue(T aValue)
{
    this->CheckWrite(aValue);
    this->WriteValue(Current(), aValue);
}

template <typename T, typename Base>
T NumberNode<T, Base>::Limit(const ValueOrRef<T> &aLimit, T (*aTargetLimit)(INode &), T aDefault)
{
    if (aLimit.IsSet())
    {
        return this->ValueOf(aLimit);
    }
    INode *lTarget = Current().mRef.mNode;
    if (lTarget != nullptr && IsNumeric(lTarget->GetInterface()))
    {
        DepthGuard lGuard(this->mMap);
        return aTargetLimit(*lTarget);
    }
    return aDefault;
}

template <typename T, typename Base> T NumberNode<T, Base>::GetMin()
{
    return Limit(mMin, &NumberCalls<T>::Min, std::numeric_limits<T>::lowest());
}

template <typename T, typename Base> T NumberNode<T, Base>::GetMax()
{
    return Limit(mMax, &NumberCalls<T>::Max, std::numeric_limits<T>::max());
}

template <typename T, typename Base>
void NumberNode<T, Base>::CollectReferences(std::vector<NodeRef *> &aReferences)
{
    CollectValue(mValue, aReferences);
    CollectValue(mMin, aReferences);
    CollectValue(mMax, aReferences);
    CollectValue(mInc, aReferences);
    CollectIndexed(mIndexed, aReferences);
    Base::CollectReferences(aReferences);
}

template <typename T, typename Base>
void NumberNode<T, Base>::ValidateNumber(std::initializer_list<InterfaceKind> aValueKinds)
{
    if (!mValue.IsSet() && !mIndexed.IsSet())
    {
        FailDefinition(this->Describe() + " has neither Value, pValue nor pIndex");
    }
    const std::initializer_list<InterfaceKind> lNumeric = {InterfaceKind::Integer, InterfaceKind::Float};
    this->RequireInterface(mValue.mRef, "pValue", aValueKinds);
    this->RequireInterface(mMin.mRef, "pMin", lNumeric);
    this->RequireInterface(mMax.mRef, "pMax", lNumeric);
    this->RequireInterface(mInc.mRef, "pInc", lNumeric);
    this->RequireInterface(mIndexed.mIndex, "pIndex", {InterfaceKind::Integer, InterfaceKind::Enumeration});
    for (auto &lEntry : mIndexed.mEntries)
    {
        this->RequireInterface(lEntry.second.mRef, "pValueIndexed", aValueKinds);
    }
    this->RequireInterface(mIndexed.mDefault.mRef, "pValueDefault", aValueKinds);
}

template class NumberNode<int64_t, IntegerBase>;
template class NumberNode<double, FloatBase>;

int64_t IntegerNode::GetIntInc()
{
    if (mInc.IsSet())
    {
        return ValueOf(mInc);
    }
    INode *lTarget = Current().mRef.mNode;
    if (lTarget != nullptr && lTarget->GetInterface() == InterfaceKind::Integer)
    {
        DepthGuard lGuard(mMap);
        return lTarget->GetIntInc();
    }
    return 1;
}

void IntegerNode::Validate()
{
    // An integer may also take its value from an enumeration or a Boolean.
    ValidateNumber({InterfaceKind::Integer, InterfaceKind::Float, InterfaceKind::Enumeration, InterfaceKind::Boolean});
}

bool FloatNode::GetFloatInc(double &aIncrement)
{
    if (!mInc.IsSet())
    {
        return false;
    }
    aIncrement = ValueOf(mInc);
    return true;
}

void FloatNode::Validate()
{
    ValidateNumber({InterfaceKind::Integer, InterfaceKind::Float});
}

// --- IntReg -----------------------------------------------------------------

bool IntRegNode::ApplyElement(const Element &aElement)
{
    if (aElement.mName == "Sign")
    {
        if (aElement.mText != "Signed" && aElement.mText != "Unsigned")
        {
            FailDefinition(Describe() + ": Sign '" + aElement.mText + "' is neither Signed nor Unsigned");
        }
        mSign = aElement.mText == "Signed" ? TnGenSignSigned : TnGenSignUnsigned;
        return true;
    }
    if (aElement.mName == "Endianess")
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
    if (aElement.mName == "LSB")
    {
        mLsb = ParseInteger(aElement);
        return true;
    }
    if (aElement.mName == "MSB")
    {
        mMsb = ParseInteger(aElement);
        return true;
    }
    if (aElement.mName == "Bit")
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
    if (aElement.mName == "Endianess")
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

// --- IntValueNode: Enumeration, Boolean, Command --------------------------------

bool IntValueNode::ApplyElement(const Element &aElement)
{
    return ApplyValue(aElement, "Value", "pValue", mValue) || INode::ApplyElement(aElement);
}

Access IntValueNode::GetBaseAccess()
{
    return AccessThrough(mValue.mRef);
}

void IntValueNode::CollectReferences(std::vector<NodeRef *> &aReferences)
{
    CollectValue(mValue, aReferences);
    INode::CollectReferences(aReferences);
}

void IntValueNode::Validate()
{
    if (!mValue.IsSet())
    {
        FailDefinition(Describe() + " has neither Value nor pValue");
    }
    RequireInterface(mValue.mRef, "pValue", {InterfaceKind::Integer});
}

// --- Enumeration --------------------------------------------------------------

bool EnumEntryNode::ApplyElement(const Element &aElement)
{
    if (aElement.mName == "Value")
    {
        mValue = ParseInteger(aElement);
        return true;
    }
    if (aElement.mName == "Symbolic")
    {
        mSymbolic = aElement.mText;
        return true;
    }
    return INode::ApplyElement(aElement);
}

bool EnumerationNode::ApplyElement(const Element &aElement)
{
    if (aElement.mName == "EnumEntry")
    {
        const std::string *lEntryName = aElement.GetAttribute("Name");
        if (lEntryName == nullptr || lEntryName->empty())
        {
            FailDefinition(Describe() + " has an EnumEntry without a Name");
        }
        INode *lNode = mMap.CreateNode("EnumEntry", "EnumEntry_" + mName + "_" + *lEntryName);
        EnumEntryNode *lEntry = static_cast<EnumEntryNode *>(lNode);
        lEntry->SetSymbolic(*lEntryName);
        for (const auto &lAttribute : aElement.mAttributes)
        {
            if (lAttribute.first != "Name")
            {
                lEntry->DefineAttribute(lAttribute.first, lAttribute.second);
            }
        }
        for (const Element &lChild : aElement.mChildren)
        {
            lEntry->Define(lChild);
        }
        mEntries.push_back(lEntry);
        mEntryRefs.emplace_back();
        mEntryRefs.back().mName = lEntry->GetName();
        return true;
    }
    return IntValueNode::ApplyElement(aElement);
}

EnumEntryNode *EnumerationNode::FindEntry(const std::string &aSymbolic) const
{
    for (EnumEntryNode *lEntry : mEntries)
    {
        if (lEntry->GetSymbolic() == aSymbolic)
        {
            return lEntry;
        }
    }
    return nullptr;
}

EnumEntryNode *EnumerationNode::FindEntry(int64_t aValue) const
{
    for (EnumEntryNode *lEntry : mEntries)
    {
        if (lEntry->GetValue() == aValue)
        {
            return lEntry;
        }
    }
    return nullptr;
}

int64_t EnumerationNode::GetInt()
{
    CheckReadable();
    return ValueOf(mValue);
}

std::string EnumerationNode::GetString()
{
    const int64_t lValue = GetInt();
    EnumEntryNode *lEntry = FindEntry(lValue);
    if (lEntry == nullptr)
    {
        Fail(Describe() + ": the value " + std::to_string(lValue) + " belongs to none of its entries");
    }
    return lEntry->GetSymbolic();
}

void EnumerationNode::SetInt(int64_t aValue)
{
    CheckWritable();
    EnumEntryNode *lEntry = FindEntry(aValue);
    if (lEntry == nullptr)
    {
        Fail(Describe() + " has no entry with the value " + std::to_string(aValue));
    }
    WriteEntry(*lEntry);
}

void EnumerationNode::SetString(const std::string &aValue)
{
    CheckWritable();
    EnumEntryNode *lEntry = FindEntry(aValue);
    if (lEntry == nullptr)
    {
        Fail(Describe() + " has no entry '" + aValue + "'");
    }
    WriteEntry(*lEntry);
}

void EnumerationNode::WriteEntry(EnumEntryNode &aEntry)
{
    if (!aEntry.IsAvailable())
    {
        Fail(Describe() + ": the entry '" + aEntry.GetSymbolic() + "' is not available");
    }
    WriteValue(mValue, aEntry.GetValue());
}

void EnumerationNode::CollectReferences(std::vector<NodeRef *> &aReferences)
{
    CollectValue(mValue, aReferences);
    // An enumeration depends on its entries' availability.
    for (NodeRef &lEntry : mEntryRefs)
    {
        aReferences.push_back(&lEntry);
    }
    INode::CollectReferences(aReferences);
}

// --- Boolean ------------------------------------------------------------------

bool BooleanNode::ApplyElement(const Element &aElement)
{
    if (aElement.mName == "OnValue")
    {
        mOnValue = ParseInteger(aElement);
        return true;
    }
    if (aElement.mName == "OffValue")
    {
        mOffValue = ParseInteger(aElement);
        return true;
    }
    return IntValueNode::ApplyElement(aElement);
}

bool BooleanNode::GetBool()
{
    CheckReadable();
    const int64_t lValue = ValueOf(mValue);
    if (lValue == mOnValue)
    {
        return true;
    }
    if (lValue == mOffValue)
    {
        return false;
    }
    Fail(Describe() + ": the value " + std::to_string(lValue) + " is neither its OnValue " + std::to_string(mOnValue) +
         " nor its OffValue " + std::to_string(mOffValue));
}

void BooleanNode::SetBool(bool aValue)
{
    CheckWritable();
    WriteValue(mValue, aValue ? mOnValue : mOffValue);
}

void BooleanNode::FromString(const std::string &aValue)
{
    std::string lText = tn::genicam::Trim(aValue);
    std::transform(lText.begin(), lText.end(), lText.begin(), [](unsigned char aChar) { return static_cast<char>(tolower(aChar)); });
    if (lText == "true" || lText == "1")
    {
        SetBool(true);
    }
    else if (lText == "false" || lText == "0")
    {
        SetBool(false);
    }
    else
    {
        Fail(Describe() + ": '" + aValue + "' is neither true nor false");
    }
}

// --- Command ------------------------------------------------------------------

bool CommandNode::ApplyElement(const Element &aElement)
{
    return ApplyValue(aElement, "CommandValue", "pCommandValue", mCommandValue) || IntValueNode::ApplyElement(aElement);
}

void CommandNode::Execute()
{
    CheckWritable();
    WriteValue(mValue, ValueOf(mCommandValue));
}

bool CommandNode::IsDone()
{
    const Access lAccess = GetAccess();
    if (lAccess == Access::NI || lAccess == Access::NA)
    {
        CheckWritable();
    }
    INode *lTarget = mValue.mRef.mNode;
    // A command whose register cannot be read is done once written; one that
    // can is done when the device has changed it from the command value.
    if (lTarget == nullptr || !lTarget->IsReadable())
    {
        return true;
    }
    mMap.DropCaches(*lTarget);
    DepthGuard lGuard(mMap);
    return lTarget->GetInt() != ValueOf(mCommandValue);
}

void CommandNode::CollectReferences(std::vector<NodeRef *> &aReferences)
{
    CollectValue(mValue, aReferences);
    CollectValue(mCommandValue, aReferences);
    INode::CollectReferences(aReferences);
}

void CommandNode::Validate()
{
    if (!mValue.IsSet())
    {
        FailDefinition(Describe() + " has neither Value nor pValue");
    }
    if (!mCommandValue.IsSet())
    {
        FailDefinition(Describe() + " has neither CommandValue nor pCommandValue");
    }
    RequireInterface(mValue.mRef, "pValue", {InterfaceKind::Integer});
    RequireInterface(mCommandValue.mRef, "pCommandValue", {InterfaceKind::Integer});
}

// --- String -------------------------------------------------------------------

bool StringNode::ApplyElement(const Element &aElement)
{
    if (aElement.mName == "Value")
    {
        mHasValue = true;
        mValue = aElement.mText;
        return true;
    }
    if (aElement.mName == "pValue")
    {
        SetRef(mValueRef, aElement);
        return true;
    }
    return INode::ApplyElement(aElement);
}

INode *StringNode::GetValueTarget()
{
    return mValueRef.mNode;
}

Access StringNode::GetBaseAccess()
{
    return AccessThrough(mValueRef);
}

std::string StringNode::GetString()
{
    CheckReadable();
    if (mValueRef.mNode != nullptr)
    {
        DepthGuard lGuard(mMap);
        return mValueRef.mNode->GetString();
    }
    return mValue;
}

void StringNode::SetString(const std::string &aValue)
{
    CheckWritable();
    if (mValueRef.mNode != nullptr)
    {
        DepthGuard lGuard(mMap);
        mValueRef.mNode->SetString(aValue);
        return;
    }
    if (aValue.size() > kMaxStringValue)
    {
        Fail(Describe() + ": the text is longer than " + std::to_string(kMaxStringValue) + " bytes");
    }
    mValue = aValue;
    mMap.NodeChanged(*this);
}

int64_t StringNode::GetMaxLength()
{
    if (mValueRef.mNode != nullptr)
    {
        DepthGuard lGuard(mMap);
        return mValueRef.mNode->GetMaxLength();
    }
    return static_cast<int64_t>(kMaxStringValue);
}

void StringNode::CollectReferences(std::vector<NodeRef *> &aReferences)
{
    if (mValueRef.IsSet())
    {
        aReferences.push_back(&mValueRef);
    }
    INode::CollectReferences(aReferences);
}

void StringNode::Validate()
{
    if (!mHasValue && !mValueRef.IsSet())
    {
        FailDefinition(Describe() + " has neither Value nor pValue");
    }
    RequireInterface(mValueRef, "pValue", {InterfaceKind::String});
}

std::string StringRegNode::GetString()
{
    CheckReadable();
    const size_t lLength = mRegister.GetLength(*this);
    std::vector<uint8_t> lData(lLength);
    mRegister.Read(*this, lData.data(), lLength);
    const uint8_t *lEnd = static_cast<const uint8_t *>(memchr(lData.data(), 0, lLength));
    return std::string(reinterpret_cast<const char *>(lData.data()), lEnd != nullptr ? lEnd - lData.data() : lLength);
}

void StringRegNode::SetString(const std::string &aValue)
{
    CheckWritable();
    const size_t lLength = mRegister.GetLength(*this);
    if (aValue.size() > lLength)
    {
        Fail(Describe() + ": the text takes " + std::to_string(aValue.size()) + " bytes, the register only " +
             std::to_string(lLength));
    }
    std::vector<uint8_t> lData(lLength, 0);
    memcpy(lData.data(), aValue.data(), aValue.size());
    mRegister.Write(*this, lData.data(), lLength);
}

int64_t StringRegNode::GetMaxLength()
{
    return static_cast<int64_t>(mRegister.GetLength(*this));
}

void StringRegNode::Validate()
{
    mRegister.Validate(*this, 1, int64_t(1) << 26);
}

// --- Register -----------------------------------------------------------------

int64_t RegisterNode::GetLength()
{
    return static_cast<int64_t>(mRegister.GetLength(*this));
}

void RegisterNode::GetBytes(uint8_t *aData, size_t aLength)
{
    CheckReadable();
    const size_t lLength = mRegister.GetLength(*this);
    if (aLength > lLength)
    {
        throw GenApiError(TN_INVALID_PARAMETER, Describe() + " holds " + std::to_string(lLength) + " bytes, not " +
                                                    std::to_string(aLength));
    }
    std::vector<uint8_t> lData(lLength);
    mRegister.Read(*this, lData.data(), lLength);
    memcpy(aData, lData.data(), aLength);
}

void RegisterNode::SetBytes(const uint8_t *aData, size_t aLength)
{
    CheckWritable();
    const size_t lLength = mRegister.GetLength(*this);
    if (aLength > lLength)
    {
        throw GenApiError(TN_INVALID_PARAMETER, Describe() + " holds " + std::to_string(lLength) + " bytes, not " +
                                                    std::to_string(aLength));
    }
    mRegister.Write(*this, aData, aLength);
}

std::string RegisterNode::ToString()
{
    const size_t lLength = mRegister.GetLength(*this);
    std::vector<uint8_t> lData(lLength);
    GetBytes(lData.data(), lLength);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string lText;
    for (uint8_t lByte : lData)
    {
        lText += kDigits[lByte >> 4];
        lText += kDigits[lByte & 0xF];
    }
    return lText;
}

void RegisterNode::FromString(const std::string &aValue)
{
    std::string lText = tn::genicam::Trim(aValue);
    if (lText.size() >= 2 && lText[0] == '0' && (lText[1] == 'x' || lText[1] == 'X'))
    {
        lText = lText.substr(2);
    }
    if (lText.size() % 2 != 0)
    {
        Fail(Describe() + ": '" + aValue + "' is no sequence of hexadecimal bytes");
    }
    std::vector<uint8_t> lData;
    for (size_t lIndex = 0; lIndex < lText.size(); lIndex += 2)
    {
        if (!isxdigit(static_cast<unsigned char>(lText[lIndex])) || !isxdigit(static_cast<unsigned char>(lText[lIndex + 1])))
        {
            Fail(Describe() + ": '" + aValue + "' is no sequence of hexadecimal bytes");
        }
        lData.push_back(static_cast<uint8_t>(std::stoi(lText.substr(lIndex, 2), nullptr, 16)));
    }
    if (lData.size() > mRegister.GetLength(*this))
    {
        Fail(Describe() + ": " + std::to_string(lData.size()) + " bytes do not fit into the register");
    }
    SetBytes(lData.data(), lData.size());
}

void RegisterNode::Validate()
{
    mRegister.Validate(*this, 1, int64_t(1) << 26);
}

// --- Category -------------------------------------------------------------------

bool CategoryNode::ApplyElement(const Element &aElement)
{
    if (aElement.mName == "pFeature")
    {
        mFeatures.emplace_back();
        SetRef(mFeatures.back(), aElement);
        return true;
    }
    return INode::ApplyElement(aElement);
}

void CategoryNode::CollectFeatures(std::vector<NodeRef *> &aFeatures)
{
    for (NodeRef &lRef : mFeatures)
    {
        aFeatures.push_back(&lRef);
    }
}

} // namespace TN_GENAPI_NS
