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
    int64_t value;
    memcpy(&value, &aBits, sizeof(value));
    return value;
}

uint64_t DecodeUnsigned(const uint8_t *aData, size_t aLength, TnGenEndianness aEndianness)
{
    uint64_t raw = 0;
    for (size_t i = 0; i < aLength; ++i)
    {
        const size_t byte = aEndianness == TnGenEndiannessBig ? i : aLength - 1 - i;
        raw = (raw << 8) | aData[byte];
    }
    return raw;
}

void EncodeUnsigned(uint64_t aRaw, uint8_t *aData, size_t aLength, TnGenEndianness aEndianness)
{
    for (size_t i = 0; i < aLength; ++i)
    {
        const size_t byte = aEndianness == TnGenEndiannessBig ? aLength - 1 - i : i;
        aData[byte] = static_cast<uint8_t>(aRaw >> (8 * i));
    }
}

// Sign-extends the low aBits bits.
int64_t SignExtend(uint64_t aRaw, int aBits)
{
    if (aBits >= 64)
    {
        return ToInt64(aRaw);
    }
    const uint64_t sign = uint64_t(1) << (aBits - 1);
    const uint64_t mask = (uint64_t(1) << aBits) - 1;
    aRaw &= mask;
    return ToInt64((aRaw ^ sign) - sign);
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
    TnGenRepresentation representation = TnGenRepresentationPureNumber;
    if (!tn::genicam::LookupName(kNames, aElement.mText, representation))
    {
        FailDefinition(std::string(aNode.GetKindName()) + " '" + aNode.GetName() + "': unknown Representation '" +
                       aElement.mText + "'");
    }
    return representation;
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
    for (auto &entry : aIndexed.mEntries)
    {
        if (entry.first == aIndex)
        {
            return &entry.second;
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
    for (auto &entry : aIndexed.mEntries)
    {
        if (entry.second.mRef.IsSet())
        {
            aReferences.push_back(&entry.second.mRef);
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
    const std::string *index = aElement.GetAttribute("Index");
    int64_t value = 0;
    if (index == nullptr || !tn::genicam::ParseIntegerText(*index, value))
    {
        FailDefinition(std::string(aNode.GetKindName()) + " '" + aNode.GetName() + "': " + aElement.mName +
                       " needs an integer Index attribute");
    }
    return value;
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
    const int64_t value = GetInt();
    char text[64];
    const uint64_t bits = static_cast<uint64_t>(value);
    switch (mRepresentation)
    {
    case TnGenRepresentationHexNumber:
        snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(bits));
        break;
    case TnGenRepresentationIPV4Address:
        snprintf(text, sizeof(text), "%u.%u.%u.%u", unsigned(bits >> 24 & 0xFF), unsigned(bits >> 16 & 0xFF),
                 unsigned(bits >> 8 & 0xFF), unsigned(bits & 0xFF));
        break;
    case TnGenRepresentationMACAddress:
        snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", unsigned(bits >> 40 & 0xFF),
                 unsigned(bits >> 32 & 0xFF), unsigned(bits >> 24 & 0xFF), unsigned(bits >> 16 & 0xFF),
                 unsigned(bits >> 8 & 0xFF), unsigned(bits & 0xFF));
        break;
    default:
        snprintf(text, sizeof(text), "%lld", static_cast<long long>(value));
        break;
    }
    return text;
}

void IntegerBase::FromString(const std::string &aValue)
{
    const std::string text = tn::genicam::Trim(aValue);
    int64_t value = 0;
    unsigned parts[6];
    char tail;
    if (mRepresentation == TnGenRepresentationIPV4Address &&
        sscanf(text.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) == 4)
    {
        value = 0;
        for (int i = 0; i < 4; ++i)
        {
            if (parts[i] > 255)
            {
                Fail(Describe() + ": '" + text + "' is no IPv4 address");
            }
            value = (value << 8) | parts[i];
        }
    }
    else if (mRepresentation == TnGenRepresentationMACAddress &&
             sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x%c", &parts[0], &parts[1], &parts[2], &parts[3], &parts[4],
                    &parts[5], &tail) == 6)
    {
        value = 0;
        for (int i = 0; i < 6; ++i)
        {
            if (parts[i] > 255)
            {
                Fail(Describe() + ": '" + text + "' is no MAC address");
            }
            value = (value << 8) | parts[i];
        }
    }
    else if (!tn::genicam::ParseIntegerText(text, value))
    {
        Fail(Describe() + ": '" + text + "' is not an integer");
    }
    SetInt(value);
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
    double increment = 0;
    if (GetFloatInc(increment) && increment > 0)
    {
        const double steps = (aValue - GetFloatMin()) / increment;
        if (fabs(steps - nearbyint(steps)) > 1e-6)
        {
            Fail(Describe() + ": " + tn::genicam::FormatFloat(aValue) + " does not fit the increment " +
                 tn::genicam::FormatFloat(increment));
        }
    }
}

std::string FloatBase::ToString()
{
    return tn::genicam::FormatFloat(GetFloat());
}

void FloatBase::FromString(const std::string &aValue)
{
    double value = 0;
    if (!tn::genicam::ParseFloatText(aValue, value))
    {
        Fail(Describe() + ": '" + tn::genicam::Trim(aValue) + "' is not a number");
    }
    SetFloat(value);
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
        ValueOrRef<T> value;
        this->ApplyValue(aElement, "ValueIndexed", "pValueIndexed", value);
        mIndexed.mEntries.emplace_back(IndexAttribute(*this, aElement), value);
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
    const int64_t index = this->RefInt(mIndexed.mIndex);
    ValueOrRef<T> *value = FindIndexed(mIndexed, index);
    if (value == nullptr)
    {
        Fail(this->Describe() + " has no value for the index " + std::to_string(index));
    }
    return *value;
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
    INode *target = Current().mRef.mNode;
    if (target != nullptr && IsNumeric(target->GetInterface()))
    {
        DepthGuard guard(this->mMap);
        return aTargetLimit(*target);
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
    const std::initializer_list<InterfaceKind> numeric = {InterfaceKind::Integer, InterfaceKind::Float};
    this->RequireInterface(mValue.mRef, "pValue", aValueKinds);
    this->RequireInterface(mMin.mRef, "pMin", numeric);
    this->RequireInterface(mMax.mRef, "pMax", numeric);
    this->RequireInterface(mInc.mRef, "pInc", numeric);
    this->RequireInterface(mIndexed.mIndex, "pIndex", {InterfaceKind::Integer, InterfaceKind::Enumeration});
    for (auto &entry : mIndexed.mEntries)
    {
        this->RequireInterface(entry.second.mRef, "pValueIndexed", aValueKinds);
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
    INode *target = Current().mRef.mNode;
    if (target != nullptr && target->GetInterface() == InterfaceKind::Integer)
    {
        DepthGuard guard(mMap);
        return target->GetIntInc();
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
    uint8_t data[8];
    const size_t length = mRegister.GetLength(*this);
    mRegister.Read(*this, data, length);
    const uint64_t raw = DecodeUnsigned(data, length, mEndianness);
    return mSign == TnGenSignSigned ? SignExtend(raw, static_cast<int>(8 * length)) : ToInt64(raw);
}

void IntRegNode::SetInt(int64_t aValue)
{
    CheckWrite(aValue);
    uint8_t data[8];
    const size_t length = mRegister.GetLength(*this);
    EncodeUnsigned(static_cast<uint64_t>(aValue), data, length, mEndianness);
    mRegister.Write(*this, data, length);
}

int IntRegNode::GetValueBits()
{
    return static_cast<int>(8 * mRegister.GetLength(*this));
}

int64_t IntRegNode::GetIntMin()
{
    int64_t minimum, maximum;
    Limits(GetValueBits(), mSign, minimum, maximum);
    return minimum;
}

int64_t IntRegNode::GetIntMax()
{
    int64_t minimum, maximum;
    Limits(GetValueBits(), mSign, minimum, maximum);
    return maximum;
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
    const int64_t bits = static_cast<int64_t>(8 * aLength);
    int64_t low = mLsb;
    int64_t high = mMsb;
    if (mEndianness == TnGenEndiannessBig)
    {
        low = bits - 1 - mLsb;
        high = bits - 1 - mMsb;
    }
    if (low > high)
    {
        std::swap(low, high);
    }
    if (low < 0 || high >= bits)
    {
        Fail(Describe() + ": bits " + std::to_string(mLsb) + " to " + std::to_string(mMsb) + " lie outside its " +
             std::to_string(aLength) + " bytes");
    }
    aLow = static_cast<int>(low);
    aHigh = static_cast<int>(high);
}

int64_t MaskedIntRegNode::GetInt()
{
    CheckReadable();
    uint8_t data[8];
    const size_t length = mRegister.GetLength(*this);
    int low, high;
    Bits(length, low, high);
    mRegister.Read(*this, data, length);
    const uint64_t field = (DecodeUnsigned(data, length, mEndianness) >> low) & Mask(high - low + 1);
    return mSign == TnGenSignSigned ? SignExtend(field, high - low + 1) : ToInt64(field);
}

void MaskedIntRegNode::SetInt(int64_t aValue)
{
    CheckWrite(aValue);
    uint8_t data[8] = {0};
    const size_t length = mRegister.GetLength(*this);
    int low, high;
    Bits(length, low, high);
    // The other bits keep their value where the register can be read.
    const Access access = mRegister.GetAccess();
    if (access == Access::RO || access == Access::RW)
    {
        mRegister.Read(*this, data, length);
    }
    const uint64_t mask = Mask(high - low + 1) << low;
    uint64_t raw = DecodeUnsigned(data, length, mEndianness);
    raw = (raw & ~mask) | ((static_cast<uint64_t>(aValue) << low) & mask);
    EncodeUnsigned(raw, data, length, mEndianness);
    mRegister.Write(*this, data, length);
}

int MaskedIntRegNode::GetValueBits()
{
    int low, high;
    Bits(mRegister.GetLength(*this), low, high);
    return high - low + 1;
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
    uint8_t data[8];
    const size_t length = mRegister.GetLength(*this);
    if (length != 4 && length != 8)
    {
        Fail(Describe() + ": a float register holds 4 or 8 bytes, not " + std::to_string(length));
    }
    mRegister.Read(*this, data, length);
    const uint64_t raw = DecodeUnsigned(data, length, mEndianness);
    if (length == 4)
    {
        const uint32_t bits = static_cast<uint32_t>(raw);
        float value;
        memcpy(&value, &bits, sizeof(value));
        return value;
    }
    double value;
    memcpy(&value, &raw, sizeof(value));
    return value;
}

void FloatRegNode::SetFloat(double aValue)
{
    CheckWrite(aValue);
    uint8_t data[8];
    const size_t length = mRegister.GetLength(*this);
    uint64_t raw = 0;
    if (length == 4)
    {
        const float value = static_cast<float>(aValue);
        uint32_t bits;
        memcpy(&bits, &value, sizeof(bits));
        raw = bits;
    }
    else if (length == 8)
    {
        memcpy(&raw, &aValue, sizeof(raw));
    }
    else
    {
        Fail(Describe() + ": a float register holds 4 or 8 bytes, not " + std::to_string(length));
    }
    EncodeUnsigned(raw, data, length, mEndianness);
    mRegister.Write(*this, data, length);
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
        const std::string *entryName = aElement.GetAttribute("Name");
        if (entryName == nullptr || entryName->empty())
        {
            FailDefinition(Describe() + " has an EnumEntry without a Name");
        }
        INode *node = mMap.CreateNode("EnumEntry", "EnumEntry_" + mName + "_" + *entryName);
        EnumEntryNode *entry = static_cast<EnumEntryNode *>(node);
        entry->SetSymbolic(*entryName);
        for (const auto &attribute : aElement.mAttributes)
        {
            if (attribute.first != "Name")
            {
                entry->DefineAttribute(attribute.first, attribute.second);
            }
        }
        for (const Element &child : aElement.mChildren)
        {
            entry->Define(child);
        }
        mEntries.push_back(entry);
        mEntryRefs.emplace_back();
        mEntryRefs.back().mName = entry->GetName();
        return true;
    }
    return IntValueNode::ApplyElement(aElement);
}

EnumEntryNode *EnumerationNode::FindEntry(const std::string &aSymbolic) const
{
    for (EnumEntryNode *entry : mEntries)
    {
        if (entry->GetSymbolic() == aSymbolic)
        {
            return entry;
        }
    }
    return nullptr;
}

EnumEntryNode *EnumerationNode::FindEntry(int64_t aValue) const
{
    for (EnumEntryNode *entry : mEntries)
    {
        if (entry->GetValue() == aValue)
        {
            return entry;
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
    const int64_t value = GetInt();
    EnumEntryNode *entry = FindEntry(value);
    if (entry == nullptr)
    {
        Fail(Describe() + ": the value " + std::to_string(value) + " belongs to none of its entries");
    }
    return entry->GetSymbolic();
}

void EnumerationNode::SetInt(int64_t aValue)
{
    CheckWritable();
    EnumEntryNode *entry = FindEntry(aValue);
    if (entry == nullptr)
    {
        Fail(Describe() + " has no entry with the value " + std::to_string(aValue));
    }
    WriteEntry(*entry);
}

void EnumerationNode::SetString(const std::string &aValue)
{
    CheckWritable();
    EnumEntryNode *entry = FindEntry(aValue);
    if (entry == nullptr)
    {
        Fail(Describe() + " has no entry '" + aValue + "'");
    }
    WriteEntry(*entry);
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
    for (NodeRef &entry : mEntryRefs)
    {
        aReferences.push_back(&entry);
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
    const int64_t value = ValueOf(mValue);
    if (value == mOnValue)
    {
        return true;
    }
    if (value == mOffValue)
    {
        return false;
    }
    Fail(Describe() + ": the value " + std::to_string(value) + " is neither its OnValue " + std::to_string(mOnValue) +
         " nor its OffValue " + std::to_string(mOffValue));
}

void BooleanNode::SetBool(bool aValue)
{
    CheckWritable();
    WriteValue(mValue, aValue ? mOnValue : mOffValue);
}

void BooleanNode::FromString(const std::string &aValue)
{
    std::string text = tn::genicam::Trim(aValue);
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(tolower(c)); });
    if (text == "true" || text == "1")
    {
        SetBool(true);
    }
    else if (text == "false" || text == "0")
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
    const Access access = GetAccess();
    if (access == Access::NI || access == Access::NA)
    {
        CheckWritable();
    }
    INode *target = mValue.mRef.mNode;
    // A command whose register cannot be read is done once written; one that
    // can is done when the device has changed it from the command value.
    if (target == nullptr || !target->IsReadable())
    {
        return true;
    }
    mMap.DropCaches(*target);
    DepthGuard guard(mMap);
    return target->GetInt() != ValueOf(mCommandValue);
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
        DepthGuard guard(mMap);
        return mValueRef.mNode->GetString();
    }
    return mValue;
}

void StringNode::SetString(const std::string &aValue)
{
    CheckWritable();
    if (mValueRef.mNode != nullptr)
    {
        DepthGuard guard(mMap);
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
        DepthGuard guard(mMap);
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
    const size_t length = mRegister.GetLength(*this);
    std::vector<uint8_t> data(length);
    mRegister.Read(*this, data.data(), length);
    const uint8_t *end = static_cast<const uint8_t *>(memchr(data.data(), 0, length));
    return std::string(reinterpret_cast<const char *>(data.data()), end != nullptr ? end - data.data() : length);
}

void StringRegNode::SetString(const std::string &aValue)
{
    CheckWritable();
    const size_t length = mRegister.GetLength(*this);
    if (aValue.size() > length)
    {
        Fail(Describe() + ": the text takes " + std::to_string(aValue.size()) + " bytes, the register only " +
             std::to_string(length));
    }
    std::vector<uint8_t> data(length, 0);
    memcpy(data.data(), aValue.data(), aValue.size());
    mRegister.Write(*this, data.data(), length);
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
    const size_t length = mRegister.GetLength(*this);
    if (aLength > length)
    {
        throw GenApiError(TN_INVALID_PARAMETER, Describe() + " holds " + std::to_string(length) + " bytes, not " +
                                                    std::to_string(aLength));
    }
    std::vector<uint8_t> data(length);
    mRegister.Read(*this, data.data(), length);
    memcpy(aData, data.data(), aLength);
}

void RegisterNode::SetBytes(const uint8_t *aData, size_t aLength)
{
    CheckWritable();
    const size_t length = mRegister.GetLength(*this);
    if (aLength > length)
    {
        throw GenApiError(TN_INVALID_PARAMETER, Describe() + " holds " + std::to_string(length) + " bytes, not " +
                                                    std::to_string(aLength));
    }
    mRegister.Write(*this, aData, aLength);
}

std::string RegisterNode::ToString()
{
    const size_t length = mRegister.GetLength(*this);
    std::vector<uint8_t> data(length);
    GetBytes(data.data(), length);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : data)
    {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

void RegisterNode::FromString(const std::string &aValue)
{
    std::string text = tn::genicam::Trim(aValue);
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    {
        text = text.substr(2);
    }
    if (text.size() % 2 != 0)
    {
        Fail(Describe() + ": '" + aValue + "' is no sequence of hexadecimal bytes");
    }
    std::vector<uint8_t> data;
    for (size_t i = 0; i < text.size(); i += 2)
    {
        if (!isxdigit(static_cast<unsigned char>(text[i])) || !isxdigit(static_cast<unsigned char>(text[i + 1])))
        {
            Fail(Describe() + ": '" + aValue + "' is no sequence of hexadecimal bytes");
        }
        data.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    if (data.size() > mRegister.GetLength(*this))
    {
        Fail(Describe() + ": " + std::to_string(data.size()) + " bytes do not fit into the register");
    }
    SetBytes(data.data(), data.size());
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
    for (NodeRef &ref : mFeatures)
    {
        aFeatures.push_back(&ref);
    }
}

} // namespace TN_GENAPI_NS
