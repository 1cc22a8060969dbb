// Register placement, reading, writing and caching.
#include "TnGenApiRegister.h"
#include "TnGenApiNodeMap.h"
#include "TnGenApiPort.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

namespace
{
// The name a reference element gives; fails for an empty one.
std::string RefName(const INode &aOwner, const std::string &aWhat, const std::string &aText)
{
    if (aText.empty())
    {
        FailDefinition(aOwner.Describe() + ": " + aWhat + " names no node");
    }
    return aText;
}
} // namespace

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
    if (aElement.Is("Address"))
    {
        int64_t lAddress = 0;
        if (!tn::genicam::ParseIntegerText(aElement.mText, lAddress))
        {
            FailDefinition(aOwner.Describe() + ": Address '" + aElement.mText + "' is not an integer");
        }
        mAddresses.push_back(lAddress);
    }
    else if (aElement.Is("pAddress"))
    {
        NodeRef lRef;
        lRef.mName = RefName(aOwner, lName, aElement.mText);
        mAddressRefs.push_back(lRef);
    }
    else if (aElement.Is("IntSwissKnife"))
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
    else if (aElement.Is("pIndex"))
    {
        Index lIndex;
        lIndex.mIndex.mName = RefName(aOwner, lName, aElement.mText);
        if (const std::string *lOffset = aElement.GetAttribute("Offset"))
        {
            lIndex.mHasOffset = true;
            if (!tn::genicam::ParseIntegerText(*lOffset, lIndex.mOffset))
            {
                FailDefinition(aOwner.Describe() + ": pIndex Offset '" + *lOffset + "' is not an integer");
            }
        }
        else if (const std::string *lOffsetRef = aElement.GetAttribute("pOffset"))
        {
            lIndex.mOffsetRef.mName = RefName(aOwner, "pIndex pOffset", *lOffsetRef);
        }
        mIndexes.push_back(lIndex);
    }
    else if (aElement.Is("Length"))
    {
        int64_t lLength = 0;
        if (!tn::genicam::ParseIntegerText(aElement.mText, lLength))
        {
            FailDefinition(aOwner.Describe() + ": Length '" + aElement.mText + "' is not an integer");
        }
        mLength.mValue = lLength;
        mLength.mHasValue = true;
    }
    else if (aElement.Is("pLength"))
    {
        mLength.mRef.mName = RefName(aOwner, lName, aElement.mText);
    }
    else if (aElement.Is("AccessMode"))
    {
        if (!ParseAccess(aElement.mText, mAccessMode))
        {
            FailDefinition(aOwner.Describe() + ": AccessMode '" + aElement.mText + "' is none of RO, WO, RW");
        }
    }
    else if (aElement.Is("pPort"))
    {
        mPort.mName = RefName(aOwner, lName, aElement.mText);
    }
    else if (aElement.Is("Cachable"))
    {
        static const std::pair<const char *, TnGenCache> kModes[] = {{"NoCache", TnGenCacheNone},
                                                                     {"WriteThrough", TnGenCacheWriteThrough},
                                                                     {"WriteAround", TnGenCacheWriteAround}};
        if (!tn::genicam::LookupName(kModes, aElement.mText, mCachable))
        {
            FailDefinition(aOwner.Describe() + ": Cachable '" + aElement.mText +
                           "' is none of NoCache, WriteThrough, WriteAround");
        }
    }
    else
    {
        return false;
    }
    return true;
}

void RegisterSpec::Collect(const INode &aOwner, std::vector<NodeRef *> &aReferences)
{
    if (!mPort.IsSet())
    {
        aOwner.Warn("has no pPort; it uses the port 'Device'");
        mPort.mName = "Device";
    }
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
    const std::string lOwner = aOwner.Describe();
    if (mPort.mNode == nullptr || mPort.mNode->IsMissing())
    {
        FailDefinition(lOwner + ": pPort names '" + mPort.mName + "', which the description does not define");
    }
    if (mPort.mNode->GetKind() != NodeKind::Port)
    {
        FailDefinition(lOwner + ": pPort names " + mPort.mNode->Describe() + ", which is no Port");
    }
    if (!mLength.IsSet())
    {
        FailDefinition(lOwner + " has no Length");
    }
    if (mLength.mHasValue && !mLength.mRef.IsSet() && (mLength.mValue < aMinLength || mLength.mValue > aMaxLength))
    {
        FailDefinition(lOwner + ": Length " + std::to_string(mLength.mValue) + " is outside " +
                       std::to_string(aMinLength) + " to " + std::to_string(aMaxLength));
    }
    // A missing node fails by itself where it is read.
    const auto lCheck = [&](const NodeRef &aRef, const char *aWhat, bool aEnumerationToo) {
        if (aRef.mNode == nullptr || aRef.mNode->IsMissing())
        {
            return;
        }
        const InterfaceKind lKind = aRef.mNode->GetInterface();
        if (lKind != InterfaceKind::Integer && !(aEnumerationToo && lKind == InterfaceKind::Enumeration))
        {
            FailDefinition(lOwner + ": " + aWhat + " names " + aRef.mNode->Describe() + ", which is no integer");
        }
    };
    lCheck(mLength.mRef, "pLength", false);
    for (const NodeRef &lRef : mAddressRefs)
    {
        lCheck(lRef, "pAddress", false);
    }
    for (const Index &lIndex : mIndexes)
    {
        lCheck(lIndex.mIndex, "pIndex", true);
        lCheck(lIndex.mOffsetRef, "pOffset", false);
    }
}

PortNode *RegisterSpec::GetPort() const
{
    if (mPort.mNode == nullptr || mPort.mNode->GetKind() != NodeKind::Port)
    {
        throw GenApiError(TN_GENICAM_XML_ERROR, "the register has no usable pPort");
    }
    return static_cast<PortNode *>(mPort.mNode);
}

uint64_t RegisterSpec::GetAddress(INode &aOwner)
{
    uint64_t lAddress = 0;
    for (int64_t lPart : mAddresses)
    {
        lAddress += static_cast<uint64_t>(lPart);
    }
    if (mAddressRefs.empty() && mIndexes.empty())
    {
        return lAddress;
    }
    DepthGuard lGuard(aOwner.GetNodeMap());
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
    // Integer registers take 1 to 8 bytes; the others may be empty, and are
    // bounded to keep a broken description from allocating without end.
    const bool lNumber =
        aOwner.GetInterface() == InterfaceKind::Integer || aOwner.GetInterface() == InterfaceKind::Float;
    const int64_t lLowest = lNumber ? 1 : 0;
    const int64_t lLimit = lNumber ? 8 : (int64_t(1) << 26);
    if (lLength < lLowest || lLength > lLimit)
    {
        Fail(aOwner.GetName() + ": register length " + std::to_string(lLength) + " is outside " +
             std::to_string(lLowest) + " to " + std::to_string(lLimit));
    }
    return static_cast<size_t>(lLength);
}

void RegisterSpec::ScanAccess(AccessScan &aScan) const
{
    for (const NodeRef &lRef : mAddressRefs)
    {
        aScan.Input(lRef);
    }
    for (const Index &lIndex : mIndexes)
    {
        aScan.Input(lIndex.mIndex);
        aScan.Input(lIndex.mOffsetRef);
    }
    aScan.Input(mLength.mRef);
    aScan.Value(mAccessMode);
    aScan.Value(mPort);
}

Access RegisterSpec::GetAccess()
{
    return Combine(mAccessMode, GetPort()->GetAccess());
}

bool RegisterSpec::UsesCache() const
{
    return mCachable != TnGenCacheNone && GetPort()->GetSource() == PortNode::Source::Device;
}

void RegisterSpec::Read(INode &aOwner, uint8_t *aData, size_t aLength)
{
    if (aLength == 0)
    {
        return;
    }
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

void RegisterSpec::ReadAt(INode &aOwner, uint64_t aOffset, uint8_t *aData, size_t aLength)
{
    GetPort()->Read(GetAddress(aOwner) + aOffset, aData, aLength);
}

void RegisterSpec::WriteAt(INode &aOwner, uint64_t aOffset, const uint8_t *aData, size_t aLength)
{
    const uint64_t lAddress = GetAddress(aOwner) + aOffset;
    PortNode *lPort = GetPort();
    lPort->EraseCached(lAddress, aLength);
    lPort->Write(lAddress, aData, aLength);
}

void RegisterSpec::SetDefaults(int64_t aLength, Access aAccess)
{
    if (!mLength.IsSet())
    {
        mLength.mHasValue = true;
        mLength.mValue = aLength;
    }
    mAccessMode = aAccess;
}

} // namespace TN_GENAPI_NS
