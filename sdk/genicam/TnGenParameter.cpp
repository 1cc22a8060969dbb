// The public parameter classes over the engine's nodes.
#include "TnGenParameter.h"

#include <string.h>

#include "TnGenApi.h"
#include "TnGenParameterState.h"
#include "TnText.h"

using tn::genicam::RunOnNode;
using TnGenApi::Access;
using TnGenApi::EnumEntryNode;
using TnGenApi::EnumerationNode;
using TnGenApi::GenApiError;
using TnGenApi::INode;
using TnGenApi::InterfaceKind;

namespace
{
TnString FromUtf8(const std::string &aText)
{
    return TnString(aText.c_str());
}

TnResult Invalid(const char *aWhat)
{
    return TnResult(TN_INVALID_PARAMETER, TnString(aWhat));
}

// Whether a user interface at aVisibility shows the node.
bool IsShownAt(const INode &aNode, TnGenVisibility aVisibility)
{
    return static_cast<int>(aNode.GetVisibility()) <= static_cast<int>(aVisibility);
}

// A Boolean of a node that belongs to no parameter (an enumeration entry, a
// category), read under its node map's lock; aValue stays on failure.
TnResult GetNodeFlag(INode *aNode, bool (INode::*aFlag)(), bool &aValue)
{
    bool lValue = false;
    const TnResult lResult = RunOnNode(aNode, [&]() { lValue = (aNode->*aFlag)(); });
    if (lResult.IsOK())
    {
        aValue = lValue;
    }
    return lResult;
}

// Checks a register transfer's buffer and length, then runs aTransfer under
// the lock; transfers never reach past the register.
template <typename Copy>
TnResult Transfer(tn::genicam::ParameterArrayState &aState, INode &aNode, const void *aBuffer, int64_t aLength,
                  Copy aTransfer)
{
    if (aLength < 0 || (aBuffer == nullptr && aLength != 0))
    {
        return Invalid("a null buffer or a negative length");
    }
    return aState.Run([&]() {
        const int64_t lLength = aNode.GetLength();
        if (aLength > lLength)
        {
            throw GenApiError(TN_INVALID_PARAMETER, aNode.GetName() + " holds " + std::to_string(lLength) +
                                                        " bytes, fewer than " + std::to_string(aLength));
        }
        if (aLength > 0)
        {
            aTransfer(static_cast<size_t>(aLength));
        }
    });
}

// The position of an entry node among an enumeration's entries.
size_t EntryIndex(INode *aEnumeration, const EnumEntryNode *aEntry)
{
    const auto &lEntries = static_cast<EnumerationNode *>(aEnumeration)->GetEntries();
    for (size_t lIndex = 0; lIndex < lEntries.size(); ++lIndex)
    {
        if (lEntries[lIndex] == aEntry)
        {
            return lIndex;
        }
    }
    return lEntries.size();
}
} // namespace

// --- TnGenParameter -------------------------------------------------------------

TnGenParameter::TnGenParameter(TN_GENAPI_NS::INode *aNode) : mNode(aNode), mArrayState(nullptr), mUpdatesEnabled(true)
{
}

TnGenParameter::~TnGenParameter() = default;

#define TN_RUN(aBody) mArrayState->Run([&]() { aBody; })

// Reads a value into aOut only when the operation succeeds.
#define TN_GET(aType, aOut, aExpression) \
    aType lValue{}; \
    const TnResult lResult = TN_RUN(lValue = (aExpression)); \
    if (lResult.IsOK()) \
    { \
        aOut = lValue; \
    } \
    return lResult

TnResult TnGenParameter::GetName(TnString &aName) const
{
    aName = FromUtf8(mNode->GetName());
    return TnResult();
}

TnResult TnGenParameter::GetDisplayName(TnString &aDisplayName) const
{
    aDisplayName = FromUtf8(mNode->GetDisplayName());
    return TnResult();
}

TnResult TnGenParameter::GetToolTip(TnString &aToolTip) const
{
    aToolTip = FromUtf8(mNode->GetToolTip());
    return TnResult();
}

TnResult TnGenParameter::GetDescription(TnString &aDescription) const
{
    aDescription = FromUtf8(mNode->GetDescription());
    return TnResult();
}

TnResult TnGenParameter::GetCategory(TnString &aCategory) const
{
    INode *lCategory = mNode->GetCategory();
    aCategory = FromUtf8(lCategory != nullptr ? lCategory->GetName() : std::string());
    return TnResult();
}

TnResult TnGenParameter::ToString(TnString &aValue) const
{
    std::string lValue;
    const TnResult lResult = TN_RUN(lValue = mNode->ToString());
    if (lResult.IsOK())
    {
        aValue = FromUtf8(lValue);
    }
    return lResult;
}

TnResult TnGenParameter::FromString(const TnString &aValue)
{
    if (aValue.GetAscii() == nullptr)
    {
        return Invalid("the text is null");
    }
    const std::string lValue = tn::ToString(aValue);
    return TN_RUN(mNode->FromString(lValue));
}

TnResult TnGenParameter::GetType(TnGenType &aType) const
{
    switch (mNode->GetInterface())
    {
    case InterfaceKind::Integer:
        aType = TnGenTypeInteger;
        break;
    case InterfaceKind::Float:
        aType = TnGenTypeFloat;
        break;
    case InterfaceKind::Enumeration:
        aType = TnGenTypeEnum;
        break;
    case InterfaceKind::Boolean:
        aType = TnGenTypeBoolean;
        break;
    case InterfaceKind::String:
        aType = TnGenTypeString;
        break;
    case InterfaceKind::Command:
        aType = TnGenTypeCommand;
        break;
    case InterfaceKind::Register:
        aType = TnGenTypeRegister;
        break;
    default:
        aType = TnGenTypeUndefined;
        break;
    }
    return TnResult();
}

TnResult TnGenParameter::GetNameSpace(TnGenNameSpace &aNameSpace) const
{
    aNameSpace = mNode->GetNameSpace();
    return TnResult();
}

TnResult TnGenParameter::GetVisibility(TnGenVisibility &aVisibility) const
{
    aVisibility = mNode->GetVisibility();
    return TnResult();
}

TnResult TnGenParameter::IsVisible(TnGenVisibility aVisibility, bool &aVisible) const
{
    aVisible = IsShownAt(*mNode, aVisibility);
    return TnResult();
}

TnResult TnGenParameter::IsValueCached(bool &aCached) const
{
    TN_GET(bool, aCached, mNode->IsCached());
}

TnResult TnGenParameter::IsPersistent(bool &aPersistent) const
{
    aPersistent = mNode->IsStreamable();
    return TnResult();
}

TnResult TnGenParameter::IsImplemented(bool &aImplemented) const
{
    TN_GET(bool, aImplemented, mNode->IsImplemented());
}

TnResult TnGenParameter::IsAvailable(bool &aAvailable) const
{
    TN_GET(bool, aAvailable, mNode->IsAvailable());
}

TnResult TnGenParameter::IsWritable(bool &aWritable) const
{
    TN_GET(bool, aWritable, mNode->IsWritable());
}

TnResult TnGenParameter::IsReadable(bool &aReadable) const
{
    TN_GET(bool, aReadable, mNode->IsReadable());
}

TnResult TnGenParameter::IsStreamable(bool &aStreamable) const
{
    aStreamable = mNode->IsStreamable();
    return TnResult();
}

TnResult TnGenParameter::IsSelector(bool &aSelector) const
{
    aSelector = !mNode->GetSelected().empty();
    return TnResult();
}

TnResult TnGenParameter::GetSelectedParameters(TnGenParameterList &aList) const
{
    aList.Clear();
    for (INode *lNode : mNode->GetSelected())
    {
        if (TnGenParameter *lParameter = mArrayState->ParameterOf(lNode))
        {
            aList.Add(lParameter);
        }
    }
    return TnResult();
}

TnResult TnGenParameter::GetSelectingParameters(TnGenParameterList &aList) const
{
    aList.Clear();
    for (INode *lNode : mNode->GetSelecting())
    {
        if (TnGenParameter *lParameter = mArrayState->ParameterOf(lNode))
        {
            aList.Add(lParameter);
        }
    }
    return TnResult();
}

TN_GENAPI_NS::INode *TnGenParameter::GetNode()
{
    return mNode;
}

TnResult TnGenParameter::RegisterEventSink(TnGenEventSink *aEventSink)
{
    return mArrayState->RegisterSink(*this, aEventSink);
}

TnResult TnGenParameter::UnregisterEventSink(TnGenEventSink *aEventSink)
{
    return mArrayState->UnregisterSink(*this, aEventSink);
}

bool TnGenParameter::GetUpdatesEnabled()
{
    return mArrayState->GetUpdatesEnabled(*this);
}

void TnGenParameter::SetUpdatesEnabled(bool aEnabled)
{
    mArrayState->SetUpdatesEnabled(*this, aEnabled);
}

// --- Typed parameters -------------------------------------------------------------

TnGenInteger::TnGenInteger(TN_GENAPI_NS::INode *aNode) : TnGenParameter(aNode)
{
}

TnResult TnGenInteger::GetValue(int64_t &aValue) const
{
    TN_GET(int64_t, aValue, mNode->GetInt());
}

TnResult TnGenInteger::SetValue(int64_t aValue)
{
    return TN_RUN(mNode->SetInt(aValue));
}

TnResult TnGenInteger::GetMin(int64_t &aMin) const
{
    TN_GET(int64_t, aMin, mNode->GetIntMin());
}

TnResult TnGenInteger::GetMax(int64_t &aMax) const
{
    TN_GET(int64_t, aMax, mNode->GetIntMax());
}

TnResult TnGenInteger::GetIncrement(int64_t &aIncrement) const
{
    TN_GET(int64_t, aIncrement, mNode->GetIntInc());
}

TnResult TnGenInteger::GetRepresentation(TnGenRepresentation &aRepresentation) const
{
    TN_GET(TnGenRepresentation, aRepresentation, mNode->GetRepresentation());
}

TnResult TnGenInteger::GetUnit(TnString &aUnit) const
{
    TN_GET(TnString, aUnit, FromUtf8(mNode->GetUnit()));
}

TnGenFloat::TnGenFloat(TN_GENAPI_NS::INode *aNode) : TnGenParameter(aNode)
{
}

TnResult TnGenFloat::GetValue(double &aValue) const
{
    TN_GET(double, aValue, mNode->GetFloat());
}

TnResult TnGenFloat::SetValue(double aValue)
{
    return TN_RUN(mNode->SetFloat(aValue));
}

TnResult TnGenFloat::GetMin(double &aMin) const
{
    TN_GET(double, aMin, mNode->GetFloatMin());
}

TnResult TnGenFloat::GetMax(double &aMax) const
{
    TN_GET(double, aMax, mNode->GetFloatMax());
}

TnResult TnGenFloat::GetRepresentation(TnGenRepresentation &aRepresentation) const
{
    TN_GET(TnGenRepresentation, aRepresentation, mNode->GetRepresentation());
}

TnResult TnGenFloat::GetUnit(TnString &aUnit) const
{
    TN_GET(TnString, aUnit, FromUtf8(mNode->GetUnit()));
}

TnGenBoolean::TnGenBoolean(TN_GENAPI_NS::INode *aNode) : TnGenParameter(aNode)
{
}

TnResult TnGenBoolean::GetValue(bool &aValue) const
{
    TN_GET(bool, aValue, mNode->GetBool());
}

TnResult TnGenBoolean::SetValue(bool aValue)
{
    return TN_RUN(mNode->SetBool(aValue));
}

TnGenString::TnGenString(TN_GENAPI_NS::INode *aNode) : TnGenParameter(aNode)
{
}

TnResult TnGenString::GetValue(TnString &aValue) const
{
    TN_GET(TnString, aValue, FromUtf8(mNode->GetString()));
}

TnResult TnGenString::SetValue(const TnString &aValue)
{
    if (aValue.GetAscii() == nullptr)
    {
        return Invalid("the text is null");
    }
    const std::string lValue = tn::ToString(aValue);
    return TN_RUN(mNode->SetString(lValue));
}

TnResult TnGenString::GetMaxLength(int64_t &aMaxLength) const
{
    TN_GET(int64_t, aMaxLength, mNode->GetMaxLength());
}

TnGenCommand::TnGenCommand(TN_GENAPI_NS::INode *aNode) : TnGenParameter(aNode)
{
}

TnResult TnGenCommand::Execute()
{
    return TN_RUN(mNode->Execute());
}

TnResult TnGenCommand::IsDone(bool &aDone)
{
    TN_GET(bool, aDone, mNode->IsDone());
}

TnGenRegister::TnGenRegister(TN_GENAPI_NS::INode *aNode) : TnGenParameter(aNode)
{
}

TnResult TnGenRegister::GetLength(int64_t &aLength) const
{
    TN_GET(int64_t, aLength, mNode->GetLength());
}

TnResult TnGenRegister::Get(uint8_t *aBuffer, int64_t aLength) const
{
    return Transfer(*mArrayState, *mNode, aBuffer, aLength, [&](size_t aSize) { mNode->GetBytes(aBuffer, aSize); });
}

TnResult TnGenRegister::Set(const uint8_t *aBuffer, int64_t aLength)
{
    return Transfer(*mArrayState, *mNode, aBuffer, aLength, [&](size_t aSize) { mNode->SetBytes(aBuffer, aSize); });
}

// --- Enumerations -----------------------------------------------------------------

TnGenEnum::TnGenEnum(TN_GENAPI_NS::INode *aNode) : TnGenParameter(aNode)
{
    for (EnumEntryNode *lEntry : static_cast<EnumerationNode *>(aNode)->GetEntries())
    {
        mEntries.push_back(new TnGenEnumEntry(lEntry));
    }
}

TnGenEnum::~TnGenEnum()
{
    for (TnGenEnumEntry *lEntry : mEntries)
    {
        delete lEntry;
    }
}

TnResult TnGenEnum::GetValue(int64_t &aValue) const
{
    TN_GET(int64_t, aValue, static_cast<EnumerationNode *>(mNode)->GetRawValue());
}

TnResult TnGenEnum::GetValue(TnString &aValue) const
{
    TN_GET(TnString, aValue, FromUtf8(mNode->GetString()));
}

TnResult TnGenEnum::SetValue(int64_t aValue)
{
    return TN_RUN(mNode->SetInt(aValue));
}

TnResult TnGenEnum::SetValue(const TnString &aValue)
{
    if (aValue.GetAscii() == nullptr)
    {
        return Invalid("the entry name is null");
    }
    const std::string lValue = tn::ToString(aValue);
    return TN_RUN(mNode->SetString(lValue));
}

TnResult TnGenEnum::GetEntriesCount(int64_t &aCount) const
{
    aCount = static_cast<int64_t>(mEntries.size());
    return TnResult();
}

TnResult TnGenEnum::GetEntryByIndex(int64_t aIndex, const TnGenEnumEntry **aEntry) const
{
    if (aEntry == nullptr)
    {
        return Invalid("no place for the entry");
    }
    *aEntry = nullptr;
    if (aIndex < 0 || aIndex >= static_cast<int64_t>(mEntries.size()))
    {
        return tn::Failure(TN_INVALID_PARAMETER,
                           "no entry at index " + std::to_string(aIndex) + " of " + std::to_string(mEntries.size()));
    }
    *aEntry = mEntries[static_cast<size_t>(aIndex)];
    return TnResult();
}

TnResult TnGenEnum::GetEntryByValue(int64_t aValue, const TnGenEnumEntry **aEntry) const
{
    if (aEntry == nullptr)
    {
        return Invalid("no place for the entry");
    }
    *aEntry = nullptr;
    const size_t lIndex = EntryIndex(mNode, static_cast<EnumerationNode *>(mNode)->FindEntry(aValue));
    if (lIndex < mEntries.size())
    {
        *aEntry = mEntries[lIndex];
        return TnResult();
    }
    return tn::Failure(TN_NOT_FOUND, mNode->GetName() + " has no entry with the value " + std::to_string(aValue));
}

TnResult TnGenEnum::GetEntryByName(const TnString &aName, const TnGenEnumEntry **aEntry) const
{
    if (aEntry == nullptr)
    {
        return Invalid("no place for the entry");
    }
    *aEntry = nullptr;
    const std::string lName = tn::ToString(aName);
    const size_t lIndex = EntryIndex(mNode, static_cast<EnumerationNode *>(mNode)->FindEntry(lName));
    if (lIndex < mEntries.size())
    {
        *aEntry = mEntries[lIndex];
        return TnResult();
    }
    return tn::Failure(TN_NOT_FOUND, mNode->GetName() + " has no entry '" + lName + "'");
}

TnGenEnumEntry::TnGenEnumEntry(TN_GENAPI_NS::INode *aNode) : mNode(aNode)
{
}

TnGenEnumEntry::~TnGenEnumEntry() = default;

TnResult TnGenEnumEntry::GetValue(int64_t &aValue) const
{
    aValue = static_cast<EnumEntryNode *>(mNode)->GetValue();
    return TnResult();
}

TnResult TnGenEnumEntry::GetName(TnString &aName) const
{
    aName = FromUtf8(static_cast<EnumEntryNode *>(mNode)->GetSymbolic());
    return TnResult();
}

TnResult TnGenEnumEntry::GetDisplayName(TnString &aDisplayName) const
{
    const EnumEntryNode *lEntry = static_cast<EnumEntryNode *>(mNode);
    // Without a DisplayName of its own an entry shows its symbolic name.
    aDisplayName =
        FromUtf8(lEntry->GetDisplayName() == lEntry->GetName() ? lEntry->GetSymbolic() : lEntry->GetDisplayName());
    return TnResult();
}

TnResult TnGenEnumEntry::GetDescription(TnString &aDescription) const
{
    aDescription = FromUtf8(mNode->GetDescription());
    return TnResult();
}

TnResult TnGenEnumEntry::GetToolTip(TnString &aToolTip) const
{
    aToolTip = FromUtf8(mNode->GetToolTip());
    return TnResult();
}

TnResult TnGenEnumEntry::GetVisibility(TnGenVisibility &aVisibility) const
{
    aVisibility = mNode->GetVisibility();
    return TnResult();
}

TnResult TnGenEnumEntry::GetNameSpace(TnGenNameSpace &aNameSpace) const
{
    aNameSpace = mNode->GetNameSpace();
    return TnResult();
}

TnResult TnGenEnumEntry::IsVisible(TnGenVisibility aVisibility, bool &aVisible) const
{
    aVisible = IsShownAt(*mNode, aVisibility);
    return TnResult();
}

TnResult TnGenEnumEntry::IsAvailable(bool &aAvailable) const
{
    return GetNodeFlag(mNode, &INode::IsAvailable, aAvailable);
}

// --- Categories -------------------------------------------------------------------

TnGenCategory::TnGenCategory(TN_GENAPI_NS::INode *aNode) : mNode(aNode)
{
}

TnGenCategory::~TnGenCategory() = default;

TnResult TnGenCategory::GetName(TnString &aName) const
{
    aName = FromUtf8(mNode->GetName());
    return TnResult();
}

TnResult TnGenCategory::GetDisplayName(TnString &aDisplayName) const
{
    aDisplayName = FromUtf8(mNode->GetDisplayName());
    return TnResult();
}

TnResult TnGenCategory::GetToolTip(TnString &aToolTip) const
{
    aToolTip = FromUtf8(mNode->GetToolTip());
    return TnResult();
}

TnResult TnGenCategory::GetDescription(TnString &aDescription) const
{
    aDescription = FromUtf8(mNode->GetDescription());
    return TnResult();
}

TnResult TnGenCategory::GetNameSpace(TnGenNameSpace &aNameSpace) const
{
    aNameSpace = mNode->GetNameSpace();
    return TnResult();
}

TnResult TnGenCategory::GetVisibility(TnGenVisibility &aVisibility) const
{
    aVisibility = mNode->GetVisibility();
    return TnResult();
}

TnResult TnGenCategory::IsVisible(TnGenVisibility aVisibility, bool &aVisible) const
{
    aVisible = IsShownAt(*mNode, aVisibility);
    return TnResult();
}

TnResult TnGenCategory::IsImplemented(bool &aImplemented) const
{
    return GetNodeFlag(mNode, &INode::IsImplemented, aImplemented);
}

TN_GENAPI_NS::INode *TnGenCategory::GetNode()
{
    return mNode;
}

// --- TnGenParameterList -----------------------------------------------------------

TnGenParameterList::TnGenParameterList() : mPosition(0)
{
}

TnGenParameterList::~TnGenParameterList() = default;

TnGenParameterList::TnGenParameterList(const TnGenParameterList &aList) : mPosition(0)
{
    std::lock_guard<std::mutex> lLock(aList.mMutex);
    mItems = aList.mItems;
    mPosition = aList.mPosition;
}

TnGenParameterList &TnGenParameterList::operator=(const TnGenParameterList &aList)
{
    if (this != &aList)
    {
        std::vector<TnGenParameter *> lItems;
        size_t lPosition;
        {
            std::lock_guard<std::mutex> lLock(aList.mMutex);
            lItems = aList.mItems;
            lPosition = aList.mPosition;
        }
        std::lock_guard<std::mutex> lLock(mMutex);
        mItems.swap(lItems);
        mPosition = lPosition;
    }
    return *this;
}

void TnGenParameterList::Add(TnGenParameter *aParameter)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mItems.push_back(aParameter);
    mPosition = 0;
}

void TnGenParameterList::Clear()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mItems.clear();
    mPosition = 0;
}

uint32_t TnGenParameterList::GetSize() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return static_cast<uint32_t>(mItems.size());
}

TnGenParameter *TnGenParameterList::GetItem(uint32_t aIndex)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return aIndex < mItems.size() ? mItems[aIndex] : nullptr;
}

TnGenParameter *TnGenParameterList::operator[](uint32_t aIndex)
{
    return GetItem(aIndex);
}

TnGenParameter *TnGenParameterList::GetFirst()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mItems.empty())
    {
        mPosition = 0;
        return nullptr;
    }
    mPosition = 1;
    return mItems[0];
}

TnGenParameter *TnGenParameterList::GetNext()
{
    std::lock_guard<std::mutex> lLock(mMutex);
    if (mPosition >= mItems.size())
    {
        return nullptr;
    }
    return mItems[mPosition++];
}
