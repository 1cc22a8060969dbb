// What a parameter array keeps: its node map, the parameter objects over the
// nodes, and the registry of update sinks; and the helpers that run an engine
// operation under the node map's lock.
#ifndef TN_GEN_PARAMETER_STATE_H
#define TN_GEN_PARAMETER_STATE_H

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "TnFork.h"
#include "TnGenApi.h"
#include "TnGenICamInternal.h"
#include "TnGenParameter.h"
#include "TnGenParameterArray.h"

namespace tn
{
namespace genicam
{

/// The result of what an engine operation threw.
TnResult ResultOf(const std::exception_ptr &aError);

struct ParameterArrayState
{
    /// A state over a finalized node map; builds one parameter per feature
    /// node, in node-map order, and one category per Category node (the
    /// order TnGenICamInternal.h describes).
    ParameterArrayState(std::unique_ptr<TnGenApi::INodeMap> aNodeMap, std::shared_ptr<IPort> aDevicePort);
    ~ParameterArrayState();

    /// Runs an engine operation under the node map's lock, turns what it
    /// throws into a result, then (without the lock) tells the sinks of the
    /// parameters whose values changed or were invalidated.
    /// aChanged, when given, receives those parameters' nodes as well.
    /// An array over a device's or stream's port made before a fork of this
    /// process belongs to the parent, as its owner does (TnFork.h).
    template <typename Operation>
    TnResult Run(const Operation &aOperation, std::vector<TnGenApi::INode *> *aChanged = nullptr)
    {
        if (mDevicePort != nullptr && mProcess.IsInherited())
        {
            if (aChanged != nullptr)
            {
                aChanged->clear();
            }
            return InheritedFailure("the features");
        }
        const Use lUse(*this);
        std::unique_lock<std::recursive_mutex> lLock(mNodeMap->GetMutex());
        mNodeMap->BeginOperation();
        TnResult lResult;
        try
        {
            aOperation();
        }
        catch (...)
        {
            lResult = ResultOf(std::current_exception());
        }
        if (mNodeMap->HasChangedNodes())
        {
            Publish(lLock, aChanged);
        }
        else if (aChanged != nullptr)
        {
            aChanged->clear();
        }
        return lResult;
    }

    /// Takes the nodes that changed from the node map, lets go of the lock
    /// and tells the sinks (see Run).
    void Publish(std::unique_lock<std::recursive_mutex> &aLock, std::vector<TnGenApi::INode *> *aChanged);

    /// Calls the sinks of the parameters behind aNodes.
    void Notify(const std::vector<TnGenApi::INode *> &aNodes);

    TnResult RegisterSink(TnGenParameter &aParameter, TnGenEventSink *aSink);
    TnResult UnregisterSink(TnGenParameter &aParameter, TnGenEventSink *aSink);
    bool GetUpdatesEnabled(const TnGenParameter &aParameter);
    void SetUpdatesEnabled(TnGenParameter &aParameter, bool aEnabled);

    TnGenParameter *FindParameter(const TnString &aName) const;
    TnGenParameter *ParameterOf(const TnGenApi::INode *aNode) const;

    // Declared first: destroyed after the objects that point into it.
    std::unique_ptr<TnGenApi::INodeMap> mNodeMap;
    std::shared_ptr<IPort> mDevicePort;
    std::vector<std::unique_ptr<TnGenParameter>> mParameters;
    std::vector<std::unique_ptr<TnGenCategory>> mCategories;
    std::unordered_map<std::string, TnGenParameter *> mParametersByName;
    std::unordered_map<std::string, TnGenCategory *> mCategoriesByName;
    std::vector<TnGenParameter *> mByNode;

    // Sinks: registration, and the calls in progress (sink, calling thread)
    // that UnregisterSink waits for.
    std::mutex mSinkMutex;
    std::condition_variable mSinkIdle;
    std::vector<std::pair<TnGenEventSink *, std::thread::id>> mActiveCalls;

    /// One operation in progress (Run, RunOnNode), from before it takes the
    /// node map's lock until its sinks were told: Operating and
    /// AwaitOperations see it.
    class Use
    {
    public:
        explicit Use(ParameterArrayState &aState);
        ~Use();
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;

    private:
        ParameterArrayState &mState;
    };
    std::mutex mUseMutex;
    std::condition_variable mUseIdle;
    std::vector<std::thread::id> mUsers; // one entry per operation in progress
    ProcessOwner mProcess;
};

/// Runs an operation on a node that belongs to no parameter (an enumeration
/// entry, a category) under its node map's lock.
TnResult RunOnNode(TnGenApi::INode *aNode, const std::function<void()> &aOperation);

} // namespace genicam
} // namespace tn

#endif
