// Integer and Float nodes, and the integer and float interfaces.
#include <math.h>
#include <stdio.h>

#include "TnGenApiNumber.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

namespace
{
TnGenRepresentation ParseRepresentation(const INode &aNode, const Element &aElement)
{
    static const std::pair<const char *, TnGenRepresentation> kNames[] = {
        {"Linear", TnGenRepresentationLinear},        {"Logarithmic", TnGenRepresentationLogarithmic},
        {"Boolean", TnGenRepresentationBoolean},      {"PureNumber", TnGenRepresentationPureNumber},
        {"HexNumber", TnGenRepresentationHexNumber},  {"IPV4Address", TnGenRepresentationIPV4Address},
        {"MACAddress", TnGenRepresentationMACAddress}};
    TnGenRepresentation lRepresentation = TnGenRepresentationPureNumber;
    if (!tn::genicam::LookupName(kNames, aElement.mText, lRepresentation))
    {
        FailDefinition(std::string(aNode.GetKindName()) + " '" + aNode.GetName() + "': unknown Representation '" +
                       aElement.mText + "'");
    }
    return lRepresentation;
}

bool IsNumeric(InterfaceKind aKind)
{
    return aKind == InterfaceKind::Integer || aKind == InterfaceKind::Float;
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

int64_t RoundToInt(const INode &aNode, double aValue)
{
    int64_t lValue = 0;
    if (!tn::genicam::RoundToInteger(aValue, lValue))
    {
        Fail(aNode.Describe() + ": " + tn::genicam::FormatFloat(aValue) + " is no 64-bit integer");
    }
    return lValue;
}

int64_t LimitToInt(double aLimit, bool aMinimum)
{
    if (aLimit != aLimit)
    {
        return aMinimum ? INT64_MIN : INT64_MAX;
    }
    // A tolerance for the rounding errors of the conversion itself.
    const double lInward =
        aMinimum ? ceil(aLimit - 1e-9 * fmax(1.0, fabs(aLimit))) : floor(aLimit + 1e-9 * fmax(1.0, fabs(aLimit)));
    if (lInward <= -9223372036854775808.0)
    {
        return INT64_MIN;
    }
    if (lInward >= 9223372036854775807.0)
    {
        return INT64_MAX;
    }
    return static_cast<int64_t>(lInward);
}

// --- NumberBase -------------------------------------------------------------

bool NumberBase::ApplyElement(const Element &aElement)
{
    if (aElement.Is("Unit"))
    {
        mUnit = aElement.mText;
        return true;
    }
    if (aElement.Is("Representation"))
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
        return tn::genicam::FormatHex(lBits);
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
    return LimitToInt(GetFloatMin(), true);
}

int64_t FloatBase::GetIntMax()
{
    return LimitToInt(GetFloatMax(), false);
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

bool FloatBase::ApplyElement(const Element &aElement)
{
    if (aElement.Is("DisplayNotation"))
    {
        static const std::pair<const char *, Notation> kNotations[] = {
            {"Automatic", Notation::Automatic}, {"Fixed", Notation::Fixed}, {"Scientific", Notation::Scientific}};
        Notation lNotation = Notation::Automatic;
        if (!tn::genicam::LookupName(kNotations, aElement.mText, lNotation))
        {
            FailDefinition(Describe() + ": DisplayNotation '" + aElement.mText +
                           "' is none of Automatic, Fixed, Scientific");
        }
        mNotation = lNotation;
        return true;
    }
    if (aElement.Is("DisplayPrecision"))
    {
        const int64_t lPrecision = ParseInteger(aElement);
        if (lPrecision < 0 || lPrecision > 30)
        {
            FailDefinition(Describe() + ": DisplayPrecision " + aElement.mText + " is outside 0 to 30");
        }
        mPrecision = static_cast<int>(lPrecision);
        if (mNotation == Notation::Exact)
        {
            mNotation = Notation::Automatic;
        }
        return true;
    }
    return NumberBase::ApplyElement(aElement);
}

std::string FloatBase::ToString()
{
    const double lValue = GetFloat();
    char lText[400];
    switch (mNotation)
    {
    case Notation::Automatic:
        snprintf(lText, sizeof(lText), "%.*g", mPrecision, lValue);
        return lText;
    case Notation::Fixed:
        snprintf(lText, sizeof(lText), "%.*f", mPrecision, lValue);
        return lText;
    case Notation::Scientific:
        snprintf(lText, sizeof(lText), "%.*e", mPrecision, lValue);
        return lText;
    default:
        return tn::genicam::FormatFloat(lValue);
    }
}

std::string FloatBase::ToExactString()
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
    if (aElement.Is("pIndex"))
    {
        this->SetRef(mIndexed.mIndex, aElement);
        return true;
    }
    if (aElement.Is("ValueIndexed") || aElement.Is("pValueIndexed"))
    {
        ValueOrRef<T> lValue;
        this->ApplyValue(aElement, "ValueIndexed", "pValueIndexed", lValue);
        mIndexed.mEntries.emplace_back(IndexAttribute(*this, aElement), lValue);
        return true;
    }
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

template <typename T, typename Base> void NumberNode<T, Base>::ScanAccess(AccessScan &aScan)
{
    aScan.Input(mMin.mRef);
    aScan.Input(mMax.mRef);
    aScan.Input(mInc.mRef);
    aScan.Read(mIndexed.mIndex);
    if (aScan.IsOpen())
    {
        ValueOrRef<T> &lCurrent = Current();
        if (mIndexed.IsSet())
        {
            aScan.ValueRead(*mIndexed.mIndex.mNode);
        }
        aScan.Value(lCurrent.mRef);
    }
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

template <typename T, typename Base> void NumberNode<T, Base>::CollectReferences(std::vector<NodeRef *> &aReferences)
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
    this->CheckInterface(mValue.mRef, "pValue", aValueKinds);
    this->CheckInterface(mMin.mRef, "pMin", lNumeric);
    this->CheckInterface(mMax.mRef, "pMax", lNumeric);
    this->CheckInterface(mInc.mRef, "pInc", lNumeric);
    this->CheckInterface(mIndexed.mIndex, "pIndex", {InterfaceKind::Integer, InterfaceKind::Enumeration});
    for (auto &lEntry : mIndexed.mEntries)
    {
        this->CheckInterface(lEntry.second.mRef, "pValueIndexed", aValueKinds);
    }
    this->CheckInterface(mIndexed.mDefault.mRef, "pValueDefault", aValueKinds);
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

} // namespace TN_GENAPI_NS
