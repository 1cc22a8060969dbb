// Register placement, reading, writing and caching.
#include "TnGenApiNodeMap.h"
#include "TnGenApiPort.h"
#include "TnGenApiRegister.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

TnGenEndianness ParseEndianness(const INode &aNode, const Element &aElement)
{
    if (aElement.mText != "BigEndian" && aElement.mText != "LittleEndian")
    {
        FailDefinition(aNode.Describe() + ": Endianess '" + aElement.mText + "' is neither BigEndian nor LittleEndian");
    }
    return aElement.mText == "BigEndian" ? TnGenEndiannessBig : TnGenEndiannessLittle;
}

// --- RegisterSpec -----------------------------------------------------------

bool RegisterSpec::Apply(INode &aOwner, const Element &aElement)
{
    const std::string &lName = aElement.mName;
    if (lName == "Address")
    {
        int64_t lAddress = 0;
        if (!tn::genicam::ParseIntegerText(aElement.mText, lAddress))
        {
            FailDefinition(aOwner.GetName() + ": Address '" + aElement.mText + "' is not an integer");
        }
        mAddresses.push_back(lAddress);
    }
    else if (lName == "pAddress")
    {
        mAddressRefs.emplace_back();
        mAddressRefs.back().mName = aElement.mText;
    }
    else if (lName == "IntSwissKnife")
    {
        // An embedded address formula becomes a hidden node of its own.
        const std::string lFormulaName = aOwner.GetName() + "__Address" + std::to_string(mAddressRefs.size());
        INode *lFormula = aOwner.GetNodeMap().CreateNode("IntSwissKnife", lFormulaName);
        lFormula->SetHidden(true);
        for (const Element &lChild : aElement.mChildren)
        {
            lFormula->Define(lChild);
        }
        mAddressRefs.emplace_back();
        mAddressRefs.back().mName = lFormulaName;
    }
    else if (lName == "pIndex")
    {
        Index lIndex;
        lIndex.mIndex.mName = aElement.mText;
        if (const std::string *lOffset = aElement.GetAttribute("Offset"))
        {
            lIndex.mHasOffset = true;
            if (!tn::genicam::ParseIntegerText(*lOffset, lIndex.mOffset))
            {
                FailDefinition(aOwner.GetName() + ": pIndex Offset '" + *lOffset + "' is not an integer");
            }
        }
        else if (const std::string *lOffsetRef = aElement.GetAttribute("pOffset"))
        {
            lIndex.mOffsetRef.mName = *lOffsetRef;
        }
        mIndexes.push_back(lIndex);
    }
    else if (lName == "Length")
    {
        mLength.mHasValue = true;
        if (!tn::genicam::ParseIntegerText(aElement.mText, mLength.mValue))
        {
            FailDefinition(aOwner.GetName() + ": Length '" + aElement.mText + "' is not an integer");
        }
    }
    else if (lName == "pLength")
    {
        mLength.mRef.mName = aElement.mText;
    }
    else if (lName == "AccessMode")
    {
        if (!ParseAccess(aElement.mText, mAccessMode))
        {
            FailDefinition(aOwner.GetName() + ": AccessMode '" + aElement.mText + "' is none of RO, WO, RW");
        }
    }
    else if (lName == "pPort")
    {
        mPort.mName = aElement.mText;
    }
    else if (lName == "Cachable")
    {
        static const std::pair<const char *, TnGenCache> kModes[] = {
            {"NoCache", TnGenCacheNone}, {"WriteThrough", TnGenCacheWriteThrough}, {"WriteAround", TnGenCacheWriteAround}};
        if (!tn::genicam::LookupName(kModes, aElement.mText, mCachable))
        {
            FailDefinition(aOwner.GetName() + ": Cachable '" + aElement.mText + "' is none of NoCache, WriteThrough, WriteAround");
        }
    }
    else
    {
        return false;
    }
    return true;
}

void RegisterSpec::Collect(std::vector<NodeRef *> &aReferences)
{
    for (NodeRef &lRef : mAddressRefs)
    {
        aReferences.push_back(&lRef);
    }
    for (Index &lIndex : mIndexes)
    {
        aReferences.push_back(&lIndex.mIndex);
        if (lIndex.mOffsetRef.IsSet())
        {
            aReferences.push_back(&lIndex.mOffsetRef);
        }
    }
    if (mLength.mRef.IsSet())
    {
        aReferences.push_back(&mLength.mRef);
    }
    if (mPort.IsSet())
    {
        aReferences.push_back(&mPort);
    }
}

void RegisterSpec::Validate(const INode &aOwner, int64_t aMinLength, int64_t aMaxLength)
{
    const std::string lOwner = std::string(aOwner.GetKindName()) + " '" + aOwner.GetName() + "'";
    if (!mPort.IsSet())
    {
        FailDefinition(lOwner + " has no pPort");
    }
    if (mPort.mNode->GetKind() != NodeKind::Port)
    {
        FailDefinition(lOwner + ": pPort names " + mPort.mNode->GetName() + ", which is no Port");
    }
    if (!mLength.IsSet())
    {
        FailDefinition(lOwner + " has no Length");
    }
    if (mLength.mHasValue && !mLength.mRef.IsSet() && (mLength.mValue < aMinLength || mLength.mValue > aMaxLength))
    {
        FailDefinition(lOwner + ": Length " + std::to_string(mLength.mValue) + " is outside " + std::to_string(aMinLength) +
                       " to " + std::to_string(aMaxLength));
    }
    for (NodeRef *lRef : {&mLength.mRef})
    {
        if (lRef->mNode != nullptr && lRef->mNode->GetInterface() != InterfaceKind::Integer)
        {
            FailDefinition(lOwner + ": pLength names " + lRef->mName + ", which is no integer");
        }
    }
    for (const NodeRef &lRef : mAddressRefs)
    {
        if (lRef.mNode->GetInterface() != InterfaceKind::Integer)
        {
            FailDefinition(lOwner + ": pAddress names " + lRef.mName + ", which is no integer");
        }
    }
    for (const Index &lIndex : mIndexes)
    {
        if (lIndex.mIndex.mNode->GetInterface() != InterfaceKind::Integer &&
            lIndex.mIndex.mNode->GetInterface() != InterfaceKind::Enumeration)
        {
            FailDefinition(lOwner + ": pIndex names " + lIndex.mIndex.mName + ", which is no integer");
        }
    }
}

PortNode *RegisterSpec::GetPort() const
{
    return static_cast<PortNode *>(mPort.mNode);
}

uint64_t RegisterSpec::GetAddress(INode &aOwner)
{
    DepthGuard lGuard(aOwner.GetNodeMap());
    uint64_t lAddress = 0;
    for (int64_t lPart : mAddresses)
    {
        lAddress += static_cast<uint64_t>(lPart);
    }
    for (const NodeRef &lRef : mAddressRefs)
    {
        lAddress += static_cast<uint64_t>(lRef.mNode->GetInt());
    }
    for (const Index &lIndex : mIndexes)
    {
        int64_t lOffset = lIndex.mOffset;
        if (!lIndex.mHasOffset)
        {
            lOffset = lIndex.mOffsetRef.mNode != nullptr ? lIndex.mOffsetRef.mNode->GetInt()
                                                        : static_cast<int64_t>(GetLength(aOwner));
        }
        lAddress += static_cast<uint64_t>(lIndex.mIndex.mNode->GetInt()) * static_cast<uint64_t>(lOffset);
    }
    return lAddress;
}

size_t RegisterSpec::GetLength(INode &aOwner)
{
    int64_t lLength = mLength.mValue;
    if (mLength.mRef.mNode != nullptr)
    {
        DepthGuard lGuard(aOwner.GetNodeMap());
        lLength = mLength.mRef.mNode->GetInt();
    }
    // Integer registers take at most 8 bytes; the others are bounded to keep
    // a broken description from allocating without end.
    const int64_t lLimit = aOwner.GetInterface() == InterfaceKind::Integer || aOwner.GetInterface() == InterfaceKind::Float
                              ? 8
                              : (int64_t(1) << 26);
    if (lLength < 1 || lLength > lLimit)
    {
        Fail(aOwner.GetName() + ": register length " + std::to_string(lLength) + " is outside 1 to " + std::to_string(lLimit));
    }
    return static_cast<size_t>(lLength);
}

Access RegisterSpec::GetAccess()
{
    return Combine(mAccessMode, GetPort()->GetAccess());
}

bool RegisterSpec::UsesCache() const
{
    return mCachable != TnGenCacheNone && !GetPort()->IsChunkPort();
}

void RegisterSpec::Read(INode &aOwner, uint8_t *aData, size_t aLength)
{
    const uint64_t lAddress = GetAddress(aOwner);
    PortNode *lPort = GetPort();
    if (UsesCache() && lPort->FindCached(lAddress, aData, aLength))
    {
        return;
    }
    lPort->Read(lAddress, aData, aLength);
    if (UsesCache())
    {
        lPort->StoreCached(lAddress, aData, aLength);
        mHasCachedRange = true;
        mCachedAddress = lAddress;
        mCachedLength = aLength;
    }
}

void RegisterSpec::Write(INode &aOwner, const uint8_t *aData, size_t aLength)
{
    const uint64_t lAddress = GetAddress(aOwner);
    PortNode *lPort = GetPort();
    // Whatever happens, what the cache holds for these bytes is stale now.
    lPort->EraseCached(lAddress, aLength);
    lPort->Write(lAddress, aData, aLength);
    if (mCachable == TnGenCacheWriteThrough && UsesCache() && aLength == GetLength(aOwner))
    {
        lPort->StoreCached(lAddress, aData, aLength);
        mHasCachedRange = true;
        mCachedAddress = lAddress;
        mCachedLength = aLength;
    }
    aOwner.GetNodeMap().NodeChanged(aOwner);
}

bool RegisterSpec::IsCached(INode &aOwner)
{
    return UsesCache() && GetPort()->HasCached(GetAddress(aOwner), GetLength(aOwner));
}

void RegisterSpec::DropCache()
{
    if (mHasCachedRange)
    {
        GetPort()->EraseCached(mCachedAddress, mCachedLength);
        mHasCachedRange = false;
    }
}

} // namespace TN_GENAPI_NS
