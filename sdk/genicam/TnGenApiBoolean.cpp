// Boolean and Command nodes.
#include <ctype.h>

#include <algorithm>

#include "TnGenApiBoolean.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

// --- Boolean ------------------------------------------------------------------

bool BooleanNode::ApplyElement(const Element &aElement)
{
    if (aElement.Is("OnValue"))
    {
        mOnValue = ParseInteger(aElement);
        return true;
    }
    if (aElement.Is("OffValue"))
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
    if (lValue != mOnValue && lValue != mOffValue)
    {
        Fail(Describe() + ": the value " + std::to_string(lValue) + " is neither its OnValue " +
             std::to_string(mOnValue) + " nor its OffValue " + std::to_string(mOffValue));
    }
    return lValue == mOnValue;
}

void BooleanNode::SetBool(bool aValue)
{
    CheckWritable();
    WriteValue(mValue, aValue ? mOnValue : mOffValue);
}

void BooleanNode::FromString(const std::string &aValue)
{
    std::string lText = tn::genicam::Trim(aValue);
    std::transform(lText.begin(), lText.end(), lText.begin(),
                   [](unsigned char aChar) { return static_cast<char>(tolower(aChar)); });
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
    mPending = true;
}

bool CommandNode::IsDone()
{
    const Access lAccess = GetAccess();
    if (lAccess == Access::NI || lAccess == Access::NA)
    {
        CheckWritable();
    }
    INode *lTarget = mValue.mRef.mNode;
    // A command not executed since it was last seen done is done. One whose
    // register cannot be read is done once written; one that can is done
    // when the device has changed it from the command value.
    if (!mPending || lTarget == nullptr || !lTarget->IsReadable())
    {
        mPending = false;
        return true;
    }
    mMap.DropCaches(*lTarget);
    DepthGuard lGuard(mMap);
    mPending = lTarget->GetInt() == ValueOf(mCommandValue);
    return !mPending;
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
    CheckInterface(mValue.mRef, "pValue", {InterfaceKind::Integer});
    CheckInterface(mCommandValue.mRef, "pCommandValue", {InterfaceKind::Integer});
}

} // namespace TN_GENAPI_NS
