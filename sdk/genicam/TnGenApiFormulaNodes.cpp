// SwissKnife and Converter nodes.
#include <math.h>

#include <algorithm>

#include "TnGenApiFormulaNodes.h"
#include "TnGenApiNodeMap.h"
#include "TnGenApiText.h"

using tn::genicam::Formula;
using tn::genicam::FormulaError;
using tn::genicam::FormulaValue;

namespace TN_GENAPI_NS
{

namespace
{
const std::string &RequireName(const INode &aOwner, const Element &aElement)
{
    const std::string *lName = aElement.GetAttribute("Name");
    if (lName == nullptr || lName->empty())
    {
        FailDefinition(std::string(aOwner.GetKindName()) + " '" + aOwner.GetName() + "': " + aElement.mName +
                       " without a Name");
    }
    return *lName;
}

// A node's value as a formula reads it: a float node's as a double, except
// in integer mode, where every input is an integer (a float rounded).
FormulaValue NodeValue(INode &aNode, bool aIntegerMode)
{
    if (!aIntegerMode && aNode.GetInterface() == InterfaceKind::Float)
    {
        return FormulaValue::FromFloat(aNode.GetFloat());
    }
    return FormulaValue::FromInteger(aNode.GetInt());
}

int64_t ResultInt(const INode &aOwner, const FormulaValue &aValue)
{
    try
    {
        return aValue.AsInteger();
    }
    catch (const FormulaError &lError)
    {
        Fail(std::string(aOwner.GetKindName()) + " '" + aOwner.GetName() + "': " + lError.what());
    }
}
} // namespace

// --- Variables ------------------------------------------------------------------

bool FormulaVariables::Apply(INode &aOwner, const Element &aElement)
{
    if (aElement.Is("pVariable"))
    {
        Variable lVariable;
        lVariable.mName = RequireName(aOwner, aElement);
        lVariable.mRef.mName = aElement.mText;
        if (lVariable.mRef.mName.empty())
        {
            FailDefinition(aOwner.GetName() + ": pVariable " + lVariable.mName + " names no node");
        }
        mVariables.push_back(lVariable);
        return true;
    }
    if (aElement.Is("Constant"))
    {
        const std::string &lName = RequireName(aOwner, aElement);
        int64_t lInteger = 0;
        double lNumber = 0;
        if (tn::genicam::ParseIntegerText(aElement.mText, lInteger))
        {
            mConstants.emplace_back(lName, FormulaValue::FromInteger(lInteger));
        }
        else if (tn::genicam::ParseFloatText(aElement.mText, lNumber))
        {
            mConstants.emplace_back(lName, FormulaValue::FromFloat(lNumber));
        }
        else
        {
            FailDefinition(aOwner.GetName() + ": Constant " + lName + " '" + aElement.mText + "' is not a number");
        }
        return true;
    }
    if (aElement.Is("Expression"))
    {
        std::unique_ptr<Expression> lExpression(new Expression);
        lExpression->mName = RequireName(aOwner, aElement);
        lExpression->mText = aElement.mText;
        mExpressions.push_back(std::move(lExpression));
        return true;
    }
    return false;
}

void FormulaVariables::Scan(AccessScan &aScan) const
{
    for (const Variable &lVariable : mVariables)
    {
        aScan.Input(lVariable.mRef);
    }
}

void FormulaVariables::Collect(std::vector<NodeRef *> &aReferences)
{
    for (Variable &lVariable : mVariables)
    {
        aReferences.push_back(&lVariable.mRef);
    }
}

int FormulaVariables::Lookup(const std::string &aName, bool aConverter)
{
    Use lUse{-1, 0, Attribute::Value};
    for (size_t lIndex = 0; lIndex < mVariables.size() && lUse.mKind < 0; ++lIndex)
    {
        const std::string &lName = mVariables[lIndex].mName;
        if (aName == lName)
        {
            lUse = Use{0, lIndex, Attribute::Value};
        }
        else if (aName.size() > lName.size() && aName.compare(0, lName.size(), lName) == 0 &&
                 aName[lName.size()] == '.')
        {
            const std::string lSuffix = aName.substr(lName.size() + 1);
            if (lSuffix == "Value")
            {
                lUse = Use{0, lIndex, Attribute::Value};
            }
            else if (lSuffix == "Min")
            {
                lUse = Use{0, lIndex, Attribute::Min};
            }
            else if (lSuffix == "Max")
            {
                lUse = Use{0, lIndex, Attribute::Max};
            }
            else if (lSuffix == "Inc")
            {
                lUse = Use{0, lIndex, Attribute::Inc};
            }
        }
    }
    for (size_t lIndex = 0; lIndex < mConstants.size() && lUse.mKind < 0; ++lIndex)
    {
        if (aName == mConstants[lIndex].first)
        {
            lUse = Use{1, lIndex, Attribute::Value};
        }
    }
    for (size_t lIndex = 0; lIndex < mExpressions.size() && lUse.mKind < 0; ++lIndex)
    {
        if (aName == mExpressions[lIndex]->mName)
        {
            lUse = Use{2, lIndex, Attribute::Value};
        }
    }
    if (lUse.mKind < 0 && aConverter && (aName == "FROM" || aName == "TO"))
    {
        lUse = Use{3, 0, Attribute::Value};
    }
    if (lUse.mKind < 0)
    {
        return -1;
    }
    mUses.push_back(lUse);
    return static_cast<int>(mUses.size() - 1);
}

void FormulaVariables::Prepare(INode &aOwner, Formula &aFormula, const std::string &aText, bool aConverter)
{
    if (aFormula.IsParsed())
    {
        return;
    }
    const Formula::Lookup lLookup = [&](const std::string &aName) { return Lookup(aName, aConverter); };
    try
    {
        for (auto &lExpression : mExpressions)
        {
            if (!lExpression->mFormula.IsParsed())
            {
                lExpression->mFormula.Parse(lExpression->mText, lLookup);
            }
        }
        aFormula.Parse(aText, lLookup);
    }
    catch (const FormulaError &lError)
    {
        // A formula that does not parse leaves its node faulty for good.
        aOwner.MarkFaulty(aOwner.Describe() + ": " + lError.what());
        throw GenApiError(TN_GENICAM_XML_ERROR, aOwner.GetFault());
    }
}

FormulaValue FormulaVariables::Evaluate(INode &aOwner, Formula &aFormula, const std::string &aText, bool aConverter,
                                        bool aIntegerMode, const FormulaValue *aInput)
{
    Prepare(aOwner, aFormula, aText, aConverter);
    INodeMap &lMap = aOwner.GetNodeMap();
    // Each variable, limit and expression is read once per evaluation, however
    // often the formula names it.
    struct Memo
    {
        FormulaValue mValue;
        bool mSet = false;
    };
    const size_t lSlots = 4 * mVariables.size() + mExpressions.size();
    Memo lLocal[16];
    std::vector<Memo> lHeap;
    Memo *lMemo = lLocal;
    if (lSlots > 16)
    {
        lHeap.resize(lSlots);
        lMemo = lHeap.data();
    }
    Formula::Resolver lResolver = [&](int aVariable) -> FormulaValue {
        const Use &lUse = mUses.at(static_cast<size_t>(aVariable));
        if (lUse.mKind == 1)
        {
            return mConstants[lUse.mIndex].second;
        }
        if (lUse.mKind == 3)
        {
            if (aInput == nullptr)
            {
                Fail(aOwner.Describe() + ": a formula variable has no value");
            }
            return *aInput;
        }
        Memo &lSlot = lUse.mKind == 0 ? lMemo[4 * lUse.mIndex + static_cast<size_t>(lUse.mAttribute)]
                                      : lMemo[4 * mVariables.size() + lUse.mIndex];
        if (lSlot.mSet)
        {
            return lSlot.mValue;
        }
        DepthGuard lGuard(lMap);
        if (lUse.mKind == 2)
        {
            lSlot.mValue = mExpressions[lUse.mIndex]->mFormula.Evaluate(lResolver, aIntegerMode);
        }
        else
        {
            INode &lNode = *mVariables[lUse.mIndex].mRef.mNode;
            const bool lIsFloat = !aIntegerMode && lNode.GetInterface() == InterfaceKind::Float;
            switch (lUse.mAttribute)
            {
            case Attribute::Value:
                lSlot.mValue = NodeValue(lNode, aIntegerMode);
                break;
            case Attribute::Min:
                lSlot.mValue = lIsFloat ? FormulaValue::FromFloat(lNode.GetFloatMin())
                                        : FormulaValue::FromInteger(lNode.GetIntMin());
                break;
            case Attribute::Max:
                lSlot.mValue = lIsFloat ? FormulaValue::FromFloat(lNode.GetFloatMax())
                                        : FormulaValue::FromInteger(lNode.GetIntMax());
                break;
            case Attribute::Inc:
                lSlot.mValue = FormulaValue::FromInteger(lNode.GetIntInc());
                break;
            }
        }
        lSlot.mSet = true;
        return lSlot.mValue;
    };
    try
    {
        return aFormula.Evaluate(lResolver, aIntegerMode);
    }
    catch (const FormulaError &lError)
    {
        Fail(aOwner.Describe() + ": " + lError.what());
    }
}

// --- SwissKnife -------------------------------------------------------------------

template <typename Base> bool WithFormula<Base>::ApplyElement(const Element &aElement)
{
    if (mVariables.Apply(*this, aElement))
    {
        return true;
    }
    if (aElement.Is("Formula"))
    {
        mFormulaText = aElement.mText;
        return true;
    }
    return Base::ApplyElement(aElement);
}

template <typename Base> FormulaValue WithFormula<Base>::Evaluate(bool aIntegerMode)
{
    return mVariables.Evaluate(*this, mFormula, mFormulaText, false, aIntegerMode, nullptr);
}

template <typename Base> void WithFormula<Base>::ScanAccess(AccessScan &aScan)
{
    mVariables.Scan(aScan);
    aScan.Value(Access::RO);
}

template <typename Base> void WithFormula<Base>::CollectReferences(std::vector<NodeRef *> &aReferences)
{
    mVariables.Collect(aReferences);
    Base::CollectReferences(aReferences);
}

template <typename Base> void WithFormula<Base>::Validate()
{
    // The formula is parsed when it is first evaluated.
    if (mFormulaText.empty())
    {
        FailDefinition(this->Describe() + " has no Formula");
    }
}

template <typename Base> void WithFormula<Base>::ParseFormulas()
{
    mVariables.Prepare(*this, mFormula, mFormulaText, false);
}

template class WithFormula<IntegerBase>;
template class WithFormula<FloatBase>;

int64_t IntSwissKnifeNode::GetInt()
{
    CheckReadable();
    return ResultInt(*this, Evaluate(true));
}

double SwissKnifeNode::GetFloat()
{
    CheckReadable();
    return Evaluate(false).AsFloat();
}

// --- Converter ----------------------------------------------------------------------

bool ConverterSpec::Apply(INode &aOwner, const Element &aElement)
{
    if (mVariables.Apply(aOwner, aElement))
    {
        return true;
    }
    if (aElement.Is("FormulaTo"))
    {
        mToText = aElement.mText;
    }
    else if (aElement.Is("FormulaFrom"))
    {
        mFromText = aElement.mText;
    }
    else if (aElement.Is("IsLinear"))
    {
        mLinear = aOwner.ParseYesNo(aElement);
    }
    else if (aElement.Is("pValue"))
    {
        mValue.mName = aElement.mText;
    }
    else if (aElement.Is("Slope"))
    {
        static const std::pair<const char *, Slope> kSlopes[] = {{"Automatic", Slope::Automatic},
                                                                 {"Increasing", Slope::Increasing},
                                                                 {"Decreasing", Slope::Decreasing},
                                                                 {"Varying", Slope::Varying}};
        if (!tn::genicam::LookupName(kSlopes, aElement.mText, mSlope))
        {
            FailDefinition(aOwner.Describe() + ": unknown Slope '" + aElement.mText + "'");
        }
    }
    else
    {
        return false;
    }
    return true;
}

void ConverterSpec::Collect(std::vector<NodeRef *> &aReferences)
{
    mVariables.Collect(aReferences);
    if (mValue.IsSet())
    {
        aReferences.push_back(&mValue);
    }
}

void ConverterSpec::Validate(INode &aOwner)
{
    if (!mValue.IsSet())
    {
        FailDefinition(aOwner.Describe() + " has no pValue");
    }
    aOwner.CheckInterface(
        mValue, "pValue",
        {InterfaceKind::Integer, InterfaceKind::Float, InterfaceKind::Enumeration, InterfaceKind::Boolean});
    if (mToText.empty() || mFromText.empty())
    {
        FailDefinition(aOwner.Describe() + " needs FormulaTo and FormulaFrom");
    }
}

void ConverterSpec::ParseFormulas(INode &aOwner)
{
    mVariables.Prepare(aOwner, mTo, mToText, true);
    mVariables.Prepare(aOwner, mFrom, mFromText, true);
}

FormulaValue ConverterSpec::From(INode &aOwner, bool aIntegerMode)
{
    FormulaValue lInput;
    {
        DepthGuard lGuard(aOwner.GetNodeMap());
        lInput = NodeValue(Target(), aIntegerMode);
    }
    return mVariables.Evaluate(aOwner, mFrom, mFromText, true, aIntegerMode, &lInput);
}

void ConverterSpec::To(INode &aOwner, const FormulaValue &aValue, bool aIntegerMode)
{
    const FormulaValue lResult = mVariables.Evaluate(aOwner, mTo, mToText, true, aIntegerMode, &aValue);
    DepthGuard lGuard(aOwner.GetNodeMap());
    if (Target().GetInterface() == InterfaceKind::Float)
    {
        Target().SetFloat(lResult.AsFloat());
    }
    else if (lResult.mIsInteger)
    {
        Target().SetInt(lResult.mInteger);
    }
    else
    {
        Target().SetInt(RoundToInt(aOwner, lResult.mFloat));
    }
}

void ConverterSpec::Limits(INode &aOwner, bool aIntegerMode, double &aMin, double &aMax)
{
    FormulaValue lLow;
    FormulaValue lHigh;
    {
        DepthGuard lGuard(aOwner.GetNodeMap());
        INode &lTarget = Target();
        if (lTarget.GetInterface() == InterfaceKind::Float)
        {
            lLow = FormulaValue::FromFloat(lTarget.GetFloatMin());
            lHigh = FormulaValue::FromFloat(lTarget.GetFloatMax());
        }
        else
        {
            lLow = FormulaValue::FromInteger(lTarget.GetIntMin());
            lHigh = FormulaValue::FromInteger(lTarget.GetIntMax());
        }
    }
    const double lLeft = mVariables.Evaluate(aOwner, mFrom, mFromText, true, aIntegerMode, &lLow).AsFloat();
    const double lRight = mVariables.Evaluate(aOwner, mFrom, mFromText, true, aIntegerMode, &lHigh).AsFloat();
    switch (mSlope)
    {
    case Slope::Increasing:
        aMin = lLeft;
        aMax = lRight;
        break;
    case Slope::Decreasing:
        aMin = lRight;
        aMax = lLeft;
        break;
    default:
        aMin = std::min(lLeft, lRight);
        aMax = std::max(lLeft, lRight);
        break;
    }
}

bool ConverterSpec::Increment(INode &aOwner, bool aIntegerMode, double &aIncrement)
{
    if (!mLinear)
    {
        return false;
    }
    FormulaValue lLow;
    FormulaValue lStep;
    {
        DepthGuard lGuard(aOwner.GetNodeMap());
        INode &lTarget = Target();
        if (lTarget.GetInterface() == InterfaceKind::Float)
        {
            double lIncrement = 0;
            if (!static_cast<FloatBase &>(lTarget).GetFloatInc(lIncrement) || !(lIncrement > 0))
            {
                return false;
            }
            const double lMinimum = lTarget.GetFloatMin();
            lLow = FormulaValue::FromFloat(lMinimum);
            lStep = FormulaValue::FromFloat(lMinimum + lIncrement);
        }
        else
        {
            const int64_t lMinimum = lTarget.GetIntMin();
            const int64_t lIncrement = lTarget.GetIntInc();
            lLow = FormulaValue::FromInteger(lMinimum);
            lStep = FormulaValue::FromInteger(lMinimum + lIncrement);
        }
    }
    const double lFirst = mVariables.Evaluate(aOwner, mFrom, mFromText, true, aIntegerMode, &lLow).AsFloat();
    const double lSecond = mVariables.Evaluate(aOwner, mFrom, mFromText, true, aIntegerMode, &lStep).AsFloat();
    aIncrement = fabs(lSecond - lFirst);
    return aIncrement > 0;
}

void ConverterSpec::ScanAccess(AccessScan &aScan) const
{
    mVariables.Scan(aScan);
    if (mValue.mNode == nullptr)
    {
        throw GenApiError(TN_GENICAM_XML_ERROR, "the converter has no pValue");
    }
    aScan.Value(mValue);
}

INode &ConverterSpec::Target() const
{
    if (mValue.mNode == nullptr)
    {
        throw GenApiError(TN_GENICAM_XML_ERROR, "the converter has no pValue");
    }
    return *mValue.mNode;
}

double ConverterNode::GetFloat()
{
    CheckReadable();
    return mConverter.From(*this, false).AsFloat();
}

void ConverterNode::SetFloat(double aValue)
{
    // The limits are pValue's, checked there on the converted value.
    CheckWritable();
    if (aValue != aValue)
    {
        Fail(Describe() + ": the value is not a number");
    }
    mConverter.To(*this, FormulaValue::FromFloat(aValue), false);
}

double ConverterNode::GetFloatMin()
{
    double lMinimum, lMaximum;
    mConverter.Limits(*this, false, lMinimum, lMaximum);
    return lMinimum;
}

double ConverterNode::GetFloatMax()
{
    double lMinimum, lMaximum;
    mConverter.Limits(*this, false, lMinimum, lMaximum);
    return lMaximum;
}

int64_t IntConverterNode::GetInt()
{
    CheckReadable();
    return ResultInt(*this, mConverter.From(*this, true));
}

void IntConverterNode::SetInt(int64_t aValue)
{
    CheckWritable();
    mConverter.To(*this, FormulaValue::FromInteger(aValue), true);
}

bool ConverterNode::GetFloatInc(double &aIncrement)
{
    return mConverter.Increment(*this, false, aIncrement);
}

int64_t IntConverterNode::GetIntInc()
{
    double lIncrement = 0;
    if (!mConverter.Increment(*this, true, lIncrement))
    {
        return 1;
    }
    const int64_t lSteps = RoundToInt(*this, lIncrement);
    return lSteps > 0 ? lSteps : 1;
}

int64_t IntConverterNode::GetIntMin()
{
    double lMinimum, lMaximum;
    mConverter.Limits(*this, true, lMinimum, lMaximum);
    return LimitToInt(lMinimum, true);
}

int64_t IntConverterNode::GetIntMax()
{
    double lMinimum, lMaximum;
    mConverter.Limits(*this, true, lMinimum, lMaximum);
    return LimitToInt(lMaximum, false);
}

} // namespace TN_GENAPI_NS
