// The parameter array, its state, the state stack, and the internal API.
#include "TnGenParameterArray.h"

#include <string.h>

#include <algorithm>

#include "TnByteOrder.h"
#include "TnGenApi.h"
#include "TnGenApiText.h"
#include "TnGenICamInternal.h"
#include "TnGenParameterState.h"
#include "TnLog.h"
#include "TnLogDispatch.h"
#include "TnText.h"

using TnGenApi::GenApiError;
using TnGenApi::INode;
using TnGenApi::INodeMap;
using TnGenApi::InterfaceKind;
using TnGenApi::NodeKind;

namespace tn
{
namespace genicam
{

TnResult ResultOf(const std::exception_ptr &aError)
{
    try
    {
        std::rethrow_exception(aError);
    }
    catch (const GenApiError &lError)
    {
        return TnResult(lError.GetCode(), TnString(lError.what()));
    }
    catch (const std::bad_alloc &)
    {
        return TnResult(TN_NOT_ENOUGH_MEMORY, TnString("no memory for the feature's operation"));
    }
    catch (const std::exception &lError)
    {
        return TnResult(TN_GENERIC_ERROR, TnString(lError.what()));
    }
    catch (...)
    {
        return TnResult(TN_GENERIC_ERROR, TnString("unknown failure"));
    }
}

namespace
{
// The node maps whose operations this thread is inside of, innermost last.
thread_local std::vector<const INodeMap *> tOperating;

// This thread is inside an operation on a node map while it lives.
class Operation
{
public:
    explicit Operation(const INodeMap &aMap) { tOperating.push_back(&aMap); }
    ~Operation() { tOperating.pop_back(); }
    Operation(const Operation &) = delete;
    Operation &operator=(const Operation &) = delete;
};
} // namespace

ParameterArrayState::Use::Use(ParameterArrayState &aState) : mState(aState)
{
    tOperating.push_back(mState.mNodeMap.get());
    std::lock_guard<std::mutex> lLock(mState.mUseMutex);
    mState.mUsers.push_back(std::this_thread::get_id());
}

ParameterArrayState::Use::~Use()
{
    tOperating.pop_back();
    std::lock_guard<std::mutex> lLock(mState.mUseMutex);
    mState.mUsers.erase(std::find(mState.mUsers.begin(), mState.mUsers.end(), std::this_thread::get_id()));
    mState.mUseIdle.notify_all();
}

TnResult RunOnNode(INode *aNode, const std::function<void()> &aOperation)
{
    if (aNode == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no node"));
    }
    // No sink is told afterwards: the lock covers all of the operation.
    const Operation lOperating(aNode->GetNodeMap());
    std::lock_guard<std::recursive_mutex> lLock(aNode->GetNodeMap().GetMutex());
    aNode->GetNodeMap().BeginOperation();
    try
    {
        aOperation();
    }
    catch (...)
    {
        return ResultOf(std::current_exception());
    }
    return TnResult();
}

ParameterArrayState::ParameterArrayState(std::unique_ptr<INodeMap> aNodeMap, std::shared_ptr<IPort> aDevicePort)
    : mNodeMap(std::move(aNodeMap)), mDevicePort(std::move(aDevicePort))
{
    const std::vector<INode *> &lNodes = mNodeMap->GetNodes();
    mByNode.assign(lNodes.size(), nullptr);
    for (INode *lNode : lNodes)
    {
        if (lNode->IsHidden() || lNode->GetKind() == NodeKind::EnumEntry)
        {
            continue;
        }
        if (lNode->GetKind() == NodeKind::Category)
        {
            mCategories.emplace_back(new TnGenCategory(lNode));
            mCategoriesByName[lNode->GetName()] = mCategories.back().get();
            continue;
        }
        std::unique_ptr<TnGenParameter> lParameter;
        switch (lNode->GetInterface())
        {
        case InterfaceKind::Integer:
            lParameter.reset(new TnGenInteger(lNode));
            break;
        case InterfaceKind::Float:
            lParameter.reset(new TnGenFloat(lNode));
            break;
        case InterfaceKind::Enumeration:
            lParameter.reset(new TnGenEnum(lNode));
            break;
        case InterfaceKind::Boolean:
            lParameter.reset(new TnGenBoolean(lNode));
            break;
        case InterfaceKind::Command:
            lParameter.reset(new TnGenCommand(lNode));
            break;
        case InterfaceKind::String:
            lParameter.reset(new TnGenString(lNode));
            break;
        case InterfaceKind::Register:
            lParameter.reset(new TnGenRegister(lNode));
            break;
        default:
            // Ports and plain nodes: a parameter of no particular type.
            struct PlainParameter : TnGenParameter
            {
                explicit PlainParameter(INode *aNode) : TnGenParameter(aNode) {}
            };
            lParameter.reset(new PlainParameter(lNode));
            break;
        }
        lParameter->mArrayState = this;
        mByNode[lNode->GetIndex()] = lParameter.get();
        mParametersByName[lNode->GetName()] = lParameter.get();
        mParameters.push_back(std::move(lParameter));
    }
}

ParameterArrayState::~ParameterArrayState()
{
    mCategories.clear();
    mParameters.clear();
}

void ParameterArrayState::Publish(std::unique_lock<std::recursive_mutex> &aLock, std::vector<INode *> *aChanged)
{
    std::vector<INode *> lChanged;
    try
    {
        lChanged = mNodeMap->TakeChangedNodes();
    }
    catch (...)
    {
        lChanged.clear();
    }
    aLock.unlock();
    Notify(lChanged);
    if (aChanged != nullptr)
    {
        aChanged->swap(lChanged);
    }
}

void ParameterArrayState::Notify(const std::vector<INode *> &aNodes)
{
    for (INode *lNode : aNodes)
    {
        TnGenParameter *lParameter = ParameterOf(lNode);
        if (lParameter == nullptr)
        {
            continue;
        }
        std::vector<TnGenEventSink *> lSinks;
        {
            std::lock_guard<std::mutex> lLock(mSinkMutex);
            if (!lParameter->mUpdatesEnabled)
            {
                continue;
            }
            lSinks = lParameter->mSinks;
        }
        const std::thread::id lSelf = std::this_thread::get_id();
        for (TnGenEventSink *lSink : lSinks)
        {
            {
                // Skip a sink unregistered since the list was copied, and
                // let UnregisterSink wait for this call.
                std::lock_guard<std::mutex> lLock(mSinkMutex);
                if (std::find(lParameter->mSinks.begin(), lParameter->mSinks.end(), lSink) == lParameter->mSinks.end())
                {
                    continue;
                }
                mActiveCalls.emplace_back(lSink, lSelf);
            }
            try
            {
                lSink->OnParameterUpdate(lParameter);
            }
            catch (...)
            {
                // A sink's failure is its own.
            }
            {
                std::lock_guard<std::mutex> lLock(mSinkMutex);
                const auto lCall = std::find(mActiveCalls.begin(), mActiveCalls.end(), std::make_pair(lSink, lSelf));
                if (lCall != mActiveCalls.end())
                {
                    mActiveCalls.erase(lCall);
                }
            }
            mSinkIdle.notify_all();
        }
    }
}

TnResult ParameterArrayState::RegisterSink(TnGenParameter &aParameter, TnGenEventSink *aSink)
{
    if (aSink == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no sink"));
    }
    std::lock_guard<std::mutex> lLock(mSinkMutex);
    if (std::find(aParameter.mSinks.begin(), aParameter.mSinks.end(), aSink) == aParameter.mSinks.end())
    {
        aParameter.mSinks.push_back(aSink);
    }
    return TnResult();
}

TnResult ParameterArrayState::UnregisterSink(TnGenParameter &aParameter, TnGenEventSink *aSink)
{
    if (aSink == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no sink"));
    }
    std::unique_lock<std::mutex> lLock(mSinkMutex);
    const auto lFound = std::find(aParameter.mSinks.begin(), aParameter.mSinks.end(), aSink);
    if (lFound == aParameter.mSinks.end())
    {
        return TnResult(TN_NOT_FOUND, TnString("the sink is not registered with this parameter"));
    }
    aParameter.mSinks.erase(lFound);
    // Once this returns the sink is not called any more, except by a call on
    // this very thread that is running it now.
    const std::thread::id lSelf = std::this_thread::get_id();
    mSinkIdle.wait(lLock, [&]() {
        for (const auto &lCall : mActiveCalls)
        {
            if (lCall.first == aSink && lCall.second != lSelf)
            {
                return false;
            }
        }
        return true;
    });
    return TnResult();
}

bool ParameterArrayState::GetUpdatesEnabled(const TnGenParameter &aParameter)
{
    std::lock_guard<std::mutex> lLock(mSinkMutex);
    return aParameter.mUpdatesEnabled;
}

void ParameterArrayState::SetUpdatesEnabled(TnGenParameter &aParameter, bool aEnabled)
{
    std::lock_guard<std::mutex> lLock(mSinkMutex);
    aParameter.mUpdatesEnabled = aEnabled;
}

TnGenParameter *ParameterArrayState::FindParameter(const TnString &aName) const
{
    if (aName.GetAscii() == nullptr)
    {
        return nullptr;
    }
    const auto lFound = mParametersByName.find(aName.GetAscii());
    return lFound != mParametersByName.end() ? lFound->second : nullptr;
}

TnGenParameter *ParameterArrayState::ParameterOf(const INode *aNode) const
{
    if (aNode == nullptr || aNode->GetIndex() >= mByNode.size() || &aNode->GetNodeMap() != mNodeMap.get())
    {
        return nullptr;
    }
    return mByNode[aNode->GetIndex()];
}

// --- Ports ------------------------------------------------------------------------

IPort::~IPort() = default;

TnGenAccessMode IPort::GetAccessMode() const
{
    return TnGenAccessModeReadWrite;
}

MemoryPort::MemoryPort(size_t aSize)
    : mBytes(aSize, 0), mReads(0), mWrites(0), mAccessMode(TnGenAccessModeReadWrite), mFailure(TN_OK)
{
}

MemoryPort::~MemoryPort() = default;

bool MemoryPort::InRange(uint64_t aAddress, size_t aLength) const
{
    return aAddress <= mBytes.size() && aLength <= mBytes.size() - aAddress;
}

TnResult MemoryPort::CopyOut(uint64_t aAddress, void *aData, size_t aLength) const
{
    if ((aData == nullptr && aLength != 0) || !InRange(aAddress, aLength))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("outside the memory"));
    }
    if (aLength > 0)
    {
        memcpy(aData, mBytes.data() + aAddress, aLength);
    }
    return TnResult();
}

TnResult MemoryPort::CopyIn(uint64_t aAddress, const void *aData, size_t aLength)
{
    if ((aData == nullptr && aLength != 0) || !InRange(aAddress, aLength))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("outside the memory"));
    }
    if (aLength > 0)
    {
        memcpy(mBytes.data() + aAddress, aData, aLength);
    }
    return TnResult();
}

TnResult MemoryPort::Read(uint64_t aAddress, void *aData, size_t aLength)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    ++mReads;
    if (mFailure != TN_OK)
    {
        return TnResult(mFailure, TnString("injected failure"));
    }
    return CopyOut(aAddress, aData, aLength);
}

TnResult MemoryPort::Write(uint64_t aAddress, const void *aData, size_t aLength)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    ++mWrites;
    if (mFailure != TN_OK)
    {
        return TnResult(mFailure, TnString("injected failure"));
    }
    return CopyIn(aAddress, aData, aLength);
}

TnGenAccessMode MemoryPort::GetAccessMode() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mAccessMode;
}

size_t MemoryPort::GetSize() const
{
    return mBytes.size();
}

TnResult MemoryPort::Peek(uint64_t aAddress, void *aData, size_t aLength) const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return CopyOut(aAddress, aData, aLength);
}

TnResult MemoryPort::Poke(uint64_t aAddress, const void *aData, size_t aLength)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return CopyIn(aAddress, aData, aLength);
}

uint64_t MemoryPort::GetReadCount() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mReads;
}

uint64_t MemoryPort::GetWriteCount() const
{
    std::lock_guard<std::mutex> lLock(mMutex);
    return mWrites;
}

void MemoryPort::SetAccessMode(TnGenAccessMode aAccessMode)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mAccessMode = aAccessMode;
}

void MemoryPort::SetFailure(uint32_t aCode)
{
    std::lock_guard<std::mutex> lLock(mMutex);
    mFailure = aCode;
}

SettingsImagePort::SettingsImagePort(Layout aLayout, Render aRender, WriteRule aWrite, CommandRule aCommand)
    : mLayout(std::move(aLayout)), mRender(std::move(aRender)), mWrite(std::move(aWrite)),
      mCommand(std::move(aCommand))
{
}

SettingsImagePort::~SettingsImagePort() = default;

TnResult SettingsImagePort::Read(uint64_t aAddress, void *aData, size_t aLength)
{
    if ((aData == nullptr && aLength != 0) || aAddress > mLayout.mImageSize || aLength > mLayout.mImageSize - aAddress)
    {
        return tn::Failure(TN_INVALID_PARAMETER, mLayout.mReadRefusal);
    }
    std::vector<uint8_t> lImage(mLayout.mImageSize, 0);
    mRender(lImage.data());
    if (aLength > 0)
    {
        memcpy(aData, lImage.data() + aAddress, aLength);
    }
    return TnResult(TN_OK);
}

TnResult SettingsImagePort::Write(uint64_t aAddress, const void *aData, size_t aLength)
{
    const uint8_t *lBytes = static_cast<const uint8_t *>(aData);
    if (lBytes != nullptr && aLength == 4 && mCommand &&
        std::find(mLayout.mCommands.begin(), mLayout.mCommands.end(), aAddress) != mLayout.mCommands.end())
    {
        mCommand(static_cast<uint32_t>(aAddress), GetU32(lBytes));
        return TnResult(TN_OK);
    }
    if (lBytes == nullptr || aAddress % 4 != 0 || aLength % 4 != 0 || aAddress < mLayout.mSettingsBegin ||
        aAddress >= mLayout.mSettingsEnd || aLength > mLayout.mSettingsEnd - aAddress)
    {
        return tn::Failure(TN_INVALID_PARAMETER, mLayout.mWriteRefusal);
    }
    std::vector<std::pair<uint32_t, uint32_t>> lValues;
    for (size_t lOffset = 0; lOffset < aLength; lOffset += 4)
    {
        lValues.emplace_back(static_cast<uint32_t>(aAddress + lOffset), GetU32(lBytes + lOffset));
    }
    mWrite(lValues);
    return TnResult(TN_OK);
}

// --- Creation -------------------------------------------------------------------

TnGenParameterArray *CreateParameterArray(const std::string &aXml, std::shared_ptr<IPort> aDevicePort,
                                          TnResult &aResult)
{
    try
    {
        std::unique_ptr<INodeMap> lMap = TnGenApi::LoadXml(aXml);
        for (const std::string &lWarning : lMap->GetWarnings())
        {
            LibraryLogger("TnGenICam").LogWarning(__FILE__, __LINE__, "CreateParameterArray", lWarning.c_str());
        }
        for (TnGenApi::PortNode *lPort : lMap->GetPorts())
        {
            if (lPort->GetSource() == TnGenApi::PortNode::Source::Device)
            {
                lPort->Bind(aDevicePort);
            }
        }
        std::unique_ptr<ParameterArrayState> lState(new ParameterArrayState(std::move(lMap), aDevicePort));
        TnGenParameterArray *lArray = new TnGenParameterArray(lState.get());
        lState.release();
        aResult = TnResult();
        return lArray;
    }
    catch (const GenApiError &lError)
    {
        const uint32_t lCode = lError.GetCode();
        aResult = TnResult(lCode == TN_NOT_ENOUGH_MEMORY || lCode == TN_ABORTED ? lCode : TN_GENICAM_XML_ERROR,
                           TnString(lError.what()));
    }
    catch (...)
    {
        aResult = ResultOf(std::current_exception());
    }
    return nullptr;
}

std::shared_ptr<IPort> GetDevicePort(TnGenParameterArray *aArray)
{
    if (aArray == nullptr || aArray->GetState() == nullptr)
    {
        return nullptr;
    }
    return aArray->GetState()->mDevicePort;
}

std::vector<std::string> GetWarnings(TnGenParameterArray *aArray)
{
    if (aArray == nullptr || aArray->GetState() == nullptr)
    {
        return std::vector<std::string>();
    }
    std::lock_guard<std::recursive_mutex> lLock(aArray->GetState()->mNodeMap->GetMutex());
    return aArray->GetState()->mNodeMap->GetWarnings();
}

std::vector<std::string> CheckDefinitions(TnGenParameterArray *aArray)
{
    if (aArray == nullptr || aArray->GetState() == nullptr)
    {
        return std::vector<std::string>();
    }
    TN_GENAPI_NS::INodeMap &lMap = *aArray->GetState()->mNodeMap;
    std::lock_guard<std::recursive_mutex> lLock(lMap.GetMutex());
    for (TN_GENAPI_NS::INode *lNode : lMap.GetNodes())
    {
        try
        {
            lNode->ParseFormulas();
        }
        catch (const std::exception &)
        {
            // The node is marked faulty, which adds its warning.
        }
    }
    return lMap.GetWarnings();
}

bool Operating(TnGenParameterArray *aArray)
{
    if (aArray == nullptr || aArray->GetState() == nullptr)
    {
        return false;
    }
    const INodeMap *lMap = aArray->GetState()->mNodeMap.get();
    return std::find(tOperating.begin(), tOperating.end(), lMap) != tOperating.end();
}

void AwaitOperations(TnGenParameterArray *aArray)
{
    if (aArray == nullptr || aArray->GetState() == nullptr)
    {
        return;
    }
    ParameterArrayState &lState = *aArray->GetState();
    {
        const std::thread::id lSelf = std::this_thread::get_id();
        std::unique_lock<std::mutex> lLock(lState.mUseMutex);
        lState.mUseIdle.wait(lLock, [&] {
            return std::all_of(lState.mUsers.begin(), lState.mUsers.end(),
                               [&](std::thread::id aThread) { return aThread == lSelf; });
        });
    }
    // Operations on nodes of no parameter hold the lock throughout.
    std::lock_guard<std::recursive_mutex> lLock(lState.mNodeMap->GetMutex());
}

TnResult DeliverEvent(TnGenParameterArray *aArray, uint64_t aEventId, const uint8_t *aData, uint32_t aLength,
                      TnGenParameterList *aChanged)
{
    if (aArray == nullptr || aArray->GetState() == nullptr || (aData == nullptr && aLength != 0))
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no parameter array, or no data for a length"));
    }
    ParameterArrayState &lState = *aArray->GetState();
    bool lFound = false;
    std::vector<INode *> lChanged;
    const TnResult lResult =
        lState.Run([&]() { lFound = lState.mNodeMap->DeliverEvent(aEventId, aData, aLength); }, &lChanged);
    if (!lResult.IsOK())
    {
        return lResult;
    }
    if (!lFound)
    {
        return tn::Failure(TN_NOT_FOUND, "no event port has the event ID " + FormatHex(aEventId));
    }
    if (aChanged != nullptr)
    {
        for (INode *lNode : lChanged)
        {
            if (TnGenParameter *lParameter = lState.ParameterOf(lNode))
            {
                aChanged->Add(lParameter);
            }
        }
    }
    return TnResult();
}

} // namespace genicam
} // namespace tn

using tn::genicam::ParameterArrayState;

namespace
{
ParameterArrayState *EmptyState()
{
    std::unique_ptr<INodeMap> lMap(new INodeMap);
    lMap->Finalize();
    return new ParameterArrayState(std::move(lMap), nullptr);
}

TnResult NotFound(const TnString &aName, const char *aType)
{
    return tn::Failure(TN_NOT_FOUND, "no " + std::string(aType) + " feature named '" + tn::ToString(aName) + "'");
}

// Both limits of a numeric parameter; aMin and aMax stay unless both are read.
template <typename P, typename T> TnResult GetRange(const P &aParameter, T &aMin, T &aMax)
{
    T lMinimum = 0;
    T lMaximum = 0;
    TnResult lResult = aParameter.GetMin(lMinimum);
    if (lResult.IsOK())
    {
        lResult = aParameter.GetMax(lMaximum);
    }
    if (lResult.IsOK())
    {
        aMin = lMinimum;
        aMax = lMaximum;
    }
    return lResult;
}
} // namespace

// --- TnGenParameterArray ------------------------------------------------------------

TnGenParameterArray::TnGenParameterArray() : mState(EmptyState())
{
}

TnGenParameterArray::TnGenParameterArray(tn::genicam::ParameterArrayState *aState)
    : mState(aState != nullptr ? aState : EmptyState())
{
}

TnGenParameterArray::~TnGenParameterArray()
{
    delete mState;
}

uint32_t TnGenParameterArray::GetCount() const
{
    return static_cast<uint32_t>(mState->mParameters.size());
}

TnGenParameter *TnGenParameterArray::Get(uint32_t aIndex)
{
    return aIndex < mState->mParameters.size() ? mState->mParameters[aIndex].get() : nullptr;
}

TnGenParameter *TnGenParameterArray::Get(const TnString &aName)
{
    return mState->FindParameter(aName);
}

TnGenParameter *TnGenParameterArray::operator[](uint32_t aIndex)
{
    return Get(aIndex);
}

TnGenParameter *TnGenParameterArray::operator[](const TnString &aName)
{
    return Get(aName);
}

TnGenInteger *TnGenParameterArray::GetInteger(const TnString &aName)
{
    return dynamic_cast<TnGenInteger *>(Get(aName));
}

TnGenFloat *TnGenParameterArray::GetFloat(const TnString &aName)
{
    return dynamic_cast<TnGenFloat *>(Get(aName));
}

TnGenEnum *TnGenParameterArray::GetEnum(const TnString &aName)
{
    return dynamic_cast<TnGenEnum *>(Get(aName));
}

TnGenBoolean *TnGenParameterArray::GetBoolean(const TnString &aName)
{
    return dynamic_cast<TnGenBoolean *>(Get(aName));
}

TnGenCommand *TnGenParameterArray::GetCommand(const TnString &aName)
{
    return dynamic_cast<TnGenCommand *>(Get(aName));
}

TnGenString *TnGenParameterArray::GetString(const TnString &aName)
{
    return dynamic_cast<TnGenString *>(Get(aName));
}

TnGenRegister *TnGenParameterArray::GetRegister(const TnString &aName)
{
    return dynamic_cast<TnGenRegister *>(Get(aName));
}

uint32_t TnGenParameterArray::GetCategoryCount() const
{
    return static_cast<uint32_t>(mState->mCategories.size());
}

TnGenCategory *TnGenParameterArray::GetCategory(uint32_t aIndex)
{
    return aIndex < mState->mCategories.size() ? mState->mCategories[aIndex].get() : nullptr;
}

TnGenCategory *TnGenParameterArray::GetCategory(const TnString &aName)
{
    if (aName.GetAscii() == nullptr)
    {
        return nullptr;
    }
    const auto lFound = mState->mCategoriesByName.find(aName.GetAscii());
    return lFound != mState->mCategoriesByName.end() ? lFound->second : nullptr;
}

TnResult TnGenParameterArray::GetIntegerValue(const TnString &aName, int64_t &aValue)
{
    TnGenInteger *lParameter = GetInteger(aName);
    return lParameter != nullptr ? lParameter->GetValue(aValue) : NotFound(aName, "integer");
}

TnResult TnGenParameterArray::SetIntegerValue(const TnString &aName, int64_t aValue)
{
    TnGenInteger *lParameter = GetInteger(aName);
    return lParameter != nullptr ? lParameter->SetValue(aValue) : NotFound(aName, "integer");
}

TnResult TnGenParameterArray::GetFloatValue(const TnString &aName, double &aValue)
{
    TnGenFloat *lParameter = GetFloat(aName);
    return lParameter != nullptr ? lParameter->GetValue(aValue) : NotFound(aName, "float");
}

TnResult TnGenParameterArray::SetFloatValue(const TnString &aName, double aValue)
{
    TnGenFloat *lParameter = GetFloat(aName);
    return lParameter != nullptr ? lParameter->SetValue(aValue) : NotFound(aName, "float");
}

TnResult TnGenParameterArray::GetBooleanValue(const TnString &aName, bool &aValue)
{
    TnGenBoolean *lParameter = GetBoolean(aName);
    return lParameter != nullptr ? lParameter->GetValue(aValue) : NotFound(aName, "Boolean");
}

TnResult TnGenParameterArray::SetBooleanValue(const TnString &aName, bool aValue)
{
    TnGenBoolean *lParameter = GetBoolean(aName);
    return lParameter != nullptr ? lParameter->SetValue(aValue) : NotFound(aName, "Boolean");
}

TnResult TnGenParameterArray::GetStringValue(const TnString &aName, TnString &aValue)
{
    TnGenString *lParameter = GetString(aName);
    return lParameter != nullptr ? lParameter->GetValue(aValue) : NotFound(aName, "string");
}

TnResult TnGenParameterArray::SetStringValue(const TnString &aName, const TnString &aValue)
{
    TnGenString *lParameter = GetString(aName);
    return lParameter != nullptr ? lParameter->SetValue(aValue) : NotFound(aName, "string");
}

TnResult TnGenParameterArray::GetEnumValue(const TnString &aName, int64_t &aValue)
{
    TnGenEnum *lParameter = GetEnum(aName);
    return lParameter != nullptr ? lParameter->GetValue(aValue) : NotFound(aName, "enumeration");
}

TnResult TnGenParameterArray::GetEnumValue(const TnString &aName, TnString &aValue)
{
    TnGenEnum *lParameter = GetEnum(aName);
    return lParameter != nullptr ? lParameter->GetValue(aValue) : NotFound(aName, "enumeration");
}

TnResult TnGenParameterArray::SetEnumValue(const TnString &aName, const TnString &aValue)
{
    TnGenEnum *lParameter = GetEnum(aName);
    return lParameter != nullptr ? lParameter->SetValue(aValue) : NotFound(aName, "enumeration");
}

TnResult TnGenParameterArray::SetEnumValue(const TnString &aName, int64_t aValue)
{
    TnGenEnum *lParameter = GetEnum(aName);
    return lParameter != nullptr ? lParameter->SetValue(aValue) : NotFound(aName, "enumeration");
}

TnResult TnGenParameterArray::ExecuteCommand(const TnString &aName)
{
    TnGenCommand *lParameter = GetCommand(aName);
    return lParameter != nullptr ? lParameter->Execute() : NotFound(aName, "command");
}

TnResult TnGenParameterArray::GetIntegerRange(const TnString &aName, int64_t &aMin, int64_t &aMax)
{
    TnGenInteger *lParameter = GetInteger(aName);
    return lParameter != nullptr ? GetRange(*lParameter, aMin, aMax) : NotFound(aName, "integer");
}

TnResult TnGenParameterArray::GetFloatRange(const TnString &aName, double &aMin, double &aMax)
{
    TnGenFloat *lParameter = GetFloat(aName);
    return lParameter != nullptr ? GetRange(*lParameter, aMin, aMax) : NotFound(aName, "float");
}

TnResult TnGenParameterArray::InvalidateCache()
{
    return mState->Run([this]() { mState->mNodeMap->InvalidateAll(); });
}

TnResult TnGenParameterArray::Poll()
{
    return mState->Run([this]() { mState->mNodeMap->Poll(); });
}

TnResult TnGenParameterArray::AttachDataChunks(uint8_t *aBuffer, uint32_t aBufferLength)
{
    return mState->Run([&]() {
        std::string lError;
        const uint32_t lCode = mState->mNodeMap->AttachChunks(aBuffer, aBufferLength, lError);
        if (lCode != TN_OK)
        {
            throw GenApiError(lCode, lError);
        }
    });
}

TnResult TnGenParameterArray::DetachDataChunks()
{
    return mState->Run([this]() { mState->mNodeMap->DetachChunks(); });
}

TnGenAccessMode TnGenParameterArray::GetAccessMode() const
{
    if (!mState->mDevicePort)
    {
        return TnGenAccessModeNotAvailable;
    }
    TnGenAccessMode lMode = TnGenAccessModeNotAvailable;
    try
    {
        lMode = mState->mDevicePort->GetAccessMode();
    }
    catch (...)
    {
        lMode = TnGenAccessModeNotAvailable;
    }
    return lMode == TnGenAccessModeReadWrite || lMode == TnGenAccessModeReadOnly ? lMode : TnGenAccessModeNotAvailable;
}

TN_GENAPI_NS::INodeMap *TnGenParameterArray::GetNodeMap()
{
    return mState->mNodeMap.get();
}

// --- TnGenStateStack ------------------------------------------------------------------

TnGenStateStack::TnGenStateStack(TnGenParameterArray *aArray) : mArray(aArray)
{
}

TnGenStateStack::~TnGenStateStack()
{
    if (mArray == nullptr)
    {
        return;
    }
    // The last change first, so selectors come back after what they select.
    for (auto lSaved = mSaved.rbegin(); lSaved != mSaved.rend(); ++lSaved)
    {
        if (TnGenParameter *lParameter = mArray->Get(lSaved->first))
        {
            lParameter->FromString(lSaved->second);
        }
    }
}

bool TnGenStateStack::Capture(const TnString &aName, TnString &aValue)
{
    for (const auto &lSaved : mSaved)
    {
        if (lSaved.first == aName)
        {
            return false;
        }
    }
    TnGenParameter *lParameter = mArray->Get(aName);
    if (lParameter == nullptr)
    {
        return false;
    }
    INode *lNode = lParameter->GetNode();
    if (lNode->GetInterface() != InterfaceKind::Float)
    {
        return lParameter->ToString(aValue).IsOK();
    }
    // A float's display text may round: keep the exact value.
    std::string lText;
    if (!mArray->GetState()->Run([&]() { lText = static_cast<TnGenApi::FloatBase *>(lNode)->ToExactString(); }).IsOK())
    {
        return false;
    }
    aValue = TnString(lText.c_str());
    return true;
}

void TnGenStateStack::Record(const TnResult &aResult, bool aCaptured, const TnString &aName, const TnString &aValue)
{
    if (aResult.IsOK() && aCaptured)
    {
        mSaved.emplace_back(aName, aValue);
    }
}

#define TN_STACK_SET(aCall) \
    if (mArray == nullptr) \
    { \
        return TnResult(TN_INVALID_PARAMETER, TnString("the state stack has no parameter array")); \
    } \
    std::lock_guard<std::mutex> lLock(mMutex); \
    TnString lEarlier; \
    const bool lCaptured = Capture(aName, lEarlier); \
    const TnResult lResult = mArray->aCall; \
    Record(lResult, lCaptured, aName, lEarlier); \
    return lResult

TnResult TnGenStateStack::SetIntegerValue(const TnString &aName, int64_t aValue)
{
    TN_STACK_SET(SetIntegerValue(aName, aValue));
}

TnResult TnGenStateStack::SetFloatValue(const TnString &aName, double aValue)
{
    TN_STACK_SET(SetFloatValue(aName, aValue));
}

TnResult TnGenStateStack::SetBooleanValue(const TnString &aName, bool aValue)
{
    TN_STACK_SET(SetBooleanValue(aName, aValue));
}

TnResult TnGenStateStack::SetStringValue(const TnString &aName, const TnString &aValue)
{
    TN_STACK_SET(SetStringValue(aName, aValue));
}

TnResult TnGenStateStack::SetEnumValue(const TnString &aName, const TnString &aValue)
{
    TN_STACK_SET(SetEnumValue(aName, aValue));
}

TnResult TnGenStateStack::SetEnumValue(const TnString &aName, int64_t aValue)
{
    TN_STACK_SET(SetEnumValue(aName, aValue));
}
