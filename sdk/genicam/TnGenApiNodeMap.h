// The node map: the nodes of one GenICam description, their dependency
// graph, invalidation, and the data of chunks; and the XML loader.
#ifndef TN_GENAPI_NODE_MAP_H
#define TN_GENAPI_NODE_MAP_H

#include <stdint.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "TnGenApiNode.h"

namespace TN_GENAPI_NS
{

/// A node map: the nodes of one GenICam description.
class INodeMap
{
public:
    INodeMap();
    ~INodeMap();
    INodeMap(const INodeMap &) = delete;
    INodeMap &operator=(const INodeMap &) = delete;

    std::recursive_mutex &GetMutex() const { return mMutex; }

    // Building.
    /// The most nodes a map holds, those that stand in for names the
    /// description does not define included: five times the largest real
    /// description's, which bounds the memory a description can take.
    static const size_t kMaxNodes = 20000;
    /// Creates a node of a kind given by its XML element name; throws
    /// GenApiError (TN_GENICAM_XML_ERROR) for an unknown kind, a name in use
    /// or a map of kMaxNodes nodes.
    INode *CreateNode(const std::string &aKind, const std::string &aName);
    /// Resolves references, checks definitions, builds the dependency graph.
    /// Nothing in a definition fails it: a reference to a name the
    /// description does not define fails the features that read through it
    /// (optional references are left out), a node whose definition does not
    /// hold becomes faulty, and each is a warning. A description that uses a
    /// Device port without defining one gets one.
    void Finalize();
    bool IsFinalized() const { return mFinalized; }
    /// Attributes of the description (ModelName, VendorName, ...).
    void SetAttribute(const std::string &aName, const std::string &aValue);
    const std::vector<std::pair<std::string, std::string>> &GetAttributes() const { return mAttributes; }
    /// The most warnings a map keeps; a last one says that more came.
    static const size_t kMaxWarnings = 10000;
    /// Records a warning about the description (each text once).
    void AddWarning(const std::string &aWarning);
    /// The warnings so far, in the order recorded.
    const std::vector<std::string> &GetWarnings() const { return mWarnings; }

    // Lookup.
    INode *GetNode(const std::string &aName) const;
    /// Every node in the order of creation.
    const std::vector<INode *> &GetNodes() const { return mOrder; }
    std::vector<PortNode *> GetPorts() const;

    // Changes. Each records the nodes whose value changed or was invalidated;
    // TakeChangedNodes hands them out (once each, in the order recorded).
    /// A node's value was written: notifies it and every node depending on it.
    void NodeChanged(INode &aNode);
    /// Drops the cached values the node is read from and notifies it and its
    /// dependents.
    void InvalidateNode(INode &aNode);
    void InvalidateAll();
    /// Drops the cached values the node is read from, without notifying.
    void DropCaches(INode &aNode);
    /// Invalidates every node whose polling time elapsed since its last
    /// invalidation.
    void Poll();
    std::vector<INode *> TakeChangedNodes();
    bool HasChangedNodes() const { return !mChanged.empty(); }

    /// Access modes the nodes derived stay valid while the stamp does; it
    /// moves on with every change and invalidation, and when a device port's
    /// access changes.
    uint64_t GetAccessStamp() const { return mAccessStamp; }
    /// The caller's operation: an access mode that rests on a value the host
    /// does not cache holds for one operation only.
    uint64_t GetOperation() const { return mOperation; }
    /// Starts an operation of a caller; moves the stamp on when a device
    /// port's access changed since the last one.
    void BeginOperation();

    // Chunk data.
    /// Parses a GigE Vision chunk layout and keeps a copy of the chunks that
    /// chunk ports read; returns TN_OK, TN_INVALID_PARAMETER or
    /// TN_INVALID_DATA_FORMAT (the earlier attachment is gone then).
    uint32_t AttachChunks(const uint8_t *aData, uint32_t aLength, std::string &aError);
    void DetachChunks();
    bool AreChunksAttached() const { return mChunksAttached; }
    /// The copied data of a chunk, or null.
    const std::vector<uint8_t> *GetChunk(uint32_t aChunkId) const;

    // Event data.
    /// Keeps a copy of an event's data for the event ports with its ID and
    /// invalidates what they serve; false when no port has that ID (nothing
    /// changes then).
    bool DeliverEvent(uint64_t aEventId, const uint8_t *aData, uint32_t aLength);
    /// The data of the last event with that ID, or null before the first.
    const std::vector<uint8_t> *GetEventData(uint64_t aEventId) const;

private:
    /// Fails when the map holds kMaxNodes nodes.
    void CheckNodeCount() const;
    friend class DepthGuard;
    void Record(INode &aNode);
    void Propagate(std::vector<INode *> aStart, bool aDropStartCaches);
    void DropDownward(INode &aNode, std::vector<bool> &aVisited);

    mutable std::recursive_mutex mMutex;
    std::vector<std::unique_ptr<INode>> mNodes;
    std::vector<INode *> mOrder;
    std::unordered_map<std::string, INode *> mByName;
    std::vector<std::pair<std::string, std::string>> mAttributes;
    bool mFinalized;
    int mDepth;
    uint64_t mSteps;
    uint64_t mAccessStamp;
    uint64_t mOperation;
    /// The ports bound to a device, whose access BeginOperation watches.
    std::vector<PortNode *> mDevicePorts;
    std::vector<std::string> mWarnings;
    std::unordered_set<std::string> mWarningSet;
    /// Stand-ins for names the description does not define, by name.
    std::unordered_map<std::string, std::unique_ptr<INode>> mMissing;

    std::vector<INode *> mChanged;
    std::vector<bool> mChangedFlags;

    bool mChunksAttached;
    std::map<uint32_t, std::vector<uint8_t>> mChunks;
    std::map<uint64_t, std::vector<uint8_t>> mEvents;
};

template <typename T> void INode::WriteValue(ValueOrRef<T> &aValue, T aNewValue)
{
    if (aValue.mRef.mNode != nullptr)
    {
        DepthGuard lGuard(mMap);
        NumberCalls<T>::Set(*aValue.mRef.mNode, aNewValue);
    }
    else
    {
        aValue.mValue = aNewValue;
        mMap.NodeChanged(*this);
    }
    FinishWrite(aNewValue);
}

template <typename T> void INode::FinishWrite(const T &aNewValue)
{
    for (NodeRef &lCopy : mValueCopies)
    {
        if (lCopy.mNode != nullptr)
        {
            DepthGuard lGuard(mMap);
            NumberCalls<T>::Set(*lCopy.mNode, aNewValue);
        }
    }
    CheckDeviceError();
}

/// Builds and finalizes a node map from GenICam XML; throws GenApiError with
/// TN_GENICAM_XML_ERROR and a description of the fault.
std::unique_ptr<INodeMap> LoadXml(const std::string &aXml);

} // namespace TN_GENAPI_NS

#endif
