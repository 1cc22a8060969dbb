// The node base, register placement and ports.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "TnGenApi.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

namespace
{
// RO, WO or RW; false for other texts.
bool ParseAccess(const std::string &aText, Access &aAccess)
{
    static const std::pair<const char *, Access> kModes[] = {{"RO", Access::RO}, {"WO", Access::WO}, {"RW", Access::RW}};
    return tn::genicam::LookupName(kModes, aText, aAccess);
}
} // namespace

void Fail(const std::string &aMessage)
{
    throw GenApiError(TN_GENERIC_ERROR, aMessage);
}

void FailDefinition(const std::string &aMessage)
{
    throw GenApiError(TN_GENICAM_XML_ERROR, aMessage);
}

const std::string *Element::GetAttribute(const std::string &aName) const
{
    for (const auto &lAttribute : mAttributes)
    {
        if (lAttribute.first == aName)
        {
            return &lAttribute.second;
        }
    }
    return nullptr;
}

Access Combine(Access aFirst, Access aSecond)
{
    if (aFirst == Access::NI || aSecond == Access::NI)
    {
        return Access::NI;
    }
    if (aFirst == Access::NA || aSecond == Access::NA)
    {
        return Access::NA;
    }
    const bool lReadable = (aFirst == Access::RO || aFirst == Access::RW) && (aSecond == Access::RO || aSecond == Access::RW);
    const bool lWritable = (aFirst == Access::WO || aFirst == Access::RW) && (aSecond == Access::WO || aSecond == Access::RW);
    if (lReadable && lWritable)
    {
        return Access::RW;
    }
    if (lReadable)
    {
        return Access::RO;
    }
    return lWritable ? Access::WO : Access::NA;
}

Access Lock(Access aAccess)
{
    switch (aAccess)
    {
    case Access::RW:
        return Access::RO;
    case Access::WO:
        return Access::NA;
    default:
        return aAccess;
    }
}

TnGenAccessMode ToAccessMode(Access aAccess)
{
    switch (aAccess)
    {
    case Access::NI:
        return TnGenAccessModeNotImplemented;
    case Access::NA:
        return TnGenAccessModeNotAvailable;
    case Access::WO:
        return TnGenAccessModeWriteOnly;
    case Access::RO:
        return TnGenAccessModeReadOnly;
    case Access::RW:
        return TnGenAccessModeReadWrite;
    }
    return TnGenAccessModeUndefined;
}

DepthGuard::DepthGuard(INodeMap &aMap) : mMap(aMap)
{
    // Each outermost evaluation gets a budget of steps, so that definitions
    // that reuse each other many times over cannot stall a call.
    if (mMap.mDepth == 0)
    {
        mMap.mSteps = 0;
    }
    if (++mMap.mSteps > 1000000)
    {
        Fail("evaluating the feature takes too many steps (the definitions reuse each other too often)");
    }
    if (++mMap.mDepth > 256)
    {
        --mMap.mDepth;
        Fail("the feature definitions nest too deeply (a circular reference?)");
    }
}

DepthGuard::~DepthGuard()
{
    --mMap.mDepth;
}

// --- INode ------------------------------------------------------------------

INode::INode(INodeMap &aMap, NodeKind aKind, const std::string &aName)
    : mMap(aMap), mKind(aKind), mName(aName), mIndex(0), mNameSpace(TnGenNameSpaceCustom),
      mVisibility(TnGenVisibilityBeginner), mStreamable(false), mHasImposedAccess(false), mImposedAccess(Access::RW),
      mPollingTime(-1), mHidden(false), mCategory(nullptr)
{
}

INode::~INode() = default;

const char *INode::GetKindName() const
{
    switch (mKind)
    {
    case NodeKind::Node:
        return "Node";
    case NodeKind::Category:
        return "Category";
    case NodeKind::Integer:
        return "Integer";
    case NodeKind::IntReg:
        return "IntReg";
    case NodeKind::MaskedIntReg:
        return "MaskedIntReg";
    case NodeKind::Float:
        return "Float";
    case NodeKind::FloatReg:
        return "FloatReg";
    case NodeKind::Enumeration:
        return "Enumeration";
    case NodeKind::EnumEntry:
        return "EnumEntry";
    case NodeKind::Boolean:
        return "Boolean";
    case NodeKind::Command:
        return "Command";
    case NodeKind::String:
        return "String";
    case NodeKind::StringReg:
        return "StringReg";
    case NodeKind::Register:
        return "Register";
    case NodeKind::IntSwissKnife:
        return "IntSwissKnife";
    case NodeKind::SwissKnife:
        return "SwissKnife";
    case NodeKind::Converter:
        return "Converter";
    case NodeKind::IntConverter:
        return "IntConverter";
    case NodeKind::Port:
        return "Port";
    }
    return "Node";
}

void INode::Define(const Element &aElement)
{
    mDefinition.push_back(aElement);
    // Elements the engine does not know are kept in the definition only.
    ApplyElement(aElement);
}

void INode::DefineAttribute(const std::string &aName, const std::string &aValue)
{
    mAttributes.emplace_back(aName, aValue);
    if (aName == "NameSpace")
    {
        if (aValue == "Standard")
        {
            mNameSpace = TnGenNameSpaceStandard;
        }
        else if (aValue == "Custom")
        {
            mNameSpace = TnGenNameSpaceCustom;
        }
        else
        {
            FailDefinition(Describe() + ": NameSpace '" + aValue + "' is neither Standard nor Custom");
        }
    }
}

std::string INode::Describe() const
{
    return std::string(GetKindName()) + " '" + mName + "'";
}

int64_t INode::ParseInteger(const Element &aElement) const
{
    int64_t lValue = 0;
    if (!tn::genicam::ParseIntegerText(aElement.mText, lValue))
    {
        FailDefinition(Describe() + ": " + aElement.mName + " '" + aElement.mText + "' is not an integer");
    }
    return lValue;
}

double INode::ParseFloat(const Element &aElement) const
{
    double lValue = 0;
    if (!tn::genicam::ParseFloatText(aElement.mText, lValue))
    {
        FailDefinition(Describe() + ": " + aElement.mName + " '" + aElement.mText + "' is not a number");
    }
    return lValue;
}

bool INode::ParseYesNo(const Element &aElement) const
{
    if (aElement.mText == "Yes")
    {
        return true;
    }
    if (aElement.mText == "No")
    {
        return false;
    }
    FailDefinition(Describe() + ": " + aElement.mName + " '" + aElement.mText + "' is neither Yes nor No");
}

void INode::SetRef(NodeRef &aRef, const Element &aElement) const
{
    if (aElement.mText.empty())
    {
        FailDefinition(Describe() + ": " + aElement.mName + " names no node");
    }
    aRef.mName = aElement.mText;
    aRef.mNode = nullptr;
}

void INode::RequireInterface(const NodeRef &aRef, const char *aWhat, std::initializer_list<InterfaceKind> aKinds) const
{
    if (aRef.mNode == nullptr)
    {
        return;
    }
    const InterfaceKind lKind = aRef.mNode->GetInterface();
    if (std::find(aKinds.begin(), aKinds.end(), lKind) == aKinds.end())
    {
        FailDefinition(Describe() + ": " + aWhat + " names " + aRef.mNode->Describe() + ", which cannot serve there");
    }
}

bool INode::ApplyElement(const Element &aElement)
{
    const std::string &lName = aElement.mName;
    if (lName == "ToolTip")
    {
        mToolTip = aElement.mText;
    }
    else if (lName == "Description")
    {
        mDescription = aElement.mText;
    }
    else if (lName == "DisplayName")
    {
        mDisplayName = aElement.mText;
    }
    else if (lName == "Visibility")
    {
        static const std::pair<const char *, TnGenVisibility> kLevels[] = {{"Beginner", TnGenVisibilityBeginner},
                                                                            {"Expert", TnGenVisibilityExpert},
                                                                            {"Guru", TnGenVisibilityGuru},
                                                                            {"Invisible", TnGenVisibilityInvisible}};
        if (!tn::genicam::LookupName(kLevels, aElement.mText, mVisibility))
        {
            FailDefinition(Describe() + ": unknown Visibility '" + aElement.mText + "'");
        }
    }
    else if (lName == "pIsImplemented")
    {
        SetRef(mIsImplemented, aElement);
    }
    else if (lName == "pIsAvailable")
    {
        SetRef(mIsAvailable, aElement);
    }
    else if (lName == "pIsLocked")
    {
        SetRef(mIsLocked, aElement);
    }
    else if (lName == "ImposedAccessMode")
    {
        if (!ParseAccess(aElement.mText, mImposedAccess))
        {
            FailDefinition(Describe() + ": ImposedAccessMode '" + aElement.mText + "' is none of RO, WO, RW");
        }
        mHasImposedAccess = true;
    }
    else if (lName == "pInvalidator")
    {
        mInvalidators.emplace_back();
        SetRef(mInvalidators.back(), aElement);
    }
    else if (lName == "pSelected")
    {
        mSelected.emplace_back();
        SetRef(mSelected.back(), aElement);
    }
    else if (lName == "Streamable")
    {
        mStreamable = ParseYesNo(aElement);
    }
    else if (lName == "PollingTime")
    {
        mPollingTime = ParseInteger(aElement);
    }
    else
    {
        return false;
    }
    return true;
}

void INode::CollectReferences(std::vector<NodeRef *> &aReferences)
{
    for (NodeRef *lRef : {&mIsImplemented, &mIsAvailable, &mIsLocked})
    {
        if (lRef->IsSet())
        {
            aReferences.push_back(lRef);
        }
    }
}

void INode::CollectAllReferences(std::vector<NodeRef *> &aValues, std::vector<NodeRef *> &aInvalidators,
                                 std::vector<NodeRef *> &aSelected, std::vector<NodeRef *> &aFeatures)
{
    CollectReferences(aValues);
    for (NodeRef &lRef : mInvalidators)
    {
        aInvalidators.push_back(&lRef);
    }
    for (NodeRef &lRef : mSelected)
    {
        aSelected.push_back(&lRef);
    }
    CollectFeatures(aFeatures);
}

Access INode::GetAccess()
{
    DepthGuard lGuard(mMap);
    if (mIsImplemented.mNode != nullptr && !RefBool(mIsImplemented))
    {
        return Access::NI;
    }
    if (mIsAvailable.mNode != nullptr && !RefBool(mIsAvailable))
    {
        return Access::NA;
    }
    Access lAccess = GetBaseAccess();
    if (lAccess == Access::NI || lAccess == Access::NA)
    {
        return lAccess;
    }
    if (mIsLocked.mNode != nullptr && RefBool(mIsLocked))
    {
        lAccess = Lock(lAccess);
    }
    if (mHasImposedAccess)
    {
        lAccess = Combine(lAccess, mImposedAccess);
    }
    return lAccess;
}

bool INode::IsImplemented()
{
    return GetAccess() != Access::NI;
}

bool INode::IsAvailable()
{
    const Access lAccess = GetAccess();
    return lAccess != Access::NI && lAccess != Access::NA;
}

bool INode::IsReadable()
{
    const Access lAccess = GetAccess();
    return lAccess == Access::RO || lAccess == Access::RW;
}

bool INode::IsWritable()
{
    const Access lAccess = GetAccess();
    return lAccess == Access::WO || lAccess == Access::RW;
}

namespace
{
// Fails for a node that is not implemented or not available.
void CheckPresent(const INode &aNode, Access aAccess)
{
    if (aAccess == Access::NI)
    {
        Fail(aNode.Describe() + " is not implemented");
    }
    if (aAccess == Access::NA)
    {
        Fail(aNode.Describe() + " is not available");
    }
}
} // namespace

void INode::CheckReadable()
{
    const Access lAccess = GetAccess();
    if (lAccess == Access::RO || lAccess == Access::RW)
    {
        return;
    }
    CheckPresent(*this, lAccess);
    Fail(Describe() + " is not readable");
}

void INode::CheckWritable()
{
    const Access lAccess = GetAccess();
    if (lAccess == Access::WO || lAccess == Access::RW)
    {
        return;
    }
    CheckPresent(*this, lAccess);
    // Say why it is read-only when a lock is the reason.
    DepthGuard lGuard(mMap);
    int lSteps = 0;
    for (INode *lNode = this; lNode != nullptr && lSteps < 64; lNode = lNode->GetValueTarget(), ++lSteps)
    {
        if (lNode->mIsLocked.mNode != nullptr && lNode->RefBool(lNode->mIsLocked))
        {
            Fail(Describe() + " is locked" + (lNode == this ? std::string() : " (through " + lNode->Describe() + ")"));
        }
    }
    Fail(Describe() + " is not writable");
}

int64_t INode::RefInt(const NodeRef &aRef)
{
    DepthGuard lGuard(mMap);
    return aRef.mNode->GetInt();
}

bool INode::RefBool(const NodeRef &aRef)
{
    DepthGuard lGuard(mMap);
    return aRef.mNode->GetBool();
}

void INode::CheckIntRange(int64_t aValue)
{
    const int64_t lMinimum = GetIntMin();
    const int64_t lMaximum = GetIntMax();
    if (aValue < lMinimum || aValue > lMaximum)
    {
        Fail(Describe() + ": " + std::to_string(aValue) + " is outside the range " + std::to_string(lMinimum) + " to " +
             std::to_string(lMaximum));
    }
    const int64_t lIncrement = GetIntInc();
    if (lIncrement > 1)
    {
        const __int128 lOffset = static_cast<__int128>(aValue) - lMinimum;
        if (lOffset % lIncrement != 0)
        {
            Fail(Describe() + ": " + std::to_string(aValue) + " does not fit the increment " + std::to_string(lIncrement) +
                 " from " + std::to_string(lMinimum));
        }
    }
}

void INode::CheckFloatRange(double aValue)
{
    if (aValue != aValue)
    {
        Fail(Describe() + ": the value is not a number");
    }
    const double lMinimum = GetFloatMin();
    const double lMaximum = GetFloatMax();
    if (aValue < lMinimum || aValue > lMaximum)
    {
        Fail(Describe() + ": " + tn::genicam::FormatFloat(aValue) + " is outside the range " +
             tn::genicam::FormatFloat(lMinimum) + " to " + tn::genicam::FormatFloat(lMaximum));
    }
}

bool INode::IsCached()
{
    DepthGuard lGuard(mMap);
    for (INode *lReference : mReferences)
    {
        if (lReference->GetInterface() != InterfaceKind::Port && !lReference->IsCached())
        {
            return false;
        }
    }
    return true;
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

// --- PortNode -----------------------------------------------------------------

bool PortNode::ApplyElement(const Element &aElement)
{
    if (aElement.mName == "ChunkID")
    {
        // Chunk IDs are hexadecimal, with or without 0x.
        std::string lText = aElement.mText;
        if (lText.size() > 2 && lText[0] == '0' && (lText[1] == 'x' || lText[1] == 'X'))
        {
            lText = lText.substr(2);
        }
        char *lEnd = nullptr;
        errno = 0;
        const unsigned long long lId = lText.empty() ? 0 : strtoull(lText.c_str(), &lEnd, 16);
        if (lText.empty() || *lEnd != '\0' || errno == ERANGE || lId > 0xFFFFFFFFull || !isxdigit(static_cast<unsigned char>(lText[0])))
        {
            FailDefinition(Describe() + ": ChunkID '" + aElement.mText + "' is no 32-bit hexadecimal number");
        }
        mHasChunkId = true;
        mChunkId = static_cast<uint32_t>(lId);
        return true;
    }
    return INode::ApplyElement(aElement);
}

Access PortNode::GetBaseAccess()
{
    if (mHasChunkId)
    {
        return mMap.GetChunk(mChunkId) != nullptr ? Access::RO : Access::NA;
    }
    if (!mPort)
    {
        return Access::NA;
    }
    TnGenAccessMode lMode = TnGenAccessModeNotAvailable;
    try
    {
        lMode = mPort->GetAccessMode();
    }
    catch (...)
    {
        lMode = TnGenAccessModeNotAvailable;
    }
    switch (lMode)
    {
    case TnGenAccessModeReadWrite:
        return Access::RW;
    case TnGenAccessModeReadOnly:
        return Access::RO;
    case TnGenAccessModeWriteOnly:
        return Access::WO;
    case TnGenAccessModeNotImplemented:
        return Access::NI;
    default:
        return Access::NA;
    }
}

namespace
{
std::string Hex(uint64_t aValue)
{
    char lText[32];
    snprintf(lText, sizeof(lText), "0x%llX", static_cast<unsigned long long>(aValue));
    return lText;
}

[[noreturn]] void FailPort(const std::string &aWhat, const TnResult &aResult)
{
    std::string lMessage = aWhat + " failed (" + aResult.GetCodeString().GetAscii() + ")";
    if (aResult.HasDescription() && aResult.GetDescription().GetAscii() != nullptr &&
        aResult.GetDescription().GetLength() > 0)
    {
        lMessage += ": " + std::string(aResult.GetDescription().GetAscii());
    }
    throw GenApiError(aResult.GetCode() == TN_OK ? TN_GENERIC_ERROR : aResult.GetCode(), lMessage);
}

// Runs aCall, a read or write of aPort, and fails with its result unless it
// succeeds; a port that throws fails with TN_GENERIC_ERROR.
template <typename Call> void CallPort(const std::string &aWhat, const std::shared_ptr<tn::genicam::IPort> &aPort, Call aCall)
{
    if (!aPort)
    {
        Fail(aWhat + " failed: the port is not connected");
    }
    TnResult lResult;
    try
    {
        lResult = aCall(*aPort);
    }
    catch (...)
    {
        lResult = TnResult(TN_GENERIC_ERROR, TnString("the port threw an exception"));
    }
    if (!lResult.IsOK())
    {
        FailPort(aWhat, lResult);
    }
}
} // namespace

void PortNode::Read(uint64_t aAddress, uint8_t *aData, size_t aLength)
{
    const std::string lWhat = Describe() + ": reading " + std::to_string(aLength) + " bytes at " + Hex(aAddress);
    if (mHasChunkId)
    {
        if (!mMap.AreChunksAttached())
        {
            Fail(lWhat + " failed: no chunk data is attached");
        }
        const std::vector<uint8_t> *lChunk = mMap.GetChunk(mChunkId);
        if (lChunk == nullptr)
        {
            Fail(lWhat + " failed: the attached data has no chunk " + Hex(mChunkId));
        }
        if (aAddress > lChunk->size() || aLength > lChunk->size() - aAddress)
        {
            Fail(lWhat + " failed: chunk " + Hex(mChunkId) + " holds only " + std::to_string(lChunk->size()) + " bytes");
        }
        memcpy(aData, lChunk->data() + aAddress, aLength);
        return;
    }
    CallPort(lWhat, mPort, [&](tn::genicam::IPort &aPort) { return aPort.Read(aAddress, aData, aLength); });
}

void PortNode::Write(uint64_t aAddress, const uint8_t *aData, size_t aLength)
{
    const std::string lWhat = Describe() + ": writing " + std::to_string(aLength) + " bytes at " + Hex(aAddress);
    if (mHasChunkId)
    {
        Fail(lWhat + " failed: chunk data is read-only");
    }
    CallPort(lWhat, mPort, [&](tn::genicam::IPort &aPort) { return aPort.Write(aAddress, aData, aLength); });
}

bool PortNode::FindCached(uint64_t aAddress, uint8_t *aData, size_t aLength) const
{
    const auto lFound = mCache.find(std::make_pair(aAddress, aLength));
    if (lFound == mCache.end())
    {
        return false;
    }
    memcpy(aData, lFound->second.data(), aLength);
    return true;
}

bool PortNode::HasCached(uint64_t aAddress, size_t aLength) const
{
    return mCache.count(std::make_pair(aAddress, aLength)) != 0;
}

void PortNode::StoreCached(uint64_t aAddress, const uint8_t *aData, size_t aLength)
{
    mCache[std::make_pair(aAddress, aLength)].assign(aData, aData + aLength);
    mLongestCached = std::max(mLongestCached, aLength);
}

void PortNode::EraseCached(uint64_t aAddress, size_t aLength)
{
    if (mCache.empty() || aLength == 0)
    {
        return;
    }
    // Entries that start up to the longest cached length before the range
    // may reach into it.
    const uint64_t lFirst = aAddress >= mLongestCached ? aAddress - mLongestCached + 1 : 0;
    const uint64_t lEnd = aAddress + aLength < aAddress ? UINT64_MAX : aAddress + aLength;
    for (auto lEntry = mCache.lower_bound(std::make_pair(lFirst, size_t(0))); lEntry != mCache.end() && lEntry->first.first < lEnd;)
    {
        const uint64_t lEntryEnd = lEntry->first.first + lEntry->first.second;
        if (lEntryEnd > aAddress || lEntryEnd < lEntry->first.first)
        {
            lEntry = mCache.erase(lEntry);
        }
        else
        {
            ++lEntry;
        }
    }
}

} // namespace TN_GENAPI_NS
