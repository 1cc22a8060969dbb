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
    for (const auto &attribute : mAttributes)
    {
        if (attribute.first == aName)
        {
            return &attribute.second;
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
    const bool readable = (aFirst == Access::RO || aFirst == Access::RW) && (aSecond == Access::RO || aSecond == Access::RW);
    const bool writable = (aFirst == Access::WO || aFirst == Access::RW) && (aSecond == Access::WO || aSecond == Access::RW);
    if (readable && writable)
    {
        return Access::RW;
    }
    if (readable)
    {
        return Access::RO;
    }
    return writable ? Access::WO : Access::NA;
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
    int64_t value = 0;
    if (!tn::genicam::ParseIntegerText(aElement.mText, value))
    {
        FailDefinition(Describe() + ": " + aElement.mName + " '" + aElement.mText + "' is not an integer");
    }
    return value;
}

double INode::ParseFloat(const Element &aElement) const
{
    double value = 0;
    if (!tn::genicam::ParseFloatText(aElement.mText, value))
    {
        FailDefinition(Describe() + ": " + aElement.mName + " '" + aElement.mText + "' is not a number");
    }
    return value;
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
    const InterfaceKind kind = aRef.mNode->GetInterface();
    if (std::find(aKinds.begin(), aKinds.end(), kind) == aKinds.end())
    {
        FailDefinition(Describe() + ": " + aWhat + " names " + aRef.mNode->Describe() + ", which cannot serve there");
    }
}

bool INode::ApplyElement(const Element &aElement)
{
    const std::string &name = aElement.mName;
    if (name == "ToolTip")
    {
        mToolTip = aElement.mText;
    }
    else if (name == "Description")
    {
        mDescription = aElement.mText;
    }
    else if (name == "DisplayName")
    {
        mDisplayName = aElement.mText;
    }
    else if (name == "Visibility")
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
    else if (name == "pIsImplemented")
    {
        SetRef(mIsImplemented, aElement);
    }
    else if (name == "pIsAvailable")
    {
        SetRef(mIsAvailable, aElement);
    }
    else if (name == "pIsLocked")
    {
        SetRef(mIsLocked, aElement);
    }
    else if (name == "ImposedAccessMode")
    {
        if (!ParseAccess(aElement.mText, mImposedAccess))
        {
            FailDefinition(Describe() + ": ImposedAccessMode '" + aElement.mText + "' is none of RO, WO, RW");
        }
        mHasImposedAccess = true;
    }
    else if (name == "pInvalidator")
    {
        mInvalidators.emplace_back();
        SetRef(mInvalidators.back(), aElement);
    }
    else if (name == "pSelected")
    {
        mSelected.emplace_back();
        SetRef(mSelected.back(), aElement);
    }
    else if (name == "Streamable")
    {
        mStreamable = ParseYesNo(aElement);
    }
    else if (name == "PollingTime")
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
    for (NodeRef *ref : {&mIsImplemented, &mIsAvailable, &mIsLocked})
    {
        if (ref->IsSet())
        {
            aReferences.push_back(ref);
        }
    }
}

void INode::CollectAllReferences(std::vector<NodeRef *> &aValues, std::vector<NodeRef *> &aInvalidators,
                                 std::vector<NodeRef *> &aSelected, std::vector<NodeRef *> &aFeatures)
{
    CollectReferences(aValues);
    for (NodeRef &ref : mInvalidators)
    {
        aInvalidators.push_back(&ref);
    }
    for (NodeRef &ref : mSelected)
    {
        aSelected.push_back(&ref);
    }
    CollectFeatures(aFeatures);
}

Access INode::GetAccess()
{
    DepthGuard guard(mMap);
    if (mIsImplemented.mNode != nullptr && !RefBool(mIsImplemented))
    {
        return Access::NI;
    }
    if (mIsAvailable.mNode != nullptr && !RefBool(mIsAvailable))
    {
        return Access::NA;
    }
    Access access = GetBaseAccess();
    if (access == Access::NI || access == Access::NA)
    {
        return access;
    }
    if (mIsLocked.mNode != nullptr && RefBool(mIsLocked))
    {
        access = Lock(access);
    }
    if (mHasImposedAccess)
    {
        access = Combine(access, mImposedAccess);
    }
    return access;
}

bool INode::IsImplemented()
{
    return GetAccess() != Access::NI;
}

bool INode::IsAvailable()
{
    const Access access = GetAccess();
    return access != Access::NI && access != Access::NA;
}

bool INode::IsReadable()
{
    const Access access = GetAccess();
    return access == Access::RO || access == Access::RW;
}

bool INode::IsWritable()
{
    const Access access = GetAccess();
    return access == Access::WO || access == Access::RW;
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
    const Access access = GetAccess();
    if (access == Access::RO || access == Access::RW)
    {
        return;
    }
    CheckPresent(*this, access);
    Fail(Describe() + " is not readable");
}

void INode::CheckWritable()
{
    const Access access = GetAccess();
    if (access == Access::WO || access == Access::RW)
    {
        return;
    }
    CheckPresent(*this, access);
    // Say why it is read-only when a lock is the reason.
    DepthGuard guard(mMap);
    int steps = 0;
    for (INode *node = this; node != nullptr && steps < 64; node = node->GetValueTarget(), ++steps)
    {
        if (node->mIsLocked.mNode != nullptr && node->RefBool(node->mIsLocked))
        {
            Fail(Describe() + " is locked" + (node == this ? std::string() : " (through " + node->Describe() + ")"));
        }
    }
    Fail(Describe() + " is not writable");
}

int64_t INode::RefInt(const NodeRef &aRef)
{
    DepthGuard guard(mMap);
    return aRef.mNode->GetInt();
}

bool INode::RefBool(const NodeRef &aRef)
{
    DepthGuard guard(mMap);
    return aRef.mNode->GetBool();
}

void INode::CheckIntRange(int64_t aValue)
{
    const int64_t minimum = GetIntMin();
    const int64_t maximum = GetIntMax();
    if (aValue < minimum || aValue > maximum)
    {
        Fail(Describe() + ": " + std::to_string(aValue) + " is outside the range " + std::to_string(minimum) + " to " +
             std::to_string(maximum));
    }
    const int64_t increment = GetIntInc();
    if (increment > 1)
    {
        const __int128 offset = static_cast<__int128>(aValue) - minimum;
        if (offset % increment != 0)
        {
            Fail(Describe() + ": " + std::to_string(aValue) + " does not fit the increment " + std::to_string(increment) +
                 " from " + std::to_string(minimum));
        }
    }
}

void INode::CheckFloatRange(double aValue)
{
    if (aValue != aValue)
    {
        Fail(Describe() + ": the value is not a number");
    }
    const double minimum = GetFloatMin();
    const double maximum = GetFloatMax();
    if (aValue < minimum || aValue > maximum)
    {
        Fail(Describe() + ": " + tn::genicam::FormatFloat(aValue) + " is outside the range " +
             tn::genicam::FormatFloat(minimum) + " to " + tn::genicam::FormatFloat(maximum));
    }
}

bool INode::IsCached()
{
    DepthGuard guard(mMap);
    for (INode *reference : mReferences)
    {
        if (reference->GetInterface() != InterfaceKind::Port && !reference->IsCached())
        {
            return false;
        }
    }
    return true;
}

// --- RegisterSpec -----------------------------------------------------------

bool RegisterSpec::Apply(INode &aOwner, const Element &aElement)
{
    const std::string &name = aElement.mName;
    if (name == "Address")
    {
        int64_t address = 0;
        if (!tn::genicam::ParseIntegerText(aElement.mText, address))
        {
            FailDefinition(aOwner.GetName() + ": Address '" + aElement.mText + "' is not an integer");
        }
        mAddresses.push_back(address);
    }
    else if (name == "pAddress")
    {
        mAddressRefs.emplace_back();
        mAddressRefs.back().mName = aElement.mText;
    }
    else if (name == "IntSwissKnife")
    {
        // An embedded address formula becomes a hidden node of its own.
        const std::string formulaName = aOwner.GetName() + "__Address" + std::to_string(mAddressRefs.size());
        INode *formula = aOwner.GetNodeMap().CreateNode("IntSwissKnife", formulaName);
        formula->SetHidden(true);
        for (const Element &child : aElement.mChildren)
        {
            formula->Define(child);
        }
        mAddressRefs.emplace_back();
        mAddressRefs.back().mName = formulaName;
    }
    else if (name == "pIndex")
    {
        Index index;
        index.mIndex.mName = aElement.mText;
        if (const std::string *offset = aElement.GetAttribute("Offset"))
        {
            index.mHasOffset = true;
            if (!tn::genicam::ParseIntegerText(*offset, index.mOffset))
            {
                FailDefinition(aOwner.GetName() + ": pIndex Offset '" + *offset + "' is not an integer");
            }
        }
        else if (const std::string *offsetRef = aElement.GetAttribute("pOffset"))
        {
            index.mOffsetRef.mName = *offsetRef;
        }
        mIndexes.push_back(index);
    }
    else if (name == "Length")
    {
        mLength.mHasValue = true;
        if (!tn::genicam::ParseIntegerText(aElement.mText, mLength.mValue))
        {
            FailDefinition(aOwner.GetName() + ": Length '" + aElement.mText + "' is not an integer");
        }
    }
    else if (name == "pLength")
    {
        mLength.mRef.mName = aElement.mText;
    }
    else if (name == "AccessMode")
    {
        if (!ParseAccess(aElement.mText, mAccessMode))
        {
            FailDefinition(aOwner.GetName() + ": AccessMode '" + aElement.mText + "' is none of RO, WO, RW");
        }
    }
    else if (name == "pPort")
    {
        mPort.mName = aElement.mText;
    }
    else if (name == "Cachable")
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
    for (NodeRef &ref : mAddressRefs)
    {
        aReferences.push_back(&ref);
    }
    for (Index &index : mIndexes)
    {
        aReferences.push_back(&index.mIndex);
        if (index.mOffsetRef.IsSet())
        {
            aReferences.push_back(&index.mOffsetRef);
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
    const std::string owner = std::string(aOwner.GetKindName()) + " '" + aOwner.GetName() + "'";
    if (!mPort.IsSet())
    {
        FailDefinition(owner + " has no pPort");
    }
    if (mPort.mNode->GetKind() != NodeKind::Port)
    {
        FailDefinition(owner + ": pPort names " + mPort.mNode->GetName() + ", which is no Port");
    }
    if (!mLength.IsSet())
    {
        FailDefinition(owner + " has no Length");
    }
    if (mLength.mHasValue && !mLength.mRef.IsSet() && (mLength.mValue < aMinLength || mLength.mValue > aMaxLength))
    {
        FailDefinition(owner + ": Length " + std::to_string(mLength.mValue) + " is outside " + std::to_string(aMinLength) +
                       " to " + std::to_string(aMaxLength));
    }
    for (NodeRef *ref : {&mLength.mRef})
    {
        if (ref->mNode != nullptr && ref->mNode->GetInterface() != InterfaceKind::Integer)
        {
            FailDefinition(owner + ": pLength names " + ref->mName + ", which is no integer");
        }
    }
    for (const NodeRef &ref : mAddressRefs)
    {
        if (ref.mNode->GetInterface() != InterfaceKind::Integer)
        {
            FailDefinition(owner + ": pAddress names " + ref.mName + ", which is no integer");
        }
    }
    for (const Index &index : mIndexes)
    {
        if (index.mIndex.mNode->GetInterface() != InterfaceKind::Integer &&
            index.mIndex.mNode->GetInterface() != InterfaceKind::Enumeration)
        {
            FailDefinition(owner + ": pIndex names " + index.mIndex.mName + ", which is no integer");
        }
    }
}

PortNode *RegisterSpec::GetPort() const
{
    return static_cast<PortNode *>(mPort.mNode);
}

uint64_t RegisterSpec::GetAddress(INode &aOwner)
{
    DepthGuard guard(aOwner.GetNodeMap());
    uint64_t address = 0;
    for (int64_t part : mAddresses)
    {
        address += static_cast<uint64_t>(part);
    }
    for (const NodeRef &ref : mAddressRefs)
    {
        address += static_cast<uint64_t>(ref.mNode->GetInt());
    }
    for (const Index &index : mIndexes)
    {
        int64_t offset = index.mOffset;
        if (!index.mHasOffset)
        {
            offset = index.mOffsetRef.mNode != nullptr ? index.mOffsetRef.mNode->GetInt()
                                                        : static_cast<int64_t>(GetLength(aOwner));
        }
        address += static_cast<uint64_t>(index.mIndex.mNode->GetInt()) * static_cast<uint64_t>(offset);
    }
    return address;
}

size_t RegisterSpec::GetLength(INode &aOwner)
{
    int64_t length = mLength.mValue;
    if (mLength.mRef.mNode != nullptr)
    {
        DepthGuard guard(aOwner.GetNodeMap());
        length = mLength.mRef.mNode->GetInt();
    }
    // Integer registers take at most 8 bytes; the others are bounded to keep
    // a broken description from allocating without end.
    const int64_t limit = aOwner.GetInterface() == InterfaceKind::Integer || aOwner.GetInterface() == InterfaceKind::Float
                              ? 8
                              : (int64_t(1) << 26);
    if (length < 1 || length > limit)
    {
        Fail(aOwner.GetName() + ": register length " + std::to_string(length) + " is outside 1 to " + std::to_string(limit));
    }
    return static_cast<size_t>(length);
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
    const uint64_t address = GetAddress(aOwner);
    PortNode *port = GetPort();
    if (UsesCache() && port->FindCached(address, aData, aLength))
    {
        return;
    }
    port->Read(address, aData, aLength);
    if (UsesCache())
    {
        port->StoreCached(address, aData, aLength);
        mHasCachedRange = true;
        mCachedAddress = address;
        mCachedLength = aLength;
    }
}

void RegisterSpec::Write(INode &aOwner, const uint8_t *aData, size_t aLength)
{
    const uint64_t address = GetAddress(aOwner);
    PortNode *port = GetPort();
    // Whatever happens, what the cache holds for these bytes is stale now.
    port->EraseCached(address, aLength);
    port->Write(address, aData, aLength);
    if (mCachable == TnGenCacheWriteThrough && UsesCache() && aLength == GetLength(aOwner))
    {
        port->StoreCached(address, aData, aLength);
        mHasCachedRange = true;
        mCachedAddress = address;
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

namespace
{
// Chunk and event IDs are hexadecimal, with or without 0x; false when the
// text is no such number of at most aBits bits.
bool ParseHexId(const std::string &aText, unsigned aBits, uint64_t &aId)
{
    std::string text = aText;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    {
        text = text.substr(2);
    }
    if (text.empty() || !isxdigit(static_cast<unsigned char>(text[0])))
    {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long long id = strtoull(text.c_str(), &end, 16);
    if (*end != '\0' || errno == ERANGE || (aBits < 64 && id >> aBits != 0))
    {
        return false;
    }
    aId = id;
    return true;
}
} // namespace

bool PortNode::ApplyElement(const Element &aElement)
{
    if (aElement.mName == "ChunkID")
    {
        uint64_t id = 0;
        if (!ParseHexId(aElement.mText, 32, id))
        {
            FailDefinition(Describe() + ": ChunkID '" + aElement.mText + "' is no 32-bit hexadecimal number");
        }
        mHasChunkId = true;
        mChunkId = static_cast<uint32_t>(id);
        return true;
    }
    if (aElement.mName == "EventID")
    {
        if (!ParseHexId(aElement.mText, 64, mEventId))
        {
            FailDefinition(Describe() + ": EventID '" + aElement.mText + "' is no hexadecimal number");
        }
        mHasEventId = true;
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
    if (mHasEventId)
    {
        return mMap.GetEventData(mEventId) != nullptr ? Access::RO : Access::NA;
    }
    if (!mPort)
    {
        return Access::NA;
    }
    TnGenAccessMode mode = TnGenAccessModeNotAvailable;
    try
    {
        mode = mPort->GetAccessMode();
    }
    catch (...)
    {
        mode = TnGenAccessModeNotAvailable;
    }
    switch (mode)
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
    char text[32];
    snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(aValue));
    return text;
}

[[noreturn]] void FailPort(const std::string &aWhat, const TnResult &aResult)
{
    std::string message = aWhat + " failed (" + aResult.GetCodeString().GetAscii() + ")";
    if (aResult.HasDescription() && aResult.GetDescription().GetAscii() != nullptr &&
        aResult.GetDescription().GetLength() > 0)
    {
        message += ": " + std::string(aResult.GetDescription().GetAscii());
    }
    throw GenApiError(aResult.GetCode() == TN_OK ? TN_GENERIC_ERROR : aResult.GetCode(), message);
}

// Runs aCall, a read or write of aPort, and fails with its result unless it
// succeeds; a port that throws fails with TN_GENERIC_ERROR.
// aWhat() describes the access for a failure's message; it is built only
// then, since reads and writes are hot paths.
template <typename What, typename Call>
void CallPort(const What &aWhat, const std::shared_ptr<tn::genicam::IPort> &aPort, Call aCall)
{
    if (!aPort)
    {
        Fail(aWhat() + " failed: the port is not connected");
    }
    TnResult result;
    try
    {
        result = aCall(*aPort);
    }
    catch (...)
    {
        result = TnResult(TN_GENERIC_ERROR, TnString("the port threw an exception"));
    }
    if (!result.IsOK())
    {
        FailPort(aWhat(), result);
    }
}
} // namespace

void PortNode::Read(uint64_t aAddress, uint8_t *aData, size_t aLength)
{
    const auto what = [&]() {
        return Describe() + ": reading " + std::to_string(aLength) + " bytes at " + Hex(aAddress);
    };
    if (mHasChunkId)
    {
        if (!mMap.AreChunksAttached())
        {
            Fail(what() + " failed: no chunk data is attached");
        }
        const std::vector<uint8_t> *chunk = mMap.GetChunk(mChunkId);
        if (chunk == nullptr)
        {
            Fail(what() + " failed: the attached data has no chunk " + Hex(mChunkId));
        }
        if (aAddress > chunk->size() || aLength > chunk->size() - aAddress)
        {
            Fail(what() + " failed: chunk " + Hex(mChunkId) + " holds only " + std::to_string(chunk->size()) + " bytes");
        }
        memcpy(aData, chunk->data() + aAddress, aLength);
        return;
    }
    if (mHasEventId)
    {
        const std::vector<uint8_t> *data = mMap.GetEventData(mEventId);
        if (data == nullptr)
        {
            Fail(what() + " failed: no event " + Hex(mEventId) + " has arrived");
        }
        if (aAddress > data->size() || aLength > data->size() - aAddress)
        {
            Fail(what() + " failed: event " + Hex(mEventId) + " carried only " + std::to_string(data->size()) +
                 " bytes");
        }
        memcpy(aData, data->data() + aAddress, aLength);
        return;
    }
    CallPort(what, mPort, [&](tn::genicam::IPort &aPort) { return aPort.Read(aAddress, aData, aLength); });
}

void PortNode::Write(uint64_t aAddress, const uint8_t *aData, size_t aLength)
{
    const auto what = [&]() {
        return Describe() + ": writing " + std::to_string(aLength) + " bytes at " + Hex(aAddress);
    };
    if (mHasChunkId || mHasEventId)
    {
        Fail(what() + " failed: " + (mHasChunkId ? "chunk" : "event") + " data is read-only");
    }
    CallPort(what, mPort, [&](tn::genicam::IPort &aPort) { return aPort.Write(aAddress, aData, aLength); });
}

bool PortNode::FindCached(uint64_t aAddress, uint8_t *aData, size_t aLength) const
{
    const auto found = mCache.find(std::make_pair(aAddress, aLength));
    if (found == mCache.end())
    {
        return false;
    }
    memcpy(aData, found->second.data(), aLength);
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
    const uint64_t first = aAddress >= mLongestCached ? aAddress - mLongestCached + 1 : 0;
    const uint64_t end = aAddress + aLength < aAddress ? UINT64_MAX : aAddress + aLength;
    for (auto entry = mCache.lower_bound(std::make_pair(first, size_t(0))); entry != mCache.end() && entry->first.first < end;)
    {
        const uint64_t entryEnd = entry->first.first + entry->first.second;
        if (entryEnd > aAddress || entryEnd < entry->first.first)
        {
            entry = mCache.erase(entry);
        }
        else
        {
            ++entry;
        }
    }
}

} // namespace TN_GENAPI_NS
