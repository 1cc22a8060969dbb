// Enumeration nodes and their entries.
#include "TnGenApiEnum.h"

namespace TN_GENAPI_NS
{

// --- Enumeration --------------------------------------------------------------

bool EnumEntryNode::ApplyElement(const Element &aElement)
{
    if (aElement.Is("Value"))
    {
        mValue = ParseInteger(aElement);
        return true;
    }
    if (aElement.Is("Symbolic"))
    {
        mSymbolic = aElement.mText;
        return true;
    }
    if (aElement.Is("IsSelfClearing"))
    {
        mSelfClearing = ParseYesNo(aElement);
        return true;
    }
    return INode::ApplyElement(aElement);
}

bool EnumerationNode::ApplyElement(const Element &aElement)
{
    if (aElement.Is("EnumEntry"))
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

int64_t EnumerationNode::GetRawValue()
{
    CheckReadable();
    return ValueOf(mValue);
}

EnumEntryNode &EnumerationNode::CurrentEntry()
{
    const int64_t lValue = GetRawValue();
    EnumEntryNode *lEntry = FindEntry(lValue);
    if (lEntry == nullptr)
    {
        Fail(Describe() + ": the value " + std::to_string(lValue) + " belongs to none of its entries");
    }
    return *lEntry;
}

int64_t EnumerationNode::GetInt()
{
    return CurrentEntry().GetValue();
}

std::string EnumerationNode::GetString()
{
    return CurrentEntry().GetSymbolic();
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
    if (aEntry.IsSelfClearing())
    {
        // The device changes the value back by itself: ask it next time.
        mMap.DropCaches(*this);
    }
}

void EnumerationNode::ScanAccess(AccessScan &aScan)
{
    bool lImplemented = false;
    bool lAvailable = false;
    for (EnumEntryNode *lEntry : mEntries)
    {
        const Access lAccess = lEntry->GetAccess();
        aScan.DependOn(*lEntry);
        lImplemented = lImplemented || lAccess != Access::NI;
        lAvailable = lAvailable || (lAccess != Access::NI && lAccess != Access::NA);
    }
    if (!lImplemented)
    {
        aScan.SetNotImplemented();
    }
    else if (!lAvailable)
    {
        aScan.SetNotAvailable();
    }
    IntValueNode::ScanAccess(aScan);
}

void EnumerationNode::Validate()
{
    std::vector<EnumEntryNode *> lSound;
    for (EnumEntryNode *lEntry : mEntries)
    {
        if (lEntry->IsFaulty())
        {
            Warn("the entry '" + lEntry->GetSymbolic() + "' is left out");
        }
        else
        {
            lSound.push_back(lEntry);
        }
    }
    mEntries.swap(lSound);
    IntValueNode::Validate();
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

} // namespace TN_GENAPI_NS
