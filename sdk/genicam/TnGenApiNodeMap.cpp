// The node map: building, the dependency graph, invalidation and chunk data.
#include <stdio.h>

#include <algorithm>
#include <deque>
#include <unordered_set>

#include "TnGenApi.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

namespace
{
template <typename T> std::unique_ptr<INode> Make(INodeMap &aMap, const std::string &aName)
{
    return std::unique_ptr<INode>(new T(aMap, aName));
}

class PlainNode : public INode
{
public:
    PlainNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Node, aName) {}
};

void Unique(std::vector<INode *> &aNodes)
{
    std::unordered_set<INode *> seen;
    std::vector<INode *> unique;
    for (INode *node : aNodes)
    {
        if (seen.insert(node).second)
        {
            unique.push_back(node);
        }
    }
    aNodes.swap(unique);
}

uint32_t BigEndian32(const uint8_t *aData)
{
    return (uint32_t(aData[0]) << 24) | (uint32_t(aData[1]) << 16) | (uint32_t(aData[2]) << 8) | uint32_t(aData[3]);
}

std::string Hex(uint64_t aValue)
{
    char text[32];
    snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(aValue));
    return text;
}
} // namespace

INodeMap::INodeMap() : mFinalized(false), mDepth(0), mSteps(0), mChunksAttached(false) {}

INodeMap::~INodeMap() = default;

INode *INodeMap::CreateNode(const std::string &aKind, const std::string &aName)
{
    typedef std::unique_ptr<INode> (*Factory)(INodeMap &, const std::string &);
    static const std::pair<const char *, Factory> kKinds[] = {
        {"Node", &Make<PlainNode>},
        {"Category", &Make<CategoryNode>},
        {"Integer", &Make<IntegerNode>},
        {"IntReg", &Make<IntRegNode>},
        {"MaskedIntReg", &Make<MaskedIntRegNode>},
        {"Float", &Make<FloatNode>},
        {"FloatReg", &Make<FloatRegNode>},
        {"Enumeration", &Make<EnumerationNode>},
        {"EnumEntry", &Make<EnumEntryNode>},
        {"Boolean", &Make<BooleanNode>},
        {"Command", &Make<CommandNode>},
        {"String", &Make<StringNode>},
        {"StringReg", &Make<StringRegNode>},
        {"Register", &Make<RegisterNode>},
        {"IntSwissKnife", &Make<IntSwissKnifeNode>},
        {"SwissKnife", &Make<SwissKnifeNode>},
        {"Converter", &Make<ConverterNode>},
        {"IntConverter", &Make<IntConverterNode>},
        {"Port", &Make<PortNode>},
    };
    if (aName.empty())
    {
        FailDefinition("a " + aKind + " node without a Name");
    }
    if (mByName.count(aName) != 0)
    {
        FailDefinition("the description defines the node '" + aName + "' twice");
    }
    Factory factory = nullptr;
    if (!tn::genicam::LookupName(kKinds, aKind, factory))
    {
        FailDefinition("the node '" + aName + "' is of the unknown kind " + aKind);
    }
    std::unique_ptr<INode> node = factory(*this, aName);
    node->mIndex = mOrder.size();
    INode *pointer = node.get();
    mNodes.push_back(std::move(node));
    mOrder.push_back(pointer);
    mByName[aName] = pointer;
    mFinalized = false;
    return pointer;
}

void INodeMap::SetAttribute(const std::string &aName, const std::string &aValue)
{
    mAttributes.emplace_back(aName, aValue);
}

INode *INodeMap::GetNode(const std::string &aName) const
{
    const auto found = mByName.find(aName);
    return found != mByName.end() ? found->second : nullptr;
}

std::vector<PortNode *> INodeMap::GetPorts() const
{
    std::vector<PortNode *> ports;
    for (INode *node : mOrder)
    {
        if (node->GetKind() == NodeKind::Port)
        {
            ports.push_back(static_cast<PortNode *>(node));
        }
    }
    return ports;
}

void INodeMap::Finalize()
{
    // Finalize may run again after more nodes were created: start afresh.
    for (INode *node : mOrder)
    {
        node->mSelectedNodes.clear();
        node->mSelecting.clear();
        node->mDependents.clear();
        node->mReferences.clear();
        node->mCategory = nullptr;
    }
    struct References
    {
        std::vector<NodeRef *> mValues, mInvalidators, mSelected, mFeatures;
    };
    std::vector<References> references(mOrder.size());
    for (INode *node : mOrder)
    {
        References &refs = references[node->mIndex];
        node->CollectAllReferences(refs.mValues, refs.mInvalidators, refs.mSelected, refs.mFeatures);
        for (auto *list : {&refs.mValues, &refs.mInvalidators, &refs.mSelected, &refs.mFeatures})
        {
            for (NodeRef *ref : *list)
            {
                ref->mNode = GetNode(ref->mName);
                if (ref->mNode == nullptr)
                {
                    FailDefinition(node->Describe() + " refers to '" + ref->mName + "', which the description does not define");
                }
            }
        }
    }
    for (INode *node : mOrder)
    {
        node->Validate();
    }
    for (INode *node : mOrder)
    {
        const References &refs = references[node->mIndex];
        for (NodeRef *ref : refs.mValues)
        {
            if (ref->mNode != node)
            {
                ref->mNode->mDependents.push_back(node);
                node->mReferences.push_back(ref->mNode);
            }
        }
        for (NodeRef *ref : refs.mInvalidators)
        {
            if (ref->mNode != node)
            {
                ref->mNode->mDependents.push_back(node);
            }
        }
        for (NodeRef *ref : refs.mSelected)
        {
            node->mSelectedNodes.push_back(ref->mNode);
            ref->mNode->mSelecting.push_back(node);
        }
        for (NodeRef *ref : refs.mFeatures)
        {
            if (ref->mNode->mCategory == nullptr && ref->mNode != node)
            {
                ref->mNode->mCategory = node;
            }
        }
    }
    const auto now = std::chrono::steady_clock::now();
    for (INode *node : mOrder)
    {
        Unique(node->mSelectedNodes);
        Unique(node->mSelecting);
        Unique(node->mDependents);
        Unique(node->mReferences);
        node->mLastInvalidated = now;
    }
    mChangedFlags.assign(mOrder.size(), false);
    mChanged.clear();
    mFinalized = true;
}

void INodeMap::Record(INode &aNode)
{
    if (aNode.mIndex >= mChangedFlags.size())
    {
        mChangedFlags.resize(mOrder.size(), false);
    }
    if (!mChangedFlags[aNode.mIndex])
    {
        mChangedFlags[aNode.mIndex] = true;
        mChanged.push_back(&aNode);
    }
}

std::vector<INode *> INodeMap::TakeChangedNodes()
{
    std::vector<INode *> changed;
    changed.swap(mChanged);
    for (INode *node : changed)
    {
        mChangedFlags[node->mIndex] = false;
    }
    return changed;
}

void INodeMap::DropDownward(INode &aNode, std::vector<bool> &aVisited)
{
    std::vector<INode *> pending{&aNode};
    while (!pending.empty())
    {
        INode *node = pending.back();
        pending.pop_back();
        if (aVisited[node->mIndex])
        {
            continue;
        }
        aVisited[node->mIndex] = true;
        node->DropCache();
        for (INode *reference : node->mReferences)
        {
            if (!aVisited[reference->mIndex])
            {
                pending.push_back(reference);
            }
        }
    }
}

void INodeMap::DropCaches(INode &aNode)
{
    std::vector<bool> visited(mOrder.size(), false);
    DropDownward(aNode, visited);
}

void INodeMap::Propagate(std::vector<INode *> aStart, bool aDropStartCaches)
{
    const auto now = std::chrono::steady_clock::now();
    std::vector<bool> queued(mOrder.size(), false);
    std::vector<bool> dropped(mOrder.size(), false);
    std::deque<INode *> queue;
    for (INode *node : aStart)
    {
        if (!queued[node->mIndex])
        {
            queued[node->mIndex] = true;
            queue.push_back(node);
            if (aDropStartCaches)
            {
                DropDownward(*node, dropped);
            }
        }
    }
    const size_t startCount = queue.size();
    size_t position = 0;
    while (!queue.empty())
    {
        INode *node = queue.front();
        queue.pop_front();
        // Nodes that depend on a changed one hold stale cached values.
        if (position++ >= startCount)
        {
            node->DropCache();
        }
        node->mLastInvalidated = now;
        Record(*node);
        for (INode *dependent : node->mDependents)
        {
            if (!queued[dependent->mIndex])
            {
                queued[dependent->mIndex] = true;
                queue.push_back(dependent);
            }
        }
        // A selector switches what its selected features show.
        for (INode *selected : node->mSelectedNodes)
        {
            DropDownward(*selected, dropped);
            if (!queued[selected->mIndex])
            {
                queued[selected->mIndex] = true;
                queue.push_back(selected);
            }
        }
    }
}

void INodeMap::NodeChanged(INode &aNode)
{
    Propagate({&aNode}, false);
}

void INodeMap::InvalidateNode(INode &aNode)
{
    Propagate({&aNode}, true);
}

void INodeMap::InvalidateAll()
{
    const auto now = std::chrono::steady_clock::now();
    for (INode *node : mOrder)
    {
        node->DropCache();
        if (node->GetKind() == NodeKind::Port)
        {
            static_cast<PortNode *>(node)->ClearCache();
        }
        node->mLastInvalidated = now;
        Record(*node);
    }
}

void INodeMap::Poll()
{
    const auto now = std::chrono::steady_clock::now();
    std::vector<INode *> due;
    for (INode *node : mOrder)
    {
        if (node->mPollingTime >= 0 && now - node->mLastInvalidated >= std::chrono::milliseconds(node->mPollingTime))
        {
            due.push_back(node);
        }
    }
    if (!due.empty())
    {
        Propagate(due, true);
    }
}

uint32_t INodeMap::AttachChunks(const uint8_t *aData, uint32_t aLength, std::string &aError)
{
    if (aData == nullptr || aLength == 0)
    {
        aError = "no chunk data given";
        return TN_INVALID_PARAMETER;
    }
    // Each chunk's data is followed by its tag (ID, length, big-endian), so
    // the layout is read from the end.
    struct Chunk
    {
        uint32_t mId;
        size_t mOffset;
        size_t mLength;
    };
    std::vector<Chunk> chunks;
    size_t position = aLength;
    uint32_t code = TN_OK;
    while (position > 0)
    {
        if (position < 8)
        {
            aError = "the chunk layout leaves " + std::to_string(position) + " bytes without a tag at its start";
            code = TN_INVALID_DATA_FORMAT;
            break;
        }
        const uint32_t id = BigEndian32(aData + position - 8);
        const uint32_t length = BigEndian32(aData + position - 4);
        if (length > position - 8)
        {
            aError = "chunk " + Hex(id) + " claims " + std::to_string(length) + " bytes, but only " +
                     std::to_string(position - 8) + " precede its tag";
            code = TN_INVALID_DATA_FORMAT;
            break;
        }
        position -= 8 + length;
        chunks.push_back(Chunk{id, position, length});
    }
    std::map<uint32_t, std::vector<uint8_t>> copies;
    if (code == TN_OK)
    {
        // Copy what chunk ports read, so the caller's memory is not needed
        // after this call; of several chunks with one ID the last one wins.
        for (PortNode *port : GetPorts())
        {
            if (!port->IsChunkPort() || copies.count(port->GetChunkId()) != 0)
            {
                continue;
            }
            for (const Chunk &chunk : chunks)
            {
                if (chunk.mId == port->GetChunkId())
                {
                    copies[chunk.mId].assign(aData + chunk.mOffset, aData + chunk.mOffset + chunk.mLength);
                    break;
                }
            }
        }
    }
    mChunks.swap(copies);
    mChunksAttached = code == TN_OK;
    std::vector<INode *> chunkPorts;
    for (PortNode *port : GetPorts())
    {
        if (port->IsChunkPort())
        {
            chunkPorts.push_back(port);
        }
    }
    Propagate(chunkPorts, true);
    return code;
}

void INodeMap::DetachChunks()
{
    if (!mChunksAttached)
    {
        return;
    }
    mChunks.clear();
    mChunksAttached = false;
    std::vector<INode *> chunkPorts;
    for (PortNode *port : GetPorts())
    {
        if (port->IsChunkPort())
        {
            chunkPorts.push_back(port);
        }
    }
    Propagate(chunkPorts, true);
}

const std::vector<uint8_t> *INodeMap::GetChunk(uint32_t aChunkId) const
{
    if (!mChunksAttached)
    {
        return nullptr;
    }
    const auto found = mChunks.find(aChunkId);
    return found != mChunks.end() ? &found->second : nullptr;
}

std::vector<INode *> INodeMap::DeliverEvent(uint64_t aEventId, const uint8_t *aData, size_t aLength)
{
    std::vector<INode *> eventPorts;
    for (PortNode *port : GetPorts())
    {
        if (port->IsEventPort() && port->GetEventId() == aEventId)
        {
            eventPorts.push_back(port);
        }
    }
    if (eventPorts.empty())
    {
        return {};
    }
    mEvents[aEventId].assign(aData, aData + aLength);
    Propagate(eventPorts, true);
    // Everything that reads the event's data, in node-map order.
    std::vector<bool> reached(mOrder.size(), false);
    std::deque<INode *> queue(eventPorts.begin(), eventPorts.end());
    while (!queue.empty())
    {
        INode *node = queue.front();
        queue.pop_front();
        for (INode *dependent : node->GetDependents())
        {
            if (!reached[dependent->GetIndex()])
            {
                reached[dependent->GetIndex()] = true;
                queue.push_back(dependent);
            }
        }
    }
    std::vector<INode *> features;
    for (INode *node : mOrder)
    {
        if (reached[node->GetIndex()])
        {
            features.push_back(node);
        }
    }
    return features;
}

const std::vector<uint8_t> *INodeMap::GetEventData(uint64_t aEventId) const
{
    const auto found = mEvents.find(aEventId);
    return found != mEvents.end() ? &found->second : nullptr;
}

} // namespace TN_GENAPI_NS
