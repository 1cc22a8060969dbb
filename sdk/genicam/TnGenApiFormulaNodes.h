// Nodes that compute their value with formulas: IntSwissKnife, SwissKnife,
// Converter and IntConverter.
#ifndef TN_GENAPI_FORMULA_NODES_H
#define TN_GENAPI_FORMULA_NODES_H

#include <stdint.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TnGenApiFormula.h"
#include "TnGenApiNumber.h"

namespace TN_GENAPI_NS
{

/// The variables of a formula node: pVariable, Constant and Expression.
class FormulaVariables
{
public:
    bool Apply(INode &aOwner, const Element &aElement);
    void Collect(std::vector<NodeRef *> &aReferences);
    /// Adds the variables to an access scan.
    void Scan(AccessScan &aScan) const;
    /// Parses aText into aFormula unless it is parsed; FROM and TO are known
    /// when aConverter is set. A syntax error makes aOwner faulty and throws.
    void Prepare(INode &aOwner, tn::genicam::Formula &aFormula, const std::string &aText, bool aConverter);
    /// Evaluates a formula, parsing it first when needed; aInput is the value
    /// of FROM and TO.
    tn::genicam::FormulaValue Evaluate(INode &aOwner, tn::genicam::Formula &aFormula, const std::string &aText,
                                       bool aConverter, bool aIntegerMode, const tn::genicam::FormulaValue *aInput);

private:
    enum class Attribute
    {
        Value,
        Min,
        Max,
        Inc
    };
    struct Variable
    {
        std::string mName;
        NodeRef mRef;
    };
    struct Expression
    {
        std::string mName;
        std::string mText;
        tn::genicam::Formula mFormula;
    };
    struct Use
    {
        int mKind; // 0 variable, 1 constant, 2 expression, 3 input
        size_t mIndex;
        Attribute mAttribute;
    };

    int Lookup(const std::string &aName, bool aConverter);

    std::vector<Variable> mVariables;
    std::vector<std::pair<std::string, tn::genicam::FormulaValue>> mConstants;
    std::vector<std::unique_ptr<Expression>> mExpressions;
    std::vector<Use> mUses;
};

/// IntSwissKnife and SwissKnife: a value computed by a Formula over
/// variables, over the interface of Base (TnGenApiFormulaNodes.cpp).
template <typename Base> class WithFormula : public Base
{
public:
    using Base::Base;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;
    void ParseFormulas() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    /// The variables, and a read-only value.
    void ScanAccess(AccessScan &aScan) override;
    /// The formula's value, computed the integer way when aIntegerMode is set.
    tn::genicam::FormulaValue Evaluate(bool aIntegerMode);

private:
    FormulaVariables mVariables;
    std::string mFormulaText;
    tn::genicam::Formula mFormula;
};

extern template class WithFormula<IntegerBase>;
extern template class WithFormula<FloatBase>;

class IntSwissKnifeNode : public WithFormula<IntegerBase>
{
public:
    IntSwissKnifeNode(INodeMap &aMap, const std::string &aName) : WithFormula(aMap, NodeKind::IntSwissKnife, aName) {}
    int64_t GetInt() override;
};

class SwissKnifeNode : public WithFormula<FloatBase>
{
public:
    SwissKnifeNode(INodeMap &aMap, const std::string &aName) : WithFormula(aMap, NodeKind::SwissKnife, aName) {}
    double GetFloat() override;
};

/// What a converter shares between its float and integer forms.
class ConverterSpec
{
public:
    enum class Slope
    {
        Automatic,
        Increasing,
        Decreasing,
        Varying
    };

    bool Apply(INode &aOwner, const Element &aElement);
    void Collect(std::vector<NodeRef *> &aReferences);
    void Validate(INode &aOwner);
    /// Parses FormulaTo and FormulaFrom (FormulaVariables::Prepare).
    void ParseFormulas(INode &aOwner);
    /// The converter's value: FormulaFrom applied to pValue's value.
    tn::genicam::FormulaValue From(INode &aOwner, bool aIntegerMode);
    /// Writes aValue through FormulaTo to pValue.
    void To(INode &aOwner, const tn::genicam::FormulaValue &aValue, bool aIntegerMode);
    /// The limits: pValue's limits through FormulaFrom.
    void Limits(INode &aOwner, bool aIntegerMode, double &aMin, double &aMax);
    /// For a converter marked IsLinear: pValue's increment through
    /// FormulaFrom (the distance between the converted minimum and the value
    /// one increment above it); false for one that is not linear, or whose
    /// pValue has no increment.
    bool Increment(INode &aOwner, bool aIntegerMode, double &aIncrement);
    /// The variables, and pValue's access.
    void ScanAccess(AccessScan &aScan) const;
    INode *GetTarget() const { return mValue.mNode; }
    /// The pValue node; throws when there is none.
    INode &Target() const;

private:
    FormulaVariables mVariables;
    std::string mToText;
    std::string mFromText;
    tn::genicam::Formula mTo;
    tn::genicam::Formula mFrom;
    NodeRef mValue;
    Slope mSlope = Slope::Automatic;
    bool mLinear = false;
};

/// Converter and IntConverter: a value converted from and to pValue's, over
/// the interface of Base.
template <typename Base> class WithConverter : public Base
{
public:
    using Base::Base;
    INode *GetValueTarget() override { return mConverter.GetTarget(); }
    void CollectReferences(std::vector<NodeRef *> &aReferences) override
    {
        mConverter.Collect(aReferences);
        Base::CollectReferences(aReferences);
    }
    void Validate() override { mConverter.Validate(*this); }
    void ParseFormulas() override { mConverter.ParseFormulas(*this); }

protected:
    bool ApplyElement(const Element &aElement) override
    {
        return mConverter.Apply(*this, aElement) || Base::ApplyElement(aElement);
    }
    void ScanAccess(AccessScan &aScan) override { mConverter.ScanAccess(aScan); }

    ConverterSpec mConverter;
};

class ConverterNode : public WithConverter<FloatBase>
{
public:
    ConverterNode(INodeMap &aMap, const std::string &aName) : WithConverter(aMap, NodeKind::Converter, aName) {}
    double GetFloat() override;
    void SetFloat(double aValue) override;
    double GetFloatMin() override;
    double GetFloatMax() override;
    bool GetFloatInc(double &aIncrement) override;
};

class IntConverterNode : public WithConverter<IntegerBase>
{
public:
    IntConverterNode(INodeMap &aMap, const std::string &aName) : WithConverter(aMap, NodeKind::IntConverter, aName) {}
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    int64_t GetIntInc() override;
};

} // namespace TN_GENAPI_NS

#endif
