// The parameter array, its state, the state stack, and the internal API.
#include "TnGenParameterArray.h"

#include <string.h>

#include <algorithm>

#include "TnGenApi.h"
#include "TnGenICamInternal.h"
#include "TnGenParameterState.h"

using TnGenApi::GenApiError;
using TnGenApi::INode;
using TnGenApi::INodeMap;
using TnGenApi::InterfaceKind;
using TnGenApi::NodeKind;

namespace tn
{
namespace genicam
{

std::string ToUtf8(const TnString &aText)
{
    const char *text = aText.GetAscii();
    return text != nullptr ? std::string(text) : std::string();
}

TnResult ResultOf(const std::exception_ptr &aError)
{
    try
    {
        std::rethrow_exception(aError);
    }
    catch (const GenApiError &error)
    {
        return TnResult(error.GetCode(), TnString(error.what()));
    }
    catch (const std::bad_alloc &)
    {
        return TnResult(TN_NOT_ENOUGH_MEMORY, TnString("out of memory"));
    }
    catch (const std::exception &error)
    {
        return TnResult(TN_GENERIC_ERROR, TnString(error.what()));
    }
    catch (...)
    {
        return TnResult(TN_GENERIC_ERROR, TnString("unknown failure"));
    }
}

TnResult RunOnNode(INode *aNode, const std::function<void()> &aOperation)
{
    if (aNode == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no node"));
    }
    std::lock_guard<std::recursive_mutex> lock(aNode->GetNodeMap().GetMutex());
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
    const std::vector<INode *> &nodes = mNodeMap->GetNodes();
    mByNode.assign(nodes.size(), nullptr);
    for (INode *node : nodes)
    {
        if (node->IsHidden() || node->GetKind() == NodeKind::EnumEntry)
        {
            continue;
        }
        if (node->GetKind() == NodeKind::Category)
        {
            mCategories.emplace_back(new TnGenCategory(node));
            mCategoriesByName[node->GetName()] = mCategories.back().get();
            continue;
        }
        std::unique_ptr<TnGenParameter> parameter;
        switch (node->GetInterface())
        {
        case InterfaceKind::Integer:
            parameter.reset(new TnGenInteger(node));
            break;
        case InterfaceKind::Float:
            parameter.reset(new TnGenFloat(node));
            break;
        case InterfaceKind::Enumeration:
            parameter.reset(new TnGenEnum(node));
            break;
        case InterfaceKind::Boolean:
            parameter.reset(new TnGenBoolean(node));
            break;
        case InterfaceKind::Command:
            parameter.reset(new TnGenCommand(node));
            break;
        case InterfaceKind::String:
            parameter.reset(new TnGenString(node));
            break;
        case InterfaceKind::Register:
            parameter.reset(new TnGenRegister(node));
            break;
        default:
            // Ports and plain nodes: a parameter of no particular type.
            struct PlainParameter : TnGenParameter
            {
                explicit PlainParameter(INode *aNode) : TnGenParameter(aNode) {}
            };
            parameter.reset(new PlainParameter(node));
            break;
        }
        parameter->mArrayState = this;
        mByNode[node->GetIndex()] = parameter.get();
        mParametersByName[node->GetName()] = parameter.get();
        mParameters.push_back(std::move(parameter));
    }
}

ParameterArrayState::~ParameterArrayState()
{
    mCategories.clear();
    mParameters.clear();
}

TnResult ParameterArrayState::Run(const std::function<void()> &aOperation)
{
    TnResult result;
    std::vector<INode *> changed;
    {
        std::lock_guard<std::recursive_mutex> lock(mNodeMap->GetMutex());
        try
        {
            aOperation();
        }
        catch (...)
        {
            result = ResultOf(std::current_exception());
        }
        try
        {
            changed = mNodeMap->TakeChangedNodes();
        }
        catch (...)
        {
            changed.clear();
        }
    }
    Notify(changed);
    return result;
}

void ParameterArrayState::Notify(const std::vector<INode *> &aNodes)
{
    if (mSinkCount == 0)
    {
        return; // nobody to tell: an invalidation of every node stays cheap
    }
    for (INode *node : aNodes)
    {
        TnGenParameter *parameter = ParameterOf(node);
        if (parameter == nullptr)
        {
            continue;
        }
        std::vector<TnGenEventSink *> sinks;
        {
            std::lock_guard<std::mutex> lock(mSinkMutex);
            if (!parameter->mUpdatesEnabled)
            {
                continue;
            }
            sinks = parameter->mSinks;
        }
        const std::thread::id self = std::this_thread::get_id();
        for (TnGenEventSink *sink : sinks)
        {
            {
                // Skip a sink unregistered since the list was copied, and
                // let UnregisterSink wait for this call.
                std::lock_guard<std::mutex> lock(mSinkMutex);
                if (std::find(parameter->mSinks.begin(), parameter->mSinks.end(), sink) == parameter->mSinks.end())
                {
                    continue;
                }
                mActiveCalls.emplace_back(sink, self);
            }
            try
            {
                sink->OnParameterUpdate(parameter);
            }
            catch (...)
            {
                // A sink's failure is its own.
            }
            {
                std::lock_guard<std::mutex> lock(mSinkMutex);
                const auto call = std::find(mActiveCalls.begin(), mActiveCalls.end(), std::make_pair(sink, self));
                if (call != mActiveCalls.end())
                {
                    mActiveCalls.erase(call);
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
    std::lock_guard<std::mutex> lock(mSinkMutex);
    if (std::find(aParameter.mSinks.begin(), aParameter.mSinks.end(), aSink) == aParameter.mSinks.end())
    {
        aParameter.mSinks.push_back(aSink);
        ++mSinkCount;
    }
    return TnResult();
}

TnResult ParameterArrayState::UnregisterSink(TnGenParameter &aParameter, TnGenEventSink *aSink)
{
    if (aSink == nullptr)
    {
        return TnResult(TN_INVALID_PARAMETER, TnString("no sink"));
    }
    std::unique_lock<std::mutex> lock(mSinkMutex);
    const auto found = std::find(aParameter.mSinks.begin(), aParameter.mSinks.end(), aSink);
    if (found == aParameter.mSinks.end())
    {
        return TnResult(TN_NOT_FOUND, TnString("the sink is not registered with this parameter"));
    }
    aParameter.mSinks.erase(found);
    --mSinkCount;
    // Once this returns the sink is not called any more, except by a call on
    // this very thread that is running it now.
    const std::thread::id self = std::this_thread::get_id();
    mSinkIdle.wait(lock, [&]() {
        for (const auto &call : mActiveCalls)
        {
            if (call.first == aSink && call.second != self)
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
    std::lock_guard<std::mutex> lock(mSinkMutex);
    return aParameter.mUpdatesEnabled;
}

void ParameterArrayState::SetUpdatesEnabled(TnGenParameter &aParameter, bool aEnabled)
{
    std::lock_guard<std::mutex> lock(mSinkMutex);
    aParameter.mUpdatesEnabled = aEnabled;
}

TnGenParameter *ParameterArrayState::FindParameter(const TnString &aName) const
{
    if (aName.GetAscii() == nullptr)
    {
        return nullptr;
    }
    const auto found = mParametersByName.find(aName.GetAscii());
    return found != mParametersByName.end() ? found->second : nullptr;
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
    std::lock_guard<std::mutex> lock(mMutex);
    ++mReads;
    if (mFailure != TN_OK)
    {
        return TnResult(mFailure, TnString("injected failure"));
    }
    return CopyOut(aAddress, aData, aLength);
}

TnResult MemoryPort::Write(uint64_t aAddress, const void *aData, size_t aLength)
{
    std::lock_guard<std::mutex> lock(mMutex);
    ++mWrites;
    if (mFailure != TN_OK)
    {
        return TnResult(mFailure, TnString("injected failure"));
    }
    return CopyIn(aAddress, aData, aLength);
}

TnGenAccessMode MemoryPort::GetAccessMode() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mAccessMode;
}

size_t MemoryPort::GetSize() const
{
    return mBytes.size();
}

TnResult MemoryPort::Peek(uint64_t aAddress, void *aData, size_t aLength) const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return CopyOut(aAddress, aData, aLength);
}

TnResult MemoryPort::Poke(uint64_t aAddress, const void *aData, size_t aLength)
{
    std::lock_guard<std::mutex> lock(mMutex);
    return CopyIn(aAddress, aData, aLength);
}

uint64_t MemoryPort::GetReadCount() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mReads;
}

uint64_t MemoryPort::GetWriteCount() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mWrites;
}

void MemoryPort::SetAccessMode(TnGenAccessMode aAccessMode)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mAccessMode = aAccessMode;
}

void MemoryPort::SetFailure(uint32_t aCode)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mFailure = aCode;
}

// --- Creation -------------------------------------------------------------------

TnGenParameterArray *CreateParameterArray(const std::string &aXml, std::shared_ptr<IPort> aDevicePort, TnResult &aResult)
{
    try
    {
        std::unique_ptr<INodeMap> map = TnGenApi::LoadXml(aXml);
        for (TnGenApi::PortNode *port : map->GetPorts())
        {
            if (!port->IsChunkPort())
            {
                port->Bind(aDevicePort);
            }
        }
        std::unique_ptr<ParameterArrayState> state(new ParameterArrayState(std::move(map), aDevicePort));
        TnGenParameterArray *array = new TnGenParameterArray(state.get());
        state.release();
        aResult = TnResult();
        return array;
    }
    catch (const GenApiError &error)
    {
        aResult = TnResult(error.GetCode() == TN_NOT_ENOUGH_MEMORY ? TN_NOT_ENOUGH_MEMORY : TN_GENICAM_XML_ERROR,
                           TnString(error.what()));
    }
    catch (...)
    {
        aResult = ResultOf(std::current_exception());
    }
    return nullptr;
}

bool DeliverEvent(TnGenParameterArray *aArray, uint64_t aEventId, const void *aData, size_t aSize,
                  TnGenParameterList &aParameters)
{
    aParameters.Clear();
    if (aArray == nullptr || aArray->GetState() == nullptr || (aData == nullptr && aSize != 0))
    {
        return false;
    }
    ParameterArrayState *state = aArray->GetState();
    std::vector<TnGenApi::INode *> nodes;
    state->Run([&]() {
        nodes = state->mNodeMap->DeliverEvent(aEventId, static_cast<const uint8_t *>(aData), aSize);
    });
    bool taken = false;
    for (TnGenApi::PortNode *port : state->mNodeMap->GetPorts())
    {
        taken = taken || (port->IsEventPort() && port->GetEventId() == aEventId);
    }
    for (TnGenApi::INode *node : nodes)
    {
        if (TnGenParameter *parameter = state->ParameterOf(node))
        {
            aParameters.Add(parameter);
        }
    }
    return taken;
}

std::shared_ptr<IPort> GetDevicePort(TnGenParameterArray *aArray)
{
    if (aArray == nullptr || aArray->GetState() == nullptr)
    {
        return nullptr;
    }
    return aArray->GetState()->mDevicePort;
}

} // namespace genicam
} // namespace tn

using tn::genicam::ParameterArrayState;

namespace
{
ParameterArrayState *EmptyState()
{
    std::unique_ptr<INodeMap> map(new INodeMap);
    map->Finalize();
    return new ParameterArrayState(std::move(map), nullptr);
}

TnResult NotFound(const TnString &aName, const char *aType)
{
    return TnResult(TN_NOT_FOUND, TnString(("no " + std::string(aType) + " feature named '" + tn::genicam::ToUtf8(aName) + "'").c_str()));
}

// Both limits of a numeric parameter; aMin and aMax stay unless both are read.
template <typename P, typename T> TnResult GetRange(const P &aParameter, T &aMin, T &aMax)
{
    T minimum = 0;
    T maximum = 0;
    TnResult result = aParameter.GetMin(minimum);
    if (result.IsOK())
    {
        result = aParameter.GetMax(maximum);
    }
    if (result.IsOK())
    {
        aMin = minimum;
        aMax = maximum;
    }
    return result;
}
} // namespace

// --- TnGenParameterArray ------------------------------------------------------------

TnGenParameterArray::TnGenParameterArray() : mState(EmptyState()) {}

TnGenParameterArray::TnGenParameterArray(tn::genicam::ParameterArrayState *aState) : mState(aState != nullptr ? aState : EmptyState())
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
    const auto found = mState->mCategoriesByName.find(aName.GetAscii());
    return found != mState->mCategoriesByName.end() ? found->second : nullptr;
}

TnResult TnGenParameterArray::GetIntegerValue(const TnString &aName, int64_t &aValue)
{
    TnGenInteger *parameter = GetInteger(aName);
    return parameter != nullptr ? parameter->GetValue(aValue) : NotFound(aName, "integer");
}

TnResult TnGenParameterArray::SetIntegerValue(const TnString &aName, int64_t aValue)
{
    TnGenInteger *parameter = GetInteger(aName);
    return parameter != nullptr ? parameter->SetValue(aValue) : NotFound(aName, "integer");
}

TnResult TnGenParameterArray::GetFloatValue(const TnString &aName, double &aValue)
{
    TnGenFloat *parameter = GetFloat(aName);
    return parameter != nullptr ? parameter->GetValue(aValue) : NotFound(aName, "float");
}

TnResult TnGenParameterArray::SetFloatValue(const TnString &aName, double aValue)
{
    TnGenFloat *parameter = GetFloat(aName);
    return parameter != nullptr ? parameter->SetValue(aValue) : NotFound(aName, "float");
}

TnResult TnGenParameterArray::GetBooleanValue(const TnString &aName, bool &aValue)
{
    TnGenBoolean *parameter = GetBoolean(aName);
    return parameter != nullptr ? parameter->GetValue(aValue) : NotFound(aName, "Boolean");
}

TnResult TnGenParameterArray::SetBooleanValue(const TnString &aName, bool aValue)
{
    TnGenBoolean *parameter = GetBoolean(aName);
    return parameter != nullptr ? parameter->SetValue(aValue) : NotFound(aName, "Boolean");
}

TnResult TnGenParameterArray::GetStringValue(const TnString &aName, TnString &aValue)
{
    TnGenString *parameter = GetString(aName);
    return parameter != nullptr ? parameter->GetValue(aValue) : NotFound(aName, "string");
}

TnResult TnGenParameterArray::SetStringValue(const TnString &aName, const TnString &aValue)
{
    TnGenString *parameter = GetString(aName);
    return parameter != nullptr ? parameter->SetValue(aValue) : NotFound(aName, "string");
}

TnResult TnGenParameterArray::GetEnumValue(const TnString &aName, int64_t &aValue)
{
    TnGenEnum *parameter = GetEnum(aName);
    return parameter != nullptr ? parameter->GetValue(aValue) : NotFound(aName, "enumeration");
}

TnResult TnGenParameterArray::GetEnumValue(const TnString &aName, TnString &aValue)
{
    TnGenEnum *parameter = GetEnum(aName);
    return parameter != nullptr ? parameter->GetValue(aValue) : NotFound(aName, "enumeration");
}

TnResult TnGenParameterArray::SetEnumValue(const TnString &aName, const TnString &aValue)
{
    TnGenEnum *parameter = GetEnum(aName);
    return parameter != nullptr ? parameter->SetValue(aValue) : NotFound(aName, "enumeration");
}

TnResult TnGenParameterArray::SetEnumValue(const TnString &aName, int64_t aValue)
{
    TnGenEnum *parameter = GetEnum(aName);
    return parameter != nullptr ? parameter->SetValue(aValue) : NotFound(aName, "enumeration");
}

TnResult TnGenParameterArray::ExecuteCommand(const TnString &aName)
{
    TnGenCommand *parameter = GetCommand(aName);
    return parameter != nullptr ? parameter->Execute() : NotFound(aName, "command");
}

TnResult TnGenParameterArray::GetIntegerRange(const TnString &aName, int64_t &aMin, int64_t &aMax)
{
    TnGenInteger *parameter = GetInteger(aName);
    return parameter != nullptr ? GetRange(*parameter, aMin, aMax) : NotFound(aName, "integer");
}

TnResult TnGenParameterArray::GetFloatRange(const TnString &aName, double &aMin, double &aMax)
{
    TnGenFloat *parameter = GetFloat(aName);
    return parameter != nullptr ? GetRange(*parameter, aMin, aMax) : NotFound(aName, "float");
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
        std::string error;
        const uint32_t code = mState->mNodeMap->AttachChunks(aBuffer, aBufferLength, error);
        if (code != TN_OK)
        {
            throw GenApiError(code, error);
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
    TnGenAccessMode mode = TnGenAccessModeNotAvailable;
    try
    {
        mode = mState->mDevicePort->GetAccessMode();
    }
    catch (...)
    {
        mode = TnGenAccessModeNotAvailable;
    }
    return mode == TnGenAccessModeReadWrite || mode == TnGenAccessModeReadOnly ? mode : TnGenAccessModeNotAvailable;
}

TN_GENAPI_NS::INodeMap *TnGenParameterArray::GetNodeMap()
{
    return mState->mNodeMap.get();
}

// --- TnGenStateStack ------------------------------------------------------------------

TnGenStateStack::TnGenStateStack(TnGenParameterArray *aArray) : mArray(aArray) {}

TnGenStateStack::~TnGenStateStack()
{
    if (mArray == nullptr)
    {
        return;
    }
    // The last change first, so selectors come back after what they select.
    for (auto saved = mSaved.rbegin(); saved != mSaved.rend(); ++saved)
    {
        if (TnGenParameter *parameter = mArray->Get(saved->first))
        {
            parameter->FromString(saved->second);
        }
    }
}

bool TnGenStateStack::Capture(const TnString &aName, TnString &aValue)
{
    for (const auto &saved : mSaved)
    {
        if (saved.first == aName)
        {
            return false;
        }
    }
    TnGenParameter *parameter = mArray->Get(aName);
    return parameter != nullptr && parameter->ToString(aValue).IsOK();
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
    std::lock_guard<std::mutex> lock(mMutex); \
    TnString earlier; \
    const bool captured = Capture(aName, earlier); \
    const TnResult result = mArray->aCall; \
    Record(result, captured, aName, earlier); \
    return result

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
