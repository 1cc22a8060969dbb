// The node base.
#include <algorithm>
#include <unordered_set>

#include "TnGenApiEnum.h"
#include "TnGenApiNode.h"
#include "TnGenApiNodeMap.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

bool ParseAccess(const std::string &aText, Access &aAccess)
{
    static const std::pair<const char *, Access> kModes[] = {
        {"RO", Access::RO}, {"WO", Access::WO}, {"RW", Access::RW}};
    return tn::genicam::LookupName(kModes, aText, aAccess);
}

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
    const bool lReadable =
        (aFirst == Access::RO || aFirst == Access::RW) && (aSecond == Access::RO || aSecond == Access::RW);
    const bool lWritable =
        (aFirst == Access::WO || aFirst == Access::RW) && (aSecond == Access::WO || aSecond == Access::RW);
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
      mPollingTime(-1), mHidden(false), mCategory(nullptr), mAccess(Access::NI), mAccessStamp(0),
      mAccessOperation(0), mAccessVolatile(false)
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
    case NodeKind::ConfRom:
        return "ConfRom";
    case NodeKind::TextDesc:
        return "TextDesc";
    case NodeKind::IntKey:
        return "IntKey";
    case NodeKind::AdvFeatureLock:
        return "AdvFeatureLock";
    case NodeKind::SmartFeature:
        return "SmartFeature";
    case NodeKind::DcamLock:
        return "DcamLock";
    }
    return "Node";
}

namespace
{
// Elements a node can do without: a malformed one leaves the default.
bool IsOptionalElement(const std::string &aName)
{
    static const std::unordered_set<std::string> kOptional = {"ToolTip",
                                                              "Description",
                                                              "DisplayName",
                                                              "Visibility",
                                                              "pIsImplemented",
                                                              "pIsAvailable",
                                                              "pIsLocked",
                                                              "ImposedAccessMode",
                                                              "pInvalidator",
                                                              "pSelected",
                                                              "Streamable",
                                                              "PollingTime",
                                                              "Representation",
                                                              "Unit",
                                                              "Sign",
                                                              "Endianess",
                                                              "AccessMode",
                                                              "Cachable",
                                                              "Slope",
                                                              "DisplayNotation",
                                                              "DisplayPrecision",
                                                              "IsLinear",
                                                              "IsSelfClearing",
                                                              "Min",
                                                              "Max",
                                                              "Inc",
                                                              "pMin",
                                                              "pMax",
                                                              "pInc",
                                                              "OnValue",
                                                              "OffValue",
                                                              "pFeature",
                                                              "pAlias",
                                                              "pCastAlias",
                                                              "pError",
                                                              "pValueCopy",
                                                              "EnumEntry",
                                                              "Timeout",
                                                              "MergePriority",
                                                              "EventID"};
    return kOptional.count(aName) != 0;
}
} // namespace

void INode::Define(Element aElement)
{
    Apply(aElement, nullptr);
    mDefinition.push_back(std::move(aElement));
}

void INode::DefineShared(const std::shared_ptr<const Element> &aElement)
{
    Apply(*aElement, &aElement);
    mSharedDefinition.push_back(aElement);
}

void INode::Apply(const Element &aElement, const std::shared_ptr<const Element> *aShared)
{
    // The texts a user interface shows are kept as they are, or shared.
    std::shared_ptr<const std::string> *lText = aElement.Is("ToolTip")       ? &mToolTip
                                                : aElement.Is("Description") ? &mDescription
                                                : aElement.Is("DisplayName") ? &mDisplayName
                                                                             : nullptr;
    if (lText != nullptr)
    {
        *lText = aShared != nullptr ? std::shared_ptr<const std::string>(*aShared, &aElement.mText)
                                    : std::make_shared<const std::string>(aElement.mText);
        return;
    }
    // Elements the engine does not know are kept in the definition only.
    try
    {
        ApplyElement(aElement);
    }
    catch (const LimitError &)
    {
        throw;
    }
    catch (const GenApiError &lError)
    {
        if (IsOptionalElement(aElement.mName))
        {
            Warn(std::string(lError.what()) + "; the default applies");
        }
        else
        {
            MarkFaulty(lError.what());
        }
    }
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
            Warn("NameSpace '" + aValue + "' is neither Standard nor Custom; the default applies");
        }
    }
}

void INode::Warn(const std::string &aMessage) const
{
    const std::string lPrefix = Describe();
    mMap.AddWarning(aMessage.compare(0, lPrefix.size(), lPrefix) == 0 ? aMessage : lPrefix + ": " + aMessage);
}

void INode::MarkFaulty(const std::string &aFault)
{
    if (mFault.empty())
    {
        const std::string lPrefix = Describe();
        mFault = aFault.compare(0, lPrefix.size(), lPrefix) == 0 ? aFault : lPrefix + ": " + aFault;
        mMap.AddWarning(mFault + "; the node fails wherever it is used");
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

void INode::CheckInterface(const NodeRef &aRef, const char *aWhat, std::initializer_list<InterfaceKind> aKinds) const
{
    // A missing node fails by itself where it is read.
    if (aRef.mNode == nullptr || aRef.mNode->IsMissing())
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
    if (aElement.Is("Visibility"))
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
    else if (aElement.Is("pIsImplemented"))
    {
        SetRef(mIsImplemented, aElement);
    }
    else if (aElement.Is("pIsAvailable"))
    {
        SetRef(mIsAvailable, aElement);
    }
    else if (aElement.Is("pIsLocked"))
    {
        SetRef(mIsLocked, aElement);
    }
    else if (aElement.Is("ImposedAccessMode"))
    {
        if (!ParseAccess(aElement.mText, mImposedAccess))
        {
            FailDefinition(Describe() + ": ImposedAccessMode '" + aElement.mText + "' is none of RO, WO, RW");
        }
        mHasImposedAccess = true;
    }
    else if (aElement.Is("pInvalidator"))
    {
        mInvalidators.emplace_back();
        SetRef(mInvalidators.back(), aElement);
    }
    else if (aElement.Is("pSelected"))
    {
        mSelected.emplace_back();
        SetRef(mSelected.back(), aElement);
    }
    else if (aElement.Is("Streamable"))
    {
        mStreamable = ParseYesNo(aElement);
    }
    else if (aElement.Is("PollingTime"))
    {
        mPollingTime = ParseInteger(aElement);
    }
    else if (aElement.Is("pAlias"))
    {
        SetRef(mAlias, aElement);
    }
    else if (aElement.Is("pCastAlias"))
    {
        SetRef(mCastAlias, aElement);
    }
    else if (aElement.Is("pError"))
    {
        SetRef(mError, aElement);
    }
    else if (aElement.Is("pValueCopy"))
    {
        NodeRef lCopy;
        SetRef(lCopy, aElement);
        mValueCopies.push_back(lCopy);
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
                                 std::vector<NodeRef *> &aSelected, std::vector<NodeRef *> &aFeatures,
                                 std::vector<NodeRef *> &aOptional)
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
    for (NodeRef *lRef : {&mAlias, &mCastAlias, &mError})
    {
        if (lRef->IsSet())
        {
            aOptional.push_back(lRef);
        }
    }
    for (NodeRef &lRef : mValueCopies)
    {
        aOptional.push_back(&lRef);
    }
}

// --- Access ---------------------------------------------------------------------

bool AccessScan::Scan(const NodeRef &aRef, bool aLeaveOutFaults, Access &aAccess)
{
    INode *lNode = aRef.mNode;
    if (lNode == nullptr || mNotImplemented || (aLeaveOutFaults && (lNode->IsMissing() || lNode->IsFaulty())))
    {
        return false;
    }
    aAccess = lNode->GetAccess();
    mVolatile = mVolatile || lNode->IsAccessVolatile();
    if (aAccess == Access::NI)
    {
        mNotImplemented = true;
    }
    else if (aAccess == Access::NA)
    {
        mNotAvailable = true;
    }
    return true;
}

void AccessScan::DependOn(INode &aNode)
{
    mVolatile = mVolatile || aNode.IsAccessVolatile();
}

void AccessScan::ValueRead(INode &aNode)
{
    if (mVolatile)
    {
        return;
    }
    try
    {
        mVolatile = !aNode.IsCached();
    }
    catch (const GenApiError &)
    {
        mVolatile = true;
    }
}

void AccessScan::Input(const NodeRef &aRef)
{
    Access lAccess;
    Scan(aRef, true, lAccess);
}

void AccessScan::Read(const NodeRef &aRef)
{
    Access lAccess;
    if (Scan(aRef, false, lAccess) && lAccess == Access::WO)
    {
        mNotAvailable = true;
    }
}

void AccessScan::Value(const NodeRef &aRef)
{
    Access lAccess;
    if (Scan(aRef, false, lAccess))
    {
        Value(lAccess);
    }
}

void AccessScan::Value(Access aAccess)
{
    if (aAccess == Access::NI)
    {
        mNotImplemented = true;
    }
    else if (aAccess == Access::NA)
    {
        mNotAvailable = true;
    }
    else
    {
        mBase = Combine(mBase, aAccess);
    }
}

namespace
{
bool IsReadableAccess(Access aAccess)
{
    return aAccess == Access::RO || aAccess == Access::RW;
}
} // namespace

Access INode::GetAccess()
{
    if (!mFault.empty())
    {
        throw GenApiError(TN_GENICAM_XML_ERROR, mFault);
    }
    if (mAccessStamp == mMap.GetAccessStamp() && (!mAccessVolatile || mAccessOperation == mMap.GetOperation()))
    {
        return mAccess;
    }
    DepthGuard lGuard(mMap);
    AccessScan lScan;
    lScan.Read(mIsImplemented);
    lScan.Read(mIsAvailable);
    lScan.Read(mIsLocked);
    ScanAccess(lScan);
    const auto lHolds = [&](const NodeRef &aPredicate) {
        const bool lValue = RefBool(aPredicate);
        lScan.ValueRead(*aPredicate.mNode);
        return lValue;
    };
    Access lAccess = Access::NI;
    // A false pIsImplemented outweighs what is not available.
    if (lScan.IsNotImplemented() || (mIsImplemented.mNode != nullptr &&
                                     IsReadableAccess(mIsImplemented.mNode->GetAccess()) && !lHolds(mIsImplemented)))
    {
        lAccess = Access::NI;
    }
    else if (lScan.IsNotAvailable() || (mIsAvailable.mNode != nullptr && !lHolds(mIsAvailable)))
    {
        lAccess = Access::NA;
    }
    else
    {
        lAccess = lScan.GetBase();
        if (mIsLocked.mNode != nullptr && lHolds(mIsLocked))
        {
            lAccess = Lock(lAccess);
        }
        if (mHasImposedAccess)
        {
            lAccess = Combine(lAccess, mImposedAccess);
        }
    }
    mAccess = lAccess;
    mAccessStamp = mMap.GetAccessStamp();
    mAccessOperation = mMap.GetOperation();
    mAccessVolatile = lScan.IsVolatile();
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
        if (lNode->mIsLocked.mNode != nullptr && lNode->mIsLocked.mNode->IsReadable() &&
            lNode->RefBool(lNode->mIsLocked))
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

void INode::CheckDeviceError()
{
    INode *lError = mError.mNode;
    if (lError == nullptr)
    {
        return;
    }
    // The device sets the error while it handles the write: read it afresh.
    mMap.DropCaches(*lError);
    DepthGuard lGuard(mMap);
    if (!lError->IsReadable())
    {
        return;
    }
    const bool lEnumeration = lError->GetInterface() == InterfaceKind::Enumeration;
    const int64_t lCode = lEnumeration ? static_cast<EnumerationNode *>(lError)->GetRawValue() : lError->GetInt();
    if (lCode == 0)
    {
        return;
    }
    std::string lWhat = "error " + std::to_string(lCode);
    if (lEnumeration)
    {
        if (const EnumEntryNode *lEntry = static_cast<EnumerationNode *>(lError)->FindEntry(lCode))
        {
            lWhat = lEntry->GetSymbolic();
            const std::string &lText =
                !lEntry->GetDescription().empty() ? lEntry->GetDescription() : lEntry->GetToolTip();
            if (!lText.empty())
            {
                lWhat += " (" + lText + ")";
            }
        }
    }
    Fail(Describe() + ": the device reports " + lWhat);
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
            Fail(Describe() + ": " + std::to_string(aValue) + " does not fit the increment " +
                 std::to_string(lIncrement) + " from " + std::to_string(lMinimum));
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

// --- IntValueNode: Enumeration, Boolean, Command --------------------------------

bool IntValueNode::ApplyElement(const Element &aElement)
{
    return ApplyValue(aElement, "Value", "pValue", mValue) || INode::ApplyElement(aElement);
}

void IntValueNode::CollectReferences(std::vector<NodeRef *> &aReferences)
{
    CollectValue(mValue, aReferences);
    INode::CollectReferences(aReferences);
}

void IntValueNode::Validate()
{
    if (!mValue.IsSet())
    {
        FailDefinition(Describe() + " has neither Value nor pValue");
    }
    CheckInterface(mValue.mRef, "pValue", {InterfaceKind::Integer});
}

} // namespace TN_GENAPI_NS
