// Integer and float nodes: Integer, Float, IntReg, MaskedIntReg, FloatReg,
// and what the other numeric nodes (formulas, converters) build on.
#ifndef TN_GENAPI_NUMBER_H
#define TN_GENAPI_NUMBER_H

#include <stdint.h>

#include <initializer_list>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "TnGenApiNodeMap.h"
#include "TnGenApiRegister.h"

namespace TN_GENAPI_NS
{

/// A double as an integer by the engine's one rounding (nearest, halves away
/// from zero); fails naming aNode for a value beyond 64 bits.
int64_t RoundToInt(const INode &aNode, double aValue);

/// A float limit as an integer limit, rounded inward (a minimum up, a
/// maximum down) so that every integer between the limits lies within the
/// float ones; beyond 64 bits the limit is the 64-bit extreme.
int64_t LimitToInt(double aLimit, bool aMinimum);

/// What the integer and float interfaces share: Unit and Representation.
class NumberBase : public INode
{
public:
    using INode::INode;
    int64_t GetIntInc() override { return 1; }
    TnGenRepresentation GetRepresentation() override { return mRepresentation; }
    std::string GetUnit() override { return mUnit; }

protected:
    bool ApplyElement(const Element &aElement) override;

    TnGenRepresentation mRepresentation = TnGenRepresentationPureNumber;
    std::string mUnit;
};

/// Integer, IntReg, MaskedIntReg, IntSwissKnife, IntConverter: the integer
/// interface.
class IntegerBase : public NumberBase
{
public:
    using NumberBase::NumberBase;
    InterfaceKind GetInterface() const override { return InterfaceKind::Integer; }
    double GetFloat() override { return static_cast<double>(GetInt()); }
    void SetFloat(double aValue) override;
    double GetFloatMin() override { return static_cast<double>(GetIntMin()); }
    double GetFloatMax() override { return static_cast<double>(GetIntMax()); }
    bool GetBool() override { return GetInt() != 0; }
    int64_t GetIntMin() override { return INT64_MIN; }
    int64_t GetIntMax() override { return INT64_MAX; }
    std::string ToString() override;
    void FromString(const std::string &aValue) override;

protected:
    /// Checks access, limits and increment before a write.
    void CheckWrite(int64_t aValue);
};

/// Float, FloatReg, SwissKnife, Converter: the float interface.
class FloatBase : public NumberBase
{
public:
    using NumberBase::NumberBase;
    InterfaceKind GetInterface() const override { return InterfaceKind::Float; }
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override { SetFloat(static_cast<double>(aValue)); }
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    bool GetBool() override { return GetFloat() != 0.0; }
    double GetFloatMin() override { return -std::numeric_limits<double>::max(); }
    double GetFloatMax() override { return std::numeric_limits<double>::max(); }
    /// The increment, when the node has one.
    virtual bool GetFloatInc(double &aIncrement);
    /// The value as DisplayNotation (Automatic, Fixed, Scientific) and
    /// DisplayPrecision (digits, 6 by default) ask when the description
    /// gives either; otherwise the shortest text that reads back as the
    /// same value.
    std::string ToString() override;
    void FromString(const std::string &aValue) override;
    /// The shortest text that reads back as the same value.
    std::string ToExactString();

protected:
    bool ApplyElement(const Element &aElement) override;
    /// Checks access, limits and increment before a write.
    void CheckWrite(double aValue);

private:
    enum class Notation
    {
        Exact,
        Automatic,
        Fixed,
        Scientific
    };
    Notation mNotation = Notation::Exact;
    int mPrecision = 6;
};

/// A value chosen by a selector: pIndex with ValueIndexed / pValueIndexed
/// entries and a ValueDefault / pValueDefault.
template <typename T> struct IndexedValue
{
    NodeRef mIndex;
    std::vector<std::pair<int64_t, ValueOrRef<T>>> mEntries;
    ValueOrRef<T> mDefault;

    bool IsSet() const { return mIndex.IsSet(); }
};

/// What Integer and Float share: a value given as Value / pValue or chosen by
/// pIndex, and limits given as Min / pMin, Max / pMax and Inc / pInc. T is
/// int64_t over IntegerBase or double over FloatBase (TnGenApiValues.cpp).
template <typename T, typename Base> class NumberNode : public Base
{
public:
    using Base::Base;
    INode *GetValueTarget() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;

protected:
    bool ApplyElement(const Element &aElement) override;
    /// The limits, the selector of an indexed value, and the access of the
    /// value it chooses (or of pValue).
    void ScanAccess(AccessScan &aScan) override;
    /// The value, or the indexed value the selector chooses now.
    ValueOrRef<T> &Current();
    T GetValue();
    void SetValue(T aValue);
    T GetMin();
    T GetMax();
    /// Checks the references; pValue, pValueIndexed and pValueDefault may
    /// name nodes of aValueKinds.
    void ValidateNumber(std::initializer_list<InterfaceKind> aValueKinds);

    ValueOrRef<T> mValue;
    IndexedValue<T> mIndexed;
    ValueOrRef<T> mMin;
    ValueOrRef<T> mMax;
    ValueOrRef<T> mInc;

private:
    /// A limit: its own, else the one of the node the value comes from.
    T Limit(const ValueOrRef<T> &aLimit, T (*aTargetLimit)(INode &), T aDefault);
};

extern template class NumberNode<int64_t, IntegerBase>;
extern template class NumberNode<double, FloatBase>;

class IntegerNode : public NumberNode<int64_t, IntegerBase>
{
public:
    IntegerNode(INodeMap &aMap, const std::string &aName) : NumberNode(aMap, NodeKind::Integer, aName) {}
    int64_t GetInt() override { return GetValue(); }
    void SetInt(int64_t aValue) override { SetValue(aValue); }
    int64_t GetIntMin() override { return GetMin(); }
    int64_t GetIntMax() override { return GetMax(); }
    int64_t GetIntInc() override;
    void Validate() override;
};

class FloatNode : public NumberNode<double, FloatBase>
{
public:
    FloatNode(INodeMap &aMap, const std::string &aName) : NumberNode(aMap, NodeKind::Float, aName) {}
    double GetFloat() override { return GetValue(); }
    void SetFloat(double aValue) override { SetValue(aValue); }
    double GetFloatMin() override { return GetMin(); }
    double GetFloatMax() override { return GetMax(); }
    bool GetFloatInc(double &aIncrement) override;
    void Validate() override;
};

class IntRegNode : public WithRegister<IntegerBase>
{
public:
    IntRegNode(INodeMap &aMap, const std::string &aName) : WithRegister(aMap, NodeKind::IntReg, aName) {}
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    void Validate() override;
    RegisterSpec &GetRegister() { return mRegister; }

protected:
    bool ApplyElement(const Element &aElement) override;
    /// The number of bits the value takes.
    virtual int GetValueBits();

    TnGenSign mSign = TnGenSignUnsigned;
    TnGenEndianness mEndianness = TnGenEndiannessLittle;
};

class MaskedIntRegNode : public IntRegNode
{
public:
    MaskedIntRegNode(INodeMap &aMap, const std::string &aName);
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    int GetValueBits() override;

private:
    /// The field's bits counted from the register's least significant bit;
    /// big-endian registers number their bits from the most significant one.
    void Bits(size_t aLength, int &aLow, int &aHigh) const;

    int64_t mLsb = -1;
    int64_t mMsb = -1;
};

class FloatRegNode : public WithRegister<FloatBase>
{
public:
    FloatRegNode(INodeMap &aMap, const std::string &aName) : WithRegister(aMap, NodeKind::FloatReg, aName) {}
    double GetFloat() override;
    void SetFloat(double aValue) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;

private:
    TnGenEndianness mEndianness = TnGenEndiannessLittle;
};

} // namespace TN_GENAPI_NS

#endif
