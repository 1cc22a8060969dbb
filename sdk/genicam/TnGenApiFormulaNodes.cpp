// SwissKnife and Converter nodes.
#include <math.h>

#include <algorithm>

#include "TnGenApi.h"
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
    const std::string *name = aElement.GetAttribute("Name");
    if (name == nullptr || name->empty())
    {
        FailDefinition(std::string(aOwner.GetKindName()) + " '" + aOwner.GetName() + "': " + aElement.mName +
                       " without a Name");
    }
    return *name;
}

FormulaValue NodeValue(INode &aNode)
{
    if (aNode.GetInterface() == InterfaceKind::Float)
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
    catch (const FormulaError &error)
    {
        Fail(std::string(aOwner.GetKindName()) + " '" + aOwner.GetName() + "': " + error.what());
    }
}
} // namespace

// --- Variables ------------------------------------------------------------------

bool FormulaVariables::Apply(INode &aOwner, const Element &aElement)
{
    if (aElement.mName == "pVariable")
    {
        Variable variable;
        variable.mName = RequireName(aOwner, aElement);
        variable.mRef.mName = aElement.mText;
        if (variable.mRef.mName.empty())
        {
            FailDefinition(aOwner.GetName() + ": pVariable " + variable.mName + " names no node");
        }
        mVariables.push_back(variable);
        return true;
    }
    if (aElement.mName == "Constant")
    {
        const std::string &name = RequireName(aOwner, aElement);
        int64_t integer = 0;
        double number = 0;
        if (tn::genicam::ParseIntegerText(aElement.mText, integer))
        {
            mConstants.emplace_back(name, FormulaValue::FromInteger(integer));
        }
        else if (tn::genicam::ParseFloatText(aElement.mText, number))
        {
            mConstants.emplace_back(name, FormulaValue::FromFloat(number));
        }
        else
        {
            FailDefinition(aOwner.GetName() + ": Constant " + name + " '" + aElement.mText + "' is not a number");
        }
        return true;
    }
    if (aElement.mName == "Expression")
    {
        std::unique_ptr<Expression> expression(new Expression);
        expression->mName = RequireName(aOwner, aElement);
        expression->mText = aElement.mText;
        mExpressions.push_back(std::move(expression));
        return true;
    }
    return false;
}

void FormulaVariables::Collect(std::vector<NodeRef *> &aReferences)
{
    for (Variable &variable : mVariables)
    {
        aReferences.push_back(&variable.mRef);
    }
}

int FormulaVariables::Lookup(const std::string &aName, bool aConverter)
{
    Use use{-1, 0, Attribute::Value};
    for (size_t i = 0; i < mVariables.size() && use.mKind < 0; ++i)
    {
        const std::string &name = mVariables[i].mName;
        if (aName == name)
        {
            use = Use{0, i, Attribute::Value};
        }
        else if (aName.size() > name.size() && aName.compare(0, name.size(), name) == 0 && aName[name.size()] == '.')
        {
            const std::string suffix = aName.substr(name.size() + 1);
            if (suffix == "Value")
            {
                use = Use{0, i, Attribute::Value};
            }
            else if (suffix == "Min")
            {
                use = Use{0, i, Attribute::Min};
            }
            else if (suffix == "Max")
            {
                use = Use{0, i, Attribute::Max};
            }
            else if (suffix == "Inc")
            {
                use = Use{0, i, Attribute::Inc};
            }
        }
    }
    for (size_t i = 0; i < mConstants.size() && use.mKind < 0; ++i)
    {
        if (aName == mConstants[i].first)
        {
            use = Use{1, i, Attribute::Value};
        }
    }
    for (size_t i = 0; i < mExpressions.size() && use.mKind < 0; ++i)
    {
        if (aName == mExpressions[i]->mName)
        {
            use = Use{2, i, Attribute::Value};
        }
    }
    if (use.mKind < 0 && aConverter && (aName == "FROM" || aName == "TO"))
    {
        use = Use{3, 0, Attribute::Value};
    }
    if (use.mKind < 0)
    {
        return -1;
    }
    mUses.push_back(use);
    return static_cast<int>(mUses.size() - 1);
}

void FormulaVariables::Parse(INode &aOwner, Formula &aFormula, const std::string &aText, bool aConverter)
{
    const Formula::Lookup lookup = [&](const std::string &aName) { return Lookup(aName, aConverter); };
    try
    {
        for (auto &expression : mExpressions)
        {
            if (!expression->mFormula.IsParsed())
            {
                expression->mFormula.Parse(expression->mText, lookup);
            }
        }
        aFormula.Parse(aText, lookup);
    }
    catch (const FormulaError &error)
    {
        FailDefinition(aOwner.Describe() + ": " + error.what());
    }
}

FormulaValue FormulaVariables::Evaluate(INode &aOwner, const Formula &aFormula, bool aIntegerMode,
                                        const FormulaValue *aInput)
{
    INodeMap &map = aOwner.GetNodeMap();
    Formula::Resolver resolver = [&](int aVariable) -> FormulaValue {
        DepthGuard guard(map);
        const Use &use = mUses.at(static_cast<size_t>(aVariable));
        switch (use.mKind)
        {
        case 0:
        {
            INode &node = *mVariables[use.mIndex].mRef.mNode;
            const bool isFloat = node.GetInterface() == InterfaceKind::Float;
            switch (use.mAttribute)
            {
            case Attribute::Value:
                return NodeValue(node);
            case Attribute::Min:
                return isFloat ? FormulaValue::FromFloat(node.GetFloatMin()) : FormulaValue::FromInteger(node.GetIntMin());
            case Attribute::Max:
                return isFloat ? FormulaValue::FromFloat(node.GetFloatMax()) : FormulaValue::FromInteger(node.GetIntMax());
            case Attribute::Inc:
                return FormulaValue::FromInteger(node.GetIntInc());
            }
            break;
        }
        case 1:
            return mConstants[use.mIndex].second;
        case 2:
            return mExpressions[use.mIndex]->mFormula.Evaluate(resolver, aIntegerMode);
        case 3:
            if (aInput != nullptr)
            {
                return *aInput;
            }
            break;
        }
        Fail(aOwner.Describe() + ": a formula variable has no value");
    };
    try
    {
        return aFormula.Evaluate(resolver, aIntegerMode);
    }
    catch (const FormulaError &error)
    {
        Fail(aOwner.Describe() + ": " + error.what());
    }
}

// --- SwissKnife -------------------------------------------------------------------

template <typename Base> bool WithFormula<Base>::ApplyElement(const Element &aElement)
{
    if (mVariables.Apply(*this, aElement))
    {
        return true;
    }
    if (aElement.mName == "Formula")
    {
        mFormulaText = aElement.mText;
        return true;
    }
    return Base::ApplyElement(aElement);
}

template <typename Base> FormulaValue WithFormula<Base>::Evaluate(bool aIntegerMode)
{
    return mVariables.Evaluate(*this, mFormula, aIntegerMode, nullptr);
}

template <typename Base> void WithFormula<Base>::CollectReferences(std::vector<NodeRef *> &aReferences)
{
    mVariables.Collect(aReferences);
    Base::CollectReferences(aReferences);
}

template <typename Base> void WithFormula<Base>::Validate()
{
    if (mFormulaText.empty())
    {
        FailDefinition(this->Describe() + " has no Formula");
    }
    if (!mFormula.IsParsed())
    {
        mVariables.Parse(*this, mFormula, mFormulaText, false);
    }
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
    const std::string &name = aElement.mName;
    if (name == "FormulaTo")
    {
        mToText = aElement.mText;
    }
    else if (name == "FormulaFrom")
    {
        mFromText = aElement.mText;
    }
    else if (name == "pValue")
    {
        mValue.mName = aElement.mText;
    }
    else if (name == "Slope")
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
    const InterfaceKind kind = mValue.mNode->GetInterface();
    if (kind != InterfaceKind::Integer && kind != InterfaceKind::Float)
    {
        FailDefinition(aOwner.Describe() + ": pValue names " + mValue.mNode->Describe() + ", which is no number");
    }
    if (mToText.empty() || mFromText.empty())
    {
        FailDefinition(aOwner.Describe() + " needs FormulaTo and FormulaFrom");
    }
    if (!mTo.IsParsed())
    {
        mVariables.Parse(aOwner, mTo, mToText, true);
    }
    if (!mFrom.IsParsed())
    {
        mVariables.Parse(aOwner, mFrom, mFromText, true);
    }
}

FormulaValue ConverterSpec::From(INode &aOwner, bool aIntegerMode)
{
    FormulaValue input;
    {
        DepthGuard guard(aOwner.GetNodeMap());
        input = NodeValue(*mValue.mNode);
    }
    return mVariables.Evaluate(aOwner, mFrom, aIntegerMode, &input);
}

void ConverterSpec::To(INode &aOwner, const FormulaValue &aValue, bool aIntegerMode)
{
    const FormulaValue result = mVariables.Evaluate(aOwner, mTo, aIntegerMode, &aValue);
    DepthGuard guard(aOwner.GetNodeMap());
    if (mValue.mNode->GetInterface() == InterfaceKind::Float)
    {
        mValue.mNode->SetFloat(result.AsFloat());
    }
    else if (result.mIsInteger)
    {
        mValue.mNode->SetInt(result.mInteger);
    }
    else
    {
        const double value = result.mFloat;
        if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
        {
            Fail(aOwner.Describe() + ": " + tn::genicam::FormatFloat(value) + " does not convert to an integer");
        }
        mValue.mNode->SetInt(static_cast<int64_t>(llround(value)));
    }
}

void ConverterSpec::Limits(INode &aOwner, bool aIntegerMode, double &aMin, double &aMax)
{
    FormulaValue low;
    FormulaValue high;
    {
        DepthGuard guard(aOwner.GetNodeMap());
        INode &target = *mValue.mNode;
        if (target.GetInterface() == InterfaceKind::Float)
        {
            low = FormulaValue::FromFloat(target.GetFloatMin());
            high = FormulaValue::FromFloat(target.GetFloatMax());
        }
        else
        {
            low = FormulaValue::FromInteger(target.GetIntMin());
            high = FormulaValue::FromInteger(target.GetIntMax());
        }
    }
    const double a = mVariables.Evaluate(aOwner, mFrom, aIntegerMode, &low).AsFloat();
    const double b = mVariables.Evaluate(aOwner, mFrom, aIntegerMode, &high).AsFloat();
    switch (mSlope)
    {
    case Slope::Increasing:
        aMin = a;
        aMax = b;
        break;
    case Slope::Decreasing:
        aMin = b;
        aMax = a;
        break;
    default:
        aMin = std::min(a, b);
        aMax = std::max(a, b);
        break;
    }
}

Access ConverterSpec::GetAccess()
{
    return mValue.mNode->GetAccess();
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
    double minimum, maximum;
    mConverter.Limits(*this, false, minimum, maximum);
    return minimum;
}

double ConverterNode::GetFloatMax()
{
    double minimum, maximum;
    mConverter.Limits(*this, false, minimum, maximum);
    return maximum;
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

int64_t IntConverterNode::GetIntMin()
{
    double minimum, maximum;
    mConverter.Limits(*this, true, minimum, maximum);
    if (minimum != minimum || minimum <= -9223372036854775808.0)
    {
        return INT64_MIN;
    }
    return minimum >= 9223372036854775807.0 ? INT64_MAX : static_cast<int64_t>(ceil(minimum - 1e-9));
}

int64_t IntConverterNode::GetIntMax()
{
    double minimum, maximum;
    mConverter.Limits(*this, true, minimum, maximum);
    if (maximum != maximum || maximum >= 9223372036854775807.0)
    {
        return INT64_MAX;
    }
    return maximum <= -9223372036854775808.0 ? INT64_MIN : static_cast<int64_t>(floor(maximum + 1e-9));
}

} // namespace TN_GENAPI_NS
